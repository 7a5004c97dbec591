// Workers: short-lived objects that hold one stream of a video file and
// read or write its samples in a useful form. A worker holds one reference
// on its stream, so the stream outlives its file's stream list while the
// worker lives.
#pragma once

#include <cstddef>

#include "platform/vfw/vfw.h"
#include "video/lumavi.h"
#include "video/lumdib.h"

namespace lum {

using TAVICompressOptions = platform::vfw::AVICOMPRESSOPTIONS;

class TLumAVIStreamWorker : public TLumObject {
public:
    TLumAVIStreamWorker() = default;
    ~TLumAVIStreamWorker() override;

    // Releases the stream held and takes Stream with a reference.
    void SetStream(TLumAVIStream* stream);
    TLumAVIStream* GetStream() const { return FStream; }

protected:
    // The stream, or "Stream not opened" when there is none.
    TLumAVIStream& Stream() const;

    TLumAVIStream* FStream = nullptr;
};

// Hands out the frames of a video stream as packed DIBs, and raw samples;
// writes DIB frames. Idle or reading: BeginReading opens a frame decoder
// (replacing any), EndReading and the destructor close it. A DIB from
// GetDIB belongs to the decoder and is valid until the next GetDIB or
// EndReading. The format and raw buffers belong to the worker and are valid
// until the next call that refills them.
class TLumAVIVideoWorker : public TLumAVIStreamWorker {
public:
    explicit TLumAVIVideoWorker(TLumAVIStream* stream);
    // With a handler code in Options, the worker writes through a
    // compressing stream over Stream, which it owns.
    TLumAVIVideoWorker(TLumAVIStream* stream, const TAVICompressOptions& options);
    ~TLumAVIVideoWorker() override;

    // Wanted null: the decoder's best display format.
    void BeginReading(const TBitmapInfoHeader* wanted = nullptr);
    PBitmapInfoHeader GetDIB(LONG position);
    void EndReading();
    bool GetReading() const { return FReading; }
    // The frame decoder while reading, else null.
    platform::vfw::PGETFRAME GetDecoder() const { return FGetFrame; }

    // The format at Position in the worker's format buffer.
    PBitmapInfoHeader GetFormat(LONG position);
    void SetFormat(LONG position, const TBitmapInfoHeader* info);
    void FreeFormat();
    std::size_t GetFormatCapacity() const { return FFormatSize; }

    LONG GetRawSampleSize(LONG position);
    void* GetRawSample(LONG position);
    void FreeRaw();
    std::size_t GetRawCapacity() const { return FRawSize; }
    void WriteRawSample(LONG position, const void* data, LONG size, bool key_frame);
    void SetDIB(LONG position, const TBitmapInfoHeader* dib);

    long double GetFrameRate() const;

private:
    platform::vfw::PGETFRAME FGetFrame = nullptr;
    bool FReading = false;
    void* FFormat = nullptr;
    std::size_t FFormatSize = 0;
    void* FRaw = nullptr;
    std::size_t FRawSize = 0;
};

} // namespace lum
