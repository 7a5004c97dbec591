#include "audio/lumantex.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace lum {

constexpr std::array<std::int16_t, kIMAStepCount> IMAStepTable = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr std::array<std::int8_t, 8> IMAIndexTable = {-1, -1, -1, -1, 2, 4, 6, 8};

namespace {

using DiffTable = std::array<std::int16_t, kIMAStepCount * 8>;

// floor((2m + 1) * step / 8), capped at 32767.
constexpr DiffTable MakeDVITable() {
    DiffTable t{};
    for (int i = 0; i < kIMAStepCount; ++i)
        for (int m = 0; m < 8; ++m)
            t[i * 8 + m] =
                static_cast<std::int16_t>(std::min((2 * m + 1) * IMAStepTable[i] / 8, 32767));
    return t;
}

// The IMA table is built the same way; its first row (step 7) is the one
// the IMA codec has always used, which rounds up where DVI rounds down.
constexpr DiffTable MakeIMATable() {
    DiffTable t = MakeDVITable();
    const std::int16_t row7[8] = {0, 2, 4, 6, 8, 10, 12, 13};
    for (int m = 0; m < 8; ++m)
        t[m] = row7[m];
    return t;
}

constexpr DiffTable kDVITable = MakeDVITable();
constexpr DiffTable kIMATable = MakeIMATable();

static_assert(kDVITable[0 * 8 + 4] == 7 && kIMATable[0 * 8 + 4] == 8);
static_assert(kDVITable[1 * 8 + 7] == 15 && kIMATable[1 * 8 + 7] == 15);

// One channel's state while a routine runs.
struct Channel {
    int index;
    int predictor;
    int lastCode;

    explicit Channel(const TIMA_CHANNEL& c)
        : index(std::clamp<int>(c.StepIndex, 0, kIMAStepCount - 1)), predictor(c.Predictor),
          lastCode(c.LastCode & 15) {}

    void Store(TIMA_CHANNEL& c) const {
        c.StepIndex = static_cast<std::int16_t>(index);
        c.Predictor = static_cast<std::int16_t>(predictor);
        c.LastCode = static_cast<std::int16_t>(lastCode);
    }

    std::int16_t Decode(int code, const DiffTable& table) {
        int d = table[static_cast<std::size_t>(index * 8 + (code & 7))];
        if (code & 8) d = -d;
        predictor = std::clamp(predictor + d, -32768, 32767);
        index = std::clamp(index + IMAIndexTable[code & 7], 0, kIMAStepCount - 1);
        return static_cast<std::int16_t>(predictor);
    }

