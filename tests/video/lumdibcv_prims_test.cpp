// The pixel primitives, pixel by pixel in memory on packed DIBs of 8, 16
// (5-5-5 and 5-6-5), 24 and 32 bits, bottom-up and top-down: which pixels
// each one writes, what it writes (the colour's bytes in blue, green, red
// order, inverted ones combined with what was there), clipping at the
// edges and at a clip rectangle, and that nothing else is touched, the row
// padding included.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/bitmapheader.h"
#include "support/raised.h"
#include "video/lumdibcv.h"

using namespace lum;

namespace {

constexpr int kW = 12, kH = 8;
constexpr std::uint8_t kBack = 0xA5; // every byte before drawing

struct Depth {
    const char* name;
    int bits;
    platform::DWORD compression;
    std::uint32_t masks[3];
    std::uint32_t value;           // the colour drawn with
    std::vector<std::uint8_t> set; // its bytes in memory
    std::uint32_t colourMask;      // bits NOT may change
};

const std::vector<Depth>& Depths() {
    static const std::vector<Depth> depths = {
        {"8", 8, platform::BI_RGB, {}, 0x3C, {0x3C}, 0xFF},
        {"16/555", 16, platform::BI_RGB, {}, 0x1234, {0x34, 0x12}, 0x7FFF},
        {"16/565",
         16,
         platform::BI_BITFIELDS,
         {0xF800, 0x07E0, 0x001F},
         0x8421,
         {0x21, 0x84},
         0xFFFF},
        // 0x00BBGGRR: blue 0x11, green 0x22, red 0x33.
        {"24", 24, platform::BI_RGB, {}, 0x112233, {0x11, 0x22, 0x33}, 0xFFFFFF},
        {"32", 32, platform::BI_RGB, {}, 0x112233, {0x11, 0x22, 0x33, 0x00}, 0xFFFFFF},
    };
    return depths;
}

// A packed DIB filled with kBack, padding included.
struct Dib {
    std::vector<std::uint8_t> block;
    std::size_t bitsAt;
    std::size_t stride;
    bool topDown;
    int bpp;

    int width;

