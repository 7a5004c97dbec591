#include "core/thread.h"

#include "platform/base/messagequeue.h"

namespace lum {

TThread::TThread() {
    // Until a program says which its main thread is, every thread counts as
    // main; the creator of threads is the one that should.
    if (platform::IsMainThread()) platform::SetMainThread();
}

TThread::~TThread() {
    Terminate();
    WaitFor();
}

void TThread::Resume() {
    std::lock_guard lock(mutex_);
    if (started_) return;
    started_ = true;
    // Run takes the same lock first, so thread_ is assigned before the new
    // thread looks at anything.
    thread_ = std::thread([this] { Run(); });
    id_ = thread_.get_id();
}

void TThread::Run() {
    { std::lock_guard lock(mutex_); }
    std::exception_ptr fatal;
    try {
        Execute();
    } catch (...) {
        fatal = std::current_exception();
    }
    {
        std::lock_guard lock(mutex_);
        fatal_ = fatal;
        finished_ = true;
    }
    platform::WakeWaiters();
}

void TThread::Terminate() {
    terminated_ = true;
}

int TThread::WaitFor() {
    {
        std::lock_guard lock(mutex_);
        if (!started_) return return_value_;
        if (id_ == std::this_thread::get_id()) throw EThread("Thread cannot wait for itself");
    }
    platform::WaitDraining([this] { return Finished(); });
    std::lock_guard lock(join_mutex_);
    if (thread_.joinable()) thread_.join();
    return return_value_;
}

std::thread::id TThread::ThreadID() const {
    std::lock_guard lock(mutex_);
    return id_;
}

bool TThread::Suspended() const {
    std::lock_guard lock(mutex_);
    return !started_;
}

bool TThread::Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

std::exception_ptr TThread::FatalException() const {
    std::lock_guard lock(mutex_);
    return fatal_;
}

bool TThread::Synchronize(const std::function<void()>& method) {
    return platform::RunOnMainThread(method);
}

} // namespace lum
