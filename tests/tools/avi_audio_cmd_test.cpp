// `lum avi audio` run in process: its usage errors, files it cannot read,
// and a video file without audio. Its output against ffmpeg is checked by
// the interop tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/testutil.h"
#include "tools/lumtool.h"
#include "video/lumavi.h"

namespace lum::tools {
namespace {

struct Outcome {
    int status;
    std::string out, err;
};

Outcome Lum(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    ToolIo io{out, err, false};
    const int status = RunLum(args, io);
    return {status, out.str(), err.str()};
}

TEST(LumAviAudio, UsageAndFailures) {
    test::TempDir dir;
    const Outcome help = Lum({"avi", "--help"});
    EXPECT_EQ(help.status, kExitOk);
    EXPECT_NE(help.out.find("avi audio IN OUT.wav"), std::string::npos) << help.out;
    EXPECT_EQ(Lum({"avi", "nothing"}).status, kExitUsage);

    const Outcome format = Lum({"avi", "audio", "a.avi", "b.wav", "--format", "flac"});
    EXPECT_EQ(format.status, kExitUsage);
    EXPECT_NE(format.err.find("unknown format flac"), std::string::npos) << format.err;
    EXPECT_EQ(Lum({"avi", "audio", "a.avi"}).status, kExitUsage);

    const std::string missing = dir.File("missing.avi"), out = dir.File("out.wav");
    const Outcome absent = Lum({"avi", "audio", missing, out});
    EXPECT_EQ(absent.status, kExitFailure);
    EXPECT_EQ(absent.err.rfind("lum avi audio: " + missing + ": ", 0), 0u) << absent.err;
    EXPECT_FALSE(std::filesystem::exists(out));

    // A video file with a video stream only.
    const std::string silent = dir.File("silent.avi");
    {
        TLumAVIFile file;
        file.SetFileName(silent);
        file.SetAccessMode(amReadWrite);
        file.CreateFile();
        file.CreateVideoStream(25, "Video")->Release();
    }
    const Outcome none = Lum({"avi", "audio", silent, out});
    EXPECT_EQ(none.status, kExitFailure);
    EXPECT_NE(none.err.find("no audio stream"), std::string::npos) << none.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace
} // namespace lum::tools
