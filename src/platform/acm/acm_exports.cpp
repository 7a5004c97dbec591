// The module's 29 entry points, exported by their platform names with C
// linkage. Each checks its handles and records before it touches them and
// answers with the platform's result codes. Streams convert synchronously:
// a header is done when acmStreamConvert returns.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "platform/acm/acm_internal.h"

#define ACM_EXPORT extern "C" __attribute__((visibility("default")))

using namespace lum::platform;
using namespace lum::platform::acm;
using namespace lum::platform::acm::detail;

namespace {

// Fills a caller's record of cbStruct bytes from a full one.
template <class T>
MMRESULT CopyOut(T* to, const T& from) {
    if (to->cbStruct < sizeof(DWORD)) return MMSYSERR_INVALPARAM;
    const DWORD n = std::min<DWORD>(to->cbStruct, sizeof(T));
    std::memcpy(to, &from, n);
    to->cbStruct = n;
    return MMSYSERR_NOERROR;
}

DWORD DriverCount(DWORD support) {
    DWORD n = 0;
    for (const auto& d : Drivers())
        if (support == 0 || (d->support & support)) ++n;
    return n;
}

// Every format tag of the given drivers, in driver order.
struct TagRef {
    const Driver* driver;
    const FormatTag* tag;
};

std::vector<TagRef> TagsOf(HACMDRIVER had) {
    std::vector<TagRef> out;
    for (const Driver* d : DriversOf(had))
        for (const FormatTag& t : d->tags)
            out.push_back({d, &t});
    return out;
}

struct FilterRef {
    const Driver* driver;
    const FilterTag* tag;
};

std::vector<FilterRef> FilterTagsOf(HACMDRIVER had) {
    std::vector<FilterRef> out;
    for (const Driver* d : DriversOf(had))
        for (const FilterTag& t : d->filterTags)
            out.push_back({d, &t});
    return out;
}

void FillTag(ACMFORMATTAGDETAILSA& a, const TagRef& r, DWORD index) {
    a.dwFormatTagIndex = index;
    a.dwFormatTag = r.tag->tag;
    a.cbFormatSize = r.tag->largest;
    a.fdwSupport = r.driver->support;
    a.cStandardFormats = static_cast<DWORD>(r.tag->formats.size());
    CopyText(a.szFormatTag, sizeof a.szFormatTag, r.tag->name);
}

void FillFilterTag(ACMFILTERTAGDETAILSA& a, const FilterRef& r, DWORD index) {
    a.dwFilterTagIndex = index;
    a.dwFilterTag = r.tag->tag;
    a.cbFilterSize = r.tag->size;
    a.fdwSupport = r.driver->support;
    a.cStandardFilters = static_cast<DWORD>(r.tag->filters.size());
    CopyText(a.szFilterTag, sizeof a.szFilterTag, r.tag->name);
}

bool ValidHandleOrNull(const void* had) {
    return had == nullptr || IsHandle(had, AcmObject::Kind::Driver) ||
           IsHandle(had, AcmObject::Kind::DriverId);
}

Stream* AsStream(HACMSTREAM has) {
    return IsHandle(has, AcmObject::Kind::Stream) ? static_cast<Stream*>(has) : nullptr;
}

// The prepared lengths and pointers live in the header's reserved words.
void SavePrepared(ACMSTREAMHEADER* h) {
    h->dwReservedDriver[0] = h->cbSrcLength;
    h->dwReservedDriver[1] = h->cbDstLength;
    const auto src = reinterpret_cast<std::uintptr_t>(h->pbSrc);
    const auto dst = reinterpret_cast<std::uintptr_t>(h->pbDst);
    h->dwReservedDriver[2] = static_cast<DWORD>(src);
    h->dwReservedDriver[3] = static_cast<DWORD>(std::uint64_t{src} >> 32);
    h->dwReservedDriver[4] = static_cast<DWORD>(dst);
    h->dwReservedDriver[5] = static_cast<DWORD>(std::uint64_t{dst} >> 32);
}

bool MatchesPrepared(const ACMSTREAMHEADER* h, bool exactLengths) {
    const auto src = reinterpret_cast<std::uintptr_t>(h->pbSrc);
    const auto dst = reinterpret_cast<std::uintptr_t>(h->pbDst);
    const bool pointers = h->dwReservedDriver[2] == static_cast<DWORD>(src) &&
                          h->dwReservedDriver[3] == static_cast<DWORD>(std::uint64_t{src} >> 32) &&
                          h->dwReservedDriver[4] == static_cast<DWORD>(dst) &&
                          h->dwReservedDriver[5] == static_cast<DWORD>(std::uint64_t{dst} >> 32);
    if (!pointers) return false;
    if (exactLengths)
        return h->cbSrcLength == h->dwReservedDriver[0] && h->cbDstLength == h->dwReservedDriver[1];
    return h->cbSrcLength <= h->dwReservedDriver[0] && h->cbDstLength <= h->dwReservedDriver[1];
}

} // namespace

