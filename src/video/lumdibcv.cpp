// TLumDIBCanvas: building the DIB section with its palette and background,
// drawing passes, colours, copies to a context and colour animation.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "core/lumutils.h"
#include "platform/gdi/gdi.h"
#include "video/lumdibcv.h"
#include "video/lumdibcv_state.h"

namespace lum {

namespace gdi = platform::gdi;
using platform::PALETTEENTRY;
using platform::RGBQUAD;

namespace {

constexpr int kPaletteBytes = 4 + 256 * 4 + 4; // room for 256 entries and a spare
constexpr COLORREF kPaletteIndex = 0x01000000;

const char* const kInPass = "Attempt to create new DIB while initialized for drawing";

COLORREF EntryColor(const PALETTEENTRY& e) {
    return e.peRed | (e.peGreen << 8) | (static_cast<COLORREF>(e.peBlue) << 16);
}

PALETTEENTRY Entry(COLORREF c, platform::BYTE flags) {
    return PALETTEENTRY{static_cast<platform::BYTE>(c & 0xFF),
                        static_cast<platform::BYTE>((c >> 8) & 0xFF),
                        static_cast<platform::BYTE>((c >> 16) & 0xFF), flags};
}

int BitsOf(gdi::TPixelFormat format) {
    switch (format) {
    case gdi::pf1bit:
        return 1;
    case gdi::pf4bit:
        return 4;
    case gdi::pf8bit:
        return 8;
    default:
        return 24;
    }
}

} // namespace

TLumDIBCanvas::TLumDIBCanvas() : FBackGround(std::make_unique<TBitmap>()) {
    FBackGround->OnChange = [this](TBitmap*) {
        // A picture changed during a pass is taken at the next one.
        if (FPasses > 0)
            FNeedsRebuild = true;
        else
            RecreateDIB();
    };
}

TLumDIBCanvas::~TLumDIBCanvas() {
    while (FPasses > 0)
        DIB_DoneDrawing();
    FBackGround->OnChange = nullptr;
    SetHandle(nullptr);
    DestroyDIB();
    if (FMemDC) gdi::DeleteDC(FMemDC);
    GlobalFreeMem(FLogPalette);
}

// --- Properties ---

void TLumDIBCanvas::Rebuild() {
    if (FPasses > 0) throw ELumDIBError(kInPass);
    RecreateDIB();
}

void TLumDIBCanvas::SetBitsPerPixel(int value) {
    if (value != 8 && value != 24) throw ELumDIBError("Bitlength not supported yet");
    if (value == FBitsPerPixel) return;
    if (FPasses > 0) throw ELumDIBError(kInPass);
    FBitsPerPixel = value;
    Rebuild();
}

void TLumDIBCanvas::SetPaletteRealize(bool value) {
    if (value == FPaletteRealize) return;
    if (FPasses > 0) throw ELumDIBError(kInPass);
    FPaletteRealize = value;
    Rebuild();
}

void TLumDIBCanvas::SetBackGroundBitmap(const TBitmap* value) {
    if (FPasses > 0) throw ELumDIBError(kInPass);
    // One rebuild for the whole copy.
    auto handler = std::move(FBackGround->OnChange);
    FBackGround->OnChange = nullptr;
    if (value)
        FBackGround->Assign(*value);
    else
        FBackGround->SetHandle(nullptr);
    FBackGround->OnChange = std::move(handler);
    Rebuild();
}

void TLumDIBCanvas::SetStretchBackGround(bool value) {
    if (value == FStretchBackGround) return;
    if (FPasses > 0 && !FBackGround->Empty()) throw ELumDIBError(kInPass);
    FStretchBackGround = value;
    if (!FBackGround->Empty()) Rebuild();
}

void TLumDIBCanvas::SetBounds(int, int, int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == FWidth && height == FHeight) return;
    FWidth = width;
    FHeight = height;
    FClipRect = TRect{0, 0, width, height};
    // Rebuilt at the next handle use or pass outside a pass; a pass going
    // on keeps drawing on the section it opened with.
    SetHandle(nullptr);
    FNeedsRebuild = true;
}

