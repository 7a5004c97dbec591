#include "platform/vfw/keyframes.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <initializer_list>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/vfw/codectags.h"
#include "platform/vfw/riff.h"
#include "platform/vfw/vfw.h"

namespace lum::platform::vfw {

namespace {

FOURCC Upper(FOURCC c) {
    FOURCC out = 0;
    for (int i = 0; i < 4; ++i) {
        auto ch = static_cast<unsigned char>(c >> (8 * i));
        out |= static_cast<FOURCC>(std::toupper(ch)) << (8 * i);
    }
    return out;
}

// An RLE frame stands alone only when it writes every pixel: each line is
// run to its full width before its end-of-line code (a line cut short keeps
// the pixels of the frame before), all lines come before the end of the
// bitmap, and no delta escape skips ahead.
bool RleIsKey(std::span<const std::uint8_t> s, LONG width, LONG height, bool four_bit) {
    if (width <= 0 || height <= 0) return false;
    LONG line = 0;      // lines completed
    std::int64_t x = 0; // pixels written on the current line
    std::size_t pos = 0;
    auto end_line = [&]() {
        if (x < width) return false;
        ++line;
        x = 0;
        return true;
    };
    while (pos + 2 <= s.size() && line < height) {
        const std::uint8_t count = s[pos];
        const std::uint8_t code = s[pos + 1];
        pos += 2;
        if (count != 0) {
            x += count;
            continue;
        }
        if (code == 0) {
            if (!end_line()) return false;
        } else if (code == 1) {
            return end_line() && line >= height;
        } else if (code == 2) {
            return false;
        } else {
            x += code;
            const std::size_t bytes = four_bit ? (code + 1u) / 2 : code;
            pos += bytes + (bytes & 1);
        }
    }
    // The last line needs no end-of-line code before the data runs out.
    return line >= height || (line == height - 1 && x >= width);
}

bool Mpeg4IsKey(std::span<const std::uint8_t> s) {
    for (std::size_t i = 0; i + 4 < s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == 0xB6)
            return (s[i + 4] >> 6) == 0;
    }
    return false;
}

// An MPEG-1 or MPEG-2 sample is a key frame when its picture is an I picture.
bool Mpeg12IsKey(std::span<const std::uint8_t> s) {
    for (std::size_t i = 0; i + 5 < s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == 0x00)
            return ((s[i + 5] >> 3) & 7) == 1;
    }
    return false;
}

// Walks NAL units, Annex B or length-prefixed; Classify answers 1 for a
// random-access unit, 0 for a coded picture that is not, -1 to go on.
template <class F>
bool NalIsKey(std::span<const std::uint8_t> s, F classify) {
    bool annex_b =
        s.size() >= 4 && s[0] == 0 && s[1] == 0 && (s[2] == 1 || (s[2] == 0 && s[3] == 1));
    if (annex_b) {
        for (std::size_t i = 0; i + 3 < s.size(); ++i) {
            if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
                int r = classify(s.subspan(i + 3));
                if (r >= 0) return r == 1;
                i += 2;
            }
        }
        return false;
    }
    std::size_t pos = 0;
    while (pos + 5 <= s.size()) {
        std::uint32_t len = GetBE32(s.data() + pos);
        pos += 4;
        if (len == 0 || len > s.size() - pos) return false;
        int r = classify(s.subspan(pos));
        if (r >= 0) return r == 1;
        pos += len;
    }
    return false;
}

bool MsVideo1IsKey(std::span<const std::uint8_t> s, LONG width, LONG height, bool eight_bit) {
    std::int64_t blocks = static_cast<std::int64_t>(width / 4) * (height / 4);
    std::size_t pos = 0;
    for (; blocks > 0; --blocks) {
        if (pos + 2 > s.size()) return false;
        std::uint8_t a = s[pos];
        std::uint8_t b = s[pos + 1];
        (void)a;
        pos += 2;
        if ((b & 0xFC) == 0x84) return false; // skipped blocks keep the last frame
        if (eight_bit) {
            if (b < 0x80)
                pos += 2;
            else if (b >= 0x90)
                pos += 8;
        } else if (b < 0x80) {
            if (pos + 2 > s.size()) return false;
            bool eight_colour = GetLE16(s.data() + pos) & 0x8000;
            pos += eight_colour ? 16 : 4;
        }
    }
    return true;
}

bool CinepakIsKey(std::span<const std::uint8_t> s) {
    if (s.size() < 10) return false;
    std::size_t strips = GetBE16(s.data() + 8);
    std::size_t pos = 10;
    for (std::size_t i = 0; i < strips; ++i) {
        if (pos + 12 > s.size()) return false;
        if (s[pos] != 0x10) return false; // 0x11: an inter-coded strip
        std::size_t size =
            (static_cast<std::size_t>(s[pos + 1]) << 16) | (s[pos + 2] << 8) | s[pos + 3];
        if (size < 12) return false;
        pos += size;
    }
    return strips > 0;
}

} // namespace

