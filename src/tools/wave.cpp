// `lum wave`: wave files through the library's wave file layer.
//   info FILE [--json]     the format, sizes, INFO items and DISP chunks
//   convert IN OUT [...]   PCM to PCM through the wave object, other formats through
//                          the compression manager
//   cut IN OUT [...]       a copy without one region, through the cut list
//   import RAW OUT [...]   headerless PCM samples into a wave file
#include <sys/stat.h>

#include <filesystem>
#include <ostream>
#include <sstream>
#include <vector>

#include "audio/lumacm.h"
#include "audio/lumacmdlg.h"
#include "audio/lumacmdlg_comp.h"
#include "audio/lumacmstream.h"
#include "audio/lumacmsup.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwave.h"
#include "audio/lumwaveio.h"
#include "core/lumobj.h"
#include "core/lumutils.h"
#include "tools/args.h"
#include "tools/json.h"
#include "tools/lumtool.h"
#include "tools/progress.h"

namespace lum::tools {

namespace {

// A control block that is closed and freed on every path.
class WaveFile {
public:
    WaveFile() = default;
    ~WaveFile() {
        if (cb_ != nullptr) {
            wioWaveClose(cb_);
            wioFreeFileInfo(cb_);
        }
    }
    WaveFile(const WaveFile&) = delete;
    WaveFile& operator=(const WaveFile&) = delete;
    PWAVEIOCB& Block() { return cb_; }
    PWAVEIOCB operator->() const { return cb_; }

private:
    PWAVEIOCB cb_ = nullptr;
};

// A text of the message table, with its English text should the table
// lack it.
std::string Message(std::uint16_t ident, const char* fallback) {
    std::string s = LoadResStr(ident);
    return s.empty() ? fallback : s;
}

// Why a file could not be read, as the wave object words it.
std::string ReadProblem(const std::string& path, int code) {
    if (!wioFileExists(path.c_str())) return Message(138, "Unable to open wave file");
    if (code == WIOERR_NOMEM || code == RIFFERR_FILEIO || code == RIFFERR_NOMEM)
        return Message(130, "Error reading wave file");
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) >= (std::uintmax_t{1} << 31) && !ec)
        return Message(133, "Invalid wave file...") + " (files of 2 GiB or more are not supported)";
    return Message(133, "Invalid wave file...");
}

int Fail(ToolIo& io, const std::string& command, const std::string& path,
         const std::string& problem) {
    io.err << "lum wave " << command << ": " << path << ": " << problem << "\n";
    return kExitFailure;
}

const char* ClipFormatName(DWORD format) {
    switch (format) {
    case CF_TEXT:
        return "text";
    case CF_DIB:
        return "bitmap";
    default:
        return "other";
    }
}

// ---------------------------------------------------------------------------
// info

struct Description {
    std::string formatName;
    std::string description;
    std::int32_t lengthMs = 0;
    std::vector<std::pair<std::string, std::string>> info; // identifier, text
    std::vector<std::pair<DWORD, std::size_t>> disp;       // format, bytes
};

Description Describe(PWAVEIOCB cb) {
    Description d;
    // The compression manager's texts, or the wave layer's without it.
    acmGetFormatDescription(&cb->Format, d.formatName, d.description);
    d.lengthMs = wioSamplesToTimeEx(cb, cb->SampleCount);
    if (cb->InfoChunk) {
        for (TInfoData* item = cb->InfoChunk->First; item; item = item->Next) {
            const std::string_view value = RiffINFOValue(cb->InfoChunk, item);
            if (!value.empty() && item->Index < kINFOCount)
                d.info.emplace_back(aINFO[item->Index].Id, std::string(value));
        }
    }
    if (cb->DispList) {
        for (TDisp* disp = cb->DispList->First; disp; disp = disp->Next) {
            const void* payload = RiffDISPPayload(disp);
            d.disp.emplace_back(disp->ClipFormat, GlobalMemSize(payload));
        }
    }
    return d;
}

