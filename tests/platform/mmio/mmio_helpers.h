// Helpers for the mmio tests: RIFF bytes built by hand (independent of the
// service under test), memory-image records and a chunk walker.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mmio/mmio.h"
#include "support/testutil.h"

namespace lum::test::mmio {

using Bytes = std::vector<std::uint8_t>;
using namespace lum::platform;
using namespace lum::platform::mmio;

inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A chunk with its header; Size overrides the size field, Pad adds the pad
// byte after an odd body.
inline Bytes Chunk(const char* id, const Bytes& body, bool pad = true, std::int64_t size = -1) {
    Bytes b(id, id + 4);
    auto field = static_cast<std::uint32_t>(size < 0 ? std::int64_t(body.size()) : size);
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(field >> (8 * i)));
    b.insert(b.end(), body.begin(), body.end());
    if (pad && (body.size() & 1)) b.push_back(0);
    return b;
}
// A RIFF or LIST chunk of a form type around already built chunks.
inline Bytes Form(const char* id, const char* type, const std::vector<Bytes>& parts,
                  std::int64_t size = -1) {
    Bytes body(type, type + 4);
    for (const Bytes& p : parts)
        body.insert(body.end(), p.begin(), p.end());
    return Chunk(id, body, true, size);
}

// A memory-image record over Data.
inline MMIOINFO MemoryInfo(Bytes& data, DWORD growBy = 0) {
    MMIOINFO info{};
    info.fccIOProc = FOURCC_MEM;
    info.pchBuffer = reinterpret_cast<char*>(data.data());
    info.cchBuffer = static_cast<LONG>(data.size());
    info.adwInfo[0] = growBy;
    return info;
}

inline std::string FourCCText(FOURCC f) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(f >> (8 * i));
    return s;
}

// Lists the chunks inside a parent as "id:size" ("LIST/type:size[...]" for
// lists, recursing into them), then "|" and the code that ended the walk.
inline std::string WalkChunks(HMMIO h, const MMCKINFO& parent) {
    std::string out;
    MMCKINFO ck{};
    MMRESULT r;
    while ((r = mmioDescend(h, &ck, &parent, 0)) == MMSYSERR_NOERROR) {
        out += (out.empty() ? "" : " ") + FourCCText(ck.ckid);
        if (ck.ckid == FOURCC_LIST) {
            std::string inner = WalkChunks(h, ck);
            out += "/" + FourCCText(ck.fccType) + ":" + std::to_string(ck.cksize) + "[" +
                   inner.substr(0, inner.find('|')) + "]";
        } else {
            out += ":" + std::to_string(ck.cksize);
        }
        if ((r = mmioAscend(h, &ck, 0)) != MMSYSERR_NOERROR) break;
    }
    return out + "|" + std::to_string(r);
}

// A new, empty file on one of the media, opened for reading and writing.
enum class Medium { SmallBuffer, CallerBuffer, Unbuffered, GrowableMemory, FixedMemory };

class NewFile {
public:
    explicit NewFile(Medium m) : medium_(m) {}
    HMMIO Open() {
        MMIOINFO info{};
        const DWORD rw = MMIO_READWRITE | MMIO_CREATE;
        switch (medium_) {
        case Medium::SmallBuffer: // small, so chunks straddle buffer boundaries
            info.cchBuffer = 7;
            return mmioOpen(path_.c_str(), &info, rw | MMIO_ALLOCBUF);
        case Medium::CallerBuffer:
            info.pchBuffer = buffer_;
            info.cchBuffer = sizeof buffer_;
            return mmioOpen(path_.c_str(), &info, rw);
        case Medium::Unbuffered:
            return mmioOpen(path_.c_str(), &info, rw);
        case Medium::GrowableMemory:
            info.fccIOProc = FOURCC_MEM;
            info.cchBuffer = 3;
            info.adwInfo[0] = 5;
            return mmioOpen(nullptr, &info, rw);
        case Medium::FixedMemory:
            image_.assign(1 << 16, 0xEE);
            info = MemoryInfo(image_);
            return mmioOpen(nullptr, &info, rw);
        }
        return nullptr;
    }
    bool Memory() const { return medium_ >= Medium::GrowableMemory; }
    // Closes the file and returns its bytes.
    Bytes Close(HMMIO h) {
        Bytes image;
        if (Memory()) {
            MMIOINFO info{};
            EXPECT_EQ(mmioGetInfo(h, &info, 0), MMSYSERR_NOERROR);
            image.assign(info.pchBuffer, info.pchBuffer + mmioSeek(h, 0, SEEK_END));
        }
        EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
        return Memory() ? image : ReadFile(path_);
    }

private:
    Medium medium_;
    TempDir dir_;
    std::string path_ = dir_.File("new.riff");
    char buffer_[16] = {};
    Bytes image_;
};

inline const auto kAllMedia =
    ::testing::Values(Medium::SmallBuffer, Medium::CallerBuffer, Medium::Unbuffered,
                      Medium::GrowableMemory, Medium::FixedMemory);

} // namespace lum::test::mmio
