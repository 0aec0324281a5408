#include "ui/defined_folder_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QTimer>

namespace tessel::ui {

bool IsBdmvFolder(const QString& path) {
  QString folder = QDir::fromNativeSeparators(path);
  while (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) folder.chop(1);
  const QString name = folder.mid(folder.lastIndexOf(QLatin1Char('/')) + 1);
  return name.compare(QLatin1String("BDMV"), Qt::CaseInsensitive) == 0;
}

CDefinedFolderDialog::CDefinedFolderDialog(QWidget* parent, const QString& start)
    : QFileDialog(parent, QStringLiteral("Open source BDMV folder"), start) {
  setFileMode(QFileDialog::Directory);
  setOption(QFileDialog::ShowDirsOnly);
  // Our own widgets, so that the OK button can follow the chosen folder.
  setOption(QFileDialog::DontUseNativeDialog);
  // The dialog sets its own button state on every change; ours comes after it.
  auto later = [this] { QTimer::singleShot(0, this, &CDefinedFolderDialog::UpdateOk); };
  connect(this, &QFileDialog::currentChanged, this, later);
  connect(this, &QFileDialog::directoryEntered, this, later);
  later();
}

QString CDefinedFolderDialog::ChosenFolder() const {
  const QStringList files = selectedFiles();
  return files.empty() ? directory().absolutePath() : files.front();
}

void CDefinedFolderDialog::accept() {
  if (IsBdmvFolder(ChosenFolder())) QFileDialog::accept();
}

void CDefinedFolderDialog::UpdateOk() {
  auto* box = findChild<QDialogButtonBox*>();
  if (box == nullptr) return;
  for (auto which : {QDialogButtonBox::Open, QDialogButtonBox::Ok}) {
    if (QPushButton* ok = box->button(which)) ok->setEnabled(IsBdmvFolder(ChosenFolder()));
  }
}

}  // namespace tessel::ui
