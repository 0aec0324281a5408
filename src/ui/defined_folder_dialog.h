// The folder browser for a source disc: its OK button is enabled only on a folder named BDMV
// (in any case).
#pragma once

#include <QFileDialog>
#include <QString>

namespace tessel::ui {

// Whether the folder's last component is "BDMV" without regard to case; a trailing separator
// does not count.
bool IsBdmvFolder(const QString& path);

class CDefinedFolderDialog : public QFileDialog {
  Q_OBJECT

 public:
  CDefinedFolderDialog(QWidget* parent, const QString& start);

  // The folder the OK button would accept.
  QString ChosenFolder() const;

 public slots:
  void accept() override;

 private:
  void UpdateOk();
};

}  // namespace tessel::ui
