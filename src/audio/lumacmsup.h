// Conversions through the audio compression manager between any two
// formats. When no single stream does the job, the conversion chains
// several through intermediate PCM formats (44.1 kHz stereo PCM to 8 kHz
// GSM goes through 8 kHz mono PCM).
//
// A conversion (TACMConvert) is made by acmBeginConvert and used by one
// thread at a time: the caller puts up to SourceBlockSize bytes into
// SourceBuffer, calls acmDoConvert with their count and finds the result
// in OutputBuffer; at the end of the data acmEndConvert flushes what the
// codecs hold (call it again with 0 until it gives 0: output that did not
// fit waits in the stages); acmDoneConvert frees everything.
//
// Input a stage cannot use yet (less than one of its blocks) is kept and
// put in front of the next call's input, in a buffer of the stage's own
// that grows to hold it, so nothing is overrun and nothing is lost.
//
// Without the compression manager every function answers with its "not
// possible" value: false, none or -1.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/lumacm.h"
#include "audio/lumregs.h"

namespace lum {

// One stream of a conversion.
struct TACMStage {
    acm::HACMSTREAM Stream = nullptr;
    std::vector<BYTE> Input;    // the leftover, then the new input
    std::int32_t InputSize = 0; // the most new input one call brings
    std::vector<BYTE> Output;
    std::int32_t OutputSize = 0;
    std::int32_t Leftover = 0; // input bytes kept from the last call
    acm::ACMSTREAMHEADER Header{};
};

struct TACMConvert {
    BYTE* SourceBuffer = nullptr; // where the caller puts source bytes
    BYTE* OutputBuffer = nullptr; // the last stage's output (the source itself without stages)
    std::int32_t OutputSize = 0;
    std::int32_t SourceBlockSize = 0; // whole source blocks of the requested size
    std::int32_t BytesConverted = 0;  // produced by the last call
    bool DataPending = false;         // some stage kept input
    bool EndReached = false;          // a stage took input and gave nothing
    bool OwnsSourceBuffer = false;
    std::vector<std::unique_ptr<TACMStage>> Stages;
    std::vector<BYTE> OwnedSource;
};
using PACMConvert = TACMConvert*;

// False when either format is missing or both agree in tag, bits,
// channels and rate.
bool acmMustConvert(const TWaveFormatEx* a, const TWaveFormatEx* b);

// A PCM format for Fmt: PCM is copied (18 bytes, cbSize 0); otherwise the
// manager's PCM suggestion, when a stream from Fmt to it can be opened.
// False with Out zeroed when there is none.
bool acmSuggestPCMFormat(const TWaveFormatEx* fmt, TWaveFormatEx& out);
// The same with bits, channels and rate as constraints (<= 0: any). PCM
// that already has them stays as it is.
bool acmSuggestPCMFormatEx(const TWaveFormatEx* fmt, int bits, int channels, TWaveFormatEx& out,
                           std::int32_t rate);

// True when no conversion is needed or a chain from Src to Dst exists
// (asked, nothing opened). With a filter: when one stream from Src to Dst
// applies it.
bool acmQueryConvert(const TWaveFormatEx* src, const TWaveFormatEx* dst, bool realtime,
                     const acm::WAVEFILTER* filter = nullptr);

// The most bytes a direct stream from Src to Dst gives for SrcBytes; -1
// when there is no such stream.
std::int32_t acmSizeOutputData(const TWaveFormatEx* src, const TWaveFormatEx* dst,
                               std::int32_t srcBytes);

// A conversion for blocks of up to Size source bytes. Buffer, when given,
// is where the caller puts its bytes (it must hold Size); otherwise the
// conversion owns one. None when no chain exists or the manager is absent.
// With a filter the conversion is the one stream that applies it, also
// when Src and Dst are the same format.
PACMConvert acmBeginConvert(const TWaveFormatEx* src, const TWaveFormatEx* dst, void* buffer,
                            bool realtime, std::int32_t size,
                            const acm::WAVEFILTER* filter = nullptr);
// Converts N bytes from the source buffer; the bytes produced, -1 on a
// failure of the manager.
std::int32_t acmDoConvert(PACMConvert conv, std::int32_t n);
// The same, and flushes the codecs: the end of the data.
std::int32_t acmEndConvert(PACMConvert conv, std::int32_t n);
// Drops what the stages hold and starts the streams afresh.
bool acmFlushConvert(PACMConvert conv);
// Closes the streams, frees everything and sets Conv to none.
void acmDoneConvert(PACMConvert& conv);

} // namespace lum
