// The progress contract of long jobs: a job hands a small record to a callback and stops, cleans
// up and returns its cancelled result as soon as the callback answers false.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tessel {

enum class ProgressKind : int32_t {
  kPosition = 0,  // `position` holds the new position (default range 0..100)
  kMessage = 1,   // `message` holds a line of text
  kTitle = 2,     // `title` holds a new caption
  kHideBar = 3,
};

struct ProgressRecord {
  ProgressKind kind = ProgressKind::kPosition;
  int32_t position = 0;
  std::string message;
  std::string title;
};

// Returns true to continue, false when the user has cancelled.
using ProgressCallback = std::function<bool(const ProgressRecord&)>;

// Helpers for jobs: each sends one record; a null callback always continues.
bool ReportPosition(const ProgressCallback& callback, int32_t position);
bool ReportMessage(const ProgressCallback& callback, std::string message);
bool ReportTitle(const ProgressCallback& callback, std::string title);

// Position 0..100 of `done` out of `total` (0 when total is 0).
int32_t PercentOf(uint64_t done, uint64_t total);

}  // namespace tessel
