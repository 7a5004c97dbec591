// The marker list: named position markers over a wave or another value
// range, kept in the order of their offsets by AddMarker, SetOffset, Assign
// and Sort; Add, Insert, Put, Exchange and Move place markers where they
// are told. Several markers may share an offset. Markers pair up through
// their identifiers, which FindFreeID hands out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "editing/lumreclst.h"
#include "platform/base/colors.h"

namespace lum {

// A value stored at any address. Marker records lie back to back without
// alignment, so their numbers are copied in and out, never bound to a
// reference (which would be a misaligned access).
template <class T>
struct TUnaligned {
    std::uint8_t Bytes[sizeof(T)];

    operator T() const {
        T value;
        std::memcpy(&value, Bytes, sizeof value);
        return value;
    }
    TUnaligned& operator=(T value) {
        std::memcpy(Bytes, &value, sizeof value);
        return *this;
    }
};

// One marker, 363 bytes with no padding. The list and the marker panel
// read the identifiers, the offset, the name, the two flags and the colour;
// the rest of the text area and the reserved bytes travel with the record
// unread.
struct TLumMarker {
    TUnaligned<std::int32_t> ID;          // above 0 when handed out by FindFreeID
    TUnaligned<std::int32_t> ConnectedID; // the paired marker's ID; 0 or less for none
    TUnaligned<std::int32_t> Offset;      // position in the list's units; the sort key
    // The name as a length byte and its characters, then further text.
    std::uint8_t Text[337];
    std::uint8_t Locked;  // nonzero: the user may not drag the marker
    std::uint8_t Visible; // nonzero: the marker is drawn
    TUnaligned<TColor> Color;
    std::uint8_t Reserved[8];

    std::string GetName() const;
    // Names longer than 255 characters are cut to 255.
    void SetName(const std::string& name);
};
static_assert(sizeof(TLumMarker) == 363, "a marker record is 363 bytes");
static_assert(offsetof(TLumMarker, Offset) == 8);
static_assert(offsetof(TLumMarker, Text) == 12);
static_assert(offsetof(TLumMarker, Locked) == 349);
static_assert(offsetof(TLumMarker, Visible) == 350);
static_assert(offsetof(TLumMarker, Color) == 351);
static_assert(offsetof(TLumMarker, Reserved) == 355);

// Orders markers by offset alone: negative, zero or positive.
int CompareMarkers(const TLumMarker& a, const TLumMarker& b);

class TLumMarkerList : public TLumRecordList<TLumMarker> {
public:
    TLumMarkerList() = default;

    // Inserts after every marker at or below Marker's offset; the index.
    int AddMarker(const TLumMarker& marker);
    void Exchange(int index1, int index2);
    // Takes the marker out at From and puts it in at To (both checked
    // first); nothing when they are equal.
    void Move(int from, int to);
    // The first marker at Marker's offset, or -1.
    int IndexOf(const TLumMarker& marker) const;
    // Deletes the first marker at Marker's offset; its former index or -1.
    int Remove(const TLumMarker& marker);

    // Moves a marker and sorts again, in one update; the marker's index
    // may change.
    void SetOffset(int index, std::int32_t position);
    // Changes only when the colour differs.
    void SetColor(int index, TColor color);

    // The insertion index for Position: -1 for an empty list, Count when
    // the last offset is at or below it, else the first offset above it.
    int LocateMarker(std::int32_t position) const;
    // The last marker exactly at Position, or -1.
    int FindMarker(std::int32_t position) const;
    bool QueryMarker(std::int32_t position) const { return FindMarker(position) == -1; }
    // The first marker whose ID is the connected ID of the marker at Index;
    // -1 when it has none or nobody has that ID.
    int FindConnectedMarker(int index) const;
    // An ID above 0 that no marker has. The generator is seeded once per
    // thread, so calls in quick succession differ.
    std::int32_t FindFreeID() const;
    // The same, drawing candidates from Draw (values 0 to 2147483646);
    // Draw must come up with a free ID eventually.
    std::int32_t FindFreeID(const std::function<std::int32_t()>& draw) const;

    // A Shell sort on the offset, ascending (gaps ..., 40, 13, 4, 1, the
    // first above Count div 9); markers at equal offsets keep their order
    // within each gap's pass.
    void Sort();
    // Copies another marker list (or empties the list for null) and sorts,
    // in one update; the list itself is left alone. Any other source is
    // refused by the persistent base.
    void Assign(const TPersistent* source) override;
};

} // namespace lum
