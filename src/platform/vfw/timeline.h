// What a stream whose container times every frame (the libavformat handler's
// streams) tells the frame decoder and the time calls beyond what AVI's
// samples say. Samples stay in the file's decode order, as AVI stores them;
// frames count in presentation order, and a sample the file decodes but
// never shows (cut off by an edit list) is no frame. So frame n may lie in
// another sample than n, and the stream may hold more samples than frames.
#pragma once

#include "platform/base/wintypes.h"

struct AVCodecParameters;

namespace lum::platform::vfw {

class FrameTimeline {
public:
    // The codec as the container describes it, for the decoder.
    virtual const AVCodecParameters* CodecParameters() const = 0;
    // Samples of the stream (at least its length in frames).
    virtual LONG SampleCount() const = 0;
    // Whether frames are told apart from samples by presentation times;
    // false when the container has no times for some of them (the decoder
    // then finds the order from the bitstream, as for AVI).
    virtual bool Presented() const = 0;
    // The sample of frame N, the frame of sample S (-1: none, or not shown).
    virtual LONG SampleOfFrame(LONG n) = 0;
    virtual LONG FrameOfSample(LONG s) = 0;
    // The time of frame N in milliseconds from the first frame (the first
    // whole millisecond inside it), and the frame shown at a time; false
    // when the stream is timed by its rate alone.
    virtual bool FrameTime(LONG n, LONG* ms) = 0;
    virtual bool FrameAtTime(LONG ms, LONG* n) = 0;

protected:
    ~FrameTimeline() = default;
};

} // namespace lum::platform::vfw
