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

void TPersistent::AssignTo(TPersistent* dest) const { dest->AssignError(this); }

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

void TComponent::Remove(TComponent* c) {
    components_.erase(std::remove(components_.begin(), components_.end(), c), components_.end());
}

} // namespace lum
