#include "dialogs/lumcstdlg.h"

#include <algorithm>
#include <cstring>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "platform/ui/uiservice.h"

namespace lum {

namespace ui = platform::ui;
using platform::DWORD;

namespace {

constexpr DWORD kOptionFlags[] = {ui::OFN_READONLY,
                                  ui::OFN_OVERWRITEPROMPT,
                                  ui::OFN_HIDEREADONLY,
                                  ui::OFN_NOCHANGEDIR,
                                  ui::OFN_SHOWHELP,
                                  ui::OFN_NOVALIDATE,
                                  ui::OFN_ALLOWMULTISELECT,
                                  ui::OFN_EXTENSIONDIFFERENT,
                                  ui::OFN_PATHMUSTEXIST,
                                  ui::OFN_FILEMUSTEXIST,
                                  ui::OFN_CREATEPROMPT,
                                  ui::OFN_SHAREAWARE,
                                  ui::OFN_NOREADONLYRETURN,
                                  ui::OFN_NOTESTFILECREATE,
                                  ui::OFN_NONETWORKBUTTON,
                                  ui::OFN_NOLONGNAMES,
                                  ui::OFN_EXPLORER,
                                  ui::OFN_NODEREFERENCELINKS,
                                  ui::OFN_ENABLEINCLUDENOTIFY,
                                  ui::OFN_ENABLESIZING};

constexpr std::size_t kSingleBuffer = 4096;
constexpr std::size_t kMultiBuffer = 65000; // the name offsets are 16 bits

TLumCustomOpenDialog* g_current = nullptr;
// Set from Execute's start to its end, so a second Execute from inside a
// notification cannot take over the hook of the dialog being shown.
bool g_executing = false;

// The first Max bytes of a UTF-8 text, not cutting a character.
std::string CutUtf8(const std::string& s, std::size_t max) {
    if (s.size() <= max) return s;
    std::size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return s.substr(0, n);
}

void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect s = screen->geometry();
    QSize size = window->frameGeometry().size();
    window->move(s.left() + (s.width() - size.width()) / 2,
                 s.top() + (s.height() - size.height()) / 3);
}

} // namespace

DWORD TOpenOptions::ToFlags() const {
    DWORD flags = 0;
    for (int i = 0; i <= ofEnableSizing; ++i)
        if (Contains(static_cast<TOpenOption>(i))) flags |= kOptionFlags[i];
    return flags;
}

TOpenOptions TOpenOptions::FromFlags(DWORD flags) {
    TOpenOptions s;
    for (int i = 0; i <= ofEnableSizing; ++i)
        if (flags & kOptionFlags[i]) s.Include(static_cast<TOpenOption>(i));
    return s;
}

TLumCustomOpenDialog::TLumCustomOpenDialog(TComponent* owner) : TLumCommonDialog(owner) {}

TLumCustomOpenDialog::~TLumCustomOpenDialog() {
    if (g_current == this) g_current = nullptr;
}

TLumCustomOpenDialog* TLumCustomOpenDialog::Current() {
    return g_current;
}

void TLumCustomOpenDialog::SetInitialDir(const std::string& value) {
    std::string v = value;
    if (v.size() > 1 && v.back() == '/') v.pop_back();
    FInitialDir = v;
}

std::vector<std::string> TLumCustomOpenDialog::SplitMultiSelection(const char* buffer) {
    std::vector<std::string> entries;
    for (const char* p = buffer; p && *p; p += std::strlen(p) + 1)
        entries.emplace_back(p);
    if (entries.size() <= 1) return entries;
    std::vector<std::string> out;
    const std::string& folder = entries[0];
    for (std::size_t i = 1; i < entries.size(); ++i) {
        const std::string& name = entries[i];
        if (name.front() == '/')
            out.push_back(name);
        else
            out.push_back(folder.back() == '/' ? folder + name : folder + "/" + name);
    }
    return out;
}

bool TLumCustomOpenDialog::Execute() {
    return ExecuteWith(&ui::GetOpenFileNameA);
}

