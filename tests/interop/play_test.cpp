// `lum wave play` of compressed files made by ffmpeg: what reaches the
// virtual device (its capture file) and ALSA's file plugin is exactly the
// decode of libsndfile (MS ADPCM) or ffmpeg (IMA ADPCM, and A-law, mu-law
// and GSM through the compression manager).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "media.h"
#include "platform/waveout/waveout.h"
#include "platform/waveout/waveouttest.h"
#include "support/testutil.h"
#include "tools/lumtool.h"

namespace lum::interop {
namespace {

using test::ScopedEnv;

std::string Decoded(const std::string& command) {
    std::string out;
    EXPECT_EQ(test::Run(command, &out), 0) << command;
    return out;
}

class PlayInterop : public testing::Test {
protected:
    static void SetUpTestSuite() { dir_ = new test::TempDir; }
    static void TearDownTestSuite() {
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

    // A third of a second of two tones, stereo at 22050 Hz (GSM: mono at
    // 8000 Hz) in Codec, made on first use.
    static std::string Media(const std::string& codec) {
        const std::string path = dir_->File(codec + ".wav");
        if (!std::filesystem::exists(path)) {
            const std::string tone =
                codec == "libgsm_ms"
                    ? "-f lavfi -i sine=f=440:d=0.3:r=8000"
                    : "-f lavfi -i sine=f=440:d=0.3:r=22050 -f lavfi -i sine=f=660:d=0.3:r=22050 "
                      "-filter_complex amerge=inputs=2";
            EXPECT_EQ(test::Run("ffmpeg -v error -y " + tone + " -c:a " + codec + " " +
                                test::Quote(path)),
                      0);
        }
        return path;
    }
    static std::string Ms() { return Media("adpcm_ms"); }
    static std::string Ima() { return Media("adpcm_ima_wav"); }
    static std::string SndfileDecode(const std::string& path) {
        const std::string out = dir_->File("sndfile.raw");
        EXPECT_EQ(test::Run("sndfile-convert -pcm16 " + test::Quote(path) + " " +
                            test::Quote(out + ".wav") + " >/dev/null 2>&1"),
                  0);
        return Decoded("ffmpeg -v error -i " + test::Quote(out + ".wav") + " -f s16le -");
    }
    static std::string FfmpegDecode(const std::string& path) {
        return Decoded("ffmpeg -v error -i " + test::Quote(path) + " -f s16le -");
    }

    static test::TempDir* dir_;
};

test::TempDir* PlayInterop::dir_ = nullptr;

TEST_F(PlayInterop, CompressedFilesReachTheVirtualDeviceAsTheirDecode) {
    const std::string capture = dir_->File("capture.wav");
    ScopedEnv env("LUM_WAVEOUT_CAPTURE", capture.c_str());
    for (const auto& [path, expected] :
         {std::pair{Ms(), SndfileDecode(Ms())}, {Ima(), FfmpegDecode(Ima())}}) {
        SCOPED_TRACE(path);
        ASSERT_GT(expected.size(), 22050u * 4 / 4);
        std::string err;
        ASSERT_EQ(Play({path, "--device", "virtual"}, &err), tools::kExitOk) << err;
        const std::vector<char> got = test::CaptureData(capture).value_or(std::vector<char>{});
        EXPECT_EQ(std::string(got.begin(), got.end()), expected);
    }
}

TEST_F(PlayInterop, TheCompressionManagersFormatsReachTheDeviceAsFfmpegsDecode) {
    const std::string capture = dir_->File("capture.wav");
    ScopedEnv env("LUM_WAVEOUT_CAPTURE", capture.c_str());
    const std::string gsm = Media("libgsm_ms");
    for (const auto& [path, expected] :
         {std::pair{Media("pcm_alaw"), FfmpegDecode(Media("pcm_alaw"))},
          {Media("pcm_mulaw"), FfmpegDecode(Media("pcm_mulaw"))},
          // ffmpeg's MP3 wave files leave the byte rate at 0.
          {Media("libmp3lame"), FfmpegDecode(Media("libmp3lame"))},
          {gsm,
           Decoded("ffmpeg -v error -c:a libgsm_ms -i " + test::Quote(gsm) + " -f s16le -")}}) {
        SCOPED_TRACE(path);
        ASSERT_FALSE(expected.empty());
        std::string err;
        ASSERT_EQ(Play({path, "--device", "virtual"}, &err), tools::kExitOk) << err;
        const std::vector<char> got = test::CaptureData(capture).value_or(std::vector<char>{});
        EXPECT_EQ(std::string(got.begin(), got.end()), expected);
    }
}

TEST_F(PlayInterop, AlsasFilePluginReceivesTheDecode) {
    const std::string raw = dir_->File("alsa.raw");
    ScopedEnv alsa("LUM_ALSA_DEVICE", ("file:FILE=" + raw + ",FORMAT=raw").c_str());
    platform::waveout::waveOutRescanDevices();
    std::string err;
    const int status = Play({Ms(), "--device", "0", "--route", "thread"}, &err);
    platform::waveout::waveOutRescanDevices();
    ASSERT_EQ(status, tools::kExitOk) << err;
    const auto bytes = test::ReadFile(raw);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), SndfileDecode(Ms()));
}

} // namespace
} // namespace lum::interop
