// tessel-gui [FOLDER]: the desktop application; opens FOLDER when given.
#include <QApplication>
#include <QStringList>

#include "platform/prompt.h"
#include "ui/main_frame.h"
#include "ui/message_prompt.h"
#include "ui/settings.h"
#include "ui/tessel_app.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  tessel::ui::SetSettingsIdentity();
  tessel::ui::CMessageBoxPrompt prompt;
  tessel::ScopedPrompt scope(&prompt);
  tessel::ui::CTesselApp app;
  tessel::ui::CMainFrame frame(app);
  prompt.set_window(&frame);
  frame.show();
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) frame.OpenFolder(arguments.at(1));
  return QApplication::exec();
}
