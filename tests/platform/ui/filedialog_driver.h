// Driving the modal file dialog from a test: a body that runs once the
// dialog is up (it may type names, select files and confirm), a dialog
// closed by cancel afterwards if the body left it open, and waits for the
// dialog's folder listing, which loads in the background.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>

#include "platform/ui/filedialog.h"
#include "platform/ui/uiservice.h"

namespace lum::test {

using lum::platform::ui::FileDialog;

inline void WhenShown(std::function<void(FileDialog*)> body) {
    QTimer::singleShot(0, [body] {
        FileDialog* d = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                d = qobject_cast<FileDialog*>(QApplication::activeModalWidget());
                return d != nullptr;
            },
            5000);
        if (!d) {
            ADD_FAILURE() << "the file dialog did not come up";
            return;
        }
        body(d);
        if (d->isVisible()) d->reject();
    });
}

// Types into the name field. A user typing has the field focused, which
// makes the dialog drop the list's earlier selection; without a focused
// window the test drops it itself.
inline void TypeName(FileDialog* d, const QString& text) {
    if (auto* view = d->findChild<QListView*>("listView")) view->selectionModel()->clearSelection();
    d->findChild<QLineEdit*>("fileNameEdit")->setText(text);
}

// The names the dialog's list shows for its folder, once loaded.
inline QStringList ListedNames(FileDialog* d, int expected) {
    auto* view = d->findChild<QListView*>("listView");
    QStringList names;
    (void)QTest::qWaitFor(
        [&] {
            names.clear();
            QAbstractItemModel* m = view->model();
            QModelIndex root = view->rootIndex();
            for (int r = 0; r < m->rowCount(root); ++r)
                names << m->index(r, 0, root).data().toString();
            return names.size() >= expected;
        },
        3000);
    names.sort();
    return names;
}

// Selects Name in the list as a click would, once the folder has loaded.
inline bool SelectInList(FileDialog* d, const QString& name) {
    auto* view = d->findChild<QListView*>("listView");
    bool found = false;
    (void)QTest::qWaitFor(
        [&] {
            QAbstractItemModel* m = view->model();
            QModelIndex root = view->rootIndex();
            for (int r = 0; r < m->rowCount(root); ++r) {
                QModelIndex i = m->index(r, 0, root);
                if (i.data().toString() == name) {
                    view->setCurrentIndex(i);
                    found = true;
                }
            }
            return found;
        },
        3000);
    return found;
}

// Installs a headless ui service for one test and puts the old one back.
struct HeadlessUi {
    HeadlessUi() {
        auto mine = std::make_unique<lum::platform::ui::HeadlessUiService>();
        service = mine.get();
        previous = lum::platform::ui::InstallUiService(std::move(mine));
    }
    ~HeadlessUi() { lum::platform::ui::InstallUiService(std::move(previous)); }
    lum::platform::ui::HeadlessUiService* service;
    std::unique_ptr<lum::platform::ui::UiService> previous;
};

} // namespace lum::test
