// The handle registry, stock objects, and creating, querying and deleting
// pens, brushes, regions and bitmap objects.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "platform/gdi/gdi.h"
#include "platform/gdi/internal.h"

namespace lum::platform::gdi {

namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<const void*, std::unique_ptr<GdiObject>> objects;
    std::unordered_set<const void*> dcs;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry; // lives as long as the program
    return *registry;
}

template <class T>
T* MakeStock(T* object) {
    object->stock = true;
    RegisterObject(object);
    return object;
}

HBRUSH__* StockBrush(UINT style, COLORREF color) {
    auto* b = new HBRUSH__;
    b->brush.lbStyle = style;
    b->brush.lbColor = color;
    return MakeStock(b);
}

HPEN__* StockPen(UINT style, COLORREF color) {
    auto* p = new HPEN__;
    p->pen.lopnStyle = style;
    p->pen.lopnColor = color;
    return MakeStock(p);
}

HFONT__* StockFont(const char* face, LONG height, LONG weight) {
    auto* f = new HFONT__;
    f->font.lfFaceName = face;
    f->font.lfHeight = height;
    f->font.lfWeight = weight;
    return MakeStock(f);
}

// The platform's 20 static colours, entries 0 to 9 and 246 to 255 of the
// system palette.
constexpr BYTE kStatic[20][3] = {
    {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
    {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
    {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
    {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

struct Stock {
    GdiObject* objects[18] = {};
    HBITMAP__* mono = nullptr;
    Stock() {
        objects[WHITE_BRUSH] = StockBrush(BS_SOLID, RGB(255, 255, 255));
        objects[LTGRAY_BRUSH] = StockBrush(BS_SOLID, RGB(192, 192, 192));
        objects[GRAY_BRUSH] = StockBrush(BS_SOLID, RGB(128, 128, 128));
        objects[DKGRAY_BRUSH] = StockBrush(BS_SOLID, RGB(64, 64, 64));
        objects[BLACK_BRUSH] = StockBrush(BS_SOLID, RGB(0, 0, 0));
        objects[NULL_BRUSH] = StockBrush(BS_NULL, 0);
        objects[WHITE_PEN] = StockPen(PS_SOLID, RGB(255, 255, 255));
        objects[BLACK_PEN] = StockPen(PS_SOLID, RGB(0, 0, 0));
        objects[NULL_PEN] = StockPen(PS_NULL, 0);
        objects[OEM_FIXED_FONT] = StockFont("Courier New", -12, FW_NORMAL);
        objects[ANSI_FIXED_FONT] = StockFont("Courier New", -12, FW_NORMAL);
        objects[ANSI_VAR_FONT] = StockFont("MS Sans Serif", -11, FW_NORMAL);
        objects[SYSTEM_FONT] = StockFont("MS Shell Dlg", -11, FW_NORMAL);
        objects[DEVICE_DEFAULT_FONT] = StockFont("MS Shell Dlg", -11, FW_NORMAL);
        objects[SYSTEM_FIXED_FONT] = StockFont("Courier New", -12, FW_NORMAL);
        objects[DEFAULT_GUI_FONT] = StockFont("MS Shell Dlg", -11, FW_NORMAL);
        auto* pal = new HPALETTE__;
        for (const auto& c : kStatic)
            pal->entries.push_back(PALETTEENTRY{c[0], c[1], c[2], 0});
        objects[DEFAULT_PALETTE] = MakeStock(pal);
        mono = NewMonoBitmap(1, 1);
        mono->stock = true;
    }
};

Stock& TheStock() {
    static Stock* stock = new Stock;
    return *stock;
}

} // namespace

void RegisterObject(GdiObject* object) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.objects.emplace(object, std::unique_ptr<GdiObject>(object));
}

GdiObject* FindObject(const void* handle) {
    if (!handle) return nullptr;
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.objects.find(handle);
    return it == r.objects.end() ? nullptr : it->second.get();
}

void RegisterDC(HDC__* dc) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.dcs.insert(dc);
}

HDC__* FindDC(const void* handle) {
    if (!handle) return nullptr;
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return r.dcs.count(handle) ? static_cast<HDC__*>(const_cast<void*>(handle)) : nullptr;
}

void UnregisterDC(HDC__* dc) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.dcs.erase(dc);
}

HPALETTE__* DefaultPalette() {
    return static_cast<HPALETTE__*>(TheStock().objects[DEFAULT_PALETTE]);
}
HFONT__* DefaultFont() {
    return static_cast<HFONT__*>(TheStock().objects[SYSTEM_FONT]);
}
HBITMAP__* DefaultMonoBitmap() {
    return TheStock().mono;
}

HGDIOBJ GetStockObject(int index) {
    if (index < 0 || index >= 18) return nullptr;
    return TheStock().objects[index];
}

std::vector<Rgb> HPALETTE__::Colors() const {
    std::vector<Rgb> out;
    out.reserve(entries.size());
    for (const auto& e : entries)
        out.push_back(RgbFromEntry(e));
    return out;
}

Surface HBITMAP__::View() {
    Surface s;
    s.width = width;
    s.height = height;
    switch (kind) {
    case Device:
        s.top = image.bits();
        s.pitch = image.bytesPerLine();
        s.bpp = 32;
        s.alphaFill = 0xFF000000u;
        break;
    case Mono:
        s.top = bits.get();
        s.pitch = stride;
        s.bpp = 1;
        s.mono = true;
        break;
    case Section:
        s.top = topDown ? bits.get() : bits.get() + (height - 1) * stride;
        s.pitch = topDown ? stride : -stride;
        s.bpp = bpp;
        std::copy(std::begin(masks), std::end(masks), s.masks);
        break;
    }
    s.table = table.data();
    s.tableSize = static_cast<int>(table.size());
    s.Prepare();
    return s;
}

HBITMAP__* NewDeviceBitmap(int width, int height) {
    if (!SizeAllowed(width, height)) return nullptr;
    auto b = std::make_unique<HBITMAP__>();
    b->kind = HBITMAP__::Device;
    b->width = width;
    b->height = height;
    b->image = QImage(width, height, QImage::Format_RGB32);
    if (b->image.isNull()) return nullptr;
    b->image.fill(0xFF000000u);
    b->bpp = 32;
    b->stride = b->image.bytesPerLine();
    RegisterObject(b.get());
    return b.release();
}

HBITMAP__* NewMonoBitmap(int width, int height) {
    if (!SizeAllowed(width, height)) return nullptr;
    auto b = std::make_unique<HBITMAP__>();
    b->kind = HBITMAP__::Mono;
    b->width = width;
    b->height = height;
    b->bpp = 1;
    b->stride = ((width + 31) / 32) * 4;
    b->bitsSize = static_cast<std::size_t>(b->stride) * static_cast<std::size_t>(height);
    b->bits.reset(new (std::nothrow) std::uint8_t[b->bitsSize]());
    if (!b->bits) return nullptr;
    b->table = {0x000000, 0xFFFFFF};
    RegisterObject(b.get());
    return b.release();
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
    if (planes != 1 || (bitsPerPixel != 1 && bitsPerPixel != 32)) return nullptr;
    HBITMAP__* b =
        bitsPerPixel == 1 ? NewMonoBitmap(width, height) : NewDeviceBitmap(width, height);
    if (!b || !bits) return b;
    // Initial rows are top-down and padded to 16 bits.
    const std::size_t srcStride = ((static_cast<std::size_t>(width) * bitsPerPixel + 15) / 16) * 2;
    const auto* src = static_cast<const std::uint8_t*>(bits);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = src + y * srcStride;
        if (bitsPerPixel == 1) {
            std::memcpy(b->bits.get() + y * b->stride, row,
                        (static_cast<std::size_t>(width) + 7) / 8);
        } else {
            auto* dst = reinterpret_cast<std::uint32_t*>(b->image.scanLine(y));
            const auto* s = reinterpret_cast<const std::uint32_t*>(row);
            for (int x = 0; x < width; ++x)
                dst[x] = s[x] | 0xFF000000u;
        }
    }
    return b;
}

