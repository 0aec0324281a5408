#include "ui/list_panel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QVBoxLayout>

namespace tessel::ui {

CListPanel::CListPanel(const QString& caption, std::initializer_list<const char*> buttons,
                       CListModel* model, QWidget* parent)
    : QWidget(parent),
      caption_(new QLabel(caption, this)),
      model_(model),
      list_(new QTableView(this)) {
  model_->setParent(this);
  auto* row = new QHBoxLayout();
  row->addWidget(caption_);
  row->addStretch(1);
  for (const char* text : buttons) {
    auto* button = new QPushButton(QString::fromUtf8(text), this);
    button->setEnabled(false);
    buttons_.push_back(button);
    row->addWidget(button);
  }
  list_->setModel(model_);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setShowGrid(true);
  list_->setWordWrap(false);
  list_->setTextElideMode(Qt::ElideRight);
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->verticalHeader()->hide();
  list_->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
  list_->horizontalHeader()->setHighlightSections(false);
  for (size_t c = 0; c < model_->columns().size(); ++c) {
    list_->setColumnWidth(static_cast<int>(c), model_->columns()[c].width);
  }
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addLayout(row);
  layout->addWidget(list_, 1);
}

void CListPanel::ResetKeeping(int row) {
  model_->Reset();
  const int rows = model_->rowCount();
  if (rows == 0) return;
  list_->selectRow(row >= 0 && row < rows ? row : 0);
}

int CListPanel::SelectedRow() const {
  const QModelIndexList rows = list_->selectionModel()->selectedRows();
  return rows.empty() ? -1 : rows.front().row();
}

}  // namespace tessel::ui
