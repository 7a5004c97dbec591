// BitBlt, StretchBlt and StretchDIBits: one loop over destination rows
// that samples the source by the stretch mode, converts it to the
// destination's pixel values and combines source, pattern and destination
// by the ternary raster operation. Direct loops over pixel memory, because
// every visited video frame is stretched onto the thumbnail this way.
#include <algorithm>
#include <cstring>

#include "platform/gdi/gdi.h"
#include "platform/gdi/paint.h"

namespace lum::platform::gdi {

namespace {

struct SourceInfo {
    Surface s;
    bool mono = false; // a monochrome device bitmap
    Rgb bk = 0xFFFFFF; // the source context's background colour
};

// Source columns (or rows) [first, last) of one destination pixel; empty
// when they fall outside the source.
struct Range {
    int first = 0;
    int last = 0;
};

std::vector<Range> MapAxis(int d0, int dn, int from, int to, int s0, int sn, bool flip, int limit,
                           bool single) {
    // Destination pixels from..to-1 of the rectangle starting at d0, dn wide.
    std::vector<Range> out;
    out.reserve(static_cast<std::size_t>(std::max(0, to - from)));
    for (int d = from; d < to; ++d) {
        const long long i = d - d0;
        long long j0 = i * sn / dn;
        long long j1 = single ? j0 + 1 : std::max(j0 + 1, (i + 1) * sn / dn);
        if (flip) {
            const long long a = sn - j1, b = sn - j0;
            j0 = a;
            j1 = b;
        }
        long long first = s0 + j0, last = s0 + j1;
        first = std::max<long long>(first, 0);
        last = std::min<long long>(last, limit);
        if (first >= last) first = last = 0;
        out.push_back(Range{static_cast<int>(first), static_cast<int>(last)});
    }
    return out;
}

bool SameRaw(const Surface& a, const Surface& b) {
    if (a.bpp != b.bpp) return false;
    if (a.bpp <= 8)
        return a.tableSize == b.tableSize && std::equal(a.table, a.table + a.tableSize, b.table);
    if (a.bpp == 24) return true;
    return a.masks[0] == b.masks[0] && a.masks[1] == b.masks[1] && a.masks[2] == b.masks[2];
}

BOOL Blit(HDC__* dst, int dx, int dy, int dw, int dh, SourceInfo* src, int sx, int sy, int sw,
          int sh, DWORD rop, int mode) {
    const auto code = static_cast<std::uint8_t>(rop >> 16);
    const bool usesSrc = Rop3UsesSource(code), usesPat = Rop3UsesPattern(code),
               usesDst = Rop3UsesDest(code);
    if (usesSrc && !src) return FALSE;
    Painter p(dst);
    if (!p.Ok()) return TRUE;
    bool flipX = false, flipY = false;
    if (dw < 0) dx += dw + 1, dw = -dw, flipX = !flipX;
    if (dh < 0) dy += dh + 1, dh = -dh, flipY = !flipY;
    if (sw < 0) sx += sw + 1, sw = -sw, flipX = !flipX;
    if (sh < 0) sy += sh + 1, sh = -sh, flipY = !flipY;
    if (dw == 0 || dh == 0 || (usesSrc && (sw == 0 || sh == 0))) return TRUE;

    const Surface& d = p.Target();
    std::uint32_t pat = 0;
    if (usesPat) {
        if (!dst->brush || dst->brush->brush.lbStyle != BS_SOLID) return TRUE;
        pat = p.Encode(dst->brush->brush.lbColor);
    }
    const RECT& clip = p.Clip();
    const int x0 = std::max<int>(dx, clip.left), x1 = std::min<int>(dx + dw, clip.right);
    const int y0 = std::max<int>(dy, clip.top), y1 = std::min<int>(dy + dh, clip.bottom);
    if (x0 >= x1 || y0 >= y1) return TRUE;
    p.Touch(x0, y0, x1, y1);
    const int n = x1 - x0;
    std::vector<std::uint32_t> out(static_cast<std::size_t>(n));
    std::vector<std::uint8_t> valid(static_cast<std::size_t>(n), 1);

    if (!usesSrc) {
        for (int y = y0; y < y1; ++y) {
            if (usesDst) d.ReadRaw(x0, y, n, out.data());
            for (auto& v : out)
                v = ApplyRop3(code, pat, 0, v) & d.rawMask;
            d.WriteRaw(x0, y, n, out.data());
        }
        return TRUE;
    }

    // Blitting within one surface: read from a copy so that the
    // rectangles may overlap.
    std::vector<std::uint8_t> copy;
    Surface s = src->s;
    if (s.top == d.top) {
        const std::size_t rowBytes = static_cast<std::size_t>(s.pitch < 0 ? -s.pitch : s.pitch);
        copy.resize(rowBytes * static_cast<std::size_t>(s.height));
        for (int y = 0; y < s.height; ++y)
            std::memcpy(copy.data() + y * rowBytes, s.Row(y), rowBytes);
        s.top = copy.data();
        s.pitch = static_cast<std::ptrdiff_t>(rowBytes);
    }

    const bool stretched = sw != dw || sh != dh;
    const bool single = !stretched || mode == COLORONCOLOR || sw <= dw;
    const bool singleRow = !stretched || mode == COLORONCOLOR || sh <= dh;
    const std::vector<Range> cols = MapAxis(dx, dw, x0, x1, sx, sw, flipX, s.width, single);
    const std::vector<Range> rows = MapAxis(dy, dh, y0, y1, sy, sh, flipY, s.height, singleRow);
    int minCol = s.width, maxCol = 0;
    for (const Range& c : cols)
        if (c.first < c.last) {
            minCol = std::min(minCol, c.first);
            maxCol = std::max(maxCol, c.last);
        }
    if (minCol >= maxCol) return TRUE;

    // Source values are combined as raw values when both sides share a
    // format, else as colours after the monochrome conversions.
    const bool monoToColor = src->mono && !dst->Mono();
    const bool colorToMono = !src->mono && dst->Mono();
    const bool halftone = stretched && mode == HALFTONE && !(single && singleRow);
    const bool raw = SameRaw(s, d) && !monoToColor && !colorToMono && !halftone;
    const Rgb fore = RgbFromColorref(dst->textColor), back = RgbFromColorref(dst->bkColor);
    NearestCache cache;

    const int span = maxCol - minCol;
    std::vector<std::uint32_t> line(static_cast<std::size_t>(span));
    const bool sparse = single && static_cast<long long>(n) * 4 < span;
    auto readRow = [&](int y) {
        // Only the columns the destination samples are read when they are sparse.
        if (sparse) {
            for (const Range& c : cols)
                if (c.first < c.last) s.ReadRaw(c.first, y, 1, &line[c.first - minCol]);
        } else {
            s.ReadRaw(minCol, y, span, line.data());
        }
        if (raw) return;
        auto convert = [&](std::uint32_t& v) {
            Rgb c = s.Decode(v);
            if (monoToColor)
                c = c == 0 ? fore : back;
            else if (colorToMono)
                c = c == src->bk ? 0xFFFFFF : 0x000000;
            v = c;
        };
        if (sparse) {
            for (const Range& c : cols)
                if (c.first < c.last) convert(line[c.first - minCol]);
        } else {
            for (auto& v : line)
                convert(v);
        }
    };

    // Destination pixels without a source keep their value.
    bool anyInvalid = false;
    for (int i = 0; i < n; ++i) {
        const Range& c = cols[static_cast<std::size_t>(i)];
        valid[i] = c.first < c.last;
        anyInvalid = anyInvalid || !valid[i];
    }
    const bool needDest = usesDst || anyInvalid;

    // Unstretched copies of 24-bit or plain 32-bit pixels onto a plain
    // 32-bit surface, as every video frame drawn on a window is: each row
    // converted in one loop.
    if (!stretched && code == 0xCC && !flipX && !flipY && !anyInvalid && !src->mono &&
        !dst->Mono() && d.Plain32() && (s.bpp == 24 || s.Plain32())) {
        const int first = cols.front().first;
        for (int y = y0; y < y1; ++y) {
            const Range& r = rows[static_cast<std::size_t>(y - y0)];
            if (r.first >= r.last) continue;
            auto* out = reinterpret_cast<std::uint32_t*>(d.Row(y)) + x0;
            if (s.bpp == 24) {
                const std::uint8_t* p = s.Row(r.first) + 3 * static_cast<std::ptrdiff_t>(first);
                for (int i = 0; i < n; ++i, p += 3)
                    out[i] = p[0] | (static_cast<std::uint32_t>(p[1]) << 8) |
                             (static_cast<std::uint32_t>(p[2]) << 16) | d.alphaFill;
            } else {
                const auto* p = reinterpret_cast<const std::uint32_t*>(s.Row(r.first)) + first;
                for (int i = 0; i < n; ++i)
                    out[i] = (p[i] & 0xFFFFFF) | d.alphaFill;
            }
        }
        return TRUE;
    }

    std::vector<std::uint32_t> acc(static_cast<std::size_t>(n));
    std::vector<std::uint32_t> sums(halftone ? static_cast<std::size_t>(n) * 4 : 0);
    for (int y = y0; y < y1; ++y) {
        const Range& r = rows[static_cast<std::size_t>(y - y0)];
        if (r.first >= r.last) continue;
        std::fill(acc.begin(), acc.end(), mode == BLACKONWHITE && stretched ? 0xFFFFFFFFu : 0u);
        std::fill(sums.begin(), sums.end(), 0u);
        for (int sy2 = r.first; sy2 < r.last; ++sy2) {
            readRow(sy2);
            for (int i = 0; i < n; ++i) {
                const Range& c = cols[static_cast<std::size_t>(i)];
                if (c.first >= c.last) continue;
                if (single && singleRow) {
                    acc[i] = line[c.first - minCol];
                    continue;
                }
                for (int x = c.first; x < c.last; ++x) {
                    const std::uint32_t v = line[x - minCol];
                    if (halftone) {
                        std::uint32_t* sum = &sums[static_cast<std::size_t>(i) * 4];
                        sum[0] += (v >> 16) & 0xFF;
                        sum[1] += (v >> 8) & 0xFF;
                        sum[2] += v & 0xFF;
                        ++sum[3];
                    } else if (mode == BLACKONWHITE) {
                        acc[i] &= v;
                    } else if (mode == WHITEONBLACK) {
                        acc[i] |= v;
                    } else {
                        acc[i] = v;
                    }
                }
            }
        }
        if (needDest) d.ReadRaw(x0, y, n, out.data());
        for (int i = 0; i < n; ++i) {
            if (!valid[i]) continue;
            std::uint32_t v = acc[i];
            if (halftone) {
                const std::uint32_t* sum = &sums[static_cast<std::size_t>(i) * 4];
                const std::uint32_t k = std::max<std::uint32_t>(sum[3], 1);
                v = (((sum[0] + k / 2) / k) << 16) | (((sum[1] + k / 2) / k) << 8) |
                    ((sum[2] + k / 2) / k);
            }
            if (!raw) v = d.Encode(v, cache);
            out[i] = (code == 0xCC ? v : ApplyRop3(code, pat, v, out[i])) & d.rawMask;
        }
        d.WriteRaw(x0, y, n, out.data());
    }
    return TRUE;
}

bool SourceOf(HDC__* dc, SourceInfo& info) {
    if (!dc || !dc->Target(info.s)) return false;
    info.mono = dc->Mono();
    info.bk = RgbFromColorref(dc->bkColor);
    return true;
}

} // namespace

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop) {
    return StretchBlt(dst, x, y, width, height, src, srcX, srcY, width, height, rop);
}

BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                int srcWidth, int srcHeight, DWORD rop) {
    HDC__* d = FindDC(dst);
    if (!d) return FALSE;
    HDC__* s = FindDC(src);
    // Both window surfaces are held for the whole copy, taken together so
    // that two threads copying between two windows cannot block each other.
    std::unique_lock<std::recursive_mutex> dstLock = d->LockSurface(std::defer_lock);
    std::unique_lock<std::recursive_mutex> srcLock =
        s ? s->LockSurface(std::defer_lock) : decltype(dstLock)();
    if (dstLock.mutex() && srcLock.mutex())
        std::lock(dstLock, srcLock);
    else if (dstLock.mutex())
        dstLock.lock();
    else if (srcLock.mutex())
        srcLock.lock();
    SourceInfo info;
    const bool hasSource = s && SourceOf(s, info);
    if (s && !hasSource && s->kind == HDC__::Window) return TRUE; // a window shows nothing to copy
    return Blit(d, x + d->origin.x, y + d->origin.y, width, height, hasSource ? &info : nullptr,
                srcX + (s ? s->origin.x : 0), srcY + (s ? s->origin.y : 0), srcWidth, srcHeight,
                rop, d->stretchMode);
}

int StretchDIBits(HDC dc, int x, int y, int width, int height, int srcX, int srcY, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
    HDC__* d = FindDC(dc);
    DibFormat f;
    if (!d || !bits || !ParseDib(info, usage, d->palette, f)) return 0;
    SourceInfo src;
    std::vector<std::uint8_t> scratch;
    if (!DibSurface(f, bits, scratch, src.s)) return 0;
    if (!f.topDown) {
        // Rows of a bottom-up DIB count from its bottom.
        bool flip = false;
        if (srcHeight < 0) {
            srcY += srcHeight + 1;
            srcHeight = -srcHeight;
            flip = true;
        }
        srcY = f.height - srcY - srcHeight;
        if (flip) {
            srcY += srcHeight - 1;
            srcHeight = -srcHeight;
        }
    }
    if (!Blit(d, x + d->origin.x, y + d->origin.y, width, height, &src, srcX, srcY, srcWidth,
              srcHeight, rop, d->stretchMode))
        return 0;
    return std::abs(srcHeight);
}

} // namespace lum::platform::gdi