HPEN CreatePen(int style, int width, COLORREF color) {
    LOGPEN p;
    p.lopnStyle = static_cast<UINT>(style);
    p.lopnWidth = POINT{width, 0};
    p.lopnColor = color;
    return CreatePenIndirect(&p);
}

HPEN CreatePenIndirect(const LOGPEN* pen) {
    if (!pen || pen->lopnStyle > PS_INSIDEFRAME) return nullptr;
    auto* p = new HPEN__;
    p->pen = *pen;
    if (p->pen.lopnWidth.x < 0) p->pen.lopnWidth.x = -p->pen.lopnWidth.x;
    RegisterObject(p);
    return p;
}

HBRUSH CreateSolidBrush(COLORREF color) {
    LOGBRUSH b;
    b.lbStyle = BS_SOLID;
    b.lbColor = color;
    return CreateBrushIndirect(&b);
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) {
    if (!brush || (brush->lbStyle != BS_SOLID && brush->lbStyle != BS_NULL)) return nullptr;
    auto* b = new HBRUSH__;
    b->brush = *brush;
    RegisterObject(b);
    return b;
}

HBRUSH__* SysColorBrush(int index) {
    static HBRUSH__* brushes[31] = {};
    static std::once_flag once;
    std::call_once(once, [] {
        for (int i = 0; i < 31; ++i)
            brushes[i] = StockBrush(BS_SOLID, GetSysColor(i));
    });
    return index >= 0 && index < 31 ? brushes[index] : nullptr;
}

