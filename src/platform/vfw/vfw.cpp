// The service's calls: opening files (choosing the handler by content,
// taking the share locks), and the thin wrappers over file and stream
// objects, with the checks the platform makes on handles and sizes.
#include "platform/vfw/vfw.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include "platform/vfw/handler.h"
#include "platform/vfw/riff.h"
#include "platform/vfw/sharelock.h"
#include "platform/vfw/timeline.h"

namespace lum::platform::vfw {

namespace {

std::mutex g_mutex;
int g_init_count = 0;
PAVIFILE g_clipboard = nullptr;

bool ValidMode(UINT mode) {
    if ((mode & 0x3) == 0x3) return false;
    UINT share = mode & 0x70;
    return share == 0 || share == OF_SHARE_EXCLUSIVE || share == OF_SHARE_DENY_WRITE ||
           share == OF_SHARE_DENY_READ || share == OF_SHARE_DENY_NONE;
}

HRESULT OpenByContent(std::unique_ptr<ByteStream> io, UINT mode, const std::string& name,
                      PAVIFILE* file) {
    bool write_access = (mode & 0x3) != OF_READ;
    if (mode & OF_CREATE) {
        if (!io->Writable() || !io->Truncate(0)) return AVIERR_FILEWRITE;
        return CreateAviFile(io, file);
    }
    std::uint8_t head[12] = {};
    io->ReadAt(0, head, sizeof head);
    FOURCC kind = GetLE32(head + 8);
    if (GetLE32(head) == kRIFF && kind == MakeFourCC("AVI "))
        return OpenAviFile(io, write_access, file);
    if (GetLE32(head) == kRIFF && kind == MakeFourCC("WAVE"))
        return OpenWaveFile(io, write_access, file);
    if (GetBE32(head) == 0x2E736E64) return OpenAuFile(io, write_access, file);
    return OpenLavfFile(io, write_access, name, file);
}

__int128 FloorDiv(__int128 a, __int128 b) {
    __int128 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

LONG ToLong(__int128 v) {
    if (v > 0x7FFFFFFF || v < -0x7FFFFFFF) return -1;
    return static_cast<LONG>(v);
}

// The frames of a stream its container times one by one.
FrameTimeline* Timeline(PAVISTREAM stream) {
    return dynamic_cast<FrameTimeline*>(stream);
}

bool StreamRate(PAVISTREAM stream, AVISTREAMINFO& info) {
    return stream && stream->Info(&info, sizeof info) == AVIERR_OK && info.dwRate && info.dwScale;
}

} // namespace

void AVIFileInit() {
    std::lock_guard lock(g_mutex);
    ++g_init_count;
}

void AVIFileExit() {
    bool last;
    {
        std::lock_guard lock(g_mutex);
        if (g_init_count > 0) --g_init_count;
        last = g_init_count == 0;
    }
    if (last) AVIClearClipboard();
}

HRESULT AVIFileOpen(PAVIFILE* file, const std::string& path, UINT mode, const void*) {
    if (file == nullptr) return AVIERR_BADPARAM;
    *file = nullptr;
    if (!ValidMode(mode)) return AVIERR_BADFLAGS;
    std::unique_ptr<FileStream> fs;
    if (mode & OF_CREATE) {
        // Made without truncation: another open's share mode is checked
        // before anything of the old file is lost.
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return AVIERR_FILEOPEN;
        ::close(fd);
        fs = FileStream::Open(path, FileMode::ReadWrite);
    } else {
        // Existing files are only read, whatever access was asked for; the
        // access still counts for the share modes.
        fs = FileStream::Open(path, FileMode::Read);
    }
    if (!fs) return AVIERR_FILEOPEN;
    if (!AcquireShare(fs->Descriptor(), ShareFromMode(mode))) return AVIERR_FILEOPEN;
    return OpenByContent(std::move(fs), mode, path, file);
}

HRESULT AVIFileOpenStream(PAVIFILE* file, std::unique_ptr<ByteStream> stream, UINT mode) {
    if (file == nullptr) return AVIERR_BADPARAM;
    *file = nullptr;
    if (!stream) return AVIERR_BADPARAM;
    if (!ValidMode(mode)) return AVIERR_BADFLAGS;
    return OpenByContent(std::move(stream), mode, "", file);
}

ULONG AVIFileAddRef(PAVIFILE file) {
    return file ? file->AddRef() : 0;
}
ULONG AVIFileRelease(PAVIFILE file) {
    return file ? file->Release() : 0;
}

HRESULT AVIFileInfo(PAVIFILE file, AVIFILEINFO* info, LONG size) {
    return file ? file->Info(info, size) : AVIERR_BADHANDLE;
}

HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, FOURCC type, LONG index) {
    if (stream) *stream = nullptr;
    return file ? file->GetStream(stream, type, index) : AVIERR_BADHANDLE;
}

HRESULT AVIFileCreateStream(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFO* info) {
    if (stream) *stream = nullptr;
    return file ? file->CreateStream(stream, info) : AVIERR_BADHANDLE;
}

HRESULT AVIFileReadData(PAVIFILE file, FOURCC id, void* data, LONG* size) {
    return file ? file->ReadData(id, data, size) : AVIERR_BADHANDLE;
}

HRESULT AVIFileWriteData(PAVIFILE file, FOURCC id, const void* data, LONG size) {
    return file ? file->WriteData(id, data, size) : AVIERR_BADHANDLE;
}

HRESULT AVIFileEndRecord(PAVIFILE file) {
    return file ? file->EndRecord() : AVIERR_BADHANDLE;
}

ULONG AVIStreamAddRef(PAVISTREAM stream) {
    return stream ? stream->AddRef() : 0;
}
ULONG AVIStreamRelease(PAVISTREAM stream) {
    return stream ? stream->Release() : 0;
}

HRESULT AVIStreamInfo(PAVISTREAM stream, AVISTREAMINFO* info, LONG size) {
    return stream ? stream->Info(info, size) : AVIERR_BADHANDLE;
}

HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG pos, void* format, LONG* size) {
    return stream ? stream->ReadFormat(pos, format, size) : AVIERR_BADHANDLE;
}

HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG pos, const void* format, LONG size) {
    return stream ? stream->SetFormat(pos, format, size) : AVIERR_BADHANDLE;
}

HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG samples, void* buffer, LONG buffer_size,
                      LONG* bytes, LONG* samples_read) {
    if (!stream) return AVIERR_BADHANDLE;
    return stream->Read(start, samples, buffer, buffer_size, bytes, samples_read);
}

HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, const void* buffer, LONG size,
                       DWORD flags, LONG* samples_written, LONG* bytes_written) {
    if (!stream) return AVIERR_BADHANDLE;
    return stream->Write(start, samples, buffer, size, flags, samples_written, bytes_written);
}

HRESULT AVIStreamReadData(PAVISTREAM stream, FOURCC id, void* data, LONG* size) {
    return stream ? stream->ReadData(id, data, size) : AVIERR_BADHANDLE;
}

HRESULT AVIStreamWriteData(PAVISTREAM stream, FOURCC id, const void* data, LONG size) {
    return stream ? stream->WriteData(id, data, size) : AVIERR_BADHANDLE;
}

LONG AVIStreamStart(PAVISTREAM stream) {
    AVISTREAMINFO info{};
    if (!stream || stream->Info(&info, sizeof info) != AVIERR_OK) return -1;
    return static_cast<LONG>(info.dwStart);
}

LONG AVIStreamLength(PAVISTREAM stream) {
    AVISTREAMINFO info{};
    if (!stream || stream->Info(&info, sizeof info) != AVIERR_OK) return -1;
    return static_cast<LONG>(info.dwLength);
}

// The first whole millisecond inside the sample, so that converting the
// time back gives the same sample. Frames a container times one by one
// (variable frame rate) take their own times.
LONG AVIStreamSampleToTime(PAVISTREAM stream, LONG sample) {
    LONG ms = 0;
    if (FrameTimeline* t = Timeline(stream); t && t->FrameTime(sample, &ms)) return ms;
    AVISTREAMINFO info{};
    if (!StreamRate(stream, info)) return -1;
    __int128 t = static_cast<__int128>(sample) * info.dwScale * 1000;
    return ToLong(-FloorDiv(-t, info.dwRate));
}

// The sample shown at that time.
LONG AVIStreamTimeToSample(PAVISTREAM stream, LONG ms) {
    LONG frame = 0;
    if (FrameTimeline* t = Timeline(stream); t && t->FrameAtTime(ms, &frame)) return frame;
    AVISTREAMINFO info{};
    if (!StreamRate(stream, info)) return -1;
    __int128 n = static_cast<__int128>(ms) * info.dwRate;
    return ToLong(FloorDiv(n, static_cast<__int128>(info.dwScale) * 1000));
}

LONG AVIStreamFindSample(PAVISTREAM stream, LONG pos, LONG flags) {
    return stream ? stream->FindSample(pos, flags) : -1;
}

HRESULT AVIStreamOpenFromFile(PAVISTREAM* stream, const std::string& path, FOURCC type, LONG index,
                              UINT mode, const void* handler) {
    if (stream == nullptr) return AVIERR_BADPARAM;
    *stream = nullptr;
    PAVIFILE file = nullptr;
    HRESULT hr = AVIFileOpen(&file, path, mode, handler);
    if (hr != AVIERR_OK) return hr;
    hr = file->GetStream(stream, type, index);
    file->Release(); // the stream keeps the file
    return hr;
}

HRESULT AVIPutFileOnClipboard(PAVIFILE file) {
    if (!file) return AVIERR_BADHANDLE;
    file->AddRef();
    PAVIFILE old;
    {
        std::lock_guard lock(g_mutex);
        old = g_clipboard;
        g_clipboard = file;
    }
    if (old) old->Release();
    return AVIERR_OK;
}

HRESULT AVIGetFromClipboard(PAVIFILE* file) {
    if (file == nullptr) return AVIERR_BADPARAM;
    std::lock_guard lock(g_mutex);
    *file = g_clipboard;
    if (!g_clipboard) return AVIERR_NODATA;
    g_clipboard->AddRef();
    return AVIERR_OK;
}

HRESULT AVIClearClipboard() {
    PAVIFILE old;
    {
        std::lock_guard lock(g_mutex);
        old = g_clipboard;
        g_clipboard = nullptr;
    }
    if (old) old->Release();
    return AVIERR_OK;
}

} // namespace lum::platform::vfw
