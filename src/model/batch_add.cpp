#include "model/batch_add.h"

#include "model/bd_paths.h"

namespace tessel {

const char* BatchSkipText(BatchSkip reason) {
  switch (reason) {
    case BatchSkip::kNone:
      return "";
    case BatchSkip::kNoNumber:
      return "no number in the name";
    case BatchSkip::kNoSuchClip:
      return "no such clip";
    case BatchSkip::kNotMovieClip:
      return "application type not 1";
  }
  return "";
}

std::string BatchNumberText(const std::filesystem::path& path) {
  std::string title = path.stem().string();
  // A name that starts with "_" keeps it, so that it is refused as no number.
  const size_t underscore = title.find('_', 1);
  if (underscore != std::string::npos) title.resize(underscore);
  return title;
}

std::optional<int32_t> BatchClipNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  int32_t value = 0;
  bool too_large = false;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (too_large) continue;
    value = value * 10 + (c - '0');
    too_large = value > kMaxFileNumber;
  }
  if (too_large) return -1;
  return value;
}

SBatchMatch MatchBatchFile(const CCofObject& clips, const std::filesystem::path& path) {
  const std::optional<int32_t> number = BatchClipNumber(BatchNumberText(path));
  if (!number) return {BatchSkip::kNoNumber, nullptr};
  CClpiObject* clip = *number < 0 ? nullptr : clips.FindClip(*number);
  if (!clip) return {BatchSkip::kNoSuchClip, nullptr};
  if (!clip->IsMovieClip()) return {BatchSkip::kNotMovieClip, nullptr};
  return {BatchSkip::kNone, clip};
}

}  // namespace tessel
