// The common inside of the file handlers (AVI, WAV, AU, and the one over
// libavformat for other containers): a file that owns
// its byte stream and its streams, and streams that find samples through a
// SampleIndex. A stream holds one reference on its file while anybody holds
// the stream, so a stream outlives the caller's file reference; the file is
// finished (a written file gets its headers) and freed on its last release.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/bytestream.h"
#include "platform/vfw/sampleindex.h"
#include "platform/vfw/vfw.h"

namespace lum::platform::vfw {

// Extra data chunks by identifier (strd, strn, vprp, INFO items, ...).
class DataChunks {
public:
    const std::vector<std::uint8_t>* Find(FOURCC id) const;
    void Set(FOURCC id, std::vector<std::uint8_t> data);
    bool Remove(FOURCC id);
    const std::vector<std::pair<FOURCC, std::vector<std::uint8_t>>>& All() const { return items_; }
    // The platform's ReadData contract: with no buffer the size, otherwise
    // a copy of what fits (AVIERR_BUFFERTOOSMALL when it did not all fit).
    HRESULT Read(FOURCC id, void* data, LONG* size) const;

private:
    std::vector<std::pair<FOURCC, std::vector<std::uint8_t>>> items_;
};

// A format and the position from which it holds.
struct FormatVersion {
    LONG position; // relative to the stream start
    std::vector<std::uint8_t> bytes;
};

class FileHandler;

class StreamHandler : public IAVIStream {
public:
    explicit StreamHandler(FileHandler& file) : file_(file) {}
    ~StreamHandler() override = default;
    StreamHandler(const StreamHandler&) = delete;
    StreamHandler& operator=(const StreamHandler&) = delete;

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT Info(AVISTREAMINFO* info, LONG size) override;
    LONG FindSample(LONG pos, LONG flags) override;
    HRESULT ReadFormat(LONG pos, void* format, LONG* size) override;
    HRESULT SetFormat(LONG pos, const void* format, LONG size) override;
    HRESULT Read(LONG start, LONG samples, void* buffer, LONG buffer_size, LONG* bytes,
                 LONG* samples_read) override;
    HRESULT Write(LONG start, LONG samples, const void* buffer, LONG size, DWORD flags,
                  LONG* samples_written, LONG* bytes_written) override;
    HRESULT Delete(LONG start, LONG samples) override;
    HRESULT ReadData(FOURCC id, void* data, LONG* size) override;
    HRESULT WriteData(FOURCC id, const void* data, LONG size) override;
    HRESULT SetInfo(const AVISTREAMINFO* info, LONG size) override;

    // Filled by the handler that parses or creates the stream.
    AVISTREAMINFO& Header() { return info_; }
    const AVISTREAMINFO& Header() const { return info_; }
    SampleIndex& Index() { return index_; }
    const SampleIndex& Index() const { return index_; }
    std::vector<FormatVersion>& Formats() { return formats_; }
    const std::vector<FormatVersion>& Formats() const { return formats_; }
    DataChunks& Extra() { return extra_; }
    const DataChunks& Extra() const { return extra_; }
    // The format in effect at a relative position (empty when none).
    const std::vector<std::uint8_t>& FormatAt(LONG rel) const;
    // The description as Info reports it, with length and counts filled.
    AVISTREAMINFO Described() const;
    // Whether the stream's file is only read: its samples and index then
    // stay as they are, and reads from several threads are safe.
    bool ReadOnly() const;

protected:
    // Copies stream data from the file. A handler whose samples are stored
    // in another encoding (AU's big-endian PCM) converts them here; reads
    // always start at a sample boundary of the chunk.
    virtual bool ReadRaw(std::int64_t offset, void* buffer, std::size_t count);

    FileHandler& file_;
    AVISTREAMINFO info_{};
    SampleIndex index_;
    std::vector<FormatVersion> formats_;
    DataChunks extra_;
    std::atomic<ULONG> refs_{0};
};

class FileHandler : public IAVIFile {
public:
    // Writable: the file is being written; WriteAccess: the open asked for
    // write access (a file opened for writing that cannot be changed
    // answers AVIERR_UNSUPPORTED rather than AVIERR_READONLY).
    FileHandler(std::unique_ptr<ByteStream> io, bool writable, bool write_access)
        : io_(std::move(io)), writable_(writable), write_access_(write_access || writable) {}
    ~FileHandler() override = default;
    FileHandler(const FileHandler&) = delete;
    FileHandler& operator=(const FileHandler&) = delete;

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT Info(AVIFILEINFO* info, LONG size) override;
    HRESULT GetStream(IAVIStream** stream, FOURCC type, LONG index) override;
    HRESULT CreateStream(IAVIStream** stream, const AVISTREAMINFO* info) override;
    HRESULT WriteData(FOURCC id, const void* data, LONG size) override;
    HRESULT ReadData(FOURCC id, void* data, LONG* size) override;
    HRESULT EndRecord() override;
    HRESULT DeleteStream(FOURCC type, LONG index) override;

    ByteStream& IO() { return *io_; }
    bool Writable() const { return writable_; }
    HRESULT WriteRefusal() const { return write_access_ ? AVIERR_UNSUPPORTED : AVIERR_READONLY; }
    std::size_t StreamCount() const { return streams_.size(); }
    StreamHandler& StreamAt(std::size_t i) { return *streams_[i]; }
    DataChunks& Extra() { return extra_; }

protected:
    // The description of the file; streams are counted by the caller.
    virtual void Describe(AVIFILEINFO& info) = 0;
    // Runs once before the file is freed (a written file completes itself).
    virtual void Finish() {}

    std::unique_ptr<ByteStream> io_;
    bool writable_;
    bool write_access_;
    std::vector<std::unique_ptr<StreamHandler>> streams_;
    DataChunks extra_;
    std::atomic<ULONG> refs_{1};
};

// Handlers by content. Each takes the byte stream, sets *File with one
// reference on success, and returns AVIERR_UNSUPPORTED when the content is
// not its kind. Writable tells whether the open asked for write access.
HRESULT OpenAviFile(std::unique_ptr<ByteStream>& io, bool writable, PAVIFILE* file);
HRESULT CreateAviFile(std::unique_ptr<ByteStream>& io, PAVIFILE* file);
HRESULT OpenWaveFile(std::unique_ptr<ByteStream>& io, bool writable, PAVIFILE* file);
HRESULT OpenAuFile(std::unique_ptr<ByteStream>& io, bool writable, PAVIFILE* file);
// Every other container libavformat demuxes, read-only: write access
// answers AVIERR_READONLY, a container it knows but cannot open
// AVIERR_BADFORMAT. Name (may be empty) helps to tell the container.
HRESULT OpenLavfFile(std::unique_ptr<ByteStream>& io, bool write_access, const std::string& name,
                     PAVIFILE* file);

// Header chunks larger than this are treated as damage, not allocated.
constexpr std::size_t kMaxHeaderChunk = 16u << 20;

// Copies a name into a 64-byte field, cut to 63 characters.
void CopyName(char (&field)[64], const std::string& name);

// Makes an audio format at least a whole WAVEFORMATEX: short PCM formats
// get their bits and a zero cbSize; a cbSize that claims more than the
// bytes there is cut to what is there.
std::vector<std::uint8_t> NormalizeWaveFormat(std::vector<std::uint8_t> format);

} // namespace lum::platform::vfw
