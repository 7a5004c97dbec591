// acmFormatChooseA and acmFilterChooseA: the lists the user picks from are
// built here, by the same rules as the enumerations, and shown by the Qt
// dialog of platform/ui.
#include <cstring>

#include "platform/acm/acm_internal.h"
#include "platform/ui/acm/choosedialog.h"

#define ACM_EXPORT extern "C" __attribute__((visibility("default")))

using namespace lum::platform;
using namespace lum::platform::acm;
using namespace lum::platform::acm::detail;
namespace choose = lum::platform::ui::acm;

namespace {

struct Entry {
    const Driver* driver;
    Bytes record;
    std::string text;
};

struct Group {
    std::string name;
    std::vector<Entry> entries;
};

MMRESULT Show(std::vector<Group>& groups, void* owner, const char* title, const char* fallback,
              const char* groupLabel, int& group, int& item) {
    if (groups.empty()) return ACMERR_NOTPOSSIBLE;
    choose::ChoiceRequest request;
    request.owner = owner;
    request.title = title && *title ? title : fallback;
    request.groupLabel = groupLabel;
    request.itemLabel = "Attributes:";
    for (const Group& g : groups) {
        choose::ChoiceGroup cg;
        cg.name = g.name;
        for (const Entry& e : g.entries)
            cg.items.push_back(e.text);
        request.groups.push_back(std::move(cg));
    }
    request.group = group;
    request.item = item;
    switch (choose::RunChoiceDialog(request)) {
    case choose::ChoiceResult::Chosen:
        group = request.group;
        item = request.item;
        return MMSYSERR_NOERROR;
    case choose::ChoiceResult::Cancelled:
        return ACMERR_CANCELED;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}

} // namespace

ACM_EXPORT MMRESULT acmFormatChooseA(ACMFORMATCHOOSEA* c) {
    if (c == nullptr || c->cbStruct < sizeof(ACMFORMATCHOOSEA) || c->pwfx == nullptr ||
        c->cbwfx < sizeof(WAVEFORMATEX))
        return MMSYSERR_INVALPARAM;
    if (c->fdwEnum & ~ACM_FORMATENUMF_TYPEMASK) return MMSYSERR_INVALFLAG;
    const bool needsRef =
        c->fdwEnum &
        (ACM_FORMATENUMF_WFORMATTAG | ACM_FORMATENUMF_NCHANNELS | ACM_FORMATENUMF_NSAMPLESPERSEC |
         ACM_FORMATENUMF_WBITSPERSAMPLE | ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST);
    if (needsRef && c->pwfxEnum == nullptr) return MMSYSERR_INVALPARAM;
    const Bytes ref = FormatBytes(c->pwfxEnum);
    Bytes initial;
    if ((c->fdwStyle & ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT) && FormatSize(c->pwfx) <= c->cbwfx)
        initial = FormatBytes(c->pwfx);
    const WAVEFORMATEX* refFormat = ref.empty() ? nullptr : AsFormat(ref);

    std::vector<Group> groups;
    int group = 0, item = 0;
    for (const auto& d : Drivers())
        for (const FormatTag& t : d->tags) {
            Group g{t.name, {}};
            for (const Bytes& f : t.formats)
                if (f.size() <= c->cbwfx && PassesEnum(*d, AsFormat(f), refFormat, c->fdwEnum))
                    g.entries.push_back({d.get(), f, d->Describe(AsFormat(f))});
            if (g.entries.empty()) continue;
            if (!initial.empty())
                for (std::size_t i = 0; i < g.entries.size(); ++i)
                    if (SameFormat(AsFormat(g.entries[i].record), AsFormat(initial))) {
                        group = static_cast<int>(groups.size());
                        item = static_cast<int>(i);
                    }
            groups.push_back(std::move(g));
        }
    const MMRESULT r =
        Show(groups, c->hwndOwner, c->pszTitle, "Sound Selection", "Format:", group, item);
    if (r != MMSYSERR_NOERROR) return r;
    const Entry& e =
        groups[static_cast<std::size_t>(group)].entries[static_cast<std::size_t>(item)];
    std::memcpy(c->pwfx, e.record.data(), e.record.size());
    CopyText(c->szFormatTag, sizeof c->szFormatTag, groups[static_cast<std::size_t>(group)].name);
    CopyText(c->szFormat, sizeof c->szFormat, e.text);
    if (c->pszName && c->cchName) c->pszName[0] = 0;
    return MMSYSERR_NOERROR;
}

ACM_EXPORT MMRESULT acmFilterChooseA(ACMFILTERCHOOSEA* c) {
    if (c == nullptr || c->cbStruct < sizeof(ACMFILTERCHOOSEA) || c->pwfltr == nullptr ||
        c->cbwfltr < sizeof(WAVEFILTER))
        return MMSYSERR_INVALPARAM;
    if (c->fdwEnum & ~ACM_FILTERENUMF_DWFILTERTAG) return MMSYSERR_INVALFLAG;
    if ((c->fdwEnum & ACM_FILTERENUMF_DWFILTERTAG) && c->pwfltrEnum == nullptr)
        return MMSYSERR_INVALPARAM;
    std::vector<Group> groups;
    int group = 0, item = 0;
    for (const auto& d : Drivers())
        for (const FilterTag& t : d->filterTags) {
            if ((c->fdwEnum & ACM_FILTERENUMF_DWFILTERTAG) && t.tag != c->pwfltrEnum->dwFilterTag)
                continue;
            Group g{t.name, {}};
            for (const Bytes& f : t.filters) {
                const auto* filter = reinterpret_cast<const WAVEFILTER*>(f.data());
                if (f.size() > c->cbwfltr) continue;
                g.entries.push_back({d.get(), f, d->DescribeFilter(filter)});
                if ((c->fdwStyle & ACMFILTERCHOOSE_STYLEF_INITTOFILTERSTRUCT) &&
                    c->pwfltr->cbStruct == f.size() &&
                    std::memcmp(c->pwfltr, f.data(), f.size()) == 0) {
                    group = static_cast<int>(groups.size());
                    item = static_cast<int>(g.entries.size() - 1);
                }
            }
            if (!g.entries.empty()) groups.push_back(std::move(g));
        }
    const MMRESULT r =
        Show(groups, c->hwndOwner, c->pszTitle, "Filter Selection", "Filter:", group, item);
    if (r != MMSYSERR_NOERROR) return r;
    const Entry& e =
        groups[static_cast<std::size_t>(group)].entries[static_cast<std::size_t>(item)];
    std::memcpy(c->pwfltr, e.record.data(), e.record.size());
    CopyText(c->szFilterTag, sizeof c->szFilterTag, groups[static_cast<std::size_t>(group)].name);
    CopyText(c->szFilter, sizeof c->szFilter, e.text);
    if (c->pszName && c->cchName) c->pszName[0] = 0;
    return MMSYSERR_NOERROR;
}
