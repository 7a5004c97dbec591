// The audio worker over streams made in temporary files: the bounded
// reading rules, the idle/reading/writing states, direct and converted
// writing, and format records read only as far as they go.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <numeric>

#include "audio/lumacm.h"
#include "audio/lumaviaudio.h"
#include "audio/lumpcmsup.h"
#include "support/raised.h"

namespace lum {
namespace {

using test::Raised;
using Bytes = std::vector<std::uint8_t>;

TWaveFormatEx Pcm(int bits, int channels, int rate) {
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, bits, channels, rate);
    return f;
}

// IMA ADPCM with 2048-byte blocks, as written for 44.1 kHz stereo.
struct ImaFormat {
    TWaveFormatEx wf{};
    WORD samplesPerBlock = 0;
};
ImaFormat Ima(int channels, int rate, int block) {
    ImaFormat f;
    f.wf.wFormatTag = WAVE_FORMAT_IMA_ADPCM;
    f.wf.nChannels = static_cast<WORD>(channels);
    f.wf.nSamplesPerSec = static_cast<DWORD>(rate);
    f.wf.nBlockAlign = static_cast<WORD>(block);
    f.wf.wBitsPerSample = 4;
    f.wf.cbSize = 2;
    f.samplesPerBlock = static_cast<WORD>((block - 4 * channels) * 8 / (4 * channels) + 1);
    f.wf.nAvgBytesPerSec = static_cast<DWORD>(std::int64_t{rate} * block / f.samplesPerBlock);
    return f;
}

// A stream in a temporary file, released at the end of the test.
struct TempStream {
    explicit TempStream(const TWaveFormatEx* format) : stream(AVICreateAudioStream(format)) {}
    ~TempStream() { AVICloseStream(stream); }
    TLumAVIStream* stream;
};

// 100 samples of 16-bit mono, each holding its own number.
class Numbered : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<std::int16_t> data(100);
        std::iota(data.begin(), data.end(), 0);
        s.stream->WriteSamples(0, data.data(), 100, true);
    }
    TWaveFormatEx format = Pcm(16, 1, 8000);
    TempStream s{&format};
};

TEST_F(Numbered, BoundedRangeReadsAndEnd) {
    TLumAVIAudioWorker w(s.stream);
    EXPECT_EQ(w.RawSampleSize(), 2);
    std::int16_t buf[40] = {};
    w.BeginReading(0, 10);
    EXPECT_EQ(w.ReadDataSamples(buf, 20), 10);
    EXPECT_EQ(w.GetPosition(), 10);
    EXPECT_EQ(buf[9], 9);

    // Bytes stop one short of the end, where EOF is already true.
    w.BeginReading(0, 10);
    EXPECT_EQ(w.ReadDataBytes(buf, 40), 18);
    EXPECT_EQ(w.GetPosition(), 9);
    EXPECT_TRUE(w.GetEOF());
    EXPECT_EQ(w.ReadDataBytes(buf, 40), 0);

    // A middle range, in two reads.
    w.BeginReading(50, 30);
    EXPECT_EQ(w.ReadDataSamples(buf, 20), 20);
    EXPECT_EQ(buf[0], 50);
    EXPECT_FALSE(w.GetEOF());
    EXPECT_EQ(w.ReadDataSamples(buf, 20), 10);
    EXPECT_EQ(buf[9], 79);

    // Beyond the end: clamped, nothing to read.
    w.BeginReading(150, 10);
    EXPECT_EQ(w.GetPosition(), 100);
    EXPECT_EQ(w.ReadDataSamples(buf, 10), 0);
    // Running past the stream's end is cut at the end.
    w.BeginReading(95, 10);
    EXPECT_EQ(w.ReadDataSamples(buf, 40), 5);
    EXPECT_EQ(buf[4], 99);

    // Converted reading that needs no conversion gives the range's last
    // sample too.
    const TWaveFormatEx same = Pcm(16, 1, 8000);
    w.BeginReadingAs(90, 10, &same);
    EXPECT_EQ(w.ReadConvertedData(buf, 80), 20);
    EXPECT_EQ(buf[9], 99);
    EXPECT_EQ(w.ReadConvertedData(buf, 80), 0);
}

