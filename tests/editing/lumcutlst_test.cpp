#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/lumobj.h"
#include "editing/lumcutlst.h"
#include "support/raised.h"

using namespace lum;
using lum::test::Raised;

namespace {

const char kIndexError[] = "List index out of bounds (%d)";

TLumCutRegion R(std::int32_t start, std::int32_t length, std::uint32_t tag = 0) {
    return {start, static_cast<std::uint32_t>(start) * 4, length,
            static_cast<std::uint32_t>(length) * 4, tag};
}

struct Events {
    int changing = 0;
    int changed = 0;
    void Attach(TLumCutList& l) {
        l.OnChanging = [this](TLumObject*) { ++changing; };
        l.OnChange = [this](TLumObject*) { ++changed; };
    }
};

// The samples a region holds: from start to start + length - 1, and an
// empty region holds its start.
bool Holds(const TLumCutRegion& r, std::int64_t position) {
    return position >= r.Start && position <= std::int64_t{r.Start} + std::max(r.Length, 1) - 1;
}

std::int64_t End(const TLumCutRegion& r) {
    return std::int64_t{r.Start} + std::max(r.Length, 1);
}

} // namespace

TEST(TLumCutList, SearchesOnTwoRegions) {
    TLumCutList l;
    l.Add(R(100, 50));
    l.Add(R(300, 10));
    EXPECT_EQ(l.LocateRegion(99), 0);
    EXPECT_EQ(l.LocateRegion(100), 1);
    EXPECT_EQ(l.LocateRegion(299), 1);
    EXPECT_EQ(l.LocateRegion(400), 2);
    EXPECT_EQ(l.FindRegion(100), 0);
    EXPECT_EQ(l.FindRegion(149), 0);
    EXPECT_EQ(l.FindRegion(150), -1);
    EXPECT_EQ(l.FindRegion(309), 1);
    EXPECT_EQ(l.FindRegion(99), -1);
    EXPECT_FALSE(l.QueryRegion(120));
    EXPECT_TRUE(l.QueryRegion(200));

    EXPECT_FALSE(l.AddRegion(R(120, 5)));
    EXPECT_TRUE(l.AddRegion(R(200, 20)));
    EXPECT_EQ(l.Get(1).Start, 200);
    EXPECT_EQ(l.GetCount(), 3);

    TLumCutList single;
    single.Add(R(100, 10));
    EXPECT_EQ(single.LocateRegion(5), 0); // the search loop does not run

    TLumCutList empty;
    EXPECT_EQ(empty.LocateRegion(0), -1);
    EXPECT_EQ(empty.FindRegion(0), -1);
    EXPECT_TRUE(empty.QueryRegion(0));
    EXPECT_TRUE(empty.AddRegion(R(5, 5)));
    EXPECT_EQ(empty.GetCount(), 1);
}

TEST(TLumCutList, AddRegionRefusesEveryOverlap) {
    TLumCutList l;
    ASSERT_TRUE(l.AddRegion(R(120, 10)));
    EXPECT_FALSE(l.AddRegion(R(100, 100))); // would swallow 120..129
    EXPECT_FALSE(l.AddRegion(R(100, 21)));  // its last sample is 120
    EXPECT_TRUE(l.AddRegion(R(100, 20)));   // ends right before
    EXPECT_TRUE(l.AddRegion(R(130, 0)));    // empty, right behind
    EXPECT_FALSE(l.AddRegion(R(130, 5)));   // the empty region holds 130
    EXPECT_FALSE(l.AddRegion(R(140, -5)));
    EXPECT_TRUE(l.AddRegion(R(2147483600, 47)));
    EXPECT_EQ(l.GetCount(), 4);
}

// Random AddRegion calls against a brute-force reference: a region goes in
// when it shares no sample with any region already in, and the list stays
// sorted; the searches agree with their definitions at every position.
TEST(TLumCutList, AgreesWithABruteForceReference) {
    std::mt19937 rng(8);
    for (int round = 0; round < 40; ++round) {
        TLumCutList l;
        std::vector<TLumCutRegion> ref;
        for (int step = 0; step < 60; ++step) {
            TLumCutRegion r = R(static_cast<std::int32_t>(rng() % 400),
                                static_cast<std::int32_t>(rng() % 40) - 2, step);
            bool free = r.Length >= 0;
            for (const auto& other : ref)
                for (std::int64_t p = r.Start; free && p < End(r); ++p)
                    free = !Holds(other, p);
            ASSERT_EQ(l.AddRegion(r), free) << r.Start << "+" << r.Length;
            if (free) {
                auto at = std::find_if(ref.begin(), ref.end(),
                                       [&](const auto& o) { return o.Start > r.Start; });
                ref.insert(at, r);
            }
        }
        ASSERT_EQ(l.GetCount(), static_cast<int>(ref.size()));
        for (int i = 0; i < l.GetCount(); ++i)
            ASSERT_EQ(l.Get(i).Tag, ref[static_cast<std::size_t>(i)].Tag);
        for (std::int32_t p = -2; p < 450; ++p) {
            int locate = -1;
            if (!ref.empty()) {
                locate = static_cast<int>(ref.size());
                for (std::size_t i = 0; i < ref.size(); ++i) {
                    if (ref[i].Start > p) {
                        locate = static_cast<int>(i);
                        break;
                    }
                }
            }
            int find = -1;
            for (std::size_t i = 0; i < ref.size(); ++i)
                if (Holds(ref[i], p)) find = static_cast<int>(i);
            ASSERT_EQ(l.LocateRegion(p), locate) << p;
            ASSERT_EQ(l.FindRegion(p), find) << p;
            ASSERT_EQ(l.QueryRegion(p), find == -1) << p;
        }
    }
}

