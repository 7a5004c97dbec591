// ADPCM against ffmpeg and libsndfile (sndfile-convert):
// - IMA ADPCM files made by ffmpeg decode to ffmpeg's samples exactly, with
//   the library's block decoder and through the compression manager;
// - MS ADPCM files decode to libsndfile's samples exactly (libsndfile
//   predicts as this codec does for all seven predictor pairs; ffmpeg
//   rounds differently on all but the first, which is the only one its
//   encoder writes), for ffmpeg's files and for files our encoder made
//   with every predictor pair;
// - files we encode decode in ffmpeg and libsndfile within libsndfile's own
//   test margin of the source (per sample, relative above 1000).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <sstream>

#include "audio/lumacm.h"
#include "audio/lumacmsup.h"
#include "audio/lumadpcm.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "media.h"
#include "support/testutil.h"
#include "tools/lumtool.h"

namespace lum::interop {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;

bool HaveSndfile() {
    return test::Run("command -v sndfile-convert >/dev/null 2>&1") == 0;
}

TWaveFormatEx Pcm(int bits, int channels, int rate) {
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, bits, channels, rate);
    return f;
}

Samples ToSamples(const Bytes& b) {
    Samples s(b.size() / 2);
    if (!s.empty()) std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

// A wave file's format (with its extra bytes) and all of its data.
struct WaveData {
    Bytes format;
    Bytes data;
    const TWaveFormatEx* Fmt() const {
        return reinterpret_cast<const TWaveFormatEx*>(format.data());
    }
};

WaveData ReadWave(const std::string& path) {
    WaveData w;
    PWAVEIOCB cb = nullptr;
    EXPECT_EQ(wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE), WIOERR_NOERROR) << path;
    if (!cb) return w;
    const auto* f = reinterpret_cast<const std::uint8_t*>(&cb->Format);
    w.format.assign(f, f + wioSizeOfWaveFormat(&cb->Format));
    w.data.resize(static_cast<std::size_t>(cb->DataBytes));
    EXPECT_EQ(wioWaveOpen(cb), WIOERR_NOERROR);
    if (!w.data.empty()) {
        EXPECT_EQ(wioWaveReadData(cb, w.data.data(), cb->DataBytes), cb->DataBytes);
    }
    wioWaveClose(cb);
    wioFreeFileInfo(cb);
    return w;
}

void WriteWave(const std::string& path, const TWaveFormatEx* fmt, const Bytes& data) {
    PWAVEIOCB cb = nullptr;
    ASSERT_EQ(wioCreateFileInfo(cb, fmt), WIOERR_NOERROR);
    ASSERT_EQ(wioWriteFileInfo(cb, path.c_str()), WIOERR_NOERROR);
    const auto n = static_cast<std::int32_t>(data.size());
    EXPECT_EQ(wioWaveWriteData(cb, data.data(), n), n);
    EXPECT_EQ(wioWaveClose(cb), WIOERR_NOERROR);
    wioFreeFileInfo(cb);
}

// ffmpeg's decode as 16-bit samples.
Samples FfmpegSamples(const std::string& path) {
    std::string out;
    EXPECT_EQ(test::Run("ffmpeg -v error -i " + test::Quote(path) + " -f s16le -", &out), 0);
    Samples s(out.size() / 2);
    if (!s.empty()) std::memcpy(s.data(), out.data(), s.size() * 2);
    return s;
}

// libsndfile's decode as 16-bit samples (sndfile-convert -pcm16).
Samples SndfileSamples(const std::string& path, test::TempDir& dir) {
    const std::string out = dir.File("sndfile.wav");
    EXPECT_EQ(test::Run("sndfile-convert -pcm16 " + test::Quote(path) + " " + test::Quote(out) +
                        " >/dev/null 2>&1"),
              0);
    return ToSamples(ReadWave(out).data);
}

// Our block decoders over the whole data chunk.
Samples DecodeOurs(const WaveData& w) {
    const TWaveFormatEx* f = w.Fmt();
    const TWaveFormatEx pcm = Pcm(16, f->nChannels, static_cast<int>(f->nSamplesPerSec));
    const auto n = static_cast<std::int32_t>(w.data.size());
    Bytes out(static_cast<std::size_t>(adpcmDecodedSize(f, n, 16)) + 4096);
    std::int32_t m = 0;
    if (f->wFormatTag == WAVE_FORMAT_ADPCM)
        m = adpcmDecode4Bit(f, &pcm, w.data.data(), n, out.data());
    else
        m = adpcmIMADecode4Bit(f, &pcm, w.data.data(), n, out.data());
    out.resize(static_cast<std::size_t>(std::max(m, 0)));
    return ToSamples(out);
}

