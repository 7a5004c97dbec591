// The folder browse dialog driven on the real browser, offscreen. Execute is
// modal, so each test acts from inside the dialog's loop and closes it.
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

#include "controls/foldrdlg.h"
#include "platform/base/system.h"
#include "support/testutil.h"

using namespace lum;
using lum::platform::ui::FolderBrowser;
using lum::platform::ui::ITEMIDLIST;
using lum::platform::ui::ShellItemKind;

namespace {

// Runs Execute; Act runs once the dialog's own loop is going. A dialog that
// Act leaves open is cancelled, so a failed check cannot hang the run.
bool RunDialog(TFolderDialog& dialog, const std::function<void(FolderBrowser&)>& act) {
    bool acted = false;
    dialog.OnShow = [&](TFolderDialog*) {
        QTimer::singleShot(0, [&] {
            acted = true;
            if (FolderBrowser* h = dialog.GetHandle()) act(*h);
            FolderBrowser* h = dialog.GetHandle();
            if (h && h->isVisible()) h->reject();
        });
    };
    const bool chosen = dialog.Execute();
    EXPECT_TRUE(acted) << "the dialog never ran its loop";
    return chosen;
}

void ClickOK(FolderBrowser& h) {
    QTest::mouseClick(h.OkButton(), Qt::LeftButton);
}

std::string Canonical(const std::filesystem::path& p) {
    return std::filesystem::canonical(p).string();
}

// A temporary folder with two subfolders, by their canonical paths.
struct Folders {
    Folders() {
        std::filesystem::create_directories(temp.Path() / "alpha");
        std::filesystem::create_directories(temp.Path() / "beta");
        root = Canonical(temp.Path());
        alpha = root + "/alpha";
        beta = root + "/beta";
    }
    test::TempDir temp;
    std::string root, alpha, beta;
};

} // namespace

TEST(FolderDialogDefaults, ConstructionState) {
    TFolderDialog d;
    EXPECT_EQ(d.GetTitle(), "Browse for Folder");
    EXPECT_EQ(d.GetText(), "");
    EXPECT_EQ(d.GetOptions().Bits(), 0x0B85);
    EXPECT_EQ(d.GetRootFolder(), sfoDesktopExpanded);
    EXPECT_EQ(d.GetDirectory(), "");
    EXPECT_EQ(d.GetHandle(), nullptr);
    d.SetCtl3D(false);
    EXPECT_TRUE(d.GetCtl3D());
}

TEST(FolderDialogOptions, DependencyRules) {
    TFolderDialog d;
    // Browsing for computers roots the dialog at the network and drops the
    // file-system options and printers.
    d.SetOptions(TFolderDialogOptions::FromBits(d.GetOptions().Bits())
                     .Include(bfBrowseForComputer)
                     .Include(bfFileSysAncestors)
                     .Include(bfBrowseForPrinter));
    EXPECT_EQ(d.GetRootFolder(), sfoNetwork);
    EXPECT_TRUE(d.GetOptions().Contains(bfBrowseForComputer));
    EXPECT_FALSE(d.GetOptions().Contains(bfFileSysDirsOnly));
    EXPECT_FALSE(d.GetOptions().Contains(bfFileSysAncestors));
    EXPECT_FALSE(d.GetOptions().Contains(bfBrowseForPrinter));

    // Printers, newly asked for, drop the other kinds of browsing.
    TFolderDialog p;
    p.SetOptions(TFolderDialogOptions{bfBrowseForPrinter, bfFileSysDirsOnly, bfDontGoBelowDomain,
                                      bfFileSysAncestors, bfBrowseForComputer});
    // Computers are newly asked for too, and win.
    EXPECT_EQ(p.GetRootFolder(), sfoNetwork);
    TFolderDialog q;
    q.SetOptions(TFolderDialogOptions{bfBrowseForPrinter, bfFileSysDirsOnly, bfDontGoBelowDomain,
                                      bfFileSysAncestors});
    EXPECT_EQ(q.GetOptions(), (TFolderDialogOptions{bfBrowseForPrinter}));
    EXPECT_EQ(q.GetRootFolder(), sfoDesktopExpanded);

    // The path in the status area needs the status line...
    TFolderDialog s;
    s.SetOptions({});
    s.SetOptions({bfShowPathInStatusArea});
    EXPECT_EQ(s.GetOptions(), (TFolderDialogOptions{bfShowPathInStatusArea, bfStatusText}));
    // ...and goes when the status line goes.
    s.SetOptions({bfShowPathInStatusArea});
    EXPECT_EQ(s.GetOptions(), TFolderDialogOptions{});

    // Of two centring options the new one wins; with neither before, both stay.
    TFolderDialog c; // bfParentCenter at construction
    c.SetOptions({bfParentCenter, bfScreenCenter});
    EXPECT_EQ(c.GetOptions(), TFolderDialogOptions{bfScreenCenter});
    c.SetOptions({bfParentCenter, bfScreenCenter});
    EXPECT_EQ(c.GetOptions(), TFolderDialogOptions{bfParentCenter});
    c.SetOptions({});
    c.SetOptions({bfParentCenter, bfScreenCenter});
    EXPECT_EQ(c.GetOptions(), (TFolderDialogOptions{bfParentCenter, bfScreenCenter}));
}

