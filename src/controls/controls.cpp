#include "controls/controls.h"

#include <QApplication>
#include <QPaintEvent>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <cxxabi.h>
#include <exception>
#include <memory>
#include <typeinfo>

#include "controls/lumobj_cursors.h"
#include "platform/gdi/fonts.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"
#include "platform/ui/widgetsurface.h"

namespace lum {

namespace {
constexpr const char* kDesigningProperty = "lumDesigning";
constexpr const char* kAlignerName = "lumAligner";

std::function<void()>& BeepHandler() {
    static std::function<void()> handler;
    return handler;
}

// Re-aligns the aligned controls of a parent that is not one of ours
// (a form) whenever it is resized.
class ParentAligner : public QObject {
public:
    explicit ParentAligner(QWidget* parent) : QObject(parent) { setObjectName(kAlignerName); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            auto* w = static_cast<QWidget*>(watched);
            AlignChildControls(w, {0, 0, w->width(), w->height()});
        }
        return false;
    }
};

void EnsureAligner(QWidget* parent) {
    for (QObject* child : parent->children())
        if (child->objectName() == kAlignerName && dynamic_cast<ParentAligner*>(child)) return;
    parent->installEventFilter(new ParentAligner(parent));
}
} // namespace

bool IsDesigning(const QWidget* widget) {
    return widget != nullptr && widget->property(kDesigningProperty).toBool();
}

void SetWidgetDesigning(QWidget* widget, bool value) {
    if (widget) widget->setProperty(kDesigningProperty, value);
}

void MessageBeep() {
    if (BeepHandler())
        BeepHandler()();
    else
        QApplication::beep();
}

void SetMessageBeepHandler(std::function<void()> handler) {
    BeepHandler() = std::move(handler);
}

std::string ObjectClassName(const QObject* object) {
    if (object == nullptr) return "nil";
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(typeid(*object).name(), nullptr, nullptr, &status), std::free);
    std::string name = (status == 0 && demangled) ? demangled.get() : typeid(*object).name();
    const auto colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

QFont ToQFont(const TFont& font) {
    QFont f(QString::fromStdString(
        platform::gdi::ResolveFontFamily(font.GetName(), font.GetCharset())));
    if (font.GetHeight() != 0) f.setPixelSize(std::abs(font.GetHeight()));
    f.setBold((font.GetStyle() & platform::gdi::fsBold) != 0);
    f.setItalic((font.GetStyle() & platform::gdi::fsItalic) != 0);
    f.setUnderline((font.GetStyle() & platform::gdi::fsUnderline) != 0);
    f.setStrikeOut((font.GetStyle() & platform::gdi::fsStrikeOut) != 0);
    return f;
}

TFont FromQFont(const QFont& font) {
    TFont f;
    f.SetName(font.family().toStdString());
    const int pixels = font.pixelSize() > 0
                           ? font.pixelSize()
                           : static_cast<int>(std::lround(font.pointSizeF() * 96.0 / 72.0));
    f.SetHeight(-pixels);
    platform::gdi::TFontStyles style = 0;
    if (font.bold()) style |= platform::gdi::fsBold;
    if (font.italic()) style |= platform::gdi::fsItalic;
    if (font.underline()) style |= platform::gdi::fsUnderline;
    if (font.strikeOut()) style |= platform::gdi::fsStrikeOut;
    f.SetStyle(style);
    return f;
}

// --- TControl ---

TControl::TControl(QWidget* owner) : QWidget(owner) {
    FSurface = std::make_unique<platform::ui::WidgetSurface>(this, [this](TCanvas& canvas) {
        canvas.SetFont(FFont);
        FPaintCanvas = &canvas;
        try {
            Paint();
        } catch (const std::exception& e) {
            // A paint has nobody to report to; show what was drawn so far.
            qWarning("%s: paint failed: %s", ObjectClassName(this).c_str(), e.what());
        }
        FPaintCanvas = nullptr;
    });
    if (IsDesigning(owner)) SetDesigning(true);
    setMouseTracking(true); // moves arrive with no button held, too
    TakeParentFont();
    // Made inside a parent that is on screen, the control shows with it, as
    // it would had it been there before the parent was shown.
    if (owner != nullptr && owner->isVisible()) QWidget::show();
}

TControl::~TControl() {
    SetMouseCapture(false);
    if (FWindowCanvas.HandleAllocated()) {
        platform::gdi::HDC dc = FWindowCanvas.GetHandle();
        FWindowCanvas.SetHandle(nullptr);
        platform::gdi::ReleaseDC(this, dc);
    }
    FSurface.reset();
}

void TControl::SetBounds(int left, int top, int width, int height) {
    setGeometry(left, top, std::max(width, 0), std::max(height, 0));
    if (FAlign != alNone) RequestAlign();
}

void TControl::SetColor(TColor value) {
    if (FColor == value) return;
    FColor = value;
    Invalidate();
}

void TControl::SetFont(const TFont& value) {
    FFont.Assign(value);
    FParentFont = false;
    QWidget::setFont(ToQFont(FFont));
    Invalidate();
}

void TControl::SetParentFont(bool value) {
    if (FParentFont == value) return;
    FParentFont = value;
    if (value) {
        QWidget::setFont(QFont()); // inherit the parent's again
        TakeParentFont();
    }
}

