#include "platform/ui/shellbrowse.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>
#include <QTreeView>

#include "platform/ui/shellbrowse_model.h"

namespace lum::platform::ui {
namespace {

void Place(QWidget* w, int x, int y, int cx, int cy) {
    const RECT r = DialogUnitsToPixels(x, y, cx, cy);
    w->setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// True when a part of the item's path names a hidden entry.
bool IsUnderHiddenFolder(const ITEMIDLIST& item) {
    if (item.kind != ShellItemKind::FileSystem) return false;
    return item.path.find("/.") != std::string::npos;
}

} // namespace

FolderBrowser::FolderBrowser(QWidget* owner, const ITEMIDLIST* root, UINT flags,
                             const std::string& instruction)
    : QDialog(owner), flags_(flags) {
    using L = BrowseLayout;
    setWindowTitle("Browse for Folder");
    const RECT client = DialogUnitsToPixels(0, 0, L::kWidth, L::kHeight);
    // The extra control a caller adds is placed once, so the layout stays put.
    setFixedSize(client.right, client.bottom);

    text_ = new QLabel(this);
    text_->setTextFormat(Qt::PlainText);
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text_->setText(QString::fromStdString(instruction));
    Place(text_, L::kTextX, L::kTextY, L::kTextW, L::kTextH);

    int treeY = L::kTreeY;
    if (flags & BIF_STATUSTEXT) {
        status_ = new QLabel(this);
        status_->setTextFormat(Qt::PlainText);
        Place(status_, L::kStatusX, L::kStatusY, L::kStatusW, L::kStatusH);
    } else {
        treeY = L::kStatusY;
    }

    model_ = new NamespaceModel(root, flags, this);
    tree_ = new QTreeView(this);
    tree_->setModel(model_);
    tree_->setHeaderHidden(true);
    tree_->setUniformRowHeights(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Place(tree_, L::kTreeX, treeY, L::kTreeW, L::kTreeY + L::kTreeH - treeY);

    ok_ = new QPushButton("OK", this);
    ok_->setDefault(true);
    Place(ok_, L::kOkX, L::kOkY, L::kButtonW, L::kButtonH);
    cancel_ = new QPushButton("Cancel", this);
    Place(cancel_, L::kCancelX, L::kOkY, L::kButtonW, L::kButtonH);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    auto* hidden = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this);
    connect(hidden, &QShortcut::activated, this, [this] { SetShowHidden(!ShowsHidden()); });

    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { CurrentChanged(); });
    // The folders above a preselected item load after it is selected, and
    // each pushes it down; it is brought back into view as they arrive,
    // until the user takes the view over.
    const auto follow = [this] {
        if (followSelection_)
            QTimer::singleShot(0, this, [this] {
                if (followSelection_) tree_->scrollTo(tree_->currentIndex());
            });
    };
    connect(model_, &QAbstractItemModel::rowsInserted, this, follow);
    connect(model_, &QAbstractItemModel::layoutChanged, this, follow);
    connect(tree_->verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this] { followSelection_ = false; });
    tree_->installEventFilter(this);
    tree_->viewport()->installEventFilter(this);
    const QModelIndex top = model_->RootIndex();
    if (top.isValid()) {
        tree_->expand(top);
        tree_->setCurrentIndex(top);
    } else {
        ok_->setEnabled(false);
    }
    tree_->setFocus();
}

FolderBrowser::~FolderBrowser() = default;

bool FolderBrowser::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::KeyPress:
        followSelection_ = false;
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void FolderBrowser::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) tree_->scrollTo(tree_->currentIndex());
}

void FolderBrowser::Initialize() {
    initialized_ = true;
    const int before = selectionsSent_;
    if (callback_) callback_(this, BFFM_INITIALIZED, nullptr);
    if (selectionsSent_ != before || !callback_) return;
    if (PIDL item = Selection()) {
        ++selectionsSent_;
        callback_(this, BFFM_SELCHANGED, item.get());
    }
}

void FolderBrowser::CurrentChanged() {
    PIDL item = Selection();
    ok_->setEnabled(item && AllowedByFlags(*item));
    if (!initialized_ || !callback_ || !item) return;
    ++selectionsSent_;
    callback_(this, BFFM_SELCHANGED, item.get());
}

bool FolderBrowser::AllowedByFlags(const ITEMIDLIST& item) const {
    if (flags_ & BIF_RETURNONLYFSDIRS) {
        std::string path;
        if (!SHGetPathFromIDList(&item, path)) return false;
    }
    if (flags_ & BIF_RETURNFSANCESTORS) {
        DWORD a = SFGAO_FILESYSANCESTOR;
        if (!SHGetAttributesOf(&item, a) || a == 0) return false;
    }
    if ((flags_ & BIF_BROWSEFORCOMPUTER) && item.kind != ShellItemKind::Computer) return false;
    // No printers are listed, so nothing may be chosen when only they may.
    if (flags_ & BIF_BROWSEFORPRINTER) return false;
    return true;
}

bool FolderBrowser::SetSelection(const ITEMIDLIST& item) {
    QModelIndex index = model_->IndexOf(item);
    if (!index.isValid() && !ShowsHidden() && IsUnderHiddenFolder(item)) {
        // A folder chosen while hidden ones were shown must be found again,
        // so they are shown for it.
        SetShowHidden(true);
        index = model_->IndexOf(item);
        if (!index.isValid()) SetShowHidden(false);
    }
    if (!index.isValid()) return false;
    followSelection_ = true;
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        tree_->expand(p);
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
    return true;
}

bool FolderBrowser::SetSelection(const std::string& path) {
    PIDL item = SHParseDisplayName(this, path, nullptr);
    return item && SetSelection(*item);
}

PIDL FolderBrowser::Selection() const {
    return model_->ItemAt(tree_->currentIndex());
}

void FolderBrowser::SetStatusText(const std::string& text) {
    if (status_) status_->setText(QString::fromStdString(text));
}

std::string FolderBrowser::StatusText() const {
    return status_ ? status_->text().toStdString() : std::string();
}

void FolderBrowser::EnableOK(bool enable) {
    ok_->setEnabled(enable);
}

bool FolderBrowser::IsOKEnabled() const {
    return ok_->isEnabled();
}

bool FolderBrowser::ShowsHidden() const {
    return model_->ShowsHidden();
}

void FolderBrowser::SetShowHidden(bool show) {
    model_->SetShowHidden(show);
}

PIDL SHBrowseForFolder(BROWSEINFO& info) {
    QWidget* owner = info.hwndOwner ? info.hwndOwner->window() : nullptr;
    // The owner may take the dialog with it while it runs; the guard knows.
    QPointer<FolderBrowser> dialog =
        new FolderBrowser(owner, info.pidlRoot, info.ulFlags, info.lpszTitle);
    dialog->SetCallback(info.lpfn);
    dialog->Initialize();
    PIDL result;
    if (dialog && dialog->exec() == QDialog::Accepted && dialog) result = dialog->Selection();
    delete dialog.data();
    if (result) {
        info.displayName = SHGetDisplayName(*result);
        info.iImage = SHGetImageIndex(*result);
    }
    return result;
}

} // namespace lum::platform::ui
