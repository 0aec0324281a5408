// The track lists of the clip and playlist views: the original tracks with their "Keep" or
// "Visible" box, the new tracks, and the output order.
#pragma once

#include <vector>

#include "model/clip_object.h"
#include "model/playlist_object.h"
#include "ui/list_model.h"

namespace tessel::ui {

// "Original tracks:" of a clip.
class CClipTrackListModel : public CListModel {
  Q_OBJECT

 public:
  explicit CClipTrackListModel(QObject* parent = nullptr);
  void SetClip(const CClpiObject* clip);
  int rowCount(const QModelIndex& parent = {}) const override;

 protected:
  std::string Text(int row, int column) const override;
  std::optional<bool> Checked(int row, int column) const override;
  bool Greyed(int row) const override;

 private:
  const CClpiObject* clip_ = nullptr;
};

// "Original tracks:" of a playlist.
class CPlaylistTrackListModel : public CListModel {
  Q_OBJECT

 public:
  explicit CPlaylistTrackListModel(QObject* parent = nullptr);
  void SetPlaylist(const CMplsObject* playlist);
  int rowCount(const QModelIndex& parent = {}) const override;

 protected:
  std::string Text(int row, int column) const override;
  std::optional<bool> Checked(int row, int column) const override;
  bool Greyed(int row) const override;

 private:
  const CMplsObject* playlist_ = nullptr;
};

// "New tracks:" of a clip or a playlist. Loading gives no new track; adding them comes with the
// track commands, so the list shows its columns only.
class CNewTrackListModel : public CListModel {
  Q_OBJECT

 public:
  enum class Owner { kClip, kPlaylist };
  explicit CNewTrackListModel(Owner owner, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;

 protected:
  std::string Text(int row, int column) const override;
};

// "Added Tracks:" of a clip and "Track order:" of a playlist: the tracks of the output in their
// order, numbered from 0.
class CTrackOrderListModel : public CListModel {
  Q_OBJECT

 public:
  explicit CTrackOrderListModel(QObject* parent = nullptr);
  // The original tracks of the shown clip or playlist; null for none.
  void SetTracks(const SRipTracks* tracks);
  int rowCount(const QModelIndex& parent = {}) const override;

 protected:
  std::string Text(int row, int column) const override;

 private:
  const SRipTracks* tracks_ = nullptr;
};

}  // namespace tessel::ui
