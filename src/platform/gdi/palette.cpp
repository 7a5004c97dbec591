// Logical palettes. The display has no hardware palette, so palettes are
// records: selection stores one in the context (indexed DIBs with
// DIB_PAL_COLORS read it), realisation maps nothing, and nearest-colour
// queries search the record.
#include <algorithm>
#include <cstring>

#include "platform/gdi/gdi.h"
#include "platform/gdi/internal.h"

namespace lum::platform::gdi {

HPALETTE CreatePalette(const LOGPALETTE* palette) {
    if (!palette || palette->palVersion != 0x300 || palette->palNumEntries == 0 ||
        palette->palNumEntries > 1024)
        return nullptr;
    auto* p = new HPALETTE__;
    p->entries.resize(palette->palNumEntries);
    std::memcpy(p->entries.data(), palette->palPalEntry,
                sizeof(PALETTEENTRY) * palette->palNumEntries);
    RegisterObject(p);
    return p;
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL) {
    HDC__* d = FindDC(dc);
    auto* p = Find<HPALETTE__>(palette, OBJ_PAL);
    if (!d || !p) return nullptr;
    return Swap(d->palette, p);
}

UINT RealizePalette(HDC) {
    return 0;
}

UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries) {
    auto* p = Find<HPALETTE__>(palette, OBJ_PAL);
    if (!p) return 0;
    const auto size = static_cast<UINT>(p->entries.size());
    if (!entries) return size;
    if (start >= size) return 0;
    const UINT n = std::min(count, size - start);
    std::memcpy(entries, p->entries.data() + start, sizeof(PALETTEENTRY) * n);
    return n;
}

UINT SetPaletteEntries(HPALETTE palette, UINT start, UINT count, const PALETTEENTRY* entries) {
    auto* p = Find<HPALETTE__>(palette, OBJ_PAL);
    if (!p || p->stock || !entries) return 0;
    const auto size = static_cast<UINT>(p->entries.size());
    if (start >= size) return 0;
    const UINT n = std::min(count, size - start);
    std::memcpy(p->entries.data() + start, entries, sizeof(PALETTEENTRY) * n);
    return n;
}

BOOL AnimatePalette(HPALETTE palette, UINT start, UINT count, const PALETTEENTRY* entries) {
    auto* p = Find<HPALETTE__>(palette, OBJ_PAL);
    if (!p || p->stock || !entries) return FALSE;
    const auto size = static_cast<UINT>(p->entries.size());
    if (start >= size) return FALSE;
    const UINT n = std::min(count, size - start);
    for (UINT i = 0; i < n; ++i) {
        PALETTEENTRY& e = p->entries[start + i];
        if (e.peFlags & PC_RESERVED)
            e = PALETTEENTRY{entries[i].peRed, entries[i].peGreen, entries[i].peBlue, e.peFlags};
    }
    return TRUE;
}

BOOL ResizePalette(HPALETTE palette, UINT count) {
    auto* p = Find<HPALETTE__>(palette, OBJ_PAL);
    if (!p || p->stock || count == 0 || count > 1024) return FALSE;
    p->entries.resize(count, PALETTEENTRY{0, 0, 0, 0});
    return TRUE;
}

UINT GetNearestPaletteIndex(HPALETTE palette, COLORREF color) {
    auto* p = Find<HPALETTE__>(palette, OBJ_PAL);
    if (!p) return CLR_INVALID;
    const std::vector<Rgb> colors = p->Colors();
    return static_cast<UINT>(
        NearestIndex(colors.data(), static_cast<int>(colors.size()), RgbFromColorref(color)));
}

COLORREF GetNearestColor(HDC dc, COLORREF color) {
    HDC__* d = FindDC(dc);
    if (!d) return CLR_INVALID;
    if (d->Mono()) {
        const Rgb bw[2] = {0x000000, 0xFFFFFF};
        return ColorrefFromRgb(bw[NearestIndex(bw, 2, RgbFromColorref(color))]);
    }
    return color & 0xFFFFFF;
}

UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries) {
    if (!FindDC(dc)) return 0;
    if (!entries) return 256;
    const std::vector<PALETTEENTRY>& stat = DefaultPalette()->entries;
    UINT n = 0;
    for (; n < count && start + n < 256; ++n) {
        const UINT i = start + n;
        if (i < 10)
            entries[n] = stat[i];
        else if (i >= 246)
            entries[n] = stat[i - 236];
        else
            entries[n] = PALETTEENTRY{0, 0, 0, 0};
    }
    return n;
}

} // namespace lum::platform::gdi
