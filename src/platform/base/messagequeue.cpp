#include "platform/base/messagequeue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
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
        return q.arrived.wait_until(lock, deadline, [&] {
            return !q.tasks.empty() || g_terminated.load();
        });
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
        auto slice = std::min<std::chrono::steady_clock::duration>(
            deadline - now, std::chrono::milliseconds(5));
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
    TheQueue().arrived.notify_all();
}

bool ApplicationTerminated() { return g_terminated.load(); }

} // namespace lum::platform
