#include "platform/vfw/dibformat.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/vfw/riff.h"

namespace lum::platform::vfw {

namespace {

constexpr int kMaxSide = 65535;
constexpr long long kMaxPixels = 1LL << 28;

bool ValidDepth(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

void DefaultMasks(int bits, std::uint32_t* m) {
    if (bits == 16) {
        m[0] = 0x7C00;
        m[1] = 0x03E0;
        m[2] = 0x001F;
    } else {
        m[0] = 0xFF0000;
        m[1] = 0x00FF00;
        m[2] = 0x0000FF;
    }
}

// One channel of a masked pixel, widened to 8 bits by repeating its bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int width = 0;

    explicit Channel(std::uint32_t m = 0) : mask(m) {
        if (m == 0) return;
        shift = std::countr_zero(m);
        width = std::min(std::popcount(m >> shift), 8);
    }
    std::uint32_t Get(std::uint32_t v) const {
        if (width == 0) return 0;
        std::uint32_t c = (v & mask) >> shift;
        if (std::popcount(mask) > 8) c >>= std::popcount(mask) - 8;
        std::uint32_t out = 0;
        for (int have = 0; have < 8; have += width)
            out |= have + width <= 8 ? c << (8 - have - width) : c >> (have + width - 8);
        return out & 0xFF;
    }
    std::uint32_t Put(std::uint32_t c8) const {
        if (width == 0) return 0;
        std::uint32_t c = c8 >> (8 - width);
        if (std::popcount(mask) > 8) c <<= std::popcount(mask) - 8;
        return (c << shift) & mask;
    }
};

struct Masked {
    Channel r, g, b;
    explicit Masked(const DibLayout& l) : r(l.masks[0]), g(l.masks[1]), b(l.masks[2]) {}
};

// Row Y (from the top) of Src as 0x00RRGGBB colours.
void ReadRow(const DibLayout& l, const std::uint8_t* row, const Masked& m, std::uint32_t* out) {
    const int w = l.width;
    switch (l.bits) {
    case 1:
    case 4:
    case 8: {
        const int per = 8 / l.bits;
        const unsigned mask = (1u << l.bits) - 1;
        for (int x = 0; x < w; ++x) {
            unsigned shift = static_cast<unsigned>((per - 1 - x % per) * l.bits);
            unsigned index = (row[x / per] >> shift) & mask;
            if (index < l.colors.size()) {
                const RGBQUAD& q = l.colors[index];
                out[x] = (static_cast<std::uint32_t>(q.rgbRed) << 16) |
                         (static_cast<std::uint32_t>(q.rgbGreen) << 8) | q.rgbBlue;
            } else {
                out[x] = 0;
            }
        }
        break;
    }
    case 16:
        for (int x = 0; x < w; ++x) {
            std::uint32_t v = GetLE16(row + 2 * x);
            out[x] = (m.r.Get(v) << 16) | (m.g.Get(v) << 8) | m.b.Get(v);
        }
        break;
    case 24:
        for (int x = 0; x < w; ++x, row += 3)
            out[x] = (static_cast<std::uint32_t>(row[2]) << 16) |
                     (static_cast<std::uint32_t>(row[1]) << 8) | row[0];
        break;
    case 32:
        for (int x = 0; x < w; ++x) {
            std::uint32_t v = GetLE32(row + 4 * x);
            out[x] = (m.r.Get(v) << 16) | (m.g.Get(v) << 8) | m.b.Get(v);
        }
        break;
    }
}

void WriteRow(const DibLayout& l, const std::uint32_t* in, const Masked& m, std::uint8_t* row) {
    const int w = l.width;
    switch (l.bits) {
    case 16:
        for (int x = 0; x < w; ++x) {
            std::uint32_t c = in[x];
            std::uint32_t v =
                m.r.Put((c >> 16) & 0xFF) | m.g.Put((c >> 8) & 0xFF) | m.b.Put(c & 0xFF);
            PutLE16(row + 2 * x, static_cast<std::uint16_t>(v));
        }
        break;
    case 24:
        for (int x = 0; x < w; ++x, row += 3) {
            row[0] = static_cast<std::uint8_t>(in[x]);
            row[1] = static_cast<std::uint8_t>(in[x] >> 8);
            row[2] = static_cast<std::uint8_t>(in[x] >> 16);
        }
        break;
    case 32:
        for (int x = 0; x < w; ++x) {
            std::uint32_t c = in[x];
            PutLE32(row + 4 * x,
                    m.r.Put((c >> 16) & 0xFF) | m.g.Put((c >> 8) & 0xFF) | m.b.Put(c & 0xFF));
        }
        break;
    }
}

// Indices of one row, one a byte.
void ReadIndices(const DibLayout& l, const std::uint8_t* row, std::uint8_t* out) {
    const int per = 8 / l.bits;
    const unsigned mask = (1u << l.bits) - 1;
    for (int x = 0; x < l.width; ++x)
        out[x] = static_cast<std::uint8_t>((row[x / per] >> ((per - 1 - x % per) * l.bits)) & mask);
}

void WriteIndices(const DibLayout& l, const std::uint8_t* in, std::uint8_t* row) {
    const int per = 8 / l.bits;
    const unsigned mask = (1u << l.bits) - 1;
    std::memset(row, 0, l.stride);
    for (int x = 0; x < l.width; ++x)
        row[x / per] = static_cast<std::uint8_t>(
            row[x / per] | ((in[x] & mask) << ((per - 1 - x % per) * l.bits)));
}

} // namespace

std::size_t DibStride(int width, int bits) {
    return ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 31) / 32) * 4;
}

