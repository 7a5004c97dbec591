#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/lumobjlst.h"
#include "platform/ui/clipboard.h"
#include "support/raised.h"
#include "support/testutil.h"

using namespace lum;
using lum::test::Raised;

namespace {

// Two registered classes: a point (two 32-bit values) and a label (a text
// with a 16-bit length, then a weight).
class TTestPoint : public TPersistent {
public:
    TTestPoint() = default;
    TTestPoint(std::int32_t x, std::int32_t y) : X(x), Y(y) {}
    std::int32_t X = 0;
    std::int32_t Y = 0;
};

class TTestLabel : public TPersistent {
public:
    std::string Text;
    std::int32_t Weight = 0;
};

class TUnregistered : public TPersistent {};

// A class whose name is exactly the longest a record can carry, and one
// that is a character longer.
class T23456789012345678901234567890123456789012345678901234567890123 : public TPersistent {};
class T234567890123456789012345678901234567890123456789012345678901234 : public TPersistent {};
using TLongest = T23456789012345678901234567890123456789012345678901234567890123;
using TTooLong = T234567890123456789012345678901234567890123456789012345678901234;

const bool registered = [] {
    DoRegisterClass(
        [](TPersistent* o, TStream& s) {
            auto* p = static_cast<TTestPoint*>(o);
            s.ReadBuffer(&p->X, 4);
            s.ReadBuffer(&p->Y, 4);
        },
        [](const TPersistent* o, TStream& s) {
            auto* p = static_cast<const TTestPoint*>(o);
            s.WriteBuffer(&p->X, 4);
            s.WriteBuffer(&p->Y, 4);
        },
        ClassOf<TTestPoint>());
    DoRegisterClass(
        [](TPersistent* o, TStream& s) {
            auto* l = static_cast<TTestLabel*>(o);
            std::uint16_t n = 0;
            s.ReadBuffer(&n, 2);
            l->Text.resize(n);
            s.ReadBuffer(l->Text.data(), n);
            s.ReadBuffer(&l->Weight, 4);
        },
        [](const TPersistent* o, TStream& s) {
            auto* l = static_cast<const TTestLabel*>(o);
            auto n = static_cast<std::uint16_t>(l->Text.size());
            s.WriteBuffer(&n, 2);
            s.WriteBuffer(l->Text.data(), n);
            s.WriteBuffer(&l->Weight, 4);
        },
        ClassOf<TTestLabel>());
    return true;
}();

// Sorted by the point's X.
class TPointList : public TSortedObjectList {
public:
    using TSortedObjectList::TSortedObjectList;
    const void* KeyOf(const TPersistent* object) const override {
        return &static_cast<const TTestPoint*>(object)->X;
    }
    int Compare(const void* key1, const void* key2) const override {
        std::int32_t a = *static_cast<const std::int32_t*>(key1);
        std::int32_t b = *static_cast<const std::int32_t*>(key2);
        return a < b ? -1 : a > b ? 1 : 0;
    }
};

struct Events {
    int changing = 0;
    int changed = 0;
    void Attach(TObjectList& l) {
        l.OnChanging = [this](TObjectList*) { ++changing; };
        l.OnChange = [this](TObjectList*) { ++changed; };
    }
};

std::vector<TPersistent*> Items(const TObjectList& l) {
    std::vector<TPersistent*> v;
    for (int i = 0; i < l.GetCount(); ++i)
        v.push_back(l.Get(i));
    return v;
}

TTestPoint* P(TObjectList& l, int i) {
    return static_cast<TTestPoint*>(l.Get(i));
}

std::vector<std::uint8_t> Written(const TObjectList& l) {
    TMemoryStream s;
    l.WriteData(s);
    const auto* p = static_cast<const std::uint8_t*>(s.GetMemory());
    return std::vector<std::uint8_t>(p, p + s.GetSize());
}

// Little builder for hand-made streams.
struct Bytes {
    std::vector<std::uint8_t> b;
    Bytes& Raw(std::initializer_list<int> v) {
        for (int x : v)
            b.push_back(static_cast<std::uint8_t>(x));
        return *this;
    }
    Bytes& Text(const std::string& s) {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& Name(const std::string& s) { return Raw({static_cast<int>(s.size())}).Text(s); }
    Bytes& I32(std::int32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    Bytes& Point(std::int32_t x, std::int32_t y) { return Name("TTestPoint").I32(x).I32(y); }
};

} // namespace

TEST(TObjectList, ChangeEventsAndUpdateBrackets) {
    TObjectList l(false, 0);
    Events e;
    e.Attach(l);
    TTestPoint a, b, c;
    l.AddObject(&a);
    l.Insert(0, &b);
    EXPECT_EQ(e.changing, 2);
    EXPECT_EQ(e.changed, 2);
    l.Put(0, &c); // no events
    EXPECT_EQ(e.changed, 2);
    l.Move(0, 1); // a Delete and an Insert
    EXPECT_EQ(e.changing, 4);
    EXPECT_EQ(Items(l), (std::vector<TPersistent*>{&a, &c}));

    l.BeginUpdate();
    EXPECT_EQ(e.changing, 5); // the bracket opens with Changing
    l.BeginUpdate();
    l.Delete(0);
    l.AddObject(&b);
    l.Exchange(0, 1);
    l.EndUpdate();
    EXPECT_EQ(e.changed, 4);
    l.EndUpdate();
    EXPECT_EQ(e.changing, 5);
    EXPECT_EQ(e.changed, 5);

    l.Clear();
    EXPECT_EQ(e.changed, 6);
    l.Clear(); // an empty list stays quiet
    EXPECT_EQ(e.changing, 6);
    EXPECT_EQ(e.changed, 6);
}

TEST(TObjectList, GrowsBy4Then8Then16UpTo32767Items) {
    TObjectList l(false, 0);
    std::vector<int> capacities;
    for (int i = 0; i < 48; ++i) {
        l.AddObject(nullptr);
        if (capacities.empty() || capacities.back() != l.GetCapacity())
            capacities.push_back(l.GetCapacity());
    }
    EXPECT_EQ(capacities, (std::vector<int>{4, 8, 16, 32, 48}));

    EXPECT_EQ(Raised([&] { l.SetCapacity(47); }), "List index out of bounds (47)");
    EXPECT_FALSE(Raised([&] { l.SetCapacity(32768); }).empty());
    EXPECT_FALSE(Raised([&] { l.SetCount(-1); }).empty());
    l.SetCount(32760);
    for (int i = 0; i < 7; ++i)
        l.AddObject(nullptr);
    EXPECT_EQ(l.GetCount(), 32767);
    EXPECT_EQ(l.GetCapacity(), 32767); // the last growth stops at the limit
    EXPECT_EQ(Raised([&] { l.AddObject(nullptr); }), "List index out of bounds (32767)");
    EXPECT_EQ(l.GetCount(), 32767);
}

// Random operations on a list and on a plain vector side by side: the
// items, the refusals and the number of change events must agree.
TEST(TObjectList, BehavesLikeAVectorUnderRandomOperations) {
    std::mt19937 rng(20);
    std::vector<std::unique_ptr<TTestPoint>> pool;
    for (int i = 0; i < 12; ++i)
        pool.push_back(std::make_unique<TTestPoint>(i, 0));
    auto pick = [&]() -> TPersistent* {
        int i = static_cast<int>(rng() % 13);
        return i == 12 ? nullptr : pool[static_cast<std::size_t>(i)].get();
    };

    TObjectList l(false, 0);
    Events e;
    e.Attach(l);
    std::vector<TPersistent*> ref;
    int expected_events = 0;
    for (int step = 0; step < 4000; ++step) {
        int n = static_cast<int>(ref.size());
        // Indices reach one past each end, so refusals are exercised.
        auto index = [&](int hi) { return static_cast<int>(rng() % (hi + 3)) - 1; };
        switch (rng() % 9) {
        case 0: {
            TPersistent* o = pick();
            EXPECT_EQ(l.AddObject(o), n);
            ref.push_back(o);
            ++expected_events;
            break;
        }
        case 1: {
            int i = index(n);
            TPersistent* o = pick();
            if (i < 0 || i > n) {
                EXPECT_FALSE(Raised([&] { l.Insert(i, o); }).empty());
            } else {
                l.Insert(i, o);
                ref.insert(ref.begin() + i, o);
                ++expected_events;
            }
            break;
        }
        case 2: {
            int i = index(n - 1);
            if (i < 0 || i >= n) {
                EXPECT_FALSE(Raised([&] { l.Delete(i); }).empty());
            } else {
                l.Delete(i);
                ref.erase(ref.begin() + i);
                ++expected_events;
            }
            break;
        }
        case 3: {
            TPersistent* o = pick();
            auto at = std::find(ref.begin(), ref.end(), o);
            int want = at == ref.end() ? -1 : static_cast<int>(at - ref.begin());
            EXPECT_EQ(l.Remove(o), want);
            if (at != ref.end()) {
                ref.erase(at);
                ++expected_events;
            }
            break;
        }
        case 4: {
            int i = index(n - 1), j = index(n - 1);
            if (i < 0 || i >= n || j < 0 || j >= n) {
                EXPECT_FALSE(Raised([&] { l.Exchange(i, j); }).empty());
            } else {
                l.Exchange(i, j);
                std::swap(ref[static_cast<std::size_t>(i)], ref[static_cast<std::size_t>(j)]);
                ++expected_events;
            }
            break;
        }
        case 5: {
            int i = index(n - 1), j = index(n - 1);
            if (i == j) {
                l.Move(i, j);
            } else if (i < 0 || i >= n || j < 0 || j >= n) {
                EXPECT_FALSE(Raised([&] { l.Move(i, j); }).empty());
            } else {
                l.Move(i, j);
                TPersistent* o = ref[static_cast<std::size_t>(i)];
                ref.erase(ref.begin() + i);
                ref.insert(ref.begin() + j, o);
                expected_events += 2;
            }
            break;
        }
        case 6: {
            if (rng() % 8 == 0) {
                int nulls = static_cast<int>(std::count(ref.begin(), ref.end(), nullptr));
                l.Pack();
                ref.erase(std::remove(ref.begin(), ref.end(), nullptr), ref.end());
                expected_events += nulls;
            }
            break;
        }
        case 7: {
            int i = index(n - 1);
            TPersistent* o = pick();
            if (i < 0 || i >= n) {
                EXPECT_FALSE(Raised([&] { l.Put(i, o); }).empty());
            } else {
                l.Put(i, o);
                ref[static_cast<std::size_t>(i)] = o;
            }
            break;
        }
        case 8: {
            if (rng() % 4 == 0) {
                int c = static_cast<int>(rng() % 20);
                l.SetCount(c);
                ref.resize(static_cast<std::size_t>(c), nullptr);
            }
            break;
        }
        }
        ASSERT_EQ(Items(l), ref) << "step " << step;
        ASSERT_EQ(e.changing, expected_events) << "step " << step;
        ASSERT_EQ(e.changed, expected_events) << "step " << step;
        ASSERT_GE(l.GetCapacity(), l.GetCount());
    }
}

TEST(TObjectList, FreeingGoesThroughOwnership) {
    // Owned objects are destroyed by FreeAt, FreeObject, FreeAll and the
    // destructor; AddressSanitizer reports any that leak or go twice.
    auto* l = new TObjectList();
    EXPECT_TRUE(l->GetOwnsObjects());
    for (int i = 0; i < 6; ++i)
        l->AddObject(new TTestPoint(i, i));
    TPersistent* third = l->Get(2);
    l->FreeObject(third);
    EXPECT_EQ(l->GetCount(), 5);
    EXPECT_EQ(P(*l, 2)->X, 3);
    l->FreeAt(0);
    EXPECT_EQ(P(*l, 0)->X, 1);

    TTestPoint outsider;
    EXPECT_EQ(Raised([&] { l->FreeObject(&outsider); }), "TObject TTestPoint not in item list");
    EXPECT_EQ(Raised([&] { l->FreeObject(nullptr); }), "TObject nil not in item list");
    delete l; // frees the four left

    TObjectList borrowed(false, 4);
    TTestPoint a;
    borrowed.AddObject(&a);
    borrowed.FreeAll(); // not owned: nothing destroyed
    EXPECT_EQ(borrowed.GetCount(), 0);
    EXPECT_EQ(borrowed.GetCapacity(), 0);
    a.X = 5; // still alive
    EXPECT_EQ(a.X, 5);
}

TEST(TSortedObjectList, KeepsKeyOrderUnderEachDuplicatesRule) {
    for (TDuplicates mode : {dupIgnore, dupAccept, dupError}) {
        SCOPED_TRACE(static_cast<int>(mode));
        std::mt19937 rng(7 + mode);
        std::vector<std::unique_ptr<TTestPoint>> pool;
        TPointList l(mode);
        l.SetOwnsObjects(false);
        std::vector<TTestPoint*> ref;
        auto lower = [&](std::int32_t x) {
            return static_cast<int>(
                std::find_if(ref.begin(), ref.end(), [&](auto* p) { return p->X >= x; }) -
                ref.begin());
        };
        for (int step = 0; step < 1500; ++step) {
            if (ref.empty() || rng() % 3 != 0) {
                pool.push_back(std::make_unique<TTestPoint>(static_cast<int>(rng() % 25), step));
                TTestPoint* p = pool.back().get();
                int at = lower(p->X);
                bool exists = at < static_cast<int>(ref.size()) &&
                              ref[static_cast<std::size_t>(at)]->X == p->X;
                if (exists && mode == dupError) {
                    EXPECT_EQ(Raised([&] { l.AddObject(p); }), "Duplicate Object index");
                } else if (exists && mode == dupIgnore) {
                    EXPECT_EQ(l.AddObject(p), at); // the existing item's index
                } else {
                    EXPECT_EQ(l.AddObject(p), at);
                    ref.insert(ref.begin() + at, p);
                }
            } else {
                TTestPoint* victim = ref[rng() % ref.size()];
                int at = static_cast<int>(std::find(ref.begin(), ref.end(), victim) - ref.begin());
                EXPECT_EQ(l.Remove(victim), at); // the object itself, not an equal key
                ref.erase(ref.begin() + at);
            }
            ASSERT_EQ(l.GetCount(), static_cast<int>(ref.size()));
            for (std::size_t i = 0; i < ref.size(); ++i)
                ASSERT_EQ(l.Get(static_cast<int>(i)), ref[i]) << "step " << step;
        }
        for (std::int32_t x = -1; x <= 26; ++x) {
            TTestPoint probe(x, 0);
            int at = lower(x);
            bool exists =
                at < static_cast<int>(ref.size()) && ref[static_cast<std::size_t>(at)]->X == x;
            int index = -2;
            EXPECT_EQ(l.Search(&probe.X, index), exists);
            if (!exists || mode == dupAccept) {
                EXPECT_EQ(index, at);
            } else {
                EXPECT_EQ(P(l, index)->X, x);
            }
            EXPECT_EQ(l.IndexOf(&probe), exists ? index : -1);
        }
    }
}

TEST(TSortedObjectList, RefusesPutAndIgnoresTheInsertIndex) {
    TPointList l(dupIgnore);
    l.AddObject(new TTestPoint(5, 0));
    l.AddObject(new TTestPoint(1, 0));
    auto* dup = new TTestPoint(5, 1);
    EXPECT_EQ(l.Insert(0, dup), -1); // nothing inserted; still ours
    delete dup;
    EXPECT_EQ(l.Insert(0, new TTestPoint(9, 0)), 2);
    EXPECT_EQ(Raised([&] { l.Put(0, nullptr); }), "Cannot <Put> an Object in a sorted list!");
    EXPECT_EQ(P(l, 0)->X, 1);
}

TEST(TSortedObjectList, FreeObjectFreesThatObjectAmongEqualKeys) {
    TPointList l(dupAccept);
    auto* a = new TTestPoint(3, 1);
    auto* b = new TTestPoint(3, 2);
    auto* c = new TTestPoint(3, 3);
    l.AddObject(a);
    l.AddObject(b);
    l.AddObject(c); // inserted before the equal keys: c b a
    l.FreeObject(a);
    ASSERT_EQ(l.GetCount(), 2);
    EXPECT_EQ(l.Get(0), c);
    EXPECT_EQ(l.Get(1), b);
}

TEST(ObjectStream, RecordsCarryTheClassNameAndTheStoredData) {
    TTestPoint p(0x01020304, -1);
    TMemoryStream s;
    WriteObjectToStream(&p, s);
    std::vector<std::uint8_t> want = Bytes().Point(0x01020304, -1).b;
    ASSERT_EQ(s.GetSize(), static_cast<std::int64_t>(want.size()));
    EXPECT_EQ(0, std::memcmp(s.GetMemory(), want.data(), want.size()));

    TTestLabel label;
    label.Text = "marker";
    label.Weight = 42;
    auto copy = CopyOf(&label);
    auto* back = dynamic_cast<TTestLabel*>(copy.get());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Text, "marker");
    EXPECT_EQ(back->Weight, 42);

