#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "core/lumint64.h"
#include "core/lummath.h"
#include "core/lummuldiv.h"
#include "platform/base/exception.h"

using namespace lum;

TEST(MulDiv, RoundingAtHalvesAndForNegatives) {
    // Truncation toward zero.
    EXPECT_EQ(MulDiv32(5, 1, 2), 2);
    EXPECT_EQ(MulDiv32(-5, 1, 2), -2);
    EXPECT_EQ(MulDiv32(5, 1, -2), -2);
    // Nearest, halves away from zero, whatever the signs.
    EXPECT_EQ(MulDiv32RN(5, 1, 2), 3);
    EXPECT_EQ(MulDiv32RN(-5, 1, 2), -3);
    EXPECT_EQ(MulDiv32RN(5, -1, 2), -3);
    EXPECT_EQ(MulDiv32RN(5, 1, -2), -3);
    EXPECT_EQ(MulDiv32RN(-5, -1, -2), -3);
    EXPECT_EQ(MulDiv32RN(7, 1, 3), 2);
    EXPECT_EQ(MulDiv32RN(8, 1, 3), 3);
    EXPECT_EQ(MulDiv32RN(-7, 1, 3), -2);
    EXPECT_EQ(MulDiv32RN(-8, 1, 3), -3);
    // Unsigned: down, nearest (halves up), up.
    EXPECT_EQ(MulDivRD(5, 1, 2), 2u);
    EXPECT_EQ(MulDivRN(5, 1, 2), 3u);
    EXPECT_EQ(MulDivRN(4, 1, 3), 1u);
    EXPECT_EQ(MulDivRU(4, 1, 3), 2u);
}

