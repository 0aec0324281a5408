#include "ui/mpls_view.h"

#include <QItemSelectionModel>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>
#include <numeric>

#include "formats/tables.h"
#include "model/edit_commands.h"
#include "model/size_estimate.h"
#include "model/source.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "ui/file_choice.h"
#include "ui/job_window.h"
#include "ui/path_text.h"
#include "ui/track_view_support.h"

namespace tessel::ui {
namespace {

QVBoxLayout* StackOf(QWidget* view, std::initializer_list<CListPanel*> panels) {
  auto* layout = new QVBoxLayout(view);
  layout->setContentsMargins(0, 0, 0, 0);
  for (CListPanel* panel : panels) layout->addWidget(panel, 1);
  return layout;
}

}  // namespace

CMplsTrackView::CMplsTrackView(QWidget* parent)
    : QWidget(parent),
      original_model_(new CPlaylistTrackListModel()),
      new_model_(new CNewTrackListModel(CNewTrackListModel::Owner::kPlaylist)),
      order_model_(new CTrackOrderListModel()) {
  original_ = new CListPanel(QStringLiteral("Original tracks:"),
                             {"Check All", "Uncheck All", "Delete from related m2ts", "Demux"},
                             original_model_, this);
  new_ = new CListPanel(QStringLiteral("New tracks:"), {"Add track", "Add empty track", "Delete"},
                        new_model_, this);
  order_ =
      new CListPanel(QStringLiteral("Track order:"), {"Move up", "Move down"}, order_model_, this);
  StackOf(this, {original_, new_, order_});

  for (CListPanel* panel : {original_, new_, order_}) EnableButtons(panel);
  const auto& buttons = original_->buttons();
  connect(buttons[0], &QPushButton::clicked, this, [this] { SetVisibleAll(true); });
  connect(buttons[1], &QPushButton::clicked, this, [this] { SetVisibleAll(false); });
  connect(buttons[2], &QPushButton::clicked, this,
          [this] { SetRelatedVisible(original_->SelectedRow(), false); });
  connect(buttons[3], &QPushButton::clicked, this, &CMplsTrackView::Demux);
  connect(new_->buttons()[0], &QPushButton::clicked, this, &CMplsTrackView::AddTrack);
  connect(new_->buttons()[1], &QPushButton::clicked, this, &CMplsTrackView::AddEmptyTrack);
  connect(new_->buttons()[2], &QPushButton::clicked, this, &CMplsTrackView::DeleteSelected);
  connect(order_->buttons()[0], &QPushButton::clicked, this, [this] { MoveOrderRow(-1); });
  connect(order_->buttons()[1], &QPushButton::clicked, this, [this] { MoveOrderRow(1); });

  original_model_->set_check_handler(
      [this](int row, int, bool visible) { return SetVisible(row, visible); });
  new_model_->set_edit_handler([this](int row, int column, const QVariant& value) {
    return EditNewTrack(row, column, value);
  });
  QTableView* new_list = new_->list();
  new_list->setItemDelegate(
      new CNewTrackDelegate(new_model_->language_column(), new_model_->delay_column(), new_list));
  new_list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::SelectedClicked);
  order_->list()->setSelectionMode(QAbstractItemView::SingleSelection);

  QTableView* original_list = original_->list();
  original_list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(original_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex index = original_->list()->indexAt(at);
    if (!index.isValid()) return;
    QMenu* menu = ContextMenu(index.row());
    menu->exec(original_->list()->viewport()->mapToGlobal(at));
    menu->deleteLater();
  });
  InstallListKeys(original_list, {[this] { ToggleSelected(); }, {}, {}});
  InstallListKeys(new_list, {{}, [this] { DeleteSelected(); }, {}});
  InstallListKeys(order_->list(), {{}, {}, [this](int step) { MoveOrderRow(step); }});
  for (CListPanel* panel : {original_, new_, order_}) {
    AcceptFileDrops(panel->list(), [this](const QStringList& files) { AddFiles(files); });
  }
}

