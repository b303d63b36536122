#pragma once
// What the logic needs of the main window and the desktop: the status bar's one text, the one-shot
// status timer, the beep, the modal message box and the enabled state of the commands.
#include <string>

namespace ov {

// The commands whose enabled state the logic sets: Connect, disabled while a connection attempt runs, and
// those that act on the servers tree's selection.
enum class Command { Connect, OpenWindow, Disconnect, Kill, EvilKill };

class Desktop {
 public:
  virtual ~Desktop() = default;
  virtual void SetStatusBarText(const std::string& text) = 0;
  // One-shot; its expiry must reach StatusLine::OnTimer on the UI thread.
  virtual void StartStatusTimer(int ms) = 0;
  virtual void StopStatusTimer() = 0;
  // Asked once per request for beeps (a status message's, a server's beep message), before its beeps:
  // false drops the whole request, which is how a flood of requests is rationed.
  virtual bool BeepsAllowed() = 0;
  // Returns at once: beeps asked for together sound one after another, each heard on its own.
  virtual void Beep() = 0;
  // Modal, captioned with the application title, one OK button; returns when dismissed.
  virtual void MessageBox(const std::string& text) = 0;
  virtual void SetCommandEnabled(Command command, bool enabled) = 0;
  virtual void SetConnectEnabled(bool enabled) = 0;  // Command::Connect
  virtual void Quit() = 0;                           // closes the main window: the program ends
  virtual std::string LocalTime() = 0;               // the wall clock, for the user to read in a log
};

}  // namespace ov
