// The playlist file (.mpls): header, application info, play items with their stream number
// tables, sub-paths, marks and the extension data block. Read from a whole-file buffer with every
// length, count and start address checked against it; written with all of them recomputed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/dump.h"
#include "formats/ext_data.h"
#include "formats/field_access.h"
#include "formats/stn.h"

namespace tessel {

// ConnectionCondition of a play item or sub-play item: how it joins the one before it.
namespace connection_condition {
inline constexpr uint8_t kNonSeamless = 1;
inline constexpr uint8_t kSeamlessWithCleanBreak = 5;
inline constexpr uint8_t kSeamlessWithoutBreak = 6;
}  // namespace connection_condition

struct ANGLE_CLIP_ENTRY {
  uint8_t ClipInformationFileName[5] = {'0', '0', '0', '0', '0'};
  uint8_t ClipCodecIdentifier[4] = {'M', '2', 'T', 'S'};
  uint8_t RefToSTC_ID = 0;
};

// The extra angles of a play item, or the extra clips of a sub-play item.
struct MultiClipEntries {
  bool angle_variant = true;  // fixed by the owner: play items hold angles
  bool IsDifferentAudios = false;
  bool SeamlessAngleChange = true;
  std::vector<ANGLE_CLIP_ENTRY> entries;  // one per angle or clip after the first

  bool Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

struct PLAY_ITEM {
  uint16_t Length = 0;  // as read; recomputed on writing
  uint8_t ClipInformationFileName[5] = {'0', '0', '0', '0', '0'};
  uint8_t ClipCodecIdentifier[4] = {'M', '2', 'T', 'S'};
  uint8_t ConnectionCondition = connection_condition::kNonSeamless;
  uint8_t RefToSTC_ID = 0;
  uint32_t InTime = 0;   // 45 kHz
  uint32_t OutTime = 0;  // 45 kHz
  uint8_t UoMaskTable[8] = {};
  bool PlayItemRandomAccessFlag = false;
  uint8_t StillMode = 0;
  uint16_t StillTime = 0;                       // kept only when StillMode is 1
  std::optional<MultiClipEntries> multi_angle;  // IsMultiAngle is whether this is present
  StnTable stn;

  int ClipNumber() const;
  bool Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

struct SUB_PLAY_ITEM {
  uint16_t Length = 0;  // as read; recomputed on writing
  uint8_t ClipInformationFileName[5] = {'0', '0', '0', '0', '0'};
  uint8_t ClipCodecIdentifier[4] = {'M', '2', 'T', 'S'};
  uint8_t ConnectionCondition = connection_condition::kNonSeamless;
  uint8_t RefToSTC_ID = 0;
  uint32_t InTime = 0;
  uint32_t OutTime = 0;
  uint16_t SyncPlayItemID = 0;
  uint32_t SyncStartPTS_OfPlayItem = 0;
  std::optional<MultiClipEntries> multi_clip;  // IsMultiClipEntries is whether this is present

  int ClipNumber() const;
  bool Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

struct SUB_PATH {
  uint32_t Length = 0;  // as read; recomputed on writing
  uint8_t SubPathType = 2;
  bool IsRepeatSubPath = false;
  std::vector<SUB_PLAY_ITEM> items;

  bool Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// Dumps a list of sub-paths, each as "SubPath i:" and its fields.
void DumpSubPaths(const std::vector<SUB_PATH>& sub_paths, std::string_view prefix,
                  DumpArchive& archive);

struct PLAY_MARK {
  uint8_t MarkType = 1;
  uint16_t RefToPlayItemID = 0;
  uint32_t MarkTimeStamp = 0;
  uint16_t EntryES_PID = 0xFFFF;
  uint32_t Duration = 0;
};

struct AppInfoPlaylist {
  uint32_t Length = 14;  // as read; written as 14
  uint8_t Reserved = 0;  // kept
  uint8_t PlaylistPlaybackType = 1;
  uint16_t PlaybackCount = 0;
  uint8_t UoMaskTable[8] = {};
  bool PlaylistRandomAccessFlag = false;
  bool AudioMixAppFlag = false;
  bool LosslessMayBypassMixerFlag = false;

  bool Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// Sub-path extension of a playlist (extension data 0x0002, 0x0002), read and dumped only.
class SSpMeta : public SExtDataBase {
 public:
  bool Read(std::span<const uint8_t> data) override;
  void Dump(std::string_view prefix, DumpArchive& archive) const override;

  uint32_t Length = 0;
  std::vector<SUB_PATH> sub_paths;
};

// The display texts of the coded playlist fields, shared by the dumps and the track lists;
// "Reserved" for a code without a meaning.
const char* ConnectionConditionText(unsigned code);
const char* SubPathTypeText(unsigned code);
const char* PlaybackTypeText(unsigned code);
const char* StillModeText(unsigned code);
const char* MarkTypeText(unsigned code);

// A play item or sub-play item: (-1, play item index) or (sub-path index, sub-play item index).
using ClipUse = std::pair<int, int>;

class Mpls {
 public:
  static constexpr size_t kHeaderSize = 40;

  // Parses a whole file. On failure returns false and, when `error` is given, says what failed
  // (for example "PlayItem 3: length points outside its block"); the record is then incomplete.
  bool Read(std::span<const uint8_t> file, std::string* error = nullptr);
  // Serialises the whole record with every length, count and start address recomputed.
  std::vector<uint8_t> Write() const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;

  // The distinct clip numbers the playlist uses, in order of first use.
  std::vector<int> CollectClips() const;
  std::vector<ClipUse> FindClipUses(int clip) const;
  // Removes every play item that plays the clip and fixes the marks; false (nothing changed)
  // when no play item plays it.
  bool RemoveClip(int clip);

  uint8_t TypeIndicator[4] = {'M', 'P', 'L', 'S'};
  uint8_t VersionNumber[4] = {'0', '2', '0', '0'};
  // As read; recomputed on writing.
  uint32_t PlayListStartAddress = 0;
  uint32_t PlayListMarkStartAddress = 0;
  uint32_t ExtensionDataStartAddress = 0;
  uint32_t PlayListLength = 0;
  uint32_t PlayListMarksLength = 0;

  AppInfoPlaylist app_info;
  std::vector<PLAY_ITEM> play_items;
  std::vector<SUB_PATH> sub_paths;
  std::vector<PLAY_MARK> marks;
  std::optional<ExtensionData> ext_data;

 private:
  bool ReadPlayList(ByteReader r, std::string* error);
  bool ReadMarks(ByteReader& r);
};

}  // namespace tessel
