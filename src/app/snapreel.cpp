// snapreel: the application's entry point. The main window first (so it
// becomes the main window), the hidden holder form second; after the loop
// the holder form goes first, then the main window.
#include <QApplication>
#include <iostream>
#include <memory>

#include "app/mainform.h"
#include "app/subform.h"
#include "platform/ui/qtui.h"
#include "platform/ui/uiservice.h"

int main(int argc, char** argv) {
    std::unique_ptr<QApplication> app;
    try {
        app = std::make_unique<QApplication>(argc, argv);
        QApplication::setApplicationName("snapreel");
        QGuiApplication::setDesktopFileName("snapreel");
        lum::platform::ui::InstallQtUiService();
        lum::app::InitApplication();

        auto window = std::make_unique<lum::app::TSubForm>();
        window->show();
        window->CenterOnScreen();
        auto holder = std::make_unique<lum::app::TMainForm>();
        window->SetHolder(holder.get());

        QApplication::exec();
        holder.reset();
        window.reset();
    } catch (const std::exception& e) {
        if (app)
            lum::platform::ui::HandleException(e);
        else
            std::cerr << "snapreel: " << e.what() << "\n";
    }
    return 0;
}
