// Loading the compression manager: where it is looked for, binding all its
// entry points, and how everything degrades when it is absent (an empty
// LUM_ACM) or is some other library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "audio/lumacm.h"
#include "audio/lumacmdlg.h"
#include "audio/lumacmsup.h"
#include "audio/lumpcmsup.h"
#include "core/lumutils.h"

namespace lum {
namespace {

// Loads the manager from Path (null: LUM_ACM unset) for one test and puts
// the test program's own back afterwards.
class WithModule {
public:
    explicit WithModule(const char* path) {
        const char* now = std::getenv("LUM_ACM");
        saved_ = now ? std::optional<std::string>(now) : std::nullopt;
        acmShutdown();
        if (path)
            ::setenv("LUM_ACM", path, 1);
        else
            ::unsetenv("LUM_ACM");
        acmStartup();
    }
    ~WithModule() {
        acmShutdown();
        if (saved_)
            ::setenv("LUM_ACM", saved_->c_str(), 1);
        else
            ::unsetenv("LUM_ACM");
        acmStartup();
    }

private:
    std::optional<std::string> saved_;
};

TWaveFormatEx Pcm(int bits, int channels, int rate) {
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, bits, channels, rate);
    return f;
}

TEST(AcmLoader, CandidatesFollowTheEnvironmentThenTheProgramsFolder) {
    EXPECT_TRUE(acmModuleCandidates("", "/opt/x/bin").empty());
    EXPECT_EQ(acmModuleCandidates("/some/where.so", "/opt/x/bin"),
              std::vector<std::string>{"/some/where.so"});
    const auto found = acmModuleCandidates(nullptr, "/opt/x/bin");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], "/opt/x/bin/liblumacm.so");
    EXPECT_EQ(found[1].rfind("/opt/x/lib", 0), 0u) << found[1];
    EXPECT_NE(found[1].find("/snapreel/liblumacm.so"), std::string::npos) << found[1];
}

TEST(AcmLoader, BindsEveryEntryPoint) {
    ASSERT_TRUE(acmStartup()) << "LUM_ACM: "
                              << (std::getenv("LUM_ACM") ? std::getenv("LUM_ACM") : "");
    EXPECT_TRUE(acmIsPresent());
    EXPECT_TRUE(acmIsUsable());
    EXPECT_EQ(acmModulePath(), std::getenv("LUM_ACM"));
    EXPECT_EQ(acmGetVersion() >> 16, 0x0400u);
    const void* all[] = {reinterpret_cast<void*>(acmMetrics),
                         reinterpret_cast<void*>(acmDriverEnum),
                         reinterpret_cast<void*>(acmDriverDetailsA),
                         reinterpret_cast<void*>(acmDriverAddA),
                         reinterpret_cast<void*>(acmDriverRemove),
                         reinterpret_cast<void*>(acmDriverOpen),
                         reinterpret_cast<void*>(acmDriverClose),
                         reinterpret_cast<void*>(acmDriverMessage),
                         reinterpret_cast<void*>(acmDriverID),
                         reinterpret_cast<void*>(acmDriverPriority),
                         reinterpret_cast<void*>(acmFormatTagDetailsA),
                         reinterpret_cast<void*>(acmFormatTagEnumA),
                         reinterpret_cast<void*>(acmFormatChooseA),
                         reinterpret_cast<void*>(acmFormatDetailsA),
                         reinterpret_cast<void*>(acmFormatEnumA),
                         reinterpret_cast<void*>(acmFormatSuggest),
                         reinterpret_cast<void*>(acmFilterTagDetailsA),
                         reinterpret_cast<void*>(acmFilterTagEnumA),
                         reinterpret_cast<void*>(acmFilterChooseA),
                         reinterpret_cast<void*>(acmFilterDetailsA),
                         reinterpret_cast<void*>(acmFilterEnumA),
                         reinterpret_cast<void*>(acmStreamOpen),
                         reinterpret_cast<void*>(acmStreamClose),
                         reinterpret_cast<void*>(acmStreamSize),
                         reinterpret_cast<void*>(acmStreamConvert),
                         reinterpret_cast<void*>(acmStreamReset),
                         reinterpret_cast<void*>(acmStreamPrepareHeader),
                         reinterpret_cast<void*>(acmStreamUnprepareHeader)};
    for (std::size_t i = 0; i < std::size(all); ++i)
        EXPECT_NE(all[i], nullptr) << i;
}

// Everything answers "not possible" without the manager.
void ExpectDegraded() {
    EXPECT_FALSE(acmIsPresent());
    EXPECT_FALSE(acmIsUsable());
    EXPECT_EQ(acmStreamOpen, nullptr);
    const TWaveFormatEx pcm = Pcm(16, 2, 44100);
    TWaveFormatEx gsm = Pcm(16, 1, 8000);
    gsm.wFormatTag = WAVE_FORMAT_GSM610;
    EXPECT_FALSE(acmQueryConvert(&pcm, &gsm, false));
    EXPECT_EQ(acmBeginConvert(&pcm, &gsm, nullptr, false, 4096), nullptr);
    EXPECT_EQ(acmSizeOutputData(&pcm, &gsm, 4096), -1);
    TWaveFormatEx out{};
    out.nChannels = 9;
    EXPECT_FALSE(acmSuggestPCMFormat(&gsm, out));
    EXPECT_EQ(out.nChannels, 0);
    // PCM needs nothing of the manager.
    EXPECT_TRUE(acmSuggestPCMFormat(&pcm, out));
    EXPECT_EQ(out.nSamplesPerSec, 44100u);
    // Descriptions fall back to the wave layer's.
    std::string tag, text;
    TWaveFormatEx ima = Pcm(16, 1, 22050);
    ima.wFormatTag = WAVE_FORMAT_IMA_ADPCM;
    ASSERT_TRUE(acmGetFormatDescription(&ima, tag, text));
    EXPECT_EQ(tag, "IMA ADPCM");
    EXPECT_EQ(text, "22.050 kHz, 16 Bit, Mono");
    acm::WAVEFILTER filter{sizeof filter, acm::WAVE_FILTER_VOLUME, 0, {}};
    EXPECT_FALSE(acmGetFilterDescription(&filter, tag, text));
    EXPECT_EQ(tag, "Unknown FilterTag");
    EXPECT_EQ(text, "Unknown Filter");
    auto* built = acmBuildGSM610Header(8000); // builders need no manager
    ASSERT_NE(built, nullptr);
    GlobalFreeMem(built);
}

TEST(AcmLoader, EmptyVariableMeansNoManager) {
    WithModule none("");
    EXPECT_FALSE(acmStartup());
    EXPECT_TRUE(acmModulePath().empty());
    ExpectDegraded();
}

TEST(AcmLoader, MissingFileAndForeignLibraryMeanNoManager) {
    {
        WithModule missing("/nonexistent/liblumacm.so");
        ExpectDegraded();
    }
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&::cos)), &info), 0);
    WithModule foreign(info.dli_fname); // libm: no "acmGetVersion"
    ExpectDegraded();
}

} // namespace
} // namespace lum
