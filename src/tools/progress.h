// A progress bar for long commands, drawn on one terminal line of the error
// stream and redrawn only when the shown percentage changes. Disabled (it
// draws nothing) when the stream is not a terminal, so logs and pipes stay
// clean. Finish (or destruction) clears the line.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace lum::tools {

class ProgressBar {
public:
    ProgressBar(std::ostream& os, bool enabled, std::string label);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Done of Total units; Total 0 or less shows an empty bar.
    void Update(std::int64_t done, std::int64_t total);
    void Finish();

    // The line for a percentage: "label [#####-----]  50%".
    static std::string Render(const std::string& label, int percent);

private:
    std::ostream& os_;
    bool enabled_;
    std::string label_;
    int shown_ = -1;
};

} // namespace lum::tools
