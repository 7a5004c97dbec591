// The argument parser every lum command shares. A command declares its
// positional arguments and options, then parses: options may come anywhere,
// as "--name value" or "--name=value"; "--" ends the options; "-" is a
// positional argument (standard input or output by convention). Errors are
// reported as "lum <command>: <problem>" followed by the usage line.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace lum::tools {

class ArgParser {
public:
    enum class Result { Ok, Help, Error };

    // Command is the full command ("lum wave convert"); Summary one line
    // that the help prints under the usage.
    ArgParser(std::string command, std::string summary);

    // A required positional argument, filled in declaration order.
    ArgParser& Positional(const std::string& name, std::string& value);
    // Optional positionals after the required ones (at most one list).
    ArgParser& Rest(const std::string& name, std::vector<std::string>& values);
    ArgParser& Flag(const std::string& name, bool& value, const std::string& help);
    ArgParser& Option(const std::string& name, const std::string& metavar,
                      std::optional<std::string>& value, const std::string& help);
    // An integer in Min..Max.
    ArgParser& Integer(const std::string& name, std::optional<long>& value, long min, long max,
                       const std::string& help);
    // An integer that must be one of Choices ("--bits 8|16").
    ArgParser& Choice(const std::string& name, std::optional<long>& value,
                      const std::vector<long>& choices, const std::string& help);

    // Help goes to Out; problems go to Err with the usage line.
    Result Parse(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

    std::string UsageLine() const;
    void Help(std::ostream& os) const;

private:
    struct OptionDef {
        std::string name;
        std::string metavar; // empty for a flag
        std::string help;
        // Takes the text of the value; false with a reason when it is bad.
        std::function<bool(const std::string&, std::string&)> set;
    };

    const OptionDef* Find(const std::string& name) const;
    bool Fail(std::ostream& err, const std::string& problem) const;

    std::string command_;
    std::string summary_;
    std::vector<OptionDef> options_;
    std::vector<std::pair<std::string, std::string*>> positionals_;
    std::string restName_;
    std::vector<std::string>* rest_ = nullptr;
};

} // namespace lum::tools
