#include "ui/m2ts_view.h"

#include <QVBoxLayout>

#include "platform/format.h"
#include "platform/string_table.h"
#include "ui/path_text.h"

namespace tessel::ui {

CM2tsTrackView::CM2tsTrackView(QWidget* parent)
    : QWidget(parent),
      original_model_(new CClipTrackListModel()),
      order_model_(new CTrackOrderListModel()) {
  original_ = new CListPanel(QStringLiteral("Original tracks:"),
                             {"Check All", "Uncheck All", "Demux"}, original_model_, this);
  new_ = new CListPanel(QStringLiteral("New tracks:"), {"Add track", "Delete"},
                        new CNewTrackListModel(CNewTrackListModel::Owner::kClip), this);
  order_ = new CListPanel(QStringLiteral("Added Tracks:"), {}, order_model_, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  for (CListPanel* panel : {original_, new_, order_}) layout->addWidget(panel, 1);
}

void CM2tsTrackView::ShowClip(const CClpiObject* clip) {
  original_model_->SetClip(clip);
  order_model_->SetTracks(clip ? &clip->original_tracks : nullptr);
}

void CM2tsTrackView::Refresh() {
  for (CListPanel* panel : {original_, new_, order_}) panel->ResetKeeping(panel->SelectedRow());
}

CM2tsMiscView::CM2tsMiscView(QWidget* parent)
    : QWidget(parent), model_(new CRelatedMplsListModel()) {
  related_ = new CListPanel(QString(), {}, model_, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(related_);
  UpdateCaption();
}

void CM2tsMiscView::ShowClip(const CClpiObject* clip, const CPofObject* playlists) {
  const int selected = related_->SelectedRow();
  model_->SetClip(clip, playlists);
  related_->ResetKeeping(selected);
  UpdateCaption();
}

void CM2tsMiscView::Refresh() {
  related_->ResetKeeping(related_->SelectedRow());
  UpdateCaption();
}

void CM2tsMiscView::UpdateCaption() {
  related_->caption()->setText(TextToQt(Format("%s(%d):", LoadString(9055), model_->rowCount())));
}

CM2tsView::CM2tsView(QWidget* parent)
    : QTabWidget(parent), tracks_(new CM2tsTrackView()), misc_(new CM2tsMiscView()) {
  addTab(tracks_, QStringLiteral("M2ts Tracks"));
  addTab(misc_, QStringLiteral("Mpls list"));
}

void CM2tsView::ShowClip(const CClpiObject* clip, const CPofObject* playlists) {
  tracks_->ShowClip(clip);
  misc_->ShowClip(clip, playlists);
}

void CM2tsView::Refresh() {
  tracks_->Refresh();
  misc_->Refresh();
}

}  // namespace tessel::ui