void CMplsTrackView::ShowPlaylist(CMplsObject* playlist) {
  playlist_ = playlist;
  original_model_->SetPlaylist(playlist);
  new_model_->SetTracks(playlist ? &playlist->new_tracks : nullptr);
  order_model_->SetPlaylist(playlist);
}

void CMplsTrackView::Edited() {
  emit edited();
}

bool CMplsTrackView::SetVisible(int row, bool visible) {
  if (JobRunning() || playlist_ == nullptr) return false;
  // The playlist's own box: the clips keep their tracks.
  if (!playlist_->SetVisibleAt(row, visible, false)) return false;
  Edited();
  return true;
}

bool CMplsTrackView::EditNewTrack(int row, int column, const QVariant& value) {
  if (JobRunning() || playlist_ == nullptr || row < 0) return false;
  if (static_cast<size_t>(row) >= playlist_->new_tracks.size()) return false;
  if (column == new_model_->language_column()) {
    const int position = value.toInt();
    if (position < 0 || position >= kLanguageCount) return false;
    playlist_->SetNewTrackLanguage(row, LanguageRowAtDisplayPosition(position));
  } else if (column == new_model_->delay_column()) {
    const qlonglong delay_ms = value.toLongLong();
    if (!DelayFits(delay_ms)) return false;
    playlist_->SetNewTrackDelay(row, static_cast<int32_t>(delay_ms * kTicksPerMs));
  } else {
    return false;
  }
  Edited();
  return true;
}

void CMplsTrackView::ToggleSelected() {
  if (playlist_ == nullptr) return;
  const int row = original_->SelectedRow();
  if (row < 0 || static_cast<size_t>(row) >= playlist_->tracks.size()) return;
  SetVisible(row, playlist_->tracks[static_cast<size_t>(row)]->keep == 0);
}

void CMplsTrackView::SetVisibleAll(bool visible) {
  if (JobRunning() || playlist_ == nullptr) return;
  const CWaitCursor wait;
  playlist_->SetVisibleAll(visible);
  Edited();
}

void CMplsTrackView::SetRelatedVisible(int row, bool visible) {
  if (JobRunning() || playlist_ == nullptr) return;
  const CWaitCursor wait;
  if (RelatedVisibleCommand(*playlist_, row, visible) == JobResult::kDone) Edited();
}

void CMplsTrackView::Demux() {
  if (JobRunning() || playlist_ == nullptr) return;
  CMplsObject* playlist = playlist_;
  RunDemux(this, playlist->tracks, playlist->path,
           [playlist](const std::string& out, const ProgressCallback& progress) {
             return playlist->DemuxTracks(out, progress);
           });
}

void CMplsTrackView::AddTrack() {
  if (JobRunning()) return;
  if (playlist_ == nullptr) {
    ShowMessage("Please select the MPLS item first! ", PromptIcon::kWarning);
    return;
  }
  if (!playlist_->HasDistinctClips()) {
    // The command's refusal of such a playlist comes before it looks at any file.
    AddTrackCommand(*playlist_, {}, {});
    return;
  }
  AddFiles(CurrentFileChoice().OpenFiles(this, DialogFilter(SourceFilter()), true));
}

void CMplsTrackView::AddFiles(const QStringList& files) {
  if (JobRunning() || playlist_ == nullptr || files.isEmpty()) return;
  bool added = false;
  CMplsObject* playlist = playlist_;
  for (const QString& file : files) {
    const std::filesystem::path path = PathFromQt(file);
    const JobResult result = RunProgressJob(this, QString(), [&](const ProgressCallback& progress) {
      return AddTrackCommand(*playlist, path, progress);
    });
    added = added || result == JobResult::kDone;
    if (!playlist->HasDistinctClips()) break;  // refused once, refused for every file
  }
  if (added) Edited();
}

