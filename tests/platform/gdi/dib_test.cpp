#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "gditest.h"
#include "platform/gdi/gdi.h"

using namespace lum::platform;
using namespace lum::platform::gdi;
using lum::platform::gdi::test::MemDC;

namespace {

// A packed DIB: header, colour table (room for 256 entries) and pixels.
struct Dib {
    Dib(int w, int h, int bpp, DWORD compression = BI_RGB, DWORD colors = 0)
        : stride(((w * bpp + 31) / 32) * 4),
          block(sizeof(BITMAPINFOHEADER) + 4 * 256 +
                static_cast<std::size_t>(stride) * (h < 0 ? -h : h) +
                64 /* room for run-length data */) {
        auto& hd = Header();
        hd.biSize = sizeof(BITMAPINFOHEADER);
        hd.biWidth = w;
        hd.biHeight = h;
        hd.biPlanes = 1;
        hd.biBitCount = static_cast<WORD>(bpp);
        hd.biCompression = compression;
        hd.biClrUsed = colors;
    }
    BITMAPINFOHEADER& Header() { return *reinterpret_cast<BITMAPINFOHEADER*>(block.data()); }
    BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(block.data()); }
    RGBQUAD* Colors() {
        return reinterpret_cast<RGBQUAD*>(block.data() + sizeof(BITMAPINFOHEADER));
    }
    std::uint8_t* Bits() { return block.data() + sizeof(BITMAPINFOHEADER) + 4 * 256; }
    // Stored row K (row 0 is the bottom of a bottom-up DIB).
    std::uint8_t* Row(int k) { return Bits() + static_cast<std::size_t>(k) * stride; }
    int stride;
    std::vector<std::uint8_t> block;
};

void Randomize(Dib& d, int rows, int rowBytes, unsigned seed) {
    std::mt19937 rng(seed);
    for (int k = 0; k < rows; ++k)
        for (int i = 0; i < rowBytes; ++i)
            d.Row(k)[i] = static_cast<std::uint8_t>(rng());
}

HBITMAP ToBitmap(Dib& d, HDC dc) {
    return CreateDIBitmap(dc, &d.Header(), CBM_INIT, d.Bits(), d.Info(), DIB_RGB_COLORS);
}

} // namespace

TEST(DibRoundTrip, TwentyFourBitsThroughADisplayBitmapKeepEveryPixel) {
    constexpr int W = 37, H = 23; // rows with padding
    Dib in(W, H, 24);
    Randomize(in, H, 3 * W, 1);
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = ToBitmap(in, screen);
    ASSERT_NE(bmp, nullptr);
    BITMAP bm;
    ASSERT_EQ(GetObject(bmp, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, W);
    EXPECT_EQ(bm.bmHeight, H);
    EXPECT_EQ(bm.bmBitsPixel, 32);

    // Picture row 0 is stored last: check one pixel through a context.
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, bmp);
    const std::uint8_t* top = in.Row(H - 1);
    EXPECT_EQ(GetPixel(mem, 0, 0), RGB(top[2], top[1], top[0]));
    SelectObject(mem, old);
    DeleteDC(mem);

    Dib out(W, H, 24);
    EXPECT_EQ(GetDIBits(screen, bmp, 0, H, out.Bits(), out.Info(), DIB_RGB_COLORS), H);
    EXPECT_EQ(out.Header().biSizeImage, static_cast<DWORD>(out.stride * H));
    for (int k = 0; k < H; ++k)
        ASSERT_EQ(std::memcmp(in.Row(k), out.Row(k), 3 * W), 0) << "row " << k;
    DeleteObject(bmp);
    ReleaseDC(nullptr, screen);
}

