// The compression options dialog, driven as a user would: which choices it
// offers, what OK and Cancel do to the records, one page a stream, and the
// preview.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>

#include "platform/ui/saveoptions_dialog.h"
#include "platform/vfw/compress.h"
#include "support/testutil.h"

namespace lum::platform::vfw {
namespace {

// Runs Body once the dialog is up; a dialog Body leaves open is cancelled.
void WhenShown(std::function<void(SaveOptionsDialog*)> body) {
    QTimer::singleShot(0, [body] {
        SaveOptionsDialog* d = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                d = qobject_cast<SaveOptionsDialog*>(QApplication::activeModalWidget());
                return d != nullptr;
            },
            5000);
        if (!d) {
            ADD_FAILURE() << "the options dialog did not come up";
            return;
        }
        body(d);
        if (d->isVisible()) d->reject();
    });
}

template <class W>
W* Child(QWidget* d, const char* name) {
    W* w = d->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// A small video (uncompressed, 32x16) and a PCM stream in one file.
class SaveOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("in.avi");
        PAVIFILE f = nullptr;
        ASSERT_EQ(AVIFileOpen(&f, path_, OF_CREATE | OF_READWRITE | OF_SHARE_EXCLUSIVE), 0);
        AVISTREAMINFO vi{};
        vi.fccType = streamtypeVIDEO;
        vi.dwScale = 1;
        vi.dwRate = 25;
        PAVISTREAM v = nullptr, a = nullptr;
        ASSERT_EQ(AVIFileCreateStream(f, &v, &vi), 0);
        BITMAPINFOHEADER bi{40, 32, 16, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        ASSERT_EQ(AVIStreamSetFormat(v, 0, &bi, sizeof bi), 0);
        std::vector<std::uint8_t> px(32 * 16 * 3, 0);
        for (std::size_t i = 0; i < px.size(); i += 3)
            px[i + 2] = 200; // red
        ASSERT_EQ(AVIStreamWrite(v, 0, 1, px.data(), static_cast<LONG>(px.size()), AVIIF_KEYFRAME,
                                 nullptr, nullptr),
                  0);
        WAVEFORMATEX w{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
        AVISTREAMINFO ai{};
        ai.fccType = streamtypeAUDIO;
        ai.dwScale = 4;
        ai.dwRate = 88200;
        ai.dwSampleSize = 4;
        ASSERT_EQ(AVIFileCreateStream(f, &a, &ai), 0);
        ASSERT_EQ(AVIStreamSetFormat(a, 0, &w, sizeof w), 0);
        std::vector<std::uint8_t> pcm(400);
        ASSERT_EQ(AVIStreamWrite(a, 0, 100, pcm.data(), 400, 0, nullptr, nullptr), 0);
        AVIStreamRelease(v);
        AVIStreamRelease(a);
        AVIFileRelease(f);
        ASSERT_EQ(AVIStreamOpenFromFile(&streams_[0], path_, streamtypeVIDEO, 0, 0), 0);
        ASSERT_EQ(AVIStreamOpenFromFile(&streams_[1], path_, streamtypeAUDIO, 0, 0), 0);
        video_.fccType = streamtypeVIDEO;
        video_.dwKeyFrameEvery = 7;
        video_.dwQuality = 0xFFFFFFFF;
        video_.dwBytesPerSecond = 60000;
        video_.dwFlags = 15;
        video_.dwInterleaveEvery = 5;
        audio_.fccType = streamtypeAUDIO;
        audio_.dwFlags = 9;
        audio_.dwInterleaveEvery = 5;
    }
    void TearDown() override {
        AVIStreamRelease(streams_[0]);
        AVIStreamRelease(streams_[1]);
    }

    BOOL Show(UINT flags) {
        AVICOMPRESSOPTIONS* list[] = {&video_, &audio_};
        return AVISaveOptions(nullptr, flags, 2, streams_, list);
    }

    lum::test::TempDir dir_;
    std::string path_;
    PAVISTREAM streams_[2] = {};
    AVICOMPRESSOPTIONS video_{}, audio_{};
};

TEST_F(SaveOptionsTest, OkStoresTheChoicesOfEveryPage) {
    WhenShown([](SaveOptionsDialog* d) {
        auto* compressor = Child<QComboBox>(d, "compressor");
        compressor->setCurrentIndex(
            compressor->findData(QVariant::fromValue<uint>(MakeFourCC("XVID"))));
        Child<QCheckBox>(d, "qualityDefault")->setChecked(false);
        Child<QSlider>(d, "quality")->setValue(80);
        Child<QSpinBox>(d, "keyFrameEvery")->setValue(12);
        Child<QCheckBox>(d, "dataRate")->setChecked(false);
        // The audio page: its format shows, its interleave is its own.
        Child<QComboBox>(d, "stream")->setCurrentIndex(1);
        EXPECT_EQ(Child<QLabel>(d, "audioFormat")->text(), "PCM, 22050 Hz, 16 bit, stereo");
        Child<QCheckBox>(d, "interleave")->setChecked(false);
        // Back on the video page its choices are still there.
        Child<QComboBox>(d, "stream")->setCurrentIndex(0);
        EXPECT_EQ(Child<QSlider>(d, "quality")->value(), 80);
        d->accept();
    });
    ASSERT_TRUE(Show(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE));
    EXPECT_EQ(video_.fccHandler, MakeFourCC("XVID"));
    EXPECT_EQ(video_.dwQuality, 8000u);
    EXPECT_EQ(video_.dwKeyFrameEvery, 12u);
    EXPECT_EQ(video_.dwFlags,
              AVICOMPRESSF_INTERLEAVE | AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID);
    EXPECT_EQ(video_.dwBytesPerSecond, 60000u); // shown as 60 KB/sec and left
    EXPECT_EQ(audio_.dwFlags, AVICOMPRESSF_VALID);
}

TEST_F(SaveOptionsTest, CancelLeavesTheRecords) {
    const AVICOMPRESSOPTIONS before = video_;
    WhenShown([](SaveOptionsDialog* d) {
        Child<QComboBox>(d, "compressor")->setCurrentIndex(2);
        Child<QSpinBox>(d, "interleaveEvery")->setValue(9);
        d->reject();
    });
    EXPECT_FALSE(Show(ICMF_CHOOSE_KEYFRAME));
    EXPECT_EQ(std::memcmp(&before, &video_, sizeof before), 0);
}

TEST_F(SaveOptionsTest, ChoicesFollowTheFlagsAndTheCompressor) {
    WhenShown([](SaveOptionsDialog* d) {
        // Without the flags there is no key-frame or data-rate choice.
        EXPECT_FALSE(Child<QCheckBox>(d, "keyFrames")->isVisibleTo(d));
        EXPECT_FALSE(Child<QCheckBox>(d, "dataRate")->isVisibleTo(d));
        EXPECT_FALSE(Child<QLabel>(d, "preview")->isVisibleTo(d));
        auto* compressor = Child<QComboBox>(d, "compressor");
        // No compression: nothing to tune.
        EXPECT_EQ(compressor->currentData().toUInt(), 0u);
        EXPECT_FALSE(Child<QSlider>(d, "quality")->isEnabled());
        compressor->setCurrentIndex(
            compressor->findData(QVariant::fromValue<uint>(MakeFourCC("MJPG"))));
        EXPECT_TRUE(Child<QCheckBox>(d, "qualityDefault")->isEnabled());
        EXPECT_FALSE(Child<QCheckBox>(d, "keyFrames")->isEnabled()); // every frame is key
        d->accept();
    });
    ASSERT_TRUE(Show(0));
    // What was not offered stays as it was.
    EXPECT_EQ(video_.dwKeyFrameEvery, 7u);
    EXPECT_EQ(video_.dwFlags & (AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE),
              AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE);
}

TEST_F(SaveOptionsTest, UnknownCompressorIsKept) {
    video_.fccHandler = MakeFourCC("IV50");
    WhenShown([](SaveOptionsDialog* d) {
        EXPECT_TRUE(Child<QComboBox>(d, "compressor")->currentText().contains("IV50"));
        d->accept();
    });
    ASSERT_TRUE(Show(0));
    EXPECT_EQ(video_.fccHandler, MakeFourCC("IV50"));
}

TEST_F(SaveOptionsTest, PreviewShowsTheFirstFrameCompressed) {
    WhenShown([](SaveOptionsDialog* d) {
        auto* compressor = Child<QComboBox>(d, "compressor");
        compressor->setCurrentIndex(
            compressor->findData(QVariant::fromValue<uint>(MakeFourCC("MJPG"))));
        QImage image = d->PreviewImage();
        ASSERT_EQ(image.size(), QSize(32, 16));
        const QColor c = image.pixelColor(16, 8);
        EXPECT_NEAR(c.red(), 200, 12);
        EXPECT_NEAR(c.green(), 0, 12);
        EXPECT_FALSE(Child<QLabel>(d, "preview")->pixmap().isNull());
        d->accept();
    });
    ASSERT_TRUE(Show(ICMF_CHOOSE_PREVIEW));
}

TEST(SaveOptionsArguments, RefusedWithoutStreamsOrRecords) {
    AVICOMPRESSOPTIONS o{};
    AVICOMPRESSOPTIONS* list[] = {&o};
    EXPECT_FALSE(AVISaveOptions(nullptr, 0, 0, nullptr, list));
    PAVISTREAM none[] = {nullptr};
    EXPECT_FALSE(AVISaveOptions(nullptr, 0, 1, none, list));
}

} // namespace
} // namespace lum::platform::vfw
