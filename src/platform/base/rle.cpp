#include "platform/base/rle.h"

namespace lum::platform {

bool DecodeRle(const std::uint8_t* p, std::size_t size, bool rle8, int width, int height,
               std::uint8_t* bottom, std::ptrdiff_t up) {
    if (p == nullptr || bottom == nullptr || width <= 0 || height <= 0) return false;
    const std::uint8_t* end = p + size;
    long x = 0, row = 0;
    auto put = [&](std::uint8_t index) {
        if (x >= 0 && x < width && row < height) bottom[row * up + x] = index;
        ++x;
    };
    while (end - p >= 2 && row < height) {
        const std::uint8_t a = *p++, b = *p++;
        if (a > 0) {
            for (int i = 0; i < a; ++i)
                put(rle8 ? b : static_cast<std::uint8_t>((i & 1) ? (b & 0x0F) : (b >> 4)));
        } else if (b == 0) {
            x = 0;
            ++row;
        } else if (b == 1) {
            return true;
        } else if (b == 2) {
            if (end - p < 2) break;
            x += p[0];
            row += p[1];
            p += 2;
        } else {
            const std::size_t bytes = rle8 ? b : (b + 1u) / 2;
            if (static_cast<std::size_t>(end - p) < bytes) break;
            for (int i = 0; i < b; ++i)
                put(rle8
                        ? p[i]
                        : static_cast<std::uint8_t>((i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4)));
            // Absolute runs are padded to a 16-bit boundary.
            p += bytes + (bytes & 1);
            if (p > end) p = end;
        }
    }
    return false;
}

} // namespace lum::platform
