#include "platform/ui/qtui.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>

#include "platform/base/system.h"
#include "platform/ui/qtclipboard.h"
#include "platform/ui/uiservice.h"

namespace lum::platform::ui {
namespace {

class QtUiService final : public UiService {
public:
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override {
        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(QString::fromStdString(caption));
        box.setText(QString::fromStdString(text));
        switch (style & 0xF0) {
        case MB_ICONERROR:
            box.setIcon(QMessageBox::Critical);
            break;
        case MB_ICONQUESTION:
            box.setIcon(QMessageBox::Question);
            break;
        case MB_ICONWARNING:
            box.setIcon(QMessageBox::Warning);
            break;
        case MB_ICONINFORMATION:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            break;
        }
        switch (style & 0xF) {
        case MB_OKCANCEL:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MB_YESNO:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        }
        switch (box.exec()) {
        case QMessageBox::Cancel:
            return IDCANCEL;
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        default:
            return IDOK;
        }
    }

    void SetAppCursor(AppCursor cursor) override {
        if (cursor == current_) return;
        if (current_ != AppCursor::Default) QGuiApplication::restoreOverrideCursor();
        if (cursor == AppCursor::Wait) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        current_ = cursor;
    }

    void Beep() override { QApplication::beep(); }

private:
    AppCursor current_ = AppCursor::Default;
};

} // namespace

void InstallQtUiService() {
    InstallUiService(std::make_unique<QtUiService>());
    InstallQtClipboard();
    SetScreenQuery([] {
        ScreenInfo info;
        if (QScreen* s = QGuiApplication::primaryScreen()) {
            info.width = s->geometry().width();
            info.height = s->geometry().height();
            info.bits_per_pixel = s->depth();
        }
        if (QStyle* st = QApplication::style()) {
            info.caption_height = st->pixelMetric(QStyle::PM_TitleBarHeight);
            info.frame_height = st->pixelMetric(QStyle::PM_DefaultFrameWidth);
        }
        return info;
    });
}

} // namespace lum::platform::ui
