// Wave files on disk and in memory: writing and reading back, the chunk
// order, windows and positions, raw files, temporary names, read-only
// files, whole-file loads and saves, and the 2 GiB limit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "audio/wavetest.h"
#include "support/testutil.h"

namespace lum {
namespace {

using namespace test::wave;
namespace fs = std::filesystem;

FOURCC Id(const char* s) {
    return mmioFourCC(s[0], s[1], s[2], s[3]);
}

TWaveFormatEx PcmFormat(int bits, int channels, int rate) {
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, bits, channels, rate);
    return f;
}

std::uint32_t LE32(const Bytes& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// Writes Data as a new file of format Fmt with a title and a DISP text.
void WriteWave(const std::string& path, const TWaveFormatEx& fmt, const Bytes& data,
               bool sideData = true) {
    PWAVEIOCB cb = nullptr;
    ASSERT_EQ(wioCreateFileInfo(cb, &fmt), WIOERR_NOERROR);
    if (sideData) {
        RiffModifyINFO(cb->InfoChunk, RiffFindPIINFO(cb->InfoChunk, Id("INAM")), 1,
                       HeapText("A title"), 0);
        RiffInsertDISP(cb->DispList, RiffCreateDISP(1, CF_TEXT, nullptr, HeapText("shown")));
    }
    ASSERT_EQ(wioWriteFileInfo(cb, path.c_str()), WIOERR_NOERROR);
    // Two writes, the second through the I/O buffer.
    const auto half = static_cast<std::int32_t>(data.size() / 2);
    if (half > 0) {
        EXPECT_EQ(wioWaveWriteData(cb, data.data(), half), half);
    }
    const auto rest = static_cast<std::int32_t>(data.size()) - half;
    if (rest > 0) {
        EXPECT_EQ(wioWaveWriteDataDirect(cb, data.data() + half, rest), rest);
    }
    EXPECT_EQ(cb->DataBytes, static_cast<std::int32_t>(data.size()));
    EXPECT_EQ(wioWaveClose(cb), WIOERR_NOERROR);
    EXPECT_EQ(cb->FileHandle, nullptr);
    EXPECT_EQ(wioFreeFileInfo(cb), WIOERR_NOERROR);
    EXPECT_EQ(cb, nullptr);
}

// Every byte of the file's window.
Bytes ReadWave(PWAVEIOCB cb, std::int32_t step = 1000, bool direct = false) {
    Bytes out;
    EXPECT_EQ(wioWaveOpen(cb), WIOERR_NOERROR);
    EXPECT_EQ(wioWaveSetPosition(cb, 0), WIOERR_NOERROR);
    Bytes buffer(static_cast<std::size_t>(step));
    for (;;) {
        const std::int32_t n = direct ? wioWaveReadDataDirect(cb, buffer.data(), step)
                                      : wioWaveReadData(cb, buffer.data(), step);
        if (n <= 0) break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    return out;
}

TEST(WaveFile, WrittenFileHasFactAfterDataThenDispAndInfo) {
    test::TempDir dir;
    const std::string path = dir.File("out.wav");
    const TWaveFormatEx fmt = PcmFormat(16, 2, 8000);
    const Bytes data = Ramp(4 * 1001);
    WriteWave(path, fmt, data);

    const Bytes file = test::ReadFile(path);
    EXPECT_EQ(ChunkOrder(file), "fmt  data fact DISP LIST/INFO");
    EXPECT_EQ(LE32(file, 4), file.size() - 8);
    EXPECT_EQ(LE32(file, 16), 18u);         // a PCM format is written with its cbSize
    EXPECT_EQ(file[36] | file[37] << 8, 0); // cbSize 0
    const std::size_t fact = 20 + 18 + 8 + data.size();
    EXPECT_EQ(std::string(file.begin() + fact, file.begin() + fact + 4), "fact");
    EXPECT_EQ(LE32(file, fact + 8), 1001u);

    PWAVEIOCB cb = nullptr;
    ASSERT_EQ(wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE), WIOERR_NOERROR);
    EXPECT_EQ(cb->Format.nChannels, 2);
    EXPECT_EQ(cb->Format.nAvgBytesPerSec, 32000u);
    EXPECT_EQ(cb->DataBytes, 4004);
    EXPECT_EQ(cb->DataOffset, 46);
    EXPECT_EQ(cb->SampleCount, 1001);
    EXPECT_EQ(cb->FileHandle, nullptr); // described, not open
    EXPECT_EQ(RiffINFOValue(cb->InfoChunk, RiffFindPIINFO(cb->InfoChunk, Id("INAM"))), "A title");
    ASSERT_NE(cb->DispList->First, nullptr);
    EXPECT_STREQ(static_cast<const char*>(cb->DispList->First->FileData), "shown");
    EXPECT_EQ(ReadWave(cb), data);
    EXPECT_EQ(cb->Position, 1001);
    EXPECT_EQ(wioWaveClose(cb), WIOERR_NOERROR);
    EXPECT_EQ(test::ReadFile(path), file); // a file only read is not touched
    wioFreeFileInfo(cb);
    EXPECT_EQ(wioFreeFileInfo(cb), WIOERR_BADPARAM);
}

TEST(WaveFile, OddDataIsPaddedAndThePadIsNoSample) {
    test::TempDir dir;
    const std::string path = dir.File("odd.wav");
    const Bytes data = Ramp(1001, 1);
    WriteWave(path, PcmFormat(8, 1, 8000), data, false);
    const Bytes file = test::ReadFile(path);
    EXPECT_EQ(LE32(file, 42), 1001u);
    EXPECT_EQ(file[46 + 1001], 0); // the pad byte
    EXPECT_EQ(ChunkOrder(file), "fmt  data fact");

    PWAVEIOCB cb = nullptr;
    ASSERT_EQ(wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE), WIOERR_NOERROR);
    EXPECT_EQ(cb->DataBytes, 1001);
    EXPECT_EQ(cb->SampleCount, 1001);
    EXPECT_EQ(ReadWave(cb, 333, true), data);
    wioFreeFileInfo(cb);
}

TEST(WaveFile, WindowAndPositions) {
    test::TempDir dir;
    const std::string path = dir.File("w.wav");
    const Bytes data = Ramp(2 * 500);
    WriteWave(path, PcmFormat(16, 1, 8000), data, false);
    PWAVEIOCB cb = nullptr;
    ASSERT_EQ(wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE), WIOERR_NOERROR);
    ASSERT_EQ(wioWaveOpen(cb), WIOERR_NOERROR);

