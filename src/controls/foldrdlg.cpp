#include "controls/foldrdlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QMetaProperty>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTreeView>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "controls/controls.h"
#include "platform/base/system.h"
#include "platform/gdi/canvas.h"
#include "platform/gdi/gdi.h"
#include "platform/ui/uiservice.h"

namespace lum {

using platform::DWORD;
using platform::UINT;
using platform::ui::FolderBrowser;

namespace {

// The browser's standard layout in pixels, shared by every instance and
// made on the first construction.
struct BrowseRects {
    platform::RECT dialog, status, ok, cancel;
    int StdWidth() const { return dialog.right - dialog.left; }
    int StdHeight() const { return dialog.bottom - dialog.top; }
};

const BrowseRects& ClassRects() {
    static const BrowseRects rects = [] {
        using platform::ui::DialogUnitsToPixels;
        return BrowseRects{
            DialogUnitsToPixels(46, 21, 212, 188), DialogUnitsToPixels(7, 27, 160, 12),
            DialogUnitsToPixels(100, 166, 50, 14), DialogUnitsToPixels(154, 166, 50, 14)};
    }();
    return rects;
}

// The attributes asked of every new selection.
constexpr DWORD kSelectionAttributeMask = 0x800F0177;

UINT ShellFlags(TFolderDialogOptions options) {
    static constexpr UINT kFlags[] = {
        platform::ui::BIF_RETURNONLYFSDIRS,  platform::ui::BIF_DONTGOBELOWDOMAIN,
        platform::ui::BIF_STATUSTEXT,        platform::ui::BIF_RETURNFSANCESTORS,
        platform::ui::BIF_BROWSEFORCOMPUTER, platform::ui::BIF_BROWSEFORPRINTER,
        platform::ui::BIF_BROWSEINCLUDEFILES};
    UINT flags = 0;
    for (int i = 0; i < 7; ++i)
        if (options.Contains(static_cast<TFolderDialogOption>(i))) flags |= kFlags[i];
    return flags;
}

// The application's main window: the active window, else the first
// visible ordinary top-level window.
QWidget* MainWindow() {
    QWidget* active = QApplication::activeWindow();
    if (active && active->windowType() == Qt::Window) return active;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowType() == Qt::Window) return w;
    return nullptr;
}

// A new button of the prototype's class inside Parent: the class's own
// invokable constructor when it has one, else the nearest standard button.
QAbstractButton* MakeButtonLike(const QAbstractButton* prototype, QWidget* parent) {
    if (QObject* made = prototype->metaObject()->newInstance(Q_ARG(QWidget*, parent))) {
        if (auto* button = qobject_cast<QAbstractButton*>(made)) return button;
        delete made;
    }
    if (qobject_cast<const QRadioButton*>(prototype)) return new QRadioButton(parent);
    if (qobject_cast<const QCheckBox*>(prototype)) return new QCheckBox(parent);
    if (qobject_cast<const QPushButton*>(prototype)) return new QPushButton(parent);
    return nullptr;
}

// Copies the properties a form would store for the prototype: the
// designable, stored, writable ones. Placement, visibility and enabled
// state are set by the caller; font, palette and the like only when the
// prototype has its own, so that the copy otherwise takes the dialog's.
void CopyStoredProperties(const QAbstractButton* from, QAbstractButton* to) {
    static const QByteArray kSkipped[] = {"geometry", "pos", "size",  "visible", "enabled",
                                          "x",        "y",   "width", "height",  "focus"};
    struct OwnOnly {
        const char* name;
        Qt::WidgetAttribute attribute;
    };
    static const OwnOnly kOwnOnly[] = {{"font", Qt::WA_SetFont},
                                       {"palette", Qt::WA_SetPalette},
                                       {"cursor", Qt::WA_SetCursor},
                                       {"locale", Qt::WA_SetLocale},
                                       {"layoutDirection", Qt::WA_SetLayoutDirection}};
    const QMetaObject* meta = from->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty p = meta->property(i);
        if (!p.isWritable() || !p.isStored() || !p.isDesignable()) continue;
        const QByteArray name = p.name();
        if (name.startsWith("window")) continue;
        if (std::find(std::begin(kSkipped), std::end(kSkipped), name) != std::end(kSkipped))
            continue;
        bool skip = false;
        for (const OwnOnly& o : kOwnOnly)
            if (name == o.name && !from->testAttribute(o.attribute)) skip = true;
        if (skip) continue;
        if (to->metaObject()->indexOfProperty(name.constData()) < 0) continue;
        to->setProperty(name.constData(), p.read(from));
    }
    if (auto* box = qobject_cast<const QCheckBox*>(from))
        if (auto* copy = qobject_cast<QCheckBox*>(to)) copy->setCheckState(box->checkState());
}

