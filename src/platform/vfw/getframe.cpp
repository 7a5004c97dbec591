// The frame decoder calls and the built-in codec for uncompressed and RLE
// frames.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "platform/base/globalmem.h"
#include "platform/base/rle.h"
#include "platform/vfw/codectags.h"
#include "platform/vfw/editstream.h"
#include "platform/vfw/framecodec.h"
#include "platform/vfw/handler.h"
#include "platform/vfw/readahead.h"
#include "platform/vfw/riff.h"

namespace lum::platform::vfw {

// ---- StreamFacts ----

bool StreamFacts::Empty(LONG rel) const {
    return AVIStreamFindSample(stream, rel + start, FIND_SIZE | FIND_PREV) <= 0;
}

LONG StreamFacts::PrevKey(LONG rel) const {
    LONG p = AVIStreamFindSample(stream, rel + start, FIND_PREV | FIND_KEY);
    return p < 0 ? -1 : p - start;
}

LONG StreamFacts::PrevNonEmpty(LONG rel) const {
    LONG p = AVIStreamFindSample(stream, rel + start, FIND_PREV | FIND_ANY);
    return p < 0 ? -1 : p - start;
}

std::vector<std::uint8_t> StreamFacts::FormatAt(LONG rel) const {
    LONG size = 0;
    if (AVIStreamReadFormat(stream, rel + start, nullptr, &size) != AVIERR_OK || size <= 0)
        return {};
    std::vector<std::uint8_t> f(static_cast<std::size_t>(size));
    if (AVIStreamReadFormat(stream, rel + start, f.data(), &size) != AVIERR_OK) return {};
    f.resize(static_cast<std::size_t>(size));
    return f;
}

bool StreamFacts::ReadSample(LONG rel, std::vector<std::uint8_t>& buffer, std::size_t padding,
                             std::size_t* size) const {
    LONG bytes = 0;
    if (AVIStreamRead(stream, rel + start, 1, nullptr, 0, &bytes, nullptr) != AVIERR_OK ||
        bytes < 0)
        return false;
    const auto need = static_cast<std::size_t>(bytes) + padding;
    if (buffer.size() < need) buffer.resize(need);
    LONG got = 0, samples = 0;
    if (bytes > 0 &&
        (AVIStreamRead(stream, rel + start, 1, buffer.data(), bytes, &got, &samples) != AVIERR_OK ||
         got != bytes))
        return false;
    std::memset(buffer.data() + bytes, 0, padding);
    *size = static_cast<std::size_t>(bytes);
    return true;
}

namespace {

// ---- The built-in codec ----

// Uncompressed frames are copied or converted from their own sample (an
// empty sample shows the frame before it). RLE frames are decoded onto the
// previous picture from the nearest key frame on, so deltas carry the
// pixels they skip; the pictures are 8-bit index images.
class BuiltinCodec final : public FrameCodec {
public:
    BuiltinCodec(const StreamFacts& facts, const DibLayout& layout, DWORD compression)
        : facts_(facts), native_(layout), rle_(compression == BI_RLE8 || compression == BI_RLE4),
          rle8_(compression == BI_RLE8) {
        if (rle_) {
            // The picture kept between RLE frames: one index a byte.
            native_.bits = 8;
            native_.stride = DibStride(native_.width, 8);
            native_.image = native_.stride * static_cast<std::size_t>(native_.height);
            picture_.assign(native_.image, 0);
        }
    }

    const DibLayout& Native() const override { return native_; }

    DibLayout BestOutput() const override {
        if (rle_) return Rgb24Layout(native_.width, native_.height);
        return native_;
    }

    bool Decode(LONG rel, DibLayout& out, std::uint8_t* pixels) override {
        return rle_ ? DecodeRleFrame(rel, out, pixels) : DecodeRaw(rel, out, pixels);
    }

private:
    // The source layout in effect at Rel (palette changes are format
    // changes); false when the format changed into one of another shape.
    bool LayoutAt(LONG rel, DibLayout& layout) {
        std::vector<std::uint8_t> f = facts_.FormatAt(rel);
        if (f != format_) {
            DibLayout parsed;
            if (!ParseFormat(f.data(), f.size(), parsed) || parsed.width != native_.width ||
                parsed.height != native_.height ||
                parsed.bits != (rle_ ? (rle8_ ? 8 : 4) : native_.bits))
                return false;
            format_ = std::move(f);
            current_ = std::move(parsed);
        }
        layout = current_;
        return true;
    }

    bool DecodeRaw(LONG rel, DibLayout& out, std::uint8_t* pixels) {
        LONG s = facts_.Empty(rel) ? facts_.PrevNonEmpty(rel) : rel;
        if (s < 0) return false;
        DibLayout src;
        std::size_t size = 0;
        if (!LayoutAt(s, src) || !facts_.ReadSample(s, sample_, 0, &size)) return false;
        if (size < src.image) return false; // a damaged frame shows nothing
        ++stats_.frames_decoded;
        if (out.Indexed()) out.colors = src.colors;
        ConvertPicture(src, sample_.data(), out, pixels);
        ++stats_.frames_converted;
        return true;
    }

