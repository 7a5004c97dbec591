// Key frames told from the bitstream, for indexes rebuilt by a scan.
#include <gtest/gtest.h>

#include "avi_fixtures.h"
#include "platform/vfw/keyframes.h"

using namespace lum::vfwtest;

namespace {

bool Key(const char* codec, const Bytes& sample, bool first = false, LONG w = 8, LONG h = 4,
         WORD bits = 24) {
    FOURCC c = MakeFourCC(codec[0], codec[1], codec[2], codec[3]);
    KeyFrameProbe probe(streamtypeVIDEO, c, BitmapFormat(w, h, bits, c));
    Bytes head(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(probe.BytesNeeded(
                                                    static_cast<std::uint32_t>(sample.size()))));
    return probe.IsKey(head, first);
}

} // namespace

TEST(KeyFrameProbe, IntraOnlyAndUnknownCodecs) {
    EXPECT_TRUE(Key("MJPG", {1, 2, 3}));
    EXPECT_TRUE(Key("hfyu", {1})); // codes compare without case
    KeyFrameProbe raw(streamtypeVIDEO, 0, BitmapFormat(8, 8, 24, BI_RGB));
    EXPECT_TRUE(raw.IsKey(Bytes{}, false));
    KeyFrameProbe audio(streamtypeAUDIO, 0, {});
    EXPECT_TRUE(audio.IsKey(Bytes{1}, false));
    // An unknown codec: only the first frame with data is safe to start at.
    EXPECT_TRUE(Key("ZZZZ", {1, 2}, true));
    EXPECT_FALSE(Key("ZZZZ", {1, 2}, false));
    EXPECT_FALSE(Key("ZZZZ", {}, true));
}

TEST(KeyFrameProbe, Mpeg4AndH264AndHevc) {
    Bytes vol = {0, 0, 1, 0x20, 9, 9};
    Bytes i_vop = vol, p_vop = vol;
    i_vop.insert(i_vop.end(), {0, 0, 1, 0xB6, 0x10});
    p_vop.insert(p_vop.end(), {0, 0, 1, 0xB6, 0x50});
    EXPECT_TRUE(Key("XVID", i_vop));
    EXPECT_FALSE(Key("FMP4", p_vop));
    EXPECT_TRUE(Key("DIV3", {0x3F, 1})); // MS MPEG-4: picture type I in the top bits
    EXPECT_FALSE(Key("DIV3", {0x7F, 1}));
    // Annex B: SPS, PPS, then an IDR slice / a non-IDR slice.
    Bytes idr = {0, 0, 0, 1, 0x67, 1, 0, 0, 1, 0x68, 2, 0, 0, 1, 0x65, 3};
    Bytes non_idr = {0, 0, 0, 1, 0x09, 0x10, 0, 0, 1, 0x41, 3};
    EXPECT_TRUE(Key("H264", idr));
    EXPECT_FALSE(Key("X264", non_idr));
    // Length-prefixed NAL units.
    Bytes avc = {0, 0, 0, 2, 0x06, 0, 0, 0, 0, 2, 0x65, 0};
    EXPECT_TRUE(Key("avc1", avc));
    avc[10] = 0x41;
    EXPECT_FALSE(Key("avc1", avc));
    EXPECT_TRUE(Key("HEVC", {0, 0, 1, 0x40, 1, 0, 0, 1, 0x26, 1})); // VPS then IDR_W_RADL
    EXPECT_FALSE(Key("HEVC", {0, 0, 1, 0x02, 1}));                  // TRAIL_R
}

