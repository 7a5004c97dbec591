// Files in containers other than AVI, WAV and AU (MP4, MOV, MKV, WebM,
// MPEG-TS), made by ffmpeg and read through the video service's libavformat
// handler: its streams and frame counts are ffprobe's, its samples are the
// packets ffprobe reads, its frames are ffmpeg's frames of the same number
// and its frame times their presentation times, fetched in any order.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "app/cli.h"
#include "media.h"
#include "platform/vfw/vfw.h"
#include "support/testutil.h"

using namespace lum::interop;
using namespace lum::platform;
using namespace lum::platform::vfw;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

namespace {

std::int64_t Num(const QJsonValue& v) {
    return v.isString() ? std::stoll(v.toString().toStdString()) : v.toInteger();
}

class Opened {
public:
    explicit Opened(const std::string& path, UINT mode = OF_READ | OF_SHARE_DENY_WRITE) {
        hr_ = AVIFileOpen(&file_, path, mode);
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
    PAVISTREAM Video() const {
        for (PAVISTREAM s : streams_) {
            AVISTREAMINFO i{};
            AVIStreamInfo(s, &i, sizeof i);
            if (i.fccType == streamtypeVIDEO) return s;
        }
        return nullptr;
    }

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

Bytes ReadSamples(PAVISTREAM s, LONG pos, LONG n) {
    LONG bytes = 0;
    EXPECT_EQ(AVIStreamRead(s, pos, n, nullptr, 0, &bytes, nullptr), AVIERR_OK);
    Bytes b(static_cast<std::size_t>(bytes));
    LONG got = 0, read = 0;
    EXPECT_EQ(AVIStreamRead(s, pos, n, b.data(), bytes, &got, &read), AVIERR_OK) << "at " << pos;
    b.resize(static_cast<std::size_t>(got));
    return b;
}

std::vector<LONG> KeysOf(PAVISTREAM s) {
    std::vector<LONG> keys;
    for (LONG p = AVIStreamFindSample(s, 0, FIND_NEXT | FIND_KEY); p >= 0;
         p = AVIStreamFindSample(s, p + 1, FIND_NEXT | FIND_KEY))
        keys.push_back(p);
    return keys;
}

// ffprobe's audio and video streams of a file, frames counted by decoding.
std::vector<QJsonObject> ProbedStreams(const std::string& path) {
    std::string out;
    lum::test::Run(
        "ffprobe -v error -count_frames -show_streams -of json " + lum::test::Quote(path), &out);
    std::vector<QJsonObject> streams;
    for (const QJsonValue& v :
         QJsonDocument::fromJson(QByteArray::fromStdString(out)).object()["streams"].toArray()) {
        const QString type = v.toObject()["codec_type"].toString();
        if (type == "video" || type == "audio") streams.push_back(v.toObject());
    }
    return streams;
}

// ffmpeg's frames N (by its output count) as top-down BGR rows, in order.
std::string FfmpegFrames(const std::string& path, std::vector<int> frames) {
    std::sort(frames.begin(), frames.end());
    std::string select;
    for (int n : frames)
        select += (select.empty() ? "" : "+") + std::string("eq(n\\,") + std::to_string(n) + ")";
    std::string out;
    EXPECT_EQ(lum::test::Run("ffmpeg -v error -i " + lum::test::Quote(path) + " -vf \"select='" +
                                 select + "'\" -fps_mode passthrough -pix_fmt bgr24 -f rawvideo -",
                             &out),
              0);
    return out;
}

// The presentation times of the frames ffmpeg decodes, in seconds.
std::vector<double> FfmpegFrameTimes(const std::string& path) {
    std::string out;
    lum::test::Run(
        "ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 " +
            lum::test::Quote(path),
        &out);
    std::vector<double> times;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) times.push_back(std::stod(line));
    return times;
}

// The largest difference of any value between a 24-bit DIB and top-down
// BGR rows; 256 when the DIB is not 24 bits of that size.
int LargestDifference(const void* dib, const std::uint8_t* ref, int w, int h) {
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, dib, sizeof bi);
    if (bi.biBitCount != 24 || bi.biWidth != w || std::abs(bi.biHeight) != h) return 256;
    const auto* bits = static_cast<const std::uint8_t*>(dib) + bi.biSize;
    const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
    int largest = 0;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row =
            bits + stride * static_cast<std::size_t>(bi.biHeight > 0 ? h - 1 - y : y);
        const std::uint8_t* r = ref + static_cast<std::size_t>(y) * w * 3;
        for (int i = 0; i < w * 3; ++i)
            largest = std::max(largest, std::abs(int(row[i]) - int(r[i])));
    }
    return largest;
}

