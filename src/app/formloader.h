// Applies the properties a form resource carries for the library's own
// classes. Qt Designer holds the toolkit's properties (geometry, captions,
// fonts, tab order) itself; what it cannot hold for our classes (a numeric
// field's notation and range, a gauge's bevel and alignment, the form's
// font height and character set, the settings of the non-visual dialogs)
// the .ui file keeps as dynamic properties, which uic copies onto the
// widgets and this loader turns into the classes' own setters.
#pragma once

#include <QString>
#include <QWidget>
#include <string>

namespace lum {
class TFolderDialog;
class TLumCustomOpenDialog;
} // namespace lum

namespace lum::app {

// The form's font, colour and its children's properties. Unknown names in
// a property raise EConvertError, so a damaged resource is not half read.
void LoadFormProperties(QWidget* form);

// The form's "<Component>.<Property>" entries for a non-visual component.
void LoadFolderDialogProperties(const QWidget* form, const QString& component,
                                TFolderDialog& dialog);
void LoadOpenDialogProperties(const QWidget* form, const QString& component,
                              TLumCustomOpenDialog& dialog);

} // namespace lum::app
