// The ALSA backend: one PCM per device, interleaved writes without
// blocking, a buffer of about 100 ms. The play position is what was
// written less what ALSA still holds (snd_pcm_delay).
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/waveout/backend.h"

namespace lum::platform::waveout::detail {
namespace {

// ALSA reports problems on stderr by default; the service keeps the last
// one instead, to say why a device is not usable.
std::mutex g_error_mutex;
std::string g_last_error;

void QuietErrorHandler(const char* /*file*/, int /*line*/, const char* /*function*/, int err,
                       const char* fmt, ...) {
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    std::lock_guard lock(g_error_mutex);
    g_last_error = text;
    if (err != 0) g_last_error += std::string(": ") + snd_strerror(err);
}

void InstallErrorHandler() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(QuietErrorHandler); });
}

std::string TakeLastError() {
    std::lock_guard lock(g_error_mutex);
    std::string e;
    e.swap(g_last_error);
    return e;
}

snd_pcm_format_t AlsaFormat(const WAVEFORMATEX& f) {
    WORD tag = f.wFormatTag;
    if (tag == 0xFFFE && f.cbSize >= 22) {
        WORD sub;
        std::memcpy(&sub, reinterpret_cast<const char*>(&f) + sizeof(WAVEFORMATEX) + 6, 2);
        tag = sub;
    }
    if (tag == WAVE_FORMAT_IEEE_FLOAT)
        return f.wBitsPerSample == 32 ? SND_PCM_FORMAT_FLOAT_LE : SND_PCM_FORMAT_UNKNOWN;
    if (tag != WAVE_FORMAT_PCM) return SND_PCM_FORMAT_UNKNOWN;
    switch (f.wBitsPerSample) {
    case 8:
        return SND_PCM_FORMAT_U8;
    case 16:
        return SND_PCM_FORMAT_S16_LE;
    case 24:
        return SND_PCM_FORMAT_S24_3LE;
    case 32:
        return SND_PCM_FORMAT_S32_LE;
    default:
        return SND_PCM_FORMAT_UNKNOWN;
    }
}

MMRESULT OpenError(int err) {
    if (err == -EBUSY || err == -EAGAIN) return MMSYSERR_ALLOCATED;
    if (err == -ENOMEM) return MMSYSERR_NOMEM;
    return MMSYSERR_NODRIVER;
}

// Sets the hardware parameters for Format; false when the PCM refuses it.
bool Configure(snd_pcm_t* pcm, const WAVEFORMATEX& f, snd_pcm_uframes_t& buffer, bool& can_pause) {
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    if (snd_pcm_hw_params_any(pcm, hw) < 0) return false;
    unsigned rate = f.nSamplesPerSec;
    unsigned buffer_time = 100000;
    unsigned period_time = 20000;
    if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, AlsaFormat(f)) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, f.nChannels) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) < 0)
        return false;
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer_time, nullptr);
    snd_pcm_hw_params_set_period_time_near(pcm, hw, &period_time, nullptr);
    if (snd_pcm_hw_params(pcm, hw) < 0) return false;
    snd_pcm_hw_params_get_buffer_size(hw, &buffer);
    can_pause = snd_pcm_hw_params_can_pause(hw) != 0;
    snd_pcm_uframes_t period = 0;
    snd_pcm_hw_params_get_period_size(hw, &period, nullptr);

    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_sw_params_current(pcm, sw);
    // Start once a period is in; shorter sounds are started by Kick.
    snd_pcm_sw_params_set_start_threshold(pcm, sw, std::max<snd_pcm_uframes_t>(period, 1));
    snd_pcm_sw_params_set_avail_min(pcm, sw, std::max<snd_pcm_uframes_t>(period, 1));
    snd_pcm_sw_params(pcm, sw);
    return true;
}

class AlsaStream : public Stream {
public:
    AlsaStream(snd_pcm_t* pcm, snd_pcm_uframes_t buffer, bool can_pause)
        : pcm_(pcm), buffer_(static_cast<std::int64_t>(buffer)), can_pause_(can_pause) {}
    ~AlsaStream() override {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
    }

    std::int64_t Avail() override {
        if (paused_) return 0;
        Recover();
        snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
        if (avail < 0) {
            Recover();
            avail = snd_pcm_avail_update(pcm_);
        }
        return std::max<std::int64_t>(0, std::min<std::int64_t>(avail, buffer_));
    }

