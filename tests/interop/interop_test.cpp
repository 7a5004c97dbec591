// Files made by ffmpeg, read by the video service and by snapreel-cli, and
// compared with what ffprobe reports; files the service writes, read back
// by ffprobe and decoded by ffmpeg.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <numeric>
#include <sstream>

#include "app/cli.h"
#include "media.h"
#include "platform/vfw/vfw.h"
#include "support/testutil.h"

using namespace lum::interop;
using namespace lum::platform;
using namespace lum::platform::vfw;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A file opened through the service with its streams.
class Opened {
public:
    explicit Opened(const std::string& path) {
        hr_ = AVIFileOpen(&file_, path, OF_READ | OF_SHARE_DENY_WRITE);
        for (LONG i = 0; file_; ++i) {
            PAVISTREAM s = nullptr;
            if (AVIFileGetStream(file_, &s, 0, i) != AVIERR_OK) break;
            streams_.push_back(s);
        }
    }
    ~Opened() {
        for (auto s : streams_)
            AVIStreamRelease(s);
        AVIFileRelease(file_);
    }
    HRESULT Result() const { return hr_; }
    PAVIFILE File() const { return file_; }
    const std::vector<PAVISTREAM>& Streams() const { return streams_; }

private:
    HRESULT hr_ = -1;
    PAVIFILE file_ = nullptr;
    std::vector<PAVISTREAM> streams_;
};

AVISTREAMINFO InfoOf(PAVISTREAM s) {
    AVISTREAMINFO i{};
    AVIStreamInfo(s, &i, sizeof i);
    return i;
}

std::vector<LONG> KeysOf(PAVISTREAM s) {
    std::vector<LONG> keys;
    for (LONG p = AVIStreamFindSample(s, 0, FIND_NEXT | FIND_KEY); p >= 0;
         p = AVIStreamFindSample(s, p + 1, FIND_NEXT | FIND_KEY))
        keys.push_back(p);
    return keys;
}

Bytes ReadSamples(PAVISTREAM s, LONG pos, LONG n) {
    LONG bytes = 0;
    EXPECT_EQ(AVIStreamRead(s, pos, n, nullptr, 0, &bytes, nullptr), AVIERR_OK);
    Bytes b(static_cast<std::size_t>(bytes));
    LONG got = 0, read = 0;
    EXPECT_EQ(AVIStreamRead(s, pos, n, b.data(), bytes, &got, &read), AVIERR_OK);
    EXPECT_EQ(read, n);
    b.resize(static_cast<std::size_t>(got));
    return b;
}

// Number of samples in a packet of a stream.
LONG SamplesIn(const AVISTREAMINFO& info, std::int64_t bytes) {
    return info.dwSampleSize ? static_cast<LONG>(bytes / info.dwSampleSize) : 1;
}

std::int64_t Num(const QJsonValue& v) {
    return v.isString() ? std::stoll(v.toString().toStdString()) : v.toInteger();
}

std::pair<std::int64_t, std::int64_t> Reduced(std::int64_t a, std::int64_t b) {
    std::int64_t g = std::gcd(a, b);
    return {a / g, b / g};
}

// The packets ffprobe sees, checked against the service sample by sample:
// position (dts), size, data and key flag.
void ExpectSamplesMatchPackets(const Opened& ours, const QJsonObject& probe) {
    for (std::size_t i = 0; i < ours.Streams().size(); ++i) {
        PAVISTREAM s = ours.Streams()[i];
        AVISTREAMINFO info = InfoOf(s);
        std::vector<LONG> probe_keys;
        for (const QJsonObject& p : PacketsOf(probe, static_cast<int>(i))) {
            auto pos = static_cast<LONG>(Num(p["dts"]));
            std::int64_t size = Num(p["size"]);
            Bytes b = ReadSamples(s, pos, SamplesIn(info, size));
            ASSERT_EQ(static_cast<std::int64_t>(b.size()), size) << "stream " << i << " at " << pos;
            EXPECT_EQ("MD5:" + Md5(b.data(), b.size()), p["data_hash"].toString().toStdString())
                << "stream " << i << " at " << pos;
            if (p["flags"].toString().startsWith("K")) probe_keys.push_back(pos);
        }
        if (info.fccType == streamtypeVIDEO) {
            EXPECT_EQ(KeysOf(s), probe_keys) << "stream " << i;
        }
    }
}

