// Pipes: one added elementary-stream source turned into access units and packed, one 188-byte
// transport packet at a time, into PES packets on one PID.
//
// A pipe never parses the stream itself: every unit's size, file offset, flags and time stamps
// come from the stream info file beside the source (analysed first when it is missing or stale),
// and the unit's bytes are read from the source at that offset into one reused buffer.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "es/stream_info.h"
#include "formats/ep_map.h"
#include "formats/field_access.h"
#include "formats/stn.h"
#include "platform/progress.h"
#include "ts/esi.h"
#include "ts/ts_packet.h"

namespace tessel {

// Range units of a source.
namespace range_unit {
inline constexpr uint8_t kUnits = 0;         // access-unit (frame) indices
inline constexpr uint8_t kMilliseconds = 1;  // times in ms
}  // namespace range_unit

// The part of one file a pipe reads.
struct SSourceRange {
  std::filesystem::path path;
  uint8_t unit = range_unit::kUnits;
  int32_t start = 0;  // -1 (a propagated copy) reads from the first unit
  int32_t end = 0;    // 0 reads to the last unit; -1 with a start of -1 selects nothing
  int32_t graphics_time_base = 0;  // 90 kHz, the time stamp offset of a PG stream
  // 90 kHz ticks cut from the start of the selected range (a negative track delay), in the same
  // step as the range: the first unit read is the first one this much later than the range start.
  int64_t start_cut = 0;
};

// What a pipe needs of a new track's source: the model's source record reduced to files, range,
// language and ISRC.
struct SPipeSource {
  std::filesystem::path path;
  std::filesystem::path second_path;  // a companion interleaved on the same PID (TrueHD)
  // Several files of one kind played one after another; replaces both paths when not empty.
  std::vector<std::filesystem::path> file_list;
  uint8_t range_unit = range_unit::kUnits;
  int32_t range_start = 0;
  int32_t range_end = 0;
  int32_t graphics_time_base = 0;
  int64_t start_cut = 0;  // see SSourceRange
  std::array<char, 3> language = {'e', 'n', 'g'};
  std::array<uint8_t, 12> isrc{};

  // The range of the source applied to one of its files.
  SSourceRange RangeOf(const std::filesystem::path& file) const;
};

// The first unit of a stream as the multiplexer plans its start.
struct SFirstAuInfo {
  uint32_t pts = 0;      // 90 kHz
  uint32_t dts = 0;      // its PTS when the unit has no DTS
  uint32_t packets = 0;  // transport packets the unit (PG/IG: its whole display set) needs
};

// Argument of CPipe::WritePacket.
struct SPacketRequest {
  uint8_t* output = nullptr;  // 188 bytes: the transport packet after the 4-byte extra header
  uint32_t pid = 0;
  int64_t time_offset = 0;  // 90 kHz, added to every PTS and DTS written
  bool key_point_wanted = false;
  // Out, on the first packet of a key unit: the key point in the pipe's list, which the
  // multiplexer completes with its packet numbers (valid until the next packet is written).
  KEY_POINT_INFO* key_point = nullptr;
  uint32_t payload = 0;  // out: payload bytes of this packet, the PES header included
};

// One open file of a pipe: its stream info, the source bytes of the current unit and the packet
// templates of its stream.
struct SEsReader {
  SEsReader() = default;
  ~SEsReader();
  SEsReader(const SEsReader&) = delete;
  SEsReader& operator=(const SEsReader&) = delete;

  CStreamInfo info;  // header, record and the open stream info file
  std::filesystem::path source_path;
  int source_fd = -1;
  uint64_t source_size = 0;

  // The current unit's bytes; the buffer only grows, bounded by the largest unit read.
  std::vector<uint8_t> buffer;
  uint32_t read_pos = 0;
  // Source bytes read ahead, so that small units (audio) cost no system call each.
  std::vector<uint8_t> block;
  uint64_t block_offset = 0;

  TransportPacket ts;  // its PES header is the stream's template, set on the first packet
  bool pes_ready = false;
  std::array<uint8_t, 4> lpcm_header{};
  ByteWriter header_writer;  // reused for every packet header

  uint32_t first = 0;  // the selected range, entry indices; first > last selects nothing
  uint32_t last = 0;
  uint32_t next = 0;
  SAuEntry current;
  bool has_current = false;
  uint32_t left = 0;        // bytes of the current unit not yet packed
  int64_t time_offset = 0;  // 90 kHz, added to every DTS and PTS read
  std::optional<uint64_t> last_audio_key_pts;
  uint16_t composition_number = 0;
  bool renumber_compositions = false;  // PG cut after its first unit
  bool pair_core = false;              // the AC-3 file of a TrueHD pair

  uint8_t coding_type() const { return info.header.streamCodingType; }
  double frame_duration() const { return info.header.auDuration; }
  bool Empty() const { return first > last; }
  uint32_t Count() const { return Empty() ? 0 : last - first + 1; }
};

class CPipe {
 public:
  CPipe() = default;
  virtual ~CPipe();
  CPipe(const CPipe&) = delete;
  CPipe& operator=(const CPipe&) = delete;

