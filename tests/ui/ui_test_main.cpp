// Runs every registered application test class, each as its own Qt Test run.
#include <QApplication>
#include <QTest>
#include <memory>

#include "ui/settings.h"
#include "ui_fixture.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  tessel::ui::SetSettingsIdentity();
  int failures = 0;
  for (const auto& [name, factory] : tessel::test::UiTests()) {
    std::unique_ptr<QObject> test(factory());
    failures += QTest::qExec(test.get(), argc, argv);
  }
  return failures == 0 ? 0 : 1;
}
