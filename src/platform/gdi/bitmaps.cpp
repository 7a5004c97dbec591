// Device-independent bitmaps: reading BITMAPINFO headers, decoding RLE,
// creating display bitmaps and DIB sections, and copying pixels between
// bitmaps and packed DIBs.
//
// When GetDIBits must invent a colour table (no palette selected, a source
// of another depth), it uses: 1 bit black and white; 4 bits the 16 VGA
// colours; 8 bits the 20 static colours at 0-9 and 246-255 with a 6x6x6
// colour cube at 10-225 and black between.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/base/rle.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/internal.h"

namespace lum::platform::gdi {

namespace {

constexpr Rgb kVga[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                          0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                          0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

} // namespace

std::vector<Rgb> DefaultColorTable(int bpp) {
    if (bpp == 1) return {0x000000, 0xFFFFFF};
    if (bpp == 4) return std::vector<Rgb>(std::begin(kVga), std::end(kVga));
    std::vector<Rgb> t(256, 0);
    const std::vector<Rgb> stat = DefaultPalette()->Colors();
    for (int i = 0; i < 10; ++i) {
        t[i] = stat[i];
        t[246 + i] = stat[10 + i];
    }
    int i = 10;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                t[i++] = (r * 51u << 16) | (g * 51u << 8) | (b * 51u);
    return t;
}

namespace {

// Decodes RLE8 or RLE4 data into one byte per pixel, top-down. Pixels the
// data skips stay at index 0; the walk never leaves the data or the image.
void DecodeRle(const DibFormat& f, const std::uint8_t* p, std::vector<std::uint8_t>& out) {
    const int w = f.width, h = f.height;
    out.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
    platform::DecodeRle(p, f.imageSize, f.compression == BI_RLE8, w, h,
                        out.data() + static_cast<std::size_t>(h - 1) * w,
                        -static_cast<std::ptrdiff_t>(w));
}

template <class T>
T ReadAt(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

HBITMAP__* CompatibleBitmap(HDC__* dc, int width, int height) {
    return dc && dc->Mono() ? NewMonoBitmap(width, height) : NewDeviceBitmap(width, height);
}

// Copies Lines stored rows of a DIB (starting at stored row Start) into
// the bitmap. Returns the rows copied.
int CopyRowsIn(HBITMAP__* b, const DibFormat& f, UINT start, UINT lines, const void* bits) {
    std::vector<std::uint8_t> scratch;
    Surface src;
    const bool rle = f.compression == BI_RLE8 || f.compression == BI_RLE4;
    if (rle) {
        // RLE data always describes the whole image.
        start = 0;
        lines = static_cast<UINT>(f.height);
        if (!DibSurface(f, bits, scratch, src)) return 0;
    }
    if (start >= static_cast<UINT>(f.height)) return 0;
    lines = std::min<UINT>(lines, static_cast<UINT>(f.height) - start);
    Surface dst = b->View();
    const int n = std::min(f.width, b->width);
    std::vector<std::uint32_t> raw(static_cast<std::size_t>(f.width));
    NearestCache cache;
    const auto* base = static_cast<const std::uint8_t*>(bits);
    int copied = 0;
    for (UINT k = 0; k < lines; ++k) {
        const UINT stored = start + k;
        const int y =
            f.topDown || rle ? static_cast<int>(stored) : f.height - 1 - static_cast<int>(stored);
        if (y >= b->height) continue;
        ++copied;
        if (rle) {
            src.ReadRgb(0, static_cast<int>(stored), n, raw.data());
        } else {
            const std::uint8_t* row = base + static_cast<std::size_t>(k) * f.stride;
            if (b->kind == HBITMAP__::Device && f.bpp == 24) {
                // The display bitmap path of every decoded frame: a straight row copy.
                auto* out = reinterpret_cast<std::uint32_t*>(b->image.scanLine(y));
                for (int x = 0; x < n; ++x, row += 3)
                    out[x] = 0xFF000000u | (static_cast<std::uint32_t>(row[2]) << 16) |
                             (static_cast<std::uint32_t>(row[1]) << 8) | row[0];
                continue;
            }
            if (b->kind == HBITMAP__::Device && f.bpp == 32 && f.masks[0] == 0xFF0000 &&
                f.masks[1] == 0xFF00 && f.masks[2] == 0xFF) {
                auto* out = reinterpret_cast<std::uint32_t*>(b->image.scanLine(y));
                const auto* in = reinterpret_cast<const std::uint32_t*>(row);
                for (int x = 0; x < n; ++x)
                    out[x] = in[x] | 0xFF000000u;
                continue;
            }
            Surface one;
            one.top = const_cast<std::uint8_t*>(row);
            one.pitch = static_cast<std::ptrdiff_t>(f.stride);
            one.width = f.width;
            one.height = 1;
            one.bpp = f.bpp;
            std::copy(std::begin(f.masks), std::end(f.masks), one.masks);
            one.table = f.table.data();
            one.tableSize = static_cast<int>(f.table.size());
            one.Prepare();
            one.ReadRgb(0, 0, n, raw.data());
        }
        for (int x = 0; x < n; ++x)
            raw[x] = dst.Encode(raw[x], cache);
        dst.WriteRaw(0, y, n, raw.data());
    }
    return copied;
}

} // namespace

bool ParseDib(const BITMAPINFO* info, UINT usage, const HPALETTE__* palette, DibFormat& out) {
    if (!info) return false;
    const auto* base = reinterpret_cast<const std::uint8_t*>(info);
    const DWORD size = ReadAt<DWORD>(base);
    DibFormat f;
    long long height = 0;
    bool core = false;
    DWORD clrUsed = 0, sizeImage = 0;
    if (size == sizeof(BITMAPCOREHEADER)) {
        const auto h = ReadAt<BITMAPCOREHEADER>(base);
        core = true;
        f.width = h.bcWidth;
        height = h.bcHeight;
        f.bpp = h.bcBitCount;
    } else if (size >= sizeof(BITMAPINFOHEADER)) {
        const auto h = ReadAt<BITMAPINFOHEADER>(base);
        f.width = h.biWidth;
        height = h.biHeight;
        f.bpp = h.biBitCount;
        f.compression = h.biCompression;
        clrUsed = h.biClrUsed;
        sizeImage = h.biSizeImage;
    } else {
        return false;
    }
    f.topDown = height < 0;
    if (height < 0) height = -height;
    if (!SizeAllowed(f.width, height)) return false;
    f.height = static_cast<int>(height);
    switch (f.compression) {
    case BI_RGB:
        if (f.bpp != 1 && f.bpp != 4 && f.bpp != 8 && f.bpp != 16 && f.bpp != 24 && f.bpp != 32)
            return false;
        if (f.bpp == 16) {
            f.masks[0] = 0x7C00;
            f.masks[1] = 0x03E0;
            f.masks[2] = 0x001F;
        } else if (f.bpp == 32) {
            f.masks[0] = 0xFF0000;
            f.masks[1] = 0x00FF00;
            f.masks[2] = 0x0000FF;
        }
        break;
    case BI_RLE8:
    case BI_RLE4:
        if (f.bpp != (f.compression == BI_RLE8 ? 8 : 4) || f.topDown || sizeImage == 0)
            return false;
        break;
    case BI_BITFIELDS: {
        if (f.bpp != 16 && f.bpp != 32) return false;
        const std::uint8_t* m = size >= 52 ? base + 40 : base + size;
        for (int i = 0; i < 3; ++i)
            f.masks[i] = ReadAt<std::uint32_t>(m + 4 * i);
        if (f.bpp == 16)
            for (auto& mask : f.masks)
                mask &= 0xFFFF;
        if ((f.masks[0] | f.masks[1] | f.masks[2]) == 0) return false;
        break;
    }
    default:
        return false;
    }
    f.stride =
        ((static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.bpp) + 31) / 32) * 4;
    f.imageSize = f.compression == BI_RLE8 || f.compression == BI_RLE4
                      ? sizeImage
                      : f.stride * static_cast<std::size_t>(f.height);
    if (f.bpp <= 8) {
        const std::size_t full = std::size_t{1} << f.bpp;
        const std::size_t count = clrUsed ? std::min<std::size_t>(clrUsed, full) : full;
        const std::uint8_t* t = base + size;
        const HPALETTE__* pal = palette ? palette : DefaultPalette();
        f.table.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            if (usage == DIB_PAL_COLORS) {
                const WORD index = ReadAt<WORD>(t + 2 * i);
                f.table[i] = index < pal->entries.size() ? RgbFromEntry(pal->entries[index]) : 0;
            } else if (core) {
                const auto q = ReadAt<RGBTRIPLE>(t + 3 * i);
                f.table[i] = (static_cast<Rgb>(q.rgbtRed) << 16) |
                             (static_cast<Rgb>(q.rgbtGreen) << 8) | q.rgbtBlue;
            } else {
                f.table[i] = RgbFromQuad(ReadAt<RGBQUAD>(t + 4 * i));
            }
        }
    }
    out = std::move(f);
    return true;
}

bool DibSurface(const DibFormat& f, const void* bits, std::vector<std::uint8_t>& scratch,
                Surface& out) {
    if (!bits) return false;
    out = Surface{};
    out.width = f.width;
    out.height = f.height;
    out.table = f.table.data();
    out.tableSize = static_cast<int>(f.table.size());
    if (f.compression == BI_RLE8 || f.compression == BI_RLE4) {
        DecodeRle(f, static_cast<const std::uint8_t*>(bits), scratch);
        out.top = scratch.data();
        out.pitch = f.width;
        out.bpp = 8;
        out.Prepare();
        return true;
    }
    auto* base = static_cast<std::uint8_t*>(const_cast<void*>(bits));
    const auto stride = static_cast<std::ptrdiff_t>(f.stride);
    out.top = f.topDown ? base : base + (f.height - 1) * stride;
    out.pitch = f.topDown ? stride : -stride;
    out.bpp = f.bpp;
    std::copy(std::begin(f.masks), std::end(f.masks), out.masks);
    out.Prepare();
    return true;
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    HDC__* d = FindDC(dc);
    if (!d) return nullptr;
    if (width == 0 || height == 0) return NewMonoBitmap(1, 1);
    return CompatibleBitmap(d, width, height);
}

HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                       const BITMAPINFO* info, UINT usage) {
    HDC__* d = FindDC(dc);
    if (!header) return nullptr;
    long long width = 0, height = 0;
    if (header->biSize == sizeof(BITMAPCOREHEADER)) {
        const auto core = ReadAt<BITMAPCOREHEADER>(reinterpret_cast<const std::uint8_t*>(header));
        width = core.bcWidth;
        height = core.bcHeight;
    } else {
        width = header->biWidth;
        height =
            header->biHeight < 0 ? -static_cast<long long>(header->biHeight) : header->biHeight;
    }
    if (!SizeAllowed(width, height)) return nullptr;
    DibFormat f;
    if ((init & CBM_INIT) && (!bits || !ParseDib(info, usage, d ? d->palette : nullptr, f)))
        return nullptr;
    HBITMAP__* b = CompatibleBitmap(d, static_cast<int>(width), static_cast<int>(height));
    if (!b) return nullptr;
    if (init & CBM_INIT) CopyRowsIn(b, f, 0, static_cast<UINT>(f.height), bits);
    return b;
}

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, void* section,
                         DWORD) {
    HDC__* d = FindDC(dc);
    if (bits) *bits = nullptr;
    DibFormat f;
    if (section || !ParseDib(info, usage, d ? d->palette : nullptr, f) ||
        f.compression == BI_RLE8 || f.compression == BI_RLE4)
        return nullptr;
    auto b = std::make_unique<HBITMAP__>();
    b->kind = HBITMAP__::Section;
    b->width = f.width;
    b->height = f.height;
    b->topDown = f.topDown;
    b->bpp = f.bpp;
    b->compression = f.compression;
    std::copy(std::begin(f.masks), std::end(f.masks), b->masks);
    b->table = f.table;
    b->stride = static_cast<std::ptrdiff_t>(f.stride);
    b->bitsSize = f.imageSize;
    b->bits.reset(new (std::nothrow) std::uint8_t[b->bitsSize]());
    if (!b->bits) return nullptr;
    if (bits) *bits = b->bits.get();
    RegisterObject(b.get());
    return b.release();
}

int SetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, const void* bits,
              const BITMAPINFO* info, UINT usage) {
    HDC__* d = FindDC(dc);
    auto* b = Find<HBITMAP__>(bitmap, OBJ_BITMAP);
    DibFormat f;
    if (!b || !bits || !ParseDib(info, usage, d ? d->palette : nullptr, f)) return 0;
    return CopyRowsIn(b, f, start, lines, bits);
}

int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info,
              UINT usage) {
    HDC__* d = FindDC(dc);
    auto* b = Find<HBITMAP__>(bitmap, OBJ_BITMAP);
    if (!d || !b || !info || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) return 0;
    BITMAPINFOHEADER& h = info->bmiHeader;
    if (!bits && h.biBitCount == 0) {
        h.biWidth = b->width;
        h.biHeight = b->height;
        h.biPlanes = 1;
        h.biBitCount = static_cast<WORD>(b->bpp);
        h.biCompression = b->kind == HBITMAP__::Section ? b->compression : BI_RGB;
        h.biSizeImage =
            static_cast<DWORD>(((static_cast<std::size_t>(b->width) * b->bpp + 31) / 32) * 4 *
                               static_cast<std::size_t>(b->height));
        h.biClrUsed = 0;
        return b->height;
    }
    const int bpp = h.biBitCount;
    if (h.biCompression != BI_RGB && !(h.biCompression == BI_BITFIELDS && (bpp == 16 || bpp == 32)))
        return 0;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return 0;
    const long long dibHeight = h.biHeight < 0 ? -static_cast<long long>(h.biHeight) : h.biHeight;
    if (!SizeAllowed(h.biWidth, dibHeight)) return 0;
    const std::size_t stride = ((static_cast<std::size_t>(h.biWidth) * bpp + 31) / 32) * 4;
    h.biSizeImage = static_cast<DWORD>(stride * static_cast<std::size_t>(dibHeight));

    // The target's colour table and whether indices can be copied unchanged.
    std::vector<Rgb> table;
    bool sameIndices = false;
    auto* tableOut = reinterpret_cast<std::uint8_t*>(info) + h.biSize;
    if (bpp <= 8) {
        const std::size_t full = std::size_t{1} << bpp;
        const std::size_t count = h.biClrUsed ? std::min<std::size_t>(h.biClrUsed, full) : full;
        if (d->palette && d->palette != DefaultPalette()) {
            table = d->palette->Colors();
        } else if ((b->kind == HBITMAP__::Section || b->kind == HBITMAP__::Mono) && b->bpp == bpp &&
                   !b->table.empty()) {
            table = b->table;
            sameIndices = table.size() <= count;
        } else {
            table = DefaultColorTable(bpp);
        }
        table.resize(count, 0);
        for (std::size_t i = 0; i < count; ++i) {
            if (usage == DIB_PAL_COLORS) {
                const WORD index = static_cast<WORD>(i);
                std::memcpy(tableOut + 2 * i, &index, sizeof index);
            } else {
                const RGBQUAD q{static_cast<BYTE>(table[i]), static_cast<BYTE>(table[i] >> 8),
                                static_cast<BYTE>(table[i] >> 16), 0};
                std::memcpy(tableOut + 4 * i, &q, sizeof q);
            }
        }
    }
    if (!bits) return static_cast<int>(dibHeight);

    Surface dst;
    dst.width = h.biWidth;
    dst.height = 1;
    dst.bpp = bpp;
    if (h.biCompression == BI_BITFIELDS) {
        const std::uint8_t* m =
            h.biSize >= 52 ? reinterpret_cast<std::uint8_t*>(info) + 40 : tableOut;
        for (int i = 0; i < 3; ++i)
            dst.masks[i] = ReadAt<std::uint32_t>(m + 4 * i);
    } else if (bpp == 16 || bpp == 32) {
        std::fill(std::begin(dst.masks), std::end(dst.masks), 0u);
    }
    dst.table = table.data();
    dst.tableSize = static_cast<int>(table.size());
    dst.Prepare();

    const Surface src = b->View();
    const int n = std::min<int>(h.biWidth, b->width);
    std::vector<std::uint32_t> raw(static_cast<std::size_t>(n));
    NearestCache cache;
    const bool topDown = h.biHeight < 0;
    if (start >= dibHeight) return 0;
    lines = static_cast<UINT>(std::min<long long>(lines, dibHeight - start));
    auto* out = static_cast<std::uint8_t*>(bits);
    int copied = 0;
    for (UINT k = 0; k < lines; ++k) {
        const long long stored = start + k;
        const long long y = topDown ? stored : dibHeight - 1 - stored;
        std::uint8_t* row = out + static_cast<std::size_t>(k) * stride;
        std::memset(row, 0, stride);
        if (y >= b->height) continue;
        dst.top = row;
        if (sameIndices) {
            src.ReadRaw(0, static_cast<int>(y), n, raw.data());
        } else {
            src.ReadRgb(0, static_cast<int>(y), n, raw.data());
            for (auto& v : raw)
                v = dst.Encode(v, cache);
        }
        dst.WriteRaw(0, 0, n, raw.data());
        ++copied;
    }
    return copied;
}

UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors) {
    HDC__* d = FindDC(dc);
    if (!d || !colors || !d->bitmap || d->bitmap->kind != HBITMAP__::Section) return 0;
    const auto& t = d->bitmap->table;
    UINT n = 0;
    for (; n < count && start + n < t.size(); ++n) {
        const Rgb c = t[start + n];
        colors[n] =
            RGBQUAD{static_cast<BYTE>(c), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c >> 16), 0};
    }
    return n;
}

UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors) {
    HDC__* d = FindDC(dc);
    if (!d || !colors || !d->bitmap || d->bitmap->kind != HBITMAP__::Section) return 0;
    auto& t = d->bitmap->table;
    UINT n = 0;
    for (; n < count && start + n < t.size(); ++n)
        t[start + n] = RgbFromQuad(colors[n]);
    return n;
}

} // namespace lum::platform::gdi