bool TLumDIBCanvas::SetLogPalette(const TLogPalette* palette) {
    if (palette && (palette->palVersion != 0x300 || palette->palNumEntries > 256)) return false;
    if (FPasses > 0) throw ELumDIBError(kInPass);
    GlobalFreeMem(FLogPalette);
    if (palette) {
        FLogPalette = static_cast<PLogPalette>(GlobalAllocMem(kPaletteBytes));
        std::memcpy(FLogPalette, palette, 4 + 4 * static_cast<std::size_t>(palette->palNumEntries));
    }
    Rebuild();
    return true;
}

// --- The bitmap ---

void TLumDIBCanvas::NeedMemoryDC() {
    if (FMemDC) return;
    HDC screen = gdi::GetDC(nullptr);
    FMemDC = gdi::CreateCompatibleDC(screen);
    gdi::ReleaseDC(nullptr, screen);
    if (!FMemDC) throw ELumDIBError("Unable to access DIB device context");
}

void TLumDIBCanvas::CreateHandle() {
    NeedMemoryDC();
    if (FPasses == 0) CheckDIB();
    if (FBitmap) SetHandle(FMemDC, false);
}

void TLumDIBCanvas::CheckDIB() {
    if (FPasses > 0 || (!FNeedsRebuild && FBitmap)) return;
    RecreateDIB();
}

void TLumDIBCanvas::RecreateDIB() {
    if (FPasses > 0) throw ELumDIBError(kInPass);
    NeedMemoryDC();
    DestroyDIB();
    CreateDIB();
}

void TLumDIBCanvas::CreateDIB() {
    SetHandle(nullptr);
    FNeedsRebuild = true; // until the section is there
    const int width = std::max(FWidth, 1), height = std::max(FHeight, 1);
    FHeader = DIB_Create(FBitsPerPixel, DIB_ORIENT, width, height * DIB_ORIENT, false);
    if (!FHeader) return;

    PLogPalette record = CreateSystemColorPalette();
    if (!record) {
        DestroyDIB();
        return;
    }
    PALETTEENTRY* entries = record->palPalEntry;
    if (!FBackGround->Empty()) {
        // Only the colours the picture has: a 16-colour picture gives 10 to
        // 15, a picture of more than 8 bits none.
        const int bits = BitsOf(FBackGround->GetPixelFormat());
        PBitmapInfoHeader picture =
            DIB_BitmapToDIB(FBackGround->GetHandle(), nullptr, bits, DIB_ORIENT);
        if (picture) {
            const auto* colors = static_cast<const RGBQUAD*>(DIB_Colors(picture));
            const int count =
                static_cast<int>(std::min<std::uint32_t>(DIB_NumColors(picture), 245));
            for (int i = 10; i < count; ++i)
                entries[i] =
                    PALETTEENTRY{colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue, 0};
            DIB_Free(picture);
        }
    } else if (FLogPalette) {
        for (int i = 10; i <= 246; ++i) {
            entries[i] = FLogPalette->palPalEntry[i];
            entries[i].peFlags = gdi::PC_NOCOLLAPSE;
        }
    }

    // Animated entries get colours found nowhere else in the palette, the
    // smallest such RGB numbers, so that nearest-colour lookups never pick
    // them by accident.
    if (FAnimCount > 0) {
        FFirstAnimIndex = 247 - FAnimCount;
        std::set<COLORREF> used;
        for (int i = 0; i < 256; ++i)
            if (i < FFirstAnimIndex || i > 246) used.insert(EntryColor(entries[i]));
        FAnimColors.assign(static_cast<std::size_t>(FAnimCount), 0);
        COLORREF next = 0;
        for (int i = FFirstAnimIndex; i <= 246; ++i) {
            while (used.count(next))
                ++next;
            entries[i] = Entry(next, gdi::PC_RESERVED);
            FAnimColors[static_cast<std::size_t>(i - FFirstAnimIndex)] = next;
            used.insert(next);
        }
    } else {
        FFirstAnimIndex = 256;
        FAnimColors.clear();
    }

    if (FBitsPerPixel <= 8) {
        auto* table = static_cast<RGBQUAD*>(DIB_Colors(FHeader));
        for (int i = 0; i < 256; ++i)
            table[i] = RGBQUAD{
                entries[i].peBlue, entries[i].peGreen, entries[i].peRed,
                static_cast<platform::BYTE>(i >= 10 && i <= 245 && i < FFirstAnimIndex ? 4 : 0)};
    }
    FPalette = gdi::CreatePalette(record);
    DIB_Free(record);

    const auto* info = reinterpret_cast<const platform::BITMAPINFO*>(FHeader);
    if (!FBackGround->Empty() && !BuildBackGround()) {
        DestroyDIB();
        return;
    }
    void* bits = nullptr;
    FBitmap = gdi::CreateDIBSection(FMemDC, info, gdi::DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!FBitmap) {
        DestroyDIB();
        return;
    }
    FBits = static_cast<std::uint8_t*>(bits);
    FOldBitmap = gdi::SelectObject(FMemDC, FBitmap);
    gdi::PatBlt(FMemDC, 0, 0, width, height, gdi::BLACKNESS);
    FNeedsRebuild = false;
    SetHandle(FMemDC, false);
}

