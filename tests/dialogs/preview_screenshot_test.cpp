// The open dialog playing a video on a real X server: the test runs itself
// again under Xvfb on the xcb platform, presses Play in the preview pane
// and keeps a screenshot of the dialog in <build>/screenshots/
// preview-play.png for a person to look at.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QtTest/QTest>
#include <cstdlib>
#include <filesystem>

#include "dialogs/lumavidlg.h"
#include "platform/ui/filedialog_driver.h"
#include "platform/ui/vfwpreview.h"
#include "platform/vfw/avi_fixtures.h"
#include "support/testutil.h"

namespace fs = std::filesystem;
using namespace lum;
namespace vt = lum::vfwtest;
using lum::platform::LONG;

namespace {

constexpr const char* kTarget = "LUM_PREVIEW_SCREENSHOT_DIR";

// A 160 x 120 clip of 75 frames at 25 a second: a bar that moves right
// one column in every frame over a blue ground.
void WriteBar(const std::string& path) {
    const int w = 160, h = 120;
    vt::CreateFile(path, [&](vt::PAVIFILE f) {
        vt::PAVISTREAM v = nullptr;
        vt::AVISTREAMINFO si = vt::VideoInfo(0, 1, 25);
        ASSERT_EQ(platform::vfw::AVIFileCreateStream(f, &v, &si), 0);
        vt::Bytes fmt = vt::BitmapFormat(w, h, 24, vt::BI_RGB);
        platform::vfw::AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        const std::size_t stride = static_cast<std::size_t>(w) * 3;
        for (int i = 0; i < 75; ++i) {
            vt::Bytes d(stride * h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    std::uint8_t* p = &d[stride * static_cast<std::size_t>(y) + 3 * x];
                    const bool bar = x >= 2 * i && x < 2 * i + 12;
                    p[0] = bar ? 0 : 160;
                    p[1] = bar ? 220 : 40;
                    p[2] = bar ? 255 : 20;
                }
            platform::vfw::AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()),
                                          platform::vfw::AVIIF_KEYFRAME, nullptr, nullptr);
        }
        platform::vfw::AVIStreamRelease(v);
    });
}

} // namespace

TEST(PreviewScreenshot, UnderXvfb) {
    if (std::getenv(kTarget)) GTEST_SKIP() << "already the inner run";
    if (!lum::test::HaveProgram("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
    const auto run =
        lum::test::RunSelfUnderXvfb(kTarget, "PreviewScreenshot.Take", {"preview-play.png"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
    EXPECT_TRUE(fs::exists(run.dir / "preview-play.png"));
}

TEST(PreviewScreenshot, Take) {
    const char* target = std::getenv(kTarget);
    if (!target) GTEST_SKIP() << "runs under Xvfb only, started by UnderXvfb";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    lum::test::HeadlessUi ui;
    lum::test::TempDir dir;
    WriteBar(dir.File("bar.avi"));
    TLumAVIOpenDialog d;
    d.SetInitialDir(dir.Path().string());
    d.SetOptions(d.GetOptions().Include(ofNoChangeDir));
    QImage shot;
    QPoint barAt, groundAt;
    LONG frame = -1;
    lum::test::WhenShown([&](platform::ui::FileDialog* fd) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(fd));
        auto* pane = fd->findChild<platform::vfw::AviPreviewPane*>();
        ASSERT_NE(pane, nullptr);
        ASSERT_TRUE(lum::test::SelectInList(fd, "bar.avi"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return pane->PlayButton()->isEnabled(); }, 3000));
        QTest::mouseClick(pane->PlayButton(), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return pane->PlayedFrame() >= 30; }, 5000));
        QTest::qWait(100); // let the server show the frames drawn
        frame = pane->PlayedFrame();
        shot = fd->screen()->grabWindow(fd->winId()).toImage();
        // The middle of that frame's bar (it may be shown a frame late,
        // which moves the bar 2 of its 12 columns), and the ground left of it.
        const QRect r = pane->FrameRect();
        QWidget* picture = pane->PictureArea();
        const int column = static_cast<int>(2 * frame + 6);
        barAt = picture->mapTo(fd, QPoint(r.left() + column * r.width() / 160, r.center().y()));
        groundAt = picture->mapTo(fd, QPoint(r.left() + 4, r.center().y()));
        pane->Stop();
        fd->reject();
    });
    EXPECT_FALSE(d.Execute());
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(shot.save(QString::fromStdString(std::string(target) + "/preview-play.png")));
    // The bar has moved away from where frame 0 has it: the screen shows a
    // played frame, not the first one the pane paints itself.
    ASSERT_GE(frame, 30);
    const QColor bar(shot.pixel(barAt)), ground(shot.pixel(groundAt));
    EXPECT_GT(bar.red(), 200) << "frame " << frame;
    EXPECT_GT(bar.green(), 150);
    EXPECT_LT(ground.red(), 60);
    EXPECT_GT(ground.blue(), 120);
}
