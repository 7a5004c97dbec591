// AVISaveV: plain copies, compression, interleaving, progress and abort,
// what happens to the file saved over, edit streams with edit points on
// delta frames, and files made of streams.
#include <algorithm>
#include <filesystem>

#include "platform/base/globalmem.h"

#include "save_fixtures.h"

namespace lum::vfwtest {
namespace {

class SaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        src_ = dir_.File("src.avi");
        WriteTestAvi(src_, 30, true); // opaque frames, key every 5, PCM
        video_ = OpenStream(src_);
        audio_ = OpenStream(src_, streamtypeAUDIO);
        ASSERT_NE(video_, nullptr);
        ASSERT_NE(audio_, nullptr);
    }
    void TearDown() override {
        AVIStreamRelease(video_);
        AVIStreamRelease(audio_);
    }

    // Files in the folder besides the source.
    std::vector<std::string> Others() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_.Path()))
            if (e.path().filename() != "src.avi") names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    lum::test::TempDir dir_;
    std::string src_;
    PAVISTREAM video_ = nullptr;
    PAVISTREAM audio_ = nullptr;
};

TEST_F(SaveTest, PlainCopyKeepsSamplesKeyFramesFormatsAndNames) {
    const std::string out = dir_.File("copy.avi");
    PAVISTREAM streams[] = {video_, audio_};
    ASSERT_EQ(AVISaveV(out, nullptr, nullptr, 2, streams, nullptr), AVIERR_OK);
    PAVISTREAM v = OpenStream(out), a = OpenStream(out, streamtypeAUDIO);
    ASSERT_NE(v, nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(FormatOf(v), FormatOf(video_));
    EXPECT_EQ(FormatOf(a), FormatOf(audio_));
    ASSERT_EQ(AVIStreamLength(v), 30);
    for (LONG p = 0; p < 30; ++p)
        EXPECT_EQ(ReadSample(v, p), FrameData(p)) << p;
    EXPECT_EQ(KeyFrames(v), KeyFrames(video_));
    ASSERT_EQ(AVIStreamLength(a), AVIStreamLength(audio_));
    Bytes want(static_cast<std::size_t>(AVIStreamLength(a)) * 4), got(want.size());
    ASSERT_EQ(AVIStreamRead(audio_, 0, AVIStreamLength(a), want.data(),
                            static_cast<LONG>(want.size()), nullptr, nullptr),
              AVIERR_OK);
    ASSERT_EQ(AVIStreamRead(a, 0, AVIStreamLength(a), got.data(), static_cast<LONG>(got.size()),
                            nullptr, nullptr),
              AVIERR_OK);
    EXPECT_EQ(got, want);
    // Without interleaving the streams follow one another.
    std::vector<std::string> chunks = MoviChunks(out);
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(chunks.front(), "00dc");
    EXPECT_EQ(chunks.back(), "01wb");
    AVIStreamRelease(v);
    AVIStreamRelease(a);
}

TEST_F(SaveTest, InterleavedEveryNFrames) {
    const std::string out = dir_.File("inter.avi");
    AVICOMPRESSOPTIONS vo{}, ao{};
    vo.fccType = streamtypeVIDEO;
    vo.dwFlags = AVICOMPRESSF_INTERLEAVE | AVICOMPRESSF_VALID;
    vo.dwInterleaveEvery = 4;
    ao.fccType = streamtypeAUDIO;
    PAVISTREAM streams[] = {video_, audio_};
    AVICOMPRESSOPTIONS* opts[] = {&vo, &ao};
    ASSERT_EQ(AVISaveV(out, nullptr, nullptr, 2, streams, opts), AVIERR_OK);
    // Audio up to the end of each block of 4 frames, then the 4 frames;
    // the last block's audio is the rest of it.
    std::vector<std::string> chunks = MoviChunks(out), want;
    for (int block = 0; block < 30; block += 4) {
        want.push_back("01wb");
        for (int f = block; f < std::min(block + 4, 30); ++f)
            want.push_back("00dc");
    }
    EXPECT_EQ(chunks, want);
    // The audio chunk before block K ends at the time of frame 4K.
    PAVISTREAM a = OpenStream(out, streamtypeAUDIO);
    EXPECT_EQ(AVIStreamFindSample(a, 0, FIND_LENGTH), 4 * 320);
    EXPECT_EQ(AVIStreamLength(a), 30 * 320);
    AVIStreamRelease(a);
}

TEST_F(SaveTest, ProgressRisesToAHundredAndAbortLeavesNothing) {
    static std::vector<int> seen;
    seen.clear();
    const std::string out = dir_.File("p.avi");
    PAVISTREAM streams[] = {video_, audio_};
    ASSERT_EQ(AVISaveV(
                  out, nullptr,
                  [](int p) -> BOOL {
                      seen.push_back(p);
                      return 0;
                  },
                  2, streams, nullptr),
              AVIERR_OK);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

    // An abort at 50 % keeps the file that was there and leaves no other.
    lum::test::WriteFile(out, {'o', 'l', 'd'});
    HRESULT hr = AVISaveStreams(
        out, [](int p) { return p >= 50; }, 2, streams, nullptr);
    EXPECT_EQ(hr, AVIERR_USERABORT);
    EXPECT_EQ(lum::test::ReadFile(out), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(Others(), std::vector<std::string>{"p.avi"});
}

TEST_F(SaveTest, FailuresLeaveNoFileAndAnOpenTargetIsRefused) {
    const std::string out = dir_.File("f.avi");
    // Audio in another format needs a converter there is none of.
    WAVEFORMATEX other = PcmFormat(1, 11025, 4);
    other.wFormatTag = WAVE_FORMAT_ADPCM;
    AVICOMPRESSOPTIONS ao{};
    ao.fccType = streamtypeAUDIO;
    ao.lpFormat = &other;
    ao.cbFormat = sizeof other;
    PAVISTREAM streams[] = {video_, audio_};
    AVICOMPRESSOPTIONS* opts[] = {nullptr, &ao};
    EXPECT_EQ(AVISaveV(out, nullptr, nullptr, 2, streams, opts), AVIERR_NOCOMPRESSOR);
    // Opaque frames cannot be compressed: no decoder knows them.
    AVICOMPRESSOPTIONS vo = Options("MJPG");
    opts[0] = &vo;
    opts[1] = nullptr;
    EXPECT_EQ(AVISaveV(out, nullptr, nullptr, 2, streams, opts), AVIERR_BADFORMAT);
    EXPECT_TRUE(Others().empty());
    EXPECT_EQ(AVISaveV(out, nullptr, nullptr, 0, streams, nullptr), AVIERR_BADPARAM);
    // Saving over the file being read is refused, and the file stays.
    const Bytes before = lum::test::ReadFile(src_);
    EXPECT_EQ(AVISaveV(src_, nullptr, nullptr, 2, streams, nullptr), AVIERR_FILEOPEN);
    EXPECT_EQ(lum::test::ReadFile(src_), before);
}

TEST(SaveCompressed, CodecSizeRateLengthAndKeyFrames) {
    lum::test::TempDir dir;
    const std::string rgb = dir.File("rgb.avi"), out = dir.File("x.avi");
    WriteRgbAvi(rgb, 64, 48, 20, true);
    PAVISTREAM v = OpenStream(rgb), a = OpenStream(rgb, streamtypeAUDIO);
    AVICOMPRESSOPTIONS vo = Options("XVID", 6, 9000);
    PAVISTREAM streams[] = {v, a};
    AVICOMPRESSOPTIONS* opts[] = {&vo, nullptr};
    ASSERT_EQ(AVISaveV(out, nullptr, nullptr, 2, streams, opts), AVIERR_OK);
    PAVISTREAM s = OpenStream(out);
    ASSERT_NE(s, nullptr);
    AVISTREAMINFO si{};
    ASSERT_EQ(AVIStreamInfo(s, &si, sizeof si), AVIERR_OK);
    EXPECT_EQ(si.fccHandler, MakeFourCC("XVID"));
    EXPECT_EQ(si.dwRate, 25u);
    EXPECT_EQ(si.dwLength, 20u);
    EXPECT_EQ(KeyFrames(s), (std::vector<LONG>{0, 6, 12, 18}));
    std::vector<Bytes> frames = DecodeAll(s);
    ASSERT_EQ(frames.size(), 20u);
    for (int i : {0, 5, 6, 19})
        ExpectPicture(frames[static_cast<std::size_t>(i)], 64, 48, i);
    PAVISTREAM sa = OpenStream(out, streamtypeAUDIO);
    EXPECT_EQ(AVIStreamLength(sa), 20 * 320);
    AVIStreamRelease(sa);
    AVIStreamRelease(s);
    AVIStreamRelease(v);
    AVIStreamRelease(a);
}

// A plain copy of an edit stream whose segments start on delta frames:
// each such segment's frames up to its source's next key frame are made
// anew, starting with a key frame; the rest are the source's own samples.
TEST(SaveEdited, DeltaFrameEditPointsGetAKeyFrameOfTheirOwn) {
    lum::test::TempDir dir;
    const std::string rgb = dir.File("rgb.avi"), xvid = dir.File("xvid.avi"),
                      out = dir.File("cut.avi");
    WriteRgbAvi(rgb, 64, 48, 30);
    PAVISTREAM raw = OpenStream(rgb);
    AVICOMPRESSOPTIONS o = Options("XVID", 10, 9000);
    AVICOMPRESSOPTIONS* po = &o;
    ASSERT_EQ(AVISaveV(xvid, nullptr, nullptr, 1, &raw, &po), AVIERR_OK);
    AVIStreamRelease(raw);
    PAVISTREAM src = OpenStream(xvid);
    PAVISTREAM e = nullptr;
    ASSERT_EQ(CreateEditableStream(&e, src), AVIERR_OK);
    LONG s = 3, n = 4; // frames 0-2, then 7-29: 7 is a delta frame
    ASSERT_EQ(EditStreamCut(e, &s, &n, nullptr), AVIERR_OK);
    ASSERT_EQ(AVISaveV(out, nullptr, nullptr, 1, &e, nullptr), AVIERR_OK);

    PAVISTREAM saved = OpenStream(out);
    ASSERT_EQ(AVIStreamLength(saved), 26);
    EXPECT_EQ(KeyFrames(saved), (std::vector<LONG>{0, 3, 6, 16}));
    // From the source's key frame 10 (position 6) on, its own samples.
    for (LONG p = 6; p < 26; ++p)
        EXPECT_EQ(ReadSample(saved, p), ReadSample(src, p + 4)) << p;
    for (LONG p = 0; p < 3; ++p)
        EXPECT_EQ(ReadSample(saved, p), ReadSample(src, p)) << p;
    // And the pictures are right all through.
    std::vector<Bytes> frames = DecodeAll(saved);
    ASSERT_EQ(frames.size(), 26u);
    for (int p = 0; p < 26; ++p)
        ExpectPicture(frames[static_cast<std::size_t>(p)], 64, 48, p < 3 ? p : p + 4);
    AVIStreamRelease(saved);
    AVIStreamRelease(e);
    AVIStreamRelease(src);
}

TEST(SaveEdited, SaysSoWhenNoCompressorCanRemakeTheHead) {
    lum::test::TempDir dir;
    const std::string src = dir.File("src.avi");
    WriteTestAvi(src, 20, false); // key frames every 5 of a codec nobody knows
    PAVISTREAM v = OpenStream(src);
    PAVISTREAM e = nullptr;
    ASSERT_EQ(CreateEditableStream(&e, v), AVIERR_OK);
    LONG s = 0, n = 2;
    ASSERT_EQ(EditStreamCut(e, &s, &n, nullptr), AVIERR_OK);
    EXPECT_EQ(AVISaveV(dir.File("out.avi"), nullptr, nullptr, 1, &e, nullptr), AVIERR_CANTCOMPRESS);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.avi")));
    // Cut at a key frame, the copy needs nothing made anew.
    s = 0, n = 3; // now starts at source frame 5
    ASSERT_EQ(EditStreamCut(e, &s, &n, nullptr), AVIERR_OK);
    ASSERT_EQ(AVISaveV(dir.File("out.avi"), nullptr, nullptr, 1, &e, nullptr), AVIERR_OK);
    PAVISTREAM saved = OpenStream(dir.File("out.avi"));
    EXPECT_EQ(ReadSample(saved, 0), FrameData(5));
    AVIStreamRelease(saved);
    AVIStreamRelease(e);
    AVIStreamRelease(v);
}

TEST_F(SaveTest, FileOfStreams) {
    PAVISTREAM streams[] = {video_, audio_};
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIMakeFileFromStreams(&f, 2, streams), AVIERR_OK);
    AVIFILEINFO fi{};
    ASSERT_EQ(AVIFileInfo(f, &fi, sizeof fi), AVIERR_OK);
    EXPECT_EQ(fi.dwStreams, 2u);
    EXPECT_EQ(fi.dwWidth, 32u);
    EXPECT_EQ(fi.dwHeight, 24u);
    EXPECT_EQ(fi.dwLength, 30u);
    PAVISTREAM got = nullptr;
    ASSERT_EQ(AVIFileGetStream(f, &got, streamtypeAUDIO, 0), AVIERR_OK);
    EXPECT_EQ(got, audio_);
    AVIStreamRelease(got);
    EXPECT_EQ(AVIFileGetStream(f, &got, 0, 2), AVIERR_NODATA);
    EXPECT_EQ(AVIFileGetStream(f, &got, streamtypeVIDEO, 1), AVIERR_NODATA);
    AVISTREAMINFO si{};
    EXPECT_EQ(AVIFileCreateStream(f, &got, &si), AVIERR_UNSUPPORTED);
    // The file holds its streams: they outlive the caller's references.
    AVIStreamRelease(video_);
    video_ = nullptr;
    ASSERT_EQ(AVIFileGetStream(f, &got, 0, 0), AVIERR_OK);
    EXPECT_EQ(ReadSample(got, 7), FrameData(7));
    AVIStreamRelease(got);
    PAVIFILE empty = nullptr;
    ASSERT_EQ(AVIMakeFileFromStreams(&empty, 0, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIFileGetStream(empty, &got, 0, 0), AVIERR_NODATA);
    EXPECT_EQ(AVIFileRelease(empty), 0u);
    EXPECT_EQ(AVIFileRelease(f), 0u);
}

TEST(SaveOptionsFree, FreesAndClearsBothBlocks) {
    AVICOMPRESSOPTIONS a{}, b{};
    a.lpFormat = GlobalAlloc(GPTR, 20);
    a.cbFormat = 20;
    a.lpParms = GlobalAlloc(GPTR, 8);
    a.cbParms = 8;
    AVICOMPRESSOPTIONS* list[] = {&a, nullptr, &b};
    EXPECT_EQ(AVISaveOptionsFree(3, list), AVIERR_OK);
    EXPECT_EQ(a.lpFormat, nullptr);
    EXPECT_EQ(a.lpParms, nullptr);
    EXPECT_EQ(a.cbFormat, 0u);
    EXPECT_EQ(AVISaveOptionsFree(3, list), AVIERR_OK); // twice is harmless
}

} // namespace
} // namespace lum::vfwtest