TEST(TLumCutList, EditsAndTheirEvents) {
    TLumCutList l;
    Events e;
    e.Attach(l);
    l.Add(R(10, 5));
    l.Insert(0, R(1, 2));
    l.Put(1, R(20, 5, 7));
    EXPECT_EQ(e.changing, 3);
    EXPECT_EQ(e.changed, 3);
    EXPECT_EQ(l.Last().Tag, 7u);

    EXPECT_EQ(l.IndexOf(R(20, 5)), 1); // start and length decide
    EXPECT_EQ(l.IndexOf(R(20, 6)), -1);
    EXPECT_EQ(l.Remove(R(1, 2)), 0);
    EXPECT_EQ(l.Remove(R(1, 2)), -1);
    EXPECT_EQ(e.changed, 4);

    l.BeginUpdate();
    EXPECT_EQ(e.changing, 5);
    l.Delete(0);
    l.Add(R(3, 3));
    l.Add(R(9, 3));
    EXPECT_EQ(e.changed, 4);
    l.EndUpdate();
    EXPECT_EQ(e.changing, 5);
    EXPECT_EQ(e.changed, 5);

    l.SetParams(1, 50, 60); // one pair; the byte fields stay
    EXPECT_EQ(e.changing, 6);
    EXPECT_EQ(e.changed, 6);
    EXPECT_EQ(l.Get(1).Start, 50);
    EXPECT_EQ(l.Get(1).Length, 60);
    EXPECT_EQ(l.Get(1).StartBytes, 36u);

    l.Clear();
    l.Clear(); // fires on an empty list too
    EXPECT_EQ(e.changed, 8);
    EXPECT_EQ(l.GetCapacity(), 0);
}

TEST(TLumCutList, RefusalsCarryTheUnfilledIndexMessage) {
    TLumCutList l;
    l.Add(R(1, 1));
    Events e;
    e.Attach(l);
    EXPECT_EQ(Raised([&] { l.Get(1); }), kIndexError);
    EXPECT_EQ(Raised([&] { l.Get(-1); }), kIndexError);
    EXPECT_EQ(Raised([&] { l.Put(1, R(0, 0)); }), kIndexError);
    EXPECT_EQ(Raised([&] { l.Delete(1); }), kIndexError);
    EXPECT_EQ(Raised([&] { l.Insert(2, R(0, 0)); }), kIndexError);
    EXPECT_EQ(Raised([&] { l.SetParams(3, 0, 0); }), kIndexError);
    EXPECT_EQ(Raised([&] { l.SetCapacity(0); }), kIndexError);
    EXPECT_EQ(Raised([&] { l.SetCapacity(MaxEditListSize + 1); }), kIndexError);
    EXPECT_EQ(Raised([&] { l.SetCount(-1); }), kIndexError);
    EXPECT_EQ(Raised([&] { l.SetCount(MaxEditListSize + 1); }), kIndexError);
    EXPECT_EQ(Raised([&] { TLumCutList().First(); }), kIndexError);
    EXPECT_EQ(e.changing, 0); // refused before anything was announced
    EXPECT_EQ(l.GetCount(), 1);
}

TEST(TLumCutList, GrowthCapacityAndCount) {
    TLumCutList l;
    std::vector<int> capacities;
    for (int i = 0; i < 33; ++i) {
        l.Add(R(i, 1));
        if (capacities.empty() || capacities.back() != l.GetCapacity())
            capacities.push_back(l.GetCapacity());
    }
    EXPECT_EQ(capacities, (std::vector<int>{4, 8, 16, 32, 48}));
    l.SetCount(2);
    l.SetCount(5); // entries coming back into use are zero
    EXPECT_EQ(l.Get(4).Start, 0);
    EXPECT_EQ(l.Get(4).Tag, 0u);
    l.SetCapacity(5);
    EXPECT_EQ(l.GetCapacity(), 5);
    l.Add(R(9, 9));
    EXPECT_EQ(l.GetCapacity(), 13); // 5 grows by 8
}

TEST(TLumCutList, AssignCopiesInOneUpdate) {
    TLumCutList a, b;
    a.Add(R(1, 1));
    a.Add(R(5, 2, 3));
    b.Add(R(100, 1));
    Events e;
    e.Attach(b);
    b.Assign(&a);
    EXPECT_EQ(e.changing, 1);
    EXPECT_EQ(e.changed, 1);
    ASSERT_EQ(b.GetCount(), 2);
    EXPECT_EQ(b.Get(1).Tag, 3u);

    b.Assign(&b); // itself: nothing lost, nothing fired
    EXPECT_EQ(b.GetCount(), 2);
    EXPECT_EQ(e.changed, 1);
    b.Assign(nullptr);
    EXPECT_EQ(b.GetCount(), 0);
    EXPECT_EQ(e.changed, 2);

    TLumBevel bevel;
    EXPECT_EQ(Raised([&] { b.Assign(&bevel); }), "Cannot assign a TLumBevel to a TLumCutList");
}

TEST(TLumCutList, DestructionNotifiesNobody) {
    int calls = 0;
    {
        TLumCutList l;
        l.Add(R(1, 1));
        l.OnChanging = [&](TLumObject*) { ++calls; };
        l.OnChange = [&](TLumObject*) { ++calls; };
    }
    EXPECT_EQ(calls, 0);
}
