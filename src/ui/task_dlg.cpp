#include "ui/task_dlg.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QTime>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/prompt.h"
#include "ui/path_text.h"

namespace tessel::ui {
namespace {

QString LocalTime() {
  return QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
}

}  // namespace

QString TaskLogLine(const QString& time, const std::string& message) {
  return QStringLiteral("[%1]: ").arg(time) + TextToQt(message);
}

CTaskDlg::CTaskDlg(QWidget* owner, Clock clock)
    : QDialog(owner),
      clock_(clock ? std::move(clock) : Clock(LocalTime)),
      log_(new QListWidget(this)),
      bar_(new QProgressBar(this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)),
      escape_(std::make_unique<CEscapeFilter>([this] { RequestCancel(); })) {
  setObjectName(QStringLiteral("TaskDlg"));
  setWindowTitle(QStringLiteral("Processing, please wait..."));
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setFormat(QStringLiteral("%p%"));
  bar_->setTextVisible(true);
  bar_->setAlignment(Qt::AlignCenter);
  cancel_->setAutoDefault(false);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(log_, 1);
  layout->addWidget(bar_);
  layout->addLayout(buttons);
  connect(cancel_, &QPushButton::clicked, this, &CTaskDlg::RequestCancel);
  resize(580, 390);
}

CTaskDlg::~CTaskDlg() = default;

ProgressCallback CTaskDlg::Callback() {
  return [this](const ProgressRecord& record) { return Handle(record); };
}

bool CTaskDlg::Handle(const ProgressRecord& record) {
  switch (record.kind) {
    case ProgressKind::kPosition:
      bar_->setValue(std::clamp(record.position, 0, 100));
      break;
    case ProgressKind::kMessage:
      log_->addItem(TaskLogLine(clock_(), record.message));
      log_->setCurrentRow(log_->count() - 1);
      log_->scrollToBottom();
      break;
    case ProgressKind::kTitle: {
      const QString title = TextToQt(record.title);
      if (title.compare(windowTitle(), Qt::CaseInsensitive) != 0) setWindowTitle(title);
      break;
    }
    case ProgressKind::kHideBar:
      hide();
      break;
  }
  return ProcessInput();
}

bool CTaskDlg::ProcessInput() {
  if (!cancelled_) PumpEvents();
  return !cancelled_;
}

void CTaskDlg::RequestCancel() {
  if (cancelled_ || asking_) return;
  asking_ = true;
  const PromptAnswer answer =
      AskUser(kStopBuildQuestion, PromptButtons::kYesNoCancel, PromptIcon::kQuestion);
  asking_ = false;
  if (answer != PromptAnswer::kYes) return;
  cancelled_ = true;
  cancel_->setEnabled(false);
}

void CTaskDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  RequestCancel();
}

void CTaskDlg::reject() {
  // Escape and the title bar's close: the same question as Cancel; the window stays.
  RequestCancel();
}

}  // namespace tessel::ui
