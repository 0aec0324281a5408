// The two windows of a long job: the progress window's texts over a clock the test moves, its
// cancel paths, and the build window's log, bar and confirmation.
#include <QApplication>
#include <QKeyEvent>
#include <QTest>

#include "ui/progress_wnd.h"
#include "ui/task_dlg.h"
#include "ui_fixture.h"

namespace tessel::test {
namespace {

using ui::CProgressWnd;
using ui::CTaskDlg;

void PostEscape(QWidget* target) {
  QCoreApplication::postEvent(target,
                              new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
}

class CProgressTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { UseScratchSettings(settings_.path()); }

  void texts_data() {
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("position");
    QTest::addColumn<qint64>("elapsed_ms");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("time_left");
    const QString label = QStringLiteral("Estimated time left:  ");
    QTest::newRow("at once below 100")
        << 0 << 100 << 50 << qint64(0) << "Progress [50%]" << label + "1 sec";
    QTest::newRow("59 s") << 0 << 100 << 50 << qint64(59000) << "Progress [50%]"
                          << label + "59 sec";
    QTest::newRow("60 s") << 0 << 100 << 50 << qint64(60000) << "Progress [50%]"
                          << label + "60 sec";
    QTest::newRow("61 s") << 0 << 100 << 50 << qint64(61000) << "Progress [50%]"
                          << label + "1 min 1 sec";
    QTest::newRow("3600 s") << 0 << 100 << 50 << qint64(3600000) << "Progress [50%]"
                            << label + "60 min 0 sec";
    QTest::newRow("3601 s") << 0 << 100 << 50 << qint64(3601000) << "Progress [50%]"
                            << label + "1 hour 0 min";
    QTest::newRow("2 h 2 min") << 0 << 100 << 50 << qint64(7320000) << "Progress [50%]"
                               << label + "2 hour 2 min";
    QTest::newRow("position 0: no estimate") << 0 << 100 << 0 << qint64(5000) << "Progress [0%]"
                                             << "";
    QTest::newRow("done") << 0 << 100 << 100 << qint64(5000) << "Progress [100%]"
                          << label + "0 sec";
    QTest::newRow("range 1000..3000")
        << 1000 << 3000 << 1500 << qint64(10000) << "Progress [25%]" << label + "30 sec";
    QTest::newRow("at the lower bound") << 1000 << 3000 << 1000 << qint64(10000) << "Progress [0%]"
                                        << "";
    QTest::newRow("rounded up") << 0 << 3 << 2 << qint64(2000) << "Progress [67%]"
                                << label + "1 sec";
    QTest::newRow("rounded down") << 0 << 3 << 1 << qint64(2000) << "Progress [33%]"
                                  << label + "4 sec";
    // Elapsed time times the range passes 32 bits.
    QTest::newRow("wide range") << 0 << 2000000000 << 1000000000 << qint64(1000000)
                                << "Progress [50%]" << label + "16 min 40 sec";
    QTest::newRow("empty range") << 5 << 5 << 5 << qint64(1000) << "Progress [0%]"
                                 << "";
  }

  void texts() {
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(int, position);
    QFETCH(qint64, elapsed_ms);
    QFETCH(QString, caption);
    QFETCH(QString, time_left);
    int64_t now = 1000;
    CProgressWnd window([&now] { return now; });
    window.Create(QString(), nullptr);
    window.SetRange(lower, upper);
    now += elapsed_ms;
    QVERIFY(window.SetPos(position));
    QCOMPARE(window.windowTitle(), caption);
    QCOMPARE(window.time_left(), time_left);
  }

  void titleAndMessage() {
    CProgressWnd window([] { return int64_t{0}; });
    window.Create(QStringLiteral("Scaning track..."), nullptr);
    QCOMPARE(window.size(), QSize(CProgressWnd::kWidth, CProgressWnd::kHeight));
    QCOMPARE(window.cancel_button()->text(), QStringLiteral(" Cancel "));
    const ProgressCallback callback = window.Callback();
    QVERIFY(callback({ProgressKind::kPosition, 10, {}, {}}));
    QCOMPARE(window.windowTitle(), QStringLiteral("Scaning track... [10%]"));
    // A message is shown as given: never a format, and not cut at 4095 characters.
    const std::string formats = "100%s done %d %n";
    QVERIFY(callback({ProgressKind::kMessage, 0, formats, {}}));
    QCOMPARE(window.message(), QString::fromStdString(formats));
    const std::string longer(5000, 'x');
    QVERIFY(window.SetText(longer));
    QCOMPARE(window.message().size(), 5000);
    QVERIFY(callback({ProgressKind::kTitle, 0, {}, "Analyse"}));
    QCOMPARE(window.windowTitle(), QStringLiteral("Analyse"));
    QVERIFY(window.SetPos(20));
    QCOMPARE(window.windowTitle(), QStringLiteral("Analyse [20%]"));
    QVERIFY(callback({ProgressKind::kHideBar, 0, {}, {}}));
    QVERIFY(window.bar()->isHidden());
  }

  // Escape reaches the job from any window of the program, at 99 % and beyond too.
  void escapeCancels_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("other_window");
    QTest::newRow("99, progress window") << 99 << false;
    QTest::newRow("99, another window") << 99 << true;
    QTest::newRow("100, another window") << 100 << true;
    QTest::newRow("10, progress window") << 10 << false;
  }

