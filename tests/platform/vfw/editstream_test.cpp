// Edit streams: cut, copy, paste and clone against a model of which source
// sample sits where, reading across segments, key frames and formats
// through segments, and pictures at edit points on delta frames.
#include <random>

#include "save_fixtures.h"

namespace lum::vfwtest {
namespace {

// The samples of a stream as the source positions they came from: every
// sample of the test sources is distinct (FrameData(i)).
std::vector<int> Sequence(PAVISTREAM s, int source_frames) {
    std::vector<int> out;
    for (LONG p = AVIStreamStart(s); p < AVIStreamStart(s) + AVIStreamLength(s); ++p) {
        Bytes b = ReadSample(s, p);
        int found = -1;
        for (int i = 0; i < source_frames; ++i)
            if (FrameData(i) == b) found = i;
        out.push_back(found);
    }
    return out;
}

std::vector<int> Range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i < to; ++i)
        v.push_back(i);
    return v;
}

class EditTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("src.avi");
        WriteTestAvi(path_, 40, true); // key frames every 5
        video_ = OpenStream(path_);
        audio_ = OpenStream(path_, streamtypeAUDIO);
        ASSERT_EQ(CreateEditableStream(&edit_, video_), AVIERR_OK);
    }
    void TearDown() override {
        AVIStreamRelease(edit_);
        AVIStreamRelease(video_);
        AVIStreamRelease(audio_);
    }

    lum::test::TempDir dir_;
    std::string path_;
    PAVISTREAM video_ = nullptr;
    PAVISTREAM audio_ = nullptr;
    PAVISTREAM edit_ = nullptr;
};

TEST_F(EditTest, CutCopyPasteFollowTheModel) {
    // Random edits, each checked against a plain list of source positions.
    std::mt19937 rng(26);
    std::vector<int> model = Range(0, 40);
    PAVISTREAM clip = nullptr;
    std::vector<int> clip_model;
    for (int step = 0; step < 60; ++step) {
        const int len = static_cast<int>(model.size());
        std::uniform_int_distribution<int> pos(0, std::max(len - 1, 0));
        const int op = static_cast<int>(rng() % 3);
        if (op < 2 && len > 0) {
            LONG start = pos(rng), n = 1 + static_cast<LONG>(rng() % 7);
            PAVISTREAM got = nullptr;
            HRESULT hr = op == 0 ? EditStreamCut(edit_, &start, &n, &got)
                                 : EditStreamCopy(edit_, &start, &n, &got);
            ASSERT_EQ(hr, AVIERR_OK);
            ASSERT_LE(start + n, len); // clamped to the stream
            AVIStreamRelease(clip);
            clip = got;
            clip_model.assign(model.begin() + start, model.begin() + start + n);
            if (op == 0) model.erase(model.begin() + start, model.begin() + start + n);
        } else if (clip) {
            LONG at = static_cast<LONG>(rng() % (model.size() + 3)); // past the end appends
            LONG n = 0;
            ASSERT_EQ(EditStreamPaste(edit_, &at, &n, clip, 0, -1), AVIERR_OK);
            ASSERT_EQ(n, static_cast<LONG>(clip_model.size()));
            ASSERT_LE(at, static_cast<LONG>(model.size()));
            model.insert(model.begin() + at, clip_model.begin(), clip_model.end());
        }
        ASSERT_EQ(AVIStreamLength(edit_), static_cast<LONG>(model.size())) << "step " << step;
    }
    EXPECT_EQ(Sequence(edit_, 40), model);
    if (clip) {
        EXPECT_EQ(Sequence(clip, 40), clip_model);
    }
    AVIStreamRelease(clip);
}

TEST_F(EditTest, PasteIntoItselfAndJoiningNeighbours) {
    LONG at = 10, n = 0;
    ASSERT_EQ(EditStreamPaste(edit_, &at, &n, edit_, 0, 5), AVIERR_OK);
    std::vector<int> want = Range(0, 10);
    for (int i : Range(0, 5))
        want.push_back(i);
    for (int i : Range(10, 40))
        want.push_back(i);
    EXPECT_EQ(Sequence(edit_, 40), want);
    // Cutting a range and pasting it back leaves one segment again.
    PAVISTREAM e2 = nullptr;
    ASSERT_EQ(CreateEditableStream(&e2, video_), AVIERR_OK);
    LONG s = 12, len = 6;
    PAVISTREAM cut = nullptr;
    ASSERT_EQ(EditStreamCut(e2, &s, &len, &cut), AVIERR_OK);
    EXPECT_EQ(EditStreamSegments(e2).size(), 2u);
    at = 12;
    ASSERT_EQ(EditStreamPaste(e2, &at, &n, cut, 0, -1), AVIERR_OK);
    EXPECT_EQ(EditStreamSegments(e2).size(), 1u);
    EXPECT_EQ(Sequence(e2, 40), Range(0, 40));
    AVIStreamRelease(cut);
    AVIStreamRelease(e2);
}

