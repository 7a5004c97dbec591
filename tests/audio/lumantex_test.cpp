// Streaming IMA and DVI ADPCM: the given table rows, the clamps under
// repeated extreme codes, state carried across calls, each layout's byte
// and nibble order, encode-decode round trips (the stereo IMA pair agreeing
// on which nibble is left), the 32-bit encoder difference, and records
// holding garbage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "audio/lumantex.h"

namespace lum {
namespace {

using Samples = std::vector<std::int16_t>;
using Bytes = std::vector<std::uint8_t>;
using Routine = std::int32_t (*)(const void*, void*, std::int32_t, TIMA_PARAMS&);

Samples Decode(Routine r, const Bytes& in, TIMA_PARAMS& p) {
    Samples out(in.size() * 2);
    EXPECT_EQ(r(in.data(), out.data(), static_cast<std::int32_t>(in.size()), p),
              static_cast<std::int32_t>(in.size() * 4));
    return out;
}

Bytes Encode(Routine r, const Samples& in, TIMA_PARAMS& p) {
    Bytes out(in.size() / 2 + 2);
    const std::int32_t n = r(in.data(), out.data(), static_cast<std::int32_t>(in.size() * 2), p);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

Samples Tone(int frames, int channels, double silenceRight = false) {
    Samples s;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s.push_back(c == 1 && silenceRight
                            ? 0
                            : static_cast<std::int16_t>(9000 * std::sin(0.05 * i * (c + 1))));
    return s;
}

double Snr(const Samples& a, const Samples& b, int stride = 1, int offset = 0) {
    double s = 0, n = 0;
    for (std::size_t i = static_cast<std::size_t>(offset); i < std::min(a.size(), b.size());
         i += static_cast<std::size_t>(stride)) {
        s += double(a[i]) * a[i];
        n += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    return n == 0 ? 200 : 10 * std::log10(s / n);
}

TEST(ImaTables, RowsOfTheFirstStepsAndTheCap) {
    const int ima7[8] = {0, 2, 4, 6, 8, 10, 12, 13};
    const int dvi7[8] = {0, 2, 4, 6, 7, 9, 11, 13};
    for (int m = 0; m < 8; ++m) {
        EXPECT_EQ(IMADifference(0, m), ima7[m]) << m;
        EXPECT_EQ(DVIDifference(0, m), dvi7[m]) << m;
        EXPECT_EQ(IMADifference(1, m), 2 * m + 1);
        EXPECT_EQ(DVIDifference(1, m), 2 * m + 1);
    }
    EXPECT_EQ(IMAStepTable[88], 32767);
    EXPECT_EQ(DVIDifference(88, 7), 32767); // 15 x 32767 / 8, capped
    EXPECT_EQ(DVIDifference(60, 3), 7 * IMAStepTable[60] / 8);
}

TEST(ImaStreaming, RepeatedExtremeCodesStayInRange) {
    for (Routine r : {WMIMATOPCM, WSIMATOPCM, WMDVITOPCM, WSDVITOPCM}) {
        for (std::uint8_t code : {0x77, 0xFF}) {
            TIMA_PARAMS p{};
            const Samples out = Decode(r, Bytes(200, code), p);
            // Codes 7 climb to the top and stay; codes 15 to the bottom.
            EXPECT_EQ(out.back(), code == 0x77 ? 32767 : -32768);
            EXPECT_EQ(p.Channel[0].StepIndex, 88);
        }
    }
}

TEST(ImaStreaming, TwoCallsGiveWhatOneCallGives) {
    Bytes data(301);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (Routine r : {WMIMATOPCM, WSIMATOPCM, WMDVITOPCM, WSDVITOPCM}) {
        TIMA_PARAMS whole{}, parts{};
        const Samples one = Decode(r, data, whole);
        Samples two = Decode(r, Bytes(data.begin(), data.begin() + 100), parts);
        const Samples rest = Decode(r, Bytes(data.begin() + 100, data.end()), parts);
        two.insert(two.end(), rest.begin(), rest.end());
        EXPECT_EQ(one, two);
        EXPECT_EQ(std::memcmp(&whole, &parts, sizeof whole), 0);
    }
}

TEST(ImaStreaming, LayoutsTakeNibblesAndBytesInTheirOrder) {
    // Mono: the high nibble first. From rest a code 7 jumps by 13 (step 7,
    // magnitude 7) and moves to step 16, where a code 0 adds 2.
    TIMA_PARAMS p{};
    EXPECT_EQ(Decode(WMIMATOPCM, {0x70}, p), (Samples{13, 15}));
    // Stereo IMA: the low nibble is left.
    p = {};
    EXPECT_EQ(Decode(WSIMATOPCM, {0x70}, p), (Samples{0, 13}));
    // Stereo DVI: byte 1 before byte 0, the high nibble left.
    p = {};
    EXPECT_EQ(Decode(WSDVITOPCM, {0x00, 0x70}, p), (Samples{13, 0, 15, 0}));
    // A trailing odd byte is taken on its own.
    p = {};
    EXPECT_EQ(Decode(WSDVITOPCM, {0x00, 0x00, 0x07}, p).size(), 6u);
}

TEST(ImaStreaming, EncodersRoundTripThroughTheirDecoders) {
    struct Pair {
        Routine encode, decode;
        int channels;
    };
    for (const Pair& pair : {Pair{WMPCMTOIMA, WMIMATOPCM, 1}, Pair{WSPCMTOIMA, WSIMATOPCM, 2},
                             Pair{WMPCMTODVI, WMDVITOPCM, 1}, Pair{WSPCMTODVI, WSDVITOPCM, 2}}) {
        // Right silent: a channel swap between encoder and decoder would put
        // the tone on the right.
        const Samples source = Tone(4000, pair.channels, true);
        TIMA_PARAMS e{}, d{};
        const Bytes coded = Encode(pair.encode, source, e);
        ASSERT_EQ(coded.size(), 2000u * pair.channels);
        const Samples decoded = Decode(pair.decode, coded, d);
        EXPECT_GT(Snr(source, decoded, pair.channels, 0), 20);
        if (pair.channels == 2) {
            double right = 0;
            for (std::size_t i = 1; i < decoded.size(); i += 2)
                right = std::max(right, std::abs(double(decoded[i])));
            EXPECT_LT(right, 64);
        }
    }
}

TEST(ImaStreaming, StereoDviFillsTheWordOfAnOddLastFrame) {
    // Three frames are written as four, the last one twice.
    const Samples three = {100, -100, 200, -200, 300, -300};
    const Samples four = {100, -100, 200, -200, 300, -300, 300, -300};
    TIMA_PARAMS p{}, q{};
    Bytes odd(8, 0xEE), even(8, 0xEE);
    EXPECT_EQ(WSPCMTODVI(three.data(), odd.data(), 12, p), 4);
    EXPECT_EQ(WSPCMTODVI(four.data(), even.data(), 16, q), 4);
    EXPECT_EQ(odd, even);
    EXPECT_EQ(odd[4], 0xEE); // nothing beyond the word
}

TEST(ImaStreaming, EncoderDifferenceDoesNotWrap) {
    // From the bottom to the top: in 16 bits 32767 - (-28673) wraps to a
    // negative difference and the code would step down.
    TIMA_PARAMS p{};
    p.Channel[0].Predictor = -32768;
    p.Channel[0].StepIndex = 88;
    const Samples up = {32767, 32767};
    Bytes out(1);
    ASSERT_EQ(WMPCMTOIMA(up.data(), out.data(), 4, p), 1);
    EXPECT_EQ(out[0] & 0x80, 0) << "the first code must be positive";
    EXPECT_GT(p.Channel[0].Predictor, -32768);
}

TEST(ImaStreaming, GarbageInTheRecordStaysInsideTheTables) {
    TIMA_PARAMS p{};
    p.Channel[0].StepIndex = 300;
    p.Channel[1].StepIndex = -5;
    p.Channel[0].LastCode = 0x7FFF;
    const Samples out = Decode(WSIMATOPCM, Bytes(16, 0x3C), p);
    EXPECT_EQ(out.size(), 32u);
    for (const TIMA_CHANNEL& c : p.Channel) {
        EXPECT_GE(c.StepIndex, 0);
        EXPECT_LE(c.StepIndex, 88);
    }
    Bytes enc(4);
    const Samples in(8, 1000);
    p.Channel[0].StepIndex = 1000;
    EXPECT_EQ(WMPCMTODVI(in.data(), enc.data(), 16, p), 4);
    EXPECT_LE(p.Channel[0].StepIndex, 88);
}

} // namespace
} // namespace lum
