#include "ui/tessel_app.h"

namespace tessel::ui {

bool CTesselApp::Load(const std::string& folder) {
  source_folder_ = folder;
  if (!source_folder_.empty() && source_folder_.back() != '/') source_folder_ += '/';
  loaded_ = disc_.Open(source_folder_);
  if (!loaded_) disc_.Clear();
  return loaded_;
}

void CTesselApp::Unload() {
  disc_.Clear();
  loaded_ = false;
}

}  // namespace tessel::ui
