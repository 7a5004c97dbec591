// TLumAVICompressor.
#include <cstring>

#include "platform/ui/saveoptions.h"
#include "platform/vfw/riff.h"
#include "platform/vfw/savev.h"
#include "video/lumavi_compress.h"

namespace lum {

using namespace platform::vfw;

namespace {

// The compressor whose save is running: the progress callback carries no
// state of its own.
TLumAVICompressor* g_saving = nullptr;

struct SavingGuard {
    explicit SavingGuard(TLumAVICompressor* c) { g_saving = c; }
    ~SavingGuard() { g_saving = nullptr; }
};

// The eleven fields in their stored order.
void PutRecord(std::uint8_t* out, const TAVICompressOptions& o) {
    const DWORD fields[11] = {o.fccType,   o.fccHandler,       o.dwKeyFrameEvery,
                              o.dwQuality, o.dwBytesPerSecond, o.dwFlags,
                              0,           o.cbFormat,         0,
                              o.cbParms,   o.dwInterleaveEvery};
    for (int i = 0; i < 11; ++i)
        platform::vfw::PutLE32(out + 4 * i, fields[i]);
}

TAVICompressOptions GetRecord(const std::uint8_t* in) {
    TAVICompressOptions o{};
    o.fccType = GetLE32(in);
    o.fccHandler = GetLE32(in + 4);
    o.dwKeyFrameEvery = GetLE32(in + 8);
    o.dwQuality = GetLE32(in + 12);
    o.dwBytesPerSecond = GetLE32(in + 16);
    o.dwFlags = GetLE32(in + 20);
    // The stored addresses (at 24 and 32) mean nothing here.
    o.cbFormat = GetLE32(in + 28);
    o.cbParms = GetLE32(in + 36);
    o.dwInterleaveEvery = GetLE32(in + 40);
    return o;
}

void* CopyBlock(const std::uint8_t* from, std::size_t size) {
    if (size == 0) return nullptr;
    void* p = GlobalAllocMem(size);
    std::memcpy(p, from, size);
    return p;
}

} // namespace

int SaveProgressCallback(int percent) {
    return g_saving ? g_saving->Progress(percent) : 0;
}

TLumAVICompressor::TLumAVICompressor(TComponent* owner) : TLumNonVisualComponent(owner) {}

TLumAVICompressor::~TLumAVICompressor() {
    FreeStreams();
}

void TLumAVICompressor::AddStream(TLumAVIStream* stream) {
    if (stream == nullptr) return;
    // The record first: a stream whose options cannot be made is not added,
    // so the two lists stay index for index.
    PAVICompressOptions options = NewSaveOptions(stream);
    if (!FStreams) FStreams = std::make_unique<std::vector<TLumAVIStream*>>();
    if (!FOptions) FOptions = std::make_unique<std::vector<PAVICompressOptions>>();
    FStreams->push_back(stream);
    FOptions->push_back(options);
    stream->AddRef();
}

void TLumAVICompressor::AddFile(TLumCustomAVIFile* file) {
    for (int i = 0; i < file->GetStreamCount(); ++i)
        AddStream(file->GetStreams(i));
}

int TLumAVICompressor::GetStreamCount() const {
    return FStreams ? static_cast<int>(FStreams->size()) : 0;
}

TLumAVIStream* TLumAVICompressor::GetStreams(int index) const {
    if (index < 0 || index >= GetStreamCount()) throw EListError::IndexOutOfBounds(index);
    return (*FStreams)[static_cast<std::size_t>(index)];
}

PAVICompressOptions TLumAVICompressor::GetOptions(int index) const {
    if (!FOptions || index < 0 || index >= static_cast<int>(FOptions->size())) return nullptr;
    return (*FOptions)[static_cast<std::size_t>(index)];
}

PAVICompressOptions TLumAVICompressor::NewSaveOptions(TLumAVIStream* stream) {
    auto* o = static_cast<PAVICompressOptions>(GlobalAllocMem(sizeof(TAVICompressOptions)));
    try {
        TAVIStreamInfo info;
        stream->GetStreamInfo(info);
        o->fccType = info.fccType;
        switch (stream->GetStreamType()) {
        case stVideo:
            o->fccHandler = 0;
            o->dwKeyFrameEvery = 7;
            o->dwQuality = 0xFFFFFFFF;
            o->dwBytesPerSecond = 60000;
            o->dwFlags = AVICOMPRESSF_INTERLEAVE | AVICOMPRESSF_DATARATE | AVICOMPRESSF_KEYFRAMES |
                         AVICOMPRESSF_VALID;
            o->dwInterleaveEvery = 5;
            break;
        case stAudio: {
            o->dwFlags = AVICOMPRESSF_INTERLEAVE | AVICOMPRESSF_VALID;
            o->dwInterleaveEvery = 5;
            const LONG start = stream->GetStartPos();
            const LONG size = stream->GetFormatSize(start);
            if (size <= 0) AVICheck(AVIERR_BADFORMAT);
            o->lpFormat = GlobalAllocMem(static_cast<std::size_t>(size));
            o->cbFormat = static_cast<DWORD>(size);
            stream->GetFormat(start, o->lpFormat, size);
            break;
        }
        default:
            break;
        }
    } catch (...) {
        GlobalFreeMem(o->lpFormat);
        GlobalFreeMem(o);
        throw;
    }
    return o;
}

void TLumAVICompressor::FreeOptions() {
    if (!FOptions) return;
    auto options = std::move(FOptions);
    AVISaveOptionsFree(static_cast<int>(options->size()), options->data());
    for (PAVICompressOptions o : *options) {
        if (o->fccType == streamtypeAUDIO) GlobalFreeMem(o->lpFormat);
        GlobalFreeMem(o->lpParms);
        GlobalFreeMem(o);
    }
}

void TLumAVICompressor::FreeStreams() {
    if (FStreams) {
        auto streams = std::move(FStreams);
        for (TLumAVIStream* s : *streams)
            s->Release();
    }
    FreeOptions();
}

bool TLumAVICompressor::ChooseOptions() {
    const int n = GetStreamCount();
    if (n == 0 || !FOptions) return false;
    std::vector<PAVISTREAM> handles;
    for (TLumAVIStream* s : *FStreams)
        handles.push_back(s->GetPStream());
    platform::UINT flags = 0;
    if (FChooseKeyFrame) flags |= ICMF_CHOOSE_KEYFRAME;
    if (FChooseDataRate) flags |= ICMF_CHOOSE_DATARATE;
    if (FChoosePreview) flags |= ICMF_CHOOSE_PREVIEW;
    return AVISaveOptions(FOwnerHandle, flags, n, handles.data(), FOptions->data()) != 0;
}

int TLumAVICompressor::Progress(int percent) {
    if (!OnSave) return 0;
    bool abort = false;
    OnSave(this, percent, abort);
    return abort ? -1 : 0;
}

bool TLumAVICompressor::SaveToFile(const std::string& file_name) {
    const int n = GetStreamCount();
    if (n == 0) throw ELumAVIError("No data to save");
    // One save at a time: the callback finds its compressor in one place.
    if (g_saving != nullptr) throw ELumAVIError("Another save is running");
    std::vector<PAVISTREAM> handles;
    for (TLumAVIStream* s : *FStreams)
        handles.push_back(s->GetPStream());
    HRESULT hr;
    {
        SavingGuard guard(this);
        hr = AVISaveV(file_name, nullptr, &SaveProgressCallback, n, handles.data(),
                      FOptions->data());
    }
    if (hr == AVIERR_USERABORT) return false;
    AVICheck(hr);
    Progress(100); // its Abort comes too late to matter
    return true;
}

void TLumAVICompressor::SaveOptionsToRegistry(HKEY root, const std::string& key,
                                              const std::string& value) {
    if (!FOptions || FOptions->empty()) return;
    std::vector<std::uint8_t> blob;
    for (PAVICompressOptions o : *FOptions) {
        const std::size_t at = blob.size();
        blob.resize(at + kStoredOptionsSize + o->cbFormat + o->cbParms, 0);
        PutRecord(&blob[at], *o);
        // A block that is missing is stored as zeros.
        if (o->lpFormat && o->cbFormat)
            std::memcpy(&blob[at + kStoredOptionsSize], o->lpFormat, o->cbFormat);
        if (o->lpParms && o->cbParms)
            std::memcpy(&blob[at + kStoredOptionsSize + o->cbFormat], o->lpParms, o->cbParms);
    }
    SaveInRegistryBinary(root, key, value, blob.data(), static_cast<std::int32_t>(blob.size()));
}

bool TLumAVICompressor::LoadOptionsFromRegistry(HKEY root, const std::string& key,
                                                const std::string& value) {
    if (!FOptions) return false;
    const std::int32_t size = GetFromRegistryBinary(root, key, value, nullptr, 0);
    if (size <= 0) return false;
    std::vector<std::uint8_t> blob(static_cast<std::size_t>(size));
    GetFromRegistryBinary(root, key, value, blob.data(), size);

    // Every record must lie within the value before any is applied: a
    // damaged value changes nothing.
    struct Stored {
        TAVICompressOptions record;
        const std::uint8_t* format;
        const std::uint8_t* parms;
    };
    std::vector<Stored> stored;
    for (std::size_t at = 0; at < blob.size();) {
        if (blob.size() - at < kStoredOptionsSize) return false;
        TAVICompressOptions r = GetRecord(&blob[at]);
        const std::size_t left = blob.size() - at - kStoredOptionsSize;
        if (r.cbFormat > left || r.cbParms > left - r.cbFormat) return false;
        const std::uint8_t* format = &blob[at + kStoredOptionsSize];
        stored.push_back({r, format, format + r.cbFormat});
        at += kStoredOptionsSize + r.cbFormat + r.cbParms;
    }

    for (const Stored& s : stored) {
        // The first stream of the record's type takes it.
        int index = -1;
        for (int i = 0; i < GetStreamCount() && index < 0; ++i) {
            TAVIStreamInfo info;
            GetStreams(i)->GetStreamInfo(info);
            if (info.fccType == s.record.fccType) index = i;
        }
        if (index < 0 || index >= static_cast<int>(FOptions->size())) continue;
        PAVICompressOptions o = (*FOptions)[static_cast<std::size_t>(index)];
        AVISaveOptionsFree(1, &o);
        if (o->fccType == streamtypeAUDIO) GlobalFreeMem(o->lpFormat);
        GlobalFreeMem(o->lpParms);
        TAVICompressOptions r = s.record;
        r.lpFormat = CopyBlock(s.format, r.cbFormat);
        r.lpParms = CopyBlock(s.parms, r.cbParms);
        *o = r;
    }
    return true;
}

} // namespace lum
