#pragma once
// The receiving half of a connection's frames: each read is split into frames, and each frame is handed
// to the handler the root sets for its kind (a control message or console text).
//
// One read can hold hundreds of frames, each of which may open or close a window. So that one read never
// holds the event loop for long, a turn of the loop hands over at most kFramesPerTurn frames and stops
// after kTimePerTurn; the rest of the read waits, in order, for a later turn, and the socket is not read
// again before they are all handed over.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/session.h"

namespace ov {

class SocketApi;
class Sessions;
class StatusLine;
class DebugLog;
class EventLoop;

constexpr size_t kReceiveBufferSize = 32768;
constexpr size_t kFramesPerTurn = 16;
constexpr std::chrono::milliseconds kTimePerTurn{16};

class FrameReceiver {
 public:
  using ControlHandler = std::function<void(int socket, int n, const std::string& payload)>;
  using ConsoleHandler = std::function<void(int socket, int serverId, std::string_view text)>;

  FrameReceiver(SocketApi& sockets, EventLoop& loop, Sessions& sessions, StatusLine& status, DebugLog& debug)
      : sockets_(sockets), loop_(loop), sessions_(sessions), status_(status), debug_(debug) {}

  void SetHandlers(ControlHandler onControl, ConsoleHandler onConsole) {
    onControl_ = std::move(onControl);
    onConsole_ = std::move(onConsole);
  }

  void ReceiveFrames(int socket);  // the socket is readable
  // The peer closed: when frames of its last read wait for their turn, keeps close to run once they
  // have been handed over, and says so; otherwise false, and close is the caller's to run.
  bool CloseAfterFrames(int socket, std::function<void()> close);

 private:
  using Read = Session::Read;
  // Hands over the read's frames from next on; a bounded turn stops at the bound. False when frames
  // are left for a later turn (the session is then still open).
  bool HandOverFrames(Session& session, Read& read, bool bounded);
  void Park(Session& session, std::unique_ptr<Read> read);
  void Resume(Session& session);  // a later turn of the loop: the parked frames go on
  void HandOver(int socket, const FrameView& frame);

  SocketApi& sockets_;
  EventLoop& loop_;
  Sessions& sessions_;
  StatusLine& status_;
  DebugLog& debug_;
  ControlHandler onControl_;
  ConsoleHandler onConsole_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // a posted turn finds the receiver gone
};

}  // namespace ov
