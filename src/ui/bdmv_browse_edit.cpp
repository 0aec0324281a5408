#include "ui/bdmv_browse_edit.h"

#include <QHBoxLayout>
#include <QStyle>

#include "ui/defined_folder_dialog.h"

namespace tessel::ui {
namespace {

QString RunFolderDialog(QWidget* parent, const QString& start) {
  CDefinedFolderDialog dialog(parent, start);
  return dialog.exec() == QDialog::Accepted ? dialog.ChosenFolder() : QString();
}

}  // namespace

CBdmvBrowseEdit::CBdmvBrowseEdit(QWidget* parent)
    : QWidget(parent),
      edit_(new QLineEdit(this)),
      browse_(new QToolButton(this)),
      chooser_(RunFolderDialog) {
  edit_->setFixedSize(200, 20);
  edit_->setClearButtonEnabled(false);
  browse_->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  browse_->setToolTip(QStringLiteral("Browse for the source BDMV folder"));
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(edit_);
  layout->addWidget(browse_);
  connect(browse_, &QToolButton::clicked, this, &CBdmvBrowseEdit::Browse);
  connect(edit_, &QLineEdit::returnPressed, this, [this] {
    if (!edit_->text().isEmpty()) emit openRequested(edit_->text());
  });
}

void CBdmvBrowseEdit::set_path(const QString& path) {
  path_ = path;
  edit_->setText(path);
}

void CBdmvBrowseEdit::Browse() {
  const QString folder = chooser_(window(), remembered_);
  if (!folder.isEmpty()) emit openRequested(folder);
}

}  // namespace tessel::ui
