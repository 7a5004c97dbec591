#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/base/bytestream.h"
#include "platform/base/globalmem.h"
#include "platform/base/messagequeue.h"
#include "platform/base/resources.h"
#include "platform/base/system.h"
#include "support/testutil.h"

using namespace lum::platform;

TEST(StringTable, HoldsTheMessageTextsByteForByte) {
    EXPECT_EQ(LoadString(28013), "AVI-Files(*.avi)|*.avi|Wave-Files(*.wav)|*.wav");
    EXPECT_EQ(LoadString(28070), "The actual device can''t play this format");
    EXPECT_EQ(LoadString(28103), "Invalid Index ");
    EXPECT_EQ(LoadString(28105), "Could not create \"%s\"");
    EXPECT_EQ(LoadString(28079), "Unabele to restart device");
    EXPECT_EQ(LoadString(28196), "Position");
    EXPECT_EQ(LoadString(28001), "Open Wave File");
    EXPECT_EQ(LoadString(28014), "");
    EXPECT_EQ(LoadString(0), "");
}

TEST(StringTable, HasEveryListedNumberAndNoOther) {
    int count = 0;
    for (unsigned id = 28000; id <= 28200; ++id) {
        if (!LoadString(id).empty()) ++count;
    }
    EXPECT_EQ(count, 114);
}

TEST(GlobalHeap, BlocksKnowTheirSizeAndZeroFill) {
    HGLOBAL h = GlobalAlloc(GPTR, 1000);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 1000u);
    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0);
    std::memset(p, 0xAB, 1000);
    EXPECT_EQ(GlobalHandle(p), h);

    h = GlobalReAlloc(h, 2000, GMEM_ZEROINIT);
    ASSERT_NE(h, nullptr);
    p = static_cast<unsigned char*>(GlobalLock(h));
    EXPECT_EQ(GlobalSize(h), 2000u);
    EXPECT_EQ(p[999], 0xAB);  // kept
    EXPECT_EQ(p[1000], 0x00); // new bytes zeroed
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalSize(nullptr), 0u);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(GlobalHeap, RefusesImpossibleSizes) {
    EXPECT_EQ(GlobalAlloc(GPTR, SIZE_MAX - 4), nullptr);
    HGLOBAL zero = GlobalAlloc(GPTR, 0);
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(GlobalSize(zero), 0u);
    GlobalFree(zero);
}

TEST(MessageQueue, RunsTasksFromOtherThreadsInOrderOnTheDrainingThread) {
    ProcessMessages(); // become the main thread, empty queue
    std::vector<int> seen;
    std::thread::id ran_on;
    std::thread producer([&] {
        for (int i = 0; i < 5; ++i)
            PostToMainThread([&, i] {
                seen.push_back(i);
                ran_on = std::this_thread::get_id();
            });
    });
    producer.join();
    EXPECT_TRUE(WaitForMessages(1000));
    EXPECT_EQ(ProcessMessages(), 5);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(ran_on, std::this_thread::get_id());
    EXPECT_TRUE(IsMainThread());
}

TEST(MessageQueue, WaitTimesOutWhenNothingArrives) {
    ProcessMessages();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitForMessages(30));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
}

TEST(MessageQueue, TaskPostedDuringDrainWaitsForTheNextDrain) {
    ProcessMessages();
    int runs = 0;
    std::function<void()> again = [&] {
        ++runs;
        PostToMainThread(again);
    };
    PostToMainThread(again);
    EXPECT_EQ(ProcessMessages(), 1);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(PendingMessages(), 1);
    // The queued copy reposts once more; the repost is a copy of the no-op.
    again = [&] { ++runs; };
    ProcessMessages();
    ProcessMessages();
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(PendingMessages(), 0);
}

TEST(MemoryStream, FixedBufferRefusesWritesPastItsCapacity) {
    std::vector<std::byte> buf(8);
    auto s = MemoryStream::FixedBuffer(buf.data(), 0, buf.size());
    EXPECT_TRUE(s->WriteAt(0, "abcd", 4));
    EXPECT_TRUE(s->WriteAt(4, "efgh", 4));
    EXPECT_FALSE(s->WriteAt(8, "i", 1));
    EXPECT_FALSE(s->WriteAt(6, "xyz", 3));
    EXPECT_EQ(s->Size(), 8);
    char out[16] = {};
    EXPECT_EQ(s->ReadAt(6, out, 16), 2u);
    EXPECT_EQ(std::string(out, 2), "gh");
    EXPECT_EQ(s->ReadAt(8, out, 1), 0u);
    EXPECT_EQ(s->ReadAt(-1, out, 1), 0u);
}

TEST(MemoryStream, GrowableFillsGapsWithZeros) {
    auto s = MemoryStream::Growable();
    EXPECT_TRUE(s->WriteAt(10, "x", 1));
    ASSERT_EQ(s->Size(), 11);
    EXPECT_EQ(s->Data()[0], std::byte{0});
    EXPECT_EQ(s->Data()[10], std::byte{'x'});
    auto view = MemoryStream::View(s->Data());
    EXPECT_FALSE(view->WriteAt(0, "y", 1));
}

TEST(FileStream, ReadsWritesAndReportsShortReads) {
    lum::test::TempDir dir;
    std::string path = dir.File("f.bin");
    EXPECT_EQ(FileStream::Open(path, FileMode::Read), nullptr);
    auto w = FileStream::Open(path, FileMode::Create);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->WriteAt(0, "hello", 5));
    EXPECT_EQ(w->Size(), 5);
    w.reset();
    auto r = FileStream::Open(path, FileMode::Read);
    ASSERT_NE(r, nullptr);
    char buf[10] = {};
    EXPECT_EQ(r->ReadAt(3, buf, 10), 2u);
    EXPECT_EQ(std::string(buf, 2), "lo");
    EXPECT_FALSE(r->WriteAt(0, "x", 1));
    EXPECT_EQ(FileStream::Open(dir.Path().string(), FileMode::Read), nullptr);
}

TEST(TempFiles, UniqueZeroCreatesDistinctFilesWithThePrefix) {
    lum::test::TempDir dir;
    std::string a = GetTempFileName(dir.Path().string(), "avi", 0);
    std::string b = GetTempFileName(dir.Path().string(), "avi", 0);
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_TRUE(std::filesystem::exists(a));
    EXPECT_EQ(std::filesystem::path(a).filename().string().substr(0, 3), "avi");
    EXPECT_EQ(std::filesystem::path(a).extension(), ".tmp");
    std::string named = GetTempFileName(dir.Path().string(), "wxyz", 0x1F);
    EXPECT_EQ(std::filesystem::path(named).filename(), "wxy1F.tmp");
    EXPECT_FALSE(std::filesystem::exists(named));
}

TEST(System, TimersMoveForward) {
    auto a = QueryPerformanceCounter();
    DWORD t = TimeGetTime();
    Sleep(5);
    EXPECT_GT(QueryPerformanceCounter(), a);
    EXPECT_GE(TimeGetTime() - t, 4u);
    EXPECT_EQ(GetScreenInfo().bits_per_pixel, 32);
}
