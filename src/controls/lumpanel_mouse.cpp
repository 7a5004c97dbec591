// The marker panel and the mouse: presses that start a drag or make the
// locator jump, drags with snapping and auto scrolling, hints and cursors
// per position, and the gate that lets one button act at a time.
#include <QToolTip>
#include <algorithm>
#include <cstdint>

#include "controls/lumpanel.h"
#include "core/lumutils.h"
#include "editing/lummrklst.h"

namespace lum {

namespace {
// Shared by every marker panel of the program: a button is held, and the
// depth of locator jumps in progress.
bool g_buttonHeld = false;
int g_jumpDepth = 0;

struct JumpScope {
    JumpScope() { ++g_jumpDepth; }
    ~JumpScope() { --g_jumpDepth; }
    JumpScope(const JumpScope&) = delete;
    JumpScope& operator=(const JumpScope&) = delete;
};

// Value limited to Lo ... Hi, where a bound taken from a line that is not
// set (negative) gives way to the window's edge, so that a drag never
// clears a line; the result is never negative for the same reason.
std::int32_t Corral(std::int32_t value, std::int32_t lo, std::int32_t hi) {
    return std::max(MinMax(value, lo, hi), 0);
}

std::int32_t Clamp(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}
} // namespace

bool MarkerPanelButtonHeld() {
    return g_buttonHeld;
}

// --- Notifications ---

void TLumCustomMarkerPanel::TrackBegin() {
    if (OnTrackBegin) OnTrackBegin(this);
}

void TLumCustomMarkerPanel::Track() {
    if (OnTrack) OnTrack(this);
}

void TLumCustomMarkerPanel::TrackEnd() {
    if (OnTrackEnd) OnTrackEnd(this);
}

void TLumCustomMarkerPanel::HelpLocatorChanged(std::int32_t value) {
    if (FAutoScroll && FMarkerShift == mkListMarker) AdjustVisibleRange(value);
    if (OnHelpLocatorChanged) OnHelpLocatorChanged(this, value);
    SetHelpLocator(value);
}

void TLumCustomMarkerPanel::LocatorChanged(std::int32_t value) {
    if (FAutoScroll) AdjustVisibleRange(value);
    if (OnLocatorChanged) OnLocatorChanged(this, value);
    SetLocator(value);
}

void TLumCustomMarkerPanel::MarkerAChanged(std::int32_t value) {
    if (FAutoScroll) AdjustVisibleRange(value);
    if (OnMarkerAChanged) OnMarkerAChanged(this, value);
    SetMarkerA(value);
}

void TLumCustomMarkerPanel::MarkerBChanged(std::int32_t value) {
    if (FAutoScroll) AdjustVisibleRange(value);
    if (OnMarkerBChanged) OnMarkerBChanged(this, value);
    SetMarkerB(value);
}

void TLumCustomMarkerPanel::MarkersChanged(TMarkerShift shift, std::int32_t valueA,
                                           std::int32_t valueB) {
    if (FAutoScroll) AdjustVisibleRange(shift == mkMarkerBA ? valueB : valueA);
    if (OnMarkersChanged) OnMarkersChanged(this, shift, valueA, valueB);
    // The leading marker moves first, so that neither is held back by the
    // other's old place.
    if (valueB > FMarkerB) {
        SetMarkerB(valueB);
        SetMarkerA(valueA);
    } else {
        SetMarkerA(valueA);
        SetMarkerB(valueB);
    }
}

// --- Auto scrolling ---

void TLumCustomMarkerPanel::AdjustVisibleRange(std::int32_t x) {
    if (x < FRangeMinX) return;
    const int p = X_ToPixel(x);
    const int e = BevelExtend();
    const std::int64_t half = (std::int64_t{FDispMaxX} - FDispMinX) / 2;
    if (p > width() - e - 5 && FDispMaxX < FRangeMaxX) {
        const std::int64_t c = std::clamp<std::int64_t>(x + half, FRangeMinX, FRangeMaxX);
        SetMinMax(static_cast<std::int32_t>(c + FDispMinX - FDispMaxX),
                  static_cast<std::int32_t>(c));
    } else if (p < e + 5 && FRangeMinX < FDispMinX) {
        const std::int64_t c = std::clamp<std::int64_t>(x - half, FRangeMinX, FRangeMaxX);
        SetMinMax(static_cast<std::int32_t>(c),
                  static_cast<std::int32_t>(FDispMaxX + c - FDispMinX));
    } else {
        return;
    }
    Repaint();
    // The pointer follows the line to its new column; its row stays.
    const TPoint pointer = GetCursorPos();
    const TPoint column = ClientToScreen({X_ToPixel(x), 0});
    SetCursorPos(column.x, pointer.y);
}

// --- Button messages ---

// A press is passed on only while the other button is not held, and a
// release only when its press was, so that each press passed on gets its
// release whatever order the buttons are let go in.
void TLumCustomMarkerPanel::GateButtonDown(TWMMouse& message, bool left) {
    g_buttonHeld = true;
    (left ? FLeftHeld : FRightHeld) = true;
    const bool other = left ? FRightHeld : FLeftHeld;
    bool& passed = left ? FLeftPassed : FRightPassed;
    passed = !other;
    if (!passed) return;
    if (left)
        TLumCustomPanel::WMLButtonDown(message);
    else
        TLumCustomPanel::WMRButtonDown(message);
}

void TLumCustomMarkerPanel::GateButtonUp(TWMMouse& message, bool left) {
    g_buttonHeld = false;
    (left ? FLeftHeld : FRightHeld) = false;
    bool& passed = left ? FLeftPassed : FRightPassed;
    if (!passed) return;
    passed = false;
    if (left)
        TLumCustomPanel::WMLButtonUp(message);
    else
        TLumCustomPanel::WMRButtonUp(message);
}

void TLumCustomMarkerPanel::WMLButtonDown(TWMMouse& message) {
    GateButtonDown(message, true);
}

void TLumCustomMarkerPanel::WMRButtonDown(TWMMouse& message) {
    GateButtonDown(message, false);
}

void TLumCustomMarkerPanel::WMLButtonUp(TWMMouse& message) {
    GateButtonUp(message, true);
}

void TLumCustomMarkerPanel::WMRButtonUp(TWMMouse& message) {
    GateButtonUp(message, false);
}

void TLumCustomMarkerPanel::WMCancelMode() {
    // The panel loses the mouse: the buttons held are let go where the
    // pointer is now.
    if (FLeftHeld || FRightHeld) {
        const TPoint p = ScreenToClient(GetCursorPos());
        if (FLeftHeld) Perform(WM_LBUTTONUP, FRightHeld ? MK_RBUTTON : 0, p.x, p.y);
        if (FRightHeld) Perform(WM_RBUTTONUP, 0, p.x, p.y);
    }
    TLumCustomPanel::WMCancelMode();
}

void TLumCustomMarkerPanel::CMCursorChanged() {
    if (!FHovering) FOwnCursor = GetCursor();
}

void TLumCustomMarkerPanel::CMShowHintChanged() {
    if (!FHovering) FOwnShowHint = GetShowHint();
}

// --- Mouse ---

void TLumCustomMarkerPanel::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (!FTracking && FEditMode == 0) {
        FMarkerShift = MouseAction(button, x);
        if (FMarkerShift == mkNone) {
            if (button == mbLeft && FUseLocator && g_jumpDepth == 0) {
                JumpLocator(x, y);
                return;
            }
        } else if (button == mbLeft || (button == mbRight && FMarkerShift != mkLocator)) {
            if (FMarkerShift == mkListMarker) FListIndex = FindListMarker(x);
            SetMouseCapture(true);
            FTrackButton = button;
            FTracking = true;
            TrackBegin();
            return;
        } else {
            FMarkerShift = mkNone;
        }
    }
    TLumCustomPanel::MouseDown(button, shift, x, y);
}

