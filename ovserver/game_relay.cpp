#include "ovserver/game_relay.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "ovserver/log.h"
#include "ovserver/outgoing.h"
#include "ovserver/process_figures.h"
#include "wire/payload.h"

namespace ovs {
namespace {

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

std::string Uptime(std::chrono::steady_clock::time_point since) {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - since).count();
  if (seconds < 120) return std::to_string(seconds) + "s";
  if (seconds < 7200) return std::to_string(seconds / 60) + "m";
  return std::to_string(seconds / 3600) + "h";
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower;
}

bool Secret(std::string_view name) {
  const std::string lower = Lower(name);
  return lower.find("password") != std::string::npos || lower.find("passwd") != std::string::npos;
}

// One argument of a command line: where it stands, and its text with the quotes taken out.
struct Word {
  size_t begin = 0, end = 0;
  std::string text;
};

std::vector<Word> Words(std::string_view line) {
  std::vector<Word> words;
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (quote == 0 && blank) {
      if (!words.empty() && words.back().end == 0) words.back().end = i;
      continue;
    }
    if (words.empty() || words.back().end != 0) words.push_back({i, 0, ""});
    if (quote != 0 ? c == quote : (c == '\'' || c == '"'))
      quote = quote != 0 ? 0 : c;
    else
      words.back().text += c;
  }
  if (!words.empty() && words.back().end == 0) words.back().end = line.size();
  return words;
}

bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '.';
}

// A Quake-engine server splits a command into words at every byte up to the blank.
bool Separates(char c) { return static_cast<unsigned char>(c) <= ' '; }

// The end of the argument that holds the byte at, or at itself when none does.
size_t WordEnd(const std::vector<Word>& words, size_t at) {
  for (const Word& word : words)
    if (word.begin <= at && at < word.end) return word.end;
  return at;
}

// Where a Quake-engine server ends the command that holds the byte at: it joins its arguments into one
// line and cuts that into commands at "+", ";" and line breaks outside double quotes.
size_t CommandEnd(std::string_view line, size_t at) {
  bool quoted = std::count(line.begin(), line.begin() + ptrdiff_t(at), '"') % 2 != 0;
  for (size_t i = at; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"')
      quoted = !quoted;
    else if (c == '\n' || c == '\r' || (!quoted && (c == '+' || c == ';')))
      return i;
  }
  return line.size();
}

// The span of the value that a setting named at [name, nameEnd) is given. An option ("--NAME VALUE",
// "--NAME=VALUE") takes one argument. A Quake-engine server takes every word after the name up to the
// end of its command ("+set rconpassword two words", "+map x;set rconpassword y", "x+set rconpassword y"
// and a name cut off by a control byte all set one): that far, and at least to the end of the argument
// the value starts in, for the programs that read arguments.
std::pair<size_t, size_t> SecretValue(std::string_view line, const std::vector<Word>& words, size_t name,
                                      size_t nameEnd) {
  size_t start = nameEnd;
  if (line[name] == '-') {
    const size_t own = WordEnd(words, name);
    if (start < own && line[start] == '=') ++start;
    while (start < own && Separates(line[start])) ++start;
    if (start < own) return {start, own};
    const auto next =
        std::find_if(words.begin(), words.end(), [&](const Word& word) { return word.begin >= own; });
    return next == words.end() ? std::pair{own, own} : std::pair{next->begin, next->end};
  }
  while (start < line.size() && Separates(line[start])) ++start;
  if (start == line.size() || line[start] == '+' || line[start] == ';') return {start, start};
  size_t end = std::max(CommandEnd(line, start), WordEnd(words, start));
  while (end > start && Separates(line[end - 1])) --end;
  return {start, end};
}

}  // namespace

std::string MaskSecrets(std::string_view commandLine) {
  const std::vector<Word> words = Words(commandLine);
  std::vector<std::pair<size_t, size_t>> masked;  // spans of the line, in order
  for (size_t at = 0; at < commandLine.size();) {
    if (!IsNameByte(commandLine[at])) {
      ++at;
      continue;
    }
    size_t end = at;
    while (end < commandLine.size() && IsNameByte(commandLine[end])) ++end;
    if (Secret(commandLine.substr(at, end - at))) {
      const auto [begin, until] = SecretValue(commandLine, words, at, end);
      if (!masked.empty() && begin <= masked.back().second)
        masked.back().second = std::max(masked.back().second, until);
      else if (begin < until)
        masked.emplace_back(begin, until);
    }
    at = end;
  }
  std::string shown;
  size_t from = 0;
  for (const auto& [begin, end] : masked) {
    shown.append(commandLine.substr(from, begin - from));
    shown += kMasked;
    from = end;
  }
  shown.append(commandLine.substr(from));
  return shown;
}

