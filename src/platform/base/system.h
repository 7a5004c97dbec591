// System queries the library asks of the platform: processor, version,
// screen, temporary files, and the timestamp counter.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/base/wintypes.h"

namespace lum::platform {

// The processor identification: family (0 when the instruction is
// missing) and the standard feature flags (bit 23 is MMX).
struct CpuInfo {
    int family = 0;
    std::uint32_t features = 0;
    bool has_cpuid = false;
};
CpuInfo GetCpuInfo();
std::uint64_t ReadTimeStampCounter();

// The platform's version record. Linux answers as an NT-class system.
struct VersionInfo {
    DWORD platform_id; // 1 "Windows", 2 "NT"
    DWORD major;
    DWORD minor;
};
VersionInfo GetVersionInfo();

// The display. The ui service answers when it is installed; otherwise a
// 1920x1080 display of 32 bits per pixel is reported.
struct ScreenInfo {
    int width = 1920;
    int height = 1080;
    int bits_per_pixel = 32;
    int caption_height = 23;
    int frame_height = 4;
    int menu_height = 20;
};
void SetScreenQuery(std::function<ScreenInfo()> query);
ScreenInfo GetScreenInfo();

// The temporary folder with a trailing "/": $TMPDIR, else /tmp/.
std::string GetTempPath();

// A temporary file name "<dir>/<prefix up to 3 chars><hex unique>.tmp".
// With Unique 0 a free number is chosen and the file is created empty;
// otherwise the name is only formed. Empty on failure.
std::string GetTempFileName(const std::string& dir, const std::string& prefix, UINT unique);

// Milliseconds since the system started (the multimedia time).
DWORD TimeGetTime();
// High-resolution counter and its frequency (counts per second).
std::int64_t QueryPerformanceCounter();
std::int64_t QueryPerformanceFrequency();

// Sleep for a number of milliseconds (0 yields).
void Sleep(DWORD ms);

} // namespace lum::platform
