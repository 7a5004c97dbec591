// Lumdib: header arithmetic, DIB_Create, BMP reading (file header or not,
// core and large headers, bit-field masks, pixel offsets, files cut short),
// display bitmaps both ways, palettes and their mapping, palette files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/base/bytestream.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/gditest.h"
#include "support/bitmapheader.h"
#include "support/testutil.h"
#include "video/lumdib.h"

using namespace lum;
using namespace lum::platform;
using namespace lum::platform::gdi;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Frees a DIB or palette record at the end of a scope.
template <class T>
struct Owned {
    T* p;
    explicit Owned(T* q) : p(q) {}
    ~Owned() { DIB_Free(p); }
    T* operator->() const { return p; }
    T* get() const { return p; }
};

TBitmapInfoHeader Header(LONG w, LONG h, WORD bits, DWORD compression = BI_RGB,
                         DWORD clr_used = 0) {
    return lum::test::InfoHeader(w, h, bits, compression, clr_used);
}

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A BMP image: optional file header, the info header bytes, the table, a
// gap, then the pixels.
Bytes Bmp(const Bytes& header, const Bytes& table, const Bytes& pixels, bool file_header = true,
          std::size_t gap = 0) {
    Bytes out;
    if (file_header) {
        out.resize(14, 0);
        out[0] = 'B';
        out[1] = 'M';
        Put32(out, 2,
              static_cast<std::uint32_t>(14 + header.size() + table.size() + gap + pixels.size()));
        Put32(out, 10, static_cast<std::uint32_t>(14 + header.size() + table.size() + gap));
    }
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), table.begin(), table.end());
    out.insert(out.end(), gap, 0xEE);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

Bytes InfoBytes(const TBitmapInfoHeader& bi, std::size_t size = 40) {
    Bytes b(size, 0);
    std::memcpy(b.data(), &bi, 40);
    Put32(b, 0, static_cast<std::uint32_t>(size));
    return b;
}

const std::uint8_t* Pix(const TBitmapInfoHeader* dib) {
    return static_cast<const std::uint8_t*>(DIB_Ptr(dib));
}

HPALETTE MakePalette(const std::vector<PALETTEENTRY>& entries) {
    std::vector<std::uint8_t> rec(4 + 4 * entries.size());
    auto* lp = reinterpret_cast<LOGPALETTE*>(rec.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(entries.size());
    std::memcpy(lp->palPalEntry, entries.data(), 4 * entries.size());
    return CreatePalette(lp);
}

} // namespace

TEST(LumdibHeader, QueriesAndGeometry) {
    TBitmapInfoHeader bi = Header(33, 240, 24);
    EXPECT_EQ(DIB_WidthBytesN(&bi, 24), 100u);
    bi.biWidth = 1;
    EXPECT_EQ(DIB_WidthBytesN(&bi, 1), 4u);
    EXPECT_EQ(DIB_FlipY(&bi, 0), 239);
    TBitmapInfoHeader b8 = Header(4, 4, 8), b24 = Header(4, 4, 24), b16 = Header(4, 4, 16, 0, 5);
    EXPECT_EQ(DIB_NumColors(&b8), 256u);
    EXPECT_EQ(DIB_PaletteSize(&b8), 1024u);
    EXPECT_EQ(DIB_BISize(&b8), 1064u);
    EXPECT_EQ(DIB_NumColors(&b24), 0u);
    EXPECT_EQ(DIB_NumColors(&b16), 5u);
    TBitmapInfoHeader s = Header(10, 3, 24);
    EXPECT_EQ(DIB_SizeImage(&s), 96u);
    s.biHeight = -3; // top-down: the same size
    EXPECT_EQ(DIB_SizeImage(&s), 96u);
    s.biSizeImage = 7;
    s.biClrUsed = 2;
    EXPECT_EQ(DIB_SizeImage(&s), 7u);
    EXPECT_EQ(DIB_Size(&s), 40u + 7 + 8);

    alignas(4) std::uint8_t block[64] = {};
    TBitmapInfoHeader masks = Header(4, 4, 16, BI_BITFIELDS, 0);
    std::memcpy(block, &masks, 40);
    auto* dib = reinterpret_cast<TBitmapInfoHeader*>(block);
    EXPECT_EQ(static_cast<std::uint8_t*>(DIB_Ptr(dib)) - block, 52);
    EXPECT_EQ(static_cast<std::uint8_t*>(DIB_XY(dib, 3, 2)) - block, 52 + 2 * 8 + 6);
    EXPECT_EQ(static_cast<std::uint8_t*>(DIB_XYN(dib, block, 3, 1, 4)) - block, 4 + 1);
    EXPECT_TRUE(IsWinDIB(dib));

    // A core header's bit count sits at byte 10.
    BITMAPCOREHEADER core{12, 4, 4, 1, 8};
    std::memcpy(block, &core, 12);
    EXPECT_FALSE(IsWinDIB(dib));
    EXPECT_EQ(DIB_BitCount(dib), 8);
}

