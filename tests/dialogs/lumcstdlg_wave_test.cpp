// The wave open and save dialogs shown offscreen with real files selected:
// the format line and the Play and Preview states for PCM, MS ADPCM and
// non-wave files, the waveform's columns against the samples, the file's
// own picture (and BMP_WAVE for a damaged one), playing through the chain
// onto the virtual device's capture, Auto Play, the locator after a second
// of play, the buffer sizes, the invalid-file veto and the destroy step.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest/QTest>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "audio/lumwave.h"
#include "audio/lumwavout.h"
#include "audio/wavetest.h"
#include "core/lummuldiv.h"
#include "dialogs/lumcstdlg_wave.h"
#include "platform/gdi/qtgdi.h"
#include "platform/ui/filedialog_driver.h"
#include "platform/waveout/waveouttest.h"
#include "support/testutil.h"

using namespace lum;
namespace ui = lum::platform::ui;
namespace wt = lum::test::wave;
using lum::test::WhenShown;
using wt::Bytes;

namespace {

constexpr const char* kNoAdpcm = "ffmpeg is not installed";

// The test files, made once for the whole program.
struct Media {
    lum::test::TempDir dir;
    Bytes pcm16;        // 0.3 s of 16-bit stereo at 22050 Hz
    Bytes pcm8;         // 1.5 s of 8-bit mono at 8000 Hz
    Bytes adpcmDecoded; // ffmpeg's decode of adpcm.wav, once asked for
    std::string Path(const std::string& name) const { return dir.File(name); }
};

Bytes Sine16Stereo(int frames, int rate) {
    Bytes b;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        // Left a rising sine, right a slower one, both changing in size.
        const auto l = static_cast<std::int16_t>(30000 * std::sin(2 * M_PI * 220 * t) * t * 3);
        const auto r = static_cast<std::int16_t>(-20000 * std::sin(2 * M_PI * 97 * t));
        wt::PutLE(b, static_cast<std::uint16_t>(l), 2);
        wt::PutLE(b, static_cast<std::uint16_t>(r), 2);
    }
    return b;
}

// A packed 24-bit DIB of one colour, as a DISP chunk carries it.
Bytes SolidDib(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    Bytes d;
    const int row = (w * 3 + 3) / 4 * 4;
    wt::PutLE(d, 40, 4);
    wt::PutLE(d, static_cast<std::uint32_t>(w), 4);
    wt::PutLE(d, static_cast<std::uint32_t>(h), 4);
    wt::PutLE(d, 1, 2);
    wt::PutLE(d, 24, 2);
    wt::PutLE(d, 0, 4);
    wt::PutLE(d, static_cast<std::uint32_t>(row * h), 4);
    for (int i = 0; i < 4; ++i)
        wt::PutLE(d, 0, 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < row; ++x)
            d.push_back(x < w * 3 ? (x % 3 == 0 ? b : x % 3 == 1 ? g : r) : 0);
    return d;
}

Bytes Disp(const Bytes& dib) {
    Bytes body;
    wt::PutLE(body, 8, 4); // a packed DIB
    body.insert(body.end(), dib.begin(), dib.end());
    return wt::Chunk("DISP", body);
}

Media& TheMedia() {
    static Media* m = [] {
        auto* media = new Media;
        const int frames16 = 6615;
        media->pcm16 = Sine16Stereo(frames16, 22050);
        lum::test::WriteFile(media->Path("pcm16.wav"),
                             wt::Wave(wt::Pcm(2, 22050, 16), media->pcm16));
        for (int i = 0; i < 12000; ++i)
            media->pcm8.push_back(
                static_cast<std::uint8_t>(128 + 120 * std::sin(2 * M_PI * i / (40.0 + i / 300))));
        lum::test::WriteFile(media->Path("pcm8.wav"), wt::Wave(wt::Pcm(1, 8000, 8), media->pcm8));
        const Bytes small = Sine16Stereo(800, 22050);
        lum::test::WriteFile(media->Path("picture.wav"), wt::Wave(wt::Pcm(2, 22050, 16), small,
                                                                  Disp(SolidDib(8, 8, 255, 0, 0))));
        // A DISP whose header claims a 64 x 64 picture but holds 12 bytes of it.
        Bytes cut = SolidDib(64, 64, 0, 0, 255);
        cut.resize(40 + 12);
        lum::test::WriteFile(media->Path("damaged.wav"),
                             wt::Wave(wt::Pcm(2, 22050, 16), small, Disp(cut)));
        lum::test::WriteFile(media->Path("fast.wav"), wt::Wave(wt::Pcm(1, 64000, 16), Bytes(6400)));
        std::ofstream(media->Path("fake.wav")) << "not a wave file";
        return media;
    }();
    return *m;
}

