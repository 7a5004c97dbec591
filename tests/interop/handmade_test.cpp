// Files that no ffmpeg encoder writes, made here as screen recorders and
// cameras write them: a VMware screen recording (VMnc), whose samples are
// VNC-like rectangle updates, and interlaced MJPEG, whose samples hold two
// JPEG fields of half the height. Each file is first checked to decode in
// ffmpeg to the picture it was made to show; then every frame the frame
// reader gives, fetched in any order, must be ffmpeg's -pix_fmt bgr24
// picture within 1 per value.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "media.h"
#include "platform/vfw/avi_fixtures.h"
#include "support/testutil.h"

using namespace lum::vfwtest;
using lum::interop::HaveFfmpeg;

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr std::size_t kFrameBytes = std::size_t{kWidth} * kHeight * 3;

struct Colour {
    std::uint8_t r, g, b;
};

// Top-down BGR rows, as ffmpeg's rawvideo output.
using Picture = std::vector<std::uint8_t>;

void Paint(Picture& p, int x, int y, int w, int h, Colour c) {
    for (int row = y; row < y + h; ++row)
        for (int col = x; col < x + w; ++col) {
            std::uint8_t* px = &p[(static_cast<std::size_t>(row) * kWidth + col) * 3];
            px[0] = c.b;
            px[1] = c.g;
            px[2] = c.r;
        }
}

void PutBe16(Bytes& b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}

void PutBe32(Bytes& b, std::uint32_t v) {
    PutBe16(b, v >> 16);
    PutBe16(b, v & 0xffff);
}

// One VMnc sample: a count of rectangles, each a big-endian header (x, y,
// width, height, encoding) and its data; pixels in the stream's depth,
// little-endian. Every rectangle is also painted on Screen, the picture
// the sample is meant to leave.
class VmncSample {
public:
    VmncSample(int bits, Picture* screen) : bits_(bits), screen_(screen) {}

    // The screen's pixel format, as a recording's first sample carries it.
    VmncSample& ScreenFormat() {
        Header(0, 0, kWidth, kHeight, 0x574D5669); // "WMVi"
        // Depth, colour depth, big-endian flag, true colour, then the
        // rest of the VNC pixel format (maxima and shifts) unused.
        data_.insert(data_.end(), {static_cast<std::uint8_t>(bits_),
                                   static_cast<std::uint8_t>(bits_ == 32 ? 24 : 15), 0, 1});
        data_.insert(data_.end(), 12, 0);
        return *this;
    }

    VmncSample& Raw(int x, int y, int w, int h, Colour c) {
        Header(x, y, w, h, 0);
        for (int i = 0; i < w * h; ++i)
            Pixel(c);
        Paint(*screen_, x, y, w, h, c);
        return *this;
    }

    // A hextile rectangle of one 16 x 16 tile: background Bg with one
    // sub-rectangle in Fg at (sx, sy) of sw x sh.
    VmncSample& Hextile(int x, int y, Colour bg, Colour fg, int sx, int sy, int sw, int sh) {
        Header(x, y, 16, 16, 5);
        data_.push_back(2 | 4 | 8); // background, foreground, sub-rectangles
        Pixel(bg);
        Pixel(fg);
        data_.push_back(1);
        data_.push_back(static_cast<std::uint8_t>(sx << 4 | sy));
        data_.push_back(static_cast<std::uint8_t>((sw - 1) << 4 | (sh - 1)));
        Paint(*screen_, x, y, 16, 16, bg);
        Paint(*screen_, x + sx, y + sy, sw, sh, fg);
        return *this;
    }

