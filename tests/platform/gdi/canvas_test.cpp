#include <gtest/gtest.h>

#include <QImage>

#include "gditest.h"
#include "platform/gdi/graphics.h"
#include "platform/gdi/qtgdi.h"

using namespace lum;
using namespace lum::platform;
using namespace lum::platform::gdi;
using lum::platform::gdi::test::MemDC;

TEST(TCanvas, InvertedTextFlipsExactlyThePixelsUnderTheGlyphs) {
    // A bar half filled, then white text on black XORed over it.
    constexpr int W = 80, H = 18;
    TBitmap bar;
    bar.SetSize(W, H);
    TCanvas& c = bar.GetCanvas();
    c.GetBrush().SetColor(clWhite);
    c.FillRect(TRect{0, 0, W, H});
    c.GetBrush().SetColor(clActiveCaption);
    c.FillRect(TRect{0, 0, W / 2, H});
    const QImage before = ImageFromBitmap(bar.GetHandle());

    TBitmap text;
    text.SetSize(W, H);
    TCanvas& t = text.GetCanvas();
    t.GetBrush().SetColor(clBlack);
    t.FillRect(TRect{0, 0, W, H});
    t.GetFont().SetColor(clWhite);
    t.GetBrush().SetStyle(bsClear);
    const SIZE size = t.TextExtent("45%");
    t.TextOut((W - size.cx) / 2, (H - size.cy) / 2, "45%");
    const QImage glyphs = ImageFromBitmap(text.GetHandle());

    const DWORD mode = c.GetCopyMode();
    c.SetCopyMode(cmSrcInvert);
    c.Draw(0, 0, text);
    c.SetCopyMode(mode);
    EXPECT_EQ(c.GetCopyMode(), cmSrcCopy);

    const QImage after = ImageFromBitmap(bar.GetHandle());
    int flipped = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const QRgb g = glyphs.pixel(x, y) & 0xFFFFFF, b = before.pixel(x, y) & 0xFFFFFF;
            ASSERT_TRUE(g == 0 || g == 0xFFFFFF);
            ASSERT_EQ(after.pixel(x, y) & 0xFFFFFF, b ^ g) << x << "," << y;
            flipped += g != 0;
        }
    EXPECT_GT(flipped, 20);
}

TEST(TCanvas, TextClippedToEachPartOfABarInTwoColours) {
    // Black text over the empty part, white over the filled part.
    MemDC d(60, 16);
    TCanvas c(d.dc());
    c.GetFont().SetColor(clBlack);
    c.GetBrush().SetStyle(bsClear);
    const int edge = 25;
    c.TextRect(TRect{edge, 0, 60, 16}, 5, 1, "WWWWWW");
    c.GetFont().SetColor(static_cast<TColor>(clWhite ^ clBlack));
    c.TextRect(TRect{5, 0, edge, 16}, 5, 1, "WWWWWW");
    c.GetBrush().SetStyle(bsSolid);
    EXPECT_EQ(d.Count(RGB(0, 0, 0), RECT{0, 0, edge, 16}), 0);
    EXPECT_GT(d.Count(RGB(0, 0, 0), RECT{edge, 0, 60, 16}), 10);
    // The white text was drawn on white: nothing changed left of the edge.
    EXPECT_EQ(d.Count(RGB(255, 255, 255), RECT{0, 0, edge, 16}), edge * 16);
}

