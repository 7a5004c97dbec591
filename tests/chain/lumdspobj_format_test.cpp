// The wave format and the buffer size along the chain.
#include <gtest/gtest.h>

#include <cstring>

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
    EXPECT_TRUE(SameFormat(b.GetPWaveFormat(), f));
    EXPECT_TRUE(SameFormat(c.GetPWaveFormat(), f));
    EXPECT_NE(a.GetPWaveFormat(), &f);
    EXPECT_NE(b.GetPWaveFormat(), a.GetPWaveFormat());
    EXPECT_NE(c.GetPWaveFormat(), b.GetPWaveFormat());

    // References are compared, not contents; none stays none.
    const int changes = c.format_changes;
    a.SetPWaveFormat(a.GetPWaveFormat());
    EXPECT_EQ(c.format_changes, changes);
    auto g = f;
    a.SetPWaveFormat(&g);
    EXPECT_EQ(c.format_changes, changes + 1);
    a.SetPWaveFormat(nullptr);
    EXPECT_EQ(c.GetPWaveFormat(), nullptr);
    a.SetPWaveFormat(nullptr);
    EXPECT_EQ(c.format_changes, changes + 2);
}

TEST(ChainFormat, CopiesTakeTheExtraBytesOfCompressedFormatsAndNoneOfPcm) {
    struct Adpcm {
        WAVEFORMATEX wfx;
        unsigned char extra[32];
    } adpcm{};
    adpcm.wfx.wFormatTag = platform::WAVE_FORMAT_ADPCM;
    adpcm.wfx.nBlockAlign = 256;
    adpcm.wfx.cbSize = sizeof(adpcm.extra);
    for (std::size_t i = 0; i < sizeof(adpcm.extra); ++i)
        adpcm.extra[i] = static_cast<unsigned char>(i * 7 + 1);
    Member a("A"), b("B");
    a.SetOutput(&b);
    a.SetPWaveFormat(&adpcm.wfx);
    ASSERT_NE(b.GetPWaveFormat(), nullptr);
    EXPECT_EQ(std::memcmp(b.GetPWaveFormat(), &adpcm, sizeof(adpcm)), 0);

    // PCM is copied as the bare record, whatever its cbSize says.
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
    a.SetOutput(&b); // no input above: A pushes its own format
    c.SetInput(&b);  // an input: C takes B's
    EXPECT_TRUE(SameFormat(c.GetPWaveFormat(), f));

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

    // A new format stops a started member; the one it holds does not.
    b.Opened();
    b.Started();
    b.SetPWaveFormat(b.GetPWaveFormat());
    EXPECT_TRUE(b.IsStarted());
    b.SetPWaveFormat(&f);
    EXPECT_FALSE(b.IsStarted());
}

TEST(ChainFormat, LoadingHoldsTheFormatBackUntilLoaded) {
    Member a("A"), b("B"), c("C");
    a.SetOutput(&b);
    a.BeginLoad();
    auto f = Pcm(2, 8, 11025);
    a.SetPWaveFormat(&f);
    EXPECT_EQ(b.GetPWaveFormat(), nullptr);
    a.EndLoad();
    EXPECT_TRUE(SameFormat(b.GetPWaveFormat(), f));

    // Linking while loading keeps the link and applies the format later.
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
        int block_align; // -1: no format
        std::uint32_t real;
    };
    const Case cases[] = {
        {3000, 4, 3000}, {3000, 2048, 2048}, {100, 256, 256},  {2048, 6, 2046}, {0, 4, 4},
        {-5, 4, 4},      {2048, 0, 2048},    {3001, -1, 3001}, {-1, -1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.requested << " bytes, block " << c.block_align);
        Member m;
        auto f = Pcm(1, 8, 8000);
        f.nBlockAlign = static_cast<platform::WORD>(c.block_align);
        if (c.block_align >= 0) m.SetPWaveFormat(&f);
        m.SetBufferSize(c.requested);
        m.Opened();
        EXPECT_EQ(m.GetBufferSize(), c.real);
    }
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
    m.SetBufferSize(4099); // waits for the next open
    m.Opened();
    EXPECT_EQ(m.GetBufferSize(), 1000u);
    m.Closed();
    m.Opened();
    EXPECT_EQ(m.GetBufferSize(), 4096u);

    // A new size stops a started member; the same size does not.
    m.Started();
    m.SetBufferSize(4099);
    EXPECT_TRUE(m.IsStarted());
    m.SetBufferSize(8192);
    EXPECT_FALSE(m.IsStarted());
}

} // namespace
} // namespace lum
