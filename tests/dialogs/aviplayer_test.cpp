// The open dialog's player: frame drawing of a real file's frames into the
// preview pane while the dialog runs, and the files it has nothing to play
// for.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QtTest/QTest>

#include "dialogs/lumavidlg.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"
#include "platform/ui/filedialog_driver.h"
#include "platform/ui/vfwpreview.h"
#include "platform/vfw/avi_fixtures.h"
#include "support/testutil.h"

using namespace lum;
namespace gdi = lum::platform::gdi;
namespace vt = lum::vfwtest;
using lum::platform::LONG;
using lum::platform::vfw::AviPreviewPane;

namespace {

// The colour of frame I: red rising, blue falling.
QRgb FrameColour(int i) {
    return qRgb(i * 12, 40, 255 - i * 12);
}

// Frames of W x H in one colour each, at 25 a second.
void WriteColours(const std::string& path, int w, int h, int frames) {
    vt::CreateFile(path, [&](vt::PAVIFILE f) {
        vt::PAVISTREAM v = nullptr;
        vt::AVISTREAMINFO si = vt::VideoInfo(0, 1, 25);
        ASSERT_EQ(platform::vfw::AVIFileCreateStream(f, &v, &si), 0);
        vt::Bytes fmt = vt::BitmapFormat(w, h, 24, vt::BI_RGB);
        platform::vfw::AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
        for (int i = 0; i < frames; ++i) {
            vt::Bytes d(stride * static_cast<std::size_t>(h));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    std::uint8_t* p = &d[stride * static_cast<std::size_t>(y) + 3 * x];
                    p[0] = static_cast<std::uint8_t>(qBlue(FrameColour(i)));
                    p[1] = static_cast<std::uint8_t>(qGreen(FrameColour(i)));
                    p[2] = static_cast<std::uint8_t>(qRed(FrameColour(i)));
                }
            platform::vfw::AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()),
                                          platform::vfw::AVIIF_KEYFRAME, nullptr, nullptr);
        }
        platform::vfw::AVIStreamRelease(v);
    });
}

} // namespace

TEST(AVIPreviewPlayer, DrawsTheFramesOfTheFilesFirstVideo) {
    lum::test::TempDir dir;
    const std::string clip = dir.File("clip.avi");
    WriteColours(clip, 16, 8, 6);
    auto player = AVIPreviewPlayer(clip);
    ASSERT_NE(player, nullptr);
    QImage image(32, 16, QImage::Format_RGB32);
    image.fill(Qt::white);
    gdi::HDC dc = gdi::CreateImageDC(&image);
    const platform::RECT rect{0, 0, 32, 16};
    ASSERT_TRUE(player->Begin(dc, rect));
    for (LONG f : {0, 1, 5, 2}) {
        ASSERT_TRUE(player->Draw(dc, rect, f));
        EXPECT_EQ(image.pixel(20, 10), FrameColour(static_cast<int>(f)));
    }
    // Past the end the frame reader fails; the player says so instead of raising.
    EXPECT_FALSE(player->Draw(dc, rect, 6));
    gdi::DeleteDC(dc);

    EXPECT_EQ(AVIPreviewPlayer(dir.File("missing.avi")), nullptr);
    lum::test::WriteFile(dir.File("noise.avi"), {'R', 'I', 'F', 'F', 1, 2, 3});
    EXPECT_EQ(AVIPreviewPlayer(dir.File("noise.avi")), nullptr);
}

TEST(TLumAVIOpenDialog, ThePreviewPlaysTheVideo) {
    lum::test::TempDir dir;
    WriteColours(dir.File("clip.avi"), 64, 48, 20);
    TLumAVIOpenDialog d;
    d.SetInitialDir(dir.Path().string());
    d.SetOptions(d.GetOptions().Include(ofNoChangeDir));
    bool offered = false, playing = false;
    LONG frame = -1;
    QRgb shown = 0;
    QString stopText;
    lum::test::WhenShown([&](platform::ui::FileDialog* fd) {
        auto* pane = fd->findChild<AviPreviewPane*>();
        ASSERT_NE(pane, nullptr);
        ASSERT_TRUE(lum::test::SelectInList(fd, "clip.avi"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return pane->PlayButton()->isEnabled(); }, 3000));
        offered = pane->PlayButton()->isVisible();
        QTest::mouseClick(pane->PlayButton(), Qt::LeftButton);
        playing = pane->Playing();
        stopText = pane->PlayButton()->text();
        (void)QTest::qWaitFor([&] { return pane->PlayedFrame() >= 4; }, 3000);
        // The frame played last is on the picture, drawn outside its paint.
        frame = pane->PlayedFrame();
        auto surface = gdi::FindWindowSurface(pane->PictureArea());
        {
            auto lock = surface->Lock();
            shown = surface->Buffer().pixel(pane->FrameRect().center());
        }
        pane->Stop();
        fd->reject();
    });
    EXPECT_FALSE(d.Execute());
    EXPECT_TRUE(offered);
    EXPECT_TRUE(playing);
    EXPECT_EQ(stopText, "Stop");
    ASSERT_GE(frame, 4);
    EXPECT_EQ(shown, FrameColour(static_cast<int>(frame)));
}
