#include "ui/job_window.h"

#include <QApplication>
#include <QKeyEvent>

#include "ui/progress_wnd.h"

namespace tessel::ui {
namespace {

CJobWindow* g_running = nullptr;
int g_depth = 0;

}  // namespace

void PumpEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

CEscapeFilter::CEscapeFilter(std::function<void()> on_escape, QObject* parent)
    : QObject(parent), on_escape_(std::move(on_escape)) {
  QCoreApplication::instance()->installEventFilter(this);
}

CEscapeFilter::~CEscapeFilter() {
  QCoreApplication::instance()->removeEventFilter(this);
}

bool CEscapeFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
  if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape) return false;
  if (QApplication::activeModalWidget() != nullptr) return false;
  on_escape_();
  return true;
}

bool JobRunning() {
  return g_depth > 0;
}

CJobWindow* RunningJobWindow() {
  return g_running;
}

CJobScope::CJobScope(QWidget* anchor, CJobWindow* window) : previous_(g_running) {
  QWidget* top = anchor ? anchor->window() : nullptr;
  host_ = dynamic_cast<CJobHost*>(top);
  ++g_depth;
  g_running = window;
  if (host_ != nullptr) {
    host_->SetBusy(true);
  } else if (top != nullptr) {
    top->setEnabled(false);
  }
  host_window_ = top;
}

CJobScope::~CJobScope() {
  g_running = previous_;
  --g_depth;
  if (host_window_ == nullptr) return;
  if (host_ != nullptr) {
    host_->SetBusy(g_depth > 0);
  } else {
    host_window_->setEnabled(g_depth == 0);
  }
}

JobResult RunProgressJob(QWidget* anchor, const QString& title,
                         const std::function<JobResult(const ProgressCallback&)>& job) {
  CProgressWnd window;
  window.Create(title, anchor ? anchor->window() : nullptr);
  const CJobScope scope(anchor, &window);
  window.show();
  PumpEvents();
  const JobResult result = job(window.Callback());
  window.hide();
  return result;
}

}  // namespace tessel::ui
