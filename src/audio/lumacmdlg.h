// Format records for common compressed formats, readable descriptions of
// formats and filters, and formats kept in the registry. The builders
// return new global-heap blocks (free them with GlobalFreeMem), or none.
// Descriptions come from the compression manager and fall back to the wave
// layer's names when it is absent or does not know a format.
#pragma once

#include <cstdint>
#include <string>

#include "audio/lumacm.h"
#include "audio/lumregs.h"
#include "core/lumutils.h"

namespace lum {

// DSP Group TrueSpeech: tag 34, mono, 8000 Hz, 1067 bytes a second.
TWaveFormatEx* acmBuildTrueSpeechHeader();
// GSM 6.10: tag 49, mono, blocks of 65 bytes holding 320 samples, and a
// byte rate of Rate x 65 div 320 (1625 at 8000 Hz). None for Rate <= 0.
TWaveFormatEx* acmBuildGSM610Header(std::int32_t rate);
// The tag-2 ADPCM format of adpcmBuildFormatHeader; none for a rate or
// channel count PCM cannot have.
TWaveFormatEx* acmBuildADPCMHeader(std::int32_t rate, int channels);
// MPEG-1 layer 2: Bitrate is bits a second a channel.
TWaveFormatEx* acmBuildMPEG1Header(std::int32_t rate, std::int32_t bitrate, int channels);
// MPEG layer 3: Bitrate is bits a second in all.
TWaveFormatEx* acmBuildMP3Header(std::int32_t rate, std::int32_t bitrate, int channels);
// Layer 2 or 3; none for other layers.
TWaveFormatEx* acmBuildMPEGHeader(int layer, std::int32_t rate, std::int32_t bitrate, int channels);

// The format's tag name and description. False only for a missing format.
bool acmGetFormatDescription(const TWaveFormatEx* fmt, std::string& tagName,
                             std::string& description);
// The filter's tag name and description; "Unknown FilterTag" and "Unknown
// Filter" when the manager does not know it.
bool acmGetFilterDescription(const acm::WAVEFILTER* filter, std::string& tagName,
                             std::string& description);

// The largest format record kept in the registry.
constexpr std::int32_t kACMMaxStoredFormat = 1025;

// Stores Fmt (wioSizeOfWaveFormat bytes) as a binary value. False when it
// could not be written.
bool acmSaveFormatToRegistry(const TWaveFormatEx* fmt, HKEY root, const std::string& key,
                             const std::string& value);
// A copy of the stored format, or none when the value is missing, is not
// binary, is shorter than 18 bytes or longer than 1025, or holds a format
// that claims more extra bytes than were stored.
TWaveFormatEx* acmGetFormatFromRegistry(HKEY root, const std::string& key,
                                        const std::string& value);

} // namespace lum
