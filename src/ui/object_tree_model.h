// A read-only tree over objects of the disc model. Each index points at the model object it
// shows; the children and the labels are asked from the model at every call, so nothing is
// copied and a reset after a load or a build is all the tree needs.
#pragma once

#include <QAbstractItemModel>
#include <QStyle>
#include <string>
#include <vector>

#include "model/named_object.h"

namespace tessel::ui {

class CObjectTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  using QAbstractItemModel::QAbstractItemModel;

  // The object an index shows; null for the invisible root.
  static const CNamedObject* ObjectOf(const QModelIndex& index);

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 protected:
  // The items under `object` (null: the top level), in display order.
  virtual std::vector<const CNamedObject*> Children(const CNamedObject* object) const = 0;
  // The item `object` hangs under; null at the top level.
  virtual const CNamedObject* ParentOf(const CNamedObject* object) const = 0;
  virtual std::string Label(const CNamedObject* object) const = 0;
  virtual QStyle::StandardPixmap Icon(const CNamedObject* object) const = 0;

  void Reset();

 private:
  QModelIndex IndexOf(const CNamedObject* object) const;
};

}  // namespace tessel::ui
