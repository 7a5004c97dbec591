// The file handler for every container libavformat demuxes that is not one
// of ours (MP4, MOV, MKV, WebM, MPEG-TS, ...), read-only. Each audio and
// video stream of the file becomes a stream of the service, with the
// samples of the container's packets in decode order, as an AVI stores
// them.
//
// The sample table is built once at open: from libavformat's index where
// the container's header holds the whole of it (the MP4 family), so that
// opening a long file reads little of it; otherwise from one pass over the
// packets without decoding anything (MKV, MPEG-TS, ...).
//
// Samples are read straight from the file where the packets lie in it
// whole (the MP4 family); otherwise through the demuxer, which seeks to the
// nearest key frame and reads forward, recognising each packet by its
// times and size against the table. Two demuxers serve the reads, so that
// two readers walking the file (a frame decoder and its twin) do not make
// each other seek.
//
// Frames are counted in presentation order: the samples between two key
// frames are shown in the order of their presentation times, and samples
// an edit list cuts off are no frames. The MP4 family's index holds decode
// times only; the presentation times of the samples between two key frames
// are read from their packets when first needed.
#include <algorithm>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <unordered_map>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include "platform/vfw/handler.h"
#include "platform/vfw/riff.h"
#include "platform/vfw/timeline.h"

namespace lum::platform::vfw {

namespace {

constexpr std::int64_t kNoTime = AV_NOPTS_VALUE;
constexpr int kIoBuffer = 64 * 1024;
// A packet larger than this is damage, not data.
constexpr std::int64_t kMaxPacket = 256 << 20;
// Demuxed packets kept for readers that come back to them.
constexpr std::size_t kCacheBytes = 32u << 20;
// Reading forward this far costs less than seeking.
constexpr LONG kReadOn = 48;

// ---- libavformat over the file's byte stream ----

struct Source {
    ByteStream* io = nullptr;
    std::int64_t pos = 0;
};

int SourceRead(void* opaque, std::uint8_t* buffer, int size) {
    auto* s = static_cast<Source*>(opaque);
    if (size <= 0) return 0;
    const std::size_t n = s->io->ReadAt(s->pos, buffer, static_cast<std::size_t>(size));
    s->pos += static_cast<std::int64_t>(n);
    return n ? static_cast<int>(n) : AVERROR_EOF;
}

std::int64_t SourceSeek(void* opaque, std::int64_t offset, int whence) {
    auto* s = static_cast<Source*>(opaque);
    const std::int64_t size = s->io->Size();
    if (whence & AVSEEK_SIZE) return size;
    std::int64_t to;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        to = offset;
        break;
    case SEEK_CUR:
        to = s->pos + offset;
        break;
    case SEEK_END:
        to = size + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (to < 0) return AVERROR(EINVAL);
    s->pos = to;
    return to;
}

// A file names nothing else to be opened: playlists, concatenation lists,
// external data references and image sequences get no other file.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

bool Acceptable(const AVInputFormat* f) {
    if (f->flags & AVFMT_NOFILE) return false;
    const std::string name = f->name;
    for (const char* refused : {"hls", "dash", "concat", "tty", "ffmetadata", "image2", "sdp",
                                "rtsp", "rtp", "sap", "webm_dash_manifest"})
        if (name == refused) return false;
    return true;
}

class Demuxer {
public:
    ~Demuxer() {
        avformat_close_input(&ctx_);
        if (avio_) av_freep(&avio_->buffer);
        avio_context_free(&avio_);
    }

    // Opens the stream as Format, or as what probing finds (null when
    // libavformat knows no container of it, or only a doubtful one; Known
    // then tells whether it knew the container).
    static std::unique_ptr<Demuxer> Open(ByteStream& io, const std::string& name,
                                         const AVInputFormat* format, bool* known = nullptr) {
        std::unique_ptr<Demuxer> d(new Demuxer);
        d->source_.io = &io;
        auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBuffer));
        if (buffer == nullptr) return nullptr;
        d->avio_ =
            avio_alloc_context(buffer, kIoBuffer, 0, &d->source_, SourceRead, nullptr, SourceSeek);
        if (d->avio_ == nullptr) {
            av_free(buffer);
            return nullptr;
        }
        if (format == nullptr) {
            const AVInputFormat* found = nullptr;
            const int score = av_probe_input_buffer2(d->avio_, &found, name.c_str(), nullptr, 0, 0);
            if (score <= AVPROBE_SCORE_RETRY || found == nullptr || !Acceptable(found))
                return nullptr;
            format = found;
            if (known) *known = true;
        }
        d->ctx_ = avformat_alloc_context();
        if (d->ctx_ == nullptr) return nullptr;
        d->ctx_->pb = d->avio_;
        d->ctx_->io_open = RefuseOpen;
        if (avformat_open_input(&d->ctx_, name.c_str(), format, nullptr) < 0) return nullptr;
        return d;
    }

    AVFormatContext* Ctx() { return ctx_; }

private:
    Demuxer() = default;
    Source source_;
    AVIOContext* avio_ = nullptr;
    AVFormatContext* ctx_ = nullptr;
};

// Reads the next packet, past the odd "try again"; false at the end or on
// an error the demuxer cannot get past.
bool NextPacket(AVFormatContext* ctx, AVPacket* pkt) {
    for (int tries = 0; tries < 64; ++tries) {
        const int r = av_read_frame(ctx, pkt);
        if (r >= 0) return true;
        if (r != AVERROR(EAGAIN)) return false;
    }
    return false;
}

// ---- Tables ----

struct Packet {
    std::int64_t pos = -1; // in the file, as the demuxer tells it
    std::int64_t pts = kNoTime;
    std::int64_t dts = kNoTime;
    std::int64_t duration = 0;
    std::int64_t data = 0; // where the sample's bytes start (see LavfStream::ReadRaw)
    std::uint32_t size = 0;
    bool key = false;
    bool shown = true;
};

