// The libavcodec codec: every compressed video format that libavcodec
// decodes, found by the format's compression code or the stream's handler
// through libavformat's tag tables, or, for a stream of the libavformat
// handler, as its container describes the codec.
//
// Decoding follows the AVI's own order. A frame is fetched by decoding from
// the nearest key frame at or before it; frames on the way that nobody asked
// for are neither converted nor, when nothing refers to them, decoded at all
// (skip_frame). Each packet carries its sample number as its time stamp, so
// the wanted picture is recognised when the decoder hands it out, however
// late frame threads or B-frames make that. Reading frame after frame keeps
// the pictures handed out around the wanted one, so every frame is decoded
// once; a walk in larger steps skips unreferenced frames behind the wanted
// one too, keeps only its picture, and drains the decoder instead of
// feeding it on when the next step lies past a key frame.
//
// Codecs with B-frames store frames out of presentation order. For them a
// FrameOrder, built from libavcodec's bitstream parsers, tells which sample
// holds the frame at each presentation position; for streams whose
// container has presentation times, the container's order tells it.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "platform/vfw/codectags.h"
#include "platform/vfw/framecodec.h"
#include "platform/vfw/riff.h"
#include "platform/vfw/timeline.h"

namespace lum::platform::vfw {

namespace {

// ---- Presentation order ----

// Which sample holds the frame at each presentation position, for streams
// whose frames are stored out of presentation order.
class Order {
public:
    virtual ~Order() = default;
    // Frames with a position.
    virtual LONG Count() = 0;
    // The sample holding position N, and the position of sample S; -1 for none.
    virtual LONG SampleAt(LONG n) = 0;
    virtual LONG PresentationOf(LONG s) = 0;
    // Whether the decoder may skip sample S's picture when nobody wants it.
    virtual bool Discardable(LONG s) = 0;
};

// The order a container's presentation times give (the libavformat
// handler's streams).
class TimelineOrder final : public Order {
public:
    TimelineOrder(FrameTimeline& timeline, LONG frames) : timeline_(timeline), frames_(frames) {}
    LONG Count() override { return frames_; }
    LONG SampleAt(LONG n) override { return timeline_.SampleOfFrame(n); }
    LONG PresentationOf(LONG s) override { return timeline_.FrameOfSample(s); }
    // The decoder itself knows which pictures nothing refers to.
    bool Discardable(LONG) override { return true; }

private:
    FrameTimeline& timeline_;
    LONG frames_;
};

// Whether the first frames of a container's order differ from the order
// of their samples.
bool TimelineReorders(FrameTimeline& timeline) {
    LONG last = -1;
    for (LONG s = 0; s < std::min<LONG>(timeline.SampleCount(), 120); ++s) {
        const LONG f = timeline.FrameOfSample(s);
        if (f < 0) continue;
        if (f < last) return true;
        last = f;
    }
    return false;
}

// ---- FrameOrder ----

// Presentation positions of the frames of a codec with B-frames. Positions
// count the samples with data (an empty sample is a decoder's lag marker
// there, not a frame). For MPEG-style codecs a B-frame is shown at once and
// every other frame when the next non-B frame arrives; for H.264 and HEVC
// the frames between two key frames are shown in picture order count order.
// Parsing is done on demand and remembered.
class FrameOrder final : public Order {
public:
    enum class Kind { None, Anchor, Poc };

