// The frame decoders' built-in codec: uncompressed frames of every depth and
// orientation, palettes and palette changes, dropped and damaged frames,
// output formats, and RLE8/RLE4 with deltas over the previous frame.
#include <gtest/gtest.h>

#include <map>

#include "avi_fixtures.h"
#include "platform/base/rle.h"
#include "platform/vfw/riff.h"
#include "support/bitmapheader.h"

using namespace lum::vfwtest;

namespace {

struct Rgb {
    int r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// A video stream to write: the format, the frames, which are key frames,
// and formats that take over at later positions (palette changes).
struct Video {
    Video(Bytes f, std::vector<Bytes> fr, std::vector<bool> k = {}, DWORD h = 0)
        : format(std::move(f)), frames(std::move(fr)), keys(std::move(k)), handler(h) {}
    Bytes format;
    std::vector<Bytes> frames;
    std::vector<bool> keys; // all key frames when empty
    std::map<LONG, Bytes> changes;
    DWORD handler = 0;
};

// Writes a video to Path and opens its stream; the stream keeps its file.
PAVISTREAM WriteAndOpen(const std::string& path, const Video& v) {
    CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM s = nullptr;
        AVISTREAMINFO vi = VideoInfo(v.handler, 1, 25);
        ASSERT_EQ(AVIFileCreateStream(f, &s, &vi), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(s, 0, v.format.data(), static_cast<LONG>(v.format.size())),
                  AVIERR_OK);
        for (std::size_t i = 0; i < v.frames.size(); ++i) {
            auto pos = static_cast<LONG>(i);
            if (auto c = v.changes.find(pos); c != v.changes.end()) {
                ASSERT_EQ(AVIStreamSetFormat(s, pos, c->second.data(),
                                             static_cast<LONG>(c->second.size())),
                          AVIERR_OK);
            }
            const Bytes& d = v.frames[i];
            bool key = v.keys.empty() || v.keys[i];
            ASSERT_EQ(AVIStreamWrite(s, pos, 1, d.empty() ? nullptr : d.data(),
                                     static_cast<LONG>(d.size()), key ? AVIIF_KEYFRAME : 0, nullptr,
                                     nullptr),
                      AVIERR_OK);
        }
        AVIStreamRelease(s);
    });
    PAVISTREAM s = nullptr;
    EXPECT_EQ(AVIStreamOpenFromFile(&s, path, streamtypeVIDEO, 0, OF_SHARE_DENY_NONE), AVIERR_OK);
    return s;
}

// A decoder over a freshly written stream, released with it.
class Decoder {
public:
    Decoder(const lum::test::TempDir& dir, const Video& v,
            const BITMAPINFOHEADER* wanted = AVIGETFRAMEF_BESTDISPLAYFMT)
        : stream_(WriteAndOpen(dir.File("v" + std::to_string(++count_) + ".avi"), v)) {
        if (stream_) g_ = AVIStreamGetFrameOpen(stream_, wanted);
    }
    ~Decoder() {
        if (g_) AVIStreamGetFrameClose(g_);
        AVIStreamRelease(stream_);
    }
    PGETFRAME Get() const { return g_; }
    PAVISTREAM Stream() const { return stream_; }
    const BITMAPINFOHEADER* Frame(LONG pos) const {
        return static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(g_, pos));
    }

private:
    static inline int count_ = 0;
    PAVISTREAM stream_;
    PGETFRAME g_ = nullptr;
};

BITMAPINFOHEADER Header(const BITMAPINFOHEADER* dib) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    return h;
}

const std::uint8_t* Pixels(const BITMAPINFOHEADER* dib) {
    BITMAPINFOHEADER h = Header(dib);
    std::size_t extra = h.biCompression == BI_BITFIELDS ? 12 : 4 * h.biClrUsed;
    return reinterpret_cast<const std::uint8_t*>(dib) + h.biSize + extra;
}

// Pixel (x, y) of a 24-bit DIB, Y counted from the top of the picture.
Rgb At24(const BITMAPINFOHEADER* dib, int x, int y) {
    BITMAPINFOHEADER h = Header(dib);
    EXPECT_EQ(h.biBitCount, 24);
    const int rows = std::abs(h.biHeight);
    const std::size_t stride = (static_cast<std::size_t>(h.biWidth) * 3 + 3) & ~std::size_t{3};
    const std::uint8_t* p =
        Pixels(dib) + stride * static_cast<std::size_t>(h.biHeight > 0 ? rows - 1 - y : y) + 3 * x;
    return {p[2], p[1], p[0]};
}

