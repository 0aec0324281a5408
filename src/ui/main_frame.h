// The main window: menus, the "Standard" toolbar, the toolbar with the source-folder box, the
// status bar, the two tree docks and the main view. Opening a folder enters the model here.
#pragma once

#include <QAction>
#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QStringList>
#include <map>
#include <utility>
#include <vector>

#include "ui/bdmv_browse_edit.h"
#include "ui/commands.h"
#include "ui/job_window.h"
#include "ui/m2ts_pane.h"
#include "ui/mpls_pane.h"
#include "ui/tessel_app.h"
#include "ui/tessel_view.h"

namespace tessel::ui {

// "Corvane, V 0.1.0": the maker and the program's version.
QString VersionText();
QString AboutText();

// The question before a disc with edits that were not built is let go.
inline constexpr const char* kDiscardEditsQuestion =
    "The loaded disc has edits that have not been built. Discard them? ";

class CMainFrame : public QMainWindow, public CJobHost {
  Q_OBJECT

 public:
  explicit CMainFrame(CTesselApp& app, QWidget* parent = nullptr);

  // Opens a source folder (File > Open BDMV, the folder box, the command line, recent folders),
  // unless it is the folder already loaded.
  void OpenFolder(const QString& folder);
  // A dropped folder: a BDMV folder or the folder that holds one; anything else is refused.
  void OpenDropped(const QString& path);

  QAction* action(Command id) const { return actions_.at(id); }
  QMenu* recent_menu() const { return recent_menu_; }
  CBdmvBrowseEdit* browse_edit() const { return browse_; }
  CM2tsPane* m2ts_pane() const { return m2ts_pane_; }
  CMplsPane* mpls_pane() const { return mpls_pane_; }
  QDockWidget* m2ts_dock() const { return m2ts_dock_; }
  QDockWidget* mpls_dock() const { return mpls_dock_; }
  CTesselView* view() const { return view_; }
  QLabel* disc_pane() const { return disc_pane_; }
  QLabel* version_pane() const { return version_pane_; }

  // Moves the focus to the next (or previous) of the trees and the main view.
  void FocusPane(int step);

  // The job commands; each does nothing while another job runs.
  void Build();
  void BatchAdd();
  void TotalDiscSize();
  void ScanTrackSize();
  // The enabling rules of the commands, evaluated again.
  void UpdateCommands();
  // Shuts the window's commands, menus, panes and drops off while a job runs.
  void SetBusy(bool busy) override;
  bool busy() const { return busy_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QAction* AddCommand(QMenu* menu, Command id);
  void CreateActions();
  void CreateMenus();
  void CreateToolbars();
  void CreateDocks();
  void CreateStatusBar();
  void RebuildRecentMenu();

  void RunOpen(const std::string& folder);
  // Points every tree and view at the disc, or at nothing while the disc changes.
  void ShowDisc(CBDDisc* disc);
  bool DiscModified() const;
  // True when the loaded disc may be let go: no edits, or the user agreed to lose them.
  bool MayDiscardEdits();
  void UpdateTitle();
  void UpdateDiscPane(const CBDDisc* disc);

  CTesselApp& app_;
  std::map<Command, QAction*> actions_;
  QMenu* recent_menu_ = nullptr;
  QStringList recent_;
  CBdmvBrowseEdit* browse_ = nullptr;
  CM2tsPane* m2ts_pane_ = nullptr;
  CMplsPane* mpls_pane_ = nullptr;
  QDockWidget* m2ts_dock_ = nullptr;
  QDockWidget* mpls_dock_ = nullptr;
  CTesselView* view_ = nullptr;
  QLabel* version_pane_ = nullptr;
  QLabel* disc_pane_ = nullptr;
  // What was enabled before a job, given back after it.
  std::vector<std::pair<QPointer<QWidget>, bool>> busy_widgets_;
  std::vector<std::pair<QPointer<QAction>, bool>> busy_actions_;
  bool busy_ = false;
  bool close_after_job_ = false;
  bool closing_asked_ = false;
};

}  // namespace tessel::ui