TEST(FolderDialogSelection, PathsWhileClosed) {
    Folders f;
    TFolderDialog d;
    d.SetDirectory(f.alpha + "/");
    EXPECT_EQ(d.GetDirectory(), f.alpha + "/"); // stored as given
    EXPECT_EQ(d.GetSelectionPath(), f.alpha);
    d.SetSelectionPath(f.beta + "/.");
    EXPECT_EQ(d.GetSelectionPath(), f.beta);

    // A path that is not an existing folder selects nothing.
    d.SetDirectory(f.root + "/missing");
    EXPECT_EQ(d.GetDirectory(), f.root + "/missing");
    EXPECT_EQ(d.GetSelectionPath(), "");
    test::WriteFile(f.root + "/file.txt", {'x'});
    d.SetSelectionPath(f.root + "/file.txt");
    EXPECT_EQ(d.GetSelectionPath(), "");
    d.SetSelectionPath("relative/path");
    EXPECT_EQ(d.GetSelectionPath(), "");

    // The same root keeps the lists; another root frees them.
    d.SetDirectory(f.alpha);
    d.SetRootFolder(sfoDesktopExpanded);
    EXPECT_EQ(d.GetSelectionPath(), f.alpha);
    d.SetRootFolder(sfoMyComputer);
    EXPECT_EQ(d.GetSelectionPath(), "");
}

TEST(FolderDialogExecute, ChoosingThenReopeningPreselectsTheFolder) {
    Folders f;
    TFolderDialog d;
    d.SetText("Choose where the stills go");
    int changes = 0;
    d.OnChange = [&](TFolderDialog*) { ++changes; };

    // First use: nothing preselected, the tree starts at its top item.
    EXPECT_TRUE(RunDialog(d, [&](FolderBrowser& h) {
        EXPECT_EQ(h.InstructionLine()->text(), "Choose where the stills go");
        EXPECT_EQ(h.windowTitle(), "Browse for Folder");
        EXPECT_EQ(h.FolderTree()->currentIndex(), h.FolderTree()->model()->index(0, 0));
        ASSERT_TRUE(h.SetSelection(f.alpha));
        EXPECT_EQ(d.GetDirectory(), f.alpha); // read from the open dialog
        ClickOK(h);
    }));
    EXPECT_EQ(d.GetDirectory(), f.alpha);
    EXPECT_EQ(d.DisplayName, "alpha");
    EXPECT_GT(changes, 0);

    // Opening again preselects it.
    EXPECT_TRUE(RunDialog(d, [&](FolderBrowser& h) {
        const auto sel = h.Selection();
        ASSERT_TRUE(sel);
        EXPECT_EQ(sel->path, f.alpha);
        EXPECT_TRUE(h.IsOKEnabled());
        ClickOK(h);
    }));
    EXPECT_EQ(d.GetDirectory(), f.alpha);

    // A Directory set while closed is preselected too.
    d.SetDirectory(f.beta);
    EXPECT_TRUE(RunDialog(d, [&](FolderBrowser& h) {
        const auto sel = h.Selection();
        ASSERT_TRUE(sel);
        EXPECT_EQ(sel->path, f.beta);
        ClickOK(h);
    }));
    EXPECT_EQ(d.GetDirectory(), f.beta);
}

