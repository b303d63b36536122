#include "ovserver/ov_server.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cctype>

#include "ovserver/log.h"
#include "wire/payload.h"

namespace ovs {
namespace {

constexpr char kAdminsCreateAccounts[] = "Only an administrator can create accounts.";

std::string TrimRight(std::string_view text) {
  size_t end = text.size();
  while (end > 0 &&
         (text[end - 1] == ' ' || text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == '\t'))
    --end;
  return std::string(text.substr(0, end));
}

// A field of a registry message: its separator and the frame's end byte cannot appear inside it.
std::string FieldSafe(std::string_view text) {
  std::string safe(text);
  for (char& c : safe)
    if (c == ov::kFieldSeparator || c == ov::kFrameEnd) c = '?';
  return safe;
}

// Arguments for the log, quoted where a blank or quote would make them ambiguous.
std::string Join(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) {
    if (!text.empty()) text += ' ';
    const bool plain = !word.empty() && word.find_first_of(" \t\r\n'\"") == std::string::npos;
    text += plain ? word : "\"" + word + "\"";
  }
  return text;
}

// The fields of a start request, each one kept: "type, 0x80, title, 0x80" with nothing after it is a
// title and an empty command line, not a command line made of the title.
std::vector<std::string> StartFields(std::string_view payload) {
  std::vector<std::string> fields;
  for (;;) {
    const size_t cut = payload.find(ov::kFieldSeparator);
    fields.emplace_back(payload.substr(0, cut));
    if (cut == std::string_view::npos) return fields;
    payload.remove_prefix(cut + 1);
  }
}

std::string Uptime(std::chrono::steady_clock::time_point since) {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - since).count();
  if (seconds < 120) return std::to_string(seconds) + "s";
  if (seconds < 7200) return std::to_string(seconds / 60) + "m";
  return std::to_string(seconds / 3600) + "h";
}

}  // namespace

std::string EncipherForFrame(const ov::MessageCipher& cipher, std::string plain) {
  std::string sealed = cipher.EncryptMsg(plain);
  bool replaced = false;
  for (size_t i = 2; i < sealed.size(); ++i) {
    if (sealed[i] == ov::kFrameEnd || sealed[i] == '\0') {
      plain[i - 2] = '?';
      replaced = true;
    }
  }
  return replaced ? cipher.EncryptMsg(plain) : sealed;
}

OvServer::OvServer(ServerConfig config, AccountStore& accounts)
    : config_(std::move(config)),
      accounts_(accounts),
      guard_(std::chrono::milliseconds(config_.guessDelayMs),
             std::chrono::seconds(config_.guessDelayMaxSeconds)),
      games_(size_t(config_.backlogLines), config_.maxServers, config_.gamePorts) {
  cipher_.BuildMessageKey();
  games_.onStarted = [this](int id) { OnGameStarted(id); };
  games_.onFailed = [this](int id, const std::string& error) { OnGameFailed(id, error); };
  games_.onLine = [this](int id, const std::string& line) { OnGameLine(id, line); };
  games_.onExited = [this](int id, const std::string& how) { OnGameExited(id, how); };
  checks_.setMaxThreadCount(kCheckThreads);
  checks_.setThreadPriority(QThread::LowPriority);  // the event loop comes first
  // What the log's rate bound held back is counted once a second at most.
  auto* held = new QTimer(this);
  connect(held, &QTimer::timeout, this, [this] {
    if (log_.held == 0) return;
    Log(std::to_string(log_.held) + " log line" + (log_.held == 1 ? "" : "s") +
        " caused by clients held back since the last such line (log-lines-per-second " +
        std::to_string(config_.logLinesPerSecond) + ")");
    log_.held = 0;
  });
  held->start(1000);
}

OvServer::~OvServer() {
  checks_.clear();
  checks_.waitForDone();
  games_.onStarted = nullptr;
  games_.onFailed = nullptr;
  games_.onLine = nullptr;
  games_.onExited = nullptr;
  games_.StopAll();
  for (auto& [number, session] : sessions_) {
    session->socket->disconnect(this);
    session->socket->abort();
  }
}

bool OvServer::Listen(const QHostAddress& address, quint16 port, std::string& error) {
  auto* listener = new QTcpServer(this);
  // As many as may be served may also wait to be accepted: a burst of clients is not left to retry.
  listener->setListenBacklogSize(config_.maxConnections);
  if (!listener->listen(address, port != 0 ? port : Port())) {
    error = listener->errorString().toStdString();
    delete listener;
    return false;
  }
  connect(listener, &QTcpServer::newConnection, this, [this, listener] { Accept(listener); });
  listeners_.push_back(listener);
  const std::string host = address.toString().toStdString();
  Log("listening on " + (address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + host + "]" : host) +
      ":" + std::to_string(Port()));
  return true;
}

quint16 OvServer::Port() const { return listeners_.empty() ? 0 : listeners_.front()->serverPort(); }

OvServer::Session* OvServer::Find(int number) {
  auto found = sessions_.find(number);
  return found == sessions_.end() || found->second->closed ? nullptr : found->second.get();
}

std::string OvServer::Who(const Session& session) const {
  std::string who = "connection " + std::to_string(session.number);
  if (!session.user.empty()) who += " (" + session.user + ")";
  return who;
}

// ----- connections

void OvServer::Accept(QTcpServer* listener) {
  while (QTcpSocket* socket = listener->nextPendingConnection()) Serve(socket);
}

