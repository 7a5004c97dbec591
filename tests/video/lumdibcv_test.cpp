// The DIB canvas: row sizes and pixel addresses, the palette it builds
// (statics, background colours as far as the picture has them, the
// caller's palette, animated entries), colour animation that changes
// colours and not indices, copies to a context, the background laid under
// the drawing, size changes during a pass, and passes on several threads.
#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <set>
#include <thread>

#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"
#include "support/raised.h"
#include "video/lumdibcv.h"

using namespace lum;
namespace gdi = lum::platform::gdi;
using lum::test::Raised;

namespace {

const platform::RGBQUAD* Table(const TLumDIBCanvas& c) {
    return static_cast<const platform::RGBQUAD*>(DIB_Colors(c.GetHeader()));
}

platform::PALETTEENTRY Entry(const TLumDIBCanvas& c, int i) {
    platform::PALETTEENTRY e{};
    EXPECT_EQ(gdi::GetPaletteEntries(c.GetPalette(), static_cast<platform::UINT>(i), 1, &e), 1u);
    return e;
}

// What the canvas shows when copied to an RGB32 image.
QImage Shown(TLumDIBCanvas& c) {
    QImage image(c.GetWidth(), c.GetHeight(), QImage::Format_RGB32);
    image.fill(Qt::white);
    HDC dc = gdi::CreateImageDC(&image);
    c.DIB_BitBlt(dc, TRect{0, 0, c.GetWidth(), c.GetHeight()}, 0, 0);
    gdi::DeleteDC(dc);
    return image;
}

} // namespace

TEST(TLumDIBCanvas, RowSizesAndPixelAddresses) {
    TLumDIBCanvas c;
    EXPECT_EQ(c.GetBitsPerPixel(), 8);
    EXPECT_EQ(c.GetWidth(), 1);
    EXPECT_TRUE(c.GetStretchBackGround());
    c.SetBounds(0, 0, 10, 10);
    c.CheckDIB();
    EXPECT_EQ(DIB_WidthBytes(c.GetHeader()), 12u);
    std::uint8_t* bits = c.GetBits();
    // Pixel (0, 0) lies in the last stored row.
    EXPECT_EQ(c.DIB_GetPixelAddress(bits, 0, 0), bits + 9 * 12);
    EXPECT_EQ(c.DIB_GetPixelAddress(bits, 9, 9), bits + 9);
    {
        TLumDIBPass pass(c);
        EXPECT_EQ(DIB_DrawState().biScanWidth, 12);
        DIB_SETPIXEL(0, 0, 7);
        DIB_SETPIXEL(3, 9, 8);
    }
    EXPECT_EQ(bits[9 * 12], 7);
    EXPECT_EQ(bits[3], 8);
    // Outside the picture on any side, negative coordinates included.
    for (auto [x, y] : {std::pair{10, 0}, {0, 10}, {-1, 0}, {0, -1}, {-5, -5}})
        EXPECT_EQ(Raised([&, x = x, y = y] { c.DIB_GetPixelAddress(bits, x, y); }),
                  "Attempt to get out of range pixel address");

    c.SetBitsPerPixel(24);
    EXPECT_EQ(DIB_WidthBytes(c.GetHeader()), 32u);
    EXPECT_EQ(c.DIB_GetPixelAddress(c.GetBits(), 2, 9), c.GetBits() + 6);
    EXPECT_EQ(Raised([&] { c.SetBitsPerPixel(16); }), "Bitlength not supported yet");
    EXPECT_EQ(c.GetBitsPerPixel(), 24);
}

