// The folder browser and its items: special folders on Linux, parsing,
// attributes, the namespace tree and the browser's callback protocol.
#include <QAbstractItemModel>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

#include "platform/ui/shellbrowse.h"
#include "support/testutil.h"

using namespace lum::platform::ui;
using lum::platform::DWORD;
using lum::platform::UINT;

namespace {

// Sets an environment variable for one scope and puts the old value back.
class EnvScope {
public:
    EnvScope(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvScope() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string Canonical(const std::filesystem::path& p) {
    return std::filesystem::canonical(p).string();
}

ITEMIDLIST Place(ShellItemKind kind) {
    return ITEMIDLIST{kind, {}};
}

ITEMIDLIST Folder(const std::string& path) {
    return ITEMIDLIST{ShellItemKind::FileSystem, path};
}

// The display names of the rows under Parent, once the file system has
// delivered them.
QStringList Rows(QAbstractItemModel& model, const QModelIndex& parent, int atLeast) {
    if (model.canFetchMore(parent)) model.fetchMore(parent);
    (void)QTest::qWaitFor([&] { return model.rowCount(parent) >= atLeast; }, 5000);
    QStringList names;
    for (int r = 0; r < model.rowCount(parent); ++r)
        names << model.index(r, 0, parent).data().toString();
    return names;
}

} // namespace

TEST(ShellItems, SpecialFoldersMapToLinuxPlaces) {
    lum::test::TempDir home;
    const std::string h = Canonical(home.Path());
    EnvScope homeEnv("HOME", h);
    EnvScope config("XDG_CONFIG_HOME", h + "/.config");
    EnvScope data("XDG_DATA_HOME", h + "/.local/share");
    std::filesystem::create_directories(h + "/.config");

    // No desktop folder: the desktop is the home folder.
    auto item = SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->path, h);
    std::string path;
    const ITEMIDLIST desktop = Place(ShellItemKind::Desktop);
    EXPECT_TRUE(SHGetPathFromIDList(&desktop, path));
    EXPECT_EQ(path, h);

    // The user-dirs file names the desktop folder.
    std::filesystem::create_directories(h + "/Schreibtisch");
    const std::string dirs =
        "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
    lum::test::WriteFile(h + "/.config/user-dirs.dirs", {dirs.begin(), dirs.end()});
    item = SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->path, h + "/Schreibtisch");
    EXPECT_TRUE(SHGetPathFromIDList(&desktop, path));
    EXPECT_EQ(path, h + "/Schreibtisch");

    item = SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->path, h);
    item = SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->path, "/");
    item = SHGetSpecialFolderLocation(nullptr, CSIDL_APPDATA);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->path, h + "/.config");

    // Folders that do not exist give no root; templates appear once made.
    EXPECT_FALSE(SHGetSpecialFolderLocation(nullptr, CSIDL_TEMPLATES));
    std::filesystem::create_directories(h + "/Templates");
    item = SHGetSpecialFolderLocation(nullptr, CSIDL_TEMPLATES);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->path, h + "/Templates");
    EXPECT_FALSE(SHGetSpecialFolderLocation(nullptr, CSIDL_FAVORITES));
    EXPECT_FALSE(SHGetSpecialFolderLocation(nullptr, 0x7F));

    // The places without a path.
    for (auto [csidl, kind] : {std::pair{CSIDL_DESKTOP, ShellItemKind::Desktop},
                               std::pair{CSIDL_PRINTERS, ShellItemKind::Printers},
                               std::pair{CSIDL_CONTROLS, ShellItemKind::ControlPanel},
                               std::pair{CSIDL_NETWORK, ShellItemKind::Network}}) {
        item = SHGetSpecialFolderLocation(nullptr, csidl);
        ASSERT_TRUE(item) << csidl;
        EXPECT_EQ(item->kind, kind);
    }
}

TEST(ShellItems, ParsingPathsAndAttributes) {
    lum::test::TempDir temp;
    const std::string root = Canonical(temp.Path());
    std::filesystem::create_directories(root + "/sub/inner");
    lum::test::WriteFile(root + "/sub/file.txt", {'x'});

    DWORD a = SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
    auto item = SHParseDisplayName(nullptr, root + "//sub/./inner/../", &a);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->path, root + "/sub");
    EXPECT_EQ(a, SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_HASSUBFOLDER);
    // Only what the mask asks is answered.
    a = SFGAO_FOLDER;
    item = SHParseDisplayName(nullptr, root + "/sub/file.txt", &a);
    ASSERT_TRUE(item);
    EXPECT_EQ(a, 0u);
    a = SFGAO_HASSUBFOLDER;
    item = SHParseDisplayName(nullptr, root + "/sub/inner", &a);
    ASSERT_TRUE(item);
    EXPECT_EQ(a, 0u);

    EXPECT_FALSE(SHParseDisplayName(nullptr, "sub/inner", nullptr));
    EXPECT_FALSE(SHParseDisplayName(nullptr, root + "/missing", nullptr));

    // The root keeps its separator; other folders have none.
    item = SHParseDisplayName(nullptr, "/", nullptr);
    ASSERT_TRUE(item);
    std::string path;
    EXPECT_TRUE(SHGetPathFromIDList(item.get(), path));
    EXPECT_EQ(path, "/");
    EXPECT_EQ(SHGetDisplayName(*item), "File System");

    const ITEMIDLIST printers = Place(ShellItemKind::Printers);
    path = "stale";
    EXPECT_FALSE(SHGetPathFromIDList(&printers, path));
    EXPECT_EQ(path, "");
    EXPECT_FALSE(SHGetPathFromIDList(nullptr, path));
    DWORD pa = 0xFFFFFFFF;
    EXPECT_TRUE(SHGetAttributesOf(&printers, pa));
    EXPECT_EQ(pa & SFGAO_FILESYSTEM, 0u);

    // A folder that went away answers no attributes.
    const ITEMIDLIST gone = Folder(root + "/gone");
    DWORD ga = 0xFFFFFFFF;
    EXPECT_FALSE(SHGetAttributesOf(&gone, ga));
    EXPECT_EQ(ga, 0u);
}