void PrintJson(std::ostream& os, const std::string& path, PWAVEIOCB cb, const Description& d) {
    const TWaveFormatEx& f = cb->Format;
    os << "{\"file\": " << JsonString(path) << ", \"format_tag\": " << f.wFormatTag
       << ", \"format_name\": " << JsonString(d.formatName)
       << ", \"description\": " << JsonString(d.description) << ", \"channels\": " << f.nChannels
       << ", \"samples_per_sec\": " << f.nSamplesPerSec
       << ", \"bits_per_sample\": " << f.wBitsPerSample << ", \"block_align\": " << f.nBlockAlign
       << ", \"avg_bytes_per_sec\": " << f.nAvgBytesPerSec << ", \"data_bytes\": " << cb->DataBytes
       << ", \"samples\": " << cb->SampleCount << ", \"length_ms\": " << d.lengthMs
       << ", \"info\": {";
    for (std::size_t i = 0; i < d.info.size(); ++i)
        os << (i ? ", " : "") << JsonString(d.info[i].first) << ": "
           << JsonString(d.info[i].second);
    os << "}, \"disp\": [";
    for (std::size_t i = 0; i < d.disp.size(); ++i)
        os << (i ? ", " : "") << "{\"format\": " << d.disp[i].first
           << ", \"bytes\": " << d.disp[i].second << "}";
    os << "]}\n";
}

void PrintText(std::ostream& os, const std::string& path, PWAVEIOCB cb, const Description& d) {
    const TWaveFormatEx& f = cb->Format;
    auto line = [&os](const std::string& label, const std::string& value) {
        std::string l = label + ":";
        l.resize(std::max<std::size_t>(l.size() + 1, 14), ' ');
        os << l << value << "\n";
    };
    line("File", path);
    line("Format", d.formatName + " (tag " + std::to_string(f.wFormatTag) + ")");
    line("Description", d.description);
    line("Channels", std::to_string(f.nChannels));
    line("Rate", std::to_string(f.nSamplesPerSec) + " Hz");
    line("Bits", std::to_string(f.wBitsPerSample));
    line("Block align", std::to_string(f.nBlockAlign));
    line("Bytes/second", std::to_string(f.nAvgBytesPerSec));
    line("Data bytes", std::to_string(cb->DataBytes));
    line("Samples", std::to_string(cb->SampleCount));
    line("Length", TimeToStringEx(d.lengthMs, true) + " (" + std::to_string(d.lengthMs) + " ms)");
    for (const auto& [id, text] : d.info) {
        const int row = RiffFindaINFO(mmioFourCC(id[0], id[1], id[2], id[3]));
        line("INFO " + id, text + "  (" + aINFO[row].Name + ")");
    }
    for (const auto& [format, bytes] : d.disp)
        line("DISP", std::to_string(format) + " (" + ClipFormatName(format) + "), " +
                         std::to_string(bytes) + " bytes");
}

int RunInfo(const Args& args, ToolIo& io) {
    std::string path;
    bool json = false;
    ArgParser parser("lum wave info",
                     "Describes a wave file: its format, data size and length, INFO items and "
                     "DISP chunks.");
    parser.Positional("FILE", path).Flag("--json", json, "one JSON object");
    if (const auto done = ParseCommand(parser, args, io)) return *done;
    acmStartup();
    WaveFile wave;
    if (int r = wioReadFileInfo(wave.Block(), path.c_str(), kFormWAVE, WIO_DISKFILE))
        return Fail(io, "info", path, ReadProblem(path, r));
    const Description d = Describe(wave.Block());
    std::ostringstream text;
    if (json)
        PrintJson(text, path, wave.Block(), d);
    else
        PrintText(text, path, wave.Block(), d);
    io.out << text.str();
    return kExitOk;
}

// ---------------------------------------------------------------------------
// convert, cut, import: whole files through the wave object

// Why a file could not be loaded into a wave.
std::string LoadProblem(const std::string& path, const ELumWaveError& e) {
    if (!wioFileExists(path.c_str())) return Message(138, "Unable to open wave file");
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) >= (std::uintmax_t{1} << 31) && !ec)
        return e.Message() + " (files of 2 GiB or more are not supported)";
    return e.Message();
}

// Loads Path into Wave; false (with the message written) when it fails.
bool LoadWave(TLumWave& wave, const std::string& path, const char* command, ToolIo& io) {
    try {
        wave.SetFileName(path);
        return true;
    } catch (const ELumWaveError& e) {
        Fail(io, command, path, LoadProblem(path, e));
        return false;
    }
}

