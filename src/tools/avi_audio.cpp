// `lum avi audio IN OUT.wav [--stream N] [--format ...]`: an audio stream
// of a video file written as a wave file, through the audio worker. With
// no --format the stream's own format is kept; otherwise the samples are
// converted through the compression manager on the way.
#include <cstdio>
#include <ostream>
#include <vector>

#include "audio/lumacm.h"
#include "audio/lumacmstream.h"
#include "audio/lumaviaudio.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "core/lumutils.h"
#include "tools/args.h"
#include "tools/lumtool.h"
#include "tools/progress.h"
#include "video/lumavi.h"

namespace lum::tools {

namespace {

struct TargetKind {
    const char* name;
    WORD tag;
    int bits; // PCM only
};

constexpr TargetKind kTargets[] = {
    {"pcm8", WAVE_FORMAT_PCM, 8},      {"pcm16", WAVE_FORMAT_PCM, 16},
    {"msadpcm", WAVE_FORMAT_ADPCM, 0}, {"ima", WAVE_FORMAT_IMA_ADPCM, 0},
    {"alaw", WAVE_FORMAT_ALAW, 0},     {"mulaw", WAVE_FORMAT_MULAW, 0},
};

using FormatBytes = std::vector<std::uint8_t>;

int Fail(ToolIo& io, const std::string& path, const std::string& problem) {
    io.err << "lum avi audio: " << path << ": " << problem << "\n";
    return kExitFailure;
}

// The wave file being written; removed unless finished.
class WaveTarget {
public:
    explicit WaveTarget(std::string path) : path_(std::move(path)) {}
    ~WaveTarget() {
        if (cb_ == nullptr) return;
        wioWaveClose(cb_);
        wioFreeFileInfo(cb_);
        if (!done_) std::remove(path_.c_str());
    }
    WaveTarget(const WaveTarget&) = delete;
    WaveTarget& operator=(const WaveTarget&) = delete;
    bool Create(const TWaveFormatEx* fmt) {
        return wioCreateFileInfo(cb_, fmt) == WIOERR_NOERROR &&
               wioWriteFileInfo(cb_, path_.c_str()) == WIOERR_NOERROR;
    }
    bool Write(const void* data, std::int32_t n) {
        return n == 0 || wioWaveWriteData(cb_, data, n) == n;
    }
    bool Finish() {
        done_ = wioWaveClose(cb_) == WIOERR_NOERROR;
        return done_;
    }

private:
    std::string path_;
    PWAVEIOCB cb_ = nullptr;
    bool done_ = false;
};

int RunAudio(const Args& args, ToolIo& io) {
    std::string in, out;
    std::optional<std::string> formatName;
    std::optional<long> streamIndex;
    std::string names;
    for (const TargetKind& k : kTargets) {
        if (!names.empty()) names += '|';
        names += k.name;
    }
    ArgParser parser("lum avi audio",
                     "Writes an audio stream of a video file as a wave file, in the stream's own "
                     "format or converted to another through the audio compression manager.");
    parser.Positional("IN", in)
        .Positional("OUT", out)
        .Integer("--stream", streamIndex, 0, 99, "the audio stream, counted from 0 (default 0)")
        .Option("--format", names, formatName, "the wave file's format (default: the stream's)");
    if (const auto done = ParseCommand(parser, args, io)) return *done;
    const TargetKind* kind = nullptr;
    if (formatName) {
        for (const TargetKind& k : kTargets)
            if (*formatName == k.name) kind = &k;
        if (kind == nullptr) {
            io.err << "lum avi audio: unknown format " << *formatName << " (one of " << names
                   << ")\n"
                   << parser.UsageLine() << "\n";
            return kExitUsage;
        }
    }
    acmStartup();
    try {
        TLumAVIFile file;
        file.SetFileName(in);
        file.OpenFile();
        const int n = static_cast<int>(streamIndex.value_or(0));
        TLumAVIStream* stream = file.GetTypedStreams(stAudio, n);
        if (stream == nullptr) {
            const int count = file.GetTypedStreamCount(stAudio);
            return Fail(io, in,
                        count == 0 ? std::string("no audio stream")
                                   : "no audio stream " + std::to_string(n) + " (it has " +
                                         std::to_string(count) + ")");
        }
        TLumAVIAudioWorker worker(stream);
        const TWaveFormatEx* own = worker.GetFormat();
        FormatBytes target;
        if (kind) {
            target = acmTargetFormat(kind->tag, kind->bits, own->nChannels,
                                     static_cast<std::int32_t>(own->nSamplesPerSec));
            if (target.empty())
                return Fail(io, out,
                            std::string("no ") + kind->name + " format for this stream" +
                                (acmIsUsable() ? "" : " without the audio compression manager"));
        } else {
            const auto* p = reinterpret_cast<const std::uint8_t*>(own);
            target.assign(p, p + wioSizeOfWaveFormat(own));
        }
        const auto* to = reinterpret_cast<const TWaveFormatEx*>(target.data());
        const LONG start = stream->GetStartPos();
        const LONG length = stream->GetLength();
        worker.BeginReadingAs(start, length, to);

        WaveTarget wave(out);
        if (!wave.Create(to)) return Fail(io, out, "cannot create the wave file");
        ProgressBar progress(io.err, io.progress, "writing");
        std::vector<std::uint8_t> buffer(1 << 16);
        std::int64_t produced = 0;
        for (;;) {
            const LONG m =
                worker.ReadConvertedData(buffer.data(), static_cast<LONG>(buffer.size()));
            if (m <= 0) break;
            if (!wave.Write(buffer.data(), m)) return Fail(io, out, "cannot write the wave file");
            produced += m;
            progress.Update(worker.GetPosition() - start, length);
        }
        progress.Finish();
        worker.EndReading();
        if (length > 0 && produced == 0) return Fail(io, in, "the stream gave no audio");
        if (!wave.Finish()) return Fail(io, out, "cannot write the wave file");
    } catch (const Exception& e) {
        return Fail(io, in, e.what());
    }
    return kExitOk;
}

} // namespace

const CommandGroup& AviAudioCommands() {
    static const CommandGroup group{
        "avi",
        "Video files: their audio streams.",
        {
            {"audio", "IN OUT.wav [--stream N] [--format pcm8|pcm16|msadpcm|ima|alaw|mulaw]",
             "write an audio stream as a wave file", RunAudio},
        }};
    return group;
}

} // namespace lum::tools
