// Which libavcodec codec a video stream holds, by libavformat's own tag
// tables (the ones its AVI reader uses, compared without case as it does),
// so every tag libavformat knows is known here too.
#pragma once

#include <string>

#include "platform/base/wintypes.h"

struct AVCodecParameters;

namespace lum::platform::vfw {

// The libavcodec codec id (an AVCodecID) for a video stream whose format
// names Compression and whose stream header names Handler; the format's
// code wins. 0 when neither is known.
int VideoCodecId(FOURCC compression, FOURCC handler);

// The name of the libavcodec decoder for that codec ("h264"), or empty when
// the installed libavcodec has none.
std::string VideoDecoderName(FOURCC compression, FOURCC handler);
// The same for a codec a container describes.
std::string DecoderName(const AVCodecParameters* parameters);

} // namespace lum::platform::vfw
