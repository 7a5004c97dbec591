// Inside of the DIB canvas: the module drawing state's pass handling,
// shared by the canvas and the primitives. Not for use elsewhere.
#pragma once

#include <cstdint>
#include <mutex>

#include "video/lumdibcv.h"

namespace lum::dibcv {

// The program-wide lock of drawing passes.
std::recursive_mutex& PassMutex();
// Takes the lock and makes State the module's, keeping an outer pass's
// state for ClosePass; the clip is limited to the surface.
void OpenPass(const TLumDIBDrawState& state, bool topDown);
// Gives back the outer pass's state (or none) and the lock.
void ClosePass();
TLumDIBDrawState& State();
// A colour value replicated over 32 bits for 8 and 16 bits.
std::uint32_t Replicate(int bits, std::uint32_t value);

} // namespace lum::dibcv
