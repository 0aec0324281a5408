// The editing commands of the clip and playlist views on copies of the fixture discs: boxes,
// new tracks, replacement, clearing, demux and the delay editor, each read back from the lists.
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "model/bd_disc.h"
#include "ui/build_entry.h"
#include "ui/main_frame.h"
#include "ui/path_text.h"
#include "ui/tessel_app.h"
#include "ui/track_view_support.h"
#include "ui_fixture.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;
using ui::CListPanel;
using ui::CM2tsTrackView;
using ui::CMainFrame;
using ui::CMplsTrackView;
using ui::CTesselApp;

QString Cell(const QAbstractItemModel& model, int row, int column) {
  return model.index(row, column).data().toString();
}

int Ticked(const QAbstractItemModel& model, int row) {
  return model.index(row, 0).data(Qt::CheckStateRole).toInt();
}

// The first row whose cell in `column` reads `text`; -1 when none.
int RowOf(const QAbstractItemModel& model, int column, const QString& text) {
  return static_cast<int>(ColumnTexts(model, column).indexOf(text));
}

void Drop(QTableView* list, const QStringList& files) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& file : files) urls << QUrl::fromLocalFile(file);
  data.setUrls(urls);
  const QPoint at = list->viewport()->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(list->viewport(), &enter);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(list->viewport(), &drop);
}

QAction* MenuAction(QMenu* menu, const char* text) {
  for (QAction* action : menu->actions()) {
    if (action->text() == QString::fromLatin1(text)) return action;
  }
  return nullptr;
}

constexpr int kClipPid = 2;
constexpr int kClipCodec = 6;
constexpr int kPlaylistPid = 2;

class CEditTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    UseScratchSettings(settings_.path());
    work_ = std::make_unique<TempDir>();
    app_ = std::make_unique<CTesselApp>();
    frame_ = std::make_unique<CMainFrame>(*app_);
  }
  void cleanup() {
    frame_.reset();
    app_.reset();
    work_.reset();
  }

  // A clip's box reaches the playlists' visibility; a playlist's box alone stays in the playlist.
  void keepBoxesReachPlaylists() {
    ScopedRecordingPrompt prompt;
    Open("disc-simple");
    QVERIFY(!Action(ui::Command::kBuild)->isEnabled());
    ShowClip(0);
    auto& list = *Clip()->original_panel()->model();
    const int ac3 = RowOf(list, kClipCodec, QStringLiteral("AC-3"));
    QVERIFY(ac3 >= 0);
    const QString pid = Cell(list, ac3, kClipPid);
    const int order_rows = Clip()->order_panel()->model()->rowCount();
    QVERIFY(list.setData(list.index(ac3, 0), Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(Ticked(list, ac3), int(Qt::Unchecked));
    QCOMPARE(Clip()->order_panel()->model()->rowCount(), order_rows - 1);
    QCOMPARE(ColumnTexts(*Clip()->order_panel()->model(), 0).last(),
             QString::number(order_rows - 2));
    QCOMPARE(Action(ui::Command::kBuild)->isEnabled(), ui::BuildAvailable());

    ShowPlaylist(0);
    auto& tracks = *Playlist()->original_panel()->model();
    const int row = RowOf(tracks, kPlaylistPid, pid);
    QVERIFY(row >= 0);
    QCOMPARE(Ticked(tracks, row), int(Qt::Unchecked));
    // The playlist's own box leaves the clip as it is.
    QVERIFY(tracks.setData(tracks.index(row, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(Ticked(tracks, row), int(Qt::Checked));
    QCOMPARE(Ticked(list, ac3), int(Qt::Unchecked));
    QVERIFY(prompt.entries().empty());
  }

  void deleteFromRelatedReachesEveryClip() {
    ScopedRecordingPrompt prompt;
    Open("disc-multiclip");
    ShowPlaylist(0);
    auto& tracks = *Playlist()->original_panel()->model();
    const int row = RowOf(tracks, 4, QStringLiteral("AC-3"));
    QVERIFY(row >= 0);
    const QString pid = Cell(tracks, row, kPlaylistPid);
    std::unique_ptr<QMenu> menu(Playlist()->ContextMenu(row));
    MenuAction(menu.get(), "Delete from related M2ts")->trigger();
    QCOMPARE(Ticked(tracks, row), int(Qt::Unchecked));
    for (int clip = 0; clip < 3; ++clip) {
      ShowClip(clip);
      auto& list = *Clip()->original_panel()->model();
      QCOMPARE(Ticked(list, RowOf(list, kClipPid, pid)), int(Qt::Unchecked));
    }
    ShowPlaylist(0);
    menu.reset(Playlist()->ContextMenu(row));
    MenuAction(menu.get(), "Cancel Delete")->trigger();
    QCOMPARE(Ticked(tracks, row), int(Qt::Checked));
    ShowClip(1);
    auto& list = *Clip()->original_panel()->model();
    QCOMPARE(Ticked(list, RowOf(list, kClipPid, pid)), int(Qt::Checked));
  }

  void checkAllAndSpace() {
    ScopedRecordingPrompt prompt;
    Open("disc-simple");
    ShowClip(0);
    CListPanel* panel = Clip()->original_panel();
    auto& list = *panel->model();
    panel->buttons()[1]->click();  // Uncheck All
    for (int row = 0; row < list.rowCount(); ++row) QCOMPARE(Ticked(list, row), int(Qt::Unchecked));
    QCOMPARE(Clip()->order_panel()->model()->rowCount(), 0);
    panel->list()->selectRow(1);
    QTest::keyClick(panel->list(), Qt::Key_Space);
    QCOMPARE(Ticked(list, 1), int(Qt::Checked));
    panel->buttons()[0]->click();  // Check All
    for (int row = 0; row < list.rowCount(); ++row) QCOMPARE(Ticked(list, row), int(Qt::Checked));
  }

  // Add track, the same file again, Delete, and a drop; the lists follow each step.
  void addAgainDeleteAndDrop() {
    ScopedRecordingPrompt prompt;
    ScopedFileChoice files;
    Open("disc-simple");
    const QString ac3 = Es("ac3_20_192k.ac3");
    auto& added = *Clip()->new_panel()->model();
    Clip()->new_panel()->buttons()[0]->click();  // no clip shown
    QCOMPARE(prompt.messages(), std::vector<std::string>{"Please select the M2ts item first! "});
    QCOMPARE(files.file_dialogs, 0);
    prompt.clear();

    ShowClip(0);
    const int order_rows = Clip()->order_panel()->model()->rowCount();
    files.files = {ac3};
    Clip()->new_panel()->buttons()[0]->click();
    QVERIFY(prompt.entries().empty());
    QCOMPARE(added.rowCount(), 1);
    QCOMPARE(Cell(added, 0, 1), QStringLiteral("ac3_20_192k.ac3"));
    QCOMPARE(Cell(added, 0, 2), QStringLiteral("AC-3"));
    QVERIFY(!Cell(added, 0, 3).isEmpty());
    QCOMPARE(Cell(added, 0, 4), QStringLiteral("eng (English)"));
    QCOMPARE(Cell(added, 0, 5), QStringLiteral("0"));
    QVERIFY(Cell(added, 0, 6).startsWith(QStringLiteral("00:00:")));
    QCOMPARE(Cell(added, 0, 8), QStringLiteral("192 kbps"));
    QCOMPARE(added.index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(Clip()->order_panel()->model()->rowCount(), order_rows + 1);
    QCOMPARE(Cell(*Clip()->order_panel()->model(), order_rows, 1),
             QStringLiteral("ac3_20_192k.ac3"));

    Clip()->new_panel()->buttons()[0]->click();
    QCOMPARE(prompt.messages(),
             std::vector<std::string>{PathFromQt(ac3) + "\r\nStream has already been added ! "});
    QCOMPARE(added.rowCount(), 1);

    Clip()->new_panel()->list()->selectRow(0);
    Clip()->new_panel()->buttons()[1]->click();
    QCOMPARE(added.rowCount(), 0);
    QCOMPARE(Clip()->order_panel()->model()->rowCount(), order_rows);

    Drop(Clip()->original_panel()->list(), {ac3});
    QCOMPARE(added.rowCount(), 1);
    Clip()->new_panel()->list()->selectRow(0);
    QTest::keyClick(Clip()->new_panel()->list(), Qt::Key_Delete);
    QCOMPARE(added.rowCount(), 0);
  }

  void replaceAndClear() {
    ScopedRecordingPrompt prompt;
    ScopedFileChoice files;
    Open("disc-simple");
    ShowClip(0);
    auto& list = *Clip()->original_panel()->model();
    const int ac3 = RowOf(list, kClipCodec, QStringLiteral("AC-3"));
    const int video = RowOf(list, kClipPid, QStringLiteral("0x1011"));
    QVERIFY(ac3 >= 0 && video >= 0);
    const QString pid = Cell(list, ac3, kClipPid);
    const QString replacement = Es("ac3_51_448k.ac3");

    // Greying: a track that is not cleared can be cleared, not uncleared.
    std::unique_ptr<QMenu> menu(Clip()->ContextMenu(ac3));
    QVERIFY(MenuAction(menu.get(), "Clear Track")->isEnabled());
    QVERIFY(!MenuAction(menu.get(), "Cancel Clearing")->isEnabled());
    QVERIFY(menu->actions()[1]->isSeparator());
    MenuAction(menu.get(), "Clear Track")->trigger();
    QCOMPARE(list.index(ac3, 1).data(Qt::ForegroundRole).value<QColor>(), QColor(128, 128, 128));
    menu.reset(Clip()->ContextMenu(ac3));
    QVERIFY(!MenuAction(menu.get(), "Clear Track")->isEnabled());
    QVERIFY(MenuAction(menu.get(), "Cancel Clearing")->isEnabled());

    files.files = {replacement};
    MenuAction(menu.get(), "Replace Track")->trigger();
    QCOMPARE(prompt.messages(),
             std::vector<std::string>{"Track has been cleared, substitute failed! "});
    QCOMPARE(files.file_dialogs, 0);
    prompt.clear();
    MenuAction(menu.get(), "Cancel Clearing")->trigger();
    QVERIFY(!list.index(ac3, 1).data(Qt::ForegroundRole).isValid());

    Clip()->ReplaceTrack(video);
    QCOMPARE(prompt.messages(),
             std::vector<std::string>{PathFromQt(replacement) +
                                      "\r\nTrack type is different, substitute failed! "});
    QCOMPARE(Clip()->new_panel()->model()->rowCount(), 0);
    prompt.clear();

    auto& order = *Clip()->order_panel()->model();
    const int order_row = RowOf(order, 2, pid);
    QVERIFY(order_row >= 0);
    Clip()->ReplaceTrack(ac3);
    QVERIFY(prompt.entries().empty());
    QCOMPARE(Ticked(list, ac3), int(Qt::Unchecked));
    QCOMPARE(Clip()->new_panel()->model()->rowCount(), 1);
    QCOMPARE(Cell(order, order_row, 1), QStringLiteral("ac3_51_448k.ac3"));
    QCOMPARE(RowOf(order, 2, pid), -1);

    Clip()->ClearTrack(ac3, true);
    QCOMPARE(prompt.messages(),
             std::vector<std::string>{"Can not be cleared as it has been replaced! "});
    QVERIFY(!list.index(ac3, 1).data(Qt::ForegroundRole).isValid());
  }

  void playlistAddTrackRefusals() {
    ScopedRecordingPrompt prompt;
    ScopedFileChoice files;
    Open("disc-simple");
    Playlist()->new_panel()->buttons()[0]->click();
    ShowPlaylist(0);
    Playlist()->new_panel()->buttons()[0]->click();
    QCOMPARE(
        prompt.messages(),
        (std::vector<std::string>{"Please select the MPLS item first! ",
                                  "Mpls mode is only valid for mpls containing multiple m2ts! "}));
    QCOMPARE(files.file_dialogs, 0);
    QVERIFY(Playlist()->new_panel()->buttons()[0]->isEnabled());
  }

  void playlistAddTrackAcrossClipsAndOrder() {
    ScopedRecordingPrompt prompt;
    ScopedFileChoice files;
    Open("disc-multiclip");
    ShowPlaylist(0);
    auto& order = *Playlist()->order_panel()->model();
    const int rows = order.rowCount();
    files.files = {Es("ac3_20_192k.ac3")};
    Playlist()->new_panel()->buttons()[0]->click();
    QVERIFY(prompt.entries().empty());
    QCOMPARE(Playlist()->new_panel()->model()->rowCount(), 1);
    QCOMPARE(order.rowCount(), rows + 1);
    QCOMPARE(Cell(order, rows, 1), QStringLiteral("ac3_20_192k.ac3"));
    // The clips of the playlist have the track as well.
    ShowClip(1);
    QCOMPARE(Clip()->new_panel()->model()->rowCount(), 1);

    const QString first = Cell(order, 0, 2);
    const QString second = Cell(order, 1, 2);
    Playlist()->order_panel()->list()->selectRow(0);
    Playlist()->order_panel()->buttons()[1]->click();  // down
    QCOMPARE(Cell(order, 0, 2), second);
    QCOMPARE(Cell(order, 1, 2), first);
    QCOMPARE(Playlist()->order_panel()->SelectedRow(), 1);
    QTest::keyClick(Playlist()->order_panel()->list(), Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(Cell(order, 0, 2), first);
    QCOMPARE(Cell(order, 1, 2), second);
    QCOMPARE(Action(ui::Command::kBuild)->isEnabled(), ui::BuildAvailable());
  }

  void demux() {
    ScopedRecordingPrompt prompt;
    ScopedFileChoice files;
    Open("disc-simple");
    ShowClip(0);
    CListPanel* panel = Clip()->original_panel();
    panel->buttons()[1]->click();  // Uncheck All
    panel->buttons()[2]->click();
    QCOMPARE(prompt.messages(), std::vector<std::string>{"No checked tracks to demux! "});
    prompt.clear();

    // The fixture's stream holds video packets only: the video is the track with content.
    auto& list = *panel->model();
    const int video = RowOf(list, kClipPid, QStringLiteral("0x1011"));
    QVERIFY(list.setData(list.index(video, 0), Qt::Checked, Qt::CheckStateRole));
    const fs::path out = work_->path() / "demux";
    fs::create_directories(out);
    files.folder = ui::PathToQt(out.string());
    panel->buttons()[2]->click();
    const CClpiObject* clip = app_->disc().clips()->GetAt(0);
    QCOMPARE(files.folder_starts,
             QStringList{ui::PathToQt(fs::path(clip->stream_path).parent_path().string())});
    QCOMPARE(prompt.messages(),
             std::vector<std::string>{clip->stream_path + "\n\rDemux is completed! "});
    QStringList written;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
      if (entry.is_regular_file() && entry.file_size() > 0) {
        written << QString::fromStdString(entry.path().filename().string());
      }
    }
    QCOMPARE(written.size(), 1);
  }

  // The delay is kept in 32-bit 90 kHz ticks: 23860929 ms fits, 23860930 ms does not.
  void delayEditorLimit_data() {
    QTest::addColumn<qlonglong>("delay_ms");
    QTest::addColumn<bool>("taken");
    QTest::newRow("largest") << qlonglong(23860929) << true;
    QTest::newRow("smallest") << qlonglong(-23860929) << true;
    QTest::newRow("one past") << qlonglong(23860930) << false;
    QTest::newRow("one below") << qlonglong(-23860930) << false;
  }

  void delayEditorLimit() {
    QFETCH(qlonglong, delay_ms);
    QFETCH(bool, taken);
    ScopedRecordingPrompt prompt;
    ScopedFileChoice files;
    Open("disc-simple");
    ShowClip(0);
    files.files = {Es("ac3_20_192k.ac3")};
    Clip()->AddTrack();
    QTableView* list = Clip()->new_panel()->list();
    auto& added = *Clip()->new_panel()->model();
    const QModelIndex delay = added.index(0, 5);
    QVERIFY(added.flags(delay) & Qt::ItemIsEditable);

    std::unique_ptr<QWidget> editor(
        list->itemDelegate()->createEditor(list->viewport(), QStyleOptionViewItem(), delay));
    auto* edit = qobject_cast<QLineEdit*>(editor.get());
    QVERIFY(edit != nullptr);
    edit->setText(QString::number(delay_ms));
    QCOMPARE(edit->hasAcceptableInput(), taken);
    QCOMPARE(added.setData(delay, delay_ms), taken);
    QCOMPARE(Cell(added, 0, 5), taken ? QString::number(delay_ms) : QStringLiteral("0"));
  }

  void languageEditor() {
    ScopedRecordingPrompt prompt;
    ScopedFileChoice files;
    Open("disc-simple");
    ShowClip(0);
    files.files = {Es("ac3_20_192k.ac3")};
    Clip()->AddTrack();
    QTableView* list = Clip()->new_panel()->list();
    auto& added = *Clip()->new_panel()->model();
    const QModelIndex language = added.index(0, 4);
    std::unique_ptr<QWidget> editor(
        list->itemDelegate()->createEditor(list->viewport(), QStyleOptionViewItem(), language));
    auto* combo = qobject_cast<QComboBox*>(editor.get());
    QVERIFY(combo != nullptr);
    QCOMPARE(combo->count(), 475);
    list->itemDelegate()->setEditorData(combo, language);
    QCOMPARE(combo->currentText(), QStringLiteral("eng (English)"));
    const int french = combo->findText(QStringLiteral("fra"), Qt::MatchStartsWith);
    QVERIFY(french >= 0);
    combo->setCurrentIndex(french);
    list->itemDelegate()->setModelData(combo, &added, language);
    QVERIFY(Cell(added, 0, 4).startsWith(QStringLiteral("fra (")));
  }

 private:
  void Open(const char* disc) {
    const fs::path bdmv = StageDisc(std::string("discs/") + disc, work_->path() / disc);
    frame_->OpenFolder(ui::PathToQt(bdmv.string()));
    QVERIFY(app_->loaded());
  }
  QString Es(const char* name) {
    const fs::path folder = work_->path() / "es";
    fs::create_directories(folder);
    return ui::PathToQt(StageEs(name, folder).string());
  }
  void ShowClip(int index) { frame_->view()->ShowObject(app_->disc().clips()->GetAt(index), true); }
  void ShowPlaylist(int index) {
    frame_->view()->ShowObject(app_->disc().playlists()->GetAt(index), true);
  }
  CM2tsTrackView* Clip() const { return frame_->view()->m2ts_view()->track_view(); }
  CMplsTrackView* Playlist() const { return frame_->view()->mpls_view()->track_view(); }
  QAction* Action(ui::Command id) const { return frame_->action(id); }
  static std::string PathFromQt(const QString& path) { return ui::PathFromQt(path); }

  TempDir settings_;
  std::unique_ptr<TempDir> work_;
  std::unique_ptr<CTesselApp> app_;
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace
}  // namespace tessel::test

using tessel::test::CEditTest;
TESSEL_UI_TEST(CEditTest);

#include "edit_test.moc"
