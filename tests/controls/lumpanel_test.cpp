// The marker panel's values: the mapping between values and pixels, the
// ranges and display window, the lines' limits, snapping, hit tests, and
// what a paint puts where (grids, lines, list markers), plus the two
// plain panels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <vector>

#include "controls/lumpanel.h"
#include "markerpanel.h"

using namespace lum;
using lum::test::MakeMarker;
using lum::test::ShownPanel;

namespace {

// A hidden panel of the given size and bevel width.
struct Sized {
    TLumMarkerPanel panel;
    Sized(int w, int h, int bevel = 1) {
        panel.SetBounds(0, 0, w, h);
        if (bevel == 0)
            panel.GetBevel()->SetBevelOuter(bvNone);
        else
            panel.GetBevel()->SetBevelOuterWidth(bevel);
    }
};

} // namespace

TEST(Panels, PlainPanelsStartAtTheirSizeAndBorderPaintsOnlyItsBevel) {
    TLumPanel panel;
    EXPECT_EQ(panel.width(), 185);
    EXPECT_EQ(panel.height(), 41);
    panel.SetColor(0xFF0000);
    auto* border = new TLumBorder(&panel);
    EXPECT_EQ(border->width(), 185);
    EXPECT_EQ(border->height(), 41);
    border->SetBounds(10, 10, 30, 20);
    border->SetTransparent(true);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    const QImage shot = test::Grab(panel);
    // The panel shows through the border's inside; the bevel is drawn.
    EXPECT_EQ(test::Px(shot, 25, 20), 0xFF0000u);
    EXPECT_NE(test::Px(shot, 10, 20), 0xFF0000u);
    EXPECT_NE(test::Px(shot, 39, 20), 0xFF0000u);
}

TEST(MarkerPanelMapping, FreshPanelMapsTheWholeRangeInsideTheBevel) {
    Sized s(200, 41);
    EXPECT_EQ(s.panel.BevelExtend(), 1);
    EXPECT_EQ(s.panel.X_ToPixel(0), 1);
    EXPECT_EQ(s.panel.X_ToPixel(1000), 198);
    EXPECT_EQ(s.panel.Y_ToPixel(0), 39);
    EXPECT_EQ(s.panel.Y_ToPixel(1000), 1);
    // Ties go to the even neighbour: 197 * 500 / 1000 = 98.5.
    EXPECT_EQ(s.panel.X_ToPixel(500), 99);
    // Far outside the window the plain mapping stops at 16384.
    EXPECT_EQ(s.panel.X_ToPixel(2000000000), 16384);
    EXPECT_EQ(s.panel.X_ToPixel(-2000000000), -16384);
    EXPECT_GT(s.panel.X_ToPixelNoLimit(2000000000), 16384);
}

TEST(MarkerPanelMapping, RoundTripsHoldAtManySizesBevelsAndWindows) {
    struct Window {
        std::int32_t lo, hi;
    };
    const Window windows[] = {
        {0, 1000}, {0, 10}, {-500, 12345}, {1000000, 1000300}, {-2000000000, 2000000000}};
    for (int bevel : {0, 1, 4}) {
        for (int size : {2 * bevel + 2, 2 * bevel + 3, 17, 200, 333, 1024, 1921}) {
            Sized s(size, size, bevel);
            s.panel.SetRangeAll(-2100000000, 2100000000, -2100000000, 2100000000, 0);
            for (const Window& w : windows) {
                // Set afresh: setting the window it has already changes nothing.
                s.panel.SetDispAll(-7, -6, -7, -6);
                s.panel.SetDispAll(w.lo, w.hi, w.lo, w.hi);
                TLumCustomMarkerPanel& p = s.panel;
                SCOPED_TRACE(::testing::Message() << "bevel " << bevel << " size " << size
                                                  << " window " << w.lo << ".." << w.hi);
                const int e = p.BevelExtend();
                // The window spans at least a unit a pixel.
                ASSERT_GE(std::int64_t{p.GetDispMaxX()} - p.GetDispMinX(), size - 2 * e);
                EXPECT_EQ(p.X_ToPixel(p.GetDispMinX()), e);
                EXPECT_EQ(p.X_ToPixel(p.GetDispMaxX()), size - e - 1);
                EXPECT_EQ(p.Y_ToPixel(p.GetDispMinY()), size - e - 1);
                EXPECT_EQ(p.Y_ToPixel(p.GetDispMaxY()), e);
                // Every inner pixel comes back from its value.
                for (int px = e; px <= size - e - 1; ++px) {
                    ASSERT_EQ(p.X_ToPixel(p.PixelTo_X(px)), px);
                    ASSERT_EQ(p.Y_ToPixel(p.PixelTo_Y(px)), px);
                }
                // Values come back to within half a pixel's worth, and the
                // mapping never runs backwards.
                const double unit =
                    (double(p.GetDispMaxX()) - p.GetDispMinX()) / std::max(size - 2 * e - 1, 1);
                int last = -20000;
                for (int i = 0; i <= 64; ++i) {
                    const std::int32_t v = static_cast<std::int32_t>(
                        p.GetDispMinX() + (double(p.GetDispMaxX()) - p.GetDispMinX()) * i / 64);
                    const int px = p.X_ToPixel(v);
                    ASSERT_GE(px, last);
                    last = px;
                    ASSERT_LE(std::abs(double(p.PixelTo_X(px)) - v), unit / 2 + 1);
                }
            }
        }
    }
}

