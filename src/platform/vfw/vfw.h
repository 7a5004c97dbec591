// The video service: video files and their streams, under the calls,
// records and result codes the library was written against. Files and
// streams are reference-counted service objects; every call returns 0 or an
// AVIERR_* code. File handlers are chosen by content: AVI (RIFF "AVI " with
// OpenDML extensions), WAV and AU first, then, read-only, every other
// container libavformat demuxes (MP4, MOV, MKV, WebM, MPEG-TS, ...). Files
// opened with OF_CREATE are written as AVI, with OpenDML indexes once they
// pass 1 GB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/bytestream.h"
#include "platform/base/wintypes.h"

namespace lum::platform::vfw {

using ULONG = std::uint32_t;

// The file description record (108 bytes).
struct AVIFILEINFO {
    DWORD dwMaxBytesPerSec;
    DWORD dwFlags;
    DWORD dwCaps;
    DWORD dwStreams;
    DWORD dwSuggestedBufferSize;
    DWORD dwWidth;
    DWORD dwHeight;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwLength;
    DWORD dwEditCount;
    char szFileType[64];
};

// The stream description record (140 bytes), in the platform's field order.
struct AVISTREAMINFO {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwCaps;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    RECT rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];
};

static_assert(sizeof(AVIFILEINFO) == 108);
static_assert(sizeof(AVISTREAMINFO) == 140);
static_assert(offsetof(AVISTREAMINFO, dwScale) == 20);
static_assert(offsetof(AVISTREAMINFO, rcFrame) == 52);
static_assert(offsetof(AVISTREAMINFO, szName) == 76);

// Result codes.
constexpr HRESULT MakeAviErr(unsigned n) {
    return static_cast<HRESULT>(0x80044000u + n);
}
constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT AVIERR_UNSUPPORTED = MakeAviErr(101);
constexpr HRESULT AVIERR_BADFORMAT = MakeAviErr(102);
constexpr HRESULT AVIERR_MEMORY = MakeAviErr(103);
constexpr HRESULT AVIERR_INTERNAL = MakeAviErr(104);
constexpr HRESULT AVIERR_BADFLAGS = MakeAviErr(105);
constexpr HRESULT AVIERR_BADPARAM = MakeAviErr(106);
constexpr HRESULT AVIERR_BADSIZE = MakeAviErr(107);
constexpr HRESULT AVIERR_BADHANDLE = MakeAviErr(108);
constexpr HRESULT AVIERR_FILEREAD = MakeAviErr(109);
constexpr HRESULT AVIERR_FILEWRITE = MakeAviErr(110);
constexpr HRESULT AVIERR_FILEOPEN = MakeAviErr(111);
constexpr HRESULT AVIERR_COMPRESSOR = MakeAviErr(112);
constexpr HRESULT AVIERR_NOCOMPRESSOR = MakeAviErr(113);
constexpr HRESULT AVIERR_READONLY = MakeAviErr(114);
constexpr HRESULT AVIERR_NODATA = MakeAviErr(115);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = MakeAviErr(116);
constexpr HRESULT AVIERR_CANTCOMPRESS = MakeAviErr(117);
constexpr HRESULT AVIERR_USERABORT = MakeAviErr(198);
constexpr HRESULT AVIERR_ERROR = MakeAviErr(199);

// Open modes of AVIFileOpen: one share flag, one access value, OF_CREATE.
constexpr UINT OF_READ = 0x0000;
constexpr UINT OF_WRITE = 0x0001;
constexpr UINT OF_READWRITE = 0x0002;
constexpr UINT OF_SHARE_COMPAT = 0x0000;
constexpr UINT OF_SHARE_EXCLUSIVE = 0x0010;
constexpr UINT OF_SHARE_DENY_WRITE = 0x0020;
constexpr UINT OF_SHARE_DENY_READ = 0x0030;
constexpr UINT OF_SHARE_DENY_NONE = 0x0040;
constexpr UINT OF_CREATE = 0x1000;

// Stream type codes.
constexpr FOURCC streamtypeVIDEO = MakeFourCC("vids");
constexpr FOURCC streamtypeAUDIO = MakeFourCC("auds");
constexpr FOURCC streamtypeTEXT = MakeFourCC("txts");
constexpr FOURCC streamtypeMIDI = MakeFourCC("mids");

// Extra data chunks of a stream.
constexpr FOURCC ckidSTREAMHANDLERDATA = MakeFourCC("strd");
constexpr FOURCC ckidSTREAMNAME = MakeFourCC("strn");

// AVIStreamFindSample flags: a direction, a kind, and what to return.
constexpr LONG FIND_DIR = 0x000F;
constexpr LONG FIND_NEXT = 0x0001;
constexpr LONG FIND_PREV = 0x0004;
constexpr LONG FIND_FROM_START = 0x0008;
constexpr LONG FIND_TYPE = 0x00F0;
constexpr LONG FIND_KEY = 0x0010;
constexpr LONG FIND_ANY = 0x0020;
constexpr LONG FIND_FORMAT = 0x0040;
constexpr LONG FIND_RET = 0xF000;
constexpr LONG FIND_POS = 0x0000;
constexpr LONG FIND_LENGTH = 0x1000;
constexpr LONG FIND_OFFSET = 0x2000;
constexpr LONG FIND_SIZE = 0x3000;
constexpr LONG FIND_INDEX = 0x4000;

