// The main thread's message queue. Any thread posts a callback; the main
// thread runs them in posting order when it drains the queue. The Qt
// application drains it from its event loop (it installs a wake-up that
// schedules a drain); the command line and the tests drain it themselves.
#pragma once

#include <functional>

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
// tasks run.
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

} // namespace lum::platform