class ContainerFile : public ::testing::TestWithParam<Recipe> {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
        path_ = MediaFile(GetParam());
    }
    std::string path_;
};

} // namespace

TEST_P(ContainerFile, StreamsAndFrameCountsAreFfprobes) {
    const std::vector<QJsonObject> probed = ProbedStreams(path_);
    Opened ours(path_);
    ASSERT_EQ(ours.Result(), AVIERR_OK);
    ASSERT_EQ(ours.Streams().size(), probed.size());
    std::ostringstream out, err;
    ASSERT_EQ(lum::app::RunCli({"info", path_, "--json"}, out, err), 0) << err.str();
    const QJsonArray cli =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object()["streams"].toArray();
    ASSERT_EQ(cli.size(), static_cast<qsizetype>(probed.size()));
    for (std::size_t i = 0; i < probed.size(); ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        const QJsonObject& p = probed[i];
        const AVISTREAMINFO info = InfoOf(ours.Streams()[i]);
        if (p["codec_type"].toString() == "video") {
            EXPECT_EQ(info.fccType, streamtypeVIDEO);
            EXPECT_EQ(AVIStreamLength(ours.Streams()[i]), Num(p["nb_read_frames"]));
            EXPECT_EQ(info.rcFrame.right, p["width"].toInteger());
            EXPECT_EQ(info.rcFrame.bottom, p["height"].toInteger());
            EXPECT_EQ(cli[static_cast<qsizetype>(i)].toObject()["codec"].toString(),
                      p["codec_name"].toString());
            // Rate and scale are the average frame rate ffprobe gives.
            const QStringList avg = p["avg_frame_rate"].toString().split('/');
            if (avg.size() == 2 && avg[0].toDouble() > 0 && avg[1].toDouble() > 0) {
                ASSERT_GT(info.dwScale, 0u);
                EXPECT_NEAR(double(info.dwRate) / info.dwScale,
                            avg[0].toDouble() / avg[1].toDouble(), 1e-9)
                    << info.dwRate << "/" << info.dwScale;
            }
            // The bitmap header names the code the stream's handler has.
            LONG size = 0;
            AVIStreamReadFormat(ours.Streams()[i], 0, nullptr, &size);
            ASSERT_GE(size, 40);
            Bytes f(static_cast<std::size_t>(size));
            AVIStreamReadFormat(ours.Streams()[i], 0, f.data(), &size);
            BITMAPINFOHEADER bi;
            std::memcpy(&bi, f.data(), sizeof bi);
            EXPECT_NE(info.fccHandler, 0u);
            EXPECT_EQ(bi.biCompression, info.fccHandler);
            EXPECT_EQ(bi.biWidth, p["width"].toInteger());
            EXPECT_EQ(bi.biHeight, p["height"].toInteger());
        } else {
            EXPECT_EQ(info.fccType, streamtypeAUDIO);
            LONG size = 0;
            AVIStreamReadFormat(ours.Streams()[i], 0, nullptr, &size);
            Bytes f(static_cast<std::size_t>(size));
            AVIStreamReadFormat(ours.Streams()[i], 0, f.data(), &size);
            ASSERT_GE(f.size(), 18u);
            std::uint16_t channels;
            std::uint32_t rate;
            std::memcpy(&channels, &f[2], 2);
            std::memcpy(&rate, &f[4], 4);
            EXPECT_EQ(channels, p["channels"].toInteger());
            EXPECT_EQ(rate, Num(p["sample_rate"]));
        }
    }
}

