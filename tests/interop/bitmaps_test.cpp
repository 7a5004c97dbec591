// BMP files made by ffmpeg, and variants of them as other writers make them
// (no file header, a 124-byte header, top-down rows, an OS/2 core header,
// RLE8), read with DIB_OpenFile and compared pixel by pixel with ffmpeg's
// decode; an RLE8 video with delta frames, written by us, decoded by ffmpeg
// and by the frame decoder alike; and snapreel-cli frame against ffmpeg.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "app/cli.h"
#include "media.h"
#include "platform/gdi/gdi.h"
#include "platform/vfw/vfw.h"
#include "support/testutil.h"
#include "video/lumdib.h"

using namespace lum;
using namespace lum::interop;
using namespace lum::platform;
using namespace lum::platform::vfw;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int kW = 61, kH = 37; // rows that need padding

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, &b[at], 4);
    return v;
}
void SetLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    std::memcpy(&b[at], &v, 4);
}

std::string FfmpegBmp(const lum::test::TempDir& dir, const std::string& pix_fmt) {
    std::string path = dir.File(pix_fmt + ".bmp");
    EXPECT_EQ(lum::test::Run("ffmpeg -v error -y -f lavfi -i testsrc=size=" + std::to_string(kW) +
                             "x" + std::to_string(kH) + " -frames:v 1 -pix_fmt " + pix_fmt + " " +
                             lum::test::Quote(path)),
              0);
    return path;
}

// ffmpeg's decode of an image file as top-down BGR rows.
std::string FfmpegBgr(const std::string& path) {
    std::string out;
    lum::test::Run("ffmpeg -v error -i " + lum::test::Quote(path) +
                       " -frames:v 1 -pix_fmt bgr24 -f rawvideo -",
                   &out);
    return out;
}

// A DIB's pixels as top-down BGR rows, through a display bitmap.
std::string OurBgr(const TBitmapInfoHeader* dib) {
    platform::gdi::HBITMAP bitmap = nullptr;
    platform::gdi::HPALETTE palette = nullptr;
    DIB_DIBToBitmap(dib, bitmap, palette);
    if (bitmap == nullptr) return {};
    PBitmapInfoHeader rgb = DIB_BitmapToDIB(bitmap, palette, 24, -1);
    platform::gdi::DeleteObject(bitmap);
    if (palette) platform::gdi::DeleteObject(palette);
    if (rgb == nullptr) return {};
    std::string out;
    const int h = -rgb->biHeight;
    for (int y = 0; y < h; ++y)
        out.append(static_cast<const char*>(DIB_Ptr(rgb)) + y * DIB_WidthBytes(rgb),
                   static_cast<std::size_t>(rgb->biWidth) * 3);
    DIB_Free(rgb);
    return out;
}

std::string ReadWithLumdib(const std::string& path) {
    PBitmapInfoHeader dib = DIB_OpenFile(path);
    if (dib == nullptr) return "(not read)";
    std::string bgr = OurBgr(dib);
    DIB_Free(dib);
    return bgr;
}

// RLE8 of one frame of 8-bit rows (bottom-up, Stride bytes a row). With a
// previous frame, pixels that did not change are skipped with deltas.
Bytes EncodeRle8(const std::uint8_t* rows, const std::uint8_t* prev, int w, int h,
                 std::size_t stride) {
    Bytes out;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* r = rows + stride * y;
        const std::uint8_t* p = prev ? prev + stride * y : nullptr;
        int x = 0;
        while (x < w) {
            int same = 0;
            while (p && x + same < w && r[x + same] == p[x + same] && same < 255)
                ++same;
            if (same == w - x) break; // the rest of the row stays
            if (same >= 2) {
                out.insert(out.end(), {0, 2, static_cast<std::uint8_t>(same), 0});
                x += same;
                continue;
            }
            int run = 1;
            while (x + run < w && r[x + run] == r[x] && run < 255)
                ++run;
            out.insert(out.end(), {static_cast<std::uint8_t>(run), r[x]});
            x += run;
        }
        out.insert(out.end(), {0, 0});
    }
    out.insert(out.end(), {0, 1});
    return out;
}

} // namespace

TEST(FfmpegBmpFiles, EveryDepthReadsPixelExact) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    lum::test::TempDir dir;
    for (const char* fmt :
         {"bgr24", "bgra", "pal8", "rgb8", "gray", "monob", "rgb555le", "rgb565le", "rgb4_byte"}) {
        SCOPED_TRACE(fmt);
        std::string path = FfmpegBmp(dir, fmt);
        std::string ref = FfmpegBgr(path);
        ASSERT_EQ(ref.size(), static_cast<std::size_t>(kW) * kH * 3);
        EXPECT_TRUE(ReadWithLumdib(path) == ref);
    }
}