TEST(DibRoundTrip, EightBitsKeepTheirIndicesWithTheirPaletteSelected) {
    constexpr int W = 16, H = 16;
    Dib in(W, H, 8, BI_RGB, 256);
    std::vector<std::uint8_t> pal(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(pal.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = 256;
    for (int i = 0; i < 256; ++i) {
        // Distinct colours, not in index order.
        const BYTE r = static_cast<BYTE>(i * 7), g = static_cast<BYTE>(255 - i),
                   b = static_cast<BYTE>(i ^ 0x5A);
        in.Colors()[i] = RGBQUAD{b, g, r, 0};
        lp->palPalEntry[i] = PALETTEENTRY{r, g, b, 0};
    }
    for (int k = 0; k < H; ++k)
        for (int x = 0; x < W; ++x)
            in.Row(k)[x] = static_cast<std::uint8_t>(k * W + x);
    HDC screen = GetDC(nullptr);
    HPALETTE palette = CreatePalette(lp);
    ASSERT_NE(palette, nullptr);
    HPALETTE old = SelectPalette(screen, palette, false);
    EXPECT_EQ(RealizePalette(screen), 0u);
    HBITMAP bmp = ToBitmap(in, screen);
    ASSERT_NE(bmp, nullptr);
    Dib out(W, H, 8, BI_RGB, 256);
    EXPECT_EQ(GetDIBits(screen, bmp, 0, H, out.Bits(), out.Info(), DIB_RGB_COLORS), H);
    EXPECT_EQ(std::memcmp(in.Colors(), out.Colors(), 4 * 256), 0)
        << "the table comes from the palette";
    for (int k = 0; k < H; ++k)
        ASSERT_EQ(std::memcmp(in.Row(k), out.Row(k), W), 0) << "row " << k;
    EXPECT_EQ(SelectPalette(screen, old, false), palette);
    EXPECT_TRUE(DeleteObject(palette));
    DeleteObject(bmp);
    ReleaseDC(nullptr, screen);
}

TEST(DibRoundTrip, GetDibitsWithoutBitsDescribesTheBitmap) {
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 5, 3);
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    EXPECT_EQ(
        GetDIBits(screen, bmp, 0, 3, nullptr, reinterpret_cast<BITMAPINFO*>(&h), DIB_RGB_COLORS),
        3);
    EXPECT_EQ(h.biWidth, 5);
    EXPECT_EQ(h.biHeight, 3);
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biSizeImage, 60u);
    DeleteObject(bmp);
    ReleaseDC(nullptr, screen);
}

TEST(DibDecode, EveryUncompressedLayoutGivesTheSameColours) {
    // One picture row of four colours in each layout the service reads.
    const COLORREF want[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)};
    HDC screen = GetDC(nullptr);
    auto check = [&](Dib& d, const char* what) {
        HBITMAP bmp = ToBitmap(d, screen);
        ASSERT_NE(bmp, nullptr) << what;
        HDC mem = CreateCompatibleDC(screen);
        HGDIOBJ old = SelectObject(mem, bmp);
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(GetPixel(mem, x, 0), want[x]) << what << " x " << x;
        SelectObject(mem, old);
        DeleteDC(mem);
        DeleteObject(bmp);
    };
    {
        Dib d(4, 1, 4, BI_RGB, 4);
        for (int i = 0; i < 4; ++i)
            d.Colors()[i] = RGBQUAD{GetBValue(want[i]), GetGValue(want[i]), GetRValue(want[i]), 0};
        d.Row(0)[0] = 0x01;
        d.Row(0)[1] = 0x23;
        check(d, "4 bits");
    }
    {
        Dib d(4, -1, 32); // top-down
        for (int x = 0; x < 4; ++x) {
            d.Row(0)[4 * x] = GetBValue(want[x]);
            d.Row(0)[4 * x + 1] = GetGValue(want[x]);
            d.Row(0)[4 * x + 2] = GetRValue(want[x]);
        }
        check(d, "32 bits top-down");
    }
    {
        Dib d(4, 1, 16, BI_BITFIELDS);
        const std::uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
        std::memcpy(d.Colors(), masks, sizeof masks);
        const std::uint16_t px[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
        std::memcpy(d.Row(0), px, sizeof px);
        check(d, "16 bits 5-6-5");
    }
    {
        Dib d(4, 1, 16);
        const std::uint16_t px[4] = {0x7C00, 0x03E0, 0x001F, 0x7FFF};
        std::memcpy(d.Row(0), px, sizeof px);
        check(d, "16 bits 5-5-5");
    }
    ReleaseDC(nullptr, screen);
}

