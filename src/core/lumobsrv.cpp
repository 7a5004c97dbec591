#include "core/lumobsrv.h"

#include <algorithm>

#include "platform/base/exception.h"

namespace lum {

TLumObserver::~TLumObserver() {
    if (observable_) observable_->RemoveObserver(this);
}

void TLumObserver::Notify(TPersistent* data) {
    if (lock_count_ == 0 && OnNotify) OnNotify(this, data);
}

TLumObservable::~TLumObservable() {
    for (auto it = observers_.rbegin(); it != observers_.rend(); ++it)
        if (*it) (*it)->observable_ = nullptr;
    observers_.clear();
}

void TLumObservable::AddObserver(TLumObserver* observer) {
    if (observer == nullptr || observer->observable_ == this) return;
    if (observer->observable_) observer->observable_->RemoveObserver(observer);
    observers_.push_back(observer);
    observer->observable_ = this;
}

void TLumObservable::RemoveObserver(TLumObserver* observer) {
    if (observer == nullptr || observer->observable_ != this) return;
    auto at = std::find(observers_.begin(), observers_.end(), observer);
    if (at != observers_.end()) {
        if (notifying_ > 0)
            *at = nullptr;
        else
            observers_.erase(at);
    }
    observer->observable_ = nullptr;
}

void TLumObservable::NotifyObservers(TPersistent* data) {
    if (lock_count_ != 0) return;
    ++notifying_;
    try {
        // Observers added meanwhile sit above the start and wait for the
        // next notification.
        for (std::size_t i = observers_.size(); i-- > 0;)
            if (TLumObserver* observer = observers_[i]) observer->Notify(data);
    } catch (...) {
        if (--notifying_ == 0) Compact();
        throw;
    }
    if (--notifying_ == 0) Compact();
}

void TLumObservable::Compact() {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), nullptr), observers_.end());
}

int TLumObservable::ObserverCount() const {
    return static_cast<int>(
        std::count_if(observers_.begin(), observers_.end(), [](auto* o) { return o != nullptr; }));
}

TLumObserver* TLumObservable::GetObserver(int index) const {
    int seen = 0;
    for (TLumObserver* o : observers_) {
        if (o == nullptr) continue;
        if (seen++ == index) return o;
    }
    throw EListError::IndexOutOfBounds(index);
}

} // namespace lum
