#pragma once
// One client's connection: its socket, what it has sent and not been handled yet, where it is in the
// login, and the game servers it was told of. It is named by its handle, which says whether it still
// lives: whoever acts on it after a wait locks the handle first.
#include <QtGlobal>
#include <chrono>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "ovserver/outgoing.h"
#include "ovserver/peer_log.h"
#include "ovserver/request_reader.h"
#include "wire/cipher.h"
#include "wire/frames.h"

class QTcpSocket;

namespace ovs {

constexpr qint64 kMaxQueuedOutput = 4 << 20;  // console text beyond this waits in no queue: it is dropped
constexpr qint64 kMaxUnreadOutput = 4 * kMaxQueuedOutput;  // a peer this far behind is not reading at all
constexpr int kCloseWaitMs = 5000;
constexpr int kMalformedLogIntervalMs = 1000;  // one summary line per connection at most this often

class Connection;
using ConnectionHandle = std::weak_ptr<Connection>;

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  enum class State { LoggingIn, Checking, Refused, LoggedIn };

  Connection(int number, QTcpSocket* socket, std::string group, const ov::MessageCipher& cipher,
             PeerLog& log);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  ConnectionHandle Handle() { return weak_from_this(); }
  int Number() const { return number_; }
  const std::string& Peer() const { return peer_; }  // address:port
  const std::string& Address() const { return address_; }
  const std::string& Group() const { return group_; }  // what limits and lock-outs count by
  Clock::time_point Since() const { return since_; }
  bool IsClosed() const { return closed_; }
  QTcpSocket& Socket() { return *socket_; }
  // "connection N (user)", for the log.
  std::string Who() const;

  // Sending, every frame made in outgoing.h. A peer that reads nothing loses console text first and is
  // cut off far behind.
  template <typename Message>
  void Send(const Message& message) {
    Write(ControlFrame(message, cipher_), ov::ControlCode(Message::kId));
  }
  void SendNote(const std::string& text);
  void SendConsoleLine(int id, const std::string& line);
  void Say(const std::string& line) { SendConsoleLine(0, line); }
  // Tells of the console lines dropped for it, once it has caught up.
  void CaughtUp();

  // A log line this connection caused, within its share.
  void Log(const std::string& line) { log_.Line(&logBudget_, line, !closed_); }
  void Malformed(const std::string& problem, size_t count = 1);
  // Logs what was malformed since the last report: at most one line per read, and one per
  // kMalformedLogIntervalMs unless it is closing.
  void ReportMalformed(bool closing = false);

  // Answers a refused login with a message box and closes, delay after since.
  void Refuse(const std::string& reason, Clock::time_point since, std::chrono::milliseconds delay);
  void CloseGently();
  // Marks it closed; the closing line for the log.
  std::string MarkClosed();

  State state = State::LoggingIn;
  std::string user;
  bool heard = false;  // it has sent a whole frame (or a malformed one)
  int framesBeforeLogin = 0;
  bool newUserAsked = false;
  bool chpwdAsked = false;
  // Reading in turns: frames read and not handled yet, whether a turn is due, whether it waits for its
  // answers to drain.
  RequestReader reader;
  std::deque<ov::Frame> pending;
  bool turnQueued = false;
  bool paused = false;
  // Game servers: announced with 27, announced and waiting for the 24, consoles relayed (42 until 41).
  std::set<int> known;
  std::set<int> awaiting;
  std::set<int> watching;

 private:
  // Writes a frame; for one that was refused, nothing but a log line naming its code.
  void Write(const std::optional<std::string>& frame, int32_t code);

  int number_;
  QTcpSocket* socket_;
  std::string peer_;
  std::string address_;
  std::string group_;
  Clock::time_point since_ = Clock::now();
  const ov::MessageCipher& cipher_;
  PeerLog& log_;
  LogBudget logBudget_;
  bool closed_ = false;
  size_t droppedLines_ = 0;
  size_t malformed_ = 0;  // in this read, not yet in the log
  std::string firstProblem_;
  size_t unreported_ = 0;  // held back by the one-a-second rule
  Clock::time_point lastReport_;
};

// The connection a handle names while it is open; null once it has closed.
inline std::shared_ptr<Connection> Open(const ConnectionHandle& handle) {
  std::shared_ptr<Connection> connection = handle.lock();
  return connection && !connection->IsClosed() ? connection : nullptr;
}

}  // namespace ovs
