// The marker panel on a real X server: the test runs itself again under
// Xvfb on the xcb platform, shows a panel with grids, a marked range, the
// locator and three list markers, drags the locator, checks what the
// server shows and keeps the picture as <build>/screenshots/marker-panel.png
// for a person to look at.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QScreen>
#include <QtTest/QTest>
#include <cstdlib>
#include <filesystem>

#include "controls/lumobj_cursors.h"
#include "markerpanel.h"
#include "support/testutil.h"

namespace fs = std::filesystem;
using namespace lum;

namespace {

constexpr const char* kTarget = "LUM_MARKER_PANEL_SHOT_DIR";

TEST(MarkerPanelScreenshot, UnderXvfb) {
    if (std::getenv(kTarget)) GTEST_SKIP() << "already the inner run";
    if (!test::HaveProgram("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
    const auto run =
        test::RunSelfUnderXvfb(kTarget, "MarkerPanelScreenshot.Take", {"marker-panel.png"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
    EXPECT_TRUE(fs::exists(run.dir / "marker-panel.png"));
}

TEST(MarkerPanelScreenshot, Take) {
    const char* target = std::getenv(kTarget);
    if (!target) GTEST_SKIP() << "runs under Xvfb only, started by UnderXvfb";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    RegisterLumCursors();

    QWidget form;
    form.resize(680, 220);
    auto* panel = new test::CountedPanel(&form);
    panel->SetBounds(20, 20, 640, 180);
    panel->SetColor(clBlack);
    panel->SetDrawGridX(true);
    panel->SetDrawGridY(true);
    panel->SetGridWidthY(250);
    panel->SetDrawGriff(true);
    panel->SetLocator(400);
    panel->SetUseMarkers(true);
    panel->SetMarkerA(250);
    panel->SetMarkerB(700);
    TLumMarkerList list;
    list.AddMarker(test::MakeMarker(1, 150, "Intro", 0x00FFFF));
    list.AddMarker(test::MakeMarker(2, 550, "Verse", 0xFFFF00, false, 3));
    list.AddMarker(test::MakeMarker(3, 850, "Chorus", 0xFFFF00, false, 2));
    panel->SetMarkerList(&list);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    test::Settle();

    // The locator is dragged to 480 (the pointer moves along, unseen),
    // with no paint on the way.
    const int paints = panel->paints;
    const int row = 90;
    QTest::mousePress(panel, Qt::LeftButton, {}, QPoint(panel->X_ToPixel(400), row));
    for (int v = 410; v <= 480; v += 10)
        QTest::mouseMove(panel, QPoint(panel->X_ToPixel(v), row));
    QTest::mouseRelease(panel, Qt::LeftButton, {}, QPoint(panel->X_ToPixel(480), row));
    ASSERT_EQ(panel->GetLocator(), 480);
    QTest::qWait(200); // let the server draw
    const QImage shot = form.screen()->grabWindow(form.winId()).toImage();
    ASSERT_FALSE(shot.isNull());
    QImageWriter writer(QString::fromStdString(std::string(target) + "/marker-panel.png"));
    ASSERT_TRUE(writer.write(shot)) << writer.errorString().toStdString();

    // What the server shows, in the form's coordinates: the lines in their
    // colours (inverted on black), the list markers dotted below their
    // grips, the grids' dots.
    auto at = [&](int x, int y) { return test::Px(shot, panel->x() + x, panel->y() + y); };
    const int mid = 101; // below the grips, off the grid's dots
    EXPECT_EQ(at(panel->X_ToPixel(480), mid), 0x00FF00u);
    EXPECT_EQ(at(panel->X_ToPixel(400), mid), 0u); // the old place is clear
    EXPECT_EQ(at(panel->X_ToPixel(250), mid), 0x0000FFu);
    EXPECT_EQ(at(panel->X_ToPixel(700), mid), 0x0000FFu);
    for (std::int32_t v : {150, 550, 850}) {
        const int x = panel->X_ToPixel(v);
        const std::uint32_t color = v == 150 ? 0x00FFFFu : 0xFFFF00u;
        int lit = 0;
        for (int y = 10; y < 170; ++y)
            lit += at(x, y) == color;
        EXPECT_GE(lit, 50) << v;
        EXPECT_LE(lit, 60) << v; // every third row
    }
    const int top = panel->Y_ToPixel(panel->GetDispMaxY());
    EXPECT_EQ(at(panel->X_ToPixel(100), top + 30), 0x808080u);
    EXPECT_EQ(at(panel->X_ToPixel(100), top + 31), 0u);
    EXPECT_EQ(at(panel->X_ToPixel(0) + 30, panel->Y_ToPixel(500)), 0x808080u);
    EXPECT_EQ(panel->paints, paints);
    panel->SetMarkerList(nullptr);
}

} // namespace
