#include <gtest/gtest.h>
#include <initializer_list>
#include <string>

#include "controls/numio.h"

using namespace lum;

namespace {

struct Accepted {
    std::string text;
    double value;
};

// Every text of Ok qualifies with its value, every text of Refused does not.
void Expect(TInFormat format, TDecPSep sep, std::initializer_list<Accepted> ok,
            std::initializer_list<std::string> refused) {
    for (const Accepted& a : ok) {
        double v = -1;
        EXPECT_TRUE(ParseNumber(a.text, format, sep, v)) << "refused \"" << a.text << "\"";
        EXPECT_DOUBLE_EQ(v, a.value) << "\"" << a.text << "\"";
    }
    for (const std::string& t : refused) {
        double v;
        EXPECT_FALSE(ParseNumber(t, format, sep, v)) << "accepted \"" << t << "\"";
    }
}

TEST(ParseNumber, IntegerNotationAndItsThirtyTwoBitLimit) {
    Expect(itInt, dsDot,
           {{"", 0},
            {"-", 0},
            {"+", 0},
            {"-12", -12},
            {"+12", 12},
            {"007", 7},
            {" 5", 5},
            {"   ", 0},
            {"2147483647", 2147483647.0},
            {"-2147483648", -2147483648.0},
            {"0000000000000000000001", 1}},
           {"--", "1-", "1.5", "12 ", "1 2", "160a", "$10", "2147483648", "-2147483649",
            "99999999999"});
}

TEST(ParseNumber, HexOctalAndBinary) {
    Expect(itHex, dsDot, {{"$1f", 31}, {"1F", 31}, {"$", 0}, {"ffffffff", 4294967295.0}},
           {"g", "$$1", "-1", "100000000"});
    Expect(itOct, dsDot, {{"&17", 15}, {"17", 15}, {"37777777777", 4294967295.0}},
           {"8", "40000000000"});
    Expect(itBin, dsDot, {{"%101", 5}, {"101", 5}, {std::string(32, '1'), 4294967295.0}},
           {"2", "&1", "1" + std::string(32, '0')});
}

TEST(ParseNumber, DynamicNotationFollowsTheFirstCharacter) {
    Expect(itDynamic, dsDot,
           {{"$ff", 255}, {"%101", 5}, {"&17", 15}, {"1.5e3", 1500}, {"  $FF", 255}},
           {"ff", "%12", "e5"});
}

TEST(ParseNumber, SeparatorModes) {
    Expect(itFloat, dsComma, {{"1,5", 1.5}}, {"1.5", "1,5,2"});
    Expect(itFloat, dsBoth, {{"1,5", 1.5}, {"1.5", 1.5}}, {"1.5,2"});
    Expect(itFloat, dsDot, {{"-0.25", -0.25}, {"12.75", 12.75}}, {"1,5", "1e5", "1e"});
    Expect(itExp, dsComma, {{"2,5e2", 250}}, {"2.5e2"});
}

TEST(ParseNumber, ExponentNotation) {
    Expect(itExp, dsDot,
           {{"1e", 1},
            {"1e+", 1},
            {"1e-", 1},
            {"1e+5", 100000},
            {"1E-2", 0.01},
            {"1e5000", 1.7e308},
            {"-1e5000", -1.7e308},
            {"1e-5000", 0},
            {"1" + std::string(400, '0'), 1.7e308},
            {".", 0},
            {"1.", 1},
            {".5", 0.5},
            {"-.5", -0.5},
            {"-", 0}},
           {"1e5e", "e5", "1e+-5", "1e5.", "+-1", "1.2.3", ".."});
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
    EXPECT_EQ(pos, static_cast<int>(pastCap.size()) + 1);
}

TEST(Readers, PositionIndexesTheCharacterThatStoppedThem) {
    struct Case {
        double value;
        int pos;
    };
    auto run = [](auto reader, std::string_view text, int start) {
        int pos = start;
        const double v = static_cast<double>(reader(text, pos));
        return Case{v, pos};
    };
    auto flt = [](std::string_view t, int& p) { return ReadFloat(t, p, true, dsDot); };
    auto fix = [](std::string_view t, int& p) { return ReadFloat(t, p, false, dsDot); };
    const struct {
        Case got;
        Case want;
    } cases[] = {
        {run(flt, "12x", 1), {12, 3}},
        {run(flt, "-", 1), {0, 2}}, // stops in Error at the end
        {run(flt, "x1", 1), {0, 1}},
        {run(fix, "ab2.5", 3), {2.5, 6}},
        {run(fix, "1.5e3", 1), {1.5, 4}},
        {run(ReadDecimal, "  42", 1), {42, 5}},
        {run(ReadDecimal, "ab-12z", 3), {-12, 6}},
        {run(ReadDecimal, "21474836470", 1), {2147483647, 11}}, // the overflowing 0 stays
        {run(ReadHex, "1fz", 1), {31, 3}},
        {run(ReadOctal, "178", 1), {15, 3}},
        {run(ReadBinary, "1012", 1), {5, 4}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got.value, c.want.value) << "case " << (&c - cases);
        EXPECT_EQ(c.got.pos, c.want.pos) << "case " << (&c - cases);
    }
}

} // namespace
