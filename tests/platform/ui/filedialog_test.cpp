// The file dialog service: filters as pairs and their case-insensitive
// patterns, dialog templates and their area, and the real dialog driven
// offscreen: the hook's messages, a veto keeping the dialog open, the
// checks the flags ask for, the read-only box and the current folder.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "platform/ui/dlgtemplate.h"
#include "platform/ui/filedialog_driver.h"
#include "support/testutil.h"

using namespace lum::platform;
using namespace lum::platform::ui;
using lum::test::TempDir;
using lum::test::WhenShown;

namespace {

void Touch(const std::string& path) {
    std::ofstream(path) << "x";
}

// One record with its buffers, and the hook's log.
struct Record {
    explicit Record(const char* filter = "Text\0*.TXT\0All\0*.*\0", std::size_t filterSize = 20,
                    DWORD flags = 0) {
        filterBytes.assign(filter, filter + filterSize);
        filterBytes.push_back('\0');
        file.assign(2048, '\0');
        ofn.lpstrFilter = filterBytes.data();
        ofn.lpstrFile = file.data();
        ofn.nMaxFile = static_cast<DWORD>(file.size());
        ofn.Flags = flags | OFN_ENABLEHOOK | OFN_NOCHANGEDIR;
        ofn.lpfnHook = [this](QWidget* hook, UINT msg, WPARAM w, LPARAM l) -> UINT_PTR {
            if (msg == WM_NOTIFY) {
                auto* n = reinterpret_cast<OFNOTIFY*>(l);
                notifications.push_back(n->code);
                if (n->code == CDN_FILEOK) {
                    fileOkBuffer.assign(ofn.lpstrFile, ofn.lpstrFile + 256);
                    if (vetoes > 0) {
                        --vetoes;
                        n->Result = 1;
                    }
                    if (throwOnFileOk) throw std::runtime_error("Broken check");
                }
            } else if (msg == WM_COMMAND) {
                commands.push_back(LoWord(w));
            } else {
                messages.push_back(msg);
                if (msg == WM_INITDIALOG) hookDialog = hook;
            }
            return 0;
        };
    }
    int Count(UINT code) const {
        return static_cast<int>(std::count(notifications.begin(), notifications.end(), code));
    }

    std::vector<char> filterBytes;
    std::vector<char> file;
    OPENFILENAME ofn;
    std::vector<UINT> messages;
    std::vector<UINT> notifications;
    std::vector<int> commands;
    std::vector<char> fileOkBuffer;
    QWidget* hookDialog = nullptr;
    int vetoes = 0;
    bool throwOnFileOk = false;
};

} // namespace

TEST(FileDialogFilter, PairsAndCaseInsensitivePatterns) {
    auto entries = ParseFilter("Video\0*.AVI;*.mov\0All files (*.*)\0*.*\0Broken\0\0");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].description, "Video");
    EXPECT_EQ(entries[0].patterns, "*.AVI;*.mov");
    EXPECT_EQ(entries[1].patterns, "*.*");
    EXPECT_TRUE(ParseFilter(nullptr).empty());

    EXPECT_TRUE(MatchesFilter("clip.avi", "*.AVI"));
    EXPECT_TRUE(MatchesFilter("CLIP.MOV", "*.AVI; *.mov"));
    EXPECT_FALSE(MatchesFilter("clip.avi.txt", "*.avi"));
    EXPECT_TRUE(MatchesFilter("README", "*.*")); // the platform's "all files"
    EXPECT_TRUE(MatchesFilter("a1.wav", "a?.WAV"));
    EXPECT_FALSE(MatchesFilter("a12.wav", "a?.wav"));

    EXPECT_EQ(QtNameFilter(entries[0]), "Video (*.[aA][vV][iI] *.[mM][oO][vV])");
    EXPECT_EQ(QtNameFilter(entries[1]), "All files (*.*) (*)");
}

