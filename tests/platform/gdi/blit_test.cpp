#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "gditest.h"
#include "platform/gdi/gdi.h"

using namespace lum::platform;
using namespace lum::platform::gdi;
using lum::platform::gdi::test::MemDC;
using lum::platform::gdi::test::Selected;

namespace {

// A 24-bit bottom-up packed DIB (header followed by pixels).
struct Dib24 {
    Dib24(int w, int h) : width(w), height(h), stride(((w * 24 + 31) / 32) * 4) {
        info.biSize = sizeof info;
        info.biWidth = w;
        info.biHeight = h;
        info.biPlanes = 1;
        info.biBitCount = 24;
        bits.assign(static_cast<std::size_t>(stride) * h, 0);
    }
    // Picture row Y (0 is the top) is stored row height - 1 - y.
    void Set(int x, int y, COLORREF c) {
        std::uint8_t* p = &bits[static_cast<std::size_t>(height - 1 - y) * stride + 3 * x];
        p[0] = GetBValue(c);
        p[1] = GetGValue(c);
        p[2] = GetRValue(c);
    }
    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(&info); }
    BITMAPINFOHEADER info{};
    int width, height, stride;
    std::vector<std::uint8_t> bits;
};

COLORREF Unique(int x, int y) {
    return RGB(static_cast<BYTE>(x & 0xFF), static_cast<BYTE>((x >> 8) | ((y & 0x3F) << 2)),
               static_cast<BYTE>(y >> 1));
}

} // namespace

TEST(BitBlt, RasterOperationsCombineSourceAndDestinationBitwise) {
    const COLORREF src[] = {RGB(0x12, 0x34, 0x56), RGB(0xFF, 0x00, 0xF0), RGB(0, 0, 0),
                            RGB(0xAA, 0x55, 0x0F)};
    const COLORREF dst[] = {RGB(0xF0, 0x0F, 0x81), RGB(0x33, 0xCC, 0x3C), RGB(0xFF, 0xFF, 0xFF),
                            RGB(0x55, 0xAA, 0xF0)};
    struct Case {
        DWORD rop;
        COLORREF (*expect)(COLORREF s, COLORREF d);
    };
    const Case cases[] = {
        {SRCCOPY, [](COLORREF s, COLORREF) { return s; }},
        {SRCINVERT, [](COLORREF s, COLORREF d) { return s ^ d; }},
        {SRCAND, [](COLORREF s, COLORREF d) { return s & d; }},
        {SRCPAINT, [](COLORREF s, COLORREF d) { return s | d; }},
        {NOTSRCCOPY, [](COLORREF s, COLORREF) { return ~s & 0xFFFFFF; }},
        {DSTINVERT, [](COLORREF, COLORREF d) { return ~d & 0xFFFFFF; }},
        {SRCERASE, [](COLORREF s, COLORREF d) { return s & ~d & 0xFFFFFF; }},
        {BLACKNESS, [](COLORREF, COLORREF) { return COLORREF{0}; }},
        {WHITENESS, [](COLORREF, COLORREF) { return COLORREF{0xFFFFFF}; }},
    };
    MemDC s(4, 1);
    for (int x = 0; x < 4; ++x)
        SetPixel(s.dc(), x, 0, src[x]);
    for (const Case& c : cases) {
        MemDC d(4, 1);
        for (int x = 0; x < 4; ++x)
            SetPixel(d.dc(), x, 0, dst[x]);
        ASSERT_TRUE(BitBlt(d.dc(), 0, 0, 4, 1, s.dc(), 0, 0, c.rop));
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(d.At(x, 0), c.expect(src[x], dst[x]))
                << std::hex << "rop " << c.rop << " x " << x;
    }
}

