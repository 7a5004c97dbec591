// Audio of video files converted through the compression manager: block
// timing and length of the converted stream, the sound it holds (decoded
// again by the manager), reads out of order, compressed sources, the
// converter's installation in the video service, and saves with it.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>

#include "audio/lumacm.h"
#include "audio/lumacmstream.h"
#include "audio/lumacmsup.h"
#include "audio/lumpcmsup.h"
#include "platform/vfw/audioconvert.h"
#include "platform/vfw/save_fixtures.h"

namespace lum::vfwtest {
namespace {

constexpr int kAmplitude = 8000;

// A tone rising from 300 Hz by 200 Hz a second, so that no two stretches of
// it are alike.
std::int16_t ToneAt(std::int64_t frame, DWORD rate) {
    const double t = double(frame) / rate;
    return static_cast<std::int16_t>(
        std::lround(kAmplitude * std::sin(2 * std::numbers::pi * (300 * t + 100 * t * t))));
}

// A file with a 16-bit PCM stream of Frames frames of the tone on every
// channel, beside a short video when Video.
std::string WriteTone(const std::string& path, WORD channels, DWORD rate, LONG frames,
                      bool video = false) {
    CreateFile(path, [&](PAVIFILE f) {
        if (video) {
            PAVISTREAM v = nullptr;
            AVISTREAMINFO vi = VideoInfo(0, 1, 25);
            ASSERT_EQ(AVIFileCreateStream(f, &v, &vi), AVIERR_OK);
            Bytes fmt = BitmapFormat(16, 16, 24, BI_RGB);
            ASSERT_EQ(AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size())),
                      AVIERR_OK);
            const LONG count = static_cast<LONG>(std::int64_t{frames} * 25 / rate);
            for (LONG i = 0; i < count; ++i) {
                Bytes px = Picture(16, 16, i);
                ASSERT_EQ(AVIStreamWrite(v, i, 1, px.data(), static_cast<LONG>(px.size()),
                                         AVIIF_KEYFRAME, nullptr, nullptr),
                          AVIERR_OK);
            }
            AVIStreamRelease(v);
        }
        WAVEFORMATEX wf = PcmFormat(channels, rate, 16);
        AVISTREAMINFO ai = AudioInfo(wf);
        PAVISTREAM a = nullptr;
        ASSERT_EQ(AVIFileCreateStream(f, &a, &ai), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(a, 0, &wf, sizeof wf), AVIERR_OK);
        std::vector<std::int16_t> pcm;
        for (LONG s = 0; s < frames; ++s)
            for (int c = 0; c < channels; ++c)
                pcm.push_back(ToneAt(s, rate));
        ASSERT_EQ(AVIStreamWrite(a, 0, frames, pcm.data(), static_cast<LONG>(pcm.size() * 2), 0,
                                 nullptr, nullptr),
                  AVIERR_OK);
        AVIStreamRelease(a);
    });
    return path;
}

Bytes Target(WORD tag, int channels, DWORD rate) {
    return lum::acmTargetFormat(tag, 16, channels, static_cast<std::int32_t>(rate));
}

PAVISTREAM Convert(PAVISTREAM source, const Bytes& to) {
    PAVISTREAM c = nullptr;
    EXPECT_EQ(MakeAudioConversionStream(&c, source, to.data(), static_cast<LONG>(to.size())),
              AVIERR_OK);
    return c;
}

// Samples [Start, Start + N) read Per samples at a time.
Bytes ReadBlocks(PAVISTREAM s, LONG start, LONG n, LONG per = 7) {
    Bytes all;
    for (LONG at = start; at < start + n;) {
        const LONG want = std::min(per, start + n - at);
        LONG size = 0;
        EXPECT_EQ(AVIStreamRead(s, at, want, nullptr, 0, &size, nullptr), AVIERR_OK);
        Bytes b(static_cast<std::size_t>(size));
        LONG bytes = 0, got = 0;
        EXPECT_EQ(AVIStreamRead(s, at, want, b.data(), size, &bytes, &got), AVIERR_OK);
        if (got != want) {
            ADD_FAILURE() << "read " << got << " of " << want << " at " << at;
            break;
        }
        all.insert(all.end(), b.begin(), b.begin() + bytes);
        at += got;
    }
    return all;
}

