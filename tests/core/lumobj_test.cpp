#include <gtest/gtest.h>

#include "core/lumobj.h"
#include "platform/base/exception.h"

using namespace lum;

namespace {
struct ChangeCounter {
    int count = 0;
    void Attach(TLumObject& o) {
        o.OnChange = [this](TLumObject*) { ++count; };
    }
};
} // namespace

TEST(TLumBevel, ConstructionValuesAndExtend) {
    TLumBevel b;
    EXPECT_EQ(b.GetBevelInner(), bvNone);
    EXPECT_EQ(b.GetBevelOuter(), bvLowered);
    EXPECT_EQ(b.GetBorderColor(), clBtnFace);
    EXPECT_EQ(b.GetBorderSpaceColor(), clBlack);
    EXPECT_EQ(b.GetOuterShadowColor(), clBtnShadow);
    EXPECT_EQ(b.GetBevelExtend(), 1);
    b.SetBorderStyle(bsSingle);
    b.SetBorderWidth(2);
    b.SetBorderSpace(1);
    b.SetBevelInner(bvRaised);
    b.SetBevelInnerWidth(3);
    EXPECT_EQ(b.GetBevelExtend(), 8);
    b.SetBevelOuter(bvSpace);
    EXPECT_EQ(b.GetBevelExtend(), 8); // a space bevel still takes its width
}

TEST(TLumBevel, SettersReportOnlyRealChanges) {
    TLumBevel b;
    ChangeCounter c;
    c.Attach(b);
    b.SetBevelOuter(bvLowered);
    b.SetColors(0, clBtnFace);
    EXPECT_EQ(c.count, 0);
    b.SetBevelOuter(bvRaised);
    b.SetColors(3, clRed);
    EXPECT_EQ(c.count, 2);
    EXPECT_EQ(b.GetInnerShadowColor(), clRed);
}

TEST(TLumBevel, AssignReportsExactlyOnceAndCopiesEverything) {
    TLumBevel a, b;
    a.SetBevelInner(bvRaised);
    a.SetBorderWidth(4);
    a.SetBorderSpace(2);
    a.SetOuterLightColor(clRed);
    a.SetInnerShadowColor(clBlue);
    ChangeCounter c;
    c.Attach(b);
    b.Assign(&a);
    EXPECT_EQ(c.count, 1);
    EXPECT_EQ(b.GetBorderWidth(), 4);
    EXPECT_EQ(b.GetOuterLightColor(), clRed);
    EXPECT_EQ(b.GetInnerShadowColor(), clBlue);
    EXPECT_EQ(b.GetBevelExtend(), a.GetBevelExtend());
    b.Assign(&a); // nothing differs: the closing EndUpdate still reports
    EXPECT_EQ(c.count, 2);
    b.Assign(&b);
    EXPECT_EQ(c.count, 2);
    EXPECT_EQ(b.GetUpdateCount(), 0);
}

TEST(TLumBevel, AssignFromAnotherClassRaisesTheConversionError) {
    TLumBevel b;
    TLumObject other;
    try {
        b.Assign(&other);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TLumObject to a TLumBevel");
    }
    EXPECT_EQ(b.GetUpdateCount(), 0);
    EXPECT_EQ(b.GetBevelOuter(), bvLowered);
}

TEST(TLumObject, UpdateBracketsSwallowChangesAndUnbalancedEndsSilence) {
    TLumBevel b;
    ChangeCounter c;
    c.Attach(b);
    b.BeginUpdate();
    b.BeginUpdate();
    b.SetBorderWidth(1);
    b.SetBorderWidth(2);
    b.EndUpdate();
    EXPECT_EQ(c.count, 0);
    b.EndUpdate();
    EXPECT_EQ(c.count, 1);
    b.EndUpdate(); // unmatched: count goes negative, changes stay silent
    b.SetBorderWidth(5);
    EXPECT_EQ(c.count, 1);
    b.BeginUpdate(); // back to 0 without a report: SetUpdateState(True) is silent
    b.SetBorderWidth(6);
    EXPECT_EQ(c.count, 2);
}

TEST(Lumobj, MessageTableAndClassMembership) {
    EXPECT_EQ(LoadResStr(13), "AVI-Files(*.avi)|*.avi|Wave-Files(*.wav)|*.wav");
    EXPECT_EQ(LoadResStr(130), "Error reading wave file");
    EXPECT_EQ(LoadResStr(999), "");
    TLumBevel b;
    EXPECT_TRUE(InheritsFromEx<TLumObject>(&b));
    EXPECT_TRUE(InheritsFromEx<TLumBevel>(&b));
    TLumObject o;
    EXPECT_FALSE(InheritsFromEx<TLumBevel>(&o));
}

TEST(TComponent, OwnerDestroysOwnedComponents) {
    struct Probe : TLumNonVisualComponent {
        Probe(TComponent* owner, int* gone) : TLumNonVisualComponent(owner), gone_(gone) {}
        ~Probe() override { ++*gone_; }
        int* gone_;
    };
    int gone = 0;
    {
        TLumComponent owner;
        new Probe(&owner, &gone);
        auto* second = new Probe(&owner, &gone);
        EXPECT_EQ(owner.GetComponentCount(), 2);
        delete second;
        EXPECT_EQ(owner.GetComponentCount(), 1);
        EXPECT_THROW(owner.GetComponents(1), EListError);
        owner.ChangeDesigning(true);
        EXPECT_TRUE(owner.Designing());
    }
    EXPECT_EQ(gone, 2);
}