TEST(MarkerPanelMapping, PanelTooSmallForItsBevelNeverDividesByZero) {
    for (int size : {0, 1, 2, 3}) {
        Sized s(size, size);
        SCOPED_TRACE(size);
        s.panel.SetMinMax(5, 5);
        s.panel.SetMinMaxY(5, 5);
        // A window is never empty, and the mapping gives plain numbers.
        EXPECT_GT(s.panel.GetDispMaxX(), s.panel.GetDispMinX());
        EXPECT_GT(s.panel.GetDispMaxY(), s.panel.GetDispMinY());
        EXPECT_EQ(s.panel.X_ToPixel(s.panel.GetDispMinX()), 1);
        EXPECT_EQ(s.panel.PixelTo_X(1), s.panel.GetDispMinX());
        EXPECT_EQ(s.panel.PixelTo_Y(size - 2), s.panel.GetDispMinY());
        // The far ends map no further out than the near ones: X grows to the
        // right, Y upwards.
        EXPECT_GE(s.panel.X_ToPixel(s.panel.GetDispMaxX()), 1);
        EXPECT_LE(s.panel.Y_ToPixel(s.panel.GetDispMaxY()),
                  s.panel.Y_ToPixel(s.panel.GetDispMinY()));
    }
}

TEST(MarkerPanelRanges, DisplayWindowWidensToThePixelsAndMovesIntoTheRange) {
    Sized s(200, 41);
    std::vector<std::pair<int, int>> changes;
    s.panel.OnRangeChanged = [&](QWidget*, std::int32_t lo, std::int32_t hi) {
        changes.push_back({lo, hi});
    };
    s.panel.SetMinMax(0, 50);
    EXPECT_EQ(s.panel.GetDispMinX(), 0);
    EXPECT_EQ(s.panel.GetDispMaxX(), 198); // one unit a pixel: 200 - 2
    s.panel.SetMinMax(1400, 900);          // reversed, and beyond the range
    EXPECT_EQ(s.panel.GetDispMinX(), 500);
    EXPECT_EQ(s.panel.GetDispMaxX(), 1000);
    s.panel.SetDispMinX(-300);
    EXPECT_EQ(s.panel.GetDispMinX(), 0);
    EXPECT_EQ(s.panel.GetDispMaxX(), 1000);
    s.panel.SetMinMax(0, 1000); // unchanged: no event
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0], std::make_pair(0, 198));
    EXPECT_EQ(changes[1], std::make_pair(500, 1000));

    // While loading, the window changes silently.
    s.panel.BeginLoading();
    s.panel.SetMinMax(100, 700);
    s.panel.Loaded();
    EXPECT_EQ(changes.size(), 3u);
    EXPECT_EQ(s.panel.GetDispMinX(), 100);
}

