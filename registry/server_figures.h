#pragma once
// What each Quake server costs on its OV server's machine (message 33), kept per connection beside the
// tables: it goes with the connection, and a server's figures with the server. The client asks only while
// someone looks (a server's tooltip, the Send to Servers list), at most once every kAskEvery per OV server
// (counted from the last request or answer), and not again on a connection whose OV server left the last
// request unanswered: one that does not know the request hears it once.
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "wire/messages.h"

namespace ov {

class Sessions;
class FrameSender;
class EventLoop;

// "CPU 3 %, 45 MiB, up 2 h 13 min".
std::string DescribeFigures(const msg::Figures::Server& figures);

class ServerFigures {
 public:
  static constexpr std::chrono::seconds kAskEvery{5};

  ServerFigures(Sessions& sessions, FrameSender& sender, EventLoop& loop)
      : sessions_(sessions), sender_(sender), loop_(loop) {}

  // Someone is about to see the figures of the OV server on socket: asks for them when due.
  void Ask(int socket);
  void OnFigures(int socket, const msg::Figures& figures);
  void Forget(int socket, int serverId);  // the server has gone
  std::optional<msg::Figures::Server> Of(int socket, int serverId) const;
  // DescribeFigures of the server, or empty when none are known.
  std::string Described(int socket, int serverId) const;

  // Figures arrived that differ from those kept: a view that shows them may show them again.
  void SetChangedHandler(std::function<void()> onChanged) { onChanged_ = std::move(onChanged); }

 private:
  Sessions& sessions_;
  FrameSender& sender_;
  EventLoop& loop_;
  std::function<void()> onChanged_;
};

}  // namespace ov
