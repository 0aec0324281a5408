#include "model/playlist_object.h"

#include "platform/format.h"
#include "platform/string_table.h"

namespace tessel {

std::unique_ptr<CNamedObject> CMplsObject::CreateSame() const {
  return std::make_unique<CMplsObject>();
}

CPofObject::CPofObject() {
  set_name(LoadString(5063));
}

std::unique_ptr<CNamedObject> CPofObject::CreateSame() const {
  return std::make_unique<CPofObject>();
}

CMplsObject* CPofObject::AddNewPlaylist() {
  auto playlist = std::make_unique<CMplsObject>();
  playlist->set_name(Format("%s#%d", LoadString(5065), GetCount()));
  CMplsObject* added = playlist.get();
  Add(std::move(playlist));
  return added;
}

}  // namespace tessel
