// The wave output component on the virtual device: what it plays against
// what the chain gave, on each notification route; positions and their
// wrap; pause, restart, reset, stop and close, also from a buffer event;
// looping; properties and errors.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "audio/lumwavout.h"
#include "core/lumutils.h"
#include "platform/base/messagequeue.h"
#include "platform/ui/uiservice.h"
#include "platform/waveout/waveouttest.h"

namespace lum {
namespace {

using platform::WAVEFORMATEX;
using platform::WAVEHDR;
using test::CaptureData;
using test::PcmFormat;
using test::ScopedEnv;
using Clock = std::chrono::steady_clock;

// A chain head that hands out Data once (or again and again when the
// output loops), and can be told to fail at one load.
class DataSource : public TLumDSPInterface {
public:
    explicit DataSource(std::vector<char> data) : data_(std::move(data)) {}

    void BufferLoad(WAVEHDR* hdr, bool& more) override {
        ++loads;
        if (loads == fail_at) throw std::runtime_error("source failed");
        std::lock_guard lock(mutex_);
        const std::size_t n = std::min<std::size_t>(hdr->dwBufferLength, data_.size() - pos_);
        std::copy_n(data_.begin() + static_cast<long>(pos_), n, hdr->lpData);
        pos_ += n;
        hdr->dwBytesRecorded = static_cast<platform::DWORD>(n);
        more = pos_ < data_.size();
        TLumWaveHeader* ext = LumWaveHeader(hdr);
        if (!more && ext->LoopMarker == kLumLoopMarker) {
            if (ext->LoopCount > 0) --ext->LoopsLeft;
            if (!(ext->LoopCount > 0 && ext->LoopsLeft < 0)) {
                pos_ = 0;
                more = true;
                ext->LoopHappened = kLumLoopMarker;
            }
        }
        TLumDSPInterface::BufferLoad(hdr, more);
    }
    void Reseting() override {
        std::lock_guard lock(mutex_);
        pos_ = 0;
        ++resets;
    }

    std::atomic<int> loads{0};
    std::atomic<int> fail_at{-1};
    std::atomic<int> resets{0};

private:
    std::mutex mutex_;
    std::vector<char> data_;
    std::size_t pos_ = 0;
};

std::string RouteName(TLumCBMode mode) {
    return mode == cmWindow ? "Window" : mode == cmCallback ? "Callback" : "Thread";
}

// Drains the main queue until Done holds or Seconds pass.
bool PumpUntil(const std::function<bool()>& done, double seconds = 5) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done() && Clock::now() < deadline)
        Delay(2, true);
    return done();
}

class WaveOut : public testing::Test {
protected:
    void SetUp() override {
        platform::SetMainThread();
        platform::ProcessMessages();
        capture_path_ = dir_.File("capture.wav");
        capture_ = std::make_unique<ScopedEnv>("LUM_WAVEOUT_CAPTURE", capture_path_.c_str());
        format_ = PcmFormat(16, 2, 22050);
    }

    // A source of Seconds of pattern data feeding a fresh output on the
    // virtual device.
    void Build(double seconds, int buffer_size = 2048, int buffers = 4) {
        const auto bytes =
            static_cast<std::size_t>(seconds * format_.nSamplesPerSec) * format_.nBlockAlign;
        data_ = test::Pattern(bytes, 3);
        source_ = std::make_unique<DataSource>(data_);
        out_ = std::make_unique<TLumWaveOut>();
        out_->SetDeviceID(static_cast<int>(platform::waveout::waveOutVirtualDevice()));
        out_->SetBufferSize(buffer_size);
        out_->SetNumBuffers(buffers);
        out_->SetInput(source_.get());
        source_->SetPWaveFormat(&format_);
        out_->OnError = [this](TLumDSPComponent*, const std::string& m) { errors_.push_back(m); };
        out_->OnStop = [this](TLumDSPComponent*) { ++stops_; };
    }

    // Plays to the end, sampling the position; false when it did not end.
    bool PlayToEnd(double timeout = 5) {
        out_->Start();
        return PumpUntil(
            [&] {
                positions_.push_back(out_->GetPosition());
                return !out_->IsPlaying();
            },
            timeout);
    }