bool IsCheckOrRadio(const QAbstractButton* button) {
    return qobject_cast<const QCheckBox*>(button) || qobject_cast<const QRadioButton*>(button);
}

// Drops the last character of UTF-8 text.
void DropLastCharacter(std::string& text) {
    if (text.empty()) return;
    std::size_t end = text.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.erase(end);
}

} // namespace

// Routes the open dialog's window events and notifications to the
// component, as the replaced window procedure of the shell dialog would.
class TFolderDialogHook : public QObject {
public:
    explicit TFolderDialogHook(TFolderDialog* owner) : owner_(owner) {}

    void Attach(FolderBrowser* dialog) {
        dialog->installEventFilter(this);
        connect(dialog, &QDialog::accepted, this, [this] { owner_->WMCommandOK(); });
        connect(dialog, &QDialog::finished, this, [this] { owner_->WMDestroy(); });
        connect(dialog, &QObject::destroyed, this, [this] { owner_->WMNCDestroy(); });
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched == owner_->GetHandle()) owner_->WMShowWindow();
        return false;
    }

private:
    TFolderDialog* owner_;
};

int ShellFolderID(TShellFolder folder) {
    static constexpr int kIds[] = {-1,   0x00, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                   0x08, 0x09, 0x0A, 0x0B, 0x10, 0x11, 0x12, 0x13,
                                   0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B};
    return kIds[folder];
}

TFolderDialog::TFolderDialog(TComponent* owner)
    : TLumCommonDialog(owner), FHook(std::make_unique<TFolderDialogHook>(this)) {
    ClassRects();
}

TFolderDialog::~TFolderDialog() {
    *FAlive = false;
    if (FHandle) FHandle->reject();
    // Deleting the hook removes its filter and its connections.
    FHook.reset();
}

// --- Execute and the browser's callback ---

bool TFolderDialog::Execute() {
    if (FHandle) return false;
    platform::ui::BROWSEINFO info;
    info.hwndOwner = GPVParentHandle();
    SelectionAttributes = 0;
    info.lpszTitle = FText;
    info.ulFlags = ShellFlags(FOptions);
    std::shared_ptr<bool> alive = FAlive;
    info.lpfn = [this, alive](FolderBrowser* dialog, UINT message, const ITEMIDLIST* item) {
        if (!*alive) return 0;
        try {
            Callback(dialog, message, item);
        } catch (const std::exception& e) {
            platform::ui::HandleException(e);
        }
        return 0;
    };
    info.pidlRoot = FRootList.get();

    PIDL result = platform::ui::SHBrowseForFolder(info);
    if (!*alive) return result != nullptr;

    FreeIDList(FSelectionList);
    if (QWidget* parent = GPVParentHandle()) parent->window()->activateWindow();
    if (result) {
        FResultList = CloneIDListFrom(result.get());
        ImageIndex = info.iImage;
        DisplayName = info.displayName;
        GetPathFromIDList(FResultList.get(), FDirectory);
        return true;
    }
    FDirectory.clear();
    SelectionAttributes = 0;
    return false;
}

void TFolderDialog::Callback(FolderBrowser* dialog, UINT message, const ITEMIDLIST* item) {
    if (message == platform::ui::BFFM_INITIALIZED) {
        FHandle = dialog;
        FClosed = false;
        FHook->Attach(dialog);
        Initialise();
    } else if (message == platform::ui::BFFM_SELCHANGED) {
        SelectionChanged(item);
    }
}

