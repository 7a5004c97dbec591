#include "platform/base/system.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <thread>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace lum::platform {
namespace {

std::mutex g_screen_mutex;
std::function<ScreenInfo()> g_screen_query;

} // namespace

CpuInfo GetCpuInfo() {
    CpuInfo info;
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        info.has_cpuid = true;
        info.family = static_cast<int>((eax >> 8) & 0xF);
        info.features = edx;
    }
#endif
    return info;
}

std::uint64_t ReadTimeStampCounter() {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return static_cast<std::uint64_t>(QueryPerformanceCounter());
#endif
}

VersionInfo GetVersionInfo() { return VersionInfo{2, 6, 1}; }

void SetScreenQuery(std::function<ScreenInfo()> query) {
    std::lock_guard lock(g_screen_mutex);
    g_screen_query = std::move(query);
}

ScreenInfo GetScreenInfo() {
    std::function<ScreenInfo()> query;
    {
        std::lock_guard lock(g_screen_mutex);
        query = g_screen_query;
    }
    return query ? query() : ScreenInfo{};
}

std::string GetTempPath() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir && *dir) ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    return path;
}

std::string GetTempFileName(const std::string& dir, const std::string& prefix, UINT unique) {
    std::string base = dir.empty() ? GetTempPath() : dir;
    if (base.back() != '/') base += '/';
    base += prefix.substr(0, 3);
    auto name_for = [&](unsigned n) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", n & 0xFFFF);
        return base + hex + ".tmp";
    };
    if (unique != 0) return name_for(unique);
    // Start at a random number so that concurrent processes rarely collide;
    // O_EXCL settles the collisions that do happen.
    static std::mutex m;
    static std::mt19937 rng(std::random_device{}());
    unsigned start;
    {
        std::lock_guard lock(m);
        start = 1 + rng() % 0xFFFF;
    }
    for (unsigned i = 0; i < 0xFFFF; ++i) {
        unsigned n = 1 + (start + i - 1) % 0xFFFF;
        std::string name = name_for(n);
        int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

DWORD TimeGetTime() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                              static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

std::int64_t QueryPerformanceCounter() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t QueryPerformanceFrequency() { return 1000000000; }

void Sleep(DWORD ms) {
    if (ms == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace lum::platform
