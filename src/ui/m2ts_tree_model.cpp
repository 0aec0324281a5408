#include "ui/m2ts_tree_model.h"

namespace tessel::ui {

void CM2tsTreeModel::SetDisc(const CBDDisc* disc) {
  beginResetModel();
  disc_ = disc;
  endResetModel();
}

std::vector<const CNamedObject*> CM2tsTreeModel::Children(const CNamedObject* object) const {
  if (disc_ == nullptr || disc_->clips() == nullptr) return {};
  const CCofObject* clips = disc_->clips();
  if (object == nullptr) return {disc_};
  if (object == disc_) return {clips};
  if (object != clips) return {};
  std::vector<const CNamedObject*> listed;
  for (const auto& clip : clips->items()) {
    if (IsListedClip(*clip)) listed.push_back(clip.get());
  }
  return listed;
}

const CNamedObject* CM2tsTreeModel::ParentOf(const CNamedObject* object) const {
  if (disc_ == nullptr || object == nullptr || object == disc_) return nullptr;
  if (object == disc_->clips()) return disc_;
  return disc_->clips();
}

std::string CM2tsTreeModel::Label(const CNamedObject* object) const {
  if (object == disc_) return ClipListLabel(*disc_->clips());
  if (object == disc_->clips()) return ClipGroupLabel(*disc_->clips());
  return ClipLabel(static_cast<const CClpiObject&>(*object));
}

QStyle::StandardPixmap CM2tsTreeModel::Icon(const CNamedObject* object) const {
  if (object == disc_) return QStyle::SP_DriveDVDIcon;
  if (object == disc_->clips()) return QStyle::SP_DirIcon;
  return QStyle::SP_MediaPlay;
}

}  // namespace tessel::ui
