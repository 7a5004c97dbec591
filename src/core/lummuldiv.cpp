#include "core/lummuldiv.h"

#include <cmath>
#include <limits>

#include "platform/base/exception.h"

namespace lum {
namespace {

[[noreturn]] void Overflow() {
    throw EIntDivision("Division overflow");
}

void CheckDivisor(std::int64_t c) {
    if (c == 0) throw EIntDivision();
}

std::int32_t Fit32(std::int64_t v) {
    if (v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        Overflow();
    return static_cast<std::int32_t>(v);
}

std::uint32_t FitU32(std::uint64_t v) {
    if (v > std::numeric_limits<std::uint32_t>::max()) Overflow();
    return static_cast<std::uint32_t>(v);
}

std::uint64_t Product(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::uint64_t>(a) * b;
}

} // namespace

std::int32_t MulDiv32(std::int32_t a, std::int32_t b, std::int32_t c) {
    CheckDivisor(c);
    return Fit32(static_cast<std::int64_t>(a) * b / c);
}

std::int32_t MulDiv32RN(std::int32_t a, std::int32_t b, std::int32_t c) {
    CheckDivisor(c);
    std::int64_t p = static_cast<std::int64_t>(a) * b;
    std::int64_t q = p / c;
    std::int64_t r = p % c;
    return Fit32(q + (2 * r) / c);
}

std::uint32_t MulDivRD(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    CheckDivisor(c);
    return FitU32(Product(a, b) / c);
}

std::uint32_t MulDivRN(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    CheckDivisor(c);
    // (2^32-1)^2 + 2^31 still fits 64 bits.
    return FitU32((Product(a, b) + c / 2) / c);
}

std::uint32_t MulDivRU(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    CheckDivisor(c);
    return FitU32((Product(a, b) + c - 1) / c);
}

std::int64_t MulDiv64(std::int64_t a, std::int64_t b, std::int64_t c) {
    CheckDivisor(c);
    long double q =
        static_cast<long double>(a) * static_cast<long double>(b) / static_cast<long double>(c);
    q = std::trunc(q);
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr long double kLimit = 9223372036854775808.0L;
    if (!(q >= -kLimit && q < kLimit)) Overflow();
    return static_cast<std::int64_t>(q);
}

bool MulCompare(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
    return static_cast<std::int64_t>(a) * b == static_cast<std::int64_t>(c) * d;
}

void DivMod32(std::uint32_t dividend, std::uint16_t divisor, std::uint16_t& quotient,
              std::uint16_t& remainder) {
    CheckDivisor(divisor);
    std::uint32_t q = dividend / divisor;
    if (q > 0xFFFF) Overflow();
    quotient = static_cast<std::uint16_t>(q);
    remainder = static_cast<std::uint16_t>(dividend % divisor);
}

std::int32_t Sal(std::int32_t value, std::int32_t shift) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << (shift & 31));
}

std::int32_t Sar(std::int32_t value, std::int32_t shift) {
    return value >> (shift & 31);
}

std::int32_t RangeScale(std::int32_t value, std::int32_t min, std::int32_t max, std::int32_t at_min,
                        std::int32_t at_max) {
    std::int64_t span = static_cast<std::int64_t>(max) - min;
    CheckDivisor(span);
    std::int64_t sum = (static_cast<std::int64_t>(value) - min) * at_max +
                       (static_cast<std::int64_t>(max) - value) * at_min;
    return Fit32(sum / span);
}

std::int32_t RangeScaleRN(std::int32_t value, std::int32_t min, std::int32_t max,
                          std::int32_t at_min, std::int32_t at_max) {
    std::int64_t span = static_cast<std::int64_t>(max) - min;
    CheckDivisor(span);
    long double sum = (static_cast<long double>(value) - min) * at_max +
                      (static_cast<long double>(max) - value) * at_min;
    long double r = std::nearbyint(sum / static_cast<long double>(span));
    if (!(r >= -2147483648.0L && r <= 2147483647.0L)) Overflow();
    return static_cast<std::int32_t>(r);
}

} // namespace lum