void TFolderDialog::Initialise() {
    FClientWidth = FHandle->width();
    FClientHeight = FHandle->height();
    FOkButton = FHandle->OkButton();
    PositionWindow();
    // The selection describes the item selected in this dialog, which has
    // none yet; a list left from before would make the preselection below
    // look done already.
    FreeIDList(FSelectionList);
    if (!FDirectory.empty()) {
        std::string resultPath;
        if (FResultList && GetPathFromIDList(FResultList.get(), resultPath) &&
            resultPath == FDirectory)
            SPVSelectionPIDL(FResultList.get());
        else
            SPVSelectionPath(FDirectory);
    }
    FreeIDList(FResultList);
    if (FCustomButton) CreateCustomControl();
    if (FHandle) FHandle->setWindowTitle(QString::fromStdString(FTitle));
    Fire(OnShow);
}

void TFolderDialog::SelectionChanged(const ITEMIDLIST* item) {
    ReplaceSelection(item);
    DWORD attributes = kSelectionAttributeMask;
    SelectionAttributes = platform::ui::SHGetAttributesOf(item, attributes) ? attributes : 0;
    const std::string path = GPVSelectionPath();
    if (FOptions.Contains(bfFileSysDirsOnly)) EnableOK(!path.empty());
    if (!path.empty()) {
        if (FOptions.Contains(bfShowPathInStatusArea)) SPVStatusText(path);
        Fire(OnChange);
    } else if (FOptions.Contains(bfFileSysDirsOnly) || FOptions.Contains(bfShowPathInStatusArea)) {
        if (FHandle) FHandle->SetStatusText("");
    }
}

void TFolderDialog::Fire(const TFolderDialogNotifyEvent& event) {
    if (!event) return;
    try {
        event(this);
    } catch (const std::exception& e) {
        platform::ui::HandleException(e);
    }
}

// --- Messages of the open dialog ---

void TFolderDialog::WMShowWindow() {
    if (FFocused || !FHandle) return;
    FFocused = true;
    // The window's frame exists only now; placing it again centres the
    // framed window rather than its client area.
    PositionWindow();
    FHandle->FolderTree()->setFocus();
}

void TFolderDialog::WMCommandOK() {
    if (!FCustomControl || !FCustomButton || !IsCheckOrRadio(FCustomButton)) return;
    // The prototype takes the copy's state silently: its handlers have
    // already seen the clicks on the copy.
    const QSignalBlocker block(FCustomButton.data());
    auto* box = qobject_cast<QCheckBox*>(FCustomButton.data());
    auto* copy = qobject_cast<QCheckBox*>(FCustomControl.data());
    if (box && copy)
        box->setCheckState(copy->checkState());
    else
        FCustomButton->setChecked(FCustomControl->isChecked());
}

void TFolderDialog::WMCustomCommand(bool checked) {
    // The copy was made without the prototype's connections; its clicks
    // reach them through the prototype's own signal.
    if (FCustomButton) emit FCustomButton->clicked(checked);
}

void TFolderDialog::WMDestroy() {
    if (FClosed) return;
    FClosed = true;
    Fire(OnClose);
    if (FCustomControl) FCustomControl->deleteLater();
    FCustomControl = nullptr;
}

void TFolderDialog::WMNCDestroy() {
    WMDestroy();
    FFocused = false;
    FCustomControl = nullptr;
    FOkButton = nullptr;
    FHandle = nullptr;
}

// --- The extra button ---

void TFolderDialog::CreateCustomControl() {
    QAbstractButton* prototype = FCustomButton;
    QAbstractButton* copy = nullptr;
    try {
        copy = MakeButtonLike(prototype, FHandle);
        if (copy == nullptr) return;
        CopyStoredProperties(prototype, copy);
        const BrowseRects& r = ClassRects();
        int left = prototype->x(), top = prototype->y();
        if (FOptions.Contains(bfAlignCustomButton)) {
            left = BffScaledX(r.status.left) + 1;
            top = BffScaledY(r.cancel.top) - 1;
        }
        const int cancelWidth = r.cancel.right - r.cancel.left;
        const int cancelHeight = r.cancel.bottom - r.cancel.top;
        int width = prototype->width(), height = prototype->height();
        if (FOptions.Contains(bfResizeCustomButton)) {
            width = BffScaledX(cancelWidth);
            height = BffScaledY(cancelHeight);
        } else if (qobject_cast<QPushButton*>(prototype)) {
            height = BffScaledY(cancelHeight);
        }
        copy->setGeometry(left, top, width, height);
        copy->hide();
        copy->show();
        bool enabled = prototype->isEnabled();
        if (FOptions.Contains(bfSyncCustomButton) && FOkButton) enabled = FOkButton->isEnabled();
        copy->setEnabled(enabled);
        QObject::connect(copy, &QAbstractButton::clicked, FHook.get(),
                         [this](bool checked) { WMCustomCommand(checked); });
        FCustomControl = copy;
    } catch (const std::exception&) {
        delete copy;
        FCustomControl = nullptr;
    }
}