// Shows the wave's progress on the bar.
void ShowProgress(TLumWave& wave, ProgressBar& bar) {
    wave.OnProgress = [&bar](TLumWave*, std::int64_t done, std::int64_t total, bool&) {
        bar.Update(done, total);
    };
}

ArgParser::Result ParseArgs(ArgParser& parser, const Args& args, ToolIo& io) {
    return parser.Parse(args, io.out, io.err);
}

int ParseStatus(ArgParser::Result r) {
    return r == ArgParser::Result::Help ? kExitOk : kExitUsage;
}

// The target formats by name. Pcm8 and pcm16 are PCM of that size; the
// others are made by the compression manager (or its support's builders)
// for 16-bit PCM of the target's channels and rate.
struct TargetKind {
    const char* name;
    WORD tag;
    int bits; // PCM only
};

constexpr TargetKind kTargets[] = {
    {"pcm8", WAVE_FORMAT_PCM, 8},      {"pcm16", WAVE_FORMAT_PCM, 16},
    {"msadpcm", WAVE_FORMAT_ADPCM, 0}, {"ima", WAVE_FORMAT_IMA_ADPCM, 0},
    {"alaw", WAVE_FORMAT_ALAW, 0},     {"mulaw", WAVE_FORMAT_MULAW, 0},
    {"gsm", WAVE_FORMAT_GSM610, 0},    {"mp3", WAVE_FORMAT_MPEGLAYER3, 0},
};

using FormatBytes = std::vector<std::uint8_t>;

const TWaveFormatEx* AsFormat(const FormatBytes& b) {
    return b.empty() ? nullptr : reinterpret_cast<const TWaveFormatEx*>(b.data());
}

FormatBytes CopyFormat(const TWaveFormatEx* f) {
    if (f == nullptr) return {};
    const auto* p = reinterpret_cast<const std::uint8_t*>(f);
    FormatBytes b(p, p + wioSizeOfWaveFormat(f));
    if (f->wFormatTag == WAVE_FORMAT_PCM) reinterpret_cast<TWaveFormatEx*>(b.data())->cbSize = 0;
    return b;
}

// Takes a global-heap format from a builder.
FormatBytes Adopt(TWaveFormatEx* f) {
    FormatBytes b = CopyFormat(f);
    if (f) GlobalFreeMem(f);
    return b;
}

// The format of Tag for Channels and Rate; empty when there is none.
FormatBytes TargetFormat(WORD tag, int bits, int channels, std::int32_t rate) {
    // GSM is built here, mono only, as the converter writes it.
    if (tag == WAVE_FORMAT_GSM610)
        return channels == 1 ? Adopt(acmBuildGSM610Header(rate)) : FormatBytes{};
    return acmTargetFormat(tag, bits, channels, rate);
}

