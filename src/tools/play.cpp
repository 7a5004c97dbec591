// `lum wave play`: a wave file through TLumWaveOut, with the position as a
// progress bar; Ctrl-C stops the sound and closes the device.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <vector>

#include "audio/lumacm.h"
#include "audio/lumacmsup.h"
#include "audio/lumadcvt.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "audio/lumwavout.h"
#include "chain/lumdspmtr.h"
#include "chain/lumdspobj.h"
#include "core/lumobj.h"
#include "core/lumutils.h"
#include "platform/base/messagequeue.h"
#include "tools/args.h"
#include "tools/lumtool.h"
#include "tools/progress.h"

namespace lum::tools {

namespace {

using platform::WAVEHDR;

// The chain's head: the samples of an open wave file, again from the start
// while the output loops.
class WaveFileSource : public TLumDSPInterface {
public:
    explicit WaveFileSource(PWAVEIOCB cb) : cb_(cb) {}

    void BufferLoad(WAVEHDR* hdr, bool& more) override {
        const std::int32_t room = static_cast<std::int32_t>(hdr->dwBufferLength);
        std::int32_t n = wioWaveReadData(cb_, hdr->lpData, room);
        if (n < 0) throw Exception(LoadResStr(130)); // "Error reading wave file"
        hdr->dwBytesRecorded = static_cast<platform::DWORD>(n);
        more = cb_->BytesLeft > 0;
        TLumWaveHeader* ext = LumWaveHeader(hdr);
        if (!more && ext->LoopMarker == kLumLoopMarker) {
            // A loop count of n plays n + 1 times; 0 loops without end.
            if (ext->LoopCount > 0) --ext->LoopsLeft;
            if (!(ext->LoopCount > 0 && ext->LoopsLeft < 0) && cb_->DataBytes > 0 &&
                wioWaveSetPosition(cb_, 0) == WIOERR_NOERROR) {
                more = true;
                ext->LoopHappened = kLumLoopMarker;
            }
        }
        TLumDSPInterface::BufferLoad(hdr, more);
    }