    // Names are looked up without regard to letter case.
    TMemoryStream lower;
    std::vector<std::uint8_t> record = Bytes().Name("ttestpoint").I32(7).I32(8).b;
    lower.WriteBuffer(record.data(), static_cast<std::int32_t>(record.size()));
    lower.SetPosition(0);
    auto read = ReadObjectFromStream(lower);
    EXPECT_EQ(dynamic_cast<TTestPoint*>(read.get())->Y, 8);
}

TEST(ObjectStream, RegistryRefusals) {
    TUnregistered u;
    TMemoryStream s;
    EXPECT_EQ(Raised([&] { WriteObjectToStream(nullptr, s); }), "Nil Source Class!");
    EXPECT_EQ(Raised([&] { CopyOf(nullptr); }), "Nil Source Class!");
    EXPECT_EQ(Raised([&] { WriteObjectToStream(&u, s); }),
              "Source Class <TUnregistered> not registered");
    EXPECT_EQ(s.GetSize(), 0); // nothing half-written
    EXPECT_FALSE(IsRegistered(ClassOf<TUnregistered>()));
    EXPECT_TRUE(IsRegistered(ClassOf<TTestLabel>()));

    // 63 characters fit a record; 64 could never be read back.
    ASSERT_EQ(ClassNameOf(typeid(TLongest)).size(), 63u);
    ASSERT_EQ(ClassNameOf(typeid(TTooLong)).size(), 64u);
    DoRegisterClass(nullptr, nullptr, ClassOf<TLongest>());
    EXPECT_TRUE(IsRegistered(ClassOf<TLongest>()));
    TLongest longest;
    auto copy = CopyOf(&longest);
    EXPECT_NE(dynamic_cast<TLongest*>(copy.get()), nullptr);
    EXPECT_EQ(Raised([&] { DoRegisterClass(nullptr, nullptr, ClassOf<TTooLong>()); }),
              "Class name <" + ClassNameOf(typeid(TTooLong)) + "> is longer than 63 characters");
    EXPECT_FALSE(IsRegistered(ClassOf<TTooLong>()));
}

TEST(TObjectList, RoundTripsThroughMemoryAndFiles) {
    lum::test::TempDir dir;
    TObjectList l;
    l.AddObject(new TTestPoint(1, 2));
    auto* label = new TTestLabel;
    label->Text = "two";
    label->Weight = -9;
    l.AddObject(label);
    l.AddObject(new TTestPoint(-5, 1 << 30));

    std::vector<std::uint8_t> bytes = Written(l);
    std::vector<std::uint8_t> head = {'O', 'B', 'J', 0, 1, 3, 0};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));

    std::string path = dir.File("list.obj");
    l.SaveToFile(path);
    EXPECT_EQ(lum::test::ReadFile(path), bytes);
    TObjectList loaded(path);
    EXPECT_EQ(Written(loaded), bytes);
    EXPECT_EQ(static_cast<TTestLabel*>(loaded.Get(1))->Text, "two");

    TObjectList notowning(false, 0);
    TTestPoint p;
    notowning.AddObject(&p);
    TMemoryStream s;
    notowning.WriteData(s);
    s.SetPosition(0);
    TObjectList back;
    back.ReadData(s);
    EXPECT_FALSE(back.GetOwnsObjects()); // the byte comes along
    ASSERT_EQ(back.GetCount(), 1);
    back.SetOwnsObjects(true); // the read object is ours to free
}

