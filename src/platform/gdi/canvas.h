// The canvas: a device context with a pen, a brush and a font that are
// set as values and made into drawing objects only when something is
// drawn. Controls, the gauge and the bevel paint through it whether the
// context is a bitmap's, a packed DIB's or a widget's back buffer.
//
// A canvas either borrows its context or owns it (deleting it when it is
// replaced or destroyed). The objects it selected are taken out again
// before the context is given up, so the context is left as found.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/colors.h"
#include "platform/gdi/gdi.h"

namespace lum::platform::gdi {

using TRect = RECT;
using TPoint = POINT;

// The RGB value of a colour; system colours are looked up (GetSysColor).
COLORREF ColorToRGB(TColor color);

enum TPenStyle : std::uint8_t {
    psSolid,
    psDash,
    psDot,
    psDashDot,
    psDashDotDot,
    psClear,
    psInsideFrame
};
enum TPenMode : std::uint8_t {
    pmBlack,
    pmWhite,
    pmNop,
    pmNot,
    pmCopy,
    pmNotCopy,
    pmMergePenNot,
    pmMaskPenNot,
    pmMergeNotPen,
    pmMaskNotPen,
    pmMerge,
    pmNotMerge,
    pmMask,
    pmNotMask,
    pmXor,
    pmNotXor
};
enum TBrushStyle : std::uint8_t { bsSolid, bsClear };
enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

// Raster operations of CopyMode.
constexpr DWORD cmSrcCopy = SRCCOPY;
constexpr DWORD cmSrcInvert = SRCINVERT;
constexpr DWORD cmSrcAnd = SRCAND;
constexpr DWORD cmSrcPaint = SRCPAINT;
constexpr DWORD cmNotSrcCopy = NOTSRCCOPY;
constexpr DWORD cmDstInvert = DSTINVERT;
constexpr DWORD cmSrcErase = SRCERASE;
constexpr DWORD cmMergeCopy = MERGECOPY;
constexpr DWORD cmMergePaint = MERGEPAINT;
constexpr DWORD cmPatCopy = PATCOPY;
constexpr DWORD cmPatInvert = PATINVERT;
constexpr DWORD cmBlackness = BLACKNESS;
constexpr DWORD cmWhiteness = WHITENESS;

class TCanvas;
class TBitmap;

// Line colour, width, style and mix mode. Black, 1 pixel, solid, copy.
class TPen {
public:
    TColor GetColor() const { return color_; }
    int GetWidth() const { return width_; }
    TPenStyle GetStyle() const { return style_; }
    TPenMode GetMode() const { return mode_; }
    void SetColor(TColor v) { Update(color_, v); }
    void SetWidth(int v) { Update(width_, v < 1 ? 1 : v); }
    void SetStyle(TPenStyle v) { Update(style_, v); }
    void SetMode(TPenMode v) { Update(mode_, v); }
    void Assign(const TPen& other);

private:
    friend class TCanvas;
    template <class T>
    void Update(T& field, T value) {
        if (field != value) field = value, ++version_;
    }
    TColor color_ = clBlack;
    int width_ = 1;
    TPenStyle style_ = psSolid;
    TPenMode mode_ = pmCopy;
    unsigned version_ = 1;
};

// Fill colour and style. White, solid. A clear brush fills nothing and
// leaves text backgrounds transparent.
class TBrush {
public:
    TColor GetColor() const { return color_; }
    TBrushStyle GetStyle() const { return style_; }
    void SetColor(TColor v) { Update(color_, v); }
    void SetStyle(TBrushStyle v) { Update(style_, v); }
    void Assign(const TBrush& other);

private:
    friend class TCanvas;
    template <class T>
    void Update(T& field, T value) {
        if (field != value) field = value, ++version_;
    }
    TColor color_ = clWhite;
    TBrushStyle style_ = bsSolid;
    unsigned version_ = 1;
};

// Face, height, colour, character set, styles and orientation. "MS Sans
// Serif" of 8 points (height -11: 11-pixel characters), window-text colour.
// Height is negative for the character height in pixels, positive for the
// cell height; Size is in points at 96 pixels an inch.
class TFont {
public:
    const std::string& GetName() const { return name_; }
    int GetHeight() const { return height_; }
    int GetSize() const;
    TColor GetColor() const { return color_; }
    BYTE GetCharset() const { return charset_; }
    TFontStyles GetStyle() const { return style_; }
    // Tenths of a degree, counter-clockwise.
    int GetOrientation() const { return orientation_; }
    void SetName(const std::string& v) { Update(name_, v); }
    void SetHeight(int v) { Update(height_, v); }
    void SetSize(int points);
    void SetColor(TColor v) { Update(color_, v); }
    void SetCharset(BYTE v) { Update(charset_, v); }
    void SetStyle(TFontStyles v) { Update(style_, v); }
    void SetOrientation(int v) { Update(orientation_, v); }
    void Assign(const TFont& other);

private:
    friend class TCanvas;
    template <class T>
    void Update(T& field, const T& value) {
        if (field != value) field = value, ++version_;
    }
    std::string name_ = "MS Sans Serif";
    int height_ = -11;
    TColor color_ = clWindowText;
    BYTE charset_ = DEFAULT_CHARSET;
    TFontStyles style_ = 0;
    int orientation_ = 0;
    unsigned version_ = 1;
};

class TCanvas {
public:
    TCanvas() = default;
    explicit TCanvas(HDC dc, bool owns = false) { SetHandle(dc, owns); }
    virtual ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    // The context, made first when the canvas creates its own (a bitmap's).
    HDC GetHandle();
    void SetHandle(HDC dc, bool owns = false);
    bool HandleAllocated() const { return dc_ != nullptr; }

