// Files written by the service and read back: sample data and positions,
// searches, formats, extra data, records, palette changes, deletion, header
// growth after data, and OpenDML segments.
#include <gtest/gtest.h>

#include "avi_fixtures.h"
#include "platform/vfw/avifile.h"

using namespace lum::vfwtest;

namespace {

struct Opened {
    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr;
    PAVISTREAM audio = nullptr;
    explicit Opened(const std::string& path) {
        EXPECT_EQ(AVIFileOpen(&file, path, OF_SHARE_DENY_NONE), AVIERR_OK);
        if (!file) return;
        AVIFileGetStream(file, &video, streamtypeVIDEO, 0);
        AVIFileGetStream(file, &audio, streamtypeAUDIO, 0);
    }
    ~Opened() {
        AVIStreamRelease(video);
        AVIStreamRelease(audio);
        AVIFileRelease(file);
    }
};

} // namespace

TEST(VfwRecords, PublishedSizesAndFieldOffsets) {
    EXPECT_EQ(sizeof(AVIFILEINFO), 108u);
    EXPECT_EQ(sizeof(AVISTREAMINFO), 140u);
    EXPECT_EQ(offsetof(AVISTREAMINFO, wPriority), 16u);
    EXPECT_EQ(offsetof(AVISTREAMINFO, dwSampleSize), 48u);
    EXPECT_EQ(offsetof(AVISTREAMINFO, dwFormatChangeCount), 72u);
    EXPECT_EQ(offsetof(AVIFILEINFO, dwSuggestedBufferSize), 16u);
    EXPECT_EQ(offsetof(AVIFILEINFO, szFileType), 44u);
    EXPECT_EQ(static_cast<std::uint32_t>(AVIERR_NODATA), 0x80044073u);
    EXPECT_EQ(static_cast<std::uint32_t>(AVIERR_ERROR), 0x800440C7u);
}

