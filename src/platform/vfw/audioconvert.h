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

// Makes a stream of Source's audio in Format (a WAVEFORMATEX of Size
// bytes), as MakeAudioConversionStream does; AVIERR_NOCOMPRESSOR when it
// has no converter for the two formats.
using AudioConverterFactory = HRESULT (*)(PAVISTREAM* converted, PAVISTREAM source,
                                          const void* format, LONG size);

// The audio compression manager is a module loaded above this service, so
// the layer that loads it installs its converter here (and null when it
// unloads the module). Conversions other than PCM to PCM go to it; with
// none installed they answer AVIERR_NOCOMPRESSOR. The previous one is
// returned.
AudioConverterFactory SetAudioConverterFactory(AudioConverterFactory factory);

} // namespace lum::platform::vfw
