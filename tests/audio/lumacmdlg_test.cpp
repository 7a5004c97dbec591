// Format builders, descriptions from the manager with their fallbacks, and
// formats kept in the registry, including stored values that must not be
// trusted.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "audio/lumacmdlg.h"
#include "audio/lumacmsup.h"
#include "audio/lumadpcm.h"
#include "audio/lumpcmsup.h"
#include "platform/registry/registry.h"

namespace lum {
namespace {

using platform::registry::HKEY_CURRENT_USER;

using Bytes = std::vector<std::uint8_t>;

struct Heap {
    explicit Heap(TWaveFormatEx* f) : fmt(f) {}
    ~Heap() { GlobalFreeMem(fmt); }
    TWaveFormatEx* fmt;
    const BYTE* Extra() const { return WaveFormatExtra(fmt); }
    int Word(int at) const { return Extra()[at] | Extra()[at + 1] << 8; }
};

TWaveFormatEx Pcm(int bits, int channels, int rate) {
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, bits, channels, rate);
    return f;
}

TEST(AcmBuilders, GsmHasAByteRateForEveryRate) {
    for (const auto& [rate, bytes] : std::vector<std::pair<int, DWORD>>{
             {8000, 1625}, {11025, 2239}, {22050, 4478}, {44100, 8957}, {16000, 3250}}) {
        Heap f(acmBuildGSM610Header(rate));
        ASSERT_NE(f.fmt, nullptr);
        EXPECT_EQ(f.fmt->nAvgBytesPerSec, bytes) << rate;
        EXPECT_EQ(f.fmt->wFormatTag, 49);
        EXPECT_EQ(f.fmt->nBlockAlign, 65);
        EXPECT_EQ(f.fmt->cbSize, 2);
        EXPECT_EQ(f.Word(0), 320);
    }
    EXPECT_EQ(acmBuildGSM610Header(0), nullptr);
}

TEST(AcmBuilders, FixedAndComputedRecords) {
    Heap ts(acmBuildTrueSpeechHeader());
    EXPECT_EQ(ts.fmt->wFormatTag, 34);
    EXPECT_EQ(ts.fmt->nAvgBytesPerSec, 1067u);
    EXPECT_EQ(ts.fmt->nBlockAlign, 32);
    EXPECT_EQ(ts.fmt->wBitsPerSample, 1);
    EXPECT_EQ(ts.fmt->cbSize, 32);
    EXPECT_EQ(ts.Word(0), 1);
    EXPECT_EQ(ts.Word(2), 240);

    Heap adpcm(acmBuildADPCMHeader(22050, 1));
    ASSERT_NE(adpcm.fmt, nullptr);
    EXPECT_TRUE(adpcmIsValidFormat(adpcm.fmt));
    EXPECT_EQ(adpcm.fmt->nBlockAlign, 512);
    EXPECT_EQ(acmBuildADPCMHeader(200000, 1), nullptr);

    // 64 kbit/s a channel, stereo: a 417-byte frame; the byte rate as the
    // record has always computed it.
    Heap mp2(acmBuildMPEG1Header(44100, 64000, 2));
    EXPECT_EQ(mp2.fmt->wFormatTag, 80);
    EXPECT_EQ(mp2.fmt->nBlockAlign, 417);
    EXPECT_EQ(mp2.fmt->nAvgBytesPerSec, 16417u);
    EXPECT_EQ(mp2.fmt->wBitsPerSample, 16);
    EXPECT_EQ(mp2.fmt->cbSize, 22);
    EXPECT_EQ(mp2.Word(0), 2);                                          // layer 2
    EXPECT_EQ(mp2.Word(2) | mp2.Word(4) << 16, 128000);                 // head bit rate
    EXPECT_EQ(mp2.Word(6), 2);                                          // joint stereo
    EXPECT_EQ(Heap(acmBuildMPEGHeader(2, 32000, 64000, 1)).Word(6), 8); // single channel

    Heap mp3(acmBuildMPEGHeader(3, 44100, 128000, 2));
    EXPECT_EQ(mp3.fmt->wFormatTag, 85);
    EXPECT_EQ(mp3.fmt->nAvgBytesPerSec, 16000u);
    EXPECT_EQ(mp3.fmt->nBlockAlign, 1);
    EXPECT_EQ(mp3.fmt->cbSize, 12);
    EXPECT_EQ(mp3.Word(6), 418); // the rounded frame length
    EXPECT_EQ(acmBuildMPEGHeader(1, 44100, 128000, 2), nullptr);
}

TEST(AcmBuilders, TheManagerWritesWhatTheBuildersDescribe) {
    ASSERT_TRUE(acmStartup());
    const TWaveFormatEx stereo = Pcm(16, 2, 44100), mono = Pcm(16, 1, 8000);
    Heap mp3(acmBuildMP3Header(44100, 128000, 2));
    Heap gsm(acmBuildGSM610Header(8000));
    Heap adpcm(acmBuildADPCMHeader(44100, 2));
    EXPECT_GE(acmSizeOutputData(&stereo, mp3.fmt, 44100 * 4), 16000);
    EXPECT_GE(acmSizeOutputData(&mono, gsm.fmt, 16000), 1625);
    EXPECT_GE(acmSizeOutputData(&stereo, adpcm.fmt, 44100 * 4), 44408);
}

TEST(AcmDescriptions, FromTheManagerOrTheWaveLayer) {
    ASSERT_TRUE(acmStartup());
    std::string tag, text;
    const TWaveFormatEx pcm = Pcm(16, 2, 44100);
    ASSERT_TRUE(acmGetFormatDescription(&pcm, tag, text));
    EXPECT_EQ(tag, "PCM");
    EXPECT_EQ(text, "44.100 kHz, 16 Bit, Stereo");
    Heap gsm(acmBuildGSM610Header(22050));
    ASSERT_TRUE(acmGetFormatDescription(gsm.fmt, tag, text));
    EXPECT_EQ(tag, "GSM 6.10");
    EXPECT_EQ(text, "22.050 kHz, Mono, 36 kbit/s");
    // A tag the manager does not know: the wave layer's texts.
    TWaveFormatEx odd = Pcm(16, 1, 8000);
    odd.wFormatTag = 0x21;
    ASSERT_TRUE(acmGetFormatDescription(&odd, tag, text));
    EXPECT_EQ(tag, "Sonarc");
    EXPECT_EQ(text, "8.000 kHz, 16 Bit, Mono");
    EXPECT_FALSE(acmGetFormatDescription(nullptr, tag, text));

    acm::VOLUMEWAVEFILTER v{{sizeof v, acm::WAVE_FILTER_VOLUME, 0, {}}, 0x4000};
    ASSERT_TRUE(acmGetFilterDescription(&v.wfltr, tag, text));
    EXPECT_EQ(tag, "Volume");
    EXPECT_EQ(text, "Volume 25%");
    v.wfltr.dwFilterTag = 77;
    EXPECT_FALSE(acmGetFilterDescription(&v.wfltr, tag, text));
    EXPECT_EQ(tag, "Unknown FilterTag");
    EXPECT_EQ(text, "Unknown Filter");
}

class AcmRegistry : public ::testing::Test {
protected:
    const std::string key = "Software\\Snapreel\\Tests\\Acm";
    void Store(const std::string& name, const Bytes& b) {
        SaveInRegistryBinary(HKEY_CURRENT_USER, key, name, b.data(),
                             static_cast<std::int32_t>(b.size()));
    }
    Bytes Of(const TWaveFormatEx* f, std::size_t n) {
        return Bytes(reinterpret_cast<const BYTE*>(f), reinterpret_cast<const BYTE*>(f) + n);
    }
};

TEST_F(AcmRegistry, FormatsComeBackAsStored) {
    Heap adpcm(acmBuildADPCMHeader(11025, 1));
    ASSERT_TRUE(acmSaveFormatToRegistry(adpcm.fmt, HKEY_CURRENT_USER, key, "adpcm"));
    Heap back(acmGetFormatFromRegistry(HKEY_CURRENT_USER, key, "adpcm"));
    ASSERT_NE(back.fmt, nullptr);
    EXPECT_EQ(std::memcmp(back.fmt, adpcm.fmt, kADPCMFormatSize), 0);

    // PCM is stored as its 18 bytes, whatever cbSize said.
    TWaveFormatEx pcm = Pcm(8, 1, 8000);
    pcm.cbSize = 40;
    ASSERT_TRUE(acmSaveFormatToRegistry(&pcm, HKEY_CURRENT_USER, key, "pcm"));
    EXPECT_EQ(GetFromRegistryBinary(HKEY_CURRENT_USER, key, "pcm", nullptr, 0), 18);
    Heap pcmBack(acmGetFormatFromRegistry(HKEY_CURRENT_USER, key, "pcm"));
    ASSERT_NE(pcmBack.fmt, nullptr);
    EXPECT_EQ(pcmBack.fmt->cbSize, 0);
}

TEST_F(AcmRegistry, UntrustworthyValuesGiveNone) {
    Heap gsm(acmBuildGSM610Header(8000));
    // Shorter than a format record.
    Store("short", Of(gsm.fmt, 10));
    // A format that claims more extra bytes than were stored.
    Bytes claims = Of(gsm.fmt, 20);
    claims[16] = 100;
    Store("claims", claims);
    // Larger than any format kept.
    Store("huge", Bytes(2000, 1));
    SaveInRegistry(HKEY_CURRENT_USER, key, "text", std::string("not a format"));
    for (const char* name : {"short", "claims", "huge", "text", "missing"})
        EXPECT_EQ(acmGetFormatFromRegistry(HKEY_CURRENT_USER, key, name), nullptr) << name;
    EXPECT_EQ(acmGetFormatFromRegistry(HKEY_CURRENT_USER, "Software\\Nowhere", "x"), nullptr);
}

} // namespace
} // namespace lum
