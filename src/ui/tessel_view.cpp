#include "ui/tessel_view.h"

#include "platform/string_table.h"
#include "ui/path_text.h"

namespace tessel::ui {

CTesselView::CTesselView(QWidget* parent)
    : QTabWidget(parent), m2ts_(new CM2tsView()), mpls_(new CMplsView()) {
  addTab(m2ts_, TextToQt(LoadString(158)));
  addTab(mpls_, TextToQt(LoadString(157)));
  connect(this, &QTabWidget::currentChanged, this, &CTesselView::shownChanged);
}

void CTesselView::SetDisc(const CBDDisc* disc) {
  disc_ = disc;
  ShowClip(nullptr);
  ShowPlaylist(nullptr);
}

void CTesselView::ShowObject(const CNamedObject* object, bool switch_tab) {
  if (disc_ == nullptr) return;
  if (const auto* clip = dynamic_cast<const CClpiObject*>(object)) {
    ShowClip(clip);
    if (switch_tab) setCurrentIndex(kM2tsTab);
  } else if (const auto* playlist = dynamic_cast<const CMplsObject*>(object)) {
    ShowPlaylist(playlist);
    if (switch_tab) setCurrentIndex(kMplsTab);
  }
}

void CTesselView::Refresh() {
  m2ts_->Refresh();
  mpls_->Refresh();
}

void CTesselView::ShowClip(const CClpiObject* clip) {
  clip_ = clip;
  m2ts_->ShowClip(clip, disc_ ? disc_->playlists() : nullptr);
  emit shownChanged();
}

void CTesselView::ShowPlaylist(const CMplsObject* playlist) {
  playlist_ = playlist;
  mpls_->ShowPlaylist(playlist, disc_ ? disc_->clips() : nullptr);
}

}  // namespace tessel::ui
