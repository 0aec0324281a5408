// One panel of a track view: its caption, its row of buttons and its list.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QWidget>
#include <initializer_list>
#include <vector>

#include "ui/list_model.h"

namespace tessel::ui {

class CListPanel : public QWidget {
  Q_OBJECT

 public:
  // The buttons start disabled: the commands behind them come with track editing.
  CListPanel(const QString& caption, std::initializer_list<const char*> buttons, CListModel* model,
             QWidget* parent = nullptr);

  QLabel* caption() const { return caption_; }
  QTableView* list() const { return list_; }
  CListModel* model() const { return model_; }
  const std::vector<QPushButton*>& buttons() const { return buttons_; }

  // Resets the list and selects `row` when it still exists, else the first row.
  void ResetKeeping(int row);
  int SelectedRow() const;

 private:
  QLabel* caption_;
  std::vector<QPushButton*> buttons_;
  CListModel* model_;
  QTableView* list_;
};

}  // namespace tessel::ui
