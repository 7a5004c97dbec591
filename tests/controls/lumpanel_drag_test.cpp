// Dragging on the marker panel with the mouse, through QTest on the shown
// widget: the locator follows and snaps, markers keep their order and
// distance, list markers move through the help locator, the window scrolls
// at its edges with the pointer following, the events come in order, the
// buttons act one at a time, and no drag repaints the panel.
#include <gtest/gtest.h>

#include <QCursor>
#include <string>
#include <vector>

#include "controls/lumobj_cursors.h"
#include "controls/lumpanel.h"
#include "markerpanel.h"

using namespace lum;
using lum::test::MakeMarker;
using lum::test::ShownPanel;

namespace {

using Log = std::vector<std::string>;

// Records the panel's events in order.
void Record(TLumCustomMarkerPanel& p, Log& log) {
    p.OnTrackBegin = [&](QWidget*) { log.push_back("begin"); };
    p.OnTrack = [&](QWidget*) { log.push_back("track"); };
    p.OnTrackEnd = [&](QWidget*) { log.push_back("end"); };
    p.OnLocatorChanged = [&](QWidget*, std::int32_t& v) {
        log.push_back("locator " + std::to_string(v));
    };
    p.OnMarkerAChanged = [&](QWidget*, std::int32_t& v) {
        log.push_back("A " + std::to_string(v));
    };
    p.OnMarkerBChanged = [&](QWidget*, std::int32_t& v) {
        log.push_back("B " + std::to_string(v));
    };
    p.OnHelpLocatorChanged = [&](QWidget*, std::int32_t& v) {
        log.push_back("help " + std::to_string(v));
    };
    p.OnMouseDown = [&](QWidget*, TMouseButton, TShiftState, int, int) {
        log.push_back("mousedown");
    };
    p.OnMouseUp = [&](QWidget*, TMouseButton, TShiftState, int, int) { log.push_back("mouseup"); };
}

// 403 pixels over the window 0 ... 401: about a unit a pixel.
struct Dragging : ShownPanel {
    Dragging() : ShownPanel(403, 60) {
        panel->SetMinMax(0, 400);
        panel->SetAutoScroll(false);
        test::Settle();
    }
};

} // namespace

TEST(MarkerPanelDrag, LocatorFollowsInOrderedEventsAndSnapsToTheGrid) {
    Dragging s;
    TLumCustomMarkerPanel& p = *s.panel;
    p.SetLocator(100);
    Log log;
    Record(p, log);
    s.Press(s.Column(100));
    s.Move(s.Column(150));
    s.Move(s.Column(197));
    s.Release(s.Column(197));
    EXPECT_EQ(p.GetLocator(), 197);
    EXPECT_FALSE(p.Tracking());
    EXPECT_EQ(p.GetMarkerShift(), mkNone);
    EXPECT_FALSE(p.GetMouseCapture());
    // A drag fires neither OnMouseDown nor OnMouseUp.
    EXPECT_EQ(log, (Log{"begin", "locator 150", "track", "locator 197", "track", "end"}));

    // Snapped: 198 lies two pixels from the grid line at 200.
    p.SetSnapToGrid(true);
    p.SetGridWidthX(100);
    s.Drag(s.Column(197), s.Column(198), 1);
    EXPECT_EQ(p.GetLocator(), 200);
    s.Drag(s.Column(200), s.Column(150), 1);
    EXPECT_EQ(p.GetLocator(), 150);
    // The event may move the line elsewhere.
    p.OnLocatorChanged = [](QWidget*, std::int32_t& v) { v = 42; };
    s.Drag(s.Column(150), s.Column(160), 1);
    EXPECT_EQ(p.GetLocator(), 42);
}

