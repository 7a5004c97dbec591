// Reading ahead for a walk in even steps. A walk through a stream with long
// key-frame intervals decodes each interval's requested frames from its key
// frame on, one interval after the other (a stream of key frames only, one
// frame after the other); runs of requests that start afresh (the codec
// tells which) do not depend on each other. So a second instance of
// the codec, on a thread of its own, decodes every other run of such
// requests while the caller's codec decodes the runs between, and hands its
// pictures over in request order. Each run is decoded by its codec exactly
// as the caller's codec would decode it, so the pictures and the counts of
// what was decoded are the same as without reading ahead.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/vfw/framecodec.h"

namespace lum::platform::vfw {

class ReadAhead {
public:
    // Twin decodes the runs of odd number of the walk First, First + Step,
    // ... below Length; First's run is number 0. Out is the output layout.
    ReadAhead(std::unique_ptr<FrameCodec> twin, const DibLayout& out, LONG first, LONG step,
              LONG length);
    ~ReadAhead(); // stops the thread, dropping what it has not handed over
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Waits for the picture of Rel (a request of the twin's runs, asked for
    // in order) and copies it into Pixels; false when the twin could not
    // decode it. Adds what decoding it took to Stats.
    bool Take(LONG rel, std::uint8_t* pixels, GetFrameStats& stats);

private:
    struct Picture {
        LONG rel = -1;
        bool ok = false;
        GetFrameStats cost;
        std::vector<std::uint8_t> pixels;
    };

    void Run();

    std::unique_ptr<FrameCodec> twin_;
    DibLayout out_;
    const LONG first_;
    const LONG step_;
    const LONG length_;
    std::size_t capacity_; // pictures decoded and not yet taken, at most

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Picture> ready_;
    bool stop_ = false;
    bool done_ = false; // the thread has decoded all it had
    std::thread thread_;
};

} // namespace lum::platform::vfw