bool TLumDIBCanvas::BuildBackGround() {
    const auto* info = reinterpret_cast<const platform::BITMAPINFO*>(FHeader);
    void* bits = nullptr;
    FBackBitmap = gdi::CreateDIBSection(FMemDC, info, gdi::DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!FBackBitmap) return false;
    FBackBits = static_cast<std::uint8_t*>(bits);
    HDC dc = gdi::CreateCompatibleDC(FMemDC);
    if (!dc) return false;
    const platform::gdi::HGDIOBJ old = gdi::SelectObject(dc, FBackBitmap);
    gdi::SetStretchBltMode(dc, gdi::COLORONCOLOR);
    HDC picture = FBackGround->GetCanvas().GetHandle();
    const int width = std::max(FWidth, 1), height = std::max(FHeight, 1);
    const int pw = FBackGround->GetWidth(), ph = FBackGround->GetHeight();
    if (FStretchBackGround) {
        gdi::StretchBlt(dc, 0, 0, width, height, picture, 0, 0, pw, ph, gdi::SRCCOPY);
    } else {
        for (int y = 0; y < height; y += ph)
            for (int x = 0; x < width; x += pw)
                gdi::BitBlt(dc, x, y, pw, ph, picture, 0, 0, gdi::SRCCOPY);
    }
    gdi::SelectObject(dc, old);
    gdi::DeleteDC(dc);
    return true;
}

void TLumDIBCanvas::DestroyDIB() {
    SetHandle(nullptr);
    if (FBackBitmap) gdi::DeleteObject(FBackBitmap);
    FBackBitmap = nullptr;
    FBackBits = nullptr;
    if (FBitmap) {
        gdi::SelectObject(FMemDC, FOldBitmap);
        gdi::DeleteObject(FBitmap);
    }
    FBitmap = nullptr;
    FOldBitmap = nullptr;
    FBits = nullptr;
    if (FPalette) gdi::DeleteObject(FPalette);
    FPalette = nullptr;
    if (FHeader) DIB_Free(FHeader);
    FHeader = nullptr;
    FNeedsRebuild = true;
}

// --- Passes ---

void TLumDIBCanvas::DIB_InitDrawing() {
    std::recursive_mutex& lock = dibcv::PassMutex();
    lock.lock();
    TLumDIBDrawState s;
    try {
        Changing();
        CheckDIB();
        s.biBits = FBitsPerPixel;
        s.biBPP = FBitsPerPixel / 8;
        if (FHeader && FBits) {
            s.biWidth = DIB_Width(FHeader);
            s.biHeight = std::abs(DIB_Height(FHeader));
            s.biScanWidth = static_cast<int>(DIB_WidthBytes(FHeader));
            s.biSurface = FBits;
        }
        s.biClipRect = FClipRect;
        if (FBitsPerPixel <= 8 && FHeader) {
            const auto* table = static_cast<const RGBQUAD*>(DIB_Colors(FHeader));
            s.biColors.assign(table, table + 256);
        } else if (FPalette) {
            PALETTEENTRY entries[256];
            const platform::UINT n = gdi::GetPaletteEntries(FPalette, 0, 256, entries);
            for (platform::UINT i = 0; i < n; ++i)
                s.biColors.push_back(
                    RGBQUAD{entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0});
        }
    } catch (...) {
        lock.unlock();
        throw;
    }
    dibcv::OpenPass(s, DIB_ORIENT != 1);
    ++FPasses;
    lock.unlock();
}

