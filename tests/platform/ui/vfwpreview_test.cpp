// The preview pane's Play: offered only with a player and a video that has
// a rate and more than one frame; frames drawn in order at no more than the
// file's rate onto the picture's window surface; the end, Stop, another
// selection and a failing player each stop it; a paint while playing draws
// the frame played last again.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QtTest/QTest>

#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"
#include "platform/ui/vfwpreview.h"
#include "platform/vfw/avi_fixtures.h"

using namespace lum::platform;
using namespace lum::platform::vfw;
namespace vt = lum::vfwtest;

namespace {

// Frames of 32 x 24 grey at Rate frames a second.
std::string WriteGrey(const lum::test::TempDir& dir, const std::string& name, int frames,
                      DWORD rate) {
    const std::string path = dir.File(name);
    vt::CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM v = nullptr;
        AVISTREAMINFO si = vt::VideoInfo(0, rate ? 1 : 0, rate);
        ASSERT_EQ(AVIFileCreateStream(f, &v, &si), AVIERR_OK);
        vt::Bytes fmt = vt::BitmapFormat(32, 24, 24, BI_RGB);
        AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        vt::Bytes pixels(32 * 3 * 24, 128);
        for (int i = 0; i < frames; ++i)
            AVIStreamWrite(v, i, 1, pixels.data(), static_cast<LONG>(pixels.size()), AVIIF_KEYFRAME,
                           nullptr, nullptr);
        AVIStreamRelease(v);
    });
    return path;
}

// Records what the pane asks and fills the rectangle in a colour of the
// frame, as a real player's frame would cover it.
struct Log {
    std::vector<LONG> frames;
    int begun = 0;
    RECT rect{};
    LONG failAt = -1;
    bool beginOk = true;
    int players = 0;
};

class FakePlayer : public PanePlayer {
public:
    explicit FakePlayer(Log& log) : log_(log) { ++log_.players; }
    ~FakePlayer() override { --log_.players; }
    bool Begin(gdi::HDC, const RECT& rect) override {
        ++log_.begun;
        log_.rect = rect;
        return log_.beginOk;
    }
    bool Draw(gdi::HDC dc, const RECT& rect, LONG frame) override {
        log_.frames.push_back(frame);
        gdi::HBRUSH brush = gdi::CreateSolidBrush(gdi::RGB(0, static_cast<BYTE>(frame * 10), 0));
        gdi::FillRect(dc, &rect, brush);
        gdi::DeleteObject(brush);
        return frame != log_.failAt;
    }

private:
    Log& log_;
};

struct Pane {
    Log log;
    AviPreviewPane pane;
    Pane() {
        pane.resize(240, 260);
        pane.SetPlayerFactory([this](const std::string&) -> std::unique_ptr<PanePlayer> {
            return std::make_unique<FakePlayer>(log);
        });
        pane.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&pane));
    }
    bool WaitStopped(int ms = 5000) {
        return QTest::qWaitFor([&] { return !pane.Playing(); }, ms);
    }
    QRgb Surface(QPoint p) {
        auto surface = gdi::FindWindowSurface(pane.PictureArea());
        auto lock = surface->Lock();
        return surface->Buffer().pixel(p) & 0xFFFFFF;
    }
};

} // namespace

TEST(PreviewPanePlay, OfferedOnlyForVideosThatCanPlay) {
    lum::test::TempDir dir;
    const std::string clip = WriteGrey(dir, "clip.avi", 10, 25);
    AviPreviewPane bare;
    bare.ShowFile(clip);
    EXPECT_TRUE(bare.PlayButton()->isHidden());

    Pane p;
    EXPECT_FALSE(p.pane.PlayButton()->isHidden());
    EXPECT_FALSE(p.pane.PlayButton()->isEnabled()); // nothing shown yet
    p.pane.ShowFile(clip);
    EXPECT_TRUE(p.pane.PlayButton()->isEnabled());
    EXPECT_EQ(p.pane.PlayButton()->text(), "Play");
    p.pane.ShowFile(WriteGrey(dir, "still.avi", 1, 25));
    EXPECT_FALSE(p.pane.PlayButton()->isEnabled());
    p.pane.ShowFile(WriteGrey(dir, "norate.avi", 5, 0));
    EXPECT_FALSE(p.pane.PlayButton()->isEnabled());
    p.pane.Play();
    EXPECT_FALSE(p.pane.Playing());
    EXPECT_EQ(p.log.begun, 0);
}