TEST(FfmpegBmpFiles, VariantsOfOtherWritersReadTheSame) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    lum::test::TempDir dir;
    const Bytes rgb = lum::test::ReadFile(FfmpegBmp(dir, "bgr24"));
    const std::string ref = FfmpegBgr(dir.File("bgr24.bmp"));
    const std::uint32_t off = Le32(rgb, 10);
    const std::size_t stride = (kW * 3 + 3) & ~3;

    // No file header: a packed DIB on disk.
    Bytes bare(rgb.begin() + 14, rgb.end());
    lum::test::WriteFile(dir.File("bare.dib"), bare);
    EXPECT_TRUE(ReadWithLumdib(dir.File("bare.dib")) == ref);

    // A 124-byte header, the pixels behind it.
    Bytes v5(rgb.begin(), rgb.begin() + 54);
    v5.insert(v5.end(), 84, 0);
    SetLe32(v5, 14, 124);
    SetLe32(v5, 10, 14 + 124);
    v5.insert(v5.end(), rgb.begin() + off, rgb.end());
    SetLe32(v5, 2, static_cast<std::uint32_t>(v5.size()));
    lum::test::WriteFile(dir.File("v5.bmp"), v5);
    EXPECT_TRUE(ReadWithLumdib(dir.File("v5.bmp")) == ref);

    // Top-down rows.
    Bytes td(rgb.begin(), rgb.begin() + off);
    SetLe32(td, 22, static_cast<std::uint32_t>(-kH));
    for (int y = kH - 1; y >= 0; --y)
        td.insert(td.end(), rgb.begin() + off + stride * y, rgb.begin() + off + stride * (y + 1));
    lum::test::WriteFile(dir.File("td.bmp"), td);
    EXPECT_TRUE(ReadWithLumdib(dir.File("td.bmp")) == ref);

    // An OS/2 core header with 3-byte colours, from the 8-bit file.
    const Bytes pal = lum::test::ReadFile(FfmpegBmp(dir, "pal8"));
    const std::string pal_ref = FfmpegBgr(dir.File("pal8.bmp"));
    const std::uint32_t colours = Le32(pal, 46) ? Le32(pal, 46) : 256;
    Bytes core = {'B',
                  'M',
                  0,
                  0,
                  0,
                  0,
                  0,
                  0,
                  0,
                  0,
                  0,
                  0,
                  0,
                  0,
                  12,
                  0,
                  0,
                  0,
                  static_cast<std::uint8_t>(kW),
                  0,
                  static_cast<std::uint8_t>(kH),
                  0,
                  1,
                  0,
                  8,
                  0};
    for (std::uint32_t i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            core.push_back(i < colours ? pal[54 + 4 * i + c] : 0);
    SetLe32(core, 10, static_cast<std::uint32_t>(core.size()));
    core.insert(core.end(), pal.begin() + Le32(pal, 10), pal.end());
    lum::test::WriteFile(dir.File("core.bmp"), core);
    EXPECT_TRUE(ReadWithLumdib(dir.File("core.bmp")) == pal_ref);

    // RLE8 of the same 8-bit pixels.
    const std::size_t pstride = (kW + 3) & ~3;
    Bytes data = EncodeRle8(&pal[Le32(pal, 10)], nullptr, kW, kH, pstride);
    Bytes rle(pal.begin(), pal.begin() + Le32(pal, 10));
    SetLe32(rle, 30, 1);
    SetLe32(rle, 34, static_cast<std::uint32_t>(data.size()));
    rle.insert(rle.end(), data.begin(), data.end());
    SetLe32(rle, 2, static_cast<std::uint32_t>(rle.size()));
    lum::test::WriteFile(dir.File("rle.bmp"), rle);
    EXPECT_EQ(FfmpegBgr(dir.File("rle.bmp")), pal_ref); // ffmpeg agrees it is the same picture
    EXPECT_TRUE(ReadWithLumdib(dir.File("rle.bmp")) == pal_ref);
}