TEST(AviRoundTrip, SamplesPositionsAndDescriptions) {
    lum::test::TempDir dir;
    std::string path = dir.File("a.avi");
    WriteTestAvi(path, 40, true, true);
    Opened o(path);
    ASSERT_TRUE(o.video && o.audio);

    AVIFILEINFO fi{};
    ASSERT_EQ(AVIFileInfo(o.file, &fi, sizeof fi), AVIERR_OK);
    EXPECT_EQ(fi.dwStreams, 2u);
    EXPECT_EQ(fi.dwWidth, 32u);
    EXPECT_EQ(fi.dwHeight, 24u);
    EXPECT_EQ(fi.dwScale, 40000u); // microseconds a frame at 25 fps
    EXPECT_EQ(fi.dwLength, 40u);
    EXPECT_TRUE(fi.dwFlags & AVIFILEINFO_HASINDEX);
    EXPECT_GE(fi.dwSuggestedBufferSize, 4u * 320);

    AVISTREAMINFO vi{};
    ASSERT_EQ(AVIStreamInfo(o.video, &vi, sizeof vi), AVIERR_OK);
    EXPECT_EQ(vi.fccHandler, MakeFourCC("XXXX"));
    EXPECT_EQ(vi.dwLength, 40u);
    EXPECT_EQ(vi.dwRate, 25u);
    EXPECT_EQ(vi.rcFrame.right, 32);
    EXPECT_EQ(AVIStreamLength(o.video), 40);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(ReadSample(o.video, i), FrameData(i, true)) << i;
    EXPECT_EQ(KeyFrames(o.video), (std::vector<LONG>{0, 5, 10, 15, 20, 25, 30, 35}));

    // Audio: 4-byte blocks, read across chunk boundaries.
    EXPECT_EQ(AVIStreamLength(o.audio), 40 * 320);
    Bytes pcm(4 * 1000);
    LONG bytes = 0, samples = 0;
    ASSERT_EQ(AVIStreamRead(o.audio, 300, 1000, pcm.data(), static_cast<LONG>(pcm.size()), &bytes,
                            &samples),
              AVIERR_OK);
    EXPECT_EQ(samples, 1000);
    EXPECT_EQ(bytes, 4000);
    for (std::size_t k = 0; k < pcm.size(); ++k)
        ASSERT_EQ(pcm[k], static_cast<std::uint8_t>(300 * 4 + k)) << k;
    // A buffer for 10.5 blocks holds 10; "convenient" is the rest of a chunk.
    ASSERT_EQ(AVIStreamRead(o.audio, 0, 50, pcm.data(), 42, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(samples, 10);
    ASSERT_EQ(AVIStreamRead(o.audio, 310, AVISTREAMREAD_CONVENIENT, nullptr, 0, &bytes, &samples),
              AVIERR_OK);
    EXPECT_EQ(samples, 10);
    EXPECT_EQ(AVIStreamRead(o.audio, 0, 1, pcm.data(), 3, &bytes, &samples), AVIERR_BUFFERTOOSMALL);
    // Past the end nothing is read and nothing fails.
    ASSERT_EQ(AVIStreamRead(o.audio, 40 * 320, 5, pcm.data(), 20, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(samples, 0);
}

TEST(AviRoundTrip, FindSampleDirectionsKindsAndBounds) {
    lum::test::TempDir dir;
    std::string path = dir.File("f.avi");
    WriteTestAvi(path, 20, false, true); // empty frames at 3, 8, 13, 18
    Opened o(path);
    PAVISTREAM s = o.video;
    EXPECT_EQ(AVIStreamFindSample(s, 7, FIND_PREV | FIND_KEY), 5);
    EXPECT_EQ(AVIStreamFindSample(s, 5, FIND_PREV | FIND_KEY), 5);
    EXPECT_EQ(AVIStreamFindSample(s, 6, FIND_NEXT | FIND_KEY), 10);
    EXPECT_EQ(AVIStreamFindSample(s, 16, FIND_NEXT | FIND_KEY), -1);
    EXPECT_EQ(AVIStreamFindSample(s, 99, FIND_PREV | FIND_KEY),
              15); // beyond the end: from the last
    EXPECT_EQ(AVIStreamFindSample(s, -1, FIND_PREV | FIND_KEY), -1);
    EXPECT_EQ(AVIStreamFindSample(s, 12, FIND_FROM_START | FIND_KEY), 0);
    EXPECT_EQ(AVIStreamFindSample(s, 3, FIND_NEXT | FIND_ANY), 4); // 3 is empty
    EXPECT_EQ(AVIStreamFindSample(s, 8, FIND_PREV | FIND_ANY), 7);
    EXPECT_EQ(AVIStreamFindSample(s, 8, FIND_PREV | FIND_FORMAT), 0);
    EXPECT_EQ(AVIStreamFindSample(s, 1, FIND_NEXT | FIND_FORMAT), -1);
    EXPECT_EQ(AVIStreamFindSample(s, 7, FIND_PREV | FIND_KEY | FIND_SIZE),
              static_cast<LONG>(FrameData(5).size()));
    EXPECT_EQ(AVIStreamFindSample(s, 3, FIND_SIZE), 0);
    // The empty sample reads as one sample of no bytes.
    LONG bytes = -1, samples = -1;
    std::uint8_t dummy;
    ASSERT_EQ(AVIStreamRead(s, 3, 1, &dummy, 1, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(samples, 1);
}

TEST(AviRoundTrip, TimesConvertBothWaysConsistently) {
    lum::test::TempDir dir;
    std::string path = dir.File("t.avi");
    CreateFile(path, [](PAVIFILE f) {
        PAVISTREAM v = nullptr;
        AVISTREAMINFO vi = VideoInfo(0, 1001, 30000);
        ASSERT_EQ(AVIFileCreateStream(f, &v, &vi), AVIERR_OK);
        Bytes fmt = BitmapFormat(8, 8, 24, BI_RGB);
        AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        Bytes frame(8 * 8 * 3, 1);
        for (int i = 0; i < 100; ++i)
            AVIStreamWrite(v, i, 1, frame.data(), static_cast<LONG>(frame.size()), AVIIF_KEYFRAME,
                           nullptr, nullptr);
        EXPECT_EQ(AVIStreamSampleToTime(v, 1), 34); // 33.37 ms: the first whole ms inside
        EXPECT_EQ(AVIStreamTimeToSample(v, 33), 0);
        EXPECT_EQ(AVIStreamTimeToSample(v, 34), 1);
        for (LONG s = 0; s < 100; ++s)
            EXPECT_EQ(AVIStreamTimeToSample(v, AVIStreamSampleToTime(v, s)), s);
        EXPECT_EQ(AVIStreamSampleToTime(v, 0x7FFFFFFF), -1); // does not fit
        AVIStreamRelease(v);
    });
    PAVISTREAM s = nullptr;
    AVISTREAMINFO zero = VideoInfo(0, 0, 25);
    CreateFile(dir.File("z.avi"), [&](PAVIFILE f) {
        ASSERT_EQ(AVIFileCreateStream(f, &s, &zero), AVIERR_OK);
        EXPECT_EQ(AVIStreamSampleToTime(s, 5), -1);
        EXPECT_EQ(AVIStreamTimeToSample(s, 5), -1);
        AVIStreamRelease(s);
    });
}

TEST(AviRoundTrip, ExtraDataNamesAndInfoItems) {
    lum::test::TempDir dir;
    std::string path = dir.File("d.avi");
    const Bytes strd = {1, 2, 3, 4, 5};
    const char title[] = "A title";
    CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM v = nullptr;
        AVISTREAMINFO vi = VideoInfo(MakeFourCC("XXXX"), 1, 10);
        std::strcpy(vi.szName, "Camera one");
        ASSERT_EQ(AVIFileCreateStream(f, &v, &vi), AVIERR_OK);
        Bytes fmt = BitmapFormat(16, 16, 24, MakeFourCC("XXXX"));
        AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        ASSERT_EQ(AVIStreamWriteData(v, ckidSTREAMHANDLERDATA, strd.data(), 5), AVIERR_OK);
        ASSERT_EQ(AVIFileWriteData(f, MakeFourCC("INAM"), title, sizeof title), AVIERR_OK);
        EXPECT_EQ(AVIStreamWriteData(v, MakeFourCC("strf"), strd.data(), 5), AVIERR_BADPARAM);
        Bytes frame = FrameData(0);
        AVIStreamWrite(v, 0, 1, frame.data(), static_cast<LONG>(frame.size()), AVIIF_KEYFRAME,
                       nullptr, nullptr);
        AVIStreamRelease(v);
    });
    Opened o(path);
    AVISTREAMINFO vi{};
    AVIStreamInfo(o.video, &vi, sizeof vi);
    EXPECT_STREQ(vi.szName, "Camera one");
    LONG size = 0;
    ASSERT_EQ(AVIStreamReadData(o.video, ckidSTREAMHANDLERDATA, nullptr, &size), AVIERR_OK);
    ASSERT_EQ(size, 5);
    Bytes got(5);
    ASSERT_EQ(AVIStreamReadData(o.video, ckidSTREAMHANDLERDATA, got.data(), &size), AVIERR_OK);
    EXPECT_EQ(got, strd);
    size = 2;
    EXPECT_EQ(AVIStreamReadData(o.video, ckidSTREAMHANDLERDATA, got.data(), &size),
              AVIERR_BUFFERTOOSMALL);
    EXPECT_EQ(AVIStreamReadData(o.video, MakeFourCC("zzzz"), nullptr, &size), AVIERR_NODATA);
    char text[32] = {};
    size = sizeof text;
    ASSERT_EQ(AVIFileReadData(o.file, MakeFourCC("INAM"), text, &size), AVIERR_OK);
    EXPECT_STREQ(text, title);
}

TEST(AviRoundTrip, RecordsGroupChunksAndReadTheSame) {
    lum::test::TempDir dir;
    std::string path = dir.File("r.avi");
    CreateFile(path, [](PAVIFILE f) {
        PAVISTREAM v = nullptr, a = nullptr;
        AVISTREAMINFO vi = VideoInfo(MakeFourCC("XXXX"), 1, 25);
        AVIFileCreateStream(f, &v, &vi);
        Bytes fmt = BitmapFormat(8, 8, 24, MakeFourCC("XXXX"));
        AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        WAVEFORMATEX w = PcmFormat(1, 8000, 8);
        AVISTREAMINFO ai = AudioInfo(w);
        AVIFileCreateStream(f, &a, &ai);
        AVIStreamSetFormat(a, 0, &w, sizeof w);
        for (int i = 0; i < 6; ++i) {
            Bytes d = FrameData(i);
            ASSERT_EQ(AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()), AVIIF_KEYFRAME,
                                     nullptr, nullptr),
                      AVIERR_OK);
            Bytes pcm(320, static_cast<std::uint8_t>(i));
            ASSERT_EQ(AVIStreamWrite(a, i * 320, 320, pcm.data(), 320, 0, nullptr, nullptr),
                      AVIERR_OK);
            ASSERT_EQ(AVIFileEndRecord(f), AVIERR_OK);
        }
        AVIStreamRelease(v);
        AVIStreamRelease(a);
    });
    Bytes image = lum::test::ReadFile(path);
    int records = 0;
    for (std::size_t at = FindTag(image, "rec "); at != std::string::npos;
         at = FindTag(image, "rec ", at + 4))
        ++records;
    EXPECT_EQ(records, 6 + 6); // six lists in movi, six entries in idx1
    Opened o(path);
    AVIFILEINFO fi{};
    AVIFileInfo(o.file, &fi, sizeof fi);
    EXPECT_TRUE(fi.dwFlags & AVIFILEINFO_ISINTERLEAVED);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(ReadSample(o.video, i), FrameData(i));
    Bytes pcm(320);
    ASSERT_EQ(AVIStreamRead(o.audio, 5 * 320, 320, pcm.data(), 320, nullptr, nullptr), AVIERR_OK);
    EXPECT_EQ(pcm, Bytes(320, 5));
}

TEST(AviRoundTrip, PaletteChangesAreFormatChanges) {
    lum::test::TempDir dir;
    std::string path = dir.File("p.avi");
    Bytes fmt = BitmapFormat(4, 4, 8, BI_RGB, 16);
    Bytes changed = fmt;
    changed[40 + 4 * 3 + 2] = 0xEE; // red of entry 3
    changed[40 + 4 * 7 + 1] = 0x77; // green of entry 7
    CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM v = nullptr;
        AVISTREAMINFO vi = VideoInfo(0, 1, 10);
        AVIFileCreateStream(f, &v, &vi);
        ASSERT_EQ(AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size())), AVIERR_OK);
        Bytes frame(16, 2);
        for (int i = 0; i < 6; ++i) {
            if (i == 4) {
                ASSERT_EQ(
                    AVIStreamSetFormat(v, 4, changed.data(), static_cast<LONG>(changed.size())),
                    AVIERR_OK);
            }
            AVIStreamWrite(v, i, 1, frame.data(), 16, AVIIF_KEYFRAME, nullptr, nullptr);
        }
        Bytes other = BitmapFormat(8, 4, 8, BI_RGB, 16); // a different size is no palette change
        EXPECT_EQ(AVIStreamSetFormat(v, 6, other.data(), static_cast<LONG>(other.size())),
                  AVIERR_UNSUPPORTED);
        AVIStreamRelease(v);
    });
    Opened o(path);
    AVISTREAMINFO vi{};
    AVIStreamInfo(o.video, &vi, sizeof vi);
    EXPECT_EQ(vi.dwFormatChangeCount, 1u);
    EXPECT_TRUE(vi.dwFlags & AVISTREAMINFO_FORMATCHANGES);
    EXPECT_EQ(AVIStreamFindSample(o.video, 1, FIND_NEXT | FIND_FORMAT), 4);
    EXPECT_EQ(AVIStreamFindSample(o.video, 5, FIND_PREV | FIND_FORMAT), 4);
    auto format_at = [&](LONG pos) {
        Bytes b(fmt.size());
        LONG size = static_cast<LONG>(b.size());
        EXPECT_EQ(AVIStreamReadFormat(o.video, pos, b.data(), &size), AVIERR_OK);
        return b;
    };
    EXPECT_EQ(format_at(3), fmt);
    EXPECT_EQ(format_at(4), changed);
    EXPECT_EQ(format_at(5), changed);
    EXPECT_EQ(AVIStreamLength(o.video), 6); // the palette chunk is no frame
}

