// The PCM converter (bits, channels and rate through libswresample) and the
// volume filter.
#include <algorithm>
#include <cstring>

#include "platform/acm/acm_internal.h"
#include "platform/acm/acm_lav.h"

namespace lum::platform::acm::detail {

namespace {

constexpr DWORD kMaxBytes = 0x7FFFFFFF;

DWORD ClampBytes(std::uint64_t n) {
    return n > kMaxBytes ? 0 : static_cast<DWORD>(n);
}

// 24-bit samples travel through libswresample as the top bytes of 32-bit
// ones.
void Unpack24(const BYTE* in, std::size_t samples, std::int32_t* out) {
    for (std::size_t i = 0; i < samples; ++i, in += 3)
        out[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(in[0]) << 8 |
                                           static_cast<std::uint32_t>(in[1]) << 16 |
                                           static_cast<std::uint32_t>(in[2]) << 24);
}

void Pack24(const std::int32_t* in, std::size_t samples, BYTE* out) {
    for (std::size_t i = 0; i < samples; ++i, out += 3) {
        const auto v = static_cast<std::uint32_t>(in[i]);
        out[0] = static_cast<BYTE>(v >> 8);
        out[1] = static_cast<BYTE>(v >> 16);
        out[2] = static_cast<BYTE>(v >> 24);
    }
}

class PcmConverter final : public Converter {
public:
    PcmConverter(const WAVEFORMATEX& in, const WAVEFORMATEX& out) : in_(in), out_(out) {}
    ~PcmConverter() override { swr_free(&swr_); }

    bool Init() {
        copy_ = in_.nChannels == out_.nChannels && in_.wBitsPerSample == out_.wBitsPerSample &&
                in_.nSamplesPerSec == out_.nSamplesPerSec;
        if (copy_) return true;
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, in_.nChannels);
        swr_ = MakeSwr(layout, PcmSampleFormat(in_.wBitsPerSample),
                       static_cast<int>(in_.nSamplesPerSec), out_.nChannels,
                       PcmSampleFormat(out_.wBitsPerSample), static_cast<int>(out_.nSamplesPerSec));
        av_channel_layout_uninit(&layout);
        return swr_ != nullptr;
    }

    MMRESULT Convert(const BYTE* src, DWORD srcLen, DWORD& used, BYTE* dst, DWORD dstLen,
                     DWORD& produced, DWORD flags) override {
        const DWORD inBlock = in_.nBlockAlign, outBlock = out_.nBlockAlign;
        used = produced = 0;
        if (copy_) {
            const DWORD n = std::min(srcLen, dstLen) / inBlock * inBlock;
            if (n) std::memcpy(dst, src, n);
            used = produced = n;
            return MMSYSERR_NOERROR;
        }
        if ((flags & ACM_STREAMCONVERTF_START) || (flushed_ && srcLen >= inBlock)) {
            if (swr_init(swr_) < 0) return MMSYSERR_ERROR;
            flushed_ = false;
        }
        const int frames = static_cast<int>(srcLen / inBlock);
        const int room = static_cast<int>(dstLen / outBlock);
        const BYTE* in = src;
        if (in_.wBitsPerSample == 24) {
            wide_.resize(static_cast<std::size_t>(frames) * in_.nChannels);
            Unpack24(src, wide_.size(), wide_.data());
            in = reinterpret_cast<const BYTE*>(wide_.data());
        }
        BYTE* out = dst;
        if (out_.wBitsPerSample == 24) {
            narrow_.resize(static_cast<std::size_t>(room) * out_.nChannels);
            out = reinterpret_cast<BYTE*>(narrow_.data());
        }
        const int wideOut = out_.wBitsPerSample == 24 ? 4 * out_.nChannels : outBlock;
        // A null input would flush, so an empty call passes its pointer.
        int n = swr_convert(swr_, &out, room, &in, frames);
        if (n < 0) return MMSYSERR_ERROR;
        if (flags & ACM_STREAMCONVERTF_END) {
            BYTE* rest = out + n * wideOut;
            const int m = swr_convert(swr_, &rest, room - n, nullptr, 0);
            if (m > 0) n += m;
            flushed_ = true;
        }
        if (out_.wBitsPerSample == 24)
            Pack24(narrow_.data(), static_cast<std::size_t>(n) * out_.nChannels, dst);
        used = static_cast<DWORD>(frames) * inBlock;
        produced = static_cast<DWORD>(n) * outBlock;
        return MMSYSERR_NOERROR;
    }

