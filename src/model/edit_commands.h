// One entry point per user command of the clip and playlist views, shared by both front ends:
// each runs the checks a user's request must pass (telling the user through the prompt service),
// then the model operation. A refused or failed command leaves the model as it was.
//
// Results: done; cancelled (an analysis the user stopped); failed (the message has been shown).
#pragma once

#include <filesystem>

#include "model/clip_object.h"
#include "model/playlist_object.h"
#include "platform/common.h"
#include "platform/progress.h"

namespace tessel {

// ---- clip view ----

// "Add track": refuses a file that already is a new track of the clip ("Stream has already been
// added ! "), else analyses and adds it at the end of the output order.
JobResult AddTrackCommand(CClpiObject& clip, const std::filesystem::path& path,
                          const ProgressCallback& progress);
// "Replace Track" of original track `index`: refuses a cleared track, a file already added and a
// file of another kind ("Track type is different, substitute failed! ").
JobResult ReplaceTrackCommand(CClpiObject& clip, int index, const std::filesystem::path& path,
                              bool primary, const ProgressCallback& progress);
// "Clear Track" / "Cancel Clearing" of original track `index`: a replaced track is not cleared.
JobResult ClearTrackCommand(CClpiObject& clip, int index, bool cleared);
// "Delete" of new track `index`, on behalf of the clip (only its own tracks).
JobResult DeleteTrackCommand(CClpiObject& clip, int index);

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

}  // namespace tessel
