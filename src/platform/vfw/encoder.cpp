#include "platform/vfw/encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "platform/vfw/framecodec.h"
#include "platform/vfw/riff.h"

namespace lum::platform::vfw {

void FrameDeleter::operator()(AVFrame* f) const {
    av_frame_free(&f);
}

namespace {

constexpr DWORD kDefaultQuality = 0xFFFFFFFF;

// Quality 0..10000 as a quantiser scale 31..1.
int QScale(DWORD quality) {
    const long q = std::clamp<long>(static_cast<long>(quality), 0, 10000);
    return static_cast<int>(std::lround(1 + (10000 - q) * 30 / 10000.0));
}

bool IsMpegVideo(const std::string& encoder) {
    return encoder == "mpeg4" || encoder == "mjpeg";
}

} // namespace

EncoderSettings SettingsFrom(const CompressorInfo& c, const AVICOMPRESSOPTIONS& o) {
    EncoderSettings s;
    s.key_every = KeyFrameInterval(c, o);
    s.quality = o.dwQuality;
    if ((o.dwFlags & AVICOMPRESSF_DATARATE) && c.data_rate) s.bytes_per_second = o.dwBytesPerSecond;
    return s;
}

// ---- Encoder ----

Encoder::~Encoder() {
    av_packet_free(&packet_);
    avcodec_free_context(&ctx_);
}

HRESULT Encoder::Open(const CompressorInfo& c, int width, int height, DWORD scale, DWORD rate,
                      const EncoderSettings& s) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
    info_ = c;
    width_ = width;
    height_ = height;
    scale_ = scale;
    rate_ = rate;
    settings_ = s;
    // These two start a key frame only by themselves: a new encoder makes
    // one at the schedule's key frames.
    restart_for_key_ = c.encoder == "msvideo1" || c.encoder == "cinepak";
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return AVIERR_BADFORMAT;
    if (c.encoder.empty()) {
        pix_ = AV_PIX_FMT_BGR24;
        return AVIERR_OK;
    }
    return OpenContext();
}

HRESULT Encoder::OpenContext() {
    const CompressorInfo& c = info_;
    const EncoderSettings& s = settings_;
    const int width = width_, height = height_;
    const DWORD scale = scale_, rate = rate_;
    const AVCodec* codec = avcodec_find_encoder_by_name(c.encoder.c_str());
    if (codec == nullptr) return AVIERR_NOCOMPRESSOR;
    avcodec_free_context(&ctx_);
    ctx_ = avcodec_alloc_context3(codec);
    if (!packet_) packet_ = av_packet_alloc();
    if (!ctx_ || !packet_) return AVIERR_MEMORY;
    sent_ = 0;

    if (c.encoder == "mjpeg")
        pix_ = AV_PIX_FMT_YUVJ420P;
    else if (c.encoder == "ffv1")
        pix_ = AV_PIX_FMT_BGR0;
    else if (c.encoder == "huffyuv" || c.encoder == "cinepak")
        pix_ = AV_PIX_FMT_RGB24;
    else if (c.encoder == "msvideo1")
        pix_ = AV_PIX_FMT_RGB555;
    else
        pix_ = AV_PIX_FMT_YUV420P;

    ctx_->width = width;
    ctx_->height = height;
    ctx_->pix_fmt = static_cast<AVPixelFormat>(pix_);
    if (pix_ == AV_PIX_FMT_YUVJ420P) ctx_->color_range = AVCOL_RANGE_JPEG;
    ctx_->codec_tag = c.compression;
    // MPEG-4 carries the time base in its headers with at most 16 bits.
    int num = static_cast<int>(std::max<DWORD>(scale, 1));
    int den = static_cast<int>(std::max<DWORD>(rate, 1));
    av_reduce(&num, &den, std::max<DWORD>(scale, 1), std::max<DWORD>(rate, 1), 65535);
    ctx_->time_base = AVRational{num, den};
    ctx_->framerate = AVRational{den, num};
    ctx_->gop_size = std::max<LONG>(s.key_every, 1);
    ctx_->keyint_min = ctx_->gop_size;
    if (restart_for_key_) {
        // Never of their own schedule: the restarts make it.
        ctx_->gop_size = ctx_->keyint_min = 0x3FFFFFFF;
    }
    ctx_->max_b_frames = 0;
    ctx_->flags |= AV_CODEC_FLAG_CLOSED_GOP;
    ctx_->thread_count = 0; // as many as the machine has, as ffmpeg does

    // Key frames only where asked: no scene-change detection.
    if (c.encoder == "libx264") {
        av_opt_set_int(ctx_->priv_data, "sc_threshold", 0, 0);
        av_opt_set_int(ctx_->priv_data, "forced-idr", 1, 0);
    } else if (IsMpegVideo(c.encoder)) {
        av_opt_set_int(ctx_, "sc_threshold", 1000000000, AV_OPT_SEARCH_CHILDREN);
    }

    if (s.bytes_per_second > 0 && c.data_rate) {
        ctx_->bit_rate = static_cast<std::int64_t>(s.bytes_per_second) * 8;
    } else if (c.quality) {
        if (c.encoder == "libx264") {
            const double crf = s.quality == kDefaultQuality
                                   ? 23.0
                                   : 51.0 * (10000 - std::min<DWORD>(s.quality, 10000)) / 10000.0;
            av_opt_set_double(ctx_->priv_data, "crf", crf, 0);
        } else {
            const int q = QScale(s.quality == kDefaultQuality ? 7500 : s.quality);
            ctx_->flags |= AV_CODEC_FLAG_QSCALE;
            ctx_->global_quality = q * FF_QP2LAMBDA;
        }
    }
    if (avcodec_open2(ctx_, codec, nullptr) < 0) return AVIERR_BADFORMAT;
    return AVIERR_OK;
}

