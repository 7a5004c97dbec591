// The custom open dialog over the real file dialog: what Execute hands the
// dialog, the notifications and their order, a veto through OnFileOK,
// exceptions in notifications, multiple selection, cancelling, one dialog
// at a time, and the initial folder rule.
#include <gtest/gtest.h>

#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "dialogs/lumcstdlg.h"
#include "platform/base/exception.h"
#include "platform/ui/dlgtemplate.h"
#include "platform/ui/filedialog_driver.h"
#include "support/testutil.h"

using namespace lum;
namespace ui = lum::platform::ui;
using lum::test::TempDir;
using lum::test::WhenShown;

namespace {

void Touch(const std::string& path) {
    std::ofstream(path) << "x";
}

// Records the notifications in the order they arrive.
class LoggingDialog : public TLumCustomOpenDialog {
public:
    std::vector<std::string> log;
    bool refuseFirst = false;

protected:
    void DoCreate() override {
        log.push_back(GetHandle() ? "create" : "create without handle");
        TLumCustomOpenDialog::DoCreate();
    }
    void DoDestroy() override {
        log.push_back("destroy");
        TLumCustomOpenDialog::DoDestroy();
    }
    void DoFileOK(const std::string& f, bool& ok) override {
        log.push_back("fileok " + f);
        TLumCustomOpenDialog::DoFileOK(f, ok);
    }
    void DoSelChanged(const std::string& f) override {
        log.push_back("sel " + f);
        TLumCustomOpenDialog::DoSelChanged(f);
    }
    void DoCommand(QWidget* wnd, QWidget* parent, int cmd) override {
        log.push_back(
            "cmd " + std::to_string(cmd) +
            (wnd == GetHandle() && parent == wnd->parentWidget() ? "" : " wrong windows"));
        TLumCustomOpenDialog::DoCommand(wnd, parent, cmd);
    }
};

bool Has(const std::vector<std::string>& log, const std::string& s) {
    return std::find(log.begin(), log.end(), s) != log.end();
}

} // namespace

TEST(TLumCustomOpenDialog, OptionsMapOntoThePlatformFlags) {
    EXPECT_EQ(TOpenOptions({ofReadOnly, ofNoValidate}).ToFlags(), 0x101u);
    EXPECT_EQ(TOpenOptions({ofOldStyleDialog, ofNoDereferenceLinks}).ToFlags(), 0x180000u);
    EXPECT_EQ(TOpenOptions({ofEnableIncludeNotify, ofEnableSizing}).ToFlags(), 0xC00000u);
    TOpenOptions all;
    for (int i = 0; i <= ofEnableSizing; ++i)
        all.Include(static_cast<TOpenOption>(i));
    EXPECT_EQ(all.Bits(), 0xFFFFFu);
    EXPECT_EQ(TOpenOptions::FromFlags(all.ToFlags()), all);
    EXPECT_EQ(TOpenOptions::FromFlags(0x20 | 0x40), TOpenOptions()); // hook and template bits
}

TEST(TLumCustomOpenDialog, InitialDirKeepsOnlyTheRootsSlash) {
    TLumCustomOpenDialog d;
    d.SetInitialDir("/home/user/videos/");
    EXPECT_EQ(d.GetInitialDir(), "/home/user/videos");
    d.SetInitialDir("/home/user");
    EXPECT_EQ(d.GetInitialDir(), "/home/user");
    d.SetInitialDir("/");
    EXPECT_EQ(d.GetInitialDir(), "/");
    d.SetInitialDir("");
    EXPECT_EQ(d.GetInitialDir(), "");
}

TEST(TLumCustomOpenDialog, SplittingAMultipleSelection) {
    using V = std::vector<std::string>;
    EXPECT_EQ(TLumCustomOpenDialog::SplitMultiSelection("/v/a.avi\0"), V{"/v/a.avi"});
    EXPECT_EQ(TLumCustomOpenDialog::SplitMultiSelection("/v\0a.avi\0/w/b.avi\0c\0"),
              (V{"/v/a.avi", "/w/b.avi", "/v/c"}));
    EXPECT_EQ(TLumCustomOpenDialog::SplitMultiSelection("/\0a\0b\0"), (V{"/a", "/b"}));
    EXPECT_TRUE(TLumCustomOpenDialog::SplitMultiSelection("\0").empty());
}

