#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

#include "controls/lumgauge.h"
#include "controltest.h"
#include "platform/gdi/graphics.h"
#include "platform/gdi/qtgdi.h"

using namespace lum;
using lum::test::Grab;
using lum::test::Px;
using lum::test::Rgb;

namespace {

// Counts the paints that reach the gauge.
class CountingGauge : public TLumGauge {
public:
    using TLumGauge::TLumGauge;
    int paints = 0;

protected:
    void Paint() override {
        ++paints;
        TLumGauge::Paint();
    }
};

TEST(LumGauge, ConstructionValues) {
    TLumGauge g;
    EXPECT_EQ(g.GetWidth(), 150);
    EXPECT_EQ(g.GetHeight(), 18);
    EXPECT_EQ(g.GetMinValue(), 0);
    EXPECT_EQ(g.GetMaxValue(), 100);
    EXPECT_EQ(g.GetProgress(), 0);
    EXPECT_EQ(g.GetKind(), gkHorizontalBar);
    EXPECT_TRUE(g.GetShowText());
    EXPECT_EQ(g.GetForeColor(), clActiveCaption);
    EXPECT_EQ(g.GetBackColor(), clWhite);
    EXPECT_FALSE(g.GetBWText());
    EXPECT_EQ(g.GetPercentText(), "0%");
    EXPECT_EQ(g.GetBevel()->GetBevelOuter(), bvLowered);
}

TEST(LumGauge, SettersClampIntoTheRange) {
    TLumGauge g;
    g.SetMinValue(10);
    g.SetMaxValue(5); // below the minimum: the minimum is stored
    EXPECT_EQ(g.GetMaxValue(), 10);
    g.SetMaxValue(100);
    g.SetMinValue(500); // above the maximum: the maximum is stored
    EXPECT_EQ(g.GetMinValue(), 100);
    g.SetMinValue(INT32_MIN);
    EXPECT_EQ(g.GetMinValue(), -2147483647);
    g.SetMinValue(0);
    g.SetProgress(250);
    EXPECT_EQ(g.GetProgress(), 100);
    EXPECT_EQ(g.GetPercentText(), "100%");
    g.SetProgress(-5);
    EXPECT_EQ(g.GetProgress(), 0);
}

TEST(LumGauge, PercentRule) {
    TLumGauge g;
    g.SetMaxValue(0); // a video of length 0
    EXPECT_EQ(g.GetPercentDone(), 0);
    EXPECT_EQ(g.GetPercentText(), "0%");

    g.SetMaxValue(3);
    g.SetProgress(2);
    EXPECT_EQ(g.GetPercentDone(), 66); // truncated, not rounded

    g.SetMinValue(-100);
    g.SetMaxValue(100);
    g.SetProgress(-99);
    EXPECT_EQ(g.GetPercentDone(), 0);
    g.SetProgress(0);
    EXPECT_EQ(g.GetPercentDone(), 50);

    // The whole 32-bit span, where the differences do not fit 32 bits.
    g.SetMinValue(-2147483647);
    g.SetMaxValue(2147483647);
    g.SetProgress(2147483647);
    EXPECT_EQ(g.GetPercentDone(), 100);

    // A changed range leaves Progress alone, and the percentage may leave 0..100.
    g.SetMinValue(0);
    g.SetMaxValue(100);
    g.SetProgress(80);
    g.SetMaxValue(50);
    EXPECT_EQ(g.GetProgress(), 80);
    EXPECT_EQ(g.GetPercentDone(), 160);

    g.SetCaption("Extracted:");
    g.SetMaxValue(100);
    g.SetProgress(45);
    EXPECT_EQ(g.GetPercentText(), "Extracted: 45%");
}

TEST(LumGauge, AddProgressSaturatesInsteadOfWrapping) {
    TLumGauge g;
    g.SetMaxValue(2147483647);
    g.SetProgress(2147483000);
    g.AddProgress(2147483647);
    EXPECT_EQ(g.GetProgress(), 2147483647);
    g.AddProgress(-10);
    EXPECT_EQ(g.GetProgress(), 2147483637);
}

TEST(LumGauge, RepaintsAtOnceOnlyWhenTheWholePercentageChanges) {
    CountingGauge g;
    g.SetMaxValue(1000);
    g.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
    QApplication::processEvents();
    g.paints = 0;

    for (int p = 1; p <= 9; ++p)
        g.SetProgress(p);
    EXPECT_EQ(g.paints, 0);
    g.SetProgress(10);
    EXPECT_EQ(g.paints, 1); // synchronously, without the event loop
    EXPECT_EQ(g.GetPercentText(), "1%");
    g.SetProgress(10);
    g.SetProgress(19);
    EXPECT_EQ(g.paints, 1);
    g.AddProgress(1);
    EXPECT_EQ(g.paints, 2);

    // A full walk repaints once a percent, however often it is called.
    g.SetProgress(0);
    g.paints = 0;
    for (int p = 0; p <= 1000; ++p)
        g.SetProgress(p);
    EXPECT_EQ(g.paints, 100);

    // The other setters only schedule a repaint.
    g.paints = 0;
    g.SetForeColor(clRed);
    EXPECT_EQ(g.paints, 0);
    QApplication::processEvents();
    EXPECT_EQ(g.paints, 1);
}

TEST(LumGauge, BarWithInvertedTextPixels) {
    TLumGauge g;
    g.SetProgress(50);
    const QImage img = Grab(g);
    // The inner image is 148 x 16 inside the one-pixel lowered bevel; half
    // of it, 74 pixels, is filled.
    EXPECT_EQ(Px(img, 0, 0), Rgb(clBtnShadow));
    EXPECT_EQ(Px(img, 149, 17), Rgb(clBtnHighlight));

    // The text "50%" as the gauge writes it: white on black, centred.
    platform::gdi::TBitmap mask;
    mask.SetSize(148, 16);
    auto& mc = mask.GetCanvas();
    mc.GetBrush().SetColor(clBlack);
    mc.FillRect({0, 0, 148, 16});
    mc.SetFont(g.GetFont());
    mc.GetFont().SetColor(clWhite);
    const auto extent = mc.TextExtent("50%");
    mc.TextOut((148 - extent.cx) / 2, (16 - extent.cy) / 2, "50%");
    const QImage text = platform::gdi::ImageFromBitmap(mask.GetHandle());

    int inverted[2] = {0, 0};
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 148; ++x) {
            const bool filled = x < 74;
            std::uint32_t expected = filled ? Rgb(clActiveCaption) : Rgb(clWhite);
            if (Px(text, x, y) != 0) {
                expected ^= 0xFFFFFF;
                ++inverted[filled];
            }
            ASSERT_EQ(Px(img, x + 1, y + 1), expected) << x << "," << y;
        }
    }
    // The text straddles the fill edge, so both parts show some of it.
    EXPECT_GT(inverted[0], 0);
    EXPECT_GT(inverted[1], 0);
}

