// Block ADPCM: format building and checking, decoding hand-made blocks
// (prediction with its arithmetic shift, step floor and ceiling, cut and
// invalid blocks, 8-bit output), encoding (quality, every predictor used,
// a short last block made whole, 8-bit input), and the IMA block decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <vector>

#include "audio/lumadpcm.h"
#include "audio/lumpcmsup.h"

namespace lum {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;

TWaveFormatEx Pcm(int bits, int channels, int rate) {
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, bits, channels, rate);
    return f;
}

// The ADPCM format for PCM of this rate and channel count.
Bytes Adpcm(int channels, int rate) {
    Bytes b(kADPCMFormatSize);
    const TWaveFormatEx pcm = Pcm(16, channels, rate);
    EXPECT_TRUE(adpcmBuildFormatHeader(&pcm, reinterpret_cast<TWaveFormatEx*>(b.data()), 0, 0, 0));
    return b;
}

// A hand-made format: Align bytes a block of Spb samples.
Bytes Adpcm(int channels, int align, int spb) {
    Bytes b = Adpcm(channels, 11025);
    auto* f = reinterpret_cast<TADPCMWaveFormat*>(b.data());
    f->wfx.nBlockAlign = static_cast<WORD>(align);
    f->wSamplesPerBlock = static_cast<WORD>(spb);
    return b;
}

const TWaveFormatEx* F(const Bytes& b) {
    return reinterpret_cast<const TWaveFormatEx*>(b.data());
}

void Put16(Bytes& b, int v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

// A mono block header: predictor index, step, sample 1, sample 2.
Bytes Header(int index, int step, int s1, int s2) {
    Bytes b{static_cast<std::uint8_t>(index)};
    Put16(b, step);
    Put16(b, s1);
    Put16(b, s2);
    return b;
}

Samples Decode(const Bytes& fmt, const Bytes& data, int bits = 16) {
    const TWaveFormatEx pcm = Pcm(bits, F(fmt)->nChannels, 11025);
    Bytes out(static_cast<std::size_t>(
                  adpcmDecodedSize(F(fmt), static_cast<std::int32_t>(data.size()), 16)) +
                  16,
              0xEE);
    const std::int32_t n = adpcmDecode4Bit(F(fmt), &pcm, data.data(),
                                           static_cast<std::int32_t>(data.size()), out.data());
    if (bits == 8) {
        Samples s(out.begin(), out.begin() + n);
        return s;
    }
    Samples s(static_cast<std::size_t>(n / 2));
    if (!s.empty()) std::memcpy(s.data(), out.data(), s.size() * 2);
    return s;
}

Samples Tone(int frames, int channels, int rate, unsigned seed = 1) {
    Samples s;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            seed = seed * 1103515245 + 12345;
            s.push_back(
                static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * 440 * (c + 1) * i / rate) +
                                          static_cast<int>((seed >> 16) % 2001) - 1000));
        }
    return s;
}

double Snr(const Samples& a, const Samples& b) {
    double s = 0, n = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        s += double(a[i]) * a[i];
        n += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    return n == 0 ? 200 : 10 * std::log10(s / n);
}

Bytes Encode(const Bytes& fmt, const Samples& s) {
    const TWaveFormatEx pcm = Pcm(16, F(fmt)->nChannels, 11025);
    const auto frames = static_cast<std::int32_t>(s.size() / F(fmt)->nChannels);
    Bytes out(static_cast<std::size_t>(adpcmEncodedSize(F(fmt), frames)) + 8, 0xEE);
    const std::int32_t n = adpcmEncode4Bit(&pcm, F(fmt), s.data(),
                                           static_cast<std::int32_t>(s.size() * 2), out.data());
    EXPECT_EQ(n, adpcmEncodedSize(F(fmt), frames));
    EXPECT_EQ(out[static_cast<std::size_t>(n)], 0xEE) << "written past the blocks";
    out.resize(static_cast<std::size_t>(n));
    return out;
}

