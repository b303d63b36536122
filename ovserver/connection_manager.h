#pragma once
// The open connections: who is admitted (the limits of the server, of an address and of those not
// logged in), how long one may take to log in, and fair turns at reading, so that no connection's
// requests hold up the others'.
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ovserver/connection.h"
#include "ovserver/server_config.h"

class QTcpSocket;

namespace ovs {

// A connection's fair share of the loop: what one turn reads and handles before the others get theirs.
constexpr qint64 kReadChunk = 16 * 1024;
constexpr int kFramesPerTurn = 64;
constexpr int kMaxFramesBeforeLogin = 8;
// Answers a peer leaves unread beyond this (on top of the console text, which has a bound of its own)
// stop its requests being read until it catches up.
constexpr qint64 kMaxQueuedAnswers = 256 * 1024;
constexpr qint64 kPauseAbove = kMaxQueuedOutput + kMaxQueuedAnswers;

// Connections not logged in hold at most this many of the server's places: the rest are kept for
// connections that have logged in.
int NotLoggedInShare(int maxConnections);

class ConnectionManager : public QObject {
  Q_OBJECT
 public:
  ConnectionManager(const ServerConfig& config, const ov::MessageCipher& cipher, PeerLog& log);
  ~ConnectionManager() override;

  // Admits the socket as a connection from group (and owns it from then on), or answers that there is
  // no room and closes it.
  void Serve(QTcpSocket* socket, const std::string& group);
  // Connections, closed ones included until the loop next runs.
  size_t Count() const { return connections_.size(); }
  // Calls each open connection, in the order they came.
  void ForEach(const std::function<void(Connection&)>& each);
  size_t LoggedInAs(const std::string& user) const;
  size_t OpenCount() const;
  // A line for the log that no one connection caused, within the bound for all peers.
  void Log(const std::string& line) { log_.Line(nullptr, line); }

  // A whole request read from a connection, in its turn.
  std::function<void(Connection&, const ov::Frame&)> onFrame;
  // A connection has closed: whatever waits for it is dropped.
  std::function<void(Connection&)> onClosed;

 private:
  // The note for a connection refused for want of room; empty when it is admitted.
  std::string Admit(const std::string& group, std::string& why);
  void Watch(const std::shared_ptr<Connection>& connection);
  void TimeOut(const ConnectionHandle& handle, int seconds, bool silentOnly);
  void Read(const ConnectionHandle& handle);
  // Reads and splits what the connection sent; false when its turn ends here.
  bool ReadChunk(Connection& connection);
  void ScheduleTurn(Connection& connection);
  void Closed(const ConnectionHandle& handle);
  size_t NotLoggedIn(const std::string* group) const;
  // Another connection from the same address has waited longer to log in.
  bool WaitsBehind(const Connection& connection) const;
  // Closes the connection, from group or from any address, idle longest (no login within the silent
  // time-out), if any, to make room for a new one.
  bool MakeRoom(const std::string* group);
  // Closes the newest connection of the address that holds the most places not logged in, when it holds
  // two more than group: a crowd from a few addresses cannot keep everyone else out.
  bool TakeFairShare(const std::string& group);
  void CloseToMakeRoom(Connection& connection, const std::string& why, const std::string& note);

  const ServerConfig& config_;
  const ov::MessageCipher& cipher_;
  PeerLog& log_;
  int lastNumber_ = 0;
  std::map<int, std::shared_ptr<Connection>> connections_;  // by number: in the order they came
  CountedLine refusals_{std::chrono::milliseconds(kMalformedLogIntervalMs)};
  CountedLine quietCloses_{std::chrono::milliseconds(kMalformedLogIntervalMs)};
};

}  // namespace ovs
