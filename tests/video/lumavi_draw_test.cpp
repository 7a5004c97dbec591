// Frame drawing: frames drawn in any order equal the frame reader's
// pictures (decoded by the worker, and raw samples decoded by the drawing
// service), the catch-up from the nearest key frame feeds exactly the
// frames it should (seen in the drawing service's counters and in which
// deltas reached the picture), repaints, the frame time, and how records
// that cannot draw behave.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <limits>

#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"
#include "platform/vfw/avi_fixtures.h"
#include "support/raised.h"
#include "video/lumavi_draw.h"

using namespace lum;
namespace vt = lum::vfwtest;
namespace gdi = lum::platform::gdi;
namespace vfw = lum::platform::vfw;

namespace {

constexpr int kW = 16, kH = 4;

// The index frame I marks its column with.
std::uint8_t Mark(int i) {
    return static_cast<std::uint8_t>(1 + i % 15);
}

// RLE data of frame I of the marker stream: a key frame clears the picture
// and marks column I; a delta frame only marks column I. So the picture
// after decoding shows which frames reached it since the last key frame.
vt::Bytes MarkerFrame(int i, bool key, bool rle8) {
    vt::Bytes d;
    auto run = [&](int n, std::uint8_t index) {
        if (n > 0)
            d.insert(d.end(), {static_cast<std::uint8_t>(n),
                               static_cast<std::uint8_t>(rle8 ? index : index << 4)});
    };
    for (int row = 0; row < kH; ++row) {
        if (key) {
            run(i, 0);
            run(1, Mark(i));
            run(kW - i - 1, 0);
        } else {
            d.insert(d.end(), {0, 2, static_cast<std::uint8_t>(i), 0});
            run(1, Mark(i));
        }
        d.insert(d.end(), {0, 0}); // end of line
    }
    d.insert(d.end(), {0, 1});
    return d;
}

// A 16 x 4 RLE stream of 16 frames at Rate frames a second with key frames
// at Keys; colour index i is blue i.
std::string MarkerAvi(const lum::test::TempDir& dir, const std::string& name, std::vector<int> keys,
                      bool rle8, DWORD rate = 25) {
    const std::string path = dir.File(name);
    vt::CreateFile(path, [&](vt::PAVIFILE f) {
        vt::PAVISTREAM v = nullptr;
        vt::AVISTREAMINFO vi = vt::VideoInfo(0, rate ? 1 : 0, rate);
        ASSERT_EQ(vfw::AVIFileCreateStream(f, &v, &vi), 0);
        vt::Bytes fmt =
            vt::BitmapFormat(kW, kH, rle8 ? 8 : 4, rle8 ? vt::BI_RLE8 : vt::BI_RLE4, 16);
        vfw::AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        for (int i = 0; i < 16; ++i) {
            const bool key = std::find(keys.begin(), keys.end(), i) != keys.end();
            vt::Bytes d = MarkerFrame(i, key, rle8);
            ASSERT_EQ(vfw::AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()),
                                          key ? vfw::AVIIF_KEYFRAME : 0, nullptr, nullptr),
                      0);
        }
        vfw::AVIStreamRelease(v);
    });
    return path;
}

// A W x H uncompressed 24-bit stream whose every frame differs everywhere.
std::string PlainAvi(const lum::test::TempDir& dir, int w, int h, int frames) {
    const std::string path = dir.File("plain.avi");
    vt::CreateFile(path, [&](vt::PAVIFILE f) {
        vt::PAVISTREAM v = nullptr;
        vt::AVISTREAMINFO vi = vt::VideoInfo(0, 1, 25);
        ASSERT_EQ(vfw::AVIFileCreateStream(f, &v, &vi), 0);
        vt::Bytes fmt = vt::BitmapFormat(w, h, 24, vt::BI_RGB);
        vfw::AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
        for (int i = 0; i < frames; ++i) {
            vt::Bytes d(stride * static_cast<std::size_t>(h));
            for (std::size_t k = 0; k < d.size(); ++k)
                d[k] = static_cast<std::uint8_t>(k * 13 + i * 71);
            vfw::AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()), vfw::AVIIF_KEYFRAME,
                                nullptr, nullptr);
        }
        vfw::AVIStreamRelease(v);
    });
    return path;
}

struct Video {
    TLumAVIFile file;
    explicit Video(const std::string& path) {
        file.SetFileName(path);
        file.SetShareMode(smRead);
        file.OpenFile();
    }
    TLumAVIStream* Stream() { return file.GetTypedStreams(stVideo, 0); }
};

