// Audio in another format on saving. PCM to PCM (depth, channels, rate) is
// converted here with libswresample; every other pair of formats goes to
// the audio compression manager's converter, which the layer that loads
// the manager installs (SetAudioConverterFactory).
//
// The converted stream is read like any audio stream. Reads that follow one
// another run the resampler on; a read elsewhere starts it again at the
// source position of that time, so random access works and a sequential
// save resamples without seams.
#include "platform/vfw/audioconvert.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <numeric>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "platform/base/wintypes.h"

namespace lum::platform::vfw {

namespace {

// The sample format libswresample has for a PCM depth, or none.
AVSampleFormat SampleFormatOf(const WAVEFORMATEX& f) {
    switch (f.wBitsPerSample) {
    case 8:
        return AV_SAMPLE_FMT_U8;
    case 16:
        return AV_SAMPLE_FMT_S16;
    case 32:
        return AV_SAMPLE_FMT_S32;
    default:
        return AV_SAMPLE_FMT_NONE;
    }
}

// A PCM format this converter takes: 8, 16 or 32 bits, 1 to 8 channels,
// interleaved frames of exactly those sizes.
bool IsConvertiblePcm(const void* format, LONG size, WAVEFORMATEX& out) {
    if (format == nullptr || size < 16) return false;
    out = WAVEFORMATEX{};
    std::memcpy(&out, format, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof out));
    if (static_cast<std::size_t>(size) < sizeof out) out.cbSize = 0;
    return out.wFormatTag == WAVE_FORMAT_PCM && out.nChannels >= 1 && out.nChannels <= 8 &&
           SampleFormatOf(out) != AV_SAMPLE_FMT_NONE &&
           out.nBlockAlign == out.nChannels * out.wBitsPerSample / 8 && out.nSamplesPerSec >= 1 &&
           out.nSamplesPerSec <= 768000;
}

LONG Scale(LONG n, DWORD to, DWORD from) {
    return static_cast<LONG>(static_cast<long long>(n) * to / from);
}

class PcmConversionStream final : public IAVIStream {
public:
    PcmConversionStream(PAVISTREAM source, const WAVEFORMATEX& from, const WAVEFORMATEX& to)
        : source_(source), from_(from), to_(to) {
        AVIStreamAddRef(source_);
    }

    HRESULT Open() {
        AVISTREAMINFO si{};
        HRESULT hr = AVIStreamInfo(source_, &si, sizeof si);
        if (hr != AVIERR_OK) return hr;
        info_ = si;
        src_start_ = static_cast<LONG>(si.dwStart);
        src_length_ = static_cast<LONG>(si.dwLength);
        start_ = Scale(src_start_, to_.nSamplesPerSec, from_.nSamplesPerSec);
        length_ = Scale(src_length_, to_.nSamplesPerSec, from_.nSamplesPerSec);
        info_.dwScale = to_.nBlockAlign;
        info_.dwRate = to_.nBlockAlign * to_.nSamplesPerSec;
        info_.dwSampleSize = to_.nBlockAlign;
        info_.dwStart = static_cast<DWORD>(start_);
        info_.dwLength = static_cast<DWORD>(length_);
        info_.dwSuggestedBufferSize = 0;
        info_.dwFormatChangeCount = 0;
        return Restart(start_);
    }

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT Info(AVISTREAMINFO* info, LONG size) override {
        if (info == nullptr) return AVIERR_BADPARAM;
        if (size < 0) return AVIERR_BADSIZE;
        std::memcpy(info, &info_,
                    std::min<std::size_t>(static_cast<std::size_t>(size), sizeof info_));
        return AVIERR_OK;
    }

    LONG FindSample(LONG pos, LONG flags) override {
        if (length_ <= 0) return -1;
        const LONG end = start_ + length_;
        LONG dir = flags & FIND_DIR;
        if (dir == FIND_FROM_START) pos = start_;
        if (dir == FIND_PREV) {
            if (pos < start_) return -1;
            pos = std::min(pos, end - 1);
        } else {
            if (pos >= end) return -1;
            pos = std::max(pos, start_);
        }
        // Every sample of PCM audio is a key frame.
        switch (flags & FIND_RET) {
        case FIND_POS:
            return pos;
        case FIND_LENGTH:
            return 1;
        case FIND_SIZE:
            return to_.nBlockAlign;
        case FIND_OFFSET:
            return -1;
        case FIND_INDEX:
            return pos - start_;
        default:
            return -1;
        }
    }

    HRESULT ReadFormat(LONG, void* format, LONG* size) override {
        if (size == nullptr) return AVIERR_BADPARAM;
        constexpr LONG have = sizeof(WAVEFORMATEX);
        if (format == nullptr) {
            *size = have;
            return AVIERR_OK;
        }
        if (*size < 0) return AVIERR_BADSIZE;
        const LONG n = std::min(*size, have);
        std::memcpy(format, &to_, static_cast<std::size_t>(n));
        *size = n;
        return n < have ? AVIERR_BUFFERTOOSMALL : AVIERR_OK;
    }