// Copies every stream of a file into a new one, interleaved by time.
void CopyWithOurWriter(const std::string& from, const std::string& to) {
    Opened src(from);
    ASSERT_EQ(src.Result(), AVIERR_OK);
    PAVIFILE dst = nullptr;
    ASSERT_EQ(AVIFileOpen(&dst, to, OF_CREATE | OF_READWRITE | OF_SHARE_EXCLUSIVE), AVIERR_OK);
    struct Cursor {
        PAVISTREAM in;
        PAVISTREAM out;
        AVISTREAMINFO info;
        LONG pos;
        LONG end;
    };
    std::vector<Cursor> cursors;
    for (PAVISTREAM s : src.Streams()) {
        AVISTREAMINFO info = InfoOf(s);
        PAVISTREAM out = nullptr;
        ASSERT_EQ(AVIFileCreateStream(dst, &out, &info), AVIERR_OK);
        LONG size = 0;
        AVIStreamReadFormat(s, 0, nullptr, &size);
        Bytes fmt(static_cast<std::size_t>(size));
        AVIStreamReadFormat(s, 0, fmt.data(), &size);
        ASSERT_EQ(AVIStreamSetFormat(out, 0, fmt.data(), size), AVIERR_OK);
        LONG strd = 0;
        if (AVIStreamReadData(s, ckidSTREAMHANDLERDATA, nullptr, &strd) == AVIERR_OK) {
            Bytes d(static_cast<std::size_t>(strd));
            AVIStreamReadData(s, ckidSTREAMHANDLERDATA, d.data(), &strd);
            AVIStreamWriteData(out, ckidSTREAMHANDLERDATA, d.data(), strd);
        }
        cursors.push_back(
            {s, out, info, AVIStreamStart(s), AVIStreamStart(s) + AVIStreamLength(s)});
    }
    auto time_of = [](const Cursor& c) {
        return static_cast<long double>(c.pos) * c.info.dwScale / c.info.dwRate;
    };
    for (;;) {
        Cursor* next = nullptr;
        for (auto& c : cursors)
            if (c.pos < c.end && (!next || time_of(c) < time_of(*next))) next = &c;
        if (!next) break;
        LONG bytes = 0, n = 0;
        AVIStreamRead(next->in, next->pos, AVISTREAMREAD_CONVENIENT, nullptr, 0, &bytes, &n);
        Bytes b = ReadSamples(next->in, next->pos, n);
        bool key = AVIStreamFindSample(next->in, next->pos, FIND_PREV | FIND_KEY) == next->pos;
        ASSERT_EQ(AVIStreamWrite(next->out, next->pos, n, b.empty() ? nullptr : b.data(),
                                 static_cast<LONG>(b.size()), key ? AVIIF_KEYFRAME : 0, nullptr,
                                 nullptr),
                  AVIERR_OK);
        next->pos += n;
    }
    for (auto& c : cursors)
        AVIStreamRelease(c.out);
    AVIFileRelease(dst);
}

QJsonObject CliInfo(const std::string& path) {
    std::ostringstream out, err;
    EXPECT_EQ(lum::app::RunCli({"info", path, "--json"}, out, err), 0) << err.str();
    return QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
}

std::string TagText(std::int64_t tag) {
    return tag == 0 ? "None" : lum::app::FourCCText(static_cast<unsigned>(tag));
}

