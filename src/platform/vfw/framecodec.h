// Inside of the frame decoders: a codec turns the samples of one stream into
// pictures and writes the picture at a position into the output DIB's
// pixels. Two kinds exist: the built-in one for uncompressed and RLE frames,
// and one over libavcodec for everything else. Both read the stream through
// its own calls, so any file handler feeds them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/vfw/dibformat.h"
#include "platform/vfw/timeline.h"
#include "platform/vfw/vfw.h"

struct AVFrame;

namespace lum::platform::vfw {

// What a codec knows of its stream, gathered once at open.
struct StreamFacts {
    PAVISTREAM stream = nullptr;
    AVISTREAMINFO info{};
    std::vector<std::uint8_t> format; // at the stream's start
    LONG start = 0;
    LONG length = 0;  // frames
    LONG samples = 0; // samples (more than frames when some are never shown)
    // What the container tells beyond the samples, for streams of the
    // libavformat handler; null for the others.
    FrameTimeline* timeline = nullptr;

    // Samples counted from 0 (not dwStart).
    bool Empty(LONG rel) const;
    LONG PrevKey(LONG rel) const;      // -1 when none
    LONG PrevNonEmpty(LONG rel) const; // -1 when none
    std::vector<std::uint8_t> FormatAt(LONG rel) const;
    // Reads one sample into Buffer (grown as needed, with Padding zero bytes
    // behind the data); false when it cannot be read.
    bool ReadSample(LONG rel, std::vector<std::uint8_t>& buffer, std::size_t padding,
                    std::size_t* size) const;
};

class FrameCodec {
public:
    virtual ~FrameCodec() = default;
    // The layout pictures come in before conversion: an indexed layout for
    // indexed sources, else the uncompressed source's own or 24 bits.
    virtual const DibLayout& Native() const = 0;
    // The best display format for this codec's pictures.
    virtual DibLayout BestOutput() const = 0;
    // Writes the picture at relative position Rel into Pixels in layout
    // Out. An indexed Out receives the picture's current colours. False when
    // there is no picture.
    virtual bool Decode(LONG rel, DibLayout& out, std::uint8_t* pixels) = 0;
    const GetFrameStats& Stats() const { return stats_; }

    // For reading ahead on a twin of the codec. Whether a twin can decode
    // the runs of a walk that start afresh beside this one.
    virtual bool CanReadAhead() const { return false; }
    // Whether fetching Rel right after Previous, in a walk of that step,
    // starts afresh from a key frame whatever was decoded before: then a
    // twin can decode it with the same work and the same picture.
    virtual bool Independent(LONG /*previous*/, LONG /*rel*/) { return false; }
    // The next Decode behaves as though Previous had been asked for last.
    virtual void Follow(LONG /*previous*/) {}

    // The picture at Rel as the decoder made it, before any conversion:
    // valid until the next call. Null for codecs that have none (the
    // built-in one) or when there is no picture.
    virtual const AVFrame* DecodeNative(LONG /*rel*/) { return nullptr; }

protected:
    GetFrameStats stats_;
};

// The built-in codec, or null when the format is not uncompressed or RLE.
std::unique_ptr<FrameCodec> MakeBuiltinCodec(const StreamFacts& facts);
// A libavcodec decoder, or null when none knows the stream's codec.
std::unique_ptr<FrameCodec> MakeLavCodec(const StreamFacts& facts);

// The picture at Pos of a frame decoder of AVIStreamGetFrameOpen as its
// libavcodec decoder made it (see DecodeNative), for a caller that wants
// it in the decoder's own pixel format; null when the decoder has no such
// picture (then AVIStreamGetFrame gives it as a DIB).
const AVFrame* AVIStreamGetFrameNative(PGETFRAME decoder, LONG pos);

} // namespace lum::platform::vfw
