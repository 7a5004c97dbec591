#include "platform/vfw/codectags.h"

#include <cctype>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace lum::platform::vfw {

namespace {

// Codes AVI writers use that libavformat's RIFF table lacks: HEVC, and MS
// RLE under the names of its depths (which QuickTime's table would take
// for its own RLE). Compared without case, as the tables are.
struct Missing {
    const char* code;
    AVCodecID id;
};
const Missing kMissing[] = {
    {"HEVC", AV_CODEC_ID_HEVC},  {"H265", AV_CODEC_ID_HEVC},  {"X265", AV_CODEC_ID_HEVC},
    {"RLE ", AV_CODEC_ID_MSRLE}, {"RLE8", AV_CODEC_ID_MSRLE}, {"RLE4", AV_CODEC_ID_MSRLE},
};

FOURCC Upper(FOURCC c) {
    FOURCC u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<FOURCC>(std::toupper(static_cast<unsigned char>(c >> (8 * i)))) << (8 * i);
    return u;
}

AVCodecID Lookup(FOURCC code) {
    if (code == 0) return AV_CODEC_ID_NONE;
    const AVCodecTag* const riff[] = {avformat_get_riff_video_tags(), nullptr};
    AVCodecID id = av_codec_get_id(riff, code);
    if (id != AV_CODEC_ID_NONE) return id;
    for (const Missing& m : kMissing)
        if (Upper(code) == MakeFourCC(m.code[0], m.code[1], m.code[2], m.code[3])) return m.id;
    // QuickTime's table names a few codecs that AVI writers borrow from it
    // (ProRes, HDV's MPEG-2).
    const AVCodecTag* const mov[] = {avformat_get_mov_video_tags(), nullptr};
    return av_codec_get_id(mov, code);
}

} // namespace

int VideoCodecId(FOURCC compression, FOURCC handler) {
    AVCodecID id = Lookup(compression);
    if (id == AV_CODEC_ID_NONE) id = Lookup(handler);
    return id;
}

std::string VideoDecoderName(FOURCC compression, FOURCC handler) {
    const auto id = static_cast<AVCodecID>(VideoCodecId(compression, handler));
    const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    return codec ? codec->name : "";
}

std::string DecoderName(const AVCodecParameters* parameters) {
    const AVCodec* codec = parameters ? avcodec_find_decoder(parameters->codec_id) : nullptr;
    return codec ? codec->name : "";
}

} // namespace lum::platform::vfw