void OvServer::Serve(QTcpSocket* socket) {
  const std::string peer =
      socket->peerAddress().toString().toStdString() + ":" + std::to_string(socket->peerPort());
  const std::string group = AddressGroup(socket->peerAddress());
  std::string full;
  std::string why;
  if (int(sessions_.size()) >= config_.maxConnections) {
    why = std::to_string(sessions_.size()) + " are open already";
    full = "Too many connections: try again later";
  } else if (int(LoggingInFrom(group)) >= config_.maxLoginsPerAddress && !MakeRoom(group)) {
    why = std::to_string(config_.maxLoginsPerAddress) + " from " + group + " are not logged in yet";
    full = "Too many connections from your address that have not logged in: try again later";
  }
  if (!full.empty()) {
    // A peer that connects and hangs up in a loop is refused thousands of times a second: the log
    // gets one line a second at most, which counts the others.
    const auto now = Clock::now();
    ++unloggedRefusals_;
    if (lastRefusalLog_ == Clock::time_point() ||
        now - lastRefusalLog_ >= std::chrono::milliseconds(kMalformedLogIntervalMs)) {
      PeerLog(nullptr, "refused a connection from " + peer + ": " + why +
                           (unloggedRefusals_ > 1 ? " (" + std::to_string(unloggedRefusals_ - 1) +
                                                        " more refused since the last line)"
                                                  : ""));
      unloggedRefusals_ = 0;
      lastRefusalLog_ = now;
    }
    const std::string note = ov::MakeFrame(ov::ControlCode(ov::ControlMessage::MessageBox), full);
    socket->write(note.data(), qint64(note.size()));
    socket->disconnectFromHost();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (socket->state() == QAbstractSocket::UnconnectedState) socket->deleteLater();
    return;
  }
  const int number = ++lastSession_;
  auto session = std::make_unique<Session>();
  session->number = number;
  session->socket = socket;
  session->peer = peer;
  session->address = socket->peerAddress().toString().toStdString();
  session->group = group;
  socket->setParent(this);
  // Qt reads no more than this ahead of the turns that handle it: the rest waits in the system.
  socket->setReadBufferSize(4 * kReadChunk);
  connect(socket, &QTcpSocket::readyRead, this, [this, number] { Read(number); });
  connect(socket, &QTcpSocket::disconnected, this, [this, number] { Closed(number); });
  connect(socket, &QTcpSocket::errorOccurred, this, [this, number](QAbstractSocket::SocketError) {
    auto found = sessions_.find(number);
    if (found == sessions_.end()) return;
    if (found->second->socket->state() == QAbstractSocket::UnconnectedState) Closed(number);
  });
  connect(socket, &QTcpSocket::bytesWritten, this, [this, number] {
    Session* open = Find(number);
    if (open && open->paused && open->socket->bytesToWrite() < kPauseAbove - kMaxQueuedAnswers / 2) {
      open->paused = false;
      ScheduleTurn(*open);
    }
    if (open && open->droppedLines > 0 && open->socket->bytesToWrite() < kMaxQueuedOutput / 2) {
      const size_t dropped = open->droppedLines;
      open->droppedLines = 0;
      Say(*open, "[" + std::to_string(dropped) + " console lines dropped: this connection fell behind]");
    }
  });
  Session& added = *session;
  sessions_[number] = std::move(session);
  // Its arrival is logged when it says something: a peer that connects and hangs up in a loop
  // would otherwise write two lines a time, without end.
  SendControl(added, ov::ControlMessage::LoginRequest, config_.caption);
  const auto timeOut = [this, number](int seconds, bool silentOnly) {
    QTimer::singleShot(std::chrono::seconds(seconds), this, [this, number, seconds, silentOnly] {
      Session* open = Find(number);
      if (!open || open->state != State::LoggingIn) return;
      // The client says nothing until its user has answered the login dialog: the connection that has
      // waited longest from its address is such a user's, and keeps the whole time to log in.
      if (silentOnly && !WaitsBehind(*open)) return;
      PeerLog(open, Who(*open) + (open->heard ? "" : " from " + open->peer) +
                        (silentOnly ? ": no login in " : ": no login within ") + std::to_string(seconds) +
                        " s, closed");
      SendControl(*open, ov::ControlMessage::MessageBox, "Login timed out");
      open->state = State::Refused;
      CloseGently(*open);
    });
  };
  timeOut(config_.loginTimeoutSeconds, false);
  // A connection that sends no login holds a place for no one, however many bytes or frames it sends
  // (a client's first frame is its login): it goes sooner.
  if (config_.silentTimeoutSeconds < config_.loginTimeoutSeconds) timeOut(config_.silentTimeoutSeconds, true);
}

void OvServer::Closed(int number) {
  auto found = sessions_.find(number);
  if (found == sessions_.end() || found->second->closed) return;
  Session& session = *found->second;
  session.closed = true;
  ReportMalformed(session, true);
  // Its checks still waiting for their name's turn are dropped, and their places in the queues freed.
  for (auto& [key, turn] : turns_) {
    for (auto it = turn.waiting.begin(); it != turn.waiting.end();) {
      if (it->number != number) {
        ++it;
        continue;
      }
      Release(*it);
      it = turn.waiting.erase(it);
    }
  }
  if (session.heard) {
    PeerLog(&session, Who(session) + " closed" +
                          (session.log.held
                               ? " (" + std::to_string(session.log.held) + " more of its log lines held back)"
                               : ""));
  } else {
    const auto now = Clock::now();
    ++quietCloses_;
    if (now - lastQuietLog_ >= std::chrono::milliseconds(kMalformedLogIntervalMs)) {
      PeerLog(nullptr, std::to_string(quietCloses_) + " connection" + (quietCloses_ == 1 ? "" : "s") +
                           " closed without a whole frame since the last such line, the latest from " +
                           session.peer);
      quietCloses_ = 0;
      lastQuietLog_ = now;
    }
  }
  session.socket->deleteLater();
  // Erased later: the call may come from within this session's own frame handling.
  QTimer::singleShot(0, this, [this, number] { sessions_.erase(number); });
}