bool IsMovFamily(const AVInputFormat* f) {
    return std::strstr(f->name, "mov") != nullptr || std::strstr(f->name, "mp4") != nullptr;
}

// Big-endian and signed 8-bit PCM are handed out as wave formats have them.
struct PcmConversion {
    unsigned swap = 0; // bytes of a value to reverse
    bool flip_sign = false;
    WORD tag = 0;
    WORD bits = 0;
};

PcmConversion PcmOf(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_PCM_S16BE:
        return {2, false, WAVE_FORMAT_PCM, 16};
    case AV_CODEC_ID_PCM_S24BE:
        return {3, false, WAVE_FORMAT_PCM, 24};
    case AV_CODEC_ID_PCM_S32BE:
        return {4, false, WAVE_FORMAT_PCM, 32};
    case AV_CODEC_ID_PCM_F32BE:
        return {4, false, WAVE_FORMAT_IEEE_FLOAT, 32};
    case AV_CODEC_ID_PCM_F64BE:
        return {8, false, WAVE_FORMAT_IEEE_FLOAT, 64};
    case AV_CODEC_ID_PCM_S8:
        return {0, true, WAVE_FORMAT_PCM, 8};
    default:
        return {};
    }
}

// A rate and scale that fit the stream header's 32-bit fields.
void SetRate(AVISTREAMINFO& h, AVRational r) {
    if (r.num <= 0 || r.den <= 0) return;
    int num = 0, den = 0;
    av_reduce(&num, &den, r.num, r.den, 0x7FFFFFFF);
    if (num <= 0 || den <= 0) return;
    h.dwRate = static_cast<DWORD>(num);
    h.dwScale = static_cast<DWORD>(den);
}

// The compression code the frame decoder finds this codec under: the
// container's own tag when the RIFF tables agree on it, else the RIFF
// tables' code, else QuickTime's.
FOURCC VideoCode(const AVCodecParameters* p) {
    const AVCodecTag* const riff[] = {avformat_get_riff_video_tags(), nullptr};
    const AVCodecTag* const mov[] = {avformat_get_mov_video_tags(), nullptr};
    if (p->codec_tag != 0 && (av_codec_get_id(riff, p->codec_tag) == p->codec_id ||
                              av_codec_get_id(mov, p->codec_tag) == p->codec_id))
        return p->codec_tag;
    unsigned tag = 0;
    if (av_codec_get_tag2(riff, p->codec_id, &tag)) return tag;
    if (av_codec_get_tag2(mov, p->codec_id, &tag)) return tag;
    return p->codec_tag;
}

class LavfFile;

class LavfStream final : public StreamHandler, public FrameTimeline {
public:
    LavfStream(LavfFile& file, int av_index, const AVStream* st);
    ~LavfStream() override { avcodec_parameters_free(&par_); }

    int AvIndex() const { return av_index_; }
    void SetNumber(int n) { number_ = n; }
    bool Video() const { return info_.fccType == streamtypeVIDEO; }
    const AVRational& TimeBase() const { return time_base_; }
    std::vector<Packet>& Packets() { return packets_; }
    const std::vector<Packet>& Packets() const { return packets_; }

    // Fills the header, format and index from the packets (Direct: the
    // samples are read from the file at their positions).
    void Build(bool direct, bool times_known);
    // The sample of a demuxed packet; -1 when none matches. Hint is the
    // sample expected next.
    LONG Identify(const AVPacket* pkt, LONG hint) const;

    HRESULT Info(AVISTREAMINFO* info, LONG size) override;

    // FrameTimeline
    const AVCodecParameters* CodecParameters() const override { return par_; }
    LONG SampleCount() const override { return static_cast<LONG>(packets_.size()); }
    bool Presented() const override { return presented_; }
    LONG SampleOfFrame(LONG n) override;
    LONG FrameOfSample(LONG s) override;
    bool FrameTime(LONG n, LONG* ms) override;
    bool FrameAtTime(LONG ms, LONG* n) override;

protected:
    bool ReadRaw(std::int64_t offset, void* buffer, std::size_t count) override;

private:
    // The presentation order of the samples of period P (from one key
    // frame to the next), found now unless known. Needs order_mutex_.
    void EnsurePeriod(std::size_t p);
    std::size_t PeriodOf(LONG s) const;
    // The time of a frame in the stream's time base, from the first frame.
    bool RelativeTime(LONG n, std::int64_t* t);

    LavfFile& lavf_;
    const int av_index_;
    int number_ = -1; // in the file's list
    AVCodecParameters* par_ = nullptr;
    AVRational time_base_{};
    std::vector<Packet> packets_;
    bool direct_ = false;
    PcmConversion pcm_;

    // Presentation order (video).
    bool presented_ = false;
    bool times_known_ = false; // every shown packet's presentation time is in the table
    LONG frames_ = 0;
    std::vector<LONG> period_start_; // first sample of each period
    std::vector<LONG> shown_before_; // frames before each period
    std::vector<char> period_done_;
    std::vector<LONG> frame_of_;  // per sample; -1 not shown
    std::vector<LONG> sample_of_; // per frame
    std::mutex order_mutex_;
    // Lookup of demuxed packets: samples sorted by their key (presentation
    // time, else decode time, else position).
    enum class Key { Pts, Dts, Pos } key_kind_ = Key::Pos;
    std::vector<std::pair<std::int64_t, LONG>> lookup_;
};

class LavfFile final : public FileHandler {
public:
    LavfFile(std::unique_ptr<ByteStream> io, std::unique_ptr<Demuxer> main, std::string name)
        : FileHandler(std::move(io), false, false), main_(std::move(main)), name_(std::move(name)) {
    }
    ~LavfFile() override {
        streams_.clear(); // before the demuxers they name
        readers_.clear();
        main_.reset();
        av_packet_free(&packet_);
    }

