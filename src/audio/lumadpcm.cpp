#include "audio/lumadpcm.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "audio/lumantex.h"
#include "audio/lumpcmsup.h"

namespace lum {

const TADPCMCoefSet ADPCMCoefficients[kADPCMNumCoef] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

const std::int16_t ADPCMAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                          768, 614, 512, 409, 307, 230, 230, 230};

namespace {

constexpr int kMinStep = 16;
// Repeated large codes triple the step; real streams stay far below this
// bound, which keeps code x step and the next product inside 32 bits.
constexpr int kMaxStep = INT_MAX / 768;

inline int Load16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(p[0] | p[1] << 8);
}

inline void Store16(std::uint8_t* p, int v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline int Clamp16(int v) {
    return v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
}

inline int NextStep(int code, int step) {
    const int s = (ADPCMAdaptation[code & 15] * step) >> 8;
    return s < kMinStep ? kMinStep : (s > kMaxStep ? kMaxStep : s);
}

// Writes one sample as 16-bit, or as 8-bit the way the PCM routines narrow
// it: truncated toward zero, then offset.
template <bool Eight>
inline void PutSample(std::uint8_t*& out, int s) {
    if constexpr (Eight) {
        *out++ = static_cast<std::uint8_t>(s / 256 + 128);
    } else {
        Store16(out, s);
        out += 2;
    }
}

int SamplesPerBlock(const TWaveFormatEx* fmt) {
    return reinterpret_cast<const TADPCMWaveFormat*>(fmt)->wSamplesPerBlock;
}

int OutputBits(const TWaveFormatEx* pcmFmt) {
    return pcmFmt == nullptr ? 16 : pcmFmt->wBitsPerSample;
}

// One channel of the block decoder.
struct MSChannel {
    int c1, c2, step, s1, s2;

    int Next(int nibble) {
        const int code = (nibble ^ 8) - 8; // -8 ... 7
        const int p = (s1 * c1 + s2 * c2) >> 8;
        const int s = Clamp16(p + code * step);
        step = NextStep(nibble, step);
        s2 = s1;
        s1 = s;
        return s;
    }
};

// Decodes the blocks; -1 for a predictor index beyond the table.
template <int Ch, bool Eight>
std::int32_t DecodeMS(const std::uint8_t* in, std::int32_t bytes, int align, int spb,
                      std::uint8_t* dst) {
    std::uint8_t* out = dst;
    while (bytes >= 7 * Ch) {
        const int length = std::min<std::int32_t>(align, bytes);
        MSChannel ch[Ch];
        for (int c = 0; c < Ch; ++c) {
            const int index = in[c];
            if (index >= kADPCMNumCoef) return -1;
            ch[c].c1 = ADPCMCoefficients[index].iCoef1;
            ch[c].c2 = ADPCMCoefficients[index].iCoef2;
            ch[c].step = Load16(in + Ch + 2 * c);
            ch[c].s1 = Load16(in + 3 * Ch + 2 * c);
            ch[c].s2 = Load16(in + 5 * Ch + 2 * c);
        }
        for (int c = 0; c < Ch; ++c)
            PutSample<Eight>(out, ch[c].s2);
        for (int c = 0; c < Ch; ++c)
            PutSample<Eight>(out, ch[c].s1);
        const std::uint8_t* codes = in + 7 * Ch;
        const int available = length - 7 * Ch; // code bytes in this block
        const int wanted = spb - 2;            // frames after the header
        if constexpr (Ch == 1) {
            const int frames = std::min(wanted, 2 * available);
            int i = 0;
            for (; i + 1 < frames; i += 2) {
                const int b = codes[i >> 1];
                PutSample<Eight>(out, ch[0].Next(b >> 4));
                PutSample<Eight>(out, ch[0].Next(b & 15));
            }
            if (i < frames) PutSample<Eight>(out, ch[0].Next(codes[i >> 1] >> 4));
            if (frames < wanted) break; // the input ended inside this block
        } else {
            const int frames = std::min(wanted, available);
            for (int i = 0; i < frames; ++i) {
                const int b = codes[i];
                PutSample<Eight>(out, ch[0].Next(b >> 4));
                PutSample<Eight>(out, ch[1].Next(b & 15));
            }
            if (frames < wanted) break;
        }
        if (bytes <= align) break;
        in += align;
        bytes -= align;
    }
    return static_cast<std::int32_t>(out - dst);
}

// One channel of the block encoder, with the same arithmetic as decoding.
struct MSEncoder {
    int c1, c2, step, s1, s2;

    // Returns the 4-bit code for Sample and moves the state on.
    int Code(int sample, int& reconstructed) {
        const int p = (s1 * c1 + s2 * c2) >> 8;
        int code = (sample - p) / step; // truncated toward zero
        code = code < -8 ? -8 : (code > 7 ? 7 : code);
        reconstructed = Clamp16(p + step * code);
        step = NextStep(code & 15, step);
        s2 = s1;
        s1 = reconstructed;
        return code & 15;
    }
};

int InitialStep(const int* w, int stride, int c1, int c2) {
    auto p = [&](int n) { return (w[(n - 1) * stride] * c1 + w[(n - 2) * stride] * c2) >> 8; };
    const int sum = std::abs(p(2) - w[2 * stride]) + std::abs(p(3) - w[3 * stride]) +
                    std::abs(p(4) - w[4 * stride]);
    return std::clamp(sum / 12, kMinStep, 32767);
}

} // namespace

