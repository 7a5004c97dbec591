// Bitmap drawing helpers of Lumutils: sizes and transparent colours of
// bitmaps, transparent and tiled blits, gradient and solid fills, glyph
// recolouring and aligned text. They draw through the drawing service.
#pragma once

#include <string>

#include "core/lumobj.h"
#include "platform/gdi/canvas.h"
#include "platform/gdi/gdi.h"

namespace lum {

using platform::gdi::HBITMAP;
using platform::gdi::HDC;

void GetBitmapSize(HBITMAP bitmap, int& width, int& height);
// The pixel at Point, each coordinate clamped into the bitmap first.
TColor GetTransparentColorEx(HBITMAP bitmap, TPoint point);
// The bottom-left pixel.
TColor GetTransparentColor(HBITMAP bitmap);

// Draws the Source part of Bitmap at (X, Y); pixels of TransparentColor
// leave the destination visible. The bitmap is left as it was.
void DrawTransparentBitmapEx(HDC dc, HBITMAP bitmap, int x, int y, TRect source,
                             TColor transparent_color);
void DrawTransparentBitmap(HDC dc, HBITMAP bitmap, int x, int y, TColor transparent_color);

// Repeats the bitmap over Rect, clipping the last row and column.
void TileBlt(HDC dc, HBITMAP bitmap, TRect rect, platform::DWORD raster_op);

// Steps vertical bands from Rect's left to its right, running each channel
// from Color1 to Color2.
void FillGradient(HDC dc, TColor color1, TColor color2, int steps, TRect rect);
void FillSolid(HDC dc, TColor color, TRect rect);

// Which glyph colours ChangeColors replaces.
enum TLumChangeColorFlags : int {
    ccWhite = 1, // white pixels become Color1
    ccBlack = 2, // black pixels become Color2
    ccGray = 4,  // light-grey (0xC0C0C0) pixels become Color3
    ccAll = 7,
};
// Recolours the white, black and light-grey pixels of a glyph bitmap, the
// colours chosen by Flag, through one-bit masks of the original pixels (so
// a pixel recoloured into another key colour is not recoloured again).
void ChangeColors(HBITMAP bitmap, int flag, TColor color1, TColor color2, TColor color3);

// Text in a new font of the given height and face. Alignment 0: starts at X,
// centred vertically on Y; 1: ends at X, centred vertically on Y; 2: rotated
// by 90 degrees, running upwards from Y plus the text width, centred
// horizontally on X.
void TextOutAligned(platform::gdi::TCanvas& canvas, int x, int y, int alignment, int height,
                    const std::string& font_name, const std::string& text);

} // namespace lum
