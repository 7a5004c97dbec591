// Inside of the drawing service: writing shapes onto a context's surface.
// A Painter opens a context's pixels with its clip; shapes are first
// rasterised into a coverage mask (or a QImage layer for text and wide
// pens) and then written span by span through the mix mode.
#pragma once

#include <QImage>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/gdi/internal.h"

namespace lum::platform::gdi {

// Coverage of a shape over its bounding box, in device coordinates.
struct Mask {
    int ox = 0, oy = 0, w = 0, h = 0;
    std::vector<std::uint8_t> m;
    Mask() = default;
    Mask(int x, int y, int width, int height)
        : ox(x), oy(y), w(width), h(height), m(static_cast<std::size_t>(std::max(width, 0)) *
                                               static_cast<std::size_t>(std::max(height, 0))) {}
    std::uint8_t& At(int x, int y) { return m[static_cast<std::size_t>(y) * w + x]; }
    std::uint8_t At(int x, int y) const { return m[static_cast<std::size_t>(y) * w + x]; }
    bool Empty() const { return w <= 0 || h <= 0; }
};

// Pixel centres inside the ellipse inscribed in [l, r) x [t, b).
Mask EllipseMask(int l, int t, int r, int b);
// Clears what lies outside the counter-clockwise sector from the radial
// through (x1, y1) to the radial through (x2, y2), about the centre of
// [l, r) x [t, b).
void KeepSector(Mask& mask, int l, int t, int r, int b, int x1, int y1, int x2, int y2);
// The mask shrunk by N pixels (4-neighbourhood): what stays is the inside
// of a band of width N.
Mask Erode(const Mask& mask, int n);

// A painter on a window's context holds the window surface's lock for its
// life and hands the rectangle it touched to the surface when it ends.
class Painter {
public:
    explicit Painter(HDC__* dc);
    ~Painter();
    Painter(const Painter&) = delete;
    Painter& operator=(const Painter&) = delete;
    // False for a context without pixels (a window without a surface).
    bool Ok() const { return ok_; }
    HDC__* Dc() const { return dc_; }
    const Surface& Target() const { return s_; }
    const RECT& Clip() const { return clip_; }
    // Narrows the clip for this painter only (device coordinates).
    void Narrow(const RECT& r);
    // Records pixels [x0, x1) x [y0, y1) as written, for window surfaces.
    void Touch(int x0, int y0, int x1, int y1) {
        if (!window_) return;
        touched_.left = std::min<LONG>(touched_.left, x0);
        touched_.top = std::min<LONG>(touched_.top, y0);
        touched_.right = std::max<LONG>(touched_.right, x1);
        touched_.bottom = std::max<LONG>(touched_.bottom, y1);
    }

    std::uint32_t Encode(COLORREF c) { return s_.Encode(RgbFromColorref(c), cache_); }
    std::uint32_t EncodeRgb(Rgb c) { return s_.Encode(c, cache_); }

    // Pixels x0 <= x < x1 of row Y.
    void Span(int y, int x0, int x1, std::uint32_t raw, int rop2);
    void Plot(int x, int y, std::uint32_t raw, int rop2);
    // Every run of Mask pixels equal to Value.
    void Fill(const Mask& mask, std::uint8_t value, std::uint32_t raw, int rop2);
    // Pixels of Mask that are 1 in Outer and 0 in Inner (same geometry).
    void FillBand(const Mask& outer, const Mask& inner, std::uint32_t raw, int rop2);
    // Opaque pixels (alpha >= 128) of a layer placed at (ox, oy): in their
    // own colour with Copy, else all in Raw through the mix mode.
    void Layer(const QImage& layer, int ox, int oy, bool copy, std::uint32_t raw, int rop2);

private:
    HDC__* dc_;
    std::unique_lock<std::recursive_mutex> lock_;
    bool window_ = false;
    RECT touched_{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    Surface s_;
    RECT clip_{};
    bool ok_ = false;
    NearestCache cache_;
    std::vector<std::uint32_t> row_;
};

// Pen as the painter draws it.
struct PenDraw {
    bool none = false;
    int width = 1;
    int style = PS_SOLID;
    std::uint32_t raw = 0;
    std::uint32_t bkRaw = 0;
    bool opaqueGaps = false;
    int rop2 = R2_COPYPEN;
};
PenDraw MakePen(Painter& p);

// Polyline in device coordinates with the current pen; Closed joins the
// last point to the first. One-pixel pens exclude the final point.
void StrokePolyline(Painter& p, const PenDraw& pen, const POINT* pts, int count, bool closed);

} // namespace lum::platform::gdi