int RunConvert(const Args& args, ToolIo& io) {
    std::string in, out;
    std::optional<std::string> formatName;
    std::optional<long> bits, channels, rate;
    std::string names;
    for (const TargetKind& k : kTargets)
        names += (names.empty() ? "" : "|") + std::string(k.name);
    ArgParser parser("lum wave convert",
                     "Converts a wave file to another format, channel count or rate, through the "
                     "audio compression manager (PCM to PCM through the library's own routines). "
                     "Unset options keep the source's values (GSM: mono at 8000 Hz); INFO and "
                     "DISP data are kept.");
    parser.Positional("IN", in)
        .Positional("OUT", out)
        .Option("--format", names, formatName, "the target format")
        .Choice("--bits", bits, {8, 16}, "PCM of this size (--format pcm8 or pcm16)")
        .Choice("--channels", channels, {1, 2}, "1 (mono) or 2 (stereo)")
        .Integer("--rate", rate, 4000, 100000, "samples per second");
    if (auto r = ParseArgs(parser, args, io); r != ArgParser::Result::Ok) return ParseStatus(r);
    const TargetKind* kind = nullptr;
    if (formatName) {
        for (const TargetKind& k : kTargets)
            if (*formatName == k.name) kind = &k;
        if (kind == nullptr || (bits && (kind->tag != WAVE_FORMAT_PCM || kind->bits != *bits))) {
            io.err << "lum wave convert: "
                   << (kind ? "--bits contradicts --format " : "unknown format ") << *formatName
                   << " (one of " << names << ")\n"
                   << parser.UsageLine() << "\n";
            return kExitUsage;
        }
    }
    acmStartup();

    // PCM to PCM goes through the wave object (its conversion keeps INFO and
    // DISP and replaces the target only when complete).
    if (!kind || kind->tag == WAVE_FORMAT_PCM) {
        TLumWave wave;
        if (!LoadWave(wave, in, "convert", io)) return kExitFailure;
        const TWaveFormatEx& from = *wave.GetPWaveFormat();
        if (pcmIsValidFormat(&from)) {
            const int toBits =
                kind ? kind->bits : static_cast<int>(bits.value_or(from.wBitsPerSample));
            TWaveFormatEx to{};
            pcmBuildWaveHeader(&to, toBits, static_cast<int>(channels.value_or(from.nChannels)),
                               static_cast<std::int32_t>(rate.value_or(from.nSamplesPerSec)));
            ProgressBar progress(io.err, io.progress, "converting");
            ShowProgress(wave, progress);
            try {
                wave.ConvertFile(out, &to);
            } catch (const ELumWaveError& e) {
                progress.Finish();
                return Fail(io, "convert", out, e.Message());
            }
            progress.Finish();
            return kExitOk;
        }
    }

    WaveFile source;
    if (int r = wioReadFileInfo(source.Block(), in.c_str(), kFormWAVE, WIO_DISKFILE))
        return Fail(io, "convert", in, ReadProblem(in, r));
    const TWaveFormatEx* from = &source->Format;
    const bool fromPcm = pcmIsValidFormat(from);
    const std::string notValid = Message(144, "This wave file is not valid for conversion");

    // The target: the named format, or the source's own tag (PCM of the
    // asked size), with the source's channels and rate unless told.
    WORD tag = from->wFormatTag;
    int pcmBits = fromPcm ? from->wBitsPerSample : 16;
    if (kind) {
        tag = kind->tag;
        pcmBits = kind->bits;
    } else if (bits) {
        tag = WAVE_FORMAT_PCM;
        pcmBits = static_cast<int>(*bits);
    }
    const bool gsm = tag == WAVE_FORMAT_GSM610;
    const int toChannels = static_cast<int>(channels.value_or(gsm ? 1 : from->nChannels));
    const auto toRate =
        static_cast<std::int32_t>(rate.value_or(gsm ? 8000 : std::int32_t(from->nSamplesPerSec)));
    FormatBytes target;
    if (tag == from->wFormatTag && !fromPcm && toChannels == from->nChannels &&
        toRate == static_cast<std::int32_t>(from->nSamplesPerSec))
        target = CopyFormat(from);
    else
        target = TargetFormat(tag, pcmBits, toChannels, toRate);
    if (target.empty()) {
        std::ostringstream why;
        why << "no " << (kind ? kind->name : "such") << " format for " << toChannels
            << (toChannels == 1 ? " channel" : " channels") << " at " << toRate << " Hz"
            << (acmIsUsable() ? "" : " without the audio compression manager");
        return Fail(io, "convert", out, why.str());
    }
    const TWaveFormatEx* to = AsFormat(target);
    // Through the compression manager component, on a wave file component
    // of the source.
    TLumWaveFile file;
    TLumACM manager;
    manager.SetSource(&file);
    try {
        file.GetWave()->SetFileName(in);
    } catch (const ELumWaveError& e) {
        return Fail(io, "convert", in, LoadProblem(in, e));
    }
    if (!manager.QueryConvert(to, nullptr)) return Fail(io, "convert", in, notValid);
    ProgressBar progress(io.err, io.progress, "converting");
    ShowProgress(*file.GetWave(), progress);
    try {
        if (!manager.ProcessFile(out, to, nullptr)) {
            progress.Finish();
            return Fail(io, "convert", in, Message(142, "Unable to convert wave file"));
        }
    } catch (const ELumACMError& e) {
        progress.Finish();
        return Fail(io, "convert", out, e.Message());
    }
    progress.Finish();
    return kExitOk;
}

