// Multiply-divide with defined rounding. Every product is formed at 64 bits
// so that A * B never overflows before the division. A zero divisor, or a
// quotient that does not fit the result type, raises EIntDivision.
#pragma once

#include <cstdint>

namespace lum {

// A * B / C truncated toward zero.
std::int32_t MulDiv32(std::int32_t a, std::int32_t b, std::int32_t c);
// A * B / C to nearest, halves away from zero (5/2 = 3, -5/2 = -3).
std::int32_t MulDiv32RN(std::int32_t a, std::int32_t b, std::int32_t c);
// Unsigned: rounded down, to nearest with halves up, and up.
std::uint32_t MulDivRD(std::uint32_t a, std::uint32_t b, std::uint32_t c);
std::uint32_t MulDivRN(std::uint32_t a, std::uint32_t b, std::uint32_t c);
std::uint32_t MulDivRU(std::uint32_t a, std::uint32_t b, std::uint32_t c);
// A * B / C in extended floating point, truncated to 64 bits.
std::int64_t MulDiv64(std::int64_t a, std::int64_t b, std::int64_t c);
// A * B = C * D, exactly.
bool MulCompare(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d);
// 32-bit by 16-bit division; the quotient must fit 16 bits.
void DivMod32(std::uint32_t dividend, std::uint16_t divisor, std::uint16_t& quotient,
              std::uint16_t& remainder);
// Arithmetic shifts by Shift mod 32.
std::int32_t Sal(std::int32_t value, std::int32_t shift);
std::int32_t Sar(std::int32_t value, std::int32_t shift);
// Maps Value linearly from Min..Max onto AtMin..AtMax (extrapolating
// outside), truncated; RangeScaleRN rounds to nearest, ties to even.
std::int32_t RangeScale(std::int32_t value, std::int32_t min, std::int32_t max, std::int32_t at_min,
                        std::int32_t at_max);
std::int32_t RangeScaleRN(std::int32_t value, std::int32_t min, std::int32_t max,
                          std::int32_t at_min, std::int32_t at_max);

} // namespace lum
