// The extract command: the window's still extraction over one or more
// files, with the level and step as options. Several inputs run on a small
// pool of threads, each with its own file, reader and bitmaps; what they
// share (the progress line, the report) is guarded here.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>

#include "app/cli.h"
#include "app/extraction.h"

namespace lum::app {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: snapreel-cli extract INPUT... -o DIR [--level N] [--step N] [--report FILE]\n"
    "                            [--format bmp|png|jpeg] [--quality Q] [--jobs N] [--quiet]\n"
    "\n"
    "Writes a still <index + 10000>.BMP whenever a visited frame's mean colour lies\n"
    "farther than the level from the last still's. One input writes into DIR, several\n"
    "into DIR/<input name>/; DIR is made when missing.\n"
    "\n"
    "  -o DIR          the folder for the stills\n"
    "  --level N       trigger level (default 160)\n"
    "  --step N        frame step, at least 1 (default 60)\n"
    "  --report FILE   a CSV line for every visited frame\n"
    "  --format F      bmp (default), png or jpeg; stills end in .BMP, .PNG or .JPG\n"
    "  --quality Q     JPEG quality, 0 to 100 (default: the writer's, 75)\n"
    "  --jobs N        inputs extracted at once (default: the number of cores)\n"
    "  --quiet         print nothing but errors\n"
    "\n"
    "Ctrl-C stops every run after its current frame; the stills written stay.\n";

// Set by SIGINT while extract runs; every run asks it before each frame.
std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) {
    gInterrupted = true;
}

// Catches SIGINT for the life of the object and puts the old handler back.
class InterruptGuard {
public:
    InterruptGuard() {
        gInterrupted = false;
        previous_ = std::signal(SIGINT, OnInterrupt);
    }
    ~InterruptGuard() { std::signal(SIGINT, previous_); }

private:
    void (*previous_)(int) = SIG_DFL;
};

struct Options {
    std::vector<std::string> inputs;
    std::string output;
    std::string level = "160";
    std::string step = "60";
    std::string report;
    TStillFormat format = TStillFormat::sfBmp;
    int quality = -1;
    int jobs = 0;
    bool quiet = false;
};

// The outcome of one input, printed in input order at the end.
struct Outcome {
    int status = kExitOk;
    std::string message; // for the error stream
    TExtractionResult result;
    double seconds = 0;
    std::vector<std::string> rows; // report lines
};

// One line on a terminal that every running input moves: a bar with the
// percentage of all frames known so far, and frames per second.
class ProgressLine {
public:
    ProgressLine(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}

    void Add(LONG frames) {
        std::lock_guard lock(mutex_);
        total_ += frames;
    }
    void Advance(LONG frames) {
        if (!enabled_) return;
        std::lock_guard lock(mutex_);
        done_ += frames;
        const auto now = Clock::now();
        if (now - shown_ < std::chrono::milliseconds(100)) return;
        shown_ = now;
        const double pct = total_ > 0 ? 100.0 * static_cast<double>(done_) / total_ : 0;
        const double secs = std::chrono::duration<double>(now - start_).count();
        const int filled = static_cast<int>(pct / 5);
        char line[96];
        std::snprintf(line, sizeof line, "\r[%-20s] %3d%%  %.1f fps",
                      std::string(filled, '#').c_str(), static_cast<int>(pct),
                      secs > 0 ? visited_ / secs : 0.0);
        err_ << line << std::flush;
        drawn_ = true;
    }
    void Visited() {
        std::lock_guard lock(mutex_);
        ++visited_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        if (drawn_) err_ << "\r\033[K" << std::flush;
        drawn_ = false;
    }

private:
    std::ostream& err_;
    bool enabled_;
    std::mutex mutex_;
    long long total_ = 0;
    long long done_ = 0;
    long long visited_ = 0;
    Clock::time_point start_ = Clock::now();
    Clock::time_point shown_{};
    bool drawn_ = false;
};

std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

// The command's options as the front end's inputs.
class CliHost : public TExtractionHost {
public:
    CliHost(const Options& options, const std::string& input, const std::string& folder,
            TLumAVIFile& file, ProgressLine& progress, Outcome& outcome)
        : options_(options), input_(input), folder_(folder), file_(file), progress_(progress),
          outcome_(outcome) {}