// Sample N of a stream is the N-th packet ffprobe reads (big-endian PCM
// comes as a wave format has it, little-endian); key frames are its key
// packets. Read backwards too, which seeks where the demuxer reads.
TEST_P(ContainerFile, EverySampleIsThePacketFfprobeReads) {
    Opened ours(path_);
    ASSERT_EQ(ours.Result(), AVIERR_OK);
    const QJsonObject probe = Probe(path_, true);
    for (std::size_t i = 0; i < ours.Streams().size(); ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        PAVISTREAM s = ours.Streams()[i];
        const AVISTREAMINFO info = InfoOf(s);
        const std::vector<QJsonObject> packets = PacketsOf(probe, static_cast<int>(i));
        const bool big_endian = probe["streams"]
                                    .toArray()[static_cast<qsizetype>(i)]
                                    .toObject()["codec_name"]
                                    .toString() == "pcm_s16be";
        std::vector<std::pair<LONG, LONG>> at; // position and samples of each packet
        std::vector<LONG> keys;
        LONG pos = 0;
        for (const QJsonObject& p : packets) {
            const std::int64_t size = Num(p["size"]);
            const LONG n = info.dwSampleSize ? static_cast<LONG>(size / info.dwSampleSize) : 1;
            at.emplace_back(pos, n);
            if (p["flags"].toString().startsWith("K")) keys.push_back(pos);
            pos += n;
        }
        auto check = [&](std::size_t k) {
            Bytes b = ReadSamples(s, at[k].first, at[k].second);
            ASSERT_EQ(static_cast<std::int64_t>(b.size()), Num(packets[k]["size"])) << k;
            if (big_endian)
                for (std::size_t j = 0; j + 1 < b.size(); j += 2)
                    std::swap(b[j], b[j + 1]);
            EXPECT_EQ("MD5:" + Md5(b.data(), b.size()),
                      packets[k]["data_hash"].toString().toStdString())
                << "packet " << k;
        };
        // A buffer of the suggested size holds every sample.
        std::int64_t largest = 0;
        for (const QJsonObject& p : packets)
            largest = std::max(largest, Num(p["size"]));
        EXPECT_GE(static_cast<std::int64_t>(info.dwSuggestedBufferSize), largest);
        for (std::size_t k = 0; k < packets.size(); ++k)
            check(k);
        for (std::size_t k = packets.size(); k-- > 0;)
            if (k % 7 == 3) check(k);
        if (info.fccType == streamtypeVIDEO) {
            EXPECT_EQ(KeysOf(s), keys);
        }
    }
}

// Frames 0, the middle and the last, then a scrambled order of frames:
// ffmpeg's frames of the same numbers, within 1 per value.
TEST_P(ContainerFile, FramesInAnyOrderAreFfmpegsFrames) {
    Opened ours(path_);
    ASSERT_EQ(ours.Result(), AVIERR_OK);
    PAVISTREAM v = ours.Video();
    ASSERT_NE(v, nullptr);
    const int count = AVIStreamLength(v);
    ASSERT_GT(count, 20);
    std::vector<int> wanted = {0, count / 2, count - 1};
    for (int k = 0; k < 12; ++k)
        wanted.push_back(static_cast<int>((k * 37 + 11) % count));
    std::vector<int> sorted = wanted;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    const std::string ref = FfmpegFrames(path_, sorted);
    const AVISTREAMINFO info = InfoOf(v);
    const int w = info.rcFrame.right, h = info.rcFrame.bottom;
    const std::size_t frame_bytes = static_cast<std::size_t>(w) * h * 3;
    ASSERT_EQ(ref.size(), frame_bytes * sorted.size());
    PGETFRAME g = AVIStreamGetFrameOpen(v, nullptr);
    ASSERT_NE(g, nullptr);
    for (int n : wanted) {
        const void* dib = AVIStreamGetFrame(g, n);
        ASSERT_NE(dib, nullptr) << "frame " << n;
        const auto k = static_cast<std::size_t>(std::lower_bound(sorted.begin(), sorted.end(), n) -
                                                sorted.begin());
        EXPECT_LE(
            LargestDifference(
                dib, reinterpret_cast<const std::uint8_t*>(ref.data()) + frame_bytes * k, w, h),
            1)
            << "frame " << n;
    }
    EXPECT_EQ(AVIStreamGetFrame(g, count), nullptr);
    AVIStreamGetFrameClose(g);
}

