// DrawDib over the drawing service. A handle keeps the begun format and
// sizes and one buffered image: the last frame's bits for uncompressed
// formats, the decoded index picture for RLE ones (with the format's
// colour table), which delta frames are decoded onto.
#include "platform/vfw/drawdib.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/base/rle.h"
#include "platform/gdi/gdi.h"

namespace lum::platform::vfw {

namespace {

constexpr BOOL kTrue = 1;
constexpr BOOL kFalse = 0;

// A format this service draws, parsed from its header.
struct Format {
    int width = 0;
    int height = 0; // rows, positive
    bool topDown = false;
    int bits = 0;
    DWORD compression = BI_RGB;
    std::size_t headerBytes = 0; // header, masks and colour table
    std::size_t stride = 0;      // bytes a row of the uncompressed picture
    std::size_t image = 0;       // stride * height
    DWORD sizeImage = 0;         // biSizeImage as given

    bool Rle() const { return compression == BI_RLE8 || compression == BI_RLE4; }
    bool Same(const Format& o) const {
        return width == o.width && height == o.height && topDown == o.topDown && bits == o.bits &&
               compression == o.compression;
    }
};

// Formats may name their compression by a four-character code, as the
// library's stream formats do ("None" for 0, "Rle8" for 1).
DWORD CompressionOf(DWORD code) {
    auto upper = [](DWORD c) {
        DWORD out = 0;
        for (int i = 0; i < 4; ++i) {
            DWORD b = (c >> (8 * i)) & 0xFF;
            if (b >= 'a' && b <= 'z') b -= 'a' - 'A';
            out |= b << (8 * i);
        }
        return out;
    };
    const DWORD c = upper(code);
    if (c == upper(MakeFourCC("None")) || c == MakeFourCC("DIB ") || c == MakeFourCC("RGB ") ||
        c == MakeFourCC("RAW "))
        return BI_RGB;
    if (c == MakeFourCC("RLE8")) return BI_RLE8;
    if (c == MakeFourCC("RLE4")) return BI_RLE4;
    return code;
}

bool Parse(const BITMAPINFOHEADER* h, Format& f) {
    if (!h || h->biSize < sizeof(BITMAPINFOHEADER) || h->biSize > 4096 || h->biPlanes != 1)
        return false;
    const long long w = h->biWidth, rows = h->biHeight < 0 ? -static_cast<long long>(h->biHeight)
                                                           : static_cast<long long>(h->biHeight);
    if (w <= 0 || rows <= 0 || w > 65535 || rows > 65535 || w * rows > (1LL << 28)) return false;
    f.width = static_cast<int>(w);
    f.height = static_cast<int>(rows);
    f.topDown = h->biHeight < 0;
    f.bits = h->biBitCount;
    f.compression = CompressionOf(h->biCompression);
    switch (f.compression) {
    case BI_RGB:
        if (f.bits != 1 && f.bits != 4 && f.bits != 8 && f.bits != 16 && f.bits != 24 &&
            f.bits != 32)
            return false;
        break;
    case BI_BITFIELDS:
        if (f.bits != 16 && f.bits != 32) return false;
        break;
    case BI_RLE8:
        if (f.bits != 8 || f.topDown) return false;
        break;
    case BI_RLE4:
        if (f.bits != 4 || f.topDown) return false;
        break;
    default:
        return false; // compressed frames are decoded by the frame decoder
    }
    std::size_t colours = 0;
    if (f.bits <= 8) {
        const std::size_t most = std::size_t{1} << f.bits;
        colours = h->biClrUsed == 0 ? most : std::min<std::size_t>(h->biClrUsed, most);
    }
    const std::size_t masks =
        f.compression == BI_BITFIELDS && h->biSize == sizeof(BITMAPINFOHEADER) ? 12 : 0;
    f.headerBytes = h->biSize + masks + colours * sizeof(RGBQUAD);
    f.stride = (static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.bits) + 31) / 32 * 4;
    f.image = f.stride * static_cast<std::size_t>(f.height);
    f.sizeImage = h->biSizeImage;
    return true;
}

} // namespace

