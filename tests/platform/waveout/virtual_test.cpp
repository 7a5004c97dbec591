// The wave output service on the virtual device: the device list, queries,
// buffers played in order at the format's rate and captured exactly,
// pause, reset, position and its wrap, volume, underruns, the window
// route and the errors of the buffer calls.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/base/messagequeue.h"
#include "platform/waveout/waveouttest.h"

namespace lum::platform::waveout {
namespace {

using test::Buffer;
using test::CaptureData;
using test::PcmFormat;
using test::Recorder;
using test::ScopedEnv;
using test::SecondsSince;
using Clock = std::chrono::steady_clock;

class VirtualDevice : public testing::Test {
protected:
    // One short play before the timed ones: a sanitizer's first pass over
    // the device's thread costs a large part of a second.
    static void SetUpTestSuite() {
        Recorder recorder;
        const WAVEFORMATEX f = PcmFormat(8, 1, 8000);
        Buffer b(std::vector<char>(80, 0));
        HWAVEOUT hwo = nullptr;
        ASSERT_EQ(waveOutOpen(&hwo, waveOutVirtualDevice(), &f, Recorder::Callback(),
                              recorder.Instance(), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        waveOutPrepareHeader(hwo, &b.hdr, sizeof(WAVEHDR));
        waveOutWrite(hwo, &b.hdr, sizeof(WAVEHDR));
        recorder.WaitDone(1);
        waveOutUnprepareHeader(hwo, &b.hdr, sizeof(WAVEHDR));
        waveOutClose(hwo);
    }

    void SetUp() override {
        capture_path_ = dir_.File("capture.wav");
        capture_ = std::make_unique<ScopedEnv>("LUM_WAVEOUT_CAPTURE", capture_path_.c_str());
    }
    void TearDown() override {
        if (hwo_ != nullptr) {
            waveOutReset(hwo_);
            for (auto& b : buffers_)
                waveOutUnprepareHeader(hwo_, &b->hdr, sizeof(WAVEHDR));
            waveOutClose(hwo_);
        }
    }

    void OpenVirtual(const WAVEFORMATEX& format) {
        format_ = format;
        ASSERT_EQ(waveOutOpen(&hwo_, waveOutVirtualDevice(), &format_, Recorder::Callback(),
                              recorder_.Instance(), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
    }
    // A prepared buffer of Seconds of pattern data.
    Buffer& AddBuffer(double seconds, std::uint32_t seed) {
        const auto frames = static_cast<std::size_t>(seconds * format_.nSamplesPerSec);
        buffers_.push_back(
            std::make_unique<Buffer>(test::Pattern(frames * format_.nBlockAlign, seed)));
        Buffer& b = *buffers_.back();
        EXPECT_EQ(waveOutPrepareHeader(hwo_, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        return b;
    }
    void Write(Buffer& b) {
        ASSERT_EQ(waveOutWrite(hwo_, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    DWORD Samples() {
        MMTIME t{};
        t.wType = TIME_SAMPLES;
        EXPECT_EQ(waveOutGetPosition(hwo_, &t, sizeof t), MMSYSERR_NOERROR);
        EXPECT_EQ(t.wType, TIME_SAMPLES);
        return t.u.sample;
    }
    void CloseDevice() {
        for (auto& b : buffers_)
            EXPECT_EQ(waveOutUnprepareHeader(hwo_, &b->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutClose(hwo_), MMSYSERR_NOERROR);
        hwo_ = nullptr;
    }
    std::vector<char> Captured() {
        auto data = CaptureData(capture_path_);
        EXPECT_TRUE(data.has_value());
        return data.value_or(std::vector<char>{});
    }

    test::TempDir dir_;
    std::string capture_path_;
    std::unique_ptr<ScopedEnv> capture_;
    WAVEFORMATEX format_{};
    HWAVEOUT hwo_ = nullptr;
    Recorder recorder_;
    std::vector<std::unique_ptr<Buffer>> buffers_;
};

TEST(WaveOutDevices, TheVirtualDeviceIsAlwaysListedAndTheMapperTakesTheFirstThatPlays) {
    const UINT count = waveOutGetNumDevs();
    ASSERT_GE(count, 1u);
    const UINT virt = waveOutVirtualDevice();
    ASSERT_LT(virt, count);
    WAVEOUTCAPS caps{};
    ASSERT_EQ(waveOutGetDevCaps(virt, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Virtual output");
    EXPECT_EQ(caps.dwFormats, 0xFFFu);
    EXPECT_NE(caps.dwSupport & WAVECAPS_VOLUME, 0u);
    ASSERT_EQ(waveOutGetDevCaps(WAVE_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Wave mapper");
    EXPECT_EQ(waveOutGetDevCaps(count, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutGetDevCaps(0, &caps, 8), MMSYSERR_INVALPARAM);

    // The mapper opens device 0 for plain PCM.
    const WAVEFORMATEX f = PcmFormat(16, 2, 44100);
    HWAVEOUT hwo = nullptr;
    ASSERT_EQ(waveOutOpen(&hwo, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    UINT id = 99;
    EXPECT_EQ(waveOutGetID(hwo, &id), MMSYSERR_NOERROR);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
}

TEST(WaveOutDevices, WithoutAUsableAlsaDefaultTheVirtualDeviceComesFirst) {
    {
        ScopedEnv alsa("LUM_ALSA_DEVICE", "lum-no-such-pcm");
        waveOutRescanDevices();
        EXPECT_FALSE(waveOutAlsaUsable());
        EXPECT_EQ(waveOutVirtualDevice(), 0u);
        EXPECT_NE(std::string(waveOutAlsaProblem()).find("lum-no-such-pcm"), std::string::npos)
            << waveOutAlsaProblem();
        WAVEOUTCAPS caps{};
        ASSERT_EQ(waveOutGetDevCaps(0, &caps, sizeof caps), MMSYSERR_NOERROR);
        EXPECT_STREQ(caps.szPname, "Virtual output");
    }
    waveOutRescanDevices();
}

TEST(WaveOutDevices, AQueryOpensNothingAndRefusesWhatNoDevicePlays) {
    const UINT virt = waveOutVirtualDevice();
    for (const auto& f : {PcmFormat(8, 1, 8000), PcmFormat(16, 2, 44100), PcmFormat(24, 6, 96000),
                          PcmFormat(32, 2, 48000)})
        EXPECT_EQ(waveOutOpen(nullptr, virt, &f, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR)
            << f.wBitsPerSample << " bits, " << f.nChannels << " channels";

    WAVEFORMATEX adpcm = PcmFormat(4, 1, 22050);
    adpcm.wFormatTag = WAVE_FORMAT_ADPCM;
    adpcm.nBlockAlign = 256;
    WAVEFORMATEX misaligned = PcmFormat(16, 2, 44100);
    misaligned.nBlockAlign = 3;
    WAVEFORMATEX no_channels = PcmFormat(16, 2, 44100);
    no_channels.nChannels = 0;
    for (const auto& f : {adpcm, misaligned, no_channels, PcmFormat(12, 1, 8000)}) {
        EXPECT_EQ(waveOutOpen(nullptr, virt, &f, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
        EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    }
    const WAVEFORMATEX f = PcmFormat(16, 1, 8000);
    EXPECT_EQ(waveOutOpen(nullptr, waveOutGetNumDevs(), &f, 0, 0, WAVE_FORMAT_QUERY),
              MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(nullptr, virt, &f, 0, 0, 0), MMSYSERR_INVALPARAM);
    HWAVEOUT hwo = nullptr;
    EXPECT_EQ(waveOutOpen(&hwo, virt, &f, 0, 0, 0x00050000 /* an event */), MMSYSERR_INVALFLAG);
}

TEST_F(VirtualDevice, BuffersPlayInOrderAtTheRateAndTheCaptureHoldsExactlyThem) {
    OpenVirtual(PcmFormat(16, 2, 22050));
    Buffer& a = AddBuffer(0.05, 1);
    Buffer& b = AddBuffer(0.08, 2);
    Buffer& c = AddBuffer(0.02, 3);
    const auto start = Clock::now();
    Write(a);
    Write(b);
    Write(c);
    EXPECT_NE(HeaderFlags(&a.hdr) & WHDR_INQUEUE, 0u);
    ASSERT_TRUE(recorder_.WaitDone(3));
    const double seconds = SecondsSince(start);
    EXPECT_GE(seconds, 0.15 * 0.95);
    EXPECT_LT(seconds, 0.15 * 1.5);
    EXPECT_EQ(recorder_.Done(), (std::vector<WAVEHDR*>{&a.hdr, &b.hdr, &c.hdr}));
    for (Buffer* x : {&a, &b, &c}) {
        EXPECT_NE(x->hdr.dwFlags & WHDR_DONE, 0u);
        EXPECT_EQ(x->hdr.dwFlags & WHDR_INQUEUE, 0u);
    }
    EXPECT_EQ(Samples(), static_cast<DWORD>((a.data.size() + b.data.size() + c.data.size()) / 4));
    CloseDevice();

    const auto events = recorder_.Events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events.front().msg, WOM_OPEN);
    EXPECT_EQ(events.back().msg, WOM_CLOSE);
    std::vector<char> expected = a.data;
    expected.insert(expected.end(), b.data.begin(), b.data.end());
    expected.insert(expected.end(), c.data.begin(), c.data.end());
    EXPECT_EQ(Captured(), expected);
}

TEST_F(VirtualDevice, AWholeFrameIsPlayedOfABufferThatEndsInAPartFrame) {
    OpenVirtual(PcmFormat(16, 2, 8000));
    Buffer& a = AddBuffer(0.01, 4);
    a.hdr.dwBufferLength -= 3;
    Buffer& empty = AddBuffer(0.0, 5);
    Write(a);
    Write(empty);
    ASSERT_TRUE(recorder_.WaitDone(2));
    EXPECT_EQ(recorder_.Done(), (std::vector<WAVEHDR*>{&a.hdr, &empty.hdr}));
    CloseDevice();
    EXPECT_EQ(Captured(), std::vector<char>(a.data.begin(), a.data.end() - 4));
}

TEST_F(VirtualDevice, PauseHoldsThePositionAndRestartPlaysOnWithNothingLost) {
    OpenVirtual(PcmFormat(8, 1, 8000));
    Buffer& a = AddBuffer(0.2, 6);
    const auto start = Clock::now();
    Write(a);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(waveOutPause(hwo_), MMSYSERR_NOERROR);
    const DWORD held = Samples();
    EXPECT_GT(held, 0u);
    EXPECT_LT(held, 1600u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Samples(), held);
    EXPECT_EQ(recorder_.Done().size(), 0u);
    ASSERT_EQ(waveOutRestart(hwo_), MMSYSERR_NOERROR);
    ASSERT_TRUE(recorder_.WaitDone(1));
    EXPECT_GE(SecondsSince(start), (0.2 + 0.1) * 0.95);
    EXPECT_EQ(Samples(), 1600u);
    CloseDevice();
    EXPECT_EQ(Captured(), a.data);
}

TEST_F(VirtualDevice, ResetReturnsEveryBufferInOrderAndStartsTheCountAgain) {
    OpenVirtual(PcmFormat(16, 1, 8000));
    Buffer& a = AddBuffer(0.2, 7);
    Buffer& b = AddBuffer(0.2, 8);
    Buffer& c = AddBuffer(0.2, 9);
    Write(a);
    Write(b);
    Write(c);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    ASSERT_EQ(waveOutReset(hwo_), MMSYSERR_NOERROR);
    // Marked done as the reset returns; the notifications follow.
    for (Buffer* x : {&a, &b, &c}) {
        EXPECT_NE(x->hdr.dwFlags & WHDR_DONE, 0u);
        EXPECT_EQ(x->hdr.dwFlags & WHDR_INQUEUE, 0u);
    }
    EXPECT_EQ(Samples(), 0u);
    ASSERT_TRUE(recorder_.WaitDone(3));
    EXPECT_EQ(recorder_.Done(), (std::vector<WAVEHDR*>{&a.hdr, &b.hdr, &c.hdr}));

    // Playing on after the reset counts from 0 and captures after the
    // part that was played before it.
    Buffer& d = AddBuffer(0.02, 10);
    Write(d);
    ASSERT_TRUE(recorder_.WaitDone(4));
    EXPECT_EQ(Samples(), 160u);
    CloseDevice();
    const std::vector<char> got = Captured();
    ASSERT_GE(got.size(), d.data.size());
    const std::size_t before = got.size() - d.data.size();
    EXPECT_GT(before, 0u);
    EXPECT_LT(before, a.data.size());
    EXPECT_EQ(std::vector<char>(got.begin(), got.begin() + static_cast<long>(before)),
              std::vector<char>(a.data.begin(), a.data.begin() + static_cast<long>(before)));
    EXPECT_EQ(std::vector<char>(got.begin() + static_cast<long>(before), got.end()), d.data);
}

TEST_F(VirtualDevice, ACallbackMayRequeueItsBufferAndReadThePosition) {
    std::atomic<int> rounds{0};
    std::atomic<DWORD> last_position{0};
    // Set before the open: the device's thread reads it from WOM_OPEN on.
    recorder_.on_event = [&](UINT msg, WAVEHDR* hdr) {
        if (msg != WOM_DONE || ++rounds >= 5) return;
        MMTIME t{};
        t.wType = TIME_BYTES;
        waveOutGetPosition(hwo_, &t, sizeof t);
        last_position = t.u.cb;
        waveOutWrite(hwo_, hdr, sizeof(WAVEHDR));
    };
    OpenVirtual(PcmFormat(16, 2, 44100));
    Buffer& a = AddBuffer(0.01, 11);
    Write(a);
    ASSERT_TRUE(recorder_.WaitDone(5));
    EXPECT_EQ(rounds.load(), 5);
    EXPECT_EQ(last_position.load(), 4 * a.data.size());
    CloseDevice();
    EXPECT_EQ(Captured().size(), 5 * a.data.size());
}

TEST_F(VirtualDevice, TheSampleCounterWrapsAtItsModulus) {
    waveOutSetVirtualCounter(std::uint64_t{1} << 20, (1u << 20) - 100);
    OpenVirtual(PcmFormat(8, 1, 8000));
    waveOutSetVirtualCounter(0, 0);
    EXPECT_EQ(Samples(), (1u << 20) - 100);
    Buffer& a = AddBuffer(0.05, 12);
    Write(a);
    ASSERT_TRUE(recorder_.WaitDone(1));
    EXPECT_EQ(Samples(), 300u);
    MMTIME t{};
    t.wType = TIME_BYTES;
    ASSERT_EQ(waveOutGetPosition(hwo_, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.cb, 400u);
    t.wType = TIME_SMPTE; // not kept: answered in bytes
    ASSERT_EQ(waveOutGetPosition(hwo_, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.wType, TIME_BYTES);
}

TEST_F(VirtualDevice, TheVolumeScalesEachChannel) {
    OpenVirtual(PcmFormat(16, 2, 8000));
    EXPECT_EQ(waveOutSetVolume(hwo_, 0x4000FFFF), MMSYSERR_NOERROR);
    DWORD volume = 0;
    EXPECT_EQ(waveOutGetVolume(hwo_, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 0x4000FFFFu);
    Buffer& a = AddBuffer(0.01, 13);
    Write(a);
    ASSERT_TRUE(recorder_.WaitDone(1));
    EXPECT_EQ(waveOutSetVolume(hwo_, 0xFFFFFFFF), MMSYSERR_NOERROR);
    CloseDevice();
    const std::vector<char> got = Captured();
    ASSERT_EQ(got.size(), a.data.size());
    for (std::size_t i = 0; i + 1 < got.size(); i += 2) {
        std::int16_t in, out;
        std::memcpy(&in, a.data.data() + i, 2);
        std::memcpy(&out, got.data() + i, 2);
        const bool left = (i / 2) % 2 == 0;
        EXPECT_EQ(out, left ? in : static_cast<std::int16_t>(in * 0x4000 / 65535)) << i;
    }
}

TEST_F(VirtualDevice, AnUnderrunIsCountedWhenDataComesAfterTheDeviceRanDry) {
    OpenVirtual(PcmFormat(16, 1, 8000));
    Buffer& a = AddBuffer(0.03, 14);
    Buffer& b = AddBuffer(0.03, 15);
    Write(a);
    Write(b);
    ASSERT_TRUE(recorder_.WaitDone(2));
    DWORD underruns = 99;
    ASSERT_EQ(waveOutGetUnderruns(hwo_, &underruns), MMSYSERR_NOERROR);
    EXPECT_EQ(underruns, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Write(a);
    ASSERT_TRUE(recorder_.WaitDone(3));
    ASSERT_EQ(waveOutGetUnderruns(hwo_, &underruns), MMSYSERR_NOERROR);
    EXPECT_EQ(underruns, 1u);
}

TEST_F(VirtualDevice, BufferCallsCheckTheHeaderState) {
    OpenVirtual(PcmFormat(16, 1, 8000));
    Buffer plain(test::Pattern(160));
    EXPECT_EQ(waveOutWrite(hwo_, &plain.hdr, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    EXPECT_EQ(waveOutWrite(hwo_, &plain.hdr, 8), MMSYSERR_INVALPARAM);
    Buffer& a = AddBuffer(0.1, 16);
    EXPECT_NE(a.hdr.dwFlags & WHDR_PREPARED, 0u);
    Write(a);
    EXPECT_EQ(waveOutWrite(hwo_, &a.hdr, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(hwo_, &a.hdr, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(hwo_), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutReset(hwo_), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutUnprepareHeader(hwo_, &a.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(a.hdr.dwFlags & WHDR_PREPARED, 0u);
    HWAVEOUT closed = hwo_;
    buffers_.clear();
    CloseDevice();
    EXPECT_EQ(waveOutPause(closed), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutClose(closed), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutReset(reinterpret_cast<HWAVEOUT>(0x1234)), MMSYSERR_INVALHANDLE);
}

TEST(WaveOutErrors, EveryCodeHasATextAndOthersAreOutOfRange) {
    char text[128];
    for (MMRESULT code :
         {MMSYSERR_ERROR, MMSYSERR_BADDEVICEID, MMSYSERR_ALLOCATED, MMSYSERR_INVALHANDLE,
          MMSYSERR_NODRIVER, WAVERR_BADFORMAT, WAVERR_STILLPLAYING, WAVERR_UNPREPARED}) {
        ASSERT_EQ(waveOutGetErrorText(code, text, sizeof text), MMSYSERR_NOERROR);
        EXPECT_GT(std::strlen(text), 10u) << code;
    }
    EXPECT_EQ(waveOutGetErrorText(12345, text, sizeof text), MMSYSERR_BADERRNUM);
    EXPECT_STREQ(text, "");
    char small[8];
    ASSERT_EQ(waveOutGetErrorText(WAVERR_BADFORMAT, small, sizeof small), MMSYSERR_NOERROR);
    EXPECT_EQ(std::strlen(small), 7u);
}

// Notifications to a hidden window arrive only as the main queue is
// drained, and those still waiting can be taken back.
TEST(WaveOutWindow, NotificationsArePostedToTheWindowAndCanBeRemoved) {
    test::TempDir dir;
    ScopedEnv capture("LUM_WAVEOUT_CAPTURE", nullptr);
    SetMainThread();
    std::vector<UINT> seen;
    HWND window = AllocateHWnd([&](HWND, UINT msg, WPARAM, LPARAM) { seen.push_back(msg); });
    const WAVEFORMATEX f = PcmFormat(16, 1, 8000);
    HWAVEOUT hwo = nullptr;
    ASSERT_EQ(waveOutOpen(&hwo, waveOutVirtualDevice(), &f, reinterpret_cast<DWORD_PTR>(window), 0,
                          CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    Buffer a(test::Pattern(80)), b(test::Pattern(80));
    for (Buffer* x : {&a, &b}) {
        ASSERT_EQ(waveOutPrepareHeader(hwo, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(hwo, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!(HeaderDone(&b.hdr) && PendingMessages() >= 3) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(RemoveMessages(window, WOM_DONE, WOM_DONE), 2);
    ProcessMessages();
    EXPECT_EQ(seen, std::vector<UINT>{WOM_OPEN});
    ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
    ProcessMessages();
    EXPECT_EQ(seen, (std::vector<UINT>{WOM_OPEN, WOM_CLOSE}));
    // A window that is gone gets nothing, and opening on it is refused.
    DeallocateHWnd(window);
    EXPECT_EQ(waveOutOpen(&hwo, waveOutVirtualDevice(), &f, reinterpret_cast<DWORD_PTR>(window), 0,
                          CALLBACK_WINDOW),
              MMSYSERR_INVALPARAM);
}

} // namespace
} // namespace lum::platform::waveout