ACM_EXPORT DWORD acmGetVersion() {
    return kAcmVersion;
}

ACM_EXPORT MMRESULT acmMetrics(HACMOBJ hao, UINT metric, void* value) {
    if (value == nullptr) return MMSYSERR_INVALPARAM;
    auto* out = static_cast<DWORD*>(value);
    switch (metric) {
    case ACM_METRIC_COUNT_DRIVERS:
    case ACM_METRIC_COUNT_CODECS:
    case ACM_METRIC_COUNT_CONVERTERS:
    case ACM_METRIC_COUNT_FILTERS:
    case ACM_METRIC_COUNT_LOCAL_DRIVERS:
    case ACM_METRIC_COUNT_LOCAL_CODECS:
    case ACM_METRIC_COUNT_LOCAL_CONVERTERS:
    case ACM_METRIC_COUNT_LOCAL_FILTERS: {
        if (hao != nullptr) return MMSYSERR_INVALHANDLE;
        const UINT m = metric >= ACM_METRIC_COUNT_LOCAL_DRIVERS
                           ? metric - ACM_METRIC_COUNT_LOCAL_DRIVERS + ACM_METRIC_COUNT_DRIVERS
                           : metric;
        *out = DriverCount(m == ACM_METRIC_COUNT_DRIVERS      ? 0
                           : m == ACM_METRIC_COUNT_CODECS     ? ACMDRIVERDETAILS_SUPPORTF_CODEC
                           : m == ACM_METRIC_COUNT_CONVERTERS ? ACMDRIVERDETAILS_SUPPORTF_CONVERTER
                                                              : ACMDRIVERDETAILS_SUPPORTF_FILTER);
        return MMSYSERR_NOERROR;
    }
    case ACM_METRIC_COUNT_DISABLED:
    case ACM_METRIC_COUNT_HARDWARE:
    case ACM_METRIC_COUNT_LOCAL_DISABLED:
        if (hao != nullptr) return MMSYSERR_INVALHANDLE;
        *out = 0;
        return MMSYSERR_NOERROR;
    case ACM_METRIC_MAX_SIZE_FORMAT:
    case ACM_METRIC_MAX_SIZE_FILTER: {
        if (!ValidHandleOrNull(hao)) return MMSYSERR_INVALHANDLE;
        DWORD largest = 0;
        for (const Driver* d : DriversOf(hao)) {
            if (metric == ACM_METRIC_MAX_SIZE_FORMAT)
                for (const FormatTag& t : d->tags)
                    largest = std::max(largest, t.largest);
            else
                for (const FilterTag& t : d->filterTags)
                    largest = std::max(largest, t.size);
        }
        *out = largest;
        return MMSYSERR_NOERROR;
    }
    case ACM_METRIC_DRIVER_SUPPORT:
    case ACM_METRIC_DRIVER_PRIORITY: {
        if (!IsHandle(hao, AcmObject::Kind::DriverId)) return MMSYSERR_INVALHANDLE;
        const auto& all = Drivers();
        for (std::size_t i = 0; i < all.size(); ++i)
            if (all[i].get() == hao)
                *out = metric == ACM_METRIC_DRIVER_SUPPORT ? all[i]->support
                                                           : static_cast<DWORD>(i + 1);
        return MMSYSERR_NOERROR;
    }
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}

ACM_EXPORT MMRESULT acmDriverEnum(ACMDRIVERENUMCB callback, DWORD_PTR instance, DWORD flags) {
    if (callback == nullptr) return MMSYSERR_INVALPARAM;
    if (flags & ~(ACM_DRIVERENUMF_NOLOCAL | ACM_DRIVERENUMF_DISABLED)) return MMSYSERR_INVALFLAG;
    for (const auto& d : Drivers())
        if (!callback(d.get(), instance, d->support)) break;
    return MMSYSERR_NOERROR;
}

ACM_EXPORT MMRESULT acmDriverDetailsA(HACMDRIVERID hadid, ACMDRIVERDETAILSA* details, DWORD flags) {
    if (!IsHandle(hadid, AcmObject::Kind::DriverId)) return MMSYSERR_INVALHANDLE;
    if (details == nullptr) return MMSYSERR_INVALPARAM;
    if (flags) return MMSYSERR_INVALFLAG;
    const auto* d = static_cast<const Driver*>(hadid);
    ACMDRIVERDETAILSA a{};
    a.cbStruct = sizeof a;
    a.fccType = MakeFourCC("audc");
    a.fccComp = 0;
    a.wMid = 1;
    a.wPid = 1;
    a.vdwACM = kAcmVersion;
    a.vdwDriver = kAcmVersion;
    a.fdwSupport = d->support;
    a.cFormatTags = static_cast<DWORD>(d->tags.size());
    a.cFilterTags = static_cast<DWORD>(d->filterTags.size());
    CopyText(a.szShortName, sizeof a.szShortName, d->shortName);
    CopyText(a.szLongName, sizeof a.szLongName, d->longName);
    CopyText(a.szCopyright, sizeof a.szCopyright, "Snapreel developers");
    CopyText(a.szLicensing, sizeof a.szLicensing, "");
    CopyText(a.szFeatures, sizeof a.szFeatures, d->features);
    return CopyOut(details, a);
}

ACM_EXPORT MMRESULT acmDriverAddA(HACMDRIVERID*, HINSTANCE, LPARAM, DWORD, DWORD) {
    // The drivers are built into the module.
    return MMSYSERR_NOTSUPPORTED;
}

ACM_EXPORT MMRESULT acmDriverRemove(HACMDRIVERID hadid, DWORD) {
    return IsHandle(hadid, AcmObject::Kind::DriverId) ? MMSYSERR_NOTSUPPORTED
                                                      : MMSYSERR_INVALHANDLE;
}

ACM_EXPORT MMRESULT acmDriverOpen(HACMDRIVER* phad, HACMDRIVERID hadid, DWORD flags) {
    if (phad == nullptr) return MMSYSERR_INVALPARAM;
    *phad = nullptr;
    if (!IsHandle(hadid, AcmObject::Kind::DriverId)) return MMSYSERR_INVALHANDLE;
    if (flags) return MMSYSERR_INVALFLAG;
    auto* h = new OpenDriver(static_cast<const Driver*>(hadid));
    RegisterHandle(h);
    *phad = h;
    return MMSYSERR_NOERROR;
}

ACM_EXPORT MMRESULT acmDriverClose(HACMDRIVER had, DWORD flags) {
    if (!IsHandle(had, AcmObject::Kind::Driver)) return MMSYSERR_INVALHANDLE;
    if (flags) return MMSYSERR_INVALFLAG;
    UnregisterHandle(had);
    delete static_cast<OpenDriver*>(had);
    return MMSYSERR_NOERROR;
}

ACM_EXPORT LRESULT acmDriverMessage(HACMDRIVER had, UINT, LPARAM, LPARAM) {
    if (!IsHandle(had, AcmObject::Kind::Driver)) return MMSYSERR_INVALHANDLE;
    return MMSYSERR_NOTSUPPORTED;
}

ACM_EXPORT MMRESULT acmDriverID(HACMOBJ hao, HACMDRIVERID* phadid, DWORD flags) {
    if (phadid == nullptr) return MMSYSERR_INVALPARAM;
    if (flags) return MMSYSERR_INVALFLAG;
    if (IsHandle(hao, AcmObject::Kind::Driver)) {
        *phadid = const_cast<Driver*>(static_cast<OpenDriver*>(hao)->driver);
    } else if (Stream* s = AsStream(hao)) {
        *phadid = const_cast<Driver*>(s->driver);
    } else if (IsHandle(hao, AcmObject::Kind::DriverId)) {
        *phadid = hao;
    } else {
        return MMSYSERR_INVALHANDLE;
    }
    return MMSYSERR_NOERROR;
}

ACM_EXPORT MMRESULT acmDriverPriority(HACMDRIVERID hadid, DWORD, DWORD) {
    if (hadid != nullptr && !IsHandle(hadid, AcmObject::Kind::DriverId))
        return MMSYSERR_INVALHANDLE;
    return MMSYSERR_NOTSUPPORTED;
}

// ---------------------------------------------------------------------------
// Formats

ACM_EXPORT MMRESULT acmFormatTagDetailsA(HACMDRIVER had, ACMFORMATTAGDETAILSA* details,
                                         DWORD flags) {
    if (!ValidHandleOrNull(had)) return MMSYSERR_INVALHANDLE;
    if (details == nullptr || details->cbStruct < sizeof(DWORD)) return MMSYSERR_INVALPARAM;
    ACMFORMATTAGDETAILSA a{};
    a.cbStruct = sizeof a;
    const std::vector<TagRef> tags = TagsOf(had);
    switch (flags) {
    case ACM_FORMATTAGDETAILSF_INDEX:
        if (details->dwFormatTagIndex >= tags.size()) return ACMERR_NOTPOSSIBLE;
        FillTag(a, tags[details->dwFormatTagIndex], details->dwFormatTagIndex);
        break;
    case ACM_FORMATTAGDETAILSF_FORMATTAG:
    case ACM_FORMATTAGDETAILSF_LARGESTSIZE: {
        const bool any = flags == ACM_FORMATTAGDETAILSF_LARGESTSIZE && details->dwFormatTag == 0;
        const TagRef* best = nullptr;
        DWORD index = 0;
        for (std::size_t i = 0; i < tags.size(); ++i)
            if ((any || tags[i].tag->tag == details->dwFormatTag) &&
                (!best || tags[i].tag->largest > best->tag->largest)) {
                best = &tags[i];
                index = static_cast<DWORD>(i);
            }
        if (!best) return ACMERR_NOTPOSSIBLE;
        FillTag(a, *best, index);
        break;
    }
    default:
        return MMSYSERR_INVALFLAG;
    }
    return CopyOut(details, a);
}

ACM_EXPORT MMRESULT acmFormatTagEnumA(HACMDRIVER had, ACMFORMATTAGDETAILSA* details,
                                      ACMFORMATTAGENUMCBA callback, DWORD_PTR instance,
                                      DWORD flags) {
    if (!ValidHandleOrNull(had)) return MMSYSERR_INVALHANDLE;
    if (details == nullptr || callback == nullptr || details->cbStruct < sizeof(DWORD))
        return MMSYSERR_INVALPARAM;
    if (flags) return MMSYSERR_INVALFLAG;
    const std::vector<TagRef> tags = TagsOf(had);
    for (std::size_t i = 0; i < tags.size(); ++i) {
        ACMFORMATTAGDETAILSA a{};
        a.cbStruct = sizeof a;
        FillTag(a, tags[i], static_cast<DWORD>(i));
        CopyOut(details, a);
        if (!callback(const_cast<Driver*>(tags[i].driver), details, instance,
                      tags[i].driver->support))
            break;
    }
    return MMSYSERR_NOERROR;
}

ACM_EXPORT MMRESULT acmFormatDetailsA(HACMDRIVER had, ACMFORMATDETAILSA* details, DWORD flags) {
    if (!ValidHandleOrNull(had)) return MMSYSERR_INVALHANDLE;
    if (details == nullptr || details->cbStruct < offsetof(ACMFORMATDETAILSA, szFormat) ||
        details->pwfx == nullptr || details->cbwfx < sizeof(WAVEFORMATEX))
        return MMSYSERR_INVALPARAM;
    const DWORD textRoom = details->cbStruct - offsetof(ACMFORMATDETAILSA, szFormat);
    for (const TagRef& r : TagsOf(had)) {
        if (flags == ACM_FORMATDETAILSF_INDEX) {
            if (r.tag->tag != details->dwFormatTag) continue;
            if (details->dwFormatIndex >= r.tag->formats.size()) return ACMERR_NOTPOSSIBLE;
            const Bytes& f = r.tag->formats[details->dwFormatIndex];
            if (details->cbwfx < f.size()) return MMSYSERR_INVALPARAM;
            std::memcpy(details->pwfx, f.data(), f.size());
        } else if (flags == ACM_FORMATDETAILSF_FORMAT) {
            if (r.tag->tag != details->pwfx->wFormatTag) continue;
            details->dwFormatTag = r.tag->tag;
        } else {
            return MMSYSERR_INVALFLAG;
        }
        details->fdwSupport = r.driver->support;
        CopyText(details->szFormat, std::min<DWORD>(textRoom, sizeof details->szFormat),
                 r.driver->Describe(details->pwfx));
        return MMSYSERR_NOERROR;
    }
    return flags > ACM_FORMATDETAILSF_FORMAT ? MMSYSERR_INVALFLAG : ACMERR_NOTPOSSIBLE;
}

ACM_EXPORT MMRESULT acmFormatEnumA(HACMDRIVER had, ACMFORMATDETAILSA* details,
                                   ACMFORMATENUMCBA callback, DWORD_PTR instance, DWORD flags) {
    if (!ValidHandleOrNull(had)) return MMSYSERR_INVALHANDLE;
    if (details == nullptr || callback == nullptr || details->pwfx == nullptr ||
        details->cbStruct < sizeof(ACMFORMATDETAILSA) || details->cbwfx < sizeof(WAVEFORMATEX))
        return MMSYSERR_INVALPARAM;
    if (flags & ~ACM_FORMATENUMF_TYPEMASK) return MMSYSERR_INVALFLAG;
    // The restrictions refer to the format as given; the enumeration then
    // writes each format into the same record.
    const Bytes ref = FormatBytes(details->pwfx);
    for (const TagRef& r : TagsOf(had)) {
        for (std::size_t i = 0; i < r.tag->formats.size(); ++i) {
            const Bytes& f = r.tag->formats[i];
            if (f.size() > details->cbwfx ||
                !PassesEnum(*r.driver, AsFormat(f), AsFormat(ref), flags))
                continue;
            std::memcpy(details->pwfx, f.data(), f.size());
            details->dwFormatIndex = static_cast<DWORD>(i);
            details->dwFormatTag = r.tag->tag;
            details->fdwSupport = r.driver->support;
            CopyText(details->szFormat, sizeof details->szFormat, r.driver->Describe(AsFormat(f)));
            if (!callback(const_cast<Driver*>(r.driver), details, instance, r.driver->support))
                return MMSYSERR_NOERROR;
        }
    }
    return MMSYSERR_NOERROR;
}

ACM_EXPORT MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* src, WAVEFORMATEX* dst,
                                     DWORD cbDst, DWORD flags) {
    if (!ValidHandleOrNull(had)) return MMSYSERR_INVALHANDLE;
    if (src == nullptr || dst == nullptr || cbDst < sizeof(WAVEFORMATEX))
        return MMSYSERR_INVALPARAM;
    if (flags & ~ACM_FORMATSUGGESTF_TYPEMASK) return MMSYSERR_INVALFLAG;
    Constraints c;
    c.flags = flags;
    c.tag = dst->wFormatTag;
    c.channels = dst->nChannels;
    c.rate = dst->nSamplesPerSec;
    c.bits = dst->wBitsPerSample;
    Bytes out;
    const MMRESULT r = SuggestFormat(had, src, out, c);
    if (r != MMSYSERR_NOERROR) return r;
    if (out.size() > cbDst) return ACMERR_NOTPOSSIBLE;
    std::memcpy(dst, out.data(), out.size());
    return MMSYSERR_NOERROR;
}

