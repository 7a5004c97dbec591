// DrawDib: frames put on a context at their size and stretched, the
// source rectangle counted from the picture's top, the buffered image
// drawn again, hurried frames kept but not shown, RLE deltas landing on the
// frame before, image sizes bounding what is read, and the formats and
// handles refused.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/gdi/gditest.h"
#include "platform/vfw/drawdib.h"
#include "support/bitmapheader.h"

using namespace lum::platform;
using namespace lum::platform::vfw;
using lum::platform::gdi::RGB;
using lum::platform::gdi::test::MemDC;

namespace {

// A packed DIB: header, colour table, pixels.
struct Dib {
    std::vector<std::uint8_t> block;
    std::size_t bitsAt = 0;

    Dib(int w, int h, int bits, DWORD compression = BI_RGB, std::vector<RGBQUAD> colors = {}) {
        BITMAPINFOHEADER bi = lum::test::InfoHeader(w, h, static_cast<WORD>(bits), compression,
                                                    static_cast<DWORD>(colors.size()));
        const std::size_t stride = (static_cast<std::size_t>(w) * bits + 31) / 32 * 4;
        const std::size_t rows = static_cast<std::size_t>(h < 0 ? -h : h);
        bi.biSizeImage = static_cast<DWORD>(stride * rows);
        bitsAt = sizeof bi + colors.size() * sizeof(RGBQUAD);
        block.resize(bitsAt + stride * rows);
        std::memcpy(block.data(), &bi, sizeof bi);
        if (!colors.empty())
            std::memcpy(block.data() + sizeof bi, colors.data(), colors.size() * sizeof(RGBQUAD));
    }
    BITMAPINFOHEADER* Header() { return reinterpret_cast<BITMAPINFOHEADER*>(block.data()); }
    std::uint8_t* Bits() { return block.data() + bitsAt; }
    // Replaces the pixels by RLE data.
    void SetRle(const std::vector<std::uint8_t>& data) {
        block.resize(bitsAt);
        block.insert(block.end(), data.begin(), data.end());
        Header()->biSizeImage = static_cast<DWORD>(data.size());
    }
};

// A bottom-up 24-bit picture whose stored row r (from the bottom) is
// colour Rows[r] everywhere.
Dib Stripes(int w, const std::vector<COLORREF>& rows) {
    Dib d(w, static_cast<int>(rows.size()), 24);
    const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = d.Bits() + r * stride + static_cast<std::size_t>(x) * 3;
            p[0] = static_cast<std::uint8_t>(rows[r] >> 16);
            p[1] = static_cast<std::uint8_t>(rows[r] >> 8);
            p[2] = static_cast<std::uint8_t>(rows[r]);
        }
    return d;
}

const COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255),
               kWhite = RGB(255, 255, 255);

struct Handle {
    HDRAWDIB h = DrawDibOpen();
    ~Handle() { DrawDibClose(h); }
    DRAWDIBSTATS Stats() const {
        DRAWDIBSTATS s;
        EXPECT_TRUE(DrawDibGetStats(h, &s));
        return s;
    }
};

} // namespace

TEST(DrawDib, DrawsFramesAtTheirSizeStretchedAndFromTheTop) {
    Handle dd;
    MemDC dc(20, 10);
    // Stored bottom-up: the picture's top row is blue, its bottom red.
    Dib frame = Stripes(4, {kRed, kGreen, kBlue});
    ASSERT_TRUE(DrawDibBegin(dd.h, dc.dc(), -1, -1, frame.Header(), -1, -1, DDF_BUFFER));
    EXPECT_EQ(DrawDibRealize(dd.h, dc.dc(), 0), 0u);
    ASSERT_TRUE(
        DrawDibDraw(dd.h, dc.dc(), 1, 1, -1, -1, frame.Header(), frame.Bits(), 0, 0, -1, -1, 0));
    EXPECT_EQ(dc.At(1, 1), kBlue);
    EXPECT_EQ(dc.At(4, 3), kRed);
    EXPECT_EQ(dc.At(5, 3), kWhite);
    EXPECT_EQ(dc.At(1, 4), kWhite);

    // Twice the size, colour on colour: every source pixel becomes 2 x 2.
    dc.Fill(kWhite);
    ASSERT_TRUE(
        DrawDibDraw(dd.h, dc.dc(), 0, 0, 8, 6, frame.Header(), frame.Bits(), 0, 0, 4, 3, 0));
    EXPECT_EQ(dc.Count(kBlue), 16);
    EXPECT_EQ(dc.Count(kGreen), 16);
    EXPECT_EQ(dc.At(7, 5), kRed);

    // The source rectangle counts from the top: its second row is green.
    dc.Fill(kWhite);
    ASSERT_TRUE(
        DrawDibDraw(dd.h, dc.dc(), 0, 0, 4, 1, frame.Header(), frame.Bits(), 0, 1, 4, 1, 0));
    EXPECT_EQ(dc.At(0, 0), kGreen);
    EXPECT_EQ(dc.Count(kWhite), 200 - 4);
    EXPECT_EQ(dd.Stats().drawn, 3);

    // The library's stream formats name no compression "None".
    frame.Header()->biCompression = MakeFourCC("None");
    dc.Fill(kWhite);
    ASSERT_TRUE(
        DrawDibDraw(dd.h, dc.dc(), 0, 0, -1, -1, frame.Header(), frame.Bits(), 0, 0, -1, -1, 0));
    EXPECT_EQ(dc.At(0, 0), kBlue);
}

