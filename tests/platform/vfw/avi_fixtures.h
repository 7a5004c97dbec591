// Helpers for the video service tests: formats, a writer of small AVI files
// through the service itself, and opening byte images from memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/base/bytestream.h"
#include "platform/vfw/vfw.h"
#include "support/bitmapheader.h"
#include "support/testutil.h"

namespace lum::vfwtest {

using namespace lum::platform;
using namespace lum::platform::vfw;
using Bytes = std::vector<std::uint8_t>;

inline Bytes BitmapFormat(LONG w, LONG h, WORD bits, DWORD compression, int colours = 0) {
    Bytes f(40 + 4 * colours, 0);
    const BITMAPINFOHEADER bi =
        lum::test::InfoHeader(w, h, bits, compression, static_cast<DWORD>(colours));
    std::memcpy(f.data(), &bi, 40);
    for (int i = 0; i < colours; ++i)
        f[40 + 4 * i] = static_cast<std::uint8_t>(i); // blue = index
    return f;
}

inline WAVEFORMATEX PcmFormat(WORD channels, DWORD rate, WORD bits) {
    WAVEFORMATEX w{};
    w.wFormatTag = WAVE_FORMAT_PCM;
    w.nChannels = channels;
    w.nSamplesPerSec = rate;
    w.wBitsPerSample = bits;
    w.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    w.nAvgBytesPerSec = rate * w.nBlockAlign;
    return w;
}

// Frame I of a test stream: recognisable bytes of a size that varies, and
// every fifth frame empty when Gaps is set.
inline Bytes FrameData(int i, bool gaps = false) {
    if (gaps && i % 5 == 3) return {};
    Bytes b(static_cast<std::size_t>(37 + (i * 53) % 211));
    for (std::size_t k = 0; k < b.size(); ++k)
        b[k] = static_cast<std::uint8_t>(i * 7 + k);
    return b;
}

inline AVISTREAMINFO VideoInfo(DWORD handler, DWORD scale, DWORD rate) {
    AVISTREAMINFO si{};
    si.fccType = streamtypeVIDEO;
    si.fccHandler = handler;
    si.dwScale = scale;
    si.dwRate = rate;
    return si;
}

inline AVISTREAMINFO AudioInfo(const WAVEFORMATEX& w) {
    AVISTREAMINFO si{};
    si.fccType = streamtypeAUDIO;
    si.dwScale = w.nBlockAlign;
    si.dwRate = w.nAvgBytesPerSec;
    si.dwSampleSize = w.nBlockAlign;
    return si;
}

// Creates a file and hands it to Body; the file is completed on release.
inline void CreateFile(const std::string& path, const std::function<void(PAVIFILE)>& body) {
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIFileOpen(&f, path, OF_CREATE | OF_READWRITE | OF_SHARE_EXCLUSIVE), AVIERR_OK);
    body(f);
    EXPECT_EQ(AVIFileRelease(f), 0u);
}

// A video stream of Frames frames (key every fifth from 0) plus, when
// Audio, a PCM stream of 4-byte blocks written between the frames.
inline void WriteTestAvi(const std::string& path, int frames, bool audio, bool gaps = false,
                         DWORD compression = MakeFourCC("XXXX")) {
    CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM v = nullptr, a = nullptr;
        AVISTREAMINFO vi = VideoInfo(compression, 1, 25);
        ASSERT_EQ(AVIFileCreateStream(f, &v, &vi), AVIERR_OK);
        Bytes fmt = BitmapFormat(32, 24, 24, compression);
        ASSERT_EQ(AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size())), AVIERR_OK);
        WAVEFORMATEX w = PcmFormat(2, 8000, 16);
        if (audio) {
            AVISTREAMINFO ai = AudioInfo(w);
            ASSERT_EQ(AVIFileCreateStream(f, &a, &ai), AVIERR_OK);
            ASSERT_EQ(AVIStreamSetFormat(a, 0, &w, sizeof w), AVIERR_OK);
        }
        LONG apos = 0;
        for (int i = 0; i < frames; ++i) {
            Bytes d = FrameData(i, gaps);
            ASSERT_EQ(AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()),
                                     i % 5 == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr),
                      AVIERR_OK);
            if (audio) {
                Bytes pcm(4 * 320);
                for (std::size_t k = 0; k < pcm.size(); ++k)
                    pcm[k] = static_cast<std::uint8_t>(apos * 4 + k);
                ASSERT_EQ(AVIStreamWrite(a, apos, 320, pcm.data(), static_cast<LONG>(pcm.size()), 0,
                                         nullptr, nullptr),
                          AVIERR_OK);
                apos += 320;
            }
        }
        AVIStreamRelease(v);
        if (a) AVIStreamRelease(a);
    });
}

// Opens a byte image as a file; the image must outlive the file.
inline HRESULT OpenImage(const Bytes& image, PAVIFILE* f) {
    auto view =
        MemoryStream::View({reinterpret_cast<const std::byte*>(image.data()), image.size()});
    return AVIFileOpenStream(f, std::move(view), OF_READ);
}

inline Bytes ReadSample(PAVISTREAM s, LONG pos) {
    LONG bytes = 0;
    EXPECT_EQ(AVIStreamRead(s, pos, 1, nullptr, 0, &bytes, nullptr), AVIERR_OK);
    Bytes b(static_cast<std::size_t>(bytes));
    LONG got = 0, n = 0;
    EXPECT_EQ(AVIStreamRead(s, pos, 1, b.data(), bytes, &got, &n), AVIERR_OK);
    EXPECT_EQ(n, 1);
    b.resize(static_cast<std::size_t>(got));
    return b;
}

inline std::vector<LONG> KeyFrames(PAVISTREAM s) {
    std::vector<LONG> keys;
    for (LONG p = AVIStreamFindSample(s, 0, FIND_NEXT | FIND_KEY); p >= 0;
         p = AVIStreamFindSample(s, p + 1, FIND_NEXT | FIND_KEY))
        keys.push_back(p);
    return keys;
}

// Finds the first occurrence of a four-character tag in an image.
inline std::size_t FindTag(const Bytes& image, const char* tag, std::size_t from = 0) {
    for (std::size_t i = from; i + 4 <= image.size(); ++i)
        if (std::memcmp(&image[i], tag, 4) == 0) return i;
    return std::string::npos;
}

inline std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline void SetLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace lum::vfwtest
