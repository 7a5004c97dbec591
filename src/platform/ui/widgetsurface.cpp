#include "platform/ui/widgetsurface.h"

#include <QObject>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <QWidget>

#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"

namespace lum::platform::ui {

namespace {
// Paints running on this thread: showing another widget at once from
// inside one would repaint recursively, so it waits for the next round.
thread_local int t_painting = 0;
} // namespace

// The drawing service's view of the widget. Owner and receiver are cleared
// under the lock when the widget goes, so a thread drawing at that moment
// either posts to a receiver that is still there or posts nothing.
class WidgetSurface::Surface : public gdi::WindowSurface {
public:
    Surface(WidgetSurface* owner, QObject* receiver) : owner_(owner), receiver_(receiver) {}

    void Forget() {
        auto lock = Lock();
        owner_ = nullptr;
        receiver_ = nullptr;
    }

protected:
    void Pending() override {
        if (!receiver_) return;
        WidgetSurface* owner = owner_;
        // Queued even on the widget's own thread: the calls that follow
        // in the same burst widen the area before it is shown.
        QMetaObject::invokeMethod(
            receiver_, [owner] { owner->ShowTouched(false); }, Qt::QueuedConnection);
    }

    void ShowNow() override {
        auto lock = Lock();
        if (!receiver_ || QThread::currentThread() != receiver_->thread()) return;
        WidgetSurface* owner = owner_;
        lock.unlock();
        owner->ShowTouched(true);
    }

private:
    WidgetSurface* owner_;
    QObject* receiver_;
};

WidgetSurface::WidgetSurface(QWidget* widget, PaintProc paint)
    : widget_(widget), paint_(std::move(paint)), receiver_(std::make_unique<QObject>()) {
    surface_ = std::make_shared<Surface>(this, receiver_.get());
    gdi::SetWindowSurface(static_cast<const void*>(widget_), surface_);
}

WidgetSurface::~WidgetSurface() {
    surface_->Forget();
    gdi::SetWindowSurface(static_cast<const void*>(widget_), nullptr);
    receiver_.reset();
}

void WidgetSurface::ShowTouched(bool now) {
    const QRect r = surface_->TakeTouched() & widget_->rect();
    // A hidden widget shows its buffer when it is painted again anyway.
    if (r.isEmpty() || !widget_->isVisible()) return;
    showOnly_ += r;
    if (now && t_painting == 0)
        widget_->repaint(r);
    else
        widget_->update(r);
}

void WidgetSurface::PaintEvent(QPaintEvent* event, const QColor& background) {
    const QSize size = widget_->size();
    QRegion region = event->region();
    if (size.isEmpty()) {
        showOnly_ = QRegion();
        return;
    }
    const QImage::Format format =
        background.alpha() == 255 ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied;
    auto lock = surface_->Lock();
    QImage& buffer = surface_->Buffer();
    if (buffer.size() != size || buffer.format() != format) {
        buffer = QImage(size, format);
        region = QRegion(buffer.rect());
        showOnly_ = QRegion();
    }
    const QRegion fresh = region.subtracted(showOnly_);
    showOnly_ -= region;
    if (!fresh.isEmpty() && !buffer.isNull()) {
        const QRect r = fresh.boundingRect() & buffer.rect();
        {
            QPainter p(&buffer);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.fillRect(r, background.alpha() == 255 ? background : QColor(Qt::transparent));
        }
        gdi::TImageCanvas canvas(buffer);
        gdi::IntersectClipRect(canvas.GetHandle(), r.left(), r.top(), r.right() + 1,
                               r.bottom() + 1);
        struct Flag {
            bool& f;
            explicit Flag(bool& v) : f(v) {
                f = true;
                ++t_painting;
            }
            ~Flag() {
                f = false;
                --t_painting;
            }
        } painting(painting_);
        paint_(canvas);
    }
    QPainter painter(widget_);
    for (const QRect& r : region)
        painter.drawImage(r.topLeft(), buffer, r);
}

} // namespace lum::platform::ui
