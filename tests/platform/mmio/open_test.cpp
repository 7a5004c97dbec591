// Opening: access modes and their errors, the name actions (parse, exist,
// delete) and program resources.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "mmio_helpers.h"
#include "platform/base/resources.h"
#include "support/testutil.h"

using namespace lum::test::mmio;
namespace fs = std::filesystem;

namespace {

TEST(Open, ModesAllowOnlyWhatTheyName) {
    lum::test::TempDir dir;
    const std::string path = dir.File("m.bin");
    lum::test::WriteFile(path, Text("old contents"));
    char c = 0;
    HMMIO h = mmioOpen(path.c_str(), nullptr, MMIO_READ);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioWrite(h, "x", 1), -1);
    MMCKINFO ck{};
    EXPECT_EQ(mmioCreateChunk(h, &ck, 0), MMIOERR_CANNOTWRITE);
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
}

TEST(Open, FailuresNameTheirCause) {
    lum::test::TempDir dir;
    const std::string file = dir.File("ok.bin");
    lum::test::WriteFile(file, Text("x"));
    struct Case {
        std::string name;
        DWORD flags;
        FOURCC proc;
        LONG buffer;
        MMRESULT error;
    } cases[] = {
        {dir.File("missing.wav"), MMIO_READ, 0, 0, MMIOERR_FILENOTFOUND},
        {dir.File("no/such/dir.wav"), MMIO_READ, 0, 0, MMIOERR_PATHNOTFOUND},
        {dir.Path().string(), MMIO_READ, 0, 0, MMIOERR_ACCESSDENIED},
        {"", MMIO_READ, 0, 0, MMIOERR_CANNOTOPEN},
        {file, MMIO_READ | MMIO_ALLOCBUF, 0, -5, MMSYSERR_INVALPARAM},
        {file, MMIO_WRITE | MMIO_READWRITE, 0, 0, MMSYSERR_INVALFLAG},
        {file, MMIO_READ, mmioFOURCC('Z', 'I', 'P', ' '), 0, MMSYSERR_NOTSUPPORTED},
    };
    for (const Case& c : cases) {
        MMIOINFO info{};
        info.fccIOProc = c.proc;
        info.cchBuffer = c.buffer;
        EXPECT_EQ(mmioOpen(c.name.c_str(), &info, c.flags), nullptr) << c.name;
        EXPECT_EQ(info.wErrorRet, c.error) << c.name;
    }
}

TEST(NameActions, ParseExistAndDelete) {
    lum::test::TempDir dir;
    const fs::path old = fs::current_path();
    fs::current_path(dir.Path());
    lum::test::WriteFile("here.wav", Text("RIFF"));
    const std::string full = (fs::current_path() / "here.wav").string();

    char name[MMIO_MAXPATH] = "sub/../here.wav";
    HMMIO notAHandle = mmioOpen(name, nullptr, MMIO_PARSE);
    ASSERT_NE(notAHandle, nullptr);
    EXPECT_EQ(mmioClose(notAHandle, 0), MMSYSERR_INVALHANDLE) << "true, but not a handle";
    EXPECT_EQ(std::string(name), full);
    std::string text = "./here.wav";
    EXPECT_NE(mmioOpen(text, nullptr, MMIO_PARSE), nullptr);
    EXPECT_EQ(text, full);
    char small[8] = "a.wav"; // too small for the full path: refused, untouched
    MMIOINFO info{};
    EXPECT_EQ(mmioOpen(small, &info, MMIO_PARSE, sizeof small), nullptr);
    EXPECT_EQ(info.wErrorRet, MMSYSERR_INVALPARAM);
    EXPECT_STREQ(small, "a.wav");
    EXPECT_EQ(mmioOpen("constant.wav", &info, MMIO_PARSE), nullptr) << "nowhere to write";

    EXPECT_NE(mmioOpen("here.wav", nullptr, MMIO_EXIST), nullptr);
    EXPECT_EQ(mmioOpen("gone.wav", nullptr, MMIO_EXIST), nullptr);
    EXPECT_EQ(mmioOpen(".", nullptr, MMIO_EXIST), nullptr) << "a folder is not a file";
    EXPECT_NE(mmioOpen("here.wav", nullptr, MMIO_DELETE), nullptr);
    EXPECT_FALSE(fs::exists(full));
    EXPECT_EQ(mmioOpen("here.wav", &info, MMIO_DELETE), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
    fs::current_path(old);
}

TEST(Resources, OpenAsReadOnlyMemoryImages) {
    std::span<const std::byte> table = FindResource(RT_STRINGTABLE, "messages");
    ASSERT_FALSE(table.empty()) << "the program carries its message table";
    MMIOINFO info{};
    info.fccIOProc = FOURCC_RES;
    HMMIO h = mmioOpen("STRINGTABLE/messages", &info, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr) << info.wErrorRet;
    std::vector<std::byte> bytes(table.size() + 10);
    EXPECT_EQ(mmioRead(h, bytes.data(), LONG(bytes.size())), LONG(table.size()));
    EXPECT_EQ(std::memcmp(bytes.data(), table.data(), table.size()), 0);
    EXPECT_EQ(mmioWrite(h, "x", 1), -1);
    EXPECT_EQ(mmioSeek(h, 1, SEEK_END), -1) << "not past the end of a read-only image";
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);

    info.fccIOProc = FOURCC_RES;
    EXPECT_EQ(mmioOpen("STRINGTABLE/messages", &info, MMIO_READWRITE), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_ACCESSDENIED);
    EXPECT_EQ(mmioOpen("no-such-sound", &info, MMIO_READ), nullptr) << "type WAVE by default";
    EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
}

} // namespace