BITMAPINFOHEADER Wanted(LONG w, LONG h, WORD bits, DWORD compression = BI_RGB) {
    return lum::test::InfoHeader(w, h, bits, compression);
}

// Colours every depth can hold exactly, as stored in each depth.
const Rgb kColors[4] = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 255}};
constexpr std::uint16_t k555[4] = {0x0000, 0x7FFF, 0x7C00, 0x001F};
constexpr std::uint16_t k565[4] = {0x0000, 0xFFFF, 0xF800, 0x001F};

int ColorOf(int x, int y, int count) {
    return (x + 2 * y) % count;
}

// A W x H frame of the test pattern at Bits per pixel (indices for 8 bits
// or less; the colour table is kColors), Masks565 picking 5-6-5 for 16 bits.
Bytes Pattern(int w, int h, int bits, bool top_down, bool masks565 = false) {
    const std::size_t stride = ((static_cast<std::size_t>(w) * bits + 31) / 32) * 4;
    Bytes b(stride * h, 0);
    const int count = bits == 1 ? 2 : 4;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = &b[stride * static_cast<std::size_t>(top_down ? y : h - 1 - y)];
        for (int x = 0; x < w; ++x) {
            const int c = ColorOf(x, y, count);
            switch (bits) {
            case 1:
                row[x / 8] |= static_cast<std::uint8_t>(c << (7 - x % 8));
                break;
            case 4:
                row[x / 2] |= static_cast<std::uint8_t>(c << (x % 2 ? 0 : 4));
                break;
            case 8:
                row[x] = static_cast<std::uint8_t>(c);
                break;
            case 16: {
                std::uint16_t v = masks565 ? k565[c] : k555[c];
                row[2 * x] = static_cast<std::uint8_t>(v);
                row[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
                break;
            }
            default:
                row[(bits / 8) * x] = static_cast<std::uint8_t>(kColors[c].b);
                row[(bits / 8) * x + 1] = static_cast<std::uint8_t>(kColors[c].g);
                row[(bits / 8) * x + 2] = static_cast<std::uint8_t>(kColors[c].r);
            }
        }
    }
    return b;
}

Bytes IndexedFormat(LONG w, LONG h, WORD bits, DWORD compression = BI_RGB, int colours = 4) {
    Bytes f = BitmapFormat(w, h, bits, compression, colours);
    for (int i = 0; i < colours; ++i) {
        const Rgb c = kColors[i % 4];
        f[40 + 4 * i] = static_cast<std::uint8_t>(c.b);
        f[40 + 4 * i + 1] = static_cast<std::uint8_t>(c.g);
        f[40 + 4 * i + 2] = static_cast<std::uint8_t>(c.r);
        f[40 + 4 * i + 3] = 0;
    }
    return f;
}

Bytes MaskedFormat(LONG w, LONG h, WORD bits, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    Bytes f = BitmapFormat(w, h, bits, BI_BITFIELDS);
    f.resize(52);
    SetLe32(f, 40, r);
    SetLe32(f, 44, g);
    SetLe32(f, 48, b);
    return f;
}

} // namespace

