#include "platform/mmio/mmio.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_set>

#include "platform/base/resources.h"
#include "platform/mmio/mmio_file.h"

namespace lum::platform::mmio {
namespace {

using detail::MmioFile;
namespace fs = std::filesystem;

// What MMIO_PARSE, MMIO_EXIST and MMIO_DELETE return on success: true, as
// on the platform, and never a handle.
HMMIO const kTrue = reinterpret_cast<HMMIO>(1);

// Live handles, so that a stale, closed or made-up handle is refused
// instead of being followed.
class HandleTable {
public:
    HMMIO Add(std::unique_ptr<MmioFile> file) {
        std::lock_guard lock(mutex_);
        MmioFile* raw = file.get();
        try {
            live_.insert(raw);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        file.release();
        return reinterpret_cast<HMMIO>(raw);
    }
    MmioFile* Find(HMMIO h) {
        std::lock_guard lock(mutex_);
        auto* raw = reinterpret_cast<MmioFile*>(h);
        return live_.count(raw) ? raw : nullptr;
    }
    std::unique_ptr<MmioFile> Remove(HMMIO h) {
        std::lock_guard lock(mutex_);
        auto* raw = reinterpret_cast<MmioFile*>(h);
        if (live_.erase(raw) == 0) return nullptr;
        return std::unique_ptr<MmioFile>(raw);
    }

private:
    std::mutex mutex_;
    std::unordered_set<MmioFile*> live_;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

DWORD GetLE32(const unsigned char* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
           (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}

void PutLE32(unsigned char* p, DWORD v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

MMRESULT OpenError(int err, const std::string& path) {
    switch (err) {
    case ENOENT: {
        std::error_code ec;
        fs::path parent = fs::path(path).parent_path();
        if (!parent.empty() && !fs::is_directory(parent, ec)) return MMIOERR_PATHNOTFOUND;
        return MMIOERR_FILENOTFOUND;
    }
    case ENOTDIR:
        return MMIOERR_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return MMIOERR_ACCESSDENIED;
    case EMFILE:
    case ENFILE:
        return MMIOERR_TOOMANYOPENFILES;
    case ENOMEM:
        return MMIOERR_OUTOFMEMORY;
    default:
        return MMIOERR_CANNOTOPEN;
    }
}

// Buffer size and caller buffer for a buffered file, as the record and the
// flags ask; false for a negative size.
bool BufferRequest(const MMIOINFO* info, DWORD flags, char** user, LONG* cch) {
    *user = nullptr;
    *cch = 0;
    if (info && info->cchBuffer < 0) return false;
    if (info && info->pchBuffer && info->cchBuffer > 0) {
        *user = info->pchBuffer;
        *cch = info->cchBuffer;
    } else if (flags & MMIO_ALLOCBUF) {
        *cch = info && info->cchBuffer > 0 ? info->cchBuffer : MMIO_DEFAULTBUFFER;
    }
    return true;
}

HMMIO Register(std::unique_ptr<MmioFile> file, MMIOINFO* info) {
    HMMIO h = Handles().Add(std::move(file));
    if (info) info->wErrorRet = h ? MMSYSERR_NOERROR : MMIOERR_OUTOFMEMORY;
    return h;
}

HMMIO OpenMemory(MMIOINFO* info, DWORD flags) {
    if (info->cchBuffer < 0) {
        info->wErrorRet = MMSYSERR_INVALPARAM;
        return nullptr;
    }
    auto size = static_cast<std::size_t>(info->cchBuffer);
    // A new file in a caller's buffer starts empty; an image we allocate
    // ourselves always does.
    std::size_t held = (flags & MMIO_CREATE) ? 0 : size;
    MMRESULT error = MMSYSERR_NOERROR;
    auto file = MmioFile::OverMemory(reinterpret_cast<std::byte*>(info->pchBuffer), held, size,
                                     info->adwInfo[0], flags, FOURCC_MEM, &error);
    if (!file) {
        info->wErrorRet = error;
        return nullptr;
    }
    return Register(std::move(file), info);
}

HMMIO OpenResource(const char* name, MMIOINFO* info, DWORD flags) {
    if (name == nullptr) {
        info->wErrorRet = MMSYSERR_INVALPARAM;
        return nullptr;
    }
    if ((flags & MMIO_RWMODE) != MMIO_READ || (flags & MMIO_CREATE)) {
        info->wErrorRet = MMIOERR_ACCESSDENIED;
        return nullptr;
    }
    std::string_view full(name), type = RT_WAVE, id = full;
    if (auto slash = full.find('/'); slash != std::string_view::npos) {
        type = full.substr(0, slash);
        id = full.substr(slash + 1);
    }
    if (!HasResource(type, id)) {
        info->wErrorRet = MMIOERR_FILENOTFOUND;
        return nullptr;
    }
    std::span<const std::byte> bytes = FindResource(type, id);
    MMRESULT error = MMSYSERR_NOERROR;
    // Opened read-only, so the program's constant bytes are never written.
    auto file = MmioFile::OverMemory(const_cast<std::byte*>(bytes.data()), bytes.size(),
                                     bytes.size(), 0, flags, FOURCC_RES, &error);
    if (!file) {
        info->wErrorRet = error;
        return nullptr;
    }
    return Register(std::move(file), info);
}

HMMIO OpenStream(std::unique_ptr<ByteStream> stream, MMIOINFO* info, DWORD flags) {
    char* user = nullptr;
    LONG cch = 0;
    if (!BufferRequest(info, flags, &user, &cch)) {
        if (info) info->wErrorRet = MMSYSERR_INVALPARAM;
        return nullptr;
    }
    MMRESULT error = MMSYSERR_NOERROR;
    auto file = MmioFile::OverStream(std::move(stream), flags, user, cch, &error);
    if (!file) {
        if (info) info->wErrorRet = error;
        return nullptr;
    }
    return Register(std::move(file), info);
}

HMMIO OpenDisk(const char* name, MMIOINFO* info, DWORD flags) {
    if (name == nullptr || *name == '\0') {
        if (info) info->wErrorRet = MMIOERR_CANNOTOPEN;
        return nullptr;
    }
    DWORD mode = flags & MMIO_RWMODE;
    FileMode fm = (flags & MMIO_CREATE) ? FileMode::Create
                  : mode == MMIO_READ   ? FileMode::Read
                                        : FileMode::ReadWrite;
    if (info && info->cchBuffer < 0) {
        info->wErrorRet = MMSYSERR_INVALPARAM;
        return nullptr;
    }
    errno = 0;
    auto stream = FileStream::Open(name, fm);
    if (!stream) {
        if (info) info->wErrorRet = OpenError(errno, name);
        return nullptr;
    }
    return OpenStream(std::move(stream), info, flags);
}

// The name actions. WriteBack stores a full path for MMIO_PARSE (null when
// the name cannot be written to).
HMMIO NameAction(const char* name, MMIOINFO* info, DWORD flags,
                 const std::function<bool(const std::string&)>& writeBack) {
    auto fail = [info](MMRESULT e) -> HMMIO {
        if (info) info->wErrorRet = e;
        return nullptr;
    };
    if (name == nullptr || *name == '\0') return fail(MMSYSERR_INVALPARAM);
    std::error_code ec;
    fs::path path(name);
    if (flags & MMIO_DELETE) {
        if (fs::is_directory(path, ec)) return fail(MMIOERR_ACCESSDENIED);
        if (fs::remove(path, ec)) return kTrue;
        return fail(ec ? OpenError(ec.value(), name) : MMIOERR_FILENOTFOUND);
    }
    if (flags & MMIO_EXIST) {
        if (fs::exists(path, ec) && !fs::is_directory(path, ec)) return kTrue;
        return fail(MMIOERR_FILENOTFOUND);
    }
    fs::path full = fs::absolute(path, ec);
    if (ec) return fail(MMIOERR_PATHNOTFOUND);
    if (!writeBack || !writeBack(full.lexically_normal().string()))
        return fail(MMSYSERR_INVALPARAM);
    return kTrue;
}

HMMIO Open(const char* name, MMIOINFO* info, DWORD flags,
           const std::function<bool(const std::string&)>& writeBack) {
    if (info) info->wErrorRet = MMSYSERR_NOERROR;
    if (flags & (MMIO_DELETE | MMIO_EXIST | MMIO_PARSE))
        return NameAction(name, info, flags, writeBack);
    if ((flags & MMIO_RWMODE) == MMIO_RWMODE) {
        if (info) info->wErrorRet = MMSYSERR_INVALFLAG;
        return nullptr;
    }
    if (flags & MMIO_GETTEMP) {
        if (info) info->wErrorRet = MMSYSERR_NOTSUPPORTED;
        return nullptr;
    }
    FOURCC proc = info ? info->fccIOProc : 0;
    if (proc == FOURCC_MEM) return OpenMemory(info, flags);
    if (proc == FOURCC_RES) return OpenResource(name, info, flags);
    if (proc != 0 && proc != FOURCC_DOS) {
        info->wErrorRet = MMSYSERR_NOTSUPPORTED;
        return nullptr;
    }
    return OpenDisk(name, info, flags);
}

bool IsForm(FOURCC id) {
    return id == FOURCC_RIFF || id == FOURCC_LIST;
}

} // namespace

HMMIO mmioOpen(char* szFilename, MMIOINFO* lpmmioinfo, DWORD dwOpenFlags, std::size_t cchFilename) {
    return Open(szFilename, lpmmioinfo, dwOpenFlags, [&](const std::string& full) {
        if (szFilename == nullptr || full.size() + 1 > cchFilename) return false;
        std::memcpy(szFilename, full.c_str(), full.size() + 1);
        return true;
    });
}

HMMIO mmioOpen(const char* szFilename, MMIOINFO* lpmmioinfo, DWORD dwOpenFlags) {
    return Open(szFilename, lpmmioinfo, dwOpenFlags, nullptr);
}

HMMIO mmioOpen(std::nullptr_t, MMIOINFO* lpmmioinfo, DWORD dwOpenFlags) {
    return Open(nullptr, lpmmioinfo, dwOpenFlags, nullptr);
}

HMMIO mmioOpen(std::string& filename, MMIOINFO* lpmmioinfo, DWORD dwOpenFlags) {
    std::string name = filename; // the write-back replaces the string
    return Open(name.c_str(), lpmmioinfo, dwOpenFlags, [&](const std::string& full) {
        filename = full;
        return true;
    });
}

HMMIO mmioOpenStream(std::unique_ptr<ByteStream> stream, MMIOINFO* lpmmioinfo, DWORD dwOpenFlags) {
    if (lpmmioinfo) lpmmioinfo->wErrorRet = MMSYSERR_NOERROR;
    auto fail = [lpmmioinfo](MMRESULT e) -> HMMIO {
        if (lpmmioinfo) lpmmioinfo->wErrorRet = e;
        return nullptr;
    };
    if (!stream) return fail(MMSYSERR_INVALPARAM);
    DWORD mode = dwOpenFlags & MMIO_RWMODE;
    if (mode == MMIO_RWMODE) return fail(MMSYSERR_INVALFLAG);
    if (mode != MMIO_READ && !stream->Writable()) return fail(MMIOERR_ACCESSDENIED);
    if ((dwOpenFlags & MMIO_CREATE) && !stream->Truncate(0)) return fail(MMIOERR_CANNOTOPEN);
    return OpenStream(std::move(stream), lpmmioinfo, dwOpenFlags);
}

MMRESULT mmioClose(HMMIO hmmio, UINT) {
    std::unique_ptr<MmioFile> file = Handles().Remove(hmmio);
    if (!file) return MMSYSERR_INVALHANDLE;
    return file->Flush(false) == MMSYSERR_NOERROR ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

LONG mmioRead(HMMIO hmmio, void* pch, LONG cch) {
    MmioFile* f = Handles().Find(hmmio);
    if (!f || (pch == nullptr && cch > 0)) return -1;
    return f->Read(pch, cch);
}

LONG mmioWrite(HMMIO hmmio, const void* pch, LONG cch) {
    MmioFile* f = Handles().Find(hmmio);
    if (!f || (pch == nullptr && cch > 0)) return -1;
    return f->Write(pch, cch);
}

LONG mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin) {
    MmioFile* f = Handles().Find(hmmio);
    if (!f) return -1;
    std::int64_t base;
    switch (iOrigin) {
    case SEEK_SET:
        base = 0;
        break;
    case SEEK_CUR:
        base = f->Tell();
        break;
    case SEEK_END:
        base = f->Extent();
        break;
    default:
        return -1;
    }
    std::int64_t target = base + lOffset;
    if (!f->SeekTo(target)) return -1;
    return static_cast<LONG>(target);
}

MMRESULT mmioGetInfo(HMMIO hmmio, MMIOINFO* lpmmioinfo, UINT) {
    MmioFile* f = Handles().Find(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    if (!lpmmioinfo) return MMSYSERR_INVALPARAM;
    f->GetInfo(lpmmioinfo, hmmio);
    return MMSYSERR_NOERROR;
}

MMRESULT mmioSetInfo(HMMIO hmmio, const MMIOINFO* lpmmioinfo, UINT) {
    MmioFile* f = Handles().Find(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    if (!lpmmioinfo) return MMSYSERR_INVALPARAM;
    return f->SetInfo(*lpmmioinfo);
}

MMRESULT mmioAdvance(HMMIO hmmio, MMIOINFO* lpmmioinfo, UINT wFlags) {
    MmioFile* f = Handles().Find(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    return f->Advance(lpmmioinfo, hmmio, (wFlags & MMIO_WRITE) != 0);
}

MMRESULT mmioFlush(HMMIO hmmio, UINT wFlags) {
    MmioFile* f = Handles().Find(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    return f->Flush((wFlags & MMIO_EMPTYBUF) != 0);
}

MMRESULT mmioSetBuffer(HMMIO hmmio, char* pchBuffer, LONG cchBuffer, UINT) {
    MmioFile* f = Handles().Find(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    return f->SetBuffer(pchBuffer, cchBuffer);
}

MMRESULT mmioDescend(HMMIO hmmio, MMCKINFO* lpck, const MMCKINFO* lpckParent, UINT wFlags) {
    MmioFile* f = Handles().Find(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    if (!lpck) return MMSYSERR_INVALPARAM;
    // The chunk record may be the parent record too: read both first.
    const FOURCC wantId = lpck->ckid;
    const FOURCC wantType = lpck->fccType;
    const std::int64_t end =
        lpckParent ? static_cast<std::int64_t>(lpckParent->dwDataOffset) + lpckParent->cksize
                   : INT64_MAX;
    const std::int64_t start = f->Tell();
    auto fail = [&](MMRESULT r) {
        f->SeekTo(start);
        return r;
    };
    std::int64_t pos = start;
    for (;;) {
        if (pos > end - 8 || pos + 8 > static_cast<std::int64_t>(UINT32_MAX))
            return fail(MMIOERR_CHUNKNOTFOUND);
        if (!f->SeekTo(pos)) return fail(MMIOERR_CHUNKNOTFOUND);
        unsigned char header[8];
        LONG n = f->Read(header, 8);
        if (n < 0) return fail(MMIOERR_CANNOTREAD);
        if (n < 8) return fail(MMIOERR_CHUNKNOTFOUND);
        const FOURCC id = GetLE32(header);
        const DWORD size = GetLE32(header + 4);
        FOURCC type = 0;
        // A RIFF or LIST body begins with its form type; a body too small to
        // hold one has none.
        if (IsForm(id) && size >= 4) {
            unsigned char form[4];
            n = f->Read(form, 4);
            if (n < 0) return fail(MMIOERR_CANNOTREAD);
            if (n < 4) return fail(MMIOERR_CHUNKNOTFOUND);
            type = GetLE32(form);
        }
        bool match;
        if (wFlags & MMIO_FINDCHUNK)
            match = id == wantId;
        else if (wFlags & MMIO_FINDRIFF)
            match = id == FOURCC_RIFF && (wantType == 0 || type == wantType);
        else if (wFlags & MMIO_FINDLIST)
            match = id == FOURCC_LIST && (wantType == 0 || type == wantType);
        else
            match = true;
        if (match) {
            lpck->ckid = id;
            lpck->cksize = size;
            lpck->fccType = type;
            lpck->dwDataOffset = static_cast<DWORD>(pos + 8);
            lpck->dwFlags = 0;
            return MMSYSERR_NOERROR;
        }
        pos += 8 + static_cast<std::int64_t>(size) + (size & 1);
    }
}

MMRESULT mmioAscend(HMMIO hmmio, MMCKINFO* lpck, UINT) {
    MmioFile* f = Handles().Find(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    if (!lpck) return MMSYSERR_INVALPARAM;
    const std::int64_t data = lpck->dwDataOffset;
    if (lpck->dwFlags & MMIO_DIRTY) {
        if (!f->Writable()) return MMIOERR_CANNOTWRITE;
        const std::int64_t here = f->Tell();
        if (here < data || data < 8) return MMIOERR_CANNOTSEEK;
        const std::int64_t size = here - data;
        if (size > static_cast<std::int64_t>(UINT32_MAX)) return MMIOERR_CANNOTWRITE;
        if (size & 1) {
            const unsigned char pad = 0;
            if (!f->Fits(1) || f->Write(&pad, 1) != 1) return MMIOERR_CANNOTWRITE;
        }
        unsigned char field[4];
        PutLE32(field, static_cast<DWORD>(size));
        if (!f->SeekTo(data - 4)) return MMIOERR_CANNOTSEEK;
        if (f->Write(field, 4) != 4) return MMIOERR_CANNOTWRITE;
        lpck->cksize = static_cast<DWORD>(size);
        lpck->dwFlags &= ~MMIO_DIRTY;
    }
    // A body claimed larger than the file, or a missing last pad byte,
    // ends at the end of the file.
    std::int64_t target = data + lpck->cksize + (lpck->cksize & 1);
    target = std::min(target, f->Extent());
    if (!f->SeekTo(target)) return MMIOERR_CANNOTSEEK;
    return MMSYSERR_NOERROR;
}

MMRESULT mmioCreateChunk(HMMIO hmmio, MMCKINFO* lpck, UINT wFlags) {
    MmioFile* f = Handles().Find(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    if (!lpck) return MMSYSERR_INVALPARAM;
    if (!f->Writable()) return MMIOERR_CANNOTWRITE;
    FOURCC id = lpck->ckid;
    if (wFlags & MMIO_CREATERIFF)
        id = FOURCC_RIFF;
    else if (wFlags & MMIO_CREATELIST)
        id = FOURCC_LIST;
    const bool form = (wFlags & (MMIO_CREATERIFF | MMIO_CREATELIST)) != 0;
    const std::int64_t pos = f->Tell();
    if (pos + 8 > static_cast<std::int64_t>(UINT32_MAX)) return MMIOERR_CANNOTWRITE;
    unsigned char header[12];
    PutLE32(header, id);
    PutLE32(header + 4, lpck->cksize);
    PutLE32(header + 8, lpck->fccType);
    const LONG length = form ? 12 : 8;
    // A header that does not fit a memory image is not written in part.
    if (!f->Fits(static_cast<std::size_t>(length))) return MMIOERR_CANNOTWRITE;
    if (f->Write(header, length) != length) {
        f->SeekTo(pos);
        return MMIOERR_CANNOTWRITE;
    }
    lpck->ckid = id;
    lpck->dwDataOffset = static_cast<DWORD>(pos + 8);
    lpck->dwFlags = MMIO_DIRTY;
    return MMSYSERR_NOERROR;
}

FOURCC mmioStringToFOURCC(const char* sz, UINT uFlags) {
    if (sz == nullptr) return 0;
    char c[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; i < 4 && sz[i] != '\0'; ++i) {
        c[i] = sz[i];
        // ASCII only: the result must not depend on the program's locale.
        if ((uFlags & MMIO_TOUPPER) && c[i] >= 'a' && c[i] <= 'z')
            c[i] = static_cast<char>(c[i] - 'a' + 'A');
    }
    return mmioFOURCC(c[0], c[1], c[2], c[3]);
}

} // namespace lum::platform::mmio
