// The multiplexer: writes one BDAV transport stream of 192-byte source packets from a list of
// mux tracks, paced by the tracks' buffer models, with the program tables and clock references
// at their periods, and the clip information with its entry point map.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/clpi.h"
#include "mux/mux_track.h"
#include "platform/common.h"
#include "platform/progress.h"
#include "ts/ts_packet.h"

namespace tessel {

inline constexpr uint32_t kDefaultMuxRate = 48000000;  // bit/s
inline constexpr size_t kMuxBufferSize = 0x1200000;    // 18 MiB, a whole number of 6144 units
inline constexpr uint64_t kPsiPeriod = 2538000;        // 94 ms at 27 MHz
inline constexpr uint64_t kPcrPeriod = 2430000;        // 90 ms
inline constexpr int kPsiRoundsPerSit = 9;
inline constexpr size_t kAlignedUnitPackets = 32;  // 6144 bytes

// What the build step takes into the clip object. Times are 27 MHz.
struct SMuxResult {
  uint32_t ts_recording_rate = 0;  // bytes per second
  uint64_t earliest_start = 0;
  uint64_t latest_end = 0;
  uint64_t frame_duration = 0;
  uint64_t first_video_pts = 0;
  uint64_t last_video_pts = 0;
  uint64_t first_packet_time = 0;
  uint64_t end_time = 0;  // after the last packet
  uint64_t lowest_end_margin = 0;
  uint64_t highest_end_margin = 0;
  uint64_t source_packets = 0;
};

// A clip that takes part in seamless connections.
struct SSeamlessRequest {
  uint8_t connection_condition = 5;
  int predecessors = 0;
  int successors = 0;
};

// Puts candidate tracks into output order (primary video, audio, PG, IG, other, secondary audio,
// secondary video; each group by order position, PID, new tracks before kept ones) and gives them
// consecutive PIDs from their group's base. Fails with a message when a group outgrows its PIDs.
std::optional<std::vector<SMuxTrack*>> BuildTrackList(const std::vector<SMuxTrack*>& candidates,
                                                      std::string* error);

class CMuxer {
 public:
  CMuxer() = default;

  // Program descriptor 0x89 of the old clip's program map: its bytes after the length.
  void SetPrivateProgramDescriptor(std::vector<uint8_t> bytes) {
    private_descriptor_ = std::move(bytes);
  }

  // Tracks in output order with their PIDs (BuildTrackList); they must outlive the muxer's run.
  bool Initialise(std::vector<SMuxTrack*> tracks, uint8_t application_type,
                  double frame_duration_ms, uint32_t rate);

  // 0 done, 1 cancelled, 2 failed (a message was shown). The caller removes the outputs after 1
  // or 2.
  int Run(const std::filesystem::path& stream_path, const std::filesystem::path& clip_info_path,
          const std::optional<SSeamlessRequest>& seamless, const ProgressCallback& progress);

  const SMuxResult& result() const { return result_; }
  const Clpi& clip_info() const { return clip_info_; }
  uint64_t packet_interval() const { return interval_; }

 private:
  using Packet = std::array<uint8_t, kTransportPacketSize>;

  static std::vector<Packet> SectionPackets(std::span<const uint8_t> section, uint16_t pid);
  bool BuildPmt();
  void BuildSystemPackets();
  void UpdateNextSend(SMuxTrack& track) const;
  uint64_t GridSlot(uint64_t due) const;
  bool WriteSystemPacket(Packet& packet, uint8_t* continuity_counter, uint64_t at);
  bool WritePsiRound(uint64_t due);
  bool WritePcr(uint64_t due);
  bool WriteDueSystemPackets();
  bool WriteStartPackets();
  void AdvanceForSeamlessStart(const std::vector<SMuxTrack*>& active);
  bool SendUnit(SMuxTrack& track, uint64_t deadline);
  bool WriteElementaryPacket(SMuxTrack& track);
  void AddPresentation(SMuxTrack& track, const SAuBase& unit);
  bool AppendPacket(const uint8_t* packet192);
  bool Flush();
  bool FinishStream();
  void LeaveTrack(SMuxTrack& track);
  int RunOpen(const std::optional<SSeamlessRequest>& seamless);
  bool WriteClipInfo();
  bool ReportProgress();

  std::vector<SMuxTrack*> tracks_;
  uint8_t application_type_ = 1;
  double frame_duration_ms_ = 0;
  uint32_t rate_ = kDefaultMuxRate;
  std::optional<std::vector<uint8_t>> private_descriptor_;
  SMuxResult result_;
  Clpi clip_info_;

  std::vector<uint8_t> buffer_;
  size_t filled_ = 0;
  int fd_ = -1;
  std::filesystem::path stream_path_;
  std::filesystem::path clip_info_path_;
  uint8_t copy_permission_ = 0;
  bool seamless_ = false;
  ProgressCallback progress_;

  Packet pat_{};
  std::vector<Packet> pmt_;
  Packet sit_{};
  Packet pcr_{};
  uint8_t pat_cc_ = 0;
  uint8_t pmt_cc_ = 0;
  uint8_t sit_cc_ = 0;
  std::vector<uint8_t> pmt_section_;

  uint64_t packets_ = 0;
  uint64_t clock_ = 0;
  uint64_t interval_ = 0;
  uint64_t pcr_offset_ = 0;
  uint64_t last_packet_time_ = 0;
  uint64_t next_psi_ = 0;
  uint64_t next_pcr_ = 0;
  bool pcr_written_ = false;
  int psi_rounds_ = 0;  // since the last SIT

  uint64_t total_bytes_ = 0;
  uint64_t sent_bytes_ = 0;
  uint64_t next_report_ = 0;
  uint64_t hold_time_ = 0;  // 0 = none
  uint64_t last_end_time_ = 0;
  bool have_presentation_ = false;
  bool have_video_pts_ = false;
};

}  // namespace tessel