TEST_F(EditTest, EmptyStreamTakesThePastedStreamsDescription) {
    PAVISTREAM e = nullptr;
    ASSERT_EQ(CreateEditableStream(&e, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(e), 0);
    EXPECT_EQ(AVIStreamGetFrameOpen(e, nullptr), nullptr);
    LONG at = 0, n = 0;
    ASSERT_EQ(EditStreamPaste(e, &at, &n, video_, 3, 10), AVIERR_OK);
    EXPECT_EQ(n, 10);
    AVISTREAMINFO si{};
    ASSERT_EQ(AVIStreamInfo(e, &si, sizeof si), AVIERR_OK);
    EXPECT_EQ(si.fccType, streamtypeVIDEO);
    EXPECT_EQ(si.dwRate, 25u);
    EXPECT_EQ(si.dwLength, 10u);
    EXPECT_EQ(Sequence(e, 40), Range(3, 13));
    // Audio cannot join a video stream.
    at = 0;
    EXPECT_EQ(EditStreamPaste(e, &at, &n, audio_, 0, 10), AVIERR_BADFORMAT);
    AVIStreamRelease(e);
}

TEST_F(EditTest, RangesAreClampedOrRefused) {
    LONG s = 35, n = 100;
    PAVISTREAM got = nullptr;
    ASSERT_EQ(EditStreamCopy(edit_, &s, &n, &got), AVIERR_OK);
    EXPECT_EQ(n, 5);
    AVIStreamRelease(got);
    s = 40, n = 1;
    EXPECT_EQ(EditStreamCopy(edit_, &s, &n, &got), AVIERR_BADPARAM);
    s = -1;
    EXPECT_EQ(EditStreamCut(edit_, &s, &n, &got), AVIERR_BADPARAM);
    s = 0, n = 0;
    EXPECT_EQ(EditStreamCut(edit_, &s, &n, &got), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamLength(edit_), 40);
    LONG at = 0;
    EXPECT_EQ(EditStreamPaste(edit_, &at, &n, video_, 40, 1), AVIERR_BADPARAM);
    // Edits apply to edit streams only.
    EXPECT_EQ(EditStreamCut(video_, &s, &n, &got), AVIERR_UNSUPPORTED);
}

TEST_F(EditTest, CloneIsIndependent) {
    PAVISTREAM clone = nullptr;
    ASSERT_EQ(EditStreamClone(edit_, &clone), AVIERR_OK);
    LONG s = 0, n = 20;
    ASSERT_EQ(EditStreamCut(edit_, &s, &n, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(clone), 40);
    EXPECT_EQ(AVIStreamLength(edit_), 20);
    // An edit stream made from an edit stream is a copy too.
    PAVISTREAM copy = nullptr;
    ASSERT_EQ(CreateEditableStream(&copy, clone), AVIERR_OK);
    EXPECT_NE(copy, clone);
    s = 0, n = 1;
    ASSERT_EQ(EditStreamCut(copy, &s, &n, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(clone), 40);
    AVIStreamRelease(copy);
    AVIStreamRelease(clone);
}

TEST_F(EditTest, KeyFramesAndFindingThroughSegments) {
    // Remove 3..6: the sample at 3 is now source 7, a delta frame.
    LONG s = 3, n = 4;
    ASSERT_EQ(EditStreamCut(edit_, &s, &n, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIStreamFindSample(edit_, 3, FIND_PREV | FIND_KEY), 0);
    EXPECT_EQ(AVIStreamFindSample(edit_, 3, FIND_NEXT | FIND_KEY), 6); // source 10
    EXPECT_EQ(AVIStreamFindSample(edit_, 3, FIND_SIZE), static_cast<LONG>(FrameData(7).size()));
    EXPECT_EQ(AVIStreamFindSample(edit_, 100, FIND_PREV | FIND_KEY), 31);
    EXPECT_EQ(AVIStreamFindSample(edit_, 36, FIND_NEXT | FIND_KEY), -1);
    EXPECT_EQ(KeyFrames(edit_), (std::vector<LONG>{0, 6, 11, 16, 21, 26, 31}));
}

TEST_F(EditTest, AudioReadsAcrossSegmentsInOneCall) {
    PAVISTREAM a = nullptr;
    ASSERT_EQ(CreateEditableStream(&a, audio_), AVIERR_OK);
    // Cut 100 samples from 500: a read from 400 runs over the edit point.
    LONG s = 500, n = 100;
    ASSERT_EQ(EditStreamCut(a, &s, &n, nullptr), AVIERR_OK);
    Bytes got(4 * 300);
    LONG bytes = 0, samples = 0;
    ASSERT_EQ(
        AVIStreamRead(a, 400, 300, got.data(), static_cast<LONG>(got.size()), &bytes, &samples),
        AVIERR_OK);
    EXPECT_EQ(samples, 300);
    EXPECT_EQ(bytes, 1200);
    Bytes want(4 * 700);
    ASSERT_EQ(AVIStreamRead(audio_, 400, 100, want.data(), 400, nullptr, nullptr), AVIERR_OK);
    ASSERT_EQ(AVIStreamRead(audio_, 600, 200, want.data() + 400, 800, nullptr, nullptr), AVIERR_OK);
    want.resize(1200);
    EXPECT_EQ(got, want);
    // With no buffer the size of the samples asked for.
    ASSERT_EQ(AVIStreamRead(a, 400, 300, nullptr, 0, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(bytes, 1200);
    // Another audio format cannot be pasted in.
    const std::string other = dir_.File("other.avi");
    CreateFile(other, [&](PAVIFILE f) {
        WAVEFORMATEX w = PcmFormat(1, 8000, 16);
        AVISTREAMINFO ai = AudioInfo(w);
        PAVISTREAM s2 = nullptr;
        ASSERT_EQ(AVIFileCreateStream(f, &s2, &ai), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(s2, 0, &w, sizeof w), AVIERR_OK);
        Bytes pcm(200);
        ASSERT_EQ(AVIStreamWrite(s2, 0, 100, pcm.data(), 200, 0, nullptr, nullptr), AVIERR_OK);
        AVIStreamRelease(s2);
    });
    PAVISTREAM mono = OpenStream(other, streamtypeAUDIO);
    LONG at = 0;
    EXPECT_EQ(EditStreamPaste(a, &at, &n, mono, 0, 10), AVIERR_BADFORMAT);
    AVIStreamRelease(mono);
    AVIStreamRelease(a);
}

TEST_F(EditTest, InfoAndName) {
    ASSERT_EQ(EditStreamSetName(edit_, "Edited"), AVIERR_OK);
    AVISTREAMINFO si{};
    ASSERT_EQ(AVIStreamInfo(edit_, &si, sizeof si), AVIERR_OK);
    EXPECT_STREQ(si.szName, "Edited");
    EXPECT_GT(si.dwEditCount, 0u);
    si.dwRate = 50;
    si.dwLength = 1; // not taken
    si.fccType = streamtypeAUDIO;
    ASSERT_EQ(EditStreamSetInfo(edit_, &si, sizeof si), AVIERR_OK);
    AVISTREAMINFO after{};
    ASSERT_EQ(AVIStreamInfo(edit_, &after, sizeof after), AVIERR_OK);
    EXPECT_EQ(after.dwRate, 50u);
    EXPECT_EQ(after.dwLength, 40u);
    EXPECT_EQ(after.fccType, streamtypeVIDEO);
    EXPECT_EQ(EditStreamSetInfo(edit_, &si, 100), AVIERR_BADSIZE);
    si.dwScale = 0;
    EXPECT_EQ(EditStreamSetInfo(edit_, &si, sizeof si), AVIERR_BADPARAM);
}

// A delta-coded source: every frame of the edit stream decodes to exactly
// the picture the source decodes at that frame, also at edit points on
// delta frames, where the picture before belongs to another segment.
TEST(EditPictures, EditPointsOnDeltaFramesDecodeFromTheirOwnKeyFrames) {
    lum::test::TempDir dir;
    const std::string rgb = dir.File("rgb.avi"), xvid = dir.File("xvid.avi");
    WriteRgbAvi(rgb, 64, 48, 30);
    PAVISTREAM raw = OpenStream(rgb);
    AVICOMPRESSOPTIONS o = Options("XVID", 10, 9000);
    AVICOMPRESSOPTIONS* po = &o;
    ASSERT_EQ(AVISaveV(xvid, nullptr, nullptr, 1, &raw, &po), AVIERR_OK);
    AVIStreamRelease(raw);
    PAVISTREAM src = OpenStream(xvid);
    ASSERT_NE(src, nullptr);
    const std::vector<Bytes> want = DecodeAll(src);
    ASSERT_EQ(want.size(), 30u);

    PAVISTREAM e = nullptr;
    ASSERT_EQ(CreateEditableStream(&e, nullptr), AVIERR_OK);
    // 23..27, then 4..8, then 13..16: every segment starts on a delta frame.
    const std::vector<std::pair<LONG, LONG>> pieces = {{23, 5}, {4, 5}, {13, 4}};
    std::vector<int> order;
    for (auto [from, n] : pieces) {
        LONG at = AVIStreamLength(e), got = 0;
        ASSERT_EQ(EditStreamPaste(e, &at, &got, src, from, n), AVIERR_OK);
        for (LONG i = from; i < from + n; ++i)
            order.push_back(i);
    }
    const std::vector<Bytes> frames = DecodeAll(e);
    ASSERT_EQ(frames.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(frames[i], want[static_cast<std::size_t>(order[i])]) << "position " << i;
    AVIStreamRelease(e);
    AVIStreamRelease(src);
}

} // namespace
} // namespace lum::vfwtest
