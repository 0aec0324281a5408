#include "cli/app.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "platform/prompt.h"

#ifndef TESSEL_VERSION
#define TESSEL_VERSION "0.0.0"
#endif

namespace tessel::cli {
namespace {

std::vector<CommandInfo>& Registry() {
  static std::vector<CommandInfo> commands;
  return commands;
}

// Messages go to stderr; questions are answered by --yes/--no, else asked on the terminal, else
// answered with their negative choice.
class TerminalPrompt final : public Prompt {
 public:
  explicit TerminalPrompt(const GlobalOptions& options) : options_(options) {}

  void Message(std::string_view text, PromptIcon icon) override {
    const char* tag = icon == PromptIcon::kError     ? "error: "
                      : icon == PromptIcon::kWarning ? "warning: "
                                                     : "";
    std::fprintf(stderr, "%s%.*s\n", tag, static_cast<int>(text.size()), text.data());
  }

  PromptAnswer Ask(std::string_view text, PromptButtons buttons, PromptIcon) override {
    if (buttons == PromptButtons::kOk) {
      Message(text, PromptIcon::kInformation);
      return PromptAnswer::kOk;
    }
    const bool has_cancel =
        buttons == PromptButtons::kYesNoCancel || buttons == PromptButtons::kOkCancel;
    const PromptAnswer yes =
        buttons == PromptButtons::kOkCancel ? PromptAnswer::kOk : PromptAnswer::kYes;
    const PromptAnswer negative =
        buttons == PromptButtons::kOkCancel ? PromptAnswer::kCancel : PromptAnswer::kNo;
    if (options_.yes || options_.no) {
      std::fprintf(stderr, "%.*s %s\n", static_cast<int>(text.size()), text.data(),
                   options_.yes ? "yes" : "no");
      return options_.yes ? yes : negative;
    }
    if (!isatty(STDIN_FILENO)) {
      std::fprintf(stderr, "%.*s (no terminal: answered %s)\n", static_cast<int>(text.size()),
                   text.data(), has_cancel ? "cancel" : "no");
      return has_cancel ? PromptAnswer::kCancel : negative;
    }
    const char* choices = has_cancel ? "[y]es/[n]o/[c]ancel" : "[y]es/[n]o";
    for (;;) {
      std::fprintf(stderr, "%.*s %s ", static_cast<int>(text.size()), text.data(), choices);
      std::string answer;
      if (!std::getline(std::cin, answer)) return has_cancel ? PromptAnswer::kCancel : negative;
      const char c = answer.empty() ? '\0' : static_cast<char>(answer[0] | 0x20);
      if (c == 'y') return yes;
      if (c == 'n') return negative;
      if (c == 'c' && has_cancel) return PromptAnswer::kCancel;
    }
  }

 private:
  const GlobalOptions& options_;
};

}  // namespace

bool RegisterCommand(CommandInfo info) {
  Registry().push_back(std::move(info));
  return true;
}

int Run(int argc, char** argv) {
  CLI::App app{"Tessel re-authors Blu-ray movie folders (BDMV) without re-encoding.", "tessel"};
  app.set_version_flag("--version", std::string("tessel ") + TESSEL_VERSION);
  app.require_subcommand(0, 1);

  GlobalOptions options;
  auto* yes = app.add_flag("--yes", options.yes, "Answer every question with Yes");
  app.add_flag("--no", options.no, "Answer every question with No")->excludes(yes);
  app.add_flag("-q,--quiet", options.quiet, "Print no progress");

  CommandAction chosen;
  for (const CommandInfo& info : Registry()) {
    CLI::App* sub = app.add_subcommand(info.name, info.description);
    CommandAction action = info.setup(*sub, options);
    sub->callback([&chosen, action] { chosen = action; });
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : static_cast<int>(JobResult::kFailed);
  }
  if (!chosen) {
    std::cout << app.help();
    return 0;
  }
  TerminalPrompt prompt(options);
  ScopedPrompt scope(&prompt);
  return static_cast<int>(chosen());
}

}  // namespace tessel::cli
