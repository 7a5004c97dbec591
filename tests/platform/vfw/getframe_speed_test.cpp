// The frame decoder's shortcuts against plain decoding. A walk in steps,
// random fetches and a sequential read after a walk must give the very
// pictures that decoding every frame in order gives, on a lossless
// intra-only file and on lossy files with B-frames; and fetches must not
// decode more than the frames between the nearest key frame and the one
// wanted. Files are made by ffmpeg; the tests skip without it.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "avi_fixtures.h"

using namespace lum::vfwtest;

namespace {

constexpr LONG kFrames = 300;
constexpr LONG kStep = 60;

struct Input {
    const char* name;
    const char* ffmpeg; // encoder arguments
};

// Small inputs with scene changes (a hue turn every 2 s at 25 frames a
// second) and, for the lossy ones, short key frame periods so that walks
// cross several of them.
const Input kInputs[] = {
    {"ffv1", "-c:v ffv1"},
    {"h264", "-c:v libx264 -preset veryfast -bf 3 -g 50 -pix_fmt yuv420p"},
    {"mpeg4", "-c:v mpeg4 -vtag XVID -bf 2 -g 40 -q:v 5"},
};

std::uint64_t Hash(const void* dib) {
    const auto* bi = static_cast<const BITMAPINFOHEADER*>(dib);
    const std::size_t header = bi->biSize + 4 * (bi->biClrUsed         ? bi->biClrUsed
                                                 : bi->biBitCount <= 8 ? 1u << bi->biBitCount
                                                                       : 0u);
    const std::size_t stride = ((bi->biWidth * bi->biBitCount + 31) / 32) * 4;
    const std::size_t rows = bi->biHeight < 0 ? -bi->biHeight : bi->biHeight;
    const auto* p = static_cast<const std::uint8_t*>(dib);
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::size_t i = 0; i < header + stride * rows; ++i)
        h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

class GetFrameSpeed : public testing::TestWithParam<Input> {
protected:
    static void SetUpTestSuite() {
        if (!lum::test::HaveProgram("ffmpeg")) return;
        dir_ = new lum::test::TempDir;
        for (const Input& in : kInputs) {
            const std::string path = dir_->File(std::string(in.name) + ".avi");
            const std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                                    "'testsrc2=size=320x240:rate=25,hue=h=72*floor(t/2)' -an " +
                                    std::string(in.ffmpeg) + " -frames:v " +
                                    std::to_string(kFrames) + " " + lum::test::Quote(path);
            if (lum::test::Run(cmd) == 0) files_[in.name] = path;
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
        files_.clear();
    }

    void SetUp() override {
        if (!lum::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
        auto it = files_.find(GetParam().name);
        if (it == files_.end()) GTEST_SKIP() << "ffmpeg could not make " << GetParam().name;
        ASSERT_EQ(
            AVIStreamOpenFromFile(&stream_, it->second, streamtypeVIDEO, 0, OF_SHARE_DENY_NONE),
            AVIERR_OK);
        ASSERT_EQ(AVIStreamLength(stream_), kFrames);
        // The reference: every frame decoded in order.
        PGETFRAME g = Open();
        for (LONG i = 0; i < kFrames; ++i) {
            void* dib = AVIStreamGetFrame(g, i);
            ASSERT_NE(dib, nullptr) << "frame " << i;
            reference_.push_back(Hash(dib));
        }
        AVIStreamGetFrameClose(g);
    }
    void TearDown() override {
        if (stream_) AVIStreamRelease(stream_);
    }

    PGETFRAME Open() {
        PGETFRAME g = AVIStreamGetFrameOpen(stream_, AVIGETFRAMEF_BESTDISPLAYFMT);
        EXPECT_NE(g, nullptr);
        return g;
    }

    // Fetches the positions in order and compares each with the reference.
    void ExpectSameAsReference(PGETFRAME g, const std::vector<LONG>& positions) {
        for (LONG p : positions) {
            void* dib = AVIStreamGetFrame(g, p);
            ASSERT_NE(dib, nullptr) << "frame " << p;
            EXPECT_EQ(Hash(dib), reference_[p]) << "frame " << p;
        }
    }

    LONG PrevKey(LONG p) const { return AVIStreamFindSample(stream_, p, FIND_PREV | FIND_KEY); }

    static lum::test::TempDir* dir_;
    static std::map<std::string, std::string> files_;
    PAVISTREAM stream_ = nullptr;
    std::vector<std::uint64_t> reference_;
};

lum::test::TempDir* GetFrameSpeed::dir_ = nullptr;
std::map<std::string, std::string> GetFrameSpeed::files_;

TEST_P(GetFrameSpeed, WalkInStepsGivesTheFramesOfPlainDecoding) {
    std::vector<LONG> walk;
    for (LONG p = 0; p < kFrames; p += kStep)
        walk.push_back(p);
    PGETFRAME g = Open();
    ExpectSameAsReference(g, walk);
    // The walk decodes less than everything, and converts only what it
    // hands out.
    const GetFrameStats s = g->Stats();
    EXPECT_EQ(s.frames_converted, walk.size());
    EXPECT_LT(s.frames_decoded, static_cast<std::uint64_t>(kFrames) / 2);
    AVIStreamGetFrameClose(g);
}

TEST_P(GetFrameSpeed, RandomFetchesAndReadingOnAfterAWalk) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<LONG> pick(0, kFrames - 1);
    std::vector<LONG> positions;
    for (int i = 0; i < 100; ++i)
        positions.push_back(pick(rng));
    // Backwards, forwards, the same frame twice.
    positions.insert(positions.end(), {299, 0, 150, 149, 149, 151, 10});
    PGETFRAME g = Open();
    ExpectSameAsReference(g, positions);

    // A walk in steps, then frame after frame from one of its frames: the
    // frames the walk skipped are decoded again.
    std::vector<LONG> mixed = {0, 60, 120};
    for (LONG p = 121; p < 200; ++p)
        mixed.push_back(p);
    ExpectSameAsReference(g, mixed);
    AVIStreamGetFrameClose(g);
}

TEST_P(GetFrameSpeed, SequentialReadingDecodesEachFrameAboutOnce) {
    PGETFRAME g = Open();
    for (LONG p = 0; p < kFrames; ++p)
        ASSERT_NE(AVIStreamGetFrame(g, p), nullptr);
    const GetFrameStats s = g->Stats();
    EXPECT_EQ(s.frames_converted, static_cast<std::uint64_t>(kFrames));
    EXPECT_EQ(s.frames_decoded, static_cast<std::uint64_t>(kFrames));
    EXPECT_EQ(s.restarts, 1u);
    AVIStreamGetFrameClose(g);
}

TEST_P(GetFrameSpeed, RandomFetchesDecodeNoMoreThanFromTheirKeyFrame) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<LONG> pick(0, kFrames - 1);
    PGETFRAME g = Open();
    double bound = 0;
    for (int i = 0; i < 100; ++i) {
        const LONG p = pick(rng);
        const LONG key = PrevKey(p);
        ASSERT_GE(key, 0);
        bound += p - key + 1;
        ASSERT_NE(AVIStreamGetFrame(g, p), nullptr);
    }
    const GetFrameStats s = g->Stats();
    EXPECT_LE(static_cast<double>(s.frames_decoded) / 100, bound / 100)
        << "decoded " << s.frames_decoded << ", restarts " << s.restarts;
    AVIStreamGetFrameClose(g);
}

INSTANTIATE_TEST_SUITE_P(Inputs, GetFrameSpeed, testing::ValuesIn(kInputs),
                         [](const testing::TestParamInfo<Input>& i) { return i.param.name; });

} // namespace
