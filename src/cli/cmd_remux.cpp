// `tessel remux IN.m2ts [--keep PID,...] [--clpi FILE] -o OUT.m2ts`: rewrites a clip with only
// the kept tracks, a new clip information file and entry point map, as a build does.

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "cli/app.h"
#include "cli/dump_json.h"
#include "cli/interrupt.h"
#include "cli/progress_bar.h"
#include "cli/remux_source.h"
#include "model/remux_clip.h"
#include "platform/format.h"
#include "platform/prompt.h"

namespace tessel::cli {
namespace {

namespace fs = std::filesystem;

struct RemuxOptions {
  RemuxSource source;
  std::string out;
  std::string clpi_out;  // empty: OUT with the extension .clpi
  bool json = false;
};

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

// The outputs may replace neither the input nor, without --yes, an existing file.
bool CheckOutputs(const RemuxOptions& o, const GlobalOptions& global, const CClpiObject& clip,
                  fs::path& clpi_out) {
  clpi_out = o.clpi_out.empty() ? fs::path(o.out).replace_extension(".clpi") : fs::path(o.clpi_out);
  for (const fs::path& target : {fs::path(o.out), clpi_out}) {
    for (const std::string& input : {clip.stream_path, clip.clpi_path}) {
      if (SameFile(input, target) || fs::absolute(target) == fs::absolute(input)) {
        ShowMessage(Format("%s is an input; choose another output ", target.string().c_str()));
        return false;
      }
    }
    if (fs::exists(target) && !global.yes) {
      ShowMessage(Format("%s exists; pass --yes to replace it ", target.string().c_str()));
      return false;
    }
  }
  return true;
}

JobResult RunRemux(const RemuxOptions& o, const GlobalOptions& global) {
  CClpiObject clip;
  fs::path clpi_out;
  if (!LoadRemuxClip(o.source, clip) || !CheckOutputs(o, global, clip, clpi_out)) {
    return JobResult::kFailed;
  }
  InterruptGuard interrupt;
  ProgressBar bar(global.quiet);
  const ProgressCallback draw = bar.Callback();
  const ProgressCallback progress = [&draw](const ProgressRecord& record) {
    return draw(record) && !Interrupted();
  };
  const JobResult result = RemuxClip(clip, o.out, clpi_out, std::nullopt, progress);
  bar.Finish();
  if (result != JobResult::kDone) return result;
  const nlohmann::json j = WrittenClipJson(o.out, clpi_out, clip);
  if (o.json) {
    std::cout << JsonText(j) << "\n";
  } else {
    PrintWrittenClip(j);
  }
  return JobResult::kDone;
}

const bool registered = RegisterCommand(
    {"remux", "Rewrite a clip keeping some of its tracks, with new clip information",
     [](CLI::App& command, const GlobalOptions& global) -> CommandAction {
       auto o = std::make_shared<RemuxOptions>();
       command.add_option("input", o->source.stream, "Input .m2ts")->required();
       AddRemuxSourceOptions(command, o->source);
       command.add_option("-o,--out", o->out, "Output .m2ts")->required();
       command.add_option("--clpi-out", o->clpi_out, "Output clip information");
       command.add_flag("--json", o->json, "Print the result as JSON");
       return [o, &global] { return RunRemux(*o, global); };
     }});

}  // namespace
}  // namespace tessel::cli
