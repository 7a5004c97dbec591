// The wave output device: the sink at the end of a sound chain. It keeps a
// ring of buffers queued at one of the system's wave output devices, refills
// each from the chain as soon as the device hands it back, and reports a
// 64-bit play position.
//
// States: closed → (Open) open → (Start) playing ⇄ (Pause/Restart) playing
// and paused → (Stop) open → (Close) closed. Reset plays the chain again
// from its start and keeps the state. The chain's notifications (Opened,
// Started, Paused, Restarted, Stopped, Closed) call these operations, and
// they pass the change on along the chain segment.
//
// Routes: a returned buffer is refilled on the main thread (cmWindow, the
// default: the main-thread queue must be drained), on the device's own
// thread (cmCallback) or on an output thread of the component's own
// (cmThread). Each route refills every buffer once, in ring order. Open,
// Start, Pause, Restart, Reset, Stop and Close run on the main thread; Stop
// and Close may be called from a buffer event, and then finish once the
// event returned.
//
// Failures raise OnError and then ELumWaveOutError with the message; the
// component is left closed (open, start) or stopped (the others) first.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/lumwavehdr.h"
#include "chain/lumdspobj.h"
#include "core/lumutils.h"
#include "platform/base/exception.h"
#include "platform/base/messagequeue.h"
#include "platform/waveout/waveout.h"

namespace lum {

class ELumWaveOutError : public Exception {
public:
    using Exception::Exception;
};

// Program-wide settings. With FIX_BUFFERS the buffers are prepared once
// when playing starts and queued again without being prepared anew.
// WAVEOUT_PRIORITY raises the output thread by that many steps (where the
// system lets it; otherwise it runs at normal priority).
extern bool FIX_BUFFERS;
extern std::int32_t WAVEOUT_PRIORITY;

// True when DeviceID (−1 the mapper) exists and opens with 8-bit mono
// 22050 Hz PCM; the device is closed again.
bool WaveOutReady(int device_id);
// The product name of the device, or empty.
std::string WaveOutGetDeviceName(int device_id);

using TLumWaveOutErrorEvent =
    std::function<void(TLumDSPComponent* sender, const std::string& message)>;

class TLumWaveOutThread;

class TLumWaveOut : public TLumCustomSoundComponent {
public:
    // Device state flags.
    static constexpr int kClosed = 1;
    static constexpr int kOpen = 2;
    static constexpr int kPlaying = 4;
    static constexpr int kPaused = 8;
    static constexpr int kMaxBuffers = 500;

    explicit TLumWaveOut(TComponent* owner = nullptr);
    ~TLumWaveOut() override;

    // Properties. The setters of DeviceID, NumBuffers, BufferSize and
    // CallBackMode raise "Change to property while device was open" while
    // the device is open.
    int GetDeviceID() const { return device_id_; }
    // −1 (the mapper) … device count − 1; anything else is kept as −2
    // (invalid), which Open refuses.
    void SetDeviceID(int id);
    const std::string& GetProductName() const { return product_name_; }
    void SetProductName(const std::string&) {} // read from the device
    platform::DWORD GetDriverVersion() const { return driver_version_; }
    int GetNumBuffers() const { return num_buffers_; }
    // Values of 1 or less are ignored; at most kMaxBuffers.
    void SetNumBuffers(int n);
    // At least 32 bytes.
    void SetBufferSize(std::int32_t bytes) override;
    TLumTimeFormats GetTimeFormat() const { return time_format_; }
    void SetTimeFormat(TLumTimeFormats f) { time_format_ = f; }
    TLumCBMode GetCallBackMode() const { return mode_; }
    void SetCallBackMode(TLumCBMode mode);
    bool GetLooping() const { return looping_; }
    void SetLooping(bool looping);
    int GetLoopCount() const { return loop_count_; }
    void SetLoopCount(int count);
    bool GetShowHourGlass() const { return show_hourglass_; }
    void SetShowHourGlass(bool show) { show_hourglass_ = show; }

    int GetNumDevs() const { return num_devs_; }
    // The open device; null while closed.
    platform::waveout::HWAVEOUT GetHandle() const { return device_; }
    platform::waveout::MMRESULT GetLastResult() const { return last_result_; }
    int GetDeviceState() const { return state_.load(); }
    bool IsOpen() const { return (state_ & kOpen) != 0; }
    bool IsPlaying() const { return (state_ & kPlaying) != 0; }
    bool IsPaused() const { return (state_ & kPaused) != 0; }

    // Closes the device, then takes the format.
    void SetPWaveFormat(const platform::WAVEFORMATEX* format) override;

    // Does the device play the format? It must accept it in a query, and
    // for 8 or 16-bit mono or stereo PCM at 8000 to 48000 Hz also list the
    // matching standard format bit.
    bool QueryDevice(int device_id, const platform::WAVEFORMATEX* format);

    // The play position in the TimeFormat (bytes by default): samples played
    // since Start (or the last loop's start), counting the device counter's
    // wraps. 0 while closed, without a format or while closing; once
    // stopped, where it stopped.
    std::int64_t GetPosition();
    std::int32_t GetPositionHigh();
    // The device's own sample counter (32 bits, it wraps).
    std::int64_t GetSamplePosition();

    void Open();
    void Close();
    void Start();
    void Pause();
    void Restart();
    void Stop();
    void Reset();

