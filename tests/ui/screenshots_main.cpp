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
#include "ui/progress_wnd.h"
#include "ui/settings.h"
#include "ui/task_dlg.h"
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

  // A copy: the analysis of a new track writes its side file beside the stream.
  const fs::path multiclip = test::StageDisc("discs/disc-multiclip", scratch / "multiclip");
  frame.OpenFolder(ui::PathToQt(multiclip.string()));
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

  frame.view()->setCurrentIndex(0);
  frame.view()->m2ts_view()->setCurrentIndex(0);
  SelectTree(frame.m2ts_pane(), clips.index(0, 0, clips.GroupIndex()));
  {
    test::ScopedFileChoice files;
    fs::create_directories(scratch / "es");
    files.files = {ui::PathToQt(test::StageEs("ac3_20_192k.ac3", scratch / "es").string())};
    frame.view()->m2ts_view()->track_view()->AddTrack();
  }
  Shoot(QStringLiteral("10-clip-new-track"));
  frame.view()->m2ts_view()->track_view()->ClearTrack(1, true);
  Shoot(QStringLiteral("11-clip-cleared-track"));
  {
    ui::CProgressWnd progress;
    progress.Create(QStringLiteral("Scaning track..."), &frame);
    progress.show();
    progress.SetText(multiclip.string() + "/STREAM/00000.m2ts");
    progress.SetPos(42);
    QApplication::processEvents();
    Shoot(QStringLiteral("12-progress-window"));
  }
  {
    ui::CTaskDlg dialog(&frame);
    dialog.show();
    const ProgressCallback log = dialog.Callback();
    for (const char* line : {"Start to build...", "Remultiplex 00000.m2ts", "Copy 00001.m2ts"}) {
      log({ProgressKind::kMessage, 0, line, {}});
    }
    log({ProgressKind::kPosition, 37, {}, {}});
    Shoot(QStringLiteral("13-build-dialog"));
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
