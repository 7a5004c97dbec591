// The format and filter choose dialogs, driven headless: the lists follow
// the enumeration restrictions, the first selection follows the given
// record, OK returns the chosen record and its texts, Cancel returns 515.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "platform/acm/acmtest.h"

namespace lum::platform::acm::test {
namespace {

struct Seen {
    QString title;
    QStringList groups;
    QStringList items;
    int group = -1;
    int item = -1;
};

// Runs Choose while, once the dialog is up, Act looks at it and ends it.
template <class F>
MMRESULT Drive(F choose, std::function<void(QDialog&, Seen&)> act, Seen& seen) {
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            ADD_FAILURE() << "no dialog";
            return;
        }
        seen.title = dialog->windowTitle();
        auto* g = dialog->findChild<QComboBox*>("ChooseGroup");
        auto* i = dialog->findChild<QComboBox*>("ChooseItem");
        for (int k = 0; k < g->count(); ++k)
            seen.groups << g->itemText(k);
        seen.group = g->currentIndex();
        seen.item = i->currentIndex();
        act(*dialog, seen);
    });
    return choose();
}

void Select(QDialog& d, const QString& group, const QString& item) {
    auto* g = d.findChild<QComboBox*>("ChooseGroup");
    auto* i = d.findChild<QComboBox*>("ChooseItem");
    g->setCurrentIndex(g->findText(group));
    i->setCurrentIndex(i->findText(item));
}

void Press(QDialog& d, QDialogButtonBox::StandardButton which) {
    d.findChild<QDialogButtonBox*>("ChooseButtons")->button(which)->click();
}

class AcmChoose : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Acm().handle) GTEST_FAIL() << "the module (LUM_ACM) did not load";
    }
};

TEST_F(AcmChoose, FormatChosenComesBackWithItsTexts) {
    Bytes record(256);
    ACMFORMATCHOOSEA c{};
    c.cbStruct = sizeof c;
    c.pwfx = reinterpret_cast<WAVEFORMATEX*>(record.data());
    c.cbwfx = static_cast<DWORD>(record.size());
    c.pszTitle = "Pick one";
    Seen seen;
    const MMRESULT r = Drive([&] { return Acm().FormatChoose(&c); },
                             [](QDialog& d, Seen&) {
                                 Select(d, "GSM 6.10", "11.025 kHz, Mono, 18 kbit/s");
                                 Press(d, QDialogButtonBox::Ok);
                             },
                             seen);
    ASSERT_EQ(r, MMSYSERR_NOERROR);
    EXPECT_EQ(seen.title, "Pick one");
    // Decode-only tags have no formats to choose and are left out.
    EXPECT_TRUE(seen.groups.contains("PCM") && seen.groups.contains("MPEG Layer-3"));
    EXPECT_FALSE(seen.groups.contains("Dolby AC-3"));
    EXPECT_EQ(c.pwfx->wFormatTag, 0x31);
    EXPECT_EQ(c.pwfx->nSamplesPerSec, 11025u);
    EXPECT_EQ(c.pwfx->nAvgBytesPerSec, 2239u);
    EXPECT_STREQ(c.szFormatTag, "GSM 6.10");
    EXPECT_STREQ(c.szFormat, "11.025 kHz, Mono, 18 kbit/s");
}

TEST_F(AcmChoose, CancelGives515AndLeavesTheRecord) {
    WAVEFORMATEX f = Pcm(16, 2, 44100);
    ACMFORMATCHOOSEA c{};
    c.cbStruct = sizeof c;
    c.pwfx = &f;
    c.cbwfx = sizeof f;
    c.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    Seen seen;
    const MMRESULT r = Drive([&] { return Acm().FormatChoose(&c); },
                             [](QDialog& d, Seen&) { Press(d, QDialogButtonBox::Cancel); }, seen);
    EXPECT_EQ(r, ACMERR_CANCELED);
    EXPECT_EQ(seen.title, "Sound Selection");
    // The first selection was the record given.
    EXPECT_EQ(seen.groups.value(seen.group), "PCM");
    const WAVEFORMATEX same = Pcm(16, 2, 44100);
    EXPECT_EQ(std::memcmp(&f, &same, sizeof f), 0);
    EXPECT_GE(seen.item, 0);
}

TEST_F(AcmChoose, RestrictionsShapeTheLists) {
    // Only what 8 kHz mono PCM converts to, and room for 18-byte records
    // only: PCM, A-law and mu-law remain (GSM needs 20 bytes).
    WAVEFORMATEX f{};
    const WAVEFORMATEX source = Pcm(16, 1, 8000);
    ACMFORMATCHOOSEA c{};
    c.cbStruct = sizeof c;
    c.pwfx = &f;
    c.cbwfx = sizeof f;
    c.fdwEnum = ACM_FORMATENUMF_CONVERT;
    c.pwfxEnum = const_cast<WAVEFORMATEX*>(&source);
    Seen seen;
    const MMRESULT r = Drive([&] { return Acm().FormatChoose(&c); },
                             [](QDialog& d, Seen&) {
                                 Select(d, "CCITT A-Law", "8.000 kHz, 8 Bit, Mono, 64 kbit/s");
                                 Press(d, QDialogButtonBox::Ok);
                             },
                             seen);
    ASSERT_EQ(r, MMSYSERR_NOERROR);
    EXPECT_EQ(seen.groups, (QStringList{"PCM", "CCITT A-Law", "CCITT u-Law"}));
    EXPECT_EQ(f.wFormatTag, 6);
    EXPECT_EQ(f.nSamplesPerSec, 8000u);
    // A restriction without its record is refused before anything shows.
    c.pwfxEnum = nullptr;
    EXPECT_EQ(Acm().FormatChoose(&c), MMSYSERR_INVALPARAM);
}

TEST_F(AcmChoose, FilterChosen) {
    VOLUMEWAVEFILTER v{};
    ACMFILTERCHOOSEA c{};
    c.cbStruct = sizeof c;
    c.pwfltr = &v.wfltr;
    c.cbwfltr = sizeof v;
    Seen seen;
    const MMRESULT r = Drive([&] { return Acm().FilterChoose(&c); },
                             [](QDialog& d, Seen&) {
                                 Select(d, "Volume", "Volume 150%");
                                 Press(d, QDialogButtonBox::Ok);
                             },
                             seen);
    ASSERT_EQ(r, MMSYSERR_NOERROR);
    EXPECT_EQ(seen.title, "Filter Selection");
    EXPECT_EQ(v.wfltr.dwFilterTag, WAVE_FILTER_VOLUME);
    EXPECT_EQ(v.dwVolume, 0x18000u);
    EXPECT_STREQ(c.szFilter, "Volume 150%");
    // A buffer too small for any filter leaves nothing to choose.
    c.cbwfltr = sizeof(WAVEFILTER);
    EXPECT_EQ(Acm().FilterChoose(&c), ACMERR_NOTPOSSIBLE);
}

} // namespace
} // namespace lum::platform::acm::test