class FfmpegFile : public ::testing::TestWithParam<Recipe> {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
        path_ = MediaFile(GetParam());
    }
    std::string path_;
};

} // namespace

TEST_P(FfmpegFile, CliInfoDescribesItAsFfprobeDoes) {
    QJsonObject probe = Probe(path_);
    QJsonArray expected = probe["streams"].toArray();
    QJsonArray ours = CliInfo(path_)["streams"].toArray();
    ASSERT_EQ(ours.size(), expected.size());
    for (qsizetype i = 0; i < ours.size(); ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        QJsonObject o = ours[i].toObject();
        QJsonObject p = expected[i].toObject();
        std::string type = p["codec_type"].toString().toStdString();
        EXPECT_EQ(o["type"].toString().toStdString(), type == "video" ? "vids" : "auds");
        auto [num, den] = Reduced(o["scale"].toInteger(), o["rate"].toInteger());
        EXPECT_EQ(std::to_string(num) + "/" + std::to_string(den),
                  p["time_base"].toString().toStdString());
        EXPECT_EQ(o["length"].toInteger(), Num(p["nb_frames"]));
        EXPECT_EQ(o["start"].toInteger(), 0);
        std::int64_t tag = std::stoll(p["codec_tag"].toString().toStdString(), nullptr, 16);
        if (type == "video") {
            EXPECT_EQ(o["width"].toInteger(), p["width"].toInteger());
            EXPECT_EQ(o["height"].toInteger(), p["height"].toInteger());
            EXPECT_EQ(o["compression"].toString().toStdString(), TagText(tag));
            auto packets = PacketsOf(probe, static_cast<int>(i));
            EXPECT_EQ(o["key_frames"].toInteger(),
                      std::count_if(packets.begin(), packets.end(), [](const QJsonObject& k) {
                          return k["flags"].toString().startsWith("K");
                      }));
        } else {
            EXPECT_EQ(o["format_tag"].toInteger(), tag);
            EXPECT_EQ(o["samples_per_sec"].toInteger(), Num(p["sample_rate"]));
            EXPECT_EQ(o["channels"].toInteger(), p["channels"].toInteger());
        }
    }
}

TEST_P(FfmpegFile, EverySampleIsThePacketFfprobeReads) {
    Opened ours(path_);
    ASSERT_EQ(ours.Result(), AVIERR_OK);
    ExpectSamplesMatchPackets(ours, Probe(path_, true));
}

TEST_P(FfmpegFile, WithoutItsIndexItReadsTheSame) {
    Bytes image = lum::test::ReadFile(path_);
    std::size_t idx = std::string(image.begin(), image.end()).rfind("idx1");
    ASSERT_NE(idx, std::string::npos);
    std::memcpy(&image[idx], "JUNK", 4);
    lum::test::TempDir dir;
    std::string damaged = dir.File("noindex.avi");
    lum::test::WriteFile(damaged, image);
    Opened a(path_), b(damaged);
    ASSERT_EQ(b.Result(), AVIERR_OK);
    ASSERT_EQ(a.Streams().size(), b.Streams().size());
    for (std::size_t i = 0; i < a.Streams().size(); ++i) {
        PAVISTREAM x = a.Streams()[i], y = b.Streams()[i];
        ASSERT_EQ(AVIStreamLength(x), AVIStreamLength(y)) << "stream " << i;
        EXPECT_EQ(KeysOf(x), KeysOf(y)) << "stream " << i;
        for (LONG p = 0; p < AVIStreamLength(x); p += std::max<LONG>(1, AVIStreamLength(x) / 60))
            EXPECT_EQ(ReadSamples(x, p, 1), ReadSamples(y, p, 1)) << "stream " << i << " at " << p;
    }
}