TEST(AdpcmFormat, BuiltFromPcm) {
    struct Case {
        int channels, rate, align, spb, avg;
    };
    for (const Case& c : {Case{1, 11025, 256, 500, 5666}, Case{1, 22050, 512, 1012, 11179},
                          Case{2, 44100, 2048, 2036, 44408}, Case{1, 8000, 256, 500, 4112}}) {
        const Bytes b = Adpcm(c.channels, c.rate);
        const auto* a = reinterpret_cast<const TADPCMWaveFormat*>(b.data());
        EXPECT_EQ(a->wfx.wFormatTag, 2);
        EXPECT_EQ(a->wfx.nBlockAlign, c.align) << c.rate;
        EXPECT_EQ(a->wSamplesPerBlock, c.spb) << c.rate;
        EXPECT_EQ(a->wfx.nAvgBytesPerSec, static_cast<DWORD>(c.avg)) << c.rate;
        EXPECT_EQ(a->wfx.cbSize, 32);
        EXPECT_TRUE(adpcmIsValidFormat(&a->wfx));
    }
    // A 96 kHz source keeps its rate (not its low 16 bits).
    EXPECT_EQ(F(Adpcm(1, 96000))->nSamplesPerSec, 96000u);
    // And back to PCM, 16 bits unless asked otherwise.
    TWaveFormatEx pcm{};
    ASSERT_TRUE(adpcmBuildFormatHeader(F(Adpcm(2, 22050)), &pcm, 0, 0, 0));
    EXPECT_EQ(pcm.wBitsPerSample, 16);
    EXPECT_EQ(pcm.nChannels, 2);
    EXPECT_EQ(pcm.nSamplesPerSec, 22050u);
    ASSERT_TRUE(adpcmBuildFormatHeader(F(Adpcm(2, 22050)), &pcm, 8, 0, 0));
    EXPECT_EQ(pcm.nBlockAlign, 2);
    // Neither PCM nor ADPCM.
    TWaveFormatEx other = Pcm(16, 1, 8000);
    other.wFormatTag = 0x31;
    EXPECT_FALSE(adpcmBuildFormatHeader(&other, &pcm, 0, 0, 0));
}

TEST(AdpcmFormat, InvalidFormatsAreRefused) {
    auto broken = [](auto change) {
        Bytes b = Adpcm(1, 11025);
        change(*reinterpret_cast<TADPCMWaveFormat*>(b.data()));
        return b;
    };
    EXPECT_FALSE(adpcmIsValidFormat(F(broken([](TADPCMWaveFormat& f) { f.wfx.cbSize = 30; }))));
    EXPECT_FALSE(
        adpcmIsValidFormat(F(broken([](TADPCMWaveFormat& f) { f.aCoef[0].iCoef1 = 255; }))));
    EXPECT_FALSE(adpcmIsValidFormat(F(broken([](TADPCMWaveFormat& f) { f.wNumCoef = 6; }))));
    EXPECT_FALSE(adpcmIsValidFormat(F(broken([](TADPCMWaveFormat& f) { f.wfx.nChannels = 3; }))));
    // More samples than the block holds, fewer than its two header samples,
    // a block shorter than its header.
    EXPECT_FALSE(adpcmIsValidFormat(F(Adpcm(1, 256, 501))));
    EXPECT_FALSE(adpcmIsValidFormat(F(Adpcm(1, 256, 1))));
    EXPECT_FALSE(adpcmIsValidFormat(F(Adpcm(2, 13, 2))));
    EXPECT_TRUE(adpcmIsValidFormat(F(Adpcm(1, 256, 100))));
    // Nothing is decoded with such a format.
    const Bytes data(512, 0);
    EXPECT_TRUE(Decode(Adpcm(1, 256, 501), data).empty());
}

TEST(AdpcmDecode, HandMadeBlocks) {
    // Predictor 0 (256, 0): p = sample 1. Codes 1 and -1 with the step at
    // its floor of 16.
    Bytes block = Header(0, 16, 100, 50);
    block.push_back(0x1F);
    EXPECT_EQ(Decode(Adpcm(1, 8, 4), block), (Samples{50, 100, 116, 100}));

    // Predictor 3 (192, 64) shifts arithmetically: -576 >> 8 is -3, not -2.
    block = Header(3, 16, -3, 0);
    block.push_back(0x00);
    EXPECT_EQ(Decode(Adpcm(1, 8, 4), block)[2], -3);

    // A step of 0 in the header still rises to 16 after one code.
    block = Header(0, 0, 0, 0);
    block.push_back(0x11);
    EXPECT_EQ(Decode(Adpcm(1, 8, 4), block), (Samples{0, 0, 0, 16}));

    // Stereo: the high nibble is left.
    Bytes stereo = {0, 0};
    for (int v : {16, 16, 100, 200, 0, 0})
        Put16(stereo, v);
    stereo.push_back(0x1F);
    EXPECT_EQ(Decode(Adpcm(2, 15, 3), stereo), (Samples{0, 0, 100, 200, 116, 184}));
}

