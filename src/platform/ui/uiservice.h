// The few things the library must show: message boxes, the application-wide
// cursor and the application's exception handler. This header is
// toolkit-neutral; the Qt application installs the real service at start-up
// (InstallQtUiService in qtui.h), tests and the command line install a
// headless one that records what would have been shown.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace lum::platform::ui {

// Message box styles and results, as the platform numbers them.
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_YESNO = 0x4;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Cursor shapes the application sets for all its windows.
enum class AppCursor { Default, Wait };

class UiService {
public:
    virtual ~UiService() = default;
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned style) = 0;
    virtual void SetAppCursor(AppCursor cursor) = 0;
    virtual void Beep() = 0;
};

// A service that shows nothing: message boxes answer OK (or the answer
// set), and every call is recorded for tests to read.
class HeadlessUiService : public UiService {
public:
    struct Shown {
        std::string text;
        std::string caption;
        unsigned style;
    };
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
    void SetAppCursor(AppCursor cursor) override { cursor_ = cursor; }
    void Beep() override { ++beeps_; }

    const std::vector<Shown>& Messages() const { return messages_; }
    AppCursor Cursor() const { return cursor_; }
    int Beeps() const { return beeps_; }
    void SetAnswer(int answer) { answer_ = answer; }

private:
    std::vector<Shown> messages_;
    AppCursor cursor_ = AppCursor::Default;
    int beeps_ = 0;
    int answer_ = IDOK;
};

// Installs the service (taking ownership) and returns the previous one.
// Until one is installed a headless service answers.
std::unique_ptr<UiService> InstallUiService(std::unique_ptr<UiService> service);
UiService& Ui();

int MessageBox(const std::string& text, const std::string& caption, unsigned style);
void SetAppCursor(AppCursor cursor);
void Beep();

// The application's title: the caption of its error boxes.
void SetApplicationTitle(const std::string& title);
const std::string& ApplicationTitle();

// The text the error box shows for a message: a period is appended when
// the message is not empty and its last character sorts after ".".
std::string ErrorBoxText(const std::string& message);

// The application's exception handler: shows the exception's message in
// the error box (error icon, OK, caption the application title). Dialog
// hooks and event handlers pass what escapes them here.
void HandleException(const std::exception& error);
void ShowErrorBox(const std::string& message);

} // namespace lum::platform::ui
