#include "video/lumdib.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/base/resources.h"
#include "platform/gdi/gdi.h"
#include "platform/mmio/mmio.h"

namespace lum {

using namespace platform;
using namespace platform::gdi;
namespace mm = platform::mmio;

namespace {

constexpr std::uint32_t kStandardColors[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

constexpr PALETTEENTRY kStatic[20] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
    {0, 0, 128, 0},     {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
    {192, 220, 192, 0}, {166, 202, 240, 0}, {255, 251, 240, 0}, {160, 160, 164, 0},
    {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},     {255, 255, 0, 0},
    {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0}};

std::uint8_t* Bytes(const void* p) {
    return static_cast<std::uint8_t*>(const_cast<void*>(p));
}

// A palette record of Count entries with room for one more behind them.
PLogPalette NewPaletteRecord(std::size_t count) {
    return static_cast<PLogPalette>(GlobalAlloc(GHND, 8 + 4 * count));
}

std::size_t PaletteCount(HPALETTE palette) {
    return palette ? GetPaletteEntries(palette, 0, 0, nullptr) : 0;
}

// The screen's palette, when the display is palette-based.
bool ScreenHasPalette(HDC dc, int least) {
    return (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) != 0 &&
           GetDeviceCaps(dc, SIZEPALETTE) >= least;
}

} // namespace

// ---- Header queries ----

bool IsWinDIB(const TBitmapInfoHeader* dib) {
    return dib->biSize == 40;
}
std::int32_t DIB_Width(const TBitmapInfoHeader* dib) {
    return dib->biWidth;
}
std::int32_t DIB_Height(const TBitmapInfoHeader* dib) {
    return dib->biHeight;
}
std::uint32_t DIB_Compression(const TBitmapInfoHeader* dib) {
    return dib->biCompression;
}

std::uint16_t DIB_BitCount(const TBitmapInfoHeader* dib) {
    if (IsWinDIB(dib)) return dib->biBitCount;
    std::uint16_t bits;
    std::memcpy(&bits, Bytes(dib) + 10, 2);
    return bits;
}

std::uint32_t DIB_NumColors(const TBitmapInfoHeader* dib) {
    if (dib->biClrUsed != 0) return dib->biClrUsed;
    return dib->biBitCount <= 8 ? 1u << dib->biBitCount : 0;
}

std::uint32_t DIB_PaletteSize(const TBitmapInfoHeader* dib) {
    return 4 * DIB_NumColors(dib);
}

std::uint32_t DIB_BISize(const TBitmapInfoHeader* dib) {
    return dib->biSize + DIB_PaletteSize(dib);
}

std::uint32_t DIB_WidthBytesN(const TBitmapInfoHeader* dib, int bits) {
    const std::int64_t row = (static_cast<std::int64_t>(bits) * dib->biWidth + 31) / 32;
    return static_cast<std::uint32_t>(row * 4);
}

std::uint32_t DIB_WidthBytes(const TBitmapInfoHeader* dib) {
    return DIB_WidthBytesN(dib, dib->biBitCount);
}

std::uint32_t DIB_SizeImage(const TBitmapInfoHeader* dib) {
    if (dib->biSizeImage != 0) return dib->biSizeImage;
    // A top-down DIB has a negative height but not a negative size.
    const std::int64_t rows =
        dib->biHeight < 0 ? -static_cast<std::int64_t>(dib->biHeight) : dib->biHeight;
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(DIB_WidthBytes(dib)) * rows);
}

std::uint32_t DIB_Size(const TBitmapInfoHeader* dib) {
    return dib->biSize + dib->biSizeImage + 4 * dib->biClrUsed;
}

void* DIB_Colors(const TBitmapInfoHeader* dib) {
    return Bytes(dib) + dib->biSize;
}

void* DIB_Ptr(const TBitmapInfoHeader* dib) {
    auto* colors = static_cast<std::uint8_t*>(DIB_Colors(dib));
    return dib->biCompression == BI_BITFIELDS ? colors + 12 : colors + 4 * dib->biClrUsed;
}

std::int32_t DIB_FlipY(const TBitmapInfoHeader* dib, std::int32_t y) {
    return dib->biHeight - y - 1;
}

void* DIB_XYN(const TBitmapInfoHeader* dib, void* bits, std::int32_t x, std::int32_t y, int n) {
    return Bytes(bits) + static_cast<std::int64_t>(y) * DIB_WidthBytesN(dib, n) +
           static_cast<std::int64_t>(x) * n / 8;
}

void* DIB_XY(const TBitmapInfoHeader* dib, std::int32_t x, std::int32_t y) {
    return DIB_XYN(dib, DIB_Ptr(dib), x, y, dib->biBitCount);
}

void DIB_Info(const TBitmapInfoHeader*) {}

// ---- Memory ----

void DIB_Free(void* dib) {
    if (dib) GlobalFree(GlobalHandle(dib));
}

HGLOBAL HandleFrom_DIB(const void* dib) {
    return GlobalHandle(dib);
}

PBitmapInfoHeader DIB_FromHandle(HGLOBAL handle) {
    return static_cast<PBitmapInfoHeader>(GlobalLock(handle));
}

// ---- Creating and reading ----

PBitmapInfoHeader DIB_Create(int bits, int orientation, int width, int height, bool with_bits) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (bits > 8 && bits != 24) bits = 24;
    std::size_t image = 0;
    if (with_bits)
        image =
            ((static_cast<std::size_t>(width) * static_cast<std::size_t>(std::max(bits, 0)) + 31) /
             32) *
            4 * static_cast<std::size_t>(height);
    auto* dib = static_cast<PBitmapInfoHeader>(GlobalAlloc(GHND, image + 1064));
    if (dib == nullptr) return nullptr;
    dib->biSize = 40;
    dib->biWidth = width;
    dib->biHeight = height * orientation;
    dib->biPlanes = 1;
    dib->biBitCount = static_cast<std::uint16_t>(bits);
    dib->biCompression = BI_RGB;
    dib->biSizeImage = static_cast<std::uint32_t>(image);
    if (bits == 4) dib->biClrUsed = 16;
    if (bits == 8) dib->biClrUsed = 256;
    auto* colors = static_cast<RGBQUAD*>(DIB_Colors(dib));
    for (std::uint32_t i = 0; i < dib->biClrUsed; ++i) {
        const std::uint32_t c = kStandardColors[i % 16];
        colors[i] = {static_cast<BYTE>(c), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c >> 16),
                     0};
    }
    return dib;
}

