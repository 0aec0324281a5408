// The order of the streams of a clip's or a playlist's output: what the track order lists show
// and what the multiplexer and the stream tables follow.
#pragma once

#include <span>
#include <vector>

#include "model/track_kinds.h"

namespace tessel {

// The kept original tracks followed by the new tracks, sorted stably by order position. At equal
// positions a new track comes first (it took the position over from the original it replaces),
// then the lower output PID.
std::vector<const SMuxTrack*> OutputOrder(const SRipTracks& originals,
                                          std::span<const SMuxTrack* const> new_tracks = {});

}  // namespace tessel