TEST_F(Numbered, StatesAndTheirMessages) {
    EXPECT_EQ(Raised([&] { TLumAVIAudioWorker(s.stream, nullptr); }), "Need a valid source format");
    TLumAVIAudioWorker w(s.stream, &format);
    std::int16_t buf[4];
    EXPECT_EQ(Raised([&] { w.ReadDataSamples(buf, 1); }), "Reading not started");
    EXPECT_EQ(Raised([&] { w.ReadDataBytes(buf, 2); }), "Reading not started");
    w.BeginReading(0, 10);
    EXPECT_EQ(Raised([&] { w.BeginWriting(0, 64); }), "Can't write when reading");
    w.EndReading();
    w.EndReading();
    EXPECT_FALSE(w.GetEOF());
    w.BeginWriting(100, 64);
    EXPECT_EQ(Raised([&] { w.BeginReading(0, 10); }), "Can't read when writing");
    EXPECT_EQ(Raised([&] { w.SetFormat(w.GetFormat()); }), ""); // the cached record: nothing to do
    const TWaveFormatEx other = Pcm(8, 1, 8000);
    EXPECT_EQ(Raised([&] { w.SetFormat(&other); }), "Can't change the format when writing");
    w.EndWriting();
    w.EndWriting();
    EXPECT_FALSE(w.GetWriting());
}

TEST_F(Numbered, DirectWritingKeepsWholeSamplesAndRefusesOversizedCalls) {
    TLumAVIAudioWorker w(s.stream, &format);
    w.BeginWriting(100, 8);
    EXPECT_FALSE(w.GetConverting());
    const std::int16_t more[4] = {1000, 1001, 1002, 1003};
    w.WriteData(more, 7); // three whole samples and a byte
    EXPECT_EQ(w.GetPosition(), 103);
    EXPECT_EQ(Raised([&] { w.WriteData(more, 9); }), "Data larger than the write buffer");
    EXPECT_EQ(w.GetPosition(), 103);
    w.EndWriting();
    EXPECT_EQ(s.stream->GetLength(), 103);
    std::int16_t back[3] = {};
    w.BeginReading(100, 3);
    EXPECT_EQ(w.ReadDataSamples(back, 3), 3);
    EXPECT_EQ(std::memcmp(back, more, sizeof back), 0);
}

// Converting writes need the compression manager.
class Converting : public ::testing::Test {
protected:
    void SetUp() override {
        if (!acmStartup()) GTEST_SKIP() << "compression manager module not found";
    }
};

// Repeated 4096-byte calls of 44.1 kHz stereo PCM into IMA ADPCM with
// 2048-byte blocks: the converter takes whole destination blocks, so more
// than a source block stays behind between calls; the source buffer must
// hold it (AddressSanitizer watches the buffer).
TEST_F(Converting, ImaFromRepeatedSmallWritesFillsWholeBlocks) {
    const ImaFormat ima = Ima(2, 44100, 2048);
    TempStream s(&ima.wf);
    const TWaveFormatEx pcm = Pcm(16, 2, 44100);
    TLumAVIAudioWorker w(s.stream, &pcm);
    w.BeginWriting(0, 4096);
    ASSERT_TRUE(w.GetConverting());
    EXPECT_GE(w.GetSourceCapacity(), 4096u + 2041u * 4u);
    Bytes chunk(4096);
    const int calls = 100; // 409600 bytes, 102400 frames
    for (int i = 0; i < calls; ++i) {
        for (std::size_t k = 0; k < chunk.size(); ++k)
            chunk[k] = static_cast<std::uint8_t>((k * 7 + i * 13) & 0xFF);
        w.WriteData(chunk.data(), 4096);
    }
    // 102400 frames make 50 whole blocks of 2041; the rest waits.
    EXPECT_EQ(w.GetPosition(), 50);
    EXPECT_EQ(Raised([&] { w.WriteData(chunk.data(), 4097); }),
              "Data larger than the write buffer");
    // Ending writes the rest as a last block filled out with silence.
    w.EndWriting();
    EXPECT_FALSE(w.GetConverting());
    EXPECT_EQ(s.stream->GetLength(), 51);
}

