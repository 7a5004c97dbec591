// The global heap: blocks that are handed between the library and the
// services and whose size can be asked later. Every block is fixed, so a
// handle and the pointer it locks to are the same address.
#pragma once

#include <cstddef>

#include "platform/base/wintypes.h"

namespace lum::platform {

using HGLOBAL = void*;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// A new block of Bytes, or null when the heap refuses. Zero-filled with
// GMEM_ZEROINIT. A request of 0 bytes gives a valid block of size 0.
HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes);
// Grows or shrinks a block, keeping its contents (new bytes are zero with
// GMEM_ZEROINIT); null when the heap refuses, the old block then stays.
HGLOBAL GlobalReAlloc(HGLOBAL block, std::size_t bytes, UINT flags);
// Null on success, the handle itself when it is not a heap block.
HGLOBAL GlobalFree(HGLOBAL block);
void* GlobalLock(HGLOBAL block);
bool GlobalUnlock(HGLOBAL block);
// The block's size in bytes; 0 for null.
std::size_t GlobalSize(HGLOBAL block);
// The handle of a locked pointer.
HGLOBAL GlobalHandle(const void* pointer);

// Every call takes null or a live block of this heap; a header word catches
// most mistakes (GlobalFree then returns the handle), but not all.

} // namespace lum::platform