// Makes adpcm.wav from pcm16 with ffmpeg, and ffmpeg's decode of it; only
// the test that plays it pays for the two runs. False without ffmpeg.
bool MakeAdpcm() {
    Media* media = &TheMedia();
    if (!media->adpcmDecoded.empty()) return true;
    if (!lum::test::HaveProgram("ffmpeg")) return false;
    const std::string raw = media->Path("adpcm.raw");
    lum::test::WriteFile(media->Path("source.raw"), media->pcm16);
    const std::string make =
        "ffmpeg -v error -y -f s16le -ar 22050 -ac 2 -i " +
        lum::test::Quote(media->Path("source.raw")) + " -c:a adpcm_ms " +
        lum::test::Quote(media->Path("adpcm.wav")) + " && ffmpeg -v error -y -i " +
        lum::test::Quote(media->Path("adpcm.wav")) + " -f s16le " + lum::test::Quote(raw);
    if (lum::test::Run(make) == 0) media->adpcmDecoded = lum::test::ReadFile(raw);
    std::filesystem::remove(media->Path("source.raw"));
    std::filesystem::remove(raw);
    return !media->adpcmDecoded.empty();
}

// Runs Dialog over the media folder; Body runs once it is up.
void RunDialog(TLumWaveOpenDialog& d, const std::function<void(ui::FileDialog*)>& body) {
    d.SetInitialDir(TheMedia().dir.Path().string());
    d.SetOptions(d.GetOptions().Include(ofNoChangeDir));
    WhenShown(body);
    (void)d.Execute();
}

template <class T>
T* Control(ui::FileDialog* fd, int id) {
    return qobject_cast<T*>(ui::GetDlgItem(fd->HookDialog(), id));
}

// Selects Name and waits until the dialog's delayed update has run.
template <class T>
T* Control(ui::FileDialog* fd, int id);

bool Select(TLumWaveOpenDialog& d, ui::FileDialog* fd, const std::string& name) {
    if (!lum::test::SelectInList(fd, QString::fromStdString(name))) return false;
    const std::string path = TheMedia().Path(name);
    return QTest::qWaitFor(
        [&] {
            const std::string& shown = d.GetWaveFile()->GetWave()->GetFileName();
            if (name == "fake.wav")
                return Control<QLabel>(fd, TLumWaveOpenDialog::idInfo)->text() == "Unknown" &&
                       !d.WaveformPending();
            return shown == path && !d.WaveformPending();
        },
        3000);
}

QImage Grab(ui::FileDialog* fd, int id) {
    QWidget* w = ui::GetDlgItem(fd->HookDialog(), id);
    return w ? w->grab().toImage() : QImage();
}

class WaveDialog : public testing::Test {
protected:
    void SetUp() override { (void)TheMedia(); }
    lum::test::HeadlessUi ui_;
};

// Plays on the virtual device into a capture file of its own.
class WavePlay : public WaveDialog {
protected:
    void SetUp() override {
        WaveDialog::SetUp();
        capture_ =
            std::make_unique<lum::test::ScopedEnv>("LUM_WAVEOUT_CAPTURE", capturePath_.c_str());
    }
    Bytes Captured() const {
        const auto c = lum::test::CaptureData(capturePath_);
        return c ? Bytes(c->begin(), c->end()) : Bytes{};
    }
    static int Virtual() { return static_cast<int>(platform::waveout::waveOutVirtualDevice()); }

    lum::test::TempDir captureDir_;
    std::string capturePath_ = captureDir_.File("capture.wav");
    std::unique_ptr<lum::test::ScopedEnv> capture_;
};

} // namespace