std::vector<std::uint8_t> Encoder::Format() const {
    const std::size_t extra = ctx_ && ctx_->extradata ? ctx_->extradata_size : 0;
    std::vector<std::uint8_t> f(40 + extra, 0);
    int bits = 24;
    if (ctx_ && ctx_->bits_per_coded_sample > 0) bits = ctx_->bits_per_coded_sample;
    if (info_.encoder == "msvideo1") bits = 16;
    PutLE32(&f[0], static_cast<std::uint32_t>(40 + extra));
    PutLE32(&f[4], static_cast<std::uint32_t>(width_));
    PutLE32(&f[8], static_cast<std::uint32_t>(height_));
    PutLE16(&f[12], 1);
    PutLE16(&f[14], static_cast<std::uint16_t>(bits));
    PutLE32(&f[16], info_.compression);
    PutLE32(&f[20], static_cast<std::uint32_t>(DibStride(width_, bits) * height_));
    if (extra) std::memcpy(&f[40], ctx_->extradata, extra);
    return f;
}

HRESULT Encoder::Send(AVFrame* frame, LONG pos, bool key) {
    if (info_.encoder.empty()) {
        if (frame == nullptr) return AVIERR_OK;
        // A bottom-up 24-bit DIB.
        Packet p;
        p.pos = pos;
        p.key = true;
        const std::size_t stride = DibStride(width_, 24);
        p.data.assign(stride * static_cast<std::size_t>(height_), 0);
        for (int y = 0; y < height_; ++y)
            std::memcpy(&p.data[stride * static_cast<std::size_t>(height_ - 1 - y)],
                        frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0],
                        static_cast<std::size_t>(width_) * 3);
        raw_.push_back(std::move(p));
        return AVIERR_OK;
    }
    if (frame && key && restart_for_key_ && sent_ > 0) {
        // Drain the old encoder into the holding queue, then a new one.
        if (avcodec_send_frame(ctx_, nullptr) < 0) return AVIERR_COMPRESSOR;
        if (HRESULT hr = Take(raw_); hr != AVIERR_OK) return hr;
        if (HRESULT hr = OpenContext(); hr != AVIERR_OK) return hr;
    }
    if (frame) {
        frame->pts = pos;
        frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        // A fixed quality is taken from each picture, as ffmpeg passes it.
        if (ctx_->flags & AV_CODEC_FLAG_QSCALE) frame->quality = ctx_->global_quality;
        ++sent_;
    }
    int r = avcodec_send_frame(ctx_, frame);
    if (r == AVERROR(EAGAIN)) {
        // Full: make room by taking what is done, then try once more.
        if (HRESULT hr = Take(raw_); hr != AVIERR_OK) return hr;
        r = avcodec_send_frame(ctx_, frame);
    }
    return r < 0 && r != AVERROR_EOF ? AVIERR_COMPRESSOR : AVIERR_OK;
}

