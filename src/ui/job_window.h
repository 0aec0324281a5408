// What the two windows of a long job share: the cancel request, the Escape key of every window of
// the program, the event pump the job's callback runs, and the host window that is shut off while
// a job runs.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "platform/common.h"
#include "platform/progress.h"

namespace tessel::ui {

// A window that carries a job's progress and its Cancel.
class CJobWindow {
 public:
  virtual ~CJobWindow() = default;
  // The callback of the progress contract bound to this window; valid while the window lives.
  virtual ProgressCallback Callback() = 0;
  // Cancel as the user asked it (the button, Escape, closing a window); a window may ask first.
  virtual void RequestCancel() = 0;
  virtual bool cancelled() const = 0;
};

// Delivers pending events without waiting for any.
void PumpEvents();

// While it lives, an Escape key press in any window of the program calls `on_escape` instead of
// reaching the window; not while a message box or another modal window is up, whose Escape is
// its own.
class CEscapeFilter : public QObject {
  Q_OBJECT

 public:
  explicit CEscapeFilter(std::function<void()> on_escape, QObject* parent = nullptr);
  ~CEscapeFilter() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void()> on_escape_;
};

// The window a job shuts off while it runs (the main window): no command, shortcut, drop or edit
// of it may reach the model until the job has returned.
class CJobHost {
 public:
  virtual ~CJobHost() = default;
  virtual void SetBusy(bool busy) = 0;
};

// Whether a job is running; every command that reaches the model checks it first.
bool JobRunning();
// The window of the running job; null when none.
CJobWindow* RunningJobWindow();

// Marks a job as running for its lifetime: the host of `anchor`'s window is shut off (or, in a
// window without a host, the window is disabled) and given back afterwards.
class CJobScope {
 public:
  CJobScope(QWidget* anchor, CJobWindow* window);
  ~CJobScope();
  CJobScope(const CJobScope&) = delete;
  CJobScope& operator=(const CJobScope&) = delete;

 private:
  QPointer<QWidget> host_window_;
  CJobHost* host_ = nullptr;
  CJobWindow* previous_;
};

// Runs `job` with a progress window over `anchor`'s window titled `title` (the default caption
// when empty): the host shut off, the window shown, the job run, the window destroyed.
JobResult RunProgressJob(QWidget* anchor, const QString& title,
                         const std::function<JobResult(const ProgressCallback&)>& job);

}  // namespace tessel::ui
