#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gditest.h"
#include "platform/base/exception.h"
#include "platform/gdi/graphics.h"
#include "support/testutil.h"

using namespace lum;
using namespace lum::platform;
using namespace lum::platform::gdi;

namespace {

COLORREF Pattern(int x, int y) {
    return RGB(x * 3, y * 5, (x + y) & 0xFF);
}

// A display bitmap of the given size holding Pattern, made the way every
// decoded frame is: from a 24-bit bottom-up packed DIB.
HBITMAP FrameBitmap(int w, int h) {
    const int stride = ((w * 24 + 31) / 32) * 4;
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(stride) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &bits[static_cast<std::size_t>(h - 1 - y) * stride + 3 * x];
            const COLORREF c = Pattern(x, y);
            p[0] = GetBValue(c);
            p[1] = GetGValue(c);
            p[2] = GetRValue(c);
        }
    BITMAPINFOHEADER hd{sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr);
    HBITMAP b = CreateDIBitmap(screen, &hd, CBM_INIT, bits.data(),
                               reinterpret_cast<BITMAPINFO*>(&hd), DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return b;
}

COLORREF Bgr(const std::uint8_t* p) {
    return RGB(p[2], p[1], p[0]);
}

template <class T>
T ReadAt(const std::vector<std::uint8_t>& data, std::size_t at) {
    T v;
    std::memcpy(&v, data.data() + at, sizeof v);
    return v;
}

// Changes the information header of a BMP file image.
template <class F>
void Patch(std::vector<std::uint8_t>& file, F change) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, file.data() + 14, sizeof h);
    change(h);
    std::memcpy(file.data() + 14, &h, sizeof h);
}

} // namespace

TEST(TBitmap, ThumbnailRowsHoldTheStretchedFrameAsBlueGreenRed) {
    TBitmap thumb;
    thumb.SetPixelFormat(pf24bit);
    thumb.SetWidth(32);
    EXPECT_TRUE(thumb.Empty()) << "no pixels while the height is 0";
    thumb.SetHeight(32);
    ASSERT_FALSE(thumb.Empty());
    EXPECT_EQ(thumb.RowBytes(), 96u);

    TBitmap frame;
    HBITMAP first = FrameBitmap(64, 48);
    frame.SetHandle(first);
    EXPECT_EQ(frame.GetPixelFormat(), pfDevice);
    EXPECT_EQ(frame.GetWidth(), 64);
    thumb.GetCanvas().StretchDraw(TRect{0, 0, 32, 32}, frame);
    for (int y = 0; y < 32; ++y) {
        const std::uint8_t* row = thumb.ScanLine(y);
        ASSERT_NE(row, nullptr);
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(Bgr(row + 3 * x), Pattern(x * 2, y * 48 / 32)) << x << "," << y;
    }
    EXPECT_EQ(thumb.ScanLine(32), nullptr);

    // Taking the next frame deletes the previous handle.
    frame.SetHandle(FrameBitmap(8, 8));
    EXPECT_EQ(GetObjectType(first), 0u);
    EXPECT_EQ(frame.GetWidth(), 8);
}

TEST(TBitmap, SavesAStandardTwentyFourBitBmp) {
    TBitmap frame;
    frame.SetHandle(FrameBitmap(33, 5)); // rows of 99 bytes padded to 100
    frame.SetPixelFormat(pf24bit);
    ASSERT_EQ(frame.GetPixelFormat(), pf24bit);
    const std::vector<std::uint8_t> bmp = frame.SaveToMemory();
    ASSERT_EQ(bmp.size(), 54u + 100 * 5);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(ReadAt<DWORD>(bmp, 2), bmp.size());
    EXPECT_EQ(ReadAt<DWORD>(bmp, 6), 0u);
    EXPECT_EQ(ReadAt<DWORD>(bmp, 10), 54u);
    const auto h = ReadAt<BITMAPINFOHEADER>(bmp, 14);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 33);
    EXPECT_EQ(h.biHeight, 5);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, BI_RGB);
    EXPECT_EQ(h.biClrUsed, 0u);
    for (int k = 0; k < 5; ++k) {
        const std::uint8_t* row = bmp.data() + 54 + 100 * k;
        const int y = 4 - k; // bottom row first
        for (int x = 0; x < 33; ++x)
            ASSERT_EQ(Bgr(row + 3 * x), Pattern(x, y)) << x << "," << y;
        EXPECT_EQ(row[99], 0) << "padding";
    }

    lum::test::TempDir dir;
    const std::string path = dir.File("10000.BMP");
    lum::test::WriteFile(path, {1, 2, 3});
    frame.SaveToFile(path);
    EXPECT_EQ(lum::test::ReadFile(path), bmp) << "an existing file is replaced";
    EXPECT_THROW(frame.SaveToFile(dir.File("missing/10060.BMP")), EStreamError);
    TBitmap empty;
    EXPECT_THROW(empty.SaveToMemory(), EStreamError);

    TBitmap back;
    back.LoadFromFile(path);
    EXPECT_EQ(back.GetPixelFormat(), pf24bit);
    EXPECT_EQ(back.SaveToMemory(), bmp);
}

