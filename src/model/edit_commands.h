// One entry point per user command of the clip and playlist views, shared by both front ends:
// each runs the checks a user's request must pass (telling the user through the prompt service),
// then the model operation. A refused or failed command leaves the model as it was.
//
// Results: done; cancelled (an analysis the user stopped); failed (the message has been shown).
// Each command that is done appends itself to the disc's edit record, so that the record replays
// to the same state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "model/clip_object.h"
#include "model/edit_list.h"
#include "model/playlist_object.h"
#include "platform/common.h"
#include "platform/progress.h"

namespace tessel {

// ---- clip view ----

// "Add track": refuses a file that already is a new track of the clip ("Stream has already been
// added ! "), else analyses and adds it at the end of the output order, limited to `range` when
// one is given.
JobResult AddTrackCommand(CClpiObject& clip, const std::filesystem::path& path,
                          const ProgressCallback& progress, const SEditRange* range = nullptr);
// "Replace Track" of original track `index`: refuses a cleared track, a file already added and a
// file of another kind ("Track type is different, substitute failed! ").
JobResult ReplaceTrackCommand(CClpiObject& clip, int index, const std::filesystem::path& path,
                              bool primary, const ProgressCallback& progress);
// "Clear Track" / "Cancel Clearing" of original track `index`: a replaced track is not cleared.
JobResult ClearTrackCommand(CClpiObject& clip, int index, bool cleared);
// "Delete" of new track `index`, on behalf of the clip (only its own tracks).
JobResult DeleteTrackCommand(CClpiObject& clip, int index);
// The check box of original track `index`.
JobResult KeepTrackCommand(CClpiObject& clip, int index, bool keep);
// The language (a row of the language table) and the delay of new track `index`.
JobResult NewTrackLanguageCommand(CClpiObject& clip, int index, int language);
JobResult NewTrackDelayCommand(CClpiObject& clip, int index, int32_t delay_ms);
// The cut: in point and out point (none: the end) in milliseconds after the clip's start, each
// moved to the nearest entry point.
JobResult CutCommand(CClpiObject& clip, int64_t in_ms, std::optional<int64_t> out_ms);

// ---- playlist view ----

// "Add track": needs several distinct clips ("Mpls mode is only valid for mpls containing
// multiple m2ts! ") and a file not yet added; adds it as a primary track across the clips.
JobResult AddTrackCommand(CMplsObject& playlist, const std::filesystem::path& path,
                          const ProgressCallback& progress);
// "Add empty track": a file not yet added as an empty track; never video.
JobResult AddEmptyTrackCommand(CMplsObject& playlist, const std::filesystem::path& path,
                               const ProgressCallback& progress);
// "Replace Track" of track `index` across the clips, with the clip view's refusals.
JobResult ReplaceTrackCommand(CMplsObject& playlist, int index, const std::filesystem::path& path,
                              bool primary, const ProgressCallback& progress);
// "Clear Track" / "Cancel Clearing" of track `index` in every play item's clip.
JobResult ClearTrackCommand(CMplsObject& playlist, int index, bool cleared);
// "Delete" of new track `index`, on behalf of the playlist (only its own tracks).
JobResult DeleteTrackCommand(CMplsObject& playlist, int index);
// "Delete from related M2ts" (visible false) / "Cancel Delete" (true) of track `index`.
JobResult RelatedVisibleCommand(CMplsObject& playlist, int index, bool visible);
// The visible check box of track `index` (this playlist only).
JobResult VisibleTrackCommand(CMplsObject& playlist, int index, bool visible);
JobResult NewTrackLanguageCommand(CMplsObject& playlist, int index, int language);
JobResult NewTrackDelayCommand(CMplsObject& playlist, int index, int32_t delay_ms);
// The track order list: entry i names the current row that moves to row i.
JobResult ReorderCommand(CMplsObject& playlist, std::span<const int> permutation);

}  // namespace tessel
