// The DIB graphic control: its canvas follows its size and depth, its
// paint shows the canvas inside the bevel, the background picture and what
// designing and loading do with it, DrawBackGround, and FastDraw showing
// at once without a paint.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QtTest/QTest>

#include "controls/lumdibcv_controls.h"
#include "controltest.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"

using namespace lum;
namespace gdi = lum::platform::gdi;

namespace {

class Counted : public TLumDIBGraphicControl {
public:
    using TLumDIBGraphicControl::TLumDIBGraphicControl;
    int paints = 0;

protected:
    void Paint() override {
        ++paints;
        TLumDIBGraphicControl::Paint();
    }
};

void Settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

std::unique_ptr<TBitmap> Picture(TColor left, TColor right) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(gdi::pf24bit);
    b->SetSize(2, 1);
    b->GetCanvas().SetPixels(0, 0, left);
    b->GetCanvas().SetPixels(1, 0, right);
    return b;
}

} // namespace

TEST(TLumDIBGraphicControl, TheCanvasFollowsTheControlAndShowsInsideTheBevel) {
    QWidget form;
    form.resize(200, 100);
    Counted c(&form);
    c.SetBounds(10, 10, 40, 30);
    EXPECT_EQ(c.GetDIBCanvas().GetWidth(), 40);
    EXPECT_EQ(c.GetDIBCanvas().GetHeight(), 30);
    c.setGeometry(10, 10, 60, 20); // resized by the toolkit, not through SetBounds
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(c.GetDIBCanvas().GetWidth(), 60);
    EXPECT_EQ(c.GetBPP(), 8);
    c.SetBPP(24);
    EXPECT_EQ(c.GetDIBCanvas().GetBitsPerPixel(), 24);
    EXPECT_EQ(c.GetPalette(), nullptr);

    {
        TLumDIBPass pass(c.GetDIBCanvas());
        c.GetDIBCanvas().DIB_SetColorRef(gdi::RGB(0, 200, 0));
        DIB_CLEAR();
    }
    TLumBevel bevel;
    bevel.SetBevelOuter(bvRaised);
    c.SetBevel(&bevel);
    const QImage shot = test::Grab(c);
    const int edge = c.BevelExtend();
    ASSERT_GT(edge, 0);
    EXPECT_EQ(test::Px(shot, 30, 10), gdi::RGB(0, 200, 0));
    EXPECT_EQ(test::Px(shot, edge, edge), gdi::RGB(0, 200, 0));
    EXPECT_NE(test::Px(shot, 0, 0), gdi::RGB(0, 200, 0)); // the bevel
}

TEST(TLumDIBGraphicControl, BackgroundDesigningAndLoading) {
    TLumDIBGraphicControl c;
    c.SetBounds(0, 0, 4, 2);
    c.SetColor(clBlue);
    const std::unique_ptr<TBitmap> owned = Picture(clRed, clLime);
    const TBitmap& picture = *owned;

    // At run time a picture alone is not used.
    c.SetBackGround(&picture);
    EXPECT_FALSE(c.GetUseBackGround());
    EXPECT_TRUE(c.GetDIBCanvas().GetBackGroundBitmap().Empty());
    c.DrawBackGround(); // no background section: cleared in the control's colour
    c.GetDIBCanvas().SetBitsPerPixel(24);
    c.DrawBackGround();
    EXPECT_EQ(c.GetDIBCanvas().GetBits()[0], 255); // blue, stored first

    c.SetUseBackGround(true);
    EXPECT_FALSE(c.GetDIBCanvas().GetBackGroundBitmap().Empty());
    c.DrawBackGround();
    const std::uint8_t* p = c.GetDIBCanvas().DIB_GetPixelAddress(c.GetDIBCanvas().GetBits(), 0, 0);
    EXPECT_EQ(gdi::RGB(p[2], p[1], p[0]), gdi::RGB(255, 0, 0));
    p = c.GetDIBCanvas().DIB_GetPixelAddress(c.GetDIBCanvas().GetBits(), 3, 1);
    EXPECT_EQ(gdi::RGB(p[2], p[1], p[0]), gdi::RGB(0, 255, 0));
    c.SetUseBackGround(false);
    EXPECT_TRUE(c.GetDIBCanvas().GetBackGroundBitmap().Empty());

    // At design time a picture switches its use and the palette on, and
    // taking it away switches both off.
    c.ChangeDesigning(true);
    c.SetBackGround(&picture);
    EXPECT_TRUE(c.GetUseBackGround());
    EXPECT_TRUE(c.GetDIBCanvas().GetPaletteRealize());
    EXPECT_NE(c.GetPalette(), nullptr);
    c.SetBackGround(nullptr);
    EXPECT_FALSE(c.GetUseBackGround());
    EXPECT_FALSE(c.GetDIBCanvas().GetPaletteRealize());

    // While loading the setting is only remembered.
    TLumDIBGraphicControl loading;
    loading.BeginLoading();
    loading.SetBackGround(&picture);
    loading.SetUseBackGround(true);
    EXPECT_TRUE(loading.GetDIBCanvas().GetBackGroundBitmap().Empty());
    loading.Loaded();
    EXPECT_FALSE(loading.Loading());
    EXPECT_TRUE(loading.GetUseBackGround());
    EXPECT_FALSE(loading.GetDIBCanvas().GetBackGroundBitmap().Empty());
}

TEST(TLumDIBGraphicControl, FastDrawShowsAtOnceWithoutAPaint) {
    QWidget form;
    form.resize(120, 80);
    Counted c(&form);
    c.SetBounds(10, 10, 100, 60);
    c.SetBPP(24);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    Settle();
    const int paints = c.paints;
    bool cleared = false;
    c.FastDraw(
        [&](bool clear) {
            cleared = clear;
            {
                TLumDIBPass pass(c.GetDIBCanvas());
                c.GetDIBCanvas().DIB_SetColorRef(gdi::RGB(255, 0, 0));
                DIB_FILLRECT(TRect{20, 10, 40, 30});
            }
            c.GetDIBCanvas().DIB_BitBlt(c.GetCanvas().GetHandle(), TRect{20, 10, 20, 20}, 20, 10);
        },
        true);
    EXPECT_TRUE(cleared);
    // Shown before any event is handled, by the flush at its end.
    const QImage shot = form.screen()->grabWindow(form.winId()).toImage();
    EXPECT_EQ(test::Px(shot, 10 + 30, 10 + 20), gdi::RGB(255, 0, 0));
    Settle();
    EXPECT_EQ(c.paints, paints);

    // Hidden, nothing is drawn.
    bool called = false;
    c.hide();
    c.FastDraw([&](bool) { called = true; }, false);
    EXPECT_FALSE(called);
}
