#include "chain/lumdspmtr.h"

#include <algorithm>

#include "platform/base/system.h"
#include "platform/mmtimer/mmtimer.h"

namespace lum {
namespace {

constexpr std::int32_t kMeterPeriod = 100;

// The registered meter. The output thread reaches it through the free
// functions while the main thread may destroy it, so it is locked; the lock
// is recursive because Init asks Registered under it.
std::recursive_mutex& RegistryMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}
TLumDSPMeter* g_meter = nullptr;

} // namespace

TLumDSPMeter::TLumDSPMeter(TComponent* owner) : TLumNonVisualComponent(owner) {
    {
        std::lock_guard lock(RegistryMutex());
        if (g_meter == nullptr) g_meter = this;
    }
    platform::mmtimer::timeBeginPeriod(1);
}

TLumDSPMeter::~TLumDSPMeter() {
    Destroying();
    {
        std::lock_guard lock(RegistryMutex());
        if (g_meter == this) g_meter = nullptr;
    }
    // A tick still running would reach a freed meter.
    KillTimer();
    platform::mmtimer::timeEndPeriod(1);
}

bool TLumDSPMeter::Registered() const {
    std::lock_guard lock(RegistryMutex());
    return g_meter == this;
}

void TLumDSPMeter::Init() {
    if (!Registered()) return;
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        first = init_count_++ == 0;
        if (first) {
            busy_ = 0;
            nesting_ = 0;
            smoothed_ = 0.0f;
            value_ = 0;
        }
    }
    // Outside the lock: a tick holds the timer's lock while it waits for ours.
    if (first) StartTicks();
}

void TLumDSPMeter::Done() {
    bool last = false;
    {
        std::lock_guard lock(mutex_);
        if (init_count_ == 0) return;
        last = --init_count_ == 0;
    }
    if (last) StopTicks();
}

void TLumDSPMeter::StartMeasurement() {
    std::lock_guard lock(mutex_);
    if (init_count_ <= 0) return;
    if (nesting_++ == 0) start_ = Now();
}

void TLumDSPMeter::StopMeasurement() {
    std::lock_guard lock(mutex_);
    if (nesting_ <= 0) return;
    if (--nesting_ == 0) busy_ += Now() - start_;
}

int TLumDSPMeter::GetValue() const {
    std::lock_guard lock(mutex_);
    return init_count_ <= 0 ? 0 : std::min(value_, 100);
}

float TLumDSPMeter::GetSmoothed() const {
    std::lock_guard lock(mutex_);
    return smoothed_;
}

void TLumDSPMeter::Tick() {
    std::lock_guard lock(mutex_);
    if (init_count_ <= 0) return;
    if (nesting_ > 0) {
        // A measurement spanning the tick counts in the period it ran in.
        const std::uint32_t now = Now();
        busy_ += now - start_;
        start_ = now;
    }
    smoothed_ = static_cast<float>(busy_ * 0.1 + static_cast<double>(smoothed_) * 0.9 + 0.05);
    // Clamped before truncation: a stalled clock can make a period's busy
    // time huge, and the conversion must stay defined.
    value_ = static_cast<int>(std::min(smoothed_, 1.0e9f));
    busy_ = 0;
}

std::uint32_t TLumDSPMeter::Now() const {
    return platform::TimeGetTime();
}

void TLumDSPMeter::StartTicks() {
    TLumTimerHandle handle = LumTimeSetEvent(
        kMeterPeriod, false, [this](TLumTimerHandle, std::uintptr_t) { Tick(); }, 0);
    std::lock_guard lock(mutex_);
    timer_ = handle;
}

void TLumDSPMeter::StopTicks() {
    KillTimer();
}

void TLumDSPMeter::KillTimer() {
    TLumTimerHandle handle = nullptr;
    {
        std::lock_guard lock(mutex_);
        std::swap(handle, timer_);
    }
    // Returns once a running tick has finished.
    if (handle) LumTimeKillEvent(handle);
}

void InitDSPMeter() {
    std::lock_guard lock(RegistryMutex());
    if (g_meter) g_meter->Init();
}

void DoneDSPMeter() {
    std::lock_guard lock(RegistryMutex());
    if (g_meter) g_meter->Done();
}

void StartDSPMeter() {
    std::lock_guard lock(RegistryMutex());
    if (g_meter) g_meter->StartMeasurement();
}

void StopDSPMeter() {
    std::lock_guard lock(RegistryMutex());
    if (g_meter) g_meter->StopMeasurement();
}

} // namespace lum