TEST(MarkerPanelRanges, RangeSettersSortWidenClampBaseAndRefitTheWindow) {
    Sized s(200, 41);
    s.panel.SetRangeAll(50, 50, 0, 1000, 500);
    EXPECT_EQ(s.panel.GetRangeMinX(), 50);
    EXPECT_EQ(s.panel.GetRangeMaxX(), 51);
    EXPECT_EQ(s.panel.GetDispMinX(), 50);
    EXPECT_EQ(s.panel.GetDispMaxX(), 51);

    s.panel.SetRangeAll(4000, -4000, 300, -300, 900);
    EXPECT_EQ(s.panel.GetRangeMinX(), -4000);
    EXPECT_EQ(s.panel.GetRangeMaxX(), 4000);
    EXPECT_EQ(s.panel.GetRangeMinY(), -300);
    EXPECT_EQ(s.panel.GetRangeMaxY(), 300);
    EXPECT_EQ(s.panel.GetBaseY(), 300);
    s.panel.SetBaseY(-1000);
    EXPECT_EQ(s.panel.GetBaseY(), -300);

    // A window outside a shrunken range comes back inside it.
    s.panel.SetMinMax(3000, 4000);
    s.panel.SetRangeMaxX(1000);
    EXPECT_LE(s.panel.GetDispMaxX(), 1000);
    EXPECT_GE(s.panel.GetDispMinX(), -4000);
    EXPECT_GE(s.panel.GetDispMaxX() - s.panel.GetDispMinX(), 198);
}

TEST(MarkerPanelLines, LocatorAndMarkersKeepTheirOrder) {
    TLumMarkerPanel p;
    p.SetUseMarkers(true);
    p.SetMarkerA(100);
    p.SetMarkerB(300);
    p.SetLocator(50);
    EXPECT_EQ(p.GetLocator(), 100);
    p.SetLocator(400);
    EXPECT_EQ(p.GetLocator(), 300);
    p.SetLocator(200);
    p.SetMarkerA(250); // at most the locator - 1
    EXPECT_EQ(p.GetMarkerA(), 199);
    p.SetMarkerB(150); // at least the locator + 1
    EXPECT_EQ(p.GetMarkerB(), 201);

    // With the locator at 0, A is held below B instead.
    p.SetLocator(-1);
    p.SetMarkerA(-1);
    p.SetLocator(0);
    p.SetMarkerB(300);
    p.SetMarkerA(500);
    EXPECT_EQ(p.GetMarkerA(), 299);

    // Without the corral, B stays above A.
    p.SetCorralLocator(false);
    p.SetMarkerB(10);
    EXPECT_EQ(p.GetMarkerB(), 300);
    p.SetLocator(900);
    EXPECT_EQ(p.GetLocator(), 900);

    // A negative value clears a line whatever the others are.
    p.SetCorralLocator(true);
    p.SetMarkerB(-1);
    EXPECT_EQ(p.GetMarkerB(), -1);
    p.SetLocator(-1);
    EXPECT_EQ(p.GetLocator(), -1);
}

TEST(MarkerPanelSnapping, ValuesSnapToGridLinesWithinTheSnapRange) {
    Sized s(403, 403); // one value unit a pixel: column = value + 1
    TLumCustomMarkerPanel& p = s.panel;
    p.SetMinMax(0, 400);
    p.SetMinMaxY(0, 400);
    std::int32_t v = 0;
    EXPECT_FALSE(p.IsGridX(p.X_ToPixel(198), v)); // snapping off
    EXPECT_EQ(v, 198);
    p.SetSnapToGrid(true);
    EXPECT_TRUE(p.IsGridX(p.X_ToPixel(198), v));
    EXPECT_EQ(v, 200);
    EXPECT_TRUE(p.IsGridX(p.X_ToPixel(103), v));
    EXPECT_EQ(v, 100);
    EXPECT_FALSE(p.IsGridX(p.X_ToPixel(150), v));
    EXPECT_EQ(v, 150);
    p.SetSnapRange(60);
    EXPECT_TRUE(p.IsGridX(p.X_ToPixel(150), v));
    EXPECT_EQ(v, 100);
    p.SetSnapRange(3);
    // Vertically: larger values higher up.
    EXPECT_TRUE(p.IsGridY(p.Y_ToPixel(297), v));
    EXPECT_EQ(v, 300);
    EXPECT_TRUE(p.IsGridY(p.Y_ToPixel(302), v));
    EXPECT_EQ(v, 300);
    EXPECT_FALSE(p.IsGridY(p.Y_ToPixel(250), v));

    // Negative values snap to their own neighbours, not towards zero.
    p.SetRangeAll(-1000, 1000, -1000, 1000, 0);
    p.SetMinMax(-400, 0);
    p.SetMinMaxY(-400, 0);
    EXPECT_FALSE(p.IsGridX(p.X_ToPixel(-150), v));
    EXPECT_EQ(v, -150);
    EXPECT_TRUE(p.IsGridX(p.X_ToPixel(-198), v));
    EXPECT_EQ(v, -200);
    EXPECT_FALSE(p.IsGridY(p.Y_ToPixel(-150), v));
    EXPECT_TRUE(p.IsGridY(p.Y_ToPixel(-102), v));
    EXPECT_EQ(v, -100);
}

