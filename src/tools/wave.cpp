// `lum wave`: wave files through the library's wave file layer.
//   info FILE [--json]     the format, sizes, INFO items and DISP chunks
//   convert IN OUT [...]   PCM to PCM through the PCM conversion routines
#include <sys/stat.h>

#include <filesystem>
#include <ostream>
#include <sstream>
#include <vector>

#include "audio/lumpcmsup.h"
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
    wioGetFormatName(&cb->Format, d.formatName);
    wioGetFormat(&cb->Format, d.description);
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
    switch (parser.Parse(args, io.out, io.err)) {
    case ArgParser::Result::Help:
        return kExitOk;
    case ArgParser::Result::Error:
        return kExitUsage;
    case ArgParser::Result::Ok:
        break;
    }
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
// convert

// A file made under a temporary name beside the target and moved over it
// only when complete, so that a failed run leaves the target as it was.
class TargetFile {
public:
    explicit TargetFile(const std::string& target) : target_(target) {}
    ~TargetFile() {
        if (!temp_.empty()) wioFileDelete(temp_.c_str());
    }
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    bool Reserve() {
        std::string name = target_;
        if (!wioFileCreateTemp(name)) return false;
        temp_ = name;
        return true;
    }
    const std::string& Temp() const { return temp_; }
    bool Commit() {
        // The temporary file was made private; the result gets the target's
        // permissions, or those a new file of the user gets.
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::perms perms = fs::status(target_, ec).permissions();
        if (ec || !fs::exists(target_)) {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            perms = static_cast<fs::perms>(0666 & ~mask);
        }
        fs::permissions(temp_, perms, ec);
        fs::rename(temp_, target_, ec);
        if (ec) return false;
        temp_.clear();
        return true;
    }

private:
    std::string target_;
    std::string temp_;
};

int RunConvert(const Args& args, ToolIo& io) {
    std::string in, out;
    std::optional<long> bits, channels, rate;
    ArgParser parser("lum wave convert",
                     "Converts a PCM wave file to another bit depth, channel count or rate. "
                     "Unset options keep the source's value; INFO and DISP data are kept.");
    parser.Positional("IN", in)
        .Positional("OUT", out)
        .Choice("--bits", bits, {8, 16}, "bits per sample")
        .Choice("--channels", channels, {1, 2}, "1 (mono) or 2 (stereo)")
        .Integer("--rate", rate, 4000, 100000, "samples per second");
    switch (parser.Parse(args, io.out, io.err)) {
    case ArgParser::Result::Help:
        return kExitOk;
    case ArgParser::Result::Error:
        return kExitUsage;
    case ArgParser::Result::Ok:
        break;
    }

    WaveFile source;
    if (int r = wioReadFileInfo(source.Block(), in.c_str(), kFormWAVE, WIO_DISKFILE))
        return Fail(io, "convert", in, ReadProblem(in, r));
    const TWaveFormatEx& from = source->Format;
    if (!pcmIsValidFormat(&from))
        return Fail(io, "convert", in, Message(144, "This wave file is not valid for conversion"));
    TWaveFormatEx to{};
    pcmBuildWaveHeader(&to, static_cast<int>(bits.value_or(from.wBitsPerSample)),
                       static_cast<int>(channels.value_or(from.nChannels)),
                       static_cast<std::int32_t>(rate.value_or(from.nSamplesPerSec)));

    const std::string cannotCreate = Message(139, "Unable to create wave file");
    const std::string cannotConvert = Message(142, "Unable to convert wave file");
    WaveFile target;
    TargetFile file(out);
    if (wioCreateFileInfo(target.Block(), &to) != WIOERR_NOERROR ||
        wioCopyFileInfo(target.Block(), source.Block()) != WIOERR_NOERROR || !file.Reserve() ||
        wioWriteFileInfo(target.Block(), file.Temp().c_str()) != WIOERR_NOERROR)
        return Fail(io, "convert", out, cannotCreate);
    if (wioWaveOpen(source.Block()) != WIOERR_NOERROR)
        return Fail(io, "convert", in, Message(130, "Error reading wave file"));

    // One second a block, in whole source frames.
    const std::int32_t block = std::max<std::int32_t>(
        from.nAvgBytesPerSec - from.nAvgBytesPerSec % from.nBlockAlign, from.nBlockAlign);
    const std::int32_t room = PCMCONVERTSIZEOUTPUTDATA(&to, &from, block);
    if (room < 0) return Fail(io, "convert", in, cannotConvert);
    std::vector<std::uint8_t> inBuffer(static_cast<std::size_t>(block));
    std::vector<std::uint8_t> outBuffer(static_cast<std::size_t>(room) + to.nBlockAlign);

    ProgressBar progress(io.err, io.progress, "converting");
    std::int64_t done = 0;
    for (;;) {
        const std::int32_t n = wioWaveReadData(source.Block(), inBuffer.data(), block);
        if (n <= 0) break;
        const std::int32_t m = PCMCONVERT(&to, outBuffer.data(), &from, inBuffer.data(), n);
        if (m < 0 || (m > 0 && wioWaveWriteData(target.Block(), outBuffer.data(), m) != m))
            return Fail(io, "convert", out, cannotConvert);
        done += n;
        progress.Update(done, source->DataBytes);
    }
    progress.Finish();
    if (wioWaveClose(target.Block()) != WIOERR_NOERROR || !file.Commit())
        return Fail(io, "convert", out, cannotCreate);
    return kExitOk;
}

} // namespace

const CommandGroup& WaveCommands() {
    static const CommandGroup group{
        "wave",
        "Wave files: their description, and conversion between PCM formats.",
        {
            {"info", "FILE [--json]", "describe a wave file", RunInfo},
            {"convert", "IN OUT [--bits 8|16] [--channels 1|2] [--rate R]",
             "convert a PCM wave file", RunConvert},
        }};
    return group;
}

} // namespace lum::tools
