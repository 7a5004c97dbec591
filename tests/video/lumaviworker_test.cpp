// The video worker: reading states and their messages, streams that outlive
// their file, formats, raw samples and the buffer growth rule, writing DIB
// frames, and the compressing constructor.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/vfw/avi_fixtures.h"
#include "support/raised.h"
#include "video/lumaviworker.h"

using namespace lum;
using lum::test::Raised;
namespace vt = lum::vfwtest;

namespace {

// A 4 x 2 uncompressed 24-bit stream whose frame I is filled with byte I,
// or a stream of compression Codec with small opaque frames.
std::string MakeVideo(const lum::test::TempDir& dir, const std::string& name, int frames,
                      DWORD codec = 0) {
    std::string path = dir.File(name);
    vt::CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM v = nullptr;
        TAVIStreamInfo vi = vt::VideoInfo(codec, 1, 25);
        ASSERT_EQ(platform::vfw::AVIFileCreateStream(f, &v, &vi), 0);
        vt::Bytes fmt = vt::BitmapFormat(4, 2, 24, codec);
        platform::vfw::AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        for (int i = 0; i < frames; ++i) {
            vt::Bytes d = codec ? vt::FrameData(i) : vt::Bytes(24, static_cast<std::uint8_t>(i));
            platform::vfw::AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()),
                                          platform::vfw::AVIIF_KEYFRAME, nullptr, nullptr);
        }
        platform::vfw::AVIStreamRelease(v);
    });
    return path;
}

struct OpenFile {
    TLumAVIFile file;
    explicit OpenFile(const std::string& path) {
        file.SetFileName(path);
        file.OpenFile();
    }
    TLumAVIStream* Video() { return file.GetTypedStreams(stVideo, 0); }
};

} // namespace

TEST(TLumAVIVideoWorker, ReadingStatesAndTheirMessages) {
    lum::test::TempDir dir;
    OpenFile f(MakeVideo(dir, "a.avi", 5));
    TLumAVIVideoWorker w(f.Video());
    EXPECT_EQ(Raised([&] { w.GetDIB(0); }), "Not reading now");
    w.BeginReading();
    EXPECT_TRUE(w.GetReading());
    PBitmapInfoHeader first = w.GetDIB(1);
    EXPECT_EQ(first->biBitCount, 24);
    EXPECT_EQ(static_cast<std::uint8_t*>(DIB_Ptr(first))[0], 1);
    // The decoder owns its DIB: the next call refills it.
    PBitmapInfoHeader second = w.GetDIB(3);
    EXPECT_EQ(static_cast<std::uint8_t*>(DIB_Ptr(second))[5], 3);
    EXPECT_EQ(Raised([&] { w.GetDIB(5); }), "Failed getting frame");
    EXPECT_EQ(Raised([&] { w.GetDIB(-1); }), "Failed getting frame");
    EXPECT_TRUE(w.GetReading()); // a failed frame leaves the decoder open
    EXPECT_EQ(static_cast<std::uint8_t*>(DIB_Ptr(w.GetDIB(4)))[0], 4);
    w.EndReading();
    w.EndReading();
    EXPECT_FALSE(w.GetReading());
    EXPECT_EQ(w.GetDecoder(), nullptr);
    EXPECT_EQ(Raised([&] { w.GetDIB(0); }), "Not reading now");

    // A wanted format: 16 bits of the same frame.
    TBitmapInfoHeader want{40, 4, 2, 1, 16, 0, 0, 0, 0, 0, 0};
    w.BeginReading(&want);
    EXPECT_EQ(w.GetDIB(2)->biBitCount, 16);
    w.BeginReading(); // a second call replaces the decoder
    EXPECT_EQ(w.GetDIB(2)->biBitCount, 24);
}