    void AddStream(std::unique_ptr<LavfStream> s) {
        const auto av = static_cast<std::size_t>(s->AvIndex());
        stream_of_av_.resize(std::max(stream_of_av_.size(), av + 1), -1);
        stream_of_av_[av] = static_cast<int>(streams_.size());
        s->SetNumber(static_cast<int>(streams_.size()));
        streams_.push_back(std::move(s));
    }
    LavfStream& Lavf(std::size_t i) { return static_cast<LavfStream&>(*streams_[i]); }
    AVFormatContext* Main() { return main_->Ctx(); }

    // One pass over every packet: the tables of streams without an index.
    void Scan();
    // Copies Count bytes from sample S of stream K, starting Skip bytes in,
    // read through a demuxer. False when the demuxer cannot give it.
    bool ReadDemuxed(int k, LONG s, std::size_t skip, void* buffer, std::size_t count);
    // Reads the presentation times of samples [First, Last) of stream K
    // into its table (the MP4 family, whose index has decode times only).
    void LoadTimes(int k, LONG first, LONG last);

protected:
    void Describe(AVIFILEINFO& info) override;

private:
    // A demuxer that reads samples, and where it stands in each stream.
    struct Reader {
        std::unique_ptr<Demuxer> demuxer;
        std::vector<LONG> next; // per stream: the sample it reads next, -1 unknown
        std::uint64_t used = 0;
    };
    enum class Outcome { Found, Passed, Missing };
    struct CacheKey {
        int stream;
        LONG sample;
        bool operator==(const CacheKey& o) const {
            return stream == o.stream && sample == o.sample;
        }
    };
    struct CacheHash {
        std::size_t operator()(const CacheKey& k) const {
            return std::hash<std::int64_t>{}((static_cast<std::int64_t>(k.stream) << 32) ^
                                             static_cast<std::uint32_t>(k.sample));
        }
    };
    using CacheList = std::list<std::pair<CacheKey, std::vector<std::uint8_t>>>;

    // Our stream of the main demuxer's stream Av, or -1.
    int StreamOfAv(int av) const {
        return av >= 0 && static_cast<std::size_t>(av) < stream_of_av_.size()
                   ? stream_of_av_[static_cast<std::size_t>(av)]
                   : -1;
    }
    // Our stream of a packet that Reader R read, or -1.
    int StreamOf(Reader& r, int av);
    std::unique_ptr<Demuxer> OpenReader();
    bool ReadsOn(const Reader& r, int k, LONG s);
    Reader* ReaderFor(int k, LONG s);
    bool Seek(Reader& r, int k, LONG key, int attempt);
    Outcome ReadOn(Reader& r, int k, LONG s, std::size_t limit, std::size_t skip, void* buffer,
                   std::size_t count, bool* ok);
    void Keep(int k, LONG s, const AVPacket* pkt);
    const std::vector<std::uint8_t>* Cached(int k, LONG s);

    std::unique_ptr<Demuxer> main_; // describes the file; reads the MP4 family's times
    std::string name_;
    std::vector<int> stream_of_av_;
    std::mutex demux_mutex_;
    std::vector<Reader> readers_;
    std::uint64_t clock_ = 0;
    AVPacket* packet_ = nullptr;
    CacheList cache_;
    std::unordered_map<CacheKey, CacheList::iterator, CacheHash> cache_index_;
    std::size_t cache_bytes_ = 0;
};

// ---- LavfStream ----

