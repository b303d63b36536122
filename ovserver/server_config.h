#pragma once
// The server's configuration file and the splitting of command lines into arguments.
//
// One setting per line, "#" starts a comment:
//   name TEXT                     the name the clients show for this OV server
//   caption TEXT                  the caption of the login dialog
//   type NAME EXECUTABLE ARGS...  a server type: only this executable runs, these arguments first
//   optional-type NAME EXECUTABLE ARGS...  the same, skipped when the executable is not installed
//   backlog N, max-servers N, max-servers-per-user N, max-connections N, login-delay-ms N,
//   guess-delay-ms N, guess-delay-max-seconds N, login-timeout-seconds N, hash-iterations N,
//   silent-timeout-seconds N, max-logins-per-address N, max-waiting-checks N,
//   max-waiting-checks-per-address N, log-lines-per-second N, log-lines-per-connection N,
//   accounts-lock-wait-ms N
//   game-ports FIRST-LAST         the game ports handed out where a type's arguments say %PORT%
//   restart TYPE on-crash N/SECONDS  a crashed game server of TYPE starts again, N times in SECONDS at most
#include <string>
#include <string_view>
#include <vector>

namespace ovs {

constexpr size_t kMaxServerTypes = 6;  // the clients list six types at most

// How often a crashed game server of a type starts again: at most maxRestarts times within
// windowSeconds; none when maxRestarts is 0.
struct RestartPolicy {
  int maxRestarts = 0;
  int windowSeconds = 0;
};

struct ServerType {
  std::string name;
  std::string executable;  // absolute path
  std::vector<std::string> arguments;
  RestartPolicy restart{};
};

// The game ports handed out, one per game server whose type's arguments hold kPortMark.
struct PortRange {
  int first = 27960;
  int last = 27999;
};
constexpr char kPortMark[] = "%PORT%";

struct ServerConfig {
  std::string name = "Orvane OV server";
  std::string info = "Orvane OV server 1.0";
  std::string caption = "Orvane OV server";
  std::vector<ServerType> types;
  int backlogLines = 150;
  int maxServers = 20;        // the clients keep twenty game servers at most
  int maxServersPerUser = 5;  // administrators are exempt
  int maxConnections = 256;
  int maxConnectionsPerUser = 8;  // logged in at once as one user; administrators are exempt
  int loginDelayMs = 1000;
  int guessDelayMs = 500;         // the wait after a name's first failed check, doubling with each further
  int guessDelayMaxSeconds = 30;  // the longest
  int loginTimeoutSeconds = 60;
  int silentTimeoutSeconds = 20;  // a connection that has sent nothing at all (the client waits for its user)
  int maxLoginsPerAddress = 8;    // connections not logged in from one address
  int maxWaitingChecks = 32;      // password checks and hashes on the workers, in all
  int maxWaitingChecksPerAddress = 4;
  int logLinesPerSecond = 20;      // lines peers can cause, all together (five seconds' worth at once)
  int logLinesPerConnection = 30;  // lines one connection can cause per minute (all of them at once)
  int accountsLockWaitMs = 2000;   // how long a change waits for another process's lock on the file
  int hashIterations = 20000;
  PortRange gamePorts;
  std::string schedulesPath;  // not a setting: from --schedules; empty for no schedules

  const ServerType* FindType(std::string_view typeName) const;
};

// Reads the settings in text over config; relative executables are taken from baseDir. Notes collects
// what was skipped (optional types that are not installed). False with error naming the line on failure.
// LoadConfig refuses a file it cannot read (a directory among them) with the file's name and the reason,
// and notes a file that holds no settings.
bool ParseConfig(std::string_view text, const std::string& baseDir, ServerConfig& config, std::string& error,
                 std::vector<std::string>& notes);
bool LoadConfig(const std::string& path, ServerConfig& config, std::string& error,
                std::vector<std::string>& notes);

// Text with every control character (below 0x20, and 0x7F) made a blank: a CR LF in a title or name
// would otherwise print a line of its own choosing on the consoles that show it.
std::string Blanked(std::string_view text);

// Whether the type's arguments ask for a game port of its own.
bool UsesGamePort(const ServerType& type);

// The arguments a game server runs with: the user's, then the type's, kPortMark in them made port. What
// the type sets, the user cannot set again: an argument of the user's that names a setting the type's
// arguments set ("+set NAME", "+seta NAME", "--NAME", "-NAME", in any letter case) is refused, and the
// type's come last, where programs that take the last of a setting take the type's. An unpaired double
// quote is refused too: a program that reads its arguments as one line, as Quake-engine servers do,
// would read the type's arguments after it as part of the user's. So are user's arguments longer than
// kMaxUserCommandLine bytes together or holding more than kMaxUserCommands commands ("+", line breaks),
// beyond which such a program cuts off what follows.
constexpr size_t kMaxUserCommandLine = 512;
constexpr size_t kMaxUserCommands = 16;
bool ComposeArguments(const ServerType& type, const std::vector<std::string>& userArgs, int port,
                      std::vector<std::string>& arguments, std::string& error);

// Splits a command line into arguments: blanks, tabs and line breaks separate them; '...' and "..." keep
// what they enclose together, quotes removed. Nothing else is special: no shell ever sees the result.
bool SplitCommandLine(std::string_view line, std::vector<std::string>& args, std::string& error);

}  // namespace ovs
