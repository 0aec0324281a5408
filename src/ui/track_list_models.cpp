#include "ui/track_list_models.h"

#include "es/stream_info.h"
#include "formats/stn.h"
#include "formats/tables.h"
#include "model/track_kinds.h"
#include "model/track_texts.h"
#include "platform/common.h"
#include "platform/format.h"

namespace tessel::ui {
namespace {

constexpr SColumn kClipTrackColumns[] = {
    {0, "Keep", 70},    {0, "M2TS", 90},     {0, "PID", 70},   {0, "Size", 100},
    {0, "InTime", 100}, {0, "OutTime", 100}, {0, "Type", 200}, {0, "Attribute", 150},
};

constexpr SColumn kPlaylistTrackColumns[] = {
    {0, "Visible", 70}, {0, "M2TS", 100}, {0, "PID", 70},
    {0, "Size", 100},   {0, "Type", 200}, {0, "Attribute", 150},
};

constexpr SColumn kClipNewTrackColumns[] = {
    {9242, "", 70}, {9243, "", 180}, {9244, "", 140}, {9245, "", 170}, {9246, "", 120},
    {9247, "", 90}, {9248, "", 120}, {9249, "", 100}, {9250, "", 100},
};

constexpr SColumn kPlaylistNewTrackColumns[] = {
    {0, "Visible", 70},    {0, "Primary", 70},   {0, "Filename", 180}, {0, "Type", 140},
    {0, "Attribute", 170}, {0, "Language", 120}, {0, "Delay", 90},     {0, "Duration", 120},
    {0, "Size", 100},      {0, "Bitrate", 100},
};

constexpr SColumn kTrackOrderColumns[] = {
    {9237, "", 70}, {9238, "", 100}, {9239, "", 70}, {9240, "", 200}, {9241, "", 150},
};

int CountOf(const SRipTracks* tracks) {
  return tracks ? static_cast<int>(tracks->size()) : 0;
}

const SRipTrack& At(const SRipTracks& tracks, int row) {
  return *tracks[static_cast<size_t>(row)];
}

// The texts every track list shares: file, PID, size, codec and description.
std::string SharedTrackText(const SRipTrack& track, int column) {
  switch (column) {
    case 0:
      return NumberedFileName(track.clip_number, "m2ts");
    case 1:
      return TrackPidText(track);
    case 2:
      return SizeText(track.packet_count);
    case 3:
      return TrackCodecText(track);
    case 4:
      return TrackDescription(track);
    default:
      return {};
  }
}

// The columns of the clip's "New tracks:" list from "Filename" on (column 0 is "Filename").
std::string NewTrackText(const SRawTrack& shown, int column) {
  const SRawTrack& track = shown.Effective();
  switch (column) {
    case 0:
      return shown.MainPath().filename().string();
    case 1: {
      const char* name = CodingTypeShortName(track.CodingType());
      return name ? name : Format("0x%02X", track.CodingType());
    }
    case 2: {
      StreamInfo info;
      track.FillClipAttributes(info);
      return StreamDescription(info.CodingInfo.Values(), false);
    }
    case 3:
      return LanguageDisplayText(LanguageDisplayPosition(shown.LanguageCode()));
    case 4:
      return Format("%d", shown.delay / kTicksPerMs);
    case 5:
      return TimeText(static_cast<uint64_t>(StreamDurationMs(track.header)));
    case 6:
      return SizeText(track.header.totalSize / kSourcePacketSize);
    case 7:
      return track.header.bitRate ? Format("%u kbps", track.header.bitRate / 1000) : "";
    default:
      return {};
  }
}

}  // namespace

bool DelayFits(int64_t milliseconds) {
  return milliseconds >= -kMaxDelayMs && milliseconds <= kMaxDelayMs;
}

CClipTrackListModel::CClipTrackListModel(QObject* parent) : CListModel(kClipTrackColumns, parent) {}

void CClipTrackListModel::SetClip(const CClpiObject* clip) {
  beginResetModel();
  clip_ = clip;
  endResetModel();
}

int CClipTrackListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !clip_ ? 0 : CountOf(&clip_->original_tracks);
}

std::string CClipTrackListModel::Text(int row, int column) const {
  const SRipTrack& track = At(clip_->original_tracks, row);
  switch (column) {
    case 0:
      return {};
    case 4:
      return TimeText(clip_->start_time / 90);
    case 5:
      return TimeText(clip_->end_time / 90);
    case 6:
      return SharedTrackText(track, 3);
    case 7:
      return SharedTrackText(track, 4);
    default:
      return SharedTrackText(track, column - 1);
  }
}

