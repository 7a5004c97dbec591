// The folder browser of the desktop shell, over Qt Widgets: a modal dialog
// with a tree of folders, an instruction text above it, a status line, OK
// and Cancel, and room for an extra control. Like the shell's browser it
// reports to a callback once it is set up and on every selection change,
// and takes messages to preselect an item, set the status text and enable
// or disable OK.
//
// The shell's item identifier lists are item handles here: a file-system
// path, or a virtual place without one (Network with this computer in it,
// Printers, Control Panel). The namespace root is the Desktop, whose path
// is the desktop folder; under it lie the file system ("/"), Network,
// Printers and Control Panel.
#pragma once

#include <QDialog>
#include <QIcon>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/base/wintypes.h"

class QLabel;
class QPushButton;
class QTreeView;

namespace lum::platform::ui {

enum class ShellItemKind : std::uint8_t {
    Desktop,
    FileSystem,
    Network,
    Computer, // this computer, inside Network
    Printers,
    ControlPanel
};

// One item of the namespace. Path is set for FileSystem items only: an
// absolute, cleaned path ("/" for the root, no trailing "/" elsewhere).
struct ITEMIDLIST {
    ShellItemKind kind = ShellItemKind::Desktop;
    std::string path;
    friend bool operator==(const ITEMIDLIST&, const ITEMIDLIST&) = default;
};
using PIDL = std::unique_ptr<ITEMIDLIST>;

// A copy of Item; null for null.
PIDL ILClone(const ITEMIDLIST* item);
// True when both are null or both name the same item.
bool ILIsEqual(const ITEMIDLIST* a, const ITEMIDLIST* b);

// The item's file-system path: a FileSystem item's own, the desktop
// folder for the Desktop. False and empty for null and for places without
// a path.
bool SHGetPathFromIDList(const ITEMIDLIST* item, std::string& path);
// The name the tree shows for the item ("File System" for "/").
std::string SHGetDisplayName(const ITEMIDLIST& item);

// Item attributes (the shell's SFGAO bits).
constexpr DWORD SFGAO_CANCOPY = 0x00000001;
constexpr DWORD SFGAO_CANMOVE = 0x00000002;
constexpr DWORD SFGAO_CANLINK = 0x00000004;
constexpr DWORD SFGAO_CANRENAME = 0x00000010;
constexpr DWORD SFGAO_CANDELETE = 0x00000020;
constexpr DWORD SFGAO_HASPROPSHEET = 0x00000040;
constexpr DWORD SFGAO_DROPTARGET = 0x00000100;
constexpr DWORD SFGAO_LINK = 0x00010000;
constexpr DWORD SFGAO_READONLY = 0x00040000;
constexpr DWORD SFGAO_HIDDEN = 0x00080000;
constexpr DWORD SFGAO_FILESYSANCESTOR = 0x10000000;
constexpr DWORD SFGAO_FOLDER = 0x20000000;
constexpr DWORD SFGAO_FILESYSTEM = 0x40000000;
constexpr DWORD SFGAO_HASSUBFOLDER = 0x80000000;

// The desktop folder's attribute query: Attributes holds the mask asked
// for and receives the item's attributes within it. False (and 0) for
// null and for a path that no longer exists.
bool SHGetAttributesOf(const ITEMIDLIST* item, DWORD& attributes);

// The desktop folder's parsing of a display name: an absolute path of an
// existing file or folder becomes its FileSystem item ("." and ".." and
// repeated separators resolved). With Attributes, they are asked as by
// SHGetAttributesOf. Null for relative or missing paths. Owner is the
// window any question would be asked over; none is asked here.
PIDL SHParseDisplayName(QWidget* owner, const std::string& path, DWORD* attributes);

// Special folder identifiers (CSIDL values).
constexpr int CSIDL_DESKTOP = 0x00;
constexpr int CSIDL_PROGRAMS = 0x02;
constexpr int CSIDL_CONTROLS = 0x03;
constexpr int CSIDL_PRINTERS = 0x04;
constexpr int CSIDL_PERSONAL = 0x05;
constexpr int CSIDL_FAVORITES = 0x06;
constexpr int CSIDL_STARTUP = 0x07;
constexpr int CSIDL_RECENT = 0x08;
constexpr int CSIDL_SENDTO = 0x09;
constexpr int CSIDL_BITBUCKET = 0x0A;
constexpr int CSIDL_STARTMENU = 0x0B;
constexpr int CSIDL_DESKTOPDIRECTORY = 0x10;
constexpr int CSIDL_DRIVES = 0x11;
constexpr int CSIDL_NETWORK = 0x12;
constexpr int CSIDL_NETHOOD = 0x13;
constexpr int CSIDL_FONTS = 0x14;
constexpr int CSIDL_TEMPLATES = 0x15;
constexpr int CSIDL_COMMON_STARTMENU = 0x16;
constexpr int CSIDL_COMMON_PROGRAMS = 0x17;
constexpr int CSIDL_COMMON_STARTUP = 0x18;
constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 0x19;
constexpr int CSIDL_APPDATA = 0x1A;
constexpr int CSIDL_PRINTHOOD = 0x1B;

// The item of a special folder, mapped to the Linux places: desktop
// directory the XDG desktop folder (home when it is missing), personal
// the home folder, drives "/", fonts, templates, start menu, start-up,
// recycle bin and application data their XDG or conventional folders.
// Null when the folder does not exist or has no Linux counterpart
// (favourites, recent, send-to, net and print hoods, common desktop).
PIDL SHGetSpecialFolderLocation(QWidget* owner, int csidl);

// The folder the XDG user-dirs file names for Key ("DESKTOP",
// "TEMPLATES"), else $HOME/Fallback. Existence is not checked.
std::string XdgUserDir(const std::string& key, const std::string& fallback);
// The desktop folder when it exists, else the home folder.
std::string DesktopFolderPath();

// The image list of the browser: an index per kind of item, and its icon.
enum ShellImage : int {
    siFolder,
    siFile,
    siDesktop,
    siDriveRoot,
    siNetwork,
    siComputer,
    siPrinters,
    siControlPanel,
    siHome
};
int SHGetImageIndex(const ITEMIDLIST& item);
QIcon SHGetImageIcon(int index);

// Dialog units: a quarter of the average character width and an eighth of
// the character height of the dialog font.
struct DialogBaseUnits {
    int width = 0;
    int height = 0;
};
DialogBaseUnits GetDialogBaseUnits();
// A rectangle in dialog units, in pixels: left = x * width / 4, top =
// y * height / 8, right and bottom from x + cx and y + cy likewise.
RECT DialogUnitsToPixels(int x, int y, int cx, int cy);

// Browse flags (BIF). BIF_SHOWHIDDEN is ours: hidden folders are shown
// from the start (Ctrl+H switches them in the dialog either way).
constexpr UINT BIF_RETURNONLYFSDIRS = 0x0001;
constexpr UINT BIF_DONTGOBELOWDOMAIN = 0x0002;
constexpr UINT BIF_STATUSTEXT = 0x0004;
constexpr UINT BIF_RETURNFSANCESTORS = 0x0008;
constexpr UINT BIF_BROWSEFORCOMPUTER = 0x1000;
constexpr UINT BIF_BROWSEFORPRINTER = 0x2000;
constexpr UINT BIF_BROWSEINCLUDEFILES = 0x4000;
constexpr UINT BIF_SHOWHIDDEN = 0x00100000;

// Callback codes.
constexpr UINT BFFM_INITIALIZED = 1;
constexpr UINT BFFM_SELCHANGED = 2;

// The layout of the dialog in dialog units; the dialog's client area is
// the standard 212 by 188.
struct BrowseLayout {
    static constexpr int kWidth = 212, kHeight = 188;
    static constexpr int kTextX = 7, kTextY = 4, kTextW = 198, kTextH = 21;
    static constexpr int kStatusX = 7, kStatusY = 27, kStatusW = 160, kStatusH = 12;
    static constexpr int kTreeX = 7, kTreeY = 41, kTreeW = 198, kTreeH = 120;
    static constexpr int kOkX = 100, kOkY = 166, kButtonW = 50, kButtonH = 14;
    static constexpr int kCancelX = 154;
};

class FolderBrowser;

// The browser's callback: BFFM_INITIALIZED once the dialog is set up and
// before it shows (Item null), then BFFM_SELCHANGED with every new
// selection, the first one included. The answer is ignored.
using BFFCALLBACK = std::function<int(FolderBrowser* dialog, UINT message, const ITEMIDLIST* item)>;

struct BROWSEINFO {
    QWidget* hwndOwner = nullptr;
    // The item the tree starts at; null for the whole namespace.
    const ITEMIDLIST* pidlRoot = nullptr;
    // Instruction text above the tree; empty for none.
    std::string lpszTitle;
    UINT ulFlags = 0;
    BFFCALLBACK lpfn;
    // Filled when an item is chosen.
    std::string displayName;
    int iImage = 0;
};

// Runs the browser modally. Returns the chosen item, or null when the user
// cancelled. The dialog is deleted before it returns.
PIDL SHBrowseForFolder(BROWSEINFO& info);

class NamespaceModel;

// The browser dialog. SHBrowseForFolder makes one, sends the callback
// codes and runs it; it can also be made and driven directly. With
// BIF_RETURNONLYFSDIRS, BIF_RETURNFSANCESTORS, BIF_BROWSEFORCOMPUTER and
// BIF_BROWSEFORPRINTER it enables OK for the items those flags allow
// before the callback hears of a selection; EnableOK overrides that until
// the next selection.
class FolderBrowser : public QDialog {
    Q_OBJECT
public:
    FolderBrowser(QWidget* owner, const ITEMIDLIST* root, UINT flags,
                  const std::string& instruction);
    ~FolderBrowser() override;

