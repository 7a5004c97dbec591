#include "core/lumint64.h"

#include "platform/base/exception.h"

namespace lum {

std::int64_t int64x64(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}

std::int64_t int64Div32(std::int64_t a, std::uint32_t b) {
    if (b == 0) throw EIntDivision();
    return a / static_cast<std::int64_t>(b);
}

std::int64_t int64Mod32(std::int64_t a, std::uint32_t b) {
    if (b == 0) throw EIntDivision();
    return a % static_cast<std::int64_t>(b);
}

} // namespace lum