void TLumDIBCanvas::DIB_DoneDrawing() {
    if (FPasses == 0) return;
    std::recursive_mutex& lock = dibcv::PassMutex();
    lock.lock();
    --FPasses;
    dibcv::ClosePass();
    try {
        Changed();
    } catch (...) {
        lock.unlock();
        throw;
    }
    lock.unlock();
}

void TLumDIBCanvas::DIB_SetClipRect(const TRect& rect) {
    FClipRect.left = std::max<platform::LONG>(rect.left, 0);
    FClipRect.top = std::max<platform::LONG>(rect.top, 0);
    FClipRect.right = std::min<platform::LONG>(rect.right, FWidth);
    FClipRect.bottom = std::min<platform::LONG>(rect.bottom, FHeight);
    if (FPasses > 0) DIB_SETCLIPRECT(FClipRect);
}

// --- Colours ---

void TLumDIBCanvas::DIB_SetTColor(TColor color) {
    const auto c = static_cast<COLORREF>(color);
    if ((c & 0xFF000000u) == kPaletteIndex && FBitsPerPixel <= 8) {
        DIB_SETCOLOR(c & 0xFF); // an entry by its index: animated colours
        return;
    }
    if ((c & 0xFF000000u) == kPaletteIndex && FPalette) {
        PALETTEENTRY e{};
        if (gdi::GetPaletteEntries(FPalette, c & 0xFF, 1, &e) == 1) {
            DIB_SetColorRef(EntryColor(e));
            return;
        }
    }
    DIB_SetColorRef(gdi::ColorToRGB(color));
}

void TLumDIBCanvas::DIB_SetColorRef(COLORREF rgb) {
    DIB_SETCOLOR(DIB_RGBTOVALUE(rgb & 0xFFFFFF));
}

void TLumDIBCanvas::DIB_SetColor(std::uint32_t value) {
    DIB_SETCOLOR(value);
}

std::uint32_t TLumDIBCanvas::DIB_ColorToIndex(TColor color) {
    const COLORREF rgb = gdi::ColorToRGB(color);
    if (FBitsPerPixel > 8) return rgb;
    CheckDIB();
    if (!FPalette) return 0;
    const platform::UINT index = gdi::GetNearestPaletteIndex(FPalette, rgb);
    return index == gdi::CLR_INVALID ? 0 : index;
}

std::uint8_t* TLumDIBCanvas::DIB_GetPixelAddress(std::uint8_t* bits, int x, int y) const {
    // The bitmap built, which a size change waiting for the next pass has
    // not replaced yet. Negative coordinates are outside it as much as
    // large ones.
    const int width = FHeader ? DIB_Width(FHeader) : FWidth;
    const int height = FHeader ? std::abs(DIB_Height(FHeader)) : FHeight;
    const int bytes = FHeader ? DIB_BitCount(FHeader) / 8 : FBitsPerPixel / 8;
    if (x < 0 || y < 0 || x >= width || y >= height)
        throw ELumDIBError("Attempt to get out of range pixel address");
    const std::size_t row = static_cast<std::size_t>(bytes * width + 3) & ~std::size_t{3};
    const std::size_t stored = static_cast<std::size_t>(DIB_ORIENT == 1 ? height - 1 - y : y);
    return bits + stored * row + static_cast<std::size_t>(x) * static_cast<std::size_t>(bytes);
}

// --- Copies to a context ---

void TLumDIBCanvas::DIB_BitBlt(HDC dc, const TRect& dest, int srcX, int srcY) {
    if (!dc || !FBitmap || !FMemDC) return;
    HPALETTE old = nullptr;
    if (FPaletteRealize && FPalette) {
        old = gdi::SelectPalette(dc, FPalette, FPaletteMapped ? 0 : 1);
        gdi::RealizePalette(dc);
    }
    gdi::BitBlt(dc, dest.left, dest.top, dest.right, dest.bottom, FMemDC, srcX, srcY, gdi::SRCCOPY);
    if (old) gdi::SelectPalette(dc, old, 1);
    gdi::GdiFlush();
}

