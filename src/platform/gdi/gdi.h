// The drawing service: device contexts, bitmaps, palettes, pens, brushes,
// fonts and the blits, shapes and text drawn with them, over QImage memory.
//
// The display is 32-bit RGB. Device-dependent bitmaps are 32-bit images;
// DIB sections keep the caller's format (1 to 32 bits) in memory the caller
// may write directly. Raster operations work on the destination's own pixel
// values (palette indices for indexed surfaces), as the platform does.
// Palettes are kept as records: selecting and realising them changes no
// colour on this display, but DIB_PAL_COLORS tables index the selected one.
// Calls that fail return 0, null or FALSE and change nothing; stale and
// foreign handles are refused. All coordinates are logical: device
// coordinates minus the viewport origin.
#pragma once

#include <string>
#include <string_view>

#include "platform/gdi/gditypes.h"

namespace lum::platform::gdi {

// --- Device contexts ---

// A context of a window (or of the screen for null). This service has no
// window surfaces of its own: drawing on it succeeds and shows nothing, but
// it answers the display's capabilities and carries a palette and objects.
HDC GetDC(const void* window);
int ReleaseDC(const void* window, HDC dc);
// A memory context holding a 1x1 monochrome bitmap until another is selected.
HDC CreateCompatibleDC(HDC dc);
// A context drawing straight into a packed DIB's pixels. Header and colour
// table are read from Info at every call, so both must outlive the context.
// Uncompressed 1, 4, 8, 16, 24 and 32 bits, bottom-up or top-down.
HDC CreateDIBDC(const BITMAPINFO* info, void* bits);
BOOL DeleteDC(HDC dc);

int GetDeviceCaps(HDC dc, int index);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
HGDIOBJ GetCurrentObject(HDC dc, UINT type);
HGDIOBJ GetStockObject(int index);
// Fails for stock objects, objects selected into a context, and unknown handles.
BOOL DeleteObject(HGDIOBJ object);
UINT GetObjectType(HGDIOBJ object);
// Bitmaps fill BITMAP (or DIBSECTION for a section when Size allows), pens
// LOGPEN, brushes LOGBRUSH, fonts LOGFONT, palettes a WORD entry count.
// Returns the bytes written, 0 on failure.
int GetObject(HGDIOBJ object, int size, void* out);
BOOL GdiFlush();

COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF GetTextColor(HDC dc);
COLORREF SetBkColor(HDC dc, COLORREF color);
COLORREF GetBkColor(HDC dc);
int SetBkMode(HDC dc, int mode);
int GetBkMode(HDC dc);
int SetROP2(HDC dc, int mode);
int GetROP2(HDC dc);
int SetStretchBltMode(HDC dc, int mode);
int GetStretchBltMode(HDC dc);
UINT SetTextAlign(HDC dc, UINT align);
UINT GetTextAlign(HDC dc);
BOOL SetViewportOrgEx(HDC dc, int x, int y, POINT* old);
BOOL GetViewportOrgEx(HDC dc, POINT* origin);

// Clipping is one rectangle in device coordinates, kept by the context.
HRGN CreateRectRgn(int left, int top, int right, int bottom);
HRGN CreateRectRgnIndirect(const RECT* rect);
// Null removes clipping; the region is copied.
int SelectClipRgn(HDC dc, HRGN region);
int IntersectClipRect(HDC dc, int left, int top, int right, int bottom);
int GetClipBox(HDC dc, RECT* rect);

// --- Pens, brushes and system colours ---

HPEN CreatePen(int style, int width, COLORREF color);
HPEN CreatePenIndirect(const LOGPEN* pen);
HBRUSH CreateSolidBrush(COLORREF color);
HBRUSH CreateBrushIndirect(const LOGBRUSH* brush);

// The system colours of a light desktop theme; the values are listed in
// syscolors.cpp. An unknown index gives 0.
DWORD GetSysColor(int index);
// A solid brush of a system colour, owned by the service (never deleted).
HBRUSH GetSysColorBrush(int index);

// --- Lines and shapes ---
// Lines exclude their last point; shapes are drawn inside the rectangle
// from left/top up to but excluding right/bottom. Pens wider than one
// pixel are drawn solid; the mix mode (SetROP2) applies to pens and brushes.

BOOL MoveToEx(HDC dc, int x, int y, POINT* old);
BOOL GetCurrentPositionEx(HDC dc, POINT* pos);
BOOL LineTo(HDC dc, int x, int y);
BOOL Polyline(HDC dc, const POINT* points, int count);
BOOL Polygon(HDC dc, const POINT* points, int count);
BOOL Rectangle(HDC dc, int left, int top, int right, int bottom);
BOOL Ellipse(HDC dc, int left, int top, int right, int bottom);
// The wedge of the ellipse from the radial through (x1, y1) counter-
// clockwise to the radial through (x2, y2); equal radials give the whole.
BOOL Pie(HDC dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
BOOL Arc(HDC dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
// Brush may also be a system colour index + 1, as on the platform; a null
// brush fills nothing.
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
int FrameRect(HDC dc, const RECT* rect, HBRUSH brush);
BOOL InvertRect(HDC dc, const RECT* rect);
// The focus frame: every other pixel of the rectangle's edge inverted, so
// that drawing it twice removes it.
BOOL DrawFocusRect(HDC dc, const RECT* rect);
BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop);
COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);
// CLR_INVALID outside the surface or clip.
COLORREF GetPixel(HDC dc, int x, int y);

// --- Blits ---
// Mono bitmaps take part as on the platform: a colour source becomes white
// where it has the source context's background colour, black elsewhere; a
// mono source paints its black as the destination's text colour and its
// white as the destination's background colour.
//
// Stretching maps destination column x (counted from the rectangle's left)
// to source column floor(x * srcWidth / dstWidth), rows likewise. With
// COLORONCOLOR that one pixel is copied unchanged; BLACKONWHITE ANDs and
// WHITEONBLACK ORs all source pixels that map to one destination pixel;
// HALFTONE averages them. A negative width or height mirrors. Destination
// pixels whose source lies outside the source surface are left unchanged.

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop);
BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                int srcWidth, int srcHeight, DWORD rop);
// Source rows of a bottom-up DIB are counted from its bottom, as on the
// platform. Returns the number of source scan lines drawn, 0 on failure.
int StretchDIBits(HDC dc, int x, int y, int width, int height, int srcX, int srcY, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop);

