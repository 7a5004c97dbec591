// The compressors by handler code, and the compressed stream of
// AVIMakeCompressedStream.
//
// Reading: the stream's samples are the source's frames, decoded (through
// the frame decoder, so an edit stream's frames come from their own
// source's key frames) and compressed. Frames read one after the other are
// compressed one after the other, with the source decoded ahead on a second
// thread when the source allows it; a read elsewhere starts the compressor
// again there with a key frame. A few packets stay cached, so asking a
// sample's size and then reading it compresses it once.
//
// Writing: after SetFormat with an uncompressed format, every frame written
// is compressed and its packet written to the source at its position; the
// last packets are written when the stream is released.
#include "platform/vfw/compress.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <deque>
#include <map>
#include <set>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/vfw/audioconvert.h"
#include "platform/vfw/editstream.h"
#include "platform/vfw/encoder.h"
#include "platform/vfw/handler.h"
#include "platform/vfw/riff.h"

namespace lum::platform::vfw {

namespace {

struct Entry {
    const char* codes[6]; // handler codes naming it; the first is written
    const char* encoder;
    const char* name;
    bool lossless;
    bool intra_only;
    bool quality;
    bool data_rate;
    LONG default_key_every;
};

// The handler codes of the compressors, and the libavcodec encoder of each.
// Default key-frame intervals are each library's own.
const Entry kEntries[] = {
    {{"DIB ", "RAW ", "RGB "}, "", "Full Frames (Uncompressed)", true, true, false, false, 1},
    {{"MJPG"}, "mjpeg", "Motion JPEG", false, true, true, true, 1},
    {{"XVID", "DIVX", "DX50", "FMP4", "MP4V"},
     "mpeg4",
     "MPEG-4 ASP (Xvid)",
     false,
     false,
     true,
     true,
     12},
    {{"H264", "X264"}, "libx264", "H.264 (x264)", false, false, true, true, 250},
    {{"FFV1"}, "ffv1", "FFV1 (lossless)", true, true, false, false, 1},
    {{"HFYU"}, "huffyuv", "HuffYUV (lossless)", true, true, false, false, 1},
    {{"MSVC", "CRAM", "WHAM"}, "msvideo1", "Microsoft Video 1", false, false, false, false, 25},
    {{"cvid"}, "cinepak", "Cinepak", false, false, false, false, 25},
};

FOURCC Upper(FOURCC c) {
    FOURCC u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<FOURCC>(std::toupper(static_cast<unsigned char>(c >> (8 * i)))) << (8 * i);
    return u;
}

FOURCC Code(const char* s) {
    return MakeFourCC(s[0], s[1], s[2], s[3]);
}

bool Installed(const Entry& e) {
    return *e.encoder == 0 || avcodec_find_encoder_by_name(e.encoder) != nullptr;
}

CompressorInfo InfoOf(const Entry& e, FOURCC asked) {
    CompressorInfo c;
    c.handler = asked;
    // MPEG-4 ASP is written under the code asked for (XVID, DIVX, ...);
    // the others under their first code.
    c.compression = std::string_view(e.encoder) == "mpeg4" ? asked : Code(e.codes[0]);
    if (*e.encoder == 0) c.compression = BI_RGB;
    c.name = e.name;
    c.encoder = e.encoder;
    c.lossless = e.lossless;
    c.intra_only = e.intra_only;
    c.quality = e.quality;
    c.data_rate = e.data_rate;
    return c;
}

const Entry* EntryOf(FOURCC handler) {
    for (const Entry& e : kEntries)
        for (const char* code : e.codes)
            if (code && Upper(Code(code)) == Upper(handler)) return &e;
    return nullptr;
}

HRESULT ReadWholeFormat(PAVISTREAM s, LONG pos, std::vector<std::uint8_t>& out) {
    LONG size = 0;
    HRESULT hr = AVIStreamReadFormat(s, pos, nullptr, &size);
    if (hr != AVIERR_OK) return hr;
    if (size <= 0) return AVIERR_NODATA;
    out.resize(static_cast<std::size_t>(size));
    hr = AVIStreamReadFormat(s, pos, out.data(), &size);
    out.resize(static_cast<std::size_t>(std::max<LONG>(size, 0)));
    return hr;
}

// ---- The compressed stream ----

class CompressedStream final : public IAVIStream {
public:
    CompressedStream(PAVISTREAM source, const CompressorInfo& c, const EncoderSettings& s)
        : source_(source), info_c_(c), settings_(s) {
        AVIStreamAddRef(source_);
    }

