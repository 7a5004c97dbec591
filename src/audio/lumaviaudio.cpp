#include "audio/lumaviaudio.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/lumutils.h"

namespace lum {

namespace {

constexpr LONG kFormatSize = 18; // a format record with its cbSize

// A global-heap copy of Fmt that reads only the bytes the record has: a
// PCM record may be the 16-byte kind without cbSize, so 16 are copied and
// cbSize is 0; any other is 18 + cbSize.
TWaveFormatEx* CopyFormat(const TWaveFormatEx* fmt) {
    if (fmt->wFormatTag == WAVE_FORMAT_PCM) {
        auto* copy = static_cast<TWaveFormatEx*>(GlobalAllocMem(kFormatSize));
        std::memcpy(copy, fmt, 16);
        return copy;
    }
    const std::size_t size = kFormatSize + std::size_t{fmt->cbSize};
    auto* copy = static_cast<TWaveFormatEx*>(GlobalAllocMem(size));
    std::memcpy(copy, fmt, size);
    return copy;
}

std::size_t FormatBytes(const TWaveFormatEx* fmt) {
    return fmt->wFormatTag == WAVE_FORMAT_PCM ? kFormatSize : kFormatSize + fmt->cbSize;
}

LONG Product(LONG count, LONG size) {
    const std::int64_t p = std::int64_t{count} * size;
    if (p > INT_MAX) throw ELumAVIError("Too many samples at once");
    return static_cast<LONG>(p);
}

std::size_t RoundUp(std::size_t n, std::size_t block) {
    return (n + block - 1) / block * block;
}

} // namespace

TLumAVIAudioWorker::TLumAVIAudioWorker(TLumAVIStream* stream) {
    SetStream(stream);
}

TLumAVIAudioWorker::TLumAVIAudioWorker(TLumAVIStream* stream, const TWaveFormatEx* source) {
    if (source == nullptr) throw ELumAVIError("Need a valid source format");
    SetStream(stream);
    // Kept whatever the stream's format is now: the decision to convert is
    // made at BeginWriting, so a later SetFormat cannot make the worker
    // write source bytes as if they were in the stream's format.
    FSource = CopyFormat(source);
}

TLumAVIAudioWorker::~TLumAVIAudioWorker() {
    EndReading();
    EndWriting();
    FreeFormat();
    GlobalFreeMem(FSource);
    SetStream(nullptr);
}

const TWaveFormatEx* TLumAVIAudioWorker::GetFormat() {
    if (FFormat) return FFormat;
    TLumAVIStream& s = Stream();
    const LONG start = s.GetStartPos();
    const LONG size = std::max(s.GetFormatSize(start), kFormatSize);
    FFormat = static_cast<TWaveFormatEx*>(GlobalAllocMem(static_cast<std::size_t>(size)));
    try {
        s.GetFormat(start, FFormat, size);
    } catch (...) {
        GlobalFreeMem(FFormat);
        throw;
    }
    // A damaged stream may claim more extra bytes than it stores.
    if (FFormat->wFormatTag == WAVE_FORMAT_PCM)
        FFormat->cbSize = 0;
    else if (kFormatSize + FFormat->cbSize > size)
        FFormat->cbSize = static_cast<WORD>(size - kFormatSize);
    return FFormat;
}

void TLumAVIAudioWorker::SetFormat(const TWaveFormatEx* format) {
    if (format == nullptr || format == FFormat) return;
    if (FWriting) throw ELumAVIError("Can't change the format when writing");
    TLumAVIStream& s = Stream();
    TWaveFormatEx* copy = CopyFormat(format);
    FreeFormat();
    try {
        s.SetFormat(s.GetStartPos(), copy, static_cast<LONG>(FormatBytes(copy)));
    } catch (...) {
        GlobalFreeMem(copy);
        throw;
    }
    GlobalFreeMem(copy);
}

void TLumAVIAudioWorker::FreeFormat() {
    GlobalFreeMem(FFormat);
}

const TWaveFormatEx* TLumAVIAudioWorker::GetSourceFormat() const {
    return FSource;
}

bool TLumAVIAudioWorker::MustConvert(const TWaveFormatEx* a, const TWaveFormatEx* b) {
    return acmMustConvert(a, b);
}

LONG TLumAVIAudioWorker::RawSampleSize() const {
    return static_cast<LONG>(Stream().StreamSampleSize());
}

LONG TLumAVIAudioWorker::ReadRawSamples(LONG position, void* buffer, LONG count) {
    if (count <= 0) return 0;
    const LONG ss = RawSampleSize();
    const LONG size = ss > 0 ? Product(count, ss) : Stream().SampleSize(position, count);
    LONG got = 0;
    Stream().Read(position, buffer, size, count, nullptr, &got);
    return got;
}

void TLumAVIAudioWorker::WriteRawSamples(LONG position, const void* data, LONG count) {
    Stream().WriteSamples(position, data, count, true);
}

void TLumAVIAudioWorker::BeginReading(LONG start, LONG count) {
    if (FWriting) throw ELumAVIError("Can't read when writing");
    EndReading();
    TLumAVIStream& s = Stream();
    const LONG end = s.GetEndPos();
    FPosition = std::clamp(start, std::min(s.GetStartPos(), end), end);
    FEnd = static_cast<LONG>(
        std::clamp<std::int64_t>(std::int64_t{FPosition} + count, FPosition, end));
    FReading = true;
}

// Variable sample size: the whole chunks from the position that fit in
// Size bytes, at most Max of them.
LONG TLumAVIAudioWorker::ReadWhole(void* buffer, LONG size, LONG max_samples) {
    TLumAVIStream& s = Stream();
    LONG n = 0, bytes = 0;
    while (n < max_samples) {
        const LONG one = s.SampleSize(FPosition + n, 1);
        if (one < 0 || bytes + std::int64_t{one} > size) break;
        bytes += one;
        ++n;
    }
    if (n == 0) {
        if (max_samples > 0) throw ELumAVIError("Buffer too small for one sample");
        return 0;
    }
    LONG got = 0, got_bytes = 0;
    s.Read(FPosition, buffer, bytes, n, &got_bytes, &got);
    FPosition += got;
    return got_bytes;
}

LONG TLumAVIAudioWorker::ReadDataBytes(void* buffer, LONG size) {
    if (!FReading) throw ELumAVIError("Reading not started");
    if (size <= 0) return 0;
    const LONG ss = RawSampleSize();
    // This read stops one sample short of the range's end, as GetEOF does.
    const LONG room = FEnd - FPosition - 1;
    if (ss == 0) return room > 0 ? ReadWhole(buffer, size, room) : 0;
    LONG n = size / ss;
    if (FPosition + std::int64_t{n} >= FEnd) n = room;
    if (n <= 0) return 0;
    const LONG got = ReadRawSamples(FPosition, buffer, n);
    FPosition += got;
    return got * ss;
}

LONG TLumAVIAudioWorker::ReadDataSamples(void* buffer, LONG count) {
    if (!FReading) throw ELumAVIError("Reading not started");
    if (count <= 0) return 0;
    // A count says nothing of the bytes of variable-size samples.
    if (RawSampleSize() == 0) throw ELumAVIError("Stream has no fixed sample size");
    const LONG n = std::min(count, FEnd - FPosition);
    if (n <= 0) return 0;
    const LONG got = ReadRawSamples(FPosition, buffer, n);
    FPosition += got;
    return got;
}

bool TLumAVIAudioWorker::GetEOF() const {
    return FReading && FPosition >= FEnd - 1;
}

void TLumAVIAudioWorker::EndReading() {
    FReading = false;
    acmDoneConvert(FReadConv);
    FPending.clear();
    FPendingAt = 0;
    FFlushed = false;
}

void TLumAVIAudioWorker::BeginReadingAs(LONG start, LONG count, const TWaveFormatEx* target) {
    BeginReading(start, count);
    const TWaveFormatEx* own = GetFormat();
    if (target == nullptr || !MustConvert(own, target)) return;
    // About a quarter of a second a call; chunks of variable size get a
    // generous buffer since their largest is not known in advance.
    const LONG ss = RawSampleSize();
    const std::size_t block = std::max<std::size_t>(ss > 0 ? ss : own->nBlockAlign, 1);
    std::size_t size = ss > 0 ? RoundUp(std::max<std::size_t>(own->nAvgBytesPerSec / 4, 1), block)
                              : std::size_t{1} << 16;
    size = std::min<std::size_t>(size, std::size_t{1} << 22);
    FReadConv = acmBeginConvert(own, target, nullptr, false, static_cast<std::int32_t>(size));
    if (FReadConv == nullptr || (ss > 0 && FReadConv->SourceBlockSize < ss)) {
        EndReading();
        throw ELumAVIError("Can't create audio compressor");
    }
}

// Converts the next piece of the range, or flushes the codecs at its end;
// false when nothing more will come.
bool TLumAVIAudioWorker::FillConverted() {
    if (FFlushed) return false;
    FPending.clear();
    FPendingAt = 0;
    std::int32_t m = 0;
    LONG bytes = 0;
    if (FPosition < FEnd) {
        const LONG ss = RawSampleSize();
        const LONG left = FEnd - FPosition;
        if (ss > 0) {
            const LONG got = ReadRawSamples(FPosition, FReadConv->SourceBuffer,
                                            std::min(FReadConv->SourceBlockSize / ss, left));
            FPosition += got;
            bytes = got * ss;
        } else {
            bytes = ReadWhole(FReadConv->SourceBuffer, FReadConv->SourceBlockSize, left);
        }
        // A stream that gives nothing more ends the range here.
        if (bytes <= 0) FEnd = FPosition;
    }
    if (bytes > 0) {
        m = acmDoConvert(FReadConv, bytes);
    } else {
        m = acmEndConvert(FReadConv, 0);
        if (m == 0) FFlushed = true;
    }
    if (m < 0) throw ELumAVIError("Can't convert audio compressor");
    FPending.assign(FReadConv->OutputBuffer, FReadConv->OutputBuffer + m);
    return !FFlushed;
}

LONG TLumAVIAudioWorker::ReadConvertedData(void* buffer, LONG size) {
    if (!FReading) throw ELumAVIError("Reading not started");
    if (size <= 0) return 0;
    if (FReadConv == nullptr) {
        // The stream's own bytes, up to and with the range's last sample.
        const LONG ss = RawSampleSize();
        if (ss == 0) return ReadWhole(buffer, size, FEnd - FPosition);
        const LONG n = std::min(size / ss, FEnd - FPosition);
        if (n <= 0) return 0;
        const LONG got = ReadRawSamples(FPosition, buffer, n);
        FPosition += got;
        return got * ss;
    }
    while (FPendingAt >= FPending.size())
        if (!FillConverted()) return 0;
    const std::size_t n = std::min(FPending.size() - FPendingAt, static_cast<std::size_t>(size));
    std::memcpy(buffer, FPending.data() + FPendingAt, n);
    FPendingAt += n;
    return static_cast<LONG>(n);
}

void TLumAVIAudioWorker::BeginWriting(LONG start, LONG buffer_size) {
    if (FReading) throw ELumAVIError("Can't write when reading");
    EndWriting();
    if (buffer_size <= 0) throw ELumAVIError("Invalid write buffer size");
    const TWaveFormatEx* own = GetFormat();
    // Samples of variable size cannot be told apart in converted output.
    if (RawSampleSize() == 0) throw ELumAVIError("Stream has no fixed sample size");
    FBufferSize = buffer_size;
    if (!MustConvert(FSource, own)) {
        FPosition = start;
        FWriting = true;
        return;
    }
    bool ok =
        acmIsUsable() && acmStreamOpen(&FStream, nullptr, FSource, own, nullptr, 0, 0,
                                       acm::ACM_STREAMOPENF_NONREALTIME) == acm::MMSYSERR_NOERROR;
    if (ok) {
        const std::size_t b = std::max<std::size_t>(FSource->nBlockAlign, 1);
        // A block codec takes source in whole destination blocks, so up to
        // one destination block's worth of source may remain from a call.
        DWORD one_block = 0;
        if (acmStreamSize(FStream, std::max<DWORD>(own->nBlockAlign, 1), &one_block,
                          acm::ACM_STREAMSIZEF_DESTINATION) != acm::MMSYSERR_NOERROR)
            one_block = 0;
        const std::size_t src =
            RoundUp(static_cast<std::size_t>(buffer_size), b) * 2 + RoundUp(one_block, b);
        DWORD dst = 0;
        ok = src <= UINT32_MAX / 2 &&
             acmStreamSize(FStream, static_cast<DWORD>(src), &dst, acm::ACM_STREAMSIZEF_SOURCE) ==
                 acm::MMSYSERR_NOERROR &&
             dst > 0;
        if (ok) {
            FSrcSize = src;
            FDstSize = dst;
            FSrcBuffer = static_cast<BYTE*>(GlobalAllocMem(FSrcSize));
            FDstBuffer = static_cast<BYTE*>(GlobalAllocMem(FDstSize));
            FHeader = {};
            FHeader.cbStruct = sizeof(acm::ACMSTREAMHEADER);
            FHeader.pbSrc = FSrcBuffer;
            FHeader.cbSrcLength = static_cast<DWORD>(FSrcSize);
            FHeader.dwSrcUser = FSrcSize;
            FHeader.pbDst = FDstBuffer;
            FHeader.cbDstLength = static_cast<DWORD>(FDstSize);
            FHeader.dwDstUser = FDstSize;
            ok = acmStreamPrepareHeader(FStream, &FHeader, 0) == acm::MMSYSERR_NOERROR;
        }
    }
    FConverting = true; // so that FreeConversion undoes whatever was done
    if (!ok) {
        FreeConversion();
        throw ELumAVIError("Can't create audio compressor");
    }
    FBytesRemaining = 0;
    FPosition = start;
    FWriting = true;
}

void TLumAVIAudioWorker::WriteData(const void* data, LONG size) {
    if (size <= 0 || !FWriting) return;
    if (size > FBufferSize) throw ELumAVIError("Data larger than the write buffer");
    const LONG ss = RawSampleSize();
    if (!FConverting) {
        const LONG n = size / ss;
        if (n > 0) WriteRawSamples(FPosition, data, n);
        FPosition += n;
        return;
    }
    const auto* p = static_cast<const BYTE*>(data);
    std::size_t left = static_cast<std::size_t>(size);
    // Never more than the source buffer holds: what does not fit waits for
    // the next round, after the converter has taken some.
    while (left > 0) {
        const std::size_t take = std::min(left, FSrcSize - FBytesRemaining);
        if (take == 0) throw ELumAVIError("Can't convert audio compressor");
        std::memcpy(FSrcBuffer + FBytesRemaining, p, take);
        p += take;
        left -= take;
        if (!ConvertHeld(FBytesRemaining + take, acm::ACM_STREAMCONVERTF_BLOCKALIGN))
            throw ELumAVIError("Can't convert audio compressor");
    }
}

// Converts the first Bytes of the source buffer with Flags, keeps what the
// codec did not take at the buffer's front and writes what it gave. The
// converter is synchronous: the header is done when the call returns, so
// there is nothing to wait for.
bool TLumAVIAudioWorker::ConvertHeld(std::size_t bytes, DWORD flags) {
    FHeader.cbSrcLength = static_cast<DWORD>(bytes);
    FHeader.cbSrcLengthUsed = 0;
    FHeader.cbDstLength = static_cast<DWORD>(FDstSize);
    FHeader.cbDstLengthUsed = 0;
    FHeader.fdwStatus &= ~acm::ACMSTREAMHEADER_STATUSF_DONE;
    if (acmStreamConvert(FStream, &FHeader, flags) != acm::MMSYSERR_NOERROR ||
        !(FHeader.fdwStatus & acm::ACMSTREAMHEADER_STATUSF_DONE))
        return false;
    const std::size_t used = std::min<std::size_t>(FHeader.cbSrcLengthUsed, FHeader.cbSrcLength);
    FBytesRemaining = FHeader.cbSrcLength - used;
    std::memmove(FSrcBuffer, FSrcBuffer + used, FBytesRemaining);
    const std::size_t out = std::min<std::size_t>(FHeader.cbDstLengthUsed, FDstSize);
    const LONG n = static_cast<LONG>(out / static_cast<std::size_t>(RawSampleSize()));
    if (n > 0) WriteRawSamples(FPosition, FDstBuffer, n);
    FPosition += n;
    return true;
}

void TLumAVIAudioWorker::EndWriting() {
    if (!FWriting) return;
    FWriting = false;
    if (!FConverting) return;
    // What remains is less than one destination block's worth of source:
    // the end flag makes the codec write it as a last block filled out with
    // silence, so the stream keeps every sample it was given.
    try {
        if (FBytesRemaining > 0) ConvertHeld(FBytesRemaining, acm::ACM_STREAMCONVERTF_END);
    } catch (...) {
        FreeConversion();
        throw;
    }
    FreeConversion();
}

void TLumAVIAudioWorker::FreeConversion() {
    if (FHeader.fdwStatus & acm::ACMSTREAMHEADER_STATUSF_PREPARED) {
        FHeader.cbSrcLength = static_cast<DWORD>(FHeader.dwSrcUser);
        FHeader.cbDstLength = static_cast<DWORD>(FHeader.dwDstUser);
        acmStreamUnprepareHeader(FStream, &FHeader, 0);
    }
    if (FStream) acmStreamClose(FStream, 0);
    FStream = nullptr;
    FHeader = {};
    GlobalFreeMem(FSrcBuffer);
    GlobalFreeMem(FDstBuffer);
    FSrcSize = FDstSize = 0;
    FBytesRemaining = 0;
    FConverting = false;
}

} // namespace lum
