// Formats, texts, the handle table and the walks over the drivers.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/acm/acm_internal.h"

namespace lum::platform::acm::detail {

DWORD FormatSize(const WAVEFORMATEX* fmt) {
    if (fmt == nullptr) return 0;
    return fmt->wFormatTag == 1 ? 18 : 18 + DWORD{fmt->cbSize};
}

Bytes FormatBytes(const WAVEFORMATEX* fmt) {
    const DWORD size = FormatSize(fmt);
    Bytes b(size);
    if (size) std::memcpy(b.data(), fmt, size);
    if (fmt && fmt->wFormatTag == 1) reinterpret_cast<WAVEFORMATEX*>(b.data())->cbSize = 0;
    return b;
}

const WAVEFORMATEX* AsFormat(const Bytes& b) {
    return reinterpret_cast<const WAVEFORMATEX*>(b.data());
}

bool SameFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
    const DWORD n = FormatSize(a);
    return n == FormatSize(b) && (n == 18 ? std::memcmp(a, b, 16) == 0 : std::memcmp(a, b, n) == 0);
}

bool IsPcm(const WAVEFORMATEX* f) {
    return f != nullptr && f->wFormatTag == 1 &&
           (f->wBitsPerSample == 8 || f->wBitsPerSample == 16 || f->wBitsPerSample == 24 ||
            f->wBitsPerSample == 32) &&
           f->nChannels >= 1 && f->nChannels <= 8 && f->nSamplesPerSec >= 1 &&
           f->nSamplesPerSec <= 1000000 && f->nBlockAlign == f->nChannels * f->wBitsPerSample / 8;
}

WAVEFORMATEX MakePcm(int bits, int channels, DWORD rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = 1;
    f.nChannels = static_cast<WORD>(channels);
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = static_cast<WORD>(bits);
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * rate;
    f.cbSize = 0;
    return f;
}

std::string RateText(DWORD rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%03u kHz", rate / 1000, rate % 1000);
    return text;
}

std::string ChannelsText(int channels) {
    if (channels == 1) return "Mono";
    if (channels == 2) return "Stereo";
    return std::to_string(channels) + " Channels";
}

std::string DescribeFormat(const WAVEFORMATEX* f) {
    if (f == nullptr) return {};
    std::string s = RateText(f->nSamplesPerSec);
    if (f->wBitsPerSample) s += ", " + std::to_string(f->wBitsPerSample) + " Bit";
    s += ", " + ChannelsText(f->nChannels);
    if (f->wFormatTag != 1 && f->wBitsPerSample != 4 && f->nAvgBytesPerSec)
        s += ", " + std::to_string((f->nAvgBytesPerSec * 8 + 500) / 1000) + " kbit/s";
    return s;
}

void CopyText(char* field, std::size_t size, const std::string& text) {
    if (size == 0) return;
    const std::size_t n = std::min(size - 1, text.size());
    std::memcpy(field, text.data(), n);
    field[n] = 0;
}

const FormatTag* Driver::FindTag(WORD tag) const {
    for (const FormatTag& t : tags)
        if (t.tag == tag) return &t;
    return nullptr;
}

const std::vector<std::unique_ptr<Driver>>& Drivers() {
    static const std::vector<std::unique_ptr<Driver>> drivers = [] {
        // libavcodec's own messages would reach the user's terminal; the
        // module reports through its result codes instead.
        av_log_set_level(AV_LOG_FATAL);
        std::vector<std::unique_ptr<Driver>> d;
        d.push_back(MakePcmDriver());
        AddCodecDrivers(d);
        d.push_back(MakeVolumeDriver());
        for (auto& driver : d)
            RegisterHandle(driver.get());
        return d;
    }();
    return drivers;
}

namespace {

std::mutex& HandleLock() {
    static std::mutex m;
    return m;
}

std::set<const void*>& HandleSet() {
    static std::set<const void*> s;
    return s;
}

} // namespace