    // The chain's notifications.
    void Opened() override { Open(); }
    void Closed() override { Close(); }
    void Started() override { Start(); }
    void Paused() override { Pause(); }
    void Restarted() override { Restart(); }
    void Stopped() override { Stop(); }
    // Pulls from the chain, timed by the load meter.
    void BufferLoad(platform::WAVEHDR* hdr, bool& more_buffers) override;
    // Does nothing: the output hands its own buffers downstream once they
    // played (the inherited BufferReady), not what reaches it from above.
    void BufferReady(platform::WAVEHDR*) override {}
    std::optional<TLumDSPComponent*> PublishedPort(std::string_view name) const override;

    TLumWaveOutErrorEvent OnError;
    TLumDSPNotifyEvent OnOpen;
    TLumDSPNotifyEvent OnStart;
    TLumDSPNotifyEvent OnPause;
    TLumDSPNotifyEvent OnRestart;
    TLumDSPNotifyEvent OnStop;
    TLumDSPNotifyEvent OnClose;
    TLumDSPNotifyEvent OnLooping;

protected:
    // Whether the device reports through the callback function (on its own
    // thread) rather than to the hidden window; by the platform's flags.
    virtual bool NotifyByFunction() const;

private:
    friend class TLumWaveOutThread;

    // Private messages of the hidden window.
    static constexpr platform::UINT kStopRequest = 0x8001;
    static constexpr platform::UINT kBufferDone = 0x8002;
    static constexpr platform::UINT kThreadFailed = 0x8003;

    static void DeviceCallback(platform::waveout::HWAVEOUT hwo, platform::UINT msg,
                               platform::waveout::DWORD_PTR instance,
                               platform::waveout::DWORD_PTR param1,
                               platform::waveout::DWORD_PTR param2);
    void WindowProc(platform::UINT msg, platform::WPARAM wparam, platform::LPARAM lparam);
    // A device notification (on the device's thread, or the window's).
    void DeviceMessage(platform::UINT msg, platform::WAVEHDR* hdr, bool on_window);
    // A returned buffer on its route; Posted when it came through a queue.
    void ProcessHeader(platform::WAVEHDR* hdr, bool posted);
    void FinishProcessing();
    // Runs ProcessHeader off the main thread: an exception goes to OnError
    // and then to the application's handler.
    void ProcessOffMain(platform::WAVEHDR* hdr, bool posted);

    void DoOpen();
    void DoStart();
    void LeavePlaying();
    void FinishStop();
    void CloseQuietly();
    void StopQuietly();
    void StartThread();
    void EndThread();
    TLumWaveHeader* AllocHeader();
    void FreeHeaders();
    void LoadHeader(TLumWaveHeader* h);
    void QueueHeader(TLumWaveHeader* h);
    // Samples played, before the time format: device counter, paused
    // offset, wraps, less the loop start.
    std::int64_t CurrentSamples();
    std::int64_t ToTimeFormat(std::int64_t samples) const;
    void WaitFor(const std::function<bool()>& done, int steps, int step_ms);

    [[noreturn]] void Fail(const std::string& message);
    std::string DeviceError(const char* prefix, platform::waveout::MMRESULT result);
    void RaiseOnError(const std::string& message);
    void RefusedWhileOpen();

    // Properties.
    int device_id_ = 0;
    std::string product_name_;
    platform::DWORD driver_version_ = 0;
    int num_buffers_ = 10;
    TLumTimeFormats time_format_ = tfByte;
    TLumCBMode mode_ = cmWindow;
    bool looping_ = false;
    int loop_count_ = 0;
    bool show_hourglass_ = true;

    // Device.
    std::atomic<int> state_{kClosed};
    platform::waveout::HWAVEOUT device_ = nullptr;
    std::atomic<platform::waveout::HWAVEOUT> device_handle_{nullptr}; // for the thread's check
    platform::HWND window_ = nullptr;
    bool notify_by_function_ = true;
    int num_devs_ = 0;
    platform::waveout::MMRESULT last_result_ = 0;

    // The ring.
    std::vector<TLumWaveHeader*> headers_;
    int queued_ = 0;
    int ring_index_ = 0;

    // Guards the counts and positions the routes share with the main thread.
    std::mutex lock_;
    int at_device_ = 0;
    int awaiting_ = 0; // posted to a route, not yet processed
    int processing_ = 0;
    std::atomic<bool> closing_{false};
    std::atomic<bool> resetting_{false};
    std::atomic<bool> stop_requested_{false};
    std::atomic<bool> stop_pending_{false};
    bool close_deferred_ = false;
    std::atomic<bool> more_data_{false};
    bool meter_on_ = false;

    // Positions (under lock_).
    std::int64_t bytes_played_ = 0;
    std::int64_t paused_offset_ = 0;
    std::int64_t last_position_ = 0;
    std::int64_t wraps_ = 0;
    std::int64_t wrap_base_ = 0;
    std::int64_t loop_start_ = 0;
    std::int64_t stop_position_ = 0;
    int loops_left_ = 0;

    std::unique_ptr<TLumWaveOutThread> thread_;
    std::exception_ptr thread_error_;
};

// The output thread of cmThread: takes the done messages of its queue and
// refills the buffers, until told to end.
class TLumWaveOutThread : public TLumDSPThread {
public:
    explicit TLumWaveOutThread(TLumWaveOut* owner);
    ~TLumWaveOutThread() override;

    platform::ThreadQueue Queue;
    platform::Event StartedEvent{false, false};
    platform::Event TerminateEvent{false, false};
    platform::Event FlushEvent{true, false};
    std::atomic<bool> Failed{false};

protected:
    void Execute() override;

private:
    TLumWaveOut* wave_out_;
};

} // namespace lum
