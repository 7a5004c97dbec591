// TLumADPCMConverter between a source of compressed bytes and a collecting
// sink: the data that comes out equals one decode of the whole stream,
// whatever block size, pull size or consumer buffer; float files pass on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "audio/lumadcvt.h"
#include "audio/lumadpcm.h"
#include "audio/lumantex.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"

namespace lum {
namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::WAVEHDR;

// The head of the chain: hands out Data in the sizes asked for, and keeps
// the sizes.
class ByteSource : public TLumDSPComponent {
public:
    ByteSource(const TWaveFormatEx* fmt, Bytes data) : data_(std::move(data)) {
        SetCanOutput(true);
        SetPWaveFormat(fmt);
    }
    void BufferLoad(WAVEHDR* hdr, bool& more) override {
        asked.push_back(static_cast<std::int32_t>(hdr->dwBufferLength));
        const std::size_t n = std::min<std::size_t>(hdr->dwBufferLength, data_.size() - at_);
        std::memcpy(hdr->lpData, data_.data() + at_, n);
        at_ += n;
        hdr->dwBytesRecorded = static_cast<platform::DWORD>(n);
        more = at_ < data_.size();
    }
    std::vector<std::int32_t> asked;

private:
    Bytes data_;
    std::size_t at_ = 0;
};

// Pulls everything through Conv in buffers of Room bytes.
Bytes Collect(TLumADPCMConverter& conv, std::int32_t room) {
    conv.Opened();
    conv.Started();
    Bytes out;
    std::vector<char> buffer(static_cast<std::size_t>(room));
    bool more = true;
    for (int guard = 0; more && guard < 100000; ++guard) {
        WAVEHDR hdr{};
        hdr.lpData = buffer.data();
        hdr.dwBufferLength = static_cast<platform::DWORD>(room);
        conv.BufferLoad(&hdr, more);
        EXPECT_LE(hdr.dwBytesRecorded, hdr.dwBufferLength);
        out.insert(out.end(), buffer.begin(), buffer.begin() + hdr.dwBytesRecorded);
    }
    EXPECT_FALSE(more);
    conv.Stopped();
    conv.Closed();
    return out;
}

Bytes Tone(int channels, int rate, int frames) {
    Bytes b;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const auto v = static_cast<std::int16_t>(
                std::lround(12000 * std::sin(2 * M_PI * (440 + 200 * c) * i / rate)));
            b.push_back(static_cast<std::uint8_t>(v));
            b.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    return b;
}

struct Encoded {
    Bytes format;
    Bytes data;
    const TWaveFormatEx* Fmt() const {
        return reinterpret_cast<const TWaveFormatEx*>(format.data());
    }
};

Encoded MsAdpcm(int channels, int rate, int frames) {
    TWaveFormatEx pcm{};
    pcmBuildWaveHeader(&pcm, 16, channels, rate);
    Encoded e;
    e.format.resize(kADPCMFormatSize);
    auto* f = reinterpret_cast<TWaveFormatEx*>(e.format.data());
    EXPECT_TRUE(adpcmBuildFormatHeader(&pcm, f, 0, channels, rate));
    const Bytes tone = Tone(channels, rate, frames);
    e.data.resize(static_cast<std::size_t>(adpcmEncodedSize(f, frames)));
    const std::int32_t n = adpcmEncode4Bit(&pcm, f, tone.data(),
                                           static_cast<std::int32_t>(tone.size()), e.data.data());
    e.data.resize(static_cast<std::size_t>(n));
    return e;
}

Bytes DecodeWhole(const Encoded& e, int bits) {
    TWaveFormatEx pcm{};
    pcmBuildWaveHeader(&pcm, bits, e.Fmt()->nChannels,
                       static_cast<std::int32_t>(e.Fmt()->nSamplesPerSec));
    Bytes out(static_cast<std::size_t>(
        adpcmDecodedSize(e.Fmt(), static_cast<std::int32_t>(e.data.size()), bits)));
    const std::int32_t n = adpcmDecode4Bit(e.Fmt(), &pcm, e.data.data(),
                                           static_cast<std::int32_t>(e.data.size()), out.data());
    out.resize(static_cast<std::size_t>(n));
    return out;
}

TEST(ADPCMConverter, BlocksThatDoNotDivideThePullDecodeWholeAndInBounds) {
    // 100 kHz: blocks of 2304 (mono) and 4608 (stereo) bytes, neither a
    // divisor of 4096; 22050 Hz stereo: 1024, which is.
    for (auto [channels, rate] : {std::pair{1, 100000}, {2, 100000}, {2, 22050}}) {
        const Encoded e = MsAdpcm(channels, rate, rate / 5 + 77);
        ASSERT_FALSE(e.data.empty());
        const std::int32_t align = e.Fmt()->nBlockAlign;
        ByteSource source(e.Fmt(), e.data);
        TLumADPCMConverter conv;
        conv.SetInput(&source);
        ASSERT_TRUE(conv.GetCanConvert());
        const TWaveFormatEx* out = conv.GetPWaveFormat();
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(out->nChannels, channels);
        EXPECT_EQ(out->nSamplesPerSec, static_cast<platform::DWORD>(rate));
        // Odd consumer buffers, so leftovers carry from pull to pull.
        const Bytes got = Collect(conv, 1234 * channels);
        EXPECT_EQ(got, DecodeWhole(e, 16)) << channels << " " << rate;
        ASSERT_FALSE(source.asked.empty());
        for (std::int32_t asked : source.asked)
            EXPECT_EQ(asked % align, 0) << asked;
    }
}

TEST(ADPCMConverter, EightBitOutputIsTheSixteenBitDecodeNarrowed) {
    const Encoded e = MsAdpcm(2, 22050, 5000);
    ByteSource source(e.Fmt(), e.data);
    TLumADPCMConverter conv;
    conv.SetBits(b8Bit);
    conv.SetInput(&source);
    EXPECT_EQ(conv.GetPWaveFormat()->wBitsPerSample, 8);
    const Bytes got = Collect(conv, 999);
    const Bytes wide = DecodeWhole(e, 16);
    ASSERT_EQ(got.size() * 2, wide.size());
    EXPECT_EQ(got, DecodeWhole(e, 8));
}

TEST(ADPCMConverter, TagThreeIsFloatUnlessFourBitsASample) {
    // A float file passes on untouched, its format too.
    TWaveFormatEx flt{};
    flt.wFormatTag = 3;
    flt.nChannels = 2;
    flt.nSamplesPerSec = 48000;
    flt.wBitsPerSample = 32;
    flt.nBlockAlign = 8;
    flt.nAvgBytesPerSec = 48000 * 8;
    Bytes samples(8 * 300);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint8_t>(i * 7);
    {
        ByteSource source(&flt, samples);
        TLumADPCMConverter conv;
        conv.SetInput(&source);
        EXPECT_TRUE(conv.GetCanConvert());
        EXPECT_EQ(conv.GetPWaveFormat()->wFormatTag, 3);
        EXPECT_EQ(conv.GetPWaveFormat()->wBitsPerSample, 32);
        WAVEHDR hdr{};
        std::vector<char> buffer(samples.size());
        hdr.lpData = buffer.data();
        hdr.dwBufferLength = static_cast<platform::DWORD>(buffer.size());
        bool more = true;
        conv.Opened();
        conv.Started();
        conv.BufferLoad(&hdr, more);
        ASSERT_EQ(hdr.dwBytesRecorded, samples.size());
        EXPECT_EQ(std::memcmp(buffer.data(), samples.data(), samples.size()), 0);
    }
    // Four bits a sample: the streaming IMA decode, state carried across
    // pulls, against one call over everything.
    TWaveFormatEx ima = flt;
    ima.wBitsPerSample = 4;
    ima.nBlockAlign = 1;
    ima.nAvgBytesPerSec = 48000;
    Bytes codes(10000);
    for (std::size_t i = 0; i < codes.size(); ++i)
        codes[i] = static_cast<std::uint8_t>((i * 37) ^ (i >> 3));
    ByteSource source(&ima, codes);
    TLumADPCMConverter conv;
    conv.SetInput(&source);
    EXPECT_EQ(conv.GetPWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
    TIMA_PARAMS state{};
    Bytes expected(codes.size() * 4);
    expected.resize(static_cast<std::size_t>(
        WSIMATOPCM(codes.data(), expected.data(), static_cast<std::int32_t>(codes.size()), state)));
    EXPECT_EQ(Collect(conv, 3000), expected);
}

TEST(ADPCMConverter, PcmAndDisabledPassOnAndUndecodableOpensWithAnError) {
    const Encoded e = MsAdpcm(1, 11025, 3000);
    ByteSource source(e.Fmt(), e.data);
    TLumADPCMConverter conv;
    conv.SetEnabled(false);
    conv.SetInput(&source);
    EXPECT_EQ(conv.GetPWaveFormat()->wFormatTag, WAVE_FORMAT_ADPCM);
    conv.SetEnabled(true);
    EXPECT_EQ(conv.GetPWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);

    // A block format whose PCM would be out of range: needed, not possible.
    Encoded fast = e;
    reinterpret_cast<TWaveFormatEx*>(fast.format.data())->nSamplesPerSec = 200000;
    ByteSource too_fast(fast.Fmt(), fast.data);
    TLumADPCMConverter conv2;
    conv2.SetInput(&too_fast);
    EXPECT_FALSE(conv2.GetCanConvert());
    EXPECT_THROW(conv2.Opened(), ELumADPCMError);
}

} // namespace
} // namespace lum
