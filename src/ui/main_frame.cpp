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
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QUrl>

#include "model/bd_paths.h"
#include "platform/common.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"
#include "ui/defined_folder_dialog.h"
#include "ui/path_text.h"
#include "ui/settings.h"

namespace tessel::ui {
namespace {

constexpr Command kDisabledJobs[] = {Command::kBatchAdd, Command::kBuild, Command::kScanTrackSize,
                                     Command::kTotalDiscSize};

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
  browse_->set_path(PathToQt(path));
  browse_->set_remembered_folder(PathToQt(path));
  RunOpen(path);
}

void CMainFrame::OpenDropped(const QString& path) {
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

void CMainFrame::ShowDisc(const CBDDisc* disc) {
  view_->SetDisc(disc);
  m2ts_pane_->Fill(disc);
  mpls_pane_->Fill(disc);
  UpdateDiscPane(disc);
  UpdateTitle();
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
  for (Command id : kDisabledJobs) actions_[id]->setEnabled(false);
  QStyle* s = style();
  actions_[Command::kOpenBdmv]->setIcon(s->standardIcon(QStyle::SP_DirOpenIcon));
  actions_[Command::kBuild]->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
  actions_[Command::kSupportEmail]->setIcon(s->standardIcon(QStyle::SP_MessageBoxQuestion));
  actions_[Command::kAbout]->setIcon(s->standardIcon(QStyle::SP_MessageBoxInformation));
  actions_[Command::kStatusBar]->setCheckable(true);
  actions_[Command::kStatusBar]->setChecked(true);

  connect(actions_[Command::kOpenBdmv], &QAction::triggered, this, [this] { browse_->Browse(); });
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
  SaveFolders(browse_->remembered_folder(), PathToQt(app_.output_folder()));
  SaveLayout(saveGeometry(), saveState());
  QMainWindow::closeEvent(event);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.empty() || !urls.front().isLocalFile()) return;
  event->acceptProposedAction();
  OpenDropped(urls.front().toLocalFile());
}

}  // namespace tessel::ui
