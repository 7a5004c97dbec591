#include "platform/mmtimer/mmtimer.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace lum::platform::mmtimer {
namespace {

using Clock = std::chrono::steady_clock;

// One timer: its request, and the thread that waits out each period on
// the steady clock and calls the callback.
struct Timer {
    UINT id = 0;
    std::chrono::milliseconds delay{0};
    LPTIMECALLBACK proc = nullptr;
    DWORD_PTR user = 0;
    bool periodic = false;

    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    bool finished = false; // a one-shot timer that has fired
    std::thread thread;
};

void Run(const std::shared_ptr<Timer>& t) {
    auto next = Clock::now() + t->delay;
    for (;;) {
        {
            std::unique_lock lock(t->mutex);
            if (t->wake.wait_until(lock, next, [&] { return t->stop; })) return;
        }
        t->proc(t->id, 0, t->user, 0, 0);
        if (!t->periodic) break;
        next += t->delay;
        // A callback that overran by more than a period drops the missed
        // ticks instead of firing them in a burst.
        auto now = Clock::now();
        if (next + t->delay < now) next = now;
    }
    std::lock_guard lock(t->mutex);
    t->finished = true;
}

// The live timers by id. Stopping a timer wakes and joins its thread, so
// the callback is done when the stop returns; at program end every timer
// still running is stopped that way.
class Service {
public:
    ~Service() {
        std::map<UINT, std::shared_ptr<Timer>> all;
        {
            std::lock_guard lock(mutex_);
            all.swap(timers_);
        }
        for (auto& [id, t] : all)
            Stop(t);
    }

    UINT Start(std::shared_ptr<Timer> t) {
        std::lock_guard lock(mutex_);
        Reap();
        do {
            t->id = next_id_++;
        } while (t->id == 0 || timers_.count(t->id));
        try {
            t->thread = std::thread([t] { Run(t); });
        } catch (const std::system_error&) {
            return 0;
        }
        timers_.emplace(t->id, t);
        return t->id;
    }

    bool Kill(UINT id) {
        std::shared_ptr<Timer> t;
        {
            std::lock_guard lock(mutex_);
            auto it = timers_.find(id);
            if (it == timers_.end()) return false;
            t = it->second;
            timers_.erase(it);
        }
        Stop(t);
        return true;
    }

private:
    // Joins, unless called from the timer's own callback: that thread ends
    // by itself when the callback returns.
    static void Stop(const std::shared_ptr<Timer>& t) {
        {
            std::lock_guard lock(t->mutex);
            t->stop = true;
        }
        t->wake.notify_all();
        if (t->thread.get_id() == std::this_thread::get_id())
            t->thread.detach();
        else if (t->thread.joinable())
            t->thread.join();
    }

    // Fired one-shot timers nobody killed; called under the lock.
    void Reap() {
        for (auto it = timers_.begin(); it != timers_.end();) {
            bool done;
            {
                std::lock_guard lock(it->second->mutex);
                done = it->second->finished;
            }
            if (done) {
                it->second->thread.join();
                it = timers_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex mutex_;
    std::map<UINT, std::shared_ptr<Timer>> timers_;
    UINT next_id_ = 1;
};

Service& TheService() {
    static Service service;
    return service;
}

bool ValidPeriod(UINT ms) {
    return ms >= kTimerPeriodMin && ms <= kTimerPeriodMax;
}

} // namespace

UINT timeSetEvent(UINT delay, UINT /*resolution*/, LPTIMECALLBACK proc, DWORD_PTR user,
                  UINT flags) {
    if (proc == nullptr || !ValidPeriod(delay)) return 0;
    auto t = std::make_shared<Timer>();
    t->delay = std::chrono::milliseconds(delay);
    t->proc = proc;
    t->user = user;
    t->periodic = (flags & TIME_PERIODIC) != 0;
    return TheService().Start(std::move(t));
}

MMRESULT timeKillEvent(UINT timer_id) {
    return TheService().Kill(timer_id) ? TIMERR_NOERROR : MMSYSERR_INVALPARAM;
}

MMRESULT timeBeginPeriod(UINT period) {
    return ValidPeriod(period) ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

MMRESULT timeEndPeriod(UINT period) {
    return ValidPeriod(period) ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size) {
    if (caps == nullptr || size < sizeof(TIMECAPS)) return MMSYSERR_INVALPARAM;
    caps->wPeriodMin = kTimerPeriodMin;
    caps->wPeriodMax = kTimerPeriodMax;
    return TIMERR_NOERROR;
}

} // namespace lum::platform::mmtimer