    // The code for Sample; the pending code is applied first, the new one
    // at the next sample. The difference is taken in 32 bits, so a jump
    // across the whole range does not wrap and step the wrong way.
    int Encode(int sample, const DiffTable& table) {
        Decode(lastCode, table);
        const int diff = sample - predictor;
        int step = IMAStepTable[index];
        int code = diff < 0 ? 8 : 0;
        int m = diff < 0 ? -diff : diff; // at most 65535
        if (m >= step) {
            code |= 4;
            m -= step;
        }
        step >>= 1;
        if (m >= step) {
            code |= 2;
            m -= step;
        }
        step >>= 1;
        if (m >= step) code |= 1;
        lastCode = code;
        return code;
    }
};

inline std::int16_t Sample(const std::uint8_t* p) {
    std::int16_t s;
    std::memcpy(&s, p, 2);
    return s;
}

inline void Put(std::uint8_t*& p, std::int16_t s) {
    std::memcpy(p, &s, 2);
    p += 2;
}

std::int32_t DecodeMono(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params,
                        const DiffTable& table) {
    if (srcBytes <= 0) return 0;
    Channel c(params.Channel[0]);
    const auto* in = static_cast<const std::uint8_t*>(src);
    auto* out = static_cast<std::uint8_t*>(dst);
    for (std::int32_t i = 0; i < srcBytes; ++i) {
        const int b = in[i];
        Put(out, c.Decode(b >> 4, table));
        Put(out, c.Decode(b & 15, table));
    }
    c.Store(params.Channel[0]);
    return srcBytes * 4;
}

std::int32_t EncodeMono(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params,
                        const DiffTable& table) {
    const std::int32_t n = srcBytes > 0 ? srcBytes / 4 : 0;
    Channel c(params.Channel[0]);
    const auto* in = static_cast<const std::uint8_t*>(src);
    auto* out = static_cast<std::uint8_t*>(dst);
    for (std::int32_t i = 0; i < n; ++i, in += 4) {
        const int high = c.Encode(Sample(in), table);
        const int low = c.Encode(Sample(in + 2), table);
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    c.Store(params.Channel[0]);
    return n;
}

} // namespace

std::int16_t IMADifference(int stepIndex, int magnitude) {
    return kIMATable[static_cast<std::size_t>(std::clamp(stepIndex, 0, kIMAStepCount - 1) * 8 +
                                              (magnitude & 7))];
}

std::int16_t DVIDifference(int stepIndex, int magnitude) {
    return kDVITable[static_cast<std::size_t>(std::clamp(stepIndex, 0, kIMAStepCount - 1) * 8 +
                                              (magnitude & 7))];
}

std::int32_t WMIMATOPCM(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params) {
    return DecodeMono(src, dst, srcBytes, params, kIMATable);
}

std::int32_t WMDVITOPCM(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params) {
    return DecodeMono(src, dst, srcBytes, params, kDVITable);
}

std::int32_t WSIMATOPCM(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params) {
    if (srcBytes <= 0) return 0;
    Channel left(params.Channel[0]), right(params.Channel[1]);
    const auto* in = static_cast<const std::uint8_t*>(src);
    auto* out = static_cast<std::uint8_t*>(dst);
    for (std::int32_t i = 0; i < srcBytes; ++i) {
        const int b = in[i];
        Put(out, left.Decode(b & 15, kIMATable));
        Put(out, right.Decode(b >> 4, kIMATable));
    }
    left.Store(params.Channel[0]);
    right.Store(params.Channel[1]);
    return srcBytes * 4;
}

std::int32_t WSDVITOPCM(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params) {
    if (srcBytes <= 0) return 0;
    Channel left(params.Channel[0]), right(params.Channel[1]);
    const auto* in = static_cast<const std::uint8_t*>(src);
    auto* out = static_cast<std::uint8_t*>(dst);
    auto frame = [&](int b) {
        Put(out, left.Decode(b >> 4, kDVITable));
        Put(out, right.Decode(b & 15, kDVITable));
    };
    std::int32_t i = 0;
    for (; i + 1 < srcBytes; i += 2) {
        frame(in[i + 1]);
        frame(in[i]);
    }
    if (i < srcBytes) frame(in[i]);
    left.Store(params.Channel[0]);
    right.Store(params.Channel[1]);
    return srcBytes * 4;
}

std::int32_t WMPCMTOIMA(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params) {
    return EncodeMono(src, dst, srcBytes, params, kIMATable);
}

std::int32_t WMPCMTODVI(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params) {
    return EncodeMono(src, dst, srcBytes, params, kDVITable);
}

std::int32_t WSPCMTOIMA(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params) {
    const std::int32_t n = srcBytes > 0 ? srcBytes / 4 : 0;
    Channel left(params.Channel[0]), right(params.Channel[1]);
    const auto* in = static_cast<const std::uint8_t*>(src);
    auto* out = static_cast<std::uint8_t*>(dst);
    for (std::int32_t i = 0; i < n; ++i, in += 4) {
        const int l = left.Encode(Sample(in), kIMATable);
        const int r = right.Encode(Sample(in + 2), kIMATable);
        out[i] = static_cast<std::uint8_t>(r << 4 | l);
    }
    left.Store(params.Channel[0]);
    right.Store(params.Channel[1]);
    return n;
}

std::int32_t WSPCMTODVI(const void* src, void* dst, std::int32_t srcBytes, TIMA_PARAMS& params) {
    const std::int32_t frames = srcBytes > 0 ? srcBytes / 4 : 0;
    Channel left(params.Channel[0]), right(params.Channel[1]);
    const auto* in = static_cast<const std::uint8_t*>(src);
    auto* out = static_cast<std::uint8_t*>(dst);
    auto frame = [&](const std::uint8_t* p) {
        const int l = left.Encode(Sample(p), kDVITable);
        const int r = right.Encode(Sample(p + 2), kDVITable);
        return static_cast<std::uint8_t>(l << 4 | r);
    };
    std::int32_t written = 0;
    for (std::int32_t f = 0; f < frames; f += 2) {
        const std::uint8_t* first = in + 4 * f;
        const std::uint8_t* second = f + 1 < frames ? first + 4 : first;
        out[written + 1] = frame(first);
        out[written] = frame(second);
        written += 2;
    }
    left.Store(params.Channel[0]);
    right.Store(params.Channel[1]);
    return written;
}

} // namespace lum
