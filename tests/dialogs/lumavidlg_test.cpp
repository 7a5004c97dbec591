// The video open and save dialogs: their settings, the video service's
// filter and the fallback when the service builds none, and the preview
// pane showing the first frame of real AVI files (our own writer's and,
// when ffmpeg is there, a compressed one) while the dialog runs.
#include <gtest/gtest.h>

#include <QPushButton>
#include <cstring>
#include <fstream>

#include "dialogs/lumavidlg.h"
#include "platform/ui/filedialog_driver.h"
#include "platform/ui/vfwpreview.h"
#include "platform/vfw/buildfilter.h"
#include "platform/vfw/vfw.h"
#include "support/bitmapheader.h"
#include "support/testutil.h"
#include "video/lumavi.h"

using namespace lum;
using namespace lum::platform;
using namespace lum::platform::vfw;
namespace ui = lum::platform::ui;
using lum::test::TempDir;
using lum::test::WhenShown;

namespace {

// A W x H 24-bit AVI of Frames frames at 25 per second whose top half is
// red and bottom half blue (rows are stored bottom-up).
void WriteSplitAvi(const std::string& path, int w, int h, int frames) {
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIFileOpen(&f, path, OF_CREATE | OF_READWRITE | OF_SHARE_EXCLUSIVE), AVIERR_OK);
    AVISTREAMINFO si{};
    si.fccType = streamtypeVIDEO;
    si.dwScale = 1;
    si.dwRate = 25;
    PAVISTREAM v = nullptr;
    ASSERT_EQ(AVIFileCreateStream(f, &v, &si), AVIERR_OK);
    BITMAPINFOHEADER bi = lum::test::InfoHeader(w, h, 24);
    ASSERT_EQ(AVIStreamSetFormat(v, 0, &bi, sizeof bi), AVIERR_OK);
    int stride = (w * 3 + 3) & ~3;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &pixels[static_cast<std::size_t>(y * stride + x * 3)];
            bool bottom = y < h / 2;
            p[0] = bottom ? 255 : 0; // blue
            p[2] = bottom ? 0 : 255; // red
        }
    for (int i = 0; i < frames; ++i)
        ASSERT_EQ(AVIStreamWrite(v, i, 1, pixels.data(), static_cast<LONG>(pixels.size()),
                                 AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
    AVIStreamRelease(v);
    AVIFileRelease(f);
}

// One second of 8 kHz 8-bit mono silence.
void WriteWave(const std::string& path) {
    const std::uint32_t n = 8000;
    std::vector<std::uint8_t> b(44 + n, 128);
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); };
    auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); };
    std::memcpy(&b[0], "RIFF", 4);
    put32(4, 36 + n);
    std::memcpy(&b[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 1);
    put32(24, 8000);
    put32(28, 8000);
    put16(32, 1);
    put16(34, 8);
    std::memcpy(&b[36], "data", 4);
    put32(40, n);
    lum::test::WriteFile(path, b);
}

class NoServiceFilter : public TLumAVIOpenDialog {
public:
    int asked = 0;

protected:
    HRESULT ServiceBuildFilter(char* filter, LONG, bool) override {
        ++asked;
        std::strcpy(filter, "Never\0used\0"); // whatever is there is ignored on failure
        return AVIERR_ERROR;
    }
};

} // namespace

TEST(TLumAVIOpenDialog, SettingsAndTheServicesFilter) {
    TLumAVIOpenDialog open;
    EXPECT_EQ(open.GetTitle(), "Open AVI File");
    EXPECT_EQ(open.GetDefaultExt(), "avi");
    EXPECT_EQ(open.GetFilterIndex(), 1);
    EXPECT_EQ(open.GetOptions(), TOpenOptions({ofHideReadOnly, ofNoNetworkButton}));
    EXPECT_TRUE(open.GetTemplate().empty());
    EXPECT_EQ(open.GetFilter(),
              "All multimedia files|*.avi;*.wav;*.au;*.mp4;*.m4v;*.mov;*.mkv;*.webm;*.ts;*.m2ts;"
              "*.mpg|AVI files (*.avi)|*.avi|Wave files (*.wav)|*.wav|AU files (*.au)|*.au|"
              "MP4, MOV, MKV, WebM and MPEG files|*.mp4;*.m4v;*.mov;*.mkv;*.webm;*.ts;*.m2ts;*.mpg|"
              "All files (*.*)|*.*");
    TLumAVISaveDialog save;
    EXPECT_EQ(save.GetTitle(), "Save AVI File");
    // Only the AVI handler writes.
    EXPECT_EQ(save.GetFilter(), "All multimedia files|*.avi|AVI files (*.avi)|*.avi|"
                                "All files (*.*)|*.*");

    NoServiceFilter fallback;
    EXPECT_EQ(fallback.BuildFilter(false), "AVI-Files(*.avi)|*.avi|Wave-Files(*.wav)|*.wav");
    EXPECT_EQ(fallback.asked, 1);
}