TEST(TSortedObjectList, StreamCarriesItsDuplicatesRule) {
    TPointList l(dupAccept);
    l.AddObject(new TTestPoint(4, 0));
    l.AddObject(new TTestPoint(4, 1));
    l.AddObject(new TTestPoint(2, 0));
    std::vector<std::uint8_t> bytes = Written(l);
    std::vector<std::uint8_t> head = {'O', 'B', 'J', 0, dupAccept, 1, 3, 0};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));

    TPointList back(dupIgnore);
    TAbsMemStream s(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    back.ReadData(s);
    EXPECT_EQ(back.GetDuplicates(), dupAccept);
    // Each read item goes before its equal keys, so a run of them comes
    // back reversed.
    ASSERT_EQ(back.GetCount(), 3);
    EXPECT_EQ(P(back, 0)->X, 2);
    EXPECT_EQ(P(back, 1)->Y, 0);
    EXPECT_EQ(P(back, 2)->Y, 1);

    // Read under dupIgnore, the second 4 is dropped (and freed).
    bytes[4] = dupIgnore;
    TAbsMemStream again(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    back.ReadData(again);
    EXPECT_EQ(back.GetCount(), 2);
}

// Damaged list streams, read from a memory stream (which reads short at its
// end) and from a fixed block (which raises at its end).
TEST(TObjectList, DamagedStreamsAreRefusedWithTheirMessages) {
    const std::string invalid = "Invalid Object stream";
    const std::string shortread = "Stream read error";
    const std::string beyond = "MemStream reading behond limits";
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::string memory_message;
        std::string block_message;
        int kept; // objects the list holds afterwards
    };
    const Bytes obj = Bytes().Raw({'O', 'B', 'J', 0});
    std::vector<Case> cases = {
        {"empty", {}, invalid, invalid, 2},
        {"three bytes", Bytes().Raw({'O', 'B', 'J'}).b, invalid, invalid, 2},
        {"wrong signature", Bytes().Raw({'O', 'B', 'X', 0, 1, 0, 0}).b, invalid, invalid, 2},
        {"signature only", obj.b, shortread, beyond, 0},
        {"count cut short", Bytes(obj).Raw({1, 5}).b, shortread, beyond, 0},
        {"negative count", Bytes(obj).Raw({1, 0xFF, 0xFF}).b, invalid, invalid, 0},
        {"unknown class", Bytes(obj).Raw({1, 1, 0}).Name("Nope").b, "Class <Nope> not registered",
         "Class <Nope> not registered", 0},
        {"name past the end", Bytes(obj).Raw({1, 1, 0, 40}).Text("TTestPoint").b, shortread, beyond,
         0},
        {"object data cut", Bytes(obj).Raw({1, 1, 0}).Name("TTestPoint").I32(1).b, shortread,
         beyond, 0},
        {"fewer objects than counted", Bytes(obj).Raw({1, 3, 0}).Point(1, 1).Point(2, 2).b,
         shortread, beyond, 2},
        {"text longer than the data",
         Bytes(obj).Raw({1, 2, 0}).Point(1, 1).Name("TTestLabel").Raw({200, 0}).Text("abc").b,
         shortread, beyond, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool block : {false, true}) {
            TObjectList l;
            l.AddObject(new TTestPoint(8, 8));
            l.AddObject(new TTestPoint(9, 9));
            std::vector<std::uint8_t> data = c.bytes;
            std::unique_ptr<TStream> s;
            if (block) {
                s = std::make_unique<TAbsMemStream>(data.data(),
                                                    static_cast<std::int64_t>(data.size()));
            } else {
                auto m = std::make_unique<TMemoryStream>();
                if (!data.empty())
                    m->WriteBuffer(data.data(), static_cast<std::int32_t>(data.size()));
                m->SetPosition(0);
                s = std::move(m);
            }
            Events e;
            e.Attach(l);
            EXPECT_EQ(Raised([&] { l.ReadData(*s); }), block ? c.block_message : c.memory_message);
            EXPECT_EQ(l.GetCount(), c.kept);
            EXPECT_EQ(e.changing, 1); // the update bracket closes on failure too
            EXPECT_EQ(e.changed, 1);
        }
    }

    TPointList sorted;
    std::vector<std::uint8_t> bad = Bytes(obj).Raw({3, 1, 0, 0}).b;
    TAbsMemStream s(bad.data(), static_cast<std::int64_t>(bad.size()));
    EXPECT_EQ(Raised([&] { sorted.ReadData(s); }), invalid);
}

