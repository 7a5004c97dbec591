#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "core/streams.h"
#include "support/raised.h"
#include "support/testutil.h"

using namespace lum;
using lum::test::Raised;

namespace {

std::vector<std::uint8_t> Bytes(int n, int seed = 1) {
    std::vector<std::uint8_t> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * seed + 7);
    return v;
}

std::vector<std::uint8_t> Contents(TCustomMemoryStream& s) {
    const auto* p = static_cast<const std::uint8_t*>(s.GetMemory());
    return std::vector<std::uint8_t>(p, p + s.GetSize());
}

} // namespace

TEST(TMemoryStream, WritesGrowTheStreamAndReadsComeBackInPieces) {
    TMemoryStream s;
    auto data = Bytes(20000, 3);
    // Odd piece sizes cross the block's growth steps.
    for (std::size_t at = 0; at < data.size(); at += 997) {
        auto n = static_cast<std::int32_t>(std::min<std::size_t>(997, data.size() - at));
        ASSERT_EQ(s.Write(data.data() + at, n), n);
    }
    EXPECT_EQ(s.GetSize(), 20000);
    EXPECT_EQ(s.GetPosition(), 20000);
    EXPECT_GE(s.GetCapacity(), 20000);
    EXPECT_EQ(Contents(s), data);

    s.SetPosition(19990);
    std::uint8_t tail[32];
    EXPECT_EQ(s.Read(tail, 32), 10); // short at the end
    EXPECT_EQ(0, std::memcmp(tail, data.data() + 19990, 10));
    EXPECT_EQ(s.Read(tail, 32), 0);
    EXPECT_EQ(Raised([&] { s.ReadBuffer(tail, 1); }), "Stream read error");
}

TEST(TMemoryStream, GapsAndGrownSizesReadAsZeros) {
    TMemoryStream s;
    auto data = Bytes(100);
    s.WriteBuffer(data.data(), 100);
    s.SetSize(10); // the block keeps the old bytes behind the new end
    EXPECT_EQ(s.GetPosition(), 10);
    s.SetSize(50);
    auto grown = Contents(s);
    EXPECT_TRUE(std::all_of(grown.begin() + 10, grown.end(), [](auto b) { return b == 0; }));

    s.SetSize(10);
    s.Seek(30, soFromBeginning);
    std::uint8_t one = 0xEE;
    s.WriteBuffer(&one, 1);
    auto gapped = Contents(s);
    ASSERT_EQ(gapped.size(), 31u);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 10, gapped.begin()));
    EXPECT_TRUE(
        std::all_of(gapped.begin() + 10, gapped.begin() + 30, [](auto b) { return b == 0; }));
    EXPECT_EQ(gapped[30], 0xEE);

    s.Clear();
    EXPECT_EQ(s.GetSize(), 0);
    EXPECT_EQ(s.GetPosition(), 0);
    EXPECT_EQ(s.GetMemory(), nullptr);
}

TEST(TMemoryStream, SeekOrigins) {
    TMemoryStream s;
    auto data = Bytes(64);
    s.WriteBuffer(data.data(), 64);
    EXPECT_EQ(s.Seek(-4, soFromEnd), 60);
    EXPECT_EQ(s.Seek(2, soFromCurrent), 62);
    EXPECT_EQ(s.Seek(100, soFromBeginning), 100); // past the end is allowed
    std::uint8_t b;
    EXPECT_EQ(s.Read(&b, 1), 0);
    s.SetPosition(5);
    EXPECT_FALSE(Raised([&] { s.Seek(-6, soFromCurrent); }).empty());
    EXPECT_EQ(s.GetPosition(), 5); // a refused seek does not move
    EXPECT_FALSE(Raised([&] { s.Seek(0, 7); }).empty());
}

TEST(TStream, CopyFromCopiesAPartOrTheWholeSource) {
    TMemoryStream source;
    auto data = Bytes(70000, 5); // more than one copy buffer
    source.WriteBuffer(data.data(), 70000);

    TMemoryStream whole;
    source.SetPosition(123);
    EXPECT_EQ(whole.CopyFrom(source, 0), 70000); // 0: all of it, from the start
    EXPECT_EQ(Contents(whole), data);

    TMemoryStream part;
    source.SetPosition(1000);
    EXPECT_EQ(part.CopyFrom(source, 300), 300);
    EXPECT_EQ(Contents(part), std::vector<std::uint8_t>(data.begin() + 1000, data.begin() + 1300));

    source.SetPosition(69990);
    TMemoryStream shortcopy;
    EXPECT_EQ(Raised([&] { shortcopy.CopyFrom(source, 20); }), "Stream read error");
}

TEST(TFileStream, WritesReopensAndReportsFailuresWithTheName) {
    lum::test::TempDir dir;
    std::string path = dir.File("data.bin");
    auto data = Bytes(5000, 11);
    {
        TFileStream f(path, fmCreate);
        f.WriteBuffer(data.data(), 5000);
        EXPECT_EQ(f.GetSize(), 5000);
        EXPECT_EQ(f.GetFileName(), path);
    }
    {
        TFileStream f(path, fmOpenReadWrite | fmShareExclusive);
        EXPECT_EQ(f.Seek(-8, soFromEnd), 4992);
        std::uint8_t patch[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        f.WriteBuffer(patch, 8);
        f.WriteBuffer(patch, 8); // extends the file
        EXPECT_EQ(f.GetSize(), 5008);
        f.SetSize(5004);
        EXPECT_EQ(f.GetPosition(), 5004);
    }
    TMemoryStream back;
    back.LoadFromFile(path);
    ASSERT_EQ(back.GetSize(), 5004);
    auto got = Contents(back);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 4992, got.begin()));
    EXPECT_EQ(got[4992], 1);
    EXPECT_EQ(got[5003], 4);

    TFileStream reader(path, fmOpenRead);
    std::uint8_t b = 0;
    EXPECT_EQ(reader.Write(&b, 1), 0); // read-only
    EXPECT_EQ(Raised([&] { reader.WriteBuffer(&b, 1); }), "Stream write error");

    std::string missing = dir.File("missing.bin");
    EXPECT_EQ(Raised([&] { TFileStream f(missing, fmOpenRead); }),
              "Cannot open file \"" + missing + "\": No such file or directory");
    std::string nowhere = dir.File("no/such/dir.bin");
    EXPECT_EQ(Raised([&] { TFileStream f(nowhere, fmCreate); }),
              "Cannot create file \"" + nowhere + "\": No such file or directory");
}

TEST(TMemoryStream, SavesToAndLoadsFromOtherStreams) {
    lum::test::TempDir dir;
    TMemoryStream s;
    auto data = Bytes(3000, 7);
    s.WriteBuffer(data.data(), 3000);
    s.SaveToFile(dir.File("m.bin"));
    EXPECT_EQ(lum::test::ReadFile(dir.File("m.bin")), data);

    TMemoryStream copy;
    std::uint8_t junk[5] = {9, 9, 9, 9, 9};
    copy.WriteBuffer(junk, 5);
    s.SetPosition(2000); // LoadFromStream reads from the beginning
    copy.LoadFromStream(s);
    EXPECT_EQ(copy.GetPosition(), 0);
    EXPECT_EQ(Contents(copy), data);
}
