#include "media.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <unistd.h>

#include "support/testutil.h"

namespace lum::interop {

namespace {

const std::string kVideo = "-f lavfi -i testsrc=size=160x120:rate=25 ";
const std::string kAudio = "-f lavfi -i sine=frequency=440:sample_rate=22050 ";
const std::string kTwoSeconds = "-t 2 -map 0:v -map 1:a ";

std::filesystem::path CacheDir() {
    const char* build = std::getenv("LUM_BUILD_DIR");
    std::filesystem::path dir = std::filesystem::path(build ? build : "/tmp") / "interop-media";
    std::filesystem::create_directories(dir);
    return dir;
}

} // namespace

const std::vector<Recipe>& AviRecipes() {
    static const std::vector<Recipe> recipes = {
        {"Raw24Pcm", kVideo + kAudio + kTwoSeconds + "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le",
         "avi"},
        {"Raw16Pcm8", kVideo + kAudio + kTwoSeconds + "-c:v rawvideo -pix_fmt rgb555le -c:a pcm_u8",
         "avi"},
        {"Pal8", kVideo + "-t 2 -c:v rawvideo -pix_fmt pal8", "avi"},
        {"MjpegAdpcm", kVideo + kAudio + kTwoSeconds + "-c:v mjpeg -c:a adpcm_ms", "avi"},
        {"Mpeg4BframesMp3",
         kVideo + kAudio + kTwoSeconds + "-c:v mpeg4 -bf 2 -g 12 -c:a libmp3lame", "avi"},
        {"H264Pcm", kVideo + kAudio + kTwoSeconds + "-c:v libx264 -bf 2 -g 12 -c:a pcm_s16le",
         "avi"},
        {"MsVideo1ImaAdpcm", kVideo + kAudio + kTwoSeconds + "-c:v msvideo1 -c:a adpcm_ima_wav",
         "avi"},
        {"Cinepak", kVideo + "-t 2 -c:v cinepak", "avi"},
        {"HuffYuv", kVideo + "-t 2 -c:v huffyuv", "avi"},
        {"Ffv1", kVideo + "-t 2 -c:v ffv1 -g 10", "avi"},
    };
    return recipes;
}

const std::vector<Recipe>& FrameRecipes() {
    const std::string src = "-f lavfi -i testsrc=size=160x120:rate=25 -t 3 ";
    const std::string small = "-f lavfi -i testsrc=size=64x48:rate=25 -t 3 ";
    static const std::vector<Recipe> recipes = {
        {"FrameRaw24", src + "-c:v rawvideo -pix_fmt bgr24", "avi"},
        {"FrameRaw32", src + "-c:v rawvideo -pix_fmt bgra", "avi"},
        {"FrameRaw16", src + "-c:v rawvideo -pix_fmt rgb555le", "avi"},
        {"FramePal8", src + "-c:v rawvideo -pix_fmt pal8", "avi"},
        {"FrameMjpeg", src + "-c:v mjpeg -q:v 3", "avi"},
        {"FrameMpeg4Bframes", src + "-c:v mpeg4 -bf 2 -g 12", "avi"},
        {"FrameXvid", src + "-c:v mpeg4 -g 30 -vtag XVID", "avi"},
        {"FrameDivx", src + "-c:v mpeg4 -bf 1 -g 25 -vtag DIVX", "avi"},
        {"FrameDx50", src + "-c:v mpeg4 -vtag DX50", "avi"},
        {"FrameH264Bframes", src + "-c:v libx264 -bf 2 -g 12", "avi"},
        {"FrameH264Long", src + "-c:v libx264 -bf 3 -g 250", "avi"},
        {"FrameMsVideo1", src + "-c:v msvideo1", "avi"},
        {"FrameCinepak", src + "-c:v cinepak", "avi"},
        {"FrameHuffYuv", src + "-c:v huffyuv", "avi"},
        {"FrameFfvHuff", src + "-c:v ffvhuff", "avi"},
        {"FrameFfv1", src + "-c:v ffv1 -g 10", "avi"},
        {"FrameZmbv", src + "-c:v zmbv", "avi"},
        {"FrameDv", "-f lavfi -i testsrc=size=720x576:rate=25 -t 3 -c:v dvvideo -pix_fmt yuv420p",
         "avi"},
        // Tags and codecs that only libavformat's tables name.
        {"FrameH264Smv2", src + "-c:v libx264 -bf 2 -g 12 -vtag SMV2", "avi"},
        {"FrameMpeg2", src + "-c:v mpeg2video -bf 2 -g 12", "avi"},
        {"FramePng", src + "-c:v png", "avi"},
        {"FrameCfhd", small + "-c:v cfhd -pix_fmt yuv422p10le -quality 12", "avi"},
        // Xvid's packed B-frames: an anchor and a B picture in one sample.
        {"FrameXvidPacked", src + "-c:v libxvid -bf 2 -g 25", "avi"},
        // Pixel formats the decoders hand out, each converted as ffmpeg does.
        {"FrameMjpeg422", src + "-c:v mjpeg -pix_fmt yuvj422p -q:v 3", "avi"},
        {"FrameMjpeg444", src + "-c:v mjpeg -pix_fmt yuvj444p -q:v 3", "avi"},
        {"FrameYuy2", small + "-c:v rawvideo -pix_fmt yuyv422", "avi"},
        {"FrameFfv1Yuv444", src + "-c:v ffv1 -pix_fmt yuv444p", "avi"},
        {"FrameFfv1Yuv410", src + "-c:v ffv1 -pix_fmt yuv410p", "avi"},
        {"FrameFfv1Yuv420p10", src + "-c:v ffv1 -pix_fmt yuv420p10le", "avi"},
        {"FrameFfv1Gray", src + "-c:v ffv1 -pix_fmt gray", "avi"},
        {"FrameFfv1Gbrp", src + "-c:v ffv1 -pix_fmt gbrp", "avi"},
    };
    return recipes;
}

const std::vector<Recipe>& ContainerRecipes() {
    static const std::vector<Recipe> recipes = [] {
        const std::string av = "-f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
                               "sine=frequency=440:sample_rate=22050 -t 4 ";
        const std::string video = "-f lavfi -i testsrc=size=160x120:rate=25 -t 4 ";
        const std::string h264 = "-c:v libx264 -bf 3 -g 30 -pix_fmt yuv420p ";
        std::vector<Recipe> r = {
            {"Mp4H264", av + h264 + "-c:a aac", "mp4"},
            {"MkvH264", av + h264 + "-c:a aac", "mkv"},
            {"MovMjpeg", av + "-c:v mjpeg -q:v 3 -c:a pcm_s16be", "mov"},
            {"WebmVp9", av + "-c:v libvpx-vp9 -b:v 200k -g 40 -c:a libopus", "webm"},
            {"TsMpeg2", av + "-c:v mpeg2video -bf 2 -g 12 -c:a mp2", "ts"},
            // Frames 20 to 39 left out: the times jump by 0.84 s after frame 19.
            {"MkvVfr", video + "-vf select='not(between(n\\,20\\,39))' -fps_mode vfr " + h264,
             "mkv"},
        };
        // Copies of other files, which MediaFile makes first.
        r.push_back({"Mp4EditList", "-ss 1.3 -i {Mp4H264} -c copy", "mp4"});
        r.push_back({"Mp4FromAvi", "-i {FromAvi} -c copy", "mp4"});
        return r;
    }();
    return recipes;
}

bool HaveFfmpeg() {
    return test::HaveProgram("ffmpeg") && test::HaveProgram("ffprobe");
}

namespace {

// The recipes that others copy, named in braces in their command lines.
const Recipe* Source(const std::string& name) {
    static const Recipe from_avi = {
        "FromAvi",
        "-f lavfi -i testsrc=size=160x120:rate=25 -t 4 -c:v libx264 -bf 3 -g 30 -pix_fmt yuv420p",
        "avi"};
    if (name == from_avi.name) return &from_avi;
    for (const Recipe& r : ContainerRecipes())
        if (r.name == name) return &r;
    return nullptr;
}

} // namespace

std::string MediaFile(const Recipe& recipe) {
    std::string args = recipe.ffmpeg;
    for (std::size_t open; (open = args.find('{')) != std::string::npos;) {
        const std::size_t close = args.find('}', open);
        const Recipe* source = Source(args.substr(open + 1, close - open - 1));
        if (close == std::string::npos || source == nullptr)
            throw std::runtime_error("no recipe named in " + recipe.ffmpeg);
        args.replace(open, close - open + 1, test::Quote(MediaFile(*source)));
    }
    std::size_t key = std::hash<std::string>{}(args);
    std::filesystem::path out =
        CacheDir() / (recipe.name + "-" + std::to_string(key % 1000000) + "." + recipe.extension);
    if (std::filesystem::exists(out)) return out.string();
    // Made under a private name and moved in place, so that tests running
    // side by side never see half a file.
    std::string tmp = out.string() + ".part" + std::to_string(::getpid()) + "." + recipe.extension;
    const std::string muxer = recipe.extension == "mkv"  ? "matroska"
                              : recipe.extension == "ts" ? "mpegts"
                                                         : recipe.extension;
    std::string cmd =
        "ffmpeg -v error -y " + args + " -f " + muxer + " " + test::Quote(tmp) + " 2>&1";
    std::string log;
    if (test::Run(cmd, &log) != 0) throw std::runtime_error("ffmpeg failed: " + cmd + "\n" + log);
    std::filesystem::rename(tmp, out);
    return out.string();
}

QJsonObject Probe(const std::string& path, bool hashes, const std::string& extra) {
    std::string out;
    std::string cmd = "ffprobe -v error -show_streams -show_packets " +
                      std::string(hashes ? "-show_data_hash MD5 " : "") + extra + " -of json " +
                      test::Quote(path);
    if (test::Run(cmd, &out) != 0) return {};
    return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
}

std::vector<QJsonObject> PacketsOf(const QJsonObject& probe, int stream) {
    std::vector<QJsonObject> out;
    for (const auto& p : probe["packets"].toArray())
        if (p.toObject()["stream_index"].toInt() == stream) out.push_back(p.toObject());
    return out;
}

std::string Md5(const void* data, std::size_t size) {
    QByteArray bytes = QCryptographicHash::hash(
        QByteArrayView(static_cast<const char*>(data), static_cast<qsizetype>(size)),
        QCryptographicHash::Md5);
    return bytes.toHex().toStdString();
}

} // namespace lum::interop