TEST(FolderBrowserTree, DesktopHoldsTheFileSystemAndThePlacesWithoutPath) {
    FolderBrowser b(nullptr, nullptr, BIF_STATUSTEXT, "");
    QAbstractItemModel& m = *b.FolderTree()->model();
    ASSERT_EQ(m.rowCount(), 1);
    const QModelIndex top = m.index(0, 0);
    EXPECT_EQ(top.data().toString(), "Desktop");
    const QStringList rows = Rows(m, top, 4);
    EXPECT_EQ(rows, (QStringList{"File System", "Network", "Printers", "Control Panel"}));
    // Selecting each place reports an item of its kind.
    for (auto kind : {ShellItemKind::Network, ShellItemKind::Printers, ShellItemKind::ControlPanel,
                      ShellItemKind::Computer}) {
        ASSERT_TRUE(b.SetSelection(Place(kind)));
        EXPECT_EQ(b.Selection()->kind, kind);
    }
    ASSERT_TRUE(b.SetSelection(std::string("/")));
    EXPECT_EQ(b.Selection()->path, "/");
    EXPECT_FALSE(b.SetSelection(std::string("/no/such/folder")));
    EXPECT_EQ(b.Selection()->path, "/"); // unchanged
}

TEST(FolderBrowserTree, FolderRootListsDirectoriesFilesOnRequestAndHiddenOnRequest) {
    lum::test::TempDir temp;
    const std::string root = Canonical(temp.Path());
    std::filesystem::create_directories(root + "/visible");
    std::filesystem::create_directories(root + "/.hidden");
    lum::test::WriteFile(root + "/note.txt", {'x'});
    const ITEMIDLIST rootItem = Folder(root);

    FolderBrowser dirs(nullptr, &rootItem, 0, "");
    QAbstractItemModel& m = *dirs.FolderTree()->model();
    ASSERT_EQ(m.rowCount(), 1);
    const QModelIndex top = m.index(0, 0);
    EXPECT_EQ(dirs.Selection()->path, root);
    EXPECT_EQ(Rows(m, top, 1), QStringList{"visible"});
    // Items outside the root cannot be selected.
    EXPECT_FALSE(dirs.SetSelection(std::string("/")));
    EXPECT_FALSE(dirs.SetSelection(Place(ShellItemKind::Printers)));
    EXPECT_EQ(dirs.Selection()->path, root);

    // A hidden folder asked for by path is shown so that it can be selected.
    std::filesystem::create_directories(root + "/.hidden/deeper");
    EXPECT_FALSE(dirs.ShowsHidden());
    ASSERT_TRUE(dirs.SetSelection(root + "/.hidden/deeper"));
    EXPECT_EQ(dirs.Selection()->path, root + "/.hidden/deeper");
    EXPECT_TRUE(dirs.ShowsHidden());
    dirs.SetShowHidden(false);
    ASSERT_TRUE(dirs.SetSelection(root + "/visible"));

    // Ctrl+H switches hidden folders on and off in the open dialog.
    dirs.show();
    QApplication::setActiveWindow(&dirs);
    QTest::keyClick(dirs.FolderTree(), Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(dirs.ShowsHidden());
    QTest::keyClick(dirs.FolderTree(), Qt::Key_H, Qt::ControlModifier);
    EXPECT_FALSE(dirs.ShowsHidden());

    dirs.SetShowHidden(true);
    (void)QTest::qWaitFor([&] { return m.rowCount(top) == 2; }, 5000);
    QStringList shown = Rows(m, top, 2);
    shown.sort();
    EXPECT_EQ(shown, (QStringList{".hidden", "visible"}));

    FolderBrowser files(nullptr, &rootItem, BIF_BROWSEINCLUDEFILES | BIF_SHOWHIDDEN, "");
    QAbstractItemModel& fm = *files.FolderTree()->model();
    QStringList all = Rows(fm, fm.index(0, 0), 3);
    all.sort();
    EXPECT_EQ(all, (QStringList{".hidden", "note.txt", "visible"}));
    EXPECT_TRUE(files.SetSelection(root + "/note.txt"));
}

TEST(FolderBrowserFlags, OKFollowsTheFlagsAndEnableOK) {
    FolderBrowser b(nullptr, nullptr, BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT, "");
    ASSERT_TRUE(b.SetSelection(Place(ShellItemKind::Printers)));
    EXPECT_FALSE(b.IsOKEnabled());
    ASSERT_TRUE(b.SetSelection(std::string("/")));
    EXPECT_TRUE(b.IsOKEnabled());
    b.EnableOK(false);
    EXPECT_FALSE(b.IsOKEnabled());

    FolderBrowser computers(nullptr, nullptr, BIF_BROWSEFORCOMPUTER, "");
    ASSERT_TRUE(computers.SetSelection(std::string("/")));
    EXPECT_FALSE(computers.IsOKEnabled());
    ASSERT_TRUE(computers.SetSelection(Place(ShellItemKind::Computer)));
    EXPECT_TRUE(computers.IsOKEnabled());

    // A root that cannot be shown leaves nothing to choose.
    const ITEMIDLIST missing = Folder("/no/such/root");
    FolderBrowser empty(nullptr, &missing, 0, "");
    EXPECT_EQ(empty.FolderTree()->model()->rowCount(), 0);
    EXPECT_FALSE(empty.Selection());
    EXPECT_FALSE(empty.IsOKEnabled());
}

TEST(BrowseForFolder, CallbackProtocolAndResult) {
    lum::test::TempDir temp;
    const std::string root = Canonical(temp.Path());
    std::filesystem::create_directories(root + "/chosen");

    std::vector<std::pair<UINT, std::string>> calls;
    BROWSEINFO info;
    info.lpszTitle = "Where to?";
    info.ulFlags = BIF_STATUSTEXT | BIF_RETURNONLYFSDIRS;
    info.lpfn = [&](FolderBrowser* dialog, UINT message, const ITEMIDLIST* item) {
        calls.emplace_back(message, item ? item->path : "<none>");
        if (message == BFFM_INITIALIZED) {
            EXPECT_FALSE(dialog->isVisible());
            EXPECT_EQ(dialog->InstructionLine()->text(), "Where to?");
            dialog->SetSelection(root + "/chosen");
            dialog->SetStatusText("ready");
            QTimer::singleShot(0, dialog, [dialog] {
                EXPECT_TRUE(dialog->isVisible());
                EXPECT_EQ(dialog->StatusText(), "ready");
                QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
            });
        }
        return 0;
    };
    PIDL result = SHBrowseForFolder(info);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->path, root + "/chosen");
    EXPECT_EQ(info.displayName, "chosen");
    EXPECT_EQ(info.iImage, siFolder);
    // Initialised first, then one selection change: the preselection.
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], (std::pair<UINT, std::string>{BFFM_INITIALIZED, "<none>"}));
    EXPECT_EQ(calls[1], (std::pair<UINT, std::string>{BFFM_SELCHANGED, root + "/chosen"}));

    // Without a preselection the first selection is reported after
    // initialisation; cancelling returns nothing.
    calls.clear();
    info.lpfn = [&](FolderBrowser* dialog, UINT message, const ITEMIDLIST* item) {
        calls.emplace_back(message, item ? SHGetDisplayName(*item) : "<none>");
        if (message == BFFM_INITIALIZED)
            QTimer::singleShot(0, dialog, [dialog] { dialog->reject(); });
        return 0;
    };
    EXPECT_FALSE(SHBrowseForFolder(info));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], (std::pair<UINT, std::string>{BFFM_SELCHANGED, "Desktop"}));
}