// A frame's time is its presentation time from the first frame (the first
// whole millisecond inside it), and that time gives the frame back.
TEST_P(ContainerFile, FrameTimesArePresentationTimes) {
    Opened ours(path_);
    ASSERT_EQ(ours.Result(), AVIERR_OK);
    PAVISTREAM v = ours.Video();
    ASSERT_NE(v, nullptr);
    std::vector<double> times = FfmpegFrameTimes(path_);
    ASSERT_EQ(static_cast<LONG>(times.size()), AVIStreamLength(v));
    if (GetParam().name == "Mp4FromAvi") {
        // A copy out of AVI has decode times for presentation times, which
        // ffmpeg gives its frames out of order: the frames are 40 ms apart.
        for (std::size_t n = 0; n < times.size(); ++n)
            times[n] = 0.04 * static_cast<double>(n);
    }
    for (LONG n = 0; n < static_cast<LONG>(times.size()); ++n) {
        const double exact = (times[static_cast<std::size_t>(n)] - times[0]) * 1000;
        const LONG ms = AVIStreamSampleToTime(v, n);
        EXPECT_NEAR(ms, std::ceil(exact - 1e-6), 1) << "frame " << n;
        EXPECT_EQ(AVIStreamTimeToSample(v, ms), n) << "frame " << n;
    }
}

TEST_P(ContainerFile, CliFrameWritesFfmpegsFrame) {
    lum::test::TempDir dir;
    Opened ours(path_);
    ASSERT_EQ(ours.Result(), AVIERR_OK);
    const int n = AVIStreamLength(ours.Video()) - 3;
    const AVISTREAMINFO info = InfoOf(ours.Video());
    std::ostringstream out, err;
    ASSERT_EQ(
        lum::app::RunCli({"frame", path_, std::to_string(n), "-o", dir.File("f.bmp")}, out, err), 0)
        << err.str();
    const Bytes bmp = lum::test::ReadFile(dir.File("f.bmp"));
    ASSERT_GT(bmp.size(), 54u);
    const std::string ref = FfmpegFrames(path_, {n});
    EXPECT_LE(LargestDifference(bmp.data() + 14, reinterpret_cast<const std::uint8_t*>(ref.data()),
                                info.rcFrame.right, info.rcFrame.bottom),
              1);
}

INSTANTIATE_TEST_SUITE_P(Containers, ContainerFile, ::testing::ValuesIn(ContainerRecipes()),
                         [](const auto& info) { return info.param.name; });

// Only read: write access and every writing call answer the read-only error.
TEST(Containers, AreOnlyRead) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string path = MediaFile(ContainerRecipes()[0]);
    for (UINT access : {OF_WRITE, OF_READWRITE}) {
        PAVIFILE f = nullptr;
        EXPECT_EQ(AVIFileOpen(&f, path, access | OF_SHARE_DENY_NONE), AVIERR_READONLY);
        EXPECT_EQ(f, nullptr);
    }
    Opened ours(path);
    ASSERT_EQ(ours.Result(), AVIERR_OK);
    PAVISTREAM v = ours.Video();
    const std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(AVIStreamWrite(v, 0, 1, data, 4, AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_READONLY);
    EXPECT_EQ(AVIStreamSetFormat(v, 0, data, 4), AVIERR_READONLY);
    EXPECT_EQ(AVIStreamWriteData(v, MakeFourCC("strd"), data, 4), AVIERR_READONLY);
    EXPECT_EQ(AVIFileWriteData(ours.File(), MakeFourCC("INAM"), data, 4), AVIERR_READONLY);
    AVISTREAMINFO info = InfoOf(v);
    PAVISTREAM created = nullptr;
    EXPECT_EQ(AVIFileCreateStream(ours.File(), &created, &info), AVIERR_READONLY);
    EXPECT_EQ(created, nullptr);
    // The codec's extra data (avcC) is the stream's, as AVI keeps it.
    LONG size = 0;
    EXPECT_EQ(AVIStreamReadData(v, MakeFourCC("strd"), nullptr, &size), AVIERR_OK);
    Bytes extra(static_cast<std::size_t>(size));
    ASSERT_EQ(AVIStreamReadData(v, MakeFourCC("strd"), extra.data(), &size), AVIERR_OK);
    ASSERT_GT(extra.size(), 4u);
    EXPECT_EQ(extra[0], 1); // avcC version
}