TEST(AdpcmDecode, TwoSamplesPerBlockGiveTheHeadersOnly) {
    Bytes data = Header(0, 16, 7, 6);
    const Bytes second = Header(1, 16, 9, 8);
    data.insert(data.end(), second.begin(), second.end());
    EXPECT_EQ(Decode(Adpcm(1, 7, 2), data), (Samples{6, 7, 8, 9}));
}

TEST(AdpcmDecode, CutBlocksAndBadIndices) {
    const Bytes fmt = Adpcm(1, 16, 20); // 7 + 9 bytes: 18 codes
    Bytes block = Header(0, 16, 0, 0);
    block.resize(16, 0x11);
    // A second block cut inside its header gives nothing for it.
    Bytes data = block;
    data.insert(data.end(), block.begin(), block.begin() + 5);
    EXPECT_EQ(Decode(fmt, data).size(), 20u);
    // One cut after its header gives what its bytes hold.
    data = block;
    data.insert(data.end(), block.begin(), block.begin() + 9);
    EXPECT_EQ(Decode(fmt, data).size(), 20u + 2 + 4);
    // A predictor index beyond the table in any block spoils the call.
    data = block;
    Bytes bad = block;
    bad[0] = 7;
    data.insert(data.end(), bad.begin(), bad.end());
    EXPECT_TRUE(Decode(fmt, data).empty());
}

TEST(AdpcmDecode, StepGrowthStaysBounded) {
    // Codes -8 triple the step each time; after hundreds of them the
    // arithmetic must still be defined (UBSan watches) and the samples
    // pinned at the bottom.
    const Bytes fmt = Adpcm(1, 256, 500);
    Bytes block = Header(0, 32767, 0, 0);
    block.resize(256, 0x88);
    const Samples out = Decode(fmt, block);
    ASSERT_EQ(out.size(), 500u);
    EXPECT_EQ(out.back(), -32768);
}

TEST(AdpcmDecode, EightBitOutputHalvesTheBytes) {
    const Bytes fmt = Adpcm(1, 11025);
    const Bytes data = Encode(fmt, Tone(2000, 1, 11025));
    const Samples wide = Decode(fmt, data);
    const Samples narrow = Decode(fmt, data, 8);
    ASSERT_EQ(narrow.size(), wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i)
        ASSERT_EQ(narrow[i], (wide[i] / 256 + 128) & 0xFF) << i;
}

TEST(AdpcmEncode, QualityAndWholeBlocks) {
    for (int channels : {1, 2}) {
        const Bytes fmt = Adpcm(channels, 22050);
        const Samples source = Tone(22050, channels, 22050);
        const Bytes data = Encode(fmt, source);
        // 22050 frames in blocks of 1012: 22 blocks, the last one filled up.
        EXPECT_EQ(data.size(), 22u * F(fmt)->nBlockAlign);
        const Samples back = Decode(fmt, data);
        ASSERT_EQ(back.size(), 22u * 1012 * channels);
        EXPECT_GT(Snr(source, back), 15) << channels;
        // The fill repeats the last frame, so no click follows the end.
        EXPECT_NEAR(back.back(), source.back(), 2000);
    }
}

TEST(AdpcmEncode, EveryPredictorIsUsed) {
    // Blocks of noise shaped by each predictor pair in turn, for which that
    // pair predicts best; for the pair that extrapolates a line (which
    // shapes noise into a runaway), a slow smooth curve.
    const Bytes fmt = Adpcm(1, 11025);
    Samples s;
    unsigned seed = 7;
    for (int block = 0; block < 70; ++block) {
        const TADPCMCoefSet c = ADPCMCoefficients[block % 7];
        double x1 = 0, x2 = 0;
        for (int i = 0; i < 500; ++i) {
            seed = seed * 1103515245 + 12345;
            const double e = static_cast<int>((seed >> 16) % 801) - 400;
            const double x = block % 7 == 1 ? 15000 * std::sin(0.01 * i + block)
                                            : std::clamp((c.iCoef1 * x1 + c.iCoef2 * x2) / 256 + e,
                                                         -30000.0, 30000.0);
            s.push_back(static_cast<std::int16_t>(x));
            x2 = x1;
            x1 = x;
        }
    }
    const Bytes data = Encode(fmt, s);
    std::set<int> used;
    for (std::size_t at = 0; at < data.size(); at += 256)
        used.insert(data[at]);
    EXPECT_EQ(used.size(), 7u);
}

