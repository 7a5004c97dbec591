#include <gtest/gtest.h>

#include <string>

#include "gditest.h"
#include "platform/gdi/fonts.h"
#include "platform/gdi/gdi.h"

using namespace lum::platform;
using namespace lum::platform::gdi;
using lum::platform::gdi::test::MemDC;
using lum::platform::gdi::test::Selected;

namespace {
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kInk = RGB(20, 90, 200);
constexpr COLORREF kBox = RGB(250, 240, 10);

HFONT MakeFont(const char* face, LONG height, BYTE charset = DEFAULT_CHARSET, LONG escapement = 0) {
    LOGFONT lf;
    lf.lfFaceName = face;
    lf.lfHeight = height;
    lf.lfCharSet = charset;
    lf.lfEscapement = lf.lfOrientation = escapement;
    return CreateFontIndirect(&lf);
}

SIZE Extent(HDC dc, std::string_view s) {
    SIZE size{};
    GetTextExtentPoint32(dc, s, &size);
    return size;
}
} // namespace

TEST(TextOut, GlyphsTakeTheTextColourAndTheBoxTheBackground) {
    MemDC d(200, 40);
    Selected font(d.dc(), MakeFont("MS Sans Serif", -13));
    SetTextColor(d.dc(), kInk);
    SetBkMode(d.dc(), TRANSPARENT);
    ASSERT_TRUE(TextOut(d.dc(), 10, 5, "Hello, gauge 45%"));
    const SIZE size = Extent(d.dc(), "Hello, gauge 45%");
    EXPECT_GT(size.cx, 40);
    EXPECT_GE(size.cy, 13);
    const int ink = d.Count(kInk);
    EXPECT_GT(ink, 50);
    EXPECT_EQ(ink + d.Count(kWhite), 200 * 40) << "no antialiased shades";
    const RECT drawn = d.Extent(kWhite);
    EXPECT_GE(drawn.left, 10);
    EXPECT_GE(drawn.top, 5);
    EXPECT_LE(drawn.right, 10 + size.cx);
    EXPECT_LE(drawn.bottom, 5 + size.cy);

    // Opaque: the cell of the text's extent is filled, glyphs on top.
    d.Fill(kWhite);
    SetBkMode(d.dc(), OPAQUE);
    SetBkColor(d.dc(), kBox);
    TextOut(d.dc(), 10, 5, "Hello, gauge 45%");
    EXPECT_EQ(d.Extent(kWhite), (RECT{10, 5, 10 + size.cx, 5 + size.cy}));
    EXPECT_EQ(d.Count(kInk), ink);
    EXPECT_EQ(d.Count(kBox) + ink, size.cx * size.cy);
}

TEST(TextOut, ClippingAndAlignmentPlaceTheText) {
    MemDC d(100, 30);
    Selected font(d.dc(), MakeFont("MS Sans Serif", -12));
    SetTextColor(d.dc(), kInk);
    SetBkColor(d.dc(), kBox);
    const SIZE size = Extent(d.dc(), "WWWW");
    const RECT clip{0, 0, 12, 30};
    ExtTextOut(d.dc(), 2, 2, ETO_CLIPPED, &clip, "WWWW");
    EXPECT_EQ(d.Extent(kWhite).right, 12);
    d.Fill(kWhite);
    SetTextAlign(d.dc(), TA_RIGHT | TA_BOTTOM);
    TextOut(d.dc(), 90, 25, "WWWW");
    EXPECT_EQ(d.Extent(kWhite), (RECT{90 - size.cx, 25 - size.cy, 90, 25}));
}

TEST(TextOut, EscapementRotatesCounterClockwise) {
    MemDC d(60, 120);
    Selected font(d.dc(), MakeFont("MS Sans Serif", -12, DEFAULT_CHARSET, 900));
    SetBkColor(d.dc(), kBox);
    TextOut(d.dc(), 10, 100, "Rotated");
    const RECT r = d.Extent(kWhite);
    const SIZE size = Extent(d.dc(), "Rotated");
    EXPECT_GT(r.bottom - r.top, r.right - r.left);
    // The text runs up from (10, 100); its cell lies to the right of that line.
    EXPECT_LE(r.bottom, 101);
    EXPECT_GE(r.top, 100 - size.cx - 1);
    EXPECT_GE(r.left, 9);
    EXPECT_LE(r.right, 10 + size.cy + 1);
}