HRESULT Encoder::Take(std::deque<Packet>& out) {
    if (&out != &raw_) {
        while (!raw_.empty()) {
            out.push_back(std::move(raw_.front()));
            raw_.pop_front();
        }
    }
    if (ctx_ == nullptr) return AVIERR_OK;
    for (;;) {
        int r = avcodec_receive_packet(ctx_, packet_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return AVIERR_OK;
        if (r < 0) return AVIERR_COMPRESSOR;
        Packet p;
        p.pos = static_cast<LONG>(packet_->pts);
        p.key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
        p.data.assign(packet_->data, packet_->data + packet_->size);
        av_packet_unref(packet_);
        out.push_back(std::move(p));
    }
}

// ---- PictureConverter ----

PictureConverter::PictureConverter(const DibLayout& from, int pixel_format)
    : from_(from), pix_(pixel_format) {
    const bool rgb32 = from.bits == 32 && from.compression == BI_RGB;
    const bool rgb24 = from.bits == 24;
    if (rgb32 || rgb24) {
        rgb_ = from;
    } else {
        rgb_ = Rgb24Layout(from.width, from.height);
        staging_.resize(rgb_.image);
    }
    src_pix_ = rgb_.bits == 32 ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_BGR24;
    sws_ = sws_getContext(from.width, from.height, static_cast<AVPixelFormat>(src_pix_), from.width,
                          from.height, static_cast<AVPixelFormat>(pix_), SWS_BICUBIC, nullptr,
                          nullptr, nullptr);
}

PictureConverter::~PictureConverter() {
    sws_freeContext(sws_);
}

FramePtr PictureConverter::Convert(const std::uint8_t* pixels) {
    if (sws_ == nullptr) return nullptr;
    FramePtr f(av_frame_alloc());
    if (!f) return nullptr;
    f->format = pix_;
    f->width = from_.width;
    f->height = from_.height;
    if (pix_ == AV_PIX_FMT_YUVJ420P) f->color_range = AVCOL_RANGE_JPEG;
    if (av_frame_get_buffer(f.get(), 0) < 0) return nullptr;
    const std::uint8_t* src = pixels;
    if (!staging_.empty()) {
        ConvertPicture(from_, pixels, rgb_, staging_.data());
        src = staging_.data();
    }
    // Rows from the top: a bottom-up picture is read backwards.
    const std::uint8_t* top = src + rgb_.RowOffset(0);
    const int stride = static_cast<int>(rgb_.stride);
    const std::uint8_t* planes[4] = {top, nullptr, nullptr, nullptr};
    const int strides[4] = {rgb_.top_down ? stride : -stride, 0, 0, 0};
    if (sws_scale(sws_, planes, strides, 0, from_.height, f->data, f->linesize) != from_.height)
        return nullptr;
    return f;
}

// ---- PictureFeeder ----

DibLayout FeederLayout(int width, int height, int pixel_format) {
    DibLayout l = Rgb24Layout(width, height);
    if (pixel_format == AV_PIX_FMT_BGR0) {
        l.bits = 32;
        l.stride = DibStride(width, 32);
        l.image = l.stride * static_cast<std::size_t>(height);
    }
    return l;
}

PictureFeeder::PictureFeeder(PGETFRAME decoder, const DibLayout& layout, int pixel_format, LONG end,
                             bool threaded)
    : decoder_(decoder), layout_(layout), converter_(layout, pixel_format),
      header_bytes_(PackedHeader(layout).size()), end_(end), threaded_(threaded) {}

PictureFeeder::~PictureFeeder() {
    Stop();
    sws_freeContext(sws_);
    AVIStreamGetFrameClose(decoder_);
}

FramePtr PictureFeeder::Make(LONG pos) {
    // A picture the source's decoder made in the encoder's own pixel
    // format and size goes to the encoder as it is: no conversion through
    // RGB and back. Decided at the first picture, for the whole stream.
    if (native_ != Native::No) {
        const AVFrame* f = AVIStreamGetFrameNative(decoder_, pos);
        if (f != nullptr && f->width == layout_.width && f->height == layout_.height) {
            if (f->format == converter_.PixelFormat()) {
                native_ = Native::Yes;
                return FramePtr{av_frame_clone(f)};
            }
            // Another YUV layout for a YUV encoder: converted directly, as
            // ffmpeg converts it.
            if (FramePtr c = FromYuv(f)) {
                native_ = Native::Yes;
                return c;
            }
        }
        // Otherwise this picture (and with a first one, every one) as a DIB.
        if (native_ == Native::Unknown) native_ = Native::No;
    }
    auto* dib = static_cast<const std::uint8_t*>(AVIStreamGetFrame(decoder_, pos));
    if (dib == nullptr) return nullptr;
    // The decoder gives the layout asked for; its header says where the
    // pixels start.
    const std::size_t header = GetLE32(dib);
    const std::size_t skip = header == 40 ? header_bytes_ : header;
    return converter_.Convert(dib + skip);
}

FramePtr PictureFeeder::FromYuv(const AVFrame* f) {
    const int to = converter_.PixelFormat();
    const AVPixFmtDescriptor* from = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
    const AVPixFmtDescriptor* want = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(to));
    constexpr auto kNotYuv = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL;
    if (from == nullptr || want == nullptr || (from->flags & kNotYuv) || (want->flags & kNotYuv) ||
        from->nb_components < 3)
        return nullptr;
    sws_ = sws_getCachedContext(sws_, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                f->width, f->height, static_cast<AVPixelFormat>(to), SWS_BICUBIC,
                                nullptr, nullptr, nullptr);
    if (sws_ == nullptr) return nullptr;
    FramePtr out(av_frame_alloc());
    if (!out) return nullptr;
    out->format = to;
    out->width = f->width;
    out->height = f->height;
    if (to == AV_PIX_FMT_YUVJ420P) out->color_range = AVCOL_RANGE_JPEG;
    if (av_frame_get_buffer(out.get(), 0) < 0) return nullptr;
    if (sws_scale(sws_, f->data, f->linesize, 0, f->height, out->data, out->linesize) != f->height)
        return nullptr;
    return out;
}

