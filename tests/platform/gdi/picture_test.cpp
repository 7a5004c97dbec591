// The picture object: each registered format read from a real file (BMP by
// our reader, an icon of several sizes and PNGs by Qt's), transparency
// drawn through the mask, refusals that leave the picture as it was, and
// the registry's extension and filter.
#include <gtest/gtest.h>

#include <QImage>
#include <fstream>

#include "platform/base/exception.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/picture.h"
#include "platform/gdi/qtgdi.h"
#include "support/testutil.h"

using namespace lum;
using namespace lum::platform;
using namespace lum::platform::gdi;
using lum::test::TempDir;
using Bytes = std::vector<std::uint8_t>;

namespace {

void Put(Bytes& b, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// An icon file of square 32-bit images, one per size, each a solid colour
// with its left half transparent by alpha and the AND mask.
Bytes IconFile(const std::vector<std::pair<int, QRgb>>& images) {
    Bytes head, bodies;
    Put(head, 0, 2);
    Put(head, 1, 2);
    Put(head, static_cast<std::uint32_t>(images.size()), 2);
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (const auto& [n, colour] : images) {
        Bytes dib;
        Put(dib, 40, 4);
        Put(dib, static_cast<std::uint32_t>(n), 4);
        Put(dib, static_cast<std::uint32_t>(2 * n), 4);
        Put(dib, 1, 2);
        Put(dib, 32, 2);
        for (int i = 0; i < 6; ++i)
            Put(dib, 0, 4);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                Put(dib, x < n / 2 ? 0u : (colour | 0xFF000000u), 4);
        const int maskRow = (n + 31) / 32 * 4;
        for (int y = 0; y < n; ++y)
            for (int i = 0; i < maskRow; ++i) {
                std::uint8_t bits = 0;
                for (int b = 0; b < 8; ++b)
                    if (i * 8 + b < n / 2) bits |= static_cast<std::uint8_t>(0x80 >> b);
                dib.push_back(bits);
            }
        head.push_back(static_cast<std::uint8_t>(n));
        head.push_back(static_cast<std::uint8_t>(n));
        Put(head, 0, 2);
        Put(head, 1, 2);
        Put(head, 32, 2);
        Put(head, static_cast<std::uint32_t>(dib.size()), 4);
        Put(head, offset, 4);
        offset += static_cast<std::uint32_t>(dib.size());
        bodies.insert(bodies.end(), dib.begin(), dib.end());
    }
    head.insert(head.end(), bodies.begin(), bodies.end());
    return head;
}

// Draws Picture over Rect of a blue 40 x 40 image.
QImage DrawnOnBlue(const TPicture& picture, const RECT& rect) {
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(qRgb(0, 0, 255));
    TImageCanvas canvas(image);
    picture.Draw(canvas.GetHandle(), rect);
    return image;
}

} // namespace

TEST(TPicture, ReadsABmpWithOurReader) {
    TempDir dir;
    QImage source(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            source.setPixel(x, y, qRgb(40 * x, 60 * y, 200));
    TBitmap b;
    b.SetHandle(BitmapFromImage(source));
    b.SaveToFile(dir.File("p.BMP"));
    TPicture p;
    p.LoadFromFile(dir.File("p.BMP"));
    EXPECT_EQ(p.GetKind(), TPictureKind::pkBitmap);
    EXPECT_EQ(p.GetWidth(), 5);
    EXPECT_EQ(p.GetHeight(), 3);
    EXPECT_EQ(p.GetMaskHandle(), nullptr);
    EXPECT_EQ(ImageFromBitmap(p.GetBitmapHandle()), source);
}

TEST(TPicture, AnIconKeepsTheImageNearest32AndDrawsOnlyItsOpaqueHalf) {
    TempDir dir;
    lum::test::WriteFile(
        dir.File("i.ico"),
        IconFile({{16, qRgb(255, 0, 0)}, {48, qRgb(0, 0, 0)}, {32, qRgb(0, 255, 0)}}));
    TPicture p;
    p.LoadFromFile(dir.File("i.ico"));
    EXPECT_EQ(p.GetKind(), TPictureKind::pkIcon);
    ASSERT_EQ(p.GetWidth(), 32);
    ASSERT_NE(p.GetMaskHandle(), nullptr);
    const QImage drawn = DrawnOnBlue(p, RECT{4, 4, 36, 36});
    EXPECT_EQ(drawn.pixel(8, 20), qRgb(0, 0, 255));  // transparent half
    EXPECT_EQ(drawn.pixel(30, 20), qRgb(0, 255, 0)); // the 32-pixel image
    EXPECT_EQ(drawn.pixel(2, 2), qRgb(0, 0, 255));   // outside the rectangle
}

TEST(TPicture, APngWithAlphaIsMaskedAndStretched) {
    TempDir dir;
    QImage png(10, 10, QImage::Format_ARGB32);
    png.fill(qRgba(255, 255, 0, 255));
    for (int y = 0; y < 10; ++y)
        png.setPixel(0, y, qRgba(0, 0, 0, 0));
    ASSERT_TRUE(png.save(QString::fromStdString(dir.File("a.png"))));
    TPicture p;
    p.LoadFromFile(dir.File("a.png"));
    EXPECT_EQ(p.GetKind(), TPictureKind::pkBitmap);
    ASSERT_NE(p.GetMaskHandle(), nullptr);
    // Twice the size: the transparent first column covers two columns.
    const QImage drawn = DrawnOnBlue(p, RECT{0, 0, 20, 20});
    EXPECT_EQ(drawn.pixel(1, 10), qRgb(0, 0, 255));
    EXPECT_EQ(drawn.pixel(2, 10), qRgb(255, 255, 0));
    EXPECT_EQ(drawn.pixel(19, 19), qRgb(255, 255, 0));
    EXPECT_EQ(drawn.pixel(20, 10), qRgb(0, 0, 255));
}

TEST(TPicture, RefusalsLeaveThePictureAsItWas) {
    TempDir dir;
    QImage ok(7, 4, QImage::Format_RGB32);
    ok.fill(qRgb(1, 2, 3));
    ASSERT_TRUE(ok.save(QString::fromStdString(dir.File("ok.png"))));
    std::ofstream(dir.File("bad.png")) << "not a png";
    std::ofstream(dir.File("drawing.wmf")) << "metafile";
    TPicture p;
    p.LoadFromFile(dir.File("ok.png"));
    EXPECT_THROW(p.LoadFromFile(dir.File("bad.png")), EInvalidGraphic);
    EXPECT_THROW(p.LoadFromFile(dir.File("missing.bmp")), EStreamError);
    try {
        p.LoadFromFile(dir.File("drawing.wmf"));
        ADD_FAILURE() << "a metafile was taken";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Unknown picture file extension (.wmf)");
    }
    EXPECT_EQ(p.GetWidth(), 7);
    EXPECT_EQ(p.GetHeight(), 4);
    p.Clear();
    EXPECT_TRUE(p.Empty());
    EXPECT_EQ(p.GetBitmapHandle(), nullptr);
}

TEST(TPicture, TheRegistryGivesTheExtensionTheFilterAndTheLoader) {
    EXPECT_EQ(PictureDefaultExt(), "bmp");
    const std::string filter = PictureFilter();
    EXPECT_EQ(filter.rfind("All (*.bmp;*.dib;*.ico;*.png;*.jpg;*.jpeg)|*.bmp;*.dib;*.ico;", 0), 0u)
        << filter;
    EXPECT_NE(filter.find("|Icons (*.ico)|*.ico|"), std::string::npos) << filter;
    // A format added later is found by its extension in any case.
    RegisterPictureFormat("TST", "Test pictures", [](TPicture& p, const std::string&) {
        p.SetImage(TPictureKind::pkBitmap, CreateBitmap(3, 2, 1, 32, nullptr), nullptr);
    });
    EXPECT_NE(PictureFilter().find("|Test pictures (*.tst)|*.tst"), std::string::npos);
    TPicture p;
    p.LoadFromFile("/nowhere/x.Tst");
    EXPECT_EQ(p.GetWidth(), 3);
}
