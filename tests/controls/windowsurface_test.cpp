// The control side of window surfaces: drawing on a control outside its
// paint shows on screen without running the paint again, a new paint of an
// area replaces only that area, and drawing from another thread arrives
// too.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QtTest/QTest>
#include <thread>

#include "controls/controls.h"
#include "controltest.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"

using namespace lum;
namespace gdi = lum::platform::gdi;

namespace {

// Paints itself grey and counts its paints.
class Counted : public TControl {
public:
    explicit Counted(QWidget* parent) : TControl(parent) {
        SetOpaque(true);
        SetColor(0x808080);
    }
    int paints = 0;

protected:
    void Paint() override {
        ++paints;
        GetCanvas().GetBrush().SetColor(0x808080);
        GetCanvas().FillRect(GetClientRect());
    }
};

struct Shown {
    QWidget form;
    Counted* control;
    Shown() {
        form.resize(200, 120);
        control = new Counted(&form);
        control->SetBounds(20, 10, 160, 100);
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
        Settle();
    }
    static void Settle() {
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
    }
    // The control's back buffer at (x, y), as 0x00BBGGRR.
    std::uint32_t Buffer(int x, int y) {
        auto surface = gdi::FindWindowSurface(control);
        auto lock = surface->Lock();
        return test::Px(surface->Buffer(), x, y);
    }
    // What the screen shows of the control at (x, y).
    std::uint32_t Screen(int x, int y) {
        const QImage shot = form.screen()->grabWindow(form.winId()).toImage();
        return test::Px(shot, control->x() + x, control->y() + y);
    }
};

void DrawLine(TCanvas& canvas, int x, TColor color, platform::gdi::TPenMode mode) {
    canvas.GetPen().SetColor(color);
    canvas.GetPen().SetMode(mode);
    canvas.MoveTo(x, 0);
    canvas.LineTo(x, 100);
}

} // namespace

TEST(ControlWindowSurface, DrawingOutsideAPaintShowsWithoutAnotherPaint) {
    Shown s;
    const int paints = s.control->paints;
    ASSERT_GE(paints, 1);
    EXPECT_EQ(s.Screen(40, 50), 0x808080u);

    DrawLine(s.control->GetCanvas(), 40, 0x0000FF, platform::gdi::pmCopy);
    EXPECT_EQ(s.Buffer(40, 50), 0x0000FFu);
    s.Settle();
    EXPECT_EQ(s.Screen(40, 50), 0x0000FFu);
    EXPECT_EQ(s.Screen(41, 50), 0x808080u);
    EXPECT_EQ(s.control->paints, paints);

    // The XOR locator moves: drawn again at the old place, then at the new.
    DrawLine(s.control->GetCanvas(), 60, 0xFFFFFF, platform::gdi::pmXor);
    s.Settle();
    EXPECT_EQ(s.Screen(60, 50), 0x7F7F7Fu);
    DrawLine(s.control->GetCanvas(), 60, 0xFFFFFF, platform::gdi::pmXor);
    DrawLine(s.control->GetCanvas(), 61, 0xFFFFFF, platform::gdi::pmXor);
    s.Settle();
    EXPECT_EQ(s.Screen(60, 50), 0x808080u);
    EXPECT_EQ(s.Screen(61, 50), 0x7F7F7Fu);
    EXPECT_EQ(s.control->paints, paints);

    // Flushing shows at once, before any event is handled.
    DrawLine(s.control->GetCanvas(), 100, 0x00FF00, platform::gdi::pmCopy);
    gdi::GdiFlush();
    EXPECT_EQ(s.Screen(100, 50), 0x00FF00u);
}

TEST(ControlWindowSurface, APaintReplacesOnlyTheAreaItPaints) {
    Shown s;
    DrawLine(s.control->GetCanvas(), 30, 0x0000FF, platform::gdi::pmCopy);
    DrawLine(s.control->GetCanvas(), 130, 0x0000FF, platform::gdi::pmCopy);
    s.Settle();
    const int paints = s.control->paints;

    // An area around one line is painted anew; the other line stays.
    s.control->update(QRect(100, 0, 60, 100));
    s.Settle();
    EXPECT_EQ(s.control->paints, paints + 1);
    EXPECT_EQ(s.Screen(130, 50), 0x808080u);
    EXPECT_EQ(s.Buffer(130, 50), 0x808080u);
    EXPECT_EQ(s.Screen(30, 50), 0x0000FFu);

    // Invalidating paints everything anew.
    s.control->Invalidate();
    s.Settle();
    EXPECT_EQ(s.Buffer(30, 50), 0x808080u);
    EXPECT_EQ(s.Screen(30, 50), 0x808080u);

    // A resize gives a new buffer, painted whole.
    DrawLine(s.control->GetCanvas(), 10, 0x0000FF, platform::gdi::pmCopy);
    s.control->SetBounds(20, 10, 120, 90);
    s.Settle();
    EXPECT_EQ(s.Buffer(10, 50), 0x808080u);
}

TEST(ControlWindowSurface, AnotherThreadsDrawingArrives) {
    Shown s;
    const int paints = s.control->paints;
    std::thread([&] {
        gdi::HDC dc = gdi::GetDC(s.control);
        gdi::HBRUSH brush = gdi::CreateSolidBrush(gdi::RGB(255, 0, 0));
        const platform::RECT r{5, 5, 25, 25};
        gdi::FillRect(dc, &r, brush);
        gdi::DeleteObject(brush);
        gdi::ReleaseDC(s.control, dc);
    }).join();
    s.Settle();
    EXPECT_EQ(s.Screen(10, 10), 0x0000FFu);
    EXPECT_EQ(s.Screen(30, 30), 0x808080u);
    EXPECT_EQ(s.control->paints, paints);
}
