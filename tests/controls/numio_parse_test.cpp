#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "controls/numio.h"

using namespace lum;

namespace {

struct Case {
    TInFormat format;
    TDecPSep sep;
    std::string text;
    bool ok;
    double value;
};

void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        double v = -12345;
        const bool ok = ParseNumber(c.text, c.format, c.sep, v);
        EXPECT_EQ(ok, c.ok) << "\"" << c.text << "\" format " << int(c.format);
        if (ok && c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value) << "\"" << c.text << "\"";
        }
    }
}

TEST(ParseNumber, IntegerNotation) {
    Check({
        {itInt, dsDot, "", true, 0},
        {itInt, dsDot, "-", true, 0},
        {itInt, dsDot, "+", true, 0},
        {itInt, dsDot, "-12", true, -12},
        {itInt, dsDot, "+12", true, 12},
        {itInt, dsDot, "007", true, 7},
        {itInt, dsDot, " 5", true, 5},
        {itInt, dsDot, "   ", true, 0},
        {itInt, dsDot, "--", false, 0},
        {itInt, dsDot, "1-", false, 0},
        {itInt, dsDot, "1.5", false, 0},
        {itInt, dsDot, "12 ", false, 0},
        {itInt, dsDot, "1 2", false, 0},
        {itInt, dsDot, "160a", false, 0},
        {itInt, dsDot, "$10", false, 0},
    });
}

TEST(ParseNumber, IntegerRunsThatLeaveThirtyTwoBitsAreRefused) {
    Check({
        {itInt, dsDot, "2147483647", true, 2147483647.0},
        {itInt, dsDot, "2147483648", false, 0},
        {itInt, dsDot, "-2147483648", true, -2147483648.0},
        {itInt, dsDot, "-2147483649", false, 0},
        {itInt, dsDot, "99999999999", false, 0},
        {itInt, dsDot, "0000000000000000000001", true, 1},
        {itHex, dsDot, "ffffffff", true, 4294967295.0},
        {itHex, dsDot, "100000000", false, 0},
        {itOct, dsDot, "37777777777", true, 4294967295.0},
        {itOct, dsDot, "40000000000", false, 0},
        {itBin, dsDot, std::string(32, '1'), true, 4294967295.0},
        {itBin, dsDot, "1" + std::string(32, '0'), false, 0},
    });
}

TEST(ParseNumber, HexOctalAndBinaryWithAndWithoutPrefix) {
    Check({
        {itHex, dsDot, "$1f", true, 31},
        {itHex, dsDot, "1F", true, 31},
        {itHex, dsDot, "$", true, 0},
        {itHex, dsDot, "g", false, 0},
        {itHex, dsDot, "$$1", false, 0},
        {itHex, dsDot, "-1", false, 0},
        {itOct, dsDot, "&17", true, 15},
        {itOct, dsDot, "17", true, 15},
        {itOct, dsDot, "8", false, 0},
        {itBin, dsDot, "%101", true, 5},
        {itBin, dsDot, "101", true, 5},
        {itBin, dsDot, "2", false, 0},
        {itBin, dsDot, "&1", false, 0},
    });
}

TEST(ParseNumber, DynamicNotationFollowsTheFirstCharacter) {
    Check({
        {itDynamic, dsDot, "$ff", true, 255},
        {itDynamic, dsDot, "%101", true, 5},
        {itDynamic, dsDot, "&17", true, 15},
        {itDynamic, dsDot, "1.5e3", true, 1500},
        {itDynamic, dsDot, "  $FF", true, 255},
        {itDynamic, dsDot, "ff", false, 0},
        {itDynamic, dsDot, "%12", false, 0},
        {itDynamic, dsDot, "e5", false, 0},
    });
}

TEST(ParseNumber, SeparatorModes) {
    Check({
        {itFloat, dsComma, "1,5", true, 1.5},
        {itFloat, dsComma, "1.5", false, 0},
        {itFloat, dsComma, "1,5,2", false, 0},
        {itFloat, dsBoth, "1,5", true, 1.5},
        {itFloat, dsBoth, "1.5", true, 1.5},
        {itFloat, dsBoth, "1.5,2", false, 0},
        {itFloat, dsDot, "1,5", false, 0},
        {itFloat, dsDot, "-0.25", true, -0.25},
        {itExp, dsComma, "2,5e2", true, 250},
    });
}

