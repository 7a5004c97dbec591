// The samples of one stream: where each chunk of data lies in the file, how
// many samples it holds and which are key frames. A stream of variable
// sample size holds one sample a chunk (a zero-size chunk is an empty
// sample); a stream of fixed sample size holds size / sample-size samples a
// chunk, every one a key frame. Positions here count from 0, not dwStart.
// Lookups are constant time for variable-size streams and logarithmic for
// fixed-size streams and key-frame searches, so a decoder can jump to any
// frame and to the key frame it needs cheaply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/base/wintypes.h"

namespace lum::platform::vfw {

class SampleIndex {
public:
    struct Entry {
        std::int64_t offset; // file offset of the chunk's data
        std::uint32_t size;  // bytes of data
        bool key;
    };
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    explicit SampleIndex(std::uint32_t sample_size = 0) : sample_size_(sample_size) {}

    std::uint32_t SampleSize() const { return sample_size_; }
    bool Fixed() const { return sample_size_ != 0; }

    // Appends a chunk. False when the stream would pass 2^31 - 1 samples;
    // the chunk is then left out. A fixed-size chunk smaller than one
    // sample holds no sample and is left out too.
    bool Append(std::int64_t offset, std::uint32_t size, bool key);

    LONG Length() const { return length_; }
    std::size_t ChunkCount() const { return entries_.size(); }
    const Entry& Chunk(std::size_t i) const { return entries_[i]; }
    LONG FirstSample(std::size_t chunk) const {
        return Fixed() ? first_[chunk] : static_cast<LONG>(chunk);
    }
    LONG SamplesIn(std::size_t chunk) const {
        return Fixed() ? static_cast<LONG>(entries_[chunk].size / sample_size_) : 1;
    }
    // The chunk holding sample S, or npos outside the stream.
    std::size_t ChunkOf(LONG s) const;

    // Nearest key frame at or before / at or after S; -1 when none.
    LONG PrevKey(LONG s) const;
    LONG NextKey(LONG s) const;
    // Nearest sample with data at or before / at or after S; -1 when none.
    LONG PrevNonEmpty(LONG s) const;
    LONG NextNonEmpty(LONG s) const;
    bool IsKey(LONG s) const;
    std::size_t KeyCount() const { return Fixed() ? length_ : keys_.size(); }
    bool AllKey() const { return KeyCount() == static_cast<std::size_t>(length_); }
    // Bytes of sample S (a fixed-size stream's samples all have the same).
    std::uint32_t SampleBytes(LONG s) const;

    std::uint32_t MaxChunk() const { return max_chunk_; }
    std::uint64_t TotalBytes() const { return total_bytes_; }

    // Makes sample S a key frame (an index that marked none at all).
    void MarkKey(LONG s);
    // Removes chunks [First, First + Count) and renumbers the rest.
    void Erase(std::size_t first, std::size_t count);
    // Moves every offset by Delta (the writer moving its data).
    void Shift(std::int64_t delta);

private:
    void Rebuild();

    std::uint32_t sample_size_;
    std::vector<Entry> entries_;
    std::vector<LONG> first_; // fixed-size streams: first sample of each chunk
    std::vector<LONG> keys_;  // variable-size streams: key-frame positions
    LONG length_ = 0;
    std::uint32_t max_chunk_ = 0;
    std::uint64_t total_bytes_ = 0;
};

} // namespace lum::platform::vfw
