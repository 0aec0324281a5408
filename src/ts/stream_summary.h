// A summary of a transport stream file for the dump command: packet size, the program tables and
// per-PID statistics, gathered in one sequential pass over the file in large blocks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/common.h"
#include "platform/progress.h"
#include "ts/psi.h"

namespace tessel {

struct PidSummary {
  uint16_t Pid = 0;
  uint64_t PacketCount = 0;
  uint32_t FirstArrivalTimeStamp = 0;  // 30-bit arrival time stamps of the first and last packet
  uint32_t LastArrivalTimeStamp = 0;
  uint64_t PesCount = 0;  // packets that start a PES packet
  // Packets with payload whose continuity counter does not follow the last one (a repeated
  // packet and a signalled discontinuity are allowed): lost or inserted packets.
  uint64_t ContinuityErrors = 0;
  std::optional<uint64_t> FirstPts;  // 90 kHz, in file order
  std::optional<uint64_t> LastPts;
};

// The first complete section of a table, and how many were seen.
template <typename T>
struct TableSummary {
  std::optional<T> Record;
  std::vector<uint8_t> Section;  // the bytes of the first section
  uint64_t SectionCount = 0;
  uint64_t CrcErrors = 0;
};

struct TsSummary {
  uint64_t FileSize = 0;
  uint64_t SourcePacketCount = 0;  // whole 192-byte packets
  uint64_t TrailingBytes = 0;      // bytes after the last whole packet
  uint64_t SyncErrors = 0;         // packets without 0x47 after their 4-byte header
  uint64_t ContinuityErrors = 0;   // the sum over the PIDs
  TableSummary<PAT> Pat;
  TableSummary<PMT> Pmt;
  TableSummary<SIT> Sit;
  std::vector<PidSummary> Pids;  // ascending PID

  // Every packet is a 192-byte source packet with its sync byte in place.
  bool PacketSizeOk() const {
    return SourcePacketCount > 0 && TrailingBytes == 0 && SyncErrors == 0;
  }
};

// Whether a file starts like a stream of 192-byte source packets: the sync byte sits after the
// 4-byte header of each of the first packets (up to four, all there are in a shorter file).
bool LooksLikeSourcePackets(const std::filesystem::path& path);

// Reads the whole file. Failed (with `error` set to the file error text) when it cannot be read,
// cancelled when the callback asks.
JobResult SummarizeTransportStream(const std::filesystem::path& path, TsSummary& summary,
                                   const ProgressCallback& progress, std::string* error);

}  // namespace tessel
