#include "core/lumutils_draw.h"

#include "core/lummuldiv.h"
#include "core/lumutils.h"

namespace lum {

namespace gdi = platform::gdi;
using platform::COLORREF;

namespace {

// A memory context with a bitmap selected, released on scope exit.
class SelectedBitmap {
public:
    SelectedBitmap(HDC like, HBITMAP bitmap) : dc_(gdi::CreateCompatibleDC(like)) {
        if (dc_) old_ = gdi::SelectObject(dc_, bitmap);
    }
    ~SelectedBitmap() {
        if (!dc_) return;
        gdi::SelectObject(dc_, old_);
        gdi::DeleteDC(dc_);
    }
    SelectedBitmap(const SelectedBitmap&) = delete;
    SelectedBitmap& operator=(const SelectedBitmap&) = delete;
    HDC dc() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr && old_ != nullptr; }

private:
    HDC dc_;
    gdi::HGDIOBJ old_ = nullptr;
};

int Channel(COLORREF c, int shift) {
    return static_cast<int>((c >> shift) & 0xFF);
}

} // namespace

void GetBitmapSize(HBITMAP bitmap, int& width, int& height) {
    gdi::BITMAP bm;
    if (bitmap && gdi::GetObject(bitmap, sizeof bm, &bm) != 0) {
        width = bm.bmWidth;
        height = bm.bmHeight;
    } else {
        width = 0;
        height = 0;
    }
}

TColor GetTransparentColorEx(HBITMAP bitmap, TPoint point) {
    int w, h;
    GetBitmapSize(bitmap, w, h);
    SelectedBitmap sel(nullptr, bitmap);
    if (!sel || w <= 0 || h <= 0) return clBlack;
    int x = MinMax(point.x, 0, w - 1);
    int y = MinMax(point.y, 0, h - 1);
    return static_cast<TColor>(gdi::GetPixel(sel.dc(), x, y));
}

TColor GetTransparentColor(HBITMAP bitmap) {
    int w, h;
    GetBitmapSize(bitmap, w, h);
    return GetTransparentColorEx(bitmap, TPoint{0, h - 1});
}

void DrawTransparentBitmapEx(HDC dc, HBITMAP bitmap, int x, int y, TRect source,
                             TColor transparent_color) {
    int w = source.right - source.left;
    int h = source.bottom - source.top;
    if (dc == nullptr || bitmap == nullptr || w <= 0 || h <= 0) return;

    SelectedBitmap image(dc, bitmap);
    if (!image) return;
    // Work on a copy of the source part so the caller's bitmap is never
    // changed, even when a step fails half-way.
    HBITMAP part = gdi::CreateCompatibleBitmap(dc, w, h);
    HBITMAP mask = gdi::CreateBitmap(w, h, 1, 1, nullptr);
    HBITMAP back = gdi::CreateCompatibleBitmap(dc, w, h);
    {
        SelectedBitmap src(dc, part), msk(dc, mask), dst(dc, back);
        if (src && msk && dst) {
            gdi::BitBlt(src.dc(), 0, 0, w, h, image.dc(), source.left, source.top, gdi::SRCCOPY);
            // The mask: white where the source has the transparent colour.
            COLORREF old_bk = gdi::SetBkColor(src.dc(), gdi::ColorToRGB(transparent_color));
            gdi::BitBlt(msk.dc(), 0, 0, w, h, src.dc(), 0, 0, gdi::SRCCOPY);
            gdi::SetBkColor(src.dc(), old_bk);
            // Destination area, cleared where the image shows.
            gdi::BitBlt(dst.dc(), 0, 0, w, h, dc, x, y, gdi::SRCCOPY);
            gdi::SetBkColor(dst.dc(), 0xFFFFFF);
            gdi::SetTextColor(dst.dc(), 0x000000);
            gdi::BitBlt(dst.dc(), 0, 0, w, h, msk.dc(), 0, 0, gdi::SRCAND);
            // Image, cleared where it is transparent, then merged in.
            gdi::SetBkColor(src.dc(), 0x000000);
            gdi::SetTextColor(src.dc(), 0xFFFFFF);
            gdi::BitBlt(src.dc(), 0, 0, w, h, msk.dc(), 0, 0, gdi::SRCAND);
            gdi::BitBlt(dst.dc(), 0, 0, w, h, src.dc(), 0, 0, gdi::SRCPAINT);
            gdi::BitBlt(dc, x, y, w, h, dst.dc(), 0, 0, gdi::SRCCOPY);
        }
    }
    gdi::DeleteObject(back);
    gdi::DeleteObject(mask);
    gdi::DeleteObject(part);
}

void DrawTransparentBitmap(HDC dc, HBITMAP bitmap, int x, int y, TColor transparent_color) {
    int w, h;
    GetBitmapSize(bitmap, w, h);
    DrawTransparentBitmapEx(dc, bitmap, x, y, TRect{0, 0, w, h}, transparent_color);
}

void TileBlt(HDC dc, HBITMAP bitmap, TRect rect, platform::DWORD raster_op) {
    int w, h;
    GetBitmapSize(bitmap, w, h);
    if (dc == nullptr || w <= 0 || h <= 0) return;
    SelectedBitmap src(dc, bitmap);
    if (!src) return;
    for (int y = rect.top; y < rect.bottom; y += h) {
        int th = Min(h, rect.bottom - y);
        for (int x = rect.left; x < rect.right; x += w) {
            int tw = Min(w, rect.right - x);
            gdi::BitBlt(dc, x, y, tw, th, src.dc(), 0, 0, raster_op);
        }
    }
}