    FrameOrder(const StreamFacts& facts, Kind kind, AVCodecID id,
               const std::vector<std::uint8_t>& extradata)
        : facts_(facts), kind_(kind), vops_(id == AV_CODEC_ID_MPEG4) {
        parser_ = av_parser_init(id);
        ctx_ = avcodec_alloc_context3(nullptr);
        if (parser_ && ctx_) {
            parser_->flags |= PARSER_FLAG_COMPLETE_FRAMES;
            ctx_->codec_id = id;
            if (!extradata.empty()) {
                ctx_->extradata = static_cast<std::uint8_t*>(
                    av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
                if (ctx_->extradata) {
                    std::memcpy(ctx_->extradata, extradata.data(), extradata.size());
                    ctx_->extradata_size = static_cast<int>(extradata.size());
                }
            }
        }
        coded_before_.resize(static_cast<std::size_t>(facts.samples) + 1, 0);
        for (LONG i = 0; i < facts.samples; ++i)
            coded_before_[i + 1] = coded_before_[i] + (facts.Empty(i) ? 0 : 1);
        info_.resize(static_cast<std::size_t>(facts.samples));
        presentation_.assign(static_cast<std::size_t>(facts.samples), kUnknown);
    }
    ~FrameOrder() {
        if (parser_) av_parser_close(parser_);
        avcodec_free_context(&ctx_);
    }
    FrameOrder(const FrameOrder&) = delete;
    FrameOrder& operator=(const FrameOrder&) = delete;

    bool Usable() const { return parser_ != nullptr && ctx_ != nullptr; }
    LONG Count() override { return coded_before_.back(); }

    // Whether the first frames show any B-frame reordering.
    bool ProbeReordering() {
        LONG seen = 0;
        int last_poc = 0;
        for (LONG s = 0; s < facts_.samples && seen < 120; ++s) {
            const Info* i = Parsed(s);
            if (i == nullptr) continue;
            if (kind_ == Kind::Anchor && i->type == AV_PICTURE_TYPE_B) return true;
            if (kind_ == Kind::Poc && seen > 0 && !i->key && i->poc < last_poc) return true;
            last_poc = i->poc;
            ++seen;
        }
        return false;
    }

    // Presentation position of the frame in sample S; -1 for none.
    LONG PresentationOf(LONG s) override {
        if (s < 0 || s >= facts_.samples) return -1;
        LONG& known = presentation_[static_cast<std::size_t>(s)];
        if (known == kUnknown) known = Compute(s);
        return known;
    }

    // Whether the decoder may skip sample S's picture when nobody wants it:
    // not when skipping it would lose the picture it holds back.
    bool Discardable(LONG s) override {
        const Info* i = Parsed(s);
        return i == nullptr || !i->stashes;
    }

    // The sample holding presentation position N; -1 for none.
    LONG SampleAt(LONG n) override {
        if (n < 0 || n >= Count()) return -1;
        // The (n+1)-th sample with data, then outwards from it.
        LONG j0 =
            static_cast<LONG>(std::upper_bound(coded_before_.begin(), coded_before_.end(), n) -
                              coded_before_.begin() - 1);
        for (LONG d = 0; d <= kWindow; ++d) {
            for (LONG j : {j0 + d, j0 - d}) {
                if (j < 0 || j >= facts_.samples || facts_.Empty(j)) continue;
                if (PresentationOf(j) == n) return j;
                if (d == 0) break;
            }
        }
        return -1;
    }

private:
    static constexpr LONG kWindow = 48;
    static constexpr LONG kUnknown = -2;

    LONG Compute(LONG s) {
        const Info* info = Parsed(s);
        if (info == nullptr) return -1;
        const LONG c = coded_before_[s];
        if (kind_ == Kind::Anchor) {
            if (info->type == AV_PICTURE_TYPE_B) return c - 1;
            LONG a = s + 1;
            for (; a < facts_.samples && a <= s + kWindow; ++a) {
                const Info* n = Parsed(a);
                if (n && n->type != AV_PICTURE_TYPE_B) return coded_before_[a] - 1;
            }
            // The last non-B frame is shown last; one with no B-frame behind
            // it within reach is shown in its place.
            return a >= facts_.samples ? Count() - 1 : c;
        }
        LONG period = std::max<LONG>(facts_.PrevKey(s), 0);
        LONG rank = 0;
        for (LONG i = period; i < facts_.samples && i < s + kWindow; ++i) {
            if (i > s && i != period && facts_.PrevKey(i) == i) break; // the next period
            const Info* o = Parsed(i);
            if (o && i != s && o->poc < info->poc) ++rank;
        }
        return coded_before_[period] + rank;
    }

    struct Info {
        bool parsed = false;
        bool ok = false;
        bool key = false;
        int type = 0;
        int poc = 0;
        bool stashes = false; // leaves a picture of its own for the next sample
    };

    // The parser keeps state from frame to frame (H.264's picture order
    // counts follow on from the frame before), so samples are parsed in
    // order: from the nearest key frame when S does not follow the last
    // one parsed.
    const Info* Parsed(LONG s) {
        if (s < 0 || s >= facts_.samples) return nullptr;
        Info& i = info_[static_cast<std::size_t>(s)];
        if (!i.parsed) {
            const LONG from = last_parsed_ == s - 1 ? s : std::max<LONG>(facts_.PrevKey(s), 0);
            if (last_parsed_ != s - 1) stash_ = 0; // a key frame has nothing held over
            for (LONG j = from; j <= s; ++j)
                ParseOne(j);
        }
        return i.ok ? &i : nullptr;
    }

    void ParseOne(LONG s) {
        Info& i = info_[static_cast<std::size_t>(s)];
        last_parsed_ = s;
        i = Info{};
        i.parsed = true;
        std::size_t size = 0;
        if (Usable() && !facts_.Empty(s) &&
            facts_.ReadSample(s, buffer_, AV_INPUT_BUFFER_PADDING_SIZE, &size)) {
            std::uint8_t* out = nullptr;
            int out_size = 0;
            av_parser_parse2(parser_, ctx_, &out, &out_size, buffer_.data(), static_cast<int>(size),
                             s, s, 0);
            i.ok = true;
            i.type = parser_->pict_type;
            i.poc = parser_->output_picture_number;
            i.key = facts_.PrevKey(s) == s;
            if (vops_) Unpack(i, size);
        }
    }

    // MPEG-4 "packed" samples (an anchor and the B picture shown before it
    // in one sample, then a placeholder) are decoded one picture a sample:
    // the decoder holds the second picture back and decodes it in place of
    // the next sample's, holding that one's picture back in turn when it
    // has one. So the picture a sample brings is the held-back one when
    // there is one, and its type is that picture's, not the parser's.
    void Unpack(Info& i, std::size_t size) {
        const std::uint8_t* d = buffer_.data();
        // Every sample is searched whole for a second VOP, so the search
        // goes by memchr for the start code's last byte, rare in coded data,
        // not a byte at a time (that was a tenth of a walk's time).
        auto vop_at = [&](std::size_t from) -> std::size_t {
            for (std::size_t k = from + 3; k + 1 < size;) {
                const void* at = std::memchr(d + k, 0xB6, size - 1 - k);
                if (at == nullptr) break;
                k = static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - d);
                if (d[k - 3] == 0 && d[k - 2] == 0 && d[k - 1] == 1) return k - 3;
                ++k;
            }
            return size;
        };
        auto type_of = [&](std::size_t at) {
            switch (d[at + 4] >> 6) {
            case 0:
                return static_cast<int>(AV_PICTURE_TYPE_I);
            case 1:
                return static_cast<int>(AV_PICTURE_TYPE_P);
            case 2:
                return static_cast<int>(AV_PICTURE_TYPE_B);
            default:
                return static_cast<int>(AV_PICTURE_TYPE_S);
            }
        };
        // The decoder takes a held-back picture only from an I or B VOP
        // (its second type bit clear) and only from more than 7 bytes.
        auto holds = [&](std::size_t at) {
            return at < size && size - at > 7 && !(d[at + 4] & 0x40);
        };
        const std::size_t first = vop_at(0);
        if (stash_ != 0) {
            i.type = stash_;
            i.stashes = first < size && holds(first);
            stash_ = i.stashes ? type_of(first) : 0;
            return;
        }
        if (first >= size) return;
        i.type = type_of(first);
        const std::size_t second = vop_at(first + 4);
        i.stashes = second < size && holds(second);
        stash_ = i.stashes ? type_of(second) : 0;
    }

