#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/lumutils.h"
#include "platform/base/exception.h"
#include "platform/base/messagequeue.h"
#include "platform/base/system.h"
#include "support/testutil.h"

using namespace lum;

TEST(RoutineTable, PlainImplementationsAndReplacement) {
    EXPECT_EQ(MinMax(5, 0, 3), 3);
    EXPECT_EQ(MinMax(-5, 0, 3), 0);
    EXPECT_EQ(Limit(5, 3, 0), 3); // the larger bound may come first
    EXPECT_EQ(Limit(-5, 3, 0), 0);
    EXPECT_TRUE(InRange(2, 3, 0));
    EXPECT_FALSE(InRange(4, 3, 0));
    EXPECT_TRUE(InMinMax(3, 0, 3));
    EXPECT_FALSE(InMinMax(2, 3, 0)); // bounds in order only
    std::int32_t c = 7, d = -7;
    SwapLong(c, d);
    EXPECT_EQ(c, -7);

    // Callers go through the pointer, so a replacement takes effect at once.
    Min = [](std::int32_t, std::int32_t) -> std::int32_t { return -1; };
    EXPECT_EQ(CombineVolume(16384, 16384, 8192), -1);
    InitRoutineTable();
    EXPECT_EQ(CombineVolume(16384, 16384, 8192), 8192); // Min(32768, 8192)

    EXPECT_EQ(Sign(-9), -1);
    EXPECT_EQ(Sign(0), 0);
    EXPECT_EQ(MinMax64(1LL << 40, 0, 1LL << 35), 1LL << 35);
    EXPECT_TRUE(InMinMax64(-(1LL << 40), -(1LL << 41), 0));
}

TEST(RoutineTable, MemoryRoutines) {
    unsigned char buf[11];
    std::memset(buf, 0xEE, sizeof buf);
    GlobalFillLong(buf, 10, 0x04030201);
    const unsigned char expected[11] = {1, 2, 3, 4, 1, 2, 3, 4, 1, 1, 0xEE};
    EXPECT_EQ(std::memcmp(buf, expected, 11), 0);
    GlobalFillLong(buf, -4, 0);
    EXPECT_EQ(buf[0], 1);
    GlobalFillMem(buf, 3, 0x55);
    EXPECT_EQ(buf[2], 0x55);
    EXPECT_EQ(buf[3], 4);
    GlobalFillMem(buf, 0, 0);
    EXPECT_EQ(buf[0], 0x55);

    // Overlapping moves in both directions.
    char s[] = "abcdefgh";
    GlobalMoveMem(s, s + 2, 5);
    EXPECT_STREQ(s, "ababcdeh");
    char t[] = "abcdefgh";
    GlobalMoveMem(t + 2, t, 5);
    EXPECT_STREQ(t, "cdefgfgh");
    GlobalMoveMem(t, t + 1, -3);
    EXPECT_STREQ(t, "cdefgfgh");

    EXPECT_TRUE(GlobalCmpMem("abcX", "abcY", 3));
    EXPECT_FALSE(GlobalCmpMem("abcX", "abcY", 4));
    void* p = buf;
    incHuge(p, 5);
    EXPECT_EQ(p, buf + 5);
}

TEST(GlobalMemory, ZeroFilledBlocksAndSafeReallocation) {
    auto* p = static_cast<unsigned char*>(GlobalAllocMem(64));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(GlobalMemSize(p), 64u);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(p[i], 0);
    std::memset(p, 0xAB, 64);
    GlobalReAllocMem(p, 128);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(GlobalMemSize(p), 128u);
    for (int i = 0; i < 128; ++i)
        ASSERT_EQ(p[i], 0) << i; // old contents gone
    // A refused request raises and leaves the block in place.
    p[0] = 9;
    EXPECT_THROW(GlobalReAllocMem(p, SIZE_MAX - 8), EOutOfMemory);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 9);
    EXPECT_EQ(GlobalMemSize(p), 128u);
    GlobalFreeMem(p);
    EXPECT_EQ(p, nullptr);
    GlobalFreeMem(p); // null is fine
    EXPECT_EQ(GlobalMemSize(nullptr), 0u);
    EXPECT_THROW(GlobalAllocMem(SIZE_MAX - 8), EOutOfMemory);
}

