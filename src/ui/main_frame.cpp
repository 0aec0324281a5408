#include "ui/main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include "model/batch_add.h"
#include "model/bd_paths.h"
#include "model/size_estimate.h"
#include "model/source.h"
#include "platform/common.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"
#include "ui/build_entry.h"
#include "ui/defined_folder_dialog.h"
#include "ui/file_choice.h"
#include "ui/path_text.h"
#include "ui/settings.h"
#include "ui/task_dlg.h"

namespace tessel::ui {
namespace {

void OpenAddress(const char* address) {
  QDesktopServices::openUrl(QUrl(QString::fromUtf8(address)));
}

}  // namespace

QString VersionText() {
  return TextToQt(Format("%s, V %s", "Corvane", TESSEL_VERSION));
}

QString AboutText() {
  return TextToQt(Format("Tessel\nVersion %s\n\nCorvane", TESSEL_VERSION));
}

CMainFrame::CMainFrame(CTesselApp& app, QWidget* parent) : QMainWindow(parent), app_(app) {
  setObjectName(QStringLiteral("MainFrame"));
  setWindowIcon(QIcon(QStringLiteral(":/tessel/tessel.png")));
  setAcceptDrops(true);
  view_ = new CTesselView(this);
  setCentralWidget(view_);
  CreateDocks();
  CreateActions();
  CreateMenus();
  CreateToolbars();
  CreateStatusBar();
  connect(view_, &CTesselView::shownChanged, this, &CMainFrame::UpdateTitle);
  connect(view_, &CTesselView::shownChanged, this, &CMainFrame::UpdateCommands);
  connect(view_, &CTesselView::edited, this, &CMainFrame::UpdateCommands);
  connect(m2ts_pane_, &CTreePane::objectChosen, view_, &CTesselView::ShowObject);
  connect(mpls_pane_, &CTreePane::objectChosen, view_, &CTesselView::ShowObject);

  browse_->set_remembered_folder(LoadSourceFolder());
  app_.set_output_folder(PathFromQt(LoadOutputFolder()));
  recent_ = LoadRecentFolders();
  RebuildRecentMenu();
  resize(1100, 720);
  restoreGeometry(LoadGeometry());
  restoreState(LoadState());
  ShowDisc(nullptr);
}

void CMainFrame::OpenFolder(const QString& folder) {
  std::string path = PathFromQt(folder);
  if (path.empty()) return;
  if (path.back() != '/') path += '/';
  // Exact comparison: two folders whose names differ only in case are two discs here. A folder
  // whose last open failed is opened again.
  if (app_.loaded() && path == app_.source_folder()) return;
  if (JobRunning() || !MayDiscardEdits()) return;
  browse_->set_path(PathToQt(path));
  browse_->set_remembered_folder(PathToQt(path));
  RunOpen(path);
}

void CMainFrame::OpenDropped(const QString& path) {
  if (JobRunning()) return;
  const std::string bdmv = QFileInfo(path).isDir() ? FindBdmvFolder(PathFromQt(path)) : "";
  if (bdmv.empty() || !IsBdmvFolder(PathToQt(bdmv))) {
    ShowMessage(Format("%s\r\n%s", PathFromQt(path).c_str(),
                       "Drop a BDMV folder or the folder that holds it. "),
                PromptIcon::kWarning);
    return;
  }
  OpenFolder(PathToQt(bdmv));
}

void CMainFrame::RunOpen(const std::string& folder) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Let go of the disc first: a failure message runs an event loop that repaints the trees and
  // lists while the disc is being replaced.
  ShowDisc(nullptr);
  const bool loaded = app_.Load(folder);
  ShowDisc(loaded ? &app_.disc() : nullptr);
  if (loaded) {
    recent_ = AddRecentFolder(PathToQt(folder));
    RebuildRecentMenu();
  }
  QApplication::restoreOverrideCursor();
}

void CMainFrame::ShowDisc(CBDDisc* disc) {
  view_->SetDisc(disc);
  m2ts_pane_->Fill(disc);
  mpls_pane_->Fill(disc);
  UpdateDiscPane(disc);
  UpdateTitle();
  UpdateCommands();
}

bool CMainFrame::DiscModified() const {
  if (!app_.loaded()) return false;
  const CBDDisc& disc = app_.disc();
  if (const CCofObject* clips = disc.clips()) {
    for (const auto& clip : clips->items()) {
      if (clip->IsModified()) return true;
    }
  }
  if (const CPofObject* playlists = disc.playlists()) {
    for (const auto& playlist : playlists->items()) {
      if (playlist->IsModified()) return true;
    }
  }
  return false;
}