    void Reseting() override { wioWaveSetPosition(cb_, 0); }

private:
    PWAVEIOCB cb_;
};

// Formats the compression manager decodes, turned into PCM between the
// source and the device: each pull takes whole source blocks from upstream
// through a conversion of the support unit, and what the codecs still hold
// at the end comes out before the last buffer.
class ModuleDecoder : public TLumDSPComponent {
public:
    ModuleDecoder(const TWaveFormatEx* from, const TWaveFormatEx& to) : to_(to) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(from);
        from_.assign(p, p + wioSizeOfWaveFormat(from));
        SetCanInput(true);
        SetCanOutput(true);
    }
    ~ModuleDecoder() override {
        SetInput(nullptr);
        SetOutput(nullptr);
        acmDoneConvert(conv_);
    }
    void ChangePWaveFormat(const platform::WAVEFORMATEX* f) override {
        SetPWaveFormat(f != nullptr ? &to_ : nullptr);
    }
    void Opened() override {
        if (IsOpened()) return;
        const TWaveFormatEx* from = From();
        // About a quarter of a second of whole source blocks a pull.
        const std::int32_t align = std::max<std::int32_t>(from->nBlockAlign, 1);
        const std::int32_t quarter = static_cast<std::int32_t>(from->nAvgBytesPerSec / 4);
        const std::int32_t block = std::max(align, quarter - quarter % align);
        conv_ = acmBeginConvert(from, &to_, nullptr, false, block);
        if (conv_ == nullptr || conv_->SourceBlockSize <= 0)
            throw Exception(LoadResStr(142)); // "Unable to convert wave file"
        TLumDSPComponent::Opened();
    }
    void Closed() override {
        TLumDSPComponent::Closed();
        acmDoneConvert(conv_);
    }
    void Started() override {
        Clear();
        TLumDSPComponent::Started();
    }
    void Reseting() override {
        Clear();
        TLumDSPComponent::Reseting();
    }
    void BufferLoad(WAVEHDR* hdr, bool& more) override {
        const auto room = static_cast<std::int32_t>(hdr->dwBufferLength);
        std::int32_t filled = 0;
        if (conv_ == nullptr || !IsStarted()) {
            hdr->dwBytesRecorded = 0;
            more = false;
            return;
        }
        TLumWaveHeader* ext = LumWaveHeader(hdr);
        for (;;) {
            const std::int32_t take = std::min(count_ - done_, room - filled);
            if (take > 0) {
                std::memcpy(hdr->lpData + filled, conv_->OutputBuffer + done_,
                            static_cast<std::size_t>(take));
                filled += take;
                done_ += take;
            }
            if (filled >= room || ended_) break;
            std::int32_t made = 0;
            if (!exhausted_) {
                pull_ = TLumWaveHeader{};
                pull_.Hdr.lpData = reinterpret_cast<char*>(conv_->SourceBuffer);
                pull_.Hdr.dwBufferLength = static_cast<platform::DWORD>(conv_->SourceBlockSize);
                pull_.LoopMarker = ext->LoopMarker;
                pull_.LoopCount = ext->LoopCount;
                pull_.LoopsLeft = ext->LoopsLeft;
                bool upstream = true;
                TLumDSPComponent::BufferLoad(&pull_.Hdr, upstream);
                ext->LoopsLeft = pull_.LoopsLeft;
                if (pull_.LoopHappened == kLumLoopMarker) ext->LoopHappened = kLumLoopMarker;
                const auto n = static_cast<std::int32_t>(
                    std::min<platform::DWORD>(pull_.Hdr.dwBytesRecorded, conv_->SourceBlockSize));
                if (n <= 0 || !upstream) exhausted_ = true;
                made = n > 0 ? acmDoConvert(conv_, n) : 0;
            } else {
                // The codecs' last samples, until they give nothing more.
                made = acmEndConvert(conv_, 0);
                if (made <= 0 || ++end_rounds_ > 1000) ended_ = true;
            }
            count_ = std::max(made, 0);
            done_ = 0;
        }
        hdr->dwBytesRecorded = static_cast<platform::DWORD>(filled);
        more = !ended_ || done_ < count_;
    }

private:
    const TWaveFormatEx* From() const {
        return reinterpret_cast<const TWaveFormatEx*>(from_.data());
    }
    void Clear() {
        count_ = done_ = 0;
        exhausted_ = ended_ = false;
        end_rounds_ = 0;
        if (conv_) acmFlushConvert(conv_);
    }

    std::vector<std::uint8_t> from_;
    TWaveFormatEx to_;
    PACMConvert conv_ = nullptr;
    TLumWaveHeader pull_{};
    std::int32_t count_ = 0, done_ = 0;
    int end_rounds_ = 0;
    bool exhausted_ = false, ended_ = false;
};

// The file's control block, closed and freed on every path.
class OpenWave {
public:
    ~OpenWave() {
        if (cb_ != nullptr) {
            wioWaveClose(cb_);
            wioFreeFileInfo(cb_);
        }
    }
    PWAVEIOCB& Block() { return cb_; }

private:
    PWAVEIOCB cb_ = nullptr;
};

volatile std::sig_atomic_t g_interrupted = 0;

// Internal linkage: the still extraction has a handler of the same name.
void OnInterrupt(int) {
    g_interrupted = 1;
}

// Ctrl-C sets a flag for the play loop while the guard lives.
class InterruptGuard {
public:
    InterruptGuard() {
        g_interrupted = 0;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
    }
    ~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }

private:
    struct sigaction previous_ {};
};

// The device's messages span lines ("WaveOutOpen:\n\r..."); one line here.
std::string OneLine(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\r') {
            out += ' ';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The shell's status for a program ended by Ctrl-C.
constexpr int kExitInterrupted = 130;

int Fail(ToolIo& io, const std::string& path, const std::string& problem) {
    io.err << "lum wave play: " << path << ": " << problem << "\n";
    return kExitFailure;
}

} // namespace