    EXPECT_EQ(wioWaveSetPosition(cb, -1), WIOERR_FILEERROR);
    ASSERT_EQ(wioWaveSetPosition(cb, 100000), WIOERR_NOERROR); // clamped to the last sample
    EXPECT_EQ(cb->Position, 499);
    EXPECT_EQ(cb->BytesLeft, 2);
    std::int16_t sample = 0;
    EXPECT_EQ(wioWaveReadSamples(cb, &sample, 1), 1);
    EXPECT_EQ(std::memcmp(&sample, data.data() + 998, 2), 0);
    EXPECT_EQ(wioWaveReadSamples(cb, &sample, 1), -1);
    EXPECT_EQ(wioWaveReadSamples(cb, &sample, 0), -1);

    EXPECT_EQ(wioWaveSetFirstSample(cb, 500), WIOERR_BADPARAM);
    EXPECT_EQ(wioWaveSetLastSample(cb, 501), WIOERR_BADPARAM);
    ASSERT_EQ(wioWaveSetLastSample(cb, 300), WIOERR_NOERROR);
    ASSERT_EQ(wioWaveSetFirstSample(cb, 100), WIOERR_NOERROR);
    EXPECT_EQ(wioWaveSetLastSample(cb, 100), WIOERR_BADPARAM);
    ASSERT_EQ(wioWaveSetPosition(cb, 50), WIOERR_NOERROR);
    EXPECT_EQ(cb->Position, 50);
    Bytes window(1000);
    EXPECT_EQ(wioWaveReadData(cb, window.data(), 1000), 300);
    EXPECT_TRUE(std::equal(window.begin(), window.begin() + 300, data.begin() + 300));
    EXPECT_EQ(cb->Position, 200);
    EXPECT_EQ(wioWaveReadData(cb, window.data(), 1000), -1);
    wioWaveClose(cb);
    EXPECT_EQ(cb->Position, 0);
    EXPECT_EQ(wioWaveReadData(cb, window.data(), 10), -1); // closed
    wioFreeFileInfo(cb);
}