bool CMainFrame::MayDiscardEdits() {
  if (!DiscModified()) return true;
  return AskUser(kDiscardEditsQuestion, PromptButtons::kYesNo, PromptIcon::kQuestion) ==
         PromptAnswer::kYes;
}

void CMainFrame::UpdateCommands() {
  if (busy_) return;
  const CBDDisc* disc = app_.loaded() ? &app_.disc() : nullptr;
  const bool batch = disc != nullptr && disc->index() != nullptr &&
                     disc->movie_objects() != nullptr && disc->playlists() != nullptr &&
                     disc->playlists()->GetCount() > 0 && disc->clips() != nullptr &&
                     disc->clips()->GetCount() > 0;
  actions_[Command::kBatchAdd]->setEnabled(batch);
  actions_[Command::kBuild]->setEnabled(BuildEntry().available() && DiscModified());
  actions_[Command::kTotalDiscSize]->setEnabled(disc != nullptr && disc->clips() != nullptr);
  actions_[Command::kScanTrackSize]->setEnabled(disc != nullptr && view_->CanScan());
}

void CMainFrame::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    busy_widgets_.clear();
    QList<QWidget*> parts = {menuBar(), centralWidget(), m2ts_dock_, mpls_dock_};
    for (QToolBar* bar : findChildren<QToolBar*>(Qt::FindDirectChildrenOnly)) parts << bar;
    for (QWidget* part : parts) {
      busy_widgets_.emplace_back(part, part->isEnabled());
      part->setEnabled(false);
    }
    busy_actions_.clear();
    for (QAction* action : findChildren<QAction*>()) {
      busy_actions_.emplace_back(action, action->isEnabled());
      action->setEnabled(false);
    }
    return;
  }
  for (auto& [part, enabled] : busy_widgets_) {
    if (part) part->setEnabled(enabled);
  }
  busy_widgets_.clear();
  for (auto& [action, enabled] : busy_actions_) {
    if (action) action->setEnabled(enabled);
  }
  busy_actions_.clear();
  UpdateCommands();
  if (close_after_job_) QTimer::singleShot(0, this, &QWidget::close);
}

void CMainFrame::UpdateTitle() {
  const CClpiObject* clip = view_->shown_clip();
  if (clip != nullptr && view_->currentIndex() == CTesselView::kM2tsTab) {
    setWindowTitle(TextToQt(NumberedFileName(clip->id(), "m2ts")) + QStringLiteral(" - Tessel"));
  } else {
    setWindowTitle(QStringLiteral("Tessel"));
  }
}

void CMainFrame::UpdateDiscPane(const CBDDisc* disc) {
  const CCofObject* clips = disc ? disc->clips() : nullptr;
  if (clips == nullptr) {
    disc_pane_->clear();
    return;
  }
  uint64_t packets = 0;
  for (const auto& clip : clips->items()) packets += clip->PacketCount();
  disc_pane_->setText(TextToQt(Format("%s, %s", disc->name().c_str(), SizeText(packets).c_str())));
}

QAction* CMainFrame::AddCommand(QMenu* menu, Command id) {
  QAction* action = actions_.at(id);
  menu->addAction(action);
  return action;
}