TEST(SelectedPathOf, TakesThePlainPathOrTheLastQuotedName) {
    EXPECT_EQ(SelectedPathOf("/m/a.wav"), "/m/a.wav");
    EXPECT_EQ(SelectedPathOf("/m/ \"a.wav\" \"b.wav\""), "/m/b.wav");
    EXPECT_EQ(SelectedPathOf("/m \"a.wav\" \"/x/c.wav\""), "/x/c.wav");
    EXPECT_EQ(SelectedPathOf("/ \"a.wav\""), "/a.wav");
    EXPECT_EQ(SelectedPathOf("/m/ \"\""), "/m");
}

TEST_F(WaveDialog, StartsWithNothingToPlayOrPreview) {
    TLumWaveOpenDialog d;
    QString previewText;
    bool playEnabled = true, previewEnabled = true;
    QString info;
    RunDialog(d, [&](ui::FileDialog* fd) {
        previewText = Control<QCheckBox>(fd, TLumWaveOpenDialog::idPreview)->text();
        playEnabled = Control<QPushButton>(fd, TLumWaveOpenDialog::idPlay)->isEnabled();
        previewEnabled = Control<QCheckBox>(fd, TLumWaveOpenDialog::idPreview)->isEnabled();
        info = Control<QLabel>(fd, TLumWaveOpenDialog::idInfo)->text();
    });
    EXPECT_EQ(previewText, "Preview");
    EXPECT_FALSE(playEnabled);
    EXPECT_FALSE(previewEnabled);
    EXPECT_EQ(info, "Unknown");
}

TEST_F(WaveDialog, APcmFileShowsItsFormatAndItsWaveform) {
    TLumWaveOpenDialog d;
    d.SetPreview(true);
    QString info;
    bool play = false, preview = false;
    std::vector<TLumWaveOpenDialog::TColumn> columns;
    int width = 0;
    QImage shot;
    RunDialog(d, [&](ui::FileDialog* fd) {
        ASSERT_TRUE(Select(d, fd, "pcm16.wav"));
        info = Control<QLabel>(fd, TLumWaveOpenDialog::idInfo)->text();
        play = Control<QPushButton>(fd, TLumWaveOpenDialog::idPlay)->isEnabled();
        preview = Control<QCheckBox>(fd, TLumWaveOpenDialog::idPreview)->isEnabled();
        columns = d.GetColumns();
        width = ui::GetDlgItem(fd->HookDialog(), TLumWaveOpenDialog::idWaveform)->width() - 4;
        shot = Grab(fd, TLumWaveOpenDialog::idWaveform);
    });
    const auto size = static_cast<std::int32_t>(TheMedia().pcm16.size());
    const std::string kb = "; " + std::to_string((size + 44) / 1024) + " KB";
    EXPECT_TRUE(info.startsWith("PCM; ")) << info.toStdString();
    EXPECT_TRUE(info.endsWith(QString::fromStdString(kb))) << info.toStdString();
    EXPECT_TRUE(preview);
    // Play depends on a device taking 22050 Hz 16-bit stereo; every machine
    // has the virtual one.
    EXPECT_TRUE(play);

    // Each column holds the extremes of its share of the samples.
    ASSERT_GT(width, 20);
    ASSERT_GE(columns.size(), static_cast<std::size_t>(width));
    const std::int32_t chunk = std::max((size / width) & ~3, 4);
    const Bytes& s = TheMedia().pcm16;
    for (int i = 0; i < width; ++i) {
        const std::size_t from = static_cast<std::size_t>(i) * chunk;
        if (from >= s.size()) break;
        const std::size_t to = std::min(s.size(), from + chunk);
        int lmin = 32767, lmax = -32768, rmin = 32767, rmax = -32768;
        for (std::size_t p = from; p + 3 < to; p += 4) {
            const auto l = static_cast<std::int16_t>(s[p] | (s[p + 1] << 8));
            const auto r = static_cast<std::int16_t>(s[p + 2] | (s[p + 3] << 8));
            lmin = std::min<int>(lmin, l), lmax = std::max<int>(lmax, l);
            rmin = std::min<int>(rmin, r), rmax = std::max<int>(rmax, r);
        }
        const auto& c = columns[static_cast<std::size_t>(i)];
        EXPECT_EQ(std::min(c.first1, c.second1), lmin) << "column " << i;
        EXPECT_EQ(std::max(c.first1, c.second1), lmax) << "column " << i;
        EXPECT_EQ(std::min(c.first2, c.second2), rmin) << "column " << i;
        EXPECT_EQ(std::max(c.first2, c.second2), rmax) << "column " << i;
    }
    // The waveform shows in the foreground colour on black.
    ASSERT_FALSE(shot.isNull());
    int green = 0;
    for (int x = 2; x < shot.width() - 2; ++x)
        for (int y = 2; y < shot.height() - 2; ++y)
            if (shot.pixel(x, y) == qRgb(0, 255, 0)) {
                ++green;
                break;
            }
    EXPECT_GT(green, width * 9 / 10);
}