TEST(WaveFile, WritingIntoAnExistingFileMeasuresItAgain) {
    test::TempDir dir;
    const std::string path = dir.File("e.wav");
    const Bytes data = Ramp(600);
    WriteWave(path, PcmFormat(8, 1, 8000), data);
    PWAVEIOCB cb = nullptr;
    ASSERT_EQ(wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE), WIOERR_NOERROR);
    ASSERT_EQ(wioWaveOpen(cb), WIOERR_NOERROR);
    const Bytes patch(100, 0x55);
    EXPECT_EQ(wioWaveWriteData(cb, patch.data(), 100), 100);
    EXPECT_EQ(cb->Position, 100);
    EXPECT_EQ(wioWaveClose(cb), WIOERR_NOERROR);
    wioFreeFileInfo(cb);

    ASSERT_EQ(wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE), WIOERR_NOERROR);
    EXPECT_EQ(cb->SampleCount, 600);
    Bytes expected = data;
    std::fill(expected.begin(), expected.begin() + 100, 0x55);
    EXPECT_EQ(ReadWave(cb), expected);
    EXPECT_EQ(RiffINFOValue(cb->InfoChunk, RiffFindPIINFO(cb->InfoChunk, Id("INAM"))), "A title");
    wioFreeFileInfo(cb);
}

TEST(WaveFile, MemoryImagesAreReadLikeFiles) {
    const Bytes data = Ramp(40);
    Bytes image = Wave(Pcm(2, 11025, 16), data);
    MemWave w(image);
    ASSERT_EQ(w.Result(), WIOERR_NOERROR);
    EXPECT_EQ(w->OpenFlags, WIO_MEMORY);
    EXPECT_EQ(w->SampleCount, 10);
    EXPECT_EQ(w.ReadAll(7), data);
    EXPECT_EQ(wioWaveWriteData(w.Block(), data.data(), 4), -1); // the image is the caller's
    EXPECT_EQ(wioSetIOBufferSize(w.Block(), 4096), WIOERR_NOERROR);
    EXPECT_EQ(w.ReadAll(64, true), data);

    PWAVEIOCB cb = nullptr;
    EXPECT_EQ(wioBuildFileInfoFromMem(cb, nullptr, 10), WIOERR_FILEERROR);
    EXPECT_EQ(wioBuildFileInfoFromMem(cb, image.data(), 0), WIOERR_FILEERROR);
    EXPECT_EQ(wioBuildFileInfoFromResource(cb, "no such wave"), WIOERR_FILEERROR);
    EXPECT_EQ(cb, nullptr);
}

