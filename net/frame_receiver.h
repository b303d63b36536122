#pragma once
// The receiving half of a connection's frames: each read is split into frames, and each frame is handed
// to the handler the root sets for its kind (a control message or console text).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "wire/frames.h"

namespace ov {

class SocketApi;
class ServerTables;
class StatusLine;
class DebugLog;

constexpr size_t kReceiveBufferSize = 32768;

class FrameReceiver {
 public:
  using ControlHandler = std::function<void(int socket, int n, const std::string& payload)>;
  using ConsoleHandler = std::function<void(int socket, int serverId, std::string_view text)>;

  FrameReceiver(SocketApi& sockets, const ServerTables& tables, StatusLine& status, DebugLog& debug)
      : sockets_(sockets), tables_(tables), status_(status), debug_(debug) {}

  void SetHandlers(ControlHandler onControl, ConsoleHandler onConsole) {
    onControl_ = std::move(onControl);
    onConsole_ = std::move(onConsole);
  }

  void ReceiveFrames(int socket);  // the socket is readable
  void Forget(int socket);         // the connection closed: drop its kept bytes

 private:
  void HandOver(int socket, const FrameView& frame);

  SocketApi& sockets_;
  const ServerTables& tables_;
  StatusLine& status_;
  DebugLog& debug_;
  ControlHandler onControl_;
  ConsoleHandler onConsole_;
  std::unordered_map<int, FrameAssembler> assemblers_;
};

}  // namespace ov
