// `lum wave info`, `convert`, `cut` and `import`, run in process on files made
// through the wave layer: output, exit status and the files left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "audio/lumacm.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "audio/wavetest.h"
#include "support/testutil.h"
#include "tools/lumtool.h"

namespace lum::tools {
namespace {

using test::wave::Bytes;
namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out, err;
};

Outcome Lum(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    ToolIo io{out, err, false};
    const int status = RunLum(args, io);
    return {status, out.str(), err.str()};
}

TWaveFormatEx Pcm(int bits, int channels, int rate) {
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, bits, channels, rate);
    return f;
}

// A wave file with INFO items (identifier, text) and one DISP text.
void MakeWave(const std::string& path, const TWaveFormatEx& fmt, const Bytes& data,
              const std::vector<std::pair<std::string, std::string>>& info = {},
              const char* disp = nullptr) {
    PWAVEIOCB cb = nullptr;
    ASSERT_EQ(wioCreateFileInfo(cb, &fmt), WIOERR_NOERROR);
    for (const auto& [id, text] : info)
        RiffModifyINFO(cb->InfoChunk,
                       RiffFindPIINFO(cb->InfoChunk, mmioFourCC(id[0], id[1], id[2], id[3])), 1,
                       test::wave::HeapText(text), 0);
    if (disp)
        RiffInsertDISP(cb->DispList,
                       RiffCreateDISP(1, CF_TEXT, nullptr, test::wave::HeapText(disp)));
    ASSERT_EQ(wioWriteFileInfo(cb, path.c_str()), WIOERR_NOERROR);
    if (!data.empty()) {
        ASSERT_EQ(wioWaveWriteData(cb, data.data(), static_cast<std::int32_t>(data.size())),
                  static_cast<std::int32_t>(data.size()));
    }
    ASSERT_EQ(wioWaveClose(cb), WIOERR_NOERROR);
    wioFreeFileInfo(cb);
}

// The format and samples of a wave file.
struct Contents {
    TWaveFormatEx fmt{};
    Bytes data;
    std::string title;
};
Contents ReadWave(const std::string& path) {
    Contents c;
    PWAVEIOCB cb = nullptr;
    EXPECT_EQ(wioReadFileInfo(cb, path.c_str(), kFormWAVE, WIO_DISKFILE), WIOERR_NOERROR);
    if (!cb) return c;
    c.fmt = cb->Format;
    c.title = std::string(RiffINFOValue(
        cb->InfoChunk, RiffFindPIINFO(cb->InfoChunk, mmioFourCC('I', 'N', 'A', 'M'))));
    c.data.resize(static_cast<std::size_t>(cb->DataBytes));
    wioWaveOpen(cb);
    if (!c.data.empty()) {
        EXPECT_EQ(wioWaveReadData(cb, c.data.data(), cb->DataBytes), cb->DataBytes);
    }
    wioWaveClose(cb);
    wioFreeFileInfo(cb);
    return c;
}

Bytes S16(std::initializer_list<int> samples) {
    Bytes b;
    for (int s : samples)
        test::wave::PutLE(b, static_cast<std::uint16_t>(s), 2);
    return b;
}

