// The wave object's whole-file operations against ffmpeg: a save with a cut
// region against atrim and concat, an import against ffmpeg reading the
// same raw samples, conversions at 48 and 96 kHz, and INFO items as
// ffprobe's tags.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>

#include "audio/lumpcmsup.h"
#include "audio/lumwave.h"
#include "media.h"
#include "support/testutil.h"

namespace lum::interop {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kStereo = "-f lavfi -i 'aevalsrc=sin(440*2*PI*t)|0.5*sin(660*2*PI*t)':s=";

std::string Stereo(const std::string& name, int rate, const char* seconds) {
    return MediaFile(Recipe{name,
                            kStereo + std::to_string(rate) + ":d=" + seconds +
                                " -c:a pcm_s16le -fflags +bitexact",
                            "wav"});
}

// ffmpeg's decode of a file (with Args before the output) as raw bytes.
Bytes Decode(const std::string& in, const std::string& args) {
    std::string out;
    test::Run("ffmpeg -v error -i " + test::Quote(in) + " " + args + " -", &out);
    return Bytes(out.begin(), out.end());
}

class WaveObjectInterop : public testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    }
    test::TempDir dir_;
};

TEST_F(WaveObjectInterop, ASaveWithACutRegionEqualsAtrimAndConcat) {
    const std::string in = Stereo("CutSource", 44100, "1.5");
    // Samples 10000 to 30000 go.
    TLumWave wave;
    wave.SetFileName(in);
    TLumCutList cuts;
    cuts.AddRegion(TLumCutRegion{10000, 0, 20000, 0, 0});
    wave.SetCutList(&cuts);
    const std::string ours = dir_.File("ours.wav");
    wave.SaveToFile(ours);

    const std::string theirs = dir_.File("theirs.wav");
    ASSERT_EQ(test::Run("ffmpeg -v error -y -i " + test::Quote(in) +
                        " -filter_complex '[0:a]atrim=end_sample=10000,asetpts=N/SR/TB[a];"
                        "[0:a]atrim=start_sample=30000,asetpts=N/SR/TB[b];"
                        "[a][b]concat=n=2:v=0:a=1' -c:a pcm_s16le " +
                        test::Quote(theirs)),
              0);
    const Bytes a = Decode(ours, "-f s16le");
    ASSERT_EQ(a.size(), (66150u - 20000u) * 4);
    EXPECT_TRUE(a == Decode(theirs, "-f s16le"));
}

TEST_F(WaveObjectInterop, AnImportEqualsFfmpegReadingTheSameRawSamples) {
    const std::string in = Stereo("ImportSource", 22050, "0.7");
    const std::string raw = dir_.File("samples.raw");
    ASSERT_EQ(
        test::Run("ffmpeg -v error -y -i " + test::Quote(in) + " -f s16le " + test::Quote(raw)), 0);
    TLumWave wave;
    wave.ImportFromRaw(raw, 16, 22050, 2);
    EXPECT_EQ(wave.GetFileName(), dir_.File("samples.WAV"));
    const std::string theirs = dir_.File("theirs.wav");
    ASSERT_EQ(test::Run("ffmpeg -v error -y -f s16le -ar 22050 -ac 2 -i " + test::Quote(raw) + " " +
                        test::Quote(theirs)),
              0);
    const Bytes a = Decode(wave.GetFileName(), "-f s16le");
    EXPECT_EQ(a.size(), test::ReadFile(raw).size());
    EXPECT_TRUE(a == Decode(theirs, "-f s16le"));
    const QJsonObject s = Probe(wave.GetFileName())["streams"].toArray()[0].toObject();
    EXPECT_EQ(s["sample_rate"].toString(), "22050");
    EXPECT_EQ(s["channels"].toInt(), 2);
}

TEST_F(WaveObjectInterop, ConversionsAt48And96KilohertzMatchFfmpeg) {
    {
        // Stereo to mono at 48 kHz: ffmpeg rounds the mean half up, the
        // converter floors it.
        const std::string in = Stereo("Stereo48k", 48000, "1.5");
        TLumWave wave;
        wave.SetFileName(in);
        TWaveFormatEx mono{};
        pcmBuildWaveHeader(&mono, 16, 1, 48000);
        const std::string out = dir_.File("mono.wav");
        wave.ConvertFile(out, &mono);
        const Bytes ours = Decode(out, "-f s16le");
        const Bytes theirs = Decode(in, "-ac 1 -f s16le");
        ASSERT_EQ(ours.size(), theirs.size());
        ASSERT_EQ(ours.size(), 72000u * 2);
        int worst = 0;
        for (std::size_t i = 0; i + 1 < ours.size(); i += 2) {
            const auto x = static_cast<std::int16_t>(ours[i] | ours[i + 1] << 8);
            const auto y = static_cast<std::int16_t>(theirs[i] | theirs[i + 1] << 8);
            worst = std::max(worst, std::abs(x - y));
        }
        EXPECT_LE(worst, 1);
    }
    {
        // 16 to 8 bits at 96 kHz, exactly. ffmpeg marks a 96 kHz file as
        // extensible, which the conversion does not take: the source is
        // made of ffmpeg's samples by an import.
        const std::string raw = dir_.File("s96.raw");
        ASSERT_EQ(test::Run("ffmpeg -v error -y " + kStereo + "96000:d=1.25 -f s16le " +
                            test::Quote(raw)),
                  0);
        TLumWave wave;
        wave.ImportFromRaw(raw, 16, 96000, 2, 0, dir_.File("s96.wav"));
        TWaveFormatEx u8{};
        pcmBuildWaveHeader(&u8, 8, 2, 96000);
        const std::string out = dir_.File("u8.wav");
        wave.ConvertFile(out, &u8);
        const Bytes ours = Decode(out, "-f u8");
        ASSERT_EQ(ours.size(), 120000u * 2);
        std::string theirs;
        test::Run("ffmpeg -v error -f s16le -ar 96000 -ac 2 -i " + test::Quote(raw) + " -f u8 -",
                  &theirs);
        EXPECT_TRUE(ours == Bytes(theirs.begin(), theirs.end()));
    }
}

TEST_F(WaveObjectInterop, InfoItemsShowAsFfprobeTags) {
    const std::string in = Stereo("InfoSource", 8000, "0.2");
    TLumWave wave;
    wave.SetFileName(in);
    wave.SetInfoChunk("INAM", "A title");
    wave.SetInfoChunk("IART", "Someone");
    wave.SetInfoChunk("ICMT", "Words here");
    const std::string out = dir_.File("tagged.wav");
    wave.SaveToFile(out);
    const QJsonObject tags =
        Probe(out, false, "-show_format")["format"].toObject()["tags"].toObject();
    EXPECT_EQ(tags["title"].toString(), "A title");
    EXPECT_EQ(tags["artist"].toString(), "Someone");
    EXPECT_EQ(tags["comment"].toString(), "Words here");
    EXPECT_TRUE(Decode(out, "-f s16le") == Decode(in, "-f s16le"));
}

} // namespace
} // namespace lum::interop
