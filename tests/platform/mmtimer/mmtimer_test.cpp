#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/mmtimer/mmtimer.h"

using namespace lum::platform;
using namespace lum::platform::mmtimer;
using namespace std::chrono_literals;

namespace {

struct Probe {
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    std::atomic<UINT> seen_id{0};
    std::atomic<int> sleep_ms{0};
    std::atomic<bool> kill_self{false};
};

void Callback(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto* p = reinterpret_cast<Probe*>(user);
    p->inside = true;
    p->seen_id = id;
    if (p->sleep_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(p->sleep_ms));
    ++p->calls;
    if (p->kill_self) timeKillEvent(id);
    p->inside = false;
}

// Waits (generously) until the probe has seen Count calls.
bool WaitForCalls(const Probe& p, int count) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (p.calls < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

DWORD_PTR User(Probe& p) {
    return reinterpret_cast<DWORD_PTR>(&p);
}

} // namespace

TEST(MMTimer, PeriodicTimerRepeatsNeverEarlyAndStopsForGood) {
    Probe p;
    auto start = std::chrono::steady_clock::now();
    UINT id = timeSetEvent(20, 1, Callback, User(p), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(WaitForCalls(p, 5));
    // The fifth call cannot come before five periods have passed.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 95ms);
    EXPECT_EQ(p.seen_id, id);

    // A kill from another thread waits for a running callback.
    p.sleep_ms = 30;
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!p.inside && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(p.inside);
    EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
    EXPECT_FALSE(p.inside);
    int after = p.calls;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(p.calls, after);
    EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM);
}

TEST(MMTimer, OneShotAndSelfKillFireOnce) {
    Probe once, self;
    UINT a = timeSetEvent(5, 0, Callback, User(once), TIME_ONESHOT);
    self.kill_self = true;
    UINT b = timeSetEvent(5, 0, Callback, User(self), TIME_PERIODIC);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    ASSERT_TRUE(WaitForCalls(once, 1));
    ASSERT_TRUE(WaitForCalls(self, 1));
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(once.calls, 1);
    EXPECT_EQ(self.calls, 1);
    EXPECT_EQ(timeKillEvent(b), MMSYSERR_INVALPARAM); // already gone
    EXPECT_EQ(timeKillEvent(a), TIMERR_NOERROR);
}

TEST(MMTimer, RefusesBadRequests) {
    Probe p;
    EXPECT_EQ(timeSetEvent(10, 0, nullptr, 0, TIME_PERIODIC), 0u);
    EXPECT_EQ(timeSetEvent(0, 0, Callback, User(p), TIME_PERIODIC), 0u);
    EXPECT_EQ(timeSetEvent(kTimerPeriodMax + 1, 0, Callback, User(p), TIME_PERIODIC), 0u);
    EXPECT_EQ(timeKillEvent(0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(timeBeginPeriod(25), TIMERR_NOERROR);
    EXPECT_EQ(timeEndPeriod(25), TIMERR_NOERROR);
    EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
    TIMECAPS caps{};
    EXPECT_EQ(timeGetDevCaps(&caps, sizeof caps), TIMERR_NOERROR);
    EXPECT_EQ(caps.wPeriodMin, kTimerPeriodMin);
    EXPECT_EQ(timeGetDevCaps(nullptr, sizeof caps), MMSYSERR_INVALPARAM);
    EXPECT_EQ(p.calls, 0);
}