bool DibLayout::SamePixels(const DibLayout& o) const {
    if (bits != o.bits) return false;
    if (Indexed()) {
        // An empty table has no storage to compare (memcmp takes no null).
        return colors.size() == o.colors.size() &&
               (colors.empty() ||
                std::memcmp(colors.data(), o.colors.data(), colors.size() * sizeof(RGBQUAD)) == 0);
    }
    return bits == 24 || std::equal(masks, masks + 3, o.masks);
}

bool ParseFormat(const std::uint8_t* f, std::size_t size, DibLayout& out, DWORD* compression) {
    if (f == nullptr || size < 40) return false;
    const DWORD header = GetLE32(f);
    if (header < 40 || header > size) return false;
    const auto w = static_cast<LONG>(GetLE32(f + 4));
    const auto h = static_cast<LONG>(GetLE32(f + 8));
    const int bits = GetLE16(f + 14);
    const DWORD comp = GetLE32(f + 16);
    if (compression) *compression = comp;
    if (w <= 0 || h == 0 || h == INT32_MIN) return false;
    const long long rows = h < 0 ? -static_cast<long long>(h) : h;
    if (w > kMaxSide || rows > kMaxSide || w * rows > kMaxPixels) return false;
    if (!ValidDepth(bits)) return false;
    DibLayout l;
    l.width = w;
    l.height = static_cast<int>(rows);
    l.top_down = h < 0;
    l.bits = bits;
    if (comp == BI_RLE8 || comp == BI_RLE4) {
        if (bits != (comp == BI_RLE8 ? 8 : 4) || l.top_down) return false;
    } else if (comp == BI_BITFIELDS) {
        if (bits != 16 && bits != 32) return false;
        if (size < 52) return false;
        for (int i = 0; i < 3; ++i)
            l.masks[i] = GetLE32(f + 40 + 4 * i);
        l.compression = BI_BITFIELDS;
    } else if (comp != BI_RGB) {
        return false;
    } else if (bits > 8) {
        DefaultMasks(bits, l.masks);
    }
    if (bits <= 8) {
        std::size_t count = GetLE32(f + 32);
        const std::size_t most = std::size_t{1} << bits;
        if (count == 0 || count > most) count = most;
        const std::size_t table = comp == BI_BITFIELDS ? header + 12 : header;
        count = std::min(count, (size - std::min(size, table)) / 4);
        l.colors.resize(count);
        if (count) std::memcpy(l.colors.data(), f + table, count * 4);
    }
    l.stride = DibStride(l.width, bits);
    l.image = l.stride * static_cast<std::size_t>(l.height);
    out = std::move(l);
    return true;
}

