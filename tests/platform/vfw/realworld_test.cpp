// Kinds of AVI files that screen recorders and old encoders write: codecs
// named by libavformat's tag tables, samples that bring no new picture
// ("nothing changed" and zero-size drop frames), and RLE8 files without an
// index whose key frames have to be told from the data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "avi_fixtures.h"
#include "damaged_avi.h"
#include "platform/vfw/codectags.h"
#include "support/testutil.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

using namespace lum::vfwtest;
namespace damagedtest = lum::damagedtest;

namespace {

// Pixel (x, y from the top) of a packed DIB of 24 bits, as 0xRRGGBB.
std::uint32_t Pixel(const void* dib, int x, int y) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    EXPECT_EQ(h.biBitCount, 24);
    const int rows = std::abs(h.biHeight);
    const std::size_t stride = (static_cast<std::size_t>(h.biWidth) * 3 + 3) & ~std::size_t{3};
    const auto* p = static_cast<const std::uint8_t*>(dib) + h.biSize +
                    stride * static_cast<std::size_t>(h.biHeight > 0 ? rows - 1 - y : y) + 3 * x;
    return (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

// Every pixel of an 8 x 4 picture, top row first.
std::vector<std::uint32_t> Picture(const void* dib) {
    std::vector<std::uint32_t> out;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            out.push_back(Pixel(dib, x, y));
    return out;
}

// The colour of palette entry I of damagedtest::BuildAvi's table.
std::uint32_t Entry(int i) {
    return (static_cast<std::uint32_t>(60 * i + 40) << 16) |
           (static_cast<std::uint32_t>(60 * i + 20) << 8) | static_cast<std::uint32_t>(60 * i);
}

// A picture of colour Rest with its bottom row in colour Bottom.
std::vector<std::uint32_t> Expected(int rest, int bottom) {
    std::vector<std::uint32_t> out(32, Entry(rest));
    for (int x = 0; x < 8; ++x)
        out[24 + x] = Entry(bottom);
    return out;
}

// Data in the zlib format with one stored (uncompressed) deflate block.
Bytes Zlib(const Bytes& data) {
    Bytes z = {0x78, 0x01, 0x01};
    const auto n = static_cast<std::uint16_t>(data.size());
    z.insert(z.end(), {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                       static_cast<std::uint8_t>(~n), static_cast<std::uint8_t>(~n >> 8)});
    z.insert(z.end(), data.begin(), data.end());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t c : data) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    const std::uint32_t adler = (b << 16) | a;
    for (int s = 24; s >= 0; s -= 8)
        z.push_back(static_cast<std::uint8_t>(adler >> s));
    return z;
}

// RLE8 of an 8 x 4 frame: every line in colour Rest with the bottom line in
// Bottom; a delta (Whole false) writes the bottom line only.
Bytes Rle(int rest, int bottom, bool whole) {
    Bytes r = {8, static_cast<std::uint8_t>(bottom)};
    if (whole) {
        for (int line = 1; line < 4; ++line)
            r.insert(r.end(), {0, 0, 8, static_cast<std::uint8_t>(rest)});
    }
    r.insert(r.end(), {0, 1});
    return r;
}

// A screen recording: a whole first frame, then deltas, with samples that
// change nothing (not zlib data at all, as the recorders write them), and
// a zero-size drop frame.
damagedtest::AviSpec ScreenRecording() {
    damagedtest::AviSpec s;
    s.compression = MakeFourCC("tscc");
    const Bytes nothing = {0, 0};
    s.frames = {Zlib(Rle(1, 1, true)),  nothing, Zlib(Rle(1, 2, false)), nothing, {}, nothing,
                Zlib(Rle(1, 3, false)), nothing};
    return s;
}

const std::vector<std::vector<std::uint32_t>> kScreenPictures = {
    Expected(1, 1), Expected(1, 1), Expected(1, 2), Expected(1, 2),
    Expected(1, 2), Expected(1, 2), Expected(1, 3), Expected(1, 3)};

class File {
public:
    explicit File(const Bytes& image) : image_(image) {
        EXPECT_EQ(OpenImage(image_, &file_), AVIERR_OK);
        if (file_) {
            EXPECT_EQ(AVIFileGetStream(file_, &stream_, streamtypeVIDEO, 0), AVIERR_OK);
        }
    }
    ~File() {
        if (stream_) AVIStreamRelease(stream_);
        if (file_) AVIFileRelease(file_);
    }
    PAVISTREAM Stream() const { return stream_; }
    PGETFRAME Decoder() const {
        BITMAPINFOHEADER want = lum::test::InfoHeader(8, 4, 24);
        return AVIStreamGetFrameOpen(stream_, &want);
    }

private:
    Bytes image_;
    PAVIFILE file_ = nullptr;
    PAVISTREAM stream_ = nullptr;
};

} // namespace

