// Pixel access for every layout the service draws on, and the raster
// operation truth tables.
#include <bit>
#include <cstring>

#include "platform/gdi/internal.h"

namespace lum::platform::gdi {

int NearestIndex(const Rgb* table, int count, Rgb c) {
    int best = 0;
    long bestDist = -1;
    const int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    for (int i = 0; i < count; ++i) {
        const Rgb t = table[i];
        const long dr = r - static_cast<int>((t >> 16) & 0xFF);
        const long dg = g - static_cast<int>((t >> 8) & 0xFF);
        const long db = b - static_cast<int>(t & 0xFF);
        const long d = dr * dr + dg * dg + db * db;
        if (bestDist < 0 || d < bestDist) {
            bestDist = d;
            best = i;
            if (d == 0) break;
        }
    }
    return best;
}

int NearestCache::Lookup(const Rgb* table, int count, Rgb c) {
    const std::uint32_t key = (c & 0xFFFFFF) | 0x01000000u;
    const std::size_t slot = ((c * 2654435761u) >> 22) & 1023u;
    if (keys_[slot] == key) return values_[slot];
    const int index = NearestIndex(table, count, c & 0xFFFFFF);
    keys_[slot] = key;
    values_[slot] = static_cast<std::uint8_t>(index);
    return index;
}

void Surface::Prepare() {
    if (bpp == 16 && masks[0] == 0 && masks[1] == 0 && masks[2] == 0) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    }
    if (bpp == 32 && masks[0] == 0 && masks[1] == 0 && masks[2] == 0) {
        masks[0] = 0xFF0000;
        masks[1] = 0x00FF00;
        masks[2] = 0x0000FF;
    }
    if (bpp == 16 || bpp == 32) {
        rawMask = masks[0] | masks[1] | masks[2];
        for (int i = 0; i < 3; ++i) {
            shift[i] = masks[i] ? std::countr_zero(masks[i]) : 0;
            bits[i] = std::popcount(masks[i]);
        }
    } else if (bpp == 24) {
        rawMask = 0xFFFFFF;
    } else {
        rawMask = (1u << bpp) - 1;
    }
}

void Surface::ReadRaw(int x, int y, int n, std::uint32_t* out) const {
    const std::uint8_t* row = Row(y);
    switch (bpp) {
    case 32: {
        const auto* p = reinterpret_cast<const std::uint32_t*>(row) + x;
        for (int i = 0; i < n; ++i)
            out[i] = p[i] & rawMask;
        break;
    }
    case 24: {
        const std::uint8_t* p = row + 3 * static_cast<std::ptrdiff_t>(x);
        for (int i = 0; i < n; ++i, p += 3)
            out[i] = p[0] | (static_cast<std::uint32_t>(p[1]) << 8) |
                     (static_cast<std::uint32_t>(p[2]) << 16);
        break;
    }
    case 16: {
        const std::uint8_t* p = row + 2 * static_cast<std::ptrdiff_t>(x);
        for (int i = 0; i < n; ++i, p += 2)
            out[i] = (p[0] | (static_cast<std::uint32_t>(p[1]) << 8)) & rawMask;
        break;
    }
    case 8:
        for (int i = 0; i < n; ++i)
            out[i] = row[x + i];
        break;
    case 4:
        for (int i = 0; i < n; ++i) {
            const int xi = x + i;
            const std::uint8_t b = row[xi >> 1];
            out[i] = (xi & 1) ? (b & 0x0F) : (b >> 4);
        }
        break;
    case 1:
        for (int i = 0; i < n; ++i) {
            const int xi = x + i;
            out[i] = (row[xi >> 3] >> (7 - (xi & 7))) & 1;
        }
        break;
    default:
        std::memset(out, 0, sizeof(std::uint32_t) * static_cast<std::size_t>(n));
    }
}

void Surface::WriteRaw(int x, int y, int n, const std::uint32_t* in) const {
    std::uint8_t* row = Row(y);
    switch (bpp) {
    case 32: {
        auto* p = reinterpret_cast<std::uint32_t*>(row) + x;
        for (int i = 0; i < n; ++i)
            p[i] = (in[i] & rawMask) | alphaFill;
        break;
    }
    case 24: {
        std::uint8_t* p = row + 3 * static_cast<std::ptrdiff_t>(x);
        for (int i = 0; i < n; ++i, p += 3) {
            p[0] = static_cast<std::uint8_t>(in[i]);
            p[1] = static_cast<std::uint8_t>(in[i] >> 8);
            p[2] = static_cast<std::uint8_t>(in[i] >> 16);
        }
        break;
    }
    case 16: {
        std::uint8_t* p = row + 2 * static_cast<std::ptrdiff_t>(x);
        for (int i = 0; i < n; ++i, p += 2) {
            const std::uint32_t v = in[i] & rawMask;
            p[0] = static_cast<std::uint8_t>(v);
            p[1] = static_cast<std::uint8_t>(v >> 8);
        }
        break;
    }
    case 8:
        for (int i = 0; i < n; ++i)
            row[x + i] = static_cast<std::uint8_t>(in[i]);
        break;
    case 4:
        for (int i = 0; i < n; ++i) {
            const int xi = x + i;
            std::uint8_t& b = row[xi >> 1];
            const std::uint8_t v = static_cast<std::uint8_t>(in[i] & 0x0F);
            b = (xi & 1) ? static_cast<std::uint8_t>((b & 0xF0) | v)
                         : static_cast<std::uint8_t>((b & 0x0F) | (v << 4));
        }
        break;
    case 1:
        for (int i = 0; i < n; ++i) {
            const int xi = x + i;
            const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (xi & 7));
            if (in[i] & 1)
                row[xi >> 3] |= bit;
            else
                row[xi >> 3] &= static_cast<std::uint8_t>(~bit);
        }
        break;
    default:
        break;
    }
}

