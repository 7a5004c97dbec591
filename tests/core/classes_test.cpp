// Component states, the loading protocol and free notification.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/classes.h"

namespace lum {
namespace {

struct Heard {
    const TComponent* listener;
    const TComponent* about;
    TOperation operation;
};

// Records the notifications it hears and what its state was when it was
// loaded and destroyed.
class Probe : public TComponent {
public:
    Probe(std::vector<Heard>* heard, TComponent* owner = nullptr)
        : TComponent(owner), heard_(heard) {}
    ~Probe() override {
        destroying_seen = ComponentState().Contains(csDestroying);
        if (destroyed_while_destroying) *destroyed_while_destroying = destroying_seen;
    }

    int loaded = 0;
    bool loading_in_loaded = false;
    bool destroying_seen = false;
    bool* destroyed_while_destroying = nullptr;

protected:
    void Loaded() override {
        TComponent::Loaded();
        ++loaded;
        loading_in_loaded = ComponentState().Contains(csLoading);
    }
    void Notification(TComponent* c, TOperation op) override {
        if (heard_) heard_->push_back({this, c, op});
        TComponent::Notification(c, op);
    }

private:
    std::vector<Heard>* heard_;
};

int Count(const std::vector<Heard>& heard, const TComponent* listener, const TComponent* about,
          TOperation op) {
    int n = 0;
    for (const Heard& h : heard)
        if (h.listener == listener && h.about == about && h.operation == op) ++n;
    return n;
}

TEST(ComponentState, LoadingEntersBothStatesAndLoadedLeavesThem) {
    Probe p(nullptr);
    EXPECT_FALSE(p.LoadingOrDestroying());
    p.BeginLoad();
    EXPECT_TRUE(p.ComponentState().Contains(csLoading));
    EXPECT_TRUE(p.ComponentState().Contains(csReading));
    EXPECT_TRUE(p.LoadingOrDestroying());
    p.EndLoad();
    EXPECT_EQ(p.loaded, 1);
    // Loaded runs after reading ends; the base leaves loading.
    EXPECT_FALSE(p.loading_in_loaded);
    EXPECT_FALSE(p.LoadingOrDestroying());
    EXPECT_EQ(p.ComponentState(), TComponentState{});
}

TEST(ComponentState, DestroyingMarksEveryOwnedComponentFirst) {
    bool child_saw = false, grandchild_saw = false;
    auto owner = std::make_unique<Probe>(nullptr);
    auto* child = new Probe(nullptr, owner.get());
    auto* grandchild = new Probe(nullptr, child);
    child->destroyed_while_destroying = &child_saw;
    grandchild->destroyed_while_destroying = &grandchild_saw;
    owner->Destroying();
    EXPECT_TRUE(child->ComponentState().Contains(csDestroying));
    EXPECT_TRUE(grandchild->LoadingOrDestroying());
    owner->Destroying(); // idempotent
    owner.reset();
    EXPECT_TRUE(child_saw);
    EXPECT_TRUE(grandchild_saw);
}

TEST(FreeNotification, BothSidesHearOfTheOtherGoing) {
    std::vector<Heard> heard;
    auto a = std::make_unique<Probe>(&heard);
    auto b = std::make_unique<Probe>(&heard);
    Probe* a_raw = a.get();
    Probe* b_raw = b.get();
    a->FreeNotification(b.get());
    a->FreeNotification(b.get()); // once is enough
    b.reset();
    EXPECT_EQ(Count(heard, a_raw, b_raw, opRemove), 1);
    // A forgot B, so freeing A tells nobody (ASan would catch a call).
    heard.clear();
    a.reset();
    EXPECT_TRUE(heard.empty());

    // The other direction.
    auto c = std::make_unique<Probe>(&heard);
    auto d = std::make_unique<Probe>(&heard);
    c->FreeNotification(d.get());
    Probe* c_raw = c.get();
    c.reset();
    EXPECT_EQ(Count(heard, d.get(), c_raw, opRemove), 1);

    // A dropped request is not heard.
    heard.clear();
    auto e = std::make_unique<Probe>(&heard);
    d->FreeNotification(e.get());
    d->RemoveFreeNotification(e.get());
    e.reset();
    EXPECT_TRUE(heard.empty());
}

TEST(FreeNotification, AnOwnersFamilyHearsOfInsertsAndRemovals) {
    std::vector<Heard> heard;
    Probe owner(&heard);
    auto* sibling = new Probe(&heard, &owner);
    heard.clear();
    auto* joiner = new Probe(&heard, &owner);
    EXPECT_EQ(Count(heard, &owner, joiner, opInsert), 1);
    EXPECT_EQ(Count(heard, sibling, joiner, opInsert), 1);
    heard.clear();
    delete joiner;
    EXPECT_EQ(Count(heard, &owner, joiner, opRemove), 1);
    EXPECT_EQ(Count(heard, sibling, joiner, opRemove), 1);
    EXPECT_EQ(owner.GetComponentCount(), 1);
}

} // namespace
} // namespace lum
