// The clip information file (.clpi): header, ClipInfo (with the maker's block in its reserved
// bytes), SequenceInfo, ProgramInfo, the CPI block with the entry point map, the ClipMark length
// and the extension data block. Read from a whole-file buffer with every length, count and start
// address checked against it; written with all of them recomputed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/dump.h"
#include "formats/ep_map.h"
#include "formats/ext_data.h"
#include "formats/field_access.h"
#include "formats/stn.h"

namespace tessel {

// The ATC of the clip that follows this one, relative to this clip's.
struct ATC_DELTA_ENTRY {
  uint32_t AtcDelta = 0;
  uint8_t FollowingClipId[5] = {'0', '0', '0', '0', '0'};
  uint8_t ClipCodecId[4] = {'M', '2', 'T', 'S'};
};

// ApplicationType of a clip: what its transport stream serves.
namespace application_type {
inline constexpr uint8_t kMovie = 1;
inline constexpr uint8_t kTimeBasedSlideshow = 2;
inline constexpr uint8_t kBrowsableSlideshow = 3;
inline constexpr uint8_t kBrowsableSlideshowSub = 4;  // the sound of a browsable slideshow
inline constexpr uint8_t kInteractiveGraphicsMenu = 5;
inline constexpr uint8_t kTextSubtitle = 6;
inline constexpr uint8_t kElementaryStreams = 7;  // a sub-path of one or more elementary streams
}  // namespace application_type

struct ClipInfo {
  static constexpr size_t kReservedSize = 128;
  static constexpr uint8_t kMakerMagic[4] = {'K', 'A', 'V', 'O'};

  uint32_t Length = 0;  // as read; recomputed on writing
  uint8_t ClipStreamType = 1;
  uint8_t ApplicationType = application_type::kMovie;
  bool IsAtcDelta = false;  // as read; written as whether delta entries are held
  uint32_t TsRecordingRate = 6000000;
  uint32_t NumberOfSourcePackets = 0;
  uint8_t Reserved[kReservedSize] = {};  // kept; holds the maker's block after its magic
  uint16_t TsTypeInfoBlockLength = 30;   // as read; the block is written with 30 bytes
  uint8_t ValidityFlags = 0x80;
  uint8_t FormatIdentifier[4] = {'H', 'D', 'M', 'V'};
  uint8_t NetworkInformation[9] = {};
  uint8_t StreamFormatName[16] = {};
  std::vector<ATC_DELTA_ENTRY> AtcDeltaEntries;

  // Reads from the reader's position and moves past the block.
  bool Read(ByteReader& r);
  // Fails (writing nothing useful) when more delta entries are held than the count can say.
  bool Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

struct StcInfo {
  uint16_t PcrPid = 0x1001;
  uint32_t SpnStcStart = 0;
  uint32_t StartPTS = 0;  // 45 kHz
  uint32_t EndPTS = 0;    // 45 kHz
};

// The first ATC sequence of the clip with its STC sequences; further ATC sequences are not kept.
struct SequenceInfo {
  uint32_t Length = 0;               // as read; recomputed on writing
  uint8_t NumberOfAtcSequences = 1;  // as read; written as 1, the number of sequences written
  uint32_t SpnAtcStart = 0;
  uint8_t OffsetStcId = 0;
  std::vector<StcInfo> StcInfos;

  bool Read(ByteReader& r);
  bool Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// One program sequence: the streams of the transport stream with their attributes.
struct ProgramSequence {
  uint32_t SpnProgramSequenceStart = 0;
  uint16_t ProgramMapPid = 0x0100;
  std::vector<StreamInfo> Streams;

  // The first stream with the PID; null when none.
  StreamInfo* FindStream(uint16_t pid);
  const StreamInfo* FindStream(uint16_t pid) const;

  bool Read(ByteReader& r);
  bool Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// ProgramInfo keeps only the first program sequence.
struct ProgramInfo {
  uint32_t Length = 0;                  // as read; recomputed on writing
  uint8_t NumberOfProgramSequence = 1;  // as read; written as 1
  ProgramSequence Sequence;

