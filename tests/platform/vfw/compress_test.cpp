// Compressed streams: what each compressor gives back, key frames where
// asked and nowhere else, reading out of order, compressing on write, and
// the refusals.
#include <algorithm>

#include "save_fixtures.h"

namespace lum::vfwtest {
namespace {

constexpr int kW = 64;
constexpr int kH = 48;

class CompressTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("rgb.avi");
        WriteRgbAvi(path_, kW, kH, 23);
        source_ = OpenStream(path_);
        ASSERT_NE(source_, nullptr);
    }
    void TearDown() override { AVIStreamRelease(source_); }

    PAVISTREAM Compressed(const AVICOMPRESSOPTIONS& o) {
        PAVISTREAM c = nullptr;
        EXPECT_EQ(AVIMakeCompressedStream(&c, source_, &o, nullptr), AVIERR_OK);
        return c;
    }

    lum::test::TempDir dir_;
    std::string path_;
    PAVISTREAM source_ = nullptr;
};

TEST_F(CompressTest, LosslessCompressorsGiveBackThePictures) {
    for (const char* h : {"DIB ", "FFV1", "HFYU"}) {
        if (!FindCompressor(Code(h))) continue; // not in this libavcodec
        SCOPED_TRACE(h);
        PAVISTREAM c = Compressed(Options(h));
        ASSERT_NE(c, nullptr);
        std::vector<Bytes> frames = DecodeAll(c);
        ASSERT_EQ(frames.size(), 23u);
        for (int i = 0; i < 23; ++i)
            EXPECT_EQ(frames[static_cast<std::size_t>(i)], Picture(kW, kH, i)) << "frame " << i;
        AVIStreamRelease(c);
    }
}

TEST_F(CompressTest, LossyCompressorsKeepThePicturesClose) {
    for (const char* h : {"MJPG", "XVID", "H264", "MSVC", "cvid"}) {
        if (!FindCompressor(Code(h))) continue;
        SCOPED_TRACE(h);
        PAVISTREAM c = Compressed(Options(h, 0, 9000));
        ASSERT_NE(c, nullptr);
        // The samples carry the compressor's code.
        Bytes f = FormatOf(c);
        ASSERT_GE(f.size(), 40u);
        EXPECT_EQ(Le32(f, 16), FindCompressor(Code(h))->compression);
        std::vector<Bytes> frames = DecodeAll(c);
        ASSERT_EQ(frames.size(), 23u);
        // A picture upside down or with its channels swapped scores far
        // below this.
        for (int i : {0, 1, 11, 22})
            ExpectPicture(frames[static_cast<std::size_t>(i)], kW, kH, i);
        AVIStreamRelease(c);
    }
}

// A compressed source whose decoder gives YUV pictures: they reach a YUV
// encoder as they are (MJPEG to MJPEG) or converted directly (full-range
// MJPEG to MPEG-4's limited range), and the pictures stay right, colours
// and all; a lossless RGB encoder still gets them through RGB.
TEST_F(CompressTest, CompressedSourcesCompressAgain) {
    const std::string mjpeg = dir_.File("mjpeg.avi");
    AVICOMPRESSOPTIONS first = Options("MJPG", 0, 9500);
    AVICOMPRESSOPTIONS* po = &first;
    ASSERT_EQ(AVISaveV(mjpeg, nullptr, nullptr, 1, &source_, &po), AVIERR_OK);
    PAVISTREAM src = OpenStream(mjpeg);
    ASSERT_NE(src, nullptr);
    const std::vector<Bytes> want = DecodeAll(src);
    ASSERT_EQ(want.size(), 23u);
    for (const char* h : {"MJPG", "XVID", "FFV1"}) {
        SCOPED_TRACE(h);
        AVICOMPRESSOPTIONS o = Options(h, 5, 9500);
        PAVISTREAM c = nullptr;
        ASSERT_EQ(AVIMakeCompressedStream(&c, src, &o, nullptr), AVIERR_OK);
        const std::vector<Bytes> got = DecodeAll(c);
        ASSERT_EQ(got.size(), 23u);
        for (std::size_t i : {0u, 4u, 5u, 13u, 22u}) {
            ExpectPicture(got[i], kW, kH, static_cast<int>(i));
            // Close to the source's own pictures: a range or colour-matrix
            // mistake costs far more than this.
            EXPECT_GT(Psnr(want[i], got[i]), std::string(h) == "FFV1" ? 45 : 33) << i;
        }
        EXPECT_EQ(KeyFrames(c).size(), std::string(h) == "XVID" ? 5u : 23u);
        AVIStreamRelease(c);
    }
    AVIStreamRelease(src);
}

