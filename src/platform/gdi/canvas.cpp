// The canvas: turns pen, brush and font values into drawing objects on
// demand and wraps the context's drawing calls.
#include "platform/gdi/canvas.h"

#include <cmath>
#include <vector>

#include "platform/gdi/graphics.h"

namespace lum::platform::gdi {

COLORREF ColorToRGB(TColor color) {
    if (IsSystemColor(color)) return GetSysColor(SystemColorIndex(color));
    return static_cast<COLORREF>(color) & 0xFFFFFF;
}

namespace {
int MulDivRound(int a, int b, int c) {
    return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

int PenStyle(TPenStyle s) {
    switch (s) {
    case psDash:
        return PS_DASH;
    case psDot:
        return PS_DOT;
    case psDashDot:
        return PS_DASHDOT;
    case psDashDotDot:
        return PS_DASHDOTDOT;
    case psClear:
        return PS_NULL;
    case psInsideFrame:
        return PS_INSIDEFRAME;
    default:
        return PS_SOLID;
    }
}

int Rop2Of(TPenMode m) {
    static constexpr int table[] = {R2_BLACK,       R2_WHITE,      R2_NOP,         R2_NOT,
                                    R2_COPYPEN,     R2_NOTCOPYPEN, R2_MERGEPENNOT, R2_MASKPENNOT,
                                    R2_MERGENOTPEN, R2_MASKNOTPEN, R2_MERGEPEN,    R2_NOTMERGEPEN,
                                    R2_MASKPEN,     R2_NOTMASKPEN, R2_XORPEN,      R2_NOTXORPEN};
    return table[m];
}
} // namespace

void TPen::Assign(const TPen& other) {
    SetColor(other.color_);
    SetWidth(other.width_);
    SetStyle(other.style_);
    SetMode(other.mode_);
}

void TBrush::Assign(const TBrush& other) {
    SetColor(other.color_);
    SetStyle(other.style_);
}

int TFont::GetSize() const {
    return -MulDivRound(height_, 72, 96);
}
void TFont::SetSize(int points) {
    SetHeight(-MulDivRound(points, 96, 72));
}

void TFont::Assign(const TFont& other) {
    SetName(other.name_);
    SetHeight(other.height_);
    SetColor(other.color_);
    SetCharset(other.charset_);
    SetStyle(other.style_);
    SetOrientation(other.orientation_);
}

TCanvas::~TCanvas() {
    Detach();
}

HDC TCanvas::GetHandle() {
    if (!dc_) CreateHandle();
    return dc_;
}

void TCanvas::SetHandle(HDC dc, bool owns) {
    if (dc == dc_) {
        owns_ = owns;
        return;
    }
    Detach();
    dc_ = dc;
    owns_ = dc && owns;
}

void TCanvas::Detach() {
    if (dc_) {
        // Put back what the context held before we selected ours.
        if (oldPen_) SelectObject(dc_, oldPen_);
        if (oldBrush_) SelectObject(dc_, oldBrush_);
        if (oldFont_) SelectObject(dc_, oldFont_);
        if (owns_) DeleteDC(dc_);
    }
    oldPen_ = oldBrush_ = oldFont_ = nullptr;
    if (penHandle_) DeleteObject(penHandle_);
    if (brushHandle_) DeleteObject(brushHandle_);
    if (fontHandle_) DeleteObject(fontHandle_);
    penHandle_ = nullptr;
    brushHandle_ = nullptr;
    fontHandle_ = nullptr;
    penVersion_ = brushVersion_ = fontVersion_ = 0;
    dc_ = nullptr;
    owns_ = false;
}

HDC TCanvas::Require(bool pen, bool brush, bool font) {
    HDC dc = GetHandle();
    if (!dc) return nullptr;
    if (pen && penVersion_ != pen_.version_) {
        HPEN h = CreatePen(PenStyle(pen_.style_), pen_.width_, ColorToRGB(pen_.color_));
        HGDIOBJ old = SelectObject(dc, h);
        if (!oldPen_) oldPen_ = old;
        if (penHandle_) DeleteObject(penHandle_);
        penHandle_ = h;
        penVersion_ = pen_.version_;
    }
    if (pen) SetROP2(dc, Rop2Of(pen_.mode_));
    if (brush && brushVersion_ != brush_.version_) {
        LOGBRUSH lb;
        lb.lbStyle = brush_.style_ == bsClear ? BS_NULL : BS_SOLID;
        lb.lbColor = ColorToRGB(brush_.color_);
        HBRUSH h = CreateBrushIndirect(&lb);
        HGDIOBJ old = SelectObject(dc, h);
        if (!oldBrush_) oldBrush_ = old;
        if (brushHandle_) DeleteObject(brushHandle_);
        brushHandle_ = h;
        brushVersion_ = brush_.version_;
    }
    if (brush) {
        // Text and pen gaps take the brush as background, as the toolkit does.
        SetBkColor(dc, ColorToRGB(brush_.color_));
        SetBkMode(dc, brush_.style_ == bsClear ? TRANSPARENT : OPAQUE);
    }
    if (font && fontVersion_ != font_.version_) {
        LOGFONT lf;
        lf.lfHeight = font_.height_;
        lf.lfWeight = (font_.style_ & fsBold) ? FW_BOLD : FW_NORMAL;
        lf.lfItalic = (font_.style_ & fsItalic) ? 1 : 0;
        lf.lfUnderline = (font_.style_ & fsUnderline) ? 1 : 0;
        lf.lfStrikeOut = (font_.style_ & fsStrikeOut) ? 1 : 0;
        lf.lfCharSet = font_.charset_;
        lf.lfEscapement = lf.lfOrientation = font_.orientation_;
        lf.lfFaceName = font_.name_;
        HFONT h = CreateFontIndirect(&lf);
        HGDIOBJ old = SelectObject(dc, h);
        if (!oldFont_) oldFont_ = old;
        if (fontHandle_) DeleteObject(fontHandle_);
        fontHandle_ = h;
        fontVersion_ = font_.version_;
    }
    if (font) SetTextColor(dc, ColorToRGB(font_.color_));
    return dc;
}

void TCanvas::Changing() {
    if (OnChanging) OnChanging(this);
}

void TCanvas::Changed() {
    if (OnChange) OnChange(this);
}

TPoint TCanvas::GetPenPos() {
    TPoint p{};
    if (HDC dc = GetHandle()) GetCurrentPositionEx(dc, &p);
    return p;
}

void TCanvas::MoveTo(int x, int y) {
    if (HDC dc = GetHandle()) MoveToEx(dc, x, y, nullptr);
}

void TCanvas::LineTo(int x, int y) {
    Changing();
    if (HDC dc = Require(true, true, false)) gdi::LineTo(dc, x, y);
    Changed();
}

void TCanvas::Polyline(std::span<const TPoint> points) {
    Changing();
    if (HDC dc = Require(true, true, false))
        gdi::Polyline(dc, points.data(), static_cast<int>(points.size()));
    Changed();
}

void TCanvas::Polygon(std::span<const TPoint> points) {
    Changing();
    if (HDC dc = Require(true, true, false))
        gdi::Polygon(dc, points.data(), static_cast<int>(points.size()));
    Changed();
}

void TCanvas::Rectangle(int left, int top, int right, int bottom) {
    Changing();
    if (HDC dc = Require(true, true, false)) gdi::Rectangle(dc, left, top, right, bottom);
    Changed();
}

void TCanvas::FillRect(const TRect& r) {
    Changing();
    if (HDC dc = Require(false, true, false)) gdi::FillRect(dc, &r, brushHandle_);
    Changed();
}

void TCanvas::FrameRect(const TRect& r) {
    Changing();
    if (HDC dc = Require(false, true, false)) gdi::FrameRect(dc, &r, brushHandle_);
    Changed();
}

void TCanvas::Ellipse(int left, int top, int right, int bottom) {
    Changing();
    if (HDC dc = Require(true, true, false)) gdi::Ellipse(dc, left, top, right, bottom);
    Changed();
}

void TCanvas::Pie(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
    Changing();
    if (HDC dc = Require(true, true, false)) gdi::Pie(dc, x1, y1, x2, y2, x3, y3, x4, y4);
    Changed();
}

void TCanvas::Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
    Changing();
    if (HDC dc = Require(true, true, false)) gdi::Arc(dc, x1, y1, x2, y2, x3, y3, x4, y4);
    Changed();
}

void TCanvas::TextOut(int x, int y, std::string_view text) {
    Changing();
    if (HDC dc = Require(false, true, true)) {
        gdi::ExtTextOut(dc, x, y, 0, nullptr, text);
        SIZE s{};
        GetTextExtentPoint32(dc, text, &s);
        MoveToEx(dc, x + s.cx, y, nullptr);
    }
    Changed();
}

void TCanvas::TextRect(const TRect& r, int x, int y, std::string_view text) {
    Changing();
    if (HDC dc = Require(false, true, true)) {
        const UINT options = ETO_CLIPPED | (brush_.style_ == bsClear ? 0 : ETO_OPAQUE);
        gdi::ExtTextOut(dc, x, y, options, &r, text);
    }
    Changed();
}

SIZE TCanvas::TextExtent(std::string_view text) {
    SIZE s{};
    if (HDC dc = Require(false, false, true)) GetTextExtentPoint32(dc, text, &s);
    return s;
}

int TCanvas::DrawText(std::string& text, TRect& r, UINT format) {
    Changing();
    int h = 0;
    if (HDC dc = Require(false, true, true)) h = gdi::DrawText(dc, text, &r, format);
    Changed();
    return h;
}

int TCanvas::DrawText(std::string_view text, TRect& r, UINT format) {
    Changing();
    int h = 0;
    if (HDC dc = Require(false, true, true)) h = gdi::DrawText(dc, text, &r, format);
    Changed();
    return h;
}

void TCanvas::Draw(int x, int y, TBitmap& bitmap) {
    if (bitmap.Empty()) return;
    Changing();
    HDC src = bitmap.GetCanvas().GetHandle();
    if (HDC dc = Require(false, true, false))
        BitBlt(dc, x, y, bitmap.GetWidth(), bitmap.GetHeight(), src, 0, 0, copyMode_);
    Changed();
}

void TCanvas::StretchDraw(const TRect& r, TBitmap& bitmap) {
    if (bitmap.Empty()) return;
    Changing();
    HDC src = bitmap.GetCanvas().GetHandle();
    if (HDC dc = Require(false, true, false)) {
        const int old = GetStretchBltMode(dc);
        if (old != HALFTONE) SetStretchBltMode(dc, COLORONCOLOR);
        StretchBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, src, 0, 0,
                   bitmap.GetWidth(), bitmap.GetHeight(), copyMode_);
        SetStretchBltMode(dc, old);
    }
    Changed();
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
    Changing();
    HDC src = source.GetHandle();
    if (HDC dc = Require(false, true, false))
        StretchBlt(dc, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, src,
                   sourceRect.left, sourceRect.top, sourceRect.right - sourceRect.left,
                   sourceRect.bottom - sourceRect.top, copyMode_);
    Changed();
}

TColor TCanvas::GetPixels(int x, int y) {
    HDC dc = GetHandle();
    const COLORREF c = dc ? GetPixel(dc, x, y) : CLR_INVALID;
    return static_cast<TColor>(c == CLR_INVALID ? static_cast<COLORREF>(-1) : c);
}

void TCanvas::SetPixels(int x, int y, TColor color) {
    Changing();
    if (HDC dc = GetHandle()) SetPixel(dc, x, y, ColorToRGB(color));
    Changed();
}

TRect TCanvas::GetClipRect() {
    TRect r{};
    if (HDC dc = GetHandle()) GetClipBox(dc, &r);
    return r;
}

void TCanvas::SetClipRect(const TRect& r) {
    if (HDC dc = GetHandle()) {
        SelectClipRgn(dc, nullptr);
        IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    }
}

void TCanvas::ResetClipRect() {
    if (HDC dc = GetHandle()) SelectClipRgn(dc, nullptr);
}

} // namespace lum::platform::gdi
