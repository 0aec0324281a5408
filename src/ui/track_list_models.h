// The track lists of the clip and playlist views: the original tracks with their "Keep" or
// "Visible" box, the new tracks, and the output order.
#pragma once

#include <cstdint>
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

// The 90 kHz delay of a number of milliseconds fits the 32 bits it is kept in.
inline constexpr int32_t kTicksPerMs = 90;
inline constexpr int32_t kMaxDelayMs = 23860929;
bool DelayFits(int64_t milliseconds);

// "New tracks:" of a clip or a playlist: the tracks added from elementary-stream files.
class CNewTrackListModel : public CListModel {
  Q_OBJECT

 public:
  enum class Owner { kClip, kPlaylist };
  explicit CNewTrackListModel(Owner owner, QObject* parent = nullptr);
  void SetTracks(const SRawTracks* tracks);
  int rowCount(const QModelIndex& parent = {}) const override;

  // The in-place columns.
  int language_column() const { return owner_ == Owner::kClip ? 4 : 5; }
  int delay_column() const { return owner_ == Owner::kClip ? 5 : 6; }
  // The language as its position in the display order; the delay in milliseconds.
  QVariant EditValue(int row, int column) const override;

 protected:
  std::string Text(int row, int column) const override;
  std::optional<bool> Checked(int row, int column) const override;
  bool Editable(int column) const override;
  // "Primary" and the playlist's "Visible" are shown, not edited.
  bool Tickable(int /*column*/) const override { return false; }

 private:
  const SRawTrack& At(int row) const { return (*tracks_)[static_cast<size_t>(row)]; }

  Owner owner_;
  const SRawTracks* tracks_ = nullptr;
};

// "Added Tracks:" of a clip and "Track order:" of a playlist: the tracks of the output in their
// order (kept originals and new tracks), numbered from 0.
class CTrackOrderListModel : public CListModel {
  Q_OBJECT

 public:
  explicit CTrackOrderListModel(QObject* parent = nullptr);
  void SetClip(const CClpiObject* clip);
  void SetPlaylist(const CMplsObject* playlist);
  int rowCount(const QModelIndex& parent = {}) const override;

 protected:
  std::string Text(int row, int column) const override;

 private:
  std::vector<const SMuxTrack*> Tracks() const;

  const CClpiObject* clip_ = nullptr;
  const CMplsObject* playlist_ = nullptr;
};

}  // namespace tessel::ui
