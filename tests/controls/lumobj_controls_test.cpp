#include <QApplication>
#include <QPalette>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

#include "controls/lumgauge.h"
#include "controls/lumobj_controls.h"
#include "controls/lumobj_cursors.h"
#include "controltest.h"

using namespace lum;
using lum::test::Grab;
using lum::test::Px;
using lum::test::Rgb;

namespace {

// A form with a plain coloured background, as the parent of the controls.
std::unique_ptr<QWidget> MakeForm(int w, int h, QColor background) {
    auto form = std::make_unique<QWidget>();
    form->resize(w, h);
    QPalette pal = form->palette();
    pal.setColor(QPalette::Window, background);
    form->setPalette(pal);
    form->setAutoFillBackground(true);
    return form;
}

TEST(LumControls, BevelledBasesFillInsideTheBevelUnlessTransparent) {
    TLumCustomControl c;
    c.resize(40, 20);
    c.SetColor(clRed);
    QImage img = Grab(c);
    EXPECT_EQ(Px(img, 0, 18), Rgb(clBtnShadow));
    EXPECT_EQ(Px(img, 39, 19), Rgb(clBtnHighlight));
    EXPECT_EQ(Px(img, 1, 1), Rgb(clRed));
    EXPECT_EQ(Px(img, 38, 18), Rgb(clRed));

    auto form = MakeForm(60, 40, QColor(0, 200, 0));
    auto* g = new TLumGraphicControl(form.get());
    g->SetBounds(10, 10, 40, 20);
    g->GetBevel()->SetBorderWidth(2);
    g->GetBevel()->SetBorderColor(clBlue);
    g->SetColor(clRed);
    img = Grab(*form);
    EXPECT_EQ(Px(img, 30, 20), Rgb(clRed));

    g->SetTransparent(true);
    img = Grab(*form);
    EXPECT_EQ(Px(img, 10, 10), Rgb(clBtnShadow));
    EXPECT_EQ(Px(img, 11, 11), Rgb(clBlue)); // the border band is a ring too
    EXPECT_EQ(Px(img, 12, 12), Rgb(clBlue));
    EXPECT_EQ(Px(img, 49, 29), Rgb(clBtnHighlight));
    EXPECT_EQ(Px(img, 13, 13), Rgb(RGBColor(0, 200, 0))); // the form shows through
    EXPECT_EQ(Px(img, 30, 20), Rgb(RGBColor(0, 200, 0)));

    g->SetTransparent(false);
    img = Grab(*form);
    EXPECT_EQ(Px(img, 30, 20), Rgb(clRed));
}

// Counts the paints that reach the control.
class CountingControl : public TLumGraphicControl {
public:
    using TLumGraphicControl::TLumGraphicControl;
    int paints = 0;

protected:
    void Paint() override {
        ++paints;
        TLumGraphicControl::Paint();
    }
};

TEST(LumControls, BevelChangesRepaintTheControl) {
    CountingControl g;
    g.resize(30, 30);
    g.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
    QApplication::processEvents();
    g.paints = 0;
    g.GetBevel()->SetBevelOuter(bvRaised);
    EXPECT_EQ(g.paints, 0); // scheduled, not painted at once
    QApplication::processEvents();
    EXPECT_GE(g.paints, 1);
    EXPECT_EQ(Px(Grab(g), 0, 0), Rgb(clBtnHighlight));

    // Setting a bevel copies its values; the given one stays the caller's.
    TLumBevel other;
    other.SetBorderWidth(5);
    g.SetBevel(&other);
    EXPECT_NE(g.GetBevel(), &other);
    EXPECT_EQ(g.GetBevel()->GetBorderWidth(), 5);
    EXPECT_EQ(g.GetBevel()->GetBevelOuter(), bvLowered);
    other.SetBorderWidth(1);
    EXPECT_EQ(g.GetBevel()->GetBorderWidth(), 5);
    EXPECT_EQ(g.BevelExtend(), 6);
    EXPECT_EQ(g.BeveledRect(), (TRect{6, 6, 24, 24}));
}

TEST(LumControls, PanelFillBevelClientFillAndOnPaint) {
    TLumCustomPanel p;
    p.resize(40, 20);
    p.GetBevel()->SetBorderWidth(3);
    p.GetBevel()->SetBorderColor(clBlue);
    p.SetColor(clYellow);
    QImage img = Grab(p);
    EXPECT_EQ(Px(img, 2, 10), Rgb(clBlue));
    EXPECT_EQ(Px(img, 4, 10), Rgb(clYellow));

    p.SetFillBevel(false);
    img = Grab(p);
    EXPECT_NE(Px(img, 2, 10), Rgb(clBlue));
    EXPECT_EQ(Px(img, 0, 10), Rgb(clBtnShadow));

    TRect given{};
    p.OnClientFill = [&](QWidget*, TCanvas& canvas, TRect& r) {
        given = r;
        canvas.GetBrush().SetColor(clRed);
        canvas.FillRect(r);
    };
    img = Grab(p);
    EXPECT_EQ(given, (TRect{4, 4, 36, 16}));
    EXPECT_EQ(Px(img, 20, 10), Rgb(clRed));

    // OnPaint paints everything: no bevel, no fill.
    p.OnPaint = [&](QWidget*) {
        p.GetCanvas().GetBrush().SetColor(clBlue);
        p.GetCanvas().FillRect({5, 5, 10, 10});
    };
    img = Grab(p);
    EXPECT_EQ(Px(img, 7, 7), Rgb(clBlue));
    EXPECT_EQ(Px(img, 0, 0), Rgb(clYellow));
    EXPECT_EQ(Px(img, 20, 10), Rgb(clYellow));
}

// The columns and rows where the caption's (black) glyphs fall.
struct Ink {
    int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1;
};
Ink FindInk(const QImage& img) {
    Ink ink;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (Px(img, x, y) == 0) {
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y);
                ink.bottom = std::max(ink.bottom, y);
            }
    return ink;
}

