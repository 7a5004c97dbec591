// Shared timer events at a 25 ms grain. All events run off one periodic
// system timer that lives from the first LumTimeSetEvent to the kill of the
// last event. Each tick adds 25 ms to every event that is not suspended and
// calls its Proc when the event's interval has passed, so intervals are
// whole ticks in effect (10 ms fires every 25 ms, 30 ms every 50 ms).
//
// Procs run on the timer's thread while the event list is locked; the event
// operations take the same (recursive) lock, so they may be called from any
// thread and from inside a Proc, including killing the Proc's own event.
#pragma once

#include <cstdint>
#include <functional>

namespace lum {

struct TLumTimerEvent;
using TLumTimerHandle = TLumTimerEvent*;
using TLumTimerProc = std::function<void(TLumTimerHandle event, std::uintptr_t user)>;

constexpr std::int32_t kLumTimerGrain = 25;

// A new event of Max(Interval, 25) ms, suspended once when Suspended is
// set. Null when Proc is empty or the system timer cannot be started.
TLumTimerHandle LumTimeSetEvent(std::int32_t interval, bool suspended, TLumTimerProc proc,
                                std::uintptr_t user);
// A new interval (at least 25 ms), counted from now.
void LumTimeSetInterval(TLumTimerHandle event, std::int32_t interval);
// Suspensions nest: an event fires again only after as many resumes.
void LumTimeSuspendEvent(TLumTimerHandle event);
void LumTimeResumeEvent(TLumTimerHandle event);
// Frees the event; the last one stops the system timer. Unknown handles
// are ignored, as by the other operations.
void LumTimeKillEvent(TLumTimerHandle event);

} // namespace lum
