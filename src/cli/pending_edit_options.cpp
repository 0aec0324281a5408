// Stand-in for the shared edit options while they are being written: none are offered.
#include "cli/edit_options.h"

namespace tessel {

void AddEditOptions(CLI::App& /*command*/, EditOptions& /*options*/) {}

int ApplyEditOptions(CBDDisc& /*disc*/, const EditOptions& /*options*/,
                     const ProgressCallback& /*progress*/) {
  return 0;
}

}  // namespace tessel