bool adpcmIsValidFormat(const TWaveFormatEx* fmt) {
    if (fmt == nullptr || fmt->wFormatTag != WAVE_FORMAT_ADPCM || fmt->wBitsPerSample != 4 ||
        (fmt->nChannels != 1 && fmt->nChannels != 2) || fmt->cbSize < kADPCMExtraBytes)
        return false;
    const auto* a = reinterpret_cast<const TADPCMWaveFormat*>(fmt);
    if (a->wNumCoef != kADPCMNumCoef) return false;
    for (int i = 0; i < kADPCMNumCoef; ++i)
        if (a->aCoef[i].iCoef1 != ADPCMCoefficients[i].iCoef1 ||
            a->aCoef[i].iCoef2 != ADPCMCoefficients[i].iCoef2)
            return false;
    const int ch = fmt->nChannels;
    const int align = fmt->nBlockAlign;
    const int spb = a->wSamplesPerBlock;
    // The header, then (spb - 2) x channels codes of 4 bits.
    return align >= 7 * ch && spb >= 2 && spb <= (align - 7 * ch) * 2 / ch + 2;
}

bool adpcmBuildFormatHeader(const TWaveFormatEx* src, TWaveFormatEx* dst, int bits, int channels,
                            std::int32_t rate) {
    if (src == nullptr || dst == nullptr) return false;
    if (channels <= 0) channels = src->nChannels;
    // The source's rate as it is: a 16-bit copy would turn 96000 into 30464.
    const std::int64_t r = rate <= 0 ? std::int64_t{src->nSamplesPerSec} : rate;
    if (pcmIsValidFormat(src)) {
        if (channels != 1 && channels != 2) return false;
        std::int64_t align = 256 * channels;
        if (r > 11025) align *= r / 11000;
        if (align > 0xFFFF) return false;
        const std::int64_t spb = (align * 8 - channels * 56) / (channels * 4) + 2;
        const std::int64_t g = channels * 4 * r / 8;
        const std::int64_t avg = g + channels * 7 * (g / align + 1);
        auto* a = reinterpret_cast<TADPCMWaveFormat*>(dst);
        std::memset(dst, 0, kADPCMFormatSize);
        dst->wFormatTag = WAVE_FORMAT_ADPCM;
        dst->nChannels = static_cast<WORD>(channels);
        dst->nSamplesPerSec = static_cast<DWORD>(r);
        dst->nAvgBytesPerSec = static_cast<DWORD>(avg);
        dst->nBlockAlign = static_cast<WORD>(align);
        dst->wBitsPerSample = 4;
        dst->cbSize = kADPCMExtraBytes;
        a->wSamplesPerBlock = static_cast<WORD>(spb);
        a->wNumCoef = kADPCMNumCoef;
        std::memcpy(a->aCoef, ADPCMCoefficients, sizeof(ADPCMCoefficients));
        return true;
    }
    if (adpcmIsValidFormat(src)) {
        if (bits <= 0) bits = 16;
        if ((bits != 8 && bits != 16) || channels > 0xFFFF || r > INT32_MAX) return false;
        pcmBuildWaveHeader(dst, bits, channels, static_cast<std::int32_t>(r));
        return true;
    }
    return false;
}

