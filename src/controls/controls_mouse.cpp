// The control layer's mouse handling: the toolkit's mouse events become
// mouse messages, the messages their handlers, the handlers the control's
// MouseDown, MouseMove and MouseUp.
#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QToolTip>

#include "controls/controls.h"

namespace lum {

namespace {
// The one control that has the mouse, as the system keeps one.
TControl* g_captureControl = nullptr;

unsigned KeysOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    unsigned keys = 0;
    if (buttons & Qt::LeftButton) keys |= MK_LBUTTON;
    if (buttons & Qt::RightButton) keys |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton) keys |= MK_MBUTTON;
    if (modifiers & Qt::ShiftModifier) keys |= MK_SHIFT;
    if (modifiers & Qt::ControlModifier) keys |= MK_CONTROL;
    return keys;
}
} // namespace

TShiftState KeysToShiftState(unsigned keys) {
    TShiftState shift;
    if (keys & MK_SHIFT) shift.Include(ssShift);
    if (keys & MK_CONTROL) shift.Include(ssCtrl);
    if (keys & MK_LBUTTON) shift.Include(ssLeft);
    if (keys & MK_RBUTTON) shift.Include(ssRight);
    if (keys & MK_MBUTTON) shift.Include(ssMiddle);
    if (QGuiApplication::keyboardModifiers() & Qt::AltModifier) shift.Include(ssAlt);
    return shift;
}

platform::POINT GetCursorPos() {
    const QPoint p = QCursor::pos();
    return {p.x(), p.y()};
}

void SetCursorPos(int x, int y) {
    QCursor::setPos(x, y);
}

void CancelHint() {
    QToolTip::hideText();
}

// --- TControl ---

void TControl::SetShowHint(bool value) {
    if (FShowHint == value) return;
    FShowHint = value;
    if (!value && QToolTip::isVisible()) CancelHint();
    CMShowHintChanged();
}

bool TControl::GetMouseCapture() const {
    return g_captureControl == this;
}

void TControl::SetMouseCapture(bool value) {
    if (value) {
        if (g_captureControl && g_captureControl != this) g_captureControl->SetMouseCapture(false);
        g_captureControl = this;
        // The offscreen platform has no pointer to grab (and says so).
        if (isVisible() && QGuiApplication::platformName() != "offscreen") grabMouse();
    } else if (g_captureControl == this) {
        g_captureControl = nullptr;
        if (QWidget::mouseGrabber() == this) releaseMouse();
    }
}

void TControl::Perform(unsigned msg, unsigned keys, int x, int y) {
    TWMMouse m{msg, keys, x, y};
    switch (msg) {
    case WM_MOUSEMOVE:
        WMMouseMove(m);
        break;
    case WM_LBUTTONDOWN:
        WMLButtonDown(m);
        break;
    case WM_LBUTTONUP:
        WMLButtonUp(m);
        break;
    case WM_LBUTTONDBLCLK:
        WMLButtonDblClk(m);
        break;
    case WM_RBUTTONDOWN:
        WMRButtonDown(m);
        break;
    case WM_RBUTTONUP:
        WMRButtonUp(m);
        break;
    case WM_RBUTTONDBLCLK:
        WMRButtonDblClk(m);
        break;
    case WM_MBUTTONDOWN:
        WMMButtonDown(m);
        break;
    case WM_MBUTTONUP:
        WMMButtonUp(m);
        break;
    case WM_MBUTTONDBLCLK:
        WMMButtonDblClk(m);
        break;
    case WM_CANCELMODE:
        WMCancelMode();
        break;
    default:
        break;
    }
}

void TControl::DoMouseDown(const TWMMouse& message, TMouseButton button, TShiftState shift) {
    TShiftState s = KeysToShiftState(message.Keys);
    if (shift.Contains(ssDouble)) s.Include(ssDouble);
    MouseDown(button, s, message.XPos, message.YPos);
}

void TControl::DoMouseUp(const TWMMouse& message, TMouseButton button) {
    MouseUp(button, KeysToShiftState(message.Keys), message.XPos, message.YPos);
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TControl::MouseMove(TShiftState shift, int x, int y) {
    if (OnMouseMove) OnMouseMove(this, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}

void TControl::Click() {
    if (OnClick) OnClick(this);
}

void TControl::DblClick() {
    if (OnDblClick) OnDblClick(this);
}

void TControl::WMLButtonDown(TWMMouse& message) {
    SetMouseCapture(true);
    FClicked = true;
    DoMouseDown(message, mbLeft, {});
}

void TControl::WMLButtonUp(TWMMouse& message) {
    SetMouseCapture(false);
    if (FClicked) {
        FClicked = false;
        if (rect().contains(message.XPos, message.YPos)) Click();
    }
    DoMouseUp(message, mbLeft);
}

void TControl::WMLButtonDblClk(TWMMouse& message) {
    SetMouseCapture(true);
    DblClick();
    DoMouseDown(message, mbLeft, {ssDouble});
}

void TControl::WMRButtonDown(TWMMouse& message) {
    DoMouseDown(message, mbRight, {});
}

void TControl::WMRButtonUp(TWMMouse& message) {
    DoMouseUp(message, mbRight);
}

void TControl::WMRButtonDblClk(TWMMouse& message) {
    DoMouseDown(message, mbRight, {ssDouble});
}

void TControl::WMMButtonDown(TWMMouse& message) {
    DoMouseDown(message, mbMiddle, {});
}

void TControl::WMMButtonUp(TWMMouse& message) {
    DoMouseUp(message, mbMiddle);
}

void TControl::WMMButtonDblClk(TWMMouse& message) {
    DoMouseDown(message, mbMiddle, {ssDouble});
}

void TControl::WMMouseMove(TWMMouse& message) {
    MouseMove(KeysToShiftState(message.Keys), message.XPos, message.YPos);
}

void TControl::WMCancelMode() {
    FClicked = false;
    SetMouseCapture(false);
}

bool TControl::MouseEvent(QMouseEvent* event, bool down, bool doubleClick) {
    unsigned msg = 0;
    switch (event->button()) {
    case Qt::LeftButton:
        msg = doubleClick ? WM_LBUTTONDBLCLK : down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        break;
    case Qt::RightButton:
        msg = doubleClick ? WM_RBUTTONDBLCLK : down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        break;
    case Qt::MiddleButton:
        msg = doubleClick ? WM_MBUTTONDBLCLK : down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
        break;
    default:
        return false;
    }
    const QPoint p = event->position().toPoint();
    Perform(msg, KeysOf(event->buttons(), event->modifiers()), p.x(), p.y());
    event->accept();
    return true;
}

void TControl::mousePressEvent(QMouseEvent* event) {
    if (!MouseEvent(event, true, false)) QWidget::mousePressEvent(event);
}

void TControl::mouseReleaseEvent(QMouseEvent* event) {
    if (!MouseEvent(event, false, false)) QWidget::mouseReleaseEvent(event);
}

void TControl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!MouseEvent(event, true, true)) QWidget::mouseDoubleClickEvent(event);
}

void TControl::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    Perform(WM_MOUSEMOVE, KeysOf(event->buttons(), event->modifiers()), p.x(), p.y());
    event->accept();
}

} // namespace lum
