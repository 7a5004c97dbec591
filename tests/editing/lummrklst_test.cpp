#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "editing/lummrklst.h"
#include "support/raised.h"

using namespace lum;
using lum::test::Raised;

namespace {

TLumMarker M(std::int32_t offset, std::int32_t id = 0, std::int32_t connected = 0) {
    TLumMarker m{};
    m.ID = id;
    m.ConnectedID = connected;
    m.Offset = offset;
    m.Visible = 1;
    return m;
}

std::vector<std::int32_t> Ids(const TLumMarkerList& l) {
    std::vector<std::int32_t> v;
    for (int i = 0; i < l.GetCount(); ++i)
        v.push_back(l.Get(i).ID);
    return v;
}

// The Shell sort written another way: each gap's pass is a stable sort of
// every chain of entries one gap apart, which is what an insertion sort with
// a strict comparison does to each chain.
void ReferenceSort(std::vector<TLumMarker>& v) {
    std::size_t gap = 1;
    while (gap <= v.size() / 9)
        gap = 3 * gap + 1;
    for (; gap > 0; gap /= 3) {
        for (std::size_t first = 0; first < gap; ++first) {
            std::vector<TLumMarker> chain;
            for (std::size_t i = first; i < v.size(); i += gap)
                chain.push_back(v[i]);
            std::stable_sort(chain.begin(), chain.end(),
                             [](const auto& a, const auto& b) { return a.Offset < b.Offset; });
            for (std::size_t i = first, k = 0; i < v.size(); i += gap, ++k)
                v[i] = chain[k];
        }
    }
}

std::vector<std::int32_t> Ids(const std::vector<TLumMarker>& v) {
    std::vector<std::int32_t> ids;
    for (const auto& m : v)
        ids.push_back(m.ID);
    return ids;
}

} // namespace

TEST(TLumMarkerList, SearchesOnSharedOffsets) {
    TLumMarkerList l;
    l.Add(M(100, 1));
    l.Add(M(100, 2));
    l.Add(M(300, 3));
    EXPECT_EQ(l.FindMarker(100), 1); // the last one at that position
    EXPECT_EQ(l.FindMarker(150), -1);
    EXPECT_EQ(l.FindMarker(50), -1);
    EXPECT_EQ(l.FindMarker(300), 2);
    EXPECT_EQ(l.LocateMarker(100), 2);
    EXPECT_EQ(l.LocateMarker(99), 0);
    EXPECT_EQ(l.LocateMarker(300), 3);
    EXPECT_TRUE(l.QueryMarker(150));
    EXPECT_FALSE(l.QueryMarker(100));
    EXPECT_EQ(l.AddMarker(M(200, 4)), 2);
    EXPECT_EQ(l.AddMarker(M(100, 5)), 2); // after the markers already there
    EXPECT_EQ(l.AddMarker(M(900, 6)), 5);
    EXPECT_EQ(Ids(l), (std::vector<std::int32_t>{1, 2, 5, 4, 3, 6}));
    EXPECT_EQ(l.IndexOf(M(100)), 0); // offsets decide
    EXPECT_EQ(l.Remove(M(100, 99)), 0);
    EXPECT_EQ(Ids(l), (std::vector<std::int32_t>{2, 5, 4, 3, 6}));

    TLumMarkerList empty;
    EXPECT_EQ(empty.LocateMarker(0), -1);
    EXPECT_EQ(empty.FindMarker(0), -1);
    EXPECT_EQ(empty.AddMarker(M(7)), 0);
}

TEST(TLumMarkerList, ConnectionsAndFreeIds) {
    TLumMarkerList l;
    for (int id = 1; id <= 5; ++id)
        l.Add(M(id * 10, id, 6 - id));
    l.Add(M(60, 6, 42));
    l.Add(M(70, 7, 0));
    EXPECT_EQ(l.FindConnectedMarker(0), 4);  // ID 1 pairs with 5
    EXPECT_EQ(l.FindConnectedMarker(2), 2);  // 3 with itself
    EXPECT_EQ(l.FindConnectedMarker(5), -1); // nobody has 42
    EXPECT_EQ(l.FindConnectedMarker(6), -1); // none
    EXPECT_EQ(Raised([&] { l.FindConnectedMarker(7); }), "List index out of bounds (%d)");

    // Taken and non-positive candidates are drawn again.
    std::vector<std::int32_t> draws = {0, 3, -4, 1, 5, 0, 8};
    std::size_t next = 0;
    EXPECT_EQ(l.FindFreeID([&] { return draws[next++]; }), 8);
    EXPECT_EQ(next, draws.size());

    TLumMarkerList none;
    std::vector<std::int32_t> zero_first = {0, 0, 12};
    next = 0;
    EXPECT_EQ(none.FindFreeID([&] { return zero_first[next++]; }), 12); // never 0

    std::set<std::int32_t> seen;
    for (int i = 0; i < 200; ++i) {
        std::int32_t id = l.FindFreeID();
        EXPECT_GT(id, 7);
        seen.insert(id);
    }
    EXPECT_GT(seen.size(), 190u); // calls in quick succession differ
}

TEST(TLumMarkerList, SortMatchesTheReferenceOnManyEqualOffsets) {
    std::mt19937 rng(82);
    for (int n : {0, 1, 2, 8, 9, 10, 17, 40, 41, 130, 500}) {
        for (int round = 0; round < 5; ++round) {
            std::vector<TLumMarker> ref;
            TLumMarkerList l;
            for (int i = 0; i < n; ++i) {
                ref.push_back(M(static_cast<std::int32_t>(rng() % (round + 3)) - 1, i));
                l.Add(ref.back());
            }
            ReferenceSort(ref);
            l.Sort();
            ASSERT_EQ(Ids(l), Ids(ref)) << n;
            for (int i = 1; i < l.GetCount(); ++i)
                ASSERT_LE(l.Get(i - 1).Offset, l.Get(i).Offset);
        }
    }
}

