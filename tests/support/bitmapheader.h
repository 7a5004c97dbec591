// A BITMAPINFOHEADER as the tests write them: 40 bytes, one plane.
#pragma once

#include "platform/base/wintypes.h"

namespace lum::test {

inline platform::BITMAPINFOHEADER InfoHeader(platform::LONG w, platform::LONG h,
                                             platform::WORD bits, platform::DWORD compression = 0,
                                             platform::DWORD clr_used = 0) {
    platform::BITMAPINFOHEADER bi{};
    bi.biSize = 40;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = bits;
    bi.biCompression = compression;
    bi.biClrUsed = clr_used;
    return bi;
}

} // namespace lum::test
