// Buffers pulled from the head of the chain and handed down it.
#include <gtest/gtest.h>

#include <vector>

#include "chain/chaintest.h"
#include "chain/lumdspobj.h"

namespace lum {
namespace {

using platform::WAVEHDR;
using test::CollectingSink;
using test::Log;
using test::Member;
using test::PatternSource;

std::vector<char> Pattern(std::size_t n) {
    std::vector<char> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<char>(i & 0xFF);
    return v;
}

TEST(ChainBuffers, PullsCarryEverySourceByteThroughPassThroughMembers) {
    PatternSource src(10000);
    Member a("A"), b("B");
    CollectingSink sink;
    a.SetInput(&src);
    b.SetInput(&a);
    sink.SetInput(&b);
    int filled = 0;
    b.OnBufferFilled = [&filled](TLumDSPComponent*, WAVEHDR*) { ++filled; };
    int pulls = 0;
    while (sink.Pull(2048))
        ++pulls;
    EXPECT_EQ(pulls, 4); // four full buffers said more; the fifth, of 1808 bytes, ended it
    EXPECT_EQ(sink.received, Pattern(10000));
    // A pull after the end records nothing and fills nobody.
    EXPECT_EQ(filled, 5);
    EXPECT_FALSE(sink.Pull(2048));
    EXPECT_EQ(filled, 5);
    EXPECT_EQ(sink.received.size(), 10000u);
}

TEST(ChainBuffers, LoadEventsRunDownstreamFirstAndFilledEventsUpstreamFirst) {
    Log order;
    PatternSource src(100);
    Member a("A"), b("B");
    CollectingSink sink;
    a.SetInput(&src);
    b.SetInput(&a);
    sink.SetInput(&b);
    for (Member* m : {static_cast<Member*>(&src), &a, &b, static_cast<Member*>(&sink)}) {
        const std::string name = m->Name();
        m->OnBufferLoad = [&order, name](TLumDSPComponent*, WAVEHDR* hdr, bool&) {
            order.push_back("load " + name);
            EXPECT_EQ(hdr->dwBytesRecorded, 0u) << "loaded before the source filled it";
        };
        m->OnBufferFilled = [&order, name](TLumDSPComponent*, WAVEHDR* hdr) {
            order.push_back("filled " + name);
            EXPECT_GT(hdr->dwBytesRecorded, 0u);
        };
    }
    sink.Pull(64);
    // The source fills after its own load event, so it raises no filled
    // event of its own.
    EXPECT_EQ(order, (Log{"load Sink", "load B", "load A", "load Src", "filled A", "filled B",
                          "filled Sink"}));
}

TEST(ChainBuffers, EachMemberSeesTheBufferAfterItsUpstreamNeighboursChangedIt) {
    PatternSource src(4);
    Member add("Add"), twice("Twice");
    CollectingSink sink;
    add.SetInput(&src);
    twice.SetInput(&add);
    sink.SetInput(&twice);
    add.OnBufferFilled = [](TLumDSPComponent*, WAVEHDR* hdr) {
        for (platform::DWORD i = 0; i < hdr->dwBytesRecorded; ++i)
            hdr->lpData[i] = static_cast<char>(hdr->lpData[i] + 10);
    };
    twice.OnBufferFilled = [](TLumDSPComponent*, WAVEHDR* hdr) {
        for (platform::DWORD i = 0; i < hdr->dwBytesRecorded; ++i)
            hdr->lpData[i] = static_cast<char>(hdr->lpData[i] * 2);
    };
    EXPECT_FALSE(sink.Pull(16));
    // (x + 10) * 2, not x * 2 + 10.
    EXPECT_EQ(sink.received, (std::vector<char>{20, 22, 24, 26}));
}

TEST(ChainBuffers, BufferReadyTravelsDownToTheEnd) {
    Member a("A"), b("B"), c("C");
    a.SetOutput(&b);
    b.SetOutput(&c);
    Log order;
    std::vector<char> data(8, 'x');
    WAVEHDR hdr{};
    hdr.lpData = data.data();
    hdr.dwBufferLength = 8;
    for (Member* m : {&a, &b, &c}) {
        const std::string name = m->Name();
        m->OnBufferReady = [&order, &hdr, name](TLumDSPComponent* sender, WAVEHDR* h) {
            EXPECT_EQ(h, &hdr);
            EXPECT_NE(sender, nullptr);
            order.push_back(name);
        };
    }
    b.BufferReady(&hdr);
    EXPECT_EQ(order, (Log{"B", "C"}));
    order.clear();
    a.BufferReady(&hdr);
    EXPECT_EQ(order, (Log{"A", "B", "C"}));
}

} // namespace
} // namespace lum
