#pragma once
// The connections to OV servers: slots, sockets, the connect wait, socket events and disconnecting.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "net/event_loop.h"

namespace ov {

class SocketApi;
class Desktop;
class StatusLine;
class FrameSender;
class Sessions;
class Session;
class ConnectionHandle;
class DebugLog;
struct Endpoint;
struct OVIrec;
struct AddressParts;
struct SocketAddress;

// How long a connection attempt waits for a host name to be looked up.
constexpr int kLookupWaitMs = 10000;

class Connections {
 public:
  Connections(SocketApi& sockets, EventLoop& loop, Desktop& desktop, StatusLine& status, DebugLog& debug,
              Sessions& sessions, FrameSender& sender)
      : sockets_(sockets),
        loop_(loop),
        desktop_(desktop),
        status_(status),
        debug_(debug),
        sessions_(sessions),
        sender_(sender) {}

  // What a connection's events go on to, set by the root: a readable socket, a connection that has ended
  // (its session closed, its handle dead) whose servers leave the tree and the windows, given what it
  // held of them, with the line that tells when and why it ended and where it went, and a slot that a new
  // connection has taken.
  using RemovedHandler = std::function<void(int slot, OVIrec& ended, const std::string& endLine)>;
  void SetHandlers(std::function<void(int socket)> onReadable, RemovedHandler onRemoved,
                   std::function<void(int slot)> onOpened) {
    onReadable_ = std::move(onReadable);
    onRemoved_ = std::move(onRemoved);
    onOpened_ = std::move(onOpened);
  }
  // Asked when the peer closes: true when frames it sent before closing still wait to be handed over;
  // the close then runs the given function once they have been.
  void SetCloseGate(std::function<bool(int socket, std::function<void()> close)> gate) {
    closeGate_ = std::move(gate);
  }

  // A connection that ended without the client ending it (the peer closed it, the network failed), told
  // with the status line's reason while its slot is still filled.
  void SetLostHandler(std::function<void(int slot, const std::string& why)> onLost) {
    onLost_ = std::move(onLost);
  }

  bool InitSockets();  // false after the failure box; the program then ends
  void ShutdownSockets();
  // True when the connection was made (the connect event came without error, or connect succeeded at once).
  bool ConnectToServer(const std::string& address, int port, int count);
  // A dead OV server's window connects again to where its connection went, unless a connection to that
  // address and port is open or under way: then the status line says so and nothing else happens.
  bool Reconnect(const Endpoint& where);
  // The servers named at start-up, one after another. Each failure goes to the debug log as it comes;
  // when all have been tried, one box lists every reason with the servers it stopped.
  void ConnectAtStart(const std::vector<Endpoint>& targets);
  void HandleSocketEvent(int message, int socket, uint32_t eventWord);
  void Disconnect(int slot, int reason);
  std::string LastErrorText() const;

 private:
  // One attempt. With failure given, a failure's text goes there, and in place of a box when the
  // attempt could not take a slot or a socket.
  bool Attempt(const Endpoint& where, std::string* failure);
  Session* TakeSlot(const Endpoint& where, std::string* failure);  // opens its session; nullptr on failure
  void CloseConnection(int socket);  // the socket, and the session with all it held
  // Looks a name or an IPv6 literal up for the connection's attempt; found stays empty when it finds
  // nothing. False when the connection went while it waited.
  bool LookUp(const ConnectionHandle& connection, const AddressParts& parts,
              std::vector<SocketAddress>& found);
  struct Failure;
  // Connects the new connection's socket to the dotted address, or else to each address found in turn.
  bool ConnectToAny(Session& session, uint32_t inetAddress, const std::vector<SocketAddress>& found,
                    const Failure& fail);
  // Waits, with every other event flowing, for the socket's connect event: its error (0: connected), or
  // nothing once the deadline has passed or the connection has ended meanwhile.
  std::optional<int> AwaitConnect(const ConnectionHandle& connection, Clock::time_point deadline);

  SocketApi& sockets_;
  EventLoop& loop_;
  Desktop& desktop_;
  StatusLine& status_;
  DebugLog& debug_;
  Sessions& sessions_;
  FrameSender& sender_;
  bool shutDown_ = false;
  std::function<void(int socket)> onReadable_;
  RemovedHandler onRemoved_;
  std::function<void(int slot)> onOpened_;
  std::function<void(int slot, const std::string& why)> onLost_;
  std::function<bool(int socket, std::function<void()> close)> closeGate_;
};

}  // namespace ov
