// Saving and cutting with `lum avi save` and `lum avi cut`, checked by
// ffprobe and ffmpeg: codec, size, rate, frame count and key frames of
// saved files; packets of plain copies; frames of lossless saves; cuts
// against ffmpeg's select and atrim; memory files against ffprobe's list
// of streams.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "core/streams.h"
#include "media.h"
#include "support/testutil.h"
#include "tools/lumtool.h"
#include "video/lumavi.h"

namespace lum::interop {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kSource =
    "-f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=22050 "
    "-t 2 -map 0:v -map 1:a -c:a pcm_s16le ";
const Recipe kRaw{"SaveRaw", kSource + "-c:v rawvideo -pix_fmt bgr24", "avi"};
const Recipe kMjpeg{"SaveMjpeg", kSource + "-c:v mjpeg -q:v 3", "avi"};
// Delta frames: key frames at 0, 10, 20, ...
const Recipe kMpeg4{"SaveMpeg4", kSource + "-c:v mpeg4 -g 10 -bf 0 -q:v 3", "avi"};

constexpr int kFrames = 50;
constexpr std::size_t kFrameBytes = 160 * 120 * 3;

int Lum(const std::vector<std::string>& args, std::string* err = nullptr) {
    std::ostringstream out, errs;
    tools::ToolIo io{out, errs, false};
    const int status = tools::RunLum(args, io);
    if (err) *err = errs.str();
    return status;
}

// The hash of every video frame, decoded by ffmpeg to 24-bit RGB.
std::vector<std::string> FrameMd5s(const std::string& path, const std::string& filter = "") {
    std::string out;
    const std::string cmd = "ffmpeg -v error -i " + test::Quote(path) + " -map 0:v " +
                            (filter.empty() ? "" : "-vf " + test::Quote(filter) + " ") +
                            "-vsync passthrough -pix_fmt bgr24 -f framemd5 -";
    EXPECT_EQ(test::Run(cmd, &out), 0) << cmd;
    std::vector<std::string> md5s;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] != '#') md5s.push_back(line.substr(line.rfind(',') + 2));
    return md5s;
}

// Decoded output as raw bytes (Args choose the stream and format).
Bytes Decoded(const std::string& path, const std::string& args) {
    std::string out;
    const std::string cmd = "ffmpeg -v error -i " + test::Quote(path) + " " + args + " -";
    EXPECT_EQ(test::Run(cmd, &out), 0) << cmd;
    return Bytes(out.begin(), out.end());
}

std::vector<bool> KeyFlags(const QJsonObject& probe, int stream) {
    std::vector<bool> keys;
    for (const QJsonObject& p : PacketsOf(probe, stream))
        keys.push_back(p["flags"].toString().startsWith('K'));
    return keys;
}

QJsonObject StreamOf(const QJsonObject& probe, int i) {
    return probe["streams"].toArray()[i].toObject();
}

double Psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    double se = 0;
    for (std::size_t i = 0; i < n; ++i)
        se += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(n) / se);
}

class SaveInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    }
    test::TempDir dir_;
};

struct CodecCase {
    const char* codec;
    const char* name; // ffprobe's codec_name
    bool exact;       // key frames exactly every 6 (else: at least there)
};

void PrintTo(const CodecCase& c, std::ostream* os) {
    *os << c.codec;
}

class SaveCodec : public SaveInterop, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(SaveCodec, GivesTheCodecSizeRateFramesAndKeyFramesAsked) {
    const CodecCase& c = GetParam();
    const std::string src = MediaFile(kRaw);
    const std::string out = dir_.File(std::string(c.codec) + ".avi");
    std::string err;
    ASSERT_EQ(Lum({"avi", "save", src, out, "--codec", c.codec, "--keyframes", "6"}, &err), 0)
        << err;
    const QJsonObject probe = Probe(out);
    const QJsonObject v = StreamOf(probe, 0);
    EXPECT_EQ(v["codec_name"].toString().toStdString(), c.name);
    EXPECT_EQ(v["width"].toInt(), 160);
    EXPECT_EQ(v["height"].toInt(), 120);
    EXPECT_EQ(v["r_frame_rate"].toString(), "25/1");
    EXPECT_EQ(v["nb_frames"].toString(), QString::number(kFrames));
    const std::vector<bool> keys = KeyFlags(probe, 0);
    ASSERT_EQ(keys.size(), std::size_t{kFrames});
    const std::string name = c.name;
    const bool intra = name == "mjpeg" || name == "ffv1" || name == "huffyuv" || name == "rawvideo";
    for (int i = 0; i < kFrames; ++i) {
        if (intra || i % 6 == 0)
            EXPECT_TRUE(keys[i]) << i;
        else if (c.exact)
            EXPECT_FALSE(keys[i]) << i;
    }
    // The audio as it was.
    EXPECT_EQ(StreamOf(probe, 1)["codec_name"].toString(), "pcm_s16le");
    EXPECT_EQ(Decoded(out, "-map 0:a -f s16le"), Decoded(src, "-map 0:a -f s16le"));
}

