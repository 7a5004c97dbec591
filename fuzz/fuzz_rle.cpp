// Fuzzes the shared RLE8/RLE4 decoder. The first bytes choose the image:
// depth, width and height (up to 255 a side) and orientation; the rest is
// the RLE data. The image is surrounded by guard bytes that must stay as
// they were: the decoder may never write outside the image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/base/rle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const bool rle8 = (data[0] & 1) != 0;
    const bool top_down = (data[0] & 2) != 0;
    const int width = data[1];
    const int height = data[2];
    const std::size_t guard = 64;
    const std::size_t image = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<std::uint8_t> buffer(image + 2 * guard, 0xA5);
    std::uint8_t* first = buffer.data() + guard;
    std::uint8_t* bottom = top_down ? first + (height ? (height - 1) * width : 0) : first;
    const std::ptrdiff_t up = top_down ? -width : width;
    lum::platform::DecodeRle(data + 3, size - 3, rle8, width, height, bottom, up);
    for (std::size_t i = 0; i < guard; ++i)
        if (buffer[i] != 0xA5 || buffer[guard + image + i] != 0xA5) std::abort();
    return 0;
}