std::int32_t adpcmDecode4Bit(const TWaveFormatEx* adpcmFmt, const TWaveFormatEx* pcmFmt,
                             const void* src, std::int32_t srcBytes, void* dst) {
    if (!adpcmIsValidFormat(adpcmFmt) || src == nullptr || dst == nullptr || srcBytes <= 0)
        return 0;
    const int bits = OutputBits(pcmFmt);
    if (bits != 8 && bits != 16) return 0;
    const auto* in = static_cast<const std::uint8_t*>(src);
    auto* out = static_cast<std::uint8_t*>(dst);
    const int align = adpcmFmt->nBlockAlign;
    const int spb = SamplesPerBlock(adpcmFmt);
    std::int32_t n;
    if (adpcmFmt->nChannels == 1)
        n = bits == 8 ? DecodeMS<1, true>(in, srcBytes, align, spb, out)
                      : DecodeMS<1, false>(in, srcBytes, align, spb, out);
    else
        n = bits == 8 ? DecodeMS<2, true>(in, srcBytes, align, spb, out)
                      : DecodeMS<2, false>(in, srcBytes, align, spb, out);
    return n < 0 ? 0 : n;
}

std::int32_t adpcmEncodedSize(const TWaveFormatEx* adpcmFmt, std::int32_t frames) {
    if (!adpcmIsValidFormat(adpcmFmt) || frames <= 0) return 0;
    const std::int64_t spb = SamplesPerBlock(adpcmFmt);
    const std::int64_t size = (frames + spb - 1) / spb * adpcmFmt->nBlockAlign;
    return size > INT32_MAX ? 0 : static_cast<std::int32_t>(size);
}

std::int32_t adpcmDecodedSize(const TWaveFormatEx* adpcmFmt, std::int32_t srcBytes, int bits) {
    if (!(adpcmIsValidFormat(adpcmFmt) || adpcmIMAIsValidFormat(adpcmFmt)) || srcBytes <= 0 ||
        (bits != 8 && bits != 16))
        return 0;
    const std::int64_t blocks =
        (std::int64_t{srcBytes} + adpcmFmt->nBlockAlign - 1) / adpcmFmt->nBlockAlign;
    const std::int64_t size = blocks * SamplesPerBlock(adpcmFmt) * adpcmFmt->nChannels * (bits / 8);
    return size > INT32_MAX ? 0 : static_cast<std::int32_t>(size);
}

