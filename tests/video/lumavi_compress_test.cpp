// TLumAVICompressor, TLumAVIMemoryFile, TLumAVIEditableStream and the
// clipboard query: the lists kept in step, saving with its progress and
// abort, the registry value in its stored layout (also damaged ones),
// the options dialog, memory files with their temporary file and cursor,
// and editable streams.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <QtTest/QTest>
#include <cstring>
#include <filesystem>

#include "core/lumutils.h"
#include "platform/base/system.h"
#include "platform/registry/registry.h"
#include "platform/registry/sandbox.h"
#include "platform/ui/saveoptions_dialog.h"
#include "platform/ui/uiservice.h"
#include "platform/vfw/riff.h"
#include "platform/vfw/save_fixtures.h"
#include "support/raised.h"
#include "video/lumavi.h"

using namespace lum;
using lum::test::Raised;
namespace vt = lum::vfwtest;
using platform::MakeFourCC;
using namespace platform::vfw;

namespace {

const lum::test::RegistrySandbox sandbox;

// A 64x48 uncompressed video of 12 frames and a PCM stream.
class CompressorTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("in.avi");
        vt::WriteRgbAvi(path_, 64, 48, 12, true);
        file_ = std::make_unique<TLumAVIFile>();
        file_->SetFileName(path_);
        file_->SetShareMode(smWrite); // others may read
        file_->OpenFile();
    }

    lum::test::TempDir dir_;
    std::string path_;
    std::unique_ptr<TLumAVIFile> file_;
};

TEST_F(CompressorTest, StreamsAndOptionsIndexForIndex) {
    TLumAVICompressor c;
    EXPECT_EQ(c.GetStreamCount(), 0);
    EXPECT_EQ(c.GetOptions(0), nullptr);
    c.AddStream(nullptr);
    EXPECT_EQ(c.GetStreamCount(), 0);
    TLumAVIStream* video = file_->GetStreams(0);
    const int refs = video->GetRefCount();
    c.AddFile(file_.get());
    ASSERT_EQ(c.GetStreamCount(), 2);
    EXPECT_EQ(video->GetRefCount(), refs + 1);
    EXPECT_EQ(c.GetStreams(0), video);
    EXPECT_NE(Raised([&] { c.GetStreams(2); }), "");

    const TAVICompressOptions& v = *c.GetOptions(0);
    EXPECT_EQ(v.fccType, streamtypeVIDEO);
    EXPECT_EQ(v.fccHandler, 0u);
    EXPECT_EQ(v.dwKeyFrameEvery, 7u);
    EXPECT_EQ(v.dwQuality, 0xFFFFFFFFu);
    EXPECT_EQ(v.dwBytesPerSecond, 60000u);
    EXPECT_EQ(v.dwFlags, 15u);
    EXPECT_EQ(v.dwInterleaveEvery, 5u);
    const TAVICompressOptions& a = *c.GetOptions(1);
    EXPECT_EQ(a.fccType, streamtypeAUDIO);
    EXPECT_EQ(a.dwFlags, 9u);
    EXPECT_EQ(a.dwInterleaveEvery, 5u);
    // The audio record has its own copy of the stream's format.
    ASSERT_NE(a.lpFormat, nullptr);
    ASSERT_EQ(a.cbFormat, static_cast<DWORD>(file_->GetStreams(1)->GetFormatSize(0)));
    std::vector<std::uint8_t> format(a.cbFormat);
    file_->GetStreams(1)->GetFormat(0, format.data(), static_cast<LONG>(format.size()));
    EXPECT_EQ(std::memcmp(a.lpFormat, format.data(), format.size()), 0);
    EXPECT_EQ(c.GetOptions(2), nullptr);
    EXPECT_EQ(c.GetOptions(-1), nullptr);

    // A stream whose options cannot be made is not added at all.
    auto* broken = new TLumAVIStream();
    EXPECT_EQ(Raised([&] { c.AddStream(broken); }), "Stream not opened");
    EXPECT_EQ(c.GetStreamCount(), 2);
    EXPECT_EQ(c.GetOptions(2), nullptr);
    EXPECT_EQ(broken->GetRefCount(), 1);
    broken->Release();

    c.FreeStreams();
    EXPECT_EQ(c.GetStreamCount(), 0);
    EXPECT_EQ(c.GetOptions(0), nullptr);
    EXPECT_EQ(video->GetRefCount(), refs);
}

