// The two trees against `tessel info` on every fixture disc, and the trees' edge cases.
#include <QDesktopServices>
#include <QIcon>
#include <QTest>
#include <QUrl>

#include "ui/main_frame.h"
#include "ui/tessel_app.h"
#include "ui_fixture.h"

namespace tessel::test {
namespace {

using ui::CMainFrame;
using ui::CTesselApp;

// Records what the system's default handler was asked to open.
class UrlRecorder : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> urls;

 public slots:
  void open(const QUrl& url) { urls << url; }
};

class CTreeTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { UseScratchSettings(settings_.path()); }

  void treesShowWhatInfoPrints_data() {
    QTest::addColumn<QString>("disc");
    for (const char* disc :
         {"discs/disc-simple", "discs/disc-multiclip", "discs/disc-audio-zoo", "discs/disc-mpeg2",
          "discs/disc-emptyplaylist", "discs/retail/bdpl-disc3", "discs/retail/bdpl-disc9",
          "discs/retail/bdpl-disc14", "discs/retail/chaptertool-zero",
          "discs/retail/bdjsdk-avchd"}) {
      QTest::newRow(disc) << QString::fromUtf8(disc);
    }
  }

  void treesShowWhatInfoPrints() {
    QFETCH(QString, disc);
    TempDir dir;
    const auto bdmv = StageDisc(disc.toStdString(), dir.path());
    ScopedRecordingPrompt prompt;
    CTesselApp app;
    CMainFrame frame(app);
    frame.OpenFolder(QString::fromStdString(bdmv.string()));
    QVERIFY(app.loaded());
    QCOMPARE(prompt.messages().size(), size_t{0});

    const auto& clips = *frame.m2ts_pane()->model();
    const auto& playlists = *frame.mpls_pane()->model();
    QCOMPARE(TreeLines(clips) + TreeLines(playlists), InfoLines(bdmv));
    QTreeView* clip_tree = frame.m2ts_pane()->tree();
    QVERIFY(clip_tree->isExpanded(clips.index(0, 0)));
    QVERIFY(clip_tree->isExpanded(clips.index(0, 0, clips.index(0, 0))));
    QCOMPARE(clip_tree->currentIndex(), clips.index(0, 0));
    QVERIFY(!qvariant_cast<QIcon>(clips.index(0, 0).data(Qt::DecorationRole)).isNull());
    QVERIFY(frame.mpls_pane()->tree()->isExpanded(playlists.index(0, 0)));
    QCOMPARE(frame.mpls_pane()->tree()->currentIndex(), playlists.index(0, 0));
  }

  // Only movie clips are listed, and only those with a track; every clip counts at the root.
  void unlistedClipsStillCount() {
    ScopedRecordingPrompt prompt;
    CTesselApp app;
    CMainFrame frame(app);
    frame.OpenFolder(QString::fromStdString(DataPath("discs/disc-multiclip/BDMV").string()));
    CCofObject& clips = *app.disc().clips();

    clips.GetAt(2)->original_tracks.clear();
    frame.m2ts_pane()->Fill(&app.disc());
    QCOMPARE(
        TreeLines(*frame.m2ts_pane()->model()),
        QStringList({"M2ts(s)(4)", "  MainPath of Movie(4)", "    00000.m2ts, 1.34MB, 2 track(s)",
                     "    00001.m2ts, 1.30MB, 2 track(s)", "    00003.m2ts, 3.29MB, 2 track(s)"}));

    for (const auto& clip : clips.items()) clip->clip_info.ApplicationType = 2;
    frame.m2ts_pane()->Fill(&app.disc());
    QCOMPARE(TreeLines(*frame.m2ts_pane()->model()),
             QStringList({"M2ts(s)(4)", "  MainPath of Movie(0)"}));
  }

  void previewOpensOnlyClips() {
    ScopedRecordingPrompt prompt;
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    CTesselApp app;
    CMainFrame frame(app);
    frame.OpenFolder(QString::fromStdString(DataPath("discs/disc-multiclip/BDMV").string()));
    const auto& model = *frame.m2ts_pane()->model();
    QTreeView* tree = frame.m2ts_pane()->tree();

    for (const QModelIndex& index : {model.RootIndex(), model.GroupIndex()}) {
      tree->setCurrentIndex(index);
      frame.m2ts_pane()->preview_action()->trigger();
    }
    QVERIFY(recorder.urls.empty());
    tree->setCurrentIndex(model.index(1, 0, model.GroupIndex()));
    frame.m2ts_pane()->preview_action()->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

    QCOMPARE(recorder.urls.size(), 1);
    QVERIFY(recorder.urls.front().toLocalFile().endsWith(QStringLiteral("/STREAM/00001.m2ts")));
    QVERIFY(prompt.messages().empty());
  }

 private:
  TempDir settings_;
};

}  // namespace
}  // namespace tessel::test

using tessel::test::CTreeTest;
TESSEL_UI_TEST(CTreeTest);

#include "tree_test.moc"
