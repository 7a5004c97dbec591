// Streaming IMA and DVI ADPCM without block headers: 4-bit codes, one byte
// per iteration, with the predictor state carried from call to call in a
// TIMA_PARAMS record. Decoders turn each source byte into two 16-bit
// samples (four bytes of output per source byte); encoders take 16-bit PCM
// and write one byte per two samples.
//
// The routines are re-entrant: all state lives in the caller's record and
// in locals. A record with an out-of-range step index is read as if the
// index were clamped to 0 ... 88, so garbage in a record cannot index past
// the tables.
#pragma once

#include <array>
#include <cstdint>

namespace lum {

// The state of one channel.
struct TIMA_CHANNEL {
    std::int16_t LastCode;  // the encoders apply it at the start of the next sample
    std::int16_t StepIndex; // 0 ... 88
    std::int16_t Predictor; // the current predicted sample
};

// Left (or only) channel first; mono routines use Channel[0] only. Zero it
// to start a stream.
struct TIMA_PARAMS {
    TIMA_CHANNEL Channel[2];
};

constexpr int kIMAStepCount = 89;

// The published IMA step table (7 ... 32767).
extern const std::array<std::int16_t, kIMAStepCount> IMAStepTable;
// The index adjustment by the code's three magnitude bits.
extern const std::array<std::int8_t, 8> IMAIndexTable;

// The decoding difference for a step index and a code's magnitude bits,
// from the IMA and the DVI tables (capped at 32767).
std::int16_t IMADifference(int stepIndex, int magnitude);
std::int16_t DVIDifference(int stepIndex, int magnitude);

// IMA to 16-bit PCM. Mono: per byte the high nibble first. Stereo: per
// byte the low nibble is left, the high nibble right. Return SrcBytes * 4.
std::int32_t WMIMATOPCM(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params);
std::int32_t WSIMATOPCM(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params);

// 16-bit PCM to IMA, in the layouts the decoders read (a stereo frame is
// one byte, left in the low nibble). Return SrcBytes div 4; a trailing
// sample that does not fill a byte is not encoded.
std::int32_t WMPCMTOIMA(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params);
std::int32_t WSPCMTOIMA(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params);

// DVI to 16-bit PCM. Mono: per byte the high nibble first. Stereo: bytes
// are taken in the order 1, 0, 3, 2, ... (each 16-bit word high byte
// first), per byte the high nibble left; a trailing odd byte is taken on
// its own. Return SrcBytes * 4.
std::int32_t WMDVITOPCM(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params);
std::int32_t WSDVITOPCM(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params);

// 16-bit PCM to DVI. Mono returns SrcBytes div 4. Stereo packs two frames
// per 16-bit word, the first in the high byte, and returns the bytes
// written; an odd last frame is encoded twice to fill its word.
std::int32_t WMPCMTODVI(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params);
std::int32_t WSPCMTODVI(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params);

} // namespace lum
