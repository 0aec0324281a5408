#include "platform/common.h"

#include "platform/format.h"

namespace tessel {

std::string NumberedFileName(int number, const char* extension) {
  return Format("%05d.%s", number, extension);
}

int FileNumberFromName(const std::string& name) {
  if (name.size() != 5) return -1;
  int value = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string SizeText(uint64_t packet_count) {
  if (packet_count == 0) return {};
  // 192 / 1024 kilobytes per packet, truncated; the megabyte value is single precision.
  const uint64_t kilobytes = static_cast<uint64_t>(static_cast<double>(packet_count) * 0.1875);
  const float megabytes = static_cast<float>(kilobytes) / 1024.0f;
  if (megabytes > 1024.0f) return Format("%.2fGB", static_cast<double>(megabytes / 1024.0f));
  if (megabytes < 1.0f) return Format("%dKB", static_cast<int>(kilobytes));
  return Format("%.2fMB", static_cast<double>(megabytes));
}

std::string TimeText(uint64_t milliseconds) {
  const uint64_t total_seconds = milliseconds / 1000;
  return Format("%02llu:%02llu:%02llu:%03llu",
                static_cast<unsigned long long>(total_seconds / 3600),
                static_cast<unsigned long long>(total_seconds / 60 % 60),
                static_cast<unsigned long long>(total_seconds % 60),
                static_cast<unsigned long long>(milliseconds % 1000));
}

std::string FrameTimeText(uint32_t hours, uint32_t minutes, uint32_t seconds, uint32_t frames) {
  return Format("%02u:%02u:%02u:%02u", hours, minutes, seconds, frames);
}

}  // namespace tessel
