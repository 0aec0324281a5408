// Small helpers every layer shares: job results, clip and playlist file names, size and time texts.
#pragma once

#include <cstdint>
#include <string>

namespace tessel {

// Result of a long job: done, cancelled by the user, or failed (a message was already shown).
enum class JobResult : int { kDone = 0, kCancelled = 1, kFailed = 2 };

inline constexpr uint32_t kSourcePacketSize = 192;

// "%05d" followed by the extension, for example ClipFileName(7, "m2ts") is "00007.m2ts".
std::string NumberedFileName(int number, const char* extension);

// The value of a five-character clip or playlist name ("00001" -> 1); -1 unless it is five digits.
int FileNumberFromName(const std::string& name);

// Size of a count of 192-byte source packets: "%dKB", "%.2fMB" or "%.2fGB"; empty for 0.
std::string SizeText(uint64_t packet_count);

// Playlist and clip information times (45 kHz ticks) in milliseconds, in 64 bits so that no
// length of many hours wraps.
constexpr uint64_t Ticks45ToMs(uint64_t ticks) {
  return ticks * 2 / 90;
}

// A time in milliseconds as HH:MM:SS:mmm (hours are not limited to 24).
std::string TimeText(uint64_t milliseconds);

// A frame-based timecode as HH:MM:SS:ff.
std::string FrameTimeText(uint32_t hours, uint32_t minutes, uint32_t seconds, uint32_t frames);

}  // namespace tessel
