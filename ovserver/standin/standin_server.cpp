// standin-server: a stand-in dedicated game server for the demo and the tests. It prints a start-up
// banner that lists its arguments one by one, a log line now and then, and answers a few console
// commands on its standard input: status, map NAME, say TEXT, lines N, kick NAME and quit. Like the
// game servers it stands in for, it answers the status query "getstatus [CHALLENGE]" on its game port,
// echoing the challenge in its info string, with its map and two players: --port N (or --status-port N;
// the last given counts), else the first free of 27960 to 27969 (0: one the system picks; off: none).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kNoStatus = -2;  // --status-port off

struct Player {
  std::string name;
  int score, ping;
};

struct State {
  std::string map = "dm1";
  int maxPlayers = 8;
  Clock::time_point started = Clock::now();
  std::vector<Player> players{{"^1Red^7Baron", 12, 48}, {"^4Blue ^3Wolf", 7, 95}};
};

void Say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

bool Secret(std::string name) {
  for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
  return name.find("password") != std::string::npos || name.find("passwd") != std::string::npos;
}

// The arguments as the banner shows them. Every user of the OV server may read this console: the values
// of password-like settings are masked, up to the next "+" or "-" argument ("--rconpassword=x", "+set
// rconpassword two words", "--rcon-password x").
std::vector<std::string> Shown(std::vector<std::string> args) {
  bool masking = false;
  for (std::string& arg : args) {
    const size_t equals = arg.find('=');
    if (masking && !arg.empty() && arg[0] != '+' && arg[0] != '-') {
      arg = "********";
      continue;
    }
    masking = Secret(arg.substr(0, equals));
    if (masking && equals != std::string::npos) arg = arg.substr(0, equals + 1) + "********";
  }
  return args;
}

long Uptime(const State& state) {
  return long(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - state.started).count());
}

void Spawn(const std::string& map) {
  Say("Spawning server " + map);
  Say("Server spawned.");
}

// Handles one console line; false when the server is to end.
bool Command(State& state, std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  const size_t cut = line.find(' ');
  const std::string command = line.substr(0, cut);
  const std::string rest = cut == std::string::npos ? "" : line.substr(cut + 1);
  if (command.empty()) return true;
  if (command == "status") {
    Say("map:     " + state.map);
    Say("players: " + std::to_string(state.players.size()) + " active (" + std::to_string(state.maxPlayers) +
        " max)");
    Say("uptime:  " + std::to_string(Uptime(state)) + " s");
  } else if (command == "map") {
    if (rest.empty()) {
      Say("usage: map NAME");
    } else {
      state.map = rest;
      Say("Changing map to " + rest);
      Spawn(rest);
    }
  } else if (command == "say") {
    Say("Server: " + rest);
  } else if (command == "lines") {
    const int count = std::atoi(rest.c_str());
    for (int i = 1; i <= count && i <= 1000000; ++i) Say("line " + std::to_string(i) + " of " + rest);
  } else if (command == "kick") {
    std::string name = rest;
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    const auto found = std::find_if(state.players.begin(), state.players.end(),
                                    [&](const Player& p) { return p.name == name; });
    if (found == state.players.end()) {
      Say("Player " + name + " is not on the server");
    } else {
      state.players.erase(found);
      Say(name + "^7 was kicked.");
    }
  } else if (command == "quit") {
    Say("Server shutting down.");
    return false;
  } else {
    Say("Unknown command \"" + command + "\"");
  }
  return true;
}

// A UDP socket on the port asked for, or on the first free of 27960 to 27969; -1 when none is free.
int OpenStatusSocket(int asked, int& port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int first = asked >= 0 ? asked : 27960;
  const int last = asked >= 0 ? asked : 27969;
  for (int p = first; p <= last; ++p) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    at.sin_port = htons(uint16_t(p));
    if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) continue;
    socklen_t size = sizeof at;
    getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size);
    port = ntohs(at.sin_port);
    return fd;
  }
  close(fd);
  return -1;
}

