#include "model/source.h"

namespace tessel {

std::unique_ptr<CNamedObject> CSource::CreateSame() const {
  return std::make_unique<CSource>();
}

std::unique_ptr<CNamedObject> CSourceFolder::CreateSame() const {
  return std::make_unique<CSourceFolder>();
}

}  // namespace tessel
