#include "model/edit_commands.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "formats/tables.h"
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

SEdit ClipEdit(EditOp op, const CClpiObject& clip) {
  SEdit edit;
  edit.op = op;
  edit.clip = clip.id();
  return edit;
}

SEdit PlaylistEdit(EditOp op, const CMplsObject& playlist) {
  SEdit edit;
  edit.op = op;
  edit.playlist = playlist.id();
  return edit;
}

SEdit WithFile(SEdit edit, const std::filesystem::path& path) {
  edit.file = path;
  return edit;
}

SEdit WithTrack(SEdit edit, int index) {
  edit.track = index;
  return edit;
}

// A clip's original tracks are named by PID in the record: a PID names one of them.
SEdit WithPid(SEdit edit, const CClpiObject& clip, int index) {
  edit.pid = clip.original_tracks[static_cast<size_t>(index)]->pid;
  return edit;
}

JobResult Recorded(JobResult result, SEdit edit) {
  if (result == JobResult::kDone) RecordEdit(std::move(edit));
  return result;
}

bool IsNewTrackIndex(const SRawTracks& tracks, int index) {
  return index >= 0 && static_cast<size_t>(index) < tracks.size();
}

int32_t DelayTicks(int32_t delay_ms) {
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{delay_ms} * 90, INT32_MIN, INT32_MAX));
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

// The track opened again over a part of its file, so that its attributes describe that part.
std::unique_ptr<SRawTrack> Limit(std::unique_ptr<SRawTrack> track, const SEditRange& range) {
  SPipeSource source = track->source;
  source.range_unit = range.in_ms ? range_unit::kMilliseconds : range_unit::kUnits;
  source.range_start = range.start;
  source.range_end = range.end;
  std::unique_ptr<SRawTrack> limited = SRawTrack::FromSource(source);
  if (limited) limited->primary = track->primary;
  return limited;
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
                          const ProgressCallback& progress, const SEditRange* range) {
  // Only movie clips are edited; the view offers nothing for the others.
  if (!clip.IsMovieClip()) return JobResult::kFailed;
  if (clip.new_tracks.Find(path, false) >= 0) {
    return RefuseFile(path, LoadString(kStringAlreadyAdded));
  }
  const int rows = static_cast<int>(clip.OutputTracks().size());
  JobResult result = JobResult::kDone;
  std::unique_ptr<SRawTrack> track = Analyse(path, true, progress, result);
  if (!track) return result;
  if (range && !(track = Limit(std::move(track), *range))) return JobResult::kFailed;
  SRawTrack* added = clip.AddCreatedTrack(std::move(track));
  if (!added) return JobResult::kFailed;
  added->order = rows;
  SEdit edit = WithFile(ClipEdit(EditOp::kAdd, clip), path);
  if (range) edit.range = *range;
  RecordEdit(std::move(edit));
  return JobResult::kDone;
}

JobResult ReplaceTrackCommand(CClpiObject& clip, int index, const std::filesystem::path& path,
                              bool primary, const ProgressCallback& progress) {
  if (index < 0 || index >= clip.TrackCount()) return JobResult::kFailed;
  SRipTrack& original = *clip.original_tracks[static_cast<size_t>(index)];
  SEdit edit = WithPid(WithFile(ClipEdit(EditOp::kReplace, clip), path), clip, index);
  edit.primary = primary;
  return Recorded(Replace(original, clip.new_tracks, path, primary, progress,
                          [&](std::unique_ptr<SRawTrack> track) {
                            return clip.ReplaceWithTrack(original, std::move(track)) != nullptr;
                          }),
                  std::move(edit));
}

JobResult ClearTrackCommand(CClpiObject& clip, int index, bool cleared) {
  if (index < 0 || index >= clip.TrackCount()) return JobResult::kFailed;
  if (cleared && clip.original_tracks[static_cast<size_t>(index)]->replacement) {
    return Refuse("Can not be cleared as it has been replaced! ");
  }
  clip.SetCleared(index, cleared);
  SEdit edit = WithPid(ClipEdit(EditOp::kClear, clip), clip, index);
  edit.value = cleared;
  RecordEdit(std::move(edit));
  return JobResult::kDone;
}

JobResult DeleteTrackCommand(CClpiObject& clip, int index) {
  if (!IsNewTrackIndex(clip.new_tracks, index)) return JobResult::kFailed;
  const std::filesystem::path path = clip.new_tracks[static_cast<size_t>(index)].MainPath();
  if (!clip.DeleteNewTrack(path, clip.Author())) return JobResult::kFailed;
  RecordEdit(WithFile(ClipEdit(EditOp::kDelete, clip), path));
  return JobResult::kDone;
}

JobResult KeepTrackCommand(CClpiObject& clip, int index, bool keep) {
  if (index < 0 || index >= clip.TrackCount()) return JobResult::kFailed;
  clip.SetKeepAt(index, keep);
  RecordEdit(WithPid(ClipEdit(keep ? EditOp::kKeep : EditOp::kDrop, clip), clip, index));
  return JobResult::kDone;
}

JobResult NewTrackLanguageCommand(CClpiObject& clip, int index, int language) {
  if (!IsNewTrackIndex(clip.new_tracks, index)) return JobResult::kFailed;
  const std::filesystem::path path = clip.new_tracks[static_cast<size_t>(index)].MainPath();
  clip.SetNewTrackLanguage(path, language);
  SEdit edit = WithFile(ClipEdit(EditOp::kLanguage, clip), path);
  edit.language = LanguageAt(language).code;
  RecordEdit(std::move(edit));
  return JobResult::kDone;
}

