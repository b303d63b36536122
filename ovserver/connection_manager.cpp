#include "ovserver/connection_manager.h"

#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace ovs {

int NotLoggedInShare(int maxConnections) { return std::max(1, maxConnections * 3 / 4); }

ConnectionManager::ConnectionManager(const ServerConfig& config, const ov::MessageCipher& cipher,
                                     PeerLog& log)
    : config_(config), cipher_(cipher), log_(log) {}

ConnectionManager::~ConnectionManager() {
  // A closed connection's socket may be gone already; the others go with this object, unheard.
  for (auto& [number, connection] : connections_) {
    if (connection->IsClosed()) continue;
    connection->Socket().disconnect(this);
    connection->Socket().abort();
  }
}

void ConnectionManager::ForEach(const std::function<void(Connection&)>& each) {
  // What each does may close connections: they are only marked then, and erased later.
  for (auto& [number, connection] : connections_)
    if (!connection->IsClosed()) each(*connection);
}

size_t ConnectionManager::OpenCount() const {
  return size_t(std::count_if(connections_.begin(), connections_.end(),
                              [](const auto& entry) { return !entry.second->IsClosed(); }));
}

size_t ConnectionManager::LoggedInAs(const std::string& user) const {
  return size_t(std::count_if(connections_.begin(), connections_.end(), [&](const auto& entry) {
    const Connection& c = *entry.second;
    return !c.IsClosed() && c.state == Connection::State::LoggedIn && c.user == user;
  }));
}

size_t ConnectionManager::NotLoggedIn(const std::string* group) const {
  return size_t(std::count_if(connections_.begin(), connections_.end(), [&](const auto& entry) {
    const Connection& c = *entry.second;
    return !c.IsClosed() && c.state != Connection::State::LoggedIn && (!group || c.Group() == *group);
  }));
}

std::string ConnectionManager::Admit(const std::string& group, std::string& why) {
  if (int(NotLoggedIn(&group)) >= config_.maxLoginsPerAddress && !MakeRoom(&group)) {
    why = std::to_string(config_.maxLoginsPerAddress) + " from " + group + " are not logged in yet";
    return "Too many connections from your address that have not logged in: try again later";
  }
  const size_t open = OpenCount();
  const bool full = int(open) >= config_.maxConnections;
  if ((full || int(NotLoggedIn(nullptr)) >= NotLoggedInShare(config_.maxConnections)) && !MakeRoom(nullptr) &&
      !(NotLoggedIn(nullptr) > 0 && TakeFairShare(group))) {
    why = full ? std::to_string(open) + " are open already"
               : std::to_string(NotLoggedIn(nullptr)) + " are not logged in yet";
    return "Too many connections: try again later";
  }
  return "";
}

void ConnectionManager::Serve(QTcpSocket* socket, const std::string& group) {
  std::string why;
  const std::string full = Admit(group, why);
  if (!full.empty()) {
    // A peer that connects and hangs up in a loop is refused thousands of times a second: the log
    // gets one line a second at most, which counts the others.
    size_t count = 0;
    if (refusals_.Due(Clock::now(), count))
      log_.Line(
          nullptr,
          "refused a connection from " + socket->peerAddress().toString().toStdString() + ":" +
              std::to_string(socket->peerPort()) + ": " + why +
              (count > 1 ? " (" + std::to_string(count - 1) + " more refused since the last line)" : ""));
    if (const auto note = ControlFrame(ov::msg::MessageBox{full}, cipher_))
      socket->write(note->data(), qint64(note->size()));
    socket->disconnectFromHost();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (socket->state() == QAbstractSocket::UnconnectedState) socket->deleteLater();
    return;
  }
  socket->setParent(this);
  // Qt reads no more than this ahead of the turns that handle it: the rest waits in the system.
  socket->setReadBufferSize(4 * kReadChunk);
  auto connection = std::make_shared<Connection>(++lastNumber_, socket, group, cipher_, log_);
  connections_[connection->Number()] = connection;
  Watch(connection);
  // Its arrival is logged when it says something: a peer that connects and hangs up in a loop
  // would otherwise write two lines a time, without end.
  connection->Send(ov::msg::LoginRequest{config_.caption});
  TimeOut(connection, config_.loginTimeoutSeconds, false);
  // A connection that sends no login holds a place for no one, however many bytes or frames it sends
  // (a client's first frame is its login): it goes sooner.
  if (config_.silentTimeoutSeconds < config_.loginTimeoutSeconds)
    TimeOut(connection, config_.silentTimeoutSeconds, true);
}

