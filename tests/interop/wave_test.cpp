// Wave files against ffmpeg, ffprobe and sndfile-info: files ffmpeg makes
// are read with ffprobe's format fields, sample counts and bytes; files we
// write decode in ffmpeg to the source's samples and show our INFO items
// and chunk layout; PCM conversion matches ffmpeg's where both are exact.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "audio/lumwaveio.h"
#include "core/lumutils.h"
#include "media.h"
#include "support/testutil.h"
#include "tools/lumtool.h"

namespace lum::interop {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct WaveRecipe {
    Recipe recipe;
    bool exact; // PCM, A-law, mu-law: counts and bytes follow from the data
};

void PrintTo(const WaveRecipe& r, std::ostream* os) {
    *os << r.recipe.name;
}

const std::string kTone = "-f lavfi -i sine=frequency=440:sample_rate=";
const std::string kStereo = "-f lavfi -i 'aevalsrc=sin(440*2*PI*t)|0.5*sin(660*2*PI*t)':s=";
const std::string kTags =
    " -metadata title=Waves -metadata artist=Somebody -metadata comment=Plain -fflags +bitexact";

std::vector<WaveRecipe> WaveRecipes() {
    return {
        {{"U8Mono", kTone + "8000 -t 1 -c:a pcm_u8", "wav"}, true},
        {{"U8OddWithTags", kTone + "8000 -af atrim=end_sample=1001 -c:a pcm_u8" + kTags, "wav"},
         true},
        {{"S16Mono", kTone + "22050 -t 1 -c:a pcm_s16le", "wav"}, true},
        {{"S16Stereo", kStereo + "44100:d=1 -c:a pcm_s16le" + kTags, "wav"}, true},
        {{"S16StereoOddFrames", kStereo + "11025:d=0.5 -af atrim=end_sample=2001 -c:a pcm_s16le",
          "wav"},
         true},
        {{"ALawOdd", kTone + "8000 -af atrim=end_sample=1001 -c:a pcm_alaw", "wav"}, true},
        {{"MuLawStereo", kStereo + "8000:d=1 -c:a pcm_mulaw", "wav"}, true},
        {{"MsAdpcm", kStereo + "22050:d=1 -c:a adpcm_ms", "wav"}, false},
        {{"ImaAdpcm", kTone + "22050 -t 1 -c:a adpcm_ima_wav", "wav"}, false},
        {{"Gsm", kTone + "8000 -t 1 -c:a libgsm_ms", "wav"}, false},
        {{"Mp3", kStereo + "44100:d=1 -c:a libmp3lame -b:a 128k", "wav"}, false},
    };
}

// A file's control block, freed at the end of the test.
struct Wave {
    explicit Wave(const std::string& path) {
        code = wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE);
    }
    ~Wave() {
        if (cb) {
            wioWaveClose(cb);
            wioFreeFileInfo(cb);
        }
    }
    Bytes Samples() {
        Bytes out(static_cast<std::size_t>(cb->DataBytes));
        EXPECT_EQ(wioWaveOpen(cb), WIOERR_NOERROR);
        std::size_t at = 0;
        for (;;) {
            const std::int32_t step = std::min<std::int32_t>(
                std::max<std::int32_t>(cb->Format.nAvgBytesPerSec, 1), 1 << 20);
            if (at + static_cast<std::size_t>(step) > out.size())
                out.resize(at + static_cast<std::size_t>(step));
            const std::int32_t n = wioWaveReadData(cb, out.data() + at, step);
            if (n <= 0) break;
            at += static_cast<std::size_t>(n);
        }
        out.resize(at);
        return out;
    }
    std::string Info(const char* id) {
        return std::string(RiffINFOValue(
            cb->InfoChunk, RiffFindPIINFO(cb->InfoChunk, mmioFourCC(id[0], id[1], id[2], id[3]))));
    }
    PWAVEIOCB cb = nullptr;
    int code = -1;
};

QJsonObject StreamOf(const std::string& path) {
    return Probe(path, false, "-show_format")["streams"].toArray()[0].toObject();
}

QJsonObject TagsOf(const std::string& path) {
    return Probe(path, false, "-show_format")["format"].toObject()["tags"].toObject();
}

// The stream's bytes as ffmpeg copies them out of the file.
Bytes FfmpegData(const std::string& path) {
    test::TempDir dir;
    const std::string out = dir.File("data.raw");
    EXPECT_EQ(test::Run("ffmpeg -v error -y -i " + test::Quote(path) +
                        " -map 0:a -c copy -f data " + test::Quote(out)),
              0);
    return test::ReadFile(out);
}

// ffmpeg's decode of a file, as the MD5 of its samples.
std::string DecodedMd5(const std::string& path) {
    std::string out;
    test::Run("ffmpeg -v error -i " + test::Quote(path) + " -map 0:a -f md5 - 2>/dev/null", &out);
    return out;
}

char* HeapText(const char* text) {
    auto* p = static_cast<char*>(GlobalAllocMem(std::strlen(text) + 1));
    std::memcpy(p, text, std::strlen(text) + 1);
    return p;
}

