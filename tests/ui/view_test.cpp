// The main view: what selecting a clip or a playlist fills, on real and retail discs.
#include <QProcess>
#include <QTest>

#include "model/bd_disc.h"
#include "support/disc_builder.h"
#include "ui/main_frame.h"
#include "ui/path_text.h"
#include "ui/tessel_app.h"
#include "ui_fixture.h"

namespace tessel::test {
namespace {

using ui::CListPanel;
using ui::CMainFrame;
using ui::CTesselApp;
using ui::CTesselView;

QString Disc(const char* name) {
  return QString::fromStdString(DataPath(std::string("discs/") + name + "/BDMV").string());
}

class CViewTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    UseScratchSettings(settings_.path());
    app_ = std::make_unique<CTesselApp>();
    frame_ = std::make_unique<CMainFrame>(*app_);
  }
  void cleanup() {
    frame_.reset();
    app_.reset();
  }

  // The original tracks list the texts `tessel info --tracks` prints for the clip.
  void selectingClipFillsTracksAndSwitches() {
    ScopedRecordingPrompt prompt;
    frame_->OpenFolder(Disc("disc-audio-zoo"));
    frame_->view()->setCurrentIndex(CTesselView::kMplsTab);
    SelectClip(0, true);

    QCOMPARE(frame_->view()->currentIndex(), int(CTesselView::kM2tsTab));
    QCOMPARE(frame_->windowTitle(), QStringLiteral("00000.m2ts - Tessel"));
    const auto& list = *frame_->view()->m2ts_view()->track_view()->original_panel()->model();
    QStringList lines;
    for (int row = 0; row < list.rowCount(); ++row) {
      QString line = Cell(list, row, 2) + ", " + Cell(list, row, 6);
      if (!Cell(list, row, 7).isEmpty()) line += ", " + Cell(list, row, 7);
      lines << line;
      QCOMPARE(list.index(row, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
      QCOMPARE(Cell(list, row, 1), QStringLiteral("00000.m2ts"));
    }
    QCOMPARE(lines, TrackLinesOfInfo());
    const auto& order = *frame_->view()->m2ts_view()->track_view()->order_panel()->model();
    QStringList numbers;
    for (int row = 0; row < list.rowCount(); ++row) numbers << QString::number(row);
    QCOMPARE(ColumnTexts(order, 0), numbers);
    QCOMPARE(ColumnTexts(order, 2), ColumnTexts(list, 2));
  }

  void doubleClickFillsWithoutSwitching() {
    ScopedRecordingPrompt prompt;
    frame_->OpenFolder(Disc("disc-multiclip"));
    frame_->view()->setCurrentIndex(CTesselView::kMplsTab);
    SelectClip(1, false);

    QCOMPARE(frame_->view()->currentIndex(), int(CTesselView::kMplsTab));
    QCOMPARE(frame_->view()->shown_clip(), app_->disc().clips()->GetAt(1));
    QCOMPARE(frame_->windowTitle(), QStringLiteral("Tessel"));
    frame_->view()->setCurrentIndex(CTesselView::kM2tsTab);
    QCOMPARE(frame_->windowTitle(), QStringLiteral("00001.m2ts - Tessel"));
  }

  void playlistFillsItsTabs() {
    ScopedRecordingPrompt prompt;
    frame_->OpenFolder(Disc("disc-multiclip"));
    SelectPlaylist(0);

    QCOMPARE(frame_->view()->currentIndex(), int(CTesselView::kMplsTab));
    const auto& items = *frame_->view()->mpls_view()->play_item_view()->panel()->model();
    QCOMPARE(ColumnTexts(items, 1), QStringList({"00000.m2ts", "00001.m2ts", "00002.m2ts"}));
    QCOMPARE(ColumnTexts(items, 5), QStringList({"00:00:04:004", "00:00:04:004", "00:00:02:002"}));
    QCOMPARE(ColumnTexts(items, 6), QStringList({"NonSeamless (1)", "Seamless without break (6)",
                                                 "Seamless without break (6)"}));
    QCOMPARE(ColumnTexts(items, 2), QStringList({"1.34MB", "1.30MB", "660KB"}));
    const auto& marks = *frame_->view()->mpls_view()->mark_view()->panel()->model();
    QCOMPARE(marks.rowCount(), 5);
    QCOMPARE(ColumnTexts(marks, 2).count(QStringLiteral("0")), 3);
    const auto& tracks = *frame_->view()->mpls_view()->track_view()->original_panel()->model();
    QCOMPARE(ColumnTexts(tracks, 2),
             ColumnTexts(*frame_->view()->mpls_view()->track_view()->order_panel()->model(), 2));
  }

  void retailDiscShowsSubPathsAndRelatedPlaylists() {
    TempDir dir;
    const auto bdmv = StageDisc("discs/retail/bdpl-disc9", dir.path());
    ScopedRecordingPrompt prompt;
    frame_->OpenFolder(QString::fromStdString(bdmv.string()));
    const auto& tree = *frame_->m2ts_pane()->model();
    QCOMPARE(tree.GroupIndex().data().toString(), QStringLiteral("MainPath of Movie(6)"));
    QCOMPARE(tree.rowCount(tree.GroupIndex()), 6);

    const CMplsObject* with_sub_paths = nullptr;
    int row = 0;
    for (; row < app_->disc().playlists()->GetCount(); ++row) {
      with_sub_paths = app_->disc().playlists()->GetAt(row);
      if (!with_sub_paths->sub_paths.empty()) break;
    }
    QVERIFY(row < app_->disc().playlists()->GetCount());
    SelectPlaylist(row);
    const auto* sp_view = frame_->view()->mpls_view()->sub_path_view();
    const auto& sub_paths = *sp_view->sub_path_panel()->model();
    QCOMPARE(sub_paths.rowCount(), int(with_sub_paths->sub_paths.size()));
    QVERIFY(ColumnTexts(sub_paths, 1).contains(QStringLiteral("IG menu")));
    const auto& items = *sp_view->sub_play_item_panel()->model();
    QCOMPARE(items.rowCount(), int(with_sub_paths->sub_paths[0].items.size()));
    QCOMPARE(Cell(items, 0, 1),
             QString::asprintf("%05d.m2ts", with_sub_paths->sub_paths[0].items[0].ClipNumber()));

    const CNamedObject* clip6 = app_->disc().clips()->FindClip(6);
    frame_->view()->ShowObject(clip6, true);
    const auto* misc = frame_->view()->m2ts_view()->misc_view();
    QCOMPARE(misc->related_panel()->caption()->text(), QStringLiteral("Related Mpls(2):"));
    const auto& related = *misc->related_panel()->model();
    QCOMPARE(ColumnTexts(related, 0), QStringList({" # 1", " # 2"}));
    for (const QString& used_by : ColumnTexts(related, 7)) {
      QVERIFY(used_by.startsWith(QStringLiteral("PI:")) ||
              used_by.startsWith(QStringLiteral("SP")));
    }
    QCOMPARE(misc->related_panel()->SelectedRow(), 0);
  }

  void emptyPlaylistGivesEmptyLists() {
    ScopedRecordingPrompt prompt;
    frame_->OpenFolder(Disc("disc-emptyplaylist"));
    SelectPlaylist(1);
    QCOMPARE(frame_->view()->shown_playlist()->name(), std::string("01900"));
    // The file's one mark names no play item; the list shows the file as it is.
    const CListPanel* marks = frame_->view()->mpls_view()->mark_view()->panel();
    for (CListPanel* panel : frame_->view()->mpls_view()->panels()) {
      QCOMPARE(panel->model()->rowCount(), panel == marks ? 1 : 0);
    }
    QCOMPARE(marks->model()->index(0, 2).data().toString(), QStringLiteral("65535"));
  }

  // The lists read the model at every call: a flag set there shows once the view is told.
  void modelFlagShowsAfterRefresh() {
    ScopedRecordingPrompt prompt;
    frame_->OpenFolder(Disc("disc-multiclip"));
    SelectClip(0, true);
    auto* tracks = frame_->view()->m2ts_view()->track_view();
    const auto& list = *tracks->original_panel()->model();
    QCOMPARE(tracks->order_panel()->model()->rowCount(), 2);

    app_->disc().clips()->GetAt(0)->original_tracks[1]->keep = 0;
    frame_->view()->Refresh();
    QCOMPARE(list.index(1, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(list.index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(ColumnTexts(*tracks->order_panel()->model(), 2), QStringList({"0x1011"}));
  }

  // 14 hours of 45 kHz ticks doubled pass 32 bits.
  void fourteenHourPlayItem() {
    TempDir dir;
    DiscBuilder builder(dir.path());
    builder.AddClip(0);
    ItemParams item;
    item.in = 0;
    item.out = 14u * 3600u * 45000u;
    builder.AddPlaylist("00000", {item});
    ScopedRecordingPrompt prompt;
    frame_->OpenFolder(QString::fromStdString(builder.bdmv().string()));
    QVERIFY(app_->loaded());
    const auto& tree = *frame_->mpls_pane()->model();
    QCOMPARE(tree.index(0, 0, tree.RootIndex()).data().toString(),
             QStringLiteral("00000, 14:00:00:000, 1 PI(s)"));
    SelectPlaylist(0);
    const auto& items = *frame_->view()->mpls_view()->play_item_view()->panel()->model();
    QCOMPARE(Cell(items, 0, 5), QStringLiteral("14:00:00:000"));
    QCOMPARE(Cell(items, 0, 4), QStringLiteral("14:00:00:000"));
  }

 private:
  static QString Cell(const QAbstractItemModel& model, int row, int column) {
    return model.index(row, column).data().toString();
  }

  void SelectClip(int row, bool by_selection) {
    const auto& model = *frame_->m2ts_pane()->model();
    const QModelIndex index = model.index(row, 0, model.GroupIndex());
    QTreeView* tree = frame_->m2ts_pane()->tree();
    if (by_selection) {
      tree->setCurrentIndex(index);
    } else {
      emit tree->doubleClicked(index);
    }
  }

  void SelectPlaylist(int row) {
    const auto& model = *frame_->mpls_pane()->model();
    frame_->mpls_pane()->tree()->setCurrentIndex(model.index(row, 0, model.RootIndex()));
  }

  // The clip's track lines of `tessel info --tracks`, as the info command prints them.
  QStringList TrackLinesOfInfo() {
    QStringList lines;
    QProcess info;
    info.start(QStringLiteral(TESSEL_EXE), {QStringLiteral("info"), QStringLiteral("--tracks"),
                                            ui::PathToQt(app_->disc().folder())});
    info.waitForFinished(60000);
    for (const QString& line : QString::fromUtf8(info.readAllStandardOutput()).split('\n')) {
      if (line.startsWith(QStringLiteral("      "))) lines << line.trimmed();
    }
    return lines;
  }

  TempDir settings_;
  std::unique_ptr<CTesselApp> app_;
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace
}  // namespace tessel::test

using tessel::test::CViewTest;
TESSEL_UI_TEST(CViewTest);

#include "view_test.moc"
