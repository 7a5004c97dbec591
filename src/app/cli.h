// snapreel-cli: a thin command-line tool over the library. Commands are
// dispatched by name from one table, so later commands (frame, extract)
// add a row. Exit status: 0 success, 1 usage error, 2 the library failed
// (its message goes to the error stream), 3 a frame could not be had.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace lum::app {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailure = 2;
constexpr int kExitNoFrame = 3;
constexpr int kExitInterrupted = 130; // extract stopped by Ctrl-C

// Runs the tool with Args (without the program name).
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `info FILE [--json]`: one line, or one JSON object, per stream.
int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `frame FILE INDEX -o OUT.BMP`: frame INDEX of the first video stream as
// a 24-bit BMP.
int RunFrame(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `extract INPUT... -o DIR [--level N] [--step N] [--report FILE]
// [--jobs N] [--quiet]`: the window's still extraction.
int RunExtract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// A four-character code as text: its characters when all are printable,
// otherwise "0x" and eight hex digits.
std::string FourCCText(unsigned code);

} // namespace lum::app
