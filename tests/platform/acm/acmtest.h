// The module under test, loaded from LUM_ACM the way the library loads it,
// with its entry points bound by name; and small helpers for formats and
// for running a stream over a whole buffer.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/acm/msacm.h"

namespace lum::platform::acm::test {

using Bytes = std::vector<std::uint8_t>;

struct Module {
    void* handle = nullptr;
    PFN_acmGetVersion GetVersion = nullptr;
    PFN_acmMetrics Metrics = nullptr;
    PFN_acmDriverEnum DriverEnum = nullptr;
    PFN_acmDriverDetailsA DriverDetails = nullptr;
    PFN_acmDriverOpen DriverOpen = nullptr;
    PFN_acmDriverClose DriverClose = nullptr;
    PFN_acmDriverID DriverID = nullptr;
    PFN_acmFormatTagDetailsA FormatTagDetails = nullptr;
    PFN_acmFormatTagEnumA FormatTagEnum = nullptr;
    PFN_acmFormatChooseA FormatChoose = nullptr;
    PFN_acmFormatDetailsA FormatDetails = nullptr;
    PFN_acmFormatEnumA FormatEnum = nullptr;
    PFN_acmFormatSuggest FormatSuggest = nullptr;
    PFN_acmFilterTagDetailsA FilterTagDetails = nullptr;
    PFN_acmFilterChooseA FilterChoose = nullptr;
    PFN_acmFilterDetailsA FilterDetails = nullptr;
    PFN_acmFilterEnumA FilterEnum = nullptr;
    PFN_acmStreamOpen StreamOpen = nullptr;
    PFN_acmStreamClose StreamClose = nullptr;
    PFN_acmStreamSize StreamSize = nullptr;
    PFN_acmStreamConvert StreamConvert = nullptr;
    PFN_acmStreamPrepareHeader Prepare = nullptr;
    PFN_acmStreamUnprepareHeader Unprepare = nullptr;

