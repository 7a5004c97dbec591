// The folder browse dialog (unit FoldrDlg): a non-visual component that
// lets the user choose a folder in the platform's folder browser, and adds
// to it a caption of its own, an instruction text, a root among the
// special folders, a status line showing the selected path shortened to
// fit, placement (on the parent, on the screen or at Left/Top), and an
// optional extra button copied from a prototype into the dialog. The
// chosen folder's path is Directory; cancelling empties it.
//
// Closed -> Execute -> open (from the browser's initialisation until its
// window is destroyed) -> closed. While open, Directory, Title and
// CustomButton read from the dialog.
#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QPushButton>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "core/lumobj.h"
#include "core/lumset.h"
#include "platform/ui/shellbrowse.h"

namespace lum {

// Bit 0 first. The first seven are the browser's own flags.
enum TFolderDialogOption : std::uint8_t {
    bfFileSysDirsOnly,
    bfDontGoBelowDomain,
    bfStatusText,
    bfFileSysAncestors,
    bfBrowseForComputer,
    bfBrowseForPrinter,
    bfBrowseIncludeFiles,
    bfShowPathInStatusArea,
    bfSyncCustomButton,
    bfAlignCustomButton,
    bfScreenCenter,
    bfParentCenter,
    bfResizeCustomButton
};

// A set of TFolderDialogOption, one bit each, 16 bits as stored.
class TFolderDialogOptions : public TSet<TFolderDialogOptions, TFolderDialogOption, std::uint16_t> {
public:
    using TSet::TSet;
};

// The options at construction (0x0B85).
inline constexpr TFolderDialogOptions kDefaultFolderDialogOptions{
    bfFileSysDirsOnly,  bfStatusText,        bfShowPathInStatusArea,
    bfSyncCustomButton, bfAlignCustomButton, bfParentCenter};

enum TShellFolder : std::uint8_t {
    sfoDesktopExpanded,
    sfoDesktop,
    sfoPrograms,
    sfoControlPanel,
    sfoPrinters,
    sfoPersonal,
    sfoFavorites,
    sfoStartup,
    sfoRecent,
    sfoSendto,
    sfoRecycleBin,
    sfoStartMenu,
    sfoDesktopDirectory,
    sfoMyComputer,
    sfoNetwork,
    sfoNetworkNeighborhood,
    sfoFonts,
    sfoTemplates,
    sfoCommonStartMenu,
    sfoCommonPrograms,
    sfoCommonStartup,
    sfoCommonDesktopDirectory,
    sfoAppData,
    sfoPrintHood
};

// The special-folder identifier of a root; -1 for sfoDesktopExpanded,
// which has none (the whole namespace).
int ShellFolderID(TShellFolder folder);

class TFolderDialogHook;

class TFolderDialog : public TLumCommonDialog {
public:
    using ITEMIDLIST = platform::ui::ITEMIDLIST;
    using PIDL = platform::ui::PIDL;
    using TFolderDialogNotifyEvent = std::function<void(TFolderDialog* sender)>;

    explicit TFolderDialog(TComponent* owner = nullptr);
    ~TFolderDialog() override;

    // Shows the folder browser, modal. True when the user chose an item;
    // false, with Directory empty, when the dialog was cancelled. A call
    // while the dialog is already open returns false and changes nothing.
    virtual bool Execute();

    // --- Published properties ---
    // Always true; writing it changes nothing.
    bool GPVCtl3D() const { return true; }
    void SPVCtl3D(bool) {}
    // The position used when no centring option is set, in the parent's
    // client coordinates. Writing either moves an open dialog.
    int GPVLeft() const { return FLeft; }
    void SPVLeft(int value);
    int GPVTop() const { return FTop; }
    void SPVTop(int value);
    // The window caption; "Browse for Folder" at construction.
    std::string GPVTitle() const;
    void SPVTitle(const std::string& value);
    // Open: the selection's path. Closed: the stored path. Writing stores
    // the path and selects it (SelectionPath).
    std::string GPVDirectory() const;
    void SPVDirectory(const std::string& value);
    // The instruction text above the tree; none when empty.
    const std::string& GPVText() const { return FText; }
    void SPVText(const std::string& value) { FText = value; }
    TFolderDialogOptions GPVOptions() const { return FOptions; }
    void SPVOptions(TFolderDialogOptions value);
    TShellFolder GPVRootFolder() const { return FRootFolder; }
    void SPVRootFolder(TShellFolder value);
    // Open: the copy inside the dialog. Closed: the prototype, a push
    // button, check box or radio button owned elsewhere and forgotten when
    // it is destroyed.
    QAbstractButton* GPVCustomButton() const;
    void SPVCustomButton(QAbstractButton* value) { FCustomButton = value; }

