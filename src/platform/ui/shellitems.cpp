// The items of the folder browser's namespace: paths, names, attributes,
// special folders and icons.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QStyle>
#include <QSysInfo>
#include <QTextStream>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/ui/shellbrowse.h"

namespace lum::platform::ui {
namespace {

namespace fs = std::filesystem;

std::string HomePath() {
    return QDir::cleanPath(QDir::homePath()).toStdString();
}

// $Name when it holds an absolute path (the XDG rule), else $HOME/Fallback.
std::string XdgBase(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] == '/') return QDir::cleanPath(value).toStdString();
    return HomePath() + "/" + fallback;
}

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

PIDL FileSystemItem(const std::string& path) {
    if (!IsDirectory(path)) return nullptr;
    return std::make_unique<ITEMIDLIST>(ITEMIDLIST{
        ShellItemKind::FileSystem, QDir::cleanPath(QString::fromStdString(path)).toStdString()});
}

PIDL FirstExisting(std::initializer_list<std::string> paths) {
    for (const std::string& p : paths)
        if (PIDL item = FileSystemItem(p)) return item;
    return nullptr;
}

PIDL Virtual(ShellItemKind kind) {
    return std::make_unique<ITEMIDLIST>(ITEMIDLIST{kind, {}});
}

bool HasSubfolder(const std::string& path) {
    std::error_code ec;
    fs::directory_iterator it(path, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) return true;
    }
    return false;
}

DWORD FileSystemAttributes(const std::string& path) {
    const QFileInfo info(QString::fromStdString(path));
    if (!info.exists() && !info.isSymLink()) return 0;
    DWORD a = SFGAO_CANCOPY | SFGAO_CANLINK | SFGAO_HASPROPSHEET | SFGAO_FILESYSTEM;
    if (path != "/") {
        const QFileInfo parent(info.absolutePath());
        if (parent.isWritable()) a |= SFGAO_CANMOVE | SFGAO_CANRENAME | SFGAO_CANDELETE;
    }
    if (info.isDir()) {
        a |= SFGAO_FOLDER | SFGAO_FILESYSANCESTOR;
        if (info.isWritable()) a |= SFGAO_DROPTARGET;
        if (HasSubfolder(path)) a |= SFGAO_HASSUBFOLDER;
    }
    if (!info.isWritable()) a |= SFGAO_READONLY;
    if (info.isSymLink()) a |= SFGAO_LINK;
    if (info.fileName().startsWith('.')) a |= SFGAO_HIDDEN;
    return a;
}

} // namespace

PIDL ILClone(const ITEMIDLIST* item) {
    return item ? std::make_unique<ITEMIDLIST>(*item) : nullptr;
}

bool ILIsEqual(const ITEMIDLIST* a, const ITEMIDLIST* b) {
    if (a == nullptr || b == nullptr) return a == b;
    return *a == *b;
}

bool SHGetPathFromIDList(const ITEMIDLIST* item, std::string& path) {
    path.clear();
    if (item == nullptr) return false;
    if (item->kind == ShellItemKind::FileSystem)
        path = item->path;
    else if (item->kind == ShellItemKind::Desktop)
        path = DesktopFolderPath();
    return !path.empty();
}

std::string SHGetDisplayName(const ITEMIDLIST& item) {
    switch (item.kind) {
    case ShellItemKind::Desktop:
        return "Desktop";
    case ShellItemKind::FileSystem:
        if (item.path == "/") return "File System";
        return QFileInfo(QString::fromStdString(item.path)).fileName().toStdString();
    case ShellItemKind::Network:
        return "Network";
    case ShellItemKind::Computer: {
        const QString host = QSysInfo::machineHostName();
        return host.isEmpty() ? "localhost" : host.toStdString();
    }
    case ShellItemKind::Printers:
        return "Printers";
    case ShellItemKind::ControlPanel:
        return "Control Panel";
    }
    return {};
}

bool SHGetAttributesOf(const ITEMIDLIST* item, DWORD& attributes) {
    const DWORD mask = attributes;
    attributes = 0;
    if (item == nullptr) return false;
    DWORD a = 0;
    switch (item->kind) {
    case ShellItemKind::Desktop:
        a = SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER | SFGAO_FILESYSTEM;
        break;
    case ShellItemKind::FileSystem:
        a = FileSystemAttributes(item->path);
        if (a == 0) return false;
        break;
    case ShellItemKind::Network:
        a = SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
        break;
    case ShellItemKind::Computer:
        a = SFGAO_HASPROPSHEET;
        break;
    case ShellItemKind::Printers:
    case ShellItemKind::ControlPanel:
        a = SFGAO_FOLDER;
        break;
    }
    attributes = a & mask;
    return true;
}

PIDL SHParseDisplayName(QWidget*, const std::string& path, DWORD* attributes) {
    const DWORD mask = attributes ? *attributes : 0;
    if (attributes) *attributes = 0;
    if (path.empty() || path[0] != '/') return nullptr;
    const QString p = QString::fromStdString(path);
    if (!QFileInfo::exists(p)) return nullptr;
    auto item = std::make_unique<ITEMIDLIST>(
        ITEMIDLIST{ShellItemKind::FileSystem, QDir::cleanPath(p).toStdString()});
    if (attributes) {
        DWORD a = mask;
        SHGetAttributesOf(item.get(), a);
        *attributes = a;
    }
    return item;
}

