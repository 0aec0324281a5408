// A docked pane with a tree over the disc model: selecting or double-clicking an item hands its
// object to whoever listens; a right click selects the item under the cursor.
#pragma once

#include <QTreeView>
#include <QWidget>
#include <initializer_list>

#include "model/named_object.h"
#include "ui/object_tree_model.h"

namespace tessel::ui {

class CTreePane : public QWidget {
  Q_OBJECT

 public:
  QTreeView* tree() const { return tree_; }
  // The object of the current item; null when none.
  const CNamedObject* SelectedObject() const;

 signals:
  // A selected item (`switch_tab`) or a double-clicked one (not switching).
  void objectChosen(const CNamedObject* object, bool switch_tab);

 protected:
  CTreePane(CObjectTreeModel* model, QWidget* parent);
  CObjectTreeModel* tree_model() const { return model_; }

  // After a reset: expands the given items and selects the first one.
  void ShowFilled(std::initializer_list<QModelIndex> expanded);

 private:
  void Choose(const QModelIndex& index, bool switch_tab);
  void SelectUnderCursor(const QPoint& position);

  CObjectTreeModel* model_;
  QTreeView* tree_;
};

}  // namespace tessel::ui