namespace {
constexpr std::int64_t kMaxDibSide = 65535;
constexpr std::int64_t kMaxDibPixels = std::int64_t{16384} * 16384;
} // namespace

PBitmapInfoHeader DIB_ReadBitmapInfo(ByteStream* file, std::int64_t& position) {
    if (file == nullptr) return nullptr;
    const std::int64_t start = position;
    BITMAPFILEHEADER fh;
    if (!file->ReadExact(start, &fh, sizeof fh)) return nullptr;
    std::int64_t pos = start;
    std::int64_t bits_offset = -1;
    if (fh.bfType == 0x4D42) {
        bits_offset = fh.bfOffBits;
        pos += sizeof fh;
    }
    // A core header is only 12 bytes; a small file may end soon after it.
    TBitmapInfoHeader bi{};
    const std::size_t got = file->ReadAt(pos, &bi, sizeof bi);
    const bool core = got >= 12 && bi.biSize == 12;
    if (!core && got < sizeof bi) return nullptr;
    if (core) {
        BITMAPCOREHEADER bc;
        std::memcpy(&bc, &bi, sizeof bc);
        bi = {};
        bi.biSize = 40;
        bi.biWidth = bc.bcWidth;
        bi.biHeight = bc.bcHeight;
        bi.biPlanes = bc.bcPlanes;
        bi.biBitCount = bc.bcBitCount;
        pos += 12;
    } else {
        // A larger header: its first 40 bytes, the masks that follow them,
        // then the colour table after the whole header.
        pos += std::max<std::int64_t>(bi.biSize, 40);
    }
    // No pixels, or more than any frame or bitmap of this system may hold
    // (the drawing service's and the decoders' limits): damage, not a size
    // to allocate from.
    const std::int64_t rows = std::abs(static_cast<std::int64_t>(bi.biHeight));
    if (bi.biWidth <= 0 || rows == 0 || bi.biWidth > kMaxDibSide || rows > kMaxDibSide ||
        bi.biWidth * rows > kMaxDibPixels)
        return nullptr;
    const std::uint32_t header_size = bi.biSize;
    bi.biSize = 40;
    std::uint32_t n = DIB_NumColors(&bi);
    if (bi.biSizeImage == 0) bi.biSizeImage = DIB_SizeImage(&bi);
    if (bi.biClrUsed == 0) bi.biClrUsed = DIB_NumColors(&bi);
    const bool masks = bi.biCompression == BI_BITFIELDS;
    // With bit fields the colour area is the three masks, whatever the
    // count says otherwise: the pixels start after them (DIB_Ptr).
    if (masks) bi.biClrUsed = 3;
    // A table larger than any depth can index, or than the file holds, is
    // damage, not something to allocate.
    const std::int64_t left = std::max<std::int64_t>(file->Size() - pos, 0);
    const std::size_t entry = core ? 3 : 4;
    if (static_cast<std::int64_t>(n) * static_cast<std::int64_t>(entry) > left) return nullptr;
    const std::uint32_t stored = masks ? std::max<std::uint32_t>(n, 3) : n;
    auto* dib = static_cast<PBitmapInfoHeader>(GlobalAlloc(GMEM_MOVEABLE, 40 + 4 * stored));
    if (dib == nullptr) return nullptr;
    std::memcpy(dib, &bi, sizeof bi);
    auto* table = static_cast<std::uint8_t*>(DIB_Colors(dib));
    if (masks) {
        // The masks follow the first 40 bytes, inside a larger header too.
        const std::int64_t at = header_size > 40 ? pos - header_size + 40 : pos;
        if (!file->ReadExact(at, table, 12)) {
            GlobalFree(dib);
            return nullptr;
        }
        if (header_size <= 40) pos += 12;
    }
    if (n > 0 && !masks) {
        if (core) {
            if (!file->ReadExact(pos, table, 3 * static_cast<std::size_t>(n))) {
                GlobalFree(dib);
                return nullptr;
            }
            pos += 3 * static_cast<std::int64_t>(n);
            for (std::uint32_t i = n; i-- > 0;) {
                table[4 * i + 3] = 0;
                table[4 * i + 2] = table[3 * i + 2];
                table[4 * i + 1] = table[3 * i + 1];
                table[4 * i] = table[3 * i];
            }
        } else {
            if (!file->ReadExact(pos, table, 4 * static_cast<std::size_t>(n))) {
                GlobalFree(dib);
                return nullptr;
            }
            pos += 4 * static_cast<std::int64_t>(n);
        }
    }
    position = bits_offset >= 0 ? start + bits_offset : pos;
    return dib;
}

