// The compression manager component as the window runs it: the module's
// choose dialogs driven offscreen (the lists, the first selection, the
// record chosen, cancel), whole-file conversion and file creation with the
// chosen format checked by ffmpeg, and the message box the window puts up
// for what the component has to say.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "app/subform.h"
#include "audio/lumacm.h"
#include "audio/lumacmdlg_comp.h"
#include "audio/lumwave.h"
#include "audio/lumwaveio.h"
#include "platform/ui/filedialog_driver.h"
#include "platform/ui/qtui.h"
#include "platform/ui/uiservice.h"
#include "support/testutil.h"

namespace fs = std::filesystem;
using namespace lum;

namespace {

struct Seen {
    QString title;
    QStringList groups;
    QString group; // the first selection
    QString item;
};

// Runs Call while, once the choose dialog is up, Act picks in it; what the
// dialog showed first lands in Seen.
template <class F>
auto WithDialog(F call, std::function<void(QDialog&)> act, Seen& seen) {
    QTimer::singleShot(0, [&seen, act] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (d == nullptr) {
            ADD_FAILURE() << "no dialog";
            return;
        }
        auto* g = d->findChild<QComboBox*>("ChooseGroup");
        auto* i = d->findChild<QComboBox*>("ChooseItem");
        seen.title = d->windowTitle();
        for (int k = 0; k < g->count(); ++k)
            seen.groups << g->itemText(k);
        seen.group = g->currentText();
        seen.item = i->currentText();
        act(*d);
    });
    return call();
}

// Picks the first item of Group that starts with Prefix, then OK.
std::function<void(QDialog&)> Pick(const QString& group, const QString& prefix) {
    return [group, prefix](QDialog& d) {
        auto* g = d.findChild<QComboBox*>("ChooseGroup");
        auto* i = d.findChild<QComboBox*>("ChooseItem");
        g->setCurrentIndex(g->findText(group));
        for (int k = 0; k < i->count(); ++k)
            if (i->itemText(k).startsWith(prefix)) {
                i->setCurrentIndex(k);
                d.findChild<QDialogButtonBox*>("ChooseButtons")
                    ->button(QDialogButtonBox::Ok)
                    ->click();
                return;
            }
        ADD_FAILURE() << "no " << prefix.toStdString() << " in " << group.toStdString();
        d.reject();
    };
}

void Cancel(QDialog& d) {
    d.findChild<QDialogButtonBox*>("ChooseButtons")->button(QDialogButtonBox::Cancel)->click();
}