TEST(FolderBrowserTree, PreselectionStaysInViewWhileFoldersLoad) {
    lum::test::TempDir temp;
    const std::string root = Canonical(temp.Path());
    std::filesystem::create_directories(root + "/zz_last/chosen");
    FolderBrowser b(nullptr, nullptr, BIF_STATUSTEXT, "");
    ASSERT_TRUE(b.SetSelection(root + "/zz_last/chosen"));
    b.show();
    QTreeView* tree = b.FolderTree();
    // Loading the folders on the way sorts and grows the rows above it.
    const QModelIndex fileSystem = tree->model()->index(0, 0, tree->model()->index(0, 0));
    ASSERT_EQ(fileSystem.data().toString(), "File System");
    EXPECT_TRUE(QTest::qWaitFor([&] { return tree->model()->rowCount(fileSystem) > 5; }, 5000));
    QTest::qWait(300);
    const QRect r = tree->visualRect(tree->currentIndex());
    EXPECT_TRUE(tree->viewport()->rect().contains(r.center())) << r.y();
    EXPECT_EQ(b.Selection()->path, root + "/zz_last/chosen");

    // Once the user scrolls, the view stays where the user put it.
    tree->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    b.SetShowHidden(true);
    QTest::qWait(300);
    EXPECT_EQ(tree->verticalScrollBar()->value(), 0);
}