int RunWavePlay(const Args& args, ToolIo& io) {
    std::string path;
    std::optional<std::string> device, route;
    std::optional<long> loop, buffer_size, buffers;
    bool meter = false;
    ArgParser parser("lum wave play", "Plays a wave file (PCM, MS ADPCM or IMA ADPCM) on a wave "
                                      "output device, showing the position. "
                                      "Ctrl-C stops it.");
    parser.Positional("FILE", path)
        .Option("--device", "N|virtual", device, "device id, -1 the mapper (default), or virtual")
        .Integer("--loop", loop, 0, 1000000, "play N more times; 0 repeats until stopped")
        .Option("--route", "window|callback|thread", route,
                "where returned buffers are refilled (default window)")
        .Integer("--buffer-size", buffer_size, 32, 1 << 24, "bytes per buffer")
        .Integer("--buffers", buffers, 2, TLumWaveOut::kMaxBuffers, "buffers in the ring")
        .Flag("--meter", meter,
              "print the processor load of filling the buffers (the load meter) at the end");
    if (const auto done = ParseCommand(parser, args, io)) return *done;

    TLumCBMode mode = cmWindow;
    if (route == "callback")
        mode = cmCallback;
    else if (route == "thread")
        mode = cmThread;
    else if (route && route != "window") {
        io.err << "lum wave play: --route must be window, callback or thread\n";
        return kExitUsage;
    }
    const int count = static_cast<int>(platform::waveout::waveOutGetNumDevs());
    int device_id = -1;
    if (device == "virtual") {
        device_id = static_cast<int>(platform::waveout::waveOutVirtualDevice());
    } else if (device) {
        std::size_t used = 0;
        try {
            device_id = std::stoi(*device, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used != device->size() || device_id < -1 || device_id >= count) {
            io.err << "lum wave play: --device must be -1 to " << count - 1
                   << " or virtual (see lum devices)\n";
            return kExitUsage;
        }
    }

    OpenWave wave;
    if (wioReadFileInfo(wave.Block(), path.c_str(), kFormWAVE, WIO_DISKFILE) != WIOERR_NOERROR)
        return Fail(io, path, wioFileExists(path.c_str()) ? LoadResStr(133) : LoadResStr(138));
    PWAVEIOCB cb = wave.Block();
    // MS ADPCM and IMA ADPCM decode in the chain, on the way to the device;
    // other compressed formats through the compression manager.
    const bool pcm = cb->Format.wFormatTag == platform::WAVE_FORMAT_PCM;
    const bool decode = !pcm && TLumADPCMConverter::Decodes(&cb->Format);
    TWaveFormatEx module_pcm{};
    const bool module = !pcm && !decode && acmStartup() &&
                        acmSuggestPCMFormat(&cb->Format, module_pcm) &&
                        acmQueryConvert(&cb->Format, &module_pcm, false);
    if (!pcm && !decode && !module) {
        std::string name;
        wioGetFormatName(&cb->Format, name);
        return Fail(io, path,
                    "this format does not play: " + name +
                        (acmIsUsable() ? "" : " (without the audio compression manager)"));
    }
    if (wioWaveOpen(cb) != WIOERR_NOERROR) return Fail(io, path, LoadResStr(130));

    // Said when the virtual device stands in for ALSA, not when asked for.
    if (device != "virtual" && device_id <= 0) NoteVirtualFallback(io);
    platform::SetMainThread();
    WaveFileSource source(cb);
    TLumADPCMConverter converter;
    std::unique_ptr<ModuleDecoder> decoder;
    if (module) decoder = std::make_unique<ModuleDecoder>(&cb->Format, module_pcm);
    // Failures on the device's or the output thread's route reach the tool
    // only through OnError; declared first so they outlive the output.
    std::mutex error_mutex;
    std::string error;
    TLumWaveOut out;
    // What reaches the device: the file's PCM, or the converter's.
    TWaveFormatEx played = cb->Format;
    if (decode)
        pcmBuildWaveHeader(&played, 16, cb->Format.nChannels,
                           static_cast<std::int32_t>(cb->Format.nSamplesPerSec));
    if (module) played = module_pcm;
    const platform::DWORD rate = played.nAvgBytesPerSec;
    try {
        out.SetDeviceID(device_id);
        out.SetCallBackMode(mode);
        out.SetShowHourGlass(false);
        // A twentieth of a second a buffer unless told otherwise.
        out.SetBufferSize(
            static_cast<std::int32_t>(buffer_size.value_or(std::max<long>(2048, rate / 20))));
        if (buffers) out.SetNumBuffers(static_cast<int>(*buffers));
        out.SetLooping(loop.has_value());
        out.SetLoopCount(static_cast<int>(loop.value_or(0)));
        if (decode) {
            converter.SetInput(&source);
            out.SetInput(&converter);
        } else if (module) {
            decoder->SetInput(&source);
            out.SetInput(decoder.get());
        } else {
            out.SetInput(&source);
        }
        source.SetPWaveFormat(&cb->Format);
    } catch (const Exception& e) {
        return Fail(io, path, OneLine(e.Message()));
    }

    out.OnError = [&](TLumDSPComponent*, const std::string& message) {
        std::lock_guard lock(error_mutex);
        if (error.empty()) error = message;
    };

    // The output measures its buffer work on the registered meter while it
    // plays; sampled here at the position's pace.
    std::unique_ptr<TLumDSPMeter> load;
    if (meter) load = std::make_unique<TLumDSPMeter>();
    double load_sum = 0;
    long load_samples = 0;
    int load_peak = 0;

    InterruptGuard interrupt;
    const std::int64_t total =
        pcm ? std::int64_t{cb->DataBytes} : std::int64_t{cb->SampleCount} * played.nBlockAlign;
    ProgressBar progress(io.err, io.progress, "Playing");
    try {
        out.Start();
        while (out.IsPlaying() && !g_interrupted) {
            Delay(25, true);
            progress.Update(out.GetPosition(), total);
            if (load && load->Registered()) {
                // The smoothed figure carries half a percent for rounding.
                load_sum += std::max(0.0, static_cast<double>(load->GetSmoothed()) - 0.5);
                ++load_samples;
                load_peak = std::max(load_peak, load->GetValue());
            }
        }
        // The position within a loop's pass is only as exact as the device's
        // report at the turn; a play that ran out played all of it.
        if (!g_interrupted) progress.Update(total, total);
        progress.Finish();
        // The mapper's choice, by name.
        platform::UINT id = static_cast<platform::UINT>(device_id);
        platform::waveout::waveOutGetID(out.GetHandle(), &id);
        const std::string where = WaveOutGetDeviceName(static_cast<int>(id));
        out.Close();
        {
            std::lock_guard lock(error_mutex);
            if (!error.empty()) return Fail(io, path, OneLine(error));
        }
        if (g_interrupted) {
            io.err << "lum wave play: stopped\n";
            return kExitInterrupted;
        }
        io.out << "Played " << path << " ("
               << TimeToStringEx(wioSamplesToTimeEx(cb, cb->SampleCount), true) << ") on " << where
               << "\n";
        if (load) {
            char line[128];
            std::snprintf(line, sizeof line, "Load: mean %.2f %%, peak %d %%\n",
                          load_samples > 0 ? load_sum / static_cast<double>(load_samples) : 0.0,
                          load_peak);
            io.out << line;
        }
    } catch (const std::exception& e) {
        progress.Finish();
        try {
            out.Close();
        } catch (const std::exception&) {
        }
        return Fail(io, path, OneLine(e.what()));
    }
    return kExitOk;
}

} // namespace lum::tools