TEST(LumWaveInfo, DescribesFormatSizesInfoAndDisp) {
    test::TempDir dir;
    const std::string path = dir.File("a.wav");
    MakeWave(path, Pcm(16, 2, 8000), Bytes(4000, 1), {{"INAM", "Titel"}, {"ICMT", "caf\xE9"}},
             "shown");
    Outcome r = Lum({"wave", "info", path, "--json"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    QJsonParseError error{};
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out;
    EXPECT_EQ(o["file"].toString().toStdString(), path);
    EXPECT_EQ(o["format_tag"].toInt(), 1);
    EXPECT_EQ(o["format_name"].toString(), "PCM");
    EXPECT_EQ(o["description"].toString(), "8.000 kHz, 16 Bit, Stereo");
    EXPECT_EQ(o["channels"].toInt(), 2);
    EXPECT_EQ(o["samples_per_sec"].toInt(), 8000);
    EXPECT_EQ(o["bits_per_sample"].toInt(), 16);
    EXPECT_EQ(o["block_align"].toInt(), 4);
    EXPECT_EQ(o["avg_bytes_per_sec"].toInt(), 32000);
    EXPECT_EQ(o["data_bytes"].toInt(), 4000);
    EXPECT_EQ(o["samples"].toInt(), 1000);
    EXPECT_EQ(o["length_ms"].toInt(), 125);
    EXPECT_EQ(o["info"].toObject()["INAM"].toString(), "Titel");
    EXPECT_EQ(o["info"].toObject()["ICMT"].toString(), QString::fromUtf8("caf\u00e9")); // Latin-1
    ASSERT_EQ(o["disp"].toArray().size(), 1);
    EXPECT_EQ(o["disp"].toArray()[0].toObject()["format"].toInt(), 1);
    EXPECT_EQ(o["disp"].toArray()[0].toObject()["bytes"].toInt(), 6);

    r = Lum({"wave", "info", path});
    ASSERT_EQ(r.status, kExitOk);
    for (const char* line :
         {"Format:       PCM (tag 1)\n", "Description:  8.000 kHz, 16 Bit, Stereo\n",
          "Samples:      1000\n", "Length:       0:00.125 (125 ms)\n",
          "INFO INAM:    Titel  (Name)\n", "DISP:         1 (text), 6 bytes\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
}

TEST(LumWaveInfo, ExitStatusAndMessages) {
    test::TempDir dir;
    const std::string text = dir.File("t.txt");
    test::WriteFile(text, {'h', 'i'});
    Outcome r = Lum({"wave", "info", dir.File("none.wav")});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_EQ(r.err, "lum wave info: " + dir.File("none.wav") + ": Unable to open wave file\n");
    r = Lum({"wave", "info", text});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_EQ(r.err, "lum wave info: " + text + ": Invalid wave file...\n");
    EXPECT_TRUE(r.out.empty());

    const std::string big = dir.File("big.wav");
    test::WriteFile(big, {'R', 'I', 'F', 'F'});
    fs::resize_file(big, std::uintmax_t{1} << 31); // sparse
    r = Lum({"wave", "info", big});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("files of 2 GiB or more are not supported"), std::string::npos) << r.err;

    EXPECT_EQ(Lum({"wave", "info"}).status, kExitUsage);
    EXPECT_EQ(Lum({"wave", "info", text, "--xml"}).status, kExitUsage);
    EXPECT_EQ(Lum({"wave"}).status, kExitUsage);
    EXPECT_EQ(Lum({"wave", "play"}).status, kExitUsage);
    EXPECT_EQ(Lum({"nothing"}).status, kExitUsage);
    EXPECT_EQ(Lum({}).status, kExitUsage);
    r = Lum({"--help"});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_NE(r.out.find("wave info FILE [--json]"), std::string::npos);
    r = Lum({"wave", "--help"});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_NE(r.out.find("wave convert IN OUT"), std::string::npos);
    EXPECT_EQ(Lum({"wave", "convert", "--help"}).status, kExitOk);
}

TEST(LumWaveConvert, ChangesTheFormatAndKeepsTheInfo) {
    test::TempDir dir;
    const std::string in = dir.File("in.wav");
    const std::string out = dir.File("out.wav");
    MakeWave(in, Pcm(16, 2, 16000), S16({-32768, -32768, 0, 0, 32767, 32767, 256, -256}),
             {{"INAM", "Kept"}});
    Outcome r =
        Lum({"wave", "convert", in, out, "--bits", "8", "--channels", "1", "--rate", "8000"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_TRUE(r.out.empty());
    Contents c = ReadWave(out);
    EXPECT_EQ(c.fmt.wBitsPerSample, 8);
    EXPECT_EQ(c.fmt.nChannels, 1);
    EXPECT_EQ(c.fmt.nSamplesPerSec, 8000u);
    EXPECT_EQ(c.data, (Bytes{0, 255})); // frames 0 and 2, the channels averaged
    EXPECT_EQ(c.title, "Kept");

    // A new file gets the user's usual permissions, not the temporary
    // file's private ones.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(static_cast<unsigned>(fs::status(out).permissions()), 0666u & ~mask);

    // Unset options keep the source's format: the samples come through.
    ASSERT_EQ(Lum({"wave", "convert", in, out}).status, kExitOk);
    EXPECT_EQ(ReadWave(out).data, ReadWave(in).data);
    // The file may be its own target.
    ASSERT_EQ(Lum({"wave", "convert", in, in, "--channels", "1"}).status, kExitOk);
    EXPECT_EQ(ReadWave(in).data, S16({-32768, 0, 32767, 0}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

TEST(LumWaveConvert, FailuresLeaveTheTargetAsItWas) {
    test::TempDir dir;
    const std::string odd = dir.File("odd.wav");
    TWaveFormatEx fmt = Pcm(8, 1, 8000);
    fmt.wFormatTag = 0x7777; // no driver knows it
    MakeWave(odd, fmt, Bytes(100, 0xD5));
    const std::string out = dir.File("out.wav");
    test::WriteFile(out, {1, 2, 3});
    Outcome r = Lum({"wave", "convert", odd, out, "--bits", "16"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_EQ(r.err, "lum wave convert: " + odd + ": This wave file is not valid for conversion\n");
    EXPECT_EQ(test::ReadFile(out), (Bytes{1, 2, 3}));

    const std::string pcm = dir.File("pcm.wav");
    MakeWave(pcm, Pcm(8, 1, 8000), Bytes(100, 128));
    r = Lum({"wave", "convert", pcm, dir.File("missing/out.wav")});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("Unable to convert wave file"), std::string::npos);
    // GSM is mono: no stereo format exists.
    r = Lum({"wave", "convert", pcm, out, "--format", "gsm", "--channels", "2"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_EQ(r.err, "lum wave convert: " + out + ": no gsm format for 2 channels at 8000 Hz\n");
    EXPECT_EQ(Lum({"wave", "convert", pcm, out, "--rate", "3000"}).status, kExitUsage);
    EXPECT_EQ(Lum({"wave", "convert", pcm}).status, kExitUsage);
    EXPECT_EQ(Lum({"wave", "convert", pcm, out, "--format", "flac"}).status, kExitUsage);
    EXPECT_EQ(Lum({"wave", "convert", pcm, out, "--format", "pcm8", "--bits", "16"}).status,
              kExitUsage);
    EXPECT_EQ(test::ReadFile(out), (Bytes{1, 2, 3}));
    // Nothing else was left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 3);
}

TEST(LumWaveCut, WritesTheFileWithoutTheRegion) {
    test::TempDir dir;
    const std::string in = dir.File("in.wav");
    const std::string out = dir.File("out.wav");
    MakeWave(in, Pcm(8, 1, 8000), test::wave::Ramp(16000), {{"INAM", "Kept"}});
    // 8 samples a millisecond: samples 800 to 2399 go.
    Outcome r = Lum({"wave", "cut", in, out, "--start", "100", "--length", "200"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    Bytes expected = test::wave::Ramp(16000);
    expected.erase(expected.begin() + 800, expected.begin() + 2400);
    const Contents c = ReadWave(out);
    EXPECT_EQ(c.data, expected);
    EXPECT_EQ(c.title, "Kept");
    // Onto its own name.
    ASSERT_EQ(Lum({"wave", "cut", in, in, "--start", "0", "--length", "1000"}).status, kExitOk);
    const Bytes ramp = test::wave::Ramp(16000);
    EXPECT_EQ(ReadWave(in).data, Bytes(ramp.begin() + 8000, ramp.end()));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);

    EXPECT_EQ(Lum({"wave", "cut", in, out, "--start", "10"}).status, kExitUsage);
    r = Lum({"wave", "cut", dir.File("none.wav"), out, "--start", "0", "--length", "1"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_EQ(r.err, "lum wave cut: " + dir.File("none.wav") + ": Unable to open wave file\n");
}

TEST(LumWaveImport, MakesAWaveOfRawSamplesAndNeverOverwritesThem) {
    test::TempDir dir;
    const std::string raw = dir.File("in.raw");
    const Bytes samples = S16({1, -1, 300, -300, 32767, -32768, 5, 6, 7, 8});
    Bytes file = {9, 9, 9};
    file.insert(file.end(), samples.begin(), samples.end());
    test::WriteFile(raw, file);
    const std::string out = dir.File("out.wav");
    Outcome r = Lum({"wave", "import", raw, out, "--rate", "22050", "--channels", "2", "--bits",
                     "16", "--header", "3"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    const Contents c = ReadWave(out);
    EXPECT_EQ(c.fmt.nSamplesPerSec, 22050u);
    EXPECT_EQ(c.fmt.nChannels, 2);
    EXPECT_EQ(c.data, samples);

    r = Lum({"wave", "import", raw, raw, "--rate", "8000", "--channels", "1", "--bits", "8"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_EQ(r.err, "lum wave import: " + raw + ": Unable to import wave file\n");
    EXPECT_EQ(test::ReadFile(raw), file);
    EXPECT_EQ(Lum({"wave", "import", raw, out, "--rate", "8000"}).status, kExitUsage);
    EXPECT_EQ(Lum({"wave", "import", raw, out, "--rate", "8000", "--channels", "1", "--bits", "12"})
                  .status,
              kExitUsage);
}

// A second of a 440 Hz tone of 16-bit PCM.
Bytes Tone(int channels, int rate) {
    Bytes b;
    for (int i = 0; i < rate; ++i)
        for (int c = 0; c < channels; ++c)
            test::wave::PutLE(
                b,
                static_cast<std::uint16_t>(std::lround(9000 * std::sin(2 * M_PI * 440 * i / rate))),
                2);
    return b;
}

// Signal to noise ratio in dB of B against A over A's length.
double Snr(const Bytes& a, const Bytes& b) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i + 1 < a.size() && i + 1 < b.size(); i += 2) {
        const int x = static_cast<std::int16_t>(a[i] | a[i + 1] << 8);
        const int y = static_cast<std::int16_t>(b[i] | b[i + 1] << 8);
        signal += double(x) * x;
        noise += double(x - y) * (x - y);
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

TEST(LumWaveConvert, CompressedFormatsThereAndBack) {
    test::TempDir dir;
    const std::string in = dir.File("in.wav");
    const Bytes tone = Tone(2, 22050);
    MakeWave(in, Pcm(16, 2, 22050), tone, {{"INAM", "Kept"}});
    const std::string packed = dir.File("packed.wav");
    const std::string back = dir.File("back.wav");
    // Format, the tag written, and the least SNR of the round trip.
    const std::vector<std::tuple<const char*, WORD, double>> formats = {
        {"msadpcm", WAVE_FORMAT_ADPCM, 20},
        {"ima", WAVE_FORMAT_IMA_ADPCM, 20},
        {"alaw", WAVE_FORMAT_ALAW, 30},
        {"mulaw", WAVE_FORMAT_MULAW, 30},
        {"mp3", WAVE_FORMAT_MPEGLAYER3, 20}};
    for (const auto& [name, tag, snr] : formats) {
        Outcome r = Lum({"wave", "convert", in, packed, "--format", name});
        ASSERT_EQ(r.status, kExitOk) << name << r.err;
        const Contents c = ReadWave(packed);
        EXPECT_EQ(c.fmt.wFormatTag, tag) << name;
        EXPECT_EQ(c.fmt.nChannels, 2) << name;
        EXPECT_EQ(c.title, "Kept") << name;
        // --bits 16 is --format pcm16.
        r = Lum({"wave", "convert", packed, back, "--bits", "16"});
        ASSERT_EQ(r.status, kExitOk) << name << r.err;
        const Contents pcm = ReadWave(back);
        EXPECT_EQ(pcm.fmt.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_GE(pcm.data.size(), tone.size()) << name; // nothing lost at the end
        if (tag == WAVE_FORMAT_MPEGLAYER3) continue;     // the codec delays the signal
        EXPECT_GE(Snr(tone, pcm.data), snr) << name;
    }
}

TEST(LumWaveConvert, StereoCdRateToGsmGoesThroughMonoPhoneRate) {
    test::TempDir dir;
    const std::string in = dir.File("in.wav");
    MakeWave(in, Pcm(16, 2, 44100), Tone(2, 44100));
    const std::string gsm = dir.File("gsm.wav");
    Outcome r = Lum({"wave", "convert", in, gsm, "--format", "gsm"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    const Contents c = ReadWave(gsm);
    EXPECT_EQ(c.fmt.wFormatTag, WAVE_FORMAT_GSM610);
    EXPECT_EQ(c.fmt.nChannels, 1);
    EXPECT_EQ(c.fmt.nSamplesPerSec, 8000u);
    EXPECT_EQ(c.fmt.nAvgBytesPerSec, 1625u);
    // 8000 samples in blocks of 320: 25 blocks, none lost.
    EXPECT_EQ(c.data.size(), 25u * 65);

    // The module's own description of the format.
    r = Lum({"wave", "info", gsm});
    ASSERT_EQ(r.status, kExitOk);
    EXPECT_NE(r.out.find("Format:       GSM 6.10 (tag 49)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Description:  8.000 kHz, Mono, 13 kbit/s\n"), std::string::npos) << r.out;
}

TEST(LumWaveConvert, WithoutTheCompressionManagerOnlyPcmConverts) {
    test::TempDir dir;
    const std::string in = dir.File("in.wav");
    MakeWave(in, Pcm(16, 1, 8000), Tone(1, 8000));
    const char* saved = std::getenv("LUM_ACM");
    const std::string keep = saved ? saved : "";
    acmShutdown();
    ::setenv("LUM_ACM", "", 1);
    const std::string out = dir.File("out.wav");
    const Outcome ima = Lum({"wave", "convert", in, out, "--format", "ima"});
    const Outcome pcm8 = Lum({"wave", "convert", in, out, "--format", "pcm8"});
    const Outcome info = Lum({"wave", "info", in});
    acmShutdown();
    if (saved)
        ::setenv("LUM_ACM", keep.c_str(), 1);
    else
        ::unsetenv("LUM_ACM");
    acmStartup();
    EXPECT_EQ(ima.status, kExitFailure);
    EXPECT_EQ(ima.err, "lum wave convert: " + out +
                           ": no ima format for 1 channel at 8000 Hz without the audio "
                           "compression manager\n");
    EXPECT_EQ(pcm8.status, kExitOk) << pcm8.err;
    EXPECT_EQ(ReadWave(out).fmt.wBitsPerSample, 8);
    EXPECT_NE(info.out.find("Description:  8.000 kHz, 16 Bit, Mono\n"), std::string::npos);
}

} // namespace
} // namespace lum::tools