HBRUSH GetSysColorBrush(int index) {
    return SysColorBrush(index);
}

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
    auto* r = new HRGN__;
    r->rect = RECT{std::min(left, right), std::min(top, bottom), std::max(left, right),
                   std::max(top, bottom)};
    RegisterObject(r);
    return r;
}

HRGN CreateRectRgnIndirect(const RECT* rect) {
    return rect ? CreateRectRgn(rect->left, rect->top, rect->right, rect->bottom) : nullptr;
}

UINT GetObjectType(HGDIOBJ object) {
    if (GdiObject* o = FindObject(object)) return o->type;
    if (HDC__* dc = FindDC(object)) return dc->kind == HDC__::Window ? OBJ_DC : OBJ_MEMDC;
    return 0;
}

BOOL DeleteObject(HGDIOBJ object) {
    GdiObject* o = FindObject(object);
    if (!o || o->stock || o->selections > 0) return FALSE;
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.objects.erase(object);
    return TRUE;
}

int GetObject(HGDIOBJ object, int size, void* out) {
    GdiObject* o = FindObject(object);
    if (!o || size < 0) return 0;
    const auto need = [&](std::size_t n) { return out && static_cast<std::size_t>(size) >= n; };
    switch (o->type) {
    case OBJ_BITMAP: {
        auto* b = static_cast<HBITMAP__*>(o);
        BITMAP bm;
        bm.bmType = 0;
        bm.bmWidth = b->width;
        bm.bmHeight = b->height;
        bm.bmPlanes = 1;
        bm.bmBitsPixel = static_cast<WORD>(b->bpp);
        bm.bmWidthBytes = b->kind == HBITMAP__::Section
                              ? static_cast<LONG>(b->stride)
                              : static_cast<LONG>(((b->width * b->bpp + 15) / 16) * 2);
        bm.bmBits = b->kind == HBITMAP__::Section ? b->bits.get() : nullptr;
        if (b->kind == HBITMAP__::Section && need(sizeof(DIBSECTION))) {
            DIBSECTION ds{};
            ds.dsBm = bm;
            ds.dsBmih.biSize = sizeof(BITMAPINFOHEADER);
            ds.dsBmih.biWidth = b->width;
            ds.dsBmih.biHeight = b->topDown ? -b->height : b->height;
            ds.dsBmih.biPlanes = 1;
            ds.dsBmih.biBitCount = static_cast<WORD>(b->bpp);
            ds.dsBmih.biCompression = b->compression;
            ds.dsBmih.biSizeImage = static_cast<DWORD>(b->bitsSize);
            ds.dsBmih.biClrUsed = static_cast<DWORD>(b->table.size());
            std::copy(std::begin(b->masks), std::end(b->masks), ds.dsBitfields);
            std::memcpy(out, &ds, sizeof ds);
            return sizeof ds;
        }
        if (!need(sizeof bm)) return out ? 0 : static_cast<int>(sizeof bm);
        std::memcpy(out, &bm, sizeof bm);
        return sizeof bm;
    }
    case OBJ_PAL: {
        if (!need(sizeof(WORD))) return out ? 0 : static_cast<int>(sizeof(WORD));
        const WORD n = static_cast<WORD>(static_cast<HPALETTE__*>(o)->entries.size());
        std::memcpy(out, &n, sizeof n);
        return sizeof n;
    }
    case OBJ_PEN:
        if (!need(sizeof(LOGPEN))) return out ? 0 : static_cast<int>(sizeof(LOGPEN));
        *static_cast<LOGPEN*>(out) = static_cast<HPEN__*>(o)->pen;
        return sizeof(LOGPEN);
    case OBJ_BRUSH:
        if (!need(sizeof(LOGBRUSH))) return out ? 0 : static_cast<int>(sizeof(LOGBRUSH));
        *static_cast<LOGBRUSH*>(out) = static_cast<HBRUSH__*>(o)->brush;
        return sizeof(LOGBRUSH);
    case OBJ_FONT:
        // LOGFONT holds a string: Out must point at a constructed LOGFONT.
        if (!need(sizeof(LOGFONT))) return out ? 0 : static_cast<int>(sizeof(LOGFONT));
        *static_cast<LOGFONT*>(out) = static_cast<HFONT__*>(o)->font;
        return sizeof(LOGFONT);
    default:
        return 0;
    }
}

} // namespace lum::platform::gdi
