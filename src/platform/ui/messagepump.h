// The main-thread message queue drained by Qt's event loop: every post
// schedules a drain on the application's thread, so notifications posted by
// device threads run inside any running loop, modal dialogs' loops included.
#pragma once

namespace lum::platform::ui {

// Marks the calling (the application's) thread as the main thread and has
// Qt drain the queue from then on. Installing again changes nothing. Needs
// a QCoreApplication.
void InstallQtMessagePump();

} // namespace lum::platform::ui
