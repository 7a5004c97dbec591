// Decoded frames against ffmpeg's decode of the same file: for every codec,
// frames 0, 59, 60, 61 and the last, fetched out of order, are the frames
// ffmpeg's decoder produces (by its frame count), exactly for lossless
// codecs and within a mean difference of 1 per channel for lossy ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "media.h"
#include "platform/vfw/vfw.h"
#include "support/bitmapheader.h"
#include "support/testutil.h"

using namespace lum::interop;
using namespace lum::platform;
using namespace lum::platform::vfw;

namespace {

bool Lossless(const std::string& name) {
    for (const char* n : {"Raw", "Pal8", "HuffYuv", "FfvHuff", "Ffv1", "Zmbv", "Png", "Yuy2"})
        if (name.find(n) != std::string::npos) return true;
    return false;
}

// ffmpeg's frames N (by output count) as top-down BGR rows, in order.
std::string FfmpegFrames(const std::string& path, const std::vector<int>& frames) {
    std::string select;
    for (int n : frames)
        select += (select.empty() ? "" : "+") + std::string("eq(n\\,") + std::to_string(n) + ")";
    std::string out;
    int status =
        lum::test::Run("ffmpeg -v error -i " + lum::test::Quote(path) + " -vf \"select='" + select +
                           "'\" -fps_mode passthrough -pix_fmt bgr24 -f rawvideo -",
                       &out);
    EXPECT_EQ(status, 0);
    return out;
}

int FfmpegFrameCount(const std::string& path) {
    std::string out;
    lum::test::Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                   "stream=nb_read_frames -of csv=p=0 " +
                       lum::test::Quote(path),
                   &out);
    return std::stoi(out);
}

// Mean absolute difference per channel value between a 24-bit DIB and
// top-down BGR rows; -1 when the DIB is not 24 bits of the right size.
// Largest receives the largest difference of any one value.
double MeanDifference(const void* dib, const std::uint8_t* ref, int w, int h, int* largest) {
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, dib, sizeof bi);
    *largest = 256;
    if (bi.biBitCount != 24 || bi.biWidth != w || std::abs(bi.biHeight) != h) return -1;
    const auto* bits = static_cast<const std::uint8_t*>(dib) + bi.biSize;
    const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
    double sum = 0;
    *largest = 0;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row =
            bits + stride * static_cast<std::size_t>(bi.biHeight > 0 ? h - 1 - y : y);
        const std::uint8_t* r = ref + static_cast<std::size_t>(y) * w * 3;
        for (int i = 0; i < w * 3; ++i) {
            const int d = std::abs(int(row[i]) - int(r[i]));
            sum += d;
            *largest = std::max(*largest, d);
        }
    }
    return sum / (static_cast<double>(w) * h * 3);
}

class FrameFile : public ::testing::TestWithParam<Recipe> {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
        path_ = MediaFile(GetParam());
        ASSERT_EQ(AVIFileOpen(&file_, path_, OF_READ | OF_SHARE_DENY_WRITE), AVIERR_OK);
        ASSERT_EQ(AVIFileGetStream(file_, &stream_, streamtypeVIDEO, 0), AVIERR_OK);
    }
    void TearDown() override {
        AVIStreamRelease(stream_);
        AVIFileRelease(file_);
    }
    std::string path_;
    PAVIFILE file_ = nullptr;
    PAVISTREAM stream_ = nullptr;
};

} // namespace

TEST_P(FrameFile, FramesOutOfOrderAreFfmpegsFrames) {
    const int count = FfmpegFrameCount(path_);
    ASSERT_GE(count, 62);
    const std::vector<int> wanted = {0, 59, 60, 61, count - 1};
    const std::string ref = FfmpegFrames(path_, wanted);
    AVISTREAMINFO info{};
    AVIStreamInfo(stream_, &info, sizeof info);
    const int w = info.rcFrame.right - info.rcFrame.left;
    const int h = info.rcFrame.bottom - info.rcFrame.top;
    ASSERT_GT(w, 0);
    const std::size_t frame_bytes = static_cast<std::size_t>(w) * h * 3;
    ASSERT_EQ(ref.size(), frame_bytes * wanted.size());

    PGETFRAME g = AVIStreamGetFrameOpen(stream_, AVIGETFRAMEF_BESTDISPLAYFMT);
    ASSERT_NE(g, nullptr);
    const double limit = Lossless(GetParam().name) ? 0.0 : 1.0;
    for (int k : {4, 2, 0, 3, 1}) {
        const void* dib = AVIStreamGetFrame(g, wanted[k]);
        ASSERT_NE(dib, nullptr) << "frame " << wanted[k];
        // The best display format of an uncompressed source is its own; compare
        // through a 24-bit decoder then.
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, dib, sizeof bi);
        PGETFRAME g24 = nullptr;
        if (bi.biBitCount != 24) {
            BITMAPINFOHEADER want = lum::test::InfoHeader(w, h, 24);
            g24 = AVIStreamGetFrameOpen(stream_, &want);
            ASSERT_NE(g24, nullptr);
            dib = AVIStreamGetFrame(g24, wanted[k]);
            ASSERT_NE(dib, nullptr);
        }
        int largest = 0;
        double mad =
            MeanDifference(dib, reinterpret_cast<const std::uint8_t*>(ref.data()) + frame_bytes * k,
                           w, h, &largest);
        if (g24) AVIStreamGetFrameClose(g24);
        EXPECT_GE(mad, 0.0) << "frame " << wanted[k];
        EXPECT_LE(mad, limit) << "frame " << wanted[k];
        // The same decoder's picture, converted as ffmpeg converts it to
        // BGR: no value more than 1 off.
        EXPECT_LE(largest, 1) << "frame " << wanted[k];
    }
    AVIStreamGetFrameClose(g);
}