  bool Read(ByteReader& r);
  bool Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

struct Cpi {
  uint32_t Length = 0;  // as read; recomputed on writing
  uint8_t CpiType = 1;
  EpMap ep_map;

  bool Read(ByteReader& r);
  // A map without streams is written as a length of 0 and nothing else. Returns what writing the
  // map worked out (see EpMap::Write), leaving the record as it is.
  std::optional<std::vector<EpStreamLayout>> Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

class Clpi {
 public:
  static constexpr size_t kHeaderSize = 40;

  // Parses a whole file. On failure returns false and, when `error` is given, says what failed;
  // the record is then incomplete.
  bool Read(std::span<const uint8_t> file, std::string* error = nullptr);
  // Serialises the whole record with every length, count and start address recomputed (and
  // stored back into the record); nothing when a count does not fit its field or the maker's
  // block does not fit the reserved bytes of ClipInfo.
  std::optional<std::vector<uint8_t>> Write(std::string* error = nullptr);
  void Dump(std::string_view prefix, DumpArchive& archive) const;

  uint8_t TypeIndicator[4] = {'H', 'D', 'M', 'V'};
  uint8_t VersionNumber[4] = {'0', '2', '0', '0'};
  // As read; recomputed on writing.
  uint32_t SequenceInfoStartAddress = 0;
  uint32_t ProgramInfoStartAddress = 0;
  uint32_t CpiStartAddress = 0;
  uint32_t ClipMarkStartAddress = 0;
  uint32_t ExtensionDataStartAddress = 0;

  ClipInfo clip_info;
  SequenceInfo sequence_info;
  ProgramInfo program_info;
  Cpi cpi;
  uint32_t ClipMarkLength = 0;  // as read; ClipMark is written empty
  std::optional<ExtensionData> ext_data;
  // The maker's block found in (and written back into) the reserved bytes of ClipInfo.
  std::optional<ExtensionData> KavoData;
  // Offset just after the last block read: the extension data, else ClipMark.
  size_t read_end = 0;

 private:
  bool ReadBlocks(std::span<const uint8_t> file, std::string* error);
  void ReadMakerBlock();
  bool PlaceMakerBlock(std::string* error);
};

// The file bytes with the ATC delta entries of ClipInfo replaced and every later start address
// moved by the change in size; everything after ClipInfo is kept byte for byte. Nothing when
// the header or ClipInfo does not parse or the addresses contradict the layout.
std::optional<std::vector<uint8_t>> WithFollowingClips(std::span<const uint8_t> file,
                                                       const std::vector<ATC_DELTA_ENTRY>& entries,
                                                       std::string* error = nullptr);
// Rewrites a clip information file with the given ATC delta entries (see WithFollowingClips).
bool SetFollowingClips(const std::filesystem::path& path,
                       const std::vector<ATC_DELTA_ENTRY>& entries, std::string* error = nullptr);

// --- Clip-side extension data records (read and dumped only) ---

// Stereoscopic program info (0x0002, 0x0005).
class SPiMeta : public SExtDataBase {
 public:
  bool Read(std::span<const uint8_t> data) override;
  void Dump(std::string_view prefix, DumpArchive& archive) const override;

  ProgramInfo info;
};

// Stereoscopic entry point map (0x0002, 0x0006).
class SCpiMeta : public SExtDataBase {
 public:
  bool Read(std::span<const uint8_t> data) override;
  void Dump(std::string_view prefix, DumpArchive& archive) const override;

  Cpi cpi;
};

// The EpStreamType each track of a newly multiplexed clip gets (0 for no entry point map), from
// the tracks' PIDs in track order and the clip's ApplicationType.
std::vector<uint8_t> ChooseEpStreamTypes(std::span<const uint16_t> pids, uint8_t application_type);

// The display text of an ApplicationType value.
std::string_view ApplicationTypeText(uint8_t type);

}  // namespace tessel
