#include "ui/build_entry.h"

namespace tessel::ui {

const SBuildEntry& BuildEntry() {
#if TESSEL_HAVE_BUILD
  static const SBuildEntry entry{&CheckDiscBeforeBuild, &RunBuildCommand};
#else
  static const SBuildEntry entry{};
#endif
  return entry;
}

}  // namespace tessel::ui
