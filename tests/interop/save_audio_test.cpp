// `lum avi save --audio`: audio converted through the compression manager
// on saving, read by ffprobe and decoded by ffmpeg, against ffmpeg's own
// encoding of the same source; the video copied untouched and interleaved.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include "audio/lumacm.h"
#include "media.h"
#include "support/testutil.h"
#include "tools/lumtool.h"

namespace lum::interop {
namespace {

// Two seconds of 160x120 MJPEG beside 44.1 kHz stereo: 440 Hz left, 660 Hz
// right, so swapped or mixed channels show.
const Recipe kSource{"SaveAudioSource",
                     "-f lavfi -i testsrc=size=160x120:rate=25 "
                     "-f lavfi -i sine=frequency=440:sample_rate=44100 "
                     "-f lavfi -i sine=frequency=660:sample_rate=44100 "
                     "-filter_complex '[1][2]amerge=inputs=2[a]' -map 0:v -map '[a]' -t 2 "
                     "-c:v mjpeg -q:v 5 -c:a pcm_s16le",
                     "avi"};
constexpr int kFrames = 50;

int Lum(const std::vector<std::string>& args, std::string* err = nullptr) {
    std::ostringstream out, errs;
    tools::ToolIo io{out, errs, false};
    const int status = tools::RunLum(args, io);
    if (err) *err = errs.str();
    return status;
}

std::string Decoded(const std::string& path, const std::string& args) {
    std::string out;
    const std::string cmd = "ffmpeg -v error -i " + test::Quote(path) + " " + args + " -";
    EXPECT_EQ(test::Run(cmd, &out), 0) << cmd;
    return out;
}

QJsonObject StreamOf(const QJsonObject& probe, int i) {
    return probe["streams"].toArray()[i].toObject();
}

struct AudioCase {
    const char* audio; // --audio
    const char* codec; // ffprobe's codec_name
    int rate;
    int channels;
    int frames_per_block;  // 1 for the sample-by-sample codecs
    const char* reference; // ffmpeg's arguments for the same encoding
};

void PrintTo(const AudioCase& c, std::ostream* os) {
    *os << c.audio;
}

class SaveAudio : public ::testing::TestWithParam<AudioCase> {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    }
    test::TempDir dir_;
};

TEST_P(SaveAudio, IsTheEncodingFfmpegMakesBesideTheSameVideo) {
    const AudioCase& c = GetParam();
    const std::string src = MediaFile(kSource);
    const std::string out = dir_.File(std::string(c.audio) + ".avi");
    std::string err;
    ASSERT_EQ(Lum({"avi", "save", src, out, "--audio", c.audio}, &err), 0) << err;

    const QJsonObject probe = Probe(out, true), source = Probe(src, true);
    const QJsonObject a = StreamOf(probe, 1);
    EXPECT_EQ(a["codec_name"].toString().toStdString(), c.codec);
    EXPECT_EQ(a["sample_rate"].toString().toInt(), c.rate);
    EXPECT_EQ(a["channels"].toInt(), c.channels);

    // The sound ffmpeg's decoder finds is that of ffmpeg's own encoding of
    // the source, sample for sample, and lasts as long (the last block
    // filled out).
    const std::string reference = dir_.File("reference.wav");
    std::string log;
    ASSERT_EQ(test::Run("ffmpeg -v error -i " + test::Quote(src) + " -map 0:a " + c.reference +
                            " " + test::Quote(reference) + " 2>&1",
                        &log),
              0)
        << log;
    const std::string got = Decoded(out, "-map 0:a -f s16le");
    const std::string want = Decoded(reference, "-map 0:a -f s16le");
    EXPECT_TRUE(got == want) << got.size() << " bytes against " << want.size();
    const std::size_t frames = got.size() / (2 * std::size_t(c.channels));
    const std::size_t source_frames = std::size_t(c.rate) * 2;
    EXPECT_GE(frames, source_frames);
    EXPECT_LT(frames, source_frames + std::size_t(c.frames_per_block));

    // The video is copied packet for packet, in runs of 5 frames with the
    // audio of their time before each.
    const std::vector<QJsonObject> vs = PacketsOf(source, 0), vo = PacketsOf(probe, 0);
    ASSERT_EQ(vo.size(), std::size_t{kFrames});
    ASSERT_EQ(vs.size(), vo.size());
    for (std::size_t i = 0; i < vs.size(); ++i)
        EXPECT_EQ(vo[i]["data_hash"], vs[i]["data_hash"]) << i;
    std::vector<std::pair<long long, int>> order;
    for (const auto& p : probe["packets"].toArray())
        order.emplace_back(p.toObject()["pos"].toString().toLongLong(),
                           p.toObject()["stream_index"].toInt());
    std::sort(order.begin(), order.end());
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.front().second, 1);
    std::vector<int> runs;
    int run = 0;
    for (const auto& [pos, stream] : order) {
        if (stream == 0) {
            ++run;
        } else if (run > 0) {
            runs.push_back(run);
            run = 0;
        }
    }
    if (run > 0) runs.push_back(run);
    EXPECT_EQ(runs, std::vector<int>(kFrames / 5, 5));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SaveAudio,
    ::testing::Values(
        AudioCase{"msadpcm", "adpcm_ms", 44100, 2, 2036, "-c:a adpcm_ms -block_size 2048"},
        AudioCase{"ima", "adpcm_ima_wav", 44100, 2, 2041, "-c:a adpcm_ima_wav -block_size 2048"},
        AudioCase{"gsm", "gsm_ms", 8000, 1, 320, "-ar 8000 -ac 1 -c:a libgsm_ms"},
        AudioCase{"alaw", "pcm_alaw", 44100, 2, 1, "-c:a pcm_alaw"},
        AudioCase{"mulaw", "pcm_mulaw", 44100, 2, 1, "-c:a pcm_mulaw"}),
    [](const ::testing::TestParamInfo<AudioCase>& info) { return std::string(info.param.audio); });

