// Buffered RIFF file I/O: the multimedia file calls of the original platform
// over disk files, memory images ("MEM ") and program resources ("RES ").
// Every call reports by a result code or a count and never throws. A handle
// is used by one thread at a time; different handles may be used at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio> // SEEK_SET, SEEK_CUR, SEEK_END
#include <memory>
#include <string>

#include "platform/base/bytestream.h"
#include "platform/base/wintypes.h"

namespace lum::platform::mmio {

using MMRESULT = UINT;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HPSTR = char*;
using HTASK = void*;

// An open buffered file. Opaque; only the calls below look inside.
using HMMIO = struct MMIOFILE__*;

// An installable I/O procedure. Only the built-in ones exist here; the type
// is kept so that the information record has the platform's fields.
using LPMMIOPROC = LRESULT (*)(char* lpmmioinfo, UINT uMsg, LPARAM lParam1, LPARAM lParam2);

// Result codes.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;

constexpr MMRESULT MMIOERR_BASE = 256;
constexpr MMRESULT MMIOERR_FILENOTFOUND = MMIOERR_BASE + 1;
constexpr MMRESULT MMIOERR_OUTOFMEMORY = MMIOERR_BASE + 2;
constexpr MMRESULT MMIOERR_CANNOTOPEN = MMIOERR_BASE + 3;
constexpr MMRESULT MMIOERR_CANNOTCLOSE = MMIOERR_BASE + 4;
constexpr MMRESULT MMIOERR_CANNOTREAD = MMIOERR_BASE + 5;
constexpr MMRESULT MMIOERR_CANNOTWRITE = MMIOERR_BASE + 6;
constexpr MMRESULT MMIOERR_CANNOTSEEK = MMIOERR_BASE + 7;
constexpr MMRESULT MMIOERR_CANNOTEXPAND = MMIOERR_BASE + 8;
constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = MMIOERR_BASE + 9;
constexpr MMRESULT MMIOERR_UNBUFFERED = MMIOERR_BASE + 10;
constexpr MMRESULT MMIOERR_PATHNOTFOUND = MMIOERR_BASE + 11;
constexpr MMRESULT MMIOERR_ACCESSDENIED = MMIOERR_BASE + 12;
constexpr MMRESULT MMIOERR_SHARINGVIOLATION = MMIOERR_BASE + 13;
constexpr MMRESULT MMIOERR_NETWORKERROR = MMIOERR_BASE + 14;
constexpr MMRESULT MMIOERR_TOOMANYOPENFILES = MMIOERR_BASE + 15;
constexpr MMRESULT MMIOERR_INVALIDFILE = MMIOERR_BASE + 16;

// mmioOpen flags. The sharing modes are accepted and have no effect here.
constexpr DWORD MMIO_RWMODE = 0x00000003;
constexpr DWORD MMIO_SHAREMODE = 0x00000070;
constexpr DWORD MMIO_READ = 0x00000000;
constexpr DWORD MMIO_WRITE = 0x00000001;
constexpr DWORD MMIO_READWRITE = 0x00000002;
constexpr DWORD MMIO_COMPAT = 0x00000000;
constexpr DWORD MMIO_EXCLUSIVE = 0x00000010;
constexpr DWORD MMIO_DENYWRITE = 0x00000020;
constexpr DWORD MMIO_DENYREAD = 0x00000030;
constexpr DWORD MMIO_DENYNONE = 0x00000040;
constexpr DWORD MMIO_CREATE = 0x00001000;
constexpr DWORD MMIO_PARSE = 0x00000100;
constexpr DWORD MMIO_DELETE = 0x00000200;
constexpr DWORD MMIO_EXIST = 0x00004000;
constexpr DWORD MMIO_ALLOCBUF = 0x00010000;
constexpr DWORD MMIO_GETTEMP = 0x00020000;
// In MMIOINFO and MMCKINFO: the buffer or the chunk holds unwritten changes.
constexpr DWORD MMIO_DIRTY = 0x10000000;

// Flags of the other calls.
constexpr UINT MMIO_FHOPEN = 0x0010;     // mmioClose
constexpr UINT MMIO_EMPTYBUF = 0x0010;   // mmioFlush
constexpr UINT MMIO_TOUPPER = 0x0010;    // mmioStringToFOURCC
constexpr UINT MMIO_FINDCHUNK = 0x0010;  // mmioDescend
constexpr UINT MMIO_FINDRIFF = 0x0020;   // mmioDescend
constexpr UINT MMIO_FINDLIST = 0x0040;   // mmioDescend
constexpr UINT MMIO_CREATERIFF = 0x0020; // mmioCreateChunk
constexpr UINT MMIO_CREATELIST = 0x0040; // mmioCreateChunk
// mmioAdvance: MMIO_READ (0) fills the buffer, MMIO_WRITE (1) writes it out.

constexpr LONG MMIO_DEFAULTBUFFER = 8192;
// The name buffer that MMIO_PARSE writes into holds this many characters
// (with the terminating zero) unless the caller says otherwise.
constexpr std::size_t MMIO_MAXPATH = 260;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return MakeFourCC(a, b, c, d);
}

constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC FOURCC_DOS = mmioFOURCC('D', 'O', 'S', ' ');
constexpr FOURCC FOURCC_MEM = mmioFOURCC('M', 'E', 'M', ' ');
// Our own I/O procedure code: the name is a program resource, "type/name"
// or just "name" for type "WAVE". Resources open read-only.
constexpr FOURCC FOURCC_RES = mmioFOURCC('R', 'E', 'S', ' ');

// The buffered-file information record, with the platform's fields in the
// platform's order. On the 32-bit platform it is 72 bytes; here the pointer
// and handle fields stay pointers, so on x86-64 it is 112 bytes. Code that
// copies "the 72-byte description" must copy sizeof(MMIOINFO) instead.
//
// For "MEM " files pchBuffer and cchBuffer describe the image and
// adwInfo[0] is the grow increment (0: the image cannot grow, and writing
// past its end fails). After mmioGetInfo, pchNext..pchEndRead are bytes that
// may be read directly and pchNext..pchEndWrite bytes that may be written
// (then set MMIO_DIRTY in dwFlags); mmioAdvance moves the window and
// mmioSetInfo hands the position back.
struct MMIOINFO {
    DWORD dwFlags;
    FOURCC fccIOProc;
    LPMMIOPROC pIOProc;
    UINT wErrorRet;
    HTASK htask;
    LONG cchBuffer;
    HPSTR pchBuffer;
    HPSTR pchNext;
    HPSTR pchEndRead;
    HPSTR pchEndWrite;
    LONG lBufOffset;
    LONG lDiskOffset;
    DWORD adwInfo[3];
    DWORD dwReserved1;
    DWORD dwReserved2;
    HMMIO hmmio;
};
static_assert(sizeof(void*) != 4 || sizeof(MMIOINFO) == 72);
static_assert(sizeof(void*) != 8 || sizeof(MMIOINFO) == 112);

// A chunk: identifier, size of the body (without header and pad byte), form
// type of a RIFF or LIST chunk, file offset of the body (for RIFF and LIST
// that is where the form type is) and MMIO_DIRTY for a chunk being written.
struct MMCKINFO {
    FOURCC ckid;
    DWORD cksize;
    FOURCC fccType;
    DWORD dwDataOffset;
    DWORD dwFlags;
};
static_assert(sizeof(MMCKINFO) == 20);

// Opens a file, or with MMIO_PARSE, MMIO_EXIST or MMIO_DELETE acts on a name
// and returns a non-null value that is not a handle (do not close it) on
// success. Null on failure, with the reason in lpmmioinfo->wErrorRet when a
// record is given. Only wErrorRet of the record is written.
//
// Disk files are unbuffered unless MMIO_ALLOCBUF (cchBuffer bytes, default
// 8192) or a caller buffer (pchBuffer, cchBuffer) is given. MMIO_CREATE
// truncates or makes the file; on a memory image it starts the image empty.
// MMIO_PARSE writes the full path back into szFilename, which must hold
// cchFilename characters; a longer path fails with MMSYSERR_INVALPARAM.
HMMIO mmioOpen(char* szFilename, MMIOINFO* lpmmioinfo, DWORD dwOpenFlags,
               std::size_t cchFilename = MMIO_MAXPATH);