bool TLumCustomOpenDialog::ExecuteWith(platform::BOOL (*run)(ui::OPENFILENAME*)) {
    if (g_executing || g_current) return false;
    FFiles.clear();
    const bool multi = FOptions.Contains(ofAllowMultiSelect);

    std::string filter = FFilter;
    std::replace(filter.begin(), filter.end(), '|', '\0');
    // The last pattern's zero and the list's closing one.
    filter.push_back('\0');
    filter.push_back('\0');

    // Paths here run to 4096 bytes, and a selection of many files needs
    // room for all their names; the platform's 260 and 8192 would refuse
    // ordinary choices.
    std::vector<char> file((multi ? kMultiBuffer : kSingleBuffer) + 2, '\0');
    std::memcpy(file.data(), FFileName.data(), std::min(FFileName.size(), file.size() - 2));
    const std::string title = CutUtf8(FTitle, 79);
    const std::string templ = CutUtf8(FTemplate, 257);

    ui::OPENFILENAME ofn;
    ofn.hwndOwner = QApplication::activeWindow();
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = static_cast<DWORD>(std::max(FFilterIndex, 0));
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = FInitialDir.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.lpstrDefExt = FDefaultExt.c_str();
    ofn.lCustData = reinterpret_cast<ui::LPARAM>(this);
    ofn.lpfnHook = &TLumCustomOpenDialog::Hook;
    // The new-style dialog is the only one there is.
    ofn.Flags = (ui::OFN_ENABLEHOOK | FOptions.ToFlags() | ui::OFN_EXPLORER);
    if (!templ.empty()) {
        ofn.lpTemplateName = templ.c_str();
        ofn.Flags |= ui::OFN_ENABLETEMPLATE;
    }

    g_executing = true;
    platform::BOOL ok = run(&ofn);
    g_executing = false;
    if (!ok) return false;

    if (multi) {
        FFiles = SplitMultiSelection(file.data());
        if (!FFiles.empty()) FFileName = FFiles.front();
    } else {
        FFileName = file.data();
        FFiles.push_back(FFileName);
    }
    FOptions.Exclude(ofExtensionDifferent).Exclude(ofReadOnly);
    if (ofn.Flags & ui::OFN_EXTENSIONDIFFERENT) FOptions.Include(ofExtensionDifferent);
    if (ofn.Flags & ui::OFN_READONLY) FOptions.Include(ofReadOnly);
    FFilterIndex = static_cast<int>(ofn.nFilterIndex);
    return true;
}

void TLumCustomOpenDialog::DoCreate() {
    if (OnCreate) OnCreate(this);
}

void TLumCustomOpenDialog::DoDestroy() {
    if (OnDestroy) OnDestroy(this);
}

void TLumCustomOpenDialog::DoFileOK(const std::string& fileName, bool& isOk) {
    if (OnFileOK) OnFileOK(this, fileName, isOk);
}

void TLumCustomOpenDialog::DoSelChanged(const std::string& fileName) {
    if (OnSelChange) OnSelChange(this, fileName);
}

void TLumCustomOpenDialog::DoCommand(QWidget* wnd, QWidget* parent, int cmd) {
    if (OnCommand) OnCommand(this, wnd, parent, cmd);
}

void TLumCustomOpenDialog::HookFileOK(ui::OFNOTIFY& n) {
    bool isOk = true;
    if (FOptions.Contains(ofAllowMultiSelect)) {
        FValidateFiles = SplitMultiSelection(n.lpOFN->lpstrFile);
        for (const std::string& f : FValidateFiles) {
            DoFileOK(f, isOk);
            if (!isOk) break;
        }
        FValidateFiles.clear();
    } else {
        DoFileOK(n.lpOFN->lpstrFile, isOk);
    }
    n.Result = isOk ? 0 : 1;
}

ui::UINT_PTR TLumCustomOpenDialog::Hook(QWidget* hook, platform::UINT message, ui::WPARAM w,
                                        ui::LPARAM l) {
    ui::OFNOTIFY* notify = message == ui::WM_NOTIFY ? reinterpret_cast<ui::OFNOTIFY*>(l) : nullptr;
    try {
        switch (message) {
        case ui::WM_INITDIALOG: {
            auto* ofn = reinterpret_cast<ui::OPENFILENAME*>(l);
            if (!ofn || !ofn->lCustData) return 0;
            g_current = reinterpret_cast<TLumCustomOpenDialog*>(ofn->lCustData);
            g_current->FHandle = hook;
            g_current->DoCreate();
            return 1;
        }
        case ui::WM_NOTIFY:
            if (notify->code == ui::CDN_INITDONE) {
                if (hook->window()) CentreOnScreen(hook->window());
            } else if (notify->code == ui::CDN_FILEOK && g_current) {
                g_current->HookFileOK(*notify);
            } else if (notify->code == ui::CDN_SELCHANGE && g_current) {
                std::vector<char> path(8192, '\0');
                if (ui::CommDlg_OpenSave_GetFilePath(hook, path.data(),
                                                     static_cast<int>(path.size())) >= 0)
                    g_current->DoSelChanged(path.data());
            }
            return 0;
        case ui::WM_COMMAND:
            if (g_current) g_current->DoCommand(hook, hook->parentWidget(), ui::LoWord(w));
            return 0;
        case ui::WM_DESTROY:
            if (g_current) {
                TLumCustomOpenDialog* dialog = g_current;
                // Cleared first: an exception in DoDestroy must not leave a
                // dialog marked as shown.
                g_current = nullptr;
                dialog->FHandle = nullptr;
                dialog->DoDestroy();
            }
            return 0;
        default:
            return 0;
        }
    } catch (const std::exception& e) {
        ui::HandleException(e);
    }
    // A "file OK" that failed keeps the dialog open.
    if (notify && notify->code == ui::CDN_FILEOK) notify->Result = 1;
    return 0;
}

} // namespace lum
