// Conversions through the compression manager: when one is needed, PCM
// suggestions, chains through intermediate PCM, whole runs that lose
// nothing at the end, input that a stage keeps between calls (larger than
// the caller's blocks), a block size of 0, no stages at all, and a flush
// that starts afresh.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/lumacmdlg.h"
#include "audio/lumacmsup.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "core/lumutils.h"

namespace lum {
namespace {

using Bytes = std::vector<std::uint8_t>;

TWaveFormatEx Pcm(int bits, int channels, int rate) {
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, bits, channels, rate);
    return f;
}

// A global-heap format freed at the end of the scope.
struct Heap {
    explicit Heap(TWaveFormatEx* f) : fmt(f) {}
    ~Heap() { GlobalFreeMem(fmt); }
    TWaveFormatEx* fmt;
};

Bytes Tone(int frames, int channels, int rate) {
    Bytes b;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const auto v = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * i / rate));
            b.push_back(static_cast<std::uint8_t>(v));
            b.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    return b;
}

// Converts all of Src through a conversion made with Block-byte calls.
Bytes ConvertAll(const TWaveFormatEx* src, const TWaveFormatEx* dst, const Bytes& data,
                 std::int32_t block, int* stages = nullptr) {
    PACMConvert conv = acmBeginConvert(src, dst, nullptr, false, block);
    EXPECT_NE(conv, nullptr);
    if (!conv) return {};
    if (stages) *stages = static_cast<int>(conv->Stages.size());
    Bytes out;
    std::size_t pos = 0;
    while (pos < data.size()) {
        const auto n = static_cast<std::int32_t>(
            std::min<std::size_t>(conv->SourceBlockSize, data.size() - pos));
        std::memcpy(conv->SourceBuffer, data.data() + pos, static_cast<std::size_t>(n));
        pos += static_cast<std::size_t>(n);
        const std::int32_t m = acmDoConvert(conv, n);
        EXPECT_GE(m, 0);
        if (m > 0) out.insert(out.end(), conv->OutputBuffer, conv->OutputBuffer + m);
    }
    for (int i = 0; i < 10; ++i) {
        const std::int32_t m = acmEndConvert(conv, 0);
        EXPECT_GE(m, 0);
        if (m <= 0) break;
        out.insert(out.end(), conv->OutputBuffer, conv->OutputBuffer + m);
    }
    acmDoneConvert(conv);
    EXPECT_EQ(conv, nullptr);
    return out;
}

class AcmSupport : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(acmStartup()) << "the module (LUM_ACM) did not load"; }
};

TEST_F(AcmSupport, MustConvertComparesTagBitsChannelsAndRateOnly) {
    const TWaveFormatEx a = Pcm(16, 2, 44100);
    TWaveFormatEx b = a;
    b.nBlockAlign = 8;
    b.nAvgBytesPerSec = 1;
    EXPECT_FALSE(acmMustConvert(&a, &b));
    EXPECT_FALSE(acmMustConvert(&a, nullptr));
    b = Pcm(16, 2, 48000);
    EXPECT_TRUE(acmMustConvert(&a, &b));
    b = Pcm(8, 2, 44100);
    EXPECT_TRUE(acmMustConvert(&a, &b));
}

