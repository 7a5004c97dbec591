// Wave file input and output: the library's only reader and writer of
// RIFF/WAVE files, on disk, in memory images and in program resources, plus
// headerless (raw) files with a format given by the caller. One control
// block (TWAVEIOCB, a global-heap block) describes a file; it is made by
// wioReadFileInfo and its builders or by wioCreateFileInfo, opened for
// streaming by wioWaveOpen (reading) or wioWriteFileInfo (writing), closed
// by wioWaveClose and freed by wioFreeFileInfo. A block is used by one
// thread at a time.
//
// Nothing here raises: statuses are the WIOERR_ codes (or the 3 and 4 of
// the INFO and DISP readers, passed on), streaming calls return counts or
// -1, and the arithmetic gives 0 for a format it cannot divide by. Files of
// 2 GiB or more are refused, since offsets and counts are 32-bit.
#pragma once

#include <cstdint>
#include <string>

#include "audio/lumregs.h"
#include "audio/lumriff.h"
#include "platform/mmio/mmio.h"

namespace lum {

// Result codes.
constexpr int WIOERR_NOERROR = 0;
constexpr int WIOERR_ERROR = 101;     // no usable format chunk; a copy or buffer size refused
constexpr int WIOERR_BADPARAM = 104;  // missing block, format or name; index out of range
constexpr int WIOERR_FILEERROR = 106; // open, seek, read, write or chunk failed; not RIFF/WAVE
constexpr int WIOERR_NOMEM = 107;

// How a control block reaches its file (TWAVEIOCB.OpenFlags).
constexpr DWORD WIO_DISKFILE = 1; // buffered file on disk
constexpr DWORD WIO_RESOURCE = 2; // program resource of type "WAVE"
constexpr DWORD WIO_MEMORY = 4;   // memory image: the name points to an MMIOINFO
constexpr DWORD WIO_INFOONLY = 8; // read the INFO and DISP data only
constexpr DWORD WIO_RAWFILE = 16; // headerless samples through plain file access

constexpr FOURCC kFormWAVE = platform::MakeFourCC("WAVE");

// The control block of one wave file. Format comes last and is followed by
// its cbSize extra bytes and one spare byte.
struct TWAVEIOCB {
    std::int32_t BlockSize; // allocated bytes of this block
    DWORD OpenFlags;        // WIO_*
    HMMIO FileHandle;       // null while closed (raw files too go through mmio)
    MMCKINFO RiffChunk;
    MMCKINFO DataChunk; // MMIO_DIRTY in dwFlags once data was written
    DWORD ResourceHandle;
    DWORD FileSize;
    std::int32_t DataBytes;
    std::int32_t DataOffset;
    std::int32_t SampleCount;
    std::int32_t FirstSample; // the read window, LastSample exclusive
    std::int32_t LastSample;
    std::int32_t BytesLeft; // still to read in the window
    std::int32_t Position;  // sample, relative to FirstSample
    char* FileName;         // global-heap string; for memory images an MMIOINFO copy
    TDispList* DispList;
    TInfoChunk* InfoChunk;
    double ByteRate; // when not 0, replaces nAvgBytesPerSec in the Ex conversions
    TWaveFormatEx Format;
};
using PWAVEIOCB = TWAVEIOCB*;

// ---------------------------------------------------------------------------
// Formats

// 0 for no format, 18 for PCM (whatever cbSize says), else 18 + cbSize.
std::int32_t wioSizeOfWaveFormat(const TWaveFormatEx* fmt);
// A global-heap copy of that size (cbSize 0 for PCM); null for no format or
// no memory.
TWaveFormatEx* wioCopyWaveFormat(const TWaveFormatEx* fmt);

// Conversions, all rounding to nearest with halves away from zero; byte
// results are rounded up to whole blocks of nBlockAlign.
std::int32_t wioBytesToSamples(const TWaveFormatEx* fmt, std::int32_t bytes);
std::int32_t wioBytesToTime(const TWaveFormatEx* fmt, std::int32_t bytes);
std::int32_t wioSamplesToBytes(const TWaveFormatEx* fmt, std::int32_t samples);
std::int32_t wioSamplesToTime(const TWaveFormatEx* fmt, std::int32_t samples);
std::int32_t wioTimeToSamples(const TWaveFormatEx* fmt, std::int32_t ms);
std::int32_t wioTimeToBytes(const TWaveFormatEx* fmt, std::int32_t ms);
std::int32_t wioBytesPerSample(const TWaveFormatEx* fmt);

// The same in 64 bits; these truncate.
std::int64_t wioBytesToSamples64(const TWaveFormatEx* fmt, std::int64_t bytes);
std::int64_t wioBytesToTime64(const TWaveFormatEx* fmt, std::int64_t bytes);
std::int64_t wioSamplesToBytes64(const TWaveFormatEx* fmt, std::int64_t samples);
std::int64_t wioSamplesToTime64(const TWaveFormatEx* fmt, std::int64_t samples);
std::int64_t wioTimeToSamples64(const TWaveFormatEx* fmt, std::int64_t ms);
std::int64_t wioTimeToBytes64(const TWaveFormatEx* fmt, std::int64_t ms);

// On a control block's format; with a ByteRate set they compute in real
// arithmetic and round to nearest, ties to even.
std::int32_t wioBytesToSamplesEx(const TWAVEIOCB* cb, std::int32_t bytes);
std::int32_t wioBytesToTimeEx(const TWAVEIOCB* cb, std::int32_t bytes);
std::int32_t wioSamplesToBytesEx(const TWAVEIOCB* cb, std::int32_t samples);
std::int32_t wioSamplesToTimeEx(const TWAVEIOCB* cb, std::int32_t samples);
std::int32_t wioTimeToSamplesEx(const TWAVEIOCB* cb, std::int32_t ms);
std::int32_t wioTimeToBytesEx(const TWAVEIOCB* cb, std::int32_t ms);

// The name of the format tag ("IMA ADPCM"); "Unknown" for none.
void wioGetFormatName(const TWaveFormatEx* fmt, std::string& text);
// One line: "44.100 kHz, 16 Bit, Stereo". The separators are the list and
// decimal separators of the user's international settings (registry key
// "Control Panel\International", values sList and sDecimal), "," and "."
// when none are set.
void wioGetFormat(const TWaveFormatEx* fmt, std::string& text);

// ---------------------------------------------------------------------------
// File helpers

bool wioGetFullPathName(std::string& name);
bool wioFileExists(const char* name);
bool wioFileDelete(const char* name);
// Cuts Buffer back to just after its last "/"; returns the length left.
std::int32_t wioExtractPath(std::string& buffer);
// A new temporary file "w<number>.tmp" in Buffer's folder (the temporary
// folder when Buffer is empty); Buffer receives its full name. The file is
// created exclusively and left in place, empty, as a reservation of the
// name: writing it truncates it, and the caller deletes it.
bool wioFileCreateTemp(std::string& buffer);

// ---------------------------------------------------------------------------
// Opening and describing

// Opens by Flags (resource, memory description or disk file; a disk file
// that cannot be written opens for reading) and descends into the first
// chunk, which must be RIFF of form type FormType.
int wioFileOpen(HMMIO& handle, MMCKINFO& ck, DWORD& resHandle, DWORD flags, FOURCC formType,
                const char* name);
void wioFileClose(HMMIO& handle, DWORD& resHandle);

// A control block for the file, which is closed again. On failure Cb is
// null. A format whose channels, rate, block align or byte rate are 0 (or
// do not fit 31 bits) gives WIOERR_ERROR.
int wioReadFileInfo(PWAVEIOCB& cb, const char* name, FOURCC formType, DWORD flags);
// A new block for writing a file of format Fmt, with empty INFO and DISP.
int wioCreateFileInfo(PWAVEIOCB& cb, const TWaveFormatEx* fmt);
// Copies the INFO and DISP values of Src into Dst.
int wioCopyFileInfo(PWAVEIOCB dst, PWAVEIOCB src);
// A block over the Len bytes at Data, which must outlive the block.
int wioBuildFileInfoFromMem(PWAVEIOCB& cb, const void* data, std::int32_t len);
int wioBuildFileInfoFromResource(PWAVEIOCB& cb, const char* resourceName);
// A block over a headerless file: HeaderBytes are skipped, the rest are
// samples of format Fmt, cut to whole blocks.
int wioBuildFileInfoFromRAWEx(PWAVEIOCB& cb, const char* fileName, std::int32_t headerBytes,
                              const TWaveFormatEx* fmt);
int wioBuildFileInfoFromRAW(PWAVEIOCB& cb, const char* fileName, std::int32_t headerBytes,
                            int bitsPerSample, int channels, std::int32_t samplesPerSec);
// Creates the file and leaves the block open for writing its samples.
int wioWriteFileInfo(PWAVEIOCB& cb, const char* fileName);
int wioFreeFileInfo(PWAVEIOCB& cb);
bool wioIsWaveFile(const char* fileName, DWORD flags);
int wioSetIOBufferSize(PWAVEIOCB cb, std::int32_t size);

// ---------------------------------------------------------------------------
// Streaming

// Opens the file for reading (if it is not open) at the current Position.
int wioWaveOpen(PWAVEIOCB cb);
// Finishes a written file (sizes, "fact", DISP, INFO) and closes.
int wioWaveClose(PWAVEIOCB cb);
int wioWaveSetFirstSample(PWAVEIOCB cb, std::int32_t n);
int wioWaveSetLastSample(PWAVEIOCB cb, std::int32_t n);
int wioWaveSetPosition(PWAVEIOCB cb, std::int32_t n);
// Bytes read from the window (never past the data chunk), or -1 when
// nothing was left.
std::int32_t wioWaveReadData(PWAVEIOCB cb, void* buffer, std::int32_t len);
// The same through the I/O buffer of the file service (not for raw files).
std::int32_t wioWaveReadDataDirect(PWAVEIOCB cb, void* buffer, std::int32_t len);
std::int32_t wioWaveReadSamples(PWAVEIOCB cb, void* buffer, std::int32_t count);
std::int32_t wioWaveWriteData(PWAVEIOCB cb, const void* buffer, std::int32_t len);
std::int32_t wioWaveWriteDataDirect(PWAVEIOCB cb, const void* buffer, std::int32_t len);
std::int32_t wioWaveWriteSamples(PWAVEIOCB cb, const void* buffer, std::int32_t count);

// A whole wave file in two new global-heap blocks (the format with its
// extra bytes, and the samples); on failure both are null.
int wioWaveLoadFile(const char* fileName, TWaveFormatEx*& fmt, void*& data, std::int32_t& len);
// Writes Len bytes of format Fmt as a new wave file; a failed file is
// deleted.
int wioWaveSaveFile(const char* fileName, const TWaveFormatEx* fmt, const void* data,
                    std::int32_t len);
// Copies the "cue " and "plst" chunks that follow Src's form type into Dst.
int wioWaveCopyUselessChunks(PWAVEIOCB src, PWAVEIOCB dst);

} // namespace lum
