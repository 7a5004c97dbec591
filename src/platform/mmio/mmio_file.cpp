#include "platform/mmio/mmio_file.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace lum::platform::mmio::detail {
namespace {

constexpr std::int64_t kMaxPosition = LONG_MAX;

std::uintptr_t Addr(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

} // namespace

std::unique_ptr<MmioFile> MmioFile::OverStream(std::unique_ptr<ByteStream> stream, DWORD flags,
                                               char* userBuffer, LONG cch, MMRESULT* error) {
    std::unique_ptr<MmioFile> f(new (std::nothrow) MmioFile());
    if (!f) {
        *error = MMIOERR_OUTOFMEMORY;
        return nullptr;
    }
    DWORD mode = flags & MMIO_RWMODE;
    f->flags_ = flags & (MMIO_RWMODE | MMIO_SHAREMODE | MMIO_CREATE);
    f->readable_ = mode != MMIO_WRITE;
    f->writable_ = mode != MMIO_READ;
    f->stream_ = std::move(stream);
    if (MMRESULT r = f->SetBuffer(userBuffer, cch); r != MMSYSERR_NOERROR) {
        *error = r;
        return nullptr;
    }
    return f;
}

std::unique_ptr<MmioFile> MmioFile::OverMemory(std::byte* data, std::size_t size,
                                               std::size_t capacity, DWORD growBy, DWORD flags,
                                               FOURCC ioProc, MMRESULT* error) {
    std::unique_ptr<MmioFile> f(new (std::nothrow) MmioFile());
    if (!f) {
        *error = MMIOERR_OUTOFMEMORY;
        return nullptr;
    }
    DWORD mode = flags & MMIO_RWMODE;
    f->flags_ = flags & (MMIO_RWMODE | MMIO_SHAREMODE | MMIO_CREATE);
    f->readable_ = mode != MMIO_WRITE;
    f->writable_ = mode != MMIO_READ;
    f->memory_ = true;
    f->ioProc_ = ioProc;
    f->adwInfo_[0] = growBy;
    if (data == nullptr) {
        try {
            f->ownedImage_.assign(capacity, std::byte{0});
        } catch (const std::bad_alloc&) {
            *error = MMIOERR_OUTOFMEMORY;
            return nullptr;
        }
        f->flags_ |= MMIO_ALLOCBUF;
        data = f->ownedImage_.data();
        size = 0;
    }
    f->buf_ = data;
    f->cap_ = capacity;
    f->valid_ = std::min(size, capacity);
    return f;
}

std::int64_t MmioFile::Extent() const {
    std::int64_t buffered = bufOffset_ + static_cast<std::int64_t>(valid_);
    if (memory_) return buffered;
    return std::max(stream_->Size(), buffered);
}

void MmioFile::MarkDirty(std::size_t lo, std::size_t hi) {
    if (!dirty_) {
        dirtyLo_ = lo;
        dirtyHi_ = hi;
        dirty_ = true;
    } else {
        dirtyLo_ = std::min(dirtyLo_, lo);
        dirtyHi_ = std::max(dirtyHi_, hi);
    }
}

// Writes the changed part of the buffer to the stream. A failed write keeps
// the changes so that a later flush or close can try again.
bool MmioFile::WriteOut() {
    if (memory_ || !dirty_) {
        dirty_ = false;
        return true;
    }
    if (dirtyHi_ > dirtyLo_ && !stream_->WriteAt(bufOffset_ + static_cast<std::int64_t>(dirtyLo_),
                                                 buf_ + dirtyLo_, dirtyHi_ - dirtyLo_))
        return false;
    dirty_ = false;
    return true;
}

// Starts an empty window at Target. It is filled lazily, when read.
bool MmioFile::Reposition(std::int64_t target) {
    if (!WriteOut()) return false;
    bufOffset_ = target;
    next_ = 0;
    valid_ = 0;
    return true;
}

void MmioFile::Fill() {
    next_ = 0;
    valid_ = cap_ ? stream_->ReadAt(bufOffset_, buf_, cap_) : 0;
}

bool MmioFile::SeekTo(std::int64_t target) {
    if (target < 0 || target > kMaxPosition) return false;
    if (memory_) {
        std::size_t limit = writable_ ? cap_ : valid_;
        if (static_cast<std::uint64_t>(target) > limit) return false;
        next_ = static_cast<std::size_t>(target);
        return true;
    }
    if (target >= bufOffset_ && target <= bufOffset_ + static_cast<std::int64_t>(valid_)) {
        next_ = static_cast<std::size_t>(target - bufOffset_);
        return true;
    }
    return Reposition(target);
}

LONG MmioFile::Read(void* dst, LONG cch) {
    if (cch < 0 || !readable_) return -1;
    auto* out = static_cast<std::byte*>(dst);
    auto want = static_cast<std::size_t>(cch);
    if (memory_) {
        std::size_t n = next_ < valid_ ? std::min(want, valid_ - next_) : 0;
        if (n) std::memcpy(out, buf_ + next_, n);
        next_ += n;
        return static_cast<LONG>(n);
    }
    if (cap_ == 0) {
        std::size_t n = stream_->ReadAt(bufOffset_, out, want);
        bufOffset_ += static_cast<std::int64_t>(n);
        return static_cast<LONG>(n);
    }
    std::size_t done = 0;
    while (done < want) {
        if (next_ < valid_) {
            std::size_t n = std::min(want - done, valid_ - next_);
            std::memcpy(out + done, buf_ + next_, n);
            next_ += n;
            done += n;
            continue;
        }
        std::int64_t pos = Tell();
        if (!Reposition(pos)) return done ? static_cast<LONG>(done) : -1;
        std::size_t rest = want - done;
        if (rest >= cap_) {
            // Large reads go straight to the caller's memory.
            std::size_t n = stream_->ReadAt(pos, out + done, rest);
            done += n;
            bufOffset_ = pos + static_cast<std::int64_t>(n);
            break;
        }
        Fill();
        if (valid_ == 0) break;
    }
    return static_cast<LONG>(done);
}

bool MmioFile::Grow(std::size_t needed) {
    DWORD step = adwInfo_[0];
    if (step == 0 || needed <= cap_) return needed <= cap_;
    std::size_t steps = (needed - cap_ + step - 1) / step;
    if (steps > (static_cast<std::size_t>(LONG_MAX) - cap_) / step) return false;
    std::size_t grown = cap_ + steps * step;
    try {
        if (!ownedImage_.empty() && buf_ == ownedImage_.data()) {
            ownedImage_.resize(grown, std::byte{0});
        } else {
            // A caller's image is never reallocated: it moves into one of ours,
            // which mmioGetInfo then reports.
            std::vector<std::byte> image(grown, std::byte{0});
            if (cap_) std::memcpy(image.data(), buf_, cap_);
            ownedImage_ = std::move(image);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    buf_ = ownedImage_.data();
    cap_ = grown;
    flags_ |= MMIO_ALLOCBUF;
    return true;
}

bool MmioFile::Fits(std::size_t n) {
    if (!memory_) return true;
    return next_ + n <= cap_ || Grow(next_ + n);
}

LONG MmioFile::Write(const void* src, LONG cch) {
    if (cch < 0 || !writable_) return -1;
    if (cch == 0) return 0;
    const auto* in = static_cast<const std::byte*>(src);
    auto want = static_cast<std::size_t>(cch);
    if (memory_) {
        if (next_ + want > cap_) Grow(next_ + want);
        std::size_t n = next_ < cap_ ? std::min(want, cap_ - next_) : 0;
        if (n == 0) return -1;
        if (next_ > valid_) std::memset(buf_ + valid_, 0, next_ - valid_);
        std::memcpy(buf_ + next_, in, n);
        next_ += n;
        valid_ = std::max(valid_, next_);
        return static_cast<LONG>(n);
    }
    if (Tell() + static_cast<std::int64_t>(want) > kMaxPosition) return -1;
    if (cap_ == 0) {
        if (!stream_->WriteAt(bufOffset_, in, want)) return -1;
        bufOffset_ += static_cast<std::int64_t>(want);
        return cch;
    }
    std::size_t done = 0;
    while (done < want) {
        if (next_ == cap_ && !Reposition(Tell())) break;
        std::size_t rest = want - done;
        if (next_ == 0 && valid_ == 0 && rest >= cap_) {
            // Large writes go straight to the stream.
            if (!stream_->WriteAt(bufOffset_, in + done, rest)) break;
            bufOffset_ += static_cast<std::int64_t>(rest);
            done += rest;
            break;
        }
        std::size_t n = std::min(rest, cap_ - next_);
        std::memcpy(buf_ + next_, in + done, n);
        MarkDirty(next_, next_ + n);
        next_ += n;
        valid_ = std::max(valid_, next_);
        done += n;
    }
    return done ? static_cast<LONG>(done) : -1;
}

MMRESULT MmioFile::Flush(bool empty) {
    if (memory_) return MMSYSERR_NOERROR;
    if (!WriteOut()) return MMIOERR_CANNOTWRITE;
    if (empty && !Reposition(Tell())) return MMIOERR_CANNOTWRITE;
    return MMSYSERR_NOERROR;
}

MMRESULT MmioFile::SetBuffer(char* userBuffer, LONG cch) {
    if (memory_) return MMSYSERR_NOTSUPPORTED;
    if (cch < 0) return MMSYSERR_INVALPARAM;
    std::unique_ptr<std::byte[]> owned;
    if (cch > 0 && userBuffer == nullptr) {
        owned.reset(new (std::nothrow) std::byte[static_cast<std::size_t>(cch)]);
        if (!owned) return MMIOERR_OUTOFMEMORY;
    }
    if (!WriteOut()) return MMIOERR_CANNOTWRITE;
    std::int64_t pos = Tell();
    ownedBuffer_ = std::move(owned);
    cap_ = static_cast<std::size_t>(cch);
    buf_ = cap_ == 0      ? nullptr
           : ownedBuffer_ ? ownedBuffer_.get()
                          : reinterpret_cast<std::byte*>(userBuffer);
    flags_ = ownedBuffer_ ? (flags_ | MMIO_ALLOCBUF) : (flags_ & ~MMIO_ALLOCBUF);
    bufOffset_ = pos;
    next_ = 0;
    valid_ = 0;
    return MMSYSERR_NOERROR;
}

void MmioFile::GetInfo(MMIOINFO* info, HMMIO self) const {
    *info = MMIOINFO{};
    info->dwFlags = flags_ | (dirty_ ? MMIO_DIRTY : 0);
    info->fccIOProc = ioProc_;
    info->cchBuffer = static_cast<LONG>(cap_);
    if (buf_ != nullptr) {
        char* base = reinterpret_cast<char*>(buf_);
        info->pchBuffer = base;
        info->pchNext = base + next_;
        info->pchEndRead = base + valid_;
        info->pchEndWrite = writable_ ? base + cap_ : base;
    }
    std::int64_t disk = bufOffset_ + static_cast<std::int64_t>(valid_);
    info->lBufOffset = static_cast<LONG>(std::min(bufOffset_, kMaxPosition));
    info->lDiskOffset = static_cast<LONG>(std::min(disk, kMaxPosition));
    std::copy(std::begin(adwInfo_), std::end(adwInfo_), info->adwInfo);
    info->hmmio = self;
}

MMRESULT MmioFile::SetInfo(const MMIOINFO& info) {
    std::copy(std::begin(info.adwInfo), std::end(info.adwInfo), adwInfo_);
    if (buf_ == nullptr) return MMSYSERR_NOERROR;
    bool dirty = (info.dwFlags & MMIO_DIRTY) != 0;
    if (dirty && !writable_) return MMIOERR_CANNOTWRITE;
    // The position must lie in the window: written bytes may reach the
    // window's end, read ones only the end of its data.
    std::size_t limit = dirty ? cap_ : std::max(valid_, next_);
    if (info.pchBuffer != reinterpret_cast<char*>(buf_) || Addr(info.pchNext) < Addr(buf_) ||
        Addr(info.pchNext) > Addr(buf_) + limit)
        return MMSYSERR_INVALPARAM;
    next_ = static_cast<std::size_t>(Addr(info.pchNext) - Addr(buf_));
    if (dirty) {
        valid_ = std::max(valid_, next_);
        if (!memory_) MarkDirty(0, valid_);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT MmioFile::Advance(MMIOINFO* info, HMMIO self, bool write) {
    if (buf_ == nullptr && !memory_) return MMIOERR_UNBUFFERED;
    if (write && !writable_) return MMIOERR_CANNOTWRITE;
    if (!write && !readable_) return MMIOERR_CANNOTREAD;
    if (info) {
        if (MMRESULT r = SetInfo(*info); r != MMSYSERR_NOERROR) return r;
    }
    MMRESULT result = MMSYSERR_NOERROR;
    if (memory_) {
        // The whole image is in view already; writing on at its end needs
        // a larger image.
        if (write && next_ >= cap_ && !Grow(cap_ + 1)) result = MMIOERR_CANNOTEXPAND;
    } else {
        if (!Reposition(Tell()))
            result = MMIOERR_CANNOTWRITE;
        else if (readable_)
            Fill();
    }
    if (info) GetInfo(info, self);
    return result;
}

} // namespace lum::platform::mmio::detail