void CMainFrame::CreateActions() {
  for (const SCommandInfo& info : kCommands) {
    if (info.id == Command::kPreview) continue;  // the clip pane's own button
    QAction* action = nullptr;
    if (info.id == Command::kM2tsTree) {
      action = m2ts_dock_->toggleViewAction();
    } else if (info.id == Command::kMplsTree) {
      action = mpls_dock_->toggleViewAction();
    } else {
      action = new QAction(this);
    }
    action->setText(QString::fromUtf8(info.text));
    action->setStatusTip(CommandPrompt(info.id));
    action->setToolTip(CommandTooltip(info.id));
    if (*info.shortcut) action->setShortcut(QKeySequence(QString::fromUtf8(info.shortcut)));
    actions_[info.id] = action;
  }
  connect(actions_[Command::kBuild], &QAction::triggered, this, &CMainFrame::Build);
  connect(actions_[Command::kBatchAdd], &QAction::triggered, this, &CMainFrame::BatchAdd);
  connect(actions_[Command::kTotalDiscSize], &QAction::triggered, this, &CMainFrame::TotalDiscSize);
  connect(actions_[Command::kScanTrackSize], &QAction::triggered, this, &CMainFrame::ScanTrackSize);
  QStyle* s = style();
  actions_[Command::kOpenBdmv]->setIcon(s->standardIcon(QStyle::SP_DirOpenIcon));
  actions_[Command::kBuild]->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
  actions_[Command::kSupportEmail]->setIcon(s->standardIcon(QStyle::SP_MessageBoxQuestion));
  actions_[Command::kAbout]->setIcon(s->standardIcon(QStyle::SP_MessageBoxInformation));
  actions_[Command::kStatusBar]->setCheckable(true);
  actions_[Command::kStatusBar]->setChecked(true);

  connect(actions_[Command::kOpenBdmv], &QAction::triggered, this, [this] {
    if (!JobRunning()) browse_->Browse();
  });
  connect(actions_[Command::kExit], &QAction::triggered, this, &QWidget::close);
  connect(actions_[Command::kStatusBar], &QAction::toggled, this,
          [this](bool on) { statusBar()->setVisible(on); });
  connect(actions_[Command::kAbout], &QAction::triggered, this,
          [this] { QMessageBox::about(this, QStringLiteral("About Tessel"), AboutText()); });
  connect(actions_[Command::kWebSite], &QAction::triggered, this, [] { OpenAddress(kWebSiteUrl); });
  connect(actions_[Command::kForums], &QAction::triggered, this, [] { OpenAddress(kForumsUrl); });
  connect(actions_[Command::kSupportEmail], &QAction::triggered, this,
          [] { OpenAddress(kSupportEmailUrl); });

  auto* next = new QAction(this);
  next->setShortcut(QKeySequence(Qt::Key_F6));
  connect(next, &QAction::triggered, this, [this] { FocusPane(1); });
  auto* previous = new QAction(this);
  previous->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
  connect(previous, &QAction::triggered, this, [this] { FocusPane(-1); });
  addActions({next, previous});
}

void CMainFrame::CreateMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  AddCommand(file, Command::kOpenBdmv);
  AddCommand(file, Command::kBatchAdd);
  AddCommand(file, Command::kBuild);
  file->addSeparator();
  recent_menu_ = file->addMenu(QStringLiteral("Recent &Folders"));
  file->addSeparator();
  AddCommand(file, Command::kExit);

  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  AddCommand(view, Command::kM2tsTree);
  AddCommand(view, Command::kMplsTree);
  AddCommand(view, Command::kStatusBar);

  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
  AddCommand(tools, Command::kScanTrackSize);
  AddCommand(tools, Command::kTotalDiscSize);

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  AddCommand(help, Command::kAbout);
  AddCommand(help, Command::kWebSite);
  AddCommand(help, Command::kForums);
}

void CMainFrame::CreateToolbars() {
  QToolBar* standard = addToolBar(TextToQt(LoadString(124)));
  standard->setObjectName(QStringLiteral("Standard"));
  for (Command id :
       {Command::kOpenBdmv, Command::kBuild, Command::kSupportEmail, Command::kAbout}) {
    standard->addAction(actions_[id]);
  }
  QToolBar* folder = addToolBar(QStringLiteral("BDMV"));
  folder->setObjectName(QStringLiteral("BdmvFolder"));
  folder->addWidget(new QLabel(QStringLiteral("BDMV:"), folder));
  browse_ = new CBdmvBrowseEdit(folder);
  folder->addWidget(browse_);
  connect(browse_, &CBdmvBrowseEdit::openRequested, this, &CMainFrame::OpenFolder);
}

void CMainFrame::CreateDocks() {
  m2ts_pane_ = new CM2tsPane();
  mpls_pane_ = new CMplsPane();
  m2ts_dock_ = new QDockWidget(TextToQt(LoadString(156)), this);
  m2ts_dock_->setObjectName(QStringLiteral("M2tsTree"));
  m2ts_dock_->setWidget(m2ts_pane_);
  mpls_dock_ = new QDockWidget(TextToQt(LoadString(155)), this);
  mpls_dock_->setObjectName(QStringLiteral("MplsTree"));
  mpls_dock_->setWidget(mpls_pane_);
  addDockWidget(Qt::LeftDockWidgetArea, m2ts_dock_);
  splitDockWidget(m2ts_dock_, mpls_dock_, Qt::Vertical);
  resizeDocks({m2ts_dock_}, {300}, Qt::Horizontal);
}

void CMainFrame::CreateStatusBar() {
  version_pane_ = new QLabel(VersionText(), this);
  disc_pane_ = new QLabel(this);
  statusBar()->addPermanentWidget(disc_pane_);
  statusBar()->addPermanentWidget(version_pane_);
}

void CMainFrame::RebuildRecentMenu() {
  recent_menu_->clear();
  for (qsizetype i = 0; i < recent_.size(); ++i) {
    const QString folder = recent_[i];
    QAction* entry = recent_menu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(folder));
    connect(entry, &QAction::triggered, this, [this, folder] { OpenFolder(folder); });
  }
  recent_menu_->setEnabled(!recent_.empty());
}

