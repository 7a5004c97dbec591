// The wave file components in the chain: a file wave playing through the
// wave output on the virtual device with looping (what was played against
// the wave repeated), recording into a file (anew, appended, nothing
// recorded), silence while disabled, the events on the main thread, and
// playing through the simple sound player.
#include <gtest/gtest.h>

#include <thread>

#include "audio/lumwave.h"
#include "audio/lumwavout.h"
#include "core/lumutils.h"
#include "platform/base/messagequeue.h"
#include "platform/waveout/playsound.h"
#include "platform/waveout/waveouttest.h"
#include "wavetest.h"

namespace lum {
namespace {

using Clock = std::chrono::steady_clock;
using test::CaptureData;
using test::ScopedEnv;
using Bytes = std::vector<std::uint8_t>;

bool PumpUntil(const std::function<bool()>& done, double seconds = 5) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done() && Clock::now() < deadline)
        Delay(2, true);
    return done();
}

Bytes FileSamples(const std::string& path) {
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

Bytes Repeat(const Bytes& b, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

class WaveFileChain : public testing::Test {
protected:
    void SetUp() override {
        platform::SetMainThread();
        platform::ProcessMessages();
        capture_path_ = dir_.File("capture.wav");
        capture_ = std::make_unique<ScopedEnv>("LUM_WAVEOUT_CAPTURE", capture_path_.c_str());
        // 0.05 s of 16-bit stereo at 22050 Hz that differs from byte to byte.
        const std::vector<char> p = test::Pattern(1102 * 4, 7);
        data_.assign(p.begin(), p.end());
        source_path_ = dir_.File("source.wav");
        test::WriteFile(source_path_, test::wave::Wave(test::wave::Pcm(2, 22050, 16), data_));
    }

    // The source file wave feeding a new output on the virtual device.
    void Build(TLumCBMode mode = cmWindow) {
        source_ = std::make_unique<TLumWaveFile>();
        source_->GetWave()->SetFileName(source_path_);
        out_ = std::make_unique<TLumWaveOut>();
        out_->SetDeviceID(static_cast<int>(platform::waveout::waveOutVirtualDevice()));
        out_->SetCallBackMode(mode);
        out_->SetBufferSize(2048);
        out_->SetNumBuffers(4);
        out_->SetInput(source_.get());
    }

    bool PlayToEnd() {
        out_->Start();
        return PumpUntil([&] { return !out_->IsPlaying(); });
    }

    Bytes Captured() {
        out_->Close();
        const auto c = CaptureData(capture_path_);
        return c ? Bytes(c->begin(), c->end()) : Bytes{};
    }

    test::TempDir dir_;
    std::string capture_path_;
    std::unique_ptr<ScopedEnv> capture_;
    Bytes data_;
    std::string source_path_;
    std::unique_ptr<TLumWaveFile> source_;
    std::unique_ptr<TLumWaveOut> out_;
};

TEST_F(WaveFileChain, TheSourceTakesTheWavesFormatAndPlaysItOnce) {
    Build();
    ASSERT_NE(out_->GetPWaveFormat(), nullptr);
    EXPECT_EQ(out_->GetPWaveFormat()->nSamplesPerSec, 22050u);
    EXPECT_EQ(out_->GetPWaveFormat()->nChannels, 2);
    std::thread::id open_thread, close_thread;
    source_->OnOpen = [&](TLumDSPComponent*) { open_thread = std::this_thread::get_id(); };
    source_->OnClose = [&](TLumDSPComponent*) { close_thread = std::this_thread::get_id(); };
    ASSERT_TRUE(PlayToEnd());
    EXPECT_EQ(Captured(), data_);
    EXPECT_EQ(open_thread, std::this_thread::get_id());
    EXPECT_EQ(close_thread, std::this_thread::get_id());
}

class WaveFileLoop : public WaveFileChain, public testing::WithParamInterface<TLumCBMode> {};

TEST_P(WaveFileLoop, ALoopCountOfNPlaysTheWaveNPlusOneTimes) {
    for (int count : {1, 3}) {
        Build(GetParam());
        out_->SetLooping(true);
        out_->SetLoopCount(count);
        std::atomic<int> loops{0};
        source_->OnLooping = [&](TLumDSPComponent*) { ++loops; };
        ASSERT_TRUE(PlayToEnd()) << count;
        EXPECT_EQ(loops.load(), count);
        EXPECT_EQ(Captured(), Repeat(data_, count + 1)) << count;
    }
}

TEST_P(WaveFileLoop, ALoopCountOfZeroLoopsUntilStopped) {
    Build(GetParam());
    out_->SetLooping(true);
    out_->SetLoopCount(0);
    std::atomic<int> loops{0};
    out_->OnLooping = [&](TLumDSPComponent*) { ++loops; };
    out_->Start();
    // Loops are counted as buffers are queued; the device plays them later
    // (stereo 16-bit: 4 bytes a sample), so wait for five waves played.
    ASSERT_TRUE(PumpUntil([&] {
        return loops.load() >= 5 &&
               out_->GetSamplePosition() * 4 >= static_cast<std::int64_t>(5 * data_.size());
    }));
    EXPECT_TRUE(out_->IsPlaying());
    out_->Stop();
    const Bytes played = Captured();
    // Whole waves one after the other, as far as it played.
    ASSERT_GE(played.size(), 5 * data_.size());
    Bytes expected = Repeat(data_, static_cast<int>(played.size() / data_.size()) + 1);
    expected.resize(played.size());
    EXPECT_EQ(played, expected);
}

INSTANTIATE_TEST_SUITE_P(Routes, WaveFileLoop, testing::Values(cmWindow, cmThread),
                         [](const auto& info) {
                             return info.param == cmWindow ? "Window" : "Thread";
                         });

// ---------------------------------------------------------------------------
// Recording and silence

class Feeder : public TLumDSPInterface {};

TEST(WaveFileRecord, RecordsNewOrAppendsAndNeverLeavesAnEmptyFile) {
    platform::SetMainThread();
    test::TempDir dir;
    TWaveFormatEx f = test::PcmFormat(8, 1, 8000);
    Feeder feeder;
    feeder.SetPWaveFormat(&f);
    TLumWaveFile sink;
    sink.SetInput(&feeder);
    const std::string path = dir.File("rec.wav");
    sink.GetWave()->SetFileMustExist(false);
    sink.GetWave()->SetFileName(path);

    // Nothing recorded: four bytes of silence.
    sink.Opened();
    EXPECT_TRUE(sink.IsRecording());
    sink.Closed();
    EXPECT_EQ(FileSamples(path), Bytes(4, 128));

    auto record = [&](const Bytes& data) {
        Bytes buffer = data;
        platform::WAVEHDR hdr{};
        hdr.lpData = reinterpret_cast<char*>(buffer.data());
        hdr.dwBufferLength = hdr.dwBytesRecorded = static_cast<platform::DWORD>(buffer.size());
        sink.Opened();
        sink.BufferReady(&hdr);
        sink.Closed();
    };
    const Bytes a = test::wave::Ramp(300, 1), b = test::wave::Ramp(200, 50);
    record(a);
    EXPECT_EQ(FileSamples(path), a);
    sink.SetOverwriteExisting(false);
    record(b);
    Bytes both = a;
    both.insert(both.end(), b.begin(), b.end());
    EXPECT_EQ(FileSamples(path), both);
    EXPECT_EQ(sink.GetWave()->GetDataSize(), 500);

    // Appending samples of another format is refused.
    TWaveFormatEx stereo = test::PcmFormat(16, 2, 8000);
    feeder.SetPWaveFormat(&stereo);
    EXPECT_THROW(sink.Opened(), ELumWaveError);
    EXPECT_EQ(FileSamples(path), both);
}

TEST(WaveFileSource, ADisabledOrStoppedSourceGivesSilence) {
    test::TempDir dir;
    const std::string path = dir.File("s.wav");
    test::WriteFile(path, test::wave::Wave(test::wave::Pcm(1, 8000, 8), test::wave::Ramp(100)));
    TLumWaveFile source;
    int changes = 0;
    source.OnChange = [&](TLumDSPComponent*) { ++changes; };
    source.GetWave()->SetFileName(path);
    EXPECT_EQ(changes, 1);
    ASSERT_NE(source.GetPWaveFormat(), nullptr);
    EXPECT_EQ(source.GetPWaveFormat()->wBitsPerSample, 8);

    Bytes buffer(64, 7);
    platform::WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<char*>(buffer.data());
    hdr.dwBufferLength = 64;
    bool more = false;
    source.Opened();
    source.BufferLoad(&hdr, more); // opened, not started
    EXPECT_EQ(buffer, Bytes(64, 128));
    EXPECT_TRUE(more);
    source.Started();
    source.BufferLoad(&hdr, more);
    EXPECT_EQ(buffer, test::wave::Ramp(64));
    EXPECT_EQ(hdr.dwBytesRecorded, 64u);
    EXPECT_TRUE(more);
    source.SetEnabled(false);
    source.BufferLoad(&hdr, more);
    EXPECT_EQ(buffer, Bytes(64, 128));
    source.SetEnabled(true);
    source.BufferLoad(&hdr, more);
    EXPECT_EQ(hdr.dwBytesRecorded, 36u);
    EXPECT_FALSE(more);
    source.Stopped();
    source.Closed();
}

TEST(WavePlaySound, FileAndMemoryWavesPlayAndACompressedOneIsRefusedWithoutTheDefault) {
    platform::SetMainThread();
    test::TempDir dir;
    const Bytes image = test::wave::Wave(test::wave::Pcm(1, 8000, 8), test::wave::Ramp(4000));
    const std::string path = dir.File("p.wav");
    test::WriteFile(path, image);
    TLumWave file;
    file.SetFileName(path);
    EXPECT_TRUE(file.PlaySound(pmLoop));
    EXPECT_TRUE(platform::waveout::SoundPlaying());
    file.StopSound();
    EXPECT_FALSE(platform::waveout::SoundPlaying());

    auto stream = platform::MemoryStream::View(
        std::span<const std::byte>(reinterpret_cast<const std::byte*>(image.data()), image.size()));
    {
        TLumWave memory(true);
        memory.LoadFromStream(*stream);
        EXPECT_TRUE(memory.PlaySound(pmAsync));
        EXPECT_TRUE(platform::waveout::SoundPlaying());
    }
    // Gone with the wave whose image it played.
    EXPECT_FALSE(platform::waveout::SoundPlaying());

    test::wave::Fmt alaw = test::wave::Pcm(1, 8000, 8);
    alaw.tag = 6;
    test::WriteFile(path, test::wave::Wave(alaw, test::wave::Ramp(400)));
    TLumWave compressed;
    compressed.SetFileName(path);
    EXPECT_FALSE(compressed.PlaySound(pmSync));
    EXPECT_FALSE(platform::waveout::SoundPlaying());
}

} // namespace
} // namespace lum
