// TLumCustomAVIFile and TLumAVIFile.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "video/lumavi.h"

namespace lum {

using namespace platform::vfw;

namespace {
void CopyStreamName(TAVIStreamInfo& info, const std::string& name) {
    std::memset(info.szName, 0, sizeof info.szName);
    std::memcpy(info.szName, name.data(), std::min<std::size_t>(name.size(), 63));
}
} // namespace

TLumCustomAVIFile::TLumCustomAVIFile(TComponent* owner) : TLumNonVisualComponent(owner) {}

TLumCustomAVIFile::~TLumCustomAVIFile() {
    CloseFile();
}

PAVIFILE TLumCustomAVIFile::GetPFile() const {
    if (!FPFile) throw ELumAVIError("File not opened");
    return FPFile;
}

void TLumCustomAVIFile::SetPFile(PAVIFILE file) {
    if (file == FPFile) return;
    if (FPFile) {
        CloseStreams();
        AVIFileRelease(FPFile);
        FPFile = nullptr;
        if (!FTempFileName.empty()) {
            std::error_code ec;
            std::filesystem::remove(FTempFileName, ec);
            FTempFileName.clear();
        }
    }
    FPFile = file;
    if (FPFile) AVIFileAddRef(FPFile);
}

void TLumCustomAVIFile::AccessStreams() {
    if (!FStreams) OpenStreams();
}

void TLumCustomAVIFile::OpenStreams() {
    CloseStreams();
    // The description comes first, so that a closed file leaves no list
    // behind and every later query raises again.
    TAVIFileInfo info;
    GetFileInfo(info);
    FStreams = std::make_unique<std::vector<TLumAVIStream*>>();
    for (LONG i = 0;; ++i) {
        PAVISTREAM handle = nullptr;
        HRESULT hr = AVIFileGetStream(GetPFile(), &handle, 0, i);
        if (hr == AVIERR_NODATA || hr == AVIERR_BADPARAM || hr == AVIERR_UNSUPPORTED) break;
        AVICheck(hr);
        auto* stream = new TLumAVIStream(handle);
        AVIStreamRelease(handle);
        stream->SetSuggestedBufferSize(static_cast<LONG>(info.dwSuggestedBufferSize));
        FStreams->push_back(stream);
    }
}

void TLumCustomAVIFile::CloseStreams() {
    if (!FStreams) return;
    auto streams = std::move(FStreams);
    for (TLumAVIStream* s : *streams)
        s->Release();
}

bool TLumCustomAVIFile::DropStream(TLumAVIStream* stream) {
    if (!FStreams) return false;
    auto it = std::find(FStreams->begin(), FStreams->end(), stream);
    if (it == FStreams->end()) return false;
    FStreams->erase(it);
    stream->Release();
    return true;
}

int TLumCustomAVIFile::GetStreamCount() {
    AccessStreams();
    return static_cast<int>(FStreams->size());
}

TLumAVIStream* TLumCustomAVIFile::GetStreams(int index) {
    AccessStreams();
    if (index < 0 || index >= static_cast<int>(FStreams->size()))
        throw EListError::IndexOutOfBounds(index);
    return (*FStreams)[static_cast<std::size_t>(index)];
}

int TLumCustomAVIFile::GetTypedStreamCount(TLumAVIStreamType type) {
    AccessStreams();
    int n = 0;
    for (TLumAVIStream* s : *FStreams)
        n += s->GetStreamType() == type;
    return n;
}

TLumAVIStream* TLumCustomAVIFile::GetTypedStreams(TLumAVIStreamType type, int n) {
    AccessStreams();
    for (TLumAVIStream* s : *FStreams) {
        if (s->GetStreamType() != type) continue;
        if (n-- == 0) return s;
    }
    return nullptr;
}

void TLumCustomAVIFile::GetFileInfo(TAVIFileInfo& info) const {
    AVICheck(AVIFileInfo(GetPFile(), &info, sizeof info));
}

LONG TLumCustomAVIFile::GetDataSize(FOURCC id) const {
    LONG size = 0;
    HRESULT hr = AVICheckExcl(AVIFileReadData(GetPFile(), id, nullptr, &size), {AVIERR_NODATA});
    return hr == AVIERR_NODATA ? 0 : size;
}

void TLumCustomAVIFile::ReadData(FOURCC id, void* buffer, LONG size) const {
    LONG got = size;
    AVICheck(AVIFileReadData(GetPFile(), id, buffer, &got));
}

void TLumCustomAVIFile::WriteData(FOURCC id, const void* buffer, LONG size) {
    AVICheck(AVIFileWriteData(GetPFile(), id, buffer, size));
}

void TLumCustomAVIFile::EndRecord() {
    AVICheck(AVIFileEndRecord(GetPFile()));
}

void TLumCustomAVIFile::PutOnClipboard() {
    AVICheck(AVIPutFileOnClipboard(GetPFile()));
}

TLumAVIStream* TLumCustomAVIFile::CreateStream(const TAVIStreamInfo& info) {
    AccessStreams();
    PAVISTREAM handle = nullptr;
    AVICheck(AVIFileCreateStream(GetPFile(), &handle, &info));
    auto* stream = new TLumAVIStream(handle);
    AVIStreamRelease(handle);
    FStreams->push_back(stream);
    stream->AddRef();
    return stream;
}

TLumAVIStream* TLumCustomAVIFile::CreateAudioStream(const TWaveFormatEx* format,
                                                    const std::string& name) {
    TAVIStreamInfo info;
    AVINewAudioStreamInfo(format, info);
    CopyStreamName(info, name);
    TLumAVIStream* stream = CreateStream(info);
    try {
        stream->SetFormat(stream->GetStartPos(), format, 18 + format->cbSize);
    } catch (...) {
        stream->Release(); // the caller never got its reference
        throw;
    }
    return stream;
}

TLumAVIStream* TLumCustomAVIFile::CreateVideoStream(DWORD rate, const std::string& name) {
    TAVIStreamInfo info;
    AVINewVideoStreamInfo(rate, info);
    CopyStreamName(info, name);
    return CreateStream(info);
}

void TLumAVIFile::SetFileName(const std::string& name) {
    if (name == FFileName) return;
    CloseFile();
    FFileName = name;
}

DWORD TLumAVIFile::GetOpenFlags() const {
    return AVIShareModeValue(FShareMode) | AVIAccessModeValue(FAccessMode);
}

void TLumAVIFile::OpenFile() {
    CloseFile();
    PAVIFILE file = nullptr;
    AVICheck(AVIFileOpen(&file, FFileName, GetOpenFlags()));
    SetPFile(file);
    AVIFileRelease(file); // the component keeps exactly one reference
}

void TLumAVIFile::CreateFile() {
    PAVIFILE file = nullptr;
    AVICheck(AVIFileOpen(&file, FFileName, GetOpenFlags() | OF_CREATE));
    SetPFile(file);
    AVIFileRelease(file);
}

} // namespace lum
