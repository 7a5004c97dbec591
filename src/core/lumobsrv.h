// A minimal observer pattern. An observable keeps a list of observers (it
// does not own them) and tells each about a change with NotifyObservers; an
// observer belongs to at most one observable and leaves it when destroyed.
// Both can be locked: a locked observable notifies nobody, a locked
// observer ignores what it is told. Observers may attach, detach or be
// destroyed while a notification runs; those gone are not called.
#pragma once

#include <functional>
#include <vector>

#include "core/classes.h"

namespace lum {

class TLumObservable;
class TLumObserver;

// Sender is the observer; Data the object that changed.
using TLumObsNotifyEvent = std::function<void(TLumObserver* sender, TPersistent* data)>;

class TLumObserver {
public:
    TLumObserver() = default;
    TLumObserver(const TLumObserver&) = delete;
    TLumObserver& operator=(const TLumObserver&) = delete;
    virtual ~TLumObserver();

    // Calls OnNotify unless locked.
    virtual void Notify(TPersistent* data);
    void Lock() { ++lock_count_; }
    // An UnLock without a Lock is ignored, so it cannot lock the observer.
    void UnLock() {
        if (lock_count_ > 0) --lock_count_;
    }
    bool Locked() const { return lock_count_ != 0; }
    TLumObservable* GetObservable() const { return observable_; }

    TLumObsNotifyEvent OnNotify;

private:
    friend class TLumObservable;
    TLumObservable* observable_ = nullptr;
    int lock_count_ = 0;
};

class TLumObservable {
public:
    TLumObservable() = default;
    TLumObservable(const TLumObservable&) = delete;
    TLumObservable& operator=(const TLumObservable&) = delete;
    // Detaches every observer, the last added first.
    virtual ~TLumObservable();

    // Attaches Observer at the end, taking it from any other observable
    // first. Null is ignored, and so is an observer already attached here:
    // it is notified once.
    void AddObserver(TLumObserver* observer);
    // Detaches Observer when it is attached here.
    void RemoveObserver(TLumObserver* observer);
    // Unless locked, notifies every observer, the last added first.
    void NotifyObservers(TPersistent* data);
    void Lock() { ++lock_count_; }
    void Unlock() {
        if (lock_count_ > 0) --lock_count_;
    }
    int LockCount() const { return lock_count_; }
    int ObserverCount() const;
    // The observer at Index in the order of attaching.
    TLumObserver* GetObserver(int index) const;

private:
    void Compact();

    // Entries removed during a notification become null and are dropped
    // when the outermost notification ends, so indices stay valid.
    std::vector<TLumObserver*> observers_;
    int lock_count_ = 0;
    int notifying_ = 0;
};

} // namespace lum
