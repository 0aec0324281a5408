// Many elementary-stream files added to many clips at once, each file going to the clip whose
// number starts its name ("00012_eng.ac3" and "12.ac3" go to clip 12).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "model/clip_object.h"

namespace tessel {

// Why a file is not given to a clip.
enum class BatchSkip : int {
  kNone = 0,
  kNoNumber,      // the name does not start with a digit string
  kNoSuchClip,    // no clip has that number (a number too large for one included)
  kNotMovieClip,  // the clip's application type is not 1
};

// "no number in the name", "no such clip", "application type not 1"; empty for kNone.
const char* BatchSkipText(BatchSkip reason);

// The text of a file name that must be the clip number: the name without folder and extension, up
// to its first "_" when that comes after the first character.
std::string BatchNumberText(const std::filesystem::path& path);

// The decimal value of a non-empty digit string, none for any other text. A value no clip can have
// (above 99999) gives -1 rather than wrapping onto a small clip number.
std::optional<int32_t> BatchClipNumber(std::string_view text);

struct SBatchMatch {
  BatchSkip skip = BatchSkip::kNone;
  CClpiObject* clip = nullptr;  // set when skip is kNone
};

// The clip of the list a file goes to, or why it goes nowhere.
SBatchMatch MatchBatchFile(const CCofObject& clips, const std::filesystem::path& path);

}  // namespace tessel
