// Lines, shapes, fills and single pixels. One-pixel lines are our own
// Bresenham walk so that end points follow the platform (the last point is
// not drawn, which the bevel rings rely on); ellipses and pies are sampled
// at pixel centres so that they stay inside their rectangle and touch its
// edges; wide pens go through QPainter without antialiasing.
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <span>

#include "platform/gdi/gdi.h"
#include "platform/gdi/paint.h"
#include "platform/gdi/qtgdi.h"

namespace lum::platform::gdi {

// --- Masks ---

Mask EllipseMask(int l, int t, int r, int b) {
    Mask mask(l, t, r - l, b - t);
    if (mask.Empty()) return mask;
    const double cx = (l + r) / 2.0, cy = (t + b) / 2.0;
    const double a = (r - l) / 2.0, bb = (b - t) / 2.0;
    for (int y = t; y < b; ++y) {
        const double dy = (y + 0.5 - cy) / bb;
        const double q = 1.0 - dy * dy;
        if (q < 0) continue;
        const double half = a * std::sqrt(q) + 1e-9;
        const int x0 = std::max(l, static_cast<int>(std::ceil(cx - half - 0.5)));
        const int x1 = std::min(r - 1, static_cast<int>(std::floor(cx + half - 0.5)));
        for (int x = x0; x <= x1; ++x)
            mask.At(x - l, y - t) = 1;
    }
    return mask;
}

void KeepSector(Mask& mask, int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
    constexpr double kTwoPi = 2 * std::numbers::pi;
    const double cx = (l + r) / 2.0, cy = (t + b) / 2.0;
    const double start = std::atan2(-(y1 - cy), x1 - cx);
    const double end = std::atan2(-(y2 - cy), x2 - cx);
    double sweep = std::fmod(end - start + 2 * kTwoPi, kTwoPi);
    if (sweep < 1e-12) sweep = kTwoPi; // equal radials: the whole ellipse
    for (int y = 0; y < mask.h; ++y) {
        for (int x = 0; x < mask.w; ++x) {
            std::uint8_t& m = mask.At(x, y);
            if (!m) continue;
            const double px = mask.ox + x + 0.5 - cx;
            const double py = cy - (mask.oy + y + 0.5);
            const double d = std::fmod(std::atan2(py, px) - start + 2 * kTwoPi, kTwoPi);
            if (d > sweep + 1e-12) m = 0;
        }
    }
}

Mask Erode(const Mask& mask, int n) {
    Mask cur = mask;
    for (int k = 0; k < n; ++k) {
        Mask next(cur.ox, cur.oy, cur.w, cur.h);
        for (int y = 0; y < cur.h; ++y) {
            for (int x = 0; x < cur.w; ++x) {
                next.At(x, y) = cur.At(x, y) && x > 0 && cur.At(x - 1, y) && x + 1 < cur.w &&
                                cur.At(x + 1, y) && y > 0 && cur.At(x, y - 1) && y + 1 < cur.h &&
                                cur.At(x, y + 1);
            }
        }
        cur = std::move(next);
    }
    return cur;
}

// --- Painter ---

Painter::Painter(HDC__* dc) : dc_(dc) {
    if (!dc) return;
    lock_ = dc->LockSurface();
    if (!dc->Target(s_)) return;
    window_ = dc->kind == HDC__::Window;
    clip_ = RECT{0, 0, s_.width, s_.height};
    if (dc->clipped) Narrow(dc->clip);
    ok_ = true;
}

Painter::~Painter() {
    if (window_ && touched_.left < touched_.right && touched_.top < touched_.bottom)
        dc_->surface->Touch(QRect(touched_.left, touched_.top, touched_.right - touched_.left,
                                  touched_.bottom - touched_.top));
}

void Painter::Narrow(const RECT& r) {
    clip_.left = std::max(clip_.left, r.left);
    clip_.top = std::max(clip_.top, r.top);
    clip_.right = std::min(clip_.right, r.right);
    clip_.bottom = std::min(clip_.bottom, r.bottom);
}

namespace {
constexpr bool Rop2UsesDest(int rop2) {
    return rop2 != R2_COPYPEN && rop2 != R2_NOTCOPYPEN && rop2 != R2_BLACK && rop2 != R2_WHITE;
}
} // namespace

void Painter::Span(int y, int x0, int x1, std::uint32_t raw, int rop2) {
    if (!ok_ || rop2 == R2_NOP || y < clip_.top || y >= clip_.bottom) return;
    x0 = std::max(x0, static_cast<int>(clip_.left));
    x1 = std::min(x1, static_cast<int>(clip_.right));
    if (x0 >= x1) return;
    Touch(x0, y, x1, y + 1);
    const int n = x1 - x0;
    if (rop2 == R2_COPYPEN && s_.bpp == 32) {
        auto* p = reinterpret_cast<std::uint32_t*>(s_.Row(y)) + x0;
        std::fill(p, p + n, (raw & s_.rawMask) | s_.alphaFill);
        return;
    }
    row_.resize(static_cast<std::size_t>(n));
    if (Rop2UsesDest(rop2)) s_.ReadRaw(x0, y, n, row_.data());
    for (int i = 0; i < n; ++i)
        row_[i] = ApplyRop2(rop2, raw, row_[i]) & s_.rawMask;
    s_.WriteRaw(x0, y, n, row_.data());
}

void Painter::Plot(int x, int y, std::uint32_t raw, int rop2) {
    Span(y, x, x + 1, raw, rop2);
}

void Painter::Fill(const Mask& mask, std::uint8_t value, std::uint32_t raw, int rop2) {
    for (int y = 0; y < mask.h; ++y) {
        int x = 0;
        while (x < mask.w) {
            if (mask.At(x, y) != value) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < mask.w && mask.At(x, y) == value)
                ++x;
            Span(mask.oy + y, mask.ox + start, mask.ox + x, raw, rop2);
        }
    }
}