std::int32_t adpcmEncode4Bit(const TWaveFormatEx* pcmFmt, const TWaveFormatEx* adpcmFmt,
                             const void* src, std::int32_t srcBytes, void* dst) {
    if (!adpcmIsValidFormat(adpcmFmt) || pcmFmt == nullptr || src == nullptr || dst == nullptr)
        return 0;
    const int ch = adpcmFmt->nChannels;
    const int bits = pcmFmt->wBitsPerSample;
    if ((bits != 8 && bits != 16) || pcmFmt->nChannels != ch || srcBytes <= 0) return 0;
    const int spb = SamplesPerBlock(adpcmFmt);
    const int align = adpcmFmt->nBlockAlign;
    const std::int32_t frames = srcBytes / (ch * bits / 8);
    if (frames == 0) return 0;

    // One block of samples, at least five frames for the step estimate.
    const int rows = std::max(spb, 5);
    std::unique_ptr<int[]> work(new (std::nothrow) int[static_cast<std::size_t>(rows * ch)]);
    if (!work) return 0;
    const auto* in = static_cast<const std::uint8_t*>(src);
    auto* out = static_cast<std::uint8_t*>(dst);
    std::int32_t written = 0;

    for (std::int32_t done = 0; done < frames; done += spb) {
        const int count = static_cast<int>(std::min<std::int32_t>(spb, frames - done));
        int* w = work.get();
        for (int i = 0; i < count * ch; ++i) {
            if (bits == 8) {
                w[i] = (*in++ - 128) * 256;
            } else {
                w[i] = Load16(in);
                in += 2;
            }
        }
        // A short block is filled up with its last frame.
        for (int i = count; i < rows; ++i)
            for (int c = 0; c < ch; ++c)
                w[i * ch + c] = w[(count - 1) * ch + c];

        int bestIndex[2] = {0, 0};
        int bestStep[2] = {kMinStep, kMinStep};
        for (int c = 0; c < ch; ++c) {
            std::int64_t bestError = INT64_MAX;
            for (int k = 0; k < kADPCMNumCoef; ++k) {
                const int c1 = ADPCMCoefficients[k].iCoef1, c2 = ADPCMCoefficients[k].iCoef2;
                const int step = InitialStep(w + c, ch, c1, c2);
                MSEncoder e{c1, c2, step, w[ch + c], w[c]};
                std::int64_t error = 0;
                for (int i = 2; i < spb; ++i) {
                    int r;
                    e.Code(w[i * ch + c], r);
                    const std::int64_t d = r - w[i * ch + c];
                    error += (d * d) >> 7;
                }
                if (error < bestError) {
                    bestError = error;
                    bestIndex[c] = k;
                    bestStep[c] = step;
                }
            }
        }

        std::uint8_t* block = out + written;
        std::memset(block, 0, static_cast<std::size_t>(align));
        MSEncoder enc[2];
        for (int c = 0; c < ch; ++c) {
            block[c] = static_cast<std::uint8_t>(bestIndex[c]);
            Store16(block + ch + 2 * c, bestStep[c]);
            Store16(block + 3 * ch + 2 * c, w[ch + c]);
            Store16(block + 5 * ch + 2 * c, w[c]);
            enc[c] = {ADPCMCoefficients[bestIndex[c]].iCoef1,
                      ADPCMCoefficients[bestIndex[c]].iCoef2, bestStep[c], w[ch + c], w[c]};
        }
        std::uint8_t* codes = block + 7 * ch;
        int nibble = 0;
        for (int i = 2; i < spb; ++i)
            for (int c = 0; c < ch; ++c, ++nibble) {
                int r;
                const int code = enc[c].Code(w[i * ch + c], r);
                codes[nibble >> 1] |= static_cast<std::uint8_t>(nibble & 1 ? code : code << 4);
            }
        written += align;
    }
    return written;
}

// ---------------------------------------------------------------------------
// IMA ADPCM blocks

namespace {

// The difference of the IMA block format: floor((2m + 1) x step / 8)
// without the 16-bit cap of the streaming tables.
struct IMAChannel {
    int predictor, index;

