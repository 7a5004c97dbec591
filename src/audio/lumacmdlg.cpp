#include "audio/lumacmdlg.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio/lumadpcm.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "platform/base/exception.h"

namespace lum {

using namespace platform::acm;

namespace {

TWaveFormatEx* NewFormat(int extra) {
    auto* f = static_cast<TWaveFormatEx*>(GlobalAllocMem(sizeof(TWaveFormatEx) + extra));
    f->cbSize = static_cast<WORD>(extra);
    return f;
}

void Put(TWaveFormatEx* f, int at, std::uint32_t v, int n) {
    BYTE* p = WaveFormatExtra(f) + at;
    for (int i = 0; i < n; ++i)
        p[i] = static_cast<BYTE>(v >> (8 * i));
}

} // namespace

TWaveFormatEx* acmBuildTrueSpeechHeader() {
    TWaveFormatEx* f = NewFormat(32);
    f->wFormatTag = 34;
    f->nChannels = 1;
    f->nSamplesPerSec = 8000;
    f->nAvgBytesPerSec = 1067;
    f->nBlockAlign = 32;
    f->wBitsPerSample = 1;
    Put(f, 0, 1, 2);   // revision
    Put(f, 2, 240, 2); // samples a block
    return f;
}

TWaveFormatEx* acmBuildGSM610Header(std::int32_t rate) {
    if (rate <= 0) return nullptr;
    TWaveFormatEx* f = NewFormat(2);
    f->wFormatTag = WAVE_FORMAT_GSM610;
    f->nChannels = 1;
    f->nSamplesPerSec = static_cast<DWORD>(rate);
    // 65 bytes a block of 320 samples, at every rate: a fixed list of four
    // rates left all others with a byte rate of 0, which nothing can
    // divide by.
    f->nAvgBytesPerSec = static_cast<DWORD>(std::int64_t{rate} * 65 / 320);
    f->nBlockAlign = 65;
    f->wBitsPerSample = 0;
    Put(f, 0, 320, 2);
    return f;
}

TWaveFormatEx* acmBuildADPCMHeader(std::int32_t rate, int channels) {
    TWaveFormatEx pcm{};
    pcmBuildWaveHeader(&pcm, 16, channels, rate);
    if (!pcmIsValidFormat(&pcm)) return nullptr;
    auto* f = static_cast<TWaveFormatEx*>(GlobalAllocMem(kADPCMFormatSize));
    if (!adpcmBuildFormatHeader(&pcm, f, 0, channels, rate)) {
        GlobalFreeMem(f);
        return nullptr;
    }
    return f;
}

TWaveFormatEx* acmBuildMPEG1Header(std::int32_t rate, std::int32_t bitrate, int channels) {
    if (rate <= 0 || bitrate <= 0 || (channels != 1 && channels != 2)) return nullptr;
    const std::int64_t block = std::int64_t{bitrate} * channels * 144 / rate;
    if (block <= 0 || block > 0xFFFF) return nullptr;
    TWaveFormatEx* f = NewFormat(22);
    f->wFormatTag = 80;
    f->nChannels = static_cast<WORD>(channels);
    f->nSamplesPerSec = static_cast<DWORD>(rate);
    f->nAvgBytesPerSec = static_cast<DWORD>(std::int64_t{rate} * 100 / 1120 * block / 100);
    f->nBlockAlign = static_cast<WORD>(block);
    f->wBitsPerSample = 16;
    Put(f, 0, 2, 2);                                              // layer 2
    Put(f, 2, static_cast<std::uint32_t>(bitrate * channels), 4); // head bit rate
    Put(f, 6, channels == 1 ? 8 : 2, 2);                          // single channel, joint stereo
    Put(f, 8, 15, 2);                                             // mode extension
    Put(f, 10, 1, 2);                                             // emphasis
    Put(f, 12, 16, 2);                                            // MPEG-1
    return f;
}

TWaveFormatEx* acmBuildMP3Header(std::int32_t rate, std::int32_t bitrate, int channels) {
    if (rate <= 0 || bitrate <= 0 || (channels != 1 && channels != 2)) return nullptr;
    const double frame = double(bitrate) * 144 / rate;
    if (frame > 0xFFFF) return nullptr;
    TWaveFormatEx* f = NewFormat(12);
    f->wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    f->nChannels = static_cast<WORD>(channels);
    f->nSamplesPerSec = static_cast<DWORD>(rate);
    f->nAvgBytesPerSec = static_cast<DWORD>(std::lround(double(rate) * 100 / 1152 * frame / 100));
    f->nBlockAlign = 1;
    f->wBitsPerSample = 0;
    // The compression manager's defaults: MPEG, padding off, one frame a
    // block and its usual codec delay; then the frame length.
    Put(f, 0, 1, 2);
    Put(f, 2, 2, 4);
    Put(f, 6, static_cast<std::uint32_t>(std::lround(frame)), 2);
    Put(f, 8, 1, 2);
    Put(f, 10, 1393, 2);
    return f;
}

TWaveFormatEx* acmBuildMPEGHeader(int layer, std::int32_t rate, std::int32_t bitrate,
                                  int channels) {
    switch (layer) {
    case 2:
        return acmBuildMPEG1Header(rate, bitrate, channels);
    case 3:
        return acmBuildMP3Header(rate, bitrate, channels);
    default:
        return nullptr;
    }
}

bool acmGetFormatDescription(const TWaveFormatEx* fmt, std::string& tagName,
                             std::string& description) {
    if (fmt == nullptr) return false;
    wioGetFormatName(fmt, tagName);
    wioGetFormat(fmt, description);
    if (!acmIsUsable() || !acmFormatTagDetailsA || !acmFormatDetailsA) return true;
    ACMFORMATTAGDETAILSA tag{};
    tag.cbStruct = sizeof tag;
    tag.dwFormatTag = fmt->wFormatTag;
    if (acmFormatTagDetailsA(nullptr, &tag, ACM_FORMATTAGDETAILSF_FORMATTAG) == MMSYSERR_NOERROR)
        tagName = tag.szFormatTag;
    // The manager may write into the record; it gets a copy.
    std::vector<BYTE> copy(static_cast<std::size_t>(wioSizeOfWaveFormat(fmt)));
    std::memcpy(copy.data(), fmt, copy.size());
    ACMFORMATDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFormatTag = fmt->wFormatTag;
    details.pwfx = reinterpret_cast<TWaveFormatEx*>(copy.data());
    details.cbwfx = static_cast<DWORD>(copy.size());
    if (acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT) == MMSYSERR_NOERROR)
        description = details.szFormat;
    return true;
}

