// The screen's cursor table: cursor numbers to cursors. Negative numbers
// are the toolkit's standard shapes (crArrow -2 to crSizeAll -22), 0 the
// default; the library's own cursors 2001 to 2031 are added by
// RegisterLumCursors, which the application calls once at start-up.
#pragma once

#include <QCursor>

namespace lum {

constexpr int crDefault = 0;
constexpr int crNone = -1;
constexpr int crArrow = -2;
constexpr int crCross = -3;
constexpr int crIBeam = -4;
constexpr int crSizeNESW = -6;
constexpr int crSizeNS = -7;
constexpr int crSizeNWSE = -8;
constexpr int crSizeWE = -9;
constexpr int crUpArrow = -10;
constexpr int crHourGlass = -11;
constexpr int crDrag = -12;
constexpr int crNoDrop = -13;
constexpr int crHSplit = -14;
constexpr int crVSplit = -15;
constexpr int crMultiDrag = -16;
constexpr int crSQLWait = -17;
constexpr int crNo = -18;
constexpr int crAppStart = -19;
constexpr int crHelp = -20;
constexpr int crHandPoint = -21;
constexpr int crSizeAll = -22;

// Loads cursors 2001 to 2031 (LoadResCursor 1 to 31) and enters them
// under their numbers; a resource that cannot be read is left out.
// Returns how many were registered. Needs a QGuiApplication.
int RegisterLumCursors();

// The cursor entered under Index; the default arrow for an unknown index.
QCursor GetScreenCursor(int index);
bool HasScreenCursor(int index);
void SetScreenCursor(int index, const QCursor& cursor);

} // namespace lum