void OvServer::Read(int number) {
  Session* session = Find(number);
  if (!session || session->turnQueued || session->paused) return;
  // One turn: a bounded read, a bounded number of frames; what is left waits for the next turn, after
  // every other connection had its own.
  if (session->socket->bytesToWrite() > kPauseAbove) {
    session->paused = true;
    return;
  }
  if (session->pending.empty()) {
    const QByteArray data = session->socket->read(kReadChunk);
    if (data.isEmpty()) return;
    if (session->state == State::Refused || session->state == State::Checking) {
      ScheduleTurn(*session);  // read and dropped: nothing more is heard from it until its answer
      return;
    }
    RequestReader::Result result =
        session->reader.Feed(std::string_view(data.constData(), size_t(data.size())));
    if (!session->heard && (!result.frames.empty() || result.malformed > 0)) {
      session->heard = true;
      PeerLog(session, Who(*session) + " from " + session->peer);
    }
    if (result.malformed > 0) {
      Malformed(*session, result.problems.front(), result.malformed);
      if (session->state != State::LoggedIn) {
        // Nothing the client sends before its login is ever malformed: this peer is not a client.
        ReportMalformed(*session);
        Refuse(*session, "Login failed: malformed request");
        return;
      }
      SendNote(*session, "Malformed request ignored");
    }
    for (ov::Frame& frame : result.frames) session->pending.push_back(std::move(frame));
  }
  for (int handled = 0; handled < kFramesPerTurn && !session->pending.empty(); ++handled) {
    const ov::Frame frame = std::move(session->pending.front());
    session->pending.pop_front();
    HandleFrame(*session, frame);
    session = Find(number);
    if (!session) return;
    // After a login nothing more is read until its answer: a batch of guesses gets one checked.
    if (session->state == State::Refused || session->state == State::Checking) session->pending.clear();
  }
  ReportMalformed(*session);
  ScheduleTurn(*session);
}

void OvServer::ScheduleTurn(Session& session) {
  if (session.turnQueued || session.closed) return;
  if (session.pending.empty() && session.socket->bytesAvailable() == 0) return;
  session.turnQueued = true;
  const int number = session.number;
  QTimer::singleShot(0, this, [this, number] {
    if (Session* open = Find(number)) {
      open->turnQueued = false;
      Read(number);
    }
  });
}

void OvServer::Malformed(Session& session, const std::string& problem, size_t count) {
  if (session.malformed == 0) session.firstProblem = problem;
  session.malformed += count;
}

// At most one line per read, and per connection at most one each kMalformedLogIntervalMs: a peer
// sending nothing but bad frames cannot grow the log faster than that.
void OvServer::ReportMalformed(Session& session, bool closing) {
  const auto now = Clock::now();
  session.unreported += session.malformed;
  session.malformed = 0;
  if (session.unreported == 0) return;
  if (!closing && session.lastReport != Clock::time_point() &&
      now - session.lastReport < std::chrono::milliseconds(kMalformedLogIntervalMs))
    return;
  PeerLog(nullptr, Who(session) + ": " + std::to_string(session.unreported) + " malformed request" +
                       (session.unreported == 1 ? "" : "s") + ", the first: " + session.firstProblem);
  session.unreported = 0;
  session.lastReport = now;
}

size_t OvServer::LoggingInFrom(const std::string& group) const {
  return size_t(std::count_if(sessions_.begin(), sessions_.end(), [&](const auto& entry) {
    return !entry.second->closed && entry.second->state != State::LoggedIn && entry.second->group == group;
  }));
}

bool OvServer::WaitsBehind(const Session& session) const {
  return std::any_of(sessions_.begin(), sessions_.find(session.number), [&](const auto& entry) {
    return !entry.second->closed && entry.second->state == State::LoggingIn &&
           entry.second->group == session.group;
  });
}

bool OvServer::MakeRoom(const std::string& group) {
  const auto now = Clock::now();
  for (auto& [number, other] : sessions_) {  // in the order they came: the oldest first
    Session& old = *other;
    if (old.closed || old.state != State::LoggingIn || old.group != group ||
        now - old.since < std::chrono::seconds(config_.silentTimeoutSeconds))
      continue;
    PeerLog(nullptr, Who(old) + " from " + old.peer + ": no login in " +
                         std::to_string(config_.silentTimeoutSeconds) + " s, closed to make room");
    SendControl(old, ov::ControlMessage::MessageBox, "Login timed out");
    old.socket->flush();
    old.socket->abort();
    Closed(number);
    return true;
  }
  return false;
}

std::string OvServer::GuardKey(const std::string& name) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower;
}

bool OvServer::MayType(const Session& session, int id) const {
  if (accounts_.IsAdmin(session.user)) return true;
  const auto owner = owners_.find(id);
  return owner != owners_.end() && owner->second == session.user;
}

bool OvServer::Spend(LogBudget& budget, double perSecond, double burst) {
  const auto now = Clock::now();
  if (budget.lines < 0) {
    budget.lines = burst;
    budget.last = now;
  }
  budget.lines =
      std::min(burst, budget.lines + perSecond * std::chrono::duration<double>(now - budget.last).count());
  budget.last = now;
  if (budget.lines < 1) return false;
  budget.lines -= 1;
  return true;
}

void OvServer::PeerLog(Session* session, const std::string& line) {
  if (session) {
    const double perMinute = config_.logLinesPerConnection;
    if (!Spend(session->log, perMinute / 60.0, perMinute)) {
      ++session->log.held;
      return;
    }
  }
  const double perSecond = config_.logLinesPerSecond;
  if (!Spend(log_, perSecond, 5 * perSecond)) {
    ++log_.held;
    return;
  }
  if (session && session->log.held > 0 && !session->closed) {
    Log(line + " (" + std::to_string(session->log.held) + " earlier log lines of this connection held back)");
    session->log.held = 0;
    return;
  }
  Log(line);
}

// ----- requests

