#include "ovserver/game_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "wire/codes.h"

namespace ovs {
namespace {

constexpr int kKillAfterMs = 5000;
constexpr int kShutdownGraceMs = 2000;

// Each game server leads a process group of its own, so that a signal reaches whatever it started too
// (a wrapper script's real server among them).
void SignalGroup(qint64 pid, int signal) {
  if (pid > 0) ::kill(-pid_t(pid), signal);
}

// A command line as the bytes it is. QProcess passes arguments as text, which it encodes as UTF-8: the
// byte E9 would arrive as C3 A9. So the child runs execv with these itself; they are laid out before
// the fork, since the child may only call what is safe there.
struct ExecArguments {
  ExecArguments(const std::string& program, const std::vector<std::string>& arguments) : words(arguments) {
    words.insert(words.begin(), program);
    for (std::string& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
  }
  std::vector<std::string> words;
  std::vector<char*> pointers;
};

// What QProcess would run were the child's own execv to fail: the same file, with arguments at least as
// long (each byte one or two), so that it fails for the same reason and QProcess reports it as usual.
QStringList ToArguments(const std::vector<std::string>& words) {
  QStringList list;
  for (const std::string& word : words) list << QString::fromLatin1(word.data(), qsizetype(word.size()));
  return list;
}

// Whether another program holds the UDP port (a game server started by hand, another OV server's).
bool UdpPortFree(int port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return true;  // cannot tell: the game server will say
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_ANY);
  at.sin_port = htons(uint16_t(port));
  const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
  ::close(fd);
  return free;
}

}  // namespace

std::string ConsoleSafe(std::string_view text) {
  std::string safe(text);
  for (char& c : safe)
    if (c == '\xFD' || c == '\xFE') c = static_cast<char>(static_cast<unsigned char>(c) & 0x7F);
  return safe;
}

GameServers::~GameServers() { StopAll(); }

int NextServerId(int last, const std::function<bool(int)>& taken) {
  // Ids are handed out in turn rather than the lowest free one, so a late message about an ended
  // server does not reach its successor.
  int id = last;
  for (int tries = 0; tries < 10000; ++tries) {
    id = id >= 9999 || id < 0 ? 1 : id + 1;
    if (ov::IsGameServerId(id) && !taken(id)) return id;
  }
  return -1;
}

std::string EndedHow(bool stopAsked, bool crashed, int codeOrSignal) {
  if (stopAsked) return "stopped";
  if (crashed)
    return "crashed: signal " + std::to_string(codeOrSignal) + " (" + std::string(::strsignal(codeOrSignal)) +
           ")";
  return codeOrSignal == 0 ? "exit code 0" : "crashed: exit code " + std::to_string(codeOrSignal);
}

bool IsCrash(bool signalled, int codeOrSignal) {
  if (!signalled) return codeOrSignal != 0;
  return codeOrSignal != SIGTERM && codeOrSignal != SIGINT && codeOrSignal != SIGHUP;
}

int RestartDelaySeconds(int attempt) {
  constexpr int kDelays[] = {1, 5, 25, 60};
  return kDelays[std::clamp(attempt, 1, int(std::size(kDelays))) - 1];
}

std::string CrashNotice(int id, const CrashReport& report) {
  const std::string head = "Server " + std::to_string(id) + " crashed (" + report.cause + "): ";
  if (report.attempt == 0)
    return head + "not restarted, " + std::to_string(report.policy.maxRestarts) + " restarts in " +
           std::to_string(report.policy.windowSeconds) + " s already";
  return head + "restarting in " + std::to_string(report.delaySeconds) + " s, " +
         std::to_string(report.attempt) + " of " + std::to_string(report.policy.maxRestarts);
}

int GameServers::NextPort() {
  // In turn, as ids are, so that a port just given up is not handed out again at once.
  const int count = ports_.last - ports_.first + 1;
  int port = lastPort_;
  for (int tries = 0; tries < count; ++tries) {
    port = port < ports_.first || port >= ports_.last ? ports_.first : port + 1;
    const bool ours = std::any_of(servers_.begin(), servers_.end(),
                                  [port](const auto& entry) { return entry.second->gamePort == port; });
    if (!ours && UdpPortFree(port)) return port;
  }
  return 0;
}

int GameServers::NextId() {
  const int id = NextServerId(lastId_, [this](int candidate) { return servers_.count(candidate) != 0; });
  if (id > 0) lastId_ = id;
  return id;
}

int GameServers::Start(const ServerType& type, const std::string& title, const std::string& commandLine,
                       const std::vector<std::string>& args, std::string& error) {
  if (int(servers_.size()) >= maxServers_) {
    error = std::to_string(servers_.size()) + " servers are running already";
    return -1;
  }
  int port = 0;
  if (UsesGamePort(type) && (port = NextPort()) == 0) {
    error = "no free game port (" + std::to_string(ports_.first) + "-" + std::to_string(ports_.last) +
            " are all taken)";
    return -1;
  }
  std::vector<std::string> arguments;
  if (!ComposeArguments(type, args, port, arguments, error)) return -1;
  if (port != 0) lastPort_ = port;
  const int id = NextId();
  if (id < 0) {
    error = "no free server id";
    return -1;
  }
  auto server = std::make_unique<Server>();
  server->id = id;
  server->type = type.name;
  server->title = title.empty() ? type.name + " " + std::to_string(id) : title;
  server->commandLine = commandLine;
  server->program = type.executable;
  server->arguments = arguments;
  server->gamePort = port;
  server->restart = type.restart;
  Server& entry = *server;
  servers_[id] = std::move(server);
  Spawn(entry);
  return id;
}

void GameServers::Spawn(Server& server) {
  const int id = server.id;
  auto* process = new QProcess(this);
  server.process = process;
  process->setProcessChannelMode(QProcess::MergedChannels);
  process->setProgram(QString::fromStdString(server.program));
  process->setArguments(ToArguments(server.arguments));
  // The game server ends with the OV server, however that ends: nobody else would ever stop it. Should
  // the OV server have died before the signal was asked for, the parent is another already.
  const pid_t parent = ::getpid();
  auto exec = std::make_shared<const ExecArguments>(server.program, server.arguments);
  process->setChildProcessModifier([parent, exec] {
    ::setsid();
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);
    ::execv(exec->pointers[0], exec->pointers.data());
  });
  // Each report finds the entry through its id and is dropped when the entry runs another process now
  // (one started again after a crash). Queued, so that nothing is reported from within Start.
  const auto current = [this, id, process]() -> Server* {
    auto found = servers_.find(id);
    return found != servers_.end() && found->second->process == process ? found->second.get() : nullptr;
  };
  connect(
      process, &QProcess::started, this,
      [this, id, current] {
        Server* entry = current();
        if (!entry) return;
        entry->running = true;
        entry->pid = entry->process->processId();
        entry->startedAt = std::chrono::steady_clock::now();
        const bool again = std::exchange(entry->restarting, false);
        if (again && onRestarted) onRestarted(id);
        if (!again && onStarted) onStarted(id);
      },
      Qt::QueuedConnection);
  connect(process, &QProcess::readyReadStandardOutput, this, [this, id] { ReadOutput(id); });
  connect(
      process, &QProcess::errorOccurred, this,
      [this, id, current](QProcess::ProcessError failure) {
        Server* entry = current();
        if (failure != QProcess::FailedToStart || !entry || entry->running) return;
        const std::string why = entry->process->errorString().toStdString();
        if (entry->restarting) return Finish(id, "could not start again: " + why);
        entry->process->deleteLater();
        servers_.erase(id);
        if (onFailed) onFailed(id, why);
      },
      Qt::QueuedConnection);
  connect(
      process, &QProcess::finished, this,
      [this, id, current](int code, QProcess::ExitStatus status) {
        if (current()) Ended(id, code, status == QProcess::CrashExit);
      },
      Qt::QueuedConnection);
  process->start();
  server.pid = process->processId();
}

