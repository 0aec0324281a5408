// The base of every list in the main view: a read-only table over one shown model object, with a
// fixed table of column titles and widths. Cells are read from the object at each call.
#pragma once

#include <QAbstractTableModel>
#include <optional>
#include <span>
#include <string>

namespace tessel::ui {

struct SColumn {
  int string_id;      // the title's numbered string, or 0 for `title`
  const char* title;  // used when there is no numbered string
  int width;          // pixels
};

class CListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit CListModel(std::span<const SColumn> columns, QObject* parent = nullptr);

  std::span<const SColumn> columns() const { return columns_; }

  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The shown object changed or went away: every row is asked again.
  void Reset();
  // The shown object's fields changed: every cell is read again.
  void Refresh();

 protected:
  virtual std::string Text(int row, int column) const = 0;
  // The state of a check box column ("Keep", "Visible"); nothing for other columns.
  virtual std::optional<bool> Checked(int /*row*/, int /*column*/) const { return {}; }
  // Rows drawn grey (cleared tracks).
  virtual bool Greyed(int /*row*/) const { return false; }

 private:
  std::span<const SColumn> columns_;
};

}  // namespace tessel::ui