void Painter::FillBand(const Mask& outer, const Mask& inner, std::uint32_t raw, int rop2) {
    Mask band(outer.ox, outer.oy, outer.w, outer.h);
    for (std::size_t i = 0; i < band.m.size(); ++i)
        band.m[i] = outer.m[i] && !inner.m[i];
    Fill(band, 1, raw, rop2);
}

void Painter::Layer(const QImage& layer, int ox, int oy, bool copy, std::uint32_t raw, int rop2) {
    if (!ok_) return;
    for (int y = 0; y < layer.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(layer.constScanLine(y));
        for (int x = 0; x < layer.width(); ++x) {
            if (qAlpha(line[x]) < 128) continue;
            if (copy)
                Plot(ox + x, oy + y, EncodeRgb(qUnpremultiply(line[x]) & 0xFFFFFF), R2_COPYPEN);
            else
                Plot(ox + x, oy + y, raw, rop2);
        }
    }
}

// --- Pens and lines ---

PenDraw MakePen(Painter& p) {
    PenDraw pen;
    HDC__* dc = p.Dc();
    const LOGPEN& lp = dc->pen ? dc->pen->pen : LOGPEN{};
    pen.none = !dc->pen || lp.lopnStyle == PS_NULL;
    pen.width = std::max<LONG>(1, lp.lopnWidth.x);
    pen.style =
        pen.width > 1 || lp.lopnStyle == PS_INSIDEFRAME ? PS_SOLID : static_cast<int>(lp.lopnStyle);
    pen.rop2 = dc->rop2;
    if (p.Ok()) {
        pen.raw = p.Encode(lp.lopnColor);
        pen.bkRaw = p.Encode(dc->bkColor);
    }
    pen.opaqueGaps = dc->bkMode == OPAQUE;
    return pen;
}

namespace {

// On and off runs of the styled one-pixel pens.
std::span<const int> Pattern(int style) {
    static constexpr int dash[] = {6, 2};
    static constexpr int dot[] = {1, 1};
    static constexpr int dashDot[] = {6, 2, 1, 2};
    static constexpr int dashDotDot[] = {6, 2, 1, 2, 1, 2};
    switch (style) {
    case PS_DASH:
        return dash;
    case PS_DOT:
        return dot;
    case PS_DASHDOT:
        return dashDot;
    case PS_DASHDOTDOT:
        return dashDotDot;
    default:
        return {};
    }
}

bool PatternOn(std::span<const int> pattern, int phase) {
    if (pattern.empty()) return true;
    int total = 0;
    for (int v : pattern)
        total += v;
    int pos = phase % total;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pos < pattern[i]) return i % 2 == 0;
        pos -= pattern[i];
    }
    return true;
}

