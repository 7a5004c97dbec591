#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "core/lumtimer.h"

using namespace lum;
using namespace std::chrono_literals;

namespace {

// Polls Condition for up to ten seconds; the timer is never timed exactly.
bool WaitFor(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

struct Counter {
    std::atomic<int> fired{0};
    TLumTimerProc Proc() {
        return [this](TLumTimerHandle, std::uintptr_t) { ++fired; };
    }
};

} // namespace

TEST(LumTimer, IntervalsCountInTicksOfTheSharedGrain) {
    // Fast (10 ms, so one tick) and slow (100 ms, four ticks) start on the
    // same tick: a starter event resumes both from inside the tick and
    // retires itself. Counting inside the slow Proc, under the list's lock,
    // gives exact ratios however late the ticks come.
    std::atomic<int> fast{0}, slow{0};
    std::vector<int> fast_at_slow;
    TLumTimerHandle f = LumTimeSetEvent(
        10, true, [&](TLumTimerHandle, std::uintptr_t) { ++fast; }, 0);
    TLumTimerHandle s = LumTimeSetEvent(
        100, true,
        [&](TLumTimerHandle, std::uintptr_t user) {
            EXPECT_EQ(user, 77u);
            ++slow;
            fast_at_slow.push_back(fast);
        },
        77);
    ASSERT_NE(f, nullptr);
    ASSERT_NE(s, nullptr);
    TLumTimerHandle starter = LumTimeSetEvent(
        0, false,
        [&](TLumTimerHandle self, std::uintptr_t) {
            LumTimeResumeEvent(f);
            LumTimeResumeEvent(s);
            LumTimeSuspendEvent(self);
        },
        0);
    ASSERT_NE(starter, nullptr);
    ASSERT_TRUE(WaitFor([&] { return slow >= 3; }));
    LumTimeKillEvent(s);
    LumTimeKillEvent(f);
    LumTimeKillEvent(starter);
    ASSERT_GE(fast_at_slow.size(), 3u);
    EXPECT_EQ(fast_at_slow[0], 4);
    EXPECT_EQ(fast_at_slow[1], 8);
    EXPECT_EQ(fast_at_slow[2], 12);
}

TEST(LumTimer, SuspendedEventsWaitForEveryResume) {
    Counter reference, held;
    TLumTimerHandle r = LumTimeSetEvent(25, false, reference.Proc(), 0);
    TLumTimerHandle h = LumTimeSetEvent(25, true, held.Proc(), 0);
    ASSERT_NE(r, nullptr);
    ASSERT_NE(h, nullptr);
    LumTimeSuspendEvent(h); // suspended twice now
    auto ticks_pass = [&](int n) {
        int target = reference.fired + n;
        return WaitFor([&] { return reference.fired >= target; });
    };

    ASSERT_TRUE(ticks_pass(6));
    EXPECT_EQ(held.fired, 0);
    LumTimeResumeEvent(h);
    ASSERT_TRUE(ticks_pass(6));
    EXPECT_EQ(held.fired, 0);
    LumTimeResumeEvent(h);
    ASSERT_TRUE(WaitFor([&] { return held.fired >= 2; }));

    // Extra resumes do not bank (nor stop it): it keeps firing, and one
    // suspend stops it again.
    LumTimeResumeEvent(h);
    LumTimeResumeEvent(h);
    int before = held.fired;
    ASSERT_TRUE(WaitFor([&] { return held.fired >= before + 2; }));
    LumTimeSuspendEvent(h);
    int stopped_at = held.fired; // the suspend waited for any running tick
    ASSERT_TRUE(ticks_pass(6));
    EXPECT_EQ(held.fired, stopped_at);
    LumTimeResumeEvent(h);
    ASSERT_TRUE(WaitFor([&] { return held.fired > stopped_at; }));

    LumTimeKillEvent(h);
    LumTimeKillEvent(r);
}

TEST(LumTimer, IntervalChangesKillsAndRestart) {
    Counter reference, changed;
    TLumTimerHandle r = LumTimeSetEvent(25, false, reference.Proc(), 0);
    TLumTimerHandle c = LumTimeSetEvent(1000000, false, changed.Proc(), 0);
    ASSERT_TRUE(WaitFor([&] { return reference.fired >= 4; }));
    EXPECT_EQ(changed.fired, 0);
    LumTimeSetInterval(c, 1); // at least one tick
    ASSERT_TRUE(WaitFor([&] { return changed.fired >= 3; }));

    LumTimeKillEvent(c);
    int at_kill = changed.fired;
    int ref = reference.fired;
    ASSERT_TRUE(WaitFor([&] { return reference.fired >= ref + 4; }));
    EXPECT_EQ(changed.fired, at_kill);
    // A dead or null handle is ignored by every operation.
    LumTimeKillEvent(c);
    LumTimeSuspendEvent(c);
    LumTimeSetInterval(nullptr, 5);
    LumTimeKillEvent(nullptr);

    // The last kill stops the shared timer; a new event starts it again.
    LumTimeKillEvent(r);
    Counter again;
    TLumTimerHandle a = LumTimeSetEvent(25, false, again.Proc(), 0);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(WaitFor([&] { return again.fired >= 2; }));
    LumTimeKillEvent(a);

    EXPECT_EQ(LumTimeSetEvent(25, false, TLumTimerProc{}, 0), nullptr);
}

TEST(LumTimer, AProcMayKillItsOwnEventAndTheLastOne) {
    std::atomic<int> fired{0};
    TLumTimerHandle self = LumTimeSetEvent(
        25, false,
        [&](TLumTimerHandle me, std::uintptr_t) {
            ++fired;
            LumTimeKillEvent(me);
        },
        0);
    ASSERT_NE(self, nullptr);
    ASSERT_TRUE(WaitFor([&] { return fired >= 1; }));
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(fired, 1);
    // The machinery stopped with it and starts again cleanly.
    Counter next;
    TLumTimerHandle n = LumTimeSetEvent(25, false, next.Proc(), 0);
    EXPECT_TRUE(WaitFor([&] { return next.fired >= 2; }));
    LumTimeKillEvent(n);
}
