// A widget's window surface: the persistent back buffer that the widget's
// paint fills and that device contexts of the widget (GetDC) draw into at
// any time. What is drawn outside a paint is shown by repainting only the
// touched rectangle from the buffer, without running the widget's paint
// again, so a line drawn from a timer or a frame drawn as it is decoded
// shows at once and stays until the area is painted anew.
//
// The widget calls PaintEvent from its paintEvent. Areas Qt asks for that
// were not just drawn outside a paint are painted by the paint procedure
// (clipped to them) before the buffer is shown.
#pragma once

#include <QColor>
#include <QRegion>
#include <functional>
#include <memory>

#include "platform/gdi/canvas.h"

class QObject;
class QPaintEvent;
class QWidget;

namespace lum::platform::ui {

class WidgetSurface {
public:
    // Paint draws the widget's look on a canvas over the buffer.
    using PaintProc = std::function<void(gdi::TCanvas& canvas)>;

    WidgetSurface(QWidget* widget, PaintProc paint);
    ~WidgetSurface();
    WidgetSurface(const WidgetSurface&) = delete;
    WidgetSurface& operator=(const WidgetSurface&) = delete;

    // From the widget's paintEvent. Background fills the areas painted
    // anew before Paint runs; a background with alpha 0 leaves them
    // transparent, so that the parent shows through.
    void PaintEvent(QPaintEvent* event, const QColor& background);

    // True while the paint procedure runs.
    bool Painting() const { return painting_; }

private:
    class Surface;
    void ShowTouched(bool now);

    QWidget* widget_;
    PaintProc paint_;
    std::shared_ptr<Surface> surface_;
    // Receives the queued calls that show touched areas; deleted first, so
    // none of them runs once the surface is gone.
    std::unique_ptr<QObject> receiver_;
    // Areas repainted from the buffer only: what was drawn outside a paint.
    QRegion showOnly_;
    bool painting_ = false;
};

} // namespace lum::platform::ui
