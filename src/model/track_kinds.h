// The track records the editing logic works on: the kind of a track, the user's decisions (keep,
// primary, cleared, replacement) and the records of the tracks a clip or a playlist came with.
//
// Only the editing attributes live here; the stream-level state a remux needs (access units,
// buffer models, timing) belongs to the multiplexing layer, which extends these records.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "formats/stn.h"
#include "formats/tables.h"
#include "mux/mux_track.h"
#include "mux/raw_track.h"
#include "mux/rip_track.h"
#include "ts/psi.h"

namespace tessel {

enum class TrackKind : int { kVideo = 0, kAudio = 1, kPg = 2, kIg = 3, kOther = 4 };

TrackKind KindOfCodingType(uint8_t coding_type);

inline constexpr uint16_t kPrimaryVideoPid = 0x1011;

// Secondary audio (0x1A00..0x1A1F) and secondary video (0x1B00..0x1B1F) are the only streams a
// clip or a stream table can carry as secondary.
bool IsSecondaryPid(uint16_t pid);

TrackKind GetKind(const SMuxTrack& track);

// The first record with the PID that does not name a sub-path stream; null when none.
SRipTrack* FindByPid(const SRipTracks& tracks, uint16_t pid);

// Records of a kind with the given primary flag; `kept_only` skips unkept ones.
int CountByKind(const SRipTracks& tracks, TrackKind kind, bool primary, bool kept_only);

// Sets an editing flag; true when it changed.
inline bool SetFlag(uint8_t& flag, bool value) {
  const uint8_t wanted = value ? 1 : 0;
  if (flag == wanted) return false;
  flag = wanted;
  return true;
}

// New tracks of a kind with the given primary flag.
int CountByKind(const SRawTracks& tracks, TrackKind kind, bool primary);

// The tracks of a clip's output stream: the kept original tracks, then the new ones, ordered
// by order position, then output PID, then new before original. Stable, and a strict ordering
// (a pair of equal position is never left to the order of the inputs).
// What the track order lists show and what the stream tables follow.
std::vector<const SMuxTrack*> OutputOrder(const SRipTracks& originals,
                                          std::span<const SMuxTrack* const> new_tracks = {});
bool ComesBeforeInOutput(const SMuxTrack& a, const SMuxTrack& b);

// Removes and deletes the record at `index` of a list of new tracks; the replacement link is
// cleared on both sides. False when the index is out of range.
template <typename Track>
bool RemoveNewTrackAt(std::vector<std::unique_ptr<Track>>& tracks, int index) {
  if (index < 0 || index >= static_cast<int>(tracks.size())) return false;
  UnlinkReplacement(*tracks[static_cast<size_t>(index)]);
  tracks.erase(tracks.begin() + index);
  return true;
}

// The new track made from a file (names compared without case), not an empty placeholder; null
// when none.
SRawTrack* FindNewTrackByPath(const SRawTracks& tracks, const std::filesystem::path& path);

// The original-track list of a clip from its program's streams, in stored order: one record per
// PID (a repeated PID is skipped), every record kept.
void BuildOriginalTracks(std::span<const StreamInfo> streams, int32_t clip_number,
                         SRipTracks& tracks);

// The tracks of a clip that has no clip information, from the streams of its program map: the
// stream type as coding type, the attributes the registration descriptors carry, the language
// of the language descriptor, and the entry itself.
void BuildTracksFromPmt(const PMT& pmt, int32_t clip_number, SRipTracks& tracks);

}  // namespace tessel
