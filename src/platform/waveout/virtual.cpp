// The virtual device: a buffer of two seconds drained by a steady clock at
// the format's rate, so playback takes real time without sound hardware.
// The buffer takes in whole rings of queued buffers as they are written, so
// the device runs dry only when the player is late, never because the
// device's own thread woke late on a busy machine. What it played can be
// kept in a WAV file (LUM_WAVEOUT_CAPTURE).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "platform/waveout/backend.h"

namespace lum::platform::waveout::detail {
namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_counter_mutex;
std::uint64_t g_counter_modulus = 0;
DWORD g_counter_start = 0;

void PutLE(char* p, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A WAV file written as the device plays: the header is written at open
// with zero sizes and completed at close.
class CaptureFile {
public:
    CaptureFile(const std::string& path, const WAVEFORMATEX& format) {
        file_ = std::fopen(path.c_str(), "wb");
        if (file_ == nullptr) return;
        format_size_ = format.wFormatTag == WAVE_FORMAT_PCM ? 16 : 18 + format.cbSize;
        std::vector<char> head(12 + 8 + format_size_ + 8, 0);
        std::memcpy(head.data(), "RIFF", 4);
        std::memcpy(head.data() + 8, "WAVEfmt ", 8);
        PutLE(head.data() + 16, format_size_, 4);
        std::memcpy(head.data() + 20, &format, std::min<std::size_t>(format_size_, 18));
        if (format_size_ > 18)
            std::memcpy(head.data() + 38, reinterpret_cast<const char*>(&format) + 18,
                        format_size_ - 18);
        std::memcpy(head.data() + 20 + format_size_, "data", 4);
        std::fwrite(head.data(), 1, head.size(), file_);
    }
    ~CaptureFile() {
        if (file_ == nullptr) return;
        if (data_bytes_ & 1) std::fputc(0, file_);
        char size[4];
        PutLE(
            size,
            static_cast<std::uint32_t>(4 + 8 + format_size_ + 8 + data_bytes_ + (data_bytes_ & 1)),
            4);
        std::fseek(file_, 4, SEEK_SET);
        std::fwrite(size, 1, 4, file_);
        PutLE(size, data_bytes_, 4);
        std::fseek(file_, static_cast<long>(20 + format_size_ + 4), SEEK_SET);
        std::fwrite(size, 1, 4, file_);
        std::fclose(file_);
    }
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    void Append(const char* data, std::size_t bytes) {
        if (file_ == nullptr || bytes == 0) return;
        std::fwrite(data, 1, bytes, file_);
        data_bytes_ += static_cast<std::uint32_t>(bytes);
    }

private:
    std::FILE* file_ = nullptr;
    std::uint32_t format_size_ = 16;
    std::uint32_t data_bytes_ = 0;
};

class VirtualStream : public Stream {
public:
    explicit VirtualStream(const WAVEFORMATEX& format)
        : rate_(format.nSamplesPerSec), block_(format.nBlockAlign) {
        buffer_frames_ = std::max<std::int64_t>(64, rate_ * 2);
        if (const char* path = std::getenv("LUM_WAVEOUT_CAPTURE"); path != nullptr && *path)
            capture_ = std::make_unique<CaptureFile>(path, format);
        std::lock_guard lock(g_counter_mutex);
        modulus_ = g_counter_modulus;
        start_ = g_counter_start;
    }
    ~VirtualStream() override { Capture(Played()); }

    std::int64_t Avail() override { return buffer_frames_ - (written_ - Played()); }

    std::int64_t Write(const char* data, std::int64_t frames) override {
        const auto now = Clock::now();
        const std::int64_t played = PlayedAt(now);
        if (played == written_) {
            // The buffer ran dry: the clock waited since, and starts again now.
            if (running_ && had_data_) ++underruns_;
            anchor_played_ = played;
            anchor_time_ = now;
        }
        frames = std::clamp<std::int64_t>(frames, 0, buffer_frames_ - (written_ - played));
        if (capture_) pending_.insert(pending_.end(), data, data + frames * block_);
        written_ += frames;
        had_data_ = true;
        return frames;
    }

    std::int64_t Played() override {
        const std::int64_t played = PlayedAt(Clock::now());
        Capture(played);
        return played;
    }
    std::int64_t Written() const override { return written_; }

    bool Pause() override {
        if (!running_) return true;
        anchor_played_ = PlayedAt(Clock::now());
        running_ = false;
        return true;
    }
    void Resume() override {
        if (running_) return;
        anchor_time_ = Clock::now();
        running_ = true;
        // Running dry while paused is no gap in the sound.
        if (anchor_played_ == written_) had_data_ = false;
    }
    void Drop() override {
        Capture(Played());
        pending_.clear();
        captured_ = 0;
        written_ = 0;
        anchor_played_ = 0;
        anchor_time_ = Clock::now();
        had_data_ = false;
    }
    std::int64_t BufferFrames() const override { return buffer_frames_; }
    std::uint32_t Underruns() const override { return underruns_; }
    std::uint64_t CounterModulus() const override { return modulus_; }
    DWORD CounterStart() const override { return start_; }

private:
    std::int64_t PlayedAt(Clock::time_point now) const {
        if (!running_) return anchor_played_;
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::nanoseconds>(now - anchor_time_).count();
        // 128-bit product: hours at 768 kHz overflow 64 bits of ns × rate.
        const auto frames = static_cast<std::int64_t>(
            static_cast<__int128>(std::max<std::int64_t>(elapsed, 0)) * rate_ / 1000000000);
        return std::min(written_, anchor_played_ + frames);
    }

    // Moves what was played from the pending bytes into the capture file.
    void Capture(std::int64_t played) {
        if (!capture_ || played <= captured_) return;
        const auto bytes = static_cast<std::size_t>((played - captured_) * block_);
        std::vector<char> out(pending_.begin(), pending_.begin() + static_cast<long>(bytes));
        capture_->Append(out.data(), out.size());
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(bytes));
        captured_ = played;
    }

    const std::int64_t rate_;
    const std::int64_t block_;
    std::int64_t buffer_frames_;
    std::int64_t written_ = 0;
    std::int64_t anchor_played_ = 0;
    Clock::time_point anchor_time_ = Clock::now();
    bool running_ = true;
    bool had_data_ = false;
    std::uint32_t underruns_ = 0;
    std::uint64_t modulus_ = 0;
    DWORD start_ = 0;
    std::unique_ptr<CaptureFile> capture_;
    std::deque<char> pending_;
    std::int64_t captured_ = 0;
};

class VirtualBackend : public Backend {
public:
    void Caps(WAVEOUTCAPS& caps) override {
        caps = WAVEOUTCAPS{};
        caps.wMid = 0xFFFF;
        caps.wPid = 1;
        caps.vDriverVersion = 0x0100;
        std::snprintf(caps.szPname, sizeof caps.szPname, "%s", "Virtual output");
        caps.dwFormats = 0xFFF;
        caps.wChannels = 8;
        caps.dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME | WAVECAPS_SAMPLEACCURATE;
    }
    MMRESULT Query(const WAVEFORMATEX& format) override {
        return PlayableFormat(format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
    }
    MMRESULT Open(const WAVEFORMATEX& format, std::unique_ptr<Stream>& stream) override {
        if (!PlayableFormat(format)) return WAVERR_BADFORMAT;
        stream = std::make_unique<VirtualStream>(format);
        return MMSYSERR_NOERROR;
    }
};

} // namespace

std::unique_ptr<Backend> MakeVirtualBackend() {
    return std::make_unique<VirtualBackend>();
}

} // namespace lum::platform::waveout::detail

namespace lum::platform::waveout {

void waveOutSetVirtualCounter(std::uint64_t modulus, DWORD start) {
    std::lock_guard lock(detail::g_counter_mutex);
    detail::g_counter_modulus = modulus;
    detail::g_counter_start = start;
}

} // namespace lum::platform::waveout
