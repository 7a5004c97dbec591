#include "editing/lumcutlst.h"

#include <algorithm>

namespace lum {
namespace {

std::int64_t StartOf(const TLumCutRegion& r) {
    return r.Start;
}

// Position within the span from A to B, in whichever order they come.
bool Within(std::int64_t position, std::int64_t a, std::int64_t b) {
    return position >= std::min(a, b) && position <= std::max(a, b);
}

} // namespace

bool TLumCutList::AddRegion(const TLumCutRegion& region) {
    if (region.Length < 0 || !QueryRegion(region.Start)) return false;
    int index = LocateRegion(region.Start);
    if (index >= 0 && index < GetCount()) {
        // The region found starts above Region's start; Region must end
        // before it, or the wave would play part of a cut.
        if (std::int64_t{region.Start} + region.Length > At(index).Start) return false;
        Insert(index, region);
    } else {
        Add(region);
    }
    return true;
}

int TLumCutList::Remove(const TLumCutRegion& region) {
    int index = IndexOf(region);
    if (index >= 0) Delete(index);
    return index;
}

int TLumCutList::IndexOf(const TLumCutRegion& region) const {
    for (int i = 0; i < GetCount(); ++i)
        if (At(i).Start == region.Start && At(i).Length == region.Length) return i;
    return -1;
}

void TLumCutList::SetParams(int index, std::int32_t start, std::int32_t length) {
    CheckIndex(index);
    BeginUpdate();
    At(index).Start = start;
    At(index).Length = length;
    EndUpdate();
}

int TLumCutList::LocateRegion(std::int32_t position) const {
    return Locate(position, StartOf);
}

int TLumCutList::FindRegion(std::int32_t position) const {
    int index = LocateRegion(position);
    if (index <= 0 || index > GetCount()) return -1;
    const TLumCutRegion& r = At(index - 1);
    return Within(position, r.Start, std::int64_t{r.Start} + r.Length - 1) ? index - 1 : -1;
}

void TLumCutList::Assign(const TPersistent* source) {
    if (source == this) return;
    auto* list = dynamic_cast<const TLumCutList*>(source);
    if (source != nullptr && list == nullptr) {
        TLumRecordList::Assign(source);
        return;
    }
    BeginUpdate();
    try {
        Clear();
        if (list) {
            SetCapacity(list->GetCount());
            for (int i = 0; i < list->GetCount(); ++i)
                Add(list->At(i));
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

} // namespace lum
