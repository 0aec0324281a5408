// The lists of the playlist view that show the parsed playlist itself: play items, sub-paths
// with the sub-play items of the selected one, and marks.
#pragma once

#include "model/clip_object.h"
#include "model/playlist_object.h"
#include "ui/list_model.h"

namespace tessel::ui {

// "PlayItem:".
class CPlayItemListModel : public CListModel {
  Q_OBJECT

 public:
  explicit CPlayItemListModel(QObject* parent = nullptr);
  // The clips give the play items' sizes.
  void SetPlaylist(const CMplsObject* playlist, const CCofObject* clips);
  int rowCount(const QModelIndex& parent = {}) const override;

 protected:
  std::string Text(int row, int column) const override;

 private:
  const CMplsObject* playlist_ = nullptr;
  const CCofObject* clips_ = nullptr;
};

// "SubPath:".
class CSubPathListModel : public CListModel {
  Q_OBJECT

 public:
  explicit CSubPathListModel(QObject* parent = nullptr);
  void SetPlaylist(const CMplsObject* playlist);
  int rowCount(const QModelIndex& parent = {}) const override;

 protected:
  std::string Text(int row, int column) const override;

 private:
  const CMplsObject* playlist_ = nullptr;
};

// "SubPlayItem:" of one sub-path.
class CSubPlayItemListModel : public CListModel {
  Q_OBJECT

 public:
  explicit CSubPlayItemListModel(QObject* parent = nullptr);
  // The sub-path's index in the playlist; out of range shows nothing.
  void SetSubPath(const CMplsObject* playlist, int sub_path);
  int rowCount(const QModelIndex& parent = {}) const override;

 protected:
  std::string Text(int row, int column) const override;

 private:
  const SUB_PATH* SubPath() const;

  const CMplsObject* playlist_ = nullptr;
  int sub_path_ = -1;
};

// "PlayMark:".
class CPlayMarkListModel : public CListModel {
  Q_OBJECT

 public:
  explicit CPlayMarkListModel(QObject* parent = nullptr);
  void SetPlaylist(const CMplsObject* playlist);
  int rowCount(const QModelIndex& parent = {}) const override;

 protected:
  std::string Text(int row, int column) const override;

 private:
  const CMplsObject* playlist_ = nullptr;
};

}  // namespace tessel::ui