TEST_F(AcmSupport, PcmSuggestions) {
    // PCM is copied as its 18 bytes with cbSize 0, whatever cbSize said.
    struct {
        TWaveFormatEx out;
        std::uint8_t guard[8];
    } target;
    std::memset(&target, 0xAB, sizeof target);
    TWaveFormatEx pcm = Pcm(8, 1, 11025);
    pcm.cbSize = 500;
    ASSERT_TRUE(acmSuggestPCMFormat(&pcm, target.out));
    EXPECT_EQ(target.out.cbSize, 0);
    EXPECT_EQ(target.out.nSamplesPerSec, 11025u);
    EXPECT_EQ(target.guard[0], 0xAB);

    Heap gsm(acmBuildGSM610Header(22050));
    TWaveFormatEx out{};
    ASSERT_TRUE(acmSuggestPCMFormat(gsm.fmt, out));
    EXPECT_EQ(out.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(out.nSamplesPerSec, 22050u);
    EXPECT_EQ(out.nChannels, 1);

    // Matching PCM stays; otherwise the constraints are met.
    const TWaveFormatEx stereo = Pcm(16, 2, 44100);
    ASSERT_TRUE(acmSuggestPCMFormatEx(&stereo, 16, 0, out, 0));
    EXPECT_EQ(std::memcmp(&out, &stereo, sizeof out), 0);
    ASSERT_TRUE(acmSuggestPCMFormatEx(&stereo, 8, 1, out, 8000));
    const TWaveFormatEx expect = Pcm(8, 1, 8000);
    EXPECT_EQ(std::memcmp(&out, &expect, 16), 0);
    // A GSM source decodes to its own channels and rate only.
    EXPECT_FALSE(acmSuggestPCMFormatEx(gsm.fmt, 16, 2, out, 0));
    EXPECT_EQ(out.wFormatTag, WAVE_FORMAT_GSM610); // left as the copy
    EXPECT_EQ(out.cbSize, 0);
}

TEST_F(AcmSupport, ChainsThroughIntermediatePcm) {
    const TWaveFormatEx cd = Pcm(16, 2, 44100);
    Heap gsm(acmBuildGSM610Header(8000));
    EXPECT_TRUE(acmQueryConvert(&cd, gsm.fmt, false));
    EXPECT_TRUE(acmQueryConvert(&cd, &cd, false));
    // No direct stream, so no direct size either.
    EXPECT_EQ(acmSizeOutputData(&cd, gsm.fmt, 4096), -1);
    const TWaveFormatEx phone = Pcm(16, 1, 8000);
    EXPECT_GE(acmSizeOutputData(&phone, gsm.fmt, 640), 65);

    PACMConvert conv = acmBeginConvert(&cd, gsm.fmt, nullptr, false, 44100 * 4);
    ASSERT_NE(conv, nullptr);
    EXPECT_EQ(conv->Stages.size(), 2u); // 44.1k stereo -> 8k mono -> GSM
    acmDoneConvert(conv);

    // A compressed source goes to its own PCM first: three stages.
    Heap mp3(acmBuildMP3Header(44100, 128000, 2));
    conv = acmBeginConvert(mp3.fmt, gsm.fmt, nullptr, false, 4096);
    ASSERT_NE(conv, nullptr);
    EXPECT_EQ(conv->Stages.size(), 3u);
    acmDoneConvert(conv);

    TWaveFormatEx unknown = Pcm(16, 1, 8000);
    unknown.wFormatTag = 0x7777;
    EXPECT_FALSE(acmQueryConvert(&cd, &unknown, false));
    EXPECT_EQ(acmBeginConvert(&cd, &unknown, nullptr, false, 4096), nullptr);
}

TEST_F(AcmSupport, NothingIsLostAtTheEnd) {
    // 11025 Hz to GSM: 320-sample blocks, so every call keeps a rest; all
    // of it is encoded once the end comes.
    const TWaveFormatEx pcm = Pcm(16, 1, 11025);
    Heap gsm(acmBuildGSM610Header(11025));
    const int frames = 11025 + 11025 / 2 + 17;
    const Bytes gsmData = ConvertAll(&pcm, gsm.fmt, Tone(frames, 1, 11025), 11025 * 2);
    const std::size_t blocks = (frames + 319) / 320;
    EXPECT_EQ(gsmData.size(), blocks * 65);
    // And back: every block decodes to 320 samples.
    const Bytes back = ConvertAll(gsm.fmt, &pcm, gsmData, 650);
    EXPECT_EQ(back.size(), blocks * 320 * 2);
}

TEST_F(AcmSupport, StagesKeepMoreThanTheCallersBlocks) {
    // Blocks of 1000 bytes against an encoder that takes 8144 at a time
    // (MS ADPCM at 44.1 kHz stereo, 2036 frames a block): the stage keeps
    // up to eight calls' input without overrunning anything.
    const TWaveFormatEx pcm = Pcm(16, 2, 44100);
    Heap adpcm(acmBuildADPCMHeader(44100, 2));
    const int frames = 3 * 2036 + 100;
    const Bytes encoded = ConvertAll(&pcm, adpcm.fmt, Tone(frames, 2, 44100), 1000);
    EXPECT_EQ(encoded.size(), 4u * 2048);
    const Bytes back = ConvertAll(adpcm.fmt, &pcm, encoded, 4096);
    EXPECT_EQ(back.size(), 4u * 2036 * 4);
}

TEST_F(AcmSupport, BlockSizeZeroAndNoStages) {
    const TWaveFormatEx stereo = Pcm(16, 2, 22050);
    const TWaveFormatEx mono = Pcm(16, 1, 22050);
    // A size below one source block leaves a block size of 0.
    PACMConvert conv = acmBeginConvert(&stereo, &mono, nullptr, false, 3);
    ASSERT_NE(conv, nullptr);
    EXPECT_EQ(conv->SourceBlockSize, 0);
    EXPECT_EQ(acmDoConvert(conv, 100), 0);
    acmDoneConvert(conv);

    // Nothing to convert: the bytes pass as they are.
    Bytes mine(400, 7);
    conv = acmBeginConvert(&stereo, &stereo, mine.data(), false, 400);
    ASSERT_NE(conv, nullptr);
    EXPECT_TRUE(conv->Stages.empty());
    EXPECT_EQ(conv->SourceBuffer, mine.data());
    EXPECT_EQ(acmDoConvert(conv, 1000), 400);
    EXPECT_EQ(conv->OutputBuffer, mine.data());
    acmDoneConvert(conv);
    acmDoneConvert(conv); // none: nothing happens
}

TEST_F(AcmSupport, FlushDropsWhatStagesKeptAndStartsAfresh) {
    const TWaveFormatEx pcm = Pcm(16, 1, 8000);
    Heap gsm(acmBuildGSM610Header(8000));
    const Bytes data = Tone(960, 1, 8000);
    Bytes mine(data.size());
    PACMConvert conv = acmBeginConvert(&pcm, gsm.fmt, mine.data(), false, 700);
    ASSERT_NE(conv, nullptr);
    // 350 samples: one block, 30 samples kept.
    std::memcpy(mine.data(), data.data(), 700);
    EXPECT_EQ(acmDoConvert(conv, 700), 65);
    EXPECT_TRUE(conv->DataPending);
    ASSERT_TRUE(acmFlushConvert(conv));
    EXPECT_FALSE(conv->DataPending);
    // After the flush the same input gives what a new conversion gives.
    std::memcpy(mine.data(), data.data(), 640);
    ASSERT_EQ(acmDoConvert(conv, 640), 65);
    const Bytes afterFlush(conv->OutputBuffer, conv->OutputBuffer + 65);
    acmDoneConvert(conv);
    const Bytes fresh = ConvertAll(&pcm, gsm.fmt, Bytes(data.begin(), data.begin() + 640), 640);
    EXPECT_EQ(afterFlush, fresh);
}

TEST_F(AcmSupport, ConversionsOnSeveralThreadsAtOnce) {
    // One conversion a thread, all at once: each gives what it gives alone
    // (the manager's handles and codecs are shared between them).
    const TWaveFormatEx pcm = Pcm(16, 2, 22050);
    Heap gsm(acmBuildGSM610Header(8000));
    Heap adpcm(acmBuildADPCMHeader(22050, 2));
    const Bytes tone = Tone(22050 / 2, 2, 22050);
    const Bytes gsmAlone = ConvertAll(&pcm, gsm.fmt, tone, 8820);
    const Bytes adpcmAlone = ConvertAll(&pcm, adpcm.fmt, tone, 8820);
    ASSERT_FALSE(gsmAlone.empty());
    ASSERT_FALSE(adpcmAlone.empty());
    std::vector<Bytes> results(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round)
                results[i] = ConvertAll(&pcm, i % 2 ? adpcm.fmt : gsm.fmt, tone, 8820);
        });
    for (auto& t : threads)
        t.join();
    for (std::size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(results[i], i % 2 ? adpcmAlone : gsmAlone) << i;
}

} // namespace
} // namespace lum
