#include "audio/lumacmstream.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "audio/lumacmdlg.h"
#include "audio/lumacmsup.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "core/lumutils.h"

namespace lum {

namespace vfw = platform::vfw;
using platform::HRESULT;
using platform::LONG;
using vfw::AVISTREAMINFO;
using vfw::PAVISTREAM;
using vfw::ULONG;

namespace {

using Bytes = std::vector<BYTE>;

constexpr std::size_t kChunkBytes = 32768; // source bytes converted at a time
// The largest chunk of a stream whose samples are chunks of any size (MP3
// frames, say).
constexpr std::size_t kLargestChunk = 65536;

const TWaveFormatEx* AsFormat(const Bytes& b) {
    return reinterpret_cast<const TWaveFormatEx*>(b.data());
}

// Makes F, of which the first Have bytes were read, a record of 18 bytes
// and the extra bytes it holds: cbSize is 0 for PCM and never claims more
// than was read. False for a record no conversion can use.
bool Normalise(Bytes& f, std::size_t have) {
    constexpr std::size_t head = sizeof(TWaveFormatEx);
    f.resize(std::max(have, head), 0);
    auto* w = reinterpret_cast<TWaveFormatEx*>(f.data());
    if (have < head || w->wFormatTag == WAVE_FORMAT_PCM)
        w->cbSize = 0;
    else
        w->cbSize = static_cast<WORD>(std::min<std::size_t>(w->cbSize, have - head));
    f.resize(head + w->cbSize);
    return w->nChannels > 0 && w->nBlockAlign > 0 && w->nSamplesPerSec > 0;
}

bool ReadWholeFormat(PAVISTREAM s, Bytes& out) {
    const LONG pos = vfw::AVIStreamStart(s);
    LONG size = 0;
    if (vfw::AVIStreamReadFormat(s, pos, nullptr, &size) != vfw::AVIERR_OK || size < 16 ||
        size > 0xFFFF)
        return false;
    out.assign(static_cast<std::size_t>(size), 0);
    if (vfw::AVIStreamReadFormat(s, pos, out.data(), &size) != vfw::AVIERR_OK || size < 16)
        return false;
    return Normalise(out, static_cast<std::size_t>(size));
}

// Sample frames in one block of F; 0 when the format does not say.
std::int64_t KnownFramesPerBlock(const TWaveFormatEx* f) {
    const auto* extra = reinterpret_cast<const BYTE*>(f) + sizeof(TWaveFormatEx);
    const int word = f->cbSize >= 2 ? extra[0] | extra[1] << 8 : 0;
    switch (f->wFormatTag) {
    case WAVE_FORMAT_PCM:
        return 1;
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
        return std::max(1, f->nBlockAlign / f->nChannels);
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_IMA_ADPCM:
        if (word > 0) return word;
        break;
    case WAVE_FORMAT_GSM610:
        return std::int64_t{word > 0 ? word : 320} * std::max(1, f->nBlockAlign / 65);
    default:
        break;
    }
    return 0;
}

// The same, else as the byte rate has it.
std::int64_t FramesPerBlock(const TWaveFormatEx* f) {
    if (const std::int64_t n = KnownFramesPerBlock(f)) return n;
    if (f->nAvgBytesPerSec == 0) return 1;
    return std::max<std::int64_t>(
        1, (std::int64_t{f->nBlockAlign} * f->nSamplesPerSec + f->nAvgBytesPerSec / 2) /
               f->nAvgBytesPerSec);
}

class AcmConversionStream final : public vfw::IAVIStream {
public:
    AcmConversionStream(PAVISTREAM source, Bytes from, Bytes to)
        : source_(source), from_(std::move(from)), to_(std::move(to)) {
        vfw::AVIStreamAddRef(source_);
    }