TEST(KeyFrameProbe, RunLengthAndBlockCodecs) {
    // RLE8 on a 4-line frame: runs and end-of-line codes, then the end.
    Bytes whole = {4, 1, 0, 0, 4, 2, 0, 0, 4, 3, 0, 0, 4, 4, 0, 1};
    Bytes delta = {4, 1, 0, 2, 1, 1, 0, 1};
    Bytes short_end = {4, 1, 0, 1}; // the rest keeps the last frame
    EXPECT_TRUE(Key("RLE8", whole, false, 4, 4, 8));
    EXPECT_FALSE(Key("RLE8", delta, false, 4, 4, 8));
    EXPECT_FALSE(Key("RLE8", short_end, false, 4, 4, 8));
    // An absolute run of 3 pixels is padded to a word; a line it leaves a
    // pixel short of keeps that pixel from the frame before.
    Bytes absolute = {0, 3, 1, 2, 3, 0, 1, 5, 0, 0, 4, 2, 0, 0, 4, 3, 0, 0, 4, 4, 0, 1};
    EXPECT_TRUE(Key("RLE8", absolute, false, 4, 4, 8));
    Bytes three = {0, 3, 1, 2, 3, 0, 0, 0, 4, 2, 0, 0, 4, 3, 0, 0, 4, 4, 0, 1};
    EXPECT_FALSE(Key("RLE8", three, false, 4, 4, 8));
    // End-of-line codes alone write nothing, however many lines they end.
    Bytes lines_only = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_FALSE(Key("RLE8", lines_only, false, 4, 4, 8));
    // The last line may end with the data, without an end code.
    Bytes no_end = {4, 1, 0, 0, 4, 2, 0, 0, 4, 3, 0, 0, 4, 4};
    EXPECT_TRUE(Key("RLE8", no_end, false, 4, 4, 8));
    // RLE4 counts pixels, two to a byte.
    Bytes rle4 = {4, 0x12, 0, 0, 4, 0x12, 0, 0, 4, 0x12, 0, 0, 0, 4, 0x12, 0x34, 0, 1};
    EXPECT_TRUE(Key("RLE4", rle4, false, 4, 4, 4));
    rle4[12 + 1] = 3; // an absolute run of three pixels: one short
    EXPECT_FALSE(Key("RLE4", rle4, false, 4, 4, 4));

    // MS Video 1, 16 bits, an 8x4 frame: two blocks.
    Bytes two_colour = {0x00, 0x00, 0x11, 0x22, 0x33, 0x44};
    Bytes one_colour = {0x00, 0x80};
    EXPECT_TRUE(Key("CRAM", [&] {
        Bytes b = two_colour;
        b.insert(b.end(), one_colour.begin(), one_colour.end());
        return b;
    }()));
    EXPECT_FALSE(Key("MSVC", {0x01, 0x84})); // skips one block
    EXPECT_FALSE(Key("MSVC", {0x00, 0x80})); // a block short
    // Cinepak: all strips intra, or one inter strip.
    Bytes cvid = {0, 0, 0, 34, 0, 8, 0, 4, 0, 2};
    Bytes intra = {0x10, 0, 0, 12, 0, 0, 0, 0, 0, 4, 0, 8};
    Bytes inter = intra;
    inter[0] = 0x11;
    Bytes key = cvid, notkey = cvid;
    key.insert(key.end(), intra.begin(), intra.end());
    key.insert(key.end(), intra.begin(), intra.end());
    notkey.insert(notkey.end(), intra.begin(), intra.end());
    notkey.insert(notkey.end(), inter.begin(), inter.end());
    EXPECT_TRUE(Key("cvid", key));
    EXPECT_FALSE(Key("cvid", notkey));
    // MPEG-1/2: the picture coding type behind the picture start code.
    Bytes i_picture = {0, 0, 1, 0xB3, 1, 2, 0, 0, 1, 0x00, 0x00, 0x0F, 0xFF};
    Bytes p_picture = {0, 0, 1, 0x00, 0x00, 0x17, 0xFF};
    EXPECT_TRUE(Key("mpg2", i_picture));
    EXPECT_FALSE(Key("MPEG", p_picture));
    // FFV1: the first range-coded bit.
    EXPECT_TRUE(Key("FFV1", {0xC0, 0x00}));
    EXPECT_FALSE(Key("FFV1", {0x20, 0x00}));
}
