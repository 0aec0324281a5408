#include "model/edit_commands.h"

#include <string>

#include "model/track_kinds.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"

namespace tessel {
namespace {

constexpr int kStringAlreadyAdded = 9452;

JobResult Refuse(const std::string& text) {
  ShowMessage(text);
  return JobResult::kFailed;
}

JobResult RefuseFile(const std::filesystem::path& path, const char* text) {
  return Refuse(Format("%s\r\n%s", path.string().c_str(), text));
}

JobResult AnalysisResult(int result) {
  return result == 1 ? JobResult::kCancelled : JobResult::kFailed;
}

// The file as a new track, analysed; null with the result when it cannot be.
std::unique_ptr<SRawTrack> Analyse(const std::filesystem::path& path, bool primary,
                                   const ProgressCallback& progress, JobResult& result) {
  int opened = 2;
  std::unique_ptr<SRawTrack> track = SRawTrack::Create(path, primary, progress, &opened);
  if (!track) result = AnalysisResult(opened);
  return track;
}

// A replacement must be of the replaced track's kind.
bool SameKind(const SMuxTrack& original, const SRawTrack& replacement) {
  return GetKind(original) == GetKind(replacement);
}

// The checks of "Replace Track", then `apply` with the analysed file.
template <typename Apply>
JobResult Replace(const SRipTrack& original, const SRawTracks& added,
                  const std::filesystem::path& path, bool primary, const ProgressCallback& progress,
                  Apply apply) {
  if (original.cleared) return Refuse("Track has been cleared, substitute failed! ");
  if (added.Find(path, false) >= 0) return RefuseFile(path, LoadString(kStringAlreadyAdded));
  JobResult result = JobResult::kDone;
  std::unique_ptr<SRawTrack> track = Analyse(path, primary, progress, result);
  if (!track) return result;
  if (!SameKind(original, *track)) {
    return RefuseFile(path, "Track type is different, substitute failed! ");
  }
  return apply(std::move(track)) ? JobResult::kDone : JobResult::kFailed;
}

}  // namespace

JobResult AddTrackCommand(CClpiObject& clip, const std::filesystem::path& path,
                          const ProgressCallback& progress) {
  // Only movie clips are edited; the view offers nothing for the others.
  if (!clip.IsMovieClip()) return JobResult::kFailed;
  if (clip.new_tracks.Find(path, false) >= 0) {
    return RefuseFile(path, LoadString(kStringAlreadyAdded));
  }
  const int rows = static_cast<int>(clip.OutputTracks().size());
  JobResult result = JobResult::kDone;
  std::unique_ptr<SRawTrack> track = Analyse(path, true, progress, result);
  if (!track) return result;
  SRawTrack* added = clip.AddCreatedTrack(std::move(track));
  if (!added) return JobResult::kFailed;
  added->order = rows;
  return JobResult::kDone;
}

JobResult ReplaceTrackCommand(CClpiObject& clip, int index, const std::filesystem::path& path,
                              bool primary, const ProgressCallback& progress) {
  if (index < 0 || index >= clip.TrackCount()) return JobResult::kFailed;
  SRipTrack& original = *clip.original_tracks[static_cast<size_t>(index)];
  return Replace(original, clip.new_tracks, path, primary, progress,
                 [&](std::unique_ptr<SRawTrack> track) {
                   return clip.ReplaceWithTrack(original, std::move(track)) != nullptr;
                 });
}

JobResult ClearTrackCommand(CClpiObject& clip, int index, bool cleared) {
  if (index < 0 || index >= clip.TrackCount()) return JobResult::kFailed;
  if (cleared && clip.original_tracks[static_cast<size_t>(index)]->replacement) {
    return Refuse("Can not be cleared as it has been replaced! ");
  }
  clip.SetCleared(index, cleared);
  return JobResult::kDone;
}

JobResult DeleteTrackCommand(CClpiObject& clip, int index) {
  if (index < 0 || static_cast<size_t>(index) >= clip.new_tracks.size()) return JobResult::kFailed;
  const std::filesystem::path path = clip.new_tracks[static_cast<size_t>(index)].MainPath();
  return clip.DeleteNewTrack(path, clip.Author()) ? JobResult::kDone : JobResult::kFailed;
}

JobResult AddTrackCommand(CMplsObject& playlist, const std::filesystem::path& path,
                          const ProgressCallback& progress) {
  if (!playlist.HasDistinctClips()) {
    return Refuse("Mpls mode is only valid for mpls containing multiple m2ts! ");
  }
  if (playlist.new_tracks.Find(path, false) >= 0) {
    return RefuseFile(path, LoadString(kStringAlreadyAdded));
  }
  const int rows = static_cast<int>(playlist.OutputTracks().size());
  JobResult result = JobResult::kDone;
  std::unique_ptr<SRawTrack> track = Analyse(path, true, progress, result);
  if (!track) return result;
  SRawTrack* added = playlist.SpreadTrack(std::move(track), nullptr);
  if (!added) return JobResult::kFailed;
  added->order = rows;
  return JobResult::kDone;
}

JobResult AddEmptyTrackCommand(CMplsObject& playlist, const std::filesystem::path& path,
                               const ProgressCallback& progress) {
  if (playlist.new_tracks.Find(path, true) >= 0) {
    return RefuseFile(path, LoadString(kStringAlreadyAdded));
  }
  const int rows = static_cast<int>(playlist.OutputTracks().size());
  int opened = 2;
  SRawTrack* added = playlist.AddEmptyTrack(path, progress, &opened);
  if (!added) return AnalysisResult(opened);
  added->order = rows;
  return JobResult::kDone;
}

JobResult ReplaceTrackCommand(CMplsObject& playlist, int index, const std::filesystem::path& path,
                              bool primary, const ProgressCallback& progress) {
  if (index < 0 || static_cast<size_t>(index) >= playlist.tracks.size()) return JobResult::kFailed;
  SRipTrack& original = *playlist.tracks[static_cast<size_t>(index)];
  return Replace(original, playlist.new_tracks, path, primary, progress,
                 [&](std::unique_ptr<SRawTrack> track) {
                   return playlist.SpreadTrack(std::move(track), &original) != nullptr;
                 });
}

JobResult ClearTrackCommand(CMplsObject& playlist, int index, bool cleared) {
  if (index < 0 || static_cast<size_t>(index) >= playlist.tracks.size()) return JobResult::kFailed;
  if (cleared && playlist.tracks[static_cast<size_t>(index)]->replacement) {
    return Refuse("Can not be cleared as it has been replaced! ");
  }
  playlist.SetClearedAt(index, cleared);
  return JobResult::kDone;
}

JobResult DeleteTrackCommand(CMplsObject& playlist, int index) {
  return playlist.DeleteNewTrack(playlist.Author(), index) ? JobResult::kDone : JobResult::kFailed;
}

JobResult RelatedVisibleCommand(CMplsObject& playlist, int index, bool visible) {
  if (index < 0 || static_cast<size_t>(index) >= playlist.tracks.size()) return JobResult::kFailed;
  playlist.SetVisibleRelated(index, visible);
  return JobResult::kDone;
}

}  // namespace tessel
