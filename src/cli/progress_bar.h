// The command line's side of the progress contract: a bar with percentage and time left on a
// terminal, plain percentage lines elsewhere, nothing when quiet.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/progress.h"

namespace tessel::cli {

class ProgressBar {
 public:
  enum class Mode {
    kTerminal,  // "[#####     ]  42%  time left 0:12", redrawn in place
    kLines,     // "42%" on a line of its own, once per percent
    kQuiet,     // nothing
  };
  using Clock = std::function<int64_t()>;  // milliseconds

  // Draws on stderr: a bar when it is a terminal, lines otherwise, nothing when quiet.
  explicit ProgressBar(bool quiet);
  ProgressBar(Mode mode, std::FILE* out, Clock clock);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // A callback bound to this bar; it never asks to cancel. Valid while the bar lives.
  ProgressCallback Callback();
  // Ends a drawn bar with a line break.
  void Finish();

 private:
  bool Handle(const ProgressRecord& record);
  void Position(int32_t position);
  void Line(const std::string& text);
  void ClearBar();
  std::string TimeLeft(int percent) const;

  Mode mode_;
  std::FILE* out_;
  Clock clock_;
  int64_t start_ms_;
  int last_percent_ = -1;
  std::string drawn_;  // the bar as last drawn; empty when none is on screen
  bool hidden_ = false;
};

}  // namespace tessel::cli
