// The common file dialogs: open and save over a non-native QFileDialog,
// driven by an open-file record as the platform's dialogs are. The caller
// gives the filter as zero-separated description/pattern pairs, a file
// buffer, flags and a hook; the hook hears the dialog's initialisation, its
// selection changes, each "file OK" (which it may veto, keeping the dialog
// open), commands from the controls of an extra area built from a dialog
// template, and the dialog's end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QFileDialog>
#include <QPointer>

#include "platform/base/wintypes.h"

class QWidget;
class QCheckBox;

namespace lum::platform::ui {

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;
constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// Open-file flags (OFN), as the platform numbers them.
constexpr DWORD OFN_READONLY = 0x00000001;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;
constexpr DWORD OFN_SHOWHELP = 0x00000010;
constexpr DWORD OFN_ENABLEHOOK = 0x00000020;
constexpr DWORD OFN_ENABLETEMPLATE = 0x00000040;
constexpr DWORD OFN_NOVALIDATE = 0x00000100;
constexpr DWORD OFN_ALLOWMULTISELECT = 0x00000200;
constexpr DWORD OFN_EXTENSIONDIFFERENT = 0x00000400;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;
constexpr DWORD OFN_CREATEPROMPT = 0x00002000;
constexpr DWORD OFN_SHAREAWARE = 0x00004000;
constexpr DWORD OFN_NOREADONLYRETURN = 0x00008000;
constexpr DWORD OFN_NOTESTFILECREATE = 0x00010000;
constexpr DWORD OFN_NONETWORKBUTTON = 0x00020000;
constexpr DWORD OFN_NOLONGNAMES = 0x00040000;
constexpr DWORD OFN_EXPLORER = 0x00080000;
constexpr DWORD OFN_NODEREFERENCELINKS = 0x00100000;
constexpr DWORD OFN_ENABLEINCLUDENOTIFY = 0x00400000;
constexpr DWORD OFN_ENABLESIZING = 0x00800000;

// Messages the hook receives.
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_INITDIALOG = 0x0110; // lParam: the OPENFILENAME record
constexpr UINT WM_COMMAND = 0x0111;    // wParam: id | code << 16; lParam: the control

// WM_NOTIFY codes (lParam: an OFNOTIFY).
constexpr UINT CDN_INITDONE = static_cast<UINT>(-601);
constexpr UINT CDN_SELCHANGE = static_cast<UINT>(-602);
constexpr UINT CDN_FOLDERCHANGE = static_cast<UINT>(-603);
constexpr UINT CDN_FILEOK = static_cast<UINT>(-606);
constexpr UINT CDN_TYPECHANGE = static_cast<UINT>(-607);

// WM_COMMAND notification codes of the extra area's controls.
constexpr UINT BN_CLICKED = 0;
constexpr UINT EN_CHANGE = 0x0300;
constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT LBN_SELCHANGE = 1;

constexpr WORD LoWord(WPARAM v) {
    return static_cast<WORD>(v & 0xFFFF);
}
constexpr WORD HiWord(WPARAM v) {
    return static_cast<WORD>((v >> 16) & 0xFFFF);
}

// The hook: called with the hook dialog (the extra area; its parent widget
// is the whole dialog), the message and its parameters. Its answer tells
// whether it handled the message; only WM_INITDIALOG looks at it.
using LPOFNHOOKPROC = std::function<UINT_PTR(QWidget* hook, UINT message, WPARAM, LPARAM)>;

// The open-file record. Strings are zero-terminated; the filter is pairs
// of zero-terminated strings ending with an extra zero. The file buffer
// holds the initial name on entry and the result on return: one full path,
// or with OFN_ALLOWMULTISELECT and more than one file the folder followed
// by each name, zero-terminated, ending with an empty name.
struct OPENFILENAME {
    DWORD lStructSize = 76;
    QWidget* hwndOwner = nullptr;
    const char* lpstrFilter = nullptr;
    DWORD nFilterIndex = 0; // 1-based; 0 or out of range: the first
    char* lpstrFile = nullptr;
    DWORD nMaxFile = 0;
    const char* lpstrInitialDir = nullptr;
    const char* lpstrTitle = nullptr;
    DWORD Flags = 0;
    WORD nFileOffset = 0;    // where the name starts in lpstrFile
    WORD nFileExtension = 0; // where the extension starts; 0 for none
    const char* lpstrDefExt = nullptr;
    LPARAM lCustData = 0;
    LPOFNHOOKPROC lpfnHook;
    const char* lpTemplateName = nullptr; // a dialog template (dlgtemplate.h)
};

// What WM_NOTIFY carries. For CDN_FILEOK the record's file buffer holds
// the file (or files) about to be returned; setting Result to nonzero keeps
// the dialog open.
struct OFNOTIFY {
    QWidget* hwndFrom = nullptr; // the whole dialog
    UINT code = 0;
    OPENFILENAME* lpOFN = nullptr;
    LRESULT Result = 0;
};

// Failure codes of CommDlgExtendedError.
constexpr DWORD CDERR_INITIALIZATION = 0x0002;
constexpr DWORD CDERR_FINDRESFAILURE = 0x0006;
constexpr DWORD FNERR_BUFFERTOOSMALL = 0x3003;
constexpr DWORD FNERR_INVALIDFILENAME = 0x3002;

// Run the dialog modally, the rest of the application disabled. True when
// the user confirmed a file: the record then holds it, its filter index and
// the returned flags (OFN_READONLY, OFN_EXTENSIONDIFFERENT). False on cancel
// or failure; CommDlgExtendedError tells which (0 for a cancel).
BOOL GetOpenFileNameA(OPENFILENAME* ofn);
BOOL GetSaveFileNameA(OPENFILENAME* ofn);
DWORD CommDlgExtendedError();

// The current selection of the dialog that HookOrDialog belongs to, as the
// hook may ask during a notification: one full path, or the folder
// followed by the quoted names of several files. Copies up to Size - 1
// characters and a zero into Buffer; returns the full length, or -1 when
// the widget belongs to no file dialog.
int CommDlg_OpenSave_GetFilePath(QWidget* hookOrDialog, char* buffer, int size);
// The control with Id in the extra area, or null.
QWidget* GetDlgItem(QWidget* hook, int id);

// One description/pattern pair of a filter.
struct FilterEntry {
    std::string description;
    std::string patterns; // ";"-separated, "*.avi;*.wav"
};
// Reads a zero-separated filter; stops at the double zero or at a
// description without a pattern.
std::vector<FilterEntry> ParseFilter(const char* filter);
// The name filter QFileDialog is given for an entry: the description, and
// the patterns made case-insensitive ("*.AVI" becomes "*.[aA][vV][iI]"),
// since file names on this system are matched case-sensitively but the
// dialogs' users expect otherwise.
QString QtNameFilter(const FilterEntry& entry);
// True when Name matches one of the ";"-separated patterns, ignoring case.
bool MatchesFilter(const std::string& name, const std::string& patterns);

// Something that adds a pane to a running dialog (the video preview);
// called once the dialog is built, before WM_INITDIALOG.
class FileDialog;
using ExtraPaneFactory = std::function<void(FileDialog& dialog)>;

// Runs the open (Save false) or save dialog with an extra pane: what
// GetOpenFileNameA and GetSaveFileNameA do, for the preview dialogs.
BOOL RunFileDialog(OPENFILENAME* ofn, bool save, const ExtraPaneFactory& extra);

// The dialog behind GetOpenFileNameA and GetSaveFileNameA. It validates a
// confirmed name against the record's flags, asks the hook (CDN_FILEOK)
// and only then closes. Exposed for the preview dialogs and for tests.
class FileDialog : public QFileDialog {
    Q_OBJECT
public:
    FileDialog(OPENFILENAME& ofn, bool save);
    ~FileDialog() override;