INSTANTIATE_TEST_SUITE_P(
    SaveCodecs, SaveCodec,
    ::testing::Values(CodecCase{"mjpeg", "mjpeg", false}, CodecCase{"xvid", "mpeg4", true},
                      CodecCase{"h264", "h264", true}, CodecCase{"ffv1", "ffv1", false},
                      CodecCase{"huffyuv", "huffyuv", false}, CodecCase{"msvc", "msvideo1", false},
                      CodecCase{"cvid", "cinepak", false}, CodecCase{"none", "rawvideo", false}),
    [](const ::testing::TestParamInfo<CodecCase>& info) { return std::string(info.param.codec); });

TEST_F(SaveInterop, LosslessSavesGiveTheSourcesFrames) {
    const std::string src = MediaFile(kRaw);
    const std::vector<std::string> want = FrameMd5s(src);
    ASSERT_EQ(want.size(), std::size_t{kFrames});
    for (const char* codec : {"ffv1", "huffyuv", "none"}) {
        SCOPED_TRACE(codec);
        const std::string out = dir_.File(std::string(codec) + ".avi");
        ASSERT_EQ(Lum({"avi", "save", src, out, "--codec", codec}), 0);
        EXPECT_EQ(FrameMd5s(out), want);
    }
}

TEST_F(SaveInterop, PlainCopyKeepsEveryPacketAndInterleavesEveryNFrames) {
    const std::string src = MediaFile(kMpeg4), out = dir_.File("copy.avi");
    ASSERT_EQ(Lum({"avi", "save", src, out, "--interleave", "5"}), 0);
    const QJsonObject a = Probe(src, true), b = Probe(out, true);
    const std::vector<QJsonObject> pa = PacketsOf(a, 0), pb = PacketsOf(b, 0);
    ASSERT_EQ(pb.size(), pa.size());
    for (std::size_t i = 0; i < pa.size(); ++i) {
        EXPECT_EQ(pb[i]["data_hash"], pa[i]["data_hash"]) << i;
        EXPECT_EQ(pb[i]["flags"], pa[i]["flags"]) << i;
    }
    EXPECT_EQ(Decoded(out, "-map 0:a -f s16le"), Decoded(src, "-map 0:a -f s16le"));
    // In file order, the video comes in runs of 5 frames with audio between.
    std::vector<std::pair<long long, int>> order;
    for (const auto& p : b["packets"].toArray())
        order.emplace_back(p.toObject()["pos"].toString().toLongLong(),
                           p.toObject()["stream_index"].toInt());
    std::sort(order.begin(), order.end());
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

// Rate control is libavcodec's: the same target gives what ffmpeg gives,
// and a higher target more.
TEST_F(SaveInterop, DataRateIsHeldAsFfmpegHoldsIt) {
    const Recipe smooth{"SaveSmooth",
                        "-f lavfi -i testsrc2=size=320x240:rate=25 -t 1 "
                        "-c:v rawvideo -pix_fmt bgr24",
                        "avi"};
    const std::string src = MediaFile(smooth);
    auto video_bytes = [](const std::string& path) {
        long long n = 0;
        for (const QJsonObject& p : PacketsOf(Probe(path), 0))
            n += p["size"].toString().toLongLong();
        return static_cast<double>(n);
    };
    const std::string low = dir_.File("low.avi"), high = dir_.File("high.avi"),
                      ref = dir_.File("ref.avi");
    ASSERT_EQ(
        Lum({"avi", "save", src, low, "--codec", "xvid", "--keyframes", "12", "--data-rate", "15"}),
        0);
    ASSERT_EQ(Lum({"avi", "save", src, high, "--codec", "xvid", "--keyframes", "12", "--data-rate",
                   "60"}),
              0);
    ASSERT_EQ(test::Run("ffmpeg -v error -y -i " + test::Quote(src) +
                        " -c:v mpeg4 -g 12 -bf 0 -b:v 120k " + test::Quote(ref)),
              0);
    EXPECT_NEAR(video_bytes(low), video_bytes(ref), video_bytes(ref) * 0.05);
    EXPECT_GT(video_bytes(high), 1.5 * video_bytes(low));
}

// Quality 90 % is qscale 4: the size ffmpeg's -q:v 4 gives, for MJPEG and
// MPEG-4.
TEST_F(SaveInterop, QualityIsTheQscaleFfmpegUses) {
    const std::string src = MediaFile(kMjpeg);
    for (const auto& [codec, args] :
         {std::pair<std::string, std::string>{"mjpeg", "-c:v mjpeg -pix_fmt yuvj420p"},
          {"xvid", "-c:v mpeg4 -vtag XVID -g 12 -bf 0"}}) {
        SCOPED_TRACE(codec);
        const std::string ours = dir_.File(codec + ".avi"), theirs = dir_.File(codec + "-f.avi");
        ASSERT_EQ(Lum({"avi", "save", src, ours, "--codec", codec, "--quality", "90", "--keyframes",
                       "12"}),
                  0);
        ASSERT_EQ(test::Run("ffmpeg -v error -y -i " + test::Quote(src) + " -an " + args +
                            " -q:v 4 " + test::Quote(theirs)),
                  0);
        const std::vector<QJsonObject> a = PacketsOf(Probe(ours), 0),
                                       b = PacketsOf(Probe(theirs), 0);
        ASSERT_EQ(a.size(), b.size());
        double x = 0, y = 0;
        for (std::size_t f = 0; f < a.size(); ++f) {
            x += a[f]["size"].toString().toDouble();
            y += b[f]["size"].toString().toDouble();
        }
        EXPECT_NEAR(x, y, y * 0.03);
        // And the pictures are ffmpeg's, near enough.
        const Bytes p = Decoded(ours, "-map 0:v -pix_fmt bgr24 -f rawvideo"),
                    q = Decoded(theirs, "-map 0:v -pix_fmt bgr24 -f rawvideo");
        ASSERT_EQ(p.size(), q.size());
        ASSERT_EQ(p.size(), kFrameBytes * kFrames);
        for (std::size_t f = 0; f < kFrames; f += 7)
            EXPECT_GT(Psnr(&p[f * kFrameBytes], &q[f * kFrameBytes], kFrameBytes), 40) << f;
    }
}

// Cutting frames 13 to 21: the frames ffmpeg's select keeps, and the audio
// its atrim keeps around the same stretch of time.
TEST_F(SaveInterop, CutsGiveTheFramesAndAudioFfmpegKeeps) {
    const std::string select = "select='not(between(n,13,21))'";
    const std::string atrim =
        "-filter_complex " +
        test::Quote("[0:a]atrim=end_sample=11466[a];[0:a]atrim=start_sample=19404[b];"
                    "[a][b]concat=v=0:a=1") +
        " -f s16le";
    {
        // Every frame a key frame: the kept samples as they are.
        const std::string src = MediaFile(kMjpeg), out = dir_.File("cut-mjpeg.avi");
        std::string err;
        ASSERT_EQ(Lum({"avi", "cut", src, out, "--start", "13", "--length", "9"}, &err), 0) << err;
        const std::vector<std::string> want = FrameMd5s(src, select);
        ASSERT_EQ(want.size(), std::size_t{kFrames - 9});
        EXPECT_EQ(FrameMd5s(out), want);
        EXPECT_EQ(Decoded(out, "-map 0:a -f s16le"), Decoded(src, atrim));
    }
    {
        // Delta frames: source frames 22-29 lose their key frame and are
        // compressed again (positions 13-20); the rest decode exactly.
        const std::string src = MediaFile(kMpeg4), out = dir_.File("cut-mpeg4.avi");
        ASSERT_EQ(Lum({"avi", "cut", src, out, "--start", "13", "--length", "9"}), 0);
        const Bytes want = Decoded(src, "-map 0:v -vf " + test::Quote(select) +
                                            " -vsync passthrough -pix_fmt bgr24 -f rawvideo");
        const Bytes got = Decoded(out, "-map 0:v -pix_fmt bgr24 -f rawvideo");
        ASSERT_EQ(want.size(), std::size_t{kFrames - 9} * kFrameBytes);
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t f = 0; f < kFrames - 9; ++f) {
            const double psnr = Psnr(&got[f * kFrameBytes], &want[f * kFrameBytes], kFrameBytes);
            if (f >= 13 && f <= 20)
                EXPECT_GT(psnr, 30) << f;
            else
                EXPECT_EQ(psnr, 99) << f;
        }
        const std::vector<bool> keys = KeyFlags(Probe(out), 0);
        ASSERT_EQ(keys.size(), std::size_t{kFrames - 9});
        EXPECT_TRUE(keys[0] && keys[10] && keys[13] && keys[21]);
        EXPECT_EQ(Decoded(out, "-map 0:a -f s16le"), Decoded(src, atrim));
    }
    std::string err;
    EXPECT_EQ(
        Lum({"avi", "cut", MediaFile(kMjpeg), dir_.File("x.avi"), "--start", "50", "--length", "1"},
            &err),
        tools::kExitFailure);
    EXPECT_NE(err.find("past the last frame"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(dir_.File("x.avi")));
}

// Pasting through the library's editable stream: frames 10-19 pasted before
// the whole clip, then frames 40-49 cut, give what ffmpeg's trim and concat
// give.
TEST_F(SaveInterop, PastesAndCutsGiveTheFramesConcatGives) {
    const std::string src = MediaFile(kMjpeg), out = dir_.File("paste.avi");
    TLumAVIFile file;
    file.SetFileName(src);
    file.SetShareMode(smRead);
    file.OpenFile();
    TLumAVIStream* video = file.GetTypedStreams(stVideo, 0);
    ASSERT_NE(video, nullptr);
    auto* edit = new TLumAVIEditableStream();
    edit->Load(video);
    EXPECT_EQ(edit->Paste(0, video, 10, 10), 10);
    edit->Cut(50, 10)->Release(); // source frames 40-49
    ASSERT_EQ(edit->GetLength(), 50);
    {
        TLumAVICompressor compressor;
        compressor.AddStream(edit);
        compressor.GetOptions(0)->fccHandler = 0;
        ASSERT_TRUE(compressor.SaveToFile(out));
    }
    edit->Release();
    const std::string graph = "[0:v]trim=start_frame=10:end_frame=20,setpts=PTS-STARTPTS[a];"
                              "[0:v]trim=end_frame=40,setpts=PTS-STARTPTS[b];"
                              "[a][b]concat=n=2:v=1:a=0";
    std::string text;
    ASSERT_EQ(test::Run("ffmpeg -v error -i " + test::Quote(src) + " -filter_complex " +
                            test::Quote(graph) + " -an -pix_fmt bgr24 -f framemd5 -",
                        &text),
              0);
    std::vector<std::string> want;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] != '#') want.push_back(line.substr(line.rfind(',') + 2));
    ASSERT_EQ(want.size(), 50u);
    EXPECT_EQ(FrameMd5s(out), want);
}

TEST_F(SaveInterop, MemoryFilesListTheStreamsFfprobeLists) {
    for (const Recipe& r : AviRecipes()) {
        SCOPED_TRACE(r.name);
        const std::string path = MediaFile(r);
        TMemoryStream bytes;
        bytes.LoadFromFile(path);
        TLumAVIMemoryFile m;
        m.CreateFromMemoryStream(&bytes);
        const QJsonArray streams = Probe(path)["streams"].toArray();
        ASSERT_EQ(m.GetStreamCount(), streams.size());
        for (int i = 0; i < m.GetStreamCount(); ++i) {
            const QString type = streams[i].toObject()["codec_type"].toString();
            const TLumAVIStreamType t = m.GetStreams(i)->GetStreamType();
            EXPECT_EQ(t == stVideo ? "video" : t == stAudio ? "audio" : "other", type) << i;
            if (t == stVideo)
                EXPECT_EQ(QString::number(m.GetStreams(i)->GetLength()),
                          streams[i].toObject()["nb_frames"].toString());
        }
    }
}

} // namespace
} // namespace lum::interop
