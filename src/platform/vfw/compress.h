// Compressors of the video service: libavcodec encoders chosen by the
// handler code of the compression options, plus uncompressed frames, and
// the options' flags. AVIMakeCompressedStream (vfw.h) makes a stream over a
// source whose samples are the source's frames compressed with them; it
// also compresses what is written to it into the source.
//
// Key frames come exactly every dwKeyFrameEvery frames (counted from the
// first frame, or from the frame a read out of order starts again at), and
// nowhere else: scene-change key frames and B-frames are turned off, so each
// sample holds the frame of its own position. MS Video 1 and Cinepak decide
// for themselves too: they add a key frame wherever a whole frame codes
// better, so for them the interval is the longest between key frames.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/vfw/vfw.h"

namespace lum::platform::vfw {

// AVICOMPRESSOPTIONS flags.
constexpr DWORD AVICOMPRESSF_INTERLEAVE = 0x00000001;
constexpr DWORD AVICOMPRESSF_DATARATE = 0x00000002;
constexpr DWORD AVICOMPRESSF_KEYFRAMES = 0x00000004;
constexpr DWORD AVICOMPRESSF_VALID = 0x00000008;

// The handler code of uncompressed frames (24-bit DIBs).
constexpr FOURCC comptypeDIB = MakeFourCC("DIB ");

// What a compressor is and takes.
struct CompressorInfo {
    FOURCC handler = 0;      // the code options name it by ("MJPG")
    FOURCC compression = 0;  // the biCompression its frames carry
    std::string name;        // for people: "Motion JPEG"
    std::string encoder;     // libavcodec's encoder; empty for uncompressed
    bool lossless = false;   // frames decode to exactly the pictures given
    bool intra_only = false; // every frame a key frame
    bool quality = false;    // honours dwQuality
    bool data_rate = false;  // honours dwBytesPerSecond
};

// The compressors the installed libavcodec offers, in the order a list of
// them shows: uncompressed first.
std::vector<CompressorInfo> InstalledCompressors();
// The compressor a handler code names (letter case aside; "XVID", "DIVX",
// "DX50" and "FMP4" all name MPEG-4 ASP, "X264" H.264, "CRAM" MS Video 1),
// or nothing when the installed libavcodec has no encoder for it.
std::optional<CompressorInfo> FindCompressor(FOURCC handler);

// The key-frame interval options ask for: dwKeyFrameEvery with
// AVICOMPRESSF_KEYFRAMES, else the compressor's own default (1 for
// intra-only codecs).
LONG KeyFrameInterval(const CompressorInfo& c, const AVICOMPRESSOPTIONS& options);

// Whether reading Stream from a second thread is safe while the caller
// reads it and its file's other streams: streams of files opened only for
// reading, and edit streams over them.
bool ThreadSafeToRead(PAVISTREAM stream);

} // namespace lum::platform::vfw
