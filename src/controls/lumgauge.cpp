#include "controls/lumgauge.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

#include "core/lumutils.h"

namespace lum {

using platform::gdi::TBitmap;

namespace {
void Fill(TCanvas& canvas, const TRect& r, TColor color) {
    canvas.GetBrush().SetStyle(platform::gdi::bsSolid);
    canvas.GetBrush().SetColor(color);
    canvas.FillRect(r);
}

int RoundEven(double v) {
    return static_cast<int>(std::nearbyint(v)); // the default mode: to nearest, ties to even
}
} // namespace

TLumCustomGauge::TLumCustomGauge(QWidget* owner) : TLumGraphicControl(owner) {
    SetBounds(GetLeft(), GetTop(), 150, 18);
}

void TLumCustomGauge::SetMinValue(std::int32_t value) {
    value = MinMax(value, -2147483647, FMaxValue);
    if (value == FMinValue) return;
    FMinValue = value;
    Invalidate();
}

void TLumCustomGauge::SetMaxValue(std::int32_t value) {
    value = MinMax(value, FMinValue, 2147483647);
    if (value == FMaxValue) return;
    FMaxValue = value;
    Invalidate();
}

void TLumCustomGauge::SetProgress(std::int32_t value) {
    value = MinMax(value, FMinValue, FMaxValue);
    if (value == FProgress) return;
    const int before = GetPercentDone();
    FProgress = value;
    if (GetPercentDone() != before) Repaint();
}

void TLumCustomGauge::AddProgress(std::int32_t delta) {
    // Summed wide, so that a big step saturates instead of wrapping round.
    const std::int64_t sum = static_cast<std::int64_t>(FProgress) + delta;
    SetProgress(static_cast<std::int32_t>(std::clamp<std::int64_t>(sum, INT32_MIN, INT32_MAX)));
}

void TLumCustomGauge::SetGaugeKind(TLumGaugeKind value) {
    if (value == FKind) return;
    FKind = value;
    Invalidate();
}

void TLumCustomGauge::SetShowText(bool value) {
    if (value == FShowText) return;
    FShowText = value;
    Invalidate();
}

void TLumCustomGauge::SetForeColor(TColor value) {
    if (value == FForeColor) return;
    FForeColor = value;
    Invalidate();
}

void TLumCustomGauge::SetBackColor(TColor value) {
    if (value == FBackColor) return;
    FBackColor = value;
    Invalidate();
}

void TLumCustomGauge::SetBWText(bool value) {
    if (value == FBWText) return;
    FBWText = value;
    Invalidate();
}

int TLumCustomGauge::GetPercentDone() const {
    if (FMaxValue == FMinValue) return 0;
    const double percent = (static_cast<double>(FProgress) - FMinValue) * 100.0 /
                           (static_cast<double>(FMaxValue) - FMinValue);
    // Far outside a changed range the quotient may not fit an integer.
    return static_cast<int>(std::clamp(std::trunc(percent), static_cast<double>(INT_MIN),
                                       static_cast<double>(INT_MAX)));
}

std::string TLumCustomGauge::GetPercentText() const {
    const std::string percent = std::to_string(GetPercentDone()) + "%";
    return GetCaption().empty() ? percent : GetCaption() + " " + percent;
}

int TLumCustomGauge::Scale(int size) const {
    const std::int64_t length = static_cast<std::int64_t>(size) * GetPercentDone() / 100;
    return static_cast<int>(std::clamp<std::int64_t>(length, -(1 << 30), 1 << 30));
}

void TLumCustomGauge::Paint() {
    TCanvas& canvas = GetCanvas();
    const TRect inner = GetBevel()->PaintBevel(canvas, GetClientRect(), true);
    const int w = inner.right - inner.left, h = inner.bottom - inner.top;
    if (w <= 0 || h <= 0) return;
    // One off-screen image a paint, so the gauge never flickers.
    TBitmap image;
    image.SetSize(w, h);
    const TRect r{0, 0, w, h};
    PaintImage(image.GetCanvas(), r);
    if (FShowText) PaintText(image.GetCanvas(), r);
    canvas.Draw(inner.left, inner.top, image);
}

void TLumCustomGauge::PaintImage(TCanvas& canvas, const TRect& rect) {
    switch (FKind) {
    case gkHorizontalBar:
        PaintAsBar(canvas, rect, true);
        break;
    case gkVerticalBar:
        PaintAsBar(canvas, rect, false);
        break;
    case gkPie:
        PaintAsPie(canvas, rect);
        break;
    case gkNeedle:
        PaintAsNeedle(canvas, rect);
        break;
    default:
        PaintAsNothing(canvas, rect);
        break;
    }
}

void TLumCustomGauge::PaintAsNothing(TCanvas& canvas, const TRect& rect) {
    Fill(canvas, rect, FBackColor);
}

void TLumCustomGauge::PaintAsBar(TCanvas& canvas, const TRect& r, bool horizontal) {
    Fill(canvas, r, FBackColor);
    canvas.GetBrush().SetColor(FForeColor);
    canvas.GetPen().SetColor(FForeColor);
    canvas.GetPen().SetWidth(1);
    if (horizontal) {
        const int w = Scale(r.right - r.left);
        if (w <= 0) return;
        canvas.FillRect({r.left, r.top, r.left + w, r.bottom});
    } else {
        const int h = Scale(r.bottom - r.top);
        if (h <= 0) return;
        canvas.FillRect({r.left, r.bottom - h, r.right, r.bottom});
    }
}

void TLumCustomGauge::PaintAsPie(TCanvas& canvas, const TRect& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    Fill(canvas, r, GetColor());
    canvas.GetBrush().SetColor(FBackColor);
    canvas.GetPen().SetColor(FForeColor);
    canvas.GetPen().SetWidth(1);
    canvas.Ellipse(r.left, r.top, w, h);
    const int percent = GetPercentDone();
    if (percent <= 0) return;
    canvas.GetBrush().SetColor(FForeColor);
    const int mx = w / 2, my = h / 2;
    const double angle = (percent / 50.0 + 0.5) * std::numbers::pi;
    // Counter-clockwise from the slice's far edge to the top centre.
    canvas.Pie(r.left, r.top, w, h, RoundEven(mx * (1 - std::cos(angle))),
               RoundEven(my * (1 - std::sin(angle))), mx, 0);
}

void TLumCustomGauge::PaintAsNeedle(TCanvas& canvas, const TRect& r) {
    const int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top;
    Fill(canvas, r, GetColor());
    canvas.GetBrush().SetColor(FBackColor);
    canvas.GetPen().SetColor(FForeColor);
    canvas.GetPen().SetWidth(1);
    // The upper half of an ellipse as the dial, and its base line.
    canvas.Pie(x, y, w, 2 * h - 1, x + w, r.bottom - 1, x, r.bottom - 1);
    canvas.MoveTo(x, r.bottom);
    canvas.LineTo(x + w, r.bottom);
    const int percent = GetPercentDone();
    if (percent <= 0) return;
    // The needle turns about the dial's centre, which is the middle of the
    // image, not of the whole control with its bevel.
    const int half = w / 2, cy = r.bottom - 1;
    const double angle = percent / 100.0 * std::numbers::pi;
    canvas.MoveTo(x + half, cy);
    canvas.LineTo(x + RoundEven(half * (1 - std::cos(angle))),
                  y + RoundEven((cy - y) * (1 - std::sin(angle))));
}

void TLumCustomGauge::PaintText(TCanvas& canvas, const TRect& r) {
    const std::string text = GetPercentText();
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (FBWText && (FKind == gkHorizontalBar || FKind == gkVerticalBar)) {
        canvas.SetFont(GetFont());
        const platform::SIZE extent = canvas.TextExtent(text);
        const int x = r.left + (w - extent.cx) / 2, y = r.top + (h - extent.cy) / 2;
        canvas.GetBrush().SetStyle(platform::gdi::bsClear);
        const bool horizontal = FKind == gkHorizontalBar;
        const int edge = horizontal ? r.left + Scale(w) : r.bottom - Scale(h);
        const TRect empty =
            horizontal ? TRect{edge, r.top, r.right, r.bottom} : TRect{r.left, y, r.right, edge};
        const TRect filled =
            horizontal ? TRect{x, r.top, edge, r.bottom} : TRect{r.left, edge, r.right, r.bottom};
        canvas.TextRect(empty, x, y, text);
        // The complement of the font's colour over the filled part. A system
        // colour is resolved first: its index bits are no colour.
        const auto rgb = platform::gdi::ColorToRGB(GetFont().GetColor());
        canvas.GetFont().SetColor(static_cast<TColor>(rgb ^ 0xFFFFFFu));
        canvas.TextRect(filled, x, y, text);
        return;
    }
    // White text on black, XOR-ed onto the image: it inverts what it covers.
    TBitmap mask;
    mask.SetSize(w, h);
    TCanvas& mc = mask.GetCanvas();
    Fill(mc, {0, 0, w, h}, clBlack);
    mc.SetFont(GetFont());
    mc.GetFont().SetColor(clWhite);
    const platform::SIZE extent = mc.TextExtent(text);
    mc.TextOut((w - extent.cx) / 2, (h - extent.cy) / 2, text);
    const auto oldMode = canvas.GetCopyMode();
    canvas.SetCopyMode(platform::gdi::cmSrcInvert);
    canvas.Draw(r.left, r.top, mask);
    canvas.SetCopyMode(oldMode);
}

} // namespace lum
