// snapreel-cli extract in process: options and usage errors, where stills
// go for one and several inputs, the report, exit statuses for inputs that
// cannot be had or fail midway, and parallel runs writing what serial ones do.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <regex>
#include <sstream>

#include "app/cli.h"
#include "media.h"

namespace fs = std::filesystem;
using lum::apptest::Rgb;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result Extract(std::vector<std::string> args) {
    args.insert(args.begin(), "extract");
    std::ostringstream out, err;
    int status = lum::app::RunCli(args, out, err);
    return {status, out.str(), err.str()};
}

// 100 frames: black for 50, then white; at step 10 and level 160 the
// stills are frames 50 only (black is not far from black).
std::string Clip(const lum::test::TempDir& tmp, const std::string& name, Rgb first = {0, 0, 0}) {
    const std::string path = tmp.File(name);
    lum::apptest::WriteAvi(path, 100, 16, 12, [first](int frame, int, int) {
        return frame < 50 ? first : Rgb{255, 255, 255};
    });
    return path;
}

std::vector<std::string> Bmps(const fs::path& dir) {
    std::vector<std::string> names;
    if (!fs::exists(dir)) return names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SnapreelCliExtract, UsageErrorsExitOneWithTheUsage) {
    lum::test::TempDir tmp;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"a.avi"},
        {"-o", tmp.File("out")},
        {"a.avi", "-o"},
        {"a.avi", "-o", "out", "--step", "0"},
        {"a.avi", "-o", "out", "--step", "-3"},
        {"a.avi", "-o", "out", "--step", "ten"},
        {"a.avi", "-o", "out", "--level", "high"},
        {"a.avi", "-o", "out", "--level"},
        {"a.avi", "-o", "out", "--jobs", "0"},
        {"a.avi", "-o", "out", "--fast"},
        {"a.avi", "-o", "out", "--format", "gif"},
        {"a.avi", "-o", "out", "--format"},
        {"a.avi", "-o", "out", "--format", "jpeg", "--quality", "101"},
        {"a.avi", "-o", "out", "--format", "jpeg", "--quality", "-1"},
        {"a.avi", "-o", "out", "--quality", "80"}, // quality is for JPEG
    };
    for (const auto& args : bad) {
        Result r = Extract(args);
        EXPECT_EQ(r.status, 1) << ::testing::PrintToString(args);
        EXPECT_NE(r.err.find("usage: snapreel-cli extract"), std::string::npos);
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_FALSE(fs::exists("out"));
    Result help = Extract({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--report FILE"), std::string::npos);
}

TEST(SnapreelCliExtract, OneInputWritesIntoTheFolderItMakes) {
    lum::test::TempDir tmp;
    const std::string clip = Clip(tmp, "clip.avi", {200, 0, 0});
    const fs::path out = tmp.Path() / "made" / "here";
    Result r = Extract({clip, "-o", out.string(), "--step", "10"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Bmps(out), std::vector<std::string>({"10000.BMP", "10050.BMP"}));
    EXPECT_TRUE(
        std::regex_match(r.out, std::regex(std::regex_replace(clip, std::regex("[.]"), "[.]") +
                                           ": 2 stills from 100 frames in [0-9]+[.][0-9] s\n")))
        << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err; // not a terminal: no progress

    // The defaults are level 160, step 60: frames 0 and 60.
    const fs::path defaults = tmp.Path() / "defaults";
    ASSERT_EQ(Extract({clip, "-o", defaults.string(), "--quiet"}).status, 0);
    EXPECT_EQ(Bmps(defaults), std::vector<std::string>({"10000.BMP", "10060.BMP"}));

    Result quiet = Extract({clip, "-o", out.string(), "--level", "500", "-q"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_TRUE(quiet.out.empty());
    EXPECT_TRUE(quiet.err.empty());
}

TEST(SnapreelCliExtract, SeveralInputsGoIntoFoldersNamedAfterThem) {
    lum::test::TempDir tmp;
    const std::string a = Clip(tmp, "a.avi", {200, 0, 0});
    const std::string b = Clip(tmp, "b.avi");
    const std::string c = Clip(tmp, "c.avi", {0, 0, 200});
    const fs::path out = tmp.Path() / "out";
    Result r = Extract({a, b, c, "-o", out.string(), "--step", "25", "--jobs", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Bmps(out / "a"), std::vector<std::string>({"10000.BMP", "10050.BMP"}));
    EXPECT_EQ(Bmps(out / "b"), std::vector<std::string>({"10050.BMP"}));
    EXPECT_EQ(Bmps(out / "c"), std::vector<std::string>({"10000.BMP", "10050.BMP"}));
    // Summaries in input order, whatever order the jobs finished in.
    EXPECT_LT(r.out.find(a + ": 2 stills"), r.out.find(b + ": 1 still from"));
    EXPECT_LT(r.out.find(b + ": 1 still from"), r.out.find(c + ": 2 stills"));

    // One job writes the same bytes.
    const fs::path serial = tmp.Path() / "serial";
    ASSERT_EQ(Extract({a, b, c, "-o", serial.string(), "--step", "25", "--jobs", "1"}).status, 0);
    for (const char* name : {"a", "c"})
        for (const char* still : {"10000.BMP", "10050.BMP"})
            EXPECT_EQ(lum::test::ReadFile((out / name / still).string()),
                      lum::test::ReadFile((serial / name / still).string()));

    // Two inputs of the same name would share a folder.
    fs::create_directory(tmp.Path() / "sub");
    const std::string a2 = Clip(tmp, "sub/a.avi");
    Result clash = Extract({a, a2, "-o", (tmp.Path() / "clash").string()});
    EXPECT_EQ(clash.status, 1);
    EXPECT_NE(clash.err.find("same folder"), std::string::npos);
    EXPECT_FALSE(fs::exists(tmp.Path() / "clash"));
}

TEST(SnapreelCliExtract, InputsThatCannotBeHadExitTwoAndTheOthersStillRun) {
    lum::test::TempDir tmp;
    const std::string good = Clip(tmp, "good.avi", {200, 0, 0});
    const std::string missing = tmp.File("missing.avi");
    const std::string wave = tmp.File("sound.wav");
    lum::apptest::WriteWave(wave);
    const fs::path out = tmp.Path() / "out";
    Result r = Extract({missing, good, wave, "-o", out.string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(missing + ": AVI error (8004406F): Error opening file\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(wave + ": No video stream\n"), std::string::npos) << r.err;
    EXPECT_EQ(Bmps(out / "good"), std::vector<std::string>({"10000.BMP", "10060.BMP"}));
    EXPECT_EQ(r.out.find(missing), std::string::npos);
    EXPECT_NE(r.out.find(good + ": 2 stills"), std::string::npos);
}

TEST(SnapreelCliExtract, RunFailingMidwayExitsThreeAndKeepsItsStills) {
    lum::test::TempDir tmp;
    const std::string clip = Clip(tmp, "clip.avi", {200, 0, 0});
    const fs::path out = tmp.Path() / "out";
    fs::create_directories(out / "10050.BMP"); // the second still cannot be written
    Result r = Extract({clip, "-o", out.string(), "--step", "10"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find(clip + ": frame 50: "), std::string::npos) << r.err;
    EXPECT_TRUE(lum::apptest::ReadBmp((out / "10000.BMP").string()).ok);
}

TEST(SnapreelCliExtract, ReportHasALinePerVisitedFrame) {
    lum::test::TempDir tmp;
    const std::string clip = Clip(tmp, "clip.avi");
    const fs::path out = tmp.Path() / "out";
    const std::string report = tmp.File("report.csv");
    Result r = Extract({clip, "-o", out.string(), "--step", "30", "--report", report});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto bytes = lum::test::ReadFile(report);
    const std::string still = (out / "10060.BMP").string();
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "input,frame,time_ms,red,green,blue,distance,written,file\n" + clip +
                  ",0,0,0,0,0,0.000,0,\n" + clip + ",30,1200,0,0,0,0.000,0,\n" + clip +
                  ",60,2400,255,255,255,441.673,1," + still + "\n" + clip +
                  ",90,3600,255,255,255,0.000,0,\n");
}

} // namespace

namespace {

// The bundled sample through the real decoder: what `make demo` writes.
TEST(SnapreelCliExtract, BundledSampleGivesAStillPerScene) {
    const fs::path sample =
        fs::path(__FILE__).parent_path() / ".." / ".." / "samples" / "snapreel-sample.avi";
    if (!fs::exists(sample)) GTEST_SKIP() << "no sample at " << sample;
    lum::test::TempDir tmp;
    Result r = Extract({sample.string(), "-o", tmp.File("stills")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(": 8 stills from 800 frames in "), std::string::npos) << r.out;
    EXPECT_EQ(Bmps(tmp.Path() / "stills"),
              std::vector<std::string>({"10000.BMP", "10120.BMP", "10240.BMP", "10300.BMP",
                                        "10420.BMP", "10540.BMP", "10600.BMP", "10720.BMP"}));
    lum::apptest::Bmp still = lum::apptest::ReadBmp(tmp.File("stills/10120.BMP"));
    ASSERT_TRUE(still.ok);
    EXPECT_EQ(still.width, 320);
    EXPECT_EQ(still.height, 240);
    // The red scene decodes as red.
    const Rgb centre = still.Pixel(160, 120);
    EXPECT_GT(centre.r, 200);
    EXPECT_LT(centre.g, 60);
    EXPECT_LT(centre.b, 60);
}

} // namespace

// PNG and JPEG stills through Qt's image writers: the same frames as BMP,
// named by the same rule with their own extension; PNG keeps the pixels.
TEST(SnapreelCliExtract, PngAndJpegStills) {
    lum::test::TempDir tmp;
    const std::string clip = tmp.File("clip.avi");
    // Frames 0 to 49 red, then a left half of blue and a right half of white.
    lum::apptest::WriteAvi(clip, 100, 16, 12, [](int frame, int x, int) {
        if (frame < 50) return Rgb{200, 0, 0};
        return x < 8 ? Rgb{0, 0, 255} : Rgb{255, 255, 255};
    });
    const fs::path bmp = tmp.Path() / "bmp", png = tmp.Path() / "png", jpeg = tmp.Path() / "jpeg";
    ASSERT_EQ(Extract({clip, "-o", bmp.string(), "--step", "10", "-q"}).status, 0);
    ASSERT_EQ(Extract({clip, "-o", png.string(), "--step", "10", "-q", "--format", "png"}).status,
              0);
    Result r =
        Extract({clip, "-o", jpeg.string(), "--step", "10", "--format", "jpeg", "--quality", "95"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Bmps(bmp), (std::vector<std::string>{"10000.BMP", "10050.BMP"}));
    EXPECT_EQ(Bmps(png), (std::vector<std::string>{"10000.PNG", "10050.PNG"}));
    EXPECT_EQ(Bmps(jpeg), (std::vector<std::string>{"10000.JPG", "10050.JPG"}));

    const lum::apptest::Bmp reference = lum::apptest::ReadBmp((bmp / "10050.BMP").string());
    ASSERT_TRUE(reference.ok);
    QImage lossless((png / "10050.PNG").c_str(), "png");
    ASSERT_EQ(lossless.width(), 16);
    ASSERT_EQ(lossless.height(), 12);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            const QRgb p = lossless.pixel(x, y);
            const Rgb want = reference.Pixel(x, y);
            ASSERT_EQ((Rgb{static_cast<std::uint8_t>(qRed(p)), static_cast<std::uint8_t>(qGreen(p)),
                           static_cast<std::uint8_t>(qBlue(p))}),
                      want)
                << x << "," << y;
        }
    QImage lossy((jpeg / "10050.JPG").c_str(), "jpeg");
    ASSERT_EQ(lossy.size(), QSize(16, 12));
    // Away from the edge between the halves, JPEG keeps the colours close.
    EXPECT_LE(std::abs(qBlue(lossy.pixel(1, 6)) - 255) + qRed(lossy.pixel(1, 6)), 24);
    EXPECT_GE(qRed(lossy.pixel(14, 6)), 235);
    EXPECT_GE(qGreen(lossy.pixel(14, 6)), 235);
    // A lower quality makes a smaller file.
    const fs::path rough = tmp.Path() / "rough";
    ASSERT_EQ(Extract({clip, "-o", rough.string(), "--step", "10", "-q", "--format", "jpeg",
                       "--quality", "5"})
                  .status,
              0);
    EXPECT_LT(fs::file_size(rough / "10050.JPG"), fs::file_size(jpeg / "10050.JPG"));
}