TEST(AviRoundTrip, WriterRefusesWhatWouldCorruptTheFile) {
    lum::test::TempDir dir;
    CreateFile(dir.File("w.avi"), [](PAVIFILE f) {
        PAVISTREAM v = nullptr, a = nullptr;
        AVISTREAMINFO vi = VideoInfo(MakeFourCC("XXXX"), 1, 25);
        ASSERT_EQ(AVIFileCreateStream(f, &v, &vi), AVIERR_OK);
        Bytes d = FrameData(0);
        auto write = [&](PAVISTREAM s, LONG pos, LONG n, LONG size) {
            return AVIStreamWrite(s, pos, n, d.data(), size, 0, nullptr, nullptr);
        };
        EXPECT_EQ(write(v, 0, 1, 10), AVIERR_BADFORMAT); // no format yet
        Bytes fmt = BitmapFormat(8, 8, 24, MakeFourCC("XXXX"));
        AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        EXPECT_EQ(write(v, 0, 1, 10), AVIERR_OK);
        EXPECT_EQ(write(v, 0, 1, 10), AVIERR_UNSUPPORTED); // no overwriting
        EXPECT_EQ(write(v, 1, 2, 10), AVIERR_BADPARAM);    // one frame a chunk
        EXPECT_EQ(write(v, 4, 1, 10), AVIERR_OK);          // 1..3 become empty frames
        EXPECT_EQ(AVIStreamLength(v), 5);
        EXPECT_EQ(AVIStreamFindSample(v, 1, FIND_SIZE), 0);
        EXPECT_EQ(write(v, 1000000, 1, 10), AVIERR_BADPARAM);

        WAVEFORMATEX w = PcmFormat(2, 8000, 16);
        AVISTREAMINFO ai = AudioInfo(w);
        ASSERT_EQ(AVIFileCreateStream(f, &a, &ai), AVIERR_OK);
        AVIStreamSetFormat(a, 0, &w, sizeof w);
        EXPECT_EQ(write(a, 0, 10, 39), AVIERR_BADSIZE); // 10 blocks need 40 bytes
        LONG n = 0, bytes = 0;
        EXPECT_EQ(AVIStreamWrite(a, 0, 9, d.data(), 39, 0, &n, &bytes), AVIERR_OK);
        EXPECT_EQ(bytes, 36);                              // whole blocks only
        EXPECT_EQ(write(a, 20, 1, 4), AVIERR_UNSUPPORTED); // no gaps in fixed-size streams
        AVIStreamRelease(v);
        AVIStreamRelease(a);
    });
    // A file opened for reading refuses writes as read-only; one opened for
    // writing cannot be changed in place and says so.
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIFileOpen(&f, dir.File("w.avi"), OF_READ | OF_SHARE_DENY_NONE), AVIERR_OK);
    PAVISTREAM s = nullptr, created = nullptr;
    AVIFileGetStream(f, &s, 0, 0);
    AVISTREAMINFO vi = VideoInfo(0, 1, 1);
    EXPECT_EQ(AVIFileCreateStream(f, &created, &vi), AVIERR_READONLY);
    EXPECT_EQ(AVIStreamWrite(s, 5, 1, &vi, 4, 0, nullptr, nullptr), AVIERR_READONLY);
    EXPECT_EQ(AVIFileEndRecord(f), AVIERR_READONLY);
    AVIStreamRelease(s);
    AVIFileRelease(f);
    ASSERT_EQ(AVIFileOpen(&f, dir.File("w.avi"), OF_READWRITE | OF_SHARE_DENY_NONE), AVIERR_OK);
    EXPECT_EQ(AVIFileWriteData(f, MakeFourCC("ICMT"), "x", 2), AVIERR_UNSUPPORTED);
    AVIFileRelease(f);
}