TEST(LumdibCreate, SizesDepthsAndStandardColours) {
    Owned d16(DIB_Create(16, 1, 0, 5, true));
    ASSERT_NE(d16.get(), nullptr);
    EXPECT_EQ(d16->biBitCount, 24);
    EXPECT_EQ(d16->biWidth, 1);
    EXPECT_EQ(d16->biHeight, 5);
    EXPECT_EQ(d16->biSizeImage, 20u);
    EXPECT_GE(GlobalSize(HandleFrom_DIB(d16.get())), 20u + 1064);
    EXPECT_EQ(DIB_FromHandle(HandleFrom_DIB(d16.get())), d16.get());

    Owned d8(DIB_Create(8, -1, 4, 4, false));
    ASSERT_NE(d8.get(), nullptr);
    EXPECT_EQ(d8->biHeight, -4);
    EXPECT_EQ(d8->biSizeImage, 0u);
    EXPECT_EQ(d8->biClrUsed, 256u);
    const auto* q = static_cast<const RGBQUAD*>(DIB_Colors(d8.get()));
    // 0x800000 is red 0x80; the table repeats every 16 entries.
    EXPECT_EQ(q[1].rgbRed, 0x80);
    EXPECT_EQ(q[1].rgbBlue, 0);
    EXPECT_EQ(q[17].rgbRed, 0x80);
    EXPECT_EQ(q[12 + 16 * 15].rgbBlue, 0xFF); // 0x0000FF
    EXPECT_EQ(q[12 + 16 * 15].rgbRed, 0);

    Owned d4(DIB_Create(4, 1, 3, 3, true));
    EXPECT_EQ(d4->biClrUsed, 16u);
    EXPECT_EQ(d4->biSizeImage, 12u);
    Owned d1(DIB_Create(1, 1, 3, 3, true));
    EXPECT_EQ(d1->biClrUsed, 0u);
    EXPECT_EQ(DIB_Ptr(d1.get()), DIB_Colors(d1.get())); // two implied, black entries
    Owned d32(DIB_Create(32, 1, 2, 2, true));
    EXPECT_EQ(d32->biBitCount, 24);
    DIB_Free(nullptr);
}

