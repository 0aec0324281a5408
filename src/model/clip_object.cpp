#include "model/clip_object.h"

#include "platform/format.h"
#include "platform/string_table.h"

namespace tessel {

std::unique_ptr<CNamedObject> CClpiObject::CreateSame() const {
  return std::make_unique<CClpiObject>();
}

CCofObject::CCofObject() {
  set_name(LoadString(5064));
}

std::unique_ptr<CNamedObject> CCofObject::CreateSame() const {
  return std::make_unique<CCofObject>();
}

CClpiObject* CCofObject::AddNewClip() {
  const CClpiObject* last = GetAt(GetCount() - 1);
  const int32_t id = last != nullptr ? last->id() + 1 : 0;
  auto clip = std::make_unique<CClpiObject>();
  clip->set_id(id);
  clip->set_name(Format("%s#%d", LoadString(5066), id));
  CClpiObject* added = clip.get();
  Add(std::move(clip));
  return added;
}

}  // namespace tessel
