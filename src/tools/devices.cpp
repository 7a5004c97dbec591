// `lum devices`: the wave output devices with their formats and channels,
// and the note that the virtual device stands in when ALSA has none.
#include <ostream>
#include <sstream>
#include <vector>

#include "platform/waveout/waveout.h"
#include "tools/args.h"
#include "tools/json.h"
#include "tools/lumtool.h"

namespace lum::tools {

namespace {

using namespace platform::waveout;
using platform::UINT;

// The standard formats a device lists, as "44100 Hz 16-bit stereo".
std::vector<std::string> FormatNames(platform::DWORD formats) {
    static const char* const kRates[] = {"11025", "22050", "44100"};
    std::vector<std::string> names;
    for (int band = 0; band < 3; ++band)
        for (int bits16 = 0; bits16 < 2; ++bits16)
            for (int stereo = 0; stereo < 2; ++stereo)
                if (formats & (platform::DWORD{1} << (band * 4 + bits16 * 2 + stereo)))
                    names.push_back(std::string(kRates[band]) + " Hz " + (bits16 ? "16" : "8") +
                                    "-bit " + (stereo ? "stereo" : "mono"));
    return names;
}

// The same, one rate a group: "44100 Hz (8/16-bit, mono/stereo)".
std::string FormatSummary(platform::DWORD formats) {
    static const char* const kRates[] = {"11025", "22050", "44100"};
    std::string out;
    for (int band = 0; band < 3; ++band) {
        const platform::DWORD bits = (formats >> (band * 4)) & 0xF;
        if (bits == 0) continue;
        std::string kinds;
        if (bits == 0xF) {
            kinds = "8/16-bit, mono/stereo";
        } else {
            for (int k = 0; k < 4; ++k)
                if (bits & (1u << k))
                    kinds += std::string(kinds.empty() ? "" : ", ") + (k >= 2 ? "16" : "8") +
                             "-bit " + (k % 2 ? "stereo" : "mono");
        }
        out += std::string(out.empty() ? "" : "; ") + kRates[band] + " Hz (" + kinds + ")";
    }
    return out.empty() ? "-" : out;
}

int RunDevices(const Args& args, ToolIo& io) {
    bool json = false;
    ArgParser parser("lum devices",
                     "Lists the wave output devices: id, name, channels and the standard formats "
                     "each plays. The mapper (id -1) plays on the first device that takes a "
                     "format. Set LUM_ALSA_DEVICE to choose ALSA's device 0.");
    parser.Flag("--json", json, "one JSON array");
    if (const auto done = ParseCommand(parser, args, io)) return *done;
    NoteVirtualFallback(io);
    const UINT count = waveOutGetNumDevs();
    const UINT virt = waveOutVirtualDevice();
    std::ostringstream text;
    if (json) text << "[";
    for (UINT id = 0; id < count; ++id) {
        WAVEOUTCAPS caps{};
        if (waveOutGetDevCaps(id, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
        if (json) {
            text << (id ? ", " : "") << "{\"id\": " << id
                 << ", \"name\": " << JsonString(caps.szPname)
                 << ", \"channels\": " << caps.wChannels
                 << ", \"virtual\": " << (id == virt ? "true" : "false") << ", \"formats\": [";
            const auto names = FormatNames(caps.dwFormats);
            for (std::size_t i = 0; i < names.size(); ++i)
                text << (i ? ", " : "") << JsonString(names[i]);
            text << "]}";
        } else {
            text << id << "  " << caps.szPname << "\n"
                 << "   channels: " << caps.wChannels << "\n"
                 << "   formats:  " << FormatSummary(caps.dwFormats) << "\n";
        }
    }
    text << (json ? "]\n" : "");
    io.out << text.str();
    return kExitOk;
}

} // namespace

void NoteVirtualFallback(ToolIo& io) {
    if (waveOutAlsaUsable()) return;
    io.err << "lum: ALSA has no usable output device (" << waveOutAlsaProblem()
           << "); sound plays on \"Virtual output\", which only keeps time\n";
}

const CommandGroup& DeviceCommands() {
    static const CommandGroup group{
        "devices",
        "Wave output devices.",
        {
            {"", "[--json]", "list the wave output devices", RunDevices},
        }};
    return group;
}

} // namespace lum::tools