bool acmGetFilterDescription(const WAVEFILTER* filter, std::string& tagName,
                             std::string& description) {
    tagName = "Unknown FilterTag";
    description = "Unknown Filter";
    if (filter == nullptr || !acmIsUsable() || !acmFilterTagDetailsA || !acmFilterDetailsA)
        return false;
    ACMFILTERTAGDETAILSA tag{};
    tag.cbStruct = sizeof tag;
    tag.dwFilterTag = filter->dwFilterTag;
    const bool haveTag =
        acmFilterTagDetailsA(nullptr, &tag, ACM_FILTERTAGDETAILSF_FILTERTAG) == MMSYSERR_NOERROR;
    if (haveTag) tagName = tag.szFilterTag;
    std::vector<BYTE> copy(std::max<std::size_t>(filter->cbStruct, sizeof(WAVEFILTER)));
    std::memcpy(copy.data(), filter, std::min<std::size_t>(filter->cbStruct, copy.size()));
    ACMFILTERDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFilterTag = filter->dwFilterTag;
    details.pwfltr = reinterpret_cast<WAVEFILTER*>(copy.data());
    details.cbwfltr = static_cast<DWORD>(copy.size());
    const bool haveText =
        acmFilterDetailsA(nullptr, &details, ACM_FILTERDETAILSF_FILTER) == MMSYSERR_NOERROR;
    if (haveText) description = details.szFilter;
    return haveTag && haveText;
}

bool acmSaveFormatToRegistry(const TWaveFormatEx* fmt, HKEY root, const std::string& key,
                             const std::string& value) {
    const std::int32_t size = wioSizeOfWaveFormat(fmt);
    if (size <= 0 || size > kACMMaxStoredFormat) return false;
    try {
        SaveInRegistryBinary(root, key, value, fmt, size);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

TWaveFormatEx* acmGetFormatFromRegistry(HKEY root, const std::string& key,
                                        const std::string& value) {
    try {
        const std::int32_t stored = GetFromRegistryBinary(root, key, value, nullptr, 0);
        if (stored < static_cast<std::int32_t>(sizeof(TWaveFormatEx)) ||
            stored > kACMMaxStoredFormat)
            return nullptr;
        std::vector<BYTE> data(static_cast<std::size_t>(stored));
        if (GetFromRegistryBinary(root, key, value, data.data(), stored) != stored) return nullptr;
        const auto* fmt = reinterpret_cast<const TWaveFormatEx*>(data.data());
        // A format that claims extra bytes beyond the value is not one.
        if (wioSizeOfWaveFormat(fmt) > stored) return nullptr;
        return wioCopyWaveFormat(fmt);
    } catch (const Exception&) {
        return nullptr;
    }
}

} // namespace lum
