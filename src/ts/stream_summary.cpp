#include "ts/stream_summary.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "platform/file_handle.h"
#include "platform/files.h"
#include "ts/ts_packet.h"

namespace tessel {
namespace {

// 16384 source packets: a whole number of 6144-byte aligned units.
constexpr size_t kBlockSize = 16384 * kSourcePacketSize;
constexpr size_t kPidCount = 0x2000;

template <typename T>
void KeepSection(TableSummary<T>& summary, std::span<const uint8_t> section,
                 bool (*read)(std::span<const uint8_t>, T&)) {
  ++summary.SectionCount;
  const bool crc_ok = SectionCrcOk(section);
  if (!crc_ok) ++summary.CrcErrors;
  if (summary.Record || !crc_ok) return;
  T record;
  if (!read(section, record)) return;
  summary.Record = std::move(record);
  summary.Section.assign(section.begin(), section.end());
}

// The per-packet work of the pass; PIDs are counted in a flat table for speed.
class Summarizer {
 public:
  explicit Summarizer(TsSummary& summary)
      : summary_(summary), pids_(kPidCount), last_counter_(kPidCount, kNoCounter) {
    psi_pids_[pid::kPat] = {};
    psi_pids_[pid::kSit] = {};
    psi_pids_[pid::kPmt] = {};
  }

  void Packet(const uint8_t* source_packet) {
    const uint8_t* p = source_packet + kTpExtraHeaderSize;
    if (p[0] != kSyncByte) {
      ++summary_.SyncErrors;
      return;
    }
    const uint16_t id = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
    const uint32_t ats = ReadTpExtraHeader(source_packet).ArriveTimeStamp;
    PidSummary& s = pids_[id];
    if (s.PacketCount++ == 0) s.FirstArrivalTimeStamp = ats;
    s.LastArrivalTimeStamp = ats;
    if (id != pid::kNull) Continuity(id, p, s);
    const bool unit_start = p[1] & 0x40;
    const std::span<const uint8_t> packet(p, kTransportPacketSize);
    if (auto it = psi_pids_.find(id); it != psi_pids_.end()) {
      it->second.Feed(PacketPayload(packet), unit_start,
                      [this, id](std::span<const uint8_t> section) { Section(id, section); });
    } else if (unit_start && id != pid::kNull) {
      Pes(s, PacketPayload(packet));
    }
  }

  void Finish() {
    for (size_t id = 0; id < kPidCount; ++id) {
      if (pids_[id].PacketCount == 0) continue;
      pids_[id].Pid = static_cast<uint16_t>(id);
      summary_.Pids.push_back(pids_[id]);
    }
  }

 private:
  void Section(uint16_t id, std::span<const uint8_t> section) {
    const uint8_t table = section[0];
    if (id == pid::kPat && table == table_id::kPat) {
      const bool first = !summary_.Pat.Record;
      KeepSection(summary_.Pat, section, ReadPat);
      if (first && summary_.Pat.Record) {
        for (const PI& program : summary_.Pat.Record->Programs) psi_pids_[program.PID];
      }
    } else if (id == pid::kSit && table == table_id::kSit) {
      KeepSection(summary_.Sit, section, ReadSit);
    } else if (table == table_id::kPmt) {
      KeepSection(summary_.Pmt, section, ReadPmt);
    }
  }

  void Continuity(uint16_t id, const uint8_t* p, PidSummary& s) {
    const bool payload = p[3] & 0x10;
    const bool discontinuity = (p[3] & 0x20) && p[4] > 0 && (p[5] & 0x80);
    if (!payload) return;
    const uint8_t counter = p[3] & 0x0F;
    const uint8_t last = last_counter_[id];
    if (last != kNoCounter && !discontinuity && counter != ((last + 1) & 0x0F) && counter != last) {
      ++s.ContinuityErrors;
      ++summary_.ContinuityErrors;
    }
    last_counter_[id] = counter;
  }

  static void Pes(PidSummary& s, std::span<const uint8_t> payload) {
    ByteReader in(payload);
    PesHeader pes;
    if (!ReadPesHeader(in, pes)) return;
    ++s.PesCount;
    if (!pes.PTS) return;
    if (!s.FirstPts) s.FirstPts = pes.PTS->Value;
    s.LastPts = pes.PTS->Value;
  }

  TsSummary& summary_;
  static constexpr uint8_t kNoCounter = 0xFF;
  std::vector<PidSummary> pids_;
  std::vector<uint8_t> last_counter_;  // per PID, of the last packet with payload
  std::map<uint16_t, SectionAssembler> psi_pids_;
};

}  // namespace

bool LooksLikeSourcePackets(const std::filesystem::path& path) {
  FileHandle file;
  if (!file.Open(path)) return false;
  std::array<uint8_t, 4 * kSourcePacketSize> head{};
  const int64_t got = file.Read(head.data(), head.size());
  if (got < static_cast<int64_t>(kSourcePacketSize)) return false;
  const size_t packets = static_cast<size_t>(got) / kSourcePacketSize;
  for (size_t i = 0; i < packets; ++i) {
    if (head[i * kSourcePacketSize + kTpExtraHeaderSize] != kSyncByte) return false;
  }
  return true;
}

JobResult SummarizeTransportStream(const std::filesystem::path& path, TsSummary& summary,
                                   const ProgressCallback& progress, std::string* error) {
  summary = TsSummary{};
  FileHandle file;
  if (!file.Open(path)) {
    if (error) *error = FileErrorText(path, file.error());
    return JobResult::kFailed;
  }
  file.HintSequential();
  summary.FileSize = file.Size();
  Summarizer summarizer(summary);
  std::vector<uint8_t> block(kBlockSize);
  uint64_t done = 0;
  if (!ReportPosition(progress, 0)) return JobResult::kCancelled;
  for (;;) {
    const int64_t got = file.Read(block.data(), block.size());
    if (got < 0) {
      if (error) *error = FileErrorText(path, file.error());
      return JobResult::kFailed;
    }
    const size_t whole = static_cast<size_t>(got) / kSourcePacketSize;
    for (size_t i = 0; i < whole; ++i) summarizer.Packet(block.data() + i * kSourcePacketSize);
    summary.SourcePacketCount += whole;
    summary.TrailingBytes = static_cast<size_t>(got) - whole * kSourcePacketSize;
    done += static_cast<uint64_t>(got);
    if (!ReportPosition(progress, PercentOf(done, summary.FileSize))) return JobResult::kCancelled;
    if (static_cast<size_t>(got) < block.size()) break;
  }
  summary.FileSize = done;
  summarizer.Finish();
  return JobResult::kDone;
}

}  // namespace tessel