TEST(GetFrameUncompressed, EveryDepthAndOrientationGivesTheSameColours) {
    lum::test::TempDir dir;
    const int w = 13, h = 3;
    struct Case {
        const char* name;
        int bits;
        bool top_down;
        Bytes format;
        bool masks565;
    };
    std::vector<Case> cases;
    for (bool td : {false, true}) {
        const LONG hh = td ? -h : h;
        cases.push_back({"1 bit", 1, td, IndexedFormat(w, hh, 1, BI_RGB, 2), false});
        cases.push_back({"4 bits", 4, td, IndexedFormat(w, hh, 4), false});
        cases.push_back({"8 bits", 8, td, IndexedFormat(w, hh, 8), false});
        cases.push_back({"16 bits 555", 16, td, BitmapFormat(w, hh, 16, BI_RGB), false});
        cases.push_back(
            {"16 bits 565", 16, td, MaskedFormat(w, hh, 16, 0xF800, 0x07E0, 0x001F), true});
        cases.push_back({"24 bits", 24, td, BitmapFormat(w, hh, 24, BI_RGB), false});
        cases.push_back({"32 bits", 32, td, BitmapFormat(w, hh, 32, BI_RGB), false});
        cases.push_back(
            {"32 bits masks", 32, td, MaskedFormat(w, hh, 32, 0xFF0000, 0xFF00, 0xFF), false});
    }
    BITMAPINFOHEADER want = Wanted(w, h, 24);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.top_down ? " top-down" : " bottom-up"));
        Video v{c.format, {Pattern(w, h, c.bits, c.top_down, c.masks565)}};
        Decoder d(dir, v, &want);
        ASSERT_NE(d.Get(), nullptr);
        const BITMAPINFOHEADER* dib = d.Frame(0);
        ASSERT_NE(dib, nullptr);
        EXPECT_EQ(Header(dib).biHeight, h);
        const int count = c.bits == 1 ? 2 : 4;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(At24(dib, x, y), kColors[ColorOf(x, y, count)]) << x << "," << y;
    }
}

TEST(GetFrameUncompressed, BestDisplayFormatIsTheSourcesOwn) {
    lum::test::TempDir dir;
    for (int bits : {8, 16, 32}) {
        SCOPED_TRACE(bits);
        Bytes fmt = bits == 8 ? IndexedFormat(5, -2, 8)
                              : BitmapFormat(5, -2, static_cast<WORD>(bits), BI_RGB);
        Bytes frame = Pattern(5, 2, bits, true);
        Decoder d(dir, {fmt, {frame}});
        const BITMAPINFOHEADER* dib = d.Frame(0);
        ASSERT_NE(dib, nullptr);
        BITMAPINFOHEADER hd = Header(dib);
        EXPECT_EQ(hd.biBitCount, bits);
        EXPECT_EQ(hd.biHeight, -2); // top-down stays top-down
        EXPECT_EQ(hd.biSizeImage, frame.size());
        EXPECT_EQ(hd.biClrUsed, bits == 8 ? 4u : 0u);
        if (bits == 8) {
            EXPECT_EQ(std::memcmp(dib + 1, &fmt[40], 16), 0);
        }
        EXPECT_EQ(std::memcmp(Pixels(dib), frame.data(), frame.size()), 0);
    }
}

TEST(GetFrameUncompressed, NarrowChannelsWidenByRepeatingTheirBits) {
    // The values ffmpeg's converters give for the same words.
    lum::test::TempDir dir;
    const std::uint16_t words555[] = {0x0001, 0x0010, 0x7FFF, 0x4210};
    const Rgb expect555[] = {{0, 0, 8}, {0, 0, 132}, {255, 255, 255}, {132, 132, 132}};
    Bytes frame(8);
    for (int i = 0; i < 4; ++i) {
        frame[2 * i] = static_cast<std::uint8_t>(words555[i]);
        frame[2 * i + 1] = static_cast<std::uint8_t>(words555[i] >> 8);
    }
    BITMAPINFOHEADER want = Wanted(4, 1, 24);
    Decoder d(dir, {BitmapFormat(4, 1, 16, BI_RGB), {frame}}, &want);
    const BITMAPINFOHEADER* dib = d.Frame(0);
    ASSERT_NE(dib, nullptr);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(At24(dib, i, 0), expect555[i]) << i;

    Bytes green(4); // one pixel, a row padded to 4 bytes
    green[0] = 0xE0;
    green[1] = 0x03; // six green bits 011111
    BITMAPINFOHEADER one = Wanted(1, 1, 24);
    Decoder g(dir, {MaskedFormat(1, 1, 16, 0xF800, 0x07E0, 0x001F), {green}}, &one);
    ASSERT_NE(g.Frame(0), nullptr);
    EXPECT_EQ(At24(g.Frame(0), 0, 0), (Rgb{0, 0x7D, 0}));
}

