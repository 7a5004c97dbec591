// The Snapreel window driven as a user would: the real open dialog and
// folder dialog, clicks on the buttons, the files written; what the form
// resource sets up; the cancel paths, audio-only and broken files, and the
// error box. Runs on the offscreen platform with a headless ui service that
// records the error boxes.
#include <gtest/gtest.h>

#include <cstdlib>

#include <QApplication>
#include <QTimer>
#include <QtTest/QTest>
#include <filesystem>
#include <sstream>

#include "app/cli.h"
#include "app/mainform.h"
#include "app/subform.h"
#include "audio/lumacm.h"
#include "media.h"
#include "platform/ui/filedialog_driver.h"
#include "platform/ui/vfwpreview.h"

namespace fs = std::filesystem;
using lum::app::TMainForm;
using lum::app::TSubForm;
using lum::apptest::Rgb;

namespace {

class Window : public ::testing::Test {
protected:
    lum::test::HeadlessUi ui;
    lum::test::TempDir tmp;
    TSubForm form;
    TMainForm holder;
    std::string out;

    void SetUp() override {
        lum::app::InitApplication();
        form.SetHolder(&holder);
        form.show();
        out = fs::canonical(tmp.Path()).string() + "/stills";
        fs::create_directory(out);
    }

    // Loads Path through the open dialog.
    void Load(const std::string& path) {
        holder.OpenDialog->SetInitialDir(fs::path(path).parent_path().string());
        const std::string name = fs::path(path).filename().string();
        lum::test::WhenShown([name](lum::platform::ui::FileDialog* d) {
            lum::test::TypeName(d, QString::fromStdString(name));
            d->accept();
        });
        QTest::mouseClick(form.LoadButton, Qt::LeftButton);
    }
    void CancelLoad() {
        lum::test::WhenShown([](lum::platform::ui::FileDialog* d) { d->reject(); });
        QTest::mouseClick(form.LoadButton, Qt::LeftButton);
    }
    // Chooses Folder in the folder dialog, or cancels it for an empty one.
    void ChooseFolder(const std::string& folder) {
        if (!folder.empty()) form.SaveFolderDialog->SetDirectory(folder);
        form.SaveFolderDialog->OnShow = [this, folder](lum::TFolderDialog*) {
            QTimer::singleShot(0, [this, folder] {
                auto* h = form.SaveFolderDialog->GetHandle();
                if (!h) return;
                if (folder.empty())
                    h->reject();
                else
                    QTest::mouseClick(h->OkButton(), Qt::LeftButton);
            });
        };
        QTest::mouseClick(form.SaveButton, Qt::LeftButton);
        form.SaveFolderDialog->OnShow = nullptr;
    }
    void Extract() { QTest::mouseClick(form.ExtractButton, Qt::LeftButton); }

