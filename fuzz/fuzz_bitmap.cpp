// Fuzzes the drawing service's BMP readers: TBitmap::LoadFromMemory on the
// whole input, and CreateDIBitmap on the input taken as a packed DIB
// (header, colour table, pixels) when it holds the pixels its header
// claims, which is what the call's callers guarantee.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "limits.h"
#include "platform/base/exception.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/graphics.h"

using namespace lum::platform;
using namespace lum::platform::gdi;

namespace {

void PackedDib(const std::uint8_t* data, std::size_t size) {
    // An aligned copy, with room for the largest table the header may name.
    if (size < sizeof(BITMAPINFOHEADER)) return;
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, data, sizeof bi);
    if (bi.biSize != sizeof bi) return;
    const std::uint64_t bits = bi.biBitCount;
    std::uint64_t colours = bits <= 8 ? (bi.biClrUsed ? bi.biClrUsed : 1u << bits) : bi.biClrUsed;
    if (bi.biCompression == BI_BITFIELDS) colours = 3;
    if (colours > 256) return;
    const std::uint64_t head = sizeof bi + 4 * colours;
    const std::uint64_t w = bi.biWidth < 0 ? 0 : static_cast<std::uint64_t>(bi.biWidth);
    const std::uint64_t h = bi.biHeight < 0 ? 0ull - static_cast<std::int64_t>(bi.biHeight)
                                            : static_cast<std::uint64_t>(bi.biHeight);
    std::uint64_t image = ((w * bits + 31) / 32) * 4 * h;
    if (bi.biCompression == BI_RLE8 || bi.biCompression == BI_RLE4) image = bi.biSizeImage;
    if (head > size || image > size - head) return;
    std::vector<std::uint64_t> copy((size + 7) / 8);
    std::memcpy(copy.data(), data, size);
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(copy.data());
    const auto* pixels = reinterpret_cast<const std::uint8_t*>(copy.data()) + head;
    HBITMAP b = CreateDIBitmap(nullptr, header, CBM_INIT, pixels,
                               reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS);
    if (b) DeleteObject(b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (lum::fuzz::BmpTooLargeToFuzz(data, size)) return 0;
    try {
        TBitmap bitmap;
        bitmap.LoadFromMemory({data, size});
        bitmap.SaveToMemory();
    } catch (const lum::Exception&) {
        // Damaged data is reported, not read.
    }
    if (size > 14 && data[0] == 'B' && data[1] == 'M')
        PackedDib(data + 14, size - 14);
    else
        PackedDib(data, size);
    return 0;
}
