// Helpers for the compression, edit-stream and saving tests: small videos
// of real pictures (each frame different, smooth enough for lossy codecs),
// decoding a stream's frames, and comparing pictures.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "avi_fixtures.h"
#include "platform/vfw/compress.h"
#include "platform/vfw/editstream.h"
#include "platform/vfw/savev.h"

namespace lum::vfwtest {

// Frame I of a moving gradient as a bottom-up 24-bit DIB's pixels.
inline Bytes Picture(int w, int h, int i) {
    const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
    Bytes px(stride * static_cast<std::size_t>(h), 0);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = &px[stride * static_cast<std::size_t>(h - 1 - y)];
        for (int x = 0; x < w; ++x) {
            row[3 * x + 0] = static_cast<std::uint8_t>((x * 2 + i * 40) & 0xFF);       // blue
            row[3 * x + 1] = static_cast<std::uint8_t>((y * 3 + i * 23) & 0xFF);       // green
            row[3 * x + 2] = static_cast<std::uint8_t>(((x + y) * 2 + i * 61) & 0xFF); // red
        }
    }
    return px;
}

// An uncompressed 24-bit video of Frames pictures at 25 frames a second,
// with a PCM stream beside it when Audio.
inline void WriteRgbAvi(const std::string& path, int w, int h, int frames, bool audio = false) {
    CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM v = nullptr, a = nullptr;
        AVISTREAMINFO vi = VideoInfo(0, 1, 25);
        ASSERT_EQ(AVIFileCreateStream(f, &v, &vi), AVIERR_OK);
        Bytes fmt = BitmapFormat(w, h, 24, BI_RGB);
        ASSERT_EQ(AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size())), AVIERR_OK);
        WAVEFORMATEX wf = PcmFormat(1, 8000, 16);
        if (audio) {
            AVISTREAMINFO ai = AudioInfo(wf);
            ASSERT_EQ(AVIFileCreateStream(f, &a, &ai), AVIERR_OK);
            ASSERT_EQ(AVIStreamSetFormat(a, 0, &wf, sizeof wf), AVIERR_OK);
        }
        for (int i = 0; i < frames; ++i) {
            Bytes px = Picture(w, h, i);
            ASSERT_EQ(AVIStreamWrite(v, i, 1, px.data(), static_cast<LONG>(px.size()),
                                     AVIIF_KEYFRAME, nullptr, nullptr),
                      AVIERR_OK);
        }
        if (audio) {
            // 320 samples a frame: sample S holds S.
            std::vector<std::int16_t> pcm(static_cast<std::size_t>(frames) * 320);
            for (std::size_t s = 0; s < pcm.size(); ++s)
                pcm[s] = static_cast<std::int16_t>(s);
            ASSERT_EQ(AVIStreamWrite(a, 0, static_cast<LONG>(pcm.size()), pcm.data(),
                                     static_cast<LONG>(pcm.size() * 2), 0, nullptr, nullptr),
                      AVIERR_OK);
            AVIStreamRelease(a);
        }
        AVIStreamRelease(v);
    });
}

// Opens the first stream of Type of a file.
inline PAVISTREAM OpenStream(const std::string& path, FOURCC type = streamtypeVIDEO) {
    PAVISTREAM s = nullptr;
    EXPECT_EQ(AVIStreamOpenFromFile(&s, path, type, 0, OF_READ | OF_SHARE_DENY_WRITE), AVIERR_OK);
    return s;
}

// A stream's whole format at its start.
inline Bytes FormatOf(PAVISTREAM s) {
    LONG size = 0;
    if (AVIStreamReadFormat(s, AVIStreamStart(s), nullptr, &size) != AVIERR_OK) return {};
    Bytes f(static_cast<std::size_t>(size));
    if (AVIStreamReadFormat(s, AVIStreamStart(s), f.data(), &size) != AVIERR_OK) return {};
    return f;
}

// The 24-bit bottom-up pixels of every frame of a video stream.
inline std::vector<Bytes> DecodeAll(PAVISTREAM s) {
    std::vector<Bytes> out;
    BITMAPINFOHEADER want{};
    want.biSize = 40;
    want.biPlanes = 1;
    want.biBitCount = 24;
    PGETFRAME g = AVIStreamGetFrameOpen(s, &want);
    EXPECT_NE(g, nullptr);
    if (!g) return out;
    const LONG start = AVIStreamStart(s);
    for (LONG p = start; p < start + AVIStreamLength(s); ++p) {
        auto* dib = static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(g, p));
        EXPECT_NE(dib, nullptr) << "frame " << p;
        if (!dib) break;
        const auto* px = reinterpret_cast<const std::uint8_t*>(dib) + dib->biSize;
        const std::size_t stride = (static_cast<std::size_t>(dib->biWidth) * 3 + 3) & ~3u;
        out.emplace_back(px, px + stride * static_cast<std::size_t>(std::abs(dib->biHeight)));
    }
    AVIStreamGetFrameClose(g);
    return out;
}

// Peak signal to noise of B against A, in dB (99 when equal).
inline double Psnr(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double se = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        se += d * d;
    }
    if (se == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / se);
}

// A handler code from a string of four characters.
inline FOURCC Code(const char* s) {
    return MakeFourCC(s[0], s[1], s[2], s[3]);
}

// Whether a lossy copy of frame I of Picture is close to it, and closer to
// it than to the frames beside it (a picture upside down, with its channels
// swapped or from the wrong position fails this).
inline void ExpectPicture(const Bytes& got, int w, int h, int i) {
    const double own = Psnr(Picture(w, h, i), got);
    EXPECT_GT(own, 20.0) << "frame " << i;
    for (int n : {i - 1, i + 1}) {
        if (n < 0) continue;
        EXPECT_GT(own, Psnr(Picture(w, h, n), got) + 3) << "frame " << i << " vs " << n;
    }
}

inline AVICOMPRESSOPTIONS Options(const char* handler, DWORD key_every = 0,
                                  DWORD quality = 0xFFFFFFFF) {
    AVICOMPRESSOPTIONS o{};
    o.fccType = streamtypeVIDEO;
    o.fccHandler = Code(handler);
    o.dwQuality = quality;
    o.dwKeyFrameEvery = key_every;
    o.dwFlags = AVICOMPRESSF_VALID | (key_every ? AVICOMPRESSF_KEYFRAMES : 0);
    return o;
}

// The ids of the chunks in a file's movi lists, in file order ("00dc", ...).
inline std::vector<std::string> MoviChunks(const std::string& path) {
    const Bytes b = lum::test::ReadFile(path);
    std::vector<std::string> ids;
    std::size_t movi = FindTag(b, "movi");
    if (movi == std::string::npos) return ids;
    const std::size_t end = movi + Le32(b, movi - 4); // the list's data ends there
    for (std::size_t at = movi + 4; at + 8 <= std::min(end, b.size());) {
        std::string id(reinterpret_cast<const char*>(&b[at]), 4);
        const std::uint32_t size = Le32(b, at + 4);
        if (id == "LIST") {
            at += 12; // into the record
            continue;
        }
        if (id != "JUNK") ids.push_back(id);
        at += 8 + size + (size & 1);
    }
    return ids;
}

} // namespace lum::vfwtest