TEST(BitBlt, PatternOperationsUseTheSelectedBrush) {
    MemDC d(2, 1, RGB(0x0F, 0xF0, 0x3C));
    Selected brush(d.dc(), CreateSolidBrush(RGB(0xFF, 0x00, 0x0F)));
    ASSERT_TRUE(PatBlt(d.dc(), 0, 0, 1, 1, PATINVERT));
    EXPECT_EQ(d.At(0, 0), RGB(0xF0, 0xF0, 0x33));
    EXPECT_EQ(d.At(1, 0), RGB(0x0F, 0xF0, 0x3C));
    EXPECT_FALSE(PatBlt(d.dc(), 0, 0, 1, 1, SRCCOPY)) << "a source operation has no source here";
}

TEST(BitBlt, SourceInvertTwiceRestoresEveryPixel) {
    std::mt19937 rng(7);
    MemDC a(64, 48), b(64, 48);
    std::vector<COLORREF> original;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            SetPixel(b.dc(), x, y, rng() & 0xFFFFFF);
            const COLORREF c = rng() & 0xFFFFFF;
            SetPixel(a.dc(), x, y, c);
            original.push_back(c);
        }
    BitBlt(a.dc(), 0, 0, 64, 48, b.dc(), 0, 0, SRCINVERT);
    int changed = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            changed += a.At(x, y) != original[y * 64 + x];
    EXPECT_GT(changed, 64 * 48 - 10);
    BitBlt(a.dc(), 0, 0, 64, 48, b.dc(), 0, 0, SRCINVERT);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(a.At(x, y), original[y * 64 + x]) << x << "," << y;
}

TEST(BitBlt, CopyWithinOneBitmapMayOverlap) {
    MemDC d(8, 1);
    for (int x = 0; x < 8; ++x)
        SetPixel(d.dc(), x, 0, RGB(x * 10, 0, 0));
    BitBlt(d.dc(), 1, 0, 7, 1, d.dc(), 0, 0, SRCCOPY);
    EXPECT_EQ(d.At(0, 0), RGB(0, 0, 0));
    for (int x = 1; x < 8; ++x)
        EXPECT_EQ(d.At(x, 0), RGB((x - 1) * 10, 0, 0)) << x;
}

TEST(BitBlt, PixelsWithoutSourceAndOutsideTheClipStayUnchanged) {
    MemDC src(4, 4, RGB(255, 0, 0));
    MemDC d(8, 8, RGB(0, 0, 255));
    // The source rectangle runs 2 pixels past the source's right and bottom.
    BitBlt(d.dc(), 0, 0, 6, 6, src.dc(), 0, 0, SRCCOPY);
    EXPECT_EQ(d.Count(RGB(255, 0, 0)), 16);
    EXPECT_EQ(d.At(4, 0), RGB(0, 0, 255));
    d.Fill(RGB(0, 0, 255));
    IntersectClipRect(d.dc(), 1, 1, 3, 3);
    BitBlt(d.dc(), 0, 0, 4, 4, src.dc(), 0, 0, SRCCOPY);
    EXPECT_EQ(d.Count(RGB(255, 0, 0)), 4);
    EXPECT_EQ(d.Count(RGB(255, 0, 0), RECT{1, 1, 3, 3}), 4);
}

