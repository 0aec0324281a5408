// `tessel build DISC -o OUTDIR [edit options | --edits FILE]`: opens the disc as `tessel info`
// does, applies the edits and writes the new disc below OUTDIR/Tessel. The exit code is the
// build's result: 0 done, 1 cancelled or declined, 2 failed.
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/app.h"
#include "cli/dump_json.h"
#include "cli/edit_options.h"
#include "cli/interrupt.h"
#include "cli/progress_bar.h"
#include "model/bd_disc.h"
#include "model/build.h"

namespace tessel::cli {
namespace {

struct BuildOptions {
  std::string disc;
  std::string output;
  bool json = false;
  EditOptions edits;
};

// "[HH:MM:SS]: text", the build log's line.
void LogLine(const std::string& text) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char clock[16] = {};
  std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  std::fprintf(stderr, "[%s]: %s\n", clock, text.c_str());
}

nlohmann::json ReportJson(const SBuildReport& report) {
  return {{"result", static_cast<int>(report.result)},
          {"output", report.output_bdmv},
          {"rebuilt_clips", report.rebuilt_clips},
          {"copied_clips", report.copied_clips},
          {"written_playlists", report.written_playlists},
          {"copied_playlists", report.copied_playlists},
          {"copied_files", report.copied_files},
          {"copied_bytes", report.copied_bytes},
          {"skipped_files", report.skipped_files},
          {"copy_ms", report.copy_time.count()},
          {"message", report.final_message}};
}

JobResult RunBuild(const BuildOptions& options, const GlobalOptions& global) {
  InterruptGuard guard;
  ProgressBar bar(global.quiet);
  const ProgressCallback draw = bar.Callback();
  const ProgressCallback progress = [&](const ProgressRecord& record) {
    if (record.kind == ProgressKind::kMessage && !global.quiet) {
      bar.Finish();
      LogLine(record.message);
      return !Interrupted();
    }
    return draw(record) && !Interrupted();
  };
  CBDDisc disc;
  if (!disc.Open(options.disc)) return JobResult::kFailed;  // the disc has shown why
  const int edited = ApplyEditOptions(disc, options.edits, progress);
  if (edited != 0 || Interrupted()) {
    return edited == 1 || Interrupted() ? JobResult::kCancelled : JobResult::kFailed;
  }
  const SBuildReport report = RunBuildCommand(disc, options.output, nullptr, progress);
  bar.Finish();
  if (options.json) std::cout << JsonText(ReportJson(report)) << "\n";
  return report.result;
}

const bool kRegistered = RegisterCommand(
    {"build", "Apply edits to a disc and write the new BDMV folder below OUTDIR/Tessel",
     [](CLI::App& command, const GlobalOptions& global) -> CommandAction {
       auto options = std::make_shared<BuildOptions>();
       command.add_option("DISC", options->disc, "The BDMV folder or the folder that holds it")
           ->required();
       command.add_option("-o,--output", options->output, "The folder to build into")->required();
       command.add_flag("--json", options->json, "Print what was rebuilt and copied as JSON");
       AddEditOptions(command, options->edits);
       // --yes, --no and --quiet may follow the command too.
       command.fallthrough();
       return [options, &global] { return RunBuild(*options, global); };
     }});

}  // namespace
}  // namespace tessel::cli