TEST(TLumCustomOpenDialog, ExecuteHandsOverTheSettingsAndReadsTheResult) {
    TempDir dir;
    Touch(dir.File("clip.avi"));
    LoggingDialog d;
    d.SetFilter("Text|*.txt|Video|*.AVI");
    d.SetFilterIndex(2);
    d.SetInitialDir(dir.Path().string() + "/");
    d.SetTitle("Pick one");
    d.SetDefaultExt("avi");
    d.SetOptions({ofNoChangeDir, ofFileMustExist});
    std::vector<char> filter;
    QStringList qtFilters;
    QString folder, title;
    int selectedFilter = 0;
    WhenShown([&](ui::FileDialog* fd) {
        const char* f = fd->Record().lpstrFilter;
        filter.assign(f, f + 25);
        qtFilters = fd->nameFilters();
        selectedFilter = fd->FilterIndex();
        folder = fd->directory().absolutePath();
        title = fd->windowTitle();
        lum::test::TypeName(fd, "clip");
        fd->accept();
    });
    ASSERT_TRUE(d.Execute());
    // Two descriptions and two patterns, each with its zero, and one more.
    EXPECT_EQ(std::string(filter.data(), filter.size()),
              std::string("Text\0*.txt\0Video\0*.AVI\0\0", 25));
    EXPECT_EQ(qtFilters.size(), 2);
    EXPECT_EQ(selectedFilter, 2);
    EXPECT_EQ(folder.toStdString(), dir.Path().string());
    EXPECT_EQ(title, "Pick one");
    // The default extension completes the typed name.
    EXPECT_EQ(d.GetFileName(), dir.File("clip.avi"));
    EXPECT_EQ(d.GetFiles(), std::vector<std::string>{dir.File("clip.avi")});
    EXPECT_EQ(d.GetFilterIndex(), 2);
    EXPECT_FALSE(d.GetOptions().Contains(ofExtensionDifferent));
    EXPECT_EQ(d.GetHandle(), nullptr);
    EXPECT_EQ(TLumCustomOpenDialog::Current(), nullptr);
    ASSERT_GE(d.log.size(), 3u);
    EXPECT_EQ(d.log.front(), "create");
    EXPECT_EQ(d.log.back(), "destroy");
    EXPECT_TRUE(Has(d.log, "fileok " + dir.File("clip.avi")));
}

TEST(TLumCustomOpenDialog, VetoKeepsTheDialogOpenAndCancelKeepsTheOldValues) {
    TempDir dir;
    Touch(dir.File("bad.txt"));
    Touch(dir.File("good.txt"));
    TLumCustomOpenDialog d;
    d.SetFilter("All|*.*");
    d.SetInitialDir(dir.Path().string());
    d.SetOptions({ofNoChangeDir});
    d.OnFileOK = [](TLumCustomOpenDialog*, const std::string& f, bool& ok) {
        ok = f.find("bad") == std::string::npos;
    };
    bool openAfterVeto = false;
    WhenShown([&](ui::FileDialog* fd) {
        lum::test::TypeName(fd, "bad.txt");
        fd->accept();
        openAfterVeto = fd->isVisible();
        lum::test::TypeName(fd, "good.txt");
        fd->accept();
    });
    ASSERT_TRUE(d.Execute());
    EXPECT_TRUE(openAfterVeto);
    EXPECT_EQ(d.GetFileName(), dir.File("good.txt"));

    d.SetFilterIndex(1);
    WhenShown([](ui::FileDialog* fd) {
        lum::test::TypeName(fd, "bad.txt");
        fd->reject();
    });
    EXPECT_FALSE(d.Execute());
    EXPECT_EQ(d.GetFileName(), dir.File("good.txt"));
    EXPECT_TRUE(d.GetFiles().empty());
    EXPECT_EQ(d.GetFilterIndex(), 1);
}

TEST(TLumCustomOpenDialog, ExceptionsInNotificationsAreShownAndTheDialogStaysOpen) {
    TempDir dir;
    Touch(dir.File("a.txt"));
    lum::test::HeadlessUi shown;
    ui::SetApplicationTitle("SNAPREEL");
    TLumCustomOpenDialog d;
    d.SetFilter("All|*.*");
    d.SetInitialDir(dir.Path().string());
    d.SetOptions({ofNoChangeDir});
    int calls = 0;
    d.OnFileOK = [&](TLumCustomOpenDialog*, const std::string&, bool&) {
        if (++calls == 1) throw Exception("Cannot read the file");
    };
    d.OnSelChange = [](TLumCustomOpenDialog*, const std::string&) {
        throw Exception("Selection failed");
    };
    bool openAfterThrow = false;
    WhenShown([&](ui::FileDialog* fd) {
        lum::test::SelectInList(fd, "a.txt");
        lum::test::TypeName(fd, "a.txt");
        fd->accept();
        openAfterThrow = fd->isVisible();
        fd->accept();
    });
    ASSERT_TRUE(d.Execute());
    EXPECT_TRUE(openAfterThrow);
    EXPECT_EQ(calls, 2);
    std::vector<std::string> texts;
    for (const auto& m : shown.service->Messages()) {
        EXPECT_EQ(m.caption, "SNAPREEL");
        EXPECT_EQ(m.style, ui::MB_OK | ui::MB_ICONERROR);
        texts.push_back(m.text);
    }
    EXPECT_TRUE(Has(texts, "Cannot read the file."));
    EXPECT_TRUE(Has(texts, "Selection failed."));
}