    HRESULT Open() {
        AVISTREAMINFO si{};
        HRESULT hr = vfw::AVIStreamInfo(source_, &si, sizeof si);
        if (hr != vfw::AVIERR_OK) return hr;
        const TWaveFormatEx* from = From();
        const TWaveFormatEx* to = To();
        // Whole source blocks are a whole number of samples apart; samples
        // of any size (one chunk each) are timed by the stream's rate.
        if (si.dwSampleSize == 0 ? si.dwScale == 0 || si.dwRate == 0
                                 : from->nBlockAlign % si.dwSampleSize != 0)
            return vfw::AVIERR_UNSUPPORTED;
        sample_size_ = static_cast<LONG>(si.dwSampleSize);
        src_scale_ = si.dwScale;
        src_rate_ = si.dwRate;
        src_start_ = static_cast<LONG>(si.dwStart);
        src_length_ = static_cast<LONG>(si.dwLength);
        fpb_from_ = FramesPerBlock(from);
        // Blocks are written one a sample, so their frames must be known
        // (MP3 frames, of varying size, are not such blocks).
        fpb_to_ = KnownFramesPerBlock(to);
        if (fpb_to_ == 0) return vfw::AVIERR_UNSUPPORTED;
        constexpr __int128 most = 0x7FFFFFFF;
        start_ = static_cast<LONG>(std::min(OutputFrames(src_start_) / fpb_to_, most));
        length_ = static_cast<LONG>(
            std::min((OutputFrames(src_length_) + fpb_to_ - 1) / fpb_to_, most - start_));
        // One sample a block, timed by the frames it holds.
        info_ = si;
        info_.dwScale = static_cast<DWORD>(fpb_to_);
        info_.dwRate = to->nSamplesPerSec;
        info_.dwSampleSize = to->nBlockAlign;
        info_.dwStart = static_cast<DWORD>(start_);
        info_.dwLength = static_cast<DWORD>(length_);
        info_.dwSuggestedBufferSize = 0;
        info_.dwFormatChangeCount = 0;
        return Restart(start_);
    }

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT Info(AVISTREAMINFO* info, LONG size) override {
        if (info == nullptr) return vfw::AVIERR_BADPARAM;
        if (size < 0) return vfw::AVIERR_BADSIZE;
        std::memcpy(info, &info_,
                    std::min<std::size_t>(static_cast<std::size_t>(size), sizeof info_));
        return vfw::AVIERR_OK;
    }

    LONG FindSample(LONG pos, LONG flags) override {
        if (length_ <= 0) return -1;
        const LONG end = start_ + length_;
        const LONG dir = flags & vfw::FIND_DIR;
        if (dir == vfw::FIND_FROM_START) pos = start_;
        if (dir == vfw::FIND_PREV) {
            if (pos < start_) return -1;
            pos = std::min(pos, end - 1);
        } else {
            if (pos >= end) return -1;
            pos = std::max(pos, start_);
        }
        // Every block starts afresh, so every sample is a key frame.
        switch (flags & vfw::FIND_RET) {
        case vfw::FIND_POS:
            return pos;
        case vfw::FIND_LENGTH:
            return 1;
        case vfw::FIND_SIZE:
            return To()->nBlockAlign;
        case vfw::FIND_INDEX:
            return pos - start_;
        default:
            return -1;
        }
    }

    HRESULT ReadFormat(LONG, void* format, LONG* size) override {
        if (size == nullptr) return vfw::AVIERR_BADPARAM;
        const auto have = static_cast<LONG>(to_.size());
        if (format == nullptr) {
            *size = have;
            return vfw::AVIERR_OK;
        }
        if (*size < 0) return vfw::AVIERR_BADSIZE;
        const LONG n = std::min(*size, have);
        std::memcpy(format, to_.data(), static_cast<std::size_t>(n));
        *size = n;
        return n < have ? vfw::AVIERR_BUFFERTOOSMALL : vfw::AVIERR_OK;
    }

