// The main thread's message queue. Any thread posts a callback; the main
// thread runs them in posting order when it drains the queue. The Qt
// application drains it from its event loop (it installs a wake-up that
// schedules a drain); the command line and the tests drain it themselves.
//
// Hidden windows are targets on that queue: a message posted to one runs
// its procedure on the main thread, and messages still waiting can be taken
// out again (a device that was reset must not see its stale notifications).
// Worker threads that want messages of their own have a ThreadQueue, and
// wait on it together with Events.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>

#include "platform/base/wintypes.h"

namespace lum::platform {

using MainThreadTask = std::function<void()>;

// Marks the calling thread as the main thread. The first thread that drains
// the queue becomes the main thread when nobody said otherwise.
void SetMainThread();
bool IsMainThread();

// Queues a task for the main thread; safe from any thread.
void PostToMainThread(MainThreadTask task);

// Runs every task queued so far on the calling (main) thread, and lets an
// installed event pump handle its own pending events. Returns the number of
// tasks run. Tasks are taken one at a time, so a task that removes waiting
// messages (RemoveMessages) removes them from this drain too; tasks posted
// while the drain runs wait for the next one.
int ProcessMessages();

// Waits until a task is queued, the event pump reports input, or
// TimeoutMs pass. True when something arrived. Does not run tasks.
bool WaitForMessages(int timeout_ms);

// Number of tasks waiting.
int PendingMessages();

// The toolkit's hooks. Wake-up is called (from any thread) after each post;
// the pump handles the toolkit's own pending events and returns true when
// it handled any.
void SetMainThreadWakeup(std::function<void()> wakeup);
void SetEventPump(std::function<bool()> pump);

// Set when the application is shutting down; waits return early then.
void SetApplicationTerminated(bool terminated);
bool ApplicationTerminated();

// Blocks the calling thread until Done returns true, or TimeoutMs pass (a
// negative timeout waits without end); true when Done held. On the main
// thread the queue is drained while waiting, so a thread that is itself
// waiting for the main thread (RunOnMainThread) is served and the two never
// deadlock. Done is called without the queue's lock held; whoever makes it
// true calls WakeWaiters afterwards.
bool WaitDraining(const std::function<bool()>& done, int timeout_ms = -1);
void WakeWaiters();

// Runs Task on the main thread and returns after it ran. On the main thread
// it runs at once; elsewhere it is queued and the caller waits. An exception
// escaping the task is raised again in the caller. False, and the task never
// runs, when the application terminates before the main thread reached it.
bool RunOnMainThread(const MainThreadTask& task);

// ---------------------------------------------------------------------------
// Hidden windows

using HWND = struct HWND__*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using WindowProc = std::function<void(HWND window, UINT message, WPARAM wparam, LPARAM lparam)>;

// Makes a hidden window whose procedure runs on the main thread for each
// message posted to it. Handles are never reused, so a message posted to a
// window that is gone is simply dropped.
HWND AllocateHWnd(WindowProc proc);
// Destroys the window: its waiting messages are removed, and later posts
// are refused. Null is ignored; Window is set to null.
void DeallocateHWnd(HWND& window);
bool IsWindow(HWND window);
// Queues a message for the window on the main thread; false when the
// window does not exist. Safe from any thread.
bool PostMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Takes the window's waiting messages numbered First..Last out of the
// queue without running them; returns how many.
int RemoveMessages(HWND window, UINT first, UINT last);

// ---------------------------------------------------------------------------
// Events and thread queues. Both wait on one shared signal, so a thread can
// wait for its queue and several events at once.

// A waitable flag. A manual-reset event stays set until Reset; an
// auto-reset one releases a single wait and clears itself.
class Event {
public:
    explicit Event(bool manual_reset = false, bool initially_set = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // True when the event is (or becomes) set within TimeoutMs; a negative
    // timeout waits without end.
    bool Wait(int timeout_ms = -1);

private:
    friend class ThreadQueue;
    // The caller holds the shared signal's lock.
    bool TakeLocked();

    const bool manual_;
    bool set_;
};

struct ThreadMessage {
    UINT message = 0;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
};

// The message queue of one worker thread: any thread posts, the owner takes
// the messages in posting order.
class ThreadQueue {
public:
    ThreadQueue() = default;
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;

    void Post(UINT message, WPARAM wparam, LPARAM lparam);
    // Takes the next message; false when none waits.
    bool Peek(ThreadMessage& msg);
    // Takes the waiting messages numbered First..Last out; returns how many.
    int Remove(UINT first, UINT last);
    int Pending() const;

    // Waits until one of Events is set or a message waits. Returns the
    // index of the first set event (an auto-reset event is cleared by it),
    // Events.size() for a message, or -1 when TimeoutMs passed (a negative
    // timeout waits without end). Events are looked at before messages.
    int WaitAny(std::initializer_list<Event*> events, int timeout_ms = -1);

private:
    std::deque<ThreadMessage> messages_;
};

} // namespace lum::platform
