// The picture open and save dialogs: where a picture goes in the preview
// area by the scaling rules, and the dialog shown offscreen with a BMP and
// a PNG selected, the Preview box, and a picture that cannot be read.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QtTest/QTest>
#include <fstream>

#include "dialogs/lumcstdlg_picture.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"
#include "platform/ui/filedialog_driver.h"
#include "support/testutil.h"

using namespace lum;
namespace ui = lum::platform::ui;
namespace gdi = lum::platform::gdi;
using lum::platform::RECT;

namespace {

bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::ostream& operator<<(std::ostream& o, const RECT& r) {
    return o << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}

void SavePicture(const std::string& path, int w, int h, QRgb colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    if (path.size() > 4 && path.substr(path.size() - 4) == ".bmp") {
        gdi::TBitmap b;
        b.SetHandle(gdi::BitmapFromImage(image));
        b.SaveToFile(path);
    } else {
        ASSERT_TRUE(image.save(QString::fromStdString(path)));
    }
}

QRgb WindowColour() {
    const auto c = gdi::GetSysColor(COLOR_WINDOW);
    return qRgb(gdi::GetRValue(c), gdi::GetGValue(c), gdi::GetBValue(c));
}

} // namespace

TEST(TLumPictureOpenDialog, ScalesOnlyWhatDoesNotFit) {
    const RECT a{2, 2, 102, 82}; // 100 x 80 inside the frames
    // Smaller than the area less 10 both ways: its own size, centred from
    // the control's corner.
    EXPECT_EQ(TLumPictureOpenDialog::PictureRect(a, 20, 10, true), (RECT{40, 35, 60, 45}));
    EXPECT_EQ(TLumPictureOpenDialog::PictureRect(a, 89, 69, false), (RECT{5, 5, 94, 74}));
    // A wide bitmap: to the width less 10, centred vertically.
    EXPECT_EQ(TLumPictureOpenDialog::PictureRect(a, 300, 60, true), (RECT{7, 33, 97, 51}));
    // A tall one: to the height less 10, centred horizontally.
    EXPECT_EQ(TLumPictureOpenDialog::PictureRect(a, 35, 140, true), (RECT{43, 7, 60, 77}));
    // Exactly the area less 10 does not fit; an icon is then stretched.
    EXPECT_EQ(TLumPictureOpenDialog::PictureRect(a, 90, 20, true), (RECT{7, 32, 97, 52}));
    EXPECT_EQ(TLumPictureOpenDialog::PictureRect(a, 90, 20, false), a);
}

TEST(TLumPictureOpenDialog, ShowsTheSelectedPictureWhilePreviewIsOn) {
    lum::test::HeadlessUi headless;
    lum::test::TempDir dir;
    SavePicture(dir.File("small.bmp"), 20, 10, qRgb(0, 0, 255));
    SavePicture(dir.File("wide.png"), 600, 60, qRgb(255, 0, 0));
    std::ofstream(dir.File("broken.png")) << "no picture";
    TLumPictureOpenDialog d;
    d.SetPreview(true);
    d.SetInitialDir(dir.Path().string());
    d.SetOptions(d.GetOptions().Include(ofNoChangeDir));
    QImage small, wide, off, afterBroken;
    std::string shownAfterBroken;
    lum::test::WhenShown([&](ui::FileDialog* fd) {
        QWidget* preview = ui::GetDlgItem(fd->HookDialog(), TLumPictureOpenDialog::idPicture);
        ASSERT_NE(preview, nullptr);
        const auto shown = [&](const char* name) {
            return lum::test::SelectInList(fd, name) &&
                   QTest::qWaitFor([&] { return d.GetShownFile() == dir.File(name); }, 2000);
        };
        ASSERT_TRUE(shown("small.bmp"));
        small = preview->grab().toImage();
        ASSERT_TRUE(shown("wide.png"));
        wide = preview->grab().toImage();
        ASSERT_TRUE(lum::test::SelectInList(fd, "broken.png"));
        QTest::qWait(50);
        shownAfterBroken = d.GetShownFile();
        afterBroken = preview->grab().toImage();
        qobject_cast<QCheckBox*>(ui::GetDlgItem(fd->HookDialog(), TLumPictureOpenDialog::idPreview))
            ->click();
        off = preview->grab().toImage();
    });
    EXPECT_FALSE(d.Execute());
    ASSERT_FALSE(small.isNull());
    const int w = small.width(), h = small.height();
    const RECT a{2, 2, w - 2, h - 2};
    // The small bitmap at its own size in the middle, the window colour
    // around it.
    const RECT s = TLumPictureOpenDialog::PictureRect(a, 20, 10, true);
    EXPECT_EQ(small.pixel(s.left, s.top), qRgb(0, 0, 255));
    EXPECT_EQ(small.pixel(s.right - 1, s.bottom - 1), qRgb(0, 0, 255));
    EXPECT_EQ(small.pixel(s.right, s.bottom), WindowColour());
    EXPECT_EQ(small.pixel(s.left - 1, s.top), WindowColour());
    // The wide picture across the area less 5 each side, centred vertically.
    const RECT r = TLumPictureOpenDialog::PictureRect(a, 600, 60, true);
    EXPECT_EQ(r.left, 7);
    EXPECT_EQ(wide.pixel(r.left, (r.top + r.bottom) / 2), qRgb(255, 0, 0));
    EXPECT_EQ(wide.pixel(r.right - 1, (r.top + r.bottom) / 2), qRgb(255, 0, 0));
    EXPECT_EQ(wide.pixel(r.left, r.top - 2), WindowColour());
    EXPECT_EQ(wide.pixel(r.right, (r.top + r.bottom) / 2), WindowColour());
    // A picture that cannot be read is reported and the last one stays.
    ASSERT_EQ(headless.service->Messages().size(), 1u);
    EXPECT_EQ(shownAfterBroken, dir.File("wide.png"));
    EXPECT_EQ(afterBroken, wide);
    // Preview off: only the frame and the window colour.
    EXPECT_EQ(off.pixel(w / 2, h / 2), WindowColour());
    EXPECT_FALSE(d.GetPreview());
}
