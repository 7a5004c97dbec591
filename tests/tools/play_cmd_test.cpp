// `lum devices` and `lum wave play`, run in process: what the virtual
// device captured and what ALSA's file plugin wrote against the file's
// samples, the note when the virtual device stands in for ALSA, Ctrl-C,
// and the messages for bad arguments and files.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <csignal>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/waveout/waveout.h"
#include "platform/waveout/waveouttest.h"
#include "support/testutil.h"
#include "tools/lumtool.h"

namespace lum::tools {
namespace {

using platform::waveout::waveOutRescanDevices;
using test::ScopedEnv;

struct Outcome {
    int status;
    std::string out, err;
};

Outcome Lum(const std::vector<std::string>& args, bool progress = false) {
    std::ostringstream out, err;
    ToolIo io{out, err, progress};
    const int status = RunLum(args, io);
    return {status, out.str(), err.str()};
}

void PutLE(std::vector<std::uint8_t>& b, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A canonical WAV file: "fmt " (with a "fact" chunk for other tags) and
// the data.
void WriteWave(const std::string& path, int tag, int bits, int channels, int rate,
               const std::vector<char>& data) {
    const int align = channels * bits / 8;
    std::vector<std::uint8_t> fmt;
    PutLE(fmt, static_cast<std::uint32_t>(tag), 2);
    PutLE(fmt, static_cast<std::uint32_t>(channels), 2);
    PutLE(fmt, static_cast<std::uint32_t>(rate), 4);
    PutLE(fmt, static_cast<std::uint32_t>(rate * align), 4);
    PutLE(fmt, static_cast<std::uint32_t>(align), 2);
    PutLE(fmt, static_cast<std::uint32_t>(bits), 2);
    if (tag != 1) PutLE(fmt, 0, 2);
    std::vector<std::uint8_t> body{'W', 'A', 'V', 'E'};
    auto chunk = [&](const char* id, const std::vector<std::uint8_t>& payload) {
        body.insert(body.end(), id, id + 4);
        PutLE(body, static_cast<std::uint32_t>(payload.size()), 4);
        body.insert(body.end(), payload.begin(), payload.end());
        if (payload.size() & 1) body.push_back(0);
    };
    chunk("fmt ", fmt);
    if (tag != 1) {
        std::vector<std::uint8_t> fact;
        PutLE(fact, static_cast<std::uint32_t>(data.size() / static_cast<std::size_t>(align)), 4);
        chunk("fact", fact);
    }
    chunk("data", std::vector<std::uint8_t>(data.begin(), data.end()));
    std::vector<std::uint8_t> file{'R', 'I', 'F', 'F'};
    PutLE(file, static_cast<std::uint32_t>(body.size()), 4);
    file.insert(file.end(), body.begin(), body.end());
    test::WriteFile(path, file);
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

const std::string kNote = "sound plays on \"Virtual output\"";

// The device list follows LUM_ALSA_DEVICE; each test sets its own and
// leaves the list as the environment had it.
class PlayCommands : public testing::Test {
protected:
    void SetUp() override {
        capture_path_ = dir_.File("capture.wav");
        capture_ = std::make_unique<ScopedEnv>("LUM_WAVEOUT_CAPTURE", capture_path_.c_str());
        wave_ = dir_.File("a.wav");
        data_ = test::Pattern(static_cast<std::size_t>(0.2 * 22050) * 4, 7);
        WriteWave(wave_, 1, 16, 2, 22050, data_);
    }
    void TearDown() override {
        alsa_.reset();
        waveOutRescanDevices();
    }

    // ALSA's device 0: a PCM that writes what it plays into Raw, or one
    // that does not exist.
    void UseAlsa(const std::string& pcm) {
        alsa_.reset();
        alsa_ = std::make_unique<ScopedEnv>("LUM_ALSA_DEVICE", pcm.c_str());
        waveOutRescanDevices();
    }
    std::string FilePcm(const std::string& raw) { return "file:FILE=" + raw + ",FORMAT=raw"; }

    std::vector<char> Captured() {
        return test::CaptureData(capture_path_).value_or(std::vector<char>{});
    }

    test::TempDir dir_;
    std::string capture_path_, wave_;
    std::unique_ptr<ScopedEnv> capture_, alsa_;
    std::vector<char> data_;
};

TEST_F(PlayCommands, DevicesListsAlsaFirstAndTheVirtualDeviceByNameInTextAndJson) {
    UseAlsa(FilePcm(dir_.File("out.raw")));
    Outcome r = Lum({"devices", "--json"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.err, "");
    QJsonParseError error{};
    const QJsonArray devices =
        QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out;
    ASSERT_GE(devices.size(), 2);
    for (int i = 0; i < devices.size(); ++i)
        EXPECT_EQ(devices[i].toObject()["id"].toInt(), i);
    const QJsonObject first = devices.first().toObject();
    const QJsonObject last = devices.last().toObject();
    EXPECT_EQ(first["name"].toString().toStdString(),
              "ALSA output \"" + FilePcm(dir_.File("out.raw")) + "\"");
    EXPECT_FALSE(first["virtual"].toBool());
    EXPECT_EQ(last["name"].toString(), "Virtual output");
    EXPECT_TRUE(last["virtual"].toBool());
    EXPECT_GE(last["channels"].toInt(), 2);
    EXPECT_TRUE(last["formats"].toArray().contains("44100 Hz 16-bit stereo"));
    EXPECT_TRUE(last["formats"].toArray().contains("11025 Hz 8-bit mono"));

    r = Lum({"devices"});
    ASSERT_EQ(r.status, kExitOk);
    EXPECT_EQ(r.out.find("0  ALSA output"), 0u) << r.out;
    EXPECT_NE(r.out.find("\n" + std::to_string(devices.size() - 1) + "  Virtual output\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("44100 Hz (8/16-bit, mono/stereo)"), std::string::npos) << r.out;

    // Without ALSA the virtual device is device 0, and the tool says so once.
    UseAlsa("lum-no-such-pcm");
    r = Lum({"devices"});
    ASSERT_EQ(r.status, kExitOk);
    EXPECT_EQ(r.out.find("0  Virtual output\n"), 0u) << r.out;
    EXPECT_EQ(Count(r.err, kNote), 1u) << r.err;
    EXPECT_NE(r.err.find("lum-no-such-pcm"), std::string::npos) << r.err;
}

TEST_F(PlayCommands, PlayGivesTheVirtualDeviceExactlyTheFileOnEachRoute) {
    UseAlsa("lum-no-such-pcm");
    for (const char* route : {"window", "callback", "thread"}) {
        SCOPED_TRACE(route);
        const Outcome r = Lum({"wave", "play", wave_, "--device", "virtual", "--route", route});
        ASSERT_EQ(r.status, kExitOk) << r.err;
        EXPECT_EQ(r.out, "Played " + wave_ + " (0:00.200) on Virtual output\n");
        // Asked for by name, so no note that it stands in.
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(Captured(), data_);
    }
}

TEST_F(PlayCommands, MeterReportsTheLoadAfterThePlay) {
    UseAlsa("lum-no-such-pcm");
    const Outcome r =
        Lum({"wave", "play", wave_, "--device", "virtual", "--route", "thread", "--meter"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        r.out, m,
        std::regex("Played .* on Virtual output\nLoad: mean ([0-9]+\\.[0-9]{2}) %, peak "
                   "([0-9]+) %\n")))
        << r.out;
    // Filling a fifth of a second of PCM keeps the meter far from full.
    EXPECT_LT(std::stod(m[1]), 50.0);
    EXPECT_LT(std::stoi(m[2]), 50);
    EXPECT_EQ(Captured(), data_);
}

TEST_F(PlayCommands, TheMapperFallsBackToTheVirtualDeviceAndALoopPlaysTheFileAgain) {
    UseAlsa("lum-no-such-pcm");
    // Small buffers, so the loop turns within the ring.
    const Outcome r = Lum(
        {"wave", "play", wave_, "--loop", "1", "--buffer-size", "1000", "--buffers", "3"}, true);
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(Count(r.err, kNote), 1u) << r.err;
    // The bar went up to the end on the error stream, and was cleared.
    EXPECT_NE(r.err.find("Playing ["), std::string::npos);
    EXPECT_NE(r.err.find("100%"), std::string::npos);
    std::vector<char> twice = data_;
    twice.insert(twice.end(), data_.begin(), data_.end());
    EXPECT_EQ(Captured(), twice);
}

TEST_F(PlayCommands, AlsasFilePluginReceivesTheSameBytes) {
    const std::string raw = dir_.File("out.raw");
    UseAlsa(FilePcm(raw));
    const std::vector<char> mono = test::Pattern(3000, 9);
    const std::string path = dir_.File("mono8.wav");
    WriteWave(path, 1, 8, 1, 11025, mono);
    const Outcome r = Lum({"wave", "play", path, "--device", "0", "--route", "thread"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("on ALSA output"), std::string::npos) << r.out;
    const auto bytes = test::ReadFile(raw);
    EXPECT_EQ(std::vector<char>(bytes.begin(), bytes.end()), mono);
    EXPECT_FALSE(std::filesystem::exists(capture_path_));
}

std::atomic<bool> g_seen_interrupt{false};
extern "C" void CountInterrupt(int) {
    g_seen_interrupt = true;
}

TEST_F(PlayCommands, CtrlCStopsAnEndlessLoopAndClosesTheDevice) {
    UseAlsa("lum-no-such-pcm");
    // Ours catches a signal that comes before or after the tool's own.
    struct sigaction mine {
    }, previous{};
    mine.sa_handler = CountInterrupt;
    sigemptyset(&mine.sa_mask);
    ASSERT_EQ(sigaction(SIGINT, &mine, &previous), 0);
    std::atomic<bool> finished{false};
    std::thread ctrl_c([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        while (!finished) {
            kill(getpid(), SIGINT);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const Outcome r = Lum({"wave", "play", wave_, "--device", "virtual", "--loop", "0"});
    finished = true;
    ctrl_c.join();
    sigaction(SIGINT, &previous, nullptr);

    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "lum wave play: stopped\n");
    // The capture was closed as a whole file: more than one pass of the
    // loop, and every byte the file's in turn.
    const std::vector<char> got = Captured();
    ASSERT_GT(got.size(), data_.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], data_[i % data_.size()]) << i;
}

TEST_F(PlayCommands, BadArgumentsAndFilesSayWhat) {
    Outcome r = Lum({"wave", "play", wave_, "--route", "timer"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_EQ(r.err, "lum wave play: --route must be window, callback or thread\n");
    for (const char* device : {"99", "-2", "2x", "speakers"}) {
        r = Lum({"wave", "play", wave_, "--device", device});
        EXPECT_EQ(r.status, kExitUsage) << device;
        EXPECT_NE(r.err.find("--device must be -1 to"), std::string::npos) << r.err;
    }
    r = Lum({"wave", "play", wave_, "--buffers", "1"});
    EXPECT_EQ(r.status, kExitUsage);

    const std::string missing = dir_.File("none.wav");
    r = Lum({"wave", "play", missing});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_EQ(r.err, "lum wave play: " + missing + ": Unable to open wave file\n");

    // A tag nothing decodes.
    const std::string odd = dir_.File("odd.wav");
    WriteWave(odd, 0x7777, 8, 1, 8000, test::Pattern(800, 2));
    r = Lum({"wave", "play", odd, "--device", "virtual"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("this format does not play: "), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(capture_path_));
}

} // namespace
} // namespace lum::tools
