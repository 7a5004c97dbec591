// Audio in another format on saving: the one place where the video service
// hands audio to the audio compression manager.
#pragma once

#include "platform/vfw/vfw.h"

namespace lum::platform::vfw {

// A stream whose samples are Source's audio converted to Format (a
// WAVEFORMATEX of Size bytes), read the way any audio stream is read. PCM
// to PCM of 8, 16 or 32 bits and 1 to 8 channels is converted here (mono
// to stereo copies the channel, stereo to mono averages the two); other
// formats go to the audio compression manager. AVIERR_NOCOMPRESSOR when no
// converter for the two formats exists.
HRESULT MakeAudioConversionStream(PAVISTREAM* converted, PAVISTREAM source, const void* format,
                                  LONG size);

} // namespace lum::platform::vfw
