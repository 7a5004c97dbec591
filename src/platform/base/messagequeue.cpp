#include "platform/base/messagequeue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace lum::platform {
namespace {

struct Queue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<MainThreadTask> tasks;
    std::function<void()> wakeup;
    std::function<bool()> pump;
    std::thread::id main_thread;
    bool main_thread_set = false;
    // Bumped by WakeWaiters, so a wake-up between a waiter's check and its
    // wait is not lost.
    std::uint64_t wakes = 0;
};

Queue& TheQueue() {
    static Queue q;
    return q;
}

std::atomic<bool> g_terminated{false};

} // namespace

void SetMainThread() {
    Queue& q = TheQueue();
    std::lock_guard lock(q.mutex);
    q.main_thread = std::this_thread::get_id();
    q.main_thread_set = true;
}

bool IsMainThread() {
    Queue& q = TheQueue();
    std::lock_guard lock(q.mutex);
    return !q.main_thread_set || q.main_thread == std::this_thread::get_id();
}

void PostToMainThread(MainThreadTask task) {
    Queue& q = TheQueue();
    std::function<void()> wakeup;
    {
        std::lock_guard lock(q.mutex);
        q.tasks.push_back(std::move(task));
        wakeup = q.wakeup;
    }
    q.arrived.notify_all();
    if (wakeup) wakeup();
}

int ProcessMessages() {
    Queue& q = TheQueue();
    std::function<bool()> pump;
    std::deque<MainThreadTask> batch;
    {
        std::lock_guard lock(q.mutex);
        if (!q.main_thread_set) {
            q.main_thread = std::this_thread::get_id();
            q.main_thread_set = true;
        }
        batch.swap(q.tasks);
        pump = q.pump;
    }
    // Tasks posted while this batch runs wait for the next drain, so a task
    // that reposts itself cannot starve the caller.
    int count = 0;
    for (auto& task : batch) {
        if (task) task();
        ++count;
    }
    if (pump) pump();
    return count;
}

bool WaitForMessages(int timeout_ms) {
    Queue& q = TheQueue();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock lock(q.mutex);
    if (!q.pump) {
        return q.arrived.wait_until(lock, deadline,
                                    [&] { return !q.tasks.empty() || g_terminated.load(); });
    }
    // With a toolkit pump, poll it in short slices: its input does not
    // signal our condition variable.
    for (;;) {
        if (!q.tasks.empty() || g_terminated.load()) return true;
        auto pump = q.pump;
        lock.unlock();
        bool handled = pump();
        lock.lock();
        if (handled) return true;
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return !q.tasks.empty();
        auto slice = std::min<std::chrono::steady_clock::duration>(deadline - now,
                                                                   std::chrono::milliseconds(5));
        q.arrived.wait_for(lock, slice);
    }
}

int PendingMessages() {
    Queue& q = TheQueue();
    std::lock_guard lock(q.mutex);
    return static_cast<int>(q.tasks.size());
}

void SetMainThreadWakeup(std::function<void()> wakeup) {
    Queue& q = TheQueue();
    std::lock_guard lock(q.mutex);
    q.wakeup = std::move(wakeup);
}

void SetEventPump(std::function<bool()> pump) {
    Queue& q = TheQueue();
    std::lock_guard lock(q.mutex);
    q.pump = std::move(pump);
}

void SetApplicationTerminated(bool terminated) {
    g_terminated = terminated;
    WakeWaiters();
}

bool ApplicationTerminated() {
    return g_terminated.load();
}

void WakeWaiters() {
    Queue& q = TheQueue();
    {
        std::lock_guard lock(q.mutex);
        ++q.wakes;
    }
    q.arrived.notify_all();
}

bool WaitDraining(const std::function<bool()>& done, int timeout_ms) {
    using Clock = std::chrono::steady_clock;
    Queue& q = TheQueue();
    const bool main = IsMainThread();
    const bool forever = timeout_ms < 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeout_ms);
    for (;;) {
        std::uint64_t seen;
        {
            std::lock_guard lock(q.mutex);
            seen = q.wakes;
        }
        if (done()) return true;
        if (!forever && Clock::now() >= deadline) return false;
        // Tasks may be what Done waits for (a worker blocked in
        // RunOnMainThread before it can finish), so they run first.
        if (main && ProcessMessages() > 0) continue;
        std::unique_lock lock(q.mutex);
        auto woken = [&] { return q.wakes != seen || (main && !q.tasks.empty()); };
        if (main && q.pump) {
            // The toolkit's input does not signal our condition variable.
            auto slice = Clock::now() + std::chrono::milliseconds(5);
            q.arrived.wait_until(lock, forever ? slice : std::min(slice, deadline), woken);
        } else if (forever) {
            q.arrived.wait(lock, woken);
        } else {
            q.arrived.wait_until(lock, deadline, woken);
        }
    }
}

bool RunOnMainThread(const MainThreadTask& task) {
    if (IsMainThread()) {
        if (task) task();
        return true;
    }
    enum class Stage { Queued, Running, Done, Abandoned };
    struct Call {
        std::mutex mutex;
        Stage stage = Stage::Queued;
        std::exception_ptr error;
    };
    auto call = std::make_shared<Call>();
    // The task is referenced, not copied: the caller waits for it unless it
    // abandons the call, and an abandoned call never touches it.
    PostToMainThread([call, &task] {
        {
            std::lock_guard lock(call->mutex);
            if (call->stage == Stage::Abandoned) return;
            call->stage = Stage::Running;
        }
        std::exception_ptr error;
        try {
            if (task) task();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(call->mutex);
            call->error = error;
            call->stage = Stage::Done;
        }
        WakeWaiters();
    });
    WaitDraining([&] {
        std::lock_guard lock(call->mutex);
        if (call->stage == Stage::Done) return true;
        // Nobody may drain the queue any more: give up unless the task has
        // already begun, which then must be waited for.
        if (call->stage == Stage::Queued && ApplicationTerminated()) {
            call->stage = Stage::Abandoned;
            return true;
        }
        return false;
    });
    std::lock_guard lock(call->mutex);
    if (call->stage == Stage::Abandoned) return false;
    if (call->error) std::rethrow_exception(call->error);
    return true;
}

} // namespace lum::platform