    // Read side: the source has frames to compress.
    HRESULT OpenReading() {
        AVISTREAMINFO si{};
        HRESULT hr = AVIStreamInfo(source_, &si, sizeof si);
        if (hr != AVIERR_OK) return hr;
        std::vector<std::uint8_t> f;
        if (ReadWholeFormat(source_, static_cast<LONG>(si.dwStart), f) != AVIERR_OK ||
            f.size() < 40)
            return AVIERR_OK; // nothing to read: only writing is possible
        width_ = static_cast<LONG>(GetLE32(&f[4]));
        height_ = std::abs(static_cast<LONG>(GetLE32(&f[8])));
        scale_ = si.dwScale;
        rate_ = si.dwRate;
        start_ = static_cast<LONG>(si.dwStart);
        length_ = static_cast<LONG>(si.dwLength);
        // The first encoder tells the format; it is also the one used.
        encoder_ = std::make_unique<Encoder>();
        hr = encoder_->Open(info_c_, width_, height_, scale_, rate_, settings_);
        if (hr != AVIERR_OK) return hr;
        format_ = encoder_->Format();
        const DibLayout layout = FeederLayout(width_, height_, encoder_->PixelFormat());
        std::vector<std::uint8_t> wanted = PackedHeader(layout);
        PGETFRAME decoder = AVIStreamGetFrameOpen(
            source_, reinterpret_cast<const BITMAPINFOHEADER*>(wanted.data()));
        if (decoder == nullptr) return AVIERR_BADFORMAT;
        feeder_ = std::make_unique<PictureFeeder>(decoder, layout, encoder_->PixelFormat(),
                                                  start_ + length_, ThreadSafeToRead(source_));
        next_ = start_;
        epoch_ = start_;
        reading_ = true;
        return AVIERR_OK;
    }

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            FinishWriting();
            delete this;
        }
        return left;
    }

