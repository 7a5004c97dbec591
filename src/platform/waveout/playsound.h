// The simple sound player: plays one wave file, memory image or program
// resource at a time through the wave output service (the mapper's
// device), waiting for the end or not. A new sound stops the one playing
// unless SND_NOSTOP is given; a null sound stops whatever plays.
//
// When the sound cannot be played (missing, not a RIFF WAVE, a format no
// device plays) the default sound, a short beep, is played instead unless
// SND_NODEFAULT is given; the answer is then TRUE if the default sound
// played. Only PCM sounds play; compressed ones are refused.
#pragma once

#include "platform/base/wintypes.h"

namespace lum::platform::waveout {

constexpr UINT SND_SYNC = 0x0000;      // return when the sound ended
constexpr UINT SND_ASYNC = 0x0001;     // return once it plays
constexpr UINT SND_NODEFAULT = 0x0002; // no default sound when it cannot play
constexpr UINT SND_MEMORY = 0x0004;    // the sound is a RIFF WAVE image in memory
constexpr UINT SND_LOOP = 0x0008;      // repeat until stopped (with SND_ASYNC)
constexpr UINT SND_NOSTOP = 0x0010;    // FALSE instead of stopping a playing sound
constexpr UINT SND_PURGE = 0x0040;     // stop (the sound is ignored)
constexpr UINT SND_FILENAME = 0x00020000;
constexpr UINT SND_RESOURCE = 0x00040004; // a program resource of type "WAVE"

BOOL sndPlaySound(const char* sound, UINT flags);
// Module is accepted for the platform's signature; resources are the
// program's own.
BOOL PlaySound(const char* sound, void* module, DWORD flags);

// True while a sound plays (tests, and callers that wait for the end).
bool SoundPlaying();

} // namespace lum::platform::waveout