TEST(MarkerPanelDrag, ClickingBesideTheLinesMakesTheLocatorJumpAndDrags) {
    Dragging s;
    TLumCustomMarkerPanel& p = *s.panel;
    p.SetLocator(50);
    Log log;
    Record(p, log);
    s.Press(s.Column(300));
    EXPECT_EQ(p.GetLocator(), 300);
    EXPECT_TRUE(p.Tracking());
    EXPECT_EQ(p.GetMarkerShift(), mkLocator);
    s.Move(s.Column(320));
    s.Release(s.Column(320));
    EXPECT_EQ(p.GetLocator(), 320);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "locator 300");
    EXPECT_EQ(log.back(), "end");
    EXPECT_EQ(std::count(log.begin(), log.end(), "begin"), 1);

    // With the markers corralling it, the jump stops at them and the press
    // drags nothing that is not under it.
    p.SetLocator(150);
    p.SetUseMarkers(true);
    p.SetMarkerA(100);
    p.SetMarkerB(200);
    log.clear();
    s.Press(s.Column(350));
    EXPECT_EQ(p.GetLocator(), 200);
    EXPECT_EQ(p.GetMarkerB(), 200);
    s.Release(s.Column(350));
    // Nothing happens on a press in edit mode but the ordinary events.
    p.SetEditMode(1);
    log.clear();
    s.Press(s.Column(300));
    s.Release(s.Column(300));
    EXPECT_EQ(p.GetLocator(), 200);
    EXPECT_EQ(log, (Log{"mousedown", "mouseup"}));
}

TEST(MarkerPanelDrag, RangeMarkersStayOnTheirSideOfTheLocatorAndOfEachOther) {
    Dragging s;
    TLumCustomMarkerPanel& p = *s.panel;
    p.SetUseMarkers(true);
    p.SetMarkerA(100);
    p.SetMarkerB(300);
    p.SetLocator(200);
    s.Drag(s.Column(100), s.Column(380), 8);
    EXPECT_LT(p.GetMarkerA(), 200);
    EXPECT_GE(p.GetMarkerA(), 195);
    s.Drag(s.Column(300), s.Column(10), 8);
    EXPECT_GT(p.GetMarkerB(), 200);
    EXPECT_LE(p.GetMarkerB(), 205);
    EXPECT_EQ(p.GetLocator(), 200);

    // Without the corral, each stops short of the other.
    p.SetCorralLocator(false);
    p.SetLocator(-1);
    p.SetMarkerB(300);
    s.Drag(s.Column(p.GetMarkerA()), s.Column(390), 8);
    EXPECT_LT(p.GetMarkerA(), 300);
    EXPECT_GE(p.GetMarkerA(), 295);
    p.SetMarkerA(100);
    s.Drag(s.Column(300), s.Column(5), 8);
    EXPECT_GT(p.GetMarkerB(), p.GetMarkerA());
    EXPECT_LE(p.GetMarkerB(), p.GetMarkerA() + 5);
    // With no B, A runs to the window's edges and is never cleared.
    p.SetMarkerB(-1);
    s.Drag(s.Column(p.GetMarkerA()), p.width(), 8);
    EXPECT_EQ(p.GetMarkerA(), p.GetDispMaxX());
    s.Drag(s.Column(p.GetMarkerA()), 0, 8);
    EXPECT_EQ(p.GetMarkerA(), 0);
}

TEST(MarkerPanelDrag, RangeMarkersSnapToTheGridAsTheLocatorDoes) {
    Dragging s;
    TLumCustomMarkerPanel& p = *s.panel;
    p.SetUseMarkers(true);
    p.SetMarkerA(100);
    p.SetMarkerB(300);
    p.SetLocator(200);
    p.SetSnapToGrid(true);
    p.SetGridWidthX(50);
    // 148 lies two pixels from the grid line at 150, 252 two from 250.
    s.Drag(s.Column(100), s.Column(148), 8);
    EXPECT_EQ(p.GetMarkerA(), 150);
    s.Drag(s.Column(300), s.Column(252), 8);
    EXPECT_EQ(p.GetMarkerB(), 250);
    EXPECT_EQ(p.GetLocator(), 200);
}