// Cut short, a file keeps the samples wholly before the cut, the same as
// the whole file's; every frame it lists decodes. An MP4 whose index
// comes last loses it and is refused.
TEST(Containers, TruncatedTheyKeepTheirWholeSamples) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string video = "-f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
                              "sine=sample_rate=22050 -t 4 -c:v libx264 -bf 3 -g 30 -c:a aac ";
    lum::test::TempDir dir;
    for (const Recipe& r : {Recipe{"CutMkv", video, "mkv"}, Recipe{"CutTs", video, "ts"},
                            Recipe{"CutMp4", video + "-movflags +faststart", "mp4"}}) {
        SCOPED_TRACE(r.name);
        const std::string path = MediaFile(r);
        Bytes image = lum::test::ReadFile(path);
        image.resize(image.size() * 3 / 5);
        const std::string cut = dir.File("cut." + r.extension);
        lum::test::WriteFile(cut, image);
        Opened whole(path), part(cut);
        ASSERT_EQ(part.Result(), AVIERR_OK);
        ASSERT_EQ(part.Streams().size(), whole.Streams().size());
        for (std::size_t i = 0; i < whole.Streams().size(); ++i) {
            SCOPED_TRACE("stream " + std::to_string(i));
            PAVISTREAM w = whole.Streams()[i], p = part.Streams()[i];
            const LONG kept = AVIStreamLength(p);
            EXPECT_GT(kept, AVIStreamLength(w) / 3);
            EXPECT_LT(kept, AVIStreamLength(w));
            // The last packet of an MPEG-TS stream ends where the file does:
            // the demuxer cannot tell it is cut, and gives what there is.
            for (LONG s = 0; s < kept; ++s) {
                const Bytes a = ReadSamples(p, s, 1), b = ReadSamples(w, s, 1);
                if (r.extension == "ts" && s == kept - 1 && a.size() < b.size())
                    EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin())) << s;
                else
                    EXPECT_EQ(a, b) << s;
            }
        }
        PGETFRAME g = AVIStreamGetFrameOpen(part.Video(), nullptr);
        ASSERT_NE(g, nullptr);
        for (LONG n = AVIStreamLength(part.Video()); n-- > 0;)
            EXPECT_NE(AVIStreamGetFrame(g, n), nullptr) << "frame " << n;
        AVIStreamGetFrameClose(g);
    }
    // The MP4 muxer's default puts the index behind the data.
    Bytes image = lum::test::ReadFile(MediaFile(ContainerRecipes()[0]));
    image.resize(image.size() * 3 / 5);
    lum::test::WriteFile(dir.File("noindex.mp4"), image);
    PAVIFILE f = nullptr;
    EXPECT_EQ(AVIFileOpen(&f, dir.File("noindex.mp4"), OF_READ), AVIERR_BADFORMAT);
}

// The same H.264 stream in MP4 and in AVI, extracted by snapreel-cli: the
// same stills, byte for byte, and each one ffmpeg's picture of its frame.
TEST(Containers, ExtractionGivesTheStillsOfTheSameStreamInAvi) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string source = "-f lavfi -i 'testsrc2=size=160x120:rate=25:duration=12,"
                               "hue=h=90*floor(t/3)' -c:v libx264 -bf 3 -g 250 -threads 1 ";
    const std::string mp4 = MediaFile({"ScenesMp4", source, "mp4"});
    const std::string avi = MediaFile({"ScenesAvi", source, "avi"});
    lum::test::TempDir dir;
    auto extract = [&](const std::string& input, const std::string& out) {
        std::ostringstream o, e;
        EXPECT_EQ(lum::app::RunCli({"extract", input, "-o", out, "--quiet", "--step", "30",
                                    "--level", "12", "--report", out + ".csv"},
                                   o, e),
                  0)
            << e.str();
        std::vector<std::string> names;
        for (const auto& f : fs::directory_iterator(out))
            names.push_back(f.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> from_mp4 = extract(mp4, dir.File("mp4"));
    const std::vector<std::string> from_avi = extract(avi, dir.File("avi"));
    ASSERT_GE(from_mp4.size(), 3u);
    EXPECT_EQ(from_mp4, from_avi);
    std::vector<int> frames;
    for (const std::string& name : from_mp4) {
        EXPECT_EQ(lum::test::ReadFile(dir.File("mp4/" + name)),
                  lum::test::ReadFile(dir.File("avi/" + name)))
            << name;
        frames.push_back(std::stoi(name) - 10000);
    }
    const std::string ref = FfmpegFrames(mp4, frames);
    const std::size_t frame_bytes = 160 * 120 * 3;
    ASSERT_EQ(ref.size(), frame_bytes * frames.size());
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const Bytes bmp = lum::test::ReadFile(dir.File("mp4/" + from_mp4[k]));
        EXPECT_LE(
            LargestDifference(bmp.data() + 14,
                              reinterpret_cast<const std::uint8_t*>(ref.data()) + frame_bytes * k,
                              160, 120),
            1)
            << from_mp4[k];
    }
    // The reports differ only in the input's and the stills' names.
    auto rows = [](const std::string& csv) {
        const Bytes text = lum::test::ReadFile(csv);
        std::istringstream lines(std::string(text.begin(), text.end()));
        std::vector<std::string> out;
        for (std::string line; std::getline(lines, line);)
            out.push_back(line.substr(line.find(','), line.rfind(',') - line.find(',')));
        return out;
    };
    const std::vector<std::string> a = rows(dir.File("mp4.csv"));
    EXPECT_EQ(a.size(), 1u + 300 / 30); // the heading and every 30th of 300 frames
    EXPECT_EQ(a, rows(dir.File("avi.csv")));
}

