#include "core/lumutils.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <glob.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>

#include "platform/base/exception.h"
#include "platform/base/globalmem.h"
#include "platform/base/messagequeue.h"
#include "platform/base/system.h"

extern char** environ;

namespace lum {

// ---------------------------------------------------------------------------
// System flags

bool HaveWin95() {
    auto v = platform::GetVersionInfo();
    return v.platform_id == 1 && v.major == 4 && v.minor == 0;
}

bool HaveWin98() {
    auto v = platform::GetVersionInfo();
    return v.platform_id == 1 && v.major == 4 && v.minor == 10;
}

bool HaveWinNT() {
    return platform::GetVersionInfo().platform_id == 2;
}

bool HaveWinNT4() {
    auto v = platform::GetVersionInfo();
    return v.platform_id == 2 && v.major > 3;
}

int GetCPUType() {
    auto cpu = platform::GetCpuInfo();
    return cpu.has_cpuid ? cpu.family - 5 : 0;
}

std::uint32_t GetCPUFeatures() {
    auto cpu = platform::GetCpuInfo();
    return cpu.has_cpuid ? cpu.features : 0;
}

std::uint64_t GetCPUCycles() {
    return platform::ReadTimeStampCounter();
}

const bool _Win95_ = HaveWin95();
const bool _Win98_ = HaveWin98();
const bool _WinNT3_ = HaveWinNT() && platform::GetVersionInfo().major == 3;
const bool _WinNT4_ = HaveWinNT4();
const bool _WinNT_ = _WinNT3_ || _WinNT4_;
const int _CPU_ = GetCPUType();
const bool _MMX_ = (GetCPUFeatures() & (1u << 23)) != 0;
const bool _USECPUEXT_ = true;

int GetCPUMode() {
    if (!_USECPUEXT_) return 0;
    if (_MMX_) return 2;
    return _CPU_ > 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// The routine table

namespace {

void PlainSwapSmall(std::int16_t& a, std::int16_t& b) {
    std::swap(a, b);
}
void PlainSwapInt(std::int32_t& a, std::int32_t& b) {
    std::swap(a, b);
}
std::int32_t PlainMin(std::int32_t a, std::int32_t b) {
    return a < b ? a : b;
}
std::int32_t PlainMax(std::int32_t a, std::int32_t b) {
    return a > b ? a : b;
}

std::int32_t PlainMinMax(std::int32_t x, std::int32_t min, std::int32_t max) {
    if (x < min) return min;
    if (x > max) return max;
    return x;
}

std::int32_t PlainLimit(std::int32_t x, std::int32_t a, std::int32_t b) {
    return a <= b ? PlainMinMax(x, a, b) : PlainMinMax(x, b, a);
}

bool PlainInMinMax(std::int32_t x, std::int32_t min, std::int32_t max) {
    return min <= x && x <= max;
}

bool PlainInRange(std::int32_t x, std::int32_t a, std::int32_t b) {
    return a <= b ? PlainInMinMax(x, a, b) : PlainInMinMax(x, b, a);
}

void PlainIncHuge(void*& p, std::ptrdiff_t n) {
    p = static_cast<char*>(p) + n;
}

void PlainFillMem(void* dest, std::int32_t count, std::uint8_t value) {
    if (count > 0) std::memset(dest, value, static_cast<std::size_t>(count));
}

void PlainFillLong(void* dest, std::int32_t count, std::uint32_t value) {
    if (count <= 0) return;
    auto* p = static_cast<unsigned char*>(dest);
    std::size_t words = static_cast<std::size_t>(count) / 4;
    for (std::size_t i = 0; i < words; ++i)
        std::memcpy(p + 4 * i, &value, 4);
    std::memset(p + 4 * words, static_cast<int>(value & 0xFF), static_cast<std::size_t>(count) % 4);
}

void PlainMoveMem(const void* source, void* dest, std::int32_t count) {
    if (count <= 0 || source == dest) return;
    std::memmove(dest, source, static_cast<std::size_t>(count));
}

bool PlainCmpMem(const void* p1, const void* p2, std::int32_t count) {
    if (count <= 0) return true;
    return std::memcmp(p1, p2, static_cast<std::size_t>(count)) == 0;
}

} // namespace

void (*SwapSmall)(std::int16_t&, std::int16_t&) = PlainSwapSmall;
void (*SwapInt)(std::int32_t&, std::int32_t&) = PlainSwapInt;
void (*SwapLong)(std::int32_t&, std::int32_t&) = PlainSwapInt;
std::int32_t (*Min)(std::int32_t, std::int32_t) = PlainMin;
std::int32_t (*Max)(std::int32_t, std::int32_t) = PlainMax;
std::int32_t (*MinMax)(std::int32_t, std::int32_t, std::int32_t) = PlainMinMax;
std::int32_t (*Limit)(std::int32_t, std::int32_t, std::int32_t) = PlainLimit;
bool (*InMinMax)(std::int32_t, std::int32_t, std::int32_t) = PlainInMinMax;
bool (*InRange)(std::int32_t, std::int32_t, std::int32_t) = PlainInRange;
void (*incHuge)(void*&, std::ptrdiff_t) = PlainIncHuge;
void (*GlobalFillMem)(void*, std::int32_t, std::uint8_t) = PlainFillMem;
void (*GlobalFillLong)(void*, std::int32_t, std::uint32_t) = PlainFillLong;
void (*GlobalMoveMem)(const void*, void*, std::int32_t) = PlainMoveMem;
bool (*GlobalCmpMem)(const void*, const void*, std::int32_t) = PlainCmpMem;

void InitRoutineTable() {
    SwapSmall = PlainSwapSmall;
    SwapInt = PlainSwapInt;
    SwapLong = PlainSwapInt;
    Min = PlainMin;
    Max = PlainMax;
    MinMax = PlainMinMax;
    Limit = PlainLimit;
    InMinMax = PlainInMinMax;
    InRange = PlainInRange;
    incHuge = PlainIncHuge;
    GlobalFillMem = PlainFillMem;
    GlobalFillLong = PlainFillLong;
    GlobalMoveMem = PlainMoveMem;
    GlobalCmpMem = PlainCmpMem;
}

std::int64_t Min64(std::int64_t a, std::int64_t b) {
    return a < b ? a : b;
}
std::int64_t Max64(std::int64_t a, std::int64_t b) {
    return a > b ? a : b;
}

std::int64_t MinMax64(std::int64_t x, std::int64_t min, std::int64_t max) {
    if (x < min) return min;
    if (x > max) return max;
    return x;
}

bool InMinMax64(std::int64_t x, std::int64_t min, std::int64_t max) {
    return min <= x && x <= max;
}

int Sign(std::int64_t x) {
    return (x > 0) - (x < 0);
}

// ---------------------------------------------------------------------------
// Global memory

void* GlobalAllocMem(std::size_t size) {
    platform::HGLOBAL h = platform::GlobalAlloc(platform::GPTR, size);
    if (h == nullptr) throw EOutOfMemory();
    return platform::GlobalLock(h);
}

void GlobalFreeMem(void*& p) {
    if (p == nullptr) return;
    platform::HGLOBAL h = platform::GlobalHandle(p);
    platform::GlobalUnlock(h);
    platform::GlobalFree(h);
    p = nullptr;
}

void GlobalReAllocMem(void*& p, std::size_t size) {
    // The new block first, so that a refusal leaves the caller's block.
    void* fresh = GlobalAllocMem(size);
    GlobalFreeMem(p);
    p = fresh;
}

std::size_t GlobalMemSize(const void* p) {
    if (p == nullptr) return 0;
    return platform::GlobalSize(platform::GlobalHandle(p));
}

// ---------------------------------------------------------------------------
// System and file queries

void Delay(std::int32_t msec, bool process_messages) {
    if (msec <= 0) return;
    // Only the main thread may run the main thread's tasks.
    if (!process_messages || !platform::IsMainThread()) {
        platform::Sleep(static_cast<platform::DWORD>(msec));
        return;
    }
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(msec);
    for (;;) {
        if (platform::ApplicationTerminated()) return;
        auto now = Clock::now();
        if (now >= end) return;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
        if (platform::WaitForMessages(static_cast<int>(left))) platform::ProcessMessages();
    }
}

void WinYield(void* /*window*/) {
    if (platform::IsMainThread()) platform::ProcessMessages();
}

std::string CheckPath(const std::string& path, bool add_slash) {
    if (path.empty()) return path;
    bool has = path.back() == '/';
    if (add_slash && !has) return path + '/';
    if (!add_slash && has) return path.substr(0, path.size() - 1);
    return path;
}

std::int64_t GetFileSize(const std::string& file_name) {
    if (file_name.empty()) return -1;
    auto size_of = [](const std::string& name) -> std::int64_t {
        struct stat st {};
        if (::stat(name.c_str(), &st) != 0) return -1;
        return S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
    };
    if (file_name.find_first_of("*?") == std::string::npos) return size_of(file_name);
    // Only "*" and "?" are wildcards, as on the original platform; other
    // pattern characters are taken literally.
    std::string pattern;
    for (char c : file_name) {
        if (c == '[' || c == ']' || c == '\\') pattern += '\\';
        pattern += c;
    }
    glob_t g{};
    std::int64_t result = -1;
    if (::glob(pattern.c_str(), GLOB_PERIOD, nullptr, &g) == 0) {
        for (std::size_t i = 0; i < g.gl_pathc && result < 0; ++i) {
            std::string match = g.gl_pathv[i];
            std::string leaf = match.substr(match.find_last_of('/') + 1);
            if (leaf == "." || leaf == "..") continue;
            result = size_of(match);
        }
    }
    ::globfree(&g);
    return result;
}

bool GetDiskStats(const std::string& path, std::int64_t& free, std::int64_t& total) {
    std::size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) != 0) {
        free = 0;
        total = 1;
        return false;
    }
    free = static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
    total = static_cast<std::int64_t>(vfs.f_blocks) * static_cast<std::int64_t>(vfs.f_frsize);
    return true;
}

