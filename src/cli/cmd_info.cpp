// `tessel info PATH`: opens a disc exactly as the application does and prints its two trees,
// the clips and the playlists, with the application's labels; optionally every track, or JSON.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/app.h"
#include "formats/tables.h"
#include "model/bd_disc.h"
#include "model/track_texts.h"
#include "platform/format.h"

namespace tessel::cli {
namespace {

using nlohmann::json;

json TrackJson(const SRipTrack& track) {
  json out = {{"pid", track.pid},
              {"coding_type", track.CodingType()},
              {"codec", TrackCodecText(track)},
              {"description", TrackDescription(track)}};
  const std::string language = TrackLanguage(track);
  if (!language.empty()) out["language"] = language;
  return out;
}

void PrintText(const CBDDisc& disc, bool tracks) {
  const CCofObject& clips = *disc.clips();
  std::printf("%s\n", ClipListLabel(clips).c_str());
  std::printf("  %s\n", ClipGroupLabel(clips).c_str());
  for (const auto& clip : clips.items()) {
    if (!IsListedClip(*clip)) continue;
    std::printf("    %s\n", ClipLabel(*clip).c_str());
    if (!tracks) continue;
    for (const auto& track : clip->original_tracks) {
      std::printf("      %s\n", TrackLine(*track).c_str());
    }
  }
  const CPofObject& playlists = *disc.playlists();
  std::printf("%s\n", PlaylistListLabel(playlists).c_str());
  for (const auto& playlist : playlists.items()) {
    std::printf("  %s\n", PlaylistLabel(*playlist).c_str());
    if (!tracks) continue;
    for (const auto& track : playlist->tracks) {
      std::printf("    %s, %s%s\n", TrackLine(*track).c_str(), track->keep ? "visible" : "hidden",
                  track->sub_path ? ", sub-path" : "");
    }
  }
}

json ClipJson(const CClpiObject& clip, bool tracks) {
  json out = {{"label", ClipLabel(clip)},
              {"number", clip.id()},
              {"file", Format("%05d.m2ts", clip.id())},
              {"size", SizeText(clip.PacketCount())},
              {"track_count", clip.TrackCount()}};
  if (!tracks) return out;
  out["tracks"] = json::array();
  for (const auto& track : clip.original_tracks) out["tracks"].push_back(TrackJson(*track));
  return out;
}

json PlaylistJson(const CMplsObject& playlist, bool tracks) {
  json out = {{"label", PlaylistLabel(playlist)},
              {"name", playlist.name()},
              {"number", playlist.id()},
              {"duration", TimeText(playlist.DurationMs())},
              {"play_item_count", playlist.play_items.size()}};
  if (!tracks) return out;
  out["tracks"] = json::array();
  for (const auto& track : playlist.tracks) {
    json entry = TrackJson(*track);
    entry["visible"] = track->keep != 0;
    entry["sub_path"] = track->sub_path != 0;
    entry["clip"] = track->clip_number;
    out["tracks"].push_back(std::move(entry));
  }
  return out;
}

json DiscJson(const CBDDisc& disc, bool tracks) {
  json clips = {{"label", ClipListLabel(*disc.clips())},
                {"group", ClipGroupLabel(*disc.clips())},
                {"items", json::array()}};
  for (const auto& clip : disc.clips()->items()) {
    if (IsListedClip(*clip)) clips["items"].push_back(ClipJson(*clip, tracks));
  }
  json playlists = {{"label", PlaylistListLabel(*disc.playlists())}, {"items", json::array()}};
  for (const auto& playlist : disc.playlists()->items()) {
    playlists["items"].push_back(PlaylistJson(*playlist, tracks));
  }
  return {{"name", disc.name()},
          {"folder", disc.folder()},
          {"stereoscopic", disc.stereoscopic()},
          {"clips", std::move(clips)},
          {"playlists", std::move(playlists)}};
}

JobResult RunInfo(const std::string& path, bool tracks, bool as_json) {
  CBDDisc disc;
  if (!disc.Open(path)) return JobResult::kFailed;  // the disc has shown why
  if (as_json) {
    std::printf("%s\n", DiscJson(disc, tracks).dump(2).c_str());
  } else {
    PrintText(disc, tracks);
  }
  return JobResult::kDone;
}

const bool kRegistered = RegisterCommand(
    {"info", "Open a BDMV folder and print its clips and playlists",
     [](CLI::App& command, const GlobalOptions&) -> CommandAction {
       auto path = std::make_shared<std::string>();
       auto tracks = std::make_shared<bool>(false);
       auto as_json = std::make_shared<bool>(false);
       command.add_option("PATH", *path, "The BDMV folder or the folder that holds it")->required();
       command.add_flag("--tracks", *tracks, "Also print every clip's and playlist's tracks");
       command.add_flag("--json", *as_json, "Print the same as JSON");
       return [path, tracks, as_json] { return RunInfo(*path, *tracks, *as_json); };
     }});

}  // namespace
}  // namespace tessel::cli