// ---------------------------------------------------------------------------
// Filters

ACM_EXPORT MMRESULT acmFilterTagDetailsA(HACMDRIVER had, ACMFILTERTAGDETAILSA* details,
                                         DWORD flags) {
    if (!ValidHandleOrNull(had)) return MMSYSERR_INVALHANDLE;
    if (details == nullptr || details->cbStruct < sizeof(DWORD)) return MMSYSERR_INVALPARAM;
    ACMFILTERTAGDETAILSA a{};
    a.cbStruct = sizeof a;
    const std::vector<FilterRef> tags = FilterTagsOf(had);
    switch (flags) {
    case ACM_FILTERTAGDETAILSF_INDEX:
        if (details->dwFilterTagIndex >= tags.size()) return ACMERR_NOTPOSSIBLE;
        FillFilterTag(a, tags[details->dwFilterTagIndex], details->dwFilterTagIndex);
        break;
    case ACM_FILTERTAGDETAILSF_FILTERTAG:
    case ACM_FILTERTAGDETAILSF_LARGESTSIZE: {
        const bool any = flags == ACM_FILTERTAGDETAILSF_LARGESTSIZE && details->dwFilterTag == 0;
        const FilterRef* best = nullptr;
        DWORD index = 0;
        for (std::size_t i = 0; i < tags.size(); ++i)
            if ((any || tags[i].tag->tag == details->dwFilterTag) &&
                (!best || tags[i].tag->size > best->tag->size)) {
                best = &tags[i];
                index = static_cast<DWORD>(i);
            }
        if (!best) return ACMERR_NOTPOSSIBLE;
        FillFilterTag(a, *best, index);
        break;
    }
    default:
        return MMSYSERR_INVALFLAG;
    }
    return CopyOut(details, a);
}