void GameServers::Ended(int id, int code, bool signalled) {
  Server& server = *servers_.at(id);
  const bool asked = server.stopAsked;
  if (!asked && server.restart.maxRestarts > 0 && IsCrash(signalled, code) &&
      ScheduleRestart(server, code, signalled))
    return;
  Finish(id, EndedHow(asked, signalled, code));
}

bool GameServers::ScheduleRestart(Server& server, int code, bool signalled) {
  const int id = server.id;
  ReadOutput(id);  // what it said last, before the notice
  if (!server.partialLine.empty()) {
    EmitLine(server, server.partialLine);
    server.partialLine.clear();
  }
  const auto now = std::chrono::steady_clock::now();
  while (!server.restarts.empty() &&
         now - server.restarts.front() >= std::chrono::seconds(server.restart.windowSeconds))
    server.restarts.pop_front();
  CrashReport report{(signalled ? "signal " : "exit code ") + std::to_string(code), 0, 0, server.restart};
  const bool again = int(server.restarts.size()) < server.restart.maxRestarts;
  if (again) {
    report.attempt = int(server.restarts.size()) + 1;
    report.delaySeconds = RestartDelaySeconds(report.attempt);
    server.restarts.push_back(now);
    // What it started and left behind would hold its ports against its successor.
    SignalGroup(server.pid, SIGKILL);
    server.process->disconnect(this);
    server.process->deleteLater();
    server.process = nullptr;
    server.running = false;
    server.restarting = true;
    server.pid = 0;
    QTimer::singleShot(report.delaySeconds * restartDelayScale_, this, [this, id] { Restart(id); });
  }
  EmitLine(server, CrashNotice(id, report));
  if (onCrashed) onCrashed(id, report);
  return again;
}

