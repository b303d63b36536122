// Waits over Qt's event loop. Besides the wait's own check, a watchdog timer gives up at the deadline
// from inside whatever loop runs then: when the code under test waits in a loop of its own that never
// ends (the login prompt's wait, a modal dialog), the failure is reported from there and the rescues
// free that loop, instead of the run hanging until the runner's time-out.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <climits>

#include "tests/common/wait.h"

namespace ov::test {

// WaitFor whose turns run Qt events (turn handles what is due and returns by `until`), with the watchdog.
inline bool WaitForWatched(const std::string& what, const std::function<bool()>& done,
                           const std::function<void(WaitClock::time_point until)>& turn,
                           int patienceMs = kPatienceMs,
                           const std::function<uint64_t()>& progress = nullptr) {
  QTimer watchdog;
  watchdog.setSingleShot(true);
  WaitClock::time_point armedFor{};
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    if (GaveUp()) {  // said already, on another thread perhaps: only the loops are to be freed
      Rescue();
      return;
    }
    if (WaitClock::now() < armedFor) {  // woken early: sleep again for the rest
      watchdog.start(1);
      return;
    }
    GiveUp("gave up waiting for " + what + " (after " + std::to_string(patienceMs) + " ms)");
  });
  return WaitFor(
      what, done,
      [&](WaitClock::time_point until) {
        const WaitClock::time_point deadline = CurrentDeadline();
        if (deadline != armedFor || !watchdog.isActive()) {
          armedFor = deadline;
          const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - WaitClock::now()).count();
          watchdog.start(int(std::clamp<int64_t>(ms, 0, INT_MAX)));
        }
        turn(until);
      },
      patienceMs, progress);
}

// Handles Qt events until done() holds; see WaitFor.
inline bool PumpQt(const std::string& what, const std::function<bool()>& done, int patienceMs = kPatienceMs,
                   const std::function<uint64_t()>& progress = nullptr) {
  QTimer wake;  // sleeps between events, never longer than this
  wake.setInterval(20);
  wake.start();
  return WaitForWatched(
      what, done,
      [](WaitClock::time_point) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // closed windows really go
      },
      patienceMs, progress);
}

}  // namespace ov::test