TEST(LumdibRead, FileHeaderOptionalCoreHeadersWidenedInOrder) {
    lum::test::TempDir dir;
    Bytes px = {1, 0, 0, 0, 0, 1, 0, 0}; // 2 x 2 at 8 bits
    Bytes table = {10, 20, 30, 0, 40, 50, 60, 0};
    TBitmapInfoHeader bi = Header(2, 2, 8, BI_RGB, 2);

    // Without a file header the header is read where the stream stands.
    Bytes bare = Bmp(InfoBytes(bi), table, px, false);
    Bytes image = bare;
    image.insert(image.begin(), 7, 0x55);
    auto mem = MemoryStream::View({reinterpret_cast<const std::byte*>(image.data()), image.size()});
    std::int64_t pos = 7;
    Owned info(DIB_ReadBitmapInfo(mem.get(), pos));
    ASSERT_NE(info.get(), nullptr);
    EXPECT_EQ(pos, 7 + 40 + 8);
    EXPECT_EQ(info->biSizeImage, 8u); // filled in
    EXPECT_EQ(std::memcmp(DIB_Colors(info.get()), table.data(), 8), 0);
    EXPECT_EQ(DIB_ReadBitmapInfo(nullptr, pos), nullptr);

    // A core header: 12 bytes, 3-byte entries, widened with the right colours.
    Bytes core(12, 0);
    Put32(core, 0, 12);
    Put16(core, 4, 2);
    Put16(core, 6, 2);
    Put16(core, 8, 1);
    Put16(core, 10, 1);
    Bytes core_table = {1, 2, 3, 4, 5, 6};
    std::string path = dir.File("core.bmp");
    lum::test::WriteFile(path, Bmp(core, core_table, {0x80, 0, 0, 0, 0x40, 0, 0, 0}));
    Owned c(DIB_OpenFile(path));
    ASSERT_NE(c.get(), nullptr);
    EXPECT_EQ(c->biSize, 40u);
    EXPECT_EQ(c->biWidth, 2);
    EXPECT_EQ(c->biBitCount, 1);
    EXPECT_EQ(c->biClrUsed, 2u);
    const Bytes widened = {1, 2, 3, 0, 4, 5, 6, 0};
    EXPECT_EQ(std::memcmp(DIB_Colors(c.get()), widened.data(), 8), 0);
    EXPECT_EQ(Pix(c.get())[0], 0x80);
    EXPECT_EQ(Pix(c.get())[4], 0x40);

    lum::test::WriteFile(dir.File("short.bmp"), {'B', 'M', 0, 0});
    EXPECT_EQ(DIB_OpenFile(dir.File("short.bmp")), nullptr);
    EXPECT_EQ(DIB_OpenFile(dir.File("missing.bmp")), nullptr); // and no such resource
}

TEST(LumdibRead, LargeHeadersMasksAndPixelOffsets) {
    lum::test::TempDir dir;
    // A 124-byte header with 5-6-5 masks inside it, and a gap before the pixels.
    TBitmapInfoHeader bi = Header(2, -1, 16, BI_BITFIELDS);
    Bytes v5 = InfoBytes(bi, 124);
    Put32(v5, 40, 0xF800);
    Put32(v5, 44, 0x07E0);
    Put32(v5, 48, 0x001F);
    std::string path = dir.File("v5.bmp");
    lum::test::WriteFile(path, Bmp(v5, {}, {0x00, 0xF8, 0x1F, 0x00}, true, 6));
    Owned d(DIB_OpenFile(path));
    ASSERT_NE(d.get(), nullptr);
    EXPECT_EQ(d->biSize, 40u);
    EXPECT_EQ(d->biHeight, -1);
    EXPECT_EQ(d->biClrUsed, 3u);
    const auto* masks = static_cast<const std::uint32_t*>(DIB_Colors(d.get()));
    EXPECT_EQ(masks[0], 0xF800u);
    EXPECT_EQ(masks[2], 0x001Fu);
    EXPECT_EQ(Pix(d.get())[1], 0xF8); // the offset skipped the gap
    EXPECT_EQ(Pix(d.get())[2], 0x1F);
}

TEST(LumdibRead, FilesCutShortKeepTheirRowsAndAllocateNoMore) {
    lum::test::TempDir dir;
    // Claims 1000 rows of 4 bytes; holds two and a half.
    TBitmapInfoHeader bi = Header(1, 1000, 24);
    std::string path = dir.File("cut.bmp");
    lum::test::WriteFile(path, Bmp(InfoBytes(bi), {}, {1, 2, 3, 0, 4, 5, 6, 0, 7, 8}));
    Owned d(DIB_OpenFile(path));
    ASSERT_NE(d.get(), nullptr);
    EXPECT_EQ(d->biHeight, 2);
    EXPECT_EQ(d->biSizeImage, 8u);
    EXPECT_LE(GlobalSize(HandleFrom_DIB(d.get())), 40u + 8);
    EXPECT_EQ(Pix(d.get())[4], 4);

    // A run-length image keeps the bytes there are.
    TBitmapInfoHeader rle = Header(4, 4, 8, BI_RLE8, 1);
    rle.biSizeImage = 1u << 30;
    lum::test::WriteFile(path, Bmp(InfoBytes(rle), {9, 9, 9, 0}, {4, 0, 0, 1}));
    Owned r(DIB_OpenFile(path));
    ASSERT_NE(r.get(), nullptr);
    EXPECT_EQ(r->biSizeImage, 4u);

    // A colour table larger than the file is refused, not allocated.
    TBitmapInfoHeader huge = Header(1, 1, 8, BI_RGB, 0x40000000);
    lum::test::WriteFile(path, Bmp(InfoBytes(huge), {1, 2, 3, 0}, {0, 0, 0, 0}));
    EXPECT_EQ(DIB_OpenFile(path), nullptr);
    // No pixel row at all: nothing.
    lum::test::WriteFile(path, Bmp(InfoBytes(Header(4, 4, 24)), {}, {1, 2}));
    EXPECT_EQ(DIB_OpenFile(path), nullptr);
}

