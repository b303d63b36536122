#include "net/qt/qt_event_loop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <climits>

namespace ov {

void QtEventLoop::WaitForEvents(Clock::time_point deadline) {
  if (deadline == Clock::time_point::max()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return;
  }
  const Clock::time_point now = Clock::now();
  if (deadline <= now) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return;
  }
  // The timer only wakes the sleep at the deadline; rounding up keeps it from waking just short of it.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  wake.start(static_cast<int>(std::min<int64_t>(ms, INT_MAX)));
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtEventLoop::Post(std::function<void()> run) {
  // A zero timer, not a posted event: the turn comes after the input and socket events already waiting.
  QTimer::singleShot(0, QCoreApplication::instance(), std::move(run));
}

void QtEventLoop::After(int ms, std::function<void()> run) {
  QTimer::singleShot(ms, QCoreApplication::instance(), std::move(run));
}

}  // namespace ov
