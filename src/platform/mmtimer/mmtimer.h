// The multimedia timer: one-shot and periodic callbacks at millisecond
// grain, each timer on a thread of its own that follows a steady clock, so
// that a late callback does not shift the ones after it. Callbacks run on
// the timer's thread. After timeKillEvent returns (called from any other
// thread) the callback is not running and never runs again.
#pragma once

#include <cstdint>

#include "platform/base/wintypes.h"

namespace lum::platform::mmtimer {

using MMRESULT = UINT;
using DWORD_PTR = std::uintptr_t;
using LPTIMECALLBACK = void (*)(UINT timer_id, UINT msg, DWORD_PTR user, DWORD_PTR dw1,
                                DWORD_PTR dw2);

constexpr UINT TIME_ONESHOT = 0x0000;
constexpr UINT TIME_PERIODIC = 0x0001;
constexpr UINT TIME_CALLBACK_FUNCTION = 0x0000;
constexpr UINT TIME_KILL_SYNCHRONOUS = 0x0100;

constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT TIMERR_NOCANDO = 97;

// The delays and periods the service accepts, in milliseconds.
constexpr UINT kTimerPeriodMin = 1;
constexpr UINT kTimerPeriodMax = 1000000;

struct TIMECAPS {
    UINT wPeriodMin;
    UINT wPeriodMax;
};

// Starts a timer that calls Proc(id, 0, User, 0, 0) after Delay ms, and
// every Delay ms after that with TIME_PERIODIC. Resolution is accepted and
// ignored. Returns the timer's id, or 0 when Proc is null, Delay is outside
// kTimerPeriodMin..kTimerPeriodMax or no thread can be started.
UINT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK proc, DWORD_PTR user, UINT flags);

// Stops a timer; MMSYSERR_INVALPARAM for an unknown id. Called from the
// timer's own callback it only marks the timer stopped.
MMRESULT timeKillEvent(UINT timer_id);

// Accepted for compatibility: the steady clock needs no resolution request.
// TIMERR_NOCANDO for a period outside the accepted range.
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);

MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size);

} // namespace lum::platform::mmtimer