TEST(DialogTemplates, ParseBuildAndFindControls) {
    std::string error;
    auto t = ParseDialogTemplate("# an area below the dialog\n"
                                 "DIALOG 2 0 276 43\n"
                                 "PUSHBUTTON 1000 \"Play\" 222 0 50 14\n"
                                 "CHECKBOX 1001 \"Say \"\"hi\"\"\" 224 17 46 11\n"
                                 "STATIC 1004 \"\" 54 17 155 22\n",
                                 &error);
    ASSERT_TRUE(t) << error;
    ASSERT_EQ(t->items.size(), 3u);
    EXPECT_EQ(t->items[1].text, "Say \"hi\"");
    EXPECT_EQ(t->items[2].cx, 155);
    EXPECT_FALSE(t->Beside());

    struct Bad {
        const char* text;
        const char* why;
    } bad[] = {{"PUSHBUTTON 1 \"a\" 0 0 1 1\n", "no DIALOG line"},
               {"DIALOG 0 0 10\n", "DIALOG needs"},
               {"DIALOG 0 0 10 10\nSLIDER 1 \"\" 0 0 1 1\n", "line 2: unknown control"},
               {"DIALOG 0 0 10 10\nLTEXT 1 \"open 0 0 1 1\n", "unterminated"},
               {"DIALOG 0 0 10 10\nLTEXT x \"a\" 0 0 1 1\n", "LTEXT needs"}};
    for (const Bad& b : bad) {
        EXPECT_FALSE(ParseDialogTemplate(b.text, &error)) << b.text;
        EXPECT_NE(error.find(b.why), std::string::npos) << error;
    }

    RegisterDialogTemplate("TestArea", "DIALOG 0 0 100 40\nPUSHBUTTON 7 \"Go\" 10 8 40 16\n"
                                       "LTEXT 1119 \"\" 0 0 1 1\n");
    auto found = FindDialogTemplate("TESTAREA"); // names ignore case
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->Beside());
    EXPECT_FALSE(FindDialogTemplate("NoSuchTemplate"));

    QWidget parent;
    QWidget* area = CreateTemplateArea(*found, &parent);
    TemplateUnits u = UnitsOf(area->font());
    ASSERT_GT(u.baseX, 0);
    EXPECT_EQ(area->width(), u.X(100));
    QWidget* go = GetDlgItem(area, 7);
    ASSERT_TRUE(qobject_cast<QPushButton*>(go));
    EXPECT_EQ(go->geometry(), QRect(u.X(10), u.Y(8), u.X(40), u.Y(16)));
    EXPECT_EQ(GetDlgItem(area, 8), nullptr);
}

TEST(FileDialog, HookHearsEveryStageAndTheFilterArrivesAsPairs) {
    TempDir dir;
    Touch(dir.File("clip.txt"));
    Touch(dir.File("other.dat"));
    Record r;
    std::string initial = dir.Path().string();
    r.ofn.lpstrInitialDir = initial.c_str();
    r.ofn.nFilterIndex = 1;
    QStringList filters, listed;
    WhenShown([&](FileDialog* d) {
        filters = d->nameFilters();
        listed = lum::test::ListedNames(d, 1);
        lum::test::TypeName(d, "clip.txt");
        d->accept();
    });
    ASSERT_TRUE(GetOpenFileNameA(&r.ofn));
    EXPECT_EQ(filters, QStringList({"Text (*.[tT][xX][tT])", "All (*)"}));
    // "*.TXT" shows the lower-case file and hides the other.
    EXPECT_EQ(listed, QStringList({"clip.txt"}));
    EXPECT_EQ(std::string(r.file.data()), dir.File("clip.txt"));
    EXPECT_EQ(r.ofn.nFileOffset, initial.size() + 1);
    EXPECT_EQ(r.ofn.nFilterIndex, 1u);
    ASSERT_EQ(r.messages, (std::vector<UINT>{WM_INITDIALOG, WM_DESTROY}));
    ASSERT_FALSE(r.notifications.empty());
    EXPECT_EQ(r.notifications.front(), CDN_INITDONE);
    EXPECT_EQ(r.Count(CDN_FILEOK), 1);
}

