// The info command: describes every stream of a file through TLumAVIFile.
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <sstream>

#include "app/cli.h"
#include "platform/vfw/riff.h"
#include "platform/vfw/vfw.h"
#include "video/lumavi.h"

namespace lum::app {

namespace {

using platform::vfw::GetLE16;
using platform::vfw::GetLE32;

std::string Quoted(const std::string& s) {
    std::string q = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            q += '\\';
            q += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            q += buf;
        } else {
            q += static_cast<char>(c);
        }
    }
    return q + "\"";
}

// One stream's fields in order; values are numbers or quoted texts.
using Fields = std::vector<std::pair<std::string, std::string>>;

void AddNumber(Fields& f, const char* key, long long v) {
    f.emplace_back(key, std::to_string(v));
}
void AddText(Fields& f, const char* key, const std::string& v) {
    f.emplace_back(key, Quoted(v));
}

Fields Describe(TLumAVIStream& s) {
    TAVIStreamInfo info;
    s.GetStreamInfo(info);
    Fields f;
    AddText(f, "type", FourCCText(info.fccType));
    AddText(f, "handler", FourCCText(info.fccHandler));
    AddText(f, "name", s.GetName());
    AddNumber(f, "start", s.GetStartPos());
    AddNumber(f, "length", s.GetLength());
    AddNumber(f, "scale", info.dwScale);
    AddNumber(f, "rate", info.dwRate);
    AddNumber(f, "sample_size", info.dwSampleSize);
    AddNumber(f, "suggested_buffer_size", info.dwSuggestedBufferSize);
    long long keys = 0;
    if (info.dwSampleSize != 0) {
        keys = s.GetLength(); // every sample of a fixed-size stream stands alone
    } else {
        for (LONG p = s.FindSample(s.GetStartPos(), fdNext, {ftKeyFrame}); p >= 0;
             p = s.NextKeyFrame(p))
            ++keys;
    }
    AddNumber(f, "key_frames", keys);

    LONG size = s.GetFormatSize(s.GetStartPos());
    std::vector<std::uint8_t> fmt(static_cast<std::size_t>(std::max<LONG>(size, 0)));
    if (size > 0) s.GetFormat(s.GetStartPos(), fmt.data(), size);
    TLumAVIStreamType type = s.GetStreamType();
    if (type == stVideo && fmt.size() >= 20) {
        AddNumber(f, "width", static_cast<LONG>(GetLE32(&fmt[4])));
        // A top-down frame has a negative height; its size is what counts.
        AddNumber(f, "height",
                  std::abs(static_cast<long long>(static_cast<LONG>(GetLE32(&fmt[8])))));
        AddNumber(f, "bit_count", GetLE16(&fmt[14]));
        AddText(f, "compression", FourCCText(GetLE32(&fmt[16])));
        // What decodes the frames, so a stream that does not can be told.
        const std::string codec = platform::vfw::AVIStreamDecoderName(s.GetPStream());
        AddText(f, "codec", codec.empty() ? "none" : codec);
    } else if (type == stAudio && fmt.size() >= 16) {
        AddNumber(f, "format_tag", GetLE16(&fmt[0]));
        AddNumber(f, "channels", GetLE16(&fmt[2]));
        AddNumber(f, "samples_per_sec", GetLE32(&fmt[4]));
        AddNumber(f, "bits_per_sample", GetLE16(&fmt[14]));
        AddNumber(f, "block_align", GetLE16(&fmt[12]));
    }
    return f;
}

} // namespace

std::string FourCCText(unsigned code) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        auto c = static_cast<unsigned char>(code >> (8 * i));
        if (c < 0x20 || c > 0x7E) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%08X", code);
            return buf;
        }
        s += static_cast<char>(c);
    }
    return s;
}

int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string path;
    bool json = false;
    for (const std::string& a : args) {
        if (a == "--json") {
            json = true;
        } else if (a == "--help" || a == "-h") {
            out << "usage: snapreel-cli info FILE [--json]\n";
            return kExitOk;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            err << "snapreel-cli info: unknown option \"" << a << "\"\n";
            return kExitUsage;
        } else if (path.empty()) {
            path = a;
        } else {
            err << "snapreel-cli info: one file only\n";
            return kExitUsage;
        }
    }
    if (path.empty()) {
        err << "usage: snapreel-cli info FILE [--json]\n";
        return kExitUsage;
    }
    std::ostringstream text;
    try {
        TLumAVIFile file;
        file.SetFileName(path);
        file.SetShareMode(smRead); // others may read along, nobody writes meanwhile
        file.OpenFile();
        int count = file.GetStreamCount();
        if (json) text << "{\"file\": " << Quoted(path) << ", \"streams\": [";
        for (int i = 0; i < count; ++i) {
            Fields fields = Describe(*file.GetStreams(i));
            if (json) {
                text << (i ? ",\n  " : "\n  ") << "{\"index\": " << i;
                for (const auto& [k, v] : fields)
                    text << ", \"" << k << "\": " << v;
                text << "}";
            } else {
                text << i;
                for (const auto& [k, v] : fields)
                    text << " " << k << "=" << v;
                text << "\n";
            }
        }
        if (json) text << (count ? "\n" : "") << "]}\n";
    } catch (const Exception& e) {
        err << e.Message() << "\n";
        return kExitFailure;
    }
    out << text.str();
    return kExitOk;
}

} // namespace lum::app
