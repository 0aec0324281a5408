// A playlist rewritten for the output disc: its play items, marks, sub-paths and stream tables
// brought in line with the clips as they are built.
#pragma once

#include <cstdint>

#include "formats/mpls.h"
#include "model/clip_object.h"
#include "model/playlist_object.h"

namespace tessel {

// RemapTime's answers for a time outside the kept part of a clip.
inline constexpr int64_t kRemapBeforeStart = 0;
inline constexpr int64_t kRemapAfterEnd = -1;

// Rewrites `copy` (a deep copy of `playlist`'s file record) for the output: play items of clips
// that end up empty leave (with the marks, sub-play items and picture-in-picture headers that
// name them), times follow cut and rebuilt clips, stream tables list the visible and new tracks
// in output order with their output PIDs, and the combination references, picture-in-picture
// sub-paths, marks and metadata follow. Reads the current clip list and changes nothing but
// `copy`. False (and `copy` untouched) when the playlist is not modified.
bool RebuildForOutput(const CMplsObject& playlist, Mpls& copy);

// A 90 kHz time of the clip's old stream on the timeline of its rebuilt stream (the output
// timing). A cut clip's old range is its kept part, whose tracks the rebuild moves back by the in
// offset. kRemapBeforeStart for a time before that range (or moved before the new start),
// kRemapAfterEnd for one after it.
int64_t RemapTime(const CClpiObject& clip, int64_t t90);

// The PID a clip's track gets in the clip's output stream: an unmodified clip keeps every PID; a
// rebuilt one has the multiplexer's; for a modified clip not rebuilt yet, the PIDs the
// multiplexer's track order will give. 0 for a track that does not go into the output.
uint32_t OutputPidOf(CClpiObject& clip, const SMuxTrack& track);

}  // namespace tessel
