// The simple sound player: a thread per sound that streams the data chunk
// through four buffers of a tenth of a second each.
#include "platform/waveout/playsound.h"

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/base/bytestream.h"
#include "platform/mmio/mmio.h"
#include "platform/waveout/waveout.h"

namespace lum::platform::waveout {
namespace {

using namespace lum::platform::mmio;

constexpr int kBuffers = 4;

// Where a sound's samples come from: an open RIFF WAVE with its format and
// the place of its data chunk.
class Source {
public:
    ~Source() {
        if (file_ != nullptr) mmioClose(file_, 0);
    }

    bool Open(const char* sound, UINT flags) {
        MMIOINFO info{};
        if ((flags & SND_RESOURCE) == SND_RESOURCE) {
            info.fccIOProc = FOURCC_RES;
            file_ = mmio::mmioOpen(sound, &info, MMIO_READ);
        } else if (flags & SND_MEMORY) {
            // The image says its own size in the RIFF header.
            const auto* p = reinterpret_cast<const unsigned char*>(sound);
            if (std::memcmp(p, "RIFF", 4) != 0) return false;
            const std::uint32_t size = p[4] | p[5] << 8 | p[6] << 16 | std::uint32_t{p[7]} << 24;
            if (size > 0x7FFFFFF0u) return false;
            auto view = MemoryStream::View(
                std::span<const std::byte>(reinterpret_cast<const std::byte*>(sound), size + 8));
            file_ = mmioOpenStream(std::move(view), &info, MMIO_READ);
        } else {
            file_ = mmio::mmioOpen(sound, &info, MMIO_READ | MMIO_ALLOCBUF);
        }
        return file_ != nullptr && Parse();
    }

    const WAVEFORMATEX& Format() const { return format_; }

    // Up to Bytes bytes of whole blocks; 0 at the end of the data.
    LONG Read(char* buffer, LONG bytes) {
        bytes = std::min<LONG>(bytes, left_);
        bytes -= bytes % format_.nBlockAlign;
        if (bytes <= 0) return 0;
        const LONG n = mmioRead(file_, buffer, bytes);
        if (n <= 0) {
            left_ = 0;
            return 0;
        }
        left_ -= n;
        return n - n % format_.nBlockAlign;
    }

    bool Rewind() {
        left_ = size_;
        return mmioSeek(file_, offset_, SEEK_SET) == offset_;
    }

private:
    bool Parse() {
        MMCKINFO riff{};
        riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
        if (mmioDescend(file_, &riff, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR) return false;
        MMCKINFO ck{};
        ck.ckid = mmioFOURCC('f', 'm', 't', ' ');
        if (mmioDescend(file_, &ck, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR || ck.cksize < 16)
            return false;
        const LONG want = static_cast<LONG>(std::min<DWORD>(ck.cksize, sizeof(WAVEFORMATEX)));
        if (mmioRead(file_, &format_, want) != want) return false;
        if (want < static_cast<LONG>(sizeof(WAVEFORMATEX))) format_.cbSize = 0;
        if (format_.nBlockAlign == 0) return false;
        mmioAscend(file_, &ck, 0);
        ck.ckid = mmioFOURCC('d', 'a', 't', 'a');
        if (mmioDescend(file_, &ck, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return false;
        offset_ = static_cast<LONG>(ck.dwDataOffset);
        size_ = left_ = static_cast<LONG>(std::min<DWORD>(ck.cksize, 0x7FFFFFFF));
        return true;
    }

    HMMIO file_ = nullptr;
    WAVEFORMATEX format_{};
    LONG offset_ = 0;
    LONG size_ = 0;
    LONG left_ = 0;
};

// The default sound: 150 ms of 880 Hz, 16-bit mono at 22050 Hz, fading out.
const std::vector<char>& DefaultSound() {
    static const std::vector<char> image = [] {
        constexpr int kRate = 22050, kFrames = kRate * 15 / 100;
        std::vector<char> w(44 + kFrames * 2);
        auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i)
                w[at + i] = static_cast<char>(v >> (8 * i));
        };
        std::memcpy(w.data(), "RIFF", 4);
        put(4, static_cast<std::uint32_t>(w.size() - 8), 4);
        std::memcpy(w.data() + 8, "WAVEfmt ", 8);
        put(16, 16, 4);
        put(20, 1, 2);
        put(22, 1, 2);
        put(24, kRate, 4);
        put(28, kRate * 2, 4);
        put(32, 2, 2);
        put(34, 16, 2);
        std::memcpy(w.data() + 36, "data", 4);
        put(40, kFrames * 2, 4);
        for (int i = 0; i < kFrames; ++i) {
            const double fade = 1.0 - static_cast<double>(i) / kFrames;
            const auto v = static_cast<std::int16_t>(
                std::lround(8000.0 * fade * std::sin(2 * M_PI * 880.0 * i / kRate)));
            put(44 + static_cast<std::size_t>(i) * 2, static_cast<std::uint16_t>(v), 2);
        }
        return w;
    }();
    return image;
}

// One sound being played on its own thread.
class Playback {
public:
    Playback(std::unique_ptr<Source> source, bool loop) : source_(std::move(source)), loop_(loop) {}
    ~Playback() {
        Stop();
        if (thread_.joinable()) thread_.join();
    }

    // Opens the device; false when no device plays the format.
    bool Open() {
        const MMRESULT r = waveOutOpen(&device_, WAVE_MAPPER, &source_->Format(),
                                       reinterpret_cast<DWORD_PTR>(&Playback::Callback),
                                       reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
        if (r != MMSYSERR_NOERROR) return false;
        const WAVEFORMATEX& f = source_->Format();
        DWORD size = std::max<DWORD>(f.nAvgBytesPerSec / 10, f.nBlockAlign);
        size -= size % f.nBlockAlign;
        for (auto& b : buffers_) {
            b.data.resize(size);
            b.hdr.lpData = b.data.data();
            b.hdr.dwBufferLength = size;
            waveOutPrepareHeader(device_, &b.hdr, sizeof(WAVEHDR));
        }
        thread_ = std::thread([this] { Run(); });
        return true;
    }

    void Stop() {
        std::lock_guard lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }

    void Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ended_; });
    }

