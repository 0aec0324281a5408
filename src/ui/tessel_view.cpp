#include "ui/tessel_view.h"

#include "platform/string_table.h"
#include "ui/path_text.h"

namespace tessel::ui {
namespace {

// The object of the list that `shown` points at: the trees hand out read-only pointers, and the
// view edits what the disc it was given holds.
template <typename List>
auto* FindIn(List* list, const CNamedObject* shown) {
  using Item = std::remove_pointer_t<decltype(list->GetAt(0))>;
  if (list == nullptr) return static_cast<Item*>(nullptr);
  for (int i = 0; i < list->GetCount(); ++i) {
    if (list->GetAt(i) == shown) return list->GetAt(i);
  }
  return static_cast<Item*>(nullptr);
}

}  // namespace

CTesselView::CTesselView(QWidget* parent)
    : QTabWidget(parent), m2ts_(new CM2tsView()), mpls_(new CMplsView()) {
  addTab(m2ts_, TextToQt(LoadString(158)));
  addTab(mpls_, TextToQt(LoadString(157)));
  connect(this, &QTabWidget::currentChanged, this, &CTesselView::shownChanged);
  connect(m2ts_->track_view(), &CM2tsTrackView::edited, this, &CTesselView::OnEdited);
  connect(mpls_->track_view(), &CMplsTrackView::edited, this, &CTesselView::OnEdited);
}

void CTesselView::SetDisc(CBDDisc* disc) {
  disc_ = disc;
  ShowClip(nullptr);
  ShowPlaylist(nullptr);
}

void CTesselView::ShowObject(const CNamedObject* object, bool switch_tab) {
  if (disc_ == nullptr || object == nullptr) return;
  if (CClpiObject* clip = FindIn(disc_->clips(), object)) {
    ShowClip(clip);
    if (switch_tab) setCurrentIndex(kM2tsTab);
  } else if (CMplsObject* playlist = FindIn(disc_->playlists(), object)) {
    ShowPlaylist(playlist);
    if (switch_tab) setCurrentIndex(kMplsTab);
  }
}

void CTesselView::Refresh() {
  m2ts_->Refresh();
  mpls_->Refresh();
}

void CTesselView::OnEdited() {
  Refresh();
  emit edited();
}

bool CTesselView::CanScan() const {
  if (currentIndex() == kM2tsTab) return clip_ != nullptr;
  if (currentIndex() == kMplsTab) return playlist_ != nullptr;
  return false;
}

JobResult CTesselView::ScanTrackSize() {
  if (currentIndex() == kM2tsTab) return m2ts_->track_view()->ScanTrackSize();
  if (currentIndex() == kMplsTab) return mpls_->track_view()->ScanTrackSize();
  return JobResult::kFailed;
}

void CTesselView::ShowClip(CClpiObject* clip) {
  clip_ = clip;
  m2ts_->ShowClip(clip, disc_ ? disc_->playlists() : nullptr);
  emit shownChanged();
}

void CTesselView::ShowPlaylist(CMplsObject* playlist) {
  playlist_ = playlist;
  mpls_->ShowPlaylist(playlist, disc_ ? disc_->clips() : nullptr);
  emit shownChanged();
}

}  // namespace tessel::ui
