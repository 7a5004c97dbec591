// `lum wave play` of compressed files made by ffmpeg: what reaches the
// virtual device (its capture file) and ALSA's file plugin is exactly the
// decode of libsndfile (MS ADPCM) or ffmpeg (IMA ADPCM, and A-law, mu-law
// and GSM through the compression manager).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "media.h"
#include "platform/waveout/waveout.h"
#include "platform/waveout/waveouttest.h"
#include "support/testutil.h"
#include "tools/lumtool.h"

namespace lum::interop {
namespace {

using test::ScopedEnv;

class PlayInterop : public testing::Test {
protected:
    static void SetUpTestSuite() { dir_ = new test::TempDir; }
    static void TearDownTestSuite() {
        samples_.clear();
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    }

    static int Play(const std::vector<std::string>& args, std::string* err = nullptr) {
        std::ostringstream out, e;
        tools::ToolIo io{out, e, false};
        std::vector<std::string> all = {"wave", "play"};
        all.insert(all.end(), args.begin(), args.end());
        const int status = tools::RunLum(all, io);
        if (err) *err = e.str();
        return status;
    }

    struct Sample {
        std::string path;
        std::string decode; // the outside decoder's 16-bit samples
    };

    // A tenth of a second of two tones, stereo at 22050 Hz (GSM: one tone,
    // mono at 8000 Hz) in each codec: two whole codec blocks or frames and a
    // part of a third, so block boundaries and a short last block are
    // crossed. Made on first use with their decodes, by one ffmpeg run for
    // the files and one for the decodes: starting ffmpeg costs more than the
    // plays.
    static const Sample& Media(const std::string& codec) {
        static const char* const kStereo[] = {"adpcm_ms", "adpcm_ima_wav", "pcm_alaw", "pcm_mulaw",
                                              "libmp3lame"};
        if (samples_.empty()) {
            std::string make =
                "ffmpeg -v error -y -f lavfi -i "
                "'aevalsrc=0.125*sin(440*2*PI*t)|0.125*sin(660*2*PI*t):s=22050:d=0.1' "
                "-f lavfi -i sine=f=440:d=0.1:r=8000";
            for (const char* c : kStereo) {
                samples_[c].path = dir_->File(std::string(c) + ".wav");
                make += std::string(" -map 0 -c:a ") + c + " " + test::Quote(samples_[c].path);
            }
            samples_["libgsm_ms"].path = dir_->File("libgsm_ms.wav");
            make += " -map 1 -c:a libgsm_ms " + test::Quote(samples_["libgsm_ms"].path);
            EXPECT_EQ(test::Run(make), 0) << make;

            // ffmpeg decodes all but MS ADPCM; GSM through libgsm, the
            // library the compression manager's driver uses.
            std::string inputs, outputs;
            int n = 0;
            for (auto& [codec_name, sample] : samples_) {
                if (codec_name == "adpcm_ms") continue;
                inputs += std::string(codec_name == "libgsm_ms" ? " -c:a libgsm_ms" : "") + " -i " +
                          test::Quote(sample.path);
                outputs += " -map " + std::to_string(n++) + " -f s16le " +
                           test::Quote(sample.path + ".raw");
            }
            const std::string decode = "ffmpeg -v error -y" + inputs + outputs;
            EXPECT_EQ(test::Run(decode), 0) << decode;
            for (auto& [codec_name, sample] : samples_) {
                if (codec_name == "adpcm_ms") continue;
                const auto bytes = test::ReadFile(sample.path + ".raw");
                sample.decode.assign(bytes.begin(), bytes.end());
            }
            // libsndfile decodes MS ADPCM with every predictor.
            Sample& ms = samples_["adpcm_ms"];
            const std::string pcm = ms.path + ".sndfile.wav";
            EXPECT_EQ(test::Run("sndfile-convert -pcm16 " + test::Quote(ms.path) + " " +
                                test::Quote(pcm) + " >/dev/null 2>&1"),
                      0);
            const std::vector<char> data = test::CaptureData(pcm).value_or(std::vector<char>{});
            ms.decode.assign(data.begin(), data.end());
        }
        return samples_.at(codec);
    }
    static const Sample& Ms() { return Media("adpcm_ms"); }

    static std::map<std::string, Sample> samples_;
    static test::TempDir* dir_;
};

test::TempDir* PlayInterop::dir_ = nullptr;
std::map<std::string, PlayInterop::Sample> PlayInterop::samples_;

TEST_F(PlayInterop, CompressedFilesReachTheVirtualDeviceAsTheirDecode) {
    const std::string capture = dir_->File("capture.wav");
    ScopedEnv env("LUM_WAVEOUT_CAPTURE", capture.c_str());
    for (const char* codec : {"adpcm_ms", "adpcm_ima_wav"}) {
        const Sample& sample = Media(codec);
        SCOPED_TRACE(sample.path);
        // At least the tenth of a second of stereo 16-bit samples.
        ASSERT_GE(sample.decode.size(), 2205u * 4);
        std::string err;
        ASSERT_EQ(Play({sample.path, "--device", "virtual"}, &err), tools::kExitOk) << err;
        const std::vector<char> got = test::CaptureData(capture).value_or(std::vector<char>{});
        EXPECT_EQ(std::string(got.begin(), got.end()), sample.decode);
    }
}

TEST_F(PlayInterop, TheCompressionManagersFormatsReachTheDeviceAsFfmpegsDecode) {
    const std::string capture = dir_->File("capture.wav");
    ScopedEnv env("LUM_WAVEOUT_CAPTURE", capture.c_str());
    // ffmpeg's MP3 wave files leave the byte rate at 0.
    for (const char* codec : {"pcm_alaw", "pcm_mulaw", "libmp3lame", "libgsm_ms"}) {
        const Sample& sample = Media(codec);
        SCOPED_TRACE(sample.path);
        ASSERT_FALSE(sample.decode.empty());
        std::string err;
        ASSERT_EQ(Play({sample.path, "--device", "virtual"}, &err), tools::kExitOk) << err;
        const std::vector<char> got = test::CaptureData(capture).value_or(std::vector<char>{});
        EXPECT_EQ(std::string(got.begin(), got.end()), sample.decode);
    }
}

TEST_F(PlayInterop, AlsasFilePluginReceivesTheDecode) {
    const std::string raw = dir_->File("alsa.raw");
    ScopedEnv alsa("LUM_ALSA_DEVICE", ("file:FILE=" + raw + ",FORMAT=raw").c_str());
    platform::waveout::waveOutRescanDevices();
    std::string err;
    const int status = Play({Ms().path, "--device", "0", "--route", "thread"}, &err);
    platform::waveout::waveOutRescanDevices();
    ASSERT_EQ(status, tools::kExitOk) << err;
    const auto bytes = test::ReadFile(raw);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), Ms().decode);
}

} // namespace
} // namespace lum::interop