    Dib(const Depth& d, bool top, int w = kW) : topDown(top), bpp(d.bits / 8), width(w) {
        platform::BITMAPINFOHEADER bi =
            lum::test::InfoHeader(w, top ? -kH : kH, static_cast<platform::WORD>(d.bits),
                                  d.compression, d.bits == 8 ? 256 : 0);
        std::size_t extra = d.bits == 8 ? 1024 : d.compression == platform::BI_BITFIELDS ? 12 : 0;
        stride = (static_cast<std::size_t>(w) * d.bits + 31) / 32 * 4;
        bitsAt = 40 + extra;
        block.assign(bitsAt + stride * kH, kBack);
        std::memcpy(block.data(), &bi, 40);
        if (d.compression == platform::BI_BITFIELDS) std::memcpy(&block[40], d.masks, 12);
        for (int i = 0; d.bits == 8 && i < 256; ++i) {
            platform::RGBQUAD q{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                                static_cast<std::uint8_t>(i / 2), 0};
            std::memcpy(&block[40 + 4 * i], &q, 4);
        }
    }
    TBitmapInfoHeader* Header() { return reinterpret_cast<TBitmapInfoHeader*>(block.data()); }
    // Picture pixel (x, y) as stored.
    const std::uint8_t* Pixel(int x, int y) const {
        const int row = topDown ? y : kH - 1 - y;
        return block.data() + bitsAt + stride * static_cast<std::size_t>(row) +
               static_cast<std::size_t>(x * bpp);
    }
    // Padding bytes behind the last pixel of each row, all still kBack.
    bool PaddingUntouched() const {
        for (int row = 0; row < kH; ++row)
            for (std::size_t b = static_cast<std::size_t>(width * bpp); b < stride; ++b)
                if (block[bitsAt + stride * static_cast<std::size_t>(row) + b] != kBack)
                    return false;
        return true;
    }
};

// What a pixel should hold.
enum class Expect { Untouched, Set, Xor, NotXor };

std::vector<std::uint8_t> Bytes(const Depth& d, Expect e) {
    std::vector<std::uint8_t> out(d.set.size(), kBack);
    if (e == Expect::Untouched) return out;
    if (e == Expect::Set) return d.set;
    // Combined with the kBack bytes; NOT changes colour bits only (a
    // 32-bit pixel keeps its fourth byte, a 5-5-5 one its top bit).
    std::uint32_t back = 0, value = 0;
    for (std::size_t i = 0; i < d.set.size(); ++i) {
        back |= static_cast<std::uint32_t>(kBack) << (8 * i);
        value |= static_cast<std::uint32_t>(d.set[i]) << (8 * i);
    }
    const std::uint32_t mask = d.colourMask;
    const std::uint32_t r =
        e == Expect::Xor ? back ^ value : (back & ~mask) | (~(back ^ value) & mask);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(r >> (8 * i));
    return out;
}

// Pattern rows, top first: '#' drawn, 'x' inverted (XOR), 'n' not-XOR,
// '.' untouched.
::testing::AssertionResult Matches(const Dib& dib, const Depth& d,
                                   const std::vector<std::string>& pattern) {
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const char c = pattern[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
            const Expect e = c == '#'   ? Expect::Set
                             : c == 'x' ? Expect::Xor
                             : c == 'n' ? Expect::NotXor
                                        : Expect::Untouched;
            const std::vector<std::uint8_t> want = Bytes(d, e);
            if (std::memcmp(dib.Pixel(x, y), want.data(), want.size()) != 0)
                return ::testing::AssertionFailure()
                       << "pixel " << x << "," << y << " should be '" << c << "'";
        }
    if (!dib.PaddingUntouched()) return ::testing::AssertionFailure() << "padding written";
    return ::testing::AssertionSuccess();
}

struct Case {
    const char* name;
    std::function<void()> draw;
    std::vector<std::string> pattern;
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"pixels at the corners, and outside",
         [] {
             const std::uint32_t v = DIB_DrawState().biColor;
             DIB_SETPIXEL(0, 0, v);
             DIB_SETPIXEL(11, 7, v);
             DIB_SETPIXEL(-1, 3, v);
             DIB_SETPIXEL(12, 0, v);
             DIB_SETPIXEL(3, 8, v);
         },
         {"#...........", "............", "............", "............", "............",
          "............", "............", "...........#"}},
        {"horizontal spans, reversed and clipped",
         [] {
             DIB_HLINE(5, 2, 1);
             DIB_HLINE(8, 20, 3);
             DIB_HLINE(-3, 2, 5);
             DIB_HLINE(4, 4, 6);
             DIB_HLINE(0, 12, -1);
         },
         {"............", "..###.......", "............", "........####", "............",
          "##..........", "............", "............"}},
        {"dashes: whole ones only",
         [] {
             DIB_HLINEDASHED(0, 12, 0);
             DIB_HLINEDASHED(1, 4, 2);
             DIB_HLINEDASHED(13, 2, 4);
             DIB_VLINEDASHED(11, 1, 8);
         },
         {"####....####", "...........#", "...........#", "...........#", "..####.....#",
          "............", "............", "............"}},
        {"dots: every step + 1, phase kept when clipped",
         [] {
             DIB_HLINEDOTED(0, 12, 1, 0);
             DIB_HLINEDOTED(1, 12, 3, 2);
             DIB_HLINEDOTED(-5, 12, 5, 3);
             DIB_VLINEDOTED(0, 2, 8, 1);
         },
         {"............", "#.#.#.#.#.#.", "#...........", ".#..#..#..#.", "#...........",
          "...#...#...#", "#...........", "............"}},
        {"vertical spans, reversed and clipped",
         [] {
             DIB_VLINE(0, 0, 8);
             DIB_VLINE(5, 6, 2);
             DIB_VLINE(11, -2, 3);
             DIB_VLINE(12, 0, 8);
         },
         {"#..........#", "#..........#", "#....#.....#", "#....#......", "#....#......",
          "#....#......", "#...........", "#..........."}},
        {"rectangles: last row and column inside",
         [] {
             DIB_RECTANGLE(0, 0, 12, 8);
             DIB_RECTANGLE(2, 2, 5, 4);
         },
         {"############", "#..........#", "#.###......#", "#.###......#", "#..........#",
          "#..........#", "#..........#", "############"}},
        {"filled rectangles, clipped at every edge",
         [] {
             DIB_FILLRECT(TRect{2, 1, 5, 3});
             DIB_FILLRECT(TRect{-2, -2, 2, 2});
             DIB_FILLRECT(TRect{10, 6, 20, 20});
         },
         {"##..........", "#####.......", "..###.......", "............", "............",
          "............", "..........##", "..........##"}},
        {"lines stop before their last point",
         [] {
             DIB_LINE(0, 0, 4, 4);
             DIB_MOVETO(11, 0);
             DIB_LINETO(11, 3);
             DIB_LINETO(8, 3);
             DIB_LINE(6, 7, 6, 7);
             DIB_LINE(-2, 7, 3, 7);
         },
         {"#..........#", ".#.........#", "..#........#", "...#.....###", "............",
          "............", "............", "###........."}},
        {"a chequer: odd and even",
         [] {
             DIB_FILLRECTDOTED(TRect{0, 0, 4, 2}, false);
             DIB_FILLRECTDOTED(TRect{6, 4, 10, 6}, true);
         },
         {"#.#.........", ".#.#........", "............", "............", ".......#.#..",
          "......#.#...", "............", "............"}},
        {"ellipses: filled and a ring",
         [] {
             DIB_FILLELLIPSE(3, 4, 2, 1);
             DIB_ELLIPSE(9, 4, 2, 1, 1, 0);
         },
         {"............", "............", "............", "..###...###.", ".#####.#...#",
          "..###...###.", "............", "............"}},
        {"inverting: XOR twice is nothing, not-XOR once",
         [] {
             DIB_FILLRECTXOR(TRect{0, 0, 3, 2});
             DIB_FILLRECTXOR(TRect{1, 1, 3, 2});
             DIB_VLINEXOR(5, 0, 3);
             DIB_VLINENOTXOR(7, 6, 2);
             DIB_LINENOTXOR(8, 7, 12, 7);
         },
         {"xxx..x......", "x....x......", ".....x.n....", ".......n....", ".......n....",
          ".......n....", "............", "........nnnn"}},
        {"a clip rectangle limits every primitive",
         [] {
             DIB_SETCLIPRECT(TRect{2, 1, 6, 5});
             DIB_FILLRECT(TRect{0, 0, 12, 8});
             DIB_SETCLIPRECT(TRect{-5, -5, 100, 100});
             DIB_HLINE(0, 12, 7);
         },
         {"............", "..####......", "..####......", "..####......", "..####......",
          "............", "............", "############"}},
    };
    return cases;
}

} // namespace