void CMplsTrackView::AddEmptyTrack() {
  if (JobRunning()) return;
  if (playlist_ == nullptr) {
    ShowMessage("Please select the MPLS item first! ", PromptIcon::kWarning);
    return;
  }
  const QStringList files =
      CurrentFileChoice().OpenFiles(this, DialogFilter(SourceFilter()), false);
  if (files.isEmpty()) return;
  const std::filesystem::path path = PathFromQt(files.front());
  CMplsObject* playlist = playlist_;
  const JobResult result = RunProgressJob(this, QString(), [&](const ProgressCallback& progress) {
    return AddEmptyTrackCommand(*playlist, path, progress);
  });
  if (result == JobResult::kDone) Edited();
}

void CMplsTrackView::DeleteSelected() {
  if (JobRunning() || playlist_ == nullptr) return;
  const std::vector<int> rows = SelectedRows(new_->list());
  if (rows.empty()) return;
  const CWaitCursor wait;
  bool removed = false;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    removed = DeleteTrackCommand(*playlist_, *row) == JobResult::kDone || removed;
  }
  if (!removed) return;
  Edited();
  new_->ResetKeeping(rows.front());
}

void CMplsTrackView::ReplaceTrack(int row) {
  if (JobRunning() || playlist_ == nullptr || row < 0 ||
      static_cast<size_t>(row) >= playlist_->tracks.size()) {
    return;
  }
  CMplsObject* playlist = playlist_;
  if (playlist->tracks[static_cast<size_t>(row)]->cleared) {
    // The command refuses a cleared track before it looks at any file.
    ReplaceTrackCommand(*playlist, row, {}, true, {});
    return;
  }
  const QStringList files =
      CurrentFileChoice().OpenFiles(this, DialogFilter(SourceFilter()), false);
  if (files.isEmpty()) return;
  const std::filesystem::path path = PathFromQt(files.front());
  const JobResult result = RunProgressJob(this, QString(), [&](const ProgressCallback& progress) {
    return ReplaceTrackCommand(*playlist, row, path, true, progress);
  });
  if (result == JobResult::kDone) Edited();
}

void CMplsTrackView::ClearTrack(int row, bool cleared) {
  if (JobRunning() || playlist_ == nullptr) return;
  const CWaitCursor wait;
  if (ClearTrackCommand(*playlist_, row, cleared) == JobResult::kDone) Edited();
}

void CMplsTrackView::MoveOrderRow(int step) {
  if (JobRunning() || playlist_ == nullptr) return;
  const int rows = order_model_->rowCount();
  const int row = order_->SelectedRow();
  const int target = row + step;
  if (row < 0 || target < 0 || target >= rows) return;
  std::vector<int> permutation(static_cast<size_t>(rows));
  std::iota(permutation.begin(), permutation.end(), 0);
  std::swap(permutation[static_cast<size_t>(row)], permutation[static_cast<size_t>(target)]);
  if (!playlist_->Reorder(permutation)) return;
  Edited();
  order_->ResetKeeping(target);
}

JobResult CMplsTrackView::ScanTrackSize() {
  if (JobRunning() || playlist_ == nullptr) return JobResult::kFailed;
  CMplsObject* playlist = playlist_;
  const JobResult result = RunProgressJob(
      this, QString::fromLatin1(kScanTitle),
      [&](const ProgressCallback& progress) { return ScanTrackSizes(*playlist, progress); });
  if (result == JobResult::kDone) Edited();
  return result;
}