void FillSolid(HDC dc, TColor color, TRect rect) {
    gdi::HBRUSH brush = gdi::CreateSolidBrush(gdi::ColorToRGB(color));
    gdi::FillRect(dc, &rect, brush);
    gdi::DeleteObject(brush);
}

void FillGradient(HDC dc, TColor color1, TColor color2, int steps, TRect rect) {
    if (steps <= 0) return;
    COLORREF c1 = gdi::ColorToRGB(color1);
    COLORREF c2 = gdi::ColorToRGB(color2);
    int width = rect.right - rect.left;
    for (int i = 0; i < steps; ++i) {
        TRect band = rect;
        band.left = rect.left + MulDiv32RN(i, width, steps);
        band.right = rect.left + MulDiv32RN(i + 1, width, steps);
        int ch[3];
        for (int k = 0; k < 3; ++k) {
            int a = Channel(c1, 8 * k), b = Channel(c2, 8 * k);
            ch[k] = steps == 1 ? a : a + MulDiv32RN(i, b - a, steps - 1);
        }
        FillSolid(dc,
                  RGBColor(static_cast<std::uint8_t>(ch[0]), static_cast<std::uint8_t>(ch[1]),
                           static_cast<std::uint8_t>(ch[2])),
                  band);
    }
}

void ChangeColors(HBITMAP bitmap, int flag, TColor color1, TColor color2, TColor color3) {
    int w, h;
    GetBitmapSize(bitmap, w, h);
    if (w <= 0 || h <= 0) return;
    SelectedBitmap image(nullptr, bitmap);
    if (!image) return;
    const struct {
        int bit;
        COLORREF key;
        TColor to;
    } plan[3] = {
        {ccWhite, 0xFFFFFF, color1}, {ccBlack, 0x000000, color2}, {ccGray, 0xC0C0C0, color3}};
    // All masks come from the original pixels before anything is painted.
    HBITMAP masks[3] = {};
    for (int k = 0; k < 3; ++k) {
        if (!(flag & plan[k].bit)) continue;
        masks[k] = gdi::CreateBitmap(w, h, 1, 1, nullptr);
        SelectedBitmap m(nullptr, masks[k]);
        COLORREF old = gdi::SetBkColor(image.dc(), plan[k].key);
        gdi::BitBlt(m.dc(), 0, 0, w, h, image.dc(), 0, 0, gdi::SRCCOPY);
        gdi::SetBkColor(image.dc(), old);
    }
    for (int k = 0; k < 3; ++k) {
        if (!masks[k]) continue;
        SelectedBitmap m(nullptr, masks[k]);
        // Keep the pixels outside the mask (AND with the inverted mask),
        // then OR the new colour into the masked ones.
        gdi::SetTextColor(image.dc(), 0xFFFFFF);
        gdi::SetBkColor(image.dc(), 0x000000);
        gdi::BitBlt(image.dc(), 0, 0, w, h, m.dc(), 0, 0, gdi::SRCAND);
        gdi::HBRUSH brush = gdi::CreateSolidBrush(gdi::ColorToRGB(plan[k].to));
        HBITMAP fill = gdi::CreateCompatibleBitmap(image.dc(), w, h);
        {
            SelectedBitmap f(image.dc(), fill);
            TRect all{0, 0, w, h};
            gdi::FillRect(f.dc(), &all, brush);
            gdi::SetTextColor(f.dc(), 0x000000);
            gdi::SetBkColor(f.dc(), 0xFFFFFF);
            gdi::BitBlt(f.dc(), 0, 0, w, h, m.dc(), 0, 0, gdi::SRCAND);
            gdi::BitBlt(image.dc(), 0, 0, w, h, f.dc(), 0, 0, gdi::SRCPAINT);
        }
        gdi::DeleteObject(fill);
        gdi::DeleteObject(brush);
    }
    for (HBITMAP m : masks)
        if (m) gdi::DeleteObject(m);
}

void TextOutAligned(gdi::TCanvas& canvas, int x, int y, int alignment, int height,
                    const std::string& font_name, const std::string& text) {
    HDC dc = canvas.GetHandle();
    if (dc == nullptr) return;
    gdi::LOGFONT lf;
    lf.lfHeight = height;
    lf.lfFaceName = font_name;
    lf.lfEscapement = alignment == 2 ? 900 : 0;
    lf.lfOrientation = lf.lfEscapement;
    gdi::HFONT font = gdi::CreateFontIndirect(&lf);
    if (font == nullptr) return;
    gdi::HGDIOBJ old = gdi::SelectObject(dc, font);
    platform::SIZE extent{};
    gdi::GetTextExtentPoint32(dc, text, &extent);
    platform::UINT old_align = gdi::SetTextAlign(dc, gdi::TA_LEFT | gdi::TA_TOP);
    int old_mode = gdi::SetBkMode(dc, gdi::TRANSPARENT);
    switch (alignment) {
    case 0:
        gdi::TextOut(dc, x, y - extent.cy / 2, text);
        break;
    case 1:
        gdi::TextOut(dc, x - extent.cx, y - extent.cy / 2, text);
        break;
    case 2:
        gdi::TextOut(dc, x - extent.cy / 2, y + extent.cx, text);
        break;
    default:
        break;
    }
    gdi::SetBkMode(dc, old_mode);
    gdi::SetTextAlign(dc, old_align);
    gdi::SelectObject(dc, old);
    gdi::DeleteObject(font);
}

} // namespace lum