void OvServer::HandleFrame(Session& session, const ov::Frame& frame) {
  const ov::CodeClass code = ov::ClassifyCode(frame.code);
  if (session.state != State::LoggedIn) {
    if (code.kind == ov::CodeKind::Control && code.number == ov::Number(ov::ControlMessage::Login)) {
      HandleLogin(session, frame.payload);
      return;
    }
    if (code.kind == ov::CodeKind::Unknown) {
      Malformed(session, "unknown code \"" + Printable(frame.code) + "\" before login");
      Refuse(session, "Login failed: malformed request");
      return;
    }
    PeerLog(&session, Who(session) + ": code \"" + Printable(frame.code) + "\" before login ignored");
    SendNote(session, "Log in first");
    if (++session.framesBeforeLogin > kMaxFramesBeforeLogin)
      Refuse(session, "Too many requests before login");
    return;
  }
  switch (code.kind) {
    case ov::CodeKind::Control:
      HandleControl(session, code.number, frame.payload);
      return;
    case ov::CodeKind::Console:
      HandleConsole(session, code.number, frame.payload);
      return;
    case ov::CodeKind::Unknown:
      Malformed(session, "unknown code \"" + Printable(frame.code) + "\" ignored");
      SendNote(session, "Unknown request code " + Printable(frame.code));
      return;
  }
}

void OvServer::HandleControl(Session& session, int n, const std::string& payload) {
  switch (static_cast<ov::ControlMessage>(n)) {
    case ov::ControlMessage::Answer:  // answers to our own messages: nothing to do
    case ov::ControlMessage::OvConsoleOpened:
    case ov::ControlMessage::OvInfoRecorded:
      return;
    case ov::ControlMessage::NewServerAccepted: {
      const int id = ov::ParseInt(payload, -1);
      if (session.awaiting.erase(id) == 0) {
        Malformed(session, "unexpected " + std::to_string(n) + " for \"" + Printable(payload) + "\" ignored");
        return;
      }
      SendServerInfo(session, id);
      return;
    }
    case ov::ControlMessage::StartServer:
      HandleStart(session, payload);
      return;
    case ov::ControlMessage::ConsoleClosed:
    case ov::ControlMessage::ConsoleOpened:
      HandleWatch(session, static_cast<ov::ControlMessage>(n), payload);
      return;
    case ov::ControlMessage::Login:
      SendNote(session, "Already logged in");
      return;
    case ov::ControlMessage::NewUser:
      HandleNewUser(session, payload);
      return;
    case ov::ControlMessage::ChangePassword:
      HandleChangePassword(session, payload);
      return;
    default:
      Malformed(session, "unexpected control message " + std::to_string(n) + " ignored");
      SendNote(session, "Unexpected control message " + std::to_string(n) + " ignored");
  }
}

void OvServer::HandleLogin(Session& session, const std::string& payload) {
  const auto since = Clock::now();
  const std::string plain = cipher_.DecryptMsg(payload);
  if (plain.size() != 24) {
    PeerLog(&session,
            Who(session) + ": malformed login (" + std::to_string(plain.size()) + " bytes instead of 24)");
    Refuse(session, "Login failed: malformed login", since);
    return;
  }
  const std::string name = TrimRight(plain.substr(0, 8));
  // Accounts added meanwhile with --add-user or by hand can log in without a restart.
  std::string stale;
  if (!accounts_.Refresh(stale)) Log("accounts file not read again: " + stale);
  int& fromHere = waitingChecksFrom_[session.group];
  if (checksOnWorkers_ >= config_.maxWaitingChecks || fromHere >= config_.maxWaitingChecksPerAddress) {
    PeerLog(&session, Who(session) + ": login as \"" + Printable(name) +
                          "\" refused: " + std::to_string(checksOnWorkers_) + " password checks run, " +
                          std::to_string(fromHere) + " wait from " + session.group);
    if (fromHere == 0) waitingChecksFrom_.erase(session.group);
    Refuse(session, "The server is busy with other logins: try again later", since);
    return;
  }
  ++fromHere;
  session.state = State::Checking;
  Check check;
  check.number = session.number;
  check.group = session.group;
  check.name = name;
  check.password = plain.substr(8, 16);
  check.since = since;
  Queue(std::move(check));
}

void OvServer::Queue(Check check) {
  const std::string key = GuardKey(check.name);
  const auto wait = guard_.NextCheck(key) - Clock::now();
  // Whoever waits for a name's turn hears why: its recent failed checks, not this connection's fault.
  if (wait >= std::chrono::milliseconds(500))
    if (Session* session = Find(check.number))
      SendNote(*session, "Recent failed logins for " + Blanked(check.name) + ": checked in " +
                             std::to_string(std::chrono::ceil<std::chrono::seconds>(wait).count()) + " s");
  Turn& turn = turns_[key];
  // A group with nothing waiting joins the rotation behind every group that has.
  const bool joins = std::none_of(turn.waiting.begin(), turn.waiting.end(),
                                  [&](const Check& queued) { return queued.group == check.group; });
  if (joins) turn.servedAt[check.group] = ++turn.rounds;
  turn.waiting.push_back(std::move(check));
  NextTurn(key);
}

void OvServer::Release(const Check& check) {
  if (--waitingChecksFrom_[check.group] <= 0) waitingChecksFrom_.erase(check.group);
}

