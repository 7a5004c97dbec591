// The marker panel's drawing: the panel with its grids and lines in a
// paint, and single lines moved outside a paint on the control's window,
// either inverted (drawn again where they were, then where they go) or
// solid over the strip of background saved from under them.
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <span>

#include "controls/lumpanel.h"
#include "core/lummath.h"
#include "editing/lummrklst.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/graphics.h"

namespace lum {

namespace gdi = platform::gdi;

namespace {

// The strip saved from under a solid line: the line's column alone, or ten
// columns (x - 5 ... x + 4) for a line with a grip.
constexpr int kGripStrip = 10;
constexpr int kGripLeft = 5;

// One row of a grip: offsets from the top row and from the line's column.
struct GripRow {
    int row, left, right;
};

constexpr GripRow kLocatorGrip[] = {{0, -5, 4}, {1, -4, 3}, {2, -3, 2}, {3, -2, 1}, {4, -1, 0}};
constexpr GripRow kMarkerAGrip[] = {{0, 0, 1}, {1, 0, 2}, {2, 0, 3}, {3, 0, 4},
                                    {4, 0, 3}, {5, 0, 2}, {6, 0, 1}};
constexpr GripRow kMarkerBGrip[] = {{0, -1, 0}, {1, -2, 0}, {2, -3, 0}, {3, -4, 0},
                                    {4, -3, 0}, {5, -2, 0}, {6, -1, 0}};
constexpr GripRow kHelpGrip[] = {{0, -3, 3}, {1, -2, 2}, {2, -1, 1}, {3, 0, 0}};
constexpr GripRow kListGrip[] = {{0, -3, 3}, {1, -3, 3}, {2, -3, 3}, {3, -3, 3},
                                 {4, -3, 3}, {5, -3, 3}, {6, -3, 3}};
constexpr GripRow kListLeftGrip[] = {{0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4},
                                     {4, 0, 4}, {5, 0, 4}, {6, 0, 4}};
constexpr GripRow kListRightGrip[] = {{0, -4, 0}, {1, -4, 0}, {2, -4, 0}, {3, -4, 0},
                                      {4, -4, 0}, {5, -4, 0}, {6, -4, 0}};

std::span<const GripRow> GripOf(int kind) {
    switch (kind) {
    case 0:
        return kLocatorGrip;
    case 1:
        return kMarkerAGrip;
    case 2:
        return kMarkerBGrip;
    case 3:
        return kHelpGrip;
    case 5:
        return kListLeftGrip;
    case 6:
        return kListRightGrip;
    default:
        return kListGrip;
    }
}

// Narrows the canvas's clip to R for its lifetime and gives the clip back
// after, so that drawing inside a paint stays within the painted area.
class ClipScope {
public:
    ClipScope(TCanvas& canvas, const TRect& r) : dc_(canvas.GetHandle()) {
        gdi::GetClipBox(dc_, &saved_);
        gdi::IntersectClipRect(dc_, r.left, r.top, r.right, r.bottom);
    }
    ~ClipScope() {
        gdi::HRGN region = gdi::CreateRectRgnIndirect(&saved_);
        gdi::SelectClipRgn(dc_, region);
        gdi::DeleteObject(region);
    }
    ClipScope(const ClipScope&) = delete;
    ClipScope& operator=(const ClipScope&) = delete;

private:
    gdi::HDC dc_;
    TRect saved_{};
};

// Pen settings for one drawing call, put back after so that the window
// canvas stays as others expect it.
class PenScope {
public:
    PenScope(TCanvas& canvas, TColor color, gdi::TPenMode mode, gdi::TPenStyle style)
        : canvas_(canvas) {
        gdi::TPen& pen = canvas.GetPen();
        saved_.Assign(pen);
        savedBrush_ = canvas.GetBrush().GetStyle();
        pen.SetWidth(1);
        pen.SetColor(color);
        pen.SetMode(mode);
        pen.SetStyle(style);
        // Gaps of a styled pen stay transparent.
        canvas.GetBrush().SetStyle(gdi::bsClear);
    }
    ~PenScope() {
        canvas_.GetPen().Assign(saved_);
        canvas_.GetBrush().SetStyle(savedBrush_);
    }
    PenScope(const PenScope&) = delete;
    PenScope& operator=(const PenScope&) = delete;

private:
    TCanvas& canvas_;
    gdi::TPen saved_;
    gdi::TBrushStyle savedBrush_;
};

void VLine(TCanvas& canvas, int x, int y1, int y2) {
    canvas.MoveTo(x, y1);
    canvas.LineTo(x, y2);
}

} // namespace

bool TLumCustomMarkerPanel::InColumns(int column) const {
    const int e = BevelExtend();
    return column >= e && column <= width() - e - 1;
}

bool TLumCustomMarkerPanel::CanDraw() const {
    return (isVisible() || Designing()) && width() > 0 && height() > 0;
}

void TLumCustomMarkerPanel::ForgetDrawnLines() {
    std::fill(std::begin(FDrawn), std::end(FDrawn), -1);
}

void TLumCustomMarkerPanel::AdjustBitmaps() {
    for (auto& b : FBitmaps)
        b.reset();
    if (FDrawSolid && height() > 0) {
        const int w = FDrawGriff ? kGripStrip : 1;
        auto make = [&](LineIndex i) {
            FBitmaps[i] = std::make_unique<gdi::TBitmap>();
            FBitmaps[i]->SetSize(w, height());
        };
        if (FUseLocator) make(liLocator);
        if (FUseMarkers) {
            make(liMarkerA);
            make(liMarkerB);
        }
    }
    ForgetDrawnLines();
}

void TLumCustomMarkerPanel::resizeEvent(QResizeEvent* event) {
    TLumCustomPanel::resizeEvent(event);
    if (event->size().height() != event->oldSize().height() && event->size().height() > 0) {
        AdjustBitmaps();
        Invalidate();
    }
}

void TLumCustomMarkerPanel::RangeMarkerColumns(int& a, int& b) const {
    a = FUseMarkers ? LineColumn(FMarkerA) : -1;
    b = FUseMarkers ? LineColumn(FMarkerB) : -1;
    if (FUseMarkers && FMarkerA >= 0 && FMarkerB >= 0) {
        const int ca = a, cb = b;
        a = std::min(ca, cb - 1);
        b = std::max(ca + 1, cb);
    }
}

void TLumCustomMarkerPanel::RedrawLine(LineIndex index, int column) {
    if (!InColumns(column)) column = -1;
    if (column == FDrawn[index] || !CanDraw()) return;
    TCanvas& canvas = GetCanvas();
    if (FDrawSolid && FBitmaps[index])
        DrawAsSolid(canvas, index, column);
    else
        DrawAsXOR(canvas, index, column);
}

void TLumCustomMarkerPanel::RedrawRangeMarkers() {
    int a, b;
    RangeMarkerColumns(a, b);
    RedrawLine(liMarkerA, a);
    RedrawLine(liMarkerB, b);
}

void TLumCustomMarkerPanel::DrawAsXOR(TCanvas& canvas, LineIndex index, int column) {
    const bool help = index == liHelp;
    const int old = FDrawn[index];
    FDrawn[index] = column;
    if (FDrawGriff) {
        const int e = BevelExtend();
        ClipScope clip(canvas, {e, 0, width() - e, height()});
        const int kind = help ? 3 : static_cast<int>(index) - 1;
        if (old >= 0) DrawMarkerGriff(canvas, old, kind, FColors[index], true, help);
        if (column >= 0) DrawMarkerGriff(canvas, column, kind, FColors[index], true, help);
        return;
    }
    PenScope pen(canvas, FColors[index], gdi::pmXor, help ? gdi::psDot : gdi::psSolid);
    if (old >= 0) VLine(canvas, old, 0, height());
    if (column >= 0) VLine(canvas, column, 0, height());
}

void TLumCustomMarkerPanel::DrawAsSolid(TCanvas& canvas, LineIndex index, int column) {
    gdi::TBitmap& strip = *FBitmaps[index];
    const int old = FDrawn[index];
    FDrawn[index] = column;
    const int h = height();
    const gdi::HDC dc = canvas.GetHandle();
    const gdi::HDC saved = strip.GetCanvas().GetHandle();
    if (FDrawGriff) {
        const int e = BevelExtend();
        ClipScope clip(canvas, {e, 1, width() - e, h});
        if (old >= 0) gdi::BitBlt(dc, old - kGripLeft, 0, kGripStrip, h, saved, 0, 0, gdi::SRCCOPY);
        if (column < 0) return;
        gdi::BitBlt(saved, 0, 0, kGripStrip, h, dc, column - kGripLeft, 0, gdi::SRCCOPY);
        DrawMarkerGriff(canvas, column, static_cast<int>(index) - 1, FColors[index], false, false);
        return;
    }
    if (old >= 0) gdi::BitBlt(dc, old, 0, 1, h, saved, 0, 0, gdi::SRCCOPY);
    if (column < 0) return;
    gdi::BitBlt(saved, 0, 0, 1, h, dc, column, 0, gdi::SRCCOPY);
    PenScope pen(canvas, FColors[index], gdi::pmCopy, gdi::psSolid);
    VLine(canvas, column, 0, h);
}

void TLumCustomMarkerPanel::DrawMarkerGriff(TCanvas& canvas, int column, int kind, TColor color,
                                            bool invert, bool dotted) {
    const int top = BevelExtend();
    const auto grip = GripOf(kind);
    const int below = top + static_cast<int>(grip.size());
    const int h = height();
    if (invert) {
        // Each pixel is inverted once, so that drawing it again erases it.
        {
            PenScope pen(canvas, color, gdi::pmXor, gdi::psSolid);
            for (const GripRow& r : grip) {
                canvas.MoveTo(column + r.left, top + r.row);
                canvas.LineTo(column + r.right + 1, top + r.row);
            }
        }
        PenScope pen(canvas, color, gdi::pmXor, dotted ? gdi::psDot : gdi::psSolid);
        VLine(canvas, column, below, h);
        return;
    }
    {
        PenScope pen(canvas, color, gdi::pmCopy, gdi::psSolid);
        for (const GripRow& r : grip) {
            canvas.MoveTo(column + r.left, top + r.row);
            canvas.LineTo(column + r.right + 1, top + r.row);
        }
    }
    if (kind >= 4) {
        // List markers are outlined in black: the first and last rows and
        // the ends of the others.
        const std::size_t last = grip.size() - 1;
        for (std::size_t i = 0; i <= last; ++i) {
            const GripRow& r = grip[i];
            if (i == 0 || i == last) {
                PenScope pen(canvas, clBlack, gdi::pmCopy, gdi::psSolid);
                canvas.MoveTo(column + r.left, top + r.row);
                canvas.LineTo(column + r.right + 1, top + r.row);
            } else {
                canvas.SetPixels(column + r.left, top + r.row, clBlack);
                canvas.SetPixels(column + r.right, top + r.row, clBlack);
            }
        }
    }
    if (dotted) {
        VLineDoted(canvas, column, below, h, color);
    } else {
        PenScope pen(canvas, color, gdi::pmCopy, gdi::psSolid);
        VLine(canvas, column, below, h);
    }
}

void TLumCustomMarkerPanel::VLineDoted(TCanvas& canvas, int x, int y1, int y2, TColor color) {
    for (int y = y1; y < y2; y += 3)
        canvas.SetPixels(x, y, color);
}

void TLumCustomMarkerPanel::HLineDoted(TCanvas& canvas, int y, int x1, int x2, TColor color) {
    for (int x = x1; x < x2; x += 3)
        canvas.SetPixels(x, y, color);
}

void TLumCustomMarkerPanel::DrawGridsX(TCanvas& canvas) {
    if (!FDrawGridX) return;
    const double gw = FGridWidthX;
    // Compared before truncating, so that a tiny width cannot overflow.
    const double lines = (static_cast<double>(FDispMaxX) - FDispMinX) / gw;
    if (lines > width() / 2) return;
    const int n = static_cast<int>(lines);
    const double first = std::nearbyint(FDispMinX + gw - static_cast<double>(ModR(FDispMinX, gw)));
    const int firstColumn = X_ToPixel(FDispMinX), lastColumn = X_ToPixel(FDispMaxX);
    const int top = Y_ToPixel(FDispMaxY), bottom = Y_ToPixel(FDispMinY);
    for (int i = 0; i <= n; ++i) {
        const double v = first + std::trunc(i * gw);
        if (v > FDispMaxX) break;
        const int column = X_ToPixel(static_cast<std::int32_t>(v));
        if (column >= firstColumn && column < lastColumn)
            VLineDoted(canvas, column, top, bottom, FColors[4]);
    }
}

void TLumCustomMarkerPanel::DrawGridsY(TCanvas& canvas) {
    if (!FDrawGridY) return;
    const double gw = FGridWidthY;
    const double lines = (static_cast<double>(FDispMaxY) - FDispMinY) / gw;
    if (lines > height() / 2) return;
    const int n = static_cast<int>(lines);
    const double first = std::nearbyint(FDispMinY + gw - static_cast<double>(ModR(FDispMinY, gw)));
    const int left = X_ToPixel(FDispMinX), right = X_ToPixel(FDispMaxX);
    const int topRow = Y_ToPixel(FDispMaxY), bottomRow = Y_ToPixel(FDispMinY);
    for (int i = 0; i <= n; ++i) {
        const double v = first + std::trunc(i * gw);
        if (v > FDispMaxY) break;
        // At the value's own row, where snapping puts it (larger values
        // higher up).
        const int row = Y_ToPixel(static_cast<std::int32_t>(v));
        if (row >= topRow && row < bottomRow) HLineDoted(canvas, row, left, right, FColors[4]);
    }
}

void TLumCustomMarkerPanel::DrawListMarkers(TCanvas& canvas) {
    if (!FMarkerList) return;
    const int count = FMarkerList->GetCount();
    if (count == 0) return;
    // Only the entries near the window: from two before its first to its last.
    const std::int32_t before = FDispMinX > INT32_MIN ? FDispMinX - 1 : FDispMinX;
    const int from = std::max(FMarkerList->LocateMarker(before) - 2, 0);
    const int to = std::min(FMarkerList->LocateMarker(FDispMaxX), count - 1);
    for (int i = from; i <= to; ++i) {
        const TLumMarker m = FMarkerList->Get(i);
        if (!m.Visible) continue;
        const int column = X_ToPixel(m.Offset);
        if (!InColumns(column)) continue;
        const TColor color = m.Color;
        if (FDrawGriff) {
            const int partner = FMarkerList->FindConnectedMarker(i);
            int kind = 4;
            if (partner >= 0) kind = m.Offset < FMarkerList->Get(partner).Offset ? 5 : 6;
            const int e = BevelExtend();
            ClipScope clip(canvas, {e, 0, width() - e, height()});
            DrawMarkerGriff(canvas, column, kind, color, false, true);
        } else {
            VLineDoted(canvas, column, 0, height(), color);
        }
    }
}

void TLumCustomMarkerPanel::DrawAllMarkers(TCanvas& canvas) {
    ForgetDrawnLines();
    DrawListMarkers(canvas);
    auto draw = [&](LineIndex index, int column) {
        if (!InColumns(column)) return;
        if (FDrawSolid && FBitmaps[index])
            DrawAsSolid(canvas, index, column);
        else
            DrawAsXOR(canvas, index, column);
    };
    if (FUseMarkers) {
        int a, b;
        RangeMarkerColumns(a, b);
        draw(liMarkerA, a);
        draw(liMarkerB, b);
    }
    if (FUseLocator) draw(liLocator, LineColumn(FLocator));
    if (FUseHelpLocator) draw(liHelp, LineColumn(FHelpLocator));
}

void TLumCustomMarkerPanel::Paint() {
    TCanvas& canvas = GetCanvas();
    // Solid lines save what lies under them: a paint of part of the panel
    // paints all of it, so that no strip saves a line from before.
    if (FDrawSolid) canvas.ResetClipRect();
    TLumCustomPanel::Paint();
    DrawGridsX(canvas);
    DrawGridsY(canvas);
    DrawAllMarkers(canvas);
}

} // namespace lum
