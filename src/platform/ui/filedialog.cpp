#include "platform/ui/filedialog.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>

#include "platform/ui/dlgtemplate.h"
#include "platform/ui/uiservice.h"

namespace lum::platform::ui {
namespace {

DWORD g_error = 0;

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> SplitPatterns(const std::string& patterns) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : patterns) {
        if (c == ';') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else if (c != ' ' || !cur.empty()) {
            cur += c;
        }
    }
    while (!cur.empty() && cur.back() == ' ')
        cur.pop_back();
    if (!cur.empty()) out.push_back(cur);
    return out;
}

// Wildcard match of * and ?, ignoring ASCII case.
bool WildMatch(const char* p, const char* s) {
    if (*p == 0) return *s == 0;
    if (*p == '*') {
        while (*p == '*')
            ++p;
        if (*p == 0) return true;
        for (; *s; ++s)
            if (WildMatch(p, s)) return true;
        return false;
    }
    if (*s == 0) return false;
    if (*p != '?' && std::tolower(static_cast<unsigned char>(*p)) !=
                         std::tolower(static_cast<unsigned char>(*s)))
        return false;
    return WildMatch(p + 1, s + 1);
}

QString QuoteName(const QString& s) {
    return '"' + s + '"';
}

} // namespace

std::vector<FilterEntry> ParseFilter(const char* filter) {
    std::vector<FilterEntry> out;
    if (!filter) return out;
    const char* p = filter;
    while (*p) {
        FilterEntry e;
        e.description = p;
        p += e.description.size() + 1;
        if (!*p) break; // a description without its pattern
        e.patterns = p;
        p += e.patterns.size() + 1;
        out.push_back(std::move(e));
    }
    return out;
}

QString QtNameFilter(const FilterEntry& entry) {
    QStringList patterns;
    for (const std::string& pat : SplitPatterns(entry.patterns)) {
        // The platform's "*.*" also matches names without a dot.
        if (pat == "*.*") {
            patterns << "*";
            continue;
        }
        QString q;
        for (char c : pat) {
            if (std::isalpha(static_cast<unsigned char>(c))) {
                char lo = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                char up = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                q += QString("[%1%2]").arg(QChar(lo)).arg(QChar(up));
            } else {
                q += QChar(c);
            }
        }
        patterns << q;
    }
    if (patterns.isEmpty()) patterns << "*";
    return QString::fromStdString(entry.description) + " (" + patterns.join(' ') + ")";
}

bool MatchesFilter(const std::string& name, const std::string& patterns) {
    for (const std::string& pat : SplitPatterns(patterns)) {
        if (pat == "*.*" || WildMatch(pat.c_str(), name.c_str())) return true;
    }
    return false;
}

// ---- FileDialog ----

FileDialog::FileDialog(OPENFILENAME& ofn, bool save)
    : QFileDialog(ofn.hwndOwner), ofn_(ofn), save_(save) {
    setOption(QFileDialog::DontUseNativeDialog);
    // Overwrite prompts and existence checks are ours, so that the hook
    // sees only names that passed them.
    setOption(QFileDialog::DontConfirmOverwrite);
    setOption(QFileDialog::HideNameFilterDetails);
    if (ofn.Flags & OFN_NODEREFERENCELINKS) setOption(QFileDialog::DontResolveSymlinks);
    setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    setFileMode(!save && (ofn.Flags & OFN_ALLOWMULTISELECT) ? QFileDialog::ExistingFiles
                                                            : QFileDialog::AnyFile);
    if (ofn.lpstrTitle && *ofn.lpstrTitle)
        setWindowTitle(QString::fromLocal8Bit(ofn.lpstrTitle));
    else
        setWindowTitle(save ? "Save As" : "Open");
    if (ofn.lpstrDefExt && *ofn.lpstrDefExt)
        setDefaultSuffix(QString::fromLocal8Bit(ofn.lpstrDefExt));

    QStringList filters;
    for (const FilterEntry& e : ParseFilter(ofn.lpstrFilter))
        filters << QtNameFilter(e);
    if (!filters.isEmpty()) setNameFilters(filters);

    if (ofn.lpstrInitialDir && *ofn.lpstrInitialDir) {
        QDir dir(QString::fromLocal8Bit(ofn.lpstrInitialDir));
        if (dir.exists()) setDirectory(dir);
    }
    QString initial = ofn.lpstrFile ? QString::fromLocal8Bit(ofn.lpstrFile) : QString();
    if (!initial.isEmpty()) {
        QFileInfo fi(initial);
        if (initial.contains('/') && fi.absoluteDir().exists()) setDirectory(fi.absolutePath());
        selectFile(fi.fileName());
    }
    setSizeGripEnabled(ofn.Flags & OFN_ENABLESIZING);
}