TEST_P(FfmpegFile, TruncatedItKeepsEveryWholeSample) {
    Bytes image = lum::test::ReadFile(path_);
    const std::int64_t cut = static_cast<std::int64_t>(image.size() * 3 / 5);
    image.resize(static_cast<std::size_t>(cut));
    lum::test::TempDir dir;
    std::string damaged = dir.File("cut.avi");
    lum::test::WriteFile(damaged, image);
    Opened whole(path_), part(damaged);
    ASSERT_EQ(part.Result(), AVIERR_OK);
    for (std::size_t i = 0; i < whole.Streams().size(); ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        PAVISTREAM w = whole.Streams()[i], p = part.Streams()[i];
        LONG kept = AVIStreamLength(p);
        AVISTREAMINFO info = InfoOf(w);
        // Every sample whose data ends before the cut is kept, and no other.
        auto end_of = [&](LONG pos) {
            return std::int64_t{AVIStreamFindSample(w, pos, FIND_OFFSET)} +
                   AVIStreamFindSample(w, pos, FIND_SIZE);
        };
        if (info.dwSampleSize == 0) {
            ASSERT_GT(kept, 0);
            EXPECT_LE(end_of(kept - 1), cut);
            if (kept < AVIStreamLength(w)) {
                EXPECT_GT(end_of(kept), cut);
            }
        }
        for (LONG s = 0; s < kept; s += std::max<LONG>(1, kept / 40))
            EXPECT_EQ(ReadSamples(w, s, 1), ReadSamples(p, s, 1)) << s;
        std::vector<LONG> keys = KeysOf(w);
        keys.erase(std::remove_if(keys.begin(), keys.end(), [&](LONG k) { return k >= kept; }),
                   keys.end());
        EXPECT_EQ(KeysOf(p), keys);
    }
}

TEST_P(FfmpegFile, OurCopyPassesFfprobeAndDecodes) {
    lum::test::TempDir dir;
    std::string copy = dir.File("copy.avi");
    CopyWithOurWriter(path_, copy);
    QJsonObject a = Probe(path_, true), b = Probe(copy, true);
    ASSERT_EQ(b["streams"].toArray().size(), a["streams"].toArray().size());
    for (int i = 0; i < a["streams"].toArray().size(); ++i) {
        auto pa = PacketsOf(a, i), pb = PacketsOf(b, i);
        ASSERT_EQ(pa.size(), pb.size()) << "stream " << i;
        for (std::size_t k = 0; k < pa.size(); ++k) {
            EXPECT_EQ(pa[k]["data_hash"], pb[k]["data_hash"]) << "stream " << i << " packet " << k;
            EXPECT_EQ(pa[k]["flags"], pb[k]["flags"]) << "stream " << i << " packet " << k;
            EXPECT_EQ(pa[k]["dts"], pb[k]["dts"]) << "stream " << i << " packet " << k;
        }
    }
    auto decoded = [](const std::string& f) {
        std::string out;
        lum::test::Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                       "stream=nb_read_frames -of csv=p=0 " +
                           lum::test::Quote(f) + " 2>&1",
                       &out);
        return out;
    };
    EXPECT_EQ(decoded(copy), decoded(path_));
    std::string errors;
    EXPECT_EQ(
        lum::test::Run("ffmpeg -v error -i " + lum::test::Quote(copy) + " -f null - 2>&1", &errors),
        0);
    EXPECT_EQ(errors, "");
}

INSTANTIATE_TEST_SUITE_P(Codecs, FfmpegFile, ::testing::ValuesIn(AviRecipes()),
                         [](const auto& info) { return info.param.name; });