void TLumCustomMarkerPanel::JumpLocator(int x, int y) {
    JumpScope jump;
    std::int32_t v = PixelTo_X(x);
    if (FUseMarkers && FCorralLocator)
        v = Corral(v, FMarkerA >= 0 ? FMarkerA : FDispMinX, FMarkerB >= 0 ? FMarkerB : FDispMaxX);
    else
        v = MinMax(v, FDispMinX, FDispMaxX);
    LocatorChanged(v);
    // The press is made again, now on the locator, so that it drags it.
    Perform(WM_LBUTTONUP, 0, x, y);
    Perform(WM_MOUSEMOVE, 0, x, y);
    Perform(WM_LBUTTONDOWN, MK_LBUTTON, x, y);
}

void TLumCustomMarkerPanel::HoverAt(int x, int y) {
    FHovering = true;
    SetCursor(GetMouseCursor(x, y));
    if (FEditMode == 0) {
        const std::string hint = GetHintText(x, y);
        SetHint(hint);
        SetShowHint(FOwnShowHint && !hint.empty());
        if (hint.empty())
            CancelHint();
        else if (GetShowHint() && QToolTip::isVisible())
            QToolTip::showText(mapToGlobal(QPoint(x, y)), QString::fromStdString(hint), this);
    }
    FHovering = false;
}