    Bytes Data() const {
        Bytes b = {0, 0};
        PutBe16(b, static_cast<unsigned>(count_));
        b.insert(b.end(), data_.begin(), data_.end());
        return b;
    }

private:
    void Header(int x, int y, int w, int h, std::uint32_t encoding) {
        for (int v : {x, y, w, h})
            PutBe16(data_, static_cast<unsigned>(v));
        PutBe32(data_, encoding);
        ++count_;
    }
    void Pixel(Colour c) {
        if (bits_ == 32) {
            data_.insert(data_.end(), {c.b, c.g, c.r, 0});
        } else { // RGB555
            const unsigned v = (c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3);
            data_.push_back(static_cast<std::uint8_t>(v));
            data_.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    }

    int bits_;
    Picture* screen_;
    Bytes data_;
    int count_ = 0;
};

// An AVI of one video stream; samples not in Keys are deltas.
void WriteVideo(const std::string& path, DWORD compression, WORD bits,
                const std::vector<Bytes>& samples, const std::vector<bool>& keys) {
    CreateFile(path, [&](PAVIFILE f) {
        PAVISTREAM v = nullptr;
        AVISTREAMINFO vi = VideoInfo(compression, 1, 25);
        vi.rcFrame = {0, 0, kWidth, kHeight};
        ASSERT_EQ(AVIFileCreateStream(f, &v, &vi), AVIERR_OK);
        Bytes fmt = BitmapFormat(kWidth, kHeight, bits, compression);
        ASSERT_EQ(AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size())), AVIERR_OK);
        for (std::size_t i = 0; i < samples.size(); ++i)
            ASSERT_EQ(AVIStreamWrite(v, static_cast<LONG>(i), 1, samples[i].data(),
                                     static_cast<LONG>(samples[i].size()),
                                     keys[i] ? AVIIF_KEYFRAME : 0, nullptr, nullptr),
                      AVIERR_OK);
        AVIStreamRelease(v);
    });
}

// ffmpeg's decode of every frame as BGR rows; Log receives its messages
// (errors and warnings).
std::string FfmpegFrames(const std::string& path, const std::string& out, std::string* log) {
    lum::test::Run("ffmpeg -v warning -nostdin -y -i " + lum::test::Quote(path) +
                       " -pix_fmt bgr24 -f rawvideo " + lum::test::Quote(out) + " 2>&1",
                   log);
    const Bytes b = lum::test::ReadFile(out);
    return std::string(b.begin(), b.end());
}

// The largest difference of any value between a DIB of 24 bits and
// top-down BGR rows; 256 when the DIB has another shape.
int LargestDifference(const void* dib, const std::uint8_t* ref) {
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, dib, sizeof bi);
    if (bi.biBitCount != 24 || bi.biWidth != kWidth || std::abs(bi.biHeight) != kHeight) return 256;
    const auto* bits = static_cast<const std::uint8_t*>(dib) + bi.biSize;
    const std::size_t stride = (std::size_t{kWidth} * 3 + 3) & ~std::size_t{3};
    int largest = 0;
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* row =
            bits + stride * static_cast<std::size_t>(bi.biHeight > 0 ? kHeight - 1 - y : y);
        const std::uint8_t* r = ref + static_cast<std::size_t>(y) * kWidth * 3;
        for (int i = 0; i < kWidth * 3; ++i)
            largest = std::max(largest, std::abs(int(row[i]) - int(r[i])));
    }
    return largest;
}

// Mean difference of brightness between two pictures of BGR rows, row Y
// of A against row Y ^ Swap of B. Brightness, because ffmpeg converts a
// woven 4:2:0 picture as a progressive one, so its colours mix the two
// fields' chroma at edges while its luma is each field's own.
double LumaDifference(const std::uint8_t* a, const std::uint8_t* b, int swap) {
    const std::size_t row = std::size_t{kWidth} * 3;
    const auto luma = [](const std::uint8_t* p) {
        return (29 * p[0] + 150 * p[1] + 77 * p[2]) / 256.0;
    };
    double sum = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            sum += std::abs(luma(a + y * row + 3 * x) -
                            luma(b + static_cast<std::size_t>(y ^ swap) * row + 3 * x));
    return sum / (kWidth * kHeight);
}

// A hand-made file with ffmpeg's frames and the frames it was made to show.
struct Made {
    std::string path;
    std::string ffmpeg; // every frame, BGR rows
    std::string log;    // what ffmpeg said while decoding
    std::vector<Picture> meant;
};