TEST(TLumDIBCanvas, ThePaletteItBuildsAndItsAnimatedEntries) {
    TLumDIBCanvas c;
    c.SetBounds(0, 0, 8, 4);
    c.CheckDIB();
    // Statics at 0..9 and 246..255 and no collapse flag outside 10..245.
    EXPECT_EQ(Table(c)[0].rgbReserved, 0);
    EXPECT_EQ(Table(c)[10].rgbReserved, 4);
    EXPECT_EQ(Table(c)[245].rgbReserved, 4);
    EXPECT_EQ(Table(c)[246].rgbReserved, 0);
    EXPECT_EQ(Table(c)[255].rgbRed, 255);
    EXPECT_EQ(c.GetAnimColorIndex(0), 256);

    EXPECT_EQ(Raised([&] { c.SetAnimCount(237); }), "Invalid count of animated colors");
    EXPECT_EQ(Raised([&] { c.SetAnimCount(-1); }), "Invalid count of animated colors");
    c.SetAnimCount(20);
    EXPECT_EQ(c.GetAnimCount(), 20);
    EXPECT_EQ(c.GetAnimColorIndex(0), 227);
    EXPECT_EQ(c.GetAnimColorIndex(19), 246);
    EXPECT_EQ(Raised([&] { c.GetAnimColorValue(20); }), "Invalidate animated color index");
    EXPECT_EQ(Raised([&] { c.SetAnimColorValue(-1, 0); }), "Invalidate animated color index");
    EXPECT_EQ(Table(c)[226].rgbReserved, 4);
    EXPECT_EQ(Table(c)[227].rgbReserved, 0);
    // Animated entries are reserved and their colours found nowhere else.
    std::set<COLORREF> others, animated;
    for (int i = 0; i < 256; ++i) {
        const platform::PALETTEENTRY e = Entry(c, i);
        const COLORREF rgb = e.peRed | (e.peGreen << 8) | (e.peBlue << 16);
        if (i >= 227 && i <= 246) {
            EXPECT_EQ(e.peFlags, gdi::PC_RESERVED) << i;
            animated.insert(rgb);
        } else {
            others.insert(rgb);
        }
    }
    EXPECT_EQ(animated.size(), 20u);
    for (COLORREF a : animated)
        EXPECT_EQ(others.count(a), 0u);
    EXPECT_EQ(c.GetAnimColor(3), 0x01000000u | 230);
}

TEST(TLumDIBCanvas, AnimationChangesColoursAndNotIndices) {
    TLumDIBCanvas c;
    c.SetBounds(0, 0, 6, 2);
    c.SetAnimCount(2);
    const int index = c.GetAnimColorIndex(1);
    {
        TLumDIBPass pass(c);
        c.DIB_SetTColor(static_cast<TColor>(c.GetAnimColor(1)));
        DIB_FILLRECT(TRect{0, 0, 3, 2});
    }
    EXPECT_EQ(c.GetBits()[0], index);
    c.SetAnimColorValue(1, gdi::RGB(10, 200, 30));
    EXPECT_EQ(c.GetAnimColorValue(1), gdi::RGB(10, 200, 30));
    EXPECT_EQ(c.GetBits()[0], index);
    EXPECT_EQ(Shown(c).pixel(1, 1) & 0xFFFFFF, qRgb(10, 200, 30) & 0xFFFFFF);
    EXPECT_EQ(Shown(c).pixel(4, 1) & 0xFFFFFF, 0u); // black, untouched

    // Inside a bracket nothing changes until its outermost end.
    c.BeginAnimate();
    c.BeginAnimate();
    c.SetAnimColorValue(1, gdi::RGB(255, 0, 0));
    c.SetAnimColorValue(0, gdi::RGB(0, 0, 255));
    EXPECT_EQ(Shown(c).pixel(0, 0) & 0xFFFFFF, qRgb(10, 200, 30) & 0xFFFFFF);
    c.EndAnimate();
    EXPECT_EQ(c.GetAnimColorValue(1), gdi::RGB(10, 200, 30));
    c.EndAnimate();
    EXPECT_EQ(c.GetAnimColorValue(1), gdi::RGB(255, 0, 0));
    EXPECT_EQ(c.GetAnimColorValue(0), gdi::RGB(0, 0, 255));
    EXPECT_EQ(Shown(c).pixel(0, 0) & 0xFFFFFF, qRgb(255, 0, 0) & 0xFFFFFF);
    EXPECT_EQ(c.GetBits()[0], index);
    EXPECT_EQ(Table(c)[index].rgbRed, 255);
}