TEST(Fonts, MissingJapaneseFacesAreDrawnWithIpaGothic) {
    EXPECT_EQ(FontSubstitute("ＭＳ Ｐゴシック"), "IPAPGothic");
    EXPECT_EQ(FontSubstitute("ms pgothic"), "IPAPGothic");
    EXPECT_EQ(FontSubstitute("ＭＳ ゴシック"), "IPAGothic");
    EXPECT_EQ(FontSubstitute("No Such Face"), "");
    EXPECT_EQ(ResolveFontFamily("ＭＳ Ｐゴシック", SHIFTJIS_CHARSET), "IPAPGothic");
    EXPECT_EQ(ResolveFontFamily("No Such Face", SHIFTJIS_CHARSET), "IPAPGothic");
    EXPECT_EQ(ResolveFontFamily("No Such Face", DEFAULT_CHARSET), "DejaVu Sans");
    EXPECT_EQ(ResolveFontFamily("DejaVu Serif", SHIFTJIS_CHARSET), "DejaVu Serif")
        << "installed faces stay";

    MemDC d(200, 30);
    Selected font(d.dc(), MakeFont("ＭＳ Ｐゴシック", -12, SHIFTJIS_CHARSET));
    SetTextColor(d.dc(), kInk);
    SetBkMode(d.dc(), TRANSPARENT);
    const std::string caption = "静止画像の保存場所";
    const SIZE size = Extent(d.dc(), caption);
    EXPECT_GE(size.cx, 9 * 9) << "nine full-width characters";
    TextOut(d.dc(), 0, 0, caption);
    EXPECT_GT(d.Count(kInk), 100);
    TEXTMETRIC tm;
    ASSERT_TRUE(GetTextMetrics(d.dc(), &tm));
    EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
    EXPECT_EQ(tm.tmCharSet, SHIFTJIS_CHARSET);
}

TEST(Fonts, PositiveHeightsNameTheCellNegativeTheCharacter) {
    MemDC d(10, 10);
    Selected font(d.dc(), MakeFont("MS Sans Serif", 20));
    TEXTMETRIC tm;
    GetTextMetrics(d.dc(), &tm);
    EXPECT_NEAR(tm.tmHeight, 20, 1);
    HFONT small = MakeFont("MS Sans Serif", -20);
    HGDIOBJ old = SelectObject(d.dc(), small);
    GetTextMetrics(d.dc(), &tm);
    EXPECT_GT(tm.tmHeight, 20) << "the cell holds the character plus its leading";
    EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 20);
    SelectObject(d.dc(), old);
    DeleteObject(small);
}

