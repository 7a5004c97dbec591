// Helpers for the wave output tests: formats, sample patterns, reading
// what the virtual device captured, environment variables for one test,
// and a recorder of device notifications.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/waveout/waveout.h"
#include "support/testutil.h"

namespace lum::test {

inline platform::WAVEFORMATEX PcmFormat(int bits, int channels, int rate) {
    platform::WAVEFORMATEX f{};
    f.wFormatTag = platform::WAVE_FORMAT_PCM;
    f.nChannels = static_cast<platform::WORD>(channels);
    f.nSamplesPerSec = static_cast<platform::DWORD>(rate);
    f.wBitsPerSample = static_cast<platform::WORD>(bits);
    f.nBlockAlign = static_cast<platform::WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    return f;
}

// Bytes that differ from one position to the next over a long stretch, so
// a lost, doubled or reordered block shows.
inline std::vector<char> Pattern(std::size_t bytes, std::uint32_t seed = 1) {
    std::vector<char> out(bytes);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : out) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

// The data chunk of a WAV file the virtual device wrote; nullopt when the
// file is missing or not a WAV file.
inline std::optional<std::vector<char>> CaptureData(const std::string& path) {
    const std::vector<std::uint8_t> file = ReadFile(path);
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0) return std::nullopt;
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        const std::uint32_t size = file[at + 4] | file[at + 5] << 8 | file[at + 6] << 16 |
                                   std::uint32_t{file[at + 7]} << 24;
        if (std::memcmp(file.data() + at, "data", 4) == 0) {
            if (at + 8 + size > file.size()) return std::nullopt;
            return std::vector<char>(file.begin() + static_cast<long>(at + 8),
                                     file.begin() + static_cast<long>(at + 8 + size));
        }
        at += 8 + size + (size & 1);
    }
    return std::nullopt;
}

// Sets (or with a null value removes) an environment variable for the
// lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_.c_str(), old_->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Collects the notifications of a device opened with Recorder::Proc and
// the recorder as its instance.
class Recorder {
public:
    struct Event {
        platform::UINT msg;
        platform::WAVEHDR* hdr;
    };

    static void Proc(platform::waveout::HWAVEOUT, platform::UINT msg,
                     platform::waveout::DWORD_PTR instance, platform::waveout::DWORD_PTR p1,
                     platform::waveout::DWORD_PTR) {
        auto* self = reinterpret_cast<Recorder*>(instance);
        if (self->on_event) self->on_event(msg, reinterpret_cast<platform::WAVEHDR*>(p1));
        std::lock_guard lock(self->mutex_);
        self->events_.push_back({msg, reinterpret_cast<platform::WAVEHDR*>(p1)});
        self->changed_.notify_all();
    }

    platform::waveout::DWORD_PTR Instance() {
        return reinterpret_cast<platform::waveout::DWORD_PTR>(this);
    }
    static platform::waveout::DWORD_PTR Callback() {
        return reinterpret_cast<platform::waveout::DWORD_PTR>(&Recorder::Proc);
    }

    // Waits until Count done notifications came (at most TimeoutMs).
    bool WaitDone(std::size_t count, int timeout_ms = 5000) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                 [&] { return DoneCountLocked() >= count; });
    }
    std::vector<Event> Events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<platform::WAVEHDR*> Done() {
        std::lock_guard lock(mutex_);
        std::vector<platform::WAVEHDR*> out;
        for (const auto& e : events_)
            if (e.msg == platform::waveout::WOM_DONE) out.push_back(e.hdr);
        return out;
    }

    // Called on the device's thread before the event is recorded.
    std::function<void(platform::UINT, platform::WAVEHDR*)> on_event;

private:
    std::size_t DoneCountLocked() const {
        std::size_t n = 0;
        for (const auto& e : events_)
            n += e.msg == platform::waveout::WOM_DONE;
        return n;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

// A buffer with its data.
struct Buffer {
    explicit Buffer(std::vector<char> bytes) : data(std::move(bytes)) {
        hdr.lpData = data.data();
        hdr.dwBufferLength = static_cast<platform::DWORD>(data.size());
    }
    std::vector<char> data;
    platform::WAVEHDR hdr{};
};

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace lum::test
