// ADPCM decoding speed: a whole MS ADPCM (tag 2) or IMA ADPCM (tag 0x11)
// file read through the wave file layer in one-second blocks and decoded
// with the library's block decoders into 16-bit PCM. Prints the wall time
// (reading included), the decoding time alone, samples a second (frames x
// channels) and a hash of the decoded samples.
//
// usage: lum_bench_adpcm FILE
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/lumadpcm.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"

using namespace lum;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lum_bench_adpcm FILE\n");
        return 2;
    }
    const auto start = Clock::now();
    PWAVEIOCB cb = nullptr;
    if (int r = wioReadFileInfo(cb, argv[1], kFormWAVE, WIO_DISKFILE)) {
        std::fprintf(stderr, "%s: cannot read (code %d)\n", argv[1], r);
        return 2;
    }
    // The control block's format is followed by its extra bytes.
    const TWaveFormatEx* fmt = &cb->Format;
    const bool ms = fmt->wFormatTag == WAVE_FORMAT_ADPCM;
    if (!(ms ? adpcmIsValidFormat(fmt) : adpcmIMAIsValidFormat(fmt))) {
        std::fprintf(stderr, "%s: not MS or IMA ADPCM\n", argv[1]);
        return 2;
    }
    TWaveFormatEx pcm{};
    pcmBuildWaveHeader(&pcm, 16, fmt->nChannels, static_cast<std::int32_t>(fmt->nSamplesPerSec));
    if (wioWaveOpen(cb) != WIOERR_NOERROR) return 2;
    const std::int32_t block = std::max<std::int32_t>(
        fmt->nAvgBytesPerSec - fmt->nAvgBytesPerSec % fmt->nBlockAlign, fmt->nBlockAlign);
    std::vector<std::uint8_t> in(static_cast<std::size_t>(block));
    std::vector<std::uint8_t> out(static_cast<std::size_t>(adpcmDecodedSize(fmt, block, 16)));
    std::uint64_t hash = 0xcbf29ce484222325ull;
    std::int64_t samples = 0;
    double decoding = 0;
    for (;;) {
        const std::int32_t n = wioWaveReadData(cb, in.data(), block);
        if (n <= 0) break;
        const auto t = Clock::now();
        const std::int32_t m = ms ? adpcmDecode4Bit(fmt, &pcm, in.data(), n, out.data())
                                  : adpcmIMADecode4Bit(fmt, &pcm, in.data(), n, out.data());
        decoding += Seconds(t);
        for (std::int32_t i = 0; i < m; i += 64)
            hash = (hash ^ out[static_cast<std::size_t>(i)]) * 0x100000001b3ull;
        samples += m / 2;
    }
    wioWaveClose(cb);
    wioFreeFileInfo(cb);
    const double wall = Seconds(start);
    std::printf("%s: %lld samples, wall %.3f s, decoding %.3f s, %.1f Msamples/s (wall), "
                "%.1f Msamples/s (decoding), hash %016llx\n",
                ms ? "MS ADPCM" : "IMA ADPCM", static_cast<long long>(samples), wall, decoding,
                samples / wall / 1e6, samples / decoding / 1e6,
                static_cast<unsigned long long>(hash));
    return 0;
}
