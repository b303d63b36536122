#include "consoles/qt/show_pacer.h"

#include <algorithm>

#include "consoles/qt/console_window.h"

namespace ov {

ShowPacer::ShowPacer(Show show) : show_(std::move(show)) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &ShowPacer::Turn);
}

ShowPacer::~ShowPacer() {
  for (const QPointer<ConsoleWindow>& window : waiting_) delete window.data();
}

void ShowPacer::Add(ConsoleWindow& window) {
  waiting_.push_back(&window);
  connect(&window, &ConsoleWindow::wanted, this, [this, w = &window] { ShowNow(w); });
  if (!timer_.isActive()) timer_.start(0);
}

std::vector<ConsoleWindow*> ShowPacer::Waiting() const {
  std::vector<ConsoleWindow*> out;
  for (const QPointer<ConsoleWindow>& window : waiting_)
    if (window) out.push_back(window);
  return out;
}

void ShowPacer::ShowNow(ConsoleWindow* window) {
  const auto it = std::find(waiting_.begin(), waiting_.end(), window);
  if (it == waiting_.end()) return;
  waiting_.erase(it);
  disconnect(window, &ConsoleWindow::wanted, this, nullptr);
  show_(*window);
}

void ShowPacer::Turn() {
  int shown = 0;
  while (shown < kPerTurn && !waiting_.empty()) {
    const QPointer<ConsoleWindow> window = waiting_.front();
    // A window closed while it waited, or let go of as the program ends, has nothing to show.
    if (window && window->Window()) {
      ShowNow(window);
      ++shown;
    } else {
      waiting_.pop_front();
    }
  }
  if (!waiting_.empty()) timer_.start(0);
}

}  // namespace ov