TEST(TLumDIBCanvas, BackgroundColoursOnlyAsFarAsThePictureHasThem) {
    // A 16-colour picture gives entries 10 to 15; those behind stay black.
    TBitmap sixteen;
    sixteen.SetPixelFormat(gdi::pf4bit);
    sixteen.SetSize(4, 4);
    PBitmapInfoHeader own = DIB_BitmapToDIB(sixteen.GetHandle(), nullptr, 4, 1);
    ASSERT_NE(own, nullptr);
    const auto* colors = static_cast<const platform::RGBQUAD*>(DIB_Colors(own));
    TLumDIBCanvas c;
    c.SetBounds(0, 0, 4, 4);
    c.SetBackGroundBitmap(&sixteen);
    for (int i = 10; i < 16; ++i) {
        EXPECT_EQ(Table(c)[i].rgbRed, colors[i].rgbRed) << i;
        EXPECT_EQ(Table(c)[i].rgbGreen, colors[i].rgbGreen) << i;
        EXPECT_EQ(Table(c)[i].rgbBlue, colors[i].rgbBlue) << i;
    }
    DIB_Free(own);
    for (int i = 16; i < 246; ++i)
        ASSERT_EQ(Table(c)[i].rgbRed | Table(c)[i].rgbGreen | Table(c)[i].rgbBlue, 0) << i;

    // A picture of more than 8 bits has no table: nothing is copied.
    TBitmap deep;
    deep.SetPixelFormat(gdi::pf24bit);
    deep.SetSize(2, 2);
    deep.GetCanvas().SetPixels(0, 0, clRed);
    c.SetBackGroundBitmap(&deep);
    for (int i = 10; i < 246; ++i)
        ASSERT_EQ(Table(c)[i].rgbRed | Table(c)[i].rgbGreen | Table(c)[i].rgbBlue, 0) << i;

    // The caller's palette fills 10 to 246 when there is no background.
    c.SetBackGroundBitmap(nullptr);
    std::vector<std::uint8_t> block(4 + 4 * 20);
    auto* pal = reinterpret_cast<PLogPalette>(block.data());
    pal->palVersion = 0x300;
    pal->palNumEntries = 20;
    for (int i = 0; i < 20; ++i)
        pal->palPalEntry[i] = platform::PALETTEENTRY{static_cast<std::uint8_t>(i * 10), 1, 2, 0};
    EXPECT_TRUE(c.SetLogPalette(pal));
    EXPECT_EQ(Entry(c, 15).peRed, 150);
    EXPECT_EQ(Entry(c, 15).peFlags, gdi::PC_NOCOLLAPSE);
    EXPECT_EQ(Entry(c, 25).peRed, 0);
    pal->palVersion = 0x200;
    EXPECT_FALSE(c.SetLogPalette(pal));
    pal->palVersion = 0x300;
    pal->palNumEntries = 257;
    EXPECT_FALSE(c.SetLogPalette(pal));
    EXPECT_EQ(Entry(c, 15).peRed, 150);
}

TEST(TLumDIBCanvas, TheBackgroundIsStretchedOrTiled) {
    TBitmap picture;
    picture.SetPixelFormat(gdi::pf24bit);
    picture.SetSize(2, 1);
    picture.GetCanvas().SetPixels(0, 0, clRed);
    picture.GetCanvas().SetPixels(1, 0, clBlue);
    TLumDIBCanvas c;
    c.SetBitsPerPixel(24);
    c.SetBounds(0, 0, 4, 2);
    c.SetBackGroundBitmap(&picture);
    auto at = [&](int x, int y) {
        const std::uint8_t* p = c.DIB_GetPixelAddress(c.GetBackGroundBits(), x, y);
        return gdi::RGB(p[2], p[1], p[0]);
    };
    ASSERT_NE(c.GetBackGroundBits(), nullptr);
    EXPECT_EQ(at(0, 0), gdi::RGB(255, 0, 0));
    EXPECT_EQ(at(1, 1), gdi::RGB(255, 0, 0));
    EXPECT_EQ(at(2, 0), gdi::RGB(0, 0, 255));
    c.SetStretchBackGround(false);
    EXPECT_EQ(at(1, 0), gdi::RGB(0, 0, 255));
    EXPECT_EQ(at(2, 1), gdi::RGB(255, 0, 0));
    // The drawing section starts black, whatever lies under it.
    EXPECT_EQ(c.GetBits()[0], 0);
}

TEST(TLumDIBCanvas, CopiesToAContext) {
    TLumDIBCanvas c;
    c.SetBitsPerPixel(24);
    c.SetBounds(0, 0, 4, 4);
    {
        TLumDIBPass pass(c);
        c.DIB_SetTColor(clWhite);
        DIB_CLEAR();
        c.DIB_SetColorRef(gdi::RGB(0, 128, 255));
        DIB_FILLRECT(TRect{0, 0, 2, 2});
    }
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::black);
    HDC dc = gdi::CreateImageDC(&image);
    c.DIB_StretchBlt(dc, TRect{0, 0, 8, 8}, TRect{0, 0, 4, 4});
    EXPECT_EQ(image.pixel(3, 3) & 0xFFFFFF, qRgb(0, 128, 255) & 0xFFFFFF);
    EXPECT_EQ(image.pixel(4, 4) & 0xFFFFFF, 0xFFFFFFu);
    image.fill(Qt::black);
    // Dest holds left, top, width and height.
    c.DIB_BitBlt(dc, TRect{5, 5, 2, 2}, 1, 1);
    EXPECT_EQ(image.pixel(5, 5) & 0xFFFFFF, qRgb(0, 128, 255) & 0xFFFFFF);
    EXPECT_EQ(image.pixel(6, 6) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(image.pixel(7, 7) & 0xFFFFFF, 0u);
    c.DIB_BitBlt(nullptr, TRect{0, 0, 4, 4}, 0, 0);
    gdi::DeleteDC(dc);
    EXPECT_EQ(c.DIB_ColorToIndex(clRed), gdi::RGB(255, 0, 0));
}