TEST(BitBlt, MonochromeBitmapsConvertThroughBackgroundAndTextColours) {
    // The transparent-drawing recipe: a mask from the transparent colour,
    // then AND and OR it through.
    const COLORREF key = RGB(255, 0, 255);
    MemDC glyph(3, 1);
    SetPixel(glyph.dc(), 0, 0, key);
    SetPixel(glyph.dc(), 1, 0, RGB(10, 20, 30));
    SetPixel(glyph.dc(), 2, 0, key);

    HDC maskDC = CreateCompatibleDC(glyph.dc());
    HBITMAP mask = CreateBitmap(3, 1, 1, 1, nullptr);
    HGDIOBJ old = SelectObject(maskDC, mask);
    EXPECT_EQ(GetDeviceCaps(maskDC, BITSPIXEL), 1);
    SetBkColor(glyph.dc(), key);
    BitBlt(maskDC, 0, 0, 3, 1, glyph.dc(), 0, 0, SRCCOPY);
    EXPECT_EQ(GetPixel(maskDC, 0, 0), RGB(255, 255, 255)) << "the key colour becomes white";
    EXPECT_EQ(GetPixel(maskDC, 1, 0), RGB(0, 0, 0));

    MemDC back(3, 1, RGB(0, 200, 0));
    SetTextColor(back.dc(), RGB(0, 0, 0));
    SetBkColor(back.dc(), RGB(255, 255, 255));
    BitBlt(back.dc(), 0, 0, 3, 1, maskDC, 0, 0, SRCAND);
    EXPECT_EQ(back.At(0, 0), RGB(0, 200, 0));
    EXPECT_EQ(back.At(1, 0), RGB(0, 0, 0));
    // Blank the glyph's key pixels through the mask seen inverted, then OR it in.
    SetTextColor(glyph.dc(), RGB(255, 255, 255));
    SetBkColor(glyph.dc(), RGB(0, 0, 0));
    BitBlt(glyph.dc(), 0, 0, 3, 1, maskDC, 0, 0, SRCAND);
    EXPECT_EQ(glyph.At(0, 0), RGB(0, 0, 0));
    BitBlt(back.dc(), 0, 0, 3, 1, glyph.dc(), 0, 0, SRCPAINT);
    EXPECT_EQ(back.At(0, 0), RGB(0, 200, 0));
    EXPECT_EQ(back.At(1, 0), RGB(10, 20, 30));
    EXPECT_EQ(back.At(2, 0), RGB(0, 200, 0));

    // A mono source paints black in the text colour, white in the background colour.
    MemDC colour(3, 1);
    SetTextColor(colour.dc(), RGB(200, 0, 0));
    SetBkColor(colour.dc(), RGB(0, 0, 90));
    BitBlt(colour.dc(), 0, 0, 3, 1, maskDC, 0, 0, SRCCOPY);
    EXPECT_EQ(colour.At(0, 0), RGB(0, 0, 90));
    EXPECT_EQ(colour.At(1, 0), RGB(200, 0, 0));

    SelectObject(maskDC, old);
    DeleteObject(mask);
    DeleteDC(maskDC);
}

TEST(StretchBlt, ColourOnColourSamplesNearestAndKeepsPixelsUnchanged) {
    constexpr int W = 640, H = 480;
    Dib24 frame(W, H);
    std::set<COLORREF> colours;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            frame.Set(x, y, Unique(x, y));
            colours.insert(Unique(x, y));
        }
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = CreateDIBitmap(screen, &frame.info, CBM_INIT, frame.bits.data(), frame.Info(),
                                 DIB_RGB_COLORS);
    ASSERT_NE(bmp, nullptr);
    HDC src = CreateCompatibleDC(screen);
    HGDIOBJ oldSrc = SelectObject(src, bmp);

    // Onto a 24-bit section, as the thumbnail is, and onto a display bitmap.
    BITMAPINFOHEADER th{sizeof(BITMAPINFOHEADER), 32, 32, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP thumb = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&th), DIB_RGB_COLORS,
                                     &bits, nullptr, 0);
    ASSERT_NE(thumb, nullptr);
    ASSERT_NE(bits, nullptr);
    MemDC device(32, 32);
    HDC dst = CreateCompatibleDC(screen);
    HGDIOBJ oldDst = SelectObject(dst, thumb);
    for (HDC target : {dst, device.dc()}) {
        EXPECT_EQ(SetStretchBltMode(target, COLORONCOLOR), BLACKONWHITE)
            << "the platform's default";
        ASSERT_TRUE(StretchBlt(target, 0, 0, 32, 32, src, 0, 0, W, H, SRCCOPY));
        for (int j = 0; j < 32; ++j)
            for (int i = 0; i < 32; ++i) {
                const COLORREF got = GetPixel(target, i, j);
                ASSERT_EQ(got, Unique(i * W / 32, j * H / 32)) << i << "," << j;
                ASSERT_TRUE(colours.count(got));
            }
    }
    // A ratio that is not whole: 100 by 70 onto 32 by 32 still takes column
    // floor(x * 100 / 32) and row floor(y * 70 / 32).
    ASSERT_TRUE(StretchBlt(device.dc(), 0, 0, 32, 32, src, 0, 0, 100, 70, SRCCOPY));
    for (int j = 0; j < 32; ++j)
        for (int i = 0; i < 32; ++i)
            ASSERT_EQ(device.At(i, j), Unique(i * 100 / 32, j * 70 / 32)) << i << "," << j;
    ASSERT_TRUE(StretchBlt(dst, 0, 0, 32, 32, src, 0, 0, W, H, SRCCOPY));
    // The section's memory holds the same pixels, blue first, bottom row first.
    const auto* row0 = static_cast<const std::uint8_t*>(bits);
    const COLORREF bottomLeft = Unique(0, 31 * H / 32);
    EXPECT_EQ(row0[0], GetBValue(bottomLeft));
    EXPECT_EQ(row0[1], GetGValue(bottomLeft));
    EXPECT_EQ(row0[2], GetRValue(bottomLeft));

    SelectObject(dst, oldDst);
    SelectObject(src, oldSrc);
    DeleteObject(thumb);
    DeleteObject(bmp);
    DeleteDC(dst);
    DeleteDC(src);
    ReleaseDC(nullptr, screen);
}