void ConnectionManager::Watch(const std::shared_ptr<Connection>& connection) {
  QTcpSocket* socket = &connection->Socket();
  const ConnectionHandle handle = connection;
  connect(socket, &QTcpSocket::readyRead, this, [this, handle] { Read(handle); });
  connect(socket, &QTcpSocket::disconnected, this, [this, handle] { Closed(handle); });
  connect(socket, &QTcpSocket::errorOccurred, this, [this, handle](QAbstractSocket::SocketError) {
    const auto open = Open(handle);
    if (open && open->Socket().state() == QAbstractSocket::UnconnectedState) Closed(handle);
  });
  connect(socket, &QTcpSocket::bytesWritten, this, [this, handle] {
    const auto open = Open(handle);
    if (!open) return;
    if (open->paused && open->Socket().bytesToWrite() < kPauseAbove - kMaxQueuedAnswers / 2) {
      open->paused = false;
      ScheduleTurn(*open);
    }
    open->CaughtUp();
  });
}

void ConnectionManager::TimeOut(const ConnectionHandle& handle, int seconds, bool silentOnly) {
  QTimer::singleShot(std::chrono::seconds(seconds), this, [this, handle, seconds, silentOnly] {
    const auto open = Open(handle);
    if (!open || open->state != Connection::State::LoggingIn) return;
    // The client says nothing until its user has answered the login dialog: the connection that has
    // waited longest from its address is such a user's, and keeps the whole time to log in.
    if (silentOnly && !WaitsBehind(*open)) return;
    open->Log(open->Who() + (open->heard ? "" : " from " + open->Peer()) +
              (silentOnly ? ": no login in " : ": no login within ") + std::to_string(seconds) +
              " s, closed");
    open->Send(ov::msg::MessageBox{"Login timed out"});
    open->state = Connection::State::Refused;
    open->CloseGently();
  });
}

void ConnectionManager::Closed(const ConnectionHandle& handle) {
  const auto connection = Open(handle);
  if (!connection) return;
  const std::string line = connection->MarkClosed();
  if (onClosed) onClosed(*connection);
  if (connection->heard) {
    connection->Log(line);
  } else {
    size_t count = 0;
    if (quietCloses_.Due(Clock::now(), count))
      log_.Line(nullptr, std::to_string(count) + " connection" + (count == 1 ? "" : "s") +
                             " closed without a whole frame since the last such line, the latest from " +
                             connection->Peer());
  }
  connection->Socket().deleteLater();
  // Erased later: the call may come from within this connection's own frame handling.
  QTimer::singleShot(0, this, [this, number = connection->Number()] { connections_.erase(number); });
}

void ConnectionManager::Read(const ConnectionHandle& handle) {
  const auto connection = Open(handle);
  if (!connection || connection->turnQueued || connection->paused) return;
  // One turn: a bounded read, a bounded number of frames; what is left waits for the next turn, after
  // every other connection had its own.
  if (connection->Socket().bytesToWrite() > kPauseAbove) {
    connection->paused = true;
    return;
  }
  if (connection->pending.empty() && !ReadChunk(*connection)) return;
  for (int handled = 0; handled < kFramesPerTurn && !connection->pending.empty(); ++handled) {
    const ov::Frame frame = std::move(connection->pending.front());
    connection->pending.pop_front();
    onFrame(*connection, frame);
    if (connection->IsClosed()) return;
    // After a login nothing more is read until its answer: a batch of guesses gets one checked.
    if (connection->state == Connection::State::Refused || connection->state == Connection::State::Checking)
      connection->pending.clear();
  }
  connection->ReportMalformed();
  ScheduleTurn(*connection);
}

