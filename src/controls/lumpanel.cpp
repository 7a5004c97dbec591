// The panels, and the marker panel's values: ranges, the display window,
// the mapping between values and pixels, the lines' setters, hit tests and
// snapping. Drawing is in lumpanel_draw.cpp, the mouse in lumpanel_mouse.cpp.
#include "controls/lumpanel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

#include "core/lumutils.h"
#include "editing/lummrklst.h"
#include "platform/gdi/graphics.h"

namespace lum {

namespace {
constexpr int kPanelWidth = 185;
constexpr int kPanelHeight = 41;
constexpr std::int32_t kPixelLimit = 16384;

// A real value rounded to nearest (ties to even) and held inside 32 bits,
// so that values far outside the window map to far-away pixels instead of
// overflowing.
std::int32_t RoundToInt32(double v) {
    v = std::nearbyint(v);
    if (std::isnan(v)) return 0;
    if (v <= std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    if (v >= std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(v);
}

std::int32_t Clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int32_t TruncToInt32(double v) {
    return RoundToInt32(std::trunc(v));
}

// A window's width in value units; never below 1, so nothing divides by 0.
double Span(std::int32_t lo, std::int32_t hi) {
    return std::max(1.0, static_cast<double>(hi) - lo);
}

// The grid line at or below Value and the one above it. Floor rather than
// truncation, so that negative values snap to their neighbours too.
std::int32_t GridLine(double value, double width, int step) {
    return TruncToInt32((std::floor(value / width) + step) * width);
}
} // namespace

// --- TLumPanel, TLumBorder ---

TLumPanel::TLumPanel(QWidget* owner) : TLumCustomPanel(owner) {
    resize(kPanelWidth, kPanelHeight);
}

TLumBorder::TLumBorder(QWidget* owner) : TLumGraphicControl(owner) {
    resize(kPanelWidth, kPanelHeight);
}

// --- Construction ---

TLumCustomMarkerPanel::TLumCustomMarkerPanel(QWidget* owner) : TLumCustomPanel(owner) {
    resize(kPanelWidth, kPanelHeight);
    FOwnCursor = GetCursor();
    FOwnShowHint = GetShowHint();
    AdjustBitmaps();
}

TLumCustomMarkerPanel::~TLumCustomMarkerPanel() = default;

// --- Ranges and the display window ---

void TLumCustomMarkerPanel::SetRangeMinX(std::int32_t value) {
    SetRangeAll(value, FRangeMaxX, FRangeMinY, FRangeMaxY, FBaseY);
}
void TLumCustomMarkerPanel::SetRangeMaxX(std::int32_t value) {
    SetRangeAll(FRangeMinX, value, FRangeMinY, FRangeMaxY, FBaseY);
}
void TLumCustomMarkerPanel::SetRangeMinY(std::int32_t value) {
    SetRangeAll(FRangeMinX, FRangeMaxX, value, FRangeMaxY, FBaseY);
}
void TLumCustomMarkerPanel::SetRangeMaxY(std::int32_t value) {
    SetRangeAll(FRangeMinX, FRangeMaxX, FRangeMinY, value, FBaseY);
}
void TLumCustomMarkerPanel::SetBaseY(std::int32_t value) {
    SetRangeAll(FRangeMinX, FRangeMaxX, FRangeMinY, FRangeMaxY, value);
}
void TLumCustomMarkerPanel::SetDispMinX(std::int32_t value) {
    SetDispAll(value, FDispMaxX, FDispMinY, FDispMaxY);
}
void TLumCustomMarkerPanel::SetDispMaxX(std::int32_t value) {
    SetDispAll(FDispMinX, value, FDispMinY, FDispMaxY);
}
void TLumCustomMarkerPanel::SetDispMinY(std::int32_t value) {
    SetDispAll(FDispMinX, FDispMaxX, value, FDispMaxY);
}
void TLumCustomMarkerPanel::SetDispMaxY(std::int32_t value) {
    SetDispAll(FDispMinX, FDispMaxX, FDispMinY, value);
}
void TLumCustomMarkerPanel::SetMinMax(std::int32_t min, std::int32_t max) {
    SetDispAll(min, max, FDispMinY, FDispMaxY);
}
void TLumCustomMarkerPanel::SetMinMaxY(std::int32_t min, std::int32_t max) {
    SetDispAll(FDispMinX, FDispMaxX, min, max);
}

void TLumCustomMarkerPanel::SetRangeAll(std::int32_t minX, std::int32_t maxX, std::int32_t minY,
                                        std::int32_t maxY, std::int32_t baseY) {
    if (maxX < minX) std::swap(minX, maxX);
    if (maxY < minY) std::swap(minY, maxY);
    if (minX == FRangeMinX && maxX == FRangeMaxX && minY == FRangeMinY && maxY == FRangeMaxY &&
        baseY == FBaseY)
        return;
    FRangeMinX = minX;
    FRangeMaxX = Clamp32(std::max<std::int64_t>(maxX, std::int64_t{minX} + 1));
    FRangeMinY = minY;
    FRangeMaxY = Clamp32(std::max<std::int64_t>(maxY, std::int64_t{minY} + 1));
    FBaseY = MinMax(baseY, FRangeMinY, FRangeMaxY);
    // The "+ 1" bounds use the window as it was before.
    const std::int64_t oldMinX = FDispMinX, oldMinY = FDispMinY;
    SetDispAll(
        MinMax(FDispMinX, FRangeMinX, FRangeMaxX),
        Clamp32(std::max<std::int64_t>(MinMax(FDispMaxX, FRangeMinX, FRangeMaxX), oldMinX + 1)),
        MinMax(FDispMinY, FRangeMinY, FRangeMaxY),
        Clamp32(std::max<std::int64_t>(MinMax(FDispMaxY, FRangeMinY, FRangeMaxY), oldMinY + 1)));
    Invalidate();
}

void TLumCustomMarkerPanel::SetDispAll(std::int32_t minX, std::int32_t maxX, std::int32_t minY,
                                       std::int32_t maxY) {
    if (maxX < minX) std::swap(minX, maxX);
    if (maxY < minY) std::swap(minY, maxY);
    if (minX == FDispMinX && maxX == FDispMaxX && minY == FDispMinY && maxY == FDispMaxY) return;
    const int e2 = 2 * BevelExtend();
    // A panel no wider than its bevel still keeps a window one unit wide.
    CheckRange(minX, maxX, FRangeMinX, FRangeMaxX, std::max(width() - e2, 1));
    FDispMinX = minX;
    FDispMaxX = maxX;
    CheckRange(minY, maxY, FRangeMinY, FRangeMaxY, std::max(height() - e2, 1));
    FDispMinY = minY;
    FDispMaxY = maxY;
    RangeChanged();
}

void TLumCustomMarkerPanel::CheckRange(std::int32_t& lo, std::int32_t& hi, std::int32_t rangeMin,
                                       std::int32_t rangeMax, std::int32_t span) {
    if (hi < lo) std::swap(lo, hi);
    std::int64_t l = lo, h = std::max<std::int64_t>(hi, std::int64_t{lo} + span);
    if (h > rangeMax) {
        const std::int64_t d = h - l;
        h = rangeMax;
        l = std::max<std::int64_t>(rangeMax - d, rangeMin);
    } else if (l < rangeMin) {
        const std::int64_t d = h - l;
        l = rangeMin;
        h = std::min<std::int64_t>(rangeMin + d, rangeMax);
    }
    lo = Clamp32(l);
    hi = Clamp32(h);
}

void TLumCustomMarkerPanel::RangeChanged() {
    if (!FLoading && OnRangeChanged) OnRangeChanged(this, FDispMinX, FDispMaxX);
    Invalidate();
}

// --- Pixels and values ---

std::int32_t TLumCustomMarkerPanel::Inner(int size) const {
    // The pixel steps across the inner area; a panel too small for its
    // bevel is treated as one step wide instead of dividing by zero.
    return std::max(size - 2 * BevelExtend() - 1, 1);
}

std::int32_t TLumCustomMarkerPanel::X_ToPixelNoLimit(std::int32_t x) const {
    const double steps = Inner(width());
    return RoundToInt32(
        std::nearbyint(steps * (static_cast<double>(x) - FDispMinX) / Span(FDispMinX, FDispMaxX)) +
        BevelExtend());
}

std::int32_t TLumCustomMarkerPanel::X_ToPixel(std::int32_t x) const {
    return std::clamp(X_ToPixelNoLimit(x), -kPixelLimit, kPixelLimit);
}

std::int32_t TLumCustomMarkerPanel::PixelTo_X(std::int32_t p) const {
    const double steps = Inner(width());
    return RoundToInt32(std::nearbyint((static_cast<double>(p) - BevelExtend()) *
                                       Span(FDispMinX, FDispMaxX) / steps) +
                        FDispMinX);
}

std::int32_t TLumCustomMarkerPanel::Y_ToPixelNoLimit(std::int32_t y) const {
    const double steps = Inner(height());
    return RoundToInt32(
        static_cast<double>(height()) - BevelExtend() -
        std::nearbyint(steps * (static_cast<double>(y) - FDispMinY) / Span(FDispMinY, FDispMaxY)) -
        1);
}

std::int32_t TLumCustomMarkerPanel::Y_ToPixel(std::int32_t y) const {
    return std::clamp(Y_ToPixelNoLimit(y), -kPixelLimit, kPixelLimit);
}

std::int32_t TLumCustomMarkerPanel::PixelTo_Y(std::int32_t p) const {
    const double steps = Inner(height());
    return RoundToInt32(std::nearbyint((static_cast<double>(height()) - BevelExtend() - p - 1) *
                                       Span(FDispMinY, FDispMaxY) / steps) +
                        FDispMinY);
}

bool TLumCustomMarkerPanel::IsGridX(std::int32_t x, std::int32_t& value) const {
    value = PixelTo_X(x);
    if (!FSnapToGrid || value < FDispMinX || value > FDispMaxX) return false;
    std::int32_t g = GridLine(value, FGridWidthX, 0);
    if (x - std::int64_t{X_ToPixel(g)} <= FSnapRange) {
        value = g;
        return true;
    }
    g = GridLine(value, FGridWidthX, 1);
    if (std::int64_t{X_ToPixel(g)} - x <= FSnapRange) {
        value = g;
        return true;
    }
    return false;
}

bool TLumCustomMarkerPanel::IsGridY(std::int32_t y, std::int32_t& value) const {
    value = PixelTo_Y(y);
    if (!FSnapToGrid || value < FDispMinY || value > FDispMaxY) return false;
    // Larger values lie higher up: the line below has the larger row.
    std::int32_t g = GridLine(value, FGridWidthY, 0);
    if (std::int64_t{Y_ToPixel(g)} - y <= FSnapRange) {
        value = g;
        return true;
    }
    g = GridLine(value, FGridWidthY, 1);
    if (y - std::int64_t{Y_ToPixel(g)} <= FSnapRange) {
        value = g;
        return true;
    }
    return false;
}

// --- The lines ---

void TLumCustomMarkerPanel::SetHelpLocator(std::int32_t value) {
    if (value == FHelpLocator) return;
    FHelpLocator = value;
    RedrawLine(liHelp, FUseHelpLocator ? LineColumn(value) : -1);
}

// The limits keep lines apart; a negative value clears the line, so it
// passes them untouched.
void TLumCustomMarkerPanel::SetLocator(std::int32_t value) {
    if (value >= 0 && FUseMarkers && FCorralLocator) {
        if (FMarkerA >= 0) value = std::max(value, FMarkerA);
        if (FMarkerB >= 0) value = std::min(value, FMarkerB);
    }
    if (value == FLocator) return;
    FLocator = value;
    RedrawLine(liLocator, FUseLocator ? LineColumn(value) : -1);
}

void TLumCustomMarkerPanel::SetMarkerA(std::int32_t value) {
    if (value >= 0) {
        if (FUseLocator && FCorralLocator && FLocator > 0)
            value = std::min(value, FLocator - 1);
        else if (FMarkerB > 0)
            value = std::min(value, FMarkerB - 1);
    }
    if (value == FMarkerA) return;
    FMarkerA = value;
    RedrawRangeMarkers();
}

void TLumCustomMarkerPanel::SetMarkerB(std::int32_t value) {
    if (value >= 0) {
        if (FUseLocator && FCorralLocator && FLocator >= 0)
            value = std::max(value, FLocator + 1);
        else if (FMarkerA >= 0)
            value = std::max(value, FMarkerA + 1);
    }
    if (value == FMarkerB) return;
    FMarkerB = value;
    RedrawRangeMarkers();
}

void TLumCustomMarkerPanel::SetUseLocator(bool value) {
    if (value == FUseLocator) return;
    FUseLocator = value;
    AdjustBitmaps();
    Invalidate();
}

void TLumCustomMarkerPanel::SetUseMarkers(bool value) {
    if (value == FUseMarkers) return;
    FUseMarkers = value;
    AdjustBitmaps();
    Invalidate();
}

void TLumCustomMarkerPanel::SetUseHelpLocator(bool value) {
    if (value == FUseHelpLocator) return;
    FUseHelpLocator = value;
    Invalidate();
}

void TLumCustomMarkerPanel::SetDrawSolid(bool value) {
    if (value == FDrawSolid) return;
    FDrawSolid = value;
    AdjustBitmaps();
    Invalidate();
}

void TLumCustomMarkerPanel::SetDrawGriff(bool value) {
    if (value == FDrawGriff) return;
    FDrawGriff = value;
    AdjustBitmaps();
    Invalidate();
}

TColor TLumCustomMarkerPanel::GetColors(int index) const {
    return index >= 0 && index < 5 ? FColors[index] : 0;
}

void TLumCustomMarkerPanel::SetColors(int index, TColor value) {
    if (index >= 0 && index < 5) {
        if (FColors[index] == value) return;
        FColors[index] = value;
    }
    Invalidate();
}

void TLumCustomMarkerPanel::SetDrawGridX(bool value) {
    if (value == FDrawGridX) return;
    FDrawGridX = value;
    Invalidate();
}

void TLumCustomMarkerPanel::SetDrawGridY(bool value) {
    if (value == FDrawGridY) return;
    FDrawGridY = value;
    Invalidate();
}

namespace {
// Widths that are not positive numbers (NaN and infinity included) become 1.
float GridWidth(float value) {
    return value > 0 && std::isfinite(value) ? value : 1.0f;
}
} // namespace

void TLumCustomMarkerPanel::SetGridWidthX(float value) {
    if (value == FGridWidthX) return;
    FGridWidthX = GridWidth(value);
    Invalidate();
}

void TLumCustomMarkerPanel::SetGridWidthY(float value) {
    if (value == FGridWidthY) return;
    FGridWidthY = GridWidth(value);
    Invalidate();
}

void TLumCustomMarkerPanel::SetDefaultHint(const std::string& value) {
    if (value == FDefaultHint) return;
    FDefaultHint = value;
    SetHint(value);
}

void TLumCustomMarkerPanel::SetMarkerList(TLumMarkerList* list) {
    FMarkerList = list;
    Invalidate();
}

// --- Hit tests ---

int TLumCustomMarkerPanel::LineColumn(std::int32_t value) const {
    return value < 0 ? -1 : X_ToPixel(value);
}

bool TLumCustomMarkerPanel::IsLocator(int x) const {
    if (!FUseLocator || FLocator < 0 || x < 0 || x > width()) return false;
    return std::abs(x - X_ToPixel(FLocator)) <= FSnapRange;
}

bool TLumCustomMarkerPanel::IsMarkerA(int x) const {
    if (!FUseMarkers || FMarkerA < 0 || x < 0 || x > width()) return false;
    const int c = X_ToPixel(FMarkerA);
    return c - FSnapRange - 1 <= x && x <= c + FSnapRange;
}

bool TLumCustomMarkerPanel::IsMarkerB(int x) const {
    if (!FUseMarkers || FMarkerB < 0 || x < 0 || x > width()) return false;
    const int c = X_ToPixel(FMarkerB);
    return c - FSnapRange <= x && x <= c + FSnapRange + 1;
}

int TLumCustomMarkerPanel::FindListMarker(int x) const {
    if (!FMarkerList || x < 0 || x > width()) return -1;
    const int count = FMarkerList->GetCount();
    const int i = FMarkerList->LocateMarker(PixelTo_X(x));
    for (int j : {i, i - 1}) {
        if (j < 0 || j >= count) continue;
        const TLumMarker m = FMarkerList->Get(j);
        if (m.Visible && std::abs(X_ToPixel(m.Offset) - x) <= FSnapRange) return j;
    }
    return -1;
}

bool TLumCustomMarkerPanel::IsListMarker(int x) const {
    const int j = FindListMarker(x);
    return j >= 0 && !FMarkerList->Get(j).Locked;
}

bool TLumCustomMarkerPanel::IsAnyMarker(int x) const {
    return IsLocator(x) || IsMarkerA(x) || IsMarkerB(x) || IsListMarker(x);
}

TMarkerShift TLumCustomMarkerPanel::MouseAction(TMouseButton button, int x) const {
    const bool left = button == mbLeft;
    if (left && IsLocator(x)) return mkLocator;
    // Both markers move together only when both are set.
    if (IsMarkerA(x)) return left ? mkMarkerA : FMarkerB >= 0 ? mkMarkerAB : mkNone;
    if (IsMarkerB(x)) return left ? mkMarkerB : FMarkerA >= 0 ? mkMarkerBA : mkNone;
    if (left && IsListMarker(x)) return mkListMarker;
    return mkNone;
}

std::string TLumCustomMarkerPanel::GetHintText(int x, int) const {
    if (IsLocator(x)) return "Locator";
    if (IsMarkerA(x)) return "Marker A";
    if (IsMarkerB(x)) return "Marker B";
    const int j = FindListMarker(x);
    if (j >= 0) return FMarkerList->Get(j).GetName();
    return FDefaultHint;
}

int TLumCustomMarkerPanel::GetMouseCursor(int x, int) const {
    if (IsAnyMarker(x)) return FDrawGriff ? 2001 : 2011;
    return FOwnCursor;
}

} // namespace lum