TEST(FfmpegRle, OurRle8VideoWithDeltasDecodesAsFfmpegDecodesIt) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const Recipe* pal8 = nullptr;
    for (const Recipe& r : FrameRecipes())
        if (r.name == "FramePal8") pal8 = &r;
    ASSERT_NE(pal8, nullptr);
    PAVISTREAM src = nullptr;
    ASSERT_EQ(
        AVIStreamOpenFromFile(&src, MediaFile(*pal8), streamtypeVIDEO, 0, OF_SHARE_DENY_WRITE),
        AVIERR_OK);
    LONG fsize = 0;
    AVIStreamReadFormat(src, 0, nullptr, &fsize);
    Bytes format(static_cast<std::size_t>(fsize));
    AVIStreamReadFormat(src, 0, format.data(), &fsize);
    // ffmpeg stores its 8-bit frames top-down; RLE runs bottom-up.
    const int w = static_cast<int>(Le32(format, 4));
    const auto stored_h = static_cast<std::int32_t>(Le32(format, 8));
    const int h = std::abs(stored_h);
    const std::size_t stride = (static_cast<std::size_t>(w) + 3) & ~std::size_t{3};
    const LONG frames = AVIStreamLength(src);

    lum::test::TempDir dir;
    std::string path = dir.File("rle.avi");
    PAVIFILE out = nullptr;
    ASSERT_EQ(AVIFileOpen(&out, path, OF_CREATE | OF_READWRITE | OF_SHARE_EXCLUSIVE), AVIERR_OK);
    AVISTREAMINFO info{};
    AVIStreamInfo(src, &info, sizeof info);
    info.fccHandler = MakeFourCC("mrle");
    PAVISTREAM dst = nullptr;
    ASSERT_EQ(AVIFileCreateStream(out, &dst, &info), AVIERR_OK);
    Bytes rle_format = format;
    SetLe32(rle_format, 16, BI_RLE8);
    SetLe32(rle_format, 8, static_cast<std::uint32_t>(h));
    ASSERT_EQ(AVIStreamSetFormat(dst, 0, rle_format.data(), fsize), AVIERR_OK);
    Bytes prev, cur(stride * h), sample(stride * h);
    for (LONG i = 0; i < frames; ++i) {
        LONG got = 0;
        ASSERT_EQ(AVIStreamRead(src, i, 1, sample.data(), static_cast<LONG>(sample.size()), &got,
                                nullptr),
                  AVIERR_OK);
        for (int y = 0; y < h; ++y)
            std::memcpy(&cur[stride * y], &sample[stride * (stored_h < 0 ? h - 1 - y : y)], stride);
        const bool key = i % 10 == 0;
        Bytes data = EncodeRle8(cur.data(), key ? nullptr : prev.data(), w, h, stride);
        ASSERT_EQ(AVIStreamWrite(dst, i, 1, data.data(), static_cast<LONG>(data.size()),
                                 key ? AVIIF_KEYFRAME : 0, nullptr, nullptr),
                  AVIERR_OK);
        prev = cur;
    }
    AVIStreamRelease(dst);
    AVIFileRelease(out);
    AVIStreamRelease(src);

    std::string ref;
    ASSERT_EQ(lum::test::Run("ffmpeg -v error -i " + lum::test::Quote(path) +
                                 " -fps_mode passthrough -pix_fmt bgr24 -f rawvideo -",
                             &ref),
              0);
    const std::size_t frame_bytes = static_cast<std::size_t>(w) * h * 3;
    ASSERT_EQ(ref.size(), frame_bytes * static_cast<std::size_t>(frames));
    PAVISTREAM ours = nullptr;
    ASSERT_EQ(AVIStreamOpenFromFile(&ours, path, streamtypeVIDEO, 0, OF_SHARE_DENY_WRITE),
              AVIERR_OK);
    PGETFRAME g = AVIStreamGetFrameOpen(ours, nullptr);
    ASSERT_NE(g, nullptr);
    // Backwards: every frame from its key frame again.
    for (LONG i = frames - 1; i >= 0; --i) {
        const auto* dib = static_cast<const TBitmapInfoHeader*>(AVIStreamGetFrame(g, i));
        ASSERT_NE(dib, nullptr);
        ASSERT_EQ(dib->biBitCount, 24);
        for (int y = 0; y < h; ++y) {
            const char* row = static_cast<const char*>(DIB_Ptr(dib)) +
                              static_cast<std::size_t>(h - 1 - y) * DIB_WidthBytes(dib);
            ASSERT_EQ(std::memcmp(row, ref.data() + frame_bytes * i + 3 * w * y, 3 * w), 0)
                << "frame " << i << " row " << y;
        }
    }
    AVIStreamGetFrameClose(g);
    AVIStreamRelease(ours);
}

TEST(FfmpegCli, FrameCommandWritesFfmpegsFrame) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    std::string video;
    for (const Recipe& r : FrameRecipes())
        if (r.name == "FrameMpeg4Bframes") video = MediaFile(r);
    lum::test::TempDir dir;
    std::string bmp = dir.File("59.bmp");
    std::ostringstream out, err;
    ASSERT_EQ(app::RunCli({"frame", video, "59", "-o", bmp}, out, err), 0) << err.str();
    std::string ref;
    lum::test::Run("ffmpeg -v error -i " + lum::test::Quote(video) +
                       " -vf \"select='eq(n\\,59)'\" -fps_mode passthrough -frames:v 1 "
                       "-pix_fmt bgr24 -f rawvideo -",
                   &ref);
    std::string ours = FfmpegBgr(bmp); // ffmpeg reads our BMP
    ASSERT_EQ(ours.size(), ref.size());
    double sum = 0;
    for (std::size_t i = 0; i < ref.size(); ++i)
        sum += std::abs(static_cast<unsigned char>(ours[i]) - static_cast<unsigned char>(ref[i]));
    EXPECT_LE(sum / static_cast<double>(ref.size()), 1.0);
}