FileDialog::~FileDialog() {
    if (hook_ && !destroyed_) {
        destroyed_ = true;
        Send(WM_DESTROY, 0, 0);
    }
}

UINT_PTR FileDialog::Send(UINT message, WPARAM w, LPARAM l) {
    if (!(ofn_.Flags & OFN_ENABLEHOOK) || !ofn_.lpfnHook) return 0;
    // Nothing may unwind through the toolkit's event loop: what escapes
    // the hook is shown, and a "file OK" it broke keeps the dialog open.
    try {
        return ofn_.lpfnHook(hook_, message, w, l);
    } catch (const std::exception& e) {
        HandleException(e);
    } catch (...) {
        ShowErrorBox("Unknown error");
    }
    if (message == WM_NOTIFY) {
        auto* n = reinterpret_cast<OFNOTIFY*>(l);
        if (n->code == CDN_FILEOK) n->Result = 1;
    }
    return 0;
}

void FileDialog::Notify(UINT code) {
    OFNOTIFY n{this, code, &ofn_, 0};
    Send(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
}

void FileDialog::AddSidePane(QWidget* pane) {
    auto* grid = qobject_cast<QGridLayout*>(layout());
    if (!grid) return;
    pane->setParent(this);
    grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);
}

bool FileDialog::Prepare(const ExtraPaneFactory& extra) {
    auto* grid = qobject_cast<QGridLayout*>(layout());
    if ((ofn_.Flags & OFN_ENABLETEMPLATE) && ofn_.lpTemplateName && *ofn_.lpTemplateName) {
        auto t = FindDialogTemplate(ofn_.lpTemplateName);
        if (!t) {
            g_error = CDERR_FINDRESFAILURE;
            return false;
        }
        hook_ = CreateTemplateArea(*t, this);
        if (grid && t->Beside())
            grid->addWidget(hook_, 0, grid->columnCount(), grid->rowCount(), 1,
                            Qt::AlignTop | Qt::AlignLeft);
        else if (grid)
            grid->addWidget(hook_, grid->rowCount(), 0, 1, grid->columnCount(),
                            Qt::AlignTop | Qt::AlignLeft);
        ConnectCommands(hook_);
    } else {
        // Without a template the hook still has a dialog of its own: an
        // empty child, as on the platform.
        hook_ = new QWidget(this);
        hook_->setObjectName("dlgTemplateArea");
        hook_->setFixedSize(0, 0);
    }
    if (!save_ && !(ofn_.Flags & OFN_HIDEREADONLY) && grid) {
        readOnly_ = new QCheckBox("Open as &read-only", this);
        readOnly_->setChecked(ofn_.Flags & OFN_READONLY);
        grid->addWidget(readOnly_, grid->rowCount(), 0, 1, grid->columnCount());
    }
    if (extra) extra(*this);
    // Chosen once the dialog's widgets exist; before, the choice is lost.
    if (const QStringList filters = nameFilters(); !filters.isEmpty()) {
        DWORD index = ofn_.nFilterIndex;
        if (index < 1 || index > static_cast<DWORD>(filters.size())) index = 1;
        selectNameFilter(filters[static_cast<int>(index) - 1]);
    }

    connect(this, &QFileDialog::currentChanged, this,
            [this](const QString&) { SelectionChanged(); });
    if (auto* list = findChild<QListView*>("listView"); list && list->selectionModel())
        connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this] { SelectionChanged(); });
    connect(this, &QFileDialog::directoryEntered, this,
            [this](const QString&) { Notify(CDN_FOLDERCHANGE); });
    connect(this, &QFileDialog::filterSelected, this, [this](const QString& f) {
        (void)f;
        ofn_.nFilterIndex = static_cast<DWORD>(FilterIndex());
        Notify(CDN_TYPECHANGE);
    });

    resize(sizeHint().expandedTo(QSize(640, 400)));
    Send(WM_INITDIALOG, 0, reinterpret_cast<LPARAM>(&ofn_));
    Notify(CDN_INITDONE);
    return true;
}

void FileDialog::ConnectCommands(QWidget* area) {
    for (QWidget* w : area->findChildren<QWidget*>()) {
        QVariant id = w->property("dlgId");
        if (!id.isValid()) continue;
        auto param = [w](UINT code) {
            return std::pair<WPARAM, LPARAM>(
                static_cast<WPARAM>(static_cast<WORD>(w->property("dlgId").toInt())) |
                    (static_cast<WPARAM>(code) << 16),
                reinterpret_cast<LPARAM>(w));
        };
        auto send = [this, param](UINT code) {
            auto [wp, lp] = param(code);
            Send(WM_COMMAND, wp, lp);
        };
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            connect(b, &QAbstractButton::clicked, this, [send] { send(BN_CLICKED); });
        else if (auto* e = qobject_cast<QLineEdit*>(w))
            connect(e, &QLineEdit::textChanged, this, [send] { send(EN_CHANGE); });
        else if (auto* c = qobject_cast<QComboBox*>(w))
            connect(c, &QComboBox::currentIndexChanged, this, [send] { send(CBN_SELCHANGE); });
        else if (auto* l = qobject_cast<QListWidget*>(w))
            connect(l, &QListWidget::currentRowChanged, this, [send] { send(LBN_SELCHANGE); });
    }
}

