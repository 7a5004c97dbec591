// Writing and reading RIFF structures: nested forms, pad bytes, sizes fixed
// on ascent, and finding chunks, on disk files and on memory images.
#include <gtest/gtest.h>

#include <cstring>

#include "mmio_helpers.h"
#include "platform/mmio/mmio.h"
#include "support/testutil.h"

using namespace lum::platform::mmio;
using namespace lum::test::mmio;

namespace {

enum class Medium { DiskBuffered, DiskUnbuffered, GrowableMemory };

// Opens a new file of the medium for writing; Finish closes it and returns
// its bytes.
class Target {
public:
    explicit Target(Medium m) : medium_(m), path_(dir_.File("t.riff")) {}

    HMMIO Create() {
        MMIOINFO info{};
        switch (medium_) {
        case Medium::DiskBuffered:
            info.cchBuffer = 16; // small, so chunks straddle buffer boundaries
            return mmioOpen(path_.c_str(), &info, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
        case Medium::DiskUnbuffered:
            return mmioOpen(path_.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE);
        case Medium::GrowableMemory:
            info.fccIOProc = FOURCC_MEM;
            info.adwInfo[0] = 8;
            return mmioOpen(nullptr, &info, MMIO_CREATE | MMIO_READWRITE);
        }
        return nullptr;
    }

    Bytes Finish(HMMIO h) {
        Bytes bytes;
        if (medium_ == Medium::GrowableMemory) {
            MMIOINFO info{};
            EXPECT_EQ(mmioGetInfo(h, &info, 0), MMSYSERR_NOERROR);
            LONG end = mmioSeek(h, 0, SEEK_END);
            bytes.assign(info.pchBuffer, info.pchBuffer + end);
            EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
        } else {
            EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
            bytes = lum::test::ReadFile(path_);
        }
        return bytes;
    }

private:
    Medium medium_;
    lum::test::TempDir dir_;
    std::string path_;
};

void WriteChunk(HMMIO h, const char* id, const std::string& body, DWORD presetSize = 0) {
    MMCKINFO ck{};
    ck.ckid = mmioStringToFOURCC(id, 0);
    ck.cksize = presetSize;
    ASSERT_EQ(mmioCreateChunk(h, &ck, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(h, body.data(), static_cast<LONG>(body.size())),
              static_cast<LONG>(body.size()));
    ASSERT_EQ(mmioAscend(h, &ck, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(ck.cksize, body.size());
}

// The layout every medium must produce for the same calls.
Bytes ExpectedNested() {
    return Form("RIFF", "TEST",
                {Chunk("odd1", Text("abc")),
                 Form("LIST", "INFO", {Chunk("INAM", Text("x")), Chunk("ICMT", Text("hello"))}),
                 Chunk("data", Text("0123456789ABCDEFGHIJ")), Chunk("tail", Text("z"))});
}

class RiffRoundTrip : public ::testing::TestWithParam<Medium> {};

TEST_P(RiffRoundTrip, NestedFormsArePaddedAndSizedExactly) {
    Target target(GetParam());
    HMMIO h = target.Create();
    ASSERT_NE(h, nullptr);
    MMCKINFO riff{}, list{};
    riff.fccType = mmioStringToFOURCC("TEST", 0);
    ASSERT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERIFF), MMSYSERR_NOERROR);
    WriteChunk(h, "odd1", "abc");
    list.fccType = mmioStringToFOURCC("INFO", 0);
    ASSERT_EQ(mmioCreateChunk(h, &list, MMIO_CREATELIST), MMSYSERR_NOERROR);
    WriteChunk(h, "INAM", "x");
    WriteChunk(h, "ICMT", "hello", 999); // a wrong preset size is corrected
    ASSERT_EQ(mmioAscend(h, &list, 0), MMSYSERR_NOERROR);
    WriteChunk(h, "data", "0123456789ABCDEFGHIJ");
    WriteChunk(h, "tail", "z");
    ASSERT_EQ(mmioAscend(h, &riff, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.cksize + 8, mmioSeek(h, 0, SEEK_CUR));
    EXPECT_EQ(target.Finish(h), ExpectedNested());
}

TEST_P(RiffRoundTrip, DescendFindsChunksByIdentifierAndFormType) {
    Target target(GetParam());
    HMMIO h = target.Create();
    ASSERT_NE(h, nullptr);
    Bytes file = ExpectedNested();
    ASSERT_EQ(mmioWrite(h, file.data(), static_cast<LONG>(file.size())),
              static_cast<LONG>(file.size()));
    ASSERT_EQ(mmioSeek(h, 0, SEEK_SET), 0);

    MMCKINFO riff{}, list{}, ck{};
    riff.fccType = mmioStringToFOURCC("WAVE", 0);
    EXPECT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 0) << "a failed search leaves the position";
    riff.fccType = mmioStringToFOURCC("TEST", 0);
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.dwDataOffset, 8u);
    EXPECT_EQ(riff.cksize + 8, file.size());
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 12) << "positioned after the form type";