    TPen& GetPen() { return pen_; }
    TBrush& GetBrush() { return brush_; }
    TFont& GetFont() { return font_; }
    void SetPen(const TPen& v) { pen_.Assign(v); }
    void SetBrush(const TBrush& v) { brush_.Assign(v); }
    void SetFont(const TFont& v) { font_.Assign(v); }
    DWORD GetCopyMode() const { return copyMode_; }
    void SetCopyMode(DWORD v) { copyMode_ = v; }
    TPoint GetPenPos();
    void SetPenPos(TPoint p) { MoveTo(p.x, p.y); }

    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void Polyline(std::span<const TPoint> points);
    void Polygon(std::span<const TPoint> points);
    void Rectangle(int left, int top, int right, int bottom);
    void Rectangle(const TRect& r) { Rectangle(r.left, r.top, r.right, r.bottom); }
    void FillRect(const TRect& r);
    void FrameRect(const TRect& r);
    void Ellipse(int left, int top, int right, int bottom);
    void Ellipse(const TRect& r) { Ellipse(r.left, r.top, r.right, r.bottom); }
    // Counter-clockwise from the radial through (x3, y3) to that through (x4, y4).
    void Pie(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
    void Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);

    // Writes text with its cell's top-left at (x, y) and moves the pen
    // position to its end.
    void TextOut(int x, int y, std::string_view text);
    // Text clipped to R (its background filled unless the brush is clear).
    void TextRect(const TRect& r, int x, int y, std::string_view text);
    SIZE TextExtent(std::string_view text);
    int TextWidth(std::string_view text) { return TextExtent(text).cx; }
    int TextHeight(std::string_view text) { return TextExtent(text).cy; }
    int DrawText(std::string& text, TRect& r, UINT format);
    int DrawText(std::string_view text, TRect& r, UINT format);

    // Copies a bitmap at (x, y) with the copy mode.
    void Draw(int x, int y, TBitmap& bitmap);
    // Stretches a bitmap over R with the copy mode, sampling colour on
    // colour (or half-tone when the context is in that mode).
    void StretchDraw(const TRect& r, TBitmap& bitmap);
    void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);

    TColor GetPixels(int x, int y);
    void SetPixels(int x, int y, TColor color);

    // Clipping, in the canvas's coordinates.
    TRect GetClipRect();
    void SetClipRect(const TRect& r);
    void ResetClipRect();

    // Around every drawing call.
    std::function<void(TCanvas*)> OnChanging;
    std::function<void(TCanvas*)> OnChange;

protected:
    // Called when the handle is needed and none is set.
    virtual void CreateHandle() {}
    void Changing();
    void Changed();

private:
    HDC Require(bool pen, bool brush, bool font);
    void Detach();

    HDC dc_ = nullptr;
    bool owns_ = false;
    TPen pen_;
    TBrush brush_;
    TFont font_;
    DWORD copyMode_ = cmSrcCopy;
    HPEN penHandle_ = nullptr;
    HBRUSH brushHandle_ = nullptr;
    HFONT fontHandle_ = nullptr;
    unsigned penVersion_ = 0, brushVersion_ = 0, fontVersion_ = 0;
    HGDIOBJ oldPen_ = nullptr, oldBrush_ = nullptr, oldFont_ = nullptr;
};

} // namespace lum::platform::gdi
