// Lumutils helpers that work on controls: converting points between two
// controls' client areas, and the rubber band and rubber line that marker
// and selection code draw while the mouse drags. Both drawings invert what
// lies under them, so drawing the same shape a second time takes it away.
#pragma once

#include <QObject>

#include "core/lumobj.h"

namespace lum {

// Point in Source's client coordinates, in Target's (by way of the screen).
TPoint ClientToClient(const QObject* target, const QObject* source, TPoint point);

// A dotted focus rectangle around Rect (Control's client coordinates, the
// corners in any order), drawn over the control's window.
void DrawRubberband(QObject* control, const TRect& rect);
// A white inverting line from Rect's top-left to its bottom-right point.
void DrawRubberLine(QObject* control, const TRect& rect);

} // namespace lum