    const StreamFacts& facts_;
    Kind kind_;
    AVCodecParserContext* parser_ = nullptr;
    AVCodecContext* ctx_ = nullptr;
    std::vector<LONG> coded_before_;
    std::vector<Info> info_;
    std::vector<LONG> presentation_; // remembered answers, kUnknown until asked
    std::vector<std::uint8_t> buffer_;
    LONG last_parsed_ = -1;
    bool vops_;     // MPEG-4 part 2: samples may be packed
    int stash_ = 0; // type of the picture held back for the next sample
};

FrameOrder::Kind OrderKind(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_MPEG4:
        return FrameOrder::Kind::Anchor;
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
        return FrameOrder::Kind::Poc;
    default:
        return FrameOrder::Kind::None;
    }
}

// ---- LavCodec ----

class LavCodec final : public FrameCodec {
public:
    explicit LavCodec(const StreamFacts& facts) : facts_(facts) {}
    ~LavCodec() override {
        ClearCache();
        sws_freeContext(sws_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&ctx_);
    }
    LavCodec(const LavCodec&) = delete;
    LavCodec& operator=(const LavCodec&) = delete;

    bool Open() {
        // The library reports through results, not on the error stream.
        static std::once_flag quiet;
        std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
        const std::vector<std::uint8_t>& f = facts_.format;
        const AVCodecParameters* par =
            facts_.timeline ? facts_.timeline->CodecParameters() : nullptr;
        const auto width = par ? static_cast<LONG>(par->width) : static_cast<LONG>(GetLE32(&f[4]));
        const auto height =
            par ? static_cast<LONG>(par->height) : static_cast<LONG>(GetLE32(&f[8]));
        const int bits = GetLE16(&f[14]);
        const FOURCC compression = GetLE32(&f[16]);
        const auto id =
            par ? par->codec_id
                : static_cast<AVCodecID>(VideoCodecId(compression, facts_.info.fccHandler));
        const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
        if (codec == nullptr || width <= 0 || height == 0) return false;
        const LONG rows = height < 0 ? -height : height;
        if (width > 16384 || rows > 16384) return false;
        native_ = Rgb24Layout(width, rows);

        ctx_ = avcodec_alloc_context3(codec);
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!ctx_ || !frame_ || !packet_) return false;
        std::vector<std::uint8_t> extra;
        if (par) {
            // The container's description of the codec, extra data (avcC,
            // hvcC, ...) included, as its demuxer hands it to a decoder.
            if (avcodec_parameters_to_context(ctx_, par) < 0) return false;
            if (par->extradata && par->extradata_size > 0)
                extra.assign(par->extradata, par->extradata + par->extradata_size);
        } else {
            ctx_->width = width;
            ctx_->height = rows;
            ctx_->codec_tag = compression;
            ctx_->bits_per_coded_sample = bits;
            // The format's bytes behind the 40-byte header are the codec's
            // extra data (whatever biSize claims: writers count them in it or
            // not); a stream header data chunk stands in for them.
            if (f.size() > 40) extra.assign(f.begin() + 40, f.end());
            if (extra.empty()) {
                LONG size = 0;
                if (AVIStreamReadData(facts_.stream, ckidSTREAMHANDLERDATA, nullptr, &size) ==
                        AVIERR_OK &&
                    size > 0 && size < (16 << 20)) {
                    extra.resize(static_cast<std::size_t>(size));
                    if (AVIStreamReadData(facts_.stream, ckidSTREAMHANDLERDATA, extra.data(),
                                          &size) != AVIERR_OK)
                        extra.clear();
                }
            }
            if (!extra.empty()) {
                ctx_->extradata = static_cast<std::uint8_t*>(
                    av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
                if (!ctx_->extradata) return false;
                std::memcpy(ctx_->extradata, extra.data(), extra.size());
                ctx_->extradata_size = static_cast<int>(extra.size());
            }
        }
        palettized_ = !par && bits <= 8;
        all_key_ = (facts_.info.dwCaps & AVIFILECAPS_ALLKEYFRAMES) != 0;
        // Frame threads pay off where runs of frames are decoded; a stream of
        // key frames decodes one frame a call, where frame threads would only
        // hold the picture back, so it gets slice threads where the codec
        // has them.
        ctx_->thread_count = 0;
        ctx_->thread_type = all_key_ ? FF_THREAD_SLICE : FF_THREAD_FRAME | FF_THREAD_SLICE;
        if (avcodec_open2(ctx_, codec, nullptr) < 0) return false;
        delays_ = (codec->capabilities & AV_CODEC_CAP_DELAY) != 0;
        blank_.assign(static_cast<std::size_t>(facts_.samples), 0);

        FrameOrder::Kind kind = OrderKind(id);
        std::unique_ptr<FrameOrder> parsed;
        if (kind != FrameOrder::Kind::None && !all_key_) {
            parsed = std::make_unique<FrameOrder>(facts_, kind, id, extra);
            if (!parsed->Usable() || !parsed->ProbeReordering()) parsed.reset();
        }
        if (facts_.timeline && facts_.timeline->Presented()) {
            // A container's times give the order, unless they show none where
            // the pictures are reordered: a copy out of a container without
            // presentation times (AVI) carries decode times only, and the
            // decoder's order is the pictures' own.
            if (parsed && !TimelineReorders(*facts_.timeline))
                order_ = std::move(parsed);
            else
                order_ = std::make_unique<TimelineOrder>(*facts_.timeline, facts_.length);
        } else {
            order_ = std::move(parsed);
        }
        return true;
    }