std::optional<bool> CClipTrackListModel::Checked(int row, int column) const {
  if (column != 0) return {};
  return At(clip_->original_tracks, row).keep != 0;
}

bool CClipTrackListModel::Greyed(int row) const {
  return At(clip_->original_tracks, row).cleared != 0;
}

CPlaylistTrackListModel::CPlaylistTrackListModel(QObject* parent)
    : CListModel(kPlaylistTrackColumns, parent) {}

void CPlaylistTrackListModel::SetPlaylist(const CMplsObject* playlist) {
  beginResetModel();
  playlist_ = playlist;
  endResetModel();
}

int CPlaylistTrackListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !playlist_ ? 0 : CountOf(&playlist_->tracks);
}

std::string CPlaylistTrackListModel::Text(int row, int column) const {
  return column == 0 ? std::string() : SharedTrackText(At(playlist_->tracks, row), column - 1);
}

std::optional<bool> CPlaylistTrackListModel::Checked(int row, int column) const {
  if (column != 0) return {};
  return At(playlist_->tracks, row).keep != 0;
}

bool CPlaylistTrackListModel::Greyed(int row) const {
  return At(playlist_->tracks, row).cleared != 0;
}

CNewTrackListModel::CNewTrackListModel(Owner owner, QObject* parent)
    : CListModel(owner == Owner::kClip ? std::span<const SColumn>(kClipNewTrackColumns)
                                       : std::span<const SColumn>(kPlaylistNewTrackColumns),
                 parent),
      owner_(owner) {}

void CNewTrackListModel::SetTracks(const SRawTracks* tracks) {
  beginResetModel();
  tracks_ = tracks;
  endResetModel();
}

int CNewTrackListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !tracks_ ? 0 : static_cast<int>(tracks_->size());
}

std::string CNewTrackListModel::Text(int row, int column) const {
  // The boxes come first: "Primary" (and, in a playlist, "Visible" before it).
  const int boxes = owner_ == Owner::kPlaylist ? 2 : 1;
  return column < boxes ? std::string() : NewTrackText(At(row), column - boxes);
}

std::optional<bool> CNewTrackListModel::Checked(int row, int column) const {
  const SRawTrack& track = At(row);
  if (owner_ == Owner::kPlaylist && column == 0) return track.keep != 0;
  if (column == (owner_ == Owner::kPlaylist ? 1 : 0)) return track.primary != 0;
  return {};
}

bool CNewTrackListModel::Editable(int column) const {
  return column == language_column() || column == delay_column();
}

QVariant CNewTrackListModel::EditValue(int row, int column) const {
  if (row < 0 || row >= rowCount()) return {};
  const SRawTrack& track = At(row);
  if (column == language_column()) return LanguageDisplayPosition(track.LanguageCode());
  if (column == delay_column()) return static_cast<int>(track.delay / kTicksPerMs);
  return {};
}

CTrackOrderListModel::CTrackOrderListModel(QObject* parent)
    : CListModel(kTrackOrderColumns, parent) {}

void CTrackOrderListModel::SetClip(const CClpiObject* clip) {
  beginResetModel();
  clip_ = clip;
  playlist_ = nullptr;
  endResetModel();
}

void CTrackOrderListModel::SetPlaylist(const CMplsObject* playlist) {
  beginResetModel();
  clip_ = nullptr;
  playlist_ = playlist;
  endResetModel();
}

std::vector<const SMuxTrack*> CTrackOrderListModel::Tracks() const {
  if (clip_) return clip_->OutputTracks();
  if (playlist_) return playlist_->OutputTracks();
  return {};
}

int CTrackOrderListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(Tracks().size());
}

std::string CTrackOrderListModel::Text(int row, int column) const {
  const std::vector<const SMuxTrack*> order = Tracks();
  if (row >= static_cast<int>(order.size())) return {};
  if (column == 0) return Format("%d", row);
  const SMuxTrack* track = order[static_cast<size_t>(row)];
  if (const auto* original = dynamic_cast<const SRipTrack*>(track)) {
    return SharedTrackText(*original, column == 1 ? 0 : column == 2 ? 1 : column);
  }
  const auto* added = dynamic_cast<const SRawTrack*>(track);
  if (added == nullptr) return {};
  switch (column) {
    case 1:
      return NewTrackText(*added, 0);
    case 3:
      return NewTrackText(*added, 1);
    case 4:
      return NewTrackText(*added, 2);
    default:
      return {};
  }
}

}  // namespace tessel::ui
