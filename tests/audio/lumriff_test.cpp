// RIFF helpers: the INFO table, reading INFO lists and DISP chunks (with
// sizes that lie), the change rules, writing, copying.
#include <gtest/gtest.h>

#include "audio/lumriff.h"
#include "audio/wavetest.h"

namespace lum {
namespace {

using namespace platform::mmio;
using namespace test::wave;

FOURCC Id(const char* s) {
    return mmioFourCC(s[0], s[1], s[2], s[3]);
}

std::string Value(TInfoChunk* chunk, const char* id) {
    return std::string(RiffINFOValue(chunk, RiffFindPIINFO(chunk, Id(id))));
}

// Reads the first chunk of Image (a LIST/INFO) into a new INFO chunk.
struct ReadInfo {
    explicit ReadInfo(Bytes image) : bytes(std::move(image)) {
        EXPECT_EQ(RiffInitINFO(chunk), RIFFERR_NOERROR);
        h = OpenImage(bytes);
        MMCKINFO ck{};
        EXPECT_EQ(mmioDescend(h, &ck, nullptr, 0), MMSYSERR_NOERROR);
        result = RiffReadINFO(h, ck, chunk);
    }
    ~ReadInfo() {
        mmioClose(h, 0);
        RiffFreeINFO(chunk);
    }
    Bytes bytes;
    HMMIO h = nullptr;
    TInfoChunk* chunk = nullptr;
    int result = -1;
};

Bytes InfoList(const Bytes& items, std::int64_t size = -1) {
    return Form("LIST", "INFO", items, size);
}

TEST(RiffInfoTable, IdentifiersMatchByteForByteInTableOrder) {
    EXPECT_STREQ(aINFO[0].Id, "IARL");
    EXPECT_STREQ(aINFO[14].Name, "Name");
    EXPECT_STREQ(aINFO[22].Id, "ITCH");
    EXPECT_STREQ(aINFO[kINFOCount].Id, "");
    EXPECT_EQ(RiffFindaINFO(Id("ICMT")), 3);
    EXPECT_EQ(RiffFindaINFO(Id("icmt")), -1);
    EXPECT_EQ(RiffFindaINFO(Id("XXXX")), -1);
    EXPECT_EQ(mmioFourCC('a', 'b', 'c', 'd'), 0x64636261u);

    TInfoChunk* chunk = nullptr;
    ASSERT_EQ(RiffInitINFO(chunk), RIFFERR_NOERROR);
    int index = 0;
    for (TInfoData* item = chunk->First; item; item = item->Next, ++index) {
        EXPECT_EQ(item->Index, index);
        EXPECT_EQ(item->Flags, 0);
        EXPECT_EQ(item->Offset, 0u);
        EXPECT_EQ(item->Text, nullptr);
    }
    EXPECT_EQ(index, kINFOCount);
    EXPECT_EQ(RiffFreeINFO(chunk), RIFFERR_NOERROR);
    EXPECT_EQ(chunk, nullptr);
    EXPECT_EQ(RiffFreeINFO(chunk), RIFFERR_BADPARAM);
}

TEST(RiffReadInfo, KeepsKnownItemsAndSkipsOthersByTheirPaddedSize) {
    ReadInfo r(InfoList(Cat({Chunk("INAM", Text(std::string("Title\0", 6))),
                             Chunk("ZZZZ", Text("odd")), // 3 bytes and a pad byte
                             Chunk("IART", Text(std::string("Abcd\0", 5))),
                             Chunk("icmt", Text(std::string("lower\0", 6)))})));
    ASSERT_EQ(r.result, RIFFERR_NOERROR);
    EXPECT_EQ(Value(r.chunk, "INAM"), "Title");
    EXPECT_EQ(Value(r.chunk, "IART"), "Abcd");
    EXPECT_EQ(Value(r.chunk, "ICMT"), "");
    EXPECT_EQ(RiffFindPIINFO(r.chunk, Id("INAM"))->Offset, 8u);
    EXPECT_EQ(RiffFindPIINFO(r.chunk, Id("IART"))->Offset, 14u + 12u + 8u);
}

TEST(RiffReadInfo, ListOfFourBytesOrLessReadsNothing) {
    ReadInfo r(InfoList({}));
    EXPECT_EQ(r.result, RIFFERR_NOERROR);
    EXPECT_EQ(r.chunk->Data, nullptr);
    EXPECT_EQ(r.chunk->DataSize, 0);
}

TEST(RiffReadInfo, SizesThatLieStayInsideTheList) {
    // An item whose size runs past the list, a text without its zero at the
    // end, a text without its zero before the next item, and a header cut
    // short: every value ends inside its own item and the list.
    {
        ReadInfo r(InfoList(Cat({Chunk("INAM", Text("abc"), false, 1000)})));
        ASSERT_EQ(r.result, RIFFERR_NOERROR);
        EXPECT_EQ(Value(r.chunk, "INAM"), "abc");
    }
    {
        ReadInfo r(InfoList(Cat({Chunk("ICMT", Text("WXYZ")), Chunk("INAM", Text("next"))})));
        EXPECT_EQ(Value(r.chunk, "ICMT"), "WXYZ");
        EXPECT_EQ(Value(r.chunk, "INAM"), "next");
    }
    {
        ReadInfo r(InfoList(Cat({Chunk("INAM", Text(std::string("ok\0", 3))), Text("IAR")})));
        EXPECT_EQ(r.result, RIFFERR_NOERROR);
        EXPECT_EQ(Value(r.chunk, "INAM"), "ok");
        EXPECT_EQ(Value(r.chunk, "IART"), "");
    }
}

TEST(RiffReadInfo, SizesThatWouldWrapTheWalkEndIt) {
    // 0xFFFFFFF8 and 0xFFFFFFF7 bring a 32-bit offset back onto itself. The
    // item claims the rest of the list, so its text runs on to the next zero
    // in the list, and no item after it is found.
    for (std::uint32_t size : {0xFFFFFFF8u, 0xFFFFFFF7u}) {
        Bytes items = Chunk("IART", Text("xy"), false, size);
        ReadInfo r(InfoList(Cat({items, Chunk("INAM", Text(std::string("t\0", 2)))})));
        EXPECT_EQ(r.result, RIFFERR_NOERROR);
        EXPECT_EQ(Value(r.chunk, "IART"), "xyINAM\x02");
        EXPECT_EQ(Value(r.chunk, "INAM"), "");
    }
}

TEST(RiffReadInfo, BodyLargerThanTheFileIsAShortReadWithoutAllocation) {
    Bytes image = Cat({Text("LIST"), {0xF0, 0xFF, 0xFF, 0x7F}, Text("INFO"), Text("INAMxxxx")});
    ReadInfo r(image);
    EXPECT_EQ(r.result, RIFFERR_FILEIO);
    EXPECT_EQ(r.chunk->Data, nullptr);
}

class RiffModify : public ::testing::Test {
protected:
    RiffModify() : r(InfoList(Chunk("INAM", Text(std::string("File\0", 5))))) {}
    TInfoData* Item(const char* id) { return RiffFindPIINFO(r.chunk, Id(id)); }
    ReadInfo r;
};

TEST_F(RiffModify, SameTextAsTheFileChangesNothing) {
    RiffModifyINFO(r.chunk, Item("INAM"), 1, test::wave::HeapText("File"), 0);
    EXPECT_EQ(Item("INAM")->Text, nullptr);
    EXPECT_EQ(Item("INAM")->Flags, 0);
    EXPECT_EQ(Item("INAM")->Offset, 8u);
    RiffModifyINFO(r.chunk, Item("IART"), 1, test::wave::HeapText(""), 0);
    EXPECT_EQ(Item("IART")->Text, nullptr);
}

TEST_F(RiffModify, ProgramValueReplacesAndEmptyRemoves) {
    RiffModifyINFO(r.chunk, Item("IART"), 1, test::wave::HeapText("Set"), 0);
    EXPECT_EQ(Item("IART")->Flags, 1);
    EXPECT_EQ(Value(r.chunk, "IART"), "Set");
    RiffModifyINFO(r.chunk, Item("IART"), 1, test::wave::HeapText("Set"), 0);
    EXPECT_EQ(Value(r.chunk, "IART"), "Set");
    RiffModifyINFO(r.chunk, Item("IART"), 1, test::wave::HeapText(""), 0);
    EXPECT_EQ(Item("IART")->Flags, RIFF_FLAG_REMOVED);
    EXPECT_EQ(Item("IART")->Text, nullptr);
    EXPECT_EQ(Value(r.chunk, "IART"), "");
    // Without a text, only bit 1 of the flags removes a program value.
    RiffModifyINFO(r.chunk, Item("ICMT"), 1, test::wave::HeapText("c"), 0);
    RiffModifyINFO(r.chunk, Item("ICMT"), 1, nullptr, 0);
    EXPECT_EQ(Value(r.chunk, "ICMT"), "c");
    RiffModifyINFO(r.chunk, Item("ICMT"), 2, nullptr, 0);
    EXPECT_EQ(Value(r.chunk, "ICMT"), "");
}

TEST_F(RiffModify, RemovedFileValueIsNotWrittenUntilSetAgain) {
    // Over a file value: a program value, then removal. The file's text must
    // not come back in what is written.
    RiffModifyINFO(r.chunk, Item("INAM"), 1, test::wave::HeapText("New"), 0);
    RiffModifyINFO(r.chunk, Item("INAM"), 1, test::wave::HeapText(""), 0);
    EXPECT_EQ(Value(r.chunk, "INAM"), "");
    HMMIO out = NewImage();
    EXPECT_EQ(RiffWriteINFO(out, r.chunk), RIFFERR_NOERROR);
    EXPECT_TRUE(ImageBytes(out).empty());
    mmioClose(out, 0);
    RiffModifyINFO(r.chunk, Item("INAM"), 1, test::wave::HeapText("File"), 0);
    EXPECT_EQ(Value(r.chunk, "INAM"), "File");
    EXPECT_EQ(Item("INAM")->Flags, RIFF_FLAG_FILE);
}

TEST_F(RiffModify, TextForNoItemIsTakenAndFreed) {
    // LeakSanitizer fails the run if the handed-over text is kept nowhere.
    RiffModifyINFO(r.chunk, nullptr, 1, test::wave::HeapText("lost?"), 0);
    TInfoChunk* empty = static_cast<TInfoChunk*>(GlobalAllocMem(sizeof(TInfoChunk)));
    TInfoChunk* src = r.chunk;
    EXPECT_EQ(RiffCopyInfo(empty, src), RIFFERR_NOERROR); // no items to receive the copies
    GlobalFreeMem(empty);
}

TEST(RiffWriteInfo, ItemsInTableOrderWithZeroAndPad) {
    TInfoChunk* chunk = nullptr;
    ASSERT_EQ(RiffInitINFO(chunk), RIFFERR_NOERROR);
    RiffModifyINFO(chunk, RiffFindPIINFO(chunk, Id("INAM")), 1, test::wave::HeapText("Hi"), 0);
    RiffModifyINFO(chunk, RiffFindPIINFO(chunk, Id("ICMT")), 1, test::wave::HeapText("abcd"), 0);
    HMMIO out = NewImage();
    ASSERT_EQ(RiffWriteINFO(out, chunk), RIFFERR_NOERROR);
    const Bytes expected = InfoList(Cat({Chunk("ICMT", Text(std::string("abcd\0", 5))),
                                         Chunk("INAM", Text(std::string("Hi\0", 3)))}));
    EXPECT_EQ(ImageBytes(out), expected);
    mmioClose(out, 0);

    // Read back through the reader.
    ReadInfo back(expected);
    EXPECT_EQ(Value(back.chunk, "ICMT"), "abcd");
    EXPECT_EQ(Value(back.chunk, "INAM"), "Hi");

    // Copies take values with program flags; an equal file value stays.
    ReadInfo dst(InfoList(Chunk("INAM", Text(std::string("Hi\0", 3)))));
    TInfoChunk* target = dst.chunk;
    ASSERT_EQ(RiffCopyInfo(target, chunk), RIFFERR_NOERROR);
    EXPECT_EQ(RiffFindPIINFO(dst.chunk, Id("INAM"))->Flags, 0);
    EXPECT_EQ(RiffFindPIINFO(dst.chunk, Id("ICMT"))->Flags, 1);
    EXPECT_EQ(Value(dst.chunk, "ICMT"), "abcd");
    TInfoChunk* none = nullptr;
    EXPECT_EQ(RiffCopyInfo(none, chunk), RIFFERR_BADPARAM);
    RiffFreeINFO(chunk);
}

TEST(RiffWriteInfo, NoValuesWriteNoList) {
    TInfoChunk* chunk = nullptr;
    ASSERT_EQ(RiffInitINFO(chunk), RIFFERR_NOERROR);
    HMMIO out = NewImage();
    EXPECT_EQ(RiffWriteINFO(out, chunk), RIFFERR_NOERROR);
    EXPECT_TRUE(ImageBytes(out).empty());
    EXPECT_EQ(RiffWriteINFO(out, nullptr), RIFFERR_BADPARAM);
    EXPECT_EQ(RiffWriteINFO(nullptr, chunk), RIFFERR_BADPARAM);
    mmioClose(out, 0);
    RiffFreeINFO(chunk);
}

// ---------------------------------------------------------------------------
// DISP

Bytes Disp(std::uint32_t format, const Bytes& payload, std::int64_t size = -1) {
    Bytes body;
    PutLE(body, format, 4);
    body.insert(body.end(), payload.begin(), payload.end());
    return Chunk("DISP", body, true, size);
}

Bytes DibHeader(std::uint32_t sizeImage) {
    Bytes b;
    PutLE(b, 40, 4);
    PutLE(b, 1, 4); // width
    PutLE(b, 1, 4); // height
    PutLE(b, 1, 2);
    PutLE(b, 24, 2);
    PutLE(b, 0, 4);
    PutLE(b, sizeImage, 4);
    for (int i = 0; i < 4; ++i) // resolution and colour counts
        PutLE(b, 0, 4);
    return b;
}

// Reads every DISP chunk of Image into a list.
struct ReadDisp {
    explicit ReadDisp(Bytes image) : bytes(std::move(image)) {
        EXPECT_EQ(RiffInitDISP(list), RIFFERR_NOERROR);
        h = OpenImage(bytes);
        MMCKINFO ck{};
        while (mmioDescend(h, &ck, nullptr, 0) == MMSYSERR_NOERROR) {
            results.push_back(RiffReadDISP(h, ck, list));
            if (mmioAscend(h, &ck, 0) != MMSYSERR_NOERROR) break;
        }
    }
    ~ReadDisp() {
        mmioClose(h, 0);
        RiffFreeDISP(list, true);
    }
    Bytes Written() {
        HMMIO out = NewImage();
        EXPECT_EQ(RiffWriteDISP(out, list), RIFFERR_NOERROR);
        Bytes b = ImageBytes(out);
        mmioClose(out, 0);
        return b;
    }
    std::size_t Count() const {
        std::size_t n = 0;
        for (TDisp* d = list->First; d; d = d->Next)
            ++n;
        return n;
    }
    Bytes bytes;
    HMMIO h = nullptr;
    TDispList* list = nullptr;
    std::vector<int> results;
};

TEST(RiffDisp, TextAndBitmapRoundTripOtherFormatsAreKeptButNotWritten) {
    const Bytes dib = Cat({DibHeader(4), {1, 2, 3, 0}});
    const Bytes text = Disp(1, Text(std::string("hello\0", 6)));
    ReadDisp r(Cat({text, Disp(2, Text("meta")), Disp(8, dib), Disp(1, {0xAB}, 1)}));
    EXPECT_EQ(r.results, (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(r.Count(), 3u); // the chunk of one byte had no payload
    EXPECT_EQ(r.Written(), Cat({text, Disp(8, dib)}));

    TDispList* copy = nullptr;
    ASSERT_EQ(RiffInitDISP(copy), RIFFERR_NOERROR);
    ASSERT_EQ(RiffCopyDISP(copy, r.list), RIFFERR_NOERROR);
    std::vector<DWORD> formats;
    for (TDisp *d = copy->First, *s = r.list->First; d && s; d = d->Next, s = s->Next) {
        formats.push_back(d->ClipFormat);
        EXPECT_EQ(d->FileData, nullptr);
        EXPECT_EQ(d->Flags, RIFF_FLAG_PROGRAM);
        const std::size_t size = GlobalMemSize(s->FileData);
        ASSERT_EQ(GlobalMemSize(d->NewData), size);
        EXPECT_EQ(std::memcmp(d->NewData, s->FileData, size), 0);
    }
    EXPECT_EQ(formats, (std::vector<DWORD>{1, 2, 8}));
    EXPECT_EQ(RiffCopyDISP(nullptr, r.list), RIFFERR_BADPARAM);
    RiffFreeDISP(copy, true);
}

TEST(RiffDisp, PayloadsShorterThanTheyClaimAreBoundedOnWriting) {
    // A text without its zero is written with one; a bitmap whose header
    // claims more bits than the chunk holds is not written at all.
    ReadDisp r(Cat({Disp(1, Text("abc")), Disp(8, Cat({DibHeader(1000), {9, 9, 9, 9}}))}));
    EXPECT_EQ(r.Count(), 2u);
    EXPECT_EQ(r.Written(), Disp(1, Text(std::string("abc\0", 4))));
}

TEST(RiffDisp, ChunkLargerThanTheFileIsAShortRead) {
    ReadDisp r(Cat({Text("DISP"), {0xF0, 0xFF, 0xFF, 0x7F}, {1, 0, 0, 0}, Text("xy")}));
    EXPECT_EQ(r.results, (std::vector<int>{RIFFERR_FILEIO}));
    EXPECT_EQ(r.Count(), 0u);
}

TEST(RiffDisp, ModifyComparesWholeBlocks) {
    ReadDisp r(Disp(1, Text(std::string("same\0", 5))));
    TDisp* d = r.list->First;
    RiffModifyDISP(r.list, d, 1, HeapBytes(Text(std::string("same\0", 5))));
    EXPECT_EQ(d->NewData, nullptr);
    EXPECT_EQ(d->Flags, 0);
    // The same text in a larger block is another payload.
    RiffModifyDISP(r.list, d, 1, HeapBytes(Text(std::string("same\0\0", 6))));
    ASSERT_NE(d->NewData, nullptr);
    EXPECT_EQ(d->Flags, 1);
    RiffModifyDISP(r.list, d, 1, HeapBytes(Text(std::string("other\0", 6))));
    EXPECT_STREQ(static_cast<const char*>(d->NewData), "other");
    RiffModifyDISP(r.list, d, 1, HeapBytes({0}));
    EXPECT_EQ(d->NewData, nullptr);
    EXPECT_EQ(d->Flags, RIFF_FLAG_REMOVED);
    EXPECT_TRUE(r.Written().empty());
    RiffModifyDISP(r.list, nullptr, 1, HeapBytes({1, 2})); // freed, not leaked
}

// ---------------------------------------------------------------------------
// Chunk copies

TEST(RiffCopy, ChunksAndListsArriveWhole) {
    Bytes src = Cat({Chunk("abcd", Text("12345")), Form("LIST", "adtl", Chunk("note", Text("n")))});
    HMMIO in = OpenImage(src);
    HMMIO out = NewImage();
    MMCKINFO ck{};
    ASSERT_EQ(mmioDescend(in, &ck, nullptr, 0), MMSYSERR_NOERROR);
    EXPECT_TRUE(RiffCopyChunk(in, out, ck));
    ASSERT_EQ(mmioAscend(in, &ck, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioDescend(in, &ck, nullptr, 0), MMSYSERR_NOERROR);
    EXPECT_TRUE(RiffCopyList(in, out, ck));
    EXPECT_EQ(ImageBytes(out), src);
    mmioClose(in, 0);
    mmioClose(out, 0);
}

TEST(RiffCopy, ChunksClaimingMoreThanTheyHoldFail) {
    Bytes src = Cat({Text("abcd"), {0x00, 0x00, 0x00, 0x40}, Text("xy")});
    HMMIO in = OpenImage(src);
    HMMIO out = NewImage();
    MMCKINFO ck{};
    ASSERT_EQ(mmioDescend(in, &ck, nullptr, 0), MMSYSERR_NOERROR);
    EXPECT_FALSE(RiffCopyChunk(in, out, ck));
    MMCKINFO list{};
    list.ckid = FOURCC_LIST;
    list.cksize = 3;
    EXPECT_FALSE(RiffCopyList(in, out, list));
    mmioClose(in, 0);
    mmioClose(out, 0);
}

} // namespace
} // namespace lum