TEST_F(CompressorTest, SaveReportsProgressAndEndsWithAHundred) {
    TLumAVICompressor c;
    EXPECT_EQ(Raised([&] { c.SaveToFile(dir_.File("none.avi")); }), "No data to save");
    c.AddFile(file_.get());
    c.GetOptions(0)->fccHandler = MakeFourCC("MJPG");
    c.GetOptions(0)->dwFlags &= ~AVICOMPRESSF_DATARATE;
    std::vector<int> seen;
    c.OnSave = [&](TLumAVICompressor* sender, int percent, bool& abort) {
        EXPECT_EQ(sender, &c);
        EXPECT_FALSE(abort);
        seen.push_back(percent);
    };
    const std::string out = dir_.File("out.avi");
    ASSERT_TRUE(c.SaveToFile(out));
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.back(), 100);
    EXPECT_EQ(seen[seen.size() - 2], 100); // the service's, then the compressor's own
    TLumAVIFile saved;
    saved.SetFileName(out);
    saved.OpenFile();
    ASSERT_EQ(saved.GetStreamCount(), 2);
    TAVIStreamInfo info;
    saved.GetStreams(0)->GetStreamInfo(info);
    EXPECT_EQ(info.fccHandler, MakeFourCC("MJPG"));
    EXPECT_EQ(saved.GetStreams(0)->GetLength(), 12);
    EXPECT_EQ(saved.GetStreams(1)->GetLength(), 12 * 320);
}

TEST_F(CompressorTest, AbortReturnsFalseAndAHandlerErrorPassesOn) {
    TLumAVICompressor c;
    c.AddFile(file_.get());
    c.OnSave = [](TLumAVICompressor*, int percent, bool& abort) { abort = percent >= 50; };
    const std::string out = dir_.File("out.avi");
    EXPECT_FALSE(c.SaveToFile(out));
    EXPECT_FALSE(std::filesystem::exists(out));
    // A save started from the handler is refused; the error ends the
    // outer save too, which leaves nothing behind.
    TLumAVICompressor other;
    other.AddFile(file_.get());
    c.OnSave = [&](TLumAVICompressor*, int, bool&) { other.SaveToFile(dir_.File("x.avi")); };
    EXPECT_EQ(Raised([&] { c.SaveToFile(out); }), "Another save is running");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
    // After it the next save runs.
    c.OnSave = nullptr;
    EXPECT_TRUE(c.SaveToFile(out));
}

// The registry value: records of 44 bytes, addresses as 0, each followed by
// its format and parameter bytes.
class RegistryTest : public CompressorTest {
protected:
    const std::string key_ = "Software\\LumTest\\Compressor";
    void TearDown() override {
        platform::registry::RegDeleteKey(platform::registry::HKEY_CURRENT_USER, key_);
    }
    std::vector<std::uint8_t> Stored(const std::string& value) {
        const std::int32_t size =
            GetFromRegistryBinary(platform::registry::HKEY_CURRENT_USER, key_, value, nullptr, 0);
        std::vector<std::uint8_t> b(static_cast<std::size_t>(std::max(size, 0)));
        if (size > 0)
            GetFromRegistryBinary(platform::registry::HKEY_CURRENT_USER, key_, value, b.data(),
                                  size);
        return b;
    }
    void Store(const std::string& value, const std::vector<std::uint8_t>& b) {
        SaveInRegistryBinary(platform::registry::HKEY_CURRENT_USER, key_, value, b.data(),
                             static_cast<std::int32_t>(b.size()));
    }
};

std::vector<std::uint8_t> Record(const std::vector<DWORD>& fields) {
    std::vector<std::uint8_t> b(44);
    for (std::size_t i = 0; i < fields.size(); ++i)
        platform::vfw::PutLE32(&b[4 * i], fields[i]);
    return b;
}