TEST(DrawText, AlignsWithinTheRectangle) {
    MemDC d(100, 30);
    Selected font(d.dc(), MakeFont("MS Sans Serif", -12));
    SetTextColor(d.dc(), kInk);
    SetBkColor(d.dc(), kBox);
    const SIZE size = Extent(d.dc(), "Ab");
    RECT r{0, 0, 100, 30};
    const int h =
        DrawText(d.dc(), std::string_view("Ab"), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    const int top = (30 - size.cy) / 2;
    EXPECT_EQ(h, top + size.cy);
    EXPECT_EQ(d.Extent(kWhite),
              (RECT{(100 - size.cx) / 2, top, (100 - size.cx) / 2 + size.cx, top + size.cy}));
    d.Fill(kWhite);
    DrawText(d.dc(), std::string_view("Ab"), &r, DT_RIGHT | DT_SINGLELINE);
    EXPECT_EQ(d.Extent(kWhite), (RECT{100 - size.cx, 0, 100, size.cy}));
    // Two lines, one below the other; the rectangle clips.
    d.Fill(kWhite);
    r = RECT{0, 0, 100, size.cy + 3};
    EXPECT_EQ(DrawText(d.dc(), std::string_view("Ab\nAb"), &r, DT_LEFT), 2 * size.cy);
    EXPECT_EQ(d.Extent(kWhite), (RECT{0, 0, size.cx, size.cy + 3}));
}

TEST(DrawText, CalcRectMeasuresTabsAndPrefixesWithoutDrawing) {
    MemDC d(200, 30);
    Selected font(d.dc(), MakeFont("MS Sans Serif", -12));
    TEXTMETRIC tm;
    GetTextMetrics(d.dc(), &tm);
    const SIZE b = Extent(d.dc(), "b");
    RECT r{5, 5, 5, 5};
    EXPECT_EQ(
        DrawText(d.dc(), std::string_view("a\tb"), &r, DT_CALCRECT | DT_EXPANDTABS | DT_SINGLELINE),
        tm.tmHeight);
    EXPECT_EQ(r.right - r.left, 8 * tm.tmAveCharWidth + b.cx);
    EXPECT_EQ(r.bottom - r.top, tm.tmHeight);
    EXPECT_EQ(d.Count(kWhite), 200 * 30);
    r = RECT{0, 0, 0, 0};
    DrawText(d.dc(), std::string_view("&File && more"), &r, DT_CALCRECT | DT_SINGLELINE);
    EXPECT_EQ(r.right, Extent(d.dc(), "File & more").cx);
    r = RECT{0, 0, 0, 0};
    DrawText(d.dc(), std::string_view("&File"), &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    EXPECT_EQ(r.right, Extent(d.dc(), "&File").cx);
    // The prefixed letter is underlined one row below the baseline.
    SetTextColor(d.dc(), kInk);
    SetBkMode(d.dc(), TRANSPARENT);
    r = RECT{0, 0, 200, 30};
    DrawText(d.dc(), std::string_view("&File"), &r, DT_SINGLELINE);
    const int fWidth = Extent(d.dc(), "F").cx;
    EXPECT_EQ(d.Count(kInk, RECT{0, tm.tmAscent + 1, fWidth, tm.tmAscent + 2}), fWidth);
}

TEST(DrawText, EllipsesShortenTheTextToFitAndCanReplaceIt) {
    MemDC d(300, 30);
    Selected font(d.dc(), MakeFont("MS Sans Serif", -12));
    const int max = 90;
    std::string text = "abcdefghijklmnopqrstuvwxyz0123456789";
    RECT r{0, 0, max, 20};
    DrawText(d.dc(), text, &r, DT_SINGLELINE | DT_END_ELLIPSIS | DT_MODIFYSTRING | DT_NOPREFIX);
    ASSERT_GE(text.size(), 4u);
    EXPECT_EQ(text.substr(text.size() - 3), "...");
    const std::string head = text.substr(0, text.size() - 3);
    EXPECT_EQ(std::string("abcdefghijklmnopqrstuvwxyz0123456789").rfind(head, 0), 0u);
    EXPECT_LE(Extent(d.dc(), text).cx, max);
    const std::string longer =
        std::string("abcdefghijklmnopqrstuvwxyz").substr(0, head.size() + 1) + "...";
    EXPECT_GT(Extent(d.dc(), longer).cx, max) << "the longest head that fits is kept";

    std::string path = "/home/someone/videos/holidays/2019/summer/clip.avi";
    r = RECT{0, 0, 150, 20};
    DrawText(d.dc(), path, &r,
             DT_SINGLELINE | DT_PATH_ELLIPSIS | DT_MODIFYSTRING | DT_NOPREFIX | DT_CALCRECT);
    EXPECT_NE(path.find("..."), std::string::npos);
    EXPECT_EQ(path.substr(path.size() - 9), "/clip.avi");
    EXPECT_EQ(path.rfind("/home", 0), 0u);
    EXPECT_LE(Extent(d.dc(), path).cx, 150);
    EXPECT_LE(r.right, 150);

    std::string fits = "short";
    r = RECT{0, 0, 150, 20};
    DrawText(d.dc(), fits, &r, DT_SINGLELINE | DT_PATH_ELLIPSIS | DT_MODIFYSTRING);
    EXPECT_EQ(fits, "short");
    std::string untouched = "abcdefghijklmnopqrstuvwxyz0123456789";
    r = RECT{0, 0, max, 20};
    DrawText(d.dc(), untouched, &r, DT_SINGLELINE | DT_END_ELLIPSIS);
    EXPECT_EQ(untouched, "abcdefghijklmnopqrstuvwxyz0123456789")
        << "only DT_MODIFYSTRING writes back";
}