    const DibLayout& Native() const override { return native_; }
    DibLayout BestOutput() const override { return native_; }

    bool CanReadAhead() const override { return true; }

    void Follow(LONG previous) override {
        last_rel_ = previous;
        // Key frames carry nothing from one to the next: a twin that has
        // decoded nothing yet goes on as though it had decoded Previous,
        // as the caller's decoder would, without starting again.
        if (all_key_ && fed_ < 0) fed_ = std::max<LONG>(SampleOf(previous), -1);
    }

    // Mirrors Decode and Fetch: a stream of key frames starts every frame
    // afresh; otherwise the decoder is drained after Previous when Rel lies
    // behind a key frame past Previous's sample, and starts again when
    // Rel's key frame is more than the next sample.
    bool Independent(LONG previous, LONG rel) override {
        if (previous < 0 || rel - previous < 2 || rel >= facts_.length) return false;
        if (all_key_) return true;
        const LONG before = SampleOf(previous);
        const LONG sample = SampleOf(rel);
        if (before < 0 || sample < 0 || facts_.PrevKey(rel) <= before) return false;
        return StartFor(sample) > before + 1;
    }

    bool Decode(LONG rel, DibLayout& out, std::uint8_t* pixels) override {
        const AVFrame* f = Picture(rel);
        if (f == nullptr) return false;
        if (!Convert(f, out, pixels)) return false;
        ++stats_.frames_converted;
        return true;
    }