bool GetDiskFree(const std::string& path, std::int64_t size) {
    std::int64_t free = 0, total = 0;
    return GetDiskStats(path, free, total) && free >= size;
}

std::string GetTempFile() {
    return platform::GetTempFileName(platform::GetTempPath(), "w", 0);
}

std::string GetShortFileName(const std::string& file_name) {
    struct stat st {};
    if (file_name.empty() || ::stat(file_name.c_str(), &st) != 0) return {};
    return file_name;
}

bool WinExecAndWait(const std::string& command_line) {
    if (command_line.find_first_not_of(" \t\r\n") == std::string::npos) return false;
    std::string sh = "sh", dash_c = "-c", cmd = command_line;
    char* argv[] = {sh.data(), dash_c.data(), cmd.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    // 126 and 127 are the shell's "cannot execute" and "not found".
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127))
        return false;
    return true;
}

std::int64_t TimeGetExactTime() {
    std::int64_t freq = platform::QueryPerformanceFrequency();
    if (freq >= 2 && freq <= 0xFFFFFFFFll) {
        std::int64_t count = platform::QueryPerformanceCounter();
        // Split, so that count x 1000000 cannot overflow with a fast counter.
        return count / freq * 1000000 + count % freq * 1000000 / freq;
    }
    return static_cast<std::int64_t>(platform::TimeGetTime()) * 1000;
}

