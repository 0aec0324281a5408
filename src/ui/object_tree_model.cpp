#include "ui/object_tree_model.h"

#include <QApplication>
#include <algorithm>

#include "ui/path_text.h"

namespace tessel::ui {

const CNamedObject* CObjectTreeModel::ObjectOf(const QModelIndex& index) {
  return index.isValid() ? static_cast<const CNamedObject*>(index.constInternalPointer()) : nullptr;
}

QModelIndex CObjectTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  const std::vector<const CNamedObject*> children = Children(ObjectOf(parent));
  if (row >= static_cast<int>(children.size())) return {};
  return createIndex(row, column, children[static_cast<size_t>(row)]);
}

QModelIndex CObjectTreeModel::parent(const QModelIndex& child) const {
  return IndexOf(ParentOf(ObjectOf(child)));
}

int CObjectTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  return static_cast<int>(Children(ObjectOf(parent)).size());
}

int CObjectTreeModel::columnCount(const QModelIndex&) const {
  return 1;
}

QVariant CObjectTreeModel::data(const QModelIndex& index, int role) const {
  const CNamedObject* object = ObjectOf(index);
  if (object == nullptr) return {};
  if (role == Qt::DisplayRole) return TextToQt(Label(object));
  if (role == Qt::DecorationRole) return QApplication::style()->standardIcon(Icon(object));
  return {};
}

void CObjectTreeModel::Reset() {
  beginResetModel();
  endResetModel();
}

QModelIndex CObjectTreeModel::IndexOf(const CNamedObject* object) const {
  if (object == nullptr) return {};
  const std::vector<const CNamedObject*> siblings = Children(ParentOf(object));
  const auto it = std::find(siblings.begin(), siblings.end(), object);
  if (it == siblings.end()) return {};
  return createIndex(static_cast<int>(it - siblings.begin()), 0, object);
}

}  // namespace tessel::ui
