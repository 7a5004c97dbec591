// Frame drawing (unit Lumavi): the frames of a video stream drawn into a
// rectangle of a device context through the video service's DrawDib, in
// any order. A frame that does not follow the one drawn before is reached
// from the nearest key frame: the frames in between are fed to the drawing
// service marked to hurry (decoded, not shown), then the frame itself is
// drawn.
//
// Calling order: AVIInitDrawing; AVIBeginDrawing for a target;
// AVIDrawFrame any number of times; AVIEndDrawing; AVIDoneDrawing. A record
// whose drawing service failed once stays failed and only fills its target
// from then on. Worker failures ("Failed getting frame") pass on as
// ELumAVIError.
#pragma once

#include "platform/base/wintypes.h"
#include "platform/vfw/drawdib.h"
#include "video/lumaviworker.h"

namespace lum {

using platform::RECT;

// The drawing context of one stream; made by AVIInitDrawing, freed by
// AVIDoneDrawing.
struct TLumDrawDIB {
    platform::vfw::HDRAWDIB DrawHandle = nullptr;
    // True when frames are decoded by the worker; false when raw samples
    // go to the drawing service.
    bool Decompress = false;
    LONG LastFrame = -1;
    LONG LastKeyFrame = -1;
    // True until the first AVIDrawFrame after AVIBeginDrawing.
    bool FirstDraw = true;
    TLumAVIStream* Stream = nullptr;      // not counted
    TLumAVIVideoWorker* Worker = nullptr; // owned; holds a stream reference
    bool Failed = false;
};
using PLumDrawDIB = TLumDrawDIB*;

// When true, AVIInitDrawing always tries to decode frames itself; when
// false it does so only for RLE8 streams. True at start.
extern bool DecompFrames;

// A new record for Stream. The drawing handle is started with the frame
// time 1000 / rate ms, truncated; 0 when the stream has no usable rate.
PLumDrawDIB AVIInitDrawing(TLumAVIStream* stream);
// Begins drawing Frame's format at Rect's size into Dc. False for a null
// record, and when the drawing service refuses the format (the rectangle
// is then filled with brush 0 and the record fails).
bool AVIBeginDrawing(PLumDrawDIB draw, HDC dc, const RECT& rect, LONG frame);
// Draws Frame at Rect, or repaints the buffered image when Frame was drawn
// last. True when the frame was drawn (or had nothing to draw) and the
// record has not failed; false for a null record and for a failed one, so
// that nothing undrawn is reported as drawn.
bool AVIDrawFrame(PLumDrawDIB draw, HDC dc, const RECT& rect, LONG frame);
void AVIEndDrawing(PLumDrawDIB draw);
// Closes the handle, ends the worker's reading, frees worker and record,
// and clears Draw. A null record is ignored.
void AVIDoneDrawing(PLumDrawDIB& draw);

// The frame time the drawing handle is started with: 1000 / Rate ms,
// truncated; 0 for a rate that is not positive or a time out of range.
DWORD AVIFrameTime(long double rate);

} // namespace lum
