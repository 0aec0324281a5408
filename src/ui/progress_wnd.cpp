#include "ui/progress_wnd.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QSettings>
#include <QStyle>
#include <QVBoxLayout>
#include <chrono>

#include "ui/path_text.h"

namespace tessel::ui {
namespace {

constexpr const char* kPositionKey = "ProgressWnd/Position";
constexpr const char* kTimeLeftLabel = "Estimated time left:";

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// round(a / b) for a >= 0, b > 0.
int64_t RoundedQuotient(int64_t a, int64_t b) {
  return (a + b / 2) / b;
}

}  // namespace

QString ProgressCaption(const QString& caption, int percent) {
  return QStringLiteral("%1 [%2%]").arg(caption).arg(percent);
}

QString TimeLeftText(int64_t seconds, int percent) {
  if (seconds <= 0 && percent < 100) seconds = 1;
  const QString label = QString::fromLatin1(kTimeLeftLabel);
  if (seconds > 3600) {
    const int64_t rest = seconds % 3600;
    return QStringLiteral("%1  %2 hour %3 min")
        .arg(label)
        .arg(seconds / 3600)
        .arg(rest > 60 ? rest / 60 : 0);
  }
  if (seconds > 60) {
    return QStringLiteral("%1  %2 min %3 sec").arg(label).arg(seconds / 60).arg(seconds % 60);
  }
  return QStringLiteral("%1  %2 sec").arg(label).arg(seconds);
}

void CElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area = contentsRect();
  painter.drawText(area, int(alignment()),
                   fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
}

CProgressWnd::CProgressWnd(Clock clock)
    : QWidget(nullptr),
      clock_(clock ? std::move(clock) : Clock(SteadyMilliseconds)),
      message_(new CElidedLabel(this)),
      bar_(new QProgressBar(this)),
      cancel_(new QPushButton(QStringLiteral(" Cancel "), this)),
      time_left_(new QLabel(this)),
      escape_(std::make_unique<CEscapeFilter>([this] { RequestCancel(); })) {
  setObjectName(QStringLiteral("ProgressWnd"));
  setFont(QApplication::font("QMessageBox"));
  message_->setTextFormat(Qt::PlainText);
  time_left_->setTextFormat(Qt::PlainText);
  bar_->setRange(0, 100);
  bar_->setTextVisible(false);
  auto* buttons = new QHBoxLayout();
  buttons->addWidget(time_left_, 1);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(message_);
  layout->addWidget(bar_);
  layout->addLayout(buttons);
  connect(cancel_, &QPushButton::clicked, this, &CProgressWnd::RequestCancel);
  setFixedSize(kWidth, kHeight);
  setWindowTitle(caption_);
}

CProgressWnd::~CProgressWnd() {
  if (moved_) QSettings().setValue(QString::fromLatin1(kPositionKey), pos());
}

void CProgressWnd::Create(const QString& title, QWidget* owner) {
  if (!title.isEmpty()) caption_ = title;
  setParent(owner,
            Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
  setFixedSize(kWidth, kHeight);
  setWindowTitle(caption_);
  const QVariant saved = QSettings().value(QString::fromLatin1(kPositionKey));
  if (saved.isValid()) {
    move(saved.toPoint());
  } else if (owner != nullptr) {
    const QRect frame = owner->frameGeometry();
    move(frame.center() - QPoint(kWidth / 2, kHeight / 2));
  }
  placed_ = true;
  start_ms_ = clock_();
}

void CProgressWnd::SetRange(int32_t lower, int32_t upper) {
  lower_ = lower;
  upper_ = upper;
}

bool CProgressWnd::SetPos(int32_t position) {
  position_ = position;
  int percent = 0;
  if (upper_ > lower_) {
    const int64_t span = int64_t{upper_} - lower_;
    const int64_t done = int64_t{position} - lower_;
    percent = static_cast<int>(done >= 0 ? RoundedQuotient(done * 100, span)
                                         : -RoundedQuotient(-done * 100, span));
  }
  if (percent != percent_ || percent == 0) {
    percent_ = percent;
    setWindowTitle(ProgressCaption(caption_, percent));
  }
  bar_->setValue(std::clamp(percent, 0, 100));
  UpdateTimeLeft();
  return ProcessInput();
}

void CProgressWnd::UpdateTimeLeft() {
  // No estimate until the job has moved past the start of its range.
  const int64_t done = int64_t{position_} - lower_;
  if (done <= 0 || upper_ <= lower_) {
    time_left_->clear();
    return;
  }
  const int64_t elapsed = std::max<int64_t>(clock_() - start_ms_, 0);
  const int64_t span = int64_t{upper_} - lower_;
  const int64_t total = elapsed * span / done;
  const int64_t left_ms = std::max<int64_t>(total - elapsed, 0);
  time_left_->setText(TimeLeftText(RoundedQuotient(left_ms, 1000), percent_));
}

bool CProgressWnd::SetText(const std::string& message) {
  // Shown as given: the text is never a format, and it has no length limit.
  const QString text = TextToQt(message);
  if (text.compare(message_->text(), Qt::CaseInsensitive) != 0) {
    message_->setText(text);
    message_->setToolTip(text);
  }
  return ProcessInput();
}

bool CProgressWnd::SetTitle(const std::string& title) {
  const QString text = TextToQt(title);
  if (text != caption_) {
    caption_ = text;
    setWindowTitle(caption_);
  }
  return ProcessInput();
}

void CProgressWnd::HideBar() {
  bar_->hide();
}

bool CProgressWnd::ProcessInput() {
  // Every call, the last step too: a job that stops reporting at 99 % can still be cancelled.
  if (!cancelled_) PumpEvents();
  return !cancelled_;
}

bool CProgressWnd::Handle(const ProgressRecord& record) {
  switch (record.kind) {
    case ProgressKind::kPosition:
      return SetPos(record.position);
    case ProgressKind::kMessage:
      return SetText(record.message);
    case ProgressKind::kTitle:
      return SetTitle(record.title);
    case ProgressKind::kHideBar:
      HideBar();
      return ProcessInput();
  }
  return !cancelled_;
}

ProgressCallback CProgressWnd::Callback() {
  return [this](const ProgressRecord& record) { return Handle(record); };
}

void CProgressWnd::RequestCancel() {
  if (cancelled_) return;
  cancelled_ = true;
  hide();
  if (QWidget* owner = parentWidget()) {
    owner->raise();
    owner->activateWindow();
  }
}

void CProgressWnd::closeEvent(QCloseEvent* event) {
  event->ignore();
  RequestCancel();
}

void CProgressWnd::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (placed_ && isVisible()) moved_ = true;
}

}  // namespace tessel::ui
