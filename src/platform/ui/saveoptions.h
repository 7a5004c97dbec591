// The compression options dialog of the video service (AVISaveOptions).
// This header is toolkit-neutral, so the library can ask for the dialog;
// the dialog itself is Qt widgets (saveoptions_dialog.h).
#pragma once

#include "platform/vfw/savev.h"

class QWidget;

namespace lum::platform::vfw {

// Shows the options of Count streams, one record each, over Parent (null:
// no parent). Flags are ICMF_CHOOSE_KEYFRAME, ICMF_CHOOSE_DATARATE and
// ICMF_CHOOSE_PREVIEW: which choices beyond the compressor and its quality
// the dialog offers. TRUE when the user confirmed, the records then hold
// the choices; FALSE when cancelled (the records as they were), and also
// when the program has no widgets to show a dialog with (the command line).
BOOL AVISaveOptions(QWidget* parent, UINT flags, int count, PAVISTREAM* streams,
                    AVICOMPRESSOPTIONS** options);

} // namespace lum::platform::vfw
