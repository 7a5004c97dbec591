#include "core/lumsearch.h"

#include <cstring>
#include <utility>
#include <vector>

namespace lum {
namespace {

// One sort: the element width and comparison travel with it, so sorts can
// nest. The pivot is copied out, because partitioning moves its element.
class Sorter {
public:
    Sorter(std::size_t width, const TLumCompare& compare)
        : width_(width), compare_(compare), pivot_(width) {}

    void Sort(unsigned char* lo, std::size_t n) {
        // Loop on the larger part, recurse into the smaller: the stack
        // depth stays logarithmic whatever the data.
        while (n > 3) {
            unsigned char* mid = lo + (n / 2) * width_;
            unsigned char* hi = lo + (n - 1) * width_;
            Order3(lo, mid, hi);
            std::memcpy(pivot_.data(), mid, width_);
            // Three-way partition: [lo, lt) < pivot, [lt, i) == pivot,
            // (gt, end) > pivot.
            std::size_t lt = 0, i = 0, gt = n;
            while (i < gt) {
                int c = compare_(At(lo, i), pivot_.data());
                if (c < 0)
                    Swap(At(lo, lt++), At(lo, i++));
                else if (c > 0)
                    Swap(At(lo, i), At(lo, --gt));
                else
                    ++i;
            }
            std::size_t left = lt, right = n - gt;
            if (left < right) {
                Sort(lo, left);
                lo = At(lo, gt);
                n = right;
            } else {
                Sort(At(lo, gt), right);
                n = left;
            }
        }
        if (n == 2) {
            if (compare_(lo, lo + width_) > 0) Swap(lo, lo + width_);
        } else if (n == 3) {
            Order3(lo, lo + width_, lo + 2 * width_);
        }
    }

private:
    unsigned char* At(unsigned char* base, std::size_t i) const { return base + i * width_; }

    void Swap(unsigned char* a, unsigned char* b) const {
        if (a == b) return;
        for (std::size_t k = 0; k < width_; ++k)
            std::swap(a[k], b[k]);
    }

    void Order3(unsigned char* a, unsigned char* b, unsigned char* c) const {
        if (compare_(a, b) > 0) Swap(a, b);
        if (compare_(b, c) > 0) {
            Swap(b, c);
            if (compare_(a, b) > 0) Swap(a, b);
        }
    }

    std::size_t width_;
    const TLumCompare& compare_;
    std::vector<unsigned char> pivot_;
};

} // namespace

void* bsearch(const void* key, void* base, std::size_t count, std::size_t width,
              const TLumCompare& compare) {
    auto* p = static_cast<unsigned char*>(base);
    std::size_t lo = 0, hi = count;
    while (lo < hi) {
        std::size_t mid = lo + (hi - lo) / 2;
        int c = compare(key, p + mid * width);
        if (c == 0) return p + mid * width;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
}

void qsort(void* base, std::size_t count, std::size_t width, const TLumCompare& compare) {
    if (width == 0 || count < 2 || base == nullptr) return;
    Sorter(width, compare).Sort(static_cast<unsigned char*>(base), count);
}

void* lfind(const void* key, void* base, std::size_t count, std::size_t width,
            const TLumCompare& compare) {
    auto* p = static_cast<unsigned char*>(base);
    for (std::size_t i = 0; i < count; ++i) {
        if (compare(key, p + i * width) == 0) return p + i * width;
    }
    return nullptr;
}

void* lsearch(const void* key, void* base, std::size_t& count, std::size_t width,
              const TLumCompare& compare) {
    if (void* found = lfind(key, base, count, width, compare)) return found;
    auto* slot = static_cast<unsigned char*>(base) + count * width;
    std::memmove(slot, key, width);
    ++count;
    return slot;
}

} // namespace lum