bool ConnectionManager::ReadChunk(Connection& connection) {
  const QByteArray data = connection.Socket().read(kReadChunk);
  if (data.isEmpty()) return false;
  if (connection.state == Connection::State::Refused || connection.state == Connection::State::Checking) {
    ScheduleTurn(connection);  // read and dropped: nothing more is heard from it until its answer
    return false;
  }
  RequestReader::Result result =
      connection.reader.Feed(std::string_view(data.constData(), size_t(data.size())));
  if (!connection.heard && (!result.frames.empty() || result.malformed > 0)) {
    connection.heard = true;
    connection.Log(connection.Who() + " from " + connection.Peer());
  }
  if (result.malformed > 0) {
    connection.Malformed(result.problems.front(), result.malformed);
    if (connection.state != Connection::State::LoggedIn) {
      // Nothing the client sends before its login is ever malformed: this peer is not a client.
      connection.ReportMalformed();
      connection.Refuse("Login failed: malformed request", Clock::now(),
                        std::chrono::milliseconds(config_.loginDelayMs));
      return false;
    }
    connection.SendNote("Malformed request ignored");
  }
  for (ov::Frame& frame : result.frames) connection.pending.push_back(std::move(frame));
  return true;
}

void ConnectionManager::ScheduleTurn(Connection& connection) {
  if (connection.turnQueued || connection.IsClosed()) return;
  if (connection.pending.empty() && connection.Socket().bytesAvailable() == 0) return;
  connection.turnQueued = true;
  QTimer::singleShot(0, this, [this, handle = connection.Handle()] {
    if (const auto open = Open(handle)) {
      open->turnQueued = false;
      Read(handle);
    }
  });
}

bool ConnectionManager::WaitsBehind(const Connection& connection) const {
  return std::any_of(connections_.begin(), connections_.find(connection.Number()), [&](const auto& entry) {
    const Connection& c = *entry.second;
    return !c.IsClosed() && c.state == Connection::State::LoggingIn && c.Group() == connection.Group();
  });
}

bool ConnectionManager::MakeRoom(const std::string* group) {
  const auto now = Clock::now();
  for (auto& [number, connection] : connections_) {  // in the order they came: the oldest first
    Connection& old = *connection;
    if (old.IsClosed() || old.state != Connection::State::LoggingIn || (group && old.Group() != *group) ||
        now - old.Since() < std::chrono::seconds(config_.silentTimeoutSeconds))
      continue;
    CloseToMakeRoom(old, "no login in " + std::to_string(config_.silentTimeoutSeconds) + " s",
                    "Login timed out");
    return true;
  }
  return false;
}

bool ConnectionManager::TakeFairShare(const std::string& group) {
  // A login that waits for its check holds its place too, for as long as the guesses at its name before
  // it take (minutes): a crowd of those counts as any other.
  const auto holds = [](const Connection& c) {
    return !c.IsClosed() &&
           (c.state == Connection::State::LoggingIn || c.state == Connection::State::Checking);
  };
  std::map<std::string, size_t> held;
  for (const auto& [number, connection] : connections_)
    if (holds(*connection)) ++held[connection->Group()];
  const auto most = std::max_element(held.begin(), held.end(),
                                     [](const auto& a, const auto& b) { return a.second < b.second; });
  if (most == held.end() || most->second < held[group] + 2) return false;
  const std::string crowded = most->first;
  for (auto it = connections_.rbegin(); it != connections_.rend(); ++it) {  // the newest first
    Connection& c = *it->second;
    if (!holds(c) || c.Group() != crowded) continue;
    CloseToMakeRoom(c, std::to_string(held[crowded]) + " from " + crowded + " are not logged in yet",
                    "Too many connections from your address that have not logged in: try again later");
    return true;
  }
  return false;
}

void ConnectionManager::CloseToMakeRoom(Connection& connection, const std::string& why,
                                        const std::string& note) {
  log_.Line(nullptr, connection.Who() + " from " + connection.Peer() + ": " + why + ", closed to make room");
  connection.Send(ov::msg::MessageBox{note});
  connection.Socket().flush();
  connection.Socket().abort();
  Closed(connection.Handle());
}

}  // namespace ovs