    std::int64_t Write(const char* data, std::int64_t frames) override {
        if (paused_ || frames <= 0) return 0;
        Recover();
        snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, static_cast<snd_pcm_uframes_t>(frames));
        if (n == -EPIPE || n == -ESTRPIPE) {
            Recover();
            n = snd_pcm_writei(pcm_, data, static_cast<snd_pcm_uframes_t>(frames));
        }
        if (n == -EAGAIN) return 0;
        if (n < 0) return -1;
        since_prepare_ += n;
        had_data_ = true;
        return n;
    }

    void Kick() override {
        if (!paused_ && snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED && since_prepare_ > 0)
            snd_pcm_start(pcm_);
    }

    std::int64_t Played() override {
        std::int64_t in_buffer = 0;
        const snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (state == SND_PCM_STATE_PREPARED) {
            in_buffer = since_prepare_;
        } else if (state != SND_PCM_STATE_XRUN) {
            snd_pcm_sframes_t delay = 0;
            if (snd_pcm_delay(pcm_, &delay) == 0)
                in_buffer = std::clamp<std::int64_t>(delay, 0, since_prepare_);
        }
        // The position never goes back, whatever a plugin's delay says.
        played_ = std::max(played_, base_ + since_prepare_ - in_buffer);
        return played_;
    }
    std::int64_t Written() const override { return base_ + since_prepare_; }

    bool Pause() override {
        if (paused_) return true;
        paused_ = true;
        if (snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING) return true;
        if (can_pause_ && snd_pcm_pause(pcm_, 1) == 0) {
            hw_paused_ = true;
            return true;
        }
        // No pause in this PCM: what it still holds is given up and written
        // again on restart.
        const std::int64_t played = Played();
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
        base_ = played;
        since_prepare_ = 0;
        return false;
    }
    void Resume() override {
        if (!paused_) return;
        paused_ = false;
        if (hw_paused_) snd_pcm_pause(pcm_, 0);
        hw_paused_ = false;
        had_data_ = false;
    }
    void Drop() override {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
        if (paused_) hw_paused_ = false;
        base_ = 0;
        since_prepare_ = 0;
        played_ = 0;
        had_data_ = false;
    }
    std::int64_t BufferFrames() const override { return buffer_; }
    std::uint32_t Underruns() const override { return underruns_; }

private:
    // After an underrun everything written was played; prepare for more.
    void Recover() {
        const snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (state == SND_PCM_STATE_XRUN) {
            if (had_data_) ++underruns_;
            base_ += since_prepare_;
            since_prepare_ = 0;
            snd_pcm_prepare(pcm_);
            had_data_ = false;
        } else if (state == SND_PCM_STATE_SUSPENDED) {
            if (snd_pcm_resume(pcm_) < 0) snd_pcm_prepare(pcm_);
        }
    }

    snd_pcm_t* pcm_;
    std::int64_t buffer_;
    bool can_pause_;
    bool paused_ = false;
    bool hw_paused_ = false;
    bool had_data_ = false;
    std::int64_t base_ = 0;          // frames played before the last prepare
    std::int64_t since_prepare_ = 0; // frames written since
    std::int64_t played_ = 0;
    std::uint32_t underruns_ = 0;
};

class AlsaBackend : public Backend {
public:
    AlsaBackend(std::string name, std::string description)
        : name_(std::move(name)), description_(std::move(description)) {}

    void Caps(WAVEOUTCAPS& caps) override {
        std::lock_guard lock(mutex_);
        if (!probed_) Probe();
        caps = WAVEOUTCAPS{};
        caps.wMid = 0xFFFF;
        caps.wPid = 2;
        caps.vDriverVersion = (SND_LIB_MAJOR << 8) | SND_LIB_MINOR;
        std::snprintf(caps.szPname, sizeof caps.szPname, "%s", description_.c_str());
        caps.dwFormats = formats_;
        caps.wChannels = channels_;
        caps.dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME | WAVECAPS_SAMPLEACCURATE;
    }

    MMRESULT Query(const WAVEFORMATEX& format) override {
        if (!PlayableFormat(format)) return WAVERR_BADFORMAT;
        std::unique_ptr<Stream> stream;
        return Open(format, stream);
    }

