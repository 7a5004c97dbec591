#include "platform/ui/dlgtemplate.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <sstream>

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include "platform/base/resources.h"

namespace lum::platform::ui {
namespace {

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::mutex g_mutex;
std::map<std::string, std::string>& Registered() {
    static std::map<std::string, std::string> map;
    return map;
}

// Splits a line into words; a word in double quotes keeps its spaces and
// may hold "" for a quote.
bool Tokenize(const std::string& line, std::vector<std::string>& out, std::vector<bool>& quoted) {
    std::size_t i = 0;
    while (i < line.size()) {
        if (std::isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        word += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                word += line[i++];
            }
            if (!closed) return false;
            quoted.push_back(true);
        } else {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
                word += line[i++];
            quoted.push_back(false);
        }
        out.push_back(word);
    }
    return true;
}

bool ToInt(const std::string& s, int& v) {
    try {
        std::size_t used = 0;
        v = std::stoi(s, &used);
        return used == s.size();
    } catch (...) {
        return false;
    }
}

const char* const kKinds[] = {"PUSHBUTTON", "DEFPUSHBUTTON", "CHECKBOX", "RADIOBUTTON", "LTEXT",
                              "CTEXT",      "RTEXT",         "STATIC",   "FRAME",       "EDITTEXT",
                              "GROUPBOX",   "COMBOBOX",      "LISTBOX"};

} // namespace

bool DialogTemplate::Beside() const {
    return std::any_of(items.begin(), items.end(),
                       [](const DialogItem& i) { return i.id == stc32; });
}

std::optional<DialogTemplate> ParseDialogTemplate(const std::string& text, std::string* error) {
    DialogTemplate t;
    bool haveDialog = false;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) {
        if (error) *error = "line " + std::to_string(number) + ": " + why;
        return std::nullopt;
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> w;
        std::vector<bool> q;
        if (!Tokenize(line, w, q)) return fail("unterminated text");
        if (w.empty() || (!q[0] && w[0][0] == '#')) continue;
        std::string kind = Upper(w[0]);
        if (kind == "DIALOG") {
            if (w.size() != 5 || !ToInt(w[1], t.x) || !ToInt(w[2], t.y) || !ToInt(w[3], t.cx) ||
                !ToInt(w[4], t.cy) || t.cx < 0 || t.cy < 0)
                return fail("DIALOG needs x y cx cy");
            haveDialog = true;
        } else if (kind == "FONT") {
            if (w.size() != 3 || !q[1] || !ToInt(w[2], t.fontPoints) || t.fontPoints <= 0)
                return fail("FONT needs a quoted face and a size");
            t.fontFace = w[1];
        } else if (std::find(std::begin(kKinds), std::end(kKinds), kind) != std::end(kKinds)) {
            DialogItem item;
            item.kind = kind;
            if (w.size() != 7 || !ToInt(w[1], item.id) || !q[2] || !ToInt(w[3], item.x) ||
                !ToInt(w[4], item.y) || !ToInt(w[5], item.cx) || !ToInt(w[6], item.cy) ||
                item.cx < 0 || item.cy < 0)
                return fail(kind + " needs id \"text\" x y cx cy");
            item.text = w[2];
            t.items.push_back(item);
        } else {
            return fail("unknown control " + w[0]);
        }
    }
    if (!haveDialog) {
        number = 0;
        return fail("no DIALOG line");
    }
    return t;
}

void RegisterDialogTemplate(const std::string& name, const std::string& text) {
    std::lock_guard lock(g_mutex);
    Registered()[Upper(name)] = text;
}

std::optional<DialogTemplate> FindDialogTemplate(const std::string& name) {
    std::string text;
    {
        std::lock_guard lock(g_mutex);
        auto it = Registered().find(Upper(name));
        if (it != Registered().end()) text = it->second;
    }
    if (text.empty()) {
        auto bytes = FindResource(RT_DIALOG, Upper(name));
        if (bytes.empty()) bytes = FindResource(RT_DIALOG, name);
        if (bytes.empty()) return std::nullopt;
        text.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    return ParseDialogTemplate(text);
}

TemplateUnits UnitsOf(const QFont& font) {
    QFontMetrics fm(font);
    // The platform's average width: of the 52 Latin letters, rounded.
    const QString letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    int width = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
    return {std::max(width, 1), std::max(fm.height(), 1)};
}

QWidget* CreateTemplateArea(const DialogTemplate& t, QWidget* parent) {
    auto* area = new QWidget(parent);
    area->setObjectName("dlgTemplateArea");
    if (!t.fontFace.empty()) {
        QFont f = area->font();
        f.setFamily(QString::fromStdString(t.fontFace));
        f.setPointSize(t.fontPoints);
        area->setFont(f);
    }
    TemplateUnits u = UnitsOf(area->font());
    area->setFixedSize(u.X(t.x + t.cx), u.Y(t.y + t.cy));
    for (const DialogItem& item : t.items) {
        QString text = QString::fromStdString(item.text);
        QWidget* w = nullptr;
        if (item.kind == "PUSHBUTTON" || item.kind == "DEFPUSHBUTTON") {
            auto* b = new QPushButton(text, area);
            b->setAutoDefault(false);
            w = b;
        } else if (item.kind == "CHECKBOX") {
            w = new QCheckBox(text, area);
        } else if (item.kind == "RADIOBUTTON") {
            w = new QRadioButton(text, area);
        } else if (item.kind == "LTEXT" || item.kind == "CTEXT" || item.kind == "RTEXT") {
            auto* l = new QLabel(text, area);
            l->setAlignment(item.kind == "LTEXT"   ? Qt::AlignLeft | Qt::AlignTop
                            : item.kind == "CTEXT" ? Qt::AlignHCenter | Qt::AlignTop
                                                   : Qt::AlignRight | Qt::AlignTop);
            w = l;
        } else if (item.kind == "STATIC" || item.kind == "FRAME") {
            auto* f = new QFrame(area);
            if (item.kind == "FRAME") {
                f->setFrameShape(QFrame::Box);
                f->setStyleSheet("QFrame { color: black; }");
            }
            w = f;
        } else if (item.kind == "EDITTEXT") {
            w = new QLineEdit(text, area);
        } else if (item.kind == "GROUPBOX") {
            w = new QGroupBox(text, area);
        } else if (item.kind == "COMBOBOX") {
            w = new QComboBox(area);
        } else if (item.kind == "LISTBOX") {
            w = new QListWidget(area);
        }
        if (!w) continue;
        // The placeholder only marks a position; it is never seen.
        if (item.id == stc32) w->hide();
        w->setObjectName(QString::number(item.id));
        w->setProperty("dlgId", item.id);
        w->setGeometry(u.X(t.x + item.x), u.Y(t.y + item.y), u.X(item.cx), u.Y(item.cy));
    }
    return area;
}

} // namespace lum::platform::ui