TEST(LumControls, PanelCaptionFollowsTheAlignment) {
    TLumCustomPanel p;
    p.resize(120, 30);
    p.SetCaption("Wx");
    TFont font = p.GetFont();
    font.SetColor(clBlack);
    p.SetFont(font);

    p.SetAlignment(taLeftJustify);
    Ink ink = FindInk(Grab(p));
    ASSERT_GE(ink.right, 0);
    EXPECT_LT(ink.right, 40);
    EXPECT_GE(ink.left, 1);
    // Vertically centred: as much space above as below, within a pixel or two.
    EXPECT_NEAR(ink.top + ink.bottom, 29, 5);

    p.SetAlignment(taRightJustify);
    ink = FindInk(Grab(p));
    EXPECT_GT(ink.left, 80);
    EXPECT_LE(ink.right, 118);

    p.SetAlignment(taCenter);
    ink = FindInk(Grab(p));
    EXPECT_NEAR(ink.left + ink.right, 119, 6);

    // A panel lower than its text still shows the middle of the caption.
    p.resize(120, 6);
    font.SetHeight(-14);
    p.SetFont(font);
    EXPECT_GE(FindInk(Grab(p)).right, 0) << "caption not drawn";
}

TEST(LumControls, PanelKeepsAlignedChildrenOffItsBevel) {
    QWidget form;
    form.resize(300, 200);
    TLumCustomPanel& panel = *new TLumCustomPanel(&form);
    panel.resize(200, 100);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    panel.GetBevel()->SetBorderWidth(3);
    panel.GetBevel()->SetBevelInner(bvRaised);
    panel.GetBevel()->SetBevelInnerWidth(2); // extend 1 + 3 + 2 = 6
    auto* top = new TLumCustomControl(&panel);
    top->SetHeight(10);
    top->SetAlign(alTop);
    auto* client = new TLumCustomControl(&panel);
    client->SetAlign(alClient);
    auto* right = new TLumGraphicControl(&panel);
    right->SetWidth(20);
    right->SetAlign(alRight);
    EXPECT_EQ(top->geometry(), QRect(6, 6, 188, 10));
    EXPECT_EQ(right->geometry(), QRect(174, 16, 20, 78));
    EXPECT_EQ(client->geometry(), QRect(6, 16, 168, 78));

    panel.GetBevel()->SetBorderWidth(0); // the bevel change realigns at once
    EXPECT_EQ(top->geometry(), QRect(3, 3, 194, 10));
    EXPECT_EQ(client->geometry(), QRect(3, 13, 174, 84));

    panel.resize(100, 50);
    EXPECT_EQ(top->geometry(), QRect(3, 3, 94, 10));
    EXPECT_EQ(right->geometry(), QRect(77, 13, 20, 34));

    right->SetVisible(false); // hidden controls take no room
    EXPECT_EQ(client->geometry(), QRect(3, 13, 94, 34));
}

