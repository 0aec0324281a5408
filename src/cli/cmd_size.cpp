// `tessel size DISC [--clip N | --playlist N] [--json]`: what a build of the disc would weigh.
// Scans the clips (or the one clip or playlist named) for the packets of every track, lists each
// track with its count and size, and ends with the estimate against 25 GB and 50 GB discs.
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/app.h"
#include "cli/dump_json.h"
#include "cli/interrupt.h"
#include "cli/progress_bar.h"
#include "model/bd_disc.h"
#include "model/size_estimate.h"
#include "model/track_texts.h"
#include "platform/format.h"
#include "platform/prompt.h"

namespace tessel::cli {
namespace {

using nlohmann::ordered_json;

struct SizeOptions {
  std::string disc;
  std::optional<int> clip;
  std::optional<int> playlist;
  bool json = false;
};

const char* TrackState(const SRipTrack& track) {
  if (track.replacement) return "replaced";
  if (!track.keep) return "dropped";
  if (track.cleared) return "cleared";
  return "kept";
}

ordered_json TrackJson(const SRipTrack& track) {
  return {{"clip", track.clip_number},      {"pid", track.pid},
          {"codec", TrackCodecText(track)}, {"state", TrackState(track)},
          {"packets", track.packet_count},  {"size", SizeText(track.packet_count)}};
}

ordered_json NewTrackJson(const SRawTrack& track) {
  const char* name = CodingTypeName(track.CodingType());
  return {{"path", track.MainPath().string()},
          {"codec", name ? name : Format("0x%02X", track.CodingType())},
          {"empty", track.IsEmpty()},
          {"bytes", NewTrackBytes(track)}};
}

// One listed clip or playlist: its original tracks, then its new ones.
template <class Object>
ordered_json ObjectJson(const char* kind, const Object& object, const SRipTracks& tracks) {
  ordered_json out = {{kind, object.id()}, {"tracks", ordered_json::array()}};
  for (const auto& track : tracks) out["tracks"].push_back(TrackJson(*track));
  out["new_tracks"] = ordered_json::array();
  for (size_t i = 0; i < object.new_tracks.size(); ++i) {
    out["new_tracks"].push_back(NewTrackJson(object.new_tracks[i]));
  }
  return out;
}

ordered_json EstimateJson(uint64_t database, const STrackSizes& sizes) {
  const SDiscEstimate estimate = EstimateDisc(database, sizes);
  const SEstimateTexts texts = EstimateTexts(estimate);
  return {{"database_bytes", database},
          {"old_bytes", sizes.old_bytes},
          {"new_bytes", sizes.new_bytes},
          {"total_bytes", estimate.total_bytes},
          {"database_packets", estimate.database_packets},
          {"old_packets", estimate.old_packets},
          {"new_packets", estimate.new_packets},
          {"free25_packets", estimate.free25_packets},
          {"free50_packets", estimate.free50_packets},
          {"texts",
           {{"database", texts.database},
            {"old", texts.old_tracks},
            {"new", texts.new_tracks},
            {"free25", texts.free25},
            {"max25", texts.max25},
            {"free50", texts.free50},
            {"max50", texts.max50}}},
          {"message", EstimateMessage(texts)}};
}

void PrintListed(const ordered_json& listed) {
  for (const ordered_json& object : listed) {
    const bool clip = object.contains("clip");
    std::printf(clip ? "%05d.m2ts\n" : "%05d.mpls\n",
                object[clip ? "clip" : "playlist"].get<int>());
    for (const ordered_json& track : object["tracks"]) {
      std::printf("  %05d.m2ts  0x%04X  %s  %s  %llu packets  %s\n", track["clip"].get<int>(),
                  track["pid"].get<unsigned>(), track["codec"].get<std::string>().c_str(),
                  track["state"].get<std::string>().c_str(),
                  static_cast<unsigned long long>(track["packets"].get<uint64_t>()),
                  track["size"].get<std::string>().c_str());
    }
    for (const ordered_json& track : object["new_tracks"]) {
      std::printf("  new  %s  %s  %llu bytes\n", track["path"].get<std::string>().c_str(),
                  track["codec"].get<std::string>().c_str(),
                  static_cast<unsigned long long>(track["bytes"].get<uint64_t>()));
    }
  }
}

// Scans what the options name and lists it.
JobResult ScanListed(CBDDisc& disc, const SizeOptions& options, const ProgressCallback& progress,
                     ordered_json& listed) {
  listed = ordered_json::array();
  if (options.playlist) {
    CMplsObject* playlist = nullptr;
    for (const auto& item : disc.playlists()->items()) {
      if (item->id() == *options.playlist) playlist = item.get();
    }
    if (!playlist) {
      ShowMessage(Format("The disc has no playlist %05d", *options.playlist));
      return JobResult::kFailed;
    }
    const JobResult scanned = ScanTrackSizes(*playlist, progress);
    if (scanned == JobResult::kDone) {
      listed.push_back(ObjectJson("playlist", *playlist, playlist->tracks));
    }
    return scanned;
  }
  for (const auto& clip : disc.clips()->items()) {
    if (options.clip && clip->id() != *options.clip) continue;
    const JobResult scanned = ScanTrackSizes(*clip, progress);
    if (scanned != JobResult::kDone) return scanned;
    listed.push_back(ObjectJson("clip", *clip, clip->original_tracks));
  }
  if (options.clip && listed.empty()) {
    ShowMessage(Format("The disc has no clip %05d", *options.clip));
    return JobResult::kFailed;
  }
  return JobResult::kDone;
}

JobResult RunSize(const SizeOptions& options, const GlobalOptions& global) {
  CBDDisc disc;
  if (!disc.Open(options.disc)) return JobResult::kFailed;  // the disc has shown why
  ProgressBar bar(global.quiet);
  const ProgressCallback draw = bar.Callback();
  InterruptGuard guard;
  const ProgressCallback progress = [&](const ProgressRecord& record) {
    return draw(record) && !Interrupted();
  };
  ordered_json listed;
  JobResult result = ScanListed(disc, options, progress, listed);
  STrackSizes sizes;
  if (result == JobResult::kDone) result = TrackSizes(*disc.clips(), progress, sizes);
  bar.Finish();
  if (result != JobResult::kDone) return result;
  const ordered_json estimate = EstimateJson(DatabaseSize(disc), sizes);
  if (options.json) {
    const ordered_json out = {{"listed", listed}, {"estimate", estimate}};
    std::cout << JsonText(out) << "\n";
  } else {
    PrintListed(listed);
    std::printf("%s\n", estimate["message"].get<std::string>().c_str());
  }
  return JobResult::kDone;
}

const bool registered = RegisterCommand(
    {"size", "Estimate the size of a build of the disc against 25 GB and 50 GB discs",
     [](CLI::App& command, const GlobalOptions& global) -> CommandAction {
       auto options = std::make_shared<SizeOptions>();
       command.add_option("disc", options->disc, "The BDMV folder or the folder that holds it")
           ->required();
       auto* clip = command.add_option("--clip", options->clip, "Scan and list only this clip");
       command.add_option("--playlist", options->playlist, "Scan and list only this playlist")
           ->excludes(clip);
       command.add_flag("--json", options->json, "Print the result as JSON");
       return [options, &global] { return RunSize(*options, global); };
     }});

}  // namespace
}  // namespace tessel::cli
