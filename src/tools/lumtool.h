// lum, the library's command-line tool: `lum <group> <command> [args]`,
// for example `lum wave info FILE`. Each group (wave, and later devices
// and avi) lives in one file that returns its table of commands; the tool
// dispatches by name. A group may have a default command (name "") that
// runs when no command of the group is named.
//
// Exit status: 0 success, 1 usage error, 2 a file could not be read or
// written (the library's message goes to the error stream).
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace lum::tools {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailure = 2;

// Where a command writes, and whether it may draw a progress bar (the
// error stream is a terminal).
struct ToolIo {
    std::ostream& out;
    std::ostream& err;
    bool progress = false;
};

using Args = std::vector<std::string>;

class ArgParser;
// Parses a command's arguments: the exit status when that ends the command
// (its help was shown, or a usage error), nothing when the command goes on.
std::optional<int> ParseCommand(ArgParser& parser, const Args& args, ToolIo& io);

struct Command {
    const char* name;     // "" for a group's default command
    const char* synopsis; // arguments after "lum <group> <name>"
    const char* summary;
    int (*run)(const Args& args, ToolIo& io);
};

struct CommandGroup {
    const char* name;
    const char* summary;
    std::vector<Command> commands;
};

// The groups, one a file.
const CommandGroup& WaveCommands();
const CommandGroup& AviCommands();
const CommandGroup& DeviceCommands();

// `lum wave play` (play.cpp); exit status 130 when stopped by Ctrl-C.
int RunWavePlay(const Args& args, ToolIo& io);
// Says on the error stream that the virtual device stands in, when ALSA
// offers no device; commands that play or list devices call it once.
void NoteVirtualFallback(ToolIo& io);
const CommandGroup& AviAudioCommands(); // avi audio

// Runs the tool with Args (without the program name).
int RunLum(const Args& args, ToolIo& io);

} // namespace lum::tools
