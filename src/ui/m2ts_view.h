// The clip side of the main view: "M2ts Tracks" (original, new and added tracks) and
// "Mpls list" (the playlists that use the clip).
#pragma once

#include <QMenu>
#include <QTabWidget>
#include <QWidget>

#include "model/clip_object.h"
#include "model/playlist_object.h"
#include "platform/common.h"
#include "ui/list_panel.h"
#include "ui/related_mpls_model.h"
#include "ui/track_list_models.h"

namespace tessel::ui {

// "M2ts Tracks": the editing commands of the shown clip. Each command runs the model's entry
// point and then has every list of the main view read the model again (`edited`).
class CM2tsTrackView : public QWidget {
  Q_OBJECT

 public:
  explicit CM2tsTrackView(QWidget* parent = nullptr);
  void ShowClip(CClpiObject* clip);
  void Refresh();

  CListPanel* original_panel() const { return original_; }
  CListPanel* new_panel() const { return new_; }
  CListPanel* order_panel() const { return order_; }

  // The commands, as the buttons, boxes, context menu, keys and drops call them.
  void SetKeepAll(bool keep);
  void Demux();
  void AddTrack();
  void AddFiles(const QStringList& files);
  void DeleteSelected();
  void ReplaceTrack(int row);
  void ClearTrack(int row, bool cleared);
  JobResult ScanTrackSize();
  // The context menu of an original track, with its greying.
  QMenu* ContextMenu(int row);

 signals:
  void edited();

 private:
  bool SetKeep(int row, bool keep);
  bool EditNewTrack(int row, int column, const QVariant& value);
  void ToggleSelected();
  void Edited();

  CClpiObject* clip_ = nullptr;
  CClipTrackListModel* original_model_;
  CNewTrackListModel* new_model_;
  CTrackOrderListModel* order_model_;
  CListPanel* original_;
  CListPanel* new_;
  CListPanel* order_;
};

class CM2tsMiscView : public QWidget {
  Q_OBJECT

 public:
  explicit CM2tsMiscView(QWidget* parent = nullptr);
  void ShowClip(const CClpiObject* clip, const CPofObject* playlists);
  void Refresh();

  CListPanel* related_panel() const { return related_; }

 private:
  void UpdateCaption();

  CRelatedMplsListModel* model_;
  CListPanel* related_;
};

class CM2tsView : public QTabWidget {
  Q_OBJECT

 public:
  explicit CM2tsView(QWidget* parent = nullptr);
  void ShowClip(CClpiObject* clip, const CPofObject* playlists);
  void Refresh();

  CM2tsTrackView* track_view() const { return tracks_; }
  CM2tsMiscView* misc_view() const { return misc_; }

 private:
  CM2tsTrackView* tracks_;
  CM2tsMiscView* misc_;
};

}  // namespace tessel::ui
