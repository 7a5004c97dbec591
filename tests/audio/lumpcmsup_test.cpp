// PCM conversion: each reader rule on one frame, the rate accumulator on
// hand-computed vectors, output sizes at high rates, the bound on what is
// written, extremes, volume and clipping, and two threads at once.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "audio/lumpcmsup.h"
#include "audio/wavetest.h"

namespace lum {
namespace {

using test::wave::Bytes;

TWaveFormatEx Pcm(int bits, int channels, int rate) {
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, bits, channels, rate);
    return f;
}

Bytes Convert(const TWaveFormatEx& to, const TWaveFormatEx& from, const Bytes& src) {
    Bytes out(static_cast<std::size_t>(
        PCMCONVERTSIZEOUTPUTDATA(&to, &from, static_cast<std::int32_t>(src.size())) +
        to.nBlockAlign));
    const std::int32_t n =
        PCMCONVERT(&to, out.data(), &from, src.data(), static_cast<std::int32_t>(src.size()));
    EXPECT_GE(n, 0);
    out.resize(static_cast<std::size_t>(std::max(n, 0)));
    return out;
}

Bytes S16(std::initializer_list<int> samples) {
    Bytes b;
    for (int s : samples)
        test::wave::PutLE(b, static_cast<std::uint16_t>(s), 2);
    return b;
}

struct ReaderCase {
    const char* name;
    int srcBits, srcChannels;
    Bytes src;
    int dstBits, dstChannels;
    Bytes expected;
};

TEST(PcmConvert, EachReaderRuleOnOneFrame) {
    const std::vector<ReaderCase> cases = {
        {"8M-8S", 8, 1, {0x10}, 8, 2, {0x10, 0x10}},
        {"8M-16M", 8, 1, {0x81}, 16, 1, S16({256})},
        {"8M-16S", 8, 1, {0x7F}, 16, 2, S16({-256, -256})},
        {"8S-8M", 8, 2, {255, 254}, 8, 1, {254}},
        {"8S-16M", 8, 2, {129, 127}, 16, 1, S16({0})},
        {"8S-16M-odd", 8, 2, {130, 127}, 16, 1, S16({0})},
        {"8S-16S", 8, 2, {0, 255}, 16, 2, S16({-32768, 32512})},
        {"16M-8M", 16, 1, S16({-1}), 8, 1, {127}},
        {"16M-8M-top", 16, 1, S16({32767}), 8, 1, {255}},
        {"16M-8S", 16, 1, S16({-32768}), 8, 2, {0, 0}},
        {"16M-16S", 16, 1, S16({0x1234}), 16, 2, S16({0x1234, 0x1234})},
        {"16S-8M", 16, 2, S16({32767, -32768}), 8, 1, {127}},
        {"16S-8M-low", 16, 2, S16({-32768, -32767}), 8, 1, {0}},
        {"16S-8S", 16, 2, S16({-1, 256}), 8, 2, {127, 129}},
        {"16S-16M", 16, 2, S16({-3, 0}), 16, 1, S16({-2})},
        {"16S-16M-wide", 16, 2, S16({32767, 32767}), 16, 1, S16({32767})},
        {"16S-16S", 16, 2, S16({-5, 7}), 16, 2, S16({-5, 7})},
        {"8M-8M", 8, 1, {3, 200}, 8, 1, {3, 200}},
    };
    for (const ReaderCase& c : cases) {
        const TWaveFormatEx from = Pcm(c.srcBits, c.srcChannels, 8000);
        const TWaveFormatEx to = Pcm(c.dstBits, c.dstChannels, 8000);
        EXPECT_EQ(Convert(to, from, c.src), c.expected) << c.name;
    }
}

TEST(PcmConvert, RatesDropOrRepeatWholeFrames) {
    const Bytes frames = {10, 11, 12, 13, 14, 15};
    EXPECT_EQ(Convert(Pcm(8, 1, 22050), Pcm(8, 1, 11025), {1, 2, 3}), (Bytes{1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(Convert(Pcm(8, 1, 11025), Pcm(8, 1, 22050), frames), (Bytes{10, 12, 14}));
    EXPECT_EQ(Convert(Pcm(8, 1, 2), Pcm(8, 1, 3), {7}), (Bytes{7}));
    EXPECT_EQ(Convert(Pcm(8, 1, 2), Pcm(8, 1, 3), {1, 2, 3}), (Bytes{1, 2}));
    EXPECT_EQ(Convert(Pcm(8, 1, 59), Pcm(8, 1, 1), {9}), Bytes(30, 9));
    EXPECT_EQ(Convert(Pcm(16, 2, 8000), Pcm(8, 1, 16000), {0, 128, 255, 128}),
              S16({-32768, -32768, 32512, 32512}));
}

TEST(PcmConvert, WholeSecondsGiveExactCountsAtTheCommonRates) {
    // Blocks of one second (as whole files are converted) come out exact
    // for every reduction and for increases up to twice the rate; beyond,
    // the half-period start holds the first frame for fewer periods.
    const int rates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000};
    for (int from : rates) {
        for (int to : rates) {
            if (to > 2 * from) continue;
            const TWaveFormatEx src = Pcm(16, 2, from);
            const TWaveFormatEx dst = Pcm(16, 1, to);
            const Bytes second(static_cast<std::size_t>(from) * 4);
            EXPECT_EQ(PCMCONVERTSIZEOUTPUTDATA(&dst, &src, from * 4), to * 2) << from << "->" << to;
            EXPECT_EQ(Convert(dst, src, second).size(), static_cast<std::size_t>(to) * 2)
                << from << "->" << to;
        }
    }
}

TEST(PcmConvert, OutputSizesDoNotOverflowAtHighRates) {
    // A second at 96 kHz and 100 kHz: the frame counts times the rates
    // pass 2^31.
    const TWaveFormatEx s96 = Pcm(16, 2, 96000);
    EXPECT_EQ(PCMCONVERTSIZEOUTPUTDATA(&s96, &s96, 96000 * 4), 384000);
    const TWaveFormatEx s100 = Pcm(16, 2, 100000);
    EXPECT_EQ(PCMCONVERTSIZEOUTPUTDATA(&s100, &s100, 400000), 400000);
    const TWaveFormatEx m48 = Pcm(16, 1, 48000);
    const TWaveFormatEx s48 = Pcm(16, 2, 48000);
    EXPECT_EQ(PCMCONVERTSIZEOUTPUTDATA(&m48, &s48, 192000), 96000);
    const TWaveFormatEx m44 = Pcm(16, 1, 44100);
    EXPECT_EQ(PCMCONVERTSIZEOUTPUTDATA(&m44, &s96, 384000), 88200);
    // An output that cannot be held in 31 bits is refused.
    const TWaveFormatEx slow = Pcm(8, 1, 1);
    EXPECT_EQ(PCMCONVERTSIZEOUTPUTDATA(&s100, &slow, 100000), -1);
    EXPECT_EQ(PCMCONVERT(&s100, nullptr, &slow, "x", 100000), -1);
}

TEST(PcmConvert, WritesAtMostOneFrameMoreThanTheSizeSays) {
    std::mt19937 random(19);
    std::uniform_int_distribution<int> rate(1, 200000);
    std::uniform_int_distribution<int> length(1, 300);
    for (int i = 0; i < 400; ++i) {
        const TWaveFormatEx src = Pcm(8, 1, rate(random));
        const TWaveFormatEx dst = Pcm(16, 2, rate(random));
        const Bytes in(static_cast<std::size_t>(length(random)), 128);
        const std::int32_t size =
            PCMCONVERTSIZEOUTPUTDATA(&dst, &src, static_cast<std::int32_t>(in.size()));
        Bytes out(static_cast<std::size_t>(size) + 4 + 64, 0xEE);
        const std::int32_t n =
            PCMCONVERT(&dst, out.data(), &src, in.data(), static_cast<std::int32_t>(in.size()));
        ASSERT_LE(n, size + 4) << src.nSamplesPerSec << "->" << dst.nSamplesPerSec;
        EXPECT_EQ(out[static_cast<std::size_t>(n)], 0xEE);
    }
}

TEST(PcmConvert, RefusesWhatItCannotConvert) {
    const TWaveFormatEx ok = Pcm(16, 1, 8000);
    TWaveFormatEx bad = ok;
    bad.wBitsPerSample = 24;
    Bytes out(16);
    const Bytes in(8);
    EXPECT_EQ(PCMCONVERT(&ok, out.data(), &bad, in.data(), 8), -1);
    bad = ok;
    bad.nChannels = 3;
    EXPECT_EQ(PCMCONVERT(&bad, out.data(), &ok, in.data(), 8), -1);
    bad = ok;
    bad.wFormatTag = 3;
    EXPECT_EQ(PCMCONVERTSIZEOUTPUTDATA(&ok, &bad, 8), -1);
    bad = ok;
    bad.nSamplesPerSec = 0;
    EXPECT_EQ(PCMCONVERT(&ok, out.data(), &bad, in.data(), 8), -1);
    bad.nSamplesPerSec = 0x80000000u; // would be negative in 32-bit signed arithmetic
    EXPECT_EQ(PCMCONVERT(&bad, out.data(), &ok, in.data(), 8), -1);
    EXPECT_EQ(PCMCONVERT(&ok, out.data(), &ok, in.data(), 0), 0);
    EXPECT_EQ(PCMCONVERT(&ok, out.data(), &ok, in.data(), -5), -5);
    EXPECT_EQ(PCMCONVERT(nullptr, out.data(), &ok, in.data(), 8), -1);
}

TEST(PcmBits, TruncatesTowardZeroUnlikeTheConverter) {
    Bytes out(4);
    const Bytes in = S16({-1, -256, 255, 32767});
    EXPECT_EQ(pcmBitsPerSampleAlign(8, out.data(), 16, in.data(), 8), 4);
    EXPECT_EQ(out, (Bytes{128, 127, 128, 255}));
    EXPECT_EQ(Convert(Pcm(8, 1, 8000), Pcm(16, 1, 8000), in), (Bytes{127, 127, 128, 255}));
    Bytes wide(4);
    EXPECT_EQ(pcmBitsPerSampleAlign(16, wide.data(), 8, Bytes{0, 255}.data(), 2), 4);
    EXPECT_EQ(wide, S16({-32768, 32512}));
    EXPECT_EQ(pcmBitsPerSampleAlign(16, wide.data(), 16, in.data(), 4), 4);
    EXPECT_EQ(wide, S16({-1, -256}));
    EXPECT_EQ(pcmBitsPerSampleAlign(24, wide.data(), 16, in.data(), 4), 0);
}

TEST(PcmFormat, ValidityHeadersAndSilence) {
    auto valid = [](int bits, int channels, int rate) {
        const TWaveFormatEx f = Pcm(bits, channels, rate);
        return pcmIsValidFormat(&f);
    };
    EXPECT_TRUE(valid(8, 1, 4000) && valid(16, 2, 100000));
    EXPECT_FALSE(valid(8, 1, 3999));
    EXPECT_FALSE(valid(16, 2, 100001));
    EXPECT_FALSE(valid(24, 2, 44100));
    EXPECT_FALSE(valid(16, 3, 44100));
    EXPECT_FALSE(pcmIsValidFormat(nullptr));
    const TWaveFormatEx f = Pcm(16, 2, 44100);
    EXPECT_EQ(f.wFormatTag, 1);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(f.cbSize, 0);
    Bytes b(5, 7);
    pcmFillSilence(&f, b.data(), 4);
    EXPECT_EQ(b, (Bytes{0, 0, 0, 0, 7}));
    const TWaveFormatEx m8 = Pcm(8, 1, 8000);
    pcmFillSilence(&m8, b.data(), 5);
    EXPECT_EQ(b, Bytes(5, 128));
}

struct MinMax {
    std::int32_t f1, s1, f2, s2;
    bool operator==(const MinMax&) const = default;
};
std::ostream& operator<<(std::ostream& os, const MinMax& m) {
    return os << m.f1 << "," << m.s1 << "," << m.f2 << "," << m.s2;
}

MinMax FindMinMax(const TWaveFormatEx& f, const Bytes& data, std::int32_t bytes = -1) {
    MinMax m{-999, -999, -999, -999};
    EXPECT_EQ(PCMFINDMINMAX(&f, data.data(),
                            bytes < 0 ? static_cast<std::int32_t>(data.size()) : bytes, m.f1, m.s1,
                            m.f2, m.s2),
              0);
    return m;
}

TEST(PcmFindMinMax, ExtremesInTheOrderTheyCame) {
    const TWaveFormatEx m8 = Pcm(8, 1, 8000);
    EXPECT_EQ(FindMinMax(m8, Bytes(10, 128)), (MinMax{128, 128, 128, 128}));
    EXPECT_EQ(FindMinMax(m8, Bytes(10, 0)), (MinMax{0, 1, 0, 1}));
    EXPECT_EQ(FindMinMax(m8, {128, 200, 100, 60, 250}), (MinMax{60, 250, 60, 250}));
    EXPECT_EQ(FindMinMax(m8, {128, 250, 100, 60}), (MinMax{250, 60, 250, 60}));
    EXPECT_EQ(FindMinMax(m8, {}), (MinMax{128, 128, 128, 128}));
    const TWaveFormatEx s8 = Pcm(8, 2, 8000);
    EXPECT_EQ(FindMinMax(s8, {10, 200, 240, 20, 99}), (MinMax{10, 240, 200, 20}));
    EXPECT_EQ(FindMinMax(s8, {10}), (MinMax{128, 128, 128, 128}));
    const TWaveFormatEx m16 = Pcm(16, 1, 8000);
    EXPECT_EQ(FindMinMax(m16, S16({5, -300, 32767})), (MinMax{-300, 32767, -300, 32767}));
    EXPECT_EQ(FindMinMax(m16, S16({-32768, -32768})), (MinMax{-32768, -32767, -32768, -32767}));
    EXPECT_EQ(FindMinMax(m16, {1}), (MinMax{0, 0, 0, 0}));
    const TWaveFormatEx s16 = Pcm(16, 2, 8000);
    EXPECT_EQ(FindMinMax(s16, S16({100, -7, -100, 7, 0})), (MinMax{100, -100, -7, 7}));
    std::int32_t a, b, c, d;
    const TWaveFormatEx m24 = Pcm(24, 1, 8000);
    EXPECT_EQ(PCMFINDMINMAX(&m24, nullptr, 0, a, b, c, d), -1);
}

TEST(PcmVolume, UnityScalingAndClipping) {
    Overflow = false;
    EXPECT_EQ(pcmSampleVolume8(200, kPCMUnityVolume), 200);
    EXPECT_EQ(pcmSampleVolume8(200, kPCMUnityVolume / 2), 164);
    EXPECT_EQ(pcmSampleVolume8(28, kPCMUnityVolume / 2), 78);
    EXPECT_EQ(pcmSampleVolume16(-1000, kPCMUnityVolume / 4), -250);
    EXPECT_EQ(pcmSampleVolume16(-1, kPCMUnityVolume / 4), -1); // the shift floors
    EXPECT_FALSE(Overflow);
    EXPECT_EQ(pcmSampleVolume8(255, 2 * kPCMUnityVolume), 255);
    EXPECT_TRUE(Overflow);
    Overflow = false;
    EXPECT_EQ(pcmSampleVolume8(0, 2 * kPCMUnityVolume + 1), 0);
    EXPECT_TRUE(Overflow);
    EXPECT_EQ(pcmSampleVolume16(32767, 2 * kPCMUnityVolume), 32767);
    EXPECT_EQ(pcmSampleVolume16(-32768, 3 * kPCMUnityVolume), -32768);

    Overflow = false;
    EXPECT_EQ(pcmSampleClip8(200), 127);
    EXPECT_TRUE(Overflow);
    Overflow = false;
    EXPECT_EQ(pcmSampleClip8(-128), -128);
    EXPECT_EQ(pcmSampleClip16(-40000), -32768);
    EXPECT_EQ(pcmSampleClip16(40000), 32767);
    EXPECT_EQ(pcmSampleClip16(-32768), -32768);

    Bytes stereo = S16({1000, 1000, 30000, -30000});
    const Bytes before = stereo;
    const TWaveFormatEx s16 = Pcm(16, 2, 8000);
    EXPECT_FALSE(pcmVolume(&s16, stereo.data(), 8, kPCMUnityVolume, kPCMUnityVolume));
    EXPECT_EQ(stereo, before);
    EXPECT_TRUE(pcmVolume(&s16, stereo.data(), 8, kPCMUnityVolume / 2, 2 * kPCMUnityVolume));
    EXPECT_EQ(stereo, S16({500, 2000, 15000, -32768}));
    EXPECT_FALSE(pcmVolume(&s16, stereo.data(), 8, kPCMUnityVolume / 2, kPCMUnityVolume));
    TWaveFormatEx alaw = s16;
    alaw.wFormatTag = 6;
    EXPECT_FALSE(pcmVolume(&alaw, stereo.data(), 8, 0, 0));
    EXPECT_EQ(stereo, S16({250, 2000, 7500, -32768}));
    Bytes mono8 = {128, 255};
    const TWaveFormatEx m8 = Pcm(8, 1, 8000);
    EXPECT_FALSE(pcmVolume(&m8, mono8.data(), 2, 0, 99));
    EXPECT_EQ(mono8, (Bytes{128, 128}));
}

TEST(PcmConvert, RunsOnSeveralThreadsAtOnce) {
    // Each thread converts its own buffer at another rate pair; the results
    // must be those of the same conversion run alone.
    struct Job {
        TWaveFormatEx from, to;
        Bytes in, alone, together;
    };
    std::vector<Job> jobs;
    std::mt19937 random(7);
    const int rates[][2] = {{44100, 22050}, {8000, 48000}, {22050, 11025}, {48000, 44100}};
    for (const auto& r : rates) {
        Job j{Pcm(16, 2, r[0]), Pcm(8, 1, r[1]), Bytes(40000), {}, {}};
        for (auto& b : j.in)
            b = static_cast<std::uint8_t>(random());
        j.alone = Convert(j.to, j.from, j.in);
        jobs.push_back(std::move(j));
    }
    std::vector<std::thread> threads;
    for (Job& j : jobs)
        threads.emplace_back([&j] {
            for (int k = 0; k < 20; ++k)
                j.together = Convert(j.to, j.from, j.in);
        });
    for (auto& t : threads)
        t.join();
    for (const Job& j : jobs)
        EXPECT_EQ(j.together, j.alone);
}

} // namespace
} // namespace lum
