#include "cli/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "platform/format.h"

namespace tessel::cli {
namespace {

constexpr int kBarWidth = 30;

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

ProgressBar::Mode ModeFor(bool quiet) {
  if (quiet) return ProgressBar::Mode::kQuiet;
  return isatty(STDERR_FILENO) ? ProgressBar::Mode::kTerminal : ProgressBar::Mode::kLines;
}

}  // namespace

ProgressBar::ProgressBar(bool quiet) : ProgressBar(ModeFor(quiet), stderr, SteadyMilliseconds) {}

ProgressBar::ProgressBar(Mode mode, std::FILE* out, Clock clock)
    : mode_(mode), out_(out), clock_(std::move(clock)), start_ms_(clock_()) {}

ProgressBar::~ProgressBar() {
  Finish();
}

ProgressCallback ProgressBar::Callback() {
  return [this](const ProgressRecord& record) { return Handle(record); };
}

void ProgressBar::Finish() {
  if (drawn_.empty()) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  drawn_.clear();
}

bool ProgressBar::Handle(const ProgressRecord& record) {
  if (mode_ == Mode::kQuiet) return true;
  switch (record.kind) {
    case ProgressKind::kPosition:
      Position(record.position);
      break;
    case ProgressKind::kMessage:
      Line(record.message);
      break;
    case ProgressKind::kTitle:
      Line(record.title);
      break;
    case ProgressKind::kHideBar:
      ClearBar();
      hidden_ = true;
      break;
  }
  return true;
}

void ProgressBar::Position(int32_t position) {
  const int percent = std::clamp(position, 0, 100);
  if (mode_ == Mode::kLines) {
    if (percent == last_percent_) return;
    last_percent_ = percent;
    std::fprintf(out_, "%d%%\n", percent);
    std::fflush(out_);
    return;
  }
  if (hidden_) return;
  const int filled = percent * kBarWidth / 100;
  const std::string bar =
      Format("[%s%s] %3d%%%s", std::string(filled, '#').c_str(),
             std::string(kBarWidth - filled, ' ').c_str(), percent, TimeLeft(percent).c_str());
  if (bar == drawn_) return;
  // Pad over the rest of a longer previous line.
  const size_t pad = drawn_.size() > bar.size() ? drawn_.size() - bar.size() : 0;
  std::fprintf(out_, "\r%s%s", bar.c_str(), std::string(pad, ' ').c_str());
  std::fflush(out_);
  drawn_ = bar;
}

std::string ProgressBar::TimeLeft(int percent) const {
  if (percent <= 0 || percent >= 100) return "";
  const int64_t elapsed = clock_() - start_ms_;
  const int64_t left = (elapsed * (100 - percent) / percent + 500) / 1000;  // seconds
  if (left >= 3600) {
    return Format("  time left %d:%02d:%02d", static_cast<int>(left / 3600),
                  static_cast<int>(left / 60 % 60), static_cast<int>(left % 60));
  }
  return Format("  time left %d:%02d", static_cast<int>(left / 60), static_cast<int>(left % 60));
}

void ProgressBar::ClearBar() {
  if (drawn_.empty()) return;
  std::fprintf(out_, "\r%s\r", std::string(drawn_.size(), ' ').c_str());
  drawn_.clear();
}

void ProgressBar::Line(const std::string& text) {
  // A line goes above the bar: the bar is cleared, the line written, the bar drawn again.
  const std::string bar = drawn_;
  ClearBar();
  std::fprintf(out_, "%s\n", text.c_str());
  if (!bar.empty()) std::fprintf(out_, "%s", bar.c_str());
  drawn_ = bar;
  std::fflush(out_);
}

}  // namespace tessel::cli
