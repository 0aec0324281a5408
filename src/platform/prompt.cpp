#include "platform/prompt.h"

#include <cstdio>

namespace tessel {
namespace {

class StderrPrompt final : public Prompt {
 public:
  void Message(std::string_view text, PromptIcon) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  }
  PromptAnswer Ask(std::string_view text, PromptButtons buttons, PromptIcon icon) override {
    Message(text, icon);
    switch (buttons) {
      case PromptButtons::kOk:
        return PromptAnswer::kOk;
      case PromptButtons::kYesNo:
        return PromptAnswer::kNo;
      default:
        return PromptAnswer::kCancel;
    }
  }
};

StderrPrompt g_default_prompt;
Prompt* g_prompt = nullptr;

}  // namespace

void SetPrompt(Prompt* prompt) {
  g_prompt = prompt;
}

Prompt& CurrentPrompt() {
  return g_prompt ? *g_prompt : g_default_prompt;
}

void ShowMessage(std::string_view text, PromptIcon icon) {
  CurrentPrompt().Message(text, icon);
}

PromptAnswer AskUser(std::string_view text, PromptButtons buttons, PromptIcon icon) {
  return CurrentPrompt().Ask(text, buttons, icon);
}

ScopedPrompt::ScopedPrompt(Prompt* prompt) : previous_(g_prompt) {
  g_prompt = prompt;
}
ScopedPrompt::~ScopedPrompt() {
  g_prompt = previous_;
}

}  // namespace tessel