KeyFrameProbe::KeyFrameProbe(FOURCC type, FOURCC handler, const std::vector<std::uint8_t>& format) {
    if (type != streamtypeVIDEO) {
        kind_ = Kind::AllKey;
        return;
    }
    FOURCC codec = handler;
    if (format.size() >= 40) {
        width_ = static_cast<LONG>(GetLE32(format.data() + 4));
        // A height of -2^31 has no positive counterpart: clamp, not overflow.
        height_ = static_cast<LONG>(std::min<std::int64_t>(
            std::abs(static_cast<std::int64_t>(static_cast<LONG>(GetLE32(format.data() + 8)))),
            0x7FFFFFFF));
        bit_count_ = GetLE16(format.data() + 14);
        codec = GetLE32(format.data() + 16);
    }
    if (codec == BI_RGB || codec == BI_BITFIELDS) {
        kind_ = Kind::AllKey;
        return;
    }
    if (codec == BI_RLE8 || codec == BI_RLE4) {
        kind_ = codec == BI_RLE8 ? Kind::Rle8 : Kind::Rle4;
        return;
    }
    // The codec by libavformat's tag tables; the names of formats it reads
    // without a codec (YUV layouts) fall to the raw-video decoder there.
    const auto id = static_cast<AVCodecID>(VideoCodecId(codec, handler));
    switch (id) {
    case AV_CODEC_ID_MSRLE:
        kind_ = (bit_count_ == 4 || Upper(codec) == MakeFourCC("RLE4")) ? Kind::Rle4 : Kind::Rle8;
        return;
    case AV_CODEC_ID_FFV1:
        kind_ = Kind::Ffv1;
        return;
    case AV_CODEC_ID_MPEG4:
        kind_ = Kind::Mpeg4;
        return;
    case AV_CODEC_ID_MSMPEG4V2:
    case AV_CODEC_ID_MSMPEG4V3:
        kind_ = Kind::MsMpeg4;
        return;
    case AV_CODEC_ID_H264:
        kind_ = Kind::H264;
        return;
    case AV_CODEC_ID_HEVC:
        kind_ = Kind::Hevc;
        return;
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
        kind_ = Kind::Mpeg12;
        return;
    case AV_CODEC_ID_MSVIDEO1:
        kind_ = Kind::MsVideo1;
        return;
    case AV_CODEC_ID_CINEPAK:
        kind_ = Kind::Cinepak;
        return;
    default:
        break;
    }
    const AVCodecDescriptor* d = id == AV_CODEC_ID_NONE ? nullptr : avcodec_descriptor_get(id);
    kind_ = d && (d->props & AV_CODEC_PROP_INTRA_ONLY) ? Kind::AllKey : Kind::FirstOnly;
}

std::size_t KeyFrameProbe::BytesNeeded(std::uint32_t size) const {
    switch (kind_) {
    case Kind::AllKey:
        return 0;
    case Kind::FirstOnly:
        return std::min<std::size_t>(size, 1); // enough to see that there is data
    case Kind::MsMpeg4:
    case Kind::Ffv1:
        return std::min<std::size_t>(size, 2);
    case Kind::Mpeg4:
    case Kind::Mpeg12:
    case Kind::H264:
    case Kind::Hevc:
        return std::min<std::size_t>(size, 16384);
    default:
        return size;
    }
}

bool KeyFrameProbe::IsKey(std::span<const std::uint8_t> s, bool first) const {
    switch (kind_) {
    case Kind::AllKey:
        return true;
    case Kind::FirstOnly:
        return first && !s.empty();
    case Kind::Rle8:
        return RleIsKey(s, width_, height_, false);
    case Kind::Rle4:
        return RleIsKey(s, width_, height_, true);
    case Kind::Mpeg4:
        return Mpeg4IsKey(s);
    case Kind::Mpeg12:
        return Mpeg12IsKey(s);
    case Kind::MsMpeg4:
        return !s.empty() && (s[0] >> 6) == 0;
    case Kind::H264:
        return NalIsKey(s, [](std::span<const std::uint8_t> nal) {
            if (nal.empty()) return -1;
            int type = nal[0] & 0x1F;
            if (type == 5) return 1;
            if (type >= 1 && type <= 4) return 0;
            return -1;
        });
    case Kind::Hevc:
        return NalIsKey(s, [](std::span<const std::uint8_t> nal) {
            if (nal.empty()) return -1;
            int type = (nal[0] >> 1) & 0x3F;
            if (type >= 16 && type <= 23) return 1;
            if (type <= 9) return 0;
            return -1;
        });
    case Kind::Ffv1:
        // The first range-coded bit, coded at even odds, is the key flag.
        return s.size() >= 2 && GetBE16(s.data()) >= 0x7F80;
    case Kind::MsVideo1:
        return MsVideo1IsKey(s, width_, height_, bit_count_ == 8);
    case Kind::Cinepak:
        return CinepakIsKey(s);
    }
    return false;
}

} // namespace lum::platform::vfw
