#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "core/lumsearch.h"
#include "core/lumstring.h"

using namespace lum;

TEST(Lumstring, PositionsCountFromOne) {
    EXPECT_EQ(StrPosEx("ab", "xabyabzab", 1), 2);
    EXPECT_EQ(StrPosEx("ab", "xabyabzab", 3), 8);
    EXPECT_EQ(StrPosEx("ab", "xabyabzab", 4), 0);
    EXPECT_EQ(StrPosEx("aa", "aaaa", 3), 3); // occurrences overlap
    EXPECT_EQ(StrPosEx("", "abc", 1), 0);
    EXPECT_EQ(StrPosEx("a", "abc", 0), 0);

    EXPECT_EQ(PosEx(1, "c", "abcabc"), 3);
    EXPECT_EQ(PosEx(4, "c", "abcabc"), 3); // counted from From
    EXPECT_EQ(PosEx(6, "c", "abcabc"), 1);
    EXPECT_EQ(PosEx(7, "c", "abcabc"), 0);
    EXPECT_EQ(PosEx(4, "x", "abcabc"), 0);

    EXPECT_EQ(PosRight("bc", "abcabc"), 5);
    EXPECT_EQ(PosRight("x", "abcabc"), 0);
}

TEST(Lumstring, CuttingAtCharacters) {
    std::string s = "C:/dir/file.wav";
    DeleteLeft(s, '/');
    EXPECT_EQ(s, "/dir/file.wav");
    s = "nothing";
    DeleteLeft(s, '/');
    EXPECT_EQ(s, "nothing");
    s = "/dir/file.wav";
    DeleteRight(s, '/');
    EXPECT_EQ(s, "/dir/");
    s = "nothing";
    DeleteRight(s, '/');
    EXPECT_EQ(s, "");

    EXPECT_EQ(LeftEnd("key=value=x", '='), "key");
    EXPECT_EQ(LeftEnd("novalue", '='), "");
    EXPECT_EQ(RightEnd("key=value=x", '='), "x");
    EXPECT_EQ(RightEnd("novalue", '='), "novalue");
    EXPECT_EQ(LeftStr("abcdef", 2), "ab");
    EXPECT_EQ(RightStr("abcdef", 2), "ef");
    EXPECT_EQ(RightStr("ab", 5), "ab");
    EXPECT_EQ(RightStr("ab", -1), "");
}

TEST(Lumstring, PaddingAndRepetition) {
    EXPECT_EQ(PadLeft("42", '0', 5), "00042");
    EXPECT_EQ(PadRight("42", '.', 5), "42...");
    EXPECT_EQ(PadEnds("ab", '*', 7), "**ab***"); // left margin (7-2) div 2
    EXPECT_EQ(PadEnds("abcdef", '*', 3), "abcdef");
    EXPECT_EQ(Replicate("ab", 3), "ababab");
    EXPECT_EQ(Replicate("ab", 0), "");
    EXPECT_EQ(Replicate("x", 255).size(), 255u);
}

TEST(Lumstring, CaseRules) {
    EXPECT_TRUE(Equal("Hello", "hELLO"));
    EXPECT_TRUE(Equal("Ärger", "äRGER"));
    EXPECT_TRUE(Equal("Привет", "пРИВЕТ"));
    EXPECT_FALSE(Equal("abc", "abd"));
    EXPECT_FALSE(Equal("abc", "ab"));
    EXPECT_TRUE(Equal("", ""));
    // A stray byte that is not UTF-8 still compares as itself.
    EXPECT_TRUE(Equal("a\xFFz", "A\xFFZ"));
    EXPECT_FALSE(Equal("a\xFE", "a\xFF"));

    EXPECT_EQ(DUpCase('a'), 'A');
    EXPECT_EQ(DUpCase(static_cast<char>(228)), static_cast<char>(196));
    EXPECT_EQ(DUpCase(static_cast<char>(246)), static_cast<char>(214));
    EXPECT_EQ(DUpCase(static_cast<char>(252)), static_cast<char>(220));
    EXPECT_EQ(DUpCase(static_cast<char>(233)), static_cast<char>(233)); // é stays
    EXPECT_EQ(DUpCase(U'ü'), U'Ü');
    EXPECT_EQ(DUpperCase("grüße aus köln, ärger"), "GRÜßE AUS KÖLN, ÄRGER");
    EXPECT_EQ(DUpperCase("é"), "é");
}

