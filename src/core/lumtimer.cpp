#include "core/lumtimer.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/mmtimer/mmtimer.h"

namespace lum {

struct TLumTimerEvent {
    std::int32_t interval = kLumTimerGrain;
    std::uintptr_t user = 0;
    TLumTimerProc proc;
    std::int32_t suspend_count = 0;
    std::int32_t elapsed = 0;
    // Killed from inside a tick: unlinked once the tick has finished.
    bool killed = false;
};

namespace {

namespace mm = platform::mmtimer;

struct State {
    std::recursive_mutex lock;
    std::vector<std::unique_ptr<TLumTimerEvent>> events; // creation order
    int live = 0;
    unsigned timer = 0; // the running system timer, 0 when none
};

// Never destroyed: a tick may still be finishing while statics go away.
State& S() {
    static State* s = new State;
    return *s;
}

std::atomic<int> g_reentry{0};
thread_local bool t_in_tick = false;

TLumTimerEvent* Find(State& s, TLumTimerHandle h) {
    if (h == nullptr) return nullptr;
    for (auto& e : s.events) {
        if (e.get() == h && !e->killed) return h;
    }
    return nullptr;
}

void Tick(unsigned id, unsigned, mm::DWORD_PTR, mm::DWORD_PTR, mm::DWORD_PTR) {
    // A tick that finds another still running does nothing.
    if (g_reentry.fetch_add(1) > 0) {
        g_reentry.fetch_sub(1);
        return;
    }
    State& s = S();
    {
        std::lock_guard guard(s.lock);
        // A timer being stopped may deliver one last tick after a new one
        // has started; only the current timer counts.
        if (id == s.timer) {
            t_in_tick = true;
            // Events created by a Proc wait for the next tick.
            std::size_t n = s.events.size();
            for (std::size_t i = 0; i < n && i < s.events.size(); ++i) {
                TLumTimerEvent* e = s.events[i].get();
                if (e->killed || e->suspend_count != 0) continue;
                e->elapsed += kLumTimerGrain;
                if (e->elapsed >= e->interval) {
                    e->proc(e, e->user);
                    e->elapsed = 0;
                }
            }
            t_in_tick = false;
            std::erase_if(s.events, [](const auto& e) { return e->killed; });
        }
    }
    g_reentry.fetch_sub(1);
}

void StopTimer(unsigned id) {
    if (id == 0) return;
    mm::timeKillEvent(id);
    mm::timeEndPeriod(kLumTimerGrain);
}

// Stops a running timer at program end. Made after the timer service's
// own state, so it runs before that is torn down.
struct ExitGuard {
    ~ExitGuard() {
        unsigned id;
        {
            std::lock_guard guard(S().lock);
            id = S().timer;
            S().timer = 0;
        }
        StopTimer(id);
    }
};

} // namespace

TLumTimerHandle LumTimeSetEvent(std::int32_t interval, bool suspended, TLumTimerProc proc,
                                std::uintptr_t user) {
    if (!proc) return nullptr;
    State& s = S();
    std::lock_guard guard(s.lock);
    if (s.live == 0) {
        mm::timeBeginPeriod(kLumTimerGrain);
        unsigned id = mm::timeSetEvent(kLumTimerGrain, kLumTimerGrain, Tick, 0, mm::TIME_PERIODIC);
        if (id == 0) {
            mm::timeEndPeriod(kLumTimerGrain);
            return nullptr;
        }
        s.timer = id;
        static ExitGuard exit_guard;
    }
    auto e = std::make_unique<TLumTimerEvent>();
    e->interval = std::max(interval, kLumTimerGrain);
    e->user = user;
    e->proc = std::move(proc);
    e->suspend_count = suspended ? 1 : 0;
    TLumTimerHandle h = e.get();
    s.events.push_back(std::move(e));
    ++s.live;
    return h;
}

void LumTimeSetInterval(TLumTimerHandle event, std::int32_t interval) {
    State& s = S();
    std::lock_guard guard(s.lock);
    if (TLumTimerEvent* e = Find(s, event)) {
        e->interval = std::max(interval, kLumTimerGrain);
        e->elapsed = 0;
    }
}

void LumTimeSuspendEvent(TLumTimerHandle event) {
    State& s = S();
    std::lock_guard guard(s.lock);
    if (TLumTimerEvent* e = Find(s, event)) {
        ++e->suspend_count;
        e->elapsed = 0;
    }
}

void LumTimeResumeEvent(TLumTimerHandle event) {
    State& s = S();
    std::lock_guard guard(s.lock);
    if (TLumTimerEvent* e = Find(s, event)) {
        if (e->suspend_count > 0) --e->suspend_count;
    }
}

void LumTimeKillEvent(TLumTimerHandle event) {
    State& s = S();
    unsigned stop = 0;
    {
        std::lock_guard guard(s.lock);
        TLumTimerEvent* e = Find(s, event);
        if (e == nullptr) return;
        if (t_in_tick) {
            e->killed = true;
        } else {
            std::erase_if(s.events, [e](const auto& p) { return p.get() == e; });
        }
        if (--s.live == 0) {
            stop = s.timer;
            s.timer = 0;
        }
    }
    // Outside the lock: stopping waits for a running tick, which needs it.
    StopTimer(stop);
}

} // namespace lum
