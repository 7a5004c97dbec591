#include <gtest/gtest.h>

#include "core/lumutils_draw.h"

using namespace lum;
namespace gdi = lum::platform::gdi;
using lum::platform::COLORREF;
using lum::platform::RECT;

namespace {

// A 32-bit bitmap selected into its own memory context for the test.
struct Surface {
    Surface(int w, int h, COLORREF fill) : w(w), h(h) {
        dc = gdi::CreateCompatibleDC(nullptr);
        bmp = gdi::CreateBitmap(w, h, 1, 32, nullptr);
        old = gdi::SelectObject(dc, bmp);
        Fill(RECT{0, 0, w, h}, fill);
    }
    ~Surface() {
        gdi::SelectObject(dc, old);
        gdi::DeleteObject(bmp);
        gdi::DeleteDC(dc);
    }
    void Fill(RECT r, COLORREF c) {
        gdi::HBRUSH b = gdi::CreateSolidBrush(c);
        gdi::FillRect(dc, &r, b);
        gdi::DeleteObject(b);
    }
    COLORREF At(int x, int y) const { return gdi::GetPixel(dc, x, y); }
    // Gives the bitmap up so that it can be selected elsewhere.
    HBITMAP Detach() {
        gdi::SelectObject(dc, old);
        old = nullptr;
        return bmp;
    }
    int w, h;
    HDC dc;
    HBITMAP bmp;
    gdi::HGDIOBJ old;
};

} // namespace

TEST(LumutilsDraw, TransparentColourIsTheClampedBottomLeftPixel) {
    Surface s(8, 6, 0x112233);
    s.Fill(RECT{0, 5, 1, 6}, 0x00FF00);
    s.Fill(RECT{7, 0, 8, 1}, 0x0000FF);
    HBITMAP b = s.Detach();
    int w, h;
    GetBitmapSize(b, w, h);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 6);
    EXPECT_EQ(GetTransparentColor(b), 0x00FF00);
    EXPECT_EQ(GetTransparentColorEx(b, TPoint{100, -5}), 0x0000FF);
    s.old = gdi::SelectObject(s.dc, b);
}

TEST(LumutilsDraw, TransparentBitmapKeepsDestinationWhereKeyColourIs) {
    Surface glyph(4, 4, 0xFF00FF); // magenta is the key
    glyph.Fill(RECT{1, 1, 3, 3}, 0x0000FF);
    Surface dest(10, 10, 0x808080);
    HBITMAP g = glyph.Detach();
    DrawTransparentBitmap(dest.dc, g, 3, 3, static_cast<TColor>(0xFF00FF));
    EXPECT_EQ(dest.At(3, 3), 0x808080u); // key pixel: destination shows
    EXPECT_EQ(dest.At(4, 4), 0x0000FFu); // glyph pixel drawn
    EXPECT_EQ(dest.At(5, 5), 0x0000FFu);
    EXPECT_EQ(dest.At(6, 6), 0x808080u);
    EXPECT_EQ(dest.At(7, 7), 0x808080u); // outside the glyph
    // The glyph itself is unchanged.
    glyph.old = gdi::SelectObject(glyph.dc, g);
    EXPECT_EQ(glyph.At(0, 0), 0xFF00FFu);
    EXPECT_EQ(glyph.At(1, 1), 0x0000FFu);
}

TEST(LumutilsDraw, TileBltRepeatsAndClipsTheLastRowAndColumn) {
    Surface tile(3, 2, 0x000000);
    tile.Fill(RECT{0, 0, 1, 1}, 0xFFFFFF);
    Surface dest(12, 12, 0x123456);
    HBITMAP t = tile.Detach();
    TileBlt(dest.dc, t, RECT{1, 1, 9, 6}, gdi::SRCCOPY);
    EXPECT_EQ(dest.At(1, 1), 0xFFFFFFu);
    EXPECT_EQ(dest.At(4, 3), 0xFFFFFFu);
    EXPECT_EQ(dest.At(7, 5), 0xFFFFFFu);
    EXPECT_EQ(dest.At(8, 5), 0x000000u);
    EXPECT_EQ(dest.At(9, 5), 0x123456u); // right of Rect
    EXPECT_EQ(dest.At(7, 6), 0x123456u); // below Rect
    tile.old = gdi::SelectObject(tile.dc, t);
}

TEST(LumutilsDraw, GradientBandsFollowTheRoundedArithmetic) {
    Surface dest(10, 2, 0xFFFFFF);
    FillGradient(dest.dc, clBlack, RGBColor(200, 100, 0), 3, RECT{0, 0, 10, 2});
    // Bands 0..3, 3..6, 6..10 (10/3 = 3.33 rounds to 3, 20/3 = 6.67 to 7).
    EXPECT_EQ(dest.At(0, 0), 0x000000u);
    EXPECT_EQ(dest.At(2, 1), 0x000000u);
    EXPECT_EQ(dest.At(3, 0), gdi::ColorToRGB(RGBColor(100, 50, 0)));
    EXPECT_EQ(dest.At(6, 0), gdi::ColorToRGB(RGBColor(100, 50, 0)));
    EXPECT_EQ(dest.At(7, 0), gdi::ColorToRGB(RGBColor(200, 100, 0)));
    FillGradient(dest.dc, clRed, clBlue, 1, RECT{0, 0, 10, 2});
    EXPECT_EQ(dest.At(9, 1), gdi::ColorToRGB(clRed)); // a single band takes Color1
}

TEST(LumutilsDraw, ChangeColorsRecoloursOnlyTheChosenKeysOnce) {
    Surface glyph(3, 1, 0xFFFFFF);
    glyph.Fill(RECT{1, 0, 2, 1}, 0x000000);
    glyph.Fill(RECT{2, 0, 3, 1}, 0xC0C0C0);
    HBITMAP g = glyph.Detach();
    // White becomes black, black becomes grey: no pixel is changed twice.
    ChangeColors(g, ccWhite | ccBlack, clBlack, clSilver, clRed);
    glyph.old = gdi::SelectObject(glyph.dc, g);
    EXPECT_EQ(glyph.At(0, 0), 0x000000u);
    EXPECT_EQ(glyph.At(1, 0), 0xC0C0C0u);
    EXPECT_EQ(glyph.At(2, 0), 0xC0C0C0u); // grey not chosen
}
