#include "dialogs/lumcstdlg_paint.h"

#include "platform/gdi/canvas.h"

namespace lum {

namespace gdi = platform::gdi;

void FillColor(gdi::HDC dc, const platform::RECT& rect, TColor color) {
    gdi::HBRUSH brush = gdi::CreateSolidBrush(gdi::ColorToRGB(color));
    gdi::FillRect(dc, &rect, brush);
    gdi::DeleteObject(brush);
}

TPenScope::TPenScope(gdi::HDC dc, TColor color)
    : dc_(dc), pen_(gdi::CreatePen(gdi::PS_SOLID, 1, gdi::ColorToRGB(color))),
      old_(gdi::SelectObject(dc, pen_)) {}

TPenScope::~TPenScope() {
    gdi::SelectObject(dc_, old_);
    gdi::DeleteObject(pen_);
}

namespace {

void Ring(gdi::HDC dc, const platform::RECT& r, TColor topLeft, TColor bottomRight) {
    FillColor(dc, platform::RECT{r.left, r.top, r.right - 1, r.top + 1}, topLeft);
    FillColor(dc, platform::RECT{r.left, r.top, r.left + 1, r.bottom - 1}, topLeft);
    FillColor(dc, platform::RECT{r.left, r.bottom - 1, r.right, r.bottom}, bottomRight);
    FillColor(dc, platform::RECT{r.right - 1, r.top, r.right, r.bottom}, bottomRight);
}

} // namespace

platform::RECT FrameTwoRings(gdi::HDC dc, const platform::RECT& rect) {
    platform::RECT r = rect;
    Ring(dc, r, clBtnShadow, clBtnHighlight);
    r = {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    Ring(dc, r, clWindowFrame, cl3DLight);
    return {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
}

OffscreenDC::OffscreenDC(gdi::HDC dc, int width, int height)
    : mem_(gdi::CreateCompatibleDC(dc)), bitmap_(gdi::CreateCompatibleBitmap(dc, width, height)),
      old_(gdi::SelectObject(mem_, bitmap_)), width_(width), height_(height) {}

OffscreenDC::~OffscreenDC() {
    gdi::SelectObject(mem_, old_);
    gdi::DeleteObject(bitmap_);
    gdi::DeleteDC(mem_);
}

void OffscreenDC::CopyTo(gdi::HDC dc, int x, int y) const {
    gdi::BitBlt(dc, x, y, width_, height_, mem_, 0, 0, gdi::SRCCOPY);
}

} // namespace lum
