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

namespace tessel {

enum class TrackKind : int { kVideo = 0, kAudio = 1, kPg = 2, kIg = 3, kOther = 4 };

TrackKind KindOfCodingType(uint8_t coding_type);

inline constexpr uint16_t kPrimaryVideoPid = 0x1011;

// Secondary audio (0x1A00..0x1A1F) and secondary video (0x1B00..0x1B1F) are the only streams a
// clip or a stream table can carry as secondary.
bool IsSecondaryPid(uint16_t pid);

// A stream that already exists in a clip's transport stream.
struct SRipTrack : SMuxTrack {
  SRipTrack() { original = 1; }
  uint8_t CodingType() const override { return attributes.StreamCodingType; }

  uint16_t pid = 0;
  int32_t clip_number = -1;
  AttributeValues attributes;
  // How a playlist's stream table names the stream (for clips: a main-clip entry of the PID).
  StreamEntry entry;
  uint8_t cleared = 0;
  uint64_t packet_count = 0;  // source packets of the PID; 0 until scanned
};

using SRipTracks = std::vector<std::unique_ptr<SRipTrack>>;

TrackKind GetKind(const SMuxTrack& track);

// The first record with the PID that does not name a sub-path stream; null when none.
SRipTrack* FindByPid(const SRipTracks& tracks, uint16_t pid);

// Records of a kind with the given primary flag; `kept_only` skips unkept ones.
int CountByKind(const SRipTracks& tracks, TrackKind kind, bool primary, bool kept_only);

// The original-track list of a clip from its program's streams, in stored order: one record per
// PID (a repeated PID is skipped), every record kept.
void BuildOriginalTracks(std::span<const StreamInfo> streams, int32_t clip_number,
                         SRipTracks& tracks);

}  // namespace tessel
