#include "controls/lumutils_controls.h"

#include <QEvent>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace lum {
namespace {

// The window-wide layer the inverted shapes are painted on. The platform
// draws them straight onto the screen with XOR; a toolkit without screen
// drawing keeps the list of shapes instead, and a shape drawn twice is
// removed, which is what the second XOR would have done.
class RubberLayer : public QWidget {
public:
    enum Kind { Band, Line };

    explicit RubberLayer(QWidget* window) : QWidget(window) {
        setObjectName(QStringLiteral("lumRubberLayer"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        window->installEventFilter(this);
        Follow();
        show();
    }

    static RubberLayer* Of(QWidget* window) {
        auto* layer = dynamic_cast<RubberLayer*>(window->findChild<QWidget*>(
            QStringLiteral("lumRubberLayer"), Qt::FindDirectChildrenOnly));
        return layer ? layer : new RubberLayer(window);
    }

    void Toggle(Kind kind, QPoint a, QPoint b) {
        const Shape shape{kind, a, b};
        auto it = std::find(FShapes.begin(), FShapes.end(), shape);
        if (it != FShapes.end())
            FShapes.erase(it);
        else
            FShapes.push_back(shape);
        Follow();
        update();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent() && event->type() == QEvent::Resize) Follow();
        return false;
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, false);
        // White under difference inverts every channel of what is beneath.
        painter.setCompositionMode(QPainter::CompositionMode_Difference);
        painter.setPen(QPen(Qt::white, 0));
        for (const Shape& s : FShapes) {
            if (s.kind == Line) {
                painter.drawLine(s.a, s.b);
                continue;
            }
            // Every other pixel of the outline, as a focus rectangle is drawn.
            const int l = s.a.x(), t = s.a.y(), r = s.b.x() - 1, b = s.b.y() - 1;
            if (r < l || b < t) continue;
            for (int x = l; x <= r; ++x) {
                if (((x - l) & 1) == 0) {
                    painter.drawPoint(x, t);
                    if (b != t) painter.drawPoint(x, b);
                }
            }
            for (int y = t + 1; y < b; ++y) {
                if (((y - t) & 1) == 0) {
                    painter.drawPoint(l, y);
                    if (r != l) painter.drawPoint(r, y);
                }
            }
        }
    }

private:
    struct Shape {
        Kind kind;
        QPoint a, b;
        bool operator==(const Shape&) const = default;
    };

    void Follow() {
        setGeometry(parentWidget()->rect());
        raise();
    }

    std::vector<Shape> FShapes;
};

QWidget* AsControl(QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    return widget;
}

bool AllZero(const TRect& r) {
    return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0;
}

void Draw(QObject* control, const TRect& rect, RubberLayer::Kind kind, bool order) {
    QWidget* widget = AsControl(control);
    if (!widget || AllZero(rect)) return;
    QPoint a(rect.left, rect.top), b(rect.right, rect.bottom);
    if (order) {
        a = QPoint(std::min(rect.left, rect.right), std::min(rect.top, rect.bottom));
        b = QPoint(std::max(rect.left, rect.right), std::max(rect.top, rect.bottom));
    }
    QWidget* window = widget->window();
    RubberLayer::Of(window)->Toggle(kind, widget->mapTo(window, a), widget->mapTo(window, b));
}

} // namespace

TPoint ClientToClient(const QObject* target, const QObject* source, TPoint point) {
    const auto* to = qobject_cast<const QWidget*>(target);
    const auto* from = qobject_cast<const QWidget*>(source);
    if (!to || !from) return point;
    const QPoint q = to->mapFromGlobal(from->mapToGlobal(QPoint(point.x, point.y)));
    return {q.x(), q.y()};
}

void DrawRubberband(QObject* control, const TRect& rect) {
    Draw(control, rect, RubberLayer::Band, true);
}

void DrawRubberLine(QObject* control, const TRect& rect) {
    Draw(control, rect, RubberLayer::Line, false);
}

} // namespace lum