TEST(ParseNumber, FloatWithoutExponentRefusesOne) {
    Check({
        {itFloat, dsDot, "1e5", false, 0},
        {itFloat, dsDot, "1e", false, 0},
        {itFloat, dsDot, "12.75", true, 12.75},
    });
}

TEST(ParseNumber, ExponentNotation) {
    Check({
        {itExp, dsDot, "1e", true, 1},
        {itExp, dsDot, "1e+", true, 1},
        {itExp, dsDot, "1e-", true, 1},
        {itExp, dsDot, "1e+5", true, 100000},
        {itExp, dsDot, "1E-2", true, 0.01},
        {itExp, dsDot, "1e5e", false, 0},
        {itExp, dsDot, "e5", false, 0},
        {itExp, dsDot, "1e+-5", false, 0},
        {itExp, dsDot, "1e5.", false, 0},
        {itExp, dsDot, "+-1", false, 0},
        {itExp, dsDot, "1.2.3", false, 0},
        {itExp, dsDot, "1e5000", true, 1.7e308},
        {itExp, dsDot, "-1e5000", true, -1.7e308},
        {itExp, dsDot, "1e-5000", true, 0},
        {itExp, dsDot, "1" + std::string(400, '0'), true, 1.7e308},
    });
}

TEST(ParseNumber, LoneSeparatorsAndMissingIntegerParts) {
    Check({
        {itExp, dsDot, ".", true, 0},
        {itExp, dsDot, "1.", true, 1},
        {itExp, dsDot, ".5", true, 0.5},
        {itExp, dsDot, "-.5", true, -0.5},
        {itExp, dsDot, "-", true, 0},
        {itExp, dsDot, "..", false, 0},
    });
}

TEST(ReadFloat, DropsExponentDigitsBeyondTheCap) {
    // 10^4000 written out, then an exponent. "-4200" is kept whole and
    // brings the value back to 1e-200; in "-4201" the last digit is read
    // but dropped, leaving 10^(4000-420), which is then limited.
    const std::string big = "1" + std::string(4000, '0');
    int pos = 1;
    const std::string atCap = big + "e-4200";
    EXPECT_NEAR(ReadFloat(atCap, pos, true, dsDot) / 1e-200, 1.0, 1e-12);
    EXPECT_EQ(pos, static_cast<int>(atCap.size()) + 1);
    pos = 1;
    const std::string pastCap = big + "e-4201";
    EXPECT_EQ(ReadFloat(pastCap, pos, true, dsDot), 1.7e308);
    EXPECT_EQ(pos, static_cast<int>(pastCap.size()) + 1); // the dropped digit was read
}

TEST(ReadFloat, PositionIndexesTheStoppingCharacter) {
    int pos = 1;
    EXPECT_EQ(ReadFloat("12x", pos, true, dsDot), 12);
    EXPECT_EQ(pos, 3);
    pos = 1;
    EXPECT_EQ(ReadFloat("-", pos, true, dsDot), 0); // stops in Error at the end
    EXPECT_EQ(pos, 2);
    pos = 1;
    EXPECT_EQ(ReadFloat("x1", pos, true, dsDot), 0);
    EXPECT_EQ(pos, 1);
    pos = 3;
    EXPECT_EQ(ReadFloat("ab2.5", pos, false, dsDot), 2.5);
    EXPECT_EQ(pos, 6);
    pos = 1;
    EXPECT_EQ(ReadFloat("1.5e3", pos, false, dsDot), 1.5);
    EXPECT_EQ(pos, 4);
}

TEST(IntegerReaders, StopAtTheFirstForeignCharacterWithoutTakingIt) {
    int pos = 1;
    EXPECT_EQ(ReadDecimal("  42", pos), 42);
    EXPECT_EQ(pos, 5);
    pos = 3;
    EXPECT_EQ(ReadDecimal("ab-12z", pos), -12);
    EXPECT_EQ(pos, 6);
    pos = 1;
    EXPECT_EQ(ReadHex("1fz", pos), 31u);
    EXPECT_EQ(pos, 3);
    pos = 1;
    EXPECT_EQ(ReadOctal("178", pos), 15u);
    EXPECT_EQ(pos, 3);
    pos = 1;
    EXPECT_EQ(ReadBinary("1012", pos), 5u);
    EXPECT_EQ(pos, 4);
    // The digit that would overflow stays unread.
    pos = 1;
    EXPECT_EQ(ReadDecimal("21474836470", pos), 2147483647);
    EXPECT_EQ(pos, 11);
}

} // namespace
