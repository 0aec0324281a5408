// The one place where the system tells the user something or asks a question. Each front end
// (GUI, command line, tests) installs its own implementation for the whole process.
#pragma once

#include <string>
#include <string_view>

namespace tessel {

enum class PromptIcon { kInformation, kWarning, kError, kQuestion };
enum class PromptButtons { kOk, kYesNo, kYesNoCancel, kOkCancel };
enum class PromptAnswer { kOk, kYes, kNo, kCancel };

class Prompt {
 public:
  virtual ~Prompt() = default;
  virtual void Message(std::string_view text, PromptIcon icon) = 0;
  virtual PromptAnswer Ask(std::string_view text, PromptButtons buttons, PromptIcon icon) = 0;
};

// Installs the prompt used from now on; null restores the default, which writes messages to
// stderr and answers every question with its negative choice (No, or Cancel where offered).
void SetPrompt(Prompt* prompt);
Prompt& CurrentPrompt();

// Shortcuts through the current prompt.
void ShowMessage(std::string_view text, PromptIcon icon = PromptIcon::kError);
PromptAnswer AskUser(std::string_view text, PromptButtons buttons = PromptButtons::kYesNo,
                     PromptIcon icon = PromptIcon::kQuestion);

// Installs a prompt for the lifetime of a scope and restores the previous one afterwards.
class ScopedPrompt {
 public:
  explicit ScopedPrompt(Prompt* prompt);
  ~ScopedPrompt();
  ScopedPrompt(const ScopedPrompt&) = delete;
  ScopedPrompt& operator=(const ScopedPrompt&) = delete;

 private:
  Prompt* previous_;
};

}  // namespace tessel