int UsersServerShare(int maxServers) { return maxServers - maxServers / 4; }

GameRelay::GameRelay(const ServerConfig& config, const AccountStore& accounts, GameServers& games,
                     ConnectionManager& connections)
    : config_(config), accounts_(accounts), games_(games), connections_(connections) {
  games_.onStarted = [this](int id) { Started(id); };
  games_.onFailed = [this](int id, const std::string& error) { Failed(id, error); };
  games_.onLine = [this](int id, const std::string& line) { Line(id, line); };
  games_.onExited = [this](int id, const std::string& how) { Exited(id, how); };
  games_.onCrashed = [this](int id, const CrashReport& report) { Crashed(id, report); };
  games_.onRestarted = [this](int id) { Restarted(id); };
}

GameRelay::~GameRelay() { games_.ClearHandlers(); }

std::string GameRelay::ShownCommandLine(const Connection& viewer, const GameServers::Server& server) const {
  const auto owner = owners_.find(server.id);
  if (accounts_.IsAdmin(viewer.user) || (owner != owners_.end() && owner->second == viewer.user))
    return server.commandLine;
  return MaskSecrets(server.commandLine);
}

bool GameRelay::MayType(const Connection& connection, int id) const {
  if (accounts_.IsAdmin(connection.user)) return true;
  const auto owner = owners_.find(id);
  return owner != owners_.end() && owner->second == connection.user;
}

void GameRelay::AnnounceAll(Connection& connection) {
  for (const GameServers::Server* server : games_.List())
    if (server->running) Announce(connection, server->id);
}

void GameRelay::Announce(Connection& connection, int id) {
  connection.known.insert(id);
  connection.awaiting.insert(id);
  connection.Send(ov::msg::NewServer{std::to_string(id)});
}

void GameRelay::HandleAccepted(Connection& connection, const ov::msg::NewServerAccepted& accepted) {
  const int id = ov::ParseInt(accepted.idText, -1);
  if (connection.awaiting.erase(id) == 0) {
    connection.Malformed("unexpected " + std::to_string(ov::Number(accepted.kId)) + " for \"" +
                         Printable(accepted.idText) + "\" ignored");
    return;
  }
  const GameServers::Server* server = games_.Find(id);
  if (!server) return;
  // Info 5 and the console mode are always 1: the client's console takes the server's lines as they are.
  connection.Send(ov::msg::ServerInfo{id, FieldSafe(server->type), FieldSafe(server->title),
                                      FieldSafe(ShownCommandLine(connection, *server)), 1, 1,
                                      server->gamePort});
}

void GameRelay::RefuseStart(Connection& connection, const std::string& why) {
  // The status line shows it for a few seconds only: the OV server's console keeps it.
  connection.Log(connection.Who() + ": " + Printable(why, 200));
  connection.SendNote(Blanked(why));
  connection.Say(Blanked(why));
}

std::string GameRelay::StartLimit(const std::string& user) const {
  if (accounts_.IsAdmin(user)) return "";
  const auto mine =
      std::count_if(owners_.begin(), owners_.end(), [&](const auto& owner) { return owner.second == user; });
  if (mine >= config_.maxServersPerUser)
    return "Start refused: you run " + std::to_string(mine) +
           " game servers already, as many as one user may here; stop one first";
  const auto users = std::count_if(owners_.begin(), owners_.end(),
                                   [&](const auto& owner) { return !accounts_.IsAdmin(owner.second); });
  if (users >= UsersServerShare(config_.maxServers))
    return "Start refused: users run " + std::to_string(users) +
           " game servers already, as many as users may here (the rest are kept for administrators)";
  return "";
}

void GameRelay::HandleStart(Connection& connection, const std::optional<ov::msg::StartServer>& request) {
  if (!request) return RefuseStart(connection, "Start refused: malformed request (more than three fields)");
  const std::string& typeName = request->type;
  const std::string title = Blanked(request->title);
  const std::string& commandLine = request->commandLine;
  const ServerType* type = config_.FindType(typeName);
  if (!type) return RefuseStart(connection, "Unknown server type \"" + Blanked(typeName) + "\"");
  if (const std::string limit = StartLimit(connection.user); !limit.empty())
    return RefuseStart(connection, limit);
  std::vector<std::string> args;
  std::string error;
  if (!SplitCommandLine(commandLine, args, error))
    return RefuseStart(connection, "Start refused: " + error + " in the command line");
  const int id = games_.Start(*type, title, commandLine, args, error);
  if (id < 0) return RefuseStart(connection, "Start refused: " + error);
  const GameServers::Server* server = games_.Find(id);
  startedBy_[id] = connection.Handle();
  owners_[id] = connection.user;
  connection.Log(connection.Who() + " starts server " + std::to_string(id) + " (" + type->name +
                 "): " + server->program + " " + Printable(Join(server->arguments), 200));
  connection.Say("Starting server " + std::to_string(id) + " (" + type->name + ")");
}