TEST(StretchBlt, ShrinkingModesCombineTheDroppedPixels) {
    MemDC src(2, 1);
    SetPixel(src.dc(), 0, 0, RGB(0xF0, 0x10, 0x81));
    SetPixel(src.dc(), 1, 0, RGB(0x3C, 0x20, 0x03));
    struct Case {
        int mode;
        COLORREF expect;
    };
    const Case cases[] = {
        {COLORONCOLOR, RGB(0xF0, 0x10, 0x81)},
        {BLACKONWHITE, RGB(0x30, 0x00, 0x01)},
        {WHITEONBLACK, RGB(0xFC, 0x30, 0x83)},
        {HALFTONE, RGB(0x96, 0x18, 0x42)},
    };
    for (const Case& c : cases) {
        MemDC d(1, 1);
        SetStretchBltMode(d.dc(), c.mode);
        StretchBlt(d.dc(), 0, 0, 1, 1, src.dc(), 0, 0, 2, 1, SRCCOPY);
        EXPECT_EQ(d.At(0, 0), c.expect) << "mode " << c.mode;
    }
}

TEST(StretchBlt, NegativeExtentsMirrorAndEnlargingRepeatsPixels) {
    MemDC src(4, 1);
    for (int x = 0; x < 4; ++x)
        SetPixel(src.dc(), x, 0, RGB(x + 1, 0, 0));
    MemDC d(8, 1);
    SetStretchBltMode(d.dc(), COLORONCOLOR);
    StretchBlt(d.dc(), 3, 0, -4, 1, src.dc(), 0, 0, 4, 1, SRCCOPY);
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(d.At(x, 0), RGB(4 - x, 0, 0)) << x;
    EXPECT_EQ(d.At(4, 0), RGB(255, 255, 255));
    StretchBlt(d.dc(), 0, 0, 8, 1, src.dc(), 0, 0, 4, 1, SRCCOPY);
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(d.At(x, 0), RGB(x / 2 + 1, 0, 0)) << x;
}

