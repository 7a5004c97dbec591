#include "platform/ui/messagepump.h"

#include <QCoreApplication>
#include <QPointer>
#include <atomic>

#include "platform/base/messagequeue.h"

namespace lum::platform::ui {

namespace {
std::atomic<bool> g_installed{false};
}

void InstallQtMessagePump() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || g_installed.exchange(true)) return;
    SetMainThread();
    // Held weakly: a post that comes after the application has gone finds
    // no receiver and schedules nothing.
    QPointer<QCoreApplication> target(app);
    SetMainThreadWakeup([target] {
        QCoreApplication* a = target.data();
        if (a)
            QMetaObject::invokeMethod(
                a, [] { ProcessMessages(); }, Qt::QueuedConnection);
    });
    // Whatever was posted before the pump was there.
    QMetaObject::invokeMethod(
        app, [] { ProcessMessages(); }, Qt::QueuedConnection);
}

} // namespace lum::platform::ui