    std::vector<char> Captured() {
        out_->Close();
        return CaptureData(capture_path_).value_or(std::vector<char>{});
    }

    test::TempDir dir_;
    std::string capture_path_;
    std::unique_ptr<ScopedEnv> capture_;
    WAVEFORMATEX format_{};
    std::vector<char> data_;
    std::unique_ptr<DataSource> source_;
    std::unique_ptr<TLumWaveOut> out_;
    std::vector<std::string> errors_;
    std::vector<std::int64_t> positions_;
    int stops_ = 0;
};

// ---------------------------------------------------------------------------
// Each route

class WaveOutRoute : public WaveOut,
                     public testing::WithParamInterface<std::tuple<TLumCBMode, bool>> {
protected:
    void SetUp() override {
        WaveOut::SetUp();
        FIX_BUFFERS = std::get<1>(GetParam());
    }
    void TearDown() override { FIX_BUFFERS = true; }
};

TEST_P(WaveOutRoute, EveryBufferIsHandedOnOnceInRingOrderAndThePlayIsExact) {
    Build(0.4);
    out_->SetCallBackMode(std::get<0>(GetParam()));
    struct Seen {
        WAVEHDR* hdr;
        TLumWaveHeader* next;
        std::vector<char> bytes;
        std::thread::id thread;
    };
    std::mutex mutex;
    std::vector<Seen> seen;
    Clock::time_point started, last_ready;
    platform::DWORD underruns = 0;
    out_->OnStart = [&](TLumDSPComponent*) { started = Clock::now(); };
    out_->OnBufferReady = [&](TLumDSPComponent*, WAVEHDR* hdr) {
        std::lock_guard lock(mutex);
        platform::waveout::waveOutGetUnderruns(out_->GetHandle(), &underruns);
        seen.push_back({hdr, LumWaveHeader(hdr)->NextHeader,
                        std::vector<char>(hdr->lpData, hdr->lpData + hdr->dwBufferLength),
                        std::this_thread::get_id()});
        last_ready = Clock::now();
    };
    ASSERT_TRUE(PlayToEnd());
    EXPECT_TRUE(errors_.empty()) << errors_.front();
    EXPECT_EQ(stops_, 1);

    // Once each, in order, adding up to the chain's data.
    std::vector<char> handed;
    for (const Seen& s : seen)
        handed.insert(handed.end(), s.bytes.begin(), s.bytes.end());
    EXPECT_EQ(handed, data_);
    ASSERT_EQ(seen.size(), (data_.size() + 2047) / 2048);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].hdr, seen[i % 4].hdr) << i;
        if (i + 1 < seen.size()) {
            EXPECT_EQ(&seen[i].next->Hdr, seen[i + 1].hdr) << i;
        }
    }
    const auto main = std::this_thread::get_id();
    for (const Seen& s : seen)
        EXPECT_EQ(s.thread == main, std::get<0>(GetParam()) == cmWindow);

    // The play takes the data's time: never less, and no more unless the
    // chain fell behind the device (a loaded machine, sanitizers).
    const double played = std::chrono::duration<double>(last_ready - started).count();
    EXPECT_GE(played, 0.4 * 0.95);
    if (underruns == 0) {
        EXPECT_LE(played, 0.4 * 1.05);
    }

    // The position only grows, and ends at the length in each time format.
    for (std::size_t i = 1; i < positions_.size(); ++i)
        ASSERT_LE(positions_[i - 1], positions_[i]) << i;
    EXPECT_EQ(out_->GetPosition(), static_cast<std::int64_t>(data_.size()));
    out_->SetTimeFormat(tfSample);
    EXPECT_EQ(out_->GetPosition(), static_cast<std::int64_t>(data_.size() / 4));
    out_->SetTimeFormat(tfMillisecond);
    EXPECT_EQ(out_->GetPosition(), 400);

    EXPECT_EQ(Captured(), data_);
}

INSTANTIATE_TEST_SUITE_P(Routes, WaveOutRoute,
                         testing::Values(std::make_tuple(cmWindow, true),
                                         std::make_tuple(cmCallback, true),
                                         std::make_tuple(cmThread, true),
                                         std::make_tuple(cmWindow, false)),
                         [](const auto& info) {
                             return RouteName(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "" : "PreparedEachTime");
                         });

