#include "platform/vfw/readahead.h"

#include <algorithm>
#include <cstring>

namespace lum::platform::vfw {

namespace {

GetFrameStats Minus(const GetFrameStats& a, const GetFrameStats& b) {
    return {a.frames_decoded - b.frames_decoded, a.frames_converted - b.frames_converted,
            a.restarts - b.restarts, 0};
}

// Pictures decoded ahead and held for the caller: about 6 MB of them (two
// at 1280 x 720), so that reading ahead costs little more memory than the
// second decoder itself.
constexpr std::size_t kHeldBytes = 6u << 20;

} // namespace

ReadAhead::ReadAhead(std::unique_ptr<FrameCodec> twin, const DibLayout& out, LONG first, LONG step,
                     LONG length)
    : twin_(std::move(twin)), out_(out), first_(first), step_(step), length_(length) {
    capacity_ = std::clamp<std::size_t>(kHeldBytes / std::max<std::size_t>(out_.image, 1), 2, 16);
    thread_ = std::thread([this] { Run(); });
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadAhead::Run() {
    LONG run = 0;
    for (LONG rel = first_ + step_; rel < length_ && rel > first_; rel += step_) {
        if (twin_->Independent(rel - step_, rel)) ++run;
        if (run % 2 == 0) continue;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || ready_.size() < capacity_; });
            if (stop_) return;
        }
        Picture p;
        p.rel = rel;
        const GetFrameStats before = twin_->Stats();
        try {
            p.pixels.resize(out_.image);
            twin_->Follow(rel - step_);
            p.ok = twin_->Decode(rel, out_, p.pixels.data());
        } catch (const std::bad_alloc&) {
            p.ok = false;
        }
        p.cost = Minus(twin_->Stats(), before);
        {
            std::lock_guard lock(mutex_);
            ready_.push_back(std::move(p));
        }
        changed_.notify_all();
        if (rel > length_ - step_) break; // the next step would pass the end
    }
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    changed_.notify_all();
}

bool ReadAhead::Take(LONG rel, std::uint8_t* pixels, GetFrameStats& stats) {
    std::unique_lock lock(mutex_);
    for (;;) {
        // Pictures of requests the caller passed by are of no more use.
        while (!ready_.empty() && ready_.front().rel < rel)
            ready_.pop_front();
        if (!ready_.empty() || done_) break;
        changed_.wait(lock);
    }
    if (ready_.empty() || ready_.front().rel != rel) return false;
    Picture p = std::move(ready_.front());
    ready_.pop_front();
    lock.unlock();
    changed_.notify_all();
    stats.frames_decoded += p.cost.frames_decoded;
    stats.frames_converted += p.cost.frames_converted;
    stats.restarts += p.cost.restarts;
    if (p.ok) {
        std::memcpy(pixels, p.pixels.data(), out_.image);
        ++stats.read_ahead;
    }
    return p.ok;
}

} // namespace lum::platform::vfw