TEST(FileDialog, VetoAndBrokenHookKeepTheDialogOpen) {
    TempDir dir;
    Touch(dir.File("a.txt"));
    lum::test::HeadlessUi ui;
    Record r;
    r.vetoes = 1;
    std::string initial = dir.Path().string();
    r.ofn.lpstrInitialDir = initial.c_str();
    bool openAfterVeto = false, openAfterThrow = false;
    WhenShown([&](FileDialog* d) {
        lum::test::TypeName(d, "a.txt");
        d->accept();
        openAfterVeto = d->isVisible();
        r.throwOnFileOk = true;
        d->accept();
        openAfterThrow = d->isVisible();
        r.throwOnFileOk = false;
        d->accept();
    });
    ASSERT_TRUE(GetOpenFileNameA(&r.ofn));
    EXPECT_TRUE(openAfterVeto);
    EXPECT_TRUE(openAfterThrow);
    EXPECT_EQ(r.Count(CDN_FILEOK), 3);
    ASSERT_EQ(ui.service->Messages().size(), 1u);
    EXPECT_EQ(ui.service->Messages()[0].text, "Broken check.");
    EXPECT_EQ(std::string(r.fileOkBuffer.data()), dir.File("a.txt"));
}

TEST(FileDialog, FlagsCheckNamesBeforeTheHookSeesThem) {
    TempDir dir;
    Touch(dir.File("exists.txt"));
    std::string initial = dir.Path().string();
    struct Case {
        const char* name;
        DWORD flags;
        bool save;
        int answer;
        bool accepted;
        const char* says; // part of the message shown; null for none
    } cases[] = {
        {"missing.txt", OFN_FILEMUSTEXIST, false, IDOK, false, "File not found"},
        {"nodir/x.txt", OFN_PATHMUSTEXIST, false, IDOK, false, "Path does not exist"},
        {"missing.txt", OFN_CREATEPROMPT, false, IDNO, false, "Do you want to create it?"},
        {"missing.txt", OFN_CREATEPROMPT, false, IDYES, true, "Do you want to create it?"},
        {"exists.txt", OFN_OVERWRITEPROMPT, true, IDNO, false, "already exists"},
        {"exists.txt", OFN_OVERWRITEPROMPT, true, IDYES, true, "already exists"},
        {"missing.txt", OFN_OVERWRITEPROMPT, true, IDNO, true, nullptr},
        {"missing.txt", 0, false, IDOK, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " flags " + std::to_string(c.flags));
        lum::test::HeadlessUi ui;
        ui.service->SetAnswer(c.answer);
        Record r("All\0*.*\0", 8, c.flags);
        r.ofn.lpstrInitialDir = initial.c_str();
        WhenShown([&](FileDialog* d) {
            lum::test::TypeName(d, c.name);
            d->accept();
        });
        BOOL ok = c.save ? GetSaveFileNameA(&r.ofn) : GetOpenFileNameA(&r.ofn);
        EXPECT_EQ(ok != FALSE, c.accepted);
        EXPECT_EQ(r.Count(CDN_FILEOK), c.accepted ? 1 : 0);
        if (c.says) {
            ASSERT_EQ(ui.service->Messages().size(), 1u);
            EXPECT_NE(ui.service->Messages()[0].text.find(c.says), std::string::npos)
                << ui.service->Messages()[0].text;
        } else {
            EXPECT_TRUE(ui.service->Messages().empty());
        }
    }
}