struct HDRAWDIB__ {
    bool begun = false;
    Format format;
    int dstWidth = 0;
    int dstHeight = 0;
    int srcWidth = 0;
    int srcHeight = 0;
    // The buffered image as a packed DIB's two halves: a header (for RLE
    // formats an 8-bit uncompressed one with the format's colours) and
    // the bits.
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> bits;
    bool buffered = false;
    DRAWDIBSTATS stats;

    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(header.data()); }
};

namespace {

struct Handles {
    std::mutex mutex;
    std::unordered_set<const void*> live;
};

Handles& TheHandles() {
    static Handles* handles = new Handles; // used until exit
    return *handles;
}

HDRAWDIB Find(HDRAWDIB hdd) {
    if (!hdd) return nullptr;
    Handles& h = TheHandles();
    std::lock_guard lock(h.mutex);
    return h.live.count(hdd) ? hdd : nullptr;
}

bool Begin(HDRAWDIB d, int dstWidth, int dstHeight, const BITMAPINFOHEADER* format, int srcWidth,
           int srcHeight) {
    Format f;
    if (!Parse(format, f)) {
        d->begun = false;
        d->buffered = false;
        return false;
    }
    // Formats of the same picture keep the buffer, so a delta frame after
    // a new Begin still lands on the frame before it.
    if (!d->begun || !f.Same(d->format)) d->buffered = false;
    d->begun = true;
    d->format = f;
    d->srcWidth = srcWidth < 0 ? f.width : srcWidth;
    d->srcHeight = srcHeight < 0 ? f.height : srcHeight;
    d->dstWidth = dstWidth < 0 ? d->srcWidth : dstWidth;
    d->dstHeight = dstHeight < 0 ? d->srcHeight : dstHeight;
    const auto* raw = reinterpret_cast<const std::uint8_t*>(format);
    d->header.assign(raw, raw + f.headerBytes);
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(d->header.data());
    if (f.Rle()) {
        // The picture RLE data is decoded onto: one index a byte.
        const std::size_t colours = (f.headerBytes - h->biSize) / sizeof(RGBQUAD);
        std::vector<std::uint8_t> table(d->header.begin() + h->biSize, d->header.end());
        d->header.resize(sizeof(BITMAPINFOHEADER));
        d->header.insert(d->header.end(), table.begin(), table.end());
        h = reinterpret_cast<BITMAPINFOHEADER*>(d->header.data());
        h->biSize = sizeof(BITMAPINFOHEADER);
        h->biBitCount = 8;
        h->biCompression = BI_RGB;
        h->biClrUsed = static_cast<DWORD>(colours);
        const std::size_t stride = (static_cast<std::size_t>(f.width) + 3) & ~std::size_t{3};
        h->biSizeImage = static_cast<DWORD>(stride * static_cast<std::size_t>(f.height));
    } else {
        h->biCompression = f.compression;
        h->biSizeImage = static_cast<DWORD>(f.image);
    }
    if (!d->buffered) d->bits.assign(h->biSizeImage, 0);
    return true;
}

// Takes a frame into the buffer; false when its data cannot be read.
bool Take(HDRAWDIB d, const void* bits) {
    const Format& f = d->format;
    const auto* in = static_cast<const std::uint8_t*>(bits);
    if (f.Rle()) {
        if (f.sizeImage == 0) return false;
        const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(d->header.data());
        const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(h->biSizeImage) / f.height;
        DecodeRle(in, f.sizeImage, f.compression == BI_RLE8, f.width, f.height, d->bits.data(),
                  stride);
    } else {
        // Bits shorter than the picture are not read past their end.
        if (f.sizeImage != 0 && f.sizeImage < f.image) return false;
        std::memcpy(d->bits.data(), in, f.image);
    }
    d->buffered = true;
    return true;
}

bool Put(HDRAWDIB d, HDC dc, int x, int y, int dstWidth, int dstHeight, int srcX, int srcY,
         int srcWidth, int srcHeight, UINT flags) {
    const Format& f = d->format;
    // The source rectangle counts from the picture's top; a bottom-up
    // DIB's rows count from its bottom.
    const int rowFromBottom = f.topDown ? srcY : f.height - srcY - srcHeight;
    const int mode =
        gdi::SetStretchBltMode(dc, (flags & DDF_HALFTONE) ? gdi::HALFTONE : gdi::COLORONCOLOR);
    const int lines =
        gdi::StretchDIBits(dc, x, y, dstWidth, dstHeight, srcX, rowFromBottom, srcWidth, srcHeight,
                           d->bits.data(), d->Info(), gdi::DIB_RGB_COLORS, gdi::SRCCOPY);
    if (mode) gdi::SetStretchBltMode(dc, mode);
    return lines != 0;
}

} // namespace

