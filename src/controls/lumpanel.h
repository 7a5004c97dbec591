// The library's panels (unit Lumpanel): TLumPanel, a bevelled panel;
// TLumBorder, a bevel-only graphic control; and the marker panel, the base
// of the waveform and envelope editors.
//
// The marker panel maps a horizontal value range (sample positions, say)
// and a vertical one onto the area inside its bevel through a display
// window, the part of each range that shows. On it the user places and
// drags a locator, two range markers A and B, a help locator and the
// entries of a marker list, with dotted grids and snapping to them. A
// moved line is redrawn alone on the control's window, by inverting it
// twice or by restoring the strip saved from under it, never by painting
// the panel anew. Negative positions mean "not set".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "controls/lumobj_controls.h"

namespace lum {

class TLumMarkerList;

namespace platform::gdi {
class TBitmap;
}

// A bevelled panel, nothing more.
class TLumPanel : public TLumCustomPanel {
public:
    explicit TLumPanel(QWidget* owner = nullptr);
};

// A bevel around nothing, 185 by 41 pixels to begin with.
class TLumBorder : public TLumGraphicControl {
public:
    explicit TLumBorder(QWidget* owner = nullptr);
};

// What a drag moves: the locator, one range marker, both range markers
// keeping their distance (dragged by A or by B), or a list marker.
enum TMarkerShift : std::uint8_t {
    mkNone,
    mkLocator,
    mkMarkerA,
    mkMarkerB,
    mkMarkerAB,
    mkMarkerBA,
    mkListMarker
};

// A line is about to move to Value; the handler may change it.
using TMarkerChangeEvent = std::function<void(QWidget* sender, std::int32_t& value)>;
// Both range markers are about to move together.
using TMarkersChangeEvent = std::function<void(QWidget* sender, TMarkerShift shift,
                                               std::int32_t& valueA, std::int32_t& valueB)>;
// The horizontal display window changed.
using TRangeChangeEvent = std::function<void(QWidget* sender, std::int32_t min, std::int32_t max)>;

// Whether a mouse button is held on any marker panel of the program.
bool MarkerPanelButtonHeld();

class TLumCustomMarkerPanel : public TLumCustomPanel {
public:
    explicit TLumCustomMarkerPanel(QWidget* owner = nullptr);
    ~TLumCustomMarkerPanel() override;

    // --- Ranges and the display window ---
    // The range setters keep the other values and go through SetRangeAll,
    // the display setters through SetDispAll.
    std::int32_t GetRangeMinX() const { return FRangeMinX; }
    std::int32_t GetRangeMaxX() const { return FRangeMaxX; }
    std::int32_t GetRangeMinY() const { return FRangeMinY; }
    std::int32_t GetRangeMaxY() const { return FRangeMaxY; }
    std::int32_t GetBaseY() const { return FBaseY; }
    void SetRangeMinX(std::int32_t value);
    void SetRangeMaxX(std::int32_t value);
    void SetRangeMinY(std::int32_t value);
    void SetRangeMaxY(std::int32_t value);
    void SetBaseY(std::int32_t value);
    std::int32_t GetDispMinX() const { return FDispMinX; }
    std::int32_t GetDispMaxX() const { return FDispMaxX; }
    std::int32_t GetDispMinY() const { return FDispMinY; }
    std::int32_t GetDispMaxY() const { return FDispMaxY; }
    void SetDispMinX(std::int32_t value);
    void SetDispMaxX(std::int32_t value);
    void SetDispMinY(std::int32_t value);
    void SetDispMaxY(std::int32_t value);

    // Sorts each pair, makes each range at least one unit wide, keeps
    // BaseY inside the vertical range and brings the display window into
    // the new ranges.
    virtual void SetRangeAll(std::int32_t minX, std::int32_t maxX, std::int32_t minY,
                             std::int32_t maxY, std::int32_t baseY);
    // Sorts each pair, widens each window to at least one unit a pixel and
    // moves it (never shrinking it) into its range; then RangeChanged.
    virtual void SetDispAll(std::int32_t minX, std::int32_t maxX, std::int32_t minY,
                            std::int32_t maxY);
    virtual void SetMinMax(std::int32_t min, std::int32_t max);
    virtual void SetMinMaxY(std::int32_t min, std::int32_t max);

