// The framework's stream: a byte sequence with a current position that
// Read and Write advance. Memory streams hold their bytes in the process;
// file streams read and write a disk file through the platform's byte
// streams. Read and Write move what they can and say how much; ReadBuffer
// and WriteBuffer move all of it or raise. Positions and sizes are 64-bit,
// one transfer is at most 2^31 - 1 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/bytestream.h"
#include "platform/base/exception.h"

namespace lum {

// Origins of Seek.
enum TSeekOrigin : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

// File stream modes: one access mode, optionally or-ed with a share mode
// (kept for callers; this platform does not lock files). fmCreate makes
// the file or empties it and opens it for reading and writing.
constexpr unsigned fmOpenRead = 0x0000;
constexpr unsigned fmOpenWrite = 0x0001;
constexpr unsigned fmOpenReadWrite = 0x0002;
constexpr unsigned fmShareCompat = 0x0000;
constexpr unsigned fmShareExclusive = 0x0010;
constexpr unsigned fmShareDenyWrite = 0x0020;
constexpr unsigned fmShareDenyRead = 0x0030;
constexpr unsigned fmShareDenyNone = 0x0040;
constexpr unsigned fmCreate = 0xFFFF;

// ReadBuffer found fewer bytes than asked: "Stream read error".
class EReadError : public EStreamError {
public:
    EReadError() : EStreamError("Stream read error") {}
    using EStreamError::EStreamError;
};

// WriteBuffer could not write everything: "Stream write error".
class EWriteError : public EStreamError {
public:
    EWriteError() : EStreamError("Stream write error") {}
    using EStreamError::EStreamError;
};

// A file stream could not create or open its file.
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class TStream {
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    virtual ~TStream() = default;

    // Up to Count bytes from the position into Buffer; the number moved.
    virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
    // Up to Count bytes from Buffer at the position; the number moved.
    virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
    // Moves the position and returns it: Offset from the beginning, from
    // the current position, or from the end (Size + Offset).
    virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;

    // The base asks Seek; streams that know their position say it.
    virtual std::int64_t GetPosition() { return Seek(0, soFromCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, soFromBeginning); }
    // The base finds the size by seeking to the end and back.
    virtual std::int64_t GetSize();
    // Sets the size where the stream can; the base cannot and raises.
    virtual void SetSize(std::int64_t size);

    // Exactly Count bytes, or EReadError.
    void ReadBuffer(void* buffer, std::int32_t count);
    // Exactly Count bytes, or EWriteError.
    void WriteBuffer(const void* buffer, std::int32_t count);
    // Copies Count bytes from Source's position onwards; Count 0 copies the
    // whole of Source from its beginning. Returns the bytes copied; raises
    // EReadError or EWriteError when Source runs short or this refuses.
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// A stream over a memory block that someone supplies; reads and seeks.
// Positions past the end are allowed and read nothing.
class TCustomMemoryStream : public TStream {
public:
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    std::int64_t GetSize() override { return size_; }
    std::int64_t GetPosition() override { return position_; }

    void* GetMemory() const { return memory_; }
    void SaveToStream(TStream& stream);
    void SaveToFile(const std::string& file_name);

protected:
    void SetPointer(void* memory, std::int64_t size);
    std::int64_t position_ = 0;

private:
    void* memory_ = nullptr;
    std::int64_t size_ = 0;
};

// A memory stream that owns a growing block. Writing past the end grows the
// stream; SetSize cuts or extends it (new bytes are zero).
class TMemoryStream : public TCustomMemoryStream {
public:
    TMemoryStream() = default;
    ~TMemoryStream() override = default;

    std::int32_t Write(const void* buffer, std::int32_t count) override;
    void SetSize(std::int64_t size) override;
    // Empties the stream and frees its block.
    void Clear();
    // Replaces the contents with the whole of Stream (read from its
    // beginning) and moves to position 0.
    void LoadFromStream(TStream& stream);
    void LoadFromFile(const std::string& file_name);
    std::int64_t GetCapacity() const { return static_cast<std::int64_t>(block_.size()); }

private:
    void SetCapacity(std::int64_t capacity);
    std::vector<std::byte> block_;
};

// A stream over a platform byte stream; the position is kept here.
class THandleStream : public TStream {
public:
    explicit THandleStream(std::unique_ptr<platform::ByteStream> handle);

    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    std::int64_t GetSize() override { return handle_->Size(); }
    std::int64_t GetPosition() override { return position_; }
    void SetSize(std::int64_t size) override;
    platform::ByteStream& Handle() { return *handle_; }

protected:
    std::unique_ptr<platform::ByteStream> handle_;
    std::int64_t position_ = 0;
};

// A disk file. EFCreateError "Cannot create file "<name>": <reason>" or
// EFOpenError "Cannot open file "<name>": <reason>" when that fails.
class TFileStream : public THandleStream {
public:
    TFileStream(const std::string& file_name, unsigned mode);
    const std::string& GetFileName() const { return file_name_; }

private:
    std::string file_name_;
};

} // namespace lum
