#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/lumobsrv.h"

using namespace lum;

namespace {

class TData : public TPersistent {};

// Observers that write their name into a shared log when notified.
struct Log {
    std::vector<std::string> calls;
    std::unique_ptr<TLumObserver> Make(const std::string& name) {
        auto o = std::make_unique<TLumObserver>();
        o->OnNotify = [this, name](TLumObserver*, TPersistent*) { calls.push_back(name); };
        return o;
    }
};

} // namespace

TEST(TLumObservable, NotifiesFromTheLastAddedToTheFirst) {
    TLumObservable subject;
    TData data;
    TLumObserver* sender = nullptr;
    TPersistent* seen = nullptr;
    Log log;
    auto a = log.Make("a"), b = log.Make("b"), c = log.Make("c");
    c->OnNotify = [&](TLumObserver* s, TPersistent* d) {
        sender = s;
        seen = d;
        log.calls.push_back("c");
    };
    subject.AddObserver(a.get());
    subject.AddObserver(b.get());
    subject.AddObserver(c.get());
    subject.AddObserver(nullptr);
    subject.NotifyObservers(&data);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_EQ(sender, c.get());
    EXPECT_EQ(seen, &data);
    EXPECT_EQ(a->GetObservable(), &subject);
}

TEST(TLumObservable, LocksAtBothEnds) {
    TLumObservable subject;
    Log log;
    auto a = log.Make("a"), b = log.Make("b");
    subject.AddObserver(a.get());
    subject.AddObserver(b.get());

    subject.Lock();
    subject.Lock();
    subject.NotifyObservers(nullptr);
    subject.Unlock();
    subject.NotifyObservers(nullptr);
    EXPECT_TRUE(log.calls.empty());
    subject.Unlock();
    EXPECT_EQ(subject.LockCount(), 0);

    b->Lock();
    EXPECT_TRUE(b->Locked());
    subject.NotifyObservers(nullptr);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"a"}));
    b->UnLock();
    b->UnLock(); // one too many must not lock it again
    EXPECT_FALSE(b->Locked());
    subject.NotifyObservers(nullptr);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"a", "b", "a"}));
}

TEST(TLumObservable, AnObserverBelongsToOneObservableOnce) {
    TLumObservable first, second;
    Log log;
    auto a = log.Make("a");
    {
        auto b = log.Make("b");
        first.AddObserver(a.get());
        first.AddObserver(b.get());
        first.AddObserver(a.get()); // already here: not a second entry
        EXPECT_EQ(first.ObserverCount(), 2);
        first.NotifyObservers(nullptr);
        EXPECT_EQ(log.calls, (std::vector<std::string>{"b", "a"}));
    } // b leaves as it goes
    EXPECT_EQ(first.ObserverCount(), 1);

    second.AddObserver(a.get()); // moves over
    EXPECT_EQ(first.ObserverCount(), 0);
    EXPECT_EQ(a->GetObservable(), &second);
    first.RemoveObserver(a.get()); // not first's: ignored
    EXPECT_EQ(a->GetObservable(), &second);
    second.RemoveObserver(a.get());
    EXPECT_EQ(a->GetObservable(), nullptr);
    EXPECT_EQ(second.ObserverCount(), 0);

    // An observer destroyed after its observable finds no dangling link.
    auto c = log.Make("c");
    {
        TLumObservable brief;
        brief.AddObserver(c.get());
        brief.AddObserver(a.get());
    }
    EXPECT_EQ(c->GetObservable(), nullptr);
    EXPECT_EQ(a->GetObservable(), nullptr);
}

TEST(TLumObservable, ObserversMayComeAndGoDuringANotification) {
    TLumObservable subject;
    Log log;
    auto a = log.Make("a"), c = log.Make("c"), late = log.Make("late");
    auto b = log.Make("b");
    auto self = std::make_unique<TLumObserver>();
    // Notified first (added last): destroys b, drops itself, adds late.
    self->OnNotify = [&](TLumObserver* me, TPersistent*) {
        log.calls.push_back("self");
        b.reset();
        subject.RemoveObserver(me);
        subject.AddObserver(late.get());
    };
    subject.AddObserver(a.get());
    subject.AddObserver(b.get());
    subject.AddObserver(c.get());
    subject.AddObserver(self.get());
    subject.NotifyObservers(nullptr);
    // b is gone before its turn; late waits for the next round.
    EXPECT_EQ(log.calls, (std::vector<std::string>{"self", "c", "a"}));
    EXPECT_EQ(subject.ObserverCount(), 3);
    EXPECT_EQ(subject.GetObserver(2), late.get());

    log.calls.clear();
    subject.NotifyObservers(nullptr);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"late", "c", "a"}));
}
