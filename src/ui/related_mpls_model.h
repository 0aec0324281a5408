// "Related Mpls": the playlists that use the shown clip, and where they use it.
#pragma once

#include <vector>

#include "model/clip_object.h"
#include "model/playlist_object.h"
#include "ui/list_model.h"

namespace tessel::ui {

class CRelatedMplsListModel : public CListModel {
  Q_OBJECT

 public:
  explicit CRelatedMplsListModel(QObject* parent = nullptr);
  void SetClip(const CClpiObject* clip, const CPofObject* playlists);
  int rowCount(const QModelIndex& parent = {}) const override;

 protected:
  std::string Text(int row, int column) const override;

 private:
  std::vector<const CMplsObject*> Related() const;

  const CClpiObject* clip_ = nullptr;
  const CPofObject* playlists_ = nullptr;
};

}  // namespace tessel::ui