    // "data" lies after the list: the search steps over the odd chunk's pad
    // byte and over the whole list.
    ck.ckid = mmioStringToFOURCC("data", 0);
    ASSERT_EQ(mmioDescend(h, &ck, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    char body[21] = {};
    EXPECT_EQ(mmioRead(h, body, 20), 20);
    EXPECT_STREQ(body, "0123456789ABCDEFGHIJ");
    ASSERT_EQ(mmioAscend(h, &ck, 0), MMSYSERR_NOERROR);
    ck.ckid = mmioStringToFOURCC("odd1", 0);
    EXPECT_EQ(mmioDescend(h, &ck, &riff, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND)
        << "searches only forward";

    ASSERT_EQ(mmioSeek(h, riff.dwDataOffset + 4, SEEK_SET), 12);
    list.fccType = mmioStringToFOURCC("INFO", 0);
    ASSERT_EQ(mmioDescend(h, &list, &riff, MMIO_FINDLIST), MMSYSERR_NOERROR);
    EXPECT_EQ(list.ckid, FOURCC_LIST);
    ck.ckid = mmioStringToFOURCC("ICMT", 0);
    ASSERT_EQ(mmioDescend(h, &ck, &list, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    EXPECT_EQ(ck.cksize, 5u);
    ASSERT_EQ(mmioAscend(h, &ck, 0), MMSYSERR_NOERROR);
    // The parent bounds the search: "data" follows the list but is not in it.
    ck.ckid = mmioStringToFOURCC("data", 0);
    EXPECT_EQ(mmioDescend(h, &ck, &list, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    ASSERT_EQ(mmioAscend(h, &list, 0), MMSYSERR_NOERROR);

    ASSERT_EQ(mmioSeek(h, 12, SEEK_SET), 12);
    EXPECT_EQ(WalkChunks(h, riff), "odd1:3 LIST/INFO:28[INAM:1 ICMT:5] data:20 tail:1|" +
                                       std::to_string(MMIOERR_CHUNKNOTFOUND));
    target.Finish(h);
}

// The wave layer finishes a file it appended to by marking both chunks dirty
// with size 0 and ascending from the new end.
TEST_P(RiffRoundTrip, DirtyChunksOfAnExistingFileGetTheirTrueSizes) {
    Target target(GetParam());
    HMMIO h = target.Create();
    ASSERT_NE(h, nullptr);
    Bytes file = Form("RIFF", "WAVE", {Chunk("fmt ", Bytes(16, 1)), Chunk("data", Text("1234"))});
    ASSERT_EQ(mmioWrite(h, file.data(), static_cast<LONG>(file.size())),
              static_cast<LONG>(file.size()));
    ASSERT_EQ(mmioSeek(h, 0, SEEK_SET), 0);
    MMCKINFO riff{}, data{};
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, 0), MMSYSERR_NOERROR);
    data.ckid = mmioStringToFOURCC("data", 0);
    ASSERT_EQ(mmioDescend(h, &data, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioSeek(h, data.dwDataOffset + data.cksize, SEEK_SET), 48);
    ASSERT_EQ(mmioWrite(h, "567", 3), 3);
    data.cksize = 0;
    data.dwFlags = MMIO_DIRTY;
    riff.cksize = 0;
    riff.dwFlags = MMIO_DIRTY;
    ASSERT_EQ(mmioAscend(h, &data, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(data.cksize, 7u);
    ASSERT_EQ(mmioAscend(h, &riff, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(target.Finish(h),
              Form("RIFF", "WAVE", {Chunk("fmt ", Bytes(16, 1)), Chunk("data", Text("1234567"))}));
}

INSTANTIATE_TEST_SUITE_P(Media, RiffRoundTrip,
                         ::testing::Values(Medium::DiskBuffered, Medium::DiskUnbuffered,
                                           Medium::GrowableMemory),
                         [](const auto& info) {
                             switch (info.param) {
                             case Medium::DiskBuffered:
                                 return "DiskBuffered";
                             case Medium::DiskUnbuffered:
                                 return "DiskUnbuffered";
                             default:
                                 return "GrowableMemory";
                             }
                         });

TEST(RiffRead, DiskFileReadBackFindsWhatWasWritten) {
    lum::test::TempDir dir;
    std::string path = dir.File("back.riff");
    lum::test::WriteFile(path, ExpectedNested());
    MMIOINFO info{};
    HMMIO h = mmioOpen(path.c_str(), &info, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr) << info.wErrorRet;
    MMCKINFO riff{}, ck{};
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(FourCCText(riff.fccType), "TEST") << "form type 0 takes any form";
    ck.ckid = mmioStringToFOURCC("tail", 0);
    ASSERT_EQ(mmioDescend(h, &ck, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    char c = 0;
    EXPECT_EQ(mmioRead(h, &c, 1), 1);
    EXPECT_EQ(c, 'z');
    EXPECT_EQ(mmioAscend(h, &ck, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), mmioSeek(h, 0, SEEK_END)) << "past the pad byte";
    EXPECT_EQ(mmioCreateChunk(h, &ck, 0), MMIOERR_CANNOTWRITE) << "a read-only file";
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
}

TEST(FourCC, StringConversionPadsAndUpperCasesOnlyWhenAsked) {
    EXPECT_EQ(mmioStringToFOURCC("wave", 0), mmioFOURCC('w', 'a', 'v', 'e'));
    EXPECT_EQ(mmioStringToFOURCC("wave", MMIO_TOUPPER), mmioFOURCC('W', 'A', 'V', 'E'));
    EXPECT_EQ(mmioStringToFOURCC("ab", 0), mmioFOURCC('a', 'b', ' ', ' '));
    EXPECT_EQ(mmioStringToFOURCC("fmt extra", 0), mmioFOURCC('f', 'm', 't', ' '));
    EXPECT_EQ(mmioStringToFOURCC("", 0), mmioFOURCC(' ', ' ', ' ', ' '));
    EXPECT_EQ(mmioFOURCC('R', 'I', 'F', 'F'), 0x46464952u);
}

} // namespace
