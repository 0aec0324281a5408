// A stream of an existing clip read back for a remultiplex or a demux: the access units a scan
// of the old file finds, each a list of packet ranges, and the rewrite of their packets for the
// new stream (PID, transport_priority and PES times only; every other byte is kept).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "es/graphics.h"
#include "formats/ep_map.h"
#include "formats/stn.h"
#include "mux/byte_io.h"
#include "mux/mux_track.h"
#include "mux/packet_reader.h"
#include "platform/common.h"
#include "platform/progress.h"
#include "ts/esi.h"
#include "ts/tstd.h"

namespace tessel {

// Consecutive source packet numbers [first, last] of one PID.
struct SPacketRange {
  uint64_t first = 0;
  uint64_t last = 0;
};

// Unit type bits beside the PG/IG segment type.
namespace rip_au {
inline constexpr uint32_t kSequenceStart = 1;  // video: starts with a sequence header or SPS
inline constexpr uint32_t kSegmentTypeMask = 0xFF;
inline constexpr uint32_t kCompositionStateShift = 8;
inline constexpr uint32_t kEmptyComposition = 0x10000;  // a PCS with no composition objects
}  // namespace rip_au

// One access unit of a rip track as the scan stores it.
struct SRipAu {
  uint32_t type = 0;
  uint64_t dts = 0;  // 33 bits at 90 kHz; equals the PTS when the PES header has none
  uint64_t pts = 0;
  uint64_t size = 0;  // packets × 192
  std::vector<SPacketRange> ranges;

  uint64_t PacketCount() const;
  uint8_t SegmentType() const { return static_cast<uint8_t>(type & rip_au::kSegmentTypeMask); }
  uint8_t CompositionState() const {
    return static_cast<uint8_t>(type >> rip_au::kCompositionStateShift);
  }
  bool ClearsScreen() const { return type & rip_au::kEmptyComposition; }
};

struct SRipTrack;

// The unit a rip track is sending, as the multiplexer sees it: its packets come from the old
// file.
struct SRipAuCursor : SAuBase {
  const uint8_t* NextPacket(uint64_t& bytes_left, uint32_t& payload) override;
  KEY_POINT_INFO* KeyPoint() override;
  bool IsBaseSubStream() const override { return base; }
  void SetTransportPriority(bool priority) override;

  SRipTrack* track = nullptr;
  uint8_t packet[192] = {};
  bool base = true;
};

// A stream that already exists in a clip's transport stream.
struct SRipTrack : SMuxTrack {
  SRipTrack() { original = 1; }
  uint8_t CodingType() const override { return attributes.StreamCodingType; }

  int32_t clip_number = -1;
  uint16_t pid = 0;
  StreamCodingInfo attributes;  // as the clip information holds them
  std::optional<ESI> esi;       // from the source's program map
  // How a playlist's stream table names the stream (for clips: a main-clip entry of the PID).
  StreamEntry entry;
  uint8_t cleared = 0;
  uint8_t sub_clip = 0;
  uint8_t entry_kind = 0;     // 0 normal, 1 secondary video entry, 2 picture-in-picture PG entry
  uint64_t packet_count = 0;  // source packets of the PID; 0 until scanned
  std::vector<SRipAu> units;

  uint8_t profile = 0;  // read from the stream at prepare; 0 = unknown
  uint8_t level = 0;
  CKpiFolder key_points;

  // "00001.M2TS, 0x1100, AC-3(0x81), <attributes>".
  std::string DisplayName() const;
  uint64_t TotalBytes() const override { return packet_count * kSourcePacketSizeBytes; }
  // A copy of the source's program map entry with the new PID.
  std::optional<ESI> MakeEsi() const;
  // The buffer models of the stream type (two for a core and an extension); none for a type
  // without a model, which cannot be remultiplexed.
  std::vector<std::unique_ptr<CStdBase>> CreateBufferModels() const;
  void SetLanguage(std::string_view code);

  // Index of the unit at a 90 kHz time, searching from `start`; -1 when none.
  int FindUnitAtTime(int start, int64_t time) const;
  // Adds the clip's shift (and the delay when positive) to every unit's times.
  void ApplyTimeShift(int64_t shift);