namespace {
// Widens a channel of Bits bits to 8 by repeating its bits.
inline std::uint32_t Widen(std::uint32_t v, int bits) {
    if (bits >= 8) return v >> (bits - 8);
    if (bits <= 0) return 0;
    std::uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
        out = (out << bits) | v;
        filled += bits;
    }
    return out >> (filled - 8);
}
} // namespace

Rgb Surface::Decode(std::uint32_t raw) const {
    if (bpp <= 8) return static_cast<int>(raw) < tableSize ? table[raw] : 0;
    if (bpp == 24 || Plain32()) return raw & 0xFFFFFF;
    Rgb c = 0;
    for (int i = 0; i < 3; ++i)
        c |= Widen((raw & masks[i]) >> shift[i], bits[i]) << (16 - 8 * i);
    return c;
}

void Surface::DecodeRow(int n, const std::uint32_t* raw, Rgb* out) const {
    if (bpp == 24 || Plain32()) {
        for (int i = 0; i < n; ++i)
            out[i] = raw[i] & 0xFFFFFF;
        return;
    }
    for (int i = 0; i < n; ++i)
        out[i] = Decode(raw[i]);
}

std::uint32_t Surface::Encode(Rgb c, NearestCache& cache) const {
    c &= 0xFFFFFF;
    if (bpp <= 8)
        return tableSize > 0 ? static_cast<std::uint32_t>(cache.Lookup(table, tableSize, c)) : 0;
    if (bpp == 24 || Plain32()) return c;
    std::uint32_t raw = 0;
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t v8 = (c >> (16 - 8 * i)) & 0xFF;
        const std::uint32_t v = bits[i] <= 8 ? v8 >> (8 - bits[i]) : v8 << (bits[i] - 8);
        raw |= (v << shift[i]) & masks[i];
    }
    return raw;
}

void Surface::ReadRgb(int x, int y, int n, Rgb* out) const {
    ReadRaw(x, y, n, out);
    DecodeRow(n, out, out);
}

std::uint32_t ApplyRop2(int code, std::uint32_t pen, std::uint32_t dst) {
    switch (code) {
    case R2_COPYPEN:
        return pen;
    case R2_XORPEN:
        return pen ^ dst;
    case R2_NOT:
        return ~dst;
    case R2_NOTXORPEN:
        return ~(pen ^ dst);
    case R2_NOP:
        return dst;
    default:
        break;
    }
    // Bit (2 * P + D) of code - 1 is the result for pen bit P, destination bit D.
    const unsigned table = static_cast<unsigned>(code - 1) & 0x0F;
    std::uint32_t r = 0;
    if (table & 1) r |= ~pen & ~dst;
    if (table & 2) r |= ~pen & dst;
    if (table & 4) r |= pen & ~dst;
    if (table & 8) r |= pen & dst;
    return r;
}

std::uint32_t ApplyRop3(std::uint8_t code, std::uint32_t pat, std::uint32_t src,
                        std::uint32_t dst) {
    switch (code) {
    case 0xCC:
        return src;
    case 0x66:
        return src ^ dst;
    case 0x88:
        return src & dst;
    case 0xEE:
        return src | dst;
    case 0x33:
        return ~src;
    case 0x55:
        return ~dst;
    case 0xF0:
        return pat;
    case 0x5A:
        return pat ^ dst;
    case 0x00:
        return 0;
    case 0xFF:
        return 0xFFFFFFFFu;
    default:
        break;
    }
    // Bit (4 * P + 2 * S + D) of the code is the result for those input bits.
    std::uint32_t r = 0;
    for (int i = 0; i < 8; ++i) {
        if (!((code >> i) & 1)) continue;
        r |= ((i & 4) ? pat : ~pat) & ((i & 2) ? src : ~src) & ((i & 1) ? dst : ~dst);
    }
    return r;
}

} // namespace lum::platform::gdi
