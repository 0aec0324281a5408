#include "ui/file_choice.h"

#include <QFileDialog>

namespace tessel::ui {
namespace {

class CDialogChoice : public CFileChoice {
 public:
  QStringList OpenFiles(QWidget* parent, const QString& filter, bool several) override {
    if (several) return QFileDialog::getOpenFileNames(parent, QString(), QString(), filter);
    const QString file = QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
    return file.isEmpty() ? QStringList() : QStringList{file};
  }
  QString Folder(QWidget* parent, const QString& title, const QString& start) override {
    return QFileDialog::getExistingDirectory(parent, title, start);
  }
};

CFileChoice* g_choice = nullptr;

}  // namespace

void SetFileChoice(CFileChoice* choice) {
  g_choice = choice;
}

CFileChoice& CurrentFileChoice() {
  static CDialogChoice dialogs;
  return g_choice ? *g_choice : dialogs;
}

QString DialogFilter(const std::string& filter) {
  // "name(patterns)|patterns|name|patterns||": every second field is the patterns of the one
  // before it, which the dialog reads from the name itself.
  const QStringList fields = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
    if (fields[i].isEmpty()) break;
    QString patterns = fields[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    QString name = fields[i];
    const qsizetype open = name.indexOf(QLatin1Char('('));
    if (open >= 0) name.truncate(open);
    entries << QStringLiteral("%1(%2)").arg(name, patterns);
  }
  return entries.join(QStringLiteral(";;"));
}

}  // namespace tessel::ui
