#include "platform/vfw/riff.h"

#include <algorithm>

namespace lum::platform::vfw {

bool ReadChunk(ByteStream& io, std::int64_t pos, std::int64_t limit, Chunk& out) {
    if (pos < 0 || limit - pos < 8) return false;
    std::uint8_t h[12];
    bool list = false;
    if (!io.ReadExact(pos, h, 8)) return false;
    out = {};
    out.id = GetLE32(h);
    out.size = GetLE32(h + 4);
    out.pos = pos;
    out.data = pos + 8;
    if (out.IsList()) {
        // A list whose size was never filled in (a writer that stopped)
        // runs to the end of its parent.
        if (out.size == 0)
            out.size = static_cast<std::uint32_t>(
                std::min<std::int64_t>(limit - pos - 8, 0xFFFFFFFE) & ~std::int64_t{1});
        if (limit - pos < 12 || out.size < 4 || !io.ReadExact(pos + 8, h + 8, 4)) return false;
        out.list_type = GetLE32(h + 8);
        list = true;
    }
    std::int64_t end = pos + 8 + static_cast<std::int64_t>(out.size);
    if (end > limit) {
        end = limit;
        out.truncated = true;
    }
    out.end = end;
    if (list) out.data = pos + 12;
    return true;
}

std::vector<std::uint8_t> ReadPayload(ByteStream& io, const Chunk& c, std::size_t cap) {
    std::int64_t n = c.PayloadSize();
    if (n <= 0) return {};
    if (static_cast<std::uint64_t>(n) > cap) n = static_cast<std::int64_t>(cap);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(n));
    if (!io.ReadExact(c.data, out.data(), out.size())) return {};
    return out;
}

bool ChunkWalker::Next(Chunk& out) {
    if (!ReadChunk(io_, pos_, end_, out)) return false;
    pos_ = out.truncated ? end_ : out.Next();
    return true;
}

void ChunkBuilder::U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
}

void ChunkBuilder::U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        U8(static_cast<std::uint8_t>(v >> (8 * i)));
}

void ChunkBuilder::U64(std::uint64_t v) {
    U32(static_cast<std::uint32_t>(v));
    U32(static_cast<std::uint32_t>(v >> 32));
}

void ChunkBuilder::Raw(const void* data, std::size_t n) {
    auto* p = static_cast<const std::uint8_t*>(data);
    if (n) bytes_.insert(bytes_.end(), p, p + n);
}

std::size_t ChunkBuilder::Begin(FOURCC id) {
    std::size_t mark = bytes_.size();
    U32(id);
    U32(0);
    return mark;
}

std::size_t ChunkBuilder::BeginList(FOURCC id, FOURCC type) {
    std::size_t mark = Begin(id);
    U32(type);
    return mark;
}

void ChunkBuilder::End(std::size_t mark) {
    auto size = static_cast<std::uint32_t>(bytes_.size() - mark - 8);
    PutLE32(bytes_.data() + mark + 4, size);
    if (size & 1) U8(0);
}

void ChunkBuilder::Add(FOURCC id, const void* data, std::size_t n) {
    std::size_t mark = Begin(id);
    Raw(data, n);
    End(mark);
}

} // namespace lum::platform::vfw
