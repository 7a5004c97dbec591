// Pictures the fuzz targets leave out: the readers accept up to 2^28 pixels,
// and such a picture may rightly come from a few bytes of RLE data, but it
// takes seconds to decode under the sanitizers. Leaving them out keeps each
// run to many inputs a second; the refusal of larger pictures is covered by
// the damaged-file tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace lum::fuzz {

constexpr std::int64_t kMaxFuzzPixels = std::int64_t{1} << 22;

inline bool TooLargeToFuzz(std::int64_t width, std::int64_t height) {
    return std::llabs(width) * std::llabs(height) > kMaxFuzzPixels;
}

// The size a BMP file or packed DIB claims in its header (core or info).
inline bool BmpTooLargeToFuzz(const std::uint8_t* data, std::size_t size) {
    std::size_t at = size >= 2 && data[0] == 'B' && data[1] == 'M' ? 14 : 0;
    if (size < at + 12) return false;
    std::uint32_t header;
    std::memcpy(&header, data + at, 4);
    if (header == 12) {
        std::uint16_t w, h;
        std::memcpy(&w, data + at + 4, 2);
        std::memcpy(&h, data + at + 6, 2);
        return TooLargeToFuzz(w, h);
    }
    std::int32_t w, h;
    std::memcpy(&w, data + at + 4, 4);
    std::memcpy(&h, data + at + 8, 4);
    return TooLargeToFuzz(w, h);
}

} // namespace lum::fuzz