    DWORD OutputSize(DWORD srcBytes) const override {
        const std::uint64_t frames = srcBytes / in_.nBlockAlign;
        if (copy_) return ClampBytes(frames * out_.nBlockAlign);
        const std::uint64_t inRate = in_.nSamplesPerSec, outRate = out_.nSamplesPerSec;
        // What the resampler's filter still holds comes out as well.
        const std::uint64_t ratio = (outRate + inRate - 1) / inRate;
        const std::uint64_t out = (frames * outRate + inRate - 1) / inRate + 64 + 32 * ratio;
        return ClampBytes(out * out_.nBlockAlign);
    }

    DWORD InputSize(DWORD dstBytes) const override {
        const std::uint64_t frames = dstBytes / out_.nBlockAlign;
        return ClampBytes(frames * in_.nSamplesPerSec / out_.nSamplesPerSec * in_.nBlockAlign);
    }

private:
    WAVEFORMATEX in_, out_;
    SwrContext* swr_ = nullptr;
    bool copy_ = false;
    bool flushed_ = false;
    std::vector<std::int32_t> wide_, narrow_;
};

class VolumeConverter final : public Converter {
public:
    VolumeConverter(const WAVEFORMATEX& f, DWORD volume) : fmt_(f), volume_(volume) {}

    MMRESULT Convert(const BYTE* src, DWORD srcLen, DWORD& used, BYTE* dst, DWORD dstLen,
                     DWORD& produced, DWORD) override {
        const DWORD n = std::min(srcLen, dstLen) / fmt_.nBlockAlign * fmt_.nBlockAlign;
        const std::int64_t v = volume_;
        if (fmt_.wBitsPerSample == 8) {
            for (DWORD i = 0; i < n; ++i) {
                const std::int64_t s = ((src[i] - 128) * v) >> 16;
                dst[i] = static_cast<BYTE>(std::clamp<std::int64_t>(s, -128, 127) + 128);
            }
        } else {
            for (DWORD i = 0; i + 1 < n; i += 2) {
                std::int16_t s;
                std::memcpy(&s, src + i, 2);
                const auto r = static_cast<std::int16_t>(
                    std::clamp<std::int64_t>((s * v) >> 16, -32768, 32767));
                std::memcpy(dst + i, &r, 2);
            }
        }
        used = produced = n;
        return MMSYSERR_NOERROR;
    }
    DWORD OutputSize(DWORD srcBytes) const override {
        return srcBytes / fmt_.nBlockAlign * fmt_.nBlockAlign;
    }
    DWORD InputSize(DWORD dstBytes) const override { return OutputSize(dstBytes); }

private:
    WAVEFORMATEX fmt_;
    DWORD volume_;
};

class PcmDriver final : public Driver {
public:
    PcmDriver() {
        support = ACMDRIVERDETAILS_SUPPORTF_CONVERTER;
        shortName = "PCM Converter";
        longName = "PCM Converter";
        features = "Converts PCM between 8, 16, 24 and 32 bits, 1 to 8 channels and any two "
                   "rates (libswresample).";
        FormatTag pcm;
        pcm.tag = 1;
        pcm.name = "PCM";
        pcm.largest = sizeof(WAVEFORMATEX);
        for (DWORD rate : {8000u, 11025u, 16000u, 22050u, 32000u, 44100u, 48000u})
            for (int bits : {8, 16})
                for (int channels : {1, 2}) {
                    const WAVEFORMATEX f = MakePcm(bits, channels, rate);
                    pcm.formats.push_back(FormatBytes(&f));
                }
        tags.push_back(std::move(pcm));
    }

