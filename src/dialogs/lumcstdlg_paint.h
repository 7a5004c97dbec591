// Drawing pieces the preview dialogs share: solid fills and pens in the
// library's colours (system colours included), the two-ring sunken frame
// of their preview areas, and an off-screen bitmap that a paint fills and
// copies to the screen in one block.
#pragma once

#include "platform/base/colors.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/gditypes.h"

namespace lum {

void FillColor(platform::gdi::HDC dc, const platform::RECT& rect, TColor color);

// Selects a one-pixel solid pen of Color for the scope.
class TPenScope {
public:
    TPenScope(platform::gdi::HDC dc, TColor color);
    ~TPenScope();
    TPenScope(const TPenScope&) = delete;
    TPenScope& operator=(const TPenScope&) = delete;

private:
    platform::gdi::HDC dc_;
    platform::gdi::HPEN pen_;
    platform::gdi::HGDIOBJ old_;
};

// Draws clBtnShadow top-left / clBtnHighlight bottom-right around Rect,
// then clWindowFrame / cl3DLight inside it; returns what is left inside.
platform::RECT FrameTwoRings(platform::gdi::HDC dc, const platform::RECT& rect);

// A memory context with a bitmap of the given size compatible with Dc.
class OffscreenDC {
public:
    OffscreenDC(platform::gdi::HDC dc, int width, int height);
    ~OffscreenDC();
    OffscreenDC(const OffscreenDC&) = delete;
    OffscreenDC& operator=(const OffscreenDC&) = delete;
    operator platform::gdi::HDC() const { return mem_; }
    void CopyTo(platform::gdi::HDC dc, int x, int y) const;

private:
    platform::gdi::HDC mem_;
    platform::gdi::HBITMAP bitmap_;
    platform::gdi::HGDIOBJ old_;
    int width_, height_;
};

} // namespace lum
