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
using test::Sound;

void ExpectLinked(TLumDSPComponent& up, TLumDSPComponent& down) {
    EXPECT_EQ(up.GetOutput(), &down);
    EXPECT_EQ(down.GetInput(), &up);
    EXPECT_EQ(up.GetOutputPortName(), "Input");
    EXPECT_EQ(down.GetInputPortName(), "Output");
}

TEST(ChainLinking, SetInputAndSetOutputLinkBothWays) {
    Member a("A"), b("B"), c("C");
    b.SetInput(&a);
    ExpectLinked(a, b);
    b.SetOutput(&c);
    ExpectLinked(b, c);
    EXPECT_EQ(a.GetInput(), nullptr);
    EXPECT_EQ(c.GetOutput(), nullptr);

    // Unlinking clears both sides and both port names.
    b.SetInput(nullptr);
    EXPECT_EQ(a.GetOutput(), nullptr);
    EXPECT_EQ(b.GetInput(), nullptr);
    EXPECT_EQ(a.GetOutputPortName(), "");
    EXPECT_EQ(b.GetInputPortName(), "");
    c.SetInput(nullptr);
    EXPECT_EQ(b.GetOutput(), nullptr);
}

TEST(ChainLinking, NewConsumerDetachesTheOldOne) {
    Member a("A"), b("B"), c("C");
    a.SetOutput(&c);
    a.SetOutput(&b);
    ExpectLinked(a, b);
    EXPECT_EQ(c.GetInput(), nullptr);
    EXPECT_EQ(c.GetInputPortName(), "");

    // The same from the consumer's side: D takes A, B loses it.
    Member d("D");
    d.SetInput(&a);
    ExpectLinked(a, d);
    EXPECT_EQ(b.GetInput(), nullptr);
}

TEST(ChainLinking, NewProducerDetachesTheOldOne) {
    Member a("A"), b("B"), c("C");
    c.SetInput(&a);
    c.SetInput(&b);
    ExpectLinked(b, c);
    EXPECT_EQ(a.GetOutput(), nullptr);

    Member d("D");
    d.SetOutput(&c);
    ExpectLinked(d, c);
    EXPECT_EQ(b.GetOutput(), nullptr);
}

TEST(ChainLinking, CyclesAreRefusedAndLeaveLinksAlone) {
    Member a("A"), b("B"), c("C"), d("D");
    a.SetOutput(&b);
    b.SetOutput(&c);
    c.SetOutput(&d);

    a.SetInput(&a);
    a.SetOutput(&a);
    EXPECT_EQ(a.GetInput(), nullptr);

    // A already feeds D through B and C.
    a.SetInput(&d);
    d.SetOutput(&a);
    b.SetInput(&c);
    EXPECT_FALSE(a.CanConnectInput(&d));
    EXPECT_FALSE(d.CanConnectOutput(&a));
    EXPECT_EQ(a.GetInput(), nullptr);
    EXPECT_EQ(d.GetOutput(), nullptr);
    ExpectLinked(a, b);
    ExpectLinked(b, c);
    ExpectLinked(c, d);

    // Closing nothing: D may feed a fresh member, and A may take one.
    Member e("E");
    EXPECT_TRUE(a.CanConnectInput(&e));
    EXPECT_TRUE(d.CanConnectOutput(&e));
}

TEST(ChainLinking, ConnectChecksTakeTheirArgumentsInOppositeRoles) {
    Member a("A"), b("B");
    a.SetOutput(&b);
    // Inp(x, y): may x be y's input? Out(x, y): may y be x's output?
    EXPECT_TRUE(DSPInpConnectCheck(&a, &b));
    EXPECT_FALSE(DSPInpConnectCheck(&b, &a));
    EXPECT_TRUE(DSPOutConnectCheck(&a, &b));
    EXPECT_FALSE(DSPOutConnectCheck(&b, &a));

    TComponent plain;
    EXPECT_FALSE(DSPInpConnectCheck(&plain, &a));
    EXPECT_FALSE(DSPInpConnectCheck(&a, &plain));
    EXPECT_FALSE(DSPOutConnectCheck(&plain, &a));
    EXPECT_FALSE(DSPOutConnectCheck(&a, &plain));
}

TEST(ChainLinking, MembersWithoutAPublishedSideLinkOnlyThroughTheirFlags) {
    Member m("M");
    Hidden closed("H", nullptr, false, false);
    Hidden out_only("O", nullptr, false, true);
    Hidden in_only("I", nullptr, true, false);

    m.SetInput(&closed);
    m.SetOutput(&closed);
    EXPECT_EQ(m.GetInput(), nullptr);
    EXPECT_EQ(m.GetOutput(), nullptr);

    m.SetInput(&in_only);
    EXPECT_EQ(m.GetInput(), nullptr);
    m.SetInput(&out_only);
    ExpectLinked(out_only, m);
    m.SetOutput(&out_only);
    EXPECT_EQ(m.GetOutput(), nullptr);
    m.SetOutput(&in_only);
    ExpectLinked(m, in_only);
}