  // Frees the key points, the program map entry and the synthetic end unit.
  virtual void Close();
  virtual SEsReader* PrimaryReader() { return reader_; }
  virtual SEsReader* SecondaryReader() { return nullptr; }
  bool IsMultiplexed();
  // 0 opened, 1 cancelled by the user during an analysis, 2 failed (already reported).
  virtual int Open(const SPipeSource& source, const ProgressCallback& progress) = 0;
  // Whether the current unit feeds the main buffer model only (not an extension part).
  virtual bool IsBaseSubStream() { return false; }
  // The next unit (time stamps on the pipe's time base, starting at 131070); after the last one
  // a video or audio pipe returns once an end unit of size 0; then none. The pointer stays valid
  // until the next call. None with failed() set: a unit could not be read (already reported).
  virtual const SAuEntry* NextAu() = 0;
  bool failed() const { return failed_; }
  // A unit is current and none of its bytes has been packed.
  bool CurrentNotStarted() const;
  virtual SFirstAuInfo FirstAuInfo() = 0;
  // Lowest and highest presentation time of the range (90 kHz).
  virtual void TimeRange(uint64_t& low, uint64_t& high) = 0;
  virtual uint32_t FirstPresentationTime() = 0;
  uint32_t AuCount() const;
  // Copies n payload bytes of the current unit; n, or 0 when fewer are left.
  uint32_t CopyPayload(uint8_t* out, uint32_t n);
  // The current unit (the synthetic end unit when no reader is current), or none.
  const SAuEntry* CurrentAu() const;
  uint32_t BytesLeft() const;
  // Language and ISRC (and the coding information of the files) into a clip's stream record.
  virtual void FillClipAttributes(StreamCodingInfo& info);
  // Language (and the attributes of the files) into a playlist stream entry.
  virtual void FillPlaylistAttributes(StreamAttributes& attributes);
  // The program map entry of the stream on a PID.
  virtual const ESI& BuildEsi(uint16_t pid) = 0;
  // Writes the next transport packet of the current unit; false when nothing could be written.
  bool WritePacket(SPacketRequest& request);
  // Bytes of the selected range over every file of the pipe.
  virtual uint64_t TotalBytes() = 0;

  const CKpiFolder& key_points() const { return key_points_; }
  CKpiFolder& key_points() { return key_points_; }
  uint8_t coding_type() const { return coding_type_; }
  double frame_duration() const { return frame_duration_; }
  const SPipeSource& source() const { return source_; }

 protected:
  SPipeSource source_;
  SEsReader* reader_ = nullptr;  // current reader
  CKpiFolder key_points_;
  std::optional<KEY_POINT_INFO> last_key_point_;
  std::optional<ESI> esi_;
  uint8_t continuity_counter_ = 0;
  uint8_t coding_type_ = 0;
  double frame_duration_ = 0;
  std::optional<SAuEntry> end_unit_;
  bool end_sent_ = false;
  bool failed_ = false;
  // The last unit handed out, for the end unit.
  uint32_t last_dts_ = 0;
  uint32_t last_pts_ = 0;
  double last_duration_ = 0;

  // Leaves no reader current and hands out the end unit once (video and audio); then none.
  const SAuEntry* EndUnit();
  void RememberCurrent();
  bool IsKeyUnit(SEsReader& r);
  void AddKeyPoint(SEsReader& r, SPacketRequest& request);
  void AddLanguage(ESI& esi) const;
  static SFirstAuInfo ReaderFirstAuInfo(SEsReader& r);
  static void ReaderTimeRange(SEsReader& r, uint64_t& low, uint64_t& high);
  static uint32_t ReaderFirstPresentationTime(SEsReader& r);
  static uint64_t ReaderTotalBytes(SEsReader& r);
  static void SetAttributeValues(AttributeValues& out, const StreamAttributeValues& values);
};

// One source file, optionally with a companion interleaved on the same PID.
class CFilePipe : public CPipe {
 public:
  SEsReader* PrimaryReader() override { return primary_.get(); }
  SEsReader* SecondaryReader() override { return secondary_.get(); }
  int Open(const SPipeSource& source, const ProgressCallback& progress) override;
  bool IsBaseSubStream() override;
  const SAuEntry* NextAu() override;
  SFirstAuInfo FirstAuInfo() override;
  void TimeRange(uint64_t& low, uint64_t& high) override;
  uint32_t FirstPresentationTime() override;
  void FillClipAttributes(StreamCodingInfo& info) override;
  void FillPlaylistAttributes(StreamAttributes& attributes) override;
  const ESI& BuildEsi(uint16_t pid) override;
  uint64_t TotalBytes() override;

 private:
  std::unique_ptr<SEsReader> primary_;
  std::unique_ptr<SEsReader> secondary_;
  bool started_ = false;
};

// Several files of one kind played one after another; the operations apply to the current file.
class CFlPipe : public CPipe {
 public:
  int Open(const SPipeSource& source, const ProgressCallback& progress) override;
  const SAuEntry* NextAu() override;
  SFirstAuInfo FirstAuInfo() override;
  void TimeRange(uint64_t& low, uint64_t& high) override;
  uint32_t FirstPresentationTime() override;
  void FillClipAttributes(StreamCodingInfo& info) override;
  void FillPlaylistAttributes(StreamAttributes& attributes) override;
  const ESI& BuildEsi(uint16_t pid) override;
  uint64_t TotalBytes() override;

 private:
  std::vector<std::unique_ptr<SEsReader>> readers_;
  size_t current_file_ = 0;
};

// Transport packets one unit needs on a stream of a coding type.
uint32_t PacketsForUnit(uint8_t coding_type, const SAuEntry& unit);

// Creates the pipe a source needs (a file list gets a CFlPipe, any other a CFilePipe) and opens
// it. 0 with the pipe; otherwise the open's result (1 cancelled, 2 failed) and no pipe.
int CreatePipe(const SPipeSource& source, const ProgressCallback& progress,
               std::unique_ptr<CPipe>& pipe);

}  // namespace tessel
