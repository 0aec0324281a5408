// Build: a complete new BDMV folder from the loaded disc and the user's edits. Changed clips are
// remultiplexed, changed playlists rebuilt, everything else copied.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "model/bd_disc.h"
#include "platform/common.h"
#include "platform/progress.h"

namespace tessel {

// What one build did, for the front ends (the command line lists it with --json).
struct SBuildReport {
  JobResult result = JobResult::kFailed;
  std::string output_bdmv;         // ends with '/'; empty when the command ended before it
  std::vector<int> rebuilt_clips;  // remultiplexed or written as the empty clip
  std::vector<int> copied_clips;   // copied unchanged (or already identical)
  std::vector<int> written_playlists;
  std::vector<int> copied_playlists;
  // Files the copies moved, and those left alone because the output already held them.
  uint64_t copied_files = 0;
  uint64_t copied_bytes = 0;
  uint64_t skipped_files = 0;
  std::chrono::milliseconds copy_time{0};  // spent inside the copies
  std::string final_message;  // shown at the end; empty when the command ended before the build
  std::chrono::system_clock::time_point start, end;
};

// The checks before a build: the modified clips in list order, then the playlists with one ask
// flag. 0, or 2 after the first failing rule's message (or a question not answered Yes).
int CheckDiscBeforeBuild(CBDDisc& disc);

// Writes the new disc into `output_bdmv` (which the preparation made). 0 done, 1 cancelled, 2
// failed after a message; a cancel or failure runs no further step.
JobResult Build(CBDDisc& disc, const std::string& output_bdmv, const ProgressCallback& progress,
                SBuildReport* report = nullptr);

// Releases what a build kept per clip; called after every build whatever its result.
void ResetClips(CBDDisc& disc);

// The build command once the user has chosen `chosen_folder`: the checks, the refusal of an output
// that overlaps the source, the preparation of the project folder, then `on_start` (the front end
// shows its build window there), the log line "Start to build...", the build, ResetClips and the
// final message through the prompt service.
SBuildReport RunBuildCommand(CBDDisc& disc, const std::string& chosen_folder,
                             const std::function<void()>& on_start,
                             const ProgressCallback& progress);

}  // namespace tessel
