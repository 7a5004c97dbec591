// The processor-load meter: how much of each 100 ms the sound processing
// keeps busy, smoothed over time, in percent.
//
// The first meter constructed is the registered one; the free functions act
// on it and do nothing without one. States: idle → initialised (Init, counted;
// a 100 ms tick runs) → idle (as many Done). While initialised, the wave
// output brackets its buffer processing with StartMeasurement and
// StopMeasurement (nestable; only the outermost pair times), and each tick
// folds the period's busy milliseconds into the load:
//     smoothed = busy * 0.1 + smoothed * 0.9 + 0.05,  value = trunc(smoothed).
// Measurements run on the output thread, ticks on the timer thread and the
// rest on the main thread, so the counters are locked.
#pragma once

#include <cstdint>
#include <mutex>

#include "core/lumobj.h"
#include "core/lumtimer.h"

namespace lum {

class TLumDSPMeter : public TLumNonVisualComponent {
public:
    // Registers the meter when none is, and asks for 1 ms timer resolution.
    explicit TLumDSPMeter(TComponent* owner = nullptr);
    // Unregisters it, stops its tick and gives the timer resolution back.
    ~TLumDSPMeter() override;

    // Registered meter only. The first Init clears the load and the counters
    // and starts the tick; later ones count.
    void Init();
    // Counts down; the last stops the tick. Extra calls do nothing.
    void Done();
    void StartMeasurement();
    void StopMeasurement();
    // The load in percent, 0..100; 0 when not initialised.
    int GetValue() const;
    // The smoothed load before truncation and clamping.
    float GetSmoothed() const;
    bool Registered() const;

    // One period's update; the 100 ms tick calls it.
    void Tick();

protected:
    // The millisecond clock (the system's multimedia time).
    virtual std::uint32_t Now() const;
    // Start and stop the 100 ms tick that calls Tick.
    virtual void StartTicks();
    virtual void StopTicks();

private:
    void KillTimer();

    mutable std::mutex mutex_;
    TLumTimerHandle timer_ = nullptr;
    int init_count_ = 0;
    std::uint32_t busy_ = 0;
    std::uint32_t start_ = 0;
    int nesting_ = 0;
    float smoothed_ = 0.0f;
    int value_ = 0;
};

// Act on the registered meter; nothing without one.
void InitDSPMeter();
void DoneDSPMeter();
void StartDSPMeter();
void StopDSPMeter();

} // namespace lum
