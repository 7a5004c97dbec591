// 64-bit integer steps that the wave and video code use for positions and
// byte counts. Division by zero raises EIntDivision.
#pragma once

#include <cstdint>

namespace lum {

// The low 64 bits of A * B (wrapping, never undefined).
std::int64_t int64x64(std::int64_t a, std::int64_t b);
// Signed 64-bit A by unsigned 32-bit B: quotient truncated toward zero,
// remainder with the sign of A.
std::int64_t int64Div32(std::int64_t a, std::uint32_t b);
std::int64_t int64Mod32(std::int64_t a, std::uint32_t b);

} // namespace lum