    // --- The lines ---
    std::int32_t GetLocator() const { return FLocator; }
    std::int32_t GetMarkerA() const { return FMarkerA; }
    std::int32_t GetMarkerB() const { return FMarkerB; }
    std::int32_t GetHelpLocator() const { return FHelpLocator; }
    // With UseMarkers and CorralLocator, limited to MarkerA ... MarkerB
    // (each when set).
    void SetLocator(std::int32_t value);
    // At most Locator - 1 when the locator corrals and lies above 0, else
    // at most MarkerB - 1 when B lies above 0.
    void SetMarkerA(std::int32_t value);
    // At least Locator + 1 when the locator corrals and is set, else at
    // least MarkerA + 1 when A is set.
    void SetMarkerB(std::int32_t value);
    void SetHelpLocator(std::int32_t value);

    bool GetUseLocator() const { return FUseLocator; }
    void SetUseLocator(bool value);
    bool GetUseMarkers() const { return FUseMarkers; }
    void SetUseMarkers(bool value);
    bool GetUseHelpLocator() const { return FUseHelpLocator; }
    void SetUseHelpLocator(bool value);
    bool GetCorralLocator() const { return FCorralLocator; }
    void SetCorralLocator(bool value) { FCorralLocator = value; }
    bool GetAutoScroll() const { return FAutoScroll; }
    void SetAutoScroll(bool value) { FAutoScroll = value; }

    // Colours by index: 0 help locator, 1 locator, 2 marker A, 3 marker B,
    // 4 grid.
    TColor GetColors(int index) const;
    void SetColors(int index, TColor value);
    TColor GetLocatorColor() const { return GetColors(1); }
    TColor GetMarkerAColor() const { return GetColors(2); }
    TColor GetMarkerBColor() const { return GetColors(3); }
    TColor GetGridColor() const { return GetColors(4); }
    void SetLocatorColor(TColor value) { SetColors(1, value); }
    void SetMarkerAColor(TColor value) { SetColors(2, value); }
    void SetMarkerBColor(TColor value) { SetColors(3, value); }
    void SetGridColor(TColor value) { SetColors(4, value); }

    // Solid lines drawn over a saved strip of background instead of
    // inverted ones; grips at the top of the lines.
    bool GetDrawSolid() const { return FDrawSolid; }
    void SetDrawSolid(bool value);
    bool GetDrawGriff() const { return FDrawGriff; }
    void SetDrawGriff(bool value);

    // --- Grids and snapping ---
    bool GetDrawGridX() const { return FDrawGridX; }
    virtual void SetDrawGridX(bool value);
    bool GetDrawGridY() const { return FDrawGridY; }
    virtual void SetDrawGridY(bool value);
    float GetGridWidthX() const { return FGridWidthX; }
    // A width not above 0 becomes 1.
    virtual void SetGridWidthX(float value);
    float GetGridWidthY() const { return FGridWidthY; }
    virtual void SetGridWidthY(float value);
    bool GetSnapToGrid() const { return FSnapToGrid; }
    void SetSnapToGrid(bool value) { FSnapToGrid = value; }
    // Pixels within which a line is hit and a grid line snaps.
    std::int32_t GetSnapRange() const { return FSnapRange; }
    void SetSnapRange(std::int32_t value) { FSnapRange = value; }

    const std::string& GetDefaultHint() const { return FDefaultHint; }
    // The hint shown over no line; made the current hint.
    void SetDefaultHint(const std::string& value);

    // The list whose entries show and can be dragged; not owned, so it
    // must be taken away (null) before it is destroyed.
    TLumMarkerList* GetMarkerList() const { return FMarkerList; }
    void SetMarkerList(TLumMarkerList* list);

    // Set by descendant editors while they handle the mouse themselves:
    // clicks on lines start no drag and no hints are shown.
    std::uint8_t GetEditMode() const { return FEditMode; }
    void SetEditMode(std::uint8_t value) { FEditMode = value; }

