#pragma once
// The one text of the status bar: timed messages, lasting messages and menu hints.
#include <string>

namespace ov {

class Desktop;

class StatusLine {
 public:
  explicit StatusLine(Desktop& desktop) : desktop_(desktop) {}

  // time -1: remember and show unless a timed message is up; 0: remember, show, cancel a timed message;
  // > 0: show for that long, then return to the remembered text; below -1: only the beeps.
  void ShowStatus(const std::string& text, int time, int beeps);
  void OnTimer();  // expiry of the status timer
  void ShowAppHint(const std::string& hint);

  const std::string& StatusText() const { return statusText_; }
  bool StatusTimerOn() const { return statusTimerOn_; }

 private:
  Desktop& desktop_;
  std::string statusText_;
  bool statusTimerOn_ = false;
};

}  // namespace ov
