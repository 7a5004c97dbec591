#include "tools/progress.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace lum::tools {

namespace {
constexpr int kWidth = 30;
}

ProgressBar::ProgressBar(std::ostream& os, bool enabled, std::string label)
    : os_(os), enabled_(enabled), label_(std::move(label)) {}

ProgressBar::~ProgressBar() {
    Finish();
}

std::string ProgressBar::Render(const std::string& label, int percent) {
    percent = std::clamp(percent, 0, 100);
    const int filled = percent * kWidth / 100;
    char tail[8];
    std::snprintf(tail, sizeof tail, " %3d%%", percent);
    return label + " [" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kWidth - filled), '-') + "]" + tail;
}

void ProgressBar::Update(std::int64_t done, std::int64_t total) {
    if (!enabled_) return;
    const int percent =
        total > 0 ? static_cast<int>(std::clamp<std::int64_t>(done * 100 / total, 0, 100)) : 0;
    if (percent == shown_) return;
    shown_ = percent;
    os_ << "\r" << Render(label_, percent) << std::flush;
}

void ProgressBar::Finish() {
    if (!enabled_ || shown_ < 0) return;
    os_ << "\r" << std::string(Render(label_, 100).size(), ' ') << "\r" << std::flush;
    shown_ = -1;
}

} // namespace lum::tools