// The same data through the compression manager's decoder.
Samples DecodeThroughManager(const WaveData& w) {
    const TWaveFormatEx pcm =
        Pcm(16, w.Fmt()->nChannels, static_cast<int>(w.Fmt()->nSamplesPerSec));
    PACMConvert conv = acmBeginConvert(w.Fmt(), &pcm, nullptr, false, 16 * w.Fmt()->nBlockAlign);
    EXPECT_NE(conv, nullptr);
    if (!conv) return {};
    Bytes out;
    for (std::size_t at = 0; at < w.data.size();) {
        const auto n = static_cast<std::int32_t>(
            std::min<std::size_t>(conv->SourceBlockSize, w.data.size() - at));
        std::memcpy(conv->SourceBuffer, w.data.data() + at, static_cast<std::size_t>(n));
        at += static_cast<std::size_t>(n);
        const std::int32_t m = acmDoConvert(conv, n);
        EXPECT_GE(m, 0);
        if (m > 0) out.insert(out.end(), conv->OutputBuffer, conv->OutputBuffer + m);
    }
    for (std::int32_t m; (m = acmEndConvert(conv, 0)) > 0;)
        out.insert(out.end(), conv->OutputBuffer, conv->OutputBuffer + m);
    acmDoneConvert(conv);
    return ToSamples(out);
}

// libsndfile's measure of a lossy codec's error at one sample.
double SndfileError(double data, double orig) {
    if (std::fabs(orig) <= 500) return std::fabs(std::fabs(data) - std::fabs(orig)) / 2000;
    if (std::fabs(orig) <= 1000) return std::fabs(data - orig) / 3000;
    return std::fabs(data - orig) / std::fabs(orig);
}

// The worst error of Decoded against Source over Source's length.
double WorstError(const Samples& source, const Samples& decoded) {
    EXPECT_GE(decoded.size(), source.size());
    double worst = 0;
    for (std::size_t i = 0; i < std::min(source.size(), decoded.size()); ++i)
        worst = std::max(worst, SndfileError(decoded[i], source[i]));
    return worst;
}

double SnrDb(const Samples& a, const Samples& b) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        signal += double(a[i]) * a[i];
        noise += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

// The signal libsndfile's lossy codec tests use: two low tones under a
// ramped envelope, a little below full scale.
Samples TestSignal(int frames, int channels, int rate) {
    Samples s;
    const int ramp = frames / 20;
    for (int k = 0; k < frames; ++k) {
        double amp = 30000;
        if (k <= ramp) amp = 30000.0 * k / ramp;
        if (k > frames - ramp) amp = 30000.0 * (frames - k) / ramp;
        for (int c = 0; c < channels; ++c) {
            const double low = c == 0 ? 33.3 : 55.5;
            s.push_back(static_cast<std::int16_t>(
                amp * (0.4 * std::sin(low * 2 * M_PI * (k + 1) / rate) +
                       0.3 * std::cos(201.1 * 2 * M_PI * (k + 1) / rate))));
        }
    }
    return s;
}

// Blocks of noise shaped by each predictor pair in turn, so that the
// encoder picks every pair; the pair that extrapolates a line gets a slow
// curve instead.
Samples PredictorSignal(int blocks, int spb) {
    Samples s;
    unsigned seed = 11;
    for (int block = 0; block < blocks; ++block) {
        const TADPCMCoefSet c = ADPCMCoefficients[block % 7];
        double x1 = 0, x2 = 0;
        for (int i = 0; i < spb; ++i) {
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
    return s;
}

// Our encoder's file of Source.
std::string EncodeOurs(const Samples& source, int channels, int rate, test::TempDir& dir,
                       const std::string& name, Bytes* data = nullptr) {
    const TWaveFormatEx pcm = Pcm(16, channels, rate);
    Bytes fmt(kADPCMFormatSize);
    auto* f = reinterpret_cast<TWaveFormatEx*>(fmt.data());
    EXPECT_TRUE(adpcmBuildFormatHeader(&pcm, f, 0, 0, 0));
    const auto frames = static_cast<std::int32_t>(source.size()) / channels;
    Bytes out(static_cast<std::size_t>(adpcmEncodedSize(f, frames)));
    const std::int32_t n = adpcmEncode4Bit(
        &pcm, f, source.data(), static_cast<std::int32_t>(source.size() * 2), out.data());
    EXPECT_EQ(n, static_cast<std::int32_t>(out.size()));
    const std::string path = dir.File(name);
    WriteWave(path, f, out);
    if (data) *data = out;
    return path;
}

class AdpcmInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
        ASSERT_TRUE(acmStartup()) << "the compression manager did not load";
    }
};