TEST(ChainLinking, RelinkingAroundAnUnpublishedSideLeavesNoStaleLink) {
    // O publishes no Output: its consumers cannot ask it through a property,
    // yet a new consumer must still detach the old one.
    Hidden o("O", nullptr, false, true);
    Member a("A"), b("B");
    a.SetInput(&o);
    b.SetInput(&o);
    ExpectLinked(o, b);
    EXPECT_EQ(a.GetInput(), nullptr);

    // And a producer relinked away from I (no published Input) drops it.
    Hidden i("I", nullptr, true, false);
    Member p("P"), q("Q");
    p.SetOutput(&i);
    q.SetOutput(&i);
    ExpectLinked(q, i);
    EXPECT_EQ(p.GetOutput(), nullptr);
}

TEST(ChainLinking, PortNamesAreCutToTwentyCharacters) {
    Member a("A"), b("B");
    a.SetOutputPort(&b, "AVeryLongPortNameThatGoesOnAndOn");
    EXPECT_EQ(a.GetOutputPortName(), "AVeryLongPortNameTha");
    a.SetOutputPort(nullptr, "");
}

TEST(ChainLinking, LinkingAStartedMemberStopsItFirst) {
    test::Log log;
    Member a("A", &log), b("B", &log), c("C", &log);
    b.Opened();
    b.Started();
    ASSERT_TRUE(b.IsStarted());
    log.clear();
    b.SetInput(&a);
    EXPECT_FALSE(b.IsStarted());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "B.Stopped");

    b.Started();
    b.SetOutput(&c);
    EXPECT_FALSE(b.IsStarted());
    // A refused link changes nothing, not even the state.
    b.Started();
    b.SetOutput(&b);
    EXPECT_TRUE(b.IsStarted());
}

TEST(ChainLinking, FreedMembersAreUnlinkedFromEveryPartner) {
    Member a("A"), c("C");
    auto b = std::make_unique<Member>("B");
    a.SetOutput(b.get());
    b->SetOutput(&c);
    auto f = test::Pcm(2, 16, 44100);
    a.SetPWaveFormat(&f);
    ASSERT_NE(c.GetPWaveFormat(), nullptr);
    const int members = DSPComponentCount();

    b.reset();
    EXPECT_EQ(a.GetOutput(), nullptr);
    EXPECT_EQ(c.GetInput(), nullptr);
    EXPECT_EQ(c.GetPWaveFormat(), nullptr);
    EXPECT_EQ(DSPComponentCount(), members - 1);
    // A can link to C straight away.
    a.SetOutput(&c);
    ExpectLinked(a, c);
}

TEST(ChainLinking, PartnersLinkedAroundThePropertiesForgetAFreedMember) {
    // Neither side publishes the link, so only free notification tells the
    // partner. Under ASan a kept pointer shows as a use after free in the
    // pulls and relinks below.
    Hidden sink("Sink", nullptr, true, false);
    auto src = std::make_unique<Hidden>("Src", nullptr, false, true);
    src->SetOutput(&sink);
    ASSERT_EQ(sink.GetInput(), src.get());
    src.reset();
    EXPECT_EQ(sink.GetInput(), nullptr);

    // A link made with the raw port setter alone.
    Member m("M");
    auto other = std::make_unique<Member>("Other");
    m.SetInputPort(other.get(), "Output");
    other.reset();
    EXPECT_EQ(m.GetInput(), nullptr);

    std::vector<char> data(64);
    platform::WAVEHDR hdr{};
    hdr.lpData = data.data();
    hdr.dwBufferLength = 64;
    bool more = true;
    sink.BufferLoad(&hdr, more);
    m.BufferLoad(&hdr, more);
    m.SetInput(nullptr);
    EXPECT_EQ(hdr.dwBytesRecorded, 0u);
}

TEST(ChainLinking, AnOwnerFreesALinkedChainAndOutsidePartnersLetGo) {
    // Owned members go last-created first, each while the others are
    // already marked as being destroyed; ASan catches any call into a
    // member that went before.
    Member outside("Out");
    const int before = DSPComponentCount();
    auto owner = std::make_unique<TComponent>();
    auto* a = new Member("A", nullptr, owner.get());
    auto* b = new Sound("B", nullptr, owner.get());
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
