// Waiting on the main thread while it drains its queue, and running tasks
// there from other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/base/messagequeue.h"

namespace lum::platform {
namespace {

class MainThreadWait : public testing::Test {
protected:
    void SetUp() override { SetMainThread(); }
};

TEST_F(MainThreadWait, RunOnMainThreadWaitsUntilTheTaskRan) {
    const auto main_id = std::this_thread::get_id();
    std::atomic<bool> done{false};
    std::thread::id ran_on;
    int value = 0;
    std::thread worker([&] {
        const bool ran = RunOnMainThread([&] {
            ran_on = std::this_thread::get_id();
            value = 5;
        });
        // The task has run by now: its write is visible here.
        EXPECT_TRUE(ran);
        EXPECT_EQ(value, 5);
        done = true;
        WakeWaiters();
    });
    EXPECT_TRUE(WaitDraining([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(ran_on, main_id);
}

TEST_F(MainThreadWait, AnExceptionOfTheTaskIsRaisedInTheCaller) {
    std::atomic<bool> done{false};
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        try {
            RunOnMainThread([] { throw std::runtime_error("task failed"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
        done = true;
        WakeWaiters();
    });
    WaitDraining([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(caught);
}

TEST_F(MainThreadWait, TerminationAbandonsATaskNobodyDrains) {
    std::atomic<bool> ran{false};
    std::atomic<int> result{-1};
    std::thread worker([&] { result = RunOnMainThread([&ran] { ran = true; }) ? 1 : 0; });
    while (PendingMessages() == 0)
        std::this_thread::yield();
    SetApplicationTerminated(true);
    worker.join();
    EXPECT_EQ(result, 0);
    // The queued task is dropped when the queue is drained after all.
    ProcessMessages();
    EXPECT_FALSE(ran);
    SetApplicationTerminated(false);
}

TEST_F(MainThreadWait, WaitDrainingTimesOutAndReportsTheCondition) {
    EXPECT_FALSE(WaitDraining([] { return false; }, 20));
    EXPECT_TRUE(WaitDraining([] { return true; }, 0));
    // A task queued meanwhile runs during the wait.
    int runs = 0;
    PostToMainThread([&runs] { ++runs; });
    EXPECT_TRUE(WaitDraining([&runs] { return runs == 1; }, 1000));
}

TEST_F(MainThreadWait, OtherThreadsWaitWithoutRunningMainThreadTasks) {
    int runs = 0;
    PostToMainThread([&runs] { ++runs; });
    std::atomic<bool> flag{false};
    std::thread waiter([&] { WaitDraining([&] { return flag.load(); }); });
    std::thread setter([&] {
        flag = true;
        WakeWaiters();
    });
    setter.join();
    waiter.join();
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(ProcessMessages(), 1);
    EXPECT_EQ(runs, 1);
}

} // namespace
} // namespace lum::platform
