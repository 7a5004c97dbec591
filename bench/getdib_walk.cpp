// Walks the first video stream of a file with the frame reader the way the
// still extraction does (frame 0, step, 2 * step, ...) and prints the time
// it took, the decoder's counters and a hash of the frames visited, so that
// a change to the decoder can be timed and checked for changed pictures.
//
// usage: lum_bench_getdib FILE [STEP] [--random N] [--every]
//   --random N  fetch N frames at random positions (seed 1) instead
//   --every     decode every frame in order, hashing only the visited ones
//   --raw       write each fetched frame to stdout as top-down BGR24 rows,
//               for comparing with ffmpeg's framemd5 of the same frames
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "video/lumavi.h"
#include "video/lumaviworker.h"
#include "video/lumdib.h"

using namespace lum;

namespace {

std::uint64_t Fnv(std::uint64_t h, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i)
        h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [STEP] [--random N] [--every]\n", argv[0]);
        return 2;
    }
    LONG step = 60;
    int random = 0;
    bool every = false;
    bool raw = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--random" && i + 1 < argc)
            random = std::atoi(argv[++i]);
        else if (a == "--every")
            every = true;
        else if (a == "--raw")
            raw = true;
        else
            step = std::atol(a.c_str());
    }
    if (step < 1) step = 1;
    try {
        TLumAVIFile file;
        file.SetFileName(argv[1]);
        file.SetShareMode(smRead);
        file.OpenFile();
        TLumAVIVideoWorker worker(file.GetTypedStreams(stVideo, 0));
        if (worker.GetStream() == nullptr) throw ELumAVIError("Stream not opened");
        const LONG length = worker.GetStream()->GetLength();
        std::vector<LONG> positions;
        if (random > 0) {
            std::mt19937 rng(1);
            std::uniform_int_distribution<LONG> pick(0, length - 1);
            for (int i = 0; i < random; ++i)
                positions.push_back(pick(rng));
        } else {
            for (LONG p = 0; p < length; p += every ? 1 : step)
                positions.push_back(p);
        }
        const auto t0 = std::chrono::steady_clock::now();
        worker.BeginReading();
        std::uint64_t hash = 0xcbf29ce484222325ull;
        for (LONG p : positions) {
            PBitmapInfoHeader dib = worker.GetDIB(p);
            if (p % step == 0 || random > 0) hash = Fnv(hash, DIB_Ptr(dib), DIB_SizeImage(dib));
            if (raw && dib->biBitCount == 24) {
                const auto* bits = static_cast<const std::uint8_t*>(DIB_Ptr(dib));
                const LONG rows = dib->biHeight < 0 ? -dib->biHeight : dib->biHeight;
                const std::size_t stride = DIB_WidthBytes(dib);
                for (LONG y = 0; y < rows; ++y) {
                    const LONG row = dib->biHeight < 0 ? y : rows - 1 - y;
                    std::fwrite(bits + static_cast<std::size_t>(row) * stride, 3,
                                static_cast<std::size_t>(dib->biWidth), stdout);
                }
            }
        }
        // For random fetches: the frames from each one's key frame on, the
        // most that decoding it from its key frame should take.
        long long bound = 0;
        if (random > 0)
            for (LONG p : positions)
                bound += p - worker.GetStream()->FindSample(p, fdPrev, {ftKeyFrame}) + 1;
        const platform::vfw::GetFrameStats s = worker.GetDecoder()->Stats();
        worker.EndReading();
        if (random > 0)
            std::fprintf(stderr, "decoded %.1f a fetch; from the key frame on: %.1f a fetch\n",
                         static_cast<double>(s.frames_decoded) / random,
                         static_cast<double>(bound) / random);
        const double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::fprintf(
            stderr,
            "%s: %zu fetches in %.3f s; decoded %llu, converted %llu, restarts %llu; "
            "hash %016llx\n",
            argv[1], positions.size(), secs, static_cast<unsigned long long>(s.frames_decoded),
            static_cast<unsigned long long>(s.frames_converted),
            static_cast<unsigned long long>(s.restarts), static_cast<unsigned long long>(hash));
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.Message().c_str());
        return 1;
    }
    return 0;
}
