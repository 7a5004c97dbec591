// Lumavi: error texts, the file component's life with its streams, the
// stream queries with their rewrites, reading and writing, and the shared
// temporary file of AVICreateStream.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/base/system.h"
#include "platform/vfw/avi_fixtures.h"
#include "support/raised.h"
#include "video/lumavi.h"

using namespace lum;
using lum::test::Raised;
namespace vt = lum::vfwtest;
using platform::MakeFourCC;
using platform::vfw::AVIERR_NODATA;

namespace {

// A 250-frame video stream (compression given) and a PCM stream.
std::string MakeFile(const lum::test::TempDir& dir, const std::string& name, DWORD handler,
                     DWORD compression, DWORD scale = 1, DWORD rate = 25, int frames = 250) {
    std::string path = dir.File(name);
    vt::CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM v = nullptr, a = nullptr;
        TAVIStreamInfo vi = vt::VideoInfo(handler, scale, rate);
        ASSERT_EQ(platform::vfw::AVIFileCreateStream(f, &v, &vi), 0);
        vt::Bytes fmt = vt::BitmapFormat(8, 8, 24, compression);
        platform::vfw::AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        platform::WAVEFORMATEX w = vt::PcmFormat(1, 8000, 16);
        TAVIStreamInfo ai = vt::AudioInfo(w);
        ai.fccHandler = 1; // as ffmpeg writes it: the format tag
        platform::vfw::AVIFileCreateStream(f, &a, &ai);
        platform::vfw::AVIStreamSetFormat(a, 0, &w, sizeof w);
        for (int i = 0; i < frames; ++i) {
            vt::Bytes d = vt::FrameData(i);
            platform::vfw::AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()),
                                          i % 10 == 0 ? platform::vfw::AVIIF_KEYFRAME : 0, nullptr,
                                          nullptr);
            vt::Bytes pcm(640, static_cast<std::uint8_t>(i));
            platform::vfw::AVIStreamWrite(a, i * 320, 320, pcm.data(), 640, 0, nullptr, nullptr);
        }
        platform::vfw::AVIStreamRelease(v);
        platform::vfw::AVIStreamRelease(a);
    });
    return path;
}

} // namespace

TEST(AVICheck, MessageFormatAndTable) {
    EXPECT_NO_THROW(AVICheck(0));
    EXPECT_EQ(Raised([] { AVICheck(AVIERR_NODATA); }), "AVI error (80044073): No data");
    EXPECT_EQ(Raised([] { AVICheck(5); }), "AVI error (       5): Unknown error");
    EXPECT_EQ(Raised([] { AVICheck(static_cast<HRESULT>(0x800440C6)); }),
              "AVI error (800440C6): User abort");
    EXPECT_EQ(AVIGetErrorString(static_cast<HRESULT>(0x80044075)), "Can't compress");
    EXPECT_EQ(AVIGetErrorString(static_cast<HRESULT>(0x80044064)), "Unknown error");
    EXPECT_EQ(AVICheckExcl(0, {}), 0);
    EXPECT_EQ(AVICheckExcl(AVIERR_NODATA, {AVIERR_NODATA}), AVIERR_NODATA);
    EXPECT_THROW(AVICheckExcl(AVIERR_NODATA, {}), ELumAVIError);
}

TEST(TLumAVIFile, ClosedFileRaisesOnEveryStreamQuery) {
    TLumAVIFile file;
    EXPECT_FALSE(file.Opened());
    EXPECT_EQ(Raised([&] { file.GetStreamCount(); }), "File not opened");
    EXPECT_EQ(Raised([&] { file.GetTypedStreamCount(stVideo); }), "File not opened");
    EXPECT_EQ(Raised([&] { file.GetStreams(0); }), "File not opened");
    EXPECT_EQ(Raised([&] { file.GetPFile(); }), "File not opened");
    EXPECT_EQ(file.GetOpenFlags(), 0x10u); // exclusive, read only
    file.SetShareMode(smReadWrite);
    file.SetAccessMode(amReadWrite);
    EXPECT_EQ(file.GetOpenFlags(), 0x42u);
}

