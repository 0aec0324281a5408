// The edit options `tessel edit` and `tessel build` share: an edit-list file and the options
// --drop, --add, --replace, --clear and --cut, applied to an opened disc in that order.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "model/bd_disc.h"
#include "platform/progress.h"

namespace tessel {

struct EditOptions {
  std::string edits_file;  // --edits FILE
  std::vector<std::string> drop, add, replace, clear, cut;
};

void AddEditOptions(CLI::App& command, EditOptions& options);
// 0 applied, 1 cancelled, 2 after the message; the disc is unchanged unless 0.
int ApplyEditOptions(CBDDisc& disc, const EditOptions& options, const ProgressCallback& progress);

}  // namespace tessel
