// The device core shared by every backend: the queue of buffers, the
// thread that feeds the backend's stream and hands buffers back in order,
// pause, reset, position and volume; and the device list.
#include "platform/waveout/waveout.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/waveout/backend.h"

namespace lum::platform::waveout {

using detail::Backend;
using detail::Stream;

namespace detail {

bool PlayableFormat(const WAVEFORMATEX& f) {
    WORD tag = f.wFormatTag;
    if (tag == 0xFFFE) {
        // The extensible record: the sub-format's first two bytes are the tag.
        if (f.cbSize < 22) return false;
        std::memcpy(&tag, reinterpret_cast<const char*>(&f) + sizeof(WAVEFORMATEX) + 6, 2);
    }
    const bool pcm = tag == WAVE_FORMAT_PCM && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16 ||
                                                f.wBitsPerSample == 24 || f.wBitsPerSample == 32);
    const bool flt = tag == WAVE_FORMAT_IEEE_FLOAT && f.wBitsPerSample == 32;
    return (pcm || flt) && f.nChannels >= 1 && f.nChannels <= 8 && f.nSamplesPerSec >= 1000 &&
           f.nSamplesPerSec <= 768000 && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

DWORD StandardFormatBits(Backend& backend) {
    WAVEOUTCAPS caps;
    backend.Caps(caps);
    return caps.dwFormats;
}

} // namespace detail

namespace {

using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------
// The device list

struct DeviceEntry {
    std::shared_ptr<Backend> backend;
    // Volume of the device, kept across opens.
    std::shared_ptr<std::atomic<DWORD>> volume = std::make_shared<std::atomic<DWORD>>(0xFFFFFFFF);
};

struct DeviceList {
    std::vector<DeviceEntry> devices;
    UINT virtual_id = 0;
    bool alsa_usable = false;
    std::string alsa_problem;
};

std::mutex g_list_mutex;
std::shared_ptr<const DeviceList> g_list;

std::shared_ptr<const DeviceList> Scan() {
    auto list = std::make_shared<DeviceList>();
    detail::AlsaScan alsa = detail::ScanAlsa();
    list->alsa_usable = alsa.default_usable;
    list->alsa_problem = alsa.problem;
    DeviceEntry virt{std::shared_ptr<Backend>(detail::MakeVirtualBackend())};
    if (alsa.default_usable) {
        const std::string desc = alsa.default_name == "default"
                                     ? "Default ALSA output"
                                     : "ALSA output \"" + alsa.default_name + "\"";
        list->devices.push_back({detail::MakeAlsaBackend(alsa.default_name, desc)});
    } else {
        list->virtual_id = 0;
        list->devices.push_back(virt);
    }
    for (const auto& pcm : alsa.others)
        list->devices.push_back({detail::MakeAlsaBackend(pcm.name, pcm.description)});
    if (alsa.default_usable) {
        list->virtual_id = static_cast<UINT>(list->devices.size());
        list->devices.push_back(virt);
    }
    return list;
}

std::shared_ptr<const DeviceList> Devices() {
    std::lock_guard lock(g_list_mutex);
    if (!g_list) g_list = Scan();
    return g_list;
}

// ---------------------------------------------------------------------------
// An open device

struct Queued {
    WAVEHDR* hdr;
    std::int64_t start; // first frame, counted since open or the last reset
    std::int64_t frames;
    std::int64_t written; // frames handed to the stream
};

class Device {
public:
    Device(HWAVEOUT handle, std::unique_ptr<Stream> stream, const WAVEFORMATEX& format, UINT id,
           std::shared_ptr<std::atomic<DWORD>> volume, DWORD kind, DWORD_PTR callback,
           DWORD_PTR instance)
        : handle_(handle), stream_(std::move(stream)), format_(format), id_(id),
          volume_(std::move(volume)), kind_(kind), callback_(callback), instance_(instance) {}

    void Start() {
        thread_ = std::thread([this] { Run(); });
    }

    UINT Id() const { return id_; }

