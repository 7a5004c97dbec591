// Linking chain members: both directions, detaching old partners, refusing
// cycles and members that cannot be linked, and unlinking freed members.
#include <gtest/gtest.h>

#include <memory>

#include "chain/chaintest.h"
#include "chain/lumdspobj.h"

namespace lum {
namespace {

using test::Hidden;
using test::Member;

void ExpectLinked(TLumDSPComponent& up, TLumDSPComponent& down) {
    EXPECT_EQ(up.GetOutput(), &down);
    EXPECT_EQ(down.GetInput(), &up);
    EXPECT_EQ(up.GetOutputPortName(), "Input");
    EXPECT_EQ(down.GetInputPortName(), "Output");
}

TEST(ChainLinking, LinksAreMutualAndEachSideHasOnePartner) {
    Member a("A"), b("B"), c("C"), d("D");
    b.SetInput(&a);
    b.SetOutput(&c);
    ExpectLinked(a, b);
    ExpectLinked(b, c);

    // A new consumer of A detaches the old one, from either side.
    a.SetOutput(&d);
    ExpectLinked(a, d);
    EXPECT_EQ(b.GetInput(), nullptr);
    EXPECT_EQ(b.GetInputPortName(), "");
    b.SetInput(&a);
    ExpectLinked(a, b);
    EXPECT_EQ(d.GetInput(), nullptr);
    // A new producer of C detaches the old one.
    c.SetInput(&d);
    ExpectLinked(d, c);
    EXPECT_EQ(b.GetOutput(), nullptr);

    c.SetInput(nullptr);
    EXPECT_EQ(d.GetOutput(), nullptr);
    EXPECT_EQ(d.GetOutputPortName(), "");
    EXPECT_EQ(c.GetInput(), nullptr);

    a.SetOutputPort(&b, "AVeryLongPortNameThatGoesOnAndOn");
    EXPECT_EQ(a.GetOutputPortName(), "AVeryLongPortNameTha");
}

TEST(ChainLinking, CyclesAreRefusedAndLeaveLinksAlone) {
    Member a("A"), b("B"), c("C"), d("D"), e("E");
    a.SetOutput(&b);
    b.SetOutput(&c);
    c.SetOutput(&d);
    a.Opened();
    a.Started();

    a.SetInput(&a);
    a.SetOutput(&a);
    a.SetInput(&d); // A already feeds D through B and C
    d.SetOutput(&a);
    b.SetInput(&c);
    EXPECT_EQ(a.GetInput(), nullptr);
    EXPECT_EQ(d.GetOutput(), nullptr);
    ExpectLinked(a, b);
    ExpectLinked(b, c);
    ExpectLinked(c, d);
    EXPECT_TRUE(a.IsStarted()) << "a refused link changes no state";

    EXPECT_TRUE(a.CanConnectInput(&e));
    EXPECT_TRUE(d.CanConnectOutput(&e));
    // The free checks take their arguments in opposite roles.
    EXPECT_TRUE(DSPInpConnectCheck(&e, &a)); // may E be A's input?
    EXPECT_FALSE(DSPInpConnectCheck(&d, &a));
    EXPECT_TRUE(DSPOutConnectCheck(&d, &e)); // may E be D's output?
    EXPECT_FALSE(DSPOutConnectCheck(&d, &a));
    TComponent plain;
    EXPECT_FALSE(DSPInpConnectCheck(&plain, &a));
    EXPECT_FALSE(DSPOutConnectCheck(&plain, &a));
}

TEST(ChainLinking, LinkingAStartedMemberStopsItFirst) {
    test::Log log;
    Member a("A", &log), b("B", &log), c("C", &log);
    b.Opened();
    b.Started();
    log.clear();
    b.SetInput(&a);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "B.Stopped");
    EXPECT_FALSE(b.IsStarted());
    b.Started();
    b.SetOutput(&c);
    EXPECT_FALSE(b.IsStarted());
}

TEST(ChainLinking, UnpublishedSidesLinkThroughTheirFlagsAndLeaveNoStaleLink) {
    Member m("M"), n("N");
    Hidden closed("H", nullptr, false, false);
    Hidden out_only("O", nullptr, false, true);
    Hidden in_only("I", nullptr, true, false);
    m.SetInput(&closed);
    m.SetOutput(&closed);
    m.SetInput(&in_only);
    m.SetOutput(&out_only);
    EXPECT_EQ(m.GetInput(), nullptr);
    EXPECT_EQ(m.GetOutput(), nullptr);

    // O publishes no Output for its consumers to check, yet a new consumer
    // still detaches the old one; the same for I's producers.
    m.SetInput(&out_only);
    n.SetInput(&out_only);
    ExpectLinked(out_only, n);
    EXPECT_EQ(m.GetInput(), nullptr);
    m.SetOutput(&in_only);
    n.SetOutput(&in_only);
    ExpectLinked(n, in_only);
    EXPECT_EQ(m.GetOutput(), nullptr);
}

TEST(ChainLinking, FreedMembersAreUnlinkedFromEveryPartner) {
    Member a("A"), c("C");
    auto b = std::make_unique<Member>("B");
    a.SetOutput(b.get());
    b->SetOutput(&c);
    auto f = test::Pcm(2, 16, 44100);
    a.SetPWaveFormat(&f);
    const int members = DSPComponentCount();
    b.reset();
    EXPECT_EQ(a.GetOutput(), nullptr);
    EXPECT_EQ(c.GetInput(), nullptr);
    EXPECT_EQ(c.GetPWaveFormat(), nullptr);
    EXPECT_EQ(DSPComponentCount(), members - 1);

    // Links that bypass the published properties: an unpublished output,
    // and the raw port setter. Only free notification tells these partners;
    // under ASan a kept pointer shows as a use after free in the pulls.
    Hidden sink("Sink", nullptr, true, false);
    auto src = std::make_unique<Hidden>("Src", nullptr, false, true);
    src->SetOutput(&sink);
    auto raw = std::make_unique<Member>("Raw");
    a.SetInputPort(raw.get(), "Output");
    src.reset();
    raw.reset();
    EXPECT_EQ(sink.GetInput(), nullptr);
    EXPECT_EQ(a.GetInput(), nullptr);
    char data[16];
    platform::WAVEHDR hdr{data, sizeof(data), 0, 0, 0, 0, nullptr, 0};
    bool more = true;
    sink.BufferLoad(&hdr, more);
    a.BufferLoad(&hdr, more);
    EXPECT_EQ(hdr.dwBytesRecorded, 0u);
}

TEST(ChainLinking, AnOwnerFreesALinkedChainAndOutsidePartnersLetGo) {
    // Owned members go last-created first while the rest are marked as
    // being destroyed; ASan catches a call into a member already gone.
    Member outside("Out");
    const int before = DSPComponentCount();
    auto owner = std::make_unique<TComponent>();
    auto* a = new Member("A", nullptr, owner.get());
    auto* b = new test::Sound("B", nullptr, owner.get());
    auto* c = new Member("C", nullptr, owner.get());
    b->SetInput(a);
    b->SetOutput(c);
    c->SetOutput(&outside);
    auto f = test::Pcm(1, 8, 8000);
    a->SetPWaveFormat(&f);
    b->Opened();
    b->Started();
    ASSERT_NE(outside.GetPWaveFormat(), nullptr);
    owner.reset();
    EXPECT_EQ(DSPComponentCount(), before);
    EXPECT_EQ(outside.GetInput(), nullptr);
    EXPECT_EQ(outside.GetPWaveFormat(), nullptr);
}

} // namespace
} // namespace lum
