// The ALSA backend against ALSA's own "file" plugin: a configuration of
// the test's makes the default PCM (or a named one) write what it is given
// into a file, which must hold exactly the bytes played.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/waveout/waveouttest.h"

namespace lum::platform::waveout {
namespace {

using test::Buffer;
using test::PcmFormat;
using test::Recorder;
using test::ScopedEnv;

constexpr const char* kAlsaConf = "/usr/share/alsa/alsa.conf";

class AlsaFilePlugin : public testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kAlsaConf)) GTEST_SKIP() << "no " << kAlsaConf;
        raw_default_ = dir_.File("default.raw");
        raw_named_ = dir_.File("named.raw");
        const std::string conf = dir_.File("asound.conf");
        std::ofstream out(conf);
        out << "<" << kAlsaConf << ">\n"
            << "pcm.!default { type file slave.pcm \"null\" file \"" << raw_default_
            << "\" format \"raw\" }\n"
            << "pcm.lumcapture { type file slave.pcm \"null\" file \"" << raw_named_
            << "\" format \"raw\" }\n";
        out.close();
        config_ = std::make_unique<ScopedEnv>("ALSA_CONFIG_PATH", conf.c_str());
    }
    void TearDown() override {
        config_.reset();
        waveOutRescanDevices();
    }

    // Plays the buffers on Device and returns the notifications.
    void Play(UINT device, const WAVEFORMATEX& format, std::vector<Buffer*> buffers) {
        Recorder recorder;
        HWAVEOUT hwo = nullptr;
        ASSERT_EQ(waveOutOpen(&hwo, device, &format, Recorder::Callback(), recorder.Instance(),
                              CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        for (Buffer* b : buffers) {
            ASSERT_EQ(waveOutPrepareHeader(hwo, &b->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
            ASSERT_EQ(waveOutWrite(hwo, &b->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        }
        ASSERT_TRUE(recorder.WaitDone(buffers.size()));
        std::vector<WAVEHDR*> expected;
        for (Buffer* b : buffers)
            expected.push_back(&b->hdr);
        EXPECT_EQ(recorder.Done(), expected);
        MMTIME t{};
        t.wType = TIME_BYTES;
        ASSERT_EQ(waveOutGetPosition(hwo, &t, sizeof t), MMSYSERR_NOERROR);
        std::size_t total = 0;
        for (Buffer* b : buffers) {
            total += b->data.size();
            EXPECT_EQ(waveOutUnprepareHeader(hwo, &b->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        }
        EXPECT_EQ(t.u.cb, total);
        ASSERT_EQ(waveOutClose(hwo), MMSYSERR_NOERROR);
    }

    static std::vector<char> Joined(const std::vector<Buffer*>& buffers) {
        std::vector<char> all;
        for (Buffer* b : buffers)
            all.insert(all.end(), b->data.begin(), b->data.end());
        return all;
    }
    static std::vector<char> FileBytes(const std::string& path) {
        auto bytes = test::ReadFile(path);
        return {bytes.begin(), bytes.end()};
    }

    test::TempDir dir_;
    std::string raw_default_;
    std::string raw_named_;
    std::unique_ptr<ScopedEnv> config_;
};

TEST_F(AlsaFilePlugin, TheDefaultPcmIsDeviceZeroAndReceivesExactlyTheBuffers) {
    ScopedEnv alsa("LUM_ALSA_DEVICE", nullptr);
    waveOutRescanDevices();
    ASSERT_TRUE(waveOutAlsaUsable()) << waveOutAlsaProblem();
    EXPECT_EQ(waveOutVirtualDevice(), waveOutGetNumDevs() - 1);
    WAVEOUTCAPS caps{};
    ASSERT_EQ(waveOutGetDevCaps(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Default ALSA output");
    EXPECT_NE(caps.dwFormats & WAVE_FORMAT_4S16, 0u);

    const WAVEFORMATEX f = PcmFormat(16, 2, 44100);
    Buffer a(test::Pattern(4410 * 4, 1)), b(test::Pattern(4410 * 4, 2)), c(test::Pattern(1000, 3));
    Play(0, f, {&a, &b, &c});
    EXPECT_EQ(FileBytes(raw_default_), Joined({&a, &b, &c}));
}

TEST_F(AlsaFilePlugin, LumAlsaDeviceChoosesTheDefault) {
    ScopedEnv alsa("LUM_ALSA_DEVICE", "lumcapture");
    waveOutRescanDevices();
    ASSERT_TRUE(waveOutAlsaUsable()) << waveOutAlsaProblem();
    WAVEOUTCAPS caps{};
    ASSERT_EQ(waveOutGetDevCaps(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "ALSA output \"lumcapture\"");

    // 8-bit mono at an unusual rate through the mapper.
    const WAVEFORMATEX f = PcmFormat(8, 1, 12000);
    Buffer a(test::Pattern(3000, 4)), b(test::Pattern(7, 5));
    Play(WAVE_MAPPER, f, {&a, &b});
    EXPECT_EQ(FileBytes(raw_named_), Joined({&a, &b}));
    EXPECT_FALSE(std::filesystem::exists(raw_default_));
}

} // namespace
} // namespace lum::platform::waveout