ACM_EXPORT MMRESULT acmFilterTagEnumA(HACMDRIVER had, ACMFILTERTAGDETAILSA* details,
                                      ACMFILTERTAGENUMCBA callback, DWORD_PTR instance,
                                      DWORD flags) {
    if (!ValidHandleOrNull(had)) return MMSYSERR_INVALHANDLE;
    if (details == nullptr || callback == nullptr || details->cbStruct < sizeof(DWORD))
        return MMSYSERR_INVALPARAM;
    if (flags) return MMSYSERR_INVALFLAG;
    const std::vector<FilterRef> tags = FilterTagsOf(had);
    for (std::size_t i = 0; i < tags.size(); ++i) {
        ACMFILTERTAGDETAILSA a{};
        a.cbStruct = sizeof a;
        FillFilterTag(a, tags[i], static_cast<DWORD>(i));
        CopyOut(details, a);
        if (!callback(const_cast<Driver*>(tags[i].driver), details, instance,
                      tags[i].driver->support))
            break;
    }
    return MMSYSERR_NOERROR;
}

ACM_EXPORT MMRESULT acmFilterDetailsA(HACMDRIVER had, ACMFILTERDETAILSA* details, DWORD flags) {
    if (!ValidHandleOrNull(had)) return MMSYSERR_INVALHANDLE;
    if (details == nullptr || details->cbStruct < sizeof(ACMFILTERDETAILSA) ||
        details->pwfltr == nullptr || details->cbwfltr < sizeof(WAVEFILTER))
        return MMSYSERR_INVALPARAM;
    for (const FilterRef& r : FilterTagsOf(had)) {
        if (flags == ACM_FILTERDETAILSF_INDEX) {
            if (r.tag->tag != details->dwFilterTag) continue;
            if (details->dwFilterIndex >= r.tag->filters.size()) return ACMERR_NOTPOSSIBLE;
            const Bytes& f = r.tag->filters[details->dwFilterIndex];
            if (details->cbwfltr < f.size()) return MMSYSERR_INVALPARAM;
            std::memcpy(details->pwfltr, f.data(), f.size());
        } else if (flags == ACM_FILTERDETAILSF_FILTER) {
            if (r.tag->tag != details->pwfltr->dwFilterTag) continue;
            details->dwFilterTag = r.tag->tag;
        } else {
            return MMSYSERR_INVALFLAG;
        }
        const std::string text = r.driver->DescribeFilter(details->pwfltr);
        if (text.empty()) return ACMERR_NOTPOSSIBLE;
        details->fdwSupport = r.driver->support;
        CopyText(details->szFilter, sizeof details->szFilter, text);
        return MMSYSERR_NOERROR;
    }
    return flags > ACM_FILTERDETAILSF_FILTER ? MMSYSERR_INVALFLAG : ACMERR_NOTPOSSIBLE;
}

