// Builders of damaged test images: an AVI built field by field so that a
// test can damage exactly one field, a canonical WAV and an AU file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "avi_fixtures.h"

namespace lum::damagedtest {

using namespace lum::vfwtest;

inline void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Append32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void AppendTag(Bytes& b, const char* tag) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(tag[i]));
}
inline Bytes Chunk(const char* tag, const Bytes& data) {
    Bytes c;
    AppendTag(c, tag);
    Append32(c, static_cast<std::uint32_t>(data.size()));
    c.insert(c.end(), data.begin(), data.end());
    if (data.size() % 2) c.push_back(0);
    return c;
}
inline Bytes List(const char* type, const std::vector<Bytes>& parts, const char* tag = "LIST") {
    Bytes body;
    AppendTag(body, type);
    for (const Bytes& p : parts)
        body.insert(body.end(), p.begin(), p.end());
    return Chunk(tag, body);
}

// An AVI with one video stream, built field by field so that a row can
// damage exactly one of them. The frames default to 8 x 4 pixels at 8 bits:
// 32 bytes of plain rows each.
struct AviSpec {
    LONG width = 8, height = 4;
    WORD bits = 8;
    DWORD compression = BI_RGB;
    DWORD clr_used = 4;
    DWORD scale = 1, rate = 10;
    std::size_t strf_size = 40 + 16; // header and table as stored
    std::vector<Bytes> frames;
    bool index = true;
    // Index entry I's offset, relative to "movi" as writers store it.
    std::function<std::uint32_t(std::size_t i, std::uint32_t offset)> index_offset;
};

inline Bytes PlainFrame(int i) {
    Bytes f(32);
    for (std::size_t k = 0; k < f.size(); ++k)
        f[k] = static_cast<std::uint8_t>((i + k) % 4);
    return f;
}

inline AviSpec PlainSpec(int frames = 5) {
    AviSpec s;
    for (int i = 0; i < frames; ++i)
        s.frames.push_back(PlainFrame(i));
    return s;
}

inline Bytes BuildAvi(const AviSpec& s) {
    Bytes avih;
    for (DWORD v :
         {DWORD{100000}, DWORD{0}, DWORD{0}, DWORD{0x10}, static_cast<DWORD>(s.frames.size()),
          DWORD{0}, DWORD{1}, DWORD{0}, static_cast<DWORD>(s.width), static_cast<DWORD>(s.height),
          DWORD{0}, DWORD{0}, DWORD{0}, DWORD{0}})
        Append32(avih, v);
    Bytes strh;
    AppendTag(strh, "vids");
    Append32(strh, 0); // handler
    Append32(strh, 0); // flags
    Append32(strh, 0); // priority, language
    Append32(strh, 0); // initial frames
    Append32(strh, s.scale);
    Append32(strh, s.rate);
    Append32(strh, 0); // start
    Append32(strh, static_cast<DWORD>(s.frames.size()));
    Append32(strh, 0);          // suggested buffer
    Append32(strh, 0xFFFFFFFF); // quality
    Append32(strh, 0);          // sample size
    Append32(strh, 0);
    Append32(strh, 0); // frame rectangle
    Bytes strf = BitmapFormat(s.width, s.height, s.bits, s.compression, 0);
    SetLe32(strf, 32, s.clr_used);
    for (int i = 0; i < 4; ++i)
        for (int c = 0; c < 3; ++c)
            strf.push_back(static_cast<std::uint8_t>(60 * i + 20 * c));
    for (int i = 0; i < 4; ++i)
        strf.insert(strf.begin() + 40 + 4 * i + 3, std::uint8_t{0});
    strf.resize(s.strf_size, 0);
    Bytes hdrl = List(
        "hdrl", {Chunk("avih", avih), List("strl", {Chunk("strh", strh), Chunk("strf", strf)})});
    std::vector<Bytes> movi_parts;
    Bytes idx;
    std::uint32_t offset = 4;
    for (std::size_t i = 0; i < s.frames.size(); ++i) {
        Bytes c = Chunk("00dc", s.frames[i]);
        AppendTag(idx, "00dc");
        Append32(idx, i == 0 ? AVIIF_KEYFRAME : 0);
        Append32(idx, s.index_offset ? s.index_offset(i, offset) : offset);
        Append32(idx, static_cast<std::uint32_t>(s.frames[i].size()));
        offset += static_cast<std::uint32_t>(c.size());
        movi_parts.push_back(std::move(c));
    }
    std::vector<Bytes> top = {hdrl, List("movi", movi_parts)};
    if (s.index) top.push_back(Chunk("idx1", idx));
    Bytes body;
    for (const Bytes& t : top)
        body.insert(body.end(), t.begin(), t.end());
    Bytes out;
    AppendTag(out, "RIFF");
    Append32(out, static_cast<std::uint32_t>(body.size() + 4));
    AppendTag(out, "AVI ");
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// The canonical 16-bit stereo WAV of Blocks sample blocks.
inline Bytes BuildWav(int blocks, WORD align = 4) {
    Bytes fmt(16, 0);
    Put16(fmt, 0, WAVE_FORMAT_PCM);
    Put16(fmt, 2, 2);
    SetLe32(fmt, 4, 8000);
    SetLe32(fmt, 8, 8000u * align);
    Put16(fmt, 12, align);
    Put16(fmt, 14, 16);
    Bytes data(static_cast<std::size_t>(blocks) * 4);
    for (std::size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<std::uint8_t>(k * 3);
    return List("WAVE", {Chunk("fmt ", fmt), Chunk("data", data)}, "RIFF");
}

inline Bytes BuildAu(std::uint32_t offset, std::uint32_t size, std::uint32_t encoding, int bytes) {
    Bytes b;
    for (std::uint32_t v : {0x2E736E64u, offset, size, encoding, 8000u, 1u})
        for (int i = 3; i >= 0; --i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    b.resize(std::max<std::size_t>(offset, 24), 0);
    for (int k = 0; k < bytes; ++k)
        b.push_back(static_cast<std::uint8_t>(k));
    return b;
}

// A file of tests/data/damaged/, found from this header's own place in the
// tree so that the tests read it from any working folder.
inline std::string DamagedFile(const std::string& name) {
    return (std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "data" /
            "damaged" / name)
        .string();
}

} // namespace lum::damagedtest