    HRESULT Read(LONG start, LONG samples, void* buffer, LONG buffer_size, LONG* bytes,
                 LONG* samples_read) override {
        if (bytes) *bytes = 0;
        if (samples_read) *samples_read = 0;
        if (samples < vfw::AVISTREAMREAD_CONVENIENT || buffer_size < 0) return vfw::AVIERR_BADPARAM;
        const LONG end = start_ + length_;
        if (start < start_ || start >= end || samples == 0) return vfw::AVIERR_OK;
        const LONG block = To()->nBlockAlign;
        LONG n =
            samples == vfw::AVISTREAMREAD_CONVENIENT ? std::max<LONG>(1, 65536 / block) : samples;
        n = std::min(n, end - start);
        if (buffer == nullptr) {
            if (bytes) *bytes = n * block;
            if (samples_read) *samples_read = n;
            return vfw::AVIERR_OK;
        }
        if (buffer_size < block) {
            if (bytes) *bytes = n * block;
            return vfw::AVIERR_BUFFERTOOSMALL;
        }
        n = std::min(n, buffer_size / block);
        if (start != next_) {
            HRESULT hr = Restart(start);
            if (hr != vfw::AVIERR_OK) return hr;
        }
        const std::size_t want = static_cast<std::size_t>(n) * static_cast<std::size_t>(block);
        while (pending_.size() < want && !ended_) {
            HRESULT hr = Pump();
            if (hr != vfw::AVIERR_OK) return hr;
        }
        // The codecs may give a block fewer than the length promised (a
        // resampler's rounding); those blocks are silence.
        const Bytes& quiet = SilenceBlock();
        while (pending_.size() < want)
            pending_.insert(pending_.end(), quiet.begin(), quiet.end());
        std::memcpy(buffer, pending_.data(), want);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(want));
        next_ = start + n;
        if (bytes) *bytes = static_cast<LONG>(want);
        if (samples_read) *samples_read = n;
        return vfw::AVIERR_OK;
    }

    HRESULT SetFormat(LONG, const void*, LONG) override { return vfw::AVIERR_UNSUPPORTED; }
    HRESULT Write(LONG, LONG, const void*, LONG, DWORD, LONG* samples_written,
                  LONG* bytes_written) override {
        if (samples_written) *samples_written = 0;
        if (bytes_written) *bytes_written = 0;
        return vfw::AVIERR_UNSUPPORTED;
    }
    HRESULT Delete(LONG, LONG) override { return vfw::AVIERR_UNSUPPORTED; }
    // The source's codec data belongs to the source's format.
    HRESULT ReadData(platform::FOURCC, void*, LONG* size) override {
        if (size) *size = 0;
        return vfw::AVIERR_NODATA;
    }
    HRESULT WriteData(platform::FOURCC, const void*, LONG) override {
        return vfw::AVIERR_UNSUPPORTED;
    }
    HRESULT SetInfo(const AVISTREAMINFO*, LONG) override { return vfw::AVIERR_UNSUPPORTED; }

private:
    ~AcmConversionStream() override {
        acmDoneConvert(conv_);
        vfw::AVIStreamRelease(source_);
    }

    const TWaveFormatEx* From() const { return AsFormat(from_); }
    const TWaveFormatEx* To() const { return AsFormat(to_); }

    // Frames of the new format in the time of Samples source samples.
    __int128 OutputFrames(LONG samples) const {
        if (sample_size_ == 0)
            return static_cast<__int128>(samples) * src_scale_ * To()->nSamplesPerSec / src_rate_;
        const __int128 blocks = static_cast<__int128>(samples) * sample_size_ / From()->nBlockAlign;
        return blocks * fpb_from_ * To()->nSamplesPerSec / From()->nSamplesPerSec;
    }

    // The source sample at the time of output block Pos.
    __int128 SourceSampleAt(LONG pos) const {
        const __int128 frames = static_cast<__int128>(pos) * fpb_to_;
        if (sample_size_ == 0)
            return frames * src_rate_ / (static_cast<__int128>(To()->nSamplesPerSec) * src_scale_);
        const __int128 block = frames * From()->nSamplesPerSec /
                               (static_cast<__int128>(To()->nSamplesPerSec) * fpb_from_);
        return block * From()->nBlockAlign / sample_size_;
    }