TEST(TCanvas, BevelRingsUseTheLightThemesSystemColours) {
    MemDC d(10, 6);
    TCanvas c(d.dc());
    c.GetPen().SetWidth(1);
    c.GetPen().SetColor(clBtnShadow);
    const TPoint top[3] = {{0, 5}, {0, 0}, {9, 0}};
    c.Polyline(top);
    c.GetPen().SetColor(clBtnHighlight);
    const TPoint bottom[3] = {{9, 0}, {9, 5}, {-1, 5}};
    c.Polyline(bottom);
    EXPECT_EQ(d.At(0, 2), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(d.At(4, 0), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(d.At(9, 3), GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(d.At(0, 5), GetSysColor(COLOR_BTNHIGHLIGHT));
    // A light desktop: faces light grey, shadows darker, highlights white.
    const COLORREF face = ColorToRGB(clBtnFace), shadow = ColorToRGB(clBtnShadow);
    EXPECT_EQ(face, GetSysColor(COLOR_BTNFACE));
    EXPECT_GT(GetGValue(face), 200);
    EXPECT_LT(GetGValue(shadow), GetGValue(face));
    EXPECT_EQ(ColorToRGB(clBtnHighlight), RGB(255, 255, 255));
    EXPECT_EQ(ColorToRGB(clWindow), RGB(255, 255, 255));
    EXPECT_LT(GetGValue(ColorToRGB(clWindowFrame)), GetGValue(shadow));
    EXPECT_EQ(ColorToRGB(clRed), RGB(255, 0, 0));
}

TEST(TCanvas, GivesTheContextBackAsItFoundIt) {
    MemDC d(4, 4);
    {
        TCanvas c(d.dc());
        c.GetPen().SetColor(clRed);
        c.GetBrush().SetColor(clBlue);
        c.GetFont().SetName("Courier New");
        c.Rectangle(0, 0, 4, 4);
        c.TextExtent("x");
        EXPECT_NE(GetCurrentObject(d.dc(), OBJ_PEN), GetStockObject(BLACK_PEN));
    }
    EXPECT_EQ(GetCurrentObject(d.dc(), OBJ_PEN), GetStockObject(BLACK_PEN));
    EXPECT_EQ(GetCurrentObject(d.dc(), OBJ_BRUSH), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(GetCurrentObject(d.dc(), OBJ_FONT), GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(d.At(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(d.At(1, 1), RGB(0, 0, 255));
}

TEST(TCanvas, ReportsDrawingAndPenPosition) {
    MemDC d(10, 10);
    TCanvas c(d.dc());
    int changing = 0, changed = 0;
    c.OnChanging = [&](TCanvas*) { ++changing; };
    c.OnChange = [&](TCanvas*) { ++changed; };
    c.MoveTo(1, 1);
    c.LineTo(5, 1);
    c.TextOut(0, 0, "a");
    EXPECT_EQ(changing, 2);
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(c.GetPenPos(), (TPoint{c.TextWidth("a"), 0})) << "TextOut moves to the text's end";
}

TEST(TFont, SizeInPointsAndHeightInPixelsFollowEachOther) {
    TFont f;
    EXPECT_EQ(f.GetHeight(), -11);
    EXPECT_EQ(f.GetSize(), 8);
    f.SetSize(12);
    EXPECT_EQ(f.GetHeight(), -16);
    f.SetHeight(-13);
    EXPECT_EQ(f.GetSize(), 10);
    TFont g;
    g.Assign(f);
    EXPECT_EQ(g.GetHeight(), -13);
}

TEST(TImageCanvas, PaintsOpaquePixelsIntoAWidgetBuffer) {
    QImage buffer(20, 10, QImage::Format_ARGB32_Premultiplied);
    buffer.fill(Qt::transparent);
    {
        TImageCanvas c(buffer);
        c.GetBrush().SetColor(clBtnFace);
        c.FillRect(TRect{2, 2, 6, 6});
        c.GetPen().SetColor(clRed);
        c.MoveTo(10, 0);
        c.LineTo(10, 10);
    }
    EXPECT_EQ(buffer.pixel(3, 3), ToQColor(clBtnFace).rgba());
    EXPECT_EQ(qAlpha(buffer.pixel(3, 3)), 255);
    EXPECT_EQ(buffer.pixel(10, 5), qRgb(255, 0, 0));
    EXPECT_EQ(qAlpha(buffer.pixel(15, 5)), 0) << "untouched pixels stay transparent";
    QImage gray(4, 4, QImage::Format_Grayscale8);
    EXPECT_EQ(CreateImageDC(&gray), nullptr);
    // Images and bitmaps convert both ways.
    HBITMAP b = BitmapFromImage(buffer);
    const QImage back = ImageFromBitmap(b);
    EXPECT_EQ(back.pixel(3, 3), buffer.pixel(3, 3));
    EXPECT_EQ(back.pixel(15, 5), qRgb(0, 0, 0));
    DeleteObject(b);
}
