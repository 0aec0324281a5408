#include "platform/progress.h"

namespace tessel {

bool ReportPosition(const ProgressCallback& callback, int32_t position) {
  if (!callback) return true;
  ProgressRecord record;
  record.kind = ProgressKind::kPosition;
  record.position = position;
  return callback(record);
}

bool ReportMessage(const ProgressCallback& callback, std::string message) {
  if (!callback) return true;
  ProgressRecord record;
  record.kind = ProgressKind::kMessage;
  record.message = std::move(message);
  return callback(record);
}

bool ReportTitle(const ProgressCallback& callback, std::string title) {
  if (!callback) return true;
  ProgressRecord record;
  record.kind = ProgressKind::kTitle;
  record.title = std::move(title);
  return callback(record);
}

int32_t PercentOf(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  if (done >= total) return 100;
  return static_cast<int32_t>(done * 100 / total);
}

}  // namespace tessel