    // Starts the conversion afresh at output block Pos, from the source
    // block of that time.
    HRESULT Restart(LONG pos) {
        acmDoneConvert(conv_);
        pending_.clear();
        ended_ = false;
        flushes_ = 0;
        next_ = pos;
        const std::size_t align = From()->nBlockAlign;
        const std::size_t most = sample_size_ == 0 ? kLargestChunk : kChunkBytes;
        const std::size_t chunk = std::max(align, most / align * align);
        conv_ = acmBeginConvert(From(), To(), nullptr, false, static_cast<std::int32_t>(chunk));
        if (conv_ == nullptr) return vfw::AVIERR_NOCOMPRESSOR;
        const __int128 sample = SourceSampleAt(pos);
        const LONG src_end = src_start_ + src_length_;
        src_next_ = static_cast<LONG>(std::clamp<__int128>(sample, src_start_, src_end));
        if (pos == start_) src_next_ = src_start_;
        return vfw::AVIERR_OK;
    }

    // Converts the next piece of the source, or at its end what the codecs
    // hold, into Pending.
    HRESULT Pump() {
        const LONG src_end = src_start_ + src_length_;
        std::int32_t made = 0;
        if (src_next_ < src_end) {
            // Chunks of any size come one at a time.
            const LONG n = sample_size_ == 0 ? 1
                                             : std::min<LONG>(conv_->SourceBlockSize / sample_size_,
                                                              src_end - src_next_);
            LONG bytes = 0, got = 0;
            const HRESULT hr = vfw::AVIStreamRead(source_, src_next_, n, conv_->SourceBuffer,
                                                  conv_->SourceBlockSize, &bytes, &got);
            if (hr == vfw::AVIERR_BUFFERTOOSMALL) return vfw::AVIERR_BADFORMAT;
            if (hr != vfw::AVIERR_OK) return hr;
            if (got <= 0 || (bytes <= 0 && sample_size_ != 0)) return vfw::AVIERR_FILEREAD;
            src_next_ += got;
            if (bytes <= 0) return vfw::AVIERR_OK; // an empty chunk
            made = acmDoConvert(conv_, bytes);
        } else {
            // Called until it gives nothing: what did not fit waits in the
            // stages. The bound keeps a codec that never ends from hanging
            // the read.
            made = acmEndConvert(conv_, 0);
            if (made == 0 || ++flushes_ > 1024) ended_ = true;
        }
        if (made < 0) return vfw::AVIERR_COMPRESSOR;
        pending_.insert(pending_.end(), conv_->OutputBuffer, conv_->OutputBuffer + made);
        return vfw::AVIERR_OK;
    }

    // One block of silence in the new format: encoded by the manager where
    // it can, else zero bytes.
    const Bytes& SilenceBlock() {
        if (!silence_.empty()) return silence_;
        const TWaveFormatEx* to = To();
        const bool unsigned8 = to->wFormatTag == WAVE_FORMAT_PCM && to->wBitsPerSample == 8;
        silence_.assign(to->nBlockAlign, unsigned8 ? 0x80 : 0);
        if (to->wFormatTag == WAVE_FORMAT_PCM) return silence_;
        TWaveFormatEx pcm{};
        pcmBuildWaveHeader(&pcm, 16, to->nChannels, static_cast<std::int32_t>(to->nSamplesPerSec));
        const std::int64_t size = fpb_to_ * pcm.nBlockAlign;
        if (size <= 0 || size > (1 << 24)) return silence_;
        PACMConvert c = acmBeginConvert(&pcm, to, nullptr, false, static_cast<std::int32_t>(size));
        if (c == nullptr) return silence_;
        std::memset(c->SourceBuffer, 0, static_cast<std::size_t>(size));
        if (acmEndConvert(c, static_cast<std::int32_t>(size)) >= to->nBlockAlign)
            std::memcpy(silence_.data(), c->OutputBuffer, to->nBlockAlign);
        acmDoneConvert(c);
        return silence_;
    }

