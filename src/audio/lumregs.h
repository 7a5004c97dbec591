// The wave format records: the platform's published layouts, little-endian
// and packed, so they can be read from and written to files and registry
// values byte for byte. Formats travel as pointers to TWaveFormatEx; the
// cbSize bytes that follow the 18-byte record belong to the format.
#pragma once

#include <cstdint>

#include "platform/base/wintypes.h"

namespace lum {

using platform::BYTE;
using platform::DWORD;
using platform::FOURCC;
using platform::LONG;
using platform::WORD;

using TWaveFormat = platform::WAVEFORMAT;
using TPCMWaveFormat = platform::PCMWAVEFORMAT;
using TWaveFormatEx = platform::WAVEFORMATEX;
using PWaveFormatEx = TWaveFormatEx*;

#pragma pack(push, 1)
// One predictor of the platform's ADPCM.
struct TADPCMCoefSet {
    std::int16_t iCoef1;
    std::int16_t iCoef2;
};

// The platform's ADPCM format: the extra bytes of a tag-2 format hold the
// samples per block and wNumCoef coefficient pairs. aCoef is declared with
// one pair; a real format carries wNumCoef of them in cbSize.
struct TADPCMWaveFormat {
    TWaveFormatEx wfx;
    WORD wSamplesPerBlock;
    WORD wNumCoef;
    TADPCMCoefSet aCoef[1];
};
#pragma pack(pop)

static_assert(sizeof(TWaveFormatEx) == 18);
static_assert(sizeof(TPCMWaveFormat) == 16);
static_assert(sizeof(TADPCMWaveFormat) == 26);

using platform::WAVE_FORMAT_ADPCM;
using platform::WAVE_FORMAT_ALAW;
using platform::WAVE_FORMAT_GSM610;
using platform::WAVE_FORMAT_IMA_ADPCM;
using platform::WAVE_FORMAT_MPEGLAYER3;
using platform::WAVE_FORMAT_MULAW;
using platform::WAVE_FORMAT_PCM;

// The extra bytes of a format (its cbSize bytes after the 18-byte record).
inline BYTE* WaveFormatExtra(TWaveFormatEx* fmt) {
    return reinterpret_cast<BYTE*>(fmt) + sizeof(TWaveFormatEx);
}
inline const BYTE* WaveFormatExtra(const TWaveFormatEx* fmt) {
    return reinterpret_cast<const BYTE*>(fmt) + sizeof(TWaveFormatEx);
}

} // namespace lum