TEST(FolderDialogExecute, TheFileSystemRootKeepsItsSeparator) {
    TFolderDialog d;
    EXPECT_TRUE(RunDialog(d, [&](FolderBrowser& h) {
        ASSERT_TRUE(h.SetSelection(std::string("/")));
        EXPECT_EQ(h.StatusText(), "/");
        ClickOK(h);
    }));
    EXPECT_EQ(d.GetDirectory(), "/");
}

TEST(FolderDialogExecute, CancelEmptiesDirectory) {
    Folders f;
    TFolderDialog d;
    d.SetDirectory(f.alpha);
    EXPECT_TRUE(RunDialog(d, ClickOK));
    EXPECT_EQ(d.GetDirectory(), f.alpha);

    EXPECT_FALSE(RunDialog(
        d, [](FolderBrowser& h) { QTest::mouseClick(h.CancelButton(), Qt::LeftButton); }));
    EXPECT_EQ(d.GetDirectory(), "");
    EXPECT_EQ(d.SelectionAttributes, 0u);
    EXPECT_EQ(d.GetHandle(), nullptr);
}

TEST(FolderDialogExecute, MissingDirectoryOpensWithNoPreselection) {
    Folders f;
    TFolderDialog d;
    d.SetDirectory(f.root + "/does/not/exist");
    EXPECT_FALSE(RunDialog(d, [&](FolderBrowser& h) {
        EXPECT_EQ(h.FolderTree()->currentIndex(), h.FolderTree()->model()->index(0, 0));
        const auto sel = h.Selection();
        ASSERT_TRUE(sel);
        EXPECT_EQ(sel->kind, ShellItemKind::Desktop);
    }));
}

TEST(FolderDialogExecute, VirtualItemDisablesOKAndTheCopiedButtonAndClearsTheStatus) {
    Folders f;
    QPushButton prototype("Make folder");
    prototype.setGeometry(0, 0, 80, 25);
    TFolderDialog d;
    d.SetCustomButton(&prototype);
    d.SetDirectory(f.alpha);
    int changes = 0;
    d.OnChange = [&](TFolderDialog*) { ++changes; };
    RunDialog(d, [&](FolderBrowser& h) {
        QAbstractButton* copy = d.GetCustomButton();
        ASSERT_NE(copy, nullptr);
        ASSERT_NE(copy, &prototype);
        EXPECT_EQ(copy->parentWidget(), &h);
        EXPECT_EQ(copy->text(), "Make folder");
        EXPECT_TRUE(copy->isVisible());
        // Aligned at the lower left, in line with OK and Cancel.
        EXPECT_LT(copy->geometry().right(), h.OkButton()->x());
        EXPECT_NEAR(copy->y(), h.CancelButton()->y(), 2);
        EXPECT_EQ(h.StatusText(), f.alpha);
        EXPECT_TRUE(h.IsOKEnabled());
        EXPECT_TRUE(copy->isEnabled());

        for (ShellItemKind kind :
             {ShellItemKind::Printers, ShellItemKind::ControlPanel, ShellItemKind::Network}) {
            const int before = changes;
            ASSERT_TRUE(h.SetSelection(ITEMIDLIST{kind, {}}));
            EXPECT_FALSE(h.IsOKEnabled());
            EXPECT_FALSE(copy->isEnabled());
            EXPECT_EQ(h.StatusText(), "");
            EXPECT_EQ(d.GetSelectionPath(), "");
            EXPECT_EQ(d.SelectionAttributes & ~platform::ui::SFGAO_HASSUBFOLDER, 0u);
            EXPECT_EQ(changes, before);
            ASSERT_TRUE(h.SetSelection(f.beta));
            EXPECT_TRUE(h.IsOKEnabled());
            EXPECT_TRUE(copy->isEnabled());
            EXPECT_EQ(h.StatusText(), f.beta);
            EXPECT_NE(d.SelectionAttributes & platform::ui::SFGAO_CANCOPY, 0u);
            EXPECT_EQ(changes, before + 1);
        }
        // The stored status text is the last one given, not the cleared line.
        ASSERT_TRUE(h.SetSelection(ITEMIDLIST{ShellItemKind::Printers, {}}));
        EXPECT_EQ(d.StatusText(), f.beta);
    });
    EXPECT_EQ(d.GetCustomButton(), &prototype);
}