    const AVFrame* DecodeNative(LONG rel) override { return Picture(rel); }

private:
    // The decoded picture at position Rel.
    AVFrame* Picture(LONG rel) {
        LONG sample = SampleOf(rel);
        if (sample < 0) return nullptr;
        // Reading frame after frame (as a first request is taken to be)
        // keeps every picture the decoder gives; a walk in larger steps
        // decodes and keeps only what it needs.
        sequential_ = last_rel_ < 0 || (rel >= last_rel_ && rel - last_rel_ <= 1);
        // Where a walk in even steps goes next: a key frame before it means
        // a fresh start there, so nothing decoded past this frame would be
        // of use.
        const LONG next = last_rel_ >= 0 ? rel + (rel - last_rel_) : -1;
        drain_after_ = !sequential_ && last_rel_ >= 0 &&
                       (next <= rel || next >= facts_.length || facts_.PrevKey(next) > sample);
        last_rel_ = rel;
        AVFrame* f = nullptr;
        // A sample the decoder makes no picture of ("nothing changed", an
        // invisible frame) shows the picture before it, as an empty one does.
        while (sample >= 0 && f == nullptr) {
            if (blank_[static_cast<std::size_t>(sample)]) {
                sample = facts_.PrevNonEmpty(sample - 1);
                continue;
            }
            f = Fetch(sample);
            if (f != nullptr || !blank_hit_) break;
            blank_[static_cast<std::size_t>(sample)] = 1;
            if (before_ != nullptr) {
                f = before_; // the last picture the decoder gave before it
                break;
            }
            sample = facts_.PrevNonEmpty(sample - 1);
        }
        return f;
    }

    // The sample that holds the frame at position Rel.
    LONG SampleOf(LONG rel) {
        if (order_) {
            LONG n = std::min(rel, order_->Count() - 1); // the tail repeats the last frame
            return order_->SampleAt(n);
        }
        return facts_.Empty(rel) ? facts_.PrevNonEmpty(rel) : rel;
    }

