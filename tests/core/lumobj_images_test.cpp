#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/lumobj.h"

using namespace lum;

namespace {

// Builds a one-entry .cur/.ico image in memory.
struct IconBuilder {
    int kind = 2, width = 4, height = 4, bits = 32, hot_x = 1, hot_y = 2, clr_used = 0;
    std::vector<std::uint32_t> palette;
    std::vector<std::uint8_t> xor_rows, and_rows; // bottom-up, padded

    std::vector<std::byte> Build() const {
        std::vector<std::uint8_t> dib;
        auto put16 = [](std::vector<std::uint8_t>& v, unsigned x) {
            v.push_back(static_cast<std::uint8_t>(x));
            v.push_back(static_cast<std::uint8_t>(x >> 8));
        };
        auto put32 = [&](std::vector<std::uint8_t>& v, unsigned x) {
            put16(v, x & 0xFFFF);
            put16(v, x >> 16);
        };
        put32(dib, 40);
        put32(dib, static_cast<unsigned>(width));
        put32(dib, static_cast<unsigned>(2 * height));
        put16(dib, 1);
        put16(dib, static_cast<unsigned>(bits));
        for (int i = 0; i < 4; ++i)
            put32(dib, 0);
        put32(dib, static_cast<unsigned>(clr_used));
        put32(dib, 0);
        for (auto c : palette)
            put32(dib, c);
        dib.insert(dib.end(), xor_rows.begin(), xor_rows.end());
        dib.insert(dib.end(), and_rows.begin(), and_rows.end());
        std::vector<std::uint8_t> file;
        put16(file, 0);
        put16(file, static_cast<unsigned>(kind));
        put16(file, 1);
        file.push_back(static_cast<std::uint8_t>(width));
        file.push_back(static_cast<std::uint8_t>(height));
        file.push_back(0);
        file.push_back(0);
        put16(file, static_cast<unsigned>(hot_x));
        put16(file, static_cast<unsigned>(hot_y));
        put32(file, static_cast<unsigned>(dib.size()));
        put32(file, 22);
        file.insert(file.end(), dib.begin(), dib.end());
        std::vector<std::byte> out(file.size());
        std::memcpy(out.data(), file.data(), file.size());
        return out;
    }
};

} // namespace

TEST(ResourceImages, AllLibraryCursorsAndTheIconLoad) {
    for (std::uint16_t ident = 1; ident <= 31; ++ident) {
        const TLumResImage* cur = LoadResCursor(ident);
        ASSERT_NE(cur, nullptr) << "cursor " << 2000 + ident;
        EXPECT_TRUE(cur->IsCursor);
        ASSERT_EQ(cur->Images.size(), 1u);
        const TLumImageData& img = cur->Images[0];
        EXPECT_EQ(img.Width, 32);
        EXPECT_EQ(img.Height, 32);
        EXPECT_GE(img.HotspotX, 0);
        EXPECT_LT(img.HotspotX, img.Width);
        EXPECT_GE(img.HotspotY, 0);
        EXPECT_LT(img.HotspotY, img.Height);
        // Something is drawn, and something is left transparent.
        int opaque = 0;
        for (auto px : img.Pixels)
            opaque += (px >> 24) != 0;
        EXPECT_GT(opaque, 20) << 2000 + ident;
        EXPECT_LT(opaque, 32 * 32 - 100) << 2000 + ident;
        EXPECT_EQ(LoadResCursor(ident), cur); // parsed once
    }
    EXPECT_EQ(LoadResCursor(32), nullptr);
    EXPECT_EQ(LoadResCursor(0), nullptr);

    const TLumResImage* icon = LoadResIcon(1);
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->IsCursor);
    ASSERT_EQ(icon->Images.size(), 2u);
    EXPECT_EQ(icon->Best(32).Width, 32);
    EXPECT_EQ(icon->Best(64).Width, 64);
    EXPECT_EQ(icon->Best(48).Width, 64); // a tie goes to the larger
    EXPECT_EQ(icon->Best(16).Height, 32);
    EXPECT_EQ(LoadResIcon(2), nullptr);
}

