// Streams: the header protocol (prepare, convert, unprepare and their
// checks), sizes as upper bounds, block-aligned conversion with its
// leftover, the end flush, a fresh start, and the conversions themselves:
// PCM exactly, codecs within their error.
#include <algorithm>

#include "platform/acm/acmtest.h"

namespace lum::platform::acm::test {
namespace {

class AcmStream : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Acm().handle) GTEST_FAIL() << "the module (LUM_ACM) did not load";
    }
    void TearDown() override {
        if (stream) Acm().StreamClose(stream, 0);
    }
    void Open(const void* src, const void* dst) {
        ASSERT_EQ(Acm().StreamOpen(&stream, nullptr, static_cast<const WAVEFORMATEX*>(src),
                                   static_cast<const WAVEFORMATEX*>(dst), nullptr, 0, 0, 0),
                  MMSYSERR_NOERROR);
    }
    HACMSTREAM stream = nullptr;
};

TEST_F(AcmStream, QueryOpensNothingAndRefusesWhatNoDriverDoes) {
    const WAVEFORMATEX pcm = Pcm(16, 2, 44100);
    HACMSTREAM s = reinterpret_cast<HACMSTREAM>(1);
    EXPECT_TRUE(Suggest(&pcm, 0x31).empty()); // stereo has no GSM
    const WAVEFORMATEX mono = Pcm(16, 1, 8000);
    const Bytes gsm8 = Suggest(&mono, 0x31);
    ASSERT_FALSE(gsm8.empty());
    EXPECT_EQ(Acm().StreamOpen(&s, nullptr, &mono, Fmt(gsm8), nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
              MMSYSERR_NOERROR);
    EXPECT_EQ(s, nullptr);
    // 44.1 kHz stereo straight to 8 kHz GSM: no single driver.
    EXPECT_EQ(
        Acm().StreamOpen(nullptr, nullptr, &pcm, Fmt(gsm8), nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
        ACMERR_NOTPOSSIBLE);
    // A PCM record whose block does not fit its bits and channels.
    WAVEFORMATEX bad = pcm;
    bad.nBlockAlign = 3;
    EXPECT_EQ(Acm().StreamOpen(nullptr, nullptr, &bad, &mono, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
              ACMERR_NOTPOSSIBLE);
    // An MS ADPCM target with a coefficient off the table.
    Bytes adpcm = Suggest(&mono, 2);
    ASSERT_EQ(adpcm.size(), 50u);
    adpcm[22] ^= 1;
    EXPECT_EQ(
        Acm().StreamOpen(nullptr, nullptr, &mono, Fmt(adpcm), nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
        ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(Acm().StreamOpen(nullptr, nullptr, &mono, &mono, nullptr, 0, 0,
                               ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC),
              ACMERR_NOTPOSSIBLE);
}

TEST_F(AcmStream, HeaderProtocol) {
    const WAVEFORMATEX a = Pcm(16, 1, 8000), b = Pcm(8, 1, 8000);
    Open(&a, &b);
    Bytes src(100), dst(100);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = src.data();
    h.cbSrcLength = 100;
    h.pbDst = dst.data();
    h.cbDstLength = 100;
    EXPECT_EQ(Acm().StreamConvert(stream, &h, 0), ACMERR_UNPREPARED);
    ACMSTREAMHEADER shortHeader = h;
    shortHeader.cbStruct = 84;
    EXPECT_EQ(Acm().Prepare(stream, &shortHeader, 0), MMSYSERR_INVALPARAM);
    ASSERT_EQ(Acm().Prepare(stream, &h, 0), MMSYSERR_NOERROR);
    EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);

    // Longer than prepared, or elsewhere, is refused.
    h.cbSrcLength = 101;
    EXPECT_EQ(Acm().StreamConvert(stream, &h, 0), MMSYSERR_INVALPARAM);
    h.cbSrcLength = 50;
    ASSERT_EQ(Acm().StreamConvert(stream, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
    EXPECT_EQ(h.cbSrcLengthUsed, 50u);
    EXPECT_EQ(h.cbDstLengthUsed, 25u);
    h.pbSrc = src.data() + 1;
    EXPECT_EQ(Acm().StreamConvert(stream, &h, 0), MMSYSERR_INVALPARAM);
    h.pbSrc = src.data();
    EXPECT_EQ(Acm().StreamConvert(stream, &h, 0x1000), MMSYSERR_INVALFLAG);

    // Unpreparing wants the prepared lengths back.
    EXPECT_EQ(Acm().Unprepare(stream, &h, 0), MMSYSERR_INVALPARAM);
    h.cbSrcLength = 100;
    EXPECT_EQ(Acm().Unprepare(stream, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(Acm().Unprepare(stream, &h, 0), ACMERR_UNPREPARED);
}

// ConvertAll checks that the size query bounds each call's output and that
// the end leaves no input; here the result has the length the formats
// promise.
TEST_F(AcmStream, SizeBoundsEveryCallAndTheEndLeavesNothing) {
    for (const auto& [name, chunk, src, dst] :
         std::vector<std::tuple<const char*, std::size_t, WAVEFORMATEX, WAVEFORMATEX>>{
             {"resample up", 1000, Pcm(16, 1, 8000), Pcm(16, 2, 44100)},
             {"resample down", 4410, Pcm(16, 2, 44100), Pcm(8, 1, 11025)},
             {"bits only", 777, Pcm(8, 2, 22050), Pcm(16, 2, 22050)}}) {
        SCOPED_TRACE(name);
        const int frames = 44100;
        const Bytes in = S16(Tone(frames * src.nBlockAlign / 2, 1, src.nSamplesPerSec));
        const Bytes out = ConvertAll(&src, &dst, in, chunk);
        const double seconds = double(in.size()) / src.nAvgBytesPerSec;
        const double expected = seconds * dst.nAvgBytesPerSec;
        EXPECT_NEAR(double(out.size()), expected, 2.0 * dst.nBlockAlign + 1) << name;
        EXPECT_EQ(out.size() % dst.nBlockAlign, 0u);
    }
}

TEST_F(AcmStream, PcmConversionsAreExact) {
    // 8 to 16 bits and back; mono to stereo copies; stereo to mono averages.
    const WAVEFORMATEX m8 = Pcm(8, 1, 8000), m16 = Pcm(16, 1, 8000), s16 = Pcm(16, 2, 8000);
    const Bytes bytes8 = {0, 1, 127, 128, 129, 255};
    const Bytes wide = ConvertAll(&m8, &m16, bytes8);
    EXPECT_EQ(Samples(wide), (std::vector<std::int16_t>{-32768, -32512, -256, 0, 256, 32512}));
    EXPECT_EQ(ConvertAll(&m16, &m8, wide), bytes8);
    const Bytes stereo = ConvertAll(&m16, &s16, S16({100, -200}));
    EXPECT_EQ(Samples(stereo), (std::vector<std::int16_t>{100, 100, -200, -200}));
    EXPECT_EQ(Samples(ConvertAll(&s16, &m16, S16({100, 300, -1000, 1000}))),
              (std::vector<std::int16_t>{200, 0}));
    // 24-bit PCM reaches 16 bits through the same driver.
    const WAVEFORMATEX m24 = Pcm(24, 1, 8000);
    EXPECT_EQ(Samples(ConvertAll(&m24, &m16, Bytes{0x00, 0x34, 0x12, 0xFF, 0xFF, 0xFF})),
              (std::vector<std::int16_t>{0x1234, -1}));
}

TEST_F(AcmStream, EncodersTakeWholeFramesAndFlushTheRestAtTheEnd) {
    const WAVEFORMATEX mono = Pcm(16, 1, 8000);
    const Bytes gsm = Suggest(&mono, 0x31);
    Open(&mono, gsm.data());
    Bytes src = S16(Tone(1000, 1, 8000)), dst(4096);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = src.data();
    h.cbSrcLength = static_cast<DWORD>(src.size());
    h.pbDst = dst.data();
    h.cbDstLength = static_cast<DWORD>(dst.size());
    ASSERT_EQ(Acm().Prepare(stream, &h, 0), MMSYSERR_NOERROR);
    // 1000 samples: three GSM blocks of 320, 40 samples left over.
    ASSERT_EQ(Acm().StreamConvert(stream, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_EQ(h.cbSrcLengthUsed, 960u * 2);
    EXPECT_EQ(h.cbDstLengthUsed, 3u * 65);
    // At the end the rest is encoded, filled up to a whole block.
    h.cbSrcLength = 80;
    std::memmove(src.data(), src.data() + 1920, 80);
    ASSERT_EQ(
        Acm().StreamConvert(stream, &h, ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_END),
        MMSYSERR_NOERROR);
    EXPECT_EQ(h.cbSrcLengthUsed, 80u);
    EXPECT_EQ(h.cbDstLengthUsed, 65u);
    h.cbSrcLength = static_cast<DWORD>(src.size());
    EXPECT_EQ(Acm().Unprepare(stream, &h, 0), MMSYSERR_NOERROR);
}

TEST_F(AcmStream, DecodersTakeWholeBlocksAndACutBlockOnlyAtTheEnd) {
    const WAVEFORMATEX mono = Pcm(16, 1, 11025);
    const Bytes adpcm = Suggest(&mono, 2); // 256-byte blocks of 500 samples
    const Bytes encoded = ConvertAll(&mono, adpcm.data(), S16(Tone(1500, 1, 11025)));
    ASSERT_EQ(encoded.size(), 3u * 256);
    Open(adpcm.data(), &mono);
    Bytes src(encoded.begin(), encoded.begin() + 300), dst(8192);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = src.data();
    h.cbSrcLength = 300;
    h.pbDst = dst.data();
    h.cbDstLength = static_cast<DWORD>(dst.size());
    ASSERT_EQ(Acm().Prepare(stream, &h, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(Acm().StreamConvert(stream, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_EQ(h.cbSrcLengthUsed, 256u);
    EXPECT_EQ(h.cbDstLengthUsed, 500u * 2);
    // The cut second block at the end: its header and 37 code bytes.
    std::memmove(src.data(), src.data() + 256, 44);
    h.cbSrcLength = 44;
    ASSERT_EQ(Acm().StreamConvert(stream, &h, ACM_STREAMCONVERTF_END), MMSYSERR_NOERROR);
    EXPECT_EQ(h.cbSrcLengthUsed, 44u);
    EXPECT_EQ(h.cbDstLengthUsed, (2u + 74) * 2);
    h.cbSrcLength = 300;
    EXPECT_EQ(Acm().Unprepare(stream, &h, 0), MMSYSERR_NOERROR);
}

TEST_F(AcmStream, OutputThatDoesNotFitWaitsForTheNextCall) {
    const WAVEFORMATEX mono = Pcm(16, 1, 11025);
    const Bytes adpcm = Suggest(&mono, 2);
    const Bytes encoded = ConvertAll(&mono, adpcm.data(), S16(Tone(1000, 1, 11025)));
    const Bytes all = ConvertAll(adpcm.data(), &mono, encoded);
    Open(adpcm.data(), &mono);
    Bytes src = encoded, dst(300), got;
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = src.data();
    h.cbSrcLength = static_cast<DWORD>(src.size());
    h.pbDst = dst.data();
    h.cbDstLength = 300;
    ASSERT_EQ(Acm().Prepare(stream, &h, 0), MMSYSERR_NOERROR);
    DWORD offset = 0;
    for (int i = 0; i < 20; ++i) {
        const DWORD left = static_cast<DWORD>(encoded.size()) - offset;
        std::memmove(src.data(), encoded.data() + offset, left);
        h.cbSrcLength = left;
        ASSERT_EQ(Acm().StreamConvert(stream, &h, ACM_STREAMCONVERTF_END), MMSYSERR_NOERROR);
        offset += h.cbSrcLengthUsed;
        got.insert(got.end(), dst.begin(), dst.begin() + h.cbDstLengthUsed);
        if (h.cbDstLengthUsed == 0 && offset == encoded.size()) break;
    }
    EXPECT_EQ(got, all);
    h.cbSrcLength = static_cast<DWORD>(src.size());
    h.cbDstLength = 300;
    EXPECT_EQ(Acm().Unprepare(stream, &h, 0), MMSYSERR_NOERROR);
}

TEST_F(AcmStream, CodecsRoundTripWithinTheirError) {
    struct Codec {
        WORD tag;
        int channels;
        DWORD rate;
        double minSnr;
    };
    for (const Codec& c :
         {Codec{2, 2, 22050, 25}, Codec{0x11, 2, 22050, 25}, Codec{6, 1, 8000, 30},
          Codec{7, 2, 8000, 30}, Codec{0x31, 1, 8000, 8}, Codec{0x55, 2, 44100, 10}}) {
        SCOPED_TRACE(c.tag);
        const WAVEFORMATEX pcm = Pcm(16, c.channels, c.rate);
        const Bytes target = Suggest(&pcm, c.tag);
        ASSERT_FALSE(target.empty());
        const auto source = Tone(static_cast<int>(c.rate), c.channels, c.rate);
        const Bytes encoded = ConvertAll(&pcm, target.data(), S16(source));
        ASSERT_FALSE(encoded.empty());
        const auto decoded = Samples(ConvertAll(target.data(), &pcm, encoded));
        ASSERT_GE(decoded.size(), source.size());
        if (c.tag == 0x55) {
            // MP3 is delayed by the encoder; compare where it lines up best.
            double best = 0;
            for (int shift = 0; shift < 4000; shift += c.channels)
                best = std::max(best, Snr(source, {decoded.begin() + shift, decoded.end()}));
            EXPECT_GT(best, c.minSnr);
        } else {
            EXPECT_GT(Snr(source, decoded), c.minSnr);
        }
    }
}

TEST_F(AcmStream, StartForgetsTheStreamsHistory) {
    const WAVEFORMATEX a = Pcm(16, 1, 8000), b = Pcm(16, 1, 22050);
    const Bytes in = S16(Tone(800, 1, 8000));
    Open(&a, &b);
    Bytes src = in, dst(8192);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = src.data();
    h.cbSrcLength = static_cast<DWORD>(src.size());
    h.pbDst = dst.data();
    h.cbDstLength = static_cast<DWORD>(dst.size());
    ASSERT_EQ(Acm().Prepare(stream, &h, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(Acm().StreamConvert(stream, &h, ACM_STREAMCONVERTF_START), MMSYSERR_NOERROR);
    const Bytes first(dst.begin(), dst.begin() + h.cbDstLengthUsed);
    ASSERT_EQ(Acm().StreamConvert(stream, &h, 0), MMSYSERR_NOERROR);
    const Bytes carried(dst.begin(), dst.begin() + h.cbDstLengthUsed);
    ASSERT_EQ(Acm().StreamConvert(stream, &h, ACM_STREAMCONVERTF_START), MMSYSERR_NOERROR);
    const Bytes again(dst.begin(), dst.begin() + h.cbDstLengthUsed);
    EXPECT_EQ(again, first);
    EXPECT_NE(carried, first); // the resampler's history shows otherwise
    EXPECT_EQ(Acm().Unprepare(stream, &h, 0), MMSYSERR_NOERROR);
}

TEST_F(AcmStream, VolumeFilterScalesAndClips) {
    const WAVEFORMATEX m16 = Pcm(16, 1, 8000);
    VOLUMEWAVEFILTER v{};
    v.wfltr.cbStruct = sizeof v;
    v.wfltr.dwFilterTag = WAVE_FILTER_VOLUME;
    v.dwVolume = 0x20000; // 200%
    ASSERT_EQ(Acm().StreamOpen(&stream, nullptr, &m16, &m16, &v.wfltr, 0, 0, 0), MMSYSERR_NOERROR);
    Bytes src = S16({1000, -1000, 20000}), dst(6);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = src.data();
    h.cbSrcLength = 6;
    h.pbDst = dst.data();
    h.cbDstLength = 6;
    ASSERT_EQ(Acm().Prepare(stream, &h, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(Acm().StreamConvert(stream, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(Samples(dst), (std::vector<std::int16_t>{2000, -2000, 32767}));
    EXPECT_EQ(Acm().Unprepare(stream, &h, 0), MMSYSERR_NOERROR);
    // A filter does not change the format.
    const WAVEFORMATEX m8 = Pcm(8, 1, 8000);
    EXPECT_EQ(Acm().StreamOpen(nullptr, nullptr, &m16, &m8, &v.wfltr, 0, 0, ACM_STREAMOPENF_QUERY),
              ACMERR_NOTPOSSIBLE);
}

} // namespace
} // namespace lum::platform::acm::test
