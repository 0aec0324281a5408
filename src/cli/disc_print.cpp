#include "cli/disc_print.h"

#include <cstdio>
#include <string>

#include "formats/tables.h"
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

std::string CodecText(uint8_t coding_type) {
  const char* name = CodingTypeShortName(coding_type);
  return name ? name : Format("0x%02X", coding_type);
}

std::string AuthorText(const STrackAuthor& author) {
  switch (author.kind) {
    case STrackAuthor::Kind::kClip:
      return Format("clip %05d", author.number);
    case STrackAuthor::Kind::kPlaylist:
      return Format("playlist %05d", author.number);
    case STrackAuthor::Kind::kNone:
      break;
  }
  return "none";
}

// ", kept, cleared, replaced": the decisions on an original track.
std::string OriginalState(const SRipTrack& track, const char* kept, const char* unkept) {
  std::string text = track.keep ? kept : unkept;
  if (track.cleared) text += ", cleared";
  if (track.replacement) text += ", replaced";
  return text;
}

std::string NewTrackLine(const SRawTrack& track) {
  std::string line = Format("new %s, %s, %s, delay %d ms, author %s, order %d",
                            track.MainPath().filename().string().c_str(),
                            CodecText(track.CodingType()).c_str(), track.LanguageCode().c_str(),
                            track.delay / 90, AuthorText(track.author).c_str(), track.order);
  if (!track.primary) line += ", secondary";
  if (track.IsPropagated()) line += ", copy";
  if (track.IsEmpty()) line += ", empty";
  if (track.replacement) line += ", replaces";
  return line;
}

json NewTrackJson(const SRawTrack& track) {
  return {{"file", track.MainPath().string()},
          {"coding_type", track.CodingType()},
          {"codec", CodecText(track.CodingType())},
          {"language", track.LanguageCode()},
          {"delay_ms", track.delay / 90},
          {"author", AuthorText(track.author)},
          {"order", track.order},
          {"primary", track.primary != 0},
          {"copy", track.IsPropagated()},
          {"empty", track.IsEmpty()},
          {"replaces", track.replacement != nullptr}};
}

std::string CutLine(const CClpiObject& clip) {
  return Format("cut %lld-%lld ms, packets %u-%u", static_cast<long long>(clip.in_offset / 90),
                static_cast<long long>(clip.out_offset / 90), clip.in_point, clip.out_point);
}

bool HasCut(const CClpiObject& clip) {
  return clip.in_point != 0 || clip.out_point != CClpiObject::kToEnd;
}

void PrintClipTracks(const CClpiObject& clip, const DiscPrintOptions& options) {
  for (const auto& track : clip.original_tracks) {
    if (!options.edit_state) {
      std::printf("      %s\n", TrackLine(*track).c_str());
      continue;
    }
    std::printf("      %s, %s\n", TrackLine(*track).c_str(),
                OriginalState(*track, "kept", "dropped").c_str());
  }
  if (!options.edit_state) return;
  for (size_t i = 0; i < clip.new_tracks.size(); ++i) {
    std::printf("      %s\n", NewTrackLine(clip.new_tracks[i]).c_str());
  }
  if (HasCut(clip)) std::printf("      %s\n", CutLine(clip).c_str());
  std::printf("      %s\n", clip.IsModified() ? "modified" : "unchanged");
}

void PrintPlaylistTracks(const CMplsObject& playlist, const DiscPrintOptions& options) {
  for (const auto& track : playlist.tracks) {
    std::printf("    %s, %s%s\n", TrackLine(*track).c_str(),
                options.edit_state ? OriginalState(*track, "visible", "hidden").c_str()
                                   : (track->keep ? "visible" : "hidden"),
                track->sub_path ? ", sub-path" : "");
  }
  if (!options.edit_state) return;
  for (size_t i = 0; i < playlist.new_tracks.size(); ++i) {
    std::printf("    %s\n", NewTrackLine(playlist.new_tracks[i]).c_str());
  }
  std::printf("    %s\n", playlist.IsModified() ? "modified" : "unchanged");
}