// ---------------------------------------------------------------------------
// Pause, restart, reset, stop

TEST_F(WaveOut, PauseHoldsThePositionAndRestartPlaysOnWithNothingLost) {
    Build(0.3);
    int pauses = 0, restarts = 0;
    out_->OnPause = [&](TLumDSPComponent*) { ++pauses; };
    out_->OnRestart = [&](TLumDSPComponent*) { ++restarts; };
    out_->Start();
    PumpUntil([] { return false; }, 0.1);
    out_->Pause();
    EXPECT_TRUE(out_->IsPaused());
    const std::int64_t held = out_->GetPosition();
    EXPECT_GT(held, 0);
    PumpUntil([] { return false; }, 0.1);
    EXPECT_EQ(out_->GetPosition(), held);
    out_->Restart();
    EXPECT_FALSE(out_->IsPaused());
    ASSERT_TRUE(PumpUntil([&] { return !out_->IsPlaying(); }));
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(Captured(), data_);
}

TEST_F(WaveOut, ResetPlaysTheChainAgainFromItsStart) {
    Build(0.3);
    out_->Start();
    PumpUntil([] { return false; }, 0.1);
    out_->Reset();
    EXPECT_EQ(source_->resets.load(), 1);
    EXPECT_TRUE(out_->IsPlaying());
    EXPECT_LT(out_->GetPosition(), static_cast<std::int64_t>(data_.size() / 4));
    ASSERT_TRUE(PumpUntil([&] { return !out_->IsPlaying(); }));
    EXPECT_EQ(out_->GetPosition(), static_cast<std::int64_t>(data_.size()));
    const std::vector<char> got = Captured();
    ASSERT_GT(got.size(), data_.size());
    const std::size_t before = got.size() - data_.size();
    EXPECT_EQ(std::vector<char>(got.begin(), got.begin() + static_cast<long>(before)),
              std::vector<char>(data_.begin(), data_.begin() + static_cast<long>(before)));
    EXPECT_EQ(std::vector<char>(got.begin() + static_cast<long>(before), got.end()), data_);
}

TEST_F(WaveOut, StopAndCloseFromABufferEventFinishAfterTheEventReturns) {
    Build(0.5);
    int events = 0, closes = 0;
    bool stopped_inside = true;
    out_->OnClose = [&](TLumDSPComponent*) { ++closes; };
    out_->OnBufferReady = [&](TLumDSPComponent*, WAVEHDR*) {
        if (++events != 3) return;
        out_->Stop();
        out_->Close();
        stopped_inside = stops_ > 0 || !out_->IsOpen();
    };
    out_->Start();
    ASSERT_TRUE(PumpUntil([&] { return !out_->IsOpen(); }));
    EXPECT_FALSE(stopped_inside);
    EXPECT_EQ(events, 3);
    EXPECT_EQ(stops_, 1);
    EXPECT_EQ(closes, 1);
    const std::vector<char> got = CaptureData(capture_path_).value_or(std::vector<char>{});
    EXPECT_GE(got.size(), 3u * 2048);
    EXPECT_LT(got.size(), data_.size());
}

TEST_F(WaveOut, AStopKeepsItsPositionAndAStartBeginsAnew) {
    Build(0.3);
    out_->Start();
    PumpUntil([] { return false; }, 0.1);
    out_->Stop();
    const std::int64_t at = out_->GetPosition();
    EXPECT_GT(at, static_cast<std::int64_t>(0.05 * 88200));
    EXPECT_LT(at, static_cast<std::int64_t>(0.2 * 88200));
    EXPECT_FALSE(out_->IsPlaying());
    EXPECT_EQ(out_->GetPositionHigh(), 0);
    out_->Close();
    EXPECT_EQ(out_->GetPosition(), 0);
}

// ---------------------------------------------------------------------------
// Looping and positions