    std::atomic<ULONG> refs_{1};
    PAVISTREAM source_;
    Bytes from_;
    Bytes to_;
    AVISTREAMINFO info_{};
    LONG sample_size_ = 1; // 0: each sample is a chunk of its own size
    DWORD src_scale_ = 1, src_rate_ = 1;
    LONG src_start_ = 0, src_length_ = 0;
    std::int64_t fpb_from_ = 1, fpb_to_ = 1;
    LONG start_ = 0, length_ = 0;
    PACMConvert conv_ = nullptr;
    LONG next_ = 0;     // the output block Pending begins at
    LONG src_next_ = 0; // the next source sample to convert
    bool ended_ = false;
    int flushes_ = 0;
    Bytes pending_;
    Bytes silence_;
};

} // namespace

HRESULT acmMakeAVIConversionStream(PAVISTREAM* converted, PAVISTREAM source, const void* format,
                                   LONG size) {
    if (converted == nullptr) return vfw::AVIERR_BADPARAM;
    *converted = nullptr;
    if (source == nullptr || format == nullptr || size < 16) return vfw::AVIERR_BADPARAM;
    if (!acmIsUsable()) return vfw::AVIERR_NOCOMPRESSOR;
    Bytes from;
    if (!ReadWholeFormat(source, from)) return vfw::AVIERR_BADFORMAT;
    const auto* p = static_cast<const BYTE*>(format);
    Bytes to(p, p + size);
    if (!Normalise(to, static_cast<std::size_t>(size))) return vfw::AVIERR_BADFORMAT;
    auto* stream = new AcmConversionStream(source, std::move(from), std::move(to));
    const HRESULT hr = stream->Open();
    if (hr != vfw::AVIERR_OK) {
        stream->Release();
        return hr;
    }
    *converted = stream;
    return vfw::AVIERR_OK;
}

std::vector<BYTE> acmTargetFormat(WORD tag, int bits, int channels, std::int32_t rate) {
    std::vector<BYTE> out(sizeof(TWaveFormatEx));
    auto* f = reinterpret_cast<TWaveFormatEx*>(out.data());
    if (tag == WAVE_FORMAT_PCM) {
        pcmBuildWaveHeader(f, bits, channels, rate);
        return pcmIsValidFormat(f) ? out : std::vector<BYTE>{};
    }
    if (tag == WAVE_FORMAT_ADPCM) {
        TWaveFormatEx* built = acmBuildADPCMHeader(rate, channels);
        if (built == nullptr) return {};
        const auto* b = reinterpret_cast<const BYTE*>(built);
        out.assign(b, b + wioSizeOfWaveFormat(built));
        GlobalFreeMem(built);
        return out;
    }
    DWORD largest = 0;
    if (!acmIsUsable() ||
        acmMetrics(nullptr, acm::ACM_METRIC_MAX_SIZE_FORMAT, &largest) != acm::MMSYSERR_NOERROR)
        return {};
    TWaveFormatEx pcm{};
    pcmBuildWaveHeader(&pcm, 16, channels, rate);
    out.assign(std::max<std::size_t>(largest, sizeof(TWaveFormatEx)), 0);
    f = reinterpret_cast<TWaveFormatEx*>(out.data());
    f->wFormatTag = tag;
    f->nChannels = static_cast<WORD>(channels);
    f->nSamplesPerSec = static_cast<DWORD>(rate);
    if (acmFormatSuggest(nullptr, &pcm, f, static_cast<DWORD>(out.size()),
                         acm::ACM_FORMATSUGGESTF_WFORMATTAG | acm::ACM_FORMATSUGGESTF_NCHANNELS |
                             acm::ACM_FORMATSUGGESTF_NSAMPLESPERSEC) != acm::MMSYSERR_NOERROR ||
        f->wFormatTag != tag)
        return {};
    out.resize(static_cast<std::size_t>(wioSizeOfWaveFormat(f)));
    return out;
}

} // namespace lum
