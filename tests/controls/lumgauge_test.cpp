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

// Where the glyphs of Text fall when written centred in W x H in Font.
QImage TextMask(const TFont& font, const std::string& text, int w, int h) {
    platform::gdi::TBitmap mask;
    mask.SetSize(w, h);
    auto& c = mask.GetCanvas();
    c.GetBrush().SetColor(clBlack);
    c.FillRect({0, 0, w, h});
    c.SetFont(font);
    c.GetFont().SetColor(clWhite);
    const auto extent = c.TextExtent(text);
    c.TextOut((w - extent.cx) / 2, (h - extent.cy) / 2, text);
    return platform::gdi::ImageFromBitmap(mask.GetHandle());
}

TEST(LumGauge, SettersClampAndThePercentRule) {
    TLumGauge g;
    EXPECT_EQ(g.GetWidth(), 150);
    EXPECT_EQ(g.GetHeight(), 18);
    g.SetMaxValue(0); // a video of length 0
    EXPECT_EQ(g.GetPercentText(), "0%");
    g.SetMinValue(10);
    EXPECT_EQ(g.GetMinValue(), 0); // above the maximum: the maximum
    g.SetMaxValue(3);
    g.SetMinValue(5);
    g.SetMaxValue(-5); // below the minimum: the minimum
    EXPECT_EQ(g.GetMaxValue(), 3);
    g.SetMinValue(0);
    g.SetProgress(2);
    EXPECT_EQ(g.GetPercentDone(), 66); // truncated
    g.SetProgress(250);
    EXPECT_EQ(g.GetProgress(), 3);
    EXPECT_EQ(g.GetPercentText(), "100%");

    g.SetMinValue(INT32_MIN);
    EXPECT_EQ(g.GetMinValue(), -2147483647);
    g.SetMaxValue(2147483647);
    g.SetProgress(2147483647); // differences beyond 32 bits
    EXPECT_EQ(g.GetPercentDone(), 100);
    g.AddProgress(-10);
    g.AddProgress(2147483647); // saturates rather than wrapping round
    EXPECT_EQ(g.GetProgress(), 2147483647);

    // A changed range leaves Progress alone; the percentage may leave 0..100.
    g.SetMinValue(0);
    g.SetMaxValue(2147483647);
    g.SetProgress(80);
    g.SetMaxValue(50);
    EXPECT_EQ(g.GetProgress(), 80);
    EXPECT_EQ(g.GetPercentDone(), 160);

    g.SetCaption("Extracted:");
    g.SetMaxValue(100);
    g.SetProgress(45);
    EXPECT_EQ(g.GetPercentText(), "Extracted: 45%");
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
    g.SetProgress(19);
    EXPECT_EQ(g.paints, 1);

    g.SetProgress(0);
    g.paints = 0;
    for (int p = 0; p <= 1000; ++p)
        g.SetProgress(p);
    EXPECT_EQ(g.paints, 100);

    g.paints = 0;
    g.SetForeColor(clRed); // the other setters only schedule a repaint
    EXPECT_EQ(g.paints, 0);
    QApplication::processEvents();
    EXPECT_EQ(g.paints, 1);
}

// A half-filled bar, 148 x 16 inside the bevel, with "50%" across the
// fill edge: inverted (XOR) or in the font colour and its complement.
TEST(LumGauge, BarTextPixelsInvertedAndInTwoColours) {
    for (bool bw : {false, true}) {
        TLumGauge g;
        g.SetBWText(bw);
        g.SetProgress(50);
        const QImage img = Grab(g);
        EXPECT_EQ(Px(img, 0, 0), Rgb(clBtnShadow));
        EXPECT_EQ(Px(img, 149, 17), Rgb(clBtnHighlight));
        const QImage text = TextMask(g.GetFont(), "50%", 148, 16);
        // The font colour is a system colour (window text).
        const std::uint32_t font = Rgb(g.GetFont().GetColor());
        int glyphs[2] = {0, 0};
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 148; ++x) {
                const bool filled = x < 74;
                const std::uint32_t base = filled ? Rgb(clActiveCaption) : Rgb(clWhite);
                std::uint32_t want = base;
                if (Px(text, x, y) != 0) {
                    ++glyphs[filled];
                    want = !bw ? base ^ 0xFFFFFF : filled ? font ^ 0xFFFFFF : font;
                }
                ASSERT_EQ(Px(img, x + 1, y + 1), want) << bw << " at " << x << "," << y;
            }
        }
        EXPECT_GT(glyphs[0], 0);
        EXPECT_GT(glyphs[1], 0);
    }
}

