// The main window: commands and their states, opening (with its failures and mends), settings,
// recent folders, drops and the folder box.
#include <QDockWidget>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QStatusBar>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "model/bd_disc.h"
#include "ui/defined_folder_dialog.h"
#include "ui/main_frame.h"
#include "ui/path_text.h"
#include "ui/settings.h"
#include "ui/tessel_app.h"
#include "ui_fixture.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;
using ui::CMainFrame;
using ui::Command;
using ui::CTesselApp;

QString Q(const fs::path& path) {
  return QString::fromStdString(path.string());
}

// A prompt that, while its message is up, repaints the window and reads every tree and list
// cell, as the message box's event loop would; it also notes how many rows the trees had then.
class RepaintingPrompt : public RecordingPrompt {
 public:
  explicit RepaintingPrompt(CMainFrame& frame) : frame_(frame) {}

  void Message(std::string_view text, PromptIcon icon) override {
    RecordingPrompt::Message(text, icon);
    frame_.repaint();
    QCoreApplication::processEvents();
    tree_rows.push_back(frame_.m2ts_pane()->model()->rowCount() +
                        frame_.mpls_pane()->model()->rowCount());
    disc_panes.push_back(frame_.disc_pane()->text());
    ReadEveryCell(*frame_.m2ts_pane()->model());
    ReadEveryCell(*frame_.mpls_pane()->model());
    for (auto* panel : frame_.findChildren<ui::CListPanel*>()) ReadEveryCell(*panel->model());
  }

  std::vector<int> tree_rows;
  QStringList disc_panes;

 private:
  CMainFrame& frame_;
};

struct SCommandState {
  Command id;
  bool enabled;            // without a disc
  bool enabled_with_disc;  // with an unedited disc and nothing shown
  bool checkable;
};

constexpr SCommandState kCommandStates[] = {
    {Command::kOpenBdmv, true, true, false},       {Command::kBatchAdd, false, true, false},
    {Command::kBuild, false, false, false},        {Command::kExit, true, true, false},
    {Command::kM2tsTree, true, true, true},        {Command::kMplsTree, true, true, true},
    {Command::kStatusBar, true, true, true},       {Command::kScanTrackSize, false, false, false},
    {Command::kTotalDiscSize, false, true, false}, {Command::kAbout, true, true, false},
    {Command::kWebSite, true, true, false},        {Command::kForums, true, true, false},
    {Command::kSupportEmail, true, true, false},
};

class CMainFrameTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { UseScratchSettings(settings_.path()); }

  void commandStatesWithoutAndWithDisc() {
    ScopedRecordingPrompt prompt;
    CTesselApp app;
    CMainFrame frame(app);
    frame.show();
    for (bool loaded : {false, true}) {
      if (loaded) frame.OpenFolder(Q(DataPath("discs/disc-multiclip/BDMV")));
      QCOMPARE(app.loaded(), loaded);
      for (const SCommandState& state : kCommandStates) {
        QAction* action = frame.action(state.id);
        const QString name = action->text();
        QVERIFY2(action->isEnabled() == (loaded ? state.enabled_with_disc : state.enabled),
                 qPrintable(name));
        QVERIFY2(action->isCheckable() == state.checkable, qPrintable(name));
        QVERIFY2(!state.checkable || action->isChecked(), qPrintable(name));
        QVERIFY2(!action->statusTip().isEmpty() && !action->toolTip().isEmpty(), qPrintable(name));
      }
    }
    QCOMPARE(frame.action(Command::kBuild)->shortcut(), QKeySequence(QStringLiteral("Ctrl+B")));
    QCOMPARE(frame.action(Command::kOpenBdmv)->statusTip(),
             QStringLiteral("Open source BDMV folder"));
    QCOMPARE(frame.action(Command::kOpenBdmv)->toolTip(), QStringLiteral("Open BDMV folder"));
    QCOMPARE(frame.version_pane()->text(), QStringLiteral("Corvane, V " TESSEL_VERSION));
    QVERIFY(frame.disc_pane()->text().startsWith(QStringLiteral("disc-multiclip, ")));
  }

  void viewCommandsFollowTheDocks() {
    ScopedRecordingPrompt prompt;
    CTesselApp app;
    CMainFrame frame(app);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QCOMPARE(frame.dockWidgetArea(frame.m2ts_dock()), Qt::LeftDockWidgetArea);
    QCOMPARE(frame.dockWidgetArea(frame.mpls_dock()), Qt::LeftDockWidgetArea);
    QVERIFY(frame.mpls_dock()->y() > frame.m2ts_dock()->y());

    frame.m2ts_dock()->close();  // its own close button
    QVERIFY(!frame.action(Command::kM2tsTree)->isChecked());
    QVERIFY(frame.action(Command::kMplsTree)->isChecked());
    frame.action(Command::kM2tsTree)->trigger();
    QVERIFY(frame.m2ts_dock()->isVisible());
    QVERIFY(frame.action(Command::kM2tsTree)->isChecked());

    frame.action(Command::kStatusBar)->trigger();
    QVERIFY(!frame.statusBar()->isVisible());
    frame.action(Command::kStatusBar)->trigger();
    QVERIFY(frame.statusBar()->isVisible());

    frame.m2ts_pane()->tree()->setFocus();
    frame.FocusPane(1);
    QCOMPARE(frame.focusWidget(), frame.mpls_pane()->tree());
    frame.FocusPane(1);
    QVERIFY(frame.view()->isAncestorOf(frame.focusWidget()));
    frame.FocusPane(-1);
    frame.FocusPane(-1);
    QCOMPARE(frame.focusWidget(), frame.m2ts_pane()->tree());
  }

  // A failed open empties trees and views before the message is up, and the same folder opens
  // again once its stream file is back.
  void failedOpenAfterGoodOne() {
    TempDir dir;
    const fs::path good = StageDisc("discs/disc-simple", dir / "good");
    const fs::path bad = StageDisc("discs/disc-multiclip", dir / "bad");
    const fs::path stream = bad / "STREAM" / "00001.m2ts";
    fs::rename(stream, dir / "kept.m2ts");

    RecordingPrompt expected;
    {
      ScopedPrompt scope(&expected);
      CBDDisc disc;
      QVERIFY(!disc.Open(bad.string()));
    }
    QVERIFY(!expected.messages().empty());

    CTesselApp app;
    CMainFrame frame(app);
    frame.show();
    RepaintingPrompt prompt(frame);
    ScopedPrompt scope(&prompt);
    frame.OpenFolder(Q(good));
    QVERIFY(app.loaded());
    frame.m2ts_pane()->tree()->setCurrentIndex(
        frame.m2ts_pane()->model()->index(0, 0, frame.m2ts_pane()->model()->GroupIndex()));
    QVERIFY(frame.view()->shown_clip() != nullptr);

    frame.OpenFolder(Q(bad));
    QVERIFY(!app.loaded());
    QCOMPARE(prompt.messages(), expected.messages());
    QCOMPARE(prompt.tree_rows, std::vector<int>(expected.messages().size(), 0));
    QCOMPARE(prompt.disc_panes, QStringList(qsizetype(expected.messages().size()), QString()));
    QCOMPARE(frame.m2ts_pane()->model()->rowCount(), 0);
    QCOMPARE(frame.mpls_pane()->model()->rowCount(), 0);
    QVERIFY(frame.view()->shown_clip() == nullptr);
    for (auto* panel : frame.findChildren<ui::CListPanel*>()) {
      QCOMPARE(panel->model()->rowCount(), 0);
    }
    QVERIFY(frame.disc_pane()->text().isEmpty());

    fs::rename(dir / "kept.m2ts", stream);
    prompt.clear();
    frame.OpenFolder(Q(bad));
    QVERIFY(app.loaded());
    QVERIFY(prompt.messages().empty());
    QCOMPARE(TreeLines(*frame.m2ts_pane()->model()) + TreeLines(*frame.mpls_pane()->model()),
             InfoLines(bad));
  }

  // Two folders whose names differ only in case are two discs.
  void folderNamesCompareExactly() {
    TempDir dir;
    const fs::path lower = StageDisc("discs/disc-simple", dir / "disc");
    const fs::path upper = StageDisc("discs/disc-multiclip", dir / "Disc");
    ScopedRecordingPrompt prompt;
    CTesselApp app;
    CMainFrame frame(app);
    frame.OpenFolder(Q(lower));
    frame.OpenFolder(Q(upper));
    QCOMPARE(TreeLines(*frame.m2ts_pane()->model()) + TreeLines(*frame.mpls_pane()->model()),
             InfoLines(upper));
    QCOMPARE(frame.browse_edit()->path(), Q(upper) + "/");
  }

  void folderWithNonAsciiName() {
    TempDir dir;
    const QString root = Q(dir.path()) + QStringLiteral("/Fĳlm Ærø 映画");
    const fs::path bdmv = StageDisc("discs/disc-simple", ui::PathFromQt(root));
    ScopedRecordingPrompt prompt;
    CTesselApp app;
    CMainFrame frame(app);
    frame.OpenFolder(root + QStringLiteral("/BDMV"));
    QVERIFY(app.loaded());
    QVERIFY(prompt.messages().empty());
    QCOMPARE(TreeLines(*frame.m2ts_pane()->model()) + TreeLines(*frame.mpls_pane()->model()),
             InfoLines(bdmv));
    QVERIFY(frame.disc_pane()->text().startsWith(QStringLiteral("Fĳlm Ærø 映画, ")));
  }

  void settingsSurviveRestart() {
    const QString folder = Q(DataPath("discs/disc-multiclip/BDMV")) + "/";
    {
      ScopedRecordingPrompt prompt;
      CTesselApp app;
      CMainFrame frame(app);
      frame.show();
      frame.OpenFolder(folder);
      app.set_output_folder("out/folder/");
      frame.close();
    }
    CTesselApp app;
    CMainFrame frame(app);
    QVERIFY(!app.loaded());  // nothing opens unless asked
    QCOMPARE(frame.browse_edit()->remembered_folder(), folder);
    QCOMPARE(app.output_folder(), std::string("out/folder/"));
    QCOMPARE(ui::LoadSourceFolder(), folder);
    QVERIFY(!ui::LoadGeometry().isEmpty());
    QVERIFY(!ui::LoadState().isEmpty());
    QCOMPARE(frame.recent_menu()->actions().size(), 1);
    QCOMPARE(frame.recent_menu()->actions().front()->text(), "&1 " + folder);

    ScopedRecordingPrompt prompt;
    frame.recent_menu()->actions().front()->trigger();
    QVERIFY(app.loaded());
  }

  void recentFoldersKeepEightNewestFirst() {
    for (int i = 0; i < 10; ++i) ui::AddRecentFolder(QString("f%1/").arg(i));
    ui::AddRecentFolder(QStringLiteral("f5/"));
    QCOMPARE(ui::LoadRecentFolders(),
             QStringList({"f5/", "f9/", "f8/", "f7/", "f6/", "f4/", "f3/", "f2/"}));
  }

  void dropsOpenFoldersOnly() {
    TempDir dir;
    const fs::path bdmv = StageDisc("discs/disc-simple", dir / "parent");
    ScopedRecordingPrompt prompt;
    CTesselApp app;
    CMainFrame frame(app);

    frame.OpenDropped(Q(bdmv / "index.bdmv"));
    QVERIFY(!app.loaded());
    QCOMPARE(prompt.messages().size(), size_t{1});
    QCOMPARE(frame.m2ts_pane()->model()->rowCount(), 0);

    frame.OpenDropped(Q(dir / "parent"));
    QVERIFY(app.loaded());
    QCOMPARE(frame.browse_edit()->path(), Q(bdmv) + "/");

    frame.OpenDropped(Q(dir.path()));  // holds no BDMV folder
    QCOMPARE(prompt.messages().size(), size_t{2});
    QVERIFY(app.loaded());

    CTesselApp other_app;
    CMainFrame other(other_app);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(Q(bdmv))});
    other.show();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&other, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&other, &drop);
    QVERIFY(other_app.loaded());
    QCOMPARE(prompt.messages().size(), size_t{2});
  }

  void folderBoxAndBrowser() {
    ScopedRecordingPrompt prompt;
    CTesselApp app;
    CMainFrame frame(app);
    const QString folder = Q(DataPath("discs/disc-simple/BDMV"));
    QString started_at;
    QString answer;
    frame.browse_edit()->set_folder_chooser([&](QWidget*, const QString& start) {
      started_at = start;
      return answer;
    });
    frame.browse_edit()->set_remembered_folder(QStringLiteral("somewhere/"));
    frame.action(Command::kOpenBdmv)->trigger();  // cancelled
    QCOMPARE(started_at, QStringLiteral("somewhere/"));
    QVERIFY(!app.loaded());
    answer = folder;
    frame.action(Command::kOpenBdmv)->trigger();
    QVERIFY(app.loaded());
    QCOMPARE(frame.browse_edit()->remembered_folder(), folder + "/");

    frame.browse_edit()->edit()->setText(Q(DataPath("discs/disc-multiclip")));
    QTest::keyClick(frame.browse_edit()->edit(), Qt::Key_Return);
    QCOMPARE(app.disc().name(), std::string("disc-multiclip"));
  }

  void browserAcceptsOnlyBdmvFolders_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("upper") << "/a/BDMV" << true;
    QTest::newRow("lower") << "/a/bdmv" << true;
    QTest::newRow("trailing") << "/a/Bdmv/" << true;
    QTest::newRow("other") << "/a/BDMVX" << false;
    QTest::newRow("parent") << "/a/BDMV/STREAM" << false;
    QTest::newRow("empty") << "" << false;
  }

  void browserAcceptsOnlyBdmvFolders() {
    QFETCH(QString, path);
    QFETCH(bool, accepted);
    QCOMPARE(ui::IsBdmvFolder(path), accepted);
  }

 private:
  TempDir settings_;
};

}  // namespace
}  // namespace tessel::test

using tessel::test::CMainFrameTest;
TESSEL_UI_TEST(CMainFrameTest);

#include "main_frame_test.moc"
