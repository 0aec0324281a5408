// `tessel edit DISC [edit options] [--json] [--save FILE]`: applies the edits to the opened disc,
// runs the checks a build would run first and prints the trees with every track's edit state.
// Writes nothing but the edit list asked for with --save.
#include <cstdio>
#include <memory>
#include <string>

#include "cli/app.h"
#include "cli/disc_print.h"
#include "cli/edit_options.h"
#include "model/bd_disc.h"
#include "model/build.h"
#include "model/edit_list.h"
#include "platform/prompt.h"

namespace tessel::cli {
namespace {

struct EditCommandOptions {
  std::string disc;
  EditOptions edits;
  bool as_json = false;
  std::string save;
};

JobResult RunEdit(const EditCommandOptions& options) {
  CBDDisc disc;
  if (!disc.Open(options.disc)) return JobResult::kFailed;  // the disc has shown why
  const int applied = ApplyEditOptions(disc, options.edits, nullptr);
  if (applied != 0) return static_cast<JobResult>(applied);
  if (!options.save.empty()) {
    std::string error;
    if (!SaveEditListFile(options.save, disc.edit_record().edits, error)) {
      ShowMessage(error);
      return JobResult::kFailed;
    }
  }
  const int checked = CheckDiscBeforeBuild(disc);
  const DiscPrintOptions print{.tracks = true, .edit_state = true};
  if (options.as_json) {
    std::printf("%s\n", DiscJson(disc, print).dump(2).c_str());
  } else {
    PrintDiscText(disc, print);
  }
  return checked == 0 ? JobResult::kDone : JobResult::kFailed;
}

const bool kRegistered = RegisterCommand(
    {"edit", "Apply edits to a BDMV folder, check them and print the result (writes no disc)",
     [](CLI::App& command, const GlobalOptions&) -> CommandAction {
       auto options = std::make_shared<EditCommandOptions>();
       command.add_option("DISC", options->disc, "The BDMV folder or the folder that holds it")
           ->required();
       AddEditOptions(command, options->edits);
       command.add_flag("--json", options->as_json, "Print the result as JSON");
       command.add_option("--save", options->save, "Write the edits as an edit list to FILE")
           ->type_name("FILE");
       return [options] { return RunEdit(*options); };
     }});

}  // namespace
}  // namespace tessel::cli
