// Time, level and number texts of Lumutils.
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/lummath.h"
#include "core/lummuldiv.h"
#include "core/lumutils.h"
#include "platform/base/exception.h"

namespace lum {
namespace {

constexpr std::int64_t kDay = 86400000;
constexpr std::int64_t kHour = 3600000;
constexpr std::int64_t kMinute = 60000;

template <class... Args>
std::string Format(const char* fmt, Args... args) {
    char text[128];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

} // namespace

std::string TimeToStringEx(std::int64_t time, bool with_msec) {
    // The magnitude's text after one sign; a sign on every field
    // ("-1:-01") would be unreadable.
    const char* sign = time < 0 ? "-" : "";
    std::uint64_t t = time < 0 ? 0 - static_cast<std::uint64_t>(time) : time;
    auto ms = static_cast<int>(t % 1000);
    auto sec = static_cast<int>(t / 1000 % 60);
    std::string text;
    if (time >= kDay) {
        text =
            Format("%s%" PRIu64 ":%2.2d:%2.2d:%2.2d", sign, t / kDay,
                   static_cast<int>(t % kDay / kHour), static_cast<int>(t % kHour / kMinute), sec);
    } else if (time < kHour) {
        text = Format("%s%" PRIu64 ":%2.2d", sign, t / kMinute, sec);
    } else {
        text = Format("%s%" PRIu64 ":%2.2d:%2.2d", sign, t / kHour,
                      static_cast<int>(t % kHour / kMinute), sec);
    }
    if (with_msec) text += Format(".%3.3d", ms);
    return text;
}

std::string TimeToString64Ex(std::int64_t time, bool with_msec) {
    return TimeToStringEx(time, with_msec);
}

std::string TimeToString(std::int64_t time) {
    return TimeToStringEx(time, true);
}

std::string TimeToString64(std::uint32_t low, std::int32_t high, bool with_msec) {
    auto joined = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) | low);
    return TimeToStringEx(joined, with_msec);
}

void TimeDecode(std::int32_t time, std::uint16_t& hour, std::uint16_t& min, std::uint16_t& sec,
                std::uint16_t& msec) {
    if (time <= 0) {
        hour = min = sec = msec = 0;
        return;
    }
    std::uint16_t minutes = 0, in_minute = 0;
    DivMod32(static_cast<std::uint32_t>(time), 60000, minutes, in_minute);
    DivMod32(minutes, 60, hour, min);
    DivMod32(in_minute, 1000, sec, msec);
}

std::string TimeToMask(std::int32_t time) {
    if (time < 0) time = 0;
    return Format("%2.2d%2.2d%5.5d", time / 3600000, time % 3600000 / 60000, time % 60000);
}

std::int32_t MaskToTime(const std::string& mask) {
    // Leading blanks, a sign and digits, nothing after; otherwise 0.
    const char* p = mask.c_str();
    while (*p == ' ' || *p == '\t')
        ++p;
    const char* digits = (*p == '+' || *p == '-') ? p + 1 : p;
    if (!std::isdigit(static_cast<unsigned char>(*digits))) return 0;
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(p, &end, 10);
    if (*end != '\0' || errno == ERANGE || n < INT32_MIN || n > INT32_MAX) return 0;
    long long t = (n / 10000000) * 3600000 + (n % 10000000) / 100000 * 60000 + n % 100000;
    return static_cast<std::int32_t>(t);
}

std::int32_t DBToVolume(float db, std::int32_t scale) {
    if (db == static_cast<float>(scale)) return scale;
    double v = std::nearbyint(scale / std::pow(10.0, -static_cast<double>(db) / 20.0));
    if (!(v >= -2147483648.0 && v <= 2147483647.0)) throw EInvalidOp();
    return static_cast<std::int32_t>(v);
}

float VolumeToDB(std::int32_t volume, std::int32_t scale) {
    if (volume == 0) return -110.0f;
    double full = scale < 1 ? 1.0 : static_cast<double>(scale);
    return static_cast<float>(20.0 * std::log10(std::fabs(static_cast<double>(volume)) / full));
}

std::string VolumeToStringShort(std::int32_t volume, std::int32_t scale, std::int32_t digits) {
    if (volume == 0) return "-Inf";
    if (digits < 0) digits = 0;
    if (digits > 20) digits = 20;
    return Format("%2.*f", static_cast<int>(digits),
                  static_cast<double>(VolumeToDB(volume, scale)));
}

std::string VolumeToString(std::int32_t volume, std::int32_t scale, std::int32_t digits) {
    return VolumeToStringShort(volume, scale, digits) + " dB";
}

std::string PanningToString(std::int32_t pan, std::int32_t scale) {
    if (scale == 0) throw EIntDivision();
    std::int64_t left = (static_cast<std::int64_t>(scale) - pan) * 50 / scale;
    std::int64_t right = (static_cast<std::int64_t>(pan) + scale) * 50 / scale;
    return Format("%" PRId64 ":%" PRId64, left, right);
}

void CalcVolume(std::int32_t scale, std::int32_t volume, std::int32_t pan, std::int32_t& left,
                std::int32_t& right) {
    if (pan > 0) {
        left = MulDiv32RN(scale - pan, volume, scale);
        right = volume;
    } else {
        left = volume;
        right = MulDiv32RN(pan + scale, volume, scale);
    }
}

std::int32_t CombineVolume(std::int32_t v1, std::int32_t v2, std::int32_t scale) {
    return Min(MulDiv32RN(v1, v2, scale), scale);
}

std::string FormatBigNumber(std::int32_t n) {
    if (n < 1000) return Format("%d", n);
    if (n < 1000000) return Format("%d.%3.3d", n / 1000, n % 1000);
    if (n < 1000000000) return Format("%d.%3.3d.%3.3d", n / 1000000, n / 1000 % 1000, n % 1000);
    return Format("%d.%3.3d.%3.3d.%3.3d", n / 1000000000, n / 1000000 % 1000, n / 1000 % 1000,
                  n % 1000);
}

} // namespace lum
