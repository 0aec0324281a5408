// The playlist tree: the playlist list with its count, and one line per playlist.
#pragma once

#include "model/bd_disc.h"
#include "ui/object_tree_model.h"

namespace tessel::ui {

class CMplsTreeModel : public CObjectTreeModel {
  Q_OBJECT

 public:
  using CObjectTreeModel::CObjectTreeModel;

  // Shows the disc (null: nothing); the tree is reset either way.
  void SetDisc(const CBDDisc* disc);

  QModelIndex RootIndex() const { return index(0, 0); }

 protected:
  std::vector<const CNamedObject*> Children(const CNamedObject* object) const override;
  const CNamedObject* ParentOf(const CNamedObject* object) const override;
  std::string Label(const CNamedObject* object) const override;
  QStyle::StandardPixmap Icon(const CNamedObject* object) const override;

 private:
  const CBDDisc* disc_ = nullptr;
};

}  // namespace tessel::ui