// Answers one datagram if it is the status query; a challenge after it is echoed, as the engines do.
void AnswerStatus(const State& state, int fd) {
  char query[200];
  sockaddr_in from{};
  socklen_t size = sizeof from;
  const ssize_t got = recvfrom(fd, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &size);
  const std::string asked = "\xFF\xFF\xFF\xFFgetstatus";
  if (got < ssize_t(asked.size()) || std::string(query, asked.size()) != asked) return;
  std::string challenge(query + asked.size(), size_t(got) - asked.size());
  challenge.erase(0, challenge.find_first_not_of(' '));
  challenge.erase(std::min(challenge.find_first_of(" \n\\\";"), challenge.size()));
  std::string answer = "\xFF\xFF\xFF\xFFstatusResponse\n\\sv_hostname\\Orvane stand-in\\mapname\\" +
                       state.map + "\\sv_maxclients\\" + std::to_string(state.maxPlayers) + "\\g_gametype\\0";
  if (!challenge.empty()) answer += "\\challenge\\" + challenge.substr(0, 128);
  answer += "\n";
  for (const Player& p : state.players)
    answer += std::to_string(p.score) + " " + std::to_string(p.ping) + " \"" + p.name + "\"\n";
  sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), size);
}

}  // namespace

int main(int argc, char** argv) {
  State state;
  int interval = 10;
  int statusPort = -1;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (std::find(args.begin(), args.end(), "--help") != args.end()) {
    Say("usage: standin-server [--interval SECONDS] [--port PORT] [+map NAME] [+maxplayers N] "
        "[ARGUMENT...]");
    Say("A stand-in game server: it lists its arguments, logs a line every SECONDS (10; 0 for never),");
    Say("answers status, map NAME, say TEXT, lines N, kick NAME and quit on its standard input, and the");
    Say("status query on UDP port PORT (--status-port PORT too; else the first free of 27960 to 27969;");
    Say("0: any free port; off: none).");
    return 0;
  }
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--interval") interval = std::atoi(args[i + 1].c_str());
    if (args[i] == "+map") state.map = args[i + 1];
    if (args[i] == "+maxplayers") state.maxPlayers = std::atoi(args[i + 1].c_str());
    if (args[i] == "--port" || args[i] == "--status-port")
      statusPort = args[i + 1] == "off" ? kNoStatus : std::atoi(args[i + 1].c_str());
  }
  Say("Console initialized.");
  Say("Orvane stand-in dedicated server 1.0 (no game data needed)");
  Say("------- Server Initialization -------");
  Say("Arguments: " + std::to_string(args.size()));
  const std::vector<std::string> shown = Shown(args);
  for (size_t i = 0; i < shown.size(); ++i) Say("  [" + std::to_string(i + 1) + "] " + shown[i]);
  Spawn(state.map);
  int port = 0;
  const int status = statusPort == kNoStatus ? -1 : OpenStatusSocket(statusPort, port);
  if (status >= 0) {
    Say("Status query on UDP port " + std::to_string(port));
  } else {
    Say(statusPort == kNoStatus ? "No status query" : "No status query: no free UDP port");
  }
  Say("-------------------------------------");
  Say("Type status, map NAME, say TEXT or quit.");
  Say("^3Orvane ^1stand-in^7 ready on ^2" + state.map);  // in colour codes, as game servers greet

  std::string pending;
  auto nextLog = Clock::now() + std::chrono::seconds(interval);
  for (;;) {
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextLog - Clock::now()).count();
    pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {status, POLLIN, 0}};
    const int ready =
        poll(watched, status >= 0 ? 2 : 1, interval > 0 ? int(std::max<long long>(wait, 0)) : -1);
    if (ready < 0) continue;
    if (status >= 0 && (watched[1].revents & POLLIN)) {
      AnswerStatus(state, status);
      if (!(watched[0].revents & POLLIN)) continue;
    }
    if (ready == 0) {
      std::time_t now = std::time(nullptr);
      char stamp[16];
      std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&now));
      Say(std::string("[") + stamp + "] " + state.map + ": " + std::to_string(state.players.size()) +
          " players, up " + std::to_string(Uptime(state)) + " s");
      nextLog = Clock::now() + std::chrono::seconds(interval);
      continue;
    }
    char buffer[4096];
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
      Say("Console input closed: shutting down.");
      return 0;
    }
    pending.append(buffer, size_t(got));
    for (size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      if (!Command(state, line)) return 0;
    }
  }
}
