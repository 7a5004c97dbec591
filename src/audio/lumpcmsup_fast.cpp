// The fast PCM routines. A conversion is chosen once per call from the
// pair of source and destination kinds, so the frame loop runs with its
// reader and writer inlined and allocates nothing.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "audio/lumpcmsup.h"

namespace lum {

static_assert(std::endian::native == std::endian::little,
              "samples are read and written in the host's byte order");

namespace {

// A format's kind: bit 0 stereo, bit 1 16-bit samples.
enum Kind : int { k8M = 0, k8S = 1, k16M = 2, k16S = 3 };

constexpr int FrameBytes(int kind) {
    return (kind & 1 ? 2 : 1) * (kind & 2 ? 2 : 1);
}

// The kind of an accepted format, or -1.
int KindOf(const TWaveFormatEx* f) {
    if (f == nullptr || f->wFormatTag != WAVE_FORMAT_PCM) return -1;
    if (f->nChannels != 1 && f->nChannels != 2) return -1;
    if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return -1;
    if (f->nSamplesPerSec == 0 || f->nSamplesPerSec > INT32_MAX) return -1;
    return (f->nChannels == 2 ? 1 : 0) | (f->wBitsPerSample == 16 ? 2 : 0);
}

std::int16_t Load16(const std::uint8_t* p) {
    std::int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

void Store16(std::uint8_t* p, std::int32_t v) {
    const auto s = static_cast<std::int16_t>(v);
    std::memcpy(p, &s, 2);
}

// 8-bit to 16-bit: (b - 128) * 256.
std::int32_t Widen(std::uint32_t b) {
    return (static_cast<std::int32_t>(b) - 128) * 256;
}
// 16-bit to 8-bit for the converter: the high byte + 128, i.e. floored.
std::uint8_t Narrow(std::int32_t s) {
    return static_cast<std::uint8_t>((s >> 8) + 128);
}

// One destination frame: L alone for mono.
struct Frame {
    std::int32_t l;
    std::int32_t r;
};

// Reads one source frame of kind S as a frame of kind D.
template <int S, int D>
Frame Read(const std::uint8_t* p) {
    if constexpr (S == D) {
        if constexpr (S == k8M) return {p[0], 0};
        if constexpr (S == k8S) return {p[0], p[1]};
        if constexpr (S == k16M) return {Load16(p), 0};
        if constexpr (S == k16S) return {Load16(p), Load16(p + 2)};
    } else if constexpr (S == k8M) {
        if constexpr (D == k8S) return {p[0], p[0]};
        if constexpr (D == k16M) return {Widen(p[0]), 0};
        if constexpr (D == k16S) return {Widen(p[0]), Widen(p[0])};
    } else if constexpr (S == k8S) {
        const std::uint32_t mean = (std::uint32_t{p[0]} + p[1]) / 2;
        if constexpr (D == k8M) return {static_cast<std::int32_t>(mean), 0};
        if constexpr (D == k16M) return {Widen(mean), 0};
        if constexpr (D == k16S) return {Widen(p[0]), Widen(p[1])};
    } else if constexpr (S == k16M) {
        const std::int32_t s = Load16(p);
        if constexpr (D == k8M) return {Narrow(s), 0};
        if constexpr (D == k8S) return {Narrow(s), Narrow(s)};
        if constexpr (D == k16S) return {s, s};
    } else {
        const std::int32_t l = Load16(p);
        const std::int32_t r = Load16(p + 2);
        // The mean of the two as offset-binary values: a 17-bit sum halved.
        const std::int32_t mean = ((l + 32768) + (r + 32768)) / 2;
        if constexpr (D == k8M) return {mean >> 8, 0};
        if constexpr (D == k8S) return {Narrow(l), Narrow(r)};
        if constexpr (D == k16M) return {mean - 32768, 0};
    }
}

template <int D>
void Write(std::uint8_t* p, const Frame& f) {
    if constexpr (D == k8M) {
        p[0] = static_cast<std::uint8_t>(f.l);
    } else if constexpr (D == k8S) {
        p[0] = static_cast<std::uint8_t>(f.l);
        p[1] = static_cast<std::uint8_t>(f.r);
    } else if constexpr (D == k16M) {
        Store16(p, f.l);
    } else {
        Store16(p, f.l);
        Store16(p + 2, f.r);
    }
}

// The rate change is an accumulator in 64 bits: reducing, a frame is kept
// each time the destination rate has used up a source period (the first
// frame always); increasing, each frame is repeated until the source rate
// has used up a destination period. Equal rates copy every frame once.
template <int S, int D>
std::int64_t Convert(std::uint8_t* dst, const std::uint8_t* src, std::int64_t frames,
                     std::int64_t srcRate, std::int64_t dstRate) {
    constexpr int in = FrameBytes(S);
    constexpr int outBytes = FrameBytes(D);
    std::uint8_t* out = dst;
    if (srcRate > dstRate) {
        std::int64_t acc = srcRate / 2;
        for (std::int64_t i = 0; i < frames; ++i, src += in) {
            acc -= dstRate;
            if (acc <= 0) {
                Write<D>(out, Read<S, D>(src));
                out += outBytes;
                acc += srcRate;
            }
        }
    } else {
        std::int64_t acc = dstRate / 2;
        for (std::int64_t i = 0; i < frames; ++i, src += in) {
            const Frame f = Read<S, D>(src);
            do {
                Write<D>(out, f);
                out += outBytes;
                acc -= srcRate;
            } while (acc >= 0);
            acc += dstRate;
        }
    }
    return out - dst;
}

using ConvertFn = std::int64_t (*)(std::uint8_t*, const std::uint8_t*, std::int64_t, std::int64_t,
                                   std::int64_t);

template <int S>
constexpr ConvertFn Row(int d) {
    switch (d) {
    case k8M:
        return Convert<S, k8M>;
    case k8S:
        return Convert<S, k8S>;
    case k16M:
        return Convert<S, k16M>;
    default:
        return Convert<S, k16S>;
    }
}

ConvertFn Converter(int s, int d) {
    switch (s) {
    case k8M:
        return Row<k8M>(d);
    case k8S:
        return Row<k8S>(d);
    case k16M:
        return Row<k16M>(d);
    default:
        return Row<k16S>(d);
    }
}

// The output size in 64 bits, or -1 when it does not fit 31 bits.
std::int64_t OutputBytes(const TWaveFormatEx* dstFmt, int dstKind, const TWaveFormatEx* srcFmt,
                         int srcKind, std::int32_t srcBytes) {
    const std::int64_t frames = srcBytes / FrameBytes(srcKind);
    const std::int64_t dstFrames = frames * dstFmt->nSamplesPerSec / srcFmt->nSamplesPerSec;
    const std::int64_t bytes = dstFrames * FrameBytes(dstKind);
    return bytes > INT32_MAX ? -1 : bytes;
}

// Extremes of one channel, in the order in which they occurred.
struct Extremes {
    std::int32_t min;
    std::int32_t max;
    std::int64_t minAt = 0;
    std::int64_t maxAt = 0;

    void Add(std::int32_t v, std::int64_t at) {
        if (v < min) {
            min = v;
            minAt = at;
        }
        if (v > max) {
            max = v;
            maxAt = at;
        }
    }
    void Result(std::int32_t bias, std::int32_t& first, std::int32_t& second) const {
        const bool maxFirst = maxAt < minAt;
        first = (maxFirst ? max : min) + bias;
        second = (maxFirst ? min : max) + bias;
    }
};

bool Volume8(std::uint8_t& b, std::int32_t volume) {
    const std::int64_t v = static_cast<std::int64_t>(volume) * (b - 128);
    if (v > 0x1FFFFF) {
        b = 255;
        return true;
    }
    if (v < -0x200000) {
        b = 0;
        return true;
    }
    b = static_cast<std::uint8_t>((v >> 14) + 128);
    return false;
}

bool Volume16(std::uint8_t* p, std::int32_t volume) {
    const std::int64_t v = static_cast<std::int64_t>(volume) * Load16(p);
    if (v > 0x1FFFFFFF) {
        Store16(p, 32767);
        return true;
    }
    if (v < -0x20000000) {
        Store16(p, -32768);
        return true;
    }
    Store16(p, static_cast<std::int32_t>(v >> 14));
    return false;
}

bool Flag(bool clipped) {
    if (clipped) Overflow.store(true, std::memory_order_relaxed);
    return clipped;
}

} // namespace

std::int32_t PCMCONVERTSIZEOUTPUTDATA(const TWaveFormatEx* dstFmt, const TWaveFormatEx* srcFmt,
                                      std::int32_t srcBytes) {
    const int s = KindOf(srcFmt);
    const int d = KindOf(dstFmt);
    if (s < 0 || d < 0) return -1;
    if (srcBytes <= 0) return 0;
    return static_cast<std::int32_t>(OutputBytes(dstFmt, d, srcFmt, s, srcBytes));
}

std::int32_t PCMCONVERT(const TWaveFormatEx* dstFmt, void* dst, const TWaveFormatEx* srcFmt,
                        const void* src, std::int32_t srcBytes) {
    const int s = KindOf(srcFmt);
    const int d = KindOf(dstFmt);
    if (s < 0 || d < 0) return -1;
    if (srcBytes <= 0) return srcBytes;
    // No caller can have a buffer for an output beyond 31 bits.
    if (OutputBytes(dstFmt, d, srcFmt, s, srcBytes) < 0 || dst == nullptr || src == nullptr)
        return -1;
    const std::int64_t written =
        Converter(s, d)(static_cast<std::uint8_t*>(dst), static_cast<const std::uint8_t*>(src),
                        srcBytes / FrameBytes(s), srcFmt->nSamplesPerSec, dstFmt->nSamplesPerSec);
    return static_cast<std::int32_t>(std::min<std::int64_t>(written, INT32_MAX));
}

int PCMFINDMINMAX(const TWaveFormatEx* fmt, const void* data, std::int32_t bytes,
                  std::int32_t& first1, std::int32_t& second1, std::int32_t& first2,
                  std::int32_t& second2) {
    const int kind = KindOf(fmt);
    if (kind < 0) return -1;
    const bool wide = (kind & 2) != 0;
    const bool stereo = (kind & 1) != 0;
    const std::int64_t frames = data == nullptr || bytes <= 0 ? 0 : bytes / FrameBytes(kind);
    if (frames == 0) {
        first1 = second1 = first2 = second2 = wide ? 0 : 128;
        return 0;
    }
    // The maximum starts one above the lowest value, as it always has: a
    // block of nothing but the lowest value reports it and that plus one.
    const std::int32_t top = wide ? 32767 : 127;
    Extremes left{top, -top};
    Extremes right{top, -top};
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::int64_t i = 0; i < frames; ++i) {
        if (wide) {
            left.Add(Load16(p), i);
            if (stereo) right.Add(Load16(p + 2), i);
        } else {
            left.Add(p[0] - 128, i);
            if (stereo) right.Add(p[1] - 128, i);
        }
        p += FrameBytes(kind);
    }
    const std::int32_t bias = wide ? 0 : 128;
    left.Result(bias, first1, second1);
    if (stereo) {
        right.Result(bias, first2, second2);
    } else {
        first2 = first1;
        second2 = second1;
    }
    return 0;
}

bool PCMVOLUME8M(void* data, std::int32_t bytes, std::int32_t volume) {
    auto* p = static_cast<std::uint8_t*>(data);
    bool clipped = false;
    for (std::int32_t i = 0; i < bytes; ++i)
        clipped |= Volume8(p[i], volume);
    return Flag(clipped);
}

bool PCMVOLUME8S(void* data, std::int32_t bytes, std::int32_t left, std::int32_t right) {
    auto* p = static_cast<std::uint8_t*>(data);
    bool clipped = false;
    for (std::int32_t i = 0; i + 1 < bytes; i += 2) {
        clipped |= Volume8(p[i], left);
        clipped |= Volume8(p[i + 1], right);
    }
    return Flag(clipped);
}

bool PCMVOLUME16M(void* data, std::int32_t bytes, std::int32_t volume) {
    auto* p = static_cast<std::uint8_t*>(data);
    bool clipped = false;
    for (std::int32_t i = 0; i + 1 < bytes; i += 2)
        clipped |= Volume16(p + i, volume);
    return Flag(clipped);
}

bool PCMVOLUME16S(void* data, std::int32_t bytes, std::int32_t left, std::int32_t right) {
    auto* p = static_cast<std::uint8_t*>(data);
    bool clipped = false;
    for (std::int32_t i = 0; i + 3 < bytes; i += 4) {
        clipped |= Volume16(p + i, left);
        clipped |= Volume16(p + i + 2, right);
    }
    return Flag(clipped);
}

} // namespace lum
