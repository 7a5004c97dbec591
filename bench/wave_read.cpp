// Wave file speed: reading a file in one-second blocks through the wave
// file layer, and PCM conversion of 44.1 kHz 16-bit stereo to 22.05 kHz
// 8-bit mono in one-second blocks. Prints the wall time, the throughput
// and how many times faster than real time, and a hash of what was read or
// made, so a faster version can be checked for the same result.
//
// usage: lum_bench_wave read FILE [--direct]
//        lum_bench_wave convert [SECONDS]   (default 600 s of audio)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"

using namespace lum;

namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t Fnv(std::uint64_t h, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    // Every 64th byte: enough to catch a misplaced block, cheap next to the read.
    for (std::size_t i = 0; i < size; i += 64)
        h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int Read(const std::string& path, bool direct) {
    PWAVEIOCB cb = nullptr;
    if (int r = wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE)) {
        std::fprintf(stderr, "%s: cannot read (code %d)\n", path.c_str(), r);
        return 2;
    }
    const auto start = Clock::now();
    if (wioWaveOpen(cb) != WIOERR_NOERROR) return 2;
    const std::int32_t block =
        cb->Format.nAvgBytesPerSec - cb->Format.nAvgBytesPerSec % cb->Format.nBlockAlign;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(block));
    std::uint64_t hash = 0xcbf29ce484222325ull;
    std::int64_t bytes = 0;
    for (;;) {
        const std::int32_t n = direct ? wioWaveReadDataDirect(cb, buffer.data(), block)
                                      : wioWaveReadData(cb, buffer.data(), block);
        if (n <= 0) break;
        hash = Fnv(hash, buffer.data(), static_cast<std::size_t>(n));
        bytes += n;
    }
    wioWaveClose(cb);
    const double s = Seconds(start);
    const double audio = static_cast<double>(bytes) / cb->Format.nAvgBytesPerSec;
    std::printf("read%s: %.0f s of audio, %lld bytes in %.3f s: %.0f MB/s, %.0f x real time, "
                "hash %016llx\n",
                direct ? " direct" : "", audio, static_cast<long long>(bytes), s,
                static_cast<double>(bytes) / s / 1e6, audio / s,
                static_cast<unsigned long long>(hash));
    wioFreeFileInfo(cb);
    return 0;
}

int Convert(int seconds) {
    TWaveFormatEx from{}, to{};
    pcmBuildWaveHeader(&from, 16, 2, 44100);
    pcmBuildWaveHeader(&to, 8, 1, 22050);
    // One second of a changing signal, converted again for every second.
    std::vector<std::uint8_t> in(from.nAvgBytesPerSec);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<std::uint8_t>(i * 7919 >> 3);
    const std::int32_t room = PCMCONVERTSIZEOUTPUTDATA(&to, &from, from.nAvgBytesPerSec);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(room) + to.nBlockAlign);
    std::uint64_t hash = 0xcbf29ce484222325ull;
    const auto start = Clock::now();
    for (int s = 0; s < seconds; ++s) {
        const std::int32_t n =
            PCMCONVERT(&to, out.data(), &from, in.data(), static_cast<std::int32_t>(in.size()));
        hash = Fnv(hash, out.data(), static_cast<std::size_t>(n));
    }
    const double s = Seconds(start);
    const double frames = 44100.0 * seconds;
    std::printf("convert 44100/16/2 -> 22050/8/1: %d s of audio in %.3f s: %.1f M source "
                "frames/s, %.0f x real time, hash %016llx\n",
                seconds, s, frames / s / 1e6, seconds / s, static_cast<unsigned long long>(hash));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "read" && argc >= 3)
        return Read(argv[2], argc > 3 && !std::strcmp(argv[3], "--direct"));
    if (mode == "convert") return Convert(argc > 2 ? std::atoi(argv[2]) : 600);
    std::fprintf(stderr, "usage: %s read FILE [--direct] | convert [SECONDS]\n", argv[0]);
    return 2;
}