TEST_F(CompressTest, KeyFramesExactlyEveryN) {
    for (const char* h : {"XVID", "H264", "MSVC", "cvid"}) {
        if (!FindCompressor(Code(h))) continue;
        SCOPED_TRACE(h);
        PAVISTREAM c = Compressed(Options(h, 5));
        ASSERT_NE(c, nullptr);
        std::vector<LONG> keys;
        for (LONG p = 0; p < 23; ++p) {
            EXPECT_FALSE(ReadSample(c, p).empty());
            if (AVIStreamFindSample(c, p, FIND_PREV | FIND_KEY) == p) keys.push_back(p);
        }
        const std::vector<LONG> every5 = {0, 5, 10, 15, 20};
        if (std::string(h) == "XVID" || std::string(h) == "H264") {
            EXPECT_EQ(keys, every5);
        } else {
            // These add key frames of their own, never fewer.
            EXPECT_TRUE(std::includes(keys.begin(), keys.end(), every5.begin(), every5.end()))
                << ::testing::PrintToString(keys);
        }
        AVIStreamRelease(c);
    }
}

TEST_F(CompressTest, IntraOnlyCompressorsMakeEveryFrameKey) {
    PAVISTREAM c = Compressed(Options("MJPG", 5));
    ASSERT_NE(c, nullptr);
    for (LONG p = 0; p < 23; ++p) {
        ReadSample(c, p);
        EXPECT_EQ(AVIStreamFindSample(c, p, FIND_PREV | FIND_KEY), p);
    }
    AVISTREAMINFO si{};
    ASSERT_EQ(AVIStreamInfo(c, &si, sizeof si), AVIERR_OK);
    EXPECT_EQ(si.fccHandler, MakeFourCC("MJPG"));
    EXPECT_EQ(si.dwLength, 23u);
    AVIStreamRelease(c);
}

TEST_F(CompressTest, ReadingOutOfOrderStartsAgainWithAKeyFrame) {
    PAVISTREAM c = Compressed(Options("XVID", 10, 9000));
    ASSERT_NE(c, nullptr);
    for (LONG p = 0; p < 4; ++p)
        ReadSample(c, p);
    // Frame 7 is a delta frame of the schedule; read on its own it must
    // start afresh, and frames after it follow it.
    Bytes seven = ReadSample(c, 7);
    EXPECT_EQ(AVIStreamFindSample(c, 7, FIND_PREV | FIND_KEY), 7);
    ReadSample(c, 8);
    EXPECT_EQ(AVIStreamFindSample(c, 8, FIND_PREV | FIND_KEY), 7);
    // Asking the size first, then reading, gives the same sample.
    EXPECT_EQ(AVIStreamFindSample(c, 7, FIND_SIZE), static_cast<LONG>(seven.size()));
    // Going back to the start gives frame 0 as a key frame again, and the
    // pictures stay right whatever the order.
    std::vector<Bytes> frames = DecodeAll(c);
    ASSERT_EQ(frames.size(), 23u);
    for (int i : {0, 7, 8, 15})
        ExpectPicture(frames[static_cast<std::size_t>(i)], kW, kH, i);
    AVIStreamRelease(c);
}