const std::string kMono = "-f lavfi -i sine=frequency=440:sample_rate=";
const std::string kStereo =
    "-f lavfi -i 'aevalsrc=0.8*sin(440*2*PI*t)+0.1*sin(3000*2*PI*t)|0.5*sin(660*2*PI*t)':s=";

TEST_F(AdpcmInterop, ImaFilesFromFfmpegDecodeToFfmpegsSamples) {
    for (const Recipe& r :
         {Recipe{"ImaMono22k", kMono + "22050 -t 1.3 -c:a adpcm_ima_wav", "wav"},
          Recipe{"ImaStereo44k", kStereo + "44100:d=1.3 -c:a adpcm_ima_wav", "wav"}}) {
        const std::string path = MediaFile(r);
        const WaveData w = ReadWave(path);
        ASSERT_EQ(w.Fmt()->wFormatTag, WAVE_FORMAT_IMA_ADPCM) << r.name;
        const Samples theirs = FfmpegSamples(path);
        ASSERT_FALSE(theirs.empty()) << r.name;
        EXPECT_EQ(DecodeOurs(w), theirs) << r.name;
        EXPECT_EQ(DecodeThroughManager(w), theirs) << r.name;
    }
}

TEST_F(AdpcmInterop, MsAdpcmFilesFromFfmpegDecodeToLibsndfilesSamples) {
    if (!HaveSndfile()) GTEST_SKIP() << "sndfile-convert (sndfile-programs) is not installed";
    test::TempDir dir;
    for (const Recipe& r :
         {Recipe{"MsAdpcmMono11k", kMono + "11025 -t 1.3 -c:a adpcm_ms", "wav"},
          Recipe{"MsAdpcmStereo44k", kStereo + "44100:d=1.3 -c:a adpcm_ms", "wav"}}) {
        const std::string path = MediaFile(r);
        const WaveData w = ReadWave(path);
        ASSERT_EQ(w.Fmt()->wFormatTag, WAVE_FORMAT_ADPCM) << r.name;
        const Samples ours = DecodeOurs(w);
        ASSERT_FALSE(ours.empty());
        EXPECT_EQ(ours, SndfileSamples(path, dir)) << r.name;
        // Predictor 0 only: ffmpeg agrees too.
        EXPECT_EQ(ours, FfmpegSamples(path)) << r.name;
        EXPECT_EQ(DecodeThroughManager(w), ours) << r.name;
    }
}

TEST_F(AdpcmInterop, OurMsAdpcmWithEveryPredictorDecodesToLibsndfilesSamples) {
    if (!HaveSndfile()) GTEST_SKIP() << "sndfile-convert (sndfile-programs) is not installed";
    test::TempDir dir;
    for (int channels : {1, 2}) {
        // 500 frames a block at 11025 Hz mono; stereo interleaves two of
        // the same signals, one a block behind.
        const Samples mono = PredictorSignal(28, 500);
        Samples source;
        if (channels == 1) {
            source = mono;
        } else {
            for (std::size_t i = 0; i + 500 < mono.size(); ++i) {
                source.push_back(mono[i + 500]);
                source.push_back(mono[i]);
            }
        }
        Bytes data;
        const std::string path = EncodeOurs(source, channels, 11025, dir,
                                            "pred" + std::to_string(channels) + ".wav", &data);
        // Every pair was chosen somewhere.
        const WaveData w = ReadWave(path);
        std::set<int> used;
        for (std::size_t at = 0; at < data.size(); at += w.Fmt()->nBlockAlign)
            for (int c = 0; c < channels; ++c)
                used.insert(data[at + static_cast<std::size_t>(c)]);
        EXPECT_EQ(used.size(), 7u) << channels;
        const Samples ours = DecodeOurs(w);
        const Samples theirs = SndfileSamples(path, dir);
        // libsndfile stops at the frame count of the fact chunk; every
        // sample it gives is ours.
        ASSERT_GE(theirs.size(), source.size()) << channels;
        ASSERT_GE(ours.size(), theirs.size()) << channels;
        EXPECT_TRUE(std::equal(theirs.begin(), theirs.end(), ours.begin())) << channels;
        // The manager decodes with libavcodec, which rounds the prediction
        // of pairs 1 to 6 its own way: close, not equal.
        const Samples managed = DecodeThroughManager(w);
        ASSERT_EQ(managed.size(), ours.size()) << channels;
        EXPECT_GE(SnrDb(ours, managed), 30) << channels;
        EXPECT_NE(managed, ours) << channels;
    }
}

