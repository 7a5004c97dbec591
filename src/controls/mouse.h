// The mouse as the control layer sees it: buttons, the shift state, the
// platform's mouse messages with their key flags, and the pointer and hint
// window of the screen. A control turns the toolkit's mouse events into
// these messages and handles them in overridable handlers (controls.h), so
// that a control can also send them to itself.
#pragma once

#include <cstdint>

#include "core/lumset.h"
#include "platform/base/wintypes.h"

namespace lum {

enum TMouseButton : std::uint8_t { mbLeft, mbRight, mbMiddle };

enum TShiftStateItem : std::uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
class TShiftState : public TSet<TShiftState, TShiftStateItem, std::uint8_t> {
public:
    using TSet::TSet;
};

// The mouse messages, by the platform's numbers.
constexpr unsigned WM_CANCELMODE = 0x001F;
constexpr unsigned WM_MOUSEMOVE = 0x0200;
constexpr unsigned WM_LBUTTONDOWN = 0x0201;
constexpr unsigned WM_LBUTTONUP = 0x0202;
constexpr unsigned WM_LBUTTONDBLCLK = 0x0203;
constexpr unsigned WM_RBUTTONDOWN = 0x0204;
constexpr unsigned WM_RBUTTONUP = 0x0205;
constexpr unsigned WM_RBUTTONDBLCLK = 0x0206;
constexpr unsigned WM_MBUTTONDOWN = 0x0207;
constexpr unsigned WM_MBUTTONUP = 0x0208;
constexpr unsigned WM_MBUTTONDBLCLK = 0x0209;

// The keys and buttons held, as a mouse message carries them.
constexpr unsigned MK_LBUTTON = 0x0001;
constexpr unsigned MK_RBUTTON = 0x0002;
constexpr unsigned MK_SHIFT = 0x0004;
constexpr unsigned MK_CONTROL = 0x0008;
constexpr unsigned MK_MBUTTON = 0x0010;

// One mouse message: the keys held after it and the position in the
// receiving control's client coordinates (which lie outside the control
// while it has the mouse captured).
struct TWMMouse {
    unsigned Msg = 0;
    unsigned Keys = 0;
    int XPos = 0;
    int YPos = 0;
};

// The shift state of message keys; Alt is read from the keyboard, since
// the keys do not carry it.
TShiftState KeysToShiftState(unsigned keys);

// The mouse pointer in screen coordinates. Moving it makes the toolkit
// report a mouse move to whatever lies under it (or has the mouse).
platform::POINT GetCursorPos();
void SetCursorPos(int x, int y);

// Closes the application's hint window, if one shows.
void CancelHint();

} // namespace lum