TEST(LumGauge, BarLengthsHorizontalAndVertical) {
    TLumGauge g;
    g.SetShowText(false);
    g.SetWidth(12); // an inner width of 10: 10 % fills exactly 1 pixel
    g.SetProgress(10);
    QImage img = Grab(g);
    EXPECT_EQ(Px(img, 1, 5), Rgb(clActiveCaption));
    EXPECT_EQ(Px(img, 2, 5), Rgb(clWhite));
    g.SetProgress(0);
    EXPECT_EQ(Px(Grab(g), 1, 5), Rgb(clWhite));

    g.SetGaugeKind(gkVerticalBar);
    g.SetBounds(0, 0, 20, 102); // inner 18 x 100, filled from the bottom
    g.SetProgress(25);
    img = Grab(g);
    for (int y = 1; y <= 100; ++y)
        EXPECT_EQ(Px(img, 10, y), y > 75 ? Rgb(clActiveCaption) : Rgb(clWhite)) << y;

    g.SetGaugeKind(gkText);
    img = Grab(g);
    for (int y = 1; y <= 100; ++y)
        ASSERT_EQ(Px(img, 10, y), Rgb(clWhite)) << y;
}

TEST(LumGauge, PieSliceGrowsClockwiseFromTheTop) {
    TLumGauge g;
    g.SetShowText(false);
    g.SetGaugeKind(gkPie);
    g.SetBounds(0, 0, 62, 62); // centre (31, 31)
    const auto fore = Rgb(clActiveCaption), back = Rgb(clWhite);
    auto quarters = [&] { // upper right, lower right, lower left, upper left
        const QImage img = Grab(g);
        return std::vector<bool>{Px(img, 45, 17) == fore, Px(img, 45, 45) == fore,
                                 Px(img, 17, 45) == fore, Px(img, 17, 17) == fore};
    };
    EXPECT_EQ(Px(Grab(g), 31, 31), back);
    EXPECT_EQ(quarters(), (std::vector<bool>{false, false, false, false}));
    g.SetProgress(25);
    EXPECT_EQ(quarters(), (std::vector<bool>{true, false, false, false}));
    g.SetProgress(50);
    EXPECT_EQ(quarters(), (std::vector<bool>{true, true, false, false}));
    g.SetProgress(100);
    EXPECT_EQ(quarters(), (std::vector<bool>{true, true, true, true}));
}

TEST(LumGauge, NeedleTurnsAboutTheDialCentre) {
    TLumGauge g;
    g.SetShowText(false);
    g.SetGaugeKind(gkNeedle);
    g.SetBounds(0, 0, 101, 51); // inner 99 x 49: the dial's centre is image column 49
    const auto fore = Rgb(clActiveCaption);
    auto column = [&](int x) {
        const QImage img = Grab(g);
        int n = 0;
        for (int y = 10; y < 45; ++y)
            n += Px(img, x, y) == fore;
        return n;
    };
    auto row32 = [&](int from, int to) {
        const QImage img = Grab(g);
        int n = 0;
        for (int x = from; x <= to; ++x)
            n += Px(img, x, 32) == fore;
        return n;
    };
    EXPECT_EQ(column(50), 0); // no needle at 0 %
    g.SetProgress(50);        // straight up from the middle of the base
    EXPECT_EQ(column(50), 35);
    EXPECT_EQ(column(51), 0);
    g.SetProgress(75); // up and to the right
    EXPECT_GT(row32(64, 71), 0);
    EXPECT_EQ(row32(29, 37), 0);
    g.SetProgress(25); // up and to the left
    EXPECT_EQ(row32(64, 71), 0);
    EXPECT_GT(row32(29, 37), 0);
}

} // namespace