void RegisterHandle(AcmObject* h) {
    std::lock_guard lock(HandleLock());
    HandleSet().insert(h);
}

void UnregisterHandle(AcmObject* h) {
    std::lock_guard lock(HandleLock());
    HandleSet().erase(h);
}

bool IsHandle(const void* h, AcmObject::Kind kind) {
    if (h == nullptr) return false;
    std::lock_guard lock(HandleLock());
    return HandleSet().count(h) && static_cast<const AcmObject*>(h)->kind == kind;
}

std::vector<const Driver*> DriversOf(HACMDRIVER had) {
    std::vector<const Driver*> out;
    if (had == nullptr) {
        for (const auto& d : Drivers())
            out.push_back(d.get());
    } else if (IsHandle(had, AcmObject::Kind::Driver)) {
        out.push_back(static_cast<const OpenDriver*>(had)->driver);
    } else if (IsHandle(had, AcmObject::Kind::DriverId)) {
        out.push_back(static_cast<const Driver*>(had));
    }
    return out;
}

MMRESULT OpenStream(HACMDRIVER had, const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                    const WAVEFILTER* filter, const Driver** driver,
                    std::unique_ptr<Converter>* conv) {
    const auto drivers = DriversOf(had);
    if (drivers.empty()) return MMSYSERR_INVALHANDLE;
    for (const Driver* d : drivers) {
        const MMRESULT r = d->Open(src, dst, filter, conv);
        if (r == MMSYSERR_NOERROR) {
            if (driver) *driver = d;
            return r;
        }
        if (r == MMSYSERR_NOMEM) return r;
    }
    return ACMERR_NOTPOSSIBLE;
}

MMRESULT SuggestFormat(HACMDRIVER had, const WAVEFORMATEX* src, Bytes& out, const Constraints& c) {
    const auto drivers = DriversOf(had);
    if (drivers.empty()) return MMSYSERR_INVALHANDLE;
    for (const Driver* d : drivers)
        if (d->Suggest(src, out, c) == MMSYSERR_NOERROR) return MMSYSERR_NOERROR;
    return ACMERR_NOTPOSSIBLE;
}

bool PassesEnum(const Driver& d, const WAVEFORMATEX* f, const WAVEFORMATEX* ref, DWORD flags) {
    if (flags &
        (ACM_FORMATENUMF_WFORMATTAG | ACM_FORMATENUMF_NCHANNELS | ACM_FORMATENUMF_NSAMPLESPERSEC |
         ACM_FORMATENUMF_WBITSPERSAMPLE | ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST)) {
        if (ref == nullptr) return false;
    }
    if ((flags & ACM_FORMATENUMF_WFORMATTAG) && f->wFormatTag != ref->wFormatTag) return false;
    if ((flags & ACM_FORMATENUMF_NCHANNELS) && f->nChannels != ref->nChannels) return false;
    if ((flags & ACM_FORMATENUMF_NSAMPLESPERSEC) && f->nSamplesPerSec != ref->nSamplesPerSec)
        return false;
    if ((flags & ACM_FORMATENUMF_WBITSPERSAMPLE) && f->wBitsPerSample != ref->wBitsPerSample)
        return false;
    if ((flags & ACM_FORMATENUMF_OUTPUT) && !d.Writes(f->wFormatTag)) return false;
    if ((flags & ACM_FORMATENUMF_HARDWARE)) return false;
    if ((flags & ACM_FORMATENUMF_CONVERT) &&
        OpenStream(nullptr, ref, f, nullptr, nullptr, nullptr) != MMSYSERR_NOERROR)
        return false;
    if (flags & ACM_FORMATENUMF_SUGGEST) {
        Constraints c;
        c.flags = ACM_FORMATSUGGESTF_WFORMATTAG;
        c.tag = f->wFormatTag;
        Bytes s;
        if (SuggestFormat(nullptr, ref, s, c) != MMSYSERR_NOERROR || !SameFormat(AsFormat(s), f))
            return false;
    }
    return true;
}

} // namespace lum::platform::acm::detail