void OvServer::NextTurn(const std::string& key) {
  const auto found = turns_.find(key);
  if (found == turns_.end()) return;
  Turn& turn = found->second;
  if (turn.busy || turn.timer) return;
  // Nobody waits for the answer of a connection that has gone: it is not checked.
  for (auto it = turn.waiting.begin(); it != turn.waiting.end();) {
    if (Find(it->number)) {
      ++it;
      continue;
    }
    Release(*it);
    it = turn.waiting.erase(it);
  }
  if (turn.waiting.empty()) {
    turns_.erase(found);
    return;
  }
  const auto now = Clock::now();
  const auto due = guard_.NextCheck(key);
  if (due > now) {
    turn.timer = true;
    QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(due - now), Qt::PreciseTimer, this,
                       [this, key] {
                         const auto again = turns_.find(key);
                         if (again == turns_.end()) return;
                         again->second.timer = false;
                         NextTurn(key);
                       });
    return;
  }
  turn.busy = true;
  ++checksOnWorkers_;
  // The oldest check of the group whose turn came longest ago.
  auto next = turn.waiting.begin();
  for (auto it = turn.waiting.begin(); it != turn.waiting.end(); ++it)
    if (turn.servedAt[it->group] < turn.servedAt[next->group]) next = it;
  Check check = std::move(*next);
  turn.waiting.erase(next);
  turn.servedAt[check.group] = ++turn.rounds;
  // Groups with nothing left waiting leave the rotation (and join it again at its end).
  for (auto it = turn.servedAt.begin(); it != turn.servedAt.end();) {
    const std::string& group = it->first;
    const bool waits = std::any_of(turn.waiting.begin(), turn.waiting.end(),
                                   [&](const Check& queued) { return queued.group == group; });
    it = waits ? std::next(it) : turn.servedAt.erase(it);
  }
  // The check runs on a worker; its answer comes back to this thread, to a session that may be gone. A
  // change hashes its new password there too, for an unknown name as well: every name costs the same.
  const PasswordCheck verified = accounts_.CheckFor(check.name);
  const AccountStore* accounts = &accounts_;
  checks_.start([this, check = std::move(check), verified, accounts] {
    const bool ok = verified.Run(check.password);
    AccountStore::Entry entry;
    if (check.change) entry = accounts->NewEntry(check.newPassword, false);
    QMetaObject::invokeMethod(
        this, [this, check, ok, entry, verified] { Finished(check, ok, entry, verified); },
        Qt::QueuedConnection);
  });
}

void OvServer::Finished(const Check& check, bool ok, const AccountStore::Entry& entry,
                        const PasswordCheck& verified) {
  --checksOnWorkers_;
  Release(check);
  const std::string key = GuardKey(check.name);
  std::chrono::milliseconds wait{0};
  if (ok)
    guard_.Succeeded(key);
  else
    wait = guard_.Failed(key, Clock::now());
  if (auto found = turns_.find(key); found != turns_.end()) found->second.busy = false;
  if (check.change)
    ChangeChecked(check, ok, entry, verified);
  else
    Checked(check, ok, wait);
  NextTurn(key);
}

void OvServer::Checked(const Check& check, bool ok, std::chrono::milliseconds wait) {
  Session* session = Find(check.number);
  if (!session || session->state != State::Checking) return;
  if (!ok) {
    PeerLog(session, Who(*session) + ": failed login as \"" + Printable(check.name) + "\" from " +
                         session->address + ", its next check waits " + std::to_string(wait.count()) + " ms");
    Refuse(*session, "Login failed: wrong login name or password", check.since);
    return;
  }
  // One user's connections cannot take every place of the server.
  if (!accounts_.IsAdmin(check.name)) {
    const auto already = std::count_if(sessions_.begin(), sessions_.end(), [&](const auto& entry) {
      return !entry.second->closed && entry.second->state == State::LoggedIn &&
             entry.second->user == check.name;
    });
    if (already >= config_.maxConnectionsPerUser) {
      PeerLog(session, Who(*session) + ": login as " + check.name + " refused: logged in " +
                           std::to_string(already) + " times already");
      Refuse(*session,
             "Login refused: " + check.name + " is logged in " + std::to_string(already) +
                 " times already, as often as one user may here",
             check.since);
      return;
    }
  }
  session->state = State::LoggedIn;
  session->user = check.name;
  PeerLog(session, Who(*session) + " logged in");
  Welcome(*session);
}

void OvServer::Refuse(Session& session, const std::string& reason, Clock::time_point since) {
  session.state = State::Refused;
  const int number = session.number;
  // Every refusal leaves the same time after its request, so that guessing costs the guesser time and
  // the moment of the answer tells nothing about why.
  const auto due = since + std::chrono::milliseconds(config_.loginDelayMs);
  const auto wait = std::max(std::chrono::milliseconds(0),
                             std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()));
  QTimer::singleShot(wait, Qt::PreciseTimer, this, [this, number, reason] {
    auto found = sessions_.find(number);
    if (found == sessions_.end() || found->second->closed) return;
    // A message box: a status note would be replaced at once by the client's note of the close.
    SendControl(*found->second, ov::ControlMessage::MessageBox, ConsoleSafe(reason));
    CloseGently(*found->second);
  });
}

void OvServer::CloseGently(Session& session) {
  session.socket->disconnectFromHost();
  // A peer that does not read its last messages does not keep the connection open.
  const int number = session.number;
  QTimer::singleShot(kCloseWaitMs, this, [this, number] {
    if (Session* open = Find(number)) open->socket->abort();
  });
}

void OvServer::Welcome(Session& session) {
  SendControl(session, ov::ControlMessage::OvInfo,
              FieldSafe(config_.info) + ov::kFieldSeparator + FieldSafe(config_.name));
  std::string types;
  for (size_t i = 0; i < config_.types.size(); ++i)
    types += (i ? std::string(1, ov::kFieldSeparator) : "") + FieldSafe(config_.types[i].name);
  SendControl(session, ov::ControlMessage::ServerTypes, types);
  Say(session, "Logged in to " + config_.name + " as " + session.user + ". Type help for the commands.");
  for (const GameServers::Server* server : games_.List())
    if (server->running) Announce(session, server->id);
}

void OvServer::Announce(Session& session, int id) {
  session.known.insert(id);
  session.awaiting.insert(id);
  SendControl(session, ov::ControlMessage::NewServer, std::to_string(id));
}

void OvServer::SendServerInfo(Session& session, int id) {
  const GameServers::Server* server = games_.Find(id);
  if (!server) return;
  const char sep = ov::kFieldSeparator;
  SendControl(session, ov::ControlMessage::ServerInfo,
              std::to_string(id) + sep + FieldSafe(server->type) + sep + FieldSafe(server->title) + sep +
                  FieldSafe(server->commandLine) + sep + "1" + sep + "1" + sep +
                  (server->gamePort > 0 ? std::to_string(server->gamePort) : ""));
}