TEST(LumdibBitmaps, DibToBitmapAndBackKeepsThePixels) {
    Owned dib(DIB_Create(24, 1, 3, 2, true));
    std::uint8_t* p = static_cast<std::uint8_t*>(DIB_Ptr(dib.get()));
    for (int i = 0; i < 24; ++i)
        p[i] = static_cast<std::uint8_t>(i * 10 + 1);
    HBITMAP bitmap = nullptr;
    HPALETTE palette = nullptr;
    DIB_DIBToBitmap(dib.get(), bitmap, palette);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_NE(palette, nullptr); // 24 bits: the 3-3-2 cube
    PALETTEENTRY e[256];
    ASSERT_EQ(GetPaletteEntries(palette, 0, 256, e), 256u);
    EXPECT_EQ(e[73].peRed, 32);
    EXPECT_EQ(e[73].peGreen, 32);
    EXPECT_EQ(e[73].peBlue, 64);
    Owned back(DIB_BitmapToDIB(bitmap, palette, 24, 1));
    ASSERT_NE(back.get(), nullptr);
    for (int y = 0; y < 2; ++y)
        EXPECT_EQ(std::memcmp(Pix(back.get()) + 12 * y, p + 12 * y, 9), 0) << y;
    DeleteObject(bitmap);
    DeleteObject(palette);

    // 32 bits: no palette, still a bitmap.
    Owned d32(DIB_Create(24, 1, 2, 2, true));
    d32->biBitCount = 32;
    d32->biSizeImage = 16;
    DIB_DIBToBitmap(d32.get(), bitmap, palette);
    EXPECT_EQ(palette, nullptr);
    EXPECT_NE(bitmap, nullptr);
    DeleteObject(bitmap);
    EXPECT_EQ(DIB_CreatePalette(d32.get()), nullptr);
    EXPECT_EQ(DIB_BitmapToDIB(nullptr, nullptr, 24, 1), nullptr);

    // An indexed DIB's palette is its table, red and blue swapped in place.
    Owned d8(DIB_Create(8, 1, 2, 2, true));
    d8->biClrUsed = 3;
    HPALETTE p8 = DIB_CreatePalette(d8.get());
    ASSERT_NE(p8, nullptr);
    EXPECT_EQ(GetPaletteEntries(p8, 0, 0, nullptr), 3u);
    GetPaletteEntries(p8, 0, 3, e);
    EXPECT_EQ(e[1].peRed, 0x80);
    DeleteObject(p8);
}

TEST(LumdibBitmaps, DisplayStretchesIntoTheRectangle) {
    Owned dib(DIB_Create(24, 1, 2, 1, true));
    std::uint8_t* p = static_cast<std::uint8_t*>(DIB_Ptr(dib.get()));
    p[2] = 255;     // red
    p[3 + 0] = 255; // blue
    lum::platform::gdi::test::MemDC dc(8, 4);
    DIB_Display(dib.get(), dc.dc(), {2, 1, 6, 3});
    EXPECT_EQ(dc.At(2, 1), RGB(255, 0, 0));
    EXPECT_EQ(dc.At(3, 2), RGB(255, 0, 0));
    EXPECT_EQ(dc.At(4, 1), RGB(0, 0, 255));
    EXPECT_EQ(dc.At(5, 2), RGB(0, 0, 255));
    EXPECT_EQ(dc.At(6, 1), RGB(255, 255, 255));
    EXPECT_EQ(dc.At(1, 1), RGB(255, 255, 255));
    EXPECT_EQ(GetStretchBltMode(dc.dc()), COLORONCOLOR);
}