TEST(FfmpegAudioFiles, WaveAndAuOpenAsOneAudioStream) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    struct Case {
        Recipe recipe;
        WORD tag;
    };
    const Case cases[] = {
        {{"Wave", "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 1 -ac 2 -c:a pcm_s16le",
          "wav"},
         WAVE_FORMAT_PCM},
        {{"AuPcm", "-f lavfi -i sine=frequency=440:sample_rate=8000 -t 1 -c:a pcm_s16be", "au"},
         WAVE_FORMAT_PCM},
        {{"AuMulaw", "-f lavfi -i sine=frequency=440:sample_rate=8000 -t 1 -c:a pcm_mulaw", "au"},
         WAVE_FORMAT_MULAW},
        {{"AuAlaw", "-f lavfi -i sine=frequency=440:sample_rate=8000 -t 1 -c:a pcm_alaw", "au"},
         WAVE_FORMAT_ALAW},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.recipe.name);
        std::string path = MediaFile(c.recipe);
        QJsonObject p = Probe(path)["streams"].toArray()[0].toObject();
        QJsonObject o = CliInfo(path)["streams"].toArray()[0].toObject();
        EXPECT_EQ(o["type"].toString(), "auds");
        EXPECT_EQ(o["format_tag"].toInteger(), c.tag);
        EXPECT_EQ(o["samples_per_sec"].toInteger(), Num(p["sample_rate"]));
        EXPECT_EQ(o["channels"].toInteger(), p["channels"].toInteger());
        // The samples are the ones ffmpeg decodes (as 16-bit little-endian
        // PCM, or the companded bytes as they are).
        std::string fmt =
            c.tag == WAVE_FORMAT_PCM ? "s16le" : (c.tag == WAVE_FORMAT_MULAW ? "mulaw" : "alaw");
        std::string raw;
        ASSERT_EQ(lum::test::Run("ffmpeg -v error -i " + lum::test::Quote(path) + " -f " + fmt +
                                     " -c:a pcm_" + fmt + " -",
                                 &raw),
                  0);
        Opened ours(path);
        ASSERT_EQ(ours.Streams().size(), 1u);
        PAVISTREAM s = ours.Streams()[0];
        EXPECT_EQ(o["length"].toInteger() * o["block_align"].toInteger(),
                  static_cast<std::int64_t>(raw.size()));
        Bytes b = ReadSamples(s, 0, AVIStreamLength(s));
        EXPECT_TRUE(b.size() == raw.size() && std::memcmp(b.data(), raw.data(), b.size()) == 0);
    }
}

// A file past 1 GB: ffmpeg writes it with OpenDML; every frame reads, and
// our own copy of it passes ffprobe with the same frames.
TEST(OpenDml, OverOneGigabyteEveryFrameReadsAndOurCopyToo) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    Recipe big = {"OpenDml",
                  "-f lavfi -i testsrc=size=320x240:rate=25 -frames:v 4700 "
                  "-c:v rawvideo -pix_fmt bgr24",
                  "avi"};
    std::string path = MediaFile(big);
    ASSERT_GT(std::filesystem::file_size(path), std::uintmax_t{1} << 30);
    QJsonObject probe = Probe(path, true, "-select_streams v:0");
    auto packets = PacketsOf(probe, 0);
    ASSERT_EQ(packets.size(), 4700u);
    {
        Opened ours(path);
        ASSERT_EQ(ours.Result(), AVIERR_OK);
        ExpectSamplesMatchPackets(ours, probe);
    }
    lum::test::TempDir dir;
    std::string copy = dir.File("copy.avi");
    CopyWithOurWriter(path, copy);
    ASSERT_GT(std::filesystem::file_size(copy), std::uintmax_t{1} << 30);
    {
        Opened ours(copy);
        ASSERT_EQ(ours.Streams().size(), 1u);
        EXPECT_EQ(AVIStreamLength(ours.Streams()[0]), 4700);
    }
    QJsonObject again = Probe(copy, true, "-select_streams v:0");
    auto copied = PacketsOf(again, 0);
    ASSERT_EQ(copied.size(), packets.size());
    for (std::size_t k = 0; k < packets.size(); k += 97)
        EXPECT_EQ(copied[k]["data_hash"], packets[k]["data_hash"]) << k;
    EXPECT_EQ(copied.back()["data_hash"], packets.back()["data_hash"]);
}
