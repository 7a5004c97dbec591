// The control layer's mouse handling, driven by QTest on real widgets: the
// toolkit's events reach MouseDown, MouseMove and MouseUp with the right
// button, keys and position; the left button captures the mouse and clicks;
// overridden message handlers see what Perform sends; losing the mouse
// lets go of it; hints show only while ShowHint is on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QToolTip>
#include <QtTest/QTest>
#include <string>
#include <vector>

#include "controls/controls.h"

using namespace lum;

namespace {

std::string Buttons(TShiftState s) {
    std::string r;
    if (s.Contains(ssShift)) r += "S";
    if (s.Contains(ssCtrl)) r += "C";
    if (s.Contains(ssLeft)) r += "l";
    if (s.Contains(ssRight)) r += "r";
    if (s.Contains(ssMiddle)) r += "m";
    if (s.Contains(ssDouble)) r += "2";
    return r;
}

const char* Name(TMouseButton b) {
    return b == mbLeft ? "left" : b == mbRight ? "right" : "middle";
}

// Logs every mouse call and event it gets.
class Logged : public TControl {
public:
    explicit Logged(QWidget* parent) : TControl(parent) {
        OnMouseDown = [this](QWidget*, TMouseButton b, TShiftState s, int x, int y) {
            Log("OnMouseDown", b, s, x, y);
        };
        OnMouseUp = [this](QWidget*, TMouseButton b, TShiftState s, int x, int y) {
            Log("OnMouseUp", b, s, x, y);
        };
        OnMouseMove = [this](QWidget*, TShiftState s, int x, int y) {
            log.push_back("OnMouseMove " + Buttons(s) + " " + std::to_string(x) + "," +
                          std::to_string(y));
        };
        OnClick = [this](QWidget*) { log.push_back("OnClick"); };
        OnDblClick = [this](QWidget*) { log.push_back("OnDblClick"); };
    }
    std::vector<std::string> log;
    bool swallowRight = false;
    int cursorChanges = 0;

protected:
    void WMRButtonDown(TWMMouse& m) override {
        log.push_back("WMRButtonDown");
        if (!swallowRight) TControl::WMRButtonDown(m);
    }
    void CMCursorChanged() override { ++cursorChanges; }

private:
    void Log(const char* what, TMouseButton b, TShiftState s, int x, int y) {
        log.push_back(std::string(what) + " " + Name(b) + " " + Buttons(s) + " " +
                      std::to_string(x) + "," + std::to_string(y));
    }
};

struct Form {
    QWidget form;
    Logged* control;
    Form() {
        form.resize(200, 100);
        control = new Logged(&form);
        control->SetBounds(10, 10, 100, 50);
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
};

using Log = std::vector<std::string>;

} // namespace

TEST(ControlMouse, EventsCarryButtonKeysAndPositionAndTheLeftButtonClicks) {
    Form f;
    Logged& c = *f.control;
    QTest::mousePress(&c, Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 6));
    EXPECT_TRUE(c.GetMouseCapture());
    QTest::mouseMove(&c, QPoint(7, 8));
    QTest::mouseRelease(&c, Qt::LeftButton, {}, QPoint(9, 10));
    EXPECT_FALSE(c.GetMouseCapture());
    EXPECT_EQ(c.log, (Log{"OnMouseDown left Sl 5,6", "OnMouseMove l 7,8", "OnClick",
                          "OnMouseUp left  9,10"}));

    // Released outside, the press is no click; the right button neither
    // clicks nor captures.
    c.log.clear();
    QTest::mousePress(&c, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&c, Qt::LeftButton, {}, QPoint(-20, 5));
    QTest::mousePress(&c, Qt::RightButton, Qt::ControlModifier, QPoint(3, 4));
    EXPECT_FALSE(c.GetMouseCapture());
    QTest::mouseRelease(&c, Qt::RightButton, {}, QPoint(3, 4));
    EXPECT_EQ(c.log, (Log{"OnMouseDown left l 5,5", "OnMouseUp left  -20,5", "WMRButtonDown",
                          "OnMouseDown right Cr 3,4", "OnMouseUp right  3,4"}));

    c.log.clear();
    QTest::mouseDClick(&c, Qt::LeftButton, {}, QPoint(2, 2));
    ASSERT_GE(c.log.size(), 2u);
    EXPECT_EQ(c.log[0], "OnDblClick");
    EXPECT_EQ(c.log[1], "OnMouseDown left l2 2,2");
    QTest::mouseRelease(&c, Qt::LeftButton, {}, QPoint(2, 2));
}

TEST(ControlMouse, MovesArriveWithNoButtonHeld) {
    Form f;
    Logged& c = *f.control;
    // The pointer is moved; the screen reports the move to the control.
    QTest::mouseMove(&c, QPoint(40, 20));
    QApplication::processEvents();
    ASSERT_FALSE(c.log.empty());
    EXPECT_EQ(c.log.back(), "OnMouseMove  40,20");
    const platform::POINT p = GetCursorPos();
    const QPoint expected = c.mapToGlobal(QPoint(40, 20));
    EXPECT_EQ(p.x, expected.x());
    EXPECT_EQ(p.y, expected.y());
}

TEST(ControlMouse, PerformGoesThroughTheOverridableHandlers) {
    Form f;
    Logged& c = *f.control;
    c.swallowRight = true;
    c.Perform(WM_RBUTTONDOWN, MK_RBUTTON, 1, 2);
    c.Perform(WM_MBUTTONDOWN, MK_MBUTTON | MK_SHIFT, 3, 4);
    c.Perform(WM_MOUSEMOVE, 0, 5, 6);
    c.Perform(0x1234, 0, 0, 0); // not a mouse message: ignored
    EXPECT_EQ(c.log, (Log{"WMRButtonDown", "OnMouseDown middle Sm 3,4", "OnMouseMove  5,6"}));
}

TEST(ControlMouse, LosingTheMouseLetsGoOfTheCapture) {
    Form f;
    Logged& c = *f.control;
    QTest::mousePress(&c, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(c.GetMouseCapture());
    c.setEnabled(false);
    EXPECT_FALSE(c.GetMouseCapture());
    c.setEnabled(true);
    QTest::mouseRelease(&c, Qt::LeftButton, {}, QPoint(5, 5));
    // Hidden while captured: let go too, and the press is no click.
    c.log.clear();
    QTest::mousePress(&c, Qt::LeftButton, {}, QPoint(5, 5));
    c.hide();
    EXPECT_FALSE(c.GetMouseCapture());
    c.show();
    QTest::mouseRelease(&c, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(c.log, (Log{"OnMouseDown left l 5,5", "OnMouseUp left  5,5"}));
}

TEST(ControlMouse, HintsShowOnlyWithShowHintAndCursorChangesAreReported) {
    Form f;
    Logged& c = *f.control;
    c.SetHint("a hint");
    auto ask = [&] {
        QHelpEvent e(QEvent::ToolTip, QPoint(5, 5), c.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&c, &e);
    };
    ask();
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text().toStdString(), "a hint");
    // The toolkit closes a hint after a short fade.
    auto closed = [] { return QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 2000); };
    c.SetShowHint(false); // closes the showing hint
    EXPECT_TRUE(closed());
    ask();
    QApplication::processEvents();
    EXPECT_FALSE(QToolTip::isVisible());
    c.SetShowHint(true);
    ask();
    EXPECT_TRUE(QToolTip::isVisible());
    CancelHint();
    EXPECT_TRUE(closed());

    c.SetCursor(2011);
    c.SetCursor(2011);
    c.SetCursor(0);
    EXPECT_EQ(c.cursorChanges, 2);
}
