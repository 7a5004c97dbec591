// Run-length decoding of RLE8 and RLE4 bitmap data into one palette index
// a byte. The drawing service uses it to read RLE DIBs, the frame decoder
// to turn RLE frames into plain ones. Pixels the data does not reach keep
// what the buffer held, so a delta frame decoded over the previous one
// carries that frame's pixels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lum::platform {

// Decodes Size bytes of Data onto a Width x Height index image. Bottom is
// the first byte of the image's bottom row (RLE data starts there) and
// Up the distance in bytes from one row to the row above it, so the image
// may lie top-down (Up negative) or bottom-up in memory. The walk stops at
// the end-of-bitmap code, at the end of the data or above the top row; it
// never reads past Size bytes and never writes outside the image. Returns
// true when the end-of-bitmap code was reached.
bool DecodeRle(const std::uint8_t* data, std::size_t size, bool rle8, int width, int height,
               std::uint8_t* bottom, std::ptrdiff_t up);

} // namespace lum::platform