// Data in Format decoded to 16-bit PCM of its channels and rate by the
// manager, first channel only.
std::vector<std::int16_t> DecodeFirstChannel(const Bytes& data, const Bytes& format) {
    const auto* f = reinterpret_cast<const TWaveFormatEx*>(format.data());
    TWaveFormatEx pcm{};
    pcmBuildWaveHeader(&pcm, 16, f->nChannels, static_cast<std::int32_t>(f->nSamplesPerSec));
    const std::int32_t chunk = f->nBlockAlign * 16;
    PACMConvert c = acmBeginConvert(f, &pcm, nullptr, false, chunk);
    EXPECT_NE(c, nullptr);
    if (c == nullptr) return {};
    Bytes out;
    for (std::size_t at = 0; at <= data.size();) {
        const std::size_t n = std::min<std::size_t>(chunk, data.size() - at);
        std::memcpy(c->SourceBuffer, data.data() + at, n);
        const bool last = at + n == data.size();
        std::int32_t made = last ? acmEndConvert(c, static_cast<std::int32_t>(n))
                                 : acmDoConvert(c, static_cast<std::int32_t>(n));
        while (made > 0) {
            out.insert(out.end(), c->OutputBuffer, c->OutputBuffer + made);
            made = last ? acmEndConvert(c, 0) : 0;
        }
        EXPECT_GE(made, 0);
        at += n;
        if (last) break;
    }
    acmDoneConvert(c);
    std::vector<std::int16_t> first;
    for (std::size_t i = 0; i + 1 < out.size(); i += 2u * pcm.nChannels)
        first.push_back(static_cast<std::int16_t>(out[i] | out[i + 1] << 8));
    return first;
}

// Signal to noise of Got against the tone from frame From on, in dB.
double ToneSnr(const std::vector<std::int16_t>& got, std::int64_t from, DWORD rate) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const double want = ToneAt(from + static_cast<std::int64_t>(i), rate);
        signal += want * want;
        noise += (got[i] - want) * (got[i] - want);
    }
    return noise == 0 ? 99 : 10 * std::log10(signal / noise);
}

WORD Word(const Bytes& format, std::size_t at) {
    return static_cast<WORD>(format[at] | format[at + 1] << 8);
}

class AcmStreamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(acmStartup()) << "the module (LUM_ACM) did not load"; }
    lum::test::TempDir dir_;
};

struct AdpcmCase {
    WORD tag;
    const char* name;
};

void PrintTo(const AdpcmCase& c, std::ostream* os) {
    *os << c.name;
}

class AcmAdpcmStream : public AcmStreamTest, public ::testing::WithParamInterface<AdpcmCase> {};

// A second and a bit of mono at 8 kHz: the last block is part-filled.
TEST_P(AcmAdpcmStream, BlocksAreTimedByTheirFramesAndHoldTheTone) {
    constexpr LONG kFrames = 8037;
    PAVISTREAM src =
        OpenStream(WriteTone(dir_.File("tone.avi"), 1, 8000, kFrames), streamtypeAUDIO);
    ASSERT_NE(src, nullptr);
    const Bytes to = Target(GetParam().tag, 1, 8000);
    ASSERT_GE(to.size(), 20u);
    const LONG block = Word(to, 12), spb = Word(to, 18);
    PAVISTREAM c = Convert(src, to);
    ASSERT_NE(c, nullptr);

    AVISTREAMINFO si{};
    ASSERT_EQ(AVIStreamInfo(c, &si, sizeof si), AVIERR_OK);
    EXPECT_EQ(si.fccType, streamtypeAUDIO);
    EXPECT_EQ(si.dwSampleSize, DWORD(block));
    EXPECT_EQ(si.dwScale, DWORD(spb));
    EXPECT_EQ(si.dwRate, 8000u);
    const LONG blocks = (kFrames + spb - 1) / spb;
    EXPECT_EQ(AVIStreamLength(c), blocks);
    EXPECT_EQ(FormatOf(c), to);
    EXPECT_EQ(AVIStreamFindSample(c, 3, FIND_PREV | FIND_KEY), 3);

    // Read in odd pieces, the whole decodes to the tone, padded to whole
    // blocks.
    const Bytes all = ReadBlocks(c, 0, blocks, 3);
    ASSERT_EQ(all.size(), std::size_t(blocks) * block);
    std::vector<std::int16_t> pcm = DecodeFirstChannel(all, to);
    ASSERT_EQ(pcm.size(), std::size_t(blocks) * spb);
    pcm.resize(kFrames);
    EXPECT_GT(ToneSnr(pcm, 0, 8000), 20);
    // The part-filled last block holds the source's last frames too.
    const std::int64_t tail = std::int64_t{blocks - 1} * spb;
    EXPECT_GT(ToneSnr(std::vector<std::int16_t>(pcm.begin() + tail, pcm.end()), tail, 8000), 15);

    // A block read on its own holds the tone of its own time.
    const LONG k = blocks / 2;
    const Bytes one = ReadBlocks(c, k, 1);
    EXPECT_GT(ToneSnr(DecodeFirstChannel(one, to), std::int64_t{k} * spb, 8000), 15);
    EXPECT_LT(ToneSnr(DecodeFirstChannel(one, to), std::int64_t{k + 1} * spb, 8000), 3);
    // Past the end there is nothing.
    LONG bytes = -1, got = -1;
    Bytes buffer(static_cast<std::size_t>(block));
    EXPECT_EQ(AVIStreamRead(c, blocks, 1, buffer.data(), block, &bytes, &got), AVIERR_OK);
    EXPECT_EQ(got, 0);
    AVIStreamRelease(c);
    AVIStreamRelease(src);
}