bool OutputLayout(const BITMAPINFOHEADER& wanted, const std::uint8_t* masks,
                  const DibLayout& source, DibLayout& out) {
    const LONG w = wanted.biWidth == 0 ? source.width : wanted.biWidth;
    const long long h = wanted.biHeight < 0 ? -static_cast<long long>(wanted.biHeight)
                                            : static_cast<long long>(wanted.biHeight);
    if (w != source.width || (h != 0 && h != source.height)) return false;
    DibLayout l;
    l.width = source.width;
    l.height = source.height;
    l.top_down = wanted.biHeight < 0;
    l.bits = wanted.biBitCount;
    if (!ValidDepth(l.bits)) return false;
    if (wanted.biCompression == BI_BITFIELDS) {
        if ((l.bits != 16 && l.bits != 32) || masks == nullptr) return false;
        for (int i = 0; i < 3; ++i) {
            l.masks[i] = GetLE32(masks + 4 * i);
            if (l.masks[i] == 0) return false;
        }
        l.compression = BI_BITFIELDS;
    } else if (wanted.biCompression != BI_RGB) {
        return false;
    } else if (l.bits > 8) {
        DefaultMasks(l.bits, l.masks);
    }
    if (l.Indexed()) {
        // Indices cannot be made from colours; an indexed source keeps its own.
        if (!source.Indexed() || source.colors.size() > (std::size_t{1} << l.bits)) return false;
        l.colors = source.colors;
    }
    l.stride = DibStride(l.width, l.bits);
    l.image = l.stride * static_cast<std::size_t>(l.height);
    out = std::move(l);
    return true;
}

DibLayout Rgb24Layout(int width, int height) {
    DibLayout l;
    l.width = width;
    l.height = height;
    l.bits = 24;
    DefaultMasks(24, l.masks);
    l.stride = DibStride(width, 24);
    l.image = l.stride * static_cast<std::size_t>(height);
    return l;
}

std::vector<std::uint8_t> PackedHeader(const DibLayout& l) {
    const std::size_t extra =
        l.Indexed() ? 4 * l.colors.size() : (l.compression == BI_BITFIELDS ? 12 : 0);
    std::vector<std::uint8_t> h(40 + extra, 0);
    PutLE32(&h[0], 40);
    PutLE32(&h[4], static_cast<std::uint32_t>(l.width));
    PutLE32(&h[8], static_cast<std::uint32_t>(l.top_down ? -l.height : l.height));
    PutLE16(&h[12], 1);
    PutLE16(&h[14], static_cast<std::uint16_t>(l.bits));
    PutLE32(&h[16], l.compression);
    PutLE32(&h[20], static_cast<std::uint32_t>(l.image));
    if (l.Indexed()) {
        PutLE32(&h[32], static_cast<std::uint32_t>(l.colors.size()));
        if (!l.colors.empty()) std::memcpy(&h[40], l.colors.data(), 4 * l.colors.size());
    } else if (l.compression == BI_BITFIELDS) {
        for (int i = 0; i < 3; ++i)
            PutLE32(&h[40 + 4 * i], l.masks[i]);
    }
    return h;
}

void ConvertPicture(const DibLayout& src, const std::uint8_t* sb, const DibLayout& dst,
                    std::uint8_t* db) {
    const int h = std::min(src.height, dst.height);
    const std::size_t row_bytes = std::min(src.stride, dst.stride);
    if (src.SamePixels(dst) && src.width == dst.width) {
        for (int y = 0; y < h; ++y)
            std::memcpy(db + dst.RowOffset(y), sb + src.RowOffset(y), row_bytes);
        return;
    }
    if (dst.Indexed()) {
        if (!src.Indexed()) return;
        std::vector<std::uint8_t> idx(static_cast<std::size_t>(src.width));
        for (int y = 0; y < h; ++y) {
            ReadIndices(src, sb + src.RowOffset(y), idx.data());
            WriteIndices(dst, idx.data(), db + dst.RowOffset(y));
        }
        return;
    }
    std::vector<std::uint32_t> line(static_cast<std::size_t>(src.width));
    const Masked ms(src), md(dst);
    for (int y = 0; y < h; ++y) {
        ReadRow(src, sb + src.RowOffset(y), ms, line.data());
        WriteRow(dst, line.data(), md, db + dst.RowOffset(y));
    }
}

} // namespace lum::platform::vfw
