// WAV and AU files open as one audio stream; AU samples come out the way a
// wave format describes them.
#include <gtest/gtest.h>

#include "avi_fixtures.h"

using namespace lum::vfwtest;

namespace {

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutBE32(Bytes& b, std::uint32_t v) {
    for (int i = 3; i >= 0; --i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Tag(Bytes& b, const char* t) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(t[i]));
}

Bytes Wave(const Bytes& fmt, const Bytes& data, std::uint32_t riff_size = 0xFFFFFFFF,
           std::uint32_t data_size = 0xFFFFFFFF) {
    Bytes b;
    Tag(b, "RIFF");
    Put32(b, 0);
    Tag(b, "WAVE");
    Tag(b, "fmt ");
    Put32(b, static_cast<std::uint32_t>(fmt.size()));
    b.insert(b.end(), fmt.begin(), fmt.end());
    Tag(b, "LIST");
    Put32(b, 4 + 8 + 6);
    Tag(b, "INFO");
    Tag(b, "INAM");
    Put32(b, 6);
    b.insert(b.end(), {'t', 'o', 'n', 'e', 's', 0});
    Tag(b, "data");
    Put32(b, data_size == 0xFFFFFFFF ? static_cast<std::uint32_t>(data.size()) : data_size);
    b.insert(b.end(), data.begin(), data.end());
    SetLe32(b, 4, riff_size == 0xFFFFFFFF ? static_cast<std::uint32_t>(b.size() - 8) : riff_size);
    return b;
}

Bytes PcmFmt16(WORD channels, DWORD rate, WORD bits) {
    WAVEFORMATEX w = PcmFormat(channels, rate, bits);
    Bytes b(16);
    std::memcpy(b.data(), &w, 16); // PCMWAVEFORMAT: no cbSize
    return b;
}

Bytes Au(std::uint32_t encoding, std::uint32_t channels, const Bytes& data,
         std::uint32_t size = 0xFFFFFFFE) {
    Bytes b;
    PutBE32(b, 0x2E736E64);
    PutBE32(b, 32);
    PutBE32(b, size == 0xFFFFFFFE ? static_cast<std::uint32_t>(data.size()) : size);
    PutBE32(b, encoding);
    PutBE32(b, 8000);
    PutBE32(b, channels);
    b.insert(b.end(), {'n', 'o', 't', 'e', 0, 0, 0, 0});
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

struct Audio {
    HRESULT open = -1;
    AVISTREAMINFO info{};
    WAVEFORMATEX format{};
    LONG format_size = 0;
    Bytes samples;
};

Audio ReadAudio(const Bytes& image) {
    Audio a;
    PAVIFILE f = nullptr;
    a.open = OpenImage(image, &f);
    if (a.open) return a;
    PAVISTREAM s = nullptr;
    EXPECT_EQ(AVIFileGetStream(f, &s, streamtypeAUDIO, 0), AVIERR_OK);
    EXPECT_EQ(AVIFileGetStream(f, &s, 0, 1), AVIERR_NODATA);
    AVIFileGetStream(f, &s, 0, 0);
    AVIStreamInfo(s, &a.info, sizeof a.info);
    AVIStreamReadFormat(s, 0, nullptr, &a.format_size);
    LONG size = sizeof a.format;
    AVIStreamReadFormat(s, 0, &a.format, &size);
    a.samples.resize(a.info.dwLength * a.info.dwSampleSize);
    LONG got = 0;
    if (!a.samples.empty()) {
        EXPECT_EQ(AVIStreamRead(s, 0, static_cast<LONG>(a.info.dwLength), a.samples.data(),
                                static_cast<LONG>(a.samples.size()), &got, nullptr),
                  AVIERR_OK);
    }
    EXPECT_EQ(static_cast<std::size_t>(got), a.samples.size());
    AVIStreamRelease(s);
    AVIStreamRelease(s); // the second reference from GetStream
    AVIFileRelease(f);
    return a;
}

} // namespace

TEST(WaveFile, OneAudioStreamWithAWholeFormat) {
    Bytes data;
    for (int i = 0; i < 400; ++i)
        data.push_back(static_cast<std::uint8_t>(i));
    Bytes image = Wave(PcmFmt16(2, 11025, 16), data);
    Audio a = ReadAudio(image);
    ASSERT_EQ(a.open, AVIERR_OK);
    EXPECT_EQ(a.info.fccType, streamtypeAUDIO);
    EXPECT_EQ(a.info.dwScale, 4u);
    EXPECT_EQ(a.info.dwRate, 44100u);
    EXPECT_EQ(a.info.dwSampleSize, 4u);
    EXPECT_EQ(a.info.dwLength, 100u);
    EXPECT_EQ(a.format_size, 18); // the 16-byte format gains its cbSize
    EXPECT_EQ(a.format.cbSize, 0);
    EXPECT_EQ(a.format.wBitsPerSample, 16);
    EXPECT_EQ(a.samples, data);
    PAVIFILE f = nullptr;
    ASSERT_EQ(OpenImage(image, &f), AVIERR_OK);
    char name[8] = {};
    LONG size = sizeof name;
    EXPECT_EQ(AVIFileReadData(f, MakeFourCC("INAM"), name, &size), AVIERR_OK);
    EXPECT_STREQ(name, "tones");
    AVIFILEINFO fi{};
    AVIFileInfo(f, &fi, sizeof fi);
    EXPECT_EQ(fi.dwStreams, 1u);
    EXPECT_STREQ(fi.szFileType, "Wave File");
    AVIFileRelease(f);
}

TEST(WaveFile, UnfinishedAndTruncatedData) {
    Bytes data(1000, 7);
    // A recorder that stopped before writing its sizes: both are 0.
    Audio unfinished = ReadAudio(Wave(PcmFmt16(1, 8000, 16), data, 0, 0));
    EXPECT_EQ(unfinished.info.dwLength, 500u);
    // A data size larger than the file: whole blocks up to the end.
    Bytes cut = Wave(PcmFmt16(2, 8000, 16), data, 0xFFFFFFFF, 100000);
    Audio truncated = ReadAudio(cut);
    EXPECT_EQ(truncated.info.dwLength, 250u);
    Bytes odd = Wave(PcmFmt16(2, 8000, 16), data);
    odd.resize(odd.size() - 3);
    EXPECT_EQ(ReadAudio(odd).info.dwLength, 249u);
    // No format, or a block size of zero that cannot be worked out.
    Bytes adpcm = PcmFmt16(1, 8000, 4);
    adpcm[0] = WAVE_FORMAT_ADPCM;
    adpcm[12] = adpcm[13] = 0;
    EXPECT_EQ(ReadAudio(Wave(adpcm, data)).open, AVIERR_BADFORMAT);
    EXPECT_EQ(ReadAudio(Wave({1, 0}, data)).open, AVIERR_BADFORMAT);
}

TEST(AuFile, EncodingsBecomeWaveFormatsAndLittleEndianSamples) {
    Audio pcm16 = ReadAudio(Au(3, 2, {0x12, 0x34, 0xAB, 0xCD, 0x00, 0x01, 0x80, 0x00}));
    ASSERT_EQ(pcm16.open, AVIERR_OK);
    EXPECT_EQ(pcm16.format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(pcm16.format.nChannels, 2);
    EXPECT_EQ(pcm16.format.nBlockAlign, 4);
    EXPECT_EQ(pcm16.format.wBitsPerSample, 16);
    EXPECT_EQ(pcm16.info.dwLength, 2u);
    EXPECT_EQ(pcm16.samples, (Bytes{0x34, 0x12, 0xCD, 0xAB, 0x01, 0x00, 0x00, 0x80}));

    Audio pcm8 = ReadAudio(Au(2, 1, {0x00, 0x7F, 0x80, 0xFF}));
    EXPECT_EQ(pcm8.samples, (Bytes{0x80, 0xFF, 0x00, 0x7F})); // signed to unsigned
    Audio pcm24 = ReadAudio(Au(4, 1, {1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(pcm24.samples, (Bytes{3, 2, 1, 6, 5, 4}));

    Audio mulaw = ReadAudio(Au(1, 1, {0xFF, 0x7F}));
    EXPECT_EQ(mulaw.format.wFormatTag, WAVE_FORMAT_MULAW);
    EXPECT_EQ(mulaw.samples, (Bytes{0xFF, 0x7F})); // companded bytes pass unchanged
    Audio alaw = ReadAudio(Au(27, 1, {0xD5}));
    EXPECT_EQ(alaw.format.wFormatTag, WAVE_FORMAT_ALAW);
    Audio fl = ReadAudio(Au(6, 1, {0x3F, 0x80, 0, 0}));
    EXPECT_EQ(fl.format.wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_EQ(fl.samples, (Bytes{0, 0, 0x80, 0x3F}));
}

TEST(AuFile, SizesAndHeaders) {
    Bytes data(100, 1);
    EXPECT_EQ(ReadAudio(Au(3, 1, data, 0xFFFFFFFF)).info.dwLength, 50u); // unknown: to the end
    EXPECT_EQ(ReadAudio(Au(3, 1, data, 1000000)).info.dwLength, 50u);    // past the end: cut
    EXPECT_EQ(ReadAudio(Au(3, 1, data, 10)).info.dwLength, 5u);
    EXPECT_EQ(ReadAudio(Au(23, 1, data)).open, AVIERR_UNSUPPORTED); // G.721
    EXPECT_EQ(ReadAudio(Au(3, 0, data)).open, AVIERR_BADFORMAT);
    Bytes bad_offset = Au(3, 1, data);
    bad_offset[7] = 8; // data offset inside the header
    EXPECT_EQ(ReadAudio(bad_offset).open, AVIERR_BADFORMAT);
}
