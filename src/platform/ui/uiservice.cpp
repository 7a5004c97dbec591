#include "platform/ui/uiservice.h"

#include <mutex>

#include "platform/base/exception.h"

namespace lum::platform::ui {
namespace {

std::mutex g_mutex;
std::unique_ptr<UiService>& Slot() {
    static std::unique_ptr<UiService> service = std::make_unique<HeadlessUiService>();
    return service;
}
std::string& Title() {
    static std::string title;
    return title;
}

} // namespace

int HeadlessUiService::MessageBox(const std::string& text, const std::string& caption,
                                  unsigned style) {
    messages_.push_back({text, caption, style});
    return answer_;
}

std::unique_ptr<UiService> InstallUiService(std::unique_ptr<UiService> service) {
    std::lock_guard lock(g_mutex);
    if (!service) service = std::make_unique<HeadlessUiService>();
    std::swap(Slot(), service);
    return service;
}

UiService& Ui() {
    std::lock_guard lock(g_mutex);
    return *Slot();
}

int MessageBox(const std::string& text, const std::string& caption, unsigned style) {
    return Ui().MessageBox(text, caption, style);
}

void SetAppCursor(AppCursor cursor) {
    Ui().SetAppCursor(cursor);
}

void Beep() {
    Ui().Beep();
}

void SetApplicationTitle(const std::string& title) {
    Title() = title;
}

const std::string& ApplicationTitle() {
    return Title();
}

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

void ShowErrorBox(const std::string& message) {
    MessageBox(ErrorBoxText(message), ApplicationTitle(), MB_OK | MB_ICONERROR);
}

void HandleException(const std::exception& error) {
    if (auto* e = dynamic_cast<const lum::Exception*>(&error))
        ShowErrorBox(e->Message());
    else
        ShowErrorBox(error.what());
}

} // namespace lum::platform::ui
