// `lum avi save` and `lum avi cut` run in process: what they refuse, what
// they leave behind, and the progress bar. What the saved files hold is
// checked against ffprobe in the interop tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "platform/vfw/save_fixtures.h"
#include "support/testutil.h"
#include "tools/lumtool.h"

namespace lum::tools {
namespace {

using namespace lum::platform::vfw;

struct Outcome {
    int status;
    std::string out, err;
};

Outcome Lum(const std::vector<std::string>& args, bool progress = false) {
    std::ostringstream out, err;
    ToolIo io{out, err, progress};
    const int status = RunLum(args, io);
    return {status, out.str(), err.str()};
}

class AviCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        src_ = dir_.File("src.avi");
        vfwtest::WriteRgbAvi(src_, 32, 24, 20, true); // 320 audio samples a frame
    }
    test::TempDir dir_;
    std::string src_;
};

TEST_F(AviCommandTest, RefusesBadArgumentsAndLeavesNoFile) {
    const std::string out = dir_.File("out.avi");
    Outcome r = Lum({"avi", "save", src_, out, "--codec", "vp9"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_NE(r.err.find("unknown codec \"vp9\""), std::string::npos) << r.err;
    EXPECT_EQ(Lum({"avi", "save", src_, out, "--quality", "101"}).status, kExitUsage);
    EXPECT_EQ(Lum({"avi", "cut", src_, out, "--start", "3"}).status, kExitUsage);
    r = Lum({"avi", "save", dir_.File("missing.avi"), out});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("missing.avi"), std::string::npos) << r.err;
    // A cut of every frame, or starting past the end.
    r = Lum({"avi", "cut", src_, out, "--start", "0", "--length", "20"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("no frames"), std::string::npos) << r.err;
    EXPECT_EQ(Lum({"avi", "cut", src_, out, "--start", "20", "--length", "1"}).status,
              kExitFailure);
    EXPECT_FALSE(std::filesystem::exists(out));
    r = Lum({"avi", "--help"});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_NE(r.out.find("avi save"), std::string::npos);
    EXPECT_NE(r.out.find("avi cut"), std::string::npos);
}

TEST_F(AviCommandTest, CutRemovesTheFramesAndTheAudioOfTheirTime) {
    const std::string out = dir_.File("cut.avi");
    // Past the end the length is clamped: frames 15-19 go.
    Outcome r = Lum({"avi", "cut", src_, out, "--start", "15", "--length", "100"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    PAVISTREAM v = vfwtest::OpenStream(out), a = vfwtest::OpenStream(out, streamtypeAUDIO);
    ASSERT_NE(v, nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(AVIStreamLength(v), 15);
    EXPECT_EQ(AVIStreamLength(a), 15 * 320);
    AVIStreamRelease(v);
    AVIStreamRelease(a);

    ASSERT_EQ(Lum({"avi", "cut", src_, out, "--start", "2", "--length", "5"}).status, kExitOk);
    v = vfwtest::OpenStream(out);
    a = vfwtest::OpenStream(out, streamtypeAUDIO);
    const std::vector<vfwtest::Bytes> frames = vfwtest::DecodeAll(v);
    ASSERT_EQ(frames.size(), 15u);
    vfwtest::ExpectPicture(frames[1], 32, 24, 1);
    vfwtest::ExpectPicture(frames[2], 32, 24, 7);
    // Audio sample S held S: after the cut, sample 640 is the source's 2240.
    const vfwtest::Bytes s = vfwtest::ReadSample(a, 640);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0] | (s[1] << 8), 2240);
    EXPECT_EQ(AVIStreamLength(a), 15 * 320);
    AVIStreamRelease(v);
    AVIStreamRelease(a);
}

// Saves of one file may run side by side: the input is shared for reading.
TEST_F(AviCommandTest, InputReadByOthersMeanwhile) {
    PAVIFILE reader = nullptr;
    ASSERT_EQ(AVIFileOpen(&reader, src_, OF_READ | OF_SHARE_DENY_WRITE), AVIERR_OK);
    const Outcome r = Lum({"avi", "save", src_, dir_.File("o.avi")});
    EXPECT_EQ(r.status, kExitOk) << r.err;
    AVIFileRelease(reader);
}

TEST_F(AviCommandTest, ProgressOnATerminalEndsAtAHundred) {
    const std::string out = dir_.File("p.avi");
    Outcome r = Lum({"avi", "save", src_, out, "--codec", "mjpeg"}, true);
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_NE(r.err.find("saving"), std::string::npos);
    EXPECT_NE(r.err.find("100%"), std::string::npos);
    // Not on a terminal: nothing on the error stream.
    r = Lum({"avi", "save", src_, out, "--codec", "mjpeg", "--keyframes", "4"});
    ASSERT_EQ(r.status, kExitOk);
    EXPECT_EQ(r.err, "");
}

} // namespace
} // namespace lum::tools
