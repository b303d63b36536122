#pragma once
// The connections to OV servers: slots, sockets, the connect wait, socket events and disconnecting.
#include <cstdint>
#include <functional>
#include <string>

namespace ov {

class SocketApi;
class EventLoop;
class Desktop;
class ServerTables;
class StatusLine;
class FrameSender;

class Connections {
 public:
  Connections(SocketApi& sockets, EventLoop& loop, Desktop& desktop, ServerTables& tables, StatusLine& status,
              FrameSender& sender)
      : sockets_(sockets),
        loop_(loop),
        desktop_(desktop),
        tables_(tables),
        status_(status),
        sender_(sender) {}

  // What a connection's events go on to, set by the root: a readable socket, a closed socket whose kept
  // bytes go, and a disconnected slot whose servers leave the tables and the tree, with the line that
  // tells when and why the connection ended and where it went.
  void SetHandlers(std::function<void(int socket)> onReadable, std::function<void(int socket)> onForget,
                   std::function<void(int slot, const std::string& endLine)> onRemoved) {
    onReadable_ = std::move(onReadable);
    onForget_ = std::move(onForget);
    onRemoved_ = std::move(onRemoved);
  }

  bool InitSockets();  // false after the failure box; the program then ends
  void ShutdownSockets();
  int NewSocket();  // slot index or -1
  // True when the connection was made (the connect event came without error, or connect succeeded at once).
  bool ConnectToServer(const std::string& address, int port, int count);
  void HandleSocketEvent(int message, int socket, uint32_t eventWord);
  void Disconnect(int slot, int reason);
  std::string LastErrorText() const;

 private:
  SocketApi& sockets_;
  EventLoop& loop_;
  Desktop& desktop_;
  ServerTables& tables_;
  StatusLine& status_;
  FrameSender& sender_;
  std::function<void(int socket)> onReadable_;
  std::function<void(int socket)> onForget_;
  std::function<void(int slot, const std::string& endLine)> onRemoved_;
};

}  // namespace ov