INSTANTIATE_TEST_SUITE_P(Adpcm, AcmAdpcmStream,
                         ::testing::Values(AdpcmCase{WAVE_FORMAT_ADPCM, "MsAdpcm"},
                                           AdpcmCase{WAVE_FORMAT_IMA_ADPCM, "Ima"}),
                         [](const auto& info) { return std::string(info.param.name); });

// GSM 6.10 wants 8 kHz mono: 22.05 kHz stereo goes through PCM stages and
// still lasts as long as the source.
TEST_F(AcmStreamTest, ResampledGsmLastsAsLongAsTheSource) {
    constexpr LONG kFrames = 22050 * 3 / 2;
    PAVISTREAM src =
        OpenStream(WriteTone(dir_.File("tone.avi"), 2, 22050, kFrames), streamtypeAUDIO);
    ASSERT_NE(src, nullptr);
    const Bytes to = Target(WAVE_FORMAT_GSM610, 1, 8000);
    ASSERT_FALSE(to.empty());
    PAVISTREAM c = Convert(src, to);
    ASSERT_NE(c, nullptr);
    const LONG blocks = (8000 * 3 / 2 + 319) / 320;
    EXPECT_EQ(AVIStreamLength(c), blocks);
    const Bytes all = ReadBlocks(c, 0, blocks, 4);
    ASSERT_EQ(all.size(), std::size_t(blocks) * 65);
    std::vector<std::int16_t> pcm = DecodeFirstChannel(all, to);
    ASSERT_EQ(pcm.size(), std::size_t(blocks) * 320);
    // GSM is lossy and shifts the wave a little; the tone's pitch shows in
    // its rising zero crossings (300 + 100 * 1.5 periods a second, 675 in
    // 1.5 s).
    int crossings = 0;
    for (std::size_t i = 1; i < 12000; ++i)
        crossings += pcm[i - 1] < 0 && pcm[i] >= 0;
    EXPECT_NEAR(crossings, 675, 10);
    AVIStreamRelease(c);
    AVIStreamRelease(src);
}

// Compressed audio converts too: MS ADPCM back to PCM has every frame of
// its blocks.
TEST_F(AcmStreamTest, CompressedSourceDecodesToPcmOfItsFullLength) {
    const std::string src_path = WriteTone(dir_.File("tone.avi"), 2, 11025, 11025);
    const std::string adpcm_path = dir_.File("adpcm.avi");
    const Bytes ms = Target(WAVE_FORMAT_ADPCM, 2, 11025);
    ASSERT_FALSE(ms.empty());
    {
        PAVISTREAM a = OpenStream(src_path, streamtypeAUDIO);
        AVICOMPRESSOPTIONS o{};
        o.fccType = streamtypeAUDIO;
        o.lpFormat = const_cast<std::uint8_t*>(ms.data());
        o.cbFormat = static_cast<DWORD>(ms.size());
        AVICOMPRESSOPTIONS* opts[] = {&o};
        ASSERT_EQ(AVISaveV(adpcm_path, nullptr, nullptr, 1, &a, opts), AVIERR_OK);
        AVIStreamRelease(a);
    }
    PAVISTREAM a = OpenStream(adpcm_path, streamtypeAUDIO);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(FormatOf(a), ms);
    const LONG spb = Word(ms, 18), blocks = AVIStreamLength(a);
    EXPECT_EQ(blocks, (11025 + spb - 1) / spb);
    const WAVEFORMATEX pcm = PcmFormat(2, 11025, 16);
    PAVISTREAM c = nullptr;
    ASSERT_EQ(MakeAudioConversionStream(&c, a, &pcm, sizeof pcm), AVIERR_OK);
    ASSERT_EQ(AVIStreamLength(c), blocks * spb);
    const Bytes all = ReadBlocks(c, 0, blocks * spb, 4000);
    std::vector<std::int16_t> left;
    for (std::size_t i = 0; i + 3 < all.size(); i += 4)
        left.push_back(static_cast<std::int16_t>(all[i] | all[i + 1] << 8));
    left.resize(11025);
    EXPECT_GT(ToneSnr(left, 0, 11025), 20);
    AVIStreamRelease(c);
    // MP3 frames are no blocks of a known number of frames: refused rather
    // than written with the wrong timing.
    const Bytes mp3 = Target(WAVE_FORMAT_MPEGLAYER3, 2, 11025);
    ASSERT_FALSE(mp3.empty());
    c = reinterpret_cast<PAVISTREAM>(1);
    EXPECT_EQ(MakeAudioConversionStream(&c, a, mp3.data(), static_cast<LONG>(mp3.size())),
              AVIERR_UNSUPPORTED);
    EXPECT_EQ(c, nullptr);
    AVIStreamRelease(a);
}