TEST(TLumAVIFile, FailedOpensLeaveNoFile) {
    lum::test::TempDir dir;
    std::string path = MakeFile(dir, "a.avi", MakeFourCC("XXXX"), MakeFourCC("XXXX"));
    TLumAVIFile file;
    file.SetFileName(path);
    file.OpenFile();
    ASSERT_TRUE(file.Opened());
    file.SetFileName(dir.File("missing.avi"));
    EXPECT_FALSE(file.Opened()); // a new name closes the old file
    EXPECT_EQ(Raised([&] { file.OpenFile(); }), "AVI error (8004406F): Error opening file");
    EXPECT_FALSE(file.Opened());

    // Held exclusively by one component, the file does not open in another.
    TLumAVIFile holder, other;
    holder.SetFileName(path);
    holder.OpenFile();
    other.SetFileName(path);
    other.SetShareMode(smReadWrite);
    EXPECT_EQ(Raised([&] { other.OpenFile(); }), "AVI error (8004406F): Error opening file");
    EXPECT_FALSE(other.Opened());
    holder.CloseFile();
    EXPECT_NO_THROW(other.OpenFile());
}

TEST(TLumAVIFile, StreamsInFileOrderByTypeAndByIndex) {
    lum::test::TempDir dir;
    TLumAVIFile file;
    file.SetFileName(MakeFile(dir, "b.avi", MakeFourCC("XXXX"), MakeFourCC("XXXX")));
    file.OpenFile();
    EXPECT_EQ(file.GetStreamCount(), 2);
    EXPECT_FALSE(file.GetEmpty());
    EXPECT_EQ(file.GetTypedStreamCount(stVideo), 1);
    EXPECT_EQ(file.GetTypedStreamCount(stAudio), 1);
    EXPECT_EQ(file.GetTypedStreamCount(stText), 0);
    EXPECT_EQ(file.GetTypedStreams(stAudio, 0), file.GetStreams(1));
    EXPECT_EQ(file.GetTypedStreams(stVideo, 1), nullptr);
    EXPECT_EQ(file.GetTypedStreams(stMidi, 0), nullptr);
    EXPECT_THROW(file.GetStreams(2), EListError);
    EXPECT_THROW(file.GetStreams(-1), EListError);
    TAVIFileInfo info;
    file.GetFileInfo(info);
    EXPECT_EQ(file.GetStreams(0)->GetSuggestedBufferSize(),
              static_cast<LONG>(info.dwSuggestedBufferSize));

    // A wave file: one audio stream and no video at all.
    lum::vfwtest::Bytes wav = {'R',  'I',  'F', 'F', 40,   0,    0, 0, 'W', 'A', 'V', 'E',
                               'f',  'm',  't', ' ', 16,   0,    0, 0, 1,   0,   1,   0,
                               0x40, 0x1F, 0,   0,   0x80, 0x3E, 0, 0, 2,   0,   16,  0,
                               'd',  'a',  't', 'a', 4,    0,    0, 0, 1,   2,   3,   4};
    lum::test::WriteFile(dir.File("w.wav"), wav);
    file.SetFileName(dir.File("w.wav"));
    file.OpenFile();
    EXPECT_EQ(file.GetTypedStreamCount(stVideo), 0);
    EXPECT_EQ(file.GetTypedStreams(stVideo, 0), nullptr);
    EXPECT_EQ(file.GetTypedStreams(stAudio, 0)->GetLength(), 2);
}