    std::string LevelText() override { return options_.level; }
    std::string StepText() override { return options_.step; }
    std::string Directory() override { return folder_; }
    TStillFormat StillFormat() override { return options_.format; }
    int StillQuality() override { return options_.quality; }

    void ShowProgress(LONG maximum) override { progress_.Add(maximum); }
    void SetProgress(LONG index) override {
        progress_.Advance(index - shown_);
        shown_ = index;
    }
    bool Cancelled() override { return gInterrupted; }
    void FrameDone(const TFrameRecord& r) override {
        progress_.Visited();
        if (options_.report.empty()) return;
        LONG time = -1;
        try {
            time = file_.GetTypedStreams(stVideo, 0)->SamplesToTime(r.index);
        } catch (const Exception&) {
        }
        char distance[32];
        std::snprintf(distance, sizeof distance, "%.3f", static_cast<double>(r.distance));
        std::ostringstream row;
        row << CsvField(input_) << ',' << r.index << ',' << time << ',' << r.red << ',' << r.green
            << ',' << r.blue << ',' << distance << ',' << (r.written ? 1 : 0) << ','
            << CsvField(r.file);
        outcome_.rows.push_back(row.str());
    }

private:
    const Options& options_;
    const std::string& input_;
    std::string folder_;
    TLumAVIFile& file_;
    ProgressLine& progress_;
    Outcome& outcome_;
    LONG shown_ = 0;
};

Outcome ExtractOne(const Options& options, const std::string& input, const std::string& folder,
                   ProgressLine& progress) {
    Outcome outcome;
    const auto start = Clock::now();
    TLumAVIFile file;
    try {
        file.SetFileName(input);
        file.SetShareMode(smRead);
        file.OpenFile();
        if (file.GetTypedStreamCount(stVideo) < 1) throw Exception("No video stream");
    } catch (const std::exception& e) {
        outcome.status = kExitFailure;
        outcome.message = input + ": " + e.what();
        return outcome;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        outcome.status = kExitFailure;
        outcome.message = input + ": can't create \"" + folder + "\": " + ec.message();
        return outcome;
    }
    try {
        CliHost host(options, input, folder, file, progress, outcome);
        outcome.result = ExtractStills(file, host);
    } catch (const std::exception& e) {
        outcome.status = kExitFailure;
        outcome.message = input + ": " + e.what();
        return outcome;
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (outcome.result.cancelled) {
        outcome.status = kExitInterrupted;
        outcome.message =
            input + ": interrupted after frame " + std::to_string(outcome.result.lastIndex);
    } else if (outcome.result.failed) {
        outcome.status = kExitNoFrame;
        outcome.message = input + ": ";
        if (outcome.result.failedFrame >= 0)
            outcome.message += "frame " + std::to_string(outcome.result.failedFrame) + ": ";
        outcome.message += outcome.result.error;
    }
    return outcome;
}

bool ParseCount(const std::string& text, int& value) {
    try {
        value = StrToInt(text);
        return true;
    } catch (const EConvertError&) {
        return false;
    }
}

// Parses the arguments; an empty string on success, else the complaint.
std::string ParseOptions(const std::vector<std::string>& args, Options& o, bool& help) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) -> bool {
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            help = true;
            return {};
        } else if (a == "-o" || a == "--output") {
            if (!value(o.output)) return "missing value for " + a;
        } else if (a == "--level") {
            if (!value(o.level)) return "missing value for --level";
            int level;
            if (!ParseCount(o.level, level)) return "--level needs an integer";
        } else if (a == "--step") {
            if (!value(o.step)) return "missing value for --step";
            int step;
            if (!ParseCount(o.step, step) || step < 1)
                return "--step needs an integer of at least 1";
        } else if (a == "--format") {
            std::string text;
            if (!value(text)) return "missing value for --format";
            if (text == "bmp")
                o.format = TStillFormat::sfBmp;
            else if (text == "png")
                o.format = TStillFormat::sfPng;
            else if (text == "jpeg" || text == "jpg")
                o.format = TStillFormat::sfJpeg;
            else
                return "--format needs bmp, png or jpeg";
        } else if (a == "--quality") {
            std::string text;
            if (!value(text)) return "missing value for --quality";
            if (!ParseCount(text, o.quality) || o.quality < 0 || o.quality > 100)
                return "--quality needs an integer from 0 to 100";
        } else if (a == "--report") {
            if (!value(o.report)) return "missing value for --report";
        } else if (a == "--jobs" || a == "-j") {
            std::string text;
            if (!value(text)) return "missing value for " + a;
            if (!ParseCount(text, o.jobs) || o.jobs < 1)
                return a + " needs an integer of at least 1";
        } else if (a == "--quiet" || a == "-q") {
            o.quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return "unknown option \"" + a + "\"";
        } else {
            o.inputs.push_back(a);
        }
    }
    if (o.inputs.empty()) return "no input";
    if (o.output.empty()) return "no output folder (-o DIR)";
    if (o.quality >= 0 && o.format != TStillFormat::sfJpeg) return "--quality is for --format jpeg";
    return {};
}

} // namespace

