// The wave object: loading and its errors, the play window through a cut
// list, positioning and reading, the answer past the end, memory waves,
// INFO and DISP items, observers and Assign, and the whole-file operations
// with their temporary file (own name, cancel, failed rename, full disk).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "audio/lumpcmsup.h"
#include "audio/lumwave.h"
#include "support/testutil.h"
#include "wavetest.h"

namespace lum {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using namespace test::wave;

// The message of what F raises as ELumWaveError, or "" when it does not.
template <class F>
std::string RaisedMessage(F&& f) {
    try {
        f();
    } catch (const ELumWaveError& e) {
        return e.Message();
    }
    return "";
}

// Files in a folder, by name.
std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The samples of a file as the wave layer reads them.
Bytes SamplesOf(const std::string& path) {
    TLumWave w;
    w.SetFileName(path);
    w.OpenFile();
    Bytes out, buffer(4096);
    for (;;) {
        const std::int32_t n = w.ReadDataBytes(buffer.data(), 4096);
        if (n <= 0) break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    return out;
}

// Everything the open wave gives from where it stands, Step bytes a read.
Bytes ReadRest(TLumWave& w, std::int32_t step = 7) {
    Bytes out, buffer(static_cast<std::size_t>(step));
    for (;;) {
        const std::int32_t n = w.ReadDataBytes(buffer.data(), step);
        if (n <= 0) break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    return out;
}

TLumCutRegion Cut(std::int32_t start, std::int32_t length) {
    return TLumCutRegion{start, 0, length, 0, 0};
}

class Wave : public testing::Test {
protected:
    // 8-bit mono at 8000 Hz: sample i is the byte i mod 256.
    std::string MakeRamp(const std::string& name, std::size_t samples) {
        const std::string path = dir_.File(name);
        test::WriteFile(path, test::wave::Wave(Pcm(1, 8000, 8), Ramp(samples)));
        return path;
    }

    TempDir dir_;
};

// ---------------------------------------------------------------------------
// Empty waves and loading

TEST_F(Wave, AnEmptyWaveAnswersWithItsDefaults) {
    TLumWave w;
    EXPECT_EQ(w.GetSampleRate(), 11025);
    EXPECT_EQ(w.GetFormatString(), "Unknown");
    EXPECT_EQ(w.GetBitLength(), 0);
    EXPECT_EQ(w.GetFormatTag(), 0);
    EXPECT_EQ(w.GetPosition(), -1);
    EXPECT_EQ(w.GetStartPos(), -1);
    EXPECT_EQ(w.GetEndPos(), -1);
    std::uint8_t b[8];
    EXPECT_EQ(w.ReadDataBytes(b, 8), -1);
    EXPECT_FALSE(w.PlaySound(pmAsync));
    EXPECT_EQ(RaisedMessage([&] { w.GetPWaveData(); }), "This is not a MemoryWave");
    EXPECT_EQ(RaisedMessage([&] { w.SaveToFile(dir_.File("x.wav")); }), "Invalid param passed!");
}

TEST_F(Wave, TheSameNameAndSizeDoNothingAndAChangedSizeReloads) {
    const std::string path = MakeRamp("a.wav", 1000);
    TLumWave w;
    int changes = 0;
    TLumObserver observer;
    observer.OnNotify = [&](TLumObserver*, TPersistent* data) {
        EXPECT_EQ(data, &w);
        ++changes;
    };
    w.AddObserver(&observer);
    w.SetFileName(path);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(w.GetDataSize(), 1000);
    w.SetFileName(path);
    EXPECT_EQ(changes, 1);
    MakeRamp("a.wav", 1500);
    w.SetFileName(path);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(w.GetDataSize(), 1500);
    EXPECT_EQ(w.GetFileName(), fs::absolute(path).string());
}

TEST_F(Wave, AMissingFileIsAnErrorUnlessItMayBeMadeLater) {
    TLumWave w;
    const std::string missing = dir_.File("missing.wav");
    EXPECT_EQ(RaisedMessage([&] { w.SetFileName(missing); }), "Invalid wave file...");
    w.SetFileMustExist(false);
    w.SetFileName(missing);
    EXPECT_EQ(w.GetFileName(), missing);
    EXPECT_EQ(w.GetPWaveFormat(), nullptr);
    EXPECT_EQ(w.GetSampleRate(), 11025);

    const std::string text = dir_.File("text.wav");
    test::WriteFile(text, Text("not a wave file at all"));
    EXPECT_EQ(RaisedMessage([&] { w.SetFileName(text); }), "Invalid wave file...");
}

// ---------------------------------------------------------------------------
// The play window

TEST_F(Wave, CutsAreLeftOutOfWhatIsReadAndOfTheLength) {
    TLumWave w;
    w.SetFileName(MakeRamp("r.wav", 1000));
    TLumCutList cuts;
    cuts.AddRegion(Cut(100, 50));
    cuts.AddRegion(Cut(300, 200));
    cuts.AddRegion(Cut(950, 100)); // reaches past the end
    w.SetCutList(&cuts);
    EXPECT_EQ(w.GetLengthSamples(), 1000 - 50 - 200 - 50);
    w.OpenFile();
    Bytes expected;
    for (int i = 0; i < 1000; ++i)
        if (!(i >= 100 && i < 150) && !(i >= 300 && i < 500) && i < 950)
            expected.push_back(static_cast<std::uint8_t>(i));
    EXPECT_EQ(ReadRest(w), expected);
    EXPECT_EQ(w.GetPosition(), w.GetLengthSamples());

    // Positions count through the regions: 120 is sample 170 of the file.
    w.SetPosition(120);
    std::uint8_t b[3];
    ASSERT_EQ(w.ReadDataBytes(b, 3), 3);
    EXPECT_EQ(b[0], 170);
    EXPECT_EQ(w.GetPosition(), 123);
    // 250 lies in the third region, which starts at file sample 500.
    w.SetPosition(250);
    ASSERT_EQ(w.ReadDataBytes(b, 1), 1);
    EXPECT_EQ(b[0], static_cast<std::uint8_t>(500 + 250 - 250));
    EXPECT_EQ(w.GetBytesLeft(), 700 - 251);
}

TEST_F(Wave, AStartInsideACutMovesToItsEndAndTheWindowBoundsTheRegions) {
    TLumWave w;
    w.SetFileName(MakeRamp("r.wav", 1000));
    TLumCutList cuts;
    cuts.AddRegion(Cut(10, 20));  // before the start
    cuts.AddRegion(Cut(90, 30));  // holds the start
    cuts.AddRegion(Cut(200, 10)); // inside the window
    cuts.AddRegion(Cut(400, 10)); // beyond the end
    w.SetCutList(&cuts);
    w.SetStartPos(100);
    w.SetEndPos(300);
    ASSERT_EQ(w.GetRegions().GetCount(), 2);
    EXPECT_EQ(w.GetRegions().Get(0).Start, 120);
    EXPECT_EQ(w.GetRegions().Get(0).Length, 80);
    EXPECT_EQ(w.GetRegions().Get(1).Start, 210);
    EXPECT_EQ(w.GetRegions().Get(1).Length, 90);
    // The setters clamp: start to the end, end to the sample count.
    w.SetEndPos(5000);
    EXPECT_EQ(w.GetEndPos(), 1000);
    w.SetStartPos(2000);
    EXPECT_EQ(w.GetStartPos(), 1000);
}

TEST_F(Wave, ACutOverTheWholeWindowLeavesOneEmptyRegion) {
    TLumWave w;
    w.SetFileName(MakeRamp("r.wav", 500));
    TLumCutList cuts;
    cuts.AddRegion(Cut(0, 500));
    w.SetCutList(&cuts);
    ASSERT_EQ(w.GetRegions().GetCount(), 1);
    EXPECT_EQ(w.GetRegions().Get(0).Length, 0);
    EXPECT_EQ(w.GetLengthSamples(), 0);
    w.OpenFile();
    std::uint8_t b[4];
    EXPECT_EQ(w.ReadDataBytes(b, 4), -1);
}

TEST_F(Wave, TimeFormatsConvertPositionsAndLengths) {
    const std::string path = dir_.File("s.wav");
    test::WriteFile(path, test::wave::Wave(Pcm(2, 8000, 16), Ramp(8000 * 4)));
    TLumWave w;
    w.SetFileName(path);
    EXPECT_EQ(w.GetLength(), 8000);
    w.SetTimeFormat(tfMillisecond);
    EXPECT_EQ(w.GetLength(), 1000);
    w.SetStartPos(250);
    EXPECT_EQ(w.GetStartPos(), 250);
    w.SetTimeFormat(tfByte);
    EXPECT_EQ(w.GetStartPos(), 2000 * 4);
    EXPECT_EQ(w.GetLength(), 6000 * 4);
    EXPECT_EQ(w.GetMode(), mStereo);
    EXPECT_EQ(w.GetBitLength(), 16);
    w.OpenFile();
    EXPECT_EQ(RaisedMessage([&] { w.SetIgnoreFades(true); }),
              "Change to property while file was open");
}

TEST_F(Wave, AReadThatFindsNothingAnswersOnceWithSilenceInsideTheBuffer) {
    // The file gets shorter while the wave is open: what was expected does
    // not come.
    const std::string path = MakeRamp("t.wav", 40000);
    TLumWave w;
    w.SetFileName(path);
    w.SetIOBufSize(8192);
    w.OpenFile();
    fs::resize_file(path, 44 + 100);
    Bytes all = ReadRest(w, 4000);
    EXPECT_LT(all.size(), 40000u);
    // The last answer was the silence; it stays inside a 2-byte buffer.
    w.SetPosition(0);
    fs::resize_file(path, 44);
    w.CloseFile();
    w.OpenFile();
    std::uint8_t b[4] = {1, 2, 3, 4};
    ASSERT_EQ(w.ReadDataBytes(b, 2), 2);
    EXPECT_EQ(b[0], 128); // 8-bit silence
    EXPECT_EQ(b[1], 128);
    EXPECT_EQ(b[2], 3); // untouched
    EXPECT_EQ(w.GetPosition(), w.GetLengthSamples());
    EXPECT_EQ(w.ReadDataBytes(b, 2), -1);
}

// ---------------------------------------------------------------------------
// Memory waves, items, observers

TEST_F(Wave, AMemoryWaveHoldsItsImageAndRefusesWriting) {
    const Bytes image = test::wave::Wave(Pcm(1, 8000, 8), Ramp(300, 5));
    auto stream = platform::MemoryStream::View(
        std::span<const std::byte>(reinterpret_cast<const std::byte*>(image.data()), image.size()));
    TLumWave m(true);
    m.LoadFromStream(*stream);
    EXPECT_EQ(m.GetDataSize(), 300);
    ASSERT_NE(m.GetPWaveData(), nullptr);
    EXPECT_EQ(m.GetPWaveData()[0], 5);
    m.OpenFile();
    EXPECT_EQ(ReadRest(m), Ramp(300, 5));
    std::uint8_t b[2] = {};
    EXPECT_EQ(RaisedMessage([&] { m.WriteDataBytes(b, 2); }), "Can't write to MemoryWave");
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, 8, 1, 8000);
    EXPECT_EQ(RaisedMessage([&] { m.CreateFile(dir_.File("x.wav"), &f); }),
              "Can't write to MemoryWave");

    auto out = platform::MemoryStream::Growable();
    m.SaveToStream(*out);
    Bytes saved(static_cast<std::size_t>(out->Size()));
    out->ReadAt(0, saved.data(), saved.size());
    EXPECT_EQ(saved, image);
    // Saved to a file from the image.
    m.SaveToFile(dir_.File("fromimage.wav"));
    EXPECT_EQ(SamplesOf(dir_.File("fromimage.wav")), Ramp(300, 5));

    // From a file; a file that is no wave says so.
    const std::string text = dir_.File("text.bin");
    test::WriteFile(text, Text("RIFF....AVI LIST"));
    EXPECT_EQ(RaisedMessage([&] { m.SetFileName(text); }), "Invalid wave file...");
    m.SetFileName(MakeRamp("m.wav", 77));
    EXPECT_EQ(m.GetDataSize(), 77);
}

TEST_F(Wave, InfoAndDispItemsTravelIntoSavedFiles) {
    TLumWave w;
    w.SetFileName(MakeRamp("i.wav", 1000));
    EXPECT_EQ(RaisedMessage([&] { w.SetInfoChunk("XXXX", "x"); }), "InfoChunk XXXX not found");
    w.SetInfoChunk("INAM", "A title");
    w.SetInfoChunk("ICMT", "Some words");
    w.SetDispChunk("Shown text");
    const std::string out = dir_.File("out.wav");
    w.SaveToFile(out);
    TLumWave back;
    back.SetFileName(out);
    EXPECT_EQ(back.GetInfoChunk("INAM"), "A title");
    EXPECT_EQ(back.GetInfoChunk("ICMT"), "Some words");
    EXPECT_EQ(back.GetDispText(), "Shown text");
}

TEST_F(Wave, AssignCopiesTheWaveWithOneNotification) {
    TLumWave source;
    source.SetFileName(MakeRamp("s.wav", 800));
    TLumCutList cuts;
    cuts.AddRegion(Cut(100, 100));
    source.SetCutList(&cuts);
    source.SetTimeFormat(tfMillisecond);
    source.SetEndPos(50); // 400 samples

    TLumWave copy;
    int changes = 0;
    TLumObserver observer;
    observer.OnNotify = [&](TLumObserver*, TPersistent*) { ++changes; };
    copy.AddObserver(&observer);
    copy.Assign(&source);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(copy.GetFileName(), source.GetFileName());
    EXPECT_EQ(copy.GetTimeFormat(), tfMillisecond);
    EXPECT_EQ(copy.GetEndPos(), 50);
    EXPECT_EQ(copy.GetCutList(), &cuts);
    EXPECT_EQ(copy.GetLengthSamples(), 300);

    // A memory wave copies another's image.
    const Bytes image = test::wave::Wave(Pcm(1, 8000, 8), Ramp(64));
    auto stream = platform::MemoryStream::View(
        std::span<const std::byte>(reinterpret_cast<const std::byte*>(image.data()), image.size()));
    TLumWave m1(true), m2(true);
    m1.LoadFromStream(*stream);
    m2.Assign(&m1);
    EXPECT_EQ(m2.GetImage(), image);
}

// ---------------------------------------------------------------------------
// Whole files

TEST_F(Wave, SavingOntoItsOwnNameKeepsTheFileAndLeavesNoTemporaryFile) {
    const std::string path = MakeRamp("own.wav", 20000);
    TLumWave w;
    w.SetFileName(path);
    std::vector<std::int64_t> progress;
    w.OnProgress = [&](TLumWave*, std::int64_t done, std::int64_t total, bool&) {
        EXPECT_EQ(total, 20000);
        progress.push_back(done);
    };
    w.SaveToFile(path);
    EXPECT_EQ(SamplesOf(path), Ramp(20000));
    EXPECT_EQ(Listing(dir_.Path()), std::vector<std::string>{"own.wav"});
    EXPECT_EQ(progress, (std::vector<std::int64_t>{8000, 16000, 20000}));
    w.OnProgress = nullptr;

    // With a cut the file under the same name becomes shorter, and the wave
    // describes it anew.
    TLumCutList cuts;
    cuts.AddRegion(Cut(0, 5000));
    w.SetCutList(&cuts);
    w.SaveToFile(path);
    const Bytes rest = SamplesOf(path);
    ASSERT_EQ(rest.size(), 15000u);
    EXPECT_EQ(rest[0], static_cast<std::uint8_t>(5000));
    EXPECT_EQ(Listing(dir_.Path()), std::vector<std::string>{"own.wav"});
}

TEST_F(Wave, ACancelledOrFailedSaveLeavesTheTargetAsItWas) {
    const std::string path = MakeRamp("src.wav", 30000);
    const std::string target = MakeRamp("target.wav", 10);
    TLumWave w;
    w.SetFileName(path);
    w.OnProgress = [](TLumWave*, std::int64_t, std::int64_t, bool& cancel) { cancel = true; };
    EXPECT_EQ(RaisedMessage([&] { w.SaveToFile(target); }), "Saving was aborted");
    EXPECT_EQ(SamplesOf(target), Ramp(10));
    w.OnProgress = nullptr;
    TWaveFormatEx mono16{};
    pcmBuildWaveHeader(&mono16, 16, 1, 8000);
    w.OnProgress = [](TLumWave*, std::int64_t, std::int64_t, bool& cancel) { cancel = true; };
    EXPECT_EQ(RaisedMessage([&] { w.ConvertFile(target, &mono16); }), "Conversion aborted");
    w.OnProgress = nullptr;

    // The rename cannot replace a folder.
    fs::create_directory(dir_.File("folder.wav"));
    EXPECT_EQ(RaisedMessage([&] { w.SaveToFile(dir_.File("folder.wav")); }),
              "Unable to save wave file");
    EXPECT_EQ(Listing(dir_.Path()),
              (std::vector<std::string>{"folder.wav", "src.wav", "target.wav"}));
    EXPECT_FALSE(w.IsOpen());
}

// RLIMIT_FSIZE makes every write past the limit fail as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit old_{};
    void (*old_handler_)(int);
};

TEST_F(Wave, AFullDiskIsReportedAndLeavesNoTemporaryFile) {
    const std::string path = MakeRamp("big.wav", 200000);
    TLumWave w;
    w.SetFileName(path);
    const std::string target = dir_.File("copy.wav");
    std::string saving, converting;
    {
        FileSizeLimit limit(50000);
        saving = RaisedMessage([&] { w.SaveToFile(target); });
        TWaveFormatEx f{};
        pcmBuildWaveHeader(&f, 16, 2, 8000);
        converting = RaisedMessage([&] { w.ConvertFile(target, &f); });
    }
    EXPECT_EQ(saving, "Can't write to file, disk full ?");
    EXPECT_EQ(converting, "Can't write to file, disk full ?");
    EXPECT_EQ(Listing(dir_.Path()), std::vector<std::string>{"big.wav"});
}

TEST_F(Wave, ConvertingAtHighRatesFitsItsBuffers) {
    // One second blocks at 96 kHz and 48 kHz stereo: the sizes the
    // conversion buffers need overflow 32-bit products.
    for (const auto& [rate, channels] : {std::pair{96000, 2}, std::pair{48000, 2}}) {
        const std::string path = dir_.File("hi.wav");
        test::WriteFile(path, test::wave::Wave(Pcm(static_cast<std::uint16_t>(channels),
                                                   static_cast<std::uint32_t>(rate), 16),
                                               Ramp(static_cast<std::size_t>(rate) * 4 * 3 / 2)));
        TLumWave w;
        w.SetFileName(path);
        TWaveFormatEx to{};
        pcmBuildWaveHeader(&to, 16, 1, rate);
        const std::string out = dir_.File("mono.wav");
        w.ConvertFile(out, &to);
        TLumWave back;
        back.SetFileName(out);
        EXPECT_EQ(back.GetDataSize(), rate * 3 / 2) << rate;
        EXPECT_EQ(back.GetSampleRate(), rate);
        EXPECT_EQ(back.GetMode(), mMono);
    }
    TLumWave w;
    w.SetFileName(MakeRamp("r.wav", 100));
    TWaveFormatEx bad{};
    pcmBuildWaveHeader(&bad, 16, 1, 200000);
    EXPECT_EQ(RaisedMessage([&] { w.ConvertFile(dir_.File("x.wav"), &bad); }),
              "This wave file is not valid for conversion");
}

TEST_F(Wave, ImportNeverWritesOverItsSource) {
    const std::string raw = dir_.File("x.WAV");
    const Bytes samples = Ramp(1000);
    test::WriteFile(raw, samples);
    TLumWave w;
    EXPECT_EQ(RaisedMessage([&] { w.ImportFromRaw(raw, 8, 8000, 1); }),
              "Unable to import wave file");
    EXPECT_EQ(test::ReadFile(raw), samples);
    EXPECT_EQ(RaisedMessage([&] { w.ImportFromRaw(raw, 12, 8000, 1); }), "Invalid param passed!");
    EXPECT_EQ(RaisedMessage([&] { w.ImportFromRaw(raw, 8, 8000, 3); }), "Invalid param passed!");

    const std::string pcm = dir_.File("data.pcm");
    test::WriteFile(pcm, samples);
    w.ImportFromRaw(pcm, 16, 8000, 2, 200);
    EXPECT_EQ(w.GetFileName(), dir_.File("data.WAV"));
    EXPECT_EQ(w.GetDataSize(), 200); // 800 bytes after the header, 4 a frame
    w.OpenFile();
    EXPECT_EQ(ReadRest(w), Bytes(samples.begin() + 200, samples.end()));
}

TEST_F(Wave, CreatedFilesAreWrittenAndDescribedWhenClosed) {
    TLumWave w;
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, 16, 1, 11025);
    const std::string path = dir_.File("new.wav");
    w.CreateFile(path, &f);
    const Bytes data = Ramp(2000);
    EXPECT_EQ(w.WriteDataBytes(data.data(), 2000), 2000);
    EXPECT_EQ(w.WriteDataSamples(data.data(), 100), 100);
    w.CloseFile();
    EXPECT_EQ(w.GetDataSize(), 1100);
    EXPECT_FALSE(w.IsWriting());
    Bytes expected = data;
    expected.insert(expected.end(), data.begin(), data.begin() + 200);
    EXPECT_EQ(SamplesOf(path), expected);
}

} // namespace
} // namespace lum