// Writes the samples of Source into a new file with the same format and
// INFO, and a DISP text.
void CopyThroughWio(Wave& source, const std::string& path) {
    PWAVEIOCB cb = nullptr;
    ASSERT_EQ(wioCreateFileInfo(cb, &source.cb->Format), WIOERR_NOERROR);
    ASSERT_EQ(wioCopyFileInfo(cb, source.cb), WIOERR_NOERROR);
    RiffInsertDISP(cb->DispList, RiffCreateDISP(1, CF_TEXT, nullptr, HeapText("copied by lum")));
    ASSERT_EQ(wioWriteFileInfo(cb, path.c_str()), WIOERR_NOERROR);
    const Bytes samples = source.Samples();
    // In pieces, as a program writes a stream.
    for (std::size_t at = 0; at < samples.size(); at += 4000) {
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(4000, samples.size() - at));
        ASSERT_EQ(wioWaveWriteData(cb, samples.data() + at, n), n);
    }
    ASSERT_EQ(wioWaveClose(cb), WIOERR_NOERROR);
    wioFreeFileInfo(cb);
}

class WaveInterop : public ::testing::TestWithParam<WaveRecipe> {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
        path_ = MediaFile(GetParam().recipe);
    }
    std::string path_;
};

TEST_P(WaveInterop, ReadsWhatFfprobeReports) {
    Wave w(path_);
    ASSERT_EQ(w.code, WIOERR_NOERROR);
    const QJsonObject s = StreamOf(path_);
    EXPECT_EQ(w.cb->Format.wFormatTag, s["codec_tag"].toString().toUInt(nullptr, 16));
    EXPECT_EQ(w.cb->Format.nSamplesPerSec, s["sample_rate"].toString().toUInt());
    EXPECT_EQ(w.cb->Format.nChannels, s["channels"].toInt());
    EXPECT_EQ(w.cb->Format.wBitsPerSample, s["bits_per_sample"].toInt());
    const Bytes ours = w.Samples();
    EXPECT_EQ(static_cast<std::int32_t>(ours.size()), w.cb->DataBytes);
    if (GetParam().exact) {
        EXPECT_EQ(w.cb->SampleCount, s["duration_ts"].toInt());
        EXPECT_EQ(ours, FfmpegData(path_));
    }
}

TEST_P(WaveInterop, FilesWeWriteDecodeToTheSameSamples) {
    Wave source(path_);
    ASSERT_EQ(source.code, WIOERR_NOERROR);
    test::TempDir dir;
    const std::string ours = dir.File("ours.wav");
    CopyThroughWio(source, ours);
    const QJsonObject a = StreamOf(path_);
    const QJsonObject b = StreamOf(ours);
    ASSERT_FALSE(b.isEmpty()) << "ffprobe cannot read our file";
    EXPECT_EQ(b["codec_name"], a["codec_name"]);
    EXPECT_EQ(b["sample_rate"], a["sample_rate"]);
    EXPECT_EQ(b["channels"], a["channels"]);
    if (GetParam().exact) {
        EXPECT_EQ(b["duration_ts"], a["duration_ts"]);
    }
    EXPECT_EQ(DecodedMd5(ours), DecodedMd5(path_));
    // INFO items we write are ffmpeg's tags again.
    const QJsonObject tags = TagsOf(path_);
    const QJsonObject ourTags = TagsOf(ours);
    for (const char* tag : {"title", "artist", "comment"})
        EXPECT_EQ(ourTags[tag].toString().toStdString(), tags[tag].toString().toStdString()) << tag;
    Wave back(ours);
    ASSERT_EQ(back.code, WIOERR_NOERROR);
    EXPECT_EQ(back.Info("INAM"), tags["title"].toString().toStdString());
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, WaveInterop, ::testing::ValuesIn(WaveRecipes()),
                         [](const auto& info) { return info.param.recipe.name; });

const WaveRecipe& RecipeNamed(const std::string& name) {
    static const std::vector<WaveRecipe> all = WaveRecipes();
    for (const WaveRecipe& r : all)
        if (r.recipe.name == name) return r;
    throw std::runtime_error("no recipe " + name);
}

