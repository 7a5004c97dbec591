// The Qt implementation of the ui service: message boxes with QMessageBox,
// the application-wide cursor as an override cursor, QApplication's beep.
#pragma once

namespace lum::platform::ui {

// Installs the Qt service and the Qt clipboard, and answers the base layer's
// screen queries from the primary screen. Needs a QApplication.
void InstallQtUiService();

} // namespace lum::platform::ui