TEST(WaveFile, RawFilesAreCutToWholeFrames) {
    test::TempDir dir;
    const std::string path = dir.File("raw.pcm");
    test::WriteFile(path, Ramp(10 + 4 * 25 + 3));
    PWAVEIOCB cb = nullptr;
    ASSERT_EQ(wioBuildFileInfoFromRAW(cb, path.c_str(), 10, 16, 2, 8000), WIOERR_NOERROR);
    EXPECT_EQ(cb->OpenFlags, WIO_RAWFILE);
    EXPECT_EQ(cb->DataOffset, 10);
    EXPECT_EQ(cb->DataBytes, 100);
    EXPECT_EQ(cb->SampleCount, 25);
    EXPECT_EQ(ReadWave(cb, 30), Ramp(100, 10));
    EXPECT_EQ(wioWaveReadDataDirect(cb, nullptr, 0), -1);
    EXPECT_EQ(wioWaveWriteData(cb, "x", 1), -1);
    ASSERT_EQ(wioWaveSetPosition(cb, 24), WIOERR_NOERROR);
    Bytes last(8);
    EXPECT_EQ(wioWaveReadData(cb, last.data(), 8), 4);
    EXPECT_EQ(Bytes(last.begin(), last.begin() + 4), Ramp(4, 106));
    wioFreeFileInfo(cb);

    EXPECT_EQ(wioBuildFileInfoFromRAW(cb, path.c_str(), 114, 16, 2, 8000), WIOERR_BADPARAM);
    EXPECT_EQ(wioBuildFileInfoFromRAW(cb, path.c_str(), -1, 16, 2, 8000), WIOERR_BADPARAM);
    EXPECT_EQ(wioBuildFileInfoFromRAW(cb, path.c_str(), 0, 16, 2, 0), WIOERR_BADPARAM);
    EXPECT_EQ(wioBuildFileInfoFromRAW(cb, dir.File("none").c_str(), 0, 8, 1, 8000),
              WIOERR_FILEERROR);
    EXPECT_EQ(cb, nullptr);
}

TEST(WaveFile, TemporaryNamesNeverTakeAnExistingFile) {
    test::TempDir dir;
    const std::string mine = dir.File("w1.tmp");
    test::WriteFile(mine, {1, 2, 3});
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string name = dir.File("target.wav");
        ASSERT_TRUE(wioFileCreateTemp(name));
        EXPECT_EQ(fs::path(name).parent_path(), dir.Path());
        EXPECT_TRUE(fs::exists(name));
        EXPECT_EQ(fs::file_size(name), 0u);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 20u);
    EXPECT_EQ(test::ReadFile(mine), (Bytes{1, 2, 3}));
    std::string path = "/no/such/folder/x.wav";
    EXPECT_FALSE(wioFileCreateTemp(path));
    std::string inTemp;
    ASSERT_TRUE(wioFileCreateTemp(inTemp));
    EXPECT_TRUE(wioFileExists(inTemp.c_str()));
    EXPECT_TRUE(wioFileDelete(inTemp.c_str()));
    EXPECT_FALSE(wioFileExists(inTemp.c_str()));

    std::string cut = "/a/b/c.wav";
    EXPECT_EQ(wioExtractPath(cut), 5);
    EXPECT_EQ(cut, "/a/b/");
    std::string relative = "x.wav";
    EXPECT_TRUE(wioGetFullPathName(relative));
    EXPECT_EQ(relative, (fs::current_path() / "x.wav").string());
}

TEST(WaveFile, ReadOnlyFilesOpenForReading) {
    test::TempDir dir;
    const std::string path = dir.File("ro.wav");
    const Bytes data = Ramp(64);
    WriteWave(path, PcmFormat(8, 1, 8000), data, false);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    bool immutable = false;
    if (::access(path.c_str(), W_OK) == 0) {
        // Permissions do not bind the super-user; an immutable file does.
        immutable = test::Run("chattr +i " + test::Quote(path) + " 2>/dev/null") == 0;
        if (!immutable) GTEST_SKIP() << "cannot make a file read-only for this user";
    }
    PWAVEIOCB cb = nullptr;
    EXPECT_EQ(wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE), WIOERR_NOERROR);
    if (cb) {
        EXPECT_EQ(ReadWave(cb), data);
        ASSERT_EQ(wioWaveSetPosition(cb, 0), WIOERR_NOERROR);
        EXPECT_EQ(wioWaveWriteData(cb, data.data(), 4), -1);
        wioFreeFileInfo(cb);
    }
    EXPECT_TRUE(wioIsWaveFile(path.c_str(), WIO_DISKFILE));
    if (immutable) test::Run("chattr -i " + test::Quote(path));
}