void TControl::TakeParentFont() {
    QWidget* parent = parentWidget();
    if (!FParentFont || parent == nullptr) return;
    if (auto* control = dynamic_cast<TControl*>(parent))
        FFont.Assign(control->FFont);
    else
        FFont.Assign(FromQFont(parent->font()));
    Invalidate();
}

void TControl::SetCaption(const std::string& value) {
    if (FCaption == value) return;
    FCaption = value;
    Invalidate();
}

void TControl::SetAlign(TAlign value) {
    if (FAlign == value) return;
    FAlign = value;
    RequestAlign();
}

void TControl::SetCursor(int value) {
    if (FCursor == value) return;
    FCursor = value;
    QWidget::setCursor(GetScreenCursor(value));
    CMCursorChanged();
}

std::string TControl::GetHint() const {
    return toolTip().toStdString();
}

void TControl::SetHint(const std::string& value) {
    setToolTip(QString::fromStdString(value));
}

TPoint TControl::ClientToScreen(TPoint p) const {
    const QPoint q = mapToGlobal(QPoint(p.x, p.y));
    return {q.x(), q.y()};
}

TPoint TControl::ScreenToClient(TPoint p) const {
    const QPoint q = mapFromGlobal(QPoint(p.x, p.y));
    return {q.x(), q.y()};
}

TCanvas& TControl::GetCanvas() {
    if (FPaintCanvas) return *FPaintCanvas;
    if (!FWindowCanvas.HandleAllocated()) FWindowCanvas.SetHandle(platform::gdi::GetDC(this));
    FWindowCanvas.SetFont(FFont);
    return FWindowCanvas;
}

void TControl::setVisible(bool visible) {
    FVisible = visible;
    QWidget::setVisible(visible || Designing());
    if (FAlign != alNone) RequestAlign();
}

void TControl::SetOpaque(bool value) {
    setAttribute(Qt::WA_OpaquePaintEvent, value);
}

bool TControl::IsOpaque() const {
    return testAttribute(Qt::WA_OpaquePaintEvent);
}

void TControl::SetDesigning(bool value) {
    SetWidgetDesigning(this, value);
}

void TControl::UpdateShowing() {
    // A top-level control is shown only when asked to, never by a mode change.
    if (parentWidget() == nullptr) return;
    const bool show = FVisible || Designing();
    if (show != isVisibleTo(parentWidget())) QWidget::setVisible(show);
}

void TControl::RequestAlign() {
    QWidget* parent = parentWidget();
    if (parent == nullptr) return;
    if (auto* windowed = dynamic_cast<TWinControl*>(parent)) {
        windowed->Realign();
        return;
    }
    EnsureAligner(parent);
    AlignChildControls(parent, {0, 0, parent->width(), parent->height()});
}

void TControl::paintEvent(QPaintEvent* event) {
    if (width() <= 0 || height() <= 0) return;
    FSurface->PaintEvent(event,
                         IsOpaque() ? platform::gdi::ToQColor(FColor) : QColor(Qt::transparent));
}

void TControl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange)
        TakeParentFont();
    else if (event->type() == QEvent::EnabledChange)
        Invalidate();
    QWidget::changeEvent(event);
}

bool TControl::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::ToolTip:
        if (!FShowHint) {
            CancelHint();
            return true;
        }
        break;
    case QEvent::WindowDeactivate:
    case QEvent::Hide:
        Perform(WM_CANCELMODE, 0, 0, 0);
        break;
    case QEvent::EnabledChange:
        if (!isEnabled()) Perform(WM_CANCELMODE, 0, 0, 0);
        break;
    default:
        break;
    }
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::ParentChange) {
        TakeParentFont();
        if (FAlign != alNone) RequestAlign();
    }
    return handled;
}

// --- Alignment ---

void AlignChildControls(QWidget* parent, TRect rect) {
    static constexpr TAlign kOrder[] = {alTop, alBottom, alLeft, alRight, alClient};
    for (TAlign pass : kOrder) {
        for (QObject* object : parent->children()) {
            auto* c = dynamic_cast<TControl*>(object);
            if (c == nullptr || c->GetAlign() != pass) continue;
            if (!c->GetVisible() && !c->Designing()) continue;
            const int w = std::max(0, static_cast<int>(rect.right - rect.left));
            const int h = std::max(0, static_cast<int>(rect.bottom - rect.top));
            switch (pass) {
            case alTop:
                c->setGeometry(rect.left, rect.top, w, c->height());
                rect.top += c->height();
                break;
            case alBottom:
                c->setGeometry(rect.left, rect.bottom - c->height(), w, c->height());
                rect.bottom -= c->height();
                break;
            case alLeft:
                c->setGeometry(rect.left, rect.top, c->width(), h);
                rect.left += c->width();
                break;
            case alRight:
                c->setGeometry(rect.right - c->width(), rect.top, c->width(), h);
                rect.right -= c->width();
                break;
            default:
                c->setGeometry(rect.left, rect.top, w, h);
                break;
            }
        }
    }
}

void TWinControl::AlignControls(TControl*, TRect& rect) {
    AlignChildControls(this, rect);
}

void TWinControl::Realign() {
    TRect r = GetClientRect();
    AlignControls(nullptr, r);
}

void TWinControl::resizeEvent(QResizeEvent* event) {
    TControl::resizeEvent(event);
    Realign();
}

// --- TCustomPanel ---

void TCustomPanel::SetAlignment(TAlignment value) {
    if (FAlignment == value) return;
    FAlignment = value;
    Invalidate();
}

} // namespace lum