TEST_F(RegistryTest, RoundTripInTheStoredLayout) {
    const auto root = platform::registry::HKEY_CURRENT_USER;
    TLumAVICompressor c;
    c.AddFile(file_.get());
    TAVICompressOptions& v = *c.GetOptions(0);
    v.fccHandler = MakeFourCC("XVID");
    v.dwQuality = 5000;
    v.cbParms = 3;
    v.lpParms = GlobalAllocMem(3);
    std::memcpy(v.lpParms, "abc", 3);
    c.SaveOptionsToRegistry(root, key_, "Options");

    const std::vector<std::uint8_t> blob = Stored("Options");
    const DWORD audio_format = c.GetOptions(1)->cbFormat;
    ASSERT_EQ(blob.size(), 44 + 3 + 44 + audio_format);
    EXPECT_EQ(vt::Le32(blob, 4), MakeFourCC("XVID"));
    EXPECT_EQ(vt::Le32(blob, 24), 0u); // no address is stored
    EXPECT_EQ(vt::Le32(blob, 36), 3u);
    EXPECT_EQ(std::memcmp(&blob[44], "abc", 3), 0);
    EXPECT_EQ(vt::Le32(blob, 47), streamtypeAUDIO);
    EXPECT_EQ(vt::Le32(blob, 47 + 28), audio_format);

    TLumAVICompressor d;
    EXPECT_FALSE(d.LoadOptionsFromRegistry(root, key_, "Options")); // no list yet
    d.AddFile(file_.get());
    EXPECT_FALSE(d.LoadOptionsFromRegistry(root, key_, "Missing"));
    ASSERT_TRUE(d.LoadOptionsFromRegistry(root, key_, "Options"));
    const TAVICompressOptions& dv = *d.GetOptions(0);
    EXPECT_EQ(dv.fccHandler, MakeFourCC("XVID"));
    EXPECT_EQ(dv.dwQuality, 5000u);
    ASSERT_EQ(dv.cbParms, 3u);
    ASSERT_NE(dv.lpParms, nullptr);
    EXPECT_NE(dv.lpParms, v.lpParms);
    EXPECT_EQ(std::memcmp(dv.lpParms, "abc", 3), 0);
    const TAVICompressOptions& da = *d.GetOptions(1);
    ASSERT_EQ(da.cbFormat, audio_format);
    EXPECT_EQ(std::memcmp(da.lpFormat, c.GetOptions(1)->lpFormat, audio_format), 0);
    EXPECT_NE(da.lpFormat, c.GetOptions(1)->lpFormat);
}

TEST_F(RegistryTest, ValuesOfTheOriginalPlatformAndDamagedOnes) {
    const auto root = platform::registry::HKEY_CURRENT_USER;
    TLumAVICompressor c;
    c.AddFile(file_.get());
    c.AddStream(file_->GetStreams(0)); // a second video stream
    // Two video records with stale 32-bit addresses and no blocks: both go
    // to the first video stream, the later one winning; the addresses are
    // never taken.
    std::vector<std::uint8_t> blob = Record(
        {streamtypeVIDEO, MakeFourCC("MJPG"), 1, 7000, 0, 8, 0x00401000, 0, 0x00402000, 0, 1});
    std::vector<std::uint8_t> second = Record(
        {streamtypeVIDEO, MakeFourCC("cvid"), 9, 8000, 0, 12, 0x00401000, 0, 0x00402000, 0, 3});
    blob.insert(blob.end(), second.begin(), second.end());
    Store("Old", blob);
    ASSERT_TRUE(c.LoadOptionsFromRegistry(root, key_, "Old"));
    EXPECT_EQ(c.GetOptions(0)->fccHandler, MakeFourCC("cvid"));
    EXPECT_EQ(c.GetOptions(0)->dwKeyFrameEvery, 9u);
    EXPECT_EQ(c.GetOptions(0)->lpFormat, nullptr);
    EXPECT_EQ(c.GetOptions(0)->lpParms, nullptr);
    EXPECT_EQ(c.GetOptions(2)->fccHandler, 0u); // untouched

    // A record whose blocks run past the value, or a short tail: nothing
    // changes.
    std::vector<std::uint8_t> damaged =
        Record({streamtypeVIDEO, MakeFourCC("XVID"), 1, 1, 0, 8, 0, 0, 0, 1000, 1});
    damaged.resize(44 + 10);
    Store("Damaged", damaged);
    EXPECT_FALSE(c.LoadOptionsFromRegistry(root, key_, "Damaged"));
    EXPECT_EQ(c.GetOptions(0)->fccHandler, MakeFourCC("cvid"));
    std::vector<std::uint8_t> tail =
        Record({streamtypeVIDEO, MakeFourCC("XVID"), 1, 1, 0, 8, 0, 0, 0, 0, 1});
    tail.resize(44 + 20);
    Store("Tail", tail);
    EXPECT_FALSE(c.LoadOptionsFromRegistry(root, key_, "Tail"));
    EXPECT_EQ(c.GetOptions(0)->fccHandler, MakeFourCC("cvid"));
    // With no records nothing is written.
    TLumAVICompressor empty;
    empty.SaveOptionsToRegistry(root, key_, "Empty");
    EXPECT_TRUE(Stored("Empty").empty());
}