    // --- Public properties ---
    // The browser dialog while open, else null.
    platform::ui::FolderBrowser* GetHandle() const { return FHandle.data(); }
    bool IsOpen() const { return FHandle != nullptr; }
    // The stored parent, else the application's main window (remembered).
    QWidget* GPVParent();
    void SPVParent(QWidget* value);
    QWidget* GPVParentHandle();
    std::string GPVSelectionPath() const;
    void SPVSelectionPath(const std::string& path);
    // Open: selects the item in the dialog. Closed: the selection becomes
    // a copy of it.
    void SPVSelectionPIDL(const ITEMIDLIST* list);
    // Open: shows the text fitted into the status line.
    void SPVStatusText(const std::string& value);
    const std::string& StatusText() const { return FStatusText; }

    // The Get/Set spelling of the same properties.
    bool GetCtl3D() const { return GPVCtl3D(); }
    void SetCtl3D(bool value) { SPVCtl3D(value); }
    int GetLeft() const { return GPVLeft(); }
    void SetLeft(int value) { SPVLeft(value); }
    int GetTop() const { return GPVTop(); }
    void SetTop(int value) { SPVTop(value); }
    std::string GetTitle() const { return GPVTitle(); }
    void SetTitle(const std::string& value) { SPVTitle(value); }
    std::string GetDirectory() const { return GPVDirectory(); }
    void SetDirectory(const std::string& value) { SPVDirectory(value); }
    const std::string& GetText() const { return GPVText(); }
    void SetText(const std::string& value) { SPVText(value); }
    TFolderDialogOptions GetOptions() const { return GPVOptions(); }
    void SetOptions(TFolderDialogOptions value) { SPVOptions(value); }
    TShellFolder GetRootFolder() const { return GPVRootFolder(); }
    void SetRootFolder(TShellFolder value) { SPVRootFolder(value); }
    QAbstractButton* GetCustomButton() const { return GPVCustomButton(); }
    void SetCustomButton(QAbstractButton* value) { SPVCustomButton(value); }
    QWidget* GetParent() { return GPVParent(); }
    void SetParent(QWidget* value) { SPVParent(value); }
    QWidget* GetParentHandle() { return GPVParentHandle(); }
    std::string GetSelectionPath() const { return GPVSelectionPath(); }
    void SetSelectionPath(const std::string& path) { SPVSelectionPath(path); }
    void SetSelectionPIDL(const ITEMIDLIST* list) { SPVSelectionPIDL(list); }
    void SetStatusText(const std::string& value) { SPVStatusText(value); }

    // Enables or disables OK; with bfSyncCustomButton the copied button too.
    void EnableOK(bool enable);
    // Places the open dialog by the centring options (never resizing it).
    virtual void PositionWindow();
    // Centres the open dialog horizontally on the parent, a quarter of the
    // parent's height down. False when there is no parent window.
    bool CenterOnParent();

    // The extra button's placement: V scaled from the standard dialog size
    // to the open dialog's client size, plus one.
    int BffScaledX(int v) const;
    int BffScaledY(int v) const;

    // Item-list helpers.
    static bool GetPathFromIDList(const ITEMIDLIST* list, std::string& path);
    // An existing folder's item; false (and null) for anything else.
    bool GetIDListFromPath(const std::string& path, PIDL& list);
    static PIDL CloneIDListFrom(const ITEMIDLIST* list);
    static void FreeIDList(PIDL& list) { list.reset(); }
    void ReplaceSelection(const ITEMIDLIST* list);

    // Fields of the last successful Execute, and the open selection's
    // attributes.
    std::string DisplayName;
    int ImageIndex = 0;
    platform::DWORD SelectionAttributes = 0;

    TFolderDialogNotifyEvent OnShow;
    TFolderDialogNotifyEvent OnClose;
    // The selection moved to an item with a file-system path.
    TFolderDialogNotifyEvent OnChange;

protected:
    // The open dialog's messages.
    virtual void WMShowWindow();
    virtual void WMCommandOK();
    virtual void WMCustomCommand(bool checked);
    virtual void WMDestroy();
    virtual void WMNCDestroy();

private:
    friend class TFolderDialogHook;

    void Callback(platform::ui::FolderBrowser* dialog, platform::UINT message,
                  const ITEMIDLIST* item);
    void Initialise();
    void SelectionChanged(const ITEMIDLIST* item);
    void ShowStatusText(const std::string& text);
    void CreateCustomControl();
    void Fire(const TFolderDialogNotifyEvent& event);

    QPointer<platform::ui::FolderBrowser> FHandle;
    std::unique_ptr<TFolderDialogHook> FHook;
    QPointer<QWidget> FParent;
    std::string FTitle = "Browse for Folder";
    std::string FText;
    std::string FStatusText;
    std::string FDirectory;
    TFolderDialogOptions FOptions = kDefaultFolderDialogOptions;
    TShellFolder FRootFolder = sfoDesktopExpanded;
    int FClientWidth = 0;
    int FClientHeight = 0;
    QPointer<QPushButton> FOkButton;
    QPointer<QAbstractButton> FCustomButton;
    QPointer<QAbstractButton> FCustomControl;
    bool FFocused = false;
    bool FClosed = false;
    int FLeft = 0;
    int FTop = 0;
    PIDL FRootList;
    PIDL FResultList;
    PIDL FSelectionList;
    // Cleared by the destructor, so that a dialog that outlives the
    // component (destroyed from inside a handler) stops calling it.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};

} // namespace lum