TEST_F(WaveDialog, EightBitSamplesAreCentredOnSilence) {
    TLumWaveOpenDialog d;
    d.SetPreview(true);
    std::vector<TLumWaveOpenDialog::TColumn> columns;
    int width = 0;
    RunDialog(d, [&](ui::FileDialog* fd) {
        ASSERT_TRUE(Select(d, fd, "pcm8.wav"));
        columns = d.GetColumns();
        width = ui::GetDlgItem(fd->HookDialog(), TLumWaveOpenDialog::idWaveform)->width() - 4;
    });
    const Bytes& s = TheMedia().pcm8;
    const std::int32_t chunk = std::max((static_cast<std::int32_t>(s.size()) / width) & ~3, 4);
    ASSERT_GE(columns.size(), 1u);
    const auto [lo, hi] = std::minmax_element(s.begin(), s.begin() + chunk);
    EXPECT_EQ(std::min(columns[0].first1, columns[0].second1), (*lo - 128) * 256);
    EXPECT_EQ(std::max(columns[0].first1, columns[0].second1), (*hi - 128) * 256);
}

TEST_F(WaveDialog, ANonWaveFileShowsUnknownAndAGreyLine) {
    TLumWaveOpenDialog d;
    d.SetPreview(true);
    QString info;
    bool play = true;
    QImage shot;
    RunDialog(d, [&](ui::FileDialog* fd) {
        ASSERT_TRUE(Select(d, fd, "pcm16.wav"));
        ASSERT_TRUE(Select(d, fd, "fake.wav"));
        info = Control<QLabel>(fd, TLumWaveOpenDialog::idInfo)->text();
        play = Control<QPushButton>(fd, TLumWaveOpenDialog::idPlay)->isEnabled();
        shot = Grab(fd, TLumWaveOpenDialog::idWaveform);
    });
    EXPECT_EQ(info, "Unknown");
    EXPECT_FALSE(play);
    ASSERT_FALSE(shot.isNull());
    const int mid = 2 + (shot.height() - 4) / 2;
    EXPECT_EQ(shot.pixel(shot.width() / 2, mid), qRgb(0x80, 0x80, 0x80));
    EXPECT_EQ(shot.pixel(shot.width() / 2, mid - 3), qRgb(0, 0, 0));
}

TEST_F(WaveDialog, TheFilesPictureIsShownOnlyWhenItIsWhole) {
    TLumWaveOpenDialog d;
    QImage own, damaged, none;
    RunDialog(d, [&](ui::FileDialog* fd) {
        ASSERT_TRUE(Select(d, fd, "picture.wav"));
        own = Grab(fd, TLumWaveOpenDialog::idPicture);
        ASSERT_TRUE(Select(d, fd, "damaged.wav"));
        damaged = Grab(fd, TLumWaveOpenDialog::idPicture);
        ASSERT_TRUE(Select(d, fd, "pcm16.wav"));
        none = Grab(fd, TLumWaveOpenDialog::idPicture);
    });
    ASSERT_FALSE(own.isNull());
    // The red DIB fills the control less 2 pixels on each side.
    EXPECT_EQ(own.pixel(own.width() / 2, own.height() / 2), qRgb(255, 0, 0));
    EXPECT_EQ(own.pixel(2, 2), qRgb(255, 0, 0));
    // A DIB cut short is not read: BMP_WAVE shows, as for a file without
    // a picture: its page is white inside its black edge.
    EXPECT_EQ(damaged, none);
    EXPECT_EQ(none.pixel(10, 5), qRgb(255, 255, 255));
    EXPECT_EQ(none.pixel(4, 12), qRgb(0, 0, 0));
    // Its teal corner is transparent: the dialog's background shows.
    EXPECT_NE(QColor(none.pixel(30, 3)), QColor(0, 128, 128));
}

