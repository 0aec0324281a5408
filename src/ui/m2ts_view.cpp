#include "ui/m2ts_view.h"

#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>

#include "formats/tables.h"
#include "model/edit_commands.h"
#include "model/size_estimate.h"
#include "model/source.h"
#include "model/track_kinds.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"
#include "ui/file_choice.h"
#include "ui/job_window.h"
#include "ui/path_text.h"
#include "ui/track_view_support.h"

namespace tessel::ui {

CM2tsTrackView::CM2tsTrackView(QWidget* parent)
    : QWidget(parent),
      original_model_(new CClipTrackListModel()),
      new_model_(new CNewTrackListModel(CNewTrackListModel::Owner::kClip)),
      order_model_(new CTrackOrderListModel()) {
  original_ = new CListPanel(QStringLiteral("Original tracks:"),
                             {"Check All", "Uncheck All", "Demux"}, original_model_, this);
  new_ = new CListPanel(QStringLiteral("New tracks:"), {"Add track", "Delete"}, new_model_, this);
  order_ = new CListPanel(QStringLiteral("Added Tracks:"), {}, order_model_, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  for (CListPanel* panel : {original_, new_, order_}) layout->addWidget(panel, 1);

  for (CListPanel* panel : {original_, new_}) EnableButtons(panel);
  const auto& original_buttons = original_->buttons();
  connect(original_buttons[0], &QPushButton::clicked, this, [this] { SetKeepAll(true); });
  connect(original_buttons[1], &QPushButton::clicked, this, [this] { SetKeepAll(false); });
  connect(original_buttons[2], &QPushButton::clicked, this, &CM2tsTrackView::Demux);
  connect(new_->buttons()[0], &QPushButton::clicked, this, &CM2tsTrackView::AddTrack);
  connect(new_->buttons()[1], &QPushButton::clicked, this, &CM2tsTrackView::DeleteSelected);

  original_model_->set_check_handler(
      [this](int row, int, bool keep) { return SetKeep(row, keep); });
  new_model_->set_edit_handler([this](int row, int column, const QVariant& value) {
    return EditNewTrack(row, column, value);
  });
  QTableView* new_list = new_->list();
  new_list->setItemDelegate(
      new CNewTrackDelegate(new_model_->language_column(), new_model_->delay_column(), new_list));
  new_list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::SelectedClicked);

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
  for (CListPanel* panel : {original_, new_, order_}) {
    AcceptFileDrops(panel->list(), [this](const QStringList& files) { AddFiles(files); });
  }
}

void CM2tsTrackView::ShowClip(CClpiObject* clip) {
  clip_ = clip;
  original_model_->SetClip(clip);
  new_model_->SetTracks(clip ? &clip->new_tracks : nullptr);
  order_model_->SetClip(clip);
}

void CM2tsTrackView::Refresh() {
  for (CListPanel* panel : {original_, new_, order_}) panel->ResetKeeping(panel->SelectedRow());
}

void CM2tsTrackView::Edited() {
  emit edited();
}

bool CM2tsTrackView::SetKeep(int row, bool keep) {
  if (JobRunning() || clip_ == nullptr) return false;
  clip_->SetKeepAt(row, keep);
  Edited();
  return true;
}

bool CM2tsTrackView::EditNewTrack(int row, int column, const QVariant& value) {
  if (JobRunning() || clip_ == nullptr || row < 0) return false;
  if (static_cast<size_t>(row) >= clip_->new_tracks.size()) return false;
  if (column == new_model_->language_column()) {
    const int position = value.toInt();
    if (position < 0 || position >= kLanguageCount) return false;
    const std::filesystem::path path = clip_->new_tracks[static_cast<size_t>(row)].MainPath();
    clip_->SetNewTrackLanguage(path, LanguageRowAtDisplayPosition(position));
  } else if (column == new_model_->delay_column()) {
    const qlonglong delay_ms = value.toLongLong();
    if (!DelayFits(delay_ms)) return false;
    clip_->SetNewTrackDelay(row, static_cast<int32_t>(delay_ms));
  } else {
    return false;
  }
  Edited();
  return true;
}

void CM2tsTrackView::ToggleSelected() {
  if (clip_ == nullptr) return;
  const int row = original_->SelectedRow();
  if (row < 0 || row >= clip_->TrackCount()) return;
  SetKeep(row, clip_->original_tracks[static_cast<size_t>(row)]->keep == 0);
}

void CM2tsTrackView::SetKeepAll(bool keep) {
  if (JobRunning() || clip_ == nullptr) return;
  const CWaitCursor wait;
  clip_->SetKeepAll(keep);
  Edited();
}

void CM2tsTrackView::Demux() {
  if (JobRunning() || clip_ == nullptr) return;
  CClpiObject* clip = clip_;
  RunDemux(this, clip->original_tracks, clip->stream_path,
           [clip](const std::string& out, const ProgressCallback& progress) {
             return clip->DemuxTracks(out, progress);
           });
}

void CM2tsTrackView::AddTrack() {
  if (JobRunning()) return;
  if (clip_ == nullptr) {
    ShowMessage("Please select the M2ts item first! ", PromptIcon::kWarning);
    return;
  }
  if (!clip_->IsMovieClip()) return;
  AddFiles(CurrentFileChoice().OpenFiles(this, DialogFilter(SourceFilter()), true));
}

void CM2tsTrackView::AddFiles(const QStringList& files) {
  if (JobRunning() || clip_ == nullptr || !clip_->IsMovieClip()) return;
  bool added = false;
  CClpiObject* clip = clip_;
  for (const QString& file : files) {
    const std::filesystem::path path = PathFromQt(file);
    const JobResult result = RunProgressJob(this, QString(), [&](const ProgressCallback& progress) {
      return AddTrackCommand(*clip, path, progress);
    });
    added = added || result == JobResult::kDone;
  }
  if (added) Edited();
}

void CM2tsTrackView::DeleteSelected() {
  if (JobRunning() || clip_ == nullptr) return;
  const std::vector<int> rows = SelectedRows(new_->list());
  if (rows.empty()) return;
  const CWaitCursor wait;
  bool removed = false;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    removed = DeleteTrackCommand(*clip_, *row) == JobResult::kDone || removed;
  }
  if (!removed) return;
  Edited();
  new_->ResetKeeping(rows.front());
}