    MMRESULT Suggest(const WAVEFORMATEX* src, Bytes& out, const Constraints& c) const override {
        if (!IsPcm(src) || !c.Tag(1)) return ACMERR_NOTPOSSIBLE;
        const int bits =
            (c.flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) ? c.bits : src->wBitsPerSample;
        const int channels = (c.flags & ACM_FORMATSUGGESTF_NCHANNELS) ? c.channels : src->nChannels;
        const DWORD rate =
            (c.flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) ? c.rate : src->nSamplesPerSec;
        const WAVEFORMATEX f = MakePcm(bits, channels, rate);
        if (!IsPcm(&f)) return ACMERR_NOTPOSSIBLE;
        out = FormatBytes(&f);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Open(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, const WAVEFILTER* filter,
                  std::unique_ptr<Converter>* conv) const override {
        if (filter || !IsPcm(src) || !IsPcm(dst)) return ACMERR_NOTPOSSIBLE;
        auto c = std::make_unique<PcmConverter>(*src, *dst);
        if (!c->Init()) return ACMERR_NOTPOSSIBLE;
        if (conv) *conv = std::move(c);
        return MMSYSERR_NOERROR;
    }

    bool Writes(WORD tag) const override { return tag == 1; }
};

constexpr DWORD kUnityVolume = 0x10000;

class VolumeDriver final : public Driver {
public:
    VolumeDriver() {
        support = ACMDRIVERDETAILS_SUPPORTF_FILTER;
        shortName = "Volume";
        longName = "Volume Filter";
        features = "Changes the volume of 8- and 16-bit PCM.";
        FilterTag t;
        t.tag = WAVE_FILTER_VOLUME;
        t.name = "Volume";
        t.size = sizeof(VOLUMEWAVEFILTER);
        for (DWORD percent : {25u, 50u, 75u, 125u, 150u, 200u}) {
            VOLUMEWAVEFILTER f{};
            f.wfltr.cbStruct = sizeof f;
            f.wfltr.dwFilterTag = WAVE_FILTER_VOLUME;
            f.dwVolume = percent * kUnityVolume / 100;
            const auto* p = reinterpret_cast<const std::uint8_t*>(&f);
            t.filters.emplace_back(p, p + sizeof f);
        }
        filterTags.push_back(std::move(t));
    }

    MMRESULT Suggest(const WAVEFORMATEX*, Bytes&, const Constraints&) const override {
        return ACMERR_NOTPOSSIBLE;
    }

    MMRESULT Open(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, const WAVEFILTER* filter,
                  std::unique_ptr<Converter>* conv) const override {
        if (filter == nullptr || filter->dwFilterTag != WAVE_FILTER_VOLUME ||
            filter->cbStruct < sizeof(VOLUMEWAVEFILTER) || !IsPcm(src) ||
            (src->wBitsPerSample != 8 && src->wBitsPerSample != 16) || !SameFormat(src, dst))
            return ACMERR_NOTPOSSIBLE;
        if (conv)
            *conv = std::make_unique<VolumeConverter>(
                *src, reinterpret_cast<const VOLUMEWAVEFILTER*>(filter)->dwVolume);
        return MMSYSERR_NOERROR;
    }

    std::string DescribeFilter(const WAVEFILTER* f) const override {
        if (f == nullptr || f->dwFilterTag != WAVE_FILTER_VOLUME ||
            f->cbStruct < sizeof(VOLUMEWAVEFILTER))
            return {};
        const DWORD v = reinterpret_cast<const VOLUMEWAVEFILTER*>(f)->dwVolume;
        return "Volume " +
               std::to_string((std::uint64_t{v} * 100 + kUnityVolume / 2) / kUnityVolume) + "%";
    }

    bool Writes(WORD) const override { return false; }
};

} // namespace

std::unique_ptr<Converter> MakePcmConverter(const WAVEFORMATEX* src, const WAVEFORMATEX* dst) {
    auto c = std::make_unique<PcmConverter>(*src, *dst);
    return c->Init() ? std::move(c) : nullptr;
}

std::unique_ptr<Converter> MakeVolumeConverter(const WAVEFORMATEX* fmt, DWORD volume) {
    return std::make_unique<VolumeConverter>(*fmt, volume);
}

std::unique_ptr<Driver> MakePcmDriver() {
    return std::make_unique<PcmDriver>();
}

std::unique_ptr<Driver> MakeVolumeDriver() {
    return std::make_unique<VolumeDriver>();
}

} // namespace lum::platform::acm::detail
