// Fuzzes the packed-DIB readers: DIB_ReadBitmapInfo on a memory stream, and
// DIB_OpenFile (through a memory file) followed by the header arithmetic
// every caller does and the conversion to a display bitmap, which decodes
// RLE and indexed pixels through the drawing service.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "limits.h"
#include "memfile.h"
#include "platform/base/bytestream.h"
#include "platform/base/globalmem.h"
#include "platform/gdi/gdi.h"
#include "video/lumdib.h"

using namespace lum;
using namespace lum::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto view = MemoryStream::View({reinterpret_cast<const std::byte*>(data), size});
    std::int64_t position = 0;
    PBitmapInfoHeader info = DIB_ReadBitmapInfo(view.get(), position);
    if (info == nullptr) return 0; // DIB_OpenFile reads the header the same way
    // The header block holds the header and its colour table.
    if (GlobalSize(info) < DIB_BISize(info)) std::abort();
    const bool huge = fuzz::TooLargeToFuzz(info->biWidth, info->biHeight);
    GlobalFree(info);
    if (huge) return 0;

    fuzz::MemFile file(data, size);
    PBitmapInfoHeader dib = DIB_OpenFile(file.Path());
    if (dib == nullptr) return 0;
    // Whatever DIB_OpenFile returns, its block holds all the DIB claims,
    // and the pixels where DIB_Ptr finds them.
    const auto pixels = static_cast<std::size_t>(static_cast<const std::uint8_t*>(DIB_Ptr(dib)) -
                                                 reinterpret_cast<const std::uint8_t*>(dib));
    if (GlobalSize(dib) < DIB_Size(dib) || GlobalSize(dib) < pixels + dib->biSizeImage)
        std::abort();
    DIB_NumColors(dib);
    DIB_WidthBytes(dib);
    HBITMAP bitmap = nullptr;
    HPALETTE palette = nullptr;
    DIB_DIBToBitmap(dib, bitmap, palette);
    if (bitmap) gdi::DeleteObject(bitmap);
    if (palette) gdi::DeleteObject(palette);
    GlobalFree(dib);
    return 0;
}