int TFolderDialog::BffScaledX(int v) const {
    return v * FClientWidth / ClassRects().StdWidth() + 1;
}

int TFolderDialog::BffScaledY(int v) const {
    return v * FClientHeight / ClassRects().StdHeight() + 1;
}

// --- Properties ---

void TFolderDialog::SPVLeft(int value) {
    FLeft = value;
    if (FHandle) PositionWindow();
}

void TFolderDialog::SPVTop(int value) {
    FTop = value;
    if (FHandle) PositionWindow();
}

std::string TFolderDialog::GPVTitle() const {
    return FHandle ? FHandle->windowTitle().toStdString() : FTitle;
}

void TFolderDialog::SPVTitle(const std::string& value) {
    FTitle = value;
    if (FHandle) FHandle->setWindowTitle(QString::fromStdString(value));
}

std::string TFolderDialog::GPVDirectory() const {
    return FHandle ? GPVSelectionPath() : FDirectory;
}

void TFolderDialog::SPVDirectory(const std::string& value) {
    FDirectory = value;
    SPVSelectionPath(value);
}

void TFolderDialog::SPVOptions(TFolderDialogOptions value) {
    TFolderDialogOptions n = value;
    const TFolderDialogOptions c = FOptions;
    if (n.Contains(bfScreenCenter) && n.Contains(bfParentCenter)) {
        if (c.Contains(bfScreenCenter))
            n.Exclude(bfScreenCenter);
        else if (c.Contains(bfParentCenter))
            n.Exclude(bfParentCenter);
    }
    if (n.Contains(bfBrowseForComputer) && !c.Contains(bfBrowseForComputer)) {
        SPVRootFolder(sfoNetwork);
        n.Exclude(bfFileSysDirsOnly).Exclude(bfFileSysAncestors).Exclude(bfBrowseForPrinter);
    } else if (n.Contains(bfBrowseForPrinter) && !c.Contains(bfBrowseForPrinter)) {
        n.Exclude(bfFileSysDirsOnly)
            .Exclude(bfDontGoBelowDomain)
            .Exclude(bfFileSysAncestors)
            .Exclude(bfBrowseForComputer);
    }
    if (n.Contains(bfShowPathInStatusArea) && !c.Contains(bfShowPathInStatusArea) &&
        !n.Contains(bfStatusText))
        n.Include(bfStatusText);
    if (!n.Contains(bfStatusText) && c.Contains(bfStatusText) && n.Contains(bfShowPathInStatusArea))
        n.Exclude(bfShowPathInStatusArea);
    FOptions = n;
}

void TFolderDialog::SPVRootFolder(TShellFolder value) {
    if (value == FRootFolder) return;
    FreeIDList(FSelectionList);
    FreeIDList(FResultList);
    FreeIDList(FRootList);
    FRootFolder = value;
    const int id = ShellFolderID(value);
    if (id >= 0) FRootList = platform::ui::SHGetSpecialFolderLocation(GPVParentHandle(), id);
}

QAbstractButton* TFolderDialog::GPVCustomButton() const {
    return FHandle ? FCustomControl.data() : FCustomButton.data();
}

QWidget* TFolderDialog::GPVParent() {
    // Owners here are components, never windows, so the fallback is the
    // application's main window.
    if (!FParent) FParent = MainWindow();
    return FParent;
}

void TFolderDialog::SPVParent(QWidget* value) {
    FParent = value;
    PositionWindow();
}

QWidget* TFolderDialog::GPVParentHandle() {
    return GPVParent();
}

std::string TFolderDialog::GPVSelectionPath() const {
    std::string path;
    GetPathFromIDList(FSelectionList.get(), path);
    return path;
}

void TFolderDialog::SPVSelectionPath(const std::string& path) {
    if (path == GPVSelectionPath()) return;
    FreeIDList(FSelectionList);
    PIDL list;
    if (!GetIDListFromPath(path, list)) return;
    FSelectionList = CloneIDListFrom(list.get());
    if (FHandle) SPVSelectionPIDL(FSelectionList.get());
}

