// The extension data container at the end of a database file, and the records of the entries the
// system understands. Every entry is kept as raw bytes so that a rewritten file carries it
// unchanged; a record object is made from an entry's bytes only when it is needed.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/dump.h"
#include "formats/field_access.h"
#include "formats/stn.h"

namespace tessel {

// Base of the records made from extension data entries.
class SExtDataBase {
 public:
  virtual ~SExtDataBase() = default;
  // Parses the entry's data bytes; false when they are inconsistent.
  virtual bool Read(std::span<const uint8_t> data) = 0;
  // Serialises the record and returns its size; with no writer, returns the size only. Records
  // the system only reads and dumps write nothing and return 0.
  virtual size_t Write(ByteWriter* w) const;
  virtual void Dump(std::string_view prefix, DumpArchive& archive) const = 0;
};

struct SExtDataEntry {
  uint16_t ExtDataEntry_ID1 = 0;
  uint16_t ExtDataEntry_ID2 = 0;
  // ExtDataStartAddress and ExtDataLength follow from where and how the data are written.
  std::vector<uint8_t> data;

  // Dumps the entry as written at `start_address` of its container.
  void Dump(std::string_view prefix, uint32_t start_address, DumpArchive& archive) const;
};

class SPipMetaData;

// The container (the entries in file order).
struct ExtensionData {
  std::vector<SExtDataEntry> entries;  // Length follows from the entries

  // Reads a container from the reader's position; entry addresses are relative to it.
  bool Read(ByteReader& r);
  // Writes the container at the writer's position and returns its size; with no writer, returns
  // the size only.
  size_t Write(ByteWriter* w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;

  SExtDataEntry* FindEntry(uint16_t id1, uint16_t id2);
  const SExtDataEntry* FindEntry(uint16_t id1, uint16_t id2) const;
  // Deletes the picture-in-picture metadata entry; false when there is none.
  bool RemovePipMetadata();
  // Replaces the data of the picture-in-picture metadata entry (appended when missing).
  void StorePipMetadata(const SPipMetaData& metadata);
};

// The record factory, keyed by the two identifiers. Records of other formats register themselves
// with RegisterExtDataRecord; the playlist records are built in.
using ExtDataCreator = std::unique_ptr<SExtDataBase> (*)();
void RegisterExtDataRecord(uint16_t id1, uint16_t id2, ExtDataCreator create);
// A record for the entry that has read the entry's data; null for an unknown pair or bad data.
std::unique_ptr<SExtDataBase> CreateRecord(const SExtDataEntry& entry);

// --- Picture-in-picture metadata of a playlist (0x0001, 0x0001) ---

struct PipMetadataEntry {
  uint32_t PipTimeStamp = 0;
  uint16_t PipHorPos = 0;  // 12 bits
  uint16_t PipVerPos = 0;  // 12 bits
  uint8_t PipScale = 0;    // 4 bits
};

struct MetadataBlockHeader {
  uint16_t RefPlayItemId = 0;
  uint8_t RefSvStreamId = 0;
  uint8_t TimelineType = 0;  // 4 bits
  bool IsLumaKey = false;
  bool TrickPlayingFlag = false;
  uint8_t UpperLimitLumaKey = 0;           // stored only when IsLumaKey
  uint32_t MetadataBlockStartAddress = 0;  // as read; recomputed on writing
};

// A header and its metadata block.
struct PipMetadataBlock {
  MetadataBlockHeader header;
  std::vector<PipMetadataEntry> entries;
};

class SPipMetaData : public SExtDataBase {
 public:
  bool Read(std::span<const uint8_t> data) override;
  size_t Write(ByteWriter* w) const override;
  void Dump(std::string_view prefix, DumpArchive& archive) const override;

  uint32_t Length = 0;  // as read; recomputed on writing
  std::vector<PipMetadataBlock> blocks;
};

// --- The maker's tool data (0x1000, 0x0001) ---

class SKavoToolData : public SExtDataBase {
 public:
  // The strings are stored XOR-ed with this repeating key; the routine is its own inverse.
  static void Scramble(std::span<uint8_t> text);

  bool Read(std::span<const uint8_t> data) override;
  size_t Write(ByteWriter* w) const override;
  void Dump(std::string_view prefix, DumpArchive& archive) const override;

  std::string Company = "Corvane";
  std::string Descriptor;
};

// --- Stereoscopic stream table of a playlist (0x0002, 0x0001), read and dumped only ---

struct StnMetaEntry {
  uint16_t Length = 0;
  uint16_t Reserved = 0;
  StreamEntry Entry;
  StreamAttributes Attributes;
  uint8_t Reserved8[8] = {};
  uint32_t Reserved32 = 0;
};

class SStnMeta : public SExtDataBase {
 public:
  bool Read(std::span<const uint8_t> data) override;
  void Dump(std::string_view prefix, DumpArchive& archive) const override;

  std::vector<StnMetaEntry> entries;
};

// --- Extent start points of a clip (0x0002, 0x0004) ---

class SPartMeta : public SExtDataBase {
 public:
  bool Read(std::span<const uint8_t> data) override;
  size_t Write(ByteWriter* w) const override;
  void Dump(std::string_view prefix, DumpArchive& archive) const override;

  uint32_t Length = 0;  // as read; recomputed on writing
  std::vector<uint32_t> values;
};

}  // namespace tessel