TEST(DibPrimitives, EveryPrimitivePixelByPixelAtEveryDepth) {
    for (const Depth& d : Depths()) {
        for (bool top : {false, true}) {
            for (const Case& c : Cases()) {
                SCOPED_TRACE(std::string(d.name) + (top ? " top-down: " : " bottom-up: ") + c.name);
                Dib dib(d, top);
                {
                    TLumDIBPass pass(dib.Header());
                    DIB_SETCOLOR(d.value);
                    c.draw();
                }
                EXPECT_TRUE(Matches(dib, d, c.pattern));
            }
        }
    }
}

TEST(DibPrimitives, ReadingClearingAndCopying) {
    for (const Depth& d : Depths()) {
        SCOPED_TRACE(d.name);
        Dib dib(d, false);
        TLumDIBPass pass(dib.Header());
        const TLumDIBDrawState& s = DIB_DrawState();
        EXPECT_EQ(s.biBits, d.bits);
        EXPECT_EQ(s.biScanWidth, static_cast<int>(dib.stride));
        EXPECT_EQ(s.biLineDiff, -static_cast<int>(dib.stride));

        DIB_SETPIXEL(4, 2, d.value);
        EXPECT_EQ(DIB_GETPIXEL(4, 2), d.value);
        EXPECT_EQ(DIB_GETPIXEL(-1, 2), 0xFFFFFFFFu);
        EXPECT_EQ(DIB_GETPIXEL(4, kH), 0xFFFFFFFFu);

        // A 3 x 2 source of the same depth, copied at the bottom-right
        // corner: only its top-left 2 x 1 fits.
        const std::size_t sstride = (3 * static_cast<std::size_t>(d.bits) + 31) / 32 * 4;
        std::vector<std::uint8_t> src(sstride * 2);
        for (std::size_t i = 0; i < src.size(); ++i)
            src[i] = static_cast<std::uint8_t>(i + 1);
        DIB_COPYDIBBITS(src.data(), 3, 2, 0, 0, 10, 7, 3, 2);
        const std::uint8_t* top = src.data() + sstride; // the source's top row is stored last
        const std::vector<std::uint8_t> back = Bytes(d, Expect::Untouched);
        EXPECT_EQ(std::memcmp(dib.Pixel(10, 7), top, 2 * dib.bpp), 0);
        EXPECT_EQ(std::memcmp(dib.Pixel(9, 7), back.data(), back.size()), 0);
        // From the source's second column, at the top-left corner: 2 x 2.
        DIB_COPYDIBBITS(src.data(), 3, 2, 1, 0, 0, 0, 5, 5);
        EXPECT_EQ(std::memcmp(dib.Pixel(0, 0), top + dib.bpp, 2 * dib.bpp), 0);
        EXPECT_EQ(std::memcmp(dib.Pixel(0, 1), src.data() + dib.bpp, 2 * dib.bpp), 0);
        EXPECT_EQ(std::memcmp(dib.Pixel(2, 0), back.data(), back.size()), 0);
        EXPECT_EQ(std::memcmp(dib.Pixel(0, 2), back.data(), back.size()), 0);
        EXPECT_TRUE(dib.PaddingUntouched());
    }
    // Clearing ignores the clip; on 8 bits it writes whole rows, padding
    // included. Ten pixels leave padding at 8 and 24 bits.
    for (const Depth& d : Depths()) {
        SCOPED_TRACE(d.name);
        Dib dib(d, false, 10);
        {
            TLumDIBPass pass(dib.Header());
            DIB_SETCLIPRECT(TRect{0, 0, 1, 1});
            DIB_SETCOLOR(d.value);
            DIB_CLEAR();
        }
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < 10; ++x)
                ASSERT_EQ(std::memcmp(dib.Pixel(x, y), d.set.data(), d.set.size()), 0);
        EXPECT_EQ(dib.PaddingUntouched(), d.bits != 8);
        if (d.bits == 8) {
            EXPECT_EQ(dib.block.back(), 0x3C);
        }
    }
}

