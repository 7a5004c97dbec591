// Uncompressed DIB layouts inside the frame decoder: a parsed format
// (size, orientation, depth, colour table or masks), and the row
// conversions between any two of them. Colours travel between formats as
// 0x00RRGGBB; channels narrower than 8 bits are widened by repeating their
// bits, as the platform's blits and ffmpeg's converters do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/base/wintypes.h"

namespace lum::platform::vfw {

struct DibLayout {
    int width = 0;
    int height = 0; // rows, always positive
    bool top_down = false;
    int bits = 0;                // 1, 4, 8, 16, 24 or 32
    DWORD compression = BI_RGB;  // BI_RGB or BI_BITFIELDS for the pixels
    std::uint32_t masks[3] = {}; // red, green, blue for 16 and 32 bits
    std::vector<RGBQUAD> colors; // colour table for 8 bits or less
    std::size_t stride = 0;      // bytes a row, padded to 4
    std::size_t image = 0;       // stride * height

    bool Indexed() const { return bits <= 8; }
    // Byte offset of row Y counted from the top of the picture.
    std::size_t RowOffset(int y) const {
        return static_cast<std::size_t>(top_down ? y : height - 1 - y) * stride;
    }
    // Same pixel format (depth, masks, colour count and colours); sizes
    // and orientation aside.
    bool SamePixels(const DibLayout& o) const;
};

// Bytes a row of Width pixels at Bits per pixel, padded to 4.
std::size_t DibStride(int width, int bits);

// Parses a format block (BITMAPINFOHEADER or larger, colour table or masks
// behind it). Compression is reported in Compression and must be checked by
// the caller: RLE formats are parsed as their 8- or 4-bit index layout.
// False for formats no layout describes (bad depth, sizes out of range).
bool ParseFormat(const std::uint8_t* format, std::size_t size, DibLayout& out,
                 DWORD* compression = nullptr);

// The layout of an output request: uncompressed 16, 24 or 32 bits (masks
// read behind the header for BI_BITFIELDS), or an indexed depth when the
// source is indexed (its colours are kept). Zero width or height take the
// source's. False when the request cannot be produced from Source.
bool OutputLayout(const BITMAPINFOHEADER& wanted, const std::uint8_t* masks,
                  const DibLayout& source, DibLayout& out);

// The 24-bit bottom-up layout of a picture.
DibLayout Rgb24Layout(int width, int height);

// Header and colour table (or masks) of a packed DIB in Layout: the bytes
// that precede the pixels.
std::vector<std::uint8_t> PackedHeader(const DibLayout& layout);

// Copies a whole picture between two layouts of the same size. Indexed to
// indexed keeps the indices; anything else goes through colours. Indexed
// destinations need an indexed source.
void ConvertPicture(const DibLayout& src, const std::uint8_t* src_bits, const DibLayout& dst,
                    std::uint8_t* dst_bits);

} // namespace lum::platform::vfw