TEST(GetFrameUncompressed, PaletteChangesDroppedDamagedAndOutsideFrames) {
    lum::test::TempDir dir;
    Bytes fmt = IndexedFormat(2, 2, 8);
    Bytes changed = fmt;
    changed[40 + 4 * 1 + 1] = 0x80; // entry 1 becomes (255, 128, 255)
    Bytes frame = {1, 1, 0, 0, 1, 1, 0, 0};
    Video v{fmt, {frame, {}, frame, {1, 1}, frame}};
    v.changes[2] = changed;
    BITMAPINFOHEADER want = Wanted(2, 2, 24);
    Decoder d(dir, v, &want);
    ASSERT_NE(d.Get(), nullptr);
    EXPECT_EQ(At24(d.Frame(0), 0, 1), (Rgb{255, 255, 255}));
    // An empty sample is a dropped frame: the one before it shows.
    ASSERT_NE(d.Frame(1), nullptr);
    EXPECT_EQ(At24(d.Frame(1), 0, 1), (Rgb{255, 255, 255}));
    EXPECT_EQ(At24(d.Frame(2), 0, 1), (Rgb{255, 128, 255}));
    // A frame shorter than its image is damage: nothing, and the decoder goes on.
    EXPECT_EQ(d.Frame(3), nullptr);
    ASSERT_NE(d.Frame(4), nullptr);
    EXPECT_EQ(At24(d.Frame(4), 1, 0), (Rgb{255, 128, 255}));
    EXPECT_EQ(d.Frame(-1), nullptr);
    EXPECT_EQ(d.Frame(5), nullptr);

    // The palette of an 8-bit output follows the changes too.
    Decoder own(dir, v);
    EXPECT_EQ(Header(own.Frame(0)).biBitCount, 8);
    const auto* colors = reinterpret_cast<const std::uint8_t*>(own.Frame(4)) + 40;
    EXPECT_EQ(colors[4 + 1], 0x80);
}

TEST(GetFrameWanted, OutputFormatsAndRefusals) {
    lum::test::TempDir dir;
    Video rgb{BitmapFormat(3, 2, 24, BI_RGB), {Pattern(3, 2, 24, false)}};

    BITMAPINFOHEADER w555 = Wanted(3, 2, 16);
    Decoder d555(dir, rgb, &w555);
    const BITMAPINFOHEADER* dib = d555.Frame(0);
    ASSERT_NE(dib, nullptr);
    // Row 0 from the top is the last stored row: colours 0, 1, 2.
    const std::uint8_t* top = Pixels(dib) + 8;
    EXPECT_EQ(GetLE16(top + 2), 0x7FFF);
    EXPECT_EQ(GetLE16(top + 4), 0x7C00);

    struct Masked {
        BITMAPINFOHEADER h;
        std::uint32_t masks[3];
    } w565{Wanted(3, 2, 16, BI_BITFIELDS), {0xF800, 0x07E0, 0x001F}};
    Decoder d565(dir, rgb, &w565.h);
    ASSERT_NE(d565.Frame(0), nullptr);
    EXPECT_EQ(Header(d565.Frame(0)).biCompression, BI_BITFIELDS);
    EXPECT_EQ(GetLE16(Pixels(d565.Frame(0)) + 8 + 4), 0xF800);

    BITMAPINFOHEADER w32 = Wanted(0, 0, 32); // zero sizes: the source's
    Decoder d32(dir, rgb, &w32);
    ASSERT_NE(d32.Frame(0), nullptr);
    EXPECT_EQ(Header(d32.Frame(0)).biWidth, 3);
    EXPECT_EQ(GetLE32(Pixels(d32.Frame(0)) + 12 + 8) & 0xFFFFFF, 0xFF0000u);

    BITMAPINFOHEADER topdown = Wanted(3, -2, 24);
    Decoder dtd(dir, rgb, &topdown);
    ASSERT_NE(dtd.Frame(0), nullptr);
    EXPECT_EQ(Header(dtd.Frame(0)).biHeight, -2);
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(At24(dtd.Frame(0), x, 1), kColors[ColorOf(x, 1, 4)]);

    BITMAPINFOHEADER w8 = Wanted(3, 2, 8);
    EXPECT_EQ(Decoder(dir, rgb, &w8).Get(), nullptr); // no indices from colours
    BITMAPINFOHEADER wide = Wanted(4, 2, 24);
    EXPECT_EQ(Decoder(dir, rgb, &wide).Get(), nullptr);
    BITMAPINFOHEADER rle = Wanted(3, 2, 8, BI_RLE8);
    EXPECT_EQ(Decoder(dir, rgb, &rle).Get(), nullptr);

    // From indexed sources, indexed outputs keep the indices.
    Video pal{IndexedFormat(3, 2, 8), {Pattern(3, 2, 8, false)}};
    Decoder d8(dir, pal, &w8);
    ASSERT_NE(d8.Frame(0), nullptr);
    EXPECT_EQ(std::memcmp(Pixels(d8.Frame(0)), pal.frames[0].data(), 8), 0);
    BITMAPINFOHEADER w4 = Wanted(3, 2, 4);
    Decoder d4(dir, pal, &w4);
    ASSERT_NE(d4.Frame(0), nullptr);
    EXPECT_EQ(Pixels(d4.Frame(0))[0], 0x23); // bottom row: colours 2, 3, 0
    EXPECT_EQ(Pixels(d4.Frame(0))[4], 0x01); // top row: colours 0, 1, 2
    EXPECT_EQ(Pixels(d4.Frame(0))[5], 0x20);
    Video full{IndexedFormat(3, 2, 8, BI_RGB, 256), {Pattern(3, 2, 8, false)}};
    EXPECT_EQ(Decoder(dir, full, &w4).Get(), nullptr); // 256 colours do not fit 4 bits
}

