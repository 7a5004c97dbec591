// Floating-point helpers on extended precision (long double, 80-bit on x86).
// Conversions to 32-bit integers raise EInvalidOp when the value does not
// fit, instead of producing an arbitrary number.
#pragma once

#include <cstdint>

#include "platform/base/exception.h"

namespace lum {

// A floating-point value that has no integer form (NaN, out of range).
class EInvalidOp : public Exception {
public:
    EInvalidOp() : Exception("Invalid floating point operation") {}
    using Exception::Exception;
};

long double MinR(long double a, long double b);
long double MaxR(long double a, long double b);
// Min when X is below Min, else Max when X is above Max, else X.
long double MinMaxR(long double x, long double min, long double max);
// X clamped into the range spanned by A and B, in either order.
long double LimitR(long double x, long double a, long double b);
// X - Y * Int(X / Y): the remainder with the sign of X.
long double ModR(long double x, long double y);
std::int32_t Ceil(long double x);
std::int32_t Floor(long double x);
long double ArcCos(long double x);
long double ArcSin(long double x);
long double ArcTan2(long double y, long double x);
long double Tan(long double x);
long double Cotan(long double x);
long double Log(long double x);
long double Log2(long double x);
long double Log10(long double x);
// Base raised to Exponent as 2^(Exponent * log2 Base); Base must be
// positive (0 gives 0 for a positive exponent, a negative base NaN).
long double Pow(long double base, long double exponent);

} // namespace lum
