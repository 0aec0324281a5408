#include "cli/dump_ts.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <vector>

#include "cli/dump_json.h"
#include "cli/progress_bar.h"
#include "formats/dump.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "ts/stream_summary.h"

namespace tessel::cli {
namespace {

using json = nlohmann::ordered_json;

void DumpTables(const TsSummary& s, DumpArchive& archive) {
  if (s.Pat.Record) {
    archive.Heading("", "PAT");
    DumpPat(*s.Pat.Record, " ", archive);
  }
  if (s.Pmt.Record) {
    archive.Heading("", "PMT");
    DumpPmt(*s.Pmt.Record, " ", archive);
  }
  if (s.Sit.Record) {
    archive.Heading("", "SIT");
    DumpSit(*s.Sit.Record, " ", archive);
  }
}

void DumpPids(const TsSummary& s, DumpArchive& archive) {
  for (const PidSummary& p : s.Pids) {
    archive.Heading("", Format("PID 0x%04X", p.Pid));
    archive.Int(" ", "PacketCount", static_cast<int64_t>(p.PacketCount));
    archive.Int(" ", "FirstArrivalTimeStamp", p.FirstArrivalTimeStamp);
    archive.Int(" ", "LastArrivalTimeStamp", p.LastArrivalTimeStamp);
    archive.Int(" ", "PesCount", static_cast<int64_t>(p.PesCount));
    if (p.FirstPts) archive.Int(" ", "FirstPts", static_cast<int64_t>(*p.FirstPts));
    if (p.LastPts) archive.Int(" ", "LastPts", static_cast<int64_t>(*p.LastPts));
    if (p.ContinuityErrors) {
      archive.Int(" ", "ContinuityErrors", static_cast<int64_t>(p.ContinuityErrors));
    }
  }
}

std::string PacketSizeText(const TsSummary& s) {
  if (s.PacketSizeOk()) return "192";
  return Format("not 192 (%llu sync errors, %llu trailing bytes)",
                static_cast<unsigned long long>(s.SyncErrors),
                static_cast<unsigned long long>(s.TrailingBytes));
}

template <typename T>
json TableToJson(const TableSummary<T>& table,
                 void (*dump)(const T&, std::string_view, DumpArchive&)) {
  if (!table.Record) return nullptr;
  DumpArchive archive;
  dump(*table.Record, "", archive);
  json j = DumpToJson(archive);
  j["SectionCount"] = table.SectionCount;
  j["CrcErrors"] = table.CrcErrors;
  return j;
}

json SummaryToJson(const std::filesystem::path& path, const TsSummary& s) {
  json j;
  j["File"] = path.string();
  j["FileSize"] = s.FileSize;
  j["SourcePacketCount"] = s.SourcePacketCount;
  j["PacketSizeOk"] = s.PacketSizeOk();
  j["SyncErrors"] = s.SyncErrors;
  j["TrailingBytes"] = s.TrailingBytes;
  if (s.ContinuityErrors) j["ContinuityErrors"] = s.ContinuityErrors;
  j["PAT"] = TableToJson(s.Pat, DumpPat);
  j["PMT"] = TableToJson(s.Pmt, DumpPmt);
  j["SIT"] = TableToJson(s.Sit, DumpSit);
  json pids = json::array();
  for (const PidSummary& p : s.Pids) {
    json e = {{"Pid", p.Pid},
              {"PacketCount", p.PacketCount},
              {"FirstArrivalTimeStamp", p.FirstArrivalTimeStamp},
              {"LastArrivalTimeStamp", p.LastArrivalTimeStamp},
              {"PesCount", p.PesCount}};
    e["FirstPts"] = p.FirstPts ? json(*p.FirstPts) : json(nullptr);
    e["LastPts"] = p.LastPts ? json(*p.LastPts) : json(nullptr);
    if (p.ContinuityErrors) e["ContinuityErrors"] = p.ContinuityErrors;
    pids.push_back(std::move(e));
  }
  j["Pids"] = std::move(pids);
  return j;
}

}  // namespace

bool LooksLikeTransportStream(const std::filesystem::path& path) {
  return LooksLikeSourcePackets(path);
}

int DumpTransportStream(const std::filesystem::path& path, bool json_output,
                        const GlobalOptions& options) {
  TsSummary summary;
  std::string error;
  JobResult result;
  {
    ProgressBar bar(options.quiet);
    result = SummarizeTransportStream(path, summary, bar.Callback(), &error);
  }
  if (result != JobResult::kDone) {
    if (result == JobResult::kFailed) ShowMessage(error);
    return static_cast<int>(result);
  }
  if (json_output) {
    std::cout << JsonText(SummaryToJson(path, summary)) << '\n';
    return 0;
  }
  DumpArchive archive;
  archive.Text("", "File", path.string());
  archive.Int("", "FileSize", static_cast<int64_t>(summary.FileSize));
  archive.Int("", "SourcePacketCount", static_cast<int64_t>(summary.SourcePacketCount));
  archive.Text("", "PacketSize", PacketSizeText(summary));
  DumpTables(summary, archive);
  DumpPids(summary, archive);
  std::cout << archive.text();
  return 0;
}

}  // namespace tessel::cli
