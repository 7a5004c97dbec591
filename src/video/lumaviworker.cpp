#include "video/lumaviworker.h"

#include "core/lumutils.h"

namespace lum {

using namespace platform::vfw;

// ---- TLumAVIStreamWorker ----

TLumAVIStreamWorker::~TLumAVIStreamWorker() {
    SetStream(nullptr);
}

void TLumAVIStreamWorker::SetStream(TLumAVIStream* stream) {
    if (stream == FStream) return;
    if (FStream) FStream->Release();
    FStream = stream;
    if (FStream) FStream->AddRef();
}

TLumAVIStream& TLumAVIStreamWorker::Stream() const {
    if (FStream == nullptr) throw ELumAVIError("Stream not opened");
    return *FStream;
}

// ---- TLumAVIVideoWorker ----

TLumAVIVideoWorker::TLumAVIVideoWorker(TLumAVIStream* stream) {
    SetStream(stream);
}

TLumAVIVideoWorker::TLumAVIVideoWorker(TLumAVIStream* stream, const TAVICompressOptions& options) {
    if (options.fccHandler == 0) {
        SetStream(stream);
        return;
    }
    if (stream == nullptr) throw ELumAVIError("Stream not opened");
    PAVISTREAM compressed = nullptr;
    AVICheck(AVIMakeCompressedStream(&compressed, stream->GetPStream(), &options, nullptr));
    // The wrapper's single reference is the worker's.
    FStream = new TLumAVIStream(compressed);
    AVIStreamRelease(compressed);
}

TLumAVIVideoWorker::~TLumAVIVideoWorker() {
    EndReading();
    FreeFormat();
    FreeRaw();
    SetStream(nullptr);
}

void TLumAVIVideoWorker::BeginReading(const TBitmapInfoHeader* wanted) {
    EndReading();
    PAVISTREAM stream = Stream().GetPStream();
    FGetFrame = AVIStreamGetFrameOpen(stream, wanted ? wanted : AVIGETFRAMEF_BESTDISPLAYFMT);
    if (FGetFrame == nullptr) throw ELumAVIError("Can't create image decompressor");
    FReading = true;
}

PBitmapInfoHeader TLumAVIVideoWorker::GetDIB(LONG position) {
    if (!FReading) throw ELumAVIError("Not reading now");
    auto* dib = static_cast<PBitmapInfoHeader>(AVIStreamGetFrame(FGetFrame, position));
    if (dib == nullptr) throw ELumAVIError("Failed getting frame");
    return dib;
}

void TLumAVIVideoWorker::EndReading() {
    if (FGetFrame) AVIStreamGetFrameClose(FGetFrame);
    FGetFrame = nullptr;
    FReading = false;
}

PBitmapInfoHeader TLumAVIVideoWorker::GetFormat(LONG position) {
    TLumAVIStream& s = Stream();
    const LONG size = s.GetFormatSize(position);
    if (size > 0 && static_cast<std::size_t>(size) > FFormatSize) {
        FreeFormat();
        FFormat = GlobalAllocMem(static_cast<std::size_t>(size));
        FFormatSize = static_cast<std::size_t>(size);
    }
    if (size > 0) s.GetFormat(position, FFormat, size);
    return static_cast<PBitmapInfoHeader>(FFormat);
}

void TLumAVIVideoWorker::SetFormat(LONG position, const TBitmapInfoHeader* info) {
    Stream().SetFormat(position, info, static_cast<LONG>(DIB_BISize(info)));
}

void TLumAVIVideoWorker::FreeFormat() {
    GlobalFreeMem(FFormat);
    FFormatSize = 0;
}

LONG TLumAVIVideoWorker::GetRawSampleSize(LONG position) {
    return Stream().SampleSize(position, 1);
}

void* TLumAVIVideoWorker::GetRawSample(LONG position) {
    const LONG s = GetRawSampleSize(position);
    if (s > 0 && static_cast<std::size_t>(s) > FRawSize) {
        FreeRaw();
        const LONG suggested = Stream().GetSuggestedBufferSize();
        const std::size_t capacity =
            s < suggested ? static_cast<std::size_t>(suggested) : 2 * static_cast<std::size_t>(s);
        FRaw = GlobalAllocMem(capacity);
        FRawSize = capacity;
    }
    Stream().Read(position, FRaw, s, 1);
    return FRaw;
}

void TLumAVIVideoWorker::FreeRaw() {
    GlobalFreeMem(FRaw);
    FRawSize = 0;
}

void TLumAVIVideoWorker::WriteRawSample(LONG position, const void* data, LONG size,
                                        bool key_frame) {
    Stream().WriteBytes(position, data, size, key_frame);
}

void TLumAVIVideoWorker::SetDIB(LONG position, const TBitmapInfoHeader* dib) {
    SetFormat(position, dib);
    WriteRawSample(position, DIB_Ptr(dib), static_cast<LONG>(DIB_SizeImage(dib)), true);
}

long double TLumAVIVideoWorker::GetFrameRate() const {
    return Stream().GetFrameRate();
}

} // namespace lum