// The same for names that must not be written back (MMIO_PARSE then fails).
HMMIO mmioOpen(const char* szFilename, MMIOINFO* lpmmioinfo, DWORD dwOpenFlags);
HMMIO mmioOpen(std::nullptr_t, MMIOINFO* lpmmioinfo, DWORD dwOpenFlags);
// MMIO_PARSE replaces the string by the full path, of any length.
HMMIO mmioOpen(std::string& filename, MMIOINFO* lpmmioinfo, DWORD dwOpenFlags);

// Opens any byte stream as a buffered file (fuzz input, test doubles). The
// read/write mode and the buffer come from the flags and the record as for
// a disk file; a write mode on a read-only stream fails.
HMMIO mmioOpenStream(std::unique_ptr<ByteStream> stream, MMIOINFO* lpmmioinfo, DWORD dwOpenFlags);

// Writes out the buffer and closes. The handle is gone even when the final
// write fails (MMIOERR_CANNOTWRITE).
MMRESULT mmioClose(HMMIO hmmio, UINT wFlags);

// Bytes read (short at the end of the file, 0 past it), or -1.
LONG mmioRead(HMMIO hmmio, void* pch, LONG cch);
// Bytes written, or -1 when nothing could be written. A memory image that
// cannot grow takes what fits and returns that count.
LONG mmioWrite(HMMIO hmmio, const void* pch, LONG cch);
// The new position, or -1. SEEK_SET, SEEK_CUR or SEEK_END. Disk files may
// be positioned past their end; memory images only up to their capacity
// (read-only images: their end).
LONG mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin);

MMRESULT mmioGetInfo(HMMIO hmmio, MMIOINFO* lpmmioinfo, UINT wFlags);
// Takes back pchNext, MMIO_DIRTY and adwInfo from a record of mmioGetInfo.
MMRESULT mmioSetInfo(HMMIO hmmio, const MMIOINFO* lpmmioinfo, UINT wFlags);
// Moves the I/O buffer on to the position pchNext of the record: writes it
// out first when dirty; with MMIO_READ fills it from the file (at the end
// of the file pchNext equals pchEndRead and the result is still 0); with
// MMIO_WRITE on a memory image grows the image or fails with
// MMIOERR_CANNOTEXPAND. The record is refreshed.
MMRESULT mmioAdvance(HMMIO hmmio, MMIOINFO* lpmmioinfo, UINT wFlags);
MMRESULT mmioFlush(HMMIO hmmio, UINT wFlags);
// Replaces the I/O buffer of a disk file: cchBuffer 0 makes it unbuffered,
// pchBuffer null with cchBuffer > 0 allocates one. Not for memory images.
MMRESULT mmioSetBuffer(HMMIO hmmio, char* pchBuffer, LONG cchBuffer, UINT wFlags);

// Finds a chunk from the current position: the next one (no flag), one of
// identifier ck->ckid (MMIO_FINDCHUNK), or a RIFF or LIST chunk of form type
// ck->fccType (MMIO_FINDRIFF, MMIO_FINDLIST; form type 0 takes any). With a
// parent the search stays inside the parent's body. On success the position
// is at the body (after the form type); a chunk's claimed size is reported
// as it stands, even when larger than its parent or the file. On failure the
// position is where the search started.
MMRESULT mmioDescend(HMMIO hmmio, MMCKINFO* lpck, const MMCKINFO* lpckParent, UINT wFlags);
// Leaves a chunk: for a dirty chunk (every created one) writes the size as
// measured from the body to the current position and a zero pad byte after
// an odd body; then goes to the end of the chunk and its pad byte, but
// never past the end of the file.
MMRESULT mmioAscend(HMMIO hmmio, MMCKINFO* lpck, UINT wFlags);
// Writes a chunk header at the current position (with the form type for
// MMIO_CREATERIFF and MMIO_CREATELIST) and marks the chunk dirty.
MMRESULT mmioCreateChunk(HMMIO hmmio, MMCKINFO* lpck, UINT wFlags);

// The first four characters of a string, padded with spaces; upper-cased
// only with MMIO_TOUPPER.
FOURCC mmioStringToFOURCC(const char* sz, UINT uFlags);

} // namespace lum::platform::mmio
