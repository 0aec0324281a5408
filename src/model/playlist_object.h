// One playlist of the disc (CMplsObject) and the list of playlists (CPofObject).
//
// CMplsObject is a stub for now: later work adds the parsed playlist and its edits.
#pragma once

#include <memory>

#include "model/named_object.h"

namespace tessel {

class CMplsObject : public CNamedObject {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override;
};

// The list of playlists of a disc, named by string 5063 ("Mpls(s)").
class CPofObject : public CNamedPtrArray<CMplsObject> {
 public:
  CPofObject();
  std::unique_ptr<CNamedObject> CreateSame() const override;

  // Appends an empty playlist named "%s#%d" from string 5065 ("Mpls") and the count before
  // the addition; its id stays -1 until loading sets it. Returns it.
  CMplsObject* AddNewPlaylist();
};

}  // namespace tessel
