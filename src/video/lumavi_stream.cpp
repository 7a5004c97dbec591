// TLumAVIObject and TLumAVIStream.
#include <cstring>
#include <limits>

#include "platform/vfw/riff.h"
#include "video/lumavi.h"

namespace lum {

using namespace platform::vfw;

namespace {

// The two codes that stand for "no handler" and "run-length 8" as numbers.
FOURCC Rewritten(FOURCC code) {
    if (code == 0) return platform::MakeFourCC("None");
    if (code == 1) return platform::MakeFourCC("Rle8");
    return code;
}

[[noreturn]] void Fail(const char* message) {
    throw ELumAVIError(message);
}

LONG Checked(LONG value, const char* message) {
    if (value == -1) Fail(message);
    return value;
}

LONG ProductOrFail(std::int64_t a, std::int64_t b) {
    std::int64_t p = a * b;
    if (p > std::numeric_limits<LONG>::max() || p < 0) AVICheck(AVIERR_BADSIZE);
    return static_cast<LONG>(p);
}

} // namespace

void TLumAVIObject::Release() {
    if (FRefCount-- == 1) delete this;
}

TLumAVIStream::TLumAVIStream(PAVISTREAM stream) : TLumAVIStream() {
    SetPStream(stream);
}

TLumAVIStream::~TLumAVIStream() {
    SetPStream(nullptr);
}

void TLumAVIStream::SetPStream(PAVISTREAM stream) {
    if (stream == FPStream) return;
    if (FPStream) AVIStreamRelease(FPStream);
    FPStream = stream;
    if (FPStream) AVIStreamAddRef(FPStream);
}

PAVISTREAM TLumAVIStream::GetPStream() const {
    if (!FPStream) Fail("Stream not opened");
    return FPStream;
}

void TLumAVIStream::LoadFromFile(const std::string& file_name, TLumAVIStreamType type, LONG index) {
    PAVISTREAM stream = nullptr;
    AVICheck(AVIStreamOpenFromFile(&stream, file_name, AVIStreamTypeCode(type), index,
                                   OF_SHARE_DENY_NONE | OF_READWRITE));
    SetPStream(stream);
    AVIStreamRelease(stream); // SetPStream took the reference this object keeps
}

void TLumAVIStream::GetStreamInfo(TAVIStreamInfo& info) const {
    AVICheck(AVIStreamInfo(GetPStream(), &info, sizeof info));
    // An audio stream's handler is no compression code; only "none" is
    // spelled out there.
    if (info.fccType == streamtypeAUDIO)
        info.fccHandler = info.fccHandler == 0 ? Rewritten(0) : info.fccHandler;
    else
        info.fccHandler = Rewritten(info.fccHandler);
    info.fccType = Rewritten(info.fccType);
}

TLumAVIStreamType TLumAVIStream::GetStreamType() const {
    TAVIStreamInfo info;
    GetStreamInfo(info);
    return AVIStreamTypeOf(info.fccType);
}

std::string TLumAVIStream::GetName() const {
    TAVIStreamInfo info;
    GetStreamInfo(info);
    return std::string(info.szName, strnlen(info.szName, sizeof info.szName));
}

long double TLumAVIStream::GetFrameRate() const {
    TAVIStreamInfo info;
    GetStreamInfo(info);
    if (info.dwScale == 0) return 0;
    return static_cast<long double>(info.dwRate) / info.dwScale;
}

DWORD TLumAVIStream::StreamSampleSize() const {
    TAVIStreamInfo info;
    GetStreamInfo(info);
    return info.dwSampleSize;
}

LONG TLumAVIStream::GetFormatSize(LONG position) const {
    LONG size = 0;
    AVICheck(AVIStreamReadFormat(GetPStream(), position, nullptr, &size));
    return size;
}

void TLumAVIStream::GetFormat(LONG position, void* buffer, LONG size) const {
    LONG got = size;
    AVICheck(AVIStreamReadFormat(GetPStream(), position, buffer, &got));
    if (buffer && got >= 20 && GetStreamType() == stVideo) {
        auto* compression = static_cast<std::uint8_t*>(buffer) + 16;
        PutLE32(compression, Rewritten(GetLE32(compression)));
    }
}

void TLumAVIStream::SetFormat(LONG position, const void* buffer, LONG size) {
    AVICheck(AVIStreamSetFormat(GetPStream(), position, buffer, size));
}

LONG TLumAVIStream::GetStartPos() const {
    return Checked(AVIStreamStart(GetPStream()), "Failed to get start");
}

LONG TLumAVIStream::GetLength() const {
    return Checked(AVIStreamLength(GetPStream()), "Failed to get length");
}

LONG TLumAVIStream::GetEndPos() const {
    LONG start = AVIStreamStart(GetPStream());
    LONG length = AVIStreamLength(GetPStream());
    if (start == -1 || length == -1) Fail("Failed to get end");
    return start + length;
}

LONG TLumAVIStream::GetStartPosTime() const {
    LONG start = AVIStreamStart(GetPStream());
    return Checked(start == -1 ? -1 : AVIStreamSampleToTime(FPStream, start),
                   "Failed to get start");
}

LONG TLumAVIStream::GetEndPosTime() const {
    LONG start = AVIStreamStart(GetPStream());
    LONG length = AVIStreamLength(GetPStream());
    LONG t = start == -1 || length == -1 ? -1 : AVIStreamSampleToTime(FPStream, start + length);
    return Checked(t, "Failed to get end");
}

LONG TLumAVIStream::GetLengthTime() const {
    LONG length = AVIStreamLength(GetPStream());
    return Checked(length == -1 ? -1 : AVIStreamSampleToTime(FPStream, length),
                   "Failed to get length");
}

LONG TLumAVIStream::TimeToSamples(LONG time) const {
    return Checked(AVIStreamTimeToSample(GetPStream(), time), "Failed to convert time to sample");
}

LONG TLumAVIStream::SamplesToTime(LONG position) const {
    return Checked(AVIStreamSampleToTime(GetPStream(), position),
                   "Failed to convert sample to time");
}

LONG TLumAVIStream::FindSample(LONG position, TLumAVIFindDirection direction,
                               TLumAVIFindTypes kind) const {
    if (!FPStream) return -1;
    return AVIStreamFindSample(FPStream, position, AVIFindFlags(direction, kind));
}

bool TLumAVIStream::IsKeyFrame(LONG position) const {
    return NearestKeyFrame(position) == position;
}

LONG TLumAVIStream::PrevKeyFrame(LONG position) const {
    return FindSample(position - 1, fdPrev, {ftKeyFrame});
}

LONG TLumAVIStream::NextKeyFrame(LONG position) const {
    return FindSample(position + 1, fdNext, {ftKeyFrame});
}

LONG TLumAVIStream::NearestKeyFrame(LONG position) const {
    return FindSample(position, fdPrev, {ftKeyFrame});
}

LONG TLumAVIStream::PrevKeyFrameTime(LONG time) const {
    LONG p = PrevKeyFrame(TimeToSamples(time));
    return p < 0 ? -1 : SamplesToTime(p);
}

LONG TLumAVIStream::NextKeyFrameTime(LONG time) const {
    LONG p = NextKeyFrame(TimeToSamples(time));
    return p < 0 ? -1 : SamplesToTime(p);
}

LONG TLumAVIStream::NearestKeyFrameTime(LONG time) const {
    LONG p = NearestKeyFrame(TimeToSamples(time));
    return p < 0 ? -1 : SamplesToTime(p);
}

LONG TLumAVIStream::SampleSize(LONG position, LONG count) const {
    LONG bytes = 0;
    AVICheck(AVIStreamRead(GetPStream(), position, 1, nullptr, 0, &bytes, nullptr));
    return ProductOrFail(bytes, count);
}

void TLumAVIStream::Read(LONG start, void* buffer, LONG buffer_size, LONG samples, LONG* bytes,
                         LONG* samples_read) const {
    AVICheck(AVIStreamRead(GetPStream(), start, samples, buffer, buffer_size, bytes, samples_read));
}

void TLumAVIStream::ReadSamples(LONG position, void* buffer, LONG count) const {
    LONG size = SampleSize(position, count);
    LONG got = 0;
    Read(position, buffer, size, count, nullptr, &got);
    if (got < count) Fail("Error reading samples");
}

LONG TLumAVIStream::ReadBytes(LONG position, void* buffer, LONG size) const {
    LONG one = SampleSize(position, 1);
    LONG samples = one > 0 ? size / one : 1; // an empty sample fits any buffer
    LONG got = 0;
    Read(position, buffer, size, samples, nullptr, &got);
    return got;
}

void TLumAVIStream::WriteSamples(LONG position, const void* buffer, LONG count, bool key_frame) {
    DWORD ss = StreamSampleSize();
    if (ss == 0) Fail("Stream has no static sample size");
    LONG bytes = ProductOrFail(count, ss);
    AVICheck(AVIStreamWrite(GetPStream(), position, count, buffer, bytes,
                            key_frame ? AVIIF_KEYFRAME : 0, nullptr, nullptr));
}

void TLumAVIStream::WriteBytes(LONG position, const void* buffer, LONG size, bool key_frame) {
    DWORD ss = StreamSampleSize();
    LONG samples = ss ? static_cast<LONG>(size / ss) : 1;
    AVICheck(AVIStreamWrite(GetPStream(), position, samples, buffer, size,
                            key_frame ? AVIIF_KEYFRAME : 0, nullptr, nullptr));
}

void TLumAVIStream::DeleteSamples(LONG position, LONG count) {
    AVICheck(GetPStream()->Delete(position, count));
}

LONG TLumAVIStream::GetDataSize(FOURCC id) const {
    LONG size = 0;
    HRESULT hr = AVICheckExcl(AVIStreamReadData(GetPStream(), id, nullptr, &size), {AVIERR_NODATA});
    return hr == AVIERR_NODATA ? 0 : size;
}

void TLumAVIStream::ReadData(FOURCC id, void* buffer, LONG size) const {
    LONG got = size;
    AVICheck(AVIStreamReadData(GetPStream(), id, buffer, &got));
    if (got != size) Fail("Error reading data");
}

void TLumAVIStream::WriteData(FOURCC id, const void* buffer, LONG size) {
    AVICheck(AVIStreamWriteData(GetPStream(), id, buffer, size));
}

} // namespace lum
