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

// What `tessel info FOLDER` prints, line by line.
QStringList InfoLines(const std::filesystem::path& folder);

}  // namespace tessel::test