TEST(TLumDIBCanvas, ASizeChangeDuringAPassKeepsItsSurface) {
    TLumDIBCanvas c;
    c.SetBounds(0, 0, 16, 16);
    int changing = 0, changed = 0;
    c.OnChanging = [&](platform::gdi::TCanvas*) { ++changing; };
    c.OnChange = [&](platform::gdi::TCanvas*) { ++changed; };
    c.DIB_InitDrawing();
    EXPECT_EQ(changing, 1);
    std::uint8_t* surface = DIB_DrawState().biSurface;
    c.SetBounds(0, 0, 300, 200);
    // Using the canvas's handle now must not rebuild under the pass.
    c.GetBrush().SetColor(clWhite);
    c.FillRect(TRect{0, 0, 4, 4});
    EXPECT_EQ(c.GetBits(), surface);
    EXPECT_EQ(DIB_DrawState().biSurface, surface);
    EXPECT_EQ(Raised([&] { c.RecreateDIB(); }),
              "Attempt to create new DIB while initialized for drawing");
    EXPECT_EQ(Raised([&] { c.SetBitsPerPixel(24); }),
              "Attempt to create new DIB while initialized for drawing");
    EXPECT_EQ(Raised([&] { c.SetAnimCount(3); }),
              "Attempt to create new DIB while initialized for drawing");
    c.DIB_SetTColor(clWhite);
    DIB_FILLRECT(TRect{0, 0, 300, 200}); // clipped to the 16 x 16 in use
    // Addresses are those of the bitmap in use, not of the size to come.
    EXPECT_EQ(c.DIB_GetPixelAddress(surface, 15, 0), surface + 15 * 16 + 15);
    EXPECT_EQ(Raised([&] { c.DIB_GetPixelAddress(surface, 16, 0); }),
              "Attempt to get out of range pixel address");
    const int before = changed;
    c.DIB_DoneDrawing();
    EXPECT_EQ(changed, before + 1);
    EXPECT_EQ(c.GetBitsPerPixel(), 8);
    // The next pass has the new size.
    {
        TLumDIBPass pass(c);
        EXPECT_EQ(DIB_DrawState().biWidth, 300);
        EXPECT_EQ(DIB_DrawState().biHeight, 200);
        EXPECT_EQ(c.DIB_GetClipRect().right, 300);
    }
}

TEST(TLumDIBCanvas, PassesNestAndWaitForEachOther) {
    TLumDIBCanvas a, b;
    a.SetBounds(0, 0, 8, 8);
    b.SetBounds(0, 0, 4, 4);
    {
        TLumDIBPass outer(a);
        DIB_SETCOLOR(1);
        {
            TLumDIBPass inner(b);
            EXPECT_EQ(DIB_DrawState().biWidth, 4);
            DIB_SETCOLOR(2);
            DIB_CLEAR();
        }
        // The outer pass's state is back.
        EXPECT_EQ(DIB_DrawState().biWidth, 8);
        DIB_CLEAR();
    }
    EXPECT_EQ(a.GetBits()[0], 1);
    EXPECT_EQ(b.GetBits()[0], 2);

    // Threads each fill their own canvas, one row at a time, checking
    // that the state stays theirs until their pass ends.
    std::atomic<int> wrong{0};
    auto fill = [&](TLumDIBCanvas* c, std::uint32_t value) {
        for (int round = 0; round < 50; ++round) {
            TLumDIBPass pass(*c);
            DIB_SETCOLOR(value);
            for (int y = 0; y < c->GetHeight(); ++y) {
                DIB_HLINE(0, c->GetWidth(), y);
                if (DIB_DrawState().biWidth != c->GetWidth() || DIB_GETPIXEL(0, y) != value)
                    ++wrong;
            }
        }
    };
    std::thread t1(fill, &a, 5u), t2(fill, &b, 6u);
    t1.join();
    t2.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(a.GetBits()[63], 5);
    EXPECT_EQ(b.GetBits()[15], 6);
}
