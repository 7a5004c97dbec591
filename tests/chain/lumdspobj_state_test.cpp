// State notifications: the flags of a member, the events of the interface
// member, and how a sound component passes each state along its segment.
#include <gtest/gtest.h>

#include "chain/chaintest.h"
#include "chain/lumdspobj.h"

namespace lum {
namespace {

using test::Log;
using test::Member;
using test::Sound;

TEST(ChainStates, InterfaceEventsFireOnlyForChangesThatTookEffect) {
    Log events;
    TLumDSPInterface m;
    auto note = [&events](const char* what) {
        return [&events, what](TLumDSPComponent* sender) {
            events.push_back(what);
            EXPECT_NE(sender, nullptr);
        };
    };
    m.OnOpen = note("open");
    m.OnStart = note("start");
    m.OnPause = note("pause");
    m.OnRestart = note("restart");
    m.OnStop = note("stop");
    m.OnClose = note("close");

    m.Started(); // not opened
    m.Stopped(); // not started
    m.Closed();  // not opened
    m.Opened();
    m.Opened();
    m.Started();
    m.Started();
    m.Paused();
    m.Restarted();
    m.Stopped();
    m.Stopped();
    m.Closed();
    m.Closed();
    EXPECT_EQ(events, (Log{"open", "start", "pause", "restart", "stop", "close"}));
}

// Src → P1 → S1 → P2 → S2 → P3: two sound components, three segments.
class Segments : public testing::Test {
protected:
    Segments() {
        p1.SetInput(&src);
        s1.SetInput(&p1);
        p2.SetInput(&s1);
        s2.SetInput(&p2);
        p3.SetInput(&s2);
        log.clear();
    }
    std::vector<const TLumDSPComponent*> All() const { return {&src, &p1, &s1, &p2, &s2, &p3}; }

    Log log;
    Member src{"Src", &log};
    Member p1{"P1", &log};
    Sound s1{"S1", &log};
    Member p2{"P2", &log};
    Sound s2{"S2", &log};
    Member p3{"P3", &log};
};

TEST_F(Segments, OpenedReachesTheWholeChainFromTheHeadSoundComponent) {
    s1.Opened();
    EXPECT_EQ(log,
              (Log{"S1.Opened", "Src.Opened", "P1.Opened", "P2.Opened", "S2.Opened", "P3.Opened"}));
    EXPECT_FALSE(s1.NotHead());
    EXPECT_TRUE(s2.NotHead());
    for (const TLumDSPComponent* m : All())
        EXPECT_TRUE(m->IsOpened());
}

TEST_F(Segments, StatesStopAtTheSoundComponentUpstream) {
    // S2 sits below S1: its segment is only what lies below it.
    s2.Opened();
    s2.Started();
    EXPECT_EQ(log, (Log{"S2.Opened", "P3.Opened", "S2.Started", "P3.Started"}));
    EXPECT_TRUE(s2.NotHead());
    EXPECT_FALSE(p2.IsOpened());
    EXPECT_FALSE(src.IsOpened());
}

TEST_F(Segments, StartedPausedRestartedAndResetingTravelDownward) {
    s1.Opened();
    log.clear();
    s1.Started();
    s1.Paused();
    s1.Restarted();
    s1.Reseting();
    const char* calls[] = {"Started", "Paused", "Restarted", "Reseting"};
    Log expected;
    for (const char* c : calls) {
        for (const char* m : {"S1", "Src", "P1", "P2", "S2", "P3"})
            expected.push_back(std::string(m) + "." + c);
    }
    EXPECT_EQ(log, expected);
    EXPECT_TRUE(p3.IsStarted());
}

TEST_F(Segments, StoppedAndClosedReachTheNextSoundComponentFirst) {
    s1.Opened();
    s1.Started();
    log.clear();
    s1.Stopped();
    EXPECT_EQ(log, (Log{"S1.Stopped", "S2.Stopped", "P3.Stopped", "Src.Stopped", "P1.Stopped",
                        "P2.Stopped"}));
    log.clear();
    s1.Closed();
    EXPECT_EQ(log,
              (Log{"S1.Closed", "S2.Closed", "P3.Closed", "Src.Closed", "P1.Closed", "P2.Closed"}));
    EXPECT_FALSE(p3.IsOpened());
    EXPECT_FALSE(src.IsOpened());
}

TEST_F(Segments, OpenedHandsTheSoundComponentsBufferSizeToItsSegment) {
    auto f = test::Pcm(2, 16, 44100); // 4-byte blocks
    src.SetPWaveFormat(&f);
    s1.SetBufferSize(4099);
    s2.SetBufferSize(999);
    s1.Opened();
    EXPECT_EQ(p1.GetBufferSize(), 4096u);
    EXPECT_EQ(p2.GetBufferSize(), 4096u);
    // S2 got S1's request and handed it on below itself.
    EXPECT_EQ(s2.GetBufferSize(), 4096u);
    EXPECT_EQ(p3.GetBufferSize(), 4096u);
}

TEST(ChainStates, ADeviceBelowPlainMembersOpensThemAll) {
    Log log;
    Member file("File", &log), conv("Conv", &log);
    Sound out("Out", &log);
    conv.SetInput(&file);
    out.SetInput(&conv);
    log.clear();
    out.Opened();
    out.Started();
    EXPECT_EQ(log, (Log{"Out.Opened", "File.Opened", "Conv.Opened", "Out.Started", "File.Started",
                        "Conv.Started"}));
    EXPECT_FALSE(out.NotHead());
    EXPECT_TRUE(file.IsStarted());
    EXPECT_TRUE(conv.IsStarted());
}

} // namespace
} // namespace lum
