// Damaged and hostile AVI input, opened from memory: what still reads, and
// that no size field makes the reader allocate or read past the file.
#include <gtest/gtest.h>

#include "avi_fixtures.h"

using namespace lum::vfwtest;

namespace {

Bytes MakeImage(int frames, bool audio, DWORD compression = MakeFourCC("XXXX")) {
    lum::test::TempDir dir;
    WriteTestAvi(dir.File("x.avi"), frames, audio, false, compression);
    return lum::test::ReadFile(dir.File("x.avi"));
}

// Frames an MPEG-4 part 2 decoder would see: I-VOPs every fifth frame.
Bytes Mpeg4Image(int frames) {
    lum::test::TempDir dir;
    std::string path = dir.File("m.avi");
    CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM v = nullptr;
        AVISTREAMINFO vi = VideoInfo(MakeFourCC("XVID"), 1, 25);
        AVIFileCreateStream(f, &v, &vi);
        Bytes fmt = BitmapFormat(16, 16, 12, MakeFourCC("XVID"));
        AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        for (int i = 0; i < frames; ++i) {
            Bytes d = {0, 0, 1, 0xB6, static_cast<std::uint8_t>(i % 5 == 0 ? 0x10 : 0x50), 1, 2, 3};
            AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()),
                           i % 5 == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
        }
        AVIStreamRelease(v);
    });
    return lum::test::ReadFile(path);
}

struct Read {
    HRESULT open = -1;
    LONG video = -1;
    LONG audio = -1;
    std::vector<LONG> keys;
    std::vector<Bytes> frames;
    Bytes format;
    AVIFILEINFO info{};
    AVISTREAMINFO video_info{};
};

Read ReadImage(const Bytes& image) {
    Read r;
    PAVIFILE f = nullptr;
    r.open = OpenImage(image, &f);
    if (r.open != AVIERR_OK) return r;
    AVIFileInfo(f, &r.info, sizeof r.info);
    PAVISTREAM v = nullptr, a = nullptr;
    if (AVIFileGetStream(f, &v, streamtypeVIDEO, 0) == AVIERR_OK) {
        r.video = AVIStreamLength(v);
        r.keys = KeyFrames(v);
        AVIStreamInfo(v, &r.video_info, sizeof r.video_info);
        for (LONG i = 0; i < r.video; ++i)
            r.frames.push_back(ReadSample(v, i));
        LONG size = 0;
        AVIStreamReadFormat(v, 0, nullptr, &size);
        r.format.resize(static_cast<std::size_t>(size));
        AVIStreamReadFormat(v, 0, r.format.data(), &size);
        AVIStreamRelease(v);
    }
    if (AVIFileGetStream(f, &a, streamtypeAUDIO, 0) == AVIERR_OK) {
        r.audio = AVIStreamLength(a);
        AVIStreamRelease(a);
    }
    AVIFileRelease(f);
    return r;
}

void Rename(Bytes& image, const char* from, const char* to) {
    std::size_t at = FindTag(image, from);
    ASSERT_NE(at, std::string::npos) << from;
    std::memcpy(&image[at], to, 4);
}

} // namespace

TEST(AviDamage, ContentDecidesTheHandler) {
    EXPECT_EQ(ReadImage({}).open, AVIERR_UNSUPPORTED);
    EXPECT_EQ(ReadImage(Bytes(100, 0x41)).open, AVIERR_UNSUPPORTED);
    Bytes riff = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '};
    EXPECT_EQ(ReadImage(riff).open, AVIERR_BADFORMAT); // an AVI without headers
    Bytes other = riff;
    std::memcpy(&other[8], "CDXA", 4);
    EXPECT_EQ(ReadImage(other).open, AVIERR_UNSUPPORTED);
}

TEST(AviDamage, MissingIndexIsRebuiltWithKeyFramesFromTheBitstream) {
    Bytes image = Mpeg4Image(23);
    Read whole = ReadImage(image);
    ASSERT_EQ(whole.video, 23);
    Bytes no_index = image;
    Rename(no_index, "idx1", "JUNK");
    Read scanned = ReadImage(no_index);
    EXPECT_EQ(scanned.frames, whole.frames);
    EXPECT_EQ(scanned.keys, whole.keys);
    EXPECT_EQ(scanned.keys, (std::vector<LONG>{0, 5, 10, 15, 20}));
}

