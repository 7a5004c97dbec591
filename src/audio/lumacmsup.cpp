#include "audio/lumacmsup.h"

#include <algorithm>
#include <cstring>

namespace lum {

using namespace platform::acm;

namespace {

constexpr int kMaxStages = 6;

bool IsPcm(const TWaveFormatEx* f) {
    return f != nullptr && f->wFormatTag == WAVE_FORMAT_PCM;
}

DWORD OpenFlags(bool realtime) {
    return realtime ? 0 : ACM_STREAMOPENF_NONREALTIME;
}

bool CanOpen(const TWaveFormatEx* src, const TWaveFormatEx* dst, bool realtime,
             const acm::WAVEFILTER* filter = nullptr) {
    return acmStreamOpen(nullptr, nullptr, src, dst, const_cast<acm::WAVEFILTER*>(filter), 0, 0,
                         OpenFlags(realtime) | ACM_STREAMOPENF_QUERY) == MMSYSERR_NOERROR;
}

// A PCM suggestion for Src under the given constraints (<= 0: free).
bool SuggestPcm(const TWaveFormatEx* src, int bits, int channels, std::int32_t rate,
                TWaveFormatEx& out) {
    TWaveFormatEx s{};
    s.wFormatTag = WAVE_FORMAT_PCM;
    DWORD flags = ACM_FORMATSUGGESTF_WFORMATTAG;
    if (bits > 0) {
        s.wBitsPerSample = static_cast<WORD>(bits);
        flags |= ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
    }
    if (channels > 0) {
        s.nChannels = static_cast<WORD>(channels);
        flags |= ACM_FORMATSUGGESTF_NCHANNELS;
    }
    if (rate > 0) {
        s.nSamplesPerSec = static_cast<DWORD>(rate);
        flags |= ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
    }
    if (acmFormatSuggest(nullptr, src, &s, sizeof s, flags) != MMSYSERR_NOERROR ||
        s.wFormatTag != WAVE_FORMAT_PCM)
        return false;
    s.cbSize = 0;
    out = s;
    return true;
}

void RestoreLengths(TACMStage& s) {
    s.Header.cbSrcLength = static_cast<DWORD>(s.Input.size());
    s.Header.cbDstLength = static_cast<DWORD>(s.OutputSize);
}

bool Prepare(TACMStage& s) {
    s.Header = {};
    s.Header.cbStruct = sizeof(ACMSTREAMHEADER);
    s.Header.pbSrc = s.Input.data();
    s.Header.pbDst = s.Output.data();
    RestoreLengths(s);
    return acmStreamPrepareHeader(s.Stream, &s.Header, 0) == MMSYSERR_NOERROR;
}

void Unprepare(TACMStage& s) {
    if (s.Header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) {
        RestoreLengths(s);
        acmStreamUnprepareHeader(s.Stream, &s.Header, 0);
    }
}

// Sizes the stage for Capacity bytes of input (leftover included).
bool Size(TACMStage& s, std::size_t capacity) {
    DWORD out = 0;
    if (capacity > 0x7FFFFFFF ||
        acmStreamSize(s.Stream, static_cast<DWORD>(capacity), &out, ACM_STREAMSIZEF_SOURCE) !=
            MMSYSERR_NOERROR ||
        out > 0x7FFFFFFF)
        return false;
    s.Input.resize(capacity);
    s.Output.resize(std::max<DWORD>(out, 1));
    s.OutputSize = static_cast<std::int32_t>(out);
    return true;
}

bool AddStage(TACMConvert& conv, const TWaveFormatEx* src, const TWaveFormatEx* dst, bool realtime,
              const acm::WAVEFILTER* filter = nullptr) {
    auto stage = std::make_unique<TACMStage>();
    if (acmStreamOpen(&stage->Stream, nullptr, src, dst, const_cast<acm::WAVEFILTER*>(filter), 0, 0,
                      OpenFlags(realtime)) != MMSYSERR_NOERROR)
        return false;
    // Room for the new input and what a stage may keep of the last.
    stage->InputSize = conv.Stages.empty() ? conv.SourceBlockSize : conv.Stages.back()->OutputSize;
    const std::size_t capacity = 2 * static_cast<std::size_t>(stage->InputSize) + 4096;
    const bool ok = Size(*stage, capacity) && Prepare(*stage);
    if (!ok) {
        acmStreamClose(stage->Stream, 0);
        return false;
    }
    conv.OutputBuffer = stage->Output.data();
    conv.OutputSize = stage->OutputSize;
    conv.Stages.push_back(std::move(stage));
    return true;
}

// The chain from Src to Dst, stage by stage; with Conv null only asked.
bool Build(TACMConvert* conv, const TWaveFormatEx* src, const TWaveFormatEx* dst, bool realtime,
           int depth) {
    if (!acmMustConvert(src, dst)) return true;
    if (depth >= kMaxStages) return false;
    if (CanOpen(src, dst, realtime)) return conv == nullptr || AddStage(*conv, src, dst, realtime);
    TWaveFormatEx m{};
    if (IsPcm(src)) {
        // PCM of the target's channels and rate, in this sample size or
        // else the other one.
        const int bits = src->wBitsPerSample;
        const int other = bits == 8 ? 16 : 8;
        bool found = false;
        for (int b : {bits, other}) {
            if (!SuggestPcm(src, b, dst->nChannels, static_cast<std::int32_t>(dst->nSamplesPerSec),
                            m) ||
                !acmMustConvert(src, &m))
                continue;
            found = true;
            if (CanOpen(&m, dst, realtime)) break;
        }
        if (!found) return false;
    } else if (!SuggestPcm(src, 0, dst->nChannels, static_cast<std::int32_t>(dst->nSamplesPerSec),
                           m) &&
               !SuggestPcm(src, 0, 0, 0, m)) {
        return false;
    }
    if (!CanOpen(src, &m, realtime)) return false;
    if (conv && !AddStage(*conv, src, &m, realtime)) return false;
    return Build(conv, &m, dst, realtime, depth + 1);
}

// Runs one stage over Len new bytes; the bytes it produced, or -1.
std::int32_t RunStage(TACMConvert& conv, TACMStage& s, const BYTE* data, std::int32_t len,
                      bool end) {
    const std::size_t need = static_cast<std::size_t>(s.Leftover) + static_cast<std::size_t>(len);
    if (need > s.Input.size()) {
        Unprepare(s);
        if (!Size(s, 2 * need) || !Prepare(s)) return -1;
    }
    if (len > 0) std::memcpy(s.Input.data() + s.Leftover, data, static_cast<std::size_t>(len));
    s.Header.cbSrcLength = static_cast<DWORD>(need);
    s.Header.cbDstLength = static_cast<DWORD>(s.OutputSize);
    s.Header.cbSrcLengthUsed = s.Header.cbDstLengthUsed = 0;
    const DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN | (end ? ACM_STREAMCONVERTF_END : 0);
    const MMRESULT r = acmStreamConvert(s.Stream, &s.Header, flags);
    // The manager converts before it returns; a header not done failed.
    const bool done = s.Header.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE;
    const DWORD used = std::min<DWORD>(s.Header.cbSrcLengthUsed, static_cast<DWORD>(need));
    const DWORD produced =
        std::min<DWORD>(s.Header.cbDstLengthUsed, static_cast<DWORD>(s.OutputSize));
    RestoreLengths(s);
    if (r != MMSYSERR_NOERROR || !done) return -1;
    // What the stream did not take comes first next time.
    const std::size_t left = need - used;
    if (left && used) std::memmove(s.Input.data(), s.Input.data() + used, left);
    s.Leftover = static_cast<std::int32_t>(left);
    if (used > 0 && produced == 0) conv.EndReached = true;
    return static_cast<std::int32_t>(produced);
}

std::int32_t Run(PACMConvert conv, std::int32_t n, bool end) {
    if (conv == nullptr) return -1;
    n = std::clamp(n, 0, conv->SourceBlockSize);
    if (conv->Stages.empty()) {
        conv->BytesConverted = n;
        return n;
    }
    const BYTE* data = conv->SourceBuffer;
    std::int32_t len = n;
    // A stage hears the end only once the stage before it has given all.
    bool flush = end;
    for (auto& stage : conv->Stages) {
        const std::int32_t produced = RunStage(*conv, *stage, data, len, flush);
        if (produced < 0) return -1;
        flush = flush && produced < stage->OutputSize;
        data = stage->Output.data();
        len = produced;
    }
    conv->OutputBuffer = conv->Stages.back()->Output.data();
    conv->OutputSize = conv->Stages.back()->OutputSize;
    conv->DataPending = std::any_of(conv->Stages.begin(), conv->Stages.end(),
                                    [](const auto& s) { return s->Leftover > 0; });
    conv->BytesConverted = len;
    return len;
}

} // namespace

bool acmMustConvert(const TWaveFormatEx* a, const TWaveFormatEx* b) {
    if (a == nullptr || b == nullptr) return false;
    return a->wFormatTag != b->wFormatTag || a->wBitsPerSample != b->wBitsPerSample ||
           a->nChannels != b->nChannels || a->nSamplesPerSec != b->nSamplesPerSec;
}

bool acmSuggestPCMFormat(const TWaveFormatEx* fmt, TWaveFormatEx& out) {
    out = {};
    if (fmt == nullptr) return false;
    if (IsPcm(fmt)) {
        std::memcpy(&out, fmt, sizeof out);
        out.cbSize = 0;
        return true;
    }
    if (!acmIsUsable()) return false;
    TWaveFormatEx s{};
    if (!SuggestPcm(fmt, 0, 0, 0, s) || !CanOpen(fmt, &s, false)) return false;
    out = s;
    return true;
}

bool acmSuggestPCMFormatEx(const TWaveFormatEx* fmt, int bits, int channels, TWaveFormatEx& out,
                           std::int32_t rate) {
    out = {};
    if (fmt == nullptr) return false;
    // The copy has no extra bytes, so it claims none.
    std::memcpy(&out, fmt, sizeof out);
    out.cbSize = 0;
    if (IsPcm(fmt) && (bits <= 0 || fmt->wBitsPerSample == bits) &&
        (channels <= 0 || fmt->nChannels == channels) &&
        (rate <= 0 || fmt->nSamplesPerSec == static_cast<DWORD>(rate)))
        return true;
    if (!acmIsUsable()) return false;
    TWaveFormatEx s{};
    if (!SuggestPcm(fmt, bits, channels, rate, s) || !CanOpen(fmt, &s, false)) return false;
    out = s;
    return true;
}

bool acmQueryConvert(const TWaveFormatEx* src, const TWaveFormatEx* dst, bool realtime,
                     const acm::WAVEFILTER* filter) {
    if (!acmIsUsable() || src == nullptr || dst == nullptr) return false;
    if (filter != nullptr) return CanOpen(src, dst, realtime, filter);
    return Build(nullptr, src, dst, realtime, 0);
}

std::int32_t acmSizeOutputData(const TWaveFormatEx* src, const TWaveFormatEx* dst,
                               std::int32_t srcBytes) {
    if (!acmIsUsable() || src == nullptr || dst == nullptr || srcBytes < 0) return -1;
    HACMSTREAM stream = nullptr;
    if (acmStreamOpen(&stream, nullptr, src, dst, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) !=
        MMSYSERR_NOERROR)
        return -1;
    DWORD out = 0;
    const MMRESULT r =
        acmStreamSize(stream, static_cast<DWORD>(srcBytes), &out, ACM_STREAMSIZEF_SOURCE);
    acmStreamClose(stream, 0);
    return r == MMSYSERR_NOERROR && out <= 0x7FFFFFFF ? static_cast<std::int32_t>(out) : -1;
}

PACMConvert acmBeginConvert(const TWaveFormatEx* src, const TWaveFormatEx* dst, void* buffer,
                            bool realtime, std::int32_t size, const acm::WAVEFILTER* filter) {
    if (!acmIsUsable() || src == nullptr || dst == nullptr || src->nBlockAlign == 0 || size < 0)
        return nullptr;
    auto* conv = new TACMConvert;
    conv->SourceBlockSize = src->nBlockAlign * (size / src->nBlockAlign);
    if (buffer) {
        conv->SourceBuffer = static_cast<BYTE*>(buffer);
    } else {
        conv->OwnedSource.resize(std::max<std::size_t>(4 * std::size_t(conv->SourceBlockSize), 1));
        conv->SourceBuffer = conv->OwnedSource.data();
        conv->OwnsSourceBuffer = true;
    }
    conv->OutputBuffer = conv->SourceBuffer;
    conv->OutputSize = conv->SourceBlockSize;
    // A filter works on one stream of a format into itself; nothing chains.
    const bool built = filter != nullptr ? AddStage(*conv, src, dst, realtime, filter)
                                         : Build(conv, src, dst, realtime, 0);
    if (!built) {
        acmDoneConvert(conv);
        return nullptr;
    }
    return conv;
}

std::int32_t acmDoConvert(PACMConvert conv, std::int32_t n) {
    return Run(conv, n, false);
}

std::int32_t acmEndConvert(PACMConvert conv, std::int32_t n) {
    return Run(conv, n, true);
}

bool acmFlushConvert(PACMConvert conv) {
    if (conv == nullptr) return false;
    bool ok = true;
    for (auto& s : conv->Stages) {
        s->Leftover = 0;
        s->Header.cbSrcLength = 0;
        s->Header.cbDstLength = static_cast<DWORD>(s->OutputSize);
        ok = acmStreamConvert(s->Stream, &s->Header,
                              ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END) ==
                 MMSYSERR_NOERROR &&
             ok;
        RestoreLengths(*s);
    }
    conv->DataPending = false;
    conv->EndReached = false;
    conv->BytesConverted = 0;
    return ok;
}

void acmDoneConvert(PACMConvert& conv) {
    if (conv == nullptr) return;
    for (auto it = conv->Stages.rbegin(); it != conv->Stages.rend(); ++it) {
        Unprepare(**it);
        if (acmStreamClose) acmStreamClose((*it)->Stream, 0);
    }
    delete conv;
    conv = nullptr;
}

} // namespace lum