TEST(TLumAVIVideoWorker, NoStreamAndNoCodecRaiseAndStayIdle) {
    TLumAVIVideoWorker none(nullptr);
    EXPECT_EQ(Raised([&] { none.BeginReading(); }), "Stream not opened");
    EXPECT_EQ(Raised([&] { none.GetFormat(0); }), "Stream not opened");
    EXPECT_EQ(Raised([&] { none.GetRawSample(0); }), "Stream not opened");
    EXPECT_FALSE(none.GetReading());

    lum::test::TempDir dir;
    OpenFile f(MakeVideo(dir, "x.avi", 3, platform::MakeFourCC("QQQQ")));
    TLumAVIVideoWorker w(f.Video());
    EXPECT_EQ(Raised([&] { w.BeginReading(); }), "Can't create image decompressor");
    EXPECT_FALSE(w.GetReading());
    TBitmapInfoHeader want{40, 9, 9, 1, 24, 0, 0, 0, 0, 0, 0}; // not the stream's size
    OpenFile g(MakeVideo(dir, "y.avi", 3));
    TLumAVIVideoWorker v(g.Video());
    EXPECT_EQ(Raised([&] { v.BeginReading(&want); }), "Can't create image decompressor");

    // A stream without a handle.
    auto* empty = new TLumAVIStream();
    TLumAVIVideoWorker e(empty);
    empty->Release();
    EXPECT_EQ(Raised([&] { e.BeginReading(); }), "Stream not opened");
}

TEST(TLumAVIVideoWorker, HeldStreamOutlivesItsFile) {
    lum::test::TempDir dir;
    OpenFile f(MakeVideo(dir, "a.avi", 3));
    TLumAVIStream* s = f.Video();
    auto w = std::make_unique<TLumAVIVideoWorker>(s);
    EXPECT_EQ(s->GetRefCount(), 2);
    w->BeginReading();
    f.file.CloseFile(); // the list lets go; the worker's reference remains
    EXPECT_EQ(s->GetRefCount(), 1);
    EXPECT_EQ(static_cast<std::uint8_t*>(DIB_Ptr(w->GetDIB(2)))[0], 2);
    w.reset(); // closes the decoder and destroys the stream with the file's last reference
    // The file is free again: an exclusive open succeeds.
    TLumAVIFile again;
    again.SetFileName(dir.File("a.avi"));
    EXPECT_NO_THROW(again.OpenFile());
}

TEST(TLumAVIVideoWorker, FormatsAndRawSamplesWithBufferGrowth) {
    lum::test::TempDir dir;
    OpenFile f(MakeVideo(dir, "r.avi", 12, platform::MakeFourCC("QQQQ")));
    TLumAVIStream* s = f.Video();
    TLumAVIVideoWorker w(s);
    PBitmapInfoHeader fmt = w.GetFormat(0);
    EXPECT_EQ(fmt->biWidth, 4);
    EXPECT_EQ(w.GetFormatCapacity(), 40u);
    w.FreeFormat();
    EXPECT_EQ(w.GetFormatCapacity(), 0u);

    // Below the suggested size the buffer takes that size, above it twice
    // the sample.
    s->SetSuggestedBufferSize(100);
    ASSERT_LT(w.GetRawSampleSize(0), 100);
    const vt::Bytes zero = vt::FrameData(0);
    EXPECT_EQ(std::memcmp(w.GetRawSample(0), zero.data(), zero.size()), 0);
    EXPECT_EQ(w.GetRawCapacity(), 100u);
    const LONG big = w.GetRawSampleSize(3); // 37 + 159 bytes
    ASSERT_GT(big, 100);
    const vt::Bytes three = vt::FrameData(3);
    EXPECT_EQ(std::memcmp(w.GetRawSample(3), three.data(), three.size()), 0);
    EXPECT_EQ(w.GetRawCapacity(), 2u * static_cast<std::size_t>(big));
    w.GetRawSample(0); // fits: the buffer stays
    EXPECT_EQ(w.GetRawCapacity(), 2u * static_cast<std::size_t>(big));
    w.FreeRaw();
    EXPECT_EQ(w.GetRawCapacity(), 0u);
    EXPECT_DOUBLE_EQ(static_cast<double>(w.GetFrameRate()), 25.0);
}