INSTANTIATE_TEST_SUITE_P(Codecs, FrameFile, ::testing::ValuesIn(FrameRecipes()),
                         [](const auto& info) { return info.param.name; });

// Reading forward from the first frame to the last gives ffmpeg's frames in
// its order, and decodes each frame once, without starting again.
namespace {

class CompressedFile : public FrameFile {};

std::vector<Recipe> CompressedRecipes() {
    std::vector<Recipe> out;
    for (const Recipe& r : FrameRecipes())
        if (r.name.find("Raw") == std::string::npos && r.name.find("Pal8") == std::string::npos)
            out.push_back(r);
    return out;
}

} // namespace

TEST_P(CompressedFile, ReadingForwardDecodesEachFrameOnce) {
    const std::string name = GetParam().name;
    const int count = FfmpegFrameCount(path_);
    std::vector<int> all(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        all[static_cast<std::size_t>(i)] = i;
    const std::string ref = FfmpegFrames(path_, all);
    AVISTREAMINFO info{};
    AVIStreamInfo(stream_, &info, sizeof info);
    const int w = info.rcFrame.right - info.rcFrame.left;
    const int h = info.rcFrame.bottom - info.rcFrame.top;
    const std::size_t frame_bytes = static_cast<std::size_t>(w) * h * 3;
    ASSERT_EQ(ref.size(), frame_bytes * all.size());
    PGETFRAME g = AVIStreamGetFrameOpen(stream_, nullptr);
    ASSERT_NE(g, nullptr);
    const double limit = Lossless(name) ? 0.0 : 1.0;
    for (int n = 0; n < count; ++n) {
        const void* dib = AVIStreamGetFrame(g, n);
        ASSERT_NE(dib, nullptr) << "frame " << n;
        int largest = 0;
        double mad =
            MeanDifference(dib, reinterpret_cast<const std::uint8_t*>(ref.data()) + frame_bytes * n,
                           w, h, &largest);
        ASSERT_GE(mad, 0.0);
        EXPECT_LE(mad, limit) << "frame " << n;
        EXPECT_LE(largest, 1) << "frame " << n;
    }
    GetFrameStats stats = g->Stats();
    EXPECT_EQ(stats.frames_converted, static_cast<std::uint64_t>(count));
    EXPECT_EQ(stats.frames_decoded, static_cast<std::uint64_t>(count));
    EXPECT_EQ(stats.restarts, (info.dwCaps & AVIFILECAPS_ALLKEYFRAMES) ? stats.restarts : 1u);
    AVIStreamGetFrameClose(g);
}

INSTANTIATE_TEST_SUITE_P(Codecs, CompressedFile, ::testing::ValuesIn(CompressedRecipes()),
                         [](const auto& info) { return info.param.name; });

// Fetched in a scrambled order, so that nearly every fetch starts again at
// a key frame, every frame of a stream with B-frames (packed ones too) is
// ffmpeg's frame of the same number.
namespace {

class ReorderedFile : public FrameFile {};

std::vector<Recipe> ReorderedRecipes() {
    std::vector<Recipe> out;
    for (const Recipe& r : FrameRecipes())
        for (const char* n : {"Bframes", "Packed", "Mpeg2", "Smv2", "H264Long"})
            if (r.name.find(n) != std::string::npos) out.push_back(r);
    return out;
}

} // namespace

TEST_P(ReorderedFile, EveryFrameInAnyOrderIsFfmpegsFrame) {
    const int count = FfmpegFrameCount(path_);
    std::vector<int> all(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        all[static_cast<std::size_t>(i)] = i;
    const std::string ref = FfmpegFrames(path_, all);
    AVISTREAMINFO info{};
    AVIStreamInfo(stream_, &info, sizeof info);
    const int w = info.rcFrame.right - info.rcFrame.left;
    const int h = info.rcFrame.bottom - info.rcFrame.top;
    const std::size_t frame_bytes = static_cast<std::size_t>(w) * h * 3;
    ASSERT_EQ(ref.size(), frame_bytes * all.size());
    PGETFRAME g = AVIStreamGetFrameOpen(stream_, nullptr);
    ASSERT_NE(g, nullptr);
    int wrong = 0;
    for (int k = 0; k < count; ++k) {
        const int n = static_cast<int>((static_cast<long long>(k) * 37 + 11) % count);
        const void* dib = AVIStreamGetFrame(g, n);
        ASSERT_NE(dib, nullptr) << "frame " << n;
        int largest = 0;
        MeanDifference(dib, reinterpret_cast<const std::uint8_t*>(ref.data()) + frame_bytes * n, w,
                       h, &largest);
        if (largest > 1 && ++wrong <= 5)
            ADD_FAILURE() << "frame " << n << " differs by " << largest;
    }
    EXPECT_EQ(wrong, 0);
    AVIStreamGetFrameClose(g);
}

INSTANTIATE_TEST_SUITE_P(Codecs, ReorderedFile, ::testing::ValuesIn(ReorderedRecipes()),
                         [](const auto& info) { return info.param.name; });

// A walk in even steps through intervals of many frames, or through key
// frames only, is read ahead on a second decoder: the same pictures, and the same counts of what
// was decoded, as one decoder gives alone; a walk that changes its step on the way still gets the
// right pictures.
namespace {

struct Walked {
    std::vector<std::string> hashes;
    GetFrameStats stats;
};

Walked Walk(PAVISTREAM stream, const std::vector<LONG>& positions) {
    Walked w;
    PGETFRAME g = AVIStreamGetFrameOpen(stream, nullptr);
    EXPECT_NE(g, nullptr);
    if (g == nullptr) return w;
    for (LONG p : positions) {
        const void* dib = AVIStreamGetFrame(g, p);
        EXPECT_NE(dib, nullptr) << "frame " << p;
        if (dib == nullptr) break;
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, dib, sizeof bi);
        const std::size_t image =
            ((static_cast<std::size_t>(bi.biWidth) * 3 + 3) & ~std::size_t{3}) *
            static_cast<std::size_t>(std::abs(bi.biHeight));
        w.hashes.push_back(Md5(static_cast<const std::uint8_t*>(dib) + bi.biSize, image));
    }
    w.stats = g->Stats();
    AVIStreamGetFrameClose(g);
    return w;
}

class ScopedReadAhead {
public:
    explicit ScopedReadAhead(bool on) { setenv("LUM_READAHEAD", on ? "1" : "0", 1); }
    ~ScopedReadAhead() { unsetenv("LUM_READAHEAD"); }
};

} // namespace

TEST(ReadAhead, SamePicturesAndWorkAsOneDecoder) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    for (const Recipe& r :
         {Recipe{"WalkH264",
                 "-f lavfi -i testsrc=size=160x120:rate=25 -t 12 -c:v libx264 -bf 3 "
                 "-g 40 -sc_threshold 0",
                 "avi"},
          Recipe{"WalkXvid",
                 "-f lavfi -i testsrc=size=160x120:rate=25 -t 12 -c:v libxvid "
                 "-bf 2 -g 40",
                 "avi"},
          Recipe{"WalkMjpeg", "-f lavfi -i testsrc=size=160x120:rate=25 -t 12 -c:v mjpeg",
                 "avi"}}) {
        SCOPED_TRACE(r.name);
        const std::string path = MediaFile(r);
        PAVIFILE file = nullptr;
        PAVISTREAM stream = nullptr;
        ASSERT_EQ(AVIFileOpen(&file, path, OF_READ | OF_SHARE_DENY_WRITE), AVIERR_OK);
        ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
        const LONG length = AVIStreamLength(stream);
        for (LONG step : {7L, 13L, 60L}) {
            std::vector<LONG> positions;
            for (LONG p = 0; p < length; p += step)
                positions.push_back(p);
            Walked alone, ahead;
            {
                ScopedReadAhead off(false);
                alone = Walk(stream, positions);
            }
            {
                ScopedReadAhead on(true);
                ahead = Walk(stream, positions);
            }
            EXPECT_EQ(ahead.hashes, alone.hashes) << "step " << step;
            EXPECT_EQ(ahead.stats.frames_decoded, alone.stats.frames_decoded) << "step " << step;
            EXPECT_EQ(ahead.stats.frames_converted, alone.stats.frames_converted)
                << "step " << step;
            EXPECT_EQ(ahead.stats.restarts, alone.stats.restarts) << "step " << step;
            EXPECT_EQ(alone.stats.read_ahead, 0u);
            EXPECT_GT(ahead.stats.read_ahead, 0u) << "step " << step;
        }
        // A walk that changes its step, and goes back, midway.
        std::vector<LONG> mixed;
        for (LONG p = 0; p < length / 2; p += 9)
            mixed.push_back(p);
        for (LONG p = 5; p < length; p += 31)
            mixed.push_back(p);
        Walked alone, ahead;
        {
            ScopedReadAhead off(false);
            alone = Walk(stream, mixed);
        }
        {
            ScopedReadAhead on(true);
            ahead = Walk(stream, mixed);
        }
        EXPECT_EQ(ahead.hashes, alone.hashes);
        AVIStreamRelease(stream);
        AVIFileRelease(file);
    }
}