TEST(TLumCustomOpenDialog, ThreeSelectedFilesGiveThreeFullPaths) {
    TempDir dir;
    for (const char* n : {"a.wav", "b.wav", "c.wav"})
        Touch(dir.File(n));
    LoggingDialog d;
    d.SetFilter("Wave|*.wav");
    d.SetInitialDir(dir.Path().string());
    d.SetOptions({ofAllowMultiSelect, ofNoChangeDir});
    WhenShown([](ui::FileDialog* fd) {
        lum::test::ListedNames(fd, 3);
        lum::test::TypeName(fd, "\"a.wav\" \"b.wav\" \"c.wav\"");
        fd->accept();
    });
    ASSERT_TRUE(d.Execute());
    std::vector<std::string> expected = {dir.File("a.wav"), dir.File("b.wav"), dir.File("c.wav")};
    EXPECT_EQ(d.GetFiles(), expected);
    EXPECT_EQ(d.GetFileName(), expected[0]);
    // Each file was checked on its own.
    for (const std::string& f : expected)
        EXPECT_TRUE(Has(d.log, "fileok " + f)) << f;
}

TEST(TLumCustomOpenDialog, SelectionChangesReachDoSelChanged) {
    TempDir dir;
    Touch(dir.File("first.avi"));
    Touch(dir.File("second.avi"));
    LoggingDialog d;
    d.SetFilter("Video|*.avi");
    d.SetInitialDir(dir.Path().string());
    WhenShown([](ui::FileDialog* fd) {
        EXPECT_TRUE(lum::test::SelectInList(fd, "first.avi"));
        EXPECT_TRUE(lum::test::SelectInList(fd, "second.avi"));
    });
    EXPECT_FALSE(d.Execute());
    EXPECT_TRUE(Has(d.log, "sel " + dir.File("first.avi")));
    EXPECT_TRUE(Has(d.log, "sel " + dir.File("second.avi")));
}

TEST(TLumCustomOpenDialog, TemplateCommandsAndOneDialogAtATime) {
    ui::RegisterDialogTemplate("CstdlgTestArea",
                               "DIALOG 0 0 100 20\nPUSHBUTTON 1000 \"Play\" 0 0 50 14\n");
    LoggingDialog d;
    d.SetTemplate("CstdlgTestArea");
    d.SetFilter("All|*.*");
    TLumCustomOpenDialog second;
    bool secondRan = true;
    bool currentWasD = false;
    d.OnCreate = [&](TLumCustomOpenDialog*) {
        currentWasD = TLumCustomOpenDialog::Current() == &d;
        secondRan = second.Execute();
    };
    WhenShown([&](ui::FileDialog*) {
        if (auto* b = qobject_cast<QPushButton*>(ui::GetDlgItem(d.GetHandle(), 1000))) b->click();
    });
    EXPECT_FALSE(d.Execute());
    EXPECT_TRUE(currentWasD);
    EXPECT_FALSE(secondRan);
    EXPECT_TRUE(Has(d.log, "cmd 1000"));

    // A template that does not exist: the dialog cannot be shown.
    LoggingDialog missing;
    missing.SetTemplate("NoSuchArea");
    EXPECT_FALSE(missing.Execute());
    EXPECT_TRUE(missing.log.empty());
}

TEST(TLumCustomOpenDialog, LongPathsComeBackWhole) {
    TempDir dir;
    std::string folder = dir.Path().string();
    for (int i = 0; i < 4; ++i)
        folder += "/" + std::string(80, static_cast<char>('a' + i));
    std::filesystem::create_directories(folder);
    Touch(folder + "/clip.avi");
    TLumCustomOpenDialog d;
    d.SetFilter("All|*.*");
    d.SetInitialDir(folder);
    d.SetOptions({ofNoChangeDir, ofFileMustExist});
    WhenShown([](ui::FileDialog* fd) {
        lum::test::TypeName(fd, "clip.avi");
        fd->accept();
    });
    ASSERT_TRUE(d.Execute());
    EXPECT_GT(d.GetFileName().size(), 260u);
    EXPECT_EQ(d.GetFileName(), folder + "/clip.avi");
}