TEST(DrawDib, TheBufferIsDrawnAgainAndHurriedFramesAreKeptUnseen) {
    Handle dd;
    MemDC dc(4, 3);
    Dib frame = Stripes(4, {kRed, kRed, kRed});
    // Nothing buffered yet.
    EXPECT_FALSE(DrawDibUpdate(dd.h, dc.dc(), 0, 0));
    ASSERT_TRUE(DrawDibBegin(dd.h, dc.dc(), 4, 3, frame.Header(), 4, 3, DDF_BUFFER));
    EXPECT_FALSE(DrawDibUpdate(dd.h, dc.dc(), 0, 0));

    ASSERT_TRUE(DrawDibDraw(dd.h, dc.dc(), 0, 0, 4, 3, frame.Header(), frame.Bits(), 0, 0, 4, 3,
                            DDF_BUFFER));
    EXPECT_EQ(dc.Count(kRed), 12);
    // The caller's pixels change; the update shows what was drawn.
    std::memset(frame.Bits(), 0, frame.Header()->biSizeImage);
    dc.Fill(kWhite);
    ASSERT_TRUE(DrawDibUpdate(dd.h, dc.dc(), 0, 0));
    EXPECT_EQ(dc.Count(kRed), 12);

    // A hurried frame reaches the buffer and not the context.
    Dib blue = Stripes(4, {kBlue, kBlue, kBlue});
    dc.Fill(kWhite);
    ASSERT_TRUE(DrawDibDraw(dd.h, dc.dc(), 0, 0, 4, 3, blue.Header(), blue.Bits(), 0, 0, 4, 3,
                            DDF_BUFFER | DDF_HURRYUP | DDF_NOTKEYFRAME));
    EXPECT_EQ(dc.Count(kWhite), 12);
    ASSERT_TRUE(DrawDibUpdate(dd.h, dc.dc(), 0, 0));
    EXPECT_EQ(dc.Count(kBlue), 12);

    const DRAWDIBSTATS s = dd.Stats();
    EXPECT_EQ(s.drawn, 3);
    EXPECT_EQ(s.updates, 2);
    EXPECT_EQ(s.hurried, 1);
    EXPECT_EQ(s.refused, 2);

    // Ending drops the buffer.
    EXPECT_TRUE(DrawDibEnd(dd.h));
    EXPECT_FALSE(DrawDibUpdate(dd.h, dc.dc(), 0, 0));
}

TEST(DrawDib, RleDeltasLandOnTheFrameBefore) {
    Handle dd;
    MemDC dc(4, 2);
    const std::vector<RGBQUAD> colors = {{0, 0, 0, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}};
    // Key frame: both rows index 1 (red); delta: one pixel at (2, bottom
    // row) becomes index 2 (green).
    Dib key(4, 2, 8, BI_RLE8, colors);
    key.SetRle({4, 1, 0, 0, 4, 1, 0, 1});
    Dib delta(4, 2, 8, BI_RLE8, colors);
    delta.SetRle({0, 2, 2, 0, 1, 2, 0, 1});

    ASSERT_TRUE(DrawDibBegin(dd.h, dc.dc(), 4, 2, key.Header(), 4, 2, DDF_BUFFER));
    ASSERT_TRUE(
        DrawDibDraw(dd.h, dc.dc(), 0, 0, 4, 2, key.Header(), key.Bits(), 0, 0, 4, 2, DDF_BUFFER));
    EXPECT_EQ(dc.Count(kRed), 8);
    // The delta names its compression "Rle8", as the library's formats do.
    delta.Header()->biCompression = MakeFourCC("Rle8");
    ASSERT_TRUE(DrawDibDraw(dd.h, dc.dc(), 0, 0, 4, 2, delta.Header(), delta.Bits(), 0, 0, 4, 2,
                            DDF_BUFFER | DDF_NOTKEYFRAME));
    EXPECT_EQ(dc.Count(kRed), 7);
    EXPECT_EQ(dc.At(2, 1), kGreen); // the bottom row is the picture's last

    // RLE4 the same way: a key frame of index 2 pairs, a delta of index 1.
    Dib key4(4, 1, 4, BI_RLE4, colors);
    key4.SetRle({4, 0x22, 0, 1});
    Dib delta4(4, 1, 4, BI_RLE4, colors);
    delta4.SetRle({0, 2, 3, 0, 1, 0x11, 0, 1});
    MemDC line(4, 1);
    ASSERT_TRUE(DrawDibDraw(dd.h, line.dc(), 0, 0, 4, 1, key4.Header(), key4.Bits(), 0, 0, 4, 1,
                            DDF_BUFFER | DDF_HURRYUP));
    ASSERT_TRUE(DrawDibDraw(dd.h, line.dc(), 0, 0, 4, 1, delta4.Header(), delta4.Bits(), 0, 0, 4, 1,
                            DDF_BUFFER));
    EXPECT_EQ(line.Count(kGreen), 3);
    EXPECT_EQ(line.At(3, 0), kRed);
}

