#include "ui/playlist_list_models.h"

#include "formats/mpls.h"
#include "platform/common.h"
#include "platform/format.h"

namespace tessel::ui {
namespace {

constexpr SColumn kPlayItemColumns[] = {
    {0, "Index", 65},         {0, "M2ts", 120},     {0, "Size", 120},     {0, "InTime", 130},
    {0, "OutTime", 130},      {0, "Duration", 130}, {0, "CC", 70},        {0, "RefStcId", 75},
    {0, "RandomAccess", 130}, {0, "StillMode", 90}, {0, "StillTime", 75},
};

constexpr SColumn kSubPathColumns[] = {
    {0, "Index", 60},
    {0, "Type", 150},
    {0, "Repeated", 85},
    {0, "Spi(s)", 80},
};

constexpr SColumn kSubPlayItemColumns[] = {
    {0, "Index", 70},   {0, "M2ts", 120},    {0, "CC", 70},     {0, "RefStcId", 75},
    {0, "InTime", 120}, {0, "OutTime", 120}, {0, "SyncPI", 70}, {0, "SyncStartPTS", 120},
};

constexpr SColumn kPlayMarkColumns[] = {
    {9261, "", 100}, {9262, "", 150}, {9263, "", 150},
    {9264, "", 150}, {9265, "", 150}, {9266, "", 150},
};

template <class T>
int CountOf(const std::vector<T>* items) {
  return items ? static_cast<int>(items->size()) : 0;
}

std::string Time45Text(uint64_t ticks) {
  return TimeText(Ticks45ToMs(ticks));
}

std::string ClipFileText(int clip) {
  return clip >= 0 ? NumberedFileName(clip, "m2ts") : std::string();
}

}  // namespace

CPlayItemListModel::CPlayItemListModel(QObject* parent) : CListModel(kPlayItemColumns, parent) {}

void CPlayItemListModel::SetPlaylist(const CMplsObject* playlist, const CCofObject* clips) {
  beginResetModel();
  playlist_ = playlist;
  clips_ = clips;
  endResetModel();
}

int CPlayItemListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !playlist_ ? 0 : CountOf(&playlist_->play_items);
}

std::string CPlayItemListModel::Text(int row, int column) const {
  const PLAY_ITEM& item = playlist_->play_items[static_cast<size_t>(row)];
  switch (column) {
    case 0:
      return Format("%d", row);
    case 1:
      return ClipFileText(item.ClipNumber());
    case 2: {
      const CClpiObject* clip = clips_ ? clips_->FindClip(item.ClipNumber()) : nullptr;
      return clip ? SizeText(clip->PacketCount()) : std::string();
    }
    case 3:
      return Time45Text(item.InTime);
    case 4:
      return Time45Text(item.OutTime);
    case 5:
      return TimeText(PlayItemDurationMs(item));
    case 6:
      return ConnectionConditionText(item.ConnectionCondition);
    case 7:
      return Format("%d", item.RefToSTC_ID);
    case 8:
      return Format("%d", item.PlayItemRandomAccessFlag ? 1 : 0);
    case 9:
      return StillModeText(item.StillMode);
    case 10:
      return Format("%d", item.StillTime);
    default:
      return {};
  }
}

CSubPathListModel::CSubPathListModel(QObject* parent) : CListModel(kSubPathColumns, parent) {}

void CSubPathListModel::SetPlaylist(const CMplsObject* playlist) {
  beginResetModel();
  playlist_ = playlist;
  endResetModel();
}

int CSubPathListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !playlist_ ? 0 : CountOf(&playlist_->sub_paths);
}

std::string CSubPathListModel::Text(int row, int column) const {
  const SUB_PATH& path = playlist_->sub_paths[static_cast<size_t>(row)];
  switch (column) {
    case 0:
      return Format("%d", row);
    case 1:
      return SubPathTypeText(path.SubPathType);
    case 2:
      return Format("%d", path.IsRepeatSubPath ? 1 : 0);
    case 3:
      return Format("%d", static_cast<int>(path.items.size()));
    default:
      return {};
  }
}

CSubPlayItemListModel::CSubPlayItemListModel(QObject* parent)
    : CListModel(kSubPlayItemColumns, parent) {}

void CSubPlayItemListModel::SetSubPath(const CMplsObject* playlist, int sub_path) {
  beginResetModel();
  playlist_ = playlist;
  sub_path_ = sub_path;
  endResetModel();
}

const SUB_PATH* CSubPlayItemListModel::SubPath() const {
  if (!playlist_ || sub_path_ < 0 || sub_path_ >= CountOf(&playlist_->sub_paths)) return nullptr;
  return &playlist_->sub_paths[static_cast<size_t>(sub_path_)];
}

int CSubPlayItemListModel::rowCount(const QModelIndex& parent) const {
  const SUB_PATH* path = SubPath();
  return parent.isValid() || !path ? 0 : CountOf(&path->items);
}

std::string CSubPlayItemListModel::Text(int row, int column) const {
  const SUB_PLAY_ITEM& item = SubPath()->items[static_cast<size_t>(row)];
  switch (column) {
    case 0:
      return Format("%d", row);
    case 1:
      return ClipFileText(item.ClipNumber());
    case 2:
      return ConnectionConditionText(item.ConnectionCondition);
    case 3:
      return Format("%d", item.RefToSTC_ID);
    case 4:
      return Time45Text(item.InTime);
    case 5:
      return Time45Text(item.OutTime);
    case 6:
      return Format("%d", item.SyncPlayItemID);
    case 7:
      return Time45Text(item.SyncStartPTS_OfPlayItem);
    default:
      return {};
  }
}

CPlayMarkListModel::CPlayMarkListModel(QObject* parent) : CListModel(kPlayMarkColumns, parent) {}

void CPlayMarkListModel::SetPlaylist(const CMplsObject* playlist) {
  beginResetModel();
  playlist_ = playlist;
  endResetModel();
}

int CPlayMarkListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !playlist_ ? 0 : CountOf(&playlist_->marks);
}

std::string CPlayMarkListModel::Text(int row, int column) const {
  const PLAY_MARK& mark = playlist_->marks[static_cast<size_t>(row)];
  switch (column) {
    case 0:
      return Format("%d", row);
    case 1:
      return MarkTypeText(mark.MarkType);
    case 2:
      return Format("%d", mark.RefToPlayItemID);
    case 3:
      return Time45Text(mark.MarkTimeStamp);
    case 4:
      return Format("0x%04X", mark.EntryES_PID);
    case 5:
      return Time45Text(mark.Duration);
    default:
      return {};
  }
}

}  // namespace tessel::ui