TEST(AVIBuildFilter, RefusesWhatDoesNotFit) {
    char small[20];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(AVIBuildFilter(small, sizeof small, 0), AVIERR_BUFFERTOOSMALL);
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(AVIBuildFilter(nullptr, 100, 0), AVIERR_BADPARAM);
    char big[400];
    ASSERT_EQ(AVIBuildFilter(big, sizeof big, 1), AVIERR_OK);
    // Pairs end with an extra zero.
    auto entries = ui::ParseFilter(big);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].patterns, "*.*");
}

TEST(PreviewFile, FirstFrameAndFactsOrNothing) {
    TempDir dir;
    WriteSplitAvi(dir.File("split.avi"), 64, 48, 3);
    FilePreview p = PreviewFile(dir.File("split.avi"));
    ASSERT_EQ(p.frame.size(), QSize(64, 48));
    EXPECT_EQ(QColor(p.frame.pixel(5, 2)), QColor(255, 0, 0));  // top row red
    EXPECT_EQ(QColor(p.frame.pixel(5, 45)), QColor(0, 0, 255)); // bottom row blue
    EXPECT_EQ(p.text, "64 x 48, 3 frames, 0.12 s, 25 frames/s");

    WriteWave(dir.File("tone.WAV"));
    p = PreviewFile(dir.File("tone.WAV"));
    EXPECT_TRUE(p.frame.isNull());
    EXPECT_EQ(p.text, "Audio, 1.00 s");

    lum::test::WriteFile(dir.File("notes.txt"), {'h', 'i'});
    for (const std::string& none : {dir.File("notes.txt"), dir.File("missing.avi"), dir.File("")}) {
        p = PreviewFile(none);
        EXPECT_TRUE(p.frame.isNull()) << none;
        EXPECT_TRUE(p.text.empty()) << none;
    }
}