TEST(TLumAVIFile, SetFileNameAndStreamsHeldByOthers) {
    lum::test::TempDir dir;
    std::string path = MakeFile(dir, "c.avi", MakeFourCC("XXXX"), MakeFourCC("XXXX"));
    TLumAVIFile file;
    file.SetFileName(path);
    file.OpenFile();
    PAVIFILE handle = file.GetPFile();
    TLumAVIStream* video = file.GetTypedStreams(stVideo, 0);
    video->AddRef(); // held by a worker
    EXPECT_EQ(video->GetRefCount(), 2);
    file.SetFileName(path);
    EXPECT_TRUE(file.Opened());
    EXPECT_EQ(file.GetPFile(), handle);
    file.SetFileName(dir.File("other.avi"));
    EXPECT_FALSE(file.Opened());
    // The held stream still reads; its service handle keeps the file open.
    EXPECT_EQ(video->GetRefCount(), 1);
    EXPECT_EQ(video->GetLength(), 250);
    vt::Bytes d(static_cast<std::size_t>(video->SampleSize(7, 1)));
    video->ReadSamples(7, d.data(), 1);
    EXPECT_EQ(d, vt::FrameData(7));
    video->Release();
}

TEST(TLumAVIStream, CodesNoneAndRle8AreSpelledOut) {
    lum::test::TempDir dir;
    TLumAVIFile file;
    file.SetFileName(MakeFile(dir, "n.avi", 0, platform::BI_RGB, 1, 25, 3));
    file.OpenFile();
    TLumAVIStream* v = file.GetStreams(0);
    TAVIStreamInfo info;
    v->GetStreamInfo(info);
    EXPECT_EQ(info.fccHandler, MakeFourCC("None"));
    vt::Bytes fmt(40);
    v->GetFormat(0, fmt.data(), 40);
    EXPECT_EQ(vt::Le32(fmt, 16), MakeFourCC("None"));
    EXPECT_EQ(v->GetFormatSize(0), 40);
    // The audio stream's handler is the format tag 1, not a compression.
    file.GetStreams(1)->GetStreamInfo(info);
    EXPECT_EQ(info.fccHandler, 1u);

    file.SetFileName(MakeFile(dir, "r.avi", 1, platform::BI_RLE8, 1, 25, 3));
    file.OpenFile();
    file.GetStreams(0)->GetStreamInfo(info);
    EXPECT_EQ(info.fccHandler, MakeFourCC("Rle8"));
    file.GetStreams(0)->GetFormat(0, fmt.data(), 40);
    EXPECT_EQ(vt::Le32(fmt, 16), MakeFourCC("Rle8"));

    // A stream whose type code is 0.
    std::string zero = dir.File("z.avi");
    vt::CreateFile(zero, [](PAVIFILE f) {
        PAVISTREAM s = nullptr;
        TAVIStreamInfo si{};
        si.dwScale = 1;
        si.dwRate = 1;
        platform::vfw::AVIFileCreateStream(f, &s, &si);
        platform::vfw::AVIStreamSetFormat(s, 0, "x", 1);
        platform::vfw::AVIStreamRelease(s);
    });
    file.SetFileName(zero);
    file.OpenFile();
    file.GetStreams(0)->GetStreamInfo(info);
    EXPECT_EQ(info.fccType, MakeFourCC("None"));
    EXPECT_EQ(file.GetStreams(0)->GetStreamType(), stOther);
    EXPECT_EQ(file.GetTypedStreamCount(stOther), 1);
}

