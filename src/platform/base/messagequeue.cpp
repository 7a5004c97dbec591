#include "platform/base/messagequeue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace lum::platform {
namespace {

// A queued task; a window message also names its window and number so it
// can be taken out again before it runs.
struct Item {
    std::uint64_t seq;
    HWND window;
    UINT message;
    MainThreadTask task;
};

struct Queue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Item> tasks;
    std::uint64_t next_seq = 0;
    // The live hidden windows and their procedures.
    std::map<HWND, std::shared_ptr<WindowProc>> windows;
    std::uintptr_t next_window = 0;
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

namespace {

void Enqueue(HWND window, UINT message, MainThreadTask task) {
    Queue& q = TheQueue();
    std::function<void()> wakeup;
    {
        std::lock_guard lock(q.mutex);
        q.tasks.push_back(Item{q.next_seq++, window, message, std::move(task)});
        wakeup = q.wakeup;
    }
    q.arrived.notify_all();
    if (wakeup) wakeup();
}

} // namespace

void PostToMainThread(MainThreadTask task) {
    Enqueue(nullptr, 0, std::move(task));
}

int ProcessMessages() {
    Queue& q = TheQueue();
    std::function<bool()> pump;
    std::uint64_t end;
    {
        std::lock_guard lock(q.mutex);
        if (!q.main_thread_set) {
            q.main_thread = std::this_thread::get_id();
            q.main_thread_set = true;
        }
        end = q.next_seq;
        pump = q.pump;
    }
    // Only what was queued before the drain began runs, so a task that
    // reposts itself cannot starve the caller.
    int count = 0;
    for (;;) {
        MainThreadTask task;
        {
            std::lock_guard lock(q.mutex);
            if (q.tasks.empty() || q.tasks.front().seq >= end) break;
            task = std::move(q.tasks.front().task);
            q.tasks.pop_front();
        }
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

// ---------------------------------------------------------------------------
// Hidden windows

HWND AllocateHWnd(WindowProc proc) {
    Queue& q = TheQueue();
    std::lock_guard lock(q.mutex);
    // Handles count up and are never dereferenced, so none is ever reused.
    auto window = reinterpret_cast<HWND>(++q.next_window);
    q.windows[window] = std::make_shared<WindowProc>(std::move(proc));
    return window;
}

void DeallocateHWnd(HWND& window) {
    if (window == nullptr) return;
    RemoveMessages(window, 0, ~UINT{0});
    Queue& q = TheQueue();
    {
        std::lock_guard lock(q.mutex);
        q.windows.erase(window);
    }
    window = nullptr;
}

bool IsWindow(HWND window) {
    Queue& q = TheQueue();
    std::lock_guard lock(q.mutex);
    return q.windows.count(window) != 0;
}

bool PostMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (!IsWindow(window)) return false;
    Enqueue(window, message, [window, message, wparam, lparam] {
        std::shared_ptr<WindowProc> proc;
        {
            Queue& q = TheQueue();
            std::lock_guard lock(q.mutex);
            auto it = q.windows.find(window);
            if (it == q.windows.end()) return;
            proc = it->second;
        }
        if (*proc) (*proc)(window, message, wparam, lparam);
    });
    return true;
}

int RemoveMessages(HWND window, UINT first, UINT last) {
    Queue& q = TheQueue();
    std::lock_guard lock(q.mutex);
    const auto before = q.tasks.size();
    std::erase_if(q.tasks, [&](const Item& item) {
        return item.window == window && window != nullptr && item.message >= first &&
               item.message <= last;
    });
    return static_cast<int>(before - q.tasks.size());
}

// ---------------------------------------------------------------------------
// Events and thread queues

namespace {

// One lock and one condition for every event and thread queue: waits on
// several of them at once need a common signal, and they are few and quiet.
struct Signals {
    std::mutex mutex;
    std::condition_variable changed;
};

Signals& TheSignals() {
    static Signals s;
    return s;
}

// Waits on the shared signal until Ready gives a result other than -2, or
// the timeout passes (-1 then).
template <class Ready>
int WaitSignal(std::unique_lock<std::mutex>& lock, int timeout_ms, Ready ready) {
    Signals& s = TheSignals();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const int r = ready();
        if (r != -2) return r;
        if (timeout_ms < 0) {
            s.changed.wait(lock);
        } else if (s.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            const int late = ready();
            return late != -2 ? late : -1;
        }
    }
}

} // namespace

Event::Event(bool manual_reset, bool initially_set) : manual_(manual_reset), set_(initially_set) {}

void Event::Set() {
    Signals& s = TheSignals();
    {
        std::lock_guard lock(s.mutex);
        set_ = true;
    }
    s.changed.notify_all();
}

void Event::Reset() {
    std::lock_guard lock(TheSignals().mutex);
    set_ = false;
}

bool Event::IsSet() const {
    std::lock_guard lock(TheSignals().mutex);
    return set_;
}

bool Event::TakeLocked() {
    if (!set_) return false;
    if (!manual_) set_ = false;
    return true;
}

bool Event::Wait(int timeout_ms) {
    std::unique_lock lock(TheSignals().mutex);
    return WaitSignal(lock, timeout_ms, [this] { return TakeLocked() ? 0 : -2; }) == 0;
}

void ThreadQueue::Post(UINT message, WPARAM wparam, LPARAM lparam) {
    Signals& s = TheSignals();
    {
        std::lock_guard lock(s.mutex);
        messages_.push_back(ThreadMessage{message, wparam, lparam});
    }
    s.changed.notify_all();
}

bool ThreadQueue::Peek(ThreadMessage& msg) {
    std::lock_guard lock(TheSignals().mutex);
    if (messages_.empty()) return false;
    msg = messages_.front();
    messages_.pop_front();
    return true;
}

int ThreadQueue::Remove(UINT first, UINT last) {
    std::lock_guard lock(TheSignals().mutex);
    const auto before = messages_.size();
    std::erase_if(messages_,
                  [&](const ThreadMessage& m) { return m.message >= first && m.message <= last; });
    return static_cast<int>(before - messages_.size());
}

int ThreadQueue::Pending() const {
    std::lock_guard lock(TheSignals().mutex);
    return static_cast<int>(messages_.size());
}

int ThreadQueue::WaitAny(std::initializer_list<Event*> events, int timeout_ms) {
    std::unique_lock lock(TheSignals().mutex);
    return WaitSignal(lock, timeout_ms, [&] {
        int index = 0;
        for (Event* e : events) {
            if (e != nullptr && e->TakeLocked()) return index;
            ++index;
        }
        return messages_.empty() ? -2 : index;
    });
}

} // namespace lum::platform