  void escapeCancels() {
    QFETCH(int, position);
    QFETCH(bool, other_window);
    QWidget other;
    CProgressWnd window;
    window.Create(QString(), &other);
    window.show();
    QVERIFY(window.SetPos(position - 1));
    PostEscape(other_window ? &other : static_cast<QWidget*>(&window));
    QVERIFY(!window.SetPos(position));
    QVERIFY(window.cancelled());
    QVERIFY(window.isHidden());
    QVERIFY(!window.SetPos(position));  // stays cancelled
  }

  void buttonAndCloseCancel_data() {
    QTest::addColumn<bool>("by_close");
    QTest::newRow("button") << false;
    QTest::newRow("close") << true;
  }

  void buttonAndCloseCancel() {
    QFETCH(bool, by_close);
    CProgressWnd window;
    window.Create(QString(), nullptr);
    window.show();
    QVERIFY(window.SetPos(5));
    if (by_close) {
      window.close();
    } else {
      window.cancel_button()->click();
    }
    QVERIFY(window.cancelled());
    QVERIFY(!window.Callback()({ProgressKind::kMessage, 0, "next", {}}));
  }

  // Where the user moved the window is where the next one opens.
  void movedPositionIsKept() {
    QWidget owner;
    owner.setGeometry(100, 100, 800, 600);
    QPoint moved_to;
    {
      CProgressWnd window;
      window.Create(QString(), &owner);
      window.show();
      moved_to = window.pos() + QPoint(37, 21);
      window.move(moved_to);
    }
    CProgressWnd next;
    next.Create(QString(), &owner);
    QCOMPARE(next.pos(), moved_to);
  }

  // ---- the build window ----

  void taskLogAndBar() {
    ScopedRecordingPrompt prompt;
    CTaskDlg dialog(nullptr, [] { return QStringLiteral("12:34:56"); });
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Processing, please wait..."));
    QCOMPARE(dialog.cancel_button()->text(), QStringLiteral("Cancel"));
    const ProgressCallback callback = dialog.Callback();
    QVERIFY(callback({ProgressKind::kMessage, 0, "Start to build...", {}}));
    QVERIFY(callback({ProgressKind::kMessage, 0, "Copy 100%s of %d", {}}));
    QCOMPARE(dialog.log()->count(), 2);
    QCOMPARE(dialog.log()->item(0)->text(), QStringLiteral("[12:34:56]: Start to build..."));
    QCOMPARE(dialog.log()->item(1)->text(), QStringLiteral("[12:34:56]: Copy 100%s of %d"));
    QCOMPARE(dialog.log()->currentRow(), 1);
    QVERIFY(callback({ProgressKind::kPosition, 42, {}, {}}));
    QCOMPARE(dialog.bar()->text(), QStringLiteral("42%"));
    QVERIFY(callback({ProgressKind::kTitle, 0, {}, "PROCESSING, please wait..."}));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Processing, please wait..."));
    QVERIFY(callback({ProgressKind::kTitle, 0, {}, "Writing"}));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Writing"));
    QVERIFY(prompt.entries().empty());
  }

  void taskConfirmation_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("cancels");
    QTest::newRow("yes") << int(PromptAnswer::kYes) << true;
    QTest::newRow("no") << int(PromptAnswer::kNo) << false;
    QTest::newRow("cancel") << int(PromptAnswer::kCancel) << false;
  }

  void taskConfirmation() {
    QFETCH(int, answer);
    QFETCH(bool, cancels);
    ScopedRecordingPrompt prompt;
    prompt.Script(static_cast<PromptAnswer>(answer));
    CTaskDlg dialog;
    dialog.show();
    dialog.cancel_button()->click();
    QCOMPARE(prompt.messages(), std::vector<std::string>{"Really want to stop current build?"});
    QVERIFY(prompt.entries().front().question);
    QCOMPARE(dialog.cancelled(), cancels);
    QCOMPARE(dialog.cancel_button()->isEnabled(), !cancels);
    QCOMPARE(dialog.Callback()({ProgressKind::kPosition, 50, {}, {}}), !cancels);
    QVERIFY(dialog.isVisible());
  }

  // Escape and closing ask the same question; once cancelled, nothing is asked again.
  void taskEscapeAndCloseAsk() {
    ScopedRecordingPrompt prompt;
    prompt.Script(PromptAnswer::kNo);
    prompt.Script(PromptAnswer::kYes);
    QWidget other;
    CTaskDlg dialog;
    dialog.show();
    PostEscape(&other);
    QVERIFY(dialog.Callback()({ProgressKind::kPosition, 1, {}, {}}));
    QCOMPARE(prompt.entries().size(), size_t{1});
    dialog.close();
    QVERIFY(dialog.cancelled());
    QCOMPARE(prompt.entries().size(), size_t{2});
    dialog.close();
    PostEscape(&dialog);
    QVERIFY(!dialog.Callback()({ProgressKind::kPosition, 2, {}, {}}));
    QCOMPARE(prompt.entries().size(), size_t{2});
  }

 private:
  TempDir settings_;
};

}  // namespace
}  // namespace tessel::test

using tessel::test::CProgressTest;
TESSEL_UI_TEST(CProgressTest);
#include "progress_test.moc"