void OvServer::RefuseStart(Session& session, const std::string& why) {
  // The status line shows it for a few seconds only: the OV server's console keeps it.
  PeerLog(&session, Who(session) + ": " + Printable(why, 200));
  SendNote(session, Blanked(why));
  Say(session, Blanked(why));
}

void OvServer::HandleStart(Session& session, const std::string& payload) {
  // type, then the title only when one was given, then the command line (empty, never absent)
  const std::vector<std::string> fields = StartFields(payload);
  if (fields.size() > 3) {
    RefuseStart(session, "Start refused: malformed request (" + std::to_string(fields.size()) + " fields)");
    return;
  }
  const std::string& typeName = fields[0];
  const std::string title = Blanked(fields.size() == 3 ? fields[1] : "");
  const std::string commandLine = fields.size() >= 2 ? fields.back() : "";
  const ServerType* type = config_.FindType(typeName);
  if (!type) {
    RefuseStart(session, "Unknown server type \"" + Blanked(typeName) + "\"");
    return;
  }
  if (!accounts_.IsAdmin(session.user)) {
    const auto mine = std::count_if(owners_.begin(), owners_.end(),
                                    [&](const auto& owner) { return owner.second == session.user; });
    if (mine >= config_.maxServersPerUser) {
      RefuseStart(session, "Start refused: you run " + std::to_string(mine) +
                               " game servers already, as many as one user may here; stop one first");
      return;
    }
  }
  std::vector<std::string> args;
  std::string error;
  if (!SplitCommandLine(commandLine, args, error)) {
    RefuseStart(session, "Start refused: " + error + " in the command line");
    return;
  }
  const int id = games_.Start(*type, title, commandLine, args, error);
  if (id < 0) {
    RefuseStart(session, "Start refused: " + error);
    return;
  }
  const GameServers::Server* server = games_.Find(id);
  startedBy_[id] = session.number;
  owners_[id] = session.user;
  PeerLog(&session, Who(session) + " starts server " + std::to_string(id) + " (" + type->name +
                        "): " + server->program + " " + Printable(Join(server->arguments), 200));
  Say(session, "Starting server " + std::to_string(id) + " (" + type->name + ")");
}

void OvServer::HandleWatch(Session& session, ov::ControlMessage message, const std::string& payload) {
  const int id = ov::ParseInt(payload, -1);
  if (!session.known.count(id)) {
    Malformed(session, std::to_string(ov::Number(message)) + " for unknown server \"" + Printable(payload) +
                           "\" ignored");
    return;
  }
  if (message == ov::ControlMessage::ConsoleClosed) {
    session.watching.erase(id);
    return;
  }
  if (!session.watching.insert(id).second) return;
  // The window is new: show it what the server said before it opened.
  if (const GameServers::Server* server = games_.Find(id))
    for (const std::string& line : server->backlog) SendConsoleLine(session, id, line);
}

void OvServer::HandleNewUser(Session& session, const std::string& payload) {
  if (!session.newUserAsked) {
    PeerLog(&session, Who(session) + ": new user without a prompt refused");
    SendNote(session, "New user refused: type newuser in the OV server's console first");
    return;
  }
  session.newUserAsked = false;
  if (!accounts_.IsAdmin(session.user)) {
    PeerLog(&session, Who(session) + ": new user refused: not an administrator");
    SendNote(session, kAdminsCreateAccounts);
    return;
  }
  const std::string plain = cipher_.DecryptMsg(payload);
  const auto refuse = [&](AccountStore::Outcome outcome, const std::string& name, const std::string& error) {
    PeerLog(&session, Who(session) + ": new user \"" + Printable(name) +
                          "\" refused: " + OutcomeText(outcome) + (error.empty() ? "" : " (" + error + ")"));
    SendNote(session, std::string("New user refused: ") + OutcomeText(outcome));
  };
  if (plain.size() != 24) {
    PeerLog(&session, Who(session) + ": malformed new user (" + std::to_string(plain.size()) + " bytes)");
    SendNote(session, "New user refused: malformed request");
    return;
  }
  const std::string name = TrimRight(plain.substr(0, 8));
  const std::string password = plain.substr(8, 16);
  if (!AccountStore::ValidName(name)) return refuse(AccountStore::Outcome::BadName, name, "");
  if (ov::PadTo16(password) == std::string(16, ' '))
    return refuse(AccountStore::Outcome::EmptyPassword, name, "");
  if (checksOnWorkers_ >= config_.maxWaitingChecks) {
    SendNote(session, "New user refused: the server is busy with other logins: try again later");
    return;
  }
  // The hash is made on a worker, as logins are checked there.
  ++checksOnWorkers_;
  const int number = session.number;
  const AccountStore* accounts = &accounts_;
  checks_.start([this, number, name, password, accounts] {
    const AccountStore::Entry entry = accounts->NewEntry(password, false);
    QMetaObject::invokeMethod(
        this,
        [this, number, name, entry] {
          --checksOnWorkers_;
          WriteAccounts(
              [this, name, entry](std::string& error) {
                return accounts_.AddEntry(name, entry, error, AccountStore::Lock::Try);
              },
              [this, number, name](AccountStore::Outcome outcome, const std::string& error) {
                Session* session = Find(number);
                if (outcome != AccountStore::Outcome::Done) {
                  if (session) {
                    PeerLog(session, Who(*session) + ": new user \"" + Printable(name) + "\" refused: " +
                                         OutcomeText(outcome) + (error.empty() ? "" : " (" + error + ")"));
                    SendNote(*session, std::string("New user refused: ") + OutcomeText(outcome));
                  }
                  return;
                }
                PeerLog(session, (session ? Who(*session) : "a closed connection") + " created user " + name);
                if (!session) return;
                SendNote(*session, "User " + name + " created");
                Say(*session, "User " + name + " created.");
              },
              Clock::now() + std::chrono::milliseconds(config_.accountsLockWaitMs));
        },
        Qt::QueuedConnection);
  });
}