int RunCut(const Args& args, ToolIo& io) {
    std::string in, out;
    std::optional<long> start, length;
    ArgParser parser("lum wave cut",
                     "Writes a wave file without the region from --start for --length "
                     "milliseconds; INFO and DISP data are kept.");
    parser.Positional("IN", in)
        .Positional("OUT", out)
        .Integer("--start", start, 0, 0x7FFFFFFF, "where the cut begins, in milliseconds")
        .Integer("--length", length, 0, 0x7FFFFFFF, "how long the cut is, in milliseconds");
    if (auto r = ParseArgs(parser, args, io); r != ArgParser::Result::Ok) return ParseStatus(r);
    if (!start || !length) {
        io.err << "lum wave cut: --start and --length are required\n" << parser.UsageLine() << "\n";
        return kExitUsage;
    }

    TLumWave wave;
    if (!LoadWave(wave, in, "cut", io)) return kExitFailure;
    wave.SetTimeFormat(tfMillisecond);
    TLumCutList cuts;
    TLumCutRegion region{};
    region.Start = wave.TimeFormatToSamples(static_cast<std::int32_t>(*start));
    region.Length = wave.TimeFormatToSamples(static_cast<std::int32_t>(*length));
    cuts.AddRegion(region);
    wave.SetCutList(&cuts);
    ProgressBar progress(io.err, io.progress, "cutting");
    ShowProgress(wave, progress);
    try {
        wave.SaveToFile(out);
    } catch (const ELumWaveError& e) {
        progress.Finish();
        return Fail(io, "cut", out, e.Message());
    }
    progress.Finish();
    return kExitOk;
}

int RunImport(const Args& args, ToolIo& io) {
    std::string raw, out;
    std::optional<long> bits, channels, rate, header;
    ArgParser parser("lum wave import",
                     "Makes a PCM wave file of headerless samples (8-bit unsigned or 16-bit "
                     "signed little-endian, left channel first).");
    parser.Positional("RAW", raw)
        .Positional("OUT", out)
        .Integer("--rate", rate, 1, 0x7FFFFFFF, "samples per second")
        .Choice("--channels", channels, {1, 2}, "1 (mono) or 2 (stereo)")
        .Choice("--bits", bits, {8, 16}, "bits per sample")
        .Integer("--header", header, 0, 0x7FFFFFFF, "bytes to skip at the start (default 0)");
    if (auto r = ParseArgs(parser, args, io); r != ArgParser::Result::Ok) return ParseStatus(r);
    if (!rate || !channels || !bits) {
        io.err << "lum wave import: --rate, --channels and --bits are required\n"
               << parser.UsageLine() << "\n";
        return kExitUsage;
    }
    if (!wioFileExists(raw.c_str()))
        return Fail(io, "import", raw, Message(135, "Unable to import wave file"));
    TLumWave wave;
    ProgressBar progress(io.err, io.progress, "importing");
    ShowProgress(wave, progress);
    try {
        wave.ImportFromRaw(raw, static_cast<int>(*bits), static_cast<std::int32_t>(*rate),
                           static_cast<int>(*channels),
                           static_cast<std::int32_t>(header.value_or(0)), out);
    } catch (const ELumWaveError& e) {
        progress.Finish();
        return Fail(io, "import", out, e.Message());
    }
    progress.Finish();
    return kExitOk;
}

} // namespace

const CommandGroup& WaveCommands() {
    static const CommandGroup group{
        "wave",
        "Wave files: their description, conversion between formats, cutting and "
        "importing raw samples.",
        {
            {"info", "FILE [--json]", "describe a wave file", RunInfo},
            {"convert",
             "IN OUT [--format pcm8|pcm16|msadpcm|ima|alaw|mulaw|gsm|mp3] [--bits 8|16] "
             "[--channels 1|2] [--rate R]",
             "convert a wave file to another format", RunConvert},
            {"cut", "IN OUT --start MS --length MS", "write a wave file without a region", RunCut},
            {"import", "RAW OUT --rate R --channels 1|2 --bits 8|16 [--header N]",
             "make a wave file of raw PCM samples", RunImport},
            {"play", "FILE [--device N|virtual] [--loop N] [--route window|callback|thread]",
             "play a wave file", RunWavePlay},
        }};
    return group;
}

} // namespace lum::tools
