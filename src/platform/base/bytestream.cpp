#include "platform/base/bytestream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lum::platform {

std::unique_ptr<FileStream> FileStream::Open(const std::string& path, FileMode mode) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case FileMode::Read: flags |= O_RDONLY; break;
    case FileMode::ReadWrite: flags |= O_RDWR; break;
    case FileMode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return nullptr;
    }
    return std::unique_ptr<FileStream>(new FileStream(fd, path, mode != FileMode::Read));
}

FileStream::~FileStream() {
    if (fd_ >= 0) ::close(fd_);
}

std::int64_t FileStream::Size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return 0;
    return st.st_size;
}

std::size_t FileStream::ReadAt(std::int64_t offset, void* buffer, std::size_t count) {
    if (offset < 0) return 0;
    std::size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t n = ::pread(fd_, out + done, count - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool FileStream::WriteAt(std::int64_t offset, const void* buffer, std::size_t count) {
    if (!writable_ || offset < 0) return false;
    std::size_t done = 0;
    auto* in = static_cast<const char*>(buffer);
    while (done < count) {
        ssize_t n = ::pwrite(fd_, in + done, count - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool FileStream::Truncate(std::int64_t size) {
    return writable_ && size >= 0 && ::ftruncate(fd_, size) == 0;
}

bool FileStream::Flush() { return ::fdatasync(fd_) == 0 || errno == EINVAL; }

std::unique_ptr<MemoryStream> MemoryStream::View(std::span<const std::byte> data) {
    std::unique_ptr<MemoryStream> s(new MemoryStream());
    s->data_ = const_cast<std::byte*>(data.data());
    s->size_ = s->capacity_ = data.size();
    return s;
}

std::unique_ptr<MemoryStream> MemoryStream::FixedBuffer(void* data, std::size_t size,
                                                        std::size_t capacity) {
    std::unique_ptr<MemoryStream> s(new MemoryStream());
    s->data_ = static_cast<std::byte*>(data);
    s->capacity_ = capacity;
    s->size_ = size < capacity ? size : capacity;
    s->writable_ = true;
    return s;
}

std::unique_ptr<MemoryStream> MemoryStream::Growable(std::vector<std::byte> initial) {
    std::unique_ptr<MemoryStream> s(new MemoryStream());
    s->owned_ = std::move(initial);
    s->size_ = s->owned_.size();
    s->capacity_ = s->owned_.size();
    s->data_ = s->owned_.data();
    s->writable_ = true;
    s->growable_ = true;
    return s;
}

std::size_t MemoryStream::ReadAt(std::int64_t offset, void* buffer, std::size_t count) {
    if (offset < 0 || static_cast<std::uint64_t>(offset) >= size_) return 0;
    std::size_t avail = size_ - static_cast<std::size_t>(offset);
    std::size_t n = count < avail ? count : avail;
    if (n) std::memcpy(buffer, data_ + offset, n);
    return n;
}

bool MemoryStream::Reserve(std::size_t needed) {
    if (needed <= capacity_) return true;
    if (!growable_) return false;
    owned_.resize(needed);
    data_ = owned_.data();
    capacity_ = needed;
    return true;
}

bool MemoryStream::WriteAt(std::int64_t offset, const void* buffer, std::size_t count) {
    if (!writable_ || offset < 0) return false;
    auto off = static_cast<std::size_t>(offset);
    if (count > SIZE_MAX - off) return false;
    std::size_t end = off + count;
    if (growable_ && end > capacity_) {
        // Grow geometrically so that appending stays linear.
        std::size_t grown = capacity_ + capacity_ / 2;
        if (!Reserve(end > grown ? end : grown)) return false;
    }
    if (end > capacity_) return false;
    if (off > size_) std::memset(data_ + size_, 0, off - size_);
    if (count) std::memcpy(data_ + off, buffer, count);
    if (end > size_) size_ = end;
    return true;
}

bool MemoryStream::Truncate(std::int64_t size) {
    if (!writable_ || size < 0) return false;
    auto n = static_cast<std::size_t>(size);
    if (n > size_) {
        if (!Reserve(n)) return false;
        std::memset(data_ + size_, 0, n - size_);
    }
    size_ = n;
    return true;
}

} // namespace lum::platform
