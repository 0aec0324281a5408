// index.bdmv: the title table of a disc (first playback, top menu, titles) and what starts each
// entry, a movie object or a BD-J object file. Read and dumped only; a build copies the file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/dump.h"

namespace tessel {

// One 12-byte entry of the index table: a title, or FirstPlayback or TopMenu in the same layout.
struct TI {
  static constexpr uint8_t kHdmv = 1;  // any other object type is BD-J

  uint8_t ObjectType = kHdmv;
  uint8_t TitleAccessType = 0;
  // HDMV_TitlePlaybackType or BDJ_TitlePlaybackType, after ObjectType.
  uint8_t TitlePlaybackType = 0;
  uint16_t MovieObject = 0xFFFF;                         // HDMV only
  uint8_t BDJO_FileName[5] = {'0', '0', '0', '0', '0'};  // BD-J only

  bool IsHdmv() const { return ObjectType == kHdmv; }
  void Read(std::span<const uint8_t, 12> entry);
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// AppInfoBDMV, kept as read.
struct IndexAppInfo {
  uint32_t Length = 0;
  uint8_t Flags[2] = {};  // output mode, stereoscopic content, video format and frame rate
  uint8_t ContentProviderUserData[32] = {};
};

struct IndexFile {
  uint8_t TypeIndicator[4] = {'I', 'N', 'D', 'X'};
  uint8_t VersionNumber[4] = {'0', '2', '0', '0'};
  uint32_t IndexsStartAddress = 0;
  uint32_t ExtensionDataStartAddress = 0;  // 0: none
  uint8_t Reserved[24] = {};
  IndexAppInfo AppInfoBDMV;
  uint32_t IndexesLength = 0;
  TI FirstPlayback;
  TI TopMenu;
  std::vector<TI> Titles;
  // The extension data container as raw bytes from its length field on; empty when there is none.
  std::vector<uint8_t> ExtensionData;

  // Replaces the content with the file's. Fails, saying why, when a length, count or start address
  // points outside the file; the record is then left as a new one.
  bool Read(std::span<const uint8_t> file, std::string* error);
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// The extension data container at `address` of a database file held in memory, kept as raw bytes
// from its length field on. Fails, saying why, when the container reaches outside the file.
bool ReadRawExtensionData(std::span<const uint8_t> file, uint32_t address,
                          std::vector<uint8_t>& raw, std::string* error);
// The dump of a raw container: its heading and length.
void DumpRawExtensionData(std::span<const uint8_t> raw, std::string_view prefix,
                          DumpArchive& archive);

}  // namespace tessel