TEST(ResourceImages, ThirtyTwoBitEntriesKeepTheirAlphaAndOrientation) {
    IconBuilder b;
    b.width = 2;
    b.height = 2;
    // Bottom row first: bottom-left red opaque, bottom-right half green;
    // top-left blue opaque, top-right fully transparent.
    b.xor_rows = {0, 0, 255, 255, 0, 255, 0, 128, 255, 0, 0, 255, 0, 0, 0, 0};
    b.and_rows = {0, 0, 0, 0, 0, 0, 0, 0};
    auto img = ParseIconResource(b.Build());
    ASSERT_NE(img, nullptr);
    const TLumImageData& d = img->Images[0];
    EXPECT_EQ(d.Pixel(0, 0), 0xFF0000FFu); // top-left blue
    EXPECT_EQ(d.Pixel(1, 0), 0x00000000u);
    EXPECT_EQ(d.Pixel(0, 1), 0xFFFF0000u); // bottom-left red
    EXPECT_EQ(d.Pixel(1, 1), 0x8000FF00u);
    EXPECT_EQ(d.HotspotX, 1);
    EXPECT_EQ(d.HotspotY, 1); // 2 is outside a 2x2 image: kept inside
}

TEST(ResourceImages, PalettedEntriesUseTheAndMask) {
    IconBuilder b;
    b.kind = 1;
    b.width = 8;
    b.height = 2;
    b.bits = 1;
    b.palette = {0x000000, 0xFFFFFF};
    b.xor_rows = {0b11110000, 0, 0, 0, 0b10101010, 0, 0, 0};
    b.and_rows = {0b00001111, 0, 0, 0, 0b01010101, 0, 0, 0};
    auto img = ParseIconResource(b.Build());
    ASSERT_NE(img, nullptr);
    const TLumImageData& d = img->Images[0];
    EXPECT_EQ(d.HotspotX, 4); // an icon's hotspot is its centre
    // Bottom row: white pixels where the mask is clear, the rest transparent.
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(d.Pixel(x, 1), x < 4 ? 0xFFFFFFFFu : 0u) << x;
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(d.Pixel(x, 0), x % 2 == 0 ? 0xFFFFFFFFu : 0u) << x;
}

TEST(ResourceImages, DamagedImagesAreRefusedSafely) {
    IconBuilder good;
    good.xor_rows.assign(4 * 4 * 4, 0xFF);
    good.and_rows.assign(4 * 4, 0);
    std::vector<std::byte> bytes = good.Build();
    ASSERT_NE(ParseIconResource(bytes), nullptr);

    // Every truncation is refused without reading past the end.
    for (std::size_t n = 0; n < bytes.size(); ++n)
        EXPECT_EQ(ParseIconResource(std::span(bytes.data(), n)), nullptr) << n;

    auto patched = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::byte> b = bytes;
        b[at] = std::byte{value};
        return ParseIconResource(b);
    };
    EXPECT_EQ(patched(2, 3), nullptr);         // neither icon nor cursor
    EXPECT_EQ(patched(4, 0), nullptr);         // no entries
    EXPECT_EQ(patched(18, 0xF0), nullptr);     // offset far outside
    EXPECT_EQ(patched(22 + 14, 7), nullptr);   // 7 bits per pixel
    EXPECT_EQ(patched(22 + 16, 1), nullptr);   // compressed
    EXPECT_EQ(patched(22 + 9, 0x10), nullptr); // height beyond 256
    EXPECT_EQ(patched(22 + 7, 0x80), nullptr); // negative width

    IconBuilder paletted;
    paletted.bits = 8;
    paletted.palette = {0x112233};
    paletted.clr_used = 1;
    paletted.xor_rows.assign(4 * 4, 5); // index 5 of a one-colour table
    paletted.and_rows.assign(4 * 4, 0);
    EXPECT_EQ(ParseIconResource(paletted.Build()), nullptr);
}