FramePtr PictureFeeder::Take(LONG pos) {
    if (!threaded_) return Make(pos);
    std::unique_lock lock(mutex_);
    if (!thread_.joinable() || pos != expected_) {
        lock.unlock();
        Start(pos);
        lock.lock();
    }
    changed_.wait(lock, [&] { return !ready_.empty() || done_; });
    if (ready_.empty()) return nullptr; // the thread stopped at a failure
    Item item = std::move(ready_.front());
    ready_.pop_front();
    expected_ = item.pos + 1;
    changed_.notify_all();
    if (item.pos != pos) return nullptr;
    return std::move(item.frame);
}

void PictureFeeder::Start(LONG pos) {
    Stop();
    std::lock_guard lock(mutex_);
    ready_.clear();
    stop_ = false;
    done_ = false;
    expected_ = pos;
    thread_ = std::thread([this, pos] { Run(pos); });
}

void PictureFeeder::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void PictureFeeder::Run(LONG from) {
    Decode(from);
    std::lock_guard lock(mutex_);
    done_ = true;
    changed_.notify_all();
}

void PictureFeeder::Decode(LONG from) {
    constexpr std::size_t kAhead = 4;
    for (LONG p = from; p < end_; ++p) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || ready_.size() < kAhead; });
            if (stop_) return;
        }
        FramePtr f = Make(p);
        const bool failed = !f;
        {
            std::lock_guard lock(mutex_);
            ready_.push_back({p, std::move(f)});
        }
        changed_.notify_all();
        if (failed) return; // the taker sees the null picture
    }
}

} // namespace lum::platform::vfw
