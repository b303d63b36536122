#pragma once
// One connection to an OV server, from the moment its socket is made until the connection ends: the unit
// of identity. It holds its socket, its slot (a property, the lowest of 1..20 free when it began), where
// it went and whether the connect came through, the bytes of a frame not yet whole, frames waiting for
// their turn and the peer's close waiting behind them, the frames the socket has not taken yet, what its
// OV server said of itself and the game servers it announced (OVIrec, net/server_record.h), and what the
// layers above keep for it.
//
// Connections opens a connection's session when it takes a slot for a new socket and closes it when the
// connection ends; closing destroys everything the session holds, so a later connection that gets the
// same slot or socket number starts clean. Whatever keeps a connection across a wait keeps its
// ConnectionHandle, which no longer lives once the connection ends.
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/endpoint.h"
#include "wire/frames.h"

namespace ov {

// Slots 1..20 are handed out, to connections and to game servers alike; slot 0 never is.
constexpr int kSlotCount = 21;
constexpr int kTypeCount = 6;  // the server types an OV server may offer

class Console;
struct OVIrec;

// What a layer above keeps for one connection; it goes with the session.
class SessionAttachment {
 public:
  virtual ~SessionAttachment() = default;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(int socket, int slot, Endpoint where);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  int Socket() const { return socket_; }
  int Slot() const { return slot_; }
  const Endpoint& Where() const { return where_; }

  // FD_CONNECT came: connected whatever the outcome, which connectError then tells. The frame layer
  // sends only on a connected connection.
  bool connected = false;
  int connectError = 0;

  // What its OV server said and the client shows of it. The record is shared so that the tree and the
  // windows can be cleared after the connection itself has ended.
  OVIrec& Server() { return *server_; }
  const OVIrec& Server() const { return *server_; }
  std::shared_ptr<OVIrec> KeepServer() const { return server_; }
  // Read-only views for everyone else.
  const std::string& Name() const;  // empty until the OV server names itself
  bool Introduced() const;
  Console* Window() const;  // the OV server's own console window, or none

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
  Endpoint where_;
  std::shared_ptr<OVIrec> server_;
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

// A game server as the rest of the program reads it: a copy of what was so when asked.
struct GameServerView {
  int ovSlot = 0;
  int serverId = 0;
  std::string title;
  int gamePort = 0;
  int treeNode = 0;
  Console* window = nullptr;
  ConnectionHandle connection;  // its OV server's
};

// The open connections, by slot: the directory through which the program finds its servers.
class Sessions {
 public:
  int FreeSlot() const;                                      // the lowest free of 1..20, or -1
  Session& Open(int socket, int slot, Endpoint where = {});  // slot: one that FreeSlot gave
  void Close(int socket);                                    // destroys the session and everything it holds
  Session* Find(int socket) const;  // nullptr when no connection is open on the socket
  Session* AtSlot(int slot) const;  // nullptr when the slot is free (or no slot)
  template <typename F>
  void ForEach(F&& visit) const {  // in the order of their slots
    for (const auto& session : open_)
      if (session) visit(*session);
  }

  // The game servers take their own slots, 1..20 over all connections: the lowest free, or -1.
  int FreeGameSlot() const;
  // A server's console window: the OV server's own for serverId 0; nullptr when there is none.
  Console* WindowOf(int slot, int serverId) const;
  // Forgets the window only while it is still the server's: a newer window may have taken its place.
  void ForgetWindow(int slot, int serverId, const Console& window);
  std::optional<GameServerView> Game(int slot, int serverId) const;
  std::vector<GameServerView> Games() const;              // in the order of their slots
  std::vector<std::string> OfferedTypes(int slot) const;  // the non-empty type names, as offered

 private:
  std::shared_ptr<Session> open_[kSlotCount];
};

}  // namespace ov
