// Where the views ask the user for files and folders. The dialogs are behind one replaceable
// service, as the prompt is, so that a command can be driven without a person at the screen.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

namespace tessel::ui {

class CFileChoice {
 public:
  virtual ~CFileChoice() = default;
  // The chosen files in the dialog's order; empty when the user cancelled.
  virtual QStringList OpenFiles(QWidget* parent, const QString& filter, bool several) = 0;
  // The chosen folder; empty when the user cancelled.
  virtual QString Folder(QWidget* parent, const QString& title, const QString& start) = 0;
};

// The file dialogs; `choice` replaces them (null restores them).
void SetFileChoice(CFileChoice* choice);
CFileChoice& CurrentFileChoice();

// The elementary-stream filter of the model ("Clip file(...)|...|All files(*.*)|*.*||") as the
// file dialog's filter list.
QString DialogFilter(const std::string& filter);

}  // namespace tessel::ui
