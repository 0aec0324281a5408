// The "M2ts Tree" pane: a toolbar with Preview over the clip tree.
#pragma once

#include <QAction>
#include <QToolBar>

#include "model/bd_disc.h"
#include "ui/m2ts_tree_model.h"
#include "ui/tree_pane.h"

namespace tessel::ui {

class CM2tsPane : public CTreePane {
  Q_OBJECT

 public:
  explicit CM2tsPane(QWidget* parent = nullptr);

  // Refills the tree from the disc (null: empties it): root and group expanded, root selected.
  void Fill(const CBDDisc* disc);
  CM2tsTreeModel* model() const { return static_cast<CM2tsTreeModel*>(tree_model()); }
  QAction* preview_action() const { return preview_; }

  // Opens the selected clip's stream file with the system's default handler; nothing unless a
  // clip is selected.
  void Preview();

 private:
  QToolBar* toolbar_;
  QAction* preview_;
};

}  // namespace tessel::ui
