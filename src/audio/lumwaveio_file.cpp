// Opening, describing, creating and freeing wave files.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "audio/audioheap.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "platform/base/system.h"

namespace lum {

using namespace platform::mmio;
using audio_detail::HeapAlloc;
using audio_detail::HeapFree;
using audio_detail::HeapString;

namespace {

constexpr FOURCC kFmt = platform::MakeFourCC("fmt ");
constexpr FOURCC kData = platform::MakeFourCC("data");
constexpr FOURCC kFact = platform::MakeFourCC("fact");
constexpr FOURCC kDISP = platform::MakeFourCC("DISP");
constexpr FOURCC kINFO = platform::MakeFourCC("INFO");
constexpr std::size_t kFixedPart = offsetof(TWAVEIOCB, Format);
// The format record and the most extra bytes cbSize can announce.
constexpr std::size_t kMaxFormat = sizeof(TWaveFormatEx) + 0xFFFF;

// A zeroed block for a format of FormatBytes bytes, plus one spare byte.
PWAVEIOCB AllocBlock(std::size_t formatBytes) {
    const std::size_t size = kFixedPart + std::max(formatBytes, sizeof(TWaveFormatEx)) + 1;
    auto* cb = static_cast<PWAVEIOCB>(HeapAlloc(size));
    if (cb != nullptr) cb->BlockSize = static_cast<std::int32_t>(size);
    return cb;
}

// The name as kept in a block: for a memory image, a copy of its
// description and one byte more.
char* CopyName(const char* name, DWORD flags) {
    if (flags & WIO_MEMORY) {
        auto* copy = static_cast<char*>(HeapAlloc(sizeof(MMIOINFO) + 1));
        if (copy != nullptr) std::memcpy(copy, name, sizeof(MMIOINFO));
        return copy;
    }
    return HeapString(name, std::strlen(name));
}

// Whether the arithmetic can divide by every field of the format: no zero
// counts, and rates that stay positive as 32-bit signed values.
bool UsableFormat(const TWaveFormatEx& f) {
    return f.nChannels != 0 && f.nBlockAlign != 0 && f.nSamplesPerSec != 0 &&
           f.nSamplesPerSec <= INT32_MAX && f.nAvgBytesPerSec != 0 &&
           f.nAvgBytesPerSec <= INT32_MAX;
}

// The fields of a PCM format follow from bits, channels and rate; a file's
// own block align and byte rate are not trusted. False when the byte rate
// does not fit.
bool RepairPCM(TWaveFormatEx& f) {
    if (f.wFormatTag != WAVE_FORMAT_PCM) return true;
    f.nBlockAlign = static_cast<WORD>(std::uint32_t{f.wBitsPerSample} * f.nChannels / 8);
    const std::uint64_t rate = std::uint64_t{f.nBlockAlign} * f.nSamplesPerSec;
    if (rate > INT32_MAX) return false;
    f.nAvgBytesPerSec = static_cast<DWORD>(rate);
    return true;
}

bool IsMpeg(const TWaveFormatEx& f) {
    return f.wFormatTag == 0x0050 || f.wFormatTag == WAVE_FORMAT_MPEGLAYER3;
}

// What the walk over a file's chunks found.
struct Walk {
    PWAVEIOCB block = nullptr; // holds the format once "fmt " was read
    std::size_t formatBytes = 0;
    bool haveData = false;
    std::int64_t dataOffset = 0;
    std::int64_t dataSize = 0;
    std::int64_t nextHeader = -1; // header of the chunk after "data"
};

// The sample bytes of the data chunk. They end at the next chunk's header,
// or, for a last chunk, at the end of the chunk or of the RIFF body,
// whichever is further, and never past the file. Within that the chunk's
// own size counts when it is plausible, so that a pad byte or bytes after
// the chunk are never taken for samples.
std::int64_t DataLength(const Walk& w, std::int64_t riffEnd, std::int64_t fileSize) {
    std::int64_t limit = w.nextHeader >= 0
                             ? w.nextHeader
                             : std::min(fileSize, std::max(riffEnd, w.dataOffset + w.dataSize));
    limit = std::max(limit, w.dataOffset);
    if (w.dataSize != 0 && w.dataOffset + w.dataSize <= limit) return w.dataSize;
    return limit - w.dataOffset;
}

} // namespace

// ---------------------------------------------------------------------------
// File helpers

bool wioGetFullPathName(std::string& name) {
    return mmioOpen(name, nullptr, MMIO_PARSE) != nullptr;
}

bool wioFileExists(const char* name) {
    return name != nullptr && mmioOpen(name, nullptr, MMIO_EXIST) != nullptr;
}

bool wioFileDelete(const char* name) {
    return name != nullptr && mmioOpen(name, nullptr, MMIO_DELETE) != nullptr;
}

std::int32_t wioExtractPath(std::string& buffer) {
    const std::size_t slash = buffer.find_last_of('/');
    buffer.resize(slash == std::string::npos ? 0 : slash + 1);
    return static_cast<std::int32_t>(buffer.size());
}

bool wioFileCreateTemp(std::string& buffer) {
    if (buffer.empty()) buffer = platform::GetTempPath();
    if (!wioGetFullPathName(buffer) || wioExtractPath(buffer) == 0) return false;
    // Unique 0: the system picks a free name and creates the file
    // exclusively, so an existing file is never taken over or deleted.
    std::string name = platform::GetTempFileName(buffer, "w", 0);
    if (name.empty()) return false;
    buffer = name;
    return wioGetFullPathName(buffer);
}

// ---------------------------------------------------------------------------
// Opening and describing

int wioFileOpen(HMMIO& handle, MMCKINFO& ck, DWORD& resHandle, DWORD flags, FOURCC formType,
                const char* name) {
    handle = nullptr;
    resHandle = 0;
    if (name == nullptr) return WIOERR_FILEERROR;
    MMIOINFO info{};
    if (flags & WIO_RESOURCE) {
        info.fccIOProc = FOURCC_RES;
        handle = mmioOpen(name, &info, MMIO_READ);
        if (handle != nullptr) resHandle = 1;
    } else if (flags & WIO_MEMORY) {
        std::memcpy(&info, name, sizeof info);
        info.wErrorRet = 0;
        // Read only: the image belongs to the caller and cannot grow.
        handle = mmioOpen(nullptr, &info, MMIO_READ);
    } else {
        handle = mmioOpen(name, &info, MMIO_READWRITE | MMIO_ALLOCBUF);
        // A file we may not write is still read (system sounds, read-only
        // media); writing into it then fails like any other write.
        if (handle == nullptr && info.wErrorRet == MMIOERR_ACCESSDENIED) {
            info = MMIOINFO{};
            handle = mmioOpen(name, &info, MMIO_READ | MMIO_ALLOCBUF);
        }
    }
    if (handle == nullptr) return WIOERR_FILEERROR;
    ck = MMCKINFO{};
    if (mmioDescend(handle, &ck, nullptr, 0) != MMSYSERR_NOERROR || ck.ckid != FOURCC_RIFF ||
        ck.fccType != formType) {
        wioFileClose(handle, resHandle);
        return WIOERR_FILEERROR;
    }
    return WIOERR_NOERROR;
}

void wioFileClose(HMMIO& handle, DWORD& resHandle) {
    resHandle = 0; // the service holds the resource's bytes for the program's life
    if (handle != nullptr) mmioClose(handle, 0);
    handle = nullptr;
}

int wioReadFileInfo(PWAVEIOCB& cb, const char* name, FOURCC formType, DWORD flags) {
    cb = nullptr;
    if (name == nullptr) return WIOERR_BADPARAM;
    HMMIO h = nullptr;
    MMCKINFO riff{};
    DWORD res = 0;
    if (int r = wioFileOpen(h, riff, res, flags, formType, name); r != WIOERR_NOERROR) return r;

    Walk w;
    TInfoChunk* info = nullptr;
    TDispList* disp = nullptr;
    char* nameCopy = nullptr;
    auto fail = [&](int code) {
        wioFileClose(h, res);
        if (info) RiffFreeINFO(info);
        if (disp) RiffFreeDISP(disp, true);
        HeapFree(nameCopy);
        HeapFree(w.block);
        return code;
    };

    nameCopy = CopyName(name, flags);
    if (nameCopy == nullptr) return fail(WIOERR_NOMEM);
    // Offsets are 32-bit: a file of 2 GiB or more cannot be sought to its
    // end and is refused here.
    const LONG fileSize = mmioSeek(h, 0, SEEK_END);
    if (fileSize < 0) return fail(WIOERR_FILEERROR);
    std::int64_t riffEnd = std::int64_t{riff.dwDataOffset} + riff.cksize;
    if (riffEnd > fileSize) {
        riff.cksize = static_cast<DWORD>(fileSize - riff.dwDataOffset);
        riffEnd = fileSize;
    }
    if (mmioSeek(h, static_cast<LONG>(riff.dwDataOffset + 4), SEEK_SET) < 0)
        return fail(WIOERR_FILEERROR);
    if (RiffInitINFO(info) != RIFFERR_NOERROR || RiffInitDISP(disp) != RIFFERR_NOERROR)
        return fail(WIOERR_NOMEM);

    bool haveFact = false;
    std::int64_t factSamples = 0;
    bool previousWasData = false;
    MMCKINFO ck{};
    while (mmioDescend(h, &ck, &riff, 0) == MMSYSERR_NOERROR) {
        // Where the data ends is known before any stop below.
        if (previousWasData) w.nextHeader = std::int64_t{ck.dwDataOffset} - 8;
        previousWasData = false;
        const std::int64_t chunkEnd = std::int64_t{ck.dwDataOffset} + ck.cksize;
        if (chunkEnd > riffEnd) {
            if (w.block != nullptr && w.haveData) break;
            if (chunkEnd > fileSize) ck.cksize = static_cast<DWORD>(fileSize - ck.dwDataOffset);
        }
        if (ck.ckid == FOURCC_LIST && ck.fccType == kINFO) {
            if (int r = RiffReadINFO(h, ck, info); r != RIFFERR_NOERROR) return fail(r);
        } else if (ck.ckid == kDISP) {
            if (int r = RiffReadDISP(h, ck, disp); r != RIFFERR_NOERROR) return fail(r);
        } else if (ck.ckid == kFmt) {
            if (w.block != nullptr) break;
            w.formatBytes = std::min<std::size_t>(ck.cksize, kMaxFormat);
            w.block = AllocBlock(w.formatBytes);
            if (w.block == nullptr) return fail(WIOERR_NOMEM);
            const auto n = static_cast<LONG>(w.formatBytes);
            if (mmioRead(h, &w.block->Format, n) != n) return fail(WIOERR_FILEERROR);
        } else if (ck.ckid == kData) {
            if (w.haveData) break;
            w.haveData = true;
            w.dataOffset = ck.dwDataOffset;
            w.dataSize = ck.cksize;
            previousWasData = true;
        } else if (ck.ckid == kFact) {
            // The count is otherwise computed from the data below; it only
            // stands in for a byte rate the writer left at 0.
            if (haveFact) break;
            haveFact = true;
            DWORD n = 0;
            if (ck.cksize >= 4 && mmioRead(h, reinterpret_cast<char*>(&n), 4) == 4) factSamples = n;
        }
        if (mmioAscend(h, &ck, 0) != MMSYSERR_NOERROR) {
            if (w.haveData) break;
            return fail(WIOERR_FILEERROR);
        }
    }

    if (flags & WIO_INFOONLY) {
        HeapFree(w.block);
        w.block = AllocBlock(sizeof(TWaveFormatEx));
        if (w.block == nullptr) return fail(WIOERR_NOMEM);
    } else {
        if (w.block == nullptr) return fail(WIOERR_ERROR);
        TWaveFormatEx& f = w.block->Format;
        // The extra bytes are those the chunk holds, whatever cbSize says.
        const std::size_t extra =
            w.formatBytes > sizeof(TWaveFormatEx) ? w.formatBytes - sizeof(TWaveFormatEx) : 0;
        f.cbSize = static_cast<WORD>(std::min<std::size_t>(f.cbSize, extra));
        // Writers that do not know a compressed stream's byte rate (ffmpeg
        // with MP3) store 0; the fact chunk's sample count gives it back.
        if (f.wFormatTag != WAVE_FORMAT_PCM && f.nAvgBytesPerSec == 0 && w.haveData &&
            factSamples > 0 && f.nSamplesPerSec != 0 && f.nSamplesPerSec <= INT32_MAX) {
            const std::int64_t rate =
                DataLength(w, riffEnd, fileSize) * std::int64_t{f.nSamplesPerSec} / factSamples;
            f.nAvgBytesPerSec = static_cast<DWORD>(std::clamp<std::int64_t>(rate, 1, INT32_MAX));
        }
        // ADPCM's byte rate follows from its blocks, but writers do not all
        // store it so (ffmpeg writes 16000 for 22.05 kHz mono MS ADPCM, 44 %
        // over): a file's length comes from the byte rate, so the blocks'
        // own figure stands.
        if ((f.wFormatTag == WAVE_FORMAT_ADPCM || f.wFormatTag == WAVE_FORMAT_IMA_ADPCM) &&
            f.cbSize >= 2 && f.nBlockAlign > 0) {
            const BYTE* x = WaveFormatExtra(&f);
            const unsigned perBlock = x[0] | (x[1] << 8);
            const std::int64_t rate =
                perBlock > 0 ? std::int64_t{f.nSamplesPerSec} * f.nBlockAlign / perBlock : 0;
            if (rate > 0 && rate <= INT32_MAX) f.nAvgBytesPerSec = static_cast<DWORD>(rate);
        }
        // Repaired before anything divides by its fields.
        if (!RepairPCM(f) || !UsableFormat(f)) return fail(WIOERR_ERROR);
        std::int64_t bytes = 0;
        if (w.haveData) {
            bytes = DataLength(w, riffEnd, fileSize);
            // MPEG audio frames vary in size, so their "blocks" are no unit of
            // the data and a last frame is not cut off.
            if (!IsMpeg(f)) bytes -= bytes % f.nBlockAlign;
        } else {
            w.dataOffset = 0; // a format without data is an empty wave
        }
        w.block->DataBytes = static_cast<std::int32_t>(bytes);
        w.block->DataOffset = static_cast<std::int32_t>(w.dataOffset);
        w.block->SampleCount = wioBytesToSamplesEx(w.block, w.block->DataBytes);
        w.block->LastSample = w.block->SampleCount;
        w.block->RiffChunk = riff;
    }
    wioFileClose(h, res);
    w.block->OpenFlags = flags;
    w.block->FileSize = static_cast<DWORD>(fileSize);
    w.block->FileName = nameCopy;
    w.block->DispList = disp;
    w.block->InfoChunk = info;
    cb = w.block;
    return WIOERR_NOERROR;
}

int wioCreateFileInfo(PWAVEIOCB& cb, const TWaveFormatEx* fmt) {
    cb = nullptr;
    if (fmt == nullptr) return WIOERR_BADPARAM;
    const std::int32_t size = wioSizeOfWaveFormat(fmt);
    PWAVEIOCB block = AllocBlock(static_cast<std::size_t>(size));
    if (block == nullptr) return WIOERR_NOMEM;
    std::memcpy(&block->Format, fmt, static_cast<std::size_t>(size));
    if (block->Format.wFormatTag == WAVE_FORMAT_PCM) block->Format.cbSize = 0;
    if (RiffInitINFO(block->InfoChunk) != RIFFERR_NOERROR ||
        RiffInitDISP(block->DispList) != RIFFERR_NOERROR) {
        wioFreeFileInfo(block);
        return WIOERR_NOMEM;
    }
    cb = block;
    return WIOERR_NOERROR;
}

int wioCopyFileInfo(PWAVEIOCB dst, PWAVEIOCB src) {
    if (dst == nullptr || src == nullptr) return WIOERR_BADPARAM;
    if (RiffCopyInfo(dst->InfoChunk, src->InfoChunk) != RIFFERR_NOERROR ||
        RiffCopyDISP(dst->DispList, src->DispList) != RIFFERR_NOERROR)
        return WIOERR_ERROR;
    return WIOERR_NOERROR;
}

int wioBuildFileInfoFromMem(PWAVEIOCB& cb, const void* data, std::int32_t len) {
    cb = nullptr;
    if (data == nullptr || len <= 0) return WIOERR_FILEERROR;
    MMIOINFO description{};
    description.fccIOProc = FOURCC_MEM;
    description.pchBuffer = static_cast<char*>(const_cast<void*>(data));
    description.cchBuffer = len;
    return wioReadFileInfo(cb, reinterpret_cast<const char*>(&description), kFormWAVE, WIO_MEMORY);
}

int wioBuildFileInfoFromResource(PWAVEIOCB& cb, const char* resourceName) {
    return wioReadFileInfo(cb, resourceName, kFormWAVE, WIO_RESOURCE);
}

int wioBuildFileInfoFromRAWEx(PWAVEIOCB& cb, const char* fileName, std::int32_t headerBytes,
                              const TWaveFormatEx* fmt) {
    cb = nullptr;
    if (fileName == nullptr) return WIOERR_BADPARAM;
    PWAVEIOCB block = nullptr;
    if (wioCreateFileInfo(block, fmt) != WIOERR_NOERROR) return WIOERR_FILEERROR;
    auto fail = [&](int code) {
        wioFreeFileInfo(block);
        return code;
    };
    if (!UsableFormat(block->Format)) return fail(WIOERR_BADPARAM);
    MMIOINFO info{};
    HMMIO h = mmioOpen(fileName, &info, MMIO_READ | MMIO_DENYWRITE);
    if (h == nullptr) return fail(WIOERR_FILEERROR);
    const LONG size = mmioSeek(h, 0, SEEK_END);
    mmioClose(h, 0);
    if (size < 0) return fail(WIOERR_FILEERROR);
    // A header beyond the file would give a negative length.
    if (headerBytes < 0 || headerBytes > size) return fail(WIOERR_BADPARAM);
    block->FileName = HeapString(fileName, std::strlen(fileName));
    if (block->FileName == nullptr) return fail(WIOERR_NOMEM);
    const std::int32_t length = size - headerBytes;
    block->OpenFlags = WIO_RAWFILE;
    block->FileSize = static_cast<DWORD>(size);
    block->DataOffset = headerBytes;
    block->DataBytes = length - length % block->Format.nBlockAlign; // no partial frame
    block->SampleCount = wioBytesToSamplesEx(block, block->DataBytes);
    block->FirstSample = 0;
    block->LastSample = block->SampleCount;
    cb = block;
    return WIOERR_NOERROR;
}

int wioBuildFileInfoFromRAW(PWAVEIOCB& cb, const char* fileName, std::int32_t headerBytes,
                            int bitsPerSample, int channels, std::int32_t samplesPerSec) {
    TWaveFormatEx fmt{};
    pcmBuildWaveHeader(&fmt, bitsPerSample, channels, samplesPerSec);
    return wioBuildFileInfoFromRAWEx(cb, fileName, headerBytes, &fmt);
}

int wioWriteFileInfo(PWAVEIOCB& cb, const char* fileName) {
    if (cb == nullptr || fileName == nullptr) return WIOERR_BADPARAM;
    if (cb->FileHandle != nullptr) return WIOERR_FILEERROR;
    MMIOINFO info{};
    HMMIO h = mmioOpen(fileName, &info, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
    if (h == nullptr) return WIOERR_FILEERROR; // nothing was made, so nothing is deleted
    MMCKINFO riff{};
    riff.fccType = kFormWAVE;
    MMCKINFO fmt{};
    fmt.ckid = kFmt;
    fmt.cksize = static_cast<DWORD>(wioSizeOfWaveFormat(&cb->Format));
    MMCKINFO data{};
    data.ckid = kData;
    const auto size = static_cast<LONG>(fmt.cksize);
    char* name = HeapString(fileName, std::strlen(fileName));
    if (name == nullptr || mmioCreateChunk(h, &riff, MMIO_CREATERIFF) != MMSYSERR_NOERROR ||
        mmioCreateChunk(h, &fmt, 0) != MMSYSERR_NOERROR ||
        mmioWrite(h, &cb->Format, size) != size || mmioAscend(h, &fmt, 0) != MMSYSERR_NOERROR ||
        mmioCreateChunk(h, &data, 0) != MMSYSERR_NOERROR) {
        HeapFree(name);
        mmioClose(h, 0);
        wioFileDelete(fileName);
        return WIOERR_FILEERROR;
    }
    data.dwFlags |= MMIO_DIRTY;
    HeapFree(cb->FileName);
    cb->FileName = name;
    cb->FileHandle = h;
    cb->OpenFlags = WIO_DISKFILE;
    cb->RiffChunk = riff;
    cb->DataChunk = data;
    cb->DataOffset = static_cast<std::int32_t>(data.dwDataOffset);
    cb->DataBytes = 0; // a new file holds no samples yet
    cb->SampleCount = wioBytesToSamplesEx(cb, cb->DataBytes);
    cb->FirstSample = 0;
    cb->LastSample = cb->SampleCount;
    cb->BytesLeft = 0;
    cb->Position = 0;
    return WIOERR_NOERROR;
}

int wioFreeFileInfo(PWAVEIOCB& cb) {
    if (cb == nullptr) return WIOERR_BADPARAM;
    if (cb->FileHandle != nullptr) mmioClose(cb->FileHandle, 0);
    HeapFree(cb->FileName);
    if (cb->InfoChunk) RiffFreeINFO(cb->InfoChunk);
    if (cb->DispList) RiffFreeDISP(cb->DispList, true);
    HeapFree(cb);
    return WIOERR_NOERROR;
}

bool wioIsWaveFile(const char* fileName, DWORD flags) {
    PWAVEIOCB cb = nullptr;
    if (wioReadFileInfo(cb, fileName, kFormWAVE, flags) != WIOERR_NOERROR) return false;
    wioFreeFileInfo(cb);
    return true;
}

int wioSetIOBufferSize(PWAVEIOCB cb, std::int32_t size) {
    if (cb == nullptr) return WIOERR_BADPARAM;
    if (cb->OpenFlags & (WIO_RESOURCE | WIO_MEMORY | WIO_RAWFILE)) return WIOERR_NOERROR;
    if (cb->FileHandle == nullptr || size < 0) return WIOERR_ERROR;
    return static_cast<int>(mmioSetBuffer(cb->FileHandle, nullptr, size, 0));
}

} // namespace lum
