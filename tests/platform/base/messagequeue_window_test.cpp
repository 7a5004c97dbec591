// Hidden windows on the main-thread queue, taking waiting messages back,
// and the events and message queues of worker threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/base/messagequeue.h"

namespace lum::platform {
namespace {

using Clock = std::chrono::steady_clock;

class HiddenWindow : public testing::Test {
protected:
    void SetUp() override {
        SetMainThread();
        ProcessMessages();
    }
    void TearDown() override {
        DeallocateHWnd(window_);
        DeallocateHWnd(other_);
    }
    HWND window_ = nullptr;
    HWND other_ = nullptr;
};

TEST_F(HiddenWindow, MessagesRunTheProcedureOnTheMainThreadInPostingOrder) {
    std::vector<std::pair<UINT, LPARAM>> seen;
    std::thread::id ran_on;
    window_ = AllocateHWnd([&](HWND w, UINT msg, WPARAM wp, LPARAM lp) {
        EXPECT_EQ(w, window_);
        EXPECT_EQ(wp, 7u);
        ran_on = std::this_thread::get_id();
        seen.emplace_back(msg, lp);
    });
    ASSERT_TRUE(IsWindow(window_));
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(PostMessage(window_, 100 + i, 7, i));
    });
    poster.join();
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(ProcessMessages(), 3);
    EXPECT_EQ(ran_on, std::this_thread::get_id());
    EXPECT_EQ(seen, (std::vector<std::pair<UINT, LPARAM>>{{100, 0}, {101, 1}, {102, 2}}));
}

TEST_F(HiddenWindow, RemovedMessagesNeverRunEvenFromADrainInProgress) {
    std::vector<UINT> seen;
    window_ = AllocateHWnd([&](HWND, UINT msg, WPARAM, LPARAM) {
        seen.push_back(msg);
        // A reset inside the drain takes back the stale ones queued behind.
        if (msg == 1) {
            EXPECT_EQ(RemoveMessages(window_, 957, 957), 2);
        }
    });
    other_ = AllocateHWnd([&](HWND, UINT msg, WPARAM, LPARAM) { seen.push_back(1000 + msg); });
    int plain = 0;
    PostMessage(window_, 1, 0, 0);
    PostMessage(window_, 957, 0, 0);
    PostMessage(other_, 957, 0, 0);
    PostToMainThread([&] { ++plain; });
    PostMessage(window_, 957, 0, 0);
    PostMessage(window_, 2, 0, 0);
    EXPECT_EQ(ProcessMessages(), 4);
    EXPECT_EQ(seen, (std::vector<UINT>{1, 1957, 2}));
    EXPECT_EQ(plain, 1);
}

TEST_F(HiddenWindow, ADestroyedWindowLosesItsMessagesAndRefusesNewOnes) {
    int calls = 0;
    window_ = AllocateHWnd([&](HWND, UINT, WPARAM, LPARAM) { ++calls; });
    HWND gone = window_;
    PostMessage(window_, 5, 0, 0);
    DeallocateHWnd(window_);
    EXPECT_EQ(window_, nullptr);
    EXPECT_FALSE(IsWindow(gone));
    EXPECT_FALSE(PostMessage(gone, 5, 0, 0));
    ProcessMessages();
    EXPECT_EQ(calls, 0);
    // Handles are not reused.
    other_ = AllocateHWnd([](HWND, UINT, WPARAM, LPARAM) {});
    EXPECT_NE(other_, gone);
}

TEST(ThreadEvents, AutoResetReleasesOneWaitAndManualResetStaysSet) {
    Event automatic(false, true);
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.Wait(0));
    EXPECT_FALSE(automatic.IsSet());
    Event manual(true, false);
    EXPECT_FALSE(manual.Wait(10));
    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));
    manual.Reset();
    EXPECT_FALSE(manual.IsSet());

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        automatic.Set();
    });
    const auto start = Clock::now();
    EXPECT_TRUE(automatic.Wait(5000));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
    setter.join();
}

TEST(ThreadEvents, AQueueWaitsForMessagesOrEventsWhicheverComesFirst) {
    ThreadQueue queue;
    Event stop(false, false), flush(true, false);
    EXPECT_EQ(queue.WaitAny({&stop, &flush}, 10), -1);

    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        queue.Post(957, 1, 2);
        queue.Post(958, 3, 4);
        queue.Post(957, 5, 6);
    });
    EXPECT_EQ(queue.WaitAny({&stop, &flush}, 5000), 2);
    poster.join();
    EXPECT_EQ(queue.Pending(), 3);
    EXPECT_EQ(queue.Remove(957, 957), 2);
    ThreadMessage msg;
    ASSERT_TRUE(queue.Peek(msg));
    EXPECT_EQ(msg.message, 958u);
    EXPECT_EQ(msg.wparam, 3u);
    EXPECT_EQ(msg.lparam, 4);
    EXPECT_FALSE(queue.Peek(msg));

    // Events come before messages; a manual one is not used up.
    queue.Post(1, 0, 0);
    flush.Set();
    EXPECT_EQ(queue.WaitAny({&stop, &flush}, 0), 1);
    EXPECT_TRUE(flush.IsSet());
    stop.Set();
    EXPECT_EQ(queue.WaitAny({&stop, &flush}, 0), 0);
    EXPECT_FALSE(stop.IsSet());
}

} // namespace
} // namespace lum::platform
