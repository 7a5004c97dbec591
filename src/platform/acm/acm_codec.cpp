// The codec drivers: one for every wave format tag of libavformat's RIFF
// table whose codec libavcodec decodes, each converting that tag to 8- or
// 16-bit PCM of the same channels and rate; MS ADPCM, IMA ADPCM, A-law,
// mu-law, GSM 6.10 and MP3 also encode from PCM. Decoded audio goes
// through libswresample, which turns whatever sample format the decoder
// gives into the PCM asked for.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include "platform/acm/acm_internal.h"
#include "platform/acm/acm_lav.h"

namespace lum::platform::acm::detail {

namespace {

constexpr DWORD kMaxBytes = 0x7FFFFFFF;

DWORD ClampBytes(std::uint64_t n) {
    return n > kMaxBytes ? kMaxBytes : static_cast<DWORD>(n);
}

// The module's own names for the tags it is most often asked about; the
// rest are named by libavcodec.
const char* KnownTagName(WORD tag) {
    switch (tag) {
    case 0x0002:
        return "Microsoft ADPCM";
    case 0x0003:
        return "IEEE Float";
    case 0x0006:
        return "CCITT A-Law";
    case 0x0007:
        return "CCITT u-Law";
    case 0x0011:
        return "IMA ADPCM";
    case 0x0022:
        return "DSP Group TrueSpeech";
    case 0x0031:
        return "GSM 6.10";
    case 0x0050:
        return "MPEG Layer-2";
    case 0x0055:
        return "MPEG Layer-3";
    case 0x00FF:
        return "AAC";
    case 0x0160:
        return "Windows Media Audio 1";
    case 0x0161:
        return "Windows Media Audio 2";
    case 0x2000:
        return "Dolby AC-3";
    default:
        return nullptr;
    }
}

const std::vector<DWORD>& StandardRates() {
    static const std::vector<DWORD> rates = {8000, 11025, 22050, 44100};
    return rates;
}

bool IsPowerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

// ---------------------------------------------------------------------------
// The formats the encoders write

// The block of the ADPCM formats: 256 bytes a channel, more above 11025 Hz.
int AdpcmBlock(int channels, DWORD rate) {
    return 256 * channels * (rate > 11025 ? static_cast<int>(rate / 11000) : 1);
}

const std::int16_t kMsCoef[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                    {240, 0}, {460, -208}, {392, -232}};

int MsSamplesPerBlock(int block, int channels) {
    return (block - 7 * channels) * 2 / channels + 2;
}

int ImaSamplesPerBlock(int block, int channels) {
    return (block - 4 * channels) * 8 / (4 * channels) + 1;
}

void PutWord(Bytes& b, std::size_t at, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes MakeFormat(WORD tag, int channels, DWORD rate, DWORD avg, int block, int bits, int extra) {
    Bytes b(18 + static_cast<std::size_t>(extra));
    auto* f = reinterpret_cast<WAVEFORMATEX*>(b.data());
    f->wFormatTag = tag;
    f->nChannels = static_cast<WORD>(channels);
    f->nSamplesPerSec = rate;
    f->nAvgBytesPerSec = avg;
    f->nBlockAlign = static_cast<WORD>(block);
    f->wBitsPerSample = static_cast<WORD>(bits);
    f->cbSize = static_cast<WORD>(extra);
    return b;
}

Bytes MsAdpcmFormat(int channels, DWORD rate) {
    const int block = AdpcmBlock(channels, rate);
    if (!IsPowerOfTwo(block) || block > 8192) return {};
    const int spb = MsSamplesPerBlock(block, channels);
    const std::uint64_t g = std::uint64_t{4} * channels * rate / 8;
    const auto avg = static_cast<DWORD>(g + 7 * channels * (g / block + 1));
    Bytes b = MakeFormat(2, channels, rate, avg, block, 4, 32);
    PutWord(b, 18, static_cast<std::uint32_t>(spb), 2);
    PutWord(b, 20, 7, 2);
    for (int i = 0; i < 7; ++i) {
        PutWord(b, 22 + 4 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(kMsCoef[i][0]),
                2);
        PutWord(b, 24 + 4 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(kMsCoef[i][1]),
                2);
    }
    return b;
}

Bytes ImaFormat(int channels, DWORD rate) {
    const int block = AdpcmBlock(channels, rate);
    if (!IsPowerOfTwo(block) || block > 8192) return {};
    const int spb = ImaSamplesPerBlock(block, channels);
    const auto avg = static_cast<DWORD>(std::uint64_t{rate} * block / spb);
    Bytes b = MakeFormat(0x11, channels, rate, avg, block, 4, 2);
    PutWord(b, 18, static_cast<std::uint32_t>(spb), 2);
    return b;
}

Bytes G711Format(WORD tag, int channels, DWORD rate) {
    return MakeFormat(tag, channels, rate, rate * channels, channels, 8, 0);
}

Bytes GsmFormat(DWORD rate) {
    Bytes b =
        MakeFormat(0x31, 1, rate, static_cast<DWORD>(std::uint64_t{rate} * 65 / 320), 65, 0, 2);
    PutWord(b, 18, 320, 2);
    return b;
}

// MPEG version by rate: 1, 2, or 25 for 2.5; 0 for a rate MP3 has not.
int MpegVersion(DWORD rate) {
    switch (rate) {
    case 32000:
    case 44100:
    case 48000:
        return 1;
    case 16000:
    case 22050:
    case 24000:
        return 2;
    case 8000:
    case 11025:
    case 12000:
        return 25;
    default:
        return 0;
    }
}

const std::vector<int>& Mp3Bitrates(int version) {
    static const std::vector<int> v1 = {32,  40,  48,  56,  64,  80,  96,
                                        112, 128, 160, 192, 224, 256, 320};
    static const std::vector<int> v2 = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const std::vector<int> v25 = {8, 16, 24, 32, 40, 48, 56, 64};
    return version == 1 ? v1 : (version == 2 ? v2 : v25);
}

// Bit rate in kbit/s of an MP3 format, 0 when it is not one MP3 has.
int Mp3Kbps(const WAVEFORMATEX* f) {
    const int version = MpegVersion(f->nSamplesPerSec);
    if (version == 0 || f->nAvgBytesPerSec % 125) return 0;
    const int kbps = static_cast<int>(f->nAvgBytesPerSec / 125);
    const auto& rates = Mp3Bitrates(version);
    return std::find(rates.begin(), rates.end(), kbps) != rates.end() ? kbps : 0;
}

// The layer-3 record: the format, then wID 1, padding off, the frame
// length, one frame a block and the usual codec delay.
Bytes Mp3Format(int channels, DWORD rate, int kbps) {
    Bytes b = MakeFormat(0x55, channels, rate, static_cast<DWORD>(kbps) * 125, 1, 0, 12);
    PutWord(b, 18, 1, 2);
    PutWord(b, 20, 2, 4);
    PutWord(b, 24, static_cast<std::uint32_t>(std::lround(144.0 * kbps * 1000 / rate)), 2);
    PutWord(b, 26, 1, 2);
    PutWord(b, 28, 1393, 2);
    return b;
}

int DefaultMp3Kbps(int channels, DWORD rate) {
    const int version = MpegVersion(rate);
    const int base = version == 1 ? 64 : (version == 2 ? 32 : 16);
    return base * channels;
}

// Whether an encoder can write exactly Dst.
bool ValidTarget(WORD tag, const WAVEFORMATEX* d) {
    const int ch = d->nChannels;
    const int block = d->nBlockAlign;
    const BYTE* extra = reinterpret_cast<const BYTE*>(d) + sizeof(WAVEFORMATEX);
    auto word = [extra](int at) { return extra[at] | extra[at + 1] << 8; };
    switch (tag) {
    case 0x0002: {
        if ((ch != 1 && ch != 2) || d->wBitsPerSample != 4 || d->cbSize < 32 ||
            !IsPowerOfTwo(block) || block < 32 || block > 8192 ||
            word(0) != MsSamplesPerBlock(block, ch) || word(2) != 7)
            return false;
        for (int i = 0; i < 7; ++i)
            if (static_cast<std::int16_t>(word(4 + 4 * i)) != kMsCoef[i][0] ||
                static_cast<std::int16_t>(word(6 + 4 * i)) != kMsCoef[i][1])
                return false;
        return true;
    }
    case 0x0011:
        return (ch == 1 || ch == 2) && d->wBitsPerSample == 4 && d->cbSize >= 2 &&
               IsPowerOfTwo(block) && block >= 32 && block <= 8192 &&
               word(0) == ImaSamplesPerBlock(block, ch);
    case 0x0006:
    case 0x0007:
        return d->wBitsPerSample == 8 && block == ch && ch >= 1 && ch <= 8;
    case 0x0031:
        return ch == 1 && block == 65 && (d->cbSize < 2 || word(0) == 320);
    case 0x0055:
        return (ch == 1 || ch == 2) && Mp3Kbps(d) != 0;
    default:
        return false;
    }
}

// The format an encoder suggests for PCM of these channels and rate.
Bytes SuggestedTarget(WORD tag, int channels, DWORD rate) {
    switch (tag) {
    case 0x0002:
        return channels <= 2 ? MsAdpcmFormat(channels, rate) : Bytes{};
    case 0x0011:
        return channels <= 2 ? ImaFormat(channels, rate) : Bytes{};
    case 0x0006:
    case 0x0007:
        return G711Format(tag, channels, rate);
    case 0x0031:
        return channels == 1 ? GsmFormat(rate) : Bytes{};
    case 0x0055:
        return channels <= 2 && MpegVersion(rate)
                   ? Mp3Format(channels, rate, DefaultMp3Kbps(channels, rate))
                   : Bytes{};
    default:
        return {};
    }
}

std::vector<Bytes> StandardTargets(WORD tag) {
    std::vector<Bytes> out;
    if (tag == 0x0055) {
        for (DWORD rate : {8000u, 11025u, 12000u, 16000u, 22050u, 24000u, 32000u, 44100u, 48000u})
            for (int channels : {1, 2})
                for (int kbps : Mp3Bitrates(MpegVersion(rate)))
                    out.push_back(Mp3Format(channels, rate, kbps));
        return out;
    }
    for (DWORD rate : StandardRates())
        for (int channels : {1, 2}) {
            Bytes b = SuggestedTarget(tag, channels, rate);
            if (!b.empty()) out.push_back(std::move(b));
        }
    return out;
}

// Frames one block decodes to, when the codec fixes it; 0 otherwise.
int FramesPerBlock(AVCodecID id, const WAVEFORMATEX* f) {
    const int ch = std::max<int>(f->nChannels, 1);
    const int block = f->nBlockAlign;
    switch (id) {
    case AV_CODEC_ID_ADPCM_MS:
        return block >= 7 * ch ? MsSamplesPerBlock(block, ch) : 0;
    case AV_CODEC_ID_ADPCM_IMA_WAV: {
        const int bits = std::clamp<int>(f->wBitsPerSample, 2, 5);
        return block >= 4 * ch ? 1 + (block - 4 * ch) * 8 / (bits * ch) : 0;
    }
    case AV_CODEC_ID_GSM_MS:
        return block >= 65 ? block / 65 * 320 : 0;
    default: {
        const int bits = av_get_bits_per_sample(id);
        return bits > 0 && block > 0 ? block * 8 / (bits * ch) : 0;
    }
    }
}

// ---------------------------------------------------------------------------
// Decoding

class DecodeConverter final : public Converter {
public:
    DecodeConverter(const AVCodec* codec, const WAVEFORMATEX* src, const WAVEFORMATEX* dst)
        : codec_(codec), src_(FormatBytes(src)), dst_(*dst) {}

    ~DecodeConverter() override { Free(); }

    bool Open() {
        const WAVEFORMATEX* s = AsFormat(src_);
        ctx_ = avcodec_alloc_context3(codec_);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (!ctx_ || !packet_ || !frame_) return false;
        ctx_->sample_rate = static_cast<int>(s->nSamplesPerSec);
        av_channel_layout_default(&ctx_->ch_layout, s->nChannels);
        ctx_->block_align = s->nBlockAlign;
        ctx_->bit_rate = std::int64_t{s->nAvgBytesPerSec} * 8;
        ctx_->bits_per_coded_sample = s->wBitsPerSample;
        ctx_->codec_tag = s->wFormatTag;
        if (s->cbSize) {
            ctx_->extradata =
                static_cast<std::uint8_t*>(av_mallocz(s->cbSize + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!ctx_->extradata) return false;
            std::memcpy(ctx_->extradata, reinterpret_cast<const BYTE*>(s) + 18, s->cbSize);
            ctx_->extradata_size = s->cbSize;
        }
        if (avcodec_open2(ctx_, codec_, nullptr) < 0) return false;
        if (UsesParser(codec_->id)) {
            parser_ = av_parser_init(codec_->id);
            if (!parser_) return false;
        }
        unit_ = std::max<int>(s->nBlockAlign, 1);
        framesPerBlock_ = FramesPerBlock(codec_->id, s);
        return true;
    }

    MMRESULT Convert(const BYTE* src, DWORD srcLen, DWORD& used, BYTE* dst, DWORD dstLen,
                     DWORD& produced, DWORD flags) override {
        used = produced = 0;
        const bool end = flags & ACM_STREAMCONVERTF_END;
        if (flags & ACM_STREAMCONVERTF_START) {
            queue_.Clear();
            Restart();
        } else if (ended_ && srcLen > 0) {
            Restart();
        }
        queue_.Begin(dst, dstLen);
        // Whole blocks; a cut last block only at the end of the stream.
        const DWORD whole = parser_ ? srcLen : srcLen / unit_ * unit_;
        const DWORD take = end ? srcLen : whole;
        const DWORD chunk = parser_ ? 4096 : PacketBytes();
        DWORD pos = 0;
        while (pos < take && !queue_.Waiting()) {
            const DWORD n = std::min(chunk, take - pos);
            if (parser_)
                Parse(src + pos, n);
            else
                Decode(src + pos, n);
            pos += n;
        }
        used = pos;
        if (end && pos == srcLen && !ended_) {
            if (parser_) Parse(nullptr, 0);
            avcodec_send_packet(ctx_, nullptr);
            Receive();
            Drain();
            ended_ = true;
        }
        produced = queue_.Written();
        return MMSYSERR_NOERROR;
    }

    DWORD OutputSize(DWORD srcBytes) const override {
        const WAVEFORMATEX* s = AsFormat(src_);
        std::uint64_t frames;
        const std::uint64_t blocks = (std::uint64_t{srcBytes} + unit_ - 1) / unit_ + 1;
        if (framesPerBlock_ > 0) {
            frames = blocks * static_cast<std::uint64_t>(framesPerBlock_);
        } else {
            // Codecs with frames of their own: a generous share of the byte
            // rate, plus what a decoder and its parser may hold back.
            const std::uint64_t perByte =
                s->nAvgBytesPerSec
                    ? std::uint64_t{srcBytes} * s->nSamplesPerSec * 2 / s->nAvgBytesPerSec
                    : std::uint64_t{srcBytes} * 64;
            frames = perByte + 16384;
        }
        return ClampBytes(frames * dst_.nBlockAlign);
    }

    DWORD InputSize(DWORD dstBytes) const override {
        const WAVEFORMATEX* s = AsFormat(src_);
        const std::uint64_t frames = dstBytes / dst_.nBlockAlign;
        if (framesPerBlock_ > 0)
            return ClampBytes(frames / static_cast<std::uint64_t>(framesPerBlock_) * unit_);
        if (s->nSamplesPerSec == 0) return 0;
        return ClampBytes(frames * s->nAvgBytesPerSec / s->nSamplesPerSec / unit_ * unit_);
    }

private:
    static bool UsesParser(AVCodecID id) {
        switch (id) {
        case AV_CODEC_ID_MP1:
        case AV_CODEC_ID_MP2:
        case AV_CODEC_ID_MP3:
        case AV_CODEC_ID_AC3:
        case AV_CODEC_ID_EAC3:
        case AV_CODEC_ID_DTS:
            return true;
        default:
            return false;
        }
    }

    // Large blocks are a codec's packets; small ones are grouped.
    DWORD PacketBytes() const {
        return unit_ >= 64 ? unit_ : std::max<DWORD>(1, 4096 / unit_) * unit_;
    }

    void Free() {
        av_parser_close(parser_);
        parser_ = nullptr;
        avcodec_free_context(&ctx_);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        swr_free(&swr_);
        av_channel_layout_uninit(&swrLayout_);
    }

    void Restart() {
        avcodec_flush_buffers(ctx_);
        if (parser_) {
            av_parser_close(parser_);
            parser_ = av_parser_init(codec_->id);
        }
        swr_free(&swr_);
        ended_ = false;
    }

    void Parse(const BYTE* data, DWORD size) {
        do {
            std::uint8_t* out = nullptr;
            int outSize = 0;
            const int n =
                av_parser_parse2(parser_, ctx_, &out, &outSize, data, static_cast<int>(size),
                                 AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (n < 0) return;
            data += n;
            size -= static_cast<DWORD>(n);
            if (outSize > 0) Decode(out, static_cast<DWORD>(outSize));
            if (n == 0 && outSize == 0) break;
        } while (size > 0);
    }

    // Packets need zeroed padding behind them, which the caller's buffer
    // does not have, so each is copied.
    void Decode(const BYTE* data, DWORD size) {
        padded_.assign(data, data + size);
        padded_.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet_->data = padded_.data();
        packet_->size = static_cast<int>(size);
        int r = avcodec_send_packet(ctx_, packet_);
        if (r == AVERROR(EAGAIN)) {
            Receive();
            r = avcodec_send_packet(ctx_, packet_);
        }
        // Damaged data gives no samples for its packet and the stream goes on.
        Receive();
        packet_->data = nullptr;
        packet_->size = 0;
    }

    void Receive() {
        while (avcodec_receive_frame(ctx_, frame_) == 0) {
            Emit(frame_);
            av_frame_unref(frame_);
        }
    }

    void Emit(const AVFrame* f) {
        if (f->nb_samples <= 0) return;
        if (!swr_ || f->format != swrFormat_ || f->sample_rate != swrRate_ ||
            av_channel_layout_compare(&f->ch_layout, &swrLayout_) != 0) {
            swr_free(&swr_);
            swr_ = MakeSwr(f->ch_layout, static_cast<AVSampleFormat>(f->format), f->sample_rate,
                           dst_.nChannels, PcmSampleFormat(dst_.wBitsPerSample),
                           static_cast<int>(dst_.nSamplesPerSec));
            if (!swr_) return;
            swrFormat_ = f->format;
            swrRate_ = f->sample_rate;
            av_channel_layout_uninit(&swrLayout_);
            av_channel_layout_copy(&swrLayout_, &f->ch_layout);
        }
        const int room = swr_get_out_samples(swr_, f->nb_samples);
        if (room <= 0) return;
        scratch_.resize(static_cast<std::size_t>(room) * dst_.nBlockAlign);
        std::uint8_t* out = scratch_.data();
        const int n = swr_convert(
            swr_, &out, room, const_cast<const std::uint8_t**>(f->extended_data), f->nb_samples);
        if (n > 0) queue_.Put(scratch_.data(), static_cast<std::size_t>(n) * dst_.nBlockAlign);
    }

    void Drain() {
        if (!swr_) return;
        for (;;) {
            const int room = std::max(swr_get_out_samples(swr_, 0), 0) + 64;
            scratch_.resize(static_cast<std::size_t>(room) * dst_.nBlockAlign);
            std::uint8_t* out = scratch_.data();
            const int n = swr_convert(swr_, &out, room, nullptr, 0);
            if (n <= 0) break;
            queue_.Put(scratch_.data(), static_cast<std::size_t>(n) * dst_.nBlockAlign);
        }
    }

    const AVCodec* codec_;
    Bytes src_;
    WAVEFORMATEX dst_;
    AVCodecContext* ctx_ = nullptr;
    AVCodecParserContext* parser_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwrContext* swr_ = nullptr;
    int swrFormat_ = -1;
    int swrRate_ = 0;
    AVChannelLayout swrLayout_{};
    OutputQueue queue_;
    Bytes padded_, scratch_;
    DWORD unit_ = 1;
    int framesPerBlock_ = 0;
    bool ended_ = false;
};

// ---------------------------------------------------------------------------
// Encoding

class EncodeConverter final : public Converter {
public:
    EncodeConverter(const AVCodec* codec, const WAVEFORMATEX* src, const WAVEFORMATEX* dst)
        : codec_(codec), src_(*src), dst_(FormatBytes(dst)) {}

    ~EncodeConverter() override { Free(); }

    bool Open() {
        Free();
        const WAVEFORMATEX* d = AsFormat(dst_);
        ctx_ = avcodec_alloc_context3(codec_);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (!ctx_ || !packet_ || !frame_) return false;
        ctx_->sample_rate = static_cast<int>(d->nSamplesPerSec);
        av_channel_layout_default(&ctx_->ch_layout, d->nChannels);
        ctx_->sample_fmt = PickFormat();
        // GSM at rates other than 8000 Hz is written as the old codec did.
        ctx_->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
        AVDictionary* options = nullptr;
        if (d->wFormatTag == 0x55) ctx_->bit_rate = std::int64_t{d->nAvgBytesPerSec} * 8;
        if (d->wFormatTag == 0x02 || d->wFormatTag == 0x11)
            av_dict_set_int(&options, "block_size", d->nBlockAlign, 0);
        const int r = avcodec_open2(ctx_, codec_, &options);
        av_dict_free(&options);
        if (r < 0) return false;
        if ((d->wFormatTag == 0x02 || d->wFormatTag == 0x11) &&
            (ctx_->block_align != d->nBlockAlign ||
             ctx_->frame_size != (reinterpret_cast<const BYTE*>(d)[18] |
                                  reinterpret_cast<const BYTE*>(d)[19] << 8)))
            return false;
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, src_.nChannels);
        swr_ = MakeSwr(layout, PcmSampleFormat(src_.wBitsPerSample),
                       static_cast<int>(src_.nSamplesPerSec), d->nChannels, ctx_->sample_fmt,
                       static_cast<int>(d->nSamplesPerSec));
        av_channel_layout_uninit(&layout);
        pts_ = 0;
        ended_ = false;
        return swr_ != nullptr;
    }

    MMRESULT Convert(const BYTE* src, DWORD srcLen, DWORD& used, BYTE* dst, DWORD dstLen,
                     DWORD& produced, DWORD flags) override {
        used = produced = 0;
        const bool end = flags & ACM_STREAMCONVERTF_END;
        const DWORD inBlock = src_.nBlockAlign;
        if (flags & ACM_STREAMCONVERTF_START) {
            queue_.Clear();
            if (!Open()) return MMSYSERR_ERROR;
        } else if (ended_ && srcLen >= inBlock) {
            if (!Open()) return MMSYSERR_ERROR;
        }
        queue_.Begin(dst, dstLen);
        const int frames = static_cast<int>(srcLen / inBlock);
        const int size = ctx_->frame_size > 0 ? ctx_->frame_size : 4096;
        const bool shortLast = ctx_->frame_size <= 0 ||
                               (codec_->capabilities &
                                (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
        int pos = 0;
        while (pos < frames && !queue_.Waiting()) {
            const int n = std::min(size, frames - pos);
            // A frame's worth is encoded now; a short rest only at the end,
            // filled with silence where the codec needs whole frames.
            if (n < size && ctx_->frame_size > 0 && !end) break;
            if (!Encode(src + static_cast<std::size_t>(pos) * inBlock, n, shortLast ? n : size))
                return MMSYSERR_ERROR;
            pos += n;
        }
        used = static_cast<DWORD>(pos) * inBlock;
        if (end && pos == frames && !ended_) {
            avcodec_send_frame(ctx_, nullptr);
            Receive();
            ended_ = true;
        }
        produced = queue_.Written();
        return MMSYSERR_NOERROR;
    }

    DWORD OutputSize(DWORD srcBytes) const override {
        const WAVEFORMATEX* d = AsFormat(dst_);
        const std::uint64_t frames = srcBytes / src_.nBlockAlign;
        const std::uint64_t size =
            ctx_->frame_size > 0 ? static_cast<std::uint64_t>(ctx_->frame_size) : 1;
        // An encoder with a delay (MP3) gives the frames it holds at the end.
        const std::uint64_t held = ctx_->initial_padding > 0 || d->wFormatTag == 0x55 ? 8 : 3;
        const std::uint64_t packets = (frames + size - 1) / size + held;
        return ClampBytes(packets * MaxPacket(d, size));
    }

    DWORD InputSize(DWORD dstBytes) const override {
        const WAVEFORMATEX* d = AsFormat(dst_);
        const std::uint64_t size =
            ctx_->frame_size > 0 ? static_cast<std::uint64_t>(ctx_->frame_size) : 1;
        return ClampBytes(dstBytes / MaxPacket(d, size) * size * src_.nBlockAlign);
    }

private:
    // Bytes one packet of Size frames takes at most.
    static std::uint64_t MaxPacket(const WAVEFORMATEX* d, std::uint64_t size) {
        switch (d->wFormatTag) {
        case 0x0055: // a layer-3 frame, padding included
            return 144 * std::uint64_t{d->nAvgBytesPerSec} * 8 / d->nSamplesPerSec + 2;
        case 0x0006:
        case 0x0007:
            return size * d->nChannels;
        default:
            return d->nBlockAlign;
        }
    }

    AVSampleFormat PickFormat() const {
        const AVSampleFormat* f = codec_->sample_fmts;
        if (!f) return AV_SAMPLE_FMT_S16;
        for (const AVSampleFormat* p = f; *p != AV_SAMPLE_FMT_NONE; ++p)
            if (*p == AV_SAMPLE_FMT_S16 || *p == AV_SAMPLE_FMT_S16P) return *p;
        return f[0];
    }

    void Free() {
        avcodec_free_context(&ctx_);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        swr_free(&swr_);
    }

    bool Encode(const BYTE* src, int real, int length) {
        av_frame_unref(frame_);
        frame_->nb_samples = length;
        frame_->format = ctx_->sample_fmt;
        frame_->sample_rate = ctx_->sample_rate;
        if (av_channel_layout_copy(&frame_->ch_layout, &ctx_->ch_layout) < 0 ||
            av_frame_get_buffer(frame_, 0) < 0)
            return false;
        const int n = swr_convert(swr_, frame_->extended_data, real, &src, real);
        if (n < 0) return false;
        if (n < length)
            av_samples_set_silence(frame_->extended_data, n, length - n,
                                   ctx_->ch_layout.nb_channels, ctx_->sample_fmt);
        frame_->pts = pts_;
        pts_ += length;
        if (avcodec_send_frame(ctx_, frame_) < 0) return false;
        Receive();
        return true;
    }

    void Receive() {
        while (avcodec_receive_packet(ctx_, packet_) == 0) {
            queue_.Put(packet_->data, static_cast<std::size_t>(packet_->size));
            av_packet_unref(packet_);
        }
    }

    const AVCodec* codec_;
    WAVEFORMATEX src_;
    Bytes dst_;
    AVCodecContext* ctx_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwrContext* swr_ = nullptr;
    OutputQueue queue_;
    std::int64_t pts_ = 0;
    bool ended_ = false;
};

bool IsCodecPcm(const WAVEFORMATEX* f) {
    return IsPcm(f) && (f->wBitsPerSample == 8 || f->wBitsPerSample == 16);
}

// ---------------------------------------------------------------------------
// The driver of one tag

class CodecDriver final : public Driver {
public:
    CodecDriver(WORD tag, const AVCodec* decoder, const AVCodec* encoder)
        : tag_(tag), decoder_(decoder), encoder_(encoder) {
        support = ACMDRIVERDETAILS_SUPPORTF_CODEC;
        const char* known = KnownTagName(tag);
        const std::string name =
            known ? known : (decoder->long_name ? decoder->long_name : decoder->name);
        shortName = name;
        longName = name + " CODEC";
        features = std::string("Decodes to PCM with libavcodec's ") + decoder->name;
        if (encoder) features += std::string(", encodes from PCM with ") + encoder->name;
        features += ".";
        FormatTag t;
        t.tag = tag;
        t.name = name;
        if (encoder) t.formats = StandardTargets(tag);
        t.largest = sizeof(WAVEFORMATEX) + 32;
        for (const Bytes& f : t.formats)
            t.largest = std::max<DWORD>(t.largest, static_cast<DWORD>(f.size()));
        tags.push_back(std::move(t));
    }

    MMRESULT Suggest(const WAVEFORMATEX* src, Bytes& out, const Constraints& c) const override {
        if (src->wFormatTag == tag_) {
            const int bits = (c.flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) ? c.bits : 16;
            if (!c.Tag(1) || (bits != 8 && bits != 16) || src->nChannels < 1 ||
                src->nChannels > 8 || src->nSamplesPerSec < 1 || !c.Channels(src->nChannels) ||
                !c.Rate(src->nSamplesPerSec))
                return ACMERR_NOTPOSSIBLE;
            const WAVEFORMATEX f = MakePcm(bits, src->nChannels, src->nSamplesPerSec);
            out = FormatBytes(&f);
            return MMSYSERR_NOERROR;
        }
        // Encoding is suggested only when this tag is asked for.
        if (encoder_ && IsCodecPcm(src) && (c.flags & ACM_FORMATSUGGESTF_WFORMATTAG) &&
            c.tag == tag_ && c.Channels(src->nChannels) && c.Rate(src->nSamplesPerSec)) {
            Bytes f = SuggestedTarget(tag_, src->nChannels, src->nSamplesPerSec);
            if (f.empty() || !c.Bits(AsFormat(f)->wBitsPerSample)) return ACMERR_NOTPOSSIBLE;
            out = std::move(f);
            return MMSYSERR_NOERROR;
        }
        return ACMERR_NOTPOSSIBLE;
    }

    MMRESULT Open(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, const WAVEFILTER* filter,
                  std::unique_ptr<Converter>* conv) const override {
        if (filter) return ACMERR_NOTPOSSIBLE;
        if (src->wFormatTag == tag_ && IsCodecPcm(dst) && dst->nChannels == src->nChannels &&
            dst->nSamplesPerSec == src->nSamplesPerSec) {
            auto c = std::make_unique<DecodeConverter>(decoder_, src, dst);
            if (!c->Open()) return ACMERR_NOTPOSSIBLE;
            if (conv) *conv = std::move(c);
            return MMSYSERR_NOERROR;
        }
        if (encoder_ && dst->wFormatTag == tag_ && IsCodecPcm(src) &&
            dst->nChannels == src->nChannels && dst->nSamplesPerSec == src->nSamplesPerSec &&
            ValidTarget(tag_, dst)) {
            auto c = std::make_unique<EncodeConverter>(encoder_, src, dst);
            if (!c->Open()) return ACMERR_NOTPOSSIBLE;
            if (conv) *conv = std::move(c);
            return MMSYSERR_NOERROR;
        }
        return ACMERR_NOTPOSSIBLE;
    }

    bool Writes(WORD tag) const override { return encoder_ && tag == tag_; }

private:
    WORD tag_;
    const AVCodec* decoder_;
    const AVCodec* encoder_;
};

// The encoders this module offers, by tag.
const AVCodec* EncoderFor(WORD tag) {
    switch (tag) {
    case 0x0002:
        return avcodec_find_encoder(AV_CODEC_ID_ADPCM_MS);
    case 0x0011:
        return avcodec_find_encoder(AV_CODEC_ID_ADPCM_IMA_WAV);
    case 0x0006:
        return avcodec_find_encoder(AV_CODEC_ID_PCM_ALAW);
    case 0x0007:
        return avcodec_find_encoder(AV_CODEC_ID_PCM_MULAW);
    case 0x0031:
        return avcodec_find_encoder_by_name("libgsm_ms");
    case 0x0055:
        return avcodec_find_encoder_by_name("libmp3lame");
    default:
        return nullptr;
    }
}

const AVCodec* DecoderFor(AVCodecID id) {
    // libgsm decodes GSM exactly as libgsm encodes it.
    if (id == AV_CODEC_ID_GSM_MS)
        if (const AVCodec* c = avcodec_find_decoder_by_name("libgsm_ms")) return c;
    return avcodec_find_decoder(id);
}

} // namespace

void AddCodecDrivers(std::vector<std::unique_ptr<Driver>>& drivers) {
    const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
    for (unsigned tag = 2; tag < 0xFFFE; ++tag) {
        const AVCodecID id = av_codec_get_id(tables, tag);
        if (id == AV_CODEC_ID_NONE) continue;
        const AVCodec* decoder = DecoderFor(id);
        if (!decoder) continue;
        const auto t = static_cast<WORD>(tag);
        drivers.push_back(std::make_unique<CodecDriver>(t, decoder, EncoderFor(t)));
    }
}

} // namespace lum::platform::acm::detail