TEST(WaveFile, WholeFileLoadAndSave) {
    test::TempDir dir;
    const std::string path = dir.File("s.wav");
    const TWaveFormatEx fmt = PcmFormat(16, 1, 22050);
    const Bytes data = Ramp(300);
    ASSERT_EQ(wioWaveSaveFile(path.c_str(), &fmt, data.data(), 300), WIOERR_NOERROR);
    TWaveFormatEx* loaded = nullptr;
    void* samples = nullptr;
    std::int32_t len = 0;
    ASSERT_EQ(wioWaveLoadFile(path.c_str(), loaded, samples, len), WIOERR_NOERROR);
    EXPECT_EQ(GlobalMemSize(loaded), 18u);
    EXPECT_EQ(std::memcmp(loaded, &fmt, 18), 0);
    ASSERT_EQ(len, 300);
    EXPECT_EQ(std::memcmp(samples, data.data(), 300), 0);
    GlobalFreeMem(loaded);
    GlobalFreeMem(samples);

    const std::string nowhere = dir.File("missing/s.wav");
    EXPECT_EQ(wioWaveSaveFile(nowhere.c_str(), &fmt, data.data(), 300), WIOERR_FILEERROR);
    EXPECT_EQ(wioWaveSaveFile(path.c_str(), &fmt, data.data(), 0), WIOERR_FILEERROR);
    EXPECT_FALSE(fs::exists(path)); // a failed save is not left behind
    const std::string text = dir.File("t.txt");
    test::WriteFile(text, Text("not a wave"));
    EXPECT_EQ(wioWaveLoadFile(text.c_str(), loaded, samples, len), WIOERR_FILEERROR);
    EXPECT_EQ(loaded, nullptr);
    EXPECT_EQ(samples, nullptr);
    EXPECT_FALSE(wioIsWaveFile(text.c_str(), WIO_DISKFILE));
}

TEST(WaveFile, CueAndPlaylistChunksAfterTheFormTypeAreCopied) {
    const Bytes cue = Chunk("cue ", Ramp(28));
    const Bytes plst = Chunk("plst", Ramp(16));
    Bytes image =
        Riff(Cat({cue, plst, Chunk("fmt ", Pcm(1, 8000, 8).Body()), Chunk("data", Ramp(9))}));
    MemWave src(image);
    ASSERT_EQ(src.Result(), WIOERR_NOERROR);
    ASSERT_EQ(wioWaveOpen(src.Block()), WIOERR_NOERROR);
    PWAVEIOCB dst = nullptr;
    const TWaveFormatEx fmt = PcmFormat(8, 1, 8000);
    ASSERT_EQ(wioCreateFileInfo(dst, &fmt), WIOERR_NOERROR);
    dst->FileHandle = NewImage(); // the chunks go wherever the destination stands
    EXPECT_EQ(wioWaveCopyUselessChunks(src.Block(), dst), WIOERR_NOERROR);
    EXPECT_EQ(ImageBytes(dst->FileHandle), Cat({cue, plst}));
    EXPECT_EQ(wioWaveCopyUselessChunks(src.Block(), nullptr), WIOERR_BADPARAM);
    wioFreeFileInfo(dst);
}

TEST(WaveFile, FilesOfTwoGibibytesAreRefused) {
    test::TempDir dir;
    const std::string path = dir.File("big.wav");
    {
        const Bytes head = Wave(Pcm(2, 44100, 16), {});
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(head.data()), static_cast<long>(head.size()));
    }
    fs::resize_file(path, (std::uintmax_t{1} << 31) + 44); // sparse: nothing is written
    PWAVEIOCB cb = nullptr;
    EXPECT_EQ(wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE), WIOERR_FILEERROR);
    EXPECT_EQ(cb, nullptr);
    const std::string raw = dir.File("big.raw");
    { std::ofstream out(raw); }
    fs::resize_file(raw, std::uintmax_t{1} << 31);
    EXPECT_EQ(wioBuildFileInfoFromRAW(cb, raw.c_str(), 0, 16, 2, 44100), WIOERR_FILEERROR);
}

} // namespace
} // namespace lum
