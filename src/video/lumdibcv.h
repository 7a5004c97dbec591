// The DIB canvas (unit Lumdibcv) and its pixel primitives (module
// LUMDIBCV): an off-screen drawing surface over a DIB section whose pixels
// are written straight into memory, a 256-colour palette for 8-bit
// surfaces with entries reserved for colour animation, an optional
// background picture, and one block transfer to a window.
//
// Drawing passes. The primitives work on one module-wide drawing state
// that a pass fills: TLumDIBCanvas::DIB_InitDrawing ... DIB_DoneDrawing
// for a canvas, DIB_InitDrawingDIB ... DIB_DoneDrawingDIB for any packed
// DIB of 8, 16, 24 or 32 bits. A pass holds one program-wide lock, so a
// second thread waits until the first pass ends; passes opened inside a
// pass on the same thread keep the outer pass's state and give it back
// when they end. TLumDIBPass opens and closes a pass as a scope. Outside a
// pass the primitives do nothing.
//
// Coordinates are pixels with (0, 0) at the picture's top-left. Every
// primitive clips to the pass's clip rectangle (left and top inclusive,
// right and bottom exclusive). A colour value is what a pixel holds: the
// palette index for 8 bits, the 16-bit word for 16 bits, and 0x00BBGGRR
// for 24 and 32 bits (stored in memory as blue, green, red).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/base/colors.h"
#include "platform/base/exception.h"
#include "platform/gdi/canvas.h"
#include "platform/gdi/graphics.h"
#include "video/lumdib.h"

