// The framework's thread: an object whose Execute runs on a thread of its
// own, with synchronisation onto the main thread.
//
// States: suspended (created, Execute not begun) → running (after Resume) →
// finished (Execute returned or raised). Terminate only sets a flag that
// Execute is expected to poll; nothing is interrupted.
//
// WaitFor blocks until the thread is finished. On the main thread it keeps
// draining the main-thread queue while it waits, so a thread blocked in
// Synchronize is served and the two never deadlock. A thread that was never
// resumed has nothing to wait for: WaitFor returns at once.
//
// A subclass whose Execute uses its own members must end the thread in its
// own destructor (Terminate, then WaitFor): the base destructor does the
// same, but by then the subclass's members are gone. Never destroy the
// object from inside Execute.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/base/exception.h"

namespace lum {

class EThread : public Exception {
public:
    using Exception::Exception;
};

class TThread {
public:
    // The thread is created suspended: Execute is virtual, so it can only
    // start once the whole object is built. A program that never named its
    // main thread gets the one that creates the first framework thread.
    TThread();
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts a suspended thread; does nothing once it runs or ran.
    void Resume();
    // Sets Terminated, which Execute polls.
    void Terminate();
    // Waits for the end of Execute and returns ReturnValue. Raises EThread
    // when called from the thread itself (so does destroying the object
    // from inside Execute, which ends the program).
    int WaitFor();

    // The thread's id from Resume on; an empty id while suspended.
    std::thread::id ThreadID() const;
    static std::thread::id CurrentThreadID() { return std::this_thread::get_id(); }
    bool Suspended() const;
    bool Finished() const;
    bool Terminated() const { return terminated_.load(); }
    // What escaped Execute, if anything; the thread ends quietly otherwise.
    std::exception_ptr FatalException() const;

    // Runs Method on the main thread and waits for it; on the main thread
    // it runs at once. An exception from Method is raised again here. False
    // when the method could not run because the application terminated.
    bool Synchronize(const std::function<void()>& method);

protected:
    // The thread's work. Runs once, after Resume.
    virtual void Execute() = 0;
    void SetReturnValue(int value) { return_value_ = value; }

private:
    void Run();

    mutable std::mutex mutex_;
    std::mutex join_mutex_;
    std::thread thread_;
    std::thread::id id_;
    bool started_ = false;
    bool finished_ = false;
    std::atomic<bool> terminated_{false};
    int return_value_ = 0;
    std::exception_ptr fatal_;
};

} // namespace lum
