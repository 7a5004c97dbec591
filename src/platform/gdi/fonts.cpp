// The font substitution table and the lookup of installed families.
#include <QFontDatabase>
#include <QGuiApplication>
#include <map>
#include <mutex>

#include "platform/gdi/fonts.h"
#include "platform/gdi/gditypes.h"

namespace lum::platform::gdi {

namespace {

struct Substitute {
    const char* face;
    const char* family;
};

constexpr Substitute kTable[] = {
    {"ＭＳ Ｐゴシック", "IPAPGothic"},
    {"MS PGothic", "IPAPGothic"},
    {"ＭＳ ゴシック", "IPAGothic"},
    {"MS Gothic", "IPAGothic"},
    {"MS UI Gothic", "IPAPGothic"},
    {"ＭＳ Ｐ明朝", "IPAPGothic"},
    {"ＭＳ 明朝", "IPAGothic"},
    {"MS Sans Serif", "DejaVu Sans"},
    {"MS Shell Dlg", "DejaVu Sans"},
    {"MS Shell Dlg 2", "DejaVu Sans"},
    {"Microsoft Sans Serif", "DejaVu Sans"},
    {"Tahoma", "DejaVu Sans"},
    {"Arial", "DejaVu Sans"},
    {"Verdana", "DejaVu Sans"},
    {"Segoe UI", "DejaVu Sans"},
    {"System", "DejaVu Sans"},
    {"Small Fonts", "DejaVu Sans"},
    {"Courier New", "DejaVu Sans Mono"},
    {"Courier", "DejaVu Sans Mono"},
    {"Fixedsys", "DejaVu Sans Mono"},
    {"Terminal", "DejaVu Sans Mono"},
    {"Lucida Console", "DejaVu Sans Mono"},
    {"Times New Roman", "DejaVu Serif"},
    {"Times", "DejaVu Serif"},
    {"MS Serif", "DejaVu Serif"},
};

bool Installed(const QString& family) {
    return !family.isEmpty() && QFontDatabase::hasFamily(family);
}

} // namespace

std::string FontSubstitute(std::string_view face) {
    const QString f = QString::fromUtf8(face.data(), static_cast<qsizetype>(face.size())).trimmed();
    for (const auto& s : kTable)
        if (f.compare(QString::fromUtf8(s.face), Qt::CaseInsensitive) == 0) return s.family;
    return {};
}

std::string ResolveFontFamily(std::string_view face, BYTE charset) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return std::string(face);
    static std::mutex mutex;
    static std::map<std::pair<std::string, BYTE>, std::string> cache;
    const std::pair<std::string, BYTE> key{std::string(face), charset};
    std::lock_guard lock(mutex);
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    std::string result;
    const QString f = QString::fromUtf8(face.data(), static_cast<qsizetype>(face.size()));
    if (Installed(f)) {
        result = std::string(face);
    } else if (const std::string sub = FontSubstitute(face);
               !sub.empty() && Installed(QString::fromStdString(sub))) {
        result = sub;
    } else if (charset == SHIFTJIS_CHARSET && Installed("IPAPGothic")) {
        result = "IPAPGothic";
    } else if (Installed("DejaVu Sans")) {
        result = "DejaVu Sans";
    } else {
        result = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family().toStdString();
    }
    cache.emplace(key, result);
    return result;
}

} // namespace lum::platform::gdi
