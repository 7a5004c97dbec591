// Searching and sorting arrays of fixed-width elements through a comparison
// callback, for records whose type the caller knows only by size. The
// callback gets two element pointers (the key first where there is one) and
// returns a negative number, zero or a positive number. The routines keep no
// state between calls, so they may be nested and run on several threads.
#pragma once

#include <cstddef>
#include <functional>

namespace lum {

using TLumCompare = std::function<int(const void* a, const void* b)>;

// Binary search of a sorted array: the matching element or null.
void* bsearch(const void* key, void* base, std::size_t count, std::size_t width,
              const TLumCompare& compare);
// In-place quicksort: median-of-three pivot, three-way partition, recursion
// into the smaller part; two or three elements are exchanged directly.
// Width 0 does nothing.
void qsort(void* base, std::size_t count, std::size_t width, const TLumCompare& compare);
// Linear search: the first matching element or null.
void* lfind(const void* key, void* base, std::size_t count, std::size_t width,
            const TLumCompare& compare);
// As lfind, but an absent Key is appended at the end (the caller provides
// the room) and Count grows by one; returns the found or appended element.
void* lsearch(const void* key, void* base, std::size_t& count, std::size_t width,
              const TLumCompare& compare);

} // namespace lum
