// Format sizes, the three rounding rules of the sample arithmetic, formats
// the arithmetic cannot divide by, and the format texts.
#include <gtest/gtest.h>

#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "audio/wavetest.h"
#include "platform/registry/registry.h"

namespace lum {
namespace {

TWaveFormatEx Format(WORD tag, WORD channels, DWORD rate, DWORD avg, WORD align, WORD bits,
                     WORD cb = 0) {
    return TWaveFormatEx{tag, channels, rate, avg, align, bits, cb};
}

TEST(WaveFormatSize, PcmIsAlways18Bytes) {
    const TWaveFormatEx pcm = Format(1, 2, 44100, 176400, 4, 16, 22);
    EXPECT_EQ(wioSizeOfWaveFormat(&pcm), 18);
    EXPECT_EQ(wioSizeOfWaveFormat(nullptr), 0);
    TWaveFormatEx* copy = wioCopyWaveFormat(&pcm);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(GlobalMemSize(copy), 18u);
    EXPECT_EQ(copy->cbSize, 0);
    EXPECT_EQ(copy->nAvgBytesPerSec, 176400u);
    GlobalFreeMem(copy);

    struct {
        TWaveFormatEx f;
        BYTE extra[4];
    } ima{Format(0x11, 1, 8000, 4055, 256, 4, 2), {0xF9, 0x01, 0xEE, 0xEE}};
    EXPECT_EQ(wioSizeOfWaveFormat(&ima.f), 20);
    copy = wioCopyWaveFormat(&ima.f);
    ASSERT_EQ(GlobalMemSize(copy), 20u);
    EXPECT_EQ(WaveFormatExtra(copy)[1], 0x01);
    GlobalFreeMem(copy);
    EXPECT_EQ(wioCopyWaveFormat(nullptr), nullptr);
}

TEST(WaveArithmetic, RoundsHalvesAwayFromZeroAndBytesUpToBlocks) {
    const TWaveFormatEx cd = Format(1, 2, 44100, 176400, 4, 16);
    EXPECT_EQ(wioBytesToSamples(&cd, 176400), 44100);
    EXPECT_EQ(wioBytesToTime(&cd, 176400), 1000);
    EXPECT_EQ(wioSamplesToBytes(&cd, 44100), 176400);
    EXPECT_EQ(wioSamplesToTime(&cd, 67), 2); // 1.519 ms
    EXPECT_EQ(wioTimeToSamples(&cd, 1), 44); // 44.1
    EXPECT_EQ(wioTimeToBytes(&cd, 1), 176);
    EXPECT_EQ(wioBytesPerSample(&cd), 4);
    EXPECT_EQ(wioBytesToSamples(&cd, 6), 2); // 1.5 rounds up
    EXPECT_EQ(wioBytesToSamples(&cd, -6), -2);

    // A block format: byte results are whole blocks, rounded up.
    const TWaveFormatEx ima = Format(0x11, 1, 8000, 4055, 256, 4);
    EXPECT_EQ(wioSamplesToBytes(&ima, 1), 256);
    EXPECT_EQ(wioSamplesToBytes(&ima, 506), 256); // 256.48 bytes
    EXPECT_EQ(wioSamplesToBytes(&ima, 507), 512); // 256.98 bytes
    EXPECT_EQ(wioTimeToBytes(&ima, 1000), 4096);
    EXPECT_EQ(wioBytesPerSample(&ima), 256);
}

TEST(WaveArithmetic, SixtyFourBitTwinsTruncateAndReachPastTwoGigabytes) {
    const TWaveFormatEx cd = Format(1, 2, 44100, 176400, 4, 16);
    EXPECT_EQ(wioSamplesToTime64(&cd, 67), 1);
    const std::int64_t tenHours = 36000LL * 176400;
    EXPECT_EQ(wioBytesToSamples64(&cd, tenHours), 36000LL * 44100);
    EXPECT_EQ(wioBytesToTime64(&cd, tenHours), 36000000LL);
    EXPECT_EQ(wioSamplesToBytes64(&cd, 36000LL * 44100), tenHours);
    EXPECT_EQ(wioTimeToSamples64(&cd, 36000000LL), 36000LL * 44100);
    EXPECT_EQ(wioTimeToBytes64(&cd, 36000000LL), tenHours);
    const TWaveFormatEx ima = Format(0x11, 1, 8000, 4055, 256, 4);
    EXPECT_EQ(wioSamplesToBytes64(&ima, 507), 256); // 256.98 truncated
    EXPECT_EQ(wioSamplesToBytes64(&ima, 508), 512);
}

TEST(WaveArithmetic, FormatsWithoutRatesGiveZeroInsteadOfRaising) {
    const TWaveFormatEx none = Format(2, 1, 0, 0, 0, 4);
    EXPECT_EQ(wioBytesToSamples(&none, 1000), 0);
    EXPECT_EQ(wioBytesToTime(&none, 1000), 0);
    EXPECT_EQ(wioSamplesToBytes(&none, 1000), 0);
    EXPECT_EQ(wioSamplesToTime(&none, 1000), 0);
    EXPECT_EQ(wioBytesToSamples64(&none, 1000), 0);
    EXPECT_EQ(wioSamplesToTime64(&none, 1000), 0);
    EXPECT_EQ(wioBytesToSamples(nullptr, 1000), 0);
    // A quotient beyond 32 bits saturates instead of raising.
    const TWaveFormatEx slow = Format(1, 1, 1, 1, 1, 8);
    EXPECT_EQ(wioBytesToTime(&slow, INT32_MAX), INT32_MAX);
    EXPECT_EQ(wioBytesToTime(&slow, INT32_MIN), INT32_MIN);
    EXPECT_EQ(wioSamplesToTime64(&slow, INT64_MAX / 10), INT64_MAX);
    std::string text;
    wioGetFormat(&none, text);
    EXPECT_EQ(text, "0.000 kHz, 0 Bit, Mono");
}

TEST(WaveArithmetic, ByteRateOfTheBlockRoundsTiesToEven) {
    PWAVEIOCB cb = nullptr;
    const TWaveFormatEx f = Format(1, 1, 2, 4, 1, 8);
    ASSERT_EQ(wioCreateFileInfo(cb, &f), WIOERR_NOERROR);
    // Without a byte rate the plain rule: 0.5 and 2.5 away from zero.
    EXPECT_EQ(wioBytesToSamplesEx(cb, 1), 1);
    EXPECT_EQ(wioBytesToSamplesEx(cb, 5), 3);
    cb->ByteRate = 4.0;
    EXPECT_EQ(wioBytesToSamplesEx(cb, 1), 0);
    EXPECT_EQ(wioBytesToSamplesEx(cb, 3), 2);
    EXPECT_EQ(wioBytesToSamplesEx(cb, 5), 2);
    EXPECT_EQ(wioBytesToTimeEx(cb, 2), 500);
    EXPECT_EQ(wioSamplesToBytesEx(cb, 3), 6);
    EXPECT_EQ(wioTimeToBytesEx(cb, 1000), 4);
    cb->ByteRate = 1000.0;
    cb->Format.nSamplesPerSec = 8000;
    EXPECT_EQ(wioSamplesToTimeEx(cb, 4), 0);  // 0.5 ms
    EXPECT_EQ(wioSamplesToTimeEx(cb, 12), 2); // 1.5 ms
    EXPECT_EQ(wioTimeToSamplesEx(cb, 3), 24);
    wioFreeFileInfo(cb);
    EXPECT_EQ(wioBytesToSamplesEx(nullptr, 1), 0);
}

TEST(WaveFormatText, NamesInTableOrder) {
    std::string name;
    const std::vector<std::pair<WORD, std::string>> names = {
        {0x11, "IMA ADPCM"},        {0x209, "Dolby AC2"},   {0x30, "Dolby AC2"},
        {3, "Mediavision's ADPCM"}, {0x55, "MPEG Layer-3"}, {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
        {0x1234, "Unknown"},        {0, "Unknown"},         {0x31, "GSM 6.10"}};
    for (const auto& [tag, expected] : names) {
        const TWaveFormatEx f = Format(tag, 1, 8000, 8000, 1, 8);
        wioGetFormatName(&f, name);
        EXPECT_EQ(name, expected) << tag;
    }
    wioGetFormatName(nullptr, name);
    EXPECT_EQ(name, "Unknown");
}

TEST(WaveFormatText, DescriptionWithTheUsersSeparators) {
    using namespace platform::registry;
    std::string text;
    const TWaveFormatEx cd = Format(1, 2, 44100, 176400, 4, 16);
    const TWaveFormatEx phone = Format(1, 1, 8000, 8000, 1, 8);
    const TWaveFormatEx six = Format(1, 6, 48000, 576000, 12, 16);
    wioGetFormat(&cd, text);
    EXPECT_EQ(text, "44.100 kHz, 16 Bit, Stereo");
    wioGetFormat(&phone, text);
    EXPECT_EQ(text, "8.000 kHz, 8 Bit, Mono");
    wioGetFormat(&six, text);
    EXPECT_EQ(text, "48.000 kHz, 16 Bit, 6 Channels");
    wioGetFormat(nullptr, text);
    EXPECT_EQ(text, "Unknown");

    HKEY key = 0;
    ASSERT_EQ(
        RegCreateKeyEx(HKEY_CURRENT_USER, "Control Panel\\International", 0, KEY_ALL_ACCESS, &key),
        ERROR_SUCCESS);
    const BYTE list[] = ";";
    const BYTE decimal[] = ",";
    RegSetValueEx(key, "sList", 0, REG_SZ, list, 2);
    RegSetValueEx(key, "sDecimal", 0, REG_SZ, decimal, 2);
    wioGetFormat(&cd, text);
    EXPECT_EQ(text, "44,100 kHz; 16 Bit; Stereo");
    // Values no longer set leave the last ones read.
    RegDeleteValue(key, "sList");
    RegDeleteValue(key, "sDecimal");
    RegCloseKey(key);
    wioGetFormat(&phone, text);
    EXPECT_EQ(text, "8,000 kHz; 8 Bit; Mono");
}

} // namespace
} // namespace lum
