// PCM support: conversion between 8- and 16-bit, mono and stereo PCM at any
// two rates, extremes for drawing a waveform, clipping and volume. Two
// layers, as the library has always had them: the fast routines with
// upper-case names work frame by frame and accept any 8/16-bit mono/stereo
// PCM format with a rate from 1 to 2^31 - 1 (else -1); the pcm functions
// check formats and dispatch to them.
//
// 8-bit samples are unsigned with silence at 128, 16-bit ones signed with
// silence at 0; stereo frames hold the left sample first. Every routine is
// re-entrant: state lives in locals, and the one shared flag, Overflow, is
// atomic. Source and destination buffers must not overlap.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/lumregs.h"

namespace lum {

// Set by the clipping and volume helpers whenever a value had to be
// clipped; nothing here resets it.
extern std::atomic<bool> Overflow;

// Unity volume of the volume helpers.
constexpr std::int32_t kPCMUnityVolume = 16384;

// ---------------------------------------------------------------------------
// Fast routines

// The most bytes PCMCONVERT writes from SrcBytes bytes: the source frames
// scaled by the rates, in 64-bit arithmetic. PCMCONVERT may write one
// destination frame more, so a buffer holds this plus one frame. -1 for a
// format that is not accepted or a size beyond 31 bits.
std::int32_t PCMCONVERTSIZEOUTPUTDATA(const TWaveFormatEx* dstFmt, const TWaveFormatEx* srcFmt,
                                      std::int32_t srcBytes);
// Converts bit depth, channels and rate in one pass (no interpolation: a
// rate change drops or repeats frames). Returns the bytes written, -1 for a
// format that is not accepted, SrcBytes itself when it is 0 or less.
std::int32_t PCMCONVERT(const TWaveFormatEx* dstFmt, void* dst, const TWaveFormatEx* srcFmt,
                        const void* src, std::int32_t srcBytes);
// The extreme samples of a block per channel, the earlier one first, for
// drawing a column from one to the other. 8-bit results are unsigned. For
// mono the second pair repeats the first; a block without a whole frame
// gives silence. -1 for a format that is not accepted.
int PCMFINDMINMAX(const TWaveFormatEx* fmt, const void* data, std::int32_t bytes,
                  std::int32_t& first1, std::int32_t& second1, std::int32_t& first2,
                  std::int32_t& second2);
// Volume in place; true when a sample was clipped.
bool PCMVOLUME8M(void* data, std::int32_t bytes, std::int32_t volume);
bool PCMVOLUME8S(void* data, std::int32_t bytes, std::int32_t left, std::int32_t right);
bool PCMVOLUME16M(void* data, std::int32_t bytes, std::int32_t volume);
bool PCMVOLUME16S(void* data, std::int32_t bytes, std::int32_t left, std::int32_t right);

// ---------------------------------------------------------------------------
// pcm functions

// PCM, 8 or 16 bits, 1 or 2 channels, 4000 to 100000 Hz.
bool pcmIsValidFormat(const TWaveFormatEx* fmt);
void pcmBuildWaveHeader(TWaveFormatEx* fmt, int bits, int channels, std::int32_t rate);
void pcmFillSilence(const TWaveFormatEx* fmt, void* data, std::int32_t bytes);
// Bit depth only (8 <-> 16); 16 to 8 truncates toward zero, unlike
// PCMCONVERT, which floors. Returns the bytes written, 0 for other depths.
std::int32_t pcmBitsPerSampleAlign(int dstBits, void* dst, int srcBits, const void* src,
                                   std::int32_t srcBytes);
std::int8_t pcmSampleClip8(std::int16_t value);
std::int16_t pcmSampleClip16(std::int32_t value);
std::uint8_t pcmSampleVolume8(std::uint8_t sample, std::int32_t volume);
std::int16_t pcmSampleVolume16(std::int16_t sample, std::int32_t volume);
// Applies Left (mono: the only) and Right volumes in place; false for
// non-PCM data and unity volumes, which leave the data alone; otherwise
// true when a sample was clipped.
bool pcmVolume(const TWaveFormatEx* fmt, void* data, std::int32_t bytes, std::int32_t left,
               std::int32_t right);

} // namespace lum
