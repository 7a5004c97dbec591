// The extraction engine over real files: which frames are visited and
// written, the decision at its edges, the files written, the front end's
// calls in their order, and how refusals and failures end a run.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/extraction.h"
#include "media.h"

namespace fs = std::filesystem;
using lum::app::ExtractStills;
using lum::app::TExtractionHost;
using lum::app::TExtractionResult;
using lum::app::TFrameRecord;
using lum::apptest::Rgb;
using lum::platform::LONG;

namespace {

// Records every call a run makes; the texts are what the fields would hold.
class RecordingHost : public TExtractionHost {
public:
    std::string level = "160", step = "60", dir;
    std::vector<std::string> calls;
    std::vector<TFrameRecord> frames;

    std::string LevelText() override { return level; }
    std::string StepText() override { return step; }
    std::string Directory() override { return dir; }
    void SetBusy(bool busy) override { calls.push_back(busy ? "busy" : "idle"); }
    void ShowProgress(LONG max) override { calls.push_back("show " + std::to_string(max)); }
    void SetProgress(LONG i) override { calls.push_back("progress " + std::to_string(i)); }
    void HideProgress() override { calls.push_back("hide"); }
    void FrameDone(const TFrameRecord& r) override { frames.push_back(r); }

    std::vector<LONG> Visited() const {
        std::vector<LONG> v;
        for (const TFrameRecord& r : frames)
            v.push_back(r.index);
        return v;
    }
    std::vector<LONG> Written() const {
        std::vector<LONG> v;
        for (const TFrameRecord& r : frames)
            if (r.written) v.push_back(r.index);
        return v;
    }
};

class Extraction : public ::testing::Test {
protected:
    lum::test::TempDir tmp;
    RecordingHost host;
    lum::TLumAVIFile file;

    void SetUp() override { host.dir = tmp.Path().string(); }

    TExtractionResult Run(const std::string& name, int frames, const lum::apptest::Painter& paint,
                          int width = 40, int height = 30) {
        const std::string path = tmp.File(name);
        lum::apptest::WriteAvi(path, frames, width, height, paint);
        file.SetFileName(path);
        file.OpenFile();
        return ExtractStills(file, host);
    }
    TExtractionResult RunGrey(std::vector<int> greys) {
        std::vector<Rgb> colours;
        for (int g : greys)
            colours.push_back({std::uint8_t(g), std::uint8_t(g), std::uint8_t(g)});
        return Run("grey.avi", static_cast<int>(greys.size()), lum::apptest::Solid(colours));
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(tmp.Path()))
            if (e.path().extension() == ".BMP") names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Frame colours, level and the frames written, stepping through every
// frame; each frame is compared with the last still written, first black.
TEST_F(Extraction, DecisionAtItsEdges) {
    struct Case {
        const char* what;
        std::vector<Rgb> frames;
        const char* level;
        std::vector<LONG> written;
        float firstDistance;
    };
    const Case cases[] = {
        {"(100,100,100) passes 160", {{100, 100, 100}}, "160", {0}, 173.205f},
        {"(50,50,50) does not", {{50, 50, 50}}, "160", {}, 86.603f},
        {"a distance equal to the level is out", {{3, 4, 0}, {3, 4, 1}}, "5", {1}, 5.0f},
        {"level 0: any change, no repeat",
         {{10, 10, 10}, {10, 10, 10}, {10, 10, 11}, {10, 10, 11}},
         "0",
         {0, 2},
         17.321f},
        {"a slow drift, measured from the last still",
         {{0, 0, 0}, {60, 60, 60}, {120, 120, 120}, {180, 180, 180}, {240, 240, 240}},
         "150",
         {2, 4},
         0.0f},
        {"442 is beyond white", {{255, 255, 255}, {0, 0, 0}}, "442", {}, 441.673f},
        {"a negative level writes all", {{0, 0, 0}, {0, 0, 0}}, "-1", {0, 1}, 0.0f},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.frames.clear();
        host.level = c.level;
        host.step = "1";
        host.dir = (tmp.Path() / std::to_string(++n)).string();
        fs::create_directory(host.dir);
        file.CloseFile();
        TExtractionResult r =
            Run("case.avi", static_cast<int>(c.frames.size()), lum::apptest::Solid(c.frames));
        EXPECT_EQ(host.Written(), c.written);
        EXPECT_EQ(r.written, static_cast<int>(c.written.size()));
        ASSERT_FALSE(host.frames.empty());
        EXPECT_EQ(host.frames[0].red, c.frames[0].r);
        EXPECT_NEAR(host.frames[0].distance, c.firstDistance, 0.001f);
        std::vector<std::string> files;
        for (LONG i : c.written)
            files.push_back(std::to_string(10000 + i) + ".BMP");
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(host.dir))
            found.push_back(e.path().filename().string());
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, files);
    }
}