TEST(TLumAVIVideoWorker, SetDibWritesFramesThatReadBack) {
    lum::test::TempDir dir;
    std::string path = dir.File("w.avi");
    {
        TLumAVIFile file;
        file.SetFileName(path);
        file.SetAccessMode(amReadWrite);
        file.CreateFile();
        TLumAVIStream* s = file.CreateVideoStream(10, "frames");
        TLumAVIVideoWorker w(s);
        s->Release();
        for (int i = 0; i < 3; ++i) {
            PBitmapInfoHeader dib = DIB_Create(8, 1, 3, 2, true);
            std::memset(DIB_Ptr(dib), i + 1, DIB_SizeImage(dib));
            w.SetDIB(i, dib);
            DIB_Free(dib);
        }
    }
    OpenFile f(path);
    TLumAVIVideoWorker r(f.Video());
    EXPECT_EQ(r.GetFormat(0)->biClrUsed, 256u);
    r.BeginReading();
    PBitmapInfoHeader dib = r.GetDIB(2);
    EXPECT_EQ(dib->biBitCount, 8); // the source's own format
    EXPECT_EQ(static_cast<std::uint8_t*>(DIB_Ptr(dib))[4], 3);
    EXPECT_EQ(f.Video()->GetLength(), 3);
    EXPECT_TRUE(f.Video()->IsKeyFrame(1));
}

TEST(TLumAVIVideoWorker, CompressingConstructor) {
    lum::test::TempDir dir;
    OpenFile f(MakeVideo(dir, "c.avi", 2));
    TAVICompressOptions options{};
    TLumAVIVideoWorker plain(f.Video(), options); // no handler: the stream itself
    EXPECT_EQ(plain.GetStream(), f.Video());
    options.fccHandler = platform::MakeFourCC("ZZZZ");
    EXPECT_EQ(Raised([&] { TLumAVIVideoWorker w(f.Video(), options); }),
              "AVI error (80044071): No compressor");
    EXPECT_EQ(f.Video()->GetRefCount(), 2); // the plain worker's reference only

    // Frames written through a compressing worker land compressed.
    const std::string out = dir.File("mjpg.avi");
    {
        TLumAVIFile file;
        file.SetFileName(out);
        file.SetAccessMode(amReadWrite);
        file.CreateFile();
        TLumAVIStream* stream = file.CreateVideoStream(25, "Video");
        options.fccHandler = platform::MakeFourCC("MJPG");
        TLumAVIVideoWorker w(stream, options);
        // 16 x 16 frames of one grey, brighter each frame.
        std::vector<std::uint8_t> dib(40 + 16 * 16 * 3);
        TBitmapInfoHeader head{40, 16, 16, 1, 24, 0, 0, 0, 0, 0, 0};
        std::memcpy(dib.data(), &head, 40);
        for (int i = 0; i < 3; ++i) {
            std::memset(dib.data() + 40, 60 + 60 * i, 16 * 16 * 3);
            w.SetDIB(i, reinterpret_cast<TBitmapInfoHeader*>(dib.data()));
        }
        stream->Release();
    }
    OpenFile saved(out);
    TAVIStreamInfo info;
    saved.Video()->GetStreamInfo(info);
    EXPECT_EQ(saved.Video()->GetLength(), 3);
    std::vector<std::uint8_t> format(static_cast<std::size_t>(saved.Video()->GetFormatSize(0)));
    saved.Video()->GetFormat(0, format.data(), static_cast<LONG>(format.size()));
    EXPECT_EQ(vt::Le32(format, 16), platform::MakeFourCC("MJPG"));
    TLumAVIVideoWorker reader(saved.Video());
    reader.BeginReading();
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(static_cast<std::uint8_t*>(DIB_Ptr(reader.GetDIB(i)))[0], 60 + 60 * i, 4);
}