ACM_EXPORT MMRESULT acmFilterEnumA(HACMDRIVER had, ACMFILTERDETAILSA* details,
                                   ACMFILTERENUMCBA callback, DWORD_PTR instance, DWORD flags) {
    if (!ValidHandleOrNull(had)) return MMSYSERR_INVALHANDLE;
    if (details == nullptr || callback == nullptr || details->pwfltr == nullptr ||
        details->cbStruct < sizeof(ACMFILTERDETAILSA) || details->cbwfltr < sizeof(WAVEFILTER))
        return MMSYSERR_INVALPARAM;
    if (flags & ~ACM_FILTERENUMF_DWFILTERTAG) return MMSYSERR_INVALFLAG;
    const DWORD only = details->pwfltr->dwFilterTag;
    for (const FilterRef& r : FilterTagsOf(had)) {
        if ((flags & ACM_FILTERENUMF_DWFILTERTAG) && r.tag->tag != only) continue;
        for (std::size_t i = 0; i < r.tag->filters.size(); ++i) {
            const Bytes& f = r.tag->filters[i];
            if (f.size() > details->cbwfltr) continue;
            std::memcpy(details->pwfltr, f.data(), f.size());
            details->dwFilterIndex = static_cast<DWORD>(i);
            details->dwFilterTag = r.tag->tag;
            details->fdwSupport = r.driver->support;
            CopyText(details->szFilter, sizeof details->szFilter,
                     r.driver->DescribeFilter(details->pwfltr));
            if (!callback(const_cast<Driver*>(r.driver), details, instance, r.driver->support))
                return MMSYSERR_NOERROR;
        }
    }
    return MMSYSERR_NOERROR;
}

