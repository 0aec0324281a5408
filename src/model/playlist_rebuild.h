// A playlist rewritten for the output disc: its play items, marks, sub-paths and stream tables
// brought in line with the clips as they are built.
#pragma once

#include <cstdint>

#include "formats/mpls.h"
#include "model/playlist_object.h"

namespace tessel {

// Rewrites `copy` (a deep copy of `playlist`'s file record) for the output: clips that end up
// empty leave, times follow cut clips, stream tables list the visible and new tracks in output
// order with the output PIDs. False (after a message) when the playlist cannot be written.
bool RebuildForOutput(const CMplsObject& playlist, Mpls& copy);

}  // namespace tessel