TEST(GetFrameOpen, NoDecoderForUnknownCodecsAndOtherStreams) {
    lum::test::TempDir dir;
    Video unknown{BitmapFormat(4, 4, 24, MakeFourCC("QQQQ")), {Bytes(10, 1)}};
    unknown.handler = MakeFourCC("QQQQ");
    EXPECT_EQ(Decoder(dir, unknown).Get(), nullptr);
    EXPECT_EQ(AVIStreamGetFrameOpen(nullptr, nullptr), nullptr);
    EXPECT_EQ(AVIStreamGetFrame(nullptr, 0), nullptr);
    EXPECT_EQ(AVIStreamGetFrameClose(nullptr), AVIERR_BADHANDLE);

    std::string path = dir.File("audio.avi");
    WriteTestAvi(path, 3, true);
    PAVISTREAM audio = nullptr;
    ASSERT_EQ(AVIStreamOpenFromFile(&audio, path, streamtypeAUDIO, 0, OF_SHARE_DENY_NONE),
              AVIERR_OK);
    EXPECT_EQ(AVIStreamGetFrameOpen(audio, nullptr), nullptr);
    AVIStreamRelease(audio);
}

namespace {

// An 8 x 4 RLE8 stream: key frame, delta, key frame, delta.
const Bytes kRleKey0 = {8, 1,             // bottom row: eight of colour 1
                        0, 0,             // end of line
                        0, 3, 2, 3, 2, 0, // absolute run of three, padded
                        5, 1, 0, 0,       // five of colour 1, end of line
                        4, 2, 4, 3, 0, 0, // row 2
                        8, 0, 0, 1};      // top row black, end of bitmap
const Bytes kRleDelta1 = {0, 2, 3, 1,     // move right 3, up 1: (3, row 1)
                          2, 0,           // two black pixels there
                          0, 0,           // next row
                          0, 2, 6, 1,     // to (6, row 3)
                          2, 3, 0, 1};    // two of colour 3, end of bitmap
const Bytes kRleKey2 = {8, 3, 0, 0, 8, 2, 0, 0, 8, 1, 0, 0, 8, 0, 0, 1};
const Bytes kRleDelta3 = {0, 2, 0, 3, 1, 1, 0, 1};

// The index of each pixel, rows from the top, after frames 0 to 3.
const char* const kRleExpected[4][4] = {
    {"00000000", "22223333", "23211111", "11111111"},
    {"00000033", "22223333", "23200111", "11111111"},
    {"00000000", "11111111", "22222222", "33333333"},
    {"10000000", "11111111", "22222222", "33333333"},
};

void ExpectRleFrame(const BITMAPINFOHEADER* dib, int frame) {
    ASSERT_NE(dib, nullptr) << "frame " << frame;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(At24(dib, x, y), kColors[kRleExpected[frame][y][x] - '0'])
                << "frame " << frame << " at " << x << "," << y;
}

Video RleVideo() {
    return {IndexedFormat(8, 4, 8, BI_RLE8),
            {kRleKey0, kRleDelta1, kRleKey2, kRleDelta3},
            {true, false, true, false},
            MakeFourCC("mrle")};
}

} // namespace