TEST(TimeTexts, FormatBoundaries) {
    EXPECT_EQ(TimeToStringEx(59999, false), "0:59");
    EXPECT_EQ(TimeToStringEx(59999, true), "0:59.999");
    EXPECT_EQ(TimeToStringEx(3599999, false), "59:59");
    EXPECT_EQ(TimeToStringEx(3600000, true), "1:00:00.000");
    EXPECT_EQ(TimeToStringEx(86399999, true), "23:59:59.999");
    EXPECT_EQ(TimeToStringEx(86400000, false), "1:00:00:00");
    EXPECT_EQ(TimeToStringEx(90061001, true), "1:01:01:01.001");
    EXPECT_EQ(TimeToString(3723004), "1:02:03.004");
    EXPECT_EQ(TimeToStringEx(0, true), "0:00.000");
    // Negative times use the minute form with a single sign.
    EXPECT_EQ(TimeToStringEx(-61500, true), "-1:01.500");
    EXPECT_EQ(TimeToStringEx(-7200000, false), "-120:00");
    // Beyond 32 bits.
    EXPECT_EQ(TimeToString64Ex(100LL * 86400000 + 5, true), "100:00:00:00.005");
    EXPECT_EQ(TimeToString64(0x540BE400u, 2, false), "115:17:46:40"); // 10^10 ms
}

TEST(TimeTexts, DecodeAndMasks) {
    std::uint16_t h, m, s, ms;
    TimeDecode(3723004, h, m, s, ms);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(m, 2);
    EXPECT_EQ(s, 3);
    EXPECT_EQ(ms, 4);
    TimeDecode(INT32_MAX, h, m, s, ms); // 596:31:23.647
    EXPECT_EQ(h, 596);
    EXPECT_EQ(m, 31);
    EXPECT_EQ(s, 23);
    EXPECT_EQ(ms, 647);
    TimeDecode(-5, h, m, s, ms);
    EXPECT_EQ(h + m + s + ms, 0);

    EXPECT_EQ(TimeToMask(3723004), "010203004");
    EXPECT_EQ(MaskToTime("010203004"), 3723004);
    for (std::int32_t t : {0, 999, 59999, 3599999, 3600000, 99 * 3600000 + 59 * 60000 + 59999})
        EXPECT_EQ(MaskToTime(TimeToMask(t)), t) << t;
    EXPECT_EQ(TimeToMask(-1), "000000000");
    EXPECT_EQ(MaskToTime("01:02"), 0);
    EXPECT_EQ(MaskToTime(""), 0);
    EXPECT_EQ(MaskToTime("99999999999"), 0); // not an integer
}