    HRESULT Info(AVISTREAMINFO* info, LONG size) override {
        if (info == nullptr) return AVIERR_BADPARAM;
        if (size < 0) return AVIERR_BADSIZE;
        AVISTREAMINFO d{};
        HRESULT hr = AVIStreamInfo(source_, &d, sizeof d);
        if (hr != AVIERR_OK) return hr;
        if (!writing_) {
            d.fccHandler = info_c_.compression == BI_RGB ? comptypeDIB : info_c_.handler;
            d.dwQuality = settings_.quality;
            d.dwSuggestedBufferSize = 0;
            d.dwFormatChangeCount = 0;
            d.dwFlags &= ~AVISTREAMINFO_FORMATCHANGES;
            d.dwCaps = AVIFILECAPS_CANREAD | (info_c_.intra_only ? AVIFILECAPS_ALLKEYFRAMES : 0);
        }
        std::memcpy(info, &d, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof d));
        return AVIERR_OK;
    }

    LONG FindSample(LONG pos, LONG flags) override {
        if (writing_ || !reading_) return AVIStreamFindSample(source_, pos, flags);
        if (length_ <= 0) return -1;
        LONG dir = flags & FIND_DIR;
        if (dir == FIND_FROM_START) {
            pos = start_;
            dir = FIND_NEXT;
        } else if (dir != FIND_PREV) {
            dir = FIND_NEXT;
        }
        const LONG end = start_ + length_;
        if (dir == FIND_PREV) {
            if (pos < start_) return -1;
            pos = std::min(pos, end - 1);
        } else {
            if (pos >= end) return -1;
            pos = std::max(pos, start_);
        }
        LONG found = pos;
        if ((flags & FIND_TYPE) == FIND_KEY) found = dir == FIND_PREV ? PrevKey(pos) : NextKey(pos);
        if (found < 0) return -1;
        switch (flags & FIND_RET) {
        case FIND_POS:
            return found;
        case FIND_SIZE: {
            const Packet* p = PacketAt(found);
            return p ? static_cast<LONG>(p->data.size()) : -1;
        }
        case FIND_LENGTH:
            return 1;
        case FIND_INDEX:
            return found - start_;
        default:
            return -1;
        }
    }

    HRESULT ReadFormat(LONG pos, void* format, LONG* size) override {
        if (writing_ || !reading_) return AVIStreamReadFormat(source_, pos, format, size);
        if (size == nullptr) return AVIERR_BADPARAM;
        const auto have = static_cast<LONG>(format_.size());
        if (format == nullptr) {
            *size = have;
            return AVIERR_OK;
        }
        if (*size < 0) return AVIERR_BADSIZE;
        const LONG n = std::min(*size, have);
        std::memcpy(format, format_.data(), static_cast<std::size_t>(n));
        *size = n;
        return n < have ? AVIERR_BUFFERTOOSMALL : AVIERR_OK;
    }

    HRESULT Read(LONG start, LONG samples, void* buffer, LONG buffer_size, LONG* bytes,
                 LONG* samples_read) override {
        if (bytes) *bytes = 0;
        if (samples_read) *samples_read = 0;
        if (writing_) return AVIERR_UNSUPPORTED;
        if (samples < AVISTREAMREAD_CONVENIENT || buffer_size < 0) return AVIERR_BADPARAM;
        if (!reading_ || samples == 0 || start < start_ || start >= start_ + length_)
            return AVIERR_OK;
        const Packet* p = PacketAt(start);
        if (p == nullptr) return failure_;
        const auto n = static_cast<LONG>(p->data.size());
        if (buffer != nullptr) {
            if (n > buffer_size) {
                if (bytes) *bytes = n;
                return AVIERR_BUFFERTOOSMALL;
            }
            std::memcpy(buffer, p->data.data(), p->data.size());
        }
        if (bytes) *bytes = n;
        if (samples_read) *samples_read = 1;
        return AVIERR_OK;
    }

    // Writing: the format of the pictures that will be written.
    HRESULT SetFormat(LONG pos, const void* format, LONG size) override {
        if (reading_ && length_ > 0) return AVIERR_UNSUPPORTED;
        if (format == nullptr || size < 40) return AVIERR_BADPARAM;
        DibLayout layout;
        DWORD compression = 0;
        if (!ParseFormat(static_cast<const std::uint8_t*>(format), static_cast<std::size_t>(size),
                         layout, &compression) ||
            (compression != BI_RGB && compression != BI_BITFIELDS))
            return AVIERR_BADFORMAT;
        if (writing_) {
            // The same size again changes nothing; another is refused.
            return layout.width == in_layout_.width && layout.height == in_layout_.height
                       ? AVIERR_OK
                       : AVIERR_UNSUPPORTED;
        }
        AVISTREAMINFO si{};
        HRESULT hr = AVIStreamInfo(source_, &si, sizeof si);
        if (hr != AVIERR_OK) return hr;
        auto encoder = std::make_unique<Encoder>();
        hr = encoder->Open(info_c_, layout.width, layout.height, si.dwScale, si.dwRate, settings_);
        if (hr != AVIERR_OK) return hr;
        std::vector<std::uint8_t> out = encoder->Format();
        hr = AVIStreamSetFormat(source_, pos, out.data(), static_cast<LONG>(out.size()));
        if (hr != AVIERR_OK) return hr;
        encoder_ = std::move(encoder);
        converter_ = std::make_unique<PictureConverter>(layout, encoder_->PixelFormat());
        in_layout_ = layout;
        format_ = std::move(out);
        writing_ = true;
        reading_ = false;
        epoch_ = pos;
        return AVIERR_OK;
    }

    HRESULT Write(LONG start, LONG samples, const void* buffer, LONG size, DWORD,
                  LONG* samples_written, LONG* bytes_written) override {
        if (samples_written) *samples_written = 0;
        if (bytes_written) *bytes_written = 0;
        if (!writing_) return AVIERR_BADFORMAT;
        if (samples != 1 || buffer == nullptr) return AVIERR_BADPARAM;
        if (static_cast<std::size_t>(size) < in_layout_.image) return AVIERR_BADSIZE;
        if (start < last_written_) return AVIERR_UNSUPPORTED;
        FramePtr frame = converter_->Convert(static_cast<const std::uint8_t*>(buffer));
        if (!frame) return AVIERR_MEMORY;
        const bool key = (start - epoch_) % std::max<LONG>(settings_.key_every, 1) == 0;
        HRESULT hr = encoder_->Send(frame.get(), start, key);
        if (hr == AVIERR_OK) hr = WritePackets();
        if (hr != AVIERR_OK) return hr;
        last_written_ = start + 1;
        if (samples_written) *samples_written = 1;
        if (bytes_written) *bytes_written = size;
        return AVIERR_OK;
    }

    HRESULT Delete(LONG, LONG) override { return AVIERR_UNSUPPORTED; }
    HRESULT ReadData(FOURCC id, void* data, LONG* size) override {
        return AVIStreamReadData(source_, id, data, size);
    }
    HRESULT WriteData(FOURCC id, const void* data, LONG size) override {
        return AVIStreamWriteData(source_, id, data, size);
    }
    HRESULT SetInfo(const AVISTREAMINFO*, LONG) override { return AVIERR_UNSUPPORTED; }