TEST(MarkerPanelDrag, BothMarkersKeepTheirDistanceInEitherDirection) {
    Dragging s;
    TLumCustomMarkerPanel& p = *s.panel;
    p.SetUseMarkers(true);
    p.SetCorralLocator(false);
    p.SetLocator(-1);
    p.SetMarkerA(150);
    p.SetMarkerB(250);
    // By A with the right button, then back; then by B.
    s.Drag(s.Column(150), s.Column(200), 5, Qt::RightButton);
    EXPECT_EQ(p.GetMarkerA(), 200);
    EXPECT_EQ(p.GetMarkerB(), 300);
    s.Drag(s.Column(200), s.Column(60), 5, Qt::RightButton);
    EXPECT_EQ(p.GetMarkerA(), 60);
    EXPECT_EQ(p.GetMarkerB(), 160);
    s.Drag(s.Column(160), s.Column(260), 5, Qt::RightButton);
    EXPECT_EQ(p.GetMarkerB(), 260);
    EXPECT_EQ(p.GetMarkerA(), 160);
    s.Drag(s.Column(260), s.Column(110), 5, Qt::RightButton);
    EXPECT_EQ(p.GetMarkerB(), 110);
    EXPECT_EQ(p.GetMarkerA(), 10);
    // They stop at the window's start.
    s.Drag(s.Column(10), 0, 5, Qt::RightButton);
    EXPECT_EQ(p.GetMarkerA(), 0);
    EXPECT_EQ(p.GetMarkerB(), 100);

    // A move further than the markers lie apart keeps the distance too,
    // whichever way it goes.
    p.SetMarkerB(120);
    p.SetMarkerA(100);
    s.Drag(s.Column(100), s.Column(300), 1, Qt::RightButton);
    EXPECT_EQ(p.GetMarkerA(), 300);
    EXPECT_EQ(p.GetMarkerB(), 320);
    s.Drag(s.Column(300), s.Column(50), 1, Qt::RightButton);
    EXPECT_EQ(p.GetMarkerA(), 50);
    EXPECT_EQ(p.GetMarkerB(), 70);
    s.Drag(s.Column(70), s.Column(350), 1, Qt::RightButton);
    EXPECT_EQ(p.GetMarkerA(), 330);
    EXPECT_EQ(p.GetMarkerB(), 350);

    // A corralled locator stays between them.
    p.SetCorralLocator(true);
    p.SetMarkerA(0);
    p.SetMarkerB(100);
    p.SetLocator(50);
    s.Drag(s.Column(0), s.Column(300), 10, Qt::RightButton);
    EXPECT_LT(p.GetMarkerA(), 50);
    EXPECT_GE(p.GetMarkerA(), 45);
    EXPECT_EQ(p.GetMarkerB() - p.GetMarkerA(), 100);
    EXPECT_EQ(p.GetLocator(), 50);
}

TEST(MarkerPanelDrag, ListMarkerMovesThroughTheHelpLocator) {
    Dragging s;
    TLumCustomMarkerPanel& p = *s.panel;
    p.SetUseLocator(false);
    TLumMarkerList list;
    list.AddMarker(MakeMarker(1, 100, "one", 0x00FFFF));
    list.AddMarker(MakeMarker(2, 200, "two", 0x00FFFF));
    list.AddMarker(MakeMarker(3, 300, "locked", 0x00FFFF, true));
    p.SetMarkerList(&list);
    Log log;
    Record(p, log);
    s.Press(s.Column(100));
    EXPECT_EQ(p.GetMarkerShift(), mkListMarker);
    s.Move(s.Column(250));
    EXPECT_EQ(p.GetHelpLocator(), 250);
    EXPECT_EQ(list.Get(0).Offset, 100); // the entry waits for the release
    s.Release(s.Column(250));
    EXPECT_EQ(p.GetHelpLocator(), -1);
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.Get(0).GetName(), "two");
    EXPECT_EQ(list.Get(1).GetName(), "one");
    EXPECT_EQ(list.Get(1).Offset, 250);
    EXPECT_EQ(log, (Log{"begin", "help 250", "track", "help -1", "end"}));
    // The help locator is gone from the screen, the entry drawn anew.
    test::Settle();
    EXPECT_EQ(s.Buffer(s.Column(250), 30), 0x00FFFFu);
    EXPECT_EQ(s.Buffer(s.Column(250), 31), 0u);

    // A locked entry does not move.
    s.Drag(s.Column(300), s.Column(350), 3);
    EXPECT_EQ(list.Get(2).Offset, 300);
    // A click without a move leaves the entry where it was.
    s.Press(s.Column(200));
    s.Release(s.Column(200));
    EXPECT_EQ(list.Get(0).Offset, 200);
    p.SetMarkerList(nullptr);
}

