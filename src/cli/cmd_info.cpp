// `tessel info PATH`: opens a disc exactly as the application does and prints its two trees,
// the clips and the playlists, with the application's labels; optionally every track, or JSON.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "cli/app.h"
#include "cli/disc_print.h"
#include "model/bd_disc.h"

namespace tessel::cli {
namespace {

JobResult RunInfo(const std::string& path, bool tracks, bool as_json) {
  CBDDisc disc;
  if (!disc.Open(path)) return JobResult::kFailed;  // the disc has shown why
  if (as_json) {
    std::printf("%s\n", DiscJson(disc, {.tracks = tracks}).dump(2).c_str());
  } else {
    PrintDiscText(disc, {.tracks = tracks});
  }
  return JobResult::kDone;
}

const bool kRegistered = RegisterCommand(
    {"info", "Open a BDMV folder and print its clips and playlists",
     [](CLI::App& command, const GlobalOptions&) -> CommandAction {
       auto path = std::make_shared<std::string>();
       auto tracks = std::make_shared<bool>(false);
       auto as_json = std::make_shared<bool>(false);
       command.add_option("PATH", *path, "The BDMV folder or the folder that holds it")->required();
       command.add_flag("--tracks", *tracks, "Also print every clip's and playlist's tracks");
       command.add_flag("--json", *as_json, "Print the same as JSON");
       return [path, tracks, as_json] { return RunInfo(*path, *tracks, *as_json); };
     }});

}  // namespace
}  // namespace tessel::cli