namespace lum {

using platform::COLORREF;
using platform::gdi::TBitmap;
using platform::gdi::TPoint;
using platform::gdi::TRect;

class ELumDIBError : public Exception {
public:
    using Exception::Exception;
};

// 1: surfaces are stored bottom-up (picture row y at storage row
// Height - 1 - y).
constexpr int DIB_ORIENT = 1;

// The module drawing state, valid only inside a pass.
struct TLumDIBDrawState {
    int biBits = 0;            // 8, 16, 24 or 32
    int biBPP = 0;             // bytes per pixel
    int biWidth = 0;           // pixels
    int biHeight = 0;          // rows
    int biScanWidth = 0;       // bytes a row
    int biLineDiff = 0;        // bytes from a picture row to the one below it
    std::uint32_t biColor = 0; // the current colour, replicated over 32 bits for 8 and 16 bits
    std::uint8_t* biSurface = nullptr; // the pixels as stored
    TPoint biPenPos{};
    TRect biClipRect{};
    // 16 bits: the word's red, green and blue masks.
    std::uint32_t biMasks[3] = {};
    // The colours of indices, for nearest-colour lookups and for
    // DIB_VLINEMULTICOLOR on deeper surfaces; empty for none.
    std::vector<platform::RGBQUAD> biColors;
};

// The state of the pass open on this thread (all zero outside one).
const TLumDIBDrawState& DIB_DrawState();

// A pass over a packed DIB: uncompressed 8, 16 (5-5-5, or bit fields
// 5-6-5 and 5-5-5), 24 or 32 bits (standard masks), either orientation.
// The clip is the whole picture and the colour 0. Raises ELumDIBError
// "Bitlength not supported yet" for other formats (taking no lock).
void DIB_InitDrawingDIB(TBitmapInfoHeader* dib);
void DIB_DoneDrawingDIB();

// The current colour as a raw value (no conversion).
void DIB_SETCOLOR(std::uint32_t value);
// The value of an RGB colour on the pass's surface: the nearest index of
// its colours for 8 bits, the packed word for 16 bits, the RGB value else.
std::uint32_t DIB_RGBTOVALUE(COLORREF rgb);
// The clip rectangle of the pass, limited to its surface.
void DIB_SETCLIPRECT(const TRect& rect);

// --- Pixel primitives (module LUMDIBCV) ---

void DIB_SETPIXEL(int x, int y, std::uint32_t color);
// The pixel's value; 0xFFFFFFFF outside the clip rectangle.
std::uint32_t DIB_GETPIXEL(int x, int y);
void DIB_MOVETO(int x, int y);
// Lines run from their first point up to but excluding their last, as the
// drawing service's lines do, so that joined lines meet without drawing
// the joint twice (which matters for the inverting ones).
void DIB_LINETO(int x, int y);
void DIB_LINE(int x1, int y1, int x2, int y2);
// Each pixel becomes NOT (pixel XOR colour).
void DIB_LINENOTXOR(int x1, int y1, int x2, int y2);
// Pixels x1 <= x < x2 of row Y; the ends are swapped when x1 > x2.
void DIB_HLINE(int x1, int x2, int y);
// Dashes of 4 pixels on, 4 off from x1; only whole dashes are drawn, so a
// span shorter than 4 pixels draws nothing.
void DIB_HLINEDASHED(int x1, int x2, int y);
// Every (Step + 1)-th pixel from x1; Step below 1 counts as 1.
void DIB_HLINEDOTED(int x1, int x2, int y, int step);
void DIB_VLINE(int x, int y1, int y2);
void DIB_VLINEDASHED(int x, int y1, int y2);
void DIB_VLINEDOTED(int x, int y1, int y2, int step);
void DIB_VLINEXOR(int x, int y1, int y2);
void DIB_VLINENOTXOR(int x, int y1, int y2);
// Pixels (X, Y + i) for i below Count take Colors[i]: an index for 8
// bits, else the colour of that index in the pass's colours (a grey level
// when it has none).
void DIB_VLINEMULTICOLOR(int x, int y, const std::uint8_t* colors, int count);
// The outline: rows Top and Bottom - 1, columns Left and Right - 1.
void DIB_RECTANGLE(int left, int top, int right, int bottom);
void DIB_FILLRECT(const TRect& rect);
void DIB_FILLRECTXOR(const TRect& rect);
// Every other pixel, as a chequer anchored at the surface's corner: the
// pixels whose x + y is odd when Odd, even otherwise.
void DIB_FILLRECTDOTED(const TRect& rect, bool odd);
// The whole surface, clip ignored; 8-bit rows including their padding.
void DIB_CLEAR();
// Copies Width x Height pixels from (SrcX, SrcY) of a picture of the same
// depth and orientation as the surface (SrcWidth x SrcHeight, rows padded
// to 4 bytes) to (X, Y). Both sides are clipped.
void DIB_COPYDIBBITS(const void* src, int srcWidth, int srcHeight, int srcX, int srcY, int x, int y,
                     int width, int height);
// The ring between the ellipse of radii (RX, RY) about (X, Y) and the one
// of radii (InnerRX, InnerRY): a pixel belongs to an ellipse when its
// offset (dx, dy) has (dx / (rx + 1/2))^2 + (dy / (ry + 1/2))^2 <= 1.
// Negative inner radii give the filled ellipse.
void DIB_ELLIPSE(int x, int y, std::int16_t rx, std::int16_t ry, std::int16_t innerRx,
                 std::int16_t innerRy);
void DIB_FILLELLIPSE(int x, int y, std::int16_t rx, std::int16_t ry);

// --- The canvas ---

// A drawing surface over a DIB section of Width x Height at BitsPerPixel
// (8 or 24). The bitmap is built when first needed and rebuilt, when its
// size or settings change, at the next handle use or pass; never inside a
// pass, whose pixels stay where they are until it ends.
class TLumDIBCanvas : public platform::gdi::TCanvas {
public:
    TLumDIBCanvas();
    ~TLumDIBCanvas() override;

    int GetBitsPerPixel() const { return FBitsPerPixel; }
    // 8 or 24, else "Bitlength not supported yet"; rebuilds.
    void SetBitsPerPixel(int value);
    bool GetPaletteRealize() const { return FPaletteRealize; }
    void SetPaletteRealize(bool value);
    bool GetPaletteMapped() const { return FPaletteMapped; }
    void SetPaletteMapped(bool value) { FPaletteMapped = value; }
    // The canvas's own copy; changing it rebuilds.
    TBitmap& GetBackGroundBitmap() { return *FBackGround; }
    void SetBackGroundBitmap(const TBitmap* value);
    bool GetStretchBackGround() const { return FStretchBackGround; }
    void SetStretchBackGround(bool value);
    int GetWidth() const { return FWidth; }
    int GetHeight() const { return FHeight; }
    virtual void SetBounds(int left, int top, int width, int height);

    // The caller's palette for the colours 10 to 246: version 0x300 and at
    // most 256 entries, else false and nothing changes. Null removes it.
    bool SetLogPalette(const TLogPalette* palette);

    // "Attempt to create new DIB while initialized for drawing" inside a
    // pass; otherwise destroys and builds the bitmap.
    void RecreateDIB();
    // Builds the bitmap when it needs it (not inside a pass).
    void CheckDIB();

