// Audio converted on saving: PCM depth, channels and rate, reads in and out
// of order, and formats left to the audio compression manager.
#include <cmath>
#include <numbers>

#include "platform/vfw/audioconvert.h"
#include "save_fixtures.h"

namespace lum::vfwtest {
namespace {

constexpr DWORD kRate = 8000;
constexpr int kSamples = 8000; // one second

// A file with one 16-bit audio stream of Channels channels: a 440 Hz sine
// at amplitude 8000 on the first channel, its negation on the second.
std::string WriteSine(lum::test::TempDir& dir, WORD channels) {
    const std::string path = dir.File("sine" + std::to_string(channels) + ".avi");
    CreateFile(path, [&](PAVIFILE f) {
        WAVEFORMATEX wf = PcmFormat(channels, kRate, 16);
        AVISTREAMINFO ai = AudioInfo(wf);
        PAVISTREAM a = nullptr;
        ASSERT_EQ(AVIFileCreateStream(f, &a, &ai), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(a, 0, &wf, sizeof wf), AVIERR_OK);
        std::vector<std::int16_t> pcm;
        for (int s = 0; s < kSamples; ++s) {
            const auto v = static_cast<std::int16_t>(
                std::lround(8000 * std::sin(2 * std::numbers::pi * 440 * s / kRate)));
            pcm.push_back(v);
            if (channels == 2) pcm.push_back(static_cast<std::int16_t>(-v));
        }
        ASSERT_EQ(AVIStreamWrite(a, 0, kSamples, pcm.data(), static_cast<LONG>(pcm.size() * 2), 0,
                                 nullptr, nullptr),
                  AVIERR_OK);
        AVIStreamRelease(a);
    });
    return path;
}

PAVISTREAM Converted(PAVISTREAM a, WAVEFORMATEX to) {
    PAVISTREAM c = nullptr;
    EXPECT_EQ(MakeAudioConversionStream(&c, a, &to, sizeof to), AVIERR_OK);
    return c;
}

Bytes ReadRange(PAVISTREAM s, LONG start, LONG n) {
    LONG block = 0;
    EXPECT_EQ(AVIStreamRead(s, start, n, nullptr, 0, &block, nullptr), AVIERR_OK);
    Bytes b(static_cast<std::size_t>(block));
    LONG bytes = 0, got = 0;
    EXPECT_EQ(AVIStreamRead(s, start, n, b.data(), block, &bytes, &got), AVIERR_OK);
    EXPECT_EQ(got, n);
    b.resize(static_cast<std::size_t>(bytes));
    return b;
}

std::int16_t S16(const Bytes& b, std::size_t i) {
    return static_cast<std::int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
}

class AudioConvertTest : public ::testing::Test {
protected:
    lum::test::TempDir dir_;
};

TEST_F(AudioConvertTest, DepthAndChannelsKeepTheSamples) {
    PAVISTREAM mono = OpenStream(WriteSine(dir_, 1), streamtypeAUDIO);
    ASSERT_NE(mono, nullptr);
    const Bytes src = ReadRange(mono, 0, kSamples);

    // 16 to 8 bits: the high byte, made unsigned.
    PAVISTREAM c8 = Converted(mono, PcmFormat(1, kRate, 8));
    ASSERT_NE(c8, nullptr);
    AVISTREAMINFO si{};
    ASSERT_EQ(AVIStreamInfo(c8, &si, sizeof si), AVIERR_OK);
    EXPECT_EQ(si.dwSampleSize, 1u);
    EXPECT_EQ(si.dwRate / si.dwScale, kRate);
    EXPECT_EQ(AVIStreamLength(c8), kSamples);
    EXPECT_EQ(FormatOf(c8).size(), sizeof(WAVEFORMATEX));
    const Bytes b8 = ReadRange(c8, 0, kSamples);
    for (std::size_t i = 0; i < kSamples; i += 37)
        EXPECT_NEAR(b8[i], (S16(src, i) >> 8) + 128, 1) << i;

    // Mono to stereo: the same sample on both sides, at the same level.
    PAVISTREAM st = Converted(mono, PcmFormat(2, kRate, 16));
    ASSERT_NE(st, nullptr);
    const Bytes b2 = ReadRange(st, 0, kSamples);
    ASSERT_EQ(b2.size(), std::size_t{kSamples} * 4);
    for (std::size_t i = 0; i < kSamples; i += 37) {
        EXPECT_NEAR(S16(b2, 2 * i), S16(src, i), 1) << i;
        EXPECT_NEAR(S16(b2, 2 * i + 1), S16(src, i), 1) << i;
    }
    AVIStreamRelease(st);
    AVIStreamRelease(c8);
    AVIStreamRelease(mono);

    // Stereo to mono: the average, here of a sample and its negation.
    PAVISTREAM stereo = OpenStream(WriteSine(dir_, 2), streamtypeAUDIO);
    PAVISTREAM m = Converted(stereo, PcmFormat(1, kRate, 16));
    ASSERT_NE(m, nullptr);
    const Bytes b1 = ReadRange(m, 0, kSamples);
    for (std::size_t i = 0; i < kSamples; i += 37)
        EXPECT_NEAR(S16(b1, i), 0, 1) << i;
    AVIStreamRelease(m);
    AVIStreamRelease(stereo);
}

TEST_F(AudioConvertTest, RateChangeKeepsTheToneAndLengthAndReadsAnywhere) {
    PAVISTREAM mono = OpenStream(WriteSine(dir_, 1), streamtypeAUDIO);
    ASSERT_NE(mono, nullptr);
    constexpr DWORD kTo = 22050;
    PAVISTREAM c = Converted(mono, PcmFormat(1, kTo, 16));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(AVIStreamLength(c), static_cast<LONG>(kTo)); // still one second
    // Read in uneven pieces, as a save does.
    Bytes all;
    for (LONG at = 0; at < static_cast<LONG>(kTo);) {
        const LONG n = std::min<LONG>(1000 + at % 777, static_cast<LONG>(kTo) - at);
        const Bytes piece = ReadRange(c, at, n);
        all.insert(all.end(), piece.begin(), piece.end());
        at += n;
    }
    ASSERT_EQ(all.size(), std::size_t{kTo} * 2);
    // Away from the ends, the 440 Hz sine at the new rate.
    double worst = 0;
    for (std::size_t i = 200; i < kTo - 200; ++i) {
        const double want = 8000 * std::sin(2 * std::numbers::pi * 440 * double(i) / kTo);
        worst = std::max(worst, std::abs(S16(all, i) - want));
    }
    EXPECT_LT(worst, 80); // within 1 % of the amplitude
    // A read elsewhere gives what the sequential read gave there.
    const Bytes again = ReadRange(c, 11000, 500);
    for (std::size_t i = 50; i < 500; ++i)
        EXPECT_NEAR(S16(again, i), S16(all, 11000 + i), 80) << i;
    // Past the end: nothing; a buffer too small for one sample: refused.
    LONG bytes = -1, got = -1;
    std::uint8_t one = 0;
    EXPECT_EQ(AVIStreamRead(c, static_cast<LONG>(kTo), 10, &one, 1, &bytes, &got), AVIERR_OK);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(AVIStreamRead(c, 0, 10, &one, 1, &bytes, &got), AVIERR_BUFFERTOOSMALL);
    AVIStreamRelease(c);
    AVIStreamRelease(mono);
}

// What the compression manager's converter was asked, for the test double
// below.
struct Asked {
    int calls = 0;
    PAVISTREAM source = nullptr;
    Bytes format;
    HRESULT answer = AVIERR_OK;
    PAVISTREAM made = nullptr;
} gAsked;

HRESULT RecordingConverter(PAVISTREAM* converted, PAVISTREAM source, const void* format,
                           LONG size) {
    ++gAsked.calls;
    gAsked.source = source;
    const auto* p = static_cast<const std::uint8_t*>(format);
    gAsked.format.assign(p, p + size);
    // A failing converter may leave its out value set; the caller clears it.
    *converted = gAsked.made;
    if (gAsked.answer == AVIERR_OK) AVIStreamAddRef(gAsked.made);
    return gAsked.answer;
}

TEST_F(AudioConvertTest, OtherFormatsGoToTheCompressionManager) {
    PAVISTREAM mono = OpenStream(WriteSine(dir_, 1), streamtypeAUDIO);
    ASSERT_NE(mono, nullptr);
    Bytes adpcm(50, 0x5A);
    WAVEFORMATEX head = PcmFormat(1, kRate, 4);
    head.wFormatTag = WAVE_FORMAT_ADPCM;
    head.cbSize = 32;
    std::memcpy(adpcm.data(), &head, sizeof head);
    const LONG size = static_cast<LONG>(adpcm.size());
    // None installed: no compressor, and nothing made.
    ASSERT_EQ(SetAudioConverterFactory(nullptr), nullptr);
    PAVISTREAM c = reinterpret_cast<PAVISTREAM>(1);
    EXPECT_EQ(MakeAudioConversionStream(&c, mono, adpcm.data(), size), AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(c, nullptr);

    // Installed: it gets the source and the whole record, and its stream
    // or its failure is the answer.
    gAsked = {};
    gAsked.made = mono;
    EXPECT_EQ(SetAudioConverterFactory(&RecordingConverter), nullptr);
    EXPECT_EQ(MakeAudioConversionStream(&c, mono, adpcm.data(), size), AVIERR_OK);
    EXPECT_EQ(c, mono);
    if (c) AVIStreamRelease(c);
    EXPECT_EQ(gAsked.calls, 1);
    EXPECT_EQ(gAsked.source, mono);
    EXPECT_EQ(gAsked.format, adpcm);
    gAsked.answer = AVIERR_CANTCOMPRESS;
    EXPECT_EQ(MakeAudioConversionStream(&c, mono, adpcm.data(), size), AVIERR_CANTCOMPRESS);
    EXPECT_EQ(c, nullptr);
    // PCM to PCM stays here.
    WAVEFORMATEX stereo = PcmFormat(2, kRate, 16);
    EXPECT_EQ(MakeAudioConversionStream(&c, mono, &stereo, sizeof stereo), AVIERR_OK);
    EXPECT_EQ(gAsked.calls, 2);
    AVIStreamRelease(c);
    // A PCM record whose block size does not fit its depth is no PCM.
    WAVEFORMATEX odd = PcmFormat(2, kRate, 16);
    odd.nBlockAlign = 3;
    EXPECT_EQ(MakeAudioConversionStream(&c, mono, &odd, sizeof odd), AVIERR_CANTCOMPRESS);
    EXPECT_EQ(gAsked.calls, 3);
    EXPECT_EQ(MakeAudioConversionStream(&c, mono, &odd, 12), AVIERR_BADPARAM);
    EXPECT_EQ(SetAudioConverterFactory(nullptr), &RecordingConverter);
    AVIStreamRelease(mono);
}

// The whole road: a save whose options ask for another PCM format writes
// the audio in it, beside the video.
TEST_F(AudioConvertTest, SaveWritesAudioInTheFormatAsked) {
    const std::string src = dir_.File("av.avi"), out = dir_.File("out.avi");
    WriteRgbAvi(src, 16, 16, 10, true); // 8 kHz mono 16-bit, 320 samples a frame
    PAVISTREAM v = OpenStream(src), a = OpenStream(src, streamtypeAUDIO);
    WAVEFORMATEX to = PcmFormat(2, 16000, 8);
    AVICOMPRESSOPTIONS ao{};
    ao.fccType = streamtypeAUDIO;
    ao.lpFormat = &to;
    ao.cbFormat = sizeof to;
    ao.dwFlags = AVICOMPRESSF_VALID;
    PAVISTREAM streams[] = {v, a};
    AVICOMPRESSOPTIONS* opts[] = {nullptr, &ao};
    ASSERT_EQ(AVISaveV(out, nullptr, nullptr, 2, streams, opts), AVIERR_OK);
    PAVISTREAM saved = OpenStream(out, streamtypeAUDIO);
    ASSERT_NE(saved, nullptr);
    const Bytes f = FormatOf(saved);
    ASSERT_GE(f.size(), 16u);
    WAVEFORMATEX got{};
    std::memcpy(&got, f.data(), 16);
    EXPECT_EQ(got.nChannels, 2);
    EXPECT_EQ(got.nSamplesPerSec, 16000u);
    EXPECT_EQ(got.wBitsPerSample, 8);
    EXPECT_EQ(AVIStreamLength(saved), 2 * 10 * 320);
    AVIStreamRelease(saved);
    AVIStreamRelease(v);
    AVIStreamRelease(a);
}

} // namespace
} // namespace lum::vfwtest
