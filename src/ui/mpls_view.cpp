#include "ui/mpls_view.h"

#include <QItemSelectionModel>
#include <QVBoxLayout>

namespace tessel::ui {
namespace {

QVBoxLayout* StackOf(QWidget* view, std::initializer_list<CListPanel*> panels) {
  auto* layout = new QVBoxLayout(view);
  layout->setContentsMargins(0, 0, 0, 0);
  for (CListPanel* panel : panels) layout->addWidget(panel, 1);
  return layout;
}

}  // namespace

CMplsTrackView::CMplsTrackView(QWidget* parent)
    : QWidget(parent),
      original_model_(new CPlaylistTrackListModel()),
      order_model_(new CTrackOrderListModel()) {
  original_ = new CListPanel(QStringLiteral("Original tracks:"),
                             {"Check All", "Uncheck All", "Delete from related m2ts", "Demux"},
                             original_model_, this);
  new_ = new CListPanel(QStringLiteral("New tracks:"), {"Add track", "Add empty track", "Delete"},
                        new CNewTrackListModel(CNewTrackListModel::Owner::kPlaylist), this);
  order_ =
      new CListPanel(QStringLiteral("Track order:"), {"Move up", "Move down"}, order_model_, this);
  StackOf(this, {original_, new_, order_});
}

void CMplsTrackView::ShowPlaylist(const CMplsObject* playlist) {
  original_model_->SetPlaylist(playlist);
  order_model_->SetTracks(playlist ? &playlist->tracks : nullptr);
}

CMplsPiView::CMplsPiView(QWidget* parent)
    : QWidget(parent),
      model_(new CPlayItemListModel()),
      panel_(new CListPanel(QStringLiteral("PlayItem:"), {}, model_, this)) {
  StackOf(this, {panel_});
}

void CMplsPiView::ShowPlaylist(const CMplsObject* playlist, const CCofObject* clips) {
  model_->SetPlaylist(playlist, clips);
}

CMplsSpView::CMplsSpView(QWidget* parent)
    : QWidget(parent),
      sub_path_model_(new CSubPathListModel()),
      item_model_(new CSubPlayItemListModel()),
      sub_paths_(new CListPanel(QStringLiteral("SubPath:"), {}, sub_path_model_, this)),
      items_(new CListPanel(QStringLiteral("SubPlayItem:"), {}, item_model_, this)) {
  sub_paths_->list()->setSelectionMode(QAbstractItemView::SingleSelection);
  connect(sub_paths_->list()->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { ShowSubPath(current.row()); });
  StackOf(this, {sub_paths_, items_});
}

void CMplsSpView::ShowPlaylist(const CMplsObject* playlist) {
  playlist_ = playlist;
  sub_path_model_->SetPlaylist(playlist);
  ShowSubPath(-1);
  sub_paths_->ResetKeeping(0);
}

void CMplsSpView::ShowSubPath(int row) {
  item_model_->SetSubPath(playlist_, row);
}

CMplsPmView::CMplsPmView(QWidget* parent)
    : QWidget(parent),
      model_(new CPlayMarkListModel()),
      panel_(new CListPanel(QStringLiteral("PlayMark:"), {}, model_, this)) {
  StackOf(this, {panel_});
}

void CMplsPmView::ShowPlaylist(const CMplsObject* playlist) {
  model_->SetPlaylist(playlist);
}

CMplsView::CMplsView(QWidget* parent)
    : QTabWidget(parent),
      tracks_(new CMplsTrackView()),
      play_items_(new CMplsPiView()),
      sub_paths_(new CMplsSpView()),
      marks_(new CMplsPmView()) {
  addTab(tracks_, QStringLiteral("Mpls Tracks"));
  addTab(play_items_, QStringLiteral("Play Items"));
  addTab(sub_paths_, QStringLiteral("Sub Path"));
  addTab(marks_, QStringLiteral("Playlist Mark"));
}

void CMplsView::ShowPlaylist(const CMplsObject* playlist, const CCofObject* clips) {
  tracks_->ShowPlaylist(playlist);
  play_items_->ShowPlaylist(playlist, clips);
  sub_paths_->ShowPlaylist(playlist);
  marks_->ShowPlaylist(playlist);
}

void CMplsView::Refresh() {
  for (CListPanel* panel : panels()) panel->ResetKeeping(panel->SelectedRow());
}

std::vector<CListPanel*> CMplsView::panels() const {
  return {tracks_->original_panel(),
          tracks_->new_panel(),
          tracks_->order_panel(),
          play_items_->panel(),
          sub_paths_->sub_path_panel(),
          sub_paths_->sub_play_item_panel(),
          marks_->panel()};
}

}  // namespace tessel::ui