TEST_F(Extraction, StepVisitsMultiplesBelowTheLengthAndTheGaugeStopsAtTheLast) {
    host.level = "-1";
    TExtractionResult r = Run(
        "long.avi", 100,
        [](int, int, int) {
            return Rgb{1, 2, 3};
        },
        8, 8);
    EXPECT_EQ(host.Visited(), std::vector<LONG>({0, 60}));
    EXPECT_EQ(host.calls, std::vector<std::string>(
                              {"busy", "show 100", "progress 0", "progress 60", "hide", "idle"}));
    EXPECT_EQ(r.length, 100);
    EXPECT_EQ(r.lastIndex, 60);
    EXPECT_FALSE(r.failed);
}

TEST_F(Extraction, CancelStopsBeforeTheNextFrameAndKeepsTheStills) {
    // A front end that cancels once two frames are done.
    struct Cancelling : RecordingHost {
        bool Cancelled() override { return frames.size() >= 2; }
    } cancelling;
    cancelling.dir = host.dir;
    cancelling.level = "-1";
    cancelling.step = "1";
    lum::apptest::WriteAvi(
        tmp.File("c.avi"), 5, 8, 8,
        lum::apptest::Solid({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}, {5, 5, 5}}));
    file.SetFileName(tmp.File("c.avi"));
    file.OpenFile();
    TExtractionResult r = ExtractStills(file, cancelling);
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(r.lastIndex, 1);
    EXPECT_EQ(Files(), std::vector<std::string>({"10000.BMP", "10001.BMP"}));
    EXPECT_EQ(cancelling.calls.back(), "idle");
}

TEST_F(Extraction, EmptyStreamShowsAndHidesTheGauge) {
    TExtractionResult r = Run("empty.avi", 0, lum::apptest::Solid({}));
    EXPECT_EQ(host.calls, std::vector<std::string>({"busy", "show 0", "hide", "idle"}));
    EXPECT_EQ(r.visited, 0);
    EXPECT_FALSE(r.failed);
}

TEST_F(Extraction, ThumbnailSamplesInsteadOfAveraging) {
    // Even columns white, odd ones black: 64 columns stretched onto 32 keep
    // one column of each pair, so the mean is white, not grey.
    host.level = "-1";
    Run(
        "stripes.avi", 1,
        [](int, int x, int) {
            std::uint8_t v = x % 2 ? 0 : 255;
            return Rgb{v, v, v};
        },
        64, 64);
    ASSERT_EQ(host.frames.size(), 1u);
    EXPECT_EQ(host.frames[0].red, 255);
    EXPECT_EQ(host.frames[0].blue, 255);
}

