// Tells key frames from delta frames by looking at the sample itself, for
// rebuilding an index whose key-frame flags were lost with it. Codecs are
// named by libavformat's tag tables; known ones are recognised from their
// bitstream (uncompressed and intra-only codecs, RLE, MPEG-1/2, MPEG-4 part
// 2, H.264, HEVC, FFV1, MS Video 1, Cinepak); for any other
// video codec only the first frame with data counts as a key frame, so a
// decoder always starts far enough back to decode correctly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/base/wintypes.h"

namespace lum::platform::vfw {

class KeyFrameProbe {
public:
    // Type and handler from the stream header, Format the stream's format.
    KeyFrameProbe(FOURCC type, FOURCC handler, const std::vector<std::uint8_t>& format);

    // How many leading bytes of a sample of Size bytes the probe looks at.
    std::size_t BytesNeeded(std::uint32_t size) const;
    // Whether the sample can be decoded on its own. First tells that no
    // sample with data came before it in the stream.
    bool IsKey(std::span<const std::uint8_t> sample, bool first) const;

private:
    enum class Kind {
        AllKey,
        FirstOnly,
        Rle8,
        Rle4,
        Mpeg4,
        Mpeg12,
        MsMpeg4,
        H264,
        Hevc,
        Ffv1,
        MsVideo1,
        Cinepak,
    };
    Kind kind_ = Kind::AllKey;
    LONG width_ = 0;
    LONG height_ = 0;
    WORD bit_count_ = 0;
};

} // namespace lum::platform::vfw
