// The audio worker against ffmpeg: the audio of AVIs that ffmpeg made
// (PCM, MS ADPCM, IMA ADPCM, MP3), read through the worker as 16-bit PCM,
// equals ffmpeg's decode of the stream, whole and over bounded ranges;
// `lum avi audio` writes the same samples; audio the worker writes into new
// AVIs (PCM directly, IMA ADPCM converted from PCM) reads back in ffmpeg.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "audio/lumacm.h"
#include "audio/lumaviaudio.h"
#include "audio/lumpcmsup.h"
#include "media.h"
#include "support/testutil.h"
#include "tools/lumtool.h"

namespace lum::interop {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A second and a half of two tones in stereo at 44.1 kHz beside a tiny
// video, the audio in Codec.
Recipe AudioRecipe(const std::string& name, const std::string& codec) {
    return {name,
            "-f lavfi -i testsrc=size=64x48:rate=10 "
            "-f lavfi -i sine=frequency=440:sample_rate=44100 "
            "-f lavfi -i sine=frequency=660:sample_rate=44100 "
            "-filter_complex [1:a][2:a]amerge=inputs=2[a] -map 0:v -map [a] -t 1.5 "
            "-c:v mjpeg -c:a " +
                codec,
            "avi"};
}

const std::vector<Recipe>& Recipes() {
    static const std::vector<Recipe> r = {
        AudioRecipe("Pcm", "pcm_s16le"),
        AudioRecipe("MsAdpcm", "adpcm_ms"),
        AudioRecipe("ImaAdpcm", "adpcm_ima_wav"),
        AudioRecipe("Mp3", "libmp3lame"),
    };
    return r;
}

TWaveFormatEx Pcm16(int channels, int rate) {
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, 16, channels, rate);
    return f;
}

Bytes FfmpegPcm(const std::string& path) {
    std::string out;
    EXPECT_EQ(test::Run("ffmpeg -v error -i " + test::Quote(path) + " -map 0:a -f s16le -", &out),
              0);
    return Bytes(out.begin(), out.end());
}

// The audio of Path over [Start, Start + Count) as 16-bit PCM through the
// worker.
Bytes WorkerPcm(const std::string& path, LONG start, LONG count, LONG* samplesPerBlock = nullptr) {
    TLumAVIFile file;
    file.SetFileName(path);
    file.OpenFile();
    TLumAVIStream* stream = file.GetTypedStreams(stAudio, 0);
    EXPECT_NE(stream, nullptr);
    if (!stream) return {};
    TLumAVIAudioWorker w(stream);
    const TWaveFormatEx* own = w.GetFormat();
    if (samplesPerBlock) {
        WORD spb = 1;
        if (own->wFormatTag != WAVE_FORMAT_PCM && own->cbSize >= 2)
            std::memcpy(&spb, reinterpret_cast<const std::uint8_t*>(own) + 18, 2);
        *samplesPerBlock = spb;
    }
    const TWaveFormatEx pcm = Pcm16(own->nChannels, static_cast<int>(own->nSamplesPerSec));
    w.BeginReadingAs(start < 0 ? stream->GetStartPos() : start,
                     count < 0 ? stream->GetLength() : count, &pcm);
    Bytes out, buf(5000);
    for (LONG m; (m = w.ReadConvertedData(buf.data(), static_cast<LONG>(buf.size()))) > 0;)
        out.insert(out.end(), buf.begin(), buf.begin() + m);
    return out;
}

LONG StreamLength(const std::string& path) {
    TLumAVIFile file;
    file.SetFileName(path);
    file.OpenFile();
    return file.GetTypedStreams(stAudio, 0)->GetLength();
}

// The largest difference of two 16-bit sample runs of the same length.
int WorstDifference(const Bytes& a, const Bytes& b) {
    int worst = 0;
    for (std::size_t i = 0; i + 1 < std::min(a.size(), b.size()); i += 2) {
        std::int16_t x, y;
        std::memcpy(&x, &a[i], 2);
        std::memcpy(&y, &b[i], 2);
        worst = std::max(worst, std::abs(x - y));
    }
    return worst;
}