    bool DecodeRleFrame(LONG rel, DibLayout& out, std::uint8_t* pixels) {
        LONG key = facts_.PrevKey(rel);
        if (key < 0) key = 0;
        LONG from;
        if (decoded_ >= 0 && decoded_ <= rel && key <= decoded_ + 1) {
            // Forward from the picture we have, across a key frame too: RLE
            // key frames are drawn over the picture like any other.
            from = decoded_ + 1;
        } else {
            std::fill(picture_.begin(), picture_.end(), 0);
            from = key;
            decoded_ = -1;
            ++stats_.restarts;
        }
        for (LONG s = from; s <= rel; ++s) {
            std::size_t size = 0;
            if (!facts_.Empty(s)) {
                if (!facts_.ReadSample(s, sample_, 0, &size)) {
                    decoded_ = -1; // the picture is incomplete now
                    return false;
                }
                DecodeRle(sample_.data(), size, rle8_, native_.width, native_.height,
                          picture_.data(), static_cast<std::ptrdiff_t>(native_.stride));
                ++stats_.frames_decoded;
            }
            decoded_ = s;
        }
        DibLayout src;
        if (!LayoutAt(rel, src)) return false;
        DibLayout indices = native_;
        indices.colors = src.colors;
        if (out.Indexed()) out.colors = src.colors;
        ConvertPicture(indices, picture_.data(), out, pixels);
        ++stats_.frames_converted;
        return true;
    }

    const StreamFacts& facts_;
    DibLayout native_;
    bool rle_;
    bool rle8_;
    std::vector<std::uint8_t> format_;
    DibLayout current_;
    std::vector<std::uint8_t> sample_;
    std::vector<std::uint8_t> picture_;
    LONG decoded_ = -1; // last sample applied to picture_
};

// ---- The decoder object ----

class FrameDecoder final : public IGetFrame {
public:
    explicit FrameDecoder(StreamFacts facts) : facts_(std::move(facts)) {}
    ~FrameDecoder() override {
        ahead_.reset(); // its thread reads the stream through Facts
        codec_.reset();
        GlobalFree(dib_);
        AVIStreamRelease(facts_.stream);
    }

    bool Open(const BITMAPINFOHEADER* wanted) {
        // A container's uncompressed pictures are libavcodec's to lay out.
        if (!facts_.timeline) codec_ = MakeBuiltinCodec(facts_);
        if (!codec_) codec_ = MakeLavCodec(facts_);
        if (!codec_) return false;
        if (wanted == nullptr || wanted == AVIGETFRAMEF_BESTDISPLAYFMT) {
            out_ = codec_->BestOutput();
        } else {
            const auto* masks = reinterpret_cast<const std::uint8_t*>(wanted) + 40;
            if (wanted->biSize < 40 ||
                !OutputLayout(*wanted, wanted->biCompression == BI_BITFIELDS ? masks : nullptr,
                              codec_->Native(), out_))
                return false;
        }
        header_size_ = PackedHeader(out_).size();
        dib_ = GlobalAlloc(GHND, header_size_ + out_.image);
        return dib_ != nullptr;
    }

    void* GetFrame(LONG pos) override {
        const std::int64_t rel64 = static_cast<std::int64_t>(pos) - facts_.start;
        if (rel64 < 0 || rel64 >= facts_.length) return nullptr;
        const auto rel = static_cast<LONG>(rel64);
        auto* block = static_cast<std::uint8_t*>(GlobalLock(dib_));
        const bool ok = Walk(rel) ? Ahead(rel, block + header_size_)
                                  : codec_->Decode(rel, out_, block + header_size_);
        if (!ok) return nullptr;
        std::vector<std::uint8_t> header = PackedHeader(out_);
        std::memcpy(block, header.data(), std::min(header.size(), header_size_));
        return block;
    }

    // The decoder's own picture; never while a walk is read ahead, whose
    // pictures come as DIBs.
    const AVFrame* GetNative(LONG pos) {
        const std::int64_t rel64 = static_cast<std::int64_t>(pos) - facts_.start;
        if (ahead_ || rel64 < 0 || rel64 >= facts_.length) return nullptr;
        const auto rel = static_cast<LONG>(rel64);
        step_ = last_ >= 0 ? rel - last_ : 0;
        last_ = rel;
        return codec_->DecodeNative(rel);
    }