TEST(MarkerPanelDrag, WindowScrollsAtTheEdgesAndThePointerFollows) {
    ShownPanel s(403, 60);
    TLumCustomMarkerPanel& p = *s.panel;
    p.SetRangeMaxX(10000);
    p.SetMinMax(0, 1000);
    p.SetLocator(500);
    test::Settle();
    const int e = p.BevelExtend();
    std::vector<std::pair<int, int>> ranges;
    p.OnRangeChanged = [&](QWidget*, std::int32_t lo, std::int32_t hi) {
        ranges.push_back({lo, hi});
    };
    s.Press(s.Column(500));
    s.Move(p.width() - e - 6); // not yet within 5 pixels of the edge
    EXPECT_EQ(p.GetDispMinX(), 0);
    s.Move(p.width() - e - 3);
    const std::int32_t v = p.GetLocator();
    EXPECT_GT(v, 980);
    // The dragged value comes to the middle of the window.
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(p.GetDispMaxX() - p.GetDispMinX(), 1000);
    EXPECT_NEAR((p.GetDispMinX() + p.GetDispMaxX()) / 2.0, v, 1.0);
    EXPECT_EQ(QCursor::pos().x(), p.mapToGlobal(QPoint(p.X_ToPixel(v), 0)).x());
    // The screen reports the pointer's move; the locator stays put.
    test::Settle();
    EXPECT_NEAR(p.GetLocator(), v, 3);
    // And back at the left edge.
    s.Move(e + 2);
    EXPECT_EQ(ranges.size(), 2u);
    EXPECT_LT(p.GetDispMinX(), v - 500);
    s.Release(e + 2);
    test::Settle();

    // At the range's end the window stays.
    p.SetMinMax(9000, 10000);
    ranges.clear();
    p.SetLocator(9500);
    s.Drag(s.Column(9500), p.width() - e - 1, 3);
    EXPECT_TRUE(ranges.empty());
    EXPECT_EQ(p.GetLocator(), 10000);
}

TEST(MarkerPanelDrag, LongDragsNeverRepaintThePanel) {
    for (bool solid : {false, true}) {
        SCOPED_TRACE(solid ? "solid" : "inverted");
        Dragging s;
        TLumCustomMarkerPanel& p = *s.panel;
        p.SetDrawSolid(solid);
        p.SetUseMarkers(true);
        p.SetCorralLocator(false);
        p.SetLocator(20);
        p.SetMarkerA(200);
        p.SetMarkerB(380);
        test::Settle();
        const int paints = s.panel->paints;
        s.Drag(s.Column(20), s.Column(180), 100);
        s.Drag(s.Column(200), s.Column(300), 100);
        test::Settle();
        EXPECT_EQ(s.panel->paints, paints);
        EXPECT_EQ(p.GetLocator(), 180);
        EXPECT_EQ(p.GetMarkerA(), 300);
        // Only the three lines are left on screen.
        EXPECT_EQ(s.LitColumns(30),
                  (std::vector<int>{s.Column(180), s.Column(300), s.Column(380)}));
        // Set outside the window, a line is taken off and comes back.
        p.SetLocator(1000);
        p.SetMarkerA(120);
        EXPECT_EQ(s.LitColumns(30), (std::vector<int>{s.Column(120), s.Column(380)}));
        p.SetLocator(60);
        EXPECT_EQ(s.LitColumns(30), (std::vector<int>{s.Column(60), s.Column(120), s.Column(380)}));
        EXPECT_EQ(s.panel->paints, paints);
    }
}