void GameRelay::HandleWatch(Connection& connection, ov::ControlMessage message, int id) {
  if (!connection.known.count(id)) {
    connection.Malformed(std::to_string(ov::Number(message)) + " for unknown server " + std::to_string(id) +
                         " ignored");
    return;
  }
  if (message == ov::ControlMessage::ConsoleClosed) {
    connection.watching.erase(id);
    return;
  }
  if (!connection.watching.insert(id).second) return;
  // The window is new: show it what the server said before it opened.
  if (const GameServers::Server* server = games_.Find(id))
    for (const std::string& line : server->backlog) connection.SendConsoleLine(id, line);
}

void GameRelay::HandleInput(Connection& connection, int id, const std::string& text) {
  if (!connection.known.count(id)) {
    connection.SendNote("No server with id " + std::to_string(id) + " here");
    return;
  }
  // A game server's console is full control of it: only who started it, and administrators, type there.
  if (!MayType(connection, id)) {
    const auto owner = owners_.find(id);
    connection.Log(connection.Who() + ": input for server " + std::to_string(id) + " refused: started by " +
                   (owner == owners_.end() ? "nobody here" : owner->second));
    connection.SendNote("Only the user who started server " + std::to_string(id) +
                        " or an administrator can type into its console");
    return;
  }
  std::string line = text;
  while (!line.empty() &&
         (line.back() == ' ' || line.back() == '\r' || line.back() == '\n' || line.back() == '\t'))
    line.pop_back();
  connection.Log(connection.Who() + " to server " + std::to_string(id) + ": " + Printable(line, 200));
  std::string error;
  if (!games_.Input(id, text, error)) {
    connection.Log(connection.Who() + ": input for server " + std::to_string(id) + " dropped: " + error);
    connection.SendNote("Input dropped: " + error);
  }
}

void GameRelay::List(Connection& connection) {
  const auto servers = games_.List();
  if (servers.empty()) connection.Say("No game servers are running.");
  const auto now = std::chrono::steady_clock::now();
  const auto& figures = Figures(now);
  for (const GameServers::Server* server : servers) {
    std::string state = server->restarting ? "restarting after a crash" : "starting";
    if (server->running) {
      state = "pid " + std::to_string(server->pid) + ", up " + Uptime(server->startedAt);
      const auto found = figures.find(server->pid);
      if (found != figures.end())
        state += ", " + DescribeFigures(found->second,
                                        std::chrono::duration<double>(now - server->startedAt).count());
    }
    connection.Say("  " + std::to_string(server->id) + "  " + server->type + "  \"" + server->title + "\"  " +
                   state + "  " + Blanked(ShownCommandLine(connection, *server)));
  }
}

const std::map<long long, ProcessFigures>& GameRelay::Figures(std::chrono::steady_clock::time_point now) {
  // One read for every server that runs: it serves every connection's request and list alike.
  std::vector<long long> leaders;
  for (const GameServers::Server* server : games_.List())
    if (server->running) leaders.push_back(server->pid);
  return figures_.Of(std::move(leaders), now);
}

void GameRelay::SendFigures(Connection& connection) {
  std::vector<const GameServers::Server*> shown;
  for (const GameServers::Server* server : games_.List())
    if (server->running && connection.known.count(server->id) && shown.size() < ov::msg::kMaxFiguresServers)
      shown.push_back(server);
  const auto now = std::chrono::steady_clock::now();
  const auto& figures = Figures(now);
  ov::msg::Figures answer;
  for (const GameServers::Server* server : shown) {
    const auto found = figures.find(server->pid);
    if (found == figures.end()) continue;  // ended meanwhile
    answer.servers.push_back(FiguresMessage(server->id, server->pid, found->second,
                                            std::chrono::duration<double>(now - server->startedAt).count()));
  }
  connection.Send(answer);
}

