// Stand-ins for the build steps that are still being written: the remultiplex refuses, the
// playlist rebuild keeps the copy as it is, and the seamless deltas are left alone.
#include "model/atc_delta.h"
#include "model/playlist_rebuild.h"
#include "model/remux_clip.h"
#include "platform/prompt.h"

namespace tessel {

JobResult RemuxClip(CClpiObject& /*clip*/, const std::filesystem::path& /*stream_out*/,
                    const std::filesystem::path& /*clpi_out*/,
                    const std::optional<SSeamlessRequest>& /*seamless*/,
                    const ProgressCallback& /*progress*/) {
  ShowMessage("Remultiplexing is not available yet");
  return JobResult::kFailed;
}

bool RebuildForOutput(const CMplsObject& /*playlist*/, Mpls& /*copy*/) {
  return true;
}

JobResult UpdateAtcDeltas(CBDDisc& /*disc*/, const std::string& /*output_bdmv*/,
                          const ProgressCallback& /*progress*/) {
  return JobResult::kDone;
}

}  // namespace tessel