TEST(AviDamage, IndexWithAbsoluteOffsetsIsDetected) {
    Bytes image = MakeImage(12, true);
    std::size_t idx = FindTag(image, "idx1");
    std::size_t movi = FindTag(image, "movi");
    std::uint32_t n = Le32(image, idx + 4) / 16;
    for (std::uint32_t k = 0; k < n; ++k) {
        std::size_t e = idx + 8 + 16 * k;
        SetLe32(image, e + 8, Le32(image, e + 8) + static_cast<std::uint32_t>(movi));
    }
    Read r = ReadImage(image);
    EXPECT_EQ(r.video, 12);
    EXPECT_EQ(r.audio, 12 * 320);
    EXPECT_EQ(r.keys, (std::vector<LONG>{0, 5, 10}));
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(r.frames[static_cast<std::size_t>(i)], FrameData(i));
}

TEST(AviDamage, IndexPointingElsewhereFallsBackToTheScan) {
    Bytes image = MakeImage(12, true);
    std::size_t idx = FindTag(image, "idx1");
    std::uint32_t n = Le32(image, idx + 4) / 16;
    // Entries from the middle on point into sample data.
    for (std::uint32_t k = n / 2; k < n; ++k)
        SetLe32(image, idx + 8 + 16 * k + 8, 40 + k);
    Read r = ReadImage(image);
    EXPECT_EQ(r.video, 12);
    EXPECT_EQ(r.audio, 12 * 320);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(r.frames[static_cast<std::size_t>(i)], FrameData(i));
    // Key flags of the entries that still matched survive.
    ASSERT_FALSE(r.keys.empty());
    EXPECT_EQ(r.keys.front(), 0);
}

TEST(AviDamage, TruncationKeepsEveryWholeSample) {
    const Bytes image = MakeImage(30, true);
    Read whole = ReadImage(image);
    ASSERT_EQ(whole.video, 30);
    std::size_t movi = FindTag(image, "movi");
    // Where each frame's data ends in the file.
    std::vector<std::size_t> ends;
    for (std::size_t at = FindTag(image, "00dc", movi);
         at != std::string::npos && at < FindTag(image, "idx1");
         at = FindTag(image, "00dc", at + 4))
        ends.push_back(at + 8 + Le32(image, at + 4));
    ASSERT_EQ(ends.size(), 30u);
    for (std::size_t cut = movi + 100; cut < image.size(); cut += 211) {
        Bytes part(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut));
        Read r = ReadImage(part);
        ASSERT_EQ(r.open, AVIERR_OK) << cut;
        auto expected = static_cast<LONG>(
            std::count_if(ends.begin(), ends.end(), [&](std::size_t e) { return e <= cut; }));
        EXPECT_EQ(r.video, expected) << cut;
        for (LONG i = 0; i < r.video; ++i)
            ASSERT_EQ(r.frames[static_cast<std::size_t>(i)],
                      whole.frames[static_cast<std::size_t>(i)]);
    }
    // A cut inside the first stream header leaves a stream with no type
    // and no samples, and no video stream.
    Bytes header_only(image.begin(), image.begin() + 100);
    Read r = ReadImage(header_only);
    EXPECT_EQ(r.open, AVIERR_OK);
    EXPECT_EQ(r.video, -1);
    EXPECT_EQ(r.info.dwStreams, 1u);
}

TEST(AviDamage, GarbageInsideMoviIsSkipped) {
    Bytes image = MakeImage(10, false);
    Rename(image, "idx1", "JUNK");
    // Overwrite the header of frame 4 with noise.
    std::size_t at = FindTag(image, "movi");
    for (int k = 0; k <= 4; ++k)
        at = FindTag(image, "00dc", at + 4);
    for (int k = 0; k < 8; ++k)
        image[at + k] = static_cast<std::uint8_t>(0xF0 + k);
    Read r = ReadImage(image);
    ASSERT_EQ(r.video, 9);
    EXPECT_EQ(r.frames[3], FrameData(3));
    EXPECT_EQ(r.frames[4], FrameData(5));
    EXPECT_EQ(r.frames[8], FrameData(9));
}

