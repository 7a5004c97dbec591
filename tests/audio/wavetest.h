// Helpers for the wave tests: RIFF and WAVE bytes built by hand (not by the
// code under test), memory-image files, and global-heap strings.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/lumwaveio.h"
#include "core/lumutils.h"
#include "platform/mmio/mmio.h"

namespace lum::test::wave {

using Bytes = std::vector<std::uint8_t>;

inline void PutLE(Bytes& b, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A chunk; Size overrides the size field; Pad adds the pad byte after an
// odd body.
inline Bytes Chunk(const char* id, const Bytes& body, bool pad = true, std::int64_t size = -1) {
    Bytes b(id, id + 4);
    PutLE(b, static_cast<std::uint32_t>(size < 0 ? std::int64_t(body.size()) : size), 4);
    b.insert(b.end(), body.begin(), body.end());
    if (pad && (body.size() & 1)) b.push_back(0);
    return b;
}

inline Bytes Form(const char* id, const char* type, const Bytes& body, std::int64_t size = -1) {
    return Chunk(id, Cat({Text(type), body}), true, size < 0 ? -1 : size);
}

inline Bytes Riff(const Bytes& body, std::int64_t size = -1) {
    return Form("RIFF", "WAVE", body, size);
}

// The body of a fmt chunk: the 16 bytes of every format, then cbSize and
// extra bytes when Extended.
struct Fmt {
    std::uint16_t tag = 1;
    std::uint16_t channels = 1;
    std::uint32_t rate = 8000;
    std::uint32_t avg = 8000;
    std::uint16_t align = 1;
    std::uint16_t bits = 8;
    bool extended = false;
    std::uint16_t cbSize = 0;
    Bytes extra;

    Bytes Body() const {
        Bytes b;
        PutLE(b, tag, 2);
        PutLE(b, channels, 2);
        PutLE(b, rate, 4);
        PutLE(b, avg, 4);
        PutLE(b, align, 2);
        PutLE(b, bits, 2);
        if (extended) {
            PutLE(b, cbSize, 2);
            b.insert(b.end(), extra.begin(), extra.end());
        }
        return b;
    }
};

inline Fmt Pcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    Fmt f;
    f.channels = channels;
    f.rate = rate;
    f.bits = bits;
    f.align = static_cast<std::uint16_t>(channels * bits / 8);
    f.avg = f.align * rate;
    return f;
}

inline Bytes Ramp(std::size_t n, std::uint8_t start = 0) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(start + i);
    return b;
}

// A wave file: fmt, data and any chunks after them.
inline Bytes Wave(const Fmt& f, const Bytes& data, const Bytes& after = {}) {
    return Riff(Cat({Chunk("fmt ", f.Body()), Chunk("data", data), after}));
}

// A control block over a memory image, freed by the test's end.
class MemWave {
public:
    explicit MemWave(Bytes image) : image_(std::move(image)) {
        result_ =
            wioBuildFileInfoFromMem(cb_, image_.data(), static_cast<std::int32_t>(image_.size()));
    }
    ~MemWave() {
        if (cb_) {
            wioWaveClose(cb_);
            wioFreeFileInfo(cb_);
        }
    }
    MemWave(const MemWave&) = delete;
    MemWave& operator=(const MemWave&) = delete;
    int Result() const { return result_; }
    PWAVEIOCB operator->() const { return cb_; }
    PWAVEIOCB& Block() { return cb_; }

    // Every byte of the read window, read in pieces of Step bytes.
    Bytes ReadAll(std::int32_t step = 4096, bool direct = false) {
        Bytes out;
        if (wioWaveOpen(cb_) != WIOERR_NOERROR || wioWaveSetPosition(cb_, 0) != WIOERR_NOERROR)
            return out;
        Bytes buffer(static_cast<std::size_t>(step));
        for (;;) {
            const std::int32_t n = direct ? wioWaveReadDataDirect(cb_, buffer.data(), step)
                                          : wioWaveReadData(cb_, buffer.data(), step);
            if (n <= 0) break;
            out.insert(out.end(), buffer.begin(), buffer.begin() + n);
        }
        return out;
    }

private:
    Bytes image_;
    PWAVEIOCB cb_ = nullptr;
    int result_ = -1;
};

// A global-heap copy of a string, as the INFO functions take them.
inline char* HeapText(const std::string& s) {
    auto* p = static_cast<char*>(GlobalAllocMem(s.size() + 1));
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

inline void* HeapBytes(const Bytes& b) {
    void* p = GlobalAllocMem(b.size());
    if (!b.empty()) std::memcpy(p, b.data(), b.size());
    return p;
}

// A growable memory image to write into with the mmio service.
inline platform::mmio::HMMIO NewImage() {
    platform::mmio::MMIOINFO info{};
    info.fccIOProc = platform::mmio::FOURCC_MEM;
    info.adwInfo[0] = 1024;
    return platform::mmio::mmioOpen(nullptr, &info,
                                    platform::mmio::MMIO_CREATE | platform::mmio::MMIO_READWRITE);
}

// The bytes of an open memory image.
inline Bytes ImageBytes(platform::mmio::HMMIO h) {
    using namespace platform::mmio;
    const LONG here = mmioSeek(h, 0, SEEK_CUR);
    const LONG end = mmioSeek(h, 0, SEEK_END);
    Bytes b(static_cast<std::size_t>(end));
    mmioSeek(h, 0, SEEK_SET);
    mmioRead(h, b.data(), end);
    mmioSeek(h, here, SEEK_SET);
    return b;
}

// A read-only memory image over Bytes (which must outlive the handle).
inline platform::mmio::HMMIO OpenImage(Bytes& bytes) {
    using namespace platform::mmio;
    MMIOINFO info{};
    info.fccIOProc = FOURCC_MEM;
    info.pchBuffer = reinterpret_cast<char*>(bytes.data());
    info.cchBuffer = static_cast<LONG>(bytes.size());
    return mmioOpen(nullptr, &info, MMIO_READ);
}

// The chunk identifiers of a RIFF file's body, in order, with "LIST/TYPE"
// for lists: "fmt  data fact LIST/INFO".
inline std::string ChunkOrder(const Bytes& file) {
    std::string out;
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        std::string id(file.begin() + static_cast<long>(at),
                       file.begin() + static_cast<long>(at) + 4);
        std::uint32_t size;
        std::memcpy(&size, file.data() + at + 4, 4);
        if (id == "LIST" && at + 12 <= file.size())
            id += "/" + std::string(file.begin() + static_cast<long>(at) + 8,
                                    file.begin() + static_cast<long>(at) + 12);
        out += (out.empty() ? "" : " ") + id;
        at += 8 + size + (size & 1);
    }
    return out;
}

} // namespace lum::test::wave
