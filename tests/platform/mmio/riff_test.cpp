// Writing and reading RIFF structures: nested forms, pad bytes, sizes fixed
// on ascent, and finding chunks, on disk files and on memory images.
#include <gtest/gtest.h>

#include "mmio_helpers.h"

using namespace lum::test::mmio;

namespace {

class RiffRoundTrip : public ::testing::TestWithParam<Medium> {
protected:
    NewFile file_{GetParam()};
};

void WriteChunk(HMMIO h, const char* id, const std::string& body, DWORD presetSize = 0) {
    MMCKINFO ck{mmioStringToFOURCC(id, 0), presetSize, 0, 0, 0};
    ASSERT_EQ(mmioCreateChunk(h, &ck, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(h, body.data(), LONG(body.size())), LONG(body.size()));
    ASSERT_EQ(mmioAscend(h, &ck, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(ck.cksize, body.size());
}

const Bytes kNested =
    Form("RIFF", "TEST",
         {Chunk("odd1", Text("abc")),
          Form("LIST", "INFO", {Chunk("INAM", Text("x")), Chunk("ICMT", Text("hello"))}),
          Chunk("data", Text("0123456789ABCDEFGHIJ")), Chunk("tail", Text("z"))});

TEST_P(RiffRoundTrip, NestedFormsArePaddedAndSizedExactly) {
    HMMIO h = file_.Open();
    ASSERT_NE(h, nullptr);
    MMCKINFO riff{0, 0, mmioStringToFOURCC("TEST", 0), 0, 0};
    MMCKINFO list{0, 0, mmioStringToFOURCC("INFO", 0), 0, 0};
    ASSERT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERIFF), MMSYSERR_NOERROR);
    WriteChunk(h, "odd1", "abc");
    ASSERT_EQ(mmioCreateChunk(h, &list, MMIO_CREATELIST), MMSYSERR_NOERROR);
    WriteChunk(h, "INAM", "x");
    WriteChunk(h, "ICMT", "hello", 999); // a wrong preset size is corrected
    ASSERT_EQ(mmioAscend(h, &list, 0), MMSYSERR_NOERROR);
    WriteChunk(h, "data", "0123456789ABCDEFGHIJ");
    WriteChunk(h, "tail", "z");
    ASSERT_EQ(mmioAscend(h, &riff, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.cksize + 8, mmioSeek(h, 0, SEEK_CUR));
    EXPECT_EQ(file_.Close(h), kNested);
}

TEST_P(RiffRoundTrip, DescendFindsChunksByIdentifierAndFormType) {
    HMMIO h = file_.Open();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(mmioWrite(h, kNested.data(), LONG(kNested.size())), LONG(kNested.size()));
    ASSERT_EQ(mmioSeek(h, 0, SEEK_SET), 0);
    MMCKINFO riff{0, 0, mmioStringToFOURCC("WAVE", 0), 0, 0}, list{}, ck{};
    EXPECT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 0) << "a failed search leaves the position";
    riff.fccType = 0; // any form
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(FourCCText(riff.fccType), "TEST");
    EXPECT_EQ(riff.dwDataOffset, 8u);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 12) << "positioned after the form type";

    // "data" lies after the odd chunk's pad byte and the whole list.
    ck.ckid = mmioStringToFOURCC("data", 0);
    ASSERT_EQ(mmioDescend(h, &ck, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    char body[21] = {};
    EXPECT_EQ(mmioRead(h, body, 20), 20);
    EXPECT_STREQ(body, "0123456789ABCDEFGHIJ");
    ASSERT_EQ(mmioAscend(h, &ck, 0), MMSYSERR_NOERROR);
    ck.ckid = mmioStringToFOURCC("odd1", 0);
    EXPECT_EQ(mmioDescend(h, &ck, &riff, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND) << "forward only";

    ASSERT_EQ(mmioSeek(h, 12, SEEK_SET), 12);
    list.fccType = mmioStringToFOURCC("INFO", 0);
    ASSERT_EQ(mmioDescend(h, &list, &riff, MMIO_FINDLIST), MMSYSERR_NOERROR);
    ck.ckid = mmioStringToFOURCC("data", 0);
    EXPECT_EQ(mmioDescend(h, &ck, &list, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND)
        << "the parent bounds the search";
    ASSERT_EQ(mmioSeek(h, 12, SEEK_SET), 12);
    EXPECT_EQ(WalkChunks(h, riff), "odd1:3 LIST/INFO:28[INAM:1 ICMT:5] data:20 tail:1|" +
                                       std::to_string(MMIOERR_CHUNKNOTFOUND));
    file_.Close(h);
}

// The wave layer finishes a file it appended to by marking both chunks dirty
// with size 0 and ascending from the new end.
TEST_P(RiffRoundTrip, DirtyChunksOfAnExistingFileGetTheirTrueSizes) {
    HMMIO h = file_.Open();
    ASSERT_NE(h, nullptr);
    Bytes file = Form("RIFF", "WAVE", {Chunk("fmt ", Bytes(16, 1)), Chunk("data", Text("1234"))});
    ASSERT_EQ(mmioWrite(h, file.data(), LONG(file.size())), LONG(file.size()));
    ASSERT_EQ(mmioSeek(h, 0, SEEK_SET), 0);
    MMCKINFO riff{}, data{mmioStringToFOURCC("data", 0), 0, 0, 0, 0};
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioDescend(h, &data, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioSeek(h, 4, SEEK_CUR), 48);
    ASSERT_EQ(mmioWrite(h, "567", 3), 3);
    data.cksize = riff.cksize = 0;
    data.dwFlags = riff.dwFlags = MMIO_DIRTY;
    ASSERT_EQ(mmioAscend(h, &data, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(h, &riff, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(file_.Close(h),
              Form("RIFF", "WAVE", {Chunk("fmt ", Bytes(16, 1)), Chunk("data", Text("1234567"))}));
}

INSTANTIATE_TEST_SUITE_P(Media, RiffRoundTrip, kAllMedia);

TEST(FourCC, StringConversionPadsAndUpperCasesOnlyWhenAsked) {
    EXPECT_EQ(mmioStringToFOURCC("wave", 0), mmioFOURCC('w', 'a', 'v', 'e'));
    EXPECT_EQ(mmioStringToFOURCC("wave", MMIO_TOUPPER), mmioFOURCC('W', 'A', 'V', 'E'));
    EXPECT_EQ(mmioStringToFOURCC("ab", 0), mmioFOURCC('a', 'b', ' ', ' '));
    EXPECT_EQ(mmioStringToFOURCC("fmt extra", 0), mmioFOURCC('f', 'm', 't', ' '));
}

} // namespace
