#include "core/classes.h"

#include <algorithm>
#include <cxxabi.h>
#include <memory>
#include <typeinfo>

#include "platform/base/exception.h"

namespace lum {

void TPersistent::Assign(const TPersistent* source) {
    if (source == nullptr) AssignError(nullptr);
    source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* dest) const {
    dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent* source) const {
    std::string from = source ? source->ClassName() : "nil";
    throw EConvertError::CannotAssign(from, ClassName());
}

std::string TPersistent::ClassName() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    std::string name = (status == 0 && demangled) ? demangled.get() : mangled;
    auto colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->Insert(this);
}

TComponent::~TComponent() {
    Destroying();
    RemoveFreeNotifications();
    // Owned components go last-created first, as the framework does.
    while (!components_.empty()) {
        TComponent* c = components_.back();
        components_.pop_back();
        c->owner_ = nullptr;
        delete c;
    }
    if (owner_) owner_->Remove(this);
}

TComponent* TComponent::GetComponents(int index) const {
    if (index < 0 || index >= GetComponentCount()) throw EListError::IndexOutOfBounds(index);
    return components_[static_cast<std::size_t>(index)];
}

bool TComponent::LoadingOrDestroying() const {
    return state_.Contains(csLoading) || state_.Contains(csReading) ||
           state_.Contains(csDestroying);
}

void TComponent::SetDesigning(bool value) {
    if (value)
        state_.Include(csDesigning);
    else
        state_.Exclude(csDesigning);
}

void TComponent::BeginLoad() {
    state_.Include(csLoading);
    state_.Include(csReading);
}

void TComponent::EndLoad() {
    state_.Exclude(csReading);
    Loaded();
}

void TComponent::Loaded() {
    state_.Exclude(csLoading);
}

void TComponent::Destroying() {
    if (state_.Contains(csDestroying)) return;
    state_.Include(csDestroying);
    for (TComponent* c : components_)
        c->Destroying();
}

void TComponent::FreeNotification(TComponent* component) {
    if (component == nullptr || component == this) return;
    auto add = [](std::vector<TComponent*>& list, TComponent* c) {
        if (std::find(list.begin(), list.end(), c) == list.end()) list.push_back(c);
    };
    add(free_notifies_, component);
    add(component->free_notifies_, this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (component == nullptr) return;
    auto drop = [](std::vector<TComponent*>& list, TComponent* c) {
        list.erase(std::remove(list.begin(), list.end(), c), list.end());
    };
    drop(free_notifies_, component);
    drop(component->free_notifies_, this);
}

void TComponent::RemoveFreeNotifications() {
    // Each round takes one partner off both lists before telling it, so a
    // partner that frees others from its Notification cannot be told twice.
    while (!free_notifies_.empty()) {
        TComponent* c = free_notifies_.back();
        RemoveFreeNotification(c);
        c->Notification(this, opRemove);
    }
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove) RemoveFreeNotification(component);
    // By index from the end: a handler may free owned components.
    for (std::size_t i = components_.size(); i > 0; --i) {
        if (i > components_.size()) continue;
        components_[i - 1]->Notification(component, operation);
    }
}

void TComponent::Insert(TComponent* c) {
    components_.push_back(c);
    Notification(c, opInsert);
}

void TComponent::Remove(TComponent* c) {
    components_.erase(std::remove(components_.begin(), components_.end(), c), components_.end());
    Notification(c, opRemove);
}

} // namespace lum