void FileDialog::SelectionChanged() {
    QString path = QString::fromStdString(CurrentPath());
    if (path == lastSelection_) return;
    lastSelection_ = path;
    Notify(CDN_SELCHANGE);
    emit SelectionSent(path);
}

std::string FileDialog::CurrentPath() const {
    QString dir = directory().absolutePath();
    QStringList files;
    for (const QString& f : selectedFiles())
        if (QFileInfo(f).absoluteFilePath() != dir) files << f;
    if (files.size() == 1) return files[0].toStdString();
    if (files.isEmpty()) return dir.toStdString();
    QString text = dir == "/" ? dir : dir + "/";
    QStringList names;
    for (const QString& f : files)
        names << QuoteName(QFileInfo(f).fileName());
    return (text + names.join(' ')).toStdString();
}

bool FileDialog::ReadOnlyChecked() const {
    return readOnly_ && readOnly_->isChecked();
}

int FileDialog::FilterIndex() const {
    // The combo box holds the descriptions without their patterns, so the
    // index is read there rather than by matching texts.
    auto* combo = findChild<QComboBox*>("fileTypeCombo");
    int index = combo ? combo->currentIndex() : -1;
    return index < 0 ? 1 : index + 1;
}

QStringList FileDialog::Candidates() const {
    QStringList out;
    auto* edit = findChild<QLineEdit*>("fileNameEdit");
    QString typed = edit ? edit->text().trimmed() : QString();
    if (fileMode() != QFileDialog::ExistingFiles && !typed.isEmpty()) {
        // One name: what the user typed, not whatever the list still has
        // selected from before.
        QString path = QDir::isAbsolutePath(typed) ? typed : directory().absoluteFilePath(typed);
        QFileInfo fi(path);
        if (!defaultSuffix().isEmpty() && fi.suffix().isEmpty() && !fi.isDir() &&
            !typed.endsWith('.'))
            path += '.' + defaultSuffix();
        return {QDir::cleanPath(path)};
    }
    for (const QString& f : selectedFiles())
        if (!f.isEmpty()) out << QFileInfo(f).absoluteFilePath();
    if (fileMode() != QFileDialog::ExistingFiles && out.size() > 1) out = out.mid(0, 1);
    return out;
}

bool FileDialog::Validate(const QStringList& files) {
    const std::string caption = windowTitle().toStdString();
    auto say = [&](const QString& text, unsigned style) {
        return MessageBox(text.toStdString(), caption, style);
    };
    for (const QString& f : files) {
        QFileInfo fi(f);
        QString name = fi.fileName();
        bool exists = fi.exists();
        if ((ofn_.Flags & (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST)) && !fi.absoluteDir().exists()) {
            say(name + "\nPath does not exist.\nCheck the path and try again.",
                MB_OK | MB_ICONWARNING);
            return false;
        }
        if (!save_ && (ofn_.Flags & OFN_FILEMUSTEXIST) && !exists) {
            say(name + "\nFile not found.\nCheck the file name and try again.",
                MB_OK | MB_ICONWARNING);
            return false;
        }
        if (!exists && (ofn_.Flags & OFN_CREATEPROMPT) &&
            say(name + "\nThis file does not exist.\nDo you want to create it?",
                MB_YESNO | MB_ICONQUESTION) != IDYES)
            return false;
        if (exists && (ofn_.Flags & OFN_NOREADONLYRETURN) && !fi.isWritable()) {
            say(name + "\nThis file is set to read-only.\nTry again with a different file name.",
                MB_OK | MB_ICONWARNING);
            return false;
        }
        if (exists && save_ && (ofn_.Flags & OFN_OVERWRITEPROMPT) &&
            say(name + " already exists.\nDo you want to replace it?", MB_YESNO | MB_ICONWARNING) !=
                IDYES)
            return false;
    }
    return true;
}

