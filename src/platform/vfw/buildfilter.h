// The file dialogs' filter for the video service's file handlers: one entry
// for every kind of file the service opens (or, when saving, writes), one
// that gathers them all, and one for all files.
#pragma once

#include "platform/base/wintypes.h"

namespace lum::platform::vfw {

// Writes the filter into Filter as zero-terminated description/pattern
// pairs ending with an extra zero:
//   "All multimedia files", then a handler's entry ("AVI files (*.avi)",
//   "*.avi") for each handler, then "All files (*.*)", "*.*".
// Saving lists only the handlers that write. AVIERR_BADPARAM without a
// buffer; AVIERR_BUFFERTOOSMALL (and an empty string) when Size characters
// do not hold the whole list.
HRESULT AVIBuildFilter(char* filter, LONG size, BOOL saving);

} // namespace lum::platform::vfw