TEST(FileDialog, BufferTooSmallKeepsTheDialogOpenInsteadOfCutting) {
    TempDir dir;
    Touch(dir.File("a-rather-long-name.txt"));
    lum::test::HeadlessUi ui;
    Record r;
    r.ofn.nMaxFile = 8;
    std::string initial = dir.Path().string();
    r.ofn.lpstrInitialDir = initial.c_str();
    bool stillOpen = false;
    WhenShown([&](FileDialog* d) {
        lum::test::TypeName(d, "a-rather-long-name.txt");
        d->accept();
        stillOpen = d->isVisible();
    });
    EXPECT_FALSE(GetOpenFileNameA(&r.ofn));
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(r.Count(CDN_FILEOK), 0);
    EXPECT_EQ(ui.service->Messages().size(), 1u);
    EXPECT_EQ(r.file[7], '\0'); // nothing written past the buffer's end
}

TEST(FileDialog, TemplateAreaSendsCommandsAndMissingTemplateFails) {
    RegisterDialogTemplate("CommandArea", "DIALOG 0 0 120 20\nPUSHBUTTON 1000 \"Play\" 0 0 50 14\n"
                                          "CHECKBOX 1001 \"Preview\" 60 0 50 14\n");
    Record r;
    r.ofn.Flags |= OFN_ENABLETEMPLATE;
    r.ofn.lpTemplateName = "CommandArea";
    QWidget* item = nullptr;
    QWidget* parentOfHook = nullptr;
    WhenShown([&](FileDialog* d) {
        item = GetDlgItem(r.hookDialog, 1000);
        parentOfHook = r.hookDialog->parentWidget() == d ? d : nullptr;
        if (item) qobject_cast<QPushButton*>(item)->click();
        if (auto* box = qobject_cast<QCheckBox*>(GetDlgItem(r.hookDialog, 1001))) box->click();
    });
    EXPECT_FALSE(GetOpenFileNameA(&r.ofn)); // cancelled
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    ASSERT_NE(item, nullptr);
    EXPECT_NE(parentOfHook, nullptr);
    EXPECT_EQ(r.commands, (std::vector<int>{1000, 1001}));

    Record missing;
    missing.ofn.Flags |= OFN_ENABLETEMPLATE;
    missing.ofn.lpTemplateName = "NotRegistered";
    EXPECT_FALSE(GetOpenFileNameA(&missing.ofn));
    EXPECT_EQ(CommDlgExtendedError(), CDERR_FINDRESFAILURE);
    EXPECT_TRUE(missing.messages.empty());
}

TEST(FileDialog, ReadOnlyBoxAndTheCurrentFolder) {
    TempDir dir;
    Touch(dir.File("a.txt"));
    std::string initial = dir.Path().string();
    const std::string before = QDir::currentPath().toStdString();
    struct Case {
        DWORD flags;
        bool tick;
        bool boxShown;
        bool readOnly;
        bool changesDir;
    } cases[] = {
        {OFN_NOCHANGEDIR, true, true, true, false},
        {OFN_NOCHANGEDIR | OFN_READONLY, true, true, false, false}, // starts ticked
        {OFN_HIDEREADONLY | OFN_READONLY, false, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        Record r("All\0*.*\0", 8, c.flags);
        r.ofn.Flags = c.flags | OFN_ENABLEHOOK; // Record adds OFN_NOCHANGEDIR
        r.ofn.lpstrInitialDir = initial.c_str();
        bool shown = false;
        WhenShown([&](FileDialog* d) {
            auto* box = d->findChild<QCheckBox*>();
            shown = box != nullptr;
            if (box && c.tick) box->click();
            lum::test::TypeName(d, "a.txt");
            d->accept();
        });
        ASSERT_TRUE(GetOpenFileNameA(&r.ofn));
        EXPECT_EQ(shown, c.boxShown);
        EXPECT_EQ((r.ofn.Flags & OFN_READONLY) != 0, c.readOnly);
        EXPECT_EQ(QDir::currentPath().toStdString() == initial, c.changesDir);
        QDir::setCurrent(QString::fromStdString(before));
    }
}
