// `lum avi`: video files through the library's compressor and editable
// streams.
//   save IN OUT [--codec C ...] [--audio A]   every stream, video compressed and
//                                        audio converted as asked
//   cut IN OUT --start F --length N      without frames F..F+N-1, audio to match
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <ostream>

#include "audio/lumacm.h"
#include "audio/lumacmstream.h"
#include "core/lumutils.h"
#include "platform/vfw/compress.h"
#include "tools/args.h"
#include "tools/lumtool.h"
#include "tools/progress.h"
#include "video/lumavi.h"

namespace lum::tools {

namespace {

namespace vfw = platform::vfw;

// The handler codes the codec names of --codec stand for. "copy" (the
// default) writes the samples as they are.
const std::map<std::string, const char*>& Codecs() {
    static const std::map<std::string, const char*> codecs{
        {"copy", nullptr}, {"mjpeg", "MJPG"}, {"xvid", "XVID"},
        {"h264", "H264"},  {"ffv1", "FFV1"},  {"huffyuv", "HFYU"},
        {"msvc", "MSVC"},  {"cvid", "cvid"},  {"none", "DIB "}};
    return codecs;
}

FOURCC Code(const char* s) {
    return platform::MakeFourCC(s[0], s[1], s[2], s[3]);
}

std::string CodecList() {
    std::string s;
    for (const auto& [name, code] : Codecs())
        s += (s.empty() ? "" : "|") + name;
    return s;
}

// The audio formats of --audio. GSM 6.10 is the telephone codec: 8 kHz mono
// whatever the source has.
struct AudioKind {
    const char* name;
    WORD tag;
    int channels; // 0: the source's
    int rate;     // 0: the source's
};

constexpr AudioKind kAudioKinds[] = {
    {"pcm", WAVE_FORMAT_PCM, 0, 0},       {"msadpcm", WAVE_FORMAT_ADPCM, 0, 0},
    {"ima", WAVE_FORMAT_IMA_ADPCM, 0, 0}, {"gsm", WAVE_FORMAT_GSM610, 1, 8000},
    {"alaw", WAVE_FORMAT_ALAW, 0, 0},     {"mulaw", WAVE_FORMAT_MULAW, 0, 0},
};

std::string AudioList() {
    std::string s;
    for (const AudioKind& k : kAudioKinds) {
        if (!s.empty()) s += '|';
        s += k.name;
    }
    return s;
}

int Fail(ToolIo& io, const std::string& command, const std::string& path,
         const std::string& problem) {
    io.err << "lum avi " << command << ": " << path << ": " << problem << "\n";
    return kExitFailure;
}

// Owns a stream reference of the library.
struct StreamHold {
    TLumAVIStream* stream = nullptr;
    StreamHold() = default;
    explicit StreamHold(TLumAVIStream* s) : stream(s) {}
    StreamHold(const StreamHold&) = delete;
    StreamHold& operator=(const StreamHold&) = delete;
    StreamHold(StreamHold&& o) noexcept : stream(o.stream) { o.stream = nullptr; }
    ~StreamHold() {
        if (stream) stream->Release();
    }
};

// Saves the compressor's streams to Out with a progress bar; the exit code.
int Save(TLumAVICompressor& compressor, const std::string& command, const std::string& out,
         ToolIo& io) {
    ProgressBar progress(io.err, io.progress, command == "save" ? "saving" : "cutting");
    compressor.OnSave = [&progress](TLumAVICompressor*, int percent, bool&) {
        progress.Update(percent, 100);
    };
    try {
        if (!compressor.SaveToFile(out)) return Fail(io, command, out, "the save was cancelled");
    } catch (const Exception& e) {
        progress.Finish();
        return Fail(io, command, out, e.what());
    }
    progress.Finish();
    return kExitOk;
}

bool OpenInput(TLumAVIFile& file, const std::string& in, const std::string& command, ToolIo& io) {
    try {
        file.SetFileName(in);
        // Others may read the file meanwhile, not change it.
        file.SetShareMode(smRead);
        file.OpenFile();
    } catch (const Exception& e) {
        Fail(io, command, in, e.what());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// save

// Asks for audio of Kind in the options of an audio stream, whose format
// the options hold; an empty text when done, else what went wrong.
std::string AskForAudio(PAVICompressOptions o, const AudioKind& kind) {
    if (o->lpFormat == nullptr || o->cbFormat < 16) return "the audio stream has no format";
    TWaveFormatEx own{};
    std::memcpy(&own, o->lpFormat, 16);
    // PCM stays as it is; compressed audio becomes 16-bit PCM.
    if (kind.tag == WAVE_FORMAT_PCM && own.wFormatTag == WAVE_FORMAT_PCM) return {};
    const int channels = kind.channels ? kind.channels : own.nChannels;
    const int rate = kind.rate ? kind.rate : static_cast<int>(own.nSamplesPerSec);
    if (!acmIsUsable())
        return std::string("audio as ") + kind.name +
               " needs the audio compression manager (liblumacm.so), which was not found";
    const std::vector<BYTE> target = acmTargetFormat(kind.tag, 16, channels, rate);
    if (target.empty())
        return std::string("the audio compression manager has no ") + kind.name + " format for " +
               std::to_string(channels) + " channel(s) at " + std::to_string(rate) + " Hz";
    GlobalFreeMem(o->lpFormat);
    o->lpFormat = GlobalAllocMem(target.size());
    std::memcpy(o->lpFormat, target.data(), target.size());
    o->cbFormat = static_cast<DWORD>(target.size());
    return {};
}

int RunSave(const Args& args, ToolIo& io) {
    std::string in, out;
    std::optional<std::string> codec, audio;
    std::optional<long> quality, keyframes, data_rate, interleave;
    ArgParser parser("lum avi save",
                     "Saves every stream of a video file to a new AVI file: the video streams "
                     "compressed with the codec asked for (copy: the samples as they are), the "
                     "audio streams converted to the format asked for through the audio "
                     "compression manager (default: as they are).");
    parser.Positional("IN", in)
        .Positional("OUT", out)
        .Option("--codec", CodecList(), codec, "the video codec (default copy)")
        .Option("--audio", AudioList(), audio,
                "the audio format (default: as it is; gsm is 8 kHz mono)")
        .Integer("--quality", quality, 0, 100, "quality in percent (default: the codec's own)")
        .Integer("--keyframes", keyframes, 1, 100000, "a key frame every N frames")
        .Integer("--data-rate", data_rate, 1, 4000000,
                 "the data rate to hold, in kilobytes (1000 bytes) a second")
        .Integer("--interleave", interleave, 1, 100000, "interleave the streams every N frames");
    if (const auto done = ParseCommand(parser, args, io)) return *done;
    const std::string name = codec.value_or("copy");
    const auto it = Codecs().find(name);
    if (it == Codecs().end()) {
        io.err << "lum avi save: unknown codec \"" << name << "\" (" << CodecList() << ")\n";
        return kExitUsage;
    }
    if (it->second && !vfw::FindCompressor(Code(it->second)))
        return Fail(io, "save", out, "this system has no " + name + " compressor");
    const AudioKind* audio_kind = nullptr;
    if (audio) {
        for (const AudioKind& k : kAudioKinds)
            if (*audio == k.name) audio_kind = &k;
        if (audio_kind == nullptr) {
            io.err << "lum avi save: unknown audio format \"" << *audio << "\" (" << AudioList()
                   << ")\n";
            return kExitUsage;
        }
        acmStartup();
    }

    TLumAVIFile file;
    if (!OpenInput(file, in, "save", io)) return kExitFailure;
    TLumAVICompressor compressor;
    try {
        compressor.AddFile(&file);
    } catch (const Exception& e) {
        return Fail(io, "save", in, e.what());
    }
    if (compressor.GetStreamCount() == 0) return Fail(io, "save", in, "the file has no streams");
    for (int i = 0; i < compressor.GetStreamCount(); ++i) {
        PAVICompressOptions o = compressor.GetOptions(i);
        // Without --interleave, the records' own interval (every 5 frames).
        if (interleave) {
            o->dwFlags |= vfw::AVICOMPRESSF_INTERLEAVE;
            o->dwInterleaveEvery = static_cast<DWORD>(*interleave);
        }
        if (o->fccType == vfw::streamtypeAUDIO && audio_kind) {
            const std::string problem = AskForAudio(o, *audio_kind);
            if (!problem.empty()) return Fail(io, "save", in, problem);
        }
        if (o->fccType != vfw::streamtypeVIDEO) continue;
        o->fccHandler = it->second ? Code(it->second) : 0;
        o->dwQuality = quality ? static_cast<DWORD>(*quality * 100) : 0xFFFFFFFF;
        o->dwFlags &= ~(vfw::AVICOMPRESSF_KEYFRAMES | vfw::AVICOMPRESSF_DATARATE);
        if (keyframes) {
            o->dwFlags |= vfw::AVICOMPRESSF_KEYFRAMES;
            o->dwKeyFrameEvery = static_cast<DWORD>(*keyframes);
        }
        if (data_rate) {
            o->dwFlags |= vfw::AVICOMPRESSF_DATARATE;
            o->dwBytesPerSecond = static_cast<DWORD>(*data_rate * 1000);
        }
    }
    return Save(compressor, "save", out, io);
}

// ---------------------------------------------------------------------------
// cut

// Position in Target at the time of frame Frame of Video, exactly.
LONG SampleAt(TLumAVIStream* video, TLumAVIStream* target, LONG frame) {
    TAVIStreamInfo v{}, t{};
    video->GetStreamInfo(v);
    target->GetStreamInfo(t);
    if (v.dwRate == 0 || t.dwScale == 0) return target->GetStartPos();
    const __int128 num = static_cast<__int128>(frame - video->GetStartPos()) * v.dwScale * t.dwRate;
    const __int128 den = static_cast<__int128>(v.dwRate) * t.dwScale;
    return target->GetStartPos() + static_cast<LONG>(num / den);
}

int RunCut(const Args& args, ToolIo& io) {
    std::string in, out;
    std::optional<long> start, length;
    ArgParser parser("lum avi cut",
                     "Writes a video file without a range of frames of its first video stream; "
                     "the other streams lose the same stretch of time. The samples are copied "
                     "as they are; frames after the cut that depend on cut ones are compressed "
                     "again from a key frame.");
    parser.Positional("IN", in)
        .Positional("OUT", out)
        .Integer("--start", start, 0, 0x7FFFFFFF, "the first frame to cut")
        .Integer("--length", length, 1, 0x7FFFFFFF, "how many frames to cut");
    if (const auto done = ParseCommand(parser, args, io)) return *done;
    if (!start || !length) {
        io.err << "lum avi cut: --start and --length are required\n" << parser.UsageLine() << "\n";
        return kExitUsage;
    }

    TLumAVIFile file;
    if (!OpenInput(file, in, "cut", io)) return kExitFailure;
    std::vector<StreamHold> edited;
    try {
        TLumAVIStream* video =
            file.GetTypedStreamCount(stVideo) > 0 ? file.GetTypedStreams(stVideo, 0) : nullptr;
        if (video == nullptr) return Fail(io, "cut", in, "the file has no video stream");
        const LONG first = video->GetStartPos() + static_cast<LONG>(*start);
        if (first >= video->GetEndPos())
            return Fail(io, "cut", in,
                        "--start is past the last frame (" + std::to_string(video->GetLength()) +
                            " frames)");
        const LONG last = std::min<LONG>(video->GetEndPos(),
                                         static_cast<LONG>(std::min<long long>(
                                             static_cast<long long>(first) + *length, 0x7FFFFFFF)));
        if (first == video->GetStartPos() && last == video->GetEndPos())
            return Fail(io, "cut", in, "the cut would leave no frames");
        for (int i = 0; i < file.GetStreamCount(); ++i) {
            TLumAVIStream* s = file.GetStreams(i);
            auto* e = new TLumAVIEditableStream();
            edited.emplace_back(e);
            e->Load(s);
            const LONG from = s == video ? first : SampleAt(video, s, first);
            const LONG to = s == video ? last : SampleAt(video, s, last);
            const LONG a = std::clamp(from, s->GetStartPos(), s->GetEndPos());
            const LONG b = std::clamp(to, s->GetStartPos(), s->GetEndPos());
            if (b > a) StreamHold(e->Cut(a, b - a));
        }
    } catch (const Exception& e) {
        return Fail(io, "cut", in, e.what());
    }
    TLumAVICompressor compressor;
    try {
        for (StreamHold& h : edited)
            compressor.AddStream(h.stream);
    } catch (const Exception& e) {
        return Fail(io, "cut", in, e.what());
    }
    // Plain copies: the default options of each stream, without their
    // video compressor.
    for (int i = 0; i < compressor.GetStreamCount(); ++i) {
        PAVICompressOptions o = compressor.GetOptions(i);
        o->fccHandler = o->fccType == vfw::streamtypeVIDEO ? 0 : o->fccHandler;
    }
    return Save(compressor, "cut", out, io);
}

} // namespace

const CommandGroup& AviCommands() {
    static const CommandGroup group{
        "avi",
        "Video files: saving with a compressor, and cutting frames out.",
        {
            {"save",
             "IN OUT [--codec C] [--quality Q] [--keyframes N] [--data-rate KB] "
             "[--interleave N] [--audio pcm|msadpcm|ima|gsm|alaw|mulaw]",
             "save a video file's streams, compressed", RunSave},
            {"cut", "IN OUT --start FRAME --length FRAMES", "cut frames out of a video file",
             RunCut},
        }};
    return group;
}

} // namespace lum::tools