TEST(DibDecode, RunLengthDataIsWalkedWithoutLeavingDataOrImage) {
    Dib d(6, 2, 8, BI_RLE8, 3);
    d.Colors()[0] = RGBQUAD{0, 0, 0, 0};
    d.Colors()[1] = RGBQUAD{0, 0, 255, 0};
    d.Colors()[2] = RGBQUAD{255, 0, 0, 0};
    // Bottom row: run of 3 index 1, absolute run 2,1,2 (padded), end of line;
    // top row: delta right 4, run of 9 index 2 (runs past the row), end of bitmap.
    const std::uint8_t rle[] = {3, 1, 0, 3, 2, 1, 2, 0, 0, 0, 0, 2, 4, 0, 9, 2, 0, 1};
    std::memcpy(d.Bits(), rle, sizeof rle);
    d.Header().biSizeImage = sizeof rle;
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = ToBitmap(d, screen);
    ASSERT_NE(bmp, nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, bmp);
    const COLORREF red = RGB(255, 0, 0), blue = RGB(0, 0, 255), black = 0;
    const COLORREF bottom[6] = {red, red, red, blue, red, blue};
    const COLORREF top[6] = {black, black, black, black, blue, blue};
    for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(GetPixel(mem, x, 1), bottom[x]) << x;
        EXPECT_EQ(GetPixel(mem, x, 0), top[x]) << x;
    }
    SelectObject(mem, old);
    DeleteObject(bmp);
    // Data cut short inside an absolute run: what arrived is drawn, nothing more.
    d.Header().biSizeImage = 4;
    bmp = ToBitmap(d, screen);
    ASSERT_NE(bmp, nullptr);
    SelectObject(mem, bmp);
    EXPECT_EQ(GetPixel(mem, 2, 1), red);
    EXPECT_EQ(GetPixel(mem, 3, 1), black);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
}

TEST(DibDecode, HeadersItCannotReadMakeNoBitmap) {
    HDC screen = GetDC(nullptr);
    struct Case {
        const char* what;
        void (*spoil)(BITMAPINFOHEADER&);
    };
    const Case cases[] = {
        {"bit count 7", [](BITMAPINFOHEADER& h) { h.biBitCount = 7; }},
        {"width 0", [](BITMAPINFOHEADER& h) { h.biWidth = 0; }},
        {"negative width", [](BITMAPINFOHEADER& h) { h.biWidth = -4; }},
        {"height 0", [](BITMAPINFOHEADER& h) { h.biHeight = 0; }},
        {"too large", [](BITMAPINFOHEADER& h) { h.biWidth = 40000, h.biHeight = 40000; }},
        {"short header", [](BITMAPINFOHEADER& h) { h.biSize = 20; }},
        {"unknown compression", [](BITMAPINFOHEADER& h) { h.biCompression = 9; }},
        {"RLE8 at 24 bits", [](BITMAPINFOHEADER& h) { h.biCompression = BI_RLE8; }},
        {"RLE8 without size",
         [](BITMAPINFOHEADER& h) {
             h.biBitCount = 8, h.biCompression = BI_RLE8, h.biSizeImage = 0;
         }},
        {"top-down RLE",
         [](BITMAPINFOHEADER& h) {
             h.biBitCount = 8, h.biCompression = BI_RLE8, h.biSizeImage = 2, h.biHeight = -4;
         }},
    };
    for (const Case& c : cases) {
        Dib d(4, 4, 24);
        c.spoil(d.Header());
        EXPECT_EQ(CreateDIBitmap(screen, &d.Header(), CBM_INIT, d.Bits(), d.Info(), DIB_RGB_COLORS),
                  nullptr)
            << c.what;
    }
    Dib d(4, 4, 24);
    EXPECT_EQ(CreateDIBitmap(screen, &d.Header(), CBM_INIT, nullptr, d.Info(), DIB_RGB_COLORS),
              nullptr);
    HBITMAP empty = CreateDIBitmap(screen, &d.Header(), 0, nullptr, nullptr, DIB_RGB_COLORS);
    EXPECT_NE(empty, nullptr) << "without CBM_INIT no pixels are needed";
    DeleteObject(empty);
    ReleaseDC(nullptr, screen);
}

