// TLumACM over the compression manager module: counts and enumeration,
// whole-file conversion with the INFO kept, cancel and failures that leave
// the target and its folder as they were.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "audio/lumacmdlg.h"
#include "audio/lumacmdlg_comp.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwave.h"
#include "audio/lumwaveio.h"
#include "platform/base/bytestream.h"
#include "support/testutil.h"

namespace lum {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A second of a 16-bit stereo tone at 22050 Hz, titled.
void MakeTone(const std::string& path) {
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, 16, 2, 22050);
    Bytes data;
    for (int i = 0; i < 22050; ++i)
        for (int c = 0; c < 2; ++c) {
            const auto v =
                static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * 500 * i / 22050.0));
            data.push_back(static_cast<std::uint8_t>(v));
            data.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    PWAVEIOCB cb = nullptr;
    ASSERT_EQ(wioCreateFileInfo(cb, &f), WIOERR_NOERROR);
    const std::string plain = path + ".plain.wav";
    ASSERT_EQ(wioWriteFileInfo(cb, plain.c_str()), WIOERR_NOERROR);
    ASSERT_EQ(wioWaveWriteData(cb, data.data(), static_cast<std::int32_t>(data.size())),
              static_cast<std::int32_t>(data.size()));
    ASSERT_EQ(wioWaveClose(cb), WIOERR_NOERROR);
    wioFreeFileInfo(cb);
    TLumWave wave;
    wave.SetFileName(plain);
    wave.SetInfoChunk("INAM", "Kept");
    wave.SaveToFile(path);
    wave.FreeWave();
    fs::remove(plain);
}

std::size_t FilesIn(const std::string& dir) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

class ACMComponent : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(acmStartup()) << "LUM_ACM: " << (std::getenv("LUM_ACM") ?: "");
        in_ = dir_.File("in.wav");
        MakeTone(in_);
        file_.GetWave()->SetFileName(in_);
        acm_.SetSource(&file_);
    }
    test::TempDir dir_;
    std::string in_;
    TLumWaveFile file_;
    TLumACM acm_;
};

TEST_F(ACMComponent, CountsAndEnumeratesTheModulesFormats) {
    EXPECT_TRUE(acm_.GetACMPresent());
    EXPECT_GT(acm_.GetNumDrivers(), 0u);
    EXPECT_GT(acm_.GetNumCodecs() + acm_.GetNumConverters(), 0u);
    EXPECT_EQ(acm_.GetTitle(), "Select...");
    int seen = 0;
    bool all_gsm = true;
    acm_.OnFormatEnum = [&](TLumACM*, const TWaveFormatEx* f, const std::string& text,
                            bool& go_on) {
        all_gsm = all_gsm && f->wFormatTag == WAVE_FORMAT_GSM610 && !text.empty();
        go_on = ++seen < 2;
    };
    EXPECT_TRUE(acm_.EnumerateFormats(WAVE_FORMAT_GSM610));
    // The handler ended it after two.
    EXPECT_EQ(seen, 2);
    EXPECT_TRUE(all_gsm);
}