TEST(PreviewPanePlay, FramesInOrderAtTheRateOntoThePicture) {
    lum::test::TempDir dir;
    Pane p;
    p.pane.ShowFile(WriteGrey(dir, "clip.avi", 10, 25));
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(p.pane.PlayButton(), Qt::LeftButton);
    ASSERT_TRUE(p.pane.Playing());
    EXPECT_EQ(p.pane.PlayButton()->text(), "Stop");
    EXPECT_EQ(p.log.begun, 1);
    const QRect target = p.pane.FrameRect();
    EXPECT_EQ(p.log.rect.left, target.left());
    EXPECT_EQ(p.log.rect.right, target.right() + 1);
    // What the player draws outside a paint is on the picture at once.
    ASSERT_FALSE(p.log.frames.empty());
    EXPECT_EQ(p.log.frames[0], 0);
    EXPECT_EQ(p.Surface(target.center()), qRgb(0, 0, 0) & 0xFFFFFF);
    (void)QTest::qWaitFor([&] { return p.pane.PlayedFrame() >= 3; }, 3000);
    const LONG now = p.pane.PlayedFrame();
    EXPECT_EQ(p.Surface(target.center()), qRgb(0, now * 10, 0) & 0xFFFFFF);

    ASSERT_TRUE(p.WaitStopped());
    // Ten frames at 25 a second take 400 ms; the pane never runs ahead.
    EXPECT_GE(clock.elapsed(), 390);
    for (std::size_t i = 1; i < p.log.frames.size(); ++i)
        EXPECT_LT(p.log.frames[i - 1], p.log.frames[i]);
    EXPECT_LE(p.log.frames.back(), 9);
    EXPECT_EQ(p.pane.PlayButton()->text(), "Play");
    EXPECT_EQ(p.pane.PlayedFrame(), -1);
    EXPECT_EQ(p.log.players, 0);
}

TEST(PreviewPanePlay, StopsOnStopAnotherFileAndAFailingPlayer) {
    lum::test::TempDir dir;
    Pane p;
    const std::string clip = WriteGrey(dir, "clip.avi", 100, 25);
    p.pane.ShowFile(clip);
    p.pane.Play();
    ASSERT_TRUE(p.pane.Playing());
    // A paint while playing draws the frame played last again.
    const std::size_t drawn = p.log.frames.size();
    p.pane.PictureArea()->repaint();
    ASSERT_EQ(p.log.frames.size(), drawn + 1);
    EXPECT_EQ(p.log.frames.back(), p.pane.PlayedFrame());
    QTest::mouseClick(p.pane.PlayButton(), Qt::LeftButton);
    EXPECT_FALSE(p.pane.Playing());
    EXPECT_EQ(p.log.players, 0);
    // Stopped, the picture shows the first frame (grey) again.
    QApplication::processEvents();
    p.pane.PictureArea()->repaint();
    EXPECT_EQ(p.Surface(p.pane.FrameRect().center()), qRgb(128, 128, 128) & 0xFFFFFF);

    p.pane.Play();
    ASSERT_TRUE(p.pane.Playing());
    p.pane.ShowFile(WriteGrey(dir, "other.avi", 100, 25));
    EXPECT_FALSE(p.pane.Playing());

    p.log.failAt = 2;
    p.pane.Play();
    ASSERT_TRUE(p.WaitStopped());
    EXPECT_EQ(p.log.frames.back(), 2);

    p.log.beginOk = false;
    p.pane.Play();
    EXPECT_FALSE(p.pane.Playing());
    EXPECT_EQ(p.log.players, 0);
}