TEST(AviRoundTrip, DeleteTurnsWholeChunksIntoJunk) {
    lum::test::TempDir dir;
    std::string path = dir.File("del.avi");
    CreateFile(path, [](PAVIFILE f) {
        PAVISTREAM v = nullptr;
        AVISTREAMINFO vi = VideoInfo(MakeFourCC("XXXX"), 1, 25);
        AVIFileCreateStream(f, &v, &vi);
        Bytes fmt = BitmapFormat(8, 8, 24, MakeFourCC("XXXX"));
        AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        for (int i = 0; i < 10; ++i) {
            Bytes d = FrameData(i);
            AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()),
                           i % 5 == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
        }
        EXPECT_EQ(v->Delete(2, 3), AVIERR_OK);
        EXPECT_EQ(v->Delete(5, 9), AVIERR_BADPARAM);
        EXPECT_EQ(AVIStreamLength(v), 7);
        AVIStreamRelease(v);
    });
    Opened o(path);
    std::vector<int> kept = {0, 1, 5, 6, 7, 8, 9};
    ASSERT_EQ(AVIStreamLength(o.video), 7);
    for (std::size_t i = 0; i < kept.size(); ++i)
        EXPECT_EQ(ReadSample(o.video, static_cast<LONG>(i)), FrameData(kept[i]));
    EXPECT_EQ(KeyFrames(o.video), (std::vector<LONG>{0, 2}));
    // With its index gone the file still reads the same: the junk stays junk.
    Bytes image = lum::test::ReadFile(path);
    std::size_t idx = FindTag(image, "idx1");
    ASSERT_NE(idx, std::string::npos);
    std::memcpy(&image[idx], "JUNK", 4);
    PAVIFILE f = nullptr;
    ASSERT_EQ(OpenImage(image, &f), AVIERR_OK);
    PAVISTREAM s = nullptr;
    AVIFileGetStream(f, &s, 0, 0);
    EXPECT_EQ(AVIStreamLength(s), 7);
    EXPECT_EQ(ReadSample(s, 2), FrameData(5));
    AVIStreamRelease(s);
    AVIFileRelease(f);
}

