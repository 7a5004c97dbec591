// The wave object's whole-file operations on a file: `save IN OUT` copies
// it through SaveToFile, `convert IN OUT` makes 22.05 kHz 8-bit mono of it
// through ConvertFile. Prints the wall time and times real time.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "audio/lumpcmsup.h"
#include "audio/lumwave.h"

int main(int argc, char** argv) {
    using namespace lum;
    if (argc != 4 || (std::strcmp(argv[1], "save") != 0 && std::strcmp(argv[1], "convert") != 0)) {
        std::fprintf(stderr, "usage: %s save|convert IN OUT\n", argv[0]);
        return 1;
    }
    try {
        TLumWave wave;
        wave.SetFileName(argv[2]);
        wave.SetTimeFormat(tfMillisecond);
        const double seconds = wave.GetLength() / 1000.0;
        const auto start = std::chrono::steady_clock::now();
        if (std::strcmp(argv[1], "save") == 0) {
            wave.SaveToFile(argv[3]);
        } else {
            TWaveFormatEx to{};
            pcmBuildWaveHeader(&to, 8, 1, 22050);
            wave.ConvertFile(argv[3], &to);
        }
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s: %.3f s for %.0f s of audio, %.0f x real time\n", argv[1], wall, seconds,
                    seconds / wall);
    } catch (const ELumWaveError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    return 0;
}
