// The window on a real X server: the test runs itself again under Xvfb on
// the xcb platform, shows the window with the real fonts, and keeps
// screenshots before and after a load in <build>/screenshots/ (main.png,
// loaded.png) for a person to look at.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QScreen>
#include <QSet>
#include <QtTest/QTest>
#include <cstdlib>
#include <filesystem>

#include "app/mainform.h"
#include "app/subform.h"
#include "media.h"
#include "platform/ui/filedialog_driver.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kTarget = "SNAPREEL_SCREENSHOT_DIR";

// What the X server shows of the window.
QImage Shot(QWidget& w) {
    QTest::qWait(200); // let the server draw
    return w.screen()->grabWindow(w.winId()).toImage();
}

// Distinct colours in a band of rows: text in a caption gives many, a
// blank or unpainted area one or two.
int Colours(const QImage& image, const QRect& band) {
    QSet<QRgb> seen;
    for (int y = band.top(); y <= band.bottom() && y < image.height(); ++y)
        for (int x = band.left(); x <= band.right() && x < image.width(); ++x)
            seen.insert(image.pixel(x, y));
    return static_cast<int>(seen.size());
}

TEST(WindowScreenshots, UnderXvfb) {
    if (std::getenv(kTarget)) GTEST_SKIP() << "already the inner run";
    if (!lum::test::HaveProgram("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
    const auto run =
        lum::test::RunSelfUnderXvfb(kTarget, "WindowScreenshots.Take", {"main.png", "loaded.png"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
    EXPECT_TRUE(fs::exists(run.dir / "main.png"));
    EXPECT_TRUE(fs::exists(run.dir / "loaded.png"));
}

TEST(WindowScreenshots, Take) {
    const char* target = std::getenv(kTarget);
    if (!target) GTEST_SKIP() << "runs under Xvfb only, started by UnderXvfb";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    lum::test::HeadlessUi ui;
    lum::app::InitApplication();
    lum::test::TempDir tmp;
    const std::string clip = tmp.File("clip.avi");
    lum::apptest::WriteAvi(clip, 10, 32, 24, [](int, int, int) {
        return lum::apptest::Rgb{9, 9, 9};
    });

    lum::app::TSubForm form;
    lum::app::TMainForm holder;
    form.SetHolder(&holder);
    form.show();
    form.CenterOnScreen();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    // Labels size themselves to their text, so none is clipped.
    for (QLabel* l : {form.Label1, form.Label2, form.Label3})
        EXPECT_GE(l->width(), l->sizeHint().width()) << l->objectName().toStdString();
    const QImage before = Shot(form);
    ASSERT_EQ(before.size(), QSize(408, 181));
    ASSERT_TRUE(before.save(QString::fromStdString(std::string(target) + "/main.png")));
    // Every caption's band holds drawn text, the Japanese ones included.
    for (QWidget* w :
         std::initializer_list<QWidget*>{form.LoadButton, form.SaveButton, form.ExtractButton,
                                         form.QuitButton, form.Label1, form.Label2, form.Label3})
        EXPECT_GE(Colours(before, w->geometry().adjusted(4, 3, -4, -3)), 3)
            << w->objectName().toStdString();

    holder.OpenDialog->SetInitialDir(tmp.Path().string());
    lum::test::WhenShown([](lum::platform::ui::FileDialog* d) {
        lum::test::TypeName(d, "clip.avi");
        d->accept();
    });
    QTest::mouseClick(form.LoadButton, Qt::LeftButton);
    ASSERT_TRUE(form.SaveButton->isEnabled());
    const QImage after = Shot(form);
    ASSERT_EQ(after.size(), QSize(408, 181));
    QImageWriter writer(QString::fromStdString(std::string(target) + "/loaded.png"));
    ASSERT_TRUE(writer.write(after)) << writer.errorString().toStdString() << " " << target;
    // The folder button now looks enabled: its caption is drawn differently.
    const QRect save = form.SaveButton->geometry();
    EXPECT_NE(before.copy(save), after.copy(save));
}

} // namespace