PBitmapInfoHeader DIB_OpenFile(const std::string& name) {
    auto file = FileStream::Open(name, FileMode::Read);
    if (!file) {
        std::span<const std::byte> res = FindResource(RT_BITMAP, name);
        return res.size() >= 40
                   ? reinterpret_cast<PBitmapInfoHeader>(const_cast<std::byte*>(res.data()))
                   : nullptr;
    }
    std::int64_t pos = 0;
    PBitmapInfoHeader dib = DIB_ReadBitmapInfo(file.get(), pos);
    if (dib == nullptr) return nullptr;
    const std::int64_t left = std::max<std::int64_t>(file->Size() - pos, 0);
    std::uint64_t image = dib->biSizeImage;
    const bool rle = dib->biCompression == BI_RLE8 || dib->biCompression == BI_RLE4;
    const std::uint32_t stride = DIB_WidthBytes(dib);
    const std::uint64_t rows_size =
        static_cast<std::uint64_t>(stride) *
        static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(dib->biHeight)));
    // Plain rows take the room their size says, whatever biSizeImage claims:
    // a smaller claim would leave rows outside the block.
    if (!rle && image < rows_size) image = rows_size;
    if (static_cast<std::int64_t>(image) > left) {
        // The file ends early: keep the rows it holds, never more.
        if (rle) {
            image = static_cast<std::uint64_t>(left);
        } else {
            const std::int64_t rows =
                stride ? std::min<std::int64_t>(left / stride,
                                                std::abs(static_cast<std::int64_t>(dib->biHeight)))
                       : 0;
            if (rows <= 0) {
                GlobalFree(dib);
                return nullptr;
            }
            dib->biHeight = dib->biHeight < 0 ? -static_cast<LONG>(rows) : static_cast<LONG>(rows);
            image = static_cast<std::uint64_t>(rows) * stride;
        }
    }
    dib->biSizeImage = static_cast<std::uint32_t>(image);
    const std::size_t head = dib->biSize + DIB_PaletteSize(dib);
    void* grown = GlobalReAlloc(dib, head + image, GMEM_MOVEABLE);
    if (grown == nullptr) {
        GlobalFree(dib);
        return nullptr;
    }
    dib = static_cast<PBitmapInfoHeader>(grown);
    file->ReadAt(pos, Bytes(dib) + head, image);
    return dib;
}

