#include <gtest/gtest.h>

#include "gditest.h"
#include "platform/gdi/gdi.h"

using namespace lum::platform;
using namespace lum::platform::gdi;
using lum::platform::gdi::test::MemDC;
using lum::platform::gdi::test::Selected;

namespace {
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreen = RGB(0, 160, 0);

// True when some pixel of colour Inside touches (4-neighbour) a pixel of colour Outside.
bool Touches(const MemDC& d, int w, int h, COLORREF inside, COLORREF outside) {
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (d.At(x, y) != inside) continue;
            const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
            for (int i = 0; i < 4; ++i)
                if (nx[i] >= 0 && nx[i] < w && ny[i] >= 0 && ny[i] < h &&
                    d.At(nx[i], ny[i]) == outside)
                    return true;
        }
    return false;
}
} // namespace

TEST(Lines, PolylinesLeaveOutTheirLastPointSoBevelRingsNest) {
    // One ring of a lowered bevel on (1, 1, 11, 7): right and bottom taken
    // one inward, top-left polyline in the shadow colour, bottom-right in
    // the light colour ending one pixel left of the ring.
    MemDC d(12, 8);
    const POINT top[3] = {{1, 6}, {1, 1}, {10, 1}};
    const POINT bottom[3] = {{10, 1}, {10, 6}, {0, 6}};
    {
        Selected pen(d.dc(), CreatePen(PS_SOLID, 1, kRed));
        Polyline(d.dc(), top, 3);
    }
    {
        Selected pen(d.dc(), CreatePen(PS_SOLID, 1, kBlue));
        Polyline(d.dc(), bottom, 3);
    }
    for (int y = 1; y <= 5; ++y)
        EXPECT_EQ(d.At(1, y), kRed) << y;
    for (int x = 1; x <= 9; ++x)
        EXPECT_EQ(d.At(x, 1), kRed) << x;
    for (int y = 1; y <= 6; ++y)
        EXPECT_EQ(d.At(10, y), kBlue) << y;
    for (int x = 1; x <= 10; ++x)
        EXPECT_EQ(d.At(x, 6), kBlue) << x;
    EXPECT_EQ(d.At(0, 6), kWhite) << "the final point is not drawn";
    EXPECT_EQ(d.Count(kRed) + d.Count(kBlue), 28); // the ring and nothing else
}

TEST(Lines, DiagonalsStepOnePixelPerRow) {
    MemDC d(10, 10);
    Selected pen(d.dc(), CreatePen(PS_SOLID, 1, kRed));
    MoveToEx(d.dc(), 0, 0, nullptr);
    LineTo(d.dc(), 6, 3);
    POINT pos;
    GetCurrentPositionEx(d.dc(), &pos);
    EXPECT_EQ(pos, (POINT{6, 3}));
    EXPECT_EQ(d.Count(kRed), 6);
    EXPECT_EQ(d.At(0, 0), kRed);
    EXPECT_EQ(d.At(6, 3), kWhite);
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(d.Count(kRed, RECT{x, 0, x + 1, 10}), 1) << x;
}

TEST(Lines, MixModeXorDrawnTwiceRestores) {
    MemDC d(20, 5, RGB(0x12, 0x34, 0x56));
    Selected pen(d.dc(), CreatePen(PS_SOLID, 1, RGB(0xFF, 0x0F, 0xF0)));
    EXPECT_EQ(SetROP2(d.dc(), R2_XORPEN), R2_COPYPEN);
    MoveToEx(d.dc(), 0, 2, nullptr);
    LineTo(d.dc(), 20, 2);
    EXPECT_EQ(d.At(5, 2), RGB(0xED, 0x3B, 0xA6));
    MoveToEx(d.dc(), 0, 2, nullptr);
    LineTo(d.dc(), 20, 2);
    EXPECT_EQ(d.Count(RGB(0x12, 0x34, 0x56)), 100);
    SetROP2(d.dc(), R2_NOT);
    MoveToEx(d.dc(), 0, 0, nullptr);
    LineTo(d.dc(), 1, 0);
    EXPECT_EQ(d.At(0, 0), RGB(0xED, 0xCB, 0xA9));
}

TEST(Lines, DottedPenGapsTakeTheBackgroundOnlyWhenOpaque) {
    MemDC d(10, 2, kRed);
    Selected pen(d.dc(), CreatePen(PS_DOT, 1, RGB(0, 0, 0)));
    SetBkMode(d.dc(), TRANSPARENT);
    MoveToEx(d.dc(), 0, 0, nullptr);
    LineTo(d.dc(), 10, 0);
    EXPECT_EQ(d.Count(RGB(0, 0, 0), RECT{0, 0, 10, 1}), 5);
    EXPECT_EQ(d.Count(kRed, RECT{0, 0, 10, 1}), 5);
    EXPECT_EQ(d.At(0, 0), RGB(0, 0, 0));
    EXPECT_EQ(d.At(1, 0), kRed);
    SetBkMode(d.dc(), OPAQUE);
    SetBkColor(d.dc(), kBlue);
    MoveToEx(d.dc(), 0, 1, nullptr);
    LineTo(d.dc(), 10, 1);
    EXPECT_EQ(d.Count(kBlue, RECT{0, 1, 10, 2}), 5);
}

