// The toolkit roles the library's controls are built on, over Qt Widgets:
// a control with the properties the library reads (bounds, colour, font,
// caption, alignment in its parent, visibility, design state) and painting
// through the drawing service's canvas, plus the windowed, self-painted,
// panel and graphic roles. Only what the library's controls, dialogs and
// the application use is here.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "controls/mouse.h"
#include "core/lumobj.h"
#include "platform/gdi/canvas.h"

namespace lum::platform::ui {
class WidgetSurface;
}

namespace lum {

using platform::gdi::TCanvas;
using platform::gdi::TFont;

enum TAlign : std::uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };

// An event of a control; Sender is the control.
using TControlNotifyEvent = std::function<void(QWidget* sender)>;
using TMouseEvent =
    std::function<void(QWidget* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(QWidget* sender, TShiftState shift, int x, int y)>;

// Design-time state of any widget, forms included. A control made with a
// designing owner starts out designing.
bool IsDesigning(const QWidget* widget);
void SetWidgetDesigning(QWidget* widget, bool value);

// The system's default beep. Tests and headless runs install their own
// handler; an empty handler restores the toolkit's beep.
void MessageBeep();
void SetMessageBeepHandler(std::function<void()> handler);

// The class name of an object as the conversion error shows it ("TNumIO").
std::string ObjectClassName(const QObject* object);

// A font value as a Qt font and back (face resolved through the drawing
// service's substitutes; negative heights are character pixels).
QFont ToQFont(const TFont& font);
TFont FromQFont(const QFont& font);

// The control role. Paint draws on GetCanvas(), which during a paint is a
// canvas over the control's persistent back buffer; the buffer is then
// shown. Outside a paint, GetCanvas() and any context of the control's
// window (GetDC) draw into the same buffer, and what they touch shows at
// once without a new Paint. An opaque control (SetOpaque) paints its whole
// area; otherwise what it leaves unpainted shows the parent behind it.
//
// The mouse reaches a control as messages (mouse.h), each with a handler
// that descendants may override and that Perform calls too; the default
// handlers capture the mouse while the left button is down, click, and
// call MouseDown, MouseMove and MouseUp, which fire the On... events.
// Moves arrive also while no button is held.
class TControl : public QWidget {
public:
    explicit TControl(QWidget* owner = nullptr);
    ~TControl() override;

    int GetLeft() const { return x(); }
    int GetTop() const { return y(); }
    int GetWidth() const { return width(); }
    int GetHeight() const { return height(); }
    void SetLeft(int value) { SetBounds(value, y(), width(), height()); }
    void SetTop(int value) { SetBounds(x(), value, width(), height()); }
    void SetWidth(int value) { SetBounds(x(), y(), value, height()); }
    void SetHeight(int value) { SetBounds(x(), y(), width(), value); }
    void SetBounds(int left, int top, int width, int height);
    // (0, 0, Width, Height).
    TRect GetClientRect() const { return {0, 0, width(), height()}; }

    TColor GetColor() const { return FColor; }
    void SetColor(TColor value);
    const TFont& GetFont() const { return FFont; }
    // Gives the control a font of its own (ParentFont becomes false).
    void SetFont(const TFont& value);
    bool GetParentFont() const { return FParentFont; }
    void SetParentFont(bool value);
    const std::string& GetCaption() const { return FCaption; }
    void SetCaption(const std::string& value);
    TAlign GetAlign() const { return FAlign; }
    void SetAlign(TAlign value);
    bool GetVisible() const { return FVisible; }
    void SetVisible(bool value) { setVisible(value); }
    bool GetEnabled() const { return isEnabled(); }
    void SetEnabled(bool value) { setEnabled(value); }
    // A cursor number of the screen's table (0 the default, 2001 to 2031
    // the library's own).
    int GetCursor() const { return FCursor; }
    void SetCursor(int value);
    std::string GetHint() const;
    void SetHint(const std::string& value);
    // Whether the hint shows when the pointer rests on the control.
    bool GetShowHint() const { return FShowHint; }
    void SetShowHint(bool value);
    int GetTag() const { return FTag; }
    void SetTag(int value) { FTag = value; }
    QWidget* GetParent() const { return parentWidget(); }

    // Repaint later, repaint now.
    void Invalidate() { update(); }
    void Repaint() { repaint(); }
    void Refresh() { repaint(); }

    bool Designing() const { return IsDesigning(this); }

    TPoint ClientToScreen(TPoint p) const;
    TPoint ScreenToClient(TPoint p) const;

    // The paint canvas while painting; outside a paint a canvas on the
    // control's window context, whose drawing shows at once.
    TCanvas& GetCanvas();

    // Keeps the visible state apart from the design-time showing.
    void setVisible(bool visible) override;

    // Handles a mouse message (or WM_CANCELMODE) at once, as if the system
    // had sent it.
    void Perform(unsigned msg, unsigned keys, int x, int y);
    // The control that has the mouse gets every mouse message until it
    // lets it go.
    bool GetMouseCapture() const;
    void SetMouseCapture(bool value);

    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    TControlNotifyEvent OnClick;
    TControlNotifyEvent OnDblClick;

protected:
    virtual void Paint() {}
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void Click();
    virtual void DblClick();
    virtual void WMLButtonDown(TWMMouse& message);
    virtual void WMLButtonUp(TWMMouse& message);
    virtual void WMLButtonDblClk(TWMMouse& message);
    virtual void WMRButtonDown(TWMMouse& message);
    virtual void WMRButtonUp(TWMMouse& message);
    virtual void WMRButtonDblClk(TWMMouse& message);
    virtual void WMMButtonDown(TWMMouse& message);
    virtual void WMMButtonUp(TWMMouse& message);
    virtual void WMMButtonDblClk(TWMMouse& message);
    virtual void WMMouseMove(TWMMouse& message);
    // The control loses the mouse (its window is deactivated, it is hidden
    // or disabled): lets go of the capture.
    virtual void WMCancelMode();
    // After Cursor or ShowHint took a new value.
    virtual void CMCursorChanged() {}
    virtual void CMShowHintChanged() {}
    // The control paints its whole area.
    void SetOpaque(bool value);
    bool IsOpaque() const;
    void SetDesigning(bool value);
    // Shows the control when it is visible or being designed.
    void UpdateShowing();
    // Lets the parent place its aligned controls again.
    void RequestAlign();

    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void TakeParentFont();
    void DoMouseDown(const TWMMouse& message, TMouseButton button, TShiftState shift);
    void DoMouseUp(const TWMMouse& message, TMouseButton button);
    bool MouseEvent(QMouseEvent* event, bool down, bool doubleClick);

    TColor FColor = clBtnFace;
    TFont FFont;
    bool FParentFont = true;
    std::string FCaption;
    TAlign FAlign = alNone;
    bool FVisible = true;
    int FCursor = 0;
    bool FShowHint = true;
    bool FClicked = false;
    int FTag = 0;
    TCanvas* FPaintCanvas = nullptr;
    TCanvas FWindowCanvas;
    std::unique_ptr<platform::ui::WidgetSurface> FSurface;
};

// Places the aligned controls among Parent's children inside Rect: top,
// bottom, left and right ones in that order from the outside, each taking
// its strip, then the client ones in what remains.
void AlignChildControls(QWidget* parent, TRect rect);

// A windowed control: a parent that aligns its children (AlignControls)
// whenever it is resized or a child asks.
class TWinControl : public TControl {
public:
    using TControl::TControl;
    // Aligns the children within Rect, which it may shrink.
    virtual void AlignControls(TControl* control, TRect& rect);
    void Realign();

protected:
    void resizeEvent(QResizeEvent* event) override;
};

// A windowed control that paints itself.
class TCustomControl : public TWinControl {
public:
    using TWinControl::TWinControl;
};

// A panel: a self-painted container in button-face colour whose caption
// sits at its Alignment.
class TCustomPanel : public TCustomControl {
public:
    using TCustomControl::TCustomControl;
    TAlignment GetAlignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);

private:
    TAlignment FAlignment = taCenter;
};

// A control without children of its own that paints inside its parent.
class TGraphicControl : public TControl {
public:
    using TControl::TControl;
};

} // namespace lum
