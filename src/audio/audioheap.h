// Global-heap blocks for the wave layers, which must not raise: a refusal
// gives null instead of the out-of-memory error of GlobalAllocMem. The
// blocks are the same as those of GlobalAllocMem, so callers free them with
// GlobalFreeMem and ask their size with GlobalMemSize. Internal to audio/.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/base/globalmem.h"

namespace lum::audio_detail {

// Zero-filled, or null.
inline void* HeapAlloc(std::size_t bytes) {
    return platform::GlobalLock(platform::GlobalAlloc(platform::GPTR, bytes));
}

template <class T>
void HeapFree(T*& p) {
    if (p != nullptr) platform::GlobalFree(platform::GlobalHandle(p));
    p = nullptr;
}

inline std::size_t HeapSize(const void* p) {
    return p ? platform::GlobalSize(platform::GlobalHandle(p)) : 0;
}

// A zero-terminated global-heap copy of Text, or null.
inline char* HeapString(const char* text, std::size_t length) {
    auto* s = static_cast<char*>(HeapAlloc(length + 1));
    if (s != nullptr && length) std::memcpy(s, text, length);
    return s;
}

} // namespace lum::audio_detail
