#include "ui/mpls_tree_model.h"

namespace tessel::ui {

void CMplsTreeModel::SetDisc(const CBDDisc* disc) {
  beginResetModel();
  disc_ = disc;
  endResetModel();
}

std::vector<const CNamedObject*> CMplsTreeModel::Children(const CNamedObject* object) const {
  const CPofObject* playlists = disc_ ? disc_->playlists() : nullptr;
  if (playlists == nullptr) return {};
  if (object == nullptr) return {playlists};
  if (object != playlists) return {};
  std::vector<const CNamedObject*> items;
  for (const auto& playlist : playlists->items()) items.push_back(playlist.get());
  return items;
}

const CNamedObject* CMplsTreeModel::ParentOf(const CNamedObject* object) const {
  if (disc_ == nullptr || object == nullptr || object == disc_->playlists()) return nullptr;
  return disc_->playlists();
}

std::string CMplsTreeModel::Label(const CNamedObject* object) const {
  if (object == disc_->playlists()) return PlaylistListLabel(*disc_->playlists());
  return PlaylistLabel(static_cast<const CMplsObject&>(*object));
}

QStyle::StandardPixmap CMplsTreeModel::Icon(const CNamedObject* object) const {
  return object == disc_->playlists() ? QStyle::SP_DirIcon : QStyle::SP_FileDialogListView;
}

}  // namespace tessel::ui