TEST(Lines, WidePensAreAsThickAsTheirWidth) {
    MemDC d(30, 20);
    Selected pen(d.dc(), CreatePen(PS_SOLID, 5, kRed));
    MoveToEx(d.dc(), 5, 10, nullptr);
    LineTo(d.dc(), 25, 10);
    EXPECT_EQ(d.Count(kRed, RECT{15, 0, 16, 20}), 5);
    EXPECT_EQ(d.At(15, 10), kRed);
}

TEST(Shapes, RectanglesFillInsideTheirPenAndExcludeRightAndBottom) {
    MemDC d(8, 6);
    {
        Selected pen(d.dc(), CreatePen(PS_SOLID, 1, kRed));
        Selected brush(d.dc(), CreateSolidBrush(kGreen));
        Rectangle(d.dc(), 1, 1, 5, 4);
    }
    EXPECT_EQ(d.Extent(kWhite), (RECT{1, 1, 5, 4}));
    EXPECT_EQ(d.Count(kRed), 10);
    EXPECT_EQ(d.Count(kGreen), 2);
    EXPECT_EQ(d.At(2, 2), kGreen);
    d.Fill(kWhite);
    {
        Selected brush(d.dc(), CreateSolidBrush(kGreen));
        SelectObject(d.dc(), GetStockObject(NULL_PEN));
        Rectangle(d.dc(), 1, 1, 5, 4);
    }
    EXPECT_EQ(d.Extent(kWhite), (RECT{1, 1, 4, 3}))
        << "without a pen the rectangle is one pixel smaller";
    d.Fill(kWhite);
    HBRUSH blue = CreateSolidBrush(kBlue);
    const RECT r{2, 1, 6, 3};
    FillRect(d.dc(), &r, blue);
    EXPECT_EQ(d.Extent(kWhite), r);
    EXPECT_EQ(d.Count(kBlue), 8);
    FrameRect(d.dc(), &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(d.Count(kBlue), 0) << "a 4 by 2 frame covers it all";
    EXPECT_EQ(FillRect(d.dc(), &r, nullptr), 0);
    DeleteObject(blue);
}

TEST(Shapes, EllipsesStayInsideTheirBoxTouchEveryEdgeAndAreClosed) {
    const RECT boxes[] = {{2, 3, 30, 15}, {0, 0, 31, 20}, {5, 5, 9, 19}, {1, 1, 4, 4}};
    for (const RECT& box : boxes) {
        MemDC d(32, 20);
        Selected pen(d.dc(), CreatePen(PS_SOLID, 1, kRed));
        Selected brush(d.dc(), CreateSolidBrush(kGreen));
        Ellipse(d.dc(), box.left, box.top, box.right, box.bottom);
        EXPECT_EQ(d.Extent(kWhite), box)
            << box.left << "," << box.top << "," << box.right << "," << box.bottom;
        EXPECT_FALSE(Touches(d, 32, 20, kGreen, kWhite)) << "the outline has a gap";
        // Symmetric about both axes of the box.
        for (int y = box.top; y < box.bottom; ++y)
            for (int x = box.left; x < box.right; ++x) {
                ASSERT_EQ(d.At(x, y), d.At(box.left + box.right - 1 - x, y)) << x << "," << y;
                ASSERT_EQ(d.At(x, y), d.At(x, box.top + box.bottom - 1 - y)) << x << "," << y;
            }
    }
}

TEST(Shapes, PiesRunCounterClockwiseFromTheFirstRadialToTheSecond) {
    MemDC d(40, 20);
    Selected pen(d.dc(), CreatePen(PS_SOLID, 1, kRed));
    Selected brush(d.dc(), CreateSolidBrush(kGreen));
    // From the right-hand radial to the top one: the top-right quarter.
    Pie(d.dc(), 0, 0, 40, 20, 40, 10, 20, 0);
    const RECT quarter = d.Extent(kWhite);
    EXPECT_GE(quarter.left, 19);
    EXPECT_LE(quarter.bottom, 11);
    EXPECT_EQ(quarter.right, 40);
    EXPECT_EQ(quarter.top, 0);
    EXPECT_EQ(d.At(32, 5), kGreen);
    EXPECT_FALSE(Touches(d, 40, 20, kGreen, kWhite));
    // The other way round: three quarters.
    d.Fill(kWhite);
    Pie(d.dc(), 0, 0, 40, 20, 20, 0, 40, 10);
    EXPECT_EQ(d.At(32, 5), kWhite);
    EXPECT_EQ(d.At(8, 5), kGreen);
    EXPECT_EQ(d.At(32, 15), kGreen);
    EXPECT_EQ(d.Extent(kWhite), (RECT{0, 0, 40, 20}));
    // Equal radials give the whole ellipse, pixel for pixel.
    d.Fill(kWhite);
    Pie(d.dc(), 0, 0, 40, 20, 20, 0, 20, 0);
    MemDC e(40, 20);
    {
        Selected pen2(e.dc(), CreatePen(PS_SOLID, 1, kRed));
        Selected brush2(e.dc(), CreateSolidBrush(kGreen));
        Ellipse(e.dc(), 0, 0, 40, 20);
    }
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(d.At(x, y), e.At(x, y)) << x << "," << y;
}

TEST(Shapes, InvertingFramesRemoveThemselvesWhenDrawnAgain) {
    MemDC d(10, 8, RGB(0x10, 0x20, 0x30));
    const RECT r{1, 1, 9, 7};
    DrawFocusRect(d.dc(), &r);
    const int frame = d.Count(RGB(0xEF, 0xDF, 0xCF));
    EXPECT_EQ(frame, 12) << "every other pixel of a 24-pixel edge";
    EXPECT_EQ(d.Count(RGB(0xEF, 0xDF, 0xCF), RECT{2, 2, 8, 6}), 0);
    DrawFocusRect(d.dc(), &r);
    EXPECT_EQ(d.Count(RGB(0x10, 0x20, 0x30)), 80);
    InvertRect(d.dc(), &r);
    EXPECT_EQ(d.Count(RGB(0xEF, 0xDF, 0xCF)), 48);
}

TEST(Shapes, PolygonsFillTheirInsideAndOutlineEveryEdge) {
    MemDC d(20, 20);
    Selected pen(d.dc(), CreatePen(PS_SOLID, 1, kRed));
    Selected brush(d.dc(), CreateSolidBrush(kGreen));
    const POINT tri[3] = {{2, 2}, {17, 2}, {2, 17}};
    Polygon(d.dc(), tri, 3);
    EXPECT_EQ(d.At(5, 5), kGreen);
    EXPECT_EQ(d.At(15, 15), kWhite);
    for (const POINT& p : tri)
        EXPECT_EQ(d.At(p.x, p.y), kRed);
    EXPECT_FALSE(Touches(d, 20, 20, kGreen, kWhite));
}

TEST(Clipping, ClipRectanglesStopSpansLinesAndShapes) {
    MemDC d(10, 10);
    EXPECT_EQ(IntersectClipRect(d.dc(), 2, 1, 5, 8), SIMPLEREGION);
    HBRUSH blue = CreateSolidBrush(kBlue);
    const RECT all{0, 0, 10, 10};
    FillRect(d.dc(), &all, blue);
    EXPECT_EQ(GetPixel(d.dc(), 0, 0), CLR_INVALID) << "outside the clip";
    RECT box;
    EXPECT_EQ(GetClipBox(d.dc(), &box), SIMPLEREGION);
    EXPECT_EQ(box, (RECT{2, 1, 5, 8}));
    // A second rectangle narrows the first.
    IntersectClipRect(d.dc(), 0, 0, 3, 3);
    GetClipBox(d.dc(), &box);
    EXPECT_EQ(box, (RECT{2, 1, 3, 3}));
    SelectClipRgn(d.dc(), nullptr);
    EXPECT_EQ(d.Extent(kWhite), (RECT{2, 1, 5, 8}));
    d.Fill(kWhite);
    EXPECT_EQ(d.Count(kWhite), 100) << "clipping removed";
    // Through a region and with the origin moved.
    HRGN rgn = CreateRectRgn(4, 4, 6, 6);
    SelectClipRgn(d.dc(), rgn);
    DeleteObject(rgn);
    SetViewportOrgEx(d.dc(), 3, 3, nullptr);
    const RECT at{0, 0, 10, 10};
    FillRect(d.dc(), &at, blue);
    EXPECT_EQ(d.At(1, 1), RGB(0, 0, 255)) << "logical (1, 1) is device (4, 4)";
    SetViewportOrgEx(d.dc(), 0, 0, nullptr);
    SelectClipRgn(d.dc(), nullptr);
    EXPECT_EQ(d.Extent(kWhite), (RECT{4, 4, 6, 6}));
    DeleteObject(blue);
}

TEST(Contexts, AWindowContextAcceptsDrawingButHasNoPixels) {
    HDC dc = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 32);
    EXPECT_EQ(GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE, 0) << "not a palette display";
    EXPECT_EQ(GetDeviceCaps(dc, SIZEPALETTE), 0);
    EXPECT_TRUE(Rectangle(dc, 0, 0, 10, 10));
    EXPECT_EQ(GetPixel(dc, 1, 1), CLR_INVALID);
    EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
    EXPECT_FALSE(Rectangle(dc, 0, 0, 10, 10)) << "a released context is refused";
}
