#pragma once
// The console windows as the logic knows them: one per OV server or Quake server, tied to it by its
// connection's handle and ServerId (no connection and ServerId -1 once the server is gone: a dead window).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "consoles/console_log.h"
#include "core/endpoint.h"
#include "net/session.h"

namespace ov {

class Sessions;
class StatusLine;
class FrameSender;
class WindowSystem;
class LogKeeper;

enum class ConsoleKind { OVServer, QuakeServer };  // OVConsoleWindow, QuakeConsoleWindow

// The window on screen.
class ConsoleView {
 public:
  virtual ~ConsoleView() = default;
  virtual void CaptionChanged() = 0;
  virtual void LogChanged() = 0;    // the log's text changed; the view redraws when it likes
  virtual void BringToFront() = 0;  // raise it and set it to its normal state, leaving the focus be
  virtual void TakeFocus() = 0;     // the user asked for it: the active window, focus in its input line
  virtual void CloseLater() = 0;    // closes it, as the user would, after the current event
  virtual void Close() = 0;         // closes it now, as the user would
};

// One console window as the logic knows it: its server, caption and log; the widget is its view.
class Console {
 public:
  ConsoleKind kind = ConsoleKind::OVServer;
  ConnectionHandle connection;  // its OV server's; none once the window is dead
  int ServerId = 0;
  int ConsoleMode = 1;
  std::string caption;
  Endpoint where;  // an OV server's window: where its connection went
  ConsoleLog log;
  ConsoleView* view = nullptr;
  uint64_t diedAt = 0;  // the order in which windows died; 0 while alive
  bool IsDead() const { return ServerId == -1; }
  // The slot of its OV server's connection while that lives, else -1.
  int OVIndex() const {
    const std::shared_ptr<Session> open = connection.Lock();
    return open != nullptr ? open->Slot() : -1;
  }
};

// Creates the on-screen window of a console window, shown at once without taking the keyboard focus.
class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  virtual ConsoleView* CreateConsoleView(Console& window) = 0;
};

class Consoles {
 public:
  // Dead windows beyond this many are closed, the longest dead first: however many servers come and
  // go, the frame holds a bounded number of windows, and a message costs the same at the last step as
  // at the first.
  static constexpr size_t kMaxDeadWindows = 50;

  Consoles(Sessions& sessions, StatusLine& status, FrameSender& sender, WindowSystem& windows)
      : sessions_(sessions), status_(status), sender_(sender), windowSystem_(windows) {}

  Console& Create(ConsoleKind kind, const ConnectionHandle& connection, int serverId, int consoleMode,
                  const std::string& caption, const Endpoint& where = {});
  void RouteConsoleText(int socket, int serverId, std::string_view text);
  void AppendConsole(Console& window, std::string_view text);
  // A line of the client's own, on a line of its own whatever the log ended with.
  void AppendLine(Console& window, const std::string& line);
  // Enter in the input line; false when it did not go out (a dead window, or a line the wire refuses).
  bool SendLine(Console& window, const std::string& line);
  // "[Dead]" after the caption, no connection, ServerId -1; then the longest dead window closes if that makes
  // more than kMaxDeadWindows.
  void MarkDead(Console& window);
  void SetCaption(Console& window, const std::string& caption);
  // The user (or CleanupDeadWindows) closed the window: the close handling runs, then the window goes.
  void CloseWindow(Console& window);
  // Keep Logs: the text every window receives also goes to the keeper, as received; none keeps nothing.
  void SetLogKeeper(LogKeeper* keeper) { keeper_ = keeper; }
  // Also hands the text every window receives to whoever watches it (the desktop notices); none, nobody.
  using TextListener = std::function<void(int socket, int serverId, const Console&, std::string_view)>;
  void SetTextListener(TextListener listener) { listener_ = std::move(listener); }
  // In the frame's order: the order of creation.
  const std::vector<std::unique_ptr<Console>>& Windows() const { return windows_; }

 private:
  void CloseOldestDead();

  Sessions& sessions_;
  StatusLine& status_;
  FrameSender& sender_;
  WindowSystem& windowSystem_;
  std::vector<std::unique_ptr<Console>> windows_;
  uint64_t deaths_ = 0;
  LogKeeper* keeper_ = nullptr;
  TextListener listener_;
};

}  // namespace ov
