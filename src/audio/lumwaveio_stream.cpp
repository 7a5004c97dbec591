// Streaming: opening for reading, positioning, reading and writing sample
// data, finishing written files, and whole-file loads and saves.
#include <algorithm>
#include <cstring>

#include "audio/audioheap.h"
#include "audio/lumwaveio.h"

namespace lum {

using namespace platform::mmio;
using audio_detail::HeapAlloc;
using audio_detail::HeapFree;

namespace {

constexpr FOURCC kData = platform::MakeFourCC("data");
constexpr FOURCC kFact = platform::MakeFourCC("fact");
constexpr FOURCC kCue = platform::MakeFourCC("cue ");
constexpr FOURCC kPlst = platform::MakeFourCC("plst");

bool IsRaw(const TWAVEIOCB* cb) {
    return (cb->OpenFlags & WIO_RAWFILE) != 0;
}

std::int32_t BlockAlign(const TWAVEIOCB* cb) {
    return std::max<std::int32_t>(cb->Format.nBlockAlign, 1);
}

// The bytes of the window up to its last sample, never past the data: the
// sample count rounded up to whole blocks may reach beyond it.
std::int32_t WindowEnd(const TWAVEIOCB* cb) {
    return std::min(wioSamplesToBytesEx(cb, cb->LastSample), cb->DataBytes);
}

void UpdateAfterRead(PWAVEIOCB cb) {
    cb->Position = (cb->LastSample - cb->FirstSample) - wioBytesToSamplesEx(cb, cb->BytesLeft);
}

void UpdateAfterWrite(PWAVEIOCB cb) {
    cb->DataChunk.dwFlags |= MMIO_DIRTY;
    const LONG pos = mmioSeek(cb->FileHandle, 0, SEEK_CUR);
    const std::int32_t written = pos - cb->DataOffset;
    cb->Position = wioBytesToSamplesEx(cb, written);
    cb->DataBytes = std::max(cb->DataBytes, written);
    cb->SampleCount = std::max(cb->SampleCount, cb->Position);
}

void PutLE32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Sizes, "fact", DISP and INFO of a file whose data was written.
int FinishWrittenFile(PWAVEIOCB cb) {
    HMMIO h = cb->FileHandle;
    MMIOINFO info{};
    if (mmioGetInfo(h, &info, 0) != MMSYSERR_NOERROR || mmioFlush(h, 0) != MMSYSERR_NOERROR)
        return WIOERR_FILEERROR;
    // A RIFF chunk we created is dirty; an existing file written into gets
    // both sizes measured again.
    if ((cb->RiffChunk.dwFlags & MMIO_DIRTY) == 0) {
        cb->DataChunk.cksize = 0;
        cb->DataChunk.dwFlags |= MMIO_DIRTY;
        cb->RiffChunk.cksize = 0;
        cb->RiffChunk.dwFlags |= MMIO_DIRTY;
    }
    // The data ends after the furthest byte written, even when the file was
    // positioned back to overwrite earlier samples.
    const LONG end = cb->DataOffset + cb->DataBytes;
    if (mmioSeek(h, end, SEEK_SET) != end) return WIOERR_FILEERROR;
    if (mmioAscend(h, &cb->DataChunk, 0) != MMSYSERR_NOERROR) return WIOERR_FILEERROR;
    MMCKINFO fact{};
    fact.ckid = kFact;
    fact.cksize = 4;
    unsigned char count[4];
    PutLE32(count, static_cast<std::uint32_t>(cb->SampleCount));
    if (mmioCreateChunk(h, &fact, 0) != MMSYSERR_NOERROR || mmioWrite(h, count, 4) != 4 ||
        mmioAscend(h, &fact, 0) != MMSYSERR_NOERROR)
        return WIOERR_FILEERROR;
    if (cb->DispList && RiffWriteDISP(h, cb->DispList) != RIFFERR_NOERROR) return WIOERR_FILEERROR;
    if (cb->InfoChunk && RiffWriteINFO(h, cb->InfoChunk) != RIFFERR_NOERROR)
        return WIOERR_FILEERROR;
    if (mmioAscend(h, &cb->RiffChunk, 0) != MMSYSERR_NOERROR) return WIOERR_FILEERROR;
    const LONG size = mmioSeek(h, 0, SEEK_END);
    if (size < 0) return WIOERR_FILEERROR;
    cb->FileSize = static_cast<DWORD>(size);
    cb->LastSample = cb->SampleCount;
    return WIOERR_NOERROR;
}

void CloseHandle(PWAVEIOCB cb) {
    if (IsRaw(cb)) {
        mmioClose(cb->FileHandle, 0);
        cb->FileHandle = nullptr;
    } else {
        wioFileClose(cb->FileHandle, cb->ResourceHandle);
    }
}

} // namespace

int wioWaveOpen(PWAVEIOCB cb) {
    if (cb == nullptr) return WIOERR_BADPARAM;
    if (cb->FileHandle == nullptr) {
        if (IsRaw(cb)) {
            MMIOINFO info{};
            cb->FileHandle = cb->FileName ? mmioOpen(cb->FileName, &info,
                                                     MMIO_READ | MMIO_DENYWRITE | MMIO_ALLOCBUF)
                                          : nullptr;
            if (cb->FileHandle == nullptr) return WIOERR_FILEERROR;
        } else if (wioFileOpen(cb->FileHandle, cb->RiffChunk, cb->ResourceHandle, cb->OpenFlags,
                               kFormWAVE, cb->FileName) != WIOERR_NOERROR) {
            return WIOERR_FILEERROR;
        }
    }
    if (wioWaveSetPosition(cb, cb->Position) != WIOERR_NOERROR) {
        CloseHandle(cb);
        return WIOERR_FILEERROR;
    }
    return WIOERR_NOERROR;
}

int wioWaveClose(PWAVEIOCB cb) {
    if (cb == nullptr || cb->FileHandle == nullptr) return WIOERR_NOERROR;
    int code = WIOERR_NOERROR;
    if (!IsRaw(cb) && (cb->DataChunk.dwFlags & MMIO_DIRTY)) code = FinishWrittenFile(cb);
    CloseHandle(cb);
    cb->BytesLeft = 0;
    cb->Position = 0;
    return code;
}

int wioWaveSetFirstSample(PWAVEIOCB cb, std::int32_t n) {
    if (cb == nullptr || n < 0 || n >= cb->LastSample) return WIOERR_BADPARAM;
    cb->FirstSample = n;
    cb->BytesLeft = std::min(wioSamplesToBytesEx(cb, cb->LastSample - n), cb->DataBytes);
    return WIOERR_NOERROR;
}

int wioWaveSetLastSample(PWAVEIOCB cb, std::int32_t n) {
    if (cb == nullptr || n <= cb->FirstSample || n > cb->SampleCount) return WIOERR_BADPARAM;
    cb->LastSample = n;
    cb->BytesLeft = std::min(wioSamplesToBytesEx(cb, n - cb->FirstSample), cb->DataBytes);
    return WIOERR_NOERROR;
}

int wioWaveSetPosition(PWAVEIOCB cb, std::int32_t n) {
    if (cb == nullptr || n < 0) return WIOERR_FILEERROR;
    const std::int32_t window = cb->LastSample - cb->FirstSample;
    if (window <= 0) {
        // Nothing to read: position 0, and the file is not touched.
        cb->BytesLeft = 0;
        cb->Position = 0;
        return WIOERR_NOERROR;
    }
    n = std::min(n, window - 1);
    std::int32_t b;
    if (HMMIO h = cb->FileHandle) {
        b = std::min(wioSamplesToBytesEx(cb, cb->FirstSample + n), cb->DataBytes);
        b -= b % BlockAlign(cb);
        if (IsRaw(cb)) {
            if (mmioSeek(h, cb->DataOffset + b, SEEK_SET) != cb->DataOffset + b)
                return WIOERR_FILEERROR;
        } else {
            const LONG header = cb->DataOffset - 8;
            MMCKINFO ck{};
            if (header < 0 || mmioSeek(h, header, SEEK_SET) != header ||
                mmioDescend(h, &ck, nullptr, 0) != MMSYSERR_NOERROR || ck.ckid != kData ||
                mmioSeek(h, b, SEEK_CUR) < 0)
                return WIOERR_FILEERROR;
            ck.dwFlags |= cb->DataChunk.dwFlags & MMIO_DIRTY;
            cb->DataChunk = ck;
        }
        cb->BytesLeft = std::max(WindowEnd(cb) - b, 0);
    } else {
        b = wioSamplesToBytesEx(cb, cb->FirstSample + n);
    }
    cb->Position = wioBytesToSamplesEx(cb, b) - cb->FirstSample;
    return WIOERR_NOERROR;
}

std::int32_t wioWaveReadData(PWAVEIOCB cb, void* buffer, std::int32_t len) {
    if (cb == nullptr || cb->FileHandle == nullptr || len < 0 || (buffer == nullptr && len > 0))
        return -1;
    if (cb->BytesLeft <= 0) return -1;
    const LONG n = mmioRead(cb->FileHandle, buffer, std::min(len, cb->BytesLeft));
    if (n < 0) return -1;
    if (n < len) cb->BytesLeft = 0; // the end of the window
    if (n > 0) {
        cb->BytesLeft = std::max(cb->BytesLeft - n, 0);
        UpdateAfterRead(cb);
    }
    return n;
}

std::int32_t wioWaveReadDataDirect(PWAVEIOCB cb, void* buffer, std::int32_t len) {
    if (cb == nullptr || cb->FileHandle == nullptr || IsRaw(cb) || len < 0 ||
        (buffer == nullptr && len > 0))
        return -1;
    if (cb->BytesLeft <= 0) return -1;
    HMMIO h = cb->FileHandle;
    MMIOINFO info{};
    if (mmioGetInfo(h, &info, 0) != MMSYSERR_NOERROR) return -1;
    const std::int32_t want = std::min(len, cb->BytesLeft);
    auto* out = static_cast<char*>(buffer);
    std::int32_t done = 0;
    bool ended = false;
    while (done < want) {
        if (info.pchNext >= info.pchEndRead) {
            if (mmioAdvance(h, &info, MMIO_READ) != MMSYSERR_NOERROR) return -1;
            if (info.pchNext >= info.pchEndRead) {
                ended = true; // the file ends before the window does
                break;
            }
        }
        const auto n = static_cast<std::int32_t>(
            std::min<std::ptrdiff_t>(want - done, info.pchEndRead - info.pchNext));
        std::memcpy(out + done, info.pchNext, static_cast<std::size_t>(n));
        info.pchNext += n;
        done += n;
    }
    if (mmioSetInfo(h, &info, 0) != MMSYSERR_NOERROR || done == 0) return -1;
    cb->BytesLeft = ended ? 0 : cb->BytesLeft - done;
    UpdateAfterRead(cb);
    return done;
}

std::int32_t wioWaveReadSamples(PWAVEIOCB cb, void* buffer, std::int32_t count) {
    if (cb == nullptr || count <= 0) return -1;
    const std::int32_t n = wioWaveReadData(cb, buffer, wioSamplesToBytesEx(cb, count));
    return n > 0 ? wioBytesToSamplesEx(cb, n) : -1;
}

std::int32_t wioWaveWriteData(PWAVEIOCB cb, const void* buffer, std::int32_t len) {
    if (cb == nullptr || cb->FileHandle == nullptr || len <= 0 || buffer == nullptr || IsRaw(cb))
        return -1;
    const LONG n = mmioWrite(cb->FileHandle, buffer, len);
    if (n <= 0) return -1;
    UpdateAfterWrite(cb);
    return n;
}

std::int32_t wioWaveWriteDataDirect(PWAVEIOCB cb, const void* buffer, std::int32_t len) {
    if (cb == nullptr || cb->FileHandle == nullptr || len <= 0 || buffer == nullptr || IsRaw(cb))
        return -1;
    HMMIO h = cb->FileHandle;
    MMIOINFO info{};
    if (mmioGetInfo(h, &info, 0) != MMSYSERR_NOERROR) return -1;
    const auto* in = static_cast<const char*>(buffer);
    std::int32_t done = 0;
    while (done < len) {
        if (info.pchNext >= info.pchEndWrite) {
            info.dwFlags |= MMIO_DIRTY;
            if (mmioAdvance(h, &info, MMIO_WRITE) != MMSYSERR_NOERROR ||
                info.pchNext >= info.pchEndWrite)
                break;
        }
        const auto n = static_cast<std::int32_t>(
            std::min<std::ptrdiff_t>(len - done, info.pchEndWrite - info.pchNext));
        std::memcpy(info.pchNext, in + done, static_cast<std::size_t>(n));
        info.pchNext += n;
        info.dwFlags |= MMIO_DIRTY;
        done += n;
    }
    if (mmioSetInfo(h, &info, 0) != MMSYSERR_NOERROR || done == 0) return -1;
    UpdateAfterWrite(cb);
    return done;
}

std::int32_t wioWaveWriteSamples(PWAVEIOCB cb, const void* buffer, std::int32_t count) {
    if (cb == nullptr || count <= 0) return -1;
    const std::int32_t n = wioWaveWriteData(cb, buffer, wioSamplesToBytesEx(cb, count));
    return n > 0 ? wioBytesToSamplesEx(cb, n) : -1;
}

int wioWaveLoadFile(const char* fileName, TWaveFormatEx*& fmt, void*& data, std::int32_t& len) {
    fmt = nullptr;
    data = nullptr;
    len = 0;
    PWAVEIOCB cb = nullptr;
    if (int r = wioReadFileInfo(cb, fileName, kFormWAVE, WIO_DISKFILE); r != WIOERR_NOERROR)
        return r == WIOERR_NOMEM ? WIOERR_NOMEM : WIOERR_FILEERROR;
    auto fail = [&](int code) {
        wioWaveClose(cb);
        wioFreeFileInfo(cb);
        HeapFree(fmt);
        HeapFree(data);
        len = 0;
        return code;
    };
    fmt = wioCopyWaveFormat(&cb->Format);
    data = HeapAlloc(static_cast<std::size_t>(cb->DataBytes));
    if (fmt == nullptr || data == nullptr) return fail(WIOERR_NOMEM);
    if (wioWaveOpen(cb) != WIOERR_NOERROR) return fail(WIOERR_FILEERROR);
    const std::int32_t n = wioWaveReadData(cb, data, cb->DataBytes);
    if (n <= 0) return fail(WIOERR_FILEERROR);
    len = n;
    wioWaveClose(cb);
    wioFreeFileInfo(cb);
    return WIOERR_NOERROR;
}

int wioWaveSaveFile(const char* fileName, const TWaveFormatEx* fmt, const void* data,
                    std::int32_t len) {
    if (fileName == nullptr || fmt == nullptr) return WIOERR_BADPARAM;
    PWAVEIOCB cb = nullptr;
    if (int r = wioCreateFileInfo(cb, fmt); r != WIOERR_NOERROR) return r;
    if (int r = wioWriteFileInfo(cb, fileName); r != WIOERR_NOERROR) {
        wioFreeFileInfo(cb);
        return r;
    }
    // All of it, or the file is not kept: a short write is a full disk.
    int code = wioWaveWriteData(cb, data, len) == len ? WIOERR_NOERROR : WIOERR_FILEERROR;
    if (int r = wioWaveClose(cb); r != WIOERR_NOERROR) code = r;
    wioFreeFileInfo(cb);
    if (code != WIOERR_NOERROR) wioFileDelete(fileName);
    return code;
}

int wioWaveCopyUselessChunks(PWAVEIOCB src, PWAVEIOCB dst) {
    if (src == nullptr || dst == nullptr || src->FileHandle == nullptr ||
        dst->FileHandle == nullptr)
        return WIOERR_BADPARAM;
    HMMIO h = src->FileHandle;
    const auto start = static_cast<LONG>(src->RiffChunk.dwDataOffset + 4);
    if (mmioSeek(h, start, SEEK_SET) != start) return WIOERR_FILEERROR;
    const std::int64_t riffEnd = std::int64_t{src->RiffChunk.dwDataOffset} + src->RiffChunk.cksize;
    int code = WIOERR_NOERROR;
    MMCKINFO ck{};
    while (mmioDescend(h, &ck, &src->RiffChunk, 0) == MMSYSERR_NOERROR) {
        if (std::int64_t{ck.dwDataOffset} + ck.cksize > riffEnd) {
            code = WIOERR_FILEERROR;
            break;
        }
        if (ck.ckid != kCue && ck.ckid != kPlst) break;
        if (!RiffCopyChunk(h, dst->FileHandle, ck) || mmioAscend(h, &ck, 0) != MMSYSERR_NOERROR) {
            code = WIOERR_FILEERROR;
            break;
        }
    }
    mmioSeek(h, start, SEEK_SET);
    return code;
}

} // namespace lum