TEST(TObjectList, LoadFromFileReportsEveryFailureAlike) {
    lum::test::TempDir dir;
    lum::test::WriteFile(dir.File("bad.obj"),
                         Bytes().Raw({'O', 'B', 'J', 0, 1, 1, 0}).Name("Nope").b);
    TObjectList l;
    EXPECT_EQ(Raised([&] { l.LoadFromFile(dir.File("bad.obj")); }), "Unable to load Object stream");
    EXPECT_EQ(Raised([&] { l.LoadFromFile(dir.File("missing.obj")); }),
              "Unable to load Object stream");
    EXPECT_EQ(Raised([&] { TObjectList f(dir.File("missing.obj")); }),
              "Unable to load Object stream");
}

TEST(ObjectClipboard, CopyAndPasteThroughTheProcessClipboard) {
    platform::ui::InstallClipboardService(nullptr);
    platform::UINT format = RegisterClipBoardType("Lum Test Point");
    ASSERT_NE(format, 0u);
    EXPECT_EQ(RegisterClipBoardType("LUM TEST POINT"), format);
    EXPECT_EQ(PasteObjectFromClipboard(format), nullptr); // nothing there yet

    TTestPoint p(11, -12);
    EXPECT_FALSE(CopyObjectToClipboard(format, &p)); // the caller must open it
    ASSERT_TRUE(platform::ui::OpenClipboard());
    platform::ui::EmptyClipboard();
    EXPECT_TRUE(CopyObjectToClipboard(format, &p));
    platform::ui::CloseClipboard();

    auto pasted = PasteObjectFromClipboard(format);
    auto* back = dynamic_cast<TTestPoint*>(pasted.get());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->X, 11);
    EXPECT_EQ(back->Y, -12);
    EXPECT_EQ(PasteObjectFromClipboard(RegisterClipBoardType("Lum Other")), nullptr);
}

