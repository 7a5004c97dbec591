// Inside of the drawing service: the objects behind the handles, the
// registry that validates handles, and Surface, the one view of pixel
// memory (QImage, DIB section, packed DIB, mono bitmap) that every blit and
// shape writes through. Not for use outside platform/gdi.
#pragma once

#include <QFont>
#include <QImage>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/gdi/gditypes.h"

namespace lum::platform::gdi {

class WindowSurface;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Colours inside the service are 0x00RRGGBB (QRgb without alpha); COLORREF
// is 0x00BBGGRR.
using Rgb = std::uint32_t;

constexpr Rgb RgbFromColorref(COLORREF c) {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
constexpr COLORREF ColorrefFromRgb(Rgb c) {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
constexpr Rgb RgbFromQuad(const RGBQUAD& q) {
    return (static_cast<Rgb>(q.rgbRed) << 16) | (static_cast<Rgb>(q.rgbGreen) << 8) | q.rgbBlue;
}
constexpr Rgb RgbFromEntry(const PALETTEENTRY& e) {
    return (static_cast<Rgb>(e.peRed) << 16) | (static_cast<Rgb>(e.peGreen) << 8) | e.peBlue;
}

// Index of the colour nearest to C in Table (squared RGB distance, first of
// equals).
int NearestIndex(const Rgb* table, int count, Rgb c);

// Remembers recent nearest-colour answers for one table during one call.
class NearestCache {
public:
    int Lookup(const Rgb* table, int count, Rgb c);

private:
    std::array<std::uint32_t, 1024> keys_{}; // colour | 0x01000000 when used
    std::array<std::uint8_t, 1024> values_{};
};

// One rectangle of pixels in any supported layout. Raw values are the
// surface's own pixel values: indices for 8 bits or less, packed mask
// values for 16 and 32 bits, 0x00RRGGBB for 24 and plain 32 bits. Raster
// operations combine raw values.
struct Surface {
    std::uint8_t* top = nullptr; // first byte of the top row
    std::ptrdiff_t pitch = 0;    // bytes from a row to the one below it
    int width = 0;
    int height = 0;
    int bpp = 32;
    std::uint32_t masks[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    const Rgb* table = nullptr; // colour table for 8 bits or less
    int tableSize = 0;
    bool mono = false;                // a monochrome device bitmap
    std::uint32_t alphaFill = 0;      // ORed into 32-bit writes (QImage memory)
    std::uint32_t rawMask = 0xFFFFFF; // bits that carry colour

    // Fills masks, rawMask and the shift tables from bpp and masks.
    void Prepare();
    std::uint8_t* Row(int y) const { return top + y * pitch; }
    bool Plain32() const {
        return bpp == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF;
    }

    void ReadRaw(int x, int y, int n, std::uint32_t* out) const;
    void WriteRaw(int x, int y, int n, const std::uint32_t* in) const;
    Rgb Decode(std::uint32_t raw) const;
    void DecodeRow(int n, const std::uint32_t* raw, Rgb* out) const;
    std::uint32_t Encode(Rgb c, NearestCache& cache) const;
    void ReadRgb(int x, int y, int n, Rgb* out) const;

    int shift[3] = {16, 8, 0};
    int bits[3] = {8, 8, 8};
};

// Truth tables of the binary (pen, destination) and ternary (pattern,
// source, destination) raster operations, on raw values.
std::uint32_t ApplyRop2(int code, std::uint32_t pen, std::uint32_t dst);
std::uint32_t ApplyRop3(std::uint8_t code, std::uint32_t pat, std::uint32_t src, std::uint32_t dst);
constexpr bool Rop3UsesSource(std::uint8_t code) {
    return ((code >> 2) & 0x33) != (code & 0x33);
}
constexpr bool Rop3UsesPattern(std::uint8_t code) {
    return ((code >> 4) & 0x0F) != (code & 0x0F);
}
constexpr bool Rop3UsesDest(std::uint8_t code) {
    return ((code >> 1) & 0x55) != (code & 0x55);
}

struct GdiObject {
    explicit GdiObject(UINT t) : type(t) {}
    virtual ~GdiObject() = default;
    UINT type;
    bool stock = false;
    // Contexts holding it; contexts on several threads (a window drawn on
    // from a timer thread) share the stock objects.
    std::atomic<int> selections{0};
};

} // namespace lum::platform::gdi

// The handle types are the objects themselves.
struct lum::platform::gdi::HBITMAP__ : lum::platform::gdi::GdiObject {
    HBITMAP__() : GdiObject(OBJ_BITMAP) {}
    enum Kind { Device, Mono, Section } kind = Device;
    int width = 0;
    int height = 0;
    QImage image; // Device
    // Mono and Section pixel memory; sections are bottom-up unless topDown.
    std::unique_ptr<std::uint8_t[]> bits;
    std::size_t bitsSize = 0;
    std::ptrdiff_t stride = 0;
    bool topDown = false;
    int bpp = 32;
    DWORD compression = BI_RGB;
    std::uint32_t masks[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    std::vector<Rgb> table; // Section at 8 bits or less; Mono black and white
    HDC__* selectedIn = nullptr;

    Surface View();
};

struct lum::platform::gdi::HPALETTE__ : lum::platform::gdi::GdiObject {
    HPALETTE__() : GdiObject(OBJ_PAL) {}
    std::vector<PALETTEENTRY> entries;
    std::vector<Rgb> Colors() const;
};

struct lum::platform::gdi::HPEN__ : lum::platform::gdi::GdiObject {
    HPEN__() : GdiObject(OBJ_PEN) {}
    LOGPEN pen;
};

struct lum::platform::gdi::HBRUSH__ : lum::platform::gdi::GdiObject {
    HBRUSH__() : GdiObject(OBJ_BRUSH) {}
    LOGBRUSH brush;
};

struct lum::platform::gdi::HFONT__ : lum::platform::gdi::GdiObject {
    HFONT__() : GdiObject(OBJ_FONT) {}
    LOGFONT font;
    // The Qt font, made on first use (it needs a QGuiApplication); null
    // when there is none.
    const QFont* Resolve();

private:
    std::mutex mutex_;
    std::optional<QFont> qfont_;
};

struct lum::platform::gdi::HRGN__ : lum::platform::gdi::GdiObject {
    HRGN__() : GdiObject(OBJ_REGION) {}
    RECT rect;
};

struct lum::platform::gdi::HDC__ {
    enum Kind { Window, Memory, Image, Dib } kind = Window;
    HBITMAP__* bitmap = nullptr; // Memory
    QImage* image = nullptr;     // Image
    // Window: the window's back buffer, or null for a window without one.
    std::shared_ptr<lum::platform::gdi::WindowSurface> surface;
    const BITMAPINFO* dibInfo = nullptr;
    void* dibBits = nullptr;
    std::vector<Rgb> dibTable; // refreshed from dibInfo for every call

    HPEN__* pen = nullptr;
    HBRUSH__* brush = nullptr;
    HFONT__* font = nullptr;
    HPALETTE__* palette = nullptr;
    COLORREF textColor = 0x000000;
    COLORREF bkColor = 0xFFFFFF;
    int bkMode = OPAQUE;
    int rop2 = R2_COPYPEN;
    int stretchMode = BLACKONWHITE;
    UINT textAlign = 0;
    POINT pos{};
    POINT origin{};
    bool clipped = false;
    RECT clip{}; // device coordinates

    // The pixels drawn on; false when there are none (a window without a
    // surface). A window's pixels may be used only under LockSurface.
    bool Target(Surface& out);
    // The window surface's lock; empty for other contexts.
    std::unique_lock<std::recursive_mutex> LockSurface() const;
    std::unique_lock<std::recursive_mutex> LockSurface(std::defer_lock_t) const;
    bool Mono() const { return kind == Memory && bitmap && bitmap->kind == HBITMAP__::Mono; }
};

namespace lum::platform::gdi {

// Handle registry. Find gives the live object of that type or null.
void RegisterObject(GdiObject* object);
GdiObject* FindObject(const void* handle);
template <class T>
T* Find(const void* handle, UINT type) {
    GdiObject* o = FindObject(handle);
    return o && o->type == type ? static_cast<T*>(o) : nullptr;
}
void RegisterDC(HDC__* dc);
HDC__* FindDC(const void* handle);
void UnregisterDC(HDC__* dc);

// Selection bookkeeping: Select puts Object into Slot, counting it.
template <class T>
T* Swap(T*& slot, T* object) {
    T* old = slot;
    if (object) ++object->selections;
    if (old) --old->selections;
    slot = object;
    return old;
}

HPALETTE__* DefaultPalette();
HFONT__* DefaultFont();
HBITMAP__* DefaultMonoBitmap();
HBRUSH__* SysColorBrush(int index);

// The colour table of a bitmap of Bpp (1, 4 or 8) bits that has none of
// its own: black and white, the 16 VGA colours, or the static colours
// around a 6x6x6 cube.
std::vector<Rgb> DefaultColorTable(int bpp);

// Largest image accepted, per side and in all.
constexpr int kMaxSide = 65535;
constexpr long long kMaxPixels = 1LL << 28;
inline bool SizeAllowed(long long w, long long h) {
    return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && w * h <= kMaxPixels;
}

// A fresh bitmap object, registered; null when the size is refused or
// memory is short.
HBITMAP__* NewDeviceBitmap(int width, int height);
HBITMAP__* NewMonoBitmap(int width, int height);

// The parsed form of a BITMAPINFO and its pixels.
struct DibFormat {
    int width = 0;
    int height = 0; // rows, always positive
    bool topDown = false;
    int bpp = 0;
    DWORD compression = BI_RGB;
    std::uint32_t masks[3] = {0, 0, 0};
    std::vector<Rgb> table;
    std::size_t stride = 0;    // bytes per stored row
    std::size_t imageSize = 0; // bytes of pixel data (stride * height, or biSizeImage for RLE)
};
// False for headers this service cannot read. Palette is the context's,
// for DIB_PAL_COLORS tables.
bool ParseDib(const BITMAPINFO* info, UINT usage, const HPALETTE__* palette, DibFormat& out);
// A surface over uncompressed pixels in Format, or over Scratch after
// decoding RLE (8 bits per pixel, top-down, Format's table).
bool DibSurface(const DibFormat& format, const void* bits, std::vector<std::uint8_t>& scratch,
                Surface& out);

} // namespace lum::platform::gdi