HDRAWDIB DrawDibOpen() {
    auto* d = new HDRAWDIB__;
    Handles& h = TheHandles();
    std::lock_guard lock(h.mutex);
    h.live.insert(d);
    return d;
}

BOOL DrawDibClose(HDRAWDIB hdd) {
    HDRAWDIB d = Find(hdd);
    if (!d) return kFalse;
    {
        Handles& h = TheHandles();
        std::lock_guard lock(h.mutex);
        h.live.erase(d);
    }
    delete d;
    return kTrue;
}

BOOL DrawDibBegin(HDRAWDIB hdd, HDC dc, int dstWidth, int dstHeight, const BITMAPINFOHEADER* format,
                  int srcWidth, int srcHeight, UINT) {
    HDRAWDIB d = Find(hdd);
    if (!d || !dc) return kFalse;
    return Begin(d, dstWidth, dstHeight, format, srcWidth, srcHeight) ? kTrue : kFalse;
}

BOOL DrawDibEnd(HDRAWDIB hdd) {
    HDRAWDIB d = Find(hdd);
    if (!d) return kFalse;
    d->begun = false;
    d->buffered = false;
    d->bits.clear();
    d->bits.shrink_to_fit();
    return kTrue;
}

BOOL DrawDibDraw(HDRAWDIB hdd, HDC dc, int x, int y, int dstWidth, int dstHeight,
                 const BITMAPINFOHEADER* format, const void* bits, int srcX, int srcY, int srcWidth,
                 int srcHeight, UINT flags) {
    HDRAWDIB d = Find(hdd);
    if (!d || !dc) return kFalse;
    auto refuse = [d] {
        ++d->stats.refused;
        return kFalse;
    };
    if (flags & DDF_UPDATE) {
        if (!d->begun || !d->buffered) return refuse();
        if (!Put(d, dc, x, y, d->dstWidth, d->dstHeight, 0, 0, d->srcWidth, d->srcHeight, flags))
            return refuse();
        ++d->stats.drawn;
        ++d->stats.updates;
        return kTrue;
    }
    if (format) {
        Format f;
        if (!Parse(format, f)) return refuse();
        if (!d->begun || !f.Same(d->format)) {
            if (!Begin(d, dstWidth, dstHeight, format, srcWidth, srcHeight)) return refuse();
        } else {
            d->format.sizeImage = f.sizeImage; // each frame brings its own size
        }
    }
    if (!d->begun || !bits) return refuse();
    if (!Take(d, bits)) return refuse();
    if (flags & (DDF_HURRYUP | DDF_DONTDRAW)) {
        ++d->stats.hurried;
        return kTrue;
    }
    const Format& f = d->format;
    if (dstWidth < 0 || dstWidth == 0) dstWidth = d->dstWidth;
    if (dstHeight < 0 || dstHeight == 0) dstHeight = d->dstHeight;
    if (srcWidth < 0) srcWidth = f.width;
    if (srcHeight < 0) srcHeight = f.height;
    if (!Put(d, dc, x, y, dstWidth, dstHeight, srcX, srcY, srcWidth, srcHeight, flags))
        return refuse();
    ++d->stats.drawn;
    return kTrue;
}

UINT DrawDibRealize(HDRAWDIB hdd, HDC dc, BOOL) {
    if (!Find(hdd) || !dc || gdi::GetObjectType(dc) == 0) return static_cast<UINT>(gdi::GDI_ERROR);
    return 0;
}

BOOL DrawDibStart(HDRAWDIB hdd, DWORD rate) {
    HDRAWDIB d = Find(hdd);
    if (!d) return kFalse;
    d->stats.rate = rate;
    return kTrue;
}

BOOL DrawDibStop(HDRAWDIB hdd) {
    return Find(hdd) ? kTrue : kFalse;
}

BOOL DrawDibGetStats(HDRAWDIB hdd, DRAWDIBSTATS* stats) {
    HDRAWDIB d = Find(hdd);
    if (!d || !stats) return kFalse;
    *stats = d->stats;
    return kTrue;
}

} // namespace lum::platform::vfw