void CM2tsTrackView::ReplaceTrack(int row) {
  if (JobRunning() || clip_ == nullptr || row < 0 || row >= clip_->TrackCount()) return;
  CClpiObject* clip = clip_;
  if (clip->original_tracks[static_cast<size_t>(row)]->cleared) {
    // The command refuses a cleared track before it looks at any file.
    ReplaceTrackCommand(*clip, row, {}, true, {});
    return;
  }
  const QStringList files =
      CurrentFileChoice().OpenFiles(this, DialogFilter(SourceFilter()), false);
  if (files.isEmpty()) return;
  const std::filesystem::path path = PathFromQt(files.front());
  const JobResult result = RunProgressJob(this, QString(), [&](const ProgressCallback& progress) {
    return ReplaceTrackCommand(*clip, row, path, true, progress);
  });
  if (result == JobResult::kDone) Edited();
}

void CM2tsTrackView::ClearTrack(int row, bool cleared) {
  if (JobRunning() || clip_ == nullptr) return;
  const CWaitCursor wait;
  if (ClearTrackCommand(*clip_, row, cleared) == JobResult::kDone) Edited();
}

JobResult CM2tsTrackView::ScanTrackSize() {
  if (JobRunning() || clip_ == nullptr) return JobResult::kFailed;
  CClpiObject* clip = clip_;
  const JobResult result = RunProgressJob(
      this, QString::fromLatin1(kScanTitle),
      [&](const ProgressCallback& progress) { return ScanTrackSizes(*clip, progress); });
  if (result == JobResult::kDone) Edited();
  return result;
}

QMenu* CM2tsTrackView::ContextMenu(int row) {
  auto* menu = new QMenu(this);
  const bool cleared = clip_ != nullptr && row >= 0 && row < clip_->TrackCount() &&
                       clip_->original_tracks[static_cast<size_t>(row)]->cleared != 0;
  connect(menu->addAction(QStringLiteral("Replace Track")), &QAction::triggered, this,
          [this, row] { ReplaceTrack(row); });
  menu->addSeparator();
  QAction* clear = menu->addAction(QStringLiteral("Clear Track"));
  clear->setEnabled(!cleared);
  connect(clear, &QAction::triggered, this, [this, row] { ClearTrack(row, true); });
  QAction* cancel = menu->addAction(QStringLiteral("Cancel Clearing"));
  cancel->setEnabled(cleared);
  connect(cancel, &QAction::triggered, this, [this, row] { ClearTrack(row, false); });
  return menu;
}

CM2tsMiscView::CM2tsMiscView(QWidget* parent)
    : QWidget(parent), model_(new CRelatedMplsListModel()) {
  related_ = new CListPanel(QString(), {}, model_, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(related_);
  UpdateCaption();
}

void CM2tsMiscView::ShowClip(const CClpiObject* clip, const CPofObject* playlists) {
  const int selected = related_->SelectedRow();
  model_->SetClip(clip, playlists);
  related_->ResetKeeping(selected);
  UpdateCaption();
}

void CM2tsMiscView::Refresh() {
  related_->ResetKeeping(related_->SelectedRow());
  UpdateCaption();
}

void CM2tsMiscView::UpdateCaption() {
  related_->caption()->setText(TextToQt(Format("%s(%d):", LoadString(9055), model_->rowCount())));
}

CM2tsView::CM2tsView(QWidget* parent)
    : QTabWidget(parent), tracks_(new CM2tsTrackView()), misc_(new CM2tsMiscView()) {
  addTab(tracks_, QStringLiteral("M2ts Tracks"));
  addTab(misc_, QStringLiteral("Mpls list"));
}

void CM2tsView::ShowClip(CClpiObject* clip, const CPofObject* playlists) {
  tracks_->ShowClip(clip);
  misc_->ShowClip(clip, playlists);
}

void CM2tsView::Refresh() {
  tracks_->Refresh();
  misc_->Refresh();
}

}  // namespace tessel::ui