void TLumCustomMarkerPanel::MouseMove(TShiftState shift, int x, int y) {
    if (!FTracking) {
        HoverAt(x, y);
        TLumCustomPanel::MouseMove(shift, x, y);
        return;
    }
    TrackTo(x);
}

void TLumCustomMarkerPanel::TrackTo(int x) {
    // Bounds are worked out in 64 bits: lines near the ends of the 32-bit
    // range must not overflow.
    using I64 = std::int64_t;
    const I64 d = I64{PixelTo_X(1)} - PixelTo_X(0);
    std::int32_t t;
    IsGridX(x, t);
    const bool corralled = FUseLocator && FCorralLocator && FLocator >= 0;
    switch (FMarkerShift) {
    case mkLocator:
        if (FUseMarkers && FCorralLocator)
            LocatorChanged(Corral(t, FMarkerA >= 0 ? FMarkerA : FDispMinX,
                                  FMarkerB >= 0 ? FMarkerB : FDispMaxX));
        else
            LocatorChanged(MinMax(t, FDispMinX, FDispMaxX));
        break;
    case mkMarkerA: {
        I64 hi = FDispMaxX;
        if (corralled && FLocator > 0)
            hi = FLocator - d;
        else if (FMarkerB >= 0)
            hi = FMarkerB - d;
        const std::int32_t a = Corral(t, FDispMinX, Clamp(hi));
        if (a != FMarkerA) MarkerAChanged(a);
        break;
    }
    case mkMarkerB: {
        I64 lo = FDispMinX;
        if (corralled)
            lo = FLocator + d;
        else if (FMarkerA >= 0)
            lo = FMarkerA + d;
        const std::int32_t b = Corral(t, Clamp(lo), FDispMaxX);
        if (b != FMarkerB) MarkerBChanged(b);
        break;
    }
    case mkMarkerAB: {
        const I64 l = I64{FMarkerB} - FMarkerA;
        I64 lo = FDispMinX, hi = FRangeMaxX - l;
        if (corralled) {
            lo = std::max<I64>(FDispMinX, FLocator + d - l);
            hi = std::min<I64>(FLocator - d, FRangeMaxX - l);
        }
        std::int32_t a = Corral(t, Clamp(lo), Clamp(hi));
        if (a != FMarkerA) {
            std::int32_t s;
            if (IsGridX(X_ToPixel(Clamp(a + l)), s)) {
                a = Corral(Clamp(s - l), Clamp(lo), Clamp(hi));
                if (a == FMarkerA) return;
            }
            MarkersChanged(mkMarkerAB, a, Clamp(a + l));
        }
        break;
    }
    case mkMarkerBA: {
        const I64 l = I64{FMarkerB} - FMarkerA;
        I64 lo = FRangeMinX + l, hi = FDispMaxX;
        if (corralled) {
            lo = std::max<I64>(FRangeMinX + l, FLocator + d);
            hi = std::min<I64>(FDispMaxX, std::max<I64>(FLocator - d, 0) + l);
        }
        std::int32_t b = Corral(t, Clamp(lo), Clamp(hi));
        if (b != FMarkerB) {
            std::int32_t s;
            if (IsGridX(X_ToPixel(Clamp(b - l)), s)) {
                b = Corral(Clamp(s + l), Clamp(lo), Clamp(hi));
                if (b == FMarkerB) return;
            }
            MarkersChanged(mkMarkerBA, Clamp(b - l), b);
        }
        break;
    }
    case mkListMarker:
        HelpLocatorChanged(MinMax(t, FRangeMinX, FRangeMaxX));
        break;
    case mkNone:
        break;
    }
    Track();
}

void TLumCustomMarkerPanel::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (!FTracking || button != FTrackButton) {
        TLumCustomPanel::MouseUp(button, shift, x, y);
        return;
    }
    FTracking = false;
    if (FMarkerShift == mkListMarker) {
        const bool listed = FMarkerList && FListIndex >= 0 && FListIndex < FMarkerList->GetCount();
        std::int32_t v = FHelpLocator;
        if (v < 0 && listed) v = FMarkerList->Get(FListIndex).Offset;
        HelpLocatorChanged(-1);
        if (listed && v >= 0) {
            FMarkerList->SetOffset(FListIndex, v);
            // The list markers are drawn only in a paint.
            Invalidate();
        }
        FListIndex = -1;
    }
    FMarkerShift = mkNone;
    SetMouseCapture(false);
    TrackEnd();
}

} // namespace lum
