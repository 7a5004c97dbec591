// A table of damaged and unusual wave files, each with the reader's result
// code and, when it reads, the sample bytes it must deliver: no more (pad
// bytes, trailing chunks and junk are not samples) and no fewer.
#include <gtest/gtest.h>

#include "audio/lumwaveio.h"
#include "audio/wavetest.h"

namespace lum {
namespace {

using namespace test::wave;

struct Damaged {
    std::string name;
    Bytes file;
    int code;
    Bytes samples;                 // the bytes read, when the code is 0
    std::int32_t sampleCount = -1; // -1: as many as bytes / block align
};

void PrintTo(const Damaged& d, std::ostream* os) {
    *os << d.name;
}

const Fmt k8 = Pcm(1, 8000, 8);
const Fmt k16 = Pcm(2, 8000, 16);

Fmt With(Fmt f, void (*change)(Fmt&)) {
    change(f);
    return f;
}

Bytes Fact(std::uint32_t n) {
    Bytes b;
    PutLE(b, n, 4);
    return Chunk("fact", b);
}

Bytes Info(const Bytes& items, std::int64_t size = -1) {
    return Form("LIST", "INFO", items, size);
}

// MP3 in a wave file as ffmpeg writes it, with the byte rate Avg.
Fmt Mp3(std::uint32_t avg) {
    Fmt f;
    f.tag = 0x55;
    f.channels = 2;
    f.rate = 44100;
    f.avg = avg;
    f.align = 1152; // samples, not bytes, per frame
    f.bits = 0;
    f.extended = true;
    f.cbSize = 12;
    f.extra = Bytes(12, 1);
    return f;
}

std::vector<Damaged> Table() {
    const Bytes d100 = Ramp(100, 1);
    const Bytes d101 = Ramp(101, 1);
    Fmt adpcm;
    adpcm.tag = 2;
    adpcm.channels = 1;
    adpcm.rate = 8000;
    adpcm.avg = 4096;
    adpcm.align = 256;
    adpcm.bits = 4;
    adpcm.extended = true;
    adpcm.cbSize = 0xFFFF; // but only two extra bytes follow
    adpcm.extra = {0xF4, 0x01};
    const Fmt mp3 = Mp3(16000);
    const Bytes body8 = k8.Body();
    const Bytes fmt8 = Chunk("fmt ", body8);
    const Bytes fmt16 = Chunk("fmt ", k16.Body());
    const Bytes list = Info(Chunk("INAM", Text(std::string("Name\0", 5))));
    const Bytes wave = Wave(k8, d100); // the usual 16-byte PCM format
    Fmt k8ext = k8;
    k8ext.extended = true;
    std::vector<Damaged> t = {
        {"Plain", Wave(k8ext, d100), 0, d100},
        {"RiffSizePastTheFile", Riff(Cat({fmt8, Chunk("data", d100)}), 5000), 0, d100},
        {"OddDataWithPadAndFact", Riff(Cat({fmt8, Chunk("data", d101), Fact(101)})), 0, d101},
        {"OddDataPadLast", Riff(Cat({fmt8, Chunk("data", d101)})), 0, d101},
        {"DataNotLast", Riff(Cat({fmt8, Chunk("data", d100), list, Fact(100)})), 0, d100},
        {"DataBeforeFormat", Riff(Cat({Chunk("data", d100), fmt8})), 0, d100},
        {"TrailingJunk", Cat({wave, Ramp(50, 200)}), 0, d100},
        {"StreamingSize", Riff(Cat({fmt8, Chunk("data", d100, true, 0xFFFFFFFF)})), 0, d100},
        {"TruncatedData", Riff(Cat({fmt8, Chunk("data", d100, true, 1000)})), 0, d100},
        {"RiffSizeStopsInsideData", Riff(Cat({fmt8, Chunk("data", d100)}), 4 + 24 + 8 + 10), 0,
         d100},
        // A list cut off by the RIFF end after the data: the data ends at the
        // list's header all the same.
        {"TruncatedListAfterData", Riff(Cat({fmt8, Chunk("data", d100), list}), 4 + 24 + 108 + 12),
         0, d100},
        {"PartialFrame", Riff(Cat({fmt16, Chunk("data", Ramp(103, 1))})), 0, Ramp(100, 1)},
        {"WrongAlignAndRateRepaired",
         Wave(With(k16,
                   [](Fmt& f) {
                       f.align = 3;
                       f.avg = 7;
                   }),
              d100),
         0, d100},
        {"ZeroAlignPcmRepaired", Wave(With(k8, [](Fmt& f) { f.align = 0; }), d100), 0, d100},
        {"FactDisagrees", Riff(Cat({fmt8, Chunk("data", d100), Fact(99999)})), 0, d100},
        {"CbSizePastTheChunk", Riff(Cat({Chunk("fmt ", adpcm.Body()), Chunk("data", Ramp(512))})),
         0, Ramp(512), 1000},
        // MPEG frames vary in size: a last partial "block" is still audio.
        {"MpegLastFrameKept", Wave(mp3, Ramp(1200)), 0, Ramp(1200), 3308},
        {"EmptyData", Wave(k8, {}), 0, {}},
        {"FormatWithoutData", Riff(fmt8), 0, {}},
        {"TwoFormatsStopTheWalk", Riff(Cat({fmt8, fmt16, Chunk("data", d100)})), 0, {}},
        {"TwoDataChunks", Riff(Cat({fmt8, Chunk("data", d100), Chunk("data", d101)})), 0, d100},
        {"InfoSizesLie",
         Riff(
             Cat({fmt8, Info(Chunk("INAM", Text("abc"), false, 0xFFFFFFF8)), Chunk("data", d100)})),
         0, d100},
        {"ShortFormatPcm16Bytes", wave, 0, d100},
        {"ZeroRate", Wave(With(k8, [](Fmt& f) { f.rate = 0; }), d100), WIOERR_ERROR, {}},
        {"ZeroChannels", Wave(With(k8, [](Fmt& f) { f.channels = 0; }), d100), WIOERR_ERROR, {}},
        {"ZeroBitsPcm", Wave(With(k8, [](Fmt& f) { f.bits = 0; }), d100), WIOERR_ERROR, {}},
        {"RateBeyond31Bits",
         Wave(With(k8, [](Fmt& f) { f.rate = 0x80000000u; }), d100),
         WIOERR_ERROR,
         {}},
        {"ZeroAlignCompressed",
         Wave(With(adpcm, [](Fmt& f) { f.align = 0; }), d100),
         WIOERR_ERROR,
         {}},
        // ADPCM's blocks give the byte rate the writer left out.
        {"ZeroByteRateAdpcm",
         Wave(With(adpcm, [](Fmt& f) { f.avg = 0; }), Ramp(256, 1)),
         WIOERR_NOERROR,
         Ramp(256, 1),
         500},
        {"ShortFormatWithoutBits",
         Riff(Cat({Chunk("fmt ", Bytes(body8.begin(), body8.begin() + 14)), Chunk("data", d100)})),
         WIOERR_ERROR,
         {}},
        {"NoFormat", Riff(Chunk("data", d100)), WIOERR_ERROR, {}},
        {"NotRiff", Cat({Text("RIFX"), Bytes(wave.begin() + 4, wave.end())}), WIOERR_FILEERROR, {}},
        {"NotWave", Form("RIFF", "AVI ", Chunk("data", d100)), WIOERR_FILEERROR, {}},
        {"HeaderOnly", Text("RIFF"), WIOERR_FILEERROR, {}},
    };
    return t;
}

class DamagedWave : public ::testing::TestWithParam<Damaged> {};

TEST_P(DamagedWave, ReadsWhatTheFileHoldsAndNoMore) {
    const Damaged& d = GetParam();
    MemWave w(d.file);
    ASSERT_EQ(w.Result(), d.code);
    if (d.code != WIOERR_NOERROR) {
        EXPECT_EQ(w.Block(), nullptr);
        return;
    }
    const std::int32_t align = w->Format.nBlockAlign;
    EXPECT_EQ(w->DataBytes, static_cast<std::int32_t>(d.samples.size()));
    EXPECT_EQ(w->SampleCount, d.sampleCount >= 0
                                  ? d.sampleCount
                                  : static_cast<std::int32_t>(d.samples.size()) / align);
    EXPECT_LE(w->Format.cbSize, 12);
    EXPECT_EQ(w.ReadAll(64), d.samples);
    EXPECT_EQ(w.ReadAll(4096, true), d.samples);
    // Positioning stays inside the window, also for an empty one.
    EXPECT_EQ(wioWaveSetPosition(w.Block(), 1 << 30), WIOERR_NOERROR);
    EXPECT_GE(w->Position, 0);
    EXPECT_LE(w->BytesLeft, w->DataBytes);
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedWave, ::testing::ValuesIn(Table()),
                         [](const auto& info) { return info.param.name; });

TEST(DamagedWaveDetails, RepairedFormatsAndClampedExtraBytes) {
    MemWave repaired(Wave(With(k16,
                               [](Fmt& f) {
                                   f.align = 3;
                                   f.avg = 7;
                               }),
                          Ramp(8)));
    ASSERT_EQ(repaired.Result(), WIOERR_NOERROR);
    EXPECT_EQ(repaired->Format.nBlockAlign, 4);
    EXPECT_EQ(repaired->Format.nAvgBytesPerSec, 32000u);

    Fmt adpcm;
    adpcm.tag = 2;
    adpcm.align = 256;
    adpcm.avg = 4096;
    adpcm.bits = 4;
    adpcm.extended = true;
    adpcm.cbSize = 0xFFFF;
    adpcm.extra = {0xF4, 0x01};
    MemWave clamped(Riff(Cat({Chunk("fmt ", adpcm.Body()), Chunk("data", Ramp(256))})));
    ASSERT_EQ(clamped.Result(), WIOERR_NOERROR);
    EXPECT_EQ(clamped->Format.cbSize, 2);
    EXPECT_EQ(wioSizeOfWaveFormat(&clamped->Format), 20);
    EXPECT_EQ(WaveFormatExtra(&clamped->Format)[0], 0xF4);

    // A compressed format whose writer left the byte rate at 0 (ffmpeg's
    // MP3 in a wave file) takes it from the fact chunk's sample count: one
    // second in 16000 bytes. Without a count there is nothing to go by.
    const Fmt mp3 = Mp3(0);
    MemWave counted(
        Riff(Cat({Chunk("fmt ", mp3.Body()), Fact(44100), Chunk("data", Ramp(16000))})));
    ASSERT_EQ(counted.Result(), WIOERR_NOERROR);
    EXPECT_EQ(counted->Format.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(counted->DataBytes, 16000);
    MemWave uncounted(Riff(Cat({Chunk("fmt ", mp3.Body()), Chunk("data", Ramp(16000))})));
    EXPECT_NE(uncounted.Result(), WIOERR_NOERROR);

    // ADPCM takes its byte rate from its blocks, whatever the header says
    // (ffmpeg's 16000 for 22.05 kHz mono MS ADPCM): 2036 frames in 1024 bytes.
    Fmt lying = adpcm;
    lying.rate = 22050;
    lying.align = 1024;
    lying.avg = 16000;
    lying.cbSize = 2;
    lying.extra = {0xF4, 0x07};
    for (WORD tag : {WORD{2}, WORD{0x11}}) {
        lying.tag = tag;
        MemWave ms(Riff(Cat({Chunk("fmt ", lying.Body()), Chunk("data", Ramp(2048))})));
        ASSERT_EQ(ms.Result(), WIOERR_NOERROR);
        EXPECT_EQ(ms->Format.nAvgBytesPerSec, 22050u * 1024 / 2036);
        EXPECT_EQ(ms->SampleCount, 2 * 2036) << "tag " << tag;
    }

    // What a damaged INFO list holds is still read, inside the list.
    MemWave info(Riff(Cat({Chunk("fmt ", k8.Body()),
                           Info(Cat({Chunk("IART", Text(std::string("Me\0", 3))),
                                     Chunk("INAM", Text("cut"), false, 50)})),
                           Chunk("data", Ramp(4))})));
    ASSERT_EQ(info.Result(), WIOERR_NOERROR);
    auto value = [&](const char* id) {
        return std::string(
            RiffINFOValue(info->InfoChunk,
                          RiffFindPIINFO(info->InfoChunk, mmioFourCC(id[0], id[1], id[2], id[3]))));
    };
    EXPECT_EQ(value("IART"), "Me");
    EXPECT_EQ(value("INAM"), "cut");

    // Descriptive data only: INFO and DISP, and an empty format.
    PWAVEIOCB cb = nullptr;
    Bytes image =
        Riff(Cat({Chunk("fmt ", k8.Body()), Info(Chunk("ICMT", Text(std::string("c\0", 2)))),
                  Chunk("data", Ramp(4))}));
    platform::mmio::MMIOINFO desc{};
    desc.fccIOProc = platform::mmio::FOURCC_MEM;
    desc.pchBuffer = reinterpret_cast<char*>(image.data());
    desc.cchBuffer = static_cast<platform::LONG>(image.size());
    ASSERT_EQ(wioReadFileInfo(cb, reinterpret_cast<const char*>(&desc), kFormWAVE,
                              WIO_MEMORY | WIO_INFOONLY),
              WIOERR_NOERROR);
    EXPECT_EQ(cb->Format.wFormatTag, 0);
    EXPECT_EQ(cb->DataBytes, 0);
    EXPECT_EQ(
        RiffINFOValue(cb->InfoChunk, RiffFindPIINFO(cb->InfoChunk, mmioFourCC('I', 'C', 'M', 'T'))),
        "c");
    wioFreeFileInfo(cb);
}

} // namespace
} // namespace lum