// The media folder lives as long as the test program.
const lum::test::TempDir& Folder() {
    static lum::test::TempDir dir;
    return dir;
}

// Colours whose 5-bit forms widen back to themselves, so that the pictures
// are exact at 16 bits as well.
constexpr Colour kGrey = {198, 132, 66};
constexpr Colour kGreen = {0, 198, 66};
constexpr Colour kRed = {255, 0, 0};
constexpr Colour kWhite = {255, 255, 255};
constexpr Colour kNavy = {0, 0, 132};
constexpr Colour kYellow = {255, 255, 66};

// A recording of three samples: the whole screen with a box; a delta with
// a raw rectangle and a hextile one; a delta of a bar over the bottom rows.
Made MakeVmnc(int bits) {
    Made m;
    m.path = Folder().File("vmnc" + std::to_string(bits) + ".avi");
    Picture screen(kFrameBytes, 0);
    std::vector<Bytes> samples;
    samples.push_back(VmncSample(bits, &screen)
                          .ScreenFormat()
                          .Raw(0, 0, kWidth, kHeight, kGrey)
                          .Raw(8, 4, 16, 8, kGreen)
                          .Data());
    m.meant.push_back(screen);
    samples.push_back(VmncSample(bits, &screen)
                          .Raw(32, 24, 20, 10, kRed)
                          .Hextile(40, 0, kNavy, kYellow, 2, 3, 5, 4)
                          .Data());
    m.meant.push_back(screen);
    samples.push_back(VmncSample(bits, &screen).Raw(0, 40, kWidth, 8, kWhite).Data());
    m.meant.push_back(screen);
    WriteVideo(m.path, MakeFourCC("VMnc"), static_cast<WORD>(bits), samples, {true, false, false});
    m.ffmpeg = FfmpegFrames(m.path, m.path + ".bgr", &m.log);
    return m;
}

// A JPEG field with the APP0 "AVI1" segment cameras put after its start:
// polarity (1 first field, 2 second), a zero, and the field's size twice
// (with and without padding).
Bytes AviField(const Bytes& jpeg, int polarity) {
    EXPECT_TRUE(jpeg.size() > 2 && jpeg[0] == 0xff && jpeg[1] == 0xd8);
    const std::uint32_t size = static_cast<std::uint32_t>(jpeg.size() + 18);
    Bytes f = {0xff, 0xd8, 0xff, 0xe0};
    PutBe16(f, 16);
    f.insert(f.end(), {'A', 'V', 'I', '1', static_cast<std::uint8_t>(polarity), 0});
    PutBe32(f, size);
    PutBe32(f, size);
    f.insert(f.end(), jpeg.begin() + 2, jpeg.end());
    return f;
}

constexpr int kMjpegFrames = 3;
const std::string kSource = "-f lavfi -i testsrc=size=64x48:rate=25:duration=0.12 ";

