// Worker threads of sound components and GlobalSynchronize.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "chain/chaintest.h"
#include "chain/lumdspobj.h"
#include "platform/base/messagequeue.h"

namespace lum {
namespace {

// A worker that calls GlobalSynchronize Calls times and keeps the results.
class SyncWorker : public TLumDSPThread {
public:
    SyncWorker(TLumDSPComponent* owner, int calls) : TLumDSPThread(owner), calls_(calls) {}
    ~SyncWorker() override {
        Terminate();
        WaitFor();
    }

    std::vector<int> results;
    std::vector<std::thread::id> ran_on;

protected:
    void Execute() override {
        for (int i = 0; i < calls_; ++i) {
            int value = i;
            results.push_back(GlobalSynchronize(
                [this](void* data) {
                    ran_on.push_back(std::this_thread::get_id());
                    return *static_cast<int*>(data) * 3 + 1;
                },
                &value));
        }
    }

private:
    int calls_;
};

class ChainThreads : public testing::Test {
protected:
    void SetUp() override { platform::SetMainThread(); }
};

TEST_F(ChainThreads, AWorkerGetsTheMethodsResultFromTheMainThread) {
    test::Member owner;
    const int registered = DSPThreadCount();
    {
        SyncWorker worker(&owner, 20);
        EXPECT_EQ(DSPThreadCount(), registered + 1);
        EXPECT_TRUE(worker.Suspended());
        EXPECT_EQ(worker.GetOwner(), &owner);
        worker.Resume();
        // WaitFor on the main thread serves the worker's calls meanwhile.
        worker.WaitFor();
        ASSERT_EQ(worker.results.size(), 20u);
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(worker.results[static_cast<std::size_t>(i)], i * 3 + 1);
        for (auto id : worker.ran_on)
            EXPECT_EQ(id, std::this_thread::get_id());
        SyncWorker never_resumed(&owner, 1);
        EXPECT_EQ(DSPThreadCount(), registered + 2);
    }
    EXPECT_EQ(DSPThreadCount(), registered);
}

TEST_F(ChainThreads, AnUnregisteredThreadIsMarshalledToo) {
    // A device's callback thread is no registered worker, yet it must not
    // run user-interface code itself.
    std::atomic<bool> done{false};
    std::thread::id ran;
    int result = 0;
    std::thread other([&] {
        result = GlobalSynchronize(
            [&ran](void*) {
                ran = std::this_thread::get_id();
                return 42;
            },
            nullptr);
        done = true;
        platform::WakeWaiters();
    });
    platform::WaitDraining([&] { return done.load(); });
    other.join();
    EXPECT_EQ(result, 42);
    EXPECT_EQ(ran, std::this_thread::get_id());

    // On the main thread it is a plain call.
    ran = {};
    EXPECT_EQ(
        GlobalSynchronize([&ran](void*) { return ran = std::this_thread::get_id(), 7; }, nullptr),
        7);
    EXPECT_EQ(ran, std::this_thread::get_id());
    EXPECT_EQ(GlobalSynchronize(nullptr, nullptr), 0);
}

TEST_F(ChainThreads, WorkersComingAndGoingWhileOthersSynchronise) {
    // The thread list is read by workers and changed by the main thread;
    // ThreadSanitizer watches this one.
    test::Member owner;
    std::vector<std::unique_ptr<SyncWorker>> workers;
    for (int i = 0; i < 4; ++i) {
        workers.push_back(std::make_unique<SyncWorker>(&owner, 50));
        workers.back()->Resume();
    }
    for (int round = 0; round < 20; ++round) {
        SyncWorker brief(&owner, 1);
        brief.Resume();
        brief.WaitFor();
        EXPECT_EQ(brief.results, (std::vector<int>{1}));
    }
    for (auto& w : workers) {
        w->WaitFor();
        EXPECT_EQ(w->results.size(), 50u);
    }
}

} // namespace
} // namespace lum