TEST(PreviewFile, CompressedVideoMadeByFfmpeg) {
    if (!lum::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    std::string path = dir.File("mjpeg.avi");
    ASSERT_EQ(lum::test::Run("ffmpeg -v error -f lavfi -i color=c=0x00ff00:s=160x120:r=10 "
                             "-frames:v 5 -c:v mjpeg -y " +
                             lum::test::Quote(path)),
              0);
    FilePreview p = PreviewFile(path);
    ASSERT_EQ(p.frame.size(), QSize(160, 120));
    QColor c(p.frame.pixel(80, 60));
    EXPECT_GT(c.green(), 200);
    EXPECT_LT(c.red(), 60);
    EXPECT_NE(p.text.find("160 x 120, 5 frames"), std::string::npos) << p.text;
}

TEST(TLumAVIOpenDialog, PreviewFollowsTheSelectionAndTheChosenFileLoads) {
    TempDir dir;
    WriteSplitAvi(dir.File("clip.avi"), 64, 48, 2);
    lum::test::WriteFile(dir.File("notes.wav"), {'n', 'o'});
    TLumAVIOpenDialog d;
    d.SetInitialDir(dir.Path().string());
    d.SetOptions(d.GetOptions().Include(ofNoChangeDir));
    std::vector<std::string> selections;
    d.OnSelChange = [&](TLumCustomOpenDialog*, const std::string& f) { selections.push_back(f); };
    QRect frameRect, area;
    QImage shot;
    bool emptyForNonVideo = false;
    QStringList filters;
    WhenShown([&](ui::FileDialog* fd) {
        filters = fd->nameFilters();
        auto* pane = fd->findChild<AviPreviewPane*>();
        ASSERT_NE(pane, nullptr);
        ASSERT_TRUE(lum::test::SelectInList(fd, "clip.avi"));
        (void)QTest::qWaitFor([&] { return pane->ShownPath() == dir.File("clip.avi"); }, 3000);
        frameRect = pane->FrameRect();
        area = pane->PictureArea()->rect();
        shot = pane->PictureArea()->grab().toImage();
        ASSERT_TRUE(lum::test::SelectInList(fd, "notes.wav"));
        (void)QTest::qWaitFor([&] { return pane->ShownPath() == dir.File("notes.wav"); }, 3000);
        emptyForNonVideo = pane->Shown().frame.isNull() && pane->InfoText().isEmpty();
        lum::test::TypeName(fd, "clip.avi");
        fd->accept();
    });
    ASSERT_TRUE(d.Execute());
    EXPECT_EQ(d.GetFileName(), dir.File("clip.avi"));
    ASSERT_FALSE(filters.isEmpty());
    EXPECT_TRUE(filters[0].startsWith("All multimedia files ("));
    ASSERT_FALSE(frameRect.isEmpty());
    EXPECT_TRUE(area.contains(frameRect));
    // Scaled to fit keeps the 4:3 shape.
    EXPECT_NEAR(double(frameRect.width()) / frameRect.height(), 64.0 / 48.0, 0.05);
    // What is painted: red above blue inside the frame's place.
    ASSERT_FALSE(shot.isNull());
    QPoint c = frameRect.center();
    EXPECT_EQ(QColor(shot.pixel(c.x(), frameRect.top() + 3)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(shot.pixel(c.x(), frameRect.bottom() - 3)), QColor(0, 0, 255));
    EXPECT_TRUE(emptyForNonVideo);
    EXPECT_NE(std::find(selections.begin(), selections.end(), dir.File("clip.avi")),
              selections.end());
}

TEST(TLumAVISaveDialog, SavesUnderTheDefaultExtension) {
    TempDir dir;
    TLumAVISaveDialog d;
    d.SetInitialDir(dir.Path().string());
    d.SetOptions(d.GetOptions().Include(ofNoChangeDir));
    bool saving = false;
    WhenShown([&](ui::FileDialog* fd) {
        saving = fd->acceptMode() == QFileDialog::AcceptSave;
        lum::test::TypeName(fd, "new");
        fd->accept();
    });
    ASSERT_TRUE(d.Execute());
    EXPECT_TRUE(saving);
    EXPECT_EQ(d.GetFileName(), dir.File("new.avi"));
    EXPECT_FALSE(d.GetOptions().Contains(ofExtensionDifferent));
}

// The main window's load step: the holder form's dialog with its stored
// filter (upper-case patterns) finds a lower-case file, and the chosen name
// opens in the video file component with one video stream.
TEST(TLumAVIOpenDialog, MainWindowLoadStep) {
    TempDir dir;
    WriteSplitAvi(dir.File("movie.avi"), 32, 24, 4);
    lum::test::WriteFile(dir.File("readme.txt"), {'x'});
    TLumAVIOpenDialog d;
    d.SetFilter("All multimedia files|*.AVI;*.WAV;*.AU|Microsoft .AVI-Dateien|*.AVI|"
                "Microsoft Waveform-Audiodateien|*.WAV;*.AU|Alle Dateien (*.*)|*.*");
    d.SetTitle("Open AVI File");
    d.SetInitialDir(dir.Path().string());
    d.SetOptions(d.GetOptions().Include(ofNoChangeDir));
    QStringList listed;
    WhenShown([&](ui::FileDialog* fd) {
        listed = lum::test::ListedNames(fd, 1);
        ASSERT_TRUE(lum::test::SelectInList(fd, "movie.avi"));
        fd->accept();
    });
    ASSERT_TRUE(d.Execute());
    EXPECT_EQ(listed, QStringList({"movie.avi"}));
    TLumAVIFile file;
    file.CloseFile();
    file.SetFileName(d.GetFileName());
    file.OpenFile();
    EXPECT_EQ(file.GetTypedStreamCount(stVideo), 1);
}