// A long MP4 opens from its header: opening it and describing its streams
// read a small part of it, wherever the muxer put the index; its first
// and last frames need the data of their key-frame intervals only.
TEST(Containers, OpeningAnMp4ReadsLittleOfIt) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    class Counting : public ByteStream {
    public:
        Counting(std::unique_ptr<ByteStream> in, std::int64_t* read)
            : in_(std::move(in)), read_(read) {}
        std::int64_t Size() const override { return in_->Size(); }
        std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) override {
            const std::size_t n = in_->ReadAt(offset, buffer, count);
            *read_ += static_cast<std::int64_t>(n);
            return n;
        }
        bool WriteAt(std::int64_t, const void*, std::size_t) override { return false; }
        bool Truncate(std::int64_t) override { return false; }
        bool Writable() const override { return false; }

    private:
        std::unique_ptr<ByteStream> in_;
        std::int64_t* read_;
    };
    // Ten key-frame intervals of 150 frames.
    const std::string source = "-f lavfi -i testsrc2=size=320x240:rate=25:duration=60 -c:v "
                               "libx264 -preset ultrafast -crf 10 -g 150 ";
    for (const Recipe& r : {Recipe{"LongMp4", source, "mp4"},
                            Recipe{"LongMp4Fast", source + "-movflags +faststart", "mp4"}}) {
        SCOPED_TRACE(r.name);
        const std::string path = MediaFile(r);
        const std::int64_t size = static_cast<std::int64_t>(fs::file_size(path));
        ASSERT_GT(size, std::int64_t{8} << 20);
        std::int64_t read = 0;
        PAVIFILE f = nullptr;
        ASSERT_EQ(AVIFileOpenStream(
                      &f, std::make_unique<Counting>(FileStream::Open(path, FileMode::Read), &read),
                      OF_READ),
                  AVIERR_OK);
        PAVISTREAM v = nullptr;
        ASSERT_EQ(AVIFileGetStream(f, &v, streamtypeVIDEO, 0), AVIERR_OK);
        EXPECT_EQ(AVIStreamLength(v), 1500);
        AVIFILEINFO fi{};
        AVIFileInfo(f, &fi, sizeof fi);
        EXPECT_LT(read, size / 20) << "opening read " << read << " of " << size << " bytes";
        PGETFRAME g = AVIStreamGetFrameOpen(v, nullptr);
        ASSERT_NE(g, nullptr);
        EXPECT_NE(AVIStreamGetFrame(g, 0), nullptr);
        EXPECT_NE(AVIStreamGetFrame(g, 1499), nullptr);
        AVIStreamGetFrameClose(g);
        EXPECT_LT(read, size * 4 / 10) << "two frames read " << read << " of " << size << " bytes";
        AVIStreamRelease(v);
        AVIFileRelease(f);
    }
}

