// Device contexts: creation, the drawing state they carry, object
// selection, clipping and the capabilities they report.
#include <algorithm>

#include "platform/base/system.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/internal.h"
#include "platform/gdi/qtgdi.h"

namespace lum::platform::gdi {

namespace {

HDC__* NewDC(HDC__::Kind kind) {
    auto* dc = new HDC__;
    dc->kind = kind;
    Swap(dc->pen, static_cast<HPEN__*>(GetStockObject(BLACK_PEN)));
    Swap(dc->brush, static_cast<HBRUSH__*>(GetStockObject(WHITE_BRUSH)));
    Swap(dc->font, DefaultFont());
    Swap(dc->palette, DefaultPalette());
    RegisterDC(dc);
    return dc;
}

void ReleaseAll(HDC__* dc) {
    Swap(dc->pen, static_cast<HPEN__*>(nullptr));
    Swap(dc->brush, static_cast<HBRUSH__*>(nullptr));
    Swap(dc->font, static_cast<HFONT__*>(nullptr));
    Swap(dc->palette, static_cast<HPALETTE__*>(nullptr));
    if (dc->bitmap) {
        dc->bitmap->selectedIn = nullptr;
        Swap(dc->bitmap, static_cast<HBITMAP__*>(nullptr));
    }
}

} // namespace

namespace {
Surface ImageSurface(QImage& image) {
    Surface out;
    out.top = image.bits();
    out.pitch = image.bytesPerLine();
    out.width = image.width();
    out.height = image.height();
    out.bpp = 32;
    out.alphaFill = 0xFF000000u;
    out.Prepare();
    return out;
}
} // namespace

std::unique_lock<std::recursive_mutex> HDC__::LockSurface() const {
    if (kind == Window && surface) return surface->Lock();
    return {};
}

std::unique_lock<std::recursive_mutex> HDC__::LockSurface(std::defer_lock_t) const {
    if (kind == Window && surface) return {surface->Mutex(), std::defer_lock};
    return {};
}

bool HDC__::Target(Surface& out) {
    switch (kind) {
    case Window: {
        if (!surface) return false;
        QImage& buffer = surface->Buffer();
        if (buffer.isNull()) return false;
        out = ImageSurface(buffer);
        return true;
    }
    case Memory:
        if (!bitmap) return false;
        out = bitmap->View();
        return true;
    case Image:
        if (!image || image->isNull()) return false;
        out = ImageSurface(*image);
        return true;
    case Dib: {
        DibFormat f;
        if (!ParseDib(dibInfo, DIB_RGB_COLORS, palette, f) || f.compression == BI_RLE8 ||
            f.compression == BI_RLE4)
            return false;
        dibTable = f.table;
        std::vector<std::uint8_t> unused;
        if (!DibSurface(f, dibBits, unused, out)) return false;
        out.table = dibTable.data();
        out.tableSize = static_cast<int>(dibTable.size());
        return true;
    }
    }
    return false;
}

HDC GetDC(const void* window) {
    HDC__* dc = NewDC(HDC__::Window);
    dc->surface = FindWindowSurface(window);
    return dc;
}

int ReleaseDC(const void*, HDC dc) {
    HDC__* d = FindDC(dc);
    if (!d || d->kind != HDC__::Window) return 0;
    ReleaseAll(d);
    UnregisterDC(d);
    delete d;
    return 1;
}

HDC CreateCompatibleDC(HDC) {
    HDC__* dc = NewDC(HDC__::Memory);
    HBITMAP__* mono = DefaultMonoBitmap();
    Swap(dc->bitmap, mono);
    return dc;
}

HDC CreateDIBDC(const BITMAPINFO* info, void* bits) {
    DibFormat f;
    if (!info || !bits || !ParseDib(info, DIB_RGB_COLORS, nullptr, f) || f.compression == BI_RLE8 ||
        f.compression == BI_RLE4)
        return nullptr;
    HDC__* dc = NewDC(HDC__::Dib);
    dc->dibInfo = info;
    dc->dibBits = bits;
    return dc;
}

HDC CreateImageDC(QImage* image) {
    if (!image || image->isNull()) return nullptr;
    const auto f = image->format();
    if (f != QImage::Format_RGB32 && f != QImage::Format_ARGB32 &&
        f != QImage::Format_ARGB32_Premultiplied)
        return nullptr;
    HDC__* dc = NewDC(HDC__::Image);
    dc->image = image;
    return dc;
}

BOOL DeleteDC(HDC dc) {
    HDC__* d = FindDC(dc);
    if (!d || d->kind == HDC__::Window) return FALSE;
    ReleaseAll(d);
    UnregisterDC(d);
    delete d;
    return TRUE;
}

int GetDeviceCaps(HDC dc, int index) {
    HDC__* d = FindDC(dc);
    if (!d) return 0;
    const ScreenInfo screen = GetScreenInfo();
    Surface s;
    const auto lock = d->LockSurface();
    const bool hasSurface = d->kind != HDC__::Window && d->Target(s);
    switch (index) {
    case TECHNOLOGY:
        return DT_RASDISPLAY;
    case HORZRES:
        return hasSurface ? s.width : screen.width;
    case VERTRES:
        return hasSurface ? s.height : screen.height;
    case BITSPIXEL:
        return d->Mono() ? 1 : 32;
    case PLANES:
        return 1;
    case NUMCOLORS:
        return d->Mono() ? 2 : -1;
    case RASTERCAPS:
        return RC_BITBLT | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
    case LOGPIXELSX:
    case LOGPIXELSY:
        return 96;
    case SIZEPALETTE:
    case NUMRESERVED:
        return 0;
    case COLORRES:
        return 24;
    default:
        return 0;
    }
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    HDC__* d = FindDC(dc);
    GdiObject* o = FindObject(object);
    if (!d || !o) return nullptr;
    switch (o->type) {
    case OBJ_PEN:
        return Swap(d->pen, static_cast<HPEN__*>(o));
    case OBJ_BRUSH:
        return Swap(d->brush, static_cast<HBRUSH__*>(o));
    case OBJ_FONT:
        return Swap(d->font, static_cast<HFONT__*>(o));
    case OBJ_BITMAP: {
        auto* b = static_cast<HBITMAP__*>(o);
        if (d->kind != HDC__::Memory) return nullptr;
        if (b == d->bitmap) return b;
        // A bitmap lives in one context at a time (the shared 1x1 default excepted).
        if (b->selectedIn && !b->stock) return nullptr;
        HBITMAP__* old = d->bitmap;
        if (old) old->selectedIn = nullptr;
        Swap(d->bitmap, b);
        if (!b->stock) b->selectedIn = d;
        return old;
    }
    case OBJ_REGION:
        return SelectClipRgn(dc, static_cast<HRGN>(object))
                   ? reinterpret_cast<HGDIOBJ>(SIMPLEREGION)
                   : nullptr;
    default:
        return nullptr;
    }
}

HGDIOBJ GetCurrentObject(HDC dc, UINT type) {
    HDC__* d = FindDC(dc);
    if (!d) return nullptr;
    switch (type) {
    case OBJ_PEN:
        return d->pen;
    case OBJ_BRUSH:
        return d->brush;
    case OBJ_FONT:
        return d->font;
    case OBJ_PAL:
        return d->palette;
    case OBJ_BITMAP:
        return d->bitmap;
    default:
        return nullptr;
    }
}

#define LUM_DC_ACCESSOR(Type, SetName, GetName, field, fail)                                       \
    Type SetName(HDC dc, Type value) {                                                             \
        HDC__* d = FindDC(dc);                                                                     \
        if (!d) return fail;                                                                       \
        Type old = d->field;                                                                       \
        d->field = value;                                                                          \
        return old;                                                                                \
    }                                                                                              \
    Type GetName(HDC dc) {                                                                         \
        HDC__* d = FindDC(dc);                                                                     \
        return d ? d->field : fail;                                                                \
    }

LUM_DC_ACCESSOR(COLORREF, SetTextColor, GetTextColor, textColor, CLR_INVALID)
LUM_DC_ACCESSOR(COLORREF, SetBkColor, GetBkColor, bkColor, CLR_INVALID)
LUM_DC_ACCESSOR(UINT, SetTextAlign, GetTextAlign, textAlign, static_cast<UINT>(GDI_ERROR))
#undef LUM_DC_ACCESSOR

int SetBkMode(HDC dc, int mode) {
    HDC__* d = FindDC(dc);
    if (!d || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    return std::exchange(d->bkMode, mode);
}
int GetBkMode(HDC dc) {
    HDC__* d = FindDC(dc);
    return d ? d->bkMode : 0;
}
int SetROP2(HDC dc, int mode) {
    HDC__* d = FindDC(dc);
    if (!d || mode < R2_BLACK || mode > R2_WHITE) return 0;
    return std::exchange(d->rop2, mode);
}
int GetROP2(HDC dc) {
    HDC__* d = FindDC(dc);
    return d ? d->rop2 : 0;
}
int SetStretchBltMode(HDC dc, int mode) {
    HDC__* d = FindDC(dc);
    if (!d || mode < BLACKONWHITE || mode > HALFTONE) return 0;
    return std::exchange(d->stretchMode, mode);
}
int GetStretchBltMode(HDC dc) {
    HDC__* d = FindDC(dc);
    return d ? d->stretchMode : 0;
}

BOOL SetViewportOrgEx(HDC dc, int x, int y, POINT* old) {
    HDC__* d = FindDC(dc);
    if (!d) return FALSE;
    if (old) *old = d->origin;
    d->origin = POINT{x, y};
    return TRUE;
}

BOOL GetViewportOrgEx(HDC dc, POINT* origin) {
    HDC__* d = FindDC(dc);
    if (!d || !origin) return FALSE;
    *origin = d->origin;
    return TRUE;
}

int SelectClipRgn(HDC dc, HRGN region) {
    HDC__* d = FindDC(dc);
    if (!d) return ERROR_REGION;
    if (!region) {
        d->clipped = false;
        return SIMPLEREGION;
    }
    auto* r = Find<HRGN__>(region, OBJ_REGION);
    if (!r) return ERROR_REGION;
    d->clipped = true;
    d->clip = r->rect;
    return r->rect.left < r->rect.right && r->rect.top < r->rect.bottom ? SIMPLEREGION : NULLREGION;
}

int IntersectClipRect(HDC dc, int left, int top, int right, int bottom) {
    HDC__* d = FindDC(dc);
    if (!d) return ERROR_REGION;
    RECT r{left + d->origin.x, top + d->origin.y, right + d->origin.x, bottom + d->origin.y};
    if (d->clipped) {
        r.left = std::max(r.left, d->clip.left);
        r.top = std::max(r.top, d->clip.top);
        r.right = std::min(r.right, d->clip.right);
        r.bottom = std::min(r.bottom, d->clip.bottom);
    }
    d->clipped = true;
    d->clip = r;
    return r.left < r.right && r.top < r.bottom ? SIMPLEREGION : NULLREGION;
}

int GetClipBox(HDC dc, RECT* rect) {
    HDC__* d = FindDC(dc);
    if (!d || !rect) return ERROR_REGION;
    Surface s;
    RECT r{0, 0, 0, 0};
    const auto lock = d->LockSurface();
    if (d->Target(s))
        r = RECT{0, 0, s.width, s.height};
    else {
        const ScreenInfo screen = GetScreenInfo();
        r = RECT{0, 0, screen.width, screen.height};
    }
    if (d->clipped) {
        r.left = std::max(r.left, d->clip.left);
        r.top = std::max(r.top, d->clip.top);
        r.right = std::min(r.right, d->clip.right);
        r.bottom = std::min(r.bottom, d->clip.bottom);
    }
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    *rect = RECT{r.left - d->origin.x, r.top - d->origin.y, r.right - d->origin.x,
                 r.bottom - d->origin.y};
    return r.left < r.right && r.top < r.bottom ? SIMPLEREGION : NULLREGION;
}

} // namespace lum::platform::gdi
