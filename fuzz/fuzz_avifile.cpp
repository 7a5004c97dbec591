// Fuzzes the file handlers of the video service (AVI, WAV, AU, and
// libavformat's containers through an AVIOContext over the memory image:
// the content picks the handler) the way a reader uses them: open the image
// from memory, list the streams with their formats, read every sample (in
// order, then some backwards, which makes a demuxer seek), convert frame
// positions to times and back, and decode the frames of video streams the
// built-in decoders handle, and a few of small pictures of other codecs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "limits.h"
#include "platform/base/bytestream.h"
#include "platform/vfw/vfw.h"

using namespace lum::platform;
using namespace lum::platform::vfw;

namespace {

// Enough positions to reach every code path, few enough to keep each run short.
constexpr LONG kMaxSamples = 512;
constexpr LONG kMaxFrames = 48;
constexpr LONG kMaxCodecFrames = 6;
constexpr std::int64_t kMaxCodecPixels = 64 * 64;

// Formats the built-in decoders take, of a size worth fuzzing.
bool BuiltInCodec(const std::vector<std::uint8_t>& format) {
    if (format.size() < sizeof(BITMAPINFOHEADER)) return false;
    const auto* bi = reinterpret_cast<const BITMAPINFOHEADER*>(format.data());
    if (lum::fuzz::TooLargeToFuzz(bi->biWidth, bi->biHeight)) return false;
    return bi->biCompression == BI_RGB || bi->biCompression == BI_RLE8 ||
           bi->biCompression == BI_RLE4 || bi->biCompression == BI_BITFIELDS;
}

void ReadStream(PAVISTREAM s) {
    AVISTREAMINFO info{};
    AVIStreamInfo(s, &info, sizeof info);
    LONG format_size = 0;
    std::vector<std::uint8_t> format;
    if (AVIStreamReadFormat(s, AVIStreamStart(s), nullptr, &format_size) == AVIERR_OK &&
        format_size > 0 && format_size < (1 << 20)) {
        format.resize(static_cast<std::size_t>(format_size));
        AVIStreamReadFormat(s, AVIStreamStart(s), format.data(), &format_size);
    }
    const LONG start = AVIStreamStart(s);
    const LONG length = AVIStreamLength(s);
    AVIStreamSampleToTime(s, length);
    AVIStreamTimeToSample(s, 1000);
    std::vector<std::uint8_t> buffer;
    for (LONG p = start, n = 0; length > 0 && p < start + length && n < kMaxSamples; ++p, ++n) {
        LONG bytes = 0;
        if (AVIStreamRead(s, p, 1, nullptr, 0, &bytes, nullptr) != AVIERR_OK) continue;
        if (bytes < 0 || bytes > (1 << 24)) continue;
        buffer.resize(static_cast<std::size_t>(bytes) + 1);
        LONG got = 0, samples = 0;
        AVIStreamRead(s, p, 1, buffer.data(), bytes, &got, &samples);
    }
    for (LONG p = start + std::min(length, kMaxSamples) - 1, n = 0; p >= start && n < 16;
         p -= 3, ++n) {
        LONG bytes = 0;
        if (AVIStreamRead(s, p, 1, nullptr, 0, &bytes, nullptr) != AVIERR_OK) continue;
        if (bytes < 0 || bytes > (1 << 24)) continue;
        buffer.resize(static_cast<std::size_t>(bytes) + 1);
        AVIStreamRead(s, p, 1, buffer.data(), bytes, nullptr, nullptr);
    }
    for (LONG p = start, n = 0; p <= start + length && n < kMaxFrames; ++p, ++n)
        AVIStreamTimeToSample(s, AVIStreamSampleToTime(s, p));
    for (LONG p = AVIStreamFindSample(s, 0, FIND_NEXT | FIND_KEY), n = 0; p >= 0 && n < kMaxSamples;
         p = AVIStreamFindSample(s, p + 1, FIND_NEXT | FIND_KEY), ++n) {
    }
    if (info.fccType != streamtypeVIDEO) return;
    if (!BuiltInCodec(format)) {
        const auto* bi = reinterpret_cast<const BITMAPINFOHEADER*>(format.data());
        if (format.size() < sizeof(BITMAPINFOHEADER) ||
            std::llabs(bi->biWidth) * std::llabs(bi->biHeight) > kMaxCodecPixels)
            return;
        if (PGETFRAME decoder = AVIStreamGetFrameOpen(s, nullptr)) {
            for (LONG p = 0; p < length && p < kMaxCodecFrames; ++p)
                AVIStreamGetFrame(decoder, p);
            AVIStreamGetFrame(decoder, length - 1);
            AVIStreamGetFrameClose(decoder);
        }
        return;
    }
    for (const BITMAPINFOHEADER* wanted :
         {AVIGETFRAMEF_BESTDISPLAYFMT, static_cast<const BITMAPINFOHEADER*>(nullptr)}) {
        PGETFRAME decoder = AVIStreamGetFrameOpen(s, wanted);
        if (decoder == nullptr) continue;
        for (LONG p = 0; p < length && p < kMaxFrames; ++p)
            AVIStreamGetFrame(decoder, p);
        AVIStreamGetFrame(decoder, length); // past the end
        AVIStreamGetFrameClose(decoder);
        if (wanted == nullptr) break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PAVIFILE file = nullptr;
    auto view = MemoryStream::View({reinterpret_cast<const std::byte*>(data), size});
    if (AVIFileOpenStream(&file, std::move(view), OF_READ) != AVIERR_OK) return 0;
    AVIFILEINFO info{};
    AVIFileInfo(file, &info, sizeof info);
    for (LONG i = 0; i < 64; ++i) {
        PAVISTREAM s = nullptr;
        if (AVIFileGetStream(file, &s, 0, i) != AVIERR_OK) break;
        ReadStream(s);
        AVIStreamRelease(s);
    }
    AVIFileRelease(file);
    return 0;
}
