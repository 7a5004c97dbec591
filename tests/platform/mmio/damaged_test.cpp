// Damaged RIFF files: every row is walked on a disk file and on a memory
// image, and both must report the same chunks and stop the same way,
// without reading outside the file.
#include <gtest/gtest.h>

#include "mmio_helpers.h"
#include "support/testutil.h"

using namespace lum::test::mmio;

namespace {

const std::string kEnd = "|" + std::to_string(MMIOERR_CHUNKNOTFOUND);

struct Damaged {
    const char* name;
    Bytes file;
    // The walk inside the RIFF form, or "" when no RIFF form is found.
    std::string walk;
};

Bytes Truncated(Bytes b, std::size_t drop) {
    b.erase(b.end() - static_cast<long>(drop), b.end());
    return b;
}

std::vector<Damaged> Table() {
    const Bytes fmt = Chunk("fmt ", Bytes(16, 7));
    return {
        {"Intact", Form("RIFF", "WAVE", {fmt, Chunk("data", Text("abcde"))}),
         "fmt :16 data:5" + kEnd},
        {"OddLastChunkWithoutPad",
         Truncated(Form("RIFF", "WAVE", {fmt, Chunk("data", Text("abcde"), false)}), 1),
         "fmt :16 data:5" + kEnd},
        {"ChunkClaimsMoreThanTheFile",
         Form("RIFF", "WAVE", {fmt, Chunk("data", Text("abcd"), true, 100000)}, 36 + 4),
         "fmt :16 data:100000" + kEnd},
        {"ChunkReachesPastItsParent",
         Form("RIFF", "WAVE", {fmt, Chunk("data", Text("abcd"))}, 4 + 24), "fmt :16" + kEnd},
        {"RiffClaimsMoreThanTheFile",
         Form("RIFF", "WAVE", {fmt, Chunk("data", Text("ab"))}, 0xFFFFFFF0),
         "fmt :16 data:2" + kEnd},
        {"LargestSizeFieldDoesNotWrap",
         Form("RIFF", "WAVE", {Chunk("junk", Text("abcd"), true, 0xFFFFFFFF), fmt}),
         "junk:4294967295" + kEnd},
        {"ListTooSmallForItsFormType", Form("RIFF", "WAVE", {Chunk("LIST", Text("ab")), fmt}),
         "LIST/....:2[] fmt :16" + kEnd},
        {"TruncatedChunkHeader", Truncated(Form("RIFF", "WAVE", {fmt, Chunk("data", {})}), 3),
         "fmt :16" + kEnd},
        {"TruncatedListFormType",
         Truncated(Form("RIFF", "WAVE", {fmt, Form("LIST", "INFO", {})}), 2), "fmt :16" + kEnd},
        {"ZeroLength", {}, ""},
        {"NotRiff", Chunk("JUNK", Text("RIFF....WAVE")), ""},
    };
}

// Finds the RIFF form and walks it, or "" when there is none.
std::string Walk(HMMIO h) {
    MMCKINFO riff{};
    riff.fccType = mmioStringToFOURCC("WAVE", 0);
    if (mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR) return "";
    return WalkChunks(h, riff);
}

class DamagedFiles : public ::testing::TestWithParam<Damaged> {};

TEST_P(DamagedFiles, WalkTheSameOnDiskAndInMemory) {
    const Damaged& row = GetParam();
    std::string expected = row.walk;
    // The table writes the missing form type of a tiny list, four NULs, as
    // "....".
    if (auto at = expected.find("LIST/...."); at != std::string::npos)
        expected.replace(at + 5, 4, std::string(4, '\0'));

    lum::test::TempDir dir;
    std::string path = dir.File("damaged.wav");
    lum::test::WriteFile(path, row.file);
    MMIOINFO info{};
    info.cchBuffer = 8; // tiny, so headers straddle refills
    HMMIO disk = mmioOpen(path.c_str(), &info, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(disk, nullptr) << info.wErrorRet;
    EXPECT_EQ(Walk(disk), expected) << "disk";
    EXPECT_LE(mmioSeek(disk, 0, SEEK_CUR), LONG(row.file.size()));
    EXPECT_EQ(mmioClose(disk, 0), MMSYSERR_NOERROR);

    // An image in exactly as many bytes as the file, so that reading one byte
    // too far is caught by the sanitizer build.
    Bytes image = row.file;
    image.shrink_to_fit();
    info = MemoryInfo(image);
    HMMIO memory = mmioOpen(nullptr, &info, MMIO_READ);
    ASSERT_NE(memory, nullptr) << info.wErrorRet;
    EXPECT_EQ(Walk(memory), expected) << "memory";
    EXPECT_EQ(mmioClose(memory, 0), MMSYSERR_NOERROR);
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedFiles, ::testing::ValuesIn(Table()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
