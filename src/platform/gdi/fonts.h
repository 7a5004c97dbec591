// Font faces. The library names the faces of the original desktop ("MS
// Sans Serif", "ＭＳ Ｐゴシック"); a face that is not installed is drawn
// with the installed family its substitute names: the Japanese Gothic
// faces with IPA Gothic (fonts-ipafont-gothic), the others with DejaVu.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/wintypes.h"

namespace lum::platform::gdi {

// The substitute that the table names for Face (compared without case),
// or empty when it has none.
std::string FontSubstitute(std::string_view face);
// The installed family Face is drawn with: Face itself when installed,
// else its substitute, else a Japanese face for the Shift-JIS character
// set, else the desktop's general font. Needs a QGuiApplication; without
// one Face is returned unchanged.
std::string ResolveFontFamily(std::string_view face, BYTE charset);

} // namespace lum::platform::gdi
