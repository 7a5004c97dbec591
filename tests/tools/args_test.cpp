// The shared argument parser and progress bar of the lum commands.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/args.h"
#include "tools/progress.h"

namespace lum::tools {
namespace {

struct Parsed {
    ArgParser::Result result;
    std::string out, err;
    std::string in, outFile;
    std::vector<std::string> rest;
    bool json = false;
    std::optional<long> bits, rate;
    std::optional<std::string> name;
};

Parsed Parse(const std::vector<std::string>& args, bool withRest = false) {
    Parsed p;
    ArgParser parser("lum test run", "Runs a test.");
    parser.Positional("IN", p.in).Positional("OUT", p.outFile);
    if (withRest) parser.Rest("MORE", p.rest);
    parser.Flag("--json", p.json, "as JSON")
        .Choice("--bits", p.bits, {8, 16}, "bits")
        .Integer("--rate", p.rate, 4000, 100000, "rate")
        .Option("--name", "TEXT", p.name, "a name");
    std::ostringstream out, err;
    p.result = parser.Parse(args, out, err);
    p.out = out.str();
    p.err = err.str();
    return p;
}

TEST(ArgParser, OptionsAnywhereInBothSpellings) {
    Parsed p = Parse({"--bits", "16", "a.wav", "--rate=22050", "b.wav", "--json", "--name=x=y"});
    ASSERT_EQ(p.result, ArgParser::Result::Ok) << p.err;
    EXPECT_EQ(p.in, "a.wav");
    EXPECT_EQ(p.outFile, "b.wav");
    EXPECT_EQ(p.bits, 16);
    EXPECT_EQ(p.rate, 22050);
    EXPECT_TRUE(p.json);
    EXPECT_EQ(p.name, "x=y");
    p = Parse({"-", "--", "--json"});
    ASSERT_EQ(p.result, ArgParser::Result::Ok) << p.err;
    EXPECT_EQ(p.in, "-");
    EXPECT_EQ(p.outFile, "--json");
    EXPECT_FALSE(p.json);
    EXPECT_FALSE(p.bits.has_value());
    p = Parse({"a", "b", "c", "d"}, true);
    ASSERT_EQ(p.result, ArgParser::Result::Ok);
    EXPECT_EQ(p.rest, (std::vector<std::string>{"c", "d"}));
}

TEST(ArgParser, ProblemsNameTheOptionAndShowTheUsage) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"a", "b", "--bits", "12"}, "lum test run: --bits must be 8 or 16\n"},
        {{"a", "b", "--bits=8x"}, "--bits must be 8 or 16"},
        {{"a", "b", "--rate", "3999"}, "--rate must be a whole number from 4000 to 100000"},
        {{"a", "b", "--rate"}, "--rate needs a value"},
        {{"a", "b", "--json=1"}, "--json takes no value"},
        {{"a", "b", "--loud"}, "unknown option \"--loud\""},
        {{"a"}, "missing OUT"},
        {{"a", "b", "c"}, "unexpected argument \"c\""},
    };
    for (const auto& [args, message] : bad) {
        Parsed p = Parse(args);
        EXPECT_EQ(p.result, ArgParser::Result::Error) << message;
        EXPECT_NE(p.err.find(message), std::string::npos) << p.err;
        EXPECT_NE(p.err.find("usage: lum test run IN OUT [--json] [--bits 8|16] [--rate N]"),
                  std::string::npos)
            << p.err;
        EXPECT_TRUE(p.out.empty());
    }
}

TEST(ArgParser, HelpListsEveryOption) {
    Parsed p = Parse({"a", "--help"});
    EXPECT_EQ(p.result, ArgParser::Result::Help);
    EXPECT_TRUE(p.err.empty());
    for (const char* s : {"usage: lum test run", "Runs a test.", "--json", "as JSON", "--bits 8|16",
                          "--name TEXT", "--help"})
        EXPECT_NE(p.out.find(s), std::string::npos) << s;
}

TEST(ProgressBar, DrawsOnlyOnATerminalAndOnlyWhenThePercentChanges) {
    EXPECT_EQ(ProgressBar::Render("x", 50), "x [###############---------------]  50%");
    EXPECT_EQ(ProgressBar::Render("x", 140), ProgressBar::Render("x", 100));
    std::ostringstream os;
    {
        ProgressBar bar(os, true, "x");
        bar.Update(1, 200);
        bar.Update(2, 200); // still 1%
        bar.Update(100, 200);
        bar.Update(5, 0);
    }
    const std::string shown = os.str();
    EXPECT_EQ(shown.find("\rx [------------------------------]   0%"), 0u);
    EXPECT_NE(shown.find("   1%\rx [###############"), std::string::npos);
    std::size_t redraws = 0;
    for (std::size_t at = 0; (at = shown.find("\rx [", at)) != std::string::npos; ++at)
        ++redraws;
    EXPECT_EQ(redraws, 4u);                          // 0%, 1%, 50%, 0% again
    EXPECT_EQ(shown.substr(shown.size() - 1), "\r"); // the line is cleared at the end

    std::ostringstream quiet;
    ProgressBar off(quiet, false, "x");
    off.Update(1, 2);
    off.Finish();
    EXPECT_TRUE(quiet.str().empty());
}

} // namespace
} // namespace lum::tools