    // The key frame to start from for sample S: the nearest one at or
    // before it, or the one before that when S is shown before its key
    // frame (an open GOP's leading B-frames need the previous one).
    LONG StartFor(LONG s) {
        LONG key = std::max<LONG>(facts_.PrevKey(s), 0);
        if (order_ && key > 0 && order_->PresentationOf(s) < order_->PresentationOf(key))
            key = std::max<LONG>(facts_.PrevKey(key - 1), 0);
        return key;
    }

    AVFrame* Fetch(LONG s) {
        blank_hit_ = false;
        if (auto it = cache_.find(s); it != cache_.end()) return it->second;
        target_ = s;
        av_frame_free(&before_);
        // Pictures from before are of no use to a walk in steps; letting
        // them go returns their buffers to the decoder's pool.
        if (!sequential_) ClearCache();
        if (all_key_) {
            // Nothing to carry between frames: go straight to the sample.
            if (finished_ || fed_ < 0 || s <= fed_)
                Restart(s);
            else
                fed_ = s - 1;
            return FeedUntil(s);
        }
        const LONG start = StartFor(s);
        // Going on costs no more than starting again when the key frame is
        // the next sample, and keeps what the decoder holds. A sample fed
        // longer ago than the decoder can hold frames back is gone.
        const LONG in_flight =
            std::max(ctx_->thread_count, 1) + std::max(ctx_->has_b_frames, 2) + 2;
        bool restart = fed_ < 0 || finished_ || start > fed_ + 1 || s < fed_ - in_flight;
        if (!restart) {
            AVFrame* f = FeedUntil(s);
            if (f != nullptr || blank_hit_) return f;
            restart = true;
        }
        Restart(start);
        return FeedUntil(s);
    }

    void Restart(LONG start) {
        avcodec_flush_buffers(ctx_);
        ClearCache();
        fed_ = start - 1;
        finished_ = false;
        palette_sent_ = false;
        out_high_ = -1;
        ++stats_.restarts;
    }

    // Feeds samples up to S, then on until S's picture comes out. Frames
    // nothing refers to are skipped on the way to S, and after it too unless
    // the reading is sequential (the next request will want them).
    AVFrame* FeedUntil(LONG s) {
        aim_from_ = fed_; // a sample fed before now may have gone unkept
        const LONG limit =
            std::max(s, fed_) + 8 + 2 * std::max(ctx_->thread_count, 2) + (order_ ? 16 : 0);
        while (cache_.find(s) == cache_.end()) {
            if (fed_ >= s && aim_from_ < s && !order_ &&
                (finished_ || out_high_ > s || (all_key_ && !delays_))) {
                // The decoder went past S, or has nothing more: S brought
                // no picture of its own.
                blank_hit_ = true;
                return nullptr;
            }
            if (finished_) return nullptr;
            if (fed_ + 1 >= facts_.samples) {
                Drain();
                continue;
            }
            if (fed_ >= limit) return nullptr;
            if (drain_after_ && fed_ >= s) {
                // The frame is decoded but held back by frame threads or
                // reordering: let it out without decoding more.
                Drain();
                continue;
            }
            const LONG next = fed_ + 1;
            // Without reordering hardly a frame goes unreferenced, and every
            // picture on the way tells which samples bring none; so only
            // codecs that reorder skip what nothing refers to.
            const bool needed =
                next == s || (sequential_ && next > s) || !order_ || !order_->Discardable(next);
            if (!Send(next, needed ? AVDISCARD_DEFAULT : AVDISCARD_NONREF)) return nullptr;
            fed_ = next;
        }
        return cache_[s];
    }

    bool Send(LONG s, AVDiscard discard) {
        if (facts_.Empty(s)) return true;
        std::size_t size = 0;
        if (!facts_.ReadSample(s, buffer_, AV_INPUT_BUFFER_PADDING_SIZE, &size)) return false;
        av_packet_unref(packet_);
        packet_->data = buffer_.data();
        packet_->size = static_cast<int>(size);
        packet_->pts = packet_->dts = s;
        if (facts_.PrevKey(s) == s) packet_->flags |= AV_PKT_FLAG_KEY;
        if (palettized_) AttachPalette(s);
        ctx_->skip_frame = discard;
        for (;;) {
            int r = avcodec_send_packet(ctx_, packet_);
            if (r == AVERROR(EAGAIN)) {
                Receive();
                continue;
            }
            break; // damaged data is the codec's to conceal
        }
        av_packet_unref(packet_);
        Receive();
        return true;
    }