TEST_F(Extraction, StillIsTheFullFrameAsABottomUp24BitBmp) {
    // 33 columns: rows need one byte of padding. Top half red, bottom blue,
    // a green pixel top left.
    host.level = "-1";
    const int w = 33, h = 20;
    Run(
        "frame.avi", 1,
        [](int, int x, int y) {
            if (x == 0 && y == 0) return Rgb{0, 255, 0};
            return y < 10 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
        },
        w, h);
    lum::apptest::Bmp bmp = lum::apptest::ReadBmp(tmp.File("10000.BMP"));
    ASSERT_TRUE(bmp.ok);
    EXPECT_EQ(bmp.offset, 54u);
    EXPECT_EQ(bmp.infoSize, 40u);
    EXPECT_EQ(bmp.width, w);
    EXPECT_EQ(bmp.height, h);
    EXPECT_EQ(bmp.planes, 1);
    EXPECT_EQ(bmp.bits, 24);
    EXPECT_EQ(bmp.compression, 0u);
    EXPECT_EQ(bmp.fileSize, 54u + 100u * h);
    EXPECT_EQ(bmp.bytes.size(), bmp.fileSize);
    EXPECT_EQ(bmp.Pixel(0, 0), (Rgb{0, 255, 0}));
    EXPECT_EQ(bmp.Pixel(32, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(bmp.Pixel(5, 19), (Rgb{0, 0, 255}));
    // The bottom row comes first in the file.
    EXPECT_EQ(bmp.bytes[54], 255);
    EXPECT_EQ(bmp.bytes[56], 0);
}

TEST_F(Extraction, RunsReplaceEarlierFilesWithTheSameStills) {
    host.step = "1";
    lum::test::WriteFile(tmp.File("10001.BMP"), {'o', 'l', 'd'});
    RunGrey({200, 0});
    const auto first = lum::test::ReadFile(tmp.File("10001.BMP"));
    EXPECT_TRUE(lum::apptest::ReadBmp(tmp.File("10001.BMP")).ok);
    host.frames.clear();
    ExtractStills(file, host);
    EXPECT_EQ(host.Written(), std::vector<LONG>({0, 1}));
    EXPECT_EQ(lum::test::ReadFile(tmp.File("10001.BMP")), first);
}

TEST_F(Extraction, FieldTextsThatAreNotIntegersEndTheRunQuietly) {
    host.level = "";
    host.step = "1";
    TExtractionResult r = RunGrey({200, 0});
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.visited, 1);
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(r.error, "'' is not a valid integer value");
    // The gauge and the cursor are put back as after a normal run.
    EXPECT_EQ(host.calls.back(), "idle");
    EXPECT_EQ(host.calls[host.calls.size() - 2], "hide");

    file.CloseFile();
    host.frames.clear();
    host.level = "160";
    host.step = "six";
    r = RunGrey({200, 0});
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(host.Written(), std::vector<LONG>({0}));
    EXPECT_EQ(Files(), std::vector<std::string>({"10000.BMP"}));
}

TEST_F(Extraction, RefusedRunsReadNothing) {
    lum::apptest::WriteAvi(tmp.File("a.avi"), 3, 8, 8,
                           lum::apptest::Solid({{255, 0, 0}, {0, 0, 0}, {0, 255, 0}}));
    file.SetFileName(tmp.File("a.avi"));
    file.OpenFile();
    for (const char* step : {"0", "-60"}) {
        host.step = step;
        EXPECT_THROW(ExtractStills(file, host), lum::app::EExtractionRefused) << step;
    }
    host.step = "60";
    host.dir = "";
    EXPECT_THROW(ExtractStills(file, host), lum::app::EExtractionRefused);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(Files().empty());

    // No file open: the file's own error, before anything starts.
    host.dir = tmp.Path().string();
    file.CloseFile();
    try {
        ExtractStills(file, host);
        ADD_FAILURE() << "no error";
    } catch (const lum::Exception& e) {
        EXPECT_EQ(e.Message(), "File not opened");
    }
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(Extraction, FileWithoutVideoEndsAtOnce) {
    lum::apptest::WriteWave(tmp.File("a.wav"));
    file.SetFileName(tmp.File("a.wav"));
    file.OpenFile();
    TExtractionResult r = ExtractStills(file, host);
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.error, "Stream not opened");
    EXPECT_EQ(r.visited, 0);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(Files().empty());
}

TEST_F(Extraction, StillThatCannotBeWrittenEndsTheRunAndKeepsEarlierOnes) {
    host.step = "1";
    fs::create_directory(tmp.Path() / "10001.BMP"); // in the way of the second still
    TExtractionResult r = RunGrey({200, 0, 200});
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.failedFrame, 1);
    EXPECT_EQ(r.written, 1);
    EXPECT_TRUE(lum::apptest::ReadBmp(tmp.File("10000.BMP")).ok);
    EXPECT_FALSE(fs::exists(tmp.File("10002.BMP")));
    EXPECT_EQ(host.calls.back(), "idle");
}

TEST(ExtractionText, StrToIntTakesSignedDecimalsOnly) {
    using lum::app::StrToInt;
    EXPECT_EQ(StrToInt("160"), 160);
    EXPECT_EQ(StrToInt(" -5 "), -5);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    for (const char* bad : {"", " ", "12a", "1.5", "2147483648", "0x10", "--1", "+"})
        EXPECT_THROW(StrToInt(bad), lum::EConvertError) << bad;
}

TEST(ExtractionText, StillNamesAreTheIndexPlusTenThousand) {
    using lum::app::StillPath;
    EXPECT_EQ(StillPath("/out", 0), "/out/10000.BMP");
    EXPECT_EQ(StillPath("/out", 60), "/out/10060.BMP");
    EXPECT_EQ(StillPath("/out", 90000), "/out/100000.BMP");
    // The separator is added even after a root.
    EXPECT_EQ(StillPath("/", 5), "//10005.BMP");
}

} // namespace
