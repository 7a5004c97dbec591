// The framework thread: suspended creation, Resume, Terminate, WaitFor and
// Synchronize onto the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>

#include "core/thread.h"
#include "platform/base/messagequeue.h"

namespace lum {
namespace {

class Worker : public TThread {
public:
    explicit Worker(std::function<int(Worker&)> body) : body_(std::move(body)) {}
    ~Worker() override {
        Terminate();
        WaitFor();
    }

    std::atomic<int> runs{0};
    std::thread::id seen_id;
    using TThread::Terminated;

protected:
    void Execute() override {
        ++runs;
        seen_id = std::this_thread::get_id();
        SetReturnValue(body_(*this));
    }

private:
    std::function<int(Worker&)> body_;
};

class Threads : public testing::Test {
protected:
    void SetUp() override { platform::SetMainThread(); }
};

TEST_F(Threads, CreatedSuspendedAndRunOnceAfterResume) {
    Worker w([](Worker&) { return 7; });
    EXPECT_TRUE(w.Suspended());
    EXPECT_EQ(w.ThreadID(), std::thread::id{});
    EXPECT_EQ(w.runs, 0);
    w.Resume();
    w.Resume();
    EXPECT_FALSE(w.Suspended());
    EXPECT_EQ(w.WaitFor(), 7);
    EXPECT_EQ(w.WaitFor(), 7);
    EXPECT_TRUE(w.Finished());
    EXPECT_EQ(w.runs, 1);
    EXPECT_EQ(w.ThreadID(), w.seen_id);
    EXPECT_NE(w.ThreadID(), std::this_thread::get_id());
}

TEST_F(Threads, ANeverResumedThreadNeverRuns) {
    std::atomic<int> ran{0};
    {
        Worker w([&ran](Worker&) { return ++ran; });
        w.Terminate();
        EXPECT_EQ(w.WaitFor(), 0);
    }
    EXPECT_EQ(ran, 0);
}

TEST_F(Threads, TerminateEndsAnExecuteThatPollsIt) {
    std::atomic<bool> looping{false};
    Worker w([&looping](Worker& self) {
        int loops = 0;
        while (!self.Terminated()) {
            looping = true;
            ++loops;
            std::this_thread::yield();
        }
        return loops;
    });
    w.Resume();
    while (!looping)
        std::this_thread::yield();
    w.Terminate();
    // Returns only because the running Execute saw the flag.
    EXPECT_GT(w.WaitFor(), 0);
    EXPECT_TRUE(w.Finished());
}

TEST_F(Threads, AnExceptionInExecuteIsKeptNotThrown) {
    Worker w([](Worker&) -> int { throw std::runtime_error("boom"); });
    w.Resume();
    w.WaitFor();
    ASSERT_TRUE(w.FatalException());
    EXPECT_THROW(std::rethrow_exception(w.FatalException()), std::runtime_error);
}

TEST_F(Threads, WaitingForItselfRaises) {
    std::atomic<bool> raised{false};
    Worker w([&raised](Worker& self) {
        try {
            self.WaitFor();
        } catch (const EThread&) {
            raised = true;
        }
        return 0;
    });
    w.Resume();
    w.WaitFor();
    EXPECT_TRUE(raised);
}

TEST_F(Threads, SynchronizeRunsOnTheMainThreadWhileItWaits) {
    // Without the draining wait this would deadlock: the worker waits for
    // the main thread, which waits for the worker.
    const auto main_id = std::this_thread::get_id();
    std::atomic<int> on_main{0};
    Worker w([&](Worker& self) {
        for (int i = 0; i < 100; ++i)
            self.Synchronize([&] {
                if (std::this_thread::get_id() == main_id) ++on_main;
            });
        return 0;
    });
    w.Resume();
    w.WaitFor();
    EXPECT_EQ(on_main, 100);
}

} // namespace
} // namespace lum
