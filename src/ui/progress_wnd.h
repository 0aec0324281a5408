// The small progress window of every long job but Build: the message line, the bar, " Cancel "
// and the time left, with the percentage in the caption.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ui/job_window.h"

namespace tessel::ui {

// "Progress [42%]".
QString ProgressCaption(const QString& caption, int percent);
// "Estimated time left:  1 min 5 sec" for a number of seconds; below 100 % an estimate of 0
// shows 1 second.
QString TimeLeftText(int64_t seconds, int percent);

// A line of text drawn elided in the middle when it does not fit; the whole text stays its text.
class CElidedLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class CProgressWnd : public QWidget, public CJobWindow {
  Q_OBJECT

 public:
  using Clock = std::function<int64_t()>;  // milliseconds

  static constexpr int kWidth = 390;
  static constexpr int kHeight = 130;

  explicit CProgressWnd(Clock clock = {});
  ~CProgressWnd() override;

  // Sets the caption (the default "Progress" when empty) and places the window over `owner`:
  // at the position the user last moved it to, else centred. The clock starts here.
  void Create(const QString& title, QWidget* owner);

  // The record handlers; each processes pending input and answers whether the job may go on.
  bool SetPos(int32_t position);
  bool SetText(const std::string& message);
  bool SetTitle(const std::string& title);
  void HideBar();
  void SetRange(int32_t lower, int32_t upper);

  ProgressCallback Callback() override;
  void RequestCancel() override;
  bool cancelled() const override { return cancelled_; }

  QString caption() const { return caption_; }
  QString message() const { return message_->text(); }
  QString time_left() const { return time_left_->text(); }
  int percent() const { return percent_; }
  QProgressBar* bar() const { return bar_; }
  QPushButton* cancel_button() const { return cancel_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  bool Handle(const ProgressRecord& record);
  bool ProcessInput();
  void UpdateTimeLeft();

  Clock clock_;
  QString caption_ = QStringLiteral("Progress");
  CElidedLabel* message_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  QLabel* time_left_;
  std::unique_ptr<CEscapeFilter> escape_;
  int32_t lower_ = 0;
  int32_t upper_ = 100;
  int32_t position_ = 0;
  int percent_ = -1;
  bool cancelled_ = false;
  bool placed_ = false;  // moves from here on are the user's
  bool moved_ = false;
  int64_t start_ms_ = 0;
};

}  // namespace tessel::ui
