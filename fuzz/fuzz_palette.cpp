// Fuzzes the RIFF "PAL " palette reader, LoadPalette, which walks the file
// through the buffered RIFF service; the input reaches it as a memory file.
// A palette it returns must hold every entry it counts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "memfile.h"
#include "platform/base/globalmem.h"
#include "video/lumdib.h"

using namespace lum;
using namespace lum::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::MemFile file(data, size);
    PLogPalette palette = LoadPalette(file.Path());
    if (palette == nullptr) return 0;
    if (palette->palNumEntries == 0 ||
        GlobalSize(palette) < 4 + 4 * std::size_t{palette->palNumEntries})
        std::abort();
    volatile unsigned sum = 0;
    for (unsigned i = 0; i < palette->palNumEntries; ++i)
        sum = sum + palette->palPalEntry[i].peRed;
    GlobalFree(palette);
    return 0;
}
