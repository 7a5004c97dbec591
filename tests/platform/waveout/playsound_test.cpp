// The simple sound player on the virtual device: waiting and not waiting,
// looping, stopping, the default sound, and files, memory images and a
// sound that is already playing.
#include <gtest/gtest.h>

#include <thread>

#include "platform/waveout/playsound.h"
#include "platform/waveout/waveouttest.h"

namespace lum::platform::waveout {
namespace {

using test::CaptureData;
using test::PcmFormat;
using test::ScopedEnv;
using test::SecondsSince;
using Clock = std::chrono::steady_clock;

// A RIFF WAVE image of Data in Format.
std::vector<char> WaveImage(const WAVEFORMATEX& format, const std::vector<char>& data) {
    std::vector<char> w(44 + data.size());
    auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            w[at + i] = static_cast<char>(v >> (8 * i));
    };
    std::memcpy(w.data(), "RIFF", 4);
    put(4, static_cast<std::uint32_t>(36 + data.size()), 4);
    std::memcpy(w.data() + 8, "WAVEfmt ", 8);
    put(16, 16, 4);
    std::memcpy(w.data() + 20, &format, 16);
    std::memcpy(w.data() + 36, "data", 4);
    put(40, static_cast<std::uint32_t>(data.size()), 4);
    std::copy(data.begin(), data.end(), w.begin() + 44);
    return w;
}

class SoundPlayer : public testing::Test {
protected:
    void SetUp() override {
        // The mapper must play on the virtual device, whatever the machine has.
        alsa_ = std::make_unique<ScopedEnv>("LUM_ALSA_DEVICE", "lum-no-such-pcm");
        waveOutRescanDevices();
        capture_path_ = dir_.File("capture.wav");
        capture_ = std::make_unique<ScopedEnv>("LUM_WAVEOUT_CAPTURE", capture_path_.c_str());
        format_ = PcmFormat(16, 1, 8000);
        data_ = test::Pattern(1600, 7); // 0.1 s
        image_ = WaveImage(format_, data_);
    }
    void TearDown() override {
        PlaySound(nullptr, nullptr, 0);
        alsa_.reset();
        waveOutRescanDevices();
    }
    std::vector<char> Captured() {
        return CaptureData(capture_path_).value_or(std::vector<char>{});
    }

    test::TempDir dir_;
    std::unique_ptr<ScopedEnv> alsa_;
    std::string capture_path_;
    std::unique_ptr<ScopedEnv> capture_;
    WAVEFORMATEX format_{};
    std::vector<char> data_;
    std::vector<char> image_;
};

TEST_F(SoundPlayer, ASynchronousSoundPlaysWholeBeforeTheCallReturns) {
    const auto start = Clock::now();
    EXPECT_EQ(sndPlaySound(image_.data(), SND_SYNC | SND_MEMORY | SND_NODEFAULT), 1);
    EXPECT_GE(SecondsSince(start), 0.1 * 0.95);
    EXPECT_FALSE(SoundPlaying());
    EXPECT_EQ(Captured(), data_);

    // The same from a file.
    const std::string path = dir_.File("sound.wav");
    test::WriteFile(path, std::vector<std::uint8_t>(image_.begin(), image_.end()));
    EXPECT_EQ(PlaySound(path.c_str(), nullptr, SND_FILENAME | SND_NODEFAULT), 1);
    EXPECT_EQ(Captured(), data_);
}

TEST_F(SoundPlayer, AnAsynchronousSoundReturnsAtOnceAndStopsWhenAsked) {
    std::vector<char> long_data = test::Pattern(16000, 8); // 1 s
    std::vector<char> image = WaveImage(format_, long_data);
    const auto start = Clock::now();
    ASSERT_EQ(sndPlaySound(image.data(), SND_ASYNC | SND_MEMORY | SND_NODEFAULT), 1);
    EXPECT_LT(SecondsSince(start), 0.5);
    EXPECT_TRUE(SoundPlaying());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sndPlaySound(nullptr, 0), 1);
    EXPECT_FALSE(SoundPlaying());
    const std::vector<char> got = Captured();
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), long_data.size() / 2);
    EXPECT_EQ(got, std::vector<char>(long_data.begin(),
                                     long_data.begin() + static_cast<long>(got.size())));
}

TEST_F(SoundPlayer, ALoopRepeatsUntilStoppedAndNeedsAsync) {
    EXPECT_EQ(sndPlaySound(image_.data(), SND_LOOP | SND_MEMORY | SND_NODEFAULT), 0);
    ASSERT_EQ(sndPlaySound(image_.data(), SND_ASYNC | SND_LOOP | SND_MEMORY | SND_NODEFAULT), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    EXPECT_TRUE(SoundPlaying());
    PlaySound(nullptr, nullptr, SND_PURGE);
    const std::vector<char> got = Captured();
    ASSERT_GE(got.size(), 3 * data_.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], data_[i % data_.size()]) << i;
}

TEST_F(SoundPlayer, NoStopLeavesAPlayingSoundAlone) {
    ASSERT_EQ(sndPlaySound(image_.data(), SND_ASYNC | SND_LOOP | SND_MEMORY | SND_NODEFAULT), 1);
    EXPECT_EQ(sndPlaySound(image_.data(), SND_ASYNC | SND_NOSTOP | SND_MEMORY | SND_NODEFAULT), 0);
    EXPECT_TRUE(SoundPlaying());
}

TEST_F(SoundPlayer, WhatCannotPlayGivesTheDefaultSoundUnlessNoDefault) {
    const std::string missing = dir_.File("missing.wav");
    EXPECT_EQ(sndPlaySound(missing.c_str(), SND_SYNC | SND_NODEFAULT), 0);
    EXPECT_FALSE(CaptureData(capture_path_).has_value());

    // A compressed sound has no device here either.
    WAVEFORMATEX adpcm = format_;
    adpcm.wFormatTag = WAVE_FORMAT_ADPCM;
    std::vector<char> compressed = WaveImage(adpcm, data_);
    EXPECT_EQ(sndPlaySound(compressed.data(), SND_SYNC | SND_MEMORY | SND_NODEFAULT), 0);
    std::vector<char> not_riff(64, 'x');
    EXPECT_EQ(sndPlaySound(not_riff.data(), SND_SYNC | SND_MEMORY | SND_NODEFAULT), 0);

    EXPECT_EQ(sndPlaySound(missing.c_str(), SND_SYNC), 1);
    // 150 ms of 16-bit mono at 22050 Hz.
    EXPECT_EQ(Captured().size(), 22050u * 15 / 100 * 2);
}

} // namespace
} // namespace lum::platform::waveout
