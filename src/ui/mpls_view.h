// The playlist side of the main view: "Mpls Tracks", "Play Items", "Sub Path" and
// "Playlist Mark".
#pragma once

#include <QMenu>
#include <QTabWidget>
#include <QWidget>

#include "model/clip_object.h"
#include "model/playlist_object.h"
#include "platform/common.h"
#include "ui/list_panel.h"
#include "ui/playlist_list_models.h"
#include "ui/track_list_models.h"

namespace tessel::ui {

// "Mpls Tracks": the editing commands of the shown playlist, each followed by `edited`.
class CMplsTrackView : public QWidget {
  Q_OBJECT

 public:
  explicit CMplsTrackView(QWidget* parent = nullptr);
  void ShowPlaylist(CMplsObject* playlist);

  CListPanel* original_panel() const { return original_; }
  CListPanel* new_panel() const { return new_; }
  CListPanel* order_panel() const { return order_; }

  void SetVisibleAll(bool visible);
  void SetRelatedVisible(int row, bool visible);
  void Demux();
  void AddTrack();
  void AddFiles(const QStringList& files);
  void AddEmptyTrack();
  void DeleteSelected();
  void ReplaceTrack(int row);
  void ClearTrack(int row, bool cleared);
  // Moves the selected row of "Track order:" one up (-1) or down (+1).
  void MoveOrderRow(int step);
  JobResult ScanTrackSize();
  QMenu* ContextMenu(int row);

 signals:
  void edited();

 private:
  bool SetVisible(int row, bool visible);
  bool EditNewTrack(int row, int column, const QVariant& value);
  void ToggleSelected();
  void Edited();

  CMplsObject* playlist_ = nullptr;
  CPlaylistTrackListModel* original_model_;
  CNewTrackListModel* new_model_;
  CTrackOrderListModel* order_model_;
  CListPanel* original_;
  CListPanel* new_;
  CListPanel* order_;
};

class CMplsPiView : public QWidget {
  Q_OBJECT

 public:
  explicit CMplsPiView(QWidget* parent = nullptr);
  void ShowPlaylist(const CMplsObject* playlist, const CCofObject* clips);
  CListPanel* panel() const { return panel_; }

 private:
  CPlayItemListModel* model_;
  CListPanel* panel_;
};

class CMplsSpView : public QWidget {
  Q_OBJECT

 public:
  explicit CMplsSpView(QWidget* parent = nullptr);
  void ShowPlaylist(const CMplsObject* playlist);
  CListPanel* sub_path_panel() const { return sub_paths_; }
  CListPanel* sub_play_item_panel() const { return items_; }

 private:
  void ShowSubPath(int row);

  const CMplsObject* playlist_ = nullptr;
  CSubPathListModel* sub_path_model_;
  CSubPlayItemListModel* item_model_;
  CListPanel* sub_paths_;
  CListPanel* items_;
};

class CMplsPmView : public QWidget {
  Q_OBJECT

 public:
  explicit CMplsPmView(QWidget* parent = nullptr);
  void ShowPlaylist(const CMplsObject* playlist);
  CListPanel* panel() const { return panel_; }

 private:
  CPlayMarkListModel* model_;
  CListPanel* panel_;
};

class CMplsView : public QTabWidget {
  Q_OBJECT

 public:
  explicit CMplsView(QWidget* parent = nullptr);
  void ShowPlaylist(CMplsObject* playlist, const CCofObject* clips);
  // Every list is read again, selections kept where the rows still exist.
  void Refresh();
  // Every list of every tab.
  std::vector<CListPanel*> panels() const;

  CMplsTrackView* track_view() const { return tracks_; }
  CMplsPiView* play_item_view() const { return play_items_; }
  CMplsSpView* sub_path_view() const { return sub_paths_; }
  CMplsPmView* mark_view() const { return marks_; }

 private:
  CMplsTrackView* tracks_;
  CMplsPiView* play_items_;
  CMplsSpView* sub_paths_;
  CMplsPmView* marks_;
};

}  // namespace tessel::ui