void GameServers::Restart(int id) {
  auto found = servers_.find(id);
  if (found == servers_.end() || !found->second->restarting || found->second->process) return;
  Spawn(*found->second);
}

void GameServers::ReadOutput(int id) {
  auto found = servers_.find(id);
  if (found == servers_.end() || !found->second->process) return;
  Server& server = *found->second;
  const QByteArray data = server.process->readAllStandardOutput();
  size_t start = 0;
  const std::string_view bytes(data.constData(), size_t(data.size()));
  while (start < bytes.size()) {
    const size_t newline = bytes.find('\n', start);
    if (newline == std::string_view::npos) {
      server.partialLine.append(bytes.substr(start));
      break;
    }
    server.partialLine.append(bytes.substr(start, newline - start));
    start = newline + 1;
    if (!server.partialLine.empty() && server.partialLine.back() == '\r') server.partialLine.pop_back();
    EmitLine(server, server.partialLine);
    server.partialLine.clear();
  }
  while (server.partialLine.size() >= kMaxLineLength) {
    std::string head = server.partialLine.substr(0, kMaxLineLength);
    server.partialLine.erase(0, kMaxLineLength);
    EmitLine(server, head);
  }
}

void GameServers::EmitLine(Server& server, std::string_view line) {
  size_t at = 0;
  do {  // an empty line is a line too
    std::string piece = ConsoleSafe(line.substr(at, kMaxLineLength));
    if (backlogLines_ > 0) {
      server.backlog.push_back(piece);
      if (server.backlog.size() > backlogLines_) server.backlog.pop_front();
    }
    if (onLine) onLine(server.id, piece);
    at += kMaxLineLength;
  } while (at < line.size());
}

void GameServers::Finish(int id, const std::string& how) {
  auto found = servers_.find(id);
  if (found == servers_.end()) return;
  ReadOutput(id);
  found = servers_.find(id);  // a callback may not remove it, but look again rather than trust it
  if (found == servers_.end()) return;
  Server& server = *found->second;
  if (!server.partialLine.empty()) {
    EmitLine(server, server.partialLine);
    server.partialLine.clear();
  }
  // What the server started and left behind would run on unseen, holding its ports.
  SignalGroup(server.pid, SIGKILL);
  if (server.process) server.process->deleteLater();
  servers_.erase(found);
  if (onExited) onExited(id, how);
}

bool GameServers::Input(int id, std::string_view line, std::string& error) {
  auto found = servers_.find(id);
  if (found == servers_.end() || !found->second->running) {
    error = "server " + std::to_string(id) + " is not running";
    return false;
  }
  QProcess* process = found->second->process;
  if (process->bytesToWrite() > kMaxPendingInput) {
    error = "server " + std::to_string(id) + " is not reading its input";
    return false;
  }
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  text += '\n';
  process->write(text.data(), qint64(text.size()));
  return true;
}

bool GameServers::Stop(int id) {
  auto found = servers_.find(id);
  if (found == servers_.end()) return false;
  if (!found->second->process) {  // crashed and waiting to start again: it stays down
    found->second->stopAsked = true;
    QTimer::singleShot(0, this, [this, id] {
      auto waiting = servers_.find(id);
      if (waiting != servers_.end() && !waiting->second->process) Finish(id, "stopped");
    });
    return true;
  }
  QProcess* process = found->second->process;
  const qint64 pid = found->second->pid;
  found->second->stopAsked = true;
  SignalGroup(pid, SIGTERM);
  QTimer::singleShot(kKillAfterMs, process, [process, pid] {
    if (process->state() != QProcess::NotRunning) SignalGroup(pid, SIGKILL);
  });
  return true;
}

void GameServers::StopAll() {
  // All are asked at once and share one grace time, so that stubborn servers do not add up.
  std::erase_if(servers_, [](const auto& entry) { return entry.second->process == nullptr; });
  for (auto& [id, server] : servers_) {
    server->process->disconnect();
    SignalGroup(server->pid, SIGTERM);
  }
  const QDeadlineTimer grace(kShutdownGraceMs);
  for (auto& [id, server] : servers_) {
    if (server->process->state() != QProcess::NotRunning)
      server->process->waitForFinished(int(grace.remainingTime()));
  }
  for (auto& [id, server] : servers_) {
    SignalGroup(server->pid, SIGKILL);
    if (server->process->state() != QProcess::NotRunning) server->process->waitForFinished(kShutdownGraceMs);
    delete server->process;
  }
  servers_.clear();
}

const GameServers::Server* GameServers::Find(int id) const {
  auto found = servers_.find(id);
  return found == servers_.end() ? nullptr : found->second.get();
}

std::vector<const GameServers::Server*> GameServers::List() const {
  std::vector<const Server*> list;
  for (const auto& [id, server] : servers_) list.push_back(server.get());
  return list;
}

}  // namespace ovs