TEST(LumdibPalette, SetUsageWritesIndicesOrColours) {
    Owned dib(DIB_Create(8, 1, 2, 2, true));
    dib->biClrUsed = 4;
    ASSERT_TRUE(DIB_SetUsage(dib.get(), nullptr, DIB_PAL_COLORS));
    const auto* idx = static_cast<const std::uint16_t*>(DIB_Colors(dib.get()));
    EXPECT_EQ(idx[0], 0);
    EXPECT_EQ(idx[3], 3);
    HPALETTE pal = MakePalette({{1, 2, 3, 0}, {4, 5, 6, 0}});
    ASSERT_TRUE(DIB_SetUsage(dib.get(), pal, DIB_RGB_COLORS));
    const auto* q = static_cast<const RGBQUAD*>(DIB_Colors(dib.get()));
    EXPECT_EQ(q[1].rgbRed, 4);
    EXPECT_EQ(q[1].rgbBlue, 6);
    DeleteObject(pal);
    EXPECT_FALSE(DIB_SetUsage(nullptr, nullptr, 0));

    // Three masks are no colours.
    Owned masks(DIB_Create(24, 1, 2, 2, true));
    masks->biCompression = BI_BITFIELDS;
    masks->biClrUsed = 3;
    std::uint32_t* m = static_cast<std::uint32_t*>(DIB_Colors(masks.get()));
    m[0] = 0xF800;
    EXPECT_TRUE(DIB_SetUsage(masks.get(), nullptr, DIB_PAL_COLORS));
    EXPECT_EQ(m[0], 0xF800u);
}

TEST(LumdibPalette, MapToPaletteTranslatesAndResizes) {
    HPALETTE three = MakePalette({{255, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 250, 0}});
    // Four colours down to three: black -> 1, red -> 0, blue -> 2.
    PBitmapInfoHeader d = DIB_Create(8, 1, 4, 1, true);
    d->biClrUsed = 4;
    auto* q = static_cast<RGBQUAD*>(DIB_Colors(d));
    q[0] = {0, 0, 0, 0};
    q[1] = {0, 0, 255, 0};
    q[2] = {255, 0, 0, 0};
    q[3] = {0, 0, 200, 0};
    std::uint8_t* px = static_cast<std::uint8_t*>(DIB_Ptr(d));
    px[0] = 0;
    px[1] = 1;
    px[2] = 2;
    px[3] = 3;
    DIB_MapToPalette(d, three);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->biClrUsed, 3u);
    const Bytes mapped = {1, 0, 2, 0};
    EXPECT_EQ(std::memcmp(DIB_Ptr(d), mapped.data(), 4), 0);
    EXPECT_EQ(static_cast<const RGBQUAD*>(DIB_Colors(d))[2].rgbBlue, 250);

    // Growing the table moves the pixels behind it.
    HPALETTE five =
        MakePalette({{9, 9, 9, 0}, {0, 0, 250, 0}, {0, 0, 0, 0}, {1, 1, 1, 0}, {255, 0, 0, 0}});
    DIB_MapToPalette(d, five);
    EXPECT_EQ(d->biClrUsed, 5u);
    const Bytes regrown = {2, 4, 1, 4};
    EXPECT_EQ(std::memcmp(DIB_Ptr(d), regrown.data(), 4), 0);
    DIB_Free(d);

    // RLE8: only colour bytes change; delta bytes and what follows the end stay.
    PBitmapInfoHeader r = DIB_Create(8, 1, 4, 2, false);
    r->biCompression = BI_RLE8;
    r->biClrUsed = 2;
    static_cast<RGBQUAD*>(DIB_Colors(r))[0] = {0, 0, 0, 0};
    static_cast<RGBQUAD*>(DIB_Colors(r))[1] = {0, 0, 255, 0};
    const Bytes rle = {2, 1, 0, 2, 1, 1, 0, 3, 1, 0, 1, 0, 0, 0, 0, 1, 1, 1};
    r->biSizeImage = static_cast<DWORD>(rle.size());
    std::memcpy(DIB_Ptr(r), rle.data(), rle.size());
    DIB_MapToPalette(r, three);
    const Bytes want = {2, 0, 0, 2, 1, 1, 0, 3, 0, 1, 0, 0, 0, 0, 0, 1, 1, 1};
    EXPECT_EQ(std::memcmp(DIB_Ptr(r), want.data(), want.size()), 0);
    DIB_Free(r);

    // 4 bits map both halves while the palette fits; 24 bits are left alone.
    PBitmapInfoHeader n4 = DIB_Create(4, 1, 2, 1, true);
    static_cast<std::uint8_t*>(DIB_Ptr(n4))[0] = 0x09; // black, red (standard colours)
    DIB_MapToPalette(n4, three);
    EXPECT_EQ(static_cast<std::uint8_t*>(DIB_Ptr(n4))[0], 0x10);
    DIB_Free(n4);
    PBitmapInfoHeader t = DIB_Create(24, 1, 1, 1, true);
    PBitmapInfoHeader before = t;
    DIB_MapToPalette(t, three);
    EXPECT_EQ(t, before);
    EXPECT_EQ(t->biClrUsed, 0u);
    DIB_Free(t);
    DeleteObject(three);
    DeleteObject(five);
}

