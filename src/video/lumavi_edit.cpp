// TLumAVIMemoryFile, TLumAVIEditableStream and AVIClipboardHasData.
#include <cerrno>
#include <filesystem>
#include <unistd.h>

#include "platform/base/resources.h"
#include "platform/ui/uiservice.h"
#include "platform/vfw/editstream.h"
#include "platform/vfw/savev.h"
#include "video/lumavi.h"
#include "video/lumavi_temp.h"

namespace lum {

using namespace platform::vfw;

namespace {

// Holds a file handle made for a component: the component takes its own
// reference, this one goes.
void Hold(TLumCustomAVIFile& component, PAVIFILE file) {
    component.SetPFile(file);
    AVIFileRelease(file);
}

// Writes the whole of a descriptor's worth; false on any failure.
bool WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// The hourglass for the life of the object, when asked for.
class WaitCursor {
public:
    explicit WaitCursor(bool show) : shown_(show) {
        if (shown_) platform::ui::SetAppCursor(platform::ui::AppCursor::Wait);
    }
    ~WaitCursor() {
        if (shown_) platform::ui::SetAppCursor(platform::ui::AppCursor::Default);
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool shown_;
};

// Wraps a new edit-stream handle for a caller who owns the object.
TLumAVIEditableStream* Wrap(PAVISTREAM handle) {
    auto* s = new TLumAVIEditableStream();
    s->SetPStream(handle);
    AVIStreamRelease(handle);
    return s;
}

} // namespace

// ---- TLumAVIMemoryFile ----

void TLumAVIMemoryFile::GetFromClipboard() {
    PAVIFILE file = nullptr;
    AVICheck(AVIGetFromClipboard(&file));
    Hold(*this, file);
}

void TLumAVIMemoryFile::CreateEmpty() {
    CombineStreams({});
}

void TLumAVIMemoryFile::CombineStreams(const std::vector<TLumAVIStream*>& streams) {
    std::vector<PAVISTREAM> handles;
    for (TLumAVIStream* s : streams)
        handles.push_back(s->GetPStream());
    PAVIFILE file = nullptr;
    // The new file holds the handles before the old one lets its streams go.
    AVICheck(AVIMakeFileFromStreams(&file, static_cast<int>(handles.size()), handles.data()));
    Hold(*this, file);
}

void TLumAVIMemoryFile::AddStream(TLumAVIStream* stream) {
    std::vector<TLumAVIStream*> streams;
    if (Opened())
        for (int i = 0; i < GetStreamCount(); ++i)
            streams.push_back(GetStreams(i));
    streams.push_back(stream);
    CombineStreams(streams);
}

void TLumAVIMemoryFile::RemoveStream(TLumAVIStream* stream) {
    if (Opened()) DropStream(stream);
}

void TLumAVIMemoryFile::CreateFromMemoryStream(TCustomMemoryStream* stream) {
    if (stream == nullptr) return;
    CloseFile();
    int fd = -1;
    const std::string name = AVICreateTempFile(&fd);
    SetTempFileName(name);
    WaitCursor wait(stream->GetSize() / 1024 > 500);
    try {
        const bool written = WriteAll(fd, static_cast<const std::uint8_t*>(stream->GetMemory()),
                                      static_cast<std::size_t>(stream->GetSize()));
        ::close(fd);
        fd = -1;
        if (!written) AVICheck(AVIERR_FILEWRITE);
        PAVIFILE file = nullptr;
        AVICheck(AVIFileOpen(&file, name, OF_SHARE_EXCLUSIVE | OF_READWRITE));
        Hold(*this, file);
    } catch (...) {
        if (fd >= 0) ::close(fd);
        std::error_code ec;
        std::filesystem::remove(name, ec);
        SetTempFileName("");
        throw;
    }
}

void TLumAVIMemoryFile::CreateFromResource(const std::string& name) {
    const auto bytes = platform::FindResource(platform::RT_AVI, name);
    if (bytes.empty()) throw EResNotFound("Resource " + name + " not found");
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    CreateFromMemoryStream(&stream);
}

// ---- TLumAVIEditableStream ----

void TLumAVIEditableStream::Load(TLumAVIStream* stream) {
    PAVISTREAM handle = nullptr;
    AVICheck(CreateEditableStream(&handle, stream ? stream->GetPStream() : nullptr));
    SetPStream(handle);
    AVIStreamRelease(handle);
}

TLumAVIEditableStream* TLumAVIEditableStream::Copy(LONG start, LONG length) {
    PAVISTREAM result = nullptr;
    AVICheck(EditStreamCopy(GetPStream(), &start, &length, &result));
    return Wrap(result);
}

TLumAVIEditableStream* TLumAVIEditableStream::Cut(LONG start, LONG length) {
    PAVISTREAM result = nullptr;
    AVICheck(EditStreamCut(GetPStream(), &start, &length, &result));
    return Wrap(result);
}

TLumAVIEditableStream* TLumAVIEditableStream::Clone() {
    PAVISTREAM result = nullptr;
    AVICheck(EditStreamClone(GetPStream(), &result));
    return Wrap(result);
}

LONG TLumAVIEditableStream::Paste(LONG position, TLumAVIStream* source, LONG start, LONG length) {
    if (source == nullptr) AVICheck(AVIERR_BADPARAM);
    LONG pasted = 0;
    AVICheck(
        EditStreamPaste(GetPStream(), &position, &pasted, source->GetPStream(), start, length));
    return pasted;
}

void TLumAVIEditableStream::SetInfo(const TAVIStreamInfo& info) {
    AVICheck(EditStreamSetInfo(GetPStream(), &info, sizeof info));
}

void TLumAVIEditableStream::SetName(const std::string& name) {
    AVICheck(EditStreamSetName(GetPStream(), name));
}

bool AVIClipboardHasData() {
    PAVIFILE file = nullptr;
    const bool has = AVIGetFromClipboard(&file) == AVIERR_OK && file != nullptr;
    if (file) AVIFileRelease(file);
    return has;
}

} // namespace lum