std::string Probe(const std::string& file, const std::string& entries) {
    std::string out;
    test::Run("ffprobe -v error -show_entries stream=" + entries + " -of csv=p=0 " +
                  test::Quote(file),
              &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

struct Decoded {
    double seconds = 0;
    double frequency = 0;
    int peak = 0;
};

// ffmpeg's decode of File as 16-bit mono at its own rate: its length and
// the frequency of its tone from the rising zero crossings.
Decoded Decode(const std::string& file, int rate) {
    const std::string raw = file + ".raw";
    if (test::Run("ffmpeg -v error -y -i " + test::Quote(file) + " -f s16le -ac 1 " +
                  test::Quote(raw)) != 0)
        return {};
    const std::vector<std::uint8_t> b = test::ReadFile(raw);
    fs::remove(raw);
    std::vector<std::int16_t> s(b.size() / 2);
    for (std::size_t k = 0; k < s.size(); ++k)
        s[k] = static_cast<std::int16_t>(b[2 * k] | (b[2 * k + 1] << 8));
    int first = -1, last = -1, rises = 0;
    for (std::size_t k = 1; k < s.size(); ++k)
        if (s[k - 1] < 0 && s[k] >= 0) {
            if (first < 0) first = static_cast<int>(k);
            last = static_cast<int>(k);
            ++rises;
        }
    Decoded d;
    for (std::int16_t v : s)
        d.peak = std::max(d.peak, std::abs(int{v}));
    d.seconds = static_cast<double>(s.size()) / rate;
    if (rises > 1) d.frequency = (rises - 1) * static_cast<double>(rate) / (last - first);
    return d;
}

class ACMWindow : public ::testing::Test {
protected:
    // One second of a 500 Hz tone, 22.05 kHz 16-bit stereo, made once.
    static void SetUpTestSuite() {
        dir_ = new test::TempDir;
        source_ = dir_->File("tone.wav");
        if (test::HaveProgram("ffmpeg"))
            test::Run("ffmpeg -v error -y -f lavfi -i sine=f=500:d=1:r=22050 -ac 2 " +
                      test::Quote(source_));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    void SetUp() override {
        if (!test::HaveProgram("ffmpeg") || !test::HaveProgram("ffprobe"))
            GTEST_SKIP() << "ffmpeg is not installed";
        app::InitApplication();
        ASSERT_TRUE(acmIsUsable());
        acm_ = std::make_unique<TLumACM>();
        file_.GetWave()->SetFileName(source_);
        acm_->SetSource(&file_);
        out_ = tmp_.File("out.wav");
    }

    static test::TempDir* dir_;
    static std::string source_;
    test::TempDir tmp_;
    TLumWaveFile file_;
    std::unique_ptr<TLumACM> acm_;
    std::string out_;
};

test::TempDir* ACMWindow::dir_ = nullptr;
std::string ACMWindow::source_;

TEST_F(ACMWindow, ChooseFormatStartsAtTheGivenFormatAndKeepsTheChoice) {
    Seen seen;
    // Restricted to what the source converts to; the list opens on the
    // source's own format.
    acm_->SetEnumFormats(efConvert);
    const TWaveFormatEx* from = file_.GetWave()->GetPWaveFormat();
    ASSERT_TRUE(WithDialog([&] { return acm_->ChooseFormat(from, ""); },
                           Pick("CCITT u-Law", "22.050 kHz, 8 Bit, Stereo"), seen));
    EXPECT_EQ(seen.title, "Select...");
    EXPECT_EQ(seen.group, "PCM");
    EXPECT_TRUE(seen.item.startsWith("22.050 kHz, 16 Bit, Stereo")) << seen.item.toStdString();
    // GSM is mono only: nothing stereo PCM converts to directly.
    EXPECT_FALSE(seen.groups.contains("GSM 6.10"));
    EXPECT_TRUE(seen.groups.contains("CCITT u-Law"));
    const TWaveFormatEx* chosen = acm_->GetFormat();
    EXPECT_EQ(chosen->wFormatTag, 7);
    EXPECT_EQ(chosen->nChannels, 2);
    EXPECT_EQ(chosen->nSamplesPerSec, 22050u);
    EXPECT_EQ(chosen->wBitsPerSample, 8);

    // Cancelled: False; the buffer holds the format the dialog began with.
    Seen again;
    EXPECT_FALSE(WithDialog([&] { return acm_->ChooseFormat(from, "Target"); }, Cancel, again));
    EXPECT_EQ(again.title, "Target");
    EXPECT_EQ(acm_->GetFormat()->wFormatTag, 1);
}

TEST_F(ACMWindow, ChooseFilterKeepsTheChosenFilter) {
    ASSERT_GT(acm_->GetNumFilters(), 0u);
    Seen seen;
    ASSERT_TRUE(WithDialog([&] { return acm_->ChooseFilter(nullptr, "Filter"); },
                           Pick("Volume", "Volume 50%"), seen));
    EXPECT_EQ(seen.title, "Filter");
    const auto* f = reinterpret_cast<const acm::VOLUMEWAVEFILTER*>(acm_->GetFilter());
    EXPECT_EQ(f->wfltr.dwFilterTag, acm::WAVE_FILTER_VOLUME);
    EXPECT_EQ(f->dwVolume, 0x8000u);
}

TEST_F(ACMWindow, ConvertFileWritesTheChosenFormat) {
    // Stereo 22.05 kHz to mono 8 kHz GSM: a chain through intermediate PCM.
    Seen seen;
    ASSERT_TRUE(
        WithDialog([&] { return acm_->ConvertFile(out_); }, Pick("GSM 6.10", "8.000 kHz"), seen));
    EXPECT_EQ(Probe(out_, "codec_name,sample_rate,channels"), "gsm_ms,8000,1");
    const Decoded d = Decode(out_, 8000);
    EXPECT_NEAR(d.seconds, 1.0, 0.05);
    EXPECT_NEAR(d.frequency, 500, 5);

    // Cancelling the choice converts nothing and writes nothing.
    fs::remove(out_);
    EXPECT_FALSE(WithDialog([&] { return acm_->ConvertFile(out_); }, Cancel, seen));
    EXPECT_FALSE(fs::exists(out_));
}

TEST_F(ACMWindow, FilterFileAppliesTheChosenFilter) {
    Seen seen;
    ASSERT_TRUE(
        WithDialog([&] { return acm_->FilterFile(out_); }, Pick("Volume", "Volume 50%"), seen));
    EXPECT_EQ(Probe(out_, "codec_name,sample_rate,channels"), "pcm_s16le,22050,2");
    const Decoded before = Decode(source_, 22050), after = Decode(out_, 22050);
    EXPECT_NEAR(after.seconds, 1.0, 1e-6);
    EXPECT_NEAR(after.frequency, 500, 5);
    ASSERT_GT(before.peak, 1000);
    EXPECT_NEAR(after.peak, before.peak / 2, 2);
}

TEST_F(ACMWindow, CreateFileMakesAnEmptyFileOfTheChosenFormat) {
    Seen seen;
    ASSERT_TRUE(WithDialog([&] { return acm_->CreateFile(out_); },
                           Pick("IMA ADPCM", "22.050 kHz, 4 Bit, Mono"), seen));
    TLumWave* wave = file_.GetWave();
    ASSERT_TRUE(wave->IsWriting());
    EXPECT_EQ(wave->GetFormatTag(), 0x11);
    // Four blocks of silence (zero headers and codes) written into it.
    // The format goes with the block that closing the file frees.
    const int align = wave->GetPWaveFormat()->nBlockAlign;
    const std::vector<std::uint8_t> blocks(4u * static_cast<unsigned>(align), 0);
    ASSERT_EQ(wave->WriteDataBytes(blocks.data(), static_cast<std::int32_t>(blocks.size())),
              static_cast<std::int32_t>(blocks.size()));
    wave->CloseFile();
    EXPECT_EQ(Probe(out_, "codec_name,sample_rate,channels"), "adpcm_ima_wav,22050,1");
    // The samples per block of the header: (align - 4) * 2 + 1.
    const Decoded d = Decode(out_, 22050);
    EXPECT_NEAR(d.seconds, 4.0 * ((align - 4) * 2 + 1) / 22050, 1e-6);
}

TEST_F(ACMWindow, ManagerMessagesShowInTheWindowsMessageBox) {
    // Without the module the component says so once it is made: in a box
    // captioned with the program's title.
    test::HeadlessUi ui;
    const char* saved = std::getenv("LUM_ACM");
    const std::string keep = saved ? saved : "";
    acmShutdown();
    ::setenv("LUM_ACM", "", 1);
    app::InitApplication();
    std::vector<std::string> texts;
    {
        TLumACM absent;
        EXPECT_FALSE(absent.GetACMPresent());
        ASSERT_EQ(ui.service->Messages().size(), 1u);
        const auto& shown = ui.service->Messages()[0];
        EXPECT_EQ(shown.text, "The Audio Compression Manager (ACM) is not installed on this "
                              "system. Most features of this application will not be "
                              "available.");
        EXPECT_EQ(shown.caption, "SNAPREEL");
        EXPECT_EQ(shown.style & 0xF0, platform::ui::MB_ICONINFORMATION);

        // The real box, offscreen: its text, icon and OK.
        auto previous = platform::ui::InstallUiService(nullptr);
        platform::ui::InstallQtUiService();
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            text = box->text();
            icon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        TLumACM again;
        platform::ui::InstallUiService(std::move(previous));
        EXPECT_EQ(text.toStdString(), shown.text);
        EXPECT_EQ(icon, QMessageBox::Information);
    }
    acmShutdown();
    if (saved)
        ::setenv("LUM_ACM", keep.c_str(), 1);
    else
        ::unsetenv("LUM_ACM");
    app::InitApplication();
    // With the module nothing is said.
    TLumACM present;
    EXPECT_TRUE(present.GetACMPresent());
    EXPECT_EQ(ui.service->Messages().size(), 1u);
}

} // namespace