TEST(StretchDIBits, RowsOfABottomUpDibCountFromItsBottom) {
    Dib24 dib(2, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 2; ++x)
            dib.Set(x, y, RGB(0, 0, 10 * (y + 1)));
    MemDC d(2, 4);
    SetStretchBltMode(d.dc(), COLORONCOLOR);
    EXPECT_EQ(StretchDIBits(d.dc(), 0, 0, 2, 4, 0, 0, 2, 4, dib.bits.data(), dib.Info(),
                            DIB_RGB_COLORS, SRCCOPY),
              4);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(d.At(1, y), RGB(0, 0, 10 * (y + 1))) << y;
    // Source row 0 is the picture's bottom row.
    d.Fill(RGB(255, 255, 255));
    StretchDIBits(d.dc(), 0, 0, 2, 1, 0, 0, 2, 1, dib.bits.data(), dib.Info(), DIB_RGB_COLORS,
                  SRCCOPY);
    EXPECT_EQ(d.At(0, 0), RGB(0, 0, 40));
    EXPECT_EQ(d.At(0, 1), RGB(255, 255, 255));
}

TEST(StretchDIBits, RefusesWhatItCannotRead) {
    MemDC d(2, 2);
    Dib24 dib(2, 2);
    dib.info.biBitCount = 7;
    EXPECT_EQ(StretchDIBits(d.dc(), 0, 0, 2, 2, 0, 0, 2, 2, dib.bits.data(), dib.Info(),
                            DIB_RGB_COLORS, SRCCOPY),
              0);
    dib.info.biBitCount = 24;
    dib.info.biWidth = 100000;
    EXPECT_EQ(StretchDIBits(d.dc(), 0, 0, 2, 2, 0, 0, 2, 2, dib.bits.data(), dib.Info(),
                            DIB_RGB_COLORS, SRCCOPY),
              0);
    EXPECT_EQ(d.Count(RGB(255, 255, 255)), 4);
}

// The unstretched copy of 24- and 32-bit pictures onto a 32-bit surface
// (video frames on a window) puts every pixel where a stretch of the same
// picture by one and back would, at an offset, with a source rectangle
// inside the picture, clipped, and leaves what the picture does not reach.
TEST(StretchDIBits, UnstretchedTrueColourCopiesPixelForPixel) {
    Dib24 dib(37, 11);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 37; ++x)
            dib.Set(x, y, Unique(x, y));
    std::vector<std::uint8_t> bits32(37 * 11 * 4);
    BITMAPINFOHEADER info32 = dib.info;
    info32.biBitCount = 32;
    info32.biHeight = -11; // top-down
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 37; ++x) {
            const COLORREF c = Unique(x, y);
            std::uint8_t* p = &bits32[static_cast<std::size_t>(y * 37 + x) * 4];
            p[0] = GetBValue(c);
            p[1] = GetGValue(c);
            p[2] = GetRValue(c);
            p[3] = 0x77; // ignored
        }
    struct Source {
        const void* bits;
        const BITMAPINFO* info;
    };
    for (const Source& src :
         {Source{dib.bits.data(), dib.Info()},
          Source{bits32.data(), reinterpret_cast<const BITMAPINFO*>(&info32)}}) {
        MemDC dc(40, 20, RGB(1, 1, 1));
        IntersectClipRect(dc.dc(), 0, 0, 40, 12);
        // Picture columns 5..34 and rows 2..9 (from the top) at (8, 6):
        // rows below 11 of the destination are clipped.
        const int srcYFromBottom = src.info->bmiHeader.biHeight > 0 ? 11 - 2 - 8 : 2;
        ASSERT_EQ(StretchDIBits(dc.dc(), 8, 6, 30, 8, 5, srcYFromBottom, 30, 8, src.bits, src.info,
                                DIB_RGB_COLORS, SRCCOPY),
                  8);
        SelectClipRgn(dc.dc(), nullptr);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 40; ++x) {
                const bool inside = x >= 8 && x < 38 && y >= 6 && y < 12;
                const COLORREF want = inside ? Unique(x - 8 + 5, y - 6 + 2) : RGB(1, 1, 1);
                ASSERT_EQ(dc.At(x, y), want) << x << "," << y;
            }
    }
}
