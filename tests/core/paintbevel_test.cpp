#include <QImage>
#include <gtest/gtest.h>

#include "core/lumobj.h"
#include "platform/gdi/canvas.h"
#include "platform/gdi/qtgdi.h"

using namespace lum;
using platform::gdi::ColorToRGB;
using platform::gdi::TImageCanvas;

namespace {

constexpr QRgb kUntouched = 0xFF123456;

// A canvas over a fresh image filled with a colour no bevel uses, so that
// unpainted pixels can be told apart.
struct Surface {
    QImage image;
    TImageCanvas canvas;
    Surface(int w, int h) : image(Init(w, h)), canvas(image) {}
    static QImage Init(int w, int h) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(kUntouched);
        return img;
    }
    // The pixel as a colour value 0x00BBGGRR.
    std::uint32_t At(int x, int y) const {
        const QRgb p = image.pixel(x, y);
        return static_cast<std::uint32_t>(qRed(p) | (qGreen(p) << 8) | (qBlue(p) << 16));
    }
    bool Untouched(int x, int y) const { return image.pixel(x, y) == kUntouched; }
};

std::uint32_t Rgb(TColor c) {
    return ColorToRGB(c);
}

TEST(PaintBevel, ConstructionValuesDrawOneLoweredRing) {
    TLumBevel b;
    Surface s(100, 20);
    const TRect inner = b.PaintBevel(s.canvas, {0, 0, 100, 20}, true);
    EXPECT_EQ(inner, (TRect{1, 1, 99, 19}));

    const auto shadow = Rgb(clBtnShadow), light = Rgb(clBtnHighlight);
    for (int x = 0; x < 99; ++x)
        EXPECT_EQ(s.At(x, 0), shadow) << "top x=" << x;
    for (int y = 0; y < 19; ++y)
        EXPECT_EQ(s.At(0, y), shadow) << "left y=" << y;
    for (int x = 0; x < 100; ++x)
        EXPECT_EQ(s.At(x, 19), light) << "bottom x=" << x;
    for (int y = 0; y < 20; ++y)
        EXPECT_EQ(s.At(99, y), light) << "right y=" << y;
    // The corners where the two colours meet go to the lower-right colour.
    EXPECT_EQ(s.At(99, 0), light);
    EXPECT_EQ(s.At(0, 19), light);
    for (int y = 1; y < 19; ++y)
        for (int x = 1; x < 99; ++x)
            ASSERT_TRUE(s.Untouched(x, y)) << x << "," << y;
}

TEST(PaintBevel, LayersRunOutsideInAndMatchTheExtend) {
    TLumBevel b;
    b.SetBorderStyle(bsSingle);
    b.SetBevelOuter(bvRaised);
    b.SetBevelOuterWidth(2);
    b.SetBorderWidth(1);
    b.SetBevelInner(bvLowered);
    b.SetBevelInnerWidth(1);
    b.SetBorderSpace(2);
    const TColor border = RGBColor(10, 20, 30), space = RGBColor(40, 50, 60);
    const TColor oLight = RGBColor(200, 0, 0), oShadow = RGBColor(100, 0, 0);
    const TColor iLight = RGBColor(0, 200, 0), iShadow = RGBColor(0, 100, 0);
    b.SetBorderColor(border);
    b.SetBorderSpaceColor(space);
    b.SetOuterLightColor(oLight);
    b.SetOuterShadowColor(oShadow);
    b.SetInnerLightColor(iLight);
    b.SetInnerShadowColor(iShadow);

    // Painted at an offset of (2, 2), so that nothing may spill outside.
    Surface s(34, 28);
    const TRect inner = b.PaintBevel(s.canvas, {2, 2, 32, 26}, true);
    const int e = b.GetBevelExtend();
    EXPECT_EQ(e, 7);
    EXPECT_EQ(inner, (TRect{2 + e, 2 + e, 32 - e, 26 - e}));

    const std::uint32_t leftSide[] = {Rgb(clWindowFrame), Rgb(oLight), Rgb(oLight), Rgb(border),
                                      Rgb(iShadow),       Rgb(space),  Rgb(space)};
    const std::uint32_t rightSide[] = {Rgb(clWindowFrame), Rgb(oShadow), Rgb(oShadow), Rgb(border),
                                       Rgb(iLight),        Rgb(space),   Rgb(space)};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(s.At(2 + i, 14), leftSide[i]) << "left ring " << i;
        EXPECT_EQ(s.At(17, 2 + i), leftSide[i]) << "top ring " << i;
        EXPECT_EQ(s.At(31 - i, 14), rightSide[i]) << "right ring " << i;
        EXPECT_EQ(s.At(17, 25 - i), rightSide[i]) << "bottom ring " << i;
    }
    EXPECT_TRUE(s.Untouched(9, 14));
    EXPECT_TRUE(s.Untouched(24, 14));
    for (int k = 0; k < 34; ++k)
        EXPECT_TRUE(s.Untouched(k, 1) && s.Untouched(k, 26)) << k;
    for (int k = 0; k < 28; ++k)
        EXPECT_TRUE(s.Untouched(1, k) && s.Untouched(32, k)) << k;
}

TEST(PaintBevel, BorderBandIsPaintedOnlyWithFill) {
    TLumBevel b;
    b.SetBorderWidth(4);
    b.SetBevelInner(bvRaised);
    const TColor border = RGBColor(1, 2, 3);
    b.SetBorderColor(border);
    for (bool fill : {false, true}) {
        Surface s(40, 20);
        const TRect inner = b.PaintBevel(s.canvas, {0, 0, 40, 20}, fill);
        EXPECT_EQ(inner, (TRect{6, 6, 34, 14})) << fill;
        // Ring 0 is the outer bevel, 1 to 4 the band, 5 the inner bevel.
        for (int x = 1; x <= 4; ++x) {
            if (fill) {
                EXPECT_EQ(s.At(x, 10), Rgb(border)) << x;
                EXPECT_EQ(s.At(39 - x, 10), Rgb(border)) << x;
            } else {
                EXPECT_TRUE(s.Untouched(x, 10)) << x;
                EXPECT_TRUE(s.Untouched(39 - x, 10)) << x;
            }
        }
        EXPECT_EQ(s.At(0, 10), Rgb(clBtnShadow));
        EXPECT_EQ(s.At(5, 10), Rgb(clBtnHighlight));
        EXPECT_EQ(s.At(34, 10), Rgb(clBtnShadow));
    }
}

TEST(PaintBevel, SpaceAndNoneCutsDrawNothingAndKeepTheRectangle) {
    TLumBevel b;
    b.SetBevelOuter(bvSpace);
    b.SetBevelOuterWidth(3);
    Surface s(20, 20);
    EXPECT_EQ(b.PaintBevel(s.canvas, {2, 2, 18, 18}, true), (TRect{2, 2, 18, 18}));
    EXPECT_EQ(b.GetBevelExtend(), 3);
    b.SetBevelOuter(bvNone);
    EXPECT_EQ(b.PaintBevel(s.canvas, {2, 2, 18, 18}, true), (TRect{2, 2, 18, 18}));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_TRUE(s.Untouched(x, y)) << x << "," << y;
}

} // namespace