json ClipJson(const CClpiObject& clip, const DiscPrintOptions& options) {
  json out = {{"label", ClipLabel(clip)},
              {"number", clip.id()},
              {"file", Format("%05d.m2ts", clip.id())},
              {"size", SizeText(clip.PacketCount())},
              {"track_count", clip.TrackCount()}};
  if (!options.tracks) return out;
  out["tracks"] = json::array();
  for (const auto& track : clip.original_tracks) {
    json entry = TrackJson(*track);
    if (options.edit_state) {
      entry["kept"] = track->keep != 0;
      entry["cleared"] = track->cleared != 0;
      entry["replaced"] = track->replacement != nullptr;
      entry["order"] = track->order;
    }
    out["tracks"].push_back(std::move(entry));
  }
  if (!options.edit_state) return out;
  out["new_tracks"] = json::array();
  for (size_t i = 0; i < clip.new_tracks.size(); ++i) {
    out["new_tracks"].push_back(NewTrackJson(clip.new_tracks[i]));
  }
  out["cut"] = {{"in_ms", clip.in_offset / 90},
                {"out_ms", clip.out_offset / 90},
                {"in_point", clip.in_point},
                {"out_point", clip.out_point},
                {"active", HasCut(clip)}};
  out["modified"] = clip.IsModified();
  return out;
}

json PlaylistJson(const CMplsObject& playlist, const DiscPrintOptions& options) {
  json out = {{"label", PlaylistLabel(playlist)},
              {"name", playlist.name()},
              {"number", playlist.id()},
              {"duration", TimeText(playlist.DurationMs())},
              {"play_item_count", playlist.play_items.size()}};
  if (!options.tracks) return out;
  out["tracks"] = json::array();
  for (const auto& track : playlist.tracks) {
    json entry = TrackJson(*track);
    entry["visible"] = track->keep != 0;
    entry["sub_path"] = track->sub_path != 0;
    entry["clip"] = track->clip_number;
    if (options.edit_state) {
      entry["replaced"] = track->replacement != nullptr;
      entry["order"] = track->order;
    }
    out["tracks"].push_back(std::move(entry));
  }
  if (!options.edit_state) return out;
  out["new_tracks"] = json::array();
  for (size_t i = 0; i < playlist.new_tracks.size(); ++i) {
    out["new_tracks"].push_back(NewTrackJson(playlist.new_tracks[i]));
  }
  out["modified"] = playlist.IsModified();
  return out;
}

}  // namespace

void PrintDiscText(const CBDDisc& disc, const DiscPrintOptions& options) {
  const CCofObject& clips = *disc.clips();
  std::printf("%s\n", ClipListLabel(clips).c_str());
  std::printf("  %s\n", ClipGroupLabel(clips).c_str());
  for (const auto& clip : clips.items()) {
    if (!IsListedClip(*clip)) continue;
    std::printf("    %s\n", ClipLabel(*clip).c_str());
    if (options.tracks) PrintClipTracks(*clip, options);
  }
  const CPofObject& playlists = *disc.playlists();
  std::printf("%s\n", PlaylistListLabel(playlists).c_str());
  for (const auto& playlist : playlists.items()) {
    std::printf("  %s\n", PlaylistLabel(*playlist).c_str());
    if (options.tracks) PrintPlaylistTracks(*playlist, options);
  }
}

json DiscJson(const CBDDisc& disc, const DiscPrintOptions& options) {
  json clips = {{"label", ClipListLabel(*disc.clips())},
                {"group", ClipGroupLabel(*disc.clips())},
                {"items", json::array()}};
  for (const auto& clip : disc.clips()->items()) {
    if (IsListedClip(*clip)) clips["items"].push_back(ClipJson(*clip, options));
  }
  json playlists = {{"label", PlaylistListLabel(*disc.playlists())}, {"items", json::array()}};
  for (const auto& playlist : disc.playlists()->items()) {
    playlists["items"].push_back(PlaylistJson(*playlist, options));
  }
  return {{"name", disc.name()},
          {"folder", disc.folder()},
          {"stereoscopic", disc.stereoscopic()},
          {"clips", std::move(clips)},
          {"playlists", std::move(playlists)}};
}

}  // namespace tessel::cli