TEST(MulDiv, ProductsAreFormedAt64Bits) {
    // 100000 * 100000 overflows 32 bits; the quotient fits.
    EXPECT_EQ(MulDiv32(100000, 100000, 1000000), 10000);
    EXPECT_EQ(MulDiv32RN(44100, 1000000, 88200), 500000);
    EXPECT_EQ(MulDivRD(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(MulDivRN(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(MulDivRU(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_TRUE(MulCompare(65536, 65536, 1 << 30, 4));
    EXPECT_FALSE(MulCompare(65536, 65537, 1 << 30, 4));
    EXPECT_EQ(MulDiv64(3000000000000LL, 44100, 1000), 132300000000000LL);
    EXPECT_EQ(MulDiv64(-7, 1, 2), -3);
}

TEST(MulDiv, RandomOperandsAgreeWithExactArithmetic) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::int32_t> any(-100000, 100000);
    for (int i = 0; i < 2000; ++i) {
        std::int32_t a = any(rng), b = any(rng), c = any(rng);
        if (c == 0) continue;
        __int128 p = static_cast<__int128>(a) * b;
        __int128 q = p / c;
        // Nearest by magnitude, halves up, then the sign.
        __int128 ap = p < 0 ? -p : p, ac = c < 0 ? -c : c;
        __int128 nearest = (2 * ap + ac) / (2 * ac) * (((p < 0) != (c < 0)) ? -1 : 1);
        if (q >= INT32_MIN && q <= INT32_MAX) {
            EXPECT_EQ(MulDiv32(a, b, c), static_cast<std::int32_t>(q));
        }
        if (nearest >= INT32_MIN && nearest <= INT32_MAX) {
            EXPECT_EQ(MulDiv32RN(a, b, c), static_cast<std::int32_t>(nearest))
                << a << "*" << b << "/" << c;
        }
    }
}

TEST(MulDiv, ZeroDivisorsAndOversizedQuotientsRaise) {
    EXPECT_THROW(MulDiv32(1, 1, 0), EIntDivision);
    EXPECT_THROW(MulDiv32RN(1, 1, 0), EIntDivision);
    EXPECT_THROW(MulDivRD(1, 1, 0), EIntDivision);
    EXPECT_THROW(MulDivRN(1, 1, 0), EIntDivision);
    EXPECT_THROW(MulDivRU(1, 1, 0), EIntDivision);
    EXPECT_THROW(MulDiv64(1, 1, 0), EIntDivision);
    EXPECT_THROW(MulDiv32(INT32_MIN, 1, -1), EIntDivision);
    EXPECT_THROW(MulDiv32(65536, 65536, 1), EIntDivision);
    EXPECT_THROW(MulDiv32RN(INT32_MAX, 2, 1), EIntDivision);
    EXPECT_THROW(MulDivRD(0xFFFFFFFFu, 2, 1), EIntDivision);
    EXPECT_THROW(MulDiv64(INT64_MAX, 2, 1), EIntDivision);
    std::uint16_t q = 0, r = 0;
    EXPECT_THROW(DivMod32(100, 0, q, r), EIntDivision);
    EXPECT_THROW(DivMod32(65536u * 3, 3, q, r), EIntDivision);
    DivMod32(65535u * 3 + 2, 3, q, r);
    EXPECT_EQ(q, 65535);
    EXPECT_EQ(r, 2);
    EXPECT_THROW(int64Div32(5, 0), EIntDivision);
    EXPECT_THROW(int64Mod32(5, 0), EIntDivision);
}

TEST(MulDiv, ShiftsAndRangeScaling) {
    EXPECT_EQ(Sal(1, 33), 2);
    EXPECT_EQ(Sar(-8, 1), -4);
    EXPECT_EQ(Sar(-1, 31), -1);
    EXPECT_EQ(Sar(-8, 33), -4);
    EXPECT_EQ(Sal(0x40000000, 1), INT32_MIN);

    EXPECT_EQ(RangeScale(5, 0, 10, 100, 200), 150);
    EXPECT_EQ(RangeScale(0, 0, 10, 100, 200), 100);
    EXPECT_EQ(RangeScale(10, 0, 10, 100, 200), 200);
    EXPECT_EQ(RangeScale(1, 0, 3, 0, 1), 0);   // 1/3 truncated
    EXPECT_EQ(RangeScaleRN(2, 0, 3, 0, 1), 1); // 2/3 rounded
    EXPECT_EQ(RangeScaleRN(1, 0, 2, 0, 1), 0); // 1/2: ties to even
    EXPECT_EQ(RangeScaleRN(3, 0, 2, 0, 1), 2); // 3/2: ties to even
    // Large spans would overflow a 32-bit product.
    EXPECT_EQ(RangeScale(1 << 30, 0, INT32_MAX, 0, INT32_MAX), 1 << 30);
    EXPECT_THROW(RangeScale(1, 5, 5, 0, 1), EIntDivision);
    EXPECT_THROW(RangeScale(INT32_MAX, 0, 1, 0, INT32_MAX), EIntDivision);
}

TEST(Int64, StepsTruncateAndKeepTheDividendsSign) {
    EXPECT_EQ(int64x64(0x100000000LL, 0x100000001LL), 0x100000000LL);
    EXPECT_EQ(int64x64(-3, 5), -15);
    EXPECT_EQ(int64Div32(-7, 2), -3);
    EXPECT_EQ(int64Mod32(-7, 2), -1);
    EXPECT_EQ(int64Div32(10000000000LL, 0xFFFFFFFFu), 2);
    EXPECT_EQ(int64Mod32(10000000000LL, 0xFFFFFFFFu), 10000000000LL - 2 * 0xFFFFFFFFLL);
}

TEST(Math, ClampsRemaindersAndConversions) {
    EXPECT_EQ(MinMaxR(5, 0, 3), 3);
    EXPECT_EQ(MinMaxR(-1, 0, 3), 0);
    EXPECT_EQ(LimitR(5, 3, 0), 3); // bounds in either order
    EXPECT_DOUBLE_EQ(static_cast<double>(ModR(-7.5L, 2)), -1.5);
    EXPECT_DOUBLE_EQ(static_cast<double>(ModR(7.5L, -2)), 1.5);
    EXPECT_EQ(Ceil(1.2L), 2);
    EXPECT_EQ(Ceil(-1.2L), -1);
    EXPECT_EQ(Floor(-1.2L), -2);
    EXPECT_THROW(Floor(3e9L), EInvalidOp);
    EXPECT_THROW(Ceil(std::numeric_limits<long double>::quiet_NaN()), EInvalidOp);
    EXPECT_NEAR(static_cast<double>(ArcSin(1)), M_PI / 2, 1e-15);
    EXPECT_NEAR(static_cast<double>(ArcCos(-1)), M_PI, 1e-15);
    EXPECT_NEAR(static_cast<double>(ArcCos(0.5L)), M_PI / 3, 1e-15);
    EXPECT_NEAR(static_cast<double>(Pow(2, 10)), 1024.0, 1e-12);
    EXPECT_EQ(Pow(0, 3), 0);
    EXPECT_TRUE(std::isnan(static_cast<double>(Pow(-2, 2)))); // base must be positive
}
