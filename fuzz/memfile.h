// A fuzz input as a file name, for the readers that only take names: an
// anonymous memory file (memfd) reached through /proc/self/fd. No disk file
// is written, and the reader under test runs unchanged.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace lum::fuzz {

class MemFile {
public:
    MemFile(const std::uint8_t* data, std::size_t size) {
        fd_ = memfd_create("fuzz-input", 0);
        if (fd_ < 0) std::abort();
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = write(fd_, data + done, size - done);
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemFile() { close(fd_); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

} // namespace lum::fuzz