LavfStream::LavfStream(LavfFile& file, int av_index, const AVStream* st)
    : StreamHandler(file), lavf_(file), av_index_(av_index), time_base_(st->time_base) {
    par_ = avcodec_parameters_alloc();
    if (par_) avcodec_parameters_copy(par_, st->codecpar);
    const AVCodecParameters* p = st->codecpar;
    info_.dwQuality = 0xFFFFFFFF;
    if (const AVDictionaryEntry* t = av_dict_get(st->metadata, "title", nullptr, 0))
        CopyName(info_.szName, t->value);
    std::vector<std::uint8_t> extra;
    if (p->extradata && p->extradata_size > 0 && p->extradata_size < (16 << 20))
        extra.assign(p->extradata, p->extradata + p->extradata_size);
    if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
        info_.fccType = streamtypeVIDEO;
        const FOURCC code = VideoCode(p);
        info_.fccHandler = code;
        AVRational rate = st->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) rate = st->r_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) rate = av_inv_q(st->time_base);
        SetRate(info_, rate);
        info_.rcFrame = {0, 0, p->width, p->height};
        // The bitmap header, then the codec's extra data, as AVI writers
        // store them.
        std::vector<std::uint8_t> f(40, 0);
        PutLE32(&f[0], static_cast<std::uint32_t>(40 + extra.size()));
        PutLE32(&f[4], static_cast<std::uint32_t>(p->width));
        PutLE32(&f[8], static_cast<std::uint32_t>(p->height));
        PutLE16(&f[12], 1);
        const int bits = p->bits_per_coded_sample > 0 ? p->bits_per_coded_sample : 24;
        PutLE16(&f[14], static_cast<std::uint16_t>(std::min(bits, 0xFFFF)));
        PutLE32(&f[16], code);
        PutLE32(&f[20], static_cast<std::uint32_t>(std::min<std::int64_t>(
                            std::int64_t{p->width} * p->height * bits / 8, 0x7FFFFFFF)));
        f.insert(f.end(), extra.begin(), extra.end());
        formats_.push_back({0, std::move(f)});
    } else {
        info_.fccType = streamtypeAUDIO;
        pcm_ = PcmOf(p->codec_id);
        const AVCodecTag* const riff[] = {avformat_get_riff_audio_tags(), nullptr};
        unsigned tag = pcm_.tag;
        if (tag == 0) av_codec_get_tag2(riff, p->codec_id, &tag);
        const int channels = p->ch_layout.nb_channels;
        int bits = pcm_.bits ? pcm_.bits : av_get_bits_per_sample(p->codec_id);
        if (bits == 0) bits = p->bits_per_coded_sample;
        const bool pcm = bits > 0 && av_get_exact_bits_per_sample(p->codec_id) == bits &&
                         (tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT ||
                          tag == WAVE_FORMAT_ALAW || tag == WAVE_FORMAT_MULAW);
        WORD align =
            static_cast<WORD>(p->block_align > 0 && p->block_align < 0x10000 ? p->block_align : 1);
        if (pcm) align = static_cast<WORD>(std::max(1, channels * bits / 8));
        DWORD avg =
            pcm ? static_cast<DWORD>(p->sample_rate) * align
                : static_cast<DWORD>(std::clamp<std::int64_t>(p->bit_rate / 8, 0, 0x7FFFFFFF));
        std::vector<std::uint8_t> f(18, 0);
        PutLE16(&f[0], static_cast<std::uint16_t>(tag));
        PutLE16(&f[2], static_cast<std::uint16_t>(channels));
        PutLE32(&f[4], static_cast<std::uint32_t>(p->sample_rate));
        PutLE32(&f[8], avg);
        PutLE16(&f[12], align);
        PutLE16(&f[14], static_cast<std::uint16_t>(bits));
        const std::size_t cb = pcm ? 0 : std::min<std::size_t>(extra.size(), 0xFFFF - 18);
        PutLE16(&f[16], static_cast<std::uint16_t>(cb));
        f.insert(f.end(), extra.begin(), extra.begin() + static_cast<std::ptrdiff_t>(cb));
        formats_.push_back({0, std::move(f)});
        if (pcm) {
            // Blocks are the samples, as in a wave file.
            info_.dwSampleSize = align;
            info_.dwScale = align;
            info_.dwRate = avg;
            index_ = SampleIndex(align);
        } else if (p->frame_size > 0) {
            info_.dwScale = static_cast<DWORD>(p->frame_size);
            info_.dwRate = static_cast<DWORD>(p->sample_rate);
        } else {
            SetRate(info_, av_inv_q(st->time_base));
        }
    }
    if (!extra.empty()) extra_.Set(ckidSTREAMHANDLERDATA, std::move(extra));
}

void LavfStream::Build(bool direct, bool times_known) {
    direct_ = direct;
    const std::int64_t file_size = file_.IO().Size();
    // Whole samples only: a packet the file does not hold entirely, or of
    // a size beyond any frame's, is left out.
    std::vector<Packet> kept;
    kept.reserve(packets_.size());
    std::int64_t data = 0;
    for (Packet& p : packets_) {
        if (direct && (p.pos < 0 || p.pos + p.size > file_size)) continue;
        p.data = direct ? p.pos : data;
        data += p.size;
        kept.push_back(p);
    }
    packets_.swap(kept);
    if (packets_.size() > 0x7FFFFFFF) packets_.resize(0x7FFFFFFF);
    for (const Packet& p : packets_)
        if (!index_.Append(p.data, p.size, p.key || index_.Fixed())) break;
    packets_.resize(static_cast<std::size_t>(index_.Fixed() ? packets_.size() : index_.Length()));

    // Packets told apart by their presentation times, else decode times,
    // else positions.
    bool all_pts = !packets_.empty(), all_dts = !packets_.empty();
    for (const Packet& p : packets_) {
        all_pts = all_pts && p.pts != kNoTime;
        all_dts = all_dts && p.dts != kNoTime;
    }
    key_kind_ = all_pts ? Key::Pts : all_dts ? Key::Dts : Key::Pos;
    lookup_.reserve(packets_.size());
    for (std::size_t i = 0; i < packets_.size(); ++i) {
        const Packet& p = packets_[i];
        const std::int64_t k = key_kind_ == Key::Pts   ? p.pts
                               : key_kind_ == Key::Dts ? p.dts
                                                       : p.pos;
        lookup_.emplace_back(k, static_cast<LONG>(i));
    }
    std::sort(lookup_.begin(), lookup_.end());

    if (!Video()) return;
    const auto n = static_cast<LONG>(packets_.size());
    LONG shown = 0;
    for (const Packet& p : packets_)
        shown += p.shown ? 1 : 0;
    if (shown == 0) {
        // Nothing left to show would be a stream of no frames: show all.
        for (Packet& p : packets_)
            p.shown = true;
        shown = n;
    }
    frames_ = shown;
    bool times_complete = true;
    for (const Packet& p : packets_)
        if (p.shown && p.pts == kNoTime) times_complete = false;
    times_known_ = times_known && times_complete;
    // Decode times are enough to start from; where a table has no
    // presentation times at all, the decoder orders the frames itself.
    presented_ = times_known_ || direct;
    LONG count = 0;
    for (LONG s = 0; s < n; ++s) {
        // A stream whose first sample is no key frame (a cut MPEG-TS) still
        // starts a period there.
        if (s == 0 || index_.IsKey(s)) {
            period_start_.push_back(s);
            shown_before_.push_back(count);
        }
        count += packets_[static_cast<std::size_t>(s)].shown ? 1 : 0;
    }
    period_done_.assign(period_start_.size(), 0);
    frame_of_.assign(static_cast<std::size_t>(n), -1);
    sample_of_.assign(static_cast<std::size_t>(frames_), -1);
}

HRESULT LavfStream::Info(AVISTREAMINFO* info, LONG size) {
    if (info == nullptr) return AVIERR_BADPARAM;
    if (size < 0) return AVIERR_BADSIZE;
    AVISTREAMINFO d = Described();
    if (Video()) d.dwLength = static_cast<DWORD>(frames_);
    std::memcpy(info, &d, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof d));
    return AVIERR_OK;
}