TEST(MarkerPanelHits, LinesAreHitWithinTheSnapRangeInOrder) {
    Sized s(403, 60);
    TLumCustomMarkerPanel& p = s.panel;
    p.SetMinMax(0, 400);
    p.SetUseMarkers(true);
    p.SetCorralLocator(false);
    p.SetMarkerA(100);
    p.SetMarkerB(200);
    p.SetLocator(300);
    const int a = p.X_ToPixel(100), b = p.X_ToPixel(200), l = p.X_ToPixel(300);
    EXPECT_TRUE(p.IsMarkerA(a - 4)); // one more to the left
    EXPECT_FALSE(p.IsMarkerA(a - 5));
    EXPECT_TRUE(p.IsMarkerA(a + 3));
    EXPECT_FALSE(p.IsMarkerA(a + 4));
    EXPECT_TRUE(p.IsMarkerB(b + 4)); // one more to the right
    EXPECT_FALSE(p.IsMarkerB(b + 5));
    EXPECT_FALSE(p.IsMarkerB(b - 4));
    EXPECT_TRUE(p.IsLocator(l - 3));
    EXPECT_FALSE(p.IsLocator(l + 4));
    EXPECT_EQ(p.MouseAction(mbLeft, l), mkLocator);
    EXPECT_EQ(p.MouseAction(mbRight, l), mkNone);
    EXPECT_EQ(p.MouseAction(mbLeft, a), mkMarkerA);
    EXPECT_EQ(p.MouseAction(mbRight, a), mkMarkerAB);
    EXPECT_EQ(p.MouseAction(mbMiddle, b), mkMarkerBA);
    EXPECT_EQ(p.GetHintText(b, 5), "Marker B");
    EXPECT_EQ(p.GetHintText(l, 5), "Locator");
    // The locator wins where it lies on a marker.
    p.SetLocator(100);
    EXPECT_EQ(p.MouseAction(mbLeft, a), mkLocator);
    EXPECT_EQ(p.MouseAction(mbRight, a), mkMarkerAB);
    // Lines not in use or not set are not hit; a pair needs both.
    p.SetMarkerB(-1);
    EXPECT_EQ(p.MouseAction(mbRight, a), mkNone);
    p.SetUseLocator(false);
    EXPECT_EQ(p.MouseAction(mbLeft, a), mkMarkerA);
    EXPECT_EQ(p.GetHintText(a, 5), "Marker A");
    p.SetUseMarkers(false);
    EXPECT_EQ(p.MouseAction(mbLeft, a), mkNone);
    p.SetUseMarkers(true);

    TLumMarkerList list;
    list.AddMarker(MakeMarker(1, 250, "verse", 0x00FFFF));
    list.AddMarker(MakeMarker(2, 350, "fixed", 0x00FFFF, true));
    TLumMarker hidden = MakeMarker(3, 380, "hidden", 0x00FFFF);
    hidden.Visible = 0;
    list.AddMarker(hidden);
    p.SetMarkerList(&list);
    const int verse = p.X_ToPixel(250), fixed = p.X_ToPixel(350);
    EXPECT_EQ(p.FindListMarker(verse - 2), 0); // found before it
    EXPECT_EQ(p.FindListMarker(verse + 3), 0); // and after it
    EXPECT_EQ(p.FindListMarker(verse + 4), -1);
    EXPECT_EQ(p.MouseAction(mbLeft, verse), mkListMarker);
    EXPECT_EQ(p.MouseAction(mbRight, verse), mkNone);
    EXPECT_EQ(p.GetHintText(verse, 5), "verse");
    EXPECT_EQ(p.FindListMarker(fixed), 1);
    EXPECT_FALSE(p.IsListMarker(fixed)); // locked: shown and named, not dragged
    EXPECT_EQ(p.GetHintText(fixed, 5), "fixed");
    EXPECT_EQ(p.FindListMarker(p.X_ToPixel(380)), -1);
    p.SetDefaultHint("empty");
    EXPECT_EQ(p.GetHintText(p.X_ToPixel(380), 5), "empty");
    EXPECT_EQ(p.GetMouseCursor(verse, 5), 2011);
    p.SetDrawGriff(true);
    EXPECT_EQ(p.GetMouseCursor(verse, 5), 2001);
    EXPECT_EQ(p.GetMouseCursor(fixed, 5), p.GetCursor());
    p.SetMarkerList(nullptr);
}