TEST_F(Converting, FailedSetUpLeavesTheWorkerIdle) {
    const TWaveFormatEx pcm = Pcm(16, 2, 44100);
    TempStream s(&pcm);
    TWaveFormatEx unknown = Pcm(16, 2, 44100);
    unknown.wFormatTag = 0x7A7A;
    TLumAVIAudioWorker w(s.stream, &unknown);
    EXPECT_EQ(Raised([&] { w.BeginWriting(0, 4096); }), "Can't create audio compressor");
    EXPECT_FALSE(w.GetWriting());
    EXPECT_FALSE(w.GetConverting());
    EXPECT_EQ(w.GetSourceCapacity(), 0u);
    // And it can still read.
    w.BeginReading(0, 10);
    EXPECT_TRUE(w.GetReading());
}

// The source format is kept for the worker's life: a stream format set
// after creation still makes the worker convert, instead of writing the
// source's bytes as if they were in the new format.
TEST_F(Converting, SourceFormatOutlivesSetFormat) {
    const TWaveFormatEx pcm = Pcm(16, 2, 44100);
    TempStream s(&pcm);
    TLumAVIAudioWorker w(s.stream, &pcm);
    const ImaFormat ima = Ima(2, 44100, 2048);
    w.SetFormat(&ima.wf);
    EXPECT_EQ(w.GetFormat()->wFormatTag, WAVE_FORMAT_IMA_ADPCM);
    ASSERT_NE(w.GetSourceFormat(), nullptr);
    EXPECT_EQ(w.GetSourceFormat()->wFormatTag, WAVE_FORMAT_PCM);
    w.BeginWriting(0, 4096);
    EXPECT_TRUE(w.GetConverting());
}

TEST(AVIAudioWorkerFormats, NeverReadPastTheRecord) {
    // A 16-byte PCM record on the heap, with no cbSize behind it.
    auto bare = std::make_unique<std::uint8_t[]>(16);
    const TWaveFormatEx pcm = Pcm(16, 1, 8000);
    std::memcpy(bare.get(), &pcm, 16);
    TempStream s(&pcm);
    TLumAVIAudioWorker w(s.stream, reinterpret_cast<const TWaveFormatEx*>(bare.get()));
    EXPECT_EQ(w.GetSourceFormat()->cbSize, 0);
    EXPECT_EQ(w.GetSourceFormat()->nBlockAlign, 2);

    // A stream format that claims 200 extra bytes but stores 2.
    TWaveFormatEx damaged = Ima(1, 8000, 256).wf;
    damaged.cbSize = 200;
    Bytes stored(20);
    std::memcpy(stored.data(), &damaged, 18);
    TempStream t(&pcm);
    t.stream->SetFormat(0, stored.data(), 20);
    ASSERT_EQ(t.stream->GetFormatSize(0), 20);
    TLumAVIAudioWorker v(t.stream);
    EXPECT_EQ(v.GetFormat()->wFormatTag, WAVE_FORMAT_IMA_ADPCM);
    EXPECT_EQ(v.GetFormat()->cbSize, 2);
    // Written back, the record keeps to its own bytes.
    TempStream u(&pcm);
    TLumAVIAudioWorker x(u.stream);
    x.SetFormat(v.GetFormat());
    EXPECT_EQ(u.stream->GetFormatSize(0), 20);
}

} // namespace
} // namespace lum