    HRESULT Read(LONG start, LONG samples, void* buffer, LONG buffer_size, LONG* bytes,
                 LONG* samples_read) override {
        if (bytes) *bytes = 0;
        if (samples_read) *samples_read = 0;
        if (samples < AVISTREAMREAD_CONVENIENT || buffer_size < 0) return AVIERR_BADPARAM;
        const LONG end = start_ + length_;
        if (start < start_ || start >= end || samples == 0) return AVIERR_OK;
        const LONG block = to_.nBlockAlign;
        LONG n = samples == AVISTREAMREAD_CONVENIENT ? 4096 : samples;
        n = std::min(n, end - start);
        if (buffer == nullptr) {
            if (bytes) *bytes = n * block;
            if (samples_read) *samples_read = n;
            return AVIERR_OK;
        }
        if (buffer_size < block) {
            if (bytes) *bytes = n * block;
            return AVIERR_BUFFERTOOSMALL;
        }
        n = std::min(n, buffer_size / block);
        if (start != next_) {
            HRESULT hr = Restart(start);
            if (hr != AVIERR_OK) return hr;
        }
        const std::size_t want = static_cast<std::size_t>(n) * static_cast<std::size_t>(block);
        const std::size_t skip = static_cast<std::size_t>(skip_) * static_cast<std::size_t>(block);
        while (pending_.size() < skip + want && !flushed_) {
            HRESULT hr = Convert();
            if (hr != AVIERR_OK) return hr;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(
                                                                std::min(skip, pending_.size())));
        skip_ = 0;
        // The resampler may give a few samples fewer than the length
        // promised; those are silence.
        if (pending_.size() < want) pending_.resize(want, to_.wBitsPerSample == 8 ? 0x80 : 0);
        std::memcpy(buffer, pending_.data(), want);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(want));
        next_ = start + n;
        if (bytes) *bytes = static_cast<LONG>(want);
        if (samples_read) *samples_read = n;
        return AVIERR_OK;
    }

    HRESULT SetFormat(LONG, const void*, LONG) override { return AVIERR_UNSUPPORTED; }
    HRESULT Write(LONG, LONG, const void*, LONG, DWORD, LONG* samples_written,
                  LONG* bytes_written) override {
        if (samples_written) *samples_written = 0;
        if (bytes_written) *bytes_written = 0;
        return AVIERR_UNSUPPORTED;
    }
    HRESULT Delete(LONG, LONG) override { return AVIERR_UNSUPPORTED; }
    HRESULT ReadData(FOURCC id, void* data, LONG* size) override {
        return AVIStreamReadData(source_, id, data, size);
    }
    HRESULT WriteData(FOURCC, const void*, LONG) override { return AVIERR_UNSUPPORTED; }
    HRESULT SetInfo(const AVISTREAMINFO*, LONG) override { return AVIERR_UNSUPPORTED; }

private:
    ~PcmConversionStream() override {
        swr_free(&swr_);
        AVIStreamRelease(source_);
    }

    // Starts the conversion again at output position Pos.
    HRESULT Restart(LONG pos) {
        swr_free(&swr_);
        AVChannelLayout in{}, out{};
        av_channel_layout_default(&in, from_.nChannels);
        av_channel_layout_default(&out, to_.nChannels);
        const int r = swr_alloc_set_opts2(
            &swr_, &out, SampleFormatOf(to_), static_cast<int>(to_.nSamplesPerSec), &in,
            SampleFormatOf(from_), static_cast<int>(from_.nSamplesPerSec), 0, nullptr);
        av_channel_layout_uninit(&in);
        av_channel_layout_uninit(&out);
        // Mono to stereo copies the channel to both sides and stereo to mono
        // averages them, at the loudness the source had (the default
        // layouts' mix would lower both by 3 dB).
        static const double kUp[2] = {1.0, 1.0};
        static const double kDown[2] = {0.5, 0.5};
        int m = 0;
        if (r >= 0 && from_.nChannels == 1 && to_.nChannels == 2)
            m = swr_set_matrix(swr_, kUp, 1);
        else if (r >= 0 && from_.nChannels == 2 && to_.nChannels == 1)
            m = swr_set_matrix(swr_, kDown, 2);
        if (r < 0 || m < 0 || swr_init(swr_) < 0) {
            swr_free(&swr_);
            return AVIERR_NOCOMPRESSOR;
        }
        pending_.clear();
        flushed_ = false;
        next_ = pos;
        // Start at a source sample whose time is that of an output sample,
        // and drop the output before Pos: a start between two source
        // samples would shift the whole piece by the fraction.
        const long long g = std::gcd(from_.nSamplesPerSec, to_.nSamplesPerSec);
        const long long step_in = from_.nSamplesPerSec / g, step_out = to_.nSamplesPerSec / g;
        const long long k = pos / step_out;
        src_next_ = static_cast<LONG>(k * step_in);
        skip_ = static_cast<LONG>(pos - k * step_out);
        if (src_next_ < src_start_) {
            src_next_ = src_start_;
            skip_ = 0;
        }
        src_next_ = std::min(src_next_, src_start_ + src_length_);
        return AVIERR_OK;
    }

