#include <gtest/gtest.h>

#include <vector>

#include "gditest.h"
#include "platform/gdi/gdi.h"

using namespace lum::platform;
using namespace lum::platform::gdi;
using lum::platform::gdi::test::MemDC;

namespace {
std::vector<std::uint8_t> Record(WORD version, std::initializer_list<PALETTEENTRY> entries) {
    std::vector<std::uint8_t> r(sizeof(LOGPALETTE) + entries.size() * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(r.data());
    lp->palVersion = version;
    lp->palNumEntries = static_cast<WORD>(entries.size());
    int i = 0;
    for (const auto& e : entries)
        lp->palPalEntry[i++] = e;
    return r;
}
const LOGPALETTE* AsPalette(const std::vector<std::uint8_t>& r) {
    return reinterpret_cast<const LOGPALETTE*>(r.data());
}
} // namespace

TEST(Objects, DeletionRefusesStockSelectedAndStaleHandles) {
    EXPECT_FALSE(DeleteObject(GetStockObject(BLACK_PEN)));
    EXPECT_EQ(GetObjectType(GetStockObject(BLACK_PEN)), OBJ_PEN);
    MemDC d(2, 2);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(1, 2, 3));
    HGDIOBJ old = SelectObject(d.dc(), pen);
    EXPECT_FALSE(DeleteObject(pen)) << "still selected";
    LOGPEN lp;
    ASSERT_EQ(GetObject(pen, sizeof lp, &lp), static_cast<int>(sizeof lp));
    EXPECT_EQ(lp.lopnColor, RGB(1, 2, 3));
    EXPECT_EQ(SelectObject(d.dc(), old), pen);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_FALSE(DeleteObject(pen)) << "already gone";
    EXPECT_EQ(GetObjectType(pen), 0u);
    EXPECT_EQ(SelectObject(d.dc(), pen), nullptr);
    EXPECT_EQ(GetObject(pen, sizeof lp, &lp), 0);
    EXPECT_EQ(CreatePen(42, 1, 0), nullptr);
}

TEST(Objects, ABitmapLivesInOneMemoryContextAtATime) {
    MemDC a(2, 2);
    HDC other = CreateCompatibleDC(a.dc());
    EXPECT_EQ(GetDeviceCaps(other, BITSPIXEL), 1)
        << "a fresh memory context holds a 1x1 mono bitmap";
    HBITMAP mono = CreateCompatibleBitmap(other, 4, 4);
    BITMAP bm;
    GetObject(mono, sizeof bm, &bm);
    EXPECT_EQ(bm.bmBitsPixel, 1) << "compatible with a mono context is mono";
    DeleteObject(mono);
    EXPECT_EQ(SelectObject(other, a.bitmap()), nullptr);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(SelectObject(screen, a.bitmap()), nullptr) << "windows take no bitmap";
    ReleaseDC(nullptr, screen);
    EXPECT_TRUE(DeleteDC(other));
    EXPECT_FALSE(DeleteDC(other));
}

TEST(Palettes, RecordsAreCheckedKeptAndSearched) {
    EXPECT_EQ(CreatePalette(AsPalette(Record(0x200, {{1, 2, 3, 0}}))), nullptr);
    EXPECT_EQ(CreatePalette(AsPalette(Record(0x300, {}))), nullptr);
    const auto rec = Record(
        0x300,
        {{0, 0, 0, 0}, {250, 10, 10, PC_RESERVED}, {250, 10, 10, 0}, {0, 0, 200, PC_RESERVED}});
    HPALETTE p = CreatePalette(AsPalette(rec));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(GetPaletteEntries(p, 0, 0, nullptr), 4u);
    WORD count = 0;
    EXPECT_EQ(GetObject(p, sizeof count, &count), 2);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(GetNearestPaletteIndex(p, RGB(255, 0, 0)), 1u) << "the first of equal entries";
    EXPECT_EQ(GetNearestPaletteIndex(p, RGB(10, 10, 150)), 3u);
    EXPECT_EQ(GetNearestPaletteIndex(nullptr, 0), CLR_INVALID);

    // Animation changes reserved entries only.
    const PALETTEENTRY next[4] = {{9, 9, 9, 0}, {1, 1, 1, 0}, {2, 2, 2, 0}, {3, 3, 3, 0}};
    EXPECT_TRUE(AnimatePalette(p, 0, 4, next));
    PALETTEENTRY got[4];
    ASSERT_EQ(GetPaletteEntries(p, 0, 4, got), 4u);
    EXPECT_EQ(got[0].peRed, 0);
    EXPECT_EQ(got[1].peRed, 1);
    EXPECT_EQ(got[1].peFlags, PC_RESERVED);
    EXPECT_EQ(got[2].peRed, 250);
    EXPECT_EQ(got[3].peRed, 3);
    EXPECT_EQ(SetPaletteEntries(p, 3, 5, next), 1u) << "entries past the end are not written";
    EXPECT_TRUE(ResizePalette(p, 6));
    EXPECT_EQ(GetPaletteEntries(p, 0, 0, nullptr), 6u);

    // The default palette is the platform's and cannot be changed.
    HPALETTE def = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    EXPECT_EQ(GetPaletteEntries(def, 0, 0, nullptr), 20u);
    EXPECT_EQ(SetPaletteEntries(def, 0, 1, next), 0u);
    EXPECT_FALSE(DeleteObject(def));

    HDC dc = GetDC(nullptr);
    EXPECT_EQ(SelectPalette(dc, p, false), def);
    EXPECT_FALSE(DeleteObject(p)) << "selected";
    EXPECT_EQ(SelectPalette(dc, def, false), p);
    PALETTEENTRY sys[256];
    EXPECT_EQ(GetSystemPaletteEntries(dc, 0, 256, sys), 256u);
    EXPECT_EQ(sys[7].peRed, 192);
    EXPECT_EQ(sys[100].peRed, 0);
    EXPECT_EQ(sys[249].peRed, 255);
    EXPECT_EQ(sys[249].peGreen, 0);
    EXPECT_EQ(sys[255].peBlue, 255);
    EXPECT_EQ(GetNearestColor(dc, RGB(1, 2, 3)), RGB(1, 2, 3))
        << "a 32-bit display shows every colour";
    ReleaseDC(nullptr, dc);
    EXPECT_TRUE(DeleteObject(p));
}
