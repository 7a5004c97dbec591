// Audio streams of video files converted through the audio compression
// manager: the converter the video service uses when a save asks for an
// audio format other than PCM (ADPCM, GSM 6.10, a-law, mu-law, or PCM out
// of one of those). acmStartup installs it in the video service and
// acmShutdown takes it out again.
//
// The converted stream is read like any audio stream of fixed-size samples:
// one sample is one block of the new format, its length is that of the
// source (the last block filled out with silence), every block is a key
// frame. Reads that follow one another run the conversion on; a read
// elsewhere starts it again at the source block of that time.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/lumacm.h"
#include "audio/lumregs.h"
#include "platform/vfw/vfw.h"

namespace lum {

// A stream of Source's audio in Format (a wave format record of Size bytes,
// its extra bytes included). AVIERR_NOCOMPRESSOR when the manager is absent
// or has no conversion between the two formats. A source whose samples are
// chunks of any size (MP3 frames) is timed by its rate and read a chunk at
// a time. AVIERR_UNSUPPORTED for a target format whose blocks do not say how
// many frames they hold (MP3).
platform::HRESULT acmMakeAVIConversionStream(platform::vfw::PAVISTREAM* converted,
                                             platform::vfw::PAVISTREAM source, const void* format,
                                             platform::LONG size);

// The whole format record (extra bytes included) of Tag for audio of these
// channels and rate: PCM of Bits (8 or 16) built here, the others as the
// manager suggests them for 16-bit PCM. Empty when there is none.
std::vector<BYTE> acmTargetFormat(WORD tag, int bits, int channels, std::int32_t rate);

} // namespace lum
