// An elementary-stream source file of a new track (CSource) and the folder of sources
// (CSourceFolder).
//
// Both are stubs for now: later work adds the paths, range, language and ISRC of a source.
#pragma once

#include <memory>

#include "model/named_object.h"

namespace tessel {

class CSource : public CNamedObject {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override;
};

// No command of the system creates one; it completes the class family.
class CSourceFolder : public CNamedFolder<CSource, CSourceFolder> {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override;
};

}  // namespace tessel