TEST_F(CompressTest, RefusesWhatItCannotDo) {
    PAVISTREAM c = nullptr;
    AVICOMPRESSOPTIONS o = Options("ZZZZ");
    EXPECT_EQ(AVIMakeCompressedStream(&c, source_, &o, nullptr), AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(c, nullptr);
    o = Options("MJPG");
    EXPECT_EQ(AVIMakeCompressedStream(&c, nullptr, &o, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIMakeCompressedStream(&c, source_, nullptr, nullptr), AVIERR_BADPARAM);
    o.fccHandler = 0;
    EXPECT_EQ(AVIMakeCompressedStream(&c, source_, &o, nullptr), AVIERR_NOCOMPRESSOR);
    // A compressed stream is read, not written.
    c = Compressed(Options("MJPG"));
    ASSERT_NE(c, nullptr);
    Bytes px = Picture(kW, kH, 0);
    EXPECT_NE(
        AVIStreamWrite(c, 23, 1, px.data(), static_cast<LONG>(px.size()), 0, nullptr, nullptr),
        AVIERR_OK);
    AVIStreamRelease(c);
}

TEST_F(CompressTest, AudioKeepsItsOwnFormatAndAsksTheConverterForAnother) {
    const std::string path = dir_.File("av.avi");
    WriteRgbAvi(path, 16, 16, 5, true);
    PAVISTREAM a = OpenStream(path, streamtypeAUDIO);
    ASSERT_NE(a, nullptr);
    WAVEFORMATEX same = PcmFormat(1, 8000, 16);
    AVICOMPRESSOPTIONS o{};
    o.fccType = streamtypeAUDIO;
    o.lpFormat = &same;
    o.cbFormat = sizeof same;
    PAVISTREAM c = nullptr;
    ASSERT_EQ(AVIMakeCompressedStream(&c, a, &o, nullptr), AVIERR_OK);
    EXPECT_EQ(c, a); // the stream itself, with a reference
    AVIStreamRelease(c);
    // Another PCM format: a converter stream in that format.
    WAVEFORMATEX other = PcmFormat(2, 22050, 16);
    o.lpFormat = &other;
    ASSERT_EQ(AVIMakeCompressedStream(&c, a, &o, nullptr), AVIERR_OK);
    ASSERT_NE(c, a);
    EXPECT_EQ(FormatOf(c).size(), sizeof other);
    EXPECT_EQ(std::memcmp(FormatOf(c).data(), &other, 16), 0);
    AVIStreamRelease(c);
    // A format only the compression manager makes: none here.
    WAVEFORMATEX adpcm = PcmFormat(1, 8000, 4);
    adpcm.wFormatTag = WAVE_FORMAT_ADPCM;
    o.lpFormat = &adpcm;
    EXPECT_EQ(AVIMakeCompressedStream(&c, a, &o, nullptr), AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(c, nullptr);
    AVIStreamRelease(a);
}

TEST(CompressOnWrite, FramesWrittenAreCompressedIntoTheStream) {
    lum::test::TempDir dir;
    const std::string path = dir.File("written.avi");
    CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM v = nullptr;
        AVISTREAMINFO vi = VideoInfo(0, 1, 25);
        ASSERT_EQ(AVIFileCreateStream(f, &v, &vi), AVIERR_OK);
        AVICOMPRESSOPTIONS o = Options("XVID", 4, 9000);
        PAVISTREAM c = nullptr;
        ASSERT_EQ(AVIMakeCompressedStream(&c, v, &o, nullptr), AVIERR_OK);
        Bytes fmt = BitmapFormat(kW, kH, 24, BI_RGB);
        ASSERT_EQ(AVIStreamSetFormat(c, 0, fmt.data(), static_cast<LONG>(fmt.size())), AVIERR_OK);
        for (int i = 0; i < 10; ++i) {
            Bytes px = Picture(kW, kH, i);
            ASSERT_EQ(AVIStreamWrite(c, i, 1, px.data(), static_cast<LONG>(px.size()), 0, nullptr,
                                     nullptr),
                      AVIERR_OK);
        }
        // Pictures of another size cannot follow.
        Bytes other = BitmapFormat(kW * 2, kH, 24, BI_RGB);
        EXPECT_EQ(AVIStreamSetFormat(c, 10, other.data(), static_cast<LONG>(other.size())),
                  AVIERR_UNSUPPORTED);
        AVIStreamRelease(c); // writes what the compressor still held
        AVIStreamRelease(v);
    });
    PAVISTREAM s = OpenStream(path);
    ASSERT_NE(s, nullptr);
    Bytes f = FormatOf(s);
    ASSERT_GE(f.size(), 40u);
    EXPECT_EQ(Le32(f, 16), MakeFourCC("XVID"));
    EXPECT_EQ(AVIStreamLength(s), 10);
    EXPECT_EQ(KeyFrames(s), (std::vector<LONG>{0, 4, 8}));
    std::vector<Bytes> frames = DecodeAll(s);
    ASSERT_EQ(frames.size(), 10u);
    for (int i = 0; i < 10; ++i)
        ExpectPicture(frames[static_cast<std::size_t>(i)], kW, kH, i);
    AVIStreamRelease(s);
}

TEST(Compressors, NamesAndIntervals) {
    std::vector<CompressorInfo> all = InstalledCompressors();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front().handler, comptypeDIB);
    // Letter case does not matter, and MPEG-4 keeps the code asked for.
    auto divx = FindCompressor(MakeFourCC("divx"));
    ASSERT_TRUE(divx.has_value());
    EXPECT_EQ(divx->encoder, "mpeg4");
    EXPECT_EQ(divx->compression, MakeFourCC("divx"));
    EXPECT_FALSE(FindCompressor(MakeFourCC("ZZZZ")).has_value());
    AVICOMPRESSOPTIONS o = Options("XVID", 9);
    EXPECT_EQ(KeyFrameInterval(*divx, o), 9);
    o.dwFlags &= ~AVICOMPRESSF_KEYFRAMES; // the interval is not asked for
    EXPECT_EQ(KeyFrameInterval(*divx, o), 12);
    auto mjpg = FindCompressor(MakeFourCC("MJPG"));
    ASSERT_TRUE(mjpg.has_value());
    o.dwFlags |= AVICOMPRESSF_KEYFRAMES;
    EXPECT_EQ(KeyFrameInterval(*mjpg, o), 1);
}

} // namespace
} // namespace lum::vfwtest
