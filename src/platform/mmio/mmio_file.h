// The inside of one open buffered file. Two kinds share one window model:
// a byte stream (disk file or any ByteStream) seen through an I/O buffer
// that starts at BufOffset, and a memory image that is its own buffer
// (BufOffset 0, the window covering the whole image). In both, bytes
// [0, valid) of the window hold the file's current contents and the
// position is BufOffset + next. Internal to the mmio service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/base/bytestream.h"
#include "platform/mmio/mmio.h"

namespace lum::platform::mmio::detail {

class MmioFile {
public:
    // A byte stream with an I/O buffer of Cch bytes: the caller's memory
    // when UserBuffer is given, else allocated (0: unbuffered).
    static std::unique_ptr<MmioFile> OverStream(std::unique_ptr<ByteStream> stream, DWORD flags,
                                                char* userBuffer, LONG cch, MMRESULT* error);
    // A memory image of Size bytes in Capacity bytes at Data (null: an image
    // of our own, empty, Capacity bytes long). Read-only images are never
    // written through.
    static std::unique_ptr<MmioFile> OverMemory(std::byte* data, std::size_t size,
                                                std::size_t capacity, DWORD growBy, DWORD flags,
                                                FOURCC ioProc, MMRESULT* error);

    bool Readable() const { return readable_; }
    bool Writable() const { return writable_; }

    std::int64_t Tell() const { return bufOffset_ + static_cast<std::int64_t>(next_); }
    // Where the file ends, counting data still in the buffer.
    std::int64_t Extent() const;
    // False when the position is refused or the buffer could not be
    // written out first.
    bool SeekTo(std::int64_t target);

    // True when N bytes can be written at the position in one piece (a
    // memory image grows first when it may). Disk files always say yes.
    bool Fits(std::size_t n);

    LONG Read(void* dst, LONG cch);
    LONG Write(const void* src, LONG cch);

    // Writes out the buffer; with Empty also forgets what it holds.
    MMRESULT Flush(bool empty);
    MMRESULT SetBuffer(char* userBuffer, LONG cch);
    void GetInfo(MMIOINFO* info, HMMIO self) const;
    MMRESULT SetInfo(const MMIOINFO& info);
    MMRESULT Advance(MMIOINFO* info, HMMIO self, bool write);

private:
    MmioFile() = default;
    bool WriteOut();
    bool Reposition(std::int64_t target);
    void Fill();
    bool Grow(std::size_t needed);
    void MarkDirty(std::size_t lo, std::size_t hi);

    DWORD flags_ = 0;
    FOURCC ioProc_ = FOURCC_DOS;
    DWORD adwInfo_[3] = {0, 0, 0};
    bool readable_ = false;
    bool writable_ = false;
    bool memory_ = false;

    std::unique_ptr<ByteStream> stream_;
    std::byte* buf_ = nullptr; // window: I/O buffer or memory image
    std::size_t cap_ = 0;      // window size (0: unbuffered stream)
    std::size_t valid_ = 0;    // bytes of the window holding file data
    std::size_t next_ = 0;     // position inside the window
    std::int64_t bufOffset_ = 0;
    bool dirty_ = false;
    std::size_t dirtyLo_ = 0, dirtyHi_ = 0;
    std::unique_ptr<std::byte[]> ownedBuffer_; // an I/O buffer we allocated
    std::vector<std::byte> ownedImage_;        // an image we allocated or grew
};

} // namespace lum::platform::mmio::detail