private:
    ~CompressedStream() override {
        feeder_.reset(); // its thread reads the source
        AVIStreamRelease(source_);
    }

    LONG Interval() const { return std::max<LONG>(settings_.key_every, 1); }

    bool KnownKey(LONG pos) const {
        if (auto it = cache_.find(pos); it != cache_.end()) return it->second.key;
        return (pos - start_) % Interval() == 0 || restarts_.count(pos) > 0;
    }

    LONG PrevKey(LONG pos) const {
        for (LONG p = pos; p >= start_; --p)
            if (KnownKey(p)) return p;
        return -1;
    }

    LONG NextKey(LONG pos) const {
        for (LONG p = pos; p < start_ + length_; ++p)
            if (KnownKey(p)) return p;
        return -1;
    }

    // The packet of frame Pos, compressing up to it; null on failure (the
    // code in failure_).
    const Packet* PacketAt(LONG pos) {
        if (auto it = cache_.find(pos); it != cache_.end()) return &it->second;
        // Frames already sent come out in order, so Pos must lie between
        // the oldest frame not yet out and the next one to send.
        if (!encoder_ || flushed_ || pos < pending_ || pos > next_) {
            HRESULT hr = Restart(pos);
            if (hr != AVIERR_OK) {
                failure_ = hr;
                return nullptr;
            }
        }
        while (cache_.find(pos) == cache_.end()) {
            HRESULT hr = AVIERR_OK;
            if (next_ < start_ + length_) {
                FramePtr frame = feeder_->Take(next_);
                if (!frame) {
                    failure_ = AVIERR_FILEREAD;
                    return nullptr;
                }
                hr = encoder_->Send(frame.get(), next_, (next_ - epoch_) % Interval() == 0);
                ++next_;
            } else if (!flushed_) {
                hr = encoder_->Send(nullptr, 0, false);
                flushed_ = true;
            } else {
                failure_ = AVIERR_COMPRESSOR; // the encoder lost the frame
                return nullptr;
            }
            std::deque<Packet> out;
            if (hr == AVIERR_OK) hr = encoder_->Take(out);
            if (hr != AVIERR_OK) {
                failure_ = hr;
                encoder_.reset();
                return nullptr;
            }
            for (Packet& p : out) {
                pending_ = std::max(pending_, p.pos + 1);
                cache_[p.pos] = std::move(p);
            }
        }
        // Keep a few packets behind the one asked for.
        while (!cache_.empty() && cache_.begin()->first < pos - 4)
            cache_.erase(cache_.begin());
        return &cache_.at(pos);
    }

    HRESULT Restart(LONG pos) {
        encoder_ = std::make_unique<Encoder>();
        HRESULT hr = encoder_->Open(info_c_, width_, height_, scale_, rate_, settings_);
        if (hr != AVIERR_OK) {
            encoder_.reset();
            return hr;
        }
        cache_.clear();
        flushed_ = false;
        next_ = pos;
        pending_ = pos;
        epoch_ = pos;
        if ((pos - start_) % Interval() != 0) restarts_.insert(pos);
        return AVIERR_OK;
    }

    HRESULT WritePackets() {
        std::deque<Packet> out;
        HRESULT hr = encoder_->Take(out);
        for (Packet& p : out) {
            if (hr != AVIERR_OK) break;
            hr = AVIStreamWrite(source_, p.pos, 1, p.data.data(), static_cast<LONG>(p.data.size()),
                                p.key ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
        }
        return hr;
    }

    void FinishWriting() {
        if (!writing_ || !encoder_) return;
        if (encoder_->Send(nullptr, 0, false) == AVIERR_OK) WritePackets();
        encoder_.reset();
    }

    std::atomic<ULONG> refs_{1};
    PAVISTREAM source_;
    CompressorInfo info_c_;
    EncoderSettings settings_;
    std::vector<std::uint8_t> format_;
    std::unique_ptr<Encoder> encoder_;

    // Reading.
    bool reading_ = false;
    LONG width_ = 0, height_ = 0;
    DWORD scale_ = 1, rate_ = 1;
    LONG start_ = 0, length_ = 0;
    std::unique_ptr<PictureFeeder> feeder_;
    LONG next_ = 0;    // the next frame to send to the encoder
    LONG pending_ = 0; // frames before this one are out of the encoder
    LONG epoch_ = 0;   // key frames count from here
    bool flushed_ = false;
    std::map<LONG, Packet> cache_;
    std::set<LONG> restarts_; // where a read out of order began a key frame
    HRESULT failure_ = AVIERR_ERROR;

    // Writing.
    bool writing_ = false;
    DibLayout in_layout_;
    std::unique_ptr<PictureConverter> converter_;
    LONG last_written_ = 0;
};

} // namespace

