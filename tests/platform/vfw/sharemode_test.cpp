// Share modes between opens of one file, in this process and another.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "avi_fixtures.h"

using namespace lum::vfwtest;

namespace {

HRESULT TryOpen(const std::string& path, UINT mode, PAVIFILE* keep = nullptr) {
    PAVIFILE f = nullptr;
    HRESULT hr = AVIFileOpen(&f, path, mode);
    if (keep)
        *keep = f;
    else if (f)
        AVIFileRelease(f);
    return hr;
}

// Opens in a child process: the exit status is 0 when the open worked.
int OpenInChild(const std::string& path, UINT mode) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(TryOpen(path, mode) == AVIERR_OK ? 0 : 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(ShareMode, ExclusiveDenyWriteAndDenyNone) {
    lum::test::TempDir dir;
    std::string path = dir.File("s.avi");
    WriteTestAvi(path, 3, false);
    PAVIFILE held = nullptr;

    ASSERT_EQ(TryOpen(path, OF_READ | OF_SHARE_EXCLUSIVE, &held), AVIERR_OK);
    EXPECT_EQ(TryOpen(path, OF_READ | OF_SHARE_DENY_NONE), AVIERR_FILEOPEN);
    EXPECT_EQ(OpenInChild(path, OF_READ | OF_SHARE_DENY_NONE), 1);
    AVIFileRelease(held);
    EXPECT_EQ(OpenInChild(path, OF_READ | OF_SHARE_DENY_NONE), 0); // closing ends the lock

    ASSERT_EQ(TryOpen(path, OF_READ | OF_SHARE_DENY_WRITE, &held), AVIERR_OK);
    EXPECT_EQ(TryOpen(path, OF_READ | OF_SHARE_DENY_WRITE), AVIERR_OK);
    EXPECT_EQ(TryOpen(path, OF_READWRITE | OF_SHARE_DENY_NONE), AVIERR_FILEOPEN);
    EXPECT_EQ(OpenInChild(path, OF_READ | OF_SHARE_DENY_NONE), 0);
    EXPECT_EQ(OpenInChild(path, OF_WRITE | OF_SHARE_DENY_NONE), 1);
    // Creating over the file is writing too, and must not truncate it.
    auto before = lum::test::ReadFile(path).size();
    EXPECT_EQ(TryOpen(path, OF_CREATE | OF_READWRITE | OF_SHARE_DENY_NONE), AVIERR_FILEOPEN);
    EXPECT_EQ(lum::test::ReadFile(path).size(), before);
    AVIFileRelease(held);

    ASSERT_EQ(TryOpen(path, OF_READWRITE | OF_SHARE_DENY_NONE, &held), AVIERR_OK);
    EXPECT_EQ(TryOpen(path, OF_READ | OF_SHARE_DENY_NONE), AVIERR_OK);
    EXPECT_EQ(TryOpen(path, OF_READ | OF_SHARE_DENY_WRITE), AVIERR_FILEOPEN); // a writer is there
    EXPECT_EQ(TryOpen(path, OF_READ | OF_SHARE_EXCLUSIVE), AVIERR_FILEOPEN);
    AVIFileRelease(held);

    // A stream keeps its file open, and so its share mode.
    PAVISTREAM s = nullptr;
    ASSERT_EQ(AVIStreamOpenFromFile(&s, path, 0, 0, OF_READ | OF_SHARE_EXCLUSIVE), AVIERR_OK);
    EXPECT_EQ(OpenInChild(path, OF_READ | OF_SHARE_DENY_NONE), 1);
    EXPECT_EQ(AVIStreamLength(s), 3);
    AVIStreamRelease(s);
    EXPECT_EQ(OpenInChild(path, OF_READ | OF_SHARE_DENY_NONE), 0);
}

TEST(ShareMode, BadModesAndMissingFiles) {
    lum::test::TempDir dir;
    EXPECT_EQ(TryOpen(dir.File("none.avi"), OF_READ | OF_SHARE_DENY_NONE), AVIERR_FILEOPEN);
    EXPECT_EQ(TryOpen(dir.File("x.avi"), 0x3 | OF_SHARE_DENY_NONE), AVIERR_BADFLAGS);
    EXPECT_EQ(TryOpen(dir.File("x.avi"), OF_READ | 0x50), AVIERR_BADFLAGS);
    EXPECT_EQ(TryOpen(dir.Path().string(), OF_READ | OF_SHARE_DENY_NONE), AVIERR_FILEOPEN);
}

TEST(VideoClipboard, HoldsOneFileWithAReference) {
    lum::test::TempDir dir;
    std::string path = dir.File("c.avi");
    WriteTestAvi(path, 2, false);
    PAVIFILE f = nullptr, got = nullptr;
    ASSERT_EQ(AVIFileOpen(&f, path, OF_READ | OF_SHARE_EXCLUSIVE), AVIERR_OK);
    ASSERT_EQ(AVIPutFileOnClipboard(f), AVIERR_OK);
    AVIFileRelease(f);
    EXPECT_EQ(OpenInChild(path, OF_READ | OF_SHARE_DENY_NONE), 1); // still open: on the clipboard
    ASSERT_EQ(AVIGetFromClipboard(&got), AVIERR_OK);
    EXPECT_EQ(got, f);
    AVIFileRelease(got);
    AVIClearClipboard();
    EXPECT_EQ(AVIGetFromClipboard(&got), AVIERR_NODATA);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(OpenInChild(path, OF_READ | OF_SHARE_DENY_NONE), 0);
}
