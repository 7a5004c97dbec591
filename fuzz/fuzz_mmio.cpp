// Fuzzes the buffered RIFF service on a read-only "MEM " image: walk every
// chunk and list with mmioDescend and mmioAscend, read each body through a
// small buffer, and search for chunks by identifier and form type. Every
// descent moves past a chunk header, so the walk must end within the
// image's size in steps at each nesting level (a chunk may claim to reach
// past its parent, so a level may walk bytes its parent's walk covers
// again); more would mean the reader stands still.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/mmio/mmio.h"

using namespace lum::platform;
using namespace lum::platform::mmio;

namespace {

constexpr int kMaxDepth = 16;

struct Walk {
    HMMIO h;
    std::size_t steps = 0;
    std::size_t limit;
};

void WalkChunks(Walk& w, const MMCKINFO* parent, int depth) {
    MMCKINFO ck{};
    while (mmioDescend(w.h, &ck, parent, 0) == MMSYSERR_NOERROR) {
        if (++w.steps > w.limit) std::abort();
        char body[64];
        mmioRead(w.h, body, sizeof body);
        if ((ck.ckid == FOURCC_RIFF || ck.ckid == FOURCC_LIST) && depth < kMaxDepth)
            WalkChunks(w, &ck, depth + 1);
        if (mmioAscend(w.h, &ck, 0) != MMSYSERR_NOERROR) break;
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
    Walk w{h, 0, (size / 8 + 1) * (kMaxDepth + 2)};
    WalkChunks(w, nullptr, 0);
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
