#include "core/status_line.h"

#include "core/desktop.h"

namespace ov {

void StatusLine::ShowStatus(const std::string& text, int time, int beeps) {
  if (time == -1) {
    statusText_ = text;
    if (!statusTimerOn_) desktop_.SetStatusBarText(text);
  } else if (time == 0) {
    statusText_ = text;
    if (statusTimerOn_) {
      desktop_.StopStatusTimer();
      statusTimerOn_ = false;
    }
    desktop_.SetStatusBarText(text);
  } else if (time > 0) {
    if (statusTimerOn_) {
      desktop_.StopStatusTimer();
    } else {
      statusTimerOn_ = true;
    }
    desktop_.StartStatusTimer(time);
    desktop_.SetStatusBarText(text);
  }
  if (beeps <= 0 || !desktop_.BeepsAllowed()) return;
  for (int i = 0; i < beeps; ++i) desktop_.Beep();
}

void StatusLine::OnTimer() {
  desktop_.StopStatusTimer();
  statusTimerOn_ = false;
  desktop_.SetStatusBarText(statusText_);
}

void StatusLine::ShowAppHint(const std::string& hint) {
  desktop_.SetStatusBarText(hint.empty() ? statusText_ : hint);
}

}  // namespace ov
