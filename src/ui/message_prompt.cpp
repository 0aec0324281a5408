#include "ui/message_prompt.h"

#include <QApplication>
#include <QMessageBox>

namespace tessel::ui {
namespace {

QMessageBox::Icon BoxIcon(PromptIcon icon) {
  switch (icon) {
    case PromptIcon::kInformation:
      return QMessageBox::Information;
    case PromptIcon::kWarning:
      return QMessageBox::Warning;
    case PromptIcon::kError:
      return QMessageBox::Critical;
    case PromptIcon::kQuestion:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons BoxButtons(PromptButtons buttons) {
  switch (buttons) {
    case PromptButtons::kOk:
      return QMessageBox::Ok;
    case PromptButtons::kYesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case PromptButtons::kYesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case PromptButtons::kOkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

PromptAnswer AnswerOf(int button) {
  switch (button) {
    case QMessageBox::Ok:
      return PromptAnswer::kOk;
    case QMessageBox::Yes:
      return PromptAnswer::kYes;
    case QMessageBox::No:
      return PromptAnswer::kNo;
    default:
      return PromptAnswer::kCancel;
  }
}

// Closing the box with Escape or the title bar answers with the negative choice.
QMessageBox::StandardButton EscapeOf(PromptButtons buttons) {
  switch (buttons) {
    case PromptButtons::kOk:
      return QMessageBox::Ok;
    case PromptButtons::kYesNo:
      return QMessageBox::No;
    default:
      return QMessageBox::Cancel;
  }
}

int RunBox(QWidget* window, std::string_view text, PromptButtons buttons, PromptIcon icon) {
  QMessageBox box(BoxIcon(icon), QStringLiteral("Tessel"), PromptText(text), BoxButtons(buttons),
                  window);
  box.setTextFormat(Qt::PlainText);
  box.setEscapeButton(EscapeOf(buttons));
  box.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
  QApplication::setOverrideCursor(Qt::ArrowCursor);  // a wait cursor may be up for a long job
  const int answer = box.exec();
  QApplication::restoreOverrideCursor();
  return answer;
}

}  // namespace

QString PromptText(std::string_view text) {
  QString out = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  out.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
  return out;
}

void CMessageBoxPrompt::Message(std::string_view text, PromptIcon icon) {
  RunBox(window_, text, PromptButtons::kOk, icon);
}

PromptAnswer CMessageBoxPrompt::Ask(std::string_view text, PromptButtons buttons, PromptIcon icon) {
  return AnswerOf(RunBox(window_, text, buttons, icon));
}

}  // namespace tessel::ui