// ---- Display bitmaps ----

PBitmapInfoHeader DIB_BitmapToDIB(HBITMAP bitmap, HPALETTE palette, int bits, int orientation) {
    BITMAP bm;
    if (bitmap == nullptr || GetObject(bitmap, sizeof bm, &bm) == 0) return nullptr;
    PBitmapInfoHeader dib = DIB_Create(bits, orientation, bm.bmWidth, bm.bmHeight, true);
    if (dib == nullptr) return nullptr;
    HDC dc = GetDC(nullptr);
    HPALETTE old = nullptr;
    if (palette) {
        old = SelectPalette(dc, palette, 0);
        RealizePalette(dc);
    }
    const int lines = GetDIBits(dc, bitmap, 0, static_cast<UINT>(bm.bmHeight), DIB_Ptr(dib),
                                reinterpret_cast<BITMAPINFO*>(dib), DIB_RGB_COLORS);
    if (palette) SelectPalette(dc, old, 0);
    ReleaseDC(nullptr, dc);
    if (lines == 0) {
        GlobalFree(dib);
        return nullptr;
    }
    return dib;
}

void DIB_DIBToBitmap(const TBitmapInfoHeader* dib, HBITMAP& bitmap, HPALETTE& palette) {
    bitmap = nullptr;
    palette = nullptr;
    if (dib == nullptr) return;
    HDC dc = GetDC(nullptr);
    palette = DIB_CreatePalette(dib);
    HPALETTE old = nullptr;
    if (palette) {
        old = SelectPalette(dc, palette, 0);
        RealizePalette(dc);
    }
    bitmap = CreateDIBitmap(dc, dib, CBM_INIT, DIB_Ptr(dib),
                            reinterpret_cast<const BITMAPINFO*>(dib), DIB_RGB_COLORS);
    if (palette) SelectPalette(dc, old, 0);
    ReleaseDC(nullptr, dc);
}

