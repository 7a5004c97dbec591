#include "app/cli.h"

#include <algorithm>
#include <ostream>

namespace lum::app {

namespace {

struct Command {
    const char* name;
    const char* synopsis;
    const char* summary;
    int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

const Command kCommands[] = {
    {"info", "info FILE [--json]", "describe the streams of a video file", RunInfo},
    {"frame", "frame FILE INDEX -o OUT.BMP", "write one frame as a 24-bit BMP", RunFrame},
    {"extract", "extract INPUT... -o DIR", "write stills at colour changes (extract --help)",
     RunExtract},
};

void Usage(std::ostream& os) {
    os << "usage: snapreel-cli <command> [arguments]\n\nCommands:\n";
    for (const Command& c : kCommands) {
        std::string s = c.synopsis;
        s.resize(std::max<std::size_t>(s.size() + 2, 24), ' ');
        os << "  " << s << c.summary << "\n";
    }
    os << "\nOptions:\n"
          "  --help                show this help\n"
          "  --version             show the version\n";
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        Usage(err);
        return kExitUsage;
    }
    const std::string& first = args[0];
    if (first == "--help" || first == "-h") {
        Usage(out);
        return kExitOk;
    }
    if (first == "--version") {
        out << "snapreel-cli " << SNAPREEL_VERSION << "\n";
        return kExitOk;
    }
    for (const Command& c : kCommands) {
        if (first == c.name) return c.run({args.begin() + 1, args.end()}, out, err);
    }
    err << "snapreel-cli: unknown command \"" << first << "\"\n\n";
    Usage(err);
    return kExitUsage;
}

} // namespace lum::app
