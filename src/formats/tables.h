// The display vocabulary of streams: coding-type names, attribute texts, frame timing, known
// PIDs, the language table and the one-line stream description. Constant data and pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessel {

// Blu-ray stream coding types.
namespace coding {
inline constexpr uint8_t kMpeg2Video = 0x02;
inline constexpr uint8_t kH264 = 0x1B;
inline constexpr uint8_t kMvc = 0x20;
inline constexpr uint8_t kVc1 = 0xEA;
inline constexpr uint8_t kLpcm = 0x80;
inline constexpr uint8_t kAc3 = 0x81;
inline constexpr uint8_t kDts = 0x82;
inline constexpr uint8_t kTrueHd = 0x83;
inline constexpr uint8_t kEac3 = 0x84;
inline constexpr uint8_t kDtsHd = 0x85;
inline constexpr uint8_t kDtsHdXll = 0x86;
inline constexpr uint8_t kEac3Secondary = 0xA1;
inline constexpr uint8_t kDtsHdSecondary = 0xA2;
inline constexpr uint8_t kPg = 0x90;
inline constexpr uint8_t kIg = 0x91;
inline constexpr uint8_t kTextSubtitle = 0x92;
}  // namespace coding

// Long name (dumps) and short name (track lists); nullptr for an unknown code.
const char* CodingTypeName(uint8_t code);
const char* CodingTypeShortName(uint8_t code);
// Extension of a demultiplexed stream (".m2v", ...); "unknown" for other codes.
const char* DemuxExtension(uint8_t code);

bool IsVideoCodingType(uint8_t code);         // 0x02, 0x1B, 0x20, 0xEA
bool IsAudioCodingType(uint8_t code);         // 0x80..0x86, 0xA1, 0xA2
bool IsGraphicsCodingType(uint8_t code);      // 0x90, 0x91
bool IsTextSubtitleCodingType(uint8_t code);  // 0x92

// Texts of the 4-bit attribute codes.
const char* VideoFormatText(uint8_t code);
const char* FrameRateText(uint8_t code);
const char* AspectRatioText(uint8_t code);
const char* AudioPresentationTypeText(uint8_t code);
const char* SamplingFrequencyText(uint8_t code);

// Frame timing by frame-rate code (0 for codes without a rate).
double FrameDurationMs(uint8_t frame_rate_code);
double ExactFrameRate(uint8_t frame_rate_code);
double NominalFrameRate(uint8_t frame_rate_code);

// Whether a PID belongs to one of the stream classes of a Blu-ray transport stream.
bool IsKnownPid(uint16_t pid);

// Language table: 475 ISO 639-2 rows ordered by code, row 125 ("eng") the default.
inline constexpr int kLanguageCount = 475;
inline constexpr int kDefaultLanguageRow = 125;

struct LanguageEntry {
  const char* code;  // three letters
  const char* name;  // English name
};

const LanguageEntry& LanguageAt(int row);  // row clamped to the table
// The row whose code equals the first three bytes of `code`; 125 when none does.
int LanguageRow(std::string_view code);
// As LanguageRow, but also accepting the bibliographic codes (fre, ger, dut, ...) of the languages
// whose row holds the terminology code; -1 when nothing matches.
int LanguageRowAnyCode(std::string_view code);
// Position in the display order of a code (the position of "eng", 3, when none matches).
int LanguageDisplayPosition(std::string_view code);
// The row shown at a display position.
int LanguageRowAtDisplayPosition(int position);
// "%s (%s)" with the code and the name of the row at that display position.
std::string LanguageDisplayText(int position);

// The attribute values a stream description needs, as both attribute records hold them.
struct StreamAttributeValues {
  uint8_t coding_type = 0;
  uint8_t video_format = 0;
  uint8_t frame_rate = 0;
  uint8_t aspect_ratio = 0;
  bool cc_flag = false;
  uint8_t presentation_type = 0;
  uint8_t sampling_frequency = 0;
  uint8_t character_code = 0;
  char language[4] = {};  // three letters and a terminator
};

// The one-line description of a stream shown in the track lists.
std::string StreamDescription(const StreamAttributeValues& attributes, bool with_language);

}  // namespace tessel