    // --- Pixels and values ---
    // Columns run from the bevel's inner edge e (DispMinX) to W - e - 1
    // (DispMaxX); rows from H - e - 1 (DispMinY) up to e (DispMaxY).
    // The plain forms are limited to -16384 ... 16384.
    virtual std::int32_t X_ToPixelNoLimit(std::int32_t x) const;
    virtual std::int32_t X_ToPixel(std::int32_t x) const;
    virtual std::int32_t PixelTo_X(std::int32_t p) const;
    virtual std::int32_t Y_ToPixelNoLimit(std::int32_t y) const;
    virtual std::int32_t Y_ToPixel(std::int32_t y) const;
    virtual std::int32_t PixelTo_Y(std::int32_t p) const;
    // The value at a column or row, and whether it snapped to a grid line
    // within SnapRange pixels (Value is the grid value then).
    virtual bool IsGridX(std::int32_t x, std::int32_t& value) const;
    virtual bool IsGridY(std::int32_t y, std::int32_t& value) const;

    // --- Hit tests, by pixel column ---
    bool IsLocator(int x) const;
    bool IsMarkerA(int x) const;
    bool IsMarkerB(int x) const;
    // The visible list entry whose line is within SnapRange of X, or -1.
    int FindListMarker(int x) const;
    // A found entry that is not locked.
    bool IsListMarker(int x) const;
    bool IsAnyMarker(int x) const;
    // What a press of Button at X would drag.
    TMarkerShift MouseAction(TMouseButton button, int x) const;
    virtual std::string GetHintText(int x, int y) const;
    virtual int GetMouseCursor(int x, int y) const;

    // The drag in progress (mkNone when none).
    TMarkerShift GetMarkerShift() const { return FMarkerShift; }
    bool Tracking() const { return FTracking; }

    // While loading from a form, range changes are not reported.
    void BeginLoading() { FLoading = true; }
    virtual void Loaded() { FLoading = false; }
    bool Loading() const { return FLoading; }

    TControlNotifyEvent OnTrackBegin;
    TControlNotifyEvent OnTrack;
    TControlNotifyEvent OnTrackEnd;
    TMarkerChangeEvent OnHelpLocatorChanged;
    TMarkerChangeEvent OnLocatorChanged;
    TMarkerChangeEvent OnMarkerAChanged;
    TMarkerChangeEvent OnMarkerBChanged;
    TMarkersChangeEvent OnMarkersChanged;
    TRangeChangeEvent OnRangeChanged;

protected:
    // Sorts Lo and Hi, widens the window to Span units at least and moves
    // it into RangeMin ... RangeMax.
    virtual void CheckRange(std::int32_t& lo, std::int32_t& hi, std::int32_t rangeMin,
                            std::int32_t rangeMax, std::int32_t span);
    // Scrolls the display window so that a dragged X near an edge comes to
    // the middle, and moves the pointer along with it.
    virtual void AdjustVisibleRange(std::int32_t x);
    // Every third pixel, from Y1 (X1) up to but not including Y2 (X2).
    virtual void VLineDoted(TCanvas& canvas, int x, int y1, int y2, TColor color);
    virtual void HLineDoted(TCanvas& canvas, int y, int x1, int x2, TColor color);
    virtual void DrawGridsX(TCanvas& canvas);
    virtual void DrawGridsY(TCanvas& canvas);

    // The drag notifications: scroll (AutoScroll), fire the event, which
    // may change the value, and set the line.
    virtual void TrackBegin();
    virtual void Track();
    virtual void TrackEnd();
    virtual void HelpLocatorChanged(std::int32_t value);
    virtual void LocatorChanged(std::int32_t value);
    virtual void MarkerAChanged(std::int32_t value);
    virtual void MarkerBChanged(std::int32_t value);
    virtual void MarkersChanged(TMarkerShift shift, std::int32_t valueA, std::int32_t valueB);
    virtual void RangeChanged();

    void Paint() override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void WMLButtonDown(TWMMouse& message) override;
    void WMLButtonUp(TWMMouse& message) override;
    void WMRButtonDown(TWMMouse& message) override;
    void WMRButtonUp(TWMMouse& message) override;
    void WMCancelMode() override;
    void CMCursorChanged() override;
    void CMShowHintChanged() override;
    void resizeEvent(QResizeEvent* event) override;

