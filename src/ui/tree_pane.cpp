#include "ui/tree_pane.h"

#include <QApplication>
#include <QItemSelectionModel>

namespace tessel::ui {

CTreePane::CTreePane(CObjectTreeModel* model, QWidget* parent)
    : QWidget(parent), model_(model), tree_(new QTreeView(this)) {
  model->setParent(this);
  tree_->setModel(model);
  tree_->setHeaderHidden(true);
  tree_->setRootIsDecorated(true);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_->setExpandsOnDoubleClick(false);
  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { Choose(current, true); });
  connect(tree_, &QTreeView::doubleClicked, this,
          [this](const QModelIndex& index) { Choose(index, false); });
  connect(tree_, &QTreeView::customContextMenuRequested, this, &CTreePane::SelectUnderCursor);
}

const CNamedObject* CTreePane::SelectedObject() const {
  return CObjectTreeModel::ObjectOf(tree_->currentIndex());
}

void CTreePane::ShowFilled(std::initializer_list<QModelIndex> expanded) {
  for (const QModelIndex& index : expanded) tree_->expand(index);
  if (expanded.size() > 0 && expanded.begin()->isValid()) {
    tree_->setCurrentIndex(*expanded.begin());
  }
}

void CTreePane::Choose(const QModelIndex& index, bool switch_tab) {
  const CNamedObject* object = CObjectTreeModel::ObjectOf(index);
  if (object == nullptr) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  emit objectChosen(object, switch_tab);
  QApplication::restoreOverrideCursor();
}

void CTreePane::SelectUnderCursor(const QPoint& position) {
  const QModelIndex index = tree_->indexAt(position);
  if (index.isValid()) tree_->setCurrentIndex(index);
  tree_->setFocus(Qt::MouseFocusReason);
}

}  // namespace tessel::ui
