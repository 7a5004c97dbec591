// The processor-load meter, on a clock and a tick the tests drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "chain/lumdspmtr.h"
#include "platform/base/messagequeue.h"

namespace lum {
namespace {

// A meter whose clock is a number the test sets and whose tick never runs
// by itself.
class ManualMeter : public TLumDSPMeter {
public:
    ~ManualMeter() override {
        while (ticking)
            Done();
    }
    std::uint32_t now = 1000;
    bool ticking = false;

protected:
    std::uint32_t Now() const override { return now; }
    void StartTicks() override { ticking = true; }
    void StopTicks() override { ticking = false; }
};

// One 100 ms period with Busy ms of measured work in it.
void Period(ManualMeter& m, std::uint32_t busy) {
    m.StartMeasurement();
    m.now += busy;
    m.StopMeasurement();
    m.now += 100 - std::min<std::uint32_t>(busy, 100);
    m.Tick();
}

TEST(DSPMeter, HalfBusySettlesAtFiftyPointFiveAndTheValueStopsAtOneHundred) {
    ManualMeter m;
    m.Init();
    EXPECT_TRUE(m.ticking);
    Period(m, 50);
    EXPECT_NEAR(m.GetSmoothed(), 5.05, 1e-4);
    EXPECT_EQ(m.GetValue(), 5);
    for (int i = 0; i < 200; ++i)
        Period(m, 50);
    EXPECT_NEAR(m.GetSmoothed(), 50.5, 1e-3);
    EXPECT_EQ(m.GetValue(), 50);
    for (int i = 0; i < 100; ++i)
        Period(m, 250);
    EXPECT_GT(m.GetSmoothed(), 200.0f);
    EXPECT_EQ(m.GetValue(), 100);
}

TEST(DSPMeter, OnlyOutermostMeasurementsTimeAndATickSplitsARunningOne) {
    ManualMeter m;
    m.Init();
    m.StartMeasurement();
    m.now += 10;
    m.StartMeasurement();
    m.now += 30;
    m.StopMeasurement(); // inner: not counted on its own
    m.now += 10;
    m.StopMeasurement();
    m.StopMeasurement(); // unmatched: ignored
    m.Tick();
    EXPECT_NEAR(m.GetSmoothed(), 5.05, 1e-4); // 50 ms busy

    m.StartMeasurement();
    m.now += 40;
    m.Tick(); // 40 ms in this period
    EXPECT_NEAR(m.GetSmoothed(), 4 + 5.05 * 0.9 + 0.05, 1e-4);
    m.now += 20;
    m.StopMeasurement();
    m.Tick(); // 20 ms in the next
    EXPECT_NEAR(m.GetSmoothed(), 2 + (4 + 5.05 * 0.9 + 0.05) * 0.9 + 0.05, 1e-4);
}

TEST(DSPMeter, InitAndDoneCountAndTheFirstInitStartsAfresh) {
    ManualMeter m;
    m.Init();
    m.Init();
    for (int i = 0; i < 10; ++i)
        Period(m, 80);
    m.Done();
    EXPECT_TRUE(m.ticking);
    EXPECT_GT(m.GetValue(), 0);
    m.Done();
    EXPECT_FALSE(m.ticking);
    m.Done(); // one too many: nothing
    m.Init();
    EXPECT_EQ(m.GetValue(), 0);
    EXPECT_FLOAT_EQ(m.GetSmoothed(), 0.0f);
    // Measurements need an initialised meter.
    m.Done();
    m.StartMeasurement();
    m.now += 50;
    m.StopMeasurement();
    m.Init();
    m.Tick();
    EXPECT_NEAR(m.GetSmoothed(), 0.05, 1e-6);
}

TEST(DSPMeter, OnlyTheFirstMeterIsRegisteredAndTheFreeFunctionsUseIt) {
    auto first = std::make_unique<ManualMeter>();
    ManualMeter second;
    EXPECT_TRUE(first->Registered());
    EXPECT_FALSE(second.Registered());
    second.Init();
    EXPECT_FALSE(second.ticking) << "Init acts on the registered meter only";

    InitDSPMeter();
    EXPECT_TRUE(first->ticking);
    StartDSPMeter();
    first->now += 70;
    StopDSPMeter();
    first->Tick();
    EXPECT_NEAR(first->GetSmoothed(), 7.05, 1e-4);
    DoneDSPMeter();
    EXPECT_FALSE(first->ticking);

    // Freeing the registered meter leaves none: the free functions do nothing.
    first.reset();
    EXPECT_FALSE(second.Registered());
    InitDSPMeter();
    StartDSPMeter();
    StopDSPMeter();
    DoneDSPMeter();
    EXPECT_FALSE(second.ticking);
}

TEST(DSPMeter, TheRealTickRunsWhileAnotherThreadMeasures) {
    // The library timer and a measuring thread against the meter's lock;
    // ThreadSanitizer watches this one. Ticks show as the 0.05 each adds.
    TLumDSPMeter meter;
    InitDSPMeter();
    std::atomic<bool> stop{false};
    std::thread output([&] {
        while (!stop) {
            StartDSPMeter();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            StopDSPMeter();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (meter.GetSmoothed() == 0.0f && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop = true;
    output.join();
    EXPECT_GT(meter.GetSmoothed(), 0.0f);
    EXPECT_LE(meter.GetValue(), 100);
    DoneDSPMeter();
    EXPECT_EQ(meter.GetValue(), 0);
}

} // namespace
} // namespace lum