TEST_F(ACMComponent, ProcessFileReplacesTheTargetKeepingInfo) {
    const std::string out = dir_.File("out.wav");
    test::WriteFile(out, {1, 2, 3});
    fs::permissions(out, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    TWaveFormatEx* gsm = acmBuildGSM610Header(8000);
    // Stereo 22050 Hz to mono 8000 Hz GSM: through intermediate PCM.
    ASSERT_TRUE(acm_.QueryConvert(gsm, nullptr));
    std::int64_t last = 0, total = 0;
    file_.GetWave()->OnProgress = [&](TLumWave*, std::int64_t done, std::int64_t all, bool&) {
        EXPECT_GE(done, last);
        last = done;
        total = all;
    };
    EXPECT_TRUE(acm_.ProcessFile(out, gsm, nullptr));
    EXPECT_EQ(last, total);
    EXPECT_EQ(total, 22050 * 4);
    TLumWave result;
    result.SetFileName(out);
    EXPECT_EQ(result.GetFormatTag(), WAVE_FORMAT_GSM610);
    // A second at 8000 Hz in blocks of 320 samples and 65 bytes.
    PWAVEIOCB cb = nullptr;
    ASSERT_EQ(wioReadFileInfo(cb, out.c_str(), kFormWAVE, WIO_DISKFILE), WIOERR_NOERROR);
    EXPECT_EQ(cb->DataBytes, 25 * 65);
    wioFreeFileInfo(cb);
    EXPECT_EQ(result.GetInfoChunk("INAM"), "Kept");
    EXPECT_EQ(fs::status(out).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(FilesIn(dir_.Path()), 2u);
    GlobalFreeMem(gsm);
}

TEST_F(ACMComponent, CancelAndFailureLeaveTheTargetAndNoTemporaryFile) {
    const std::string out = dir_.File("out.wav");
    test::WriteFile(out, {1, 2, 3});
    TWaveFormatEx* gsm = acmBuildGSM610Header(8000);
    int calls = 0;
    file_.GetWave()->OnProgress = [&](TLumWave*, std::int64_t, std::int64_t, bool& cancel) {
        cancel = ++calls == 1;
    };
    try {
        acm_.ProcessFile(out, gsm, nullptr);
        ADD_FAILURE() << "no error";
    } catch (const ELumACMError& e) {
        EXPECT_EQ(e.Message(), "Conversion aborted!");
    }
    EXPECT_EQ(test::ReadFile(out), (Bytes{1, 2, 3}));
    EXPECT_EQ(FilesIn(dir_.Path()), 2u);

    // A format nothing converts to.
    TWaveFormatEx odd{};
    odd.wFormatTag = 0x7777;
    odd.nChannels = 1;
    odd.nSamplesPerSec = 8000;
    odd.nBlockAlign = 1;
    odd.nAvgBytesPerSec = 8000;
    EXPECT_FALSE(acm_.QueryConvert(&odd, nullptr));
    EXPECT_THROW(acm_.ProcessFile(out, &odd, nullptr), ELumACMError);
    // Nothing to do: no name, no source.
    EXPECT_FALSE(acm_.ProcessFile("", gsm, nullptr));
    acm_.SetSource(nullptr);
    EXPECT_FALSE(acm_.ProcessFile(out, gsm, nullptr));
    EXPECT_EQ(test::ReadFile(out), (Bytes{1, 2, 3}));
    EXPECT_EQ(FilesIn(dir_.Path()), 2u);
    GlobalFreeMem(gsm);
}

TEST_F(ACMComponent, MemoryWaveConvertsFromItsImage) {
    // Loaded from a stream: no file behind it.
    const Bytes image = test::ReadFile(in_);
    auto stream = platform::MemoryStream::View(
        {reinterpret_cast<const std::byte*>(image.data()), image.size()});
    TLumMemoryWave memory;
    memory.GetWave()->LoadFromStream(*stream);
    ASSERT_TRUE(memory.GetWave()->GetFileName().empty());
    fs::remove(in_);
    acm_.SetSource(&memory);
    std::int64_t last = 0;
    memory.GetWave()->OnProgress = [&](TLumWave*, std::int64_t done, std::int64_t, bool&) {
        last = done;
    };
    TWaveFormatEx* gsm = acmBuildGSM610Header(8000);
    const std::string out = dir_.File("out.wav");
    ASSERT_TRUE(acm_.ProcessFile(out, gsm, nullptr));
    EXPECT_EQ(last, 22050 * 4);
    PWAVEIOCB cb = nullptr;
    ASSERT_EQ(wioReadFileInfo(cb, out.c_str(), kFormWAVE, WIO_DISKFILE), WIOERR_NOERROR);
    EXPECT_EQ(cb->Format.wFormatTag, WAVE_FORMAT_GSM610);
    EXPECT_EQ(cb->DataBytes, 25 * 65);
    wioFreeFileInfo(cb);
    TLumWave result;
    result.SetFileName(out);
    EXPECT_EQ(result.GetInfoChunk("INAM"), "Kept");
    // An empty memory wave has nothing to convert.
    memory.GetWave()->FreeWave();
    EXPECT_FALSE(acm_.ProcessFile(out, gsm, nullptr));
    GlobalFreeMem(gsm);
}

// The 16-bit samples of a wave file.
std::vector<std::int16_t> Samples(const std::string& path) {
    PWAVEIOCB cb = nullptr;
    std::vector<std::int16_t> out;
    if (wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE) != WIOERR_NOERROR) return out;
    if (wioWaveOpen(cb) == WIOERR_NOERROR) {
        out.resize(static_cast<std::size_t>(cb->DataBytes) / 2);
        const std::int32_t n =
            wioWaveReadData(cb, out.data(), static_cast<std::int32_t>(out.size() * 2));
        out.resize(n > 0 ? static_cast<std::size_t>(n) / 2 : 0);
        wioWaveClose(cb);
    }
    wioFreeFileInfo(cb);
    return out;
}

TEST_F(ACMComponent, ProcessFileAppliesTheFilter) {
    acm::VOLUMEWAVEFILTER half{};
    half.wfltr.cbStruct = sizeof half;
    half.wfltr.dwFilterTag = acm::WAVE_FILTER_VOLUME;
    half.dwVolume = 0x8000;
    ASSERT_TRUE(acm_.QueryConvert(nullptr, &half.wfltr));
    const std::string out = dir_.File("out.wav");
    ASSERT_TRUE(acm_.ProcessFile(out, nullptr, &half.wfltr));
    const std::vector<std::int16_t> before = Samples(in_), after = Samples(out);
    ASSERT_EQ(after.size(), before.size());
    ASSERT_EQ(before.size(), 22050u * 2);
    int off = 0;
    for (std::size_t i = 0; i < before.size(); ++i)
        off += std::abs(after[i] - before[i] / 2) > 1;
    EXPECT_EQ(off, 0);
    // A filter reaches no other format.
    TWaveFormatEx mono{};
    pcmBuildWaveHeader(&mono, 16, 1, 22050);
    EXPECT_FALSE(acm_.QueryConvert(&mono, &half.wfltr));
    EXPECT_THROW(acm_.ProcessFile(out, &mono, &half.wfltr), ELumACMError);
    EXPECT_EQ(Samples(out).size(), before.size());
}

TEST_F(ACMComponent, ChooseDialogsWithoutADisplayFailWithTheirCode) {
    // No QApplication here: the module cannot show its dialog and says
    // "not supported" (8), which is neither a choice nor a cancel.
    try {
        acm_.ChooseFormat(file_.GetWave()->GetPWaveFormat(), "");
        ADD_FAILURE() << "no error";
    } catch (const ELumACMError& e) {
        EXPECT_EQ(e.Message(), "acmFormatChoose failed with error 8");
    }
    try {
        acm_.ChooseFilter(nullptr, "");
        ADD_FAILURE() << "no error";
    } catch (const ELumACMError& e) {
        EXPECT_EQ(e.Message(), "acmFilterChoose failed with error 8");
    }
    // ConvertFile goes no further than the choice.
    const std::string out = dir_.File("out.wav");
    EXPECT_THROW(acm_.ConvertFile(out), ELumACMError);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(ACMComponent, AFreedSourceIsForgotten) {
    auto* file = new TLumWaveFile;
    acm_.SetSource(file);
    delete file;
    EXPECT_EQ(acm_.GetSource(), nullptr);
}

} // namespace
} // namespace lum
