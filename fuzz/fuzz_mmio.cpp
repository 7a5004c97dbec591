// Fuzzes the buffered RIFF service on a read-only "MEM " image: walk every
// chunk and list with mmioDescend and mmioAscend, read each body through a
// small buffer, and search for chunks by identifier and form type. Inside
// one parent each chunk must start after the one before it: a position
// that stands still or goes back would walk the same chunks for ever.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/mmio/mmio.h"

using namespace lum::platform;
using namespace lum::platform::mmio;

namespace {

constexpr int kMaxDepth = 8;

void WalkChunks(HMMIO h, const MMCKINFO* parent, int depth) {
    MMCKINFO ck{};
    long last = -1;
    while (mmioDescend(h, &ck, parent, 0) == MMSYSERR_NOERROR) {
        const long at = static_cast<long>(ck.dwDataOffset);
        if (at <= last) std::abort();
        last = at;
        char body[64];
        mmioRead(h, body, sizeof body);
        if ((ck.ckid == FOURCC_RIFF || ck.ckid == FOURCC_LIST) && depth < kMaxDepth)
            WalkChunks(h, &ck, depth + 1);
        if (mmioAscend(h, &ck, 0) != MMSYSERR_NOERROR) break;
    }
}

HMMIO OpenImage(const std::uint8_t* data, std::size_t size) {
    MMIOINFO info{};
    info.fccIOProc = FOURCC_MEM;
    info.pchBuffer = reinterpret_cast<HPSTR>(const_cast<std::uint8_t*>(data));
    info.cchBuffer = static_cast<LONG>(size);
    return mmioOpen(nullptr, &info, MMIO_READ);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > (1u << 20)) return 0;
    // The image is read-only: a reader that wrote to it would be caught here.
    std::vector<std::uint8_t> copy(data, data + size);
    HMMIO h = OpenImage(copy.data(), copy.size());
    if (h == nullptr) return 0;
    WalkChunks(h, nullptr, 0);
    mmioSeek(h, 0, SEEK_SET);
    MMCKINFO riff{}, list{}, chunk{};
    riff.fccType = 0;
    if (mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF) == MMSYSERR_NOERROR) {
        list.fccType = mmioFOURCC('h', 'd', 'r', 'l');
        if (mmioDescend(h, &list, &riff, MMIO_FINDLIST) == MMSYSERR_NOERROR)
            mmioAscend(h, &list, 0);
        chunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
        if (mmioDescend(h, &chunk, &riff, MMIO_FINDCHUNK) == MMSYSERR_NOERROR) {
            std::vector<std::uint8_t> body(std::min<std::size_t>(chunk.cksize, size));
            mmioRead(h, body.data(), static_cast<LONG>(body.size()));
        }
    }
    mmioClose(h, 0);
    for (std::size_t i = 0; i < size; ++i)
        if (copy[i] != data[i]) std::abort();
    return 0;
}
