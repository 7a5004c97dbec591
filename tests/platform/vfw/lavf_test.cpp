// The libavformat handler takes over where the AVI, WAV and AU handlers do
// not, and only for content libavformat knows as a container of its own
// data: text and noise stay unsupported, and lists that name other files to
// be read (concatenation lists, playlists) are refused, not followed.
// (Files made by ffmpeg are checked in tests/interop.)
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "avi_fixtures.h"
#include "support/testutil.h"

using namespace lum::vfwtest;

namespace {

void WriteText(const std::string& path, const std::string& text) {
    lum::test::WriteFile(path, Bytes(text.begin(), text.end()));
}

} // namespace

TEST(LavfHandler, RefusesWhatItMustNotRead) {
    lum::test::TempDir dir;
    // The file the lists name: an AVI the service reads.
    WriteTestAvi(dir.File("clip.avi"), 4, false);
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIFileOpen(&f, dir.File("clip.avi"), OF_READ), AVIERR_OK);
    AVIFileRelease(f);

    WriteText(dir.File("notes.txt"), "Shopping: milk, eggs, 12 apples.\nCall Anna at 5.\n");
    std::mt19937 random(7);
    Bytes noise(8192);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(random());
    lum::test::WriteFile(dir.File("noise.bin"), noise);
    WriteText(dir.File("list.ffconcat"),
              "ffconcat version 1.0\nfile 'clip.avi'\nfile 'clip.avi'\n");
    WriteText(dir.File("list.m3u8"), "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n"
                                     "#EXTINF:1.0,\nclip.avi\n#EXT-X-ENDLIST\n");
    for (const char* name : {"notes.txt", "noise.bin", "list.ffconcat", "list.m3u8"}) {
        SCOPED_TRACE(name);
        f = nullptr;
        EXPECT_EQ(AVIFileOpen(&f, dir.File(name), OF_READ), AVIERR_UNSUPPORTED);
        EXPECT_EQ(f, nullptr);
        // From memory too, where no name tells the kind.
        const Bytes image = lum::test::ReadFile(dir.File(name));
        EXPECT_EQ(OpenImage(image, &f), AVIERR_UNSUPPORTED);
    }
}

// Content that is RIFF AVI, WAVE or AU stays with our own handlers, damaged
// or not: libavformat is never asked to read it instead.
TEST(LavfHandler, OurOwnKindsKeepTheirHandlers) {
    lum::test::TempDir dir;
    WriteTestAvi(dir.File("clip.avi"), 4, true);
    Bytes image = lum::test::ReadFile(dir.File("clip.avi"));
    PAVIFILE f = nullptr;
    ASSERT_EQ(OpenImage(image, &f), AVIERR_OK);
    AVIFILEINFO info{};
    AVIFileInfo(f, &info, sizeof info);
    EXPECT_STREQ(info.szFileType, "AVI File");
    AVIFileRelease(f);
    // Without its header list libavformat's AVI reader would give up as
    // well; ours answers for it.
    std::memcpy(&image[12], "JUNK", 4);
    f = nullptr;
    const HRESULT hr = OpenImage(image, &f);
    if (f) {
        AVIFileInfo(f, &info, sizeof info);
        EXPECT_STREQ(info.szFileType, "AVI File");
        AVIFileRelease(f);
    } else {
        EXPECT_NE(hr, AVIERR_OK);
    }
}