TEST_F(CompressorTest, ChooseOptionsThroughTheDialog) {
    TLumAVICompressor c;
    EXPECT_FALSE(c.ChooseOptions()); // no streams
    c.AddFile(file_.get());
    c.SetChooseKeyFrame(true);
    QTimer::singleShot(0, [] {
        SaveOptionsDialog* d = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                d = qobject_cast<SaveOptionsDialog*>(QApplication::activeModalWidget());
                return d != nullptr;
            },
            5000);
        ASSERT_NE(d, nullptr);
        EXPECT_TRUE(d->findChild<QWidget*>("keyFrames")->isVisibleTo(d));
        EXPECT_FALSE(d->findChild<QWidget*>("dataRate")->isVisibleTo(d));
        auto* box = d->findChild<QComboBox*>("compressor");
        box->setCurrentIndex(box->findData(QVariant::fromValue<uint>(MakeFourCC("FFV1"))));
        d->accept();
    });
    ASSERT_TRUE(c.ChooseOptions());
    EXPECT_EQ(c.GetOptions(0)->fccHandler, MakeFourCC("FFV1"));
}

// A cursor service that keeps every change.
class RecordingUi : public platform::ui::HeadlessUiService {
public:
    void SetAppCursor(platform::ui::AppCursor c) override {
        cursors.push_back(c);
        HeadlessUiService::SetAppCursor(c);
    }
    std::vector<platform::ui::AppCursor> cursors;
};

class MemoryFileTest : public CompressorTest {
protected:
    void SetUp() override {
        CompressorTest::SetUp();
        auto ui = std::make_unique<RecordingUi>();
        ui_ = ui.get();
        old_ = platform::ui::InstallUiService(std::move(ui));
    }
    void TearDown() override { platform::ui::InstallUiService(std::move(old_)); }

    RecordingUi* ui_ = nullptr;
    std::unique_ptr<platform::ui::UiService> old_;
};

TEST_F(MemoryFileTest, FromAMemoryStreamThroughATemporaryAviFile) {
    using platform::ui::AppCursor;
    // 70 frames of 9 KB: more than 500 KB, so the hourglass shows.
    const std::string big = dir_.File("big.avi");
    vt::WriteRgbAvi(big, 64, 48, 70, true);
    TMemoryStream stream;
    stream.LoadFromFile(big);
    ASSERT_GT(stream.GetSize() / 1024, 500);
    TLumAVIMemoryFile m;
    m.CreateFromMemoryStream(&stream);
    EXPECT_EQ(ui_->cursors, (std::vector<AppCursor>{AppCursor::Wait, AppCursor::Default}));
    ASSERT_EQ(m.GetStreamCount(), 2);
    EXPECT_EQ(m.GetStreams(0)->GetLength(), 70);
    // The temporary file has its final extension and goes with the file.
    std::vector<std::filesystem::path> temps;
    for (const auto& e : std::filesystem::directory_iterator(platform::GetTempPath()))
        if (e.path().extension() == ".avi" &&
            std::filesystem::file_size(e.path()) == static_cast<std::uintmax_t>(stream.GetSize()) &&
            e.path().filename().string().rfind("avi", 0) == 0)
            temps.push_back(e.path());
    ASSERT_EQ(temps.size(), 1u);
    m.CloseFile();
    EXPECT_FALSE(std::filesystem::exists(temps[0]));

    // Small and broken: no hourglass, the failure passes on, and no
    // temporary file stays.
    ui_->cursors.clear();
    TMemoryStream junk;
    junk.WriteBuffer("RIFF....junk", 12);
    EXPECT_NE(Raised([&] { m.CreateFromMemoryStream(&junk); }), "");
    EXPECT_TRUE(ui_->cursors.empty());
    EXPECT_FALSE(m.Opened());
    // A big broken one restores the cursor too.
    TMemoryStream big_junk;
    big_junk.SetSize(600 * 1024);
    EXPECT_NE(Raised([&] { m.CreateFromMemoryStream(&big_junk); }), "");
    EXPECT_EQ(ui_->cursors, (std::vector<AppCursor>{AppCursor::Wait, AppCursor::Default}));
    m.CreateFromMemoryStream(nullptr); // nothing
    EXPECT_EQ(Raised([&] { m.CreateFromResource("NOSUCH"); }), "Resource NOSUCH not found");
}

