// `lum wave convert` through the compression manager component, checked by
// ffmpeg: 44.1 kHz stereo PCM to 8 kHz GSM decodes to the source's length
// and to a tone of the source's frequency.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "media.h"
#include "support/testutil.h"
#include "tools/lumtool.h"

namespace lum::interop {
namespace {

TEST(ConvertInterop, CdStereoToGsmDecodesToTheToneInFfmpeg) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    test::TempDir dir;
    const std::string in = dir.File("cd.wav");
    const std::string out = dir.File("gsm.wav");
    ASSERT_EQ(test::Run("ffmpeg -v error -y -f lavfi -i sine=f=700:d=1:r=44100 -ac 2 -c:a "
                        "pcm_s16le " +
                        test::Quote(in)),
              0);
    std::ostringstream o, e;
    tools::ToolIo io{o, e, false};
    ASSERT_EQ(tools::RunLum({"wave", "convert", in, out, "--format", "gsm"}, io), tools::kExitOk)
        << e.str();
    std::string raw;
    ASSERT_EQ(
        test::Run("ffmpeg -v error -c:a libgsm_ms -i " + test::Quote(out) + " -f s16le -", &raw),
        0);
    std::vector<std::int16_t> s(raw.size() / 2);
    std::memcpy(s.data(), raw.data(), s.size() * 2);
    // One second at 8000 Hz, whole GSM blocks of 320 samples.
    EXPECT_EQ(s.size(), 8000u);
    // The tone: rising zero crossings over the middle, away from the
    // codec's start-up.
    int crossings = 0;
    for (std::size_t i = 2001; i < 6000; ++i)
        if (s[i - 1] < 0 && s[i] >= 0) ++crossings;
    EXPECT_NEAR(crossings, 700 * 0.5, 4);
}

} // namespace
} // namespace lum::interop