    bool Ended() {
        std::lock_guard lock(mutex_);
        return ended_;
    }

private:
    struct Buffer {
        WAVEHDR hdr{};
        std::vector<char> data;
        bool queued = false;
    };

    static void Callback(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
        if (msg != WOM_DONE) return;
        auto* self = reinterpret_cast<Playback*>(instance);
        std::lock_guard lock(self->mutex_);
        ++self->done_count_;
        self->changed_.notify_all();
    }

    // Fills a buffer; false at the end of the sound (after looping back
    // when looping).
    bool Fill(Buffer& b) {
        LONG n = source_->Read(b.data.data(), static_cast<LONG>(b.data.size()));
        if (n == 0 && loop_ && source_->Rewind())
            n = source_->Read(b.data.data(), static_cast<LONG>(b.data.size()));
        if (n <= 0) return false;
        b.hdr.dwBufferLength = static_cast<DWORD>(n);
        return true;
    }

    void Run() {
        int queued = 0;
        int next = 0; // the buffer that comes back next
        bool more = true;
        for (auto& b : buffers_) {
            if (!more || !(more = Fill(b))) break;
            waveOutWrite(device_, &b.hdr, sizeof(WAVEHDR));
            b.queued = true;
            ++queued;
        }
        std::unique_lock lock(mutex_);
        int seen = 0;
        while (queued > 0) {
            changed_.wait(lock, [&] { return stop_ || done_count_ > seen; });
            if (stop_) break;
            ++seen;
            Buffer& b = buffers_[next];
            next = (next + 1) % kBuffers;
            b.queued = false;
            --queued;
            if (!more) continue;
            lock.unlock();
            more = Fill(b);
            if (more) {
                waveOutWrite(device_, &b.hdr, sizeof(WAVEHDR));
                b.queued = true;
                ++queued;
            }
            lock.lock();
        }
        lock.unlock();
        waveOutReset(device_);
        for (auto& b : buffers_) {
            // After the reset every buffer is done; its notification may
            // still be on its way, which waveOutClose waits for.
            waveOutUnprepareHeader(device_, &b.hdr, sizeof(WAVEHDR));
        }
        waveOutClose(device_);
        lock.lock();
        ended_ = true;
        changed_.notify_all();
    }

    std::unique_ptr<Source> source_;
    const bool loop_;
    HWAVEOUT device_ = nullptr;
    Buffer buffers_[kBuffers];
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int done_count_ = 0;
    bool stop_ = false;
    bool ended_ = false;
};

// The sound playing now, if any. Starting and stopping are serialised.
std::mutex g_player_mutex;
std::shared_ptr<Playback> g_current;

void StopCurrent() {
    std::shared_ptr<Playback> current;
    {
        std::lock_guard lock(g_player_mutex);
        current.swap(g_current);
    }
    // A synchronous caller may hold it too; it returns once it ended.
    if (current) {
        current->Stop();
        current->Wait();
    }
}

std::shared_ptr<Playback> Start(const char* sound, UINT flags) {
    auto source = std::make_unique<Source>();
    if (sound == nullptr || !source->Open(sound, flags)) return nullptr;
    auto playback = std::make_shared<Playback>(std::move(source), (flags & SND_LOOP) != 0);
    if (!playback->Open()) return nullptr;
    return playback;
}

} // namespace

BOOL PlaySound(const char* sound, void* /*module*/, DWORD flags) {
    if (sound == nullptr || (flags & SND_PURGE)) {
        StopCurrent();
        return 1;
    }
    // Looping has no end to wait for.
    if ((flags & SND_LOOP) && !(flags & SND_ASYNC)) return 0;
    {
        std::lock_guard lock(g_player_mutex);
        if ((flags & SND_NOSTOP) && g_current && !g_current->Ended()) return 0;
    }
    StopCurrent();
    std::shared_ptr<Playback> playback = Start(sound, flags);
    if (!playback && !(flags & SND_NODEFAULT)) playback = Start(DefaultSound().data(), SND_MEMORY);
    if (!playback) return 0;
    {
        std::lock_guard lock(g_player_mutex);
        g_current = playback;
    }
    if (!(flags & SND_ASYNC)) playback->Wait();
    return 1;
}

BOOL sndPlaySound(const char* sound, UINT flags) {
    return PlaySound(sound, nullptr, flags);
}

bool SoundPlaying() {
    std::lock_guard lock(g_player_mutex);
    return g_current && !g_current->Ended();
}

} // namespace lum::platform::waveout
