// The stream info file: the side file ("<source>.dsi") in which an elementary-stream analysis
// stores the stream's header, its attribute record and one entry per access unit. Little-endian,
// fields written one by one without padding.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/tables.h"
#include "platform/byte_source.h"
#include "ts/esi.h"

namespace tessel {

// Time stamp (90 kHz) given to the first access unit of a new elementary stream.
inline constexpr uint32_t kFirstAuTime = 131070;

// Little-endian serialisation of stream info records.
class LeWriter {
 public:
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U16(uint16_t v);
  void U32(uint32_t v);
  void U64(uint64_t v);
  void F64(double v);
  void Bytes(std::span<const uint8_t> data) {
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  size_t size() const { return bytes_.size(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Little-endian cursor with sticky failure: a read past the end fails and yields zeros.
class LeReader {
 public:
  explicit LeReader(std::span<const uint8_t> data) : data_(data) {}
  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  uint64_t U64();
  double F64();
  void Bytes(uint8_t* out, size_t n);
  void Skip(size_t n);
  void Fail() { ok_ = false; }

 private:
  bool Take(size_t n);
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

struct SSifHeader {
  static constexpr size_t kSize = 57;
  static constexpr char kMagic[4] = {'R', 'S', 'I', 'F'};

  // CRC-32 of the whole file with this field as zero, in the four reserved bytes after the magic;
  // 0 in files that carry none (written elsewhere), which are then not checked.
  uint32_t checksum = 0;
  uint8_t streamCodingType = 0;
  uint32_t auCount = 0;
  double auDuration = 0;  // milliseconds
  uint32_t bitRate = 0;
  uint32_t bitRate2 = 0;
  uint32_t startOffset = 0;
  uint32_t auTableOffset = 0;
  uint64_t totalSize = 0;
  int64_t sourceTime = 0;  // seconds since 1970-01-01 UTC

  void Write(LeWriter& out) const;
  // Reads the 57 bytes; false when they are short or the magic differs.
  bool Read(LeReader& in);
  // The magic matched and both the unit count and the total size are nonzero.
  bool IsValid() const { return auCount != 0 && totalSize != 0; }
};

// Entry flags.
namespace au_flag {
inline constexpr uint32_t kPictureTypeMask = 0x7;  // video: 1 I, 2 P, 3 B
inline constexpr uint32_t kSequenceHeader = 0x10000;
inline constexpr uint32_t kRandomAccess = 0x20000;
inline constexpr uint32_t kSequenceEnd = 0x40000;
inline constexpr uint32_t kExtensionPart = 0x1;  // two-part audio: the extension half of a frame
inline constexpr uint32_t kMajorSync = 0x1;      // TrueHD
inline constexpr uint32_t kEmptyComposition = 0x10000;  // graphics
}  // namespace au_flag

struct SAuEntry {
  static constexpr size_t kSize = 28;

  uint32_t size = 0;
  uint64_t offset = 0;
  uint32_t flags = 0;
  uint32_t dts = 0;
  uint32_t pts = 0;
  uint32_t extra = 0;

  void Write(LeWriter& out) const;
  void Read(LeReader& in);
};

// Playing time of a stream: its unit count times the unit duration, counting the two units of a
// core-and-extension frame (0x84, 0x85, 0x86) once.
double StreamDurationMs(const SSifHeader& header);

// Time stamp of unit n of a constant-rate stream: trunc(n x duration x 90 + 131070).
uint32_t ConstantRateTime(uint64_t n, double au_duration_ms);

// The buffer models a stream needs in the multiplexer. The models themselves belong to the
// transport-stream layer; the stream info record only says which ones, with their settings.
enum class StdKind : uint8_t {
  kAc3,
  kDdp,
  kDts,
  kDtsHd,
  kLpcm,
  kMlp,
  kPg,
  kIg,
  kAvc,
  kMpeg2,
  kVc1,
};

struct SStdSpec {
  StdKind kind = StdKind::kAc3;
  // kDdp: mode 1 beside an AC-3 core, 0 alone. kAvc: level_idc. kMpeg2: profile x 16 + level.
  // kVc1: level. kLpcm: sampling frequency code (5 selects the 192 kHz values).
  int parameter = 0;
  bool primary = true;
};

class CStreamInfo;

// The attribute record of a stream; the class is chosen by the stream coding type.
class CSifData {
 public:
  explicit CSifData(uint32_t version) : version_(version) {}
  virtual ~CSifData() = default;

  virtual void Clear() {}
  virtual std::unique_ptr<CSifData> Clone() const = 0;
  virtual bool IsEqual(const CSifData& other) const = 0;
  // 0 when the stream is acceptable for a disc, else a parse result code.
  virtual int Validate() const { return 0; }
  virtual bool IsSecondaryOnly() const { return false; }
  virtual bool IsMultiplexed() const { return false; }
  // The attributes a clip or playlist entry shows: coding type and the video or audio codes.
  virtual void FillAttributes(StreamAttributeValues& values) const = 0;
  // The stream type and the descriptors of the stream's program map entry.
  virtual void FillPmtStream(ESI& entry) const = 0;
  // The buffer models of the stream, main model first; returns how many (1 or 2).
  virtual int StdModels(SStdSpec (&models)[2]) const = 0;
  virtual bool Read(LeReader& in) = 0;
  virtual void Write(LeWriter& out) const = 0;

  // Entries that are not stored but computed from the header and this record (LPCM, AC-3).
  virtual bool ComputesEntries() const { return false; }
  virtual std::optional<SAuEntry> ComputeEntry(const SSifHeader&, uint32_t) const {
    return std::nullopt;
  }
  // Where the stored entries end: the end of the file unless a table follows (video GOPs).
  virtual uint64_t EntriesEnd(uint64_t file_length) const { return file_length; }
  // Whether what follows the entries is complete.
  virtual bool FitsFileLength(uint64_t) const { return true; }

  uint32_t version() const { return version_; }

 protected:
  uint32_t version_;
};

// Audio records answer three more questions.
class CAudioSif : public CSifData {
 public:
  using CSifData::CSifData;
  virtual uint8_t CodingType(bool primary) const = 0;
  virtual uint8_t PresentationType() const = 0;
  virtual uint8_t SamplingFrequency() const = 0;
  void FillAttributes(StreamAttributeValues& values) const override;
  // The stream type alone; records with descriptors of their own add them.
  void FillPmtStream(ESI& entry) const override { entry.StreamType = CodingType(true); }
};

// Audio presentation type from the channel counts of the core (or only) part and the extension.
uint8_t PresentationTypeFromChannels(int core, int extension);

// A new, empty record of the class for a stream coding type; none for an unknown type.
std::unique_ptr<CSifData> CreateSifRecord(uint8_t coding_type);

// An open stream info file with its header and record, kept in a file or (for tests and fuzzing)
// in memory.
class CStreamInfo {
 public:
  CStreamInfo() = default;
  ~CStreamInfo();
  CStreamInfo(const CStreamInfo&) = delete;
  CStreamInfo& operator=(const CStreamInfo&) = delete;

  SSifHeader header;
  std::unique_ptr<CSifData> record;

  // Creates an empty file for reading and writing.
  bool Create(const std::filesystem::path& path);
  // The same in memory.
  void CreateInMemory();
  // Opens an existing file, reads and checks the header and reads the record.
  bool Open(const std::filesystem::path& path);
  // The same over stored bytes (a file's image).
  bool Open(std::unique_ptr<ByteSink> bytes);
  void Close();
  // Closes the file and removes it.
  void CloseAndDelete();
  bool is_open() const { return sink_ != nullptr; }
  const std::filesystem::path& path() const { return path_; }
  // The storage of an open file; none when closed.
  const ByteSink* sink() const { return sink_.get(); }

  // Replaces the header's record with a new one of the class for the type.
  void CreateRecord(uint8_t coding_type);
  // Writes header and record at 0 and sets auTableOffset to the position after them.
  bool WriteHeaderAndRecord();
  // Appends bytes at the end of the file.
  bool Append(std::span<const uint8_t> bytes);
  // Writes bytes at an offset and ends the file after them.
  bool ReplaceFrom(uint64_t offset, std::span<const uint8_t> bytes);
  uint64_t FileLength() const;

  // Computes the checksum over the whole file and stores it; done when an analysis is complete.
  bool Seal();
  // Whether the entries fit a source of `source_size` bytes: the table is complete and every unit
  // lies inside the source, in order. What the structure cannot show is left to the checksum.
  bool FitsSource(uint64_t source_size) const;

  // Access unit `index`; none when the index is auCount or more, or the entry cannot be read.
  std::optional<SAuEntry> GetAu(uint32_t index) const;
  // Random access search on flag 0x20000.
  uint32_t FindRandomAccessAfter(uint32_t index) const;
  int64_t FindRandomAccessBefore(uint32_t index) const;
  uint32_t NearestRandomAccess(uint32_t index) const;

 private:
  // Entries are read a block at a time: scans over the table (random access searches, the
  // multiplexer's unit after unit) cost one read per block, not one per unit.
  static constexpr size_t kAuBlockSize = size_t{64} << 10;

  bool IsRandomAccess(uint32_t index) const;
  // Makes the block cover [offset, offset + SAuEntry::kSize); false when the file cannot.
  bool LoadAuBlock(uint64_t offset, uint64_t stride) const;
  void DropAuBlock() const { au_block_.clear(); }
  // Reads and checks the header and the record of the file just opened.
  bool Load();
  // The checksum of the stored bytes; none when they cannot be read.
  std::optional<uint32_t> ComputeChecksum() const;

  std::unique_ptr<ByteSink> sink_;
  std::filesystem::path path_;
  mutable std::vector<uint8_t> au_block_;
  mutable uint64_t au_block_start_ = 0;  // file offset of au_block_[0]
};

}  // namespace tessel