void OvServer::WriteAccounts(std::function<AccountStore::Outcome(std::string&)> attempt,
                             std::function<void(AccountStore::Outcome, const std::string&)> done,
                             Clock::time_point deadline) {
  std::string error;
  const AccountStore::Outcome outcome = attempt(error);
  if (outcome == AccountStore::Outcome::Busy && Clock::now() < deadline) {
    QTimer::singleShot(20, this, [this, attempt = std::move(attempt), done = std::move(done), deadline] {
      WriteAccounts(attempt, done, deadline);
    });
    return;
  }
  done(outcome == AccountStore::Outcome::Busy ? AccountStore::Outcome::SaveFailed : outcome, error);
}

void OvServer::HandleChangePassword(Session& session, const std::string& payload) {
  const auto since = Clock::now();
  if (!session.chpwdAsked) {
    PeerLog(&session, Who(session) + ": password change without a prompt refused");
    SendNote(session, "Password change refused: type chpwd in the OV server's console first");
    return;
  }
  session.chpwdAsked = false;
  const std::string plain = cipher_.DecryptMsg(payload);
  if (plain.size() != 40) {
    PeerLog(&session,
            Who(session) + ": malformed password change (" + std::to_string(plain.size()) + " bytes)");
    SendNote(session, "Password change refused: malformed request");
    return;
  }
  int& fromHere = waitingChecksFrom_[session.group];
  if (checksOnWorkers_ >= config_.maxWaitingChecks || fromHere >= config_.maxWaitingChecksPerAddress) {
    if (fromHere == 0) waitingChecksFrom_.erase(session.group);
    SendNote(session, "Password change refused: the server is busy with other logins: try again later");
    return;
  }
  ++fromHere;
  // The old password is a guess at the name's like any login: it waits for the name's turn.
  Check check;
  check.change = true;
  check.number = session.number;
  check.group = session.group;
  check.name = TrimRight(plain.substr(0, 8));
  check.password = plain.substr(8, 16);
  check.newPassword = plain.substr(24, 16);
  check.since = since;
  Queue(std::move(check));
}

void OvServer::ChangeChecked(const Check& check, bool ok, const AccountStore::Entry& entry,
                             const PasswordCheck& verified) {
  if (!ok) return AnswerChange(check, AccountStore::Outcome::WrongLogin, "");
  // Checked first all the same, so that the answer does not tell a wrong password from an empty one.
  if (ov::PadTo16(check.newPassword) == std::string(16, ' '))
    return AnswerChange(check, AccountStore::Outcome::EmptyPassword, "");
  WriteAccounts(
      [this, check, verified, entry](std::string& error) {
        return accounts_.Replace(check.name, verified, entry, error, AccountStore::Lock::Try);
      },
      [this, check](AccountStore::Outcome outcome, const std::string& error) {
        AnswerChange(check, outcome, error);
      },
      Clock::now() + std::chrono::milliseconds(config_.accountsLockWaitMs));
}

void OvServer::AnswerChange(const Check& check, AccountStore::Outcome outcome, const std::string& error) {
  // Every answer leaves the login delay after the request (later only when the work took longer), so
  // that its moment tells nothing about which names exist.
  const auto due = check.since + std::chrono::milliseconds(config_.loginDelayMs);
  const auto wait = std::max(std::chrono::milliseconds(0),
                             std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()));
  QTimer::singleShot(wait, Qt::PreciseTimer, this, [this, check, outcome, error] {
    Session* session = Find(check.number);
    if (!session) return;
    if (outcome != AccountStore::Outcome::Done) {
      PeerLog(session, Who(*session) + ": password change for \"" + Printable(check.name) +
                           "\" refused: " + OutcomeText(outcome) + (error.empty() ? "" : " (" + error + ")"));
      SendNote(*session, std::string("Password change refused: ") + OutcomeText(outcome));
      return;
    }
    PeerLog(session, Who(*session) + " changed the password of " + check.name);
    SendNote(*session, "Password changed for " + check.name);
    Say(*session, "Password changed for " + check.name + ".");
  });
}

void OvServer::HandleConsole(Session& session, int id, const std::string& text) {
  if (id == 0) {
    RunCommand(session, text);
    return;
  }
  if (!session.known.count(id)) {
    SendNote(session, "No server with id " + std::to_string(id) + " here");
    return;
  }
  // A game server's console is full control of it: only who started it, and administrators, type there.
  if (!MayType(session, id)) {
    const auto owner = owners_.find(id);
    PeerLog(&session, Who(session) + ": input for server " + std::to_string(id) + " refused: started by " +
                          (owner == owners_.end() ? "nobody here" : owner->second));
    SendNote(session, "Only the user who started server " + std::to_string(id) +
                          " or an administrator can type into its console");
    return;
  }
  PeerLog(&session,
          Who(session) + " to server " + std::to_string(id) + ": " + Printable(TrimRight(text), 200));
  std::string error;
  if (!games_.Input(id, text, error)) {
    PeerLog(&session, Who(session) + ": input for server " + std::to_string(id) + " dropped: " + error);
    SendNote(session, "Input dropped: " + error);
  }
}