class AviAudioRead : public ::testing::TestWithParam<Recipe> {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
        ASSERT_TRUE(acmStartup()) << "compression manager module not found";
        path = MediaFile(GetParam());
        reference = FfmpegPcm(path);
        ASSERT_GT(reference.size(), 100000u);
    }
    bool Lossy() const { return GetParam().name == "Mp3"; }
    void ExpectSame(const Bytes& ours, const Bytes& theirs) {
        ASSERT_EQ(ours.size(), theirs.size());
        if (Lossy())
            EXPECT_LE(WorstDifference(ours, theirs), 1); // float decoder, rounded to 16 bits
        else
            EXPECT_TRUE(ours == theirs)
                << "first difference at byte "
                << std::mismatch(ours.begin(), ours.end(), theirs.begin()).first - ours.begin();
    }
    std::string path;
    Bytes reference;
};

TEST_P(AviAudioRead, WholeStreamAsPcmEqualsFfmpeg) {
    ExpectSame(WorkerPcm(path, -1, -1), reference);
}

// Ranges of blocks at the start, in the middle and at the end decode to
// the same slice of ffmpeg's samples. An MP3 frame leans on the frames
// before it, so only a range from the start can match.
TEST_P(AviAudioRead, BoundedRangesAreSlicesOfTheDecode) {
    const LONG length = StreamLength(path);
    const LONG n = std::max<LONG>(length / 8, 2);
    std::vector<LONG> starts = {0};
    if (!Lossy()) starts.insert(starts.end(), {length / 2 - 1, length - n});
    for (LONG start : starts) {
        SCOPED_TRACE("range from block " + std::to_string(start));
        LONG spb = 0;
        const Bytes ours = WorkerPcm(path, start, n, &spb);
        const std::size_t frame = 4; // 16-bit stereo
        const std::size_t from = std::size_t(start) * spb * frame;
        const std::size_t to = std::min(reference.size(), std::size_t(start + n) * spb * frame);
        ASSERT_LT(from, to);
        if (Lossy()) {
            // MP3 frames are 1152 samples each, whatever the header says.
            ASSERT_GE(ours.size(), std::size_t(n) * 1152 * frame);
            ExpectSame(Bytes(ours.begin(), ours.begin() + std::size_t(n) * 1152 * frame),
                       Bytes(reference.begin(), reference.begin() + std::size_t(n) * 1152 * frame));
        } else {
            ExpectSame(ours, Bytes(reference.begin() + from, reference.begin() + to));
        }
    }
}

// `lum avi audio` as PCM and in the stream's own format.
TEST_P(AviAudioRead, LumAviAudioWritesTheStreamAsWave) {
    test::TempDir dir;
    std::ostringstream out, err;
    tools::ToolIo io{out, err};
    const std::string pcm = dir.File("pcm.wav"), own = dir.File("own.wav");
    ASSERT_EQ(tools::RunLum({"avi", "audio", path, pcm, "--format", "pcm16"}, io), 0) << err.str();
    ExpectSame(FfmpegPcm(pcm), reference);
    ASSERT_EQ(tools::RunLum({"avi", "audio", path, own}, io), 0) << err.str();
    ExpectSame(FfmpegPcm(own), reference);
    const QJsonObject probe = Probe(own);
    const QJsonObject s = probe["streams"].toArray().at(0).toObject();
    const std::map<std::string, std::string> codecs = {{"Pcm", "pcm_s16le"},
                                                       {"MsAdpcm", "adpcm_ms"},
                                                       {"ImaAdpcm", "adpcm_ima_wav"},
                                                       {"Mp3", "mp3"}};
    EXPECT_EQ(s["codec_name"].toString().toStdString(), codecs.at(GetParam().name));

    EXPECT_EQ(tools::RunLum({"avi", "audio", path, dir.File("x.wav"), "--stream", "1"}, io),
              tools::kExitFailure);
    EXPECT_NE(err.str().find("no audio stream 1 (it has 1)"), std::string::npos) << err.str();
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviAudioRead, ::testing::ValuesIn(Recipes()),
                         [](const auto& info) { return info.param.name; });

// Two tones under a ramp, a little below full scale, interleaved stereo.
std::vector<std::int16_t> Signal(int frames, int rate) {
    std::vector<std::int16_t> s;
    s.reserve(std::size_t(frames) * 2);
    for (int k = 0; k < frames; ++k) {
        const double amp = 20000.0 * std::min(1.0, k / (rate * 0.05));
        s.push_back(static_cast<std::int16_t>(amp * std::sin(2 * M_PI * 330 * k / rate)));
        s.push_back(static_cast<std::int16_t>(amp * std::sin(2 * M_PI * 523 * k / rate)));
    }
    return s;
}