void TFolderDialog::SPVSelectionPIDL(const ITEMIDLIST* list) {
    if (FHandle) {
        if (list) FHandle->SetSelection(*list);
    } else {
        ReplaceSelection(list);
    }
}

void TFolderDialog::SPVStatusText(const std::string& value) {
    FStatusText = value;
    if (FHandle) ShowStatusText(value);
}

void TFolderDialog::ShowStatusText(const std::string& text) {
    QLabel* line = FHandle->StatusLine();
    if (line == nullptr) return;
    // One letter more than the text, dropped again after fitting, keeps a
    // letter's width of margin.
    std::string fitted = text + "W";
    platform::gdi::HDC windowDC = platform::gdi::GetDC(FHandle.data());
    platform::gdi::TCanvas canvas(platform::gdi::CreateCompatibleDC(windowDC), true);
    platform::gdi::ReleaseDC(FHandle.data(), windowDC);
    // Measured in the font the line shows it in, so that what fits here
    // fits there.
    canvas.SetFont(FromQFont(line->font()));
    TRect r = ClassRects().status;
    const UINT format =
        platform::gdi::DT_NOPREFIX | platform::gdi::DT_EXTERNALLEADING |
        platform::gdi::DT_MODIFYSTRING |
        (FOptions.Contains(bfShowPathInStatusArea) ? platform::gdi::DT_PATH_ELLIPSIS
                                                   : platform::gdi::DT_END_ELLIPSIS);
    canvas.DrawText(fitted, r, format);
    DropLastCharacter(fitted);
    FHandle->SetStatusText(fitted);
}

// --- OK, placement ---

void TFolderDialog::EnableOK(bool enable) {
    if (!FHandle) return;
    FHandle->EnableOK(enable);
    if (FOptions.Contains(bfSyncCustomButton) && FCustomControl) FCustomControl->setEnabled(enable);
}

void TFolderDialog::PositionWindow() {
    if (!FHandle) return;
    const auto screenCentre = [this] {
        const platform::ScreenInfo screen = platform::GetScreenInfo();
        FHandle->move((screen.width - FClientWidth) / 2, (screen.height - FClientHeight) / 3);
    };
    if (FOptions.Contains(bfParentCenter)) {
        // Without a parent window the screen is the nearest thing to centre on.
        if (!CenterOnParent()) screenCentre();
    } else if (FOptions.Contains(bfScreenCenter)) {
        screenCentre();
    } else {
        QPoint at(FLeft, FTop);
        if (QWidget* parent = GPVParentHandle()) at = parent->mapToGlobal(at);
        FHandle->move(at);
    }
}

bool TFolderDialog::CenterOnParent() {
    QWidget* parent = GPVParentHandle();
    if (!FHandle || parent == nullptr) return false;
    const QRect p = parent->isWindow() ? parent->frameGeometry()
                                       : QRect(parent->mapToGlobal(QPoint(0, 0)), parent->size());
    const QRect d = FHandle->frameGeometry();
    FHandle->move(p.left() + p.width() / 2 - d.width() / 2, p.top() + p.height() / 4);
    return true;
}

// --- Item lists ---

bool TFolderDialog::GetPathFromIDList(const ITEMIDLIST* list, std::string& path) {
    return platform::ui::SHGetPathFromIDList(list, path);
}

bool TFolderDialog::GetIDListFromPath(const std::string& path, PIDL& list) {
    list.reset();
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_directory(path, ec)) return false;
    std::string p = path;
    if (p.size() >= 2 && p.compare(p.size() - 2, 2, "/.") == 0) p.pop_back();
    DWORD attributes = platform::ui::SFGAO_FILESYSTEM;
    PIDL parsed = platform::ui::SHParseDisplayName(GPVParentHandle(), p, &attributes);
    if (!parsed || !(attributes & platform::ui::SFGAO_FILESYSTEM)) return false;
    list = std::move(parsed);
    return true;
}

TFolderDialog::PIDL TFolderDialog::CloneIDListFrom(const ITEMIDLIST* list) {
    return platform::ui::ILClone(list);
}

void TFolderDialog::ReplaceSelection(const ITEMIDLIST* list) {
    FreeIDList(FSelectionList);
    FSelectionList = CloneIDListFrom(list);
}

} // namespace lum
