// Helpers for the mmio tests: RIFF bytes built by hand (independent of the
// service under test), memory-image records and a chunk walker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mmio/mmio.h"

namespace lum::test::mmio {

using Bytes = std::vector<std::uint8_t>;
using namespace lum::platform;
using namespace lum::platform::mmio;

inline void Append32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void AppendId(Bytes& b, const char* id) {
    b.insert(b.end(), id, id + 4);
}
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}
inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A chunk with its header; Size overrides the size field, Pad adds the pad
// byte after an odd body.
inline Bytes Chunk(const char* id, const Bytes& body, bool pad = true, std::int64_t size = -1) {
    Bytes b;
    AppendId(b, id);
    Append32(b,
             size < 0 ? static_cast<std::uint32_t>(body.size()) : static_cast<std::uint32_t>(size));
    b.insert(b.end(), body.begin(), body.end());
    if (pad && (body.size() & 1)) b.push_back(0);
    return b;
}
// A RIFF or LIST chunk of a form type around already built chunks.
inline Bytes Form(const char* id, const char* type, const std::vector<Bytes>& parts,
                  std::int64_t size = -1) {
    Bytes body;
    AppendId(body, type);
    for (const Bytes& p : parts)
        body.insert(body.end(), p.begin(), p.end());
    return Chunk(id, body, true, size);
}

// A read-only memory-image record over Data.
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

// Lists the chunks inside a RIFF form as "id:size" ("LIST/type:size" for
// lists, recursing into them) and ends with "|" and the result code that
// stopped the walk.
inline std::string WalkChunks(HMMIO h, const MMCKINFO& parent) {
    std::string out;
    MMCKINFO ck{};
    MMRESULT r;
    while ((r = mmioDescend(h, &ck, &parent, 0)) == MMSYSERR_NOERROR) {
        if (!out.empty()) out += ' ';
        out += FourCCText(ck.ckid);
        if (ck.ckid == FOURCC_LIST) {
            out += "/" + FourCCText(ck.fccType) + ":" + std::to_string(ck.cksize) + "[";
            std::string inner = WalkChunks(h, ck);
            out += inner.substr(0, inner.find('|')) + "]";
        } else {
            out += ":" + std::to_string(ck.cksize);
        }
        if ((r = mmioAscend(h, &ck, 0)) != MMSYSERR_NOERROR) break;
    }
    return out + "|" + std::to_string(r);
}

} // namespace lum::test::mmio
