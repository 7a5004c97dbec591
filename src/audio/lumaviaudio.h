// The audio worker: reads the samples of an audio stream of a video file
// over a bounded range, in the stream's own format or converted on the fly
// through the audio compression manager, and writes audio into a stream,
// converting from a source format to the stream's format.
//
// It lives with the wave audio units because conversion needs the
// compression manager, which sits above the video file units.
//
// An audio sample here is one block of the stream (RawSampleSize bytes).
// Streams with a variable sample size (MP3 in AVI, one frame a chunk) have
// RawSampleSize 0: they are read a whole chunk at a time and cannot be
// written through the worker.
//
// Idle, reading or writing, never reading and writing at once.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/lumacmsup.h"
#include "video/lumaviworker.h"

namespace lum {

class TLumAVIAudioWorker : public TLumAVIStreamWorker {
public:
    explicit TLumAVIAudioWorker(TLumAVIStream* stream);
    // For writing: Source is the format of the data WriteData is given. It
    // is copied and kept for the worker's life.
    TLumAVIAudioWorker(TLumAVIStream* stream, const TWaveFormatEx* source);
    ~TLumAVIAudioWorker() override;

    // The stream's format, read once; always at least 18 bytes, and its
    // cbSize never claims more bytes than were read.
    const TWaveFormatEx* GetFormat();
    void SetFormat(const TWaveFormatEx* format);
    void FreeFormat();
    const TWaveFormatEx* GetSourceFormat() const;
    // False when either is missing; else true unless tag, bits, channels
    // and rate all agree.
    static bool MustConvert(const TWaveFormatEx* a, const TWaveFormatEx* b);
    LONG RawSampleSize() const;

    // Count samples into a buffer of Count * RawSampleSize bytes; the
    // samples read.
    LONG ReadRawSamples(LONG position, void* buffer, LONG count);
    // Count * RawSampleSize bytes as key-frame data.
    void WriteRawSamples(LONG position, const void* data, LONG count);

    // Reading in the stream's own format over [Start, Start + Count),
    // clamped to the stream's end.
    void BeginReading(LONG start, LONG count);
    // Whole samples that fit in Size bytes, never the range's last sample
    // (see GetEOF); the bytes read.
    LONG ReadDataBytes(void* buffer, LONG size);
    // Up to Count samples up to the range's end; the samples read.
    LONG ReadDataSamples(void* buffer, LONG count);
    // While reading: the position has reached the range's last sample.
    bool GetEOF() const;
    void EndReading();

    // Reading converted to Target (a PCM format, say) over the same range.
    // A Target that needs no conversion reads the stream's own bytes.
    // Raises "Can't create audio compressor" when there is no conversion.
    void BeginReadingAs(LONG start, LONG count, const TWaveFormatEx* target);
    // Up to Size bytes of the target format; 0 at the range's end, after
    // what the codecs held has been given out.
    LONG ReadConvertedData(void* buffer, LONG size);

    // Writing at Start; each WriteData call passes at most BufferSize
    // bytes of the source format.
    void BeginWriting(LONG start, LONG buffer_size);
    void WriteData(const void* data, LONG size);
    void EndWriting();

    bool GetReading() const { return FReading; }
    bool GetWriting() const { return FWriting; }
    bool GetConverting() const { return FConverting; }
    LONG GetPosition() const { return FPosition; }
    LONG GetEndPosition() const { return FEnd; }
    // The source buffer's capacity while converting.
    std::size_t GetSourceCapacity() const { return FSrcSize; }

private:
    bool ConvertHeld(std::size_t bytes, DWORD flags);
    LONG ReadWhole(void* buffer, LONG size, LONG max_samples);
    void FreeConversion();
    bool FillConverted();

    TWaveFormatEx* FFormat = nullptr;
    TWaveFormatEx* FSource = nullptr;
    bool FReading = false;
    bool FWriting = false;
    bool FConverting = false;
    LONG FPosition = 0;
    LONG FEnd = 0;
    LONG FBufferSize = 0; // the most one WriteData call may pass
    BYTE* FSrcBuffer = nullptr;
    std::size_t FSrcSize = 0;
    BYTE* FDstBuffer = nullptr;
    std::size_t FDstSize = 0;
    std::size_t FBytesRemaining = 0;
    acm::HACMSTREAM FStream = nullptr;
    acm::ACMSTREAMHEADER FHeader{};

    // Converted reading.
    PACMConvert FReadConv = nullptr;
    std::vector<BYTE> FPending; // converted bytes not yet handed out
    std::size_t FPendingAt = 0;
    bool FFlushed = false;
};

} // namespace lum