TEST_F(WaveDialog, AnInvalidFileIsRefusedWithAMessage) {
    TLumWaveOpenDialog d;
    bool stillOpen = false;
    RunDialog(d, [&](ui::FileDialog* fd) {
        lum::test::TypeName(fd, "fake.wav");
        fd->accept();
        stillOpen = fd->isVisible();
    });
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(ui_.service->Messages().size(), 1u);
    EXPECT_EQ(ui_.service->Messages()[0].text, "Invalid WaveFile...");
    // The save dialog takes any name.
    TLumWaveSaveDialog s;
    s.SetInitialDir(TheMedia().dir.Path().string());
    s.SetOptions(s.GetOptions().Include(ofNoChangeDir));
    WhenShown([&](ui::FileDialog* fd) {
        lum::test::TypeName(fd, "new.wav");
        fd->accept();
    });
    EXPECT_TRUE(s.Execute());
    EXPECT_EQ(ui_.service->Messages().size(), 1u);
}

TEST_F(WaveDialog, TheDestroyStepRunsOnce) {
    int destroyed = 0;
    {
        TLumWaveOpenDialog never;
        never.OnDestroy = [&](TLumCustomOpenDialog*) { ++destroyed; };
    }
    EXPECT_EQ(destroyed, 0);
    {
        TLumWaveOpenDialog d;
        d.OnDestroy = [&](TLumCustomOpenDialog*) { ++destroyed; };
        bool hadOutput = false;
        RunDialog(d, [&](ui::FileDialog* fd) {
            ASSERT_TRUE(Select(d, fd, "pcm16.wav"));
            hadOutput = d.GetWaveOut() != nullptr;
        });
        EXPECT_TRUE(hadOutput);
        EXPECT_EQ(destroyed, 1);
        EXPECT_EQ(d.GetWaveOut(), nullptr);
        EXPECT_EQ(d.GetWaveFile(), nullptr);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST_F(WavePlay, BufferSizesFollowTheFormatAndStayPut) {
    TLumWaveOpenDialog d;
    d.SetDeviceID(Virtual());
    std::vector<std::int64_t> sizes;
    RunDialog(d, [&](ui::FileDialog* fd) {
        ASSERT_TRUE(Select(d, fd, "pcm16.wav"));
        sizes.push_back(d.GetWaveOut()->GetBufferSize());
        ASSERT_TRUE(Select(d, fd, "pcm8.wav"));
        sizes.push_back(d.GetWaveOut()->GetBufferSize());
        ASSERT_TRUE(Select(d, fd, "fast.wav"));
        // 64000 Hz is beyond the rate steps: the base size, times 2 for
        // 16 bits, each time the selection is shown again.
        for (int i = 0; i < 3; ++i) {
            d.UpdatePlayParams();
            sizes.push_back(d.GetWaveOut()->GetBufferSize());
        }
    });
    EXPECT_EQ(sizes, (std::vector<std::int64_t>{2048, 512, 65536, 65536, 65536}));
}

TEST_F(WavePlay, PlayPutsTheFilesSamplesOnTheDevice) {
    TLumWaveOpenDialog d;
    d.SetDeviceID(Virtual());
    QStringList labels;
    RunDialog(d, [&](ui::FileDialog* fd) {
        ASSERT_TRUE(Select(d, fd, "pcm16.wav"));
        auto* play = Control<QPushButton>(fd, TLumWaveOpenDialog::idPlay);
        ASSERT_TRUE(play->isEnabled());
        play->click();
        // The start and stop notifications come back through the queue and
        // relabel the button.
        ASSERT_TRUE(QTest::qWaitFor([&] { return play->text() == "Stop"; }, 2000));
        labels << play->text();
        ASSERT_TRUE(QTest::qWaitFor([&] { return play->text() == "Play"; }, 3000));
        labels << play->text();
        EXPECT_FALSE(d.GetWaveOut()->IsPlaying());
    });
    EXPECT_EQ(labels, (QStringList{"Stop", "Play"}));
    EXPECT_EQ(Captured(), TheMedia().pcm16);
}

TEST_F(WavePlay, AnAdpcmFilePlaysDecoded) {
    if (!MakeAdpcm()) GTEST_SKIP() << kNoAdpcm;
    TLumWaveOpenDialog d;
    d.SetDeviceID(Virtual());
    d.SetAutoPlay(true);
    QString info;
    bool previewEnabled = true;
    RunDialog(d, [&](ui::FileDialog* fd) {
        ASSERT_TRUE(Select(d, fd, "adpcm.wav"));
        info = Control<QLabel>(fd, TLumWaveOpenDialog::idInfo)->text();
        previewEnabled = Control<QCheckBox>(fd, TLumWaveOpenDialog::idPreview)->isEnabled();
        // Auto Play started it on selection.
        ASSERT_TRUE(QTest::qWaitFor([&] { return d.GetWaveOut()->IsPlaying(); }, 2000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !d.GetWaveOut()->IsPlaying(); }, 3000));
    });
    EXPECT_TRUE(info.contains("ADPCM")) << info.toStdString();
    EXPECT_FALSE(previewEnabled); // waveforms are drawn for PCM only
    EXPECT_EQ(Captured(), TheMedia().adpcmDecoded);
}

TEST_F(WavePlay, AutoPlayStartsOnSelectionAndStopsWhenTurnedOff) {
    TLumWaveOpenDialog d;
    d.SetDeviceID(Virtual());
    bool started = false, stopped = false;
    RunDialog(d, [&](ui::FileDialog* fd) {
        auto* autoPlay = Control<QCheckBox>(fd, TLumWaveOpenDialog::idAutoPlay);
        autoPlay->click();
        EXPECT_TRUE(d.GetAutoPlay());
        ASSERT_TRUE(Select(d, fd, "pcm8.wav"));
        started = QTest::qWaitFor([&] { return d.GetWaveOut()->IsPlaying(); }, 2000);
        autoPlay->click();
        stopped = !d.GetWaveOut()->IsPlaying();
    });
    EXPECT_TRUE(started);
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(d.GetAutoPlay());
}

TEST_F(WavePlay, TheLocatorFollowsThePlayPosition) {
    TLumWaveOpenDialog d;
    d.SetDeviceID(Virtual());
    d.SetPreview(true);
    int before = -2, locator = -2, after = -2, width = 0;
    QRgb atLocator = 0, beside = 0;
    int locatorAtEnd = 0;
    RunDialog(d, [&](ui::FileDialog* fd) {
        ASSERT_TRUE(Select(d, fd, "pcm8.wav"));
        QWidget* wave = ui::GetDlgItem(fd->HookDialog(), TLumWaveOpenDialog::idWaveform);
        width = wave->width() - 4;
        const std::int32_t size = d.GetWaveFile()->GetWave()->GetDataSize();
        Control<QPushButton>(fd, TLumWaveOpenDialog::idPlay)->click();
        // A second of play: 8000 bytes of 8-bit mono at 8000 Hz.
        ASSERT_TRUE(QTest::qWaitFor([&] { return d.GetWaveOut()->GetPosition() >= 8000; }, 3000));
        const auto x = [&](std::int64_t pos) {
            return 2 + MulDiv32(width, static_cast<std::int32_t>(pos), size);
        };
        before = x(d.GetWaveOut()->GetPosition());
        QTest::qWait(80); // more than one tick of the locator's timer
        locator = d.GetLocatorPos();
        after = x(d.GetWaveOut()->GetPosition());
        // What the screen shows: the control's back buffer (a grab would
        // paint the control anew and drop the line).
        QImage shot;
        {
            auto surface = platform::gdi::FindWindowSurface(wave);
            ASSERT_TRUE(surface);
            auto lock = surface->Lock();
            shot = surface->Buffer().copy();
        }
        atLocator = shot.pixel(locator, wave->height() / 2 + 4);
        beside = shot.pixel(locator + 3, wave->height() / 2 + 4);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !d.GetWaveOut()->IsPlaying(); }, 3000));
        locatorAtEnd = d.GetLocatorPos();
    });
    EXPECT_GE(locator, before);
    EXPECT_LE(locator, after);
    EXPECT_GT(locator, 2 + width / 2); // past the middle after 1 of 1.5 s
    // The line is the locator colour XORed over the waveform's pixels.
    EXPECT_NE(atLocator, beside);
    EXPECT_EQ(qRed(atLocator) ^ qRed(beside), 255) << std::hex << atLocator << " " << beside;
    EXPECT_EQ(locatorAtEnd, -1);
}
