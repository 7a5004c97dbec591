#include "editing/lummrklst.h"

#include <chrono>
#include <cstring>
#include <random>

namespace lum {
namespace {

std::int64_t OffsetOf(const TLumMarker& m) {
    return m.Offset;
}

} // namespace

std::string TLumMarker::GetName() const {
    return std::string(reinterpret_cast<const char*>(Text + 1), Text[0]);
}

void TLumMarker::SetName(const std::string& name) {
    std::size_t length = std::min<std::size_t>(name.size(), 255);
    Text[0] = static_cast<std::uint8_t>(length);
    std::memcpy(Text + 1, name.data(), length);
}

int CompareMarkers(const TLumMarker& a, const TLumMarker& b) {
    return a.Offset < b.Offset ? -1 : a.Offset > b.Offset ? 1 : 0;
}

int TLumMarkerList::AddMarker(const TLumMarker& marker) {
    int index = LocateMarker(marker.Offset);
    if (index >= 0 && index < GetCount()) {
        Insert(index, marker);
        return index;
    }
    return Add(marker);
}

void TLumMarkerList::Exchange(int index1, int index2) {
    CheckIndex(index1);
    CheckIndex(index2);
    Changing();
    std::swap(At(index1), At(index2));
    Changed();
}

void TLumMarkerList::Move(int from, int to) {
    if (from == to) return;
    CheckIndex(from);
    CheckIndex(to);
    TLumMarker marker = At(from);
    Delete(from);
    Insert(to, marker);
}

int TLumMarkerList::IndexOf(const TLumMarker& marker) const {
    for (int i = 0; i < GetCount(); ++i)
        if (CompareMarkers(At(i), marker) == 0) return i;
    return -1;
}

int TLumMarkerList::Remove(const TLumMarker& marker) {
    int index = IndexOf(marker);
    if (index >= 0) Delete(index);
    return index;
}

void TLumMarkerList::SetOffset(int index, std::int32_t position) {
    CheckIndex(index);
    BeginUpdate();
    At(index).Offset = position;
    Sort();
    EndUpdate();
}

void TLumMarkerList::SetColor(int index, TColor color) {
    CheckIndex(index);
    if (At(index).Color == color) return;
    Changing();
    At(index).Color = color;
    Changed();
}

int TLumMarkerList::LocateMarker(std::int32_t position) const {
    return Locate(position, OffsetOf);
}

int TLumMarkerList::FindMarker(std::int32_t position) const {
    int index = LocateMarker(position);
    int candidate;
    if (index > 0 && index <= GetCount())
        candidate = index - 1;
    else if (index == 0 && GetCount() > 0)
        candidate = 0;
    else
        return -1;
    return At(candidate).Offset == position ? candidate : -1;
}

int TLumMarkerList::FindConnectedMarker(int index) const {
    CheckIndex(index);
    std::int32_t connected = At(index).ConnectedID;
    if (connected <= 0) return -1;
    for (int i = 0; i < GetCount(); ++i)
        if (At(i).ID == connected) return i;
    return -1;
}

std::int32_t TLumMarkerList::FindFreeID() const {
    thread_local std::mt19937 generator(static_cast<std::mt19937::result_type>(
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())));
    std::uniform_int_distribution<std::int32_t> range(0, 2147483646);
    return FindFreeID([&] { return range(generator); });
}

std::int32_t TLumMarkerList::FindFreeID(const std::function<std::int32_t()>& draw) const {
    for (;;) {
        std::int32_t id = draw();
        if (id <= 0) continue;
        bool taken = false;
        for (int i = 0; i < GetCount() && !taken; ++i)
            taken = At(i).ID == id;
        if (!taken) return id;
    }
}

void TLumMarkerList::Sort() {
    int count = GetCount();
    int gap = 1;
    while (gap <= count / 9)
        gap = 3 * gap + 1;
    for (; gap > 0; gap /= 3) {
        for (int i = gap; i < count; ++i) {
            TLumMarker marker = At(i);
            int j = i;
            while (j >= gap && marker.Offset < At(j - gap).Offset) {
                At(j) = At(j - gap);
                j -= gap;
            }
            At(j) = marker;
        }
    }
}

void TLumMarkerList::Assign(const TPersistent* source) {
    if (source == this) return;
    auto* list = dynamic_cast<const TLumMarkerList*>(source);
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
            Sort();
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

} // namespace lum