HPALETTE DIB_CreatePalette(const TBitmapInfoHeader* dib) {
    if (dib == nullptr) return nullptr;
    std::uint32_t n = DIB_NumColors(dib);
    if (n > 0) {
        // A palette holds at most 1024 entries; a depth of 8 bits or less
        // indexes no more than its own.
        n = std::min<std::uint32_t>(n, dib->biBitCount <= 8 ? 1u << dib->biBitCount : 1024);
        PLogPalette rec = NewPaletteRecord(n);
        if (rec == nullptr) return nullptr;
        rec->palVersion = 0x300;
        rec->palNumEntries = static_cast<WORD>(n);
        HDC dc = GetDC(nullptr);
        if (n == 16 && ScreenHasPalette(dc, 16)) {
            GetSystemPaletteEntries(dc, 0, 8, rec->palPalEntry);
            GetSystemPaletteEntries(dc, 248, 8, rec->palPalEntry + 8);
        } else {
            const auto* q = static_cast<const RGBQUAD*>(DIB_Colors(dib));
            for (std::uint32_t i = 0; i < n; ++i)
                rec->palPalEntry[i] = {q[i].rgbRed, q[i].rgbGreen, q[i].rgbBlue, 0};
        }
        ReleaseDC(nullptr, dc);
        HPALETTE p = CreatePalette(rec);
        GlobalFree(rec);
        return p;
    }
    if (DIB_BitCount(dib) == 24) {
        PLogPalette rec = NewPaletteRecord(256);
        if (rec == nullptr) return nullptr;
        rec->palVersion = 0x300;
        rec->palNumEntries = 256;
        for (int i = 0; i < 256; ++i)
            rec->palPalEntry[i] = {static_cast<BYTE>((i % 8) * 32),
                                   static_cast<BYTE>(((i / 8) % 8) * 32),
                                   static_cast<BYTE>((i / 64) * 64), 0};
        HPALETTE p = CreatePalette(rec);
        GlobalFree(rec);
        return p;
    }
    return nullptr;
}

void DIB_Display(const TBitmapInfoHeader* dib, HDC dc, const RECT& r) {
    if (dib == nullptr) return;
    HPALETTE palette = DIB_CreatePalette(dib);
    HPALETTE old = nullptr;
    if (palette) {
        old = SelectPalette(dc, palette, 0);
        RealizePalette(dc);
    }
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, 0, dib->biWidth,
                  dib->biHeight < 0 ? -dib->biHeight : dib->biHeight, DIB_Ptr(dib),
                  reinterpret_cast<const BITMAPINFO*>(dib), DIB_RGB_COLORS, SRCCOPY);
    if (palette) {
        SelectPalette(dc, old, 0);
        DeleteObject(palette);
    }
}

// ---- Palettes ----

