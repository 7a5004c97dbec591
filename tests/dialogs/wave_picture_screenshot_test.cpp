// The wave and picture dialogs on a real X server: the test runs itself
// again under Xvfb on the xcb platform, selects a file in each dialog and
// keeps screenshots in <build>/screenshots/wave-preview.png and
// picture-preview.png for a person to look at, checking what the screen
// shows where the waveform and the picture are.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGuiApplication>
#include <QScreen>
#include <QtTest/QTest>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "audio/lumwave.h"
#include "audio/wavetest.h"
#include "dialogs/lumcstdlg_picture.h"
#include "dialogs/lumcstdlg_wave.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"
#include "platform/ui/filedialog_driver.h"
#include "support/testutil.h"

namespace fs = std::filesystem;
using namespace lum;
namespace ui = lum::platform::ui;
namespace wt = lum::test::wave;

namespace {

constexpr const char* kTarget = "LUM_DIALOG_SCREENSHOT_DIR";

// A second of a 16-bit mono sweep at 11025 Hz that swells and fades.
wt::Bytes Sweep() {
    wt::Bytes b;
    for (int i = 0; i < 11025; ++i) {
        const double t = i / 11025.0;
        const double v = 30000 * std::sin(M_PI * t) * std::sin(2 * M_PI * (400 + 400 * t) * t);
        wt::PutLE(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)), 2);
    }
    return b;
}

QRgb ScreenPixel(const QImage& shot, QWidget* window, QWidget* w, QPoint p) {
    return shot.pixel(w->mapTo(window, p));
}

} // namespace

TEST(DialogScreenshots, UnderXvfb) {
    if (std::getenv(kTarget)) GTEST_SKIP() << "already the inner run";
    if (!lum::test::HaveProgram("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
    const auto run = lum::test::RunSelfUnderXvfb(kTarget, "DialogScreenshots.Take*",
                                                 {"wave-preview.png", "picture-preview.png"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 2 tests"), std::string::npos) << run.output;
    EXPECT_TRUE(fs::exists(run.dir / "wave-preview.png"));
    EXPECT_TRUE(fs::exists(run.dir / "picture-preview.png"));
}

TEST(DialogScreenshots, TakeWave) {
    const char* target = std::getenv(kTarget);
    if (!target) GTEST_SKIP() << "runs under Xvfb only, started by UnderXvfb";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    lum::test::HeadlessUi headless;
    lum::test::TempDir dir;
    const std::string path = dir.File("sweep.wav");
    lum::test::WriteFile(path, wt::Wave(wt::Pcm(1, 11025, 16), Sweep()));
    TLumWaveOpenDialog d;
    d.SetPreview(true);
    d.SetInitialDir(dir.Path().string());
    d.SetOptions(d.GetOptions().Include(ofNoChangeDir));
    QImage shot;
    QRgb middle = 0, edge = 0;
    lum::test::WhenShown([&](ui::FileDialog* fd) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(fd));
        ASSERT_TRUE(lum::test::SelectInList(fd, "sweep.wav"));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return d.GetWaveFile()->GetWave()->GetFileName() == path && !d.WaveformPending();
            },
            3000));
        QTest::qWait(150); // let the server show what was drawn
        shot = fd->screen()->grabWindow(fd->winId()).toImage();
        QWidget* wave = ui::GetDlgItem(fd->HookDialog(), TLumWaveOpenDialog::idWaveform);
        // The sweep is loudest in the middle: the waveform's column there
        // reaches near the top; at its start it is silent.
        middle = ScreenPixel(shot, fd, wave, QPoint(wave->width() / 2, 4));
        edge = ScreenPixel(shot, fd, wave, QPoint(3, 4));
        fd->reject();
    });
    EXPECT_FALSE(d.Execute());
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(shot.save(QString::fromStdString(std::string(target) + "/wave-preview.png")));
    EXPECT_EQ(QColor(middle), QColor(0, 255, 0));
    EXPECT_EQ(QColor(edge), QColor(0, 0, 0));
}

TEST(DialogScreenshots, TakePicture) {
    const char* target = std::getenv(kTarget);
    if (!target) GTEST_SKIP() << "runs under Xvfb only, started by UnderXvfb";
    lum::test::HeadlessUi headless;
    lum::test::TempDir dir;
    // Quarters of four colours, wider than the preview area.
    QImage image(400, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 400; ++x)
            image.setPixel(x, y,
                           x < 200 ? (y < 100 ? qRgb(220, 40, 40) : qRgb(40, 160, 60))
                                   : (y < 100 ? qRgb(40, 80, 220) : qRgb(240, 200, 40)));
    ASSERT_TRUE(image.save(QString::fromStdString(dir.File("quarters.png"))));
    TLumPictureOpenDialog d;
    d.SetPreview(true);
    d.SetInitialDir(dir.Path().string());
    d.SetOptions(d.GetOptions().Include(ofNoChangeDir));
    QImage shot;
    QRgb topLeft = 0, bottomRight = 0;
    lum::test::WhenShown([&](ui::FileDialog* fd) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(fd));
        ASSERT_TRUE(lum::test::SelectInList(fd, "quarters.png"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !d.GetShownFile().empty(); }, 3000));
        QTest::qWait(150);
        shot = fd->screen()->grabWindow(fd->winId()).toImage();
        QWidget* area = ui::GetDlgItem(fd->HookDialog(), TLumPictureOpenDialog::idPicture);
        const platform::RECT r = TLumPictureOpenDialog::PictureRect(
            {2, 2, area->width() - 2, area->height() - 2}, 400, 200, true);
        topLeft = ScreenPixel(shot, fd, area, QPoint(r.left + 3, r.top + 3));
        bottomRight = ScreenPixel(shot, fd, area, QPoint(r.right - 4, r.bottom - 4));
        fd->reject();
    });
    EXPECT_FALSE(d.Execute());
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(shot.save(QString::fromStdString(std::string(target) + "/picture-preview.png")));
    EXPECT_EQ(QColor(topLeft), QColor(220, 40, 40));
    EXPECT_EQ(QColor(bottomRight), QColor(240, 200, 40));
}