    // Palette-based codecs take the palette in effect as side data.
    void AttachPalette(LONG s) {
        std::vector<std::uint8_t> f = facts_.FormatAt(s);
        if (palette_sent_ && f == palette_format_) return;
        const std::size_t header = f.size() >= 4 ? GetLE32(f.data()) : 0;
        std::size_t count = f.size() > header ? (f.size() - header) / 4 : 0;
        if (count == 0) return;
        count = std::min<std::size_t>(count, 256);
        std::uint8_t* side = av_packet_new_side_data(packet_, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
        if (side == nullptr) return;
        std::memset(side, 0, AVPALETTE_SIZE);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* q = &f[header + 4 * i];
            PutLE32(side + 4 * i, 0xFF000000u | (static_cast<std::uint32_t>(q[2]) << 16) |
                                      (static_cast<std::uint32_t>(q[1]) << 8) | q[0]);
        }
        palette_format_ = std::move(f);
        palette_sent_ = true;
    }

    void Drain() {
        avcodec_send_packet(ctx_, nullptr);
        Receive();
        finished_ = true; // the decoder must be flushed before it takes more
    }

    void Receive() {
        while (avcodec_receive_frame(ctx_, frame_) == 0) {
            ++stats_.frames_decoded;
            std::int64_t pts =
                frame_->pts != AV_NOPTS_VALUE ? frame_->pts : frame_->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE || pts < 0 || pts >= facts_.samples) {
                av_frame_unref(frame_);
                continue;
            }
            auto key = static_cast<LONG>(pts);
            out_high_ = std::max(out_high_, key);
            if (!sequential_ && key != target_) {
                // The latest picture before the wanted one stands in for it
                // should the wanted sample bring none.
                if (!order_ && key < target_) {
                    if (before_ == nullptr) before_ = av_frame_alloc();
                    if (before_ != nullptr) {
                        av_frame_unref(before_);
                        av_frame_move_ref(before_, frame_);
                        continue;
                    }
                }
                av_frame_unref(frame_);
                continue;
            }
            AVFrame*& slot = cache_[key];
            if (slot == nullptr) slot = av_frame_alloc();
            if (slot == nullptr) {
                cache_.erase(key);
                av_frame_unref(frame_);
                continue;
            }
            av_frame_unref(slot);
            av_frame_move_ref(slot, frame_);
            while (cache_.size() > kCacheFrames) {
                av_frame_free(&cache_.begin()->second);
                cache_.erase(cache_.begin());
            }
        }
    }

    void ClearCache() {
        for (auto& [k, f] : cache_)
            av_frame_free(&f);
        cache_.clear();
        av_frame_free(&before_);
    }