TEST(FolderDialogExecute, LongPathIsShortenedInTheMiddle) {
    test::TempDir temp;
    std::filesystem::path deep = temp.Path();
    for (int i = 0; i < 6; ++i)
        deep /= "a_rather_long_folder_name_number_" + std::to_string(i);
    deep /= "final_leaf";
    std::filesystem::create_directories(deep);
    const std::string path = Canonical(deep);

    TFolderDialog d;
    d.SetDirectory(path);
    RunDialog(d, [&](FolderBrowser& h) {
        const std::string shown = h.StatusText();
        EXPECT_NE(shown, path);
        const auto dots = shown.find("...");
        ASSERT_NE(dots, std::string::npos) << shown;
        EXPECT_GT(dots, 0u); // the beginning is kept...
        EXPECT_EQ(path.compare(0, dots, shown, 0, dots), 0) << shown;
        const std::string tail = "/final_leaf"; // ...and so is the last part
        ASSERT_GE(shown.size(), tail.size());
        EXPECT_EQ(shown.substr(shown.size() - tail.size()), tail) << shown;
        // It fits the status line.
        QLabel* line = h.StatusLine();
        EXPECT_LE(QFontMetrics(line->font()).horizontalAdvance(QString::fromStdString(shown)),
                  line->width());
        EXPECT_EQ(d.StatusText(), path);

        // Without the path option, text is cut at its end.
        d.SetOptions(
            TFolderDialogOptions::FromBits(d.GetOptions().Bits()).Exclude(bfShowPathInStatusArea));
        const std::string text(200, 'x');
        d.SetStatusText(text);
        const std::string cut = h.StatusText();
        ASSERT_GE(cut.size(), 3u);
        EXPECT_LT(cut.size(), text.size());
        EXPECT_EQ(cut.find_first_not_of('x'), cut.size() - 2) << cut; // "xxx.." minus its last dot
        d.SetStatusText("short");
        EXPECT_EQ(h.StatusText(), "short");
    });
}

TEST(FolderDialogPlacement, CentredOnTheParent) {
    // Window rectangles, frames included: the parent 600 by 400 at (100, 100).
    QWidget parent;
    parent.show();
    const QSize frame = parent.frameGeometry().size() - parent.size();
    parent.resize(600 - frame.width(), 400 - frame.height());
    parent.move(100, 100);
    ASSERT_EQ(parent.frameGeometry(), QRect(100, 100, 600, 400));
    TFolderDialog d;
    d.SetParent(&parent);
    QRect placed, moved;
    RunDialog(d, [&](FolderBrowser& h) {
        placed = h.frameGeometry();
        const QSize dialogFrame = h.frameGeometry().size() - h.size();
        h.setFixedSize(320 - dialogFrame.width(), 200);
        d.PositionWindow();
        moved = h.frameGeometry();
    });
    EXPECT_EQ(moved.width(), 320);
    EXPECT_EQ(moved.topLeft(), QPoint(240, 200));
    // As opened, in its own size.
    EXPECT_EQ(placed.topLeft(), QPoint(100 + 300 - placed.width() / 2, 200));
}

TEST(FolderDialogPlacement, ScreenCentreAndStoredPosition) {
    platform::SetScreenQuery([] {
        platform::ScreenInfo s;
        s.width = 1000;
        s.height = 700;
        return s;
    });
    QWidget parent;
    parent.setGeometry(50, 60, 300, 200);
    parent.show();

    TFolderDialog d;
    d.SetParent(&parent);
    d.SetOptions({bfScreenCenter});
    RunDialog(d, [&](FolderBrowser& h) {
        EXPECT_EQ(h.pos(), QPoint((1000 - h.width()) / 2, (700 - h.height()) / 3));
    });

    // No centring: Left and Top in the parent's client coordinates; setting
    // them moves the open dialog.
    d.SetOptions({});
    d.SetLeft(10);
    d.SetTop(20);
    RunDialog(d, [&](FolderBrowser& h) {
        EXPECT_EQ(h.pos(), parent.mapToGlobal(QPoint(10, 20)));
        d.SetLeft(30);
        EXPECT_EQ(h.pos(), parent.mapToGlobal(QPoint(30, 20)));
    });

    // Parent centring with no parent window centres on the screen.
    parent.hide();
    TFolderDialog orphan;
    orphan.SetParent(nullptr);
    RunDialog(orphan, [&](FolderBrowser& h) {
        if (orphan.GetParent() != nullptr) GTEST_SKIP() << "another top-level window is up";
        EXPECT_EQ(h.pos(), QPoint((1000 - h.width()) / 2, (700 - h.height()) / 3));
    });
    platform::SetScreenQuery(nullptr);
}

