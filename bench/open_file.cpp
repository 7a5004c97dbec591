// Opens a video file through the video service the way the extraction
// starts (open, list the streams, length and format of the first video
// stream) and prints how long it took, the CPU time, and how many bytes of
// the file it read, so that opening a long file can be checked to read its
// header only (MP4) or its packets once (MKV, MPEG-TS).
//
// usage: lum_bench_open FILE [RUNS]
//   prints: wall_s cpu_s bytes_read file_bytes frames (medians over RUNS, default 3)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/bytestream.h"
#include "platform/vfw/vfw.h"

using namespace lum::platform;
using namespace lum::platform::vfw;

namespace {

class Counting final : public ByteStream {
public:
    Counting(std::unique_ptr<ByteStream> in, std::int64_t* read)
        : in_(std::move(in)), read_(read) {}
    std::int64_t Size() const override { return in_->Size(); }
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) override {
        const std::size_t n = in_->ReadAt(offset, buffer, count);
        *read_ += static_cast<std::int64_t>(n);
        return n;
    }
    bool WriteAt(std::int64_t, const void*, std::size_t) override { return false; }
    bool Truncate(std::int64_t) override { return false; }
    bool Writable() const override { return false; }

private:
    std::unique_ptr<ByteStream> in_;
    std::int64_t* read_;
};

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

template <typename T>
T Median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::vector<double> walls, cpus;
    std::vector<std::int64_t> reads;
    std::int64_t size = 0;
    LONG frames = -1;
    for (int r = 0; r < runs; ++r) {
        auto file = FileStream::Open(argv[1], FileMode::Read);
        if (!file) {
            std::fprintf(stderr, "can't open %s\n", argv[1]);
            return 1;
        }
        size = file->Size();
        std::int64_t read = 0;
        const auto start = std::chrono::steady_clock::now();
        const double cpu = CpuSeconds();
        PAVIFILE f = nullptr;
        HRESULT hr =
            AVIFileOpenStream(&f, std::make_unique<Counting>(std::move(file), &read), OF_READ);
        if (hr != AVIERR_OK) {
            std::fprintf(stderr, "AVIFileOpenStream: %08x\n", static_cast<unsigned>(hr));
            return 1;
        }
        AVIFILEINFO fi{};
        AVIFileInfo(f, &fi, sizeof fi);
        PAVISTREAM v = nullptr;
        if (AVIFileGetStream(f, &v, streamtypeVIDEO, 0) == AVIERR_OK) {
            AVISTREAMINFO si{};
            AVIStreamInfo(v, &si, sizeof si);
            LONG format = 0;
            AVIStreamReadFormat(v, 0, nullptr, &format);
            frames = AVIStreamLength(v);
        }
        walls.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        cpus.push_back(CpuSeconds() - cpu);
        reads.push_back(read);
        AVIStreamRelease(v);
        AVIFileRelease(f);
    }
    std::printf("%.3f %.3f %lld %lld %ld\n", Median(walls), Median(cpus),
                static_cast<long long>(Median(reads)), static_cast<long long>(size),
                static_cast<long>(frames));
    return 0;
}