TEST_F(AdpcmInterop, OurEncodedFilesDecodeElsewhereWithinLibsndfilesMargin) {
    if (!HaveSndfile()) GTEST_SKIP() << "sndfile-convert (sndfile-programs) is not installed";
    test::TempDir dir;
    // Our block encoder.
    for (int channels : {1, 2}) {
        const Samples source = TestSignal(11025, channels, 11025);
        const std::string path = EncodeOurs(source, channels, 11025, dir, "ms.wav");
        EXPECT_LE(WorstError(source, SndfileSamples(path, dir)), 0.36) << channels;
        EXPECT_LE(WorstError(source, FfmpegSamples(path)), 0.36) << channels;
    }
    // The compression manager's encoders, as lum wave convert uses them.
    const Samples source = TestSignal(11025, 2, 11025);
    const TWaveFormatEx pcm = Pcm(16, 2, 11025);
    const std::string in = dir.File("source.wav");
    WriteWave(in, &pcm,
              Bytes(reinterpret_cast<const std::uint8_t*>(source.data()),
                    reinterpret_cast<const std::uint8_t*>(source.data() + source.size())));
    for (const auto& [format, margin] :
         std::vector<std::pair<std::string, double>>{{"msadpcm", 0.36}, {"ima", 0.18}}) {
        const std::string out = dir.File(format + ".wav");
        std::ostringstream o, e;
        tools::ToolIo io{o, e, false};
        ASSERT_EQ(tools::RunLum({"wave", "convert", in, out, "--format", format}, io),
                  tools::kExitOk)
            << e.str();
        EXPECT_LE(WorstError(source, SndfileSamples(out, dir)), margin) << format;
        EXPECT_LE(WorstError(source, FfmpegSamples(out)), margin) << format;
        // And our own decoders read them as libsndfile does.
        const Samples ours = DecodeOurs(ReadWave(out));
        EXPECT_LE(WorstError(source, ours), margin) << format;
    }
}

TEST_F(AdpcmInterop, CutFilesDecodeToAPrefixOfTheWhole) {
    // Files cut anywhere (inside a header, inside the codes, at a block
    // boundary) give the samples of what is left and never more.
    test::TempDir dir;
    for (const Recipe& r :
         {Recipe{"ImaStereo44k", kStereo + "44100:d=1.3 -c:a adpcm_ima_wav", "wav"},
          Recipe{"MsAdpcmStereo44k", kStereo + "44100:d=1.3 -c:a adpcm_ms", "wav"}}) {
        const std::string path = MediaFile(r);
        const Samples whole = DecodeOurs(ReadWave(path));
        const Bytes file = test::ReadFile(path);
        const std::size_t align = ReadWave(path).Fmt()->nBlockAlign;
        // The data chunk starts where the file minus the data ends.
        const std::size_t dataStart = file.size() - ReadWave(path).data.size();
        for (std::size_t cut :
             {dataStart + 3, dataStart + align - 1, dataStart + align, dataStart + align + 5,
              dataStart + 3 * align + 17, file.size() - 1}) {
            const std::string part = dir.File("cut.wav");
            test::WriteFile(part, Bytes(file.begin(), file.begin() + static_cast<long>(cut)));
            const WaveData w = ReadWave(part);
            const Samples got = DecodeOurs(w);
            ASSERT_LE(got.size(), whole.size()) << r.name << " cut at " << cut;
            EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin()))
                << r.name << " cut at " << cut;
            // Whole blocks left decode in full.
            const std::size_t blocks = w.data.size() / align;
            const std::size_t perBlock = whole.size() / ((ReadWave(path).data.size()) / align);
            EXPECT_GE(got.size(), blocks * perBlock) << r.name << " cut at " << cut;
        }
    }
}

} // namespace
} // namespace lum::interop
