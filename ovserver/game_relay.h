#pragma once
// Between the game servers and the connections: who started which, who is told of which (27, 25) and
// who watches which console (42 until 41), what the starter may type into it, and what each user sees of
// a command line.
#include <map>
#include <string>
#include <string_view>

#include "ovserver/accounts.h"
#include "ovserver/connection.h"
#include "ovserver/connection_manager.h"
#include "ovserver/game_servers.h"
#include "ovserver/process_figures.h"
#include "ovserver/server_config.h"
#include "wire/messages.h"

namespace ovs {

// A command line with the values of password-like settings masked: whatever follows a name that holds
// "password" or "passwd" in any letter case, as far as a Quake-engine server or an option parser would
// take it as the value ("+set NAME VALUE WORDS", "+NAME VALUE", "x;set NAME VALUE", "--NAME VALUE",
// "--NAME=VALUE").
std::string MaskSecrets(std::string_view commandLine);
constexpr char kMasked[] = "********";

// Game servers users may run together: the rest of max-servers is kept for administrators.
int UsersServerShare(int maxServers);

class GameRelay {
 public:
  GameRelay(const ServerConfig& config, const AccountStore& accounts, GameServers& games,
            ConnectionManager& connections);
  ~GameRelay();
  GameRelay(const GameRelay&) = delete;
  GameRelay& operator=(const GameRelay&) = delete;

  // Tells a connection just logged in of every game server that runs.
  void AnnounceAll(Connection& connection);
  // The command line of a game server as viewer may see it: whole for the user who started it and for
  // administrators, with the secrets masked for everyone else. Every message that shows one goes
  // through here.
  std::string ShownCommandLine(const Connection& viewer, const GameServers::Server& server) const;

  // A start request; nothing for one of more fields than it has.
  void HandleStart(Connection& connection, const std::optional<ov::msg::StartServer>& request);
  void HandleAccepted(Connection& connection,
                      const ov::msg::NewServerAccepted& accepted);  // the client took a 27
  // ConsoleOpened or ConsoleClosed for game server id.
  void HandleWatch(Connection& connection, ov::ControlMessage message, int id);
  void HandleInput(Connection& connection, int id, const std::string& text);
  // The commands of the OV server's console that concern game servers.
  void List(Connection& connection);
  // Message 33: what each running game server the connection was told of costs, read within a second.
  void SendFigures(Connection& connection);
  void Kill(Connection& connection, const std::string& which);
  // Stops a game server and, once it has ended, starts it again as it was: type, title, command line and
  // the user who started it (under a new id). False with error when it does not run.
  bool Restart(int id, std::string& error);

 private:
  bool MayType(const Connection& connection, int id) const;
  void Announce(Connection& connection, int id);
  void RefuseStart(Connection& connection, const std::string& why);
  // Why user may not start another game server now, or empty.
  std::string StartLimit(const std::string& user) const;
  void SayToAll(const std::string& line);
  void Started(int id);
  void Failed(int id, const std::string& error);
  void Line(int id, const std::string& line);
  void Exited(int id, const std::string& how);
  void Crashed(int id, const CrashReport& report);
  void Restarted(int id);
  struct Again {
    std::string type, title, commandLine, owner;
  };
  void StartAgain(int id, const Again& again);
  // What every running game server costs, for whoever asks now (at most one read of /proc a second).
  const std::map<long long, ProcessFigures>& Figures(std::chrono::steady_clock::time_point now);

  const ServerConfig& config_;
  const AccountStore& accounts_;
  GameServers& games_;
  ConnectionManager& connections_;
  std::map<int, ConnectionHandle> startedBy_;  // game server id -> the connection that asked, until it runs
  std::map<int, std::string> owners_;          // game server id -> the user who started it
  std::map<int, Again> restarts_;              // game server id -> how to start it again once it ends
  FiguresCache figures_;
};

}  // namespace ovs
