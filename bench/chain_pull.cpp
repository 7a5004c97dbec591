// The cost of moving one buffer through the sound chain: a pull from a sink
// through 1, 4 and 16 pass-through members to a source, and the round trip
// of GlobalSynchronize from a worker thread. A buffer of 2048 bytes of
// 44.1 kHz 16-bit stereo plays for 11.6 ms; the pull must cost a tiny
// fraction of that.
//
// usage: lum_bench_chain [google-benchmark options]
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "chain/lumdspobj.h"
#include "platform/base/messagequeue.h"

using namespace lum;

namespace {

constexpr std::uint32_t kBufferBytes = 2048;
constexpr double kBufferPlayNs = kBufferBytes / 4.0 / 44100.0 * 1e9;

// Fills each buffer from a ready block of sample bytes, as a memory wave does.
class BlockSource : public TLumDSPInterface {
public:
    BlockSource() : block_(kBufferBytes) {
        for (std::size_t i = 0; i < block_.size(); ++i)
            block_[i] = static_cast<char>(i * 31);
    }
    void BufferLoad(platform::WAVEHDR* hdr, bool& more) override {
        const auto n = std::min<std::uint32_t>(hdr->dwBufferLength, kBufferBytes);
        std::memcpy(hdr->lpData, block_.data(), n);
        hdr->dwBytesRecorded = n;
        more = true;
    }

private:
    std::vector<char> block_;
};

void BM_PullThroughMembers(benchmark::State& state) {
    const auto members = static_cast<int>(state.range(0));
    BlockSource source;
    std::vector<std::unique_ptr<TLumDSPInterface>> chain;
    TLumDSPComponent* last = &source;
    for (int i = 0; i < members; ++i) {
        chain.push_back(std::make_unique<TLumDSPInterface>());
        chain.back()->SetInput(last);
        last = chain.back().get();
    }
    TLumDSPInterface sink;
    sink.SetInput(last);
    std::vector<char> buffer(kBufferBytes);
    platform::WAVEHDR hdr{};
    hdr.lpData = buffer.data();
    hdr.dwBufferLength = kBufferBytes;
    for (auto _ : state) {
        hdr.dwBytesRecorded = 0;
        bool more = true;
        sink.BufferLoad(&hdr, more);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBufferBytes);
    state.counters["play_ns_per_buffer"] = kBufferPlayNs;
}
BENCHMARK(BM_PullThroughMembers)->Arg(1)->Arg(4)->Arg(16);

// Each iteration: a worker asks the main thread to run a method and waits
// for its result while the main thread drains its queue.
void BM_GlobalSynchronizeRoundTrip(benchmark::State& state) {
    platform::SetMainThread();
    for (auto _ : state) {
        std::atomic<bool> done{false};
        int result = 0;
        std::thread worker([&] {
            for (int i = 0; i < 100; ++i)
                result += GlobalSynchronize([](void*) { return 1; }, nullptr);
            done = true;
            platform::WakeWaiters();
        });
        platform::WaitDraining([&] { return done.load(); });
        worker.join();
        if (result != 100) state.SkipWithError("lost a synchronised call");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 100);
}
BENCHMARK(BM_GlobalSynchronizeRoundTrip)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