JobResult NewTrackDelayCommand(CClpiObject& clip, int index, int32_t delay_ms) {
  if (!IsNewTrackIndex(clip.new_tracks, index)) return JobResult::kFailed;
  clip.SetNewTrackDelay(index, delay_ms);
  SEdit edit = WithFile(ClipEdit(EditOp::kDelay, clip),
                        clip.new_tracks[static_cast<size_t>(index)].MainPath());
  edit.delay_ms = delay_ms;
  RecordEdit(std::move(edit));
  return JobResult::kDone;
}

JobResult CutCommand(CClpiObject& clip, int64_t in_ms, std::optional<int64_t> out_ms) {
  if (!clip.IsMovieClip()) return JobResult::kFailed;
  // Past the clip's length the out point is the end, so "none" asks for a time beyond any clip.
  constexpr int64_t kPastAnyEnd = INT64_MAX / 2;
  clip.SetInPoint(std::clamp<int64_t>(in_ms, 0, kPastAnyEnd / 90) * 90);
  clip.SetOutPoint(out_ms ? std::clamp<int64_t>(*out_ms, 0, kPastAnyEnd / 90) * 90 : kPastAnyEnd);
  SEdit edit = ClipEdit(EditOp::kCut, clip);
  edit.in_ms = in_ms;
  edit.out_ms = out_ms;
  RecordEdit(std::move(edit));
  return JobResult::kDone;
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
  RecordEdit(WithFile(PlaylistEdit(EditOp::kAdd, playlist), path));
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
  SEdit edit = WithFile(PlaylistEdit(EditOp::kAdd, playlist), path);
  edit.empty = true;
  RecordEdit(std::move(edit));
  return JobResult::kDone;
}

JobResult ReplaceTrackCommand(CMplsObject& playlist, int index, const std::filesystem::path& path,
                              bool primary, const ProgressCallback& progress) {
  if (index < 0 || static_cast<size_t>(index) >= playlist.tracks.size()) return JobResult::kFailed;
  SRipTrack& original = *playlist.tracks[static_cast<size_t>(index)];
  SEdit edit = WithTrack(WithFile(PlaylistEdit(EditOp::kReplace, playlist), path), index);
  edit.primary = primary;
  return Recorded(Replace(original, playlist.new_tracks, path, primary, progress,
                          [&](std::unique_ptr<SRawTrack> track) {
                            return playlist.SpreadTrack(std::move(track), &original) != nullptr;
                          }),
                  std::move(edit));
}

JobResult ClearTrackCommand(CMplsObject& playlist, int index, bool cleared) {
  if (index < 0 || static_cast<size_t>(index) >= playlist.tracks.size()) return JobResult::kFailed;
  if (cleared && playlist.tracks[static_cast<size_t>(index)]->replacement) {
    return Refuse("Can not be cleared as it has been replaced! ");
  }
  playlist.SetClearedAt(index, cleared);
  SEdit edit = WithTrack(PlaylistEdit(EditOp::kClear, playlist), index);
  edit.value = cleared;
  RecordEdit(std::move(edit));
  return JobResult::kDone;
}

JobResult DeleteTrackCommand(CMplsObject& playlist, int index) {
  if (!IsNewTrackIndex(playlist.new_tracks, index)) return JobResult::kFailed;
  SEdit edit = PlaylistEdit(EditOp::kDelete, playlist);
  edit.new_track = index;
  if (!playlist.DeleteNewTrack(playlist.Author(), index)) return JobResult::kFailed;
  RecordEdit(std::move(edit));
  return JobResult::kDone;
}

JobResult RelatedVisibleCommand(CMplsObject& playlist, int index, bool visible) {
  if (index < 0 || static_cast<size_t>(index) >= playlist.tracks.size()) return JobResult::kFailed;
  playlist.SetVisibleRelated(index, visible);
  SEdit edit = WithTrack(PlaylistEdit(EditOp::kVisible, playlist), index);
  edit.value = visible;
  edit.related = true;
  RecordEdit(std::move(edit));
  return JobResult::kDone;
}

JobResult VisibleTrackCommand(CMplsObject& playlist, int index, bool visible) {
  if (!playlist.SetVisibleAt(index, visible, false)) return JobResult::kFailed;
  SEdit edit = WithTrack(PlaylistEdit(EditOp::kVisible, playlist), index);
  edit.value = visible;
  RecordEdit(std::move(edit));
  return JobResult::kDone;
}

JobResult NewTrackLanguageCommand(CMplsObject& playlist, int index, int language) {
  if (!IsNewTrackIndex(playlist.new_tracks, index)) return JobResult::kFailed;
  playlist.SetNewTrackLanguage(index, language);
  SEdit edit = PlaylistEdit(EditOp::kLanguage, playlist);
  edit.new_track = index;
  edit.language = LanguageAt(language).code;
  RecordEdit(std::move(edit));
  return JobResult::kDone;
}

JobResult NewTrackDelayCommand(CMplsObject& playlist, int index, int32_t delay_ms) {
  if (!IsNewTrackIndex(playlist.new_tracks, index)) return JobResult::kFailed;
  playlist.SetNewTrackDelay(index, DelayTicks(delay_ms));
  SEdit edit = PlaylistEdit(EditOp::kDelay, playlist);
  edit.new_track = index;
  edit.delay_ms = delay_ms;
  RecordEdit(std::move(edit));
  return JobResult::kDone;
}

JobResult ReorderCommand(CMplsObject& playlist, std::span<const int> permutation) {
  if (!playlist.Reorder(permutation)) return JobResult::kFailed;
  SEdit edit = PlaylistEdit(EditOp::kOrder, playlist);
  edit.order.assign(permutation.begin(), permutation.end());
  RecordEdit(std::move(edit));
  return JobResult::kDone;
}

}  // namespace tessel