void Line1(Painter& p, const PenDraw& pen, POINT a, POINT b, int& phase) {
    const auto pattern = Pattern(pen.style);
    if (pattern.empty() && a.y == b.y) {
        // Horizontal solid run without its last point.
        if (a.x < b.x)
            p.Span(a.y, a.x, b.x, pen.raw, pen.rop2);
        else if (a.x > b.x)
            p.Span(a.y, b.x + 1, a.x + 1, pen.raw, pen.rop2);
        return;
    }
    int x = a.x, y = a.y;
    const int dx = std::abs(b.x - a.x), sx = a.x < b.x ? 1 : -1;
    const int dy = -std::abs(b.y - a.y), sy = a.y < b.y ? 1 : -1;
    int err = dx + dy;
    while (x != b.x || y != b.y) {
        if (PatternOn(pattern, phase))
            p.Plot(x, y, pen.raw, pen.rop2);
        else if (pen.opaqueGaps)
            p.Plot(x, y, pen.bkRaw, pen.rop2);
        ++phase;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void WideStroke(Painter& p, const PenDraw& pen, const POINT* pts, int count, bool closed) {
    LONG l = pts[0].x, t = pts[0].y, r = pts[0].x, b = pts[0].y;
    for (int i = 1; i < count; ++i) {
        l = std::min(l, pts[i].x);
        t = std::min(t, pts[i].y);
        r = std::max(r, pts[i].x);
        b = std::max(b, pts[i].y);
    }
    const int margin = pen.width + 1;
    const RECT& clip = p.Clip();
    const int ox = std::max<int>(l - margin, clip.left), oy = std::max<int>(t - margin, clip.top);
    const int ex = std::min<int>(r + margin + 1, clip.right),
              ey = std::min<int>(b + margin + 1, clip.bottom);
    if (ox >= ex || oy >= ey) return;
    QImage layer(ex - ox, ey - oy, QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull()) return;
    layer.fill(0);
    {
        QPainter qp(&layer);
        qp.setRenderHint(QPainter::Antialiasing, false);
        qp.setPen(
            QPen(QColor(255, 255, 255), pen.width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        qp.setBrush(Qt::NoBrush);
        QPolygonF poly;
        for (int i = 0; i < count; ++i)
            poly << QPointF(pts[i].x - ox + 0.5, pts[i].y - oy + 0.5);
        if (closed)
            qp.drawPolygon(poly);
        else
            qp.drawPolyline(poly);
    }
    p.Layer(layer, ox, oy, false, pen.raw, pen.rop2);
}

POINT ToDevice(const HDC__* dc, int x, int y) {
    return POINT{x + dc->origin.x, y + dc->origin.y};
}

struct BrushDraw {
    bool on = false;
    std::uint32_t raw = 0;
};

BrushDraw MakeBrush(Painter& p, const HBRUSH__* brush) {
    BrushDraw b;
    if (brush && brush->brush.lbStyle == BS_SOLID && p.Ok()) {
        b.on = true;
        b.raw = p.Encode(brush->brush.lbColor);
    }
    return b;
}

// Brush inside, pen band of the pen's width along the edge.
void DrawShape(Painter& p, const Mask& region) {
    const PenDraw pen = MakePen(p);
    const BrushDraw brush = MakeBrush(p, p.Dc()->brush);
    if (pen.none) {
        if (brush.on) p.Fill(region, 1, brush.raw, pen.rop2);
        return;
    }
    const Mask inner = Erode(region, pen.width);
    if (brush.on) p.Fill(inner, 1, brush.raw, pen.rop2);
    p.FillBand(region, inner, pen.raw, pen.rop2);
}

void Normalize(int& l, int& t, int& r, int& b) {
    if (l > r) std::swap(l, r);
    if (t > b) std::swap(t, b);
}

HBRUSH__* ResolveBrush(HBRUSH brush) {
    const auto value = reinterpret_cast<std::uintptr_t>(brush);
    if (value >= 1 && value <= 31) return SysColorBrush(static_cast<int>(value - 1));
    return Find<HBRUSH__>(brush, OBJ_BRUSH);
}

} // namespace

void StrokePolyline(Painter& p, const PenDraw& pen, const POINT* pts, int count, bool closed) {
    if (pen.none || count < 1 || !p.Ok()) return;
    if (pen.width > 1) {
        WideStroke(p, pen, pts, count, closed);
        return;
    }
    int phase = 0;
    for (int i = 0; i + 1 < count; ++i)
        Line1(p, pen, pts[i], pts[i + 1], phase);
    if (closed && count > 1) Line1(p, pen, pts[count - 1], pts[0], phase);
}

BOOL MoveToEx(HDC dc, int x, int y, POINT* old) {
    HDC__* d = FindDC(dc);
    if (!d) return FALSE;
    if (old) *old = d->pos;
    d->pos = POINT{x, y};
    return TRUE;
}

BOOL GetCurrentPositionEx(HDC dc, POINT* pos) {
    HDC__* d = FindDC(dc);
    if (!d || !pos) return FALSE;
    *pos = d->pos;
    return TRUE;
}

BOOL LineTo(HDC dc, int x, int y) {
    HDC__* d = FindDC(dc);
    if (!d) return FALSE;
    Painter p(d);
    if (p.Ok()) {
        const POINT pts[2] = {ToDevice(d, d->pos.x, d->pos.y), ToDevice(d, x, y)};
        StrokePolyline(p, MakePen(p), pts, 2, false);
    }
    d->pos = POINT{x, y};
    return TRUE;
}

BOOL Polyline(HDC dc, const POINT* points, int count) {
    HDC__* d = FindDC(dc);
    if (!d || !points || count < 2) return FALSE;
    Painter p(d);
    if (!p.Ok()) return TRUE;
    std::vector<POINT> pts(points, points + count);
    for (auto& pt : pts)
        pt = ToDevice(d, pt.x, pt.y);
    StrokePolyline(p, MakePen(p), pts.data(), count, false);
    return TRUE;
}

BOOL Polygon(HDC dc, const POINT* points, int count) {
    HDC__* d = FindDC(dc);
    if (!d || !points || count < 2) return FALSE;
    Painter p(d);
    if (!p.Ok()) return TRUE;
    std::vector<POINT> pts(points, points + count);
    LONG l = std::numeric_limits<LONG>::max(), t = l, r = std::numeric_limits<LONG>::min(), b = r;
    for (auto& pt : pts) {
        pt = ToDevice(d, pt.x, pt.y);
        l = std::min(l, pt.x);
        t = std::min(t, pt.y);
        r = std::max(r, pt.x);
        b = std::max(b, pt.y);
    }
    // Interior by the even-odd rule. Vertices name pixels, as the outline
    // drawn through them does, so pixel (x, y) is sampled at (x, y).
    const RECT& clip = p.Clip();
    const int y0 = std::max<int>(t, clip.top), y1 = std::min<int>(b, clip.bottom - 1);
    const BrushDraw brush = MakeBrush(p, d->brush);
    const PenDraw pen = MakePen(p);
    if (brush.on) {
        std::vector<double> xs;
        for (int y = y0; y <= y1; ++y) {
            const double yc = y;
            xs.clear();
            for (int i = 0; i < count; ++i) {
                const POINT a = pts[i], c = pts[(i + 1) % count];
                if ((a.y <= yc && yc < c.y) || (c.y <= yc && yc < a.y))
                    xs.push_back(a.x + (yc - a.y) * (c.x - a.x) / static_cast<double>(c.y - a.y));
            }
            std::sort(xs.begin(), xs.end());
            for (std::size_t i = 0; i + 1 < xs.size(); i += 2) {
                const int xa = static_cast<int>(std::ceil(xs[i]));
                const int xb = static_cast<int>(std::ceil(xs[i + 1]));
                p.Span(y, xa, xb, brush.raw, pen.rop2);
            }
        }
    }
    StrokePolyline(p, pen, pts.data(), count, true);
    return TRUE;
}

BOOL Rectangle(HDC dc, int left, int top, int right, int bottom) {
    HDC__* d = FindDC(dc);
    if (!d) return FALSE;
    Painter p(d);
    if (!p.Ok()) return TRUE;
    Normalize(left, top, right, bottom);
    const POINT a = ToDevice(d, left, top), c = ToDevice(d, right, bottom);
    const PenDraw pen = MakePen(p);
    const BrushDraw brush = MakeBrush(p, d->brush);
    if (pen.none) {
        // Without a pen the platform's rectangle is one pixel smaller.
        if (brush.on)
            for (int y = a.y; y < c.y - 1; ++y)
                p.Span(y, a.x, c.x - 1, brush.raw, pen.rop2);
        return TRUE;
    }
    const int w = pen.width;
    if (brush.on)
        for (int y = a.y + w; y < c.y - w; ++y)
            p.Span(y, a.x + w, c.x - w, brush.raw, pen.rop2);
    if (c.x - a.x < 1 || c.y - a.y < 1) return TRUE;
    if (w == 1) {
        const POINT ring[4] = {{a.x, a.y}, {c.x - 1, a.y}, {c.x - 1, c.y - 1}, {a.x, c.y - 1}};
        if (c.x - a.x == 1 || c.y - a.y == 1) {
            for (int y = a.y; y < c.y; ++y)
                p.Span(y, a.x, c.x, pen.raw, pen.rop2);
        } else {
            StrokePolyline(p, pen, ring, 4, true);
        }
        return TRUE;
    }
    // Wide pens stay inside the rectangle.
    for (int y = a.y; y < c.y; ++y) {
        if (y < a.y + w || y >= c.y - w) {
            p.Span(y, a.x, c.x, pen.raw, pen.rop2);
        } else {
            p.Span(y, a.x, std::min<int>(a.x + w, c.x), pen.raw, pen.rop2);
            p.Span(y, std::max<int>(c.x - w, a.x + w), c.x, pen.raw, pen.rop2);
        }
    }
    return TRUE;
}

BOOL Ellipse(HDC dc, int left, int top, int right, int bottom) {
    HDC__* d = FindDC(dc);
    if (!d) return FALSE;
    Painter p(d);
    if (!p.Ok()) return TRUE;
    Normalize(left, top, right, bottom);
    const POINT a = ToDevice(d, left, top), c = ToDevice(d, right, bottom);
    DrawShape(p, EllipseMask(a.x, a.y, c.x, c.y));
    return TRUE;
}

BOOL Pie(HDC dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
    HDC__* d = FindDC(dc);
    if (!d) return FALSE;
    Painter p(d);
    if (!p.Ok()) return TRUE;
    Normalize(left, top, right, bottom);
    const POINT a = ToDevice(d, left, top), c = ToDevice(d, right, bottom);
    const POINT s = ToDevice(d, x1, y1), e = ToDevice(d, x2, y2);
    Mask region = EllipseMask(a.x, a.y, c.x, c.y);
    KeepSector(region, a.x, a.y, c.x, c.y, s.x, s.y, e.x, e.y);
    DrawShape(p, region);
    return TRUE;
}

BOOL Arc(HDC dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
    HDC__* d = FindDC(dc);
    if (!d) return FALSE;
    Painter p(d);
    if (!p.Ok()) return TRUE;
    Normalize(left, top, right, bottom);
    const POINT a = ToDevice(d, left, top), c = ToDevice(d, right, bottom);
    const POINT s = ToDevice(d, x1, y1), e = ToDevice(d, x2, y2);
    const PenDraw pen = MakePen(p);
    if (pen.none) return TRUE;
    const Mask region = EllipseMask(a.x, a.y, c.x, c.y);
    const Mask inner = Erode(region, pen.width);
    Mask band = region;
    for (std::size_t i = 0; i < band.m.size(); ++i)
        band.m[i] = region.m[i] && !inner.m[i];
    KeepSector(band, a.x, a.y, c.x, c.y, s.x, s.y, e.x, e.y);
    p.Fill(band, 1, pen.raw, pen.rop2);
    return TRUE;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    HDC__* d = FindDC(dc);
    HBRUSH__* b = ResolveBrush(brush);
    if (!d || !rect || !b) return 0;
    Painter p(d);
    if (!p.Ok() || b->brush.lbStyle != BS_SOLID) return 1;
    const std::uint32_t raw = p.Encode(b->brush.lbColor);
    const POINT a = ToDevice(d, rect->left, rect->top), c = ToDevice(d, rect->right, rect->bottom);
    for (int y = a.y; y < c.y; ++y)
        p.Span(y, a.x, c.x, raw, R2_COPYPEN);
    return 1;
}

int FrameRect(HDC dc, const RECT* rect, HBRUSH brush) {
    HDC__* d = FindDC(dc);
    HBRUSH__* b = ResolveBrush(brush);
    if (!d || !rect || !b) return 0;
    Painter p(d);
    if (!p.Ok() || b->brush.lbStyle != BS_SOLID) return 1;
    const std::uint32_t raw = p.Encode(b->brush.lbColor);
    const POINT a = ToDevice(d, rect->left, rect->top), c = ToDevice(d, rect->right, rect->bottom);
    if (a.x >= c.x || a.y >= c.y) return 1;
    p.Span(a.y, a.x, c.x, raw, R2_COPYPEN);
    p.Span(c.y - 1, a.x, c.x, raw, R2_COPYPEN);
    for (int y = a.y + 1; y < c.y - 1; ++y) {
        p.Plot(a.x, y, raw, R2_COPYPEN);
        p.Plot(c.x - 1, y, raw, R2_COPYPEN);
    }
    return 1;
}

BOOL InvertRect(HDC dc, const RECT* rect) {
    HDC__* d = FindDC(dc);
    if (!d || !rect) return FALSE;
    Painter p(d);
    if (!p.Ok()) return TRUE;
    const POINT a = ToDevice(d, rect->left, rect->top), c = ToDevice(d, rect->right, rect->bottom);
    for (int y = a.y; y < c.y; ++y)
        p.Span(y, a.x, c.x, 0, R2_NOT);
    return TRUE;
}

BOOL DrawFocusRect(HDC dc, const RECT* rect) {
    HDC__* d = FindDC(dc);
    if (!d || !rect) return FALSE;
    Painter p(d);
    if (!p.Ok()) return TRUE;
    const POINT a = ToDevice(d, rect->left, rect->top), c = ToDevice(d, rect->right, rect->bottom);
    if (a.x >= c.x || a.y >= c.y) return TRUE;
    // Each edge pixel once, on a checkerboard so that the corners alternate too.
    for (int x = a.x; x < c.x; ++x) {
        if (((x + a.y) & 1) == 0) p.Plot(x, a.y, 0, R2_NOT);
        if (c.y - 1 > a.y && ((x + c.y - 1) & 1) == 0) p.Plot(x, c.y - 1, 0, R2_NOT);
    }
    for (int y = a.y + 1; y < c.y - 1; ++y) {
        if (((a.x + y) & 1) == 0) p.Plot(a.x, y, 0, R2_NOT);
        if (c.x - 1 > a.x && ((c.x - 1 + y) & 1) == 0) p.Plot(c.x - 1, y, 0, R2_NOT);
    }
    return TRUE;
}

BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop) {
    HDC__* d = FindDC(dc);
    const auto code = static_cast<std::uint8_t>(rop >> 16);
    if (!d || Rop3UsesSource(code)) return FALSE;
    Painter p(d);
    if (!p.Ok()) return TRUE;
    if (width < 0) {
        x += width;
        width = -width;
    }
    if (height < 0) {
        y += height;
        height = -height;
    }
    std::uint32_t pat = 0;
    if (Rop3UsesPattern(code)) {
        if (!d->brush || d->brush->brush.lbStyle != BS_SOLID) return TRUE;
        pat = p.Encode(d->brush->brush.lbColor);
    }
    const POINT a = ToDevice(d, x, y);
    const RECT& clip = p.Clip();
    const int x0 = std::max<int>(a.x, clip.left), x1 = std::min<int>(a.x + width, clip.right);
    const int y0 = std::max<int>(a.y, clip.top), y1 = std::min<int>(a.y + height, clip.bottom);
    if (x0 >= x1 || y0 >= y1) return TRUE;
    p.Touch(x0, y0, x1, y1);
    std::vector<std::uint32_t> row(static_cast<std::size_t>(x1 - x0));
    const Surface& s = p.Target();
    for (int yy = y0; yy < y1; ++yy) {
        s.ReadRaw(x0, yy, x1 - x0, row.data());
        for (auto& v : row)
            v = ApplyRop3(code, pat, 0, v) & s.rawMask;
        s.WriteRaw(x0, yy, x1 - x0, row.data());
    }
    return TRUE;
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF color) {
    HDC__* d = FindDC(dc);
    if (!d) return CLR_INVALID;
    Painter p(d);
    const POINT a = ToDevice(d, x, y);
    const RECT& clip = p.Clip();
    if (!p.Ok() || a.x < clip.left || a.x >= clip.right || a.y < clip.top || a.y >= clip.bottom)
        return CLR_INVALID;
    const std::uint32_t raw = p.Encode(color);
    p.Plot(a.x, a.y, raw, R2_COPYPEN);
    return ColorrefFromRgb(p.Target().Decode(raw));
}

COLORREF GetPixel(HDC dc, int x, int y) {
    HDC__* d = FindDC(dc);
    if (!d) return CLR_INVALID;
    Painter p(d);
    const POINT a = ToDevice(d, x, y);
    const RECT& clip = p.Clip();
    if (!p.Ok() || a.x < clip.left || a.x >= clip.right || a.y < clip.top || a.y >= clip.bottom)
        return CLR_INVALID;
    std::uint32_t raw = 0;
    p.Target().ReadRaw(a.x, a.y, 1, &raw);
    return ColorrefFromRgb(p.Target().Decode(raw));
}

} // namespace lum::platform::gdi
