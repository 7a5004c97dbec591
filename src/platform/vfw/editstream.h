// Edit streams: a stream made of ranges (segments) of other streams, with
// cut, copy, paste and clone. Edits change only the list of segments, so
// they cost by segments, never by samples; the samples stay in their
// sources, which the segments hold references on. Pasting an edit stream
// pastes its segments, so edit streams never nest.
//
// An edit point may fall on a delta frame of a delta-coded video. The
// frame decoder of an edit stream therefore decodes each segment's frames
// from its own source, starting at that source's key frame before them,
// and never from a picture of another segment.
//
// Positions are sample positions from the stream's dwStart; ranges are
// clamped to the stream. A pasted range must match the stream: audio in
// the same format, video of the same size, depth and compression
// (AVIERR_BADFORMAT otherwise); an empty stream takes the description of
// the first stream pasted into it.
#pragma once

#include <string>
#include <vector>

#include "platform/vfw/vfw.h"

namespace lum::platform::vfw {

// One range of a source stream: Length samples from Start (a position of
// the source).
struct EditSegment {
    PAVISTREAM source = nullptr;
    LONG start = 0;
    LONG length = 0;
};

// A new edit stream with the whole of Source (null: an empty one). An edit
// stream as Source gives an independent copy of it.
HRESULT CreateEditableStream(PAVISTREAM* result, PAVISTREAM source);
// Removes Length samples from Start and returns them as a new edit stream.
// Start and Length come back as the range really cut.
HRESULT EditStreamCut(PAVISTREAM stream, LONG* start, LONG* length, PAVISTREAM* result);
// A new edit stream with the range, the stream left as it is.
HRESULT EditStreamCopy(PAVISTREAM stream, LONG* start, LONG* length, PAVISTREAM* result);
// Inserts Length samples of Source from Start (Length -1: to its end) at
// Pos (past the end: at the end). Pos and Length come back as where and how
// much was pasted.
HRESULT EditStreamPaste(PAVISTREAM stream, LONG* pos, LONG* length, PAVISTREAM source, LONG start,
                        LONG length_to_paste);
HRESULT EditStreamClone(PAVISTREAM stream, PAVISTREAM* result);
// Takes the description's priority, language, scale and rate, start,
// quality, frame rectangle, flags and name; Size must cover the record.
HRESULT EditStreamSetInfo(PAVISTREAM stream, const AVISTREAMINFO* info, LONG size);
HRESULT EditStreamSetName(PAVISTREAM stream, const std::string& name);

// Whether Stream is an edit stream, and its segments (borrowed handles,
// valid until the stream is next edited).
bool IsEditStream(PAVISTREAM stream);
std::vector<EditSegment> EditStreamSegments(PAVISTREAM stream);

// The frame decoder of an edit stream (AVIStreamGetFrameOpen asks here
// first): one decoder a source, all giving the same format. With the best
// display format asked for and segments from several sources, that is 24
// bits.
PGETFRAME EditStreamGetFrameOpen(PAVISTREAM stream, const BITMAPINFOHEADER* wanted);

} // namespace lum::platform::vfw