TEST(VolumeTexts, LevelsPanningAndNumbers) {
    EXPECT_EQ(VolumeToString(0, 16384, 1), "-Inf dB");
    EXPECT_EQ(VolumeToStringShort(16384, 16384, 1), "0.0");
    EXPECT_EQ(VolumeToString(8192, 16384, 2), "-6.02 dB");
    EXPECT_EQ(VolumeToString(-8192, 16384, 0), "-6 dB");
    EXPECT_FLOAT_EQ(VolumeToDB(0, 16384), -110.0f);
    EXPECT_NEAR(VolumeToDB(1638, 16384), -20.0f, 0.01f);
    EXPECT_NEAR(VolumeToDB(5, 0), 13.98f, 0.01f); // a scale below 1 counts as 1

    EXPECT_EQ(DBToVolume(0, 16384), 16384);
    EXPECT_EQ(DBToVolume(-6.0206f, 16384), 8192);
    EXPECT_EQ(DBToVolume(-20, 16384), 1638);
    EXPECT_EQ(DBToVolume(-200, 16384), 0);

    EXPECT_EQ(PanningToString(0, 100), "50:50");
    EXPECT_EQ(PanningToString(-100, 100), "100:0");
    EXPECT_EQ(PanningToString(100, 100), "0:100");
    EXPECT_EQ(PanningToString(-33, 100), "66:33");
    EXPECT_THROW(PanningToString(0, 0), EIntDivision);

    std::int32_t l = 0, r = 0;
    CalcVolume(100, 1000, 25, l, r);
    EXPECT_EQ(l, 750);
    EXPECT_EQ(r, 1000);
    CalcVolume(100, 1000, -25, l, r);
    EXPECT_EQ(l, 1000);
    EXPECT_EQ(r, 750);
    CalcVolume(3, 1, -2, l, r); // 1/3 rounds to 0, 2/3 to 1
    EXPECT_EQ(r, 0);
    CalcVolume(3, 1, 1, l, r);
    EXPECT_EQ(l, 1);
    EXPECT_EQ(CombineVolume(8192, 8192, 16384), 4096);

    EXPECT_EQ(FormatBigNumber(999), "999");
    EXPECT_EQ(FormatBigNumber(1000), "1.000");
    EXPECT_EQ(FormatBigNumber(1234567), "1.234.567");
    EXPECT_EQ(FormatBigNumber(1000000000), "1.000.000.000");
    EXPECT_EQ(FormatBigNumber(2147483647), "2.147.483.647");
    EXPECT_EQ(FormatBigNumber(-1234567), "-1234567");
}

TEST(Paths, CheckPathAddsOrRemovesExactlyOneSlash) {
    EXPECT_EQ(CheckPath("/tmp/x", true), "/tmp/x/");
    EXPECT_EQ(CheckPath("/tmp/x/", true), "/tmp/x/");
    EXPECT_EQ(CheckPath("/tmp/x/", false), "/tmp/x");
    EXPECT_EQ(CheckPath("/tmp/x//", false), "/tmp/x/");
    EXPECT_EQ(CheckPath("/tmp/x", false), "/tmp/x");
    EXPECT_EQ(CheckPath("", true), "");
    EXPECT_EQ(CheckPath("", false), "");
}

TEST(Files, SizesShortNamesAndTemporaryFiles) {
    lum::test::TempDir dir;
    std::string a = dir.File("alpha.wav"), b = dir.File("beta[1].wav");
    lum::test::WriteFile(a, std::vector<std::uint8_t>(1234, 1));
    lum::test::WriteFile(b, std::vector<std::uint8_t>(10, 2));
    EXPECT_EQ(GetFileSize(a), 1234);
    EXPECT_EQ(GetFileSize(b), 10); // brackets are not pattern characters
    EXPECT_EQ(GetFileSize(dir.File("al*.wav")), 1234);
    EXPECT_EQ(GetFileSize(dir.File("bet?[1].wav")), 10);
    EXPECT_EQ(GetFileSize(dir.File("none*")), -1);
    EXPECT_EQ(GetFileSize(dir.File("missing.wav")), -1);
    EXPECT_EQ(GetFileSize(""), -1);

    EXPECT_EQ(GetShortFileName(a), a);
    EXPECT_EQ(GetShortFileName(dir.File("missing.wav")), "");

    std::string t1 = GetTempFile(), t2 = GetTempFile();
    ASSERT_FALSE(t1.empty());
    EXPECT_NE(t1, t2);
    EXPECT_TRUE(std::filesystem::exists(t1)); // created, so nobody else takes it
    EXPECT_EQ(t1.rfind(lum::platform::GetTempPath() + "w", 0), 0u) << t1;
    std::filesystem::remove(t1);
    std::filesystem::remove(t2);
}

TEST(Files, DiskStats) {
    lum::test::TempDir dir;
    std::int64_t free = -1, total = -1;
    ASSERT_TRUE(GetDiskStats(dir.File("some.wav"), free, total));
    EXPECT_GT(total, 0);
    EXPECT_GE(free, 0);
    EXPECT_LE(free, total);
    EXPECT_TRUE(GetDiskFree(dir.File("x"), 0));
    EXPECT_FALSE(GetDiskFree(dir.File("x"), total + 1));
    EXPECT_FALSE(GetDiskStats("/no/such/folder/x.wav", free, total));
    EXPECT_EQ(free, 0);
    EXPECT_EQ(total, 1);
}

