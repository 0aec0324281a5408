// The prompt service of the desktop application: every message and question of the system as a
// modal message box on the main window, titled "Tessel".
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <string_view>

#include "platform/prompt.h"

namespace tessel::ui {

// The text as the system gave it, trailing blanks included, with "\r\n" and "\n\r" as one line
// break each.
QString PromptText(std::string_view text);

class CMessageBoxPrompt : public Prompt {
 public:
  // The window the boxes are modal on; null shows them without a parent.
  void set_window(QWidget* window) { window_ = window; }

  void Message(std::string_view text, PromptIcon icon) override;
  PromptAnswer Ask(std::string_view text, PromptButtons buttons, PromptIcon icon) override;

 private:
  QPointer<QWidget> window_;
};

}  // namespace tessel::ui
