#include "core/streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

namespace lum {
namespace {

constexpr std::int64_t kMaxTransfer = std::numeric_limits<std::int32_t>::max();

// The position Seek arrives at; positions before the beginning are refused
// and leave the stream where it was.
std::int64_t SeekTarget(std::int64_t offset, int origin, std::int64_t position, std::int64_t size) {
    std::int64_t base;
    switch (origin) {
    case soFromBeginning:
        base = 0;
        break;
    case soFromCurrent:
        base = position;
        break;
    case soFromEnd:
        base = size;
        break;
    default:
        throw EStreamError("Invalid stream seek origin " + std::to_string(origin));
    }
    if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) ||
        base + offset < 0)
        throw EStreamError("Stream seek out of range");
    return base + offset;
}

std::string Reason() {
    return std::strerror(errno);
}

} // namespace

std::int64_t TStream::GetSize() {
    std::int64_t position = Seek(0, soFromCurrent);
    std::int64_t size = Seek(0, soFromEnd);
    Seek(position, soFromBeginning);
    return size;
}

void TStream::SetSize(std::int64_t) {
    throw EStreamError("Stream size cannot be changed");
}

void TStream::ReadBuffer(void* buffer, std::int32_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, std::int32_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError();
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.GetSize();
    }
    if (count < 0) throw EReadError();
    std::vector<std::byte> buffer(static_cast<std::size_t>(std::min<std::int64_t>(count, 65536)));
    std::int64_t left = count;
    while (left > 0) {
        auto n = static_cast<std::int32_t>(std::min<std::int64_t>(left, buffer.size()));
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= n;
    }
    return count;
}

std::int32_t TCustomMemoryStream::Read(void* buffer, std::int32_t count) {
    if (count <= 0 || position_ >= size_) return 0;
    auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, size_ - position_));
    std::memcpy(buffer, static_cast<const std::byte*>(memory_) + position_,
                static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int64_t TCustomMemoryStream::Seek(std::int64_t offset, int origin) {
    position_ = SeekTarget(offset, origin, position_, size_);
    return position_;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) {
    std::int64_t done = 0;
    while (done < size_) {
        auto n = static_cast<std::int32_t>(std::min(size_ - done, kMaxTransfer));
        stream.WriteBuffer(static_cast<const std::byte*>(memory_) + done, n);
        done += n;
    }
}

void TCustomMemoryStream::SaveToFile(const std::string& file_name) {
    TFileStream file(file_name, fmCreate);
    SaveToStream(file);
}

void TCustomMemoryStream::SetPointer(void* memory, std::int64_t size) {
    memory_ = memory;
    size_ = size;
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    std::int64_t end = position_ + count;
    std::int64_t size = GetSize();
    if (end > size) {
        if (end > GetCapacity()) SetCapacity(end);
        // A gap left by seeking past the end reads as zeros.
        if (position_ > size)
            std::memset(block_.data() + size, 0, static_cast<std::size_t>(position_ - size));
        SetPointer(block_.data(), end);
    }
    std::memcpy(block_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ = end;
    return count;
}

void TMemoryStream::SetSize(std::int64_t size) {
    if (size < 0) throw EStreamError("Stream size out of range");
    std::int64_t old = GetSize();
    SetCapacity(size);
    // Bytes that come into use are zero, also when the block held them before.
    if (size > old) std::memset(block_.data() + old, 0, static_cast<std::size_t>(size - old));
    SetPointer(block_.empty() ? nullptr : block_.data(), size);
    if (position_ > size) position_ = size;
}

void TMemoryStream::Clear() {
    block_.clear();
    block_.shrink_to_fit();
    SetPointer(nullptr, 0);
    position_ = 0;
}

void TMemoryStream::SetCapacity(std::int64_t capacity) {
    // Grows in 8 KB steps so that a stream written in small pieces is not
    // copied on every write.
    std::int64_t rounded = capacity == 0 ? 0 : (capacity + 8191) & ~std::int64_t{8191};
    if (rounded == static_cast<std::int64_t>(block_.size())) return;
    try {
        bool shrink = rounded < static_cast<std::int64_t>(block_.size());
        block_.resize(static_cast<std::size_t>(rounded));
        if (shrink) block_.shrink_to_fit();
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    } catch (const std::length_error&) {
        throw EOutOfMemory();
    }
    SetPointer(block_.empty() ? nullptr : block_.data(), std::min(GetSize(), rounded));
}

void TMemoryStream::LoadFromStream(TStream& stream) {
    stream.SetPosition(0);
    std::int64_t size = stream.GetSize();
    SetSize(size);
    std::int64_t done = 0;
    while (done < size) {
        auto n = static_cast<std::int32_t>(std::min(size - done, kMaxTransfer));
        stream.ReadBuffer(block_.data() + done, n);
        done += n;
    }
    position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& file_name) {
    TFileStream file(file_name, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

THandleStream::THandleStream(std::unique_ptr<platform::ByteStream> handle)
    : handle_(std::move(handle)) {
    if (!handle_) throw EStreamError("Stream has no handle");
}

std::int32_t THandleStream::Read(void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    auto n = handle_->ReadAt(position_, buffer, static_cast<std::size_t>(count));
    position_ += static_cast<std::int64_t>(n);
    return static_cast<std::int32_t>(n);
}

std::int32_t THandleStream::Write(const void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    if (!handle_->WriteAt(position_, buffer, static_cast<std::size_t>(count))) return 0;
    position_ += count;
    return count;
}

std::int64_t THandleStream::Seek(std::int64_t offset, int origin) {
    position_ = SeekTarget(offset, origin, position_,
                           origin == soFromEnd ? handle_->Size() : std::int64_t{0});
    return position_;
}

void THandleStream::SetSize(std::int64_t size) {
    if (size < 0 || !handle_->Truncate(size)) throw EStreamError("Stream size cannot be changed");
    if (position_ > size) position_ = size;
}

namespace {

std::unique_ptr<platform::ByteStream> OpenFile(const std::string& name, unsigned mode) {
    if (mode == fmCreate) {
        auto file = platform::FileStream::Open(name, platform::FileMode::Create);
        if (!file) throw EFCreateError("Cannot create file \"" + name + "\": " + Reason());
        return file;
    }
    platform::FileMode access =
        (mode & 3) == fmOpenRead ? platform::FileMode::Read : platform::FileMode::ReadWrite;
    auto file = platform::FileStream::Open(name, access);
    if (!file) throw EFOpenError("Cannot open file \"" + name + "\": " + Reason());
    return file;
}

} // namespace

TFileStream::TFileStream(const std::string& file_name, unsigned mode)
    : THandleStream(OpenFile(file_name, mode)), file_name_(file_name) {}

} // namespace lum
