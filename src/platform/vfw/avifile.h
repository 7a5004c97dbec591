// The AVI file handler: reads RIFF "AVI " files with their OpenDML
// extensions (AVIX segments, super and standard indexes), and writes new
// ones. Reading takes the OpenDML index, else idx1 (offsets relative to movi
// or absolute), else rebuilds the index by scanning every movi list; a
// damaged or truncated file keeps every whole sample it still has.
// Writing appends chunks to movi and completes the headers and indexes when
// the last reference goes; a file passes to AVIX segments, standard indexes
// and a super index once its first RIFF would pass the size limit (1 GB).
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/vfw/handler.h"
#include "platform/vfw/riff.h"

namespace lum::platform::vfw {

class AviStream;

class AviFile final : public FileHandler {
public:
    AviFile(std::unique_ptr<ByteStream> io, bool creating, bool write_access);

    // Parses an existing file; AVIERR_UNSUPPORTED when it is no AVI file.
    HRESULT Parse();

    HRESULT CreateStream(IAVIStream** stream, const AVISTREAMINFO* info) override;
    HRESULT WriteData(FOURCC id, const void* data, LONG size) override;
    HRESULT EndRecord() override;

    bool Creating() const { return creating_; }

    // Writer services for the streams.
    HRESULT AppendChunk(FOURCC id, const void* data, std::uint32_t size, std::int64_t* header_pos);
    HRESULT AppendPaletteChange(AviStream& s, const std::vector<std::uint8_t>& payload);
    // Makes room for a header that grew after data was written.
    HRESULT HeaderChanged();
    // Whether a chunk at Offset lies in the segment still being written.
    bool InOpenSegment(std::int64_t offset) const;
    HRESULT JunkChunk(std::int64_t header_pos);
    int NumberOf(const AviStream& s) const;

    // The size at which a RIFF segment is closed and the next begins.
    void SetMaxRiffSize(std::int64_t bytes) { max_riff_ = bytes; }
    std::size_t SegmentCount() const { return segments_.size(); }

    struct MainHeader {
        DWORD us_per_frame = 0;
        DWORD max_bytes_per_sec = 0;
        DWORD padding = 0;
        DWORD flags = 0;
        DWORD total_frames = 0;
        DWORD initial_frames = 0;
        DWORD streams = 0;
        DWORD suggested_buffer = 0;
        DWORD width = 0;
        DWORD height = 0;
    };

protected:
    void Describe(AVIFILEINFO& info) override;
    void Finish() override;

private:
    // One chunk found by an index or a scan, in file order.
    struct Found {
        int stream;
        std::int64_t data;
        std::uint32_t size;
        bool key;
        bool palette;
        bool key_known;
    };
    struct Range {
        std::int64_t begin;
        std::int64_t end;
    };

    // Reading.
    void ParseHeaderList(const Chunk& hdrl);
    void ParseStreamList(const Chunk& strl);
    void ParseInfoList(const Chunk& info, DataChunks& into);
    void BuildIndexes();
    bool ReadOdml(std::vector<std::vector<Found>>& out,
                  std::unordered_map<std::int64_t, bool>& hints);
    bool ReadStandardIndex(int stream, std::int64_t pos, std::vector<Found>& out,
                           std::unordered_map<std::int64_t, bool>& hints);
    bool ReadIdx1(std::vector<Found>& out, std::unordered_map<std::int64_t, bool>& hints);
    bool SpotCheck(const std::vector<Found>& entries);
    void Scan(std::vector<Found>& out, std::unordered_map<std::int64_t, bool>& hints);
    std::int64_t Resync(std::int64_t from, std::int64_t end);
    bool PlausibleHeader(const std::uint8_t* h, std::int64_t pos, std::int64_t end) const;
    void Distribute(const std::vector<Found>& entries,
                    const std::unordered_map<std::int64_t, bool>* hints);
    void ApplyPalette(AviStream& s, std::int64_t data, std::uint32_t size);
    int StreamOfChunk(FOURCC id, bool* palette) const;

    // Writing.
    struct Segment {
        std::int64_t riff_pos;
        std::int64_t movi_pos;
        std::int64_t placeholder; // 12-byte JUNK that can become the first record
    };
    struct Marker {
        FOURCC id;
        std::int64_t pos; // of the header
        std::uint32_t size;
        DWORD flags;
    };
    struct SuperEntry {
        std::uint64_t offset;
        std::uint32_t size;
        std::uint32_t duration;
    };
    HRESULT Freeze();
    std::vector<std::uint8_t> BuildHeader() const;
    HRESULT WriteHeader();
    HRESULT NextSegment();
    HRESULT CloseSegment(bool last);
    HRESULT WriteStandardIndexes();
    HRESULT WriteIdx1();
    HRESULT OpenRecord();
    HRESULT CloseRecord();
    HRESULT Put(std::int64_t pos, const void* data, std::size_t n);
    HRESULT PutU32(std::int64_t pos, std::uint32_t v);
    HRESULT MoveData(std::int64_t delta);
    AviStream& Stream(std::size_t i);
    void DescribeWriter(MainHeader& h) const;

    bool creating_;

    // Read side.
    MainHeader avih_;
    bool have_hdrl_ = false;
    DWORD odml_total_frames_ = 0;
    std::vector<Range> movi_;
    std::int64_t movi_fourcc_ = -1; // position of the first "movi" list type
    Chunk idx1_{};
    bool have_idx1_ = false;
    int segments_read_ = 0;

    // Write side.
    bool frozen_ = false;
    bool failed_ = false;
    std::int64_t reserved_ = 0;
    std::int64_t end_ = 0;
    std::int64_t max_riff_ = std::int64_t{1} << 30;
    std::vector<Segment> segments_;
    bool records_ = false;
    std::int64_t rec_pos_ = -1;
    std::vector<Marker> markers_;                // palette changes and records
    std::vector<std::size_t> seg_first_chunk_;   // per stream, first chunk of this segment
    std::vector<std::size_t> first_riff_chunks_; // per stream, chunks in the first RIFF
    std::vector<std::vector<SuperEntry>> super_; // per stream
    std::size_t first_riff_markers_ = 0;
};

// A stream of an AVI file.
class AviStream final : public StreamHandler {
public:
    AviStream(AviFile& file) : StreamHandler(file), avi_(file) {}

    HRESULT SetFormat(LONG pos, const void* format, LONG size) override;
    HRESULT Write(LONG start, LONG samples, const void* buffer, LONG size, DWORD flags,
                  LONG* samples_written, LONG* bytes_written) override;
    HRESULT Delete(LONG start, LONG samples) override;
    HRESULT WriteData(FOURCC id, const void* data, LONG size) override;

    // The id of this stream's data chunks ("00dc", "01wb", ...).
    FOURCC DataChunkId() const;

    // OpenDML super index entries read from "indx" (reading only).
    struct IndexRef {
        std::uint64_t offset;
        std::uint32_t size;
    };
    std::vector<IndexRef> odml_refs;
    bool odml_present = false;
    bool odml_direct = false; // "indx" is itself a standard index
    std::vector<std::uint8_t> odml_chunk;

private:
    AviFile& avi_;
};

// Builds the chunk id of stream N's chunks with a two-letter type.
FOURCC StreamChunkId(int n, char a, char b);

} // namespace lum::platform::vfw
