// Cursor and icon resources of Lumobj: the .cur / .ico reader and the
// parse-once cache behind LoadResCursor and LoadResIcon.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "core/lumobj.h"
#include "platform/base/resources.h"

namespace lum {
namespace {

// Little-endian reads that never leave the buffer.
class Reader {
public:
    explicit Reader(std::span<const std::byte> data) : data_(data) {}
    bool Has(std::size_t offset, std::size_t count) const {
        return offset <= data_.size() && count <= data_.size() - offset;
    }
    std::uint32_t U8(std::size_t o) const { return static_cast<std::uint8_t>(data_[o]); }
    std::uint32_t U16(std::size_t o) const { return U8(o) | (U8(o + 1) << 8); }
    std::uint32_t U32(std::size_t o) const { return U16(o) | (U16(o + 2) << 16); }
    std::int32_t I32(std::size_t o) const { return static_cast<std::int32_t>(U32(o)); }

private:
    std::span<const std::byte> data_;
};

constexpr int kMaxSide = 256;

std::uint32_t Argb(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}

// One DIB entry (header, colour table, XOR rows, AND rows) at Offset.
bool ReadDib(const Reader& in, std::size_t offset, std::size_t length, TLumImageData* out) {
    if (!in.Has(offset, length) || length < 40) return false;
    std::uint32_t header = in.U32(offset);
    std::int32_t width = in.I32(offset + 4);
    std::int32_t height2 = in.I32(offset + 8);
    std::uint32_t bits = in.U16(offset + 14);
    std::uint32_t compression = in.U32(offset + 16);
    std::uint32_t used = in.U32(offset + 32);
    // The height counts the XOR and the AND rows together.
    if (header < 40 || header > length || width <= 0 || width > kMaxSide || height2 <= 0 ||
        height2 % 2 != 0 || height2 / 2 > kMaxSide || compression != 0)
        return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
    const int w = width, h = height2 / 2;
    std::uint32_t colors = 0;
    if (bits <= 8) {
        colors = used ? used : (1u << bits);
        if (colors > (1u << bits)) return false;
    }
    const std::size_t palette = offset + header;
    const std::size_t xor_stride = ((static_cast<std::size_t>(w) * bits + 31) / 32) * 4;
    const std::size_t and_stride = ((static_cast<std::size_t>(w) + 31) / 32) * 4;
    const std::size_t xor_rows = palette + 4 * static_cast<std::size_t>(colors);
    const std::size_t and_rows = xor_rows + xor_stride * static_cast<std::size_t>(h);
    const std::size_t end = and_rows + and_stride * static_cast<std::size_t>(h);
    if (end > offset + length) return false;

    out->Width = w;
    out->Height = h;
    out->Pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
    bool any_alpha = false;
    for (int y = 0; y < h; ++y) {
        // Rows run bottom-up.
        std::size_t row = xor_rows + xor_stride * static_cast<std::size_t>(h - 1 - y);
        for (int x = 0; x < w; ++x) {
            std::uint32_t a = 255, r, g, b;
            if (bits == 32) {
                std::size_t p = row + 4 * static_cast<std::size_t>(x);
                b = in.U8(p), g = in.U8(p + 1), r = in.U8(p + 2), a = in.U8(p + 3);
                any_alpha |= a != 0;
            } else if (bits == 24) {
                std::size_t p = row + 3 * static_cast<std::size_t>(x);
                b = in.U8(p), g = in.U8(p + 1), r = in.U8(p + 2);
            } else {
                std::size_t bit = static_cast<std::size_t>(x) * bits;
                std::uint32_t byte = in.U8(row + bit / 8);
                std::uint32_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index >= colors) return false;
                std::size_t q = palette + 4 * index;
                b = in.U8(q), g = in.U8(q + 1), r = in.U8(q + 2);
            }
            out->Pixels[static_cast<std::size_t>(y) * w + x] = Argb(a, r, g, b);
        }
    }
    // Without an alpha channel the AND mask says what is transparent.
    // Inverting pixels (mask set, colour not black) cannot be expressed in
    // ARGB; they keep their colour so they stay visible.
    if (!any_alpha) {
        for (int y = 0; y < h; ++y) {
            std::size_t row = and_rows + and_stride * static_cast<std::size_t>(h - 1 - y);
            for (int x = 0; x < w; ++x) {
                bool masked = (in.U8(row + static_cast<std::size_t>(x) / 8) >> (7 - x % 8)) & 1;
                std::uint32_t& px = out->Pixels[static_cast<std::size_t>(y) * w + x];
                px = masked && (px & 0xFFFFFF) == 0 ? 0 : (px | 0xFF000000u);
            }
        }
    }
    return true;
}

} // namespace

const TLumImageData& TLumResImage::Best(int size) const {
    const TLumImageData* best = &Images.front();
    for (const auto& img : Images) {
        int d = std::abs(img.Width - size), db = std::abs(best->Width - size);
        if (d < db || (d == db && img.Width > best->Width)) best = &img;
    }
    return *best;
}

std::unique_ptr<TLumResImage> ParseIconResource(std::span<const std::byte> bytes) {
    Reader in(bytes);
    if (!in.Has(0, 6) || in.U16(0) != 0) return nullptr;
    std::uint32_t kind = in.U16(2), count = in.U16(4);
    if ((kind != 1 && kind != 2) || count == 0 || !in.Has(6, 16 * static_cast<std::size_t>(count)))
        return nullptr;
    auto result = std::make_unique<TLumResImage>();
    result->IsCursor = kind == 2;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::size_t e = 6 + 16 * static_cast<std::size_t>(i);
        std::size_t length = in.U32(e + 8), offset = in.U32(e + 12);
        if (!in.Has(offset, length)) continue;
        // PNG-compressed entries need a decoder this layer does not carry.
        if (length >= 8 && in.U32(offset) == 0x474E5089u) continue;
        TLumImageData img;
        if (!ReadDib(in, offset, length, &img)) continue;
        if (result->IsCursor) {
            // Hotspot in the planes and bit-count fields; kept inside.
            img.HotspotX = std::min(static_cast<int>(in.U16(e + 4)), img.Width - 1);
            img.HotspotY = std::min(static_cast<int>(in.U16(e + 6)), img.Height - 1);
        } else {
            img.HotspotX = img.Width / 2;
            img.HotspotY = img.Height / 2;
        }
        result->Images.push_back(std::move(img));
    }
    if (result->Images.empty()) return nullptr;
    return result;
}

namespace {

const TLumResImage* Load(std::string_view type, unsigned id) {
    static std::mutex mutex;
    static std::map<std::pair<std::string_view, unsigned>, std::unique_ptr<TLumResImage>> cache;
    std::lock_guard lock(mutex);
    auto key = std::make_pair(type, id);
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.emplace(key, ParseIconResource(platform::FindResource(type, id))).first;
    return it->second.get();
}

} // namespace

const TLumResImage* LoadResCursor(std::uint16_t ident) {
    return Load(platform::RT_CURSOR, 2000u + ident);
}

const TLumResImage* LoadResIcon(std::uint16_t ident) {
    return Load(platform::RT_ICON, 3000u + ident);
}

} // namespace lum