    // Converts the next piece of the source (or the resampler's tail at
    // the end) into Pending.
    HRESULT Convert() {
        const LONG src_end = src_start_ + src_length_;
        const LONG n = std::min<LONG>(4096, src_end - src_next_);
        const std::uint8_t* in = nullptr;
        LONG got = 0;
        if (n > 0) {
            in_.resize(static_cast<std::size_t>(n) * from_.nBlockAlign);
            LONG bytes = 0;
            HRESULT hr = AVIStreamRead(source_, src_next_, n, in_.data(),
                                       static_cast<LONG>(in_.size()), &bytes, &got);
            if (hr != AVIERR_OK) return hr;
            if (got <= 0) return AVIERR_FILEREAD;
            src_next_ += got;
            in = in_.data();
        }
        const int room = swr_get_out_samples(swr_, static_cast<int>(got)) + 16;
        const std::size_t old = pending_.size();
        pending_.resize(old + static_cast<std::size_t>(room) * to_.nBlockAlign);
        std::uint8_t* out = pending_.data() + old;
        const int made = swr_convert(swr_, &out, room, in ? &in : nullptr, static_cast<int>(got));
        if (made < 0) {
            pending_.resize(old);
            return AVIERR_ERROR;
        }
        pending_.resize(old + static_cast<std::size_t>(made) * to_.nBlockAlign);
        if (in == nullptr && made == 0) flushed_ = true;
        return AVIERR_OK;
    }

    std::atomic<ULONG> refs_{1};
    PAVISTREAM source_;
    WAVEFORMATEX from_;
    WAVEFORMATEX to_;
    AVISTREAMINFO info_{};
    LONG src_start_ = 0, src_length_ = 0;
    LONG start_ = 0, length_ = 0;
    SwrContext* swr_ = nullptr;
    LONG next_ = 0;     // the output position Pending begins at
    LONG src_next_ = 0; // the next source sample to convert
    LONG skip_ = 0;     // output samples before Next still to drop
    bool flushed_ = false;
    std::vector<std::uint8_t> pending_;
    std::vector<std::uint8_t> in_;
};

std::atomic<AudioConverterFactory> gAcmConverter{nullptr};

// Conversions that are not PCM to PCM (ADPCM, GSM, a-law, ... on either
// side) go to the converter of the audio compression manager, when the
// layer that loaded it has installed one.
HRESULT ConvertThroughAcm(PAVISTREAM* converted, PAVISTREAM source, const void* format, LONG size) {
    *converted = nullptr;
    const AudioConverterFactory factory = gAcmConverter.load();
    if (factory == nullptr) return AVIERR_NOCOMPRESSOR;
    const HRESULT hr = factory(converted, source, format, size);
    if (hr != AVIERR_OK) *converted = nullptr;
    return hr;
}

} // namespace

AudioConverterFactory SetAudioConverterFactory(AudioConverterFactory factory) {
    return gAcmConverter.exchange(factory);
}

HRESULT MakeAudioConversionStream(PAVISTREAM* converted, PAVISTREAM source, const void* format,
                                  LONG size) {
    if (converted == nullptr) return AVIERR_BADPARAM;
    *converted = nullptr;
    if (source == nullptr || format == nullptr || size < 16) return AVIERR_BADPARAM;
    LONG own_size = 0;
    HRESULT hr = AVIStreamReadFormat(source, AVIStreamStart(source), nullptr, &own_size);
    if (hr != AVIERR_OK) return hr;
    if (own_size < 16) return AVIERR_BADFORMAT;
    std::vector<std::uint8_t> own(static_cast<std::size_t>(own_size));
    hr = AVIStreamReadFormat(source, AVIStreamStart(source), own.data(), &own_size);
    if (hr != AVIERR_OK) return hr;
    WAVEFORMATEX from{}, to{};
    if (!IsConvertiblePcm(own.data(), own_size, from) || !IsConvertiblePcm(format, size, to))
        return ConvertThroughAcm(converted, source, format, size);
    // The block size and byte rate follow from the rest, whatever the
    // options' record says.
    to.nAvgBytesPerSec = to.nSamplesPerSec * to.nBlockAlign;
    to.cbSize = 0;
    auto* stream = new PcmConversionStream(source, from, to);
    hr = stream->Open();
    if (hr != AVIERR_OK) {
        stream->Release();
        return hr;
    }
    *converted = stream;
    return AVIERR_OK;
}

} // namespace lum::platform::vfw