TEST(AviRoundTrip, HeaderThatGrowsAfterDataMovesTheData) {
    lum::test::TempDir dir;
    std::string path = dir.File("grow.avi");
    Bytes big(6000, 0x5A); // more than the header's slack
    CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM v = nullptr, late = nullptr;
        AVISTREAMINFO vi = VideoInfo(MakeFourCC("XXXX"), 1, 25);
        AVIFileCreateStream(f, &v, &vi);
        Bytes fmt = BitmapFormat(8, 8, 24, MakeFourCC("XXXX"));
        AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        for (int i = 0; i < 8; ++i) {
            Bytes d = FrameData(i);
            AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()), AVIIF_KEYFRAME, nullptr,
                           nullptr);
        }
        ASSERT_EQ(
            AVIFileWriteData(f, MakeFourCC("ICMT"), big.data(), static_cast<LONG>(big.size())),
            AVIERR_OK);
        AVISTREAMINFO li = VideoInfo(MakeFourCC("YYYY"), 1, 5);
        ASSERT_EQ(AVIFileCreateStream(f, &late, &li), AVIERR_OK);
        Bytes lf = BitmapFormat(4, 4, 24, MakeFourCC("YYYY"));
        AVIStreamSetFormat(late, 0, lf.data(), static_cast<LONG>(lf.size()));
        Bytes d = FrameData(99);
        AVIStreamWrite(late, 0, 1, d.data(), static_cast<LONG>(d.size()), AVIIF_KEYFRAME, nullptr,
                       nullptr);
        // Reading while writing sees the moved data.
        EXPECT_EQ(ReadSample(v, 7), FrameData(7));
        AVIStreamRelease(v);
        AVIStreamRelease(late);
    });
    Opened o(path);
    AVIFILEINFO fi{};
    AVIFileInfo(o.file, &fi, sizeof fi);
    EXPECT_EQ(fi.dwStreams, 2u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(ReadSample(o.video, i), FrameData(i));
    PAVISTREAM late = nullptr;
    ASSERT_EQ(AVIFileGetStream(o.file, &late, 0, 1), AVIERR_OK);
    EXPECT_EQ(ReadSample(late, 0), FrameData(99));
    AVIStreamRelease(late);
    LONG size = 0;
    ASSERT_EQ(AVIFileReadData(o.file, MakeFourCC("ICMT"), nullptr, &size), AVIERR_OK);
    EXPECT_EQ(size, 6000);
}

