// One playlist of the disc (CMplsObject) and the list of playlists (CPofObject).
//
// CMplsObject holds the parsed playlist and the track list the user edits on the playlist level,
// built from the first play item's stream table when the disc is loaded.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "formats/mpls.h"
#include "model/named_object.h"
#include "model/track_kinds.h"
#include "mux/raw_track.h"

namespace tessel {

class CMplsObject : public CNamedObject, public Mpls {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override;

  // Parses a whole playlist file; false when it does not parse.
  bool Parse(std::span<const uint8_t> file);

  // The track list: one record per stream of the first play item's stream table, then, hidden,
  // every stream of the first play item's clip that the table does not list. Records the
  // visibility each track starts with. Needs the current clip list.
  void BuildTrackList();

  // The summed length of the play items in milliseconds.
  uint64_t DurationMs() const;

  std::string path;
  SRipTracks tracks;
  SRawTracks new_tracks;  // added from elementary-stream files
  std::vector<bool> initial_visibility;
};

// The length of one play item in milliseconds; 0 when its OUT time precedes its IN time.
uint64_t PlayItemDurationMs(const PLAY_ITEM& item);

// The list of playlists of a disc, named by string 5063 ("Mpls(s)").
class CPofObject : public CNamedPtrArray<CMplsObject> {
 public:
  CPofObject();
  std::unique_ptr<CNamedObject> CreateSame() const override;

  // Appends an empty playlist named "%s#%d" from string 5065 ("Mpls") and the count before
  // the addition; its id stays -1 until loading sets it. Returns it.
  CMplsObject* AddNewPlaylist();
};

// The playlist list of the loaded disc; null when no disc is loaded.
CPofObject* CurrentPlaylists();
void SetCurrentPlaylists(CPofObject* playlists);

}  // namespace tessel
