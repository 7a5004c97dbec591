// What the module knows: version, metrics, drivers, format tags and their
// standard formats, enumeration with restrictions, suggestions, and
// handle checks.
#include <algorithm>
#include <set>
#include <string>

#include "platform/acm/acmtest.h"

namespace lum::platform::acm::test {
namespace {

DWORD Metric(HACMOBJ h, UINT metric) {
    DWORD v = 0;
    EXPECT_EQ(Acm().Metrics(h, metric, &v), MMSYSERR_NOERROR) << metric;
    return v;
}

std::vector<HACMDRIVERID> DriverIds() {
    std::vector<HACMDRIVERID> ids;
    Acm().DriverEnum(
        [](HACMDRIVERID id, DWORD_PTR inst, DWORD) -> BOOL {
            reinterpret_cast<std::vector<HACMDRIVERID>*>(inst)->push_back(id);
            return 1;
        },
        reinterpret_cast<DWORD_PTR>(&ids), 0);
    return ids;
}

ACMFORMATTAGDETAILSA TagDetails(DWORD tag) {
    ACMFORMATTAGDETAILSA t{};
    t.cbStruct = sizeof t;
    t.dwFormatTag = tag;
    EXPECT_EQ(Acm().FormatTagDetails(nullptr, &t, ACM_FORMATTAGDETAILSF_FORMATTAG),
              MMSYSERR_NOERROR)
        << tag;
    return t;
}

struct Enumerated {
    std::vector<Bytes> formats;
    std::vector<std::string> texts;
    int stopAfter = -1;
};

BOOL Collect(HACMDRIVERID, ACMFORMATDETAILSA* d, DWORD_PTR inst, DWORD) {
    auto* e = reinterpret_cast<Enumerated*>(inst);
    const std::size_t n = d->pwfx->wFormatTag == 1 ? 18 : 18 + d->pwfx->cbSize;
    e->formats.emplace_back(reinterpret_cast<BYTE*>(d->pwfx), reinterpret_cast<BYTE*>(d->pwfx) + n);
    e->texts.emplace_back(d->szFormat);
    return e->stopAfter < 0 || static_cast<int>(e->formats.size()) < e->stopAfter;
}

Enumerated Enumerate(const WAVEFORMATEX& ref, DWORD flags, int stopAfter = -1) {
    Enumerated e;
    e.stopAfter = stopAfter;
    Bytes buffer = Record(ref, 256);
    ACMFORMATDETAILSA d{};
    d.cbStruct = sizeof d;
    d.pwfx = reinterpret_cast<WAVEFORMATEX*>(buffer.data());
    d.cbwfx = static_cast<DWORD>(buffer.size());
    EXPECT_EQ(Acm().FormatEnum(nullptr, &d, Collect, reinterpret_cast<DWORD_PTR>(&e), flags),
              MMSYSERR_NOERROR);
    return e;
}

class AcmCatalogue : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Acm().handle) GTEST_FAIL() << "the module (LUM_ACM) did not load";
    }
};