TEST(AviRoundTrip, OpenDmlSegmentsIndexesAndTheirLoss) {
    lum::test::TempDir dir;
    std::string path = dir.File("odml.avi");
    const int frames = 300;
    CreateFile(path, [&](PAVIFILE f) {
        // Small segments make the OpenDML structure without a gigabyte.
        static_cast<AviFile*>(f)->SetMaxRiffSize(8 * 1024);
        PAVISTREAM v = nullptr, a = nullptr;
        AVISTREAMINFO vi = VideoInfo(MakeFourCC("XXXX"), 1, 25);
        AVIFileCreateStream(f, &v, &vi);
        Bytes fmt = BitmapFormat(8, 8, 24, MakeFourCC("XXXX"));
        AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        WAVEFORMATEX w = PcmFormat(1, 8000, 16);
        AVISTREAMINFO ai = AudioInfo(w);
        AVIFileCreateStream(f, &a, &ai);
        AVIStreamSetFormat(a, 0, &w, sizeof w);
        for (int i = 0; i < frames; ++i) {
            Bytes d = FrameData(i);
            AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()),
                           i % 5 == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
            Bytes pcm(20, static_cast<std::uint8_t>(i));
            AVIStreamWrite(a, i * 10, 10, pcm.data(), 20, 0, nullptr, nullptr);
        }
        EXPECT_GT(static_cast<AviFile*>(f)->SegmentCount(), 5u);
        AVIStreamRelease(v);
        AVIStreamRelease(a);
    });
    Bytes image = lum::test::ReadFile(path);
    EXPECT_NE(FindTag(image, "AVIX"), std::string::npos);
    EXPECT_NE(FindTag(image, "indx"), std::string::npos);
    EXPECT_NE(FindTag(image, "ix00"), std::string::npos);

    auto check = [&](const Bytes& img, const char* what) {
        SCOPED_TRACE(what);
        PAVIFILE f = nullptr;
        ASSERT_EQ(OpenImage(img, &f), AVIERR_OK);
        PAVISTREAM v = nullptr, a = nullptr;
        AVIFileGetStream(f, &v, streamtypeVIDEO, 0);
        AVIFileGetStream(f, &a, streamtypeAUDIO, 0);
        ASSERT_EQ(AVIStreamLength(v), frames);
        EXPECT_EQ(AVIStreamLength(a), frames * 10);
        for (int i = 0; i < frames; i += 37)
            EXPECT_EQ(ReadSample(v, i), FrameData(i));
        EXPECT_EQ(ReadSample(v, frames - 1), FrameData(frames - 1));
        EXPECT_EQ(KeyFrames(v).size(), static_cast<std::size_t>(frames / 5));
        Bytes pcm(20);
        AVIStreamRead(a, (frames - 1) * 10, 10, pcm.data(), 20, nullptr, nullptr);
        EXPECT_EQ(pcm, Bytes(20, static_cast<std::uint8_t>(frames - 1)));
        AVIStreamRelease(v);
        AVIStreamRelease(a);
        AVIFileRelease(f);
    };
    check(image, "with the OpenDML indexes");
    // Without the super index the file is scanned; the key flags survive
    // in the standard indexes that are still there.
    Bytes no_super = image;
    for (std::size_t at = FindTag(no_super, "indx"); at != std::string::npos;
         at = FindTag(no_super, "indx", at + 4))
        std::memcpy(&no_super[at], "JUNK", 4);
    check(no_super, "without the super index");
}
