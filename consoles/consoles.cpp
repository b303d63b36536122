#include "consoles/consoles.h"

#include <algorithm>

#include "consoles/log_files.h"
#include "core/status_line.h"
#include "net/frame_sender.h"
#include "net/session.h"

namespace ov {

Console& Consoles::Create(ConsoleKind kind, const ConnectionHandle& connection, int serverId, int consoleMode,
                          const std::string& caption, const Endpoint& where) {
  auto window = std::make_unique<Console>();
  window->kind = kind;
  window->connection = connection;
  window->ServerId = serverId;
  window->ConsoleMode = consoleMode;
  window->caption = caption;
  window->where = where;
  Console& created = *window;
  windows_.push_back(std::move(window));
  // The key is set before the window shows, so the view sees its caption from the start.
  created.view = windowSystem_.CreateConsoleView(created);
  return created;
}

void Consoles::RouteConsoleText(int socket, int serverId, std::string_view text) {
  const Session* session = sessions_.Find(socket);
  if (session == nullptr) {
    status_.ShowStatus("Error - msg received from nonexistant server [" + std::string(text) + "]", 2000, 1);
    return;
  }
  Console* w = sessions_.WindowOf(session->Slot(), serverId);
  if (w == nullptr) return;
  if (keeper_ != nullptr) keeper_->Keep(*w, session->Where(), text);
  AppendConsole(*w, text);
  if (listener_) listener_(socket, serverId, *w, text);
}

void Consoles::AppendConsole(Console& window, std::string_view text) {
  window.log.Append(text, window.ConsoleMode);
  if (window.view) window.view->LogChanged();
}

void Consoles::AppendLine(Console& window, const std::string& line) {
  const std::string& text = window.log.Text();
  const bool atLineStart = text.empty() || text.ends_with("\r\n");
  AppendConsole(window, (atLineStart ? "" : "\r\n") + line + "\r\n");
}

bool Consoles::SendLine(Console& window, const std::string& line) {
  // A dead window names no connection, and nothing is sent for it.
  return sender_.SendConsole(window.OVIndex(), window.ServerId, line);
}

void Consoles::MarkDead(Console& window) {
  window.caption += "[Dead]";
  window.connection = {};
  window.ServerId = -1;
  window.diedAt = ++deaths_;
  if (window.view) window.view->CaptionChanged();
  CloseOldestDead();
}

void Consoles::SetCaption(Console& window, const std::string& caption) {
  if (window.caption == caption) return;
  window.caption = caption;
  if (window.view) window.view->CaptionChanged();
}

void Consoles::CloseOldestDead() {
  // Each window that dies brings at most one beyond the bound.
  Console* oldest = nullptr;
  size_t dead = 0;
  for (const auto& window : windows_) {
    if (!window->IsDead()) continue;
    ++dead;
    if (oldest == nullptr || window->diedAt < oldest->diedAt) oldest = window.get();
  }
  if (dead <= kMaxDeadWindows) return;
  // Closed at once, as Clean up closes it: a dead window sends nothing and touches no record.
  if (oldest->view != nullptr) {
    oldest->view->Close();
  } else {
    CloseWindow(*oldest);
  }
  status_.ShowStatus(
      "Closed the oldest dead window: at most " + std::to_string(kMaxDeadWindows) + " are kept", 5000, 0);
}

void Consoles::CloseWindow(Console& window) {
  if (const int slot = window.OVIndex(); slot != -1 && window.ServerId != -1) {
    const bool quake = window.kind == ConsoleKind::QuakeServer;
    sessions_.ForgetWindow(slot, quake ? window.ServerId : 0, window);
    const Session* session = sessions_.AtSlot(slot);
    if (quake && session != nullptr) sender_.Send(session->Socket(), msg::ConsoleClosed{window.ServerId});
  }
  // The window goes; whoever called holds no reference to it afterwards.
  auto it = std::find_if(windows_.begin(), windows_.end(), [&](const auto& w) { return w.get() == &window; });
  if (it != windows_.end()) windows_.erase(it);
}

}  // namespace ov
