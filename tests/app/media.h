// Test media for the extraction: uncompressed 24-bit AVI files whose
// frames are painted by a function, a wave file with no video, and reading
// back the BMP files written.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/vfw/avi_fixtures.h"
#include "support/testutil.h"

namespace lum::apptest {

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

// Colour of pixel (x, y) of a frame, y counted from the top.
using Painter = std::function<Rgb(int frame, int x, int y)>;

inline Painter Solid(std::vector<Rgb> colours) {
    return [colours](int frame, int, int) { return colours[static_cast<std::size_t>(frame)]; };
}

// Frames of Width x Height, "DIB " at 25 frames a second, every frame a key.
inline void WriteAvi(const std::string& path, int frames, int width, int height,
                     const Painter& paint) {
    using namespace lum::vfwtest;
    CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM v = nullptr;
        AVISTREAMINFO vi = VideoInfo(MakeFourCC("DIB "), 1, 25);
        ASSERT_EQ(AVIFileCreateStream(f, &v, &vi), AVIERR_OK);
        Bytes fmt = BitmapFormat(width, height, 24, BI_RGB);
        ASSERT_EQ(AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size())), AVIERR_OK);
        const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
        for (int i = 0; i < frames; ++i) {
            Bytes d(stride * static_cast<std::size_t>(height), 0);
            for (int y = 0; y < height; ++y) {
                std::uint8_t* row = &d[stride * static_cast<std::size_t>(height - 1 - y)];
                for (int x = 0; x < width; ++x) {
                    Rgb c = paint(i, x, y);
                    row[3 * x] = c.b;
                    row[3 * x + 1] = c.g;
                    row[3 * x + 2] = c.r;
                }
            }
            ASSERT_EQ(AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()), AVIIF_KEYFRAME,
                                     nullptr, nullptr),
                      AVIERR_OK);
        }
        AVIStreamRelease(v);
    });
}

// A short 8-bit mono PCM wave file.
inline void WriteWave(const std::string& path) {
    std::string b;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b += static_cast<char>(v >> (8 * i));
    };
    auto u16 = [&](std::uint16_t v) {
        b += static_cast<char>(v);
        b += static_cast<char>(v >> 8);
    };
    const std::uint32_t samples = 800;
    b += "RIFF";
    u32(36 + samples);
    b += "WAVEfmt ";
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(8000);
    u32(8000);
    u16(1);
    u16(8);
    b += "data";
    u32(samples);
    b.append(samples, static_cast<char>(128));
    lum::test::WriteFile(path, {b.begin(), b.end()});
}

// A 24-bit BMP read back: its header fields and its pixels, top row first.
struct Bmp {
    bool ok = false;
    std::uint32_t fileSize = 0, offset = 0, infoSize = 0, compression = 0;
    std::int32_t width = 0, height = 0;
    std::uint16_t planes = 0, bits = 0;
    std::vector<std::uint8_t> bytes;

    Rgb Pixel(int x, int y) const {
        const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
        const std::uint8_t* p = &bytes[offset + stride * static_cast<std::size_t>(height - 1 - y) +
                                       3 * static_cast<std::size_t>(x)];
        return {p[2], p[1], p[0]};
    }
};

inline Bmp ReadBmp(const std::string& path) {
    Bmp m;
    m.bytes = lum::test::ReadFile(path);
    if (m.bytes.size() < 54 || m.bytes[0] != 'B' || m.bytes[1] != 'M') return m;
    auto at = [&](std::size_t o, auto& v) { std::memcpy(&v, &m.bytes[o], sizeof v); };
    at(2, m.fileSize);
    at(10, m.offset);
    at(14, m.infoSize);
    at(18, m.width);
    at(22, m.height);
    at(26, m.planes);
    at(28, m.bits);
    at(30, m.compression);
    m.ok = true;
    return m;
}

} // namespace lum::apptest