// Back to PCM: MS ADPCM saved as --audio pcm decodes as ffmpeg decodes it.
TEST(SaveAudioBack, CompressedAudioSavedAsPcmIsFfmpegsDecoding) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    test::TempDir dir;
    const std::string adpcm = dir.File("adpcm.avi"), pcm = dir.File("pcm.avi");
    std::string err;
    ASSERT_EQ(Lum({"avi", "save", MediaFile(kSource), adpcm, "--audio", "msadpcm"}, &err), 0)
        << err;
    ASSERT_EQ(Lum({"avi", "save", adpcm, pcm, "--audio", "pcm"}, &err), 0) << err;
    EXPECT_EQ(StreamOf(Probe(pcm), 1)["codec_name"].toString(), "pcm_s16le");
    EXPECT_TRUE(Decoded(pcm, "-map 0:a -f s16le") == Decoded(adpcm, "-map 0:a -f s16le"));
}

// MP3 in AVI comes in chunks of their own sizes: saved as PCM it is the
// whole of ffmpeg's decoding.
TEST(SaveAudioBack, Mp3ChunksSavedAsPcmAreFfmpegsDecoding) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    const Recipe mp3{"SaveAudioMp3",
                     "-f lavfi -i testsrc=size=160x120:rate=25 "
                     "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 "
                     "-c:v mjpeg -q:v 5 -c:a libmp3lame -b:a 96k",
                     "avi"};
    test::TempDir dir;
    const std::string src = MediaFile(mp3), out = dir.File("pcm.avi");
    std::string err;
    ASSERT_EQ(Lum({"avi", "save", src, out, "--audio", "pcm"}, &err), 0) << err;
    const QJsonObject a = StreamOf(Probe(out), 1);
    EXPECT_EQ(a["codec_name"].toString(), "pcm_s16le");
    EXPECT_EQ(a["sample_rate"].toString(), "44100");
    const std::string got = Decoded(out, "-map 0:a -f s16le");
    EXPECT_GE(got.size(), 2u * 88200);
    EXPECT_TRUE(got == Decoded(src, "-map 0:a -f s16le")) << got.size() << " bytes";
}

// Without the module a compressed format is refused with a reason, and
// nothing is written.
TEST(SaveAudioBack, WithoutTheManagerSaysSoAndWritesNothing) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    test::TempDir dir;
    const std::string src = MediaFile(kSource), out = dir.File("out.avi");
    const char* now = std::getenv("LUM_ACM");
    const std::optional<std::string> saved = now ? std::optional<std::string>(now) : std::nullopt;
    acmShutdown();
    ::setenv("LUM_ACM", "", 1);
    std::string err;
    const int status = Lum({"avi", "save", src, out, "--audio", "ima"}, &err);
    acmShutdown();
    if (saved)
        ::setenv("LUM_ACM", saved->c_str(), 1);
    else
        ::unsetenv("LUM_ACM");
    EXPECT_EQ(status, tools::kExitFailure);
    EXPECT_NE(err.find("needs the audio compression manager"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(Lum({"avi", "save", src, out, "--audio", "mp2"}, &err), tools::kExitUsage);
    EXPECT_NE(err.find("unknown audio format"), std::string::npos) << err;
}

} // namespace
} // namespace lum::interop
