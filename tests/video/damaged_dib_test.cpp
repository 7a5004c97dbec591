// The damaged-file table of the packed-DIB and palette readers: BMP and
// "PAL " images damaged one way each, made here or kept in
// tests/data/damaged/ as fuzzing found them, with what DIB_OpenFile, the
// drawing service's TBitmap and LoadPalette must make of each; and the
// messages the library's video classes raise for damaged AVI files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "platform/base/globalmem.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/graphics.h"
#include "platform/vfw/damaged_avi.h"
#include "support/raised.h"
#include "support/testutil.h"
#include "video/lumavi.h"
#include "video/lumaviworker.h"
#include "video/lumdib.h"

using namespace lum;
using lum::test::Raised;
using namespace lum::platform;
using namespace lum::platform::gdi;
using Bytes = std::vector<std::uint8_t>;

namespace {

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Append32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A BMP file: file header, 40-byte header, Colours table entries, pixels.
struct BmpSpec {
    LONG width = 4, height = 2;
    WORD bits = 8;
    DWORD compression = BI_RGB;
    DWORD clr_used = 2;
    DWORD size_image = 0;
    int colours = 2;
    Bytes pixels = Bytes(8, 1);
    std::optional<std::uint32_t> off_bits;
};

Bytes BuildBmp(const BmpSpec& s) {
    Bytes b = {'B', 'M'};
    const auto head = static_cast<std::uint32_t>(14 + 40 + 4 * s.colours);
    Append32(b, static_cast<std::uint32_t>(head + s.pixels.size()));
    Append32(b, 0);
    Append32(b, s.off_bits.value_or(head));
    for (std::uint32_t v :
         {40u, static_cast<std::uint32_t>(s.width), static_cast<std::uint32_t>(s.height),
          1u | (std::uint32_t{s.bits} << 16), s.compression, s.size_image, 0u, 0u, s.clr_used, 0u})
        Append32(b, v);
    for (int i = 0; i < s.colours; ++i)
        Append32(b, 0x00102030u * static_cast<std::uint32_t>(i + 1));
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    return b;
}

Bytes Bmp(const std::function<void(BmpSpec&)>& change) {
    BmpSpec s;
    change(s);
    return BuildBmp(s);
}

Bytes Pal(std::uint16_t version, std::uint16_t count, std::size_t entries) {
    Bytes data;
    data.push_back(static_cast<std::uint8_t>(version));
    data.push_back(static_cast<std::uint8_t>(version >> 8));
    data.push_back(static_cast<std::uint8_t>(count));
    data.push_back(static_cast<std::uint8_t>(count >> 8));
    for (std::size_t i = 0; i < entries; ++i)
        Append32(data, static_cast<std::uint32_t>(i));
    Bytes b = {'R', 'I', 'F', 'F'};
    Append32(b, static_cast<std::uint32_t>(12 + data.size()));
    for (char c : std::string("PAL data"))
        b.push_back(static_cast<std::uint8_t>(c));
    Append32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// What DIB_OpenFile gives: its size, or nothing.
struct Dib {
    LONG width, height;
    DWORD size_image;
    bool operator==(const Dib&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Dib& d) {
    return os << d.width << " x " << d.height << ", " << d.size_image << " bytes";
}

std::optional<Dib> OpenDib(const std::string& path) {
    PBitmapInfoHeader dib = DIB_OpenFile(path);
    if (dib == nullptr) return std::nullopt;
    Dib d{dib->biWidth, dib->biHeight, dib->biSizeImage};
    // Its pixels are the file's bytes at the pixel offset.
    const Bytes file = lum::test::ReadFile(path);
    const std::uint32_t offset = file[10] | (file[11] << 8) | (file[12] << 16) |
                                 (static_cast<std::uint32_t>(file[13]) << 24);
    if (offset < file.size()) {
        const std::size_t n = std::min<std::size_t>(dib->biSizeImage, file.size() - offset);
        const auto* bits = static_cast<const std::uint8_t*>(DIB_Ptr(dib));
        EXPECT_EQ(Bytes(bits, bits + n), Bytes(file.begin() + offset, file.begin() + offset + n));
    }
    // The block holds all the DIB claims, and it draws.
    EXPECT_GE(GlobalSize(HandleFrom_DIB(dib)), DIB_BISize(dib) + dib->biSizeImage);
    HBITMAP bitmap = nullptr;
    HPALETTE palette = nullptr;
    DIB_DIBToBitmap(dib, bitmap, palette);
    EXPECT_NE(bitmap, nullptr);
    if (bitmap) DeleteObject(bitmap);
    if (palette) DeleteObject(palette);
    DIB_Free(dib);
    return d;
}

// What TBitmap makes of the same bytes: its message, or "" and its size.
std::string LoadBitmap(const Bytes& image, int* width = nullptr, int* height = nullptr) {
    try {
        TBitmap b;
        b.LoadFromMemory({image.data(), image.size()});
        if (width) *width = b.GetWidth();
        if (height) *height = b.GetHeight();
        return "";
    } catch (const Exception& e) {
        return e.Message();
    }
}

const char* const kInvalid = "Bitmap image is not valid";

struct BmpRow {
    const char* name;
    std::function<Bytes()> make;
    std::optional<Dib> dib;
    // TBitmap's message, "" when it loads. It reads only whole images, so
    // it refuses files cut short that DIB_OpenFile keeps the rows of.
    const char* bitmap;
};

std::vector<BmpRow> BmpRows() {
    const auto refused = std::nullopt;
    return {
        {"whole", [] { return BuildBmp({}); }, Dib{4, 2, 8}, ""},
        {"only the file header",
         [] {
             Bytes b = BuildBmp({});
             b.resize(14);
             return b;
         },
         refused, kInvalid},
        {"width 0", [] { return Bmp([](BmpSpec& s) { s.width = 0; }); }, refused, kInvalid},
        {"height 0", [] { return Bmp([](BmpSpec& s) { s.height = 0; }); }, refused, kInvalid},
        {"width 2^31",
         [] { return Bmp([](BmpSpec& s) { s.width = static_cast<LONG>(0x80000000u); }); }, refused,
         kInvalid},
        {"height 2^31",
         [] { return Bmp([](BmpSpec& s) { s.height = static_cast<LONG>(0x80000000u); }); }, refused,
         kInvalid},
        {"larger than 16384 x 16384",
         [] {
             return Bmp([](BmpSpec& s) {
                 s.width = 16385;
                 s.height = 16384;
                 s.bits = 1;
                 s.compression = BI_RLE8;
             });
         },
         refused, kInvalid},
        {"negative biClrUsed", [] { return Bmp([](BmpSpec& s) { s.clr_used = 0xFFFFFFFF; }); },
         refused, kInvalid},
        {"biClrUsed past the file", [] { return Bmp([](BmpSpec& s) { s.clr_used = 5000; }); },
         refused, kInvalid},
        // Plain rows take their own size: a smaller biSizeImage claim
        // would leave rows outside the DIB.
        {"biSizeImage smaller than the rows",
         [] { return Bmp([](BmpSpec& s) { s.size_image = 3; }); }, Dib{4, 2, 8}, ""},
        {"biSizeImage larger than the file",
         [] {
             return Bmp([](BmpSpec& s) {
                 s.size_image = 0x40000000;
                 s.pixels = Bytes(40, 1);
             });
         },
         Dib{4, 2, 8}, ""},
        {"rows cut short", [] { return Bmp([](BmpSpec& s) { s.height = 100; }); }, Dib{4, 2, 8},
         kInvalid},
        {"top-down rows cut short", [] { return Bmp([](BmpSpec& s) { s.height = -100; }); },
         Dib{4, -2, 8}, kInvalid},
        {"no whole row", [] { return Bmp([](BmpSpec& s) {
                                  s.pixels = {1, 2, 3};
                              }); }, refused,
         kInvalid},
        {"pixel offset past the file", [] { return Bmp([](BmpSpec& s) { s.off_bits = 5000; }); },
         refused, ""},
        {"RLE runs past the frame",
         [] {
             return Bmp([](BmpSpec& s) {
                 s.compression = BI_RLE8;
                 s.pixels = {200, 1, 0, 2, 250, 250, 9, 1, 0, 1};
                 s.size_image = 10;
             });
         },
         Dib{4, 2, 10}, ""},
        {"RLE data size larger than the file",
         [] {
             return Bmp([](BmpSpec& s) {
                 s.compression = BI_RLE8;
                 s.pixels = {4, 1, 0, 0, 4, 1, 0, 1};
                 s.size_image = 0x7FFFFFFF;
             });
         },
         Dib{4, 2, 8}, ""},
    };
}

TEST(DamagedBmp, EachHasItsOutcome) {
    lum::test::TempDir dir;
    const std::string path = dir.File("damaged.bmp");
    for (const BmpRow& row : BmpRows()) {
        SCOPED_TRACE(row.name);
        const Bytes image = row.make();
        lum::test::WriteFile(path, image);
        EXPECT_EQ(OpenDib(path), row.dib);
        EXPECT_EQ(LoadBitmap(image), row.bitmap);
    }
}

// Pixels that are in the file come through whole, whatever the header
// claims around them.
TEST(DamagedBmp, TheRowsThereAreRead) {
    lum::test::TempDir dir;
    const std::string path = dir.File("rows.bmp");
    Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    lum::test::WriteFile(path, Bmp([&](BmpSpec& s) {
                             s.height = 50;
                             s.size_image = 2;
                             s.pixels = pixels;
                         }));
    PBitmapInfoHeader dib = DIB_OpenFile(path);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->biHeight, 3);
    const auto* bits = static_cast<const std::uint8_t*>(DIB_Ptr(dib));
    EXPECT_EQ(Bytes(bits, bits + 12), Bytes(pixels.begin(), pixels.begin() + 12));
    DIB_Free(dib);
}

struct PalRow {
    const char* name;
    std::function<Bytes()> make;
    int entries; // 0: refused
};

TEST(DamagedPalette, EachHasItsOutcome) {
    const std::vector<PalRow> rows = {
        {"whole", [] { return Pal(0x300, 16, 16); }, 16},
        {"count past the data", [] { return Pal(0x300, 17, 16); }, 0},
        {"count 0", [] { return Pal(0x300, 0, 0); }, 0},
        {"wrong version", [] { return Pal(0x200, 4, 4); }, 0},
        {"data size larger than the file",
         [] {
             Bytes b = Pal(0x300, 4, 4);
             Put32(b, 16, 0x7FFFFFF0);
             return b;
         },
         0},
        {"RIFF size larger than the file",
         [] {
             Bytes b = Pal(0x300, 4, 4);
             Put32(b, 4, 0x7FFFFFF0);
             return b;
         },
         4},
        {"cut inside the entries",
         [] {
             Bytes b = Pal(0x300, 4, 4);
             b.resize(b.size() - 2);
             return b;
         },
         0},
        {"cut inside the data header",
         [] {
             Bytes b = Pal(0x300, 4, 4);
             b.resize(18);
             return b;
         },
         0},
    };
    lum::test::TempDir dir;
    const std::string path = dir.File("damaged.pal");
    for (const PalRow& row : rows) {
        SCOPED_TRACE(row.name);
        lum::test::WriteFile(path, row.make());
        PLogPalette p = LoadPalette(path);
        EXPECT_EQ(p ? p->palNumEntries : 0, row.entries);
        if (p) GlobalFree(p);
    }
}

// Inputs fuzzing found, kept as found, and what each gives now.
struct FoundRow {
    const char* file;
    std::optional<Dib> dib;
    const char* bitmap;
};

const FoundRow kFound[] = {
    // 6924 x 16 at 32 bits with biSizeImage 768: rows outside the block.
    {"dib-rows-past-sizeimage.bmp", std::nullopt, kInvalid},
    // 2 x 258 at 16 bits with bit fields and a colour count of 2: the
    // pixels were read in over the third mask. The file holds six rows.
    {"dib-bitfields-count-below-masks.bmp", Dib{2, 6, 24}, kInvalid},
};

TEST(DamagedBmp, FilesFoundByFuzzing) {
    for (const FoundRow& row : kFound) {
        SCOPED_TRACE(row.file);
        const std::string path = lum::damagedtest::DamagedFile(row.file);
        ASSERT_TRUE(std::filesystem::exists(path));
        EXPECT_EQ(OpenDib(path), row.dib);
        EXPECT_EQ(LoadBitmap(lum::test::ReadFile(path)), row.bitmap);
    }
}

// A file added to tests/data/damaged/ needs its row.
TEST(DamagedBmp, EveryFoundFileHasARow) {
    std::set<std::string> listed;
    for (const FoundRow& row : kFound)
        listed.insert(row.file);
    for (const auto& e : std::filesystem::directory_iterator(lum::damagedtest::DamagedFile(""))) {
        const std::string ext = e.path().extension().string();
        if (ext == ".bmp" || ext == ".pal") {
            EXPECT_TRUE(listed.count(e.path().filename().string())) << e.path();
        }
    }
}

// What the library's video classes say about damaged AVI files: the
// service's code in the "AVI error" message when the file does not open, the
// worker's own messages when its frames cannot be decoded.
struct AviRow {
    const char* name;
    std::function<Bytes()> make;
    const char* open;    // OpenFile's message, "" when it opens
    const char* reading; // BeginReading's message, "" when it reads
    int frames;          // frames GetDIB gives before "Failed getting frame"
};

TEST(DamagedAvi, LibraryMessages) {
    namespace d = lum::damagedtest;
    auto with = [](const std::function<void(d::AviSpec&)>& change) {
        d::AviSpec s = d::PlainSpec();
        change(s);
        return d::BuildAvi(s);
    };
    const std::vector<AviRow> rows = {
        {"whole", [&] { return with([](d::AviSpec&) {}); }, "", "", 5},
        {"not RIFF", [] { return Bytes(64, 0x41); }, "AVI error (80044065): Unsupported", "", 0},
        {"no hdrl",
         [&] {
             Bytes b = with([](d::AviSpec&) {});
             std::memcpy(&b[d::FindTag(b, "hdrl")], "hdrX", 4);
             return b;
         },
         "AVI error (80044066): Bad format", "", 0},
        {"strf shorter than a BITMAPINFOHEADER",
         [&] { return with([](d::AviSpec& s) { s.strf_size = 24; }); }, "",
         "Can't create image decompressor", 0},
        {"width 2^31",
         [&] { return with([](d::AviSpec& s) { s.width = static_cast<LONG>(0x80000000u); }); }, "",
         "Can't create image decompressor", 0},
        {"RLE runs past the frame",
         [&] {
             return with([](d::AviSpec& s) {
                 s.compression = BI_RLE8;
                 s.frames = {{200, 1, 0, 1}, {0, 2, 250, 250, 4, 1, 0, 1}};
             });
         },
         "", "", 2},
    };
    lum::test::TempDir dir;
    for (const AviRow& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.File(std::string(row.name) + ".avi");
        lum::test::WriteFile(path, row.make());
        TLumAVIFile file;
        file.SetFileName(path);
        EXPECT_EQ(Raised([&] { file.OpenFile(); }), row.open);
        if (*row.open) {
            EXPECT_FALSE(file.Opened());
            continue;
        }
        TLumAVIVideoWorker worker(file.GetTypedStreams(stVideo, 0));
        EXPECT_EQ(Raised([&] { worker.BeginReading(); }), row.reading);
        if (*row.reading) {
            EXPECT_FALSE(worker.GetReading());
            continue;
        }
        for (LONG p = 0; p < row.frames; ++p)
            EXPECT_NE(worker.GetDIB(p), nullptr) << p;
        EXPECT_EQ(Raised([&] { worker.GetDIB(row.frames); }), "Failed getting frame");
        EXPECT_TRUE(worker.GetReading());
    }
}

} // namespace