TEST(Lumstring, HexToIntReadsEightCharacters) {
    EXPECT_EQ(HexToInt("FF"), 0xFFu);
    EXPECT_EQ(HexToInt("dead"), 0xDEADu);
    EXPECT_EQ(HexToInt("FFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(HexToInt("123456789"), 0x12345678u); // only the first eight
    EXPECT_EQ(HexToInt("1G"), 0x10u);              // a non-digit counts as 0
    EXPECT_EQ(HexToInt(""), 0u);
}

namespace {

int CompareInt(const void* a, const void* b) {
    int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
    return (x > y) - (x < y);
}

struct Record {
    std::uint32_t key;
    char payload[9];
};

int CompareRecord(const void* a, const void* b) {
    auto x = static_cast<const Record*>(a)->key, y = static_cast<const Record*>(b)->key;
    return (x > y) - (x < y);
}

} // namespace

TEST(Lumsearch, QuicksortMatchesStdSortOnRandomData) {
    std::mt19937 rng(12345);
    for (std::size_t n : {0u, 1u, 2u, 3u, 4u, 5u, 17u, 100u, 1000u, 5000u}) {
        for (int range : {3, 1000000}) { // many duplicates, then few
            std::vector<int> v(n);
            std::uniform_int_distribution<int> d(-range, range);
            for (int& x : v)
                x = d(rng);
            std::vector<int> expected = v;
            std::sort(expected.begin(), expected.end());
            lum::qsort(v.data(), v.size(), sizeof(int), CompareInt);
            EXPECT_EQ(v, expected) << "n=" << n << " range=" << range;
        }
    }
}

TEST(Lumsearch, QuicksortMovesWholeOddSizedRecordsAndSurvivesSortedInput) {
    std::vector<Record> v(300);
    for (std::size_t i = 0; i < v.size(); ++i) {
        v[i].key = static_cast<std::uint32_t>((i * 7919) % 300);
        std::snprintf(v[i].payload, sizeof v[i].payload, "r%u", v[i].key);
    }
    lum::qsort(v.data(), v.size(), sizeof(Record), CompareRecord);
    for (std::size_t i = 0; i < v.size(); ++i) {
        ASSERT_EQ(v[i].key, i);
        EXPECT_EQ(std::string(v[i].payload), "r" + std::to_string(i));
    }
    // Already sorted and reversed input: no quadratic blow-up, same order.
    std::vector<int> big(200000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<int>(big.size() - i);
    lum::qsort(big.data(), big.size(), sizeof(int), CompareInt);
    EXPECT_TRUE(std::is_sorted(big.begin(), big.end()));
    lum::qsort(big.data(), big.size(), sizeof(int), CompareInt);
    EXPECT_TRUE(std::is_sorted(big.begin(), big.end()));

    int untouched[3] = {3, 2, 1};
    lum::qsort(untouched, 3, 0, CompareInt); // width 0 does nothing
    EXPECT_EQ(untouched[0], 3);
}

TEST(Lumsearch, NestedSortsDoNotDisturbEachOther) {
    // A comparison that itself sorts arrays of another width.
    std::vector<Record> outer(50);
    for (std::size_t i = 0; i < outer.size(); ++i)
        outer[i].key = static_cast<std::uint32_t>(50 - i);
    auto nested = [](const void* a, const void* b) {
        int inner[5] = {5, 1, 4, 2, 3};
        lum::qsort(inner, 5, sizeof(int), CompareInt);
        EXPECT_EQ(inner[0], 1);
        return CompareRecord(a, b);
    };
    lum::qsort(outer.data(), outer.size(), sizeof(Record), nested);
    for (std::size_t i = 0; i < outer.size(); ++i)
        EXPECT_EQ(outer[i].key, i + 1);
}

TEST(Lumsearch, BinaryAndLinearSearch) {
    int sorted[] = {1, 3, 5, 7, 9, 11};
    for (int i = 0; i < 6; ++i) {
        int key = sorted[i];
        EXPECT_EQ(lum::bsearch(&key, sorted, 6, sizeof(int), CompareInt), &sorted[i]);
    }
    for (int key : {0, 4, 12})
        EXPECT_EQ(lum::bsearch(&key, sorted, 6, sizeof(int), CompareInt), nullptr);
    int key = 1;
    EXPECT_EQ(lum::bsearch(&key, sorted, 0, sizeof(int), CompareInt), nullptr);

    int table[8] = {4, 8, 15};
    std::size_t count = 3;
    key = 15;
    EXPECT_EQ(lum::lfind(&key, table, count, sizeof(int), CompareInt), &table[2]);
    key = 16;
    EXPECT_EQ(lum::lfind(&key, table, count, sizeof(int), CompareInt), nullptr);
    EXPECT_EQ(lum::lsearch(&key, table, count, sizeof(int), CompareInt), &table[3]);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(table[3], 16);
    // Found: nothing appended.
    key = 8;
    EXPECT_EQ(lum::lsearch(&key, table, count, sizeof(int), CompareInt), &table[1]);
    EXPECT_EQ(count, 4u);
}