// A target of the frame's size: an RGB32 image with a context over it.
struct Target {
    QImage image;
    HDC dc;
    RECT rect;
    Target(int w, int h) : image(w, h, QImage::Format_RGB32), rect{0, 0, w, h} {
        image.fill(QColor(1, 2, 3));
        dc = gdi::CreateImageDC(&image);
    }
    ~Target() { gdi::DeleteDC(dc); }
    // Columns whose pixels are not index 0 (blue 0).
    std::vector<int> Marked() const {
        std::vector<int> cols;
        for (int x = 0; x < image.width(); ++x)
            if (qBlue(image.pixel(x, 0)) != 0) cols.push_back(x);
        return cols;
    }
};

// The frame reader's picture of frame F, put on an image by a plain blit,
// compared with Image pixel by pixel.
::testing::AssertionResult SameAsReader(TLumAVIVideoWorker& reader, LONG f, const QImage& image) {
    const TBitmapInfoHeader* dib = reader.GetDIB(f);
    const int w = DIB_Width(dib), h = std::abs(DIB_Height(dib));
    QImage want(w, h, QImage::Format_RGB32);
    HDC dc = gdi::CreateImageDC(&want);
    const int lines = gdi::StretchDIBits(dc, 0, 0, w, h, 0, 0, w, h, DIB_Ptr(dib),
                                         reinterpret_cast<const platform::BITMAPINFO*>(dib),
                                         gdi::DIB_RGB_COLORS, gdi::SRCCOPY);
    gdi::DeleteDC(dc);
    if (lines == 0) return ::testing::AssertionFailure() << "frame " << f << " cannot be shown";
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != (want.pixel(x, y) & 0xFFFFFF))
                return ::testing::AssertionFailure()
                       << "frame " << f << " differs at " << x << "," << y;
    return ::testing::AssertionSuccess();
}

vfw::DRAWDIBSTATS Stats(PLumDrawDIB d) {
    vfw::DRAWDIBSTATS s;
    EXPECT_TRUE(vfw::DrawDibGetStats(d->DrawHandle, &s));
    return s;
}

// DecompFrames for one test.
struct Decompress {
    bool old = DecompFrames;
    explicit Decompress(bool value) { DecompFrames = value; }
    ~Decompress() { DecompFrames = old; }
};

// Frames visited in an order with jumps both ways.
const std::vector<LONG> kOrder = {0, 1, 2, 7, 3, 15, 14, 8, 9, 9, 10, 4, 12, 5, 6, 11};

} // namespace

TEST(AVIDrawFrame, FramesInAnyOrderEqualTheFrameReadersPictures) {
    lum::test::TempDir dir;
    struct Case {
        std::string path;
        bool decompress;
        bool expectDecompress;
    };
    const std::vector<Case> cases = {
        {PlainAvi(dir, 21, 9, 16), true, true},
        {PlainAvi(dir, 21, 9, 16), false, false},
        {MarkerAvi(dir, "rle8.avi", {0, 8}, true), true, true},
        // RLE8 is decoded by the worker even when raw samples are wanted.
        {MarkerAvi(dir, "rle8raw.avi", {0, 5, 13}, true), false, true},
        {MarkerAvi(dir, "rle4.avi", {0, 5, 13}, false), false, false},
        {MarkerAvi(dir, "rle4dec.avi", {0, 8}, false), true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + (c.decompress ? " decoded" : " raw"));
        Decompress mode(c.decompress);
        Video v(c.path);
        TLumAVIVideoWorker reader(v.Stream());
        reader.BeginReading();
        const TBitmapInfoHeader* first = reader.GetDIB(0);
        Target t(DIB_Width(first), std::abs(DIB_Height(first)));

        PLumDrawDIB d = AVIInitDrawing(v.Stream());
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->Decompress, c.expectDecompress);
        ASSERT_TRUE(AVIBeginDrawing(d, t.dc, t.rect, 0));
        for (LONG f : kOrder) {
            ASSERT_TRUE(AVIDrawFrame(d, t.dc, t.rect, f)) << f;
            EXPECT_TRUE(SameAsReader(reader, f, t.image));
        }
        AVIEndDrawing(d);
        AVIDoneDrawing(d);
        EXPECT_EQ(d, nullptr);
    }
}