std::string XdgUserDir(const std::string& key, const std::string& fallback) {
    const std::string home = HomePath();
    QFile file(QString::fromStdString(XdgBase("XDG_CONFIG_HOME", ".config") + "/user-dirs.dirs"));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&file);
        const QString wanted = QString::fromStdString("XDG_" + key + "_DIR");
        while (!in.atEnd()) {
            const QString line = in.readLine().trimmed();
            if (line.startsWith('#')) continue;
            const qsizetype eq = line.indexOf('=');
            if (eq < 0 || line.left(eq).trimmed() != wanted) continue;
            QString value = line.mid(eq + 1).trimmed();
            if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
                value = value.mid(1, value.size() - 2);
            if (value.startsWith("$HOME")) value = QString::fromStdString(home) + value.mid(5);
            // Anything else but an absolute path is not valid in the file.
            if (value.startsWith('/')) return QDir::cleanPath(value).toStdString();
        }
    }
    return home + "/" + fallback;
}

std::string DesktopFolderPath() {
    const std::string desktop = XdgUserDir("DESKTOP", "Desktop");
    return IsDirectory(desktop) ? desktop : HomePath();
}

PIDL SHGetSpecialFolderLocation(QWidget*, int csidl) {
    const std::string data = XdgBase("XDG_DATA_HOME", ".local/share");
    const std::string config = XdgBase("XDG_CONFIG_HOME", ".config");
    switch (csidl) {
    case CSIDL_DESKTOP:
        return Virtual(ShellItemKind::Desktop);
    case CSIDL_CONTROLS:
        return Virtual(ShellItemKind::ControlPanel);
    case CSIDL_PRINTERS:
        return Virtual(ShellItemKind::Printers);
    case CSIDL_NETWORK:
        return Virtual(ShellItemKind::Network);
    case CSIDL_DESKTOPDIRECTORY:
        return FileSystemItem(DesktopFolderPath());
    case CSIDL_PERSONAL:
        return FileSystemItem(HomePath());
    case CSIDL_DRIVES:
        return FileSystemItem("/");
    case CSIDL_PROGRAMS:
    case CSIDL_STARTMENU:
        return FileSystemItem(data + "/applications");
    case CSIDL_STARTUP:
        return FileSystemItem(config + "/autostart");
    case CSIDL_BITBUCKET:
        return FileSystemItem(data + "/Trash/files");
    case CSIDL_FONTS:
        return FirstExisting({data + "/fonts", HomePath() + "/.fonts", "/usr/share/fonts"});
    case CSIDL_TEMPLATES:
        return FileSystemItem(XdgUserDir("TEMPLATES", "Templates"));
    case CSIDL_COMMON_STARTMENU:
    case CSIDL_COMMON_PROGRAMS:
        return FileSystemItem("/usr/share/applications");
    case CSIDL_COMMON_STARTUP:
        return FileSystemItem("/etc/xdg/autostart");
    case CSIDL_APPDATA:
        return FileSystemItem(config);
    default:
        return nullptr;
    }
}

int SHGetImageIndex(const ITEMIDLIST& item) {
    switch (item.kind) {
    case ShellItemKind::Desktop:
        return siDesktop;
    case ShellItemKind::FileSystem:
        if (item.path == "/") return siDriveRoot;
        if (item.path == HomePath()) return siHome;
        return IsDirectory(item.path) ? siFolder : siFile;
    case ShellItemKind::Network:
        return siNetwork;
    case ShellItemKind::Computer:
        return siComputer;
    case ShellItemKind::Printers:
        return siPrinters;
    case ShellItemKind::ControlPanel:
        return siControlPanel;
    }
    return siFolder;
}

QIcon SHGetImageIcon(int index) {
    QStyle* style = QApplication::style();
    if (style == nullptr) return {};
    switch (index) {
    case siFile:
        return style->standardIcon(QStyle::SP_FileIcon);
    case siDesktop:
        return style->standardIcon(QStyle::SP_DesktopIcon);
    case siDriveRoot:
        return style->standardIcon(QStyle::SP_DriveHDIcon);
    case siNetwork:
        return style->standardIcon(QStyle::SP_DriveNetIcon);
    case siComputer:
        return style->standardIcon(QStyle::SP_ComputerIcon);
    case siPrinters:
        return style->standardIcon(QStyle::SP_FileDialogListView);
    case siControlPanel:
        return style->standardIcon(QStyle::SP_FileDialogDetailedView);
    case siHome:
        return style->standardIcon(QStyle::SP_DirHomeIcon);
    default:
        return style->standardIcon(QStyle::SP_DirIcon);
    }
}

DialogBaseUnits GetDialogBaseUnits() {
    if (QGuiApplication::instance() == nullptr) return {8, 16};
    const QFontMetrics fm(QApplication::font("QDialog"));
    const int average =
        (fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    return {std::max(1, average), std::max(1, fm.height())};
}

RECT DialogUnitsToPixels(int x, int y, int cx, int cy) {
    const DialogBaseUnits u = GetDialogBaseUnits();
    return RECT{x * u.width / 4, y * u.height / 8, (x + cx) * u.width / 4, (y + cy) * u.height / 8};
}

} // namespace lum::platform::ui
