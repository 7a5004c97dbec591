// Opening: access modes and their errors, the name actions (parse, exist,
// delete), program resources, and handles that are not (or no longer) open.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "mmio_helpers.h"
#include "platform/base/resources.h"
#include "platform/mmio/mmio.h"
#include "support/testutil.h"

using namespace lum::platform;
using namespace lum::platform::mmio;
using namespace lum::test::mmio;
namespace fs = std::filesystem;

namespace {

TEST(Open, ModesAllowOnlyWhatTheyName) {
    lum::test::TempDir dir;
    std::string path = dir.File("m.bin");
    lum::test::WriteFile(path, Text("old contents"));
    char c = 0;

    HMMIO h = mmioOpen(path.c_str(), nullptr, MMIO_READ);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioWrite(h, "x", 1), -1);
    EXPECT_EQ(mmioRead(h, &c, 1), 1);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);

    h = mmioOpen(path.c_str(), nullptr, MMIO_WRITE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioRead(h, &c, 1), -1);
    EXPECT_EQ(mmioWrite(h, "NEW", 3), 3);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(lum::test::ReadFile(path), Text("NEW contents")) << "writing does not truncate";

    h = mmioOpen(path.c_str(), nullptr, MMIO_CREATE | MMIO_WRITE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_END), 0) << "creating truncates";
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);

    MMIOINFO info{};
    EXPECT_EQ(mmioOpen(path.c_str(), &info, MMIO_WRITE | MMIO_READWRITE), nullptr);
    EXPECT_EQ(info.wErrorRet, MMSYSERR_INVALFLAG);
    info.fccIOProc = mmioFOURCC('Z', 'I', 'P', ' ');
    EXPECT_EQ(mmioOpen(path.c_str(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.wErrorRet, MMSYSERR_NOTSUPPORTED);
}

TEST(Open, FailuresNameTheirCause) {
    lum::test::TempDir dir;
    MMIOINFO info{};
    EXPECT_EQ(mmioOpen(dir.File("missing.wav").c_str(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
    EXPECT_EQ(mmioOpen(dir.File("no/such/dir.wav").c_str(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_PATHNOTFOUND);
    EXPECT_EQ(mmioOpen(dir.Path().c_str(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_ACCESSDENIED);
    EXPECT_EQ(mmioOpen("", &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_CANNOTOPEN);
    std::string path = dir.File("ok.bin");
    lum::test::WriteFile(path, Text("x"));
    info.cchBuffer = -5;
    EXPECT_EQ(mmioOpen(path.c_str(), &info, MMIO_READ | MMIO_ALLOCBUF), nullptr);
    EXPECT_EQ(info.wErrorRet, MMSYSERR_INVALPARAM);
}

TEST(NameActions, ParseExistAndDelete) {
    lum::test::TempDir dir;
    fs::path old = fs::current_path();
    fs::current_path(dir.Path());
    lum::test::WriteFile("here.wav", Text("RIFF"));
    const std::string full = (fs::current_path() / "here.wav").string();

    char name[MMIO_MAXPATH] = "sub/../here.wav";
    EXPECT_NE(mmioOpen(name, nullptr, MMIO_PARSE), nullptr);
    EXPECT_EQ(std::string(name), full);
    std::string text = "./here.wav";
    EXPECT_NE(mmioOpen(text, nullptr, MMIO_PARSE), nullptr);
    EXPECT_EQ(text, full);
    // Too small a buffer is refused and left untouched.
    char small[8] = "a.wav";
    MMIOINFO info{};
    EXPECT_EQ(mmioOpen(small, &info, MMIO_PARSE, sizeof small), nullptr);
    EXPECT_EQ(info.wErrorRet, MMSYSERR_INVALPARAM);
    EXPECT_STREQ(small, "a.wav");
    EXPECT_EQ(mmioOpen("constant.wav", &info, MMIO_PARSE), nullptr) << "nowhere to write";

    EXPECT_NE(mmioOpen("here.wav", nullptr, MMIO_EXIST), nullptr);
    EXPECT_EQ(mmioOpen("gone.wav", nullptr, MMIO_EXIST), nullptr);
    EXPECT_EQ(mmioOpen(dir.Path().c_str(), nullptr, MMIO_EXIST), nullptr) << "a folder";
    EXPECT_NE(mmioOpen("here.wav", nullptr, MMIO_DELETE), nullptr);
    EXPECT_FALSE(fs::exists(full));
    EXPECT_EQ(mmioOpen("here.wav", &info, MMIO_DELETE), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
    fs::current_path(old);
}

TEST(Handles, OnlyOpenHandlesAreFollowed) {
    EXPECT_EQ(mmioClose(nullptr, 0), MMSYSERR_INVALHANDLE);
    char name[MMIO_MAXPATH] = "x";
    HMMIO notAHandle = mmioOpen(name, nullptr, MMIO_PARSE);
    ASSERT_NE(notAHandle, nullptr);
    EXPECT_EQ(mmioClose(notAHandle, 0), MMSYSERR_INVALHANDLE);
    char byte = 0;
    EXPECT_EQ(mmioRead(notAHandle, &byte, 1), -1);
    MMCKINFO ck{};
    EXPECT_EQ(mmioDescend(notAHandle, &ck, nullptr, 0), MMSYSERR_INVALHANDLE);

    Bytes image = Text("abc");
    MMIOINFO info = MemoryInfo(image);
    HMMIO h = mmioOpen(nullptr, &info, MMIO_READ);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioDescend(h, nullptr, nullptr, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mmioSeek(h, 0, 7), -1) << "no such origin";
    EXPECT_EQ(mmioSeek(h, -1, SEEK_SET), -1);
    EXPECT_EQ(mmioRead(h, &byte, -1), -1);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_SET), -1);
}

TEST(Resources, OpenReadOnlyAsMemoryImages) {
    std::span<const std::byte> table = FindResource(RT_STRINGTABLE, "messages");
    ASSERT_FALSE(table.empty()) << "the program carries its message table";
    MMIOINFO info{};
    info.fccIOProc = FOURCC_RES;
    HMMIO h = mmioOpen("STRINGTABLE/messages", &info, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr) << info.wErrorRet;
    EXPECT_EQ(mmioSeek(h, 0, SEEK_END), LONG(table.size()));
    ASSERT_EQ(mmioSeek(h, 0, SEEK_SET), 0);
    std::vector<std::byte> bytes(table.size() + 10);
    EXPECT_EQ(mmioRead(h, bytes.data(), LONG(bytes.size())), LONG(table.size()));
    EXPECT_EQ(std::memcmp(bytes.data(), table.data(), table.size()), 0);
    EXPECT_EQ(mmioWrite(h, "x", 1), -1);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);

    EXPECT_EQ(mmioOpen("STRINGTABLE/messages", &info, MMIO_READWRITE), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_ACCESSDENIED);
    EXPECT_EQ(mmioOpen("no-such-sound", &info, MMIO_READ), nullptr) << "type WAVE by default";
    EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
}

} // namespace