  // Mux side: prepare, then repeatedly NextUnit and NextPacket. Prepare fails (with a message)
  // for a type without a buffer model.
  bool Prepare(CByteSource& file, uint32_t new_pid, std::string& message);
  bool units_done() const { return finished_; }
  // Loads the next unit of the range; false when the track has finished.
  bool NextUnit();
  const SRipAu* CurrentUnit() const;
  // The unit's key point, when it gives one.
  std::optional<KEY_POINT_INFO> UnitKeyPoint() const { return unit_key_point_; }
  // transport_priority of the current unit's first packet (1 = base sub-stream).
  bool UnitPriority() const;
  void SetOutputPriority(bool priority) { output_priority_ = priority; }
  // The next rewritten packet of the current unit and the payload bytes it carries; false when
  // the unit has no more.
  bool NextPacket(uint8_t (&packet)[192], uint32_t& payload);

  static constexpr uint64_t kSourcePacketSizeBytes = 192;

  // ---- the multiplexer's operations; `source_file` must be set before its Initialise ----
  bool Prepare() override;
  void Release() override;
  SAuBase* CurrentAu() override { return CurrentUnit() ? &cursor_ : nullptr; }
  SFirstAuInfo FirstAuInfo() const override { return first_au; }
  bool NextAu() override;
  bool IsGraphicsStart() const override;
  uint32_t FrameDuration90k() const override;
  double FrameDurationMs() const override;
  void FillClipAttributes(StreamInfo& info) const override;
  void FillEsi(ESI& esi) const override;
  void GatherKeyPoints() override;
  void CreateStd() override;

  CByteSource* source_file = nullptr;

 private:
  friend struct SRipAuCursor;
  // Loads the cursor from the current unit and feeds the buffer models; false (after a message)
  // for times that do not fit the stream's 32-bit clock.
  bool LoadCursor();
  // Whether the current unit belongs to the extension of a two-part stream.
  bool IsExtensionUnit() const;
  SFirstAuInfo ComputeFirstAuInfo() const;

  void ReadProfileAndLevel();
  std::optional<KEY_POINT_INFO> KeyPointOf(int index);

  CByteSource* file_ = nullptr;
  uint32_t new_pid_ = 0;
  bool finished_ = true;
  int first_unit_ = 0;
  int last_unit_ = -1;
  int current_ = -1;
  std::vector<uint8_t> unit_bytes_;
  size_t packet_pos_ = 0;
  bool output_priority_ = false;
  std::optional<KEY_POINT_INFO> unit_key_point_;
  int64_t last_audio_key_pts_ = -1;
  SRipAuCursor cursor_;
  bool previous_extension_ = false;
};

using SRipTracks = std::vector<std::unique_ptr<SRipTrack>>;

// What the scan hands back besides its result.
struct SScanResult {
  std::optional<uint64_t> first_pts;
  std::optional<uint64_t> first_video_pts;
  std::string message;  // why the range was refused
  std::vector<SStreamDamage> damage;
  // The program descriptor 0x89 of the file's program map (mode 1), its bytes after the length.
  std::optional<std::vector<uint8_t>> program_descriptor;
};

// The collector of one PID during a scan.
struct STrackAuCollector {
  SRipTrack* track = nullptr;
  std::optional<SRipAu> unit;
  std::vector<uint64_t> packets;
};
using CTrackAuMap = std::map<uint16_t, STrackAuCollector>;

// Reads packets [first, end) of the file once. Mode 1 rebuilds the unit lists of kept tracks
// (and counts their packets); mode 0 only counts packets. Done, cancelled (lists and counts
// cleared), or failed for an empty or out-of-file range (with a message).
JobResult ScanClip(std::span<SRipTrack* const> tracks, CByteSource& file, const std::string& path,
                   int mode, uint64_t first, uint64_t end, const ProgressCallback& progress,
                   SScanResult& result);

// Units after the end of the last display set that clears the screen are dropped.
void TrimGraphicsUnits(SRipTrack& track);

}  // namespace tessel
