// The arrival-time deltas of seamless joins: clip information of a clip that connects seamlessly
// to a following clip names that clip and the arrival-time step between the two streams.
#pragma once

#include <string>

#include "model/bd_disc.h"
#include "platform/common.h"
#include "platform/progress.h"

namespace tessel {

// Patches the clip information files in `output_bdmv` (a BDMV folder ending with '/') of every
// clip that joins a follower with connection condition 5. Failed: the file system's text was
// shown.
JobResult UpdateAtcDeltas(CBDDisc& disc, const std::string& output_bdmv,
                          const ProgressCallback& progress);

}  // namespace tessel