TEST(DrawDib, ImageSizesBoundWhatIsRead) {
    Handle dd;
    MemDC dc(4, 2, kWhite);
    const std::vector<RGBQUAD> colors = {{0, 0, 0, 0}, {0, 0, 255, 0}};
    // The size says 2 bytes of RLE data: one run of 4 red pixels, and
    // nothing of the bytes behind it, which would paint the top row too.
    Dib rle(4, 2, 8, BI_RLE8, colors);
    rle.SetRle({4, 1, 0, 0, 4, 1, 0, 1});
    rle.Header()->biSizeImage = 2;
    ASSERT_TRUE(DrawDibBegin(dd.h, dc.dc(), 4, 2, rle.Header(), 4, 2, DDF_BUFFER));
    ASSERT_TRUE(
        DrawDibDraw(dd.h, dc.dc(), 0, 0, 4, 2, rle.Header(), rle.Bits(), 0, 0, 4, 2, DDF_BUFFER));
    EXPECT_EQ(dc.Count(kRed), 4);
    EXPECT_EQ(dc.At(0, 0), RGB(0, 0, 0)); // the top row stays index 0

    // RLE without a size has nothing to read.
    rle.Header()->biSizeImage = 0;
    EXPECT_FALSE(
        DrawDibDraw(dd.h, dc.dc(), 0, 0, 4, 2, rle.Header(), rle.Bits(), 0, 0, 4, 2, DDF_BUFFER));

    // Uncompressed bits shorter than the picture are refused.
    Dib frame = Stripes(4, {kBlue, kBlue});
    frame.Header()->biSizeImage = 16; // one and a third of two 12-byte rows
    dc.Fill(kWhite);
    EXPECT_FALSE(DrawDibDraw(dd.h, dc.dc(), 0, 0, 4, 2, frame.Header(), frame.Bits(), 0, 0, 4, 2,
                             DDF_BUFFER));
    EXPECT_EQ(dc.Count(kWhite), 8);
    frame.Header()->biSizeImage = 0; // no size: the whole picture is there
    EXPECT_TRUE(DrawDibDraw(dd.h, dc.dc(), 0, 0, 4, 2, frame.Header(), frame.Bits(), 0, 0, 4, 2,
                            DDF_BUFFER));
    EXPECT_EQ(dc.Count(kBlue), 8);
}

TEST(DrawDib, RefusesWhatItCannotDrawAndStaleHandles) {
    MemDC dc(4, 4);
    Handle dd;
    Dib mjpeg(4, 4, 24, 0x47504A4D); // "MJPG"
    EXPECT_FALSE(DrawDibBegin(dd.h, dc.dc(), 4, 4, mjpeg.Header(), 4, 4, 0));
    Dib topDownRle(4, -4, 8, BI_RLE8, {{0, 0, 0, 0}});
    EXPECT_FALSE(DrawDibBegin(dd.h, dc.dc(), 4, 4, topDownRle.Header(), 4, 4, 0));
    Dib bits12(4, 4, 12);
    EXPECT_FALSE(DrawDibBegin(dd.h, dc.dc(), 4, 4, bits12.Header(), 4, 4, 0));
    Dib empty(0, 4, 24);
    EXPECT_FALSE(DrawDibBegin(dd.h, dc.dc(), 4, 4, empty.Header(), 4, 4, 0));
    // Not begun: nothing to draw without a format.
    Dib ok = Stripes(4, {kRed});
    EXPECT_FALSE(DrawDibDraw(dd.h, dc.dc(), 0, 0, 4, 1, nullptr, ok.Bits(), 0, 0, 4, 1, 0));
    // A format given to a draw begins the handle itself.
    EXPECT_TRUE(DrawDibDraw(dd.h, dc.dc(), 0, 0, -1, -1, ok.Header(), ok.Bits(), 0, 0, -1, -1, 0));
    EXPECT_EQ(dc.Count(kRed), 4);

    HDRAWDIB gone = DrawDibOpen();
    EXPECT_TRUE(DrawDibClose(gone));
    EXPECT_FALSE(DrawDibClose(gone));
    EXPECT_FALSE(DrawDibBegin(gone, dc.dc(), 4, 4, ok.Header(), 4, 1, 0));
    EXPECT_FALSE(DrawDibStart(gone, 40));
    EXPECT_EQ(DrawDibRealize(gone, dc.dc(), 0), static_cast<UINT>(gdi::GDI_ERROR));
    DRAWDIBSTATS s;
    EXPECT_FALSE(DrawDibGetStats(gone, &s));
    EXPECT_TRUE(DrawDibStart(dd.h, 40));
    EXPECT_EQ(dd.Stats().rate, 40u);
}
