// The pcm functions: format checks and the single-sample helpers, and the
// dispatch of volume changes to the fast routines.
#include <algorithm>
#include <cstring>

#include "audio/lumpcmsup.h"

namespace lum {

std::atomic<bool> Overflow{false};

namespace {

bool IsPCM(const TWaveFormatEx* f) {
    return f != nullptr && f->wFormatTag == WAVE_FORMAT_PCM &&
           (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) &&
           (f->nChannels == 1 || f->nChannels == 2);
}

void SetOverflow() {
    Overflow.store(true, std::memory_order_relaxed);
}

} // namespace

bool pcmIsValidFormat(const TWaveFormatEx* fmt) {
    return IsPCM(fmt) && fmt->nSamplesPerSec >= 4000 && fmt->nSamplesPerSec <= 100000;
}

void pcmBuildWaveHeader(TWaveFormatEx* fmt, int bits, int channels, std::int32_t rate) {
    if (fmt == nullptr) return;
    fmt->wFormatTag = WAVE_FORMAT_PCM;
    fmt->nChannels = static_cast<WORD>(channels);
    fmt->nSamplesPerSec = static_cast<DWORD>(rate);
    fmt->wBitsPerSample = static_cast<WORD>(bits);
    fmt->nBlockAlign = static_cast<WORD>(static_cast<WORD>(channels * bits) / 8);
    fmt->nAvgBytesPerSec = fmt->nBlockAlign * static_cast<DWORD>(rate);
    fmt->cbSize = 0;
}

void pcmFillSilence(const TWaveFormatEx* fmt, void* data, std::int32_t bytes) {
    if (fmt == nullptr || data == nullptr || bytes <= 0) return;
    std::memset(data, fmt->wBitsPerSample == 16 ? 0 : 128, static_cast<std::size_t>(bytes));
}

std::int32_t pcmBitsPerSampleAlign(int dstBits, void* dst, int srcBits, const void* src,
                                   std::int32_t srcBytes) {
    if (dst == nullptr || src == nullptr || srcBytes <= 0) return 0;
    const auto* in = static_cast<const std::uint8_t*>(src);
    auto* out = static_cast<std::uint8_t*>(dst);
    if (dstBits == srcBits) {
        std::memcpy(dst, src, static_cast<std::size_t>(srcBytes));
        return srcBytes;
    }
    if (srcBits == 16 && dstBits == 8) {
        const std::int32_t n = srcBytes / 2;
        for (std::int32_t i = 0; i < n; ++i) {
            std::int16_t s;
            std::memcpy(&s, in + 2 * i, 2);
            out[i] = static_cast<std::uint8_t>(s / 256 + 128); // toward zero
        }
        return n;
    }
    if (srcBits == 8 && dstBits == 16) {
        for (std::int32_t i = 0; i < srcBytes; ++i) {
            const auto s = static_cast<std::int16_t>((in[i] - 128) * 256);
            std::memcpy(out + 2 * i, &s, 2);
        }
        return srcBytes * 2;
    }
    return 0;
}

std::int8_t pcmSampleClip8(std::int16_t value) {
    if (value < -128 || value > 127) {
        SetOverflow();
        return static_cast<std::int8_t>(value < 0 ? -128 : 127);
    }
    return static_cast<std::int8_t>(value);
}

std::int16_t pcmSampleClip16(std::int32_t value) {
    if (value < -32768 || value > 32767) {
        SetOverflow();
        return static_cast<std::int16_t>(value < 0 ? -32768 : 32767);
    }
    return static_cast<std::int16_t>(value);
}

std::uint8_t pcmSampleVolume8(std::uint8_t sample, std::int32_t volume) {
    PCMVOLUME8M(&sample, 1, volume);
    return sample;
}

std::int16_t pcmSampleVolume16(std::int16_t sample, std::int32_t volume) {
    PCMVOLUME16M(&sample, 2, volume);
    return sample;
}

bool pcmVolume(const TWaveFormatEx* fmt, void* data, std::int32_t bytes, std::int32_t left,
               std::int32_t right) {
    if (!IsPCM(fmt) || data == nullptr || bytes <= 0) return false;
    const bool stereo = fmt->nChannels == 2;
    if (left == kPCMUnityVolume && (!stereo || right == kPCMUnityVolume)) return false;
    if (fmt->wBitsPerSample == 8)
        return stereo ? PCMVOLUME8S(data, bytes, left, right) : PCMVOLUME8M(data, bytes, left);
    return stereo ? PCMVOLUME16S(data, bytes, left, right) : PCMVOLUME16M(data, bytes, left);
}

} // namespace lum
