#include "ui_fixture.h"

#include <QProcess>
#include <QSettings>

#include "ui/path_text.h"

namespace tessel::test {

namespace fs = std::filesystem;

namespace {

std::vector<std::pair<const char*, UiTestFactory>>& Registry() {
  static std::vector<std::pair<const char*, UiTestFactory>> tests;
  return tests;
}

void AddTreeLines(const QAbstractItemModel& model, const QModelIndex& parent, int depth,
                  QStringList& lines) {
  for (int row = 0; row < model.rowCount(parent); ++row) {
    const QModelIndex index = model.index(row, 0, parent);
    lines << QString(2 * depth, QLatin1Char(' ')) + index.data().toString();
    AddTreeLines(model, index, depth + 1, lines);
  }
}

}  // namespace

bool RegisterUiTest(const char* name, UiTestFactory factory) {
  Registry().emplace_back(name, std::move(factory));
  return true;
}

const std::vector<std::pair<const char*, UiTestFactory>>& UiTests() {
  return Registry();
}

void UseScratchSettings(const fs::path& folder) {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, ui::PathToQt(folder.string()));
  QSettings().clear();
}

QStringList TreeLines(const QAbstractItemModel& model) {
  QStringList lines;
  AddTreeLines(model, {}, 0, lines);
  return lines;
}

QStringList ColumnTexts(const QAbstractItemModel& model, int column) {
  QStringList texts;
  for (int row = 0; row < model.rowCount(); ++row)
    texts << model.index(row, column).data().toString();
  return texts;
}

void ReadEveryCell(const QAbstractItemModel& model, const QModelIndex& parent) {
  for (int row = 0; row < model.rowCount(parent); ++row) {
    for (int column = 0; column < model.columnCount(parent); ++column) {
      const QModelIndex index = model.index(row, column, parent);
      for (int role : {Qt::DisplayRole, Qt::CheckStateRole, Qt::ForegroundRole}) {
        (void)index.data(role);
      }
      if (column == 0) ReadEveryCell(model, index);
    }
  }
}

QStringList ScopedFileChoice::OpenFiles(QWidget*, const QString&, bool) {
  ++file_dialogs;
  return files;
}

QString ScopedFileChoice::Folder(QWidget*, const QString&, const QString& start) {
  folder_starts << start;
  return folder;
}

fs::path StageEs(const std::string& name, const fs::path& folder) {
  const fs::path target = folder / name;
  fs::copy_file(DataPath("es/" + name), target, fs::copy_options::overwrite_existing);
  return target;
}

QStringList InfoLines(const fs::path& folder) {
  QProcess info;
  info.start(QStringLiteral(TESSEL_EXE), {QStringLiteral("info"), ui::PathToQt(folder.string())});
  info.waitForFinished(60000);
  QStringList lines = QString::fromUtf8(info.readAllStandardOutput()).split(QLatin1Char('\n'));
  lines.removeAll(QString());
  return lines;
}

}  // namespace tessel::test