TEST(MarkerPanelPaint, GridsLieWhereTheirValuesMapAndSnap) {
    ShownPanel s(403, 63);
    TLumCustomMarkerPanel& p = *s.panel;
    p.SetUseLocator(false);
    p.SetGridColor(0x808080);
    p.SetGridWidthX(100);
    p.SetGridWidthY(300);
    p.SetDrawGridX(true);
    p.SetDrawGridY(true);
    test::Settle();
    // Vertical lines: dotted from the top inner row, one at each multiple of
    // 100 inside the window (the one on its last column left out).
    std::vector<int> expected;
    for (int v = 100; v < 1000; v += 100)
        expected.push_back(p.X_ToPixel(v));
    const int top = p.Y_ToPixel(p.GetDispMaxY());
    EXPECT_EQ(s.LitColumns(top + 3), expected);
    EXPECT_EQ(s.Buffer(expected[0], top + 3), 0x808080u);
    EXPECT_EQ(s.Buffer(expected[0], top + 4), 0u); // every third pixel

    // Horizontal lines at the rows of 300, 600 and 900, the rows IsGridY
    // snaps those values to (larger values higher up).
    std::set<int> rows;
    const int x = p.X_ToPixel(p.GetDispMinX()) + 30; // on the dots, off the X grid
    for (int y = 1; y < p.height() - 1; ++y)
        if (s.Buffer(x, y) != 0) rows.insert(y);
    EXPECT_EQ(rows, (std::set<int>{p.Y_ToPixel(300), p.Y_ToPixel(600), p.Y_ToPixel(900)}));
    p.SetSnapToGrid(true);
    std::int32_t v;
    EXPECT_TRUE(p.IsGridY(p.Y_ToPixel(900), v));
    EXPECT_EQ(v, 900);
    EXPECT_LT(p.Y_ToPixel(900), p.Y_ToPixel(300));

    // A grid of more lines than half the pixels is not drawn at all; a
    // width that is no positive number becomes 1.
    p.SetDrawGridY(false);
    p.SetGridWidthY(std::nanf(""));
    EXPECT_EQ(p.GetGridWidthY(), 1.0f);
    p.SetGridWidthX(4);
    test::Settle();
    EXPECT_TRUE(s.LitColumns(top + 3).empty());
}

TEST(MarkerPanelPaint, LinesAndListMarkersShowInTheirColours) {
    ShownPanel s(403, 60);
    TLumCustomMarkerPanel& p = *s.panel;
    p.SetMinMax(0, 400);
    p.SetUseMarkers(true);
    p.SetMarkerA(100);
    p.SetMarkerB(300);
    p.SetLocator(200);
    p.SetHelpLocator(50);
    TLumMarkerList list;
    list.AddMarker(MakeMarker(1, 250, "one", 0x00FFFF));
    TLumMarker hidden = MakeMarker(2, 260, "two", 0xFF00FF);
    hidden.Visible = 0;
    list.AddMarker(hidden);
    p.SetMarkerList(&list);
    test::Settle();
    const int y = 30;
    EXPECT_EQ(s.Buffer(s.Column(200), y), 0x00FF00u);
    EXPECT_EQ(s.Buffer(s.Column(100), y), 0x0000FFu);
    EXPECT_EQ(s.Buffer(s.Column(300), y), 0x0000FFu);
    // The list marker is dotted: every third row from the top.
    EXPECT_EQ(s.Buffer(s.Column(250), 30), 0x00FFFFu);
    EXPECT_EQ(s.Buffer(s.Column(250), 31), 0u);
    EXPECT_EQ(s.Buffer(s.Column(260), 30), 0u);
    // The help locator is inverted with a dotted pen.
    const bool lit29 = s.Buffer(s.Column(50), 29) == 0xC0C0C0u;
    const bool lit30 = s.Buffer(s.Column(50), 30) == 0xC0C0C0u;
    EXPECT_NE(lit29, lit30);

    // A and B on one column are drawn apart, A to the left.
    p.SetCorralLocator(false);
    p.SetLocator(-1);
    p.SetRangeMaxX(4000);
    p.SetMinMax(0, 4000); // ten units a pixel
    p.SetMarkerB(1004);
    p.SetMarkerA(1000);
    ASSERT_EQ(p.X_ToPixel(1000), p.X_ToPixel(1004));
    test::Settle();
    const int c = p.X_ToPixel(1000);
    EXPECT_EQ(s.Buffer(c - 1, y), 0x0000FFu);
    EXPECT_EQ(s.Buffer(c, y), 0u);
    EXPECT_EQ(s.Buffer(c + 1, y), 0x0000FFu);
    p.SetMarkerList(nullptr);
}