std::vector<CompressorInfo> InstalledCompressors() {
    std::vector<CompressorInfo> out;
    for (const Entry& e : kEntries)
        if (Installed(e)) out.push_back(InfoOf(e, Code(e.codes[0])));
    return out;
}

std::optional<CompressorInfo> FindCompressor(FOURCC handler) {
    const Entry* e = EntryOf(handler);
    if (e == nullptr || !Installed(*e)) return std::nullopt;
    // Uncompressed is named "DIB " whatever code asked for it.
    return InfoOf(*e, *e->encoder ? handler : comptypeDIB);
}

LONG KeyFrameInterval(const CompressorInfo& c, const AVICOMPRESSOPTIONS& o) {
    if (c.intra_only) return 1;
    if ((o.dwFlags & AVICOMPRESSF_KEYFRAMES) && o.dwKeyFrameEvery > 0)
        return static_cast<LONG>(std::min<DWORD>(o.dwKeyFrameEvery, 0x7FFFFFFF));
    const Entry* e = EntryOf(c.handler);
    return e ? e->default_key_every : 1;
}

bool ThreadSafeToRead(PAVISTREAM stream) {
    if (const auto* h = dynamic_cast<const StreamHandler*>(stream)) return h->ReadOnly();
    if (IsEditStream(stream)) {
        for (const EditSegment& s : EditStreamSegments(stream))
            if (!ThreadSafeToRead(s.source)) return false;
        return true;
    }
    return false;
}

HRESULT AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                                const AVICOMPRESSOPTIONS* options, const void*) {
    if (compressed == nullptr) return AVIERR_BADPARAM;
    *compressed = nullptr;
    if (source == nullptr || options == nullptr) return AVIERR_BADPARAM;
    AVISTREAMINFO si{};
    HRESULT hr = AVIStreamInfo(source, &si, sizeof si);
    if (hr != AVIERR_OK) return hr;
    if (si.fccType == streamtypeAUDIO) {
        // Audio changes only its format: the same format is the stream itself.
        if (options->lpFormat == nullptr || options->cbFormat == 0) {
            AVIStreamAddRef(source);
            *compressed = source;
            return AVIERR_OK;
        }
        std::vector<std::uint8_t> own;
        if (ReadWholeFormat(source, static_cast<LONG>(si.dwStart), own) == AVIERR_OK &&
            own.size() == options->cbFormat &&
            std::memcmp(own.data(), options->lpFormat, own.size()) == 0) {
            AVIStreamAddRef(source);
            *compressed = source;
            return AVIERR_OK;
        }
        return MakeAudioConversionStream(compressed, source, options->lpFormat,
                                         static_cast<LONG>(options->cbFormat));
    }
    if (si.fccType != streamtypeVIDEO) return AVIERR_UNSUPPORTED;
    if (options->fccHandler == 0) return AVIERR_NOCOMPRESSOR;
    std::optional<CompressorInfo> c = FindCompressor(options->fccHandler);
    if (!c) return AVIERR_NOCOMPRESSOR;
    auto* stream = new CompressedStream(source, *c, SettingsFrom(*c, *options));
    hr = stream->OpenReading();
    if (hr != AVIERR_OK) {
        stream->Release();
        return hr;
    }
    *compressed = stream;
    return AVIERR_OK;
}

} // namespace lum::platform::vfw
