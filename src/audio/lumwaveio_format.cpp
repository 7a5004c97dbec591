// Format sizes, sample arithmetic and format texts of the wave file layer.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "audio/audioheap.h"
#include "audio/lumwaveio.h"
#include "core/lummuldiv.h"
#include "platform/base/exception.h"
#include "platform/registry/registry.h"

namespace lum {

namespace {

std::int32_t Saturate(std::int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

// MulDiv32RN without its exceptions: a zero divisor gives 0 (the format
// cannot be divided by) and a quotient beyond 32 bits saturates.
std::int32_t MulDivRN(std::int32_t a, std::int32_t b, std::int32_t c) {
    if (c == 0) return 0;
    const std::int64_t q = static_cast<std::int64_t>(a) * b / c;
    if (q >= INT32_MAX || q <= INT32_MIN) return Saturate(q);
    return MulDiv32RN(a, b, c);
}

std::int64_t MulDiv64Safe(std::int64_t a, std::int64_t b, std::int64_t c) {
    if (c == 0) return 0;
    try {
        return MulDiv64(a, b, c);
    } catch (const EIntDivision&) {
        return ((a < 0) != (b < 0)) != (c < 0) ? INT64_MIN : INT64_MAX;
    }
}

std::int32_t Rate(const TWaveFormatEx* f) {
    return static_cast<std::int32_t>(f->nSamplesPerSec);
}
std::int32_t AvgRate(const TWaveFormatEx* f) {
    return static_cast<std::int32_t>(f->nAvgBytesPerSec);
}

// Up to a multiple of nBlockAlign (a division that truncates toward zero,
// as the platform's div).
std::int64_t ToBlocks64(const TWaveFormatEx* f, std::int64_t x) {
    const std::int64_t align = f->nBlockAlign;
    if (align <= 1) return x;
    if (x > INT64_MAX - align) return x;
    return align * ((x + align - 1) / align);
}

std::int32_t ToBlocks(const TWaveFormatEx* f, std::int32_t x) {
    return Saturate(ToBlocks64(f, x));
}

// Real arithmetic of the Ex conversions: to nearest, ties to even.
std::int32_t RoundReal(long double v) {
    if (!std::isfinite(v)) return 0;
    return Saturate(
        static_cast<std::int64_t>(std::nearbyintl(std::fmax(std::fmin(v, 9.2e18L), -9.2e18L))));
}

struct TagName {
    WORD tag;
    const char* name;
};

// Searched in this order; the first match wins.
const TagName kTagNames[] = {
    {0x0000, "Unknown"},
    {0x0001, "PCM"},
    {0x020C, "PCM 32"},
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "Mediavision's ADPCM"},
    {0x0005, "IBM CVSD"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT mu-Law"},
    {0x0010, "OKI ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0012, "Mediaspace's ADPCM"},
    {0x0013, "Sierra's ADPCM"},
    {0x0014, "CCITT G.723 ADPCM"},
    {0x0015, "Digisound DIGISTD"},
    {0x0016, "Digisound DIGIFIX"},
    {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0021, "Sonarc"},
    {0x0022, "DSP Group's Truespeech"},
    {0x0023, "Echo SC1"},
    {0x0024, "Audiofile AF36"},
    {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"},
    {0x0030, "Dolby AC2"},
    {0x0209, "Dolby AC2"},
    {0x0031, "GSM 6.10"},
    {0x0033, "Antex ADPCME"},
    {0x0039, "CS IMA ADPCM"},
    {0x0040, "CCITT G.721 ADPCM"},
    {0x0050, "MPEG 1"},
    {0x0055, "MPEG Layer-3"},
    {0x0200, "Creative's ADPCM"},
    {0x1001, "Olivetti's ADPCM"},
    {0x0204, "CDI-C"},
    {0x0205, "CDI-B"},
    {0x0206, "Antex-DVI-OKI ADPCME"},
    {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
};

// The international separators, one character each. A value that is not
// set leaves the last one read.
std::mutex gIntlMutex;
char gListSeparator = ',';
char gDecimalSeparator = '.';

void ReadIntlSetting(platform::registry::HKEY key, const char* name, char& value) {
    using namespace platform::registry;
    BYTE data[16];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegQueryValueEx(key, name, nullptr, &type, data, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size >= 1 && data[0] != 0)
        value = static_cast<char>(data[0]);
}

void ReadIntlSeparators(char& list, char& decimal) {
    using namespace platform::registry;
    std::lock_guard lock(gIntlMutex);
    HKEY key = 0;
    // Without a registry there are no settings; asking would make one.
    std::error_code ec;
    if (std::filesystem::exists(RegistryPath(), ec) &&
        RegOpenKeyEx(HKEY_CURRENT_USER, "Control Panel\\International", 0, KEY_QUERY_VALUE, &key) ==
            ERROR_SUCCESS) {
        ReadIntlSetting(key, "sList", gListSeparator);
        ReadIntlSetting(key, "sDecimal", gDecimalSeparator);
        RegCloseKey(key);
    }
    list = gListSeparator;
    decimal = gDecimalSeparator;
}

} // namespace

std::int32_t wioSizeOfWaveFormat(const TWaveFormatEx* fmt) {
    if (fmt == nullptr) return 0;
    if (fmt->wFormatTag == WAVE_FORMAT_PCM) return sizeof(TWaveFormatEx);
    return static_cast<std::int32_t>(sizeof(TWaveFormatEx)) + fmt->cbSize;
}

TWaveFormatEx* wioCopyWaveFormat(const TWaveFormatEx* fmt) {
    const std::int32_t size = wioSizeOfWaveFormat(fmt);
    if (size == 0) return nullptr;
    auto* copy = static_cast<TWaveFormatEx*>(audio_detail::HeapAlloc(size));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, fmt, static_cast<std::size_t>(size));
    if (copy->wFormatTag == WAVE_FORMAT_PCM) copy->cbSize = 0;
    return copy;
}

std::int32_t wioBytesToSamples(const TWaveFormatEx* fmt, std::int32_t bytes) {
    return fmt ? MulDivRN(bytes, Rate(fmt), AvgRate(fmt)) : 0;
}

std::int32_t wioBytesToTime(const TWaveFormatEx* fmt, std::int32_t bytes) {
    return fmt ? MulDivRN(bytes, 1000, AvgRate(fmt)) : 0;
}

std::int32_t wioSamplesToBytes(const TWaveFormatEx* fmt, std::int32_t samples) {
    return fmt ? ToBlocks(fmt, MulDivRN(samples, AvgRate(fmt), Rate(fmt))) : 0;
}

std::int32_t wioSamplesToTime(const TWaveFormatEx* fmt, std::int32_t samples) {
    return fmt ? MulDivRN(samples, 1000, Rate(fmt)) : 0;
}

std::int32_t wioTimeToSamples(const TWaveFormatEx* fmt, std::int32_t ms) {
    return fmt ? MulDivRN(ms, Rate(fmt), 1000) : 0;
}

std::int32_t wioTimeToBytes(const TWaveFormatEx* fmt, std::int32_t ms) {
    return fmt ? ToBlocks(fmt, MulDivRN(ms, AvgRate(fmt), 1000)) : 0;
}

std::int32_t wioBytesPerSample(const TWaveFormatEx* fmt) {
    return wioSamplesToBytes(fmt, 1);
}

std::int64_t wioBytesToSamples64(const TWaveFormatEx* fmt, std::int64_t bytes) {
    return fmt ? MulDiv64Safe(bytes, Rate(fmt), AvgRate(fmt)) : 0;
}

std::int64_t wioBytesToTime64(const TWaveFormatEx* fmt, std::int64_t bytes) {
    return fmt ? MulDiv64Safe(bytes, 1000, AvgRate(fmt)) : 0;
}

std::int64_t wioSamplesToBytes64(const TWaveFormatEx* fmt, std::int64_t samples) {
    return fmt ? ToBlocks64(fmt, MulDiv64Safe(samples, AvgRate(fmt), Rate(fmt))) : 0;
}

std::int64_t wioSamplesToTime64(const TWaveFormatEx* fmt, std::int64_t samples) {
    return fmt ? MulDiv64Safe(samples, 1000, Rate(fmt)) : 0;
}

std::int64_t wioTimeToSamples64(const TWaveFormatEx* fmt, std::int64_t ms) {
    return fmt ? MulDiv64Safe(ms, Rate(fmt), 1000) : 0;
}

std::int64_t wioTimeToBytes64(const TWaveFormatEx* fmt, std::int64_t ms) {
    return fmt ? ToBlocks64(fmt, MulDiv64Safe(ms, AvgRate(fmt), 1000)) : 0;
}

std::int32_t wioBytesToSamplesEx(const TWAVEIOCB* cb, std::int32_t bytes) {
    if (cb == nullptr) return 0;
    if (cb->ByteRate == 0) return wioBytesToSamples(&cb->Format, bytes);
    return RoundReal(static_cast<long double>(bytes) * cb->Format.nSamplesPerSec / cb->ByteRate);
}

std::int32_t wioBytesToTimeEx(const TWAVEIOCB* cb, std::int32_t bytes) {
    if (cb == nullptr) return 0;
    if (cb->ByteRate == 0) return wioBytesToTime(&cb->Format, bytes);
    return RoundReal(static_cast<long double>(bytes) * 1000 / cb->ByteRate);
}

std::int32_t wioSamplesToBytesEx(const TWAVEIOCB* cb, std::int32_t samples) {
    if (cb == nullptr) return 0;
    if (cb->ByteRate == 0) return wioSamplesToBytes(&cb->Format, samples);
    if (cb->Format.nSamplesPerSec == 0) return 0;
    return ToBlocks(&cb->Format, RoundReal(static_cast<long double>(cb->ByteRate) * samples /
                                           cb->Format.nSamplesPerSec));
}

std::int32_t wioSamplesToTimeEx(const TWAVEIOCB* cb, std::int32_t samples) {
    if (cb == nullptr) return 0;
    if (cb->ByteRate == 0) return wioSamplesToTime(&cb->Format, samples);
    if (cb->Format.nSamplesPerSec == 0) return 0;
    return RoundReal(static_cast<long double>(samples) * 1000 / cb->Format.nSamplesPerSec);
}

std::int32_t wioTimeToSamplesEx(const TWAVEIOCB* cb, std::int32_t ms) {
    if (cb == nullptr) return 0;
    if (cb->ByteRate == 0) return wioTimeToSamples(&cb->Format, ms);
    return RoundReal(static_cast<long double>(ms) * cb->Format.nSamplesPerSec / 1000);
}

std::int32_t wioTimeToBytesEx(const TWAVEIOCB* cb, std::int32_t ms) {
    if (cb == nullptr) return 0;
    if (cb->ByteRate == 0) return wioTimeToBytes(&cb->Format, ms);
    return ToBlocks(&cb->Format, RoundReal(static_cast<long double>(cb->ByteRate) * ms / 1000));
}

void wioGetFormatName(const TWaveFormatEx* fmt, std::string& text) {
    text = "Unknown";
    if (fmt == nullptr) return;
    for (const TagName& t : kTagNames) {
        if (t.tag == fmt->wFormatTag) {
            text = t.name;
            return;
        }
    }
}

void wioGetFormat(const TWaveFormatEx* fmt, std::string& text) {
    char list = ',';
    char decimal = '.';
    ReadIntlSeparators(list, decimal);
    if (fmt == nullptr) {
        text = "Unknown";
        return;
    }
    const std::uint32_t rate = fmt->nSamplesPerSec;
    std::uint64_t bits = rate ? std::uint64_t{fmt->nAvgBytesPerSec} * 8 / rate : 0;
    bits = fmt->nChannels ? bits / fmt->nChannels : 0;
    char buffer[96];
    if (fmt->nChannels == 1 || fmt->nChannels == 2) {
        std::snprintf(buffer, sizeof buffer, "%u%c%.03u kHz%c %llu Bit%c %s", rate / 1000, decimal,
                      rate % 1000, list, static_cast<unsigned long long>(bits), list,
                      fmt->nChannels == 1 ? "Mono" : "Stereo");
    } else {
        std::snprintf(buffer, sizeof buffer, "%u%c%.03u kHz%c %llu Bit%c %u Channels", rate / 1000,
                      decimal, rate % 1000, list, static_cast<unsigned long long>(bits), list,
                      static_cast<unsigned>(fmt->nChannels));
    }
    text = buffer;
}

} // namespace lum