QMenu* CMplsTrackView::ContextMenu(int row) {
  auto* menu = new QMenu(this);
  const bool cleared = playlist_ != nullptr && row >= 0 &&
                       static_cast<size_t>(row) < playlist_->tracks.size() &&
                       playlist_->tracks[static_cast<size_t>(row)]->cleared != 0;
  connect(menu->addAction(QStringLiteral("Replace Track")), &QAction::triggered, this,
          [this, row] { ReplaceTrack(row); });
  connect(menu->addAction(QStringLiteral("Cancel Delete")), &QAction::triggered, this,
          [this, row] { SetRelatedVisible(row, true); });
  connect(menu->addAction(QStringLiteral("Delete from related M2ts")), &QAction::triggered, this,
          [this, row] { SetRelatedVisible(row, false); });
  QAction* clear = menu->addAction(QStringLiteral("Clear Track"));
  clear->setEnabled(!cleared);
  connect(clear, &QAction::triggered, this, [this, row] { ClearTrack(row, true); });
  QAction* cancel = menu->addAction(QStringLiteral("Cancel Clearing"));
  cancel->setEnabled(cleared);
  connect(cancel, &QAction::triggered, this, [this, row] { ClearTrack(row, false); });
  return menu;
}

CMplsPiView::CMplsPiView(QWidget* parent)
    : QWidget(parent),
      model_(new CPlayItemListModel()),
      panel_(new CListPanel(QStringLiteral("PlayItem:"), {}, model_, this)) {
  StackOf(this, {panel_});
}

void CMplsPiView::ShowPlaylist(const CMplsObject* playlist, const CCofObject* clips) {
  model_->SetPlaylist(playlist, clips);
}

CMplsSpView::CMplsSpView(QWidget* parent)
    : QWidget(parent),
      sub_path_model_(new CSubPathListModel()),
      item_model_(new CSubPlayItemListModel()),
      sub_paths_(new CListPanel(QStringLiteral("SubPath:"), {}, sub_path_model_, this)),
      items_(new CListPanel(QStringLiteral("SubPlayItem:"), {}, item_model_, this)) {
  sub_paths_->list()->setSelectionMode(QAbstractItemView::SingleSelection);
  connect(sub_paths_->list()->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { ShowSubPath(current.row()); });
  StackOf(this, {sub_paths_, items_});
}

void CMplsSpView::ShowPlaylist(const CMplsObject* playlist) {
  playlist_ = playlist;
  sub_path_model_->SetPlaylist(playlist);
  ShowSubPath(-1);
  sub_paths_->ResetKeeping(0);
}

void CMplsSpView::ShowSubPath(int row) {
  item_model_->SetSubPath(playlist_, row);
}

CMplsPmView::CMplsPmView(QWidget* parent)
    : QWidget(parent),
      model_(new CPlayMarkListModel()),
      panel_(new CListPanel(QStringLiteral("PlayMark:"), {}, model_, this)) {
  StackOf(this, {panel_});
}

void CMplsPmView::ShowPlaylist(const CMplsObject* playlist) {
  model_->SetPlaylist(playlist);
}

CMplsView::CMplsView(QWidget* parent)
    : QTabWidget(parent),
      tracks_(new CMplsTrackView()),
      play_items_(new CMplsPiView()),
      sub_paths_(new CMplsSpView()),
      marks_(new CMplsPmView()) {
  addTab(tracks_, QStringLiteral("Mpls Tracks"));
  addTab(play_items_, QStringLiteral("Play Items"));
  addTab(sub_paths_, QStringLiteral("Sub Path"));
  addTab(marks_, QStringLiteral("Playlist Mark"));
}

void CMplsView::ShowPlaylist(CMplsObject* playlist, const CCofObject* clips) {
  tracks_->ShowPlaylist(playlist);
  play_items_->ShowPlaylist(playlist, clips);
  sub_paths_->ShowPlaylist(playlist);
  marks_->ShowPlaylist(playlist);
}

void CMplsView::Refresh() {
  for (CListPanel* panel : panels()) panel->ResetKeeping(panel->SelectedRow());
}

std::vector<CListPanel*> CMplsView::panels() const {
  return {tracks_->original_panel(),
          tracks_->new_panel(),
          tracks_->order_panel(),
          play_items_->panel(),
          sub_paths_->sub_path_panel(),
          sub_paths_->sub_play_item_panel(),
          marks_->panel()};
}

}  // namespace tessel::ui
