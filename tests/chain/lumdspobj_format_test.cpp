// The wave format and the buffer size along the chain.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "chain/chaintest.h"
#include "chain/lumdspobj.h"

namespace lum {
namespace {

using platform::WAVEFORMATEX;
using test::Member;
using test::Pcm;

bool SameFormat(const WAVEFORMATEX* a, const WAVEFORMATEX& b) {
    return a != nullptr && std::memcmp(a, &b, sizeof(WAVEFORMATEX)) == 0;
}

TEST(ChainFormat, AFormatSetAtTheHeadReachesEveryMemberAsItsOwnCopy) {
    Member a("A"), b("B"), c("C");
    a.SetOutput(&b);
    b.SetOutput(&c);
    auto f = Pcm(2, 16, 44100);
    a.SetPWaveFormat(&f);
    EXPECT_TRUE(SameFormat(a.GetPWaveFormat(), f));
    EXPECT_TRUE(SameFormat(b.GetPWaveFormat(), f));
    EXPECT_TRUE(SameFormat(c.GetPWaveFormat(), f));
    EXPECT_NE(a.GetPWaveFormat(), &f);
    EXPECT_NE(b.GetPWaveFormat(), a.GetPWaveFormat());
    EXPECT_NE(c.GetPWaveFormat(), b.GetPWaveFormat());

    // None travels the same way.
    a.SetPWaveFormat(nullptr);
    EXPECT_EQ(b.GetPWaveFormat(), nullptr);
    EXPECT_EQ(c.GetPWaveFormat(), nullptr);
}

TEST(ChainFormat, FormatsAreComparedByReferenceNotContents) {
    Member a("A"), b("B");
    a.SetOutput(&b);
    auto f = Pcm(1, 8, 11025);
    a.SetPWaveFormat(&f);
    const int changes = b.format_changes;

    // The reference already held: nothing happens downstream.
    a.SetPWaveFormat(a.GetPWaveFormat());
    EXPECT_EQ(b.format_changes, changes);
    // Equal contents at another address count as a new format.
    auto g = f;
    a.SetPWaveFormat(&g);
    EXPECT_EQ(b.format_changes, changes + 1);
    // None stays none: no notification for a second none.
    a.SetPWaveFormat(nullptr);
    const int cleared = b.format_changes;
    a.SetPWaveFormat(nullptr);
    EXPECT_EQ(b.format_changes, cleared);
}

TEST(ChainFormat, CopiesTakeTheExtraBytesOfCompressedFormatsAndNoneOfPcm) {
    struct Adpcm {
        WAVEFORMATEX wfx;
        unsigned char extra[32];
    } adpcm{};
    adpcm.wfx.wFormatTag = platform::WAVE_FORMAT_ADPCM;
    adpcm.wfx.nChannels = 1;
    adpcm.wfx.nBlockAlign = 256;
    adpcm.wfx.cbSize = sizeof(adpcm.extra);
    for (std::size_t i = 0; i < sizeof(adpcm.extra); ++i)
        adpcm.extra[i] = static_cast<unsigned char>(i * 7 + 1);
    Member a("A"), b("B");
    a.SetOutput(&b);
    a.SetPWaveFormat(&adpcm.wfx);
    ASSERT_NE(b.GetPWaveFormat(), nullptr);
    EXPECT_EQ(std::memcmp(b.GetPWaveFormat(), &adpcm, sizeof(adpcm)), 0);

    // A PCM record with a stray cbSize is copied as the bare record.
    auto pcm = Pcm(2, 16, 48000);
    pcm.cbSize = 1000;
    a.SetPWaveFormat(&pcm);
    ASSERT_NE(b.GetPWaveFormat(), nullptr);
    EXPECT_EQ(b.GetPWaveFormat()->cbSize, 0);
    EXPECT_EQ(b.GetPWaveFormat()->nSamplesPerSec, 48000u);
}

TEST(ChainFormat, LinkingTakesTheUpstreamFormatAndUnlinkingDropsIt) {
    auto f = Pcm(2, 16, 22050);
    Member a("A"), b("B"), c("C");
    a.SetPWaveFormat(&f);

    // Linked as output of a member with no input, B gets A's format.
    a.SetOutput(&b);
    EXPECT_TRUE(SameFormat(b.GetPWaveFormat(), f));
    // Linked below B (which has an input), C gets it too.
    c.SetInput(&b);
    EXPECT_TRUE(SameFormat(c.GetPWaveFormat(), f));

    // B loses its input: B and everything below lose the format.
    b.SetInput(nullptr);
    EXPECT_EQ(b.GetPWaveFormat(), nullptr);
    EXPECT_EQ(c.GetPWaveFormat(), nullptr);
    EXPECT_TRUE(SameFormat(a.GetPWaveFormat(), f));

    // The old output of a relinked member loses it as well.
    b.SetInput(&a);
    ASSERT_TRUE(SameFormat(c.GetPWaveFormat(), f));
    b.SetOutput(nullptr);
    EXPECT_EQ(c.GetPWaveFormat(), nullptr);
    EXPECT_TRUE(SameFormat(b.GetPWaveFormat(), f));
}

TEST(ChainFormat, ANewFormatStopsAStartedMember) {
    Member a("A");
    a.Opened();
    a.Started();
    auto f = Pcm(1, 16, 8000);
    a.SetPWaveFormat(&f);
    EXPECT_FALSE(a.IsStarted());
    a.Started();
    a.SetPWaveFormat(a.GetPWaveFormat());
    EXPECT_TRUE(a.IsStarted());
}

TEST(ChainFormat, LoadingHoldsTheFormatBackUntilLoaded) {
    Member a("A"), b("B");
    a.SetOutput(&b);
    a.BeginLoad();
    auto f = Pcm(2, 8, 11025);
    a.SetPWaveFormat(&f);
    EXPECT_TRUE(SameFormat(a.GetPWaveFormat(), f));
    EXPECT_EQ(b.GetPWaveFormat(), nullptr);
    a.EndLoad();
    EXPECT_TRUE(SameFormat(b.GetPWaveFormat(), f));

    // Linking while loading stores the link but leaves formats alone.
    Member c("C");
    c.BeginLoad();
    c.SetInput(&b);
    EXPECT_EQ(c.GetInput(), &b);
    EXPECT_EQ(c.GetPWaveFormat(), nullptr);
    c.EndLoad();
    EXPECT_TRUE(SameFormat(c.GetPWaveFormat(), f));
}

TEST(ChainBufferSize, RealSizeIsWholeBlocksAndAtLeastOne) {
    struct Case {
        std::int32_t requested;
        int block_align;
        std::uint32_t real;
    };
    const Case cases[] = {
        {3000, 4, 3000}, {3000, 2048, 2048}, {100, 256, 256}, {2048, 6, 2046},
        {2048, 0, 2048}, {1, 0, 1},          {0, 4, 4},       {-5, 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.requested << " bytes, block " << c.block_align);
        Member m;
        auto f = Pcm(1, 8, 8000);
        f.nBlockAlign = static_cast<platform::WORD>(c.block_align);
        m.SetPWaveFormat(&f);
        m.SetBufferSize(c.requested);
        m.Opened();
        EXPECT_EQ(m.GetBufferSize(), c.real);
        EXPECT_EQ(m.GetRealBufferSize(), c.real);
    }
}

TEST(ChainBufferSize, WithoutFormatTheRequestStandsButNeverBelowOneByte) {
    Member m;
    m.SetBufferSize(3001);
    m.Opened();
    EXPECT_EQ(m.GetBufferSize(), 3001u);
    m.Closed();
    m.SetBufferSize(-1);
    m.Opened();
    EXPECT_EQ(m.GetBufferSize(), 1u);
}

TEST(ChainBufferSize, TheSizeInForceIsFixedWhileOpened) {
    Member m;
    auto f = Pcm(2, 16, 44100);
    m.SetPWaveFormat(&f);
    EXPECT_EQ(m.GetBufferSize(), 2048u);
    m.SetBufferSize(1001);
    EXPECT_EQ(m.GetBufferSize(), 1001u);
    m.Opened();
    EXPECT_EQ(m.GetBufferSize(), 1000u);
    // A new request waits for the next open; a second Opened changes nothing.
    m.SetBufferSize(4099);
    m.Opened();
    EXPECT_EQ(m.GetBufferSize(), 1000u);
    m.Closed();
    EXPECT_EQ(m.GetBufferSize(), 4099u);
    m.Opened();
    EXPECT_EQ(m.GetBufferSize(), 4096u);
}

TEST(ChainBufferSize, ANewSizeStopsAStartedMemberAndTheSameSizeDoesNot) {
    Member m;
    m.Opened();
    m.Started();
    m.SetBufferSize(2048);
    EXPECT_TRUE(m.IsStarted());
    m.SetBufferSize(4096);
    EXPECT_FALSE(m.IsStarted());
}

} // namespace
} // namespace lum
