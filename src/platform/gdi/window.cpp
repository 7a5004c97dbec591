// Window surfaces: the registry from windows to their back buffers, and
// the area each surface has waiting to be shown.
#include <unordered_map>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/internal.h"
#include "platform/gdi/qtgdi.h"

namespace lum::platform::gdi {

namespace {

struct WindowRegistry {
    std::mutex mutex;
    std::unordered_map<const void*, std::shared_ptr<WindowSurface>> windows;
};

WindowRegistry& Windows() {
    static WindowRegistry* registry = new WindowRegistry; // used until exit
    return *registry;
}

} // namespace

void WindowSurface::Touch(const QRect& r) {
    if (r.isEmpty()) return;
    auto lock = Lock();
    if (detached_) return;
    const bool first = touched_.isEmpty();
    touched_ |= r;
    if (first) Pending();
}

QRect WindowSurface::TakeTouched() {
    auto lock = Lock();
    return std::exchange(touched_, QRect());
}

bool WindowSurface::HasTouched() const {
    auto lock = Lock();
    return !touched_.isEmpty();
}

void WindowSurface::Detach() {
    auto lock = Lock();
    detached_ = true;
    buffer_ = QImage();
    touched_ = QRect();
}

bool WindowSurface::Detached() const {
    auto lock = Lock();
    return detached_;
}

void SetWindowSurface(const void* window, std::shared_ptr<WindowSurface> surface) {
    if (!window) return;
    std::shared_ptr<WindowSurface> old;
    {
        WindowRegistry& r = Windows();
        std::lock_guard lock(r.mutex);
        auto it = r.windows.find(window);
        if (it != r.windows.end()) {
            old = std::move(it->second);
            r.windows.erase(it);
        }
        if (surface) r.windows.emplace(window, std::move(surface));
    }
    if (old && old != FindWindowSurface(window)) old->Detach();
}

std::shared_ptr<WindowSurface> FindWindowSurface(const void* window) {
    if (!window) return nullptr;
    WindowRegistry& r = Windows();
    std::lock_guard lock(r.mutex);
    auto it = r.windows.find(window);
    return it == r.windows.end() ? nullptr : it->second;
}

BOOL GdiFlush() {
    // Surfaces are locked only after the registry is let go, so that a
    // paint holding its surface may flush while another thread does too.
    std::vector<std::shared_ptr<WindowSurface>> all;
    {
        WindowRegistry& r = Windows();
        std::lock_guard lock(r.mutex);
        all.reserve(r.windows.size());
        for (auto& entry : r.windows)
            all.push_back(entry.second);
    }
    for (auto& surface : all)
        if (surface->HasTouched()) surface->ShowNow();
    return TRUE;
}

} // namespace lum::platform::gdi
