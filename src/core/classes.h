// The framework's persistent-object and component bases that the library's
// classes hang from: Assign/AssignTo, ownership of components, design state.
#pragma once

#include <string>
#include <vector>

#include "core/lumset.h"

namespace lum {

// An object that can copy its state from another (Assign). A class that
// cannot take a source raises the conversion error.
class TPersistent {
public:
    virtual ~TPersistent() = default;

    // Copies Source into this object; the base hands the work to
    // Source->AssignTo and fails when neither side knows the other.
    virtual void Assign(const TPersistent* source);
    // The class name, as the framework's messages show it ("TLumBevel").
    std::string ClassName() const;

protected:
    virtual void AssignTo(TPersistent* dest) const;
    // Raises the conversion error "Cannot assign a <source> to a <this>".
    [[noreturn]] void AssignError(const TPersistent* source) const;
};

// The framework states of a component.
enum TComponentStateItem : unsigned char {
    csLoading,    // between BeginLoad and Loaded: partners may not be read yet
    csReading,    // between BeginLoad and EndLoad: properties are being read
    csWriting,    // its properties are being written
    csDestroying, // its destruction has begun
    csDesigning,  // at design time
};

class TComponentState : public TSet<TComponentState, TComponentStateItem, unsigned char> {
public:
    using TSet::TSet;
};

// What a Notification reports about a component.
enum TOperation { opInsert, opRemove };

// A component: optionally owned by another, which destroys it; has a name,
// a set of framework states and free notification.
//
// Life: constructed → (BeginLoad → EndLoad → Loaded, when read from a stored
// form) → Destroying → destroyed. C++ has no step before destruction, so a
// class whose teardown calls virtual operations or talks to partners calls
// Destroying() first in its own destructor; Destroying is idempotent and
// also marks every owned component. When a component goes, each component
// that asked for its free notification, and its owner's whole family, hears
// Notification(it, opRemove) and drops its pointers to it.
class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* GetOwner() const { return owner_; }
    const std::string& GetName() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    int GetComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* GetComponents(int index) const;
    bool Designing() const { return state_.Contains(csDesigning); }

    TComponentState ComponentState() const { return state_; }
    // True while loading, reading or being destroyed: the states in which a
    // component holds back work that reaches its partners.
    bool LoadingOrDestroying() const;

    // The loading protocol of a reader: BeginLoad enters loading and
    // reading; EndLoad leaves reading and calls Loaded, whose base leaves
    // loading. A component loaded with its partners calls EndLoad on each
    // once all are read.
    void BeginLoad();
    void EndLoad();

    // Enters the destroying state, here and in every owned component.
    void Destroying();

    // Asks to hear Notification(Component, opRemove) when Component is
    // freed, and Component to hear of this one; both directions hold until
    // one of the two goes or RemoveFreeNotification drops them.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

protected:
    void SetDesigning(bool value);
    // Called by EndLoad after all properties are read; the base leaves the
    // loading state. Overrides call the base first, then do what loading
    // held back.
    virtual void Loaded();
    // Component was inserted (opInsert) or is being removed (opRemove): it
    // joined or left this component's owner, or it asked for free
    // notification. The base forgets a removed component's free
    // notification and passes the news on to every owned component.
    // Overrides clear their pointers to a removed component, then call the
    // base. Component may already be half destroyed: compare, never call.
    virtual void Notification(TComponent* component, TOperation operation);
    // Sends opRemove to every component that asked for free notification of
    // this one now, while this one is still whole; the destructor does it
    // otherwise.
    void RemoveFreeNotifications();

private:
    void Insert(TComponent* c);
    void Remove(TComponent* c);

    TComponent* owner_;
    std::string name_;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> free_notifies_;
    TComponentState state_;
};

} // namespace lum
