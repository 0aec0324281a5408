// The remultiplex of one clip: its kept original streams read back from the old transport
// stream, its new streams from their files, written as a new stream with new clip information
// and entry point map.
#pragma once

#include <filesystem>
#include <optional>

#include "model/clip_object.h"
#include "mux/muxer.h"
#include "platform/common.h"
#include "platform/progress.h"

namespace tessel {

// Writes the clip's kept and new tracks into `stream_out` and `clpi_out` and records the new
// timing in `clip.output_timing` (and `clip.built`). Cancelled or failed: both outputs are
// removed; failed: a message was shown.
JobResult RemuxClip(CClpiObject& clip, const std::filesystem::path& stream_out,
                    const std::filesystem::path& clpi_out,
                    const std::optional<SSeamlessRequest>& seamless,
                    const ProgressCallback& progress);

}  // namespace tessel