    void SetCallback(BFFCALLBACK callback) { callback_ = std::move(callback); }
    // Sends BFFM_INITIALIZED, then BFFM_SELCHANGED for the selection unless
    // the callback already moved it. SHBrowseForFolder calls it.
    void Initialize();

    // Selects the item (expanding the tree to it). False when it is not in
    // the tree under the root; the selection then stays.
    bool SetSelection(const ITEMIDLIST& item);
    bool SetSelection(const std::string& path);
    // The selected item; null when there is none.
    PIDL Selection() const;
    void SetStatusText(const std::string& text);
    std::string StatusText() const;
    void EnableOK(bool enable);
    bool IsOKEnabled() const;
    bool ShowsHidden() const;
    void SetShowHidden(bool show);
    UINT Flags() const { return flags_; }

    QTreeView* FolderTree() const { return tree_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }
    // Null without BIF_STATUSTEXT.
    QLabel* StatusLine() const { return status_; }
    QLabel* InstructionLine() const { return text_; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CurrentChanged();
    bool AllowedByFlags(const ITEMIDLIST& item) const;

    UINT flags_;
    BFFCALLBACK callback_;
    NamespaceModel* model_ = nullptr;
    QTreeView* tree_ = nullptr;
    QLabel* text_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool initialized_ = false;
    int selectionsSent_ = 0;
    // Set by SetSelection, cleared when the user scrolls, clicks or types.
    bool followSelection_ = false;
};

} // namespace lum::platform::ui