TEST(AviDamage, OddChunksWithoutPaddingAreFound) {
    // Frame sizes vary between odd and even; strip every pad byte.
    Bytes image = MakeImage(8, false);
    Rename(image, "idx1", "JUNK");
    std::size_t movi = FindTag(image, "movi");
    Bytes out(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(movi + 4));
    std::size_t pos = movi + 4;
    while (pos + 8 <= image.size()) {
        std::uint32_t size = Le32(image, pos + 4);
        out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(pos),
                   image.begin() +
                       static_cast<std::ptrdiff_t>(std::min(image.size(), pos + 8 + size)));
        pos += 8 + size + (size & 1);
    }
    SetLe32(out, 4, static_cast<std::uint32_t>(out.size() - 8));
    SetLe32(out, movi - 4, static_cast<std::uint32_t>(out.size() - movi));
    Read r = ReadImage(out);
    ASSERT_EQ(r.video, 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(r.frames[static_cast<std::size_t>(i)], FrameData(i));
}

TEST(AviDamage, SizeFieldsNeverReachPastTheFile) {
    Bytes image = MakeImage(5, true);
    // avih: a suggested buffer of 4 GB; strh: the same; strf: a size past
    // the end of the file; the audio format's cbSize: more than it has.
    std::size_t avih = FindTag(image, "avih");
    SetLe32(image, avih + 8 + 28, 0xFFFFFFF0);
    std::size_t strh = FindTag(image, "strh");
    SetLe32(image, strh + 8 + 36, 0xFFFFFFF0);
    std::size_t strh2 = FindTag(image, "strh", strh + 4);
    std::size_t strf2 = FindTag(image, "strf", strh2);
    image[strf2 + 8 + 16] = 0xFF;
    image[strf2 + 8 + 17] = 0xFF;
    Read r = ReadImage(image);
    ASSERT_EQ(r.open, AVIERR_OK);
    EXPECT_LE(r.info.dwSuggestedBufferSize, image.size());
    EXPECT_LE(r.video_info.dwSuggestedBufferSize, image.size());
    EXPECT_EQ(r.video, 5);
    PAVIFILE f = nullptr;
    ASSERT_EQ(OpenImage(image, &f), AVIERR_OK);
    PAVISTREAM a = nullptr;
    ASSERT_EQ(AVIFileGetStream(f, &a, streamtypeAUDIO, 0), AVIERR_OK);
    LONG size = 0;
    AVIStreamReadFormat(a, 0, nullptr, &size);
    Bytes fmt(static_cast<std::size_t>(size));
    AVIStreamReadFormat(a, 0, fmt.data(), &size);
    ASSERT_GE(fmt.size(), 18u);
    EXPECT_LE(18u + (fmt[16] | (fmt[17] << 8)), fmt.size()); // cbSize says no more than is there
    AVIStreamRelease(a);
    AVIFileRelease(f);

    // A format chunk that claims to run past the end is cut at it.
    Bytes cut = MakeImage(3, false);
    std::size_t strf = FindTag(cut, "strf");
    SetLe32(cut, strf + 4, 0x7FFFFFF0);
    Read c = ReadImage(cut);
    EXPECT_EQ(c.open, AVIERR_OK);
    EXPECT_LE(c.format.size(), cut.size());
}

TEST(AviDamage, AnIndexWithoutKeyFramesStillGivesAStart) {
    Bytes image = MakeImage(6, false);
    std::size_t idx = FindTag(image, "idx1");
    std::uint32_t n = Le32(image, idx + 4) / 16;
    for (std::uint32_t k = 0; k < n; ++k)
        SetLe32(image, idx + 8 + 16 * k + 4, 0);
    EXPECT_EQ(ReadImage(image).keys, (std::vector<LONG>{0}));
}

TEST(AviDamage, FuzzedBytesNeverCrash) {
    // Flipping bytes all over a valid file: every open either fails cleanly
    // or gives samples that read within the image.
    const Bytes image = MakeImage(8, true);
    std::uint32_t seed = 12345;
    for (int round = 0; round < 300; ++round) {
        Bytes b = image;
        for (int k = 0; k < 6; ++k) {
            seed = seed * 1103515245 + 12345;
            b[(seed >> 8) % b.size()] = static_cast<std::uint8_t>(seed >> 24);
        }
        Read r = ReadImage(b);
        if (r.open == AVIERR_OK) {
            std::size_t total = 0;
            for (const auto& fr : r.frames)
                total += fr.size();
            EXPECT_LE(total, b.size());
        }
    }
}