TEST(LumdibPaletteFiles, RoundTripLayoutAndDamage) {
    lum::test::TempDir dir;
    Owned sys(CreateSystemColorPalette());
    ASSERT_NE(sys.get(), nullptr);
    EXPECT_EQ(sys->palVersion, 0x300);
    EXPECT_EQ(sys->palNumEntries, 256);
    EXPECT_EQ(sys->palPalEntry[8].peGreen, 220);
    EXPECT_EQ(sys->palPalEntry[9].peBlue, 240);
    EXPECT_EQ(sys->palPalEntry[246].peGreen, 251);
    EXPECT_EQ(sys->palPalEntry[255].peRed, 255);
    EXPECT_EQ(sys->palPalEntry[100].peRed, 0);

    std::string path = dir.File("sys.pal");
    ASSERT_TRUE(SavePalette(path, sys.get()));
    Bytes file = lum::test::ReadFile(path);
    ASSERT_EQ(file.size(), 12u + 8 + 4 * 256 + 8);
    EXPECT_EQ(std::memcmp(file.data(), "RIFF", 4), 0);
    EXPECT_EQ(std::memcmp(&file[8], "PAL data", 8), 0);
    EXPECT_EQ(file[16] | (file[17] << 8), 4 * 256 + 8);
    Owned loaded(LoadPalette(path));
    ASSERT_NE(loaded.get(), nullptr);
    EXPECT_EQ(std::memcmp(loaded.get(), sys.get(), 8 + 4 * 256), 0);

    // A version other than 0x300, a count of 0, a chunk too short for its count.
    Bytes bad = file;
    bad[20] = 0x01;
    lum::test::WriteFile(path, bad);
    EXPECT_EQ(LoadPalette(path), nullptr);
    bad = file;
    bad[22] = bad[23] = 0;
    lum::test::WriteFile(path, bad);
    EXPECT_EQ(LoadPalette(path), nullptr);
    bad = file;
    Put32(bad, 16, 12); // two entries' room for 256
    bad.resize(32);
    Put32(bad, 4, 24);
    lum::test::WriteFile(path, bad);
    EXPECT_EQ(LoadPalette(path), nullptr);
    EXPECT_EQ(LoadPalette(dir.File("none.pal")), nullptr);

    // Nothing to save: false and no file.
    sys->palNumEntries = 0;
    EXPECT_FALSE(SavePalette(dir.File("empty.pal"), sys.get()));
    EXPECT_FALSE(std::filesystem::exists(dir.File("empty.pal")));
}