HRESULT OtherConverter(PAVISTREAM*, PAVISTREAM, const void*, LONG) {
    return AVIERR_CANTCOMPRESS;
}

// acmStartup puts its converter in the video service and acmShutdown
// takes it out, leaving one it did not put there.
TEST_F(AcmStreamTest, StartupInstallsTheConverterAndShutdownRemovesIt) {
    PAVISTREAM src = OpenStream(WriteTone(dir_.File("tone.avi"), 1, 8000, 800), streamtypeAUDIO);
    ASSERT_NE(src, nullptr);
    const Bytes ima = Target(WAVE_FORMAT_IMA_ADPCM, 1, 8000);
    const auto make = [&] {
        PAVISTREAM c = nullptr;
        const HRESULT hr =
            MakeAudioConversionStream(&c, src, ima.data(), static_cast<LONG>(ima.size()));
        if (c) AVIStreamRelease(c);
        return hr;
    };
    EXPECT_EQ(make(), AVIERR_OK);
    acmShutdown();
    EXPECT_EQ(make(), AVIERR_NOCOMPRESSOR);
    // Without the module the converter itself says so too.
    PAVISTREAM c = nullptr;
    EXPECT_EQ(acmMakeAVIConversionStream(&c, src, ima.data(), static_cast<LONG>(ima.size())),
              AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(c, nullptr);
    SetAudioConverterFactory(&OtherConverter);
    ASSERT_TRUE(acmStartup());
    EXPECT_EQ(make(), AVIERR_OK);
    acmShutdown();
    EXPECT_EQ(make(), AVIERR_NOCOMPRESSOR);
    SetAudioConverterFactory(nullptr);
    ASSERT_TRUE(acmStartup());
    AVIStreamRelease(src);
}

BOOL AbortAtHalf(int percent) {
    return percent >= 50 ? 1 : 0;
}

// Video beside audio saved as IMA ADPCM: the audio of the new format and
// length; an aborted save leaves nothing behind. (Interleaving is checked
// against ffprobe in the interop tests.)
TEST_F(AcmStreamTest, SaveConvertsTheAudioAndAbortLeavesNoFile) {
    const std::string src_path = WriteTone(dir_.File("av.avi"), 2, 22050, 22050 * 2, true);
    PAVISTREAM v = OpenStream(src_path), a = OpenStream(src_path, streamtypeAUDIO);
    ASSERT_NE(v, nullptr);
    ASSERT_NE(a, nullptr);
    const Bytes ima = Target(WAVE_FORMAT_IMA_ADPCM, 2, 22050);
    ASSERT_FALSE(ima.empty());
    AVICOMPRESSOPTIONS ao{};
    ao.fccType = streamtypeAUDIO;
    ao.lpFormat = const_cast<std::uint8_t*>(ima.data());
    ao.cbFormat = static_cast<DWORD>(ima.size());
    AVICOMPRESSOPTIONS vo{};
    vo.fccType = streamtypeVIDEO;
    vo.dwFlags = AVICOMPRESSF_INTERLEAVE;
    vo.dwInterleaveEvery = 5;
    PAVISTREAM streams[] = {v, a};
    AVICOMPRESSOPTIONS* opts[] = {&vo, &ao};

    const std::string aborted = dir_.File("aborted.avi");
    EXPECT_EQ(AVISaveV(aborted, nullptr, &AbortAtHalf, 2, streams, opts), AVIERR_USERABORT);
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir_.Path()))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"av.avi"});

    const std::string out = dir_.File("out.avi");
    ASSERT_EQ(AVISaveV(out, nullptr, nullptr, 2, streams, opts), AVIERR_OK);
    PAVISTREAM saved = OpenStream(out, streamtypeAUDIO);
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(FormatOf(saved), ima);
    const LONG spb = Word(ima, 18);
    EXPECT_EQ(AVIStreamLength(saved), (22050 * 2 + spb - 1) / spb);
    AVIStreamRelease(saved);
    AVIStreamRelease(v);
    AVIStreamRelease(a);
}

} // namespace
} // namespace lum::vfwtest