TEST(GetFrameRle, DeltasCarryThePreviousFrameInAnyOrder) {
    lum::test::TempDir dir;
    Decoder fwd(dir, RleVideo());
    ASSERT_NE(fwd.Get(), nullptr);
    for (int i = 0; i < 4; ++i)
        ExpectRleFrame(fwd.Frame(i), i);
    GetFrameStats s = fwd.Get()->Stats();
    EXPECT_EQ(s.frames_decoded, 4u); // forward: each frame once
    EXPECT_EQ(s.restarts, 1u);

    Decoder rnd(dir, RleVideo());
    ExpectRleFrame(rnd.Frame(3), 3); // from key frame 2
    ExpectRleFrame(rnd.Frame(1), 1); // backwards: from key frame 0
    ExpectRleFrame(rnd.Frame(1), 1);
    EXPECT_EQ(rnd.Get()->Stats().frames_decoded, 4u); // 2 and 3, then 0 and 1

    // An 8-bit request gets the indices themselves.
    BITMAPINFOHEADER w8 = Wanted(8, 4, 8);
    Decoder idx(dir, RleVideo(), &w8);
    const BITMAPINFOHEADER* dib = idx.Frame(1);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(Header(dib).biCompression, BI_RGB);
    EXPECT_EQ(Pixels(dib)[3 * 8 + 6], 3); // top row, x 6
    EXPECT_EQ(Pixels(dib)[0], 1);
}

TEST(GetFrameRle, Rle4NibblesAndAbsoluteRuns) {
    lum::test::TempDir dir;
    // 5 x 2: bottom row 1 2 1 2 1 (a run of alternating nibbles), top row
    // an absolute run 3 0 3 then two of colour 2.
    Bytes frame = {5, 0x12, 0, 0, 0, 3, 0x30, 0x30, 2, 0x22, 0, 1};
    Video v{IndexedFormat(5, 2, 4, BI_RLE4), {frame}, {}, MakeFourCC("mrle")};
    Decoder d(dir, v);
    const BITMAPINFOHEADER* dib = d.Frame(0);
    ASSERT_NE(dib, nullptr);
    const char* rows[2] = {"30322", "12121"};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(At24(dib, x, y), kColors[rows[y][x] - '0']) << x << "," << y;
}

TEST(GetFrameRle, DamagedDataNeverWritesOutsideTheImage) {
    // Runs past the right edge, deltas past the top, a truncated absolute
    // run and an odd run at the very end of the data.
    const Bytes cases[] = {
        {255, 7, 255, 7, 0, 0, 255, 7},
        {0, 2, 250, 250, 9, 9},
        {0, 2, 3, 0, 0, 200, 1, 2, 3},
        {0, 5, 1, 2, 3, 4, 5},
        {0, 2},
        {4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 9},
    };
    for (bool rle8 : {true, false}) {
        for (const Bytes& data : cases) {
            std::vector<std::uint8_t> image(3 * 4 + 2 * 16, 0xAB);
            std::uint8_t* inside = image.data() + 16;
            std::fill(inside, inside + 12, 0);
            lum::platform::DecodeRle(data.data(), data.size(), rle8, 3, 4, inside, 3);
            for (int i = 0; i < 16; ++i) {
                ASSERT_EQ(image[i], 0xAB) << i;
                ASSERT_EQ(image[16 + 12 + i], 0xAB) << i;
            }
            for (int i = 0; i < 12; ++i)
                ASSERT_LT(inside[i], rle8 ? 10 : 16);
        }
    }
    // Through the decoder a damaged frame still gives a frame.
    lum::test::TempDir dir;
    Video v = RleVideo();
    v.frames[1] = {0, 2, 200, 200, 255, 3, 0, 9};
    Decoder d(dir, v);
    ExpectRleFrame(d.Frame(0), 0);
    EXPECT_NE(d.Frame(1), nullptr);
    ExpectRleFrame(d.Frame(2), 2);
}