TEST(MarkerPanelDrag, ButtonsActOneAtATimeAndLosingTheMouseEndsTheDrag) {
    Dragging s;
    TLumCustomMarkerPanel& p = *s.panel;
    p.SetLocator(100);
    Log log;
    Record(p, log);
    // Left drags, the right press is held back; letting go of the left
    // button first still ends the drag, and the right release is held back
    // with its press.
    s.Press(s.Column(100));
    s.Press(s.Column(100), Qt::RightButton);
    EXPECT_TRUE(MarkerPanelButtonHeld());
    s.Release(s.Column(100));
    EXPECT_FALSE(p.Tracking());
    s.Release(s.Column(100), Qt::RightButton);
    s.Move(s.Column(200));
    EXPECT_EQ(p.GetLocator(), 100);
    EXPECT_EQ(log, (Log{"begin", "end"}));

    // The other order.
    log.clear();
    s.Press(s.Column(100));
    s.Press(s.Column(100), Qt::RightButton);
    s.Release(s.Column(100), Qt::RightButton);
    EXPECT_TRUE(p.Tracking());
    s.Release(s.Column(100));
    EXPECT_EQ(log, (Log{"begin", "end"}));

    // The panel loses the mouse mid-drag: the drag ends where the pointer
    // is, and the real release that follows is not reported.
    log.clear();
    s.Press(s.Column(100));
    s.Move(s.Column(150));
    p.Perform(WM_CANCELMODE, 0, 0, 0);
    EXPECT_FALSE(p.Tracking());
    EXPECT_FALSE(p.GetMouseCapture());
    s.Release(s.Column(150));
    EXPECT_EQ(log, (Log{"begin", "locator 150", "track", "end"}));
}

TEST(MarkerPanelDrag, HoveringSetsHintAndCursorButKeepsTheOwnSettings) {
    RegisterLumCursors();
    Dragging s;
    TLumCustomMarkerPanel& p = *s.panel;
    p.SetUseMarkers(true);
    p.SetMarkerA(100);
    p.SetMarkerB(300);
    p.SetLocator(200);
    p.SetCursor(crCross);
    p.SetDefaultHint("the wave");
    s.Move(s.Column(100));
    test::Settle();
    EXPECT_EQ(p.GetHint(), "Marker A");
    EXPECT_EQ(p.GetCursor(), 2011);
    EXPECT_TRUE(p.GetShowHint());
    s.Move(s.Column(250));
    test::Settle();
    EXPECT_EQ(p.GetHint(), "the wave");
    EXPECT_EQ(p.GetCursor(), crCross);

    p.SetDrawGriff(true);
    s.Move(s.Column(200));
    test::Settle();
    EXPECT_EQ(p.GetHint(), "Locator");
    EXPECT_EQ(p.GetCursor(), 2001);
    // No hint anywhere: none shows.
    p.SetDefaultHint("");
    s.Move(s.Column(250));
    test::Settle();
    EXPECT_FALSE(p.GetShowHint());
    // Hints turned off from outside stay off over the lines.
    s.Move(s.Column(200));
    test::Settle();
    EXPECT_TRUE(p.GetShowHint());
    p.SetShowHint(false);
    s.Move(s.Column(300));
    test::Settle();
    EXPECT_EQ(p.GetHint(), "Marker B");
    EXPECT_FALSE(p.GetShowHint());
    // In edit mode no hints are worked out.
    p.SetEditMode(1);
    s.Move(s.Column(100));
    test::Settle();
    EXPECT_EQ(p.GetHint(), "Marker B");
    EXPECT_EQ(p.GetCursor(), 2001);
}