TEST(TLumAVIStream, PositionsRatesAndKeyFrames) {
    lum::test::TempDir dir;
    TLumAVIFile file;
    file.SetFileName(MakeFile(dir, "p.avi", MakeFourCC("XXXX"), MakeFourCC("XXXX"), 1001, 30000));
    file.OpenFile();
    TLumAVIStream* v = file.GetStreams(0);
    TLumAVIStream* a = file.GetStreams(1);
    EXPECT_EQ(v->GetStartPos(), 0);
    EXPECT_EQ(v->GetLength(), 250);
    EXPECT_EQ(v->GetEndPos(), 250);
    EXPECT_NEAR(static_cast<double>(v->GetFrameRate()), 29.97, 0.001);
    EXPECT_EQ(v->GetLengthTime(), 8342); // 250 frames at 29.97 fps
    EXPECT_EQ(v->StreamSampleSize(), 0u);
    EXPECT_EQ(a->StreamSampleSize(), 2u);
    EXPECT_TRUE(v->IsKeyFrame(20));
    EXPECT_FALSE(v->IsKeyFrame(21));
    EXPECT_EQ(v->NearestKeyFrame(29), 20);
    EXPECT_EQ(v->PrevKeyFrame(20), 10);
    EXPECT_EQ(v->NextKeyFrame(20), 30);
    EXPECT_EQ(v->NextKeyFrame(240), -1);
    EXPECT_EQ(v->FindSample(0, fdNext, {ftFormatChange}), 0);
    EXPECT_EQ(v->NearestKeyFrameTime(v->SamplesToTime(25)), v->SamplesToTime(20));
    EXPECT_EQ(v->NextKeyFrameTime(v->SamplesToTime(20)), v->SamplesToTime(30));
    EXPECT_EQ(v->NextKeyFrameTime(v->SamplesToTime(245)), -1);
    // Frame 100 is 3336.67 ms in: the audio sample of that time.
    EXPECT_EQ(AVISampleToSample(v, a, 100), 8000 * 3337 / 1000);
    EXPECT_EQ(AVISampleToSample(v, v, 100), 100);

    // Without a handle every query says so; the search says -1.
    auto* empty = new TLumAVIStream();
    EXPECT_EQ(Raised([&] { empty->GetLength(); }), "Stream not opened");
    EXPECT_EQ(empty->FindSample(0, fdNext, {ftKeyFrame}), -1);
    empty->Release();
}

TEST(TLumAVIStream, FrameRateWithoutScaleIsZero) {
    lum::test::TempDir dir;
    TLumAVIFile file;
    file.SetFileName(MakeFile(dir, "s0.avi", MakeFourCC("XXXX"), MakeFourCC("XXXX"), 0, 25, 2));
    file.OpenFile();
    EXPECT_EQ(file.GetStreams(0)->GetFrameRate(), 0);
    EXPECT_EQ(Raised([&] { file.GetStreams(0)->SamplesToTime(1); }),
              "Failed to convert sample to time");
}

TEST(TLumAVIStream, ReadingAndItsErrors) {
    lum::test::TempDir dir;
    TLumAVIFile file;
    file.SetFileName(MakeFile(dir, "rd.avi", MakeFourCC("XXXX"), MakeFourCC("XXXX")));
    file.OpenFile();
    TLumAVIStream* v = file.GetStreams(0);
    TLumAVIStream* a = file.GetStreams(1);
    vt::Bytes pcm(static_cast<std::size_t>(a->SampleSize(640, 320)));
    ASSERT_EQ(pcm.size(), 640u);
    a->ReadSamples(640, pcm.data(), 320);
    EXPECT_EQ(pcm, vt::Bytes(640, 2));
    EXPECT_EQ(a->ReadBytes(0, pcm.data(), 101), 50); // whole samples that fit
    EXPECT_EQ(Raised([&] { a->ReadSamples(250 * 320 - 5, pcm.data(), 10); }),
              "Error reading samples");
    EXPECT_EQ(Raised([&] { v->WriteSamples(0, pcm.data(), 1, true); }),
              "Stream has no static sample size");
    EXPECT_EQ(v->GetDataSize(MakeFourCC("strd")), 0);
    EXPECT_EQ(Raised([&] { v->ReadData(MakeFourCC("strd"), pcm.data(), 4); }),
              "AVI error (80044073): No data");
    EXPECT_EQ(file.GetDataSize(MakeFourCC("ICMT")), 0);
    // A read-only file refuses writes through AVICheck.
    EXPECT_EQ(Raised([&] { a->WriteSamples(a->GetEndPos(), pcm.data(), 1, true); }),
              "AVI error (80044072): Readonly");
}