// ---------------------------------------------------------------------------
// Streams

ACM_EXPORT MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* src,
                                  const WAVEFORMATEX* dst, const WAVEFILTER* filter, DWORD_PTR,
                                  DWORD_PTR, DWORD flags) {
    const bool query = flags & ACM_STREAMOPENF_QUERY;
    if (phas) *phas = nullptr;
    if (!ValidHandleOrNull(had)) return MMSYSERR_INVALHANDLE;
    if (src == nullptr || dst == nullptr || (!query && phas == nullptr)) return MMSYSERR_INVALPARAM;
    if (flags & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME))
        return MMSYSERR_INVALFLAG;
    // No callbacks: every conversion finishes before acmStreamConvert returns.
    if (flags & ACM_STREAMOPENF_ASYNC) return ACMERR_NOTPOSSIBLE;
    const Driver* driver = nullptr;
    std::unique_ptr<Converter> conv;
    const MMRESULT r = OpenStream(had, src, dst, filter, &driver, query ? nullptr : &conv);
    if (r != MMSYSERR_NOERROR || query) return r;
    auto* s = new Stream;
    s->driver = driver;
    s->converter = std::move(conv);
    RegisterHandle(s);
    *phas = s;
    return MMSYSERR_NOERROR;
}

ACM_EXPORT MMRESULT acmStreamClose(HACMSTREAM has, DWORD flags) {
    Stream* s = AsStream(has);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (flags) return MMSYSERR_INVALFLAG;
    UnregisterHandle(s);
    delete s;
    return MMSYSERR_NOERROR;
}

