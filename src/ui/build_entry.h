// The model's build as the application reaches it: null entries while the program is linked
// without the build, which leaves the Build command disabled.
#pragma once

#include <functional>
#include <string>

#include "model/build.h"

namespace tessel::ui {

struct SBuildEntry {
  int (*check)(CBDDisc& disc) = nullptr;
  SBuildReport (*run)(CBDDisc& disc, const std::string& chosen_folder,
                      const std::function<void()>& on_start,
                      const ProgressCallback& progress) = nullptr;
  bool available() const { return check != nullptr && run != nullptr; }
};

const SBuildEntry& BuildEntry();
// Whether this program was linked with the build.
inline bool BuildAvailable() {
  return BuildEntry().available();
}

}  // namespace tessel::ui
