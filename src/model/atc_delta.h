// The arrival-time deltas of seamless joins: clip information of a clip that connects seamlessly
// to a following clip names that clip and the arrival-time step between the two streams.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/bd_disc.h"
#include "model/clip_object.h"
#include "mux/byte_io.h"
#include "platform/common.h"
#include "platform/progress.h"

namespace tessel {

// Patches the clip information files in `output_bdmv` (a BDMV folder ending with '/') of every
// clip that joins a follower with connection condition 5, where the clip or its follower was
// rebuilt, and refreshes their copies in BACKUP/CLIPINF. A delta whose timing cannot be worked
// out keeps its stored value. Failed: the file system's text was shown; cancelled: the callback
// said so (position records, one per recomputed delta).
JobResult UpdateAtcDeltas(CBDDisc& disc, const std::string& output_bdmv,
                          const ProgressCallback& progress);

// The ATC delta of clip timing `c` followed by `n` (27 MHz values): where the follower's arrival
// clock continues, at least `c`'s first end margin and one packet at `c`'s rate after `c` ends. 0
// when `c` has no rate or no frame duration.
uint32_t AtcDelta(const SClipTiming& c, const SClipTiming& n);
// The same for two clips' output timings.
inline uint32_t AtcDelta(const CClpiObject& c, const CClpiObject& n) {
  return AtcDelta(c.output_timing, n.output_timing);
}

// Whether the timing holds the four values a delta needs beyond the clip information: first and
// last video PTS, time of the first packet and time after the last packet.
bool IsTimingComplete(const SClipTiming& timing);

// What the timing measurement finds in a stream file; 27 MHz values.
struct SStreamTiming {
  uint64_t first_video_pts = 0;    // smallest PTS of the first four PES packets of PID 0x1011
  uint64_t last_video_pts = 0;     // largest PTS of the last four
  uint64_t first_packet_time = 0;  // system time of the first packet, from the first PCR
  uint64_t end_packet_time = 0;    // system time after the last packet, from the last PCR
  uint64_t rate = 0;               // bits per second, from the arrival steps at the start
};

// Measures a stream of 192-byte source packets (a partial packet at the end is not one). Nothing
// when the first packets show no arrival step (no rate), there is no PTS on the primary video PID
// or no PCR on the PCR PID, or a read fails.
std::optional<SStreamTiming> MeasureStreamTiming(CByteSource& stream);

}  // namespace tessel
