// The "Mpls Tree" pane: the playlist tree.
#pragma once

#include "model/bd_disc.h"
#include "ui/mpls_tree_model.h"
#include "ui/tree_pane.h"

namespace tessel::ui {

class CMplsPane : public CTreePane {
  Q_OBJECT

 public:
  explicit CMplsPane(QWidget* parent = nullptr);

  // Refills the tree from the disc (null: empties it): root expanded and selected.
  void Fill(const CBDDisc* disc);
  CMplsTreeModel* model() const { return static_cast<CMplsTreeModel*>(tree_model()); }
};

}  // namespace tessel::ui
