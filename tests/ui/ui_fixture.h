// Helpers of the application tests: the lines a tree or a
// list shows, and the text `tessel info` prints for a folder.
#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "ui/file_choice.h"

namespace tessel::test {

// Registers a test class for the suite's main; used once per test file.
using UiTestFactory = std::function<QObject*()>;
bool RegisterUiTest(const char* name, UiTestFactory factory);
const std::vector<std::pair<const char*, UiTestFactory>>& UiTests();

#define TESSEL_UI_TEST(Class)            \
  static const bool Class##_registered = \
      ::tessel::test::RegisterUiTest(#Class, [] { return new Class; })

// Points QSettings at a fresh scratch folder; call at the start of each test.
void UseScratchSettings(const std::filesystem::path& folder);

// Every line of the tree, depth first, each indented by two blanks per level.
QStringList TreeLines(const QAbstractItemModel& model);
// The texts of one column, top to bottom.
QStringList ColumnTexts(const QAbstractItemModel& model, int column);
// Every cell read once (a repaint would do the same).
void ReadEveryCell(const QAbstractItemModel& model, const QModelIndex& parent = {});

// File and folder dialogs answered from a script, installed for the object's lifetime; an empty
// script answers as a cancelled dialog.
class ScopedFileChoice : public ui::CFileChoice {
 public:
  ScopedFileChoice() { ui::SetFileChoice(this); }
  ~ScopedFileChoice() override { ui::SetFileChoice(nullptr); }
  ScopedFileChoice(const ScopedFileChoice&) = delete;
  ScopedFileChoice& operator=(const ScopedFileChoice&) = delete;

  QStringList OpenFiles(QWidget* parent, const QString& filter, bool several) override;
  QString Folder(QWidget* parent, const QString& title, const QString& start) override;

  QStringList files;          // the next file dialog's answer
  QString folder;             // every folder dialog's answer
  QStringList folder_starts;  // where each folder dialog started
  int file_dialogs = 0;
};

// Copies tests/data/es/`name` into `folder` (the analysis writes its side file beside it).
std::filesystem::path StageEs(const std::string& name, const std::filesystem::path& folder);

// What `tessel info FOLDER` prints, line by line.
QStringList InfoLines(const std::filesystem::path& folder);

}  // namespace tessel::test