TEST(DibDecode, PaletteIndexTablesReadTheContextPalette) {
    std::vector<std::uint8_t> pal(sizeof(LOGPALETTE) + 3 * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(pal.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = 3;
    lp->palPalEntry[0] = PALETTEENTRY{0, 0, 0, 0};
    lp->palPalEntry[1] = PALETTEENTRY{10, 20, 30, 0};
    lp->palPalEntry[2] = PALETTEENTRY{200, 100, 50, 0};
    HPALETTE palette = CreatePalette(lp);
    MemDC d(2, 1);
    SelectPalette(d.dc(), palette, false);
    Dib dib(2, 1, 8, BI_RGB, 2);
    const WORD indices[2] = {2, 1};
    std::memcpy(dib.Colors(), indices, sizeof indices);
    dib.Row(0)[0] = 0;
    dib.Row(0)[1] = 1;
    SetStretchBltMode(d.dc(), COLORONCOLOR);
    StretchDIBits(d.dc(), 0, 0, 2, 1, 0, 0, 2, 1, dib.Bits(), dib.Info(), DIB_PAL_COLORS, SRCCOPY);
    EXPECT_EQ(d.At(0, 0), RGB(200, 100, 50));
    EXPECT_EQ(d.At(1, 0), RGB(10, 20, 30));
    SelectPalette(d.dc(), static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), false);
    DeleteObject(palette);
}

TEST(DibSection, PixelsWrittenThroughMemoryAndThroughTheContextAreOne) {
    Dib info(3, 2, 8, BI_RGB, 2);
    info.Colors()[0] = RGBQUAD{0, 0, 0, 0};
    info.Colors()[1] = RGBQUAD{0, 255, 0, 0};
    HDC screen = GetDC(nullptr);
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(screen, info.Info(), DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(section, nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, section);
    auto* p = static_cast<std::uint8_t*>(bits);
    p[0] = 1; // stored row 0 is the bottom row
    EXPECT_EQ(GetPixel(mem, 0, 1), RGB(0, 255, 0));
    // Drawing picks the nearest table entry and writes its index.
    SetPixel(mem, 2, 0, RGB(30, 200, 10));
    EXPECT_EQ(p[4 + 2], 1);
    // Changing the table recolours without touching indices.
    const RGBQUAD blue{255, 0, 0, 0};
    EXPECT_EQ(SetDIBColorTable(mem, 1, 1, &blue), 1u);
    EXPECT_EQ(GetPixel(mem, 0, 1), RGB(0, 0, 255));
    DIBSECTION ds;
    ASSERT_EQ(GetObject(section, sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBm.bmBits, bits);
    EXPECT_EQ(ds.dsBmih.biBitCount, 8);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(section);
    ReleaseDC(nullptr, screen);
}

TEST(DibContext, DrawsIntoAPackedDibsOwnPixels) {
    Dib dib(4, 2, 24);
    HDC dc = CreateDIBDC(dib.Info(), dib.Bits());
    ASSERT_NE(dc, nullptr);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    const RECT top{0, 0, 4, 1};
    FillRect(dc, &top, red);
    DeleteObject(red);
    // The top picture row is the last stored row.
    EXPECT_EQ(dib.Row(1)[0], 0);
    EXPECT_EQ(dib.Row(1)[2], 255);
    EXPECT_EQ(dib.Row(0)[2], 0);
    EXPECT_TRUE(DeleteDC(dc));
    dib.Header().biCompression = BI_RLE8;
    EXPECT_EQ(CreateDIBDC(dib.Info(), dib.Bits()), nullptr)
        << "compressed pixels cannot be drawn on";
}
