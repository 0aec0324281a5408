// The job commands of the main window: their enabling, Cancel by Escape and by closing, what a
// running job shuts off, and the question before a disc with edits is let go.
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "model/bd_disc.h"
#include "ui/build_entry.h"
#include "ui/job_window.h"
#include "ui/main_frame.h"
#include "ui/path_text.h"
#include "ui/tessel_app.h"
#include "ui_fixture.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;
using ui::CMainFrame;
using ui::Command;
using ui::CTesselApp;
using ui::CTesselView;

void PostEscape(QWidget* target) {
  QCoreApplication::postEvent(target,
                              new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
}

class CJobTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    UseScratchSettings(settings_.path());
    work_ = std::make_unique<TempDir>();
    app_ = std::make_unique<CTesselApp>();
    frame_ = std::make_unique<CMainFrame>(*app_);
  }
  void cleanup() {
    frame_.reset();
    app_.reset();
    work_.reset();
  }

  // Batch Add, Build, Total disc size and Scan track size through the states of a session.
  void enabling() {
    ScopedRecordingPrompt prompt;
    struct SStep {
      const char* name;
      std::function<void()> act;
      bool batch, build, total, scan;
    };
    const bool build = ui::BuildAvailable();
    const SStep steps[] = {
        {"no disc", [] {}, false, false, false, false},
        {"loaded", [this] { Open("disc-simple"); }, true, false, true, false},
        {"clip shown", [this] { ShowClip(0); }, true, false, true, true},
        {"playlist tab, nothing shown",
         [this] { frame_->view()->setCurrentIndex(CTesselView::kMplsTab); }, true, false, true,
         false},
        {"playlist shown", [this] { ShowPlaylist(0); }, true, false, true, true},
        {"back on the clip tab", [this] { frame_->view()->setCurrentIndex(CTesselView::kM2tsTab); },
         true, false, true, true},
        {"modified",
         [this] {
           auto* list = frame_->view()->m2ts_view()->track_view()->original_panel()->model();
           list->setData(list->index(1, 0), Qt::Unchecked, Qt::CheckStateRole);
         },
         true, build, true, true},
        {"undone",
         [this] {
           auto* list = frame_->view()->m2ts_view()->track_view()->original_panel()->model();
           list->setData(list->index(1, 0), Qt::Checked, Qt::CheckStateRole);
         },
         true, false, true, true},
    };
    for (const SStep& step : steps) {
      step.act();
      const QByteArray name(step.name);
      QVERIFY2(Enabled(Command::kBatchAdd) == step.batch, name);
      QVERIFY2(Enabled(Command::kBuild) == step.build, name);
      QVERIFY2(Enabled(Command::kTotalDiscSize) == step.total, name);
      QVERIFY2(Enabled(Command::kScanTrackSize) == step.scan, name);
    }
  }

  void scanFillsSizes() {
    ScopedRecordingPrompt prompt;
    Open("disc-simple");
    ShowClip(0);
    const auto& list = *frame_->view()->m2ts_view()->track_view()->original_panel()->model();
    QVERIFY(ColumnTexts(list, 3).filter(QRegularExpression(QStringLiteral("B$"))).empty());
    frame_->action(Command::kScanTrackSize)->trigger();
    QVERIFY(prompt.entries().empty());
    // The fixture's stream file holds the first video packets only, as `tessel size` counts too.
    QCOMPARE(ColumnTexts(list, 3), QStringList({"23KB", "", "", ""}));
  }

  void totalDiscSizeShowsEstimate() {
    ScopedRecordingPrompt prompt;
    Open("disc-simple");
    frame_->action(Command::kTotalDiscSize)->trigger();
    QCOMPARE(prompt.messages().size(), size_t{1});
    QVERIFY(prompt.messages().front().starts_with("Database file size about: "));
  }

  void escapeCancelsScan() {
    ScopedRecordingPrompt prompt;
    Open("disc-simple");
    ShowClip(0);
    PostEscape(frame_.get());
    QCOMPARE(frame_->view()->ScanTrackSize(), JobResult::kCancelled);
    const auto& list = *frame_->view()->m2ts_view()->track_view()->original_panel()->model();
    for (const QString& size : ColumnTexts(list, 3)) QVERIFY(size.isEmpty());
    QVERIFY(!ui::JobRunning());
    QVERIFY(frame_->menuBar()->isEnabled());
  }

  // Closing the main window during a job cancels it; the window goes once the job returned.
  void closeDuringJob() {
    ScopedRecordingPrompt prompt;
    Open("disc-simple");
    ShowClip(0);
    frame_->show();
    QCoreApplication::postEvent(frame_.get(), new QCloseEvent());
    QCOMPARE(frame_->view()->ScanTrackSize(), JobResult::kCancelled);
    QTRY_VERIFY(!frame_->isVisible());
  }

  // While a job runs no command, shortcut, drop or edit reaches the model.
  void jobShutsTheWindowOff() {
    ScopedRecordingPrompt prompt;
    ScopedFileChoice files;
    Open("disc-simple");
    ShowClip(0);
    const fs::path es = work_->path() / "es";
    fs::create_directories(es);
    const QString ac3 = ui::PathToQt(StageEs("ac3_20_192k.ac3", es).string());
    files.files = {ac3};
    auto* view = frame_->view()->m2ts_view()->track_view();
    const std::string folder = app_->disc().folder();
    bool ran = false;
    ui::RunProgressJob(frame_.get(), QString(), [&](const ProgressCallback& progress) {
      ran = true;
      for (Command id : {Command::kOpenBdmv, Command::kBatchAdd, Command::kBuild,
                         Command::kTotalDiscSize, Command::kScanTrackSize, Command::kExit}) {
        if (frame_->action(id)->isEnabled()) return JobResult::kFailed;
      }
      if (frame_->menuBar()->isEnabled() || frame_->view()->isEnabled()) return JobResult::kFailed;
      view->AddTrack();
      view->AddFiles({ac3});
      QMimeData data;
      data.setUrls({QUrl::fromLocalFile(ac3)});
      QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(view->new_panel()->list()->viewport(), &drop);
      auto* list = view->original_panel()->model();
      list->setData(list->index(1, 0), Qt::Unchecked, Qt::CheckStateRole);
      view->SetKeepAll(false);
      frame_->Build();
      frame_->OpenFolder(QStringLiteral("/nonexistent/BDMV"));
      QTest::keyClick(frame_.get(), Qt::Key_B, Qt::ControlModifier);
      return progress({}) ? JobResult::kDone : JobResult::kCancelled;
    });
    QVERIFY(ran);
    QCOMPARE(files.file_dialogs, 0);
    QCOMPARE(view->new_panel()->model()->rowCount(), 0);
    const CClpiObject* clip = app_->disc().clips()->GetAt(0);
    for (const auto& track : clip->original_tracks) QCOMPARE(int(track->keep), 1);
    QCOMPARE(app_->disc().folder(), folder);
    QVERIFY(prompt.entries().empty());
    QVERIFY(frame_->menuBar()->isEnabled());
    QVERIFY(frame_->action(Command::kTotalDiscSize)->isEnabled());
  }

  // Opening another folder or closing with edits asks; No keeps the disc and its edits.
  void editsAskBeforeTheyGo_data() {
    QTest::addColumn<bool>("by_close");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("goes");
    QTest::newRow("open, no") << false << int(PromptAnswer::kNo) << false;
    QTest::newRow("open, yes") << false << int(PromptAnswer::kYes) << true;
    QTest::newRow("close, no") << true << int(PromptAnswer::kNo) << false;
    QTest::newRow("close, yes") << true << int(PromptAnswer::kYes) << true;
  }

  void editsAskBeforeTheyGo() {
    QFETCH(bool, by_close);
    QFETCH(int, answer);
    QFETCH(bool, goes);
    ScopedRecordingPrompt prompt;
    Open("disc-simple");
    ShowClip(0);
    auto* list = frame_->view()->m2ts_view()->track_view()->original_panel()->model();
    list->setData(list->index(1, 0), Qt::Unchecked, Qt::CheckStateRole);
    frame_->show();
    prompt.Script(static_cast<PromptAnswer>(answer));
    const std::string folder = app_->disc().folder();
    if (by_close) {
      frame_->close();
      QCOMPARE(frame_->isVisible(), !goes);
    } else {
      Open("disc-multiclip");
      QCOMPARE(app_->disc().folder() != folder, goes);
    }
    QCOMPARE(prompt.messages(), std::vector<std::string>{ui::kDiscardEditsQuestion});
    if (!goes) QCOMPARE(int(app_->disc().clips()->GetAt(0)->original_tracks[1]->keep), 0);
  }

  void noQuestionWithoutEdits() {
    ScopedRecordingPrompt prompt;
    Open("disc-simple");
    Open("disc-multiclip");
    frame_->show();
    frame_->close();
    QVERIFY(!frame_->isVisible());
    QVERIFY(prompt.entries().empty());
  }

 private:
  void Open(const char* disc) {
    const fs::path bdmv = StageDisc(std::string("discs/") + disc, work_->path() / disc);
    frame_->OpenFolder(ui::PathToQt(bdmv.string()));
  }
  void ShowClip(int index) { frame_->view()->ShowObject(app_->disc().clips()->GetAt(index), true); }
  void ShowPlaylist(int index) {
    frame_->view()->ShowObject(app_->disc().playlists()->GetAt(index), true);
  }
  bool Enabled(Command id) const { return frame_->action(id)->isEnabled(); }

  TempDir settings_;
  std::unique_ptr<TempDir> work_;
  std::unique_ptr<CTesselApp> app_;
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace
}  // namespace tessel::test

using tessel::test::CJobTest;
TESSEL_UI_TEST(CJobTest);

#include "job_test.moc"