    template <class F>
    void Bind(F& f, const char* name) {
        f = reinterpret_cast<F>(::dlsym(handle, name));
        ASSERT_NE(f, nullptr) << name;
    }
};

// Loaded once for the whole test program.
inline Module& Acm() {
    static Module m = [] {
        Module m;
        const char* path = std::getenv("LUM_ACM");
        m.handle = path ? ::dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
        if (!m.handle) return m;
        m.Bind(m.GetVersion, "acmGetVersion");
        m.Bind(m.Metrics, "acmMetrics");
        m.Bind(m.DriverEnum, "acmDriverEnum");
        m.Bind(m.DriverDetails, "acmDriverDetailsA");
        m.Bind(m.DriverOpen, "acmDriverOpen");
        m.Bind(m.DriverClose, "acmDriverClose");
        m.Bind(m.DriverID, "acmDriverID");
        m.Bind(m.FormatTagDetails, "acmFormatTagDetailsA");
        m.Bind(m.FormatTagEnum, "acmFormatTagEnumA");
        m.Bind(m.FormatChoose, "acmFormatChooseA");
        m.Bind(m.FormatDetails, "acmFormatDetailsA");
        m.Bind(m.FormatEnum, "acmFormatEnumA");
        m.Bind(m.FormatSuggest, "acmFormatSuggest");
        m.Bind(m.FilterTagDetails, "acmFilterTagDetailsA");
        m.Bind(m.FilterChoose, "acmFilterChooseA");
        m.Bind(m.FilterDetails, "acmFilterDetailsA");
        m.Bind(m.FilterEnum, "acmFilterEnumA");
        m.Bind(m.StreamOpen, "acmStreamOpen");
        m.Bind(m.StreamClose, "acmStreamClose");
        m.Bind(m.StreamSize, "acmStreamSize");
        m.Bind(m.StreamConvert, "acmStreamConvert");
        m.Bind(m.Prepare, "acmStreamPrepareHeader");
        m.Bind(m.Unprepare, "acmStreamUnprepareHeader");
        return m;
    }();
    return m;
}

inline WAVEFORMATEX Pcm(int bits, int channels, DWORD rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = 1;
    f.nChannels = static_cast<WORD>(channels);
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = static_cast<WORD>(bits);
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * rate;
    return f;
}

// A format record as bytes, with room for any extra bytes.
inline Bytes Record(const WAVEFORMATEX& f, std::size_t extra = 0) {
    Bytes b(sizeof f + extra);
    std::memcpy(b.data(), &f, sizeof f);
    return b;
}

inline const WAVEFORMATEX* Fmt(const Bytes& b) {
    return reinterpret_cast<const WAVEFORMATEX*>(b.data());
}

// A suggestion of the given tag for Src, as a record.
inline Bytes Suggest(const void* src, WORD tag, DWORD moreFlags = 0, WORD channels = 0,
                     DWORD rate = 0, WORD bits = 0) {
    Bytes out(256);
    auto* d = reinterpret_cast<WAVEFORMATEX*>(out.data());
    d->wFormatTag = tag;
    d->nChannels = channels;
    d->nSamplesPerSec = rate;
    d->wBitsPerSample = bits;
    if (Acm().FormatSuggest(nullptr, static_cast<const WAVEFORMATEX*>(src), d,
                            static_cast<DWORD>(out.size()),
                            ACM_FORMATSUGGESTF_WFORMATTAG | moreFlags) != MMSYSERR_NOERROR)
        return {};
    out.resize(d->wFormatTag == 1 ? 18 : 18 + d->cbSize);
    return out;
}

// 16-bit samples as bytes, and back.
inline Bytes S16(const std::vector<std::int16_t>& s) {
    Bytes b(s.size() * 2);
    std::memcpy(b.data(), s.data(), b.size());
    return b;
}
inline std::vector<std::int16_t> Samples(const Bytes& b) {
    std::vector<std::int16_t> s(b.size() / 2);
    std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

// A tone with some noise, in 16-bit samples, Channels interleaved.
inline std::vector<std::int16_t> Tone(int frames, int channels, DWORD rate, double hz = 440) {
    std::vector<std::int16_t> s(static_cast<std::size_t>(frames * channels));
    std::uint32_t noise = 12345;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            noise = noise * 1103515245 + 12345;
            const double v = 12000 * std::sin(2 * M_PI * hz * (c + 1) * i / rate) +
                             static_cast<int>((noise >> 16) & 1023) - 512;
            s[static_cast<std::size_t>(i * channels + c)] = static_cast<std::int16_t>(v);
        }
    return s;
}

// Signal to noise ratio of B against A in dB, over the common length.
inline double Snr(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    double signal = 0, noise = 0;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        signal += double(a[i]) * a[i];
        noise += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    return noise == 0 ? 200 : 10 * std::log10(signal / noise);
}

// Converts all of Src through a stream in calls of Chunk bytes (block
// aligned), then ends it; the concatenated output.
inline Bytes ConvertAll(const void* srcFmt, const void* dstFmt, const Bytes& src,
                        std::size_t chunk = 4096) {
    auto& m = Acm();
    HACMSTREAM s = nullptr;
    EXPECT_EQ(m.StreamOpen(&s, nullptr, static_cast<const WAVEFORMATEX*>(srcFmt),
                           static_cast<const WAVEFORMATEX*>(dstFmt), nullptr, 0, 0,
                           ACM_STREAMOPENF_NONREALTIME),
              MMSYSERR_NOERROR);
    if (!s) return {};
    Bytes in(chunk * 2 + 8192), out;
    DWORD room = 0;
    EXPECT_EQ(m.StreamSize(s, static_cast<DWORD>(in.size()), &room, ACM_STREAMSIZEF_SOURCE),
              MMSYSERR_NOERROR);
    Bytes dst(room);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = in.data();
    h.cbSrcLength = static_cast<DWORD>(in.size());
    h.pbDst = dst.data();
    h.cbDstLength = room;
    EXPECT_EQ(m.Prepare(s, &h, 0), MMSYSERR_NOERROR);
    std::size_t pos = 0, kept = 0;
    for (bool end = false; !end;) {
        const std::size_t n = std::min(chunk, src.size() - pos);
        std::memcpy(in.data() + kept, src.data() + pos, n);
        pos += n;
        end = pos == src.size();
        h.cbSrcLength = static_cast<DWORD>(kept + n);
        h.cbDstLength = room;
        EXPECT_EQ(m.StreamConvert(
                      s, &h, ACM_STREAMCONVERTF_BLOCKALIGN | (end ? ACM_STREAMCONVERTF_END : 0)),
                  MMSYSERR_NOERROR);
        EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
        DWORD bound = 0;
        m.StreamSize(s, static_cast<DWORD>(kept + n), &bound, ACM_STREAMSIZEF_SOURCE);
        EXPECT_LE(h.cbDstLengthUsed, bound) << "more than the size query promised";
        out.insert(out.end(), dst.begin(), dst.begin() + h.cbDstLengthUsed);
        kept = h.cbSrcLength - h.cbSrcLengthUsed;
        std::memmove(in.data(), in.data() + h.cbSrcLengthUsed, kept);
    }
    EXPECT_EQ(kept, 0u) << "input left after the end";
    h.cbSrcLength = static_cast<DWORD>(in.size());
    h.cbDstLength = room;
    EXPECT_EQ(m.Unprepare(s, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(m.StreamClose(s, 0), MMSYSERR_NOERROR);
    return out;
}

} // namespace lum::platform::acm::test