TEST(WaveInteropLayout, SndfileInfoShowsOurChunkOrderAndPadBytes) {
    if (!HaveFfmpeg() || !test::HaveProgram("sndfile-info"))
        GTEST_SKIP() << "ffmpeg or sndfile-info (sndfile-programs) is not installed";
    Wave source(MediaFile(RecipeNamed("U8OddWithTags").recipe));
    ASSERT_EQ(source.code, WIOERR_NOERROR);
    test::TempDir dir;
    const std::string ours = dir.File("odd.wav");
    CopyThroughWio(source, ours);
    std::string report;
    test::Run("sndfile-info " + test::Quote(ours) + " 2>&1", &report);
    // The chunks in order, each with its size: "fact" is found after the
    // odd data chunk's pad byte. (sndfile-info notes any odd data size, pad
    // byte or not.)
    std::vector<std::string> chunks;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        for (const char* id : {"fmt  :", "data :", "fact :", "DISP :", "LIST :"})
            if (line.rfind(id, 0) == 0) chunks.push_back(line);
    }
    EXPECT_EQ(chunks, (std::vector<std::string>{"fmt  : 18", "data : 1001", "fact : 4", "DISP : 18",
                                                "LIST : 50"}))
        << report;
    const Bytes file = test::ReadFile(ours);
    EXPECT_NE(report.find("Length : " + std::to_string(file.size()) + "\n"), std::string::npos);
    EXPECT_NE(report.find("RIFF : " + std::to_string(file.size() - 8) + "\n"), std::string::npos);
    EXPECT_EQ(file[46 + 1001], 0); // the pad byte
    EXPECT_EQ(std::string(file.begin() + 46 + 1002, file.begin() + 46 + 1006), "fact");
    EXPECT_EQ(report.find("truncated"), std::string::npos) << report;
    EXPECT_NE(report.find("INAM : Waves"), std::string::npos) << report;
    EXPECT_NE(report.find("Frames      : 1001"), std::string::npos) << report;
}

// `lum` as a program, as users and scripts run it.
std::string LumProgram() {
    const char* build = std::getenv("LUM_BUILD_DIR");
    return std::string(build ? build : "build") + "/src/tools/lum";
}

TEST(WaveInteropTool, InfoAgreesWithFfprobe) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    const std::string path = MediaFile(RecipeNamed("S16Stereo").recipe);
    std::string out;
    ASSERT_EQ(test::Run(test::Quote(LumProgram()) + " wave info --json " + test::Quote(path), &out),
              0);
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
    const QJsonObject s = StreamOf(path);
    EXPECT_EQ(o["format_name"].toString(), "PCM");
    EXPECT_EQ(o["description"].toString(), "44.100 kHz, 16 Bit, Stereo");
    EXPECT_EQ(o["samples"].toInt(), s["duration_ts"].toInt());
    EXPECT_EQ(o["info"].toObject()["INAM"].toString(), "Waves");
    EXPECT_EQ(o["info"].toObject()["ICMT"].toString(), "Plain");
    EXPECT_EQ(test::Run(test::Quote(LumProgram()) + " wave info /no/such.wav 2>/dev/null"), 2);
    EXPECT_EQ(test::Run(test::Quote(LumProgram()) + " wave info 2>/dev/null"), 1);
}

// Runs `lum wave convert` in process and returns the new file's samples.
Bytes ConvertWithLum(const std::string& in, const std::vector<std::string>& options,
                     test::TempDir& dir) {
    const std::string out = dir.File("converted.wav");
    std::vector<std::string> args = {"wave", "convert", in, out};
    args.insert(args.end(), options.begin(), options.end());
    std::ostringstream o, e;
    tools::ToolIo io{o, e, false};
    EXPECT_EQ(tools::RunLum(args, io), tools::kExitOk) << e.str();
    Wave w(out);
    EXPECT_EQ(w.code, WIOERR_NOERROR);
    return w.cb ? w.Samples() : Bytes{};
}

Bytes FfmpegConvert(const std::string& in, const std::string& args) {
    std::string out;
    test::Run("ffmpeg -v error -i " + test::Quote(in) + " " + args + " -", &out);
    return Bytes(out.begin(), out.end());
}

TEST(WaveInteropConvert, BitDepthMatchesFfmpegExactly) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    test::TempDir dir;
    for (const char* name : {"S16Mono", "S16Stereo"}) {
        const std::string s16 = MediaFile(RecipeNamed(name).recipe);
        const Bytes ours = ConvertWithLum(s16, {"--bits", "8"}, dir);
        EXPECT_FALSE(ours.empty());
        EXPECT_EQ(ours, FfmpegConvert(s16, "-f u8")) << name;
    }
    const std::string u8 = MediaFile(RecipeNamed("U8Mono").recipe);
    EXPECT_EQ(ConvertWithLum(u8, {"--bits", "16"}, dir), FfmpegConvert(u8, "-f s16le"));
}

TEST(WaveInteropConvert, DownmixIsWithinOneOfFfmpegs) {
    // ffmpeg rounds the mean half up, the converter floors it.
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    test::TempDir dir;
    const std::string s16 = MediaFile(RecipeNamed("S16Stereo").recipe);
    const Bytes ours = ConvertWithLum(s16, {"--channels", "1"}, dir);
    const Bytes theirs = FfmpegConvert(s16, "-ac 1 -f s16le");
    ASSERT_EQ(ours.size(), theirs.size());
    int worst = 0;
    for (std::size_t i = 0; i + 1 < ours.size(); i += 2) {
        const auto a = static_cast<std::int16_t>(ours[i] | ours[i + 1] << 8);
        const auto b = static_cast<std::int16_t>(theirs[i] | theirs[i + 1] << 8);
        worst = std::max(worst, std::abs(a - b));
    }
    EXPECT_LE(worst, 1);
}

} // namespace
} // namespace lum::interop
