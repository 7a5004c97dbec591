// Media for the interop tests, made by ffmpeg on first use and kept in the
// build folder (keyed by the command line, so a changed recipe is made
// again), and ffprobe's view of a file as JSON.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <ostream>
#include <string>
#include <vector>

namespace lum::interop {

struct Recipe {
    std::string name;      // also the test name
    std::string ffmpeg;    // arguments between "ffmpeg -y" and the output file
    std::string extension; // "avi", "wav", "au", "mp4", "mov", "mkv", "webm", "ts"
};

// Tests name a recipe by its name.
inline void PrintTo(const Recipe& r, std::ostream* os) {
    *os << r.name;
}

// The recipes of the codec matrix.
const std::vector<Recipe>& AviRecipes();

// Video-only files of 75 frames (3 seconds) for checking decoded frames,
// one per codec and compression code the frame decoder is expected to know.
const std::vector<Recipe>& FrameRecipes();

// Files in the containers of the libavformat handler: H.264 with B-frames
// in MP4 and MKV, MJPEG with big-endian PCM in MOV, VP9 in WebM, MPEG-2 in
// MPEG-TS, a variable frame rate MKV, an MP4 whose edit list cuts off its
// first frames, and an MP4 copied out of an AVI (decode times only).
const std::vector<Recipe>& ContainerRecipes();

// True when ffmpeg and ffprobe are installed.
bool HaveFfmpeg();

// The file made from a recipe; made now unless the cache has it.
std::string MediaFile(const Recipe& recipe);

// ffprobe -show_streams -show_packets (with MD5 data hashes when asked).
QJsonObject Probe(const std::string& path, bool hashes = false, const std::string& extra = "");

// Packets of one stream, in file order.
std::vector<QJsonObject> PacketsOf(const QJsonObject& probe, int stream);

// MD5 of bytes, as ffprobe writes it ("MD5:..." without the prefix).
std::string Md5(const void* data, std::size_t size);

} // namespace lum::interop
