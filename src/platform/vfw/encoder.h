// Inside of the compressors: one libavcodec encoder (or the uncompressed
// "encoder") set up from compression options, the conversion of decoded
// DIB pictures into its input frames, and a feeder that decodes a source
// stream's pictures ahead of the encoder on a thread of its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/vfw/compress.h"
#include "platform/vfw/dibformat.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace lum::platform::vfw {

struct FrameDeleter {
    void operator()(AVFrame* f) const;
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

// One compressed frame.
struct Packet {
    LONG pos = 0; // the frame's position
    bool key = false;
    std::vector<std::uint8_t> data;
};

// What an encoder is asked for, from the options.
struct EncoderSettings {
    LONG key_every = 1;         // a key frame every this many frames
    DWORD quality = 0xFFFFFFFF; // 0..10000, or the codec's default
    DWORD bytes_per_second = 0; // a data rate to hold, 0 for none
};

EncoderSettings SettingsFrom(const CompressorInfo& c, const AVICOMPRESSOPTIONS& options);

class Encoder {
public:
    Encoder() = default;
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Opens for Width x Height pictures at Rate / Scale frames a second.
    // AVIERR_NOCOMPRESSOR when libavcodec has no such encoder,
    // AVIERR_BADFORMAT when it refuses the size.
    HRESULT Open(const CompressorInfo& c, int width, int height, DWORD scale, DWORD rate,
                 const EncoderSettings& s);
    // The pixel format the encoder takes (an AVPixelFormat).
    int PixelFormat() const { return pix_; }
    // The format block its samples have: a BITMAPINFOHEADER and the
    // codec's extra data.
    std::vector<std::uint8_t> Format() const;
    // Encodes the picture of position Pos; Key forces a key frame. Null
    // Frame drains the encoder: nothing may be sent after it.
    HRESULT Send(AVFrame* frame, LONG pos, bool key);
    // Moves the finished packets, in position order, to Out.
    HRESULT Take(std::deque<Packet>& out);

private:
    HRESULT OpenContext();

    CompressorInfo info_;
    EncoderSettings settings_;
    DWORD scale_ = 1;
    DWORD rate_ = 1;
    bool restart_for_key_ = false;
    long sent_ = 0; // frames sent to this context
    AVCodecContext* ctx_ = nullptr;
    AVPacket* packet_ = nullptr;
    int pix_ = -1;
    int width_ = 0;
    int height_ = 0;
    std::deque<Packet> raw_; // uncompressed frames, ready at once
};

// Turns pictures of an uncompressed DIB layout into frames of an encoder's
// pixel format (as ffmpeg's own conversion with its default flags does).
class PictureConverter {
public:
    PictureConverter(const DibLayout& from, int pixel_format);
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // Null when memory or the conversion fails.
    FramePtr Convert(const std::uint8_t* pixels);
    int PixelFormat() const { return pix_; }

private:
    DibLayout from_;
    DibLayout rgb_;                     // the 24- or 32-bit layout sws reads
    std::vector<std::uint8_t> staging_; // when From is not one sws reads
    int pix_;
    int src_pix_;
    SwsContext* sws_ = nullptr;
};

// The source's decoded pictures at positions Pos, Pos + 1, ..., converted
// for an encoder. With Threaded, a thread decodes a few pictures ahead
// while the caller encodes; pictures are asked for one after the other,
// and a request out of that order starts the decoding again there.
class PictureFeeder {
public:
    // Takes the decoder. End is the position past the last picture.
    PictureFeeder(PGETFRAME decoder, const DibLayout& layout, int pixel_format, LONG end,
                  bool threaded);
    ~PictureFeeder();
    PictureFeeder(const PictureFeeder&) = delete;
    PictureFeeder& operator=(const PictureFeeder&) = delete;

    // The picture of Pos; null when it cannot be decoded.
    FramePtr Take(LONG pos);

private:
    struct Item {
        LONG pos;
        FramePtr frame;
    };
    FramePtr Make(LONG pos);
    FramePtr FromYuv(const AVFrame* f);
    void Start(LONG pos);
    void Stop();
    void Run(LONG from);
    void Decode(LONG from);

    PGETFRAME decoder_;
    enum class Native { Unknown, Yes, No };
    Native native_ = Native::Unknown; // whether pictures skip the DIB
    SwsContext* sws_ = nullptr;       // from the decoder's YUV layout
    DibLayout layout_;
    PictureConverter converter_;
    std::size_t header_bytes_;
    LONG end_;
    bool threaded_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> ready_;
    LONG expected_ = -1; // the position the thread hands out next
    bool stop_ = false;
    bool done_ = false; // the thread has ended
    std::thread thread_;
};

// The layout a feeder asks the decoder for: 24 bits, or 32 when the
// encoder takes 32-bit RGB.
DibLayout FeederLayout(int width, int height, int pixel_format);

} // namespace lum::platform::vfw