// Interlaced MJPEG in the chroma layout Format: each sample the bottom
// field (odd rows) then the top one. ffmpeg's decoder puts a sample's first
// field on the odd rows whatever the polarity byte says, as bottom-field-
// first cameras (DV PAL timing) record; so the file shows the source
// picture. Meant holds the source frames.
Made MakeInterlacedMjpeg(const std::string& format) {
    Made m;
    const std::string dir = Folder().File(format);
    std::filesystem::create_directories(dir);
    m.path = dir + "/fields.avi";
    // The two fields as JPEGs and the source picture, in one run.
    const std::string src = dir + "/source.bgr";
    std::string log;
    EXPECT_EQ(
        lum::test::Run(
            "ffmpeg -v error -nostdin -y " + kSource +
                "-filter_complex \"split=3[t][b][s];[t]field=top[top];[b]field=bottom[bottom]\" "
                "-map [top] -c:v mjpeg -pix_fmt " +
                format + " -q:v 3 -f image2 " + lum::test::Quote(dir + "/top%d.jpg") +
                " -map [bottom] -c:v mjpeg -pix_fmt " + format + " -q:v 3 -f image2 " +
                lum::test::Quote(dir + "/bottom%d.jpg") + " -map [s] -pix_fmt bgr24 -f rawvideo " +
                lum::test::Quote(src) + " 2>&1",
            &log),
        0)
        << log;
    std::vector<Bytes> samples;
    for (int i = 1; i <= kMjpegFrames; ++i) {
        const std::string n = std::to_string(i) + ".jpg";
        Bytes s = AviField(lum::test::ReadFile(dir + "/bottom" + n), 1);
        const Bytes top = AviField(lum::test::ReadFile(dir + "/top" + n), 2);
        s.insert(s.end(), top.begin(), top.end());
        samples.push_back(s);
    }
    WriteVideo(m.path, MakeFourCC("MJPG"), 24, samples, std::vector<bool>(samples.size(), true));
    m.ffmpeg = FfmpegFrames(m.path, m.path + ".bgr", &m.log);
    const Bytes pictures = lum::test::ReadFile(src);
    for (std::size_t at = 0; at + kFrameBytes <= pictures.size(); at += kFrameBytes)
        m.meant.emplace_back(pictures.begin() + static_cast<std::ptrdiff_t>(at),
                             pictures.begin() + static_cast<std::ptrdiff_t>(at + kFrameBytes));
    return m;
}

// Made once per test program.
const Made& Vmnc(int bits) {
    if (bits == 32) {
        static const Made m = MakeVmnc(32);
        return m;
    }
    static const Made m = MakeVmnc(16);
    return m;
}

const Made& InterlacedMjpeg(const std::string& format) {
    if (format == "yuvj420p") {
        static const Made m = MakeInterlacedMjpeg(format);
        return m;
    }
    static const Made m = MakeInterlacedMjpeg(format);
    return m;
}

// Every frame of File from the frame reader, fetched last first and then
// each on a reader of its own (so deltas are decoded from their key frame),
// against ffmpeg's frames.
void ExpectFfmpegsFrames(const Made& file) {
    const std::size_t frames = file.meant.size();
    ASSERT_EQ(file.ffmpeg.size(), kFrameBytes * frames) << file.log;
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIFileOpen(&f, file.path, OF_READ | OF_SHARE_DENY_WRITE), AVIERR_OK);
    PAVISTREAM s = nullptr;
    ASSERT_EQ(AVIFileGetStream(f, &s, streamtypeVIDEO, 0), AVIERR_OK);
    ASSERT_EQ(AVIStreamLength(s), static_cast<LONG>(frames));
    BITMAPINFOHEADER want = lum::test::InfoHeader(kWidth, kHeight, 24);
    const auto* ref = reinterpret_cast<const std::uint8_t*>(file.ffmpeg.data());
    PGETFRAME all = AVIStreamGetFrameOpen(s, &want);
    ASSERT_NE(all, nullptr);
    for (LONG i = static_cast<LONG>(frames) - 1; i >= 0; --i) {
        const void* dib = AVIStreamGetFrame(all, i);
        ASSERT_NE(dib, nullptr) << "frame " << i;
        EXPECT_LE(LargestDifference(dib, ref + kFrameBytes * i), 1) << "frame " << i;
        PGETFRAME alone = AVIStreamGetFrameOpen(s, &want);
        ASSERT_NE(alone, nullptr);
        dib = AVIStreamGetFrame(alone, i);
        ASSERT_NE(dib, nullptr) << "frame " << i << " alone";
        EXPECT_LE(LargestDifference(dib, ref + kFrameBytes * i), 1) << "frame " << i << " alone";
        AVIStreamGetFrameClose(alone);
    }
    AVIStreamGetFrameClose(all);
    AVIStreamRelease(s);
    AVIFileRelease(f);
}