TEST(LumGauge, BarLengthIsTheExactQuotient) {
    TLumGauge g;
    g.SetShowText(false);
    g.SetWidth(12); // an inner width of 10
    g.SetProgress(10);
    QImage img = Grab(g);
    EXPECT_EQ(Px(img, 1, 5), Rgb(clActiveCaption)); // 10 % of 10 pixels is 1
    EXPECT_EQ(Px(img, 2, 5), Rgb(clWhite));
    g.SetProgress(0);
    img = Grab(g);
    EXPECT_EQ(Px(img, 1, 5), Rgb(clWhite));
}

TEST(LumGauge, VerticalBarFillsFromTheBottom) {
    TLumGauge g;
    g.SetShowText(false);
    g.SetGaugeKind(gkVerticalBar);
    g.SetBounds(0, 0, 20, 102); // inner 18 x 100
    g.SetProgress(25);
    const QImage img = Grab(g);
    for (int y = 1; y <= 100; ++y) {
        const bool filled = y > 75;
        EXPECT_EQ(Px(img, 10, y), filled ? Rgb(clActiveCaption) : Rgb(clWhite)) << y;
    }
}

TEST(LumGauge, TwoColourTextOnABar) {
    TLumGauge g;
    g.SetBWText(true);
    g.SetProgress(50);
    const QImage img = Grab(g);
    platform::gdi::TBitmap ref;
    ref.SetSize(148, 16);
    auto& rc = ref.GetCanvas();
    rc.GetBrush().SetColor(clBlack);
    rc.FillRect({0, 0, 148, 16});
    rc.SetFont(g.GetFont());
    rc.GetFont().SetColor(clWhite);
    const auto extent = rc.TextExtent("50%");
    rc.TextOut((148 - extent.cx) / 2, (16 - extent.cy) / 2, "50%");
    const QImage text = platform::gdi::ImageFromBitmap(ref.GetHandle());

    // The font's colour is a system colour (window text, black here): on the
    // empty part the text is black, on the filled part its complement, white.
    const std::uint32_t fontRgb = Rgb(g.GetFont().GetColor());
    int glyphs[2] = {0, 0};
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 148; ++x) {
            const bool filled = x < 74;
            std::uint32_t expected = filled ? Rgb(clActiveCaption) : Rgb(clWhite);
            if (Px(text, x, y) != 0) {
                expected = filled ? (fontRgb ^ 0xFFFFFF) : fontRgb;
                ++glyphs[filled];
            }
            ASSERT_EQ(Px(img, x + 1, y + 1), expected) << x << "," << y;
        }
    }
    EXPECT_GT(glyphs[0], 0);
    EXPECT_GT(glyphs[1], 0);
}

