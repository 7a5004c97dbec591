// RIFF chunk walking for the file handlers, over the byte-stream interface.
// Every chunk is clamped to its parent, so a size field never sends a read
// outside the file; Truncated tells that the declared size did not fit.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/base/bytestream.h"
#include "platform/base/wintypes.h"

namespace lum::platform::vfw {

constexpr FOURCC kRIFF = MakeFourCC("RIFF");
constexpr FOURCC kLIST = MakeFourCC("LIST");
constexpr FOURCC kJUNK = MakeFourCC("JUNK");

inline std::uint16_t GetLE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t GetLE64(const std::uint8_t* p) {
    return GetLE32(p) | (static_cast<std::uint64_t>(GetLE32(p + 4)) << 32);
}
inline std::uint16_t GetBE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t GetBE32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline void PutLE16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLE32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutLE64(std::uint8_t* p, std::uint64_t v) {
    PutLE32(p, static_cast<std::uint32_t>(v));
    PutLE32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// One chunk header as found in the file.
struct Chunk {
    FOURCC id = 0;
    std::uint32_t size = 0; // as declared
    FOURCC list_type = 0;   // for RIFF and LIST chunks
    std::int64_t pos = 0;   // of the header
    std::int64_t data = 0;  // first byte of the payload (after the list type for lists)
    std::int64_t end = 0;   // end of the payload, clamped to the parent
    bool truncated = false; // the declared size ran past the parent
    bool IsList() const { return id == kRIFF || id == kLIST; }
    // Where the next sibling starts (declared size, padded to a word).
    std::int64_t Next() const { return pos + 8 + static_cast<std::int64_t>(size) + (size & 1); }
    std::int64_t PayloadSize() const { return end - data; }
};

// Reads the chunk header at Pos within [Pos, Limit). False when no whole
// header fits.
bool ReadChunk(ByteStream& io, std::int64_t pos, std::int64_t limit, Chunk& out);

// Reads a chunk's payload, at most Cap bytes; empty when it does not read.
std::vector<std::uint8_t> ReadPayload(ByteStream& io, const Chunk& c, std::size_t cap);

// Iterates the children of a list chunk (or of a byte range).
class ChunkWalker {
public:
    ChunkWalker(ByteStream& io, std::int64_t begin, std::int64_t end)
        : io_(io), pos_(begin), end_(end) {}
    explicit ChunkWalker(ByteStream& io, const Chunk& parent)
        : ChunkWalker(io, parent.data, parent.end) {}
    // The next child, or false at the end of the range.
    bool Next(Chunk& out);

private:
    ByteStream& io_;
    std::int64_t pos_;
    std::int64_t end_;
};

// Builds RIFF bytes in memory for the writer.
class ChunkBuilder {
public:
    std::vector<std::uint8_t>& Bytes() { return bytes_; }
    std::size_t Size() const { return bytes_.size(); }
    void U8(std::uint8_t v) { bytes_.push_back(v); }
    void U16(std::uint16_t v);
    void U32(std::uint32_t v);
    void U64(std::uint64_t v);
    void Raw(const void* data, std::size_t n);
    void Zeros(std::size_t n) { bytes_.insert(bytes_.end(), n, 0); }
    // Begins a chunk (or a list with its type); returns a mark for End.
    std::size_t Begin(FOURCC id);
    std::size_t BeginList(FOURCC id, FOURCC type);
    // Patches the size and pads to a word.
    void End(std::size_t mark);
    // A whole chunk with its payload.
    void Add(FOURCC id, const void* data, std::size_t n);

private:
    std::vector<std::uint8_t> bytes_;
};

} // namespace lum::platform::vfw