bool FileDialog::FillRecord(const QStringList& files) {
    std::string text;
    WORD nameOffset = 0;
    std::string firstName;
    if (files.size() == 1) {
        text = files[0].toLocal8Bit().toStdString();
        std::size_t slash = text.rfind('/');
        nameOffset = static_cast<WORD>(slash == std::string::npos ? 0 : slash + 1);
        firstName = text.substr(nameOffset);
        text.push_back('\0');
    } else {
        std::string dir = QFileInfo(files[0]).absolutePath().toLocal8Bit().toStdString();
        text = dir;
        text.push_back('\0');
        nameOffset = static_cast<WORD>(text.size());
        for (const QString& f : files) {
            std::string name = QFileInfo(f).fileName().toLocal8Bit().toStdString();
            if (firstName.empty()) firstName = name;
            text += name;
            text.push_back('\0');
        }
    }
    text.push_back('\0');
    if (text.size() > ofn_.nMaxFile || text.size() > 0xFFFF) {
        // The platform would close and fail here; the user keeps the
        // dialog and may choose fewer or shorter names instead.
        MessageBox(
            "The file name is too long for this dialog.\nChoose fewer files or a shorter name.",
            windowTitle().toStdString(), MB_OK | MB_ICONWARNING);
        return false;
    }
    std::memcpy(ofn_.lpstrFile, text.data(), text.size());
    ofn_.nFileOffset = nameOffset;
    std::size_t dot = firstName.rfind('.');
    ofn_.nFileExtension =
        files.size() == 1 && dot != std::string::npos ? static_cast<WORD>(nameOffset + dot + 1) : 0;

    std::string ext = dot == std::string::npos ? std::string() : firstName.substr(dot + 1);
    ofn_.Flags &= ~(OFN_EXTENSIONDIFFERENT | OFN_READONLY);
    if (ofn_.lpstrDefExt && *ofn_.lpstrDefExt && Lower(ext) != Lower(ofn_.lpstrDefExt))
        ofn_.Flags |= OFN_EXTENSIONDIFFERENT;
    if (ReadOnlyChecked()) ofn_.Flags |= OFN_READONLY;
    ofn_.nFilterIndex = static_cast<DWORD>(FilterIndex());
    return true;
}

void FileDialog::accept() {
    QStringList files = Candidates();
    if (files.isEmpty()) return;
    if (files.size() == 1 && QFileInfo(files[0]).isDir()) {
        // A folder was confirmed: go into it, as the platform's dialog does.
        setDirectory(files[0]);
        return;
    }
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const QString& f) { return QFileInfo(f).isDir(); }),
                files.end());
    if (files.isEmpty() || !Validate(files) || !FillRecord(files)) return;
    OFNOTIFY n{this, CDN_FILEOK, &ofn_, 0};
    Send(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
    if (n.Result != 0) return;
    chosen_ = files;
    if (!(ofn_.Flags & OFN_NOCHANGEDIR)) QDir::setCurrent(QFileInfo(files[0]).absolutePath());
    QDialog::accept();
}

void FileDialog::done(int result) {
    QFileDialog::done(result);
    if (hook_ && !destroyed_) {
        destroyed_ = true;
        Send(WM_DESTROY, 0, 0);
    }
}

// ---- The calls ----

BOOL RunFileDialog(OPENFILENAME* ofn, bool save, const ExtraPaneFactory& extra) {
    g_error = 0;
    if (!ofn || !ofn->lpstrFile || ofn->nMaxFile == 0 ||
        !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        g_error = CDERR_INITIALIZATION;
        return FALSE;
    }
    FileDialog dialog(*ofn, save);
    if (!dialog.Prepare(extra)) return FALSE;
    dialog.setWindowModality(Qt::ApplicationModal);
    return dialog.exec() == QDialog::Accepted ? TRUE : FALSE;
}

BOOL GetOpenFileNameA(OPENFILENAME* ofn) {
    return RunFileDialog(ofn, false, {});
}

BOOL GetSaveFileNameA(OPENFILENAME* ofn) {
    return RunFileDialog(ofn, true, {});
}

DWORD CommDlgExtendedError() {
    return g_error;
}

int CommDlg_OpenSave_GetFilePath(QWidget* w, char* buffer, int size) {
    FileDialog* dialog = nullptr;
    for (QWidget* p = w; p && !dialog; p = p->parentWidget())
        dialog = qobject_cast<FileDialog*>(p);
    if (!dialog) return -1;
    std::string path = dialog->CurrentPath();
    if (buffer && size > 0) {
        std::size_t n = std::min(path.size(), static_cast<std::size_t>(size - 1));
        std::memcpy(buffer, path.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int>(path.size());
}

QWidget* GetDlgItem(QWidget* hook, int id) {
    if (!hook) return nullptr;
    for (QWidget* w : hook->findChildren<QWidget*>())
        if (w->property("dlgId").isValid() && w->property("dlgId").toInt() == id) return w;
    return nullptr;
}

} // namespace lum::platform::ui
