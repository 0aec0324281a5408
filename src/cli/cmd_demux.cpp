// `tessel demux SOURCE [CLIP] [--track PID|all]... [-o DIR]`: writes streams of a clip to
// elementary-stream files. SOURCE is an .m2ts file (its tracks come from the clip information
// beside it in a disc layout, else from its program map) or a disc folder with a clip number.
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/app.h"
#include "cli/dump_json.h"
#include "cli/interrupt.h"
#include "cli/progress_bar.h"
#include "formats/clpi.h"
#include "formats/tables.h"
#include "model/bd_paths.h"
#include "model/track_kinds.h"
#include "mux/demux.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "ts/psi.h"

namespace tessel::cli {
namespace {

struct DemuxOptions {
  std::string source;
  std::optional<int> clip;
  std::vector<std::string> tracks;
  std::string output;
  bool json = false;
};

// Where the clip lives and where its tracks are described.
struct ClipSource {
  std::string stream_path;
  std::string clpi_path;  // empty when the clip stands alone
  std::string bdmv;       // the disc's BDMV folder; empty when none
  int number = -1;
};

std::optional<ClipSource> LocateClip(const DemuxOptions& options) {
  ClipSource clip;
  const fs::path source(options.source);
  if (fs::is_directory(source)) {
    if (!options.clip) {
      ShowMessage(Format("%s is a disc folder: give the clip number", options.source.c_str()));
      return std::nullopt;
    }
    clip.bdmv = FindBdmvFolder(options.source);
    clip.number = *options.clip;
    std::string stream;
    std::string clpi;
    if (!StreamPath(clip.bdmv, clip.number, stream) ||
        !ClipInfoPath(clip.bdmv, clip.number, false, clpi)) {
      ShowMessage(Format("%d is not a clip number", clip.number));
      return std::nullopt;
    }
    clip.stream_path = ResolveNoCase(stream, clip.bdmv.size());
    clip.clpi_path = ResolveNoCase(clpi, clip.bdmv.size());
    return clip;
  }
  clip.stream_path = options.source;
  clip.number = FileNumberFromName(source.stem().string());
  const fs::path stream_folder = fs::absolute(source).parent_path();
  if (clip.number >= 0 && EqualsNoCase(stream_folder.filename().string(), "STREAM")) {
    std::string bdmv = stream_folder.parent_path().string();
    std::string clpi;
    if (ClipInfoPath(bdmv, clip.number, false, clpi)) {
      clpi = ResolveNoCase(clpi, bdmv.size());
      if (GetFileStatus(clpi)) {
        clip.clpi_path = clpi;
        clip.bdmv = bdmv;
      }
    }
  }
  return clip;
}

bool LoadTracks(const ClipSource& clip, SRipTracks& tracks) {
  const std::optional<PMT> pmt = ReadPmtFromFile(clip.stream_path);
  if (!clip.clpi_path.empty()) {
    std::vector<uint8_t> data;
    std::string error;
    Clpi clpi;
    if (!ReadWholeFile(clip.clpi_path, data, &error) || !clpi.Read(data, &error)) {
      ShowMessage(error.empty() ? Format("%s cannot be read", clip.clpi_path.c_str()) : error);
      return false;
    }
    BuildOriginalTracks(clpi.program_info.Sequence.Streams, clip.number, tracks);
  } else if (pmt) {
    BuildTracksFromPmt(*pmt, clip.number, tracks);
  } else {
    ShowMessage(Format("%s: no clip information and no program map to name its streams",
                       clip.stream_path.c_str()));
    return false;
  }
  if (pmt) {
    for (const ESI& esi : pmt->Streams) {
      if (SRipTrack* track = FindByPid(tracks, esi.ElementaryPid)) track->esi = esi;
    }
  }
  return true;
}

std::optional<uint16_t> ParsePid(const std::string& text) {
  try {
    size_t used = 0;
    const unsigned long value = std::stoul(text, &used, 0);
    if (used != text.size() || value > 0x1FFF) return std::nullopt;
    return static_cast<uint16_t>(value);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// Keeps the tracks named on the command line (all of them without --track). False after a
// message when one is not a PID of the clip.
bool ChooseTracks(const std::vector<std::string>& chosen, SRipTracks& tracks) {
  bool all = chosen.empty();
  for (const std::string& text : chosen) all = all || text == "all";
  for (auto& track : tracks) track->keep = all ? 1 : 0;
  if (all) return true;
  for (const std::string& text : chosen) {
    const std::optional<uint16_t> pid = ParsePid(text);
    SRipTrack* track = pid ? FindByPid(tracks, *pid) : nullptr;
    if (!track) {
      ShowMessage(Format("The clip has no track with PID %s", text.c_str()));
      return false;
    }
    track->keep = 1;
  }
  return true;
}

bool HasDemuxableTrack(const SRipTracks& tracks) {
  for (const auto& track : tracks) {
    if (track->keep && track->CodingType() != coding::kTextSubtitle) return true;
  }
  return false;
}

// Nothing is ever written into a source disc.
bool InsideDisc(const std::string& folder, const std::string& bdmv) {
  if (bdmv.empty()) return false;
  std::error_code ec;
  const fs::path relative =
      fs::weakly_canonical(folder, ec).lexically_relative(fs::weakly_canonical(bdmv, ec));
  return !relative.empty() && *relative.begin() != "..";
}

void PrintText(const std::string& clip_path, const SDemuxReport& report) {
  for (const SDemuxedFile& file : report.files) {
    std::printf("%s  %s  %llu bytes\n", file.path.c_str(), file.display_name.c_str(),
                static_cast<unsigned long long>(file.size));
  }
  std::printf("%s\n", clip_path.c_str());
}

nlohmann::json ToJson(const std::string& clip_path, const SDemuxReport& report, JobResult result) {
  nlohmann::json files = nlohmann::json::array();
  for (const SDemuxedFile& file : report.files) {
    files.push_back({{"path", file.path},
                     {"pid", file.pid},
                     {"track", file.display_name},
                     {"size", file.size}});
  }
  nlohmann::json damage = nlohmann::json::array();
  for (const SStreamDamage& d : report.damage) {
    damage.push_back({{"offset", d.offset}, {"pid", d.pid}, {"what", d.what}});
  }
  return {{"clip", clip_path},
          {"files", files},
          {"damage", damage},
          {"result", static_cast<int>(result)}};
}

void ReportDamage(const SDemuxReport& report) {
  for (const SStreamDamage& d : report.damage) {
    const std::string where =
        d.pid >= 0
            ? Format("offset %llu, PID 0x%04X", static_cast<unsigned long long>(d.offset), d.pid)
            : Format("offset %llu", static_cast<unsigned long long>(d.offset));
    ShowMessage(Format("damage at %s: %s", where.c_str(), d.what.c_str()), PromptIcon::kWarning);
  }
}

JobResult RunDemux(const DemuxOptions& options, const GlobalOptions& global) {
  const std::optional<ClipSource> clip = LocateClip(options);
  if (!clip) return JobResult::kFailed;
  CFileSource source(clip->stream_path);
  if (!source.ok()) {
    ShowMessage(source.error());
    return JobResult::kFailed;
  }
  SRipTracks tracks;
  if (!LoadTracks(*clip, tracks) || !ChooseTracks(options.tracks, tracks)) {
    return JobResult::kFailed;
  }
  if (!HasDemuxableTrack(tracks)) {
    ShowMessage("No checked tracks to demux! ");
    return JobResult::kFailed;
  }
  const std::string folder = options.output.empty() ? fs::current_path().string() : options.output;
  if (InsideDisc(folder, clip->bdmv)) {
    ShowMessage(Format("%s is inside the source disc: choose another output folder with -o",
                       folder.c_str()));
    return JobResult::kFailed;
  }
  std::error_code ec;
  fs::create_directories(folder, ec);
  std::vector<SRipTrack*> list;
  for (auto& track : tracks) list.push_back(track.get());
  ProgressBar bar(global.quiet);
  const ProgressCallback draw = bar.Callback();
  InterruptGuard guard;
  const ProgressCallback progress = [&](const ProgressRecord& record) {
    return draw(record) && !Interrupted();
  };
  SDemuxReport report;
  JobResult result = DemuxClip(folder, list, source, clip->stream_path, progress, report);
  bar.Finish();
  ReportDamage(report);
  if (result == JobResult::kDone && !report.damage.empty()) result = JobResult::kFailed;
  if (options.json) {
    std::cout << JsonText(ToJson(clip->stream_path, report, result)) << "\n";
  } else if (!report.files.empty()) {
    PrintText(clip->stream_path, report);
    if (result == JobResult::kDone) std::printf("Demux is completed! \n");
  }
  return result;
}

const bool registered = RegisterCommand(
    {"demux", "Write the streams of a clip to elementary-stream files",
     [](CLI::App& command, const GlobalOptions& global) -> CommandAction {
       auto options = std::make_shared<DemuxOptions>();
       command.add_option("source", options->source, "An .m2ts file or a disc folder")->required();
       command.add_option("clip", options->clip, "Clip number (with a disc folder)");
       command.add_option("--track", options->tracks, "PID (decimal or 0x hex) or all")
           ->allow_extra_args(false);
       command.add_option("-o,--output", options->output, "Output folder (default: current)");
       command.add_flag("--json", options->json, "Print the result as JSON");
       return [options, &global] { return RunDemux(*options, global); };
     }});

}  // namespace
}  // namespace tessel::cli
