// The command line front end: subcommands register themselves with the application.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "platform/common.h"

namespace tessel::cli {

// Options every subcommand sees.
struct GlobalOptions {
  bool yes = false;    // answer every question with Yes
  bool no = false;     // answer every question with No
  bool quiet = false;  // no progress output
};

// A subcommand adds its options to `command` and returns the action to run when it is chosen.
using CommandAction = std::function<JobResult()>;
using CommandSetup = std::function<CommandAction(CLI::App& command, const GlobalOptions& options)>;

struct CommandInfo {
  const char* name;
  const char* description;
  CommandSetup setup;
};

// Adds a subcommand to the registry; used by the static registrars of each command file.
bool RegisterCommand(CommandInfo info);

// Runs the command line; returns the process exit code (0 done, 1 cancelled, 2 failed).
int Run(int argc, char** argv);

}  // namespace tessel::cli