// snapreel-cli on File: `info` names libavcodec's decoder Codec, and
// `frame` writes ffmpeg's last frame.
void ExpectCliAgrees(const Made& file, const char* codec) {
    const std::size_t last = file.meant.size() - 1;
    ASSERT_EQ(file.ffmpeg.size(), kFrameBytes * (last + 1)) << file.log;
    std::ostringstream out, err;
    ASSERT_EQ(lum::app::RunCli({"info", file.path, "--json"}, out, err), 0) << err.str();
    const QJsonArray streams =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object()["streams"].toArray();
    ASSERT_EQ(streams.size(), 1);
    EXPECT_EQ(streams[0].toObject()["codec"].toString().toStdString(), codec);
    const std::string bmp = file.path + "-last.bmp";
    ASSERT_EQ(lum::app::RunCli({"frame", file.path, std::to_string(last), "-o", bmp}, out, err), 0)
        << err.str();
    const Bytes written = lum::test::ReadFile(bmp);
    ASSERT_GT(written.size(), 14u + 40u);
    EXPECT_LE(LargestDifference(written.data() + 14,
                                reinterpret_cast<const std::uint8_t*>(file.ffmpeg.data()) +
                                    kFrameBytes * last),
              1);
}

class VmncFile : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    }
};

class InterlacedMjpegFile : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    }
};

} // namespace

// The hand-made recording is what ffmpeg's decoder reads: the rectangles
// land where they were put, deltas keep the rest of the screen.
TEST_P(VmncFile, FfmpegShowsTheRectangles) {
    const Made& m = Vmnc(GetParam());
    EXPECT_EQ(m.log, "");
    ASSERT_EQ(m.ffmpeg.size(), kFrameBytes * m.meant.size()) << m.log;
    for (std::size_t i = 0; i < m.meant.size(); ++i) {
        const auto* got = reinterpret_cast<const std::uint8_t*>(m.ffmpeg.data()) + kFrameBytes * i;
        const auto at =
            std::mismatch(m.meant[i].begin(), m.meant[i].end(), got).first - m.meant[i].begin();
        EXPECT_EQ(at, static_cast<std::ptrdiff_t>(kFrameBytes))
            << "frame " << i << " differs first at x " << at / 3 % kWidth << ", y "
            << at / 3 / kWidth << ": " << int(got[at]) << " for " << int(m.meant[i][at]);
    }
}

TEST_P(VmncFile, FramesAreFfmpegsFrames) {
    ExpectFfmpegsFrames(Vmnc(GetParam()));
}

TEST_P(VmncFile, CliAgrees) {
    ExpectCliAgrees(Vmnc(GetParam()), "vmnc");
}

INSTANTIATE_TEST_SUITE_P(Depths, VmncFile, ::testing::Values(32, 16),
                         [](const auto& info) { return "Bits" + std::to_string(info.param); });

// ffmpeg weaves the two fields into one picture of the full height: the
// source picture again, and not one whose row pairs are the other way round.
TEST_P(InterlacedMjpegFile, FfmpegWeavesTheFields) {
    const Made& m = InterlacedMjpeg(GetParam());
    ASSERT_EQ(m.meant.size(), static_cast<std::size_t>(kMjpegFrames));
    ASSERT_EQ(m.ffmpeg.size(), kFrameBytes * kMjpegFrames) << m.log;
    for (int i = 0; i < kMjpegFrames; ++i) {
        const auto* got = reinterpret_cast<const std::uint8_t*>(m.ffmpeg.data()) + kFrameBytes * i;
        const double woven = LumaDifference(got, m.meant[i].data(), 0);
        const double crossed = LumaDifference(got, m.meant[i].data(), 1);
        EXPECT_LT(woven, 3.0) << "frame " << i;
        EXPECT_LT(woven * 2, crossed) << "frame " << i;
    }
}

TEST_P(InterlacedMjpegFile, FramesAreFfmpegsFrames) {
    ExpectFfmpegsFrames(InterlacedMjpeg(GetParam()));
}

TEST_P(InterlacedMjpegFile, CliAgrees) {
    ExpectCliAgrees(InterlacedMjpeg(GetParam()), "mjpeg");
}

INSTANTIATE_TEST_SUITE_P(Chroma, InterlacedMjpegFile, ::testing::Values("yuvj420p", "yuvj422p"));