    void DIB_InitDrawing();
    void DIB_DoneDrawing();
    bool Drawing() const { return FPasses > 0; }

    void DIB_SetClipRect(const TRect& rect);
    TRect DIB_GetClipRect() const { return FClipRect; }
    // Colours of the pass: a toolkit colour (system colours resolved), an
    // RGB value, or a raw value.
    void DIB_SetTColor(TColor color);
    void DIB_SetColorRef(COLORREF rgb);
    void DIB_SetColor(std::uint32_t value);
    // The RGB value for more than 8 bits, else the nearest palette index.
    std::uint32_t DIB_ColorToIndex(TColor color);
    // Bits + storage row x row size + X x bytes per pixel; "Attempt to get
    // out of range pixel address" for a pixel outside the surface.
    std::uint8_t* DIB_GetPixelAddress(std::uint8_t* bits, int x, int y) const;

    // Copy the surface to DC; Dest gives left, top, width and height (the
    // width and height in its right and bottom fields), Src likewise for
    // the stretching copy. Nothing without a bitmap or DC.
    void DIB_BitBlt(HDC dc, const TRect& dest, int srcX, int srcY);
    void DIB_StretchBlt(HDC dc, const TRect& dest, const TRect& src);

    // Colour animation of the 8-bit palette: N entries, 247 - N to 246.
    void SetAnimCount(int count); // 0 to 236, else "Invalid count of animated colors"
    int GetAnimCount() const { return FAnimCount; }
    int GetAnimColorIndex(int i) const { return FFirstAnimIndex + i; }
    // The entry as a palette-relative colour (0x01000000 | index), which
    // draws with whatever colour the entry has.
    COLORREF GetAnimColor(int i) const;
    COLORREF GetAnimColorValue(int i) const;
    // Inside BeginAnimate / EndAnimate only recorded; the outermost
    // EndAnimate changes the bitmap's colours and the palette in one step.
    void SetAnimColorValue(int i, COLORREF color);
    void BeginAnimate();
    void EndAnimate();

    HPALETTE GetPalette() const { return FPalette; }
    // The bitmap's header and colour table, and its pixels; null before
    // the bitmap is built.
    const TBitmapInfoHeader* GetHeader() const { return FHeader; }
    std::uint8_t* GetBits() const { return FBits; }
    // The background section's pixels, or null.
    std::uint8_t* GetBackGroundBits() const { return FBackBits; }

protected:
    void CreateHandle() override;
    virtual void CreateDIB();
    virtual void DestroyDIB();

private:
    void NeedMemoryDC();
    void CheckIndex(int i) const;
    void WriteAnimColors();
    void Rebuild();
    bool BuildBackGround();

    int FBitsPerPixel = 8;
    bool FPaletteRealize = false;
    bool FPaletteMapped = false;
    std::unique_ptr<TBitmap> FBackGround;
    bool FStretchBackGround = true;
    int FWidth = 1;
    int FHeight = 1;

    HDC FMemDC = nullptr;
    PBitmapInfoHeader FHeader = nullptr;
    HBITMAP FBitmap = nullptr;
    platform::gdi::HGDIOBJ FOldBitmap = nullptr;
    std::uint8_t* FBits = nullptr;
    HBITMAP FBackBitmap = nullptr;
    std::uint8_t* FBackBits = nullptr;
    HPALETTE FPalette = nullptr;
    PLogPalette FLogPalette = nullptr; // the caller's, 1032 bytes
    TRect FClipRect{0, 0, 1, 1};
    int FAnimCount = 0;
    int FFirstAnimIndex = 256;
    std::vector<COLORREF> FAnimColors;
    int FAnimating = 0;
    bool FNeedsRebuild = true;
    int FPasses = 0;
};

// Opens a pass for its life.
class TLumDIBPass {
public:
    explicit TLumDIBPass(TLumDIBCanvas& canvas) : FCanvas(&canvas) { canvas.DIB_InitDrawing(); }
    explicit TLumDIBPass(TBitmapInfoHeader* dib) { DIB_InitDrawingDIB(dib); }
    ~TLumDIBPass() {
        if (FCanvas)
            FCanvas->DIB_DoneDrawing();
        else
            DIB_DoneDrawingDIB();
    }
    TLumDIBPass(const TLumDIBPass&) = delete;
    TLumDIBPass& operator=(const TLumDIBPass&) = delete;

private:
    TLumDIBCanvas* FCanvas = nullptr;
};

} // namespace lum
