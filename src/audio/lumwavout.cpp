#include "audio/lumwavout.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "chain/lumdspmtr.h"
#include "core/lumobj.h"
#include "platform/base/system.h"
#include "platform/ui/uiservice.h"

namespace lum {

using namespace platform::waveout;
using platform::DWORD;
using platform::HWND;
using platform::LPARAM;
using platform::UINT;
using platform::WAVEFORMATEX;
using platform::WAVEHDR;
using platform::WPARAM;

bool FIX_BUFFERS = true;
std::int32_t WAVEOUT_PRIORITY = 1;

namespace {

// A text of the message table; the table doubles its apostrophes.
std::string Msg(std::uint16_t ident) {
    std::string s = LoadResStr(ident);
    for (std::size_t at = s.find("''"); at != std::string::npos; at = s.find("''", at + 1))
        s.erase(at, 1);
    return s;
}

const std::string kChangeWhileOpen = "Change to property while device was open";

// A wait cursor for as long as the guard lives, when asked for.
class BusyCursor {
public:
    explicit BusyCursor(bool show) : show_(show) {
        if (show_) platform::ui::SetAppCursor(platform::ui::AppCursor::Wait);
    }
    ~BusyCursor() {
        if (show_) platform::ui::SetAppCursor(platform::ui::AppCursor::Default);
    }

private:
    bool show_;
};

// Brackets a load or a hand-back with the load meter.
class Measured {
public:
    Measured() { StartDSPMeter(); }
    ~Measured() { StopDSPMeter(); }
};

// The counter jumped back by more than a stray step: it wrapped.
bool Wrapped(std::int64_t last, std::int64_t now) {
    return now < last && last - now > 0xFFFE;
}

// What a wrap adds: the counter's modulus, taken as the last position
// rounded up to the next multiple of 2^20.
std::int64_t WrapBase(std::int64_t last) {
    return (last | 0xFFFFF) + 1;
}

} // namespace

// ---------------------------------------------------------------------------
// Free functions

bool WaveOutReady(int device_id) {
    const int count = static_cast<int>(waveOutGetNumDevs());
    if (device_id < -1 || device_id >= count) return false;
    WAVEFORMATEX format{};
    pcmBuildWaveHeader(&format, 8, 1, 22050);
    HWAVEOUT hwo = nullptr;
    if (waveOutOpen(&hwo, static_cast<UINT>(device_id), &format, 0, 0, CALLBACK_NULL) !=
        MMSYSERR_NOERROR)
        return false;
    waveOutClose(hwo);
    return true;
}

std::string WaveOutGetDeviceName(int device_id) {
    WAVEOUTCAPS caps;
    if (waveOutGetDevCaps(static_cast<UINT>(device_id), &caps, sizeof caps) != MMSYSERR_NOERROR)
        return {};
    return caps.szPname;
}

// ---------------------------------------------------------------------------
// Construction and properties

TLumWaveOut::TLumWaveOut(TComponent* owner) : TLumCustomSoundComponent(owner) {
    num_devs_ = static_cast<int>(waveOutGetNumDevs());
    SetDeviceID(0);
    headers_.assign(kMaxBuffers, nullptr);
}

TLumWaveOut::~TLumWaveOut() {
    Destroying();
    try {
        Close();
        // A stop that waits for a buffer in processing on another route
        // defers the close; the component cannot wait for its message.
        if (close_deferred_) {
            WaitFor(
                [this] {
                    std::lock_guard lock(lock_);
                    return processing_ == 0;
                },
                500, 10);
            stop_pending_ = false;
            Close();
        }
    } catch (const std::exception&) {
        // Nothing can be reported from a destructor.
    }
    EndThread();
    FreeHeaders();
    platform::DeallocateHWnd(window_);
}

void TLumWaveOut::RefusedWhileOpen() {
    RaiseOnError(kChangeWhileOpen);
    Fail(kChangeWhileOpen);
}

void TLumWaveOut::SetDeviceID(int id) {
    if (IsOpen()) RefusedWhileOpen();
    device_id_ = id;
    product_name_ = Msg(161);
    if (id < -1 || id >= num_devs_) {
        device_id_ = -2;
        return;
    }
    WAVEOUTCAPS caps;
    if (waveOutGetDevCaps(static_cast<UINT>(id), &caps, sizeof caps) == MMSYSERR_NOERROR) {
        product_name_ = caps.szPname;
        driver_version_ = caps.vDriverVersion;
    }
}

void TLumWaveOut::SetNumBuffers(int n) {
    if (n <= 1) return;
    if (IsOpen()) RefusedWhileOpen();
    num_buffers_ = std::min(n, kMaxBuffers);
}

void TLumWaveOut::SetBufferSize(std::int32_t bytes) {
    if (IsOpen()) RefusedWhileOpen();
    TLumCustomSoundComponent::SetBufferSize(std::max<std::int32_t>(bytes, 32));
}

void TLumWaveOut::SetCallBackMode(TLumCBMode mode) {
    if (IsOpen()) RefusedWhileOpen();
    // Callbacks that run at interrupt time could not load from the chain;
    // this system's devices call back on an ordinary thread.
    if (mode == cmCallback && kCallbacksAtInterruptTime && !_Win95_) {
        platform::ui::MessageBox("\"CallBacks\" are called at interrupt time !\n\r"
                                 "This is currently only supported under Windows 95",
                                 "TLumWaveOut", platform::ui::MB_OK);
        return;
    }
    mode_ = mode;
}

void TLumWaveOut::SetLooping(bool looping) {
    looping_ = looping;
    std::lock_guard lock(lock_);
    loops_left_ = loop_count_;
}

void TLumWaveOut::SetLoopCount(int count) {
    loop_count_ = count;
    std::lock_guard lock(lock_);
    loops_left_ = loop_count_;
}

void TLumWaveOut::SetPWaveFormat(const WAVEFORMATEX* format) {
    Close();
    TLumCustomSoundComponent::SetPWaveFormat(format);
}

std::optional<TLumDSPComponent*> TLumWaveOut::PublishedPort(std::string_view name) const {
    if (name == kInputPort) return GetInput();
    if (name == kOutputPort) return GetOutput();
    return std::nullopt;
}

bool TLumWaveOut::NotifyByFunction() const {
    return _Win95_ || _Win98_ || _WinNT4_;
}

// ---------------------------------------------------------------------------
// Errors

void TLumWaveOut::RaiseOnError(const std::string& message) {
    if (OnError) OnError(this, message);
}

void TLumWaveOut::Fail(const std::string& message) {
    throw ELumWaveOutError(message);
}

std::string TLumWaveOut::DeviceError(const char* prefix, MMRESULT result) {
    last_result_ = result;
    char text[256];
    if (waveOutGetErrorText(result, text, sizeof text) != MMSYSERR_NOERROR || text[0] == 0)
        return prefix + Msg(86);
    return prefix + std::string(text);
}

// ---------------------------------------------------------------------------
// Device queries

bool TLumWaveOut::QueryDevice(int device_id, const WAVEFORMATEX* format) {
    if (format == nullptr) return false;
    const auto id = static_cast<UINT>(device_id);
    last_result_ = waveOutOpen(nullptr, id, format, 0, 0, WAVE_FORMAT_QUERY);
    if (last_result_ != MMSYSERR_NOERROR) return false;
    WAVEOUTCAPS caps;
    last_result_ = waveOutGetDevCaps(id, &caps, sizeof caps);
    if (last_result_ != MMSYSERR_NOERROR) return false;
    if (format->wFormatTag != platform::WAVE_FORMAT_PCM) return true;
    const DWORD rate = format->nSamplesPerSec;
    int band;
    if (rate >= 8000 && rate <= 11025)
        band = 0;
    else if (rate >= 11026 && rate <= 22050)
        band = 1;
    else if (rate >= 22051 && rate <= 48000)
        band = 2;
    else
        return true;
    const int bits = format->wBitsPerSample;
    const int channels = format->nChannels;
    if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return true;
    const DWORD bit = DWORD{1} << (band * 4 + (bits == 16 ? 2 : 0) + (channels == 2 ? 1 : 0));
    return (caps.dwFormats & bit) != 0;
}

std::int64_t TLumWaveOut::GetSamplePosition() {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    MMRESULT r = waveOutGetPosition(device_, &time, sizeof time);
    if (r == MMSYSERR_NOERROR && time.wType == TIME_SAMPLES) return time.u.sample;
    time.wType = TIME_BYTES;
    r = waveOutGetPosition(device_, &time, sizeof time);
    if (r != MMSYSERR_NOERROR) Fail(DeviceError("WaveOutGetPosition:\n\r", r));
    return wioBytesToSamples(GetPWaveFormat(), static_cast<std::int32_t>(time.u.cb));
}

std::int64_t TLumWaveOut::CurrentSamples() {
    const std::int64_t device = GetSamplePosition();
    std::lock_guard lock(lock_);
    std::int64_t wraps = wraps_ * wrap_base_;
    // A wrap the processing has not seen yet still counts.
    if (Wrapped(last_position_, device)) wraps += WrapBase(last_position_);
    return device + paused_offset_ + wraps - loop_start_;
}

std::int64_t TLumWaveOut::ToTimeFormat(std::int64_t samples) const {
    switch (time_format_) {
    case tfMillisecond:
        return wioSamplesToTime64(GetPWaveFormat(), samples);
    case tfByte:
        return wioSamplesToBytes64(GetPWaveFormat(), samples);
    default:
        return samples;
    }
}

std::int64_t TLumWaveOut::GetPosition() {
    if (!IsOpen() || GetPWaveFormat() == nullptr || closing_) return 0;
    if (!IsPlaying()) {
        std::lock_guard lock(lock_);
        return ToTimeFormat(stop_position_);
    }
    return ToTimeFormat(CurrentSamples());
}

std::int32_t TLumWaveOut::GetPositionHigh() {
    return static_cast<std::int32_t>(static_cast<std::uint64_t>(GetPosition()) >> 32);
}

// ---------------------------------------------------------------------------
// Notifications

void TLumWaveOut::DeviceCallback(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                                 DWORD_PTR) {
    auto* self = reinterpret_cast<TLumWaveOut*>(instance);
    self->DeviceMessage(msg, reinterpret_cast<WAVEHDR*>(param1), false);
}

void TLumWaveOut::WindowProc(UINT msg, WPARAM, LPARAM lparam) {
    auto* hdr = reinterpret_cast<WAVEHDR*>(lparam);
    switch (msg) {
    case WOM_OPEN:
    case WOM_CLOSE:
    case WOM_DONE:
        // The device reports here directly.
        DeviceMessage(msg, hdr, true);
        break;
    case kBufferDone:
        ProcessHeader(hdr, true);
        break;
    case kStopRequest:
        Stop();
        break;
    case kThreadFailed: {
        std::exception_ptr error;
        error.swap(thread_error_);
        Close();
        try {
            if (error) std::rethrow_exception(error);
        } catch (const std::exception& e) {
            platform::ui::HandleException(e);
        }
        break;
    }
    default:
        break;
    }
}

void TLumWaveOut::DeviceMessage(UINT msg, WAVEHDR* hdr, bool on_window) {
    if (msg == WOM_OPEN) {
        state_ = kOpen;
        return;
    }
    if (msg == WOM_CLOSE) {
        state_ = kClosed;
        return;
    }
    if (msg != WOM_DONE) return;
    int before;
    {
        std::lock_guard lock(lock_);
        before = at_device_--;
    }
    if (resetting_) {
        if (before == 1) resetting_ = false;
        return;
    }
    if (stop_requested_) return;
    switch (mode_) {
    case cmCallback:
        if (on_window)
            ProcessHeader(hdr, false);
        else
            ProcessOffMain(hdr, false);
        break;
    case cmWindow:
        if (on_window) {
            ProcessHeader(hdr, false);
        } else {
            {
                std::lock_guard lock(lock_);
                ++awaiting_;
            }
            platform::PostMessage(window_, kBufferDone, 0, reinterpret_cast<LPARAM>(hdr));
        }
        break;
    case cmThread:
        if (thread_) {
            {
                std::lock_guard lock(lock_);
                ++awaiting_;
            }
            thread_->Queue.Post(WOM_DONE, reinterpret_cast<WPARAM>(device_handle_.load()),
                                reinterpret_cast<LPARAM>(hdr));
        }
        break;
    }
}

void TLumWaveOut::ProcessOffMain(WAVEHDR* hdr, bool posted) {
    try {
        ProcessHeader(hdr, posted);
    } catch (const std::exception& e) {
        // Nobody on this thread can take it: the application's handler
        // shows it on the main thread.
        const std::string message = e.what();
        platform::PostToMainThread([message] { platform::ui::ShowErrorBox(message); });
    }
}

void TLumWaveOut::ProcessHeader(WAVEHDR* hdr, bool posted) {
    {
        std::lock_guard lock(lock_);
        if (posted) --awaiting_;
        if (!IsPlaying() || resetting_ || stop_requested_) return;
        ++processing_;
    }
    // Whatever happens below, the buffer leaves processing, and the last
    // one out finishes a stop.
    struct Leave {
        TLumWaveOut* self;
        ~Leave() { self->FinishProcessing(); }
    } leave{this};
    try {
        TLumWaveHeader* h;
        if (FIX_BUFFERS) {
            h = headers_[static_cast<std::size_t>(ring_index_)];
        } else {
            waveOutUnprepareHeader(device_, hdr, sizeof(WAVEHDR));
            h = LumWaveHeader(hdr);
        }
        {
            std::lock_guard lock(lock_);
            bytes_played_ += h->Hdr.dwBufferLength;
        }
        ring_index_ = (ring_index_ + 1) % queued_;
        h->NextHeader = headers_[static_cast<std::size_t>(ring_index_)];
        {
            Measured measured;
            TLumCustomSoundComponent::BufferReady(&h->Hdr);
        }

        const std::int64_t position = GetSamplePosition();
        std::int64_t full;
        {
            std::lock_guard lock(lock_);
            if (Wrapped(last_position_, position)) {
                wrap_base_ = WrapBase(last_position_);
                ++wraps_;
            }
            last_position_ = position;
            full = position + paused_offset_ + wraps_ * wrap_base_;
        }

        if (more_data_ && !stop_pending_) {
            if (looping_ && h->LoopHappened != 0) {
                {
                    std::lock_guard lock(lock_);
                    loop_start_ = full;
                }
                h->LoopHappened = 0;
                if (OnLooping) OnLooping(this);
            }
            // In ring order the buffer is the one just returned; its done
            // flag is already set, unless the device misbehaves.
            for (int i = 0; i < 1000 && !HeaderDone(&h->Hdr); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            LoadHeader(h);
            if (h->Hdr.dwBufferLength == 0) {
                if (!stop_pending_) Fail(Msg(81));
            } else if (!stop_pending_) {
                QueueHeader(h);
            }
        }
    } catch (const std::exception& e) {
        RaiseOnError(e.what());
        throw;
    }
}

void TLumWaveOut::FinishProcessing() {
    std::lock_guard lock(lock_);
    if (--processing_ > 0) return;
    if (stop_pending_ || (at_device_ <= 0 && awaiting_ <= 0 && !stop_requested_)) {
        stop_requested_ = true;
        waveOutPause(device_);
        platform::PostMessage(window_, kStopRequest, 0, 0);
    }
}

// ---------------------------------------------------------------------------
// Buffers

TLumWaveHeader* TLumWaveOut::AllocHeader() {
    void* block = nullptr;
    try {
        block = GlobalAllocMem(sizeof(TLumWaveHeader) + GetBufferSize());
    } catch (const EOutOfMemory&) {
        Fail(Msg(64));
    }
    auto* h = static_cast<TLumWaveHeader*>(block);
    h->Hdr.lpData = reinterpret_cast<char*>(h + 1);
    h->Hdr.dwBufferLength = GetBufferSize();
    return h;
}

void TLumWaveOut::FreeHeaders() {
    for (auto& h : headers_)
        if (h != nullptr) GlobalFreeMem(h);
}

void TLumWaveOut::LoadHeader(TLumWaveHeader* h) {
    const DWORD room = GetBufferSize();
    h->Hdr.dwBufferLength = room;
    h->Hdr.dwBytesRecorded = 0;
    h->LoopMarker = looping_ ? kLumLoopMarker : 0;
    if (looping_) {
        std::lock_guard lock(lock_);
        h->LoopCount = static_cast<DWORD>(loop_count_);
        h->LoopsLeft = loops_left_;
    }
    bool more = true;
    BufferLoad(&h->Hdr, more);
    // A source may not claim more than the room it had.
    h->Hdr.dwBufferLength = std::min(h->Hdr.dwBytesRecorded, room);
    if (looping_) {
        std::lock_guard lock(lock_);
        loops_left_ = h->LoopsLeft;
    }
    more_data_ = more && h->Hdr.dwBufferLength > 0;
}

void TLumWaveOut::QueueHeader(TLumWaveHeader* h) {
    // OnBufferFilled was raised by the load already (the chain's BufferLoad
    // does so for every buffer that received data).
    std::lock_guard lock(lock_);
    if (stop_requested_ || resetting_) return;
    if (FIX_BUFFERS) {
        SetHeaderFlags(&h->Hdr, platform::WHDR_PREPARED, platform::WHDR_DONE);
    } else {
        const MMRESULT r = waveOutPrepareHeader(device_, &h->Hdr, sizeof(WAVEHDR));
        if (r != MMSYSERR_NOERROR) Fail(DeviceError("WaveOutWrite:\n\r", r));
    }
    const MMRESULT r = waveOutWrite(device_, &h->Hdr, sizeof(WAVEHDR));
    if (r != MMSYSERR_NOERROR) Fail(DeviceError("WaveOutWrite:\n\r", r));
    h->Hdr.dwBytesRecorded = h->Hdr.dwBufferLength;
    ++at_device_;
}

void TLumWaveOut::BufferLoad(WAVEHDR* hdr, bool& more_buffers) {
    Measured measured;
    TLumCustomSoundComponent::BufferLoad(hdr, more_buffers);
}

void TLumWaveOut::WaitFor(const std::function<bool()>& done, int steps, int step_ms) {
    // Notifications that go to the window need the main queue served.
    const bool serve = !notify_by_function_ || mode_ == cmWindow;
    for (int i = 0; i < steps && !done(); ++i)
        Delay(step_ms, serve);
}

// ---------------------------------------------------------------------------
// Open and close

void TLumWaveOut::Open() {
    try {
        DoOpen();
    } catch (const std::exception& e) {
        RaiseOnError(e.what());
        CloseQuietly();
        throw;
    }
}

void TLumWaveOut::DoOpen() {
    if (num_devs_ == 0) Fail(Msg(161));
    if (device_id_ == -2) Fail(Msg(61));
    const WAVEFORMATEX* format = GetPWaveFormat();
    if (format == nullptr) Fail("WaveOutOpen:\n\r" + Msg(89));
    if (IsOpen()) Close();
    if (!QueryDevice(device_id_, format)) Fail("WaveOutOpen:\n\r" + Msg(70));

    if (window_ == nullptr)
        window_ = platform::AllocateHWnd([this](HWND, UINT msg, WPARAM wparam, LPARAM lparam) {
            WindowProc(msg, wparam, lparam);
        });
    TLumCustomSoundComponent::Opened();
    if (mode_ == cmThread) StartThread();

    notify_by_function_ = NotifyByFunction();
    const DWORD_PTR target = notify_by_function_
                                 ? reinterpret_cast<DWORD_PTR>(&TLumWaveOut::DeviceCallback)
                                 : reinterpret_cast<DWORD_PTR>(window_);
    const DWORD kind = notify_by_function_ ? CALLBACK_FUNCTION : CALLBACK_WINDOW;
    HWAVEOUT hwo = nullptr;
    const MMRESULT r = waveOutOpen(&hwo, static_cast<UINT>(device_id_), format, target,
                                   reinterpret_cast<DWORD_PTR>(this), kind);
    if (r != MMSYSERR_NOERROR) Fail(DeviceError("WaveOutOpen:\n\r", r));
    device_ = hwo;
    device_handle_ = hwo;
    WaitFor([this] { return IsOpen(); }, 500, 10);
    if (!IsOpen()) Fail("WaveOutOpen:\n\r" + Msg(71));
    if (OnOpen) OnOpen(this);
}

void TLumWaveOut::CloseQuietly() {
    if (device_ != nullptr) {
        waveOutReset(device_);
        WaitFor(
            [this] {
                std::lock_guard lock(lock_);
                return at_device_ <= 0;
            },
            500, 10);
        waveOutClose(device_);
        device_ = nullptr;
        device_handle_ = nullptr;
    }
    EndThread();
    FreeHeaders();
    queued_ = 0;
    if (TLumDSPComponent::IsOpened()) TLumCustomSoundComponent::Closed();
    state_ = kClosed;
    closing_ = false;
    close_deferred_ = false;
}

void TLumWaveOut::Close() {
    if (!((IsOpen() && !closing_) || close_deferred_)) return;
    closing_ = true;
    try {
        if (IsPlaying() || IsPaused()) Stop();
        if (stop_pending_) {
            close_deferred_ = true;
            return;
        }
        // The stop may have run a deferred close already.
        if (device_ == nullptr) return;
        close_deferred_ = false;
        const MMRESULT r = waveOutClose(device_);
        if (r != MMSYSERR_NOERROR) Fail(DeviceError("WaveOutClose:\n\r", r));
        WaitFor([this] { return (state_ & kClosed) != 0; }, 500, 10);
        const bool closed = (state_ & kClosed) != 0;
        {
            std::lock_guard lock(lock_);
            stop_position_ = 0;
            wraps_ = 0;
        }
        TLumCustomSoundComponent::Closed();
        EndThread();
        device_ = nullptr;
        device_handle_ = nullptr;
        state_ = kClosed;
        closing_ = false;
        if (!closed) Fail("WaveOutClose:\n\r" + Msg(72));
        if (OnClose && !ComponentState().Contains(csDestroying)) OnClose(this);
    } catch (const std::exception& e) {
        RaiseOnError(e.what());
        if (!close_deferred_) CloseQuietly();
        throw;
    }
}

// ---------------------------------------------------------------------------
// Output thread

void TLumWaveOut::StartThread() {
    thread_ = std::make_unique<TLumWaveOutThread>(this);
    thread_->Resume();
    if (!thread_->StartedEvent.Wait(5000)) {
        thread_.reset();
        Fail("WaveOut:\n\r" + Msg(88));
    }
}

void TLumWaveOut::EndThread() {
    if (!thread_) return;
    thread_->Terminate();
    thread_->TerminateEvent.Set();
    thread_->StartedEvent.Wait(5000);
    thread_.reset();
}

TLumWaveOutThread::TLumWaveOutThread(TLumWaveOut* owner) : TLumDSPThread(owner), wave_out_(owner) {}

TLumWaveOutThread::~TLumWaveOutThread() {
    Terminate();
    TerminateEvent.Set();
    WaitFor();
}

void TLumWaveOutThread::Execute() {
    // A raised priority needs a privilege; without it the thread runs at
    // the normal one.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -WAVEOUT_PRIORITY);
    StartedEvent.Set();
    try {
        while (!Terminated()) {
            if (FlushEvent.IsSet()) {
                const int dropped = Queue.Remove(WOM_DONE, WOM_DONE);
                {
                    std::lock_guard lock(wave_out_->lock_);
                    wave_out_->awaiting_ -= dropped;
                }
                FlushEvent.Reset();
                continue;
            }
            platform::ThreadMessage msg;
            if (!Queue.Peek(msg)) {
                if (Queue.WaitAny({&TerminateEvent, &FlushEvent}) == 0) break;
                continue;
            }
            if (msg.message != WOM_DONE) continue;
            const auto device = reinterpret_cast<HWAVEOUT>(msg.wparam);
            if (device != wave_out_->device_handle_.load()) continue;
            wave_out_->ProcessHeader(reinterpret_cast<WAVEHDR*>(msg.lparam), true);
        }
    } catch (...) {
        Failed = true;
        wave_out_->thread_error_ = std::current_exception();
        platform::PostMessage(wave_out_->window_, TLumWaveOut::kThreadFailed, 0, 0);
    }
    StartedEvent.Set();
}

// ---------------------------------------------------------------------------
// Start, pause, restart

void TLumWaveOut::Start() {
    if (!IsOpen()) Open();
    if (!IsOpen() || IsPlaying()) return;
    try {
        DoStart();
    } catch (const std::exception& e) {
        RaiseOnError(e.what());
        CloseQuietly();
        throw;
    }
}

void TLumWaveOut::DoStart() {
    {
        std::lock_guard lock(lock_);
        bytes_played_ = 0;
        paused_offset_ = 0;
        last_position_ = 0;
        wraps_ = 0;
        wrap_base_ = 0;
        loop_start_ = 0;
        stop_position_ = 0;
        loops_left_ = loop_count_;
        processing_ = 0;
        at_device_ = 0;
        awaiting_ = 0;
    }
    stop_requested_ = false;
    stop_pending_ = false;
    resetting_ = false;
    ring_index_ = 0;
    queued_ = 0;
    more_data_ = true;

    BusyCursor busy(show_hourglass_ &&
                    static_cast<std::int64_t>(GetBufferSize()) * num_buffers_ > 100000);
    MMRESULT r = waveOutPause(device_);
    if (r != MMSYSERR_NOERROR) Fail(DeviceError("WaveOutPause:\n\r", r));
    TLumCustomSoundComponent::Started();
    int i = 0;
    for (; i < num_buffers_ && more_data_; ++i) {
        auto& h = headers_[static_cast<std::size_t>(i)];
        if (h == nullptr) h = AllocHeader();
        r = waveOutPrepareHeader(device_, &h->Hdr, sizeof(WAVEHDR));
        if (r != MMSYSERR_NOERROR) Fail(DeviceError("WaveOutStart:\n\r", r));
        LoadHeader(h);
        if (h->Hdr.dwBufferLength < 1) {
            // Never queued, so freed here rather than left behind.
            waveOutUnprepareHeader(device_, &h->Hdr, sizeof(WAVEHDR));
            GlobalFreeMem(h);
            break;
        }
        QueueHeader(h);
        queued_ = i + 1;
    }
    state_ |= kPlaying;
    if (queued_ == 0) Fail("WaveOutStart:\n\r" + Msg(80));
    if (!IsPaused()) {
        r = waveOutRestart(device_);
        if (r != MMSYSERR_NOERROR) Fail(DeviceError("WaveOutRestart:\n\r", r));
    }
    InitDSPMeter();
    meter_on_ = true;
    if (OnStart) OnStart(this);
}

void TLumWaveOut::Pause() {
    if (!IsOpen()) Open();
    if (!IsOpen() || IsPaused()) return;
    try {
        if (IsPlaying()) {
            {
                std::lock_guard lock(lock_);
                const MMRESULT r = waveOutPause(device_);
                if (r != MMSYSERR_NOERROR) Fail(DeviceError("WaveOutPause:\n\r", r));
                state_ |= kPaused;
            }
            // Below another sound component the device gives its buffers
            // back and starts anew on restart, counting on from here.
            if (NotHead()) {
                const std::int64_t position = GetSamplePosition();
                {
                    std::lock_guard lock(lock_);
                    paused_offset_ += position;
                }
                resetting_ = true;
                waveOutReset(device_);
                ring_index_ = 0;
                std::lock_guard lock(lock_);
                at_device_ = 0;
            }
        }
    } catch (const std::exception& e) {
        RaiseOnError(e.what());
        StopQuietly();
        throw;
    }
    if (OnPause) OnPause(this);
}

void TLumWaveOut::Restart() {
    if (!IsPlaying() || !IsPaused()) return;
    resetting_ = false;
    const MMRESULT r = waveOutRestart(device_);
    if (r != MMSYSERR_NOERROR) {
        const std::string message = DeviceError("WaveOutRestart:\n\r", r);
        RaiseOnError(message);
        StopQuietly();
        throw ELumWaveOutError(message);
    }
    state_ &= ~kPaused;
    if (OnRestart) OnRestart(this);
}

// ---------------------------------------------------------------------------
// Reset

void TLumWaveOut::Reset() {
    if (!(IsPlaying() || IsPaused()) || resetting_) return;
    try {
        resetting_ = true;
        waveOutPause(device_);
        // Done notifications on their way belong to the old run.
        if (mode_ == cmWindow) {
            const int dropped = platform::RemoveMessages(window_, kBufferDone, kBufferDone);
            std::lock_guard lock(lock_);
            awaiting_ -= dropped;
        } else if (mode_ == cmThread && thread_) {
            thread_->FlushEvent.Set();
            for (int i = 0; i < 5000 && thread_->FlushEvent.IsSet(); ++i)
                platform::Sleep(1);
        }
        // A buffer in processing elsewhere may still queue itself; wait
        // for it to leave.
        WaitFor(
            [this] {
                std::lock_guard lock(lock_);
                return processing_ == 0;
            },
            100, 10);
        MMRESULT r = waveOutReset(device_);
        if (r != MMSYSERR_NOERROR) Fail(DeviceError("WaveOutReset:\n\r", r));
        WaitFor(
            [this] {
                std::lock_guard lock(lock_);
                return !resetting_ || at_device_ <= 0;
            },
            100, 10);
        // A device with nothing queued sends no last notification.
        resetting_ = false;
        waveOutRestart(device_);
        waveOutPause(device_);
        {
            std::lock_guard lock(lock_);
            at_device_ = 0;
            bytes_played_ = 0;
            paused_offset_ = 0;
            last_position_ = 0;
            wraps_ = 0;
            wrap_base_ = 0;
            loop_start_ = 0;
            loops_left_ = loop_count_;
        }
        ring_index_ = 0;
        more_data_ = true;
        TLumCustomSoundComponent::Reseting();
        int n = 0;
        for (int i = 0; i < num_buffers_ && more_data_; ++i) {
            TLumWaveHeader* h = headers_[static_cast<std::size_t>(i)];
            if (h == nullptr) break;
            LoadHeader(h);
            if (h->Hdr.dwBufferLength < 1) break;
            QueueHeader(h);
            n = i + 1;
        }
        queued_ = std::max(n, 1);
        if (!IsPaused()) {
            r = waveOutRestart(device_);
            if (r != MMSYSERR_NOERROR) Fail(DeviceError("WaveOutRestart:\n\r", r));
        }
        if (n == 0) Stop();
    } catch (const std::exception& e) {
        RaiseOnError(e.what());
        StopQuietly();
        throw;
    }
}

// ---------------------------------------------------------------------------
// Stop

void TLumWaveOut::Stop() {
    if (!(IsPlaying() || IsPaused())) return;
    try {
        bool busy;
        {
            std::lock_guard lock(lock_);
            busy = processing_ > 0;
        }
        // A second Stop, from the processing path, keeps the first one's position.
        if (!stop_pending_) {
            std::int64_t position = 0;
            try {
                position = CurrentSamples();
            } catch (const ELumWaveOutError&) {
                position = 0;
            }
            std::lock_guard lock(lock_);
            stop_position_ = position;
        }
        {
            std::lock_guard lock(lock_);
            stop_requested_ = true;
            resetting_ = true;
            wraps_ = 0;
            busy = processing_ > 0;
            if (busy) stop_pending_ = true;
        }
        const MMRESULT r = waveOutReset(device_);
        if (r != MMSYSERR_NOERROR) Fail(DeviceError("WaveOutReset:\n\r", r));
        if (busy) return;
        FinishStop();
    } catch (const std::exception& e) {
        RaiseOnError(e.what());
        StopQuietly();
        throw;
    }
}

// Drops the playing state and the meter, and waits (briefly) for the device
// to hand back what it holds.
void TLumWaveOut::LeavePlaying() {
    state_ &= ~(kPlaying | kPaused);
    if (meter_on_) {
        DoneDSPMeter();
        meter_on_ = false;
    }
    WaitFor(
        [this] {
            std::lock_guard lock(lock_);
            return at_device_ <= 0;
        },
        500, 10);
}

void TLumWaveOut::FinishStop() {
    stop_pending_ = false;
    LeavePlaying();
    // Notifications still on their way are of no use now.
    platform::RemoveMessages(window_, kBufferDone, kStopRequest);
    TLumCustomSoundComponent::Stopped();
    bool freed = true;
    for (auto& h : headers_) {
        if (h == nullptr) continue;
        for (int i = 0;
             i < 65000 && !HeaderDone(&h->Hdr) && (HeaderFlags(&h->Hdr) & platform::WHDR_INQUEUE);
             ++i)
            std::this_thread::yield();
        if (waveOutUnprepareHeader(device_, &h->Hdr, sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
            SetHeaderFlags(&h->Hdr, 0, platform::WHDR_PREPARED);
        // A header the device still holds cannot be freed.
        if (HeaderFlags(&h->Hdr) & platform::WHDR_INQUEUE)
            freed = false;
        else
            GlobalFreeMem(h);
    }
    ring_index_ = 0;
    queued_ = 0;
    {
        std::lock_guard lock(lock_);
        at_device_ = 0;
        awaiting_ = 0;
    }
    if (!freed) Fail(Msg(65));
    if (OnStop) OnStop(this);
    if (close_deferred_) Close();
}

void TLumWaveOut::StopQuietly() {
    if (device_ == nullptr) return;
    try {
        stop_pending_ = false;
        {
            std::lock_guard lock(lock_);
            stop_requested_ = true;
            resetting_ = true;
        }
        waveOutReset(device_);
        LeavePlaying();
        if (TLumDSPComponent::IsStarted()) TLumCustomSoundComponent::Stopped();
        for (auto& h : headers_) {
            if (h == nullptr || (HeaderFlags(&h->Hdr) & platform::WHDR_INQUEUE)) continue;
            waveOutUnprepareHeader(device_, &h->Hdr, sizeof(WAVEHDR));
            GlobalFreeMem(h);
        }
        queued_ = 0;
        ring_index_ = 0;
    } catch (const std::exception&) {
        // Already on a failure path; the first error is the one reported.
    }
}

} // namespace lum