    bool Convert(const AVFrame* f, const DibLayout& out, std::uint8_t* pixels) {
        AVPixelFormat target = AV_PIX_FMT_NONE;
        if (out.bits == 24) {
            target = AV_PIX_FMT_BGR24;
        } else if (out.bits == 32 && out.masks[0] == 0xFF0000 && out.masks[1] == 0xFF00 &&
                   out.masks[2] == 0xFF) {
            target = AV_PIX_FMT_BGR0;
        } else if (out.bits == 16 && out.masks[0] == 0x7C00 && out.masks[1] == 0x3E0 &&
                   out.masks[2] == 0x1F) {
            target = AV_PIX_FMT_RGB555LE;
        } else if (out.bits == 16 && out.masks[0] == 0xF800 && out.masks[1] == 0x7E0 &&
                   out.masks[2] == 0x1F) {
            target = AV_PIX_FMT_RGB565LE;
        }
        const DibLayout rgb = Rgb24Layout(out.width, out.height);
        std::uint8_t* dst = pixels;
        const DibLayout* dst_layout = &out;
        if (target == AV_PIX_FMT_NONE) {
            // Other masks: through 24 bits.
            scratch_.resize(rgb.image);
            dst = scratch_.data();
            dst_layout = &rgb;
            target = AV_PIX_FMT_BGR24;
        }
        // The JPEG formats are their plain twins at full range.
        auto format = static_cast<AVPixelFormat>(f->format);
        bool full_range = f->color_range == AVCOL_RANGE_JPEG;
        switch (format) {
        case AV_PIX_FMT_YUVJ420P:
            format = AV_PIX_FMT_YUV420P;
            full_range = true;
            break;
        case AV_PIX_FMT_YUVJ422P:
            format = AV_PIX_FMT_YUV422P;
            full_range = true;
            break;
        case AV_PIX_FMT_YUVJ444P:
            format = AV_PIX_FMT_YUV444P;
            full_range = true;
            break;
        case AV_PIX_FMT_YUVJ440P:
            format = AV_PIX_FMT_YUV440P;
            full_range = true;
            break;
        case AV_PIX_FMT_YUVJ411P:
            format = AV_PIX_FMT_YUV411P;
            full_range = true;
            break;
        default:
            break;
        }
        sws_ = sws_getCachedContext(sws_, f->width, f->height, format, out.width, out.height,
                                    target, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (sws_ == nullptr) return false;
        // As ffmpeg's own conversion does: the picture's colour matrix (BT.601
        // when it names none) and its range, set again for every picture
        // (the scaler does not keep them from one picture to the next for
        // every format), and the scaler's bicubic default.
        const int* table = sws_getCoefficients(
            f->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : f->colorspace);
        int* current = nullptr;
        int* dst_table = nullptr;
        int src_range = 0, dst_range = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(sws_, &current, &src_range, &dst_table, &dst_range,
                                     &brightness, &contrast, &saturation) >= 0) {
            const bool ranged = format != static_cast<AVPixelFormat>(f->format) ||
                                f->color_range != AVCOL_RANGE_UNSPECIFIED;
            sws_setColorspaceDetails(sws_, table, ranged ? (full_range ? 1 : 0) : src_range, table,
                                     dst_range, brightness, contrast, saturation);
        }
        const auto stride = static_cast<int>(dst_layout->stride);
        std::uint8_t* planes[4] = {dst_layout->top_down
                                       ? dst
                                       : dst + static_cast<std::size_t>(out.height - 1) *
                                                   dst_layout->stride,
                                   nullptr, nullptr, nullptr};
        int strides[4] = {dst_layout->top_down ? stride : -stride, 0, 0, 0};
        if (sws_scale(sws_, f->data, f->linesize, 0, f->height, planes, strides) <= 0) return false;
        if (dst != pixels) ConvertPicture(rgb, dst, out, pixels);
        return true;
    }

    static constexpr std::size_t kCacheFrames = 24;

    const StreamFacts& facts_;
    DibLayout native_;
    AVCodecContext* ctx_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* sws_ = nullptr;
    std::unique_ptr<Order> order_;
    std::map<LONG, AVFrame*> cache_;
    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint8_t> scratch_;
    std::vector<std::uint8_t> palette_format_;
    bool palettized_ = false;
    bool palette_sent_ = false;
    bool all_key_ = false;
    bool finished_ = false;
    bool sequential_ = false;  // the last request followed the one before it
    bool drain_after_ = false; // the next request will start afresh anyway
    LONG fed_ = -1;
    LONG target_ = -1;          // the sample being fetched
    LONG last_rel_ = -1;        // the position asked for last
    LONG out_high_ = -1;        // the latest sample the decoder gave a picture of
    AVFrame* before_ = nullptr; // the picture given last before the wanted one
    std::vector<char> blank_;   // samples known to bring no picture
    bool blank_hit_ = false;    // the last fetch found its sample brings none
    LONG aim_from_ = -1;        // the last sample fed before the wanted one was set
    bool delays_ = false;       // the decoder may hold pictures back
};

} // namespace

std::unique_ptr<FrameCodec> MakeLavCodec(const StreamFacts& facts) {
    auto codec = std::make_unique<LavCodec>(facts);
    if (!codec->Open()) return nullptr;
    return codec;
}

} // namespace lum::platform::vfw