TEST(TLumAVIFile, CreatingStreamsAndWritingThem) {
    lum::test::TempDir dir;
    std::string path = dir.File("new.avi");
    platform::WAVEFORMATEX w = vt::PcmFormat(2, 22050, 16);
    {
        TLumAVIFile file;
        file.SetFileName(path);
        file.SetAccessMode(amReadWrite);
        file.CreateFile();
        TLumAVIStream* audio = file.CreateAudioStream(&w, std::string(80, 'n'));
        EXPECT_EQ(audio->GetRefCount(), 2);
        EXPECT_EQ(audio->GetFormatSize(0), 18);
        vt::Bytes pcm(400, 9);
        audio->WriteSamples(0, pcm.data(), 100, true);
        audio->WriteBytes(100, pcm.data(), 10, true); // two samples, two bytes left over
        EXPECT_EQ(audio->GetLength(), 102);
        TLumAVIStream* video = file.CreateVideoStream(15, "Clip");
        vt::Bytes fmt = vt::BitmapFormat(4, 4, 24, platform::BI_RGB);
        video->SetFormat(0, fmt.data(), static_cast<LONG>(fmt.size()));
        vt::Bytes frame(48, 1);
        video->WriteBytes(0, frame.data(), 48, true);
        video->WriteBytes(1, frame.data(), 48, false);
        video->WriteData(MakeFourCC("strd"), "abc", 3);
        EXPECT_EQ(file.GetStreamCount(), 2);
        audio->Release();
        video->Release();
    }
    TLumAVIFile file;
    file.SetFileName(path);
    file.OpenFile();
    TLumAVIStream* audio = file.GetTypedStreams(stAudio, 0);
    TLumAVIStream* video = file.GetTypedStreams(stVideo, 0);
    EXPECT_EQ(audio->GetName(), std::string(63, 'n'));
    EXPECT_EQ(video->GetName(), "Clip");
    EXPECT_EQ(audio->GetLength(), 102);
    EXPECT_EQ(video->GetLength(), 2);
    EXPECT_NEAR(static_cast<double>(video->GetFrameRate()), 15.0, 1e-9);
    EXPECT_EQ(video->IsKeyFrame(1), false);
    char strd[3];
    EXPECT_EQ(video->GetDataSize(MakeFourCC("strd")), 3);
    video->ReadData(MakeFourCC("strd"), strd, 3);
    EXPECT_EQ(std::string(strd, 3), "abc");
    EXPECT_EQ(Raised([&] { video->ReadData(MakeFourCC("strd"), strd, 2); }),
              "AVI error (80044074): Buffer too small");
}

TEST(AVICreateStream, SharedTemporaryFileLivesWhileUsed) {
    platform::WAVEFORMATEX w = vt::PcmFormat(1, 8000, 8);
    TLumAVIStream* audio = AVICreateAudioStream(&w);
    TLumAVIStream* video = AVICreateVideoStream(25);
    EXPECT_EQ(audio->GetName(), "Audio");
    EXPECT_EQ(video->GetName(), "Video");
    TAVIStreamInfo info;
    AVINewStreamInfo(MakeFourCC("txts"), info);
    info.dwScale = info.dwRate = 1;
    TLumAVIStream* text = AVICreateStream(info);
    EXPECT_EQ(text->GetStreamType(), stText);

    // The temporary folder holds one new "avi*.avi" file while they live.
    auto shared_files = [] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(platform::GetTempPath())) {
            std::string name = e.path().filename().string();
            n += name.rfind("avi", 0) == 0 && e.path().extension() == ".avi";
        }
        return n;
    };
    int during = shared_files();
    EXPECT_GE(during, 1);

    auto* stranger = new TLumAVIStream();
    AVICloseStream(stranger); // not one of the shared file's: changes nothing
    EXPECT_EQ(stranger->GetRefCount(), 1);
    stranger->Release();
    AVICloseStream(audio);
    AVICloseStream(video);
    EXPECT_EQ(shared_files(), during);
    AVICloseStream(text);
    EXPECT_EQ(shared_files(), during - 1);
    AVICloseStream(text); // no shared file any more: nothing happens
}
