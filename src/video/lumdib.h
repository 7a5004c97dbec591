// Packed device-independent bitmaps: a BITMAPINFOHEADER, its colour table
// (or three bit-field masks) and the pixel rows in one global-heap block.
// Free functions over such blocks: header queries, creation, reading BMP
// files and the program's bitmap resources, conversion to and from display
// bitmaps, palettes, and RIFF "PAL " palette files.
//
// None of these functions raises: failures give null, 0 or false. A new
// DIB or palette record belongs to the caller, who frees it with DIB_Free.
// The unit keeps no state.
#pragma once

#include <cstdint>
#include <string>

#include "platform/base/bytestream.h"
#include "platform/base/globalmem.h"
#include "platform/base/wintypes.h"
#include "platform/gdi/gditypes.h"

namespace lum {

using TBitmapInfoHeader = platform::BITMAPINFOHEADER;
using PBitmapInfoHeader = platform::BITMAPINFOHEADER*;
using TLogPalette = platform::LOGPALETTE;
using PLogPalette = platform::LOGPALETTE*;
using platform::HGLOBAL;
using platform::gdi::HBITMAP;
using platform::gdi::HDC;
using platform::gdi::HPALETTE;

// Header queries. Each reads the header at Dib.
bool IsWinDIB(const TBitmapInfoHeader* dib);
std::int32_t DIB_Width(const TBitmapInfoHeader* dib);
std::int32_t DIB_Height(const TBitmapInfoHeader* dib);
std::uint32_t DIB_Compression(const TBitmapInfoHeader* dib);
// biBitCount; the core header's bcBitCount when biSize is not 40.
std::uint16_t DIB_BitCount(const TBitmapInfoHeader* dib);
// biClrUsed, else 2^biBitCount up to 8 bits, else 0.
std::uint32_t DIB_NumColors(const TBitmapInfoHeader* dib);
std::uint32_t DIB_PaletteSize(const TBitmapInfoHeader* dib);
std::uint32_t DIB_BISize(const TBitmapInfoHeader* dib);
std::uint32_t DIB_WidthBytesN(const TBitmapInfoHeader* dib, int bits);
std::uint32_t DIB_WidthBytes(const TBitmapInfoHeader* dib);
std::uint32_t DIB_SizeImage(const TBitmapInfoHeader* dib);
// biSize + biSizeImage + 4 x biClrUsed, as stored.
std::uint32_t DIB_Size(const TBitmapInfoHeader* dib);
void* DIB_Colors(const TBitmapInfoHeader* dib);
// The pixels: behind three masks for bit fields, else behind biClrUsed colours.
void* DIB_Ptr(const TBitmapInfoHeader* dib);
std::int32_t DIB_FlipY(const TBitmapInfoHeader* dib, std::int32_t y);
// Pixel (X, Y) of Bits at N bits per pixel; Y counts stored rows.
void* DIB_XYN(const TBitmapInfoHeader* dib, void* bits, std::int32_t x, std::int32_t y, int n);
void* DIB_XY(const TBitmapInfoHeader* dib, std::int32_t x, std::int32_t y);
void DIB_Info(const TBitmapInfoHeader* dib);

// Global-heap blocks of DIBs and palette records.
void DIB_Free(void* dib);
HGLOBAL HandleFrom_DIB(const void* dib);
PBitmapInfoHeader DIB_FromHandle(HGLOBAL handle);

// A zero-filled DIB: depths above 8 other than 24 become 24; Orientation 1
// is bottom-up, -1 top-down; 4 and 8 bits get the 16 standard colours.
PBitmapInfoHeader DIB_Create(int bits, int orientation, int width, int height, bool with_bits);

// Reads a BMP's headers and colour table at Position of File (with or
// without the 14-byte file header, 12-byte core headers widened to 40), and
// leaves Position at the pixels. Larger headers are read as 40 bytes (bit
// field masks kept) and the rest skipped. Null for an invalid file, a short
// read or a failed allocation.
PBitmapInfoHeader DIB_ReadBitmapInfo(platform::ByteStream* file, std::int64_t& position);
// A BMP file, or the program's bitmap resource of that name (read-only:
// never free it). A file that holds fewer pixel bytes than its header
// claims keeps the rows it has (the height shrinks to them).
PBitmapInfoHeader DIB_OpenFile(const std::string& name);

// Copies a display bitmap into a new DIB of Bits per pixel.
PBitmapInfoHeader DIB_BitmapToDIB(HBITMAP bitmap, HPALETTE palette, int bits, int orientation);
// A display bitmap and the DIB's palette (null for none); both belong to
// the caller. The bitmap is null when it cannot be made.
void DIB_DIBToBitmap(const TBitmapInfoHeader* dib, HBITMAP& bitmap, HPALETTE& palette);
HPALETTE DIB_CreatePalette(const TBitmapInfoHeader* dib);
void DIB_Display(const TBitmapInfoHeader* dib, HDC dc, const platform::RECT& rect);
bool DIB_SetUsage(TBitmapInfoHeader* dib, HPALETTE palette, unsigned usage);
// Recolours an 8-bit, a 4-bit (for palettes of at most 16 colours) or an
// RLE8 DIB to index Palette; Dib may be replaced by a resized block. Other
// DIBs are left as they are.
void DIB_MapToPalette(PBitmapInfoHeader& dib, HPALETTE palette);

// RIFF "PAL " palette files. LoadPalette's record belongs to the caller.
PLogPalette LoadPalette(const std::string& file_name);
bool SavePalette(const std::string& file_name, const TLogPalette* palette);
void ClearSystemPalette();
// A new 256-entry record with the 20 static colours.
PLogPalette CreateSystemColorPalette();

} // namespace lum
