// An independent checker of written transport streams (192-byte source packets), for the tests of
// everything that writes or rewrites a clip. It has its own packet, PES and section parsing and its
// own buffer model, and shares nothing with src/ts, so a fault in our writer or in our model cannot
// hide itself from the test that uses both.
//
// Times are 27 MHz ticks unless a name says otherwise; arrival times are unwrapped (30-bit stamps
// made monotonic) so they keep rising past the first wrap.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessel::test {

enum class TsFault {
  kUnreadable,        // the file cannot be opened or read to its end
  kSize,              // the file is no whole number of 6144-byte aligned units
  kSync,              // a packet without its 0x47 sync byte
  kArrivalOrder,      // an arrival time less than one packet interval after the previous one
  kPcrGap,            // two PCRs further apart than allowed, or no PCR at all
  kPcrDrift,          // a PCR's distance from its packet's arrival time moved from the first one's
  kPatGap,            // two PATs further apart than allowed, or no PAT at all
  kPmtGap,            // the same for the PMT
  kSitGap,            // more PSI rounds without a SIT than allowed, or no SIT at all
  kLateSystemPacket,  // PAT, PMT, SIT or PCR first seen after the first elementary packet
  kContinuity,        // a continuity counter gap on a packet with payload
  kBufferOverflow,    // a stage of the buffer model holds more than its size
  kUnitLate,          // an access unit complete in the elementary buffer only after its DTS
};
const char* TsFaultName(TsFault fault);

struct TsCheckOptions {
  // Bit/s; the source packets' rate. Taken from the clip information when one is given.
  uint32_t recording_rate = 48000000;
  // Ticks between arrival times at least; 0: one packet interval at the recording rate.
  int64_t min_arrival_step = 0;
  int64_t max_pcr_gap = 2700000;  // 100 ms
  int64_t max_pcr_drift = 27;     // ticks (1 us)
  int64_t max_psi_gap = 2538000;  // 94 ms, between PATs and between PMT section starts
  // A system packet due on a slot another packet has taken goes out on the next free one, so its
  // distance to the previous one can pass the period by a few packet intervals.
  int psi_slack_intervals = 3;
  int max_rounds_per_sit = 9;  // PATs (PSI rounds) from one SIT to the next; 0: no SIT check
  bool check_buffers = true;
  bool check_overflow = true;  // with check_buffers; off, units are still timed through the model
  int64_t late_tolerance = 0;  // how long after its DTS a unit may still be completed
};

struct TsFinding {
  TsFault fault;
  uint64_t packet;  // source packet number
  uint16_t pid;
  std::string text;
};

// One elementary stream of the PMT, with what the checker saw of it.
struct TsStream {
  uint16_t pid = 0;
  uint8_t stream_type = 0;
  uint64_t packets = 0;
  uint64_t units = 0;         // PES packets
  uint64_t first_packet = 0;  // source packet number of its first packet
  std::string buffer_model;   // what the buffer check took for it (by sub-stream), e.g. "avc 41"
  int64_t peak_tb = 0;        // fullest transport buffer (bytes)
  int64_t peak_mb = 0;        // fullest multiplex buffer (video)
  int64_t peak_eb = 0;        // fullest elementary buffer
  int64_t least_slack = INT64_MAX;  // smallest DTS minus completion time over its units
  uint64_t overflows = 0;           // packets that left a stage over its size
  uint64_t late_units = 0;
};

struct TsReport {
  uint64_t file_size = 0;
  uint64_t packets = 0;
  uint32_t recording_rate = 0;
  int64_t interval = 0;  // ticks per source packet at the recording rate
  std::vector<TsStream> streams;
  uint16_t pmt_pid = 0;
  uint16_t pcr_pid = 0;
  uint64_t first_elementary_packet = UINT64_MAX;
  int64_t largest_pcr_gap = 0;
  int64_t largest_pcr_drift = 0;  // ticks
  int64_t largest_pat_gap = 0;
  int64_t largest_pmt_gap = 0;
  int most_rounds_without_sit = 0;
  uint64_t pat_count = 0;
  uint64_t pmt_count = 0;
  uint64_t sit_count = 0;
  uint64_t pcr_count = 0;
  // Every fault counted; details kept for the first few of each kind.
  std::map<TsFault, uint64_t> counts;
  std::vector<TsFinding> findings;

  bool ok() const { return counts.empty(); }
  uint64_t Count(TsFault fault) const;
  const TsStream* Stream(uint16_t pid) const;
  // A readable summary: the figures above, the streams and the findings.
  std::string Text() const;
};

// Checks a stream file read in fixed-size blocks (any size, 64-bit offsets). With a clip
// information file the recording rate is its TS_recording_rate.
TsReport CheckTransportStream(const std::filesystem::path& m2ts,
                              const std::optional<std::filesystem::path>& clpi = std::nullopt,
                              TsCheckOptions options = {});
// The same over bytes in memory (crafted faults).
TsReport CheckTransportStream(std::span<const uint8_t> bytes, const TsCheckOptions& options = {});

// The recording rate (bit/s) a clip information file states, read by offset; 0 when unreadable.
uint32_t ClpiRecordingRate(const std::filesystem::path& clpi);

}  // namespace tessel::test
