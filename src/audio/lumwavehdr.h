// The buffers the wave output device sends along the chain: the platform's
// wave header followed by fields that let a source loop. Only headers that
// come from TLumWaveOut carry the extension; a source reads it only when
// the looping marker may be there (the output's Looping is known to it).
#pragma once

#include <cstdint>

#include "platform/base/wintypes.h"

namespace lum {

struct TLumWaveHeader {
    platform::WAVEHDR Hdr;
    platform::DWORD Reserved1; // left untouched
    platform::DWORD Reserved2;
    TLumWaveHeader* NextHeader;   // the next header of the ring, set before each hand-back
    platform::DWORD LoopMarker;   // kLumLoopMarker when the output loops, else 0
    platform::DWORD LoopCount;    // the output's LoopCount while looping
    std::int32_t LoopsLeft;       // counted down by the source at each wrap
    platform::DWORD LoopHappened; // all bits set by a source that wrapped in this buffer
};

constexpr platform::DWORD kLumLoopMarker = 0xFFFFFFFF;

// The extension of a header the wave output handed out.
inline TLumWaveHeader* LumWaveHeader(platform::WAVEHDR* hdr) {
    return reinterpret_cast<TLumWaveHeader*>(hdr);
}

} // namespace lum