// An inter-coded stream made by ffmpeg: frames reached by the catch-up
// equal those the reader decodes, in the same order.
TEST(AVIDrawFrame, InterCodedFramesAfterSeeksEqualTheReaders) {
    if (!lum::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    lum::test::TempDir dir;
    const std::string path = dir.File("gop.avi");
    ASSERT_EQ(lum::test::Run("ffmpeg -v error -f lavfi -i testsrc=size=48x32:rate=25:duration=1.2 "
                             "-c:v mpeg4 -g 7 -bf 0 -q:v 4 -y " +
                             lum::test::Quote(path)),
              0);
    Video v(path);
    ASSERT_GT(v.Stream()->GetLength(), 20);
    TLumAVIVideoWorker reader(v.Stream());
    reader.BeginReading();
    Target t(48, 32);
    PLumDrawDIB d = AVIInitDrawing(v.Stream());
    ASSERT_TRUE(d->Decompress);
    ASSERT_TRUE(AVIBeginDrawing(d, t.dc, t.rect, 0));
    for (LONG f : {0L, 5L, 20L, 3L, 12L, 13L, 29L, 9L}) {
        ASSERT_TRUE(AVIDrawFrame(d, t.dc, t.rect, f));
        EXPECT_TRUE(SameAsReader(reader, f, t.image));
    }
    AVIDoneDrawing(d);
}

TEST(AVIDrawFrame, CatchUpFeedsTheFramesFromTheNearestKeyFrame) {
    lum::test::TempDir dir;
    Decompress raw(false);
    struct Step {
        std::vector<int> keys;
        LONG before, frame;
        int hurried;              // frames fed without drawing
        std::vector<int> columns; // deltas in the picture afterwards
    };
    const std::vector<Step> steps = {
        {{0, 8}, 9, 10, 0, {8, 9, 10}},
        {{0, 8}, 3, 10, 2, {8, 9, 10}},
        {{0, 5}, 9, 10, 0, {5, 6, 7, 8, 9, 10}},
        {{0, 5}, 9, 6, 1, {5, 6}},
        {{0}, 9, 12, 3, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
    };
    int n = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(::testing::Message() << s.before << " then " << s.frame);
        Video v(MarkerAvi(dir, "m" + std::to_string(n++) + ".avi", s.keys, false));
        Target t(kW, kH);
        PLumDrawDIB d = AVIInitDrawing(v.Stream());
        ASSERT_FALSE(d->Decompress);
        ASSERT_TRUE(AVIBeginDrawing(d, t.dc, t.rect, 0));
        ASSERT_TRUE(AVIDrawFrame(d, t.dc, t.rect, s.before));
        const vfw::DRAWDIBSTATS before = Stats(d);
        ASSERT_TRUE(AVIDrawFrame(d, t.dc, t.rect, s.frame));
        const vfw::DRAWDIBSTATS after = Stats(d);
        EXPECT_EQ(after.hurried - before.hurried, s.hurried);
        EXPECT_EQ(after.drawn - before.drawn, 1);
        EXPECT_EQ(t.Marked(), s.columns);
        EXPECT_EQ(d->LastFrame, s.frame);
        AVIDoneDrawing(d);
    }
}

TEST(AVIDrawFrame, TheSameFrameAgainRepaintsExceptFirstAfterBegin) {
    lum::test::TempDir dir;
    Decompress raw(false);
    Video v(MarkerAvi(dir, "m.avi", {0, 8}, false));
    Target t(kW, kH);
    PLumDrawDIB d = AVIInitDrawing(v.Stream());
    ASSERT_TRUE(AVIBeginDrawing(d, t.dc, t.rect, 0));
    ASSERT_TRUE(AVIDrawFrame(d, t.dc, t.rect, 4));
    ASSERT_TRUE(AVIDrawFrame(d, t.dc, t.rect, 4));
    vfw::DRAWDIBSTATS s = Stats(d);
    EXPECT_EQ(s.updates, 1);
    EXPECT_EQ(s.drawn, 2);
    t.image.fill(Qt::black);
    ASSERT_TRUE(AVIDrawFrame(d, t.dc, t.rect, 4));
    EXPECT_EQ(t.Marked(), (std::vector<int>{0, 1, 2, 3, 4}));

    // After a new Begin the same frame is drawn anew, not repainted: the
    // Begin makes the last key frame drawn (0) the last frame.
    ASSERT_TRUE(AVIBeginDrawing(d, t.dc, t.rect, 4));
    EXPECT_EQ(d->LastFrame, 0);
    ASSERT_TRUE(AVIDrawFrame(d, t.dc, t.rect, 4));
    s = Stats(d);
    EXPECT_EQ(s.updates, 2);
    EXPECT_EQ(s.drawn, 4);
    EXPECT_EQ(s.hurried, 4 + 4); // 0..3 each time

    // No record: nothing drawn, and never reported as drawn.
    EXPECT_FALSE(AVIDrawFrame(nullptr, t.dc, t.rect, 1));
    EXPECT_FALSE(AVIBeginDrawing(nullptr, t.dc, t.rect, 1));
    AVIEndDrawing(nullptr);
    PLumDrawDIB none = nullptr;
    AVIDoneDrawing(none);
    AVIDoneDrawing(d);
}

TEST(AVIDrawFrame, FrameTimesAndRatesThatAreNone) {
    EXPECT_EQ(AVIFrameTime(25), 40u);
    EXPECT_EQ(AVIFrameTime(30000.0L / 1001), 33u);
    EXPECT_EQ(AVIFrameTime(0.5), 2000u);
    EXPECT_EQ(AVIFrameTime(0), 0u);
    EXPECT_EQ(AVIFrameTime(-25), 0u);
    EXPECT_EQ(AVIFrameTime(std::numeric_limits<long double>::quiet_NaN()), 0u);
    EXPECT_EQ(AVIFrameTime(std::numeric_limits<long double>::infinity()), 0u);
    EXPECT_EQ(AVIFrameTime(1e-12L), 0u); // 10^15 ms does not fit

    lum::test::TempDir dir;
    for (DWORD rate : {25u, 0u}) {
        Video v(MarkerAvi(dir, "r" + std::to_string(rate) + ".avi", {0}, true, rate));
        PLumDrawDIB d = AVIInitDrawing(v.Stream());
        EXPECT_EQ(Stats(d).rate, rate ? 40u : 0u);
        Target t(kW, kH);
        ASSERT_TRUE(AVIBeginDrawing(d, t.dc, t.rect, 0));
        EXPECT_TRUE(AVIDrawFrame(d, t.dc, t.rect, 3));
        AVIDoneDrawing(d);
    }
}

TEST(AVIDrawFrame, RecordsThatCannotDrawFailAndSaySo) {
    lum::test::TempDir dir;
    // Opaque samples of a codec nobody decodes: the worker cannot begin
    // reading, raw samples go to the drawing service, which refuses them.
    const std::string path = dir.File("opaque.avi");
    vt::CreateFile(path, [&](vt::PAVIFILE f) {
        vt::PAVISTREAM v = nullptr;
        vt::AVISTREAMINFO vi = vt::VideoInfo(vt::MakeFourCC("ZZZZ"), 1, 25);
        ASSERT_EQ(vfw::AVIFileCreateStream(f, &v, &vi), 0);
        vt::Bytes fmt = vt::BitmapFormat(8, 8, 24, vt::MakeFourCC("ZZZZ"));
        vfw::AVIStreamSetFormat(v, 0, fmt.data(), static_cast<LONG>(fmt.size()));
        for (int i = 0; i < 3; ++i) {
            vt::Bytes d = vt::FrameData(i);
            vfw::AVIStreamWrite(v, i, 1, d.data(), static_cast<LONG>(d.size()), vfw::AVIIF_KEYFRAME,
                                nullptr, nullptr);
        }
        vfw::AVIStreamRelease(v);
    });
    Video v(path);
    Target t(8, 8);
    PLumDrawDIB d = AVIInitDrawing(v.Stream());
    EXPECT_FALSE(d->Decompress);
    EXPECT_FALSE(AVIBeginDrawing(d, t.dc, t.rect, 0));
    EXPECT_TRUE(d->Failed);
    EXPECT_FALSE(AVIDrawFrame(d, t.dc, t.rect, 1));
    EXPECT_FALSE(AVIDrawFrame(d, t.dc, t.rect, 2));
    EXPECT_EQ(d->LastFrame, 2);
    EXPECT_EQ(t.image.pixel(4, 4) & 0xFFFFFF, qRgb(1, 2, 3) & 0xFFFFFF); // brush 0 fills nothing
    AVIDoneDrawing(d);

    // A frame past the end is the worker's failure and passes on.
    Video m(MarkerAvi(dir, "m.avi", {0}, true));
    PLumDrawDIB e = AVIInitDrawing(m.Stream());
    Target u(kW, kH);
    ASSERT_TRUE(AVIBeginDrawing(e, u.dc, u.rect, 0));
    EXPECT_EQ(lum::test::Raised([&] { AVIDrawFrame(e, u.dc, u.rect, 16); }),
              "Failed getting frame");
    EXPECT_FALSE(e->Failed);
    AVIDoneDrawing(e);

    // A worker without a stream cannot start.
    EXPECT_EQ(lum::test::Raised([] { AVIInitDrawing(nullptr); }), "Stream not opened");
}