TEST(Processes, WinExecAndWaitRunsThroughTheShellAndWaits) {
    lum::test::TempDir dir;
    std::string marker = dir.File("done");
    EXPECT_TRUE(WinExecAndWait("sleep 0.2; echo ok > " + lum::test::Quote(marker)));
    // It has waited: the file is there as soon as the call returns.
    EXPECT_TRUE(std::filesystem::exists(marker));
    EXPECT_TRUE(WinExecAndWait("exit 3")); // ran; its status is its own business
    EXPECT_FALSE(WinExecAndWait("/no/such/program --flag"));
    EXPECT_FALSE(WinExecAndWait("   "));
}

TEST(Delay, DrainsTheMainThreadQueueAndEndsOnTermination) {
    using Clock = std::chrono::steady_clock;
    lum::platform::ProcessMessages(); // this thread is the main thread
    int ran = 0;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        lum::platform::PostToMainThread([&] { ++ran; });
    });
    auto start = Clock::now();
    Delay(150, true);
    poster.join();
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(ran, 1);

    // A task that ends the application ends the wait early.
    lum::platform::PostToMainThread([] { lum::platform::SetApplicationTerminated(true); });
    start = Clock::now();
    Delay(5000, true);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(4000));
    lum::platform::SetApplicationTerminated(false);

    // Without message processing nothing runs meanwhile.
    lum::platform::PostToMainThread([&] { ++ran; });
    Delay(10, false);
    EXPECT_EQ(ran, 1);
    lum::platform::ProcessMessages();
    EXPECT_EQ(ran, 2);
}

TEST(SystemQueries, FlagsStopwatchesAndScreen) {
    // This platform answers as an NT-class system.
    EXPECT_TRUE(_WinNT_);
    EXPECT_FALSE(_Win95_ || _Win98_);
    EXPECT_EQ(_WinNT4_, HaveWinNT4());
    EXPECT_EQ(GetCPUMode(), _MMX_ ? 2 : (_CPU_ > 0 ? 1 : 0));

    std::int64_t t0 = TimeGetExactTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::int64_t t1 = TimeGetExactTime();
    EXPECT_GE(t1 - t0, 20000);
    EXPECT_LT(t1 - t0, 20000000);

    InitTimeMeasure();
    auto parse = [](const std::string& text, double* mn, double* mx, double* avg) {
        char tail = 0;
        return std::sscanf(text.c_str(), "Time:  Min: %lf Max: %lf Avg: %lf%c", mn, mx, avg,
                           &tail) == 3;
    };
    double mn = 0, mx = 0, avg = 0;
    for (int i = 0; i < 3; ++i) {
        StartTimeMeasure();
        std::this_thread::sleep_for(std::chrono::milliseconds(2 + 3 * i));
        std::string text = StopTimeMeasure(1000); // in milliseconds
        ASSERT_TRUE(parse(text, &mn, &mx, &avg)) << text;
    }
    EXPECT_GE(mn, 2.0);
    EXPECT_GE(mx, 8.0);
    EXPECT_LE(mn, avg);
    EXPECT_LE(avg, mx);
    // Intervals beyond 2^31 (a second of processor cycles) still give a
    // true minimum.
    InitCyclesMeasure();
    StartCyclesMeasure();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    ASSERT_TRUE(parse(StopCyclesMeasure(0), &mn, &mx, &avg));
    EXPECT_EQ(mn, mx);

    lum::platform::ScreenInfo screen;
    screen.caption_height = 30;
    screen.frame_height = 5;
    screen.menu_height = 22;
    screen.bits_per_pixel = 24;
    lum::platform::SetScreenQuery([screen] { return screen; });
    EXPECT_EQ(NonClientHeight(), 40);
    EXPECT_EQ(MenuHeight(), 22);
    EXPECT_EQ(BitsPerPixel(), 24);
    lum::platform::SetScreenQuery(nullptr);
}