// Writes Data in 4096-byte calls into a new AVI with one audio stream of
// format To, the data being of format From.
void WriteAvi(const std::string& path, const TWaveFormatEx* to, const TWaveFormatEx* from,
              const std::vector<std::int16_t>& data) {
    TLumAVIFile file;
    file.SetFileName(path);
    file.SetAccessMode(amReadWrite);
    file.CreateFile();
    TLumAVIStream* stream = file.CreateAudioStream(to, "Sound");
    {
        TLumAVIAudioWorker w(stream, from);
        w.BeginWriting(0, 4096);
        const auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
        const std::size_t size = data.size() * 2;
        for (std::size_t at = 0; at < size; at += 4096)
            w.WriteData(p + at, static_cast<LONG>(std::min<std::size_t>(4096, size - at)));
        w.EndWriting();
    }
    stream->Release();
}

class AviAudioWrite : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
        ASSERT_TRUE(acmStartup()) << "compression manager module not found";
    }
    test::TempDir dir;
};

TEST_F(AviAudioWrite, PcmReadsBackInFfmpegUnchanged) {
    const TWaveFormatEx pcm = Pcm16(2, 44100);
    const auto data = Signal(44100, 44100);
    const std::string path = dir.File("pcm.avi");
    WriteAvi(path, &pcm, &pcm, data);
    const QJsonObject s = Probe(path)["streams"].toArray().at(0).toObject();
    EXPECT_EQ(s["codec_name"].toString(), "pcm_s16le");
    EXPECT_EQ(s["sample_rate"].toString(), "44100");
    EXPECT_EQ(s["channels"].toInt(), 2);
    const Bytes back = FfmpegPcm(path);
    ASSERT_EQ(back.size(), data.size() * 2);
    EXPECT_EQ(std::memcmp(back.data(), data.data(), back.size()), 0);
}

// Ten seconds converted to IMA ADPCM through repeated 4096-byte calls (the
// case that overran the source buffer; run under AddressSanitizer too).
TEST_F(AviAudioWrite, ImaEncodeOfTenSecondsReadsBackInFfmpeg) {
    TWaveFormatEx ima{};
    ima.wFormatTag = WAVE_FORMAT_IMA_ADPCM;
    ima.nChannels = 2;
    ima.nSamplesPerSec = 44100;
    ima.nBlockAlign = 2048;
    ima.wBitsPerSample = 4;
    ima.nAvgBytesPerSec = 44100 * 2048 / 2041;
    ima.cbSize = 2;
    struct {
        TWaveFormatEx wf;
        WORD spb;
    } __attribute__((packed)) rec{ima, 2041};
    const TWaveFormatEx pcm = Pcm16(2, 44100);
    const int frames = 441000;
    const auto data = Signal(frames, 44100);
    const std::string path = dir.File("ima.avi");
    WriteAvi(path, &rec.wf, &pcm, data);

    const QJsonObject probe = Probe(path);
    EXPECT_EQ(probe["streams"].toArray().at(0).toObject()["codec_name"].toString(),
              "adpcm_ima_wav");
    const auto packets = PacketsOf(probe, 0);
    ASSERT_FALSE(packets.empty());
    for (const QJsonObject& p : packets)
        EXPECT_EQ(p["size"].toString(), "2048");
    const Bytes back = FfmpegPcm(path);
    // Every frame given is written: the last block is filled out with
    // silence, so at most one block more comes back.
    const std::size_t got = back.size() / 4;
    ASSERT_GE(got, std::size_t(frames));
    EXPECT_LT(got, std::size_t(frames + 2041));
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < std::size_t(frames) * 2; ++i) {
        std::int16_t y;
        std::memcpy(&y, &back[i * 2], 2);
        signal += double(data[i]) * data[i];
        noise += (double(data[i]) - y) * (double(data[i]) - y);
    }
    const double snr = 10 * std::log10(signal / std::max(noise, 1.0));
    RecordProperty("snr_db", std::to_string(snr));
    EXPECT_GT(snr, 25.0) << "SNR " << snr << " dB";
}

} // namespace
} // namespace lum::interop