// Two readers of a demuxed file (a walk read ahead on a second decoder):
// the same pictures and the same work as one decoder alone.
TEST(Containers, ReadingAheadInDemuxedFiles) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string source = "-f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
                               "sine=sample_rate=22050 -t 12 -c:v libx264 -bf 3 -g 40 "
                               "-sc_threshold 0 -c:a aac ";
    for (const Recipe& r : {Recipe{"WalkMkv", source, "mkv"}, Recipe{"WalkTs", source, "ts"}}) {
        SCOPED_TRACE(r.name);
        Opened ours(MediaFile(r));
        ASSERT_EQ(ours.Result(), AVIERR_OK);
        PAVISTREAM v = ours.Video();
        const LONG length = AVIStreamLength(v);
        auto walk = [&](bool ahead, GetFrameStats* stats) {
            setenv("LUM_READAHEAD", ahead ? "1" : "0", 1);
            std::vector<std::string> hashes;
            PGETFRAME g = AVIStreamGetFrameOpen(v, nullptr);
            EXPECT_NE(g, nullptr);
            for (LONG p = 0; g && p < length; p += 13) {
                const auto* dib = static_cast<const std::uint8_t*>(AVIStreamGetFrame(g, p));
                EXPECT_NE(dib, nullptr) << p;
                if (dib) hashes.push_back(Md5(dib + 40, 160 * 120 * 3));
            }
            if (g) *stats = g->Stats();
            AVIStreamGetFrameClose(g);
            unsetenv("LUM_READAHEAD");
            return hashes;
        };
        GetFrameStats alone, ahead;
        EXPECT_EQ(walk(true, &ahead), walk(false, &alone));
        EXPECT_EQ(ahead.frames_decoded, alone.frames_decoded);
        EXPECT_GT(ahead.read_ahead, 0u);
    }
}

// From a memory image (libavformat reading through the service's byte
// stream) a file reads as it does from disk.
TEST(Containers, FromMemoryAsFromDisk) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    for (const Recipe& r : ContainerRecipes()) {
        if (r.name != "MkvH264" && r.name != "Mp4H264" && r.name != "TsMpeg2") continue;
        SCOPED_TRACE(r.name);
        const std::string path = MediaFile(r);
        const Bytes image = lum::test::ReadFile(path);
        PAVIFILE f = nullptr;
        ASSERT_EQ(
            AVIFileOpenStream(&f,
                              MemoryStream::View(
                                  {reinterpret_cast<const std::byte*>(image.data()), image.size()}),
                              OF_READ),
            AVIERR_OK);
        Opened disk(path);
        for (LONG i = 0; i < static_cast<LONG>(disk.Streams().size()); ++i) {
            PAVISTREAM m = nullptr;
            ASSERT_EQ(AVIFileGetStream(f, &m, 0, i), AVIERR_OK);
            PAVISTREAM d = disk.Streams()[static_cast<std::size_t>(i)];
            ASSERT_EQ(AVIStreamLength(m), AVIStreamLength(d));
            for (LONG s = AVIStreamLength(d); s-- > 0;)
                EXPECT_EQ(ReadSamples(m, s, 1), ReadSamples(d, s, 1)) << "stream " << i << " " << s;
            AVIStreamRelease(m);
        }
        AVIFileRelease(f);
    }
}

// In a variable frame rate file frames are counted, not timed: the
// extraction visits every tenth frame, and its report gives each visited
// frame's presentation time.
TEST(Containers, ReportTimesOfAVariableFrameRateFile) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const Recipe* vfr = nullptr;
    for (const Recipe& r : ContainerRecipes())
        if (r.name == "MkvVfr") vfr = &r;
    ASSERT_NE(vfr, nullptr);
    const std::string path = MediaFile(*vfr);
    const std::vector<double> times = FfmpegFrameTimes(path);
    lum::test::TempDir dir;
    std::ostringstream o, e;
    ASSERT_EQ(lum::app::RunCli({"extract", path, "-o", dir.File("out"), "--quiet", "--step", "10",
                                "--report", dir.File("r.csv")},
                               o, e),
              0)
        << e.str();
    const Bytes text = lum::test::ReadFile(dir.File("r.csv"));
    std::istringstream lines(std::string(text.begin(), text.end()));
    std::string line;
    std::getline(lines, line); // the heading
    std::vector<std::pair<int, int>> rows;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string input, frame, ms;
        std::getline(fields, input, ',');
        std::getline(fields, frame, ',');
        std::getline(fields, ms, ',');
        rows.emplace_back(std::stoi(frame), std::stoi(ms));
    }
    ASSERT_EQ(rows.size(), (times.size() + 9) / 10);
    for (const auto& [frame, ms] : rows) {
        EXPECT_EQ(frame % 10, 0);
        EXPECT_NEAR(ms,
                    std::ceil((times[static_cast<std::size_t>(frame)] - times[0]) * 1000 - 1e-6), 1)
            << "frame " << frame;
    }
    // Frame 20 follows the 20 frames left out: 1600 ms, not 800.
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[2], std::make_pair(20, 1600));
}