TEST(TBitmap, ReadsIndexedAndRunLengthFilesAndRefusesBrokenOnes) {
    // An 8-bit BMP, 2 by 2, with a three-colour table, RLE8-compressed.
    std::vector<std::uint8_t> file(14 + 40 + 12);
    const std::uint8_t rle[] = {2, 1, 0, 0, 1, 2, 1, 0, 0, 1};
    BITMAPFILEHEADER fh{0x4D42, static_cast<DWORD>(file.size() + sizeof rle), 0, 0,
                        static_cast<DWORD>(file.size())};
    BITMAPINFOHEADER h{40, 2, 2, 1, 8, BI_RLE8, sizeof rle, 0, 0, 3, 0};
    const RGBQUAD table[3] = {{0, 0, 0, 0}, {0, 0, 255, 0}, {255, 0, 0, 0}};
    std::memcpy(file.data(), &fh, sizeof fh);
    std::memcpy(file.data() + 14, &h, sizeof h);
    std::memcpy(file.data() + 54, table, sizeof table);
    file.insert(file.end(), std::begin(rle), std::end(rle));
    TBitmap b;
    b.LoadFromMemory(file);
    ASSERT_EQ(b.GetPixelFormat(), pf8bit);
    EXPECT_EQ(b.ScanLine(1)[0], 1) << "bottom row: red, red";
    EXPECT_EQ(b.ScanLine(1)[1], 1);
    EXPECT_EQ(b.ScanLine(0)[0], 2) << "top row: blue, black";
    EXPECT_EQ(b.ScanLine(0)[1], 0);
    EXPECT_EQ(b.GetCanvas().GetPixels(0, 0), static_cast<TColor>(RGB(0, 0, 255)));

    auto broken = file;
    broken[0] = 'X';
    EXPECT_THROW(b.LoadFromMemory(broken), EInvalidGraphic);
    broken = file;
    Patch(broken, [](BITMAPINFOHEADER& hd) { hd.biCompression = BI_RGB; });
    broken.resize(54 + 12 + 4); // an uncompressed 2x2 needs 8 bytes of pixels
    EXPECT_THROW(b.LoadFromMemory(broken), EInvalidGraphic);
    broken = file;
    Patch(broken, [](BITMAPINFOHEADER& hd) { hd.biWidth = 70000; });
    EXPECT_THROW(b.LoadFromMemory(broken), EInvalidGraphic);
    EXPECT_THROW(b.LoadFromMemory(std::vector<std::uint8_t>(file.begin(), file.begin() + 20)),
                 EInvalidGraphic);
    EXPECT_EQ(b.GetWidth(), 2) << "a failed load leaves the bitmap as it was";
}

TEST(TBitmap, ResizingKeepsPixelsAndFormatChangesConvertThem) {
    TBitmap b;
    b.SetSize(4, 4);
    EXPECT_EQ(b.GetPixelFormat(), pfDevice);
    EXPECT_EQ(b.GetCanvas().GetPixels(3, 3), clWhite) << "new pixels are white";
    b.GetCanvas().GetBrush().SetColor(clRed);
    b.GetCanvas().FillRect(TRect{0, 0, 2, 2});
    b.SetSize(6, 3);
    EXPECT_EQ(b.GetCanvas().GetPixels(1, 1), clRed);
    EXPECT_EQ(b.GetCanvas().GetPixels(5, 0), clWhite);
    b.SetPixelFormat(pf8bit);
    EXPECT_EQ(b.GetCanvas().GetPixels(1, 1), clRed) << "red is in the 8-bit table";
    b.SetPixelFormat(pf1bit);
    EXPECT_EQ(b.GetCanvas().GetPixels(1, 1), clBlack);
    EXPECT_EQ(b.GetCanvas().GetPixels(5, 0), clWhite);
    b.SetPixelFormat(pf16bit);
    EXPECT_EQ(b.RowBytes(), 12u);

    TBitmap copy;
    copy.Assign(b);
    EXPECT_EQ(copy.GetPixelFormat(), pf16bit);
    EXPECT_EQ(copy.GetCanvas().GetPixels(5, 0), clWhite);
    EXPECT_NE(copy.GetHandle(), b.GetHandle());
    HBITMAP released = copy.ReleaseHandle();
    EXPECT_TRUE(copy.Empty());
    EXPECT_TRUE(DeleteObject(released));
}

TEST(TBitmap, ReportsEveryChangeIncludingDrawing) {
    TBitmap b;
    int changes = 0;
    b.OnChange = [&](TBitmap*) { ++changes; };
    b.SetSize(3, 3);
    EXPECT_EQ(changes, 1);
    b.GetCanvas().Rectangle(0, 0, 2, 2);
    EXPECT_EQ(changes, 2);
    b.SetSize(3, 3);
    EXPECT_EQ(changes, 2) << "no change, no report";
    EXPECT_THROW(b.SetHandle(reinterpret_cast<HBITMAP>(&changes)), EInvalidGraphic);
}