bool LavfStream::ReadRaw(std::int64_t offset, void* buffer, std::size_t count) {
    bool ok;
    if (direct_) {
        ok = StreamHandler::ReadRaw(offset, buffer, count);
    } else {
        // Offsets count the bytes of the stream's packets one after the other.
        auto it = std::upper_bound(packets_.begin(), packets_.end(), offset,
                                   [](std::int64_t o, const Packet& p) { return o < p.data; });
        if (it == packets_.begin()) return false;
        --it;
        const std::size_t skip = static_cast<std::size_t>(offset - it->data);
        if (skip + count > it->size) return false;
        ok = lavf_.ReadDemuxed(number_, static_cast<LONG>(it - packets_.begin()), skip, buffer,
                               count);
    }
    if (!ok) return false;
    auto* b = static_cast<std::uint8_t*>(buffer);
    if (pcm_.flip_sign) {
        for (std::size_t i = 0; i < count; ++i)
            b[i] ^= 0x80;
    } else if (pcm_.swap > 1) {
        for (std::size_t i = 0; i + pcm_.swap <= count; i += pcm_.swap)
            std::reverse(b + i, b + i + pcm_.swap);
    }
    return true;
}

LONG LavfStream::Identify(const AVPacket* pkt, LONG hint) const {
    auto matches = [&](LONG s) {
        if (s < 0 || static_cast<std::size_t>(s) >= packets_.size()) return false;
        const Packet& p = packets_[static_cast<std::size_t>(s)];
        if (p.size != static_cast<std::uint32_t>(pkt->size)) return false;
        switch (key_kind_) {
        case Key::Pts:
            return p.pts == pkt->pts;
        case Key::Dts:
            return p.dts == pkt->dts;
        case Key::Pos:
            return p.pos == pkt->pos;
        }
        return false;
    };
    if (matches(hint)) return hint;
    const std::int64_t k = key_kind_ == Key::Pts   ? pkt->pts
                           : key_kind_ == Key::Dts ? pkt->dts
                                                   : pkt->pos;
    auto range =
        std::equal_range(lookup_.begin(), lookup_.end(), std::pair<std::int64_t, LONG>(k, 0),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    // Of several packets with the same key, the first at or after the hint.
    LONG best = -1;
    for (auto it = range.first; it != range.second; ++it) {
        if (!matches(it->second)) continue;
        if (best < 0 || (best < hint && it->second >= hint)) best = it->second;
        if (best >= hint) break;
    }
    return best;
}

std::size_t LavfStream::PeriodOf(LONG s) const {
    auto it = std::upper_bound(period_start_.begin(), period_start_.end(), s);
    return it == period_start_.begin() ? 0
                                       : static_cast<std::size_t>(it - period_start_.begin()) - 1;
}

void LavfStream::EnsurePeriod(std::size_t p) {
    if (p >= period_done_.size() || period_done_[p]) return;
    const LONG a = period_start_[p];
    const LONG b =
        p + 1 < period_start_.size() ? period_start_[p + 1] : static_cast<LONG>(packets_.size());
    auto missing = [&] {
        for (LONG s = a; s < b; ++s) {
            const Packet& q = packets_[static_cast<std::size_t>(s)];
            if (q.shown && q.pts == kNoTime) return true;
        }
        return false;
    };
    if (!times_known_ && missing()) {
        lavf_.LoadTimes(number_, a, b);
    }
    std::vector<LONG> shown;
    for (LONG s = a; s < b; ++s)
        if (packets_[static_cast<std::size_t>(s)].shown) shown.push_back(s);
    // Shown in the order of their times; where times could not be read,
    // in decode order.
    if (!missing())
        std::stable_sort(shown.begin(), shown.end(), [&](LONG x, LONG y) {
            return packets_[static_cast<std::size_t>(x)].pts <
                   packets_[static_cast<std::size_t>(y)].pts;
        });
    LONG frame = shown_before_[p];
    for (LONG s : shown) {
        if (frame >= frames_) break;
        frame_of_[static_cast<std::size_t>(s)] = frame;
        sample_of_[static_cast<std::size_t>(frame)] = s;
        ++frame;
    }
    period_done_[p] = 1;
}

LONG LavfStream::SampleOfFrame(LONG n) {
    if (n < 0 || n >= frames_) return -1;
    std::lock_guard lock(order_mutex_);
    if (sample_of_[static_cast<std::size_t>(n)] < 0) {
        auto it = std::upper_bound(shown_before_.begin(), shown_before_.end(), n);
        EnsurePeriod(static_cast<std::size_t>(it - shown_before_.begin()) - 1);
    }
    return sample_of_[static_cast<std::size_t>(n)];
}

LONG LavfStream::FrameOfSample(LONG s) {
    if (s < 0 || static_cast<std::size_t>(s) >= packets_.size()) return -1;
    std::lock_guard lock(order_mutex_);
    EnsurePeriod(PeriodOf(s));
    return frame_of_[static_cast<std::size_t>(s)];
}

bool LavfStream::RelativeTime(LONG n, std::int64_t* t) {
    const LONG first = SampleOfFrame(0);
    const LONG s = SampleOfFrame(n);
    if (first < 0 || s < 0) return false;
    std::lock_guard lock(order_mutex_);
    auto time_of = [&](LONG x) {
        const Packet& q = packets_[static_cast<std::size_t>(x)];
        return q.pts != kNoTime ? q.pts : q.dts;
    };
    const std::int64_t t0 = time_of(first), tn = time_of(s);
    if (t0 == kNoTime || tn == kNoTime) return false;
    *t = tn - t0;
    return true;
}

bool LavfStream::FrameTime(LONG n, LONG* ms) {
    if (!presented_ || !Video() || n < 0 || n > frames_ || frames_ == 0 || time_base_.den <= 0 ||
        time_base_.num <= 0)
        return false;
    std::int64_t t = 0;
    if (n < frames_) {
        if (!RelativeTime(n, &t)) return false;
    } else {
        // The end: the last frame's time and its duration.
        if (!RelativeTime(n - 1, &t)) return false;
        std::int64_t d = packets_[static_cast<std::size_t>(SampleOfFrame(n - 1))].duration;
        if (d <= 0 && info_.dwRate)
            d = av_rescale_q(
                1, AVRational{static_cast<int>(info_.dwScale), static_cast<int>(info_.dwRate)},
                time_base_);
        t += std::max<std::int64_t>(d, 0);
    }
    const std::int64_t v =
        av_rescale_rnd(t, std::int64_t{1000} * time_base_.num, time_base_.den, AV_ROUND_UP);
    if (v < -0x7FFFFFFF || v > 0x7FFFFFFF) return false;
    *ms = static_cast<LONG>(v);
    return true;
}

bool LavfStream::FrameAtTime(LONG ms, LONG* n) {
    if (!presented_ || !Video() || frames_ == 0) return false;
    LONG t = 0;
    if (!FrameTime(0, &t) || ms < t) return false;
    // The last frame whose time is at or before Ms.
    LONG lo = 0, hi = frames_ - 1;
    if (FrameTime(hi, &t) && t <= ms) {
        LONG end = 0;
        if (!FrameTime(frames_, &end) || ms >= end) return false; // past the end: by the rate
        *n = hi;
        return true;
    }
    while (lo < hi) {
        const LONG mid = lo + (hi - lo + 1) / 2;
        if (!FrameTime(mid, &t)) return false;
        if (t <= ms)
            lo = mid;
        else
            hi = mid - 1;
    }
    *n = lo;
    return true;
}

// ---- LavfFile ----

void LavfFile::Describe(AVIFILEINFO& info) {
    AVFormatContext* ctx = Main();
    info.dwFlags = AVIFILEINFO_HASINDEX;
    info.dwMaxBytesPerSec =
        static_cast<DWORD>(std::clamp<std::int64_t>(ctx->bit_rate / 8, 0, 0xFFFFFFFF));
    std::strncpy(info.szFileType,
                 ctx->iformat->long_name ? ctx->iformat->long_name : ctx->iformat->name,
                 sizeof info.szFileType - 1);
    // The first video stream describes the file, or else the first stream.
    AVISTREAMINFO main{};
    bool have = false;
    for (auto& s : streams_) {
        AVISTREAMINFO d{};
        s->Info(&d, sizeof d);
        info.dwSuggestedBufferSize = std::max(info.dwSuggestedBufferSize, d.dwSuggestedBufferSize);
        if (!have || (main.fccType != streamtypeVIDEO && d.fccType == streamtypeVIDEO)) main = d;
        have = true;
    }
    info.dwWidth = static_cast<DWORD>(main.rcFrame.right - main.rcFrame.left);
    info.dwHeight = static_cast<DWORD>(main.rcFrame.bottom - main.rcFrame.top);
    info.dwScale = main.dwScale;
    info.dwRate = main.dwRate;
    info.dwLength = main.dwLength;
}

void LavfFile::Scan() {
    AVFormatContext* ctx = Main();
    AVPacket* pkt = av_packet_alloc();
    if (pkt == nullptr) return;
    std::int64_t total = 0;
    while (NextPacket(ctx, pkt)) {
        const int k = StreamOfAv(pkt->stream_index);
        if (k >= 0 && pkt->size >= 0 && pkt->size <= kMaxPacket &&
            !(pkt->flags & AV_PKT_FLAG_CORRUPT) && total < 0x7FFFFFFF) {
            Packet p;
            p.pos = pkt->pos;
            p.pts = pkt->pts;
            p.dts = pkt->dts;
            p.duration = pkt->duration;
            p.size = static_cast<std::uint32_t>(pkt->size);
            p.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            p.shown = !(pkt->flags & AV_PKT_FLAG_DISCARD);
            Lavf(static_cast<std::size_t>(k)).Packets().push_back(p);
            ++total;
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
}

int LavfFile::StreamOf(Reader& r, int av) {
    // Another demuxer of the same file numbers its streams alike, unless
    // streams come and go as it reads: then they are matched by their ids.
    AVFormatContext* mine = r.demuxer->Ctx();
    AVFormatContext* main = Main();
    if (av < 0 || static_cast<unsigned>(av) >= mine->nb_streams) return -1;
    const AVStream* st = mine->streams[av];
    auto same = [&](unsigned i) {
        return main->streams[i]->id == st->id &&
               main->streams[i]->codecpar->codec_type == st->codecpar->codec_type;
    };
    if (static_cast<unsigned>(av) < main->nb_streams && same(static_cast<unsigned>(av)))
        return StreamOfAv(av);
    for (unsigned i = 0; i < main->nb_streams; ++i)
        if (same(i)) return StreamOfAv(static_cast<int>(i));
    return -1;
}

const std::vector<std::uint8_t>* LavfFile::Cached(int k, LONG s) {
    auto it = cache_index_.find({k, s});
    if (it == cache_index_.end()) return nullptr;
    cache_.splice(cache_.begin(), cache_, it->second);
    return &it->second->second;
}

void LavfFile::Keep(int k, LONG s, const AVPacket* pkt) {
    if (cache_index_.count({k, s}) || static_cast<std::size_t>(pkt->size) > kCacheBytes / 8) return;
    cache_.emplace_front(CacheKey{k, s},
                         std::vector<std::uint8_t>(pkt->data, pkt->data + pkt->size));
    cache_index_[{k, s}] = cache_.begin();
    cache_bytes_ += static_cast<std::size_t>(pkt->size);
    while (cache_bytes_ > kCacheBytes && !cache_.empty()) {
        cache_bytes_ -= cache_.back().second.size();
        cache_index_.erase(cache_.back().first);
        cache_.pop_back();
    }
}

// A reader demuxer, opened as the main one was, so that its packets carry
// the times the scan saw.
std::unique_ptr<Demuxer> LavfFile::OpenReader() {
    auto d = Demuxer::Open(IO(), name_, Main()->iformat);
    if (d) avformat_find_stream_info(d->Ctx(), nullptr);
    return d;
}

// Whether R reaches sample S of stream K by reading on: it stands before S,
// with no key frame between (or only a few samples).
bool LavfFile::ReadsOn(const Reader& r, int k, LONG s) {
    if (r.next.size() != streams_.size()) return false;
    const LONG next = r.next[static_cast<std::size_t>(k)];
    return next >= 0 && next <= s &&
           (s - next <= kReadOn || Lavf(static_cast<std::size_t>(k)).Index().PrevKey(s) <= next);
}

LavfFile::Reader* LavfFile::ReaderFor(int k, LONG s) {
    for (Reader& r : readers_)
        if (ReadsOn(r, k, s)) return &r;
    // A reader stays where it reads for whoever reads there; a second one
    // takes requests elsewhere.
    if (readers_.size() < 2) {
        if (auto d = OpenReader()) {
            readers_.push_back(Reader{std::move(d), std::vector<LONG>(streams_.size(), -1), 0});
            return &readers_.back();
        }
    }
    if (readers_.empty()) return nullptr;
    Reader* oldest = &readers_[0];
    for (Reader& r : readers_)
        if (r.used < oldest->used) oldest = &r;
    return oldest;
}

// Sets R to read from the key frame Key of stream K on. Each attempt goes
// further back: the key frame itself, the key frame before it, and last
// the start of the file (a demuxer opened afresh reads as the scan did).
bool LavfFile::Seek(Reader& r, int k, LONG key, int attempt) {
    r.next.assign(streams_.size(), -1);
    LavfStream& s = Lavf(static_cast<std::size_t>(k));
    if (attempt == 1) key = std::max<LONG>(s.Index().PrevKey(key - 1), 0);
    if (attempt >= 2) {
        auto d = OpenReader();
        if (!d) return false;
        r.demuxer = std::move(d);
        r.next.assign(streams_.size(), 0);
        return true;
    }
    AVFormatContext* ctx = r.demuxer->Ctx();
    const Packet& p = s.Packets()[static_cast<std::size_t>(key)];
    // Streams that may jump in time (MPEG-TS) are sought by position.
    if ((ctx->iformat->flags & AVFMT_TS_DISCONT) && !(ctx->iformat->flags & AVFMT_NO_BYTE_SEEK) &&
        p.pos >= 0)
        return av_seek_frame(ctx, -1, p.pos, AVSEEK_FLAG_BYTE) >= 0;
    std::int64_t ts = p.pts;
    if (p.dts != kNoTime && (ts == kNoTime || p.dts < ts)) ts = p.dts;
    if (ts == kNoTime) return false;
    int av = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        if (StreamOf(r, static_cast<int>(i)) == k) av = static_cast<int>(i);
    if (av < 0) return false;
    return av_seek_frame(ctx, av, ts, AVSEEK_FLAG_BACKWARD) >= 0;
}

// Reads packets until sample S of stream K comes, keeping the others
// recognised on the way.
LavfFile::Outcome LavfFile::ReadOn(Reader& r, int k, LONG s, std::size_t limit, std::size_t skip,
                                   void* buffer, std::size_t count, bool* ok) {
    r.used = ++clock_;
    for (std::size_t n = 0; n < limit; ++n) {
        if (!NextPacket(r.demuxer->Ctx(), packet_)) return Outcome::Missing;
        const int m = StreamOf(r, packet_->stream_index);
        if (m < 0) {
            av_packet_unref(packet_);
            continue;
        }
        LONG& next = r.next[static_cast<std::size_t>(m)];
        const LONG got = Lavf(static_cast<std::size_t>(m)).Identify(packet_, next);
        next = got >= 0 ? got + 1 : -1;
        if (m == k && got == s) {
            *ok = skip + count <= static_cast<std::size_t>(packet_->size);
            if (*ok) std::memcpy(buffer, packet_->data + skip, count);
            av_packet_unref(packet_);
            return Outcome::Found;
        }
        if (got >= 0) Keep(m, got, packet_);
        av_packet_unref(packet_);
        if (m == k && got > s) return Outcome::Passed;
    }
    return Outcome::Missing;
}

bool LavfFile::ReadDemuxed(int k, LONG s, std::size_t skip, void* buffer, std::size_t count) {
    if (k < 0) return false;
    std::lock_guard lock(demux_mutex_);
    if (const auto* c = Cached(k, s)) {
        if (skip + count > c->size()) return false;
        std::memcpy(buffer, c->data() + skip, count);
        return true;
    }
    if (packet_ == nullptr && (packet_ = av_packet_alloc()) == nullptr) return false;
    Reader* r = ReaderFor(k, s);
    if (r == nullptr) return false;
    LavfStream& stream = Lavf(static_cast<std::size_t>(k));
    const LONG key = std::max<LONG>(stream.Index().PrevKey(s), 0);
    std::size_t total = 64;
    for (std::size_t i = 0; i < streams_.size(); ++i)
        total += Lavf(i).Packets().size();
    bool ok = false;
    for (int attempt = ReadsOn(*r, k, s) ? -1 : 0; attempt <= 2; ++attempt) {
        if (attempt >= 0 && !Seek(*r, k, key, attempt)) continue;
        // Room for the other streams' packets between (from the key frame
        // before, on the second attempt); from the start, the whole file.
        const LONG from = attempt == 1 ? std::max<LONG>(stream.Index().PrevKey(key - 1), 0) : key;
        const std::size_t limit =
            attempt >= 2 ? total : static_cast<std::size_t>(s - from + 1) * 16 + 4096;
        if (ReadOn(*r, k, s, limit, skip, buffer, count, &ok) == Outcome::Found) return ok;
    }
    return false;
}

void LavfFile::LoadTimes(int k, LONG first, LONG last) {
    if (k < 0) return;
    std::lock_guard lock(demux_mutex_);
    LavfStream& s = Lavf(static_cast<std::size_t>(k));
    auto& packets = s.Packets();
    AVFormatContext* ctx = Main();
    // Only this stream's packets are read.
    std::vector<AVDiscard> saved(ctx->nb_streams);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        saved[i] = ctx->streams[i]->discard;
        ctx->streams[i]->discard =
            static_cast<int>(i) == s.AvIndex() ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    const Packet& start = packets[static_cast<std::size_t>(first)];
    AVPacket* pkt = av_packet_alloc();
    if (pkt != nullptr && start.dts != kNoTime &&
        av_seek_frame(ctx, s.AvIndex(), start.dts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) >= 0) {
        // Positions tell the samples apart: the index has them.
        std::vector<std::pair<std::int64_t, LONG>> by_pos;
        for (LONG i = first; i < last; ++i)
            by_pos.emplace_back(packets[static_cast<std::size_t>(i)].pos, i);
        std::sort(by_pos.begin(), by_pos.end());
        LONG found = 0;
        const auto limit = static_cast<std::size_t>(last - first) * 2 + 256;
        for (std::size_t n = 0; n < limit && found < last - first; ++n) {
            if (!NextPacket(ctx, pkt)) break;
            if (pkt->stream_index == s.AvIndex()) {
                auto it = std::lower_bound(by_pos.begin(), by_pos.end(),
                                           std::pair<std::int64_t, LONG>(pkt->pos, -1));
                for (; it != by_pos.end() && it->first == pkt->pos; ++it) {
                    Packet& q = packets[static_cast<std::size_t>(it->second)];
                    if (q.pts == kNoTime && q.dts == pkt->dts) {
                        q.pts = pkt->pts;
                        ++found;
                        break;
                    }
                }
            }
            av_packet_unref(pkt);
        }
    }
    av_packet_free(&pkt);
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        ctx->streams[i]->discard = saved[i];
}

bool Presentable(const AVStream* st) {
    const AVCodecParameters* p = st->codecpar;
    if (p->codec_id == AV_CODEC_ID_NONE) return false;
    if (p->codec_type == AVMEDIA_TYPE_VIDEO)
        return p->width > 0 && p->height > 0 && p->width <= 32768 && p->height <= 32768 &&
               !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
    if (p->codec_type == AVMEDIA_TYPE_AUDIO)
        return p->sample_rate > 0 && p->ch_layout.nb_channels > 0 &&
               p->ch_layout.nb_channels <= 255;
    return false;
}

} // namespace

HRESULT OpenLavfFile(std::unique_ptr<ByteStream>& io, bool write_access, const std::string& name,
                     PAVIFILE* file) {
    // The library reports through results, not on the error stream.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
    bool known = false;
    auto demuxer = Demuxer::Open(*io, name, nullptr, &known);
    if (!demuxer) return known ? AVIERR_BADFORMAT : AVIERR_UNSUPPORTED;
    AVFormatContext* ctx = demuxer->Ctx();
    const bool indexed = IsMovFamily(ctx->iformat);
    if (indexed) {
        // The header told all; a few frames' look at the codecs is enough.
        ctx->probesize = 1 << 20;
    }
    avformat_find_stream_info(ctx, nullptr); // a damaged file may still have streams
    std::vector<int> chosen;
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        if (Presentable(ctx->streams[i])) chosen.push_back(static_cast<int>(i));
    if (chosen.empty()) return AVIERR_UNSUPPORTED;
    if (write_access) return AVIERR_READONLY;

    std::unique_ptr<ByteStream> owned = std::move(io);
    auto* f = new LavfFile(std::move(owned), std::move(demuxer), name);
    for (int i : chosen)
        f->AddStream(std::make_unique<LavfStream>(*f, i, f->Main()->streams[i]));
    bool use_index = indexed;
    if (indexed) {
        for (std::size_t k = 0; k < f->StreamCount(); ++k)
            if (avformat_index_get_entries_count(f->Main()->streams[f->Lavf(k).AvIndex()]) <= 0)
                use_index = false;
    }
    if (use_index) {
        for (std::size_t k = 0; k < f->StreamCount(); ++k) {
            LavfStream& s = f->Lavf(k);
            AVStream* st = f->Main()->streams[s.AvIndex()];
            const int n = avformat_index_get_entries_count(st);
            s.Packets().reserve(static_cast<std::size_t>(n));
            for (int e = 0; e < n; ++e) {
                const AVIndexEntry* x = avformat_index_get_entry(st, e);
                if (x == nullptr || x->size < 0 || x->size > kMaxPacket) continue;
                Packet p;
                p.pos = x->pos;
                p.dts = x->timestamp;
                p.size = static_cast<std::uint32_t>(x->size);
                p.key = (x->flags & AVINDEX_KEYFRAME) != 0;
                p.shown = !(x->flags & AVINDEX_DISCARD_FRAME);
                s.Packets().push_back(p);
            }
        }
    } else {
        f->Scan();
    }
    for (std::size_t k = 0; k < f->StreamCount(); ++k)
        f->Lavf(k).Build(indexed, !use_index);
    *file = f;
    return AVIERR_OK;
}

} // namespace lum::platform::vfw