    MMRESULT Write(WAVEHDR* hdr) {
        std::lock_guard lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        const DWORD flags = HeaderFlags(hdr);
        if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
        if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        SetHeaderFlags(hdr, WHDR_INQUEUE, WHDR_DONE);
        // With the queue empty everything written was played (done means
        // played), so the new buffer follows the stream's end.
        const std::int64_t start =
            queue_.empty() ? stream_->Written() : queue_.back().start + queue_.back().frames;
        queue_.push_back({hdr, start, hdr->dwBufferLength / format_.nBlockAlign, 0});
        // Into the stream at once where it has room: the device's thread may
        // be slow to wake when the machine is busy.
        Feed();
        wake_.notify_all();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Pause() {
        std::lock_guard lock(mutex_);
        if (paused_) return MMSYSERR_NOERROR;
        paused_ = true;
        if (!stream_->Pause()) Rewind();
        wake_.notify_all();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Restart() {
        std::lock_guard lock(mutex_);
        if (!paused_) return MMSYSERR_NOERROR;
        paused_ = false;
        stream_->Resume();
        wake_.notify_all();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset() {
        std::lock_guard lock(mutex_);
        stream_->Drop();
        for (const Queued& q : queue_) {
            SetHeaderFlags(q.hdr, WHDR_DONE, WHDR_INQUEUE);
            returned_.push_back(q.hdr);
        }
        queue_.clear();
        wake_.notify_all();
        return MMSYSERR_NOERROR;
    }

    std::int64_t Played() {
        std::lock_guard lock(mutex_);
        return stream_->Played();
    }

    void Counter(std::uint64_t& modulus, DWORD& start) const {
        modulus = stream_->CounterModulus();
        start = stream_->CounterStart();
    }

    const WAVEFORMATEX& Format() const { return format_; }
    std::atomic<DWORD>& Volume() { return *volume_; }

    DWORD Underruns() {
        std::lock_guard lock(mutex_);
        return stream_->Underruns();
    }

    // Ends the thread after the last notifications; WAVERR_STILLPLAYING
    // while buffers are queued. Waits for the thread, serving the main
    // queue on the main thread, since a callback may wait for it.
    MMRESULT Close() {
        {
            std::lock_guard lock(mutex_);
            if (closing_) return MMSYSERR_INVALHANDLE;
            if (!queue_.empty()) return WAVERR_STILLPLAYING;
            if (std::this_thread::get_id() == thread_id_) return WAVERR_SYNC;
            closing_ = true;
            wake_.notify_all();
        }
        WaitDraining([this] {
            std::lock_guard lock(mutex_);
            return finished_;
        });
        thread_.join();
        return MMSYSERR_NOERROR;
    }

    HWAVEOUT Handle() const { return handle_; }

private:
    void Notify(UINT msg, WAVEHDR* hdr) {
        const auto param = reinterpret_cast<DWORD_PTR>(hdr);
        if (kind_ == CALLBACK_FUNCTION) {
            auto proc = reinterpret_cast<WaveOutProc>(callback_);
            if (proc != nullptr) proc(Handle(), msg, instance_, param, 0);
        } else if (kind_ == CALLBACK_WINDOW) {
            PostMessage(reinterpret_cast<HWND>(callback_), msg, reinterpret_cast<WPARAM>(Handle()),
                        static_cast<LPARAM>(param));
        }
    }

    // The stream gave up what it held while pausing: the queued buffers
    // (none of them done, since done means played) are written again from
    // the point the stream reached.
    void Rewind() {
        const std::int64_t played = stream_->Written();
        for (Queued& q : queue_)
            q.written = std::clamp<std::int64_t>(played - q.start, 0, q.frames);
    }

    // Writes what the stream takes; the volume is applied on the way.
    void Feed() {
        if (paused_) return;
        bool pending = false;
        for (Queued& q : queue_) {
            if (q.written >= q.frames) continue;
            const std::int64_t avail = stream_->Avail();
            if (avail <= 0) return;
            const std::int64_t n = std::min(avail, q.frames - q.written);
            const char* data = q.hdr->lpData + q.written * format_.nBlockAlign;
            const DWORD volume = volume_->load();
            std::int64_t taken;
            if (volume != 0xFFFFFFFF) {
                scratch_.assign(data, data + n * format_.nBlockAlign);
                ApplyVolume(scratch_.data(), n, volume);
                taken = stream_->Write(scratch_.data(), n);
            } else {
                taken = stream_->Write(data, n);
            }
            if (taken <= 0) return;
            q.written += taken;
            if (q.written < q.frames) {
                pending = true;
                break;
            }
        }
        if (!pending) stream_->Kick();
    }

    void ApplyVolume(char* data, std::int64_t frames, DWORD volume) const {
        const int channels = format_.nChannels;
        const std::uint32_t gains[2] = {volume & 0xFFFF, volume >> 16};
        const int bits = format_.wBitsPerSample;
        const bool flt = format_.wFormatTag == WAVE_FORMAT_IEEE_FLOAT ||
                         (format_.wFormatTag == 0xFFFE && bits == 32 && IsFloatExtensible());
        const std::size_t bytes = static_cast<std::size_t>(bits / 8);
        for (std::int64_t f = 0; f < frames; ++f) {
            for (int c = 0; c < channels; ++c) {
                const std::uint32_t gain = gains[channels == 1 ? 0 : c % 2];
                char* p = data + (f * channels + c) * bytes;
                if (flt) {
                    float v;
                    std::memcpy(&v, p, 4);
                    v = v * static_cast<float>(gain) / 65535.0f;
                    std::memcpy(p, &v, 4);
                } else if (bits == 8) {
                    const int v = static_cast<unsigned char>(*p) - 128;
                    *p = static_cast<char>(v * static_cast<int>(gain) / 65535 + 128);
                } else {
                    // Little-endian signed: sign-extended, scaled, stored back.
                    std::uint32_t raw = 0;
                    std::memcpy(&raw, p, bytes);
                    const int shift = 32 - bits;
                    const std::int32_t v = static_cast<std::int32_t>(raw << shift) >> shift;
                    const auto scaled =
                        static_cast<std::int32_t>(static_cast<std::int64_t>(v) * gain / 65535);
                    raw = static_cast<std::uint32_t>(scaled);
                    std::memcpy(p, &raw, bytes);
                }
            }
        }
    }

    bool IsFloatExtensible() const {
        WORD sub = 0;
        std::memcpy(&sub, reinterpret_cast<const char*>(&format_) + sizeof(WAVEFORMATEX) + 6, 2);
        return sub == WAVE_FORMAT_IEEE_FLOAT;
    }

    // Buffers whose last frame was played are done, in queue order.
    void Complete() {
        const std::int64_t played = stream_->Played();
        while (!queue_.empty()) {
            const Queued& q = queue_.front();
            if (q.written < q.frames || q.start + q.frames > played) break;
            SetHeaderFlags(q.hdr, WHDR_DONE, WHDR_INQUEUE);
            returned_.push_back(q.hdr);
            queue_.pop_front();
        }
    }

    // How long to sleep: until the next buffer should be done, or the
    // stream's buffer is half empty, in 1..50 ms.
    std::chrono::microseconds NextWake() {
        const std::int64_t played = stream_->Played();
        const std::int64_t rate = format_.nSamplesPerSec;
        std::int64_t frames = rate / 20;
        const Queued& front = queue_.front();
        frames = std::min(frames, front.start + front.frames - played);
        const bool unwritten = queue_.back().written < queue_.back().frames;
        if (unwritten)
            frames = std::min(frames, stream_->Written() - played - stream_->BufferFrames() / 2);
        const std::int64_t us = std::max<std::int64_t>(frames, 0) * 1000000 / rate;
        return std::chrono::microseconds(std::clamp<std::int64_t>(us, 1000, 50000));
    }

    void Run() {
        {
            std::lock_guard lock(mutex_);
            thread_id_ = std::this_thread::get_id();
        }
        Notify(WOM_OPEN, nullptr);
        std::unique_lock lock(mutex_);
        for (;;) {
            if (!paused_) {
                Feed();
                Complete();
            }
            if (!returned_.empty()) {
                std::deque<WAVEHDR*> out;
                out.swap(returned_);
                lock.unlock();
                for (WAVEHDR* hdr : out)
                    Notify(WOM_DONE, hdr);
                lock.lock();
                continue;
            }
            if (closing_) break;
            if (paused_ || queue_.empty())
                wake_.wait(lock);
            else
                wake_.wait_for(lock, NextWake());
        }
        lock.unlock();
        Notify(WOM_CLOSE, nullptr);
        {
            std::lock_guard done(mutex_);
            finished_ = true;
        }
        WakeWaiters();
    }

    const HWAVEOUT handle_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::unique_ptr<Stream> stream_;
    WAVEFORMATEX format_;
    UINT id_;
    std::shared_ptr<std::atomic<DWORD>> volume_;
    DWORD kind_;
    DWORD_PTR callback_;
    DWORD_PTR instance_;
    std::deque<Queued> queue_;
    std::deque<WAVEHDR*> returned_;
    std::vector<char> scratch_;
    bool paused_ = false;
    bool closing_ = false;
    bool finished_ = false;
    std::thread thread_;
    std::thread::id thread_id_;
};

// The open devices by handle. Handles count up and are never reused, so a
// stale or made-up handle is refused rather than followed; a call holds a
// reference, so a device closed meanwhile is freed only after the call.
// A device left open at exit keeps playing until the process ends, so the
// table is never destroyed (its threads would be joined from exit).
struct OpenDevices {
    std::mutex mutex;
    std::map<HWAVEOUT, std::shared_ptr<Device>> devices;
    std::uintptr_t next_handle = 0;
};

OpenDevices& OpenTable() {
    static auto* open = new OpenDevices;
    return *open;
}

std::shared_ptr<Device> Find(HWAVEOUT hwo) {
    OpenDevices& o = OpenTable();
    std::lock_guard lock(o.mutex);
    auto it = o.devices.find(hwo);
    return it == o.devices.end() ? nullptr : it->second;
}

// Runs F on the device behind Hwo, or answers MMSYSERR_INVALHANDLE.
template <class F>
MMRESULT WithDevice(HWAVEOUT hwo, F f) {
    const std::shared_ptr<Device> device = Find(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    return f(*device);
}

const char* ErrorText(MMRESULT error) {
    switch (error) {
    case MMSYSERR_NOERROR:
        return "The command completed.";
    case MMSYSERR_ERROR:
        return "An unspecified error occurred in the device.";
    case MMSYSERR_BADDEVICEID:
        return "The device ID is out of range.";
    case MMSYSERR_NOTENABLED:
        return "The driver is not enabled.";
    case MMSYSERR_ALLOCATED:
        return "The device is in use by another program.";
    case MMSYSERR_INVALHANDLE:
        return "The device handle is not valid.";
    case MMSYSERR_NODRIVER:
        return "No driver answers for this device.";
    case MMSYSERR_NOMEM:
        return "There is not enough memory for this operation.";
    case MMSYSERR_NOTSUPPORTED:
        return "The device does not support this operation.";
    case MMSYSERR_BADERRNUM:
        return "The error number is not defined.";
    case MMSYSERR_INVALFLAG:
        return "A flag passed is not valid.";
    case MMSYSERR_INVALPARAM:
        return "A parameter passed is not valid.";
    case WAVERR_BADFORMAT:
        return "The device cannot play this wave format.";
    case WAVERR_STILLPLAYING:
        return "Buffers are still queued at the device.";
    case WAVERR_UNPREPARED:
        return "The wave header was not prepared.";
    case WAVERR_SYNC:
        return "The device cannot do this from its own notification.";
    default:
        return nullptr;
    }
}

// The devices the mapper tries for a format: all, in list order.
MMRESULT MapperOpen(const DeviceList& list, const WAVEFORMATEX& format, bool query,
                    std::unique_ptr<Stream>& stream, UINT& id) {
    MMRESULT first_error = MMSYSERR_NODRIVER;
    for (UINT i = 0; i < list.devices.size(); ++i) {
        Backend& b = *list.devices[i].backend;
        const MMRESULT r = query ? b.Query(format) : b.Open(format, stream);
        if (r == MMSYSERR_NOERROR) {
            id = i;
            return r;
        }
        if (first_error == MMSYSERR_NODRIVER) first_error = r;
    }
    return first_error;
}

} // namespace

// ---------------------------------------------------------------------------
// The calls

UINT waveOutGetNumDevs() {
    return static_cast<UINT>(Devices()->devices.size());
}

MMRESULT waveOutGetDevCaps(UINT device_id, WAVEOUTCAPS* caps, UINT size) {
    if (caps == nullptr || size < sizeof(WAVEOUTCAPS)) return MMSYSERR_INVALPARAM;
    const auto list = Devices();
    if (device_id == WAVE_MAPPER) {
        *caps = WAVEOUTCAPS{};
        std::snprintf(caps->szPname, sizeof caps->szPname, "%s", "Wave mapper");
        caps->vDriverVersion = 0x0100;
        caps->dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME;
        for (const DeviceEntry& d : list->devices) {
            WAVEOUTCAPS one;
            d.backend->Caps(one);
            caps->dwFormats |= one.dwFormats;
            caps->wChannels = std::max(caps->wChannels, one.wChannels);
        }
        return MMSYSERR_NOERROR;
    }
    if (device_id >= list->devices.size()) return MMSYSERR_BADDEVICEID;
    list->devices[device_id].backend->Caps(*caps);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutOpen(HWAVEOUT* hwo, UINT device_id, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags) {
    const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
    const DWORD kind = flags & CALLBACK_TYPEMASK;
    if (format == nullptr) return MMSYSERR_INVALPARAM;
    if (!query && hwo == nullptr) return MMSYSERR_INVALPARAM;
    if (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION && kind != CALLBACK_WINDOW)
        return MMSYSERR_INVALFLAG;
    if (kind == CALLBACK_WINDOW && !query && !IsWindow(reinterpret_cast<HWND>(callback)))
        return MMSYSERR_INVALPARAM;
    const auto list = Devices();
    if (device_id != WAVE_MAPPER && device_id >= list->devices.size()) return MMSYSERR_BADDEVICEID;
    if (!detail::PlayableFormat(*format)) return WAVERR_BADFORMAT;

    std::unique_ptr<Stream> stream;
    UINT id = device_id;
    MMRESULT r;
    if (device_id == WAVE_MAPPER)
        r = MapperOpen(*list, *format, query, stream, id);
    else if (query)
        r = list->devices[device_id].backend->Query(*format);
    else
        r = list->devices[device_id].backend->Open(*format, stream);
    if (r != MMSYSERR_NOERROR || query) return r;

    std::shared_ptr<Device> device;
    {
        OpenDevices& o = OpenTable();
        std::lock_guard lock(o.mutex);
        const auto handle = reinterpret_cast<HWAVEOUT>(++o.next_handle);
        device = std::make_shared<Device>(handle, std::move(stream), *format, id,
                                          list->devices[id].volume, kind, callback, instance);
        o.devices[handle] = device;
    }
    // The handle is the caller's before the first notification can use it.
    *hwo = device->Handle();
    device->Start();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
    const MMRESULT r = WithDevice(hwo, [](Device& d) { return d.Close(); });
    if (r != MMSYSERR_NOERROR) return r;
    OpenDevices& o = OpenTable();
    std::lock_guard lock(o.mutex);
    o.devices.erase(hwo);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* hdr, UINT size) {
    if (hdr == nullptr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    return WithDevice(hwo, [hdr](Device&) {
        if (hdr->lpData == nullptr && hdr->dwBufferLength > 0) return MMSYSERR_INVALPARAM;
        if (HeaderFlags(hdr) & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        SetHeaderFlags(hdr, WHDR_PREPARED, 0);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* hdr, UINT size) {
    if (hdr == nullptr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    return WithDevice(hwo, [hdr](Device&) {
        if (HeaderFlags(hdr) & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        SetHeaderFlags(hdr, 0, WHDR_PREPARED);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* hdr, UINT size) {
    if (hdr == nullptr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    return WithDevice(hwo, [hdr](Device& d) {
        if (hdr->lpData == nullptr && hdr->dwBufferLength > 0) return MMSYSERR_INVALPARAM;
        return d.Write(hdr);
    });
}

MMRESULT waveOutPause(HWAVEOUT hwo) {
    return WithDevice(hwo, [](Device& d) { return d.Pause(); });
}

MMRESULT waveOutRestart(HWAVEOUT hwo) {
    return WithDevice(hwo, [](Device& d) { return d.Restart(); });
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
    return WithDevice(hwo, [](Device& d) { return d.Reset(); });
}

MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* time, UINT size) {
    if (time == nullptr || size < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
    return WithDevice(hwo, [time](Device& d) {
        const std::int64_t played = d.Played();
        const WAVEFORMATEX& f = d.Format();
        std::uint64_t modulus;
        DWORD start;
        d.Counter(modulus, start);
        switch (time->wType) {
        case TIME_SAMPLES: {
            std::uint64_t counter = static_cast<std::uint64_t>(played) + start;
            if (modulus != 0) counter &= modulus - 1;
            time->u.sample = static_cast<DWORD>(counter);
            break;
        }
        case TIME_MS:
            time->u.ms = static_cast<DWORD>(played * 1000 / f.nSamplesPerSec);
            break;
        default:
            time->wType = TIME_BYTES;
            time->u.cb = static_cast<DWORD>(played * f.nBlockAlign);
            break;
        }
        return MMSYSERR_NOERROR;
    });
}

MMRESULT waveOutGetVolume(HWAVEOUT hwo, DWORD* volume) {
    if (volume == nullptr) return MMSYSERR_INVALPARAM;
    return WithDevice(hwo, [volume](Device& d) {
        *volume = d.Volume().load();
        return MMSYSERR_NOERROR;
    });
}

MMRESULT waveOutSetVolume(HWAVEOUT hwo, DWORD volume) {
    return WithDevice(hwo, [volume](Device& d) {
        d.Volume() = volume;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT waveOutGetErrorText(MMRESULT error, char* text, UINT size) {
    if (text == nullptr || size == 0) return MMSYSERR_INVALPARAM;
    const char* s = ErrorText(error);
    if (s == nullptr) {
        text[0] = 0;
        return MMSYSERR_BADERRNUM;
    }
    std::snprintf(text, size, "%s", s);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* device_id) {
    if (device_id == nullptr) return MMSYSERR_INVALPARAM;
    return WithDevice(hwo, [device_id](Device& d) {
        *device_id = d.Id();
        return MMSYSERR_NOERROR;
    });
}

void waveOutRescanDevices() {
    auto list = Scan();
    std::lock_guard lock(g_list_mutex);
    g_list = std::move(list);
}

UINT waveOutVirtualDevice() {
    return Devices()->virtual_id;
}

bool waveOutAlsaUsable() {
    return Devices()->alsa_usable;
}

const char* waveOutAlsaProblem() {
    // The list is kept until the next rescan, so the text lives as long.
    return Devices()->alsa_problem.c_str();
}

MMRESULT waveOutGetUnderruns(HWAVEOUT hwo, DWORD* count) {
    if (count == nullptr) return MMSYSERR_INVALPARAM;
    return WithDevice(hwo, [count](Device& d) {
        *count = d.Underruns();
        return MMSYSERR_NOERROR;
    });
}

} // namespace lum::platform::waveout
