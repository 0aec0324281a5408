// What the clip and playlist track views share: the keys of their lists, files dropped on them,
// the in-place editors of the new tracks, the wait cursor of an edit, and the greying of their
// context menus.
#pragma once

#include <QObject>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>
#include <string>

#include "mux/rip_track.h"
#include "platform/common.h"
#include "platform/progress.h"
#include "ui/list_panel.h"

namespace tessel::ui {

// Space toggles the box of the selected row, Delete and Ctrl+Up/Down call their handlers; a
// handler left empty lets the key through.
struct SListKeys {
  std::function<void()> toggle;
  std::function<void()> remove;
  std::function<void(int)> move;  // -1 up, +1 down
};
void InstallListKeys(QTableView* list, SListKeys keys);

// Local files dropped onto the list go to `drop`, in the order given.
void AcceptFileDrops(QTableView* list, std::function<void(const QStringList&)> drop);

// The language drop-down ("%s (%s)" of the 475 rows in display order) and the delay box, which
// takes only milliseconds whose 90 kHz ticks fit in 32 bits.
class CNewTrackDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  CNewTrackDelegate(int language_column, int delay_column, QObject* parent = nullptr);

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;

 private:
  int language_column_;
  int delay_column_;
};

// A wait cursor for the lifetime of an edit.
class CWaitCursor {
 public:
  CWaitCursor();
  ~CWaitCursor();
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// Original tracks whose box is ticked.
int CountTicked(const SRipTracks& tracks);

// Enables every button of the panel.
void EnableButtons(CListPanel* panel);
// The selected rows, ascending.
std::vector<int> SelectedRows(const QTableView* list);

// Demux of a clip's or a playlist's ticked tracks: refuses with nothing ticked, asks for a folder
// starting beside `path`, runs the job in a progress window and says when it is done.
void RunDemux(QWidget* parent, const SRipTracks& tracks, const std::string& path,
              const std::function<JobResult(const std::string&, const ProgressCallback&)>& demux);

}  // namespace tessel::ui
