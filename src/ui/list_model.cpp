#include "ui/list_model.h"

#include <QColor>

#include "platform/string_table.h"
#include "ui/path_text.h"

namespace tessel::ui {

CListModel::CListModel(std::span<const SColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), columns_(columns) {}

int CListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant CListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  const SColumn& column = columns_[static_cast<size_t>(section)];
  if (role == Qt::DisplayRole) {
    return TextToQt(column.string_id ? LoadString(column.string_id) : column.title);
  }
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
  return {};
}

QVariant CListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  switch (role) {
    case Qt::DisplayRole:
      return TextToQt(Text(index.row(), index.column()));
    case Qt::TextAlignmentRole:
      return int(Qt::AlignCenter);
    case Qt::CheckStateRole: {
      const std::optional<bool> checked = Checked(index.row(), index.column());
      if (!checked) return {};
      return *checked ? Qt::Checked : Qt::Unchecked;
    }
    case Qt::EditRole:
      return EditValue(index.row(), index.column());
    case Qt::ForegroundRole:
      if (Greyed(index.row())) return QColor(128, 128, 128);
      return {};
    default:
      return {};
  }
}

Qt::ItemFlags CListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (check_handler_ && Tickable(index.column()) && Checked(index.row(), index.column())) {
    flags |= Qt::ItemIsUserCheckable;
  }
  if (edit_handler_ && Editable(index.column())) flags |= Qt::ItemIsEditable;
  return flags;
}

bool CListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.row() >= rowCount()) return false;
  if (role == Qt::CheckStateRole) {
    if (!check_handler_ || !Tickable(index.column())) return false;
    if (!Checked(index.row(), index.column())) return false;
    const bool ticked = value.toInt() == Qt::Checked;
    return check_handler_(index.row(), index.column(), ticked);
  }
  if (role == Qt::EditRole) {
    if (!edit_handler_ || !Editable(index.column())) return false;
    return edit_handler_(index.row(), index.column(), value);
  }
  return false;
}

void CListModel::Reset() {
  beginResetModel();
  endResetModel();
}

void CListModel::Refresh() {
  if (rowCount() == 0 || columnCount() == 0) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

}  // namespace tessel::ui