void CMainFrame::FocusPane(int step) {
  const QList<QWidget*> panes = {m2ts_pane_->tree(), mpls_pane_->tree(), view_};
  int current = 0;
  for (int i = 0; i < panes.size(); ++i) {
    if (panes[i]->isAncestorOf(focusWidget()) || panes[i] == focusWidget()) current = i;
  }
  for (int n = 1; n <= panes.size(); ++n) {
    QWidget* pane = panes[((current + step * n) % 3 + 3) % 3];
    if (pane->isVisible()) {
      pane->setFocus(Qt::ShortcutFocusReason);
      return;
    }
  }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (JobRunning()) {
    // Closing asks the running job to stop, with the job's own question; the window goes once
    // the job has returned.
    event->ignore();
    if (CJobWindow* job = RunningJobWindow()) {
      job->RequestCancel();
      close_after_job_ = close_after_job_ || job->cancelled();
    }
    return;
  }
  if (!close_after_job_ && !MayDiscardEdits()) {
    event->ignore();
    return;
  }
  SaveFolders(browse_->remembered_folder(), PathToQt(app_.output_folder()));
  SaveLayout(saveGeometry(), saveState());
  QMainWindow::closeEvent(event);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  if (!JobRunning() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
  if (JobRunning()) return;
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.empty() || !urls.front().isLocalFile()) return;
  event->acceptProposedAction();
  OpenDropped(urls.front().toLocalFile());
}

void CMainFrame::Build() {
  const SBuildEntry& entry = BuildEntry();
  if (JobRunning() || !app_.loaded() || !entry.available()) return;
  CBDDisc& disc = app_.disc();
  if (entry.check(disc) != 0) return;
  const QString start = QSettings().value(QStringLiteral("General/OutFolder")).toString();
  const QString chosen = CurrentFileChoice().Folder(this, CommandTooltip(Command::kBuild), start);
  if (chosen.isEmpty()) return;
  QSettings().setValue(QStringLiteral("General/OutFolder"), chosen);
  app_.set_output_folder(PathFromQt(chosen));
  {
    CTaskDlg dialog(this);
    const CJobScope scope(this, &dialog);
    entry.run(
        disc, PathFromQt(chosen), [&dialog] { dialog.show(); }, dialog.Callback());
    dialog.hide();
  }
  // What was built is now on disc; the trees and lists show the model afresh.
  if (!close_after_job_) ShowDisc(&disc);
}

void CMainFrame::BatchAdd() {
  if (JobRunning() || !app_.loaded() || app_.disc().clips() == nullptr) return;
  CCofObject& clips = *app_.disc().clips();
  if (clips.GetCount() == 0) return;
  const QStringList files = CurrentFileChoice().OpenFiles(this, DialogFilter(SourceFilter()), true);
  if (files.isEmpty()) return;
  int added = 0;
  RunProgressJob(this, QString(), [&](const ProgressCallback& progress) {
    for (const QString& file : files) {
      const std::filesystem::path path = PathFromQt(file);
      const SBatchMatch match = MatchBatchFile(clips, path);
      if (match.skip != BatchSkip::kNone) continue;
      int result = 2;
      // The first file that cannot be added ends the batch.
      if (match.clip->AddNewTrack(path, progress, &result) == nullptr) {
        return result == 1 ? JobResult::kCancelled : JobResult::kFailed;
      }
      match.clip->UpdateVideoFlags();
      ++added;
    }
    return JobResult::kDone;
  });
  ShowMessage(
      Format("Selected count is %d, %d track(s) added! ", static_cast<int>(files.size()), added),
      PromptIcon::kInformation);
  if (added > 0) {
    view_->Refresh();
    UpdateCommands();
  }
}

void CMainFrame::TotalDiscSize() {
  if (JobRunning() || !app_.loaded() || app_.disc().clips() == nullptr) return;
  CBDDisc& disc = app_.disc();
  STrackSizes sizes;
  const JobResult result = RunProgressJob(this, QString(), [&](const ProgressCallback& progress) {
    return TrackSizes(*disc.clips(), progress, sizes);
  });
  view_->Refresh();  // the scanned sizes
  if (result != JobResult::kDone) return;
  const SDiscEstimate estimate = EstimateDisc(DatabaseSize(disc), sizes);
  ShowMessage(EstimateMessage(EstimateTexts(estimate)), PromptIcon::kInformation);
}

void CMainFrame::ScanTrackSize() {
  if (JobRunning() || !app_.loaded()) return;
  view_->ScanTrackSize();
}

}  // namespace tessel::ui
