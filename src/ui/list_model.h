// The base of every list in the main view: a table over one shown model object, with a fixed
// table of column titles and widths. Cells are read from the object at each call. A list never
// changes the object itself: a ticked box or an edited cell goes to the view's handler, which
// runs the command and has every list read the object again.
#pragma once

#include <QAbstractTableModel>
#include <functional>
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
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  // A box the user ticks or unticks (row, column, ticked); true when the command took it.
  using CheckHandler = std::function<bool(int, int, bool)>;
  // A cell the user edited in place (row, column, value); true when the command took it.
  using EditHandler = std::function<bool(int, int, const QVariant&)>;
  void set_check_handler(CheckHandler handler) { check_handler_ = std::move(handler); }
  void set_edit_handler(EditHandler handler) { edit_handler_ = std::move(handler); }
  // The value an in-place editor starts with.
  virtual QVariant EditValue(int /*row*/, int /*column*/) const { return {}; }

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
  // Boxes the user may tick (the first column's "Keep" or "Visible").
  virtual bool Tickable(int column) const { return column == 0; }
  // Columns edited in place (language, delay).
  virtual bool Editable(int /*column*/) const { return false; }

 private:
  std::span<const SColumn> columns_;
  CheckHandler check_handler_;
  EditHandler edit_handler_;
};

}  // namespace tessel::ui