    int Next(int nibble) {
        const int step = IMAStepTable[static_cast<std::size_t>(index)];
        const int d = ((2 * (nibble & 7) + 1) * step) >> 3;
        predictor = Clamp16(nibble & 8 ? predictor - d : predictor + d);
        index = std::clamp(index + IMAIndexTable[static_cast<std::size_t>(nibble & 7)], 0,
                           kIMAStepCount - 1);
        return predictor;
    }
};

template <int Ch, bool Eight>
std::int32_t DecodeIMA(const std::uint8_t* in, std::int32_t bytes, int align, int spb,
                       std::uint8_t* dst) {
    const int groups = (spb - 1) / 8; // 4 bytes a channel each
    const int frameBytes = Ch * (Eight ? 1 : 2);
    std::uint8_t* out = dst;
    while (bytes >= 4 * Ch) {
        const int length = std::min<std::int32_t>(align, bytes);
        IMAChannel ch[Ch];
        bool valid = true;
        for (int c = 0; c < Ch; ++c) {
            ch[c].predictor = Load16(in + 4 * c);
            ch[c].index = in[4 * c + 2];
            valid = valid && ch[c].index < kIMAStepCount;
        }
        const int available = std::min(groups, (length - 4 * Ch) / (4 * Ch));
        if (!valid) {
            // Silence for the block rather than codes from a wrong step.
            const int frames = 1 + 8 * available;
            std::memset(out, Eight ? 128 : 0, static_cast<std::size_t>(frames * frameBytes));
            out += frames * frameBytes;
        } else {
            for (int c = 0; c < Ch; ++c)
                PutSample<Eight>(out, ch[c].predictor);
            const std::uint8_t* codes = in + 4 * Ch;
            for (int g = 0; g < available; ++g, codes += 4 * Ch) {
                int samples[Ch][8];
                for (int c = 0; c < Ch; ++c)
                    for (int k = 0; k < 4; ++k) {
                        const int b = codes[4 * c + k];
                        samples[c][2 * k] = ch[c].Next(b & 15);
                        samples[c][2 * k + 1] = ch[c].Next(b >> 4);
                    }
                for (int k = 0; k < 8; ++k)
                    for (int c = 0; c < Ch; ++c)
                        PutSample<Eight>(out, samples[c][k]);
            }
        }
        if (available < groups || bytes <= align) break;
        in += align;
        bytes -= align;
    }
    return static_cast<std::int32_t>(out - dst);
}

} // namespace

bool adpcmIMAIsValidFormat(const TWaveFormatEx* fmt) {
    if (fmt == nullptr || fmt->wFormatTag != WAVE_FORMAT_IMA_ADPCM || fmt->wBitsPerSample != 4 ||
        (fmt->nChannels != 1 && fmt->nChannels != 2) || fmt->cbSize < 2)
        return false;
    const int ch = fmt->nChannels;
    const int align = fmt->nBlockAlign;
    const int spb = SamplesPerBlock(fmt);
    return align >= 4 * ch && spb >= 1 && spb <= (align - 4 * ch) * 2 / ch + 1;
}

std::int32_t adpcmIMADecode4Bit(const TWaveFormatEx* imaFmt, const TWaveFormatEx* pcmFmt,
                                const void* src, std::int32_t srcBytes, void* dst) {
    if (!adpcmIMAIsValidFormat(imaFmt) || src == nullptr || dst == nullptr || srcBytes <= 0)
        return 0;
    const int bits = OutputBits(pcmFmt);
    if (bits != 8 && bits != 16) return 0;
    const auto* in = static_cast<const std::uint8_t*>(src);
    auto* out = static_cast<std::uint8_t*>(dst);
    const int align = imaFmt->nBlockAlign;
    const int spb = SamplesPerBlock(imaFmt);
    if (imaFmt->nChannels == 1)
        return bits == 8 ? DecodeIMA<1, true>(in, srcBytes, align, spb, out)
                         : DecodeIMA<1, false>(in, srcBytes, align, spb, out);
    return bits == 8 ? DecodeIMA<2, true>(in, srcBytes, align, spb, out)
                     : DecodeIMA<2, false>(in, srcBytes, align, spb, out);
}

} // namespace lum
