#include "platform/vfw/keyframes.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <initializer_list>

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

bool OneOf(FOURCC c, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (c == MakeFourCC(n[0], n[1], n[2], n[3])) return true;
    return false;
}

// RLE8 and RLE4 frames are whole when they use no delta escape and reach
// the last line before the end-of-bitmap code.
bool RleIsKey(std::span<const std::uint8_t> s, LONG height, bool four_bit) {
    LONG lines = 0;
    std::size_t pos = 0;
    while (pos + 2 <= s.size()) {
        std::uint8_t count = s[pos];
        std::uint8_t code = s[pos + 1];
        pos += 2;
        if (count != 0) continue;
        if (code == 0) {
            ++lines;
        } else if (code == 1) {
            return lines >= height - 1;
        } else if (code == 2) {
            return false;
        } else {
            std::size_t bytes = four_bit ? (code + 1u) / 2 : code;
            pos += bytes + (bytes & 1);
        }
    }
    return lines >= height - 1;
}

bool Mpeg4IsKey(std::span<const std::uint8_t> s) {
    for (std::size_t i = 0; i + 4 < s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == 0xB6)
            return (s[i + 4] >> 6) == 0;
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
    codec = Upper(codec);
    if (OneOf(codec, {"RLE8", "RLE ", "MRLE", "RLE4"})) {
        kind_ = (bit_count_ == 4 || codec == MakeFourCC("RLE4")) ? Kind::Rle4 : Kind::Rle8;
    } else if (OneOf(codec, {"DIB ", "RGB ", "RAW ", "RGBA", "Y800", "Y8  ", "GREY", "YUY2",
                             "UYVY", "YVYU", "I420", "IYUV", "YV12", "NV12", "YV16", "Y41P",
                             "V210", "2VUY", "HDYC", "AYUV", "Y422", "YUNV", "MJPG", "AVRN",
                             "DMB1", "JPEG", "IJPG", "LJPG", "MJLS", "HFYU", "FFVH", "DVSD",
                             "DV25", "DV50", "DVSL", "DVHD", "CDVC", "MAGY", "ULRG", "ULRA",
                             "ULY0", "ULY2", "ULH0", "ULH2", "UQY2", "APCN", "APCH", "APCS",
                             "APCO", "AP4H", "PNG ", "MPNG", "CLLC", "SP5X", "MJ2C", "MJP2"})) {
        kind_ = Kind::AllKey;
    } else if (codec == MakeFourCC("FFV1")) {
        kind_ = Kind::Ffv1;
    } else if (OneOf(codec, {"MP4V", "FMP4", "XVID", "DIVX", "DX50", "3IV2", "M4S2",
                             "DIVF", "DXGM", "MP4S", "RMP4", "SEDG", "BLZ0", "UMP4",
                             "WV1F", "XVIX", "DM4V", "SMP4", "HDX4", "FVFW"})) {
        kind_ = Kind::Mpeg4;
    } else if (OneOf(codec, {"DIV3", "MP43", "MP42", "DIV4", "DIV5", "DIV6", "MPG3", "AP41", "COL1",
                             "DIV2"})) {
        kind_ = Kind::MsMpeg4;
    } else if (OneOf(codec, {"H264", "X264", "AVC1", "DAVC", "VSSH", "AVCS"})) {
        kind_ = Kind::H264;
    } else if (OneOf(codec, {"HEVC", "H265", "HVC1", "HEV1", "X265"})) {
        kind_ = Kind::Hevc;
    } else if (OneOf(codec, {"CRAM", "MSVC", "WHAM"})) {
        kind_ = Kind::MsVideo1;
    } else if (codec == MakeFourCC("CVID")) {
        kind_ = Kind::Cinepak;
    } else {
        kind_ = Kind::FirstOnly;
    }
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
        return RleIsKey(s, height_, false);
    case Kind::Rle4:
        return RleIsKey(s, height_, true);
    case Kind::Mpeg4:
        return Mpeg4IsKey(s);
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
