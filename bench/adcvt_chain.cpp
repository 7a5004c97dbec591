// The cost of decoding MS ADPCM (or IMA ADPCM) in the sound chain while a
// file plays: the file through a source member and TLumADPCMConverter,
// pulled in buffers of a twentieth of a second as lum wave play pulls them.
// Prints the processor time of the pulls (the file's reading included)
// and that time as a share of one core over the file's playing time.
//
// usage: lum_bench_adcvt FILE
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "audio/lumadcvt.h"
#include "audio/lumwaveio.h"

using namespace lum;

namespace {

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class FileSource : public TLumDSPComponent {
public:
    explicit FileSource(PWAVEIOCB cb) : cb_(cb) {
        SetCanOutput(true);
        SetPWaveFormat(&cb->Format);
    }
    void BufferLoad(platform::WAVEHDR* hdr, bool& more) override {
        const std::int32_t n =
            wioWaveReadData(cb_, hdr->lpData, static_cast<std::int32_t>(hdr->dwBufferLength));
        hdr->dwBytesRecorded = static_cast<platform::DWORD>(n > 0 ? n : 0);
        more = cb_->BytesLeft > 0;
    }

private:
    PWAVEIOCB cb_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lum_bench_adcvt FILE\n");
        return 2;
    }
    PWAVEIOCB cb = nullptr;
    if (wioReadFileInfo(cb, argv[1], kFormWAVE, WIO_DISKFILE) != WIOERR_NOERROR ||
        !TLumADPCMConverter::Decodes(&cb->Format) || wioWaveOpen(cb) != WIOERR_NOERROR) {
        std::fprintf(stderr, "%s: not an ADPCM file the converter decodes\n", argv[1]);
        return 2;
    }
    // The playing time comes from the samples decoded: the sample count of a
    // file follows its byte rate field, which ffmpeg's MS ADPCM files set
    // well below the real rate.
    double seconds = 0;
    double cpu = 0;
    std::int64_t bytes = 0;
    {
        FileSource source(cb);
        TLumADPCMConverter conv;
        conv.SetInput(&source);
        const platform::WAVEFORMATEX* out = conv.GetPWaveFormat();
        std::vector<char> buffer(out->nAvgBytesPerSec / 20);
        conv.Opened();
        conv.Started();
        bool more = true;
        const double start = CpuSeconds();
        while (more) {
            platform::WAVEHDR hdr{};
            hdr.lpData = buffer.data();
            hdr.dwBufferLength = static_cast<platform::DWORD>(buffer.size());
            conv.BufferLoad(&hdr, more);
            bytes += hdr.dwBytesRecorded;
        }
        cpu = CpuSeconds() - start;
        seconds = static_cast<double>(bytes) / static_cast<double>(out->nAvgBytesPerSec);
        conv.Stopped();
        conv.Closed();
    }
    wioWaveClose(cb);
    wioFreeFileInfo(cb);
    std::printf("%.1f s of audio, %lld PCM bytes: %.3f s of processor time, %.3f %% of one core "
                "while playing\n",
                seconds, static_cast<long long>(bytes), cpu, 100 * cpu / seconds);
    return 0;
}
