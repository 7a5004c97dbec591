// Wave output headroom: the smallest ring (buffer count × buffer size) that
// plays a wave file through TLumWaveOut on the virtual device without an
// underrun while another thread keeps a core busy, and how far the play
// position has drifted from the wall clock at the end.
//
// For each buffer count the sizes are tried from the smallest up; a run
// ends at its first underrun, so only the run that passes takes the file's
// whole length. Figures are of this machine at this moment: other programs
// on the same cores change them.
//
// usage: lum_bench_waveout [--seconds S] [--route window|callback|thread]
//                          [--counts 2,3,4,8] [--sizes 256,512,...]
//                          [--no-load]
// The file is S seconds (60 by default) of 44.1 kHz 16-bit stereo PCM,
// written once into the temporary folder.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "audio/lumwavout.h"
#include "core/lumutils.h"
#include "platform/base/messagequeue.h"
#include "platform/base/system.h"
#include "platform/waveout/waveout.h"

using namespace lum;
using Clock = std::chrono::steady_clock;

namespace {

// The chain's head: the samples of the open file.
class FileSource : public TLumDSPInterface {
public:
    explicit FileSource(PWAVEIOCB cb) : cb_(cb) {}
    void BufferLoad(platform::WAVEHDR* hdr, bool& more) override {
        const std::int32_t n =
            wioWaveReadData(cb_, hdr->lpData, static_cast<std::int32_t>(hdr->dwBufferLength));
        hdr->dwBytesRecorded = n > 0 ? static_cast<platform::DWORD>(n) : 0;
        more = n > 0 && cb_->BytesLeft > 0;
        TLumDSPInterface::BufferLoad(hdr, more);
    }

private:
    PWAVEIOCB cb_;
};

std::vector<long> List(const char* text) {
    std::vector<long> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        out.push_back(std::strtol(item.c_str(), nullptr, 10));
    return out;
}

// A sine at 440 Hz, so the file is sound rather than noise.
bool WriteFile(const std::string& path, int seconds) {
    TWaveFormatEx fmt{};
    pcmBuildWaveHeader(&fmt, 16, 2, 44100);
    PWAVEIOCB cb = nullptr;
    if (wioCreateFileInfo(cb, &fmt) != WIOERR_NOERROR) return false;
    if (wioWriteFileInfo(cb, path.c_str()) != WIOERR_NOERROR) return false;
    std::vector<std::int16_t> block(2 * 44100);
    bool ok = true;
    for (int s = 0; s < seconds && ok; ++s) {
        for (std::size_t i = 0; i < block.size() / 2; ++i)
            block[2 * i] = block[2 * i + 1] =
                static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * double(i) / 44100));
        const auto bytes = static_cast<std::int32_t>(block.size() * 2);
        ok = wioWaveWriteData(cb, block.data(), bytes) == bytes;
    }
    ok = wioWaveClose(cb) == WIOERR_NOERROR && ok;
    wioFreeFileInfo(cb);
    return ok;
}

struct Outcome {
    bool passed = false;
    double played_s = 0; // audio played when the run ended
    double wall_s = 0;   // wall time from start to the end of the play
    double drift_ms = 0; // position − wall clock, at the last reading
    platform::DWORD underruns = 0;
};

Outcome Play(const std::string& path, TLumCBMode route, int count, int size) {
    Outcome result;
    PWAVEIOCB cb = nullptr;
    if (wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE) != WIOERR_NOERROR ||
        wioWaveOpen(cb) != WIOERR_NOERROR) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(2);
    }
    {
        FileSource source(cb);
        TLumWaveOut out;
        out.SetDeviceID(static_cast<int>(platform::waveout::waveOutVirtualDevice()));
        out.SetCallBackMode(route);
        out.SetShowHourGlass(false);
        out.SetNumBuffers(count);
        out.SetBufferSize(size);
        out.SetTimeFormat(tfMillisecond);
        out.SetInput(&source);
        source.SetPWaveFormat(&cb->Format);
        out.Start();
        const auto start = Clock::now();
        while (out.IsPlaying()) {
            Delay(10, true);
            platform::waveout::waveOutGetUnderruns(out.GetHandle(), &result.underruns);
            if (result.underruns > 0) break;
            // The reading's time is the middle of the call; a reading the
            // scheduler interrupted for more than a millisecond is skipped.
            const auto before = Clock::now();
            const std::int64_t position = out.GetPosition();
            const auto after = Clock::now();
            const double wall =
                std::chrono::duration<double>(before + (after - before) / 2 - start).count();
            if (out.IsPlaying() && after - before < std::chrono::milliseconds(1)) {
                result.drift_ms = double(position) - wall * 1000;
                result.played_s = double(position) / 1000;
                result.wall_s = wall;
            }
        }
        result.passed = result.underruns == 0;
        out.Close();
    }
    wioWaveClose(cb);
    wioFreeFileInfo(cb);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    TLumCBMode route = cmWindow;
    const char* route_name = "window";
    std::vector<long> counts = List("2,3,4,8");
    std::vector<long> sizes = List("256,512,1024,2048,4096,8192,16384");
    bool load = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--seconds") {
            seconds = std::atoi(v), ++i;
        } else if (a == "--route") {
            route_name = v, ++i;
            route = !std::strcmp(v, "thread")     ? cmThread
                    : !std::strcmp(v, "callback") ? cmCallback
                                                  : cmWindow;
        } else if (a == "--counts") {
            counts = List(v), ++i;
        } else if (a == "--sizes") {
            sizes = List(v), ++i;
        } else if (a == "--no-load") {
            load = false;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--seconds S] [--route R] [--counts L] [--sizes L] "
                         "[--no-load]\n",
                         argv[0]);
            return 1;
        }
    }
    if (seconds < 1) seconds = 1;
    platform::SetMainThread();
    const std::string path =
        platform::GetTempPath() + "lum_bench_waveout_" + std::to_string(getpid()) + ".wav";
    if (!WriteFile(path, seconds)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 2;
    }

    // The other core: a thread that never sleeps.
    std::atomic<bool> done{false};
    std::thread busy;
    if (load)
        busy = std::thread([&] {
            volatile std::uint64_t x = 0;
            while (!done.load(std::memory_order_relaxed))
                x = x + 1;
        });

    std::printf("%d s of 44.1 kHz 16-bit stereo on \"Virtual output\", route %s, %s\n", seconds,
                route_name, load ? "one core kept busy" : "no extra load");
    std::printf("%7s %7s %9s %9s %9s %11s\n", "buffers", "bytes", "ring ms", "result", "played s",
                "drift ms");
    for (long count : counts) {
        for (long size : sizes) {
            const Outcome r = Play(path, route, static_cast<int>(count), static_cast<int>(size));
            const double ring_ms = double(count * size) / (44100.0 * 4) * 1000;
            std::printf("%7ld %7ld %9.1f %9s %9.2f %11.1f\n", count, size, ring_ms,
                        r.passed ? "ok" : "underrun", r.played_s, r.passed ? r.drift_ms : 0.0);
            std::fflush(stdout);
            if (r.passed) break;
        }
    }
    done = true;
    if (busy.joinable()) busy.join();
    std::remove(path.c_str());
    return 0;
}
