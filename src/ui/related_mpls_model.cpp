#include "ui/related_mpls_model.h"

#include "formats/mpls.h"
#include "model/related_playlists.h"
#include "platform/common.h"
#include "platform/format.h"

namespace tessel::ui {
namespace {

constexpr SColumn kColumns[] = {
    {9251, "", 70}, {9252, "", 100}, {9253, "", 90}, {9254, "", 100},
    {9255, "", 80}, {9256, "", 80},  {9257, "", 80}, {9258, "", 300},
};

int SizeOf(size_t count) {
  return static_cast<int>(count);
}

}  // namespace

CRelatedMplsListModel::CRelatedMplsListModel(QObject* parent) : CListModel(kColumns, parent) {}

void CRelatedMplsListModel::SetClip(const CClpiObject* clip, const CPofObject* playlists) {
  beginResetModel();
  clip_ = clip;
  playlists_ = playlists;
  endResetModel();
}

std::vector<const CMplsObject*> CRelatedMplsListModel::Related() const {
  if (!clip_ || !playlists_) return {};
  return RelatedPlaylists(*playlists_, clip_->id());
}

int CRelatedMplsListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : SizeOf(Related().size());
}

std::string CRelatedMplsListModel::Text(int row, int column) const {
  const std::vector<const CMplsObject*> related = Related();
  if (row >= SizeOf(related.size())) return {};
  const CMplsObject& playlist = *related[static_cast<size_t>(row)];
  switch (column) {
    case 0:
      return Format(" # %d", row + 1);
    case 1:
      return NumberedFileName(playlist.id(), "MPLS");
    case 2:
      return PlaybackTypeText(playlist.app_info.PlaylistPlaybackType);
    case 3:
      return TimeText(playlist.DurationMs());
    case 4:
      return Format("%d", SizeOf(playlist.play_items.size()));
    case 5:
      return Format("%d", SizeOf(playlist.marks.size()));
    case 6:
      return Format("%d", SizeOf(playlist.sub_paths.size()));
    case 7:
      return ClipUsesText(playlist, clip_->id());
    default:
      return {};
  }
}

}  // namespace tessel::ui