TEST(CodecTags, LibavformatsTablesNameTheCodec) {
    EXPECT_EQ(VideoCodecId(MakeFourCC("XVID"), 0), AV_CODEC_ID_MPEG4);
    EXPECT_EQ(VideoCodecId(MakeFourCC("xvid"), 0), AV_CODEC_ID_MPEG4); // without case
    EXPECT_EQ(VideoCodecId(MakeFourCC("SMV2"), 0), AV_CODEC_ID_H264);
    EXPECT_EQ(VideoCodecId(MakeFourCC("MPNG"), 0), AV_CODEC_ID_PNG);
    EXPECT_EQ(VideoCodecId(MakeFourCC("PNG1"), 0), AV_CODEC_ID_PNG);
    EXPECT_EQ(VideoCodecId(MakeFourCC("VMnc"), 0), AV_CODEC_ID_VMNC);
    EXPECT_EQ(VideoCodecId(MakeFourCC("CFHD"), 0), AV_CODEC_ID_CFHD);
    EXPECT_EQ(VideoCodecId(MakeFourCC("mpg2"), 0), AV_CODEC_ID_MPEG2VIDEO);
    EXPECT_EQ(VideoCodecId(MakeFourCC("tscc"), 0), AV_CODEC_ID_TSCC);
    EXPECT_EQ(VideoCodecId(MakeFourCC("CHQX"), 0), AV_CODEC_ID_HQX);
    // Names AVI writers use beyond the RIFF table; "RLE " is MS RLE, not
    // QuickTime's RLE.
    EXPECT_EQ(VideoCodecId(MakeFourCC("hevc"), 0), AV_CODEC_ID_HEVC);
    EXPECT_EQ(VideoCodecId(MakeFourCC("RLE "), 0), AV_CODEC_ID_MSRLE);
    EXPECT_EQ(VideoCodecId(MakeFourCC("apch"), 0), AV_CODEC_ID_PRORES);
    // The format's code first; the stream's handler when the code is unknown.
    EXPECT_EQ(VideoCodecId(MakeFourCC("MJPG"), MakeFourCC("XVID")), AV_CODEC_ID_MJPEG);
    EXPECT_EQ(VideoCodecId(MakeFourCC("ZZZZ"), MakeFourCC("DIVX")), AV_CODEC_ID_MPEG4);
    EXPECT_EQ(VideoCodecId(MakeFourCC("ZZZZ"), MakeFourCC("YYYY")), AV_CODEC_ID_NONE);
    EXPECT_EQ(VideoDecoderName(MakeFourCC("SMV2"), 0), "h264");
    EXPECT_EQ(VideoDecoderName(MakeFourCC("ZZZZ"), 0), "");
}

