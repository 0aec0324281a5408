// The main view: "M2ts View" shows the clip chosen in the clip tree, "Mpls View" the playlist
// chosen in the playlist tree. It holds plain pointers into the disc and is emptied before the
// disc changes.
#pragma once

#include <QTabWidget>

#include "model/bd_disc.h"
#include "ui/m2ts_view.h"
#include "ui/mpls_view.h"

namespace tessel::ui {

class CTesselView : public QTabWidget {
  Q_OBJECT

 public:
  enum Tab { kM2tsTab = 0, kMplsTab = 1 };

  explicit CTesselView(QWidget* parent = nullptr);

  // The disc whose objects are shown and edited; null empties every list.
  void SetDisc(CBDDisc* disc);
  // Shows the object of the disc in its tab; `switch_tab` also brings that tab to the front.
  void ShowObject(const CNamedObject* object, bool switch_tab);
  // The model changed: every list reads it again.
  void Refresh();
  // "Scan track size" of the active tab's track view; failed on any other tab.
  JobResult ScanTrackSize();
  // Whether the active tab shows something to scan.
  bool CanScan() const;

  const CClpiObject* shown_clip() const { return clip_; }
  const CMplsObject* shown_playlist() const { return playlist_; }
  CM2tsView* m2ts_view() const { return m2ts_; }
  CMplsView* mpls_view() const { return mpls_; }

 signals:
  // The shown clip or the active tab changed (the window title follows).
  void shownChanged();
  // A command changed the model (the commands' enabling follows).
  void edited();

 private:
  void ShowClip(CClpiObject* clip);
  void ShowPlaylist(CMplsObject* playlist);
  void OnEdited();

  CBDDisc* disc_ = nullptr;
  CClpiObject* clip_ = nullptr;
  CMplsObject* playlist_ = nullptr;
  CM2tsView* m2ts_;
  CMplsView* mpls_;
};

}  // namespace tessel::ui
