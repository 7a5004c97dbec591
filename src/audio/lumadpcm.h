// Block ADPCM of format tag 2 ("Microsoft ADPCM"): 4-bit codes in blocks,
// each block opening with a header of 7 bytes a channel (predictor index,
// initial step, the block's second and first samples), seven predictor
// coefficient pairs and an adaptive step. Also the decoder of format tag
// 0x11 ("IMA ADPCM"), whose blocks open with 4 bytes a channel (first
// sample, step index) and carry 4-byte groups of 8 codes a channel.
//
// Blocks start every nBlockAlign bytes. The decoders check the format
// before reading anything (samples per block must fit the block) and never
// read outside the input or past a block; a cut last block is decoded as
// far as it goes. Every routine is re-entrant.
//
// Output buffers: a decoder writes at most blocks x wSamplesPerBlock
// frames (blocks = srcBytes div nBlockAlign, plus one for a cut block); the
// encoder writes nBlockAlign bytes a block of wSamplesPerBlock frames
// (adpcmEncodedSize).
#pragma once

#include <cstdint>

#include "audio/lumregs.h"

namespace lum {

constexpr int kADPCMNumCoef = 7;
constexpr int kADPCMExtraBytes = 32; // cbSize of a tag-2 format: 4 + 7 pairs
constexpr int kADPCMFormatSize = 18 + kADPCMExtraBytes;

// The published predictor pairs and adaptation factors of the format.
extern const TADPCMCoefSet ADPCMCoefficients[kADPCMNumCoef];
extern const std::int16_t ADPCMAdaptation[16];

// Tag 2, 4 bits, 1 or 2 channels, cbSize of at least 32, wNumCoef 7 with
// the published pairs, and a block that holds its header and
// wSamplesPerBlock (at least 2) frames.
bool adpcmIsValidFormat(const TWaveFormatEx* fmt);

// From valid PCM (Src) builds the ADPCM format into Dst (room for
// kADPCMFormatSize bytes): block 256 x channels, times (rate div 11000)
// above 11025 Hz. From a valid ADPCM format builds PCM of Bits (16 when
// Bits <= 0). Channels and Rate <= 0 take the source's values. False for
// anything else.
bool adpcmBuildFormatHeader(const TWaveFormatEx* src, TWaveFormatEx* dst, int bits, int channels,
                            std::int32_t rate);

// Decodes whole blocks and a cut last block into 8- or 16-bit PCM of the
// format's channels; returns the bytes written. An invalid format, or a
// predictor index outside the table in any block, gives 0.
std::int32_t adpcmDecode4Bit(const TWaveFormatEx* adpcmFmt, const TWaveFormatEx* pcmFmt,
                             const void* src, std::int32_t srcBytes, void* dst);

// Encodes 8- or 16-bit PCM of the format's channels; each block takes the
// predictor pair with the least error for each channel. A short last block
// is filled up with its last frame, so every block is whole. Returns the
// bytes written; 0 for an invalid format or when the work buffer cannot
// be had.
std::int32_t adpcmEncode4Bit(const TWaveFormatEx* pcmFmt, const TWaveFormatEx* adpcmFmt,
                             const void* src, std::int32_t srcBytes, void* dst);

// The bytes adpcmEncode4Bit writes for Frames frames.
std::int32_t adpcmEncodedSize(const TWaveFormatEx* adpcmFmt, std::int32_t frames);
// The most bytes a decoder writes for SrcBytes of input (8- or 16-bit).
std::int32_t adpcmDecodedSize(const TWaveFormatEx* adpcmFmt, std::int32_t srcBytes, int bits);

// Tag 0x11, 4 bits, 1 or 2 channels, cbSize of at least 2, and
// wSamplesPerBlock (at least 1) frames that fit the block.
bool adpcmIMAIsValidFormat(const TWaveFormatEx* fmt);

// Decodes IMA ADPCM blocks into 8- or 16-bit PCM, 1 + 8 x ((spb - 1) div 8)
// frames a whole block. A block whose step index is beyond the table gives
// silence for that block. Returns the bytes written; 0 for an invalid
// format.
std::int32_t adpcmIMADecode4Bit(const TWaveFormatEx* imaFmt, const TWaveFormatEx* pcmFmt,
                                const void* src, std::int32_t srcBytes, void* dst);

} // namespace lum