TEST_F(WaveOut, ALoopCountOfOnePlaysTheChainTwice) {
    Build(0.15);
    out_->SetLooping(true);
    out_->SetLoopCount(1);
    int loops = 0;
    out_->OnLooping = [&](TLumDSPComponent*) { ++loops; };
    ASSERT_TRUE(PlayToEnd());
    EXPECT_EQ(loops, 1);
    // The position counts from the start of the last loop, which is read
    // when the buffer that turned is processed: never before the turn, and
    // later by the hand-back's delay on a busy machine.
    const auto position = static_cast<double>(out_->GetPosition());
    EXPECT_LE(position, static_cast<double>(data_.size()));
    EXPECT_GE(position, 0.85 * static_cast<double>(data_.size()));
    std::vector<char> twice = data_;
    twice.insert(twice.end(), data_.begin(), data_.end());
    EXPECT_EQ(Captured(), twice);
}

TEST_F(WaveOut, AWrapOfTheDeviceCounterKeepsThePositionGrowing) {
    constexpr platform::DWORD kStart = (1u << 20) - 2205;
    platform::waveout::waveOutSetVirtualCounter(std::uint64_t{1} << 20, kStart);
    Build(0.2);
    out_->SetTimeFormat(tfSample);
    out_->Open();
    platform::waveout::waveOutSetVirtualCounter(0, 0);
    ASSERT_TRUE(PlayToEnd());
    for (std::size_t i = 1; i < positions_.size(); ++i)
        ASSERT_LE(positions_[i - 1], positions_[i]) << i;
    EXPECT_EQ(out_->GetPosition(), std::int64_t{kStart} + 4410);
}

// ---------------------------------------------------------------------------
// Properties, free functions and failures

TEST_F(WaveOut, PropertiesAreCheckedAndRefusedWhileOpen) {
    Build(0.1);
    out_->SetNumBuffers(1);
    EXPECT_EQ(out_->GetNumBuffers(), 4);
    out_->SetNumBuffers(1000);
    EXPECT_EQ(out_->GetNumBuffers(), 500);
    out_->SetBufferSize(10);
    EXPECT_EQ(out_->GetBufferSize(), 32u);
    out_->SetDeviceID(out_->GetNumDevs());
    EXPECT_EQ(out_->GetDeviceID(), -2);
    EXPECT_EQ(out_->GetProductName(), "No wave audio playing device found");
    try {
        out_->Open();
        ADD_FAILURE() << "opened an invalid device";
    } catch (const ELumWaveOutError& e) {
        EXPECT_EQ(e.Message(), "Invalid DeviceID");
    }
    const int virt = static_cast<int>(platform::waveout::waveOutVirtualDevice());
    out_->SetDeviceID(virt);
    EXPECT_EQ(out_->GetProductName(), "Virtual output");

    out_->Open();
    EXPECT_TRUE(out_->IsOpen());
    errors_.clear();
    for (auto change : std::vector<std::function<void()>>{
             [&] { out_->SetDeviceID(0); }, [&] { out_->SetBufferSize(4096); },
             [&] { out_->SetNumBuffers(8); }, [&] { out_->SetCallBackMode(cmThread); }}) {
        try {
            change();
            ADD_FAILURE() << "changed while open";
        } catch (const ELumWaveOutError& e) {
            EXPECT_EQ(e.Message(), "Change to property while device was open");
        }
    }
    EXPECT_EQ(errors_.size(), 4u);
    EXPECT_EQ(out_->GetDeviceID(), virt);
    // A new format closes the device.
    const WAVEFORMATEX mono = PcmFormat(8, 1, 11025);
    source_->SetPWaveFormat(&mono);
    EXPECT_FALSE(out_->IsOpen());
    EXPECT_EQ(out_->GetPWaveFormat()->nChannels, 1);
}

