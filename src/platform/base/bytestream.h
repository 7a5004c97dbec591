// One byte-stream interface that every parser of outside data reads
// through, with a disk-file and a memory backend, so the same parser reads a
// file on disk, a memory image or fuzz input. Positional reads and writes:
// a stream keeps no cursor, so one stream may serve several readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lum::platform {

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Current size in bytes.
    virtual std::int64_t Size() const = 0;
    // Reads up to Count bytes at Offset; returns how many were read (short
    // at the end, 0 past it or on error). Never reads outside the stream.
    virtual std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) = 0;
    // Writes Count bytes at Offset, growing the stream; false on failure
    // (read-only stream, full memory image, disk error).
    virtual bool WriteAt(std::int64_t offset, const void* buffer, std::size_t count) = 0;
    virtual bool Truncate(std::int64_t size) = 0;
    virtual bool Flush() { return true; }
    virtual bool Writable() const = 0;

    // Reads exactly Count bytes or fails.
    bool ReadExact(std::int64_t offset, void* buffer, std::size_t count) {
        return ReadAt(offset, buffer, count) == count;
    }
};

// A disk file. Open modes as in fopen's spirit: read, read-write (file must
// exist), create (truncates or makes the file, read-write).
enum class FileMode { Read, ReadWrite, Create };

class FileStream final : public ByteStream {
public:
    // Null when the file cannot be opened; errno tells why.
    static std::unique_ptr<FileStream> Open(const std::string& path, FileMode mode);
    ~FileStream() override;

    std::int64_t Size() const override;
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) override;
    bool WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override;
    bool Truncate(std::int64_t size) override;
    bool Flush() override;
    bool Writable() const override { return writable_; }
    int Descriptor() const { return fd_; }
    const std::string& Path() const { return path_; }

private:
    FileStream(int fd, std::string path, bool writable)
        : fd_(fd), path_(std::move(path)), writable_(writable) {}
    int fd_;
    std::string path_;
    bool writable_;
};

// A memory image. Either it views memory that someone else owns (read-only,
// or writable within a fixed capacity), or it owns a growable buffer.
class MemoryStream final : public ByteStream {
public:
    // A read-only view.
    static std::unique_ptr<MemoryStream> View(std::span<const std::byte> data);
    // A writable view of Capacity bytes whose first Size bytes hold data;
    // writing past Capacity fails.
    static std::unique_ptr<MemoryStream> FixedBuffer(void* data, std::size_t size,
                                                     std::size_t capacity);
    // An owned, growable buffer (a copy of Initial).
    static std::unique_ptr<MemoryStream> Growable(std::vector<std::byte> initial = {});

    std::int64_t Size() const override { return static_cast<std::int64_t>(size_); }
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) override;
    bool WriteAt(std::int64_t offset, const void* buffer, std::size_t count) override;
    bool Truncate(std::int64_t size) override;
    bool Writable() const override { return writable_; }

    // The bytes held now (valid until the next write to a growable stream).
    std::span<const std::byte> Data() const { return {data_, size_}; }

private:
    MemoryStream() = default;
    bool Reserve(std::size_t needed);

    std::byte* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    bool writable_ = false;
    bool growable_ = false;
    std::vector<std::byte> owned_;
};

} // namespace lum::platform