TEST_F(MemoryFileTest, StreamsCombinedAddedAndRemoved) {
    TLumAVIMemoryFile m;
    m.CreateEmpty();
    EXPECT_EQ(m.GetStreamCount(), 0);
    m.AddStream(file_->GetStreams(1));
    m.AddStream(file_->GetStreams(0));
    ASSERT_EQ(m.GetStreamCount(), 2);
    EXPECT_EQ(m.GetStreams(0)->GetStreamType(), stAudio);
    EXPECT_EQ(m.GetStreams(1)->GetLength(), 12);
    TLumAVIStream* stranger = file_->GetStreams(0);
    m.RemoveStream(stranger); // not in this file's list
    EXPECT_EQ(m.GetStreamCount(), 2);
    m.RemoveStream(m.GetStreams(0));
    EXPECT_EQ(m.GetStreamCount(), 1);
    // The file itself was not rebuilt.
    TAVIFileInfo info;
    m.GetFileInfo(info);
    EXPECT_EQ(info.dwStreams, 2u);
    m.CombineStreams({file_->GetStreams(0)});
    EXPECT_EQ(m.GetStreamCount(), 1);
    EXPECT_EQ(m.GetStreams(0)->GetStreamType(), stVideo);
}

TEST_F(MemoryFileTest, TheClipboard) {
    AVIClearClipboard();
    EXPECT_FALSE(AVIClipboardHasData());
    TLumAVIMemoryFile m;
    EXPECT_NE(Raised([&] { m.GetFromClipboard(); }), "");
    file_->PutOnClipboard();
    EXPECT_TRUE(AVIClipboardHasData());
    m.GetFromClipboard();
    EXPECT_EQ(m.GetStreamCount(), 2);
    file_->CloseFile(); // the clipboard keeps it for the memory file
    EXPECT_EQ(m.GetStreams(0)->GetLength(), 12);
    AVIClearClipboard();
    EXPECT_FALSE(AVIClipboardHasData());
}

TEST_F(CompressorTest, EditableStreams) {
    auto* e = new TLumAVIEditableStream();
    e->New();
    EXPECT_EQ(e->GetLength(), 0);
    EXPECT_EQ(e->Paste(0, file_->GetStreams(0), 0, 10), 10);
    EXPECT_EQ(e->GetLength(), 10);
    TLumAVIEditableStream* cut = e->Cut(2, 3);
    EXPECT_EQ(cut->GetRefCount(), 1);
    EXPECT_EQ(cut->GetLength(), 3);
    EXPECT_EQ(e->GetLength(), 7);
    TLumAVIEditableStream* copy = e->Copy(0, 100);
    EXPECT_EQ(copy->GetLength(), 7);
    TLumAVIEditableStream* clone = e->Clone();
    e->Paste(7, cut, 0, 3);
    EXPECT_EQ(clone->GetLength(), 7);
    EXPECT_EQ(e->GetLength(), 10);
    e->SetName("Edited");
    EXPECT_EQ(e->GetName(), "Edited");
    TAVIStreamInfo info;
    e->GetStreamInfo(info);
    info.dwRate = 50;
    e->SetInfo(info);
    EXPECT_EQ(e->GetFrameRate(), 50);
    EXPECT_NE(Raised([&] { e->Paste(0, nullptr, 0, 1); }), "");
    // Loading over a stream replaces the one held.
    e->Load(file_->GetStreams(0));
    EXPECT_EQ(e->GetLength(), 12);
    for (TLumAVIEditableStream* s : {e, cut, copy, clone})
        s->Release();
}

} // namespace
