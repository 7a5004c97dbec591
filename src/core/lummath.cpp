#include "core/lummath.h"

#include <cmath>

namespace lum {
namespace {

std::int32_t ToInt32(long double v) {
    if (!(v >= -2147483648.0L && v <= 2147483647.0L)) throw EInvalidOp();
    return static_cast<std::int32_t>(v);
}

} // namespace

long double MinR(long double a, long double b) {
    return a < b ? a : b;
}
long double MaxR(long double a, long double b) {
    return a > b ? a : b;
}

long double MinMaxR(long double x, long double min, long double max) {
    if (x < min) return min;
    if (x > max) return max;
    return x;
}

long double LimitR(long double x, long double a, long double b) {
    return a <= b ? MinMaxR(x, a, b) : MinMaxR(x, b, a);
}

long double ModR(long double x, long double y) {
    return x - y * std::trunc(x / y);
}

std::int32_t Ceil(long double x) {
    return ToInt32(std::ceil(x));
}
std::int32_t Floor(long double x) {
    return ToInt32(std::floor(x));
}

long double ArcCos(long double x) {
    return std::atan2(std::sqrt(1.0L - x * x), x);
}
long double ArcSin(long double x) {
    return std::atan2(x, std::sqrt(1.0L - x * x));
}
long double ArcTan2(long double y, long double x) {
    return std::atan2(y, x);
}
long double Tan(long double x) {
    return std::tan(x);
}
long double Cotan(long double x) {
    return 1.0L / std::tan(x);
}
long double Log(long double x) {
    return std::log(x);
}
long double Log2(long double x) {
    return std::log2(x);
}
long double Log10(long double x) {
    return std::log10(x);
}

long double Pow(long double base, long double exponent) {
    return std::exp2(exponent * std::log2(base));
}

} // namespace lum
