// The stream number table of a play item and the stream attribute records of both layouts: the
// playlist form (StreamAttributes, 6 bytes) and the clip information form (StreamCodingInfo,
// 22 bytes), plus the stream classes by PID and the table operations the disc model uses.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/dump.h"
#include "formats/field_access.h"
#include "formats/tables.h"

namespace tessel {

// Stream classes by PID; -1 for a PID outside every class.
enum StreamClass : int {
  kClassPrimaryVideo = 0,
  kClassPrimaryAudio = 1,
  kClassPresentationGraphics = 2,
  kClassInteractiveGraphics = 3,
  kClassTextSubtitle = 4,
  kClassSecondaryAudio = 5,
  kClassSecondaryVideo = 6,
  kClassSecondViewVideo = 7,
};
int StreamClassOfPid(uint16_t pid);

// Attribute values both attribute layouts hold in memory; the language helpers work on either.
struct AttributeValues {
  uint8_t Length = 0;  // as read; recomputed on writing
  uint8_t StreamCodingType = 0;
  uint8_t VideoFormat = 0;  // video
  uint8_t FrameRate = 0;
  uint8_t AspectRatio = 0;            // clips only
  bool CcFlag = false;                // clips only, never stored in the file
  uint8_t AudioPresentationType = 0;  // audio
  uint8_t SamplingFrequency = 0;
  uint8_t CharacterCode = 0;  // text subtitle
  uint8_t Language[3] = {};   // audio, graphics, text subtitle
  // The bytes after StreamCodingType of a coding type without a known layout (HEVC on newer
  // discs, for one), kept so that a rewrite does not lose the stream's attributes.
  std::vector<uint8_t> OtherBytes;

  StreamAttributeValues Values() const;
};

// The language of an audio, graphics or text subtitle stream; nothing for other coding types.
std::optional<std::string> GetLanguage(const AttributeValues& attributes);
// Stores a three-letter code into an audio, graphics or text subtitle stream; others unchanged.
void SetLanguage(AttributeValues& attributes, std::string_view code);

// Where a stream of a stream number table comes from (10 bytes in the file).
struct StreamEntry {
  uint8_t Length = 0;  // as read; written as 9 for the known types
  uint8_t Type = 1;
  uint8_t RefToSubPathID = 0;              // types 2 and 3
  uint8_t RefToSubClipEntryID = 0;         // type 2
  uint16_t RefToStreamPID_OfMainClip = 0;  // types 1 and 3
  uint16_t RefToStreamPID_OfSubClip = 0;   // type 2
  uint8_t Reserved[6] = {};                // kept: 6, 4 or 5 bytes by type
  // The bytes after Type of an entry of another type, kept so that a rewrite does not lose them.
  std::vector<uint8_t> OtherBytes;

  uint16_t Pid() const { return Type == 2 ? RefToStreamPID_OfSubClip : RefToStreamPID_OfMainClip; }
  bool SameStream(const StreamEntry& other) const;

  bool Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// Stream attributes as a stream number table holds them (6 bytes in the file).
struct StreamAttributes : AttributeValues {
  uint8_t Reserved[3] = {};  // kept: video bytes 3..5, graphics byte 5

  bool Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// The streams of another list a secondary stream may be combined with.
struct StreamCombInfo {
  uint8_t Reserved = 0;  // kept
  std::vector<uint8_t> RefIDs;

  // Adds a reference unless it is already held.
  void AddRef(uint8_t id);

  bool Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// One stream of a stream number table. The secondary entries derive from it.
class PRIMARY_STREAM_ENTRY {
 public:
  virtual ~PRIMARY_STREAM_ENTRY() = default;
  virtual std::unique_ptr<PRIMARY_STREAM_ENTRY> Clone() const;
  virtual bool Read(ByteReader& r);
  virtual void Write(ByteWriter& w) const;
  virtual void Dump(std::string_view prefix, DumpArchive& archive) const;

  int32_t OrderKey = 0;  // sort key of the editing layer; not stored in the file
  StreamEntry Entry;
  StreamAttributes Attributes;
};

class SECONDARD_AUDIO_STREAM_ENTRY : public PRIMARY_STREAM_ENTRY {
 public:
  std::unique_ptr<PRIMARY_STREAM_ENTRY> Clone() const override;
  bool Read(ByteReader& r) override;
  void Write(ByteWriter& w) const override;
  void Dump(std::string_view prefix, DumpArchive& archive) const override;

  StreamCombInfo SecondardAudioStreamCombInfo;  // primary audio streams
};

class SECONDARD_VIDEO_STREAM_ENTRY : public PRIMARY_STREAM_ENTRY {
 public:
  std::unique_ptr<PRIMARY_STREAM_ENTRY> Clone() const override;
  bool Read(ByteReader& r) override;
  void Write(ByteWriter& w) const override;
  void Dump(std::string_view prefix, DumpArchive& archive) const override;

  StreamCombInfo SecondardVideoSecondardAudioStreamCombInfo;
  StreamCombInfo SecondardVideoPiP_PG_TextST_StreamCombInfo;
};

using StreamEntryList = std::vector<std::unique_ptr<PRIMARY_STREAM_ENTRY>>;

// The seven lists, in the order they are stored in the file.
enum class StnList : int {
  kPrimaryVideo,
  kPrimaryAudio,
  kPgTextSt,
  kPipPgTextSt,
  kIg,
  kSecondaryAudio,
  kSecondaryVideo,
};
inline constexpr int kStnListCount = 7;

struct StnTable {
  StnTable() = default;
  StnTable(const StnTable& other);
  StnTable& operator=(const StnTable& other);
  StnTable(StnTable&&) = default;
  StnTable& operator=(StnTable&&) = default;

  uint16_t Length = 0;        // as read; recomputed on writing
  uint8_t Reserved1[2] = {};  // kept
  uint8_t Reserved2[5] = {};  // kept
  std::array<StreamEntryList, kStnListCount> lists;

  StreamEntryList& list(StnList which) { return lists[static_cast<int>(which)]; }
  const StreamEntryList& list(StnList which) const { return lists[static_cast<int>(which)]; }
  // A new entry of the class a list holds.
  static std::unique_ptr<PRIMARY_STREAM_ENTRY> NewEntry(StnList which);

  // The first entry of any list (searched in file order) that is the same stream; null if none.
  PRIMARY_STREAM_ENTRY* FindStream(const PRIMARY_STREAM_ENTRY& entry) const;
  // The index of the first entry of the list with the PID; -1 if none.
  int IndexOfPid(StnList which, uint16_t pid) const;
  // Deletes the matching entry from the list its PID class selects; false when none was removed.
  bool RemoveStream(const PRIMARY_STREAM_ENTRY& entry);
  // Orders every list by ascending order key.
  void SortStreams();

  bool Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// Stream attributes as a clip information file holds them (22 bytes in the file).
struct StreamCodingInfo : AttributeValues {
  uint8_t CountryCode[2] = {};  // ISRC, kept as raw bytes
  uint8_t CopyrightHolder[3] = {};
  uint8_t RecordingYear[2] = {};
  uint8_t RecordingNumber[5] = {};

  bool Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// One stream of a clip's program: its PID and its coding information.
struct StreamInfo {
  uint16_t StreamPID = 0;
  StreamCodingInfo CodingInfo;

  bool Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// The clip stream records of every entry of the table except those of sub-path clips (type 2).
std::vector<StreamInfo> ToStreamInfoList(const StnTable& table);

}  // namespace tessel
