// The cut list: regions of a wave, each given in samples and in bytes. The
// wave object keeps the user's regions to cut out in one and the regions
// left to play in another. AddRegion keeps the list sorted by start with no
// two regions sharing a sample; Add, Insert, Put and SetParams place
// regions where they are told and leave the order to the caller.
#pragma once

#include <cstdint>

#include "editing/lumreclst.h"

namespace lum {

struct TLumCutRegion {
    std::int32_t Start;        // first sample
    std::uint32_t StartBytes;  // the same position in bytes
    std::int32_t Length;       // samples
    std::uint32_t LengthBytes; // the same length in bytes
    std::uint32_t Tag;         // free for the owner; the wave object stores 0
};
static_assert(sizeof(TLumCutRegion) == 20, "a cut region is five 32-bit values");

class TLumCutList : public TLumRecordList<TLumCutRegion> {
public:
    TLumCutList() = default;

    // Inserts Region in start order. False, and nothing inserted, when it
    // would share a sample with a region of the list (its start inside one,
    // or its end reaching into the next) or its length is negative.
    bool AddRegion(const TLumCutRegion& region);
    // Deletes the first region with Region's start and length; its former
    // index or -1.
    int Remove(const TLumCutRegion& region);
    // The first region with Region's start and length, or -1.
    int IndexOf(const TLumCutRegion& region) const;
    // Overwrites start and length of one region (the byte fields stay) in
    // one update.
    void SetParams(int index, std::int32_t start, std::int32_t length);

    // The insertion index for Position: -1 for an empty list, Count when
    // the last region starts at or below it, else the first region that
    // starts above it.
    int LocateRegion(std::int32_t position) const;
    // The region holding Position (from its start to start + length - 1,
    // so an empty region holds its start), or -1.
    int FindRegion(std::int32_t position) const;
    // True when no region holds Position.
    bool QueryRegion(std::int32_t position) const { return FindRegion(position) == -1; }

    // Copies another cut list, or empties the list for null, in one
    // update; any other source is refused by the persistent base.
    void Assign(const TPersistent* source) override;
};

} // namespace lum