TEST(LumControls, GaugeAlignsToTheBottomOfAPlainForm) {
    QWidget form;
    form.resize(408, 181);
    auto* gauge = new TLumGauge(&form);
    gauge->SetAlign(alBottom);
    gauge->SetHeight(18);
    EXPECT_EQ(gauge->geometry(), QRect(0, 163, 408, 18));
    form.resize(500, 300); // a hidden form is realigned before it shows
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(gauge->geometry(), QRect(0, 282, 500, 18));
    EXPECT_TRUE(gauge->isVisible());
    form.resize(300, 100);
    QApplication::processEvents();
    EXPECT_EQ(gauge->geometry(), QRect(0, 82, 300, 18));
}

TEST(LumControls, DesignStateShowsHiddenControls) {
    QWidget form;
    form.resize(100, 100);
    auto* panel = new TLumCustomPanel(&form);
    auto* win = new TLumWinControl(&form);
    panel->SetVisible(false);
    win->SetVisible(false);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_FALSE(panel->isVisible());

    panel->ChangeDesigning(true);
    win->ChangeDesigning(true);
    EXPECT_TRUE(panel->Designing());
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(win->isVisible());
    EXPECT_FALSE(panel->GetVisible());

    // Made inside a designing control, a control starts out designing.
    auto* inner = new TLumGraphicControl(panel);
    EXPECT_TRUE(inner->Designing());

    panel->ChangeDesigning(false);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(panel->Designing());
}

TEST(LumControls, ParentFontFollowsTheFormUntilAFontIsGiven) {
    QWidget form;
    QFont qf = form.font();
    qf.setPixelSize(12);
    form.setFont(qf);
    auto* g = new TLumGauge(&form);
    EXPECT_EQ(g->GetFont().GetHeight(), -12);
    qf.setPixelSize(20);
    form.setFont(qf);
    EXPECT_EQ(g->GetFont().GetHeight(), -20);
    TFont own;
    own.SetHeight(-9);
    g->SetFont(own);
    form.setFont(QFont());
    EXPECT_EQ(g->GetFont().GetHeight(), -9);
    EXPECT_FALSE(g->GetParentFont());
}

TEST(LumCursors, LibraryCursorsAreRegisteredUnderTheirNumbers) {
    EXPECT_EQ(RegisterLumCursors(), 31);
    for (int n = 2001; n <= 2031; ++n) {
        ASSERT_TRUE(HasScreenCursor(n)) << n;
        const QCursor c = GetScreenCursor(n);
        const TLumImageData& res = LoadResCursor(static_cast<std::uint16_t>(n - 2000))->Best(32);
        EXPECT_EQ(c.shape(), Qt::BitmapCursor) << n;
        EXPECT_EQ(c.hotSpot(), QPoint(res.HotspotX, res.HotspotY)) << n;
        const QImage img = c.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(img.size(), QSize(res.Width, res.Height)) << n;
        for (int y = 0; y < res.Height; ++y) {
            for (int x = 0; x < res.Width; ++x) {
                if (qAlpha(res.Pixel(x, y)) != 255) continue;
                ASSERT_EQ(img.pixel(x, y), res.Pixel(x, y)) << n << " at " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(GetScreenCursor(2032).shape(), Qt::ArrowCursor);

    TLumCustomPanel p;
    p.SetCursor(2011);
    EXPECT_EQ(p.GetCursor(), 2011);
    EXPECT_EQ(p.cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(p.cursor().hotSpot(), GetScreenCursor(2011).hotSpot());
}

} // namespace
