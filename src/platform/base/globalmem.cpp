#include "platform/base/globalmem.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace lum::platform {
namespace {

// Each block is preceded by a header that records its size; the magic word
// lets the size and handle queries refuse memory that is not ours.
struct alignas(16) Header {
    std::uint64_t magic;
    std::size_t size;
};
constexpr std::uint64_t kLive = 0x4C554D424C4B4C56ull; // "LUMBLKLV"
constexpr std::uint64_t kFreed = 0x4C554D424C4B4644ull;

Header* HeaderOf(const void* p) {
    if (p == nullptr) return nullptr;
    auto* h = reinterpret_cast<Header*>(const_cast<char*>(static_cast<const char*>(p)) -
                                        sizeof(Header));
    return h->magic == kLive ? h : nullptr;
}

} // namespace

HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes) {
    if (bytes > SIZE_MAX - sizeof(Header)) return nullptr;
    void* raw = (flags & GMEM_ZEROINIT) ? std::calloc(1, sizeof(Header) + bytes)
                                        : std::malloc(sizeof(Header) + bytes);
    if (raw == nullptr) return nullptr;
    auto* h = static_cast<Header*>(raw);
    h->magic = kLive;
    h->size = bytes;
    return h + 1;
}

HGLOBAL GlobalReAlloc(HGLOBAL block, std::size_t bytes, UINT flags) {
    if (block == nullptr) return GlobalAlloc(flags, bytes);
    Header* h = HeaderOf(block);
    if (h == nullptr || bytes > SIZE_MAX - sizeof(Header)) return nullptr;
    std::size_t old = h->size;
    void* raw = std::realloc(h, sizeof(Header) + bytes);
    if (raw == nullptr) return nullptr;
    h = static_cast<Header*>(raw);
    h->size = bytes;
    if ((flags & GMEM_ZEROINIT) && bytes > old)
        std::memset(reinterpret_cast<char*>(h + 1) + old, 0, bytes - old);
    return h + 1;
}

HGLOBAL GlobalFree(HGLOBAL block) {
    if (block == nullptr) return nullptr;
    Header* h = HeaderOf(block);
    if (h == nullptr) return block;
    h->magic = kFreed;
    std::free(h);
    return nullptr;
}

void* GlobalLock(HGLOBAL block) { return HeaderOf(block) ? block : nullptr; }

bool GlobalUnlock(HGLOBAL block) { return HeaderOf(block) != nullptr; }

std::size_t GlobalSize(HGLOBAL block) {
    Header* h = HeaderOf(block);
    return h ? h->size : 0;
}

HGLOBAL GlobalHandle(const void* pointer) {
    return HeaderOf(pointer) ? const_cast<void*>(pointer) : nullptr;
}

} // namespace lum::platform