TEST(DibPrimitives, ColoursOfEachDepth) {
    for (const Depth& d : Depths()) {
        SCOPED_TRACE(d.name);
        Dib dib(d, false);
        TLumDIBPass pass(dib.Header());
        // The colour table of the 8-bit picture: index i is (i / 2, 255 - i, i).
        switch (d.bits) {
        case 8:
            EXPECT_EQ(DIB_RGBTOVALUE(platform::gdi::RGB(20, 215, 41)), 40u);
            break;
        case 16:
            EXPECT_EQ(DIB_RGBTOVALUE(platform::gdi::RGB(255, 0, 8)),
                      d.compression == platform::BI_RGB ? 0x7C01u : 0xF801u);
            break;
        default:
            EXPECT_EQ(DIB_RGBTOVALUE(0x123456), 0x123456u);
        }
        // Multicolour columns: indices on 8 bits, their table colours (or
        // grey levels without a table) deeper.
        const std::uint8_t colors[] = {7, 200, 9};
        DIB_VLINEMULTICOLOR(3, 6, colors, 3);
        if (d.bits == 8) {
            EXPECT_EQ(DIB_GETPIXEL(3, 6), 7u);
            EXPECT_EQ(DIB_GETPIXEL(3, 7), 200u);
        } else {
            EXPECT_EQ(DIB_GETPIXEL(3, 6), DIB_RGBTOVALUE(0x070707));
            EXPECT_EQ(DIB_GETPIXEL(3, 7), DIB_RGBTOVALUE(0xC8C8C8));
        }
        EXPECT_TRUE(dib.PaddingUntouched());
    }
}

TEST(DibPrimitives, PassesOverUnsupportedDibsAreRefusedAndNothingRunsOutsideOne) {
    Dib dib(Depths()[3], false);
    dib.Header()->biBitCount = 4;
    EXPECT_EQ(test::Raised([&] { DIB_InitDrawingDIB(dib.Header()); }),
              "Bitlength not supported yet");
    dib.Header()->biBitCount = 32;
    dib.Header()->biCompression = platform::BI_BITFIELDS; // masks behind the header: 0xA5...
    EXPECT_EQ(test::Raised([&] { DIB_InitDrawingDIB(dib.Header()); }),
              "Bitlength not supported yet");
    EXPECT_EQ(test::Raised([] { DIB_InitDrawingDIB(nullptr); }), "Bitlength not supported yet");
    // No pass open: the state is empty and drawing goes nowhere.
    EXPECT_EQ(DIB_DrawState().biSurface, nullptr);
    DIB_FILLRECT(TRect{0, 0, 100, 100});
    DIB_CLEAR();
    EXPECT_EQ(DIB_GETPIXEL(0, 0), 0xFFFFFFFFu);
}