    // The background strips for solid lines, made anew for the present
    // settings and height; forgets where the lines are drawn.
    void AdjustBitmaps();
    void DrawAllMarkers(TCanvas& canvas);
    void DrawListMarkers(TCanvas& canvas);
    // A grip of Kind (0 locator, 1 marker A, 2 marker B, 3 help locator,
    // 4 list marker, 5 and 6 the left and right one of a connected pair)
    // at Column, with its line down to the bottom. Inverted when Invert,
    // else filled in Color (list markers outlined in black).
    void DrawMarkerGriff(TCanvas& canvas, int column, int kind, TColor color, bool invert,
                         bool dotted);

private:
    struct Line;
    enum LineIndex { liHelp, liLocator, liMarkerA, liMarkerB };

    std::int32_t Inner(int size) const;
    bool InColumns(int column) const;
    bool CanDraw() const;
    int LineColumn(std::int32_t value) const;
    // The column each of A and B is drawn at, so that the two never
    // coincide.
    void RangeMarkerColumns(int& a, int& b) const;
    void RedrawLine(LineIndex index, int column);
    void RedrawRangeMarkers();
    void DrawAsXOR(TCanvas& canvas, LineIndex index, int column);
    void DrawAsSolid(TCanvas& canvas, LineIndex index, int column);
    void ForgetDrawnLines();
    // The locator bounds the range markers while dragging.
    bool LocatorCorrals() const;
    void HoverAt(int x, int y);
    void TrackTo(int x);
    void JumpLocator(int x, int y);
    void GateButtonDown(TWMMouse& message, bool left);
    void GateButtonUp(TWMMouse& message, bool left);

    std::int32_t FRangeMinX = 0, FRangeMaxX = 1000;
    std::int32_t FRangeMinY = 0, FRangeMaxY = 1000;
    std::int32_t FBaseY = 500;
    std::int32_t FDispMinX = 0, FDispMaxX = 1000;
    std::int32_t FDispMinY = 0, FDispMaxY = 1000;
    std::int32_t FLocator = -1;
    std::int32_t FMarkerA = -1;
    std::int32_t FMarkerB = -1;
    std::int32_t FHelpLocator = -1;
    bool FUseLocator = true;
    bool FUseMarkers = false;
    bool FUseHelpLocator = true;
    bool FCorralLocator = true;
    bool FAutoScroll = true;
    TColor FColors[5] = {0xC0C0C0, 0x00FF00, 0x0000FF, 0x0000FF, 0x808080};
    bool FDrawSolid = false;
    bool FDrawGriff = false;
    bool FDrawGridX = false;
    bool FDrawGridY = false;
    float FGridWidthX = 100.0f;
    float FGridWidthY = 100.0f;
    bool FSnapToGrid = false;
    std::int32_t FSnapRange = 3;
    std::string FDefaultHint;
    TLumMarkerList* FMarkerList = nullptr;
    std::uint8_t FEditMode = 0;
    bool FLoading = false;

    // Where each line is drawn now (-1: nowhere), by LineIndex.
    int FDrawn[4] = {-1, -1, -1, -1};
    // Background strips of the locator, A and B (index 1 to 3).
    std::unique_ptr<platform::gdi::TBitmap> FBitmaps[4];

    TMarkerShift FMarkerShift = mkNone;
    TMouseButton FTrackButton = mbLeft;
    bool FTracking = false;
    int FListIndex = -1;
    // The cursor and hint setting as last set from outside, and whether a
    // change comes from hovering.
    int FOwnCursor = 0;
    bool FOwnShowHint = true;
    bool FHovering = false;
    // Buttons held on this panel, and whether their press was passed on.
    bool FLeftHeld = false, FRightHeld = false;
    bool FLeftPassed = false, FRightPassed = false;
};

// The marker panel as forms place it.
class TLumMarkerPanel : public TLumCustomMarkerPanel {
public:
    using TLumCustomMarkerPanel::TLumCustomMarkerPanel;
};

} // namespace lum
