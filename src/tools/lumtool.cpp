#include "tools/lumtool.h"

#include "tools/args.h"

#include <algorithm>
#include <optional>
#include <ostream>

namespace lum::tools {

namespace {

// Every group of the tool, in the order the help lists them.
std::vector<const CommandGroup*> Groups() {
    return {&WaveCommands(), &AviCommands(), &AviAudioCommands(), &DeviceCommands()};
}

std::string Synopsis(const CommandGroup& g, const Command& c) {
    std::string s = g.name;
    if (*c.name) s += std::string(" ") + c.name;
    if (*c.synopsis) s += std::string(" ") + c.synopsis;
    return s;
}

void PrintCommands(std::ostream& os, const CommandGroup& g) {
    for (const Command& c : g.commands) {
        // A long synopsis gets its summary on the next line.
        std::string s = Synopsis(g, c);
        if (s.size() > 30)
            s += "\n" + std::string(34, ' ');
        else
            s.resize(32, ' ');
        os << "  " << s << c.summary << "\n";
    }
}

void Usage(std::ostream& os) {
    os << "usage: lum <group> <command> [arguments]\n\nCommands:\n";
    for (const CommandGroup* g : Groups())
        PrintCommands(os, *g);
    os << "\n`lum <group> <command> --help` describes a command.\n"
          "\nOptions:\n"
          "  --help     show this help\n"
          "  --version  show the version\n";
}

void GroupUsage(std::ostream& os, const CommandGroup& g) {
    os << "usage: lum " << g.name << " <command> [arguments]\n\n" << g.summary << "\n\n";
    PrintCommands(os, g);
}

int RunGroup(const CommandGroup& g, const Args& args, ToolIo& io) {
    const Command* fallback = nullptr;
    for (const Command& c : g.commands) {
        if (!*c.name) fallback = &c;
        if (!args.empty() && args[0] == c.name) return c.run({args.begin() + 1, args.end()}, io);
    }
    if (fallback) return fallback->run(args, io);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        GroupUsage(io.out, g);
        return kExitOk;
    }
    if (args.empty())
        io.err << "lum " << g.name << ": no command given\n\n";
    else
        io.err << "lum " << g.name << ": unknown command \"" << args[0] << "\"\n\n";
    GroupUsage(io.err, g);
    return kExitUsage;
}

} // namespace

int RunLum(const Args& args, ToolIo& io) {
    if (args.empty()) {
        Usage(io.err);
        return kExitUsage;
    }
    const std::string& first = args[0];
    if (first == "--help" || first == "-h" || first == "help") {
        Usage(io.out);
        return kExitOk;
    }
    if (first == "--version") {
        io.out << "lum " << LUM_VERSION << "\n";
        return kExitOk;
    }
    // Groups of one name (the avi commands live in several files) act as one.
    std::optional<CommandGroup> group;
    for (const CommandGroup* g : Groups()) {
        if (first != g->name) continue;
        if (!group)
            group = *g;
        else
            group->commands.insert(group->commands.end(), g->commands.begin(), g->commands.end());
    }
    if (group) return RunGroup(*group, {args.begin() + 1, args.end()}, io);
    io.err << "lum: unknown command \"" << first << "\"\n\n";
    Usage(io.err);
    return kExitUsage;
}

std::optional<int> ParseCommand(ArgParser& parser, const Args& args, ToolIo& io) {
    switch (parser.Parse(args, io.out, io.err)) {
    case ArgParser::Result::Help:
        return kExitOk;
    case ArgParser::Result::Error:
        return kExitUsage;
    case ArgParser::Result::Ok:
        break;
    }
    return std::nullopt;
}

} // namespace lum::tools