    std::vector<bool> Buttons() const {
        return {form.LoadButton->isEnabled(), form.SaveButton->isEnabled(),
                form.ExtractButton->isEnabled()};
    }
    std::vector<std::string> Errors() const {
        std::vector<std::string> texts;
        for (const auto& m : ui.service->Messages()) {
            EXPECT_EQ(m.caption, "SNAPREEL");
            EXPECT_EQ(m.style, lum::platform::ui::MB_OK | lum::platform::ui::MB_ICONERROR);
            texts.push_back(m.text);
        }
        return texts;
    }
    std::vector<std::string> Stills(const std::string& dir) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // 130 frames: dark red to frame 59, white from 60, blue from 120.
    std::string Clip(const std::string& name) {
        const std::string path = tmp.File(name);
        lum::apptest::WriteAvi(path, 130, 24, 16, [](int f, int, int) {
            return f < 60 ? Rgb{120, 0, 0} : f < 120 ? Rgb{255, 255, 255} : Rgb{0, 0, 255};
        });
        return path;
    }
};

TEST_F(Window, ResourceSetsUpTheWindowAndItsComponents) {
    EXPECT_EQ(form.windowTitle(), "Snapreel");
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    EXPECT_EQ(form.size(), QSize(408, 181));
    EXPECT_EQ(form.LoadButton->text(), "AVIファイルの読み込み...");
    EXPECT_EQ(form.SaveButton->text(), "静止画の保存場所を選ぶ...");
    EXPECT_EQ(form.ExtractButton->text(), "静止画に展開する");
    EXPECT_EQ(form.QuitButton->text(), "プログラムを終了する");
    EXPECT_EQ(form.Label3->text(), "Triger Level");
    EXPECT_EQ(form.Label2->text(), "Skip Frame");
    EXPECT_EQ(form.QuitButton->geometry(), QRect(8, 112, 169, 25));
    EXPECT_EQ(form.NumIOSkip->geometry(), QRect(279, 48, 121, 20));
    EXPECT_EQ(form.font().pixelSize(), 12);
    EXPECT_EQ(Buttons(), std::vector<bool>({true, false, false}));
    // Tab order: the four buttons, then the two fields.
    std::vector<QWidget*> chain{form.LoadButton};
    for (QWidget* w = form.LoadButton->nextInFocusChain(); w != form.LoadButton;
         w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w);
    EXPECT_EQ(chain, std::vector<QWidget*>({form.LoadButton, form.SaveButton, form.ExtractButton,
                                            form.QuitButton, form.NumIODistance, form.NumIOSkip}));

    // The fields: set up before their text, so the text survives.
    for (lum::TNumIO* f : {form.NumIODistance, form.NumIOSkip}) {
        EXPECT_EQ(f->GetInputFormat(), lum::itInt);
        EXPECT_EQ(f->GetDecPlaceSep(), lum::dsDot);
        EXPECT_FALSE(f->GetBeep());
        EXPECT_EQ(f->GetRangeLow(), -1.7e308);
        EXPECT_EQ(f->GetRangeHigh(), 1.7e308);
    }
    EXPECT_EQ(form.NumIODistance->GetText(), "160");
    EXPECT_EQ(form.NumIOSkip->GetText(), "60");

    // The gauge along the bottom edge, with its bevel, and still there
    // after the window is resized.
    EXPECT_EQ(form.Gauge->geometry(), QRect(0, 163, 408, 18));
    EXPECT_EQ(form.Gauge->GetBevel()->GetBevelOuter(), lum::bvLowered);
    EXPECT_EQ(form.Gauge->GetBevel()->GetBevelInner(), lum::bvNone);
    EXPECT_EQ(form.Gauge->GetBevel()->GetBorderWidth(), 0);
    form.resize(500, 250);
    QTest::qWait(10);
    EXPECT_EQ(form.Gauge->geometry(), QRect(0, 232, 500, 18));

    EXPECT_EQ(form.SaveFolderDialog->GetTitle(), "Browse for Folder");
    EXPECT_EQ(form.SaveFolderDialog->GetText(), "静止画像の保存場所を選択してください");
    EXPECT_EQ(holder.OpenDialog->GetTitle(), "Open AVI File");
    EXPECT_EQ(holder.OpenDialog->GetDefaultExt(), "avi");
    EXPECT_EQ(holder.OpenDialog->GetFilter(),
              "All multimedia files|*.AVI;*.WAV;*.AU|Microsoft .AVI-Dateien|*.AVI|Microsoft "
              "Waveform-Audiodateien|*.WAV;*.AU|Alle Dateien (*.*)|*.*");
    EXPECT_EQ(holder.OpenDialog->GetOptions(),
              lum::TOpenOptions({lum::ofHideReadOnly, lum::ofNoNetworkButton}));
    EXPECT_FALSE(holder.AVIFile->Opened());
    EXPECT_TRUE(holder.isHidden());
}

TEST_F(Window, StartUpLoadsTheCompressionManager) {
    // Set up as the program starts: the module beside the program (or
    // LUM_ACM) is loaded and every entry point bound.
    EXPECT_TRUE(lum::acmIsUsable());
    EXPECT_NE(lum::acmStreamConvert, nullptr);
}

TEST_F(Window, StartsWithoutTheCompressionManager) {
    // LUM_ACM= with no file: no module anywhere. The start-up goes on, and
    // the manager's entry points stay unbound.
    const char* saved = std::getenv("LUM_ACM");
    const std::string keep = saved ? saved : "";
    lum::acmShutdown();
    ::setenv("LUM_ACM", "", 1);
    EXPECT_NO_THROW(lum::app::InitApplication());
    const bool usable = lum::acmIsUsable();
    const bool bound = lum::acmStreamConvert != nullptr;
    lum::acmShutdown();
    if (saved)
        ::setenv("LUM_ACM", keep.c_str(), 1);
    else
        ::unsetenv("LUM_ACM");
    lum::app::InitApplication();
    EXPECT_FALSE(usable);
    EXPECT_FALSE(bound);
    EXPECT_TRUE(lum::acmIsUsable());
}

TEST_F(Window, LoadChooseAndExtractWriteWhatTheCommandLineWrites) {
    const std::string clip = Clip("clip.avi");
    Load(clip);
    EXPECT_TRUE(holder.AVIFile->Opened());
    EXPECT_EQ(holder.AVIFile->GetFileName(), clip);
    EXPECT_EQ(Buttons(), std::vector<bool>({true, true, false}));
    ChooseFolder(out);
    EXPECT_EQ(form.SaveFolderDialog->GetDirectory(), out);
    EXPECT_EQ(Buttons(), std::vector<bool>({true, true, true}));

    Extract();
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(Stills(out), std::vector<std::string>({"10060.BMP", "10120.BMP"}));
    EXPECT_FALSE(form.Gauge->isVisible());
    EXPECT_EQ(form.Gauge->GetMaxValue(), 130);
    EXPECT_EQ(form.Gauge->GetProgress(), 120);
    EXPECT_EQ(ui.service->Cursor(), lum::platform::ui::AppCursor::Default);

    // The command line with the same settings writes the same bytes. (The
    // window's file is opened exclusively, as the component's default.)
    holder.AVIFile->CloseFile();
    const std::string cli = tmp.File("cli");
    std::ostringstream o, e;
    ASSERT_EQ(lum::app::RunCli({"extract", clip, "-o", cli, "--quiet"}, o, e), 0) << e.str();
    for (const std::string& name : Stills(out))
        EXPECT_EQ(lum::test::ReadFile(out + "/" + name), lum::test::ReadFile(cli + "/" + name))
            << name;
    EXPECT_EQ(Stills(cli), Stills(out));

    // The fields' texts are read at run time; a second load keeps them.
    form.NumIOSkip->SetText("10");
    form.NumIODistance->SetText("-1");
    const std::string other = Clip("other.avi");
    Load(other);
    EXPECT_EQ(holder.AVIFile->GetFileName(), other);
    EXPECT_EQ(form.NumIOSkip->GetText(), "10");
    Extract();
    EXPECT_EQ(Stills(out).size(), 13u); // every tenth frame, 0 to 120
}

TEST_F(Window, CancellingChangesNothingAndAnEmptyFolderIsRefused) {
    CancelLoad();
    EXPECT_FALSE(holder.AVIFile->Opened());
    EXPECT_EQ(Buttons(), std::vector<bool>({true, false, false}));

    const std::string clip = Clip("clip.avi");
    Load(clip);
    CancelLoad();
    EXPECT_TRUE(holder.AVIFile->Opened());
    EXPECT_EQ(holder.AVIFile->GetFileName(), clip);

    ChooseFolder(out);
    ChooseFolder(""); // cancelled: Directory empties, Extract stays enabled
    EXPECT_EQ(form.SaveFolderDialog->GetDirectory(), "");
    EXPECT_EQ(Buttons(), std::vector<bool>({true, true, true}));
    Extract();
    EXPECT_EQ(Errors(), std::vector<std::string>({"No folder chosen for the stills."}));
    EXPECT_TRUE(Stills(out).empty());
    EXPECT_EQ(form.Gauge->GetMaxValue(), 100); // the run never started
}

TEST_F(Window, FrameStepBelowOneIsRefusedBeforeAnythingIsRead) {
    Load(Clip("clip.avi"));
    ChooseFolder(out);
    form.NumIOSkip->SetText("0");
    Extract();
    EXPECT_EQ(Errors(), std::vector<std::string>({"The frame step must be at least 1."}));
    EXPECT_TRUE(Stills(out).empty());
    EXPECT_EQ(form.Gauge->GetMaxValue(), 100); // never touched
}

TEST_F(Window, AudioOnlyFileEnablesNothingAndExtractsNothing) {
    const std::string wave = tmp.File("sound.wav");
    lum::apptest::WriteWave(wave);
    Load(wave);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(holder.AVIFile->Opened());
    EXPECT_EQ(Buttons(), std::vector<bool>({true, false, false}));

    // Buttons enabled by an earlier load stay; the run ends at once.
    Load(Clip("clip.avi"));
    ChooseFolder(out);
    Load(wave);
    EXPECT_EQ(Buttons(), std::vector<bool>({true, true, true}));
    Extract();
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(Stills(out).empty());
    EXPECT_EQ(ui.service->Cursor(), lum::platform::ui::AppCursor::Default);
}

TEST_F(Window, FileThatCannotBeOpenedShowsTheErrorAndLeavesNoFileOpen) {
    Load(Clip("clip.avi"));
    ChooseFolder(out);
    const std::string junk = tmp.File("junk.avi");
    lum::test::WriteFile(junk, {'n', 'o', 't', ' ', 'a', 'v', 'i'});
    Load(junk);
    EXPECT_EQ(Errors(), std::vector<std::string>({"AVI error (80044065): Unsupported."}));
    EXPECT_FALSE(holder.AVIFile->Opened());
    EXPECT_EQ(Buttons(), std::vector<bool>({true, true, true}));

    // Extracting now fails before the run begins, in the error box.
    Extract();
    EXPECT_EQ(Errors().back(), "File not opened.");
    EXPECT_TRUE(Stills(out).empty());
}

TEST_F(Window, QuitClosesTheWindow) {
    ASSERT_TRUE(form.isVisible());
    QTest::mouseClick(form.QuitButton, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
}

} // namespace

// A video in another container (MP4) is listed under the dialog's last
// entry, "all files"; its preview shows its first frame, and the window
// extracts from it the stills the command line writes.
TEST_F(Window, OpensAnMp4ThroughAllFilesWithItsPreview) {
    if (!lum::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string clip = tmp.File("clip.mp4");
    ASSERT_EQ(lum::test::Run("ffmpeg -v error -y -f lavfi -i "
                             "'testsrc2=size=48x32:rate=25:duration=6,hue=h=120*floor(t/2)' "
                             "-c:v libx264 -bf 2 " +
                             lum::test::Quote(clip) + " 2>&1"),
              0);
    holder.OpenDialog->SetInitialDir(tmp.Path().string());
    holder.OpenDialog->SetFilterIndex(4);
    QString filter;
    bool listed = false;
    QSize previewed;
    QString text;
    lum::test::WhenShown([&](lum::platform::ui::FileDialog* d) {
        filter = d->selectedNameFilter();
        listed = lum::test::SelectInList(d, "clip.mp4");
        auto* pane = d->findChild<lum::platform::vfw::AviPreviewPane*>();
        if (pane) {
            (void)QTest::qWaitFor([&] { return pane->ShownPath() == clip; }, 3000);
            previewed = pane->Shown().frame.size();
            text = pane->InfoText();
        }
        lum::test::TypeName(d, "clip.mp4");
        d->accept();
    });
    QTest::mouseClick(form.LoadButton, Qt::LeftButton);
    EXPECT_TRUE(filter.startsWith("Alle Dateien")) << filter.toStdString();
    EXPECT_TRUE(listed);
    EXPECT_EQ(previewed, QSize(48, 32));
    EXPECT_EQ(text.toStdString(), "48 x 32, 150 frames, 6.00 s, 25 frames/s");
    ASSERT_TRUE(holder.AVIFile->Opened());
    ChooseFolder(out);
    form.NumIOSkip->SetText("25");
    form.NumIODistance->SetText("20");
    Extract();
    EXPECT_TRUE(Errors().empty());
    const std::vector<std::string> stills = Stills(out);
    EXPECT_GE(stills.size(), 3u);
    holder.AVIFile->CloseFile();
    const std::string cli = tmp.File("cli");
    std::ostringstream o, e;
    ASSERT_EQ(lum::app::RunCli(
                  {"extract", clip, "-o", cli, "--quiet", "--step", "25", "--level", "20"}, o, e),
              0)
        << e.str();
    EXPECT_EQ(Stills(cli), stills);
    for (const std::string& name : stills)
        EXPECT_EQ(lum::test::ReadFile(out + "/" + name), lum::test::ReadFile(cli + "/" + name))
            << name;
}