// ---------------------------------------------------------------------------
// Stopwatches

namespace {

struct Stopwatch {
    std::int64_t count = 0;
    std::int64_t min = INT64_MAX;
    std::int64_t max = 0;
    std::int64_t total = 0;
    std::int64_t start = 0;

    std::string Stop(std::int64_t now, std::int32_t divisor) {
        std::int64_t interval = now - start;
        ++count;
        min = std::min(min, interval);
        max = std::max(max, interval);
        total += interval;
        double d = divisor <= 0 ? 1.0 : static_cast<double>(divisor);
        double avg = static_cast<double>(total) / static_cast<double>(count);
        char text[160];
        std::snprintf(text, sizeof text, "Time:  Min: %f Max: %f Avg: %f",
                      static_cast<double>(min) / d, static_cast<double>(max) / d, avg / d);
        return text;
    }
};

Stopwatch g_time_watch;
Stopwatch g_cycles_watch;

} // namespace

void InitTimeMeasure() {
    g_time_watch = Stopwatch{};
}
void StartTimeMeasure() {
    g_time_watch.start = TimeGetExactTime();
}
std::string StopTimeMeasure(std::int32_t divisor) {
    return g_time_watch.Stop(TimeGetExactTime(), divisor);
}

void InitCyclesMeasure() {
    g_cycles_watch = Stopwatch{};
}
void StartCyclesMeasure() {
    g_cycles_watch.start = static_cast<std::int64_t>(GetCPUCycles());
}
std::string StopCyclesMeasure(std::int32_t divisor) {
    return g_cycles_watch.Stop(static_cast<std::int64_t>(GetCPUCycles()), divisor);
}

// ---------------------------------------------------------------------------
// The display

int NonClientHeight() {
    auto s = platform::GetScreenInfo();
    return s.caption_height + 2 * s.frame_height;
}

int MenuHeight() {
    return platform::GetScreenInfo().menu_height;
}

int BitsPerPixel() {
    return platform::GetScreenInfo().bits_per_pixel;
}

} // namespace lum