ACM_EXPORT MMRESULT acmStreamSize(HACMSTREAM has, DWORD input, DWORD* output, DWORD flags) {
    Stream* s = AsStream(has);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (output == nullptr) return MMSYSERR_INVALPARAM;
    if (flags & ~ACM_STREAMSIZEF_QUERYMASK) return MMSYSERR_INVALFLAG;
    *output = 0;
    switch (flags & ACM_STREAMSIZEF_QUERYMASK) {
    case ACM_STREAMSIZEF_SOURCE:
        *output = input ? s->converter->OutputSize(input) : 0;
        break;
    case ACM_STREAMSIZEF_DESTINATION:
        *output = input ? s->converter->InputSize(input) : 0;
        break;
    default:
        return MMSYSERR_INVALFLAG;
    }
    return input && *output == 0 ? ACMERR_NOTPOSSIBLE : MMSYSERR_NOERROR;
}

ACM_EXPORT MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* h, DWORD flags) {
    if (!AsStream(has)) return MMSYSERR_INVALHANDLE;
    if (h == nullptr || h->cbStruct < sizeof(ACMSTREAMHEADER) || h->pbSrc == nullptr ||
        h->pbDst == nullptr)
        return MMSYSERR_INVALPARAM;
    if (flags) return MMSYSERR_INVALFLAG;
    if (h->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) return MMSYSERR_NOERROR;
    SavePrepared(h);
    h->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

ACM_EXPORT MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* h, DWORD flags) {
    if (!AsStream(has)) return MMSYSERR_INVALHANDLE;
    if (h == nullptr || h->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
    if (flags) return MMSYSERR_INVALFLAG;
    if (!(h->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    // The lengths must be back at their prepared values.
    if (!MatchesPrepared(h, true)) return MMSYSERR_INVALPARAM;
    h->fdwStatus &= ~(ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE);
    return MMSYSERR_NOERROR;
}

ACM_EXPORT MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* h, DWORD flags) {
    Stream* s = AsStream(has);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (h == nullptr || h->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
    if (flags &
        ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
        return MMSYSERR_INVALFLAG;
    if (!(h->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    if (!MatchesPrepared(h, false)) return MMSYSERR_INVALPARAM;
    h->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    DWORD used = 0, produced = 0;
    MMRESULT r;
    try {
        r = s->converter->Convert(h->pbSrc, h->cbSrcLength, used, h->pbDst, h->cbDstLength,
                                  produced, flags);
    } catch (const std::bad_alloc&) {
        r = MMSYSERR_NOMEM;
    }
    h->cbSrcLengthUsed = used;
    h->cbDstLengthUsed = produced;
    h->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return r;
}

ACM_EXPORT MMRESULT acmStreamReset(HACMSTREAM has, DWORD flags) {
    if (!AsStream(has)) return MMSYSERR_INVALHANDLE;
    if (flags) return MMSYSERR_INVALFLAG;
    // Conversions are synchronous: nothing is ever pending.
    return MMSYSERR_NOERROR;
}