TEST(ObjectClipboard, DataFromOutsideIsReadWithinItsBlock) {
    platform::ui::InstallClipboardService(nullptr);
    platform::UINT format = RegisterClipBoardType("Lum Test Point");
    // A record whose point data is cut short by the block's end.
    std::vector<std::uint8_t> cut = Bytes().Point(1, 2).b;
    cut.resize(cut.size() - 3);
    platform::HGLOBAL block = platform::GlobalAlloc(platform::GHND, cut.size());
    std::memcpy(platform::GlobalLock(block), cut.data(), cut.size());
    ASSERT_TRUE(platform::ui::OpenClipboard());
    platform::ui::EmptyClipboard();
    ASSERT_EQ(platform::ui::SetClipboardData(format, block), block);
    platform::ui::CloseClipboard();
    EXPECT_EQ(Raised([&] { PasteObjectFromClipboard(format); }), "MemStream reading behond limits");
}

TEST(TAbsMemStream, StaysWithinItsBlock) {
    std::uint8_t block[8] = {};
    TAbsMemStream s(block, 8);
    std::uint8_t data[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(s.Write(data, 8), 8); // exactly the size fits
    EXPECT_EQ(Raised([&] { s.Write(data, 1); }), "MemStream writing behond limits");
    EXPECT_EQ(s.Write(data, -1), 0);
    EXPECT_EQ(s.Seek(0, soFromBeginning), 0);
    EXPECT_EQ(Raised([&] { s.Write(data, 9); }), "MemStream writing behond limits");
    EXPECT_EQ(block[0], 1);

    std::uint8_t out[9] = {};
    EXPECT_EQ(s.Read(out, 5), 5);
    EXPECT_EQ(Raised([&] { s.Read(out, 4); }), "MemStream reading behond limits");
    EXPECT_EQ(s.GetPosition(), 5); // a refused read moves nothing
    EXPECT_EQ(s.Read(out, -3), 0);

    // From the end, the offset counts backwards.
    EXPECT_EQ(s.Seek(3, soFromEnd), 5);
    EXPECT_EQ(s.Seek(0, soFromEnd), 8);
    EXPECT_EQ(s.Seek(-2, soFromCurrent), 6);
    EXPECT_EQ(Raised([&] { s.Seek(-1, soFromEnd); }), "MemStream seeking behond limits");
    EXPECT_EQ(s.GetPosition(), 9); // the position stays where it was sent
    EXPECT_EQ(Raised([&] { s.Read(out, 0); }), "MemStream reading behond limits");
    EXPECT_EQ(Raised([&] { s.Seek(-20, soFromBeginning); }), "MemStream seeking behond limits");
    EXPECT_EQ(s.Read(out, 1), 0); // negative position: nothing read
    s.Seek(5, soFromBeginning);
    EXPECT_EQ(Raised([&] { s.Seek(INT64_MAX, soFromCurrent); }), "MemStream seeking behond limits");
    EXPECT_EQ(s.GetPosition(), 5); // an offset that overflows goes nowhere
}
