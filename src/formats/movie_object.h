// MovieObject.bdmv: the movie objects of a disc, small programs of HDMV navigation commands that
// the index table starts. Commands are kept as their raw 12 bytes, not interpreted. Read and dumped
// only; a build copies the file.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/dump.h"

namespace tessel {

// One navigation command in file byte order: the operation word and its two operands.
using CNavCmd = std::array<uint8_t, 12>;

struct MOVIE_OBJECT {
  uint8_t ResumeIntentionFlag = 0;
  uint8_t MenuCallMask = 0;
  uint8_t TitleSearchMask = 0;
  std::vector<CNavCmd> NavCmds;

  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

struct MovieObjectFile {
  uint8_t TypeIndicator[4] = {'M', 'O', 'B', 'J'};
  uint8_t VersionNumber[4] = {'0', '2', '0', '0'};
  uint32_t ExtensionDataStartAddress = 0;  // 0: none
  uint8_t Reserved[28] = {};
  uint32_t MovieObjectsLength = 0;
  std::vector<MOVIE_OBJECT> MovieObjects;
  // The extension data container as raw bytes from its length field on; empty when there is none.
  std::vector<uint8_t> ExtensionData;

  // Replaces the content with the file's. Fails, saying why, when a length, count or start address
  // points outside the file; the record is then left as a new one.
  bool Read(std::span<const uint8_t> file, std::string* error);
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

}  // namespace tessel
