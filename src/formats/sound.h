// Sound.bdmv (in AUXDATA): the button sounds of interactive menus, a table of sound entries with
// their audio attributes followed by the entries' LPCM data. Unlike the other database files it is
// read and written through seek, read and write operations on the open file, so that the sound
// data itself never has to be held whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/dump.h"

namespace tessel {

struct SSoundEntry {
  uint8_t ChannelConfiguration = 0;    // 1 mono, 3 stereo
  uint8_t SamplingFrequency = 1;       // 1 48 kHz
  uint8_t BitsPerSample = 1;           // 1 16 bits
  uint32_t SoundDataStartAddress = 0;  // from the start of the sound data
  uint32_t SoundDataStartLength = 0;   // bytes

  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// Supplies the LPCM bytes of sound entry `index` (from 0) while a sound file is written. Returning
// false (with a reason in `error`) or no bytes fails the write.
using SoundDataProvider =
    std::function<bool(size_t index, std::vector<uint8_t>& data, std::string* error)>;

struct SoundFile {
  static constexpr size_t kMaxEntries = 128;

  uint8_t TypeIndicator[4] = {'B', 'C', 'L', 'K'};
  uint8_t VersionNumber[4] = {'0', '2', '0', '0'};
  uint32_t SoundDataStartAddress = 0;      // recomputed on writing
  uint32_t ExtensionDataStartAddress = 0;  // recomputed on writing; 0: none
  uint32_t SoundIndexLength = 0;           // recomputed on writing
  std::vector<SSoundEntry> SoundIndex;
  // The extension data container as raw bytes from its length field on; empty when there is none.
  std::vector<uint8_t> ExtensionData;

  // Replace the content with the file's. They fail, saying why, when the file is no sound file or
  // when a length, count or start address (of an entry's data too) points outside it; the record is
  // then left as a new one.
  bool Read(std::span<const uint8_t> file, std::string* error);
  bool ReadFile(const std::filesystem::path& path, std::string* error);

  // Writes the record with the sound data from `provider`, recomputing every address and length.
  // The file is assembled beside `path` and replaces it only when complete, so a failed write
  // leaves both the file and the record as they were, and `provider` may read from `path` itself.
  bool WriteFile(const std::filesystem::path& path, const SoundDataProvider& provider,
                 std::string* error);

  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// A provider that copies each entry's data from `source`, the file `record` was read from, at the
// places `record` gives now (later changes to `record` do not move them). An entry whose data does
// not lie inside `source` fails the write.
SoundDataProvider SoundDataFromFile(const std::filesystem::path& source, const SoundFile& record);

}  // namespace tessel
