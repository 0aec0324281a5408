// tessel_ui_screenshots DIR: drives real application windows through the fixture discs and saves
// a PNG of the main window after each step (run by scripts/screenshots under a virtual display).
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "ui/main_frame.h"
#include "ui/message_prompt.h"
#include "ui/path_text.h"
#include "ui/settings.h"
#include "ui/tessel_app.h"
#include "ui_fixture.h"

namespace fs = std::filesystem;
using namespace tessel;

namespace {

QString g_out;

void Shoot(const QString& name) {
  QApplication::processEvents();
  QScreen* screen = QGuiApplication::primaryScreen();
  const QString path = g_out + "/" + name + ".png";
  screen->grabWindow(0).save(path);
  std::printf("%s\n", path.toUtf8().constData());
}

// Shows each message like the application, takes the screen with it, then closes it.
class ShootingPrompt : public ui::CMessageBoxPrompt {
 public:
  void Message(std::string_view text, PromptIcon icon) override {
    QTimer::singleShot(300, [] {
      Shoot(QStringLiteral("failed-open-message"));
      if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
    CMessageBoxPrompt::Message(text, icon);
  }
};

void SelectTree(ui::CTreePane* pane, const QModelIndex& index) {
  pane->tree()->setCurrentIndex(index);
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: tessel_ui_screenshots DIR\n");
    return 2;
  }
  g_out = QString::fromLocal8Bit(argv[1]);
  test::TempDir scratch;
  ui::SetSettingsIdentity();
  test::UseScratchSettings(scratch / "config");
  ShootingPrompt prompt;
  ScopedPrompt scope(&prompt);
  ui::CTesselApp app;
  ui::CMainFrame frame(app);
  prompt.set_window(&frame);
  frame.resize(1280, 800);
  frame.show();
  frame.move(0, 0);

  frame.OpenFolder(ui::PathToQt(test::DataPath("discs/disc-multiclip/BDMV").string()));
  Shoot(QStringLiteral("01-opened-multiclip"));
  const auto& clips = *frame.m2ts_pane()->model();
  SelectTree(frame.m2ts_pane(), clips.index(0, 0, clips.GroupIndex()));
  Shoot(QStringLiteral("02-clip-tracks"));
  frame.view()->m2ts_view()->setCurrentIndex(1);
  Shoot(QStringLiteral("03-clip-related-playlists"));
  const auto& playlists = *frame.mpls_pane()->model();
  SelectTree(frame.mpls_pane(), playlists.index(0, 0, playlists.RootIndex()));
  const char* tabs[] = {"04-playlist-tracks", "05-playlist-play-items", "06-playlist-sub-paths",
                        "07-playlist-marks"};
  for (int tab = 0; tab < 4; ++tab) {
    frame.view()->mpls_view()->setCurrentIndex(tab);
    Shoot(QString::fromUtf8(tabs[tab]));
  }

  const fs::path retail = test::StageDisc("discs/retail/bdpl-disc9", scratch / "retail");
  frame.OpenFolder(ui::PathToQt(retail.string()));
  for (int row = 0; row < app.disc().playlists()->GetCount(); ++row) {
    if (!app.disc().playlists()->GetAt(row)->sub_paths.empty()) {
      SelectTree(frame.mpls_pane(), playlists.index(row, 0, playlists.RootIndex()));
      break;
    }
  }
  frame.view()->mpls_view()->setCurrentIndex(2);
  Shoot(QStringLiteral("08-retail-sub-paths"));

  const fs::path broken = test::StageDisc("discs/disc-multiclip", scratch / "broken");
  fs::remove(broken / "STREAM" / "00001.m2ts");
  frame.OpenFolder(ui::PathToQt(broken.string()));
  Shoot(QStringLiteral("09-after-failed-open"));
  return 0;
}