TEST(MarkerPanelPaint, SolidLinesRestoreTheStripUnderThem) {
    for (bool griff : {false, true}) {
        SCOPED_TRACE(griff ? "with grips" : "without grips");
        ShownPanel s(403, 60);
        TLumCustomMarkerPanel& p = *s.panel;
        p.SetMinMax(0, 400);
        p.SetDrawGridX(true);
        p.SetDrawGridY(true);
        p.SetGridWidthX(20);
        p.SetGridWidthY(50);
        p.SetDrawGriff(griff);
        p.SetLocator(-1);
        test::Settle();
        auto snapshot = [&] {
            std::vector<std::uint32_t> px;
            for (int y = 0; y < 60; ++y)
                for (int x = 0; x < 403; ++x)
                    px.push_back(s.Buffer(x, y));
            return px;
        };
        const auto bare = snapshot();
        p.SetDrawSolid(true);
        p.SetLocatorColor(0x00FFFF);
        p.SetLocator(60);
        test::Settle();
        const int paints = s.panel->paints;
        // Solid: the colour itself over a grid dot, not an inverted one.
        EXPECT_EQ(s.Buffer(s.Column(60), p.Y_ToPixel(50)), 0x00FFFFu);
        for (int v = 61; v <= 240; v += 7)
            p.SetLocator(v);
        p.SetLocator(-1);
        test::Settle();
        EXPECT_EQ(s.panel->paints, paints);
        EXPECT_EQ(snapshot(), bare);
    }
}

TEST(MarkerPanelPaint, GripsAreDrawnAtTheTopAndErasedWhenTheLineMoves) {
    ShownPanel s(403, 60);
    TLumCustomMarkerPanel& p = *s.panel;
    p.SetMinMax(0, 400);
    p.SetDrawGriff(true);
    p.SetUseMarkers(true);
    p.SetCorralLocator(false);
    p.SetLocator(200);
    p.SetMarkerA(100);
    p.SetMarkerB(300);
    test::Settle();
    const int c = s.Column(200), a = s.Column(100), b = s.Column(300);
    // The locator's grip spans x - 5 ... x + 4 on the first inner row.
    EXPECT_EQ(s.Buffer(c - 5, 1), 0x00FF00u);
    EXPECT_EQ(s.Buffer(c + 4, 1), 0x00FF00u);
    EXPECT_EQ(s.Buffer(c + 5, 1), 0u);
    EXPECT_EQ(s.Buffer(c, 40), 0x00FF00u);
    // A points right, B left.
    EXPECT_EQ(s.Buffer(a + 3, 4), 0x0000FFu);
    EXPECT_EQ(s.Buffer(a - 3, 4), 0u);
    EXPECT_EQ(s.Buffer(b - 3, 4), 0x0000FFu);
    EXPECT_EQ(s.Buffer(b + 3, 4), 0u);
    p.SetLocator(250);
    test::Settle();
    for (int x = c - 5; x <= c + 4; ++x)
        EXPECT_EQ(s.Buffer(x, 1), 0u) << x;
    EXPECT_EQ(s.Buffer(s.Column(250), 1), 0x00FF00u);

    // List markers of a pair point into it and are outlined in black.
    TLumMarkerList list;
    list.AddMarker(MakeMarker(7, 120, "in", 0x00FFFF, false, 8));
    list.AddMarker(MakeMarker(8, 160, "out", 0x00FFFF, false, 7));
    p.SetMarkerList(&list);
    p.SetColor(0x404040);
    test::Settle();
    const int in = s.Column(120), out = s.Column(160);
    EXPECT_EQ(s.Buffer(in + 2, 4), 0x00FFFFu);
    EXPECT_EQ(s.Buffer(in + 4, 4), 0u); // the outline
    EXPECT_EQ(s.Buffer(in - 2, 4), 0x404040u);
    EXPECT_EQ(s.Buffer(out - 2, 4), 0x00FFFFu);
    EXPECT_EQ(s.Buffer(out + 2, 4), 0x404040u);
    p.SetMarkerList(nullptr);
}