int RunExtract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options o;
    bool help = false;
    const std::string complaint = ParseOptions(args, o, help);
    if (help) {
        out << kUsage;
        return kExitOk;
    }
    if (!complaint.empty()) {
        err << "snapreel-cli extract: " << complaint << "\n\n" << kUsage;
        return kExitUsage;
    }

    // Several inputs each get a folder named after the file; two inputs of
    // the same name would overwrite each other's stills.
    std::vector<std::string> folders;
    std::map<std::string, std::string> taken;
    for (const std::string& input : o.inputs) {
        if (o.inputs.size() == 1) {
            folders.push_back(o.output);
            break;
        }
        const std::string stem = fs::path(input).stem().string();
        auto [it, fresh] = taken.emplace(stem, input);
        if (!fresh) {
            err << "snapreel-cli extract: \"" << it->second << "\" and \"" << input
                << "\" would write into the same folder \"" << stem << "\"\n";
            return kExitUsage;
        }
        folders.push_back((fs::path(o.output) / stem).string());
    }

    InterruptGuard interrupt;
    const bool terminal = &err == &std::cerr && isatty(STDERR_FILENO);
    ProgressLine progress(err, terminal && !o.quiet);
    std::vector<Outcome> outcomes(o.inputs.size());
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const std::size_t jobs = std::min<std::size_t>(o.jobs > 0 ? o.jobs : cores, o.inputs.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next++) < o.inputs.size();) {
            if (gInterrupted) {
                outcomes[i].status = kExitInterrupted;
                outcomes[i].message = o.inputs[i] + ": not started, interrupted";
                continue;
            }
            outcomes[i] = ExtractOne(o, o.inputs[i], folders[i], progress);
        }
    };
    if (jobs <= 1) {
        work();
    } else {
        std::vector<std::jthread> pool;
        for (std::size_t k = 0; k < jobs; ++k)
            pool.emplace_back(work);
    }
    progress.Clear();

    int status = kExitOk;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const Outcome& r = outcomes[i];
        if (!r.message.empty()) err << r.message << "\n";
        status = std::max(status, r.status);
        if (r.status == kExitFailure || o.quiet) continue;
        if (r.status == kExitInterrupted && r.result.visited == 0) continue;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
        out << o.inputs[i] << ": " << r.result.written
            << (r.result.written == 1 ? " still" : " stills") << " from " << r.result.length
            << " frames in " << seconds << " s\n";
    }
    if (!o.report.empty()) {
        std::ofstream report(o.report, std::ios::trunc);
        report << "input,frame,time_ms,red,green,blue,distance,written,file\n";
        for (const Outcome& r : outcomes)
            for (const std::string& row : r.rows)
                report << row << "\n";
        report.close();
        if (!report) {
            err << "snapreel-cli extract: can't write \"" << o.report << "\"\n";
            status = std::max(status, kExitFailure);
        }
    }
    return status;
}

} // namespace lum::app
