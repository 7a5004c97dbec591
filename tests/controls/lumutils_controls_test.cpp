#include "controls/lumutils_controls.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QWidget>

#include "controltest.h"

namespace lum {
namespace {

using test::Grab;

// A window filled with one colour and a child control placed inside it.
struct Scene {
    QWidget window;
    QWidget* child;
    Scene() {
        window.resize(120, 90);
        window.setAutoFillBackground(true);
        QPalette p = window.palette();
        p.setColor(QPalette::Window, QColor(0x20, 0x40, 0x80));
        window.setPalette(p);
        child = new QWidget(&window);
        child->setGeometry(30, 20, 60, 50);
        window.show();
    }
};

QRgb Inverted(QRgb c) {
    return qRgb(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c));
}

TEST(ClientToClient, ConvertsBetweenSiblingsAndParent) {
    Scene s;
    auto* other = new QWidget(&s.window);
    other->setGeometry(5, 7, 10, 10);
    EXPECT_EQ((TPoint{33, 23}), ClientToClient(&s.window, s.child, TPoint{3, 3}));
    EXPECT_EQ((TPoint{-27, -20}), ClientToClient(s.child, &s.window, TPoint{3, 0}));
    const TPoint p = ClientToClient(other, s.child, TPoint{0, 0});
    EXPECT_EQ(25, p.x);
    EXPECT_EQ(13, p.y);
}

TEST(Rubber, LineInvertsItsPixelsAndASecondDrawRemovesIt) {
    Scene s;
    const QImage before = Grab(s.window);
    const QRgb bg = before.pixel(35, 25);
    DrawRubberLine(s.child, TRect{0, 0, 20, 20});
    QImage after = Grab(s.window);
    // (0,0)..(20,20) of the child is (30,20)..(50,40) of the window.
    EXPECT_EQ(Inverted(bg), after.pixel(30, 20) | 0xFF000000u);
    EXPECT_EQ(Inverted(bg), after.pixel(40, 30) | 0xFF000000u);
    EXPECT_EQ(bg, after.pixel(41, 30) | 0xFF000000u);
    DrawRubberLine(s.child, TRect{0, 0, 20, 20});
    after = Grab(s.window);
    EXPECT_EQ(bg, after.pixel(40, 30) | 0xFF000000u);
}

TEST(Rubber, BandIsDottedAndOrdersItsCorners) {
    Scene a, b;
    DrawRubberband(a.child, TRect{2, 4, 12, 10});
    DrawRubberband(b.child, TRect{12, 10, 2, 4});
    const QImage ia = Grab(a.window);
    const QImage ib = Grab(b.window);
    EXPECT_EQ(ia, ib);
    const QRgb bg = ia.pixel(1, 1) | 0xFF000000u;
    // Top edge at window y 24 from x 32: every other pixel inverted.
    EXPECT_EQ(Inverted(bg), ia.pixel(32, 24) | 0xFF000000u);
    EXPECT_EQ(bg, ia.pixel(33, 24) | 0xFF000000u);
    EXPECT_EQ(Inverted(bg), ia.pixel(34, 24) | 0xFF000000u);
    // Inside the band nothing changes.
    EXPECT_EQ(bg, ia.pixel(36, 27) | 0xFF000000u);
}

TEST(Rubber, ZeroRectAndNonControlsDrawNothing) {
    Scene s;
    const QImage before = Grab(s.window);
    DrawRubberband(s.child, TRect{0, 0, 0, 0});
    DrawRubberLine(s.child, TRect{0, 0, 0, 0});
    QObject plain;
    DrawRubberband(&plain, TRect{1, 1, 30, 30});
    DrawRubberLine(nullptr, TRect{1, 1, 30, 30});
    EXPECT_EQ(before, Grab(s.window));
}

} // namespace
} // namespace lum
