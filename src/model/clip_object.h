// One clip of the disc (CClpiObject) and the list of clips (CCofObject).
//
// CClpiObject is a stub for now: later work adds the parsed clip information, the transport
// stream file, the tracks and their edits.
#pragma once

#include <memory>

#include "model/named_object.h"

namespace tessel {

class CClpiObject : public CNamedObject {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override;
};

// The list of clips of a disc, named by string 5064 ("M2ts(s)").
class CCofObject : public CNamedPtrArray<CClpiObject> {
 public:
  CCofObject();
  std::unique_ptr<CNamedObject> CreateSame() const override;

  // Appends an empty clip whose id is the last clip's id + 1 (0 for an empty list), named
  // "%s#%d" from string 5066 ("M2ts") and that id; returns it.
  CClpiObject* AddNewClip();
};

}  // namespace tessel