    GetFrameStats Stats() const override {
        GetFrameStats s = codec_->Stats();
        s.frames_decoded += twin_stats_.frames_decoded;
        s.frames_converted += twin_stats_.frames_converted;
        s.restarts += twin_stats_.restarts;
        s.read_ahead = twin_stats_.read_ahead;
        return s;
    }

private:
    // Follows the requests: true when Rel carries on the walk that is read
    // ahead. Three requests in even steps of 2 or more start reading ahead
    // from the third; any other request ends it.
    bool Walk(LONG rel) {
        const LONG previous = last_;
        const LONG step = previous >= 0 ? rel - previous : 0;
        last_ = rel;
        if (ahead_ && step == step_) return true;
        if (ahead_) {
            ahead_.reset();
            codec_->Follow(previous); // it may not have seen the twin's last request
        }
        const bool even = step >= 2 && step == step_;
        step_ = step;
        if (even && ReadAheadPossible()) {
            // Threaded as the caller's decoder is, so that it decodes its runs
            // with the very same work (frame threads change when pictures
            // come out, and so what a run decodes at its edges).
            if (auto twin = MakeLavCodec(facts_)) {
                ahead_ =
                    std::make_unique<ReadAhead>(std::move(twin), out_, rel, step, facts_.length);
                run_ = 0;
            }
        }
        return false;
    }

    // Rel in the walk read ahead: runs of odd number come from the twin.
    bool Ahead(LONG rel, std::uint8_t* pixels) {
        if (codec_->Independent(rel - step_, rel)) ++run_;
        if (run_ % 2 == 1) return ahead_->Take(rel, pixels, twin_stats_);
        codec_->Follow(rel - step_);
        return codec_->Decode(rel, out_, pixels);
    }

    // A twin reads the stream beside the caller: only our own file
    // handlers' streams of files opened for reading allow that.
    // LUM_READAHEAD=0 turns it off, to compare.
    bool ReadAheadPossible() {
        if (!codec_->CanReadAhead() || std::thread::hardware_concurrency() < 2) return false;
        if (const char* e = std::getenv("LUM_READAHEAD"); e && std::string_view(e) == "0")
            return false;
        const auto* handler = dynamic_cast<const StreamHandler*>(facts_.stream);
        return handler != nullptr && handler->ReadOnly();
    }

    StreamFacts facts_;
    std::unique_ptr<FrameCodec> codec_;
    DibLayout out_;
    std::size_t header_size_ = 0;
    HGLOBAL dib_ = nullptr;
    LONG last_ = -1; // the position asked for last
    LONG step_ = 0;  // the step from the one before it
    std::unique_ptr<ReadAhead> ahead_;
    LONG run_ = 0; // the run of the walk read ahead that the last request was in
    GetFrameStats twin_stats_;
};

} // namespace

std::unique_ptr<FrameCodec> MakeBuiltinCodec(const StreamFacts& facts) {
    DibLayout layout;
    DWORD compression = 0;
    if (!ParseFormat(facts.format.data(), facts.format.size(), layout, &compression))
        return nullptr;
    return std::make_unique<BuiltinCodec>(facts, layout, compression);
}

const AVFrame* AVIStreamGetFrameNative(PGETFRAME decoder, LONG pos) {
    auto* d = dynamic_cast<FrameDecoder*>(decoder);
    return d ? d->GetNative(pos) : nullptr;
}

PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, const BITMAPINFOHEADER* wanted) {
    if (stream == nullptr) return nullptr;
    // An edit stream decodes each segment from its own source.
    if (IsEditStream(stream)) return EditStreamGetFrameOpen(stream, wanted);
    StreamFacts facts;
    if (AVIStreamInfo(stream, &facts.info, sizeof facts.info) != AVIERR_OK ||
        facts.info.fccType != streamtypeVIDEO)
        return nullptr;
    facts.stream = stream;
    facts.start = static_cast<LONG>(facts.info.dwStart);
    facts.length = static_cast<LONG>(facts.info.dwLength);
    facts.timeline = dynamic_cast<FrameTimeline*>(stream);
    facts.samples =
        facts.timeline ? std::max(facts.timeline->SampleCount(), facts.length) : facts.length;
    facts.format = facts.FormatAt(0);
    if (facts.format.size() < 40) return nullptr;
    AVIStreamAddRef(stream);
    auto decoder = std::make_unique<FrameDecoder>(std::move(facts));
    if (!decoder->Open(wanted)) return nullptr;
    return decoder.release();
}

std::string AVIStreamDecoderName(PAVISTREAM stream) {
    AVISTREAMINFO info{};
    if (stream == nullptr || AVIStreamInfo(stream, &info, sizeof info) != AVIERR_OK ||
        info.fccType != streamtypeVIDEO)
        return {};
    StreamFacts facts;
    facts.stream = stream;
    facts.info = info;
    facts.format = facts.FormatAt(0);
    if (facts.format.size() < 40) return {};
    if (auto* timeline = dynamic_cast<FrameTimeline*>(stream))
        return DecoderName(timeline->CodecParameters());
    DibLayout layout;
    if (ParseFormat(facts.format.data(), facts.format.size(), layout)) return "built-in";
    return VideoDecoderName(GetLE32(&facts.format[16]), info.fccHandler);
}

void* AVIStreamGetFrame(PGETFRAME decoder, LONG pos) {
    return decoder ? decoder->GetFrame(pos) : nullptr;
}

HRESULT AVIStreamGetFrameClose(PGETFRAME decoder) {
    if (decoder == nullptr) return AVIERR_BADHANDLE;
    delete decoder;
    return AVIERR_OK;
}

} // namespace lum::platform::vfw
