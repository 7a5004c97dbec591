// Saving streams to a new AVI file with compression options, the options'
// blocks, and files made of streams in memory.
#pragma once

#include <functional>
#include <string>

#include "platform/vfw/compress.h"
#include "platform/vfw/vfw.h"

namespace lum::platform::vfw {

// The save progress callback: a percentage; non-zero aborts the save.
using AVISAVECALLBACK = BOOL (*)(int percent);
// The same with state of its own: true aborts.
using SaveProgress = std::function<bool(int percent)>;

// AVISaveOptions dialog flags (the dialog itself is a platform/ui service).
constexpr UINT ICMF_CHOOSE_KEYFRAME = 0x0001;
constexpr UINT ICMF_CHOOSE_DATARATE = 0x0002;
constexpr UINT ICMF_CHOOSE_PREVIEW = 0x0004;
constexpr UINT ICMF_CHOOSE_ALLCOMPRESSORS = 0x0008;

// Writes the streams, in order, to a new AVI file. Each stream is written
// as its options say (null options, or a video handler of 0: its samples as
// they are): video through its compressor, audio converted when the
// options' format differs from its own. With AVICOMPRESSF_INTERLEAVE in any
// options, the streams are interleaved every dwInterleaveEvery frames of
// the first video stream; otherwise they follow one another.
//
// The file is written beside File under a temporary name and takes File's
// place only when complete: an abort (AVIERR_USERABORT) or a failure leaves
// no partial file and whatever File was before. A File that another open
// holds fails with AVIERR_FILEOPEN.
//
// A plain copy of an edit stream whose segment starts at a delta frame
// compresses that segment's frames up to its source's next key frame again
// (the rest stays as it is), with the source's own compressor; when there
// is no compressor for that codec the save fails with AVIERR_CANTCOMPRESS
// rather than write pictures that decode wrong.
HRESULT AVISaveV(const std::string& file, const void* clsid, AVISAVECALLBACK callback, int count,
                 PAVISTREAM* streams, AVICOMPRESSOPTIONS** options);
HRESULT AVISaveStreams(const std::string& file, const SaveProgress& progress, int count,
                       PAVISTREAM* streams, AVICOMPRESSOPTIONS** options);

// Frees the format and parameter blocks (global-heap blocks) that the
// options dialog put into each record, and sets them to null.
LONG AVISaveOptionsFree(int count, AVICOMPRESSOPTIONS** options);

// A file in memory whose streams are the given ones, in order (each held
// with a reference). It cannot have streams added; its extra data lives in
// memory.
HRESULT AVIMakeFileFromStreams(PAVIFILE* file, int count, PAVISTREAM* streams);

} // namespace lum::platform::vfw