void TLumDIBCanvas::DIB_StretchBlt(HDC dc, const TRect& dest, const TRect& src) {
    if (!dc || !FBitmap || !FMemDC) return;
    HPALETTE old = nullptr;
    if (FPaletteRealize && FPalette) {
        old = gdi::SelectPalette(dc, FPalette, FPaletteMapped ? 0 : 1);
        gdi::RealizePalette(dc);
    }
    const int mode = gdi::SetStretchBltMode(dc, gdi::COLORONCOLOR);
    gdi::StretchBlt(dc, dest.left, dest.top, dest.right, dest.bottom, FMemDC, src.left, src.top,
                    src.right, src.bottom, gdi::SRCCOPY);
    if (mode) gdi::SetStretchBltMode(dc, mode);
    if (old) gdi::SelectPalette(dc, old, 1);
    gdi::GdiFlush();
}

// --- Colour animation ---

void TLumDIBCanvas::SetAnimCount(int count) {
    if (count < 0 || count > 236) throw ELumDIBError("Invalid count of animated colors");
    if (count == FAnimCount) return;
    if (FPasses > 0) throw ELumDIBError(kInPass);
    FAnimCount = count;
    FFirstAnimIndex = count > 0 ? 247 - count : 256;
    FAnimColors.assign(static_cast<std::size_t>(count), 0);
    Rebuild();
}

void TLumDIBCanvas::CheckIndex(int i) const {
    if (i < 0 || i >= FAnimCount) throw ELumDIBError("Invalidate animated color index");
}

COLORREF TLumDIBCanvas::GetAnimColor(int i) const {
    CheckIndex(i);
    return kPaletteIndex | static_cast<COLORREF>(FFirstAnimIndex + i);
}

COLORREF TLumDIBCanvas::GetAnimColorValue(int i) const {
    CheckIndex(i);
    if (!FPalette) return FAnimColors[static_cast<std::size_t>(i)];
    PALETTEENTRY e{};
    if (gdi::GetPaletteEntries(FPalette, static_cast<platform::UINT>(FFirstAnimIndex + i), 1, &e) !=
        1)
        throw ELumDIBError("Get palette entries failed");
    return EntryColor(e);
}

void TLumDIBCanvas::SetAnimColorValue(int i, COLORREF color) {
    CheckIndex(i);
    FAnimColors[static_cast<std::size_t>(i)] = color & 0xFFFFFF;
    if (FAnimating == 0) WriteAnimColors();
}

void TLumDIBCanvas::BeginAnimate() {
    ++FAnimating;
}

void TLumDIBCanvas::EndAnimate() {
    if (FAnimating == 0) return;
    if (--FAnimating == 0) WriteAnimColors();
}

void TLumDIBCanvas::WriteAnimColors() {
    if (FAnimCount == 0 || !FPalette || !FHeader) return;
    const auto first = static_cast<platform::UINT>(FFirstAnimIndex);
    const auto count = static_cast<platform::UINT>(FAnimCount);
    std::vector<PALETTEENTRY> entries;
    std::vector<RGBQUAD> quads;
    for (COLORREF c : FAnimColors) {
        entries.push_back(Entry(c, gdi::PC_RESERVED));
        quads.push_back(
            RGBQUAD{entries.back().peBlue, entries.back().peGreen, entries.back().peRed, 0});
    }
    // The bitmap's own colours first (8 bits), then the palette, so that
    // both show the new colours and no pixel changes its index.
    if (FBitsPerPixel <= 8 && FBitmap) {
        if (gdi::SetDIBColorTable(FMemDC, first, count, quads.data()) != count)
            throw ELumDIBError("Set palette entries failed");
        auto* table = static_cast<RGBQUAD*>(DIB_Colors(FHeader));
        std::copy(quads.begin(), quads.end(), table + first);
        if (FPasses > 0) {
            auto& colors = dibcv::State().biColors;
            if (colors.size() >= first + count)
                std::copy(quads.begin(), quads.end(), colors.begin() + first);
        }
    }
    if (!gdi::AnimatePalette(FPalette, first, count, entries.data()))
        throw ELumDIBError("Animation of palette entries failed");
}

} // namespace lum