TEST(FolderDialogCustomButton, CheckBoxCopyReachesThePrototypeOnOK) {
    Folders f;
    QCheckBox prototype("Open it afterwards");
    prototype.setGeometry(0, 0, 120, 20);
    int clicks = 0, toggles = 0;
    QObject::connect(&prototype, &QCheckBox::clicked, [&] { ++clicks; });
    QObject::connect(&prototype, &QCheckBox::toggled, [&] { ++toggles; });
    TFolderDialog d;
    d.SetCustomButton(&prototype);
    d.SetDirectory(f.alpha);

    // Cancelled: the prototype keeps its state.
    RunDialog(d, [&](FolderBrowser&) {
        QAbstractButton* copy = d.GetCustomButton();
        ASSERT_NE(copy, &prototype);
        ASSERT_TRUE(qobject_cast<QCheckBox*>(copy));
        QTest::mouseClick(copy, Qt::LeftButton);
        EXPECT_TRUE(copy->isChecked());
    });
    EXPECT_EQ(clicks, 1); // the copy's click runs the prototype's handler
    EXPECT_FALSE(prototype.isChecked());

    // Chosen: the prototype takes the copy's state, silently.
    d.SetDirectory(f.alpha);
    EXPECT_TRUE(RunDialog(d, [&](FolderBrowser& h) {
        QAbstractButton* copy = d.GetCustomButton();
        ASSERT_NE(copy, nullptr);
        EXPECT_FALSE(copy->isChecked());
        QTest::mouseClick(copy, Qt::LeftButton);
        ClickOK(h);
    }));
    EXPECT_EQ(clicks, 2);
    EXPECT_TRUE(prototype.isChecked());
    EXPECT_EQ(toggles, 0);
}

TEST(FolderDialogCustomButton, DestroyedPrototypeIsForgotten) {
    TFolderDialog d;
    auto prototype = std::make_unique<QPushButton>("Gone");
    d.SetCustomButton(prototype.get());
    prototype.reset();
    EXPECT_EQ(d.GetCustomButton(), nullptr);
    RunDialog(d, [&](FolderBrowser& h) {
        EXPECT_EQ(d.GetCustomButton(), nullptr);
        EXPECT_TRUE(h.findChildren<QPushButton*>().size() == 2); // OK and Cancel only
    });
}

TEST(FolderDialogLifecycle, TitleShowCloseAndDestructionWhileOpen) {
    TFolderDialog d;
    d.SetTitle("Pick");
    int shows = 0, closes = 0;
    d.OnClose = [&](TFolderDialog*) { ++closes; };
    RunDialog(d, [&](FolderBrowser& h) {
        ++shows;
        EXPECT_EQ(d.GetTitle(), "Pick");
        d.SetTitle("Picked");
        EXPECT_EQ(h.windowTitle(), "Picked");
        // A second Execute while open neither nests a dialog nor closes this one.
        EXPECT_FALSE(d.Execute());
        EXPECT_EQ(d.GetHandle(), &h);
        EXPECT_TRUE(h.isVisible());
        EXPECT_EQ(closes, 0);
    });
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(d.GetHandle(), nullptr);
    EXPECT_EQ(d.GetTitle(), "Picked");

    // The component destroyed from inside the dialog closes it; Execute
    // comes back without touching it again.
    auto* owned = new TFolderDialog;
    bool ran = false;
    owned->OnShow = [&](TFolderDialog* self) {
        QTimer::singleShot(0, [&ran, self] {
            ran = true;
            delete self;
        });
    };
    EXPECT_FALSE(owned->Execute());
    EXPECT_TRUE(ran);
}