void OvServer::RunCommand(Session& session, const std::string& line) {
  std::vector<std::string> words;
  std::string error;
  if (!SplitCommandLine(line, words, error)) words = {"", error};
  if (words.empty()) return;
  Say(session, "> " + Blanked(TrimRight(line)));
  std::string command = words[0];
  std::transform(command.begin(), command.end(), command.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  if (command == "help") {
    Say(session, "Commands of this OV server:");
    Say(session, "  help      this list");
    Say(session, "  list      the game servers running here");
    Say(session, "  who       who is connected");
    Say(session, "  newuser   create an account (the client asks for its name and password; administrators)");
    Say(session, "  chpwd     change a password (the client asks for the old and the new one)");
    Say(session, "  kill ID   stop game server ID (another user's: administrators only)");
  } else if (command == "list") {
    const auto servers = games_.List();
    if (servers.empty()) Say(session, "No game servers are running.");
    for (const GameServers::Server* server : servers) {
      Say(session,
          "  " + std::to_string(server->id) + "  " + server->type + "  \"" + server->title + "\"  " +
              (server->running ? "pid " + std::to_string(server->pid) + ", up " + Uptime(server->startedAt)
                               : "starting") +
              "  " + Blanked(server->commandLine));
    }
  } else if (command == "who") {
    const size_t open = size_t(std::count_if(sessions_.begin(), sessions_.end(),
                                             [](const auto& entry) { return !entry.second->closed; }));
    Say(session, std::to_string(open) + " connected:");
    for (const auto& [number, other] : sessions_) {
      if (other->closed) continue;
      std::string watching;
      for (int id : other->watching) watching += " " + std::to_string(id);
      Say(session, "  #" + std::to_string(number) + " " +
                       (other->state == State::LoggedIn ? other->user : "(not logged in)") + " from " +
                       other->peer + (watching.empty() ? "" : ", watching" + watching) +
                       (number == session.number ? " (you)" : ""));
    }
  } else if (command == "newuser") {
    if (!accounts_.IsAdmin(session.user)) {
      PeerLog(&session, Who(session) + ": newuser refused: not an administrator");
      Say(session, kAdminsCreateAccounts);
      return;
    }
    session.newUserAsked = true;
    SendControl(session, ov::ControlMessage::PromptRequest, "newuser");
  } else if (command == "chpwd") {
    session.chpwdAsked = true;
    SendControl(session, ov::ControlMessage::PromptRequest, "chpwd");
  } else if (command == "kill" && words.size() == 2) {
    const int id = ov::ParseInt(words[1], -1);
    const auto owner = owners_.find(id);
    if (games_.Find(id) && owner != owners_.end() && owner->second != session.user &&
        !accounts_.IsAdmin(session.user)) {
      PeerLog(&session,
              Who(session) + ": kill " + std::to_string(id) + " refused: started by " + owner->second);
      Say(session, "Server " + std::to_string(id) + " was started by " + owner->second +
                       ": only an administrator can stop another user's game server.");
    } else if (games_.Stop(id)) {
      PeerLog(&session, Who(session) + " stops server " + std::to_string(id));
      Say(session, "Stopping server " + std::to_string(id) + ".");
    } else {
      Say(session, "No server with id " + words[1] + ".");
    }
  } else {
    Say(session, "Unknown command \"" + Blanked(words[0]) + "\": type help for the list.");
  }
}

// ----- game servers

void OvServer::OnGameStarted(int id) {
  const GameServers::Server* server = games_.Find(id);
  if (!server) return;
  PeerLog(nullptr, "server " + std::to_string(id) + " (" + server->type + ") started, pid " +
                       std::to_string(server->pid));
  startedBy_.erase(id);
  for (auto& [number, session] : sessions_) {
    if (session->closed || session->state != State::LoggedIn) continue;
    Announce(*session, id);
  }
  SayToAll("Server " + std::to_string(id) + " (" + server->type + ") started: " + server->title);
}

void OvServer::OnGameFailed(int id, const std::string& error) {
  PeerLog(nullptr, "server " + std::to_string(id) + " could not start: " + error);
  auto asker = startedBy_.find(id);
  if (asker == startedBy_.end()) return;
  if (Session* session = Find(asker->second)) {
    SendNote(*session, "Could not start the server: " + error);
    Say(*session, Blanked("Could not start server " + std::to_string(id) + ": " + error));
  }
  startedBy_.erase(asker);
  owners_.erase(id);
}

void OvServer::OnGameLine(int id, const std::string& line) {
  for (auto& [number, session] : sessions_)
    if (!session->closed && session->watching.count(id)) SendConsoleLine(*session, id, line);
}

void OvServer::OnGameExited(int id, const std::string& how) {
  PeerLog(nullptr, "server " + std::to_string(id) + " ended: " + how);
  startedBy_.erase(id);
  owners_.erase(id);
  for (auto& [number, session] : sessions_) {
    if (session->closed || !session->known.erase(id)) continue;
    session->awaiting.erase(id);
    session->watching.erase(id);
    SendControl(*session, ov::ControlMessage::ServerRemoved, std::to_string(id));
  }
  SayToAll("Server " + std::to_string(id) + " ended: " + how);
}

// ----- sending

void OvServer::SendFrame(Session& session, int code, std::string_view payload) {
  if (session.closed) return;
  if (session.socket->bytesToWrite() > kMaxUnreadOutput) {
    PeerLog(&session, Who(session) + ": closed, " + std::to_string(session.socket->bytesToWrite()) +
                          " bytes sent to it are still unread");
    session.socket->abort();
    return;
  }
  const std::string frame = ov::MakeFrame(code, payload);
  session.socket->write(frame.data(), qint64(frame.size()));
}

void OvServer::SendControl(Session& session, ov::ControlMessage message, std::string_view payload) {
  if (ov::IsAccountMessage(ov::Number(message)))
    SendFrame(session, ov::ControlCode(message), EncipherForFrame(cipher_, std::string(payload)));
  else
    SendFrame(session, ov::ControlCode(message), payload);
}

void OvServer::SendNote(Session& session, const std::string& text) {
  SendControl(session, ov::ControlMessage::StatusNote, ConsoleSafe(text));
}

void OvServer::SendConsoleLine(Session& session, int id, const std::string& line) {
  // A client that does not keep up loses console text, never control messages.
  if (session.socket->bytesToWrite() > kMaxQueuedOutput) {
    ++session.droppedLines;
    return;
  }
  SendFrame(session, id, ConsoleSafe(line) + "\r\n");
}

void OvServer::SayToAll(const std::string& line) {
  for (auto& [number, session] : sessions_)
    if (!session->closed && session->state == State::LoggedIn) Say(*session, line);
}

}  // namespace ovs
