// LUMDIBCV: the pixel primitives of the DIB canvas and the module drawing
// state they share. Pixels are written straight into the surface's memory:
// 8-bit spans a run of bytes at a time, 24-bit ones 3 bytes a pixel, so
// that nothing past the last pixel of a row is touched.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "video/lumdibcv.h"
#include "video/lumdibcv_state.h"

namespace lum {

namespace dibcv {

std::recursive_mutex& PassMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

namespace {

TLumDIBDrawState g_state;
std::uint8_t* g_top = nullptr; // picture row 0
int g_depth = 0;               // passes open
std::vector<std::pair<TLumDIBDrawState, std::uint8_t*>> g_outer;

} // namespace

TLumDIBDrawState& State() {
    return g_state;
}

void OpenPass(const TLumDIBDrawState& state, bool topDown) {
    PassMutex().lock();
    if (g_depth++ > 0) g_outer.emplace_back(g_state, g_top);
    g_state = state;
    g_state.biLineDiff = topDown ? state.biScanWidth : -state.biScanWidth;
    g_top = state.biSurface
                ? (topDown ? state.biSurface
                           : state.biSurface + static_cast<std::ptrdiff_t>(state.biHeight - 1) *
                                                   state.biScanWidth)
                : nullptr;
    DIB_SETCLIPRECT(state.biClipRect);
}

void ClosePass() {
    --g_depth;
    if (!g_outer.empty()) {
        g_state = std::move(g_outer.back().first);
        g_top = g_outer.back().second;
        g_outer.pop_back();
    } else {
        g_state = TLumDIBDrawState{};
        g_top = nullptr;
    }
    PassMutex().unlock();
}

std::uint32_t Replicate(int bits, std::uint32_t value) {
    if (bits == 8) return (value & 0xFF) * 0x01010101u;
    if (bits == 16) return (value & 0xFFFF) * 0x00010001u;
    return value & 0xFFFFFF;
}

} // namespace dibcv

using namespace dibcv;

namespace {

enum class Op { Set, Xor, NotXor };

// RGB values are 0x00BBGGRR; in memory a pixel is blue, green, red.
constexpr std::uint32_t Swap(std::uint32_t c) {
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

// The pixel as it lies in memory, in the low bits.
std::uint32_t RawOf(std::uint32_t value) {
    switch (g_state.biBits) {
    case 8:
        return value & 0xFF;
    case 16:
        return value & 0xFFFF;
    default:
        return Swap(value & 0xFFFFFF);
    }
}

std::uint32_t ValueOf(std::uint32_t raw) {
    return g_state.biBits > 16 ? Swap(raw) : raw;
}

// The bits that carry colour; NOT leaves the others as they are.
std::uint32_t RawMask() {
    switch (g_state.biBits) {
    case 8:
        return 0xFF;
    case 16:
        return g_state.biMasks[0] | g_state.biMasks[1] | g_state.biMasks[2];
    default:
        return 0xFFFFFF;
    }
}

std::uint8_t* At(int x, int y) {
    return g_top + static_cast<std::ptrdiff_t>(y) * g_state.biLineDiff +
           static_cast<std::ptrdiff_t>(x) * g_state.biBPP;
}

std::uint32_t Read(const std::uint8_t* p) {
    switch (g_state.biBPP) {
    case 1:
        return *p;
    case 2: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case 3:
        return p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
    default: {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v & 0xFFFFFF;
    }
    }
}

void Write(std::uint8_t* p, std::uint32_t raw, Op op) {
    if (op != Op::Set) {
        const std::uint32_t old = Read(p);
        const std::uint32_t mask = RawMask();
        raw = op == Op::Xor ? old ^ raw : (old & ~mask) | (~(old ^ raw) & mask);
    }
    switch (g_state.biBPP) {
    case 1:
        *p = static_cast<std::uint8_t>(raw);
        break;
    case 2: {
        const auto v = static_cast<std::uint16_t>(raw);
        std::memcpy(p, &v, 2);
        break;
    }
    case 3:
        p[0] = static_cast<std::uint8_t>(raw);
        p[1] = static_cast<std::uint8_t>(raw >> 8);
        p[2] = static_cast<std::uint8_t>(raw >> 16);
        break;
    default:
        // The fourth byte carries no colour: cleared by a plain write,
        // kept by the inverting ones.
        if (op != Op::Set) raw |= static_cast<std::uint32_t>(p[3]) << 24;
        std::memcpy(p, &raw, 4);
        break;
    }
}

bool Active() {
    return g_top != nullptr;
}

bool Inside(int x, int y) {
    const TRect& c = g_state.biClipRect;
    return x >= c.left && x < c.right && y >= c.top && y < c.bottom;
}

void Plot(int x, int y, std::uint32_t raw, Op op) {
    if (Inside(x, y)) Write(At(x, y), raw, op);
}

std::uint32_t CurrentRaw() {
    return RawOf(g_state.biColor);
}

// Pixels x0 <= x < x1 of row Y, clipped.
void Span(int y, int x0, int x1, std::uint32_t raw, Op op) {
    const TRect& c = g_state.biClipRect;
    if (y < c.top || y >= c.bottom) return;
    x0 = std::max<int>(x0, c.left);
    x1 = std::min<int>(x1, c.right);
    if (x0 >= x1) return;
    std::uint8_t* p = At(x0, y);
    const int n = x1 - x0;
    if (op != Op::Set) {
        for (int i = 0; i < n; ++i, p += g_state.biBPP)
            Write(p, raw, op);
        return;
    }
    switch (g_state.biBPP) {
    case 1:
        std::memset(p, static_cast<int>(raw & 0xFF), static_cast<std::size_t>(n));
        break;
    case 2: {
        const auto v = static_cast<std::uint16_t>(raw);
        for (int i = 0; i < n; ++i, p += 2)
            std::memcpy(p, &v, 2);
        break;
    }
    case 3: {
        const auto b0 = static_cast<std::uint8_t>(raw), b1 = static_cast<std::uint8_t>(raw >> 8),
                   b2 = static_cast<std::uint8_t>(raw >> 16);
        for (int i = 0; i < n; ++i, p += 3) {
            p[0] = b0;
            p[1] = b1;
            p[2] = b2;
        }
        break;
    }
    default:
        for (int i = 0; i < n; ++i, p += 4)
            std::memcpy(p, &raw, 4);
        break;
    }
}

// Rows y0 <= y < y1 of column X, clipped.
void Column(int x, int y0, int y1, std::uint32_t raw, Op op) {
    const TRect& c = g_state.biClipRect;
    if (x < c.left || x >= c.right) return;
    y0 = std::max<int>(y0, c.top);
    y1 = std::min<int>(y1, c.bottom);
    for (int y = y0; y < y1; ++y)
        Write(At(x, y), raw, op);
}

void Order(int& a, int& b) {
    if (a > b) std::swap(a, b);
}

// From (x1, y1) up to but excluding (x2, y2).
void Line(int x1, int y1, int x2, int y2, std::uint32_t raw, Op op) {
    const int dx = std::abs(x2 - x1), sx = x1 < x2 ? 1 : -1;
    const int dy = -std::abs(y2 - y1), sy = y1 < y2 ? 1 : -1;
    int err = dx + dy;
    int x = x1, y = y1;
    while (x != x2 || y != y2) {
        Plot(x, y, raw, op);
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

// Half the width of the ellipse row Dy off the centre; -1 outside it.
int HalfWidth(int rx, int ry, int dy) {
    if (rx < 0 || ry < 0) return -1;
    const double a = rx + 0.5, b = ry + 0.5;
    const double q = 1.0 - (dy * dy) / (b * b);
    if (q < 0) return -1;
    return static_cast<int>(std::floor(a * std::sqrt(q) + 1e-9));
}

} // namespace

const TLumDIBDrawState& DIB_DrawState() {
    return g_state;
}

void DIB_InitDrawingDIB(TBitmapInfoHeader* dib) {
    if (!dib || dib->biSize < sizeof(TBitmapInfoHeader) || dib->biWidth <= 0 ||
        dib->biHeight == 0 || dib->biPlanes != 1)
        throw ELumDIBError("Bitlength not supported yet");
    const int bits = dib->biBitCount;
    TLumDIBDrawState s;
    s.biBits = bits;
    std::uint32_t masks[3] = {0, 0, 0};
    if (dib->biCompression == platform::BI_BITFIELDS && (bits == 16 || bits == 32)) {
        std::memcpy(masks, reinterpret_cast<const std::uint8_t*>(dib) + dib->biSize, 12);
    } else if (dib->biCompression == platform::BI_RGB && bits == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    } else if (dib->biCompression == platform::BI_RGB && bits == 32) {
        masks[0] = 0xFF0000;
        masks[1] = 0x00FF00;
        masks[2] = 0x0000FF;
    } else if (dib->biCompression != platform::BI_RGB || (bits != 8 && bits != 24)) {
        throw ELumDIBError("Bitlength not supported yet");
    }
    const bool is555 = masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F;
    const bool is565 = masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F;
    if ((bits == 16 && !is555 && !is565) ||
        (bits == 32 && (masks[0] != 0xFF0000 || masks[1] != 0xFF00 || masks[2] != 0xFF)))
        throw ELumDIBError("Bitlength not supported yet");
    std::memcpy(s.biMasks, masks, sizeof masks);
    s.biBPP = bits / 8;
    s.biWidth = dib->biWidth;
    s.biHeight = dib->biHeight < 0 ? -dib->biHeight : dib->biHeight;
    s.biScanWidth = static_cast<int>(DIB_WidthBytes(dib));
    s.biSurface = static_cast<std::uint8_t*>(DIB_Ptr(dib));
    s.biClipRect = TRect{0, 0, s.biWidth, s.biHeight};
    if (bits == 8) {
        const auto* colors = static_cast<const platform::RGBQUAD*>(DIB_Colors(dib));
        s.biColors.assign(colors, colors + std::min<std::uint32_t>(DIB_NumColors(dib), 256));
    }
    OpenPass(s, dib->biHeight < 0);
}

void DIB_DoneDrawingDIB() {
    ClosePass();
}

void DIB_SETCOLOR(std::uint32_t value) {
    g_state.biColor = Replicate(g_state.biBits, value);
}

std::uint32_t DIB_RGBTOVALUE(COLORREF rgb) {
    const std::uint32_t r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
    switch (g_state.biBits) {
    case 8: {
        // The nearest colour by squared distance, the first of equals.
        std::uint32_t best = 0, bestDistance = ~0u;
        for (std::size_t i = 0; i < g_state.biColors.size(); ++i) {
            const auto& q = g_state.biColors[i];
            const int dr = q.rgbRed - static_cast<int>(r), dg = q.rgbGreen - static_cast<int>(g),
                      db = q.rgbBlue - static_cast<int>(b);
            const auto d = static_cast<std::uint32_t>(dr * dr + dg * dg + db * db);
            if (d < bestDistance) {
                bestDistance = d;
                best = static_cast<std::uint32_t>(i);
            }
        }
        return best;
    }
    case 16: {
        const bool six = g_state.biMasks[1] == 0x07E0;
        return six ? ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)
                   : ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    }
    default:
        return rgb & 0xFFFFFF;
    }
}

void DIB_SETCLIPRECT(const TRect& rect) {
    TRect& c = g_state.biClipRect;
    c.left = std::max<platform::LONG>(rect.left, 0);
    c.top = std::max<platform::LONG>(rect.top, 0);
    c.right = std::min<platform::LONG>(rect.right, g_state.biWidth);
    c.bottom = std::min<platform::LONG>(rect.bottom, g_state.biHeight);
    if (c.right < c.left) c.right = c.left;
    if (c.bottom < c.top) c.bottom = c.top;
}

void DIB_SETPIXEL(int x, int y, std::uint32_t color) {
    if (Active()) Plot(x, y, RawOf(color), Op::Set);
}

std::uint32_t DIB_GETPIXEL(int x, int y) {
    if (!Active() || !Inside(x, y)) return 0xFFFFFFFFu;
    return ValueOf(Read(At(x, y)));
}

void DIB_MOVETO(int x, int y) {
    g_state.biPenPos = TPoint{x, y};
}

void DIB_LINETO(int x, int y) {
    if (Active()) Line(g_state.biPenPos.x, g_state.biPenPos.y, x, y, CurrentRaw(), Op::Set);
    g_state.biPenPos = TPoint{x, y};
}

void DIB_LINE(int x1, int y1, int x2, int y2) {
    if (Active()) Line(x1, y1, x2, y2, CurrentRaw(), Op::Set);
}

void DIB_LINENOTXOR(int x1, int y1, int x2, int y2) {
    if (Active()) Line(x1, y1, x2, y2, CurrentRaw(), Op::NotXor);
}

void DIB_HLINE(int x1, int x2, int y) {
    if (!Active()) return;
    Order(x1, x2);
    Span(y, x1, x2, CurrentRaw(), Op::Set);
}

void DIB_HLINEDASHED(int x1, int x2, int y) {
    if (!Active()) return;
    Order(x1, x2);
    for (long long x = x1; x + 4 <= x2; x += 8)
        Span(y, static_cast<int>(x), static_cast<int>(x + 4), CurrentRaw(), Op::Set);
}

void DIB_HLINEDOTED(int x1, int x2, int y, int step) {
    if (!Active()) return;
    Order(x1, x2);
    const long long every = std::max(step, 1) + 1LL;
    const TRect& c = g_state.biClipRect;
    if (y < c.top || y >= c.bottom) return;
    // Start at the first dot inside the clip, keeping the phase of x1.
    long long x = x1;
    if (x < c.left) x += (c.left - x + every - 1) / every * every;
    const long long end = std::min<long long>(x2, c.right);
    const std::uint32_t raw = CurrentRaw();
    for (; x < end; x += every)
        Write(At(static_cast<int>(x), y), raw, Op::Set);
}

void DIB_VLINE(int x, int y1, int y2) {
    if (!Active()) return;
    Order(y1, y2);
    Column(x, y1, y2, CurrentRaw(), Op::Set);
}

void DIB_VLINEDASHED(int x, int y1, int y2) {
    if (!Active()) return;
    Order(y1, y2);
    for (long long y = y1; y + 4 <= y2; y += 8)
        Column(x, static_cast<int>(y), static_cast<int>(y + 4), CurrentRaw(), Op::Set);
}

void DIB_VLINEDOTED(int x, int y1, int y2, int step) {
    if (!Active()) return;
    Order(y1, y2);
    const long long every = std::max(step, 1) + 1LL;
    const TRect& c = g_state.biClipRect;
    if (x < c.left || x >= c.right) return;
    long long y = y1;
    if (y < c.top) y += (c.top - y + every - 1) / every * every;
    const long long end = std::min<long long>(y2, c.bottom);
    const std::uint32_t raw = CurrentRaw();
    for (; y < end; y += every)
        Write(At(x, static_cast<int>(y)), raw, Op::Set);
}

void DIB_VLINEXOR(int x, int y1, int y2) {
    if (!Active()) return;
    Order(y1, y2);
    Column(x, y1, y2, CurrentRaw(), Op::Xor);
}

void DIB_VLINENOTXOR(int x, int y1, int y2) {
    if (!Active()) return;
    Order(y1, y2);
    Column(x, y1, y2, CurrentRaw(), Op::NotXor);
}

void DIB_VLINEMULTICOLOR(int x, int y, const std::uint8_t* colors, int count) {
    if (!Active() || !colors) return;
    const auto& table = g_state.biColors;
    for (int i = 0; i < count; ++i) {
        std::uint32_t value = colors[i];
        if (g_state.biBits > 8) {
            COLORREF rgb = value | (value << 8) | (value << 16);
            if (value < table.size()) {
                const auto& q = table[value];
                rgb = q.rgbRed | (q.rgbGreen << 8) | (static_cast<COLORREF>(q.rgbBlue) << 16);
            }
            value = DIB_RGBTOVALUE(rgb);
        }
        Plot(x, y + i, RawOf(value), Op::Set);
    }
}

void DIB_RECTANGLE(int left, int top, int right, int bottom) {
    if (!Active()) return;
    DIB_HLINE(left, right, top);
    DIB_HLINE(left, right, bottom - 1);
    DIB_VLINE(left, top, bottom);
    DIB_VLINE(right - 1, top, bottom);
}

void DIB_FILLRECT(const TRect& rect) {
    if (!Active()) return;
    const int top = std::max<int>(rect.top, g_state.biClipRect.top);
    const int bottom = std::min<int>(rect.bottom, g_state.biClipRect.bottom);
    for (int y = top; y < bottom; ++y)
        Span(y, rect.left, rect.right, CurrentRaw(), Op::Set);
}

void DIB_FILLRECTXOR(const TRect& rect) {
    if (!Active()) return;
    const int top = std::max<int>(rect.top, g_state.biClipRect.top);
    const int bottom = std::min<int>(rect.bottom, g_state.biClipRect.bottom);
    for (int y = top; y < bottom; ++y)
        Span(y, rect.left, rect.right, CurrentRaw(), Op::Xor);
}

void DIB_FILLRECTDOTED(const TRect& rect, bool odd) {
    if (!Active()) return;
    const TRect& c = g_state.biClipRect;
    const int top = std::max<int>(rect.top, c.top), bottom = std::min<int>(rect.bottom, c.bottom);
    const int left = std::max<int>(rect.left, c.left), right = std::min<int>(rect.right, c.right);
    const std::uint32_t raw = CurrentRaw();
    for (int y = top; y < bottom; ++y) {
        int x = left;
        if (((x + y) & 1) != (odd ? 1 : 0)) ++x;
        for (; x < right; x += 2)
            Write(At(x, y), raw, Op::Set);
    }
}

void DIB_CLEAR() {
    if (!Active()) return;
    const std::uint32_t raw = CurrentRaw();
    if (g_state.biBits == 8) {
        // Whole rows, padding included: one run over the whole block.
        std::memset(g_state.biSurface, static_cast<int>(raw & 0xFF),
                    static_cast<std::size_t>(g_state.biScanWidth) *
                        static_cast<std::size_t>(g_state.biHeight));
        return;
    }
    const TRect clip = g_state.biClipRect;
    g_state.biClipRect = TRect{0, 0, g_state.biWidth, g_state.biHeight};
    for (int y = 0; y < g_state.biHeight; ++y)
        Span(y, 0, g_state.biWidth, raw, Op::Set);
    g_state.biClipRect = clip;
}

void DIB_COPYDIBBITS(const void* src, int srcWidth, int srcHeight, int srcX, int srcY, int x, int y,
                     int width, int height) {
    if (!Active() || !src || srcWidth <= 0 || srcHeight <= 0) return;
    const TRect& c = g_state.biClipRect;
    // Clip the destination and move the source with it, then clip to the
    // source's own picture.
    long long l = x, t = y, r = static_cast<long long>(x) + width,
              b = static_cast<long long>(y) + height;
    long long sl = srcX, st = srcY;
    if (l < c.left) sl += c.left - l, l = c.left;
    if (t < c.top) st += c.top - t, t = c.top;
    r = std::min<long long>(r, c.right);
    b = std::min<long long>(b, c.bottom);
    if (sl < 0) l -= sl, sl = 0;
    if (st < 0) t -= st, st = 0;
    r = std::min<long long>(r, l + (srcWidth - sl));
    b = std::min<long long>(b, t + (srcHeight - st));
    if (l >= r || t >= b) return;
    const std::size_t srcStride =
        (static_cast<std::size_t>(srcWidth) * static_cast<std::size_t>(g_state.biBits) + 31) / 32 *
        4;
    const auto* base = static_cast<const std::uint8_t*>(src);
    const bool topDown = g_state.biLineDiff > 0;
    const std::size_t bytes = static_cast<std::size_t>(r - l) * g_state.biBPP;
    for (long long row = t; row < b; ++row) {
        const long long sr = st + (row - t);
        const long long stored = topDown ? sr : srcHeight - 1 - sr;
        const std::uint8_t* from =
            base + static_cast<std::size_t>(stored) * srcStride +
            static_cast<std::size_t>(sl) * static_cast<std::size_t>(g_state.biBPP);
        std::memmove(At(static_cast<int>(l), static_cast<int>(row)), from, bytes);
    }
}

void DIB_ELLIPSE(int x, int y, std::int16_t rx, std::int16_t ry, std::int16_t innerRx,
                 std::int16_t innerRy) {
    if (!Active() || rx < 0 || ry < 0) return;
    const std::uint32_t raw = CurrentRaw();
    for (int dy = -ry; dy <= ry; ++dy) {
        const int outer = HalfWidth(rx, ry, dy);
        if (outer < 0) continue;
        const int inner = HalfWidth(innerRx, innerRy, dy);
        if (inner < 0) {
            Span(y + dy, x - outer, x + outer + 1, raw, Op::Set);
        } else if (inner < outer) {
            Span(y + dy, x - outer, x - inner, raw, Op::Set);
            Span(y + dy, x + inner + 1, x + outer + 1, raw, Op::Set);
        }
    }
}

void DIB_FILLELLIPSE(int x, int y, std::int16_t rx, std::int16_t ry) {
    DIB_ELLIPSE(x, y, rx, ry, -1, -1);
}

} // namespace lum
