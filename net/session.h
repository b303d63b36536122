#pragma once
// One connection's own state, from the moment its socket is made until the connection ends: the bytes of
// a frame not yet whole, frames waiting for their turn and the peer's close waiting behind them, the
// frames the socket has not taken yet, and what the layers above keep for the connection.
//
// Connections opens a connection's session when it takes a slot for a new socket and closes it when the
// connection ends; closing destroys everything the session holds, so a later connection that gets the
// same socket number starts clean. Whatever keeps a session across a wait keeps a std::weak_ptr to it
// (weak_from_this), which expires when the connection ends, even if a new one takes the socket number.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "wire/frames.h"

namespace ov {

// What a layer above keeps for one connection; it goes with the session.
class SessionAttachment {
 public:
  virtual ~SessionAttachment() = default;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(int socket, int slot) : socket_(socket), slot_(slot) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  int Socket() const { return socket_; }
  int Slot() const { return slot_; }  // the lowest of 1..20 that was free when it began

  // The frames of one read. They point into text, or into joined for one completed from bytes kept from
  // earlier reads; the read owns both, so a nested read of the same socket cannot change them.
  struct Read {
    std::string text;
    std::string joined;
    std::vector<FrameView> frames;
    size_t next = 0;  // the first frame not yet handed over
  };

  // The receiving half (FrameReceiver).
  struct Receiving {
    FrameAssembler assembler;
    std::unique_ptr<Read> parked;        // frames left for a later turn
    int handingOver = 0;                 // hand-overs under way (a wait nests them)
    bool readWanted = false;             // a read event came while frames were parked
    std::function<void()> closeWaiting;  // the peer's close, run once the parked frames are handed over
  } receiving;

  // The sending half (FrameSender): what the socket did not take, whole frames in order.
  struct Sending {
    std::string unsent;
    size_t unsentHead = 0;  // bytes at the front of unsent that have gone out already
  } sending;

  // What the layer above keeps for this connection of type T, made when first asked for.
  template <typename T>
  T& Attached() {
    for (const auto& attachment : attached_) {
      if (auto* kept = dynamic_cast<T*>(attachment.get())) return *kept;
    }
    attached_.push_back(std::make_unique<T>());
    return static_cast<T&>(*attached_.back());
  }

 private:
  int socket_;
  int slot_;
  std::vector<std::unique_ptr<SessionAttachment>> attached_;
};

// Names one connection across a wait: Lock() gives it while it lives, and nullptr once it has ended,
// even if a newer connection took its slot and socket number meanwhile.
class ConnectionHandle {
 public:
  ConnectionHandle() = default;
  explicit ConnectionHandle(Session& session) : session_(session.weak_from_this()) {}
  std::shared_ptr<Session> Lock() const { return session_.lock(); }
  bool Lives() const { return !session_.expired(); }

 private:
  std::weak_ptr<Session> session_;
};

// The sessions of the open connections, by socket.
class Sessions {
 public:
  Session& Open(int socket, int slot);
  void Close(int socket);           // destroys the session and everything it holds
  Session* Find(int socket) const;  // nullptr when no connection is open on the socket

 private:
  std::unordered_map<int, std::shared_ptr<Session>> open_;
};

}  // namespace ov