// Random edits against a plain vector: AddMarker inserts after equal
// offsets, SetOffset re-sorts the way the reference sort does, and the
// other edits place markers where they are told.
TEST(TLumMarkerList, AgreesWithAVectorUnderRandomEdits) {
    std::mt19937 rng(3);
    TLumMarkerList l;
    std::vector<TLumMarker> ref;
    int changes = 0;
    l.OnChange = [&](TLumObject*) { ++changes; };
    int expected = 0;
    for (int step = 0; step < 3000; ++step) {
        int n = static_cast<int>(ref.size());
        switch (n == 0 ? 0 : rng() % 5) {
        case 0: {
            TLumMarker m = M(static_cast<std::int32_t>(rng() % 50), step);
            auto at = std::upper_bound(ref.begin(), ref.end(), m, [](const auto& a, const auto& b) {
                return a.Offset < b.Offset;
            });
            EXPECT_EQ(l.AddMarker(m), at - ref.begin());
            ref.insert(at, m);
            ++expected;
            break;
        }
        case 1: {
            int i = static_cast<int>(rng() % n);
            auto offset = static_cast<std::int32_t>(rng() % 50);
            l.SetOffset(i, offset);
            ref[static_cast<std::size_t>(i)].Offset = offset;
            ReferenceSort(ref);
            ++expected;
            break;
        }
        case 2: {
            int i = static_cast<int>(rng() % n);
            l.Delete(i);
            ref.erase(ref.begin() + i);
            ++expected;
            break;
        }
        case 3: {
            int i = static_cast<int>(rng() % n), j = static_cast<int>(rng() % n);
            l.Exchange(i, j);
            std::swap(ref[static_cast<std::size_t>(i)], ref[static_cast<std::size_t>(j)]);
            ++expected;
            ReferenceSort(ref);
            l.Sort(); // Sort itself announces nothing
            break;
        }
        case 4: {
            int i = static_cast<int>(rng() % n), j = static_cast<int>(rng() % n);
            l.Move(i, j);
            if (i != j) {
                TLumMarker m = ref[static_cast<std::size_t>(i)];
                ref.erase(ref.begin() + i);
                ref.insert(ref.begin() + j, m);
                expected += 2;
            }
            ReferenceSort(ref);
            l.Sort();
            break;
        }
        }
        ASSERT_EQ(Ids(l), Ids(ref)) << "step " << step;
        ASSERT_EQ(changes, expected) << "step " << step;
        for (std::int32_t p = -1; p <= 50; p += 7) {
            int last = -1;
            for (std::size_t k = 0; k < ref.size(); ++k)
                if (ref[k].Offset == p) last = static_cast<int>(k);
            ASSERT_EQ(l.FindMarker(p), last) << p;
        }
    }
}

TEST(TLumMarkerList, RecordsTravelWhole) {
    TLumMarker m = M(5, 9);
    m.SetName("Intro");
    for (int i = 200; i < 337; ++i)
        m.Text[i] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 8; ++i)
        m.Reserved[i] = static_cast<std::uint8_t>(0xA0 + i);
    m.Locked = 1;
    m.Color = 0x00112233;
    TLumMarkerList a;
    a.Add(M(1));
    a.Add(m);
    TLumMarkerList b;
    b.Assign(&a);
    TLumMarker back = b.Get(1);
    EXPECT_EQ(0, std::memcmp(&back, &m, sizeof m));
    EXPECT_EQ(back.GetName(), "Intro");

    TLumMarker longname{};
    longname.SetName(std::string(300, 'x'));
    EXPECT_EQ(longname.GetName().size(), 255u);
    EXPECT_EQ(longname.Text[256], 0); // nothing written past the name's 256 bytes
}

TEST(TLumMarkerList, OneNotificationPerEdit) {
    TLumMarkerList l;
    for (int i = 0; i < 6; ++i)
        l.Add(M(i * 100, i + 1));
    int changing = 0, changed = 0;
    l.OnChanging = [&](TLumObject*) { ++changing; };
    l.OnChange = [&](TLumObject*) { ++changed; };

    l.SetOffset(0, 450); // past three others, sorted again
    EXPECT_EQ(Ids(l), (std::vector<std::int32_t>{2, 3, 4, 5, 1, 6}));
    EXPECT_EQ(changing, 1);
    EXPECT_EQ(changed, 1);

    l.SetColor(0, l.Get(0).Color); // unchanged: quiet
    EXPECT_EQ(changed, 1);
    l.SetColor(0, clRed);
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(l.Get(0).Color, clRed);

    TLumMarkerList other;
    other.Add(M(9, 70));
    other.Add(M(3, 71));
    l.Assign(&other); // cleared, copied and sorted in one update
    EXPECT_EQ(Ids(l), (std::vector<std::int32_t>{71, 70}));
    EXPECT_EQ(changing, 3);
    EXPECT_EQ(changed, 3);
    l.Assign(&l);
    EXPECT_EQ(l.GetCount(), 2);
    EXPECT_EQ(changed, 3);

    EXPECT_EQ(Raised([&] { l.Move(5, 0); }), "List index out of bounds (%d)");
    EXPECT_EQ(Raised([&] { l.Move(0, 2); }), "List index out of bounds (%d)");
    EXPECT_EQ(Raised([&] { l.Exchange(0, 2); }), "List index out of bounds (%d)");
    EXPECT_EQ(Raised([&] { l.SetOffset(2, 0); }), "List index out of bounds (%d)");
    EXPECT_EQ(l.GetCount(), 2); // nothing lost by a refused move
    EXPECT_EQ(changed, 3);
}
