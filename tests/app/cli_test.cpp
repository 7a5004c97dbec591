// snapreel-cli in process: dispatch, exit statuses and the info output.
#include <gtest/gtest.h>

#include <sstream>

#include "app/cli.h"
#include "platform/vfw/avi_fixtures.h"

using lum::app::RunCli;
namespace vt = lum::vfwtest;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result Cli(std::vector<std::string> args) {
    std::ostringstream out, err;
    int status = RunCli(args, out, err);
    return {status, out.str(), err.str()};
}

} // namespace

TEST(SnapreelCli, DispatchHelpVersionAndUsageErrors) {
    Result none = Cli({});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("info FILE [--json]"), std::string::npos);
    Result help = Cli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Commands:"), std::string::npos);
    Result version = Cli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "snapreel-cli " SNAPREEL_VERSION "\n");
    Result unknown = Cli({"explode"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("unknown command \"explode\""), std::string::npos);
    EXPECT_EQ(Cli({"info"}).status, 1);
    EXPECT_EQ(Cli({"info", "a.avi", "--yaml"}).status, 1);
    EXPECT_EQ(Cli({"info", "a.avi", "b.avi"}).status, 1);
    EXPECT_EQ(Cli({"info", "--help"}).status, 0);
}

TEST(SnapreelCli, InfoFailuresPrintTheLibraryMessage) {
    lum::test::TempDir dir;
    Result missing = Cli({"info", dir.File("none.avi")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "AVI error (8004406F): Error opening file\n");
    EXPECT_TRUE(missing.out.empty());
    lum::test::WriteFile(dir.File("text.avi"), {'h', 'e', 'l', 'l', 'o'});
    Result junk = Cli({"info", dir.File("text.avi"), "--json"});
    EXPECT_EQ(junk.status, 2);
    EXPECT_EQ(junk.err, "AVI error (80044065): Unsupported\n");
}

TEST(SnapreelCli, InfoDescribesEveryStream) {
    lum::test::TempDir dir;
    std::string path = dir.File("two.avi");
    vt::WriteTestAvi(path, 12, true, false, lum::platform::MakeFourCC("DIB "));
    std::size_t largest = 0; // the suggested buffer holds the largest frame
    for (int i = 0; i < 12; ++i)
        largest = std::max(largest, vt::FrameData(i).size());
    Result text = Cli({"info", path});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out,
              "0 type=\"vids\" handler=\"DIB \" name=\"\" start=0 length=12 scale=1 rate=25 "
              "sample_size=0 suggested_buffer_size=" +
                  std::to_string(largest) +
                  " key_frames=3 width=32 height=24 bit_count=24 compression=\"DIB \"\n"
                  "1 type=\"auds\" handler=\"None\" name=\"\" start=0 length=3840 scale=4 "
                  "rate=32000 sample_size=4 suggested_buffer_size=1280 key_frames=3840 "
                  "format_tag=1 channels=2 samples_per_sec=8000 bits_per_sample=16 "
                  "block_align=4\n");
    Result json = Cli({"info", "--json", path});
    ASSERT_EQ(json.status, 0);
    EXPECT_EQ(json.out.rfind("{\"file\": \"" + path + "\", \"streams\": [\n  {\"index\": 0, ", 0),
              0u);
    EXPECT_NE(json.out.find("\"key_frames\": 3, \"width\": 32"), std::string::npos);
    EXPECT_NE(json.out.find("},\n  {\"index\": 1, \"type\": \"auds\""), std::string::npos);
    EXPECT_EQ(json.out.substr(json.out.size() - 5), "}\n]}\n");
}

TEST(SnapreelCli, FourCCText) {
    EXPECT_EQ(lum::app::FourCCText(lum::platform::MakeFourCC("DIB ")), "DIB ");
    EXPECT_EQ(lum::app::FourCCText(0), "0x00000000");
    EXPECT_EQ(lum::app::FourCCText(0x55), "0x00000055");
}