// --- Bitmaps ---
// Packed DIB formats read: 1, 4, 8 bits with a colour table (RGB or, with
// DIB_PAL_COLORS, indices into the context's palette), 16 bits (5-5-5 or
// bit fields), 24, 32 bits (or bit fields), RLE8 and RLE4 (bottom-up, with
// biSizeImage). 40-byte and larger headers, and the 12-byte core header.
// Images are limited to 65535 pixels a side and 2^28 pixels in all.

// Bits per pixel 1 (monochrome) or 32; initial rows top-down, each padded
// to 16 bits as the platform's device bitmaps are.
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
// 32 bits, or monochrome when the context holds a monochrome bitmap.
// Zero-filled.
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
// A display bitmap of the header's size; with CBM_INIT filled from Bits in
// the format of Info.
HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                       const BITMAPINFO* info, UINT usage);
// A bitmap in an uncompressed DIB format whose zero-filled pixels the caller
// reaches through *Bits (valid until the bitmap is deleted). Section must be
// null.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, void* section,
                         DWORD offset);
// Copies Lines scan lines starting at DIB scan line Start (counted from the
// bottom of a bottom-up DIB) into Bits in the format of Info. Colour tables
// of 8 bits or less are filled: from the context's palette when one other
// than the default is selected, from a section's own table of the same
// depth, else with a fixed table (see bitmaps.cpp). With Bits null only the
// header is completed (and with biBitCount 0 set to the bitmap's format).
// Returns the lines copied, 0 on failure.
int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info,
              UINT usage);
int SetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, const void* bits,
              const BITMAPINFO* info, UINT usage);
// Colour tables of DIB sections selected into a memory context.
UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors);
UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors);

// --- Palettes ---

// Version 0x300 and 1 to 1024 entries, else null.
HPALETTE CreatePalette(const LOGPALETTE* palette);
// Stores the palette in the context and returns the one it held.
HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
// Nothing to map on this display: returns 0.
UINT RealizePalette(HDC dc);
// With Entries null, returns the palette's size.
UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries);
UINT SetPaletteEntries(HPALETTE palette, UINT start, UINT count, const PALETTEENTRY* entries);
// Changes only the entries flagged PC_RESERVED.
BOOL AnimatePalette(HPALETTE palette, UINT start, UINT count, const PALETTEENTRY* entries);
BOOL ResizePalette(HPALETTE palette, UINT count);
// The entry nearest in RGB (squared distance, first of equals); CLR_INVALID
// for an invalid palette.
UINT GetNearestPaletteIndex(HPALETTE palette, COLORREF color);
COLORREF GetNearestColor(HDC dc, COLORREF color);
// The system palette: 256 entries, the 20 static colours at 0 to 9 and 246
// to 255 and black between. With Entries null, returns 256.
UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries);

// --- Fonts and text ---
// Text is UTF-8. A face that is not installed is replaced through the
// substitution table of fonts.h. Glyphs are drawn without antialiasing in
// the text colour, on a box of the background colour when the background
// mode is OPAQUE. Text needs a QGuiApplication; without one text calls fail.

HFONT CreateFontIndirect(const LOGFONT* font);
BOOL TextOut(HDC dc, int x, int y, std::string_view text);
BOOL ExtTextOut(HDC dc, int x, int y, UINT options, const RECT* rect, std::string_view text);
BOOL GetTextExtentPoint32(HDC dc, std::string_view text, SIZE* size);
BOOL GetTextMetrics(HDC dc, TEXTMETRIC* metrics);
// Draws or measures text in a rectangle. Tabs expand to every 8 average
// character widths with DT_EXPANDTABS; "&" marks an underlined character
// unless DT_NOPREFIX. The path ellipsis keeps the text from the last "/" or
// "\" on. With DT_MODIFYSTRING and an ellipsis the text is replaced by what
// was drawn. Returns the text height (from the rectangle's top when
// vertically centred or bottom-aligned), 0 on failure.
int DrawText(HDC dc, std::string& text, RECT* rect, UINT format);
int DrawText(HDC dc, std::string_view text, RECT* rect, UINT format);

} // namespace lum::platform::gdi