TEST(AdpcmEncode, EightBitInputEncodesAsItsWideValues) {
    const Bytes fmt = Adpcm(1, 11025);
    Bytes narrow;
    Samples wide;
    for (int i = 0; i < 1200; ++i) {
        const auto b = static_cast<std::uint8_t>(128 + 100 * std::sin(i * 0.07));
        narrow.push_back(b);
        wide.push_back(static_cast<std::int16_t>((b - 128) * 256));
    }
    const TWaveFormatEx pcm8 = Pcm(8, 1, 11025);
    Bytes out(static_cast<std::size_t>(adpcmEncodedSize(F(fmt), 1200)));
    ASSERT_EQ(adpcmEncode4Bit(&pcm8, F(fmt), narrow.data(), 1200, out.data()),
              static_cast<std::int32_t>(out.size()));
    EXPECT_EQ(out, Encode(fmt, wide));
}

// IMA blocks: 4 header bytes a channel (first sample, step index), then
// 4-byte groups of 8 codes a channel, the low nibble first.
Bytes Ima(int channels, int align) {
    Bytes b(20, 0);
    auto* f = reinterpret_cast<TWaveFormatEx*>(b.data());
    f->wFormatTag = WAVE_FORMAT_IMA_ADPCM;
    f->nChannels = static_cast<WORD>(channels);
    f->nSamplesPerSec = 11025;
    f->nBlockAlign = static_cast<WORD>(align);
    f->wBitsPerSample = 4;
    f->cbSize = 2;
    const int spb = (align - 4 * channels) * 2 / channels + 1;
    b[18] = static_cast<std::uint8_t>(spb);
    b[19] = static_cast<std::uint8_t>(spb >> 8);
    return b;
}

Samples DecodeIma(const Bytes& fmt, const Bytes& data) {
    Samples out(static_cast<std::size_t>(
                    adpcmDecodedSize(F(fmt), static_cast<std::int32_t>(data.size()), 16)) /
                2);
    const TWaveFormatEx pcm = Pcm(16, F(fmt)->nChannels, 11025);
    const std::int32_t n = adpcmIMADecode4Bit(F(fmt), &pcm, data.data(),
                                              static_cast<std::int32_t>(data.size()), out.data());
    out.resize(static_cast<std::size_t>(n / 2));
    return out;
}

TEST(ImaBlockDecode, HandMadeBlocks) {
    Bytes mono = {0xE8, 0x03, 0, 0, 0x71, 0, 0, 0}; // 1000, index 0; codes 1, 7, 0 ...
    EXPECT_EQ(DecodeIma(Ima(1, 8), mono),
              (Samples{1000, 1002, 1015, 1017, 1018, 1019, 1020, 1021, 1022}));

    // Stereo: left's four code bytes, then right's.
    Bytes stereo = {0x10, 0, 0, 0, 0x20, 0, 0, 0};
    stereo.insert(stereo.end(), {0, 0, 0, 0, 0x77, 0x77, 0x77, 0x77});
    const Samples out = DecodeIma(Ima(2, 16), stereo);
    ASSERT_EQ(out.size(), 18u);
    EXPECT_EQ(out[0], 16);
    EXPECT_EQ(out[1], 32);
    EXPECT_LT(std::abs(out[16] - 16), 20); // left barely moves
    EXPECT_GT(out[17], 1000);              // right climbs
}

TEST(ImaBlockDecode, BadStepIndexGivesSilenceAndACutBlockItsGroups) {
    Bytes data = {0xE8, 0x03, 89, 0, 0x77, 0x77, 0x77, 0x77};
    const Bytes good = {0xE8, 0x03, 0, 0, 0x77, 0x77, 0x77, 0x77};
    data.insert(data.end(), good.begin(), good.end());
    const Samples out = DecodeIma(Ima(1, 8), data);
    ASSERT_EQ(out.size(), 18u);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(out[static_cast<std::size_t>(i)], 0);
    EXPECT_EQ(out[9], 1000);
    // A block cut inside its codes gives its header sample and whole groups.
    const Bytes fmt = Ima(1, 12); // 1 + 16 samples
    Bytes cut = {0xE8, 0x03, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(DecodeIma(fmt, cut).size(), 9u);
    cut.resize(3);
    EXPECT_TRUE(DecodeIma(fmt, cut).empty());
}

} // namespace
} // namespace lum