TEST_F(WaveOut, OpenAndStartFailuresSayWhyAndLeaveItClosed) {
    Build(0.0);
    EXPECT_FALSE(out_->QueryDevice(out_->GetDeviceID(), nullptr));
    WAVEFORMATEX adpcm = format_;
    adpcm.wFormatTag = platform::WAVE_FORMAT_ADPCM;
    EXPECT_FALSE(out_->QueryDevice(out_->GetDeviceID(), &adpcm));
    EXPECT_TRUE(out_->QueryDevice(out_->GetDeviceID(), &format_));

    // Nothing to play.
    try {
        out_->Start();
        ADD_FAILURE() << "started without data";
    } catch (const ELumWaveOutError& e) {
        EXPECT_EQ(e.Message(), "WaveOutStart:\n\rUnable to start device");
    }
    EXPECT_FALSE(out_->IsOpen());
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0], "WaveOutStart:\n\rUnable to start device");

    // No format, and a format no device plays.
    source_->SetPWaveFormat(nullptr);
    EXPECT_THROW(
        {
            try {
                out_->Open();
            } catch (const ELumWaveOutError& e) {
                EXPECT_EQ(e.Message(), "WaveOutOpen:\n\rInvalid wave format");
                throw;
            }
        },
        ELumWaveOutError);
    source_->SetPWaveFormat(&adpcm);
    try {
        out_->Open();
        ADD_FAILURE() << "opened for ADPCM";
    } catch (const ELumWaveOutError& e) {
        EXPECT_EQ(e.Message(), "WaveOutOpen:\n\rThe actual device can't play this format");
    }
    EXPECT_FALSE(out_->IsOpen());
}

TEST_F(WaveOut, ReadyAndNameAnswerForTheDevicesThatExist) {
    const int count = static_cast<int>(platform::waveout::waveOutGetNumDevs());
    const int virt = static_cast<int>(platform::waveout::waveOutVirtualDevice());
    EXPECT_TRUE(WaveOutReady(virt));
    EXPECT_TRUE(WaveOutReady(-1));
    EXPECT_FALSE(WaveOutReady(count));
    EXPECT_FALSE(WaveOutReady(-2));
    EXPECT_EQ(WaveOutGetDeviceName(virt), "Virtual output");
    EXPECT_EQ(WaveOutGetDeviceName(count), "");
}

class WaveOutFailure : public WaveOut, public testing::WithParamInterface<TLumCBMode> {
protected:
    void SetUp() override {
        WaveOut::SetUp();
        previous_ =
            platform::ui::InstallUiService(std::make_unique<platform::ui::HeadlessUiService>());
    }
    void TearDown() override { platform::ui::InstallUiService(std::move(previous_)); }
    std::unique_ptr<platform::ui::UiService> previous_;
};

// A chain that fails while playing: the error reaches OnError and the
// user, and playing ends.
TEST_P(WaveOutFailure, AFailingLoadEndsThePlayAndIsReported) {
    Build(0.3);
    out_->SetCallBackMode(GetParam());
    source_->fail_at = 6;
    out_->Start();
    bool raised = false;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (out_->IsPlaying() && Clock::now() < deadline) {
        try {
            Delay(2, true);
        } catch (const std::runtime_error& e) {
            raised = std::string(e.what()) == "source failed";
        }
    }
    EXPECT_FALSE(out_->IsPlaying());
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0], "source failed");
    auto& ui = static_cast<platform::ui::HeadlessUiService&>(platform::ui::Ui());
    if (GetParam() == cmWindow) {
        // On the main thread the exception goes on to whoever drains.
        EXPECT_TRUE(raised);
    } else {
        PumpUntil([&] { return !ui.Messages().empty(); }, 1);
        ASSERT_EQ(ui.Messages().size(), 1u);
        EXPECT_EQ(ui.Messages()[0].text, "source failed.");
    }
    if (GetParam() == cmThread) {
        ASSERT_TRUE(PumpUntil([&] { return !out_->IsOpen(); }));
    }
}

INSTANTIATE_TEST_SUITE_P(Routes, WaveOutFailure, testing::Values(cmWindow, cmCallback, cmThread),
                         [](const auto& info) { return RouteName(info.param); });

TEST_F(WaveOut, DestroyingAPlayingOutputStopsAndClosesIt) {
    for (TLumCBMode mode : {cmWindow, cmCallback, cmThread}) {
        Build(0.5);
        out_->SetCallBackMode(mode);
        int closes = 0;
        out_->OnClose = [&](TLumDSPComponent*) { ++closes; };
        out_->Start();
        PumpUntil([] { return false; }, 0.05);
        out_.reset();
        EXPECT_EQ(closes, 0) << mode; // not raised while being destroyed
        platform::ProcessMessages();
    }
}

} // namespace
} // namespace lum