bool DIB_SetUsage(TBitmapInfoHeader* dib, HPALETTE palette, unsigned usage) {
    if (dib == nullptr) return false;
    if (palette == nullptr) palette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    std::uint32_t n = DIB_NumColors(dib);
    if (n == 3 && dib->biCompression == BI_BITFIELDS) n = 0;
    if (n == 0) return true;
    if (usage == DIB_PAL_COLORS) {
        auto* indices = static_cast<std::uint8_t*>(DIB_Colors(dib));
        for (std::uint32_t i = 0; i < n; ++i) {
            const auto v = static_cast<std::uint16_t>(i);
            std::memcpy(indices + 2 * i, &v, 2);
        }
        return true;
    }
    const std::uint32_t count = std::min<std::uint32_t>(n, 256);
    std::vector<PALETTEENTRY> entries(count);
    const UINT got = GetPaletteEntries(palette, 0, count, entries.data());
    auto* q = static_cast<RGBQUAD*>(DIB_Colors(dib));
    for (UINT i = 0; i < got && i < count; ++i)
        q[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
    return true;
}

void DIB_MapToPalette(PBitmapInfoHeader& dib, HPALETTE palette) {
    if (palette == nullptr || dib == nullptr) return;
    const std::uint32_t compression = dib->biCompression;
    const int bits = dib->biBitCount;
    const bool rle8 = compression == BI_RLE8 && bits == 8;
    const bool plain = compression == BI_RGB && (bits == 8 || bits == 4);
    const std::size_t p = PaletteCount(palette);
    // 4-bit indices reach 16 colours; RLE4 runs are not rewritten.
    if ((!rle8 && !plain) || p == 0 || (bits == 4 && p > 16) || p > 256) return;
    if (GlobalHandle(dib) == nullptr) return; // a resource cannot be changed
    const std::uint32_t n = std::min<std::uint32_t>(DIB_NumColors(dib), 1u << bits);
    std::uint32_t image = dib->biSizeImage ? dib->biSizeImage : DIB_SizeImage(dib);
    const std::size_t old_head = dib->biSize + 4 * static_cast<std::size_t>(dib->biClrUsed);
    const std::size_t block = GlobalSize(GlobalHandle(dib));
    if (old_head > block) return;
    image = static_cast<std::uint32_t>(std::min<std::size_t>(image, block - old_head));

    std::uint8_t map[256];
    for (int i = 0; i < 256; ++i)
        map[i] = static_cast<std::uint8_t>(i);
    const auto* q = static_cast<const RGBQUAD*>(DIB_Colors(dib));
    for (std::uint32_t i = 0; i < n && 40 + 4 * i < old_head; ++i)
        map[i] = static_cast<std::uint8_t>(
            GetNearestPaletteIndex(palette, RGB(q[i].rgbRed, q[i].rgbGreen, q[i].rgbBlue)));
    std::vector<PALETTEENTRY> entries(p);
    GetPaletteEntries(palette, 0, static_cast<UINT>(p), entries.data());

    const std::size_t new_head = dib->biSize + 4 * p;
    if (new_head > old_head) {
        void* grown = GlobalReAlloc(dib, new_head + image, GMEM_MOVEABLE);
        if (grown == nullptr) return;
        dib = static_cast<PBitmapInfoHeader>(grown);
        std::memmove(Bytes(dib) + new_head, Bytes(dib) + old_head, image);
    } else if (new_head < old_head) {
        std::memmove(Bytes(dib) + new_head, Bytes(dib) + old_head, image);
        if (void* shrunk = GlobalReAlloc(dib, new_head + image, GMEM_MOVEABLE))
            dib = static_cast<PBitmapInfoHeader>(shrunk);
    }
    dib->biClrUsed = static_cast<std::uint32_t>(p);
    std::uint8_t* px = Bytes(dib) + new_head;
    if (plain && bits == 8) {
        for (std::uint32_t i = 0; i < image; ++i)
            px[i] = map[px[i]];
    } else if (plain) {
        for (std::uint32_t i = 0; i < image; ++i)
            px[i] = static_cast<std::uint8_t>((map[px[i] >> 4] << 4) | (map[px[i] & 0x0F] & 0x0F));
    } else {
        // Only colour bytes change; the walk ends with the data.
        std::uint32_t i = 0;
        while (i + 1 < image) {
            const std::uint8_t count = px[i], code = px[i + 1];
            if (count > 0) {
                px[i + 1] = map[code];
                i += 2;
            } else if (code == 0) {
                i += 2;
            } else if (code == 1) {
                break;
            } else if (code == 2) {
                i += 4;
            } else {
                i += 2;
                for (std::uint32_t k = 0; k < code && i < image; ++k, ++i)
                    px[i] = map[px[i]];
                if (code & 1) ++i;
            }
        }
    }
    auto* table = static_cast<RGBQUAD*>(DIB_Colors(dib));
    for (std::size_t i = 0; i < p; ++i)
        table[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
}

PLogPalette LoadPalette(const std::string& file_name) {
    mm::HMMIO h = mm::mmioOpen(file_name.c_str(), nullptr, mm::MMIO_READ | mm::MMIO_ALLOCBUF);
    if (h == nullptr) return nullptr;
    PLogPalette result = nullptr;
    mm::MMCKINFO riff{}, data{};
    riff.fccType = mm::mmioFOURCC('P', 'A', 'L', ' ');
    data.ckid = mm::mmioFOURCC('d', 'a', 't', 'a');
    if (mm::mmioDescend(h, &riff, nullptr, mm::MMIO_FINDRIFF) == 0 &&
        mm::mmioDescend(h, &data, &riff, mm::MMIO_FINDCHUNK) == 0 && data.cksize >= 4 &&
        data.cksize <= 8 + 4 * 65535u) {
        auto* block = static_cast<std::uint8_t*>(GlobalAlloc(GHND, data.cksize));
        if (block) {
            const LONG got = mm::mmioRead(h, block, static_cast<LONG>(data.cksize));
            auto* rec = reinterpret_cast<PLogPalette>(block);
            // The entries the count claims must be there.
            if (got == static_cast<LONG>(data.cksize) && rec->palVersion == 0x300 &&
                rec->palNumEntries != 0 && 4 + 4 * std::size_t{rec->palNumEntries} <= data.cksize)
                result = rec;
            else
                GlobalFree(block);
        }
    }
    mm::mmioClose(h, 0);
    return result;
}

bool SavePalette(const std::string& file_name, const TLogPalette* palette) {
    if (palette == nullptr || palette->palNumEntries == 0) return false;
    mm::HMMIO h = mm::mmioOpen(file_name.c_str(), nullptr,
                               mm::MMIO_CREATE | mm::MMIO_WRITE | mm::MMIO_ALLOCBUF);
    if (h == nullptr) return false;
    const LONG size = 4 * static_cast<LONG>(palette->palNumEntries) + 8;
    mm::MMCKINFO riff{}, data{};
    riff.fccType = mm::mmioFOURCC('P', 'A', 'L', ' ');
    data.ckid = mm::mmioFOURCC('d', 'a', 't', 'a');
    data.cksize = static_cast<DWORD>(size);
    bool ok = false;
    if (mm::mmioCreateChunk(h, &riff, mm::MMIO_CREATERIFF) == 0 &&
        mm::mmioCreateChunk(h, &data, 0) == 0) {
        ok = mm::mmioWrite(h, palette, size) == size;
        ok = mm::mmioAscend(h, &data, 0) == 0 && ok;
        ok = mm::mmioAscend(h, &riff, 0) == 0 && ok;
    }
    ok = mm::mmioClose(h, 0) == 0 && ok;
    return ok;
}

void ClearSystemPalette() {
    PLogPalette rec = NewPaletteRecord(256);
    if (rec == nullptr) return;
    rec->palVersion = 0x300;
    rec->palNumEntries = 256;
    for (int i = 0; i < 256; ++i)
        rec->palPalEntry[i] = {0, 0, 0, PC_NOCOLLAPSE};
    HPALETTE palette = CreatePalette(rec);
    GlobalFree(rec);
    if (palette == nullptr) return;
    HDC dc = GetDC(nullptr);
    HPALETTE old = SelectPalette(dc, palette, 0);
    RealizePalette(dc);
    SelectPalette(dc, old, 0);
    DeleteObject(palette);
    ReleaseDC(nullptr, dc);
}

PLogPalette CreateSystemColorPalette() {
    PLogPalette rec = NewPaletteRecord(256);
    if (rec == nullptr) return nullptr;
    rec->palVersion = 0x300;
    rec->palNumEntries = 256;
    HDC dc = GetDC(nullptr);
    const int depth = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
    if ((GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) && depth <= 8) {
        GetSystemPaletteEntries(dc, 0, 10, rec->palPalEntry);
        GetSystemPaletteEntries(dc, 246, 10, rec->palPalEntry + 246);
    } else {
        for (int i = 0; i < 10; ++i) {
            rec->palPalEntry[i] = kStatic[i];
            rec->palPalEntry[246 + i] = kStatic[10 + i];
        }
    }
    ReleaseDC(nullptr, dc);
    return rec;
}

} // namespace lum
