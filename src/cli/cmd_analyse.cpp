// `tessel analyse FILE...`: analyses elementary-stream files (or reuses their stream info files)
// and prints what a new track made from each would be.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/app.h"
#include "cli/dump_json.h"
#include "cli/progress_bar.h"
#include "es/graphics.h"
#include "es/mlp.h"
#include "es/parser_base.h"
#include "formats/tables.h"
#include "platform/common.h"
#include "platform/format.h"
#include "platform/prompt.h"

namespace tessel::cli {
namespace {

struct AnalyseOptions {
  std::vector<std::string> files;
  bool json = false;
};

struct Analysis {
  std::string file;
  int result = parse_result::kOpenError;
  std::string message;
  bool reused = false;
  std::string stream_info;
  SSifHeader header;
  std::string attributes;
};

std::string AttributesText(const CStreamInfo& info) {
  if (!info.record) return "";
  if (const auto* graphics = dynamic_cast<const SGsSif*>(info.record.get())) {
    return graphics->video.Text();
  }
  StreamAttributeValues values;
  if (const auto* mlp = dynamic_cast<const MLP_HEADER_INFO*>(info.record.get())) {
    // A TrueHD track takes its presentation type from its AC-3 part; alone, the stream's own
    // channel count stands in for it.
    values.presentation_type = PresentationTypeFromChannels(std::min(mlp->ChannelCount(), 3), 0);
  }
  info.record->FillAttributes(values);
  return StreamDescription(values, false);
}

Analysis AnalyseFile(const std::string& file, const ProgressCallback& progress) {
  Analysis a;
  a.file = file;
  std::string error;
  CStreamInfo info;
  switch (CheckStreamInfo(file, &error)) {
    case StreamInfoState::kSourceError:
      a.message = error;
      return a;
    case StreamInfoState::kCurrent:
      a.reused = OpenStreamInfo(info, file, false);
      a.result = a.reused ? parse_result::kOk : parse_result::kReadError;
      break;
    case StreamInfoState::kMissingOrStale:
      a.result = ParseElementaryFile(file, info, a.message, progress);
      break;
  }
  if (a.result == parse_result::kOk) {
    a.header = info.header;
    a.stream_info = info.path().string();
    a.attributes = AttributesText(info);
  }
  if (a.message.empty() && a.result >= parse_result::kUnknownFormat) {
    a.message = ParseResultMessage(a.result);
  }
  return a;
}

std::string BitRateText(const SSifHeader& h) {
  return h.bitRate2 ? Format("%u+%u", h.bitRate, h.bitRate2) : Format("%u", h.bitRate);
}

void PrintText(const Analysis& a) {
  std::printf("%s\n", a.file.c_str());
  if (a.result == parse_result::kOk) {
    const char* name = CodingTypeName(a.header.streamCodingType);
    std::printf("  Coding type: %s (0x%02X)\n", name ? name : "unknown", a.header.streamCodingType);
    std::printf("  Attributes: %s\n", a.attributes.c_str());
    const double duration = StreamDurationMs(a.header);
    std::printf("  Access units: %u of %.4f ms, %s\n", a.header.auCount, a.header.auDuration,
                TimeText(static_cast<uint64_t>(duration)).c_str());
    std::printf("  Bit rate: %s\n", BitRateText(a.header).c_str());
    std::printf("  Stream info: %s (%s)\n", a.stream_info.c_str(), a.reused ? "reused" : "written");
  }
  std::printf("  Result: %d %s\n", a.result,
              a.result == parse_result::kOk ? ParseResultMessage(0) : a.message.c_str());
}

nlohmann::json ToJson(const Analysis& a) {
  nlohmann::json j = {{"file", a.file}, {"result", a.result}, {"message", a.message}};
  if (a.result != parse_result::kOk) return j;
  const char* name = CodingTypeName(a.header.streamCodingType);
  j["coding_type"] = a.header.streamCodingType;
  j["coding_type_name"] = name ? name : "";
  j["attributes"] = a.attributes;
  j["au_count"] = a.header.auCount;
  j["au_duration_ms"] = a.header.auDuration;
  j["duration_ms"] = StreamDurationMs(a.header);
  j["bit_rate"] = a.header.bitRate;
  j["bit_rate2"] = a.header.bitRate2;
  j["total_size"] = a.header.totalSize;
  j["stream_info"] = a.stream_info;
  j["reused"] = a.reused;
  return j;
}

JobResult RunAnalyse(const AnalyseOptions& options, const GlobalOptions& global) {
  ProgressBar bar(global.quiet);
  const ProgressCallback progress = bar.Callback();
  nlohmann::json all = nlohmann::json::array();
  JobResult outcome = JobResult::kDone;
  for (const std::string& file : options.files) {
    const Analysis a = AnalyseFile(file, progress);
    bar.Finish();
    if (a.result == parse_result::kCancelled) return JobResult::kCancelled;
    if (a.result != parse_result::kOk) {
      ShowMessage(Format("%s\n%s", file.c_str(), a.message.c_str()));
      outcome = JobResult::kFailed;
    }
    if (options.json) {
      all.push_back(ToJson(a));
    } else {
      PrintText(a);
    }
  }
  if (options.json) std::cout << JsonText(all) << "\n";
  return outcome;
}

const bool registered = RegisterCommand(
    {"analyse", "Analyse elementary-stream files and write their stream info files",
     [](CLI::App& command, const GlobalOptions& global) -> CommandAction {
       auto options = std::make_shared<AnalyseOptions>();
       command.add_option("files", options->files, "Elementary-stream files")->required();
       command.add_flag("--json", options->json, "Print the results as JSON");
       return [options, &global] { return RunAnalyse(*options, global); };
     }});

}  // namespace
}  // namespace tessel::cli
