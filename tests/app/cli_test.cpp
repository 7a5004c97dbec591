// snapreel-cli in process: dispatch, exit statuses and the info output.
#include <gtest/gtest.h>

#include <filesystem>
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
                  " key_frames=3 width=32 height=24 bit_count=24 compression=\"DIB \" "
                  "codec=\"none\"\n"
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

namespace {

// A 3 x 2 stream of 8-bit frames whose colour I is (I, 2I, 3I); frame N is
// filled with index N.
std::string PaletteVideo(const lum::test::TempDir& dir) {
    std::string path = dir.File("pal.avi");
    vt::CreateFile(path, [&](lum::platform::vfw::PAVIFILE f) {
        using namespace lum::platform;
        using namespace lum::platform::vfw;
        PAVISTREAM v = nullptr;
        AVISTREAMINFO vi = vt::VideoInfo(0, 1, 25);
        ASSERT_EQ(AVIFileCreateStream(f, &v, &vi), AVIERR_OK);
        vt::Bytes fmt = vt::BitmapFormat(3, 2, 8, 0, 4);
        for (int i = 0; i < 4; ++i) {
            fmt[40 + 4 * i] = static_cast<std::uint8_t>(3 * i);
            fmt[40 + 4 * i + 1] = static_cast<std::uint8_t>(2 * i);
            fmt[40 + 4 * i + 2] = static_cast<std::uint8_t>(i);
        }
        AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        for (int i = 0; i < 4; ++i) {
            vt::Bytes d(8, static_cast<std::uint8_t>(i));
            AVIStreamWrite(v, i, 1, d.data(), 8, AVIIF_KEYFRAME, nullptr, nullptr);
        }
        AVIStreamRelease(v);
    });
    return path;
}

} // namespace

TEST(SnapreelCli, FrameWritesA24BitBmp) {
    lum::test::TempDir dir;
    std::string out = dir.File("f.bmp");
    Result r = Cli({"frame", PaletteVideo(dir), "2", "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    vt::Bytes bmp = lum::test::ReadFile(out);
    ASSERT_EQ(bmp.size(), 54u + 2 * 12);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(vt::Le32(bmp, 2), bmp.size());
    EXPECT_EQ(vt::Le32(bmp, 10), 54u);
    EXPECT_EQ(vt::Le32(bmp, 18), 3u);
    EXPECT_EQ(vt::Le32(bmp, 22), 2u); // bottom-up
    EXPECT_EQ(bmp[28], 24);
    EXPECT_EQ(vt::Le32(bmp, 30), 0u);
    // Every pixel is colour 2: blue 6, green 4, red 2.
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const std::size_t at = 54 + 12 * y + 3 * x;
            EXPECT_EQ(bmp[at], 6);
            EXPECT_EQ(bmp[at + 1], 4);
            EXPECT_EQ(bmp[at + 2], 2);
        }
}

TEST(SnapreelCli, FrameUsageAndFailureStatuses) {
    lum::test::TempDir dir;
    std::string video = PaletteVideo(dir), out = dir.File("o.bmp");
    EXPECT_EQ(Cli({"frame", video, "1"}).status, 1);
    EXPECT_EQ(Cli({"frame", video, "one", "-o", out}).status, 1);
    EXPECT_EQ(Cli({"frame", video, "-3", "-o", out}).status, 1);
    EXPECT_EQ(Cli({"frame", video, "1", "2", "-o", out}).status, 1);
    EXPECT_EQ(Cli({"frame", video, "1", "-o"}).status, 1);
    EXPECT_EQ(Cli({"frame", "--help"}).status, 0);

    Result missing = Cli({"frame", dir.File("none.avi"), "0", "-o", out});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "AVI error (8004406F): Error opening file\n");
    std::string audio = dir.File("audio.avi");
    vt::CreateFile(audio, [](lum::platform::vfw::PAVIFILE f) {
        using namespace lum::platform;
        using namespace lum::platform::vfw;
        PAVISTREAM a = nullptr;
        WAVEFORMATEX w = vt::PcmFormat(1, 8000, 8);
        AVISTREAMINFO ai = vt::AudioInfo(w);
        AVIFileCreateStream(f, &a, &ai);
        AVIStreamSetFormat(a, 0, &w, sizeof w);
        vt::Bytes pcm(80, 128);
        AVIStreamWrite(a, 0, 80, pcm.data(), 80, 0, nullptr, nullptr);
        AVIStreamRelease(a);
    });
    Result novideo = Cli({"frame", audio, "0", "-o", out});
    EXPECT_EQ(novideo.status, 2);
    EXPECT_EQ(novideo.err, "Stream not opened\n");

    Result beyond = Cli({"frame", video, "4", "-o", out});
    EXPECT_EQ(beyond.status, 3);
    EXPECT_EQ(beyond.err, "Failed getting frame\n");
    std::string unknown = dir.File("q.avi");
    vt::WriteTestAvi(unknown, 3, false);
    Result nocodec = Cli({"frame", unknown, "0", "-o", out});
    EXPECT_EQ(nocodec.status, 3);
    EXPECT_EQ(nocodec.err, "Can't create image decompressor\n");
    EXPECT_FALSE(std::filesystem::exists(out));

    Result unwritable = Cli({"frame", video, "0", "-o", dir.File("no/such/dir.bmp")});
    EXPECT_EQ(unwritable.status, 2);
}
