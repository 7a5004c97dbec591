// The system clipboard through Qt: each registered format travels under its
// own MIME type (ClipboardMimeType), so other instances of the program see
// what this one copied. Needs a QGuiApplication; the Qt ui service installs
// it at start-up.
#pragma once

#include <memory>

#include "platform/ui/clipboard.h"

namespace lum::platform::ui {

std::unique_ptr<ClipboardService> MakeQtClipboardService();
// Installs the Qt clipboard as the clipboard service.
void InstallQtClipboard();

} // namespace lum::platform::ui
