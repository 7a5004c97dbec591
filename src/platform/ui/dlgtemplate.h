// Dialog templates: small text descriptions of a group of controls with
// ids, captions and geometry in dialog units, from which the file dialogs
// build their extra area. A template is a program resource of type DIALOG
// or is registered at run time. Its lines:
//
//   DIALOG <x> <y> <cx> <cy>            size and offset of the area
//   FONT "<face>" <points>              optional; the dialog font otherwise
//   <class> <id> "<text>" <x> <y> <cx> <cy>
//
// with class one of PUSHBUTTON, DEFPUSHBUTTON, CHECKBOX, RADIOBUTTON, LTEXT,
// CTEXT, RTEXT, STATIC (an empty area a caller paints), FRAME (a black
// frame), EDITTEXT, GROUPBOX, COMBOBOX, LISTBOX. Lines starting with "#"
// are comments. A control with id 1119 marks where the dialog's own
// controls go: its presence puts the area beside them rather than below.
#pragma once

#include <optional>
#include <string>
#include <vector>

class QWidget;
class QFont;

namespace lum::platform::ui {

constexpr int stc32 = 1119;

struct DialogItem {
    std::string kind;
    int id = -1;
    std::string text;
    int x = 0, y = 0, cx = 0, cy = 0;
};

struct DialogTemplate {
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string fontFace;
    int fontPoints = 0;
    std::vector<DialogItem> items;

    // True when the dialog's own controls go beside the area.
    bool Beside() const;
};

// Parses a template; an empty result with Error set for a malformed line.
std::optional<DialogTemplate> ParseDialogTemplate(const std::string& text,
                                                  std::string* error = nullptr);

// Registers (or replaces) a template under Name, ahead of the program's
// resources. Names compare case-insensitively, as resource names do.
void RegisterDialogTemplate(const std::string& name, const std::string& text);
// The template of that name: registered, else the DIALOG resource.
std::optional<DialogTemplate> FindDialogTemplate(const std::string& name);

// Pixels per dialog unit of a font: a quarter of its average character
// width across, an eighth of its height down.
struct TemplateUnits {
    int baseX = 0;
    int baseY = 0;
    int X(int units) const { return units * baseX / 4; }
    int Y(int units) const { return units * baseY / 8; }
};
TemplateUnits UnitsOf(const QFont& font);

// Builds the controls of a template into a new widget of the template's
// size. Each control's objectName is its id ("1000") and its property
// "dlgId" the id as a number.
QWidget* CreateTemplateArea(const DialogTemplate& t, QWidget* parent);

} // namespace lum::platform::ui