void GameRelay::Kill(Connection& connection, const std::string& which) {
  const int id = ov::ParseInt(which, -1);
  const auto owner = owners_.find(id);
  if (games_.Find(id) && owner != owners_.end() && owner->second != connection.user &&
      !accounts_.IsAdmin(connection.user)) {
    connection.Log(connection.Who() + ": kill " + std::to_string(id) + " refused: started by " +
                   owner->second);
    connection.Say("Server " + std::to_string(id) + " was started by " + owner->second +
                   ": only an administrator can stop another user's game server.");
  } else if (games_.Stop(id)) {
    connection.Log(connection.Who() + " stops server " + std::to_string(id));
    connection.Say("Stopping server " + std::to_string(id) + ".");
  } else {
    connection.Say("No server with id " + which + ".");
  }
}

void GameRelay::SayToAll(const std::string& line) {
  connections_.ForEach([&](Connection& connection) {
    if (connection.state == Connection::State::LoggedIn) connection.Say(line);
  });
}

void GameRelay::Started(int id) {
  const GameServers::Server* server = games_.Find(id);
  if (!server) return;
  connections_.Log("server " + std::to_string(id) + " (" + server->type + ") started, pid " +
                   std::to_string(server->pid));
  startedBy_.erase(id);
  connections_.ForEach([&](Connection& connection) {
    if (connection.state == Connection::State::LoggedIn) Announce(connection, id);
  });
  SayToAll("Server " + std::to_string(id) + " (" + server->type + ") started: " + server->title);
}

void GameRelay::Failed(int id, const std::string& error) {
  connections_.Log("server " + std::to_string(id) + " could not start: " + error);
  const auto asker = startedBy_.find(id);
  if (asker == startedBy_.end()) return;
  if (const auto connection = Open(asker->second)) {
    connection->SendNote("Could not start the server: " + error);
    connection->Say(Blanked("Could not start server " + std::to_string(id) + ": " + error));
  }
  startedBy_.erase(asker);
  owners_.erase(id);
}

void GameRelay::Line(int id, const std::string& line) {
  connections_.ForEach([&](Connection& connection) {
    if (connection.watching.count(id)) connection.SendConsoleLine(id, line);
  });
}

// A restart keeps the id: the clients keep their windows, so only the consoles hear of it.
void GameRelay::Crashed(int id, const CrashReport& report) {
  const std::string notice = CrashNotice(id, report);
  connections_.Log(notice);
  SayToAll(notice);
}

void GameRelay::Restarted(int id) {
  const GameServers::Server* server = games_.Find(id);
  if (!server) return;
  connections_.Log("server " + std::to_string(id) + " (" + server->type + ") started again, pid " +
                   std::to_string(server->pid));
  SayToAll("Server " + std::to_string(id) + " (" + server->type + ") started again: " + server->title);
}

void GameRelay::Exited(int id, const std::string& how) {
  connections_.Log("server " + std::to_string(id) + " ended: " + how);
  startedBy_.erase(id);
  owners_.erase(id);
  connections_.ForEach([&](Connection& connection) {
    if (!connection.known.erase(id)) return;
    connection.awaiting.erase(id);
    connection.watching.erase(id);
    connection.Send(ov::msg::ServerRemoved{id});
  });
  SayToAll("Server " + std::to_string(id) + " ended: " + how);
  if (auto again = restarts_.extract(id)) StartAgain(id, again.mapped());
}

bool GameRelay::Restart(int id, std::string& error) {
  const GameServers::Server* server = games_.Find(id);
  if (!server || !server->running || restarts_.count(id)) {
    error = "server " + std::to_string(id) + (server ? " is stopping" : " is not running");
    return false;
  }
  const auto owner = owners_.find(id);
  restarts_[id] = {server->type, server->title, server->commandLine,
                   owner == owners_.end() ? std::string() : owner->second};
  games_.Stop(id);
  return true;
}

void GameRelay::StartAgain(int id, const Again& again) {
  const ServerType* type = config_.FindType(again.type);
  std::vector<std::string> args;
  std::string error = "its type is gone";
  const int newId = type && SplitCommandLine(again.commandLine, args, error)
                        ? games_.Start(*type, again.title, again.commandLine, args, error)
                        : -1;
  if (newId < 0) {
    connections_.Log("server " + std::to_string(id) + " could not start again: " + error);
    SayToAll(Blanked("Server " + std::to_string(id) + " could not start again: " + error));
    return;
  }
  if (!again.owner.empty()) owners_[newId] = again.owner;
  connections_.Log("server " + std::to_string(id) + " starts again as server " + std::to_string(newId));
}

}  // namespace ovs
