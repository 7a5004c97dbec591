// The base of the library's file open and save dialogs (unit Lumcstdlg):
// runs the platform's file dialog with a hook and, when Template names
// one, an extra area built from a dialog template, and turns the dialog's
// notifications into the overridable DoCreate, DoDestroy, DoFileOK,
// DoSelChanged and DoCommand and their events.
//
// Closed -> Execute -> shown (from the hook dialog's initialisation until
// its destruction; Handle is the extra area then) -> closed. One of these
// dialogs is shown at a time. What a notification raises is shown in the
// application's error box and the dialog stays open.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/lumobj.h"
#include "core/lumset.h"
#include "platform/ui/filedialog.h"

class QWidget;

namespace lum {

// Bit 0 first; each maps onto one flag of the platform's record.
enum TOpenOption : std::uint8_t {
    ofReadOnly,
    ofOverwritePrompt,
    ofHideReadOnly,
    ofNoChangeDir,
    ofShowHelp,
    ofNoValidate,
    ofAllowMultiSelect,
    ofExtensionDifferent,
    ofPathMustExist,
    ofFileMustExist,
    ofCreatePrompt,
    ofShareAware,
    ofNoReadOnlyReturn,
    ofNoTestFileCreate,
    ofNoNetworkButton,
    ofNoLongNames,
    ofOldStyleDialog,
    ofNoDereferenceLinks,
    ofEnableIncludeNotify,
    ofEnableSizing
};

// A set of TOpenOption, 32 bits as stored.
class TOpenOptions : public TSet<TOpenOptions, TOpenOption, std::uint32_t> {
public:
    using TSet::TSet;

    // The platform's flags for the set, and the set for flags.
    platform::DWORD ToFlags() const;
    static TOpenOptions FromFlags(platform::DWORD flags);
};

class TLumCustomOpenDialog;
using TDialogNotifyEvent = std::function<void(TLumCustomOpenDialog* sender)>;
using TFileOKEvent =
    std::function<void(TLumCustomOpenDialog* sender, const std::string& fileName, bool& isOk)>;
using TSelChangeEvent =
    std::function<void(TLumCustomOpenDialog* sender, const std::string& fileName)>;
using TCommandEvent =
    std::function<void(TLumCustomOpenDialog* sender, QWidget* wnd, QWidget* parent, int cmd)>;

class TLumCustomOpenDialog : public TLumCommonDialog {
public:
    explicit TLumCustomOpenDialog(TComponent* owner = nullptr);
    ~TLumCustomOpenDialog() override;

    // Runs the dialog modally; True when the user confirmed a file. False
    // when cancelled, when the dialog could not be shown, or while another
    // of these dialogs is shown.
    virtual bool Execute();

    // The hook dialog while shown; null otherwise.
    QWidget* GetHandle() const { return FHandle; }
    const std::string& GetTemplate() const { return FTemplate; }
    void SetTemplate(const std::string& value) { FTemplate = value; }
    const std::vector<std::string>& GetHistoryList() const { return FHistoryList; }
    void SetHistoryList(const std::vector<std::string>& value) { FHistoryList = value; }
    TOpenOptions GetOptions() const { return FOptions; }
    void SetOptions(TOpenOptions value) { FOptions = value; }
    const std::string& GetFilter() const { return FFilter; }
    void SetFilter(const std::string& value) { FFilter = value; }
    int GetFilterIndex() const { return FFilterIndex; }
    void SetFilterIndex(int value) { FFilterIndex = value; }
    const std::string& GetInitialDir() const { return FInitialDir; }
    // Stores Value without a trailing "/", except for the root itself.
    void SetInitialDir(const std::string& value);
    const std::string& GetTitle() const { return FTitle; }
    void SetTitle(const std::string& value) { FTitle = value; }
    const std::string& GetDefaultExt() const { return FDefaultExt; }
    void SetDefaultExt(const std::string& value) { FDefaultExt = value; }
    const std::string& GetFileName() const { return FFileName; }
    void SetFileName(const std::string& value) { FFileName = value; }
    // The full paths chosen by the last successful Execute.
    const std::vector<std::string>& GetFiles() const { return FFiles; }

    // The dialog being shown, or null.
    static TLumCustomOpenDialog* Current();

    // Full paths from a returned file buffer: a single entry whole, else
    // the folder and then each name joined to it (an absolute name as is).
    static std::vector<std::string> SplitMultiSelection(const char* buffer);

    TDialogNotifyEvent OnCreate;
    TDialogNotifyEvent OnDestroy;
    TFileOKEvent OnFileOK;
    TSelChangeEvent OnSelChange;
    TCommandEvent OnCommand;

protected:
    virtual void DoCreate();
    virtual void DoDestroy();
    virtual void DoFileOK(const std::string& fileName, bool& isOk);
    virtual void DoSelChanged(const std::string& fileName);
    virtual void DoCommand(QWidget* wnd, QWidget* parent, int cmd);

    // Execute through one of the platform's dialog calls.
    bool ExecuteWith(platform::BOOL (*run)(platform::ui::OPENFILENAME*));

private:
    static platform::ui::UINT_PTR Hook(QWidget* hook, platform::UINT message,
                                       platform::ui::WPARAM w, platform::ui::LPARAM l);
    void HookFileOK(platform::ui::OFNOTIFY& n);

    QWidget* FHandle = nullptr;
    std::string FTemplate;
    std::vector<std::string> FHistoryList;
    TOpenOptions FOptions;
    std::string FFilter;
    int FFilterIndex = 1;
    std::string FInitialDir;
    std::string FTitle;
    std::string FDefaultExt;
    std::string FFileName;
    std::vector<std::string> FFiles;
    // The paths of a multiple selection being validated.
    std::vector<std::string> FValidateFiles;
};

} // namespace lum