TEST_F(AcmCatalogue, VersionAndCountsAgree) {
    EXPECT_EQ(Acm().GetVersion() >> 16, 0x0400u);
    const DWORD drivers = Metric(nullptr, ACM_METRIC_COUNT_DRIVERS);
    EXPECT_EQ(Metric(nullptr, ACM_METRIC_COUNT_CONVERTERS), 1u);
    EXPECT_EQ(Metric(nullptr, ACM_METRIC_COUNT_FILTERS), 1u);
    EXPECT_EQ(drivers, Metric(nullptr, ACM_METRIC_COUNT_CODECS) + 2);
    EXPECT_EQ(DriverIds().size(), drivers);
    // The MS ADPCM record (50 bytes) is among the formats.
    EXPECT_GE(Metric(nullptr, ACM_METRIC_MAX_SIZE_FORMAT), 50u);
    EXPECT_EQ(Metric(nullptr, ACM_METRIC_MAX_SIZE_FILTER), sizeof(VOLUMEWAVEFILTER));
    DWORD v = 0;
    EXPECT_EQ(Acm().Metrics(nullptr, ACM_METRIC_DRIVER_SUPPORT, &v), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Acm().Metrics(nullptr, 9999, &v), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(Acm().Metrics(nullptr, ACM_METRIC_COUNT_DRIVERS, nullptr), MMSYSERR_INVALPARAM);
}

TEST_F(AcmCatalogue, DriversDescribeThemselvesAndOpen) {
    const auto ids = DriverIds();
    ASSERT_FALSE(ids.empty());
    ACMDRIVERDETAILSA d{};
    d.cbStruct = sizeof d;
    ASSERT_EQ(Acm().DriverDetails(ids.front(), &d, 0), MMSYSERR_NOERROR);
    EXPECT_STREQ(d.szShortName, "PCM Converter");
    EXPECT_EQ(d.fdwSupport, ACMDRIVERDETAILS_SUPPORTF_CONVERTER);
    EXPECT_EQ(d.fccType, MakeFourCC("audc"));
    EXPECT_EQ(Metric(ids.front(), ACM_METRIC_DRIVER_SUPPORT), d.fdwSupport);

    // A short record gets only what fits, and says so.
    ACMDRIVERDETAILSA small{};
    small.cbStruct = offsetof(ACMDRIVERDETAILSA, szShortName) + 8;
    small.szShortName[10] = 'x';
    ASSERT_EQ(Acm().DriverDetails(ids.front(), &small, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(small.cbStruct, offsetof(ACMDRIVERDETAILSA, szShortName) + 8);
    EXPECT_EQ(std::string(small.szShortName, 8), "PCM Conv");
    EXPECT_EQ(small.szShortName[10], 'x');

    HACMDRIVER had = nullptr;
    ASSERT_EQ(Acm().DriverOpen(&had, ids.front(), 0), MMSYSERR_NOERROR);
    HACMDRIVERID back = nullptr;
    EXPECT_EQ(Acm().DriverID(had, &back, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(back, ids.front());
    EXPECT_EQ(Acm().DriverClose(had, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(Acm().DriverClose(had, 0), MMSYSERR_INVALHANDLE);
}

TEST_F(AcmCatalogue, ForeignPointersAreNotHandles) {
    int junk = 0;
    auto* fake = reinterpret_cast<HACMOBJ>(&junk);
    ACMDRIVERDETAILSA d{};
    d.cbStruct = sizeof d;
    EXPECT_EQ(Acm().DriverDetails(fake, &d, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Acm().StreamClose(fake, 0), MMSYSERR_INVALHANDLE);
    DWORD out = 0;
    EXPECT_EQ(Acm().StreamSize(fake, 100, &out, 0), MMSYSERR_INVALHANDLE);
    ACMFORMATTAGDETAILSA t{};
    t.cbStruct = sizeof t;
    EXPECT_EQ(Acm().FormatTagDetails(fake, &t, 0), MMSYSERR_INVALHANDLE);
}

TEST_F(AcmCatalogue, EncodableTagsHaveStandardFormatsDecodeOnlyTagsNone) {
    struct Expect {
        DWORD tag;
        const char* name;
    };
    for (const Expect& e :
         {Expect{1, "PCM"}, Expect{2, "Microsoft ADPCM"}, Expect{0x11, "IMA ADPCM"},
          Expect{6, "CCITT A-Law"}, Expect{7, "CCITT u-Law"}, Expect{0x31, "GSM 6.10"},
          Expect{0x55, "MPEG Layer-3"}}) {
        const ACMFORMATTAGDETAILSA t = TagDetails(e.tag);
        EXPECT_STREQ(t.szFormatTag, e.name);
        EXPECT_GT(t.cStandardFormats, 0u) << e.name;
    }
    // Decoded but not encoded: WMA 2 and AC-3.
    for (DWORD tag : {0x161u, 0x2000u}) {
        const ACMFORMATTAGDETAILSA t = TagDetails(tag);
        EXPECT_EQ(t.cStandardFormats, 0u);
        EXPECT_EQ(t.fdwSupport, ACMDRIVERDETAILS_SUPPORTF_CODEC);
    }
    ACMFORMATTAGDETAILSA t{};
    t.cbStruct = sizeof t;
    t.dwFormatTag = 0x7777;
    EXPECT_EQ(Acm().FormatTagDetails(nullptr, &t, ACM_FORMATTAGDETAILSF_FORMATTAG),
              ACMERR_NOTPOSSIBLE);
    t.dwFormatTag = 0;
    ASSERT_EQ(Acm().FormatTagDetails(nullptr, &t, ACM_FORMATTAGDETAILSF_LARGESTSIZE),
              MMSYSERR_NOERROR);
    EXPECT_EQ(t.cbFormatSize, Metric(nullptr, ACM_METRIC_MAX_SIZE_FORMAT));

    // Tag enumeration walks the same tags as indexing.
    std::set<DWORD> seen;
    ACMFORMATTAGDETAILSA e{};
    e.cbStruct = sizeof e;
    Acm().FormatTagEnum(
        nullptr, &e,
        [](HACMDRIVERID, ACMFORMATTAGDETAILSA* d, DWORD_PTR inst, DWORD) -> BOOL {
            reinterpret_cast<std::set<DWORD>*>(inst)->insert(d->dwFormatTag);
            return 1;
        },
        reinterpret_cast<DWORD_PTR>(&seen), 0);
    EXPECT_TRUE(seen.count(0x55) && seen.count(1) && seen.count(0x2000));
    ACMFORMATTAGDETAILSA i{};
    i.cbStruct = sizeof i;
    i.dwFormatTagIndex = static_cast<DWORD>(seen.size() + 5);
    EXPECT_EQ(Acm().FormatTagDetails(nullptr, &i, ACM_FORMATTAGDETAILSF_INDEX), ACMERR_NOTPOSSIBLE);
}

TEST_F(AcmCatalogue, FormatDetailsByIndexAndByFormat) {
    Bytes buffer(64);
    ACMFORMATDETAILSA d{};
    d.cbStruct = sizeof d;
    d.dwFormatTag = 0x31;
    d.dwFormatIndex = 0;
    d.pwfx = reinterpret_cast<WAVEFORMATEX*>(buffer.data());
    d.cbwfx = static_cast<DWORD>(buffer.size());
    ASSERT_EQ(Acm().FormatDetails(nullptr, &d, ACM_FORMATDETAILSF_INDEX), MMSYSERR_NOERROR);
    EXPECT_EQ(d.pwfx->wFormatTag, 0x31);
    EXPECT_EQ(d.pwfx->nSamplesPerSec, 8000u);
    EXPECT_EQ(d.pwfx->nAvgBytesPerSec, 1625u);
    EXPECT_EQ(d.pwfx->nBlockAlign, 65);
    EXPECT_STREQ(d.szFormat, "8.000 kHz, Mono, 13 kbit/s");
    d.cbwfx = 18; // the record has two extra bytes
    EXPECT_EQ(Acm().FormatDetails(nullptr, &d, ACM_FORMATDETAILSF_INDEX), MMSYSERR_INVALPARAM);

    WAVEFORMATEX pcm = Pcm(16, 2, 44100);
    d.pwfx = &pcm;
    d.cbwfx = sizeof pcm;
    ASSERT_EQ(Acm().FormatDetails(nullptr, &d, ACM_FORMATDETAILSF_FORMAT), MMSYSERR_NOERROR);
    EXPECT_STREQ(d.szFormat, "44.100 kHz, 16 Bit, Stereo");
    EXPECT_EQ(d.dwFormatTag, 1u);
    pcm.wFormatTag = 0x7777;
    EXPECT_EQ(Acm().FormatDetails(nullptr, &d, ACM_FORMATDETAILSF_FORMAT), ACMERR_NOTPOSSIBLE);
}

TEST_F(AcmCatalogue, EnumerationHonoursRestrictions) {
    WAVEFORMATEX ref = Pcm(16, 1, 8000);
    ref.wFormatTag = 0x11;
    const Enumerated ima = Enumerate(ref, ACM_FORMATENUMF_WFORMATTAG | ACM_FORMATENUMF_NCHANNELS);
    ASSERT_FALSE(ima.formats.empty());
    for (const Bytes& f : ima.formats) {
        EXPECT_EQ(Fmt(f)->wFormatTag, 0x11);
        EXPECT_EQ(Fmt(f)->nChannels, 1);
    }

    // What 8 kHz mono PCM converts to: PCM of every kind, GSM at 8 kHz,
    // never GSM at another rate (the codecs do not resample).
    const Enumerated convert = Enumerate(Pcm(16, 1, 8000), ACM_FORMATENUMF_CONVERT);
    bool gsm8000 = false, pcm44100 = false;
    for (const Bytes& f : convert.formats) {
        if (Fmt(f)->wFormatTag == 0x31) {
            EXPECT_EQ(Fmt(f)->nSamplesPerSec, 8000u);
            gsm8000 = true;
        }
        pcm44100 |= Fmt(f)->wFormatTag == 1 && Fmt(f)->nSamplesPerSec == 44100;
    }
    EXPECT_TRUE(gsm8000 && pcm44100);

    // Output formats are only those something writes.
    for (const Bytes& f : Enumerate(ref, ACM_FORMATENUMF_OUTPUT).formats)
        EXPECT_TRUE(std::set<int>({1, 2, 6, 7, 0x11, 0x31, 0x55}).count(Fmt(f)->wFormatTag));

    // Suggested formats for PCM: one a tag at most, at the source's rate.
    for (const Bytes& f : Enumerate(Pcm(16, 2, 22050), ACM_FORMATENUMF_SUGGEST).formats)
        EXPECT_EQ(Fmt(f)->nSamplesPerSec, 22050u);

    // The callback's false ends the walk.
    EXPECT_EQ(Enumerate(ref, 0, 3).formats.size(), 3u);
}

TEST_F(AcmCatalogue, SuggestionsFollowConstraints) {
    const WAVEFORMATEX stereo = Pcm(16, 2, 44100);
    Bytes s = Suggest(&stereo, 1,
                      ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC |
                          ACM_FORMATSUGGESTF_WBITSPERSAMPLE,
                      1, 8000, 8);
    ASSERT_FALSE(s.empty());
    const WAVEFORMATEX narrow = Pcm(8, 1, 8000);
    EXPECT_EQ(std::memcmp(s.data(), &narrow, 16), 0);

    const WAVEFORMATEX mono = Pcm(16, 1, 11025);
    const Bytes gsm = Suggest(&mono, 0x31);
    ASSERT_FALSE(gsm.empty());
    EXPECT_EQ(Fmt(gsm)->nSamplesPerSec, 11025u);
    EXPECT_EQ(Fmt(gsm)->nAvgBytesPerSec, 2239u);
    // GSM is mono only, and codecs do not change the rate.
    EXPECT_TRUE(Suggest(&stereo, 0x31).empty());
    EXPECT_TRUE(Suggest(&mono, 0x31, ACM_FORMATSUGGESTF_NSAMPLESPERSEC, 0, 8000).empty());

    // Decoding suggests PCM of the source's channels and rate.
    const Bytes adpcm = Suggest(&stereo, 2);
    ASSERT_FALSE(adpcm.empty());
    EXPECT_EQ(Fmt(adpcm)->nBlockAlign, 2048);
    const Bytes back = Suggest(adpcm.data(), 1);
    ASSERT_FALSE(back.empty());
    EXPECT_EQ(std::memcmp(back.data(), &stereo, 16), 0);

    const Bytes mp3 = Suggest(&stereo, 0x55);
    ASSERT_FALSE(mp3.empty());
    EXPECT_EQ(Fmt(mp3)->nAvgBytesPerSec, 16000u);

    WAVEFORMATEX small{};
    EXPECT_EQ(Acm().FormatSuggest(nullptr, &stereo, &small, 10, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(Acm().FormatSuggest(nullptr, &stereo, &small, sizeof small, 1), MMSYSERR_INVALFLAG);
}

TEST_F(AcmCatalogue, VolumeFilterIsDescribedAndEnumerated) {
    ACMFILTERTAGDETAILSA t{};
    t.cbStruct = sizeof t;
    t.dwFilterTag = WAVE_FILTER_VOLUME;
    ASSERT_EQ(Acm().FilterTagDetails(nullptr, &t, ACM_FILTERTAGDETAILSF_FILTERTAG),
              MMSYSERR_NOERROR);
    EXPECT_STREQ(t.szFilterTag, "Volume");
    EXPECT_EQ(t.cStandardFilters, 6u);

    VOLUMEWAVEFILTER v{};
    v.wfltr.cbStruct = sizeof v;
    v.wfltr.dwFilterTag = WAVE_FILTER_VOLUME;
    v.dwVolume = 0x8000;
    ACMFILTERDETAILSA d{};
    d.cbStruct = sizeof d;
    d.pwfltr = &v.wfltr;
    d.cbwfltr = sizeof v;
    ASSERT_EQ(Acm().FilterDetails(nullptr, &d, ACM_FILTERDETAILSF_FILTER), MMSYSERR_NOERROR);
    EXPECT_STREQ(d.szFilter, "Volume 50%");

    std::vector<std::string> texts;
    ASSERT_EQ(Acm().FilterEnum(
                  nullptr, &d,
                  [](HACMDRIVERID, ACMFILTERDETAILSA* f, DWORD_PTR inst, DWORD) -> BOOL {
                      reinterpret_cast<std::vector<std::string>*>(inst)->push_back(f->szFilter);
                      return 1;
                  },
                  reinterpret_cast<DWORD_PTR>(&texts), 0),
              MMSYSERR_NOERROR);
    EXPECT_EQ(texts.size(), 6u);
    EXPECT_EQ(texts.front(), "Volume 25%");
}

} // namespace
} // namespace lum::platform::acm::test
