// The editing state of every clip and playlist of the current lists, taken before an edit that may
// fail part-way (an analysis of a segment or of a copy) and put back when it does.
//
// An edit only appends new tracks before its last fallible step and changes flags, links, order
// positions and sources; it removes tracks only after that step. So the state is each list's
// length and every record's editing fields.
#pragma once

#include <cstddef>
#include <vector>

#include "mux/raw_track.h"
#include "mux/rip_track.h"

namespace tessel {

class CEditSnapshot {
 public:
  // Captures the clips and playlists published by the loaded disc.
  CEditSnapshot();
  // Removes the tracks appended since, then puts back every recorded field.
  void Restore();

 private:
  struct SOriginalState {
    SRipTrack* track;
    uint8_t keep, cleared;
    SMuxTrack* replacement;
    int32_t order;
    uint64_t packet_count;
  };
  struct SNewState {
    SRawTrack* track;
    uint8_t keep, primary;
    SMuxTrack* replacement;
    int32_t order;
    int language;
    int32_t delay;
    STrackAuthor author;
    SPipeSource source;
    SRawTrack* empty_link;
  };
  struct SListState {
    SRawTracks* list;
    size_t size;
  };

  void Capture(SRipTracks& tracks);
  void Capture(SRawTracks& tracks);

  std::vector<SOriginalState> originals_;
  std::vector<SNewState> new_tracks_;
  std::vector<SListState> lists_;
};

}  // namespace tessel
