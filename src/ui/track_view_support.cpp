#include "ui/track_view_support.h"

#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIntValidator>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "formats/tables.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "ui/file_choice.h"
#include "ui/job_window.h"
#include "ui/path_text.h"
#include "ui/track_list_models.h"

namespace tessel::ui {
namespace {

class CListKeyFilter : public QObject {
 public:
  CListKeyFilter(SListKeys keys, QObject* parent) : QObject(parent), keys_(std::move(keys)) {}

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool control = key->modifiers() & Qt::ControlModifier;
    if (key->key() == Qt::Key_Space && !control && keys_.toggle) {
      keys_.toggle();
      return true;
    }
    if (key->key() == Qt::Key_Delete && keys_.remove) {
      keys_.remove();
      return true;
    }
    if (control && keys_.move && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
      keys_.move(key->key() == Qt::Key_Up ? -1 : 1);
      return true;
    }
    return false;
  }

 private:
  SListKeys keys_;
};

QStringList LocalFiles(const QMimeData* data) {
  QStringList files;
  if (data == nullptr) return files;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) files << url.toLocalFile();
  }
  return files;
}

class CDropFilter : public QObject {
 public:
  CDropFilter(std::function<void(const QStringList&)> drop, QObject* parent)
      : QObject(parent), drop_(std::move(drop)) {}

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (JobRunning() || LocalFiles(drag->mimeData()).empty()) {
          drag->ignore();
        } else {
          drag->acceptProposedAction();
        }
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList files = LocalFiles(drop->mimeData());
        if (JobRunning() || files.empty()) return true;
        drop->acceptProposedAction();
        drop_(files);
        return true;
      }
      default:
        return false;
    }
  }

 private:
  std::function<void(const QStringList&)> drop_;
};

}  // namespace

void InstallListKeys(QTableView* list, SListKeys keys) {
  list->installEventFilter(new CListKeyFilter(std::move(keys), list));
}

void AcceptFileDrops(QTableView* list, std::function<void(const QStringList&)> drop) {
  list->setAcceptDrops(true);
  list->viewport()->setAcceptDrops(true);
  list->viewport()->installEventFilter(new CDropFilter(std::move(drop), list));
}

CNewTrackDelegate::CNewTrackDelegate(int language_column, int delay_column, QObject* parent)
    : QStyledItemDelegate(parent), language_column_(language_column), delay_column_(delay_column) {}

QWidget* CNewTrackDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
  if (index.column() == language_column_) {
    auto* combo = new QComboBox(parent);
    for (int position = 0; position < kLanguageCount; ++position) {
      combo->addItem(TextToQt(LanguageDisplayText(position)));
    }
    return combo;
  }
  if (index.column() == delay_column_) {
    auto* edit = new QLineEdit(parent);
    edit->setValidator(new QIntValidator(-kMaxDelayMs, kMaxDelayMs, edit));
    return edit;
  }
  return QStyledItemDelegate::createEditor(parent, option, index);
}

void CNewTrackDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  const QVariant value = index.data(Qt::EditRole);
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    combo->setCurrentIndex(value.toInt());
  } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    edit->setText(QString::number(value.toInt()));
  } else {
    QStyledItemDelegate::setEditorData(editor, index);
  }
}

void CNewTrackDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                     const QModelIndex& index) const {
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    model->setData(index, combo->currentIndex());
  } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    if (!edit->hasAcceptableInput()) return;
    model->setData(index, edit->text().toLongLong());
  } else {
    QStyledItemDelegate::setModelData(editor, model, index);
  }
}

CWaitCursor::CWaitCursor() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

CWaitCursor::~CWaitCursor() {
  QApplication::restoreOverrideCursor();
}

int CountTicked(const SRipTracks& tracks) {
  int ticked = 0;
  for (const auto& track : tracks) ticked += track->keep ? 1 : 0;
  return ticked;
}

void EnableButtons(CListPanel* panel) {
  for (QPushButton* button : panel->buttons()) button->setEnabled(true);
}

std::vector<int> SelectedRows(const QTableView* list) {
  std::vector<int> rows;
  for (const QModelIndex& index : list->selectionModel()->selectedRows()) {
    rows.push_back(index.row());
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

void RunDemux(QWidget* parent, const SRipTracks& tracks, const std::string& path,
              const std::function<JobResult(const std::string&, const ProgressCallback&)>& demux) {
  if (CountTicked(tracks) == 0) {
    ShowMessage("No checked tracks to demux! ", PromptIcon::kWarning);
    return;
  }
  const QString start = PathToQt(std::filesystem::path(path).parent_path().string());
  const QString folder = CurrentFileChoice().Folder(parent, QString(), start);
  if (folder.isEmpty()) return;
  const std::string out = PathFromQt(folder);
  const JobResult result = RunProgressJob(
      parent, QString(), [&](const ProgressCallback& progress) { return demux(out, progress); });
  if (result == JobResult::kDone) {
    ShowMessage(Format("%s\n\r%s", path.c_str(), "Demux is completed! "), PromptIcon::kInformation);
  }
}

}  // namespace tessel::ui