TEST(CodecTags, StreamsSayWhatDecodesThem) {
    damagedtest::AviSpec raw = damagedtest::PlainSpec(2);
    File plain(damagedtest::BuildAvi(raw));
    EXPECT_EQ(AVIStreamDecoderName(plain.Stream()), "built-in");
    File screen(damagedtest::BuildAvi(ScreenRecording()));
    EXPECT_EQ(AVIStreamDecoderName(screen.Stream()), "camtasia");
    damagedtest::AviSpec unknown = damagedtest::PlainSpec(2);
    unknown.compression = MakeFourCC("ZZZZ");
    File none(damagedtest::BuildAvi(unknown));
    EXPECT_EQ(AVIStreamDecoderName(none.Stream()), "");
    EXPECT_EQ(AVIStreamGetFrameOpen(none.Stream(), nullptr), nullptr);
}

// Every position is a frame: a sample the decoder makes no picture of
// shows the picture before it, whichever way the frames are fetched.
TEST(BlankSamples, ShowThePictureBefore) {
    File f(damagedtest::BuildAvi(ScreenRecording()));
    const LONG n = static_cast<LONG>(kScreenPictures.size());
    ASSERT_EQ(AVIStreamLength(f.Stream()), n);
    {
        PGETFRAME g = f.Decoder();
        ASSERT_NE(g, nullptr);
        for (LONG i = 0; i < n; ++i) {
            const void* dib = AVIStreamGetFrame(g, i);
            ASSERT_NE(dib, nullptr) << "frame " << i;
            EXPECT_EQ(Picture(dib), kScreenPictures[i]) << "frame " << i << " in order";
        }
        AVIStreamGetFrameClose(g);
    }
    for (LONG i = n - 1; i >= 0; --i) { // each on a fresh decoder
        PGETFRAME g = f.Decoder();
        const void* dib = AVIStreamGetFrame(g, i);
        ASSERT_NE(dib, nullptr) << "frame " << i;
        EXPECT_EQ(Picture(dib), kScreenPictures[i]) << "frame " << i << " alone";
        AVIStreamGetFrameClose(g);
    }
    for (LONG step : {2, 3, 5}) { // walks in steps, as the extraction reads
        PGETFRAME g = f.Decoder();
        for (LONG i = step - 1; i < n; i += step) {
            const void* dib = AVIStreamGetFrame(g, i);
            ASSERT_NE(dib, nullptr) << "frame " << i << ", step " << step;
            EXPECT_EQ(Picture(dib), kScreenPictures[i]) << "frame " << i << ", step " << step;
        }
        AVIStreamGetFrameClose(g);
    }
}

// Without an index the key frames are told from the data: an RLE8 delta
// that ends its lines early keeps the pixels it skips, so it is no key
// frame, and fetching it alone decodes from the frame before.
TEST(RleWithoutIndex, DeltasThatSkipRowsAreNoKeyFrames) {
    damagedtest::AviSpec s;
    s.compression = BI_RLE8;
    s.index = false;
    // Whole, then a delta of the bottom line that ends the other lines at once.
    Bytes skipping = {8, 2, 0, 0, 0, 0, 0, 0, 0, 1};
    Bytes short_line = {4, 3, 0, 0, 8, 1, 0, 0, 8, 1, 0, 0, 8, 1, 0, 1};
    s.frames = {Rle(1, 1, true), skipping, short_line, Rle(2, 1, true)};
    File f(damagedtest::BuildAvi(s));
    EXPECT_EQ(KeyFrames(f.Stream()), (std::vector<LONG>{0, 3}));
    PGETFRAME g = f.Decoder();
    const void* dib = AVIStreamGetFrame(g, 1);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(Picture(dib), Expected(1, 2));
    AVIStreamGetFrameClose(g);
    g = f.Decoder();
    dib = AVIStreamGetFrame(g, 2);
    ASSERT_NE(dib, nullptr);
    std::vector<std::uint32_t> want = Expected(1, 2);
    for (int x = 0; x < 4; ++x)
        want[24 + x] = Entry(3);
    EXPECT_EQ(Picture(dib), want) << "the right half of the bottom line is the frame before's";
    AVIStreamGetFrameClose(g);
}