    // The extra area (the hook dialog): the template's controls, or an
    // empty widget when there is no template.
    QWidget* HookDialog() const { return hook_; }
    // Places Pane to the right of the dialog's own controls.
    void AddSidePane(QWidget* pane);
    // The current selection, as CommDlg_OpenSave_GetFilePath returns it.
    std::string CurrentPath() const;
    bool IsSave() const { return save_; }
    OPENFILENAME& Record() { return ofn_; }
    // Builds the dialog's parts, sends WM_INITDIALOG and CDN_INITDONE.
    // False (with the error code set) when the template cannot be found.
    bool Prepare(const ExtraPaneFactory& extra);
    // The outcome: set by accept() after the checks and the hook passed.
    const QStringList& Chosen() const { return chosen_; }
    bool ReadOnlyChecked() const;
    // The 1-based index of the chosen filter.
    int FilterIndex() const;

    void accept() override;
    void done(int result) override;

signals:
    // After each CDN_SELCHANGE was sent, with the current path.
    void SelectionSent(const QString& path);

private:
    UINT_PTR Send(UINT message, WPARAM w, LPARAM l);
    void Notify(UINT code);
    void SelectionChanged();
    // The files the user confirmed, before any check.
    QStringList Candidates() const;
    bool Validate(const QStringList& files);
    bool FillRecord(const QStringList& files);
    void ConnectCommands(QWidget* area);

    OPENFILENAME& ofn_;
    bool save_;
    QWidget* hook_ = nullptr;
    QCheckBox* readOnly_ = nullptr;
    QStringList chosen_;
    QString lastSelection_;
    bool destroyed_ = false;
};

} // namespace lum::platform::ui