// AVIStreamWrite flags.
constexpr DWORD AVIIF_LIST = 0x0001;
constexpr DWORD AVIIF_KEYFRAME = 0x0010;
constexpr DWORD AVIIF_NOTIME = 0x0100;

// AVIStreamRead: as many samples as are convenient.
constexpr LONG AVISTREAMREAD_CONVENIENT = -1;

// AVIFILEINFO flags and capabilities.
constexpr DWORD AVIFILEINFO_HASINDEX = 0x00000010;
constexpr DWORD AVIFILEINFO_MUSTUSEINDEX = 0x00000020;
constexpr DWORD AVIFILEINFO_ISINTERLEAVED = 0x00000100;
constexpr DWORD AVIFILEINFO_WASCAPTUREFILE = 0x00010000;
constexpr DWORD AVIFILEINFO_COPYRIGHTED = 0x00020000;
constexpr DWORD AVIFILECAPS_CANREAD = 0x0001;
constexpr DWORD AVIFILECAPS_CANWRITE = 0x0002;
constexpr DWORD AVIFILECAPS_ALLKEYFRAMES = 0x0010;
constexpr DWORD AVIFILECAPS_NOCOMPRESSION = 0x0020;

// AVISTREAMINFO flags.
constexpr DWORD AVISTREAMINFO_DISABLED = 0x00000001;
constexpr DWORD AVISTREAMINFO_FORMATCHANGES = 0x00010000;

// A stream of a video file. Positions are sample numbers, from dwStart.
// Service objects are released, never deleted: the last Release frees them.
class IAVIStream {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT Info(AVISTREAMINFO* info, LONG size) = 0;
    virtual LONG FindSample(LONG pos, LONG flags) = 0;
    virtual HRESULT ReadFormat(LONG pos, void* format, LONG* size) = 0;
    virtual HRESULT SetFormat(LONG pos, const void* format, LONG size) = 0;
    virtual HRESULT Read(LONG start, LONG samples, void* buffer, LONG buffer_size, LONG* bytes,
                         LONG* samples_read) = 0;
    virtual HRESULT Write(LONG start, LONG samples, const void* buffer, LONG size, DWORD flags,
                          LONG* samples_written, LONG* bytes_written) = 0;
    virtual HRESULT Delete(LONG start, LONG samples) = 0;
    virtual HRESULT ReadData(FOURCC id, void* data, LONG* size) = 0;
    virtual HRESULT WriteData(FOURCC id, const void* data, LONG size) = 0;
    virtual HRESULT SetInfo(const AVISTREAMINFO* info, LONG size) = 0;

protected:
    virtual ~IAVIStream() = default;
};

// A video file: a list of streams plus file-level extra data.
class IAVIFile {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT Info(AVIFILEINFO* info, LONG size) = 0;
    virtual HRESULT GetStream(IAVIStream** stream, FOURCC type, LONG index) = 0;
    virtual HRESULT CreateStream(IAVIStream** stream, const AVISTREAMINFO* info) = 0;
    virtual HRESULT WriteData(FOURCC id, const void* data, LONG size) = 0;
    virtual HRESULT ReadData(FOURCC id, void* data, LONG* size) = 0;
    virtual HRESULT EndRecord() = 0;
    virtual HRESULT DeleteStream(FOURCC type, LONG index) = 0;

protected:
    virtual ~IAVIFile() = default;
};

using PAVIFILE = IAVIFile*;
using PAVISTREAM = IAVIStream*;

// Service start and end. Calls made without AVIFileInit work too; the last
// AVIFileExit clears the video clipboard.
void AVIFileInit();
void AVIFileExit();

// Opens or creates a file. Mode: share flag | access | OF_CREATE. The file
// comes back holding one reference. Fails with AVIERR_FILEOPEN when the file
// cannot be opened or another open's share mode forbids this one, with
// AVIERR_UNSUPPORTED when no handler recognises the content, and with
// AVIERR_READONLY when write access is asked of a container that is only
// read. Handler is accepted for the platform's signature and ignored.
HRESULT AVIFileOpen(PAVIFILE* file, const std::string& path, UINT mode,
                    const void* handler = nullptr);
// Opens a file handler over a byte stream (a memory image, fuzz input). With
// OF_CREATE the stream is emptied and written as AVI. No share locks apply.
HRESULT AVIFileOpenStream(PAVIFILE* file, std::unique_ptr<ByteStream> stream, UINT mode);
ULONG AVIFileAddRef(PAVIFILE file);
ULONG AVIFileRelease(PAVIFILE file);
HRESULT AVIFileInfo(PAVIFILE file, AVIFILEINFO* info, LONG size);
// The Index-th stream of Type (0: any type), with a reference.
// AVIERR_NODATA past the last one.
HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, FOURCC type, LONG index);
HRESULT AVIFileCreateStream(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFO* info);
HRESULT AVIFileReadData(PAVIFILE file, FOURCC id, void* data, LONG* size);
HRESULT AVIFileWriteData(PAVIFILE file, FOURCC id, const void* data, LONG size);
HRESULT AVIFileEndRecord(PAVIFILE file);