    MMRESULT Open(const WAVEFORMATEX& format, std::unique_ptr<Stream>& stream) override {
        if (!PlayableFormat(format)) return WAVERR_BADFORMAT;
        InstallErrorHandler();
        snd_pcm_t* pcm = nullptr;
        const int err =
            snd_pcm_open(&pcm, name_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        if (err < 0) return OpenError(err);
        snd_pcm_uframes_t buffer = 0;
        bool can_pause = false;
        if (!Configure(pcm, format, buffer, can_pause)) {
            snd_pcm_close(pcm);
            return WAVERR_BADFORMAT;
        }
        stream = std::make_unique<AlsaStream>(pcm, buffer, can_pause);
        return MMSYSERR_NOERROR;
    }

private:
    // The standard formats and the channel count the PCM takes; all of them
    // when it cannot be opened now (busy), since the open will say so.
    void Probe() {
        probed_ = true;
        formats_ = 0xFFF;
        channels_ = 2;
        InstallErrorHandler();
        snd_pcm_t* pcm = nullptr;
        if (snd_pcm_open(&pcm, name_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
            return;
        snd_pcm_hw_params_t* hw;
        snd_pcm_hw_params_alloca(&hw);
        if (snd_pcm_hw_params_any(pcm, hw) >= 0) {
            formats_ = 0;
            const unsigned rates[] = {11025, 22050, 44100};
            for (int band = 0; band < 3; ++band)
                for (int bits16 = 0; bits16 < 2; ++bits16)
                    for (int stereo = 0; stereo < 2; ++stereo) {
                        const snd_pcm_format_t fmt =
                            bits16 ? SND_PCM_FORMAT_S16_LE : SND_PCM_FORMAT_U8;
                        if (snd_pcm_hw_params_test_format(pcm, hw, fmt) == 0 &&
                            snd_pcm_hw_params_test_channels(pcm, hw, stereo + 1) == 0 &&
                            snd_pcm_hw_params_test_rate(pcm, hw, rates[band], 0) == 0)
                            formats_ |= DWORD{1} << (band * 4 + bits16 * 2 + stereo);
                    }
            unsigned max_channels = 2;
            if (snd_pcm_hw_params_get_channels_max(hw, &max_channels) == 0)
                channels_ = static_cast<WORD>(std::min(max_channels, 8u));
        }
        snd_pcm_close(pcm);
    }

    std::mutex mutex_;
    std::string name_;
    std::string description_;
    bool probed_ = false;
    DWORD formats_ = 0;
    WORD channels_ = 2;
};

} // namespace

std::unique_ptr<Backend> MakeAlsaBackend(const std::string& name, const std::string& description) {
    return std::make_unique<AlsaBackend>(name, description);
}

AlsaScan ScanAlsa() {
    InstallErrorHandler();
    AlsaScan scan;
    const char* chosen = std::getenv("LUM_ALSA_DEVICE");
    scan.default_name = chosen != nullptr && *chosen ? chosen : "default";
    TakeLastError();
    snd_pcm_t* pcm = nullptr;
    const int err =
        snd_pcm_open(&pcm, scan.default_name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err == 0) {
        scan.default_usable = true;
        snd_pcm_close(pcm);
    } else {
        // ALSA's own message says more ("cannot find card '0'") than the code.
        std::string detail = TakeLastError();
        scan.problem = "\"" + scan.default_name + "\": " + snd_strerror(err);
        if (!detail.empty()) scan.problem += " (" + detail + ")";
    }

    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) == 0 && hints != nullptr) {
        for (void** h = hints; *h != nullptr; ++h) {
            char* name = snd_device_name_get_hint(*h, "NAME");
            char* desc = snd_device_name_get_hint(*h, "DESC");
            char* ioid = snd_device_name_get_hint(*h, "IOID");
            const bool output = ioid == nullptr || std::strcmp(ioid, "Output") == 0;
            if (name != nullptr && output && std::strcmp(name, "null") != 0 &&
                std::strcmp(name, "default") != 0 && scan.default_name != name) {
                // Descriptions are two lines: the card, then the use.
                std::string text = desc != nullptr ? desc : name;
                std::replace(text.begin(), text.end(), '\n', ' ');
                scan.others.push_back({name, text});
            }
            std::free(name);
            std::free(desc);
            std::free(ioid);
        }
        snd_device_name_free_hint(hints);
    }
    TakeLastError();
    return scan;
}

} // namespace lum::platform::waveout::detail
