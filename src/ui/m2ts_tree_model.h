// The clip tree: the clip list with its count (the item stores the disc), the group of movie
// clips with theirs (it stores the clip list), and one line per movie clip that has a track.
#pragma once

#include "model/bd_disc.h"
#include "ui/object_tree_model.h"

namespace tessel::ui {

class CM2tsTreeModel : public CObjectTreeModel {
  Q_OBJECT

 public:
  using CObjectTreeModel::CObjectTreeModel;

  // Shows the disc (null: nothing); the tree is reset either way.
  void SetDisc(const CBDDisc* disc);

  QModelIndex RootIndex() const { return index(0, 0); }
  QModelIndex GroupIndex() const { return index(0, 0, RootIndex()); }

 protected:
  std::vector<const CNamedObject*> Children(const CNamedObject* object) const override;
  const CNamedObject* ParentOf(const CNamedObject* object) const override;
  std::string Label(const CNamedObject* object) const override;
  QStyle::StandardPixmap Icon(const CNamedObject* object) const override;

 private:
  const CBDDisc* disc_ = nullptr;
};

}  // namespace tessel::ui