ULONG AVIStreamAddRef(PAVISTREAM stream);
ULONG AVIStreamRelease(PAVISTREAM stream);
HRESULT AVIStreamInfo(PAVISTREAM stream, AVISTREAMINFO* info, LONG size);
// With no buffer, Size receives the format's size.
HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG pos, void* format, LONG* size);
HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG pos, const void* format, LONG size);
// With no buffer, Bytes receives the byte size of the samples asked for.
HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG samples, void* buffer, LONG buffer_size,
                      LONG* bytes, LONG* samples_read);
HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, const void* buffer, LONG size,
                       DWORD flags, LONG* samples_written, LONG* bytes_written);
HRESULT AVIStreamReadData(PAVISTREAM stream, FOURCC id, void* data, LONG* size);
HRESULT AVIStreamWriteData(PAVISTREAM stream, FOURCC id, const void* data, LONG size);
// Positions and times; -1 on failure.
LONG AVIStreamStart(PAVISTREAM stream);
LONG AVIStreamLength(PAVISTREAM stream);
LONG AVIStreamSampleToTime(PAVISTREAM stream, LONG sample);
LONG AVIStreamTimeToSample(PAVISTREAM stream, LONG ms);
LONG AVIStreamFindSample(PAVISTREAM stream, LONG pos, LONG flags);
// Opens the Index-th stream of Type of a file; the stream keeps its file.
HRESULT AVIStreamOpenFromFile(PAVISTREAM* stream, const std::string& path, FOURCC type, LONG index,
                              UINT mode, const void* handler = nullptr);

// Frame decoders. A decoder turns the samples of a video stream into
// uncompressed packed DIBs (header, colour table or masks, pixels in one
// global-heap block). The DIB a call returns belongs to the decoder and is
// valid until its next call or until it is closed. Positions count frames in
// presentation order from the stream's start: a delta codec is decoded from
// the nearest key frame at or before the frame, and frames a B-frame codec
// stores out of order come back at their own position. An empty sample (a
// dropped frame) shows the frame before it.
struct GetFrameStats {
    std::uint64_t frames_decoded = 0;   // pictures the codec produced
    std::uint64_t frames_converted = 0; // pictures written into the output DIB
    std::uint64_t restarts = 0;         // decodes started again at a key frame
    std::uint64_t read_ahead = 0;       // frames a second decoder made ahead of time
};

class IGetFrame {
public:
    virtual ~IGetFrame() = default;
    // The packed DIB of the frame at Pos, or null.
    virtual void* GetFrame(LONG pos) = 0;
    virtual GetFrameStats Stats() const = 0;
};
using PGETFRAME = IGetFrame*;

// The request "the decoder's best format for display": 24 bits bottom-up,
// or the source's own format when it is uncompressed.
inline const BITMAPINFOHEADER* const AVIGETFRAMEF_BESTDISPLAYFMT =
    reinterpret_cast<const BITMAPINFOHEADER*>(std::uintptr_t{1});

// Opens a decoder for Wanted (null or AVIGETFRAMEF_BESTDISPLAYFMT: the best
// display format). Wanted may ask for uncompressed 16, 24 or 32 bits in
// either orientation (bit-field masks follow the header), or for an indexed
// depth when the source itself is indexed; zero width or height mean the
// source's. Null when no codec for the stream exists or the format cannot be
// produced. The decoder holds a reference on the stream.
PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, const BITMAPINFOHEADER* wanted);
void* AVIStreamGetFrame(PGETFRAME decoder, LONG pos);
HRESULT AVIStreamGetFrameClose(PGETFRAME decoder);
// The decoder a frame decoder opened on a video stream would use:
// "built-in" for uncompressed and RLE frames, otherwise libavcodec's name
// for its decoder ("h264"); empty when there is none.
std::string AVIStreamDecoderName(PAVISTREAM stream);

// Compression options of a stream, as the options dialog fills them.
struct AVICOMPRESSOPTIONS {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwKeyFrameEvery;
    DWORD dwQuality;
    DWORD dwBytesPerSecond;
    DWORD dwFlags;
    void* lpFormat;
    DWORD cbFormat;
    void* lpParms;
    DWORD cbParms;
    DWORD dwInterleaveEvery;
};

// A stream over Source with the options' compressor (compress.h): reading
// it gives Source's frames compressed; frames written to it are compressed
// into Source. Audio options with another format convert the audio.
HRESULT AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                                const AVICOMPRESSOPTIONS* options, const void* clsid_handler);

// The video clipboard of this program: one file, held with a reference.
HRESULT AVIPutFileOnClipboard(PAVIFILE file);
HRESULT AVIGetFromClipboard(PAVIFILE* file);
HRESULT AVIClearClipboard();

} // namespace lum::platform::vfw