TEST(LumGauge, PieSliceGrowsClockwiseFromTheTop) {
    TLumGauge g;
    g.SetShowText(false);
    g.SetGaugeKind(gkPie);
    g.SetBounds(0, 0, 62, 62); // inner 60 x 60, centre (31, 31) in the control
    const auto fore = Rgb(clActiveCaption), back = Rgb(clWhite);

    QImage img = Grab(g);
    EXPECT_EQ(Px(img, 31, 31), back);
    EXPECT_EQ(Px(img, 45, 20), back);

    g.SetProgress(25); // the upper right quarter
    img = Grab(g);
    EXPECT_EQ(Px(img, 45, 17), fore);
    EXPECT_EQ(Px(img, 45, 45), back);
    EXPECT_EQ(Px(img, 17, 17), back);

    g.SetProgress(50); // the right half
    img = Grab(g);
    EXPECT_EQ(Px(img, 45, 45), fore);
    EXPECT_EQ(Px(img, 17, 45), back);

    g.SetProgress(100); // the whole dial
    img = Grab(g);
    EXPECT_EQ(Px(img, 17, 45), fore);
    EXPECT_EQ(Px(img, 17, 17), fore);
}

TEST(LumGauge, NeedleTurnsAboutTheDialCentre) {
    TLumGauge g;
    g.SetShowText(false);
    g.SetGaugeKind(gkNeedle);
    g.SetBounds(0, 0, 101, 51); // inner 99 x 49: the dial's centre is image column 49
    const auto fore = Rgb(clActiveCaption), back = Rgb(clWhite);

    QImage img = Grab(g);
    for (int y = 10; y < 45; ++y)
        EXPECT_EQ(Px(img, 50, y), back) << y;

    g.SetProgress(50); // straight up from the centre of the base
    img = Grab(g);
    for (int y = 10; y < 45; ++y) {
        EXPECT_EQ(Px(img, 50, y), fore) << y;
        EXPECT_EQ(Px(img, 51, y), back) << y;
    }

    // Three quarters points up and to the right, one quarter up and to the
    // left: image row 31 is crossed near column 49 + 17 or 49 - 17.
    auto foreIn = [&](const QImage& image, int from, int to) {
        int n = 0;
        for (int x = from; x <= to; ++x)
            n += Px(image, x, 32) == fore;
        return n;
    };
    g.SetProgress(75);
    img = Grab(g);
    EXPECT_GT(foreIn(img, 64, 71), 0);
    EXPECT_EQ(foreIn(img, 29, 37), 0);
    g.SetProgress(25);
    img = Grab(g);
    EXPECT_EQ(foreIn(img, 64, 71), 0);
    EXPECT_GT(foreIn(img, 29, 37), 0);
}

TEST(LumGauge, TextKindShowsOnlyTheBackground) {
    TLumGauge g;
    g.SetShowText(false);
    g.SetGaugeKind(gkText);
    g.SetBackColor(clBtnFace);
    g.SetProgress(80);
    const QImage img = Grab(g);
    for (int x = 1; x < 149; ++x)
        ASSERT_EQ(Px(img, x, 9), Rgb(clBtnFace)) << x;
}

} // namespace
