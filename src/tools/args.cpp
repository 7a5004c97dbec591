#include "tools/args.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ostream>

namespace lum::tools {

namespace {

// A whole decimal integer, or nothing.
std::optional<long> ParseLong(const std::string& text) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
    return v;
}

std::string Join(const std::vector<long>& values, const char* separator) {
    std::string s;
    for (long v : values)
        s += (s.empty() ? "" : separator) + std::to_string(v);
    return s;
}

} // namespace

ArgParser::ArgParser(std::string command, std::string summary)
    : command_(std::move(command)), summary_(std::move(summary)) {
    // Every command answers --help.
    options_.push_back({"--help", "", "show this help", nullptr});
}

ArgParser& ArgParser::Positional(const std::string& name, std::string& value) {
    positionals_.emplace_back(name, &value);
    return *this;
}

ArgParser& ArgParser::Rest(const std::string& name, std::vector<std::string>& values) {
    restName_ = name;
    rest_ = &values;
    return *this;
}

ArgParser& ArgParser::Flag(const std::string& name, bool& value, const std::string& help) {
    options_.push_back({name, "", help, [&value](const std::string&, std::string&) {
                            value = true;
                            return true;
                        }});
    return *this;
}

ArgParser& ArgParser::Option(const std::string& name, const std::string& metavar,
                             std::optional<std::string>& value, const std::string& help) {
    options_.push_back({name, metavar, help, [&value](const std::string& text, std::string&) {
                            value = text;
                            return true;
                        }});
    return *this;
}

ArgParser& ArgParser::Integer(const std::string& name, std::optional<long>& value, long min,
                              long max, const std::string& help) {
    options_.push_back(
        {name, "N", help, [&value, min, max](const std::string& text, std::string& why) {
             const std::optional<long> v = ParseLong(text);
             if (!v || *v < min || *v > max) {
                 why = "must be a whole number from " + std::to_string(min) + " to " +
                       std::to_string(max);
                 return false;
             }
             value = v;
             return true;
         }});
    return *this;
}

ArgParser& ArgParser::Choice(const std::string& name, std::optional<long>& value,
                             const std::vector<long>& choices, const std::string& help) {
    options_.push_back({name, Join(choices, "|"), help,
                        [&value, choices](const std::string& text, std::string& why) {
                            const std::optional<long> v = ParseLong(text);
                            if (!v ||
                                std::find(choices.begin(), choices.end(), *v) == choices.end()) {
                                why = "must be " + Join(choices, " or ");
                                return false;
                            }
                            value = v;
                            return true;
                        }});
    return *this;
}

const ArgParser::OptionDef* ArgParser::Find(const std::string& name) const {
    for (const OptionDef& s : options_)
        if (s.name == name) return &s;
    return nullptr;
}

std::string ArgParser::UsageLine() const {
    std::string s = "usage: " + command_;
    for (const auto& [name, value] : positionals_)
        s += " " + name;
    if (rest_) s += " [" + restName_ + "...]";
    for (const OptionDef& o : options_) {
        if (o.name == "--help") continue;
        s += " [" + o.name + (o.metavar.empty() ? "" : " " + o.metavar) + "]";
    }
    return s;
}

void ArgParser::Help(std::ostream& os) const {
    os << UsageLine() << "\n\n" << summary_ << "\n\nOptions:\n";
    for (const OptionDef& o : options_) {
        std::string left = o.name + (o.metavar.empty() ? "" : " " + o.metavar);
        left.resize(std::max<std::size_t>(left.size() + 2, 20), ' ');
        os << "  " << left << o.help << "\n";
    }
}

bool ArgParser::Fail(std::ostream& err, const std::string& problem) const {
    err << command_ << ": " << problem << "\n" << UsageLine() << "\n";
    return false;
}

ArgParser::Result ArgParser::Parse(const std::vector<std::string>& args, std::ostream& out,
                                   std::ostream& err) {
    std::vector<std::string> plain;
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsDone || a.size() < 2 || a[0] != '-') {
            plain.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsDone = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            Help(out);
            return Result::Help;
        }
        const std::size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const OptionDef* def = Find(name);
        if (def == nullptr) {
            Fail(err, "unknown option \"" + name + "\"");
            return Result::Error;
        }
        std::string value;
        if (def->metavar.empty()) {
            if (eq != std::string::npos) {
                Fail(err, name + " takes no value");
                return Result::Error;
            }
        } else if (eq != std::string::npos) {
            value = a.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            Fail(err, name + " needs a value");
            return Result::Error;
        }
        std::string why;
        if (!def->set(value, why)) {
            Fail(err, name + " " + why);
            return Result::Error;
        }
    }
    if (plain.size() < positionals_.size()) {
        Fail(err, "missing " + positionals_[plain.size()].first);
        return Result::Error;
    }
    if (plain.size() > positionals_.size() && rest_ == nullptr) {
        Fail(err, "unexpected argument \"" + plain[positionals_.size()] + "\"");
        return Result::Error;
    }
    for (std::size_t i = 0; i < positionals_.size(); ++i)
        *positionals_[i].second = plain[i];
    if (rest_) rest_->assign(plain.begin() + static_cast<long>(positionals_.size()), plain.end());
    return Result::Ok;
}

} // namespace lum::tools
