// The build's window: "Processing, please wait...", a log of time-stamped lines, a bar that
// draws its percentage, and a Cancel that asks first.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <functional>
#include <memory>
#include <string>

#include "ui/job_window.h"

namespace tessel::ui {

inline constexpr const char* kStopBuildQuestion = "Really want to stop current build?";

// "[12:34:56]: Start to build..." of a local time "%H:%M:%S" and the message as given.
QString TaskLogLine(const QString& time, const std::string& message);

class CTaskDlg : public QDialog, public CJobWindow {
  Q_OBJECT

 public:
  using Clock = std::function<QString()>;  // the local time as "%H:%M:%S"

  explicit CTaskDlg(QWidget* owner = nullptr, Clock clock = {});
  ~CTaskDlg() override;

  ProgressCallback Callback() override;
  // Asks "Really want to stop current build?"; only Yes cancels. Once cancelled, ignored.
  void RequestCancel() override;
  bool cancelled() const override { return cancelled_; }

  QListWidget* log() const { return log_; }
  QProgressBar* bar() const { return bar_; }
  QPushButton* cancel_button() const { return cancel_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  bool Handle(const ProgressRecord& record);
  bool ProcessInput();

  Clock clock_;
  QListWidget* log_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  std::unique_ptr<CEscapeFilter> escape_;
  bool cancelled_ = false;
  bool asking_ = false;
};

}  // namespace tessel::ui
