// DrawDib: the video service's drawing of DIB frames onto a device
// context, over the drawing service's stretched blits. A drawing handle is
// begun for a source format and a destination size; each draw then puts one
// image on the context, stretched colour on colour. Formats are the
// uncompressed ones (1 to 32 bits, bit fields) and RLE8 and RLE4, whose
// frames are run-length deltas decoded onto the handle's buffer, so that a
// delta frame lands on the frame before it. Hurried frames (DDF_HURRYUP,
// DDF_DONTDRAW) reach the buffer and are not drawn; DDF_UPDATE draws the
// buffer again. Other compressions are refused by DrawDibBegin.
//
// The image size of a format (biSizeImage) bounds what is read of the
// bits: RLE data is read no further, and uncompressed bits shorter than
// the picture are refused. One handle is used by one thread at a time.
#pragma once

#include "platform/base/wintypes.h"
#include "platform/gdi/gditypes.h"

namespace lum::platform::vfw {

struct HDRAWDIB__;
using HDRAWDIB = HDRAWDIB__*;
using gdi::HDC;

constexpr UINT DDF_UPDATE = 0x0002;
constexpr UINT DDF_SAME_HDC = 0x0004;
constexpr UINT DDF_SAME_DRAW = 0x0008;
constexpr UINT DDF_DONTDRAW = 0x0010;
constexpr UINT DDF_ANIMATE = 0x0020;
constexpr UINT DDF_BUFFER = 0x0040;
constexpr UINT DDF_JUSTDRAWIT = 0x0080;
constexpr UINT DDF_FULLSCREEN = 0x0100;
constexpr UINT DDF_BACKGROUNDPAL = 0x0200;
constexpr UINT DDF_NOTKEYFRAME = 0x0400;
constexpr UINT DDF_HURRYUP = 0x0800;
constexpr UINT DDF_HALFTONE = 0x1000;
constexpr UINT DDF_PREROLL = DDF_DONTDRAW;

// What a handle did since it was opened.
struct DRAWDIBSTATS {
    LONG drawn = 0;   // images put on a context (updates included)
    LONG hurried = 0; // frames taken into the buffer without drawing
    LONG updates = 0; // DDF_UPDATE draws of the buffer
    LONG refused = 0; // draws that failed
    DWORD rate = 0;   // milliseconds a frame, from DrawDibStart
};

HDRAWDIB DrawDibOpen();
// Stale and foreign handles are refused.
BOOL DrawDibClose(HDRAWDIB hdd);
// Prepares drawing Format (its header and colour table are copied) at
// DstWidth x DstHeight; -1 for either takes the source's. The source
// rectangle is SrcWidth x SrcHeight (-1: the whole picture). False for a
// format this service cannot draw; the handle is then not begun.
BOOL DrawDibBegin(HDRAWDIB hdd, HDC dc, int dstWidth, int dstHeight, const BITMAPINFOHEADER* format,
                  int srcWidth, int srcHeight, UINT flags);
BOOL DrawDibEnd(HDRAWDIB hdd);
// Draws Bits in Format at (X, Y), DstWidth x DstHeight (-1: those of the
// Begin), from the source rectangle (SrcX, SrcY) SrcWidth x SrcHeight
// counted from the picture's top-left (-1 sizes: the whole picture). A
// format that differs from the begun one begins the handle again; a null
// format is the begun one. With DDF_UPDATE, Format and Bits are ignored
// and the buffered image is drawn; false when there is none.
BOOL DrawDibDraw(HDRAWDIB hdd, HDC dc, int x, int y, int dstWidth, int dstHeight,
                 const BITMAPINFOHEADER* format, const void* bits, int srcX, int srcY, int srcWidth,
                 int srcHeight, UINT flags);
inline BOOL DrawDibUpdate(HDRAWDIB hdd, HDC dc, int x, int y) {
    return DrawDibDraw(hdd, dc, x, y, 0, 0, nullptr, nullptr, 0, 0, 0, 0, DDF_UPDATE);
}
// The display has no palette to map to: 0, or GDI_ERROR for a bad handle
// or context.
UINT DrawDibRealize(HDRAWDIB hdd, HDC dc, BOOL background);
// The frame time in milliseconds of what follows; kept in the statistics.
BOOL DrawDibStart(HDRAWDIB hdd, DWORD rate);
BOOL DrawDibStop(HDRAWDIB hdd);
BOOL DrawDibGetStats(HDRAWDIB hdd, DRAWDIBSTATS* stats);

} // namespace lum::platform::vfw
